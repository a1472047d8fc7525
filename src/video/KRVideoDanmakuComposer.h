#pragma once

#include "platform/uikit/TextField.h"

#include <QObject>
#include <QPointer>
#include <QRectF>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class KRDanmaku;

namespace platform::uikit {
class AlertView;
class Toolbar;
class View;
}

// Writing a danmaku on the video page: the embedded composer bar under the tab row (its field
// and the keyboard's toolbar with "取消" and "发送"), the draft shared by every danmaku field,
// and sending. While a field edits, a playing video pauses until the composer closes. Signed
// out, sending keeps the draft and asks for a login (alert 7101); signed in, the danmaku is
// posted at the playback time and shown at once. The pause is the user's to see: the controls
// show it, and a play tapped meanwhile ends it.
class KRVideoDanmakuComposer : public QObject {
    Q_OBJECT
public:
    static constexpr int kLoginAlertTag = 7101;

    struct Actions {
        // Playback as the composer needs it.
        std::function<bool()> isPlaying;
        std::function<void()> pause;
        std::function<void()> resume;
        std::function<double()> playbackTime;
        // The part's cid and the video's aid.
        std::function<qint64()> cid;
        std::function<qint64()> aid;
        // The user's own danmaku, shown at once at that playback time.
        std::function<void(const std::shared_ptr<KRDanmaku>&, double time)> display;
        std::function<void(const QString&)> showStatus;
        // The answer to alert 7101.
        std::function<void(platform::uikit::AlertView* alert, int buttonIndex)> loginAlertAnswered;
        // Editing began or ended: the page lays out and refreshes its danmaku controls.
        std::function<void()> controlsChanged;
    };
    explicit KRVideoDanmakuComposer(Actions actions, QObject* parent = nullptr);
    ~KRVideoDanmakuComposer() override;

    // The embedded bar, hidden, on the root view. Its field and the keyboard's toolbar are made
    // when the bar first opens: most pages are never written on.
    void build(platform::uikit::View* root, qreal width);
    // At rest at `restingY`; above the keyboard while it shows for the embedded field.
    void layout(qreal width, qreal restingY);
    void applyTheme();
    // Danmaku display on or off: the embedded field with it.
    void setDanmakuEnabled(bool enabled);

    // ---- the page's actions ----
    void embeddedAddDanmakuTapped(bool danmakuEnabled);
    // Any danmaku field (the embedded one, a full-screen one) beginning to edit.
    void textFieldDidBeginEditing(platform::uikit::TextField* field);
    void danmakuInputChanged(platform::uikit::TextField* field);
    void cancelDanmakuComposer();
    void sendDanmakuTapped();
    void resumeAfterDanmakuComposerIfNeeded();
    // Play tapped while the composer keeps playback paused: its pause ends (true), and the
    // composer stays open. False when the composer paused nothing.
    bool playTappedWhilePaused();

    // ---- what the keyboard handling reads and sets ----
    // Null until the bar first opens.
    platform::uikit::TextField* inputField() const { return m_inputField; }
    platform::uikit::TextField* activeField() const { return m_activeField; }
    void setKeyboardY(std::optional<qreal> y) { m_keyboardY = y; }
    bool isKeyboardVisible() const { return m_keyboardY.has_value(); }
    // Null until the bar first opens.
    platform::uikit::View* composerBar() const { return m_barAlive; }

    // ---- state a user sees ----
    QString draft() const { return m_draft; }
    bool isPausedForComposer() const { return m_pausedForComposer; }
    bool isSending() const { return m_sending; }

private:
    // The bar, made at its first opening where the last layout put it; false once its root
    // (or the bar) is gone.
    bool buildBar();
    void applyBarTheme();
    // The field and its toolbar, made once, themed and in place before the field can edit.
    void buildField();
    void applyFieldTheme();
    void applyFieldState();
    void closeComposer();
    void showLoginAlert();

    Actions m_actions;
    QPointer<platform::uikit::View> m_root;
    platform::uikit::View* m_bar = nullptr;
    // Whether the views are still there: a window torn down takes them before their owner.
    QPointer<platform::uikit::View> m_barAlive;
    platform::uikit::View* m_separator = nullptr;
    // Where the bar is (or goes when made).
    QRectF m_barFrame;
    platform::uikit::TextField* m_inputField = nullptr;
    platform::uikit::Toolbar* m_accessory = nullptr;
    // The field being edited; not owned.
    QPointer<platform::uikit::TextField> m_activeField;
    QString m_draft;
    bool m_pausedForComposer = false;
    bool m_sending = false;
    std::optional<qreal> m_keyboardY;
    bool m_danmakuEnabled = true;
};

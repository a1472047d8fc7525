#pragma once

#include "platform/uikit/Geometry.h"

#include <QPointer>
#include <QString>

#include <functional>

namespace platform::uikit {
class TextField;
class Toolbar;
class View;
}

// The one-line danmaku composer of the full screen: a bar across the top of the picture with
// its input field, hidden until "发弹幕" on the rail, lifted above the keyboard while it shows.
class KRVideoFullscreenComposer {
public:
    struct Actions {
        // Every edit, with the field's text.
        std::function<void(const QString&)> draftChanged;
        // "发送" on the keyboard or its bar.
        std::function<void()> send;
        // The field began or ended editing.
        std::function<void(bool editing)> editingChanged;
    };
    explicit KRVideoFullscreenComposer(Actions actions);
    ~KRVideoFullscreenComposer();
    KRVideoFullscreenComposer(const KRVideoFullscreenComposer&) = delete;
    KRVideoFullscreenComposer& operator=(const KRVideoFullscreenComposer&) = delete;

    void build(platform::uikit::View* host, bool faded, const QString& draft);
    void remove();
    bool isBuilt() const;
    platform::uikit::View* view() const;
    platform::uikit::TextField* field() const;
    bool isShown() const;

    // Shown over the picture with the draft, the field editing.
    void open(const QString& draft);
    void close();
    void setDanmakuEnabled(bool enabled);
    void applyTheme();
    // Across the host at its top inset, or at the keyboard's `y` (in the host) while it shows.
    void layout(const QSizeF& host, const platform::uikit::EdgeInsets& insets);
    void setKeyboard(bool visible, qreal y);
    bool isKeyboardVisible() const { return m_keyboardVisible; }
    qreal keyboardY() const { return m_keyboardY; }
    bool contains(const platform::uikit::View* view) const;

private:
    Actions m_actions;
    QPointer<platform::uikit::View> m_bar;
    QPointer<platform::uikit::TextField> m_field;
    QPointer<platform::uikit::Toolbar> m_accessory;
    bool m_keyboardVisible = false;
    qreal m_keyboardY = 0;
};

#pragma once

#include "shared/KRDynamicComposerView.h"
#include "shared/KRPhotoPickerViewController.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class KRComment;

namespace platform::uikit {
class Button;
class ImageView;
class ScrollView;
class TextField;
class View;
class ViewController;
}

// The composer bar along the bottom of the video page's comments: at rest one button
// ("发表评论"); editing, it moves onto the page's root view above the keyboard with a field,
// cancel, the emote button opening a panel of the service's emotes, and a trailing button that
// sends the text or, with no text, picks up to nine photos for a top-level comment (its badge
// counts them). Posting uploads the photos first; a failure is told in an alert and the text
// stays. The posted comment is handed to the owner to show at once.
class KRVideoCommentComposer : public QObject, public KRPhotoPickerViewControllerDelegate {
    Q_OBJECT
public:
    struct Actions {
        // Signed out: the page's login gate with this message.
        std::function<void(const QString& message)> showLoginGate;
        // The photo picker, presented and dismissed by the page.
        std::function<void(platform::uikit::ViewController*)> present;
        std::function<void()> dismissPresented;
        // An accepted post: its comment, and the thread root it replies in (0 for top-level).
        std::function<void(const std::shared_ptr<KRComment>&, qint64 root)> posted;
        // The page lays its views out again (the bar changes its superview).
        std::function<void()> layoutPage;
    };
    explicit KRVideoCommentComposer(Actions actions, QObject* parent = nullptr);
    ~KRVideoCommentComposer() override;

    // The bar at rest in `page`; its editing controls, and the emote panel on `root` where the
    // bar edits, are made when it first edits.
    void build(platform::uikit::View* page, platform::uikit::View* root, qreal width);
    // The bar's resting place is `restingTop` in the page; `rootHeight` sizes the panel.
    void layout(qreal width, qreal restingTop, qreal rootHeight);
    void applyTheme();
    // The comments this bar writes: those of this video (aid), area 1.
    void setCommentObjectID(qint64 oid) { m_oid = oid; }

    // ---- the page's actions ----
    void commentComposerTapped();
    // A reply to `comment` (a top-level comment when null).
    void presentForComment(const std::shared_ptr<KRComment>& comment);
    void commentEmoteTapped();
    void cancelCommentComposer();
    void finishCommentComposerCancellation();
    void updateCommentPictureButton();
    void commentTrailingButtonTapped();
    void hideCommentEmotePanel();
    // Closes the composer at once (another screen is about to cover the page).
    void close();
    // A memory warning: the panel hidden, the emotes let go (loaded again when asked for).
    void dropEmotes();

    // ---- what the keyboard handling reads and sets ----
    bool isEditing() const { return m_editing; }
    bool isCancelling() const { return m_cancelling; }
    bool isFieldFirstResponder() const;
    // The keyboard's top in root-view coordinates while it shows for this bar; nothing when hidden.
    void setKeyboardTop(std::optional<qreal> top) { m_keyboardTop = top; }
    bool isKeyboardVisible() const { return m_keyboardTop.has_value(); }
    void bringBarToFront();
    // The views the keyboard moves.
    QList<platform::uikit::View*> keyboardMovedViews() const;

    // ---- state a user sees ----
    // Null until the bar first edits.
    platform::uikit::TextField* inputField() const { return m_views.commentInputField; }
    platform::uikit::View* emotePanel() const { return m_views.commentEmotePanel; }
    const QList<KREmotePanelItem>& emotes() const { return m_emotes.items(); }
    unsigned selectedImageCount() const { return unsigned(m_pickedItems.size()); }
    qint64 replyRoot() const { return m_replyRoot; }
    bool isPosting() const { return m_posting; }

    void photoPickerViewControllerDidCancel(KRPhotoPickerViewController* picker) override;
    void photoPickerViewControllerDidFinishWithItems(KRPhotoPickerViewController* picker,
                                                     const QList<KRPhotoPickerItem>& items) override;

private:
    struct Views {
        platform::uikit::View* commentComposerBar = nullptr;
        platform::uikit::View* commentComposerSeparator = nullptr;
        platform::uikit::Button* commentComposerButton = nullptr;
        platform::uikit::TextField* commentInputField = nullptr;
        platform::uikit::Button* commentEmoteButton = nullptr;
        platform::uikit::Button* commentCancelButton = nullptr;
        platform::uikit::Button* commentSendButton = nullptr;
        platform::uikit::ImageView* commentSelectedImageBadge = nullptr;
        platform::uikit::View* commentEmotePanel = nullptr;
        platform::uikit::ScrollView* commentEmoteScrollView = nullptr;
    };
    void buildEditingControls();
    void applyEditingTheme();
    void layoutEditingControls(qreal width, qreal rootHeight);
    void setEditingControlsShown(bool editing);
    void loadEmotesIfNeeded();
    void rebuildEmotePanel();
    void emoteItemTapped(int tag);
    void presentPhotoPicker();
    void submit();
    void layoutEmotePanel(qreal width, qreal rootHeight);

    // Whether the views are still there: a window torn down takes them before their owner.
    bool hasViews() const { return !m_bar.isNull(); }

    Actions m_actions;
    Views m_views;
    QPointer<platform::uikit::View> m_bar;
    QPointer<platform::uikit::View> m_page;
    QPointer<platform::uikit::View> m_root;
    qint64 m_oid = 0;
    bool m_editing = false;
    bool m_cancelling = false;
    bool m_posting = false;
    std::optional<qreal> m_keyboardTop;
    qint64 m_replyRoot = 0;
    qint64 m_replyParent = 0;
    QList<KRPhotoPickerItem> m_pickedItems;
    KREmoteList m_emotes;
    // The last layout's numbers, for laying the bar out again when it changes superview.
    qreal m_width = 0;
    qreal m_restingTop = 0;
    qreal m_rootHeight = 0;
};

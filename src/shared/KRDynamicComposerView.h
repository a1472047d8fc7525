#pragma once

#include "platform/foundation/NotificationCenter.h"
#include "platform/uikit/Image.h"
#include "platform/uikit/View.h"
#include "shared/KRDynamicComposerViewDelegate.h"
#include "shared/KREmoteList.h"

#include <QColor>
#include <QList>
#include <QPointer>
#include <QVariant>
#include <QVariantMap>

#include <functional>
#include <optional>

namespace platform::uikit {
class Button;
class ImageView;
class ScrollView;
class TextField;
} // namespace platform::uikit

// The emotes of the reply emote packages' answer: each package's "emote" entries with a
// non-empty "text" and "url", at most 40 from one package and 80 in all.
QList<KREmotePanelItem> KREmotePanelItemsFromPackages(const QVariant& data);

// Fills an emote panel's scroll view with one 42-point button per emote, tags from `tagBase`,
// at least five columns over a layout width of at least 250; each picture is set only while its
// button still has its tag. `tapped` gets the tag.
void KRFillEmotePanel(platform::uikit::ScrollView* scrollView, const QList<KREmotePanelItem>& emotes, int tagBase,
                      const std::function<void(int tag)>& tapped);

// Where an emote panel floats in a host of that size: above a bar whose top is at `barTop`, 28 %
// of the host's height (88 to 152 points), 8 points in from each side.
QRectF KREmotePanelFrame(const QSizeF& host, qreal barTop);

// A composer's picture button: while pictures are allowed, the tinted picture icon without a
// title, the count badge shown for a count above 0 and the label "选择图片" or "已选 N 张图片";
// otherwise hidden with its badge, icon and label gone.
void KRApplyComposerPictureButton(platform::uikit::Button* button, platform::uikit::ImageView* badge, bool allowed,
                                  unsigned count);

// The one-line bar a screen docks at the bottom of a view to write a comment, a reply or a
// repost: cancel, a field whose return key sends, an emote button opening a floating panel of
// the service's emotes, and (when allowed) a picture button with a count badge. It follows the
// keyboard; the host posts what it is handed.
class KRDynamicComposerView : public platform::uikit::View {
    Q_OBJECT

public:
    explicit KRDynamicComposerView(const QRectF& frame = QRectF(), platform::uikit::View* superview = nullptr);
    ~KRDynamicComposerView() override;

    platform::uikit::TextField* textField() const { return m_textField; }
    void setDelegate(KRDynamicComposerViewDelegate*);
    KRDynamicComposerViewDelegate* delegate() const { return m_delegate; }
    bool allowsImage() const { return m_allowsImage; }
    void setAllowsImage(bool);
    void setHasSelectedImage(bool);
    void setSelectedImageCount(unsigned);
    unsigned selectedImageCount() const { return m_selectedImageCount; }
    void presentInView(platform::uikit::View*, const QString& placeholder, const QString& initialText = {});
    void dismiss();

    platform::uikit::Button* cancelButton() const { return m_cancelButton; }
    platform::uikit::Button* sendButton() const { return m_sendButton; }
    platform::uikit::Button* emoteButton() const { return m_emoteButton; }
    platform::uikit::View* emotePanel() const { return m_emotePanel.data(); }
    platform::uikit::ScrollView* emoteScrollView() const { return m_emoteScrollView; }
    platform::uikit::ImageView* selectedImageBadge() const { return m_selectedImageBadge; }
    const QList<KREmotePanelItem>& emotes() const { return m_emotes.items(); }
    // Whether the emote list is being asked for.
    bool isLoadingEmotes() const { return m_emotes.isLoading(); }

    void applyTheme();
    void layoutSubviews() override;

private:
    void keyboardChanged(const platform::Notification& notification, bool showing);
    void cancelTapped();
    void sendTapped();
    void submitText();
    void layoutEmotePanel();
    void loadEmotesIfNeeded();
    void rebuildEmotePanel();
    void emoteTapped();
    void emoteItemTapped(int tag);
    void hideEmotePanel();

    platform::uikit::Button* m_cancelButton;
    platform::uikit::TextField* m_textField;
    platform::uikit::Button* m_sendButton;
    platform::uikit::Button* m_emoteButton;
    QPointer<platform::uikit::View> m_emotePanel;
    platform::uikit::ScrollView* m_emoteScrollView;
    KREmoteList m_emotes;
    KRDynamicComposerViewDelegate* m_delegate = nullptr;
    bool m_allowsImage = false;
    bool m_hasSelectedImage = false;
    unsigned m_selectedImageCount = 0;
    platform::uikit::ImageView* m_selectedImageBadge;
    quint64 m_frameAnimation = 0;
    platform::ObserverToken m_keyboardShowObserver;
    platform::ObserverToken m_keyboardHideObserver;
    platform::ObserverToken m_themeObserver;
};

// The icon filled with `color` through its own alpha (scale 1); the icon itself without both.
platform::uikit::Image KRDynamicComposerTintedImage(const platform::uikit::Image&, const std::optional<QColor>&);

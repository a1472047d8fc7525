#pragma once

#include "platform/uikit/TableViewCell.h"
#include "social/KRDynamicCellDelegate.h"

#include <QList>
#include <QString>
#include <QtGlobal>

#include <memory>

class KRDynamic;
class KRInlineEmoteLabel;

namespace platform::uikit {
class Button;
class Control;
class ImageView;
class Label;
class View;
} // namespace platform::uikit

// One post of the dynamics feed: author, time, the body with inline emotes, up to nine
// pictures, the shared video, the reposted post and the like, comment and more buttons.
// Folded in the feed, expanded on the detail screen. A late picture for a post the row no
// longer shows is dropped.
class KRDynamicCell : public platform::uikit::TableViewCell {
    Q_OBJECT

public:
    explicit KRDynamicCell(int style = platform::uikit::TableViewCellStyleDefault, const QString& reuseIdentifier = {});
    ~KRDynamicCell() override;

    void configureWithDynamic(const std::shared_ptr<KRDynamic>&, bool expanded = false);
    std::shared_ptr<KRDynamic> dynamic() const { return m_dynamic; }
    void setDelegate(KRDynamicCellDelegate*);
    KRDynamicCellDelegate* delegate() const { return m_delegate; }
    bool isExpanded() const { return m_expanded; }

    static qreal heightForDynamic(const KRDynamic&, qreal tableWidth, bool expanded);

    void applyTheme();
    void layoutSubviews() override;

    // The row's parts, for tests and the gallery.
    platform::uikit::ImageView* avatarView() const { return m_avatarView; }
    platform::uikit::Label* authorLabel() const { return m_authorLabel; }
    platform::uikit::Label* timeLabel() const { return m_timeLabel; }
    KRInlineEmoteLabel* bodyLabel() const { return m_bodyLabel; }
    platform::uikit::Control* authorControl() const { return m_authorControl; }
    platform::uikit::Control* bodyControl() const { return m_bodyControl; }
    platform::uikit::Control* videoControl() const { return m_videoControl; }
    platform::uikit::ImageView* coverView() const { return m_coverView; }
    platform::uikit::Label* videoTitleLabel() const { return m_videoTitleLabel; }
    platform::uikit::View* pictureContainer() const { return m_pictureContainer; }
    const QList<platform::uikit::ImageView*>& pictureViews() const { return m_pictureViews; }
    const QList<platform::uikit::Control*>& pictureControls() const { return m_pictureControls; }
    platform::uikit::Control* originalCard() const { return m_originalCard; }
    platform::uikit::ImageView* originalCoverView() const { return m_originalCoverView; }
    platform::uikit::Label* originalLabel() const { return m_originalLabel; }
    platform::uikit::Button* likeButton() const { return m_likeButton; }
    platform::uikit::Button* commentButton() const { return m_commentButton; }
    platform::uikit::Button* repostButton() const { return m_repostButton; }

private:
    void videoTapped();
    void authorTapped();
    void bodyTapped();
    void likeTapped();
    void commentTapped();
    void repostTapped();
    void originalTapped();
    void pictureTapped(int tag);

    std::shared_ptr<KRDynamic> m_dynamic;
    platform::uikit::ImageView* m_avatarView;
    platform::uikit::Label* m_authorLabel;
    platform::uikit::Label* m_timeLabel;
    KRInlineEmoteLabel* m_bodyLabel;
    platform::uikit::Control* m_authorControl;
    platform::uikit::Control* m_bodyControl;
    platform::uikit::Control* m_videoControl;
    platform::uikit::ImageView* m_coverView;
    platform::uikit::Label* m_videoTitleLabel;
    platform::uikit::View* m_pictureContainer;
    QList<platform::uikit::ImageView*> m_pictureViews;
    QList<platform::uikit::Control*> m_pictureControls;
    platform::uikit::Control* m_originalCard;
    platform::uikit::ImageView* m_originalCoverView;
    platform::uikit::Label* m_originalLabel;
    platform::uikit::Button* m_likeButton;
    platform::uikit::Button* m_commentButton;
    platform::uikit::Button* m_repostButton;
    KRDynamicCellDelegate* m_delegate = nullptr;
    bool m_expanded = false;
};

// The height of a dynamic's body text at a content width: folded, between 18 and 72.
qreal KRDynamicBodyHeight(const KRDynamic&, bool expanded, qreal width);
// The height of the picture grid of `count` pictures (at most nine count).
qreal KRDynamicPictureHeight(int count, qreal width);

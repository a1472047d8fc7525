#pragma once

#include "model/KREmoteMap.h"
#include "platform/uikit/Image.h"
#include "platform/uikit/TableViewCell.h"
#include "shared/KRCommentCellDelegate.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

class KRComment;
class KRInlineEmoteLabel;

namespace platform::uikit {
class ImageView;
class Label;
class TableView;
} // namespace platform::uikit

// The row of one comment in every comment list: avatar, author (pinned prefix), the message
// with inline emotes, up to nine picture thumbnails, time and likes, and an optional hint
// opening the reply thread. A late avatar or thumbnail is dropped once the row shows another
// address.
class KRCommentCell : public platform::uikit::TableViewCell {
    Q_OBJECT

public:
    explicit KRCommentCell(int style = platform::uikit::TableViewCellStyleDefault, const QString& reuseIdentifier = {});
    ~KRCommentCell() override;

    void configureWithComment(const std::shared_ptr<KRComment>&, bool showThreadHint);
    static qreal heightForComment(const KRComment&, qreal tableWidth, bool showThreadHint);
    // Lays out and draws every row of a comment list again from the comments it holds, the
    // selected row kept: a reply thread opened from a row raises that comment's reply count and
    // previews while the list is covered, and its rows must read them once it shows again.
    static void redrawRows(platform::uikit::TableView*);
    std::shared_ptr<KRComment> representedComment() const { return m_representedComment; }
    void setPictureDelegate(KRCommentCellDelegate*);
    // Selectable as comment lists show it: the theme's accent at 0.22 behind the row.
    void useAccentSelection();
    KRCommentCellDelegate* pictureDelegate() const { return m_pictureDelegate; }

    void applyTheme();
    void prepareForReuse() override;
    void layoutSubviews() override;

    platform::uikit::ImageView* avatarView() const { return m_avatarView; }
    platform::uikit::Label* authorLabel() const { return m_authorLabel; }
    KRInlineEmoteLabel* messageLabel() const { return m_messageLabel; }
    platform::uikit::Label* metaLabel() const { return m_metaLabel; }
    platform::uikit::Label* threadLabel() const { return m_threadLabel; }
    const QList<platform::uikit::ImageView*>& pictureViews() const { return m_pictureViews; }

    // A recognised tap on the picture view of that tag, and on the reply hint.
    void pictureTapped(int tag);
    void threadTapped();

private:
    void ensurePictureViewCount(int count);

    platform::uikit::ImageView* m_avatarView;
    platform::uikit::Label* m_authorLabel;
    KRInlineEmoteLabel* m_messageLabel;
    KREmoteMap m_representedEmotes;
    QString m_representedMessage;
    platform::uikit::Label* m_metaLabel;
    platform::uikit::Label* m_threadLabel;
    QList<platform::uikit::ImageView*> m_pictureViews;
    QString m_representedAvatarURL;
    QStringList m_representedPictureURLs;
    KRCommentCellDelegate* m_pictureDelegate = nullptr;
    std::shared_ptr<KRComment> m_representedComment;
};

// The avatar shown until a comment's own arrives: a grey head and shoulders, 40 by 40.
platform::uikit::Image KRCommentAvatarPlaceholder();

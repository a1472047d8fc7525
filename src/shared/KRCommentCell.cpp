#include "shared/KRCommentCell.h"

#include "look/KRTheme.h"
#include "model/KRComment.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/TableView.h"
#include "platform/uikit/TapGestureRecognizer.h"
#include "images/KRImageLoader.h"
#include "shared/KRInlineEmoteLabel.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

using namespace platform::uikit;

namespace {

constexpr int kPictureTagBase = 7300;
constexpr int kMaximumPictures = 9;
constexpr qreal kTextX = 56;
constexpr qreal kMinimumTextWidth = 120;
constexpr qreal kTextInset = 68;   // the avatar's column and the right margin
constexpr qreal kMessageTop = 29;
constexpr qreal kMinimumHeight = 72;
constexpr qreal kSinglePictureHeight = 92;
constexpr qreal kSinglePictureWidth = 148;
constexpr qreal kTileSide = 74;
constexpr qreal kTileGap = 5;
constexpr qreal kHintHeight = 24;

qreal textWidth(qreal width) { return std::max(width - kTextInset, kMinimumTextWidth); }

// The height of the picture block for n pictures (n at most nine).
qreal pictureBlockHeight(int n)
{
    if (n <= 0)
        return 0;
    if (n == 1)
        return kSinglePictureHeight;
    const int rows = (n + 2) / 3;
    return kTileSide * rows + kTileGap * (rows - 1);
}

} // namespace

Image KRCommentAvatarPlaceholder()
{
    static const Image placeholder = [] {
        QImage image(40, 40, QImage::Format_ARGB32_Premultiplied);
        image.fill(QColor::fromRgbF(0.91, 0.91, 0.93));
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor::fromRgbF(0.62, 0.62, 0.62));
        p.drawEllipse(QRectF(14, 8, 12, 12));
        p.drawEllipse(QRectF(8, 23, 24, 18));
        p.end();
        return Image(image);
    }();
    return placeholder;
}

KRCommentCell::KRCommentCell(int style, const QString& reuseIdentifier) : TableViewCell(style, reuseIdentifier)
{
    View* content = contentView();
    m_avatarView = new ImageView(KRCommentAvatarPlaceholder(), content);
    m_avatarView->setObjectName(QStringLiteral("avatarView"));
    m_avatarView->setContentMode(ContentModeScaleAspectFill);
    m_avatarView->setCornerRadius(18);

    m_authorLabel = new Label(QRectF(), content);
    m_authorLabel->setObjectName(QStringLiteral("authorLabel"));
    m_authorLabel->setFont(Label::systemFont(12, true));

    m_messageLabel = new KRInlineEmoteLabel(QRectF(), content);
    m_messageLabel->setObjectName(QStringLiteral("messageLabel"));
    m_messageLabel->setFont(Label::systemFont(13));
    m_messageLabel->setNumberOfLines(0);
    m_messageLabel->setLineBreakMode(LineBreakByCharWrapping);

    m_metaLabel = new Label(QRectF(), content);
    m_metaLabel->setObjectName(QStringLiteral("metaLabel"));
    m_metaLabel->setFont(Label::systemFont(10));

    m_threadLabel = new Label(QRectF(), content);
    m_threadLabel->setObjectName(QStringLiteral("threadLabel"));
    m_threadLabel->setFont(Label::systemFont(11, true));
    m_threadLabel->setUserInteractionEnabled(true);
    m_threadLabel->setHidden(true);
    new TapGestureRecognizer(m_threadLabel, [this] { threadTapped(); });

    applyTheme();
}

KRCommentCell::~KRCommentCell() { m_pictureDelegate = nullptr; }

void KRCommentCell::setPictureDelegate(KRCommentCellDelegate* delegate) { m_pictureDelegate = delegate; }

void KRCommentCell::useAccentSelection()
{
    setSelectionStyle(TableViewCellSelectionStyleBlue);
    auto* selected = new View(QRectF());
    QColor accent = KRTheme::sharedTheme()->accentColor();
    accent.setAlphaF(0.22);
    selected->setBackgroundColor(accent);
    setSelectedBackgroundView(selected);
}

void KRCommentCell::ensurePictureViewCount(int count)
{
    count = std::min(count, kMaximumPictures);
    while (int(m_pictureViews.size()) < count) {
        const int index = int(m_pictureViews.size());
        auto* picture = new ImageView(QRectF(), contentView());
        picture->setObjectName(QStringLiteral("pictureView%1").arg(index));
        picture->setTag(kPictureTagBase + index);
        picture->setContentMode(ContentModeScaleAspectFill);
        picture->setHidden(true);
        picture->setCornerRadius(4);
        picture->setBorderWidth(0.5);
        picture->setUserInteractionEnabled(true);
        picture->setAccessibilityLabel(QStringLiteral("评论图片 %1").arg(index + 1));
        new TapGestureRecognizer(picture, [this, picture] { pictureTapped(picture->tag()); });
        m_pictureViews << picture;
    }
}

void KRCommentCell::prepareForReuse()
{
    TableViewCell::prepareForReuse();
    m_representedAvatarURL.clear();
    m_representedPictureURLs.clear();
    m_representedEmotes.clear();
    m_representedMessage.clear();
    m_pictureDelegate = nullptr;
    m_representedComment.reset();
    m_avatarView->setImage(KRCommentAvatarPlaceholder());
    m_authorLabel->setText({});
    m_metaLabel->setText({});
    m_threadLabel->setText({});
    m_messageLabel->configureWithMessage({}, {});
    for (ImageView* picture : std::as_const(m_pictureViews)) {
        picture->setImage({});
        picture->setHidden(true);
    }
}

void KRCommentCell::applyTheme()
{
    const KRTheme* theme = KRTheme::sharedTheme();
    KRThemeApplyRowBackgrounds(this);
    m_authorLabel->setTextColor(theme->secondaryTextColor());
    m_metaLabel->setTextColor(theme->secondaryTextColor());
    m_messageLabel->setTextColor(theme->primaryTextColor());
    m_threadLabel->setTextColor(theme->accentColor());
    for (ImageView* picture : std::as_const(m_pictureViews)) {
        picture->setBackgroundColor(theme->backgroundColor());
        picture->setBorderColor(theme->separatorColor());
    }
}

void KRCommentCell::configureWithComment(const std::shared_ptr<KRComment>& comment, bool showThreadHint)
{
    m_representedComment = comment;
    if (!comment)
        return;
    const QStringList pictures = comment->pictureURLs();
    const int n = std::min(int(pictures.size()), kMaximumPictures);
    ensurePictureViewCount(n);
    applyTheme();

    const QString author = comment->authorName();
    m_authorLabel->setText((comment->isPinned() ? QStringLiteral("置顶 · ") : QString())
                           + (author.isNull() ? QStringLiteral("匿名用户") : author));
    m_representedEmotes = comment->emotes();
    m_representedMessage = comment->message();
    m_messageLabel->configureWithMessage(m_representedMessage, m_representedEmotes);

    const QString time = comment->displayTime();
    m_metaLabel->setText(QStringLiteral("%1赞 %2").arg(time.isEmpty() ? QString() : time + QStringLiteral("  ·  ")).arg(comment->likeCount()));

    const bool hint = showThreadHint && comment->replyCount() > 0;
    m_threadLabel->setHidden(!hint);
    m_threadLabel->setText(hint ? QStringLiteral("查看 %1 条回复  ›").arg(comment->replyCount()) : QString());
    setAccessoryType(TableViewCellAccessoryNone);

    m_representedAvatarURL = comment->avatarURL();
    m_representedPictureURLs = pictures;
    m_avatarView->setImage(KRCommentAvatarPlaceholder());
    if (!m_representedAvatarURL.isEmpty()) {
        const QString url = m_representedAvatarURL;
        KRImageLoader::sharedLoader()->loadImageForURLString(url, this, [this, url](const Image& image) {
            if (!image.isNull() && m_representedAvatarURL == url)
                m_avatarView->setImage(image);
        });
    }
    for (int i = 0; i < int(m_pictureViews.size()); ++i) {
        ImageView* picture = m_pictureViews[i];
        picture->setImage({});
        picture->setHidden(i >= n);
        if (i >= n)
            continue;
        const QString url = pictures[i];
        KRImageLoader::sharedLoader()->loadImageForURLString(url, this, [this, picture, i, url](const Image& image) {
            if (!image.isNull() && i < int(m_representedPictureURLs.size()) && m_representedPictureURLs[i] == url)
                picture->setImage(image);
        });
    }
    setNeedsLayout();
}

void KRCommentCell::pictureTapped(int tag)
{
    if (tag < kPictureTagBase)
        return;
    const int index = tag - kPictureTagBase;
    if (index >= int(m_representedPictureURLs.size()) || !m_pictureDelegate)
        return;
    m_pictureDelegate->commentCellDidTapPictureAtIndex(this, unsigned(index), m_representedPictureURLs);
}

void KRCommentCell::threadTapped()
{
    if (m_threadLabel->isHidden() || !m_pictureDelegate)
        return;
    m_pictureDelegate->commentCellDidTapThread(this);
}

void KRCommentCell::layoutSubviews()
{
    TableViewCell::layoutSubviews();
    const qreal m = textWidth(contentView()->bounds().width());
    m_avatarView->setFrame(QRectF(10, 9, 36, 36));
    m_authorLabel->setFrame(QRectF(kTextX, 7, m, 18));
    const qreal h = KRInlineEmoteLabel::heightForMessage(m_representedMessage, m_representedEmotes, m, m_messageLabel->font());
    m_messageLabel->setFrame(QRectF(kTextX, kMessageTop, m, h));
    qreal y = h + 33;
    const int n = std::min(int(m_representedPictureURLs.size()), kMaximumPictures);
    if (n == 1) {
        m_pictureViews[0]->setFrame(QRectF(kTextX, y, std::min(m, kSinglePictureWidth), kSinglePictureHeight));
    } else if (n > 1) {
        const int columns = std::min(n, 3);
        const qreal side = std::floor(std::min((m - kTileGap * (columns - 1)) / columns, kTileSide));
        for (int i = 0; i < n; ++i)
            m_pictureViews[i]->setFrame(
                QRectF(kTextX + (i % 3) * (side + kTileGap), y + (kTileSide + kTileGap) * (i / 3), side, kTileSide));
    }
    if (n > 0)
        y += pictureBlockHeight(n) + 6;
    m_metaLabel->setFrame(QRectF(kTextX, y, m, 15));
    m_threadLabel->setFrame(QRectF(kTextX, y + 18, m, 20));
}

void KRCommentCell::redrawRows(TableView* table)
{
    const IndexPath selected = table->indexPathForSelectedRow();
    table->reloadData();
    if (selected.isValid())
        table->selectRowAtIndexPath(selected, false);
}

qreal KRCommentCell::heightForComment(const KRComment& comment, qreal tableWidth, bool showThreadHint)
{
    const qreal m = textWidth(tableWidth);
    qreal h = KRInlineEmoteLabel::heightForMessage(comment.message(), comment.emotes(), m) + 61;
    const int n = std::min(int(comment.pictureURLs().size()), kMaximumPictures);
    if (n == 1)
        h += 98;
    else if (n > 1)
        h += pictureBlockHeight(n) + 6;
    if (showThreadHint && comment.replyCount() > 0)
        h += kHintHeight;
    return std::max(h, kMinimumHeight);
}

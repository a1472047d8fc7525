#include "browse/KRVideoCell.h"

#include "look/KRTheme.h"
#include "images/KRImageLoader.h"
#include "model/KRVideo.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/ProgressView.h"

#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <cmath>

using namespace platform::uikit;

namespace {

// Row geometry, in points.
constexpr qreal kCoverX = 8;
constexpr QSizeF kCoverSize{112, 68};
constexpr qreal kTextX = 128;
constexpr qreal kTextRightWithAccessory = 32;
constexpr qreal kTextRightPlain = 12;
constexpr qreal kMinTextWidth = 80;
constexpr qreal kTextBlockHeight = 82;
constexpr qreal kMinTextTop = 5;
constexpr qreal kTitleHeight = 38;
constexpr qreal kOwnerTop = 39;
constexpr qreal kLineHeight = 17;
constexpr qreal kStatsTop = 58;
constexpr qreal kPartitionShare = 0.36;
constexpr qreal kPartitionMaxWidth = 64;
constexpr qreal kPartitionGap = 4;
constexpr qreal kProgressLabelTop = 56;
constexpr qreal kProgressLabelHeight = 13;
constexpr qreal kProgressBarTop = 72;
constexpr qreal kProgressBarHeight = 9;
constexpr qreal kBadgeTop = 50;
constexpr qreal kBadgeHeight = 18;
constexpr qreal kBadgeMinWidth = 34;
constexpr qreal kBadgePadding = 10;
constexpr qreal kBadgeMaxTextWidth = 62;
constexpr qreal kBadgeEmptyTextWidth = 10;
const QColor kUnthemedTitleColor = QColor::fromRgbF(0.12f, 0.12f, 0.16f);

// The placeholder drawn when the bundle lacks its art.
constexpr QSize kPlaceholderSize{96, 58};
const QColor kPlaceholderFill = QColor::fromRgbF(0.90f, 0.91f, 0.93f);
const QColor kPlaceholderText = QColor::fromRgbF(0.55f, 0.57f, 0.61f);
constexpr QRectF kPlaceholderTextRect{28, 20, 40, 22};

Image invalidCoverOrPlaceholder()
{
    const Image invalid = KRVideoInvalidCoverImage();
    return invalid.isNull() ? KRVideoPlaceholderImage() : invalid;
}

Image drawnPlaceholder()
{
    QImage image(kPlaceholderSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(kPlaceholderFill);
    QPainter painter(&image);
    drawLabelText(painter, kPlaceholderTextRect, QStringLiteral("封面"), Label::systemFont(13, true), kPlaceholderText,
                  QColor(), QSizeF(), TextAlignmentCenter, 1);
    painter.end();
    return Image(image);
}

} // namespace

Image KRVideoPlaceholderImage()
{
    static const Image placeholder = [] {
        const Image art = Image::named(QStringLiteral("Tarnwick23/videopic_default"));
        return art.isNull() ? drawnPlaceholder() : art;
    }();
    return placeholder;
}

Image KRVideoInvalidCoverImage()
{
    static const Image invalid = Image::named(QStringLiteral("Davirivu961/invalid_cover"));
    return invalid;
}

KRVideoCell::KRVideoCell(int style, const QString& reuseIdentifier)
    : TableViewCell(style, reuseIdentifier)
    , m_coverView(new ImageView(QRectF(), contentView()))
    , m_titleLabel(new Label(QRectF(), contentView()))
    , m_durationLabel(new Label(QRectF(), m_coverView))
    , m_ownerLabel(new Label(QRectF(), contentView()))
    , m_statsLabel(new Label(QRectF(), contentView()))
    , m_partitionLabel(new Label(QRectF(), contentView()))
    , m_offlineProgressView(new ProgressView(QRectF(), contentView()))
    , m_offlineProgressLabel(new Label(QRectF(), contentView()))
{
    m_coverView->setContentMode(ContentModeScaleAspectFill);
    m_coverView->setImage(KRVideoPlaceholderImage());

    m_titleLabel->setFont(Label::systemFont(14, true));
    m_titleLabel->setNumberOfLines(2);
    m_titleLabel->setTextColor(kUnthemedTitleColor);

    m_durationLabel->setBackgroundColor(QColor(0, 0, 0, int(0.72 * 255 + 0.5)));
    m_durationLabel->setTextColor(Qt::white);
    m_durationLabel->setFont(Label::systemFont(10, true));
    m_durationLabel->setTextAlignment(TextAlignmentCenter);

    m_ownerLabel->setFont(Label::systemFont(11));
    m_statsLabel->setFont(Label::systemFont(10));
    m_partitionLabel->setFont(Label::systemFont(10));
    m_partitionLabel->setTextAlignment(TextAlignmentRight);
    m_offlineProgressLabel->setFont(Label::systemFont(10));
    m_offlineProgressLabel->setHidden(true);
    m_offlineProgressView->setHidden(true);

    setAccessoryType(TableViewCellAccessoryDisclosureIndicator);
    applyTheme();
}

KRVideoCell::~KRVideoCell() = default;

void KRVideoCell::configureWithVideo(const std::shared_ptr<KRVideo>& video)
{
    applyTheme();
    setSelectionStyle(TableViewCellSelectionStyleBlue);
    setAccessoryType(TableViewCellAccessoryDisclosureIndicator);
    m_ownerLabel->setNumberOfLines(1);
    m_offlineProgressView->setHidden(true);
    m_offlineProgressLabel->setHidden(true);
    m_coverView->setImage(KRVideoPlaceholderImage());
    if (!video) {
        // Nothing to stand for: an empty row rather than a crash on a list's stale index.
        m_representedCoverURL.clear();
        m_titleLabel->setText(QStringLiteral("无标题视频"));
        m_ownerLabel->setText(QString());
        m_statsLabel->setText(QString());
        m_durationLabel->setHidden(true);
        m_partitionLabel->setHidden(true);
        setNeedsLayout();
        return;
    }
    const QString title = video->title();
    const QString owner = video->ownerName();
    if (video->isUnavailable()) {
        m_titleLabel->setText(title.isEmpty() ? QStringLiteral("已失效视频") : title);
        m_ownerLabel->setText(owner.isEmpty() ? QStringLiteral("内容已不可用") : QStringLiteral("UP  ") + owner);
        m_statsLabel->setText(video->displayUnavailableReason());
        m_statsLabel->setHidden(false);
        m_durationLabel->setHidden(true);
        m_partitionLabel->setHidden(true);
        m_representedCoverURL.clear();
        m_coverView->setImage(invalidCoverOrPlaceholder());
        setAccessoryType(TableViewCellAccessoryNone);
        setSelectionStyle(TableViewCellSelectionStyleNone);
        setNeedsLayout();
        return;
    }
    m_titleLabel->setText(title.isNull() ? QStringLiteral("无标题视频") : title);
    m_ownerLabel->setText(QStringLiteral("UP  ") + (owner.isNull() ? QStringLiteral("未知UP主") : owner));
    m_statsLabel->setText(QStringLiteral("播 %1  ·  弹 %2").arg(video->displayPlayCount(), video->displayDanmakuCount()));
    m_statsLabel->setHidden(false);
    const QString partition = video->tname();
    m_partitionLabel->setText(partition);
    m_partitionLabel->setHidden(partition.isEmpty());
    m_durationLabel->setText(video->displayDuration());
    m_durationLabel->setHidden(false);
    m_representedCoverURL = video->coverURL();
    setNeedsLayout();
}

void KRVideoCell::setTitleText(const QString& title, const QString& metaText, const QString& coverURL)
{
    applyTheme();
    m_titleLabel->setText(title.isNull() ? QStringLiteral("无标题视频") : title);
    m_ownerLabel->setNumberOfLines(2);
    m_ownerLabel->setText(metaText);
    m_durationLabel->setHidden(true);
    m_statsLabel->setHidden(true);
    m_partitionLabel->setHidden(true);
    m_representedCoverURL = coverURL;
    m_coverView->setImage(KRVideoPlaceholderImage());
    setNeedsLayout();
}

void KRVideoCell::setCoverImage(const Image& image)
{
    m_coverView->setImage(image.isNull() ? KRVideoPlaceholderImage() : image);
}

void KRVideoCell::loadCover()
{
    const QString address = m_representedCoverURL;
    if (address.isEmpty())
        return;
    KRImageLoader::sharedLoader()->loadImageForURLString(address, this, [this, address](const Image& image) {
        if (m_representedCoverURL == address)
            setCoverImage(image);
    });
}

void KRVideoCell::setOfflineDownloadProgress(float progress, const QString& statusText)
{
    const float shown = progress > 1 ? 1.0f : (progress > 0 ? progress : 0.0f);
    m_offlineProgressView->setProgress(shown);
    m_offlineProgressView->setHidden(false);
    m_offlineProgressLabel->setText(statusText.isEmpty() ? QStringLiteral("正在缓存…") : statusText);
    m_offlineProgressLabel->setHidden(false);
    m_statsLabel->setHidden(true);
    m_partitionLabel->setHidden(true);
    setAccessoryType(TableViewCellAccessoryNone);
    setNeedsLayout();
    layoutIfNeeded();
}

void KRVideoCell::setOfflineLibrarySelected(bool selected)
{
    const KRTheme* theme = KRTheme::sharedTheme();
    m_titleLabel->setTextColor(selected ? theme->accentColor() : theme->primaryTextColor());
    setAccessoryType(TableViewCellAccessoryNone);
}

void KRVideoCell::prepareForReuse()
{
    TableViewCell::prepareForReuse();
    m_representedCoverURL.clear();
    m_coverView->setImage(KRVideoPlaceholderImage());
    for (Label* label : {m_titleLabel, m_durationLabel, m_ownerLabel, m_statsLabel, m_partitionLabel})
        label->setText(QString());
    m_offlineProgressView->setProgress(0);
    m_offlineProgressView->setHidden(true);
    m_offlineProgressLabel->setText(QString());
    m_offlineProgressLabel->setHidden(true);
    m_durationLabel->setHidden(false);
    m_statsLabel->setHidden(false);
    m_partitionLabel->setHidden(false);
    m_ownerLabel->setNumberOfLines(1);
    setAccessoryType(TableViewCellAccessoryDisclosureIndicator);
    setSelectionStyle(TableViewCellSelectionStyleBlue);
}

void KRVideoCell::applyTheme()
{
    const KRTheme* theme = KRTheme::sharedTheme();
    KRThemeApplyRowBackgrounds(this);
    m_titleLabel->setTextColor(theme->primaryTextColor());
    for (Label* label : {m_ownerLabel, m_statsLabel, m_partitionLabel, m_offlineProgressLabel})
        label->setTextColor(theme->secondaryTextColor());
    m_offlineProgressView->setProgressTintColor(theme->accentColor());
    m_offlineProgressView->setTrackTintColor(theme->separatorColor());
}

void KRVideoCell::layoutSubviews()
{
    TableViewCell::layoutSubviews();
    const QSizeF size = contentView()->bounds().size();
    const qreal w = size.width();
    const qreal h = size.height();
    m_coverView->setFrame(QRectF(QPointF(kCoverX, (h - kCoverSize.height()) / 2), kCoverSize));

    const QString duration = m_durationLabel->text();
    const QFontMetricsF metrics(m_durationLabel->font());
    const qreal textWidth = duration.isEmpty()
        ? kBadgeEmptyTextWidth
        : std::min(std::ceil(metrics.horizontalAdvance(duration)), kBadgeMaxTextWidth);
    const qreal badge = std::max(textWidth + kBadgePadding, kBadgeMinWidth);
    m_durationLabel->setFrame(QRectF(kCoverSize.width() - badge, kBadgeTop, badge, kBadgeHeight));

    const qreal right = accessoryType() != TableViewCellAccessoryNone ? kTextRightWithAccessory : kTextRightPlain;
    const qreal t = std::max(std::floor((h - kTextBlockHeight) / 2), kMinTextTop);
    const qreal column = std::max(w - kTextX - right, kMinTextWidth);
    m_titleLabel->setFrame(QRectF(kTextX, t, column, kTitleHeight));
    m_ownerLabel->setFrame(QRectF(kTextX, t + kOwnerTop, column, kLineHeight));
    const qreal p = m_partitionLabel->isHidden() ? 0 : std::min(column * kPartitionShare, kPartitionMaxWidth);
    m_statsLabel->setFrame(QRectF(kTextX, t + kStatsTop, column - p - (p > 0 ? kPartitionGap : 0), kLineHeight));
    m_partitionLabel->setFrame(QRectF(kTextX + column - p, t + kStatsTop, p, kLineHeight));
    m_offlineProgressLabel->setFrame(QRectF(kTextX, t + kProgressLabelTop, column, kProgressLabelHeight));
    m_offlineProgressView->setFrame(QRectF(kTextX, t + kProgressBarTop, column, kProgressBarHeight));
}

#include "browse/KRPGCGridCell.h"

#include "look/KRTheme.h"
#include "images/KRImageLoader.h"
#include "browse/KRPGCGridCellDelegate.h"
#include "browse/KRVideoCell.h"
#include "model/KRVideo.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/Screen.h"

#include <QFontMetricsF>

#include <algorithm>
#include <cmath>

using namespace platform::uikit;

namespace {

// Catalogue geometry, in points.
constexpr qreal kNarrowWidth = 500;
constexpr qreal kColumnWidth = 150;
constexpr qreal kWidthSlack = 8;
constexpr int kMinColumns = 3;
constexpr qreal kSideMargin = 8;
constexpr qreal kGap = 8;
constexpr qreal kCardTop = 6;
constexpr qreal kCardBottomSpace = 8;
constexpr qreal kTextBelowCover = 61; // 6 top margin, 32 title, 16 subtitle, 7 bottom
constexpr qreal kCoverCorner = 5;
constexpr qreal kTextInset = 3;
constexpr qreal kTitleGap = 4;
constexpr qreal kTitleHeight = 30;
constexpr qreal kSubtitleGap = 35;
constexpr qreal kSubtitleHeight = 14;
constexpr qreal kEpisodePadding = 8;
constexpr qreal kEpisodeMinWidth = 32;
constexpr qreal kEpisodeBottom = 18;
constexpr qreal kEpisodeHeight = 15;
constexpr qreal kBadgeEdge = 3;
constexpr qreal kBadgeHeight = 14;
constexpr qreal kLabelCorner = 2;
const QColor kBadgeColor = QColor::fromRgbF(1.0f, 0.38f, 0.58f, 0.9f);

int clampedColumns(int count) { return std::clamp(count, 1, KRPGCGridCell::kMaxColumns); }

qreal cardWidth(qreal width, int columns)
{
    return std::max(std::floor((width - 2 * kSideMargin - (columns - 1) * kGap) / columns), 0.0);
}

qreal textWidth(const Label* label)
{
    return label->text().isEmpty() ? 0 : std::ceil(QFontMetricsF(label->font()).horizontalAdvance(label->text()));
}

// The bundle's placeholder art, else the invalid cover (not the drawn landscape card, which
// would stretch on a portrait cover).
Image coverPlaceholder()
{
    static const Image placeholder =
        Image::named(QStringLiteral("Tarnwick23/videopic_default")).isNull() ? KRVideoInvalidCoverImage() : KRVideoPlaceholderImage();
    return placeholder;
}

} // namespace

int KRPGCGridCell::columnCountForWidth(qreal width)
{
    if (width <= 0)
        width = Screen::bounds().width();
    if (width <= kNarrowWidth)
        return kMinColumns;
    return std::clamp(int(std::floor((width - kWidthSlack) / kColumnWidth)), kMinColumns, kMaxColumns);
}

qreal KRPGCGridCell::rowHeightForWidth(qreal width)
{
    const int n = columnCountForWidth(width);
    if (width <= 0)
        width = Screen::bounds().width();
    const qreal c = cardWidth(width, n);
    return std::ceil(std::floor(c * 4 / 3) + kTextBelowCover);
}

KRPGCGridCell::KRPGCGridCell(int style, const QString& reuseIdentifier) : TableViewCell(style, reuseIdentifier)
{
    setSelectionStyle(TableViewCellSelectionStyleNone);
    for (int i = 0; i < kMaxColumns; ++i) {
        auto* card = new Button(ButtonTypeCustom, QRectF(), contentView());
        card->setTag(kCardTagBase + i);
        card->addTarget(ControlEventTouchUpInside, [this, card] { cardTapped(card); });
        auto* cover = new ImageView(QRectF(), card);
        cover->setContentMode(ContentModeScaleAspectFill);
        cover->setCornerRadius(kCoverCorner);
        cover->setUserInteractionEnabled(false);
        auto* episode = new Label(QRectF(), cover);
        episode->setBackgroundColor(QColor(0, 0, 0, int(0.66 * 255 + 0.5)));
        episode->setTextColor(Qt::white);
        episode->setFont(Label::systemFont(9, true));
        episode->setTextAlignment(TextAlignmentCenter);
        episode->setCornerRadius(kLabelCorner);
        auto* badge = new Label(QRectF(), cover);
        badge->setBackgroundColor(kBadgeColor);
        badge->setTextColor(Qt::white);
        badge->setFont(Label::systemFont(8, true));
        badge->setTextAlignment(TextAlignmentCenter);
        badge->setCornerRadius(kLabelCorner);
        auto* title = new Label(QRectF(), card);
        title->setFont(Label::systemFont(12, true));
        title->setNumberOfLines(2);
        title->setUserInteractionEnabled(false);
        auto* subtitle = new Label(QRectF(), card);
        subtitle->setFont(Label::systemFont(10));
        subtitle->setUserInteractionEnabled(false);
        m_buttons[i] = card;
        m_coverViews[i] = cover;
        m_episodeLabels[i] = episode;
        m_badgeLabels[i] = badge;
        m_titleLabels[i] = title;
        m_subtitleLabels[i] = subtitle;
    }
    applyTheme();
}

KRPGCGridCell::~KRPGCGridCell() = default;

void KRPGCGridCell::configureWithVideos(const QList<std::shared_ptr<KRVideo>>& videos, int columnCount)
{
    m_columnCount = clampedColumns(columnCount);
    m_videos = videos;
    std::array<QString, kMaxColumns> represented;
    for (int i = 0; i < kMaxColumns; ++i) {
        const std::shared_ptr<KRVideo> video = i < videos.size() ? videos[i] : nullptr;
        m_buttons[i]->setHidden(!video || i >= m_columnCount);
        m_coverViews[i]->setImage(coverPlaceholder());
        const auto firstOf = [](std::initializer_list<QString> texts) {
            for (const QString& text : texts)
                if (!text.isEmpty())
                    return text;
            return QString();
        };
        m_titleLabels[i]->setText(video ? firstOf({video->title()}) : QString());
        m_subtitleLabels[i]->setText(video ? firstOf({video->pgcSubtitle(), video->summary()}) : QString());
        m_episodeLabels[i]->setText(video ? firstOf({video->pgcEpisodeText(), video->pgcOrderText()}) : QString());
        m_episodeLabels[i]->setHidden(m_episodeLabels[i]->text().isEmpty());
        m_badgeLabels[i]->setText(video ? video->pgcBadge() : QString());
        m_badgeLabels[i]->setHidden(m_badgeLabels[i]->text().isEmpty());
        if (video && !video->coverURL().isEmpty())
            represented[i] = video->coverURL();
    }
    m_representedCoverURLs = represented;
    const int loads = std::min<int>(int(std::min<qsizetype>(videos.size(), kMaxColumns)), m_columnCount);
    for (int i = 0; i < loads; ++i) {
        const QString address = represented[i];
        if (address.isEmpty())
            continue;
        KRImageLoader::sharedLoader()->loadPortraitCoverForURLString(address, this, [this, i, address](const Image& image) {
            if (!image.isNull() && m_representedCoverURLs[i] == address)
                m_coverViews[i]->setImage(image);
        });
    }
    applyTheme();
    setNeedsLayout();
}

void KRPGCGridCell::applyTheme()
{
    const KRTheme* theme = KRTheme::sharedTheme();
    setBackgroundColor(theme->backgroundColor());
    contentView()->setBackgroundColor(theme->backgroundColor());
    for (int i = 0; i < kMaxColumns; ++i) {
        m_buttons[i]->setBackgroundColor(QBrush(Qt::NoBrush));
        m_titleLabels[i]->setTextColor(theme->primaryTextColor());
        m_subtitleLabels[i]->setTextColor(theme->secondaryTextColor());
    }
}

void KRPGCGridCell::cardTapped(Button* card)
{
    if (!card || card->tag() < kCardTagBase)
        return;
    const int index = card->tag() - kCardTagBase;
    if (index >= m_videos.size() || !m_videos[index] || m_videos[index]->isUnavailable())
        return;
    if (m_delegate)
        m_delegate->pgcGridCellDidSelectVideo(this, m_videos[index]);
}

namespace {
template <typename T, std::size_t N>
T* at(const std::array<T*, N>& views, int index)
{
    return index >= 0 && index < int(N) ? views[index] : nullptr;
}
} // namespace

QString KRPGCGridCell::representedCoverURLAt(int index) const
{
    return index >= 0 && index < kMaxColumns ? m_representedCoverURLs[index] : QString();
}
Button* KRPGCGridCell::cardButton(int index) const { return at(m_buttons, index); }
ImageView* KRPGCGridCell::coverView(int index) const { return at(m_coverViews, index); }
Label* KRPGCGridCell::titleLabel(int index) const { return at(m_titleLabels, index); }
Label* KRPGCGridCell::subtitleLabel(int index) const { return at(m_subtitleLabels, index); }
Label* KRPGCGridCell::episodeLabel(int index) const { return at(m_episodeLabels, index); }
Label* KRPGCGridCell::badgeLabel(int index) const { return at(m_badgeLabels, index); }

void KRPGCGridCell::layoutSubviews()
{
    TableViewCell::layoutSubviews();
    const QSizeF size = contentView()->bounds().size();
    const int n = m_columnCount;
    const qreal c = cardWidth(size.width(), n);
    const qreal h = std::floor(c * 4 / 3);
    const qreal inner = std::max(c - 2 * kTextInset, 0.0);
    for (int i = 0; i < kMaxColumns; ++i) {
        if (i >= n) {
            m_buttons[i]->setHidden(true);
            continue;
        }
        m_buttons[i]->setFrame(QRectF(kSideMargin + i * (c + kGap), kCardTop, c, std::max(size.height() - kCardBottomSpace, 0.0)));
        m_coverViews[i]->setFrame(QRectF(0, 0, c, h));
        const qreal e = std::max(std::min(std::max(textWidth(m_episodeLabels[i]) + kEpisodePadding, kEpisodeMinWidth), c - 6), 0.0);
        m_episodeLabels[i]->setFrame(QRectF(c - e - kBadgeEdge, h - kEpisodeBottom, e, kEpisodeHeight));
        const qreal b = std::max(std::min(textWidth(m_badgeLabels[i]) + kEpisodePadding, c - 6), 0.0);
        m_badgeLabels[i]->setFrame(QRectF(kBadgeEdge, kBadgeEdge, b, kBadgeHeight));
        m_titleLabels[i]->setFrame(QRectF(kTextInset, h + kTitleGap, inner, kTitleHeight));
        m_subtitleLabels[i]->setFrame(QRectF(kTextInset, h + kSubtitleGap, inner, kSubtitleHeight));
    }
}

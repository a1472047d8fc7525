#include "browse/KRVideoGridCell.h"

#include "look/KRTheme.h"
#include "images/KRImageLoader.h"
#include "browse/KRVideoCell.h"
#include "browse/KRVideoGridCellDelegate.h"
#include "model/KRVideo.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/Label.h"

#include <QFontMetricsF>

#include <algorithm>
#include <cmath>

using namespace platform::uikit;

namespace {

// Card geometry, in points.
constexpr qreal kOuterMargin = 7;
constexpr qreal kCardTop = 5;
constexpr qreal kCardBottomSpace = 7;
constexpr qreal kCardCorner = 5;
constexpr qreal kCardBorder = 0.5;
constexpr qreal kCoverCorner = 4;
constexpr qreal kTextInset = 4;
constexpr qreal kTitleGap = 4;
constexpr qreal kTitleHeight = 30;
constexpr qreal kMetaGap = 35;
constexpr qreal kMetaHeight = 14;
constexpr qreal kBadgePadding = 7;
constexpr qreal kBadgeMinWidth = 31;
constexpr qreal kBadgeEdge = 3;
constexpr qreal kBadgeBottom = 17;
constexpr qreal kBadgeHeight = 14;
constexpr qreal kBadgeCorner = 2;
constexpr qreal kUnavailableCoverAlpha = 0.56;

} // namespace

KRVideoGridCell::KRVideoGridCell(int style, const QString& reuseIdentifier) : TableViewCell(style, reuseIdentifier)
{
    setSelectionStyle(TableViewCellSelectionStyleNone);
    for (int i = 0; i < 2; ++i) {
        auto* card = new Button(ButtonTypeCustom, QRectF(), contentView());
        card->setTag(kCardTagBase + i);
        card->addTarget(ControlEventTouchUpInside, [this, card] { cardTapped(card); });
        auto* cover = new ImageView(QRectF(), card);
        cover->setTag(kCoverTag);
        cover->setContentMode(ContentModeScaleAspectFill);
        cover->setCornerRadius(kCoverCorner);
        cover->setUserInteractionEnabled(false);
        auto* duration = new Label(QRectF(), cover);
        duration->setTag(kDurationTag);
        duration->setBackgroundColor(QColor(0, 0, 0, int(0.68 * 255 + 0.5)));
        duration->setTextColor(Qt::white);
        duration->setFont(Label::systemFont(9, true));
        duration->setTextAlignment(TextAlignmentCenter);
        duration->setCornerRadius(kBadgeCorner);
        auto* title = new Label(QRectF(), card);
        title->setTag(kTitleTag);
        title->setFont(Label::systemFont(11, true));
        title->setNumberOfLines(2);
        title->setUserInteractionEnabled(false);
        auto* meta = new Label(QRectF(), card);
        meta->setTag(kMetaTag);
        meta->setFont(Label::systemFont(9));
        meta->setUserInteractionEnabled(false);
        m_buttons[i] = card;
        m_coverViews[i] = cover;
        m_durationLabels[i] = duration;
        m_titleLabels[i] = title;
        m_metaLabels[i] = meta;
    }
    applyTheme();
}

KRVideoGridCell::~KRVideoGridCell() = default;

void KRVideoGridCell::configureWithLeftVideo(const std::shared_ptr<KRVideo>& left, const std::shared_ptr<KRVideo>& right)
{
    m_videos = {left, right};
    std::array<QString, 2> represented;
    for (int i = 0; i < 2; ++i) {
        const std::shared_ptr<KRVideo>& video = m_videos[i];
        m_buttons[i]->setHidden(!video);
        m_coverViews[i]->setImage(Image());
        if (!video)
            continue;
        const bool unavailable = video->isUnavailable();
        m_titleLabels[i]->setText(video->title().isNull() ? QStringLiteral("未命名视频") : video->title());
        m_metaLabels[i]->setText(unavailable ? video->displayUnavailableReason()
                                             : QStringLiteral("播 %1 · 弹 %2").arg(video->displayPlayCount(), video->displayDanmakuCount()));
        m_durationLabels[i]->setText(video->displayDuration());
        m_coverViews[i]->setAlpha(unavailable ? kUnavailableCoverAlpha : 1);
        if (unavailable)
            m_coverViews[i]->setImage(KRVideoInvalidCoverImage());
        if (!video->coverURL().isEmpty())
            represented[i] = video->coverURL();
    }
    m_representedCoverURLs = represented;
    for (int i = 0; i < 2; ++i) {
        const std::shared_ptr<KRVideo>& video = m_videos[i];
        if (!video || video->isUnavailable() || represented[i].isEmpty())
            continue;
        const QString address = represented[i];
        KRImageLoader::sharedLoader()->loadImageForURLString(address, this, [this, i, address](const Image& image) {
            if (!image.isNull() && m_representedCoverURLs[i] == address)
                m_coverViews[i]->setImage(image);
        });
    }
    applyTheme();
    setNeedsLayout();
}

void KRVideoGridCell::applyTheme()
{
    const KRTheme* theme = KRTheme::sharedTheme();
    setBackgroundColor(theme->backgroundColor());
    contentView()->setBackgroundColor(theme->backgroundColor());
    for (int i = 0; i < 2; ++i) {
        m_buttons[i]->setBackgroundColor(theme->surfaceColor());
        m_buttons[i]->setCornerRadius(kCardCorner);
        m_buttons[i]->setBorderWidth(kCardBorder);
        m_buttons[i]->setBorderColor(theme->separatorColor());
        m_titleLabels[i]->setTextColor(theme->primaryTextColor());
        m_metaLabels[i]->setTextColor(theme->secondaryTextColor());
    }
}

void KRVideoGridCell::cardTapped(Button* card)
{
    if (!card || card->tag() < kCardTagBase)
        return;
    const int index = card->tag() - kCardTagBase;
    if (index >= 2 || !m_videos[index] || m_videos[index]->isUnavailable())
        return;
    if (m_delegate)
        m_delegate->videoGridCellDidSelectVideo(this, m_videos[index]);
}

std::shared_ptr<KRVideo> KRVideoGridCell::videoAt(int index) const
{
    return index >= 0 && index < 2 ? m_videos[index] : nullptr;
}

QString KRVideoGridCell::representedCoverURLAt(int index) const
{
    return index >= 0 && index < 2 ? m_representedCoverURLs[index] : QString();
}

Button* KRVideoGridCell::cardButton(int index) const { return index >= 0 && index < 2 ? m_buttons[index] : nullptr; }
ImageView* KRVideoGridCell::coverView(int index) const { return index >= 0 && index < 2 ? m_coverViews[index] : nullptr; }
Label* KRVideoGridCell::titleLabel(int index) const { return index >= 0 && index < 2 ? m_titleLabels[index] : nullptr; }
Label* KRVideoGridCell::metaLabel(int index) const { return index >= 0 && index < 2 ? m_metaLabels[index] : nullptr; }
Label* KRVideoGridCell::durationLabel(int index) const { return index >= 0 && index < 2 ? m_durationLabels[index] : nullptr; }

void KRVideoGridCell::layoutSubviews()
{
    TableViewCell::layoutSubviews();
    const QSizeF size = contentView()->bounds().size();
    const qreal c = std::max(std::floor((size.width() - 3 * kOuterMargin) / 2), 0.0);
    const qreal h = std::floor(c * 9 / 16);
    for (int i = 0; i < 2; ++i) {
        m_buttons[i]->setFrame(QRectF(kOuterMargin + i * (c + kOuterMargin), kCardTop, c,
                                      std::max(size.height() - kCardBottomSpace, 0.0)));
        m_coverViews[i]->setFrame(QRectF(0, 0, c, h));
        const QString duration = m_durationLabels[i]->text();
        const qreal textWidth = duration.isEmpty() ? 0 : std::ceil(QFontMetricsF(m_durationLabels[i]->font()).horizontalAdvance(duration));
        const qreal d = std::max(std::min(std::max(textWidth + kBadgePadding, kBadgeMinWidth), c - 5), 0.0);
        m_durationLabels[i]->setFrame(QRectF(c - d - kBadgeEdge, h - kBadgeBottom, d, kBadgeHeight));
        m_titleLabels[i]->setFrame(QRectF(kTextInset, h + kTitleGap, std::max(c - 2 * kTextInset, 0.0), kTitleHeight));
        m_metaLabels[i]->setFrame(QRectF(kTextInset, h + kMetaGap, std::max(c - 2 * kTextInset, 0.0), kMetaHeight));
    }
}

// The page's colours from the shared theme, and the interaction buttons' images and states.

#include "video/KRVideoDetailViewController.h"

#include "look/KRTarnwick23Skin.h"
#include "look/KRTheme.h"
#include "platform/device/DeviceProfile.h"
#include "platform/uikit/ActivityIndicatorView.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/Image.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/NavigationItem.h"
#include "platform/uikit/ScrollView.h"
#include "platform/uikit/SegmentedControl.h"
#include "platform/uikit/TableView.h"
#include "platform/uikit/TextField.h"
#include "platform/uikit/Toolbar.h"
#include "platform/uikit/View.h"
#include "shared/KRLoadMoreView.h"
#include "store/KRPreferences.h"
#include "video/KRInteractionButton.h"
#include "video/KRVideoDetailSupport.h"

#include <QImage>
#include <QPainter>

#include <array>

using namespace platform::uikit;

namespace {

QColor grey(qreal white, qreal alpha = 1) { return QColor::fromRgbF(white, white, white, alpha); }

// Two one-point columns between the segments: a dark groove and its light edge.
Image segmentDividerImage(int style)
{
    static std::array<Image, 3> dividers;
    const int index = std::clamp(style, 0, 2);
    Image& divider = dividers[size_t(index)];
    if (!divider.isNull())
        return divider;
    QColor first, second;
    switch (index) {
    case 0: first = grey(0.43, 0.76); second = grey(1.0, 0.72); break;
    case 1: first = grey(0.0, 0.82); second = grey(1.0, 0.16); break;
    default: first = QColor::fromRgbF(0.90, 0.52, 0.66, 0.72); second = grey(1.0, 0.72); break;
    }
    const qreal scale = std::max<qreal>(1, platform::DeviceProfile::screenScale());
    QImage bitmap(QSize(int(2 * scale), int(32 * scale)), QImage::Format_ARGB32_Premultiplied);
    bitmap.setDevicePixelRatio(scale);
    bitmap.fill(Qt::transparent);
    QPainter painter(&bitmap);
    painter.fillRect(QRectF(0, 1, 1, 30), first);
    painter.fillRect(QRectF(1, 1, 1, 30), second);
    painter.end();
    divider = Image(bitmap);
    return divider;
}

void applyPaleButton(Button* button, const KRTheme* theme)
{
    button->setBackgroundImage(KRTarnwick23PaleButtonBackground(theme, false), ControlStateNormal);
    button->setBackgroundImage(KRTarnwick23PaleButtonBackground(theme, true), ControlStateHighlighted);
    button->setTitleColor(KRTarnwick23PaleButtonTitleColor(theme), ControlStateNormal);
    button->setTitleColor(KRTarnwick23PaleButtonTitleColor(theme), ControlStateHighlighted);
    button->setTitleColor(theme->secondaryTextColor(), ControlStateDisabled);
    button->setTitleShadowColor(KRTarnwick23PaleButtonTitleShadowColor(theme), ControlStateNormal);
    button->setTitleShadowColor(KRTarnwick23PaleButtonTitleShadowColor(theme), ControlStateHighlighted);
}

} // namespace

void KRVideoDetailViewController::applyCardShadow(View* card)
{
    card->setShadowColor(Qt::black);
    card->setShadowOffset(QSizeF(0, 1));
    card->setShadowRadius(0.8);
    // Old devices draw no card shadows: each one costs a blur per repaint.
    const bool oldDevice = KRPreferences::sharedPreferences().isA4OrEarlierDevice();
    card->setShadowOpacity(oldDevice ? 0 : KRTheme::sharedTheme()->style() == 1 ? 0.38 : 0.16);
}

void KRVideoDetailViewController::applyTheme()
{
    KRTheme* theme = KRTheme::sharedTheme();
    navigationItem()->setTitleView(theme->navigationTitleLabelWithText(QStringLiteral("视频")));
    if (!isViewLoaded() || !m_player.playerContainer)
        return;
    const QBrush background = theme->backgroundColor();
    for (View* view : {view(), static_cast<View*>(m_pager.pager), static_cast<View*>(m_pager.infoScrollView), m_pager.commentsView})
        view->setBackgroundColor(background);
    m_tabs.detailTabBar->setBackgroundColor(QBrush(Qt::NoBrush));

    SegmentedControl* segment = m_tabs.detailSegment;
    segment->setTintColor(theme->navigationColor());
    segment->setBackgroundImage(KRSkeuomorphicActionImage(theme, false), ControlStateNormal);
    segment->setBackgroundImage(KRSkeuomorphicActionImage(theme, true), ControlStateSelected);
    segment->setBackgroundImage(KRSkeuomorphicActionImage(theme, true), ControlStateHighlighted);
    const Image divider = segmentDividerImage(theme->style());
    segment->setDividerImage(divider, ControlStateNormal, ControlStateNormal);
    segment->setDividerImage(divider, ControlStateSelected, ControlStateNormal);
    segment->setDividerImage(divider, ControlStateNormal, ControlStateSelected);
    KRApplySegmentTitleColors(segment, theme);

    Button* compose = m_tabs.danmakuComposeButton;
    const bool dark = theme->style() == 1;
    compose->setTitleColor(dark ? grey(0.94) : QColor(Qt::black), ControlStateNormal);
    compose->setTitleColor(Qt::white, ControlStateHighlighted);
    compose->setTitleColor(grey(0.42), ControlStateDisabled);
    compose->setTitleShadowColor(dark ? grey(0, 0.72) : grey(1, 0.92), ControlStateNormal);
    compose->setTitleShadowColor(grey(0, 0.35), ControlStateHighlighted);
    compose->setTitleShadowColor(dark ? grey(0, 0.55) : grey(1, 0.72), ControlStateDisabled);
    compose->setBackgroundImage(KRSkeuomorphicActionImage(theme, false), ControlStateNormal);
    compose->setBackgroundImage(KRSkeuomorphicActionImage(theme, true), ControlStateHighlighted);

    m_danmakuComposer.bar->setBackgroundColor(theme->surfaceColor());
    m_danmakuComposer.separator->setBackgroundColor(theme->separatorColor());
    m_danmakuComposer.inputField->setBackground(theme->searchFieldBackgroundImage());
    m_danmakuComposer.inputField->setTextColor(theme->primaryTextColor());

    CommentsPage& c = m_comments;
    c.commentComposerBar->setBackgroundColor(theme->surfaceColor());
    c.commentComposerSeparator->setBackgroundColor(theme->separatorColor());
    c.commentComposerButton->setBackgroundImage(theme->searchFieldBackgroundImage(), ControlStateNormal);
    c.commentComposerButton->setTitleColor(theme->secondaryTextColor(), ControlStateNormal);
    c.commentComposerButton->setTitleColor(theme->accentColor(), ControlStateHighlighted);
    c.commentInputField->setBackground(theme->searchFieldBackgroundImage());
    c.commentInputField->setTextColor(theme->primaryTextColor());
    c.commentEmoteButton->setBackgroundImage(theme->searchFieldBackgroundImage(), ControlStateNormal);
    const Image emoji = Image::named(QStringLiteral("Davirivu961/comment_emoji"));
    c.commentEmoteButton->setImage(KRDetailTintedImage(emoji, theme->secondaryTextColor()), ControlStateNormal);
    c.commentEmoteButton->setImage(KRDetailTintedImage(emoji, theme->accentColor()), ControlStateHighlighted);
    applyPaleButton(c.commentCancelButton, theme);
    applyPaleButton(c.commentSendButton, theme);
    c.commentEmotePanel->setBackgroundColor(theme->surfaceColor());
    c.commentEmotePanel->setBorderColor(theme->separatorColor());

    InformationPage& i = m_info;
    i.titleLabel->setTextColor(theme->primaryTextColor());
    for (View* card : {i.ownerBar, i.summaryCard}) {
        card->setBackgroundColor(theme->surfaceColor());
        card->setBorderWidth(1);
        card->setBorderColor(theme->separatorColor());
    }
    i.interactionBar->setBackgroundColor(theme->surfaceColor());
    i.interactionBar->setCornerRadius(7);
    i.interactionBar->setBorderWidth(1);
    i.interactionBar->setBorderColor(theme->separatorColor());
    for (View* card : {i.ownerBar, i.summaryCard, i.interactionBar})
        applyCardShadow(card);
    i.ownerButton->setTitleColor(theme->primaryTextColor(), ControlStateNormal);
    i.ownerButton->setTitleColor(theme->accentColor(), ControlStateHighlighted);
    i.followButton->setTitleColor(KRTarnwick23ButtonTitleColor(theme), ControlStateNormal);
    i.followButton->setTitleShadowColor(KRTarnwick23ButtonTitleShadowColor(theme), ControlStateNormal);
    i.followButton->setBackgroundImage(KRTarnwick23ButtonBackground(theme, false), ControlStateNormal);
    i.followButton->setBackgroundImage(KRTarnwick23ButtonBackground(theme, true), ControlStateHighlighted);
    i.statsLabel->setTextColor(theme->secondaryTextColor());
    i.identifierLabel->setTextColor(theme->secondaryTextColor());
    i.pageTitleLabel->setTextColor(theme->primaryTextColor());
    i.summaryDisclosureButton->setTitleColor(theme->primaryTextColor(), ControlStateNormal);
    i.summaryDisclosureButton->setTitleColor(theme->accentColor(), ControlStateHighlighted);
    i.summaryLabel->setTextColor(theme->primaryTextColor());
    i.summaryDisclosureGlyph->setTextColor(theme->secondaryTextColor());
    i.tagsTitleLabel->setTextColor(theme->primaryTextColor());
    i.relatedTitleLabel->setTextColor(theme->primaryTextColor());
    i.relatedStateLabel->setTextColor(theme->secondaryTextColor());
    c.commentsStateLabel->setTextColor(theme->secondaryTextColor());
    for (TableView* table : {c.commentsTableView, i.relatedTableView}) {
        table->setBackgroundColor(background);
        table->setSeparatorColor(theme->separatorColor());
    }
    c.commentsLoadMoreView->applyTheme();
    i.relatedLoadMoreView->applyTheme();
    i.detailSpinner->setActivityIndicatorViewStyle(theme->spinnerStyle());

    updateDetailTabs();
    applyOfficialInteractionImages();
    c.commentsTableView->reloadData();
    i.relatedTableView->reloadData();
}

void KRVideoDetailViewController::applyOfficialInteractionImages()
{
    if (!m_info.tripleButton)
        return;
    KRTheme* theme = KRTheme::sharedTheme();
    const QColor secondary = theme->secondaryTextColor(), accent = theme->accentColor();
    const QStringList icons{QStringLiteral("triple"), QStringLiteral("like"), QStringLiteral("coin"), QStringLiteral("favorite")};
    KRInteractionButton* buttons[] = {m_info.tripleButton, m_info.likeButton, m_info.coinButton, m_info.favoriteButton,
                                      m_info.moreButton};
    for (int index = 0; index < 5; ++index) {
        KRInteractionButton* button = buttons[index];
        button->setTitleColor(secondary, ControlStateNormal);
        button->setTitleColor(accent, ControlStateHighlighted);
        button->setTitleColor(accent, ControlStateSelected);
        for (int state : {ControlStateNormal, ControlStateHighlighted, ControlStateSelected})
            button->setBackgroundImage(Image(), state);
        if (index < 4) {
            const QString base = QStringLiteral("Davirivu961/") + icons.at(index);
            const Image selected = Image::named(base + QStringLiteral("_selected"));
            button->setImage(KRDetailTintedImage(Image::named(base), secondary), ControlStateNormal);
            button->setImage(selected, ControlStateHighlighted);
            button->setImage(selected, ControlStateSelected);
        } else {
            const Image share = Image::named(QStringLiteral("Davirivu961/share"));
            button->setImage(KRDetailTintedImage(share, secondary), ControlStateNormal);
            button->setImage(KRDetailTintedImage(share, accent), ControlStateHighlighted);
        }
    }
    const AccountInteractions& state = m_interactions;
    m_info.likeButton->setSelected(state.liked);
    m_info.coinButton->setSelected(state.coined);
    m_info.favoriteButton->setSelected(state.favorited);
    m_info.tripleButton->setSelected(state.liked && state.coined && state.favorited);

    const int limit = coinLimitForCurrentVideo(), count = state.coinCount;
    QString title = QStringLiteral("投币"), value = QStringLiteral("状态读取中");
    if (state.stateLoaded) {
        if (count >= limit) {
            title = QStringLiteral("已投满");
            value = QStringLiteral("%1/%2 枚硬币，已达上限").arg(count).arg(limit);
        } else if (count >= 1) {
            title = QStringLiteral("已投 %1").arg(count);
            value = QStringLiteral("已投 %1 枚，还可投 %2 枚").arg(count).arg(remainingCoinCapacity());
        } else {
            value = QStringLiteral("最多可投 %1 枚硬币").arg(limit);
        }
    }
    m_info.coinButton->setTitle(title, ControlStateNormal);
    m_info.coinButton->setAccessibilityValue(value);
}

#include "video/KRVideoInfoPage.h"

#include "look/KRTarnwick23Skin.h"
#include "look/KRTheme.h"
#include "model/KRTolerantValue.h"
#include "model/KRVideo.h"
#include "platform/uikit/ActivityIndicatorView.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/ScrollView.h"
#include "platform/uikit/TableView.h"
#include "platform/uikit/TapGestureRecognizer.h"
#include "platform/uikit/View.h"
#include "service/KRAPIClient.h"
#include "images/KRImageLoader.h"
#include "shared/KRLoadMoreView.h"
#include "store/KRPreferences.h"
#include "video/KRInteractionButton.h"
#include "video/KRVideoDetailSupport.h"
#include "video/KRVideoRelatedCell.h"

#include <QDateTime>
#include <QPointer>

#include <cmath>

using namespace platform::uikit;

namespace {

constexpr qreal kInset = 10;
constexpr qreal kRelatedRowHeight = 86;
// How far past the end a drag pulls before it asks for related videos again.
constexpr qreal kPullDistance = 40;
const QString kRelatedCellIdentifier = QStringLiteral("KRDetailRelated");


template <typename T>
T* named(T* view, const char* name)
{
    view->setObjectName(QString::fromLatin1(name));
    return view;
}

void applyCardShadow(View* card)
{
    card->setShadowColor(Qt::black);
    card->setShadowOffset(QSizeF(0, 1));
    card->setShadowRadius(0.8);
    // Old devices draw no card shadows: each one costs a blur per repaint.
    const bool oldDevice = KRPreferences::sharedPreferences().isA4OrEarlierDevice();
    card->setShadowOpacity(oldDevice ? 0 : KRTheme::sharedTheme()->style() == 1 ? 0.38 : 0.16);
}

QString partTitle(const KRVideoPartInfo& page) { return page.value(QStringLiteral("part")).toString(); }

} // namespace

KRVideoInfoPage::KRVideoInfoPage(Actions actions, QObject* parent)
    : QObject(parent)
    , m_actions(std::move(actions))
{
}

KRVideoInfoPage::~KRVideoInfoPage()
{
    // The tables may outlive the part inside a view torn down later.
    if (m_views.relatedTableView) {
        m_views.relatedTableView->setDataSource(nullptr);
        m_views.relatedTableView->setTableDelegate(nullptr);
    }
    if (m_views.page)
        m_views.page->setDelegate(nullptr);
}

void KRVideoInfoPage::build(ScrollView* page)
{
    Views& v = m_views;
    v.page = page;
    m_requests.setView(page);
    m_relatedRequests.setView(page);
    page->setDelegate(this);
    auto add = [page](auto* child, const char* name) {
        page->addSubview(child);
        return named(child, name);
    };
    v.titleLabel = add(detailLabelWithFont(Label::systemFont(17, true)), "titleLabel");
    v.titleLabel->setNumberOfLines(0);
    v.ownerBar = add(new View(), "ownerBar");
    v.ownerBar->setCornerRadius(7);
    v.ownerAvatarView = named(new ImageView(Image::named(QStringLiteral("Tarnwick23/tv42")), v.ownerBar), "ownerAvatarView");
    v.ownerAvatarView->setContentMode(ContentModeScaleAspectFill);
    v.ownerAvatarView->setCornerRadius(17);
    v.ownerButton = named(new Button(ButtonTypeCustom, QRectF(), v.ownerBar), "ownerButton");
    v.ownerButton->titleLabel()->setFont(Label::systemFont(13, true));
    v.ownerButton->titleLabel()->setTextAlignment(TextAlignmentLeft);
    v.ownerButton->addTarget(ControlEventTouchUpInside, [this] {
        if (m_actions.ownerTapped)
            m_actions.ownerTapped();
    });
    v.followButton = named(new Button(ButtonTypeCustom, QRectF(), v.ownerBar), "followButton");
    v.followButton->titleLabel()->setFont(Label::systemFont(12, true));
    v.followButton->setTitle(QStringLiteral("＋关注"), ControlStateNormal);
    v.followButton->addTarget(ControlEventTouchUpInside, [this] {
        if (m_actions.followTapped)
            m_actions.followTapped();
    });
    v.statsLabel = add(detailLabelWithFont(Label::systemFont(11)), "statsLabel");
    v.identifierLabel = add(detailLabelWithFont(Label::systemFont(10)), "identifierLabel");
    buildInteractionBar();
    buildSummaryCard();
    v.relatedTitleLabel = named(detailLabelWithFont(Label::systemFont(13, true)), "relatedTitleLabel");
    v.page->addSubview(v.relatedTitleLabel);
    v.relatedTitleLabel->setText(QStringLiteral("相关推荐"));
    v.relatedTitleLabel->setHidden(true);
    v.detailSpinner = named(new ActivityIndicatorView(ActivityIndicatorStyleGray), "detailSpinner");
    v.page->addSubview(v.detailSpinner);
}

void KRVideoInfoPage::buildInteractionBar()
{
    Views& v = m_views;
    v.interactionBar = named(new View(), "interactionBar");
    v.page->addSubview(v.interactionBar);
    v.interactionBar->setBackgroundColor(QBrush(Qt::NoBrush));
    const QStringList titles{QStringLiteral("一键三连"), QStringLiteral("点赞"), QStringLiteral("投币"), QStringLiteral("收藏"),
                             QStringLiteral("更多")};
    const char* names[] = {"tripleButton", "likeButton", "coinButton", "favoriteButton", "moreButton"};
    for (int index = 0; index < 5; ++index) {
        auto* button = named(new KRInteractionButton(ButtonTypeCustom, QRectF(), v.interactionBar), names[index]);
        button->setTag(7600 + index);
        button->titleLabel()->setFont(Label::systemFont(index == 0 ? 10 : 9));
        button->titleLabel()->setTextAlignment(TextAlignmentCenter);
        button->setTitle(titles.at(index), ControlStateNormal);
        button->addTarget(ControlEventTouchUpInside, [this, index] {
            if (m_actions.interactionTapped)
                m_actions.interactionTapped(7600 + index);
        });
        v.interactionButtons.append(button);
    }
}

void KRVideoInfoPage::buildSummaryCard()
{
    Views& v = m_views;
    v.summaryCard = named(new View(), "summaryCard");
    v.page->addSubview(v.summaryCard);
    v.summaryCard->setCornerRadius(7);
    v.summaryDisclosureButton = named(new Button(ButtonTypeCustom, QRectF(), v.summaryCard), "summaryDisclosureButton");
    v.summaryDisclosureButton->titleLabel()->setFont(Label::systemFont(13, true));
    v.summaryDisclosureButton->titleLabel()->setTextAlignment(TextAlignmentLeft);
    v.summaryDisclosureButton->setContentEdgeInsets(EdgeInsets{0, 10, 0, 8});
    v.summaryDisclosureButton->addTarget(ControlEventTouchUpInside, [this] { summaryDisclosureTapped(); });
    v.summaryDisclosureGlyph = named(detailLabelWithFont(Label::systemFont(11)), "summaryDisclosureGlyph");
    v.summaryDisclosureGlyph->setTextAlignment(TextAlignmentRight);
    v.summaryCard->addSubview(v.summaryDisclosureGlyph);
    v.summaryLabel = named(detailLabelWithFont(Label::systemFont(13)), "summaryLabel");
    v.summaryLabel->setNumberOfLines(0);
    v.summaryCard->addSubview(v.summaryLabel);
}

// The parts below show only for some videos or some answers: each is made the first time it
// has something to show, and themed then.

void KRVideoInfoPage::buildPartStrip()
{
    Views& v = m_views;
    if (v.pageStrip)
        return;
    v.pageStrip = named(new ScrollView(), "pageStrip");
    v.page->addSubview(v.pageStrip);
    v.pageStrip->setShowsVerticalScrollIndicator(false);
    v.pageTitleLabel = named(detailLabelWithFont(Label::systemFont(12, true)), "pageTitleLabel");
    v.pageStrip->addSubview(v.pageTitleLabel);
    applyPartStripTheme();
}

void KRVideoInfoPage::buildTags()
{
    Views& v = m_views;
    if (v.tagsContainer)
        return;
    v.tagsTitleLabel = named(detailLabelWithFont(Label::systemFont(13, true)), "tagsTitleLabel");
    v.tagsTitleLabel->setText(QStringLiteral("Tag"));
    v.tagsTitleLabel->setHidden(true);
    v.summaryCard->addSubview(v.tagsTitleLabel);
    v.tagsContainer = named(new View(QRectF(), v.summaryCard), "tagsContainer");
    v.tagsContainer->setBackgroundColor(QBrush(Qt::NoBrush));
    v.tagsContainer->setHidden(true);
    v.tagsTitleLabel->setTextColor(KRTheme::sharedTheme()->primaryTextColor());
}

void KRVideoInfoPage::buildRelatedTable()
{
    Views& v = m_views;
    if (v.relatedTableView)
        return;
    v.relatedTableView = named(new TableView(QRectF(), TableViewStylePlain), "relatedTableView");
    v.page->addSubview(v.relatedTableView);
    v.relatedTableView->setScrollEnabled(false);
    v.relatedTableView->setRowHeight(kRelatedRowHeight);
    v.relatedTableView->setSeparatorStyle(TableViewCellSeparatorStyleSingleLine);
    v.relatedTableView->setHidden(true);
    v.relatedTableView->setDataSource(this);
    v.relatedTableView->setTableDelegate(this);
    v.relatedLoadMoreView = named(new KRLoadMoreView(QRectF(0, 0, v.page->bounds().width(), 44)), "relatedLoadMoreView");
    v.relatedLoadMoreView->setIdleTitle(QStringLiteral("上拉加载更多"));
    v.relatedLoadMoreView->addTarget([this] { loadRelatedVideos(); });
    v.relatedTableView->setTableFooterView(v.relatedLoadMoreView);
    applyRelatedTableTheme();
}

void KRVideoInfoPage::applyRelatedTableTheme()
{
    Views& v = m_views;
    if (!v.relatedTableView)
        return;
    KRTheme* theme = KRTheme::sharedTheme();
    v.relatedTableView->setBackgroundColor(theme->backgroundColor());
    v.relatedTableView->setSeparatorColor(theme->separatorColor());
    v.relatedLoadMoreView->applyTheme();
}

void KRVideoInfoPage::buildRelatedStateLabel()
{
    Views& v = m_views;
    if (v.relatedStateLabel)
        return;
    v.relatedStateLabel = named(detailLabelWithFont(Label::systemFont(12)), "relatedStateLabel");
    v.page->addSubview(v.relatedStateLabel);
    v.relatedStateLabel->setNumberOfLines(2);
    v.relatedStateLabel->setTextAlignment(TextAlignmentCenter);
    v.relatedStateLabel->setHidden(true);
    v.relatedStateLabel->setTextColor(KRTheme::sharedTheme()->secondaryTextColor());
}

void KRVideoInfoPage::applyTheme()
{
    KRTheme* theme = KRTheme::sharedTheme();
    Views& v = m_views;
    v.titleLabel->setTextColor(theme->primaryTextColor());
    for (View* card : {v.ownerBar, v.summaryCard}) {
        card->setBackgroundColor(theme->surfaceColor());
        card->setBorderWidth(1);
        card->setBorderColor(theme->separatorColor());
    }
    v.interactionBar->setBackgroundColor(theme->surfaceColor());
    v.interactionBar->setCornerRadius(7);
    v.interactionBar->setBorderWidth(1);
    v.interactionBar->setBorderColor(theme->separatorColor());
    for (View* card : {v.ownerBar, v.summaryCard, v.interactionBar})
        applyCardShadow(card);
    v.ownerButton->setTitleColor(theme->primaryTextColor(), ControlStateNormal);
    v.ownerButton->setTitleColor(theme->accentColor(), ControlStateHighlighted);
    v.followButton->setTitleColor(KRTarnwick23ButtonTitleColor(theme), ControlStateNormal);
    v.followButton->setTitleShadowColor(KRTarnwick23ButtonTitleShadowColor(theme), ControlStateNormal);
    v.followButton->titleLabel()->setShadowOffset(KRTarnwick23ButtonTitleShadowOffset(theme));
    v.followButton->setBackgroundImage(KRTarnwick23ButtonBackground(theme, false), ControlStateNormal);
    v.followButton->setBackgroundImage(KRTarnwick23ButtonBackground(theme, true), ControlStateHighlighted);
    v.statsLabel->setTextColor(theme->secondaryTextColor());
    v.identifierLabel->setTextColor(theme->secondaryTextColor());
    applyPartStripTheme();
    v.summaryDisclosureButton->setTitleColor(theme->primaryTextColor(), ControlStateNormal);
    v.summaryDisclosureButton->setTitleColor(theme->accentColor(), ControlStateHighlighted);
    v.summaryLabel->setTextColor(theme->primaryTextColor());
    v.summaryDisclosureGlyph->setTextColor(theme->secondaryTextColor());
    if (v.tagsTitleLabel)
        v.tagsTitleLabel->setTextColor(theme->primaryTextColor());
    v.relatedTitleLabel->setTextColor(theme->primaryTextColor());
    if (v.relatedStateLabel)
        v.relatedStateLabel->setTextColor(theme->secondaryTextColor());
    applyRelatedTableTheme();
    v.detailSpinner->setActivityIndicatorViewStyle(theme->spinnerStyle());
    applyOfficialInteractionImages();
    if (v.relatedTableView)
        v.relatedTableView->reloadData();
}

void KRVideoInfoPage::applyPartStripTheme()
{
    Views& v = m_views;
    if (!v.pageTitleLabel)
        return;
    KRTheme* theme = KRTheme::sharedTheme();
    v.pageTitleLabel->setTextColor(theme->primaryTextColor());
    for (Button* button : std::as_const(v.partButtons)) {
        button->setTitleColor(theme->secondaryTextColor(), ControlStateNormal);
        button->setTitleColor(theme->accentColor(), ControlStateHighlighted);
        // The marked part sits on the pressed face, which is dark in every style: white reads on
        // it as the selected tab's title does.
        button->setTitleColor(QColor(Qt::white), ControlStateSelected);
        button->setBackgroundImage(KRSkeuomorphicActionImage(theme, false), ControlStateNormal);
        button->setBackgroundImage(KRSkeuomorphicActionImage(theme, true), ControlStateSelected);
    }
}

void KRVideoInfoPage::showVideo(const std::shared_ptr<KRVideo>& video, int selectedPageIndex)
{
    m_video = video;
    m_selectedPageIndex = selectedPageIndex;
    if (!m_views.titleLabel || !video)
        return;
    const KRVideo& shown = *video;
    Views& v = m_views;
    v.titleLabel->setText(shown.title());
    v.ownerButton->setTitle(shown.ownerName().isEmpty() ? QStringLiteral("UP主") : shown.ownerName(), ControlStateNormal);
    v.statsLabel->setText(QStringLiteral("%1 播放 · %2 弹幕 · %3").arg(shown.displayPlayCount(), shown.displayDanmakuCount(),
                                                                      shown.displayDuration()));
    QString identifiers = shown.displayIdentifier();
    if (shown.aid() > 0)
        identifiers += QStringLiteral(" · av%1").arg(shown.aid());
    if (shown.publishTimestamp() > 0)
        identifiers += QStringLiteral(" · ")
                       + QDateTime::fromSecsSinceEpoch(qint64(shown.publishTimestamp())).toString(QStringLiteral("yyyy-MM-dd HH:mm"));
    v.identifierLabel->setText(identifiers);
    showParts();
    const QString summary = shown.summary().trimmed().isEmpty() ? QStringLiteral("暂无简介") : shown.summary().trimmed();
    v.summaryDisclosureButton->setTitle(QStringLiteral("简介"), ControlStateNormal);
    v.summaryDisclosureGlyph->setText(m_summaryExpanded ? QStringLiteral("收起 ▲") : QStringLiteral("展开 ▼"));
    v.summaryLabel->setText(summary);
    v.summaryLabel->setNumberOfLines(m_summaryExpanded ? 0 : 3);
    // The coin limit follows the video; the icons and colours follow only the theme.
    applyInteractionState();
    const QString avatar = shown.ownerAvatarURL();
    if (QObject* owner = avatar.isEmpty() ? nullptr : m_requests.owner()) {
        QPointer<ImageView> view = v.ownerAvatarView;
        KRImageLoader::sharedLoader()->loadImageForURLString(avatar, owner, [this, view, avatar](const Image& image) {
            if (view && !image.isNull() && m_video && m_video->ownerAvatarURL() == avatar)
                view->setImage(image);
        });
    }
    updateInfoLayout();
}

void KRVideoInfoPage::showParts()
{
    Views& v = m_views;
    const QList<KRVideoPartInfo> pages = m_video->pages();
    if (pages.size() > 1)
        buildPartStrip();
    if (!v.pageStrip)
        return;
    if (pages.size() > 1) {
        const KRVideoPartInfo page = pages.value(m_selectedPageIndex);
        v.pageTitleLabel->setText(QStringLiteral("P%1/%2 %3").arg(m_selectedPageIndex + 1).arg(pages.size()).arg(partTitle(page)));
    } else {
        v.pageTitleLabel->setText(QString());
    }
    const qsizetype wanted = pages.size() > 1 ? pages.size() : 0;
    while (v.partButtons.size() > wanted)
        delete v.partButtons.takeLast();
    while (v.partButtons.size() < wanted) {
        const int index = int(v.partButtons.size());
        auto* button = new Button(ButtonTypeCustom, QRectF(), v.pageStrip);
        button->setObjectName(QStringLiteral("pageButton%1").arg(index));
        button->titleLabel()->setFont(Label::systemFont(11, true));
        button->setContentEdgeInsets(EdgeInsets{0, 8, 0, 8});
        button->addTarget(ControlEventTouchUpInside, [this, index] {
            if (m_actions.partTapped)
                m_actions.partTapped(index);
        });
        v.partButtons.append(button);
    }
    for (int index = 0; index < wanted; ++index) {
        Button* button = v.partButtons.at(index);
        const QString title = QStringLiteral("P%1 %2").arg(index + 1).arg(partTitle(pages.at(index)));
        button->setTitle(title.trimmed(), ControlStateNormal);
        button->setAccessibilityLabel(title.trimmed());
        button->setSelected(index == m_selectedPageIndex);
    }
    if (!v.partButtons.isEmpty())
        applyPartStripTheme();
}

void KRVideoInfoPage::updateInfoLayout()
{
    Views& v = m_views;
    if (!v.titleLabel)
        return;
    const qreal width = v.page->bounds().width();
    const qreal inner = std::max<qreal>(width - 2 * kInset, 1);
    qreal y = 10;
    v.titleLabel->setFrame(QRectF(kInset, y, inner, fittedHeight(v.titleLabel, inner, m_titleHeight)));
    y = v.titleLabel->frame().bottom() + 8;
    v.ownerBar->setFrame(QRectF(kInset, y, inner, 48));
    v.ownerAvatarView->setFrame(QRectF(7, 7, 34, 34));
    v.followButton->setFrame(QRectF(inner - 70, 10, 62, 28));
    v.ownerButton->setFrame(QRectF(48, 7, std::max<qreal>(inner - 48 - 78, 1), 34));
    y = v.ownerBar->frame().bottom() + 8;
    v.statsLabel->setFrame(QRectF(kInset, y, inner, 15));
    v.identifierLabel->setFrame(QRectF(kInset, y + 16, inner, 14));
    y += 36;
    v.interactionBar->setFrame(QRectF(kInset, y, inner, 54));
    const qreal buttonWidth = std::floor(inner / 5);
    for (int index = 0; index < v.interactionButtons.size(); ++index)
        v.interactionButtons.at(index)->setFrame(
            QRectF(std::floor((inner - 5 * buttonWidth) / 2) + index * buttonWidth, 2, buttonWidth, 50));
    y = v.interactionBar->frame().bottom() + 8;
    const bool hasParts = v.pageTitleLabel && !v.pageTitleLabel->text().isEmpty();
    if (v.pageStrip)
        v.pageStrip->setHidden(!hasParts);
    if (hasParts) {
        v.pageStrip->setFrame(QRectF(kInset, y, inner, 24));
        layoutPartStrip(inner);
        y += 30;
    }
    v.summaryCard->setFrame(QRectF(kInset, y, inner, layoutSummaryCard(inner)));
    y = v.summaryCard->frame().bottom() + 12;
    const bool hasRelated = !m_related.videos.isEmpty();
    v.relatedTitleLabel->setHidden(!hasRelated && !m_related.loading);
    v.relatedTitleLabel->setFrame(QRectF(kInset, y, inner, 18));
    y += 24;
    if (v.relatedTableView)
        v.relatedTableView->setHidden(!hasRelated);
    if (v.relatedStateLabel)
        v.relatedStateLabel->setFrame(QRectF(kInset, y, inner, 36));
    if (hasRelated && v.relatedTableView) {
        const qreal tableHeight = m_related.videos.size() * kRelatedRowHeight + 44;
        v.relatedTableView->setFrame(QRectF(0, y, width, tableHeight));
        y += tableHeight;
    } else if (v.relatedStateLabel && !v.relatedStateLabel->isHidden()) {
        y += 40;
    }
    v.detailSpinner->setFrame(QRectF(std::floor((width - 20) / 2), y + 4, 20, 20));
    v.page->setContentSize(QSizeF(width, y + 32));
}

platform::uikit::Label* KRVideoInfoPage::detailLabelWithFont(const QFont& font)
{
    auto* label = new platform::uikit::Label(QRectF(), nullptr);
    label->setBackgroundColor(QBrush(Qt::NoBrush));
    label->setFont(font);
    return label;
}

qreal KRVideoInfoPage::fittedHeight(Label* label, qreal width, MeasuredHeight& measured)
{
    // Every layout pass asks again (each answer, each theme, each row loaded); the text is laid
    // out only when it or its width has changed.
    if (measured.width != width || measured.lines != label->numberOfLines() || measured.text != label->text()) {
        measured.text = label->text();
        measured.width = width;
        measured.lines = label->numberOfLines();
        measured.height = std::ceil(label->sizeThatFits(QSizeF(width, 10000)).height());
    }
    return measured.height;
}

void KRVideoInfoPage::layoutPartStrip(qreal inner)
{
    Views& v = m_views;
    const qreal titleWidth = std::ceil(v.pageTitleLabel->sizeThatFits(QSizeF(10000, 24)).width());
    // The title keeps the whole strip when it is the strip's only content.
    qreal x = v.partButtons.isEmpty() ? std::max(titleWidth, inner) : titleWidth;
    v.pageTitleLabel->setFrame(QRectF(0, 0, x, 24));
    for (Button* button : std::as_const(v.partButtons)) {
        const qreal buttonWidth = std::ceil(button->sizeThatFits(QSizeF(10000, 24)).width()) + 16;
        x += 6;
        button->setFrame(QRectF(x, 0, std::max<qreal>(buttonWidth, 44), 24));
        x = button->frame().right();
    }
    v.pageStrip->setContentSize(QSizeF(std::max(x, inner), 24));
}

qreal KRVideoInfoPage::layoutSummaryCard(qreal inner)
{
    Views& v = m_views;
    const qreal cardInner = std::max<qreal>(inner - 20, 1);
    v.summaryDisclosureButton->setFrame(QRectF(0, 0, inner, 34));
    v.summaryDisclosureGlyph->setFrame(QRectF(inner - 90, 8, 80, 18));
    qreal cardY = 34;
    v.summaryLabel->setFrame(QRectF(10, cardY, cardInner, fittedHeight(v.summaryLabel, cardInner, m_summaryHeight)));
    cardY = v.summaryLabel->frame().bottom() + 8;
    const bool hasTags = !m_related.tags.isEmpty();
    if (!hasTags) {
        if (v.tagsContainer) {
            v.tagsTitleLabel->setHidden(true);
            v.tagsContainer->setHidden(true);
        }
        return cardY;
    }
    buildTags();
    v.tagsTitleLabel->setHidden(false);
    v.tagsContainer->setHidden(false);
    v.tagsTitleLabel->setFrame(QRectF(10, cardY, cardInner, 18));
    cardY += 22;
    // Tags flow in rows of small labels.
    qreal x = 0, rowY = 0;
    const QList<Label*> tagLabels = v.tagsContainer->findChildren<Label*>(QString(), Qt::FindDirectChildrenOnly);
    for (Label* label : tagLabels) {
        const qreal tagWidth = std::min(cardInner, std::ceil(label->sizeThatFits(QSizeF(10000, 22)).width()) + 14);
        if (x > 0 && x + tagWidth > cardInner) {
            x = 0;
            rowY += 28;
        }
        label->setFrame(QRectF(x, rowY, tagWidth, 22));
        x += tagWidth + 6;
    }
    const qreal tagsHeight = tagLabels.isEmpty() ? 0 : rowY + 22;
    v.tagsContainer->setFrame(QRectF(10, cardY, cardInner, tagsHeight));
    return cardY + tagsHeight + 10;
}

void KRVideoInfoPage::setDetailLoading(bool loading)
{
    if (loading)
        m_views.detailSpinner->startAnimating();
    else
        m_views.detailSpinner->stopAnimating();
}

void KRVideoInfoPage::summaryDisclosureTapped()
{
    m_summaryExpanded = !m_summaryExpanded;
    showVideo(m_video, m_selectedPageIndex);
}

// ---- tags and related videos ----

void KRVideoInfoPage::loadTags()
{
    QObject* owner = m_requests.owner();
    if (!m_video || !owner)
        return;
    KRAPIClient::sharedClient()->loadTagsForVideo(m_video, owner, [this](const QStringList& tags, const KROptionalError&) {
        m_related.tags = tags;
        if (!tags.isEmpty())
            buildTags();
        if (m_views.tagsContainer)
            qDeleteAll(m_views.tagsContainer->findChildren<Label*>(QString(), Qt::FindDirectChildrenOnly));
        KRTheme* theme = KRTheme::sharedTheme();
        for (const QString& tag : tags) {
            auto* label = new Label(QRectF(), m_views.tagsContainer);
            label->setFont(Label::systemFont(11));
            label->setText(tag);
            label->setTextAlignment(TextAlignmentCenter);
            label->setTextColor(theme->secondaryTextColor());
            label->setBackgroundColor(theme->backgroundColor());
            label->setCornerRadius(11);
            // A tag opens a search for itself: the label takes the touch its tap needs.
            label->setUserInteractionEnabled(true);
            new TapGestureRecognizer(label, [this, tag] {
                if (m_actions.tagTapped)
                    m_actions.tagTapped(tag);
            });
        }
        updateInfoLayout();
    });
}

void KRVideoInfoPage::loadRelatedVideos()
{
    if (m_related.loading || !m_related.hasMore || !m_video)
        return;
    QObject* owner = m_relatedRequests.begin();
    if (!owner)
        return;
    m_related.loading = true;
    buildRelatedTable();
    m_views.relatedLoadMoreView->setLoadMoreState(KRLoadMoreStateLoading);
    KRAPIClient::sharedClient()->loadRelatedVideosForVideo(
        m_video, owner, [this](const KRVideoList& videos, const KROptionalError& error) { applyRelatedVideos(videos, error); });
}

void KRVideoInfoPage::applyRelatedVideos(const KRVideoList& videos, const KROptionalError& error)
{
    m_related.loading = false;
    for (const std::shared_ptr<KRVideo>& video : videos) {
        const QString identity = video ? video->feedIdentity() : QString();
        if (!video || identity.isEmpty() || m_related.identities.contains(identity))
            continue;
        m_related.identities.insert(identity);
        m_related.videos.append(video);
    }
    // The service answers one list of related videos; only a failed one is asked again.
    m_related.hasMore = bool(error);
    buildRelatedTable();
    Views& v = m_views;
    v.relatedLoadMoreView->setLoadMoreState(error ? KRLoadMoreStateFailed : KRLoadMoreStateNoMore);
    if (m_related.videos.isEmpty())
        buildRelatedStateLabel();
    if (v.relatedStateLabel) {
        v.relatedStateLabel->setHidden(!m_related.videos.isEmpty());
        v.relatedStateLabel->setText(error ? QStringLiteral("相关推荐加载失败") : QStringLiteral("暂无相关推荐"));
    }
    v.relatedTableView->reloadData();
    updateInfoLayout();
}

void KRVideoInfoPage::trimRelatedForMemoryWarning()
{
    if (m_related.videos.size() < 5 || !m_views.relatedTableView)
        return;
    m_related.videos = m_related.videos.mid(0, 4);
    m_related.identities.clear();
    for (const std::shared_ptr<KRVideo>& video : std::as_const(m_related.videos)) {
        if (!video->feedIdentity().isEmpty())
            m_related.identities.insert(video->feedIdentity());
    }
    m_related.hasMore = true;
    if (!m_related.loading)
        m_views.relatedLoadMoreView->setLoadMoreState(KRLoadMoreStateIdle);
    m_views.relatedTableView->reloadData();
    updateInfoLayout();
}

void KRVideoInfoPage::scrollViewWillBeginDragging(ScrollView* scrollView)
{
    if (scrollView != m_views.page)
        return;
    m_related.pullArmed = false;
    m_related.loadTriggeredForDrag = false;
}

void KRVideoInfoPage::scrollViewDidScroll(ScrollView* scrollView)
{
    if (scrollView != m_views.page || !scrollView->isDragging() || m_related.loadTriggeredForDrag)
        return;
    const qreal beyondEnd = scrollView->contentOffset().y() + scrollView->bounds().height()
                            - std::max(scrollView->contentSize().height(), scrollView->bounds().height());
    m_related.pullArmed = beyondEnd >= kPullDistance && m_related.hasMore && !m_related.loading;
}

void KRVideoInfoPage::scrollViewDidEndDragging(ScrollView* scrollView, bool)
{
    if (scrollView != m_views.page || !m_related.pullArmed)
        return;
    m_related.pullArmed = false;
    m_related.loadTriggeredForDrag = true;
    loadRelatedVideos();
}

// ---- account state ----

void KRVideoInfoPage::setInteractions(const Interactions& interactions)
{
    m_interactions = interactions;
    applyInteractionState();
}

View* KRVideoInfoPage::interactionButton(int index) const { return m_views.interactionButtons.value(index); }

View* KRVideoInfoPage::followButton() const { return m_views.followButton; }

int KRVideoInfoPage::coinLimit() const { return KRCoinLimitForCopyright(m_video ? m_video->copyright() : 0); }

void KRVideoInfoPage::applyOfficialInteractionImages()
{
    if (m_views.interactionButtons.size() != 5)
        return;
    KRTheme* theme = KRTheme::sharedTheme();
    const QColor secondary = theme->secondaryTextColor(), accent = theme->accentColor();
    const QStringList icons{QStringLiteral("triple"), QStringLiteral("like"), QStringLiteral("coin"), QStringLiteral("favorite")};
    for (int index = 0; index < 5; ++index) {
        KRInteractionButton* button = m_views.interactionButtons.at(index);
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
    applyInteractionState();
}

void KRVideoInfoPage::applyInteractionState()
{
    if (m_views.interactionButtons.size() != 5)
        return;
    const Interactions& state = m_interactions;
    KRInteractionButton* triple = m_views.interactionButtons.at(0);
    KRInteractionButton* coin = m_views.interactionButtons.at(2);
    m_views.interactionButtons.at(1)->setSelected(state.liked);
    coin->setSelected(state.coined);
    m_views.interactionButtons.at(3)->setSelected(state.favorited);
    triple->setSelected(state.liked && state.coined && state.favorited);

    const int limit = coinLimit(), count = state.coinCount;
    QString title = QStringLiteral("投币"), value = QStringLiteral("状态读取中");
    if (state.stateLoaded) {
        if (count >= limit) {
            title = QStringLiteral("已投满");
            value = QStringLiteral("%1/%2 枚硬币，已达上限").arg(count).arg(limit);
        } else if (count >= 1) {
            title = QStringLiteral("已投 %1").arg(count);
            value = QStringLiteral("已投 %1 枚，还可投 %2 枚").arg(count).arg(std::max(limit - count, 0));
        } else {
            value = QStringLiteral("最多可投 %1 枚硬币").arg(limit);
        }
    }
    coin->setTitle(title, ControlStateNormal);
    coin->setAccessibilityValue(value);
    if (m_views.followButton)
        m_views.followButton->setTitle(state.following ? QStringLiteral("已关注") : QStringLiteral("＋关注"), ControlStateNormal);
}

// ---- the related table ----

int KRVideoInfoPage::numberOfRowsInSection(TableView*, int) { return int(m_related.videos.size()); }

TableViewCell* KRVideoInfoPage::cellForRowAtIndexPath(TableView* table, const IndexPath& indexPath)
{
    auto* cell = qobject_cast<KRVideoRelatedCell*>(table->dequeueReusableCellWithIdentifier(kRelatedCellIdentifier));
    if (!cell)
        cell = new KRVideoRelatedCell(kRelatedCellIdentifier);
    cell->applyTheme();
    cell->configureWithVideo(m_related.videos.value(indexPath.row), m_relatedRequests.owner());
    return cell;
}

qreal KRVideoInfoPage::heightForRowAtIndexPath(TableView*, const IndexPath&) { return kRelatedRowHeight; }

void KRVideoInfoPage::didSelectRowAtIndexPath(TableView* table, const IndexPath& indexPath)
{
    table->deselectRowAtIndexPath(indexPath, true);
    if (const std::shared_ptr<KRVideo> video = m_related.videos.value(indexPath.row); video && m_actions.relatedTapped)
        m_actions.relatedTapped(video);
}

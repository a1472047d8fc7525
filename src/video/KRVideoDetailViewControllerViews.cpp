// The page's view tree, its layout for the device's player height, and the danmaku controls
// of the tab row.

#include "video/KRVideoDetailViewController.h"

#include "look/KRTarnwick23Skin.h"
#include "look/KRTheme.h"
#include "platform/device/DeviceProfile.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/uikit/ActivityIndicatorView.h"
#include "platform/uikit/BarButtonItem.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/ScrollView.h"
#include "platform/uikit/SegmentedControl.h"
#include "platform/uikit/TableView.h"
#include "platform/uikit/TextField.h"
#include "platform/uikit/Toolbar.h"
#include "platform/uikit/View.h"
#include "playback/KRDanmakuRenderer.h"
#include "playback/KRDASHPlayback.h"
#include "playback/KRPlaybackTransport.h"
#include "shared/KRLoadMoreView.h"
#include "video/KRInteractionButton.h"
#include "video/KRVideoDetailSupport.h"

#include <algorithm>
#include <cmath>

using namespace platform::uikit;

namespace {

const QString kDanmakuEnabledKey = QStringLiteral("KRDanmakuEnabled");

template <typename T>
T* named(T* view, const char* name)
{
    view->setObjectName(QString::fromLatin1(name));
    return view;
}

View* emptyLeftView()
{
    return new View(QRectF(0, 0, 8, 1));
}

} // namespace

Label* KRVideoDetailViewController::detailLabelWithFont(const QFont& font)
{
    auto* label = new Label(QRectF(), nullptr);
    label->setBackgroundColor(QBrush(Qt::NoBrush));
    label->setFont(font);
    return label;
}

void KRVideoDetailViewController::buildViewTree()
{
    const qreal width = view()->bounds().width();
    const qreal height = view()->bounds().height();
    buildPlayerArea(width);
    buildTabRow(width);
    buildDanmakuComposer(width);
    buildPager(width, height);
    buildCommentsPage(width);
    buildInformationPage(width);
}

void KRVideoDetailViewController::buildPlayerArea(qreal width)
{
    PlayerArea& p = m_player;
    p.playerContainer = named(new View(QRectF(0, 0, width, 180), view()), "playerContainer");
    p.playerContainer->setAutoresizingMask(AutoresizingFlexibleWidth);
    p.playerContainer->setBackgroundColor(QColor(Qt::black));

    p.coverView = named(new ImageView(p.playerContainer->bounds(), p.playerContainer), "coverView");
    p.coverView->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
    p.coverView->setContentMode(ContentModeScaleAspectFill);
    p.coverView->setBackgroundColor(QColor(Qt::black));

    p.playButton = named(new Button(ButtonTypeCustom, QRectF((width - 56) / 2, 62, 56, 56), p.playerContainer), "playButton");
    p.playButton->setAutoresizingMask(AutoresizingFlexibleLeftMargin | AutoresizingFlexibleRightMargin
                                      | AutoresizingFlexibleTopMargin | AutoresizingFlexibleBottomMargin);
    Image play = Image::named(QStringLiteral("Davirivu961/play_tv"));
    if (play.isNull())
        play = Image::named(QStringLiteral("Tarnwick23/btn_play_icon"));
    p.playButton->setImage(play, ControlStateNormal);
    p.playButton->setAccessibilityLabel(QStringLiteral("播放"));
    p.playButton->setEnabled(false);
    p.playButton->setAlpha(0.68);
    p.playButton->addTarget(ControlEventTouchUpInside, [this] { playButtonTapped(); });

    p.loadingOverlay = named(new View(p.playerContainer->bounds(), p.playerContainer), "loadingOverlay");
    p.loadingOverlay->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
    p.loadingOverlay->setBackgroundColor(KRTarnwick23LoadingBackgroundColor());
    p.loadingOverlay->setHidden(true);
    p.loadingTVView = named(KRTarnwick23LoadingTVView(QRectF((width - 90) / 2, 38, 90, 90)), "loadingTVView");
    p.loadingOverlay->addSubview(p.loadingTVView);
    p.loadingTVView->setAutoresizingMask(AutoresizingFlexibleLeftMargin | AutoresizingFlexibleRightMargin
                                         | AutoresizingFlexibleTopMargin | AutoresizingFlexibleBottomMargin);
    p.loadingStatusLabel = named(new Label(QRectF(8, 156, width - 16, 18), p.loadingOverlay), "loadingStatusLabel");
    p.loadingStatusLabel->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleTopMargin);
    p.loadingStatusLabel->setBackgroundColor(QBrush(Qt::NoBrush));
    p.loadingStatusLabel->setTextColor(QColor::fromRgbF(0.28, 0.28, 0.28));
    p.loadingStatusLabel->setFont(Label::systemFont(11));

    p.danmakuStatusLabel = named(new Label(QRectF(7, 8, 176, 22), p.playerContainer), "danmakuStatusLabel");
    p.danmakuStatusLabel->setAutoresizingMask(AutoresizingFlexibleRightMargin | AutoresizingFlexibleBottomMargin);
    p.danmakuStatusLabel->setBackgroundColor(QColor::fromRgbF(0, 0, 0, 0.62));
    p.danmakuStatusLabel->setTextColor(Qt::white);
    p.danmakuStatusLabel->setFont(Label::systemFont(11, true));
    p.danmakuStatusLabel->setTextAlignment(TextAlignmentCenter);
    p.danmakuStatusLabel->setNumberOfLines(2);
    p.danmakuStatusLabel->setCornerRadius(4);
    p.danmakuStatusLabel->setHidden(true);

    m_danmaku.enabled = platform::UserDefaults::standard().boolean(kDanmakuEnabledKey, true);
    // Made now, attached when playback starts.
    p.danmakuView = new KRDanmakuRenderer();
    p.danmakuView->setObjectName(QStringLiteral("danmakuView"));
    p.danmakuView->setGeometry(p.playerContainer->bounds().toRect());
    p.danmakuView->setDanmakuEnabled(m_danmaku.enabled);
    p.danmakuView->setParent(this->view());
    p.danmakuView->hide();
    m_danmaku.draft = QString();
}

void KRVideoDetailViewController::buildTabRow(qreal width)
{
    TabRow& t = m_tabs;
    t.detailTabBar = named(new View(QRectF(8, 183, width - 16, 32), view()), "detailTabBar");
    t.detailTabBar->setAutoresizingMask(AutoresizingFlexibleWidth);
    t.detailTabBar->setBackgroundColor(QBrush(Qt::NoBrush));
    t.selectedDetailPage = 0;
    t.detailSegment = named(new SegmentedControl({QStringLiteral("简介"), QStringLiteral("评论")}, t.detailTabBar), "detailSegment");
    t.detailSegment->setSelectedSegmentIndex(0);
    t.detailSegment->addTarget(ControlEventValueChanged, [this] { detailSegmentChanged(); });
    t.danmakuComposeButton = named(new Button(ButtonTypeCustom, QRectF(), t.detailTabBar), "danmakuComposeButton");
    t.danmakuComposeButton->titleLabel()->setFont(Label::systemFont(11, true));
    t.danmakuComposeButton->setTitle(QStringLiteral("发弹幕"), ControlStateNormal);
    t.danmakuComposeButton->setAccessibilityLabel(QStringLiteral("发弹幕"));
    t.danmakuButton = named(new Button(ButtonTypeCustom, QRectF(), t.detailTabBar), "danmakuButton");
    t.danmakuButton->setAccessibilityLabel(QStringLiteral("弹幕开关"));
    t.danmakuButton->addTarget(ControlEventTouchUpInside, [this] { danmakuButtonTapped(); });
}

void KRVideoDetailViewController::buildDanmakuComposer(qreal width)
{
    DanmakuComposer& c = m_danmakuComposer;
    c.bar = named(new View(QRectF(0, 217, width, 42), view()), "danmakuComposerBar");
    c.bar->setAutoresizingMask(AutoresizingFlexibleWidth);
    c.bar->setHidden(true);
    c.separator = named(new View(QRectF(0, 41, width, 1), c.bar), "danmakuComposerSeparator");
    c.inputField = named(new TextField(QRectF(8, 5, width - 16, 32), c.bar), "danmakuInputField");
    c.inputField->setFont(Label::systemFont(12));
    c.inputField->setPlaceholder(QStringLiteral("登录后发弹幕"));
    c.inputField->setClearsWhileEditing(true);
    c.inputField->setLeftView(emptyLeftView());
    c.inputField->addTarget(ControlEventEditingChanged, [this] { m_danmaku.draft = m_danmakuComposer.inputField->text(); });
    c.inputAccessory = named(new Toolbar(QRectF(0, 0, width, 44)), "danmakuInputAccessory");
    // Writing and sending danmaku come with the composer; until then both buttons only close it.
    auto close = [this] { m_danmakuComposer.inputField->resignFirstResponder(); };
    c.inputAccessory->setItems({new BarButtonItem(QStringLiteral("取消"), BarButtonItemStyleBordered, close, c.inputAccessory),
                                BarButtonItem::systemItem(BarButtonSystemItemFlexibleSpace, {}, c.inputAccessory),
                                new BarButtonItem(QStringLiteral("发送"), BarButtonItemStyleDone, close, c.inputAccessory)});
    c.inputField->setInputAccessoryView(c.inputAccessory);
}

void KRVideoDetailViewController::buildPager(qreal width, qreal height)
{
    Pager& p = m_pager;
    p.pager = named(new ScrollView(QRectF(0, 259, width, std::max<qreal>(0, height - 259)), view()), "pager");
    p.pager->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
    p.pager->setPagingEnabled(true);
    p.pager->setShowsVerticalScrollIndicator(false);
    p.pager->setBounces(false);
    p.pager->setDelegate(this);
    p.infoScrollView = named(new ScrollView(p.pager->bounds(), p.pager), "infoScrollView");
    p.infoScrollView->setAutoresizingMask(AutoresizingFlexibleHeight);
    p.infoScrollView->setAlwaysBounceVertical(true);
    p.infoScrollView->setDelegate(this);
    p.commentsView = named(new View(QRectF(p.pager->bounds().width(), 0, p.pager->bounds().width(), p.pager->bounds().height()), p.pager),
                           "commentsView");
    p.commentsView->setAutoresizingMask(AutoresizingFlexibleHeight);
}

void KRVideoDetailViewController::buildCommentsPage(qreal width)
{
    CommentsPage& c = m_comments;
    View* page = m_pager.commentsView;
    c.commentsTableView = named(new TableView(page->bounds(), TableViewStylePlain, page), "commentsTableView");
    c.commentsTableView->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
    c.commentsTableView->setSeparatorStyle(TableViewCellSeparatorStyleSingleLine);
    c.commentsTableView->setContentInset(EdgeInsets{0, 0, 8, 0});
    c.commentsTableView->setDataSource(this);
    c.commentsTableView->setTableDelegate(this);
    c.commentsLoadMoreView = named(new KRLoadMoreView(QRectF(0, 0, width, 44)), "commentsLoadMoreView");
    c.commentsLoadMoreView->addTarget([this] { commentsLoadMoreTapped(); });
    c.commentsTableView->setTableFooterView(c.commentsLoadMoreView);
    c.commentsStateLabel = named(new Label(QRectF(24, 45, width - 48, 64), page), "commentsStateLabel");
    c.commentsStateLabel->setAutoresizingMask(AutoresizingFlexibleWidth);
    c.commentsStateLabel->setBackgroundColor(QBrush(Qt::NoBrush));
    c.commentsStateLabel->setNumberOfLines(0);
    c.commentsStateLabel->setTextAlignment(TextAlignmentCenter);
    c.commentsStateLabel->setFont(Label::systemFont(12));
    c.commentsStateLabel->setText(QStringLiteral("正在准备评论…"));

    c.commentComposerBar = named(new View(QRectF(), page), "commentComposerBar");
    c.commentComposerBar->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleTopMargin);
    c.commentComposerSeparator = named(new View(QRectF(), c.commentComposerBar), "commentComposerSeparator");
    c.commentComposerButton = named(new Button(ButtonTypeCustom, QRectF(), c.commentComposerBar), "commentComposerButton");
    c.commentComposerButton->titleLabel()->setFont(Label::systemFont(12));
    c.commentComposerButton->setTitle(QStringLiteral("登录后发表评论·点评论可进入回复"), ControlStateNormal);
    c.commentComposerButton->titleLabel()->setTextAlignment(TextAlignmentLeft);
    c.commentComposerButton->setContentEdgeInsets(EdgeInsets{0, 12, 0, 8});
    c.commentComposerButton->setAccessibilityLabel(QStringLiteral("发表评论"));
    c.commentInputField = named(new TextField(QRectF(), c.commentComposerBar), "commentInputField");
    c.commentInputField->setFont(Label::systemFont(12));
    c.commentInputField->setPlaceholder(QStringLiteral("说点什么…"));
    c.commentInputField->setClearsWhileEditing(true);
    c.commentInputField->setLeftView(emptyLeftView());
    c.commentInputField->setHidden(true);
    c.commentEmoteButton = named(new Button(ButtonTypeCustom, QRectF(), c.commentComposerBar), "commentEmoteButton");
    c.commentEmoteButton->setImageContentMode(ContentModeScaleAspectFit);
    c.commentEmoteButton->setImageEdgeInsets(EdgeInsets{5, 6.5, 5, 6.5});
    c.commentEmoteButton->setAccessibilityLabel(QStringLiteral("岚帆视频表情"));
    c.commentEmoteButton->setHidden(true);
    c.commentCancelButton = named(new Button(ButtonTypeCustom, QRectF(), c.commentComposerBar), "commentCancelButton");
    c.commentCancelButton->titleLabel()->setFont(Label::systemFont(12, true));
    c.commentCancelButton->setTitle(QStringLiteral("取消"), ControlStateNormal);
    c.commentCancelButton->setAccessibilityLabel(QStringLiteral("取消评论"));
    c.commentCancelButton->setHidden(true);
    c.commentSendButton = named(new Button(ButtonTypeCustom, QRectF(), c.commentComposerBar), "commentSendButton");
    c.commentSendButton->titleLabel()->setFont(Label::systemFont(12, true));
    c.commentSendButton->setTitle(QStringLiteral("发送"), ControlStateNormal);
    c.commentSendButton->setAccessibilityLabel(QStringLiteral("发送评论"));
    c.commentSendButton->setHidden(true);
    c.commentSelectedImageBadge = named(new ImageView(Image::named(QStringLiteral("Davirivu961/photo_selected")), c.commentSendButton),
                                        "commentSelectedImageBadge");
    c.commentSelectedImageBadge->setContentMode(ContentModeScaleAspectFit);
    c.commentSelectedImageBadge->setUserInteractionEnabled(false);
    c.commentSelectedImageBadge->setHidden(true);
    c.commentEmotePanel = named(new View(QRectF(), view()), "commentEmotePanel");
    c.commentEmotePanel->setHidden(true);
    c.commentEmotePanel->setCornerRadius(7);
    c.commentEmotePanel->setBorderWidth(1);
    c.commentEmoteScrollView = named(new ScrollView(QRectF(), c.commentEmotePanel), "commentEmoteScrollView");
}

void KRVideoDetailViewController::buildInformationPage(qreal width)
{
    InformationPage& i = m_info;
    ScrollView* page = m_pager.infoScrollView;
    auto add = [page](auto* child, const char* name) {
        page->addSubview(child);
        return named(child, name);
    };
    i.titleLabel = add(detailLabelWithFont(Label::systemFont(17, true)), "titleLabel");
    i.titleLabel->setNumberOfLines(0);
    i.ownerBar = add(new View(), "ownerBar");
    i.ownerBar->setCornerRadius(7);
    i.ownerAvatarView = named(new ImageView(Image::named(QStringLiteral("Tarnwick23/tv42")), i.ownerBar), "ownerAvatarView");
    i.ownerAvatarView->setContentMode(ContentModeScaleAspectFill);
    i.ownerAvatarView->setCornerRadius(17);
    i.ownerButton = named(new Button(ButtonTypeCustom, QRectF(), i.ownerBar), "ownerButton");
    i.ownerButton->titleLabel()->setFont(Label::systemFont(13, true));
    i.ownerButton->titleLabel()->setTextAlignment(TextAlignmentLeft);
    i.ownerButton->addTarget(ControlEventTouchUpInside, [this] { ownerButtonTapped(); });
    i.followButton = named(new Button(ButtonTypeCustom, QRectF(), i.ownerBar), "followButton");
    i.followButton->titleLabel()->setFont(Label::systemFont(12, true));
    i.followButton->setTitle(QStringLiteral("＋关注"), ControlStateNormal);
    i.statsLabel = add(detailLabelWithFont(Label::systemFont(11)), "statsLabel");
    i.identifierLabel = add(detailLabelWithFont(Label::systemFont(10)), "identifierLabel");
    i.interactionBar = add(new View(), "interactionBar");
    i.interactionBar->setBackgroundColor(QBrush(Qt::NoBrush));
    const QStringList titles{QStringLiteral("一键三连"), QStringLiteral("点赞"), QStringLiteral("投币"), QStringLiteral("收藏"),
                             QStringLiteral("更多")};
    const char* names[] = {"tripleButton", "likeButton", "coinButton", "favoriteButton", "moreButton"};
    KRInteractionButton** fields[] = {&i.tripleButton, &i.likeButton, &i.coinButton, &i.favoriteButton, &i.moreButton};
    for (int index = 0; index < 5; ++index) {
        auto* button = named(new KRInteractionButton(ButtonTypeCustom, QRectF(), i.interactionBar), names[index]);
        button->setTag(7600 + index);
        button->titleLabel()->setFont(Label::systemFont(index == 0 ? 10 : 9));
        button->titleLabel()->setTextAlignment(TextAlignmentCenter);
        button->setTitle(titles.at(index), ControlStateNormal);
        *fields[index] = button;
    }
    i.pageStrip = add(new ScrollView(), "pageStrip");
    i.pageStrip->setShowsVerticalScrollIndicator(false);
    i.pageTitleLabel = named(detailLabelWithFont(Label::systemFont(12, true)), "pageTitleLabel");
    i.pageStrip->addSubview(i.pageTitleLabel);
    i.summaryCard = add(new View(), "summaryCard");
    i.summaryCard->setCornerRadius(7);
    i.summaryDisclosureButton = named(new Button(ButtonTypeCustom, QRectF(), i.summaryCard), "summaryDisclosureButton");
    i.summaryDisclosureButton->titleLabel()->setFont(Label::systemFont(13, true));
    i.summaryDisclosureButton->titleLabel()->setTextAlignment(TextAlignmentLeft);
    i.summaryDisclosureButton->setContentEdgeInsets(EdgeInsets{0, 10, 0, 8});
    i.summaryDisclosureButton->addTarget(ControlEventTouchUpInside, [this] { summaryDisclosureTapped(); });
    i.summaryDisclosureGlyph = named(detailLabelWithFont(Label::systemFont(11)), "summaryDisclosureGlyph");
    i.summaryDisclosureGlyph->setTextAlignment(TextAlignmentRight);
    i.summaryCard->addSubview(i.summaryDisclosureGlyph);
    i.summaryLabel = named(detailLabelWithFont(Label::systemFont(13)), "summaryLabel");
    i.summaryLabel->setNumberOfLines(0);
    i.summaryCard->addSubview(i.summaryLabel);
    i.tagsTitleLabel = named(detailLabelWithFont(Label::systemFont(13, true)), "tagsTitleLabel");
    i.tagsTitleLabel->setText(QStringLiteral("Tag"));
    i.tagsTitleLabel->setHidden(true);
    i.summaryCard->addSubview(i.tagsTitleLabel);
    i.tagsContainer = named(new View(QRectF(), i.summaryCard), "tagsContainer");
    i.tagsContainer->setBackgroundColor(QBrush(Qt::NoBrush));
    i.tagsContainer->setHidden(true);
    i.relatedTitleLabel = add(detailLabelWithFont(Label::systemFont(13, true)), "relatedTitleLabel");
    i.relatedTitleLabel->setText(QStringLiteral("相关推荐"));
    i.relatedTitleLabel->setHidden(true);
    i.relatedTableView = add(new TableView(QRectF(), TableViewStylePlain), "relatedTableView");
    i.relatedTableView->setScrollEnabled(false);
    i.relatedTableView->setRowHeight(86);
    i.relatedTableView->setSeparatorStyle(TableViewCellSeparatorStyleSingleLine);
    i.relatedTableView->setHidden(true);
    i.relatedTableView->setDataSource(this);
    i.relatedTableView->setTableDelegate(this);
    i.relatedLoadMoreView = named(new KRLoadMoreView(QRectF(0, 0, width, 44)), "relatedLoadMoreView");
    i.relatedLoadMoreView->setIdleTitle(QStringLiteral("上拉加载更多"));
    i.relatedLoadMoreView->addTarget([this] { loadRelatedVideos(); });
    i.relatedTableView->setTableFooterView(i.relatedLoadMoreView);
    i.relatedStateLabel = add(detailLabelWithFont(Label::systemFont(12)), "relatedStateLabel");
    i.relatedStateLabel->setNumberOfLines(2);
    i.relatedStateLabel->setTextAlignment(TextAlignmentCenter);
    i.relatedStateLabel->setHidden(true);
    i.detailSpinner = add(new ActivityIndicatorView(ActivityIndicatorStyleGray), "detailSpinner");
}

void KRVideoDetailViewController::viewDidLayoutSubviews()
{
    ViewController::viewDidLayoutSubviews();
    if (!m_player.playerContainer)
        return;
    const QRectF bounds = view()->bounds();
    const qreal w = bounds.width(), h = bounds.height();
    const qreal playerHeight = platform::DeviceProfile::isPad() ? std::min(std::floor(w * 9 / 16), std::floor(h * 0.58))
                                                                : std::min<qreal>(std::floor(w * 9 / 16), 232);
    if (m_surface.backdrop) {
        m_surface.embeddedFrame = QRectF(0, 0, w, playerHeight);
        layoutPersistentPlayerSurfaceEmbedded();
    } else {
        m_player.playerContainer->setFrame(QRectF(0, 0, w, playerHeight));
    }
    if (m_player.moviePlayer) {
        if (auto* playerView = qobject_cast<View*>(m_player.moviePlayer->view()))
            playerView->setFrame(m_player.playerContainer->bounds());
        layoutApplicationVideoSurface();
        m_player.danmakuView->setGeometry(m_player.playerContainer->bounds().toRect());
        if (m_player.controls) {
            m_player.controls->setFrame(m_player.playerContainer->bounds());
            m_player.controls->setFullscreen(false, shouldUsePortraitFullscreenForCurrentVideo());
        }
    }

    m_tabs.detailTabBar->setFrame(QRectF(8, playerHeight + 3, w - 16, 32));
    const qreal tabWidth = m_tabs.detailTabBar->bounds().width();
    m_tabs.danmakuButton->setFrame(QRectF(tabWidth - 42, 0, 42, 32));
    const qreal segmentWidth = std::max<qreal>(tabWidth - 42 - 78 - 4, 120);
    m_tabs.detailSegment->setFrame(QRectF(0, 0, segmentWidth, 32));
    m_tabs.danmakuComposeButton->setFrame(QRectF(segmentWidth + 2, 0, 78, 32));

    const qreal composerY = playerHeight + 37;
    m_danmakuComposer.bar->setFrame(QRectF(0, composerY, w, 42));
    m_danmakuComposer.separator->setFrame(QRectF(0, 41, w, 1));
    m_danmakuComposer.inputField->setFrame(QRectF(8, 5, std::max<qreal>(w - 16, 80), 32));

    const qreal pagerHeight = std::max<qreal>(h - (playerHeight + 37), 0);
    m_pager.pager->setFrame(QRectF(0, playerHeight + 37, w, pagerHeight));
    m_pager.pager->setContentSize(QSizeF(2 * w, pagerHeight));
    m_pager.infoScrollView->setFrame(QRectF(0, 0, w, pagerHeight));
    m_pager.commentsView->setFrame(QRectF(w, 0, w, pagerHeight));

    CommentsPage& c = m_comments;
    const qreal tableHeight = std::max<qreal>(pagerHeight - 42, 0);
    c.commentsTableView->setFrame(QRectF(0, 0, w, tableHeight));
    c.commentComposerBar->setFrame(QRectF(0, tableHeight, w, 42));
    c.commentComposerSeparator->setFrame(QRectF(0, 0, w, 1));
    c.commentComposerButton->setFrame(QRectF(8, 5, w - 16, 32));
    c.commentCancelButton->setFrame(QRectF(4, 5, 43, 32));
    c.commentSendButton->setFrame(QRectF(std::max<qreal>(w - 43 - 4, 4), 5, 43, 32));
    c.commentSelectedImageBadge->setFrame(QRectF(28, 17, 13, 13));
    c.commentEmoteButton->setFrame(QRectF(std::max<qreal>(w - 86 - 3 - 4, 4), 5, 43, 32));
    c.commentInputField->setFrame(QRectF(50, 5, std::max<qreal>(w - 50 - 96, 72), 32));

    const qreal emoteHeight = std::clamp<qreal>(h * 0.28, 88, 152);
    const qreal composerTop = c.commentComposerBar->convertRectToView(c.commentComposerBar->bounds(), view()).top();
    c.commentEmotePanel->setFrame(QRectF(8, std::max<qreal>(composerTop - emoteHeight - 2, 2), w - 16, emoteHeight));
    c.commentEmoteScrollView->setFrame(c.commentEmotePanel->bounds().adjusted(5, 5, -5, -5));

    c.commentsStateLabel->setFrame(QRectF(24, 45, w - 48, 64));
    m_pager.pager->setContentOffset(QPointF(w * m_tabs.selectedDetailPage, 0));
    updateInfoLayout();
}

void KRVideoDetailViewController::layoutApplicationVideoSurface()
{
    if (m_engine.dash)
        m_engine.dash->layoutSurface();
}

void KRVideoDetailViewController::updateDetailTabs()
{
    const bool on = m_danmaku.enabled;
    KRTheme* theme = KRTheme::sharedTheme();
    const Image icon = Image::named(on ? QStringLiteral("Davirivu961/danmaku_on") : QStringLiteral("Davirivu961/danmaku_off"));
    m_tabs.danmakuButton->setImage(icon, ControlStateNormal);
    m_tabs.danmakuButton->setImage(KRDetailTintedImage(icon, theme->accentColor()), ControlStateHighlighted);
    m_tabs.danmakuButton->setBackgroundImage(KRSkeuomorphicActionImage(theme, false), ControlStateNormal);
    m_tabs.danmakuButton->setBackgroundImage(KRSkeuomorphicActionImage(theme, true), ControlStateHighlighted);
    m_tabs.danmakuButton->setSelected(on);
    m_tabs.danmakuButton->setAccessibilityValue(on ? QStringLiteral("开启") : QStringLiteral("关闭"));
    const QString composeTitle = on ? QStringLiteral("发弹幕") : QStringLiteral("已关弹幕");
    for (int state : {ControlStateNormal, ControlStateHighlighted, ControlStateDisabled})
        m_tabs.danmakuComposeButton->setTitle(composeTitle, state);
    m_tabs.danmakuComposeButton->setEnabled(on);
    m_tabs.danmakuComposeButton->setAlpha(on ? 1.0 : 0.62);
    m_danmakuComposer.inputField->setEnabled(on);
    m_danmakuComposer.inputField->setPlaceholder(on ? QStringLiteral("登录后发弹幕") : QStringLiteral("已关弹幕"));
}

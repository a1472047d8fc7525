#include "browse/KRVideoListViewController.h"

#include "look/KRTheme.h"
#include "shared/KRLoadMoreView.h"
#include "browse/KRPGCGridCell.h"
#include "shared/KRPullRefreshView.h"
#include "browse/KRVideoCell.h"
#include "browse/KRVideoGridCell.h"
#include "model/KRConsole.h"
#include "model/KRVideo.h"
#include "platform/uikit/ActivityIndicatorView.h"
#include "platform/uikit/AlertView.h"
#include "platform/uikit/BarButtonItem.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/NavigationItem.h"
#include "platform/uikit/Screen.h"
#include "platform/uikit/TableView.h"
#include "service/KRAPIClient.h"
#include "store/KRPreferences.h"
#include "store/KRSessionStore.h"
#include "nav/KRRouter.h"

#include <algorithm>
#include <cmath>

using namespace platform::uikit;

namespace {

constexpr qreal kSingleRowHeight = 86;
constexpr qreal kSpinnerTop = 24;
constexpr qreal kFooterHeight = 44;
constexpr qreal kPagingDistance = 120;
constexpr qreal kAutoFillSlack = 8;
constexpr int kAutoFillLimit = 2;
constexpr int kAutoFillDelayMs = 200;
constexpr qreal kMessageButtonWidth = 38, kMessageButtonHeight = 32;
const QString kAutoFillCall = QStringLiteral("loadNextPage");
const QString kEmptyTitle = QStringLiteral("暂无视频，下拉更新");
const QString kEmptyMeta = QStringLiteral("首页会连续加载内容，已有列表在失败时不会被清空");
const QString kPGCCellIdentifier = QStringLiteral("KRPGCGridCell");
const QString kGridCellIdentifier = QStringLiteral("KRVideoGridCell");
const QString kVideoCellIdentifier = QStringLiteral("KRVideoCell");
const QString kAlertButton = QStringLiteral("知道了");

bool messageCenterOn()
{
    const KRPreferences& preferences = KRPreferences::sharedPreferences();
    return preferences.experimentalFeaturesEnabled() && preferences.messageCenterEnabled();
}

void showAlert(const QString& title, const QString& message)
{
    (new AlertView(title, message, kAlertButton, {}))->show();
}

} // namespace

qreal KRDoubleColumnRowHeightForWidth(qreal width)
{
    if (width <= 0)
        width = Screen::bounds().width();
    const qreal card = std::floor((width - 14 - 7) / 2);
    return std::max<qreal>(143, std::ceil(std::floor(card * 9 / 16) + 56));
}

Image KRRoundedImage(const QColor& top, const QColor& bottom, const QColor& border)
{
    return KRThemeGradientImage(top, bottom, border, QSizeF(24, 44), 6).stretchable(11, 21);
}

KRVideoListViewController::KRVideoListViewController(int mode, qint64 tid, const QString& title, QObject* parent)
    : TableViewController(TableViewStylePlain, parent)
    , m_mode(mode)
    , m_tid(tid)
    , m_listTitle(title)
{
    setTitle(title);
}

KRVideoListViewController::~KRVideoListViewController()
{
    // The button calls back into this screen; a bar that showed it only hides it.
    delete m_messageButton.data();
    // The table goes with the base class, after this part of the object: it must not call
    // back into it on the way.
    if (isViewLoaded()) {
        tableView()->setDataSource(nullptr);
        tableView()->setTableDelegate(nullptr);
    }
}

KRVideoListViewController* KRVideoListViewController::createWithPGCSeasonType(qint64 seasonType, const QString& title,
                                                                              QObject* parent)
{
    auto* list = new KRVideoListViewController(KRVideoListModePGC, 0, title, parent);
    list->m_seasonType = seasonType;
    return list;
}

KRVideoListViewController* KRVideoListViewController::createWithAggregateRIDs(const QVariantList& rids,
                                                                              const QString& title, QObject* parent)
{
    auto* list = new KRVideoListViewController(KRVideoListModeAggregate, 0, title, parent);
    list->m_aggregateRIDs = rids;
    return list;
}

int KRVideoListViewController::supportedInterfaceOrientations() { return InterfaceOrientationMaskPortrait; }

bool KRVideoListViewController::shouldAutorotateToInterfaceOrientation(int orientation)
{
    return orientation == InterfaceOrientationPortrait;
}

bool KRVideoListViewController::usesPGCGridLayout() const { return m_mode == KRVideoListModePGC; }

bool KRVideoListViewController::usesDoubleColumnLayout() const
{
    return !usesPGCGridLayout() && KRPreferences::sharedPreferences().videoListLayout() == 1;
}

qreal KRVideoListViewController::tableWidth() { return tableView()->bounds().width(); }

qreal KRVideoListViewController::layoutRowHeight()
{
    if (usesPGCGridLayout())
        return KRPGCGridCell::rowHeightForWidth(tableWidth());
    if (usesDoubleColumnLayout())
        return KRDoubleColumnRowHeightForWidth(tableWidth());
    return kSingleRowHeight;
}

void KRVideoListViewController::viewDidLoad()
{
    TableViewController::viewDidLoad();
    setTitle(m_listTitle);
    TableView* table = tableView();
    table->setRowHeight(layoutRowHeight());
    if (m_mode == KRVideoListModeHome)
        configureExperimentalMessageButton();

    m_spinner = new ActivityIndicatorView(ActivityIndicatorStyleGray, view());
    m_spinner->setCenter(QPointF(view()->bounds().width() / 2, kSpinnerTop));
    m_spinner->setAutoresizingMask(AutoresizingFlexibleLeftMargin | AutoresizingFlexibleRightMargin);

    m_pullRefreshView = new KRPullRefreshView(
        QRectF(0, -KRPullRefreshView::kPullDistance, tableWidth(), KRPullRefreshView::kPullDistance), table);
    m_loadMoreView = new KRLoadMoreView(QRectF(0, 0, tableWidth(), kFooterHeight));
    m_loadMoreView->addTarget([this] { loadMoreButtonTapped(); });
    table->setTableFooterView(m_loadMoreView);

    auto& center = platform::NotificationCenter::defaultCenter();
    m_themeObserver = center.addObserver(KRThemeDidChangeNotification, nullptr,
                                         [this](const platform::Notification&) { themeDidChange(); });
    m_preferencesObserver = center.addObserver(KRPreferencesDidChangeNotification, nullptr,
                                               [this](const platform::Notification&) { preferencesDidChange(); });
    applyTheme();
    loadPage(1, true, true);
}

void KRVideoListViewController::viewWillLayoutSubviews()
{
    TableViewController::viewWillLayoutSubviews();
    // A list's width changes while another screen covers it (the window turns for a full screen
    // above it), and rows made at one width keep that width's columns. When the width shown is
    // not the one the rows were made for, a grid is made again, so all its rows share one count.
    if ((!usesPGCGridLayout() && !usesDoubleColumnLayout()) || m_rowsWidth < 0 || tableWidth() == m_rowsWidth)
        return;
    tableView()->setRowHeight(layoutRowHeight());
    tableView()->reloadData();
}

void KRVideoListViewController::applyTheme()
{
    if (!isViewLoaded() || !m_spinner)
        return;
    KRTheme* theme = KRTheme::sharedTheme();
    view()->setBackgroundColor(theme->backgroundColor());
    tableView()->setBackgroundColor(theme->backgroundColor());
    tableView()->setSeparatorColor(theme->separatorColor());
    m_spinner->setActivityIndicatorViewStyle(theme->spinnerStyle());
    m_pullRefreshView->applyTheme();
    m_loadMoreView->applyTheme();
}

void KRVideoListViewController::themeDidChange()
{
    configureExperimentalMessageButton();
    applyTheme();
    tableView()->reloadData();
}

void KRVideoListViewController::preferencesDidChange()
{
    configureExperimentalMessageButton();
    tableView()->setRowHeight(layoutRowHeight());
    tableView()->reloadData();
}

void KRVideoListViewController::configureExperimentalMessageButton()
{
    if (m_mode != KRVideoListModeHome)
        return;
    navigationItem()->setRightBarButtonItem(messageCenterOn() ? messageItem() : nullptr);
}

BarButtonItem* KRVideoListViewController::messageItem()
{
    if (!m_messageItem) {
        m_messageButton = new Button(ButtonTypeCustom, QRectF(0, 0, kMessageButtonWidth, kMessageButtonHeight));
        m_messageButton->setImage(Image::named(QStringLiteral("Davirivu961/message")), ControlStateNormal);
        m_messageButton->setImageEdgeInsets(EdgeInsets{3, 6, 3, 6});
        m_messageButton->setShowsTouchWhenHighlighted(true);
        m_messageButton->setAccessibilityLabel(QStringLiteral("消息"));
        m_messageButton->setAccessibilityHint(QStringLiteral("查看回复与 @ 消息"));
        m_messageButton->addTarget(ControlEventTouchUpInside, [this] { messageButtonTapped(); });
        m_messageItem = BarButtonItem::withCustomView(m_messageButton, this);
    }
    return m_messageItem;
}

void KRVideoListViewController::messageButtonTapped()
{
    if (!messageCenterOn())
        return;
    if (!KRSessionStore::sharedStore().isLoggedIn()) {
        showAlert(QStringLiteral("需要登录"), QStringLiteral("登录后才能查看回复与 @ 消息。"));
        return;
    }
    KRRouter::openMessageInbox(navigationController(), TableViewStylePlain);
}

bool KRVideoListViewController::isAutoFillPending() const { return m_delayed.isScheduled(kAutoFillCall); }

void KRVideoListViewController::reloadVideos() { loadPage(1, true, true); }

void KRVideoListViewController::loadNextPage()
{
    if (m_loading || !m_hasMorePages)
        return;
    loadPage(m_page + 1, false, false);
}

void KRVideoListViewController::loadMoreButtonTapped() { loadNextPage(); }

void KRVideoListViewController::loadPage(qint64 page, bool reset, bool showTopSpinner)
{
    if (m_loading)
        return;
    m_loading = true;
    if (reset) {
        m_autoFillRequests = 0;
        // A fill-up step planned for the list being replaced must not count against the new one.
        m_delayed.cancel(kAutoFillCall);
    }
    if (page >= 2)
        m_loadMoreView->setLoadMoreState(KRLoadMoreStateLoading);
    else if (showTopSpinner)
        m_spinner->startAnimating();

    auto done = [this, page, reset](const KRVideoList& videos, const KROptionalError& error) {
        finishPage(page, reset, videos, error);
    };
    KRAPIClient* client = KRAPIClient::sharedClient();
    switch (m_mode) {
    case KRVideoListModeAggregate:
        client->loadAggregateSections(m_aggregateRIDs, page, this, done);
        break;
    case KRVideoListModePGC:
        client->loadPGCSection(m_seasonType, page, this, done);
        break;
    case KRVideoListModeSection:
        client->loadSection(m_tid, page, this, done);
        break;
    default:
        client->loadRecommendedHomePage(page, this, done);
        break;
    }
}

void KRVideoListViewController::finishPage(qint64 page, bool reset, const KRVideoList& received, const KROptionalError& error)
{
    m_spinner->stopAnimating();
    m_pullRefreshView->endRefreshingInScrollView(tableView());
    if (error) {
        m_loading = false;
        if (page >= 2)
            m_loadMoreView->setLoadMoreState(KRLoadMoreStateFailed);
        else
            m_loadMoreView->setLoadMoreState(m_hasMorePages ? KRLoadMoreStateIdle : KRLoadMoreStateNoMore);
        showAlert(QStringLiteral("加载失败"), error->localizedDescription());
        return;
    }

    if (reset) {
        m_videos.clear();
        m_videoIdentities.clear();
    }
    int appended = 0;
    for (const std::shared_ptr<KRVideo>& video : received) {
        if (!video)
            continue;
        const QString identity = video->feedIdentity();
        if (!identity.isEmpty()) {
            if (m_videoIdentities.contains(identity))
                continue;
            m_videoIdentities.insert(identity);
        }
        m_videos.append(video);
        ++appended;
    }
    m_page = page;
    m_hasMorePages = !received.isEmpty() && (reset || appended > 0);

    TableView* table = tableView();
    table->reloadData();
    m_loadMoreView->setLoadMoreState(m_hasMorePages ? KRLoadMoreStateIdle : KRLoadMoreStateNoMore);
    table->layoutIfNeeded();
    m_loading = false;

    if (!m_videos.isEmpty())
        logPage(page, reset, appended);

    if (m_hasMorePages && table->contentSize().height() <= table->bounds().height() + kAutoFillSlack
        && m_autoFillRequests < kAutoFillLimit) {
        ++m_autoFillRequests;
        m_delayed.schedule(kAutoFillCall, kAutoFillDelayMs, [this] { loadNextPage(); });
    }
}

void KRVideoListViewController::logPage(qint64 page, bool reset, int appended) const
{
    const KRVideo& first = *m_videos.first();
    // One pass over the format, so a title holding "%1" is never taken for a marker.
    KRConsole::log(QStringLiteral("[KorvaneFeed] page=%1 reset=%2 appended=%3 total=%4 first=%5 play=%6 danmaku=%7 "
                                  "duration=%8 partition=%9")
                       .arg(QString::number(page), reset ? QStringLiteral("YES") : QStringLiteral("NO"),
                            QString::number(appended), QString::number(m_videos.size()), first.displayIdentifier(),
                            QString::number(first.playCount()), QString::number(first.danmakuCount()),
                            first.displayDuration(), first.displayPartition()));
}

int KRVideoListViewController::numberOfRowsInSection(TableView*, int)
{
    // Every reload counts the rows first, so this is the width every row it makes is cut for.
    m_rowsWidth = tableWidth();
    const int count = int(m_videos.size());
    if (count == 0)
        return 1;
    if (usesPGCGridLayout()) {
        const int columns = KRPGCGridCell::columnCountForWidth(tableWidth());
        return (count + columns - 1) / columns;
    }
    if (usesDoubleColumnLayout())
        return (count + 1) / 2;
    return count;
}

qreal KRVideoListViewController::heightForRowAtIndexPath(TableView*, const IndexPath&)
{
    if (m_videos.isEmpty())
        return kSingleRowHeight;
    return layoutRowHeight();
}

TableViewCell* KRVideoListViewController::cellForRowAtIndexPath(TableView* table, const IndexPath& indexPath)
{
    const int row = indexPath.row;
    if (!m_videos.isEmpty() && usesPGCGridLayout()) {
        auto* cell = static_cast<KRPGCGridCell*>(table->dequeueReusableCellWithIdentifier(kPGCCellIdentifier));
        if (!cell)
            cell = new KRPGCGridCell(TableViewCellStyleDefault, kPGCCellIdentifier);
        const int columns = KRPGCGridCell::columnCountForWidth(tableWidth());
        cell->setDelegate(this);
        cell->configureWithVideos(m_videos.mid(row * columns, columns), columns);
        return cell;
    }
    if (!m_videos.isEmpty() && usesDoubleColumnLayout()) {
        auto* cell = static_cast<KRVideoGridCell*>(table->dequeueReusableCellWithIdentifier(kGridCellIdentifier));
        if (!cell)
            cell = new KRVideoGridCell(TableViewCellStyleDefault, kGridCellIdentifier);
        cell->setDelegate(this);
        const int left = row * 2;
        cell->configureWithLeftVideo(m_videos.value(left), m_videos.value(left + 1));
        return cell;
    }
    auto* cell = static_cast<KRVideoCell*>(table->dequeueReusableCellWithIdentifier(kVideoCellIdentifier));
    if (!cell)
        cell = new KRVideoCell(TableViewCellStyleDefault, kVideoCellIdentifier);
    if (m_videos.isEmpty()) {
        cell->applyTheme();
        cell->setTitleText(kEmptyTitle, kEmptyMeta, QString());
        cell->setAccessoryType(TableViewCellAccessoryNone);
        return cell;
    }
    const std::shared_ptr<KRVideo> video = m_videos.value(row);
    cell->configureWithVideo(video);
    cell->setAccessoryType(TableViewCellAccessoryNone);
    if (video && !video->isUnavailable() && !video->coverURL().isEmpty())
        cell->loadCover();
    return cell;
}

void KRVideoListViewController::didSelectRowAtIndexPath(TableView* table, const IndexPath& indexPath)
{
    table->deselectRowAtIndexPath(indexPath, true);
    if (m_videos.isEmpty()) {
        reloadVideos();
        return;
    }
    if (usesDoubleColumnLayout() || usesPGCGridLayout())
        return;
    openVideo(m_videos.value(indexPath.row));
}

void KRVideoListViewController::openVideo(const std::shared_ptr<KRVideo>& video)
{
    if (!video || video->isUnavailable())
        return;
    KRRouter::openVideoPage(navigationController(), video);
}

void KRVideoListViewController::videoGridCellDidSelectVideo(KRVideoGridCell*, const std::shared_ptr<KRVideo>& video)
{
    openVideo(video);
}

void KRVideoListViewController::pgcGridCellDidSelectVideo(KRPGCGridCell*, const std::shared_ptr<KRVideo>& video)
{
    openVideo(video);
}

void KRVideoListViewController::scrollViewDidScroll(ScrollView* scrollView)
{
    if (!m_pullRefreshView)
        return;
    m_pullRefreshView->updateForScrollView(scrollView);
    const qreal contentHeight = scrollView->contentSize().height();
    const qreal boundsHeight = scrollView->bounds().height();
    if (!m_loading && m_hasMorePages && !m_videos.isEmpty() && contentHeight > boundsHeight
        && scrollView->contentOffset().y() + boundsHeight >= contentHeight - kPagingDistance)
        loadNextPage();
}

void KRVideoListViewController::scrollViewDidEndDragging(ScrollView* scrollView, bool)
{
    if (!m_pullRefreshView || m_loading || !m_pullRefreshView->shouldBeginRefreshAfterDragging())
        return;
    m_pullRefreshView->beginRefreshingInScrollView(scrollView);
    loadPage(1, true, false);
}

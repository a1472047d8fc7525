// The feed itself: set-up, theme, paging, pulling and the comment counts.
#include "social/KRFollowingViewController.h"

#include "account/KRAccountClient.h"
#include "look/KRTheme.h"
#include "model/KRDynamic.h"
#include "model/KRTolerantValue.h"
#include "platform/uikit/ActivityIndicatorView.h"
#include "platform/uikit/IndexPath.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/NavigationItem.h"
#include "platform/uikit/SegmentedControl.h"
#include "platform/uikit/TableView.h"
#include "shared/KRDynamicComposerView.h"
#include "shared/KRPullRefreshView.h"
#include "social/KRDynamicNotifications.h"
#include "store/KRSessionStore.h"

#include <QSet>

#include <algorithm>
#include <limits>

using namespace platform::uikit;

namespace {

const QString kCellIdentifier = QStringLiteral("KRDynamicCell");

} // namespace

KRFollowingViewController::KRFollowingViewController(const QString& feedType, QObject* parent)
    : TableViewController(TableViewStylePlain, parent)
    , m_feedType(feedType == QLatin1String("video") ? feedType : QStringLiteral("all"))
{
}

KRFollowingViewController::~KRFollowingViewController()
{
    m_sessionObserver = {};
    m_countObserver = {};
    m_themeObserver = {};
    // The composer docks in the navigation view, outside ours; the state label is ours while
    // the table does not show it.
    if (m_composer) {
        m_composer->setDelegate(nullptr);
        delete m_composer.data();
    }
    if (m_stateLabel && !m_stateLabel->parent())
        delete m_stateLabel.data();
}

int KRFollowingViewController::supportedInterfaceOrientations() { return InterfaceOrientationMaskPortrait; }

bool KRFollowingViewController::shouldAutorotateToInterfaceOrientation(int orientation)
{
    return orientation == InterfaceOrientationPortrait;
}

void KRFollowingViewController::viewDidLoad()
{
    TableViewController::viewDidLoad();
    setTitle(QStringLiteral("关注"));

    m_segment = new SegmentedControl({QStringLiteral("动态"), QStringLiteral("视频")});
    m_segment->setObjectName(QStringLiteral("segment"));
    m_segment->setSelectedSegmentIndex(m_feedType == QLatin1String("video") ? 1 : 0);
    m_segment->setFrame(QRectF(0, 0, 150, 30));
    m_segment->addTarget(ControlEventValueChanged, [this] { filterChanged(); });
    navigationItem()->setTitleView(m_segment);

    TableView* table = tableView();
    const qreal width = view()->frame().width();
    m_spinner = new ActivityIndicatorView(ActivityIndicatorStyleGray);
    m_spinner->setObjectName(QStringLiteral("spinner"));
    m_spinner->setHidesWhenStopped(true);
    m_spinner->setFrame(QRectF(0, 0, width, 44));
    m_spinner->setAutoresizingMask(AutoresizingFlexibleWidth);
    table->setTableFooterView(m_spinner);

    m_stateLabel = new Label(QRectF(15, 0, width - 30, 60));
    m_stateLabel->setObjectName(QStringLiteral("stateLabel"));
    m_stateLabel->setTextAlignment(TextAlignmentCenter);
    m_stateLabel->setFont(Label::systemFont(13));
    m_stateLabel->setNumberOfLines(2);

    m_composer = new KRDynamicComposerView(QRectF());
    m_composer->setObjectName(QStringLiteral("composer"));
    m_composer->setDelegate(this);

    m_pullRefreshView = new KRPullRefreshView(QRectF(0, -64, table->frame().width(), 64), table);
    m_pullRefreshView->setObjectName(QStringLiteral("pullRefreshView"));
    m_pullRefreshView->setAutoresizingMask(AutoresizingFlexibleWidth);

    platform::NotificationCenter& center = platform::NotificationCenter::defaultCenter();
    m_themeObserver = center.addObserver(KRThemeDidChangeNotification, nullptr, [this](const platform::Notification&) {
        applyTheme();
        tableView()->reloadData();
    });
    m_countObserver = center.addObserver(KRDynamicCommentCountDidChangeNotification, nullptr,
                                         [this](const platform::Notification& note) { dynamicCommentCountChanged(note); });
    m_sessionObserver = center.addObserver(KRSessionDidChangeNotification, nullptr,
                                           [this](const platform::Notification&) { sessionDidChange(); });
    applyTheme();
    reloadFeed();
}

void KRFollowingViewController::applyTheme()
{
    const KRTheme* theme = KRTheme::sharedTheme();
    TableView* table = tableView();
    view()->setBackgroundColor(theme->backgroundColor());
    table->setBackgroundColor(theme->backgroundColor());
    table->setSeparatorColor(theme->separatorColor());
    m_stateLabel->setBackgroundColor(theme->backgroundColor());
    m_stateLabel->setTextColor(theme->secondaryTextColor());
    m_spinner->setActivityIndicatorViewStyle(theme->spinnerStyle());
    m_pullRefreshView->applyTheme();
    theme->applyToNavigationSegmentedControl(m_segment);
}

void KRFollowingViewController::viewWillDisappear(bool animated)
{
    TableViewController::viewWillDisappear(animated);
    // The photo picker is presented over us while the repost is written; only leaving ends it.
    if (!presentedViewController())
        endRepost();
}

void KRFollowingViewController::showState(const QString& text)
{
    m_stateLabel->setText(text);
    tableView()->setBackgroundView(m_stateLabel.data());
}

void KRFollowingViewController::filterChanged()
{
    m_feedType = m_segment->selectedSegmentIndex() == 1 ? QStringLiteral("video") : QStringLiteral("all");
    reloadFeedFromItsTop();
}

void KRFollowingViewController::reloadFeedFromItsTop()
{
    // Another list starts at its top, not where the last one was scrolled to.
    TableView* table = tableView();
    table->setContentOffset(QPointF(0, -table->contentInset().top));
    reloadFeed();
}

void KRFollowingViewController::sessionDidChange()
{
    // A screen whose views have gone with their window has nothing left to show the change on.
    if (!isViewLoaded())
        return;
    if (KRSessionStore::sharedStore().signedInUserID() == m_feedAccount)
        return;
    // The sheet the last account opened and the repost it was writing were its own; so is a
    // repost still on its way, which no longer keeps the next account from sending its own.
    dropMoreSheet();
    endRepost();
    ++m_repost.writer;
    m_repost.posting = false;
    reloadFeedFromItsTop();
}

void KRFollowingViewController::reloadFeed()
{
    // A page still on its way belongs to the list being replaced: it is dropped on arrival, and
    // the new list asks for its first page at once.
    ++m_feed.generation;
    m_feed.loading = false;
    m_spinner->stopAnimating();
    m_feed.dynamics.clear();
    m_feed.offset.clear();
    m_feed.hasMore = true;
    m_likesInFlight.clear();
    m_feedAccount = KRSessionStore::sharedStore().signedInUserID();
    if (!m_feedAccount) {
        showState(QStringLiteral("登录后可查看关注动态"));
        tableView()->reloadData();
        // No request goes out, so nothing else would end a pull.
        m_pullRefreshView->endRefreshingInScrollView(tableView());
        return;
    }
    tableView()->setBackgroundView(nullptr);
    tableView()->reloadData();
    loadNextPage();
}

void KRFollowingViewController::loadNextPage()
{
    if (m_feed.loading || !m_feed.hasMore)
        return;
    m_feed.loading = true;
    m_spinner->startAnimating();
    const quint64 generation = m_feed.generation;
    KRAccountClient::sharedClient()->loadFollowingDynamicsOfType(
        m_feedType, m_feed.offset, this, [this, generation](const QVariant& data, const KROptionalError& error) {
            if (generation != m_feed.generation) {
                ++m_feed.staleReplies;
                return;
            }
            receivePage(data, error);
        });
}

void KRFollowingViewController::receivePage(const QVariant& data, const KROptionalError& error)
{
    m_feed.loading = false;
    m_spinner->stopAnimating();
    m_pullRefreshView->endRefreshingInScrollView(tableView());
    if (error) {
        // Rows already shown stay as they are; the next scroll to the end asks again.
        if (m_feed.dynamics.isEmpty())
            showState(QStringLiteral("关注动态加载失败\n%1").arg(error->localizedDescription()));
        return;
    }
    tableView()->setBackgroundView(nullptr);
    const KRDynamicList parsed = KRDynamic::dynamicsFromPayload(data);
    QSet<QString> shown;
    for (const auto& dynamic : std::as_const(m_feed.dynamics))
        shown.insert(dynamic->dynamicID());
    for (const auto& dynamic : parsed) {
        if (!shown.contains(dynamic->dynamicID()))
            m_feed.dynamics.append(dynamic);
    }
    const QVariantMap page = data.toMap();
    const QVariant offsetValue = page.value(QStringLiteral("offset"));
    // A missing or null offset is none, as the text "(null)" is.
    QString offset = offsetValue.isNull() ? QString() : KRDynamicString(offsetValue);
    if (offset == QLatin1String("(null)"))
        offset.clear();
    m_feed.offset = offset;
    m_feed.hasMore = KRBoolean(page.value(QStringLiteral("has_more"))) && !offset.isEmpty() && !parsed.isEmpty();
    if (m_feed.dynamics.isEmpty())
        showState(QStringLiteral("暂时没有新的关注动态"));
    tableView()->reloadData();
}

int KRFollowingViewController::numberOfRowsInSection(TableView*, int) { return int(m_feed.dynamics.size()); }

qreal KRFollowingViewController::heightForRowAtIndexPath(TableView* table, const IndexPath& indexPath)
{
    if (indexPath.row < 0 || indexPath.row >= m_feed.dynamics.size())
        return 0;
    return KRDynamicCell::heightForDynamic(*m_feed.dynamics.at(indexPath.row), table->bounds().width(), false);
}

TableViewCell* KRFollowingViewController::cellForRowAtIndexPath(TableView* table, const IndexPath& indexPath)
{
    auto* cell = static_cast<KRDynamicCell*>(table->dequeueReusableCellWithIdentifier(kCellIdentifier));
    if (!cell)
        cell = new KRDynamicCell(TableViewCellStyleDefault, kCellIdentifier);
    cell->setDelegate(this);
    cell->configureWithDynamic(m_feed.dynamics.value(indexPath.row));
    return cell;
}

void KRFollowingViewController::scrollViewDidScroll(ScrollView* scrollView)
{
    m_pullRefreshView->updateForScrollView(scrollView);
    if (m_feed.loading || !m_feed.hasMore || m_feed.dynamics.isEmpty())
        return;
    if (scrollView->contentOffset().y() + scrollView->bounds().height() >= scrollView->contentSize().height() - 100)
        loadNextPage();
}

void KRFollowingViewController::scrollViewDidEndDragging(ScrollView* scrollView, bool)
{
    if (m_feed.loading || !m_pullRefreshView->shouldBeginRefreshAfterDragging())
        return;
    m_pullRefreshView->beginRefreshingInScrollView(scrollView);
    reloadFeed();
}

void KRFollowingViewController::dynamicCommentCountChanged(const platform::Notification& note)
{
    const QString dynamicID = KRDynamicString(note.userInfo.value(QStringLiteral("dynamicID")));
    if (dynamicID.isEmpty())
        return;
    const qint64 count = KRLongLong(note.userInfo.value(QStringLiteral("count")));
    for (const auto& dynamic : std::as_const(m_feed.dynamics)) {
        if (dynamic->dynamicID() != dynamicID)
            continue;
        dynamic->setCommentCount(qint32(std::clamp<qint64>(count, 0, std::numeric_limits<qint32>::max())));
        reloadRowsShowing(dynamic.get());
        return;
    }
}

void KRFollowingViewController::reloadRowsShowing(const KRDynamic* dynamic)
{
    TableView* table = tableView();
    const int rows = table->numberOfRowsInSection(0);
    for (int row = 0; row < m_feed.dynamics.size() && row < rows; ++row) {
        if (m_feed.dynamics.at(row).get() == dynamic)
            table->reloadRowsAtIndexPaths({IndexPath{0, row}}, TableViewRowAnimationNone);
    }
}

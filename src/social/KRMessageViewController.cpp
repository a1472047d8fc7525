#include "social/KRMessageViewController.h"

#include "account/KRAccountClient.h"
#include "look/KRTheme.h"
#include "model/KRConsole.h"
#include "model/KRTolerantValue.h"
#include "model/KRVideo.h"
#include "platform/uikit/ActivityIndicatorView.h"
#include "platform/uikit/AlertView.h"
#include "platform/uikit/IndexPath.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/NavigationItem.h"
#include "platform/uikit/SegmentedControl.h"
#include "platform/uikit/TableView.h"
#include "nav/KRRouter.h"
#include "store/KRSessionStore.h"

using namespace platform::uikit;

namespace {

const QString kCellIdentifier = QStringLiteral("KRMessageCell");

// The next page's cursor and whether the feed says it ended, from a page answer.
struct PageCursor {
    qint64 next = 0;
    bool ended = false;
};

PageCursor readCursor(const QVariantMap& result)
{
    PageCursor cursor;
    const QVariant value = result.value(QStringLiteral("cursor"));
    if (KRIsDictionary(value)) {
        const QVariantMap map = value.toMap();
        cursor.ended = KRBoolean(map.value(QStringLiteral("is_end")));
        for (const char* key : {"id", "cursor", "reply_time", "time"}) {
            const std::optional<qint64> integer = KRIntegerValue(map.value(QString::fromLatin1(key)));
            if (integer && *integer > 0) {
                cursor.next = *integer;
                break;
            }
        }
        return cursor;
    }
    if (KRIsNumber(value) && value.toDouble() >= 1)
        cursor.next = KRLongLong(value);
    else
        cursor.next = KRLongLong(result.value(QStringLiteral("id")));
    return cursor;
}

KRCommentFocus focusForJump(const KRMessageJump& jump)
{
    KRCommentFocus focus;
    if (jump.root) {
        focus.kind = KRCommentFocus::Kind::AtRootRpid;
        focus.root = jump.root;
        focus.target = jump.target;
    } else {
        focus.kind = KRCommentFocus::Kind::AtRpid;
        focus.rpid = 0;
    }
    return focus;
}

} // namespace

KRMessageViewController::KRMessageViewController(int tableStyle, QObject* parent)
    : TableViewController(tableStyle, parent)
{
}

KRMessageViewController::~KRMessageViewController()
{
    // The state label is shown now and then as the table's background; while it is not, it is ours.
    if (m_stateLabel && !m_stateLabel->parent())
        delete m_stateLabel.data();
}

int KRMessageViewController::supportedInterfaceOrientations() { return InterfaceOrientationMaskPortrait; }

bool KRMessageViewController::shouldAutorotateToInterfaceOrientation(int orientation)
{
    return orientation == InterfaceOrientationPortrait;
}

void KRMessageViewController::viewDidLoad()
{
    TableViewController::viewDidLoad();
    setTitle(QStringLiteral("消息"));
    m_messages.clear();
    m_messageIdentities.clear();
    m_hasMore = true;

    m_segment = new SegmentedControl({QStringLiteral("回复我的"), QStringLiteral("@我的")});
    m_segment->setObjectName(QStringLiteral("segment"));
    m_segment->setSelectedSegmentIndex(0);
    m_segment->setFrame(QRectF(0, 0, 180, 30));
    m_segment->addTarget(ControlEventValueChanged, [this] { segmentChanged(); });
    navigationItem()->setTitleView(m_segment);

    TableView* table = tableView();
    m_spinner = new ActivityIndicatorView(ActivityIndicatorStyleGray);
    m_spinner->setObjectName(QStringLiteral("spinner"));
    m_spinner->setHidesWhenStopped(true);
    m_spinner->setFrame(QRectF(0, 0, view()->frame().width(), 44));
    table->setTableFooterView(m_spinner);

    m_stateLabel = new Label(view()->bounds());
    m_stateLabel->setObjectName(QStringLiteral("stateLabel"));
    m_stateLabel->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
    m_stateLabel->setTextAlignment(TextAlignmentCenter);
    m_stateLabel->setNumberOfLines(2);

    m_themeObserver = platform::NotificationCenter::defaultCenter().addObserver(
        KRThemeDidChangeNotification, nullptr, [this](const platform::Notification&) {
            applyTheme();
            tableView()->reloadData();
        });
    m_sessionObserver = platform::NotificationCenter::defaultCenter().addObserver(
        KRSessionDidChangeNotification, nullptr, [this](const platform::Notification&) { sessionDidChange(); });
    applyTheme();
    reloadMessages();
}

void KRMessageViewController::applyTheme()
{
    const KRTheme* theme = KRTheme::sharedTheme();
    TableView* table = tableView();
    table->setBackgroundColor(theme->backgroundColor());
    table->setSeparatorColor(theme->separatorColor());
    m_stateLabel->setBackgroundColor(theme->backgroundColor());
    m_stateLabel->setTextColor(theme->secondaryTextColor());
    m_spinner->setActivityIndicatorViewStyle(theme->spinnerStyle());
    theme->applyToNavigationSegmentedControl(m_segment);
}

void KRMessageViewController::showState(const QString& text, bool asBackground)
{
    m_stateLabel->setText(text);
    tableView()->setBackgroundView(asBackground ? m_stateLabel.data() : nullptr);
}

void KRMessageViewController::segmentChanged() { reloadMessages(); }

void KRMessageViewController::sessionDidChange()
{
    // A screen whose views have gone with their window has nothing left to show the change on.
    if (!isViewLoaded())
        return;
    if (KRSessionStore::sharedStore().signedInUserID() == m_listAccount)
        return;
    // The next account's messages start at the top, not where the last one's were scrolled to.
    TableView* table = tableView();
    table->setContentOffset(QPointF(0, -table->contentInset().top));
    reloadMessages();
}

void KRMessageViewController::reloadMessages()
{
    m_messages.clear();
    m_messageIdentities.clear();
    m_cursor = 0;
    m_hasMore = true;
    // A page still on its way belongs to the list just cleared: it is dropped on arrival, and
    // this list starts over as soon as it is free.
    if (m_loading) {
        ++m_pageGeneration;
        m_loading = false;
        m_spinner->stopAnimating();
    }
    m_listAccount = KRSessionStore::sharedStore().signedInUserID();
    if (!m_listAccount) {
        showState(QStringLiteral("登录后可查看消息"), true);
        tableView()->reloadData();
        return;
    }
    // The emptied list shows at once, not when the new first page arrives.
    tableView()->setBackgroundView(nullptr);
    tableView()->reloadData();
    loadNextPage();
}

void KRMessageViewController::loadNextPage()
{
    if (m_loading || !m_hasMore)
        return;
    m_loading = true;
    m_spinner->startAnimating();
    const quint64 generation = ++m_pageGeneration;
    const qint64 asked = m_cursor;
    auto completion = [this, generation, asked](const QVariant& result, const KROptionalError& error) {
        if (generation != m_pageGeneration)
            return;
        receivePage(result, error, asked);
    };
    if (m_segment->selectedSegmentIndex() == 1)
        KRAccountClient::sharedClient()->loadAtMessagesWithCursor(asked, this, completion);
    else
        KRAccountClient::sharedClient()->loadReplyMessagesWithCursor(asked, this, completion);
}

void KRMessageViewController::receivePage(const QVariant& result, const KROptionalError& error, qint64 askedCursor)
{
    m_loading = false;
    m_spinner->stopAnimating();
    if (error) {
        // With rows shown the failure stays quiet: the next scroll asks for the same page again.
        if (m_messages.isEmpty())
            showState(error->localizedDescription(), true);
        return;
    }
    if (!KRIsDictionary(result)) {
        showState(QStringLiteral("消息响应格式已变化，请重试"), m_messages.isEmpty());
        return;
    }
    const QVariantMap page = result.toMap();
    const QVariant itemsValue = page.value(QStringLiteral("items"));
    const QVariantList items = KRIsArray(itemsValue) ? itemsValue.toList() : QVariantList();
    int appended = 0;
    for (const QVariant& item : items) {
        if (!KRIsDictionary(item))
            continue;
        const QString identity = KRMessageIdentity(item.toMap());
        if (!identity.isEmpty() && m_messageIdentities.contains(identity))
            continue;
        m_messages.append(item);
        if (!identity.isEmpty())
            m_messageIdentities.insert(identity);
        ++appended;
    }
    const PageCursor cursor = readCursor(page);
    m_cursor = cursor.next;
    const QVariant hasMoreValue = page.value(QStringLiteral("has_more"));
    const bool serverHasMore = hasMoreValue.isValid() ? KRBoolean(hasMoreValue) : !cursor.ended;
    m_hasMore = appended > 0 && serverHasMore && !cursor.ended && cursor.next >= 1 && cursor.next != askedCursor;
    if (m_messages.isEmpty())
        showState(QStringLiteral("暂时没有新消息"), true);
    else
        tableView()->setBackgroundView(nullptr);
    tableView()->reloadData();
}

int KRMessageViewController::numberOfRowsInSection(TableView*, int) { return int(m_messages.size()); }

TableViewCell* KRMessageViewController::cellForRowAtIndexPath(TableView* table, const IndexPath& indexPath)
{
    auto* cell = static_cast<KRMessageCell*>(table->dequeueReusableCellWithIdentifier(kCellIdentifier));
    if (!cell)
        cell = new KRMessageCell(TableViewCellStyleSubtitle, kCellIdentifier);
    cell->applyTheme();
    cell->configureWithMessage(m_messages.value(indexPath.row).toMap(), m_segment->selectedSegmentIndex() == 1);
    return cell;
}

void KRMessageViewController::scrollViewDidScroll(ScrollView* scrollView)
{
    if (m_loading || !m_hasMore || m_messages.isEmpty())
        return;
    const qreal visibleBottom = scrollView->contentOffset().y() + scrollView->frame().height();
    if (visibleBottom >= scrollView->contentSize().height() - 80)
        loadNextPage();
}

void KRMessageViewController::didSelectRowAtIndexPath(TableView* table, const IndexPath& indexPath)
{
    table->deselectRowAtIndexPath(indexPath, true);
    if (indexPath.row < 0 || indexPath.row >= m_messages.size())
        return;
    openJump(KRMessageResolveJump(m_messages.at(indexPath.row).toMap()));
}

void KRMessageViewController::openJump(const KRMessageJump& jump)
{
    NavigationController* navigation = navigationController();
    switch (jump.route) {
    case KRMessageJump::Route::None:
        (new AlertView(QStringLiteral("暂时无法跳转"), QStringLiteral("这条消息没有返回可识别的视频或动态地址。"),
                       QStringLiteral("知道了"), {}))
            ->show();
        return;
    case KRMessageJump::Route::Dynamic:
        KRRouter::openDynamicDetail(navigation, jump.dynamicID, focusForJump(jump));
        return;
    case KRMessageJump::Route::Archive:
    case KRMessageJump::Route::BVID:
    case KRMessageJump::Route::AID:
        break;
    }
    auto video = std::make_shared<KRVideo>();
    if (jump.route == KRMessageJump::Route::BVID) {
        video->setBvid(jump.bvid);
    } else {
        video->setAid(jump.aid);
        video->setResolvedAid(jump.aid);
    }
    video->setTitle(jump.title);
    if (jump.route == KRMessageJump::Route::Archive)
        KRConsole::log(QStringLiteral("[KorvaneMessageJump] route=archive aid=%1 root=%2 target=%3")
                           .arg(jump.aid)
                           .arg(jump.root)
                           .arg(jump.target));
    KRRouter::openVideoPage(navigation, video, focusForJump(jump));
}

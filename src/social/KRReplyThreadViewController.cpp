#include "social/KRReplyThreadViewController.h"

#include "shared/KRCommentImageViewController.h"

#include "look/KRTheme.h"
#include "model/KRComment.h"
#include "model/KRCommentPage.h"
#include "platform/uikit/AnimationClock.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/NavigationItem.h"
#include "platform/uikit/TableView.h"
#include "platform/uikit/TableViewCell.h"
#include "platform/uikit/TextField.h"
#include "platform/uikit/Window.h"
#include "service/KRAPIClient.h"
#include "shared/KRCommentCell.h"
#include "shared/KRLoadMoreView.h"
#include "store/KRSessionStore.h"


#include <algorithm>

using namespace platform::uikit;

namespace {

constexpr int kCountHeaderTag = 9102;
constexpr qreal kPlaceholderRowHeight = 72;
constexpr qreal kLoadMoreHeight = 44;
constexpr qreal kAutoPagingDistance = 100;
constexpr int kFocusSearchPageLimit = 8;
constexpr int kHighlightMilliseconds = 1800;
const QString kCommentCellIdentifier = QStringLiteral("KRThreadCommentCell");
const QString kEmptyCellIdentifier = QStringLiteral("KRReplyEmptyCell");

} // namespace

Image KRReplyTintedImage(const Image& image, const std::optional<QColor>& color)
{
    return KRDynamicComposerTintedImage(image, color);
}

KRReplyThreadViewController::KRReplyThreadViewController(const std::shared_ptr<KRComment>& root, qint64 focusedReplyRpid,
                                                         QObject* parent)
    : TableViewController(TableViewStylePlain, parent), m_rootComment(root)
{
    if (m_rootComment) {
        m_paging.replies = m_rootComment->previewReplies();
        m_paging.totalCount = m_rootComment->replyCount();
    }
    m_paging.focusedReplyRpid = std::max<qint64>(0, focusedReplyRpid);
    setHidesBottomBarWhenPushed(true);
}

KRReplyThreadViewController::~KRReplyThreadViewController()
{
    m_delayed.cancelAll();
    // Deleting a field that holds the focus posts the keyboard's will-hide: nothing of this
    // half-gone screen may hear it.
    m_keyboardShowObserver.reset();
    m_keyboardHideObserver.reset();
    m_themeObserver.reset();
    m_sessionObserver.reset();
    AnimationClock::cancel(m_composerAnimation);
    // The bar and the panel may sit in the navigation view; they are the screen's own.
    delete m_replyComposerBar.data();
    delete m_replyEmotePanel.data();
}

int KRReplyThreadViewController::supportedInterfaceOrientations() { return InterfaceOrientationMaskPortrait; }

void KRReplyThreadViewController::viewDidLoad()
{
    TableViewController::viewDidLoad();
    setTitle(QStringLiteral("楼中楼"));
    TableView* table = tableView();
    table->setSeparatorStyle(TableViewCellSeparatorStyleSingleLine);
    table->setContentInset({});
    table->setScrollIndicatorInsets({});
    m_loadMoreView = new KRLoadMoreView(QRectF(0, 0, table->frame().width(), kLoadMoreHeight));
    m_loadMoreView->setObjectName(QStringLiteral("loadMoreView"));
    m_loadMoreView->addTarget([this] { loadMoreTapped(); });
    table->setTableFooterView(m_loadMoreView);

    buildReplyComposer();
    auto& center = platform::NotificationCenter::defaultCenter();
    m_keyboardShowObserver = center.addObserver(KeyboardWillShowNotification, nullptr,
                                                [this](const platform::Notification& n) { replyKeyboardWillShow(n); });
    m_keyboardHideObserver = center.addObserver(KeyboardWillHideNotification, nullptr,
                                                [this](const platform::Notification& n) { replyKeyboardWillHide(n); });
    m_themeObserver = center.addObserver(KRThemeDidChangeNotification, nullptr, [this](const platform::Notification&) { themeDidChange(); });
    m_sessionObserver = center.addObserver(KRSessionDidChangeNotification, nullptr,
                                           [this](const platform::Notification&) { sessionDidChange(); });
    applyTheme();
    m_replyAccount = KRSessionStore::sharedStore().signedInUserID();
    selectReplyTarget(nullptr);

    // A focused reply already among the previews keeps them in front.
    const qint64 focused = m_paging.focusedReplyRpid;
    const bool focusInPreviews = focused > 0 && std::any_of(m_paging.replies.begin(), m_paging.replies.end(),
                                                            [focused](const auto& reply) { return reply && reply->rpid() == focused; });
    loadPage(1, !focusInPreviews);
}

void KRReplyThreadViewController::viewWillAppear(bool animated)
{
    TableViewController::viewWillAppear(animated);
    View* host = navigationController() ? navigationController()->view() : nullptr;
    if (!host)
        host = view()->window();
    if (!host)
        host = view();
    for (View* piece : {m_replyComposerBar.data(), m_replyEmotePanel.data()}) {
        if (!piece)
            continue;
        if (piece->superview() != host)
            host->addSubview(piece);
        host->bringSubviewToFront(piece);
    }
    layoutReplyComposer();
}

void KRReplyThreadViewController::viewWillDisappear(bool animated)
{
    TableViewController::viewWillDisappear(animated);
    m_delayed.cancel(QStringLiteral("beginReplyComposerCancellation"));
    m_delayed.cancel(QStringLiteral("finishReplyComposerCancellation"));
    m_replyInputField->resignFirstResponder();
    finishReplyComposerCancellation();
    detachReplyComposer();
}

void KRReplyThreadViewController::viewDidLayoutSubviews()
{
    TableViewController::viewDidLayoutSubviews();
    layoutReplyComposer();
}

void KRReplyThreadViewController::applyTheme()
{
    const KRTheme* theme = KRTheme::sharedTheme();
    navigationItem()->setTitleView(theme->navigationTitleLabelWithText(QStringLiteral("楼中楼")));
    view()->setBackgroundColor(theme->backgroundColor());
    tableView()->setBackgroundColor(theme->backgroundColor());
    tableView()->setSeparatorColor(theme->separatorColor());
    applyComposerTheme();
    if (m_loadMoreView)
        m_loadMoreView->applyTheme();
}

void KRReplyThreadViewController::sessionDidChange()
{
    // A screen whose views have gone with their window has nothing left to show the change on.
    if (!isViewLoaded())
        return;
    const std::optional<qint64> account = KRSessionStore::sharedStore().signedInUserID();
    if (account == m_replyAccount) {
        selectReplyTarget(m_composer.target);
        return;
    }
    // The reply being written, and whom it answers, were the last account's; so is a post still
    // on its way, which no longer keeps the next account from sending its own.
    m_replyAccount = account;
    ++m_composer.writer;
    m_composer.postInFlight = false;
    m_replyInputField->setText({});
    if (!m_replyComposerBar->isHidden())
        cancelReplyComposer();
    selectReplyTarget(nullptr);
}

void KRReplyThreadViewController::themeDidChange()
{
    applyTheme();
    tableView()->reloadData();
}

// ---- table

int KRReplyThreadViewController::numberOfRowsInSection(TableView*, int section)
{
    return section == 0 ? 1 : std::max(1, int(m_paging.replies.size()));
}

TableViewCell* KRReplyThreadViewController::cellForRowAtIndexPath(TableView* table, const IndexPath& ip)
{
    const KRTheme* theme = KRTheme::sharedTheme();
    if (ip.section == 1 && m_paging.replies.isEmpty()) {
        TableViewCell* cell = table->dequeueReusableCellWithIdentifier(kEmptyCellIdentifier);
        if (!cell)
            cell = new TableViewCell(TableViewCellStyleDefault, kEmptyCellIdentifier);
        cell->textLabel()->setText(m_paging.loading ? QStringLiteral("正在加载回复…") : QStringLiteral("暂无回复"));
        cell->textLabel()->setFont(Label::systemFont(12));
        cell->textLabel()->setTextAlignment(TextAlignmentCenter);
        cell->textLabel()->setTextColor(theme->secondaryTextColor());
        cell->setBackgroundView(new ImageView(theme->surfaceBackgroundImage()));
        cell->setSelectionStyle(TableViewCellSelectionStyleNone);
        return cell;
    }
    auto* cell = qobject_cast<KRCommentCell*>(table->dequeueReusableCellWithIdentifier(kCommentCellIdentifier));
    if (!cell)
        cell = new KRCommentCell(TableViewCellStyleDefault, kCommentCellIdentifier);
    cell->configureWithComment(ip.section == 0 ? m_rootComment : m_paging.replies.value(ip.row), false);
    cell->setPictureDelegate(this);
    cell->useAccentSelection();
    return cell;
}

qreal KRReplyThreadViewController::heightForRowAtIndexPath(TableView* table, const IndexPath& ip)
{
    if (ip.section == 1 && m_paging.replies.isEmpty())
        return kPlaceholderRowHeight;
    const std::shared_ptr<KRComment> comment = ip.section == 0 ? m_rootComment : m_paging.replies.value(ip.row);
    return comment ? KRCommentCell::heightForComment(*comment, table->frame().width(), false) : kPlaceholderRowHeight;
}

View* KRReplyThreadViewController::viewForHeaderInSection(TableView* table, int section)
{
    const KRTheme* theme = KRTheme::sharedTheme();
    auto* label = new Label(QRectF(0, 0, table->frame().width(), 28));
    label->setBackgroundColor(theme->backgroundColor());
    label->setTextColor(theme->secondaryTextColor());
    label->setFont(Label::systemFont(11, true));
    if (section == 0) {
        label->setText(QStringLiteral("   原评论"));
    } else {
        label->setText(QStringLiteral("   全部回复  %1").arg(m_paging.totalCount));
        label->setTag(kCountHeaderTag);
    }
    return label;
}

void KRReplyThreadViewController::updateReplyCountHeader()
{
    if (auto* label = qobject_cast<Label*>(tableView()->viewWithTag(kCountHeaderTag)))
        label->setText(QStringLiteral("   全部回复  %1").arg(m_paging.totalCount));
}

void KRReplyThreadViewController::didSelectRowAtIndexPath(TableView* table, const IndexPath& ip)
{
    table->deselectRowAtIndexPath(ip, true);
    if (ip.section == 1 && m_paging.replies.isEmpty())
        return;
    selectReplyTarget(ip.section == 0 ? m_rootComment : m_paging.replies.value(ip.row));
    replyComposerTapped();
}

// ---- paging

void KRReplyThreadViewController::scrollViewDidScroll(ScrollView* scrollView)
{
    if (m_paging.loading || !m_paging.hasMore || m_paging.replies.isEmpty())
        return;
    const qreal contentHeight = scrollView->contentSize().height();
    const qreal viewHeight = scrollView->frame().height();
    if (contentHeight <= viewHeight)
        return;
    if (scrollView->contentOffset().y() + viewHeight >= contentHeight - kAutoPagingDistance)
        loadPage(m_paging.page + 1, false);
}

void KRReplyThreadViewController::loadMoreTapped()
{
    if (!m_paging.loading)
        loadPage(m_paging.page + 1, false);
}

void KRReplyThreadViewController::loadPage(qint32 page, bool reset)
{
    if (m_paging.loading)
        return;
    m_paging.loading = true;
    m_loadMoreView->setLoadMoreState(KRLoadMoreStateLoading);
    KRAPIClient::sharedClient()->loadRepliesForComment(
        m_rootComment, page, this, [this, page, reset](const std::shared_ptr<KRCommentPage>& result, const KROptionalError& error) {
            m_paging.loading = false;
            if (error || !result) {
                m_loadMoreView->setLoadMoreState(KRLoadMoreStateFailed);
                tableView()->reloadData();
                applyFocusedReplyIfPossible();
                return;
            }
            if (reset)
                m_paging.replies.clear();
            KRAppendCommentsSkippingRepeats(m_paging.replies, result->comments());
            m_paging.page = page;
            m_paging.totalCount = result->totalCount() >= 1 ? result->totalCount() : (m_rootComment ? m_rootComment->replyCount() : 0);
            m_paging.hasMore = result->hasMore();
            m_loadMoreView->setLoadMoreState(m_paging.hasMore ? KRLoadMoreStateIdle : KRLoadMoreStateNoMore);
            tableView()->reloadData();
            applyFocusedReplyIfPossible();
        });
    // The placeholder row says the thread is loading.
    if (m_paging.replies.isEmpty())
        tableView()->reloadData();
}

void KRReplyThreadViewController::applyFocusedReplyIfPossible()
{
    const qint64 focused = m_paging.focusedReplyRpid;
    if (focused < 1 || m_paging.loading)
        return;
    const auto found = std::find_if(m_paging.replies.begin(), m_paging.replies.end(),
                                    [focused](const auto& reply) { return reply && reply->rpid() == focused; });
    if (found != m_paging.replies.end()) {
        const std::shared_ptr<KRComment> reply = *found;
        m_paging.replies.erase(found);
        m_paging.replies.prepend(reply);
        m_paging.focusedReplyRpid = 0;
        TableView* table = tableView();
        table->reloadData();
        table->scrollToRowAtIndexPath({1, 0}, TableViewScrollPositionTop, false);
        table->selectRowAtIndexPath({1, 0}, false);
        m_delayed.schedule(QStringLiteral("clearFocusedReplyHighlight"), kHighlightMilliseconds, [this] { clearFocusedReplyHighlight(); });
        return;
    }
    if (m_paging.hasMore && m_paging.focusedReplySearchPages < kFocusSearchPageLimit) {
        ++m_paging.focusedReplySearchPages;
        loadPage(m_paging.page + 1, false);
        return;
    }
    m_paging.focusedReplyRpid = 0;
}

void KRReplyThreadViewController::clearFocusedReplyHighlight()
{
    const IndexPath selected = tableView()->indexPathForSelectedRow();
    if (selected.isValid())
        tableView()->deselectRowAtIndexPath(selected, true);
}

void KRReplyThreadViewController::commentCellDidTapPictureAtIndex(KRCommentCell*, unsigned index, const QStringList& urls)
{
    if (index >= unsigned(urls.size()))
        return;
    cancelReplyComposer();
    detachReplyComposer();
    if (NavigationController* navigation = navigationController())
        navigation->pushViewController(new KRCommentImageViewController(urls, index), true);
}

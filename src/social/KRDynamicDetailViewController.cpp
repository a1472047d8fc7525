#include "social/KRDynamicDetailViewController.h"

#include "account/KRAccountClient.h"
#include "look/KRTheme.h"
#include "model/KRComment.h"
#include "model/KRCommentPage.h"
#include "model/KRConsole.h"
#include "model/KRDynamic.h"
#include "model/KRTolerantValue.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/NavigationItem.h"
#include "platform/uikit/TableView.h"
#include "platform/uikit/TableViewCell.h"
#include "service/KRAPIClient.h"
#include "shared/KRCommentCell.h"
#include "shared/KRDynamicComposerView.h"
#include "nav/KRRouter.h"
#include "social/KRDynamicCell.h"
#include "store/KRSessionStore.h"

#include <algorithm>

using namespace platform::uikit;

namespace {

constexpr int kHighlightMilliseconds = 1800;
constexpr qreal kStateRowHeight = 44;
constexpr qreal kCommentsHeaderHeight = 30;
const QString kCommentCellIdentifier = QStringLiteral("KRDynamicInlineCommentCell");
const QString kStateCellIdentifier = QStringLiteral("KRDynamicInlineCommentStateCell");
const QString kClearHighlight = QStringLiteral("clearFocusedRootCommentHighlight");

} // namespace

KRDynamicDetailViewController::KRDynamicDetailViewController(const QString& dynamicID, QObject* parent)
    : TableViewController(TableViewStylePlain, parent), m_dynamicID(dynamicID)
{
}

KRDynamicDetailViewController::~KRDynamicDetailViewController()
{
    m_delayed.cancelAll();
    m_themeObserver.reset();
    m_sessionObserver.reset();
    if (m_composer)
        m_composer->setDelegate(nullptr);
    delete m_composer.data();
    delete m_composerDock.data();
}

int KRDynamicDetailViewController::supportedInterfaceOrientations() { return InterfaceOrientationMaskPortrait; }

bool KRDynamicDetailViewController::shouldAutorotateToInterfaceOrientation(int orientation)
{
    return orientation == InterfaceOrientationPortrait;
}

void KRDynamicDetailViewController::viewDidLoad()
{
    TableViewController::viewDidLoad();
    setTitle(QStringLiteral("动态"));

    m_composer = new KRDynamicComposerView(QRectF());
    m_composer->setObjectName(QStringLiteral("composer"));
    m_composer->setDelegate(this);

    auto* dock = new View(QRectF(), view());
    m_composerDock = dock;
    dock->setObjectName(QStringLiteral("composerDock"));
    dock->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleTopMargin);
    m_composerSeparator = new View(QRectF(), dock);
    m_composerSeparator->setObjectName(QStringLiteral("composerSeparator"));
    m_composerButton = new Button(ButtonTypeCustom, QRectF(), dock);
    m_composerButton->setObjectName(QStringLiteral("composerButton"));
    m_composerButton->titleLabel()->setFont(Label::systemFont(12));
    m_composerButton->titleLabel()->setTextAlignment(TextAlignmentLeft);
    m_composerButton->setContentEdgeInsets({0, 12, 0, 8});
    m_composerButton->setAccessibilityLabel(QStringLiteral("发表评论"));
    m_composerButton->addTarget(ControlEventTouchUpInside, [this] { commentComposerButtonTapped(); });
    // Kept under the screen's own view, hidden, until the first appearance moves it to its host.
    dock->setHidden(true);

    auto& center = platform::NotificationCenter::defaultCenter();
    m_themeObserver = center.addObserver(KRThemeDidChangeNotification, nullptr, [this](const platform::Notification&) { themeDidChange(); });
    m_sessionObserver = center.addObserver(KRSessionDidChangeNotification, nullptr,
                                           [this](const platform::Notification&) { sessionDidChange(); });
    applyTheme();
    loadDynamic();
}

void KRDynamicDetailViewController::loadDynamic()
{
    m_loadedAccount = KRSessionStore::sharedStore().signedInUserID();
    showStateText(QStringLiteral("正在加载动态…"));
    KRAccountClient::sharedClient()->loadDynamicDetailID(
        m_dynamicID, accountRequests(), [this](const QVariant& data, const KROptionalError& error) { dynamicDidLoad(data, error); });
}

QObject* KRDynamicDetailViewController::accountRequests()
{
    if (!m_accountRequests)
        m_accountRequests = new QObject(this);
    return m_accountRequests;
}

void KRDynamicDetailViewController::showStateText(const QString& text)
{
    if (!m_stateLabel) {
        m_stateLabel = new Label(view()->bounds());
        m_stateLabel->setObjectName(QStringLiteral("stateLabel"));
        m_stateLabel->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
        m_stateLabel->setTextAlignment(TextAlignmentCenter);
        m_stateLabel->setNumberOfLines(2);
        tableView()->setBackgroundView(m_stateLabel);
        themeStateLabel();
    }
    m_stateLabel->setText(text);
}

void KRDynamicDetailViewController::dynamicDidLoad(const QVariant& data, const KROptionalError& error)
{
    const KRDynamicList dynamics = error ? KRDynamicList() : KRDynamic::dynamicsFromPayload(data);
    if (error || dynamics.isEmpty()) {
        showStateText(error ? error->localizedDescription() : QStringLiteral("这条动态已失效或不可见"));
        return;
    }
    m_dynamic = dynamics.first();
    // Taken out of the table, the label is ours to delete: the dynamic replaces it until another
    // account signs in and the screen loads again.
    tableView()->setBackgroundView(nullptr);
    delete m_stateLabel;
    m_stateLabel = nullptr;
    tableView()->reloadData();
    loadCommentsReset(true);
    openFocusedCommentThreadIfPossible();
}

void KRDynamicDetailViewController::viewWillAppear(bool animated)
{
    TableViewController::viewWillAppear(animated);
    if (!m_comments.list.isEmpty())
        KRCommentCell::redrawRows(tableView());
}

void KRDynamicDetailViewController::viewDidAppear(bool animated)
{
    TableViewController::viewDidAppear(animated);
    attachCommentComposerDock();
    // The dock and the composer never show together; anything else (back from the picture
    // viewer) brings the dock back.
    setCommentComposerDockHidden(m_composer && m_composer->superview());
    openFocusedCommentThreadIfPossible();
}

void KRDynamicDetailViewController::viewDidLayoutSubviews()
{
    TableViewController::viewDidLayoutSubviews();
    layoutCommentComposerDock();
}

void KRDynamicDetailViewController::viewWillDisappear(bool animated)
{
    TableViewController::viewWillDisappear(animated);
    if (presentedViewController())
        return;
    if (m_composer && m_composer->superview())
        m_composer->dismiss();
    if (m_composerDock && m_composerDock->superview() != view()) {
        m_composerDock->removeFromSuperview();
        view()->addSubview(m_composerDock);
        m_composerDock->setHidden(true);
    }
}

void KRDynamicDetailViewController::applyTheme()
{
    const KRTheme* theme = KRTheme::sharedTheme();
    navigationItem()->setTitleView(theme->navigationTitleLabelWithText(QStringLiteral("动态")));
    tableView()->setBackgroundColor(theme->backgroundColor());
    tableView()->setSeparatorColor(theme->separatorColor());
    themeStateLabel();
    m_composerDock->setBackgroundColor(theme->surfaceColor());
    m_composerSeparator->setBackgroundColor(theme->separatorColor());
    m_composerButton->setBackgroundImage(theme->searchFieldBackgroundImage(), ControlStateNormal);
    m_composerButton->setTitleColor(theme->secondaryTextColor(), ControlStateNormal);
    m_composerButton->setTitleColor(theme->accentColor(), ControlStateHighlighted);
    updateComposerButtonTitle();
}

void KRDynamicDetailViewController::themeStateLabel()
{
    if (!m_stateLabel)
        return;
    const KRTheme* theme = KRTheme::sharedTheme();
    m_stateLabel->setBackgroundColor(theme->backgroundColor());
    m_stateLabel->setTextColor(theme->secondaryTextColor());
}

void KRDynamicDetailViewController::themeDidChange()
{
    applyTheme();
    tableView()->reloadData();
}

void KRDynamicDetailViewController::sessionDidChange()
{
    // A screen whose views have gone with their window has nothing left to show the change on.
    if (!isViewLoaded())
        return;
    updateComposerButtonTitle();
    if (KRSessionStore::sharedStore().signedInUserID() == m_loadedAccount)
        return;
    // The dynamic, its comments and whatever was being written or chosen were the last
    // account's: they go, with every answer still on its way to them.
    delete m_accountRequests.data();
    dropMoreSheet();
    m_delayed.cancel(kClearHighlight);
    if (m_composer && m_composer->superview())
        finishComposing();
    m_compose = {};
    m_focus = {};
    m_comments = {};
    m_likeInFlight = false;
    m_dynamic.reset();
    tableView()->reloadData();
    loadDynamic();
}

void KRDynamicDetailViewController::updateComposerButtonTitle()
{
    m_composerButton->setTitle(KRSessionStore::sharedStore().isLoggedIn() ? QStringLiteral("说点什么…") : QStringLiteral("登录后发表评论"),
                               ControlStateNormal);
}

// ---- derived values

qint64 KRDynamicDetailViewController::commentOID() const
{
    if (!m_dynamic)
        return 0;
    return m_dynamic->commentOID() >= 1 ? m_dynamic->commentOID() : KRIntegerValue(m_dynamic->dynamicID()).value_or(0);
}

qint32 KRDynamicDetailViewController::commentType() const
{
    return m_dynamic && m_dynamic->commentType() >= 2 ? m_dynamic->commentType() : 1;
}

// ---- table

int KRDynamicDetailViewController::numberOfSectionsInTableView(TableView*) { return m_dynamic ? 2 : 0; }

int KRDynamicDetailViewController::numberOfRowsInSection(TableView*, int section)
{
    if (section == 0)
        return 1;
    const bool stateRow = m_comments.loading || m_comments.hasMore || !m_comments.errorText.isEmpty() || m_comments.list.isEmpty();
    return int(m_comments.list.size()) + (stateRow ? 1 : 0);
}

TableViewCell* KRDynamicDetailViewController::cellForRowAtIndexPath(TableView* table, const IndexPath& ip)
{
    if (ip.section == 0)
        return dynamicRowCell(table);
    if (ip.row >= m_comments.list.size())
        return commentStateCellForTableView(table);
    auto* cell = qobject_cast<KRCommentCell*>(table->dequeueReusableCellWithIdentifier(kCommentCellIdentifier));
    if (!cell)
        cell = new KRCommentCell(TableViewCellStyleDefault, kCommentCellIdentifier);
    cell->configureWithComment(m_comments.list.at(ip.row), true);
    cell->setPictureDelegate(this);
    cell->useAccentSelection();
    return cell;
}

TableViewCell* KRDynamicDetailViewController::commentStateCellForTableView(TableView* table)
{
    const KRTheme* theme = KRTheme::sharedTheme();
    TableViewCell* cell = table->dequeueReusableCellWithIdentifier(kStateCellIdentifier);
    if (!cell)
        cell = new TableViewCell(TableViewCellStyleDefault, kStateCellIdentifier);
    QString text;
    if (m_comments.loading)
        text = QStringLiteral("正在加载评论…");
    else if (!m_comments.errorText.isEmpty())
        text = QStringLiteral("评论加载失败，点击重试");
    else if (!m_comments.list.isEmpty())
        text = QStringLiteral("查看更多评论");
    else
        text = QStringLiteral("暂时没有评论");
    cell->textLabel()->setText(text);
    cell->textLabel()->setTextAlignment(TextAlignmentCenter);
    cell->textLabel()->setFont(Label::systemFont(12));
    cell->textLabel()->setTextColor(theme->secondaryTextColor());
    cell->setBackgroundColor(theme->surfaceColor());
    cell->setSelectionStyle(m_comments.loading ? TableViewCellSelectionStyleNone : TableViewCellSelectionStyleBlue);
    return cell;
}

qreal KRDynamicDetailViewController::heightForRowAtIndexPath(TableView* table, const IndexPath& ip)
{
    const qreal width = table->frame().width();
    if (ip.section == 0)
        return m_dynamic ? KRDynamicCell::heightForDynamic(*m_dynamic, width, true) : kStateRowHeight;
    if (ip.row < m_comments.list.size() && m_comments.list.at(ip.row))
        return KRCommentCell::heightForComment(*m_comments.list.at(ip.row), width, true);
    return kStateRowHeight;
}

qreal KRDynamicDetailViewController::heightForHeaderInSection(TableView*, int section)
{
    return section == 1 ? kCommentsHeaderHeight : 0.01;
}

View* KRDynamicDetailViewController::viewForHeaderInSection(TableView* table, int section)
{
    if (section != 1)
        return nullptr;
    const KRTheme* theme = KRTheme::sharedTheme();
    const qreal width = table->frame().width();
    auto* header = new View(QRectF(0, 0, width, kCommentsHeaderHeight));
    header->setBackgroundColor(theme->backgroundColor());
    auto* label = new Label(QRectF(12, 0, width - 24, kCommentsHeaderHeight), header);
    label->setObjectName(QStringLiteral("commentsHeaderLabel"));
    label->setBackgroundColor(QColor(Qt::transparent));
    label->setFont(Label::systemFont(14, true));
    label->setTextColor(theme->primaryTextColor());
    const qint32 count = m_dynamic ? m_dynamic->commentCount() : 0;
    label->setText(count >= 1 ? QStringLiteral("评论 %1").arg(count) : QStringLiteral("评论"));
    return header;
}

void KRDynamicDetailViewController::didSelectRowAtIndexPath(TableView* table, const IndexPath& ip)
{
    table->deselectRowAtIndexPath(ip, true);
    if (ip.section != 1)
        return;
    if (ip.row < m_comments.list.size()) {
        const std::shared_ptr<KRComment> comment = m_comments.list.at(ip.row);
        if (!comment)
            return;
        if (comment->replyCount() >= 1) {
            if (m_threadTap.claim(comment))
                KRRouter::openReplyThread(navigationController(), comment);
        } else {
            presentCommentComposerForComment(comment);
        }
        return;
    }
    if (m_comments.loading)
        return;
    loadCommentsReset(m_comments.list.isEmpty());
}

// ---- comment paging

void KRDynamicDetailViewController::loadCommentsReset(bool reset)
{
    if (m_comments.loading || commentOID() < 1)
        return;
    if (reset) {
        m_comments.list.clear();
        m_comments.page = 0;
        m_comments.hasMore = true;
        m_comments.errorText.clear();
    } else if (!m_comments.hasMore) {
        return;
    }
    m_comments.loading = true;
    tableView()->reloadData();
    const qint32 page = m_comments.page + 1;
    KRAPIClient::sharedClient()->loadCommentsForOID(
        commentOID(), commentType(), page, accountRequests(), [this, page](const std::shared_ptr<KRCommentPage>& result, const KROptionalError& error) {
            m_comments.loading = false;
            if (error || !result) {
                const QString text = error ? error->message() : QString();
                m_comments.errorText = text.isEmpty() ? QStringLiteral("评论加载失败") : text;
                tableView()->reloadData();
                applyFocusedRootCommentIfPossible();
                return;
            }
            m_comments.errorText.clear();
            KRAppendCommentsSkippingRepeats(m_comments.list, result->comments());
            m_comments.page = page;
            m_comments.hasMore = result->hasMore() && !result->comments().isEmpty();
            if (m_dynamic && (result->totalCount() >= 1 || page == 1))
                m_dynamic->setCommentCount(std::max<qint32>(result->totalCount(), qint32(m_comments.list.size())));
            postCommentCount();
            tableView()->reloadData();
            applyFocusedRootCommentIfPossible();
        });
}

void KRDynamicDetailViewController::postCommentCount()
{
    if (!m_dynamic)
        return;
    platform::NotificationCenter::defaultCenter().post(
        KRDynamicCommentCountDidChangeNotification, nullptr,
        {{QStringLiteral("dynamicID"), m_dynamic->dynamicID()}, {QStringLiteral("count"), qint64(m_dynamic->commentCount())}});
}

// ---- the focused comment

void KRDynamicDetailViewController::showCommentsAtRootRpid(qint64 root, qint64 target)
{
    m_focus.commentRpid = std::max<qint64>(0, root);
    m_focus.replyRpid = std::max<qint64>(0, target);
    m_focus.object.reset();
    openFocusedCommentThreadIfPossible();
}

void KRDynamicDetailViewController::showCommentsAtRpid(qint64 rpid) { showCommentsAtRootRpid(rpid, rpid); }

void KRDynamicDetailViewController::openFocusedCommentThreadIfPossible()
{
    if (m_focus.commentRpid < 1 || m_focus.loading || !m_dynamic || !isViewLoaded() || !view()->window() || commentOID() < 1)
        return;
    m_focus.loading = true;
    const qint64 root = m_focus.commentRpid;
    const qint64 oid = commentOID();
    const qint32 type = commentType();
    KRAPIClient::sharedClient()->loadCommentDetailForOID(
        oid, type, root, accountRequests(), [this, root, oid, type](const std::shared_ptr<KRComment>& comment, const KROptionalError& error) {
            m_focus.loading = false;
            if (m_focus.commentRpid != root)
                return;
            const qint64 target = m_focus.replyRpid > 0 ? m_focus.replyRpid : root;
            m_focus.commentRpid = 0;
            m_focus.replyRpid = 0;
            if (!comment || error) {
                KRConsole::log(QStringLiteral("[KorvaneDynamicMessageJump] oid=%1 type=%2 root=%3 error=%4")
                                   .arg(oid)
                                   .arg(type)
                                   .arg(root)
                                   .arg(error ? error->description() : QStringLiteral("(null)")));
                return;
            }
            if (target >= 1 && target != root) {
                KRRouter::openReplyThread(navigationController(), comment, target);
                return;
            }
            m_focus.object = comment;
            applyFocusedRootCommentIfPossible();
        });
}

void KRDynamicDetailViewController::applyFocusedRootCommentIfPossible()
{
    if (!m_focus.object || m_comments.loading || !m_dynamic)
        return;
    const qint64 rpid = m_focus.object->rpid();
    for (qsizetype i = m_comments.list.size() - 1; i >= 0; --i)
        if (m_comments.list.at(i) && m_comments.list.at(i)->rpid() == rpid)
            m_comments.list.removeAt(i);
    m_comments.list.prepend(m_focus.object);
    m_focus.object.reset();
    TableView* table = tableView();
    table->reloadData();
    if (!view()->window())
        return;
    table->scrollToRowAtIndexPath({1, 0}, TableViewScrollPositionTop, false);
    table->selectRowAtIndexPath({1, 0}, false);
    m_delayed.cancel(kClearHighlight);
    m_delayed.schedule(kClearHighlight, kHighlightMilliseconds, [this] { clearFocusedRootCommentHighlight(); });
}

void KRDynamicDetailViewController::clearFocusedRootCommentHighlight()
{
    const IndexPath first{1, 0};
    if (tableView()->indexPathForSelectedRow() == first)
        tableView()->deselectRowAtIndexPath(first, true);
}

#include "video/KRVideoCommentsPage.h"

#include "look/KRTheme.h"
#include "model/KRComment.h"
#include "model/KRCommentPage.h"
#include "model/KRVideo.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/TableView.h"
#include "platform/uikit/View.h"
#include "service/KRAPIClient.h"
#include "shared/KRCommentCell.h"
#include "shared/KRLoadMoreView.h"
#include "video/KRVideoDetailSupport.h"

#include <QSet>

#include <algorithm>

using namespace platform::uikit;

namespace {

const QString kCommentCellIdentifier = QStringLiteral("KRDetailComment");

template <typename T>
T* named(T* view, const char* name)
{
    view->setObjectName(QString::fromLatin1(name));
    return view;
}

} // namespace

KRVideoCommentsPage::KRVideoCommentsPage(Actions actions, QObject* parent)
    : QObject(parent)
    , m_actions(std::move(actions))
{
    KRVideoCommentComposer::Actions composer = m_actions.composer;
    composer.posted = [this](const std::shared_ptr<KRComment>& comment, qint64 root) { commentPosted(comment, root); };
    m_composer = std::make_unique<KRVideoCommentComposer>(std::move(composer));
}

KRVideoCommentsPage::~KRVideoCommentsPage()
{
    m_delayed.cancelAll();
    if (TableView* table = m_views.commentsTableView) {
        table->setDataSource(nullptr);
        table->setTableDelegate(nullptr);
        for (KRCommentCell* cell : table->findChildren<KRCommentCell*>())
            cell->setPictureDelegate(nullptr);
    }
}

void KRVideoCommentsPage::build(View* page, View* root, qreal width)
{
    m_root = root;
    m_requests.setView(page);
    m_focus.request.setView(page);
    Views& c = m_views;
    c.commentsTableView = named(new TableView(page->bounds(), TableViewStylePlain, page), "commentsTableView");
    c.commentsTableView->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
    c.commentsTableView->setSeparatorStyle(TableViewCellSeparatorStyleSingleLine);
    c.commentsTableView->setContentInset(EdgeInsets{0, 0, 8, 0});
    c.commentsTableView->setScrollIndicatorInsets(EdgeInsets{0, 0, 8, 0});
    c.commentsTableView->setDataSource(this);
    c.commentsTableView->setTableDelegate(this);
    c.commentsLoadMoreView = named(new KRLoadMoreView(QRectF(0, 0, width, 44)), "commentsLoadMoreView");
    c.commentsLoadMoreView->addTarget([this] { loadMoreTapped(); });
    c.commentsTableView->setTableFooterView(c.commentsLoadMoreView);
    c.commentsStateLabel = named(new Label(QRectF(24, 45, width - 48, 64), page), "commentsStateLabel");
    c.commentsStateLabel->setAutoresizingMask(AutoresizingFlexibleWidth);
    c.commentsStateLabel->setBackgroundColor(QBrush(Qt::NoBrush));
    c.commentsStateLabel->setNumberOfLines(0);
    c.commentsStateLabel->setTextAlignment(TextAlignmentCenter);
    c.commentsStateLabel->setFont(Label::systemFont(12));
    c.commentsStateLabel->setText(QStringLiteral("正在准备评论…"));
    m_composer->build(page, root, width);
}

void KRVideoCommentsPage::setVideo(const std::shared_ptr<KRVideo>& video)
{
    m_video = video;
    m_composer->setCommentObjectID(video ? (video->resolvedAid() > 0 ? video->resolvedAid() : video->aid()) : 0);
}

void KRVideoCommentsPage::layout(qreal w, qreal pageHeight, qreal rootHeight)
{
    Views& c = m_views;
    const qreal tableHeight = std::max<qreal>(pageHeight - 42, 0);
    c.commentsTableView->setFrame(QRectF(0, 0, w, tableHeight));
    m_composer->layout(w, tableHeight, rootHeight);
    c.commentsStateLabel->setFrame(QRectF(24, 45, w - 48, 64));
}

void KRVideoCommentsPage::applyTheme()
{
    KRTheme* theme = KRTheme::sharedTheme();
    Views& c = m_views;
    m_composer->applyTheme();
    c.commentsStateLabel->setTextColor(theme->secondaryTextColor());
    c.commentsTableView->setBackgroundColor(theme->backgroundColor());
    c.commentsTableView->setSeparatorColor(theme->separatorColor());
    c.commentsLoadMoreView->applyTheme();
    c.commentsTableView->reloadData();
}

void KRVideoCommentsPage::loadCommentsPage(int page, bool reset)
{
    if (!m_video || (m_loading && !reset))
        return;
    // A reset drops the page still on its way; a further page keeps the owner of the list.
    QObject* owner = reset ? m_requests.begin() : m_requests.owner();
    if (!owner)
        return;
    m_requested = true;
    m_loading = true;
    const quint64 generation = ++m_generation;
    m_views.commentsLoadMoreView->setHidden(false);
    m_views.commentsLoadMoreView->setLoadMoreState(KRLoadMoreStateLoading);
    if (m_comments.isEmpty()) {
        m_views.commentsStateLabel->setHidden(false);
        m_views.commentsStateLabel->setText(QStringLiteral("正在加载评论…"));
    }
    KRAPIClient::sharedClient()->loadCommentsForVideo(
        m_video, page, owner,
        [this, page, reset, generation](const std::shared_ptr<KRCommentPage>& result, const KROptionalError& error) {
            if (generation == m_generation)
                applyCommentsPage(result, error, page, reset);
        });
}

void KRVideoCommentsPage::loadMoreTapped()
{
    if (m_loading)
        return;
    if (m_comments.isEmpty())
        loadCommentsPage(1, true);
    else if (m_hasMore)
        loadCommentsPage(m_page + 1, false);
}

void KRVideoCommentsPage::applyCommentsPage(const std::shared_ptr<KRCommentPage>& result, const KROptionalError& error, int page,
                                            bool reset)
{
    Views& c = m_views;
    m_loading = false;
    if (error || !result) {
        c.commentsLoadMoreView->setHidden(false);
        c.commentsLoadMoreView->setLoadMoreState(KRLoadMoreStateFailed);
        if (m_comments.isEmpty())
            c.commentsStateLabel->setText(QStringLiteral("评论加载失败，点下方重试"));
        return;
    }
    if (reset)
        m_comments.clear();
    QSet<qint64> seen;
    for (const auto& comment : std::as_const(m_comments))
        seen.insert(comment->rpid());
    for (const auto& comment : result->comments()) {
        if (comment && !seen.contains(comment->rpid())) {
            seen.insert(comment->rpid());
            m_comments.append(comment);
        }
    }
    m_page = page;
    m_total = result->totalCount();
    m_hasMore = result->hasMore();
    c.commentsLoadMoreView->setLoadMoreState(m_hasMore ? KRLoadMoreStateIdle : KRLoadMoreStateNoMore);
    // An empty list says so once: its state text, without the footer's "已经到底了" above it.
    c.commentsLoadMoreView->setHidden(m_comments.isEmpty());
    c.commentsStateLabel->setHidden(!m_comments.isEmpty());
    c.commentsStateLabel->setText(QStringLiteral("还没有评论"));
    c.commentsTableView->reloadData();
    applyFocusedRootCommentIfPossible();
}

void KRVideoCommentsPage::showUnavailable()
{
    m_views.commentsStateLabel->setText(QStringLiteral("视频不可用，评论不再加载"));
}

void KRVideoCommentsPage::dropComments()
{
    if (m_comments.isEmpty())
        return;
    m_requests.end();
    m_comments.clear();
    m_page = 0;
    m_total = 0;
    m_hasMore = true;
    m_requested = false;
    ++m_generation;
    m_loading = false;
    m_views.commentsTableView->reloadData();
}

void KRVideoCommentsPage::refreshShownComments()
{
    if (!m_comments.isEmpty())
        KRCommentCell::redrawRows(m_views.commentsTableView);
}

void KRVideoCommentsPage::openThread(const std::shared_ptr<KRComment>& comment)
{
    if (!m_threadTap.claim(comment))
        return;
    if (m_actions.openThread)
        m_actions.openThread(comment);
}

int KRVideoCommentsPage::numberOfRowsInSection(TableView*, int) { return int(m_comments.size()); }

TableViewCell* KRVideoCommentsPage::cellForRowAtIndexPath(TableView* table, const IndexPath& indexPath)
{
    auto* cell = qobject_cast<KRCommentCell*>(table->dequeueReusableCellWithIdentifier(kCommentCellIdentifier));
    if (!cell)
        cell = new KRCommentCell(TableViewCellStyleDefault, kCommentCellIdentifier);
    cell->setPictureDelegate(this);
    cell->configureWithComment(m_comments.value(indexPath.row), true);
    return cell;
}

qreal KRVideoCommentsPage::heightForRowAtIndexPath(TableView* table, const IndexPath& indexPath)
{
    const std::shared_ptr<KRComment> comment = m_comments.value(indexPath.row);
    return comment ? KRCommentCell::heightForComment(*comment, table->bounds().width(), true) : 44;
}

void KRVideoCommentsPage::didSelectRowAtIndexPath(TableView* table, const IndexPath& indexPath)
{
    table->deselectRowAtIndexPath(indexPath, true);
    const std::shared_ptr<KRComment> comment = m_comments.value(indexPath.row);
    if (!comment)
        return;
    // A thread to read, or a comment to answer.
    if (comment->replyCount() >= 1)
        openThread(comment);
    else
        m_composer->presentForComment(comment);
}

void KRVideoCommentsPage::commentCellDidTapPictureAtIndex(KRCommentCell*, unsigned index, const QStringList& urls)
{
    if (index < unsigned(urls.size()) && m_actions.openPicture)
        m_actions.openPicture(urls, index);
}

void KRVideoCommentsPage::commentCellDidTapThread(KRCommentCell* cell)
{
    openThread(cell->representedComment());
}

void KRVideoCommentsPage::commentPosted(const std::shared_ptr<KRComment>& comment, qint64 root)
{
    if (!comment)
        return;
    if (root < 1) {
        m_comments.prepend(comment);
        m_total = std::max<int>(m_total + 1, int(m_comments.size()));
        m_views.commentsStateLabel->setHidden(true);
        m_views.commentsLoadMoreView->setHidden(false);
    } else {
        for (const auto& listed : std::as_const(m_comments)) {
            if (listed && (listed->root() >= 1 ? listed->root() : listed->rpid()) == root) {
                listed->setReplyCount(listed->replyCount() + 1);
                break;
            }
        }
    }
    m_views.commentsTableView->reloadData();
    if (root < 1 && !m_comments.isEmpty())
        m_views.commentsTableView->scrollToRowAtIndexPath({0, 0}, TableViewScrollPositionTop, false);
}

// ---- a comment a message points at ----

void KRVideoCommentsPage::loadFocusedComment(qint64 oid, qint64 root,
                                             std::function<void(const std::shared_ptr<KRComment>&, const KROptionalError&)> done)
{
    QObject* owner = m_focus.request.begin();
    if (!owner)
        return;
    m_focus.loading = true;
    KRAPIClient::sharedClient()->loadCommentDetailForOID(
        oid, 1, root, owner, [this, done = std::move(done)](const std::shared_ptr<KRComment>& comment, const KROptionalError& error) {
            m_focus.loading = false;
            done(comment, error);
        });
}

void KRVideoCommentsPage::setFocusedComment(const std::shared_ptr<KRComment>& comment)
{
    m_focus.comment = comment;
    applyFocusedRootCommentIfPossible();
}

void KRVideoCommentsPage::applyFocusedRootCommentIfPossible()
{
    TableView* table = m_views.commentsTableView;
    if (!m_focus.comment || m_loading || !table)
        return;
    const std::shared_ptr<KRComment> focused = std::exchange(m_focus.comment, nullptr);
    for (qsizetype i = m_comments.size() - 1; i >= 0; --i) {
        if (m_comments.at(i) && m_comments.at(i)->rpid() == focused->rpid())
            m_comments.removeAt(i);
    }
    m_comments.prepend(focused);
    m_views.commentsStateLabel->setHidden(true);
    table->reloadData();
    if (!m_actions.isShowing || !m_actions.isShowing())
        return;
    table->layoutIfNeeded();
    table->scrollToRowAtIndexPath({0, 0}, TableViewScrollPositionTop, false);
    table->selectRowAtIndexPath({0, 0}, false);
    m_delayed.schedule(QStringLiteral("clearFocusedRootCommentHighlight"), 1800, [this] { clearFocusedRootCommentHighlight(); });
}

void KRVideoCommentsPage::clearFocusedRootCommentHighlight()
{
    TableView* table = m_views.commentsTableView;
    if (table && table->indexPathForSelectedRow() == IndexPath{0, 0})
        table->deselectRowAtIndexPath({0, 0}, true);
}

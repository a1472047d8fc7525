#include "video/KRVideoCommentsPage.h"

#include "look/KRTarnwick23Skin.h"
#include "look/KRTheme.h"
#include "model/KRComment.h"
#include "model/KRCommentPage.h"
#include "model/KRVideo.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/ScrollView.h"
#include "platform/uikit/TableView.h"
#include "platform/uikit/TextField.h"
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

KRVideoCommentsPage::KRVideoCommentsPage(Actions actions, QObject* parent)
    : QObject(parent)
    , m_actions(std::move(actions))
{
}

KRVideoCommentsPage::~KRVideoCommentsPage()
{
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
    Views& c = m_views;
    c.commentsTableView = named(new TableView(page->bounds(), TableViewStylePlain, page), "commentsTableView");
    c.commentsTableView->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
    c.commentsTableView->setSeparatorStyle(TableViewCellSeparatorStyleSingleLine);
    c.commentsTableView->setContentInset(EdgeInsets{0, 0, 8, 0});
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
    buildComposerBar(page, root);
}

void KRVideoCommentsPage::buildComposerBar(View* page, View* root)
{
    Views& c = m_views;
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
    c.commentInputField->setLeftView(new View(QRectF(0, 0, 8, 1)));
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
    c.commentEmotePanel = named(new View(QRectF(), root), "commentEmotePanel");
    c.commentEmotePanel->setHidden(true);
    c.commentEmotePanel->setCornerRadius(7);
    c.commentEmotePanel->setBorderWidth(1);
    c.commentEmoteScrollView = named(new ScrollView(QRectF(), c.commentEmotePanel), "commentEmoteScrollView");
}

void KRVideoCommentsPage::layout(qreal w, qreal pageHeight, qreal rootHeight)
{
    Views& c = m_views;
    const qreal tableHeight = std::max<qreal>(pageHeight - 42, 0);
    c.commentsTableView->setFrame(QRectF(0, 0, w, tableHeight));
    c.commentComposerBar->setFrame(QRectF(0, tableHeight, w, 42));
    c.commentComposerSeparator->setFrame(QRectF(0, 0, w, 1));
    c.commentComposerButton->setFrame(QRectF(8, 5, w - 16, 32));
    c.commentCancelButton->setFrame(QRectF(4, 5, 43, 32));
    c.commentSendButton->setFrame(QRectF(std::max<qreal>(w - 43 - 4, 4), 5, 43, 32));
    c.commentSelectedImageBadge->setFrame(QRectF(28, 17, 13, 13));
    c.commentEmoteButton->setFrame(QRectF(std::max<qreal>(w - 86 - 3 - 4, 4), 5, 43, 32));
    c.commentInputField->setFrame(QRectF(50, 5, std::max<qreal>(w - 50 - 96, 72), 32));

    const qreal emoteHeight = std::clamp<qreal>(rootHeight * 0.28, 88, 152);
    const qreal composerTop = c.commentComposerBar->convertRectToView(c.commentComposerBar->bounds(), m_root).top();
    c.commentEmotePanel->setFrame(QRectF(8, std::max<qreal>(composerTop - emoteHeight - 2, 2), w - 16, emoteHeight));
    c.commentEmoteScrollView->setFrame(c.commentEmotePanel->bounds().adjusted(5, 5, -5, -5));
    c.commentsStateLabel->setFrame(QRectF(24, 45, w - 48, 64));
}

void KRVideoCommentsPage::applyTheme()
{
    KRTheme* theme = KRTheme::sharedTheme();
    Views& c = m_views;
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

void KRVideoCommentsPage::openThread(const std::shared_ptr<KRComment>& comment)
{
    if (!comment || comment->replyCount() < 1 || comment == m_threadOpenedThisTap)
        return;
    m_threadOpenedThisTap = comment;
    // Forgotten once the press that opened it has been handled.
    QMetaObject::invokeMethod(this, [this] { m_threadOpenedThisTap.reset(); }, Qt::QueuedConnection);
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
    openThread(m_comments.value(indexPath.row));
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

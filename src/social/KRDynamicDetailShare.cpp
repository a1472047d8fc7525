// The dynamic screen's own row and its taps, and the more sheet with its deferred actions.
#include "social/KRDynamicDetailViewController.h"

#include "account/KRAccountClient.h"
#include "look/KRTheme.h"
#include "model/KRDynamic.h"
#include "model/KRServiceHosts.h"
#include "model/KRVideo.h"
#include "platform/uikit/ActivityViewController.h"
#include "platform/uikit/AlertView.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/Pasteboard.h"
#include "platform/uikit/TabBarController.h"
#include "platform/uikit/TableView.h"
#include "platform/uikit/TableViewCell.h"
#include "platform/uikit/Window.h"
#include "shared/KRCommentCell.h"
#include "shared/KRCommentImageViewController.h"
#include "nav/KRRouter.h"
#include "social/KRDynamicCell.h"
#include "store/KRSessionStore.h"

#include <QUrl>

#include <algorithm>

using namespace platform::uikit;

namespace {

constexpr int kDeferredShareMilliseconds = 50;
const QString kDeferredShare = QStringLiteral("performDeferredShareAction");
const QString kDynamicCellIdentifier = QStringLiteral("KRDynamicDetailCell");

void showAlert(const QString& title, const QString& message, const QString& button)
{
    (new AlertView(title, message, button, {}))->show();
}

} // namespace

QString KRDynamicDetailViewController::shareURLString() const
{
    const QString id = m_dynamic && !m_dynamic->dynamicID().isEmpty() ? m_dynamic->dynamicID() : m_dynamicID;
    return QStringLiteral("https://%1/opus/%2").arg(KRServiceHosts::webHost(), id);
}

// ---- the dynamic's row

TableViewCell* KRDynamicDetailViewController::dynamicRowCell(TableView* table)
{
    auto* cell = qobject_cast<KRDynamicCell*>(table->dequeueReusableCellWithIdentifier(kDynamicCellIdentifier));
    if (!cell)
        cell = new KRDynamicCell(TableViewCellStyleDefault, kDynamicCellIdentifier);
    cell->setDelegate(this);
    cell->configureWithDynamic(m_dynamic, true);
    return cell;
}

void KRDynamicDetailViewController::reconfigureDynamicRow(const std::shared_ptr<KRDynamic>& dynamic)
{
    // The row that shows this dynamic now, whichever cell that is.
    if (dynamic != m_dynamic || tableView()->numberOfSections() < 1)
        return;
    if (auto* cell = qobject_cast<KRDynamicCell*>(tableView()->cellForRowAtIndexPath({0, 0})))
        cell->configureWithDynamic(dynamic, true);
}

void KRDynamicDetailViewController::dynamicCellDidSelectVideo(KRDynamicCell*)
{
    if (m_dynamic && m_dynamic->video())
        KRRouter::openVideoPage(navigationController(), m_dynamic->video());
}

void KRDynamicDetailViewController::dynamicCellDidSelectAuthor(KRDynamicCell*)
{
    if (m_dynamic)
        KRRouter::openUploaderPage(navigationController(), m_dynamic->authorMID(), m_dynamic->authorName(), m_dynamic->authorAvatarURL());
}

void KRDynamicDetailViewController::dynamicCellDidSelectBody(KRDynamicCell*)
{
    if (m_dynamic && m_dynamic->video())
        dynamicCellDidSelectVideo(nullptr);
}

void KRDynamicDetailViewController::dynamicCellDidSelectOriginal(KRDynamicCell*)
{
    if (!m_dynamic)
        return;
    if (m_dynamic->originalVideo())
        KRRouter::openVideoPage(navigationController(), m_dynamic->originalVideo());
    else if (!m_dynamic->originalDynamicID().isEmpty())
        KRRouter::openDynamicDetail(navigationController(), m_dynamic->originalDynamicID());
}

void KRDynamicDetailViewController::dynamicCellDidSelectLike(KRDynamicCell*)
{
    // A second tap before the answer would send the same request again and count twice.
    if (!m_dynamic || m_likeInFlight)
        return;
    m_likeInFlight = true;
    const std::shared_ptr<KRDynamic> dynamic = m_dynamic;
    const bool liked = !dynamic->liked();
    KRAccountClient::sharedClient()->setDynamicLiked(
        liked, dynamic->dynamicID(), accountRequests(), [this, dynamic, liked](bool success, const QString& message, const QVariant&) {
            m_likeInFlight = false;
            if (!success) {
                showAlert(QStringLiteral("操作失败"), message, QStringLiteral("知道了"));
                return;
            }
            dynamic->setLiked(liked);
            dynamic->setLikeCount(std::max(0, dynamic->likeCount() + (liked ? 1 : -1)));
            reconfigureDynamicRow(dynamic);
        });
}

void KRDynamicDetailViewController::dynamicCellDidSelectComment(KRDynamicCell*)
{
    if (tableView()->numberOfSections() > 1 && tableView()->numberOfRowsInSection(1) > 0)
        tableView()->scrollToRowAtIndexPath({1, 0}, TableViewScrollPositionTop, true);
    presentCommentComposerForComment(nullptr);
}

void KRDynamicDetailViewController::dynamicCellDidSelectRepost(KRDynamicCell*) { shareTapped(); }

bool KRDynamicDetailViewController::dynamicCellDidSelectPictureAtIndex(KRDynamicCell*, unsigned index)
{
    if (!m_dynamic || index >= unsigned(m_dynamic->pictureURLs().size()))
        return true;
    pushPictureViewer(m_dynamic->pictureURLs(), index);
    return true;
}

// ---- pictures and threads of comments

void KRDynamicDetailViewController::commentCellDidTapPictureAtIndex(KRCommentCell*, unsigned index, const QStringList& urls)
{
    if (urls.isEmpty() || index >= unsigned(urls.size()))
        return;
    pushPictureViewer(urls, index);
}

void KRDynamicDetailViewController::commentCellDidTapThread(KRCommentCell* cell)
{
    if (cell && m_threadTap.claim(cell->representedComment()))
        KRRouter::openReplyThread(navigationController(), cell->representedComment());
}

void KRDynamicDetailViewController::pushPictureViewer(const QStringList& urls, unsigned index)
{
    prepareForImageViewer();
    if (NavigationController* navigation = navigationController())
        navigation->pushViewController(new KRCommentImageViewController(urls, index), true);
}

// ---- the more sheet

View* KRDynamicDetailViewController::actionSheetHostView() { return commentComposerHostView(); }

void KRDynamicDetailViewController::shareTapped()
{
    if (m_moreSheet && m_moreSheet->isVisible())
        return;
    auto* sheet = new ActionSheet(QStringLiteral("更多"), this, this);
    sheet->setTag(kMoreSheetTag);
    sheet->addButtonWithTitle(QStringLiteral("系统分享"));
    sheet->addButtonWithTitle(QStringLiteral("转发动态"));
    sheet->addButtonWithTitle(QStringLiteral("复制链接"));
    if (m_dynamic && m_dynamic->video())
        sheet->addButtonWithTitle(QStringLiteral("稍后观看"));
    const qint64 author = m_dynamic ? m_dynamic->authorMID() : 0;
    if (author >= 1 && author == KRSessionStore::sharedStore().userID())
        sheet->setDestructiveButtonIndex(sheet->addButtonWithTitle(QStringLiteral("删除动态")));
    sheet->setCancelButtonIndex(sheet->addButtonWithTitle(QStringLiteral("取消")));
    m_moreSheet = sheet;
    sheet->showInView(actionSheetHostView());
}

void KRDynamicDetailViewController::actionSheetClickedButtonAtIndex(ActionSheet* sheet, int buttonIndex)
{
    if (sheet->tag() != kMoreSheetTag || buttonIndex == sheet->cancelButtonIndex() || buttonIndex < 0)
        return;
    m_pendingShareAction = buttonIndex + 1;
}

void KRDynamicDetailViewController::actionSheetDidDismissWithButtonIndex(ActionSheet* sheet, int)
{
    if (sheet->tag() != kMoreSheetTag || m_pendingShareAction < 1)
        return;
    // The chosen action opens sheets, alerts and composers of its own: it waits until this
    // sheet has quite gone.
    m_delayed.cancel(kDeferredShare);
    m_delayed.schedule(kDeferredShare, kDeferredShareMilliseconds, [this] { performDeferredShareAction(); });
}

void KRDynamicDetailViewController::dropMoreSheet()
{
    m_pendingShareAction = 0;
    m_delayed.cancel(kDeferredShare);
    if (m_moreSheet && m_moreSheet->isVisible())
        m_moreSheet->dismissWithClickedButtonIndex(m_moreSheet->cancelButtonIndex(), false);
}

void KRDynamicDetailViewController::copyLinkWithMessage(const QString& link, const QString& message)
{
    Pasteboard::general().setURL(QUrl(link));
    showAlert(QStringLiteral("已复制链接"), message, QStringLiteral("好"));
}

void KRDynamicDetailViewController::performDeferredShareAction()
{
    const int action = m_pendingShareAction;
    m_pendingShareAction = 0;
    const QString link = shareURLString();
    if (action < 1 || !m_dynamic)
        return;
    const bool hasVideo = m_dynamic->video() != nullptr;
    switch (action) {
    case 1:
        if (ActivityViewController::isAvailable()) {
            const QString text = m_dynamic->text().isEmpty() ? QStringLiteral("岚帆影院动态") : m_dynamic->text();
            presentViewController(new ActivityViewController({text, QUrl(link)}), true);
        } else {
            copyLinkWithMessage(link, QStringLiteral("iOS 5 没有系统活动面板，可将链接粘贴到其他应用。"));
        }
        return;
    case 2:
        showRepostComposer();
        return;
    case 3:
        copyLinkWithMessage(link, QString());
        return;
    default:
        break;
    }
    if (action == 4 && hasVideo) {
        KRAccountClient::sharedClient()->addWatchLaterForAID(
            m_dynamic->video()->aid(), accountRequests(), [](bool success, const QString& message, const QVariant&) {
                if (success)
                    showAlert(QStringLiteral("已加入稍后观看"), QString(), QStringLiteral("好"));
                else
                    showAlert(QStringLiteral("操作失败"), message, QStringLiteral("好"));
            });
        return;
    }
    KRAccountClient::sharedClient()->deleteDynamicID(m_dynamic->dynamicID(), accountRequests(), [this](bool success, const QString& message, const QVariant&) {
        if (!success) {
            showAlert(QStringLiteral("删除失败"), message, QStringLiteral("好"));
            return;
        }
        if (NavigationController* navigation = navigationController())
            navigation->popViewControllerAnimated(true);
    });
}

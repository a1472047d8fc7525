// What a row's taps do: open the video, the author or the dynamic, like in place, and the more
// sheet with its actions.
#include "social/KRFollowingViewController.h"

#include "account/KRAccountClient.h"
#include "model/KRDynamic.h"
#include "model/KRServiceHosts.h"
#include "model/KRVideo.h"
#include "platform/uikit/ActionSheet.h"
#include "platform/uikit/ActivityViewController.h"
#include "platform/uikit/AlertView.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/Pasteboard.h"
#include "platform/uikit/TabBarController.h"
#include "platform/uikit/TableView.h"
#include "shared/KRDynamicComposerView.h"
#include "nav/KRRouter.h"
#include "store/KRSessionStore.h"

#include <QUrl>

using namespace platform::uikit;

void KRFollowingViewController::showAlert(const QString& title, const QString& message, const QString& button)
{
    (new AlertView(title, message, button, {}))->show();
}

QString KRFollowingViewController::shareURLStringForDynamic(const KRDynamic& dynamic) const
{
    return QStringLiteral("https://") + KRServiceHosts::webHost() + QStringLiteral("/opus/") + dynamic.dynamicID();
}

void KRFollowingViewController::dynamicCellDidSelectVideo(KRDynamicCell* cell)
{
    const std::shared_ptr<KRDynamic> dynamic = cell->dynamic();
    if (dynamic && dynamic->video())
        KRRouter::openVideoPage(navigationController(), dynamic->video());
}

void KRFollowingViewController::dynamicCellDidSelectAuthor(KRDynamicCell* cell)
{
    const std::shared_ptr<KRDynamic> dynamic = cell->dynamic();
    if (dynamic)
        KRRouter::openUploaderPage(navigationController(), dynamic->authorMID(), dynamic->authorName(), dynamic->authorAvatarURL());
}

void KRFollowingViewController::dynamicCellDidSelectBody(KRDynamicCell* cell)
{
    const std::shared_ptr<KRDynamic> dynamic = cell->dynamic();
    if (!dynamic)
        return;
    if (dynamic->video())
        KRRouter::openVideoPage(navigationController(), dynamic->video());
    else
        KRRouter::openDynamicDetail(navigationController(), dynamic->dynamicID());
}

void KRFollowingViewController::dynamicCellDidSelectOriginal(KRDynamicCell* cell)
{
    const std::shared_ptr<KRDynamic> dynamic = cell->dynamic();
    if (!dynamic)
        return;
    if (dynamic->originalVideo())
        KRRouter::openVideoPage(navigationController(), dynamic->originalVideo());
    else if (!dynamic->originalDynamicID().isEmpty())
        KRRouter::openDynamicDetail(navigationController(), dynamic->originalDynamicID());
}

void KRFollowingViewController::dynamicCellDidSelectComment(KRDynamicCell* cell)
{
    const std::shared_ptr<KRDynamic> dynamic = cell->dynamic();
    if (!dynamic)
        return;
    if (m_feedType == QLatin1String("video") && dynamic->video()) {
        // A focus on no comment in particular opens the page at its comments.
        KRCommentFocus focus;
        focus.kind = KRCommentFocus::Kind::AtRpid;
        focus.rpid = 0;
        KRRouter::openVideoPage(navigationController(), dynamic->video(), focus);
        return;
    }
    KRRouter::openDynamicDetail(navigationController(), dynamic->dynamicID());
}

void KRFollowingViewController::dynamicCellDidSelectLike(KRDynamicCell* cell)
{
    const std::shared_ptr<KRDynamic> dynamic = cell->dynamic();
    // A second tap before the answer would send the same request again and count twice.
    if (!dynamic || m_likesInFlight.contains(dynamic.get()))
        return;
    m_likesInFlight.insert(dynamic.get());
    const bool liked = !dynamic->liked();
    KRAccountClient::sharedClient()->setDynamicLiked(
        liked, dynamic->dynamicID(), this, [this, dynamic, liked](bool success, const QString& message, const QVariant&) {
            m_likesInFlight.remove(dynamic.get());
            if (!success) {
                showAlert(QStringLiteral("操作失败"), message, QStringLiteral("知道了"));
                return;
            }
            dynamic->setLiked(liked);
            dynamic->setLikeCount(std::max(0, dynamic->likeCount() + (liked ? 1 : -1)));
            // The tapped cell may show another row by now; the row of this dynamic is redrawn.
            reloadRowsShowing(dynamic.get());
        });
}

View* KRFollowingViewController::sheetHostView()
{
    if (TabBarController* tabs = tabBarController())
        return tabs->view();
    if (NavigationController* navigation = navigationController())
        return navigation->view();
    return view();
}

void KRFollowingViewController::dynamicCellDidSelectRepost(KRDynamicCell* cell)
{
    const std::shared_ptr<KRDynamic> dynamic = cell->dynamic();
    if (!dynamic)
        return;
    // The sheet's own: the composer, when open, keeps the dynamic it reposts.
    m_sheetDynamic = dynamic;
    QStringList titles;
    m_pendingMoreActions.clear();
    const auto offer = [&](const QString& title, const QString& key) {
        titles << title;
        m_pendingMoreActions << key;
    };
    if (dynamic->video())
        offer(QStringLiteral("稍后观看"), QStringLiteral("watch"));
    offer(QStringLiteral("转发动态"), QStringLiteral("repost"));
    offer(QStringLiteral("系统分享"), QStringLiteral("share"));
    offer(QStringLiteral("复制链接"), QStringLiteral("copy"));
    const qint64 userID = KRSessionStore::sharedStore().userID();
    if (dynamic->authorMID() >= 1 && dynamic->authorMID() == userID)
        offer(QStringLiteral("删除动态"), QStringLiteral("delete"));
    auto* sheet = new ActionSheet(QStringLiteral("更多"), this, this, {}, {}, titles);
    sheet->setCancelButtonIndex(sheet->addButtonWithTitle(QStringLiteral("取消")));
    sheet->setTag(kMoreSheetTag);
    m_moreSheet = sheet;
    sheet->showInView(sheetHostView());
}

void KRFollowingViewController::dropMoreSheet()
{
    m_pendingMoreActions.clear();
    m_sheetDynamic.reset();
    if (m_moreSheet && m_moreSheet->isVisible())
        m_moreSheet->dismissWithClickedButtonIndex(m_moreSheet->cancelButtonIndex(), false);
}

void KRFollowingViewController::actionSheetDidDismissWithButtonIndex(ActionSheet* sheet, int buttonIndex)
{
    if (sheet->tag() != kMoreSheetTag)
        return;
    const QStringList keys = m_pendingMoreActions;
    // Whatever was chosen, the sheet lets its dynamic go; only "repost" hands it on, to the
    // composer's own state, which a later sheet does not touch.
    const std::shared_ptr<KRDynamic> dynamic = std::move(m_sheetDynamic);
    m_sheetDynamic.reset();
    m_pendingMoreActions.clear();
    if (buttonIndex == sheet->cancelButtonIndex() || buttonIndex < 0 || buttonIndex >= keys.size() || !dynamic)
        return;
    performMoreAction(keys.at(buttonIndex), dynamic);
}

void KRFollowingViewController::performMoreAction(const QString& key, const std::shared_ptr<KRDynamic>& dynamic)
{
    if (key == QLatin1String("watch")) {
        const qint64 aid = dynamic->video() ? dynamic->video()->aid() : 0;
        if (aid < 1)
            return;
        KRAccountClient::sharedClient()->addWatchLaterForAID(aid, this, [](bool success, const QString& message, const QVariant&) {
            if (success)
                showAlert(QStringLiteral("已加入稍后观看"), {}, QStringLiteral("好"));
            else
                showAlert(QStringLiteral("操作失败"), message, QStringLiteral("好"));
        });
    } else if (key == QLatin1String("repost")) {
        showComposerForDynamic(dynamic, 2);
    } else if (key == QLatin1String("share") || key == QLatin1String("copy")) {
        const QString link = shareURLStringForDynamic(*dynamic);
        if (key == QLatin1String("share") && ActivityViewController::isAvailable()) {
            const QString text = dynamic->text().isEmpty() ? QStringLiteral("岚帆影院动态") : dynamic->text();
            presentViewController(new ActivityViewController({text, QUrl(link)}), true);
            return;
        }
        Pasteboard::general().setString(link);
        showAlert(QStringLiteral("已复制链接"), {}, QStringLiteral("好"));
    } else if (key == QLatin1String("delete")) {
        KRAccountClient::sharedClient()->deleteDynamicID(
            dynamic->dynamicID(), this, [this, dynamic](bool success, const QString& message, const QVariant&) {
                if (!success) {
                    showAlert(QStringLiteral("删除失败"), message, QStringLiteral("好"));
                    return;
                }
                m_feed.dynamics.removeOne(dynamic);
                tableView()->reloadData();
                showAlert(QStringLiteral("动态已删除"), {}, QStringLiteral("好"));
            });
    }
}

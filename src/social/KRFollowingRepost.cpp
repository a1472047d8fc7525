// The repost composer docked over the feed, with its photos.
#include "social/KRFollowingViewController.h"

#include "account/KRAccountClient.h"
#include "model/KRDynamic.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/TableView.h"
#include "platform/uikit/TextField.h"
#include "shared/KRCommentPoster.h"
#include "shared/KRDynamicComposerView.h"

#include <QImage>

using namespace platform::uikit;

namespace {

constexpr int kRepostAction = 2;
constexpr unsigned kMaximumPhotos = 9;

} // namespace

void KRFollowingViewController::showComposerForDynamic(const std::shared_ptr<KRDynamic>& dynamic, int action)
{
    if (!dynamic || !m_composer)
        return;
    m_repost.pendingDynamic = dynamic;
    m_repost.pendingAction = action;
    m_repost.pickedItems.clear();
    m_composer->setAllowsImage(action == kRepostAction);
    m_composer->setSelectedImageCount(0);
    NavigationController* navigation = navigationController();
    const QString author = dynamic->authorName();
    m_composer->presentInView(navigation ? navigation->view() : view(), QStringLiteral("转发动态"),
                              author.isEmpty() ? QString() : QStringLiteral("//@%1:").arg(author));
}

void KRFollowingViewController::clearRepost()
{
    m_repost.pendingAction = 0;
    m_repost.pendingDynamic.reset();
    m_repost.pickedItems.clear();
    if (m_composer)
        m_composer->setSelectedImageCount(0);
}

void KRFollowingViewController::endRepost()
{
    if (m_composer)
        m_composer->dismiss();
    clearRepost();
}

void KRFollowingViewController::dynamicComposerViewDidCancel(KRDynamicComposerView*) { clearRepost(); }

void KRFollowingViewController::dynamicComposerViewDidRequestImage(KRDynamicComposerView*)
{
    if (m_repost.pendingAction != kRepostAction)
        return;
    auto* picker = new KRPhotoPickerViewController(m_repost.pickedItems, kMaximumPhotos);
    picker->setDelegate(this);
    presentViewController(new NavigationController(picker), true);
}

void KRFollowingViewController::photoPickerViewControllerDidCancel(KRPhotoPickerViewController* picker)
{
    picker->setDelegate(nullptr);
    dismissViewControllerAnimated(true);
}

void KRFollowingViewController::photoPickerViewControllerDidFinishWithItems(KRPhotoPickerViewController* picker,
                                                                              const QList<KRPhotoPickerItem>& items)
{
    m_repost.pickedItems = items;
    if (m_composer)
        m_composer->setSelectedImageCount(unsigned(items.size()));
    picker->setDelegate(nullptr);
    dismissViewControllerAnimated(true);
}

void KRFollowingViewController::dynamicComposerViewDidSubmitText(KRDynamicComposerView*, const QString& text)
{
    const std::shared_ptr<KRDynamic> dynamic = m_repost.pendingDynamic;
    if (!dynamic || m_repost.posting || (text.isEmpty() && m_repost.pickedItems.isEmpty()))
        return;
    const QList<QImage> images = KRCommentPoster::imagesFromItems(m_repost.pickedItems);
    // The dynamic, the text and the photos all stay until the repost succeeds, so a refused or
    // failed one is sent again as it was written, photos included. (Dropping the photos as the
    // repost starts would send the retry without them, and nothing would say so.)
    m_repost.posting = true;
    m_composer->textField()->setEnabled(false);
    if (images.isEmpty()) {
        sendRepost(dynamic, text, {});
        return;
    }
    const quint64 writer = m_repost.writer;
    KRCommentPoster::uploadImages(
        images, this, [this, dynamic, text, writer](const std::optional<QVariantList>& records, const KROptionalError& error) {
            // Another account has signed in since: the photos were the last one's, and its
            // repost is never sent as the next one's.
            if (writer != m_repost.writer)
                return;
            if (!records || error) {
                m_repost.posting = false;
                if (m_composer)
                    m_composer->textField()->setEnabled(true);
                showAlert(QStringLiteral("图片上传失败"), error ? error->localizedDescription() : QString(), QStringLiteral("知道了"));
                return;
            }
            sendRepost(dynamic, text, *records);
        });
}

void KRFollowingViewController::sendRepost(const std::shared_ptr<KRDynamic>& dynamic, const QString& text,
                                           const QVariantList& pictureInfos)
{
    const quint64 writer = m_repost.writer;
    KRAccountClient::sharedClient()->repostDynamicID(
        dynamic->dynamicID(), text, pictureInfos, this, [this, dynamic, writer](bool success, const QString& message, const QVariant&) {
            // Another account has signed in since: the composer is its own now, and the last
            // account's answer only counts the repost it made.
            const bool ownComposer = writer == m_repost.writer;
            if (ownComposer) {
                m_repost.posting = false;
                if (m_composer)
                    m_composer->textField()->setEnabled(true);
            }
            if (!success) {
                if (ownComposer)
                    showAlert(QStringLiteral("转发失败"), message, QStringLiteral("知道了"));
                return;
            }
            dynamic->setRepostCount(dynamic->repostCount() + 1);
            tableView()->reloadData();
            if (!ownComposer)
                return;
            if (m_repost.pendingDynamic == dynamic) {
                clearRepost();
                if (m_composer)
                    m_composer->dismiss();
            }
            showAlert(QStringLiteral("转发成功"), {}, QStringLiteral("好"));
        });
}

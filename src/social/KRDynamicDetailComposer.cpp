// The dynamic screen's docked comment button, its composer, photo picking and uploads.
#include "social/KRDynamicDetailViewController.h"

#include "account/KRAccountClient.h"
#include "model/KRComment.h"
#include "model/KRDynamic.h"
#include "platform/uikit/AlertView.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/TabBar.h"
#include "platform/uikit/TabBarController.h"
#include "platform/uikit/TableView.h"
#include "platform/uikit/TextField.h"
#include "platform/uikit/Window.h"
#include "shared/KRCommentPoster.h"
#include "shared/KRDynamicComposerView.h"

#include <QImage>

#include <algorithm>

using namespace platform::uikit;

namespace {

constexpr unsigned kMaximumPhotos = 9;
void showAlert(const QString& title, const QString& message, const QString& button)
{
    (new AlertView(title, message, button, {}))->show();
}

} // namespace

// ---- the dock

View* KRDynamicDetailViewController::commentComposerHostView()
{
    if (TabBarController* tabs = tabBarController())
        return tabs->view();
    if (NavigationController* navigation = navigationController())
        return navigation->view();
    if (Window* w = view()->window())
        return w;
    return view();
}

void KRDynamicDetailViewController::attachCommentComposerDock()
{
    View* host = commentComposerHostView();
    if (!m_composerDock || !host)
        return;
    if (m_composerDock->superview() != host) {
        m_composerDock->removeFromSuperview();
        host->addSubview(m_composerDock);
    }
    host->bringSubviewToFront(m_composerDock);
    layoutCommentComposerDock();
}

void KRDynamicDetailViewController::layoutCommentComposerDock()
{
    View* host = m_composerDock ? m_composerDock->superview() : nullptr;
    if (!host)
        return;
    const qreal w = host->bounds().width();
    const qreal h = host->bounds().height();
    qreal bottom = h;
    if (TabBarController* tabs = tabBarController()) {
        TabBar* bar = tabs->tabBar();
        if (bar && !bar->isHidden() && bar->alpha() > 0.01 && bar->superview())
            bottom = bar->superview()->convertRectToView(bar->frame(), host).top();
    }
    m_composerDock->setFrame(QRectF(0, std::max<qreal>(bottom - kDockHeight, 0), w, kDockHeight));
    m_composerSeparator->setFrame(QRectF(0, 0, w, 1));
    m_composerButton->setFrame(QRectF(8, 5, std::max<qreal>(w - 16, 1), 32));
    TableView* table = tableView();
    EdgeInsets insets = table->contentInset();
    insets.bottom = kDockHeight;
    table->setContentInset(insets);
    table->setScrollIndicatorInsets(insets);
}

void KRDynamicDetailViewController::setCommentComposerDockHidden(bool hidden)
{
    if (!m_composerDock)
        return;
    m_composerDock->setHidden(hidden);
    if (!hidden) {
        if (View* host = m_composerDock->superview())
            host->bringSubviewToFront(m_composerDock);
    }
}

void KRDynamicDetailViewController::commentComposerButtonTapped() { presentCommentComposerForComment(nullptr); }

void KRDynamicDetailViewController::prepareForImageViewer()
{
    if (m_composer && m_composer->superview())
        m_composer->dismiss();
    if (m_composerDock && m_composerDock->superview() != view()) {
        m_composerDock->removeFromSuperview();
        view()->addSubview(m_composerDock);
    }
    if (m_composerDock)
        m_composerDock->setHidden(true);
    m_compose.replyRoot = 0;
    m_compose.replyParent = 0;
    m_compose.action = 0;
    view()->endEditing();
    if (NavigationController* navigation = navigationController())
        navigation->view()->endEditing();
    if (Window* w = view()->window())
        w->endEditing();
}

// ---- composing

void KRDynamicDetailViewController::dropPickedPhotos()
{
    m_compose.selectedItems.clear();
    if (m_composer)
        m_composer->setSelectedImageCount(0);
}

void KRDynamicDetailViewController::presentCommentComposerForComment(const std::shared_ptr<KRComment>& comment)
{
    if (!m_composer)
        return;
    m_compose.action = 1;
    if (comment) {
        m_compose.replyRoot = comment->root() >= 1 ? comment->root() : comment->rpid();
        m_compose.replyParent = comment->rpid();
    } else {
        m_compose.replyRoot = 0;
        m_compose.replyParent = 0;
    }
    dropPickedPhotos();
    m_composer->setAllowsImage(!comment);
    setCommentComposerDockHidden(true);
    View* host = navigationController() ? navigationController()->view() : view();
    QString placeholder = QStringLiteral("说点什么…");
    if (comment)
        placeholder = QStringLiteral("回复 %1").arg(comment->authorName().isEmpty() ? QStringLiteral("用户") : comment->authorName());
    m_composer->presentInView(host, placeholder);
}

void KRDynamicDetailViewController::showRepostComposer()
{
    if (!m_composer)
        return;
    m_compose.action = 2;
    m_compose.replyRoot = 0;
    m_compose.replyParent = 0;
    dropPickedPhotos();
    m_composer->setAllowsImage(true);
    setCommentComposerDockHidden(true);
    View* host = navigationController() ? navigationController()->view() : view();
    const QString author = m_dynamic ? m_dynamic->authorName() : QString();
    m_composer->presentInView(host, QStringLiteral("转发动态"), author.isEmpty() ? QString() : QStringLiteral("//@%1:").arg(author));
}

void KRDynamicDetailViewController::dynamicComposerViewDidCancel(KRDynamicComposerView*)
{
    m_compose.replyRoot = 0;
    m_compose.replyParent = 0;
    m_compose.action = 0;
    dropPickedPhotos();
    setCommentComposerDockHidden(false);
}

void KRDynamicDetailViewController::dynamicComposerViewDidRequestImage(KRDynamicComposerView* composer)
{
    if (composer && composer->allowsImage())
        presentPhotoPicker();
}

void KRDynamicDetailViewController::presentPhotoPicker()
{
    auto* picker = new KRPhotoPickerViewController(m_compose.selectedItems, kMaximumPhotos);
    picker->setDelegate(this);
    presentViewController(new NavigationController(picker), true);
}

void KRDynamicDetailViewController::photoPickerViewControllerDidCancel(KRPhotoPickerViewController* picker)
{
    if (picker)
        picker->setDelegate(nullptr);
    dismissViewControllerAnimated(true);
}

void KRDynamicDetailViewController::photoPickerViewControllerDidFinishWithItems(KRPhotoPickerViewController* picker,
                                                                               const QList<KRPhotoPickerItem>& items)
{
    m_compose.selectedItems = items;
    if (m_composer)
        m_composer->setSelectedImageCount(unsigned(items.size()));
    if (picker)
        picker->setDelegate(nullptr);
    dismissViewControllerAnimated(true);
}

QList<QImage> KRDynamicDetailViewController::selectedImages() const
{
    return KRCommentPoster::imagesFromItems(m_compose.selectedItems);
}

QStringList KRDynamicDetailViewController::pictureURLsFromUploadInfos(const QVariantList& infos)
{
    return KRCommentPoster::pictureURLsFromUploadInfos(infos);
}

void KRDynamicDetailViewController::restoreComposerAfterFailure()
{
    m_compose.submitting = false;
    if (m_composer)
        m_composer->textField()->setEnabled(true);
    dropPickedPhotos();
}

void KRDynamicDetailViewController::dynamicComposerViewDidSubmitText(KRDynamicComposerView*, const QString& text)
{
    if (!m_dynamic || m_compose.submitting || (text.isEmpty() && m_compose.selectedItems.isEmpty()))
        return;
    m_compose.submitting = true;
    m_composer->textField()->setEnabled(false);
    const qint64 root = m_compose.replyRoot;
    const qint64 parent = m_compose.replyParent;
    const QList<QImage> images = selectedImages();
    if (m_compose.action != 2) {
        postComment(text, root, parent, images);
        return;
    }
    if (images.isEmpty()) {
        repost(text, {});
        return;
    }
    KRCommentPoster::uploadImages(
        images, accountRequests(),
        [this, text](const std::optional<QVariantList>& records, const KROptionalError& error) {
            if (!records || error) {
                restoreComposerAfterFailure();
                showAlert(QStringLiteral("图片上传失败"), error ? error->localizedDescription() : QString(), QStringLiteral("知道了"));
                return;
            }
            repost(text, *records);
        });
}

void KRDynamicDetailViewController::postComment(const QString& text, qint64 root, qint64 parent, const QList<QImage>& images)
{
    KRCommentPoster::Request request{text, commentOID(), commentType(), root, parent, images};
    KRCommentPoster::post(request, accountRequests(), [this, root](const KRCommentPoster::Result& result) {
        restoreComposerAfterFailure();
        if (!result.succeeded()) {
            showAlert(result.failureTitle, result.failureMessage, QStringLiteral("知道了"));
            return;
        }
        if (root < 1) {
            m_comments.list.prepend(result.comment);
            m_dynamic->setCommentCount(std::max<qint32>(m_dynamic->commentCount() + 1, qint32(m_comments.list.size())));
            postCommentCount();
        } else {
            for (const auto& listed : std::as_const(m_comments.list)) {
                if (listed && (listed->root() >= 1 ? listed->root() : listed->rpid()) == root) {
                    listed->setReplyCount(listed->replyCount() + 1);
                    break;
                }
            }
        }
        finishComposing();
        tableView()->reloadData();
    });
}

void KRDynamicDetailViewController::repost(const QString& text, const QVariantList& pictureInfos)
{
    KRAccountClient::sharedClient()->repostDynamicID(
        m_dynamic->dynamicID(), text, pictureInfos, accountRequests(), [this](bool success, const QString& message, const QVariant&) {
            restoreComposerAfterFailure();
            if (!success) {
                showAlert(QStringLiteral("转发失败"), message, QStringLiteral("知道了"));
                return;
            }
            m_dynamic->setRepostCount(m_dynamic->repostCount() + 1);
            tableView()->reloadData();
            finishComposing();
            showAlert(QStringLiteral("转发成功"), QString(), QStringLiteral("好"));
        });
}

void KRDynamicDetailViewController::finishComposing()
{
    if (m_composer)
        m_composer->dismiss();
    setCommentComposerDockHidden(false);
    m_compose.action = 0;
    m_compose.replyRoot = 0;
    m_compose.replyParent = 0;
}

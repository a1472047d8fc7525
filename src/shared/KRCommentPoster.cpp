#include "shared/KRCommentPoster.h"

#include "account/KRAccountClient.h"
#include "model/KRComment.h"
#include "store/KRSessionStore.h"

#include <QBuffer>

#include <algorithm>

namespace {

constexpr int kJPEGQuality = 88;

void postNow(const KRCommentPoster::Request& request, const QStringList& pictureURLs, QObject* owner,
             const std::function<void(const KRCommentPoster::Result&)>& completion)
{
    KRAccountClient::sharedClient()->postComment(
        request.text, request.oid, request.type, request.root, request.parent, pictureURLs, owner,
        [request, pictureURLs, completion](bool success, const QString& message, const QVariant& data) {
            KRCommentPoster::Result result;
            if (!success) {
                result.failureTitle = QStringLiteral("评论失败");
                result.failureMessage = message;
                completion(result);
                return;
            }
            result.comment = KRComment::postedCommentFromResponseData(
                data, request.text, KRSessionStore::sharedStore().accountProfile().value_or(QVariantMap()), request.oid,
                request.root, request.parent);
            result.comment->setType(request.type);
            if (result.comment->pictureURLs().isEmpty() && !pictureURLs.isEmpty())
                result.comment->setPictureURLs(pictureURLs);
            completion(result);
        });
}

} // namespace

void KRCommentPoster::post(const Request& request, QObject* owner, std::function<void(const Result&)> completion)
{
    // Replies carry no pictures.
    if (request.root > 0 || request.images.isEmpty()) {
        postNow(request, {}, owner, completion);
        return;
    }
    uploadImages(
        request.images, owner,
        [request, owner, completion](const std::optional<QVariantList>& records, const KROptionalError& error) {
            if (!records || error) {
                Result result;
                result.failureTitle = QStringLiteral("图片上传失败");
                result.failureMessage = error ? error->localizedDescription() : QString();
                completion(result);
                return;
            }
            postNow(request, pictureURLsFromUploadInfos(*records), owner, completion);
        });
}

QList<QImage> KRCommentPoster::imagesFromItems(const QList<KRPhotoPickerItem>& items)
{
    // An item that holds a picture counts even when that picture is empty: the upload then
    // says it cannot be read, rather than posting without it.
    QList<QImage> images;
    for (const KRPhotoPickerItem& item : items) {
        const QVariant image = item.value(KRPhotoPickerItemImageKey);
        if (image.typeId() == QMetaType::QImage)
            images << image.value<QImage>();
        if (images.size() >= qsizetype(kMaximumPictures))
            break;
    }
    return images;
}

void KRCommentPoster::uploadImages(const QList<QImage>& images, QObject* owner, KRAccountRecordsCompletion completion)
{
    QList<QByteArray> jpegs;
    for (const QImage& image : images.first(std::min(images.size(), qsizetype(kMaximumPictures)))) {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        if (image.isNull() || !image.save(&buffer, "JPG", kJPEGQuality) || bytes.isEmpty()) {
            completion(std::nullopt, KRAccountError(-2, QStringLiteral("图片无法读取")));
            return;
        }
        jpegs << bytes;
    }
    KRAccountClient::sharedClient()->uploadCommentImages(jpegs, owner, std::move(completion));
}

QStringList KRCommentPoster::pictureURLsFromUploadInfos(const QVariantList& infos)
{
    QStringList urls;
    for (const QVariant& info : infos) {
        const QVariantMap record = info.toMap();
        QString url;
        for (const char* key : {"image_url", "img_src", "url"}) {
            url = record.value(QLatin1String(key)).toString();
            if (!url.isEmpty())
                break;
        }
        if (!url.isEmpty())
            urls << url;
    }
    return urls;
}

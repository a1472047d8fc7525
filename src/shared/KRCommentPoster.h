#pragma once

#include "account/KRAccountClient.h"
#include "shared/KRPhotoPickerViewController.h"

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <functional>
#include <memory>

class KRComment;

// Posting a comment or a reply as every comment area does: the pictures of a top-level comment
// go up first, then the post; an accepted post becomes the comment to show at once, typed for
// its area and carrying the uploaded pictures when the answer names none.
class KRCommentPoster {
public:
    static constexpr unsigned kMaximumPictures = 9;

    struct Request {
        QString text;
        qint64 oid = 0;
        qint32 type = 1;
        qint64 root = 0;   // 0: a top-level comment
        qint64 parent = 0;
        // Sent with a top-level comment only.
        QList<QImage> images;
    };
    // Exactly one of: the posted comment, or the failure's alert title ("图片上传失败" or
    // "评论失败") and its message.
    struct Result {
        std::shared_ptr<KRComment> comment;
        QString failureTitle;
        QString failureMessage;
        bool succeeded() const { return comment != nullptr; }
    };

    // Called once, on the main thread, never after `owner` has gone.
    static void post(const Request& request, QObject* owner, std::function<void(const Result&)> completion);

    // The pictures of picked photo items (those with one), at most nine.
    static QList<QImage> imagesFromItems(const QList<KRPhotoPickerItem>& items);
    // Uploads the pictures in order as JPEGs (at most nine) and answers with the service's
    // records. A picture that cannot be encoded fails the whole upload with -2 "图片无法读取"
    // before anything is sent: a comment or a repost never goes out short of a picture the
    // user picked. Called once, on the main thread, never after `owner` has gone.
    static void uploadImages(const QList<QImage>& images, QObject* owner, KRAccountRecordsCompletion completion);
    // Each upload record's "image_url", else "img_src", else "url"; empty ones left out.
    static QStringList pictureURLsFromUploadInfos(const QVariantList& infos);
};

// Writes that carry the user's text: comments (with uploaded pictures) and danmaku.

#include "account/KRAccountClient.h"

#include "platform/foundation/ReplyOwner.h"
#include "model/KRConsole.h"
#include "model/KRJSON.h"
#include "model/KRServiceHosts.h"
#include "model/KRTolerantValue.h"
#include "store/KRSessionStore.h"

#include <QRandomGenerator>

#include <cmath>

namespace {

constexpr qsizetype kMaxPictures = 9;

QString apiURL(const QString& path) { return QStringLiteral("https://") + KRServiceHosts::apiHost() + path; }

QString textOrEmpty(const QString& text) { return text.isNull() ? QString(QLatin1String("")) : text; }

bool looksLikeJPEG(const QByteArray& bytes)
{
    return bytes.size() > 3 && uchar(bytes[0]) == 0xFF && uchar(bytes[1]) == 0xD8 && uchar(bytes[2]) == 0xFF;
}

QByteArray formPart(const QString& boundary, const QString& name, const QString& value)
{
    return QStringLiteral("--%1\r\nContent-Disposition: form-data; name=\"%2\"\r\n\r\n%3\r\n").arg(boundary, name, value).toUtf8();
}

} // namespace

void KRAccountClient::postComment(const QString& message, qint64 oid, qint64 root, qint64 parent, QObject* owner,
                                  KRAccountActionResult completion)
{
    postComment(message, oid, 1, root, parent, QStringList(), owner, std::move(completion));
}

void KRAccountClient::postComment(const QString& message, qint64 oid, qint32 type, qint64 root, qint64 parent, QObject* owner,
                                  KRAccountActionResult completion)
{
    postComment(message, oid, type, root, parent, QStringList(), owner, std::move(completion));
}

void KRAccountClient::postComment(const QString& message, qint64 oid, qint32 type, qint64 root, qint64 parent,
                                  const QStringList& pictureURLs, QObject* owner, KRAccountActionResult completion)
{
    QVariantMap form{{QStringLiteral("type"), type >= 2 ? type : 1},
                     {QStringLiteral("oid"), oid},
                     {QStringLiteral("message"), textOrEmpty(message)},
                     {QStringLiteral("plat"), 1}};
    if (root >= 1)
        form.insert(QStringLiteral("root"), root);
    if (parent >= 1)
        form.insert(QStringLiteral("parent"), parent);
    if (root < 1 && !pictureURLs.isEmpty()) {
        QVariantList pictures;
        for (const QString& url : pictureURLs) {
            if (!url.isEmpty())
                pictures.append(QVariantMap{{QStringLiteral("img_src"), url}});
        }
        const QByteArray text = KRJSONData(pictures);
        if (!text.isEmpty())
            form.insert(QStringLiteral("pictures"), QString::fromUtf8(text));
    }
    performActionURLString(apiURL(QStringLiteral("/x/v2/reply/add")), form, owner, std::move(completion));
}

void KRAccountClient::uploadCommentImage(const QByteArray& jpeg, QObject* owner, KRAccountReadCompletion completion)
{
    completion = platform::ownedBy(owner, std::move(completion));
    KRSessionStore& store = KRSessionStore::sharedStore();
    if (jpeg.isEmpty() || !store.isLoggedIn())
        return completion(QVariant(), KRAccountError(-101, QStringLiteral("请先登录并选择图片")));
    if (!looksLikeJPEG(jpeg))
        return completion(QVariant(), KRAccountError(-2, QStringLiteral("图片无法读取")));
    const QString boundary = QStringLiteral("----Korvane%1").arg(QRandomGenerator::global()->generate());
    Exchange request;
    request.url = apiURL(QStringLiteral("/x/dynamic/feed/draw/upload_bfs"));
    request.path = QStringLiteral("/x/dynamic/feed/draw/upload_bfs");
    request.includeSession = true;
    request.content.method = QStringLiteral("POST");
    request.content.contentType = QStringLiteral("multipart/form-data; boundary=%1").arg(boundary);
    QByteArray& body = request.content.body;
    body.reserve(jpeg.size() + 1024);
    body += formPart(boundary, QStringLiteral("biz"), QStringLiteral("new_dyn"));
    body += formPart(boundary, QStringLiteral("category"), QStringLiteral("daily"));
    body += formPart(boundary, QStringLiteral("csrf"), textOrEmpty(store.csrfToken()));
    body += QStringLiteral("--%1\r\nContent-Disposition: form-data; name=\"file_up\"; filename=\"korvane.jpg\"\r\n"
                           "Content-Type: image/jpeg\r\n\r\n")
                .arg(boundary)
                .toUtf8();
    body += jpeg;
    body += QStringLiteral("\r\n--%1--\r\n").arg(boundary).toUtf8();
    KRConsole::log(QStringLiteral("[KorvaneAccount] POST host=%1 path=%2").arg(KRServiceHosts::apiHost(), request.path));
    exchange(KRRequestKind::AccountUpload, std::move(request), owner,
             [completion](const QVariant& json, const platform::HTTPResponse*, const KROptionalError& error) {
                 // An empty answer or one that is no object carries no record: that is a failed
                 // upload, not a silent one. An object is the service speaking, its own -2
                 // included, and its message is what the user is told.
                 if (error && error->domain() == KRAccountErrorDomain && error->code() == -2 && !KRIsDictionary(json))
                     return completion(QVariant(), KRAccountError(-2, QStringLiteral("图片上传失败")));
                 completion(json.toMap().value(QStringLiteral("data")), error);
             });
}

void KRAccountClient::uploadCommentImages(const QList<QByteArray>& jpegs, QObject* owner, KRAccountRecordsCompletion completion)
{
    completion = platform::ownedBy(owner, std::move(completion));
    QList<QByteArray> images;
    for (const QByteArray& jpeg : jpegs) {
        if (images.size() == kMaxPictures)
            break;
        if (!jpeg.isEmpty())
            images.append(jpeg);
    }
    if (images.isEmpty())
        return completion(QVariantList(), std::nullopt);
    uploadCommentImages(images, 0, {}, owner, std::move(completion));
}

void KRAccountClient::uploadCommentImages(const QList<QByteArray>& jpegs, qsizetype index, QVariantList results,
                                          QObject* owner, KRAccountRecordsCompletion completion)
{
    uploadCommentImage(jpegs.at(index), owner, [=, this](const QVariant& data, const KROptionalError& error) mutable {
        if (error)
            return completion(std::nullopt, error);
        if (!KRIsDictionary(data))
            return completion(std::nullopt, KRAccountError(-2, QStringLiteral("图片上传失败")));
        results.append(data);
        if (index + 1 == jpegs.size())
            return completion(results, std::nullopt);
        uploadCommentImages(jpegs, index + 1, results, owner, completion);
    });
}

void KRAccountClient::postDanmaku(const QString& text, qint64 cid, qint64 aid, qint32 progressMS, QObject* owner,
                                  KRAccountActionResult completion)
{
    completion = platform::ownedBy(owner, std::move(completion));
    if (cid < 1 || aid < 1)
        return completion(false, QStringLiteral("弹幕视频标识尚未解析"), QVariant());
    QVariantMap form{{QStringLiteral("type"), 1},
                     {QStringLiteral("oid"), cid},
                     {QStringLiteral("aid"), aid},
                     {QStringLiteral("msg"), textOrEmpty(text)},
                     {QStringLiteral("progress"), std::max(progressMS, 0)},
                     {QStringLiteral("color"), 16777215},
                     {QStringLiteral("fontsize"), 25},
                     {QStringLiteral("pool"), 0},
                     {QStringLiteral("mode"), 1},
                     {QStringLiteral("rnd"), qint64(std::floor(KRAPIClient::currentTime()))},
                     {QStringLiteral("plat"), 1},
                     {QStringLiteral("checkbox_type"), 0},
                     {QStringLiteral("colorful"), 0},
                     {QStringLiteral("gaiasource"), QStringLiteral("main_web")},
                     {QStringLiteral("polaris_app_id"), 100},
                     {QStringLiteral("polaris_platform"), 5}};
    const QString csrf = KRSessionStore::sharedStore().csrfToken();
    if (!csrf.isEmpty()) {
        form.insert(QStringLiteral("csrf"), csrf);
        form.insert(QStringLiteral("csrf_token"), csrf);
    }
    KRAPIClient::sharedClient()->signWBIParameters(
        {{QStringLiteral("web_location"), QStringLiteral("1315873")}}, owner,
        [=, this](const QVariantMap& signedQuery, const KROptionalError& signError) {
            if (signError)
                return completion(false, QStringLiteral("弹幕签名失败（%1）: %2").arg(signError->code()).arg(signError->message()), QVariant());
            const QString url = apiURL(QStringLiteral("/x/v2/dm/post?")) + QString::fromUtf8(KRAccountFormBody(signedQuery));
            KRConsole::log(QStringLiteral("[KorvaneDanmakuPost] cid=%1 aid=%2 progress=%3 signedQuery=YES formFields=%4")
                               .arg(cid)
                               .arg(aid)
                               .arg(std::max(progressMS, 0))
                               .arg(form.size()));
            performActionURLString(url, form, owner, [=](bool success, const QString& message, const QVariant& data) {
                if (success)
                    KRConsole::log(QStringLiteral("[KorvaneDanmakuPost] result=PASS dmid=%1").arg(data.toMap().value(QStringLiteral("dmid_str")).toString()));
                else
                    KRConsole::log(QStringLiteral("[KorvaneDanmakuPost] result=FAIL message=%1").arg(message));
                completion(success, message, data);
            });
        });
}

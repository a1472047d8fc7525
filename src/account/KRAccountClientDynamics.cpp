// Writes on dynamics: like, repost with pictures, share of a video, delete.

#include "account/KRAccountClient.h"

#include "model/KRJSON.h"
#include "model/KRServiceHosts.h"
#include "model/KRTolerantValue.h"
#include "store/KRSessionStore.h"

#include <QRandomGenerator>

#include <cmath>

namespace {

constexpr int kMaxPictures = 9;

QString apiURL(const QString& path) { return QStringLiteral("https://") + KRServiceHosts::apiHost() + path; }

QString textOrEmpty(const QString& text) { return text.isNull() ? QString(QLatin1String("")) : text; }

// The size under the first of two keys that holds one, as a number: the upload's record is
// another host's answer, and whatever else it holds there (an object, a flag, a word) must
// not travel into the repost as a size. A numeric text reads as its number; else 0.
QVariant sizeValue(const QVariantMap& entry, const QString& first, const QString& second)
{
    for (const QString& key : {first, second}) {
        const QVariant value = entry.value(key);
        if (KRIsNumber(value) && !KRIsBooleanValue(value))
            return value;
        if (KRIsString(value) && !value.toString().trimmed().isEmpty())
            return KRLongLongFromText(value.toString());
    }
    return 0;
}

} // namespace

QVariantList KRAccountRepostPictures(const QVariantList& pictureInfos)
{
    QVariantList pictures;
    for (const QVariant& item : pictureInfos) {
        if (pictures.size() >= kMaxPictures)
            break;
        if (!KRIsDictionary(item))
            continue;
        const QVariantMap entry = item.toMap();
        QString source;
        for (const char* key : {"img_src", "image_url", "url"}) {
            const QVariant value = entry.value(QLatin1String(key));
            if (KRIsString(value) && !value.toString().isEmpty()) {
                source = value.toString();
                break;
            }
        }
        if (source.isEmpty())
            continue;
        pictures.append(QVariantMap{{QStringLiteral("img_src"), source},
                                    {QStringLiteral("img_width"), sizeValue(entry, QStringLiteral("img_width"), QStringLiteral("image_width"))},
                                    {QStringLiteral("img_height"), sizeValue(entry, QStringLiteral("img_height"), QStringLiteral("image_height"))},
                                    {QStringLiteral("img_size"), sizeValue(entry, QStringLiteral("img_size"), QStringLiteral("image_size"))}});
    }
    return pictures;
}

void KRAccountClient::setDynamicLiked(bool liked, const QString& dynamicID, QObject* owner, KRAccountActionResult completion)
{
    performJSONActionURLString(apiURL(QStringLiteral("/x/dynamic/feed/dyn/thumb")),
                               {{QStringLiteral("dyn_id_str"), textOrEmpty(dynamicID)}, {QStringLiteral("up"), liked ? 1 : 2}},
                               owner, std::move(completion));
}

void KRAccountClient::repostDynamicID(const QString& dynamicID, const QString& content, QObject* owner, KRAccountActionResult completion)
{
    repostDynamicID(dynamicID, content, QVariantList(), owner, std::move(completion));
}

void KRAccountClient::repostDynamicID(const QString& dynamicID, const QString& content, const QVariantMap& pictureInfo,
                                      QObject* owner, KRAccountActionResult completion)
{
    repostDynamicID(dynamicID, content, pictureInfo.isEmpty() ? QVariantList() : QVariantList{pictureInfo}, owner,
                    std::move(completion));
}

void KRAccountClient::repostDynamicID(const QString& dynamicID, const QString& content, const QVariantList& pictureInfos,
                                      QObject* owner, KRAccountActionResult completion)
{
    const QString uploadID = QStringLiteral("%1_%2_%3")
                                 .arg(KRSessionStore::sharedStore().userID())
                                 .arg(qint64(std::floor(KRAPIClient::currentTime())))
                                 .arg(QRandomGenerator::global()->generate());
    const QVariantMap text{{QStringLiteral("raw_text"), textOrEmpty(content)}, {QStringLiteral("type"), 1}, {QStringLiteral("biz_id"), QString(QLatin1String(""))}};
    const QVariantMap request{
        {QStringLiteral("content"), QVariantMap{{QStringLiteral("contents"), QVariantList{text}}}},
        {QStringLiteral("pics"), KRAccountRepostPictures(pictureInfos)},
        {QStringLiteral("scene"), 4},
        {QStringLiteral("upload_id"), uploadID},
        {QStringLiteral("meta"), QVariantMap{{QStringLiteral("app_meta"), QVariantMap{{QStringLiteral("from"), QStringLiteral("create.dynamic.web")},
                                                                                      {QStringLiteral("mobi_app"), QStringLiteral("web")}}}}},
        {QStringLiteral("option"), QVariantMap{{QStringLiteral("aigc"), 2}, {QStringLiteral("pic_mode"), 0}}}};
    performJSONActionURLString(apiURL(QStringLiteral("/x/dynamic/feed/create/dyn?platform=web")),
                               {{QStringLiteral("dyn_req"), request},
                                {QStringLiteral("web_repost_src"), QVariantMap{{QStringLiteral("dyn_id_str"), textOrEmpty(dynamicID)}}}},
                               owner, std::move(completion));
}

void KRAccountClient::shareVideoAID(qint64 aid, const QString&, const QString& content, QObject* owner, KRAccountActionResult completion)
{
    const QString empty = QString(QLatin1String(""));
    const QVariantMap form{{QStringLiteral("type"), 8},
                           {QStringLiteral("rid"), aid < 0 ? 0 : aid},
                           {QStringLiteral("content"), textOrEmpty(content)},
                           {QStringLiteral("uid"), 0},
                           {QStringLiteral("share_uid"), KRSessionStore::sharedStore().userID()},
                           {QStringLiteral("dynamic_id"), 0},
                           {QStringLiteral("spec_type"), 0},
                           {QStringLiteral("repost_code"), 20000},
                           {QStringLiteral("op_src"), 2},
                           {QStringLiteral("from"), QStringLiteral("create.dynamic.web")},
                           {QStringLiteral("at_uids"), empty},
                           {QStringLiteral("ctrl"), empty},
                           {QStringLiteral("extension"), QStringLiteral("{\"emoji_type\":1}")}};
    performActionURLString(QStringLiteral("https://") + KRServiceHosts::vcHost()
                               + QStringLiteral("/dynamic_repost/v1/dynamic_repost/share"),
                           form, owner, std::move(completion));
}

void KRAccountClient::deleteDynamicID(const QString& dynamicID, QObject* owner, KRAccountActionResult completion)
{
    performActionURLString(apiURL(QStringLiteral("/x/dynamic/feed/operate/remove?platform=web")),
                           {{QStringLiteral("dyn_id_str"), textOrEmpty(dynamicID)}}, owner, std::move(completion));
}

// The account client's envelope and readers on any reply: the envelope every reply goes
// through (any status, any body), the video pages of the history, watch-later and
// favourites with the history's cursor, the folders' media ids and the pictures of a repost
// made from upload records. A reply is an error or an object; a page holds videos only; a
// folder id is 1 or more; a repost carries at most nine pictures, each with its source and
// sizes that are whole numbers.
#include "FuzzApplication.h"
#include "FuzzInput.h"

#include "account/KRAccountClient.h"
#include "model/KRJSON.h"
#include "model/KRTolerantValue.h"
#include "model/KRVideo.h"
#include "platform/net/HTTPExchange.h"

namespace {

const int kStatuses[] = {200, 204, 299, 301, 404, 412, 500, 0};

void checkEnvelope(const platform::HTTPResponse& response)
{
    QVariant json;
    const KROptionalError error = KRAccountErrorOfReply(response, json);
    if (!error) {
        fuzz::check(json.typeId() == QMetaType::QVariantMap, "a sound reply is an object");
        fuzz::check(KRIntegerValue(json.toMap().value(QStringLiteral("code"))).value_or(0) == 0, "a sound reply names no refusal");
        fuzz::check((response.status >= 200 && response.status <= 299) || json.toMap().contains(QStringLiteral("code")),
                    "a refused status is sound only with a code of the reply");
    } else {
        fuzz::check(!error->message().isEmpty(), "an error has a message");
    }
}

void checkPages(const QVariant& reply)
{
    for (const QString& listKey : {QStringLiteral("list"), QStringLiteral("medias")}) {
        const KRAccountVideoPage page = KRAccountNormalizedVideoPage(reply, listKey);
        for (const std::shared_ptr<KRVideo>& video : page.videos)
            fuzz::check(video != nullptr, "no null video in a page");
    }
}

void checkFolders(const QVariant& reply)
{
    const QVariantList folders = reply.toMap().value(QStringLiteral("data")).toMap().value(QStringLiteral("list")).toList();
    QVariantList ids;
    for (const QVariant& folder : folders) {
        if (const std::optional<qint64> id = KRAccountFavoriteMediaID(folder)) {
            fuzz::check(*id >= 1, "a folder's media id is 1 or more");
            ids.append(*id);
        }
        ids.append(folder.toMap().value(QStringLiteral("id")));
    }
    const QString joined = KRAccountJoinedFavoriteMediaIDs(ids);
    for (const QString& part : joined.split(QLatin1Char(','), Qt::SkipEmptyParts))
        fuzz::check(part.toLongLong() >= 1, "joined ids are 1 or more");
}

void checkRepost(const QVariant& reply)
{
    const QVariant data = reply.toMap().value(QStringLiteral("data"));
    const QVariantList records = KRIsArray(data) ? data.toList() : QVariantList{data};
    const QVariantList pictures = KRAccountRepostPictures(records);
    fuzz::check(pictures.size() <= 9, "a repost carries at most nine pictures");
    for (const QVariant& picture : pictures) {
        const QVariantMap map = picture.toMap();
        fuzz::check(!map.value(QStringLiteral("img_src")).toString().isEmpty(), "a picture has its source");
        for (const char* key : {"img_width", "img_height", "img_size"}) {
            const QVariant size = map.value(QLatin1String(key));
            fuzz::check(KRIsNumber(size) && !KRIsBooleanValue(size), "a picture's size is a number");
        }
    }
    fuzz::check(!KRJSONData(QVariantMap{{QStringLiteral("pics"), pictures}}).isEmpty(), "a repost's pictures are sent as JSON");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::application();
    fuzz::InputReader input(data, size);
    platform::HTTPResponse response;
    response.status = kStatuses[input.byte() % std::size(kStatuses)];
    response.body = input.rest();
    checkEnvelope(response);
    const QVariant reply = KRJSONParse(response.body);
    if (!reply.isValid())
        return 0;
    checkPages(reply);
    checkFolders(reply);
    checkRepost(reply);
    return 0;
}

#include "support/DynamicDetailFixtures.h"

#include "model/KRServiceHosts.h"
#include "support/AccountFixtures.h"
#include "support/ImageFixtures.h"
#include "support/ServiceFixtures.h"

#include <memory>

namespace testsupport {
namespace DynamicDetailFixtures {
namespace {

using Map = QVariantMap;
using List = QVariantList;

Map stat(qint64 likes, qint64 comments, qint64 forwards)
{
    return {{"like", Map{{"count", likes}, {"status", false}}}, {"comment", Map{{"count", comments}}}, {"forward", Map{{"count", forwards}}}};
}

FakeReply write(Behaviour* behaviour)
{
    if (behaviour && behaviour->refuseWrites.load())
        return AccountFixtures::refusal(4128001, kRefusalMessage);
    return AccountFixtures::ok(Map{});
}

} // namespace

QVariantMap ownVideoItem()
{
    const Map archive{{"aid", QString::number(kOwnVideoAID)}, {"bvid", ServiceFixtures::bvidForAID(kOwnVideoAID)},
                      {"title", QStringLiteral("木工桌的第二天")},
                      {"cover", QStringLiteral("https://i0.%1/bfs/archive/dyn1.jpg").arg(KRServiceHosts::imagePrimaryDomain())},
                      {"duration_text", "12:04"}, {"stat", Map{{"play", "1.2万"}, {"danmaku", "88"}}}};
    return {{"id_str", kOwnVideoID}, {"type", "DYNAMIC_TYPE_AV"},
            {"basic", Map{{"comment_id_str", QString::number(kOwnVideoAID)}, {"comment_type", 11}}},
            {"modules", Map{{"module_author", Map{{"mid", 4242}, {"name", QStringLiteral("测试用户")}, {"face", ImageFixtures::avatarAddress(QStringLiteral("dyn-own"))}, {"pub_time", QStringLiteral("3 小时前")}}},
                            {"module_dynamic", Map{{"desc", Map{{"text", QStringLiteral("新视频发布了，欢迎来看")}}},
                                                   {"major", Map{{"archive", archive}}}}},
                            {"module_stat", stat(5, kOwnVideoCommentCount, 2)}}}};
}

QVariantMap pictureItem()
{
    List pictures;
    for (int i = 0; i < 2; ++i)
        pictures << Map{{"url", QStringLiteral("https://i0.%1/bfs/new_dyn/p%2.jpg").arg(KRServiceHosts::imagePrimaryDomain()).arg(i)},
                        {"width", 800}, {"height", 600}};
    return {{"id_str", kPictureID}, {"type", "DYNAMIC_TYPE_DRAW"},
            {"basic", Map{{"comment_id_str", ""}, {"comment_type", 0}}},
            {"modules", Map{{"module_author", Map{{"mid", kPictureAuthorMID}, {"name", QStringLiteral("摄影师阿青")}, {"face", ImageFixtures::avatarAddress(QStringLiteral("dyn-photo"))}, {"pub_time", QStringLiteral("昨天")}}},
                            {"module_dynamic", Map{{"desc", Map{{"text", QStringLiteral("今天的晚霞")}}},
                                                   {"major", Map{{"draw", Map{{"items", pictures}}}}}}},
                            {"module_stat", stat(0, 0, 0)}}}};
}

void installDetailRoutes(FakeService& service, Behaviour* behaviour)
{
    const QString api = KRServiceHosts::apiHost();
    service.route(api, QStringLiteral("/x/polymer/web-dynamic/v1/detail"), [](const FakeRequest& request) {
        const QString id = request.queryValue(QStringLiteral("id"));
        if (id == kFailingID)
            return FakeReply::withStatus(500);
        if (id == kOwnVideoID)
            return AccountFixtures::ok(Map{{"item", ownVideoItem()}});
        if (id == kPictureID)
            return AccountFixtures::ok(Map{{"item", pictureItem()}});
        return AccountFixtures::ok(Map{});
    });
    service.route(api, QStringLiteral("/x/dynamic/feed/dyn/thumb"), [behaviour](const FakeRequest&) {
        FakeReply reply = write(behaviour);
        reply.delayMs = behaviour ? behaviour->likeDelayMs.load() : 0;
        return reply;
    });
    for (const char* path : {"/x/dynamic/feed/create/dyn", "/x/dynamic/feed/operate/remove", "/x/v2/history/toview/add"})
        service.route(api, QLatin1String(path), [behaviour](const FakeRequest&) { return write(behaviour); });
    auto uploads = std::make_shared<std::atomic<int>>(0);
    service.route(api, QStringLiteral("/x/dynamic/feed/draw/upload_bfs"), [behaviour, uploads](const FakeRequest&) {
        if (behaviour && behaviour->failUploads.load())
            return FakeReply::withStatus(500);
        const int n = ++*uploads;
        return AccountFixtures::ok(
            Map{{"image_url", QStringLiteral("https://i0.%1/bfs/new_dyn/up%2.jpg").arg(KRServiceHosts::imagePrimaryDomain()).arg(n)},
                {"image_width", 40}, {"image_height", 30}});
    });
}

} // namespace DynamicDetailFixtures
} // namespace testsupport

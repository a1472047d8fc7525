#include "support/DynamicFixtures.h"

#include "model/KRServiceHosts.h"
#include "support/AccountFixtures.h"
#include "support/ImageFixtures.h"
#include "support/ServiceFixtures.h"

#include <QCryptographicHash>

namespace testsupport::DynamicFixtures {

namespace {

using Map = QVariantMap;
using List = QVariantList;

constexpr qint64 kDefaultAuthor = 9001;

Map author(qint64 mid)
{
    if (mid <= 0)
        mid = kDefaultAuthor;
    return Map{{QStringLiteral("mid"), mid},
               {QStringLiteral("name"), QStringLiteral("关注的人%1").arg(mid % 100)},
               {QStringLiteral("face"), ImageFixtures::coverAddress(QStringLiteral("face%1").arg(mid))},
               {QStringLiteral("pub_time"), QStringLiteral("2小时前")}};
}

Map post(const QString& id, qint64 authorMID, const Map& dynamicModule, const QString& type)
{
    return Map{{QStringLiteral("id_str"), id},
               {QStringLiteral("type"), type},
               {QStringLiteral("basic"), Map{{QStringLiteral("comment_id_str"), id}, {QStringLiteral("comment_type"), 17}}},
               {QStringLiteral("modules"), Map{{QStringLiteral("module_author"), author(authorMID)},
                                               {QStringLiteral("module_dynamic"), dynamicModule},
                                               {QStringLiteral("module_stat"), Map{}}}}};
}

Map desc(const QString& text) { return Map{{QStringLiteral("text"), text}}; }

} // namespace

QVariantMap textItem(const QString& id, const QString& text, qint64 authorMID)
{
    return post(id, authorMID, Map{{QStringLiteral("desc"), desc(text)}}, QStringLiteral("DYNAMIC_TYPE_WORD"));
}

QVariantMap pictureItem(const QString& id, const QString& text, int pictures, qint64 authorMID)
{
    List items;
    for (int i = 0; i < pictures; ++i)
        items.append(Map{{QStringLiteral("src"), ImageFixtures::coverAddress(QStringLiteral("draw%1_%2").arg(id).arg(i))}});
    const Map module{{QStringLiteral("desc"), desc(text)},
                     {QStringLiteral("major"), Map{{QStringLiteral("draw"), Map{{QStringLiteral("items"), items}}}}}};
    return post(id, authorMID, module, QStringLiteral("DYNAMIC_TYPE_DRAW"));
}

QVariantMap videoItem(const QString& id, qint64 aid, const QString& title, qint64 authorMID)
{
    const Map archive{{QStringLiteral("aid"), aid},
                      {QStringLiteral("bvid"), QStringLiteral("BV1dyn%1").arg(aid)},
                      {QStringLiteral("title"), title},
                      {QStringLiteral("cover"), ImageFixtures::coverAddress(QStringLiteral("video%1").arg(aid))},
                      {QStringLiteral("duration_text"), QStringLiteral("03:21")}};
    const Map module{{QStringLiteral("desc"), QVariant()},
                     {QStringLiteral("major"), Map{{QStringLiteral("archive"), archive}}}};
    return post(id, authorMID, module, QStringLiteral("DYNAMIC_TYPE_AV"));
}

QVariantMap repostItem(const QString& id, const QString& text, const QVariantMap& original)
{
    Map item = post(id, 0, Map{{QStringLiteral("desc"), desc(text)}}, QStringLiteral("DYNAMIC_TYPE_FORWARD"));
    item.insert(QStringLiteral("orig"), original);
    return item;
}

QVariantMap withStats(QVariantMap item, qint64 likes, qint64 comments, bool liked)
{
    Map modules = item.value(QStringLiteral("modules")).toMap();
    modules.insert(QStringLiteral("module_stat"),
                   Map{{QStringLiteral("like"), Map{{QStringLiteral("count"), likes}, {QStringLiteral("status"), liked}}},
                       {QStringLiteral("comment"), Map{{QStringLiteral("count"), comments}}},
                       {QStringLiteral("forward"), Map{{QStringLiteral("count"), 0}}}});
    item.insert(QStringLiteral("modules"), modules);
    return item;
}

namespace {

// A shared video of the demo: the catalogue's own record of the archive, so its card reads as the
// page it opens does.
Map demoVideoItem(const QString& id, qint64 aid, qint64 authorMID = 0)
{
    const ServiceFixtures::DemoRecord record = ServiceFixtures::demoRecord(aid);
    Map item = videoItem(id, aid, record.title, authorMID);
    Map modules = item.value(QStringLiteral("modules")).toMap();
    Map module = modules.value(QStringLiteral("module_dynamic")).toMap();
    Map major = module.value(QStringLiteral("major")).toMap();
    Map archive = major.value(QStringLiteral("archive")).toMap();
    archive.insert(QStringLiteral("bvid"), record.bvid);
    archive.insert(QStringLiteral("duration_text"), record.lengthText);
    major.insert(QStringLiteral("archive"), archive);
    module.insert(QStringLiteral("major"), major);
    modules.insert(QStringLiteral("module_dynamic"), module);
    item.insert(QStringLiteral("modules"), modules);
    return item;
}

// A post's comment count is what its comment area serves.
Map demoStats(const Map& item, qint64 likes, bool liked = false)
{
    const qint64 oid = item.value(QStringLiteral("basic")).toMap().value(QStringLiteral("comment_id_str")).toLongLong();
    return withStats(item, likes, ServiceFixtures::demoCommentTotal(oid), liked);
}

} // namespace

std::shared_ptr<FeedPlan> demoFeed()
{
    auto plan = std::make_shared<FeedPlan>();
    const Map video = demoStats(demoVideoItem(QStringLiteral("700002"), 170001), 128);
    const Map pictures = demoStats(pictureItem(QStringLiteral("700001"), QStringLiteral("今天的晚霞很好看，随手拍了几张。"), 4), 42);
    const Map original = demoVideoItem(QStringLiteral("600001"), 170002, 9002);
    const Map repost = demoStats(repostItem(QStringLiteral("700003"), QStringLiteral("这个教程太实用了"), original), 7);
    const Map single = demoStats(pictureItem(QStringLiteral("700004"), QStringLiteral("新买的相机到了"), 1, 9003), 9, true);
    const Map word = demoStats(textItem(QStringLiteral("700005"), QStringLiteral("周末有人一起去看展吗？"), 9004), 0);
    plan->set(QStringLiteral("all"), QString(),
              FeedPage{.items = {pictures, video, repost, single, word}, .offset = QStringLiteral("700005"), .hasMore = true});
    plan->set(QStringLiteral("all"), QStringLiteral("700005"),
              FeedPage{.items = {word, demoStats(textItem(QStringLiteral("700006"), QStringLiteral("好久没更新了，最近在忙毕业设计。")), 3)},
                       .offset = QStringLiteral(""), .hasMore = true});
    plan->set(QStringLiteral("video"), QString(),
              FeedPage{.items = {video, demoStats(demoVideoItem(QStringLiteral("700007"), 170003, 9005), 56)},
                       .offset = QStringLiteral("700007"), .hasMore = false});
    return plan;
}

void installFeedRoute(FakeService& service, const std::shared_ptr<FeedPlan>& plan)
{
    service.route(KRServiceHosts::apiHost(), kFeedPath, [plan](const FakeRequest& request) {
        const QString type = request.queryValue(QStringLiteral("type"));
        const QString offset = request.queryValue(QStringLiteral("offset"));
        FeedPage page;
        {
            std::lock_guard guard(plan->lock);
            page = plan->pages.value(type + QLatin1Char('|') + (offset.isNull() ? QString() : offset));
        }
        FakeReply reply;
        if (page.fails) {
            reply = FakeReply::json(QByteArray(R"({"code":-500,"message":"服务器错误"})"), 500);
        } else {
            Map data{{QStringLiteral("items"), page.items}, {QStringLiteral("has_more"), page.hasMore}};
            if (page.offset.isValid())
                data.insert(QStringLiteral("offset"), page.offset);
            reply = AccountFixtures::ok(data);
        }
        reply.delayMs = page.delayMs;
        return reply;
    });
}

QVariantMap ownVideoDetailItem()
{
    Map item = withStats(videoItem(kOwnVideoID, kOwnVideoAID, QStringLiteral("木工桌的第二天"), kOwnMID), 5, 7);
    item.insert(QStringLiteral("basic"), Map{{QStringLiteral("comment_id_str"), QString::number(kOwnVideoAID)},
                                             {QStringLiteral("comment_type"), 11}});
    Map modules = item.value(QStringLiteral("modules")).toMap();
    Map module = modules.value(QStringLiteral("module_dynamic")).toMap();
    module.insert(QStringLiteral("desc"), desc(QStringLiteral("新视频发布了，欢迎来看")));
    modules.insert(QStringLiteral("module_dynamic"), module);
    item.insert(QStringLiteral("modules"), modules);
    return item;
}

QVariantMap pictureDetailItem()
{
    Map item = withStats(pictureItem(kPictureID, QStringLiteral("今天的晚霞"), 2, 7001), 0, 0);
    item.insert(QStringLiteral("basic"), Map{{QStringLiteral("comment_id_str"), QString()}, {QStringLiteral("comment_type"), 0}});
    return item;
}

void installDetailRoute(FakeService& service, const std::shared_ptr<FeedPlan>& feed)
{
    service.route(KRServiceHosts::apiHost(), kDetailPath, [feed](const FakeRequest& request) {
        const QString id = request.queryValue(QStringLiteral("id"));
        if (id == kFailingID)
            return FakeReply::withStatus(500);
        if (id == kOwnVideoID)
            return AccountFixtures::ok(Map{{QStringLiteral("item"), ownVideoDetailItem()}});
        if (id == kPictureID)
            return AccountFixtures::ok(Map{{QStringLiteral("item"), pictureDetailItem()}});
        if (feed) {
            std::lock_guard guard(feed->lock);
            for (const FeedPage& page : std::as_const(feed->pages))
                for (const QVariant& item : page.items)
                    if (item.toMap().value(QStringLiteral("id_str")).toString() == id)
                        return AccountFixtures::ok(Map{{QStringLiteral("item"), item}});
        }
        return AccountFixtures::ok(Map{});
    });
}

void installActionRoutes(FakeService& service, const std::shared_ptr<ActionPlan>& plan)
{
    for (const QString& path : {kThumbPath, kCreatePath, kRemovePath, kWatchLaterPath}) {
        service.route(KRServiceHosts::apiHost(), path, [plan, path](const FakeRequest&) {
            QString refusal;
            {
                std::lock_guard guard(plan->lock);
                refusal = plan->refusals.value(path);
            }
            if (!refusal.isEmpty())
                return AccountFixtures::refusal(-400, refusal);
            if (path == kCreatePath)
                return AccountFixtures::ok(Map{{QStringLiteral("dyn_id_str"), QStringLiteral("990001")}});
            return AccountFixtures::ok(Map{});
        });
    }
    service.route(KRServiceHosts::apiHost(), kUploadPath, [plan](const FakeRequest& request) {
        bool fails = false;
        {
            std::lock_guard guard(plan->lock);
            fails = plan->uploadFails;
        }
        if (fails)
            return AccountFixtures::refusal(-1, QStringLiteral("上传失败"));
        // Each picture gets an address of its own, as the service's storage names it by content.
        QCryptographicHash digest(QCryptographicHash::Sha1);
        for (const FakeFormPart& part : request.formParts)
            if (part.name == QLatin1String("file_up"))
                digest.addData(part.content);
        return AccountFixtures::ok(Map{{QStringLiteral("image_url"),
                                        ImageFixtures::coverAddress(QStringLiteral("upload") + QString::fromLatin1(digest.result().toHex().left(12)))},
                                       {QStringLiteral("image_width"), 64},
                                       {QStringLiteral("image_height"), 64}});
    });
}

} // namespace testsupport::DynamicFixtures

#include "support/DemoCatalogue.h"

#include "model/KRServiceHosts.h"
#include "support/AccountFixtures.h"
#include "support/CommentFixtures.h"
#include "support/DynamicFixtures.h"
#include "support/ImageFixtures.h"
#include "support/InteractionFixtures.h"
#include "support/PlaybackFixtures.h"
#include "support/ServiceFixtures.h"

namespace testsupport {
namespace {

using Map = QVariantMap;
using List = QVariantList;

constexpr int kMessagePageSize = 10;

// The demo account's inbox: replies to its comments on catalogue videos and mentions in their
// comments, newest first, each pointing at a comment the video's comment area serves (a top-level
// comment and one of its replies), paged by the message id as the cursor.
List inboxMessages(bool mentions)
{
    static const QStringList replies{QStringLiteral("同感，这期做得太用心了"), QStringLiteral("请问用的是什么工具？"),
                                     QStringLiteral("哈哈哈哈笑死我了"), QStringLiteral("第二遍看才发现这个细节"),
                                     QStringLiteral("已三连，期待下一期"), QStringLiteral("说得对，我也是这么想的")};
    static const QStringList atTexts{QStringLiteral("@演示账号 快来看这个"), QStringLiteral("@演示账号 你上次问的就是这个"),
                                     QStringLiteral("@演示账号 一起学")};
    List list;
    const int count = mentions ? 5 : 24;
    for (int n = 0, aid = mentions ? 310001 : 300101; list.size() < count; ++aid) {
        // Only a video with a top-level comment that has replies can be pointed into.
        const qint64 root = ServiceFixtures::demoCommentWithReplies(aid);
        if (root == 0)
            continue;
        const ServiceFixtures::DemoRecord record = ServiceFixtures::demoRecord(aid);
        const qint64 id = (mentions ? 820000 : 810000) - n;
        const qint64 mid = 3000 + (aid * 7) % 500;
        const Map item{{"subject_id", aid}, {"root_id", root}, {"source_id", root * 100 + 1}, {"target_id", root},
                       {"business_id", 1}, {"business", QStringLiteral("视频")}, {"type", "reply"},
                       {"title", record.title},
                       {"source_content", mentions ? atTexts.at(n % atTexts.size()) : replies.at(n % replies.size())},
                       {"uri", QStringLiteral("https://%1/video/%2").arg(KRServiceHosts::webHost(), record.bvid)}};
        list.append(Map{{"id", id},
                        {"user", Map{{"mid", mid}, {"nickname", QStringLiteral("观众%1").arg(mid % 1000)},
                                     {"avatar", QStringLiteral("https://i0.%1/bfs/face/%2.jpg").arg(KRServiceHosts::imagePrimaryDomain()).arg(mid)}}},
                        {"item", item}, {"reply_time", 1700000000 - n * 3600}});
        ++n;
    }
    return list;
}

// A page of the inbox after the message `cursor` names (0: the first page).
FakeReply inboxPage(const FakeRequest& request, bool mentions)
{
    const List all = inboxMessages(mentions);
    bool ok = false;
    const qint64 cursor = request.queryValue(QStringLiteral("id")).toLongLong(&ok);
    List page;
    qsizetype at = 0;
    while (ok && cursor > 0 && at < all.size() && all.at(at).toMap().value("id").toLongLong() >= cursor)
        ++at;
    for (; at < all.size() && page.size() < kMessagePageSize; ++at)
        page.append(all.at(at));
    const bool ended = at >= all.size();
    const qint64 next = page.isEmpty() ? 0 : page.last().toMap().value("id").toLongLong();
    return AccountFixtures::ok(Map{{"items", page}, {"cursor", Map{{"is_end", ended}, {"id", ended ? 0 : next}}}});
}

} // namespace

QStringList DemoCatalogue::hosts()
{
    QStringList hosts = KRServiceHosts::allServiceHosts() + ImageFixtures::hosts();
    for (QString& host : hosts)
        host = host.toLower();
    hosts.removeDuplicates();
    return hosts;
}

void DemoCatalogue::install(FakeService& service) { install(service, Options()); }

void DemoCatalogue::install(FakeService& service, const Options& options)
{
    // One record per archive for every list, detail and comment area; what the demo account
    // posts (with pictures and emotes) comes first in its comment area from then on.
    const auto posted = std::make_shared<CommentFixtures::PostedComments>();
    ServiceFixtures::installDemoCatalogue(service, posted);
    CommentFixtures::installPostAndEmoteRoutes(service, posted);
    service.route(KRServiceHosts::apiHost(), QStringLiteral("/x/msgfeed/reply"),
                  [](const FakeRequest& request) { return inboxPage(request, false); });
    service.route(KRServiceHosts::apiHost(), QStringLiteral("/x/msgfeed/at"),
                  [](const FakeRequest& request) { return inboxPage(request, true); });
    ImageFixtures::serveImages(service);
    // The passport's routes keep its state alive; the object itself is not needed afterwards.
    AccountFixtures::Passport passport(service);
    passport.setConfirmingOnItsOwn(true);
    // The demo account's folders, likes, triple, danmaku and shares; its own relation, follow
    // and coin routes, installed after, answer from its purse and follow list instead.
    InteractionFixtures interactions(service);
    interactions.setFolders({{InteractionFixtures::kFirstDemoFolderID, QStringLiteral("默认收藏夹"), 0, false, {}},
                             {InteractionFixtures::kFirstDemoFolderID + 1, QStringLiteral("想去的地方"), 0, false, {}},
                             {InteractionFixtures::kFirstDemoFolderID + 2, QStringLiteral("私藏"), 0, true, {}}});
    interactions.setPrivateFolderAnsweredWithoutID(true);
    AccountFixtures::installDemoAccount(service, [interactions](qint64 aid) { return interactions.likeAndFavoriteOf(aid); });
    const auto feed = DynamicFixtures::demoFeed();
    DynamicFixtures::installFeedRoute(service, feed);
    DynamicFixtures::installDetailRoute(service, feed);
    DynamicFixtures::installActionRoutes(service, std::make_shared<DynamicFixtures::ActionPlan>());
    // Every video plays, with danmaku, at each quality it offers: 1080P as DASH halves, 720P and
    // 360P as files (or halves), each at its own size; the routes keep the fixtures' state.
    PlaybackFixtures playback(service);
    playback.setDemo(true);
    playback.serveSeriesPlayInfo();
    playback.setPortraitCID(ServiceFixtures::firstCIDForAID(ServiceFixtures::kDemoPortraitAID));
    playback.setFourKCID(ServiceFixtures::firstCIDForAID(ServiceFixtures::kDemo4KAID));
    playback.setMediaRate(options.mediaBytesPerSecond);
}

} // namespace testsupport

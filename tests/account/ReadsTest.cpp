#include "account/AccountClientTesting.h"

#include "model/KRJSON.h"
#include "model/KRVideo.h"

using namespace accounttest;

namespace {

using ReadCalls = Calls<const QVariant&, const KROptionalError&>;
using PageCalls = Calls<const KRAccountVideoPage&, const KROptionalError&>;
using DictionaryCalls = Calls<const QVariantMap&, const KROptionalError&>;
using ActionCalls = Calls<bool, const QString&, const QVariant&>;

using ReadsTest = AccountClientTest;

QVariant reply(const QString& key, const QVariantList& items, const QVariantMap& extra = {})
{
    QVariantMap data = extra;
    data.insert(key, items);
    return QVariantMap{{QStringLiteral("code"), 0}, {QStringLiteral("data"), data}};
}

TEST_F(ReadsTest, ReadsSendTheirParametersAndTheLoginGateAnswersInsideTheCall)
{
    struct Case {
        const char* name;
        std::function<void(KRAccountReadCompletion)> call;
        QString path;
        QString query;
    };
    const QString features = QStringLiteral("features=itemOpusStyle%2ClistOnlyfans");
    const QList<Case> cases{
        {"replies from the start", [](auto c) { client()->loadReplyMessagesWithCursor(0, nullptr, c); }, QStringLiteral("/x/msgfeed/reply"),
         QStringLiteral("build=0&mobi_app=web&platform=web")},
        {"mentions from a cursor", [](auto c) { client()->loadAtMessagesWithCursor(1234, nullptr, c); }, QStringLiteral("/x/msgfeed/at"),
         QStringLiteral("build=0&id=1234&mobi_app=web&platform=web")},
        {"video dynamics", [](auto c) { client()->loadFollowingDynamicsOfType(QStringLiteral("video"), QString(), nullptr, c); },
         QStringLiteral("/x/polymer/web-dynamic/v1/feed/all"), features},
        {"relation", [](auto c) { client()->loadRelationForMID(77, nullptr, c); }, QStringLiteral("/x/relation"), QStringLiteral("fid=77")},
        {"archive relation", [](auto c) { client()->loadArchiveRelationForAID(9, nullptr, c); }, QStringLiteral("/x/web-interface/archive/relation"),
         QStringLiteral("aid=9")},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        ReadCalls gated;
        item.call(gated.recorder());
        ASSERT_EQ(gated.calls.size(), 1); // logged out: at once, nothing sent
        expectError(std::get<1>(gated.calls.first()), -101, QStringLiteral("账号未登录"));
    }
    EXPECT_TRUE(fake.requests().isEmpty());
    AccountFixtures::logInWebOnly();
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        serveAPI(item.path, [](const FakeRequest&) { return AccountFixtures::ok(QVariantMap{{QStringLiteral("n"), 1}}); });
        ReadCalls calls;
        item.call(calls.recorder());
        const auto [data, error] = calls.awaitOne();
        EXPECT_FALSE(error);
        EXPECT_EQ(data.toMap().value(QStringLiteral("n")).toInt(), 1);
        const FakeRequest sent = fake.requestsTo(item.path).last();
        EXPECT_TRUE(sent.query.startsWith(item.query) || sent.query.contains(item.query)) << sent.query.toStdString();
        EXPECT_TRUE(sent.header(QStringLiteral("Cookie")).contains(QStringLiteral("SESSDATA=")));
    }
    const FakeRequest dynamics = fake.requestsTo(QStringLiteral("/x/polymer/web-dynamic/v1/feed/all")).last();
    EXPECT_EQ(dynamics.queryValue(QStringLiteral("type")), QStringLiteral("video"));
    EXPECT_TRUE(dynamics.queryValue(QStringLiteral("offset")).isNull());
    client()->loadFollowingDynamicsOfType(QString(), QStringLiteral("off-2"), nullptr, {});
    KR_WAIT_UNTIL(fake.requestsTo(QStringLiteral("/x/polymer/web-dynamic/v1/feed/all")).size() == 2);
    const FakeRequest next = fake.requestsTo(QStringLiteral("/x/polymer/web-dynamic/v1/feed/all")).last();
    EXPECT_EQ(next.queryValue(QStringLiteral("type")), QStringLiteral("all"));
    EXPECT_EQ(next.queryValue(QStringLiteral("offset")), QStringLiteral("off-2"));
}

TEST_F(ReadsTest, PublicReadsGoWithoutLoginAndHandOnlyAnObject)
{
    struct Case {
        const char* name;
        std::function<void(KRAccountReadCompletion)> call;
        QString path, query;
        QVariant data, expected;
    };
    const QVariantMap packages{{QStringLiteral("packages"), QVariantList{QVariantMap{{QStringLiteral("id"), 1}}}}};
    const QList<Case> cases{
        {"follower statistics", [](auto c) { client()->loadFollowerStatisticsForMID(5, nullptr, c); }, QStringLiteral("/x/relation/stat"),
         QStringLiteral("vmid=5"), QVariantList{1, 2}, QVariant()},
        {"emote packages", [](auto c) { client()->loadReplyEmotePackages(nullptr, c); }, QStringLiteral("/x/emote/package"),
         QStringLiteral("business=reply&ids=1%2C2"), packages, packages},
        {"emote packages not an object", [](auto c) { client()->loadReplyEmotePackages(nullptr, c); }, QStringLiteral("/x/emote/package"),
         QStringLiteral("business=reply&ids=1%2C2"), QStringLiteral("none"), QVariant()},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        serveAPI(item.path, [data = item.data](const FakeRequest&) { return AccountFixtures::ok(data); });
        ReadCalls calls;
        item.call(calls.recorder());
        const auto [data, error] = calls.awaitOne();
        EXPECT_FALSE(error);
        EXPECT_EQ(data, item.expected);
        EXPECT_EQ(fake.requestsTo(item.path).last().query, item.query);
    }
}

TEST_F(ReadsTest, WatchLaterAndFolderVideosArePagesOfVideos)
{
    struct Case {
        const char* name;
        std::function<void(KRAccountVideoPageCompletion)> call;
        QString path, query;
        QVariantMap data;
        qint64 aid;
        bool hasMore;
    };
    const QVariantMap listed{{QStringLiteral("aid"), 3}, {QStringLiteral("title"), QStringLiteral("t")}};
    const QVariantMap media{{QStringLiteral("id"), 55}, {QStringLiteral("type"), 2}, {QStringLiteral("title"), QStringLiteral("m")}};
    const QVariant more = true;
    const QList<Case> cases{
        {"watch later never has more", [](auto c) { client()->loadWatchLater(nullptr, c); }, QStringLiteral("/x/v2/history/toview/web"),
         QString(QLatin1String("")), {{QStringLiteral("list"), QVariantList{listed}}, {QStringLiteral("has_more"), more}}, 3, false},
        {"folder videos from page 0", [](auto c) { client()->loadFavoriteVideosForMediaID(9, 0, nullptr, c); },
         QStringLiteral("/x/v3/fav/resource/list"), QStringLiteral("media_id=9&platform=0&pn=1&ps=20"),
         {{QStringLiteral("medias"), QVariantList{media}}, {QStringLiteral("has_more"), more}}, 55, true},
        {"folder videos, last page", [](auto c) { client()->loadFavoriteVideosForMediaID(9, 2, nullptr, c); },
         QStringLiteral("/x/v3/fav/resource/list"), QStringLiteral("media_id=9&platform=0&pn=2&ps=20"),
         {{QStringLiteral("medias"), QVariantList{media}}}, 55, false},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        PageCalls gated;
        item.call(gated.recorder());
        ASSERT_EQ(gated.calls.size(), 1); // logged out: at once, nothing sent
        expectError(std::get<1>(gated.calls.first()), -101);
    }
    EXPECT_TRUE(fake.requests().isEmpty());
    AccountFixtures::logInWebOnly();
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        serveAPI(item.path, [data = item.data](const FakeRequest&) { return AccountFixtures::ok(data); });
        PageCalls calls;
        item.call(calls.recorder());
        const auto [page, error] = calls.awaitOne();
        EXPECT_FALSE(error);
        ASSERT_EQ(page.videos.size(), 1);
        EXPECT_EQ(page.videos.first()->aid(), item.aid);
        EXPECT_EQ(page.hasMore, item.hasMore);
        EXPECT_EQ(fake.requestsTo(item.path).last().query, item.query);
        EXPECT_TRUE(fake.requestsTo(item.path).last().header(QStringLiteral("Cookie")).contains(QStringLiteral("SESSDATA=")));
    }
}

TEST_F(ReadsTest, TheNormaliserReconcilesTheItemShapes)
{
    struct Case {
        const char* name;
        QString listKey;
        QVariantMap entry;
        qint64 aid;
        qint64 episode;
    };
    const QVariantMap archive{{QStringLiteral("business"), QStringLiteral("archive")}, {QStringLiteral("oid"), 17001},
                              {QStringLiteral("bvid"), QStringLiteral("BV1xx411c7mD")}, {QStringLiteral("cid"), 5}};
    const QVariantMap pgc{{QStringLiteral("business"), QStringLiteral("PGC")}, {QStringLiteral("epid"), 12345}, {QStringLiteral("oid"), 99}};
    const QVariantMap other{{QStringLiteral("business"), QStringLiteral("live")}, {QStringLiteral("oid"), 99}};
    const QList<Case> cases{
        {"archive history", QStringLiteral("list"), {{QStringLiteral("title"), QStringLiteral("a")}, {QStringLiteral("history"), archive}}, 17001, 0},
        {"series history", QStringLiteral("list"), {{QStringLiteral("title"), QStringLiteral("b")}, {QStringLiteral("history"), pgc}}, 99, 12345},
        {"other business", QStringLiteral("list"), {{QStringLiteral("title"), QStringLiteral("c")}, {QStringLiteral("history"), other}}, 0, 0},
        {"favourite media", QStringLiteral("medias"), {{QStringLiteral("title"), QStringLiteral("d")}, {QStringLiteral("type"), 2}, {QStringLiteral("id"), 17001}}, 17001, 0},
        {"media shape in a history", QStringLiteral("list"), {{QStringLiteral("title"), QStringLiteral("e")}, {QStringLiteral("type"), 2}, {QStringLiteral("id"), 17001}}, 0, 0},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        const KRAccountVideoPage page = KRAccountNormalizedVideoPage(reply(item.listKey, {item.entry, QStringLiteral("not an item")}), item.listKey);
        ASSERT_EQ(page.videos.size(), 1);
        EXPECT_EQ(page.videos.first()->aid(), item.aid);
        EXPECT_EQ(page.videos.first()->episodeID(), item.episode);
        if (item.episode) {
            EXPECT_TRUE(page.videos.first()->isPGC());
        }
    }
    const KRAccountVideoPage filled = KRAccountNormalizedVideoPage(reply(QStringLiteral("list"), {cases.first().entry}), QStringLiteral("list"));
    EXPECT_EQ(filled.videos.first()->bvid(), QStringLiteral("BV1xx411c7mD"));
    EXPECT_EQ(filled.videos.first()->cid(), 5);
    // A favourite names its uploader "upper" and its counts "cnt_info"; a series item in a
    // history carries its season beside it, in either spelling.
    const QVariantMap favourite{{QStringLiteral("type"), 2}, {QStringLiteral("id"), 17002},
                                {QStringLiteral("upper"), QVariantMap{{QStringLiteral("mid"), 7}, {QStringLiteral("name"), QStringLiteral("UP")}}},
                                {QStringLiteral("cnt_info"), QVariantMap{{QStringLiteral("play"), 321}}}};
    const auto favourites = KRAccountNormalizedVideoPage(reply(QStringLiteral("medias"), {favourite}), QStringLiteral("medias"));
    ASSERT_EQ(favourites.videos.size(), 1);
    EXPECT_EQ(favourites.videos.first()->aid(), 17002);
    EXPECT_EQ(favourites.videos.first()->ownerName(), QStringLiteral("UP"));
    EXPECT_EQ(favourites.videos.first()->ownerMID(), 7);
    EXPECT_EQ(favourites.videos.first()->playCount(), 321);
    for (const char* seasonKey : {"season_id", "seasonid"}) {
        const QVariantMap series{{QStringLiteral("history"), pgc}, {QLatin1String(seasonKey), 4321}};
        const auto seasons = KRAccountNormalizedVideoPage(reply(QStringLiteral("list"), {series}), QStringLiteral("list"));
        ASSERT_EQ(seasons.videos.size(), 1);
        EXPECT_EQ(seasons.videos.first()->seasonID(), 4321) << seasonKey;
        EXPECT_EQ(seasons.videos.first()->episodeID(), 12345) << seasonKey;
    }
    // Neither an object nor a list gives an empty page.
    EXPECT_TRUE(KRAccountNormalizedVideoPage(QVariantList{1}, QStringLiteral("list")).videos.isEmpty());
    EXPECT_TRUE(KRAccountNormalizedVideoPage(reply(QStringLiteral("list"), {}), QStringLiteral("medias")).videos.isEmpty());
}

TEST_F(ReadsTest, PagesCarryTheirCursorsAndMore)
{
    AccountFixtures::logInWebOnly();
    const QVariantMap video{{QStringLiteral("aid"), 3}, {QStringLiteral("title"), QStringLiteral("t")}};
    std::atomic<qint64> nextMax{0};
    serveAPI(QStringLiteral("/x/web-interface/history/cursor"), [&nextMax, video](const FakeRequest&) {
        return AccountFixtures::ok(QVariantMap{{QStringLiteral("list"), QVariantList{video}},
                                               {QStringLiteral("cursor"), QVariantMap{{QStringLiteral("max"), nextMax.load()},
                                                                                      {QStringLiteral("view_at"), 1700000000}}}});
    });
    for (const qint64 max : {0, 88}) {
        nextMax = max;
        PageCalls calls;
        client()->loadHistoryWithMax(max, 0, nullptr, calls.recorder());
        const auto [page, error] = calls.awaitOne();
        EXPECT_FALSE(error);
        EXPECT_EQ(page.videos.size(), 1);
        EXPECT_EQ(page.hasMore, max > 0);
        EXPECT_EQ(page.max, max > 0 ? std::optional<qint64>(max) : std::nullopt);
        EXPECT_EQ(page.viewAt, std::optional<qint64>(1700000000));
    }
    EXPECT_EQ(fake.requestsTo(QStringLiteral("/x/web-interface/history/cursor")).first().query, QStringLiteral("ps=20"));
    EXPECT_EQ(fake.requestsTo(QStringLiteral("/x/web-interface/history/cursor")).last().query, QStringLiteral("max=88&ps=20"));

    serveAPI(QStringLiteral("/x/v3/fav/folder/created/list"), [](const FakeRequest&) {
        QVariantList folders;
        for (int i = 0; i < 20; ++i)
            folders.append(QVariantMap{{QStringLiteral("id"), i + 1}});
        return AccountFixtures::ok(QVariantMap{{QStringLiteral("list"), folders}, {QStringLiteral("count"), 21}});
    });
    for (const auto& [page, more] : {std::pair{0, true}, std::pair{2, false}}) {
        DictionaryCalls calls;
        client()->loadFavoriteFoldersPage(page, nullptr, calls.recorder());
        const auto [folders, error] = calls.awaitOne();
        EXPECT_EQ(folders.value(QStringLiteral("has_more")).toBool(), more) << page;
        EXPECT_EQ(folders.value(QStringLiteral("total")).toLongLong(), 21);
        EXPECT_EQ(folders.value(QStringLiteral("folders")).toList().size(), 20);
    }
    const FakeRequest first = fake.requestsTo(QStringLiteral("/x/v3/fav/folder/created/list")).first();
    EXPECT_EQ(first.queryValue(QStringLiteral("pn")), QStringLiteral("1"));
    EXPECT_EQ(first.queryValue(QStringLiteral("up_mid")), QStringLiteral("4242"));
}

TEST_F(ReadsTest, FoldersForAVideoNeedItsAIDAndTheMember)
{
    DictionaryCalls calls;
    client()->loadFavoriteFoldersForAID(0, nullptr, calls.recorder());
    ASSERT_EQ(calls.calls.size(), 1);
    expectError(std::get<1>(calls.calls.first()), -3, QStringLiteral("视频编号尚未解析"));
    client()->loadFavoriteFoldersForAID(7, nullptr, calls.recorder());
    ASSERT_EQ(calls.calls.size(), 2);
    expectError(std::get<1>(calls.calls.last()), -3, QStringLiteral("账号信息尚未同步"));
    EXPECT_TRUE(fake.requests().isEmpty());
}

TEST(RepostPictures, SizesTravelAsNumbersWhateverTheUploadRecordHolds)
{
    // An upload record is another host's answer: a size given as an object, a flag or a word
    // is no size, a numeric text is its number, and the second key stands in for the first.
    const QVariantList sent = KRAccountRepostPictures(
        {QVariantMap{{QStringLiteral("img_src"), QStringLiteral("https://i/0.jpg")},
                     {QStringLiteral("img_width"), QStringLiteral("640")},
                     {QStringLiteral("img_height"), QVariantMap{{QStringLiteral("value"), 480}}},
                     {QStringLiteral("img_size"), true},
                     {QStringLiteral("image_size"), 12.5}},
         QVariantMap{{QStringLiteral("url"), QStringLiteral("https://i/1.jpg")},
                     {QStringLiteral("image_width"), QVariantList{640}},
                     {QStringLiteral("image_height"), QStringLiteral("高")}}});
    ASSERT_EQ(sent.size(), 2);
    EXPECT_EQ(sent[0].toMap(), (QVariantMap{{QStringLiteral("img_src"), QStringLiteral("https://i/0.jpg")}, {QStringLiteral("img_width"), 640},
                                            {QStringLiteral("img_height"), 0}, {QStringLiteral("img_size"), 12.5}}));
    EXPECT_EQ(sent[1].toMap(), (QVariantMap{{QStringLiteral("img_src"), QStringLiteral("https://i/1.jpg")}, {QStringLiteral("img_width"), 0},
                                            {QStringLiteral("img_height"), 0}, {QStringLiteral("img_size"), 0}}));
}

TEST_F(ReadsTest, DynamicsWritesCarryTheirBodiesAndTheCSRFToken)
{
    AccountFixtures::logInWebOnly();
    QVariantList pictures{QStringLiteral("not a picture"), QVariantMap{{QStringLiteral("url"), QStringLiteral("https://i/0.jpg")}, {QStringLiteral("image_width"), 640}},
                          QVariantMap{{QStringLiteral("title"), QStringLiteral("no source")}}};
    for (int i = 1; i < 12; ++i)
        pictures.append(QVariantMap{{QStringLiteral("img_src"), QStringLiteral("https://i/%1.jpg").arg(i)}, {QStringLiteral("img_size"), 1.5}});
    const auto okAction = AccountFixtures::csrfChecked([](const FakeRequest&) { return AccountFixtures::ok(QVariantMap{}); });
    serveAPI(QStringLiteral("/x/dynamic/feed/create/dyn"), okAction);
    serveAPI(QStringLiteral("/x/dynamic/feed/dyn/thumb"), okAction);
    serve(KRServiceHosts::vcHost(), QStringLiteral("/dynamic_repost/v1/dynamic_repost/share"), okAction);

    ActionCalls calls;
    client()->repostDynamicID(QStringLiteral("9001"), QStringLiteral("看看"), pictures, nullptr, calls.recorder());
    EXPECT_TRUE(std::get<0>(calls.awaitOne()));
    const QVariantMap body = KRJSONParse(fake.requestsTo(QStringLiteral("/x/dynamic/feed/create/dyn")).first().body).toMap();
    const QVariantMap request = body.value(QStringLiteral("dyn_req")).toMap();
    const QVariantList sent = request.value(QStringLiteral("pics")).toList();
    ASSERT_EQ(sent.size(), 9);
    EXPECT_EQ(sent.first().toMap(), (QVariantMap{{QStringLiteral("img_src"), QStringLiteral("https://i/0.jpg")}, {QStringLiteral("img_width"), 640},
                                                 {QStringLiteral("img_height"), 0}, {QStringLiteral("img_size"), 0}}));
    EXPECT_EQ(sent.last().toMap().value(QStringLiteral("img_src")).toString(), QStringLiteral("https://i/8.jpg"));
    EXPECT_TRUE(request.value(QStringLiteral("upload_id")).toString().startsWith(QStringLiteral("4242_")));
    EXPECT_EQ(body.value(QStringLiteral("web_repost_src")).toMap().value(QStringLiteral("dyn_id_str")).toString(), QStringLiteral("9001"));

    ActionCalls liked;
    client()->setDynamicLiked(false, QStringLiteral("9001"), nullptr, liked.recorder());
    EXPECT_TRUE(std::get<0>(liked.awaitOne()));
    EXPECT_EQ(KRJSONParse(fake.requestsTo(QStringLiteral("/x/dynamic/feed/dyn/thumb")).first().body).toMap().value(QStringLiteral("up")).toInt(), 2);

    ActionCalls shared;
    client()->shareVideoAID(-5, QStringLiteral("BV1"), QString(), nullptr, shared.recorder());
    EXPECT_TRUE(std::get<0>(shared.awaitOne()));
    const FakeRequest share = fake.requestsTo(QStringLiteral("/dynamic_repost/v1/dynamic_repost/share")).first();
    EXPECT_EQ(AccountFixtures::formValue(share, QStringLiteral("rid")), QStringLiteral("0"));
    EXPECT_EQ(AccountFixtures::formValue(share, QStringLiteral("share_uid")), QStringLiteral("4242"));
    EXPECT_EQ(AccountFixtures::formValue(share, QStringLiteral("extension")), QStringLiteral("{\"emoji_type\":1}"));
}

} // namespace

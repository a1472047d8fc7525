#include "account/AccountClientTesting.h"

#include "support/ServiceSignatures.h"

#include "model/KRJSON.h"

#include <QRegularExpression>

using namespace accounttest;

namespace {

using ActionCalls = Calls<bool, const QString&, const QVariant&>;
using ReadCalls = Calls<const QVariant&, const KROptionalError&>;
using RecordCalls = Calls<const std::optional<QVariantList>&, const KROptionalError&>;

const QString kAppReport = QStringLiteral("/x/v2/history/report");
const QString kWebHeartbeat = QStringLiteral("/x/click-interface/web/heartbeat");
const QString kCoin = QStringLiteral("/x/web-interface/coin/add");
const QString kUpload = QStringLiteral("/x/dynamic/feed/draw/upload_bfs");

QByteArray jpeg(int seed) { return QByteArray("\xFF\xD8\xFF\xE0", 4) + QByteArray(64, char('a' + seed)); }

class WritesTest : public AccountClientTest {
protected:
    void SetUp() override
    {
        AccountClientTest::SetUp();
        testsupport::routeNavigationFixture(fake);
        AccountFixtures::routeRiskCookies(fake);
    }
    FakeService::Handler webAction(const QVariant& data = QVariantMap{})
    {
        return AccountFixtures::csrfChecked([data](const FakeRequest&) { return AccountFixtures::ok(data); });
    }
    FakeService::Handler appAction(const QVariant& data = QVariantMap{})
    {
        return AccountFixtures::appSigned([data](const FakeRequest&) { return AccountFixtures::ok(data); });
    }
    static QString form(const FakeRequest& request, const char* name) { return AccountFixtures::formValue(request, QLatin1String(name)); }
};

TEST_F(WritesTest, TheHeartbeatGoesByTheAppWithATokenAndByTheWebWithCookiesOnly)
{
    serveAPI(kAppReport, appAction());
    serveAPI(kWebHeartbeat, testsupport::wbiSigned(testsupport::fixtureWBIMixinKey(), webAction()));

    AccountFixtures::logInAppAndWeb();
    ActionCalls app;
    client()->reportPlaybackHeartbeatForAID(10, 20, 1700000000, 4, -1, 30, 600, 590, 80, nullptr, app.recorder());
    const auto [appSuccess, appMessage, appData] = app.awaitOne();
    EXPECT_TRUE(appSuccess);
    EXPECT_EQ(appMessage, QStringLiteral("历史已同步"));
    const FakeRequest report = fake.requestsTo(kAppReport).first();
    EXPECT_TRUE(AccountFixtures::verifyAppSignedForm(report));
    EXPECT_EQ(form(report, "progress"), QStringLiteral("-1"));
    EXPECT_EQ(form(report, "access_key"), QStringLiteral("acc-1"));
    EXPECT_EQ(report.header(QStringLiteral("User-Agent")), QStringLiteral("zant-universal/82200200 CFNetwork/811.5.4 Darwin/16.7.0"));
    EXPECT_TRUE(fake.requestsTo(kWebHeartbeat).isEmpty());

    KRSessionStore::sharedStore().clearSession();
    AccountFixtures::logInWebOnly();
    ActionCalls web;
    client()->reportPlaybackHeartbeatForAID(10, 20, 1700000000, 4, -1, 30, 600, 590, 0, nullptr, web.recorder());
    EXPECT_TRUE(std::get<0>(web.awaitOne()));
    const FakeRequest beat = fake.requestsTo(kWebHeartbeat).first();
    EXPECT_EQ(form(beat, "quality"), QStringLiteral("16"));
    EXPECT_EQ(form(beat, "played_time"), QStringLiteral("-1"));
    EXPECT_EQ(form(beat, "last_play_progress_time"), QStringLiteral("590"));
    EXPECT_EQ(form(beat, "extra"), QStringLiteral("{\"player_version\":\"Korvane/0.1\"}"));
    EXPECT_EQ(beat.queryValue(QStringLiteral("w_played_time")), QStringLiteral("-1"));
    EXPECT_EQ(fake.requestsTo(kAppReport).size(), 1);

    // Missing ids or no login answer at once.
    ActionCalls early;
    client()->reportPlaybackHeartbeatForAID(10, 20, 0, 1, 0, 0, 0, 0, 0, nullptr, early.recorder());
    KRSessionStore::sharedStore().clearSession();
    client()->reportPlaybackHeartbeatForAID(10, 20, 1, 1, 0, 0, 0, 0, 0, nullptr, early.recorder());
    ASSERT_EQ(early.calls.size(), 2);
    EXPECT_EQ(std::get<1>(early.calls.at(0)), QStringLiteral("视频历史标识不完整"));
    EXPECT_EQ(std::get<1>(early.calls.at(1)), QStringLiteral("账号未登录"));
}

TEST_F(WritesTest, AFailedAppReportFallsToTheWebOnlyWhileLoggedIn)
{
    serveAPI(kAppReport, AccountFixtures::appSigned([](const FakeRequest&) { return AccountFixtures::refusal(-400, QStringLiteral("坏请求")); }));
    serveAPI(kWebHeartbeat, testsupport::wbiSigned(testsupport::fixtureWBIMixinKey(), webAction()));
    AccountFixtures::logInAppAndWeb();
    ActionCalls calls;
    client()->reportPlaybackHeartbeatForAID(10, 20, 1700000000, 0, -5, -3, 600, 0, 64, nullptr, calls.recorder());
    EXPECT_TRUE(std::get<0>(calls.awaitOne()));
    EXPECT_EQ(form(fake.requestsTo(kAppReport).first(), "progress"), QStringLiteral("0"));
    EXPECT_EQ(form(fake.requestsTo(kWebHeartbeat).first(), "played_time"), QStringLiteral("0"));
    EXPECT_TRUE(runtimeLog().contains(QStringLiteral("phase=fallback from=app to=web aid=10 cid=20 playType=0 code=-400")));

    AccountFixtures::logInAppOnly();
    ActionCalls appOnly;
    client()->reportPlaybackHeartbeatForAID(10, 20, 1700000000, 0, 5, 5, 600, 0, 64, nullptr, appOnly.recorder());
    const auto [success, message, data] = appOnly.awaitOne();
    EXPECT_FALSE(success);
    EXPECT_EQ(message, QStringLiteral("坏请求"));
    EXPECT_EQ(fake.requestsTo(kWebHeartbeat).size(), 1);
}

TEST_F(WritesTest, TheResumePositionIsSignedAndNeedsBothIDs)
{
    ReadCalls early;
    client()->loadPlaybackResumeForAID(10, 0, nullptr, early.recorder());
    ASSERT_EQ(early.calls.size(), 1);
    expectError(std::get<1>(early.calls.first()), -3, QStringLiteral("视频历史标识不完整"));
    AccountFixtures::logInWebOnly();
    serveAPI(QStringLiteral("/x/player/wbi/v2"), testsupport::wbiSigned(testsupport::fixtureWBIMixinKey(), [](const FakeRequest&) {
        return AccountFixtures::ok(QVariantMap{{QStringLiteral("last_play_cid"), 20}, {QStringLiteral("last_play_time"), 91000}});
    }));
    ReadCalls calls;
    client()->loadPlaybackResumeForAID(10, 20, nullptr, calls.recorder());
    const auto [data, error] = calls.awaitOne();
    EXPECT_FALSE(error);
    EXPECT_EQ(data.toMap().value(QStringLiteral("last_play_time")).toLongLong(), 91000);
}

TEST_F(WritesTest, TripleAddsTwoCoinsWithTheLikeThenFavourites)
{
    AccountFixtures::logInWebOnly();
    serveAPI(kCoin, webAction());
    serveAPI(QStringLiteral("/x/v3/fav/folder/created/list-all"), [](const FakeRequest&) {
        return AccountFixtures::ok(QVariantMap{{QStringLiteral("list"), QVariantList{
            QVariantMap{{QStringLiteral("id"), 0}, {QStringLiteral("title"), QStringLiteral("无编号")}},
            QVariantMap{{QStringLiteral("id"), 31}, {QStringLiteral("title"), QStringLiteral("收藏")}},
            QVariantMap{{QStringLiteral("media_id"), 32}, {QStringLiteral("title"), QStringLiteral("默认收藏夹")}, {QStringLiteral("fav_state"), 0}}}}});
    });
    serveAPI(QStringLiteral("/x/v3/fav/resource/deal"), webAction());
    ActionCalls calls;
    client()->tripleForAID(10, QStringLiteral("BV1"), 7, 5, false, 0, 2, false, nullptr, calls.recorder());
    const auto [success, message, data] = calls.awaitOne();
    EXPECT_TRUE(success) << message.toStdString();
    EXPECT_EQ(data.toMap(), (QVariantMap{{QStringLiteral("like"), 1}, {QStringLiteral("coin"), 2}, {QStringLiteral("favorite"), 1},
                                         {QStringLiteral("multiply"), 2}}));
    ASSERT_EQ(fake.requestsTo(kCoin).size(), 1);
    EXPECT_EQ(form(fake.requestsTo(kCoin).first(), "multiply"), QStringLiteral("2"));
    EXPECT_EQ(form(fake.requestsTo(kCoin).first(), "select_like"), QStringLiteral("1"));
    EXPECT_TRUE(fake.requestsTo(kCoin).first().header(QStringLiteral("Cookie")).contains(QStringLiteral("buvid3=B3-fixture")));
    const FakeRequest deal = fake.requestsTo(QStringLiteral("/x/v3/fav/resource/deal")).first();
    EXPECT_EQ(form(deal, "add_media_ids"), QStringLiteral("32"));
    EXPECT_EQ(form(deal, "del_media_ids"), QString(QLatin1String("")));
    EXPECT_TRUE(fake.requestsTo(QStringLiteral("/x/web-interface/archive/like")).isEmpty());
}

TEST_F(WritesTest, AWebCoinWithoutTheDeviceCookiesIsNotSent)
{
    AccountFixtures::logInWebOnly();
    AccountFixtures::routeRiskCookies(fake, false);
    serveAPI(kCoin, webAction());
    ActionCalls calls;
    client()->addCoinForAID(10, 1, true, nullptr, calls.recorder());
    const auto [success, message, data] = calls.awaitOne();
    EXPECT_FALSE(success);
    EXPECT_TRUE(message.startsWith(QStringLiteral("浏览器设备标识未就绪："))) << message.toStdString();
    EXPECT_TRUE(fake.requestsTo(kCoin).isEmpty());
}

TEST_F(WritesTest, AWebLikeRefusedWithoutAChallengeAsksTheRelation)
{
    AccountFixtures::logInWebOnly();
    serveAPI(QStringLiteral("/x/web-interface/archive/like"),
             AccountFixtures::csrfChecked([](const FakeRequest&) { return AccountFixtures::refusal(65006, QStringLiteral("已赞过")); }));
    serveAPI(QStringLiteral("/x/web-interface/archive/relation"), [](const FakeRequest&) {
        return AccountFixtures::ok(QVariantMap{{QStringLiteral("like"), true}});
    });
    ActionCalls calls;
    client()->setLike(true, 10, nullptr, calls.recorder());
    const auto [success, message, data] = calls.awaitOne();
    EXPECT_TRUE(success);
    EXPECT_EQ(message, QStringLiteral("操作成功"));
    const FakeRequest like = fake.requestsTo(QStringLiteral("/x/web-interface/archive/like")).first();
    EXPECT_EQ(form(like, "like"), QStringLiteral("1"));
    EXPECT_EQ(like.header(QStringLiteral("Referer")), QStringLiteral("https://%1/video/av10").arg(KRServiceHosts::webHost()));
}

TEST_F(WritesTest, AnAppLikeOrCoinThatClearsTheTokenIsRepeatedOnTheWeb)
{
    struct Case {
        const char* name;
        QString appPath, webPath;
        std::function<void(KRAccountActionResult)> call;
        const char* field;
        QString appValue, webValue;
    };
    const QList<Case> cases{
        {"unlike", QStringLiteral("/x/v2/view/like"), QStringLiteral("/x/web-interface/archive/like"),
         [](auto done) { client()->setLike(false, 10, nullptr, done); }, "like", QStringLiteral("1"), QStringLiteral("2")},
        {"coin", QStringLiteral("/x/v2/view/coin/add"), kCoin, [](auto done) { client()->addCoinForAID(10, QStringLiteral("BV1"), 2, true, nullptr, done); },
         "multiply", QStringLiteral("2"), QStringLiteral("2")},
    };
    serve(KRServiceHosts::passportHost(), QStringLiteral("/api/v2/oauth2/refresh_token"),
          [](const FakeRequest&) { return AccountFixtures::refusal(-101, QString()); });
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        AccountFixtures::logInAppAndWeb();
        serve(KRServiceHosts::appHost(), item.appPath, [](const FakeRequest&) { return AccountFixtures::refusal(-101, QString()); });
        serveAPI(item.webPath, webAction());
        ActionCalls calls;
        item.call(calls.recorder());
        const auto [success, message, data] = calls.awaitOne();
        EXPECT_TRUE(success) << message.toStdString();
        ASSERT_EQ(fake.requestsTo(item.appPath).size(), 1) << "a refresh that fails repeats nothing";
        ASSERT_EQ(fake.requestsTo(item.webPath).size(), 1);
        EXPECT_EQ(form(fake.requestsTo(item.appPath).first(), item.field), item.appValue);
        EXPECT_EQ(form(fake.requestsTo(item.webPath).first(), item.field), item.webValue);
    }
    EXPECT_TRUE(runtimeLog().contains(QStringLiteral("aid=10 multiply=2 alsoLike=YES authFallback=app-invalid-to-web")));
}

TEST_F(WritesTest, AWebCoinRefusedByTheRiskControlSaysNoCoinWasSpent)
{
    AccountFixtures::logInWebOnly();
    struct Case {
        const char* name;
        FakeReply reply;
        QString message;
    };
    const QVariantMap voucher{{QStringLiteral("v_voucher"), QStringLiteral("voucher-9")}};
    const QList<Case> cases{
        {"challenge", AccountFixtures::refusal(-401, QString(), voucher), QStringLiteral("已收到岚帆视频安全验证挑战；本次没有消耗硬币")},
        {"no challenge", AccountFixtures::refusal(-401, QStringLiteral("非法访问")),
         QStringLiteral("服务器要求安全验证，但没有返回验证入口；本次没有消耗硬币")},
        {"refused", AccountFixtures::refusal(-403, QStringLiteral("访问权限不足")), QStringLiteral("账号风控直接拒绝；本次没有消耗硬币，请稍后再试")},
        {"other", AccountFixtures::refusal(34005, QStringLiteral("超过投币上限啦~")), QStringLiteral("超过投币上限啦~（错误码 34005）")},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        serveAPI(kCoin, AccountFixtures::csrfChecked([reply = item.reply](const FakeRequest&) { return reply; }));
        ActionCalls calls;
        client()->addCoinForAID(10, false, nullptr, calls.recorder());
        const auto [success, message, data] = calls.awaitOne();
        EXPECT_FALSE(success);
        EXPECT_EQ(message, item.message) << message.toStdString();
        EXPECT_EQ(data.toMap().value(QStringLiteral("server_code")).toLongLong(), KRJSONParse(item.reply.body).toMap().value(QStringLiteral("code")).toLongLong());
    }
}

TEST_F(WritesTest, FollowWatchLaterAndNewFolderSendTheirForms)
{
    AccountFixtures::logInWebOnly();
    struct Case {
        const char* name;
        std::function<void(KRAccountActionResult)> call;
        QString path;
        QVariantMap fields;
    };
    const QList<Case> cases{
        {"follow", [](auto done) { client()->setFollowing(true, 77, nullptr, done); }, QStringLiteral("/x/relation/modify"),
         {{QStringLiteral("fid"), QStringLiteral("77")}, {QStringLiteral("act"), QStringLiteral("1")}, {QStringLiteral("re_src"), QStringLiteral("14")}}},
        {"unfollow", [](auto done) { client()->setFollowing(false, 77, nullptr, done); }, QStringLiteral("/x/relation/modify"),
         {{QStringLiteral("act"), QStringLiteral("2")}}},
        {"watch later", [](auto done) { client()->addWatchLaterForAID(10, nullptr, done); }, QStringLiteral("/x/v2/history/toview/add"),
         {{QStringLiteral("aid"), QStringLiteral("10")}}},
        {"watched", [](auto done) { client()->removeWatchLaterForAID(10, nullptr, done); }, QStringLiteral("/x/v2/history/toview/del"),
         {{QStringLiteral("aid"), QStringLiteral("10")}}},
        {"new folder", [](auto done) { client()->createFavoriteFolderWithTitle(QStringLiteral(" 稍后 \n"), true, nullptr, done); },
         QStringLiteral("/x/v3/fav/folder/add"),
         {{QStringLiteral("title"), QStringLiteral("稍后")}, {QStringLiteral("intro"), QString(QLatin1String(""))}, {QStringLiteral("privacy"), QStringLiteral("1")}}},
    };
    const QVariantMap answer{{QStringLiteral("id"), 31}};
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        serveAPI(item.path, webAction(answer));
        ActionCalls calls;
        item.call(calls.recorder());
        const auto [success, message, data] = calls.awaitOne();
        EXPECT_TRUE(success) << message.toStdString();
        EXPECT_EQ(message, QStringLiteral("操作成功"));
        EXPECT_EQ(data.toMap(), answer);
        const FakeRequest sent = fake.requestsTo(item.path).last();
        EXPECT_EQ(sent.method, QStringLiteral("POST"));
        for (auto field = item.fields.begin(); field != item.fields.end(); ++field)
            EXPECT_EQ(AccountFixtures::formValue(sent, field.key()), field.value().toString()) << field.key().toStdString();
    }
}

TEST_F(WritesTest, WithoutTheWebSignatureHeartbeatAndDanmakuFailAndResumeReadsUnsigned)
{
    AccountFixtures::logInWebOnly();
    fake.route(QStringLiteral("*"), QStringLiteral("/x/web-interface/nav"), [](const FakeRequest&) { return FakeReply::withStatus(503); });
    serveAPI(kWebHeartbeat, webAction());
    serveAPI(QStringLiteral("/x/v2/dm/post"), webAction());
    serveAPI(QStringLiteral("/x/player/v2"), [](const FakeRequest&) { return AccountFixtures::ok(QVariantMap{{QStringLiteral("last_play_time"), 5000}}); });

    ActionCalls heartbeat;
    client()->reportPlaybackHeartbeatForAID(10, 20, 1700000000, 0, 5, 5, 600, 0, 64, nullptr, heartbeat.recorder());
    const auto [beatSent, beatMessage, beatData] = heartbeat.awaitOne();
    EXPECT_FALSE(beatSent);
    EXPECT_TRUE(beatMessage.startsWith(QStringLiteral("历史心跳签名失败（503）: "))) << beatMessage.toStdString();
    ActionCalls danmaku;
    client()->postDanmaku(QStringLiteral("前排"), 20, 10, 0, nullptr, danmaku.recorder());
    const auto [danmakuSent, danmakuMessage, danmakuData] = danmaku.awaitOne();
    EXPECT_FALSE(danmakuSent);
    EXPECT_TRUE(danmakuMessage.startsWith(QStringLiteral("弹幕签名失败（503）: "))) << danmakuMessage.toStdString();
    EXPECT_TRUE(fake.requestsTo(kWebHeartbeat).isEmpty());
    EXPECT_TRUE(fake.requestsTo(QStringLiteral("/x/v2/dm/post")).isEmpty());

    ReadCalls resume;
    client()->loadPlaybackResumeForAID(10, 20, nullptr, resume.recorder());
    const auto [data, error] = resume.awaitOne();
    EXPECT_FALSE(error);
    EXPECT_EQ(data.toMap().value(QStringLiteral("last_play_time")).toLongLong(), 5000);
    ASSERT_EQ(fake.requestsTo(QStringLiteral("/x/player/v2")).size(), 1);
    const FakeRequest sent = fake.requestsTo(QStringLiteral("/x/player/v2")).first();
    EXPECT_EQ(sent.query, QStringLiteral("aid=10&cid=20"));
    EXPECT_TRUE(sent.header(QStringLiteral("Cookie")).contains(QStringLiteral("SESSDATA=")));
    EXPECT_TRUE(fake.requestsTo(QStringLiteral("/x/player/wbi/v2")).isEmpty());
}

TEST_F(WritesTest, FavouriteDealsAndFoldersCheckTheirInput)
{
    EXPECT_EQ(KRAccountJoinedFavoriteMediaIDs({QStringLiteral("3"), 3, 0, QStringLiteral("x"), 5}), QStringLiteral("3,5"));
    EXPECT_EQ(KRAccountFavoriteMediaID(QVariantMap{{QStringLiteral("id"), 0}, {QStringLiteral("media_id"), 9}}), std::optional<qint64>(9));
    EXPECT_EQ(KRAccountFavoriteMediaID(QVariantList{}), std::nullopt);
    AccountFixtures::logInWebOnly();
    ActionCalls calls;
    client()->updateFavoriteForAID(10, {0, QStringLiteral("x")}, {}, nullptr, calls.recorder());
    client()->createFavoriteFolderWithTitle(QStringLiteral(" \n"), false, nullptr, calls.recorder());
    client()->updateFavoriteForAID(0, {1}, {}, nullptr, calls.recorder());
    ASSERT_EQ(calls.calls.size(), 3);
    EXPECT_EQ(calls.calls.at(0), std::make_tuple(true, QStringLiteral("收藏夹没有变化"), QVariant(QVariantMap())));
    EXPECT_EQ(std::get<1>(calls.calls.at(1)), QStringLiteral("收藏夹名称不能为空"));
    EXPECT_EQ(std::get<1>(calls.calls.at(2)), QStringLiteral("视频编号尚未解析"));
    EXPECT_TRUE(fake.requests().isEmpty());
}

TEST_F(WritesTest, PicturesUploadOneAfterAnotherWithTheirOwnBoundary)
{
    AccountFixtures::logInWebOnly();
    serveAPI(kUpload, [](const FakeRequest& request) {
        // The server reads the body with the header's boundary: parts arrive only when both agree.
        const QString type = request.header(QStringLiteral("Content-Type"));
        const QString boundary = type.section(QStringLiteral("boundary="), 1);
        QMap<QString, testsupport::FakeFormPart> parts;
        for (const testsupport::FakeFormPart& part : request.formParts)
            parts.insert(part.name, part);
        const bool framed = type.startsWith(QLatin1String("multipart/form-data; boundary="))
            && QRegularExpression(QStringLiteral("^----Korvane\\d+$")).match(boundary).hasMatch() && parts.size() == 4
            && parts.value(QStringLiteral("biz")).content == "new_dyn" && parts.value(QStringLiteral("category")).content == "daily"
            && parts.value(QStringLiteral("csrf")).content == "c5rf"
            && parts.value(QStringLiteral("file_up")).filename == QLatin1String("korvane.jpg")
            && parts.value(QStringLiteral("file_up")).contentType == QLatin1String("image/jpeg")
            && parts.value(QStringLiteral("file_up")).content.startsWith("\xFF\xD8\xFF");
        if (!framed)
            return AccountFixtures::refusal(-400, QStringLiteral("bad multipart"));
        return AccountFixtures::ok(QVariantMap{{QStringLiteral("image_url"), QStringLiteral("https://i/%1.jpg").arg(boundary)},
                                               {QStringLiteral("size"), parts.value(QStringLiteral("file_up")).content.size()}});
    });
    QList<QByteArray> images;
    for (int i = 0; i < 12; ++i)
        images.append(jpeg(i));
    RecordCalls calls;
    client()->uploadCommentImages(images, nullptr, calls.recorder());
    const auto [records, error] = calls.awaitOne();
    EXPECT_FALSE(error);
    ASSERT_TRUE(records);
    EXPECT_EQ(records->size(), 9);
    const QList<FakeRequest> sent = fake.requestsTo(kUpload);
    ASSERT_EQ(sent.size(), 9);
    EXPECT_NE(sent.at(0).header(QStringLiteral("Content-Type")), sent.at(1).header(QStringLiteral("Content-Type")));
    EXPECT_EQ(sent.at(8).formParts.size(), 4);
    for (const testsupport::FakeFormPart& part : sent.at(8).formParts) {
        if (part.name == QLatin1String("file_up")) {
            EXPECT_EQ(part.content, jpeg(8));
        }
    }
    EXPECT_FALSE(sent.at(0).headers.contains(QStringLiteral("Sec-Fetch-Mode")));
    EXPECT_EQ(sent.at(0).header(QStringLiteral("Origin")), QStringLiteral("https://") + KRServiceHosts::webHost());

    RecordCalls none;
    client()->uploadCommentImages({QByteArray()}, nullptr, none.recorder());
    ASSERT_EQ(none.calls.size(), 1);
    EXPECT_EQ(std::get<0>(none.calls.first()), std::optional<QVariantList>(QVariantList()));
}

// An answer that carries nothing to read is told as a failed upload; the service's own
// refusal reaches the composer in its words, whatever its code (its -2 included), and so
// does the sequence the composers upload with, which stops there.
TEST_F(WritesTest, AnUploadWithoutARecordFailsAndARefusalKeepsTheServicesWords)
{
    ReadCalls refused;
    client()->uploadCommentImage(jpeg(0), nullptr, refused.recorder());
    AccountFixtures::logInWebOnly();
    client()->uploadCommentImage(QByteArray("GIF89a not a jpeg"), nullptr, refused.recorder());
    ASSERT_EQ(refused.calls.size(), 2);
    expectError(std::get<1>(refused.calls.at(0)), -101, QStringLiteral("请先登录并选择图片"));
    expectError(std::get<1>(refused.calls.at(1)), -2, QStringLiteral("图片无法读取"));

    struct Case {
        const char* name;
        FakeReply reply;
        qint64 code;
        QString message;
    };
    const QList<Case> cases{
        {"empty body", FakeReply::withStatus(200), -2, QStringLiteral("图片上传失败")},
        {"not an object", FakeReply::json(QByteArray("[1]")), -2, QStringLiteral("图片上传失败")},
        {"HTTP failure", FakeReply::withStatus(503), 503, QStringLiteral("服务器返回 HTTP 503，请稍后重试")},
        {"the service's -2", AccountFixtures::refusal(-2, QStringLiteral("图片尺寸过大")), -2, QStringLiteral("图片尺寸过大")},
        {"another refusal", AccountFixtures::refusal(-400, QStringLiteral("图片格式不支持")), -400, QStringLiteral("图片格式不支持")},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        serveAPI(kUpload, [reply = item.reply](const FakeRequest&) { return reply; });
        ReadCalls calls;
        client()->uploadCommentImage(jpeg(1), nullptr, calls.recorder());
        const auto [data, error] = calls.awaitOne();
        expectError(error, item.code, item.message);
        EXPECT_FALSE(data.isValid());
        RecordCalls sequence;
        client()->uploadCommentImages({jpeg(1), jpeg(2)}, nullptr, sequence.recorder());
        const auto [records, sequenceError] = sequence.awaitOne();
        EXPECT_FALSE(records);
        expectError(sequenceError, item.code, item.message);
    }
    serveAPI(kUpload, [](const FakeRequest&) { return FakeReply::json(QByteArray("{\"code\":0,")); });
    ReadCalls broken;
    client()->uploadCommentImage(jpeg(1), nullptr, broken.recorder());
    const auto [data, error] = broken.awaitOne();
    ASSERT_TRUE(error);
    EXPECT_NE(error->domain(), KRAccountErrorDomain); // the JSON reader's own
}

TEST_F(WritesTest, CommentsAndDanmakuSendTheirFields)
{
    AccountFixtures::logInWebOnly();
    serveAPI(QStringLiteral("/x/v2/reply/add"), webAction());
    serveAPI(QStringLiteral("/x/v2/dm/post"), testsupport::wbiSigned(testsupport::fixtureWBIMixinKey(),
                                                                      webAction(QVariantMap{{QStringLiteral("dmid_str"), QStringLiteral("555")}})));
    ActionCalls calls;
    client()->postComment(QStringLiteral("好"), 10, 0, 0, 0, {QStringLiteral("https://i/1.jpg"), QString()}, nullptr, calls.recorder());
    client()->postComment(QStringLiteral("回"), 10, 11, 10, 12, {QStringLiteral("https://i/1.jpg")}, nullptr, calls.recorder());
    KR_WAIT_UNTIL(calls.calls.size() == 2);
    const QList<FakeRequest> posts = fake.requestsTo(QStringLiteral("/x/v2/reply/add"));
    ASSERT_EQ(posts.size(), 2);
    const FakeRequest top = form(posts.at(0), "root").isNull() ? posts.at(0) : posts.at(1);
    const FakeRequest reply = form(posts.at(0), "root").isNull() ? posts.at(1) : posts.at(0);
    EXPECT_EQ(form(top, "type"), QStringLiteral("1"));
    EXPECT_EQ(form(top, "pictures"), QStringLiteral("[{\"img_src\":\"https://i/1.jpg\"}]"));
    EXPECT_EQ(form(reply, "type"), QStringLiteral("11"));
    EXPECT_TRUE(form(reply, "pictures").isNull());
    EXPECT_EQ(form(reply, "parent"), QStringLiteral("12"));

    ActionCalls danmaku;
    client()->postDanmaku(QStringLiteral("前排"), 20, 10, -300, nullptr, danmaku.recorder());
    EXPECT_TRUE(std::get<0>(danmaku.awaitOne()));
    const FakeRequest sent = fake.requestsTo(QStringLiteral("/x/v2/dm/post")).first();
    EXPECT_EQ(form(sent, "progress"), QStringLiteral("0"));
    EXPECT_EQ(form(sent, "oid"), QStringLiteral("20"));
    EXPECT_EQ(sent.queryValue(QStringLiteral("web_location")), QStringLiteral("1315873"));
    ActionCalls early;
    client()->postDanmaku(QStringLiteral("x"), 0, 10, 0, nullptr, early.recorder());
    ASSERT_EQ(early.calls.size(), 1);
    EXPECT_EQ(std::get<1>(early.calls.first()), QStringLiteral("弹幕视频标识尚未解析"));
}

} // namespace

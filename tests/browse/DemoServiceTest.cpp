// The demo service as scripts/run uses it: a process of its own whose two printed lines are all
// the clients need to browse it, and which stops cleanly on either stop signal.

#include "account/KRAccountClient.h"
#include "images/KRImageLoader.h"
#include "model/KRServiceHosts.h"
#include "model/KRComment.h"
#include "model/KRCommentPage.h"
#include "model/KRVideo.h"
#include "platform/net/HTTPExchange.h"
#include "platform/net/NetworkSeams.h"
#include "service/KRAPIClient.h"
#include "store/KRSessionStore.h"
#include "support/ImageFixtures.h"
#include "support/ServiceFixtures.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QUrlQuery>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <csignal>
#include <functional>
#include <memory>

using namespace testsupport;

namespace {

class DemoServiceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        previousConnectTo = platform::NetworkSeams::connectTo();
        previousCAFile = platform::NetworkSeams::extraCAFile();
    }
    void TearDown() override
    {
        platform::NetworkSeams::setConnectTo(previousConnectTo);
        platform::NetworkSeams::setExtraCAFile(previousCAFile);
        if (demo && demo->state() != QProcess::NotRunning) {
            demo->kill();
            demo->waitForFinished();
        }
    }

    // Starts the service as scripts/run does (or with `arguments`) and reads its two lines;
    // false (with the reason) when it cannot.
    ::testing::AssertionResult start(const QStringList& arguments = {})
    {
        demo = std::make_unique<QProcess>();
        demo->start(QStringLiteral(KORVANE_DEMO_SERVICE), arguments);
        QByteArray printed;
        const bool twoLines = waitUntil([&] {
            printed += demo->readAllStandardOutput();
            return printed.count('\n') >= 2 || demo->state() == QProcess::NotRunning;
        });
        const QStringList lines = QString::fromLocal8Bit(printed).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        if (!twoLines || lines.size() != 2)
            return ::testing::AssertionFailure() << "printed: " << printed.toStdString();
        if (!lines[0].startsWith(QLatin1String("KORVANE_CONNECT_TO=")) || !lines[1].startsWith(QLatin1String("KORVANE_CA_FILE=")))
            return ::testing::AssertionFailure() << "printed: " << printed.toStdString();
        connectTo = lines[0].mid(QStringLiteral("KORVANE_CONNECT_TO=").size());
        caFile = lines[1].mid(QStringLiteral("KORVANE_CA_FILE=").size());
        return ::testing::AssertionSuccess();
    }

    // Sends a stop signal and waits for the process to end; its standard error.
    QString stop(int signal)
    {
        ::kill(pid_t(demo->processId()), signal);
        waitUntil([&] { return demo->state() == QProcess::NotRunning; });
        return QString::fromLocal8Bit(demo->readAllStandardError());
    }

    KRVideoList videos(const std::function<void(QObject*, KRVideoListCompletion)>& load)
    {
        std::optional<KRVideoList> result;
        load(nullptr, [&](const KRVideoList& list, const KROptionalError& error) {
            EXPECT_FALSE(error.has_value()) << (error ? error->message().toStdString() : std::string());
            result = list;
        });
        EXPECT_TRUE(waitUntil([&] { return result.has_value(); }));
        return result.value_or(KRVideoList());
    }

    // The detail the video page loads for a row.
    std::shared_ptr<KRVideo> detail(const std::shared_ptr<KRVideo>& row)
    {
        std::shared_ptr<KRVideo> loaded;
        bool answered = false;
        KRAPIClient::sharedClient()->loadDetailForVideo(row, nullptr, [&](const std::shared_ptr<KRVideo>& video, const KROptionalError& error) {
            EXPECT_FALSE(error.has_value()) << (error ? error->message().toStdString() : std::string());
            loaded = video;
            answered = true;
        });
        EXPECT_TRUE(waitUntil([&] { return answered; }));
        return loaded;
    }

    // A read of the account client's; its data.
    QVariantMap accountRead(const std::function<void(QObject*, KRAccountReadCompletion)>& read)
    {
        QVariant data;
        bool answered = false;
        read(nullptr, [&](const QVariant& value, const KROptionalError& error) {
            EXPECT_FALSE(error.has_value()) << (error ? error->message().toStdString() : std::string());
            data = value;
            answered = true;
        });
        EXPECT_TRUE(waitUntil([&] { return answered; }));
        return data.toMap();
    }

    std::shared_ptr<KRCommentPage> comments(qint64 oid, qint32 type)
    {
        std::shared_ptr<KRCommentPage> page;
        bool answered = false;
        KRAPIClient::sharedClient()->loadCommentsForOID(oid, type, 1, nullptr, [&](const std::shared_ptr<KRCommentPage>& loaded, const KROptionalError& error) {
            EXPECT_FALSE(error.has_value()) << (error ? error->message().toStdString() : std::string());
            page = loaded;
            answered = true;
        });
        EXPECT_TRUE(waitUntil([&] { return answered; }));
        return page;
    }

    // The danmaku lines a part serves.
    qint64 danmakuLines(qint64 cid)
    {
        platform::HTTPResponse response;
        runOnWorkerThread([&] {
            platform::HTTPRequest request;
            request.url = QStringLiteral("https://%1/%2.xml").arg(KRServiceHosts::commentHost()).arg(cid);
            response = platform::performHTTPExchange(request);
        });
        EXPECT_EQ(response.status, 200) << cid;
        return response.body.count("<d p=");
    }

    // The "data" of an API route's answer to `pathAndQuery`.
    static QVariant apiData(const QString& pathAndQuery)
    {
        platform::HTTPResponse response;
        runOnWorkerThread([&] {
            platform::HTTPRequest request;
            request.url = QStringLiteral("https://%1%2").arg(KRServiceHosts::apiHost(), pathAndQuery);
            response = platform::performHTTPExchange(request);
        });
        return QJsonDocument::fromJson(response.body).toVariant().toMap().value(QStringLiteral("data"));
    }

    // The play information the page asks for a part at `quality`, by the DASH road or the file's.
    QVariantMap playInfo(qint64 aid, qint64 cid, qint32 quality, bool dash)
    {
        return apiData(QStringLiteral("/x/player/playurl?avid=%1&cid=%2&qn=%3&fnval=%4").arg(aid).arg(cid).arg(quality).arg(dash ? 16 : 0))
            .toMap();
    }

    // The picture's address of `quality` in a play information: its DASH stream or its file.
    static QString pictureURL(const QVariantMap& info, qint32 quality)
    {
        for (const QVariant& stream : info.value(QStringLiteral("dash")).toMap().value(QStringLiteral("video")).toList())
            if (stream.toMap().value(QStringLiteral("id")).toInt() == quality)
                return stream.toMap().value(QStringLiteral("base_url")).toString();
        return info.value(QStringLiteral("durl")).toList().value(0).toMap().value(QStringLiteral("url")).toString();
    }

    // Fetches a medium into `folder`; its width and height as ffprobe reads them (empty when
    // either step fails).
    QSize fetchPicture(const QString& url, const QString& file)
    {
        platform::HTTPResponse media;
        runOnWorkerThread([&] {
            platform::HTTPRequest request;
            request.url = url;
            media = platform::performHTTPExchange(request);
        });
        EXPECT_EQ(media.status, 200) << url.toStdString();
        QFile out(file);
        if (media.status != 200 || !out.open(QIODevice::WriteOnly))
            return {};
        out.write(media.body);
        out.close();
        QProcess probe;
        probe.start(QStringLiteral("ffprobe"), {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-select_streams"), QStringLiteral("v:0"),
                                                QStringLiteral("-show_entries"), QStringLiteral("stream=width,height"), QStringLiteral("-of"),
                                                QStringLiteral("csv=p=0"), file});
        EXPECT_TRUE(probe.waitForFinished(30000));
        const QStringList size = QString::fromLatin1(probe.readAllStandardOutput()).trimmed().split(QLatin1Char(','));
        return size.size() == 2 ? QSize(size[0].toInt(), size[1].toInt()) : QSize();
    }

    // Every quality a part offers comes back as itself, by the road the page takes to it (DASH
    // from 1080P up, the file below), and its picture is at that quality.
    void expectEveryQualityAsOffered(qint64 aid, qint64 cid, const QString& folder)
    {
        const QVariantList offered = playInfo(aid, cid, 80, true).value(QStringLiteral("accept_quality")).toList();
        EXPECT_EQ(playInfo(aid, cid, 16, false).value(QStringLiteral("accept_quality")).toList(), offered) << "both roads offer the same";
        ASSERT_TRUE(offered.contains(80)) << "the page's DASH road is reachable";
        static const QMap<qint32, int> heights{{16, 360}, {32, 480}, {64, 720}, {80, 1080}, {112, 1080}, {116, 1080}, {120, 2160}};
        for (const QVariant& value : offered) {
            const qint32 quality = value.toInt();
            const QVariantMap info = playInfo(aid, cid, quality, quality >= 80);
            EXPECT_EQ(info.value(QStringLiteral("quality")).toInt(), quality) << aid;
            const QString url = pictureURL(info, quality);
            ASSERT_FALSE(url.isEmpty()) << aid << " " << quality;
            const QSize size = fetchPicture(url, QStringLiteral("%1/%2-q%3.mp4").arg(folder).arg(aid).arg(quality));
            EXPECT_EQ(size.height(), heights.value(quality)) << aid << " " << quality;
        }
    }

    // Signs in as a newcomer does, by the QR login the demo's passport confirms at the third poll.
    void signIn()
    {
        QString code;
        KRAccountClient::sharedClient()->generateLoginQRCode(nullptr, [&](const QVariantMap& info, const KROptionalError&) {
            code = info.value(QStringLiteral("qrcode_key")).toString();
        });
        KR_WAIT_UNTIL(!code.isEmpty());
        for (int i = 0; i < 3; ++i) {
            bool answered = false;
            KRAccountClient::sharedClient()->pollLoginQRCodeKey(code, nullptr, [&](const QVariantMap&, const KROptionalError&) { answered = true; });
            KR_WAIT_UNTIL(answered);
        }
        ASSERT_TRUE(KRSessionStore::sharedStore().isLoggedIn());
    }

    std::unique_ptr<QProcess> demo;
    QString connectTo;
    QString caFile;
    QStringList previousConnectTo;
    QString previousCAFile;
};

TEST_F(DemoServiceTest, ItsPrintedLinesAreAllTheClientsNeedToBrowseIt)
{
    ASSERT_TRUE(start());
    // Every entry in libcurl's form, and every host the clients ask for among them.
    const QStringList entries = connectTo.split(QLatin1Char(','));
    static const QRegularExpression form(QStringLiteral("^[a-z0-9.-]+:(443|80):127\\.0\\.0\\.1:\\d+$"));
    for (const QString& entry : entries)
        EXPECT_TRUE(form.match(entry).hasMatch()) << entry.toStdString();
    for (const QString& host : KRServiceHosts::allServiceHosts())
        EXPECT_TRUE(connectTo.contains(host + QStringLiteral(":443:"))) << host.toStdString();
    EXPECT_TRUE(QFileInfo(caFile).isFile());

    platform::NetworkSeams::setConnectTo(entries);
    platform::NetworkSeams::setExtraCAFile(caFile);
    KRAPIClient* client = KRAPIClient::sharedClient();
    const KRVideoList first = videos([&](QObject* o, KRVideoListCompletion c) { client->loadRecommendedHomePage(1, o, c); });
    const KRVideoList second = videos([&](QObject* o, KRVideoListCompletion c) { client->loadRecommendedHomePage(2, o, c); });
    ASSERT_GE(first.size(), 10);
    ASSERT_GE(second.size(), 10);
    EXPECT_NE(first.first()->aid(), second.first()->aid());
    EXPECT_FALSE(videos([&](QObject* o, KRVideoListCompletion c) { client->loadHomePage(1, o, c); }).isEmpty());
    EXPECT_FALSE(videos([&](QObject* o, KRVideoListCompletion c) { client->loadSection(17, 1, o, c); }).isEmpty());
    EXPECT_FALSE(videos([&](QObject* o, KRVideoListCompletion c) { client->loadPGCSection(1, 1, o, c); }).isEmpty());
    EXPECT_FALSE(videos([&](QObject* o, KRVideoListCompletion c) { client->search(QStringLiteral("猫"), 1, o, c); }).isEmpty());

    // The owner of a video on the home feed has videos of their own, all theirs.
    const std::shared_ptr<KRVideo> video = first.first();
    const KRVideoList uploads = videos([&](QObject* o, KRVideoListCompletion c) {
        client->loadUploaderVideosForMID(video->ownerMID(), video->ownerName(), 1, o, c);
    });
    ASSERT_FALSE(uploads.isEmpty());
    EXPECT_EQ(uploads.first()->ownerMID(), video->ownerMID());

    // Its cover and its owner's avatar come from the image hosts, at the size asked for.
    KRImageLoader loader;
    platform::uikit::Image cover;
    platform::uikit::Image avatar;
    int answered = 0;
    loader.loadImageForURLString(video->coverURL(), nullptr, [&](const platform::uikit::Image& image) { cover = image; ++answered; });
    loader.loadImageForURLString(ImageFixtures::avatarAddress(QString::number(video->ownerMID())), nullptr, [&](const platform::uikit::Image& image) { avatar = image; ++answered; });
    KR_WAIT_UNTIL(answered == 2);
    EXPECT_EQ(cover.image().size(), QSize(336, 204));
    EXPECT_EQ(avatar.image().size(), QSize(64, 64));

    // The login screen gets a code to show, and a new one for each refresh; each is scanned at its
    // second poll and confirmed at its third, as if by a phone, into the demo account.
    QStringList codes;
    for (int i = 0; i < 2; ++i)
        KRAccountClient::sharedClient()->generateLoginQRCode(nullptr, [&](const QVariantMap& info, const KROptionalError& error) {
            codes << (error ? QStringLiteral("error") : info.value(QStringLiteral("qrcode_key")).toString());
        });
    KR_WAIT_UNTIL(codes.size() == 2);
    codes.sort();  // the two requests may answer in either order
    EXPECT_EQ(codes, (QStringList{"code-1", "code-2"}));
    QList<qint64> stages;
    for (int i = 0; i < 3; ++i) {
        QVariantMap poll;
        KRAccountClient::sharedClient()->pollLoginQRCodeKey(QStringLiteral("code-2"), nullptr,
                                                            [&](const QVariantMap& result, const KROptionalError&) { poll = result; });
        KR_WAIT_UNTIL(!poll.isEmpty());
        stages << poll.value(QStringLiteral("code")).toLongLong();
    }
    EXPECT_EQ(stages, (QList<qint64>{86039, 86090, 0}));
    EXPECT_TRUE(KRSessionStore::sharedStore().isLoggedIn());
    QVariant account;
    KRAccountClient::sharedClient()->loadCurrentAccount(nullptr, [&](const QVariant& data, const KROptionalError& error) {
        EXPECT_FALSE(error.has_value());
        account = data;
    });
    KR_WAIT_UNTIL(account.isValid());
    EXPECT_EQ(account.toMap().value(QStringLiteral("mid")).toLongLong(), 4242);
    EXPECT_EQ(account.toMap().value(QStringLiteral("uname")).toString(), QStringLiteral("演示账号"));
    KRSessionStore::sharedStore().clearSession();

    // Its log names each request without its query, where a session's token could travel.
    const QString log = stop(SIGTERM);
    EXPECT_EQ(demo->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(demo->exitCode(), 0);
    EXPECT_TRUE(log.contains(QStringLiteral("GET ") + KRServiceHosts::apiHost() + QStringLiteral("/x/web-interface/wbi/index/top/feed/rcmd\n")))
        << log.toStdString();
    EXPECT_FALSE(log.contains(QLatin1Char('?'))) << log.toStdString();
    EXPECT_TRUE(log.endsWith(QStringLiteral("[demo-service] stopped\n")));
    EXPECT_FALSE(QFileInfo::exists(caFile));
}

TEST_F(DemoServiceTest, ItsCatalogueReadsLikeAShelfAndSearchHonoursEachOrder)
{
    ASSERT_TRUE(start());
    platform::NetworkSeams::setConnectTo(connectTo.split(QLatin1Char(',')));
    platform::NetworkSeams::setExtraCAFile(caFile);
    KRAPIClient* client = KRAPIClient::sharedClient();

    // Each order of the search screen gets the same hits in its own order.
    auto search = [&](const QString& order) {
        KRVideoList all;
        for (int page = 1; page <= 6; ++page)
            all += videos([&](QObject* o, KRVideoListCompletion c) { client->search(QStringLiteral("咖啡"), page, order, o, c); });
        return all;
    };
    auto aids = [](const KRVideoList& list) {
        QList<qint64> out;
        for (const auto& video : list)
            out << video->aid();
        return out;
    };
    const KRVideoList comprehensive = search(QString());
    ASSERT_EQ(comprehensive.size(), 57);
    QList<qint64> everyHit = aids(comprehensive);
    std::sort(everyHit.begin(), everyHit.end());
    const QList<std::pair<QString, std::function<double(const KRVideo&)>>> orders{
        {QStringLiteral("pubdate"), [](const KRVideo& v) { return v.publishTimestamp(); }},
        {QStringLiteral("click"), [](const KRVideo& v) { return double(v.playCount()); }},
        {QStringLiteral("dm"), [](const KRVideo& v) { return double(v.danmakuCount()); }},
    };
    for (const auto& [order, measure] : orders) {
        const KRVideoList sorted = search(order);
        EXPECT_NE(aids(sorted), aids(comprehensive)) << order.toStdString();
        QList<qint64> same = aids(sorted);
        std::sort(same.begin(), same.end());
        EXPECT_EQ(same, everyHit) << order.toStdString();
        for (qsizetype i = 1; i < sorted.size(); ++i)
            EXPECT_GE(measure(*sorted[i - 1]), measure(*sorted[i])) << order.toStdString() << " at " << i;
    }

    // A region's rows carry its own name, and its titles, owners and lengths vary.
    for (const auto& [rid, name] : QList<std::pair<qint64, QString>>{{4, QStringLiteral("游戏")}, {3, QStringLiteral("音乐")}}) {
        const KRVideoList rows = videos([&](QObject* o, KRVideoListCompletion c) { client->loadSection(rid, 1, o, c); });
        ASSERT_GE(rows.size(), 20);
        QSet<QString> titles, owners, lengths;
        for (const auto& video : rows) {
            EXPECT_EQ(video->tname(), name);
            EXPECT_FALSE(video->ownerName().contains(QStringLiteral("UP主"))) << video->ownerName().toStdString();
            titles << video->title();
            owners << video->ownerName();
            lengths << video->durationText();
        }
        EXPECT_GE(titles.size(), rows.size() * 3 / 4) << name.toStdString();
        EXPECT_GE(owners.size(), rows.size() * 3 / 4) << name.toStdString();
        // Every part plays the clip, so every length is the clip's.
        EXPECT_EQ(lengths, QSet<QString>{QStringLiteral("00:12")}) << name.toStdString();
    }
    stop(SIGTERM);
}

TEST_F(DemoServiceTest, SignedInEveryRowOpensWhatItShowsAndEveryRouteOfTheScreensAnswers)
{
    // Its media at full speed: this reads every picture of two videos.
    ASSERT_TRUE(start({QStringLiteral("--media-rate=0")}));
    platform::NetworkSeams::setConnectTo(connectTo.split(QLatin1Char(',')));
    platform::NetworkSeams::setExtraCAFile(caFile);
    KRAPIClient* client = KRAPIClient::sharedClient();
    KRAccountClient* account = KRAccountClient::sharedClient();
    ASSERT_NO_FATAL_FAILURE(signIn());

    // A row of search, of an uploader's page and of the following feed shows the title and the
    // length of the page it opens, and that length is the clip's; its comment count is what the
    // comment area serves.
    const auto sameAsItsPage = [&](const std::shared_ptr<KRVideo>& row, const char* where) {
        const std::shared_ptr<KRVideo> page = detail(row);
        ASSERT_TRUE(page) << where;
        EXPECT_EQ(page->title(), row->title()) << where;
        EXPECT_EQ(page->durationText(), row->durationText()) << where;
        EXPECT_EQ(page->durationText(), QStringLiteral("00:12")) << where << " plays the 12 s clip";
        const std::shared_ptr<KRCommentPage> served = comments(row->aid(), 1);
        ASSERT_TRUE(served) << where;
        EXPECT_EQ(qint64(served->totalCount()), page->replyCount()) << where;
        if (row->replyCount() > 0) {
            EXPECT_EQ(row->replyCount(), page->replyCount()) << where;
        }
        // Its danmaku count is the lines its one part serves.
        ASSERT_EQ(page->pages().size(), 1) << where;
        EXPECT_EQ(page->danmakuCount(), danmakuLines(page->cid())) << where;
        if (row->danmakuCount() > 0) {
            EXPECT_EQ(row->danmakuCount(), page->danmakuCount()) << where;
        }
    };
    const KRVideoList found = videos([&](QObject* o, KRVideoListCompletion c) { client->search(QStringLiteral("猫"), 1, o, c); });
    ASSERT_FALSE(found.isEmpty());
    for (const auto& row : found)
        EXPECT_TRUE(row->title().contains(QStringLiteral("猫"))) << row->title().toStdString();
    sameAsItsPage(found.first(), "search");
    const KRVideoList uploads = videos([&](QObject* o, KRVideoListCompletion c) {
        client->loadUploaderVideosForMID(found.first()->ownerMID(), found.first()->ownerName(), 1, o, c);
    });
    ASSERT_FALSE(uploads.isEmpty());
    sameAsItsPage(uploads.first(), "uploader page");
    const KRVideoList region = videos([&](QObject* o, KRVideoListCompletion c) { client->loadSection(4, 1, o, c); });
    ASSERT_FALSE(region.isEmpty());
    sameAsItsPage(region.first(), "region list");

    const QVariantMap feed = accountRead([&](QObject* o, KRAccountReadCompletion c) { account->loadFollowingDynamicsOfType(QStringLiteral("video"), QString(), o, c); });
    const QVariantMap card = feed.value(QStringLiteral("items")).toList().value(0).toMap().value(QStringLiteral("modules")).toMap()
                                 .value(QStringLiteral("module_dynamic")).toMap().value(QStringLiteral("major")).toMap()
                                 .value(QStringLiteral("archive")).toMap();
    ASSERT_FALSE(card.isEmpty());
    auto followed = std::make_shared<KRVideo>();
    followed->setAid(card.value(QStringLiteral("aid")).toLongLong());
    followed->setBvid(card.value(QStringLiteral("bvid")).toString());
    const std::shared_ptr<KRVideo> followedPage = detail(followed);
    ASSERT_TRUE(followedPage);
    EXPECT_EQ(followedPage->title(), card.value(QStringLiteral("title")).toString());
    EXPECT_EQ(followedPage->durationText(), card.value(QStringLiteral("duration_text")).toString());

    // A season of the series grid opens, beyond its first page too, with as many episodes as its
    // row says, each as long as the clip it plays.
    const KRVideoList seasons = videos([&](QObject* o, KRVideoListCompletion c) { client->loadPGCSection(1, 2, o, c); });
    ASSERT_GE(seasons.size(), 4);
    for (const auto& row : {seasons.first(), seasons.at(3)}) {
        std::shared_ptr<KRVideo> season;
        bool answered = false;
        client->loadPGCDetailForVideo(row, nullptr, [&](const std::shared_ptr<KRVideo>& video, const KROptionalError& error) {
            EXPECT_FALSE(error.has_value()) << row->seasonID() << (error ? error->message().toStdString() : std::string());
            season = video;
            answered = true;
        });
        KR_WAIT_UNTIL(answered);
        ASSERT_TRUE(season) << row->seasonID();
        EXPECT_EQ(season->seasonID(), row->seasonID());
        EXPECT_GT(season->episodeID(), 0) << row->seasonID();
        EXPECT_EQ(row->pgcEpisodeText(), QStringLiteral("全%1话").arg(season->pages().size()))
            << row->seasonID();
        EXPECT_EQ(season->durationText(), QStringLiteral("00:12")) << row->seasonID();
    }

    // The inbox lists replies and mentions, each pointing at a comment its video serves.
    for (const bool mentions : {false, true}) {
        const QVariantMap page = accountRead([&](QObject* o, KRAccountReadCompletion c) {
            mentions ? account->loadAtMessagesWithCursor(0, o, c) : account->loadReplyMessagesWithCursor(0, o, c);
        });
        const QVariantList items = page.value(QStringLiteral("items")).toList();
        ASSERT_FALSE(items.isEmpty()) << mentions;
        const QVariantMap item = items.first().toMap().value(QStringLiteral("item")).toMap();
        std::shared_ptr<KRComment> pointed;
        bool answered = false;
        client->loadCommentDetailForOID(item.value(QStringLiteral("subject_id")).toLongLong(), 1, item.value(QStringLiteral("root_id")).toLongLong(), nullptr,
                                        [&](const std::shared_ptr<KRComment>& comment, const KROptionalError& error) {
                                            EXPECT_FALSE(error.has_value()) << mentions;
                                            pointed = comment;
                                            answered = true;
                                        });
        KR_WAIT_UNTIL(answered);
        EXPECT_TRUE(pointed) << mentions;
    }

    // A comment with an emote of the packages and a picture posts and comes first.
    const QVariantMap packages = accountRead([&](QObject* o, KRAccountReadCompletion c) { account->loadReplyEmotePackages(o, c); });
    const QVariantList emotes = packages.value(QStringLiteral("packages")).toList().value(0).toMap().value(QStringLiteral("emote")).toList();
    ASSERT_FALSE(emotes.isEmpty());
    const QString emote = emotes.first().toMap().value(QStringLiteral("text")).toString();
    QImage picture(64, 48, QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(picture.save(&buffer, "JPEG", 88));
    const QVariantMap uploaded = accountRead([&](QObject* o, KRAccountReadCompletion c) { account->uploadCommentImage(jpeg, o, c); });
    const QString pictureURL = uploaded.value(QStringLiteral("image_url")).toString();
    ASSERT_FALSE(pictureURL.isEmpty());
    const qint64 oid = found.first()->aid();
    const QString text = QStringLiteral("拍得真好") + emote;
    bool posted = false;
    account->postComment(text, oid, 1, 0, 0, {pictureURL}, nullptr, [&](bool success, const QString& message, const QVariant&) {
        EXPECT_TRUE(success) << message.toStdString();
        posted = true;
    });
    KR_WAIT_UNTIL(posted);
    const std::shared_ptr<KRCommentPage> after = comments(oid, 1);
    ASSERT_TRUE(after && !after->comments().isEmpty());
    EXPECT_EQ(after->comments().first()->message(), text);
    EXPECT_EQ(after->comments().first()->pictureURLs(), QStringList{pictureURL});
    EXPECT_EQ(detail(found.first())->replyCount(), qint64(after->totalCount())) << "the count follows the post";

    // Every quality a video offers is what it says, the 4K video's 4K too.
    QTemporaryDir scratch;
    expectEveryQualityAsOffered(oid, found.first()->cid(), scratch.path());
    expectEveryQualityAsOffered(ServiceFixtures::kDemo4KAID, ServiceFixtures::firstCIDForAID(ServiceFixtures::kDemo4KAID), scratch.path());
    EXPECT_TRUE(playInfo(ServiceFixtures::kDemo4KAID, ServiceFixtures::firstCIDForAID(ServiceFixtures::kDemo4KAID), 80, true)
                    .value(QStringLiteral("accept_quality")).toList().contains(120));
    KRSessionStore::sharedStore().clearSession();
    stop(SIGTERM);
}

TEST_F(DemoServiceTest, ItsFeedOpensWithAPortraitAndA4KVideoAndItsMediaComeAtARealisticRate)
{
    ASSERT_TRUE(start());
    platform::NetworkSeams::setConnectTo(connectTo.split(QLatin1Char(',')));
    platform::NetworkSeams::setExtraCAFile(caFile);
    KRAPIClient* client = KRAPIClient::sharedClient();
    // The first batch of the feed, as a newly started application asks for it.
    KRAPIClient::resetReadLoaderStateForTesting();
    const KRVideoList feed = videos([&](QObject* o, KRVideoListCompletion c) { client->loadRecommendedHomePage(1, o, c); });
    ASSERT_GE(feed.size(), 2);

    // The first row is the portrait video: its row, its page and its picture agree.
    const std::shared_ptr<KRVideo> portraitRow = feed.at(0);
    EXPECT_EQ(portraitRow->aid(), ServiceFixtures::kDemoPortraitAID);
    EXPECT_TRUE(portraitRow->title().startsWith(QStringLiteral("竖屏演示"))) << portraitRow->title().toStdString();
    EXPECT_EQ(portraitRow->durationText(), QStringLiteral("00:06"));
    const std::shared_ptr<KRVideo> portrait = detail(portraitRow);
    ASSERT_TRUE(portrait);
    EXPECT_EQ(portrait->title(), portraitRow->title());
    EXPECT_EQ(portrait->durationText(), QStringLiteral("00:06"));
    EXPECT_LT(portrait->width(), portrait->height());
    ASSERT_EQ(portrait->pages().size(), 1);
    // It offers the one quality its clip is, whichever road asks.
    const QVariantMap info = playInfo(portrait->aid(), portrait->cid(), 80, true);
    EXPECT_EQ(info.value(QStringLiteral("accept_quality")).toList(), QVariantList{16});
    EXPECT_EQ(playInfo(portrait->aid(), portrait->cid(), 16, false).value(QStringLiteral("accept_quality")).toList(), QVariantList{16});
    // Its clip arrives no faster than about 2 MB/s: at least its size over 2.1 MB a second.
    QTemporaryDir scratch;
    QElapsedTimer fetching;
    fetching.start();
    const QSize size = fetchPicture(pictureURL(info, 16), scratch.filePath(QStringLiteral("portrait.mp4")));
    const qint64 elapsedMs = fetching.elapsed();
    EXPECT_EQ(size, QSize(360, 640));
    const qint64 bytes = QFileInfo(scratch.filePath(QStringLiteral("portrait.mp4"))).size();
    ASSERT_GT(bytes, 500000);
    EXPECT_GE(elapsedMs, bytes * 1000 / 2'100'000) << bytes << " bytes";

    // The second is the 4K video: it offers 4K above the usual three.
    const std::shared_ptr<KRVideo> fourKRow = feed.at(1);
    EXPECT_EQ(fourKRow->aid(), ServiceFixtures::kDemo4KAID);
    EXPECT_TRUE(fourKRow->title().startsWith(QStringLiteral("4K 演示"))) << fourKRow->title().toStdString();
    const QVariantMap fourK = playInfo(fourKRow->aid(), fourKRow->cid(), 120, true);
    EXPECT_EQ(fourK.value(QStringLiteral("accept_quality")).toList(), (QVariantList{120, 80, 64, 16}));
    EXPECT_EQ(fourK.value(QStringLiteral("accept_description")).toList().value(0).toString(), QStringLiteral("4K"));
    EXPECT_EQ(fourK.value(QStringLiteral("quality")).toInt(), 120);
    // The other videos offer no 4K.
    EXPECT_FALSE(playInfo(feed.at(2)->aid(), feed.at(2)->cid(), 120, true).value(QStringLiteral("accept_quality")).toList().contains(120));
    stop(SIGTERM);
}

TEST_F(DemoServiceTest, ItsThirdRowHasThreePartsOfTheirOwnThatEachPlayAndSearchFindsIt)
{
    // Its media at full speed: this reads every picture of three parts.
    ASSERT_TRUE(start({QStringLiteral("--media-rate=0")}));
    platform::NetworkSeams::setConnectTo(connectTo.split(QLatin1Char(',')));
    platform::NetworkSeams::setExtraCAFile(caFile);
    KRAPIClient* client = KRAPIClient::sharedClient();
    KRAPIClient::resetReadLoaderStateForTesting();
    const KRVideoList feed = videos([&](QObject* o, KRVideoListCompletion c) { client->loadRecommendedHomePage(1, o, c); });
    ASSERT_GE(feed.size(), 3);
    const std::shared_ptr<KRVideo> row = feed.at(2);
    EXPECT_EQ(row->aid(), ServiceFixtures::kDemoPartsAID);
    EXPECT_TRUE(row->title().startsWith(QStringLiteral("分P演示"))) << row->title().toStdString();
    EXPECT_EQ(row->durationText(), QStringLiteral("00:36")) << "three parts of the 12 s clip";

    // Its page lists three parts, each as long as the clip, in the detail and in the page list.
    const std::shared_ptr<KRVideo> page = detail(row);
    ASSERT_TRUE(page);
    EXPECT_EQ(page->title(), row->title());
    EXPECT_EQ(page->durationText(), QStringLiteral("00:36"));
    const QList<qint64> partCIDs{ServiceFixtures::kDemoPartsFirstCID, ServiceFixtures::kDemoPartsFirstCID + 1,
                                 ServiceFixtures::kDemoPartsFirstCID + 2};
    QList<qint64> detailCIDs;
    for (const KRVideoPartInfo& part : page->pages())
        detailCIDs << part.value(QStringLiteral("cid")).toLongLong();
    EXPECT_EQ(detailCIDs, partCIDs);
    EXPECT_EQ(page->cid(), partCIDs.first());
    EXPECT_EQ(row->cid(), partCIDs.first()) << "the row opens the first part";
    QList<qint64> listedCIDs;
    for (const QVariant& part : apiData(QStringLiteral("/x/player/pagelist?bvid=%1").arg(row->bvid())).toList()) {
        listedCIDs << part.toMap().value(QStringLiteral("cid")).toLongLong();
        EXPECT_EQ(part.toMap().value(QStringLiteral("duration")).toLongLong(), ServiceFixtures::kDemoClipSeconds);
    }
    EXPECT_EQ(listedCIDs, partCIDs);

    // No other row of the feed plays one of its parts.
    const KRVideoList more = videos([&](QObject* o, KRVideoListCompletion c) { client->loadRecommendedHomePage(2, o, c); });
    for (const auto& other : feed + more)
        if (other->aid() != row->aid()) {
            EXPECT_FALSE(partCIDs.contains(other->cid())) << other->aid();
        }

    // Every part serves its own danmaku, which its counts add up, and every quality it offers by
    // both roads is that quality's clip.
    qint64 lines = 0;
    for (const qint64 cid : partCIDs)
        lines += danmakuLines(cid);
    EXPECT_EQ(page->danmakuCount(), lines);
    QTemporaryDir scratch;
    for (const qint64 cid : partCIDs) {
        EXPECT_EQ(playInfo(row->aid(), cid, 80, true).value(QStringLiteral("accept_quality")).toList(), (QVariantList{80, 64, 16})) << cid;
        expectEveryQualityAsOffered(row->aid(), cid, scratch.path());
    }

    // A search for what its title says finds it alone, as long as its page.
    const KRVideoList found = videos([&](QObject* o, KRVideoListCompletion c) { client->search(QStringLiteral("分P演示"), 1, o, c); });
    ASSERT_EQ(found.size(), 1);
    EXPECT_EQ(found.first()->aid(), ServiceFixtures::kDemoPartsAID);
    EXPECT_EQ(found.first()->durationText(), QStringLiteral("00:36"));
    stop(SIGTERM);
}

TEST_F(DemoServiceTest, AnInterruptOrAClosedTerminalStopsItCleanly)
{
    for (const int signal : {SIGINT, SIGHUP}) {
        ASSERT_TRUE(start());
        const QString log = stop(signal);
        EXPECT_EQ(demo->exitStatus(), QProcess::NormalExit) << signal;
        EXPECT_EQ(demo->exitCode(), 0) << signal;
        EXPECT_TRUE(log.contains(QStringLiteral("[demo-service] stopped"))) << signal;
        EXPECT_FALSE(QFileInfo::exists(caFile)) << signal;
    }
}

} // namespace

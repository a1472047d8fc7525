// The demo service as scripts/run uses it: a process of its own whose two printed lines are all
// the clients need to browse it, and which stops cleanly on either stop signal.

#include "account/KRAccountClient.h"
#include "images/KRImageLoader.h"
#include "model/KRServiceHosts.h"
#include "model/KRVideo.h"
#include "platform/net/NetworkSeams.h"
#include "service/KRAPIClient.h"
#include "store/KRSessionStore.h"
#include "support/ImageFixtures.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QFileInfo>
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

    // Starts the service and reads its two lines; false (with the reason) when it cannot.
    ::testing::AssertionResult start()
    {
        demo = std::make_unique<QProcess>();
        demo->start(QStringLiteral(KORVANE_DEMO_SERVICE), QStringList());
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
        EXPECT_GE(lengths.size(), rows.size() * 3 / 4) << name.toStdString();
    }
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

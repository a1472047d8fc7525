#include "playback/OfflineTesting.h"

#include "platform/foundation/NotificationCenter.h"
#include "support/ChildTestRun.h"

#include <cstdlib>
#include <memory>

using namespace offlinetest;
using testsupport::FakeReply;

namespace {

const QString kUserAgent = QStringLiteral("Mozilla/5.0 (iPhone; CPU iPhone OS 5_1_1 like Mac OS X) Korvane/3.0");

class OfflineDownloadTest : public OfflineTest {
protected:
    void SetUp() override
    {
        OfflineTest::SetUp();
        writeDanmakuCopy(100, 3);
    }

    void startProgressive(const QStringList& sources, Outcome& outcome, const std::shared_ptr<KRVideo>& video = makeVideo())
    {
        manager()->cacheVideo(video, sources, QStringLiteral("720P"), QImage(), &outcome.owner, outcome.progressBlock(), outcome.completionBlock());
    }
    void startDASH(const QString& picture, const QString& sound, Outcome& outcome, const QImage& cover = QImage())
    {
        manager()->cacheDASHVideo(makeVideo(), picture, sound, 80, QStringLiteral("1080P"), cover, &outcome.owner, outcome.progressBlock(),
                                  outcome.completionBlock());
    }
    // Only the index and the danmaku copies are left in the store.
    void expectNothingLeft()
    {
        QStringList files = QDir(offlineDir()).entryList(QDir::Files);
        files.removeOne(QStringLiteral("index.plist"));
        EXPECT_EQ(files, QStringList{}) << "no media, cover or .part";
        EXPECT_TRUE(storedIndex().isEmpty());
        EXPECT_FALSE(manager()->isDownloading());
        EXPECT_EQ(platform::BackgroundTask::openTaskCount(), 0);
    }
};

// Each part of a video of several parts is cached on its own, so its record carries its own
// length; a part list that does not know it leaves the video's.
TEST_F(OfflineDownloadTest, APartsRecordCarriesThePartsOwnLength)
{
    writeDanmakuCopy(101, 1);
    serve(QStringLiteral("/p.mp4"), 4096);
    struct Case {
        qint64 cid;
        const char* expected;
    };
    for (const Case& c : {Case{100, "00:12"}, Case{101, "00:36"}}) {
        SCOPED_TRACE(c.cid);
        std::shared_ptr<KRVideo> video = makeVideo(c.cid);
        video->setDurationText(QStringLiteral("00:36"));
        video->setPages({KRVideoPartInfo{{QStringLiteral("cid"), 99}, {QStringLiteral("duration"), 12}},
                         KRVideoPartInfo{{QStringLiteral("cid"), 100}, {QStringLiteral("duration"), 12}},
                         KRVideoPartInfo{{QStringLiteral("cid"), 101}}});
        Outcome outcome;
        startProgressive({mediaURL(QStringLiteral("/p.mp4"))}, outcome, video);
        KR_WAIT_UNTIL(outcome.done);
        ASSERT_TRUE(outcome.success) << outcome.message.toStdString();
        EXPECT_EQ(manager()->recordForKey(KROfflineVideoKey(video)).value(QStringLiteral("duration_text")).toString(),
                  QString::fromUtf8(c.expected));
    }
}

TEST_F(OfflineDownloadTest, ProgressiveDownloadCommitsAnIdenticalFile)
{
    const QByteArray body = serve(QStringLiteral("/v.mp4"), 1536 * 1024 + 3);
    QImage cover(32, 18, QImage::Format_RGB32);
    cover.fill(Qt::red);
    testsupport::ConsoleCapture console;
    Outcome outcome;
    manager()->cacheVideo(makeVideo(), mediaURL(QStringLiteral("/v.mp4")), QStringLiteral("720P"), cover,
                          &outcome.owner, outcome.progressBlock(), outcome.completionBlock());
    EXPECT_TRUE(manager()->isDownloading());
    EXPECT_EQ(platform::BackgroundTask::openTaskCount(), 1);
    KR_WAIT_UNTIL(outcome.done);

    EXPECT_TRUE(outcome.success);
    EXPECT_EQ(outcome.message, QStringLiteral("已缓存到“我的 → 离线缓存”"));
    ASSERT_GE(outcome.progress.size(), 3);
    EXPECT_EQ(outcome.progress.first(), 0.0f);
    EXPECT_EQ(outcome.progress.last(), 1.0f);
    EXPECT_EQ(outcome.progress.count(1.0f), 1);
    EXPECT_TRUE(std::is_sorted(outcome.progress.begin(), outcome.progress.end()));

    const QString host = media::primaryHost();
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvaneOffline] start key=%1 quality=720P attempt=1/1 host=%2").arg(kKey, host)));
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvaneOffline] response status=200 mime=video/mp4 expected=%1").arg(body.size())));
    const QString log = diagnosticsLog();
    EXPECT_TRUE(log.contains(QStringLiteral("[offline-progressive-start] cid=100 quality=720P attempt=1/1 host=%1").arg(host))) << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("[offline-progressive-complete] cid=100 bytes=%1 attempt=1/1").arg(body.size())));

    QFile file(offlinePath(kBase + QStringLiteral(".mp4")));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), body);
    EXPECT_FALSE(QFileInfo::exists(file.fileName() + QStringLiteral(".part")));
    QImage stored(offlinePath(kBase + QStringLiteral(".jpg")), "JPEG");
    EXPECT_EQ(stored.size(), QSize(32, 18));

    KR_WAIT_UNTIL(storedIndex().value(0).toMap().value(QStringLiteral("danmaku_state")) == QStringLiteral("cached"));
    const KROfflineRecord record = storedIndex().value(0).toMap();
    EXPECT_EQ(record.value(QStringLiteral("key")), kKey);
    EXPECT_EQ(record.value(QStringLiteral("download_state")), QStringLiteral("complete"));
    EXPECT_EQ(record.value(QStringLiteral("byte_count")).toLongLong(), body.size());
    EXPECT_EQ(record.value(QStringLiteral("cached_danmaku_count")).toLongLong(), 3);
    EXPECT_EQ(record.value(QStringLiteral("file_name")), kBase + QStringLiteral(".mp4"));
    EXPECT_EQ(record.value(QStringLiteral("cover_file_name")), kBase + QStringLiteral(".jpg"));
    EXPECT_EQ(record.value(QStringLiteral("bvid")), kBVID);
    EXPECT_EQ(record.value(QStringLiteral("created_at")).toDateTime().toSecsSinceEpoch(), kStartSeconds);
    EXPECT_EQ(record.value(QStringLiteral("pages")).toList().value(0).toMap().value(QStringLiteral("cid")).toLongLong(), 100);

    const auto requests = service.requestsTo(QStringLiteral("/v.mp4"));
    ASSERT_EQ(requests.size(), 1);
    EXPECT_EQ(requests.first().header(QStringLiteral("User-Agent")), kUserAgent);
    EXPECT_EQ(requests.first().header(QStringLiteral("Referer")), QStringLiteral("https://%1/").arg(KRServiceHosts::webHost()));
    for (const char* absent : {"Cookie", "Range", "Accept-Encoding"})
        EXPECT_FALSE(requests.first().headers.contains(QLatin1String(absent))) << absent;

    EXPECT_TRUE(manager()->isVideoCached(*makeVideo()));
    EXPECT_EQ(manager()->cachedVideos().value(0)->coverURL(), QUrl::fromLocalFile(offlinePath(kBase + QStringLiteral(".jpg"))).toString());
    EXPECT_EQ(platform::BackgroundTask::openTaskCount(), 0);
}

TEST_F(OfflineDownloadTest, FailoverMovesToTheNextCandidateFromByteZero)
{
    struct Case {
        const char* name;
        FakeReply first;
        QString reason;
    };
    const Case cases[] = {
        {"403", FakeReply::withStatus(403, "denied"), QStringLiteral("HTTP 403 mime=text/plain")},
        {"html", FakeReply::html("<html>login</html>"), QStringLiteral("HTTP 200 mime=text/html")},
        {"empty", FakeReply::text("", QStringLiteral("video/mp4")), QStringLiteral("empty-response")},
    };
    const QByteArray body = serve(QStringLiteral("/good.mp4"), 300 * 1024, 2, {}, media::secondaryHost());
    for (const Case& c : cases) {
        KROfflineCacheManager::resetForTesting();
        QFile::remove(offlinePath(QStringLiteral("index.plist")));
        QFile::remove(offlinePath(kBase + QStringLiteral(".mp4")));
        KRDiagnostics::resetForTesting();
        QFile::remove(KRDiagnosticsCacheDirectory() + QStringLiteral("/KorvaneRuntime.log"));
        service.routeReply(media::primaryHost(), QStringLiteral("/bad.mp4"), c.first);
        Outcome outcome;
        startProgressive({mediaURL(QStringLiteral("/bad.mp4")), mediaURL(QStringLiteral("/good.mp4"), media::secondaryHost())}, outcome);
        KR_WAIT_UNTIL(outcome.done);
        EXPECT_TRUE(outcome.success) << c.name << " " << outcome.message.toStdString();
        const QString log = diagnosticsLog();
        EXPECT_TRUE(log.contains(QStringLiteral("[offline-progressive-retry] cid=100 from=1 to=2 reason=") + c.reason))
            << c.name << log.toStdString();
        EXPECT_TRUE(log.contains(QStringLiteral("[offline-progressive-start] cid=100 quality=720P attempt=2/2 host=") + media::secondaryHost()));
        EXPECT_TRUE(log.contains(QStringLiteral("[offline-progressive-complete] cid=100 bytes=%1 attempt=2/2").arg(body.size())));
        QFile file(offlinePath(kBase + QStringLiteral(".mp4")));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), body) << c.name;
    }
}

TEST_F(OfflineDownloadTest, TheLastCandidateFailingEndsTheDownloadWithItsMessage)
{
    struct Case {
        const char* name;
        FakeReply reply;
        QString message;
    };
    const Case cases[] = {
        {"403", FakeReply::withStatus(403, "denied"), QStringLiteral("缓存地址已失效（HTTP 403）")},
        {"html", FakeReply::html("<html/>"), QStringLiteral("缓存地址已失效（HTTP 200）")},
        {"empty", FakeReply::text("", QStringLiteral("video/mp4")), QStringLiteral("服务器没有返回可缓存的视频数据")},
    };
    for (const Case& c : cases) {
        service.routeReply(media::primaryHost(), QStringLiteral("/a.mp4"), c.reply);
        service.routeReply(media::secondaryHost(), QStringLiteral("/b.mp4"), c.reply);
        Outcome outcome;
        startProgressive({mediaURL(QStringLiteral("/a.mp4")), mediaURL(QStringLiteral("/b.mp4"), media::secondaryHost())}, outcome);
        KR_WAIT_UNTIL(outcome.done);
        EXPECT_FALSE(outcome.success) << c.name;
        EXPECT_EQ(outcome.message, c.message) << c.name;
        EXPECT_EQ(outcome.calls, 1);
        expectNothingLeft();
    }
    EXPECT_TRUE(diagnosticsLog().contains(QStringLiteral("[offline-download-failed] cid=100 dash=NO received=0 message=缓存地址已失效（HTTP 403）")));
}

TEST_F(OfflineDownloadTest, ALostConnectionFailsOverAndNeverResumesMidFile)
{
    media::Serving cut;
    cut.cutAfter = 1024 * 1024;
    serve(QStringLiteral("/cut.mp4"), 2 * 1024 * 1024, 3, cut);
    const QByteArray good = serve(QStringLiteral("/ok.mp4"), 2 * 1024 * 1024, 4, {}, media::secondaryHost());
    Outcome twice;
    startProgressive({mediaURL(QStringLiteral("/cut.mp4")), mediaURL(QStringLiteral("/ok.mp4"), media::secondaryHost())}, twice);
    KR_WAIT_UNTIL(twice.done);
    EXPECT_TRUE(twice.success);
    EXPECT_TRUE(diagnosticsLog().contains(
        QStringLiteral("[offline-progressive-retry] cid=100 from=1 to=2 reason=domain=NSURLErrorDomain code=-1005")));
    QFile file(offlinePath(kBase + QStringLiteral(".mp4")));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), good);
    for (const auto& request : service.requests())
        EXPECT_FALSE(request.headers.contains(QStringLiteral("Range")));

    ASSERT_TRUE(manager()->removeAllCachedVideos(nullptr));
    Outcome once;
    startProgressive({mediaURL(QStringLiteral("/cut.mp4"))}, once);
    KR_WAIT_UNTIL(once.done);
    EXPECT_FALSE(once.success);
    EXPECT_EQ(once.message, QStringLiteral("离线缓存失败：网络连接已中断。"));
    expectNothingLeft();
}

TEST_F(OfflineDownloadTest, RedirectsCarryTheHeadersAndNeverLeaveHTTP)
{
    const QByteArray body = serve(QStringLiteral("/final.mp4"), 200 * 1024, 5, {}, media::secondaryHost());
    service.routeReply(media::primaryHost(), QStringLiteral("/moved.mp4"),
                       FakeReply::redirect(mediaURL(QStringLiteral("/final.mp4"), media::secondaryHost())));
    Outcome outcome;
    startProgressive({mediaURL(QStringLiteral("/moved.mp4"))}, outcome);
    KR_WAIT_UNTIL(outcome.done);
    EXPECT_TRUE(outcome.success);
    const auto second = service.requestsTo(QStringLiteral("/final.mp4"));
    ASSERT_EQ(second.size(), 1);
    EXPECT_EQ(second.first().header(QStringLiteral("User-Agent")), kUserAgent);
    EXPECT_EQ(second.first().header(QStringLiteral("Referer")), QStringLiteral("https://%1/").arg(KRServiceHosts::webHost()));

    ASSERT_TRUE(manager()->removeAllCachedVideos(nullptr));
    service.routeReply(media::primaryHost(), QStringLiteral("/ftp.mp4"), FakeReply::redirect(QStringLiteral("ftp://files.test/v.mp4")));
    Outcome refused;
    startProgressive({mediaURL(QStringLiteral("/ftp.mp4"))}, refused);
    KR_WAIT_UNTIL(refused.done);
    EXPECT_FALSE(refused.success);
    EXPECT_EQ(refused.message, QStringLiteral("离线缓存失败：不支持的 URL"));
    expectNothingLeft();
}

TEST_F(OfflineDownloadTest, DASHDownloadsPictureThenSound)
{
    const QByteArray picture = serve(QStringLiteral("/v.m4s"), 800 * 1024, 6);
    const QByteArray sound = serve(QStringLiteral("/a.m4s"), 2 * 1024 * 1024, 7, {}, media::secondaryHost());
    testsupport::ConsoleCapture console;
    Outcome outcome;
    startDASH(mediaURL(QStringLiteral("/v.m4s")), mediaURL(QStringLiteral("/a.m4s"), media::secondaryHost()), outcome);
    KR_WAIT_UNTIL(outcome.done);
    EXPECT_TRUE(outcome.success);
    EXPECT_EQ(outcome.message, QStringLiteral("1080P 音画双轨已缓存到“我的 → 离线缓存”"));
    EXPECT_TRUE(std::any_of(outcome.progress.begin(), outcome.progress.end(), [](float p) { return p > 0.0f && p < 0.85f; }));
    EXPECT_TRUE(std::any_of(outcome.progress.begin(), outcome.progress.end(), [](float p) { return p > 0.85f && p < 1.0f; }));
    EXPECT_TRUE(std::is_sorted(outcome.progress.begin(), outcome.progress.end()));
    EXPECT_EQ(outcome.progress.last(), 1.0f);

    const QString log = diagnosticsLog();
    const qsizetype start = log.indexOf(QStringLiteral("[offline-dash-start] cid=100 quality=80 tracks=2"));
    const qsizetype video = log.indexOf(QStringLiteral("[offline-dash-track-complete] role=video bytes=%1").arg(picture.size()));
    const qsizetype audio = log.indexOf(QStringLiteral("[offline-dash-track-complete] role=audio bytes=%1").arg(sound.size()));
    const qsizetype done = log.indexOf(QStringLiteral("[offline-dash-complete] cid=100 bytes=%1").arg(picture.size() + sound.size()));
    EXPECT_TRUE(start >= 0 && start < video && video < audio && audio < done) << log.toStdString();
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvaneOffline] dash-track-start role=audio index=1 url=")));

    const KROfflineRecord record = storedIndex().value(0).toMap();
    EXPECT_EQ(record.value(QStringLiteral("media_kind")), QStringLiteral("dash"));
    EXPECT_EQ(record.value(QStringLiteral("dash_video_file_name")), kBase + QStringLiteral(".video.m4v"));
    EXPECT_EQ(record.value(QStringLiteral("dash_audio_file_name")), kBase + QStringLiteral(".audio.m4a"));
    EXPECT_EQ(record.value(QStringLiteral("quality_value")).toLongLong(), 80);
    EXPECT_EQ(record.value(QStringLiteral("dash_video_byte_count")).toLongLong(), picture.size());
    EXPECT_EQ(record.value(QStringLiteral("dash_audio_byte_count")).toLongLong(), sound.size());
    EXPECT_EQ(record.value(QStringLiteral("byte_count")).toLongLong(), picture.size() + sound.size());
    EXPECT_FALSE(record.contains(QStringLiteral("file_name")));
    for (const auto& [name, bytes] : {std::pair{kBase + QStringLiteral(".video.m4v"), picture}, std::pair{kBase + QStringLiteral(".audio.m4a"), sound}}) {
        QFile file(offlinePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), bytes);
    }
    EXPECT_FALSE(manager()->cachedDASHPlaybackInfoForVideo(*makeVideo()).isEmpty());
}

TEST_F(OfflineDownloadTest, AFailedSoundTrackTakesThePictureWithIt)
{
    serve(QStringLiteral("/v.m4s"), 300 * 1024, 8);
    service.routeReply(media::secondaryHost(), QStringLiteral("/a.m4s"), FakeReply::withStatus(403, "denied"));
    Outcome outcome;
    startDASH(mediaURL(QStringLiteral("/v.m4s")), mediaURL(QStringLiteral("/a.m4s"), media::secondaryHost()), outcome);
    KR_WAIT_UNTIL(outcome.done);
    EXPECT_FALSE(outcome.success);
    EXPECT_EQ(outcome.message, QStringLiteral("缓存地址已失效（HTTP 403）"));
    EXPECT_TRUE(diagnosticsLog().contains(QStringLiteral("[offline-download-failed] cid=100 dash=YES")));
    expectNothingLeft();
}

// Run by the test below in a child process whose home is that test's: the first download
// ever, a DASH one, is cut off by the end of the process while its sound track arrives, its
// picture already moved into place. Nothing of the process runs after it, as when the system
// ends an application.
TEST_F(OfflineDownloadTest, DISABLED_ChildEndsDuringTheFirstDownloadsSoundTrack)
{
    if (qEnvironmentVariableIsEmpty("KR_CHILD_HOME"))
        GTEST_SKIP();
    const QString ownHome = testsupport::testHome();
    qputenv("KORVANE_HOME", qgetenv("KR_CHILD_HOME"));
    platform::Directories::homeVariablesChanged();
    const QByteArray picture = serve(QStringLiteral("/v.m4s"), 300 * 1024, 11);
    media::Serving stalled;
    stalled.stallAfter = 64 * 1024;
    serve(QStringLiteral("/a.m4s"), 1024 * 1024, 12, stalled, media::secondaryHost());
    Outcome outcome;
    startDASH(mediaURL(QStringLiteral("/v.m4s")), mediaURL(QStringLiteral("/a.m4s"), media::secondaryHost()), outcome);
    KR_WAIT_UNTIL(manager()->currentDownloadReceivedBytes() == picture.size() + 64 * 1024);
    ASSERT_FALSE(outcome.done);
    QDir(ownHome).removeRecursively();
    std::_Exit(0);
}

TEST_F(OfflineDownloadTest, AFirstDownloadCutOffByTheEndOfTheProcessLeavesNoFileAtTheNextStart)
{
    const testsupport::ChildTestResult child = testsupport::runChildTest(
        QStringLiteral("OfflineDownloadTest.DISABLED_ChildEndsDuringTheFirstDownloadsSoundTrack"), testsupport::testHome(),
        QStringLiteral("end"));
    ASSERT_TRUE(child.finished);
    ASSERT_EQ(child.exitCode, 0) << child.standardError.toStdString();
    // What the end left: the picture in place, the sound's partial file, and no index yet.
    ASSERT_TRUE(QFileInfo::exists(offlinePath(kBase + QStringLiteral(".video.m4v"))));
    ASSERT_TRUE(QFileInfo::exists(offlinePath(kBase + QStringLiteral(".audio.m4a.part"))));
    ASSERT_FALSE(QFileInfo::exists(offlinePath(QStringLiteral("index.plist"))));

    EXPECT_TRUE(manager()->offlineVideos().isEmpty());
    QStringList files = QDir(offlineDir()).entryList(QDir::Files);
    EXPECT_EQ(files, QStringList{}) << "no media and no .part";
    EXPECT_FALSE(manager()->isVideoCached(*makeVideo()));
}

TEST_F(OfflineDownloadTest, RefusalsAnswerAtOnce)
{
    struct Case {
        const char* name;
        std::function<void(Outcome&)> start;
        bool success;
        QString message;
    };
    const QString ok = mediaURL(QStringLiteral("/v.mp4"));
    const Case cases[] = {
        {"no cid", [&](Outcome& o) { startProgressive({ok}, o, makeVideo(0)); }, false, QStringLiteral("这个视频缺少可缓存的 CID 或播放地址")},
        {"no address", [&](Outcome& o) { startProgressive({QStringLiteral("ftp://x.test/v")}, o); }, false,
         QStringLiteral("这个视频缺少可缓存的 CID 或播放地址")},
        {"DASH ftp picture", [&](Outcome& o) { startDASH(QStringLiteral("ftp://x.test/v"), ok, o); }, false,
         QStringLiteral("这个视频缺少可缓存的 DASH 音画地址")},
        {"DASH file sound", [&](Outcome& o) { startDASH(ok, QStringLiteral("file:///a.m4a"), o); }, false,
         QStringLiteral("这个视频缺少可缓存的 DASH 音画地址")},
        {"DASH no scheme", [&](Outcome& o) { startDASH(ok, QStringLiteral("media-a.cdn.test/a"), o); }, false,
         QStringLiteral("这个视频缺少可缓存的 DASH 音画地址")},
    };
    for (const Case& c : cases) {
        Outcome outcome;
        c.start(outcome);
        EXPECT_TRUE(outcome.done) << c.name;
        EXPECT_EQ(outcome.success, c.success) << c.name;
        EXPECT_EQ(outcome.message, c.message) << c.name;
        EXPECT_TRUE(outcome.progress.isEmpty());
        EXPECT_FALSE(manager()->isDownloading());
    }
    EXPECT_FALSE(manager()->isVideoCached(*makeVideo(0)));
    EXPECT_TRUE(service.requests().isEmpty());
}

TEST_F(OfflineDownloadTest, ARunningDownloadIsListedFirstAndBlocksOthers)
{
    touch(QStringLiteral("old.mp4"));
    writeIndex({progressiveRecord(QStringLiteral("bv:BV1other|cid:7"), QStringLiteral("old.mp4"), 7)});
    media::Serving stalled;
    stalled.stallAfter = 64 * 1024;
    serve(QStringLiteral("/stall.mp4"), 1024 * 1024, 9, stalled);
    Outcome running;
    startProgressive({mediaURL(QStringLiteral("/stall.mp4"))}, running);
    KR_WAIT_UNTIL(manager()->currentDownloadReceivedBytes() == 64 * 1024);
    EXPECT_EQ(manager()->currentDownloadExpectedBytes(), 1024 * 1024);
    EXPECT_FLOAT_EQ(manager()->currentDownloadProgress(), 0.0625f);
    EXPECT_TRUE(manager()->isDownloadingVideo(*makeVideo()));

    const KRVideoList listed = manager()->offlineVideos();
    ASSERT_EQ(listed.size(), 2);
    EXPECT_EQ(listed.first()->tname(), QStringLiteral("720P · 缓存中"));
    EXPECT_EQ(listed.first()->coverURL(), makeVideo()->coverURL());
    EXPECT_EQ(listed.last()->cid(), 7);
    EXPECT_EQ(manager()->recordForKey(kKey).value(QStringLiteral("download_state")), QStringLiteral("downloading"));

    Outcome same, other;
    startProgressive({mediaURL(QStringLiteral("/v.mp4"))}, same);
    startProgressive({mediaURL(QStringLiteral("/v.mp4"))}, other, makeVideo(101));
    EXPECT_EQ(same.message, QStringLiteral("该视频正在缓存"));
    EXPECT_EQ(other.message, QStringLiteral("已有一个视频正在缓存，请稍后再试"));
    KROptionalError error;
    EXPECT_FALSE(manager()->removeAllCachedVideos(&error));
    ASSERT_TRUE(error);
    EXPECT_TRUE(error->is(KROfflineCacheErrorDomain, -30));
    EXPECT_EQ(error->message(), QStringLiteral("正在缓存视频，请先完成或取消当前任务"));

    manager()->cancelCurrentDownload();
    EXPECT_TRUE(running.done);
    EXPECT_FALSE(running.success);
    EXPECT_EQ(running.message, QStringLiteral("离线缓存已取消"));
    EXPECT_FALSE(QFileInfo::exists(offlinePath(kBase + QStringLiteral(".mp4.part"))));
    EXPECT_FALSE(QFileInfo::exists(offlinePath(kBase + QStringLiteral(".mp4"))));
    EXPECT_EQ(storedIndex().size(), 1);
    EXPECT_EQ(running.calls, 1);
}

TEST_F(OfflineDownloadTest, BackgroundExpiryCancelsTheDownload)
{
    media::Serving stalled;
    stalled.stallAfter = 1000;
    serve(QStringLiteral("/stall.mp4"), 100000, 10, stalled);
    Outcome outcome;
    startProgressive({mediaURL(QStringLiteral("/stall.mp4"))}, outcome);
    platform::BackgroundTask::expireAllForTesting();
    EXPECT_TRUE(outcome.done);
    EXPECT_EQ(outcome.message, QStringLiteral("离线缓存已取消"));
    expectNothingLeft();
}

TEST_F(OfflineDownloadTest, AlreadyCachedIsReportedAsSuccess)
{
    touch(QStringLiteral("have.mp4"));
    writeIndex({progressiveRecord(kKey, QStringLiteral("have.mp4"), 100)});
    Outcome outcome;
    startProgressive({mediaURL(QStringLiteral("/v.mp4"))}, outcome);
    EXPECT_TRUE(outcome.success);
    EXPECT_EQ(outcome.message, QStringLiteral("该分 P 已在离线缓存中"));
    EXPECT_TRUE(service.requests().isEmpty());
}

TEST_F(OfflineDownloadTest, FreeSpaceBelowTheBodyAndReserveStopsTheDownload)
{
    const QString file = testsupport::testHome() + QStringLiteral("/sparse.mp4");
    media::writeGeneratedFile(file, 100LL * 1024 * 1024, 1, true);
    media::serveFile(service, media::primaryHost(), QStringLiteral("/huge.mp4"), file);
    platform::FreeSpace::setOverrideForTesting(110LL * 1024 * 1024);
    Outcome tight;
    startProgressive({mediaURL(QStringLiteral("/huge.mp4"))}, tight);
    KR_WAIT_UNTIL(tight.done);
    EXPECT_EQ(tight.message, QStringLiteral("剩余空间不足，请至少保留 24 MB 系统空间"));
    expectNothingLeft();

    // Unknown free space does not stop it.
    const QByteArray small = serve(QStringLiteral("/small.mp4"), 1000, 11);
    platform::FreeSpace::setOverrideForTesting(0);
    Outcome unknown;
    startProgressive({mediaURL(QStringLiteral("/small.mp4"))}, unknown);
    KR_WAIT_UNTIL(unknown.done);
    EXPECT_TRUE(unknown.success) << unknown.message.toStdString();
}

TEST_F(OfflineDownloadTest, ABodyWithoutSizeNotifiesEvery512KiBAndReportsOnlyTheEnds)
{
    constexpr qint64 kStep = 512 * 1024;
    // The body goes out a quarter step at a time, each piece only once the last is in, so the
    // reads the manager sees end where the test says rather than where the scheduler merged them.
    constexpr qint64 kPiece = kStep / 4;
    media::Serving chunked;
    chunked.chunked = true;
    chunked.gate = std::make_shared<testsupport::BodyGate>();
    const QByteArray body = serve(QStringLiteral("/chunked.mp4"), 6 * kStep, 12, chunked);
    // The received count at each change notification while bytes flow.
    QList<qint64> steps;
    const platform::ObserverToken token = platform::NotificationCenter::defaultCenter().addObserver(
        KROfflineCacheDidChangeNotification, manager(), [&](const platform::Notification&) {
            const qint64 received = manager()->currentDownloadReceivedBytes();
            if (received > 0 && (steps.isEmpty() || steps.last() != received))
                steps.append(received);
        });
    Outcome outcome;
    startProgressive({mediaURL(QStringLiteral("/chunked.mp4"))}, outcome);
    // The danmaku copy posts a change of its own; it lands before the first byte flows, so
    // every change counted below is the body's.
    KR_WAIT_UNTIL(manager()->recordForKey(kKey).value(QStringLiteral("danmaku_state")) == QStringLiteral("cached"));
    EXPECT_TRUE(steps.isEmpty());
    for (qint64 end = kPiece; end <= body.size(); end += kPiece) {
        chunked.gate->openTo(end);
        KR_WAIT_UNTIL(outcome.done || manager()->currentDownloadReceivedBytes() == end);
    }
    KR_WAIT_UNTIL(outcome.done);
    EXPECT_TRUE(outcome.success) << outcome.message.toStdString();
    EXPECT_EQ(outcome.progress, (QList<float>{0.0f, 1.0f}));
    EXPECT_EQ(steps, (QList<qint64>{kStep, 2 * kStep, 3 * kStep, 4 * kStep, 5 * kStep, 6 * kStep}));
    EXPECT_EQ(storedIndex().value(0).toMap().value(QStringLiteral("byte_count")).toLongLong(), body.size());
}

TEST_F(OfflineDownloadTest, ADownloadWhoseOwnerWentFinishesWithoutReportingToIt)
{
    serve(QStringLiteral("/v.mp4"), 600 * 1024);
    serve(QStringLiteral("/p.m4v"), 300 * 1024);
    serve(QStringLiteral("/a.m4a"), 100 * 1024);
    auto video = makeVideo();
    for (const bool dash : {false, true}) {
        SCOPED_TRACE(dash ? "dash" : "progressive");
        auto owner = std::make_unique<QObject>();
        Outcome outcome;
        if (dash)
            manager()->cacheDASHVideo(video, mediaURL(QStringLiteral("/p.m4v")), mediaURL(QStringLiteral("/a.m4a")), 80,
                                      QStringLiteral("1080P"), QImage(), owner.get(), outcome.progressBlock(),
                                      outcome.completionBlock());
        else
            manager()->cacheVideo(video, mediaURL(QStringLiteral("/v.mp4")), QStringLiteral("720P"), QImage(), owner.get(),
                                  outcome.progressBlock(), outcome.completionBlock());
        const qsizetype reported = outcome.progress.size();
        owner.reset();
        // The download is the manager's and goes on; its owner hears nothing more.
        KR_WAIT_UNTIL(!manager()->isDownloading());
        EXPECT_EQ(outcome.calls, 0);
        EXPECT_EQ(outcome.progress.size(), reported);
        EXPECT_TRUE(manager()->isVideoCached(*video));
        KROptionalError error;
        ASSERT_TRUE(manager()->removeCachedVideo(*video, &error));
    }
}

TEST_F(OfflineDownloadTest, AnIndexThatCannotBeWrittenFailsTheDownloadAndKeepsNothing)
{
    media::Serving stalled;
    const QByteArray body = serve(QStringLiteral("/v.mp4"), 600 * 1024, 13);
    QImage cover(8, 8, QImage::Format_RGB32);
    cover.fill(Qt::blue);
    Outcome outcome;
    manager()->cacheVideo(makeVideo(), mediaURL(QStringLiteral("/v.mp4")), QStringLiteral("720P"), cover,
                          &outcome.owner, outcome.progressBlock(), outcome.completionBlock());
    // Nothing can be renamed over a folder: the index write at commit fails.
    ASSERT_TRUE(QDir().mkpath(offlinePath(QStringLiteral("index.plist"))));
    KR_WAIT_UNTIL(outcome.done);
    EXPECT_FALSE(outcome.success);
    EXPECT_TRUE(outcome.message.startsWith(QStringLiteral("保存离线视频失败："))) << outcome.message.toStdString();
    EXPECT_GT(outcome.message.size(), QStringLiteral("保存离线视频失败：").size());
    EXPECT_FALSE(outcome.progress.contains(1.0f));
    QDir(offlinePath(QStringLiteral("index.plist"))).removeRecursively();
    expectNothingLeft();
    EXPECT_FALSE(manager()->isVideoCached(*makeVideo()));
}

} // namespace

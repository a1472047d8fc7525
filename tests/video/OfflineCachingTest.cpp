// Caching from the video page through its pickers: the entry's rules, one part at a chosen
// quality (a progressive file or the DASH pair), a batch of parts, the answers the service may
// give, and the page's life steps, against the fake service with the offline store in the
// test's own home.
#include "OfflineCachingTesting.h"

#include "look/KRTheme.h"
#include "model/KRServiceHosts.h"
#include "platform/foundation/Directories.h"
#include "platform/foundation/PropertyList.h"
#include "platform/uikit/ActionSheet.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/TableView.h"
#include "platform/uikit/TableViewCell.h"
#include "playback/KROfflineCacheManager.h"
#include "support/ConsoleCapture.h"
#include "support/AnswerGate.h"
#include "support/MediaFixtures.h"
#include "video/KRVideoOfflineCaching.h"
#include "video/KRVideoOfflinePagePicker.h"
#include "video/KRVideoOfflineQualityPicker.h"

#include <QDir>
#include <QFile>
#include <QPointer>
#include <QTest>

#include <limits>

using namespace platform::uikit;
using namespace videotest;
using testsupport::PlaybackFixtures;
using testsupport::ServiceFixtures;

namespace {

KROfflineCacheManager* store() { return KROfflineCacheManager::sharedManager(); }

// An archive of the lists: one part, known to every endpoint.
constexpr qint64 kSinglePartAID = 200003;

class OfflineCachingTest : public OfflineCachingPageTest {
protected:
    void SetUp() override
    {
        OfflineCachingPageTest::SetUp();
        KRTheme::sharedTheme()->setStyle(0);
    }

    static std::shared_ptr<KRVideo> singlePartVideo(qint64 aid = kSinglePartAID)
    {
        auto video = std::make_shared<KRVideo>();
        video->setAid(aid);
        video->setBvid(ServiceFixtures::bvidForAID(aid));
        video->setCid(ServiceFixtures::firstCIDForAID(aid));
        video->setTitle(QStringLiteral("单 P 视频"));
        return video;
    }

    // The page with its detail in, recording every status line the caching shows.
    KRVideoDetailViewController* open(std::shared_ptr<KRVideo> video, int parts)
    {
        KRVideoDetailViewController* page = push(std::move(video));
        QObject::connect(page->offlineCaching(), &KRVideoOfflineCaching::statusShown,
                         [this](const QString& text) { statuses.append(text); });
        EXPECT_TRUE(advanceUntil([&] { return page->video()->pages().size() == parts && !page->offlineCaching()->isWaitingForDetail(); }));
        return page;
    }

    bool waitForStatus(const QString& text)
    {
        return advanceUntil([&] { return statuses.contains(text); });
    }
    bool waitForDownloadsToEnd()
    {
        return advanceUntil([] { return !store()->isDownloading(); });
    }

    // A complete progressive record of the 360p clip for `video`, as a finished download leaves it.
    static void storeCachedPart(const std::shared_ptr<KRVideo>& video, const QString& title)
    {
        const QString directory = platform::Directories::documents() + QStringLiteral("/KorvaneOffline");
        QDir().mkpath(directory);
        const QString name = QStringLiteral("part%1-1700000000.mp4").arg(video->cid());
        ASSERT_TRUE(QFile::copy(testsupport::MediaFixtures::testMediaPath(QStringLiteral("clip-360p.mp4")), directory + QLatin1Char('/') + name));
        QFile index(directory + QStringLiteral("/index.plist"));
        QVariantList records;
        if (index.open(QIODevice::ReadOnly)) {
            records = platform::PropertyList::parse(index.readAll()).toList();
            index.close();
        }
        records.prepend(QVariantMap{{QStringLiteral("key"), KROfflineVideoKey(video)},
                                    {QStringLiteral("file_name"), name},
                                    {QStringLiteral("aid"), video->aid()},
                                    {QStringLiteral("bvid"), video->canonicalBVID()},
                                    {QStringLiteral("cid"), video->cid()},
                                    {QStringLiteral("quality_title"), QStringLiteral("360P")},
                                    {QStringLiteral("title"), title},
                                    {QStringLiteral("download_state"), QStringLiteral("complete")},
                                    {QStringLiteral("danmaku_state"), QStringLiteral("cached")}});
        ASSERT_TRUE(index.open(QIODevice::WriteOnly | QIODevice::Truncate));
        index.write(platform::PropertyList::toXML(records));
        index.close();
        ASSERT_TRUE(store()->isVideoCached(*video));
    }

    // "更多", then "离线缓存", as a user chooses caching; the choice runs once the sheet has gone.
    static void cacheFromMore(KRVideoDetailViewController* page)
    {
        tap(part<Button>(page, "moreButton"));
        ActionSheet* sheet = page->visibleActionSheet();
        ASSERT_NE(sheet, nullptr);
        int index = -1;
        for (int i = 0; i < sheet->numberOfButtons(); ++i)
            if (sheet->buttonTitleAtIndex(i) == QStringLiteral("离线缓存"))
                index = i;
        ASSERT_GE(index, 0);
        View* button = sheet->buttonViewAtIndex(index);
        QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
        AnimationClock::finishAll();
        platform::MainClock::advanceForTesting(0.05);
    }
    // Ticks the parts (rows) in the part picker and goes on to the qualities.
    static void chooseParts(KRVideoDetailViewController* page, const QList<int>& rows)
    {
        KRVideoOfflinePagePicker* picker = page->offlineCaching()->pagePicker();
        ASSERT_NE(picker, nullptr);
        for (int row : rows)
            tapRow(picker->tableView(), row);
        tap(picker->nextButton());
    }
    // Another video's download, begun elsewhere, that keeps the store busy until its gate opens.
    std::shared_ptr<testsupport::BodyGate> downloadElsewhere(qint64 aid)
    {
        std::shared_ptr<testsupport::BodyGate> gate = play.gateMedia(16);
        store()->cacheVideo(singlePartVideo(aid), play.progressiveURL(16).toString(), QStringLiteral("360P"), QImage(), &elsewhere, {}, {});
        EXPECT_TRUE(store()->isDownloading());
        return gate;
    }

    // P1 to P3 ticked in the part picker and `quality` chosen; answers the parts once P1's
    // download has begun, its media (`mediaQuality`) held at `gate` until the test opens it.
    QList<std::shared_ptr<KRVideo>> beginThreePartBatch(KRVideoDetailViewController* page, const QString& quality, int mediaQuality,
                                                        std::shared_ptr<testsupport::BodyGate>& gate)
    {
        QList<std::shared_ptr<KRVideo>> parts;
        for (int i = 0; i < 3; ++i)
            parts.append(page->offlineVideoForPageIndex(i));
        cacheFromMore(page);
        chooseParts(page, {0, 1, 2});
        gate = play.gateMedia(mediaQuality);
        chooseQuality(page, quality);
        EXPECT_TRUE(advanceUntil([&] { return store()->isDownloadingVideo(*parts.at(0)); }));
        return parts;
    }
    // Back out of the page; it goes.
    void leave(KRVideoDetailViewController* page)
    {
        QPointer<KRVideoDetailViewController> popped(page);
        nav->popViewControllerAnimated(false);
        AnimationClock::finishAll();
        flushDeferredDeletes();
        EXPECT_FALSE(popped);
    }

    static QStringList cachedTitles()
    {
        QStringList titles;
        for (const std::shared_ptr<KRVideo>& video : store()->cachedVideos())
            titles.append(video->title());
        return titles;
    }

    QStringList statuses;
    QObject elsewhere;
};

// ---- one part ----

TEST_F(OfflineCachingTest, OnePartAt720PIsKeptAsItsFileUnderItsOwnTitle)
{
    testsupport::ConsoleCapture console;
    KRVideoDetailViewController* page = open(singlePartVideo(), 1);
    const std::shared_ptr<KRVideo> video = page->video();
    page->fullscreenCacheTapped();
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvaneOfflinePicker] opening quality picker bvid=%1 cid=%2")
                                     .arg(video->canonicalBVID())
                                     .arg(video->cid())));
    // The qualities are asked for first; the picker opens when they come.
    EXPECT_EQ(statuses.value(0), QStringLiteral("正在打开缓存清晰度…"));
    ASSERT_TRUE(advanceUntil([&] { return page->offlineCaching()->qualityPicker() != nullptr; }));
    KRVideoOfflineQualityPicker* picker = page->offlineCaching()->qualityPicker();
    EXPECT_EQ(picker->titleLabel()->text(), QStringLiteral("选择缓存清晰度"));
    QStringList options;
    for (int i = 0; i < picker->optionCount(); ++i)
        options.append(picker->optionButton(i)->title(ControlStateNormal));
    EXPECT_EQ(options, (QStringList{QStringLiteral("4K"), QStringLiteral("1080P"), QStringLiteral("720P"), QStringLiteral("480P"),
                                    QStringLiteral("360P")}));
    // Over the page's view (in the window's root, above the player's surface), centred, every
    // row showing.
    EXPECT_EQ(picker->superview(), nav->view());
    EXPECT_EQ(picker->frame(), page->view()->convertRectToView(page->view()->bounds(), nav->view()));
    const QRectF panel = picker->panel()->frame();
    EXPECT_EQ(panel.width(), 343);
    EXPECT_EQ(panel.height(), 46 + 5 * 44 + 50);
    EXPECT_EQ(panel.left(), 16);
    EXPECT_NEAR(panel.center().y(), page->view()->bounds().center().y(), 1);

    tap(picker->optionButton(2));
    EXPECT_EQ(page->offlineCaching()->qualityPicker(), nullptr);
    EXPECT_TRUE(statuses.contains(QStringLiteral("正在准备 720P 缓存…")));
    ASSERT_TRUE(waitForStatus(QStringLiteral("已加入离线缓存 · 可在“我的”查看进度")));
    EXPECT_TRUE(store()->isDownloadingVideo(*video));
    ASSERT_TRUE(waitForDownloadsToEnd());
    const QList<std::shared_ptr<KRVideo>> cached = store()->cachedVideos();
    ASSERT_EQ(cached.size(), 1);
    EXPECT_EQ(cached.first()->cid(), video->cid());
    // A video of one part keeps its own title.
    EXPECT_EQ(cached.first()->title(), video->title());
    EXPECT_EQ(store()->recordForKey(KROfflineVideoKey(video)).value(QStringLiteral("quality_title")).toString(), QStringLiteral("720P"));
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvaneQuality] purpose=cache requested=64(720P) actual=64(720P) cid=%1").arg(video->cid())));

    // Cached now: the entry says so and opens nothing.
    statuses.clear();
    page->fullscreenCacheTapped();
    EXPECT_EQ(statuses, QStringList{QStringLiteral("该分 P 已缓存")});
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvaneOfflinePicker] ignored: current part is already cached")));
    EXPECT_EQ(page->offlineCaching()->qualityPicker(), nullptr);
}

TEST_F(OfflineCachingTest, TheServiceAnsweringAnotherQualityOrNoFileStartsNoDownload)
{
    testsupport::ConsoleCapture console;
    play.setCacheAnswer(64, PlaybackFixtures::CacheAnswer::LowerQuality);
    play.setCacheAnswer(16, PlaybackFixtures::CacheAnswer::NoFiles);
    KRVideoDetailViewController* page = open(singlePartVideo(), 1);
    const qint64 cid = page->video()->cid();

    page->fullscreenCacheTapped();
    chooseQuality(page, QStringLiteral("720P"));
    ASSERT_TRUE(waitForStatus(QStringLiteral("720P 暂不可用（服务器返回 480P）")));
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvaneQuality] purpose=cache requested=64(720P) actual=32(480P) cid=%1").arg(cid)));
    EXPECT_FALSE(store()->isDownloading());
    EXPECT_FALSE(page->offlineCaching()->isResolving());

    page->fullscreenCacheTapped();
    chooseQuality(page, QStringLiteral("360P"));
    ASSERT_TRUE(waitForStatus(QStringLiteral("该清晰度没有可缓存的单文件 MP4")));
    EXPECT_FALSE(store()->isDownloading());
    EXPECT_TRUE(store()->cachedVideos().isEmpty());
}

TEST_F(OfflineCachingTest, AnAnsweredQualityTheVideoDoesNotOfferIsNamedByTheTable)
{
    // The demo's videos offer 1080P, 720P and 360P only; the service answers 480P (32).
    testsupport::ConsoleCapture console;
    play.setDemo(true);
    play.setCacheAnswer(64, PlaybackFixtures::CacheAnswer::LowerQuality);
    KRVideoDetailViewController* page = open(singlePartVideo(), 1);
    const qint64 cid = page->video()->cid();
    page->fullscreenCacheTapped();
    chooseQuality(page, QStringLiteral("720P"));
    ASSERT_TRUE(waitForStatus(QStringLiteral("720P 暂不可用（服务器返回 480P）"))) << statuses.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvaneQuality] purpose=cache requested=64(720P) actual=32(480P) cid=%1").arg(cid)));
    EXPECT_FALSE(store()->isDownloading());
}

TEST_F(OfflineCachingTest, ATVRouteErrorBesideAnExactFallbackStillCaches)
{
    play.setQualityFault(64, PlaybackFixtures::QualityFault::TVRouteError);
    KRVideoDetailViewController* page = open(singlePartVideo(), 1);
    page->fullscreenCacheTapped();
    chooseQuality(page, QStringLiteral("720P"));
    ASSERT_TRUE(waitForStatus(QStringLiteral("已加入离线缓存 · 可在“我的”查看进度")));
    EXPECT_FALSE(statuses.contains(QStringLiteral("啥都木有")));
    ASSERT_TRUE(waitForDownloadsToEnd());
    EXPECT_EQ(store()->cachedVideos().size(), 1);
}

TEST_F(OfflineCachingTest, FourKIsKeptAsItsPictureAndSoundUnderTheChosenTitle)
{
    play.setCacheAnswer(PlaybackFixtures::k4KQuality, PlaybackFixtures::CacheAnswer::H264At120);
    KRVideoDetailViewController* page = open(singlePartVideo(), 1);
    const std::shared_ptr<KRVideo> video = page->video();
    page->fullscreenCacheTapped();
    chooseQuality(page, QStringLiteral("4K"));
    ASSERT_TRUE(waitForStatus(QStringLiteral("4K 音画双轨已加入离线缓存")));
    EXPECT_FALSE(statuses.contains(QStringLiteral("1080P 音画双轨已加入离线缓存")));
    ASSERT_TRUE(waitForDownloadsToEnd());
    const KROfflineRecord record = store()->recordForKey(KROfflineVideoKey(video));
    EXPECT_EQ(record.value(QStringLiteral("media_kind")).toString(), QStringLiteral("dash"));
    EXPECT_EQ(record.value(QStringLiteral("quality_value")).toInt(), 120);
    EXPECT_EQ(record.value(QStringLiteral("quality_title")).toString(), QStringLiteral("4K"));
    EXPECT_TRUE(QFile::exists(store()->cacheDirectory() + QLatin1Char('/') + record.value(QStringLiteral("dash_video_file_name")).toString()));
    EXPECT_TRUE(QFile::exists(store()->cacheDirectory() + QLatin1Char('/') + record.value(QStringLiteral("dash_audio_file_name")).toString()));
}

TEST_F(OfflineCachingTest, TheDemoCachesAtEveryQualityItOffers)
{
    play.setDemo(true);
    const QStringList titles{QStringLiteral("1080P"), QStringLiteral("720P"), QStringLiteral("360P")};
    for (int i = 0; i < titles.size(); ++i) {
        statuses.clear();
        KRVideoDetailViewController* page = open(singlePartVideo(kSinglePartAID + i), 1);
        page->fullscreenCacheTapped();
        ASSERT_TRUE(advanceUntil([&] { return page->offlineCaching()->qualityPicker() != nullptr; }));
        KRVideoOfflineQualityPicker* picker = page->offlineCaching()->qualityPicker();
        ASSERT_EQ(picker->optionCount(), 3);
        EXPECT_EQ(picker->optionButton(i)->title(ControlStateNormal), titles.at(i));
        tap(picker->optionButton(i));
        ASSERT_TRUE(advanceUntil([&] {
            return statuses.contains(QStringLiteral("已加入离线缓存 · 可在“我的”查看进度")) ||
                   statuses.contains(QStringLiteral("1080P 音画双轨已加入离线缓存"));
        })) << statuses.join(QLatin1Char('|')).toStdString();
        ASSERT_TRUE(waitForDownloadsToEnd());
        EXPECT_EQ(store()->recordForKey(KROfflineVideoKey(page->video())).value(QStringLiteral("quality_title")).toString(), titles.at(i));
        nav->popViewControllerAnimated(false);
        AnimationClock::finishAll();
    }
    EXPECT_EQ(store()->cachedVideos().size(), 3);
}

// ---- the entry ----

TEST_F(OfflineCachingTest, TheEntryWaitsForAnotherDownloadAResolutionAndTheDetail)
{
    testsupport::ConsoleCapture console;
    // No cid yet: the entry waits for the detail, then opens the part picker.
    std::shared_ptr<KRVideo> listed = detailVideo();
    listed->setCid(0);
    KRVideoDetailViewController* page = push(listed);
    QObject::connect(page->offlineCaching(), &KRVideoOfflineCaching::statusShown, [this](const QString& text) { statuses.append(text); });
    page->fullscreenCacheTapped();
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvaneOfflinePicker] waiting for detail bvid=%1 cid=0").arg(ServiceFixtures::detailBVID())));
    EXPECT_EQ(statuses.value(0), QStringLiteral("正在读取视频缓存信息…"));
    EXPECT_TRUE(page->offlineCaching()->isWaitingForDetail());
    ASSERT_TRUE(advanceUntil([&] { return page->offlineCaching()->pagePicker() != nullptr; }));
    EXPECT_FALSE(page->offlineCaching()->isWaitingForDetail());
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvaneOfflinePicker] opening page picker bvid=%1 pages=3").arg(ServiceFixtures::detailBVID())));
    page->dismissOfflinePagePicker();
    EXPECT_EQ(page->offlineCaching()->pagePicker(), nullptr);

    // A resolution running: a second tap is turned away.
    page->offlineCaching()->startOfflineBatchAtQualityIndex(0); // no parts chosen: nothing
    EXPECT_FALSE(page->offlineCaching()->isResolving());
    page->showOfflineQualityActionSheetFromView(page->view());
    ASSERT_TRUE(advanceUntil([&] { return page->offlineCaching()->qualityPicker() != nullptr; }));
    play.setQualityFault(64, PlaybackFixtures::QualityFault::Held);
    chooseQuality(page, QStringLiteral("720P"));
    ASSERT_TRUE(page->offlineCaching()->isResolving());
    ASSERT_TRUE(advanceUntil([&] { return play.heldReplyCount() == 1; }));
    statuses.clear();
    page->fullscreenCacheTapped();
    EXPECT_EQ(statuses, QStringList{QStringLiteral("正在准备缓存地址…")});
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvaneOfflinePicker] ignored: playback URL is resolving")));
    play.setQualityFault(64, PlaybackFixtures::QualityFault::None);
    play.releaseHeldReplies();
    ASSERT_TRUE(waitForStatus(QStringLiteral("已加入离线缓存 · 可在“我的”查看进度")));

    // Another download running.
    statuses.clear();
    page->fullscreenCacheTapped();
    EXPECT_EQ(statuses, QStringList{QStringLiteral("已有一个视频正在缓存")});
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvaneOfflinePicker] ignored: another download is active")));
    EXPECT_EQ(page->offlineCaching()->pagePicker(), nullptr);
    ASSERT_TRUE(waitForDownloadsToEnd());
}

TEST_F(OfflineCachingTest, APageWithEveryPartCachedSaysSo)
{
    KRVideoDetailViewController* page = open(detailVideo(), 3);
    for (int i = 0; i < 3; ++i)
        storeCachedPart(page->offlineVideoForPageIndex(i), QStringLiteral("P%1").arg(i + 1));
    page->fullscreenCacheTapped();
    EXPECT_EQ(statuses, QStringList{QStringLiteral("所有分 P 都已缓存")});
    EXPECT_EQ(page->offlineCaching()->pagePicker(), nullptr);
    EXPECT_EQ(page->offlineCaching()->qualityPicker(), nullptr);
}

// ---- several parts ----

TEST_F(OfflineCachingTest, ABatchSkipsTheCachedPartAndNamesEachPartInTheStore)
{
    KRVideoDetailViewController* page = open(detailVideo(), 3);
    storeCachedPart(page->offlineVideoForPageIndex(1), QStringLiteral("P2"));
    page->fullscreenCacheTapped();
    KRVideoOfflinePagePicker* picker = page->offlineCaching()->pagePicker();
    ASSERT_NE(picker, nullptr);
    EXPECT_EQ(picker->titleLabel()->text(), QStringLiteral("选择要缓存的分 P"));
    TableView* table = picker->tableView();
    table->layoutIfNeeded();
    ASSERT_NE(table->cellForRowAtIndexPath(IndexPath{0, 1}), nullptr);
    EXPECT_EQ(table->cellForRowAtIndexPath(IndexPath{0, 0})->textLabel()->text(), QStringLiteral("P1 准备材料"));
    EXPECT_EQ(table->cellForRowAtIndexPath(IndexPath{0, 1})->detailTextLabel()->text(), QStringLiteral("已缓存"));
    EXPECT_NE(table->cellForRowAtIndexPath(IndexPath{0, 0})->detailTextLabel()->text(), QStringLiteral("已缓存"));
    EXPECT_FALSE(picker->nextButton()->isEnabled());

    // Nothing ticked goes nowhere; then P1 to P3.
    tap(picker->nextButton());
    EXPECT_EQ(page->offlineCaching()->pagePicker(), picker);
    for (int row = 0; row < 3; ++row)
        tapRow(table, row);
    EXPECT_EQ(table->cellForRowAtIndexPath(IndexPath{0, 1})->accessoryType(), TableViewCellAccessoryCheckmark);
    EXPECT_EQ(table->cellForRowAtIndexPath(IndexPath{0, 2})->accessibilityValue(), QStringLiteral("已选"));
    EXPECT_EQ(picker->nextButton()->title(ControlStateNormal), QStringLiteral("下一步（3）"));
    tap(picker->nextButton());
    EXPECT_EQ(page->offlineCaching()->pagePicker(), nullptr);
    EXPECT_EQ(page->offlineCaching()->batchPageIndexes(), (QList<int>{0, 1, 2}));
    ASSERT_TRUE(advanceUntil([&] { return page->offlineCaching()->qualityPicker() != nullptr; }));
    EXPECT_EQ(page->offlineCaching()->qualityPicker()->titleLabel()->text(), QStringLiteral("缓存 3 个分 P · 选择清晰度"));
    chooseQuality(page, QStringLiteral("720P"));

    ASSERT_TRUE(waitForStatus(QStringLiteral("2 个分 P 已加入离线缓存，跳过 1 个已缓存项")));
    const qsizetype started = statuses.indexOf(QStringLiteral("已加入 3 个分 P · 正在准备 720P"));
    ASSERT_GE(started, 0);
    EXPECT_EQ(statuses.value(started + 1), QStringLiteral("正在准备 P1（1/3）· 720P"));
    EXPECT_TRUE(statuses.contains(QStringLiteral("正在准备 P3（3/3）· 720P")));
    EXPECT_FALSE(statuses.contains(QStringLiteral("正在准备 P2（2/3）· 720P")));
    EXPECT_FALSE(page->offlineCaching()->isResolving());
    EXPECT_TRUE(page->offlineCaching()->batchPageIndexes().isEmpty());
    const QString title = page->video()->title();
    QStringList titles = cachedTitles();
    titles.sort();
    QStringList expected{title + QStringLiteral(" · P1 准备材料"), QStringLiteral("P2"), title + QStringLiteral(" · P3 组装")};
    expected.sort();
    EXPECT_EQ(titles, expected);
    // The page itself still shows the whole video's title for the part it plays.
    EXPECT_EQ(page->offlineVideoForPageIndex(0)->title(), title);
}

TEST_F(OfflineCachingTest, ABatchCountsAPartItCouldNotResolve)
{
    testsupport::ConsoleCapture console;
    play.setUnresolvableCID(ServiceFixtures::kDetailCID + 2);
    KRVideoDetailViewController* page = open(detailVideo(), 3);
    storeCachedPart(page->offlineVideoForPageIndex(1), QStringLiteral("P2"));
    page->fullscreenCacheTapped();
    ASSERT_NE(page->offlineCaching()->pagePicker(), nullptr);
    tap(page->offlineCaching()->pagePicker()->footerButtons().at(1));
    // "全选" ticks the parts not cached yet; P2 is ticked by hand.
    EXPECT_EQ(page->offlineCaching()->pagePicker()->selectedPageIndexes(), (QList<int>{0, 2}));
    tapRow(page->offlineCaching()->pagePicker()->tableView(), 1);
    tap(page->offlineCaching()->pagePicker()->nextButton());
    chooseQuality(page, QStringLiteral("720P"));
    ASSERT_TRUE(waitForStatus(QStringLiteral("分 P 缓存完成 1/3，失败 1，跳过 1")));
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvaneOfflineBatch] resolve-failed page=3 cid=%1 requested=64 actual=0 error=")
                                     .arg(ServiceFixtures::kDetailCID + 2)));
    EXPECT_EQ(store()->cachedVideos().size(), 2);
}

TEST_F(OfflineCachingTest, ABatchGoesOnToItsLastPartAfterThePageIsLeft)
{
    testsupport::ConsoleCapture console;
    KRVideoDetailViewController* page = open(detailVideo(), 3);
    // P1's file waits at the gate, so the page leaves while the store downloads it.
    std::shared_ptr<testsupport::BodyGate> gate;
    const QList<std::shared_ptr<KRVideo>> parts = beginThreePartBatch(page, QStringLiteral("720P"), 64, gate);
    // While the page shows, it shows the batch's statuses.
    const qsizetype started = statuses.indexOf(QStringLiteral("已加入 3 个分 P · 正在准备 720P"));
    ASSERT_GE(started, 0);
    EXPECT_EQ(statuses.mid(started), (QStringList{QStringLiteral("已加入 3 个分 P · 正在准备 720P"), QStringLiteral("正在准备 P1（1/3）· 720P")}));
    auto* label = part<Label>(page, "danmakuStatusLabel");
    EXPECT_TRUE(label->isVisible());
    EXPECT_EQ(label->text(), QStringLiteral("正在准备 P1（1/3）· 720P"));

    leave(page);
    const qsizetype shown = statuses.size();
    // P2's address is held back: between two parts a page opened anew is told a caching is
    // being prepared and starts none of its own.
    play.setQualityFault(64, PlaybackFixtures::QualityFault::Held);
    gate->openTo(std::numeric_limits<qint64>::max());
    ASSERT_TRUE(advanceUntil([&] { return play.heldReplyCount() == 1; }));
    EXPECT_TRUE(store()->isVideoCached(*parts.at(0)));
    EXPECT_FALSE(store()->isDownloading());
    KRVideoDetailViewController* again = open(detailVideo(), 3);
    again->fullscreenCacheTapped();
    EXPECT_EQ(statuses.last(), QStringLiteral("正在准备缓存地址…"));
    EXPECT_EQ(again->offlineCaching()->pagePicker(), nullptr);
    EXPECT_TRUE(again->offlineCaching()->isResolving());
    leave(again);

    play.setQualityFault(64, PlaybackFixtures::QualityFault::None);
    play.releaseHeldReplies();
    ASSERT_TRUE(advanceUntil([&] { return store()->runningBatch() == nullptr && !store()->isDownloading(); }));
    // Every part chosen is in the index, each download told on the console; the page that
    // left shows nothing more.
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(store()->isVideoCached(*parts.at(i))) << i;
        EXPECT_TRUE(console.contains(QStringLiteral("[KorvaneOffline] finish key=%1 bytes=").arg(KROfflineVideoKey(parts.at(i))))) << i;
    }
    EXPECT_EQ(store()->cachedVideos().size(), 3);
    EXPECT_FALSE(console.contains(QStringLiteral("[KorvaneOfflineBatch]")));
    EXPECT_EQ(statuses.size(), shown + 1); // the second page's answer alone
}

TEST_F(OfflineCachingTest, A1080PBatchLeftByItsPageLogsWhatItCouldNotCache)
{
    testsupport::ConsoleCapture console;
    play.setUnresolvableCID(ServiceFixtures::kDetailCID + 2);
    KRVideoDetailViewController* page = open(detailVideo(), 3);
    std::shared_ptr<testsupport::BodyGate> gate;
    const QList<std::shared_ptr<KRVideo>> parts = beginThreePartBatch(page, QStringLiteral("1080P"), 80, gate);
    leave(page);
    const qsizetype shown = statuses.size();
    gate->openTo(std::numeric_limits<qint64>::max());
    ASSERT_TRUE(advanceUntil([&] { return store()->runningBatch() == nullptr && !store()->isDownloading(); }));
    for (int i = 0; i < 2; ++i) {
        const KROfflineRecord record = store()->recordForKey(KROfflineVideoKey(parts.at(i)));
        EXPECT_EQ(record.value(QStringLiteral("media_kind")).toString(), QStringLiteral("dash")) << i;
        EXPECT_EQ(record.value(QStringLiteral("quality_title")).toString(), QStringLiteral("1080P")) << i;
    }
    EXPECT_FALSE(store()->isVideoCached(*parts.at(2)));
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvaneOfflineBatch] dash-resolve-failed page=3 cid=%1 requested=80 error=")
                                     .arg(ServiceFixtures::kDetailCID + 2)));
    EXPECT_EQ(statuses.size(), shown);
}

TEST_F(OfflineCachingTest, APageLeftWithItsQualityPickerShowingCachesNoneOfThePartsChosen)
{
    KRVideoDetailViewController* page = open(detailVideo(), 3);
    cacheFromMore(page);
    chooseParts(page, {0, 1, 2});
    ASSERT_TRUE(advanceUntil([&] { return page->offlineCaching()->qualityPicker() != nullptr; }));
    QPointer<KRVideoOfflineQualityPicker> picker = page->offlineCaching()->qualityPicker();
    const int requests = play.playRequestCount();
    leave(page);
    EXPECT_FALSE(picker);
    for (int i = 0; i < 20; ++i) {
        platform::MainClock::advanceForTesting(0.1);
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(store()->runningBatch(), nullptr);
    EXPECT_FALSE(store()->isDownloading());
    EXPECT_EQ(play.playRequestCount(), requests);
    EXPECT_TRUE(store()->cachedVideos().isEmpty());
}

TEST_F(OfflineCachingTest, AReplyAfterThePageLeftIsDropped)
{
    KRVideoDetailViewController* page = open(singlePartVideo(), 1);
    page->fullscreenCacheTapped();
    ASSERT_TRUE(advanceUntil([&] { return page->offlineCaching()->qualityPicker() != nullptr; }));
    play.setQualityFault(64, PlaybackFixtures::QualityFault::Held);
    chooseQuality(page, QStringLiteral("720P"));
    ASSERT_TRUE(advanceUntil([&] { return play.heldReplyCount() == 1; }));
    nav->popViewControllerAnimated(false);
    AnimationClock::finishAll();
    play.setQualityFault(64, PlaybackFixtures::QualityFault::None);
    play.releaseHeldReplies();
    ASSERT_TRUE(advanceUntil([&] { return play.heldReplyCount() == 0; }));
    for (int i = 0; i < 20; ++i) {
        platform::MainClock::advanceForTesting(0.1);
        QCoreApplication::processEvents();
    }
    EXPECT_FALSE(store()->isDownloading());
    EXPECT_TRUE(store()->cachedVideos().isEmpty());
    EXPECT_FALSE(statuses.contains(QStringLiteral("已加入离线缓存 · 可在“我的”查看进度")));
}

// ---- the page's life ----

TEST_F(OfflineCachingTest, LeavingThePageTakesThePickersAndTheirChoicesAway)
{
    KRVideoDetailViewController* page = open(detailVideo(), 3);
    page->fullscreenCacheTapped();
    QPointer<KRVideoOfflinePagePicker> picker = page->offlineCaching()->pagePicker();
    ASSERT_TRUE(picker);
    tapRow(picker->tableView(), 0);
    tapRow(picker->tableView(), 2);
    tap(picker->nextButton());
    ASSERT_TRUE(advanceUntil([&] { return page->offlineCaching()->qualityPicker() != nullptr; }));
    QPointer<KRVideoOfflineQualityPicker> quality = page->offlineCaching()->qualityPicker();
    EXPECT_EQ(page->offlineCaching()->batchPageIndexes(), (QList<int>{0, 2}));

    // Another screen over the page: the pickers go and the parts chosen with them.
    nav->pushViewController(new ViewController(), false);
    AnimationClock::finishAll();
    flushDeferredDeletes();
    EXPECT_FALSE(quality);
    EXPECT_EQ(page->offlineCaching()->qualityPicker(), nullptr);
    EXPECT_TRUE(page->offlineCaching()->batchPageIndexes().isEmpty());
    nav->popViewControllerAnimated(false);
    AnimationClock::finishAll();

    // Back again, the part picker starts afresh; the page going takes it along.
    page->fullscreenCacheTapped();
    picker = page->offlineCaching()->pagePicker();
    ASSERT_TRUE(picker);
    EXPECT_TRUE(picker->selectedPageIndexes().isEmpty());
    // The backdrop cancels.
    tap(picker->findChild<Button*>(QStringLiteral("offlinePagePickerBackdrop")));
    flushDeferredDeletes();
    EXPECT_FALSE(picker);
    page->fullscreenCacheTapped();
    picker = page->offlineCaching()->pagePicker();
    ASSERT_TRUE(picker);
    nav->popViewControllerAnimated(false);
    AnimationClock::finishAll();
    flushDeferredDeletes();
    EXPECT_FALSE(picker);
}

TEST_F(OfflineCachingTest, APageGoingWithItsPickersOpenTakesThemAlong)
{
    KRVideoDetailViewController* page = open(detailVideo(), 3);
    nav->popViewControllerAnimated(false);
    AnimationClock::finishAll();
    // Taken out of its stack but alive, as a page that a window keeps; then it goes.
    page->setParent(nullptr);
    page->showOfflinePagePicker();
    page->showOfflineQualityActionSheetFromView(page->view());
    QPointer<KRVideoOfflinePagePicker> parts = page->offlineCaching()->pagePicker();
    ASSERT_TRUE(parts);
    delete page;
    EXPECT_FALSE(parts);
}

TEST_F(OfflineCachingTest, PickersFollowTheThemeAndTheLayout)
{
    KRVideoDetailViewController* page = open(detailVideo(), 3);
    page->fullscreenCacheTapped();
    KRVideoOfflinePagePicker* picker = page->offlineCaching()->pagePicker();
    ASSERT_NE(picker, nullptr);
    EXPECT_EQ(picker->panel()->frame(), QRectF(16, std::floor((603 - (46 + 3 * 48 + 50)) / 2.0), 343, 46 + 3 * 48 + 50));
    EXPECT_EQ(picker->tableView()->frame(), QRectF(0, 46, 343, 3 * 48));
    const QColor before = picker->panel()->backgroundColor().color();
    KRTheme::sharedTheme()->setStyle(1);
    EXPECT_EQ(picker->panel()->backgroundColor().color(), KRTheme::sharedTheme()->surfaceColor());
    EXPECT_NE(picker->panel()->backgroundColor().color(), before);
    // A shorter view keeps the panel inside it, the rows scrolling.
    page->view()->setFrame(QRectF(0, 64, 320, 300));
    page->view()->layoutIfNeeded();
    EXPECT_EQ(picker->frame().size(), QSizeF(320, 300));
    EXPECT_LE(picker->panel()->frame().height(), 300 - 40);
    EXPECT_EQ(picker->panel()->frame().width(), 288);
}

} // namespace

namespace {

TEST_F(OfflineCachingTest, AStatusStillShowingWhenTheWindowGoesFirstIsLeftAlone)
{
    KRVideoDetailViewController* page = open(singlePartVideo(), 1);
    page->fullscreenCacheTapped(); // "正在打开缓存清晰度…", hidden 2 s later
    nav->popViewControllerAnimated(false);
    AnimationClock::finishAll();
    QPointer<KRVideoDetailViewController> popped(page);
    // The window goes with the page's views while the popped page waits for its deletion.
    window.reset();
    for (int i = 0; i < 30; ++i) {
        platform::MainClock::advanceForTesting(0.1);
        QCoreApplication::processEvents();
    }
    flushDeferredDeletes();
    EXPECT_FALSE(popped);
}

} // namespace

// ---- what a user meets choosing from "更多" ----

TEST_F(OfflineCachingTest, ABatchAt1080PKeepsEachPartAsItsPictureAndSoundAndLogsThePartItCouldNotResolve)
{
    testsupport::ConsoleCapture console;
    play.setUnresolvableCID(ServiceFixtures::kDetailCID + 2);
    KRVideoDetailViewController* page = open(detailVideo(), 3);
    cacheFromMore(page);
    chooseParts(page, {0, 1, 2});
    chooseQuality(page, QStringLiteral("1080P"));
    ASSERT_TRUE(waitForStatus(QStringLiteral("分 P 缓存完成 2/3，失败 1，跳过 0"))) << statuses.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(statuses.contains(QStringLiteral("已加入 3 个分 P · 正在准备 1080P")));
    EXPECT_TRUE(statuses.contains(QStringLiteral("正在准备 P3（3/3）· 1080P")));
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvaneOfflineBatch] dash-resolve-failed page=3 cid=%1 requested=80 error=")
                                     .arg(ServiceFixtures::kDetailCID + 2)));
    EXPECT_TRUE(console.contains(QStringLiteral("dash-resolve-failed page=3 cid=%1 requested=80 error=KRAccountErrorDomain(-404)")
                                     .arg(ServiceFixtures::kDetailCID + 2)));
    ASSERT_TRUE(waitForDownloadsToEnd());
    for (int i = 0; i < 2; ++i) {
        const KROfflineRecord record = store()->recordForKey(KROfflineVideoKey(page->offlineVideoForPageIndex(i)));
        EXPECT_EQ(record.value(QStringLiteral("media_kind")).toString(), QStringLiteral("dash")) << i;
        EXPECT_EQ(record.value(QStringLiteral("quality_value")).toInt(), 80) << i;
        EXPECT_EQ(record.value(QStringLiteral("quality_title")).toString(), QStringLiteral("1080P")) << i;
        EXPECT_TRUE(QFile::exists(store()->cacheDirectory() + QLatin1Char('/') + record.value(QStringLiteral("dash_video_file_name")).toString()));
        EXPECT_TRUE(QFile::exists(store()->cacheDirectory() + QLatin1Char('/') + record.value(QStringLiteral("dash_audio_file_name")).toString()));
    }
    EXPECT_FALSE(store()->isVideoCached(*page->offlineVideoForPageIndex(2)));
}

TEST_F(OfflineCachingTest, ABatchLogsEachDownloadThatFailed)
{
    testsupport::ConsoleCapture console;
    KRVideoDetailViewController* page = open(detailVideo(), 3);
    // The 720p file is gone from both addresses: P1's download fails.
    play.setMediaFault(64, PlaybackFixtures::MediaFault::Missing);
    cacheFromMore(page);
    chooseParts(page, {0});
    chooseQuality(page, QStringLiteral("720P"));
    ASSERT_TRUE(waitForStatus(QStringLiteral("分 P 缓存完成 0/1，失败 1，跳过 0"))) << statuses.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvaneOfflineBatch] download-failed page=1 cid=%1 message=").arg(ServiceFixtures::kDetailCID)));

    // The 1080P picture is gone: P2's pair fails.
    statuses.clear();
    play.setMediaFault(80, PlaybackFixtures::MediaFault::Missing);
    cacheFromMore(page);
    chooseParts(page, {1});
    chooseQuality(page, QStringLiteral("1080P"));
    ASSERT_TRUE(waitForStatus(QStringLiteral("分 P 缓存完成 0/1，失败 1，跳过 0"))) << statuses.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(
        console.contains(QStringLiteral("[KorvaneOfflineBatch] dash-download-failed page=2 cid=%1 message=").arg(ServiceFixtures::kDetailCID + 1)));
    EXPECT_TRUE(store()->cachedVideos().isEmpty());
}

TEST_F(OfflineCachingTest, ABatchOfPartsAllCachedAlreadyEndsAtOnce)
{
    KRVideoDetailViewController* page = open(detailVideo(), 3);
    storeCachedPart(page->offlineVideoForPageIndex(0), QStringLiteral("P1"));
    storeCachedPart(page->offlineVideoForPageIndex(1), QStringLiteral("P2"));
    cacheFromMore(page);
    chooseParts(page, {0, 1});
    ASSERT_TRUE(advanceUntil([&] { return page->offlineCaching()->qualityPicker() != nullptr; }));
    const int requests = play.playRequestCount();
    chooseQuality(page, QStringLiteral("720P"));
    EXPECT_EQ(statuses.value(statuses.size() - 2), QStringLiteral("已加入 2 个分 P · 正在准备 720P"));
    EXPECT_EQ(statuses.last(), QStringLiteral("0 个分 P 已加入离线缓存，跳过 2 个已缓存项"));
    EXPECT_FALSE(page->offlineCaching()->isResolving());
    EXPECT_FALSE(store()->isDownloading());
    EXPECT_EQ(play.playRequestCount(), requests);
}

TEST_F(OfflineCachingTest, ADownloadBegunElsewhereWhileAPickerIsOpenTurnsTheChoiceAway)
{
    // A batch: the store is busy by the time the quality is chosen.
    KRVideoDetailViewController* page = open(detailVideo(), 3);
    cacheFromMore(page);
    chooseParts(page, {0});
    ASSERT_TRUE(advanceUntil([&] { return page->offlineCaching()->qualityPicker() != nullptr; }));
    std::shared_ptr<testsupport::BodyGate> gate = downloadElsewhere(kSinglePartAID + 1);
    const int requests = play.playRequestCount();
    chooseQuality(page, QStringLiteral("720P"));
    EXPECT_EQ(statuses.last(), QStringLiteral("已有一个视频正在缓存"));
    EXPECT_FALSE(page->offlineCaching()->isResolving());
    EXPECT_EQ(play.playRequestCount(), requests);
    gate->openTo(std::numeric_limits<qint64>::max());
    ASSERT_TRUE(waitForDownloadsToEnd());
    nav->popViewControllerAnimated(false);
    AnimationClock::finishAll();
    flushDeferredDeletes();

    // One part, as a file and as a pair: the address is resolved, and the store refuses it.
    page = open(singlePartVideo(), 1);
    for (const QString& quality : {QStringLiteral("720P"), QStringLiteral("1080P")}) {
        statuses.clear();
        cacheFromMore(page);
        ASSERT_TRUE(advanceUntil([&] { return page->offlineCaching()->qualityPicker() != nullptr; }));
        gate = downloadElsewhere(kSinglePartAID + (quality == QStringLiteral("720P") ? 2 : 3));
        chooseQuality(page, quality);
        ASSERT_TRUE(waitForStatus(QStringLiteral("离线缓存启动失败"))) << statuses.join(QLatin1Char('|')).toStdString();
        EXPECT_TRUE(statuses.contains(QStringLiteral("正在准备 %1 缓存…").arg(quality)));
        EXPECT_FALSE(page->offlineCaching()->isResolving());
        EXPECT_FALSE(store()->isVideoCached(*page->video()));
        gate->openTo(std::numeric_limits<qint64>::max());
        ASSERT_TRUE(waitForDownloadsToEnd());
    }
    EXPECT_FALSE(store()->isVideoCached(*page->video()));
}

TEST_F(OfflineCachingTest, APartWithoutAnH264PairOrWithoutAnIdentityIsSaid)
{
    play.setCacheAnswer(PlaybackFixtures::kDASHQuality, PlaybackFixtures::CacheAnswer::HEVCOnly);
    KRVideoDetailViewController* page = open(singlePartVideo(), 1);
    cacheFromMore(page);
    chooseQuality(page, QStringLiteral("1080P"));
    ASSERT_TRUE(waitForStatus(QStringLiteral("1080P 没有可缓存的 H.264/AAC 双轨"))) << statuses.join(QLatin1Char('|')).toStdString();
    EXPECT_FALSE(store()->isDownloading());
    EXPECT_FALSE(page->offlineCaching()->isResolving());
    nav->popViewControllerAnimated(false);
    AnimationClock::finishAll();
    flushDeferredDeletes();

    // No detail to be had, and the list gave no cid: the part cannot be named for caching.
    const QString api = KRServiceHosts::apiHost();
    fake.routeReply(api, QStringLiteral("/x/web-interface/view"), ServiceFixtures::serverFailure());
    fake.routeReply(api, QStringLiteral("/x/player/pagelist"), ServiceFixtures::serverFailure());
    fake.routeReply(KRServiceHosts::oldAPIHost(), QStringLiteral("/view"), ServiceFixtures::serverFailure());
    std::shared_ptr<KRVideo> listed = singlePartVideo(kSinglePartAID + 1);
    listed->setCid(0);
    statuses.clear();
    page = push(listed);
    QObject::connect(page->offlineCaching(), &KRVideoOfflineCaching::statusShown, [this](const QString& text) { statuses.append(text); });
    cacheFromMore(page);
    EXPECT_EQ(statuses.value(0), QStringLiteral("正在读取视频缓存信息…"));
    ASSERT_TRUE(waitForStatus(QStringLiteral("视频缓存标识尚未解析"))) << statuses.join(QLatin1Char('|')).toStdString();
    EXPECT_FALSE(page->offlineCaching()->isWaitingForDetail());
    EXPECT_EQ(page->offlineCaching()->qualityPicker(), nullptr);
    EXPECT_EQ(page->offlineCaching()->pagePicker(), nullptr);
}

TEST_F(OfflineCachingTest, AnAnswerForAPartThePageNoLongerShowsIsDropped)
{
    // The list still had an older cid; the detail that names the part's own comes late.
    auto detailGate = std::make_shared<AnswerGate>();
    fake.route(KRServiceHosts::apiHost(), QStringLiteral("/x/web-interface/view"), [detailGate](const testsupport::FakeRequest& request) {
        detailGate->wait();
        return ServiceFixtures::detailReply(request);
    });
    std::shared_ptr<KRVideo> listed = singlePartVideo();
    const qint64 current = listed->cid();
    listed->setCid(current + 40);
    KRVideoDetailViewController* page = push(listed);
    QObject::connect(page->offlineCaching(), &KRVideoOfflineCaching::statusShown, [this](const QString& text) { statuses.append(text); });
    cacheFromMore(page);
    ASSERT_TRUE(advanceUntil([&] { return page->offlineCaching()->qualityPicker() != nullptr; }));
    play.setQualityFault(64, PlaybackFixtures::QualityFault::Held);
    chooseQuality(page, QStringLiteral("720P"));
    ASSERT_TRUE(advanceUntil([&] { return play.heldReplyCount() == 1; }));
    EXPECT_EQ(statuses.last(), QStringLiteral("正在准备 720P 缓存…"));

    detailGate->release();
    ASSERT_TRUE(advanceUntil([&] { return page->video()->cid() == current; }));
    play.setQualityFault(64, PlaybackFixtures::QualityFault::None);
    play.releaseHeldReplies();
    ASSERT_TRUE(advanceUntil([&] { return !page->offlineCaching()->isResolving(); }));
    EXPECT_EQ(statuses.last(), QStringLiteral("正在准备 720P 缓存…"));
    EXPECT_FALSE(store()->isDownloading());
    EXPECT_TRUE(store()->cachedVideos().isEmpty());
}

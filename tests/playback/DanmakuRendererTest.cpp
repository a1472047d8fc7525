#include "playback/KRDanmakuRenderer.h"

#include "DanmakuLanes.h"

#include "platform/device/DeviceProfile.h"
#include "platform/foundation/MainClock.h"
#include "platform/uikit/AnimationClock.h"
#include "store/KRPreferences.h"
#include "support/TestSupport.h"

#include <QHash>
#include <QImage>
#include <QSet>
#include <QPainter>

#include <cmath>

#include <gtest/gtest.h>

namespace {

std::shared_ptr<KRDanmaku> makeDanmaku(qint64 id, double time, int mode = 1, const QString& text = QString())
{
    auto danmaku = std::make_shared<KRDanmaku>();
    danmaku->setDanmakuID(id);
    danmaku->setTime(time);
    danmaku->setMode(mode);
    danmaku->setFontSize(25);
    danmaku->setColorRGB(0xffffff);
    danmaku->setText(text);
    return danmaku;
}

// An old small phone with fresh settings: screen factor 1, area 50 %, font level 100.
class DanmakuRendererTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform::DeviceProfile::setMachineForTesting(QStringLiteral("iPhone5,1"));
        renderer = std::make_unique<KRDanmakuRenderer>();
        renderer->resize(320, 180);
    }
    void TearDown() override
    {
        renderer.reset();
        platform::DeviceProfile::resetForTesting();
    }

    std::vector<QRectF> frames() const
    {
        std::vector<QRectF> result;
        for (const auto& item : renderer->activeItems())
            result.push_back(item.frame);
        return result;
    }

    std::unique_ptr<KRDanmakuRenderer> renderer;
};

TEST_F(DanmakuRendererTest, LanesFollowTheAreaAndTheSettings)
{
    EXPECT_EQ(renderer->trackHeight(), 22);
    EXPECT_EQ(renderer->usableContentRect(), QRectF(0, 0, 320, 90));
    EXPECT_EQ(renderer->scrollTrackCount(), 4);
    EXPECT_EQ(renderer->fixedTrackCount(), 2);
    EXPECT_FALSE(renderer->testAttribute(Qt::WA_TransparentForMouseEvents) == false);

    // Insets come off the area before the share is taken.
    renderer->setContentInsets({10, 4, 30, 6});
    EXPECT_EQ(renderer->usableContentRect(), QRectF(4, 10, 310, 70));
    EXPECT_EQ(renderer->scrollTrackCount(), 3);
    EXPECT_EQ(renderer->fixedTrackCount(), 1);
}

TEST_F(DanmakuRendererTest, ScrollingLinesSpawnMoveAndResetAsFed)
{
    KRDanmakuList list;
    for (int id = 1; id <= 5; ++id)
        list.append(makeDanmaku(id, 10.0));
    renderer->setDanmakus(list);

    renderer->updateWithPlaybackTime(10.0, true);
    EXPECT_EQ(frames(), (std::vector<QRectF>{{320, 2, 20, 22}, {320, 24, 20, 22}, {320, 46, 20, 22}}));

    renderer->updateWithPlaybackTime(10.1, true);
    ASSERT_EQ(renderer->activeCount(), 4);
    const auto& items = renderer->activeItems();
    EXPECT_EQ(items[3].danmaku->danmakuID(), 4);
    EXPECT_EQ(items[3].frame.y(), 68);
    for (const auto& item : items)
        EXPECT_NEAR(item.frame.x(), 312.8, 1e-9);

    renderer->updateWithPlaybackTime(11.5, true);
    ASSERT_EQ(renderer->activeCount(), 4); // id 5 found no lane and was passed for good
    for (const auto& item : renderer->activeItems())
        EXPECT_NEAR(item.frame.x(), 212.0, 1e-9);

    // More than 1.5 s ahead resets: nothing between is shown.
    renderer->updateWithPlaybackTime(13.1, true);
    EXPECT_EQ(renderer->activeCount(), 0);
}

TEST_F(DanmakuRendererTest, FeedsBackwardOrFarAheadReset)
{
    KRDanmakuList list{makeDanmaku(1, 9.9), makeDanmaku(2, 10.0), makeDanmaku(3, 11.0)};
    renderer->setDanmakus(list);
    renderer->updateWithPlaybackTime(9.9, true);
    renderer->updateWithPlaybackTime(10.0, true);
    EXPECT_EQ(renderer->activeCount(), 2);
    renderer->updateWithPlaybackTime(8.0, true); // more than 0.3 s back
    EXPECT_EQ(renderer->activeCount(), 0);
    renderer->updateWithPlaybackTime(12.0, true); // more than 1.5 s ahead of 8.0
    EXPECT_EQ(renderer->activeCount(), 0);
}

TEST_F(DanmakuRendererTest, FixedLinesCentreAndNeverDrawnModesTakeNoLane)
{
    // Ids that pass density 80.
    KRDanmakuList list{makeDanmaku(1, 20.0, 5), makeDanmaku(2, 20.0, 4), makeDanmaku(3, 20.0, 7),
                       makeDanmaku(4, 20.0, 8), makeDanmaku(5, 20.0, 9)};
    renderer->setDanmakus(list);
    renderer->updateWithPlaybackTime(20.0, true);
    renderer->updateWithPlaybackTime(20.05, true);
    EXPECT_EQ(frames(), (std::vector<QRectF>{{150, 2, 20, 22}, {150, 66, 20, 22}}));
    EXPECT_EQ(renderer->activeItems()[0].displayMode, 5);
    EXPECT_EQ(renderer->activeItems()[1].displayMode, 4);
    renderer->updateWithPlaybackTime(21.0, true);
    renderer->updateWithPlaybackTime(22.0, true);
    renderer->updateWithPlaybackTime(23.0, true);
    EXPECT_EQ(renderer->activeCount(), 2);
    renderer->updateWithPlaybackTime(23.5, true);
    EXPECT_EQ(renderer->activeCount(), 0);

    // Modes 7 to 9 alone: nothing shown, every lane still free for the next line.
    renderer->setDanmakus({makeDanmaku(3, 30.0, 7), makeDanmaku(4, 30.0, 8), makeDanmaku(5, 30.0, 9), makeDanmaku(6, 30.0, 1)});
    renderer->updateWithPlaybackTime(30.0, true);
    ASSERT_EQ(renderer->activeCount(), 1);
    EXPECT_EQ(renderer->activeItems()[0].track, 0);
}

TEST_F(DanmakuRendererTest, DensityKeepsTheSameSubsetOnEveryReplay)
{
    std::vector<qint64> dropped;
    for (qint64 id = 1; id <= 20; ++id) {
        auto danmaku = makeDanmaku(id, 1);
        if (!KRDanmakuPassesDensity(danmaku.get(), 60))
            dropped.push_back(id);
        EXPECT_TRUE(KRDanmakuPassesDensity(danmaku.get(), 100));
        EXPECT_FALSE(KRDanmakuPassesDensity(danmaku.get(), 0));
    }
    EXPECT_EQ(dropped, (std::vector<qint64>{7, 10, 11, 18, 20}));
    // Without an id the time, text and sender decide, the same way each time.
    auto anonymous = makeDanmaku(0, 12.345, 1, QStringLiteral("同一条"));
    const bool first = KRDanmakuPassesDensity(anonymous.get(), 50);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(KRDanmakuPassesDensity(anonymous.get(), 50), first);
    EXPECT_TRUE(KRDanmakuPassesDensity(nullptr, 20));
}

TEST_F(DanmakuRendererTest, TheUsersOwnDanmakuShowsOnce)
{
    // The feed's cursor lies before the new line: it must not bring it a second time.
    KRDanmakuList list{makeDanmaku(1, 5.0, 1, QStringLiteral("早")), makeDanmaku(2, 5.15, 1, QStringLiteral("接着")),
                       makeDanmaku(3, 20.0, 1, QStringLiteral("晚"))};
    renderer->setDanmakus(list);
    renderer->updateWithPlaybackTime(5.0, true);
    ASSERT_EQ(renderer->activeCount(), 1);
    // Sent at 5.3 while the feed still waits for the line of 5.15.
    auto own = makeDanmaku(0, 5.3, 1, QStringLiteral("我的弹幕"));
    EXPECT_TRUE(renderer->insertAndDisplayDanmaku(own, 5.3));
    EXPECT_EQ(renderer->activeCount(), 2);
    EXPECT_EQ(renderer->danmakus().size(), 4);
    for (double t = 5.2; t < 6.0; t += 0.1)
        renderer->updateWithPlaybackTime(t, true);
    int shownOwn = 0;
    for (const auto& item : renderer->activeItems())
        shownOwn += item.danmaku == own;
    EXPECT_EQ(shownOwn, 1);
    EXPECT_EQ(renderer->activeCount(), 3);

    // A seek back replays it, as any other line.
    renderer->resetForPlaybackTime(5.25);
    renderer->updateWithPlaybackTime(5.3, true);
    shownOwn = 0;
    for (const auto& item : renderer->activeItems())
        shownOwn += item.danmaku == own;
    EXPECT_EQ(shownOwn, 1);

    // Empty text, a disabled renderer or a time that is not finite show nothing.
    EXPECT_FALSE(renderer->insertAndDisplayDanmaku(makeDanmaku(0, 6, 1, QString()), 6));
    EXPECT_FALSE(renderer->insertAndDisplayDanmaku(makeDanmaku(0, 6, 1, QStringLiteral("x")), std::nan("")));
    EXPECT_FALSE(renderer->insertAndDisplayDanmaku(nullptr, 6));
}

TEST_F(DanmakuRendererTest, OwnDanmakuTakesTheOldestPlaceWhenAllIsBusy)
{
    KROptionalError none;
    KRPreferences::sharedPreferences().setDanmakuMaximumActive(8); // 8 lines, no overlap
    KRDanmakuList list;
    for (int id = 1; id <= 12; ++id)
        list.append(makeDanmaku(id, 1.0 + id * 0.001, 1, QStringLiteral("满屏弹幕")));
    renderer->setDanmakus(list);
    for (int i = 0; i < 4; ++i)
        renderer->updateWithPlaybackTime(1.0 + i * 0.02, true);
    ASSERT_EQ(renderer->activeCount(), 4); // every scroll lane busy
    const auto oldest = renderer->activeItems().front().danmaku;
    auto own = makeDanmaku(0, 1.1, 1, QStringLiteral("自己的"));
    EXPECT_TRUE(renderer->insertAndDisplayDanmaku(own, 1.1));
    ASSERT_EQ(renderer->activeCount(), 4);
    EXPECT_NE(renderer->activeItems().front().danmaku, oldest);
    EXPECT_EQ(renderer->activeItems().back().danmaku, own);
}

TEST_F(DanmakuRendererTest, LinesAfterTheUsersOwnStillWaitForTheirLanes)
{
    // Every lane busy when the user sends a line: it takes the oldest line's place, and the
    // part's next lines still wait until their lanes are free, rather than entering lanes whose
    // lines have only just come in.
    KRPreferences::sharedPreferences().setDanmakuMaximumActive(12);
    KRDanmakuList list;
    qint64 id = 1;
    for (double time = 1.0; time < 8; time += 0.05, ++id)
        list.append(makeDanmaku(id, time, 1, QStringLiteral("满屏弹幕满屏").left(2 + int(id % 5))));
    renderer->setDanmakus(list);
    std::shared_ptr<KRDanmaku> own;
    for (int tick = 10; tick <= 70; ++tick) {
        const double feed = tick / 10.0;
        renderer->updateWithPlaybackTime(feed, true);
        if (tick == 30) {
            own = makeDanmaku(0, feed, 1, QStringLiteral("自己的"));
            EXPECT_TRUE(renderer->insertAndDisplayDanmaku(own, feed));
            EXPECT_EQ(renderer->activeItems().back().danmaku, own);
        }
        for (int frame = 0; frame < 6; ++frame) {
            const double time = feed + frame / 60.0;
            if (frame > 0)
                renderer->updateWithPlaybackTime(time, false);
            // The user's line had to go somewhere; no other line runs into another.
            std::vector<KRDanmakuDisplayItem> others;
            for (const auto& item : renderer->activeItems()) {
                if (item.danmaku != own)
                    others.push_back(item);
            }
            for (size_t a = 0; a < others.size(); ++a) {
                for (size_t b = a + 1; b < others.size(); ++b) {
                    if (others[a].track == others[b].track) {
                        EXPECT_FALSE(others[a].frame.intersects(others[b].frame)) << "at " << time << " lane " << others[a].track;
                    }
                }
            }
        }
    }
    ASSERT_NE(own, nullptr);

    // One lane, whose newest line has only just come in: the user's line still shows, in it.
    renderer->resize(320, 44);
    renderer->setDanmakus({makeDanmaku(1, 10.0, 1, QStringLiteral("第一条")), makeDanmaku(2, 11.0, 1, QStringLiteral("第二条"))});
    for (double t = 10.0; t < 11.15; t += 0.1)
        renderer->updateWithPlaybackTime(t, true);
    ASSERT_EQ(renderer->activeCount(), 2);
    auto mine = makeDanmaku(0, 11.2, 1, QStringLiteral("我的"));
    EXPECT_TRUE(renderer->insertAndDisplayDanmaku(mine, 11.2));
    ASSERT_EQ(renderer->activeCount(), 2);
    EXPECT_EQ(renderer->activeItems().back().danmaku, mine);
    EXPECT_EQ(renderer->activeItems().front().danmaku->danmakuID(), 2);
}

TEST_F(DanmakuRendererTest, LabelsAreSizedAndDrawnFromTheirImages)
{
    auto longText = makeDanmaku(1, 1.0, 1, QString(300, QChar(u'长')));
    auto coloured = makeDanmaku(2, 1.0, 1, QStringLiteral("红色"));
    coloured->setColorRGB(0xff0000);
    renderer->setDanmakus({longText, coloured});
    renderer->updateWithPlaybackTime(1.0, true);
    ASSERT_EQ(renderer->activeCount(), 2);
    EXPECT_EQ(renderer->activeItems()[0].labelWidth, 720);
    const auto& red = renderer->activeItems()[1];
    EXPECT_EQ(red.image.size(), QSize(int(red.labelWidth), 22));
    // Paused, the lines stay at their spawn place: the red one is drawn at the right edge.
    renderer->reloadVisibleDanmakusForPlaybackTime(2.0, false);
    ASSERT_EQ(renderer->activeCount(), 2);
    QImage canvas(320, 180, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::black);
    renderer->render(&canvas);
    int redPixels = 0;
    const QRectF frame = renderer->activeItems()[1].frame;
    for (int x = std::max(0, int(frame.left())); x < std::min(320, int(frame.right())); ++x)
        for (int y = int(frame.top()); y < int(frame.bottom()); ++y)
            redPixels += qRed(canvas.pixel(x, y)) > 80 && qGreen(canvas.pixel(x, y)) < 60;
    EXPECT_GT(redPixels, 10);
}

TEST_F(DanmakuRendererTest, ShrinkingHidesLinesWhoseLanesAreGone)
{
    KRDanmakuList list;
    for (int id = 1; id <= 4; ++id)
        list.append(makeDanmaku(id, 1.0 + id * 0.001));
    renderer->setDanmakus(list);
    renderer->updateWithPlaybackTime(1.0, true);
    renderer->updateWithPlaybackTime(1.05, true);
    ASSERT_EQ(renderer->activeCount(), 4);
    renderer->resize(320, 100); // 50 high: two lanes
    renderer->updateWithPlaybackTime(1.1, false);
    ASSERT_EQ(renderer->activeCount(), 4);
    int hidden = 0;
    for (const auto& item : renderer->activeItems())
        hidden += item.hidden;
    EXPECT_EQ(hidden, 2);
}

TEST_F(DanmakuRendererTest, DisplayLinkMovesLinesOnTheMainClock)
{
    platform::MainClock::setManualForTesting(true);
    platform::uikit::AnimationClock::setManual(true);
    QWidget superview;
    superview.resize(320, 180);
    renderer->setParent(&superview);
    renderer->setDanmakus({makeDanmaku(1, 10.0)});
    renderer->updateWithPlaybackTime(10.0, true);
    EXPECT_TRUE(renderer->isDisplayLinkRunning());
    // The lines follow the main clock between feeds, whatever the machine's speed.
    platform::MainClock::advanceForTesting(1.5);
    platform::uikit::AnimationClock::advance(1.0 / 60);
    EXPECT_NEAR(renderer->activeItems()[0].frame.x(), 212.0, 1e-9);
    renderer->updateWithPlaybackTime(11.5, false);
    EXPECT_FALSE(renderer->isDisplayLinkRunning());
    renderer->setParent(nullptr);
    platform::uikit::AnimationClock::setManual(false);
    platform::MainClock::setManualForTesting(false);
}

TEST_F(DanmakuRendererTest, UnlimitedSharesLanesAndOldPhonesSaveMemory)
{
    KRPreferences::sharedPreferences().setDanmakuMaximumActive(0);
    EXPECT_TRUE(renderer->allowsTrackOverlap());
    EXPECT_EQ(renderer->maximumSpawnPerTick(), 12u);
    KRDanmakuList list;
    for (int id = 1; id <= 6; ++id)
        list.append(makeDanmaku(id, 1.0 + id * 0.001));
    renderer->setDanmakus(list);
    renderer->updateWithPlaybackTime(1.0, true);
    ASSERT_EQ(renderer->activeCount(), 6);
    // Past the four lanes, lines share the lane that frees first (lowest index among equals).
    EXPECT_EQ(renderer->activeItems()[4].track, 0);
    EXPECT_EQ(renderer->activeItems()[5].track, 1);

    platform::DeviceProfile::setMachineForTesting(QStringLiteral("iPhone3,1"));
    KRDanmakuRenderer old;
    EXPECT_EQ(old.maximumActive(), 12u);
    EXPECT_EQ(old.displayLinkFrameInterval(), 2);
    EXPECT_FALSE(old.allowsTrackOverlap());
    EXPECT_EQ(old.maximumSpawnPerTick(), 3u);
}

TEST_F(DanmakuRendererTest, ALineHeldBackForSeveralFeedsStartsWhenItsLaneIsFree)
{
    // One scroll lane. A dense moment holds most of its lines back for several feeds: the one
    // that gets the lane at last must not enter already part-way across, into the tail of the
    // line before it.
    renderer->resize(320, 44);
    ASSERT_EQ(renderer->scrollTrackCount(), 1);
    KRDanmakuList list;
    list.append(makeDanmaku(1, 0.0, 1, QStringLiteral("好耶字幕君辛苦了这里好看")));
    renderer->setDanmakus(list);
    renderer->updateWithPlaybackTime(0.0, true);
    ASSERT_EQ(renderer->activeItems().size(), 1u);
    const double speed = 72;
    const double laneFree = (renderer->activeItems().front().labelWidth + 18) / speed;
    // The dense moment comes a little more than 0.28 s before the lane is free, on a feed.
    const double dense = std::floor((laneFree - 0.28) * 10) / 10;
    for (int i = 0; i < 200; ++i)
        list.append(makeDanmaku(2 + i, dense, 1, QStringLiteral("前方高能")));
    renderer->setDanmakus(list);
    renderer->resetForPlaybackTime(0.0);
    renderer->updateWithPlaybackTime(0.0, true);
    int laterLines = 0;
    for (int tick = 1; tick <= int(std::ceil((laneFree + 1.0) * 10)); ++tick) {
        renderer->updateWithPlaybackTime(tick / 10.0, true);
        for (int frame = 1; frame < 6; ++frame) {
            const double time = tick / 10.0 + frame / 60.0;
            renderer->updateWithPlaybackTime(time, false);
            const auto& items = renderer->activeItems();
            for (size_t a = 0; a < items.size(); ++a) {
                for (size_t b = a + 1; b < items.size(); ++b)
                    EXPECT_FALSE(items[a].frame.intersects(items[b].frame)) << "at " << time;
            }
            if (items.size() > 1)
                laterLines = std::max(laterLines, int(items.size()) - 1);
        }
    }
    // The lane did take a line of the dense moment, once it was free.
    EXPECT_GE(laterLines, 1);
}

TEST_F(DanmakuRendererTest, LinesOfOneLaneNeverOverlapInAThirtySecondRun)
{
    // A 16:9 picture on a 375-point phone at the default count: lines of every length, some
    // coming in bursts the spawn limit holds back, fed ten times a second and looked at in every
    // frame between the feeds.
    platform::DeviceProfile::setMachineForTesting(QStringLiteral("iPhone10,1"));
    KRPreferences::sharedPreferences().setDanmakuMaximumActive(12);
    renderer = std::make_unique<KRDanmakuRenderer>();
    renderer->resize(375, 211);
    ASSERT_EQ(renderer->maximumActive(), 12u);
    ASSERT_FALSE(renderer->allowsTrackOverlap());

    const QString sample = QStringLiteral("好耶字幕君辛苦了这里好看前方高能名场面来了哈哈哈");
    KRDanmakuList list;
    qint64 id = 1;
    quint32 seed = 29;
    auto next = [&seed](quint32 range) {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) % range;
    };
    for (double time = 0.5; time < 30; time += 0.05 + next(30) / 100.0) {
        const int burst = next(5) == 0 ? 6 : 1;
        for (int i = 0; i < burst; ++i) {
            const int mode = next(10) == 0 ? 5 : next(12) == 0 ? 4 : 1;
            list.append(makeDanmaku(id++, time, mode, sample.left(1 + int(next(quint32(sample.size()))))));
        }
    }
    renderer->setDanmakus(list);

    const double speed = 375 * 72.0 / 320;  // the area's one speed, points per second
    QSet<qint64> shown;
    int longLinesShown = 0;
    int lanesReusedByLongLines = 0;
    QHash<int, double> laneLastStart;
    for (int tick = 0; tick <= 300; ++tick) {
        const double feed = tick / 10.0;
        renderer->updateWithPlaybackTime(feed, true);
        for (int frame = 0; frame < 6; ++frame) {
            const double time = feed + frame / 60.0;
            if (frame > 0)
                renderer->updateWithPlaybackTime(time, false);  // positions only, as a frame does
            const auto& items = renderer->activeItems();
            for (size_t a = 0; a < items.size(); ++a) {
                const auto& first = items[a];
                if (!shown.contains(first.danmaku->danmakuID()) && first.displayMode == 1) {
                    if (first.labelWidth > 2.6 * speed - 18) {
                        ++longLinesShown;
                        if (laneLastStart.contains(first.track))
                            ++lanesReusedByLongLines;
                    }
                    laneLastStart.insert(first.track, first.startTime);
                }
                shown.insert(first.danmaku->danmakuID());
                for (size_t b = a + 1; b < items.size(); ++b) {
                    const auto& second = items[b];
                    const bool sameGroup = (first.displayMode == 4) == (second.displayMode == 4)
                                           && (first.displayMode == 5) == (second.displayMode == 5);
                    if (!sameGroup || first.track != second.track || first.hidden || second.hidden)
                        continue;
                    EXPECT_FALSE(first.frame.intersects(second.frame))
                        << "at " << time << " lane " << first.track << ": \"" << first.danmaku->text().toStdString()
                        << "\" and \"" << second.danmaku->text().toStdString() << "\"";
                }
            }
        }
    }
    // The run is busy enough to mean something: lines wider than the old 2.6 s bound came by
    // and found lanes used before them.
    EXPECT_GT(shown.size(), 40);
    EXPECT_GT(longLinesShown, 15);
    EXPECT_GT(lanesReusedByLongLines, 10);
}

TEST_F(DanmakuRendererTest, LinesKeepTheirLanesApartWhenTheAreaChangesWidth)
{
    // The picture grows to a full screen and back, and the area loses and regains room at its
    // sides, while a busy part plays: every scrolling line then moves at the new area's one
    // speed, from where it was, and no two lines of a lane run into each other.
    platform::DeviceProfile::setMachineForTesting(QStringLiteral("iPhone10,1"));
    KRPreferences::sharedPreferences().setDanmakuMaximumActive(12);
    renderer = std::make_unique<KRDanmakuRenderer>();
    renderer->resize(375, 211);
    ASSERT_FALSE(renderer->allowsTrackOverlap());

    const QString sample = QStringLiteral("好耶这里好看前方高能字幕君辛苦了名场面");
    KRDanmakuList list;
    qint64 id = 1;
    for (double time = 0.3; time < 24; time += 0.17, ++id)
        list.append(makeDanmaku(id, time, 1, sample.left(2 + int(id * 7 % 12))));
    renderer->setDanmakus(list);

    struct Change {
        double at;
        QSize size;
        platform::uikit::EdgeInsets insets;
    };
    const Change changes[] = {
        {4.05, {667, 375}, {}},         // full screen: wider, faster
        {9.55, {375, 211}, {}},         // back: narrower, slower
        {14.05, {375, 211}, {0, 60, 0, 60}}, // room kept free at both sides
        {18.55, {1024, 576}, {}},       // wider than the speed's cap
    };
    size_t nextChange = 0;
    QHash<qint64, double> lastX;
    int linesSeenMovingAfterAChange = 0;
    for (int tick = 0; tick <= 240; ++tick) {
        const double feed = tick / 10.0;
        renderer->updateWithPlaybackTime(feed, true);
        for (int frame = 0; frame < 6; ++frame) {
            const double time = feed + frame / 60.0;
            if (nextChange < std::size(changes) && time >= changes[nextChange].at) {
                renderer->resize(changes[nextChange].size);
                renderer->setContentInsets(changes[nextChange].insets);
                ++nextChange;
                lastX.clear();
            }
            if (frame > 0)
                renderer->updateWithPlaybackTime(time, false);
            const QStringList overlapping = danmakutest::overlappingLinesOfALane(*renderer);
            EXPECT_TRUE(overlapping.isEmpty()) << "at " << time << ": " << overlapping.join(QStringLiteral(", ")).toStdString();
            // One speed for every line, whether it came before the change or after.
            const double areaWidth = renderer->usableContentRect().width();
            const double speed = std::min(std::max(areaWidth, 240.0) * 72 / 320, 180.0);
            QHash<qint64, double> xs;
            for (const auto& item : renderer->activeItems()) {
                xs.insert(item.danmaku->danmakuID(), item.frame.x());
                if (frame > 0 && lastX.contains(item.danmaku->danmakuID())
                    && item.frame.right() < renderer->usableContentRect().right() - 1) {
                    EXPECT_NEAR(lastX.value(item.danmaku->danmakuID()) - item.frame.x(), speed / 60, 1e-6)
                        << "line " << item.danmaku->danmakuID() << " at " << time;
                    linesSeenMovingAfterAChange += nextChange > 0;
                }
            }
            lastX = xs;
        }
    }
    EXPECT_EQ(nextChange, std::size(changes));
    EXPECT_GT(linesSeenMovingAfterAChange, 500);
}

} // namespace

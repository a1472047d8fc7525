// The faults quality switches meet, as the fake service serves them: each through the real
// play-information client or the real transport on real media.
#include "PlayRouteTesting.h"

using testsupport::PlaybackFixtures;
using testsupport::ServiceFixtures;

class SwitchFixturesTest : public videotest::PlayRouteTest {};
using videotest::Finishes;
using videotest::InfoCalls;

TEST_F(SwitchFixturesTest, AServerErrorOfOneQualityLeavesTheOthersAnswering)
{
    play.setQualityFault(64, PlaybackFixtures::QualityFault::ServerError);
    KROptionalError error;
    EXPECT_FALSE(progressiveInfo(64, &error).has_value());
    EXPECT_TRUE(error.has_value());
    const std::optional<KRPlaybackInfo> low = progressiveInfo(16, &error);
    ASSERT_TRUE(low);
    EXPECT_FALSE(error.has_value());
    EXPECT_EQ(low->value(QStringLiteral("quality")).toInt(), 16);

    play.setQualityFault(64, PlaybackFixtures::QualityFault::None);
    EXPECT_TRUE(progressiveInfo(64).has_value());
}

TEST_F(SwitchFixturesTest, AHeldReplyWaitsForTheTestToReleaseIt)
{
    play.setQualityFault(80, PlaybackFixtures::QualityFault::Held);
    InfoCalls held;
    askDASH(80, held);
    KR_WAIT_UNTIL(play.heldReplyCount() == 1);
    // Other qualities are not held behind it.
    InfoCalls other;
    askDASH(16, other);
    const auto [otherInfo, otherError] = other.awaitOne();
    EXPECT_TRUE(otherInfo.has_value());
    EXPECT_TRUE(held.calls.isEmpty());
    EXPECT_EQ(play.heldReplyCount(), 1);

    play.releaseHeldReplies();
    const auto [info, error] = held.awaitOne();
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->value(QStringLiteral("quality")).toInt(), 80);
    EXPECT_EQ(play.heldReplyCount(), 0);
}

TEST_F(SwitchFixturesTest, FixturesGoingWhileAReplyIsHeldLetTheServerStop)
{
    auto own = std::make_unique<PlaybackFixtures>(fake);
    own->setQualityFault(64, PlaybackFixtures::QualityFault::Held);
    InfoCalls held;
    askProgressive(64, held);
    KR_WAIT_UNTIL(own->heldReplyCount() == 1);
    own.reset();
    const auto [info, error] = held.awaitOne();
    EXPECT_FALSE(info.has_value());
    EXPECT_TRUE(error.has_value());
}

TEST_F(SwitchFixturesTest, TheTVRouteErrorIsAServiceErrorOfThatRouteAlone)
{
    auto otherRoutes = [this] {
        return fake.requestsTo(QStringLiteral("/x/player/wbi/playurl")).size() + fake.requestsTo(QStringLiteral("/x/player/playurl")).size();
    };
    InfoCalls plain;
    askDASH(80, plain);
    ASSERT_TRUE(std::get<0>(plain.awaitOne()).has_value());
    EXPECT_EQ(otherRoutes(), 0);  // the TV route alone answers a healthy request

    play.setQualityFault(80, PlaybackFixtures::QualityFault::TVRouteError);
    InfoCalls calls;
    askDASH(80, calls);
    const auto [info80, error80] = calls.awaitOne();
    const QList<testsupport::FakeRequest> tv = fake.requestsTo(QStringLiteral("/x/tv/ugc/playurl"));
    ASSERT_EQ(tv.size(), 2);
    EXPECT_EQ(tv.last().queryValue(QStringLiteral("qn")).toInt(), 80);
    // The client's answer to the TV route's refusal is to ask another route, which answers.
    EXPECT_GE(otherRoutes(), 1);
    ASSERT_TRUE(info80.has_value());
    // The progressive route answers the same quality as usual.
    const std::optional<KRPlaybackInfo> info = progressiveInfo(80);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->value(QStringLiteral("quality")).toInt(), 64);
}

TEST_F(SwitchFixturesTest, AMissingStreamFailsWhileTheOldQualityStillPlays)
{
    play.setMediaFault(64, PlaybackFixtures::MediaFault::Missing);
    KRPlaybackTransport missing(play.progressiveURL(64));
    Finishes finishes(&missing);
    missing.prepareToPlay();
    KR_WAIT_UNTIL(!finishes.reasons.isEmpty());
    EXPECT_EQ(finishes.reasons, QList<int>{1});
    EXPECT_GE(play.mediaRequestCount(64), 1);

    KRPlaybackTransport old(play.progressiveURL(16));
    old.prepareToPlay();
    KR_WAIT_UNTIL(old.currentPlaybackTime() > 0.2);

    // The old source goes as well: a fresh player of it fails, from either address.
    play.setMediaFault(16, PlaybackFixtures::MediaFault::Missing);
    for (const QUrl& address : {play.progressiveURL(16), play.progressiveBackupURL(16)}) {
        KRPlaybackTransport gone(address);
        Finishes goneFinishes(&gone);
        gone.prepareToPlay();
        KR_WAIT_UNTIL(!goneFinishes.reasons.isEmpty());
        EXPECT_EQ(goneFinishes.reasons, QList<int>{1});
    }
}

TEST_F(SwitchFixturesTest, ACutStreamMakesThePlayerAskAgainAndThrottlingSlowsOnlyItsQuality)
{
    play.setMediaFault(64, PlaybackFixtures::MediaFault::Cut, 96 * 1024);
    KRPlaybackTransport cut(play.progressiveURL(64));
    cut.prepareToPlay();
    KR_WAIT_UNTIL(cut.currentPlaybackTime() > 0.3);
    EXPECT_GE(play.mediaRequestCount(64), 2);

    play.setMediaFault(16, PlaybackFixtures::MediaFault::Throttled);
    KRPlaybackTransport slow(play.progressiveURL(16));
    slow.prepareToPlay();
    KR_WAIT_UNTIL(slow.currentPlaybackTime() > 0.2);
}

TEST_F(SwitchFixturesTest, AStalledStreamSendsItsFirstBytesAndThenNothing)
{
    play.setMediaFault(16, PlaybackFixtures::MediaFault::Stall, 4096);
    KRPlaybackTransport stalled(play.progressiveURL(16));
    Finishes finishes(&stalled);
    stalled.prepareToPlay();
    KR_WAIT_UNTIL(play.mediaRequestCount(16) >= 1);
    // The 360p file needs far more than 4 KiB before it can play: the player cannot have started.
    KRPlaybackTransport other(play.progressiveURL(64));
    other.prepareToPlay();
    KR_WAIT_UNTIL(other.currentPlaybackTime() > 0.2);
    EXPECT_EQ(stalled.currentPlaybackTime(), 0);
    EXPECT_EQ(stalled.loadState() & 1u, 0u);
    EXPECT_TRUE(finishes.reasons.isEmpty());
}

TEST_F(SwitchFixturesTest, ThePortraitVideoPlaysTheSixSecondUprightClipFromEveryRoute)
{
    constexpr qint64 kPortraitCID = 990001;
    play.setPortraitCID(kPortraitCID);
    const std::optional<KRPlaybackInfo> info = progressiveInfo(64, nullptr, kPortraitCID);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->value(QStringLiteral("timelength")).toInt(), 6000);
    const QVariantMap entry = info->value(QStringLiteral("durl")).toList().value(0).toMap();
    EXPECT_EQ(entry.value(QStringLiteral("url")).toString(), play.portraitURL().toString());
    InfoCalls dash;
    askDASH(80, dash, kPortraitCID);
    const auto [dashInfo, dashError] = dash.awaitOne();
    ASSERT_TRUE(dashInfo);
    EXPECT_FALSE(dashInfo->contains(QStringLiteral("dash")));

    KRPlaybackTransport transport(play.portraitURL());
    transport.prepareToPlay();
    KR_WAIT_UNTIL(transport.currentPlaybackTime() > 0.2);
    EXPECT_EQ(transport.naturalSize(), QSizeF(360, 640));
    EXPECT_NEAR(transport.duration(), 6.0, 0.1);

    // Other videos keep their landscape clips.
    const std::optional<KRPlaybackInfo> other = progressiveInfo(64);
    ASSERT_TRUE(other);
    EXPECT_EQ(other->value(QStringLiteral("timelength")).toInt(), 12000);
}

// The play routes of the fake service through the real clients, the stream pickers and the
// players: what the video page will put together.
#include "account/AccountClientTesting.h"

#include "PlayRouteTesting.h"
#include "VideoTesting.h"
#include "model/KRDanmaku.h"
#include "platform/media/MediaNotifications.h"
#include "platform/media/MediaPlayer.h"
#include "platform/media/MediaSeams.h"
#include "platform/foundation/NotificationCenter.h"
#include "playback/KRDASHPlayback.h"
#include "playback/KRPlaybackTransport.h"
#include "service/KRDanmakuClient.h"
#include "support/PlaybackFixtures.h"
#include "playback/KRDASHStreams.h"
#include "playback/KRQualityTitles.h"

#include <cmath>

using namespace accounttest;
using testsupport::PlaybackFixtures;
using testsupport::ServiceFixtures;

namespace {

class PlaybackServiceTest : public videotest::PlayRouteTest {};
using videotest::Finishes;
using videotest::InfoCalls;

TEST_F(PlaybackServiceTest, TheDASHInformationYieldsTheH264PictureAndItsSoundAndPlaysInStep)
{
    const std::optional<KRPlaybackInfo> info = dashInfo(80);
    ASSERT_TRUE(info);
    EXPECT_EQ(fake.requestsTo(QStringLiteral("/x/tv/ugc/playurl")).size(), 1);
    const std::optional<QVariantMap> picture = KRDASHH264VideoStream(*info, 80);
    const std::optional<QVariantMap> sound = KRDASHBestAACStream(*info);
    ASSERT_TRUE(picture && sound);
    EXPECT_EQ(picture->value(QStringLiteral("codecid")).toInt(), 7);
    EXPECT_EQ(KRDASHStreamURLString(*picture), play.dashVideoURL(80).toString());
    EXPECT_EQ(KRDASHStreamURLString(*sound), play.dashAudioURL().toString());
    EXPECT_NE(KRDASHStreamURLString(*picture), play.hevcVideoURL().toString());

    // The options and their titles as the page lists them.
    QList<int> qualities;
    for (const QVariant& q : info->value(QStringLiteral("accept_quality")).toList())
        qualities.append(q.toInt());
    QStringList titles;
    for (const QVariant& t : info->value(QStringLiteral("accept_description")).toList())
        titles.append(t.toString());
    EXPECT_EQ(qualities, (QList<int>{120, 80, 64, 32, 16}));
    QStringList full;
    for (int q : qualities)
        full.append(KRQualityTitleForValue(q, qualities, titles));
    EXPECT_EQ(full, (QStringList{"4K", "1080P", "720P", "480P", "360P"}));

    KRPlaybackTransport transport(QUrl(KRDASHStreamURLString(*sound)));
    qobject_cast<platform::uikit::View*>(transport.view())->setFrame(QRectF(0, 0, 375, 210));
    KRDASHPlayback pair(&transport, QUrl(KRDASHStreamURLString(*picture)));
    int starts = 0;
    QObject::connect(&pair, &KRDASHPlayback::started, [&] { ++starts; });
    pair.start(0);
    KR_WAIT_UNTIL(starts == 1);
    EXPECT_EQ(pair.picturePlayer()->presentationSize(), QSizeF(1280, 720));
    EXPECT_EQ(transport.naturalSize(), QSizeF(0, 0));  // the sound alone
    KR_WAIT_UNTIL(transport.currentPlaybackTime() > 1.0);
    EXPECT_LE(std::abs(pair.drift()), KRDASHPlayback::kPlayingDriftLimit);
    EXPECT_TRUE(videotest::diagnosticsLog().contains(QStringLiteral("[dash-video-representation] requested=80 selected=80 codec=avc1.640028")));
}

TEST_F(PlaybackServiceTest, ProgressiveQualitiesComeWithABackupThatTakesOverFromAMissingFirst)
{
    const std::optional<KRPlaybackInfo> info = progressiveInfo(64);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->value(QStringLiteral("quality")).toInt(), 64);
    const QStringList candidates = KROfflineProgressiveCandidateURLStrings(info->value(QStringLiteral("durl")).toList().value(0));
    EXPECT_EQ(candidates, (QStringList{play.progressiveURL(64).toString(), play.progressiveBackupURL(64).toString()}));
    const std::optional<KRPlaybackInfo> low = progressiveInfo(16);
    ASSERT_TRUE(low);
    EXPECT_EQ(low->value(QStringLiteral("quality")).toInt(), 16);

    play.setFault(PlaybackFixtures::Fault::PrimaryMediaMissing);
    {
        KRPlaybackTransport first{QUrl(candidates.value(0))};
        Finishes finishes(&first);
        first.prepareToPlay();
        KR_WAIT_UNTIL(!finishes.reasons.isEmpty());
        EXPECT_EQ(finishes.reasons, QList<int>{1});
    }
    KRPlaybackTransport second{QUrl(candidates.value(1))};
    second.prepareToPlay();
    KR_WAIT_UNTIL(second.currentPlaybackTime() > 0.3);
    EXPECT_EQ(second.naturalSize(), QSizeF(1280, 720));
}

TEST_F(PlaybackServiceTest, FaultsOfThePlayRoutes)
{
    play.setFault(PlaybackFixtures::Fault::ServerError);
    KROptionalError error;
    EXPECT_FALSE(dashInfo(80, &error).has_value());
    EXPECT_TRUE(error.has_value());
    EXPECT_FALSE(progressiveInfo(16, &error).has_value());
    EXPECT_TRUE(error.has_value());

    play.setFault(PlaybackFixtures::Fault::Delay, 300);
    const int before = play.playRequestCount();
    EXPECT_TRUE(dashInfo(80).has_value());
    EXPECT_GT(play.playRequestCount(), before);

    play.setFault(PlaybackFixtures::Fault::AllMediaMissing);
    const std::optional<KRPlaybackInfo> info = progressiveInfo(16);
    ASSERT_TRUE(info);
    for (const QString& address : KROfflineProgressiveCandidateURLStrings(info->value(QStringLiteral("durl")).toList().value(0))) {
        KRPlaybackTransport transport{QUrl(address)};
        Finishes finishes(&transport);
        transport.prepareToPlay();
        KR_WAIT_UNTIL(!finishes.reasons.isEmpty());
        EXPECT_EQ(finishes.reasons, QList<int>{1});
    }
}

TEST_F(PlaybackServiceTest, ThrottledMediaStillStart)
{
    play.setFault(PlaybackFixtures::Fault::Throttled);
    KRPlaybackTransport transport(play.progressiveURL(16));
    transport.prepareToPlay();
    KR_WAIT_UNTIL(transport.currentPlaybackTime() > 0.2);
}

TEST_F(PlaybackServiceTest, DanmakuResumeAndHeartbeats)
{
    KRDanmakuList danmakus;
    bool done = false;
    KRDanmakuClient::sharedClient()->loadDanmakusForCID(kCID, nullptr, [&](const KRDanmakuList& list, const KROptionalError& error) {
        EXPECT_FALSE(error.has_value());
        danmakus = list;
        done = true;
    });
    KR_WAIT_UNTIL(done);
    EXPECT_EQ(danmakus.size(), 12);
    EXPECT_EQ(play.danmakuRequestCount(), 1);

    AccountFixtures::logInWebOnly();
    play.setResumeRecord(kCID, 42);
    Calls<const QVariant&, const KROptionalError&> resume;
    client()->loadPlaybackResumeForAID(kAID, kCID, nullptr, resume.recorder());
    const auto [record, resumeError] = resume.awaitOne();
    EXPECT_FALSE(resumeError.has_value());
    EXPECT_EQ(record.toMap().value(QStringLiteral("last_play_cid")).toLongLong(), kCID);
    EXPECT_EQ(record.toMap().value(QStringLiteral("last_play_time")).toInt(), 42);

    for (int type : {1, 0, 2}) {
        Calls<bool, const QString&, const QVariant&> beat;
        client()->reportPlaybackHeartbeatForAID(kAID, kCID, 1700000000, type, 5, 5, 12, 5, 80, nullptr, beat.recorder());
        EXPECT_TRUE(std::get<0>(beat.awaitOne()));
    }
    EXPECT_EQ(play.heartbeatPlayTypes(), (QList<int>{1, 0, 2}));
    EXPECT_EQ(play.heartbeats().first().value(QStringLiteral("cid")).toLongLong(), kCID);
}

} // namespace

#include "playback/KRPlaybackAudioSession.h"

#include "PlaybackTesting.h"
#include "platform/device/DeviceProfile.h"
#include "platform/foundation/MainClock.h"
#include "platform/media/AudioSession.h"
#include "platform/media/MediaNotifications.h"

#include <thread>

using namespace playbacktest;
using platform::media::AudioSession;

namespace {

class PlaybackAudioSessionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform::MainClock::setManualForTesting(true);
        KRDiagnostics::resetForTesting();
        KRPlaybackAudioSession::sharedSession()->resetForTesting();
        AudioSession::sharedInstance().resetForTesting();
    }
    void TearDown() override
    {
        KRPlaybackAudioSession::sharedSession()->resetForTesting();
        AudioSession::sharedInstance().resetForTesting();
        platform::DeviceProfile::resetForTesting();
        platform::MainClock::setManualForTesting(false);
    }
    KRPlaybackAudioSession* session = KRPlaybackAudioSession::sharedSession();
};

TEST_F(PlaybackAudioSessionTest, ActivationSetsTheCategoryOnce)
{
    EXPECT_TRUE(session->activateForPlaybackWithReason(QStringLiteral("online-player-start")));
    EXPECT_TRUE(diagnosticsLog().contains(QStringLiteral(
        "[audio-session-activate] reason=online-player-start category=YES changed=YES active=YES categoryError=/0 activeError=/0")));
    EXPECT_TRUE(AudioSession::sharedInstance().isActive());
    EXPECT_EQ(AudioSession::sharedInstance().category(), AudioSession::CategoryPlayback);
    EXPECT_TRUE(session->activateForPlaybackWithReason(QString()));
    EXPECT_TRUE(diagnosticsLog().contains(QStringLiteral(
        "[audio-session-activate] reason=unknown category=YES changed=NO active=YES categoryError=/0 activeError=/0")));
    // Not on an old system: nothing of the bridge.
    EXPECT_FALSE(diagnosticsLog().contains(QStringLiteral("legacy")));
}

TEST_F(PlaybackAudioSessionTest, FailuresAreReportedAndTheCategoryTriedAgain)
{
    auto& platformSession = AudioSession::sharedInstance();
    platformSession.failNextCallForTesting(QStringLiteral("setCategory"), platform::Error(QStringLiteral("NSOSStatusErrorDomain"), 561017449, {}));
    EXPECT_FALSE(session->activateForPlaybackWithReason(QStringLiteral("dash-controls-play")));
    EXPECT_TRUE(diagnosticsLog().contains(QStringLiteral(
        "category=NO changed=YES active=YES categoryError=NSOSStatusErrorDomain/561017449 activeError=/0")));
    platformSession.failNextCallForTesting(QStringLiteral("setActive"), platform::Error(QStringLiteral("NSOSStatusErrorDomain"), 560557684, {}));
    EXPECT_FALSE(session->activateForPlaybackWithReason(QStringLiteral("dash-controls-play")));
    EXPECT_TRUE(diagnosticsLog().contains(QStringLiteral(
        "category=YES changed=YES active=NO categoryError=/0 activeError=NSOSStatusErrorDomain/560557684")));
}

TEST_F(PlaybackAudioSessionTest, DeactivationWaitsAndAQuickRestartKeepsTheSession)
{
    session->activateForPlaybackWithReason(QStringLiteral("online-player-start"));
    session->markPlaybackInactive();
    EXPECT_TRUE(session->isDeactivationPending());
    session->activateForPlaybackWithReason(QStringLiteral("progressive-controls-play"));
    EXPECT_FALSE(session->isDeactivationPending());
    EXPECT_TRUE(AudioSession::sharedInstance().isActive());

    session->markPlaybackInactive();
    platform::MainClock::advanceForTesting(0.299);
    EXPECT_TRUE(AudioSession::sharedInstance().isActive()) << "the session stays 0.3 s after the last playback";
    platform::MainClock::advanceForTesting(0.001);
    EXPECT_TRUE(diagnosticsLog().contains(QStringLiteral("[audio-session-deactivate] success=YES domain= code=0")));
    EXPECT_FALSE(AudioSession::sharedInstance().isActive());
    EXPECT_EQ(countOf(diagnosticsLog(), QStringLiteral("[audio-session-deactivate]")), 1);

    // Nothing plays: reactivation does nothing.
    session->reactivateIfNeededWithReason(QStringLiteral("application-did-become-active"));
    EXPECT_FALSE(diagnosticsLog().contains(QStringLiteral("reason=application-did-become-active")));
    session->activateForPlaybackWithReason(QStringLiteral("online-player-start"));
    session->reactivateIfNeededWithReason(QStringLiteral("application-did-become-active"));
    EXPECT_TRUE(diagnosticsLog().contains(QStringLiteral("reason=application-did-become-active category=YES changed=NO")));
}

TEST_F(PlaybackAudioSessionTest, OldSystemsFindNoBridgeToInstall)
{
    platform::DeviceProfile::setSystemVersionForTesting(QStringLiteral("5.1.1"));
    session->activateForPlaybackWithReason(QStringLiteral("online-player-start"));
    EXPECT_TRUE(diagnosticsLog().contains(QStringLiteral(
        "[audio-session-legacy-route-bridge] installed=NO status=%1 system=iOS5").arg(AudioSession::UnsupportedPropertyStatus)));
    EXPECT_FALSE(diagnosticsLog().contains(QStringLiteral("audio-session-legacy-interruption-bridge")));
}

TEST_F(PlaybackAudioSessionTest, BridgedCallbacksPostOnTheMainThread)
{
    NotificationLog log(&AudioSession::sharedInstance(), {platform::media::AudioSessionInterruptionNotification,
                                                          platform::media::AudioSessionRouteChangeNotification});
    session->beginInterruption();
    session->endInterruptionWithFlags(3);
    session->endInterruption();
    const QVariantMap routeData{{QStringLiteral("OutputDeviceDidChange_Reason"), 2}};
    std::thread listener([&] {
        KRLegacyAudioRouteChangeListener(session, KRAudioSessionRouteChangePropertyID, 1, &routeData);
        KRLegacyAudioRouteChangeListener(session, 0x1234, 1, &routeData); // another property
        KRLegacyAudioRouteChangeListener(nullptr, KRAudioSessionRouteChangePropertyID, 1, &routeData);
    });
    listener.join();
    EXPECT_TRUE(log.names.isEmpty()); // nothing inline: each hops to the main thread
    KR_WAIT_UNTIL(log.names.size() == 4);
    using namespace platform::media;
    EXPECT_EQ(log.infos[0].value(AudioSessionInterruptionTypeKey).toUInt(), 1u);
    EXPECT_EQ(log.infos[1].value(AudioSessionInterruptionOptionKey).toUInt(), 1u);
    EXPECT_EQ(log.infos[2].value(AudioSessionInterruptionOptionKey).toUInt(), 1u);
    EXPECT_EQ(log.names[3], AudioSessionRouteChangeNotification);
    EXPECT_EQ(log.infos[3].value(AudioSessionRouteChangeReasonKey).toUInt(), 2u);
    session->postLegacyRouteChangeWithReason(QVariant());
    EXPECT_EQ(log.infos[4].value(AudioSessionRouteChangeReasonKey).toUInt(), 0u);
    // The platform session's own hooks post the same names.
    AudioSession::sharedInstance().postInterruptionForTesting(false, 1);
    AudioSession::sharedInstance().postRouteChangeForTesting(3);
    EXPECT_EQ(log.infos[5].value(AudioSessionInterruptionOptionKey).toUInt(), 1u);
    EXPECT_EQ(log.infos[6].value(AudioSessionRouteChangeReasonKey).toUInt(), 3u);
    // An end may come without options: the key is absent, not 0.
    AudioSession::sharedInstance().postInterruptionEndedWithoutOptionsForTesting();
    ASSERT_EQ(log.infos.size(), 8);
    EXPECT_EQ(log.infos[7].value(AudioSessionInterruptionTypeKey).toUInt(), 0u);
    EXPECT_FALSE(log.infos[7].contains(AudioSessionInterruptionOptionKey));
}

} // namespace

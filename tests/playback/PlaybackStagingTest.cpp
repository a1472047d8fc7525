#include "playback/KRPlaybackTransport.h"

#include "PlaybackTesting.h"
#include "platform/device/DeviceProfile.h"
#include "platform/media/MediaNotifications.h"
#include "platform/media/MediaPlayer.h"
#include "platform/uikit/View.h"

#include <QPointer>
#include <QRegularExpression>
#include <QWidget>

#include <cmath>

using namespace playbacktest;
namespace media = platform::media;

namespace {

struct Completion {
    int calls = 0;
    bool ready = false;
    KROptionalError error;
    std::function<void(bool, const KROptionalError&)> fn()
    {
        return [this](bool r, const KROptionalError& e) {
            ++calls;
            ready = r;
            error = e;
        };
    }
};

class PlaybackStagingTest : public PlaybackMediaTest {
protected:
    void TearDown() override { platform::DeviceProfile::resetForTesting(); }

    // The 360p clip playing from `start`, shown in a 320×180 view.
    std::unique_ptr<KRPlaybackTransport> playingTransport(double start)
    {
        auto transport = std::make_unique<KRPlaybackTransport>(fixtures::testMediaFileURL(QStringLiteral("clip-360p.mp4")));
        qobject_cast<platform::uikit::View*>(transport->view())->setFrame(QRectF(0, 0, 320, 180));
        NotificationLog log(transport.get(), {media::MoviePlayerReadyForDisplayDidChangeNotification});
        transport->setInitialPlaybackTime(start);
        transport->prepareToPlay();
        [&] {
            KR_WAIT_UNTIL(transport->loadState() == 3u && transport->currentPlaybackTime() > start
                          && log.count(media::MoviePlayerReadyForDisplayDidChangeNotification) == 1);
        }();
        return transport;
    }
};

TEST_F(PlaybackStagingTest, RefusedOnOldSystemsOrWithoutAnAddress)
{
    const QUrl clip = fixtures::testMediaFileURL(QStringLiteral("clip-720p.mp4"));
    struct Case {
        const char* system;
        QUrl url;
    };
    for (const Case& c : {Case{"12.4", clip}, Case{"16.7", QUrl()}}) {
        SCOPED_TRACE(c.system);
        platform::DeviceProfile::setSystemVersionForTesting(QString::fromLatin1(c.system));
        KRPlaybackTransport transport(fixtures::testMediaFileURL(QStringLiteral("audio.m4s")));
        Completion completion;
        transport.stageContentURL(c.url, 0, 1, 0, completion.fn());
        ASSERT_EQ(completion.calls, 1);
        EXPECT_FALSE(completion.ready);
        ASSERT_TRUE(completion.error.has_value());
        EXPECT_EQ(completion.error->domain(), KRPlaybackTransportErrorDomain);
        EXPECT_EQ(completion.error->code(), -20);
        EXPECT_EQ(completion.error->message(), QStringLiteral("当前系统不支持双播放器预热"));
        EXPECT_FALSE(transport.hasStagedContent());
    }
}

TEST_F(PlaybackStagingTest, StagedQualityBecomesReadyAndCommitsWithoutAVisibleRestart)
{
    auto transport = playingTransport(2.0);
    NotificationLog log(transport.get(), kAllNames);
    Completion completion;
    transport->stageContentURL(fixtures::testMediaFileURL(QStringLiteral("clip-720p.mp4")), transport->currentPlaybackTime(),
                               1.0f, 3.0, completion.fn());
    EXPECT_TRUE(diagnosticsLog().contains(QRegularExpression(QStringLiteral("\\[quality-prewarm-begin\\] time=2\\.\\d{3} minimumBuffer=0\\.000 host="))));
    EXPECT_FALSE(transport->commitStagedContentAtTime(transport->currentPlaybackTime()));
    KR_WAIT_UNTIL(completion.calls == 1);
    EXPECT_TRUE(completion.ready);
    EXPECT_FALSE(completion.error.has_value());
    const QRegularExpressionMatch drift =
        QRegularExpression(QStringLiteral("\\[quality-prewarm-first-frame\\] elapsed=[0-9.]+ buffer=[0-9.]+ drift=(-?[0-9.]+) host="))
            .match(diagnosticsLog());
    ASSERT_TRUE(drift.hasMatch());
    EXPECT_LE(std::abs(drift.captured(1).toDouble()), 0.75);

    const int loadPosts = log.count(media::MoviePlayerLoadStateDidChangeNotification);
    EXPECT_TRUE(transport->commitStagedContentAtTime(transport->currentPlaybackTime()));
    EXPECT_TRUE(diagnosticsLog().contains(QStringLiteral("[quality-commit] ")));
    EXPECT_FALSE(transport->hasStagedContent());
    EXPECT_TRUE(transport->contentURL().path().endsWith(QStringLiteral("clip-720p.mp4")));
    EXPECT_EQ(transport->naturalSize(), QSizeF(1280, 720));
    // The new picture is drawn at the surface's size at once.
    EXPECT_EQ(transport->playerForTesting()->core()->frameImage().size(), QSize(320, 180));
    const quint64 polls = transport->pollCountForTesting();
    KR_WAIT_UNTIL(transport->pollCountForTesting() >= polls + 3);
    EXPECT_EQ(log.count(media::MoviePlayerLoadStateDidChangeNotification), loadPosts + 1);
    EXPECT_EQ(log.count(media::MoviePlayerReadyForDisplayDidChangeNotification), 0);
    EXPECT_EQ(transport->playbackState(), 1);
    EXPECT_EQ(completion.calls, 1);
}

TEST_F(PlaybackStagingTest, CancellingNeverCallsTheCompletion)
{
    auto transport = playingTransport(1.0);
    Completion cancelled;
    transport->stageContentURL(fixtures::testMediaFileURL(QStringLiteral("clip-720p.mp4")), 1.0, 1, 0, cancelled.fn());
    transport->cancelStagedContent();
    Completion replaced;
    transport->stageContentURL(fixtures::testMediaFileURL(QStringLiteral("clip-720p.mp4")), 1.0, 1, 0, replaced.fn());
    // A new address drops the staging as well.
    transport->setContentURL(fixtures::testMediaFileURL(QStringLiteral("audio.m4s")));
    EXPECT_FALSE(transport->hasStagedContent());
    const quint64 polls = transport->pollCountForTesting();
    KR_WAIT_UNTIL(transport->pollCountForTesting() >= polls + 10);
    EXPECT_EQ(cancelled.calls, 0);
    EXPECT_EQ(replaced.calls, 0);
}

TEST_F(PlaybackStagingTest, ATransportDestroyedWhileItsStageSeeksIsNeverReadAgain)
{
    // The staged player outlives the transport (it is let go on the next turn of the event
    // loop) and finishes its pending seek unfinished as it goes: nothing of the transport may
    // be read by then. Once with the first seek to the start time pending, once with a seek
    // that aligns the staged player to the main one.
    for (const bool aligning : {false, true}) {
        SCOPED_TRACE(aligning ? "aligning" : "first seek");
        auto transport = playingTransport(1.0);
        Completion completion;
        if (aligning) {
            transport->pause();
            const double main = transport->currentPlaybackTime();
            // Far from the main player's time, so the staged one is sent back to it.
            transport->stageContentURL(fixtures::testMediaFileURL(QStringLiteral("clip-720p.mp4")), main + 6.0, 1, 0, completion.fn());
            media::MediaPlayer* staged = transport->stagedPlayerForTesting();
            KR_WAIT_UNTIL(staged->status() == media::MediaPlayer::StatusReadyToPlay && std::abs(staged->currentTime() - main) < 0.5);
        } else {
            transport->stageContentURL(fixtures::testMediaFileURL(QStringLiteral("clip-720p.mp4")), 1.0, 1, 0, completion.fn());
        }
        ASSERT_TRUE(transport->hasStagedContent());
        QPointer<media::MediaPlayer> staged = transport->stagedPlayerForTesting();
        QPointer<media::MediaPlayer> main = transport->playerForTesting();
        transport.reset();
        KR_WAIT_UNTIL(staged.isNull() && main.isNull());
        EXPECT_EQ(completion.calls, 0);
    }
}

TEST_F(PlaybackStagingTest, AStagedItemThatFailsReportsItsError)
{
    auto transport = playingTransport(1.0);
    Completion completion;
    transport->stageContentURL(fixtures::testMediaFileURL(QStringLiteral("garbage.mp4")), 1.0, 1, 0, completion.fn());
    KR_WAIT_UNTIL(completion.calls == 1);
    EXPECT_FALSE(completion.ready);
    ASSERT_TRUE(completion.error.has_value());
    EXPECT_FALSE(transport->hasStagedContent());
}

TEST_F(PlaybackStagingTest, APauseBeforeTheCommitIsFollowed)
{
    // Both players at four times speed, so little real time stands for much media time.
    auto transport = playingTransport(1.0);
    transport->setCurrentPlaybackRate(4);
    Completion completion;
    transport->stageContentURL(fixtures::testMediaFileURL(QStringLiteral("clip-720p.mp4")), transport->currentPlaybackTime(),
                               4.0f, 0, completion.fn());
    KR_WAIT_UNTIL(completion.calls == 1 && completion.ready);
    transport->pause();
    const double pausedAt = transport->currentPlaybackTime();
    // Long enough for a player that kept running to be several seconds ahead.
    const quint64 polls = transport->pollCountForTesting();
    KR_WAIT_UNTIL(transport->pollCountForTesting() >= polls + 8);
    ASSERT_TRUE(transport->commitStagedContentAtTime(pausedAt));
    EXPECT_NEAR(transport->currentPlaybackTime(), pausedAt, 1.0);
    EXPECT_EQ(transport->playbackState(), 2);

    // And a resume before the commit is followed too.
    Completion second;
    transport->stageContentURL(fixtures::testMediaFileURL(QStringLiteral("clip-360p.mp4")), transport->currentPlaybackTime(),
                               4.0f, 0, second.fn());
    KR_WAIT_UNTIL(second.calls == 1 && second.ready);
    transport->play();
    KR_WAIT_UNTIL(transport->stagedPlayerForTesting()->rate() == 4.0);
    ASSERT_TRUE(transport->commitStagedContentAtTime(transport->currentPlaybackTime()));
    EXPECT_EQ(transport->currentPlaybackRate(), 4.0f);
}

} // namespace

namespace {

// The main player can stop without pause() being called (its item ends or fails); a ready
// staged player must stop with it, or the swap lands seconds away from the picture.
TEST_F(PlaybackStagingTest, AReadyStagedPlayerStopsWhenTheMainOneEndsWithoutAPause)
{
    auto transport = playingTransport(1.0);
    Completion completion;
    transport->stageContentURL(fixtures::testMediaFileURL(QStringLiteral("clip-720p.mp4")), transport->currentPlaybackTime(),
                               1.0f, 0, completion.fn());
    KR_WAIT_UNTIL(completion.calls == 1 && completion.ready);
    media::MediaPlayer* staged = transport->stagedPlayerForTesting();
    ASSERT_NE(staged, nullptr);
    KR_WAIT_UNTIL(staged->rate() == 1.0);

    // The owner moves the main player close to its end; the staged one stays seconds behind.
    NotificationLog log(transport.get(), {media::MoviePlayerPlaybackDidFinishNotification});
    transport->setCurrentPlaybackTime(11.0);
    KR_WAIT_UNTIL(log.count(media::MoviePlayerPlaybackDidFinishNotification) == 1);
    ASSERT_TRUE(transport->hasStagedContent());
    quint64 polls = transport->pollCountForTesting();
    KR_WAIT_UNTIL(transport->pollCountForTesting() >= polls + 3);
    EXPECT_EQ(staged->rate(), 0.0);
    const double stoppedAt = staged->currentTime();
    EXPECT_LT(stoppedAt, 9.0) << "stopped by the main player's end, not its own";
    polls = transport->pollCountForTesting();
    KR_WAIT_UNTIL(transport->pollCountForTesting() >= polls + 5);
    EXPECT_NEAR(staged->currentTime(), stoppedAt, 0.05);
}

} // namespace

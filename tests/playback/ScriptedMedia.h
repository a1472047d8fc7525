#pragma once

#include "account/AccountClientTesting.h"
#include "model/KRVideo.h"
#include "platform/foundation/MainClock.h"
#include "playback/KRPlaybackMedia.h"
#include "playback/KRPlaybackSession.h"
#include "playback/KRPlaybackTransport.h"
#include "support/AccountFixtures.h"
#include "support/PlaybackFixtures.h"
#include "support/ServiceFixtures.h"

#include <QList>
#include <QPointer>
#include <QUrl>

#include <memory>

// The sources below the part's start, reached by the tests alone.
class KRPlaybackSessionTesting {
public:
    static void startCandidates(KRPlaybackSession& session, const QStringList& candidates, int quality, double time)
    {
        session.startCandidates(candidates, quality, time);
    }
    static bool startDASH(KRPlaybackSession& session, const KRPlayInfo& info, int quality, double time)
    {
        return session.startDASH(info, quality, time);
    }
};

namespace playbacktest {

// A player whose state the test sets, counting what the session asks of it.
class ScriptedMedia : public KRPlaybackMedia {
public:
    ScriptedMedia(const QUrl& sound, const QUrl& picture) : sound(sound), picture(picture) {}

    int playbackState() const override { return state; }
    unsigned loadState() const override { return load; }
    double currentTime() const override { return time; }
    double duration() const override { return length; }
    // As the real player: once stopped, it starts and plays no more; a call is counted.
    void start(double at) override
    {
        if (stopped) {
            ++callsAfterStop;
            return;
        }
        startedAt = at;
        time = at;
    }
    void play() override
    {
        if (stopped) {
            ++callsAfterStop;
            return;
        }
        ++plays;
        playTimes.append(platform::MainClock::now());
    }
    void pause() override { ++pauses; }
    void seek(double at, bool play) override
    {
        time = at;
        seeks.append(at);
        seekPlays.append(play);
    }
    void setRate(float value) override { rate = value; }
    void stop() override { stopped = true; }

    QUrl contentURL() const override { return sound; }
    QUrl pictureURL() const override { return picture; }
    void stageContent(const QUrl& url, double at, float, StageCompletion done) override
    {
        stagedURL = url;
        stagedAt = at;
        staged = std::move(done);
    }
    bool commitStagedContent(double) override
    {
        if (stagedURL.isEmpty())
            return false;
        sound = stagedURL;
        stagedURL.clear();
        ++commits;
        return true;
    }
    void cancelStagedContent() override
    {
        if (!stagedURL.isEmpty())
            ++stageCancels;
        stagedURL.clear();
        staged = nullptr;
    }
    void prewarm(double at) override
    {
        prewarmedAt = at;
        time = at;
    }
    bool isPictureReady() const override { return pictureReady; }
    bool isSeekInFlight() const override { return seekInFlight; }
    double pendingSeekTime() const override { return seekInFlight ? seekTarget : -1; }
    void setPendingSeekResume(bool resume) override { seekResumes.append(resume); }
    void setPictureSuspended(bool suspended) override { pictureSuspended = suspended; }
    bool isRefilling() const override { return refilling; }
    void pauseForBuffering(const QString& reason) override { bufferingPauses.append(reason); }
    void invalidatePendingDASHSeekResume(const QString& reason) override { seekResumeInvalidations.append(reason); }
    // A pair whose data came meanwhile opens its gate at the attempt.
    void attemptDASHPlaybackStart() override
    {
        ++startAttempts;
        if (opensGateOnAttempt)
            refilling = false;
    }
    void reassertSound() override { ++reasserts; }

    // The player as it would report itself.
    void becomePlayable(int playback = KRPlaybackStatePlaying)
    {
        load = KRLoadStatePlayable | KRLoadStatePlaythroughOK;
        state = playback;
        Q_EMIT loadStateChanged();
        Q_EMIT playbackStateChanged();
    }
    void stall()
    {
        load = KRLoadStateStalled;
        Q_EMIT loadStateChanged();
    }
    // The staged player answers.
    void finishStaging(bool ready)
    {
        auto done = std::move(staged);
        staged = nullptr;
        if (!ready)
            stagedURL.clear();
        if (done)
            done(ready, ready ? QString() : QStringLiteral("staging-failed"));
    }

    QUrl sound, picture;
    int state = KRPlaybackStateStopped;
    unsigned load = 0;
    double time = 0, length = 312, startedAt = -1, prewarmedAt = -1, stagedAt = -1;
    float rate = 1;
    int plays = 0, pauses = 0, commits = 0, stageCancels = 0, reasserts = 0, startAttempts = 0, callsAfterStop = 0;
    bool stopped = false, pictureReady = true, seekInFlight = false, pictureSuspended = false;
    bool refilling = false, opensGateOnAttempt = false;
    QStringList bufferingPauses, seekResumeInvalidations;
    QList<double> playTimes, seeks;
    // A pair's seek not yet landed goes here; what the session said of its resume, in order.
    double seekTarget = -1;
    QList<bool> seekResumes;
    // Whether each seek was asked to play once it lands, in order.
    QList<bool> seekPlays;
    QUrl stagedURL;
    StageCompletion staged;
};

// A session of the detail video against the fake service, signed in, its players scripted
// and its clock manual.
class ScriptedSessionTest : public accounttest::AccountClientTest {
protected:
    void SetUp() override
    {
        AccountClientTest::SetUp();
        testsupport::AccountFixtures::logInWebOnly();
        platform::MainClock::setManualForTesting(true);
        session = std::make_unique<KRPlaybackSession>();
        auto video = std::make_shared<KRVideo>();
        video->setAid(testsupport::ServiceFixtures::kDetailAID);
        video->setCid(testsupport::ServiceFixtures::kDetailCID);
        video->setTitle(QStringLiteral("标题"));
        session->setVideo(video, testsupport::ServiceFixtures::kDetailAID);
        session->setMediaFactory(scriptedFactory());
    }
    // Makes scripted players the test keeps, for this session or another one.
    KRPlaybackSession::MediaFactory scriptedFactory()
    {
        return [this](const QUrl& sound, const QUrl& picture) -> KRPlaybackMedia* {
            auto* made = new ScriptedMedia(sound, picture);
            medias.append(made);
            return made;
        };
    }
    void TearDown() override
    {
        session.reset();
        platform::MainClock::setManualForTesting(false);
        AccountClientTest::TearDown();
    }
    ScriptedMedia* media() const { return medias.isEmpty() ? nullptr : medias.last().data(); }

    testsupport::PlaybackFixtures play{fake};
    std::unique_ptr<KRPlaybackSession> session;
    QList<QPointer<ScriptedMedia>> medias;
};

} // namespace playbacktest

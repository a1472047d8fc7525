#include "playback/KRPlaybackSession.h"

#include "account/KRAccountClient.h"
#include "model/KRVideo.h"
#include "model/KRTolerantValue.h"
#include "platform/foundation/MainClock.h"
#include "playback/KRBackgroundContinuation.h"
#include "playback/KRPlaybackClaims.h"
#include "playback/KRDASHStreams.h"
#include "playback/KROfflineCacheManager.h"
#include "playback/KRPlaybackAudioSession.h"
#include "playback/KRPlaybackMedia.h"
#include "playback/KRPlaybackLifecycle.h"
#include "playback/KRPlaybackTransport.h"
#include "playback/KRPlaybackViewing.h"
#include "playback/KRQualitySwitchTransaction.h"
#include "playback/KRQualityTitles.h"
#include "playback/KRTransportMedia.h"
#include "service/KRAPIClient.h"
#include "store/KRDiagnostics.h"

#include <algorithm>

namespace {

const char* yesNo(bool value) { return value ? "YES" : "NO"; }

bool isLocalAddress(const QString& address) { return address.startsWith(QLatin1String("file://")); }

// The addresses of a resolved part, best first. Usable streams count even when an error came
// with them.
QStringList playableCandidates(const std::shared_ptr<KRVideo>& resolved)
{
    if (!resolved)
        return {};
    QStringList candidates = resolved->playURLCandidates();
    if (candidates.isEmpty() && !resolved->playURL().isEmpty())
        candidates = {resolved->playURL()};
    return candidates;
}

QString seconds(double value) { return QString::number(std::max(0.0, value), 'f', 3); }

void record(const char* event, const QString& detail) { KRDiagnostics::recordEvent(QString::fromLatin1(event), detail); }

} // namespace

KRPlaybackSession::KRPlaybackSession(QObject* parent) : QObject(parent)
{
    m_factory = [](const QUrl& sound, const QUrl& picture) -> KRPlaybackMedia* { return new KRTransportMedia(sound, picture); };
    m_viewing = std::make_unique<KRPlaybackViewing>(
        // A player put in place but not yet started stands where it is to start.
        [this] {
            return KRPlaybackViewing::Source{m_video, m_aid, m_quality, m_fromDevice, m_mediaUnstarted ? m_startTime : currentTime(), duration()};
        },
        [this](int playType) { Q_EMIT heartbeat(playType); }, this);
    m_switch = std::make_unique<KRQualitySwitchTransaction>(static_cast<KRQualitySwitchHost&>(*this));
    m_continuation = std::make_unique<KRBackgroundContinuation>(static_cast<KRPlaybackLifecycleHost&>(*this));
    m_lifecycle = std::make_unique<KRPlaybackLifecycle>(static_cast<KRPlaybackLifecycleHost&>(*this), *m_continuation);
}

KRPlaybackSession::~KRPlaybackSession()
{
    KRPlaybackClaims::shared().release(this);
    // The teardown, in one place: the heartbeat's end, the player, every timer and delayed call.
    QSignalBlocker blocker(this);
    m_continuation->endBackgroundContinuationTaskForGeneration(0, QStringLiteral("dealloc"));
    stop();
    m_continuation.reset();
    m_switch.reset();
    m_lifecycle.reset();
}

void KRPlaybackSession::setVideo(std::shared_ptr<KRVideo> video, qint64 aid)
{
    m_video = std::move(video);
    m_aid = aid;
}

void KRPlaybackSession::setMediaFactory(MediaFactory factory) { m_factory = std::move(factory); }

void KRPlaybackSession::setHeartbeatEnabled(bool enabled) { m_viewing->setServiceReportsEnabled(enabled); }

KRPlaybackTransport* KRPlaybackSession::transport() const { return m_media ? m_media->transport() : nullptr; }

KRDASHPlayback* KRPlaybackSession::dash() const { return m_media ? m_media->dash() : nullptr; }

double KRPlaybackSession::currentTime() const { return m_media ? std::max(0.0, m_media->currentTime()) : 0; }

double KRPlaybackSession::duration() const { return m_media ? std::max(0.0, m_media->duration()) : 0; }

void KRPlaybackSession::setState(State state)
{
    if (m_state == state)
        return;
    m_state = state;
    Q_EMIT stateChanged(state);
}

// ---- sources ----

QStringList KRPlaybackSession::dashAddresses(const KRPlayInfo& info, int quality, int* chosenQuality)
{
    const std::optional<QVariantMap> picture = KRDASHH264VideoStream(info.source, quality);
    const std::optional<QVariantMap> sound = KRDASHBestAACStream(info.source);
    if (!picture || !sound)
        return {};
    const QString pictureAddress = KRDASHStreamURLString(*picture);
    const QString soundAddress = KRDASHStreamURLString(*sound);
    if (pictureAddress.isEmpty() || soundAddress.isEmpty())
        return {};
    if (chosenQuality)
        *chosenQuality = int(picture->value(QStringLiteral("id")).toLongLong());
    return {pictureAddress, soundAddress};
}

void KRPlaybackSession::startCandidates(const QStringList& candidates, int quality, double time)
{
    if (candidates.isEmpty()) {
        finishPlaybackConstructionFailureWithReason(QStringLiteral("no-stream"));
        return;
    }
    beginStart(candidates, quality);
    startMovieWithURLString(candidates.first(), time, Removal::Stopped);
}

void KRPlaybackSession::beginStart(const QStringList& candidates, int quality)
{
    claimPlayback();
    m_switch->abandon("new-start");
    // A start is the one source that turns the intent on by itself; a failover or a recovery
    // keeps the one it found.
    m_expectedToPlay = true;
    m_candidates = candidates;
    m_candidateIndex = 0;
    m_freshResolveAttempted = false;
    m_fromDevice = !candidates.isEmpty() && isLocalAddress(candidates.first());
    // Stalls are counted, and the 360P fallback asked, once per start.
    m_stallFallbackRequested = false;
    m_stallCount = 0;
    if (quality > 0 && quality != m_quality) {
        m_quality = quality;
        Q_EMIT qualityChanged(quality);
    }
}

bool KRPlaybackSession::startDASH(const KRPlayInfo& info, int quality, double time)
{
    int chosen = quality;
    const QStringList addresses = dashAddresses(info, quality, &chosen);
    if (addresses.isEmpty())
        return false;
    // A pair has no second address: its failure goes to the fresh resolve.
    beginStart({addresses.at(1)}, chosen);
    install(QUrl(addresses.at(1)), QUrl(addresses.at(0)), time, Removal::Stopped);
    return true;
}

bool KRPlaybackSession::playsFromDevice(const KRVideo& video)
{
    return isLocalAddress(video.playURL()) || !KROfflineCacheManager::sharedManager()->cachedDASHPlaybackInfoForVideo(video).isEmpty();
}

void KRPlaybackSession::loadDASHPlaybackInfoForVideo(const KRVideo& video, qint64 aid, int quality, QObject* owner,
                                                     PlayInfoCompletion completion)
{
    auto read = [completion = std::move(completion)](const std::optional<QVariantMap>& information, const KROptionalError& error) {
        completion(information ? KRPlayInfo::fromPlayInformation(*information) : std::nullopt, error);
    };
    KRAccountClient* client = KRAccountClient::sharedClient();
    if (video.episodeID() < 1)
        client->loadDASHPlaybackInfoForAID(aid, video.canonicalBVID(), video.cid(), quality, owner, std::move(read));
    else
        client->loadPGCDASHPlaybackInfoForEpisodeID(video.episodeID(), aid, video.canonicalBVID(), video.cid(), quality, owner,
                                                    std::move(read));
}

void KRPlaybackSession::startPart(int quality, double time)
{
    if (!m_video)
        return;
    claimPlayback();
    m_switch->abandon("new-start");
    removeMedia(Removal::Stopped);
    beginRequest();
    m_startOwner = std::make_unique<QObject>();
    // A start is the user's wish to play: a lost route no longer holds it.
    m_holds &= ~unsigned(HoldRouteLost);
    m_installedPlayable = false;
    m_interruptedAt = 0;
    setState(State::Resolving);
    const KRVideo& video = *m_video;
    const QVariantMap offline = KROfflineCacheManager::sharedManager()->cachedDASHPlaybackInfoForVideo(video);
    if (!offline.isEmpty()) {
        const std::optional<KRPlayInfo> info = KRPlayInfo::fromOfflineRecord(offline);
        if (!info || !startDASH(*info, info->quality, time))
            finishPlaybackConstructionFailureWithReason(QStringLiteral("dash-streams-missing"));
        return;
    }
    if (isLocalAddress(video.playURL())) {
        startCandidates({video.playURL()}, 0, time);
        return;
    }
    // Only a start that asks the service can outlast the foreground.
    m_continuation->beginBackgroundContinuationTaskForGeneration(m_requestGeneration);
    if (quality < 80) {
        resolveChain(quality, time);
        return;
    }
    const int request = m_requestGeneration;
    loadDASHPlaybackInfoForVideo(
        video, m_aid, quality, m_startOwner.get(), [this, quality, time, request](const std::optional<KRPlayInfo>& info, const KROptionalError&) {
            if (request != m_requestGeneration)
                return;
            if (info)
                Q_EMIT playInfoLoaded(info);
            // What the screen did with the qualities may have stopped or restarted this one.
            if (request != m_requestGeneration || !m_startOwner)
                return;
            // The pair needs a usable H.264 picture and AAC sound; else the chain plays.
            if (info && startDASH(*info, quality, time))
                return;
            resolveChain(quality, time);
        });
}

void KRPlaybackSession::resolveChain(int quality, double time)
{
    if (!m_startOwner)
        return;
    const int request = m_requestGeneration;
    KRAPIClient::sharedClient()->loadPlayURLForVideo(
        m_video, quality, m_startOwner.get(), [this, quality, time, request](const std::shared_ptr<KRVideo>& resolved, const KROptionalError& error) {
            if (request != m_requestGeneration)
                return;
            const QStringList candidates = playableCandidates(resolved);
            if (candidates.isEmpty()) {
                finishPlaybackConstructionFailureWithReason(error ? error->description() : QStringLiteral("no-stream"));
                return;
            }
            startCandidates(candidates, resolved->playbackQuality() > 0 ? int(resolved->playbackQuality()) : quality, time);
            if (request == m_requestGeneration)
                Q_EMIT playInfoLoaded(std::nullopt);
        });
}

void KRPlaybackSession::resolveAfresh(int quality, QObject* owner, std::function<void(const QStringList&, int)> done)
{
    if (m_resolver) {
        m_resolver(quality, owner, std::move(done));
        return;
    }
    KRAPIClient::sharedClient()->loadPlayURLForVideo(
        m_video, quality, owner, [quality, done = std::move(done)](const std::shared_ptr<KRVideo>& resolved, const KROptionalError&) {
            done(playableCandidates(resolved), resolved && resolved->playbackQuality() > 0 ? int(resolved->playbackQuality()) : quality);
        });
}

KRPlaybackMedia* KRPlaybackSession::makeMedia(const QUrl& sound, const QUrl& picture)
{
    KRPlaybackMedia* media = m_factory(sound, picture);
    media->setParent(this);
    return media;
}

void KRPlaybackSession::install(const QUrl& sound, const QUrl& picture, double time, Removal reason)
{
    removeMedia(reason);
    adopt(makeMedia(sound, picture), !picture.isEmpty(), time, true);
}

void KRPlaybackSession::startMovieWithURLString(const QString& address, double time, Removal reason)
{
    install(QUrl(address), QUrl(), time, reason);
}

void KRPlaybackSession::attach(KRPlaybackMedia* media)
{
    m_media = media;
    media->setParent(this);
    connect(media, &KRPlaybackMedia::loadStateChanged, this, &KRPlaybackSession::movieLoadStateChanged);
    connect(media, &KRPlaybackMedia::playbackStateChanged, this, &KRPlaybackSession::mediaPlaybackStateChanged);
    connect(media, &KRPlaybackMedia::finished, this, &KRPlaybackSession::moviePlaybackFinished);
    connect(media, &KRPlaybackMedia::pairStarted, this, [this] {
        Q_EMIT bufferingChanged(false, QString());
        applyGate(Gate::Confirmed);
        applyPlaybackRateToAllClocks();
        m_switch->mediaLoadStateChanged();
    });
    connect(media, &KRPlaybackMedia::pictureStarved, this, [this] {
        // A starved picture holds the sound as a stalled sound would: shown, and counted.
        if (playsNow() && !m_stallActive)
            countStall();
    });
}

void KRPlaybackSession::release(KRPlaybackMedia* media)
{
    disconnect(media, nullptr, this, nullptr);
    media->stop();
    media->setParent(nullptr);
    // It may be the one calling: it goes once the call has returned.
    KRPlaybackTransportReleaseLater(media);
}

void KRPlaybackSession::adopt(KRPlaybackMedia* media, bool pair, double time, bool start)
{
    // The request has its player: what it does next needs no borrowed time.
    m_installedRecoveryGeneration = 0;
    m_continuation->endBackgroundContinuationTaskForGeneration(0, QStringLiteral("player-installed"));
    m_startOwner = std::make_unique<QObject>();
    attach(media);
    m_pair = pair;
    m_startTime = std::max(0.0, time);
    m_installedPlayable = false;
    m_interruptedAt = 0;
    setState(State::Buffering);
    Q_EMIT mediaInstalled(media);
    if (m_media != media)
        return;
    // In the background the picture is frozen from the first frame; a hold keeps it paused.
    m_lifecycle->mediaInstalled();
    if (start) {
        Q_EMIT bufferingChanged(true, QStringLiteral("正在缓冲…"));
        if (m_media != media)
            return;
        startMedia(media, time);
    }
    // Whoever is told of the state or the rate may have stopped it: nothing goes on for a
    // player let go, neither its tick nor a viewing.
    applyGate(start ? Gate::Started : Gate::Rate);
    if (m_media != media)
        return;
    applyPlaybackRateToAllClocks();
    if (m_media != media)
        return;
    // The controls' tick waits for the foreground.
    if (!isApplicationInBackground())
        startPlayerControlsTimer();
    if (m_media != media)
        return;
    m_viewing->startHistoryTrackingIfNeeded();
}

void KRPlaybackSession::startMedia(KRPlaybackMedia* media, double time)
{
    // The sound is made ready only for a player meant to play; a paused one waits for a play.
    if (m_expectedToPlay)
        KRPlaybackAudioSession::sharedSession()->activateForPlaybackWithReason(m_offlinePlayer ? QStringLiteral("offline-player-start")
                                                                                               : QStringLiteral("online-player-start"));
    media->start(time);
}

void KRPlaybackSession::removeMedia(Removal reason)
{
    // A teardown ends a switch: the stream playing now is the one that stays.
    m_switch->abandon("teardown");
    m_delayed.cancelAll();
    stopPlayerControlsTimer();
    m_startOwner.reset();
    m_stallActive = false;
    resetUnexpectedPauseRecovery();
    // A hold does not outlive the player it was made on: the next one plays at the chosen rate.
    m_holding = false;
    // Whatever takes the player away ends its viewing: no heartbeat reads a player that is gone.
    m_viewing->finishHistoryTrackingCompleted(false);
    KRPlaybackMedia* media = m_media;
    if (!media)
        return;
    m_media = nullptr;
    release(media);
    Q_EMIT mediaRemoved(reason);
}

void KRPlaybackSession::stop()
{
    const bool hadMedia = m_media != nullptr;
    m_continuation->endBackgroundContinuationTaskForGeneration(0, QStringLiteral("stop"));
    beginRequest();
    removeMedia(Removal::Stopped);
    m_expectedToPlay = false;
    m_candidates.clear();
    m_candidateIndex = 0;
    if (hadMedia)
        KRPlaybackAudioSession::sharedSession()->markPlaybackInactive();
    setState(State::Idle);
}

void KRPlaybackSession::claimPlayback()
{
    QPointer<KRPlaybackSession> self(this);
    KRPlaybackClaims::shared().take(this, [self] {
        if (self)
            self->yieldPlayback();
    });
}

void KRPlaybackSession::yieldPlayback()
{
    // Another start took the claim: a start still resolving or a player meant to play stops,
    // and the answers of its requests install nothing. A paused player stays as it is.
    const bool resolving = m_state == State::Resolving;
    if (!resolving && !(m_media && m_expectedToPlay))
        return;
    record("playback-session-superseded", QStringLiteral("identity=%1").arg(m_video ? m_video->feedIdentity() : QString()));
    // Stopped by another start, it will not resume: an interruption's end has nothing to say here.
    m_lifecycle->playbackClaimLost();
    QPointer<KRPlaybackSession> self(this);
    stop();
    if (self)
        Q_EMIT stoppedByAnotherSession();
}

// ---- the player's events ----

void KRPlaybackSession::movieLoadStateChanged()
{
    KRPlaybackMedia* media = m_media;
    if (!media)
        return;
    const unsigned state = media->loadState();
    const bool stalled = state & KRLoadStateStalled;
    if ((state & KRLoadStatePlayable) && !stalled) {
        m_installedPlayable = true;
        if (!media->isHeldByPairGate())
            Q_EMIT bufferingChanged(false, QString());
        media->soundBecamePlayable();
    }
    // A player a hold keeps paused is not stalled however little it has: nothing is counted
    // or shown for it, and no fallback is asked.
    if (stalled && playsNow() && !m_stallActive) {
        media->pauseForBuffering(QStringLiteral("sound-stalled"));
        countStall();
    }
    if (m_media == media)
        m_switch->mediaLoadStateChanged();
}

void KRPlaybackSession::countStall()
{
    m_stallActive = true;
    const double now = platform::MainClock::now();
    if (m_stallCount == 0 || now - m_stallWindowStart > kStallWindow) {
        m_stallWindowStart = now;
        m_stallCount = 0;
    }
    ++m_stallCount;
    record("playback-stall", QStringLiteral("count=%1 time=%2").arg(m_stallCount).arg(currentTime(), 0, 'f', 3));
    setState(State::Stalled);
    Q_EMIT bufferingChanged(true, QStringLiteral("网络较慢，正在缓冲…"));
    m_delayed.schedule(QStringLiteral("checkStallRecovery"), kStallCheckMs, [this] { checkPlaybackStallRecovery(); });
    if (m_stallCount >= kStallsBeforeFallback && m_quality > kFallbackQuality && !m_stallFallbackRequested) {
        m_stallFallbackRequested = true;
        record("playback-stall-fallback", QStringLiteral("from=%1 to=16 count=%2").arg(m_quality).arg(m_stallCount));
        // Asked on the next turn, and not after a stop or a new start: the switch tears this
        // player down.
        const int request = m_requestGeneration;
        m_delayed.schedule(QStringLiteral("stallFallback"), 0, [this, request] {
            if (request != m_requestGeneration || !m_media)
                return;
            Q_EMIT stallFallbackRequested(kFallbackQuality);
            fallbackTo360PAfterRepeatedStalls();
        });
    }
}

void KRPlaybackSession::checkPlaybackStallRecovery()
{
    KRPlaybackMedia* media = m_media;
    if (!media || !m_stallActive)
        return;
    const unsigned state = media->loadState();
    if ((state & KRLoadStatePlayable) && !(state & KRLoadStateStalled)) {
        m_stallActive = false;
        Q_EMIT bufferingChanged(false, QString());
        if (m_expectedToPlay)
            applyGate(Gate::Push);
        return;
    }
    m_delayed.schedule(QStringLiteral("checkStallRecovery"), kStallCheckMs, [this] { checkPlaybackStallRecovery(); });
}

void KRPlaybackSession::mediaPlaybackStateChanged()
{
    KRPlaybackMedia* media = m_media;
    if (!media)
        return;
    if (media->playbackState() == KRPlaybackStatePlaying && !media->isHeldByPairGate()) {
        Q_EMIT bufferingChanged(false, QString());
        if (!m_stallActive)
            applyGate(Gate::Confirmed);
    }
}

void KRPlaybackSession::moviePlaybackFinished(int reason)
{
    // A player being replaced ends nothing: its finish is kept and decided afterwards.
    if (m_switch->keepFinish(reason))
        return;
    handleFinish(reason);
}

void KRPlaybackSession::handleFinish(int reason)
{
    if (reason == 1) {
        failOver(QStringLiteral("media-error"));
        return;
    }
    if (reason != 0 || !m_media)
        return;
    // The part is over: a switch still readying its stream has nothing left to take over, and
    // its budget must not run out later and put a stream back.
    m_switch->abandon("playback-ended");
    const double length = duration();
    const double end = length > 0 ? length : currentTime();
    m_expectedToPlay = false;
    stopPlayerControlsTimer();
    m_delayed.cancel(QStringLiteral("checkStallRecovery"));
    m_stallActive = false;
    resetUnexpectedPauseRecovery();
    m_viewing->finishHistoryTrackingCompleted(true);
    m_endedAt = end;
    setState(State::Ended);
    // One last update, so the time reads the end and nothing stays drawn past it.
    Q_EMIT progressed(end, length, false);
    Q_EMIT ended();
}

void KRPlaybackSession::failOver(const QString& reason)
{
    const double resumeTime = currentTime();
    const bool installed = m_installedPlayable;
    if (!m_pair && m_candidateIndex + 1 < m_candidates.size()) {
        const QStringList candidates = m_candidates;
        const int index = m_candidateIndex + 1;
        record("playback-candidate-failover",
               QStringLiteral("index=%1 count=%2 reason=%3").arg(index).arg(candidates.size()).arg(reason));
        startMovieWithURLString(candidates.at(index), resumeTime > 0.05 ? resumeTime : 0, Removal::FailedOver);
        m_candidates = candidates;
        m_candidateIndex = index;
        m_installedPlayable = installed;
        return;
    }
    if (!m_freshResolveAttempted && (m_resolver || m_video) && !m_fromDevice) {
        m_freshResolveAttempted = true;
        const int quality = m_quality > 0 && m_quality < 80 ? m_quality : 64;
        record("playback-fresh-resolve", QStringLiteral("quality=%1 reason=%2").arg(quality).arg(reason));
        removeMedia(Removal::Resolving);
        m_startOwner = std::make_unique<QObject>();
        m_interruptedAt = installed ? resumeTime : 0;
        const int request = beginRequest();
        if (installed)
            m_installedRecoveryGeneration = request;
        setState(State::Resolving);
        Q_EMIT bufferingChanged(true, QStringLiteral("正在缓冲…"));
        m_continuation->beginBackgroundContinuationTaskForGeneration(request);
        resolveAfresh(quality, m_startOwner.get(), [this, installed, resumeTime, request](const QStringList& candidates, int resolved) {
            // A recovery abandoned or replaced meanwhile: its answer installs nothing.
            if (request != m_requestGeneration)
                return;
            if (candidates.isEmpty()) {
                m_installedPlayable = installed;
                m_interruptedAt = resumeTime;
                if (installed)
                    finishInstalledPlaybackAfterResolveFailure(QStringLiteral("fresh-resolve-failed"));
                else
                    finishPlaybackConstructionFailureWithReason(QStringLiteral("fresh-resolve-failed"));
                return;
            }
            if (resolved > 0 && resolved != m_quality) {
                m_quality = resolved;
                Q_EMIT qualityChanged(resolved);
            }
            m_candidates = candidates;
            m_candidateIndex = 0;
            m_fromDevice = false;
            startMovieWithURLString(candidates.first(), resumeTime > 0.05 ? resumeTime : 0, Removal::Resolving);
            m_installedPlayable = installed;
        });
        return;
    }
    m_interruptedAt = resumeTime;
    if (installed)
        finishInstalledPlaybackAfterResolveFailure(reason);
    else
        finishPlaybackConstructionFailureWithReason(reason);
}

void KRPlaybackSession::finishPlaybackConstructionFailureWithReason(const QString& reason) { failTerminally(reason, false); }

void KRPlaybackSession::finishInstalledPlaybackAfterResolveFailure(const QString& reason) { failTerminally(reason, true); }

void KRPlaybackSession::failTerminally(const QString& reason, bool installed)
{
    const QString why = reason.isEmpty() ? QStringLiteral("unknown") : reason;
    record(installed ? "progressive-refresh-terminal-failure" : "playback-construction-terminal-failure", QStringLiteral("reason=%1").arg(why));
    const double at = m_interruptedAt > 0 ? m_interruptedAt : currentTime();
    m_installedRecoveryGeneration = 0;
    m_continuation->endBackgroundContinuationTaskForGeneration(0, QStringLiteral("terminal-failure"));
    removeMedia(Removal::Failed);
    m_expectedToPlay = false;
    m_holding = false;
    m_interruptedAt = at;
    KRPlaybackAudioSession::sharedSession()->markPlaybackInactive();
    setState(installed ? State::Interrupted : State::Failed);
    Q_EMIT failed(why, installed);
}

// ---- the user ----

void KRPlaybackSession::play()
{
    KRPlaybackMedia* media = m_media;
    if (!media)
        return;
    // The user's play lifts a lost route's hold; the others stay until their cause ends.
    const bool routeLost = isHeld(HoldRouteLost);
    if (m_expectedToPlay && !routeLost)
        return;
    m_holds &= ~unsigned(HoldRouteLost);
    resetUnexpectedPauseRecovery();
    m_expectedToPlay = true;
    m_switch->synchronizeQualitySwitchPlaybackIntent(true, toggleSource());
    KRPlaybackAudioSession::sharedSession()->activateForPlaybackWithReason(m_pair ? QStringLiteral("dash-controls-play")
                                                                                         : QStringLiteral("progressive-controls-play"));
    claimPlayback();
    applyGate(Gate::Push);
    // Played again after the end left by a seek: a new viewing, and the tick runs again.
    if (!m_playerControlsTimer.isActive())
        startPlayerControlsTimer();
    if (m_viewing->isActive())
        report(3);
    else
        m_viewing->startHistoryTrackingIfNeeded();
}

void KRPlaybackSession::pause()
{
    KRPlaybackMedia* media = m_media;
    if (!media || !m_expectedToPlay)
        return;
    resetUnexpectedPauseRecovery();
    m_expectedToPlay = false;
    m_switch->synchronizeQualitySwitchPlaybackIntent(false, toggleSource());
    applyGate(Gate::Push);
    report(2);
}

QString KRPlaybackSession::toggleSource() const
{
    return m_pair ? QStringLiteral("dash-toggle") : QStringLiteral("progressive-toggle");
}

void KRPlaybackSession::togglePlayback()
{
    // During an audio interruption the tap decides only what its end does.
    if (m_lifecycle->togglePlaybackIntentDuringInterruption())
        return;
    if (m_state == State::Ended) {
        restartPlaybackFromBeginning();
        return;
    }
    if (m_expectedToPlay)
        pause();
    else
        play();
}

void KRPlaybackSession::seek(double time)
{
    KRPlaybackMedia* media = m_media;
    if (!media)
        return;
    m_switch->updateQualitySwitchResumeTime(time, QStringLiteral("controls-seek"));
    if (m_state == State::Ended) {
        // A seek after the end leaves it: play goes on from the time sought, not from zero.
        media->seek(std::max(0.0, time), false);
        m_expectedToPlay = false;
        applyGate(Gate::Replay);
        return;
    }
    media->seek(std::max(0.0, time), playsNow() || (m_holds == 0 && media->playbackState() == KRPlaybackStatePlaying));
}

void KRPlaybackSession::restartPlaybackFromBeginning()
{
    KRPlaybackMedia* media = m_media;
    if (!media)
        return;
    claimPlayback();
    m_holds &= ~unsigned(HoldRouteLost);
    m_expectedToPlay = true;
    // A stream still being made ready after the end takes over playing, as the replay does.
    m_switch->synchronizeQualitySwitchPlaybackIntent(true, QStringLiteral("replay"));
    resetUnexpectedPauseRecovery();
    if (m_lifecycle->isInterrupted()) {
        // The replay is the user's, but the call goes on: it stands at zero, held by the
        // interruption, and plays when the interruption ends with leave to resume. A pair's
        // seek to zero must not start the sound by itself meanwhile.
        media->seek(0, false);
        invalidatePendingDASHSeekResumeForReason(QStringLiteral("replay-during-interruption"));
        m_lifecycle->deferReplayUntilInterruptionEnds();
        record("playback-replay-deferred-for-interruption",
               QStringLiteral("dash=%1 background=%2").arg(QLatin1String(yesNo(m_pair)), QLatin1String(yesNo(isApplicationInBackground()))));
        applyGate(Gate::Replay);
        m_viewing->startHistoryTrackingIfNeeded();
        Q_EMIT progressed(0, duration(), true);
        return;
    }
    media->seek(0, playsNow());
    record("playback-replay", m_pair ? QStringLiteral("restart DASH dual tracks from zero")
                                     : QStringLiteral("restart from zero with danmaku timeline"));
    applyGate(Gate::Replay);
    // In the background the tick waits for the foreground, which starts it again.
    if (!isApplicationInBackground())
        startPlayerControlsTimer();
    m_viewing->startHistoryTrackingIfNeeded();
    Q_EMIT progressed(0, duration(), true);
}

// ---- the gate ----

void KRPlaybackSession::applyGate(Gate step)
{
    KRPlaybackMedia* media = m_media;
    if (!media)
        return;
    if (!playsNow()) {
        if (step == Gate::Rate)
            return;
        media->pause();
        const bool running = m_state == State::Playing || m_state == State::Buffering || m_state == State::Stalled;
        if (running || step == Gate::Replay)
            setState(State::Paused);
        return;
    }
    switch (step) {
    case Gate::Push:
        media->play();
        media->setRate(effectiveRate());
        if (!m_stallActive)
            setState(State::Playing);
        return;
    case Gate::Replay:
        // A pair's seek resumes it by itself.
        if (!m_pair)
            media->play();
        media->setRate(effectiveRate());
        setState(State::Playing);
        return;
    case Gate::Confirmed:
        if (!m_stallActive)
            setState(State::Playing);
        return;
    case Gate::Started:
    case Gate::Rate:
        media->setRate(effectiveRate());
        return;
    }
}

void KRPlaybackSession::settlePlayback(unsigned holdsOn, unsigned holdsOff, bool play)
{
    m_holds = (m_holds | holdsOn) & ~holdsOff;
    if (play && !m_expectedToPlay)
        claimPlayback();
    m_expectedToPlay = play;
    applyGate(Gate::Push);
}

void KRPlaybackSession::setHold(Hold hold, bool on)
{
    const unsigned holds = on ? (m_holds | hold) : (m_holds & ~unsigned(hold));
    if (holds == m_holds)
        return;
    m_holds = holds;
    resetUnexpectedPauseRecovery();
    applyGate(Gate::Push);
}

float KRPlaybackSession::effectiveRate() const { return m_holding ? kHoldRate : m_rate > 0 ? m_rate : 1.0f; }

void KRPlaybackSession::setRate(float rate)
{
    // A rate of 0 or less plays at 1.0, so 1.0 is what is kept: every clock is then given the
    // rate that plays, the picture player too, which would stand still at 0 under running
    // sound, and the hold's end names "1x", not a speed of 0.
    m_rate = rate > 0 ? rate : 1.0f;
    applyPlaybackRateToAllClocks(true);
}

void KRPlaybackSession::beginHold()
{
    if (m_holding || !m_media)
        return;
    m_holding = true;
    applyPlaybackRateToAllClocks(true);
}

void KRPlaybackSession::endHold()
{
    if (!m_holding)
        return;
    m_holding = false;
    applyPlaybackRateToAllClocks(true);
}

void KRPlaybackSession::applyPlaybackRateToAllClocks(bool ensureAudible)
{
    KRPlaybackMedia* media = m_media;
    if (!media)
        return;
    const float rate = effectiveRate();
    if (ensureAudible)
        KRPlaybackAudioSession::sharedSession()->activateForPlaybackWithReason(QStringLiteral("playback-rate-change"));
    // A paused or held player stays paused: the rate is taken when it plays again.
    applyGate(ensureAudible && media->playbackState() != KRPlaybackStatePlaying ? Gate::Push : Gate::Rate);
    if (m_media != media)
        return;
    record("playback-rate-applied", QStringLiteral("rate=%1 hold=%2 expected=%3 state=%4 iosPicture=NO dashPicture=%5")
                                        .arg(double(rate), 0, 'f', 2)
                                        .arg(QLatin1String(yesNo(m_holding)), QLatin1String(yesNo(m_expectedToPlay)))
                                        .arg(media->playbackState())
                                        .arg(QLatin1String(yesNo(m_pair))));
}

// ---- the tick and the unasked pause ----

void KRPlaybackSession::playerControlsTimerFired()
{
    KRPlaybackMedia* media = m_media;
    if (!media || m_state == State::Ended)
        return;
    if (m_rotating) {
        m_switch->refreshQualitySwitchPresentation();
        return;
    }
    const bool intent = maintainPlaybackIntent();
    if (m_media != media)
        return;
    if (m_switch->isOpen()) {
        // The switch's resume time keeps up with the player once it has reached a time sought
        // (a pair's pending seek included); until then the time sought holds.
        m_switch->currentQualitySwitchResumeTime();
        // Its presentation is kept up for as long as it runs, whatever showed meanwhile.
        m_switch->refreshQualitySwitchPresentation();
    }
    if (m_media != media)
        return;
    Q_EMIT progressed(currentTime(), duration(), media->playbackState() == KRPlaybackStatePlaying || intent);
}

void KRPlaybackSession::startPlayerControlsTimer()
{
    m_playerControlsTimer.start(m_tickMs, [this] { playerControlsTimerFired(); });
    // The timers that follow the tick on screen come back with it once they were told it stopped.
    if (m_tickToldStopped) {
        m_tickToldStopped = false;
        Q_EMIT controlsTickRunningChanged(true);
    }
    // The controls read the player put in place, or played again, now, not a tick later.
    playerControlsTimerFired();
}

void KRPlaybackSession::stopPlayerControlsTimer() { m_playerControlsTimer.stop(); }

void KRPlaybackSession::resetUnexpectedPauseRecovery()
{
    m_pauseSeenAt = 0;
    m_lastRetryAt = 0;
    m_retryCount = 0;
}

bool KRPlaybackSession::maintainPlaybackIntent()
{
    KRPlaybackMedia* media = m_media;
    if (!media || !m_expectedToPlay) {
        resetUnexpectedPauseRecovery();
        return false;
    }
    // A hold, a pair waiting at its own gate or a life-cycle transition pauses on purpose: no
    // retry fights it. Nor does one fight a quality switch, which has what plays in hand until
    // it ends (the stream it puts in place, or puts back, takes the intent it kept) and would
    // overturn a give-up told meanwhile; the watch goes on once it is over.
    if (m_holds != 0 || media->isHeldByPairGate() || m_lifecycle->isInTransition() || m_switch->isOpen())
        return true;
    const int state = media->playbackState();
    // Playing as asked, with no stop being watched, is every tick's case: nothing more is read
    // for it. (Retries are made only for a stop being watched, and end with its watch.)
    if (state == KRPlaybackStatePlaying && m_pauseSeenAt <= 0)
        return true;
    const unsigned load = media->loadState();
    const double time = media->currentTime();
    const bool pair = m_pair;
    const double now = platform::MainClock::now();
    if (state == KRPlaybackStatePlaying) {
        if (m_pauseSeenAt > 0)
            record("unexpected-pause-recovered", QStringLiteral("elapsed=%1 attempts=%2 time=%3")
                                                     .arg(seconds(now - m_pauseSeenAt)).arg(m_retryCount).arg(seconds(time)));
        resetUnexpectedPauseRecovery();
        return true;
    }
    if ((load & KRLoadStateStalled) || !(load & (KRLoadStatePlayable | KRLoadStatePlaythroughOK)))
        return true;
    if (m_pauseSeenAt <= 0) {
        m_pauseSeenAt = now;
        record("unexpected-pause-observed", QStringLiteral("state=%1 load=%2 time=%3 dash=%4")
                                                .arg(state).arg(load).arg(seconds(time)).arg(QLatin1String(yesNo(pair))));
        return true;
    }
    if (now - m_pauseSeenAt >= kFirstRetryDelay && now - m_lastRetryAt >= kRetrySpacing && m_retryCount < kMaximumRetries) {
        m_lastRetryAt = now;
        ++m_retryCount;
        KRPlaybackAudioSession::sharedSession()->activateForPlaybackWithReason(
            m_offlinePlayer ? QStringLiteral("offline-unexpected-pause-recovery") : QStringLiteral("unexpected-pause-recovery"));
        applyGate(Gate::Push);
        record("unexpected-pause-retry", QStringLiteral("attempt=%1 state=%2 time=%3 dash=%4")
                                             .arg(m_retryCount).arg(state).arg(seconds(time)).arg(QLatin1String(yesNo(pair))));
    }
    if (now - m_pauseSeenAt >= kGiveUpAfter && m_retryCount >= kMaximumRetries) {
        m_expectedToPlay = false;
        applyGate(Gate::Push);
        record("unexpected-pause-give-up", QStringLiteral("state=%1 load=%2 time=%3").arg(state).arg(load).arg(seconds(time)));
        resetUnexpectedPauseRecovery();
        Q_EMIT unaskedPauseGivenUp();
        return false;
    }
    return true;
}

// ---- history ----

void KRPlaybackSession::report(int playType) { m_viewing->report(playType); }

// ---- quality ----

QString KRPlaybackSession::fullQualityTitle(int quality) const
{
    return m_titleSource ? m_titleSource(quality) : KRQualityTitleForValue(quality);
}

int KRPlaybackSession::activeQuality() const
{
    if (m_quality > 0)
        return m_quality;
    return m_video ? int(m_video->playbackQuality()) : 0;
}

bool KRPlaybackSession::isSwitchingQuality() const { return m_switch->isOpen(); }

int KRPlaybackSession::switchToQuality(int quality, const QString& title)
{
    if (!m_media || quality <= 0)
        return 0;
    return m_switch->beginQualitySwitchToQuality(quality, title, m_expectedToPlay);
}

void KRPlaybackSession::fallbackTo360PAfterRepeatedStalls()
{
    // A copy on this device has no other quality to go to.
    if (!m_media || m_quality <= kFallbackQuality || m_fromDevice)
        return;
    m_switch->beginQualitySwitchToQuality(kFallbackQuality, QString(), true, true);
    // Once per start, the switch's own isolation notwithstanding.
    m_stallFallbackRequested = true;
}

bool KRPlaybackSession::isolateStallRecovery()
{
    const bool had = m_stallActive || m_stallFallbackRequested || m_delayed.isScheduled(QStringLiteral("checkStallRecovery"));
    m_delayed.cancel(QStringLiteral("checkStallRecovery"));
    m_delayed.cancel(QStringLiteral("stallFallback"));
    m_stallActive = false;
    m_stallCount = 0;
    m_stallWindowStart = 0;
    m_stallFallbackRequested = false;
    Q_EMIT bufferingChanged(false, QString());
    if (m_media && m_state == State::Stalled)
        applyGate(playsNow() ? Gate::Confirmed : Gate::Push);
    return had;
}

void KRPlaybackSession::adoptQuality(int quality)
{
    if (quality <= 0 || quality == m_quality)
        return;
    m_quality = quality;
    Q_EMIT qualityChanged(quality);
}

// ---- the switch's narrow interface ----

void KRPlaybackSession::resolveForQualitySwitch(int quality, QObject* owner, std::function<void(const QStringList&, int)> done)
{
    resolveAfresh(quality, owner, std::move(done));
}

KRPlaybackMedia* KRPlaybackSession::makeQualitySwitchMedia(const QUrl& sound, const QUrl& picture) { return makeMedia(sound, picture); }

int KRPlaybackSession::commitQualitySwitchStream(int quality, const QStringList& candidates, const QString& playURL)
{
    // The quality and the addresses a failover goes to change together, or a failover would
    // play the old quality under the new title.
    adoptQuality(quality);
    if (candidates.isEmpty())
        return -1;
    m_candidates = candidates;
    const int found = int(candidates.indexOf(playURL));
    m_candidateIndex = found >= 0 ? found : 0;
    m_freshResolveAttempted = false;
    if (m_video)
        m_video->setPlayURLCandidates(candidates);
    return m_candidateIndex;
}

bool KRPlaybackSession::replaceMediaForQualitySwitch(KRPlaybackMedia* media, double time, bool start)
{
    // One replacement: the old player goes and the new one takes its place without ending
    // the viewing, and the screen is told once.
    m_delayed.cancelAll();
    m_stallActive = false;
    resetUnexpectedPauseRecovery();
    m_holding = false;
    if (KRPlaybackMedia* old = m_media) {
        m_media = nullptr;
        release(old);
    }
    m_installedRecoveryGeneration = 0;
    m_startOwner = std::make_unique<QObject>();
    attach(media);
    m_pair = !media->pictureURL().isEmpty();
    m_startTime = std::max(0.0, time);
    m_installedPlayable = true;
    m_interruptedAt = 0;
    // A player made ready off screen waits, held, for the intent the switch kept; a stream
    // started again for a rollback plays by the intent as it stands.
    if (!start)
        m_holds |= HoldTransition;
    // A stream put in place after the end waits, paused, for the replay, where it was made
    // ready: what is told of the part's time stands there with its picture.
    const bool ended = m_state == State::Ended;
    if (ended)
        m_endedAt = m_startTime;
    else
        setState(State::Buffering);
    m_mediaUnstarted = start;
    Q_EMIT mediaReplaced(media);
    m_mediaUnstarted = false;
    if (m_media != media)
        return false;
    m_lifecycle->mediaInstalled();
    if (start)
        startMedia(media, time);
    applyGate(start ? Gate::Started : Gate::Rate);
    if (!ended && !isApplicationInBackground())
        startPlayerControlsTimer();
    return m_media == media;
}

void KRPlaybackSession::applyQualitySwitchIntent(bool play)
{
    settlePlayback(HoldNone, HoldTransition, play);
}

void KRPlaybackSession::setDASHSeekShouldResume(bool play)
{
    // A pair whose seek lands plays by itself: that must not start the sound a hold keeps
    // paused. It resumes only when the gate would play now; lifting the hold later plays it
    // through the gate.
    if (m_media && m_pair)
        m_media->setPendingSeekResume(play && playsNow());
}

void KRPlaybackSession::failQualitySwitchRollback(double time)
{
    m_holds &= ~unsigned(HoldTransition);
    removeMedia(Removal::Failed);
    m_expectedToPlay = false;
    m_holding = false;
    m_installedPlayable = true;
    m_interruptedAt = time;
    KRPlaybackAudioSession::sharedSession()->markPlaybackInactive();
    setState(State::Interrupted);
    Q_EMIT qualitySwitchRollbackFailed(time);
}

void KRPlaybackSession::dropPendingReplies() { m_startOwner = std::make_unique<QObject>(); }

void KRPlaybackSession::reconsiderLoadState() { movieLoadStateChanged(); }

void KRPlaybackSession::attemptDASHPlaybackStart()
{
    if (m_media && m_pair)
        m_media->attemptDASHPlaybackStart();
}

void KRPlaybackSession::pauseDASHForBufferingReason(const QString& reason)
{
    if (m_media && m_pair)
        m_media->pauseForBuffering(reason);
}

void KRPlaybackSession::deliverKeptFinish(int reason) { handleFinish(reason); }

void KRPlaybackSession::showQualitySwitchStatus(const QString& text, bool persistent) { Q_EMIT switchStatusShown(text, persistent); }

void KRPlaybackSession::qualitySwitchRollbackWillReplaceMedia() { Q_EMIT qualitySwitchRollingBack(); }

void KRPlaybackSession::qualitySwitchRollbackCompleted(double time) { Q_EMIT qualitySwitchRolledBack(time); }

void KRPlaybackSession::qualitySwitchStateChanged(bool switching, const QString& title)
{
    // A switch that ends takes its transition's hold with it, whichever way it ended.
    if (!switching && isHeld(HoldTransition)) {
        m_holds &= ~unsigned(HoldTransition);
        applyGate(Gate::Push);
    }
    Q_EMIT qualitySwitchChanged(switching, title);
}

// ---- the life cycle's narrow interface ----

bool KRPlaybackSession::isApplicationInBackground() const { return m_lifecycle && m_lifecycle->isInBackground(); }

void KRPlaybackSession::resetPlaybackStallRecovery()
{
    m_delayed.cancel(QStringLiteral("checkStallRecovery"));
    m_stallActive = false;
}

void KRPlaybackSession::abandonQualitySwitch(const char* reason) { m_switch->abandon(reason); }

void KRPlaybackSession::invalidatePendingDASHSeekResumeForReason(const QString& reason)
{
    if (m_media && m_pair)
        m_media->invalidatePendingDASHSeekResume(reason);
}

void KRPlaybackSession::synchronizeQualitySwitchIntent(bool playing, const QString& source)
{
    m_switch->synchronizeQualitySwitchPlaybackIntent(playing, source);
}

void KRPlaybackSession::stopTick()
{
    stopPlayerControlsTimer();
    m_tickToldStopped = true;
    Q_EMIT controlsTickRunningChanged(false);
}

void KRPlaybackSession::restartTick()
{
    m_tickToldStopped = true;
    startPlayerControlsTimer();
}

void KRPlaybackSession::dropPendingStart(const QString& text, const QString& reason)
{
    // The reply of the start still resolving is stale: nothing installs behind the user's back.
    beginRequest();
    m_continuation->endBackgroundContinuationTaskForGeneration(0, reason);
    m_startOwner.reset();
    m_expectedToPlay = false;
    KRPlaybackAudioSession::sharedSession()->markPlaybackInactive();
    setState(State::Idle);
    Q_EMIT pendingStartDropped(text);
}

int KRPlaybackSession::beginRequest()
{
    m_installedRecoveryGeneration = 0;
    return ++m_requestGeneration;
}

void KRPlaybackSession::abandonRequestInBackground(const QString& reason)
{
    // Only a request still waiting on the service is abandoned; one with its player is done.
    if (m_media || m_state != State::Resolving)
        return;
    const bool installed = m_installedRecoveryGeneration >= 1 && m_installedRecoveryGeneration == m_requestGeneration;
    const int generation = m_requestGeneration;
    const double at = m_interruptedAt;
    beginRequest();
    m_startOwner.reset();
    const QString why = !reason.isEmpty()          ? reason
                        : installed                ? QStringLiteral("background-installed-recovery-aborted")
                                                   : QStringLiteral("background-continuation-aborted");
    record(installed ? "background-installed-recovery-aborted" : "background-continuation-request-aborted",
           QStringLiteral("generation=%1 next=%2 reason=%3").arg(generation).arg(m_requestGeneration).arg(why));
    m_expectedToPlay = false;
    m_holding = false;
    m_installedPlayable = installed;
    m_interruptedAt = installed ? at : 0;
    KRPlaybackAudioSession::sharedSession()->markPlaybackInactive();
    setState(installed ? State::Interrupted : State::Failed);
    Q_EMIT backgroundRequestAbandoned(installed ? QStringLiteral("后台恢复超时，点播放重试") : QStringLiteral("后台解析超时，点播放重试"),
                                      installed);
}

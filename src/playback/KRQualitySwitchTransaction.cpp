#include "playback/KRQualitySwitchTransaction.h"

#include "model/KRPlayInfo.h"
#include "model/KRVideo.h"
#include "platform/foundation/MainClock.h"
#include "playback/KRDASHStreams.h"
#include "playback/KRPlaybackMedia.h"
#include "playback/KRPlaybackSession.h"
#include "playback/KRQualitySwitchHost.h"
#include "playback/KRPlaybackTransport.h"
#include "playback/KRQualitySwitchSupport.h"
#include "playback/KRQualityTitles.h"
#include "store/KRDiagnostics.h"

#include <algorithm>
#include <cmath>

using platform::MainClock;

namespace {

QString yesNo(bool value) { return value ? QStringLiteral("YES") : QStringLiteral("NO"); }
void record(const char* event, const QString& detail) { KRDiagnostics::recordEvent(QString::fromLatin1(event), detail); }
QString seconds(double value) { return QString::number(value, 'f', 3); }

const QString kWatchdog = QStringLiteral("qualitySwitchWatchdog");
const QString kReadyCheck = QStringLiteral("verifyQualitySwitchProgressiveReady");
const QString kSuppressionClear = QStringLiteral("clearQualitySwitchMovieFinishSuppression");
const QString kPrewarmCheck = QStringLiteral("checkModernQualityPrewarm");
constexpr int kSuppressionClearMs = 250;
constexpr int kReadyCheckMs = 120;
constexpr double kReadyCheckWindow = 0.3;
constexpr int kPrewarmCheckMs = 100;
constexpr double kExplicitSeekTolerance = 1.5;
constexpr int kNoFinish = -1;

bool playableNow(unsigned load) { return (load & (KRLoadStatePlayable | KRLoadStatePlaythroughOK)) && !(load & KRLoadStateStalled); }

} // namespace

QStringList qualitySwitchProgressiveCandidatesWithPrimaryURL(const QString& primary, const QStringList& additional)
{
    QStringList raw;
    if (!primary.isEmpty())
        raw.append(primary);
    for (const QString& candidate : additional)
        if (!candidate.isEmpty())
            raw.append(candidate);
    QStringList list;
    for (const QString& candidate : raw) {
        const QString playable = KRLegacyPlayableCDNURLString(candidate);
        if (!playable.isEmpty() && !list.contains(playable))
            list.append(playable);
    }
    return list;
}

KRQualitySwitchTransaction::KRQualitySwitchTransaction(KRQualitySwitchHost& session) : m_session(session) {}

KRQualitySwitchTransaction::~KRQualitySwitchTransaction()
{
    // The session is going: its players go with it, and no delayed step may outlive it.
    m_delayed.cancelAll();
    if (KRPlaybackMedia* prewarm = m_prewarm) {
        m_prewarm = nullptr;
        prewarm->stop();
        prewarm->setParent(nullptr);
        KRPlaybackTransportReleaseLater(prewarm);
    }
}

QString KRQualitySwitchTransaction::fullTitle(int quality) const { return m_session.fullQualityTitle(quality); }

bool KRQualitySwitchTransaction::isCurrentQualitySwitchTransaction(int generation, qint64 cid) const
{
    // An answer for another part of the video is stale even within the same transaction.
    const std::shared_ptr<KRVideo> video = m_session.video();
    return m_open && generation == m_generation && video && video->cid() == cid;
}

// ---- begin and phases ----

int KRQualitySwitchTransaction::beginQualitySwitchToQuality(int quality, const QString& title, bool expectedPlaying, bool automatic)
{
    // The switch is isolated from the stall recovery: a stall now belongs to the stream going away.
    const bool hadRecovery = m_session.isolateStallRecovery();
    if (m_open)
        abandon("superseded");
    // The fields of the stream to come and of the rollback were cleared by the last finish.
    m_delayed.cancel(kWatchdog);
    m_targetTitle = title.isEmpty() ? KRCompactQualityTitleForValue(quality) : title;
    m_pending = quality;
    m_open = true;
    m_phase = kPhaseResolving;
    m_startedAt = MainClock::now();
    KRPlaybackMedia* media = m_session.media();
    // A pair's seek that has not landed is where the user is: the sound's clock still reads
    // the time it left.
    const double pendingSeekTime = media && m_session.playsPair() && media->isSeekInFlight() ? media->pendingSeekTime() : -1;
    const bool pendingSeek = pendingSeekTime >= 0;
    m_resumeTime = pendingSeek ? pendingSeekTime : media ? std::max(0.0, media->currentTime()) : 0;
    m_resumeExplicit = pendingSeek;
    // After the end the new stream waits where the replay starts: at the end nothing is left
    // to buffer, and the stream would never be ready.
    if (m_session.isEnded()) {
        m_resumeTime = 0;
        m_resumeExplicit = true;
    }
    m_expectedToPlay = expectedPlaying;
    m_automaticFallback = automatic;
    m_session.setDASHSeekShouldResume(expectedPlaying);
    m_cid = m_session.video() ? m_session.video()->cid() : 0;
    ++m_generation;
    m_owner = std::make_unique<QObject>();
    record("quality-switch-stall-isolated", QStringLiteral("generation=%1 hadRecovery=%2 playing=%3 resume=%4 pendingSeek=%5")
                                                .arg(m_generation)
                                                .arg(yesNo(hadRecovery), yesNo(expectedPlaying), seconds(m_resumeTime), yesNo(pendingSeek)));
    armQualitySwitchWatchdogForPhase(kPhaseResolving);
    setQualitySwitchPhase(kPhaseResolving, QStringLiteral("正在获取 %1 播放地址…").arg(m_targetTitle));
    const int generation = m_generation;
    const qint64 cid = m_cid;
    // Resolved on the next turn, so the caller holds the generation before any answer.
    m_delayed.schedule(QStringLiteral("resolveQualitySwitch"), 0, [this, generation, cid] {
        if (isCurrentQualitySwitchTransaction(generation, cid))
            resolve();
    });
    return generation;
}

void KRQualitySwitchTransaction::setQualitySwitchPhase(int phase, const QString& status)
{
    if (!m_open)
        return;
    const int previous = m_phase;
    m_phase = phase;
    m_persistentStatus = status;
    if (phase != previous)
        armQualitySwitchWatchdogForPhase(phase);
    if (!status.isEmpty())
        m_session.showQualitySwitchStatus(status, true);
    refreshQualitySwitchPresentation();
    record("quality-switch-phase", QStringLiteral("generation=%1 cid=%2 phase=%3 pending=%4 actual=%5 elapsed=%6 expectedPlay=%7 status=%8")
                                       .arg(m_generation)
                                       .arg(m_session.video() ? m_session.video()->cid() : 0)
                                       .arg(phase)
                                       .arg(m_pending)
                                       .arg(m_session.quality())
                                       .arg(seconds(m_startedAt > 0 ? MainClock::now() - m_startedAt : 0))
                                       .arg(yesNo(m_expectedToPlay), status));
}

void KRQualitySwitchTransaction::refreshQualitySwitchPresentation()
{
    if (!m_open)
        return;
    QString title = m_rollbackInProgress && !m_rollbackTitle.isEmpty() ? m_rollbackTitle : m_targetTitle;
    if (title.isEmpty())
        title = KRCompactQualityTitleForValue(m_pending);
    m_session.qualitySwitchStateChanged(true, title);
}

// ---- the watchdog ----

void KRQualitySwitchTransaction::armQualitySwitchWatchdogForPhase(int phase)
{
    m_delayed.cancel(kWatchdog);
    if (!m_open)
        return;
    const double now = MainClock::now();
    const double interval = KRQualitySwitchWatchdogInterval(phase, m_startedAt > 0 ? now - m_startedAt : 0, m_rollbackInProgress,
                                                            m_rollbackDASH, m_rollbackStartedAt > 0 ? now - m_rollbackStartedAt : 0);
    const int generation = m_generation;
    m_delayed.schedule(kWatchdog, int(std::ceil(interval * 1000)), [this, generation] { qualitySwitchWatchdogFired(generation); });
}

void KRQualitySwitchTransaction::qualitySwitchWatchdogFired(int generation)
{
    // A fire of an ended or replaced transaction changes nothing and says nothing.
    if (!m_open || generation != m_generation)
        return;
    record("quality-switch-watchdog", QStringLiteral("generation=%1 phase=%2 pending=%3 elapsed=%4 seamless=%5")
                                          .arg(m_generation)
                                          .arg(m_phase)
                                          .arg(m_pending)
                                          .arg(seconds(m_startedAt > 0 ? MainClock::now() - m_startedAt : 0))
                                          .arg(yesNo(m_seamlessActive)));
    if (m_phase == kPhaseRollingBack || m_rollbackInProgress) {
        abortQualitySwitchRollbackWithReason(QStringLiteral("原画质恢复超时"));
        return;
    }
    const QString title = m_targetTitle.isEmpty() ? QStringLiteral("清晰度") : m_targetTitle;
    const bool prewarming = m_prewarm != nullptr;
    if (prewarming)
        cancelModernQualityPrewarm();
    failQualitySwitchWithReason(QStringLiteral("%1 切换超时").arg(title), m_seamlessActive && !prewarming);
}

// ---- resolving the new quality ----

void KRQualitySwitchTransaction::resolve()
{
    const int generation = m_generation;
    const qint64 cid = m_cid;
    const std::shared_ptr<KRVideo> video = m_session.video();
    if (!video) {
        failQualitySwitchWithReason(QString(), false);
        return;
    }
    auto chain = [this, generation, cid] {
        m_session.resolveForQualitySwitch(m_pending, m_owner.get(), [this, generation, cid](const QStringList& candidates, int quality) {
            if (!isCurrentQualitySwitchTransaction(generation, cid))
                return;
            if (candidates.isEmpty()) {
                failQualitySwitchWithReason(QString(), false);
                return;
            }
            stageQualitySwitchProgressiveCandidates(candidates, quality > 0 ? quality : m_pending);
        });
    };
    if (m_pending < 80) {
        chain();
        return;
    }
    // The page's route rules: 1080P and above plays the DASH pair when its streams are usable.
    KRPlaybackSession::loadDASHPlaybackInfoForVideo(
        *video, m_session.aid(), m_pending, m_owner.get(), [this, generation, cid, chain](const std::optional<KRPlayInfo>& info, const KROptionalError&) {
            if (!isCurrentQualitySwitchTransaction(generation, cid))
                return;
            int chosen = m_pending;
            const QStringList pair = info ? KRPlaybackSession::dashAddresses(*info, m_pending, &chosen) : QStringList();
            if (pair.isEmpty()) {
                chain();
                return;
            }
            m_pendingPair = true;
            beginPrewarm(QUrl(pair.at(1)), QUrl(pair.at(0)), chosen, {});
        });
}

// ---- a progressive target ----

void KRQualitySwitchTransaction::stageQualitySwitchProgressiveCandidates(const QStringList& resolved, int quality)
{
    const QStringList candidates = qualitySwitchProgressiveCandidatesWithPrimaryURL(resolved.value(0), resolved.mid(1));
    m_pendingCandidates = candidates;
    m_pendingResolvedQuality = quality;
    record("quality-switch-progressive-candidates-staged", QStringLiteral("generation=%1 count=%2 primaryHost=%3")
                                                               .arg(m_generation)
                                                               .arg(candidates.size())
                                                               .arg(QUrl(candidates.value(0)).host()));
    KRPlaybackMedia* media = m_session.media();
    if (!media || candidates.isEmpty()) {
        failQualitySwitchWithReason(QString(), false);
        return;
    }
    if (m_session.playsPair() || m_session.isEnded()) {
        // A pair's transport carries only its sound, and after the end the transport stands
        // where nothing is left to stage: the new stream is made ready beside it.
        beginPrewarm(QUrl(candidates.first()), QUrl(), quality, candidates);
        return;
    }
    setQualitySwitchPhase(kPhaseLoading, QStringLiteral("正在切换到 %1…").arg(m_targetTitle));
    captureQualitySwitchRollbackStateAtTime(currentQualitySwitchResumeTime(), m_expectedToPlay);
    const int generation = m_generation;
    const qint64 cid = m_cid;
    media->stageContent(QUrl(candidates.first()), m_resumeTime, m_session.effectiveRate(), [this, generation, cid](bool ready, const QString& error) {
        if (!isCurrentQualitySwitchTransaction(generation, cid))
            return;
        if (!ready) {
            // The old stream never stopped: it goes on, and the failure is the switch's alone.
            record("quality-switch-staging-failed", QStringLiteral("generation=%1 error=%2").arg(generation).arg(error));
            failQualitySwitchWithReason(QString(), false);
            return;
        }
        KRPlaybackMedia* playing = m_session.media();
        if (!playing || !playing->commitStagedContent(playing->currentTime())) {
            failQualitySwitchWithReason(QString(), false);
            return;
        }
        m_swapCommitted = true;
        beginQualitySwitchMovieFinishSuppression();
        // The new stream plays from here: its quality and its candidates go in together.
        commitQualitySwitchProgressiveCandidates();
        scheduleQualitySwitchProgressiveReadyVerification();
    });
}

void KRQualitySwitchTransaction::completeSeamlessQualitySwapIfReady()
{
    KRPlaybackMedia* media = m_session.media();
    if (!m_open || !m_seamlessActive || !media || !m_swapCommitted)
        return;
    // The new stream broke while it was taking over: the previous one comes back.
    if (m_deferredReason == 1) {
        failQualitySwitchWithReason(QString(), true);
        return;
    }
    if (!playableNow(media->loadState()))
        return;
    scheduleQualitySwitchMovieFinishSuppressionClear();
    finishQualitySwitchTransactionSilently();
}

void KRQualitySwitchTransaction::commitQualitySwitchProgressiveCandidates()
{
    QStringList list = m_pendingCandidates;
    const std::shared_ptr<KRVideo> video = m_session.video();
    const int index = m_session.commitQualitySwitchStream(m_pendingResolvedQuality, list, video ? video->playURL() : QString());
    if (list.isEmpty())
        return;
    record("quality-switch-progressive-candidates-committed", QStringLiteral("generation=%1 count=%2 index=%3 host=%4")
                                                                  .arg(m_generation)
                                                                  .arg(list.size())
                                                                  .arg(index)
                                                                  .arg(QUrl(video ? video->playURL() : QString()).host()));
}

// ---- anything else: a player made ready off screen, then installed ----

void KRQualitySwitchTransaction::beginPrewarm(const QUrl& sound, const QUrl& picture, int quality, const QStringList& candidates)
{
    setQualitySwitchPhase(kPhaseLoading, QStringLiteral("正在切换到 %1…").arg(m_targetTitle));
    captureQualitySwitchRollbackStateAtTime(currentQualitySwitchResumeTime(), m_expectedToPlay);
    m_pendingResolvedQuality = quality;
    m_pendingCandidates = candidates;
    m_prewarmSeekIssued = false;
    KRPlaybackMedia* prewarm = m_session.makeQualitySwitchMedia(sound, picture);
    m_prewarm = prewarm;
    record("quality-prewarm-begin", QStringLiteral("time=%1 dash=%2 host=%3").arg(seconds(m_resumeTime), yesNo(!picture.isEmpty()), sound.host()));
    const int generation = m_generation;
    const qint64 cid = m_cid;
    QObject::connect(prewarm, &KRPlaybackMedia::finished, m_owner.get(), [this, generation, cid](int reason) {
        if (isCurrentQualitySwitchTransaction(generation, cid) && reason == 1) {
            cancelModernQualityPrewarm();
            failQualitySwitchWithReason(QString(), false);
        }
    });
    prewarm->prewarm(m_resumeTime);
    m_delayed.schedule(kPrewarmCheck, kPrewarmCheckMs, [this] { checkPrewarm(); });
}

void KRQualitySwitchTransaction::checkPrewarm()
{
    KRPlaybackMedia* prewarm = m_prewarm;
    if (!m_open || !prewarm)
        return;
    const bool ready = prewarm->isSoundReady() && prewarm->isPictureReady() && !prewarm->isSeekInFlight();
    if (!ready) {
        m_delayed.schedule(kPrewarmCheck, kPrewarmCheckMs, [this] { checkPrewarm(); });
        return;
    }
    KRPlaybackMedia* playing = m_session.media();
    const double soundTime = playing ? std::max(0.0, playing->currentTime()) : m_resumeTime;
    if (!m_prewarmSeekIssued) {
        // Into the new stream at the time the sound has reached meanwhile.
        m_prewarmSeekIssued = true;
        setQualitySwitchPhase(kPhaseSeeking, QStringLiteral("正在切换到 %1…").arg(m_targetTitle));
        if (!m_resumeExplicit)
            m_resumeTime = soundTime;
        prewarm->seek(m_resumeTime, false);
        m_delayed.schedule(kPrewarmCheck, kPrewarmCheckMs, [this] { checkPrewarm(); });
        return;
    }
    // Installed in place of the playing one: the picture changes hands in one step.
    m_prewarm = nullptr;
    QObject::disconnect(prewarm, nullptr, m_owner.get(), nullptr);
    beginQualitySwitchMovieFinishSuppression();
    m_rollbackInstalling = false;
    const int generation = m_generation;
    const qint64 cid = m_cid;
    if (!m_session.replaceMediaForQualitySwitch(prewarm, prewarm->currentTime(), false) || !isCurrentQualitySwitchTransaction(generation, cid))
        return;
    m_session.applyQualitySwitchIntent(m_expectedToPlay);
    if (!isCurrentQualitySwitchTransaction(generation, cid))
        return;
    record("quality-prewarm-installed", QStringLiteral("generation=%1 time=%2 dash=%3").arg(m_generation).arg(seconds(m_resumeTime), yesNo(m_pendingPair)));
    m_swapCommitted = true;
    commitQualitySwitchProgressiveCandidates();
    scheduleQualitySwitchMovieFinishSuppressionClear();
    finishQualitySwitchTransactionSilently();
}

void KRQualitySwitchTransaction::cancelModernQualityPrewarm()
{
    m_delayed.cancel(kPrewarmCheck);
    KRPlaybackMedia* prewarm = m_prewarm;
    if (!prewarm)
        return;
    m_prewarm = nullptr;
    record("quality-prewarm-cancelled", QStringLiteral("generation=%1").arg(m_generation));
    QObject::disconnect(prewarm, nullptr, nullptr, nullptr);
    prewarm->stop();
    prewarm->setParent(nullptr);
    KRPlaybackTransportReleaseLater(prewarm);
}

void KRQualitySwitchTransaction::cancelSeamlessQualitySwapRestoringPreviousURL(bool restorePrevious)
{
    if (KRPlaybackMedia* media = m_session.media())
        media->cancelStagedContent();
    cancelModernQualityPrewarm();
    if (!restorePrevious || !m_swapCommitted) {
        if (restorePrevious) {
            // Nothing was replaced: the previous stream is still the one playing, and the
            // rollback completes at the next ready check, leaving it where it stands.
            m_rollbackExpectedURL = m_previousURL;
            m_rollbackKeepsStream = true;
            beginQualitySwitchMovieFinishSuppression();
            scheduleQualitySwitchProgressiveReadyVerification();
        }
        return;
    }
    // The previous stream comes back where the new one stood, or where the user sought.
    if (KRPlaybackMedia* media = m_session.media(); media && !m_resumeExplicit)
        m_resumeTime = m_seamlessResumeTime = std::max(0.0, media->currentTime());
    m_rollbackInstalling = true;
    m_rollbackExpectedURL = m_previousURL;
    beginQualitySwitchMovieFinishSuppression();
    const int generation = m_generation;
    const qint64 cid = m_cid;
    m_session.qualitySwitchRollbackWillReplaceMedia();
    if (!isCurrentQualitySwitchTransaction(generation, cid))
        return;
    KRPlaybackMedia* previous = m_session.makeQualitySwitchMedia(m_previousURL, m_previousPictureURL);
    // Something told of the replacement may have ended the switch (a stop): nothing goes on.
    if (!m_session.replaceMediaForQualitySwitch(previous, currentQualitySwitchResumeTime(), true) || !isCurrentQualitySwitchTransaction(generation, cid))
        return;
    m_session.commitQualitySwitchStream(m_previousQuality, m_previousCandidates, m_previousURL.toString());
    m_rollbackInstalling = false;
    scheduleQualitySwitchProgressiveReadyVerification();
}

// ---- endings ----

void KRQualitySwitchTransaction::finishQualitySwitchTransactionSilently()
{
    cancelModernQualityPrewarm();
    const QString shown = m_persistentStatus;
    m_delayed.cancel(kWatchdog);
    m_delayed.cancel(kReadyCheck);
    m_delayed.cancel(kPrewarmCheck);
    m_open = false;
    m_phase = kPhaseNone;
    m_pending = 0;
    m_startedAt = 0;
    m_resumeTime = 0;
    m_resumeExplicit = m_expectedToPlay = m_automaticFallback = false;
    ++m_generation;
    m_owner.reset();
    m_targetTitle.clear();
    m_persistentStatus.clear();
    if (!shown.isEmpty())
        m_session.showQualitySwitchStatus(QString(), true);
    m_pendingCandidates.clear();
    m_pendingResolvedQuality = 0;
    m_pendingPair = false;
    m_swapCommitted = false;
    m_rollbackInProgress = m_rollbackDASH = m_rollbackInstalling = m_rollbackKeepsStream = false;
    m_rollbackStartedAt = 0;
    m_failureReason.clear();
    m_rollbackTitle.clear();
    m_rollbackExpectedURL.clear();
    m_replacementStartedAt = 0;
    m_observedNonPlayable = m_readyCheckScheduled = false;
    m_seamlessActive = false;
    m_previousURL.clear();
    m_previousPictureURL.clear();
    m_previousCandidates.clear();
    m_previousQuality = 0;
    m_session.qualitySwitchStateChanged(false, QString());
}

void KRQualitySwitchTransaction::abandon(const char* reason)
{
    if (!m_open && !m_seamlessActive && !m_prewarm) {
        // A suppression left to run out after its switch goes with the player it was for: the
        // next player's finishes are its own.
        if (m_suppressFinish)
            clearQualitySwitchMovieFinishSuppressionImmediately();
        return;
    }
    record("quality-prewarm-abort", QStringLiteral("generation=%1 phase=%2 reason=%3").arg(m_generation).arg(m_phase).arg(QLatin1String(reason)));
    cancelSeamlessQualitySwapRestoringPreviousURL(false);
    clearQualitySwitchMovieFinishSuppressionImmediately();
    finishQualitySwitchTransactionSilently();
}

void KRQualitySwitchTransaction::relieveMemoryPressure()
{
    if (!m_prewarm)
        return;
    record("quality-prewarm-abort", QStringLiteral("generation=%1 reason=memory-warning").arg(m_generation));
    cancelModernQualityPrewarm();
    failQualitySwitchWithReason(QStringLiteral("内存压力较高，已保持原清晰度"), false);
}

void KRQualitySwitchTransaction::failQualitySwitchWithReason(const QString& reason, bool restorePreviousStream)
{
    if (!m_open && !m_seamlessActive)
        return;
    if (m_rollbackInProgress) {
        record("quality-switch-duplicate-failure-ignored", QStringLiteral("generation=%1 phase=%2 reason=%3").arg(m_generation).arg(m_phase).arg(reason));
        refreshQualitySwitchPresentation();
        return;
    }
    const QString target = m_targetTitle.isEmpty() ? fullTitle(m_pending) : m_targetTitle;
    const int previousQuality = m_seamlessActive && m_previousQuality >= 1 ? m_previousQuality : m_session.activeQuality();
    const QString previous = fullTitle(previousQuality);
    const double elapsed = m_startedAt > 0 ? MainClock::now() - m_startedAt : 0;
    KRPlaybackMedia* media = m_session.media();
    const bool previousDASH = m_seamlessActive ? !m_previousPictureURL.isEmpty() : m_session.playsPair();
    const bool stalled = media && (media->loadState() & KRLoadStateStalled);
    bool healthy = false;
    bool restorable = false;
    if (m_seamlessActive) {
        healthy = true;
        restorable = !m_previousURL.isEmpty();
    } else if (!stalled) {
        healthy = !previousDASH || !(media && media->isRefilling());
    }
    // Replies still pending for the player that stays are stale now.
    m_session.dropPendingReplies();
    record("quality-switch-failed", QStringLiteral("cid=%1 target=%2 pending=%3 actual=%4 phase=%5 elapsed=%6 expectedPlay=%7 restore=%8 previousDASH=%9 reason=%10")
                                        .arg(m_session.video() ? m_session.video()->cid() : 0)
                                        .arg(target)
                                        .arg(m_pending)
                                        .arg(m_session.quality())
                                        .arg(m_phase)
                                        .arg(seconds(elapsed))
                                        .arg(yesNo(m_expectedToPlay), yesNo(restorePreviousStream), yesNo(previousDASH), reason));
    if (restorePreviousStream && restorable && m_seamlessActive) {
        m_rollbackInProgress = true;
        m_rollbackDASH = previousDASH;
        m_rollbackStartedAt = MainClock::now();
        m_failureReason = reason.isEmpty() ? QStringLiteral("新清晰度切换失败") : reason;
        m_rollbackTitle = previous;
        setQualitySwitchPhase(kPhaseRollingBack, QStringLiteral("切换失败，正在恢复 %1…").arg(previous));
        cancelSeamlessQualitySwapRestoringPreviousURL(true);
        return;
    }
    if (restorePreviousStream && m_seamlessActive) {
        abortQualitySwitchRollbackWithReason(QStringLiteral("原画质恢复信息缺失"));
        return;
    }
    cancelSeamlessQualitySwapRestoringPreviousURL(false);
    finishQualitySwitchTransactionSilently();
    QString status;
    if (healthy) {
        status = !reason.isEmpty() ? QStringLiteral("%1 · 继续播放 %2").arg(reason, previous)
                                   : QStringLiteral("%1 切换失败 · 继续播放 %2").arg(target, previous);
    } else {
        if (media)
            record("quality-switch-source-stall-restored", QStringLiteral("dash=%1 load=%2 rebuffering=%3 host=%4")
                                                               .arg(yesNo(previousDASH))
                                                               .arg(media->loadState())
                                                               .arg(yesNo(media->isRefilling()), media->contentURL().host()));
        if (previousDASH && media) {
            // The pair that stayed starts again if it can, and waits for its data if it cannot.
            m_session.attemptDASHPlaybackStart();
            media = m_session.media();
            if (media && (media->isRefilling() || (media->loadState() & KRLoadStateStalled)))
                m_session.pauseDASHForBufferingReason(QStringLiteral("quality-switch-resolve-failed"));
        } else {
            // The stall recovery takes over the stream that stayed.
            m_session.reconsiderLoadState();
        }
        status = !reason.isEmpty() ? QStringLiteral("%1 · %2 网络缓冲中").arg(reason, previous)
                                   : QStringLiteral("%1 切换失败 · %2 网络缓冲中").arg(target, previous);
    }
    m_session.showQualitySwitchStatus(status, false);
}

void KRQualitySwitchTransaction::completeQualitySwitchRollbackIfReady()
{
    KRPlaybackMedia* media = m_session.media();
    if (!m_open || !m_rollbackInProgress || !media)
        return;
    if (m_rollbackDASH) {
        if (!media->isSoundReady() || !media->isPictureReady() || media->isSeekInFlight() || media->isRefilling() ||
            (m_expectedToPlay && !media->isPairRunning()))
            return;
    } else {
        if (!playableNow(media->loadState()))
            return;
        if (!m_rollbackExpectedURL.isEmpty() && media->contentURL().toString() != m_rollbackExpectedURL.toString())
            return;
    }
    // A stream that never stopped keeps its time: seeking it back would replay what was heard.
    const double resume = m_rollbackKeepsStream ? std::max(0.0, media->currentTime()) : currentQualitySwitchResumeTime();
    // The stream put back goes to the time the switch kept, however near it stands already.
    if (!m_rollbackDASH && !m_rollbackKeepsStream)
        media->seek(resume, m_expectedToPlay);
    m_session.applyQualitySwitchIntent(m_expectedToPlay);
    m_session.qualitySwitchRollbackCompleted(resume);
    if (!m_open)
        return;
    const QString reason = m_failureReason.isEmpty() ? QStringLiteral("新清晰度切换失败") : m_failureReason;
    const QString title = m_rollbackTitle.isEmpty() ? fullTitle(m_session.activeQuality()) : m_rollbackTitle;
    const double elapsed = m_rollbackStartedAt > 0 ? MainClock::now() - m_rollbackStartedAt : 0;
    const int generation = m_generation;
    const bool dash = m_rollbackDASH;
    const bool expected = m_expectedToPlay;
    m_rollbackInProgress = false;
    finishQualitySwitchTransactionSilently();
    scheduleQualitySwitchMovieFinishSuppressionClear();
    m_session.showQualitySwitchStatus(QStringLiteral("%1 · 已恢复 %2").arg(reason, title), false);
    record("quality-switch-rollback-ready", QStringLiteral("generation=%1 cid=%2 dash=%3 elapsed=%4 time=%5 expectedPlay=%6 title=%7 reason=%8")
                                                .arg(generation)
                                                .arg(m_session.video() ? m_session.video()->cid() : 0)
                                                .arg(yesNo(dash), seconds(elapsed), seconds(resume), yesNo(expected), title, reason));
}

void KRQualitySwitchTransaction::abortQualitySwitchRollbackWithReason(const QString& reason)
{
    if (!m_open && !m_rollbackInProgress && !m_seamlessActive)
        return;
    const double resume = std::max(0.0, m_resumeTime);
    record("quality-switch-rollback-failed", QStringLiteral("generation=%1 cid=%2 dash=%3 elapsed=%4 reason=%5")
                                                 .arg(m_generation)
                                                 .arg(m_session.video() ? m_session.video()->cid() : 0)
                                                 .arg(yesNo(m_rollbackDASH))
                                                 .arg(seconds(m_rollbackStartedAt > 0 ? MainClock::now() - m_rollbackStartedAt : 0))
                                                 .arg(reason.isEmpty() ? QStringLiteral("unknown") : reason));
    m_rollbackInProgress = false;
    m_seamlessActive = false;
    clearQualitySwitchMovieFinishSuppressionImmediately();
    finishQualitySwitchTransactionSilently();
    m_session.failQualitySwitchRollback(resume);
}

// ---- resume time and intent ----

double KRQualitySwitchTransaction::currentQualitySwitchResumeTime()
{
    KRPlaybackMedia* media = m_session.media();
    if (m_open && !m_seamlessActive && media) {
        const double time = std::max(0.0, media->currentTime());
        if (!m_resumeExplicit || std::abs(time - m_resumeTime) <= kExplicitSeekTolerance) {
            m_resumeExplicit = false;
            m_resumeTime = time;
        }
    }
    return m_resumeTime > 0 ? m_resumeTime : 0;
}

void KRQualitySwitchTransaction::updateQualitySwitchResumeTime(double time, const QString& source)
{
    if (!m_open)
        return;
    m_resumeTime = std::max(time, 0.0);
    m_resumeExplicit = true;
    if (m_seamlessActive)
        m_seamlessResumeTime = m_resumeTime;
    record("quality-switch-seek-intent", QStringLiteral("generation=%1 phase=%2 time=%3 seamless=%4 source=%5")
                                             .arg(m_generation)
                                             .arg(m_phase)
                                             .arg(seconds(m_resumeTime), yesNo(m_seamlessActive),
                                                  source.isEmpty() ? QStringLiteral("unknown") : source));
}

void KRQualitySwitchTransaction::synchronizeQualitySwitchPlaybackIntent(bool playing, const QString& source)
{
    if (!m_open)
        return;
    m_expectedToPlay = playing;
    m_session.setDASHSeekShouldResume(playing);
    if (m_seamlessActive)
        m_seamlessShouldPlay = playing;
    KRPlaybackMedia* media = m_session.media();
    record("quality-switch-playback-intent", QStringLiteral("generation=%1 phase=%2 playing=%3 seamless=%4 dashSeek=%5 source=%6")
                                                 .arg(m_generation)
                                                 .arg(m_phase)
                                                 .arg(yesNo(playing), yesNo(m_seamlessActive),
                                                      media && media->isSeekInFlight() ? QStringLiteral("in-flight") : QStringLiteral("idle"),
                                                      source.isEmpty() ? QStringLiteral("unknown") : source));
}

void KRQualitySwitchTransaction::captureQualitySwitchRollbackStateAtTime(double time, bool playing)
{
    KRPlaybackMedia* media = m_session.media();
    m_seamlessActive = true;
    m_resumeTime = m_seamlessResumeTime = time > 0 ? time : 0;
    m_seamlessShouldPlay = playing;
    m_previousQuality = m_session.activeQuality();
    m_previousURL = media ? media->contentURL() : QUrl();
    m_previousPictureURL = media ? media->pictureURL() : QUrl();
    m_previousCandidates = m_session.candidates();
}

// ---- finishes of a player being replaced ----

void KRQualitySwitchTransaction::beginQualitySwitchMovieFinishSuppression()
{
    m_deferredReason = kNoFinish;
    m_deferredGeneration = 0;
    m_suppressFinish = true;
    ++m_replacementGeneration;
    m_replacementStartedAt = MainClock::now();
    m_observedNonPlayable = m_readyCheckScheduled = false;
    m_delayed.cancel(kReadyCheck);
    record("quality-switch-finish-suppression-begin",
           QStringLiteral("replacement=%1 phase=%2 rollback=%3").arg(m_replacementGeneration).arg(m_phase).arg(yesNo(m_rollbackInProgress)));
}

void KRQualitySwitchTransaction::scheduleQualitySwitchMovieFinishSuppressionClear()
{
    if (!m_suppressFinish)
        return;
    const int replacement = m_replacementGeneration;
    m_delayed.schedule(kSuppressionClear, kSuppressionClearMs, [this, replacement] { clearQualitySwitchMovieFinishSuppressionForGeneration(replacement); });
}

void KRQualitySwitchTransaction::clearQualitySwitchMovieFinishSuppressionForGeneration(int replacement)
{
    if (replacement != m_replacementGeneration)
        return;
    const int deferred = m_deferredGeneration == replacement ? m_deferredReason : kNoFinish;
    m_deferredReason = kNoFinish;
    m_deferredGeneration = 0;
    m_suppressFinish = false;
    m_replacementStartedAt = 0;
    m_observedNonPlayable = m_readyCheckScheduled = false;
    record("quality-switch-finish-suppression-end", QStringLiteral("replacement=%1 delayed=YES").arg(replacement));
    if (deferred == kNoFinish)
        return;
    KRPlaybackMedia* media = m_session.media();
    const unsigned load = media ? media->loadState() : 0;
    const int playback = media ? media->playbackState() : -1;
    const double time = media ? media->currentTime() : 0;
    const double duration = media ? media->duration() : 0;
    const bool healthy = media && playableNow(load) && playback != KRPlaybackStateStopped;
    // The modern transport rests paused at its end: the rule that reads that is the shared one.
    const bool deliver = KRQualitySwitchShouldDeliverDeferredFinish(deferred, media != nullptr, load, playback, duration, time);
    record("quality-switch-deferred-finish-checked", QStringLiteral("replacement=%1 reason=%2 healthy=%3 replay=%4 load=%5 playback=%6 time=%7 duration=%8")
                                                         .arg(replacement)
                                                         .arg(deferred)
                                                         .arg(yesNo(healthy), yesNo(deliver))
                                                         .arg(load)
                                                         .arg(playback)
                                                         .arg(seconds(time), seconds(duration)));
    if (deliver && media)
        m_session.deliverKeptFinish(deferred);
}

void KRQualitySwitchTransaction::clearQualitySwitchMovieFinishSuppressionImmediately()
{
    m_deferredReason = kNoFinish;
    m_deferredGeneration = 0;
    ++m_replacementGeneration;
    m_suppressFinish = false;
    m_replacementStartedAt = 0;
    m_observedNonPlayable = m_readyCheckScheduled = false;
    m_delayed.cancel(kSuppressionClear);
}

bool KRQualitySwitchTransaction::keepFinish(int reason)
{
    if (!m_suppressFinish)
        return false;
    if (reason == 0 || reason == 1) {
        // An error already kept is not replaced by an end.
        if (!(m_deferredReason == 1 && reason == 0)) {
            m_deferredReason = reason;
            m_deferredGeneration = m_replacementGeneration;
        }
        record("quality-switch-finish-deferred", QStringLiteral("replacement=%1 reason=%2 rollback=%3")
                                                     .arg(m_replacementGeneration)
                                                     .arg(reason)
                                                     .arg(yesNo(m_rollbackInProgress)));
        // The stream going back in broke as well: there is nothing left to play.
        if (reason == 1 && m_open && m_rollbackInProgress) {
            abortQualitySwitchRollbackWithReason(QStringLiteral("原画质恢复失败"));
            return true;
        }
        // The new stream broke while taking over: the check decides at once.
        if (reason == 1 && m_open && m_swapCommitted)
            completeSeamlessQualitySwapIfReady();
    }
    return true;
}

// ---- the ready check ----

void KRQualitySwitchTransaction::mediaLoadStateChanged()
{
    KRPlaybackMedia* media = m_session.media();
    if (!m_open || !media)
        return;
    if (m_suppressFinish && !playableNow(media->loadState()))
        m_observedNonPlayable = true;
    scheduleQualitySwitchProgressiveReadyVerification();
}

void KRQualitySwitchTransaction::scheduleQualitySwitchProgressiveReadyVerification()
{
    if (!m_open || m_readyCheckScheduled)
        return;
    if (!m_rollbackInProgress && !m_swapCommitted)
        return;
    m_readyCheckScheduled = true;
    const int generation = m_generation;
    const int replacement = m_replacementGeneration;
    m_delayed.schedule(kReadyCheck, kReadyCheckMs, [this, generation, replacement] { verifyQualitySwitchProgressiveReadyForGeneration(generation, replacement); });
}

void KRQualitySwitchTransaction::verifyQualitySwitchProgressiveReadyForGeneration(int generation, int replacement)
{
    if (generation != m_generation || replacement != m_replacementGeneration)
        return;
    m_readyCheckScheduled = false;
    KRPlaybackMedia* media = m_session.media();
    if (!m_open || !media)
        return;
    const double elapsed = m_replacementStartedAt > 0 ? MainClock::now() - m_replacementStartedAt : 0;
    if (!m_observedNonPlayable && elapsed < kReadyCheckWindow && m_deferredReason != 1) {
        scheduleQualitySwitchProgressiveReadyVerification();
        return;
    }
    record("quality-switch-progressive-ready-verify", QStringLiteral("replacement=%1 elapsed=%2 observedReset=%3 rollback=%4 host=%5")
                                                          .arg(m_replacementGeneration)
                                                          .arg(seconds(elapsed), yesNo(m_observedNonPlayable), yesNo(m_rollbackInProgress),
                                                               media->contentURL().host()));
    if (m_rollbackInProgress)
        completeQualitySwitchRollbackIfReady();
    else if (m_seamlessActive)
        completeSeamlessQualitySwapIfReady();
}

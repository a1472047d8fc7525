#pragma once

#include "platform/foundation/DelayedCall.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <memory>

class KRPlaybackMedia;
class KRQualitySwitchHost;
struct KRPlayInfo;

// The candidate list of a progressive switch: the primary address first, then the others in
// order, made playable on old systems, empty and repeated entries dropped (first one wins).
QStringList qualitySwitchProgressiveCandidatesWithPrimaryURL(const QString& primary, const QStringList& additional);

// One change of quality of a playing part, as a transaction of its session: it remembers where
// and whether the part was playing, resolves the new quality, readies it beside the player
// that goes on playing (a staged second player for a progressive stream, an off-screen player
// for anything else), and then finishes silently, fails back to the stream that kept playing,
// or rolls back to the previous stream when the new one cannot be shown. Every step carries
// the transaction's generation, and a watchdog on the main clock holds it to its budget.
// While a player is being replaced its finishes are kept back, and decided once it is over.
class KRQualitySwitchTransaction {
public:
    static constexpr int kPhaseNone = 0, kPhaseResolving = 1, kPhaseLoading = 2, kPhaseSeeking = 3, kPhaseRollingBack = 4;

    explicit KRQualitySwitchTransaction(KRQualitySwitchHost& session);
    ~KRQualitySwitchTransaction();

    // Opens a transaction to `quality` (title: its shown name, or empty for the fixed one),
    // meant to play on when `expectedPlaying`; answers its generation. `automatic` marks the
    // stall fallback.
    int beginQualitySwitchToQuality(int quality, const QString& title, bool expectedPlaying, bool automatic = false);
    bool isOpen() const { return m_open; }
    // Open, with `generation`, and still about the part `cid`.
    bool isCurrentQualitySwitchTransaction(int generation, qint64 cid) const;
    int phase() const { return m_phase; }
    int pendingQuality() const { return m_pending; }
    bool isAutomaticFallback() const { return m_automaticFallback; }
    // The status of the current phase, kept on screen while it lasts.
    QString persistentStatus() const { return m_persistentStatus; }

    void finishQualitySwitchTransactionSilently();
    // An empty reason shows the "… 切换失败 · …" forms.
    void failQualitySwitchWithReason(const QString& reason, bool restorePreviousStream);
    // Something other than the switch (a stop, the background, a route change) ends it: the
    // stream playing now stays, nothing is shown.
    void abandon(const char* reason);
    // Memory pressure: a player being made ready off screen is let go, the quality kept.
    void relieveMemoryPressure();

    // What the user does during a switch: where the new stream resumes and whether it plays.
    double currentQualitySwitchResumeTime();
    void updateQualitySwitchResumeTime(double time, const QString& source);
    void synchronizeQualitySwitchPlaybackIntent(bool playing, const QString& source);

    // Tells again what the switch shows: the session's tick does so while it runs.
    void refreshQualitySwitchPresentation();

    // The session's player events. A finish answers true when it is kept back.
    void mediaLoadStateChanged();
    bool keepFinish(int reason);

private:
    void setQualitySwitchPhase(int phase, const QString& status);
    void armQualitySwitchWatchdogForPhase(int phase);
    void qualitySwitchWatchdogFired(int generation);
    void resolve();
    void stageQualitySwitchProgressiveCandidates(const QStringList& candidates, int quality);
    void completeSeamlessQualitySwapIfReady();
    void commitQualitySwitchProgressiveCandidates();
    void beginPrewarm(const QUrl& sound, const QUrl& picture, int quality, const QStringList& candidates);
    void checkPrewarm();
    void cancelModernQualityPrewarm();
    void cancelSeamlessQualitySwapRestoringPreviousURL(bool restorePrevious);
    void completeQualitySwitchRollbackIfReady();
    void abortQualitySwitchRollbackWithReason(const QString& reason);
    void captureQualitySwitchRollbackStateAtTime(double time, bool playing);
    void beginQualitySwitchMovieFinishSuppression();
    void scheduleQualitySwitchMovieFinishSuppressionClear();
    void clearQualitySwitchMovieFinishSuppressionForGeneration(int replacement);
    void clearQualitySwitchMovieFinishSuppressionImmediately();
    void scheduleQualitySwitchProgressiveReadyVerification();
    void verifyQualitySwitchProgressiveReadyForGeneration(int generation, int replacement);
    QString fullTitle(int quality) const;

    KRQualitySwitchHost& m_session;
    platform::DelayedCalls m_delayed;
    // Owner of the replies of one transaction: a finished one drops its late answers.
    std::unique_ptr<QObject> m_owner;

    bool m_open = false;
    int m_generation = 0;
    // The part the transaction switches.
    qint64 m_cid = 0;
    int m_phase = kPhaseNone;
    int m_pending = 0;
    double m_startedAt = 0;
    double m_resumeTime = 0;
    bool m_resumeExplicit = false;
    bool m_expectedToPlay = false;
    bool m_automaticFallback = false;
    QString m_targetTitle;
    QString m_persistentStatus;

    // The new stream, until it plays.
    QStringList m_pendingCandidates;
    int m_pendingResolvedQuality = 0;
    bool m_pendingPair = false;
    QPointer<KRPlaybackMedia> m_prewarm;
    bool m_prewarmSeekIssued = false;
    bool m_swapCommitted = false;

    // The stream to go back to.
    bool m_seamlessActive = false;
    bool m_seamlessShouldPlay = false;
    double m_seamlessResumeTime = 0;
    int m_previousQuality = 0;
    QUrl m_previousURL;
    QUrl m_previousPictureURL;
    QStringList m_previousCandidates;
    bool m_rollbackInProgress = false;
    bool m_rollbackDASH = false;
    bool m_rollbackInstalling = false;
    // The switch failed before anything was replaced: the stream that plays is the previous one.
    bool m_rollbackKeepsStream = false;
    double m_rollbackStartedAt = 0;
    QString m_failureReason;
    QString m_rollbackTitle;
    QUrl m_rollbackExpectedURL;

    // Finishes of a player being replaced.
    bool m_suppressFinish = false;
    int m_replacementGeneration = 0;
    double m_replacementStartedAt = 0;
    // The reason of a finish kept back (0 an end, 1 an error), or -1.
    int m_deferredReason = -1;
    int m_deferredGeneration = 0;
    bool m_observedNonPlayable = false;
    bool m_readyCheckScheduled = false;
};

#pragma once

#include "model/KRError.h"
#include "model/KRPlayInfo.h"
#include "playback/KRPlaybackLifecycleHost.h"
#include "playback/KRPlaybackMedia.h"
#include "playback/KRQualitySwitchHost.h"
#include "platform/foundation/DelayedCall.h"
#include "platform/foundation/RepeatingTimer.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

class KRBackgroundContinuation;
class KRDASHPlayback;
class KRPlaybackLifecycle;
class KRPlaybackTransport;
class KRPlaybackViewing;
class KRQualitySwitchTransaction;
class KRVideo;

// Playback below the screens: one part of one video, from the choice of its source to its end.
// It owns the player (the transport, or the DASH pair), hands a failed address over to the
// next candidate, then asks one fresh resolve, then fails for good; it counts stalls and falls
// back to 360P on the third within a minute (once per start), retries a pause nobody asked
// for, keeps the history heartbeat with its local record, and holds the speed and the 2.0x
// hold. Its timers run on the main clock. A screen shows what it tells and forwards what the
// user does; the session has no views. Destroying it is its teardown.
//
// Whether it plays has one answer: the user's intent, unless a hold keeps it paused (the
// background without listening, an audio interruption, a lost route, the danmaku composer, a
// switch replacing the player). One private step (the gate) is the only one that plays,
// pauses or sets the rate of the player, and the only writer of Playing and Paused.
class KRPlaybackSession : public QObject, private KRQualitySwitchHost, private KRPlaybackLifecycleHost {
    Q_OBJECT
public:
    using Hold = KRPlaybackLifecycleHost::Hold;
    using KRPlaybackLifecycleHost::HoldBackground;
    using KRPlaybackLifecycleHost::HoldComposer;
    using KRPlaybackLifecycleHost::HoldInterruption;
    using KRPlaybackLifecycleHost::HoldRouteLost;
    using KRPlaybackLifecycleHost::HoldTransition;

    // Why a player went away without another taking its place.
    enum class Removal {
        Stopped,   // a stop, a teardown, or a new start
        FailedOver,// a failed address hands over to the next one
        Resolving, // a fresh resolve of the part after a failure
        Failed,    // every source failed, or neither stream of a switch could be shown
    };
    Q_ENUM(Removal)

    enum class State {
        Idle,         // nothing installed
        Resolving,    // asking the service where the part plays
        Buffering,    // installed, not yet playing
        Playing,
        Paused,       // by the user, or given up after pauses nobody asked for
        Stalled,      // meant to play, waiting on the network
        Ended,        // a natural end, waiting for a replay
        Failed,       // every source failed before anything played
        Interrupted,  // every source failed after the part had played
    };
    Q_ENUM(State)

    static constexpr int kStallsBeforeFallback = 3;
    static constexpr double kStallWindow = 60.0;
    static constexpr int kStallCheckMs = 1000;
    static constexpr int kFallbackQuality = 16;
    static constexpr double kFirstRetryDelay = 0.45;
    static constexpr double kRetrySpacing = 0.9;
    static constexpr int kMaximumRetries = 5;
    static constexpr double kGiveUpAfter = 6.0;
    static constexpr float kHoldRate = 2.0f;
    static constexpr double kHoldPressDuration = 0.35;

    // Makes the player for a sound (or progressive) address and, for a pair, a picture address.
    using MediaFactory = std::function<KRPlaybackMedia*(const QUrl& sound, const QUrl& picture)>;
    // Resolves the part's addresses again at a quality; the session drops a late answer.
    using Resolver = std::function<void(int quality, QObject* owner, std::function<void(const QStringList& candidates, int quality)>)>;

    explicit KRPlaybackSession(QObject* parent = nullptr);
    ~KRPlaybackSession() override;

    // The part that plays, for the history, and the account's archive id.
    void setVideo(std::shared_ptr<KRVideo> video, qint64 aid);
    std::shared_ptr<KRVideo> video() const override { return m_video; }
    // The history heartbeat and the local record; the offline list keeps only the record.
    void setHeartbeatEnabled(bool enabled);
    // The offline list's inline player: the audio session is told so in its reasons.
    void setOfflinePlayer(bool offline) { m_offlinePlayer = offline; }
    void setMediaFactory(MediaFactory factory);
    // How a failed chain resolves again; without one a failure past the candidates is terminal.
    void setResolver(Resolver resolver) { m_resolver = std::move(resolver); }
    // The controls' tick: 0.2 s (0.25 s on A4-class devices).
    void setTickInterval(int milliseconds) { m_tickMs = milliseconds; }

    // ---- sources ----
    // The streams a DASH start would choose: picture, sound; empty when there are none.
    static QStringList dashAddresses(const KRPlayInfo& info, int quality, int* chosenQuality = nullptr);
    // Plays the part set with setVideo from the best source it has: its offline DASH copy, a
    // local file, the DASH pair at 80 and above when the play information lists a usable H.264
    // picture and AAC sound, else the play-address chain at `quality`. Without a resolver of its
    // own, a failed chain resolves afresh through the web-API client.
    void startPart(int quality, double time);
    // Whether `video` plays from this device: its offline DASH copy, or a local file.
    static bool playsFromDevice(const KRVideo& video);
    // The part's play information at `quality` from the account client (an episode's by the
    // PGC route), read into types; empty when there is none. The client's error comes with it
    // as the client gave it.
    using PlayInfoCompletion = std::function<void(const std::optional<KRPlayInfo>& info, const KROptionalError& error)>;
    static void loadDASHPlaybackInfoForVideo(const KRVideo& video, qint64 aid, int quality, QObject* owner, PlayInfoCompletion completion);

    // ---- quality ----
    // The full title of a code as the screen shows it (the server's titles); the fixed table
    // without one.
    void setQualityTitleSource(std::function<QString(int quality)> fullTitle) { m_titleSource = std::move(fullTitle); }
    QString fullQualityTitle(int quality) const override;
    // Changes the quality of what plays without a visible restart: a transaction that goes on
    // playing the old stream until the new one is ready, and falls or rolls back to it. Answers
    // the transaction's generation; 0 when nothing plays to switch from.
    int switchToQuality(int quality, const QString& title = {});
    // The third stall within a minute: one switch to 360P, marked automatic.
    void fallbackTo360PAfterRepeatedStalls();
    KRQualitySwitchTransaction* qualitySwitch() const { return m_switch.get(); }
    bool isSwitchingQuality() const;
    // The quality that really plays, else the part's own.
    int activeQuality() const override;
    // The application's background, foreground, audio interruptions and route changes.
    KRPlaybackLifecycle* lifecycle() const { return m_lifecycle.get(); }
    // The background task a request started in the background holds until it is done.
    KRBackgroundContinuation* backgroundContinuation() const { return m_continuation.get(); }
    // Every start, fresh resolve and stop is a new request; a reply of an older one is dropped.
    int requestGeneration() const override { return m_requestGeneration; }
    // The request re-resolving a part that had played; 0 when none runs.
    int installedRecoveryGeneration() const override { return m_installedRecoveryGeneration; }

    // ---- the user ----
    void play();
    void pause();
    void togglePlayback();
    void seek(double time);
    // From the beginning after the end.
    void restartPlaybackFromBeginning();
    // Stops and tears down; the heartbeat gets its end. Harmless when idle.
    void stop();
    // The speed the user chose, and the 2.0x of a held press.
    void setRate(float rate);
    float rate() const { return m_rate; }
    void beginHold();
    void endHold();
    bool isHolding() const { return m_holding; }
    float effectiveRate() const override;
    // The danmaku composer's hold (and the life cycle's, through it): paused while any is set.
    void setHold(Hold hold, bool on) override;
    bool isHeld(Hold hold) const { return (m_holds & hold) != 0; }
    unsigned holds() const { return m_holds; }

    // ---- what it tells ----
    State state() const { return m_state; }
    qint64 aid() const override { return m_aid; }
    QStringList candidates() const override { return m_candidates; }
    // The user's intent.
    bool isExpectedToPlay() const override { return m_expectedToPlay; }
    // The gate's answer: meant to play and nothing holds it.
    bool playsNow() const { return m_expectedToPlay && m_holds == 0; }
    bool hasPlayed() const { return m_installedPlayable; }
    int quality() const override { return m_quality; }
    int stallCount() const { return m_stallCount; }
    double currentTime() const;
    double duration() const;
    // Where a retry after an interruption starts.
    double interruptedAt() const { return m_interruptedAt; }
    // Where the player installed last started.
    double startTime() const { return m_startTime; }
    // Where the stream in place stands while the part waits for its replay: its end, or the
    // start a stream picked after the end was made ready at.
    double endedAt() const { return m_endedAt; }
    bool playsPair() const override { return m_pair; }
    int unaskedPauseRetries() const { return m_retryCount; }
    KRPlaybackMedia* media() const override { return m_media; }
    KRPlaybackTransport* transport() const;
    KRDASHPlayback* dash() const;

    // The tick: keeps to the user's intent and tells the time. The controls timer runs it.
    void playerControlsTimerFired();
    // The screen's interface is turning. No hold: playback goes on, but until the turn has
    // settled the tick keeps only a running switch's presentation, so neither the pause watch
    // nor the switch's resume time reads a player caught in the turn, and nothing is told.
    void setRotating(bool rotating) { m_rotating = rotating; }
    bool isRotating() const { return m_rotating; }

Q_SIGNALS:
    void stateChanged(KRPlaybackSession::State state);
    // The controls' tick stopped for the background or a restore at the end (`running` NO),
    // or runs again (the restore, a replay): the timers that follow playback on screen stop
    // and start with it.
    void controlsTickRunningChanged(bool running);
    // A player was made and is to be shown; the old one (if any) is gone.
    void mediaInstalled(KRPlaybackMedia* media);
    // A quality switch put `media` in place of the player (a player made ready off screen, or
    // the previous stream back for a rollback): one event, the viewing goes on.
    void mediaReplaced(KRPlaybackMedia* media);
    // The player went away and none took its place (yet).
    void mediaRemoved(KRPlaybackSession::Removal reason);
    // The loading overlay: shown with its text, or hidden (empty text).
    void bufferingChanged(bool buffering, const QString& text);
    void progressed(double time, double duration, bool playing);
    void qualityChanged(int quality);
    // A start read the part's play information (its accepted qualities), or resolved the chain
    // without it (`info` empty).
    void playInfoLoaded(const std::optional<KRPlayInfo>& info);
    // The third stall within a minute: the screen switches to this quality.
    void stallFallbackRequested(int quality);
    // Five retries of an unasked pause did not hold: the user's tap is needed.
    void unaskedPauseGivenUp();
    // The natural end; the last `progressed` came before it.
    void ended();
    // Every source failed: `installed` when the part had played (an interruption).
    void failed(const QString& reason, bool installed);
    // One history report: 1 start, 0 periodic, 2 pause, 3 resume, 4 end.
    void heartbeat(int playType);
    // Another session started and stopped this one.
    void stoppedByAnotherSession();
    // A quality switch runs (with the title it goes to, or comes back to) or is over.
    void qualitySwitchChanged(bool switching, const QString& title);
    // A status over the picture: kept while its phase lasts (`persistent`; empty takes it
    // away), or shown for a moment.
    void switchStatusShown(const QString& text, bool persistent);
    // Neither the new stream nor the previous one could be shown: the user's tap retries
    // from `time`.
    void qualitySwitchRollbackFailed(double time);
    // A rollback is about to put the previous stream in place of the player, which still
    // shows the failed stream's last frame: the last moment to take it.
    void qualitySwitchRollingBack();
    // The previous stream is back and goes on from `time`: what is drawn over it starts there.
    void qualitySwitchRolledBack(double time);
    // A start still resolving was dropped by the life cycle (headphones pulled, an
    // interruption that may not resume): the text and the play button are shown.
    void pendingStartDropped(const QString& text);
    // A request left to finish in the background ran out of time: a start (`installed` NO)
    // or the recovery of a part that had played. The text asks for a tap.
    void backgroundRequestAbandoned(const QString& text, bool installed);

private:
    // For tests of the sources below the part's start.
    friend class KRPlaybackSessionTesting;

    // ---- sources ----
    // Plays the first of `candidates` at `time`, handing each failure to the next.
    void startCandidates(const QStringList& candidates, int quality, double time);
    // Plays the DASH pair `info` chooses for `quality`; false (and nothing changes) when it
    // lists no usable H.264 picture and AAC sound.
    bool startDASH(const KRPlayInfo& info, int quality, double time);

    // ---- the gate ----
    // What brings the gate to decide: the intent or a hold changed (the player is told), the
    // player was just started (it plays by itself unless held), the player reports that it
    // runs (the state follows, a hold pauses it), only the rate changed, or a replay from
    // the end (a pair's seek resumes it by itself).
    enum class Gate { Push, Started, Confirmed, Rate, Replay };
    // The one step that plays, pauses and sets the rate of the player, and the one writer of
    // Playing and Paused.
    void applyGate(Gate step);
    void settlePlayback(unsigned holdsOn, unsigned holdsOff, bool play) override;

    // ---- the switch's narrow interface ----
    bool isolateStallRecovery() override;
    void resolveForQualitySwitch(int quality, QObject* owner, std::function<void(const QStringList&, int)> done) override;
    KRPlaybackMedia* makeQualitySwitchMedia(const QUrl& sound, const QUrl& picture) override;
    int commitQualitySwitchStream(int quality, const QStringList& candidates, const QString& playURL) override;
    bool replaceMediaForQualitySwitch(KRPlaybackMedia* media, double time, bool start) override;
    void applyQualitySwitchIntent(bool play) override;
    void setDASHSeekShouldResume(bool play) override;
    void failQualitySwitchRollback(double time) override;
    void dropPendingReplies() override;
    void reconsiderLoadState() override;
    void attemptDASHPlaybackStart() override;
    void pauseDASHForBufferingReason(const QString& reason) override;
    void deliverKeptFinish(int reason) override;
    void showQualitySwitchStatus(const QString& text, bool persistent) override;
    void qualitySwitchStateChanged(bool switching, const QString& title) override;
    void qualitySwitchRollbackWillReplaceMedia() override;
    void qualitySwitchRollbackCompleted(double time) override;

    // ---- the life cycle's narrow interface ----
    bool isResolvingStart() const override { return m_state == State::Resolving; }
    bool isEnded() const override { return m_state == State::Ended; }
    bool isTerminallyFailed() const override { return m_state == State::Failed || m_state == State::Interrupted; }
    bool isApplicationInBackground() const override;
    void resetPlaybackStallRecovery() override;
    void abandonQualitySwitch(const char* reason) override;
    void invalidatePendingDASHSeekResumeForReason(const QString& reason) override;
    void synchronizeQualitySwitchIntent(bool playing, const QString& source) override;
    void stopTick() override;
    void restartTick() override;
    void dropPendingStart(const QString& text, const QString& reason) override;
    void abandonRequestInBackground(const QString& reason) override;

    void setState(State state);
    // The source a play or pause of the controls gives the switch's intent.
    QString toggleSource() const;
    KRPlaybackMedia* makeMedia(const QUrl& sound, const QUrl& picture);
    // Shows and runs a player already made: `start` starts it at `time`, else it goes on as it
    // is. The intent stays as it stands: a new start turned it on, a failover keeps it.
    void adopt(KRPlaybackMedia* media, bool pair, double time, bool start);
    // Starts a player put in place, with the audio session made ready when it is meant to play.
    void startMedia(KRPlaybackMedia* media, double time);
    // Binds the player's events to the session.
    void attach(KRPlaybackMedia* media);
    // Lets the player go: stopped, released once its own call has returned.
    void release(KRPlaybackMedia* media);
    void adoptQuality(int quality);
    void handleFinish(int reason);
    // A new request: the replies of the one before are dropped.
    int beginRequest();
    void beginStart(const QStringList& candidates, int quality);
    void install(const QUrl& sound, const QUrl& picture, double time, Removal reason);
    // Plays one progressive address (no picture stream of its own) at `time`.
    void startMovieWithURLString(const QString& address, double time, Removal reason);
    void removeMedia(Removal reason);
    void movieLoadStateChanged();
    void mediaPlaybackStateChanged();
    void moviePlaybackFinished(int reason);
    void countStall();
    void checkPlaybackStallRecovery();
    void failOver(const QString& reason);
    // Every source failed for good: a start that never played, or a part that had played and
    // could not be played again after its fresh resolve.
    void finishPlaybackConstructionFailureWithReason(const QString& reason);
    void finishInstalledPlaybackAfterResolveFailure(const QString& reason);
    void failTerminally(const QString& reason, bool installed);
    bool maintainPlaybackIntent();
    // The controls' tick: (re)started on the main clock at the tick interval, and stopped.
    void startPlayerControlsTimer();
    void stopPlayerControlsTimer();
    void resetUnexpectedPauseRecovery() override;
    // Takes the one claim to play; whoever held it lets go.
    void claimPlayback();
    void yieldPlayback();
    // `ensureAudible`: a change the user made, which brings the sound back and plays on.
    void applyPlaybackRateToAllClocks(bool ensureAudible = false);
    void resolveChain(int quality, double time);
    void resolveAfresh(int quality, QObject* owner, std::function<void(const QStringList& candidates, int quality)> done);
    void report(int playType);

    std::shared_ptr<KRVideo> m_video;
    qint64 m_aid = 0;
    std::function<QString(int)> m_titleSource;
    std::unique_ptr<KRQualitySwitchTransaction> m_switch;
    std::unique_ptr<KRPlaybackLifecycle> m_lifecycle;
    std::unique_ptr<KRBackgroundContinuation> m_continuation;
    int m_requestGeneration = 0;
    int m_installedRecoveryGeneration = 0;
    unsigned m_holds = 0;
    // The player put in place is told to the screen before it starts.
    bool m_mediaUnstarted = false;
    MediaFactory m_factory;
    Resolver m_resolver;
    QPointer<KRPlaybackMedia> m_media;
    State m_state = State::Idle;
    int m_quality = 0;
    int m_tickMs = 200;
    // Candidates and failover.
    QStringList m_candidates;
    int m_candidateIndex = 0;
    bool m_freshResolveAttempted = false;
    // A DASH pair plays: its failure has no second address to go to.
    bool m_pair = false;
    // Candidates on this device: no fresh resolve, and the history marks the viewing offline.
    bool m_fromDevice = false;
    bool m_installedPlayable = false;
    bool m_expectedToPlay = false;
    bool m_offlinePlayer = false;
    bool m_rotating = false;
    // The tick was told stopped (the background, a restore at the end): its next start says so.
    bool m_tickToldStopped = false;
    double m_interruptedAt = 0;
    double m_startTime = 0;
    double m_endedAt = 0;
    // Owner of the replies of one start: replaced at each start and stop.
    std::unique_ptr<QObject> m_startOwner;
    // Stalls: counted per start.
    bool m_stallActive = false;
    int m_stallCount = 0;
    double m_stallWindowStart = 0;
    bool m_stallFallbackRequested = false;
    // Unasked pause.
    double m_pauseSeenAt = 0;
    double m_lastRetryAt = 0;
    int m_retryCount = 0;
    // Speed.
    float m_rate = 1.0f;
    bool m_holding = false;
    std::unique_ptr<KRPlaybackViewing> m_viewing;
    platform::RepeatingTimer m_playerControlsTimer;
    platform::DelayedCalls m_delayed;
};

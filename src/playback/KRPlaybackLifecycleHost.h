#pragma once

#include <QString>

class KRPlaybackMedia;

// What the application's life cycle and the background task may read and ask of a playback
// session. The session's gate decides what plays: the life cycle sets and clears holds and
// says what the user's intent becomes, and never pushes the player itself.
class KRPlaybackLifecycleHost {
public:
    // What keeps a session from playing although the user means to. Any hold pauses.
    enum Hold : unsigned {
        HoldNone = 0,
        HoldBackground = 1u << 0,   // in the background without listening
        HoldInterruption = 1u << 1, // an audio interruption
        HoldRouteLost = 1u << 2,    // the sound device went away; the user's play lifts it
        HoldComposer = 1u << 3,     // the danmaku composer is open
        HoldTransition = 1u << 4,   // a quality switch replaces the player
    };

    virtual ~KRPlaybackLifecycleHost() = default;

    virtual KRPlaybackMedia* media() const = 0;
    virtual bool isExpectedToPlay() const = 0;
    virtual bool playsPair() const = 0;
    virtual float effectiveRate() const = 0;
    virtual bool isResolvingStart() const = 0;
    virtual bool isEnded() const = 0;
    virtual bool isTerminallyFailed() const = 0;
    virtual int requestGeneration() const = 0;
    virtual int installedRecoveryGeneration() const = 0;
    virtual bool isApplicationInBackground() const = 0;

    virtual void setHold(Hold hold, bool on) = 0;
    // One life-cycle step: the holds it sets and lifts, and the user's intent as it leaves it;
    // the gate decides once.
    virtual void settlePlayback(unsigned holdsOn, unsigned holdsOff, bool play) = 0;
    virtual void resetUnexpectedPauseRecovery() = 0;
    virtual void resetPlaybackStallRecovery() = 0;
    virtual void abandonQualitySwitch(const char* reason) = 0;
    // A DASH seek still pending does not resume what the life cycle pauses.
    virtual void invalidatePendingDASHSeekResumeForReason(const QString& reason) = 0;
    virtual void synchronizeQualitySwitchIntent(bool playing, const QString& source) = 0;
    // The controls' tick stops in the background, and runs again (once at once) on the return.
    virtual void stopTick() = 0;
    virtual void restartTick() = 0;
    // A start still resolving is dropped; the text asks for a tap.
    virtual void dropPendingStart(const QString& text, const QString& reason) = 0;
    // A request left to finish in the background ran out of time.
    virtual void abandonRequestInBackground(const QString& reason) = 0;
};

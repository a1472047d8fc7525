#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <memory>

class KRPlaybackMedia;
class KRVideo;
class QObject;

// What a quality switch may read and ask of the session it switches: the stream that plays,
// a fresh resolve, a player made off screen, and the few steps that change what plays. The
// session alone carries them out; the switch never writes its state.
class KRQualitySwitchHost {
public:
    virtual ~KRQualitySwitchHost() = default;

    // ---- what plays ----
    virtual KRPlaybackMedia* media() const = 0;
    virtual std::shared_ptr<KRVideo> video() const = 0;
    virtual qint64 aid() const = 0;
    virtual int quality() const = 0;
    virtual int activeQuality() const = 0;
    virtual QStringList candidates() const = 0;
    virtual float effectiveRate() const = 0;
    virtual bool playsPair() const = 0;
    virtual QString fullQualityTitle(int quality) const = 0;
    // The part ended and waits for a replay, which starts from the beginning.
    virtual bool isEnded() const = 0;

    // ---- steps ----
    // Ends the stall recovery of the stream going away; true when one was under way.
    virtual bool isolateStallRecovery() = 0;
    virtual void resolveForQualitySwitch(int quality, QObject* owner, std::function<void(const QStringList& candidates, int quality)> done) = 0;
    virtual KRPlaybackMedia* makeQualitySwitchMedia(const QUrl& sound, const QUrl& picture) = 0;
    // The stream now playing is at `quality` with `candidates` (kept as they are when empty),
    // `playURL` the one among them that plays; answers its index, -1 without candidates.
    virtual int commitQualitySwitchStream(int quality, const QStringList& candidates, const QString& playURL) = 0;
    // Puts `media` in place of the player, as one replacement: the viewing goes on. `start`
    // starts it at `time`, else it goes on from where it stands. False when something told of
    // the replacement took the player away.
    virtual bool replaceMediaForQualitySwitch(KRPlaybackMedia* media, double time, bool start) = 0;
    // The intent the switch kept: play or not.
    virtual void applyQualitySwitchIntent(bool play) = 0;
    // Whether a pair's seek still pending plays once it lands, as the switch means it to.
    virtual void setDASHSeekShouldResume(bool play) = 0;
    // Neither stream can be shown: torn down, the user's tap retries from `time`.
    virtual void failQualitySwitchRollback(double time) = 0;
    // Answers still pending for the player that stays are stale.
    virtual void dropPendingReplies() = 0;
    // The stall recovery looks again at the stream that stayed.
    virtual void reconsiderLoadState() = 0;
    // A pair that stayed: its gate tries to open, and a pair still short of data waits for it.
    virtual void attemptDASHPlaybackStart() = 0;
    virtual void pauseDASHForBufferingReason(const QString& reason) = 0;
    // A finish kept back while a player was replaced turned out real.
    virtual void deliverKeptFinish(int reason) = 0;
    // What the screen shows of the switch.
    virtual void showQualitySwitchStatus(const QString& text, bool persistent) = 0;
    virtual void qualitySwitchStateChanged(bool switching, const QString& title) = 0;
    // The previous stream is about to be put back in place of the one that failed, which
    // still shows its last frame.
    virtual void qualitySwitchRollbackWillReplaceMedia() = 0;
    // The previous stream is back at `time`.
    virtual void qualitySwitchRollbackCompleted(double time) = 0;
};

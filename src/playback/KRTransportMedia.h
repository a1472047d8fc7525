#pragma once

#include "playback/KRPlaybackMedia.h"

#include "platform/foundation/NotificationCenter.h"

#include <QPointer>

#include <vector>

// The real media of a session: the transport alone, or the transport playing the sound of a
// DASH pair. It turns the transport's notifications and the pair's signals into the media's.
class KRTransportMedia : public KRPlaybackMedia {
    Q_OBJECT
public:
    // A progressive stream or local file when `picture` is empty, else a DASH pair.
    KRTransportMedia(const QUrl& sound, const QUrl& picture, QObject* parent = nullptr);
    ~KRTransportMedia() override;

    int playbackState() const override;
    unsigned loadState() const override;
    double currentTime() const override;
    double duration() const override;
    QSizeF naturalSize() const override;
    bool isHeldByPairGate() const override;
    bool isRefilling() const override;
    void soundBecamePlayable() override;
    void start(double time) override;
    void play() override;
    void pause() override;
    void pauseForBuffering(const QString& reason) override;
    void attemptDASHPlaybackStart() override;
    void invalidatePendingDASHSeekResume(const QString& reason) override;
    void seek(double time, bool resume) override;
    void setRate(float rate) override;
    void stop() override;
    QUrl contentURL() const override;
    QUrl pictureURL() const override;
    void stageContent(const QUrl& url, double time, float rate, StageCompletion done) override;
    bool commitStagedContent(double time) override;
    void cancelStagedContent() override;
    void prewarm(double time) override;
    bool isSoundReady() const override;
    bool isPictureReady() const override;
    bool isSeekInFlight() const override;
    bool isPairRunning() const override;
    double pendingSeekTime() const override;
    void setPendingSeekResume(bool resume) override;
    void setPictureSuspended(bool suspended) override;
    void reassertSound() override;
    KRPlaybackTransport* transport() const override;
    KRDASHPlayback* dash() const override;

private:
    QPointer<KRPlaybackTransport> m_transport;
    QPointer<KRDASHPlayback> m_dash;
    std::vector<platform::ObserverToken> m_observers;
    bool m_stopped = false;
};

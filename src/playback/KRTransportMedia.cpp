#include "playback/KRTransportMedia.h"

#include "platform/media/MediaNotifications.h"
#include "platform/uikit/View.h"
#include "playback/KRDASHPlayback.h"
#include "playback/KRPlaybackTransport.h"

#include <algorithm>

KRTransportMedia::KRTransportMedia(const QUrl& sound, const QUrl& picture, QObject* parent) : KRPlaybackMedia(parent)
{
    m_transport = new KRPlaybackTransport(sound);
    if (!picture.isEmpty()) {
        m_dash = new KRDASHPlayback(m_transport, picture);
        connect(m_dash, &KRDASHPlayback::started, this, &KRPlaybackMedia::pairStarted);
        connect(m_dash, &KRDASHPlayback::bufferingPaused, this, [this](const QString& reason) {
            if (reason == QLatin1String("video-buffering"))
                Q_EMIT pictureStarved();
        });
        connect(m_dash, &KRDASHPlayback::pictureFailed, this, [this] { Q_EMIT finished(1); });
    }
    auto& centre = platform::NotificationCenter::defaultCenter();
    KRPlaybackTransport* transport = m_transport;
    m_observers.push_back(centre.addObserver(platform::media::MoviePlayerLoadStateDidChangeNotification, transport,
                                             [this](const platform::Notification&) { Q_EMIT loadStateChanged(); }));
    m_observers.push_back(centre.addObserver(platform::media::MoviePlayerPlaybackStateDidChangeNotification, transport,
                                             [this](const platform::Notification&) { Q_EMIT playbackStateChanged(); }));
    m_observers.push_back(centre.addObserver(platform::media::MoviePlayerPlaybackDidFinishNotification, transport,
                                             [this](const platform::Notification& note) {
                                                 Q_EMIT finished(note.userInfo.value(platform::media::MoviePlayerPlaybackDidFinishReasonUserInfoKey).toInt());
                                             }));
}

KRTransportMedia::~KRTransportMedia() { stop(); }

int KRTransportMedia::playbackState() const { return m_transport ? m_transport->playbackState() : KRPlaybackStateStopped; }

unsigned KRTransportMedia::loadState() const { return m_transport ? m_transport->loadState() : 0u; }

double KRTransportMedia::currentTime() const { return m_transport ? m_transport->currentPlaybackTime() : 0; }

double KRTransportMedia::duration() const { return m_transport ? m_transport->duration() : 0; }

QSizeF KRTransportMedia::naturalSize() const { return m_transport ? m_transport->naturalSize() : QSizeF(); }

KRPlaybackTransport* KRTransportMedia::transport() const { return m_transport; }

KRDASHPlayback* KRTransportMedia::dash() const { return m_dash; }

bool KRTransportMedia::isRefilling() const { return m_dash && m_dash->isRebuffering(); }

void KRTransportMedia::soundBecamePlayable() { attemptDASHPlaybackStart(); }

void KRTransportMedia::invalidatePendingDASHSeekResume(const QString& reason)
{
    if (m_dash)
        m_dash->invalidatePendingSeekResume(reason);
}

double KRTransportMedia::pendingSeekTime() const { return m_dash ? m_dash->pendingSeekTime() : -1; }

void KRTransportMedia::setPendingSeekResume(bool resume)
{
    if (m_dash)
        m_dash->setResumeWhenAligned(resume);
}

void KRTransportMedia::attemptDASHPlaybackStart()
{
    if (m_dash && m_dash->isWaitingToStart())
        m_dash->attemptStart();
}

bool KRTransportMedia::isHeldByPairGate() const { return m_dash && (!m_dash->isRunning() || m_dash->isRebuffering()); }

void KRTransportMedia::start(double time)
{
    if (!m_transport)
        return;
    // The audio session was made ready by the session that starts it, under its screen's name.
    m_transport->setUseApplicationAudioSession(true);
    if (m_dash) {
        m_dash->start(std::max(0.0, time));
        return;
    }
    if (time > 0.05)
        m_transport->setInitialPlaybackTime(time);
    // The start position is taken when the item is prepared.
    m_transport->prepareToPlay();
    m_transport->play();
}

void KRTransportMedia::play()
{
    if (!m_transport)
        return;
    m_transport->setUseApplicationAudioSession(true);
    if (m_dash)
        m_dash->play();
    else
        m_transport->play();
}

void KRTransportMedia::pause()
{
    if (m_dash)
        m_dash->pause();
    else if (m_transport)
        m_transport->pause();
}

void KRTransportMedia::pauseForBuffering(const QString& reason)
{
    if (m_dash)
        m_dash->pauseForBuffering(reason);
}

void KRTransportMedia::seek(double time, bool resume)
{
    if (m_dash)
        m_dash->beginDASHSeekToTime(time, resume);
    else if (m_transport)
        m_transport->setCurrentPlaybackTime(time);
}

void KRTransportMedia::setRate(float rate)
{
    if (!m_transport)
        return;
    m_transport->setCurrentPlaybackRate(rate);
    // A suspended picture stays paused whatever the rate: it is not decoded in the background.
    if (m_dash && m_dash->isRunning() && !m_dash->isSyncSuspended() && m_dash->picturePlayer())
        m_dash->picturePlayer()->setRate(rate);
}

void KRTransportMedia::stop()
{
    if (m_stopped)
        return;
    m_stopped = true;
    m_observers.clear();
    if (KRDASHPlayback* dash = m_dash) {
        m_dash = nullptr;
        dash->stopDASHPlayback();
        // It may be the one calling: it goes once the call has returned.
        KRPlaybackTransportReleaseLater(dash);
    }
    if (KRPlaybackTransport* transport = m_transport) {
        m_transport = nullptr;
        transport->stop();
        if (auto* view = qobject_cast<platform::uikit::View*>(transport->view()))
            view->removeFromSuperview();
        // The transport may be inside one of its own notifications: it goes once that returns.
        KRPlaybackTransportReleaseLater(transport);
    }
}

// ---- a quality switch ----

QUrl KRTransportMedia::contentURL() const { return m_transport ? m_transport->contentURL() : QUrl(); }

QUrl KRTransportMedia::pictureURL() const { return m_dash ? m_dash->pictureURL() : QUrl(); }

void KRTransportMedia::stageContent(const QUrl& url, double time, float rate, StageCompletion done)
{
    if (!m_transport || m_dash) {
        done(false, QStringLiteral("staging-unsupported"));
        return;
    }
    // A network stream needs a little buffered before it takes over; a file does not.
    m_transport->stageContentURL(url, time, rate, url.isLocalFile() ? 0 : 1.0,
                                 [done = std::move(done)](bool ready, const KROptionalError& error) {
                                     done(ready, ready ? QString() : error ? error->description() : QStringLiteral("staging-failed"));
                                 });
}

bool KRTransportMedia::commitStagedContent(double time) { return m_transport && m_transport->commitStagedContentAtTime(time); }

void KRTransportMedia::cancelStagedContent()
{
    if (m_transport)
        m_transport->cancelStagedContent();
}

void KRTransportMedia::prewarm(double time)
{
    if (!m_transport)
        return;
    if (!m_dash) {
        m_transport->setShouldAutoplay(false);
        if (time > 0.05)
            m_transport->setInitialPlaybackTime(time);
        m_transport->prepareToPlay();
        return;
    }
    m_dash->start(std::max(0.0, time));
    m_dash->beginDASHSeekToTime(std::max(0.0, time), false);
}

bool KRTransportMedia::isSoundReady() const { return m_transport && (m_transport->loadState() & KRLoadStatePlayable); }

bool KRTransportMedia::isPictureReady() const { return !m_dash || m_dash->isPictureReady(); }

bool KRTransportMedia::isSeekInFlight() const { return m_dash && m_dash->isSeekInFlight(); }

bool KRTransportMedia::isPairRunning() const { return m_dash ? m_dash->isRunning() : playbackState() == KRPlaybackStatePlaying; }

void KRTransportMedia::setPictureSuspended(bool suspended)
{
    if (!m_transport)
        return;
    if (m_dash) {
        // The transport carries only the sound of a pair: its own picture stays suppressed
        // either way, or a second picture would be drawn under the pair's.
        if (suspended)
            m_dash->suspendSync();
        else
            m_dash->resumeSync();
        return;
    }
    m_transport->setVideoOutputSuppressed(suspended);
}

void KRTransportMedia::reassertSound()
{
    if (m_transport)
        m_transport->reassertPlaybackWhileVideoOutputSuppressed();
}

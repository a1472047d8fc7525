#pragma once

#include "model/KRError.h"
#include "platform/foundation/DelayedCall.h"
#include "platform/foundation/RepeatingTimer.h"
#include "platform/media/MpvCore.h"

#include <QImage>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSizeF>
#include <QUrl>

#include <functional>
#include <memory>

class QWidget;

namespace platform::media {
class MediaPlayer;
class PlayerSurface;
}
namespace platform::uikit {
class View;
}

inline const QString KRPlaybackTransportErrorDomain = QStringLiteral("KRPlaybackTransport");

// The transport's playback state, as the movie player reports it.
enum KRPlaybackState : int { KRPlaybackStateStopped = 0, KRPlaybackStatePlaying = 1, KRPlaybackStatePaused = 2 };
// The time options of a thumbnail: the nearest key frame, or the picture at exactly that time.
enum KRMovieTimeOption : int { KRMovieTimeOptionNearestKeyFrame = 0, KRMovieTimeOptionExact = 1 };
// The bits of the transport's load state.
enum KRLoadState : unsigned { KRLoadStatePlayable = 1u, KRLoadStatePlaythroughOK = 2u, KRLoadStateStalled = 4u };

// Seconds buffered contiguously from `time` (gaps up to 0.08 s bridged, ranges in any order);
// 0 for a negative or non-finite time.
double KRPlaybackTransportBufferedAhead(const QList<platform::media::TimeRange>& ranges, double time);

// Deletes `object` from the main queue, after whatever call is on the stack now has returned
// (a player may be in the middle of a signal when it is let go); nothing when it went first.
void KRPlaybackTransportReleaseLater(QObject* object);

// The one player object every screen plays through, in the shape of the phone's movie player:
// its properties, its four transport operations and its notification names (posted on the
// default centre with the transport as object). The state the movie player would report is
// computed here from a polling timer and the player's item events. A second, muted and
// invisible player can be staged for a quality switch without a visible restart.
class KRPlaybackTransport : public QObject {
    Q_OBJECT
public:
    explicit KRPlaybackTransport(const QUrl& contentURL, QObject* parent = nullptr);
    ~KRPlaybackTransport() override;

    // The system movie player does not exist here: the modern back end always applies.
    static bool usesAVPlayerBackendForCurrentSystem();
    static bool supportsStagedContentSwapForCurrentSystem();
    bool isModernBackend() const { return true; }
    bool supportsStagedContentSwap() const;

    QWidget* view() const;
    QWidget* backgroundView() const;
    // The widget that holds the picture; owners add their own surfaces to it.
    QWidget* videoLayerHost() const;
    // The last frame its player drew for the picture, the size of the picture with the video
    // fitted in it; kept when the player fails (its surface then shows nothing). Null before any.
    QImage lastPictureFrame() const;

    QUrl contentURL() const { return m_contentURL; }
    void setContentURL(const QUrl& url);
    // A KRPlaybackState.
    int playbackState() const;
    // KRLoadState bits.
    unsigned loadState() const;
    int controlStyle() const { return m_controlStyle; }
    void setControlStyle(int style) { m_controlStyle = style; }
    int scalingMode() const { return m_scalingMode; }
    void setScalingMode(int mode);
    int movieSourceType() const { return m_movieSourceType; }
    void setMovieSourceType(int type) { m_movieSourceType = type; }
    bool shouldAutoplay() const { return m_shouldAutoplay; }
    void setShouldAutoplay(bool autoplay) { m_shouldAutoplay = autoplay; }
    bool useApplicationAudioSession() const { return m_useApplicationAudioSession; }
    void setUseApplicationAudioSession(bool use) { m_useApplicationAudioSession = use; }
    // Stored only: there is no other route to play to.
    bool allowsAirPlay() const { return m_allowsAirPlay; }
    void setAllowsAirPlay(bool allows) { m_allowsAirPlay = allows; }
    bool isAirPlayVideoActive() const { return false; }
    bool videoOutputSuppressed() const { return m_videoOutputSuppressed; }
    void setVideoOutputSuppressed(bool suppressed);
    bool isFullscreen() const { return false; }
    void setFullscreen(bool fullscreen) { setFullscreen(fullscreen, false); }
    void setFullscreen(bool, bool) {}
    double initialPlaybackTime() const { return m_initialPlaybackTime; }
    void setInitialPlaybackTime(double time);
    double currentPlaybackTime() const;
    void setCurrentPlaybackTime(double time);
    float currentPlaybackRate() const;
    void setCurrentPlaybackRate(float rate);
    double duration() const;
    double playableDuration() const;
    QSizeF naturalSize() const;

    // A picture of the current item at `time` (below 0 reads as 0), at the size the item shows
    // it: with KRMovieTimeOptionExact the one shown at that time, otherwise the key frame at or
    // before it. It is decoded apart from the playing player, and waited for. Null without an
    // item, for a time past the item's end or not a number, and when no picture results.
    QImage thumbnailImageAtTime(double time, int timeOption) const;

    void prepareToPlay();
    void play();
    void pause();
    void stop();

    // Staged content: the completion runs at most once, with (true, none) when the staged
    // player is ready, or (false, error); cancelling drops it without a call.
    void stageContentURL(const QUrl& url, double time, float rate, double minimumBufferTime,
                         std::function<void(bool ready, const KROptionalError& error)> completion);
    bool commitStagedContentAtTime(double time);
    void cancelStagedContent();
    bool stagedVideoHasDecodedFrame() const;
    bool hasStagedContent() const { return m_staged != nullptr; }
    // While the picture is suppressed: make sure the sound clock runs, checking three times.
    void reassertPlaybackWhileVideoOutputSuppressed();

    // The players behind the facade, for tests.
    platform::media::MediaPlayer* playerForTesting() const { return m_player; }
    platform::media::MediaPlayer* stagedPlayerForTesting() const;
    int pollIntervalForTesting() const { return m_stateTimer.interval(); }
    // State polls run so far.
    quint64 pollCountForTesting() const { return m_pollCount; }

private:
    struct Staged;

    void setUpItem();
    void connectPlayer(platform::media::MediaPlayer* player);
    void startStateTimerIfNeeded();
    void restartStateTimer();
    void poll();
    unsigned computedLoadState() const;
    int computedPlaybackState() const;
    bool computedReadyForDisplay() const;
    // Each returns false when an observer destroyed the transport.
    bool postLoadStateIfChanged();
    bool postPlaybackStateIfChanged();
    bool postFinish(int reason, const KROptionalError& error);
    bool post(const QString& name, const QVariantMap& userInfo = {});
    bool isFileURL() const { return m_contentURL.isLocalFile(); }
    QString host() const;
    void applyDesiredRate();
    void pollStagedContent();
    void finishStagedContent(const KROptionalError& error);
    void alignStaged(double time);
    void runSuppressedPlaybackProbe();

    platform::media::MediaPlayer* m_player = nullptr;
    // The views go into the owner's tree, which may be destroyed before the transport.
    QPointer<platform::media::PlayerSurface> m_surface;
    QPointer<platform::uikit::View> m_view;
    QPointer<platform::uikit::View> m_backgroundView;
    QPointer<platform::uikit::View> m_surfaceView;
    std::unique_ptr<Staged> m_staged;
    QUrl m_contentURL;
    platform::RepeatingTimer m_stateTimer;
    platform::DelayedCalls m_delayed;
    int m_lastPlaybackState = 0;
    unsigned m_lastLoadState = 0;
    bool m_lastReadyForDisplay = false;
    bool m_expectedToPlay = false;
    bool m_preparedToPlay = false;
    bool m_finishPosted = false;
    bool m_shouldAutoplay = true;
    bool m_useApplicationAudioSession = false;
    bool m_allowsAirPlay = true;
    bool m_videoOutputSuppressed = false;
    int m_movieSourceType = 0;
    int m_controlStyle = 1;
    int m_scalingMode = 1;
    float m_desiredPlaybackRate = 1.0f;
    double m_initialPlaybackTime = 0;
    int m_probeRemaining = 0;
    double m_probeLastTime = 0;
    quint64 m_pollCount = 0;
};

#pragma once

#include "platform/foundation/NotificationCenter.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/TableViewDataSource.h"
#include "platform/uikit/TableViewDelegate.h"
#include "platform/uikit/ViewController.h"
#include "playback/KRDanmakuRenderer.h"
#include "playback/KROfflineCacheManager.h"
#include "playback/KRPlayerControlsView.h"
#include "service/KRRequestHandle.h"
#include "shared/KRPlayerSurface.h"

#include <QPointer>
#include <QSizeF>

#include <memory>
#include <optional>

class KRDASHPlayback;
class KRPlayerFullscreen;
class KRPlaybackSession;
class KRPlaybackTransport;

namespace platform::uikit {
class Label;
class TableView;
}

// The library's list of offline downloads: a running download first ("<quality> · 缓存中"),
// then the complete entries, read again whenever the offline cache changes. A complete entry
// plays inline above the list (a DASH record as its picture and sound pair) with the controls
// in their compact offline form and the danmaku saved with it; stopping records the local
// history as an offline viewing. While it plays, turning the device or the full-screen button
// shows it in a landscape full screen of its own.
class KRAccountVideoListViewController : public platform::uikit::ViewController,
                                         public platform::uikit::TableViewDataSource,
                                         public platform::uikit::TableViewDelegate,
                                         public KRPlayerControlsViewDelegate {
    Q_OBJECT
public:
    explicit KRAccountVideoListViewController(QObject* parent = nullptr);
    ~KRAccountVideoListViewController() override;

    int supportedInterfaceOrientations() override;
    bool shouldAutorotateToInterfaceOrientation(int orientation) override;

    // The entries shown, running download first.
    const KRVideoList& videos() const { return m_videos; }
    void reloadVideos();
    // Plays a complete entry inline; a running download does not play.
    bool playVideo(const std::shared_ptr<KRVideo>& video);
    // Stops the inline player (recording the local history) and hides it.
    void stopPlayback();

    // The shell's rotation hooks, sent by name, as the video page answers them.
    Q_INVOKABLE bool kr_allowsPlaybackRotation();
    Q_INVOKABLE void kr_enterFullscreenForLandscapeIfNeeded();
    Q_INVOKABLE void kr_restoreFullscreenAfterLandscapeIfNeeded();
    Q_INVOKABLE void kr_raisePlaybackSurfaceAfterRotationPreparation();
    Q_INVOKABLE void kr_layoutPlaybackDuringRotation();
    Q_INVOKABLE void kr_completePlaybackRotationLayout();
    Q_INVOKABLE void kr_preparePlaybackTransitionToSizeValue(QSizeF size);
    KRPlayerFullscreen* fullscreen() const { return m_fullscreen.get(); }

    // What the screen shows, for tests and the gallery.
    platform::uikit::TableView* tableView() const { return m_table; }
    platform::uikit::Label* stateLabel() const { return m_stateLabel; }
    platform::uikit::View* playerContainer() const { return m_playerContainer; }
    // The text over the player when it could not play ("播放失败，点播放重试").
    platform::uikit::Label* playbackStatusLabel() const { return m_playbackStatusLabel; }
    KRPlaybackTransport* transport() const;
    KRDASHPlayback* dashPlayback() const;
    KRPlaybackSession* playbackSession() const { return m_session.get(); }
    KRPlayerControlsView* controlsView() const { return m_controls; }
    KRDanmakuRenderer* danmakuRenderer() const { return m_danmaku; }
    std::shared_ptr<KRVideo> playingVideo() const { return m_playingVideo; }

    int numberOfRowsInSection(platform::uikit::TableView*, int) override;
    platform::uikit::TableViewCell* cellForRowAtIndexPath(platform::uikit::TableView*, const platform::uikit::IndexPath&) override;
    void didSelectRowAtIndexPath(platform::uikit::TableView*, const platform::uikit::IndexPath&) override;

    void playerControlsDidTogglePlayback(KRPlayerControlsView*) override;
    void playerControlsSeekToTime(KRPlayerControlsView*, double time) override;
    void playerControlsDidRequestQuality(KRPlayerControlsView*) override {}
    void playerControlsDidRequestSpeed(KRPlayerControlsView*) override {}
    void playerControlsDidRequestFullscreen(KRPlayerControlsView*) override;
    void playerControlsVisibilityDidChange(KRPlayerControlsView*, bool) override {}
    void playerControlsDidToggleDanmaku(KRPlayerControlsView*) override;

protected:
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    void viewDidLayoutSubviews() override;

private:
    void applyTheme();
    void showProgress(double time, double duration, bool playing);
    // Every source failed: the player says so, upright, and its play button starts again.
    void playbackFailed(bool installed);
    void showPlaybackStatus(const QString& text);
    bool isRunningDownload(const KRVideo& video) const;
    std::unique_ptr<KRPlayerFullscreen> makeFullscreen();
    // The player goes into its surface for a full screen, and back into the list after it.
    bool installSurfaceForFullscreen();
    void leaveFullscreenForStop();
    void layoutPlayerContent(bool fullscreen);

    KRVideoList m_videos;
    platform::uikit::TableView* m_table = nullptr;
    platform::uikit::Label* m_stateLabel = nullptr;
    QPointer<platform::uikit::View> m_playerContainer;
    // The player of the entry that plays; the list shows what it tells.
    std::unique_ptr<KRPlaybackSession> m_session;
    // Views of the player container: a window taken down first takes them with it.
    QPointer<KRPlayerControlsView> m_controls;
    QPointer<KRDanmakuRenderer> m_danmaku;
    QPointer<platform::uikit::Label> m_playbackStatusLabel;
    std::shared_ptr<KRVideo> m_playingVideo;
    // Set while a failure is shown: the play button retries from this time.
    std::optional<double> m_retryTime;
    KRRequestHandle m_danmakuLoad;
    bool m_appearedBefore = false;
    platform::ObserverToken m_cacheObserver;
    platform::ObserverToken m_backgroundObserver;
    platform::ObserverToken m_themeObserver;
    KRPlayerSurface m_surface;
    bool m_surfaceHeld = false;
    std::unique_ptr<KRPlayerFullscreen> m_fullscreen;
};

#pragma once

#include "model/KRDanmaku.h"
#include "platform/foundation/DelayedCall.h"
#include "platform/foundation/RepeatingTimer.h"
#include "platform/uikit/ImageView.h"
#include "service/KRRequestHandle.h"
#include "shared/KRPlayerSurface.h"
#include "video/KRVideoDanmakuComposer.h"
#include "video/KRVideoRequestScope.h"

#include <QObject>
#include <QPointer>
#include <QRectF>
#include <QString>

#include <functional>
#include <memory>

class KRDASHPlayback;
class KRDanmakuRenderer;
class KRPlaybackSession;
class KRPlaybackTransport;
class KRPlayerControlsView;
class KRPlayerControlsViewDelegate;

namespace platform::uikit {
class Button;
class Label;
class LongPressGestureRecognizer;
class View;
}

// The top of the video page: the player container with its cover, play button, loading
// overlay and status line, the danmaku renderer and the player controls once a transport is
// bound, the danmaku entry of the tab row (switch and "发弹幕" with its composer,
// `KRVideoDanmakuComposer`) and the
// persistent surface the container moves into while a player runs. It plays nothing itself:
// whoever runs playback binds its transport here and lets it go again; while bound, the area
// keeps what the controls show and the hold recogniser on the picture.
class KRVideoPlayerArea : public QObject {
    Q_OBJECT
public:
    struct Actions {
        std::function<void()> playTapped;
        // The hold on the bound picture: 1 began, 2 changed, 3 ended, 4 cancelled, 5 failed.
        std::function<void(int)> holdChanged;
        // The danmaku composer's: playback, the part, the renderer and the login alert's answer.
        KRVideoDanmakuComposer::Actions danmakuComposer;
        // Whether a press on `touched` (inside the picture `view`) may start the hold.
        std::function<bool(const QWidget* touched, const QWidget* view)> holdAllowed;
    };
    explicit KRVideoPlayerArea(Actions actions, QObject* parent = nullptr);
    ~KRVideoPlayerArea() override;

    // The player container and the composer bar on the root view, the danmaku entry in the tab row.
    void build(platform::uikit::View* root, platform::uikit::View* tabBar, qreal width);
    // Embedded frames for the player height; the tab row's entry beside a segment of that width.
    void layout(qreal width, qreal playerHeight, qreal segmentWidth);
    void applyTheme();

    platform::uikit::View* playerContainer() const { return m_container; }
    platform::uikit::ImageView* coverView() const { return m_coverView; }
    platform::uikit::Button* playButton() const { return m_playButton; }
    KRDanmakuRenderer* danmakuRenderer() const;
    KRPlayerControlsView* controls() const;
    // Null until first shown.
    platform::uikit::View* loadingOverlay() const { return m_loadingOverlay; }
    platform::uikit::Label* danmakuStatusLabel() const { return m_danmakuStatusLabel; }

    // ---- the cover and the play button ----
    // The cover at that address, shown when it arrives if `stillWanted` says so then.
    void loadCover(const QString& address, std::function<bool()> stillWanted);
    void setPlayButtonEnabled(bool enabled);
    // Shown above everything in the container, or hidden.
    void showPlayButton(bool shown);

    // ---- status lines ----
    void showLoadingStatus(const QString& text, bool animateTV);
    void hideLoadingStatus();
    void showDanmakuStatus(const QString& text);
    // While a quality switch runs, the status of its phase stays up: a passing status gives
    // way back to it instead of hiding. Empty takes it away.
    void setPersistentStatus(const QString& text);
    void hideDanmakuStatus();
    void layoutDanmakuStatusLabelForText(const QString& text);

    // ---- the persistent surface ----
    // Moves the container into a black surface in the window's root view; false without a window.
    bool installPersistentPlayerSurfaceIfNeeded();
    void layoutPersistentPlayerSurfaceEmbedded();
    void uninstallPersistentPlayerSurface();
    // Hidden while another screen covers the page; shown, laid out and raised again when it is back.
    void setSurfaceCovered(bool covered);
    KRPlayerSurface& surface() { return m_surface; }
    // While a full screen shows or turns, the page's layouts leave the surface where it is.
    void setSurfaceHeldByFullscreen(bool held) { m_surfaceHeldByFullscreen = held; }
    bool isSurfaceHeldByFullscreen() const { return m_surfaceHeldByFullscreen; }

    // ---- the transport ----
    // The transport's picture takes the container; the renderer and the controls go over it,
    // and a recogniser for the hold (pressed for `holdDuration` seconds) watches the picture.
    // `dash` is the pair the transport plays the sound of, or null. `portraitVideo` picks the
    // full-screen button's kind. A transport that replaces a bound one (a quality switch, a
    // failover, a rollback) is bound the same way; the bound form is the embedded one, and
    // `transportBound` lets a full screen that holds the surface take it into its own.
    void bindTransport(KRPlaybackTransport* transport, KRDASHPlayback* dash, double startTime, double holdDuration,
                       KRPlayerControlsViewDelegate* controlsDelegate, bool portraitVideo);
    // Clears and detaches renderer and controls, stops the renderer's clock. With the views
    // gone, only lets the transport go.
    void unbindTransport();
    void layoutBoundTransport(bool portraitFullscreen);
    KRPlaybackTransport* transport() const;
    KRDASHPlayback* dash() const;

    // ---- a rollback's snapshot ----
    static constexpr double kSnapshotFadeDelay = 0.04;
    static constexpr double kSnapshotFadeSeconds = 0.12;
    // Follows `session`'s quality-switch rollbacks: the last frame of the stream being replaced
    // lies over the picture, under the lines and the controls, until the previous stream is
    // back (it fades out) or cannot come back (it goes at once).
    void observeRollbacks(KRPlaybackSession* session);
    // The snapshot shown while a rollback runs, or null; one fading out is no longer it.
    platform::uikit::ImageView* rollbackSnapshot() const { return m_snapshot; }

Q_SIGNALS:
    // A transport was bound (first or in place of another): what lies over it is embedded.
    void transportBound();

public:
    // ---- what the controls show ----
    // The time, length and playing state; hidden controls take no more than one update a
    // second while `throttled`, not `ended` and no quality switch runs. False when nothing
    // was shown.
    bool showProgress(double time, double duration, bool playing, bool throttled, bool ended);
    // A quality switch runs: it is shown as it goes, hidden controls or not.
    void setQualitySwitchRunning(bool running) { m_shown.switching = running; }
    // The next progress shows whatever the throttle says.
    void refreshOnNextProgress() { m_shown.lastVisualUpdate = -1; }
    // The video's title and the quality's compact title, set only when the part or quality changes.
    void showTitles(qint64 cid, int quality, const QString& videoTitle);

    // ---- danmaku ----
    bool isDanmakuEnabled() const { return m_danmaku.enabled; }
    int loadedDanmakuCount() const { return int(m_danmaku.danmakus.size()); }
    void toggleDanmakuEnabled();
    void loadDanmakusForCID(qint64 cid, bool fromOfflineCopy);
    // Drops the list and whatever request is on its way; `keepRequest` only empties the list
    // (a memory warning with the display off).
    void dropDanmakus(bool keepRequest = false);
    void startDanmakuTimer();
    void stopDanmakuTimer();
    void updateDetailTabs();
    // The "发弹幕" entry's composer bar and sending.
    KRVideoDanmakuComposer* danmakuComposer() const { return m_danmakuComposer.get(); }

private:
    // What the bound controls show, kept to update them only when it changes.
    struct Shown {
        double lastVisualUpdate = -1;
        bool switching = false;
        qint64 titledCID = -1;
        int titledQuality = -1;
    };
    struct Danmaku {
        bool enabled = true;
        KRDanmakuList danmakus;
        qint64 loadedCID = 0;
        qint64 requestedCID = 0;
        bool loading = false;
        KRRequestHandle request;
        platform::RepeatingTimer timer;
    };
    // Made at their first showing.
    platform::uikit::View* ensureLoadingOverlay();
    platform::uikit::Label* ensureDanmakuStatusLabel();
    void buildDanmakuEntry(platform::uikit::View* root, platform::uikit::View* tabBar, qreal width);
    void danmakuTimerFired();
    // Shows `text` in the status label, in front; its hiding is the caller's.
    void presentStatus(const QString& text);
    void showRollbackSnapshot();
    // Over the bound picture, under the danmaku and the controls.
    void placeRollbackSnapshot();
    void fadeOutRollbackSnapshot();
    // `fading` too: the player it lay over goes.
    void removeRollbackSnapshot(bool fading);

    Actions m_actions;
    QPointer<platform::uikit::View> m_root;
    platform::uikit::View* m_container = nullptr;
    platform::uikit::ImageView* m_coverView = nullptr;
    platform::uikit::Button* m_playButton = nullptr;
    platform::uikit::View* m_loadingOverlay = nullptr;
    platform::uikit::ImageView* m_loadingTVView = nullptr;
    platform::uikit::Label* m_loadingStatusLabel = nullptr;
    platform::uikit::Label* m_danmakuStatusLabel = nullptr;
    QPointer<KRDanmakuRenderer> m_danmakuView;
    QPointer<KRPlayerControlsView> m_controls;
    QPointer<KRPlaybackTransport> m_transport;
    QPointer<KRDASHPlayback> m_dash;
    QPointer<platform::uikit::LongPressGestureRecognizer> m_holdRecognizer;
    Shown m_shown;
    platform::uikit::Button* m_danmakuComposeButton = nullptr;
    platform::uikit::Button* m_danmakuButton = nullptr;
    std::unique_ptr<KRVideoDanmakuComposer> m_danmakuComposer;
    KRPlayerSurface m_surface;
    bool m_surfaceHeldByFullscreen = false;
    Danmaku m_danmaku;
    KRVideoRequestScope m_requests;
    platform::DelayedCalls m_delayed;
    QString m_persistentStatus;
    QPointer<platform::uikit::ImageView> m_snapshot;
    QPointer<platform::uikit::ImageView> m_fadingSnapshot;
};

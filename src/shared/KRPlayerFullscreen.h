#pragma once

#include "platform/foundation/DelayedCall.h"
#include "platform/foundation/NotificationCenter.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QSizeF>
#include <QString>
#include <QWidget>

#include <functional>

class KRPlayerSurface;

namespace platform::uikit {
class View;
}

// The full screen a playback screen draws itself: its player surface grown over the whole
// root view, in landscape (after asking the device to turn) or, for portrait videos, in
// portrait with a short animation. It keeps the rotation phase machine that the shell's
// rotation hooks drive (0 idle, 1 landscape requested, 2 landscape layout during the rotation,
// 3 landscape settled, 4 portrait requested, 5 portrait layout during the rotation), the
// rotation generation that makes a portrait return target stale once a newer request came,
// the device's turns, and the fade of the player's chrome around a rotation. What lies inside
// the surface (picture, danmaku, controls, rail) is the screen's: it is told through `Screen`.
class KRPlayerFullscreen : public QObject {
    Q_OBJECT
public:
    struct Screen {
        // A player exists and playback has started.
        std::function<bool()> playing;
        // The video is shown in the portrait full screen (it never turns to landscape).
        std::function<bool()> portraitVideo;
        // Playback ended awaiting replay or failed awaiting retry: the device's turns are ignored.
        std::function<bool()> idle;
        // The controls prepare for a rotation and the danmaku stop moving at the current time.
        std::function<void()> prepareForRotation;
        // The surface's geometry changed: lay out what is inside it, full-screen or embedded.
        std::function<void(bool fullscreen)> layoutContent;
        // The full screen has settled: attach the danmaku and the rail, one sync pass.
        std::function<void()> presentChrome;
        // The full screen is gone: the chrome goes back under the embedded player.
        std::function<void()> returnChrome;
        // The screen's own layout, at once.
        std::function<void()> layoutScreen;
        // The views faded out around a rotation.
        std::function<QList<QWidget*>()> chromeViews;
        // The surface's geometry belongs to the full screen (true) or to the screen's layouts.
        std::function<void(bool held)> holdSurface;
        // Interface orientation the controls should take after a settled rotation.
        std::function<void(int orientation)> commitOrientation;
        // After the exit has completed (root geometry, a navigation asked for meanwhile).
        std::function<void()> exited;
        // Nothing is in full screen after a rotation: repair the navigation bar if needed.
        std::function<void()> settledEmbedded;
        // The media's natural size, for the geometry events.
        std::function<QSizeF()> mediaSize;
    };
    KRPlayerFullscreen(KRPlayerSurface* surface, Screen screen, QObject* parent = nullptr);
    ~KRPlayerFullscreen() override;

    bool isFullscreen() const { return m_fullscreen; }
    bool isLandscape() const { return m_landscape; }
    bool isTransitioning() const { return m_transitioning; }
    bool isEnteredByRotation() const { return m_enteredByRotation; }
    bool isWaitingForPortrait() const { return m_exitAfterPortrait; }
    bool isChromeSuppressed() const { return m_chromeSuppressed; }
    int phase() const { return m_phase; }
    // Landscape or portrait requested, or laid out while the interface turns (phases 1, 2, 4
    // and 5): what follows playback on screen waits until the turn has settled.
    bool isRotating() const { return isRotatingPhase(m_phase); }
    unsigned generation() const { return m_generation; }
    int deviceOrientation() const { return m_deviceOrientation; }
    // A full screen is shown, or one is being entered or left.
    bool holdsSurface() const { return m_fullscreen || m_transitioning; }

    // Enters: landscape (the rotation hooks finish it) or portrait, animated or at once.
    void enterCustomPlayerFullscreenLandscape(bool landscape, bool animated, bool enteredByRotation);
    // Leaves in place: animated back to the embedded frame, or at once.
    void exitCustomPlayerFullscreenAnimated(bool animated);
    // The full-screen button: landscape turns to portrait first, portrait leaves animated.
    void fullscreenDoneTapped();
    // The device's setter, looked up by name on `device` (the current device when null), else
    // the status bar, turned with animation; then the interface follows.
    void requestCustomPlayerInterfaceOrientation(int orientation, QObject* device = nullptr);
    // Called when the surface was removed while a full screen was shown.
    void reset();

    // ---- the shell's rotation hooks ----
    // A player runs that is not shown in the portrait full screen, or the interface is still
    // turned and must be let back.
    bool kr_allowsPlaybackRotation() const;
    void kr_enterFullscreenForLandscapeIfNeeded();
    void kr_restoreFullscreenAfterLandscapeIfNeeded();
    void kr_raisePlaybackSurfaceAfterRotationPreparation();
    void kr_layoutPlaybackDuringRotation();
    void kr_completePlaybackRotationLayout();
    void kr_preparePlaybackTransitionToSizeValue(const QSizeF& size);

    void suppressPlayerChromeForRotation();
    void restorePlayerChromeAfterRotation();
    // The screen's view laid out at once with everything above it, so a turned window's new
    // size reaches it through the containers between (the tab and navigation views).
    static void layoutScreenNow(platform::uikit::View* view);
    // After the full screen has gone: the screen's root (its tab bar controller) puts its
    // portrait geometry back and, from system 15 with the interface upright, reconciles its
    // navigation once this turn is over; each asked by name, only of a root that answers to it.
    void commitPortraitRootGeometryAfterCustomExit(QObject* root);
    // "media=… portrait=… transitioning=… window=… host=… backdrop=… player=… safe=…"
    void recordCustomFullscreenGeometryEvent(const QString& event) const;

Q_SIGNALS:
    // A turn began (phase 1 or 4) or has settled, been completed or given up.
    void rotatingChanged(bool rotating);

private:
    static bool isRotatingPhase(int phase) { return phase == 1 || phase == 2 || phase == 4 || phase == 5; }
    void setPhase(int phase);
    void deviceOrientationDidChange();
    void layoutCustomPlayerFullscreen();
    void layoutCustomPlayerForPortraitReturnDuringRotation();
    bool targetValidNow() const { return m_targetValid && m_targetGeneration == m_generation; }
    void invalidateTarget();
    void completeCustomPlayerFullscreenExit();
    void finishCustomPlayerRotationPresentation();
    void fadeChrome(qreal alpha, double seconds);
    void animateSurfaceTo(const QRectF& target, double seconds, std::function<void()> done);

    KRPlayerSurface* m_surface;
    Screen m_screen;
    bool m_fullscreen = false;
    bool m_landscape = false;
    bool m_transitioning = false;
    bool m_enteredByRotation = false;
    bool m_exitAfterPortrait = false;
    bool m_chromeSuppressed = false;
    bool m_targetValid = false;
    int m_phase = 0;
    int m_deviceOrientation = 0;
    unsigned m_generation = 0;
    unsigned m_targetGeneration = 0;
    quint64 m_surfaceAnimation = 0;
    quint64 m_chromeAnimation = 0;
    platform::ObserverToken m_deviceObserver;
    platform::DelayedCalls m_delayed;
};

#include "shared/KRPlayerFullscreen.h"

#include "look/KRShellHelpers.h"
#include "platform/device/DeviceProfile.h"
#include "platform/uikit/AnimationClock.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/Device.h"
#include "platform/uikit/Geometry.h"
#include "platform/uikit/View.h"
#include "platform/uikit/ViewController.h"
#include "platform/uikit/Window.h"
#include "shared/KRPlayerSurface.h"
#include "store/KRDiagnostics.h"

#include <QDebug>
#include <QGraphicsOpacityEffect>
#include <QMetaObject>

#include <cmath>

using namespace platform::uikit;

namespace {

constexpr double kPortraitEnterSeconds = 0.28;
constexpr double kPortraitExitSeconds = 0.26;
constexpr double kChromeFadeOutSeconds = 0.07;
constexpr double kChromeFadeInSeconds = 0.11;
const QString kFinishRotationPresentation = QStringLiteral("finishCustomPlayerRotationPresentation");
const char* const kCommitPortraitRoot = "kr_commitPortraitRootGeometry";
const char* const kReconcileModernNavigation = "kr_reconcileModernPortraitNavigationAfterRotation";
constexpr int kModernNavigationVersion = 15;

bool answersTo(const QObject* object, const char* method)
{
    return object && object->metaObject()->indexOfMethod(QByteArray(method) + "()") >= 0;
}

const char* yesNo(bool value) { return value ? "YES" : "NO"; }

bool isLandscapeOrientation(int orientation) { return orientation == 3 || orientation == 4; }

QRectF lerp(const QRectF& a, const QRectF& b, double t)
{
    auto mix = [t](qreal x, qreal y) { return x + (y - x) * t; };
    return QRectF(mix(a.x(), b.x()), mix(a.y(), b.y()), mix(a.width(), b.width()), mix(a.height(), b.height()));
}

} // namespace

KRPlayerFullscreen::KRPlayerFullscreen(KRPlayerSurface* surface, Screen screen, QObject* parent)
    : QObject(parent)
    , m_surface(surface)
    , m_screen(std::move(screen))
{
    Device& device = Device::current();
    device.beginGeneratingDeviceOrientationNotifications();
    m_deviceObserver = platform::NotificationCenter::defaultCenter().addObserver(
        DeviceOrientationDidChangeNotification, nullptr, [this](const platform::Notification&) { deviceOrientationDidChange(); });
}

KRPlayerFullscreen::~KRPlayerFullscreen()
{
    m_delayed.cancelAll();
    AnimationClock::cancel(m_surfaceAnimation);
    AnimationClock::cancel(m_chromeAnimation);
    Device::current().endGeneratingDeviceOrientationNotifications();
}

// ---- entering and leaving ----

void KRPlayerFullscreen::enterCustomPlayerFullscreenLandscape(bool landscape, bool animated, bool enteredByRotation)
{
    if (!m_screen.playing() || !m_surface || m_transitioning)
        return;
    auto& app = Application::shared();
    if (!app.keyWindow())
        return;
    // The surface comes with the player: without it there is nothing to grow.
    if (!m_surface->isInstalled())
        return;
    if (!m_fullscreen) {
        ++m_generation;
        invalidateTarget();
        m_surface->backdrop()->setBackgroundColor(QColor(Qt::black));
    }
    m_fullscreen = true;
    m_landscape = landscape;
    m_exitAfterPortrait = false;
    m_enteredByRotation = enteredByRotation;
    m_transitioning = animated;
    m_screen.holdSurface(true);
    const int device = Device::current().orientation();
    m_deviceOrientation = landscape && !enteredByRotation && !isLandscapeOrientation(device) ? 3 : device;
    if (landscape) {
        m_screen.prepareForRotation();
        if (!animated) {
            setPhase(1);
            m_transitioning = true;
            qInfo().noquote() << QStringLiteral("[KorvanePlayerRotation] prepared device=%1 embedded=%2")
                                     .arg(m_deviceOrientation)
                                     .arg(StringFromRect(m_surface->container() ? m_surface->container()->frame() : QRectF()));
            return;
        }
    }
    setPhase(0);
    app.setStatusBarHidden(true, false);
    QPointer<KRPlayerFullscreen> self(this);
    auto settle = [self] {
        if (!self)
            return;
        self->m_transitioning = false;
        self->layoutCustomPlayerFullscreen();
        self->m_screen.presentChrome();
        self->kr_completePlaybackRotationLayout();
        self->recordCustomFullscreenGeometryEvent(QStringLiteral("portrait-fullscreen-commit"));
    };
    if (animated) {
        m_surface->raise();
        animateSurfaceTo(m_surface->host() ? m_surface->host()->bounds() : m_surface->backdrop()->bounds(), kPortraitEnterSeconds,
                         settle);
    } else {
        layoutCustomPlayerFullscreen();
        settle();
    }
    Window* window = app.keyWindow();
    qInfo().noquote() << QStringLiteral("[KorvanePlayerSurface] enter landscape=%1 device=%2 bounds=%3")
                             .arg(QLatin1String(yesNo(landscape)))
                             .arg(m_deviceOrientation)
                             .arg(StringFromRect(window ? window->bounds() : QRectF()));
}

void KRPlayerFullscreen::exitCustomPlayerFullscreenAnimated(bool animated)
{
    if (!m_fullscreen)
        return;
    if (m_transitioning) {
        // An animated exit waits for the running transition; one at once takes over from it.
        if (animated)
            return;
        AnimationClock::cancel(m_surfaceAnimation);
        m_transitioning = false;
    }
    const QRectF target = m_surface ? m_surface->embeddedFrameInHost() : QRectF();
    if (!m_surface || !m_surface->isInstalled() || target.isNull()) {
        completeCustomPlayerFullscreenExit();
        return;
    }
    m_transitioning = animated;
    if (!animated) {
        m_surface->placeInHost(target);
        completeCustomPlayerFullscreenExit();
        return;
    }
    QPointer<KRPlayerFullscreen> self(this);
    animateSurfaceTo(target, kPortraitExitSeconds, [self] {
        if (self)
            self->completeCustomPlayerFullscreenExit();
    });
}

void KRPlayerFullscreen::fullscreenDoneTapped()
{
    if (!m_fullscreen)
        return;
    if (!m_landscape) {
        exitCustomPlayerFullscreenAnimated(true);
        return;
    }
    m_exitAfterPortrait = true;
    setPhase(4);
    m_transitioning = true;
    m_screen.prepareForRotation();
    requestCustomPlayerInterfaceOrientation(1);
}

void KRPlayerFullscreen::completeCustomPlayerFullscreenExit()
{
    const bool targetWasValid = targetValidNow();
    AnimationClock::cancel(m_surfaceAnimation);
    m_fullscreen = m_landscape = m_transitioning = m_enteredByRotation = m_exitAfterPortrait = false;
    setPhase(0);
    invalidateTarget();
    m_delayed.cancel(kFinishRotationPresentation);
    if (!targetWasValid)
        Application::shared().setStatusBarHidden(false, false);
    m_screen.commitOrientation(1);
    m_screen.returnChrome();
    m_screen.holdSurface(false);
    m_screen.layoutScreen();
    if (m_surface && m_surface->layoutEmbedded())
        m_screen.layoutContent(false);
    restorePlayerChromeAfterRotation();
    qInfo().noquote() << QStringLiteral("[KorvanePlayerSurface] exit embedded=%1")
                             .arg(StringFromRect(m_surface && m_surface->container() ? m_surface->container()->frame() : QRectF()));
    m_screen.exited();
}

void KRPlayerFullscreen::reset()
{
    AnimationClock::cancel(m_surfaceAnimation);
    m_delayed.cancelAll();
    const bool was = m_fullscreen;
    m_fullscreen = m_landscape = m_transitioning = m_enteredByRotation = m_exitAfterPortrait = false;
    if (m_chromeSuppressed) {
        // Shown again at once: nothing is left to rotate.
        m_chromeSuppressed = false;
        fadeChrome(1, 0);
    }
    setPhase(0);
    invalidateTarget();
    m_screen.holdSurface(false);
    if (was) {
        Application::shared().setStatusBarHidden(false, false);
        m_screen.returnChrome();
        // The interface goes back upright with the player gone.
        requestCustomPlayerInterfaceOrientation(1);
        // Gone by a stop or a failure, the full screen is over as after its own exit: the root's
        // portrait geometry, and a navigation asked for meanwhile.
        m_screen.exited();
    }
}

void KRPlayerFullscreen::commitPortraitRootGeometryAfterCustomExit(QObject* root)
{
    if (answersTo(root, kCommitPortraitRoot))
        QMetaObject::invokeMethod(root, kCommitPortraitRoot, Qt::DirectConnection);
    if (platform::DeviceProfile::systemMajorVersion() < kModernNavigationVersion
        || isLandscapeOrientation(Application::shared().statusBarOrientation()) || !answersTo(root, kReconcileModernNavigation))
        return;
    const QString key = QString::fromLatin1(kReconcileModernNavigation);
    m_delayed.cancel(key);
    m_delayed.schedule(key, 0, [root = QPointer<QObject>(root)] {
        if (root)
            QMetaObject::invokeMethod(root, kReconcileModernNavigation, Qt::DirectConnection);
    });
}

void KRPlayerFullscreen::setPhase(int phase)
{
    const bool was = isRotatingPhase(m_phase);
    m_phase = phase;
    if (isRotatingPhase(phase) != was)
        Q_EMIT rotatingChanged(!was);
}

void KRPlayerFullscreen::invalidateTarget()
{
    m_targetValid = false;
    m_targetGeneration = 0;
}

// ---- geometry ----

void KRPlayerFullscreen::layoutCustomPlayerFullscreen()
{
    if (!m_fullscreen || !m_surface || !m_surface->isInstalled())
        return;
    m_surface->layoutFullscreen();
    m_screen.layoutContent(true);
}

void KRPlayerFullscreen::layoutCustomPlayerForPortraitReturnDuringRotation()
{
    if (!m_fullscreen || !m_exitAfterPortrait || !m_surface || !m_surface->isInstalled())
        return;
    View* host = m_surface->host();
    if (!host)
        return;
    m_surface->raise();
    m_surface->placeInHost(host->bounds());
    m_screen.layoutScreen();
    const QRectF target = m_surface->embeddedFrameInHost();
    const QRectF bounds = host->bounds();
    const bool finite = std::isfinite(target.x()) && std::isfinite(target.y()) && std::isfinite(target.width())
        && std::isfinite(target.height());
    const bool plausible = finite && target.width() >= 80 && target.height() >= 44 && target.width() <= bounds.width() + 8
        && target.height() <= bounds.height() + 8 && target.intersects(bounds.adjusted(-2, -2, 2, 2));
    if (!plausible) {
        qInfo().noquote() << QStringLiteral("[KorvanePlayerRotation] rejected portrait target=%1 host=%2")
                                 .arg(StringFromRect(target), StringFromRect(bounds));
        layoutCustomPlayerFullscreen();
        return;
    }
    m_targetValid = true;
    m_targetGeneration = m_generation;
    m_surface->placeInHost(target);
    m_screen.layoutContent(false);
}

void KRPlayerFullscreen::animateSurfaceTo(const QRectF& target, double seconds, std::function<void()> done)
{
    AnimationClock::cancel(m_surfaceAnimation);
    const QRectF from = m_surface->backdrop()->frame();
    KRPlayerSurface* surface = m_surface;
    QPointer<KRPlayerFullscreen> self(this);
    m_surfaceAnimation = AnimationClock::animate(
        this, seconds,
        [self, surface, from, target](double t) {
            if (self && surface->isInstalled()) {
                surface->placeInHost(lerp(from, target, t));
                self->m_screen.layoutContent(self->m_fullscreen);
            }
        },
        [self, done = std::move(done)](bool finished) {
            if (self && finished)
                done();
        });
}

// ---- orientation ----

void KRPlayerFullscreen::requestCustomPlayerInterfaceOrientation(int orientation, QObject* device)
{
    if (!device)
        device = &Device::current();
    if (!KRInvokeDeviceOrientationSetter(device, orientation))
        Application::shared().setStatusBarOrientation(orientation, true);
    ViewController::attemptRotationToDeviceOrientation();
}

void KRPlayerFullscreen::deviceOrientationDidChange()
{
    if (!m_screen.playing() || m_screen.idle() || m_screen.portraitVideo())
        return;
    const int orientation = Device::current().orientation();
    if (isLandscapeOrientation(orientation)) {
        if (orientation == m_deviceOrientation && m_phase >= 1 && m_phase <= 5)
            return;
        m_deviceOrientation = orientation;
        if (m_exitAfterPortrait) {
            ++m_generation;
            invalidateTarget();
            m_exitAfterPortrait = false;
        }
    } else if (orientation == 1) {
        if (m_fullscreen && m_landscape && m_phase != 4 && m_phase != 5) {
            KRDiagnostics::recordEvent(QStringLiteral("fullscreen-gravity-return"),
                                       QStringLiteral("enteredByRotation=%1 device=%2")
                                           .arg(QLatin1String(yesNo(m_enteredByRotation)))
                                           .arg(orientation));
            // Only a landscape turn is the orientation acted on: turned straight back, the device
            // points where the full screen already is, and the way back to portrait goes on.
            ++m_generation;
            invalidateTarget();
            m_exitAfterPortrait = true;
            setPhase(4);
            m_transitioning = true;
            m_screen.prepareForRotation();
        }
    } else {
        // Flat or upside down says nothing about where the picture should turn.
        return;
    }
    ViewController::attemptRotationToDeviceOrientation();
}

// ---- the rotation hooks ----

bool KRPlayerFullscreen::kr_allowsPlaybackRotation() const
{
    // Turned by this full screen, the interface may always come back upright, even once the
    // player has gone.
    return (m_screen.playing() && !m_screen.portraitVideo()) || isLandscapeOrientation(Application::shared().statusBarOrientation());
}

void KRPlayerFullscreen::kr_enterFullscreenForLandscapeIfNeeded()
{
    if (!m_screen.playing() || m_screen.portraitVideo())
        return;
    suppressPlayerChromeForRotation();
    if (!m_fullscreen) {
        enterCustomPlayerFullscreenLandscape(true, false, true);
        // Not entered (a transition runs): nothing turns, so nothing stays faded.
        if (!m_fullscreen)
            restorePlayerChromeAfterRotation();
        return;
    }
    m_screen.prepareForRotation();
    if (m_exitAfterPortrait) {
        ++m_generation;
        invalidateTarget();
    }
    m_landscape = true;
    m_exitAfterPortrait = false;
    setPhase(1);
    m_transitioning = true;
}

void KRPlayerFullscreen::kr_restoreFullscreenAfterLandscapeIfNeeded()
{
    if (!m_fullscreen || !m_landscape)
        return;
    suppressPlayerChromeForRotation();
    if (!m_exitAfterPortrait) {
        ++m_generation;
        invalidateTarget();
    }
    m_exitAfterPortrait = true;
    setPhase(4);
    m_transitioning = true;
    m_screen.prepareForRotation();
}

void KRPlayerFullscreen::kr_raisePlaybackSurfaceAfterRotationPreparation()
{
    if (m_fullscreen && m_surface)
        m_surface->raise();
}

void KRPlayerFullscreen::kr_layoutPlaybackDuringRotation()
{
    if (!m_fullscreen || !m_surface || !m_surface->isInstalled() || !m_screen.playing())
        return;
    const int target = m_exitAfterPortrait ? 5 : 2;
    View* host = m_surface->host();
    if (m_phase == target && host && m_surface->backdrop()->frame().size() == host->bounds().size())
        return;
    setPhase(target);
    m_transitioning = true;
    if (m_exitAfterPortrait)
        layoutCustomPlayerForPortraitReturnDuringRotation();
    else
        layoutCustomPlayerFullscreen();
}

void KRPlayerFullscreen::kr_completePlaybackRotationLayout()
{
    if (!m_fullscreen) {
        m_screen.settledEmbedded();
        m_screen.layoutScreen();
        return;
    }
    if (m_phase == 1 || m_phase == 4)
        kr_layoutPlaybackDuringRotation();
    View* host = m_surface ? m_surface->host() : nullptr;
    const QRectF bounds = host ? host->bounds() : (m_surface && m_surface->backdrop() ? m_surface->backdrop()->bounds() : QRectF());
    const bool wide = bounds.width() > bounds.height();
    if (m_exitAfterPortrait) {
        if (wide)
            return;
        if (targetValidNow()) {
            completeCustomPlayerFullscreenExit();
            return;
        }
        // The target was computed for an older request, or never: once more, for this one.
        layoutCustomPlayerForPortraitReturnDuringRotation();
        if (targetValidNow()) {
            completeCustomPlayerFullscreenExit();
            return;
        }
        m_exitAfterPortrait = false;
        setPhase(0);
        m_transitioning = false;
        exitCustomPlayerFullscreenAnimated(false);
        return;
    }
    if (!m_landscape || !wide)
        return;
    setPhase(3);
    m_transitioning = false;
    const int status = Application::shared().statusBarOrientation();
    m_screen.commitOrientation(isLandscapeOrientation(status) ? status : 4);
    m_delayed.cancel(kFinishRotationPresentation);
    m_delayed.schedule(kFinishRotationPresentation, 0, [this] { finishCustomPlayerRotationPresentation(); });
}

void KRPlayerFullscreen::finishCustomPlayerRotationPresentation()
{
    if (!m_fullscreen || !m_landscape || m_exitAfterPortrait || m_phase != 3)
        return;
    m_screen.presentChrome();
    restorePlayerChromeAfterRotation();
}

void KRPlayerFullscreen::kr_preparePlaybackTransitionToSizeValue(const QSizeF& size)
{
    if (!m_screen.playing() || !size.isValid())
        return;
    // A portrait video is never turned by the application; the system's own full screen,
    // which would take it to landscape, does not exist on this transport.
    if (m_screen.portraitVideo())
        return;
    if (size.width() > size.height())
        kr_enterFullscreenForLandscapeIfNeeded();
    else if (m_fullscreen && m_landscape)
        kr_restoreFullscreenAfterLandscapeIfNeeded();
}

// ---- the chrome around a rotation ----

void KRPlayerFullscreen::suppressPlayerChromeForRotation()
{
    if (m_chromeSuppressed)
        return;
    m_chromeSuppressed = true;
    fadeChrome(0, kChromeFadeOutSeconds);
}

void KRPlayerFullscreen::restorePlayerChromeAfterRotation()
{
    if (!m_chromeSuppressed)
        return;
    m_chromeSuppressed = false;
    fadeChrome(1, kChromeFadeInSeconds);
}

void KRPlayerFullscreen::fadeChrome(qreal alpha, double seconds)
{
    // Views fade by their alpha; a plain widget (the danmaku layer) through an opacity effect,
    // dropped again once it is fully shown.
    QList<QPointer<QWidget>> widgets;
    QList<qreal> from;
    for (QWidget* widget : m_screen.chromeViews()) {
        if (!widget)
            continue;
        widgets.append(widget);
        if (auto* view = qobject_cast<View*>(widget)) {
            from.append(view->alpha());
        } else {
            auto* effect = qobject_cast<QGraphicsOpacityEffect*>(widget->graphicsEffect());
            from.append(effect ? effect->opacity() : 1.0);
        }
    }
    auto apply = [widgets, from, alpha](double t) {
        for (int i = 0; i < widgets.size(); ++i) {
            QWidget* widget = widgets.at(i);
            if (!widget)
                continue;
            const qreal value = from.at(i) + (alpha - from.at(i)) * t;
            if (auto* view = qobject_cast<View*>(widget)) {
                view->setAlpha(value);
                continue;
            }
            auto* effect = qobject_cast<QGraphicsOpacityEffect*>(widget->graphicsEffect());
            if (value >= 1.0) {
                if (effect)
                    widget->setGraphicsEffect(nullptr);
                continue;
            }
            if (!effect) {
                effect = new QGraphicsOpacityEffect(widget);
                widget->setGraphicsEffect(effect);
            }
            effect->setOpacity(value);
        }
    };
    // One fade at a time: a fade still running would carry on from where this one starts.
    AnimationClock::cancel(m_chromeAnimation);
    m_chromeAnimation = AnimationClock::animate(this, seconds, apply, [apply](bool finished) {
        if (finished)
            apply(1.0);
    });
}

void KRPlayerFullscreen::layoutScreenNow(View* view)
{
    if (!view)
        return;
    View* top = view;
    for (View* v = view; v; v = v->superview()) {
        v->setNeedsLayout();
        top = v;
    }
    top->layoutIfNeeded();
}

// ---- diagnostics ----

void KRPlayerFullscreen::recordCustomFullscreenGeometryEvent(const QString& event) const
{
    Window* window = Application::shared().keyWindow();
    View* container = m_surface ? m_surface->container() : nullptr;
    if (container && container->window())
        window = container->window();
    View* host = m_surface && m_surface->host() ? m_surface->host() : (window && window->rootViewController() ? window->rootViewController()->view() : nullptr);
    const QSizeF media = m_screen.mediaSize ? m_screen.mediaSize() : QSizeF();
    const EdgeInsets safe = KRSafeAreaInsetsForView(window);
    KRDiagnostics::recordEvent(
        event, QStringLiteral("media=%1x%2 portrait=%3 transitioning=%4 window=%5 host=%6 backdrop=%7 player=%8 safe={%9, %10, %11, %12}")
                   .arg(media.width(), 0, 'f', 0)
                   .arg(media.height(), 0, 'f', 0)
                   .arg(QLatin1String(yesNo(m_screen.portraitVideo())), QLatin1String(yesNo(m_transitioning)),
                        StringFromRect(window ? window->bounds() : QRectF()), StringFromRect(host ? host->bounds() : QRectF()),
                        StringFromRect(m_surface && m_surface->backdrop() ? m_surface->backdrop()->frame() : QRectF()),
                        StringFromRect(container ? container->frame() : QRectF()))
                   .arg(safe.top)
                   .arg(safe.left)
                   .arg(safe.bottom)
                   .arg(safe.right));
}

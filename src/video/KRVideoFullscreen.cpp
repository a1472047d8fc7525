#include "video/KRVideoFullscreen.h"

#include "look/KRShellHelpers.h"
#include "platform/device/DeviceProfile.h"
#include "platform/foundation/MainClock.h"
#include "platform/uikit/ActionSheet.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/Control.h"
#include "platform/uikit/Geometry.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/TabBarController.h"
#include "platform/uikit/TextField.h"
#include "platform/uikit/View.h"
#include "platform/uikit/ViewController.h"
#include "platform/uikit/Window.h"
#include "playback/KRDASHPlayback.h"
#include "playback/KRDanmakuRenderer.h"
#include "playback/KRPlaybackTransport.h"
#include "playback/KRPlayerControlsView.h"
#include "shared/KRPlayerFullscreen.h"
#include "store/KRDiagnostics.h"
#include "store/KRPreferences.h"
#include "video/KRVideoDetailSupport.h"
#include "video/KRVideoPlayerSheets.h"
#include "video/KRVideoPlayerArea.h"

#include <QDebug>

#include <cmath>

using namespace platform::uikit;

namespace {

constexpr int kSettingsSheetTag = 7310;
constexpr int kFirstSettingMode = 31;
constexpr int kLastSettingMode = 34;
constexpr int kSettingSheetTagBase = 7280;
const QString kRetryRequest = QStringLiteral("requestLandscapeForCustomFullscreen");
const QString kReflow = QStringLiteral("finishDanmakuReflowAfterRotation");
const QString kEmbeddedReflow = QStringLiteral("finishEmbeddedDanmakuReflowAfterPortraitReturn");
const QString kPendingSettingSheet = QStringLiteral("presentPendingDanmakuSettingSheet");

const char* yesNo(bool value) { return value ? "YES" : "NO"; }

// The frontmost widget inside `view`.
const QWidget* lastChildView(const View* view)
{
    const QObjectList& children = view->children();
    for (auto it = children.crbegin(); it != children.crend(); ++it)
        if ((*it)->isWidgetType())
            return static_cast<const QWidget*>(*it);
    return nullptr;
}

// The controls are shown where they now lie. A hide still pending from the last interaction
// before the move (a turn of the device is none of theirs) would take them, and the rail with
// them, at whatever moment it happened to be due: it starts its 3 s again from here.
void showMovedControls(KRPlayerControlsView* controls)
{
    const bool hidePending = controls->isAutomaticHideScheduled();
    controls->setControlsVisible(true, false);
    if (hidePending)
        controls->scheduleAutomaticHide();
}

// The playing time, never below 0.
double currentTimeOf(const KRVideoPlayerArea* area)
{
    KRPlaybackTransport* transport = area->transport();
    return transport ? std::max(0.0, transport->currentPlaybackTime()) : 0.0;
}

struct SettingMode {
    const char* title;
    QList<int> values;
    QStringList rows;
    int (KRPreferences::*get)() const;
    void (KRPreferences::*set)(int);
};

SettingMode settingMode(int mode)
{
    switch (mode) {
    case 31:
        return {"显示区域", {10, 25, 50, 75, 100}, {"10%", "25%", "50%", "75%", "100%"}, &KRPreferences::danmakuDisplayAreaPercent,
                &KRPreferences::setDanmakuDisplayAreaPercent};
    case 32:
        return {"弹幕条数", {8, 12, 18, 24, 32, 0}, {"8 条", "12 条", "18 条", "24 条", "32 条", "烤机 · 无限制"},
                &KRPreferences::danmakuMaximumActive, &KRPreferences::setDanmakuMaximumActive};
    case 33:
        return {"不透明度", {20, 40, 60, 80, 100}, {"20%", "40%", "60%（推荐）", "80%", "100%"}, &KRPreferences::danmakuOpacityPercent,
                &KRPreferences::setDanmakuOpacityPercent};
    default:
        return {"字体大小", {50, 100, 150, 200}, {"50%", "100%（推荐）", "150%", "200%"}, &KRPreferences::danmakuFontLevel,
                &KRPreferences::setDanmakuFontLevel};
    }
}

} // namespace

KRVideoFullscreen::KRVideoFullscreen(KRVideoPlayerArea* area, ViewController* page, ActionSheetDelegate* sheets, Page actions,
                                     QObject* parent)
    : QObject(parent)
    , m_area(area)
    , m_page(page)
    , m_sheets(sheets)
    , m_actions(std::move(actions))
    , m_rail(KRVideoFullscreenRail::Actions{
          [this] {
              if (m_actions.watchLater)
                  m_actions.watchLater();
          },
          [this] { fullscreenAddDanmakuTapped(); },
          [this] {
              if (m_actions.toggleDanmaku)
                  m_actions.toggleDanmaku();
          },
          [this] { showFullscreenDanmakuSettings(); },
          [this] {
              if (m_actions.cache)
                  m_actions.cache();
          }})
    , m_composer(KRVideoFullscreenComposer::Actions{
          // The draft, the pause while writing and the sending are the page's danmaku composer's,
          // shared with the embedded field.
          [this](const QString&) { m_area->danmakuComposer()->danmakuInputChanged(m_composer.field()); },
          [this] {
              if (m_actions.sendDanmaku)
                  m_actions.sendDanmaku();
          },
          [this](bool editing) {
              if (editing) {
                  hideFullscreenRail();
                  m_area->danmakuComposer()->textFieldDidBeginEditing(m_composer.field());
                  return;
              }
              // The keyboard gone, the bar goes with it, playback goes on and the rail comes back
              // with the controls. Back here, not by the synchronisation: its passes skip an
              // ended or failed playback (and a background, a turn), where the rail would stay
              // away beside the controls until they were hidden and shown again.
              m_composer.close();
              m_area->danmakuComposer()->resumeAfterDanmakuComposerIfNeeded();
              if (m_player->isFullscreen())
                  railFollowsControls();
              syncFullscreenControls(false);
          }})
{
    KRPlayerFullscreen::Screen screen;
    screen.playing = [this] { return m_actions.playing(); };
    screen.portraitVideo = [this] { return m_actions.portraitVideo(); };
    screen.idle = [this] { return m_actions.idle(); };
    screen.prepareForRotation = [this] { prepareForRotation(); };
    screen.layoutContent = [this](bool fullscreen) { layoutContent(fullscreen); };
    screen.presentChrome = [this] {
        attachDanmakuToFullscreen();
        layoutFullscreenControls();
        syncFullscreenControls(false);
    };
    screen.returnChrome = [this] { restoreDanmakuToEmbeddedPlayer(); };
    screen.layoutScreen = [this] { m_actions.layoutPage(); };
    screen.chromeViews = [this] {
        return QList<QWidget*>{m_area->controls(), m_area->danmakuRenderer(), m_area->danmakuStatusLabel(), m_area->loadingOverlay(),
                               m_rail.view(), m_composer.view()};
    };
    screen.holdSurface = [this](bool held) { m_area->setSurfaceHeldByFullscreen(held); };
    screen.commitOrientation = [this](int orientation) {
        if (KRPlayerControlsView* controls = m_area->controls())
            controls->commitAirPlayInterfaceOrientation(orientation);
    };
    screen.exited = [this] { exited(); };
    screen.settledEmbedded = [this] { m_actions.repairNavigation(); };
    screen.mediaSize = [this] { return m_actions.mediaSize(); };
    m_player = std::make_unique<KRPlayerFullscreen>(&m_area->surface(), std::move(screen));
    // A player bound while the full screen holds the surface is attached as a fresh one.
    connect(m_area, &KRVideoPlayerArea::transportBound, this, [this] {
        if (m_player->isFullscreen())
            attachDanmakuToFullscreen();
    });

}

KRVideoFullscreen::~KRVideoFullscreen()
{
    // The composer's field may still be editing: its end must find everything here.
    removeFullscreenControls();
    m_delayed.cancelAll();
    m_syncTimer.stop();
    m_player.reset();
}

bool KRVideoFullscreen::isShown() const { return m_player->isFullscreen(); }


// ---- entering and leaving ----

void KRVideoFullscreen::requestLandscapeForCustomFullscreen()
{
    if (!m_actions.playing())
        return;
    if (!m_actions.portraitVideo()) {
        m_portraitRetryCount = 0;
        m_player->recordCustomFullscreenGeometryEvent(QStringLiteral("portrait-fullscreen-request"));
        m_player->enterCustomPlayerFullscreenLandscape(true, false, false);
        m_player->requestCustomPlayerInterfaceOrientation(4);
        return;
    }
    if (!m_player->isTransitioning()) {
        m_portraitRetryCount = 0;
        m_player->recordCustomFullscreenGeometryEvent(QStringLiteral("portrait-fullscreen-request"));
        m_player->enterCustomPlayerFullscreenLandscape(false, true, false);
        return;
    }
    Window* window = Application::shared().keyWindow();
    KRDiagnostics::recordEvent(QStringLiteral("portrait-fullscreen-deferred"),
                               QStringLiteral("retry=%1 phase=%2 host=%3")
                                   .arg(m_portraitRetryCount)
                                   .arg(m_player->phase())
                                   .arg(StringFromRect(window ? window->bounds() : QRectF())));
    if (m_portraitRetryCount > 1) {
        m_portraitRetryCount = 0;
        m_actions.showStatus(QStringLiteral("全屏布局尚未就绪，请再试一次"));
        KRDiagnostics::recordEvent(QStringLiteral("portrait-fullscreen-abort"), QStringLiteral("reason=transition-busy retries=2"));
        return;
    }
    ++m_portraitRetryCount;
    m_delayed.cancel(kRetryRequest);
    m_delayed.schedule(kRetryRequest, 140, [this] { requestLandscapeForCustomFullscreen(); });
}

void KRVideoFullscreen::enterDetailFullscreenIfPending()
{
    if (!m_detailPending && !m_continuationPending)
        return;
    View* view = m_page && m_page->isViewLoaded() ? m_page->view() : nullptr;
    if (!m_actions.playing() || !view || !view->window() || m_actions.idle() || !m_actions.foreground() || !m_actions.orientationKnown())
        return;
    const bool continuation = m_continuationPending;
    m_detailPending = m_continuationPending = false;
    if (m_player->isFullscreen())
        return;
    const bool portrait = m_actions.portraitVideo();
    const bool mediaPortrait = m_actions.videoPortrait();
    KRDiagnostics::recordEvent(QStringLiteral("detail-auto-fullscreen"),
                               QStringLiteral("mediaPortrait=%1 portraitMode=%2 identity=%3")
                                   .arg(QLatin1String(yesNo(mediaPortrait)), QLatin1String(yesNo(portrait)), m_actions.identity()));
    if (continuation)
        KRDiagnostics::recordEvent(QStringLiteral("playback-continuation-fullscreen-restored"),
                                   QStringLiteral("identity=%1 mediaPortrait=%2").arg(m_actions.identity(), QLatin1String(yesNo(mediaPortrait))));
    requestLandscapeForCustomFullscreen();
}

void KRVideoFullscreen::playerControlsDidRequestFullscreen()
{
    if (!m_actions.playing())
        return;
    if (m_player->isFullscreen())
        fullscreenDoneTapped();
    else
        requestLandscapeForCustomFullscreen();
}

void KRVideoFullscreen::fullscreenDoneTapped()
{
    if (!m_actions.playing() || !m_player->isFullscreen())
        return;
    m_player->fullscreenDoneTapped();
}

void KRVideoFullscreen::surfaceRemoved()
{
    m_delayed.cancelAll();
    if (m_player->isFullscreen() || m_player->isTransitioning()) {
        m_player->reset();
        m_actions.layoutPage();
    }
    removeFullscreenControls();
}

void KRVideoFullscreen::exited()
{
    m_actions.commitPortraitRootGeometry();
    if (m_navigateToProfileAfterExit) {
        m_navigateToProfileAfterExit = false;
        m_actions.navigateToProfile();
    }
}

// ---- geometry ----

void KRVideoFullscreen::layoutContent(bool fullscreen)
{
    KRPlaybackTransport* transport = m_area->transport();
    if (!transport)
        return;
    if (!fullscreen) {
        m_area->layoutBoundTransport(m_actions.portraitVideo());
        return;
    }
    View* container = m_area->playerContainer();
    auto* picture = qobject_cast<View*>(transport->view());
    if (picture && container)
        picture->setFrame(container->bounds());
    const QRectF bounds = picture ? picture->bounds() : (container ? container->bounds() : QRectF());
    if (KRDanmakuRenderer* renderer = m_area->danmakuRenderer())
        renderer->setGeometry(bounds.toRect());
    if (KRPlayerControlsView* controls = m_area->controls()) {
        controls->setFrame(bounds);
        controls->setFullscreen(true, m_actions.portraitVideo());
    }
    if (KRDASHPlayback* dash = m_area->dash())
        dash->layoutSurface();
    layoutFullscreenControls();
    if (m_actions.layoutPickers)
        m_actions.layoutPickers();
}

void KRVideoFullscreen::prepareForRotation()
{
    if (KRPlayerControlsView* controls = m_area->controls())
        controls->prepareAirPlayForRotation();
    if (KRDanmakuRenderer* renderer = m_area->danmakuRenderer())
        renderer->updateWithPlaybackTime(currentTimeOf(m_area), false);
}

// ---- what lies over the picture ----

void KRVideoFullscreen::attachDanmakuToFullscreen()
{
    KRPlaybackTransport* transport = m_area->transport();
    KRDanmakuRenderer* renderer = m_area->danmakuRenderer();
    KRPlayerControlsView* controls = m_area->controls();
    auto* host = transport ? qobject_cast<View*>(transport->view()) : nullptr;
    // The rail and the composer lie on the surface's container, which outlives every player
    // that replaces another in it; the danmaku and the controls go with the picture.
    View* chromeHost = m_area->playerContainer();
    if (!host || !chromeHost || !renderer || !controls || !m_player->isFullscreen())
        return;
    const QSizeF oldSize = renderer->size();
    const QRectF bounds = host->bounds();
    const bool landscape = bounds.width() > bounds.height();
    const bool portrait = m_actions.portraitVideo();
    const bool chromeBuilt = m_rail.isBuilt() && m_rail.view()->superview() == chromeHost && m_composer.isBuilt()
        && m_composer.view()->superview() == chromeHost && m_controlsHost == chromeHost;
    const bool attached = chromeBuilt && renderer->parentWidget() == host && controls->superview() == host && m_danmakuHost == host;
    m_danmakuHost = host;
    if (attached) {
        renderer->setGeometry(bounds.toRect());
        controls->setFrame(bounds);
        controls->setFullscreen(true, portrait);
        layoutFullscreenControls();
        renderer->setContentInsets(EdgeInsets{});
        if (landscape && !portrait
            && (std::abs(bounds.width() - oldSize.width()) > 1 || std::abs(bounds.height() - oldSize.height()) > 1)) {
            m_repopulateDanmakuAfterExit = true;
            scheduleDanmakuReflowAfterRotation();
        }
        return;
    }
    if (renderer->parentWidget() != host)
        renderer->setParent(host);
    renderer->setGeometry(bounds.toRect());
    renderer->setAttribute(Qt::WA_TransparentForMouseEvents);
    renderer->show();
    renderer->raise();
    // The controls over the whole picture, in their full-screen form.
    controls->removeFromSuperview();
    controls->setFrame(bounds);
    controls->setHidden(false);
    controls->setFullscreen(true, portrait);
    host->addSubview(controls);
    host->bringSubviewToFront(controls);
    if (chromeBuilt) {
        // A new player came into the container above them: they go back in front of it.
        chromeHost->bringSubviewToFront(m_rail.view());
        chromeHost->bringSubviewToFront(m_composer.view());
        showMovedControls(controls);
        layoutFullscreenControls();
    } else {
        showMovedControls(controls);
        buildFullscreenControlsInView(chromeHost);
    }
    renderer->setContentInsets(EdgeInsets{});
    if (landscape && !portrait) {
        scheduleDanmakuReflowAfterRotation();
        m_repopulateDanmakuAfterExit = true;
    } else {
        renderer->resetForPlaybackTime(currentTimeOf(m_area));
        m_repopulateDanmakuAfterExit = false;
    }
    qInfo().noquote() << QStringLiteral("[KorvaneFullscreenDanmaku] attached host=%1 frame=%2 videoFrame=%3 controls=%4 renderer=%5 "
                                        "enabled=%6 loaded=%7")
                             .arg(QString::fromLatin1(host->metaObject()->className()), StringFromRect(bounds),
                                  StringFromRect(QRectF(renderer->geometry())), QString::fromLatin1(chromeHost->metaObject()->className()),
                                  QLatin1String(yesNo(renderer->parentWidget() == host)),
                                  QLatin1String(yesNo(m_area->isDanmakuEnabled())))
                             .arg(m_area->loadedDanmakuCount());
}

void KRVideoFullscreen::buildFullscreenControlsInView(View* host)
{
    if (!host)
        return;
    QPointer<View> danmakuHost = m_danmakuHost;
    removeFullscreenControls();
    m_danmakuHost = danmakuHost;
    m_controlsHost = host;
    const bool faded = m_player->isChromeSuppressed();
    m_rail.build(host, faded);
    applyLegacyFullscreenImages();
    m_composer.build(host, faded, m_area->danmakuComposer()->draft());
    m_composer.setDanmakuEnabled(m_area->isDanmakuEnabled());
    startFullscreenSyncTimerIfNeeded();
    layoutFullscreenControls();
    syncFullscreenControls(false);
    // The controls told their visibility before the rail existed, and the pass above shows it only
    // while playing: entered at the end, the rail would stay away beside visible controls.
    railFollowsControls();
}

void KRVideoFullscreen::railFollowsControls()
{
    if (KRPlayerControlsView* controls = m_area->controls(); !controls || controls->areControlsVisible())
        showFullscreenRail();
    else
        hideFullscreenRail();
}

KRVideoFullscreen::LayoutInputs KRVideoFullscreen::layoutInputs() const
{
    LayoutInputs inputs;
    View* host = m_controlsHost;
    if (!host)
        return inputs;
    inputs.host = host;
    inputs.size = host->bounds().size();
    inputs.insets = KRSafeAreaInsetsForView(host);
    inputs.portraitVideo = m_actions.portraitVideo();
    inputs.composerShown = m_composer.isShown();
    inputs.keyboardVisible = m_composer.isKeyboardVisible();
    inputs.keyboardY = m_composer.keyboardY();
    inputs.controls = m_area->controls();
    if (inputs.controls)
        inputs.controlsFrame = inputs.controls->frame();
    if (View* rail = m_rail.view())
        inputs.railFrame = rail->frame();
    return inputs;
}

void KRVideoFullscreen::layoutFullscreenControls()
{
    View* host = m_controlsHost;
    if (!host)
        return;
    LayoutInputs inputs = layoutInputs();
    if (inputs.controls) {
        inputs.controls->setFrame(host->bounds());
        inputs.controls->setFullscreen(true, inputs.portraitVideo);
        inputs.controlsFrame = inputs.controls->frame();
    }
    m_rail.layout(inputs.size, inputs.insets);
    if (View* rail = m_rail.view())
        inputs.railFrame = rail->frame();
    m_composer.layout(inputs.size, inputs.insets);
    if (KRDanmakuRenderer* renderer = m_area->danmakuRenderer())
        renderer->setContentInsets(EdgeInsets{});
    m_laidOutFor = inputs;
}

void KRVideoFullscreen::syncFullscreenControls(bool fromTimer)
{
    if (!m_player)
        return;
    const int phase = m_player->phase();
    if (!m_actions.foreground() || m_actions.idle() || (phase != 0 && phase != 3) || !m_actions.playing() || !m_player->isFullscreen())
        return;
    const double now = platform::MainClock::now();
    const double spacing = KRPreferences::sharedPreferences().isA4OrEarlierDevice() ? 1.0 : 0.5;
    if (fromTimer && m_lastHeavySync >= 0 && now - m_lastHeavySync < spacing)
        return;
    m_lastHeavySync = now;
    // A player that came in place of another takes the danmaku and the controls over.
    KRPlaybackTransport* bound = m_area->transport();
    if (bound && bound->view() != m_danmakuHost.data()) {
        attachDanmakuToFullscreen();
        return;
    }
    if (!m_controlsHost || !m_composer.isBuilt())
        return;
    // The timer comes ten times a second: a layout made for the same host, insets, keyboard
    // and frames would set every frame to what it already is.
    if (m_laidOutFor != layoutInputs())
        layoutFullscreenControls();
    KRPlayerControlsView* controls = m_area->controls();
    const bool visible = controls ? controls->areControlsVisible() : true;
    m_nativeControlsVisible = visible;
    if (!m_composer.isShown() && visible) {
        if (m_rail.view()->alpha() != 1)
            m_rail.view()->setAlpha(1);
        showFullscreenRail();
    } else {
        hideFullscreenRail();
    }
    KRPlaybackTransport* transport = m_area->transport();
    const float rate = m_actions.rate();
    // The pair keeps its own two rates in step; a lone transport can drift from the chosen one.
    if (transport && !m_area->dash() && transport->playbackState() == 1 && !m_actions.holdActive()
        && std::abs(transport->currentPlaybackRate() - rate) > 0.02f)
        transport->setCurrentPlaybackRate(rate);
}

void KRVideoFullscreen::showFullscreenRail()
{
    if (!m_rail.isBuilt())
        return;
    if (m_composer.isShown()) {
        hideFullscreenRail();
        return;
    }
    m_rail.setShown(true);
    if (View* host = m_controlsHost) {
        KRPlayerControlsView* controls = m_area->controls();
        // The controls in front of the danmaku, the rail in front of the picture: raised only when
        // something came over them since.
        if (View* picture = m_danmakuHost; controls && picture && controls->superview() == picture && lastChildView(picture) != controls)
            picture->bringSubviewToFront(controls);
        if (lastChildView(host) != m_rail.view())
            host->bringSubviewToFront(m_rail.view());
    }
    if (KRDanmakuRenderer* renderer = m_area->danmakuRenderer())
        renderer->setContentInsets(EdgeInsets{});
}

void KRVideoFullscreen::hideFullscreenRail()
{
    m_rail.setShown(false);
    if (KRDanmakuRenderer* renderer = m_area->danmakuRenderer())
        renderer->setContentInsets(EdgeInsets{});
}

void KRVideoFullscreen::applyLegacyFullscreenImages()
{
    m_rail.applyImages(m_area->isDanmakuEnabled());
    m_composer.setDanmakuEnabled(m_area->isDanmakuEnabled());
}

void KRVideoFullscreen::applyTheme()
{
    m_composer.applyTheme();
    applyLegacyFullscreenImages();
}

void KRVideoFullscreen::playerControlsVisibilityDidChange(bool visible)
{
    m_nativeControlsVisible = visible;
    if (m_player->isFullscreen()) {
        if (visible)
            showFullscreenRail();
        else
            hideFullscreenRail();
    }
    if (KRDanmakuRenderer* renderer = m_area->danmakuRenderer())
        renderer->setContentInsets(EdgeInsets{});
}

void KRVideoFullscreen::startFullscreenSyncTimerIfNeeded()
{
    if (!m_controlsHost || m_syncTimer.isActive())
        return;
    KRPlaybackTransport* transport = m_area->transport();
    const bool stopped = !transport || transport->playbackState() == 0;
    if (m_actions.foreground() && !m_actions.idle() && (m_actions.expectedToPlay() || !stopped)) {
        const int interval = KRPreferences::sharedPreferences().isA4OrEarlierDevice() ? 200 : 100;
        m_syncTimer.start(interval, [this] { syncFullscreenControls(true); });
    }
}

void KRVideoFullscreen::removeFullscreenControls()
{
    m_syncTimer.stop();
    m_laidOutFor.reset();
    m_rail.remove();
    m_composer.remove();
    m_controlsHost = nullptr;
    m_danmakuHost = nullptr;
    m_nativeControlsVisible = false;
}

void KRVideoFullscreen::restoreDanmakuToEmbeddedPlayer()
{
    m_delayed.cancel(kReflow);
    removeFullscreenControls();
    KRPlaybackTransport* transport = m_area->transport();
    auto* picture = transport ? qobject_cast<View*>(transport->view()) : nullptr;
    KRDanmakuRenderer* renderer = m_area->danmakuRenderer();
    if (!picture || !renderer)
        return;
    if (renderer->parentWidget() != picture)
        renderer->setParent(picture);
    renderer->show();
    renderer->raise();
    if (KRPlayerControlsView* controls = m_area->controls()) {
        if (controls->superview() != picture)
            picture->addSubview(controls);
        controls->setHidden(false);
        showMovedControls(controls);
        picture->bringSubviewToFront(controls);
    }
    m_area->layoutBoundTransport(m_actions.portraitVideo());
    if (m_repopulateDanmakuAfterExit) {
        m_delayed.cancel(kEmbeddedReflow);
        m_delayed.schedule(kEmbeddedReflow, 40, [this] { finishEmbeddedDanmakuReflowAfterPortraitReturn(); });
    } else {
        renderer->resetForPlaybackTime(currentTimeOf(m_area));
    }
    renderer->setContentInsets(EdgeInsets{});
}

void KRVideoFullscreen::scheduleDanmakuReflowAfterRotation()
{
    m_delayed.cancel(kReflow);
    m_delayed.schedule(kReflow, 40, [this] { finishDanmakuReflowAfterRotation(); });
}

void KRVideoFullscreen::finishDanmakuReflowAfterRotation()
{
    const int phase = m_player->phase();
    if (!m_player->isFullscreen() || !m_player->isLandscape() || m_player->isWaitingForPortrait() || (phase != 0 && phase != 3))
        return;
    reloadVisibleDanmaku();
}

void KRVideoFullscreen::finishEmbeddedDanmakuReflowAfterPortraitReturn()
{
    if (m_player->isFullscreen() || !m_repopulateDanmakuAfterExit || !m_area->transport() || !m_area->danmakuRenderer())
        return;
    m_repopulateDanmakuAfterExit = false;
    reloadVisibleDanmaku();
}

void KRVideoFullscreen::reloadVisibleDanmaku()
{
    KRPlaybackTransport* transport = m_area->transport();
    KRDanmakuRenderer* renderer = m_area->danmakuRenderer();
    if (transport && renderer)
        renderer->reloadVisibleDanmakusForPlaybackTime(currentTimeOf(m_area), transport->playbackState() == 1);
}

// ---- the rail's own actions ----

void KRVideoFullscreen::fullscreenAddDanmakuTapped()
{
    if (!m_composer.isBuilt() || !m_area->isDanmakuEnabled())
        return;
    hideFullscreenRail();
    m_composer.open(m_area->danmakuComposer()->draft());
    layoutFullscreenControls();
}

View* KRVideoFullscreen::composerKeyboardWillShow(const QRectF& keyboard)
{
    if (!m_composer.isBuilt())
        return nullptr;
    TextField* field = m_composer.field();
    View* host = m_composer.view()->superview();
    if (!field->isFirstResponder() || !host || !host->window())
        return nullptr;
    const QRectF local = host->window()->convertRectToView(keyboard, host);
    // A keyboard that covers nothing of the picture (a hardware one) leaves the bar at the top;
    // one on screen reports its whole frame, its bar included, and the composer goes above it.
    const bool covers = local.intersects(host->bounds());
    const qreal y = covers ? std::max<qreal>(local.top() - 44, 0) : KRSafeAreaInsetsForView(host).top;
    m_composer.setKeyboard(covers, y);
    qInfo().noquote() << QStringLiteral("[KorvaneFullscreenComposer] keyboard=%1 local=%2 composerY=%3 host=%4")
                             .arg(StringFromRect(keyboard), StringFromRect(local))
                             .arg(y, 0, 'f', 1)
                             .arg(StringFromRect(host->bounds()));
    return m_composer.view();
}

bool KRVideoFullscreen::composerKeyboardWillHide()
{
    if (!m_composer.isBuilt())
        return false;
    m_composer.setKeyboard(false, 0);
    layoutFullscreenControls();
    return true;
}

// ---- setting sheets ----

void KRVideoFullscreen::showFullscreenDanmakuSettings()
{
    if (!m_page)
        return;
    auto* sheet = new ActionSheet(QStringLiteral("弹幕设置"), m_sheets, m_page);
    sheet->setTag(kSettingsSheetTag);
    for (const char* row : {"显示区域", "弹幕条数", "不透明度", "字体大小"})
        sheet->addButtonWithTitle(QString::fromUtf8(row));
    sheet->setCancelButtonIndex(sheet->addButtonWithTitle(QStringLiteral("取消")));
    m_sheet = sheet;
    if (!presentSheet(sheet))
        KRVideoPlayerSheets::presentPlaybackActionSheet(sheet, m_rail.button(KRVideoFullscreenRail::DanmakuSettings), m_page);
}

void KRVideoFullscreen::showFullscreenDanmakuSettingMode(int mode)
{
    if (mode < kFirstSettingMode || mode > kLastSettingMode || !m_page)
        return;
    const SettingMode setting = settingMode(mode);
    const int current = (KRPreferences::sharedPreferences().*setting.get)();
    auto* sheet = new ActionSheet(QString::fromUtf8(setting.title), m_sheets, m_page);
    sheet->setTag(kSettingSheetTagBase + mode);
    for (int i = 0; i < setting.values.size(); ++i)
        sheet->addButtonWithTitle(setting.values.at(i) == current ? setting.rows.at(i) + QStringLiteral(" ✓") : setting.rows.at(i));
    sheet->setCancelButtonIndex(sheet->addButtonWithTitle(QStringLiteral("取消")));
    m_sheet = sheet;
    if (!presentSheet(sheet))
        KRVideoPlayerSheets::presentPlaybackActionSheet(sheet, m_rail.button(KRVideoFullscreenRail::DanmakuSettings), m_page);
}

bool KRVideoFullscreen::sheetClicked(ActionSheet* sheet, int index)
{
    const int tag = sheet ? sheet->tag() : 0;
    if (tag == kSettingsSheetTag) {
        if (index != sheet->cancelButtonIndex() && index >= 0 && index < 4)
            m_pendingSettingMode = kFirstSettingMode + index;
        return true;
    }
    const int mode = tag - kSettingSheetTagBase;
    if (mode < kFirstSettingMode || mode > kLastSettingMode)
        return false;
    const SettingMode setting = settingMode(mode);
    if (index == sheet->cancelButtonIndex() || index < 0 || index >= setting.values.size())
        return true;
    (KRPreferences::sharedPreferences().*setting.set)(setting.values.at(index));
    m_actions.showStatus(QStringLiteral("弹幕显示已更新"));
    return true;
}

bool KRVideoFullscreen::sheetDismissed(ActionSheet* sheet)
{
    const int tag = sheet ? sheet->tag() : 0;
    if (tag == kSettingsSheetTag) {
        if (m_pendingSettingMode) {
            m_delayed.cancel(kPendingSettingSheet);
            m_delayed.schedule(kPendingSettingSheet, 50, [this] {
                const int mode = m_pendingSettingMode;
                m_pendingSettingMode = 0;
                showFullscreenDanmakuSettingMode(mode);
            });
        }
        return true;
    }
    return tag >= kSettingSheetTagBase + kFirstSettingMode && tag <= kSettingSheetTagBase + kLastSettingMode;
}

bool KRVideoFullscreen::presentSheet(ActionSheet* sheet)
{
    View* host = m_area->surface().host();
    if (!sheet || !m_player->isFullscreen() || !host || platform::DeviceProfile::isPad())
        return false;
    sheet->showInView(host);
    return true;
}

bool KRVideoFullscreen::shouldReceiveTouch(const View* touched) const
{
    return !(m_rail.contains(touched) || m_composer.contains(touched));
}

bool KRVideoFullscreen::holdAllowsTouch(const QWidget* touched, const QWidget* view) const
{
    // Only a control keeps the press: anywhere else, the rail's and the composer's backgrounds
    // included, the press is the picture's.
    for (const QWidget* w = touched; w && w != view; w = w->parentWidget()) {
        if (qobject_cast<const Control*>(w))
            return false;
    }
    return true;
}

ActionSheet* KRVideoFullscreen::visibleSheet() const { return m_sheet && m_sheet->isVisible() ? m_sheet.data() : nullptr; }

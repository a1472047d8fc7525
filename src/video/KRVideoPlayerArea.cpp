#include "video/KRVideoPlayerArea.h"

#include "look/KRTarnwick23Skin.h"
#include "look/KRTheme.h"
#include "platform/foundation/MainClock.h"
#include "platform/uikit/AnimationClock.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/Geometry.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/LongPressGestureRecognizer.h"
#include "platform/uikit/View.h"
#include "platform/uikit/ViewController.h"
#include "platform/uikit/Window.h"
#include "playback/KRDASHPlayback.h"
#include "playback/KRDanmakuRenderer.h"
#include "playback/KRPlaybackSession.h"
#include "playback/KRPlaybackTransport.h"
#include "playback/KRPlayerControlsView.h"
#include "playback/KRQualityTitles.h"
#include "service/KRDanmakuClient.h"
#include "images/KRImageLoader.h"
#include "video/KRVideoDetailSupport.h"

#include <QDebug>

#include <algorithm>
#include <cmath>

using namespace platform::uikit;

namespace {

const QString kHideDanmakuStatus = QStringLiteral("hideDanmakuStatus");

QColor grey(qreal white, qreal alpha = 1) { return QColor::fromRgbF(white, white, white, alpha); }

} // namespace

KRVideoPlayerArea::KRVideoPlayerArea(Actions actions, QObject* parent)
    : QObject(parent)
    , m_actions(std::move(actions))
    , m_danmakuComposer(std::make_unique<KRVideoDanmakuComposer>(m_actions.danmakuComposer))
{
}

KRVideoPlayerArea::~KRVideoPlayerArea()
{
    m_delayed.cancelAll();
    removeRollbackSnapshot(true);
    m_danmaku.timer.stop();
    m_danmaku.request.cancel();
    m_requests.end();
    if (m_controls) {
        m_controls->setDelegate(nullptr);
        if (!m_controls->parentWidget())
            delete m_controls.data();
    }
    // The renderer waits outside any view between players: it is ours then.
    if (m_danmakuView && !m_danmakuView->parentWidget())
        delete m_danmakuView.data();
}

KRDanmakuRenderer* KRVideoPlayerArea::danmakuRenderer() const { return m_danmakuView; }

KRPlayerControlsView* KRVideoPlayerArea::controls() const { return m_controls; }

void KRVideoPlayerArea::build(View* root, View* tabBar, qreal width)
{
    m_root = root;
    m_requests.setView(root);
    m_container = new View(QRectF(0, 0, width, 180), root);
    m_container->setObjectName(QStringLiteral("playerContainer"));
    m_container->setAutoresizingMask(AutoresizingFlexibleWidth);
    m_container->setBackgroundColor(QColor(Qt::black));

    m_coverView = new ImageView(m_container->bounds(), m_container);
    m_coverView->setObjectName(QStringLiteral("coverView"));
    m_coverView->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
    m_coverView->setContentMode(ContentModeScaleAspectFill);
    m_coverView->setBackgroundColor(QColor(Qt::black));

    m_playButton = new Button(ButtonTypeCustom, QRectF((width - 56) / 2, 62, 56, 56), m_container);
    m_playButton->setObjectName(QStringLiteral("playButton"));
    m_playButton->setAutoresizingMask(AutoresizingFlexibleLeftMargin | AutoresizingFlexibleRightMargin | AutoresizingFlexibleTopMargin
                                      | AutoresizingFlexibleBottomMargin);
    Image play = Image::named(QStringLiteral("Davirivu961/play_tv"));
    if (play.isNull())
        play = Image::named(QStringLiteral("Tarnwick23/btn_play_icon"));
    m_playButton->setImage(play, ControlStateNormal);
    m_playButton->setAccessibilityLabel(QStringLiteral("播放"));
    setPlayButtonEnabled(false);
    m_playButton->addTarget(ControlEventTouchUpInside, [this] {
        if (m_actions.playTapped)
            m_actions.playTapped();
    });

    m_danmaku.enabled = platform::UserDefaults::standard().boolean(KRDanmakuEnabledDefaultsKey, true);
    // Made now, attached when a transport is bound.
    m_danmakuView = new KRDanmakuRenderer();
    m_danmakuView->setObjectName(QStringLiteral("danmakuView"));
    m_danmakuView->setGeometry(m_container->bounds().toRect());
    m_danmakuView->setDanmakuEnabled(m_danmaku.enabled);
    m_danmakuView->setParent(root);
    m_danmakuView->hide();
    buildDanmakuEntry(root, tabBar, width);
}

// The loading overlay and the status line show only now and then; a page opened and left
// without them never pays for their views (the overlay's animation loads five pictures).
View* KRVideoPlayerArea::ensureLoadingOverlay()
{
    if (m_loadingOverlay || !m_container)
        return m_loadingOverlay;
    // Drawn for a container 180 high, then resized with it as if it had been there from the start.
    const qreal width = m_container->bounds().width();
    m_loadingOverlay = new View(QRectF(0, 0, width, 180), m_container);
    m_loadingOverlay->setObjectName(QStringLiteral("loadingOverlay"));
    m_loadingOverlay->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
    m_loadingOverlay->setBackgroundColor(KRTarnwick23LoadingBackgroundColor());
    m_loadingOverlay->setHidden(true);
    m_loadingTVView = KRTarnwick23LoadingTVView(QRectF((width - 90) / 2, 38, 90, 90));
    m_loadingTVView->setObjectName(QStringLiteral("loadingTVView"));
    m_loadingOverlay->addSubview(m_loadingTVView);
    m_loadingTVView->setAutoresizingMask(AutoresizingFlexibleLeftMargin | AutoresizingFlexibleRightMargin
                                         | AutoresizingFlexibleTopMargin | AutoresizingFlexibleBottomMargin);
    m_loadingStatusLabel = new Label(QRectF(8, 156, width - 16, 18), m_loadingOverlay);
    m_loadingStatusLabel->setObjectName(QStringLiteral("loadingStatusLabel"));
    m_loadingStatusLabel->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleTopMargin);
    m_loadingStatusLabel->setBackgroundColor(QBrush(Qt::NoBrush));
    m_loadingStatusLabel->setTextColor(grey(0.28));
    m_loadingStatusLabel->setFont(Label::systemFont(11));
    m_loadingOverlay->setFrame(m_container->bounds());
    return m_loadingOverlay;
}

Label* KRVideoPlayerArea::ensureDanmakuStatusLabel()
{
    if (m_danmakuStatusLabel || !m_container)
        return m_danmakuStatusLabel;
    m_danmakuStatusLabel = new Label(QRectF(7, 8, 176, 22), m_container);
    m_danmakuStatusLabel->setObjectName(QStringLiteral("danmakuStatusLabel"));
    m_danmakuStatusLabel->setAutoresizingMask(AutoresizingFlexibleRightMargin | AutoresizingFlexibleBottomMargin);
    m_danmakuStatusLabel->setBackgroundColor(QColor::fromRgbF(0, 0, 0, 0.62));
    m_danmakuStatusLabel->setTextColor(Qt::white);
    m_danmakuStatusLabel->setFont(Label::systemFont(11, true));
    m_danmakuStatusLabel->setTextAlignment(TextAlignmentCenter);
    m_danmakuStatusLabel->setNumberOfLines(2);
    m_danmakuStatusLabel->setCornerRadius(4);
    m_danmakuStatusLabel->setHidden(true);
    return m_danmakuStatusLabel;
}

void KRVideoPlayerArea::buildDanmakuEntry(View* root, View* tabBar, qreal width)
{
    m_danmakuComposeButton = new Button(ButtonTypeCustom, QRectF(), tabBar);
    m_danmakuComposeButton->setObjectName(QStringLiteral("danmakuComposeButton"));
    m_danmakuComposeButton->titleLabel()->setFont(Label::systemFont(11, true));
    m_danmakuComposeButton->setTitle(QStringLiteral("发弹幕"), ControlStateNormal);
    m_danmakuComposeButton->setAccessibilityLabel(QStringLiteral("发弹幕"));
    m_danmakuButton = new Button(ButtonTypeCustom, QRectF(), tabBar);
    m_danmakuButton->setObjectName(QStringLiteral("danmakuButton"));
    m_danmakuButton->setAccessibilityLabel(QStringLiteral("弹幕开关"));
    m_danmakuButton->addTarget(ControlEventTouchUpInside, [this] { toggleDanmakuEnabled(); });

    m_danmakuComposeButton->addTarget(ControlEventTouchUpInside,
                                      [this] { m_danmakuComposer->embeddedAddDanmakuTapped(m_danmaku.enabled); });
    m_danmakuComposer->build(root, width);
}

void KRVideoPlayerArea::layout(qreal width, qreal playerHeight, qreal segmentWidth)
{
    if (m_surface.isInstalled()) {
        m_surface.setEmbeddedFrame(QRectF(0, 0, width, playerHeight));
        layoutPersistentPlayerSurfaceEmbedded();
    } else {
        m_container->setFrame(QRectF(0, 0, width, playerHeight));
    }
    if (View* tabBar = m_danmakuButton->superview())
        m_danmakuButton->setFrame(QRectF(tabBar->bounds().width() - 42, 0, 42, 32));
    m_danmakuComposeButton->setFrame(QRectF(segmentWidth + 2, 0, 78, 32));
    m_danmakuComposer->layout(width, playerHeight + 37);
}

void KRVideoPlayerArea::applyTheme()
{
    KRTheme* theme = KRTheme::sharedTheme();
    Button* compose = m_danmakuComposeButton;
    const bool dark = theme->style() == 1;
    compose->setTitleColor(dark ? grey(0.94) : QColor(Qt::black), ControlStateNormal);
    compose->setTitleColor(Qt::white, ControlStateHighlighted);
    compose->setTitleColor(grey(0.42), ControlStateDisabled);
    compose->setTitleShadowColor(dark ? grey(0, 0.72) : grey(1, 0.92), ControlStateNormal);
    compose->setTitleShadowColor(grey(0, 0.35), ControlStateHighlighted);
    compose->setTitleShadowColor(dark ? grey(0, 0.55) : grey(1, 0.72), ControlStateDisabled);
    compose->titleLabel()->setShadowOffset(dark ? QSizeF(0, -1) : QSizeF(0, 1));
    compose->setBackgroundImage(KRSkeuomorphicActionImage(theme, false), ControlStateNormal);
    compose->setBackgroundImage(KRSkeuomorphicActionImage(theme, true), ControlStateHighlighted);
    m_danmakuComposer->applyTheme();
    updateDetailTabs();
}

// ---- the cover and the play button ----

void KRVideoPlayerArea::loadCover(const QString& address, std::function<bool()> stillWanted)
{
    QObject* owner = m_requests.owner();
    if (address.isEmpty() || !owner)
        return;
    QPointer<ImageView> cover = m_coverView;
    KRImageLoader::sharedLoader()->loadHighResolutionCoverForURLString(
        address, owner, [cover, stillWanted = std::move(stillWanted)](const Image& image) {
            if (cover && !image.isNull() && (!stillWanted || stillWanted()))
                cover->setImage(image);
        });
}

void KRVideoPlayerArea::setPlayButtonEnabled(bool enabled)
{
    m_playButton->setEnabled(enabled);
    m_playButton->setAlpha(enabled ? 1.0 : 0.68);
}

void KRVideoPlayerArea::showPlayButton(bool shown)
{
    m_playButton->setHidden(!shown);
    if (shown)
        m_container->bringSubviewToFront(m_playButton);
}

// ---- status lines ----

void KRVideoPlayerArea::showLoadingStatus(const QString& text, bool animateTV)
{
    if (!ensureLoadingOverlay())
        return;
    m_loadingStatusLabel->setText(text);
    m_loadingOverlay->setHidden(false);
    m_container->bringSubviewToFront(m_loadingOverlay);
    m_container->bringSubviewToFront(m_danmakuStatusLabel);
    if (animateTV)
        m_loadingTVView->startAnimating();
    else
        m_loadingTVView->stopAnimating();
}

void KRVideoPlayerArea::hideLoadingStatus()
{
    if (!m_loadingOverlay)
        return;
    m_loadingTVView->stopAnimating();
    m_loadingOverlay->setHidden(true);
}

void KRVideoPlayerArea::showDanmakuStatus(const QString& text)
{
    m_delayed.cancel(kHideDanmakuStatus);
    if (text.isEmpty()) {
        if (m_danmakuStatusLabel)
            m_danmakuStatusLabel->setHidden(true);
        return;
    }
    presentStatus(text);
    // A window torn down before the page takes the label with it while the hide is pending.
    m_delayed.schedule(kHideDanmakuStatus, 2000, [this, label = QPointer<Label>(m_danmakuStatusLabel)] {
        if (label)
            hideDanmakuStatus();
    });
}

void KRVideoPlayerArea::setPersistentStatus(const QString& text)
{
    const bool showsPrevious =
        m_danmakuStatusLabel && !m_danmakuStatusLabel->isHidden() && m_danmakuStatusLabel->text() == m_persistentStatus;
    m_persistentStatus = text;
    if (!text.isEmpty()) {
        m_delayed.cancel(kHideDanmakuStatus);
        hideDanmakuStatus();
    } else if (showsPrevious) {
        m_delayed.cancel(kHideDanmakuStatus);
        m_danmakuStatusLabel->setText(QString());
        m_danmakuStatusLabel->setHidden(true);
    }
}

void KRVideoPlayerArea::hideDanmakuStatus()
{
    if (m_persistentStatus.isEmpty()) {
        if (m_danmakuStatusLabel)
            m_danmakuStatusLabel->setHidden(true);
        return;
    }
    presentStatus(m_persistentStatus);
}

void KRVideoPlayerArea::presentStatus(const QString& text)
{
    if (!ensureDanmakuStatusLabel())
        return;
    m_danmakuStatusLabel->setText(text);
    layoutDanmakuStatusLabelForText(text);
    m_danmakuStatusLabel->setHidden(false);
    if (View* container = m_danmakuStatusLabel->superview())
        container->bringSubviewToFront(m_danmakuStatusLabel);
}

void KRVideoPlayerArea::layoutDanmakuStatusLabelForText(const QString& text)
{
    Label* label = ensureDanmakuStatusLabel();
    if (!label)
        return;
    const qreal maximum = std::max<qreal>(m_container->bounds().width() - 14, 60);
    const QSizeF fitted = label->sizeThatFits(QSizeF(maximum - 16, 40));
    const qreal width = std::min(maximum, std::max<qreal>(std::ceil(fitted.width()) + 16, 60));
    const qreal height = fitted.height() > 18 && !text.isEmpty() ? 36 : 22;
    label->setFrame(QRectF(7, 8, width, height));
}

// ---- the persistent surface ----

bool KRVideoPlayerArea::installPersistentPlayerSurfaceIfNeeded() { return m_surface.install(m_container); }

void KRVideoPlayerArea::layoutPersistentPlayerSurfaceEmbedded()
{
    // A full screen owns the surface's geometry until it has given it back.
    if (m_surfaceHeldByFullscreen || !m_surface.layoutEmbedded())
        return;
    if (m_transport) {
        if (auto* picture = qobject_cast<View*>(m_transport->view()))
            picture->setFrame(m_container->bounds());
    }
}

void KRVideoPlayerArea::uninstallPersistentPlayerSurface() { m_surface.uninstall(); }

void KRVideoPlayerArea::setSurfaceCovered(bool covered)
{
    if (!m_surface.isInstalled())
        return;
    if (m_surfaceHeldByFullscreen) {
        m_surface.backdrop()->setHidden(covered);
        return;
    }
    m_surface.setCovered(covered);
    layoutPersistentPlayerSurfaceEmbedded();
}

// ---- the transport ----

void KRVideoPlayerArea::bindTransport(KRPlaybackTransport* transport, KRDASHPlayback* dash, double startTime, double holdDuration,
                                      KRPlayerControlsViewDelegate* controlsDelegate, bool portraitVideo)
{
    // In place of another: its hold goes with it, and nothing of ours stays in its picture.
    delete m_holdRecognizer.data();
    m_transport = transport;
    m_dash = dash;
    auto* picture = qobject_cast<View*>(transport->view());
    if (picture) {
        m_container->addSubview(picture);
        picture->setFrame(m_container->bounds());
        picture->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
    }
    QWidget* host = picture ? static_cast<QWidget*>(picture) : m_container;
    m_danmakuView->setParent(host);
    m_danmakuView->setGeometry(QRect(QPoint(), host->size()));
    m_danmakuView->setDanmakus(m_danmaku.danmakus);
    m_danmakuView->resetForPlaybackTime(std::max(0.0, startTime));
    m_danmakuView->show();
    m_danmakuView->raise();
    if (!m_controls) {
        m_controls = new KRPlayerControlsView(QRectF(), nullptr);
        m_controls->setObjectName(QStringLiteral("playerControls"));
    }
    m_controls->setDelegate(controlsDelegate);
    if (picture)
        picture->addSubview(m_controls);
    m_controls->setFrame(m_container->bounds());
    m_controls->setHidden(false);
    // The button has no picture until told which full screen it opens.
    m_controls->setFullscreen(false, portraitVideo);
    m_controls->setDanmakuEnabled(m_danmaku.enabled);
    m_container->bringSubviewToFront(m_loadingOverlay);
    m_container->bringSubviewToFront(m_danmakuStatusLabel);
    // A rollback's snapshot stays over the picture that replaced the one it was taken from.
    placeRollbackSnapshot();
    m_shown = Shown();
    if (picture) {
        // The hold, on every start. The recogniser only watches: presses reach the controls'
        // own taps as before.
        auto* recognizer = new LongPressGestureRecognizer(picture, [this] {
            if (m_holdRecognizer && m_actions.holdChanged)
                m_actions.holdChanged(m_holdRecognizer->state());
        });
        recognizer->setMinimumPressDuration(holdDuration);
        recognizer->setShouldBegin([this, picture] {
            if (!m_holdRecognizer || !m_actions.holdAllowed)
                return true;
            return m_actions.holdAllowed(picture->childAt(m_holdRecognizer->location().toPoint()), picture);
        });
        m_holdRecognizer = recognizer;
    }
    Q_EMIT transportBound();
}

void KRVideoPlayerArea::unbindTransport()
{
    m_dash = nullptr;
    delete m_holdRecognizer.data();
    removeRollbackSnapshot(true);
    if (!m_root) {
        m_transport = nullptr;
        return;
    }
    if (m_controls) {
        m_controls->removeFromSuperview();
        m_controls->setHidden(true);
    }
    stopDanmakuTimer();
    if (m_danmakuView) {
        m_danmakuView->clear();
        m_danmakuView->hide();
        m_danmakuView->setParent(m_root);
    }
    m_transport = nullptr;
}

void KRVideoPlayerArea::layoutBoundTransport(bool portraitFullscreen)
{
    if (!m_transport)
        return;
    if (auto* picture = qobject_cast<View*>(m_transport->view()))
        picture->setFrame(m_container->bounds());
    m_danmakuView->setGeometry(m_container->bounds().toRect());
    if (m_controls) {
        m_controls->setFrame(m_container->bounds());
        m_controls->setFullscreen(false, portraitFullscreen);
    }
}

KRPlaybackTransport* KRVideoPlayerArea::transport() const { return m_transport; }

// ---- a rollback's snapshot ----

void KRVideoPlayerArea::observeRollbacks(KRPlaybackSession* session)
{
    connect(session, &KRPlaybackSession::qualitySwitchRollingBack, this, &KRVideoPlayerArea::showRollbackSnapshot);
    connect(session, &KRPlaybackSession::qualitySwitchRolledBack, this, &KRVideoPlayerArea::fadeOutRollbackSnapshot);
    // A switch that ends any other way (the rollback failed, a stop, the background) takes its
    // snapshot with it at once.
    connect(session, &KRPlaybackSession::qualitySwitchChanged, this, [this](bool switching) {
        if (!switching)
            removeRollbackSnapshot(false);
    });
}

void KRVideoPlayerArea::showRollbackSnapshot()
{
    removeRollbackSnapshot(false);
    if (!m_transport || !m_transport->view())
        return;
    // The frame the picture last showed: a failed player's surface draws nothing any more, but
    // its engine keeps the frame it drew, the picture's size with the video fitted in it.
    const QImage frame = m_dash ? m_dash->lastPictureFrame() : m_transport->lastPictureFrame();
    if (frame.isNull())
        return;
    auto* snapshot = new ImageView(Image(frame));
    snapshot->setObjectName(QStringLiteral("qualitySwitchSnapshot"));
    snapshot->setUserInteractionEnabled(false);
    snapshot->setContentMode(ContentModeScaleToFill);
    snapshot->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
    m_snapshot = snapshot;
    placeRollbackSnapshot();
}

void KRVideoPlayerArea::placeRollbackSnapshot()
{
    ImageView* snapshot = m_snapshot;
    auto* picture = m_transport ? qobject_cast<View*>(m_transport->view()) : nullptr;
    if (!snapshot || !picture)
        return;
    picture->addSubview(snapshot);
    snapshot->setFrame(picture->bounds());
    if (m_danmakuView && m_danmakuView->parentWidget() == picture)
        snapshot->stackUnder(m_danmakuView);
    else if (m_controls && m_controls->superview() == picture)
        snapshot->stackUnder(m_controls);
}

void KRVideoPlayerArea::fadeOutRollbackSnapshot()
{
    ImageView* snapshot = m_snapshot;
    // The field lets go at once; the fade holds the view until it is gone.
    m_snapshot = nullptr;
    if (!snapshot)
        return;
    m_fadingSnapshot = snapshot;
    constexpr double total = kSnapshotFadeDelay + kSnapshotFadeSeconds;
    AnimationClock::animate(
        snapshot, total,
        [snapshot](double progress) {
            const double t = (progress * total - kSnapshotFadeDelay) / kSnapshotFadeSeconds;
            const double u = std::clamp(t, 0.0, 1.0);
            // Ease-out: quick at first, settling at the end.
            const double eased = 1.0 - (1.0 - u) * (1.0 - u);
            snapshot->setAlpha(1.0 - eased);
        },
        [snapshot](bool) {
            snapshot->removeFromSuperview();
            snapshot->deleteLater();
        });
}

void KRVideoPlayerArea::removeRollbackSnapshot(bool fading)
{
    QList<ImageView*> gone{m_snapshot.data()};
    if (fading)
        gone.append(m_fadingSnapshot.data());
    m_snapshot = nullptr;
    for (ImageView* snapshot : gone) {
        if (!snapshot)
            continue;
        // Its fade, if any, is dropped with it.
        snapshot->removeFromSuperview();
        snapshot->deleteLater();
    }
}

KRDASHPlayback* KRVideoPlayerArea::dash() const { return m_dash; }

// ---- what the controls show ----

bool KRVideoPlayerArea::showProgress(double time, double duration, bool playing, bool throttled, bool ended)
{
    if (!m_controls)
        return false;
    // Hidden controls need no more than one update a second.
    const double now = platform::MainClock::now();
    if (throttled && !m_controls->areControlsVisible() && m_shown.lastVisualUpdate >= 0 && now - m_shown.lastVisualUpdate < 1.0
        && !ended && !m_shown.switching)
        return false;
    m_shown.lastVisualUpdate = now;
    m_controls->updateCurrentTime(time, duration);
    m_controls->setPlaying(playing);
    return true;
}

void KRVideoPlayerArea::showTitles(qint64 cid, int quality, const QString& videoTitle)
{
    // Titles change with the part and the quality that plays only: set when they do.
    if (!m_controls || (cid == m_shown.titledCID && quality == m_shown.titledQuality))
        return;
    m_shown.titledCID = cid;
    m_shown.titledQuality = quality;
    m_controls->setVideoTitle(videoTitle);
    m_controls->setQualityTitle(KRCompactQualityTitleForValue(quality));
}

// ---- danmaku ----

void KRVideoPlayerArea::toggleDanmakuEnabled()
{
    m_danmaku.enabled = !m_danmaku.enabled;
    platform::UserDefaults::standard().setObject(KRDanmakuEnabledDefaultsKey, m_danmaku.enabled);
    m_danmakuView->setDanmakuEnabled(m_danmaku.enabled);
    if (m_controls)
        m_controls->setDanmakuEnabled(m_danmaku.enabled);
    updateDetailTabs();
    showDanmakuStatus(m_danmaku.enabled ? QStringLiteral("弹幕已开启") : QStringLiteral("弹幕已关闭"));
}

void KRVideoPlayerArea::loadDanmakusForCID(qint64 cid, bool fromOfflineCopy)
{
    if (cid <= 0 || (cid == m_danmaku.loadedCID && !m_danmaku.danmakus.isEmpty()) || cid == m_danmaku.requestedCID)
        return;
    QObject* owner = m_requests.owner();
    if (!owner)
        return;
    m_danmaku.request.cancel();
    m_danmaku.requestedCID = cid;
    m_danmaku.loading = true;
    auto completion = [this, cid](const KRDanmakuList& danmakus, const KROptionalError&) {
        if (cid != m_danmaku.requestedCID)
            return;
        m_danmaku.loading = false;
        m_danmaku.requestedCID = 0;
        m_danmaku.loadedCID = cid;
        m_danmaku.danmakus = danmakus;
        m_danmakuView->setDanmakus(danmakus);
    };
    KRDanmakuClient* client = KRDanmakuClient::sharedClient();
    const bool copy = fromOfflineCopy && client->hasCachedDanmakusForCID(cid);
    m_danmaku.request = copy ? client->loadCachedDanmakusForCID(cid, owner, completion) : client->loadDanmakusForCID(cid, owner, completion);
}

void KRVideoPlayerArea::dropDanmakus(bool keepRequest)
{
    if (!keepRequest) {
        m_danmaku.request.cancel();
        m_danmaku.requestedCID = 0;
        m_danmaku.loading = false;
    }
    m_danmaku.danmakus.clear();
    m_danmaku.loadedCID = 0;
    if (m_danmakuView)
        m_danmakuView->setDanmakus({});
}

void KRVideoPlayerArea::startDanmakuTimer()
{
    m_danmaku.timer.start(KRDanmakuRenderer::feedIntervalMilliseconds(), [this] { danmakuTimerFired(); });
}

void KRVideoPlayerArea::stopDanmakuTimer()
{
    m_danmaku.timer.stop();
    // Unfed, the lines would go on moving by the clock: they stop where the picture stopped.
    if (m_transport && m_danmakuView)
        m_danmakuView->updateWithPlaybackTime(std::max(0.0, m_transport->currentPlaybackTime()), false);
}

void KRVideoPlayerArea::danmakuTimerFired()
{
    if (!m_transport || !m_danmakuView)
        return;
    const bool playing = m_transport->playbackState() == KRPlaybackStatePlaying;
    m_danmakuView->updateWithPlaybackTime(std::max(0.0, m_transport->currentPlaybackTime()), playing);
}

void KRVideoPlayerArea::updateDetailTabs()
{
    const bool on = m_danmaku.enabled;
    KRTheme* theme = KRTheme::sharedTheme();
    const Image icon = Image::named(on ? QStringLiteral("Davirivu961/danmaku_on") : QStringLiteral("Davirivu961/danmaku_off"));
    m_danmakuButton->setImage(icon, ControlStateNormal);
    m_danmakuButton->setImage(KRDetailTintedImage(icon, theme->accentColor()), ControlStateHighlighted);
    m_danmakuButton->setBackgroundImage(KRSkeuomorphicActionImage(theme, false), ControlStateNormal);
    m_danmakuButton->setBackgroundImage(KRSkeuomorphicActionImage(theme, true), ControlStateHighlighted);
    m_danmakuButton->setSelected(on);
    m_danmakuButton->setAccessibilityValue(on ? QStringLiteral("开启") : QStringLiteral("关闭"));
    const QString composeTitle = on ? QStringLiteral("发弹幕") : QStringLiteral("已关弹幕");
    for (int state : {ControlStateNormal, ControlStateHighlighted, ControlStateDisabled})
        m_danmakuComposeButton->setTitle(composeTitle, state);
    m_danmakuComposeButton->setEnabled(on);
    m_danmakuComposeButton->setAlpha(on ? 1.0 : 0.62);
    m_danmakuComposer->setDanmakuEnabled(on);
}

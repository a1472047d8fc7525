#include "playback/KRPlayerControlsView.h"

#include "look/KRShellHelpers.h"
#include "platform/media/VolumeView.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/Control.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/PanGestureRecognizer.h"
#include "platform/uikit/Screen.h"
#include "platform/uikit/Slider.h"
#include "platform/uikit/TapGestureRecognizer.h"

#include <QPointer>

#include <cmath>

using namespace platform::uikit;

namespace {

const QColor kHighlight = QColor::fromRgbF(1.0f, 0.45f, 0.67f);

Image playerImage(const QString& name)
{
    return Image::named(QStringLiteral("Davirivu961/") + name);
}

Button* makeButton(View* parent, const QString& objectName, const QString& accessibilityLabel)
{
    auto* button = new Button(ButtonTypeCustom, QRectF(), parent);
    button->setObjectName(objectName);
    button->setAccessibilityLabel(accessibilityLabel);
    return button;
}

Label* makeTimeLabel(View* parent, const QString& objectName, int alignment)
{
    auto* label = new Label(QRectF(), parent);
    label->setObjectName(objectName);
    label->setOpaque(false);
    label->setTextColor(Qt::white);
    label->setFont(Label::systemFont(10, true));
    label->setShadowColor(Qt::black);
    label->setShadowOffset(QSizeF(0, 1));
    label->setTextAlignment(alignment);
    return label;
}

double sanitised(double value)
{
    return std::isfinite(value) && value > 0 ? value : 0;
}

} // namespace

QString KRPlayerTimeText(double seconds)
{
    double whole = std::isfinite(seconds) && seconds > 0 ? std::floor(seconds) : 0;
    // Past this the hours field would stop meaning anything; the text stays "99999:59:59".
    whole = std::min(whole, 359999999.0);
    const qint64 total = qint64(whole);
    const qint64 hours = total / 3600;
    const qint64 minutes = (total % 3600) / 60;
    const qint64 secs = total % 60;
    if (total < 3600)
        return QStringLiteral("%1:%2").arg(minutes).arg(secs, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2:%3").arg(hours).arg(minutes, 2, 10, QLatin1Char('0')).arg(secs, 2, 10, QLatin1Char('0'));
}

platform::media::VolumeView* KRCreateAirPlayRouteView()
{
    auto* view = new platform::media::VolumeView();
    view->setShowsVolumeSlider(false);
    view->setShowsRouteButton(true);
    return view;
}

Slider* KRFindSliderInView(QWidget* view)
{
    if (!view)
        return nullptr;
    if (auto* slider = qobject_cast<Slider*>(view))
        return slider;
    for (QObject* child : view->children()) {
        if (auto* widget = qobject_cast<QWidget*>(child)) {
            if (Slider* found = KRFindSliderInView(widget))
                return found;
        }
    }
    return nullptr;
}

KRPlayerControlsView::KRPlayerControlsView(const QRectF& frame, View* superview) : View(frame, superview)
{
    setOpaque(false);
    setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);

    m_topShade = new View(QRectF(), this);
    m_topShade->setObjectName(QStringLiteral("topShade"));
    m_topShade->setBackgroundColor(QColor::fromRgbF(0, 0, 0, 0.58f));
    m_bottomShade = new View(QRectF(), this);
    m_bottomShade->setObjectName(QStringLiteral("bottomShade"));
    m_bottomShade->setBackgroundColor(QColor::fromRgbF(0, 0, 0, 0.62f));

    m_titleLabel = new Label(QRectF(), m_topShade);
    m_titleLabel->setObjectName(QStringLiteral("titleLabel"));
    m_titleLabel->setOpaque(false);
    m_titleLabel->setTextColor(Qt::white);
    m_titleLabel->setFont(Label::systemFont(12, true));
    m_titleLabel->setShadowColor(QColor::fromRgbF(0, 0, 0, 0.85f));
    m_titleLabel->setShadowOffset(QSizeF(0, 1));

    m_qualityButton = makeButton(m_topShade, QStringLiteral("qualityButton"), QString());
    m_qualityButton->titleLabel()->setFont(Label::systemFont(11, true));
    m_qualityButton->setTitleColor(Qt::white, ControlStateNormal);
    m_qualityButton->setTitleColor(kHighlight, ControlStateHighlighted);
    m_qualityButton->setBackgroundColor(QColor::fromRgbF(0, 0, 0, 0.28f));
    m_qualityButton->setCornerRadius(4);
    m_qualityButton->addTarget(ControlEventTouchUpInside, [this] {
        setControlsVisible(true, false);
        if (m_delegate)
            m_delegate->playerControlsDidRequestQuality(this);
    });

    m_speedButton = makeButton(m_bottomShade, QStringLiteral("speedButton"), QStringLiteral("倍速"));
    m_speedButton->setTitle(QStringLiteral("倍速"), ControlStateNormal);
    m_speedButton->titleLabel()->setFont(Label::systemFont(10, true));
    m_speedButton->setTitleColor(Qt::white, ControlStateNormal);
    m_speedButton->setTitleColor(kHighlight, ControlStateHighlighted);
    m_speedButton->addTarget(ControlEventTouchUpInside, [this] {
        setControlsVisible(true, false);
        if (m_delegate)
            m_delegate->playerControlsDidRequestSpeed(this);
    });

    m_fullscreenButton = makeButton(m_bottomShade, QStringLiteral("fullscreenButton"), QStringLiteral("全屏"));
    m_fullscreenButton->addTarget(ControlEventTouchUpInside, [this] {
        if (m_delegate)
            m_delegate->playerControlsDidRequestFullscreen(this);
    });
    m_backButton = makeButton(m_bottomShade, QStringLiteral("backButton"), QStringLiteral("后退 10 秒"));
    m_backButton->setImage(playerImage(QStringLiteral("arrow_back10s_line_24_Normal")), ControlStateNormal);
    m_backButton->addTarget(ControlEventTouchUpInside, [this] { seekToTime(m_currentTime - 10); });
    m_playPauseButton = makeButton(m_bottomShade, QStringLiteral("playPauseButton"), QStringLiteral("播放或暂停"));
    m_playPauseButton->addTarget(ControlEventTouchUpInside, [this] {
        if (m_delegate)
            m_delegate->playerControlsDidTogglePlayback(this);
    });
    m_forwardButton = makeButton(m_bottomShade, QStringLiteral("forwardButton"), QStringLiteral("前进 10 秒"));
    m_forwardButton->setImage(playerImage(QStringLiteral("arrow_forward10s_line_24_Normal")), ControlStateNormal);
    m_forwardButton->addTarget(ControlEventTouchUpInside, [this] { seekToTime(m_currentTime + 10); });

    m_progressSlider = new Slider(QRectF(), m_bottomShade);
    m_progressSlider->setObjectName(QStringLiteral("progressSlider"));
    m_progressSlider->setRange(0, 1);
    const Image knob = playerImage(QStringLiteral("KnobMiniTV_Normal"));
    if (!knob.isNull()) {
        m_progressSlider->setThumbImage(knob, ControlStateNormal);
        m_progressSlider->setThumbImage(knob, ControlStateHighlighted);
    }
    m_progressSlider->addTarget(ControlEventTouchDown, [this] { sliderTouchDown(); });
    m_progressSlider->addTarget(ControlEventValueChanged, [this] { sliderValueChanged(); });
    m_progressSlider->addTarget(ControlEventTouchUpInside | ControlEventTouchUpOutside | ControlEventTouchCancel,
                                [this] { sliderTouchUp(); });

    m_currentTimeLabel = makeTimeLabel(m_bottomShade, QStringLiteral("currentTimeLabel"), TextAlignmentLeft);
    m_durationLabel = makeTimeLabel(m_bottomShade, QStringLiteral("durationLabel"), TextAlignmentRight);

    m_pausedOverlay = new ImageView(playerImage(QStringLiteral("player_mini_tv_play_ico_Normal")), this);
    m_pausedOverlay->setObjectName(QStringLiteral("pausedOverlay"));
    m_pausedOverlay->setContentMode(ContentModeScaleAspectFit);
    m_pausedOverlay->setUserInteractionEnabled(false);
    m_pausedOverlay->setHidden(true);

    m_seekHintLabel = new Label(QRectF(), this);
    m_seekHintLabel->setObjectName(QStringLiteral("seekHintLabel"));
    m_seekHintLabel->setBackgroundColor(QColor::fromRgbF(0, 0, 0, 0.72f));
    m_seekHintLabel->setTextColor(Qt::white);
    m_seekHintLabel->setFont(Label::systemFont(14, true));
    m_seekHintLabel->setTextAlignment(TextAlignmentCenter);
    m_seekHintLabel->setCornerRadius(6);
    m_seekHintLabel->setHidden(true);

    m_airPlayHost = KRCreateAirPlayRouteView();
    m_airPlayHost->setObjectName(QStringLiteral("airPlayHost"));
    m_topShade->addSubview(m_airPlayHost);

    m_systemVolumeView = new platform::media::VolumeView(QRectF(0, 0, 1, 1));
    m_systemVolumeView->setObjectName(QStringLiteral("systemVolumeView"));
    m_systemVolumeView->setShowsVolumeSlider(true);
    m_systemVolumeView->setShowsRouteButton(false);
    m_systemVolumeView->setAlpha(0.001);
    m_systemVolumeView->setUserInteractionEnabled(false);
    insertSubviewAtIndex(m_systemVolumeView, 0);

    m_moreButton = makeButton(m_topShade, QStringLiteral("moreButton"), QStringLiteral("更多操作"));
    m_moreButton->setImage(playerImage(QStringLiteral("more@2x.png")), ControlStateNormal);
    m_moreButton->setImageContentMode(ContentModeScaleAspectFit);
    m_moreButton->setImageEdgeInsets({3, 8, 3, 8});
    m_moreButton->addTarget(ControlEventTouchUpInside, [this] {
        setControlsVisible(true, false);
        if (m_delegate)
            m_delegate->playerControlsDidRequestMore(this);
    });

    m_danmakuToggleButton = makeButton(m_bottomShade, QStringLiteral("danmakuToggleButton"), QStringLiteral("弹幕开关"));
    m_danmakuToggleButton->setImageContentMode(ContentModeScaleAspectFit);
    m_danmakuToggleButton->addTarget(ControlEventTouchUpInside, [this] {
        if (m_delegate)
            m_delegate->playerControlsDidToggleDanmaku(this);
    });
    m_danmakuSettingsButton = makeButton(m_bottomShade, QStringLiteral("danmakuSettingsButton"), QStringLiteral("弹幕设置"));
    m_danmakuSettingsButton->setImage(playerImage(QStringLiteral("danmaku_settings")), ControlStateNormal);
    m_danmakuSettingsButton->setImageContentMode(ContentModeScaleAspectFit);
    m_danmakuSettingsButton->addTarget(ControlEventTouchUpInside, [this] {
        if (m_delegate)
            m_delegate->playerControlsDidRequestDanmakuSettings(this);
    });

    m_tapRecognizer = new TapGestureRecognizer(this, [this] { surfaceTapped(); });
    m_doubleTapRecognizer = new TapGestureRecognizer(this, [this] { surfaceDoubleTapped(); });
    m_doubleTapRecognizer->setNumberOfTapsRequired(2);
    m_tapRecognizer->requireGestureRecognizerToFail(m_doubleTapRecognizer);
    m_panRecognizer = new PanGestureRecognizer(this, [this] { surfacePanned(); });
    const auto receive = [this](View* touched) { return shouldReceiveTouch(touched); };
    m_tapRecognizer->setShouldReceiveTouch(receive);
    m_doubleTapRecognizer->setShouldReceiveTouch(receive);
    m_panRecognizer->setShouldReceiveTouch(receive);

    m_controlsVisible = true;
    setDanmakuEnabled(true);
    setPlaying(false);
    updateCurrentTime(0, 0);
    setNeedsLayout();
}

KRPlayerControlsView::~KRPlayerControlsView()
{
    cancelAutomaticHide();
}

bool KRPlayerControlsView::shouldReceiveTouch(View* touched) const
{
    if (!touched || touched == this)
        return true;
    for (QWidget* view = touched; view; view = view->parentWidget()) {
        if (view == this)
            return true;
        if (qobject_cast<Control*>(view) || view == m_airPlayHost)
            return false;
    }
    return true;
}

void KRPlayerControlsView::setLabelText(Label* label, const QString& text)
{
    if (label->text() != text)
        label->setText(text);
}

void KRPlayerControlsView::setOfflineCompactMode(bool compact)
{
    m_offlineCompactMode = compact;
    for (View* view : std::initializer_list<View*>{m_titleLabel, m_backButton, m_playPauseButton, m_forwardButton,
                                                   m_progressSlider, m_currentTimeLabel, m_durationLabel})
        view->setHidden(false);
    m_qualityButton->setHidden(compact);
    m_pausedOverlay->setHidden(pausedMarkerHidden());
    for (Button* button : {m_danmakuToggleButton, m_danmakuSettingsButton}) {
        button->setHidden(true);
        if (button->superview() != m_bottomShade) {
            button->removeFromSuperview();
            m_bottomShade->addSubview(button);
        }
    }
    setNeedsLayout();
}

void KRPlayerControlsView::setDanmakuEnabled(bool enabled)
{
    m_danmakuEnabled = enabled;
    m_danmakuToggleButton->setImage(playerImage(enabled ? QStringLiteral("danmaku_on") : QStringLiteral("danmaku_off")),
                                    ControlStateNormal);
    m_danmakuToggleButton->setAccessibilityValue(enabled ? QStringLiteral("开启") : QStringLiteral("关闭"));
}

void KRPlayerControlsView::prepareAirPlayForRotation()
{
    m_airPlayRouteSelectionEnabled = false;
    m_airPlayHost->setUserInteractionEnabled(false);
}

void KRPlayerControlsView::commitAirPlayInterfaceOrientation(int orientation)
{
    if (orientation == 0)
        orientation = 1;
    if (orientation != m_airPlayInterfaceOrientation) {
        const QRectF frame = m_airPlayHost->frame();
        m_airPlayHost->deleteLater();
        m_airPlayHost->hide();
        m_airPlayHost = KRCreateAirPlayRouteView();
        m_airPlayHost->setObjectName(QStringLiteral("airPlayHost"));
        m_airPlayHost->setFrame(frame);
        m_topShade->addSubview(m_airPlayHost);
        m_airPlayInterfaceOrientation = orientation;
    }
    m_topShade->bringSubviewToFront(m_qualityButton);
    m_topShade->bringSubviewToFront(m_moreButton);
    m_airPlayRouteSelectionEnabled = true;
    m_airPlayHost->setUserInteractionEnabled(true);
    layoutSubviews();
}

void KRPlayerControlsView::setVideoTitle(const QString& title)
{
    setLabelText(m_titleLabel, title.isEmpty() ? QStringLiteral("视频") : title);
}

void KRPlayerControlsView::setQualityTitle(const QString& title)
{
    if (m_qualitySwitching)
        return;
    const QString shown = title.isEmpty() ? QStringLiteral("自动") : title;
    if (m_qualityButton->title(ControlStateNormal) == shown)
        return;
    m_qualityButton->setTitle(shown, ControlStateNormal);
    m_qualityButton->setAccessibilityLabel(QStringLiteral("清晰度 %1").arg(shown));
}

void KRPlayerControlsView::setQualitySwitching(bool switching, const QString&)
{
    m_qualitySwitching = switching;
    m_qualityButton->setAccessibilityValue(switching ? QStringLiteral("正在切换，当前清晰度继续播放") : QString());
    if (m_playing) {
        m_pausedOverlay->setHidden(true);
        scheduleAutomaticHide();
    } else {
        m_pausedOverlay->setAlpha(m_controlsVisible ? 1 : 0);
    }
}

void KRPlayerControlsView::setPlaying(bool playing)
{
    const bool old = m_playing;
    m_playing = playing;
    if (playing != old || m_playPauseButton->image(ControlStateNormal).isNull())
        m_playPauseButton->setImage(playerImage(playing ? QStringLiteral("player_pause_Normal") : QStringLiteral("player_play_Normal")),
                                    ControlStateNormal);
    m_pausedOverlay->setHidden(pausedMarkerHidden());
    if (playing == old)
        return;
    if (!playing) {
        m_pausedOverlay->setAlpha(m_controlsVisible ? 1 : 0);
        cancelAutomaticHide();
        setControlsVisible(true, true);
    } else {
        scheduleAutomaticHide();
    }
}

void KRPlayerControlsView::updateCurrentTime(double current, double duration)
{
    m_currentTime = sanitised(current);
    m_duration = sanitised(duration);
    if (!m_scrubbing)
        m_progressSlider->setValue(m_duration > 0 ? float(std::clamp(m_currentTime / m_duration, 0.0, 1.0)) : 0.0f);
    setLabelText(m_currentTimeLabel, KRPlayerTimeText(m_currentTime));
    setLabelText(m_durationLabel, m_duration > 0 ? KRPlayerTimeText(m_duration) : QStringLiteral("--:--"));
}

void KRPlayerControlsView::setFullscreen(bool fullscreen, bool portraitVideo)
{
    m_fullscreen = fullscreen;
    m_portraitVideo = portraitVideo;
    const char* image = fullscreen ? "edit_v2_full_screen_exit_Normal" : portraitVideo ? "portrait_fullscreen" : "fullscreen_Normal";
    m_fullscreenButton->setImage(playerImage(QString::fromLatin1(image)), ControlStateNormal);
    m_fullscreenButton->setAccessibilityLabel(fullscreen      ? QStringLiteral("缩小")
                                              : portraitVideo ? QStringLiteral("竖屏全屏")
                                                              : QStringLiteral("横屏全屏"));
    setNeedsLayout();
}

void KRPlayerControlsView::setControlsVisible(bool visible, bool animated)
{
    m_controlsVisible = visible;
    ++m_visibilityGeneration;
    m_topShade->setUserInteractionEnabled(visible);
    m_bottomShade->setUserInteractionEnabled(visible);
    const double seconds = animated ? 0.18 : 0;
    const qreal alpha = visible ? 1 : 0;
    m_topShade->animateAlpha(alpha, seconds);
    m_bottomShade->animateAlpha(alpha, seconds);
    if (!m_playing)
        m_pausedOverlay->animateAlpha(alpha, seconds);
    // The kit's alpha covers a view's own drawing only: the bars' contents leave with them
    // once they have faded out, and come back before they fade in.
    if (visible) {
        m_topShade->setHidden(false);
        m_bottomShade->setHidden(false);
    } else {
        const quint64 generation = ++m_visibilityGeneration;
        AnimationClock::animate(this, seconds, {}, [this, generation](bool) {
            if (generation != m_visibilityGeneration || m_controlsVisible)
                return;
            m_topShade->setHidden(true);
            m_bottomShade->setHidden(true);
        });
    }
    if (m_delegate)
        m_delegate->playerControlsVisibilityDidChange(this, visible);
}

void KRPlayerControlsView::cancelAutomaticHide()
{
    const AnimationClock::Id timer = m_hideTimer;
    m_hideTimer = 0;
    if (timer)
        AnimationClock::cancel(timer);
}

bool KRPlayerControlsView::isAutomaticHideScheduled() const
{
    return m_hideTimer != 0 && AnimationClock::isRunning(m_hideTimer);
}

void KRPlayerControlsView::scheduleAutomaticHide()
{
    cancelAutomaticHide();
    if (!m_playing || m_scrubbing)
        return;
    // On the kit's clock, so tests and screenshots step it rather than wait for it.
    m_hideTimer = AnimationClock::animate(this, 3.0, {}, [this](bool finished) {
        if (!finished)
            return;
        m_hideTimer = 0;
        hideAutomatically();
    });
}

void KRPlayerControlsView::hideAutomatically()
{
    if (m_playing && !m_scrubbing)
        setControlsVisible(false, true);
}

void KRPlayerControlsView::seekToTime(double time)
{
    double target = std::isfinite(time) ? std::max(time, 0.0) : 0;
    if (m_duration > 0)
        target = std::min(target, m_duration);
    updateCurrentTime(target, m_duration);
    QPointer<KRPlayerControlsView> self(this);
    if (m_delegate)
        m_delegate->playerControlsSeekToTime(this, target);
    if (!self)
        return;
    setControlsVisible(true, false);
    scheduleAutomaticHide();
}

void KRPlayerControlsView::showHint(const QString& text)
{
    m_seekHintLabel->setText(text);
    m_seekHintLabel->setHidden(false);
    bringSubviewToFront(m_seekHintLabel);
    // Both lie at the middle: the marker would show through the bubble and cut its text.
    m_pausedOverlay->setHidden(true);
}

void KRPlayerControlsView::hideHint()
{
    m_seekHintLabel->setHidden(true);
    m_pausedOverlay->setHidden(pausedMarkerHidden());
}

bool KRPlayerControlsView::pausedMarkerHidden() const { return m_playing || !m_seekHintLabel->isHidden(); }

void KRPlayerControlsView::sliderTouchDown()
{
    m_scrubbing = true;
    cancelAutomaticHide();
}

void KRPlayerControlsView::sliderValueChanged()
{
    const double time = m_duration * m_progressSlider->value();
    setLabelText(m_currentTimeLabel, KRPlayerTimeText(time));
    showHint(QStringLiteral("%1 / %2").arg(KRPlayerTimeText(time), KRPlayerTimeText(m_duration)));
}

void KRPlayerControlsView::sliderTouchUp()
{
    m_scrubbing = false;
    hideHint();
    seekToTime(m_duration * m_progressSlider->value());
}

void KRPlayerControlsView::surfaceTapped()
{
    setControlsVisible(!m_controlsVisible, true);
    if (m_controlsVisible)
        scheduleAutomaticHide();
}

void KRPlayerControlsView::surfaceDoubleTapped()
{
    const bool wasVisible = m_controlsVisible;
    setControlsVisible(true, true);
    if (m_playing && wasVisible) {
        scheduleAutomaticHide();
        return;
    }
    if (m_delegate)
        m_delegate->playerControlsDidTogglePlayback(this);
}

void KRPlayerControlsView::surfacePanned()
{
    const int state = m_panRecognizer->state();
    const QPointF translation = m_panRecognizer->translation();
    const double dx = translation.x();
    const double dy = translation.y();
    if (state == GestureStateBegan) {
        m_surfacePanMode = 0;
        m_panStartTime = m_currentTime;
        m_panTarget = m_currentTime;
        m_panStartLocation = m_panRecognizer->location();
        m_panStartBrightness = Screen::brightness();
        Slider* volume = KRFindSliderInView(m_systemVolumeView);
        m_panStartVolume = volume ? volume->value() : 0.5;
        cancelAutomaticHide();
        return;
    }
    if (state == GestureStateChanged) {
        if (m_surfacePanMode == 0) {
            if (std::max(std::abs(dx), std::abs(dy)) < 8)
                return;
            if (std::abs(dy) > 1.15 * std::abs(dx)) {
                m_surfacePanMode = m_panStartLocation.x() < frame().width() / 2 ? 2 : 3;
            } else {
                m_surfacePanMode = 1;
                m_scrubbing = true;
            }
        }
        const double height = std::max<double>(frame().height(), 160);
        if (m_surfacePanMode == 1) {
            const double span = m_duration > 0 ? std::min(m_duration, 180.0) : 60.0;
            double target = std::max(m_panStartTime + dx / std::max<double>(frame().width(), 120) * span, 0.0);
            if (m_duration > 0)
                target = std::min(target, m_duration);
            m_panTarget = target;
            showHint(QStringLiteral("%1  %2").arg(dx < 0 ? QStringLiteral("后退") : QStringLiteral("快进"), KRPlayerTimeText(target)));
            m_progressSlider->setValue(m_duration > 0 ? float(target / m_duration) : 0.0f);
            setLabelText(m_currentTimeLabel, KRPlayerTimeText(target));
        } else if (m_surfacePanMode == 2) {
            const double value = std::clamp(m_panStartBrightness - dy / height, 0.0, 1.0);
            Screen::setBrightness(value);
            showHint(QStringLiteral("亮度 %1%").arg(std::lround(value * 100)));
        } else {
            const double value = std::clamp(m_panStartVolume - dy / height, 0.0, 1.0);
            if (Slider* volume = KRFindSliderInView(m_systemVolumeView)) {
                volume->setValue(float(value));
                volume->sendActionsForControlEvents(ControlEventValueChanged);
            }
            showHint(QStringLiteral("音量 %1%").arg(std::lround(value * 100)));
        }
        return;
    }
    // Ended, cancelled or failed.
    const bool seeking = m_surfacePanMode == 1 && state == GestureStateEnded;
    m_surfacePanMode = 0;
    m_scrubbing = false;
    hideHint();
    if (seeking)
        seekToTime(m_panTarget);
    else if (m_playing)
        scheduleAutomaticHide();
}

void KRPlayerControlsView::layoutSubviews()
{
    const double W = frame().width();
    const double H = frame().height();
    const bool compact = H <= 200;
    const EdgeInsets insets = m_fullscreen ? KRSafeAreaInsetsForView(this) : EdgeInsets{};
    const double right = std::max(insets.left, W - insets.right);
    const double contentWidth = right - insets.left;
    const double T = compact ? 34 : 42;
    const double bottomHeight = compact ? 61 : 78;
    const double margin = compact ? 4 : 5;
    m_topShade->setFrame(QRectF(0, 0, W, T + insets.top));
    m_bottomShade->setFrame(QRectF(0, H - bottomHeight - insets.bottom, W, bottomHeight + insets.bottom));

    const double topY = insets.top + margin;
    const double topHeight = T - 2 * margin;
    m_moreButton->setFrame(QRectF(right - 42, topY, 38, topHeight));
    const double qualityWidth = compact ? 48 : 58;
    if (m_offlineCompactMode)
        m_qualityButton->setFrame(QRectF());
    else
        m_qualityButton->setFrame(QRectF(m_moreButton->frame().x() - qualityWidth - 3, topY, qualityWidth, topHeight));
    const double airPlayX = m_offlineCompactMode ? m_moreButton->frame().x() - 40 : m_qualityButton->frame().x() - 40;
    m_airPlayHost->setFrame(QRectF(airPlayX, topY, 38, topHeight));
    m_titleLabel->setFrame(QRectF(insets.left + 8, insets.top, std::max(airPlayX - insets.left - 14, 40.0), T));

    const double y = compact ? 2 : 5;
    const double height = compact ? 31 : 38;
    const double width = compact ? 38 : 46;
    const double middle = std::floor(insets.left + std::max(contentWidth, 1.0) / 2);
    m_playPauseButton->setFrame(QRectF(middle - width / 2, y, width, height));
    m_backButton->setFrame(QRectF(m_playPauseButton->frame().x() - 4 - width, y, width, height));
    m_forwardButton->setFrame(QRectF(m_playPauseButton->frame().right() + 4, y, width, height));
    m_speedButton->setFrame(QRectF(insets.left + 5, y + 1, 34, height - 2));
    m_fullscreenButton->setFrame(QRectF(right - 39, y + 1, 34, height - 2));
    const double timeY = compact ? 35 : 47;
    const double timeWidth = compact ? 42 : 52;
    m_currentTimeLabel->setFrame(QRectF(insets.left + 7, timeY, timeWidth, 20));
    m_durationLabel->setFrame(QRectF(right - timeWidth - 7, timeY, timeWidth, 20));
    m_progressSlider->setFrame(QRectF(insets.left + timeWidth + 5, timeY - 1,
                                      std::max(std::max(contentWidth, 1.0) - 2 * timeWidth - 10, 40.0), 22));
    const double side = compact ? 54 : 72;
    m_pausedOverlay->setFrame(QRectF(std::floor((W - side) / 2), std::floor((H - side) / 2), side, side));
    m_seekHintLabel->setFrame(QRectF(std::floor((W - 150) / 2), std::floor((H - 38) / 2), 150, 38));
    for (View* view : std::initializer_list<View*>{m_speedButton, m_backButton, m_playPauseButton, m_forwardButton,
                                                   m_fullscreenButton, m_currentTimeLabel, m_durationLabel, m_progressSlider}) {
        view->setHidden(false);
        view->setAlpha(1);
        m_bottomShade->bringSubviewToFront(view);
    }
    if (m_offlineCompactMode) {
        m_danmakuToggleButton->setFrame(QRectF());
        m_danmakuSettingsButton->setFrame(QRectF());
    }
}

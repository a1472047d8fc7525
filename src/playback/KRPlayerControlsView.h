#pragma once

#include "platform/uikit/AnimationClock.h"
#include "platform/uikit/View.h"

#include <QString>

namespace platform::uikit {
class Button;
class ImageView;
class Label;
class PanGestureRecognizer;
class Slider;
class TapGestureRecognizer;
}
namespace platform::media {
class VolumeView;
}

class KRPlayerControlsView;

// Every intent of the controls goes to the owner through this; the last three are optional.
class KRPlayerControlsViewDelegate {
public:
    virtual ~KRPlayerControlsViewDelegate() = default;
    virtual void playerControlsDidTogglePlayback(KRPlayerControlsView* view) = 0;
    virtual void playerControlsSeekToTime(KRPlayerControlsView* view, double time) = 0;
    virtual void playerControlsDidRequestQuality(KRPlayerControlsView* view) = 0;
    virtual void playerControlsDidRequestSpeed(KRPlayerControlsView* view) = 0;
    virtual void playerControlsDidRequestFullscreen(KRPlayerControlsView* view) = 0;
    virtual void playerControlsVisibilityDidChange(KRPlayerControlsView* view, bool visible) = 0;
    virtual void playerControlsDidToggleDanmaku(KRPlayerControlsView*) {}
    virtual void playerControlsDidRequestDanmakuSettings(KRPlayerControlsView*) {}
    virtual void playerControlsDidRequestMore(KRPlayerControlsView*) {}
};

// "m:ss" below an hour, else "h:mm:ss", of the whole seconds of `seconds`; negative, infinite
// or not-a-number values read as 0, and values past 99999:59:59 as that.
QString KRPlayerTimeText(double seconds);

// The overlay over every player's picture: a top bar (title, route button, quality, more), a
// bottom bar (speed, back 10 s, play/pause, forward 10 s, fullscreen, times, scrub slider), a
// paused marker, a seek hint and the surface gestures (tap, double tap, pan for seeking,
// brightness and volume). It holds no player: it shows what the owner tells it and reports
// each intent to its delegate. While playing it hides 3 s after the last interaction.
// Subviews carry their field names as object names ("playPauseButton", …).
class KRPlayerControlsView : public platform::uikit::View {
    Q_OBJECT
public:
    explicit KRPlayerControlsView(const QRectF& frame = QRectF(), platform::uikit::View* superview = nullptr);
    ~KRPlayerControlsView() override;

    KRPlayerControlsViewDelegate* delegate() const { return m_delegate; }
    void setDelegate(KRPlayerControlsViewDelegate* delegate) { m_delegate = delegate; }
    platform::uikit::Button* qualityButton() const { return m_qualityButton; }
    platform::uikit::Button* moreButton() const { return m_moreButton; }
    bool areControlsVisible() const { return m_controlsVisible; }
    bool isScrubbing() const { return m_scrubbing; }

    void setOfflineCompactMode(bool compact);
    void setDanmakuEnabled(bool enabled);
    void prepareAirPlayForRotation();
    // 0 means the current interface orientation (portrait here).
    void commitAirPlayInterfaceOrientation(int orientation);
    void setVideoTitle(const QString& title);
    void setQualityTitle(const QString& title);
    void setQualitySwitching(bool switching, const QString& targetTitle);
    void setPlaying(bool playing);
    // Whether the play button shows pause (what plays) or play.
    bool isPlaying() const { return m_playing; }
    void updateCurrentTime(double current, double duration);
    void setFullscreen(bool fullscreen, bool portraitVideo);
    void setControlsVisible(bool visible, bool animated);
    void scheduleAutomaticHide();
    void hideAutomatically();
    void seekToTime(double time);
    bool isAutomaticHideScheduled() const;

    platform::uikit::TapGestureRecognizer* tapRecognizer() const { return m_tapRecognizer; }
    platform::uikit::TapGestureRecognizer* doubleTapRecognizer() const { return m_doubleTapRecognizer; }
    platform::uikit::PanGestureRecognizer* panRecognizer() const { return m_panRecognizer; }

    void layoutSubviews() override;

private:
    bool shouldReceiveTouch(platform::uikit::View* touched) const;
    void cancelAutomaticHide();
    void surfaceTapped();
    void surfaceDoubleTapped();
    void surfacePanned();
    void sliderTouchDown();
    void sliderValueChanged();
    void sliderTouchUp();
    void showHint(const QString& text);
    void hideHint();
    // Hidden while playing, and while the hint shows where it lies.
    bool pausedMarkerHidden() const;
    void setLabelText(platform::uikit::Label* label, const QString& text);

    KRPlayerControlsViewDelegate* m_delegate = nullptr;
    platform::uikit::View* m_topShade;
    platform::uikit::View* m_bottomShade;
    platform::uikit::Label* m_titleLabel;
    platform::uikit::Button* m_qualityButton;
    platform::uikit::Button* m_moreButton;
    platform::uikit::Button* m_speedButton;
    platform::uikit::Button* m_fullscreenButton;
    platform::uikit::Button* m_backButton;
    platform::uikit::Button* m_playPauseButton;
    platform::uikit::Button* m_forwardButton;
    platform::uikit::Slider* m_progressSlider;
    platform::uikit::Label* m_currentTimeLabel;
    platform::uikit::Label* m_durationLabel;
    platform::uikit::Label* m_seekHintLabel;
    platform::uikit::ImageView* m_pausedOverlay;
    platform::uikit::View* m_airPlayHost;
    platform::uikit::Button* m_danmakuToggleButton;
    platform::uikit::Button* m_danmakuSettingsButton;
    platform::uikit::TapGestureRecognizer* m_tapRecognizer;
    platform::uikit::TapGestureRecognizer* m_doubleTapRecognizer;
    platform::uikit::PanGestureRecognizer* m_panRecognizer;
    platform::media::VolumeView* m_systemVolumeView;
    double m_duration = 0;
    double m_currentTime = 0;
    double m_panStartTime = 0;
    QPointF m_panStartLocation;
    double m_panStartBrightness = 0.5;
    double m_panStartVolume = 0.5;
    double m_panTarget = 0;
    int m_surfacePanMode = 0;
    bool m_playing = false;
    bool m_qualitySwitching = false;
    bool m_controlsVisible = true;
    bool m_scrubbing = false;
    bool m_fullscreen = false;
    bool m_portraitVideo = false;
    bool m_offlineCompactMode = false;
    bool m_danmakuEnabled = true;
    bool m_airPlayRouteSelectionEnabled = true;
    int m_airPlayInterfaceOrientation = 1;
    platform::uikit::AnimationClock::Id m_hideTimer = 0;
    quint64 m_visibilityGeneration = 0;
};

// The route button of the system volume view, its volume slider hidden.
platform::media::VolumeView* KRCreateAirPlayRouteView();
// The view itself when it is a slider, else the first slider below it, depth first.
platform::uikit::Slider* KRFindSliderInView(QWidget* view);

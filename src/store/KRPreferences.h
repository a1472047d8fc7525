#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// Posted (object: the preferences object, no user info) after a setter changed a value.
inline const QString KRPreferencesDidChangeNotification = QStringLiteral("KRPreferencesDidChangeNotification");

// "360P 流畅" for 16 … "8K 超高清" for 127; "自动" for 0 and every unknown value.
QString KRQualityTitleForValue(int quality);

// The user's settings and the device profile the rest of the system tunes itself by.
// Holds nothing itself: every getter reads the standard user defaults (supplying the key's
// default and normalising values outside the accepted set), every setter writes,
// synchronises and posts KRPreferencesDidChangeNotification. Getters may be called from
// any thread; setters run on the main thread.
class KRPreferences {
public:
    static KRPreferences& sharedPreferences();

    KRPreferences(const KRPreferences&) = delete;
    KRPreferences& operator=(const KRPreferences&) = delete;

    // Playback.
    bool detailAutoPlayEnabled() const;
    void setDetailAutoPlayEnabled(bool enabled);
    bool cellularAutoPlayEnabled() const;
    void setCellularAutoPlayEnabled(bool enabled);
    bool detailAutoFullscreenEnabled() const;
    void setDetailAutoFullscreenEnabled(bool enabled);
    bool portraitVideoFullscreenEnabled() const;
    void setPortraitVideoFullscreenEnabled(bool enabled);
    bool backgroundAudioEnabled() const;
    void setBackgroundAudioEnabled(bool enabled);
    // Turning continuation off also ends looping.
    bool autoContinueEnabled() const;
    void setAutoContinueEnabled(bool enabled);
    // 0 none, 1 single item, 2 list; looping switches continuation on.
    int playbackLoopMode() const;
    void setPlaybackLoopMode(int mode);
    // 0 single column, 1 two columns.
    int videoListLayout() const;
    void setVideoListLayout(int layout);

    // The lab.
    bool experimentalFeaturesEnabled() const;
    void setExperimentalFeaturesEnabled(bool enabled);
    bool messageCenterEnabled() const;
    void setMessageCenterEnabled(bool enabled);
    bool continuousStatusBarStyleEnabled() const;
    void setContinuousStatusBarStyleEnabled(bool enabled);
    bool iPadModeEnabled() const;
    void setIPadModeEnabled(bool enabled);

    // 0 automatic; only qualities the device can play come out.
    int preferredQuality() const;
    void setPreferredQuality(int quality);

    // Danmaku: 0 automatic by device, 1 清爽, 2 标准, 3 热闹, 4 custom. The five values are
    // the resolved preset's; under the custom preset they are the stored custom values.
    int danmakuPreset() const;
    void setDanmakuPreset(int preset);
    int danmakuMaximumActive() const;
    void setDanmakuMaximumActive(int value);
    int danmakuDisplayAreaPercent() const;
    void setDanmakuDisplayAreaPercent(int value);
    int danmakuOpacityPercent() const;
    void setDanmakuOpacityPercent(int value);
    int danmakuDensityPercent() const;
    void setDanmakuDensityPercent(int value);
    int danmakuFontLevel() const;
    void setDanmakuFontLevel(int value);

    // Device profile, read anew on every call.
    QString currentMachineIdentifier() const;
    QString currentDeviceDisplayName() const;
    bool isA4OrEarlierDevice() const;
    int devicePlaybackClass() const;
    int recommendedDanmakuPresetForCurrentDevice() const;
    int recommendedDanmakuMaximumActiveForCurrentDevice() const;
    int resolvedDanmakuPreset() const;

    // Qualities.
    QList<int> supportedQualityValuesForCurrentDevice() const;
    QStringList supportedQualityTitlesForCurrentDevice() const;
    bool isQualitySupportedForCurrentDevice(int quality) const;
    bool supports1080PForCurrentDevice() const;
    int automaticPlaybackQualityForCurrentDevice() const;
    QString automaticPlaybackQualityTitleForCurrentDevice() const;
    QString maximumSupportedQualityTitleForCurrentDevice() const;
    // The tiers the play-address chain tries, best first.
    QList<int> playbackQualityFallbackValuesForCurrentDevice() const;
    int resolvedQualityFromAvailableValues(const QList<int>& availableValues) const;

    // Display texts of the settings screens.
    QString preferredQualityTitle() const;
    QString playbackLoopModeTitle() const;
    QString videoListLayoutTitle() const;
    QString danmakuPresetTitle() const;
    QString danmakuQuantityTitle() const;
    QString danmakuDisplayAreaTitle() const;
    QString danmakuOpacityTitle() const;
    QString danmakuFontTitle() const;
    QString danmakuDensityTitle() const;

private:
    KRPreferences() = default;

    struct DanmakuValues {
        int maximumActive;
        int displayAreaPercent;
        int opacityPercent;
        int densityPercent;
        int fontLevel;
    };
    DanmakuValues danmakuValues() const;
    DanmakuValues storedCustomDanmakuValues() const;
    void setCustomDanmakuValue(const QString& key, int value);
    void setBoolIfChanged(const QString& key, bool value, bool current);
    void didChange();
};

#include "store/KRPreferences.h"

#include "platform/device/DeviceProfile.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/LabSeams.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/UserDefaults.h"
#include "store/KRDeviceCatalog.h"

#include <algorithm>
#include <initializer_list>

namespace {

const QString kDetailAutoPlayEnabled = QStringLiteral("KRDetailAutoPlayEnabled");
const QString kCellularAutoPlayEnabled = QStringLiteral("KRCellularAutoPlayEnabled");
const QString kDetailAutoFullscreenEnabled = QStringLiteral("KRDetailAutoFullscreenEnabled");
const QString kPortraitVideoFullscreenEnabled = QStringLiteral("KRPortraitVideoFullscreenEnabled");
const QString kBackgroundAudioEnabled = QStringLiteral("KRBackgroundAudioEnabled");
const QString kAutoContinueEnabled = QStringLiteral("KRAutoContinueEnabled");
const QString kPlaybackLoopMode = QStringLiteral("KRPlaybackLoopMode");
const QString kVideoListLayout = QStringLiteral("KRVideoListLayout");
const QString kExperimentalFeaturesEnabled = QStringLiteral("KRExperimentalFeaturesEnabled");
const QString kMessageCenterEnabled = QStringLiteral("KRMessageCenterEnabled");
const QString kContinuousStatusBarStyleEnabled = QStringLiteral("KRContinuousStatusBarStyleEnabled");
const QString kIPadModeEnabled = QStringLiteral("KRIPadModeEnabled");
const QString kPreferredQuality = QStringLiteral("KRPreferredQuality");
const QString kDanmakuPreset = QStringLiteral("KRDanmakuPreset");
const QString kDanmakuMaximumActive = QStringLiteral("KRDanmakuMaximumActive");
const QString kDanmakuDisplayAreaPercent = QStringLiteral("KRDanmakuDisplayAreaPercent");
const QString kDanmakuOpacityPercent = QStringLiteral("KRDanmakuOpacityPercent");
const QString kDanmakuDensityPercent = QStringLiteral("KRDanmakuDensityPercent");
const QString kDanmakuFontLevel = QStringLiteral("KRDanmakuFontLevel");

constexpr int kDefaultMaximumActive = 12;
constexpr int kDefaultDisplayAreaPercent = 50;
constexpr int kDefaultOpacityPercent = 60;
constexpr int kDefaultDensityPercent = 80;
constexpr int kDefaultFontLevel = 100;
constexpr int kCustomPreset = 4;

platform::UserDefaults& defaults() { return platform::UserDefaults::standard(); }

bool contains(std::initializer_list<qint64> accepted, qint64 value)
{
    return std::find(accepted.begin(), accepted.end(), value) != accepted.end();
}

int oneOf(std::initializer_list<qint64> accepted, qint64 value, int fallback)
{
    return contains(accepted, value) ? int(value) : fallback;
}

int normalizedLoopMode(qint64 mode) { return (mode == 1 || mode == 2) ? int(mode) : 0; }
int normalizedMaximumActive(qint64 value) { return oneOf({0, 8, 12, 18, 24, 32}, value, kDefaultMaximumActive); }
int normalizedDisplayArea(qint64 value) { return oneOf({10, 25, 50, 75, 100}, value, kDefaultDisplayAreaPercent); }
int normalizedOpacity(qint64 value) { return oneOf({20, 40, 60, 80, 100}, value, kDefaultOpacityPercent); }
int normalizedDensity(qint64 value) { return oneOf({60, 80, 100}, value, kDefaultDensityPercent); }

int normalizedFontLevel(qint64 value)
{
    // 0 and 2 are the index form an older release stored.
    if (value == 0)
        return 50;
    if (value == 2)
        return 150;
    return oneOf({50, 100, 150, 200}, value, kDefaultFontLevel);
}

bool isKnownQualityValue(qint64 quality)
{
    return contains({0, 16, 32, 64, 80, 112, 116, 120, 125, 126, 127}, quality);
}

bool isA4OrEarlierMachineIdentifier(const QString& machine)
{
    for (const char* prefix : {"iPhone1,", "iPhone2,", "iPhone3,", "iPod1,", "iPod2,", "iPod3,", "iPod4,"}) {
        if (machine.startsWith(QLatin1String(prefix)))
            return true;
    }
    return machine == QLatin1String("iPad1,1");
}

QString percentTitle(int value) { return QStringLiteral("%1%").arg(value); }

} // namespace

QString KRQualityTitleForValue(int quality)
{
    switch (quality) {
    case 16: return QStringLiteral("360P 流畅");
    case 32: return QStringLiteral("480P 清晰");
    case 64: return QStringLiteral("720P 高清");
    case 80: return QStringLiteral("1080P 高清");
    case 112: return QStringLiteral("1080P+ 高码率");
    case 116: return QStringLiteral("1080P60");
    case 120: return QStringLiteral("4K 超清");
    case 125: return QStringLiteral("HDR 真彩");
    case 126: return QStringLiteral("杜比视界");
    case 127: return QStringLiteral("8K 超高清");
    default: return QStringLiteral("自动");
    }
}

KRPreferences& KRPreferences::sharedPreferences()
{
    static KRPreferences preferences;
    return preferences;
}

// Every change ends here; changes are the main thread's, as their notification is.
void KRPreferences::didChange()
{
    platform::assertMainThread("KRPreferences (a change)");
    defaults().synchronize();
    platform::NotificationCenter::defaultCenter().post(KRPreferencesDidChangeNotification, this);
}

void KRPreferences::setBoolIfChanged(const QString& key, bool value, bool current)
{
    if (value == current)
        return;
    defaults().setObject(key, value);
    didChange();
}

// MARK: - Plain switches

bool KRPreferences::detailAutoPlayEnabled() const { return defaults().boolean(kDetailAutoPlayEnabled, false); }
void KRPreferences::setDetailAutoPlayEnabled(bool enabled) { setBoolIfChanged(kDetailAutoPlayEnabled, enabled, detailAutoPlayEnabled()); }

bool KRPreferences::cellularAutoPlayEnabled() const { return defaults().boolean(kCellularAutoPlayEnabled, false); }
void KRPreferences::setCellularAutoPlayEnabled(bool enabled) { setBoolIfChanged(kCellularAutoPlayEnabled, enabled, cellularAutoPlayEnabled()); }

bool KRPreferences::detailAutoFullscreenEnabled() const { return defaults().boolean(kDetailAutoFullscreenEnabled, false); }
void KRPreferences::setDetailAutoFullscreenEnabled(bool enabled) { setBoolIfChanged(kDetailAutoFullscreenEnabled, enabled, detailAutoFullscreenEnabled()); }

bool KRPreferences::portraitVideoFullscreenEnabled() const { return defaults().boolean(kPortraitVideoFullscreenEnabled, true); }
void KRPreferences::setPortraitVideoFullscreenEnabled(bool enabled) { setBoolIfChanged(kPortraitVideoFullscreenEnabled, enabled, portraitVideoFullscreenEnabled()); }

bool KRPreferences::backgroundAudioEnabled() const { return defaults().boolean(kBackgroundAudioEnabled, false); }
void KRPreferences::setBackgroundAudioEnabled(bool enabled) { setBoolIfChanged(kBackgroundAudioEnabled, enabled, backgroundAudioEnabled()); }

// Off unless set, or unless the run asks for the lab (no settings screen offers the switch yet).
bool KRPreferences::experimentalFeaturesEnabled() const
{
    return defaults().boolean(kExperimentalFeaturesEnabled, platform::LabSeams::experimentalFeaturesByDefault());
}
void KRPreferences::setExperimentalFeaturesEnabled(bool enabled) { setBoolIfChanged(kExperimentalFeaturesEnabled, enabled, experimentalFeaturesEnabled()); }

bool KRPreferences::messageCenterEnabled() const { return defaults().boolean(kMessageCenterEnabled, true); }
void KRPreferences::setMessageCenterEnabled(bool enabled) { setBoolIfChanged(kMessageCenterEnabled, enabled, messageCenterEnabled()); }

bool KRPreferences::continuousStatusBarStyleEnabled() const { return defaults().boolean(kContinuousStatusBarStyleEnabled, false); }
void KRPreferences::setContinuousStatusBarStyleEnabled(bool enabled) { setBoolIfChanged(kContinuousStatusBarStyleEnabled, enabled, continuousStatusBarStyleEnabled()); }

bool KRPreferences::iPadModeEnabled() const { return defaults().boolean(kIPadModeEnabled, false); }
void KRPreferences::setIPadModeEnabled(bool enabled) { setBoolIfChanged(kIPadModeEnabled, enabled, iPadModeEnabled()); }

// MARK: - Continuation and looping

bool KRPreferences::autoContinueEnabled() const { return defaults().boolean(kAutoContinueEnabled, false); }

void KRPreferences::setAutoContinueEnabled(bool enabled)
{
    if (enabled == autoContinueEnabled())
        return;
    defaults().setObject(kAutoContinueEnabled, enabled);
    if (!enabled)
        defaults().setObject(kPlaybackLoopMode, qint64(0));
    didChange();
}

int KRPreferences::playbackLoopMode() const { return normalizedLoopMode(defaults().integer(kPlaybackLoopMode, 0)); }

void KRPreferences::setPlaybackLoopMode(int mode)
{
    const int normalized = normalizedLoopMode(mode);
    if (normalized == 0) {
        if (playbackLoopMode() == 0)
            return;
        defaults().setObject(kPlaybackLoopMode, qint64(0));
        didChange();
        return;
    }
    if (playbackLoopMode() == normalized && autoContinueEnabled())
        return;
    defaults().setObject(kPlaybackLoopMode, qint64(normalized));
    defaults().setObject(kAutoContinueEnabled, true);
    didChange();
}

int KRPreferences::videoListLayout() const { return defaults().integer(kVideoListLayout, 0) == 1 ? 1 : 0; }

void KRPreferences::setVideoListLayout(int layout)
{
    const int normalized = layout == 1 ? 1 : 0;
    if (normalized == videoListLayout())
        return;
    defaults().setObject(kVideoListLayout, qint64(normalized));
    didChange();
}

// MARK: - Quality

int KRPreferences::preferredQuality() const
{
    const qint64 stored = defaults().integer(kPreferredQuality, 0);
    if (!isKnownQualityValue(stored) || !isQualitySupportedForCurrentDevice(int(stored)))
        return 0;
    return int(stored);
}

void KRPreferences::setPreferredQuality(int quality)
{
    int normalized = isKnownQualityValue(quality) ? quality : 0;
    if (!isQualitySupportedForCurrentDevice(normalized))
        normalized = 0;
    if (normalized == preferredQuality())
        return;
    defaults().setObject(kPreferredQuality, qint64(normalized));
    didChange();
}

QList<int> KRPreferences::supportedQualityValuesForCurrentDevice() const
{
    QList<int> values{0, 16};
    const int playbackClass = devicePlaybackClass();
    if (playbackClass >= 1)
        values.append(64);
    if (playbackClass >= 2)
        values.append(80);
    return values;
}

QStringList KRPreferences::supportedQualityTitlesForCurrentDevice() const
{
    QStringList titles;
    for (int value : supportedQualityValuesForCurrentDevice())
        titles.append(KRQualityTitleForValue(value));
    return titles;
}

bool KRPreferences::isQualitySupportedForCurrentDevice(int quality) const
{
    if (quality == 6 || quality == 32)
        return false;
    return supportedQualityValuesForCurrentDevice().contains(quality);
}

bool KRPreferences::supports1080PForCurrentDevice() const { return supportedQualityValuesForCurrentDevice().contains(80); }

int KRPreferences::automaticPlaybackQualityForCurrentDevice() const
{
    if (isA4OrEarlierDevice())
        return 16;
    switch (devicePlaybackClass()) {
    case 0: return 16;
    case 1:
    case 2: return 64;
    case 3:
    case 4: return 80;
    default: return 64;
    }
}

QString KRPreferences::automaticPlaybackQualityTitleForCurrentDevice() const
{
    return KRQualityTitleForValue(automaticPlaybackQualityForCurrentDevice());
}

QString KRPreferences::maximumSupportedQualityTitleForCurrentDevice() const
{
    const QList<int> values = supportedQualityValuesForCurrentDevice();
    return values.isEmpty() ? QStringLiteral("360P 流畅") : KRQualityTitleForValue(values.last());
}

QList<int> KRPreferences::playbackQualityFallbackValuesForCurrentDevice() const
{
    int quality = preferredQuality();
    if (quality < 1)
        quality = automaticPlaybackQualityForCurrentDevice();
    const int first = isQualitySupportedForCurrentDevice(quality) ? quality : 64;
    QList<int> tiers{first};
    if (first == 16)
        return tiers;
    if (first <= 64) {
        tiers.append(16);
        return tiers;
    }
    if (isQualitySupportedForCurrentDevice(64))
        tiers.append(64);
    tiers.append(16);
    return tiers;
}

int KRPreferences::resolvedQualityFromAvailableValues(const QList<int>& availableValues) const
{
    const int preferred = preferredQuality();
    return (preferred >= 1 && availableValues.contains(preferred)) ? preferred : 0;
}

// MARK: - Device profile

QString KRPreferences::currentMachineIdentifier() const
{
    const QString machine = platform::DeviceProfile::machine();
    return machine.isEmpty() ? QStringLiteral("unknown") : machine;
}

QString KRPreferences::currentDeviceDisplayName() const { return KRDeviceDisplayNameForMachineIdentifier(currentMachineIdentifier()); }

bool KRPreferences::isA4OrEarlierDevice() const { return isA4OrEarlierMachineIdentifier(currentMachineIdentifier()); }

int KRPreferences::devicePlaybackClass() const { return KRDevicePlaybackClassForMachineIdentifier(currentMachineIdentifier()); }

int KRPreferences::recommendedDanmakuPresetForCurrentDevice() const
{
    const QString machine = currentMachineIdentifier();
    if (isA4OrEarlierMachineIdentifier(machine))
        return 1;
    for (const char* prefix : {"iPhone4,", "iPhone5,", "iPad2,", "iPad3,", "iPod5,", "i386", "x86_"}) {
        if (machine.startsWith(QLatin1String(prefix)))
            return 2;
    }
    if (machine == QLatin1String("unknown"))
        return 2;
    return 3;
}

int KRPreferences::recommendedDanmakuMaximumActiveForCurrentDevice() const
{
    switch (recommendedDanmakuPresetForCurrentDevice()) {
    case 1: return 8;
    case 3: return 24;
    default: return 12;
    }
}

// MARK: - Danmaku

int KRPreferences::danmakuPreset() const
{
    const qint64 stored = defaults().integer(kDanmakuPreset, 0);
    return (stored >= 0 && stored <= kCustomPreset) ? int(stored) : 0;
}

void KRPreferences::setDanmakuPreset(int preset)
{
    // The custom preset is chosen by changing a custom value, never directly.
    const int normalized = (preset >= 0 && preset <= 3) ? preset : 0;
    if (normalized == danmakuPreset())
        return;
    defaults().setObject(kDanmakuPreset, qint64(normalized));
    didChange();
}

int KRPreferences::resolvedDanmakuPreset() const
{
    const int stored = danmakuPreset();
    return stored != 0 ? stored : recommendedDanmakuPresetForCurrentDevice();
}

KRPreferences::DanmakuValues KRPreferences::storedCustomDanmakuValues() const
{
    auto& store = defaults();
    return {
        normalizedMaximumActive(store.integer(kDanmakuMaximumActive, kDefaultMaximumActive)),
        normalizedDisplayArea(store.integer(kDanmakuDisplayAreaPercent, kDefaultDisplayAreaPercent)),
        normalizedOpacity(store.integer(kDanmakuOpacityPercent, kDefaultOpacityPercent)),
        normalizedDensity(store.integer(kDanmakuDensityPercent, kDefaultDensityPercent)),
        normalizedFontLevel(store.integer(kDanmakuFontLevel, kDefaultFontLevel)),
    };
}

KRPreferences::DanmakuValues KRPreferences::danmakuValues() const
{
    switch (resolvedDanmakuPreset()) {
    case 1: return {8, 25, 60, 60, 100};
    case 3: return {24, 75, 60, 100, 100};
    case kCustomPreset: return storedCustomDanmakuValues();
    default: return {12, 50, 60, 80, 100};
    }
}

int KRPreferences::danmakuMaximumActive() const { return danmakuValues().maximumActive; }
int KRPreferences::danmakuDisplayAreaPercent() const { return danmakuValues().displayAreaPercent; }
int KRPreferences::danmakuOpacityPercent() const { return danmakuValues().opacityPercent; }
int KRPreferences::danmakuDensityPercent() const { return danmakuValues().densityPercent; }
int KRPreferences::danmakuFontLevel() const { return danmakuValues().fontLevel; }

void KRPreferences::setCustomDanmakuValue(const QString& key, int value)
{
    // Only this value is written: the other stored custom values stay as the user left
    // them, also when this write is what leaves a preset for the custom one.
    auto& store = defaults();
    store.setObject(key, qint64(value));
    store.setObject(kDanmakuPreset, qint64(kCustomPreset));
    didChange();
}

void KRPreferences::setDanmakuMaximumActive(int value) { setCustomDanmakuValue(kDanmakuMaximumActive, normalizedMaximumActive(value)); }
void KRPreferences::setDanmakuDisplayAreaPercent(int value) { setCustomDanmakuValue(kDanmakuDisplayAreaPercent, normalizedDisplayArea(value)); }
void KRPreferences::setDanmakuOpacityPercent(int value) { setCustomDanmakuValue(kDanmakuOpacityPercent, normalizedOpacity(value)); }
void KRPreferences::setDanmakuDensityPercent(int value) { setCustomDanmakuValue(kDanmakuDensityPercent, normalizedDensity(value)); }
void KRPreferences::setDanmakuFontLevel(int value)
{
    // Writes take only the current form; the old index form is understood on read alone.
    setCustomDanmakuValue(kDanmakuFontLevel, oneOf({50, 100, 150, 200}, value, kDefaultFontLevel));
}

// MARK: - Titles

QString KRPreferences::preferredQualityTitle() const { return KRQualityTitleForValue(preferredQuality()); }

QString KRPreferences::playbackLoopModeTitle() const
{
    switch (playbackLoopMode()) {
    case 1: return QStringLiteral("单集循环");
    case 2: return QStringLiteral("列表循环");
    default: return QStringLiteral("不循环");
    }
}

QString KRPreferences::videoListLayoutTitle() const { return videoListLayout() == 1 ? QStringLiteral("双排") : QStringLiteral("单排"); }

QString KRPreferences::danmakuPresetTitle() const
{
    switch (danmakuPreset()) {
    case 1: return QStringLiteral("清爽模式");
    case 2: return QStringLiteral("标准模式");
    case 3: return QStringLiteral("热闹模式");
    case 4: return QStringLiteral("自定义");
    default: return QStringLiteral("智能均衡");
    }
}

QString KRPreferences::danmakuQuantityTitle() const
{
    switch (danmakuMaximumActive()) {
    case 0: return QStringLiteral("烤机 · 无限制");
    case 8: return QStringLiteral("清爽 · 8 条");
    case 18: return QStringLiteral("热闹 · 18 条");
    case 24: return QStringLiteral("满屏 · 24 条");
    case 32: return QStringLiteral("堆叠 · 32 条");
    default: return QStringLiteral("标准 · 12 条");
    }
}

QString KRPreferences::danmakuDisplayAreaTitle() const { return percentTitle(danmakuDisplayAreaPercent()); }
QString KRPreferences::danmakuOpacityTitle() const { return percentTitle(danmakuOpacityPercent()); }
QString KRPreferences::danmakuFontTitle() const { return percentTitle(danmakuFontLevel()); }

QString KRPreferences::danmakuDensityTitle() const
{
    switch (danmakuDensityPercent()) {
    case 60: return QStringLiteral("疏朗");
    case 100: return QStringLiteral("紧凑");
    default: return QStringLiteral("标准");
    }
}

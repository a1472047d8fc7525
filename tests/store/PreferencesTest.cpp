#include "platform/device/DeviceProfile.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/UserDefaults.h"
#include "store/KRDeviceCatalog.h"
#include "store/KRPreferences.h"
#include "support/TestSupport.h"

#include <QSet>

#include <gtest/gtest.h>

namespace {

const bool registered = [] {
    testsupport::onEachTestStart([] { platform::DeviceProfile::resetForTesting(); });
    return true;
}();

platform::UserDefaults& defaults() { return platform::UserDefaults::standard(); }

// Counts change notifications from the shared preferences for as long as it lives.
class ChangeCounter {
public:
    ChangeCounter()
        : m_token(platform::NotificationCenter::defaultCenter().addObserver(
              KRPreferencesDidChangeNotification, nullptr, [this](const platform::Notification& note) {
                  ++count;
                  lastObject = note.object;
              }))
    {
    }
    int count = 0;
    const void* lastObject = nullptr;

private:
    platform::ObserverToken m_token;
};

// The preference file as another launch would read it.
QVariant storedOnDisk(const QString& key)
{
    platform::UserDefaults fresh(defaults().path());
    return fresh.object(key);
}

KRPreferences& prefs() { return KRPreferences::sharedPreferences(); }

} // namespace

TEST(Preferences, DefaultsWhenNothingIsStored)
{
    platform::DeviceProfile::setMachineForTesting(QStringLiteral("iPhone12,1"));
    EXPECT_FALSE(prefs().detailAutoPlayEnabled());
    EXPECT_FALSE(prefs().cellularAutoPlayEnabled());
    EXPECT_TRUE(prefs().portraitVideoFullscreenEnabled());
    EXPECT_TRUE(prefs().messageCenterEnabled());
    EXPECT_FALSE(prefs().autoContinueEnabled());
    EXPECT_EQ(prefs().playbackLoopMode(), 0);
    EXPECT_EQ(prefs().videoListLayout(), 0);
    EXPECT_EQ(prefs().preferredQuality(), 0);
    EXPECT_EQ(prefs().preferredQualityTitle(), QStringLiteral("自动"));
    EXPECT_EQ(prefs().danmakuPreset(), 0);
    EXPECT_EQ(prefs().danmakuPresetTitle(), QStringLiteral("智能均衡"));
    // Automatic on a recent phone follows 热闹.
    EXPECT_EQ(prefs().resolvedDanmakuPreset(), 3);
    EXPECT_EQ(prefs().danmakuMaximumActive(), 24);
    EXPECT_EQ(prefs().danmakuDisplayAreaPercent(), 75);
    EXPECT_EQ(prefs().danmakuDensityPercent(), 100);
    EXPECT_EQ(prefs().danmakuDisplayAreaTitle(), QStringLiteral("75%"));
    EXPECT_EQ(prefs().danmakuQuantityTitle(), QStringLiteral("满屏 · 24 条"));
}

TEST(Preferences, LoopModeNormalisesAndCouplesWithContinuation)
{
    ChangeCounter changes;
    defaults().setObject(QStringLiteral("KRPlaybackLoopMode"), 3);
    EXPECT_EQ(prefs().playbackLoopMode(), 0);
    defaults().setObject(QStringLiteral("KRPlaybackLoopMode"), -1);
    EXPECT_EQ(prefs().playbackLoopMode(), 0);
    EXPECT_EQ(prefs().playbackLoopModeTitle(), QStringLiteral("不循环"));

    // Stored mode is not 0 but reads as 0: setting 0 changes nothing.
    prefs().setPlaybackLoopMode(0);
    EXPECT_EQ(changes.count, 0);

    prefs().setPlaybackLoopMode(2);
    EXPECT_EQ(changes.count, 1);
    EXPECT_EQ(changes.lastObject, &prefs());
    EXPECT_EQ(storedOnDisk(QStringLiteral("KRPlaybackLoopMode")).toLongLong(), 2);
    EXPECT_TRUE(storedOnDisk(QStringLiteral("KRAutoContinueEnabled")).toBool());
    prefs().setPlaybackLoopMode(2);
    EXPECT_EQ(changes.count, 1);

    prefs().setPlaybackLoopMode(5);
    EXPECT_EQ(changes.count, 2);
    EXPECT_EQ(defaults().integer(QStringLiteral("KRPlaybackLoopMode"), -9), 0);
    EXPECT_TRUE(prefs().autoContinueEnabled()) << "ending the loop leaves continuation alone";

    prefs().setPlaybackLoopMode(1);
    prefs().setAutoContinueEnabled(false);
    EXPECT_EQ(changes.count, 4);
    EXPECT_EQ(prefs().playbackLoopMode(), 0);
    EXPECT_FALSE(prefs().autoContinueEnabled());

    // Looping while continuation is off switches it back on, even for the same mode.
    defaults().setObject(QStringLiteral("KRPlaybackLoopMode"), 1);
    prefs().setPlaybackLoopMode(1);
    EXPECT_EQ(changes.count, 5);
    EXPECT_TRUE(prefs().autoContinueEnabled());
}

TEST(Preferences, SwitchesPostOnlyOnChange)
{
    ChangeCounter changes;
    prefs().setPortraitVideoFullscreenEnabled(true);  // already true by default
    EXPECT_FALSE(defaults().contains(QStringLiteral("KRPortraitVideoFullscreenEnabled")));
    prefs().setBackgroundAudioEnabled(false);
    prefs().setVideoListLayout(7);  // means single column, the current layout
    EXPECT_EQ(changes.count, 0);

    prefs().setBackgroundAudioEnabled(true);
    prefs().setIPadModeEnabled(true);
    prefs().setVideoListLayout(1);
    EXPECT_EQ(changes.count, 3);
    EXPECT_TRUE(storedOnDisk(QStringLiteral("KRBackgroundAudioEnabled")).toBool());
    EXPECT_TRUE(prefs().iPadModeEnabled());
    EXPECT_EQ(prefs().videoListLayoutTitle(), QStringLiteral("双排"));

    // Continuation turned on does not touch the loop mode.
    defaults().setObject(QStringLiteral("KRPlaybackLoopMode"), 2);
    prefs().setAutoContinueEnabled(true);
    EXPECT_EQ(prefs().playbackLoopMode(), 2);
}

TEST(Preferences, PreferredQualityFollowsTheDevice)
{
    ChangeCounter changes;
    // Class 1: no 1080P; a stored 80 reads as automatic.
    platform::DeviceProfile::setMachineForTesting(QStringLiteral("iPad1,2"));
    defaults().setObject(QStringLiteral("KRPreferredQuality"), 80);
    EXPECT_EQ(prefs().preferredQuality(), 0);
    EXPECT_EQ(prefs().preferredQualityTitle(), QStringLiteral("自动"));
    EXPECT_EQ(prefs().supportedQualityValuesForCurrentDevice(), (QList<int>{0, 16, 64}));
    EXPECT_EQ(prefs().maximumSupportedQualityTitleForCurrentDevice(), QStringLiteral("720P 高清"));
    EXPECT_FALSE(prefs().supports1080PForCurrentDevice());

    platform::DeviceProfile::setMachineForTesting(QStringLiteral("iPhone12,1"));
    EXPECT_EQ(prefs().preferredQuality(), 80);
    prefs().setPreferredQuality(64);
    EXPECT_EQ(changes.count, 1);
    EXPECT_EQ(prefs().playbackQualityFallbackValuesForCurrentDevice(), (QList<int>{64, 16}));
    EXPECT_EQ(prefs().resolvedQualityFromAvailableValues({16, 64}), 64);
    EXPECT_EQ(prefs().resolvedQualityFromAvailableValues({16, 80}), 0);
    prefs().setPreferredQuality(32);  // never playable as a preference
    EXPECT_EQ(changes.count, 2);
    EXPECT_EQ(storedOnDisk(QStringLiteral("KRPreferredQuality")).toLongLong(), 0);
    prefs().setPreferredQuality(999);
    EXPECT_EQ(changes.count, 2);
    EXPECT_FALSE(prefs().isQualitySupportedForCurrentDevice(6));
    EXPECT_TRUE(prefs().isQualitySupportedForCurrentDevice(0));
}

TEST(Preferences, DanmakuPresetsAndCustomValues)
{
    ChangeCounter changes;
    platform::DeviceProfile::setMachineForTesting(QStringLiteral("iPhone12,1"));
    defaults().setObject(QStringLiteral("KRDanmakuFontLevel"), 2);
    EXPECT_EQ(prefs().danmakuFontLevel(), 100) << "stored custom values count only under the custom preset";
    defaults().setObject(QStringLiteral("KRDanmakuPreset"), 4);
    EXPECT_EQ(prefs().danmakuFontLevel(), 150);
    EXPECT_EQ(prefs().danmakuFontTitle(), QStringLiteral("150%"));
    defaults().setObject(QStringLiteral("KRDanmakuFontLevel"), 0);
    EXPECT_EQ(prefs().danmakuFontLevel(), 50);
    defaults().setObject(QStringLiteral("KRDanmakuPreset"), 9);
    EXPECT_EQ(prefs().danmakuPreset(), 0);

    prefs().setDanmakuPreset(2);
    prefs().setDanmakuPreset(4);  // custom cannot be chosen directly
    EXPECT_EQ(changes.count, 2);
    EXPECT_EQ(defaults().integer(QStringLiteral("KRDanmakuPreset"), -1), 0);

    // Under 清爽, one custom change keeps the other values the user was seeing.
    prefs().setDanmakuPreset(1);
    prefs().setDanmakuOpacityPercent(80);
    EXPECT_EQ(prefs().danmakuPreset(), 4);
    EXPECT_EQ(prefs().danmakuOpacityPercent(), 80);
    EXPECT_EQ(prefs().danmakuMaximumActive(), 8);
    EXPECT_EQ(prefs().danmakuDisplayAreaPercent(), 25);
    EXPECT_EQ(prefs().danmakuDensityPercent(), 60);
    EXPECT_EQ(prefs().danmakuFontLevel(), 100);

    // Custom setters post every time and normalise unknown values to the key's default.
    const int before = changes.count;
    prefs().setDanmakuOpacityPercent(80);
    prefs().setDanmakuDisplayAreaPercent(33);
    prefs().setDanmakuMaximumActive(0);
    prefs().setDanmakuFontLevel(2);
    EXPECT_EQ(changes.count, before + 4);
    EXPECT_EQ(prefs().danmakuDisplayAreaPercent(), 50);
    EXPECT_EQ(prefs().danmakuMaximumActive(), 0);
    EXPECT_EQ(prefs().danmakuQuantityTitle(), QStringLiteral("烤机 · 无限制"));
    EXPECT_EQ(prefs().danmakuFontLevel(), 100);
    EXPECT_EQ(storedOnDisk(QStringLiteral("KRDanmakuPreset")).toLongLong(), 4);
}

TEST(Preferences, DeviceProfileOfKnownAndUnknownMachines)
{
    auto& p = prefs();
    platform::DeviceProfile::setMachineForTesting(QStringLiteral("iPad1,1"));
    EXPECT_TRUE(p.isA4OrEarlierDevice());
    EXPECT_EQ(p.devicePlaybackClass(), 1);
    EXPECT_EQ(p.playbackQualityFallbackValuesForCurrentDevice(), QList<int>{16});
    EXPECT_EQ(p.recommendedDanmakuPresetForCurrentDevice(), 1);
    EXPECT_EQ(p.danmakuMaximumActive(), 8);
    EXPECT_EQ(p.currentDeviceDisplayName(), QStringLiteral("iPad"));

    platform::DeviceProfile::setMachineForTesting(QStringLiteral("iPad1,2"));
    EXPECT_FALSE(p.isA4OrEarlierDevice());
    EXPECT_EQ(p.devicePlaybackClass(), 1);

    platform::DeviceProfile::setMachineForTesting(QStringLiteral("iPhone10,3"));
    EXPECT_EQ(p.currentDeviceDisplayName(), QStringLiteral("iPhone X"));
    EXPECT_EQ(p.devicePlaybackClass(), 3);
    EXPECT_EQ(p.playbackQualityFallbackValuesForCurrentDevice(), (QList<int>{80, 64, 16}));
    EXPECT_EQ(p.automaticPlaybackQualityTitleForCurrentDevice(), QStringLiteral("1080P 高清"));
    EXPECT_EQ(p.supportedQualityTitlesForCurrentDevice(),
              (QStringList{QStringLiteral("自动"), QStringLiteral("360P 流畅"), QStringLiteral("720P 高清"), QStringLiteral("1080P 高清")}));

    // Unknown machines: class 2, automatic 720P, the 标准 danmaku preset.
    for (const QString machine : {QStringLiteral("unknown"), QStringLiteral("Watch3,1")}) {
        platform::DeviceProfile::setMachineForTesting(machine);
        EXPECT_FALSE(p.isA4OrEarlierDevice()) << machine.toStdString();
        EXPECT_EQ(p.devicePlaybackClass(), 2) << machine.toStdString();
        EXPECT_EQ(p.playbackQualityFallbackValuesForCurrentDevice(), (QList<int>{64, 16})) << machine.toStdString();
        EXPECT_EQ(p.currentDeviceDisplayName(), machine);
    }
    EXPECT_EQ(p.recommendedDanmakuPresetForCurrentDevice(), 3) << "only \"unknown\" itself counts as an older model";
    platform::DeviceProfile::setMachineForTesting(QStringLiteral("unknown"));
    EXPECT_EQ(p.recommendedDanmakuPresetForCurrentDevice(), 2);
    EXPECT_EQ(p.recommendedDanmakuMaximumActiveForCurrentDevice(), 12);
}

TEST(Preferences, MachineIdentifierRules)
{
    EXPECT_EQ(KRDeviceDisplayNameForMachineIdentifier(QStringLiteral("iPhone10,1")), QStringLiteral("iPhone 8"));
    EXPECT_TRUE(KRDeviceHasFullScreenDisplayForMachineIdentifier(QStringLiteral("iPhone10,3")));
    EXPECT_FALSE(KRDeviceHasFullScreenDisplayForMachineIdentifier(QStringLiteral("iPhone10,1")));
    EXPECT_FALSE(KRDeviceHasFullScreenDisplayForMachineIdentifier(QStringLiteral("iPhone12,8")));
    EXPECT_TRUE(KRDeviceHasFullScreenDisplayForMachineIdentifier(QStringLiteral("iPhone12,1")));
    EXPECT_FALSE(KRDeviceHasFullScreenDisplayForMachineIdentifier(QStringLiteral("iPhone14,6")));
    EXPECT_TRUE(KRDeviceHasFullScreenDisplayForMachineIdentifier(QStringLiteral("iPad8,1")));
    EXPECT_TRUE(KRDeviceHasFullScreenDisplayForMachineIdentifier(QStringLiteral("iPad13,4")));
    EXPECT_FALSE(KRDeviceHasFullScreenDisplayForMachineIdentifier(QStringLiteral("iPad12,1")));

    EXPECT_EQ(KRDeviceDisplayNameForMachineIdentifier(QStringLiteral("iPod5,1")), QStringLiteral("iPod touch"));
    EXPECT_EQ(KRDeviceDisplayNameForMachineIdentifier(QStringLiteral("iPod11,1")), QStringLiteral("iPod touch（iPod11,1）"));
    EXPECT_EQ(KRDevicePlaybackClassForMachineIdentifier(QStringLiteral("iPod11,1")), 4);
    EXPECT_EQ(KRDeviceDisplayNameForMachineIdentifier(QStringLiteral("iPhone99,1")), QStringLiteral("新款 iPhone（iPhone99,1）"));
    EXPECT_EQ(KRDeviceDisplayNameForMachineIdentifier(QStringLiteral("x86_64")), QStringLiteral("Apple 模拟器"));
    EXPECT_EQ(KRDevicePlaybackClassForMachineIdentifier(QStringLiteral("x86_64")), 2);
    EXPECT_EQ(KRDeviceDisplayNameForMachineIdentifier(QString()), QStringLiteral("未知设备"));
    EXPECT_EQ(KRDeviceDisplayNameForMachineIdentifier(QStringLiteral("iphone10,3")), QStringLiteral("iphone10,3"));

    EXPECT_EQ(KRDevicePlaybackClassForMachineIdentifier(QStringLiteral("iPhone,1")), 4);
    EXPECT_FALSE(KRMachineMajorVersion(QStringLiteral("iPhone,1"), QStringLiteral("iPhone")).has_value());
    EXPECT_FALSE(KRMachineMajorVersion(QStringLiteral("iPhone12"), QStringLiteral("iPhone")).has_value());
    EXPECT_EQ(KRMachineMajorVersion(QStringLiteral("iPhoneX,1"), QStringLiteral("iPhone")), 0);
    EXPECT_EQ(KRDevicePlaybackClassForMachineIdentifier(QStringLiteral("iPhone2,1")), 0);
    EXPECT_EQ(KRDevicePlaybackClassForMachineIdentifier(QStringLiteral("iPhone7,2")), 2);
    EXPECT_EQ(KRDevicePlaybackClassForMachineIdentifier(QStringLiteral("iPad7,1")), 3);
    EXPECT_EQ(KRDevicePlaybackClassForMachineIdentifier(QStringLiteral("iPod9,1")), 3);
}

TEST(Preferences, CatalogueAndQualityTitles)
{
    ASSERT_EQ(KRDeviceCatalog::entryCount(), 175);
    QSet<QString> identifiers;
    int phones = 0, pads = 0, pods = 0;
    for (int i = 0; i < KRDeviceCatalog::entryCount(); ++i) {
        const QString machine = QString::fromLatin1(KRDeviceCatalog::entries()[i].machineIdentifier);
        identifiers.insert(machine);
        phones += machine.startsWith(QLatin1String("iPhone"));
        pads += machine.startsWith(QLatin1String("iPad"));
        pods += machine.startsWith(QLatin1String("iPod"));
    }
    EXPECT_EQ(identifiers.size(), 175);
    EXPECT_EQ(phones, 63);
    EXPECT_EQ(pads, 105);
    EXPECT_EQ(pods, 7);
    EXPECT_EQ(KRDeviceCatalog::nameForMachineIdentifier(QStringLiteral("iPad17,4")), QStringLiteral("iPad Pro 13-inch (M5)"));
    EXPECT_EQ(KRDeviceCatalog::nameForMachineIdentifier(QStringLiteral("iPhone18,4")), QStringLiteral("iPhone Air"));

    EXPECT_EQ(KRQualityTitleForValue(16), QStringLiteral("360P 流畅"));
    EXPECT_EQ(KRQualityTitleForValue(112), QStringLiteral("1080P+ 高码率"));
    EXPECT_EQ(KRQualityTitleForValue(127), QStringLiteral("8K 超高清"));
    EXPECT_EQ(KRQualityTitleForValue(0), QStringLiteral("自动"));
    EXPECT_EQ(KRQualityTitleForValue(6), QStringLiteral("自动"));
}

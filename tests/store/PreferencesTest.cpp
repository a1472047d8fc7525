#include "platform/device/DeviceProfile.h"
#include "platform/foundation/LabSeams.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/UserDefaults.h"
#include "store/KRDeviceCatalog.h"
#include "store/KRPreferences.h"
#include "support/TestSupport.h"

#include <QSet>

#include <gtest/gtest.h>

namespace {

const bool registered = testsupport::onEachTestStart([] { platform::DeviceProfile::resetForTesting(); });

platform::UserDefaults& defaults() { return platform::UserDefaults::standard(); }
KRPreferences& prefs() { return KRPreferences::sharedPreferences(); }
void setMachine(const char* machine) { platform::DeviceProfile::setMachineForTesting(QString::fromLatin1(machine)); }

// Counts change notifications from the shared preferences for as long as it lives.
class ChangeCounter {
public:
    int count = 0;

private:
    platform::ObserverToken m_token = platform::NotificationCenter::defaultCenter().addObserver(
        KRPreferencesDidChangeNotification, nullptr, [this](const platform::Notification& note) {
            EXPECT_EQ(note.object, &prefs());
            ++count;
        });
};

// The preference file as another launch would read it: setters synchronise.
QVariant storedOnDisk(const char* key) { return platform::UserDefaults(defaults().path()).object(QLatin1String(key)); }

} // namespace

TEST(Preferences, SwitchesHaveTheirKeysAndDefaultsAndPostOnlyOnChange)
{
    struct Row { const char* key; bool (KRPreferences::*get)() const; void (KRPreferences::*set)(bool); bool absent; };
    const Row rows[] = {
        {"KRDetailAutoPlayEnabled", &KRPreferences::detailAutoPlayEnabled, &KRPreferences::setDetailAutoPlayEnabled, false},
        {"KRCellularAutoPlayEnabled", &KRPreferences::cellularAutoPlayEnabled, &KRPreferences::setCellularAutoPlayEnabled, false},
        {"KRDetailAutoFullscreenEnabled", &KRPreferences::detailAutoFullscreenEnabled, &KRPreferences::setDetailAutoFullscreenEnabled, false},
        {"KRPortraitVideoFullscreenEnabled", &KRPreferences::portraitVideoFullscreenEnabled, &KRPreferences::setPortraitVideoFullscreenEnabled, true},
        {"KRBackgroundAudioEnabled", &KRPreferences::backgroundAudioEnabled, &KRPreferences::setBackgroundAudioEnabled, false},
        {"KRAutoContinueEnabled", &KRPreferences::autoContinueEnabled, &KRPreferences::setAutoContinueEnabled, false},
        {"KRExperimentalFeaturesEnabled", &KRPreferences::experimentalFeaturesEnabled, &KRPreferences::setExperimentalFeaturesEnabled, false},
        {"KRMessageCenterEnabled", &KRPreferences::messageCenterEnabled, &KRPreferences::setMessageCenterEnabled, true},
        {"KRContinuousStatusBarStyleEnabled", &KRPreferences::continuousStatusBarStyleEnabled, &KRPreferences::setContinuousStatusBarStyleEnabled, false},
        {"KRIPadModeEnabled", &KRPreferences::iPadModeEnabled, &KRPreferences::setIPadModeEnabled, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.key);
        ChangeCounter changes;
        EXPECT_EQ((prefs().*row.get)(), row.absent);
        (prefs().*row.set)(row.absent);  // the getter's default counts: no change
        EXPECT_FALSE(defaults().contains(QLatin1String(row.key)));
        EXPECT_EQ(changes.count, 0);
        (prefs().*row.set)(!row.absent);
        EXPECT_EQ(changes.count, 1);
        EXPECT_EQ(storedOnDisk(row.key).toBool(), !row.absent);
    }
}

// A run without the settings screens turns the lab on through the environment; what the user set
// still wins, and the lab's own switches follow the master switch.
TEST(Preferences, TheLabSeamTurnsTheMasterSwitchOnUntilTheUserSetsIt)
{
    KRPreferences& prefs = KRPreferences::sharedPreferences();
    platform::UserDefaults::standard().remove(QStringLiteral("KRExperimentalFeaturesEnabled"));
    platform::LabSeams::setExperimentalFeaturesByDefaultForTesting(false);
    EXPECT_FALSE(prefs.experimentalFeaturesEnabled());
    platform::LabSeams::setExperimentalFeaturesByDefaultForTesting(true);
    EXPECT_TRUE(prefs.experimentalFeaturesEnabled());
    EXPECT_TRUE(prefs.messageCenterEnabled());
    prefs.setExperimentalFeaturesEnabled(false);
    EXPECT_FALSE(prefs.experimentalFeaturesEnabled()) << "the user's choice is kept over the run's";
    platform::LabSeams::setExperimentalFeaturesByDefaultForTesting(std::nullopt);
    platform::UserDefaults::standard().remove(QStringLiteral("KRExperimentalFeaturesEnabled"));
    EXPECT_FALSE(prefs.experimentalFeaturesEnabled()) << "unset in the tests' environment";
}

TEST(Preferences, LoopModeNormalisesAndCouplesWithContinuation)
{
    ChangeCounter changes;
    for (int stored : {3, -1}) {
        defaults().setObject(QStringLiteral("KRPlaybackLoopMode"), stored);
        EXPECT_EQ(prefs().playbackLoopMode(), 0) << stored;
    }
    prefs().setPlaybackLoopMode(0);  // already reads 0
    EXPECT_EQ(changes.count, 0);

    prefs().setPlaybackLoopMode(2);
    EXPECT_EQ(changes.count, 1);
    EXPECT_TRUE(storedOnDisk("KRPlaybackLoopMode").toLongLong() == 2 && storedOnDisk("KRAutoContinueEnabled").toBool());
    prefs().setPlaybackLoopMode(2);
    EXPECT_EQ(changes.count, 1);

    prefs().setPlaybackLoopMode(5);
    EXPECT_EQ(changes.count, 2);
    EXPECT_EQ(defaults().integer(QStringLiteral("KRPlaybackLoopMode"), -9), 0);
    EXPECT_TRUE(prefs().autoContinueEnabled()) << "ending the loop leaves continuation alone";

    prefs().setPlaybackLoopMode(1);
    prefs().setAutoContinueEnabled(false);  // ends looping as well
    EXPECT_EQ(changes.count, 4);
    EXPECT_EQ(prefs().playbackLoopMode(), 0);

    // Looping while continuation is off switches it on, even for the mode already stored.
    defaults().setObject(QStringLiteral("KRPlaybackLoopMode"), 1);
    prefs().setPlaybackLoopMode(1);
    EXPECT_EQ(changes.count, 5);
    EXPECT_TRUE(prefs().autoContinueEnabled());

    prefs().setVideoListLayout(7);  // means single column, the current layout
    EXPECT_EQ(changes.count, 5);
}

TEST(Preferences, PreferredQualityFollowsTheDevice)
{
    ChangeCounter changes;
    // Class 1 has no 1080P: a stored 80 reads as automatic.
    setMachine("iPad1,2");
    defaults().setObject(QStringLiteral("KRPreferredQuality"), 80);
    EXPECT_EQ(prefs().preferredQuality(), 0);
    EXPECT_EQ(prefs().preferredQualityTitle(), QStringLiteral("自动"));
    EXPECT_EQ(prefs().maximumSupportedQualityTitleForCurrentDevice(), QStringLiteral("720P 高清"));

    setMachine("iPhone12,1");
    EXPECT_EQ(prefs().preferredQuality(), 80);
    prefs().setPreferredQuality(64);
    EXPECT_EQ(changes.count, 1);
    EXPECT_EQ(prefs().playbackQualityFallbackValuesForCurrentDevice(), (QList<int>{64, 16}));
    EXPECT_EQ(prefs().resolvedQualityFromAvailableValues({16, 64}), 64);
    EXPECT_EQ(prefs().resolvedQualityFromAvailableValues({16, 80}), 0);
    prefs().setPreferredQuality(32);  // known, but never playable as a preference
    EXPECT_EQ(changes.count, 2);
    EXPECT_EQ(storedOnDisk("KRPreferredQuality").toLongLong(), 0);
    prefs().setPreferredQuality(999);  // unknown: 0, unchanged
    EXPECT_EQ(changes.count, 2);
}

TEST(Preferences, DanmakuPresetsAndCustomValues)
{
    ChangeCounter changes;
    setMachine("iPhone12,1");
    // The stored custom values count only under the custom preset (2 is the old index form).
    defaults().setObject(QStringLiteral("KRDanmakuFontLevel"), 2);
    EXPECT_EQ(prefs().danmakuFontLevel(), 100);
    defaults().setObject(QStringLiteral("KRDanmakuPreset"), 4);
    EXPECT_EQ(prefs().danmakuFontLevel(), 150);
    defaults().setObject(QStringLiteral("KRDanmakuPreset"), 9);
    EXPECT_EQ(prefs().danmakuPreset(), 0);

    prefs().setDanmakuPreset(2);
    prefs().setDanmakuPreset(4);  // custom cannot be chosen directly
    EXPECT_EQ(changes.count, 2);
    EXPECT_EQ(defaults().integer(QStringLiteral("KRDanmakuPreset"), -1), 0);

    // Leaving 清爽 by one custom change writes that value and the preset alone: the other
    // stored custom values come back as they were, not the preset's.
    defaults().setObject(QStringLiteral("KRDanmakuMaximumActive"), 24);
    defaults().setObject(QStringLiteral("KRDanmakuDisplayAreaPercent"), 100);
    defaults().setObject(QStringLiteral("KRDanmakuDensityPercent"), 100);
    defaults().setObject(QStringLiteral("KRDanmakuFontLevel"), 200);
    prefs().setDanmakuPreset(1);
    EXPECT_EQ(prefs().danmakuMaximumActive(), 8);
    prefs().setDanmakuOpacityPercent(80);
    EXPECT_EQ(prefs().danmakuPreset(), 4);
    EXPECT_EQ(prefs().danmakuOpacityPercent(), 80);
    EXPECT_EQ(prefs().danmakuMaximumActive(), 24);
    EXPECT_EQ(prefs().danmakuDisplayAreaPercent(), 100);
    EXPECT_EQ(prefs().danmakuDensityPercent(), 100);
    EXPECT_EQ(prefs().danmakuFontLevel(), 200);
    EXPECT_EQ(defaults().integer(QStringLiteral("KRDanmakuMaximumActive"), -1), 24);
    // Absent custom values read as their keys' defaults after the switch.
    defaults().remove(QStringLiteral("KRDanmakuMaximumActive"));
    defaults().remove(QStringLiteral("KRDanmakuFontLevel"));
    prefs().setDanmakuPreset(3);
    prefs().setDanmakuDisplayAreaPercent(25);
    EXPECT_EQ(prefs().danmakuMaximumActive(), 12);
    EXPECT_EQ(prefs().danmakuFontLevel(), 100);
    EXPECT_EQ(prefs().danmakuOpacityPercent(), 80);
    EXPECT_FALSE(defaults().contains(QStringLiteral("KRDanmakuMaximumActive")));

    // Custom setters post every time and store unknown values as the key's default.
    const int before = changes.count;
    prefs().setDanmakuOpacityPercent(80);
    prefs().setDanmakuDisplayAreaPercent(33);
    prefs().setDanmakuMaximumActive(0);
    prefs().setDanmakuFontLevel(2);
    EXPECT_EQ(changes.count, before + 4);
    EXPECT_EQ(prefs().danmakuDisplayAreaPercent(), 50);
    EXPECT_EQ(prefs().danmakuQuantityTitle(), QStringLiteral("烤机 · 无限制"));
    EXPECT_EQ(prefs().danmakuFontLevel(), 100);
    EXPECT_EQ(storedOnDisk("KRDanmakuPreset").toLongLong(), 4);
}

TEST(Preferences, DeviceProfileByMachine)
{
    struct Row { const char* machine; const char* name; bool a4; int playbackClass; QList<int> tiers; int recommendedPreset; bool fullScreen; };
    const Row rows[] = {
        {"iPad1,1", "iPad", true, 1, {16}, 1, false},
        {"iPad1,2", "新款 iPad（iPad1,2）", false, 1, {64, 16}, 3, false},
        {"iPhone2,1", "iPhone 3GS", true, 0, {16}, 1, false},
        {"iPhone5,1", "iPhone 5", false, 2, {64, 16}, 2, false},
        {"iPhone10,1", "iPhone 8", false, 3, {80, 64, 16}, 3, false},
        {"iPhone10,3", "iPhone X", false, 3, {80, 64, 16}, 3, true},
        {"iPhone12,8", "iPhone SE (2nd generation)", false, 4, {80, 64, 16}, 3, false},
        {"iPhone14,6", "iPhone SE (3rd generation)", false, 4, {80, 64, 16}, 3, false},
        {"iPhone,1", "新款 iPhone（iPhone,1）", false, 4, {80, 64, 16}, 3, false},  // no major number
        {"iPod5,1", "iPod touch", false, 2, {64, 16}, 2, false},
        {"iPod11,1", "iPod touch（iPod11,1）", false, 4, {80, 64, 16}, 3, false},
        {"iPad8,1", "iPad Pro (11-inch)", false, 4, {80, 64, 16}, 3, true},
        {"iPad12,1", "iPad (9th generation)", false, 4, {80, 64, 16}, 3, false},
        {"x86_64", "Apple 模拟器", false, 2, {64, 16}, 2, false},
        {"unknown", "unknown", false, 2, {64, 16}, 2, false},
        {"Watch3,1", "Watch3,1", false, 2, {64, 16}, 3, false},
        {"iphone10,3", "iphone10,3", false, 2, {64, 16}, 3, false},  // matching is case-sensitive
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.machine);
        setMachine(row.machine);
        EXPECT_EQ(prefs().currentDeviceDisplayName(), QString::fromUtf8(row.name));
        EXPECT_EQ(prefs().isA4OrEarlierDevice(), row.a4);
        EXPECT_EQ(prefs().devicePlaybackClass(), row.playbackClass);
        EXPECT_EQ(prefs().playbackQualityFallbackValuesForCurrentDevice(), row.tiers);
        EXPECT_EQ(prefs().recommendedDanmakuPresetForCurrentDevice(), row.recommendedPreset);
        // An automatic preset follows the recommended one.
        EXPECT_EQ(prefs().danmakuMaximumActive(), row.recommendedPreset == 1 ? 8 : row.recommendedPreset == 3 ? 24 : 12);
        EXPECT_EQ(KRDeviceHasFullScreenDisplayForMachineIdentifier(QString::fromLatin1(row.machine)), row.fullScreen);
    }
    EXPECT_EQ(KRDeviceDisplayNameForMachineIdentifier(QString()), QStringLiteral("未知设备"));
    // The catalogue: 63 iPhone, 105 iPad and 7 iPod rows, each identifier once.
    QSet<QString> identifiers;
    int families[3] = {};
    for (int i = 0; i < KRDeviceCatalog::entryCount(); ++i) {
        const QString machine = QString::fromLatin1(KRDeviceCatalog::entries()[i].machineIdentifier);
        identifiers.insert(machine);
        families[machine.startsWith(QLatin1String("iPhone")) ? 0 : machine.startsWith(QLatin1String("iPad")) ? 1 : 2]++;
    }
    EXPECT_EQ(identifiers.size(), KRDeviceCatalog::entryCount());
    EXPECT_EQ(QList<int>(families, families + 3), (QList<int>{63, 105, 7}));
    EXPECT_EQ(KRMachineMajorVersion(QStringLiteral("iPhoneX,1"), QStringLiteral("iPhone")), 0);
    setMachine("iPhone10,3");
    EXPECT_EQ(prefs().supportedQualityTitlesForCurrentDevice(),
              (QStringList{QStringLiteral("自动"), QStringLiteral("360P 流畅"), QStringLiteral("720P 高清"),
                           QStringLiteral("1080P 高清")}));
}

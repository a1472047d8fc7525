// The preferences' typed reads over values the file holds: a defaults file as any bytes, or
// the preference keys given values of any type (numbers out of range, NaN, texts that start
// with digits, dates, data, lists). Every typed read answers without a fault, and every
// setting reads as one of the values it accepts.
#include "FuzzApplication.h"
#include "FuzzInput.h"

#include "platform/foundation/Directories.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/UserDefaults.h"
#include "store/KRPreferences.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

#include <cmath>
#include <cstring>
#include <initializer_list>

namespace {

const char* const kKeys[] = {"KRDetailAutoPlayEnabled", "KRCellularAutoPlayEnabled", "KRDetailAutoFullscreenEnabled",
                             "KRPortraitVideoFullscreenEnabled", "KRBackgroundAudioEnabled", "KRAutoContinueEnabled",
                             "KRPlaybackLoopMode", "KRVideoListLayout", "KRExperimentalFeaturesEnabled",
                             "KRMessageCenterEnabled", "KRContinuousStatusBarStyleEnabled", "KRIPadModeEnabled",
                             "KRPreferredQuality", "KRDanmakuPreset", "KRDanmakuMaximumActive",
                             "KRDanmakuDisplayAreaPercent", "KRDanmakuOpacityPercent", "KRDanmakuDensityPercent",
                             "KRDanmakuFontLevel"};

QVariant valueFrom(fuzz::InputReader& input)
{
    const uint8_t pick = input.byte();
    switch (pick % 9) {
    case 0: return qint64(int8_t(input.byte()));
    case 1: return qint64(input.integer());
    case 2: {
        const uint64_t bits = input.integer();
        double value = 0;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
    case 3: return QString::fromUtf8(input.chunk(24));
    case 4: return bool(pick & 0x80);
    case 5: return input.chunk(8);
    case 6: return QDateTime::fromSecsSinceEpoch(qint64(input.integer() % 4000000000ULL), Qt::UTC);
    case 7: return QVariantList{qint64(input.byte())};
    default: return QVariantMap{{QStringLiteral("value"), qint64(input.byte())}};
    }
}

bool oneOf(int value, std::initializer_list<int> accepted)
{
    return std::find(accepted.begin(), accepted.end(), value) != accepted.end();
}

void checkSettings()
{
    const KRPreferences& preferences = KRPreferences::sharedPreferences();
    fuzz::check(oneOf(preferences.playbackLoopMode(), {0, 1, 2}), "the loop mode is one it accepts");
    fuzz::check(oneOf(preferences.videoListLayout(), {0, 1}), "the list layout is one it accepts");
    const int quality = preferences.preferredQuality();
    fuzz::check(quality == 0 || preferences.isQualitySupportedForCurrentDevice(quality), "the quality is one the device plays");
    fuzz::check(oneOf(preferences.danmakuPreset(), {0, 1, 2, 3, 4}), "the danmaku preset is one it accepts");
    fuzz::check(oneOf(preferences.resolvedDanmakuPreset(), {1, 2, 3, 4}), "the resolved preset is one it accepts");
    fuzz::check(oneOf(preferences.danmakuMaximumActive(), {0, 8, 12, 18, 24, 32}), "the danmaku count is one it accepts");
    fuzz::check(oneOf(preferences.danmakuDisplayAreaPercent(), {10, 25, 50, 75, 100}), "the display area is one it accepts");
    fuzz::check(oneOf(preferences.danmakuOpacityPercent(), {20, 40, 60, 80, 100}), "the opacity is one it accepts");
    fuzz::check(oneOf(preferences.danmakuDensityPercent(), {60, 80, 100}), "the density is one it accepts");
    fuzz::check(oneOf(preferences.danmakuFontLevel(), {50, 100, 150, 200}), "the font level is one it accepts");
    for (const QString& title : {preferences.preferredQualityTitle(), preferences.playbackLoopModeTitle(),
                                 preferences.videoListLayoutTitle(), preferences.danmakuPresetTitle(),
                                 preferences.danmakuQuantityTitle(), preferences.danmakuDisplayAreaTitle(),
                                 preferences.danmakuOpacityTitle(), preferences.danmakuFontTitle(),
                                 preferences.danmakuDensityTitle()})
        fuzz::check(!title.isEmpty(), "every setting has a title");
    preferences.detailAutoPlayEnabled();
    preferences.autoContinueEnabled();
    preferences.backgroundAudioEnabled();
    preferences.iPadModeEnabled();
}

// The typed reads of one store on every key it holds.
void readAll(const platform::UserDefaults& defaults, const QStringList& keys)
{
    for (const QString& key : keys) {
        defaults.string(key);
        defaults.integer(key, -1);
        const double number = defaults.doubleValue(key);
        (void)number;
        defaults.boolean(key, true);
        defaults.array(key);
        defaults.dictionary(key);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::application();
    fuzz::InputReader input(data, size);
    platform::UserDefaults& standard = platform::UserDefaults::standard();
    for (const char* key : kKeys)
        standard.remove(QLatin1String(key));

    QVariantMap values;
    if (input.byte() & 1) {
        // A whole file, read by a store of its own.
        const QByteArray file = input.rest();
        static const QString path = platform::Directories::temporary() + QStringLiteral("/fuzz-defaults.plist");
        QDir().mkpath(platform::Directories::temporary());
        QFile planted(path);
        if (!planted.open(QIODevice::WriteOnly | QIODevice::Truncate) || planted.write(file) != file.size())
            fuzz::fail("the defaults file is planted");
        planted.close();
        {
            platform::UserDefaults read(path);
            QStringList keys;
            for (const char* key : kKeys)
                keys << QLatin1String(key);
            const QVariant root = platform::PropertyList::parse(file);
            if (root.typeId() == QMetaType::QVariantMap)
                keys += root.toMap().keys();
            readAll(read, keys);
            for (const char* key : kKeys) {
                if (read.contains(QLatin1String(key)))
                    values.insert(QLatin1String(key), read.object(QLatin1String(key)));
            }
        }
        QFile::remove(path);
        QFile::remove(path + QStringLiteral(".corrupt"));
    } else {
        while (!input.atEnd())
            values.insert(QLatin1String(kKeys[input.byte() % std::size(kKeys)]), valueFrom(input));
    }
    QStringList keys;
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        standard.setObject(it.key(), it.value());
        keys << it.key();
    }
    readAll(standard, keys);
    checkSettings();
    return 0;
}

#include "video/KRVideoDetailSupport.h"

#include "look/KRShellHelpers.h"
#include "platform/device/DeviceProfile.h"
#include "playback/KRPlaybackTransport.h"

#include <QStringList>

int KRVideoSystemMajorVersion() { return KRRootSystemMajorVersion(); }

bool KRDetailPlaybackURLIsLocalFile(const QVariant& value)
{
    return value.typeId() == QMetaType::QString && value.toString().startsWith(QLatin1String("file://"));
}

bool KRNeedsAppOwnedAVLayerCompatibility()
{
    if (KRPlaybackTransport::usesAVPlayerBackendForCurrentSystem())
        return false;
    const QStringList parts = platform::DeviceProfile::systemVersion().split(QLatin1Char('.'));
    const bool systemFiveZero = parts.value(0) == QLatin1String("5") && (parts.size() < 2 || parts.at(1) == QLatin1String("0"));
    return systemFiveZero || KRVideoSystemMajorVersion() >= 15;
}

bool KRIOS15NeedsAVLayerCompatibility()
{
    return KRVideoSystemMajorVersion() >= 15 && !KRPlaybackTransport::usesAVPlayerBackendForCurrentSystem();
}

#pragma once

#include <QString>

#include <optional>

// The device models the application knows by name, and what a machine identifier
// ("iPhone10,3") says about the device: its marketing name, the playback class that
// decides which qualities it may play, and whether it has an edge-to-edge display.

struct KRDeviceCatalogEntry {
    const char* machineIdentifier;
    const char* marketingName;
};

namespace KRDeviceCatalog {
// Every known model, iPhone family first, then iPad, then iPod.
const KRDeviceCatalogEntry* entries();
int entryCount();
// The marketing name on an exact, case-sensitive match; a null string otherwise.
QString nameForMachineIdentifier(const QString& machineIdentifier);
}

// "未知设备" for an empty identifier; the catalogue name; else a family form
// ("新款 iPhone（%@）" …), "Apple 模拟器" for simulators, or the identifier itself.
QString KRDeviceDisplayNameForMachineIdentifier(const QString& machineIdentifier);

// The integer between `familyPrefix` and the first ","; none when the identifier does not
// start with the prefix, has no "," or has it right after the prefix. Text that is not a
// number reads as 0, as the platform's integer reading of text does.
std::optional<qint64> KRMachineMajorVersion(const QString& machineIdentifier, const QString& familyPrefix);

// 0 (weakest) to 4 (strongest); 2 for simulators and unknown machines.
int KRDevicePlaybackClassForMachineIdentifier(const QString& machineIdentifier);

// Whether the model has an edge-to-edge display (asked for the safe-area decision).
bool KRDeviceHasFullScreenDisplayForMachineIdentifier(const QString& machineIdentifier);

#pragma once

#include <QSizeF>
#include <QString>

namespace platform {

// The device the application believes it runs on. Machine identifier from KORVANE_MACHINE
// (default "iPhone10,1"), system version from KORVANE_SYSTEM_VERSION (default "16.7"),
// both overridable from tests. Thread-safe.
namespace DeviceProfile {

QString machine();
QString systemVersion();
// The leading integer of the system version ("16.7" → 16); 0 when there is none.
int systemMajorVersion();
// Machines starting with "iPad".
bool isPad();
// Main screen in points and its scale, from a small table per machine family
// (375×667 at 2 for anything the table does not know).
QSizeF screenSize();
qreal screenScale();

void setMachineForTesting(const QString& machine);
void setSystemVersionForTesting(const QString& version);
// Back to the environment's values.
void resetForTesting();

} // namespace DeviceProfile
} // namespace platform

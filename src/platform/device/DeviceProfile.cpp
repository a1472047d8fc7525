#include "platform/device/DeviceProfile.h"

#include <mutex>
#include <optional>

namespace platform {
namespace DeviceProfile {
namespace {

struct Overrides {
    std::mutex mutex;
    std::optional<QString> machine;
    std::optional<QString> systemVersion;
};

Overrides& overrides()
{
    static Overrides o;
    return o;
}

QString fromEnvironment(const char* name, const QString& fallback)
{
    const QString value = qEnvironmentVariable(name);
    return value.isEmpty() ? fallback : value;
}

// The integer between `prefix` and the first ",", -1 when there is none.
int majorNumber(const QString& machine, QLatin1StringView prefix)
{
    if (!machine.startsWith(prefix))
        return -1;
    const qsizetype comma = machine.indexOf(u',', prefix.size());
    if (comma <= prefix.size())
        return -1;
    bool ok = false;
    const int major = machine.mid(prefix.size(), comma - prefix.size()).toInt(&ok);
    return ok ? major : -1;
}

int minorNumber(const QString& machine)
{
    const qsizetype comma = machine.indexOf(u',');
    bool ok = false;
    const int minor = comma < 0 ? -1 : machine.mid(comma + 1).toInt(&ok);
    return ok ? minor : -1;
}

struct Screen {
    qreal width, height, scale;
};

// Screens by machine family; anything unknown gets the 4.7-inch phone.
Screen screenFor(const QString& machine)
{
    constexpr Screen phone47{375, 667, 2}, phone55{414, 736, 3}, phone58{375, 812, 3};
    constexpr Screen phone61lcd{414, 896, 2}, phone65{414, 896, 3}, phone61{390, 844, 3};
    if (machine.startsWith(QLatin1String("iPad"))) {
        const int major = majorNumber(machine, QLatin1String("iPad"));
        const int minor = minorNumber(machine);
        // The first iPad and the non-Retina iPad 2 and mini.
        if (major == 1 || (major == 2 && minor != -1 && minor <= 7))
            return {768, 1024, 1};
        return {768, 1024, 2};
    }
    if (machine.startsWith(QLatin1String("iPod"))) {
        const int major = majorNumber(machine, QLatin1String("iPod"));
        if (major >= 1 && major <= 3)
            return {320, 480, 1};
        return major == 4 ? Screen{320, 480, 2} : Screen{320, 568, 2};
    }
    const int major = majorNumber(machine, QLatin1String("iPhone"));
    const int minor = minorNumber(machine);
    if (major < 0)
        return phone47;
    if (major <= 2)
        return {320, 480, 1};
    if (major <= 4)
        return {320, 480, 2};
    if (major <= 6)
        return {320, 568, 2};
    if (major == 7)
        return minor == 1 ? phone55 : phone47;
    if (major == 8)
        return minor == 2 ? phone55 : (minor == 4 ? Screen{320, 568, 2} : phone47);
    if (major == 9)
        return (minor == 2 || minor == 4) ? phone55 : phone47;
    if (major == 10)
        return (minor == 3 || minor == 6) ? phone58 : ((minor == 2 || minor == 5) ? phone55 : phone47);
    if (major == 11)
        return minor == 8 ? phone61lcd : (minor == 2 ? phone58 : phone65);
    if (major == 12)
        return minor == 1 ? phone61lcd : (minor == 3 ? phone58 : (minor == 5 ? phone65 : phone47));
    return phone61;
}

} // namespace

QString machine()
{
    {
        std::lock_guard lock(overrides().mutex);
        if (overrides().machine)
            return *overrides().machine;
    }
    return fromEnvironment("KORVANE_MACHINE", QStringLiteral("iPhone10,1"));
}

QString systemVersion()
{
    {
        std::lock_guard lock(overrides().mutex);
        if (overrides().systemVersion)
            return *overrides().systemVersion;
    }
    return fromEnvironment("KORVANE_SYSTEM_VERSION", QStringLiteral("16.7"));
}

int systemMajorVersion()
{
    const QString version = systemVersion().trimmed();
    qsizetype digits = 0;
    while (digits < version.size() && version.at(digits).isDigit() && version.at(digits).unicode() < 128)
        ++digits;
    return digits == 0 ? 0 : version.left(std::min<qsizetype>(digits, 9)).toInt();
}

bool isPad() { return machine().startsWith(QLatin1String("iPad")); }

QSizeF screenSize()
{
    const Screen s = screenFor(machine());
    return {s.width, s.height};
}

qreal screenScale() { return screenFor(machine()).scale; }

void setMachineForTesting(const QString& value)
{
    std::lock_guard lock(overrides().mutex);
    overrides().machine = value;
}

void setSystemVersionForTesting(const QString& value)
{
    std::lock_guard lock(overrides().mutex);
    overrides().systemVersion = value;
}

void resetForTesting()
{
    std::lock_guard lock(overrides().mutex);
    overrides().machine.reset();
    overrides().systemVersion.reset();
}

} // namespace DeviceProfile
} // namespace platform

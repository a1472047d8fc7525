#include "platform/foundation/LabSeams.h"

#include <QString>
#include <QtGlobal>

#include <atomic>

namespace platform::LabSeams {
namespace {

bool fromEnvironment()
{
    static const bool value = [] {
        const QString text = qEnvironmentVariable("KORVANE_EXPERIMENTAL_FEATURES").trimmed().toLower();
        return text == QLatin1String("1") || text == QLatin1String("true") || text == QLatin1String("yes") ||
               text == QLatin1String("on");
    }();
    return value;
}

// -1: the variable decides; 0 or 1: a test's value.
std::atomic<int> g_override{-1};

} // namespace

bool experimentalFeaturesByDefault()
{
    const int value = g_override.load(std::memory_order_relaxed);
    return value < 0 ? fromEnvironment() : value == 1;
}

void setExperimentalFeaturesByDefaultForTesting(std::optional<bool> value)
{
    g_override.store(value ? int(*value) : -1, std::memory_order_relaxed);
}

} // namespace platform::LabSeams

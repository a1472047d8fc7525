#pragma once

#include <optional>

// What the lab's master switch reads while the user has never set it. KORVANE_EXPERIMENTAL_FEATURES
// ("1", "true", "yes" or "on", any case) turns it on, so that a run without the settings screens
// can reach the lab's screens; anything else, or unset, leaves the switch off. Read once.
namespace platform::LabSeams {

bool experimentalFeaturesByDefault();
// Replaces the variable's value in-process; std::nullopt goes back to the variable.
void setExperimentalFeaturesByDefaultForTesting(std::optional<bool> value);

} // namespace platform::LabSeams

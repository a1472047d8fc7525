#pragma once

#include <QString>

namespace platform::uikit {

// A row in a section of a table.
struct IndexPath {
    int section = 0;
    int row = 0;
    auto operator<=>(const IndexPath&) const = default;
    bool isValid() const { return section >= 0 && row >= 0; }
    static IndexPath invalid() { return {-1, -1}; }
};

} // namespace platform::uikit

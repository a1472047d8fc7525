#pragma once

#include <QColor>
#include <QFont>
#include <QSizeF>

#include <optional>

namespace platform::uikit {

// Title text attributes of bars and bar items; an empty set means the system's defaults.
struct TextAttributes {
    std::optional<QColor> textColor;
    std::optional<QFont> font;
    std::optional<QColor> shadowColor;
    std::optional<QSizeF> shadowOffset;
    bool isEmpty() const { return !textColor && !font && !shadowColor && !shadowOffset; }
    bool operator==(const TextAttributes&) const = default;
};

} // namespace platform::uikit

#pragma once

#include <QColor>
#include <QRectF>

class QPainter;

namespace platform::uikit {

// The edge of a bar that faces the content it stands over: a navigation bar's bottom, a
// toolbar's top.
enum class BarContentEdge { Bottom, Top };

// The platform's own bar background, drawn when a bar has no image: on the modern look a flat
// fill (light, or near black for the black style; `barTint` when valid) with a hairline on the
// content edge; on the classic look a gradient in `tint` (else blue-grey, or charcoal for the
// black style) with a darker line there.
void drawBarBackground(QPainter& painter, const QRectF& rect, int barStyle, const QColor& barTint, const QColor& tint,
                       BarContentEdge edge);

} // namespace platform::uikit

#pragma once

#include <QFont>
#include <QSizeF>
#include <QString>

namespace platform::uikit {

// The size `text` takes in `font` within `constraint`, as the platform's string measurement
// answers it: lines broken by the label line-break mode (by characters, by words, or one
// truncated line), only the whole lines that fit in the constraint's height, each
// lineSpacing high; the width is that of the widest line kept.
QSizeF sizeWithFont(const QString& text, const QFont& font, const QSizeF& constraint, int lineBreakMode);

} // namespace platform::uikit

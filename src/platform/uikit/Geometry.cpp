#include "platform/uikit/Geometry.h"

#include <QLocale>

#include <cmath>

namespace platform::uikit {

QString StringFromNumber(qreal value)
{
    if (value == 0)
        return QStringLiteral("0");  // also folds -0
    if (std::isnan(value))
        return QStringLiteral("nan");
    if (std::isinf(value))
        return value > 0 ? QStringLiteral("inf") : QStringLiteral("-inf");
    // The shortest text that reads back as the same double.
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

QString StringFromPoint(const QPointF& p)
{
    return QStringLiteral("{%1, %2}").arg(StringFromNumber(p.x()), StringFromNumber(p.y()));
}

QString StringFromSize(const QSizeF& s)
{
    return QStringLiteral("{%1, %2}").arg(StringFromNumber(s.width()), StringFromNumber(s.height()));
}

QString StringFromRect(const QRectF& r)
{
    return QStringLiteral("{%1, %2}").arg(StringFromPoint(r.topLeft()), StringFromSize(r.size()));
}

QString StringFromEdgeInsets(const EdgeInsets& i)
{
    return QStringLiteral("{%1, %2, %3, %4}")
        .arg(StringFromNumber(i.top), StringFromNumber(i.left), StringFromNumber(i.bottom), StringFromNumber(i.right));
}

QRectF EdgeInsetsInsetRect(const QRectF& r, const EdgeInsets& i)
{
    return QRectF(r.x() + i.left, r.y() + i.top, r.width() - i.left - i.right, r.height() - i.top - i.bottom);
}

} // namespace platform::uikit

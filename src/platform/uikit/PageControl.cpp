#include "platform/uikit/PageControl.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace platform::uikit {
namespace {
constexpr qreal kDot = 7;
constexpr qreal kPitch = 16;  // dot plus the gap to the next
} // namespace

PageControl::PageControl(const QRectF& frame, View* superview) : View(frame, superview)
{
    setOpaque(false);
}

void PageControl::setNumberOfPages(int pages)
{
    m_pages = std::max(0, pages);
    m_current = std::clamp(m_current, 0, std::max(0, m_pages - 1));
    update();
}

void PageControl::setCurrentPage(int page)
{
    m_current = std::clamp(page, 0, std::max(0, m_pages - 1));
    update();
}

void PageControl::setHidesForSinglePage(bool hides)
{
    m_hidesForSinglePage = hides;
    update();
}

void PageControl::setPageIndicatorTintColor(const QColor& color)
{
    m_tint = color;
    update();
}

void PageControl::setCurrentPageIndicatorTintColor(const QColor& color)
{
    m_currentTint = color;
    update();
}

QRectF PageControl::indicatorRect(int page) const
{
    const qreal rowWidth = m_pages * kPitch - (kPitch - kDot);
    const qreal x = std::floor((frame().width() - rowWidth) / 2) + page * kPitch;
    return QRectF(x, std::floor((frame().height() - kDot) / 2), kDot, kDot);
}

void PageControl::drawRect(QPainter& p)
{
    if (!showsIndicators())
        return;
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    for (int page = 0; page < m_pages; ++page) {
        p.setBrush(page == m_current ? m_currentTint : m_tint);
        p.drawEllipse(indicatorRect(page));
    }
}

} // namespace platform::uikit

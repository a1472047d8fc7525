#pragma once

#include "platform/uikit/View.h"

#include <QColor>

namespace platform::uikit {

// A row of dots, one per page, the current one highlighted, centred in the view. With a single
// page (or none) and hidesForSinglePage it draws nothing.
class PageControl : public View {
    Q_OBJECT
public:
    explicit PageControl(const QRectF& frame = QRectF(), View* superview = nullptr);

    int numberOfPages() const { return m_pages; }
    void setNumberOfPages(int pages);
    // Clamped to the pages there are.
    int currentPage() const { return m_current; }
    void setCurrentPage(int page);
    bool hidesForSinglePage() const { return m_hidesForSinglePage; }
    void setHidesForSinglePage(bool hides);
    QColor pageIndicatorTintColor() const { return m_tint; }
    void setPageIndicatorTintColor(const QColor& color);
    QColor currentPageIndicatorTintColor() const { return m_currentTint; }
    void setCurrentPageIndicatorTintColor(const QColor& color);

    // Whether any dot is drawn.
    bool showsIndicators() const { return m_pages > (m_hidesForSinglePage ? 1 : 0); }
    // Where the dot of a page is drawn, in the view's coordinates.
    QRectF indicatorRect(int page) const;

protected:
    void drawRect(QPainter& painter) override;

private:
    int m_pages = 0;
    int m_current = 0;
    bool m_hidesForSinglePage = false;
    QColor m_tint = QColor(255, 255, 255, 89);
    QColor m_currentTint = Qt::white;
};

} // namespace platform::uikit

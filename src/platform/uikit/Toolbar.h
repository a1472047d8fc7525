#pragma once

#include "platform/uikit/Image.h"
#include "platform/uikit/View.h"

#include <QList>
#include <QPointer>

namespace platform::uikit {

class BarButtonItem;

// A bar of items laid out in a row: buttons (or the items' custom views) at their widths,
// fixed spaces at theirs, and flexible spaces sharing whatever width is left, so one flexible
// space pushes the items after it to the right edge. Without a background image it draws the
// platform's bar in its style, its hairline along the top edge.
class Toolbar : public View {
    Q_OBJECT
public:
    static constexpr qreal kDefaultHeight = 44;

    explicit Toolbar(const QRectF& frame = QRectF(), View* superview = nullptr);

    QList<BarButtonItem*> items() const;
    // Items without a parent become the toolbar's; a custom view moves into the toolbar.
    void setItems(const QList<BarButtonItem*>& items);
    QColor tintColor() const { return m_tintColor; }
    void setTintColor(const QColor& color);
    // BarStyleDefault or BarStyleBlack (NavigationBar.h).
    int barStyle() const { return m_barStyle; }
    void setBarStyle(int style);
    Image backgroundImage() const { return m_backgroundImage; }
    void setBackgroundImage(const Image& image);
    // The view standing for the item at `index`: its button or custom view; nullptr for a space.
    View* viewForItemAtIndex(int index) const;

    void layoutSubviews() override;

protected:
    void drawRect(QPainter& painter) override;

private:
    void rebuild();
    qreal edgeMargin() const;
    qreal itemSpacing() const;

    QList<QPointer<BarButtonItem>> m_items;
    QList<QPointer<View>> m_itemViews;
    QColor m_tintColor;
    Image m_backgroundImage;
    int m_barStyle = 0;
};

} // namespace platform::uikit

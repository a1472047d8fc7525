#pragma once

#include "platform/uikit/Image.h"
#include "platform/uikit/View.h"

#include <QPointer>

#include <functional>

namespace platform::uikit {

class TabBarItem;

// The 49-point bar of tabs. Bar style, bar tint and translucency exist from system 7; tint
// and background image on every version (supports…() answers as the platform's bars do).
class TabBar : public View {
    Q_OBJECT
public:
    explicit TabBar(const QRectF& frame = QRectF(), View* superview = nullptr);

    static bool supportsBarTintColor();
    static bool supportsBarStyle() { return supportsBarTintColor(); }
    static bool supportsTranslucency() { return supportsBarTintColor(); }

    QList<TabBarItem*> items() const;
    void setItems(const QList<TabBarItem*>& items);
    int selectedIndex() const { return m_selected; }
    void setSelectedIndex(int index);
    int barStyle() const { return m_barStyle; }
    void setBarStyle(int style) { m_barStyle = style; update(); }
    QColor tintColor() const { return m_tint; }
    void setTintColor(const QColor& color) { m_tint = color; update(); }
    QColor barTintColor() const { return m_barTint; }
    void setBarTintColor(const QColor& color) { m_barTint = color; update(); }
    bool isTranslucent() const { return m_translucent; }
    void setTranslucent(bool translucent) { m_translucent = translucent; }
    Image backgroundImage() const { return m_background; }
    void setBackgroundImage(const Image& image) { m_background = image; update(); }
    std::function<void(int)> onSelect;

    QRectF rectForItem(int index) const;

protected:
    void drawRect(QPainter& painter) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    QList<QPointer<TabBarItem>> m_items;
    int m_selected = -1;
    int m_barStyle = 0;
    QColor m_tint;
    QColor m_barTint;
    bool m_translucent = true;
    Image m_background;
};

} // namespace platform::uikit

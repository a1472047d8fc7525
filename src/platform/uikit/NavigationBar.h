#pragma once

#include "platform/uikit/Image.h"
#include "platform/uikit/TextAttributes.h"
#include "platform/uikit/View.h"

#include <QPointer>

#include <functional>

namespace platform::uikit {

class BarButtonItem;
class Button;
class Label;
class NavigationItem;

enum BarStyle { BarStyleDefault = 0, BarStyleBlack = 1 };

// The 44-point bar: the top item's title (or title view) in the middle, its left item or a
// back button titled from the item below on the left, its right item on the right. Items are
// shown as kit Buttons inside the bar. A background image taller than the bar is drawn from
// its bottom edge upwards, so the part above the bar shows under the status bar.
class NavigationBar : public View {
    Q_OBJECT
public:
    explicit NavigationBar(const QRectF& frame = QRectF(), View* superview = nullptr);

    int barStyle() const { return m_barStyle; }
    void setBarStyle(int style);
    QColor tintColor() const { return m_tintColor; }
    void setTintColor(const QColor& color);
    QColor barTintColor() const { return m_barTintColor; }
    void setBarTintColor(const QColor& color);
    bool isTranslucent() const { return m_translucent; }
    void setTranslucent(bool translucent) { m_translucent = translucent; }
    Image backgroundImage() const { return m_backgroundImage; }
    void setBackgroundImage(const Image& image);
    TextAttributes titleTextAttributes() const { return m_titleAttributes; }
    void setTitleTextAttributes(const TextAttributes& attributes);

    QList<NavigationItem*> items() const;
    void setItems(const QList<NavigationItem*>& items);
    NavigationItem* topItem() const;
    NavigationItem* backItem() const;

    // What the bar shows now, for callers and tests.
    Button* backButton() const { return m_backButton; }
    View* leftItemView() const { return m_leftView; }
    View* rightItemView() const { return m_rightView; }
    Label* titleLabel() const { return m_titleLabel; }
    // Called when the back button is tapped.
    std::function<void()> onBack;

    // A pop in progress: the items of `incoming` (the bar's items once the pop is done) fade
    // in over the current ones as these fade out, with `progress` from 0 to 1. The bar keeps
    // its own items until they are set; endPopTransition() drops the incoming ones and gives
    // every item its own alpha back.
    void beginPopTransition(const QList<NavigationItem*>& incoming);
    void setPopTransitionProgress(qreal progress);
    void endPopTransition();
    bool isInPopTransition() const { return m_incoming != nullptr; }
    // The incoming items as they are drawn during a pop, for tests.
    const NavigationBar* incomingBarForTesting() const { return m_incoming; }

    // Draws the part of the background image above the bar into `strip` (in the painter's
    // coordinates, the strip's bottom meeting the bar's top).
    void drawBackgroundAbove(QPainter& painter, const QRectF& strip) const;
    void reloadItems();
    void layoutSubviews() override;

protected:
    void drawRect(QPainter& painter) override;

private:
    View* makeItemView(BarButtonItem* item, bool back, const QString& backTitle);
    void styleButton(Button* button, BarButtonItem* item, bool back);
    QColor itemTextColor(BarButtonItem* item, int state) const;
    QList<View*> itemViews() const;
    void fadeItems(const NavigationBar* bar, qreal factor);

    int m_barStyle = BarStyleDefault;
    QColor m_tintColor;
    QColor m_barTintColor;
    bool m_translucent = true;
    Image m_backgroundImage;
    TextAttributes m_titleAttributes;
    QList<QPointer<NavigationItem>> m_items;
    Button* m_backButton = nullptr;
    View* m_leftView = nullptr;
    View* m_rightView = nullptr;
    Label* m_titleLabel = nullptr;
    QPointer<View> m_titleView;
    QList<QPointer<View>> m_customViews;
    bool m_drawsBackground = true;
    NavigationBar* m_incoming = nullptr;
    // Each faded view's own alpha, given back when the pop ends.
    QList<QPair<QPointer<View>, qreal>> m_ownAlphas;
};

} // namespace platform::uikit

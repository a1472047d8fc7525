#include "platform/uikit/Toolbar.h"

#include "platform/device/DeviceProfile.h"
#include "platform/uikit/BarBackground.h"
#include "platform/uikit/BarButtonItem.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/Label.h"

#include <QPainter>

#include <algorithm>

namespace platform::uikit {

namespace {
bool isSpace(const BarButtonItem* item)
{
    return item && !item->customView()
        && (item->systemItemKind() == BarButtonSystemItemFlexibleSpace || item->systemItemKind() == BarButtonSystemItemFixedSpace);
}
bool modernLook() { return platform::DeviceProfile::systemMajorVersion() >= 7; }
} // namespace

Toolbar::Toolbar(const QRectF& frame, View* superview)
    : View(frame.isNull() ? QRectF(0, 0, 320, kDefaultHeight) : frame, superview)
{
}

QList<BarButtonItem*> Toolbar::items() const
{
    QList<BarButtonItem*> list;
    for (const auto& item : m_items) {
        if (item)
            list.append(item);
    }
    return list;
}

void Toolbar::setItems(const QList<BarButtonItem*>& items)
{
    for (const auto& item : std::as_const(m_items)) {
        if (item)
            disconnect(item, nullptr, this, nullptr);
    }
    m_items.clear();
    for (BarButtonItem* item : items) {
        if (!item)
            continue;
        if (!item->parent())
            item->setParent(this);
        m_items.append(item);
        connect(item, &BarButtonItem::changed, this, [this] { rebuild(); });
    }
    rebuild();
}

void Toolbar::setTintColor(const QColor& color)
{
    m_tintColor = color;
    rebuild();
}

void Toolbar::setBarStyle(int style)
{
    m_barStyle = style;
    update();
}

void Toolbar::setBackgroundImage(const Image& image)
{
    m_backgroundImage = image;
    update();
}

View* Toolbar::viewForItemAtIndex(int index) const { return m_itemViews.value(index); }

qreal Toolbar::edgeMargin() const { return modernLook() ? 12 : 6; }
qreal Toolbar::itemSpacing() const { return modernLook() ? 8 : 10; }

void Toolbar::rebuild()
{
    // Our own buttons go; custom views belong to their items and stay.
    for (const auto& view : std::as_const(m_itemViews)) {
        if (!view)
            continue;
        bool custom = false;
        for (const auto& item : std::as_const(m_items))
            custom = custom || (item && item->customView() == view);
        if (!custom) {
            view->hide();
            view->deleteLater();
        }
    }
    m_itemViews.clear();
    const QColor tint = m_tintColor.isValid() ? m_tintColor : (modernLook() ? QColor(0, 122, 255) : QColor(Qt::white));
    for (const auto& item : std::as_const(m_items)) {
        if (!item || isSpace(item)) {
            m_itemViews.append(nullptr);
            continue;
        }
        if (View* custom = item->customView()) {
            addSubview(custom);
            m_itemViews.append(custom);
            continue;
        }
        auto* button = new Button(ButtonTypeCustom, QRectF(), this);
        button->setTitle(item->title(), ControlStateNormal);
        for (int state : {int(ControlStateNormal), int(ControlStateHighlighted), int(ControlStateDisabled)}) {
            const TextAttributes attributes = item->titleTextAttributes(state);
            QColor color = attributes.textColor.value_or(tint);
            if (!attributes.textColor && state == ControlStateHighlighted)
                color = color.lighter(150);
            if (!attributes.textColor && state == ControlStateDisabled)
                color.setAlphaF(color.alphaF() * 0.35);
            button->setTitleColor(color, state);
            if (attributes.shadowColor)
                button->setTitleShadowColor(*attributes.shadowColor, state);
            if (!item->backgroundImage(state).isNull())
                button->setBackgroundImage(item->backgroundImage(state), state);
        }
        const TextAttributes normal = item->titleTextAttributes(ControlStateNormal);
        button->titleLabel()->setFont(normal.font.value_or(Label::systemFont(modernLook() ? 17 : 12, !modernLook())));
        button->setEnabled(item->isEnabled());
        button->setTag(item->tag());
        QPointer<BarButtonItem> guarded(item.data());
        button->addTarget(ControlEventTouchUpInside, [guarded] {
            if (guarded)
                guarded->trigger();
        });
        button->show();
        m_itemViews.append(button);
    }
    layoutSubviews();
}

void Toolbar::layoutSubviews()
{
    const qreal height = bounds().height();
    QList<qreal> widths;
    qreal used = 0;
    int flexible = 0;
    int placed = 0;
    for (int i = 0; i < m_items.size(); ++i) {
        const BarButtonItem* item = m_items[i];
        qreal w = 0;
        if (!item) {
        } else if (item->systemItemKind() == BarButtonSystemItemFlexibleSpace && !item->customView()) {
            ++flexible;
        } else if (item->systemItemKind() == BarButtonSystemItemFixedSpace && !item->customView()) {
            w = std::max<qreal>(0, item->width());
        } else if (View* view = m_itemViews.value(i)) {
            if (item->width() > 0)
                w = item->width();
            else if (item->customView())
                w = view->frame().width();
            else
                w = std::max<qreal>(30, view->sizeThatFits({}).width() + 8);
            ++placed;
        }
        widths.append(w);
        used += w;
    }
    const qreal spacing = placed > 1 ? itemSpacing() * (placed - 1) : 0;
    const qreal free = std::max<qreal>(0, bounds().width() - 2 * edgeMargin() - used - spacing);
    const qreal flexibleWidth = flexible > 0 ? free / flexible : 0;
    qreal x = edgeMargin();
    bool previousPlaced = false;
    for (int i = 0; i < m_items.size(); ++i) {
        const BarButtonItem* item = m_items[i];
        if (item && item->systemItemKind() == BarButtonSystemItemFlexibleSpace && !item->customView()) {
            x += flexibleWidth;
            continue;
        }
        View* view = m_itemViews.value(i);
        if (!view) {
            x += widths.value(i);
            continue;
        }
        if (previousPlaced)
            x += itemSpacing();
        const qreal w = widths.value(i);
        const qreal h = item && item->customView() ? std::min(view->frame().height(), height) : std::min<qreal>(height, 44);
        view->setFrame(QRectF(x, std::floor((height - h) / 2), w, h));
        x += w;
        previousPlaced = true;
    }
}

void Toolbar::drawRect(QPainter& painter)
{
    if (!m_backgroundImage.isNull())
        m_backgroundImage.draw(painter, QRectF(rect()));
    else
        drawBarBackground(painter, QRectF(rect()), m_barStyle, QColor(), QColor(), BarContentEdge::Top);
}

} // namespace platform::uikit

#include "platform/uikit/TabBar.h"

#include "platform/device/DeviceProfile.h"
#include "platform/uikit/Control.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/TabBarItem.h"

#include <QMouseEvent>
#include <QPainter>

namespace platform::uikit {

TabBar::TabBar(const QRectF& frame, View* superview) : View(frame, superview) {}

bool TabBar::supportsBarTintColor() { return DeviceProfile::systemMajorVersion() >= 7; }

QList<TabBarItem*> TabBar::items() const
{
    QList<TabBarItem*> out;
    for (const auto& i : m_items)
        if (i)
            out.append(i);
    return out;
}

void TabBar::setItems(const QList<TabBarItem*>& items)
{
    for (const auto& i : m_items)
        if (i)
            disconnect(i, nullptr, this, nullptr);
    m_items.clear();
    for (TabBarItem* i : items) {
        m_items.append(i);
        connect(i, &TabBarItem::changed, this, qOverload<>(&QWidget::update));
    }
    update();
}

void TabBar::setSelectedIndex(int index)
{
    m_selected = index;
    update();
}

QRectF TabBar::rectForItem(int index) const
{
    const int n = std::max(1, int(m_items.size()));
    const qreal w = frame().width() / n;
    return QRectF(index * w, 0, w, 49);
}

void TabBar::mousePressEvent(QMouseEvent*) {}

void TabBar::mouseReleaseEvent(QMouseEvent* e)
{
    const int n = int(m_items.size());
    if (!n || !rect().contains(e->position().toPoint()))
        return;
    const int index = std::clamp(int(e->position().x() / (frame().width() / n)), 0, n - 1);
    if (onSelect)
        onSelect(index);
}

void TabBar::drawRect(QPainter& p)
{
    const bool modern = DeviceProfile::systemMajorVersion() >= 7;
    const QRectF r(rect());
    if (!m_background.isNull())
        m_background.draw(p, r);
    else if (modern)
        p.fillRect(r, m_barTint.isValid() ? m_barTint : (m_barStyle ? QColor(22, 22, 22) : QColor(247, 247, 247)));
    else
        p.fillRect(r, QColor(20, 20, 20));
    p.fillRect(QRectF(0, 0, r.width(), 0.5), QColor(0, 0, 0, 70));
    const QColor tint = m_tint.isValid() ? m_tint : QColor(0, 122, 255);
    const auto list = items();
    for (int i = 0; i < list.size(); ++i) {
        TabBarItem* item = list[i];
        const bool selected = i == m_selected;
        const QRectF cell = rectForItem(i);
        if (selected && !modern)
            p.fillRect(cell.adjusted(2, 2, -2, -2), QColor(255, 255, 255, 40));
        Image img = selected ? item->finishedSelectedImage() : item->finishedUnselectedImage();
        const bool finished = !img.isNull();
        if (!finished)
            img = item->image();
        const QRectF iconRect(cell.center().x() - 15, cell.top() + 4, 30, 30);
        if (!img.isNull()) {
            if (finished) {
                img.draw(p, QRectF(iconRect.center() - QPointF(img.size().width() / 2, img.size().height() / 2), img.size()));
            } else {
                // Plain images are templates: their alpha, tinted.
                QImage tinted(img.image().size(), QImage::Format_ARGB32_Premultiplied);
                tinted.fill(selected ? tint : QColor(146, 146, 146));
                QPainter tp(&tinted);
                tp.setCompositionMode(QPainter::CompositionMode_DestinationIn);
                tp.drawImage(0, 0, img.image());
                tp.end();
                p.drawImage(QRectF(iconRect.center() - QPointF(img.size().width() / 2, img.size().height() / 2), img.size()), tinted);
            }
        }
        const TextAttributes a = item->titleTextAttributes(selected ? ControlStateSelected : ControlStateNormal);
        const QColor color = a.textColor.value_or(selected ? tint : QColor(146, 146, 146));
        drawLabelText(p, QRectF(cell.left(), cell.top() + 33, cell.width(), 14), item->title(), Label::systemFont(10),
                      color, QColor(), QSizeF(), TextAlignmentCenter, 1);
        if (!item->badgeValue().isEmpty()) {
            const QRectF badge(cell.center().x() + 6, cell.top() + 2, 18, 18);
            p.setRenderHint(QPainter::Antialiasing);
            p.setBrush(QColor(255, 59, 48));
            p.setPen(Qt::NoPen);
            p.drawEllipse(badge);
            drawLabelText(p, badge, item->badgeValue(), Label::systemFont(11), Qt::white, QColor(), QSizeF(),
                          TextAlignmentCenter, 1);
        }
    }
}

} // namespace platform::uikit

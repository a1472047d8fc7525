#include "platform/uikit/BarButtonItem.h"

#include "platform/uikit/View.h"

namespace platform::uikit {

BarButtonItem::BarButtonItem(const QString& title, int style, std::function<void()> action, QObject* parent)
    : QObject(parent), m_title(title), m_style(style), m_action(std::move(action))
{
}

BarButtonItem* BarButtonItem::systemItem(int systemItem, std::function<void()> action, QObject* parent)
{
    auto* item = new BarButtonItem({}, BarButtonItemStyleBordered, std::move(action), parent);
    item->m_systemItem = systemItem;
    if (systemItem == BarButtonSystemItemDone)
        item->m_title = QStringLiteral("完成");
    else if (systemItem == BarButtonSystemItemCancel)
        item->m_title = QStringLiteral("取消");
    return item;
}

BarButtonItem* BarButtonItem::withCustomView(View* view, QObject* parent)
{
    auto* item = new BarButtonItem({}, BarButtonItemStylePlain, {}, parent);
    item->m_customView = view;
    return item;
}

BarButtonItem* BarButtonItem::appearanceInNavigationBar()
{
    static BarButtonItem proxy;
    return &proxy;
}

void BarButtonItem::setTitle(const QString& title) { m_title = title; Q_EMIT changed(); }
void BarButtonItem::setStyle(int style) { m_style = style; Q_EMIT changed(); }
void BarButtonItem::setEnabled(bool enabled) { m_enabled = enabled; Q_EMIT changed(); }
void BarButtonItem::setWidth(qreal width) { m_width = width; Q_EMIT changed(); }

void BarButtonItem::trigger() const
{
    if (m_enabled && m_action)
        m_action();
}

void BarButtonItem::setTitleTextAttributes(const TextAttributes& attributes, int state)
{
    if (attributes.isEmpty())
        m_titleAttributes.remove(state);
    else
        m_titleAttributes[state] = attributes;
    Q_EMIT changed();
}

void BarButtonItem::setBackgroundImage(const Image& image, int state)
{
    m_backgrounds[state] = image;
    Q_EMIT changed();
}

void BarButtonItem::setBackButtonBackgroundImage(const Image& image, int state)
{
    m_backBackgrounds[state] = image;
    Q_EMIT changed();
}

void BarButtonItem::setTitlePositionAdjustment(const QPointF& offset) { m_titleAdjustment = offset; Q_EMIT changed(); }
void BarButtonItem::setBackButtonTitlePositionAdjustment(const QPointF& offset)
{
    m_backTitleAdjustment = offset;
    Q_EMIT changed();
}

} // namespace platform::uikit

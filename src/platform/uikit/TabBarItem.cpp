#include "platform/uikit/TabBarItem.h"

namespace platform::uikit {

TabBarItem::TabBarItem(const QString& title, const Image& image, int tag, QObject* parent)
    : QObject(parent), m_title(title), m_image(image), m_tag(tag)
{
}

void TabBarItem::setTitle(const QString& title) { m_title = title; Q_EMIT changed(); }

void TabBarItem::setFinishedImages(const Image& selected, const Image& unselected)
{
    m_finishedSelected = selected;
    m_finishedUnselected = unselected;
    Q_EMIT changed();
}

void TabBarItem::setTitleTextAttributes(const TextAttributes& attributes, int state)
{
    m_attributes[state] = attributes;
    Q_EMIT changed();
}

void TabBarItem::setBadgeValue(const QString& badge) { m_badge = badge; Q_EMIT changed(); }

} // namespace platform::uikit

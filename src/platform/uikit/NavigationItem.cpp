#include "platform/uikit/NavigationItem.h"

#include "platform/uikit/BarButtonItem.h"
#include "platform/uikit/View.h"

namespace platform::uikit {

NavigationItem::~NavigationItem()
{
    // A bar showing the view holds it only as a guarded pointer.
    delete m_titleView.data();
}

void NavigationItem::adopt(BarButtonItem* item)
{
    if (!item)
        return;
    if (!item->parent())
        item->setParent(this);
    connect(item, &BarButtonItem::changed, this, &NavigationItem::changed, Qt::UniqueConnection);
}

void NavigationItem::setTitle(const QString& title)
{
    if (title == m_title)
        return;
    m_title = title;
    Q_EMIT changed();
}

void NavigationItem::setTitleView(View* view)
{
    if (m_titleView == view)
        return;
    // The old view belonged to the item; a bar showing it lets go of it here.
    if (m_titleView)
        m_titleView->deleteLater();
    m_titleView = view;
    Q_EMIT changed();
}

void NavigationItem::setLeftBarButtonItem(BarButtonItem* item) { m_left = item; adopt(item); Q_EMIT changed(); }
void NavigationItem::setRightBarButtonItem(BarButtonItem* item) { m_right = item; adopt(item); Q_EMIT changed(); }
void NavigationItem::setBackBarButtonItem(BarButtonItem* item) { m_back = item; adopt(item); Q_EMIT changed(); }

void NavigationItem::setHidesBackButton(bool hides, bool)
{
    m_hidesBackButton = hides;
    Q_EMIT changed();
}

} // namespace platform::uikit

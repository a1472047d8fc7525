#include "platform/uikit/TableViewController.h"

#include "platform/device/DeviceProfile.h"
#include "platform/uikit/TableView.h"

namespace platform::uikit {

TableViewController::TableViewController(int style, QObject* parent) : ViewController(parent), m_style(style) {}

void TableViewController::loadView()
{
    auto* table = new TableView(QRectF(QPointF(), DeviceProfile::screenSize()), m_style);
    table->setDataSource(this);
    table->setTableDelegate(this);
    table->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
    setView(table);
}

TableView* TableViewController::tableView() { return static_cast<TableView*>(view()); }

void TableViewController::viewWillAppear(bool animated)
{
    ViewController::viewWillAppear(animated);
    TableView* table = tableView();
    if (!m_loadedOnce) {
        m_loadedOnce = true;
        table->reloadData();
    } else if (m_clearsSelection && table->indexPathForSelectedRow().isValid()) {
        table->deselectRowAtIndexPath(table->indexPathForSelectedRow(), animated);
    }
}

} // namespace platform::uikit

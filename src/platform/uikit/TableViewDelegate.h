#pragma once

#include "platform/uikit/IndexPath.h"
#include "platform/uikit/ScrollViewDelegate.h"

namespace platform::uikit {

class TableView;
class TableViewCell;
class View;

// Heights and section views of a table and what happens on selection. A height below 0
// means "not answered": the table's own row, header or footer height is used.
class TableViewDelegate : public ScrollViewDelegate {
public:
    virtual qreal heightForRowAtIndexPath(TableView*, const IndexPath&) { return -1; }
    virtual qreal heightForHeaderInSection(TableView*, int) { return -1; }
    virtual qreal heightForFooterInSection(TableView*, int) { return -1; }
    // A new view the table then owns; nullptr for none (a title, if any, is drawn instead).
    virtual View* viewForHeaderInSection(TableView*, int) { return nullptr; }
    virtual View* viewForFooterInSection(TableView*, int) { return nullptr; }
    virtual void willDisplayCell(TableView*, TableViewCell*, const IndexPath&) {}
    virtual void didSelectRowAtIndexPath(TableView*, const IndexPath&) {}
};

} // namespace platform::uikit

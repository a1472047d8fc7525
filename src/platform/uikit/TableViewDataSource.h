#pragma once

#include "platform/uikit/IndexPath.h"

#include <QString>

namespace platform::uikit {

class TableView;
class TableViewCell;

// What a table shows. A table asks for the cells of visible rows only.
class TableViewDataSource {
public:
    virtual ~TableViewDataSource() = default;
    virtual int numberOfSectionsInTableView(TableView*) { return 1; }
    virtual int numberOfRowsInSection(TableView*, int section) = 0;
    // A cell for the row, typically dequeued by identifier; the table owns it from then on.
    virtual TableViewCell* cellForRowAtIndexPath(TableView*, const IndexPath& indexPath) = 0;
    // A null string shows no title.
    virtual QString titleForHeaderInSection(TableView*, int /*section*/) { return {}; }
    virtual QString titleForFooterInSection(TableView*, int /*section*/) { return {}; }
};

} // namespace platform::uikit

#pragma once

#include "platform/uikit/TableViewDataSource.h"
#include "platform/uikit/TableViewDelegate.h"
#include "platform/uikit/ViewController.h"

namespace platform::uikit {

class TableView;

// A screen whose view is a table it feeds and answers for itself. The table is loaded the
// first time it appears (or when asked for data earlier) and clears its selection then.
class TableViewController : public ViewController, public TableViewDataSource, public TableViewDelegate {
    Q_OBJECT
public:
    explicit TableViewController(int style = 0, QObject* parent = nullptr);

    TableView* tableView();
    int tableStyle() const { return m_style; }
    bool clearsSelectionOnViewWillAppear() const { return m_clearsSelection; }
    void setClearsSelectionOnViewWillAppear(bool clears) { m_clearsSelection = clears; }

    int numberOfRowsInSection(TableView*, int) override { return 0; }
    TableViewCell* cellForRowAtIndexPath(TableView*, const IndexPath&) override { return nullptr; }

protected:
    void loadView() override;
    void viewWillAppear(bool animated) override;

private:
    int m_style;
    bool m_clearsSelection = true;
    bool m_loadedOnce = false;
};

} // namespace platform::uikit

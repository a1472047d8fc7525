#pragma once

#include "platform/foundation/NotificationCenter.h"
#include "platform/uikit/IndexPath.h"
#include "platform/uikit/TableViewController.h"

#include <optional>

// The root screen of the "我的" tab: a grouped list. Signed out it offers the QR login; signed
// in it shows the account's name and member id and a logout row; either way it leads to the
// offline downloads. It follows the session and the theme.
class KRProfileViewController : public platform::uikit::TableViewController {
    Q_OBJECT
public:
    explicit KRProfileViewController(QObject* parent = nullptr);

    enum class Row { Login, Account, Offline, Logout };
    // Where a row is now, or none while the session does not show it.
    std::optional<platform::uikit::IndexPath> indexPathForRow(Row row) const;

    int numberOfSectionsInTableView(platform::uikit::TableView*) override;
    int numberOfRowsInSection(platform::uikit::TableView*, int section) override;
    platform::uikit::TableViewCell* cellForRowAtIndexPath(platform::uikit::TableView*, const platform::uikit::IndexPath&) override;
    QString titleForFooterInSection(platform::uikit::TableView*, int section) override;
    void didSelectRowAtIndexPath(platform::uikit::TableView*, const platform::uikit::IndexPath&) override;

protected:
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;

private:
    QList<QList<Row>> sections() const;
    void applyTheme();

    platform::ObserverToken m_sessionObserver;
    platform::ObserverToken m_themeObserver;
};

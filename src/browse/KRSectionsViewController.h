#pragma once

#include "platform/foundation/NotificationCenter.h"
#include "platform/uikit/TableViewController.h"

#include <QVariantList>

namespace platform::uikit {
class Button;
}

// The discover tab: an entry row into the following feed and a three-column grid of buttons,
// one per browsable section, each opening the section's list in the way its route asks for.
class KRSectionsViewController : public platform::uikit::TableViewController {
    Q_OBJECT
public:
    // The buttons' tags: the following feed's two, then the channels from kChannelTagBase on.
    static constexpr int kAllFollowingTag = 900;
    static constexpr int kVideoFollowingTag = 901;
    static constexpr int kChannelTagBase = 1000;

    explicit KRSectionsViewController(QObject* parent = nullptr);
    ~KRSectionsViewController() override;

    QVariantList channels() const;
    void applyTheme();
    void followingButtonTapped(platform::uikit::Button* button);
    void channelButtonTapped(platform::uikit::Button* button);

    int numberOfSectionsInTableView(platform::uikit::TableView* tableView) override;
    int numberOfRowsInSection(platform::uikit::TableView* tableView, int section) override;
    qreal heightForRowAtIndexPath(platform::uikit::TableView* tableView, const platform::uikit::IndexPath& indexPath) override;
    qreal heightForHeaderInSection(platform::uikit::TableView* tableView, int section) override;
    platform::uikit::View* viewForHeaderInSection(platform::uikit::TableView* tableView, int section) override;
    qreal heightForFooterInSection(platform::uikit::TableView* tableView, int section) override;
    platform::uikit::View* viewForFooterInSection(platform::uikit::TableView* tableView, int section) override;
    platform::uikit::TableViewCell* cellForRowAtIndexPath(platform::uikit::TableView* tableView,
                                                          const platform::uikit::IndexPath& indexPath) override;

    int supportedInterfaceOrientations() override;
    bool shouldAutorotateToInterfaceOrientation(int orientation) override;

protected:
    void viewDidLoad() override;

private:
    void themeDidChange();
    platform::uikit::TableViewCell* followingEntryCell(platform::uikit::TableView* tableView);
    platform::uikit::TableViewCell* channelGridCell(platform::uikit::TableView* tableView, int row);

    platform::ObserverToken m_themeObserver;
};

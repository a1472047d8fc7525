#pragma once

#include "platform/uikit/TableViewController.h"

#include <QVariantList>

// The discover tab: an entry row into the following feed and a three-column grid of buttons,
// one per browsable section, each opening the section's list.
class KRSectionsViewController : public platform::uikit::TableViewController {
    Q_OBJECT
public:
    explicit KRSectionsViewController(QObject* parent = nullptr);
    ~KRSectionsViewController() override;

    QVariantList channels() const;

    bool shouldAutorotateToInterfaceOrientation(int orientation) override;

protected:
    void viewDidLoad() override;
};

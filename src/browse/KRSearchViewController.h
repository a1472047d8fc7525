#pragma once

#include "platform/uikit/TableViewController.h"
#include "platform/uikit/View.h"

#include <QString>

// The "探索" tab: a search field in the navigation bar, the search history while editing, a
// sort bar above the results and a paged list of videos; with no keyword, the popular list.
class KRSearchViewController : public platform::uikit::TableViewController {
    Q_OBJECT
public:
    explicit KRSearchViewController(QObject* parent = nullptr);
    // A screen that searches for the keyword when it first appears (a video's tag).
    explicit KRSearchViewController(const QString& keyword, QObject* parent = nullptr);
    ~KRSearchViewController() override;

protected:
    void viewDidLoad() override;

private:
    QString m_initialKeyword;
};

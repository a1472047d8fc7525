#pragma once

#include "platform/uikit/ViewController.h"

namespace platform::uikit {

class TabBar;

// Tabs of screens over a 49-point tab bar at the bottom (above the bottom safe area). The
// selected screen fills the space above the bar, or the whole view while its navigation
// stack's top screen hides the bottom bar.
class TabBarController : public ViewController {
    Q_OBJECT
public:
    explicit TabBarController(QObject* parent = nullptr);

    QList<ViewController*> viewControllers() const;
    void setViewControllers(const QList<ViewController*>& controllers);
    ViewController* selectedViewController() const;
    int selectedIndex() const { return m_selected; }
    void setSelectedIndex(int index);
    void setSelectedViewController(ViewController* controller);
    TabBar* tabBar();
    // A tap on a tab as a finger makes it (tells didSelectViewController).
    void tapTabForTesting(int index);

    void reloadTabBarItems();
    void layoutForSelected();

protected:
    void loadView() override;
    QList<ViewController*> childrenForAppearance() const override;
    // The platform's delegate calls.
    virtual bool shouldSelectViewController(ViewController*) { return true; }
    virtual void didSelectViewController(ViewController*) {}

private:
    QList<QPointer<ViewController>> m_tabs;
    TabBar* m_tabBar = nullptr;
    int m_selected = -1;
};

} // namespace platform::uikit

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

    // While a pop uncovers a screen that shows the bar this one hides, the bar comes back with
    // that screen, as on the platform: shown with its left edge at `left` (the uncovered
    // screen's) and drawn only left of `coveredFrom`, where the screen on top still covers it
    // (both in this controller's view). endTabBarReveal() lays it out for the stack again.
    void revealTabBar(qreal left, qreal coveredFrom);
    void endTabBarReveal();
    bool isRevealingTabBar() const { return m_revealing; }

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
    bool m_revealing = false;
};

} // namespace platform::uikit

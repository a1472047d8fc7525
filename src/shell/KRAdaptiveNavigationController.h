#pragma once

#include "platform/foundation/DelayedCall.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/uikit/NavigationController.h"

// The navigation controller of every tab stack: themed, with the status-bar backdrop kept in
// step with the bar, a "返回" back item on every covered screen that has none of its own,
// swipe-back only while something can be popped, and rotation only while the visible screen
// asks for playback rotation. On systems from 15 its theme waits for its first appearance.
class KRAdaptiveNavigationController : public platform::uikit::NavigationController {
    Q_OBJECT
public:
    explicit KRAdaptiveNavigationController(platform::uikit::ViewController* root, QObject* parent = nullptr);
    ~KRAdaptiveNavigationController() override;

    void pushViewController(platform::uikit::ViewController* controller, bool animated) override;

    bool shouldAutorotate() override;
    int supportedInterfaceOrientations() override;
    bool shouldAutorotateToInterfaceOrientation(int orientation) override;

    bool hasCompletedFirstAppearance() const { return m_hasCompletedFirstAppearance; }

protected:
    void viewDidLoad() override;
    void viewDidLayoutSubviews() override;
    void viewDidAppear(bool animated) override;
    void didShowViewController(platform::uikit::ViewController* controller, bool animated) override;

private:
    void statusBarFrameDidChange();
    void refreshBackdropIfReady();
    void applyThemeAfterFirstAppearance();
    void prepareAutomaticBackButtonForPush();

    bool m_hasCompletedFirstAppearance = false;
    platform::ObserverToken m_statusBarObserver;
    platform::DelayedCalls m_delayed;
};

// Enables the controller's edge-swipe pop exactly while it holds two or more screens; systems
// without the recogniser are left alone.
void KREnableNativeSwipeBack(platform::uikit::NavigationController* controller);

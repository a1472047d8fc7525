#pragma once

#include "platform/foundation/DelayedCall.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/uikit/TabBarController.h"
#include "platform/uikit/View.h"

#include <QSizeF>

namespace platform::uikit {
class TabBarItem;
}

// The application's root: four tabs, each a KRAdaptiveNavigationController ("首页" home feed,
// "发现" discover, "探索" search, "我的" profile), themed, with the home logo in the first
// tab's bar. The interface stays portrait unless the visible screen asks for playback
// rotation; that screen then gets the rotation hooks by name on both rotation paths. Playback
// screens leaving full screen ask it, by name, for the two geometry repairs below.
class KRRootViewController : public platform::uikit::TabBarController {
    Q_OBJECT
public:
    explicit KRRootViewController(QObject* parent = nullptr);
    ~KRRootViewController() override;

    bool shouldAutorotate() override;
    int supportedInterfaceOrientations() override;
    bool shouldAutorotateToInterfaceOrientation(int orientation) override;
    void willRotateToInterfaceOrientation(int orientation, double duration) override;
    void willAnimateRotationToInterfaceOrientation(int orientation, double duration) override;
    void didRotateFromInterfaceOrientation(int fromOrientation) override;
    void viewWillTransitionToSize(const QSizeF& size, platform::uikit::TransitionCoordinator* coordinator) override;

    // Puts the root back into the portrait rectangle after a full screen, on systems below 7
    // where the platform could leave it rotated or offset.
    Q_INVOKABLE void kr_commitPortraitRootGeometry();
    // Lays the selected stack's bar out again after a return to portrait, on systems from 15
    // where the platform could leave it laid out for landscape.
    Q_INVOKABLE void kr_reconcileModernPortraitNavigationAfterRotation();

    void updateHomeLogo();
    bool initialModernThemeApplied() const { return m_initialModernThemeApplied; }

protected:
    void viewDidLoad() override;
    void viewDidAppear(bool animated) override;
    void didSelectViewController(platform::uikit::ViewController* controller) override;

private:
    void applyThemeToSelectedNavigationController();
    void applyInitialModernThemeAfterAppearance();

    bool m_initialModernThemeApplied = false;
    // The theme applied at the first appearance is still the one in force: the committing call
    // on the next turn then has nothing to change, and the first paint shows the theme.
    bool m_appearanceThemeCurrent = false;
    // While a size transition runs, the base's calls of the older rotation hooks must not
    // send the playback screen its hooks a second time.
    bool m_inSizeTransition = false;
    platform::ObserverToken m_themeObserver;
    platform::ObserverToken m_preferencesObserver;
    platform::DelayedCalls m_delayed;
};

// A tab item from the named unselected image; when both named images load they are also its
// finished images, drawn as they are rather than tinted.
platform::uikit::TabBarItem* KRTarnwick23TabItem(const QString& title, const QString& imageName, const QString& selectedImageName,
                                                 int tag);
// The item of the root's tab at `index` (0 to 3), tagged with that index.
platform::uikit::TabBarItem* KRRootTabItem(int index);

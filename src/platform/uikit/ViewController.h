#pragma once

#include "platform/uikit/Geometry.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QSizeF>

#include <functional>

namespace platform::uikit {

class NavigationController;
class NavigationItem;
class TabBarController;
class TabBarItem;
class TransitionCoordinator;
class View;

enum ModalPresentationStyle { ModalPresentationFullScreen = 0, ModalPresentationPageSheet = 1, ModalPresentationFormSheet = 2 };

// A screen: owns its view (made on first use by loadView, then viewDidLoad), its navigation
// and tab items, and its child controllers. Appearance, layout and rotation hooks come in the
// platform's order; containers forward them to the children that are showing.
class ViewController : public QObject {
    Q_OBJECT
public:
    explicit ViewController(QObject* parent = nullptr);
    ~ViewController() override;

    View* view();
    bool isViewLoaded() const { return m_view != nullptr; }
    void setView(View* view);
    QString title() const { return m_title; }
    virtual void setTitle(const QString& title);
    NavigationItem* navigationItem();
    TabBarItem* tabBarItem();
    void setTabBarItem(TabBarItem* item);

    ViewController* parentViewController() const { return m_parent; }
    QList<ViewController*> childViewControllers() const;
    void addChildViewController(ViewController* child);
    void removeFromParentViewController();
    NavigationController* navigationController() const;
    TabBarController* tabBarController() const;
    bool hidesBottomBarWhenPushed() const { return m_hidesBottomBar; }
    void setHidesBottomBarWhenPushed(bool hides) { m_hidesBottomBar = hides; }

    // Modal presentation: full screen on phones; a centred 540×620 sheet on pads for the form
    // and page sheet styles.
    int modalPresentationStyle() const { return m_modalStyle; }
    void setModalPresentationStyle(int style) { m_modalStyle = style; }
    void presentViewController(ViewController* controller, bool animated);
    // `completion` runs once the presentation has finished, unless `owner` has gone by then.
    void presentViewController(ViewController* controller, bool animated, QObject* owner, std::function<void()> completion);
    void dismissViewControllerAnimated(bool animated, std::function<void()> completion = {});
    ViewController* presentedViewController() const { return m_presented; }
    ViewController* presentingViewController() const { return m_presenting; }

    // Whether a screen pushed over another keeps what that screen plays going: true for the
    // screens a user opens from a player and comes back from (a thread, a picture, a profile).
    virtual bool keepsPresenterPlayback() const { return false; }
    virtual bool shouldAutorotate() { return true; }
    virtual int supportedInterfaceOrientations();
    virtual bool shouldAutorotateToInterfaceOrientation(int orientation) { return orientation == InterfaceOrientationPortrait; }
    // The older rotation path (below system 8, and from 8 through the base size transition).
    virtual void willRotateToInterfaceOrientation(int orientation, double duration);
    virtual void willAnimateRotationToInterfaceOrientation(int orientation, double duration);
    virtual void didRotateFromInterfaceOrientation(int fromOrientation);
    // From system 8. The base forwards to the children and then to this screen's older hooks,
    // as the platform did; an override that calls it gets both.
    virtual void viewWillTransitionToSize(const QSizeF& size, TransitionCoordinator* coordinator);
    int interfaceOrientation() const;
    // Turns the key window to the device's orientation when it differs and the masks now
    // allow it (screens call this after their answers to the masks have changed).
    static void attemptRotationToDeviceOrientation();

    // Appearance, driven by containers and the window.
    void beginAppearanceTransition(bool appearing, bool animated);
    void endAppearanceTransition();
    bool isAppeared() const { return m_appearState == 2; }

    // Layout notifications of the view (called by the view itself).
    void notifyLayout(bool after);

protected:
    virtual void loadView();
    virtual void viewDidLoad() {}
    virtual void viewWillAppear(bool) {}
    virtual void viewDidAppear(bool) {}
    virtual void viewWillDisappear(bool) {}
    virtual void viewDidDisappear(bool) {}
    virtual void viewWillLayoutSubviews() {}
    virtual void viewDidLayoutSubviews() {}
    // The children that appear with this screen and get its rotation callbacks.
    virtual QList<ViewController*> childrenForAppearance() const { return childViewControllers(); }

private:
    friend class Window;
    QPointer<View> m_view;
    QString m_title;
    NavigationItem* m_navigationItem = nullptr;
    TabBarItem* m_tabBarItem = nullptr;
    QPointer<ViewController> m_parent;
    QList<QPointer<ViewController>> m_children;
    QPointer<ViewController> m_presented;
    QPointer<ViewController> m_presenting;
    int m_modalStyle = ModalPresentationFullScreen;
    bool m_hidesBottomBar = false;
    int m_appearState = 0;  // 0 gone, 1 appearing, 2 shown, 3 disappearing
    bool m_appearAnimated = false;
    bool m_loading = false;
};

} // namespace platform::uikit

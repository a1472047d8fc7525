#pragma once

#include "platform/uikit/AnimationClock.h"
#include "platform/uikit/ViewController.h"

#include <QPointer>

namespace platform::uikit {

class NavigationBar;

// The platform's edge-swipe recogniser, reduced to what callers switch.
class GestureRecognizer : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    bool isEnabled() const { return m_enabled; }
    void setEnabled(bool enabled) { m_enabled = enabled; }

private:
    bool m_enabled = true;
};

// A stack of screens under a navigation bar. The bar is 44 high at the status bar's bottom
// (y 20, or 0 with the status bar hidden or away from the window's top); the top screen fills
// the rest. Pushes and pops slide on the kit's clock; from system 7 a drag from the left edge
// past half the width pops.
class NavigationController : public ViewController {
    Q_OBJECT
public:
    explicit NavigationController(ViewController* root = nullptr, QObject* parent = nullptr);
    ~NavigationController() override;

    QList<ViewController*> viewControllers() const;
    void setViewControllers(const QList<ViewController*>& controllers, bool animated = false);
    ViewController* topViewController() const;
    ViewController* visibleViewController() const;
    virtual void pushViewController(ViewController* controller, bool animated);
    // The popped screens are destroyed once the pop has finished (unless re-parented).
    virtual ViewController* popViewControllerAnimated(bool animated);
    virtual QList<ViewController*> popToRootViewControllerAnimated(bool animated);
    QList<ViewController*> popToViewController(ViewController* controller, bool animated);

    NavigationBar* navigationBar();
    bool isNavigationBarHidden() const { return m_barHidden; }
    void setNavigationBarHidden(bool hidden, bool animated = false);
    // nullptr below system 7, as there was no such recogniser.
    GestureRecognizer* interactivePopGestureRecognizer() const { return m_popRecognizer; }
    bool isTransitioning() const { return m_transition != 0; }

    // A finger dragging from the left edge by `distance` points and lifting.
    void dragFromLeftEdgeForTesting(qreal distance);
    // The rectangle the top screen's view gets.
    QRectF contentFrame() const;
    qreal navigationBarTop() const;
    void layoutContent();

protected:
    void loadView() override;
    QList<ViewController*> childrenForAppearance() const override;
    // Told around every change of the top screen (the platform's delegate calls).
    virtual void willShowViewController(ViewController*, bool) {}
    virtual void didShowViewController(ViewController*, bool) {}

private:
    friend class NavigationContainerView;
    void transition(ViewController* from, ViewController* to, bool push, bool animated, QList<ViewController*> removed);
    void syncBar();
    void notifyBottomBar();
    bool edgeDragBegan(const QPointF& p);
    void edgeDragMoved(qreal dx);
    void edgeDragEnded(qreal dx);
    bool uncoveredStackShowsTabBar(const QList<ViewController*>& remaining);
    void placePop(ViewController* top, ViewController* below, qreal x);
    void endPopReveal();

    QList<QPointer<ViewController>> m_stack;
    // Guarded: a slide cut short as the controller goes ends after the views have gone.
    QPointer<NavigationBar> m_bar;
    bool m_barHidden = false;
    GestureRecognizer* m_popRecognizer = nullptr;
    AnimationClock::Id m_transition = 0;
    bool m_edgeDragging = false;
    // The tab bar comes back with the screen a pop uncovers (see TabBarController::revealTabBar).
    bool m_revealsTabBar = false;
    // How far (0 to 1) an edge drag had moved the top screen when it let go and popped.
    qreal m_popStart = 0;
};

} // namespace platform::uikit

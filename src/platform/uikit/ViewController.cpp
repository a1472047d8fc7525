#include "platform/uikit/ViewController.h"

#include "platform/device/DeviceProfile.h"
#include "platform/foundation/ReplyOwner.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/Device.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/NavigationItem.h"
#include "platform/uikit/TabBarController.h"
#include "platform/uikit/TabBarItem.h"
#include "platform/uikit/TransitionCoordinator.h"
#include "platform/uikit/View.h"
#include "platform/uikit/Window.h"

namespace platform::uikit {

ViewController::ViewController(QObject* parent) : QObject(parent) {}

ViewController::~ViewController()
{
    if (m_presented)
        delete m_presented.data();
    for (const auto& child : m_children)
        if (child && child->parent() == this)
            child->m_parent = nullptr;
    // The view may sit in a window or a container's view; it goes with its screen.
    delete m_view.data();
}

View* ViewController::view()
{
    if (!m_view && !m_loading) {
        m_loading = true;
        loadView();
        if (!m_view)
            setView(new View(QRectF(QPointF(), DeviceProfile::screenSize())));
        m_loading = false;
        viewDidLoad();
    }
    return m_view;
}

void ViewController::loadView()
{
    auto* v = new View(QRectF(QPointF(), DeviceProfile::screenSize()));
    v->setBackgroundColor(QColor(Qt::white));
    setView(v);
}

void ViewController::setView(View* view)
{
    if (m_view == view)
        return;
    m_view = view;
    if (view)
        view->setProperty("kr_controller", QVariant::fromValue(static_cast<QObject*>(this)));
}

void ViewController::notifyLayout(bool after)
{
    if (after)
        viewDidLayoutSubviews();
    else
        viewWillLayoutSubviews();
}

void ViewController::setTitle(const QString& title)
{
    m_title = title;
    navigationItem()->setTitle(title);
    if (m_tabBarItem)
        m_tabBarItem->setTitle(title);
}

NavigationItem* ViewController::navigationItem()
{
    if (!m_navigationItem) {
        m_navigationItem = new NavigationItem(this);
        m_navigationItem->setTitle(m_title);
    }
    return m_navigationItem;
}

TabBarItem* ViewController::tabBarItem()
{
    if (!m_tabBarItem)
        m_tabBarItem = new TabBarItem(m_title, Image(), 0, this);
    return m_tabBarItem;
}

void ViewController::setTabBarItem(TabBarItem* item)
{
    if (m_tabBarItem == item)
        return;
    if (m_tabBarItem && m_tabBarItem->parent() == this)
        m_tabBarItem->deleteLater();
    m_tabBarItem = item;
    if (item && !item->parent())
        item->setParent(this);
    if (auto* tab = tabBarController())
        tab->reloadTabBarItems();
}

QList<ViewController*> ViewController::childViewControllers() const
{
    QList<ViewController*> out;
    for (const auto& c : m_children)
        if (c)
            out.append(c);
    return out;
}

void ViewController::addChildViewController(ViewController* child)
{
    if (!child || child->m_parent == this)
        return;
    child->removeFromParentViewController();
    child->m_parent = this;
    child->setParent(this);
    m_children.append(child);
}

void ViewController::removeFromParentViewController()
{
    if (!m_parent)
        return;
    m_parent->m_children.removeAll(QPointer<ViewController>(this));
    m_parent = nullptr;
    setParent(nullptr);
}

NavigationController* ViewController::navigationController() const
{
    for (ViewController* p = m_parent; p; p = p->m_parent)
        if (auto* nav = qobject_cast<NavigationController*>(p))
            return nav;
    return nullptr;
}

TabBarController* ViewController::tabBarController() const
{
    for (ViewController* p = m_parent; p; p = p->m_parent)
        if (auto* tab = qobject_cast<TabBarController*>(p))
            return tab;
    return nullptr;
}

int ViewController::supportedInterfaceOrientations()
{
    return DeviceProfile::isPad() ? 30 : InterfaceOrientationMaskAllButUpsideDown;
}

int ViewController::interfaceOrientation() const { return Application::shared().statusBarOrientation(); }

void ViewController::attemptRotationToDeviceOrientation()
{
    auto& app = Application::shared();
    const int device = Device::current().orientation();
    // Unknown, face up and face down say nothing about where the interface should point.
    if (device < InterfaceOrientationPortrait || device > InterfaceOrientationLandscapeLeft)
        return;
    if (Window* window = app.keyWindow(); window && device != app.statusBarOrientation())
        window->rotateToInterfaceOrientation(device);
}

void ViewController::presentViewController(ViewController* controller, bool animated)
{
    presentViewController(controller, animated, nullptr, {});
}

void ViewController::presentViewController(ViewController* controller, bool animated, QObject* owner,
                                           std::function<void()> completion)
{
    if (!controller || m_presented)
        return;
    // The topmost presenter presents, as the platform does.
    ViewController* presenter = this;
    Window* window = m_view ? m_view->window() : nullptr;
    if (!window)
        window = Application::shared().keyWindow();
    if (!window)
        return;
    m_presented = controller;
    controller->m_presenting = presenter;
    controller->setParent(this);
    window->presentModal(controller, animated, platform::ownedBy(owner, std::move(completion)));
}

void ViewController::dismissViewControllerAnimated(bool animated, std::function<void()> completion)
{
    // Sent to the presented screen, it dismisses itself through its presenter.
    ViewController* target = m_presented ? this : m_presenting.data();
    if (!target || !target->m_presented) {
        if (completion)
            completion();
        return;
    }
    ViewController* presented = target->m_presented;
    Window* window = presented->m_view ? presented->m_view->window() : Application::shared().keyWindow();
    target->m_presented = nullptr;
    presented->m_presenting = nullptr;
    if (!window) {
        presented->deleteLater();
        if (completion)
            completion();
        return;
    }
    window->dismissModal(presented, animated, std::move(completion));
}

void ViewController::willRotateToInterfaceOrientation(int orientation, double duration)
{
    if (DeviceProfile::systemMajorVersion() < 8)
        for (ViewController* c : childrenForAppearance())
            c->willRotateToInterfaceOrientation(orientation, duration);
}

void ViewController::willAnimateRotationToInterfaceOrientation(int orientation, double duration)
{
    if (DeviceProfile::systemMajorVersion() < 8)
        for (ViewController* c : childrenForAppearance())
            c->willAnimateRotationToInterfaceOrientation(orientation, duration);
}

void ViewController::didRotateFromInterfaceOrientation(int fromOrientation)
{
    if (DeviceProfile::systemMajorVersion() < 8)
        for (ViewController* c : childrenForAppearance())
            c->didRotateFromInterfaceOrientation(fromOrientation);
}

void ViewController::viewWillTransitionToSize(const QSizeF& size, TransitionCoordinator* coordinator)
{
    for (ViewController* c : childrenForAppearance())
        c->viewWillTransitionToSize(size, coordinator);
    const int from = Application::shared().statusBarOrientation();
    const int to = size.width() > size.height() ? InterfaceOrientationLandscapeRight : InterfaceOrientationPortrait;
    const int target = Application::shared().pendingOrientation() ? Application::shared().pendingOrientation() : to;
    const double duration = coordinator->transitionDuration();
    QPointer<ViewController> self(this);
    willRotateToInterfaceOrientation(target, duration);
    coordinator->animateAlongsideTransition(
        [self, target, duration] {
            if (self)
                self->willAnimateRotationToInterfaceOrientation(target, duration);
        },
        [self, from] {
            if (self)
                self->didRotateFromInterfaceOrientation(from);
        });
}

void ViewController::beginAppearanceTransition(bool appearing, bool animated)
{
    const int wanted = appearing ? 1 : 3;
    if (m_appearState == wanted || (appearing && m_appearState == 2) || (!appearing && m_appearState == 0))
        return;
    m_appearState = wanted;
    m_appearAnimated = animated;
    if (appearing) {
        view();
        viewWillAppear(animated);
    } else {
        viewWillDisappear(animated);
    }
    for (ViewController* c : childrenForAppearance())
        c->beginAppearanceTransition(appearing, animated);
}

void ViewController::endAppearanceTransition()
{
    if (m_appearState == 1) {
        m_appearState = 2;
        viewDidAppear(m_appearAnimated);
    } else if (m_appearState == 3) {
        m_appearState = 0;
        viewDidDisappear(m_appearAnimated);
    } else {
        return;
    }
    for (ViewController* c : childrenForAppearance())
        c->endAppearanceTransition();
}

} // namespace platform::uikit

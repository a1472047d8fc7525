#include "platform/uikit/NavigationController.h"

#include "platform/device/DeviceProfile.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/NavigationBar.h"
#include "platform/uikit/NavigationItem.h"
#include "platform/uikit/TabBar.h"
#include "platform/uikit/TabBarController.h"
#include "platform/uikit/View.h"
#include "platform/uikit/Window.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>

#include <algorithm>

namespace platform::uikit {
namespace {
constexpr double kSlideSeconds = 0.35;
constexpr double kShortestSlideSeconds = 0.05;
constexpr qreal kEdgeWidth = 20;
} // namespace

// The navigation controller's own view: lays out the bar and the top screen, paints the part
// of a tall bar image that lies under the status bar, and tracks the edge drag.
class NavigationContainerView : public View {
public:
    NavigationContainerView(NavigationController* owner, const QRectF& frame) : View(frame), m_owner(owner)
    {
        // The edge drag wins over whatever lies under the finger (a table scrolls otherwise),
        // as the platform's recogniser did: presses are looked at before they are delivered.
        qApp->installEventFilter(this);
    }
    void layoutSubviews() override
    {
        if (m_owner)
            m_owner->layoutContent();
    }

protected:
    void drawRect(QPainter& p) override
    {
        if (!m_owner || !m_owner->m_bar || m_owner->m_barHidden)
            return;
        const qreal top = m_owner->navigationBarTop();
        if (top > 0)
            m_owner->m_bar->drawBackgroundAbove(p, QRectF(0, 0, width(), top));
    }
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        const bool pressing = View::beginsTouch(event);
        if (!pressing || m_dragging || !m_owner)
            return false;
        auto* target = qobject_cast<QWidget*>(watched);
        if (!target || !(target == this || isAncestorOf(target)))
            return false;
        // While screens slide, touches are not taken, as on the platform: a second tap on the
        // row that started a push would push the same screen again.
        if (m_owner->isTransitioning())
            return true;
        if (event->type() != QEvent::MouseButtonPress || target == this)
            return false;
        auto* press = static_cast<QMouseEvent*>(event);
        const QPointF local = mapFromGlobal(press->globalPosition());
        if (press->button() != Qt::LeftButton || !m_owner->edgeDragBegan(local))
            return false;
        m_dragging = true;
        m_start = local.x();
        grabMouse();
        return true;
    }
    void mousePressEvent(QMouseEvent* e) override
    {
        m_dragging = m_owner && m_owner->edgeDragBegan(e->position());
        m_start = e->position().x();
        if (!m_dragging)
            e->ignore();
    }
    void mouseMoveEvent(QMouseEvent* e) override
    {
        if (m_dragging && m_owner)
            m_owner->edgeDragMoved(e->position().x() - m_start);
    }
    void mouseReleaseEvent(QMouseEvent* e) override
    {
        if (m_dragging && m_owner)
            m_owner->edgeDragEnded(e->position().x() - m_start);
        m_dragging = false;
        if (mouseGrabber() == this)
            releaseMouse();
    }

private:
    QPointer<NavigationController> m_owner;
    bool m_dragging = false;
    qreal m_start = 0;
};

NavigationController::NavigationController(ViewController* root, QObject* parent) : ViewController(parent)
{
    if (DeviceProfile::systemMajorVersion() >= 7)
        m_popRecognizer = new GestureRecognizer(this);
    if (root) {
        addChildViewController(root);
        m_stack.append(root);
    }
}

NavigationController::~NavigationController()
{
    // The slide ends with this controller, but a tab bar it was bringing back is left to its
    // own controller, which may be going as well.
    m_revealsTabBar = false;
    AnimationClock::cancel(m_transition);
}

void NavigationController::loadView()
{
    auto* v = new NavigationContainerView(this, QRectF(QPointF(), DeviceProfile::screenSize()));
    v->setBackgroundColor(QColor(Qt::white));
    setView(v);
    m_bar = new NavigationBar(QRectF(0, 20, v->frame().width(), 44), v);
    m_bar->setAutoresizingMask(AutoresizingFlexibleWidth);
    QPointer<NavigationController> self(this);
    m_bar->onBack = [self] {
        if (self && self->m_stack.size() > 1 && !self->isTransitioning())
            self->popViewControllerAnimated(true);
    };
    if (ViewController* top = topViewController()) {
        v->addSubview(top->view());
        top->view()->setFrame(contentFrame());
    }
    v->bringSubviewToFront(m_bar);
    syncBar();
}

NavigationBar* NavigationController::navigationBar()
{
    view();
    return m_bar;
}

QList<ViewController*> NavigationController::viewControllers() const
{
    QList<ViewController*> out;
    for (const auto& c : m_stack)
        if (c)
            out.append(c);
    return out;
}

ViewController* NavigationController::topViewController() const
{
    const auto list = viewControllers();
    return list.isEmpty() ? nullptr : list.last();
}

ViewController* NavigationController::visibleViewController() const
{
    ViewController* top = topViewController();
    return top && top->presentedViewController() ? top->presentedViewController() : top;
}

QList<ViewController*> NavigationController::childrenForAppearance() const
{
    ViewController* top = topViewController();
    return top ? QList<ViewController*>{top} : QList<ViewController*>{};
}

qreal NavigationController::navigationBarTop() const
{
    if (!isViewLoaded())
        return 20;
    auto& app = Application::shared();
    const View* v = const_cast<NavigationController*>(this)->view();
    // Only a bar at the window's top edge makes room for the status bar.
    if (app.isStatusBarHidden() || !v->window() || v->frameInWindow().top() > 0.5)
        return v->window() ? 0 : 20;
    return app.statusBarHeightInWindow(v->window());
}

QRectF NavigationController::contentFrame() const
{
    if (!isViewLoaded())
        return {};
    const QSizeF size = const_cast<NavigationController*>(this)->view()->frame().size();
    const qreal top = m_barHidden ? 0 : navigationBarTop() + 44;
    return QRectF(0, top, size.width(), std::max<qreal>(0, size.height() - top));
}

void NavigationController::layoutContent()
{
    if (!isViewLoaded())
        return;
    m_bar->setFrame(QRectF(0, navigationBarTop(), view()->frame().width(), 44));
    m_bar->setHidden(m_barHidden);
    if (!isTransitioning() && !m_edgeDragging)
        if (ViewController* top = topViewController())
            top->view()->setFrame(contentFrame());
    view()->bringSubviewToFront(m_bar);
    view()->update();
}

void NavigationController::syncBar()
{
    if (!m_bar)
        return;
    QList<NavigationItem*> items;
    for (ViewController* c : viewControllers())
        items.append(c->navigationItem());
    m_bar->setItems(items);
}

void NavigationController::setNavigationBarHidden(bool hidden, bool)
{
    m_barHidden = hidden;
    if (isViewLoaded())
        layoutContent();
}

void NavigationController::notifyBottomBar()
{
    if (auto* tab = tabBarController())
        tab->layoutForSelected();
}

void NavigationController::pushViewController(ViewController* controller, bool animated)
{
    if (!controller || m_stack.contains(controller))
        return;
    AnimationClock::cancel(m_transition);  // finishes a running slide at once
    ViewController* from = topViewController();
    addChildViewController(controller);
    m_stack.append(controller);
    if (!isViewLoaded())
        return;
    transition(from, controller, true, animated, {});
}

ViewController* NavigationController::popViewControllerAnimated(bool animated)
{
    if (m_stack.size() < 2)
        return nullptr;
    AnimationClock::cancel(m_transition);
    ViewController* popped = topViewController();
    m_stack.removeLast();
    if (!isViewLoaded()) {
        popped->deleteLater();
        return popped;
    }
    transition(popped, topViewController(), false, animated, {popped});
    return popped;
}

QList<ViewController*> NavigationController::popToRootViewControllerAnimated(bool animated)
{
    if (m_stack.size() < 2)
        return {};
    return popToViewController(viewControllers().first(), animated);
}

QList<ViewController*> NavigationController::popToViewController(ViewController* controller, bool animated)
{
    const int index = m_stack.indexOf(controller);
    if (index < 0 || index == m_stack.size() - 1)
        return {};
    AnimationClock::cancel(m_transition);
    ViewController* from = topViewController();
    QList<ViewController*> removed;
    while (m_stack.size() > index + 1)
        if (ViewController* c = m_stack.takeLast())
            removed.prepend(c);
    if (!isViewLoaded()) {
        for (ViewController* c : removed)
            c->deleteLater();
        return removed;
    }
    transition(from, controller, false, animated, removed);
    return removed;
}

void NavigationController::setViewControllers(const QList<ViewController*>& controllers, bool animated)
{
    AnimationClock::cancel(m_transition);
    ViewController* from = topViewController();
    QList<ViewController*> removed;
    for (ViewController* c : viewControllers())
        if (!controllers.contains(c))
            removed.append(c);
    m_stack.clear();
    for (ViewController* c : controllers) {
        addChildViewController(c);
        m_stack.append(c);
    }
    if (!isViewLoaded()) {
        for (ViewController* c : removed)
            c->deleteLater();
        return;
    }
    transition(from, topViewController(), true, animated && from != topViewController(), removed);
}

void NavigationController::transition(ViewController* from, ViewController* to, bool push, bool animated,
                                      QList<ViewController*> removed)
{
    View* container = view();
    const QRectF content = contentFrame();
    const bool visible = isAppeared();
    if (to) {
        container->addSubview(to->view());
        to->view()->setFrame(content);
        to->view()->show();
        // A popped screen slides away above the one it uncovers.
        if (!push && from && from != to && from->isViewLoaded())
            to->view()->stackUnder(from->view());
    }
    container->bringSubviewToFront(m_bar);
    if (from == to)
        from = nullptr;
    // An animated pop cross-fades the bar's items and brings back a tab bar the uncovered
    // screen shows with that screen; anything else changes both at once.
    const bool slidingPop = !push && animated && from && to;
    m_revealsTabBar = slidingPop && uncoveredStackShowsTabBar(viewControllers());
    if (slidingPop) {
        if (!m_bar->isInPopTransition()) {
            QList<NavigationItem*> incoming;
            for (ViewController* c : viewControllers())
                incoming.append(c->navigationItem());
            m_bar->beginPopTransition(incoming);
        }
    } else {
        m_bar->endPopTransition();
        syncBar();
    }
    if (visible) {
        if (from)
            from->beginAppearanceTransition(false, animated);
        if (to)
            to->beginAppearanceTransition(true, animated);
    }
    willShowViewController(to, animated);
    if (!m_revealsTabBar)
        notifyBottomBar();
    QPointer<ViewController> fromP(from), toP(to);
    QList<QPointer<ViewController>> removedP;
    for (ViewController* c : removed)
        removedP.append(c);
    auto finish = [this, fromP, toP, removedP, visible, animated] {
        m_transition = 0;
        if (m_bar && m_bar->isInPopTransition()) {
            m_bar->endPopTransition();
            syncBar();
        }
        endPopReveal();
        const QRectF frame = contentFrame();
        if (fromP && fromP->isViewLoaded() && fromP != topViewController())
            fromP->view()->hide();
        if (toP && toP->isViewLoaded())
            toP->view()->setFrame(frame);
        if (visible) {
            if (fromP)
                fromP->endAppearanceTransition();
            if (toP)
                toP->endAppearanceTransition();
        }
        for (const auto& c : removedP) {
            if (c && c->parentViewController() == this) {
                c->removeFromParentViewController();
                c->deleteLater();
            }
        }
        didShowViewController(toP, animated);
    };
    if (!animated || !from || !to) {
        finish();
        return;
    }
    const qreal w = content.width();
    // A pop an edge drag let go of goes on from where the finger left the screen.
    const qreal start = push ? 0 : std::clamp<qreal>(m_popStart, 0, 1);
    m_popStart = 0;
    m_transition = AnimationClock::animate(
        this, std::max(kSlideSeconds * (1 - start), kShortestSlideSeconds),
        [this, fromP, toP, content, w, push, start](double t) {
            const double e = 1 - (1 - t) * (1 - t) * (1 - t);
            if (!push) {
                placePop(fromP, toP, w * (start + (1 - start) * e));
                return;
            }
            auto place = [&](ViewController* c, qreal x) {
                if (c && c->isViewLoaded())
                    c->view()->setFrame(content.translated(x, 0));
            };
            place(toP, w * (1 - e));
            place(fromP, -w / 3 * e);
        },
        [finish](bool) { finish(); });
    if (!push)
        placePop(fromP, toP, w * start);
}

bool NavigationController::uncoveredStackShowsTabBar(const QList<ViewController*>& remaining)
{
    TabBarController* tab = tabBarController();
    // The bar is hidden for the stack as it stands, or already coming back with an edge drag.
    if (!tab || tab->selectedViewController() != this || !tab->isViewLoaded()
        || (!tab->tabBar()->isHidden() && !tab->isRevealingTabBar()))
        return false;
    for (int i = 1; i < remaining.size(); ++i)
        if (remaining[i]->hidesBottomBarWhenPushed())
            return false;
    return true;
}

void NavigationController::placePop(ViewController* top, ViewController* below, qreal x)
{
    const QRectF content = contentFrame();
    const qreal w = content.width();
    const qreal belowX = -w / 3 + x / 3;
    if (top && top->isViewLoaded())
        top->view()->setFrame(content.translated(x, 0));
    TabBarController* tab = m_revealsTabBar ? tabBarController() : nullptr;
    if (below && below->isViewLoaded()) {
        QRectF frame = content.translated(belowX, 0);
        // The uncovered screen is laid out as it will be once the pop is done, above the bar.
        if (tab)
            frame.setHeight(std::max<qreal>(0, frame.height() - tab->tabBar()->frame().height()));
        below->view()->setFrame(frame);
    }
    if (tab) {
        const qreal origin = view()->frame().left();
        tab->revealTabBar(origin + belowX, origin + x);
    }
    if (m_bar)
        m_bar->setPopTransitionProgress(w > 0 ? x / w : 1);
}

void NavigationController::endPopReveal()
{
    if (!m_revealsTabBar)
        return;
    m_revealsTabBar = false;
    if (TabBarController* tab = tabBarController())
        tab->endTabBarReveal();
}

bool NavigationController::edgeDragBegan(const QPointF& p)
{
    if (!m_popRecognizer || !m_popRecognizer->isEnabled() || m_stack.size() < 2 || isTransitioning())
        return false;
    if (p.x() > kEdgeWidth || p.y() < contentFrame().top())
        return false;
    m_edgeDragging = true;
    const QList<ViewController*> stack = viewControllers();
    ViewController* below = stack.at(stack.size() - 2);
    view()->addSubview(below->view());
    below->view()->stackUnder(topViewController()->view());
    below->view()->show();
    m_revealsTabBar = uncoveredStackShowsTabBar(stack.mid(0, stack.size() - 1));
    QList<NavigationItem*> incoming;
    for (ViewController* c : stack.mid(0, stack.size() - 1))
        incoming.append(c->navigationItem());
    m_bar->beginPopTransition(incoming);
    edgeDragMoved(0);
    return true;
}

void NavigationController::edgeDragMoved(qreal dx)
{
    if (!m_edgeDragging)
        return;
    const QList<ViewController*> stack = viewControllers();
    placePop(stack.last(), stack.at(stack.size() - 2), std::clamp<qreal>(dx, 0, contentFrame().width()));
}

void NavigationController::edgeDragEnded(qreal dx)
{
    if (!m_edgeDragging)
        return;
    m_edgeDragging = false;
    const qreal w = contentFrame().width();
    const qreal x = std::clamp<qreal>(dx, 0, w);
    if (dx > w / 2) {
        m_popStart = w > 0 ? x / w : 1;
        popViewControllerAnimated(true);
        return;
    }
    // Not far enough: the top screen slides back, and the bar's items and the tab bar with it.
    const QList<ViewController*> stack = viewControllers();
    QPointer<ViewController> top(stack.last()), below(stack.at(stack.size() - 2));
    auto done = [this, top, below] {
        m_transition = 0;
        if (top && top->isViewLoaded())
            top->view()->setFrame(contentFrame());
        if (below && below->isViewLoaded() && below != topViewController())
            below->view()->hide();
        endPopReveal();
        if (m_bar)
            m_bar->endPopTransition();
    };
    if (x <= 0 || w <= 0) {
        done();
        return;
    }
    m_transition = AnimationClock::animate(
        this, std::max(kSlideSeconds * x / w, kShortestSlideSeconds),
        [this, top, below, x](double t) { placePop(top, below, x * (1 - t) * (1 - t)); },
        [done](bool) { done(); });
}

void NavigationController::dragFromLeftEdgeForTesting(qreal distance)
{
    if (!edgeDragBegan(QPointF(2, contentFrame().top() + 10)))
        return;
    edgeDragMoved(distance);
    edgeDragEnded(distance);
}

} // namespace platform::uikit

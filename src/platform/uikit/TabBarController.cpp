#include "platform/uikit/TabBarController.h"

#include "platform/device/DeviceProfile.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/TabBar.h"
#include "platform/uikit/TabBarItem.h"
#include "platform/uikit/View.h"

#include <QRegion>

#include <algorithm>
#include <cmath>

namespace platform::uikit {
namespace {
constexpr qreal kTabBarHeight = 49;

class TabContainerView : public View {
public:
    TabContainerView(TabBarController* owner, const QRectF& frame) : View(frame), m_owner(owner) {}
    void layoutSubviews() override
    {
        if (m_owner)
            m_owner->layoutForSelected();
    }

private:
    QPointer<TabBarController> m_owner;
};
} // namespace

TabBarController::TabBarController(QObject* parent) : ViewController(parent) {}

void TabBarController::loadView()
{
    auto* v = new TabContainerView(this, QRectF(QPointF(), DeviceProfile::screenSize()));
    v->setBackgroundColor(QColor(Qt::white));
    setView(v);
    m_tabBar = new TabBar(QRectF(0, v->frame().height() - kTabBarHeight, v->frame().width(), kTabBarHeight), v);
    QPointer<TabBarController> self(this);
    m_tabBar->onSelect = [self](int index) {
        if (self)
            self->tapTabForTesting(index);
    };
    reloadTabBarItems();
    if (m_selected >= 0) {
        const int s = m_selected;
        m_selected = -1;
        setSelectedIndex(s);
    }
}

TabBar* TabBarController::tabBar()
{
    view();
    return m_tabBar;
}

QList<ViewController*> TabBarController::viewControllers() const
{
    QList<ViewController*> out;
    for (const auto& c : m_tabs)
        if (c)
            out.append(c);
    return out;
}

QList<ViewController*> TabBarController::childrenForAppearance() const
{
    ViewController* s = selectedViewController();
    return s ? QList<ViewController*>{s} : QList<ViewController*>{};
}

void TabBarController::setViewControllers(const QList<ViewController*>& controllers)
{
    for (ViewController* old : viewControllers()) {
        if (!controllers.contains(old)) {
            old->removeFromParentViewController();
            old->deleteLater();
        }
    }
    m_tabs.clear();
    for (ViewController* c : controllers) {
        addChildViewController(c);
        m_tabs.append(c);
    }
    m_selected = -1;
    reloadTabBarItems();
    if (!controllers.isEmpty())
        setSelectedIndex(0);
}

ViewController* TabBarController::selectedViewController() const
{
    return m_selected >= 0 && m_selected < m_tabs.size() ? m_tabs[m_selected].data() : nullptr;
}

void TabBarController::setSelectedViewController(ViewController* controller)
{
    const int index = m_tabs.indexOf(controller);
    if (index >= 0)
        setSelectedIndex(index);
}

void TabBarController::reloadTabBarItems()
{
    if (!m_tabBar)
        return;
    QList<TabBarItem*> items;
    for (ViewController* c : viewControllers())
        items.append(c->tabBarItem());
    m_tabBar->setItems(items);
}

void TabBarController::setSelectedIndex(int index)
{
    if (index < 0 || index >= m_tabs.size())
        return;
    if (!isViewLoaded()) {
        m_selected = index;
        return;
    }
    ViewController* from = selectedViewController();
    ViewController* to = m_tabs[index];
    if (from == to && from->isViewLoaded() && from->view()->superview() == view())
        return;
    // A bar coming back with a pop belongs to the tab being left.
    if (from != to && m_revealing) {
        m_revealing = false;
        m_tabBar->clearMask();
    }
    const bool visible = isAppeared();
    if (visible && from && from != to)
        from->beginAppearanceTransition(false, false);
    m_selected = index;
    m_tabBar->setSelectedIndex(index);
    view()->addSubview(to->view());
    // A tab left earlier was hidden, not removed: coming back must show it again.
    to->view()->show();
    view()->bringSubviewToFront(m_tabBar);
    layoutForSelected();
    if (visible)
        to->beginAppearanceTransition(true, false);
    if (from && from != to && from->isViewLoaded())
        from->view()->hide();
    if (visible) {
        if (from && from != to)
            from->endAppearanceTransition();
        to->endAppearanceTransition();
    }
}

void TabBarController::tapTabForTesting(int index)
{
    if (index < 0 || index >= m_tabs.size())
        return;
    ViewController* c = m_tabs[index];
    if (!shouldSelectViewController(c))
        return;
    if (index == m_selected) {
        // A second tap on the selected tab returns its stack to the root.
        if (auto* nav = qobject_cast<NavigationController*>(c))
            nav->popToRootViewControllerAnimated(true);
    } else {
        setSelectedIndex(index);
    }
    didSelectViewController(c);
}

void TabBarController::layoutForSelected()
{
    if (!isViewLoaded() || !m_tabBar)
        return;
    const QSizeF size = view()->frame().size();
    const qreal bottomInset = view()->safeAreaInsets().bottom;
    bool hideBar = false;
    ViewController* selected = selectedViewController();
    if (auto* nav = qobject_cast<NavigationController*>(selected)) {
        const auto stack = nav->viewControllers();
        for (int i = 1; i < stack.size(); ++i)
            hideBar = hideBar || stack[i]->hidesBottomBarWhenPushed();
    }
    const qreal barH = kTabBarHeight + bottomInset;
    if (!m_revealing) {
        m_tabBar->setFrame(QRectF(0, size.height() - barH, size.width(), barH));
        m_tabBar->setHidden(hideBar);
    }
    if (selected && selected->isViewLoaded())
        selected->view()->setFrame(QRectF(0, 0, size.width(), hideBar ? size.height() : size.height() - barH));
}

void TabBarController::revealTabBar(qreal left, qreal coveredFrom)
{
    if (!isViewLoaded() || !m_tabBar)
        return;
    m_revealing = true;
    const QSizeF size = view()->frame().size();
    const qreal barH = kTabBarHeight + view()->safeAreaInsets().bottom;
    m_tabBar->setFrame(QRectF(left, size.height() - barH, size.width(), barH));
    // The bar lies above the navigation view, so the screen still on top cannot cover it:
    // the bar leaves out the part under that screen instead.
    const int visible = std::max(0, int(std::ceil(coveredFrom - left)));
    m_tabBar->setMask(QRegion(0, 0, visible, int(std::ceil(barH))));
    m_tabBar->setHidden(visible == 0);
    view()->bringSubviewToFront(m_tabBar);
}

void TabBarController::endTabBarReveal()
{
    if (!m_revealing)
        return;
    m_revealing = false;
    if (m_tabBar)
        m_tabBar->clearMask();
    layoutForSelected();
}

} // namespace platform::uikit

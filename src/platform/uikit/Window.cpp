#include "platform/uikit/Window.h"

#include "platform/device/DeviceProfile.h"
#include "platform/uikit/AlertView.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/ApplicationDelegate.h"
#include "platform/uikit/Device.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/Screen.h"
#include "platform/uikit/TextField.h"
#include "platform/uikit/TransitionCoordinator.h"
#include "platform/uikit/ViewController.h"

#include <QCloseEvent>
#include <QExposeEvent>
#include <QHideEvent>
#include <QShowEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLinearGradient>
#include <QPainter>
#include <QResizeEvent>
#include <QWindow>

#include <memory>
#include <utility>

namespace platform::uikit {
namespace {
constexpr double kRotationSeconds = 0.3;
constexpr double kModalSeconds = 0.35;
const QSizeF kFormSheet(540, 620);

// The status bar: transparent from system 7 with dark or light content; an opaque bar before.
class StatusBarView : public View {
public:
    explicit StatusBarView(View* superview) : View(QRectF(), superview)
    {
        setOpaque(false);
        setUserInteractionEnabled(false);
    }

protected:
    void drawRect(QPainter& p) override
    {
        const int style = Application::shared().statusBarStyle();
        const bool modern = DeviceProfile::systemMajorVersion() >= 7;
        QColor text = Qt::black;
        if (modern) {
            text = style == StatusBarStyleLightContent ? Qt::white : Qt::black;
        } else {
            if (style == StatusBarStyleDefault) {
                QLinearGradient g(0, 0, 0, height());
                g.setColorAt(0, QColor(216, 216, 216));
                g.setColorAt(1, QColor(168, 168, 168));
                p.fillRect(rect(), g);
            } else {
                p.fillRect(rect(), style == StatusBarStyleBlackOpaque ? QColor(Qt::black) : QColor(0, 0, 0, 170));
                text = Qt::white;
            }
        }
        const qreal h = std::min<qreal>(height(), 20);
        const QRectF line(6, height() - h, width() - 12, h);
        drawLabelText(p, line, QStringLiteral("9:41"), Label::systemFont(12, true), text, QColor(), QSizeF(),
                      TextAlignmentCenter, 1);
        drawLabelText(p, line, QStringLiteral("Korvane"), Label::systemFont(12), text, QColor(), QSizeF(),
                      TextAlignmentLeft, 1);
        // The battery.
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF battery(line.right() - 26, line.center().y() - 5, 22, 10);
        p.setPen(QPen(text, 1));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(battery, 2, 2);
        p.fillRect(battery.adjusted(2, 2, -6, -2), text);
        p.fillRect(QRectF(battery.right() + 1, battery.center().y() - 2, 2, 4), text);
    }
};

// Dims what is behind a form sheet.
View* makeDimmingView(const QRectF& frame)
{
    auto* v = new View(frame);
    v->setBackgroundColor(QColor(0, 0, 0, 102));
    v->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
    return v;
}
} // namespace

Window::Window(const QRectF& frame) : View(frame.isNull() ? Screen::bounds() : frame)
{
    m_sizeFixedByFrame = true;
    applyGeometry();
    setWindowTitle(QStringLiteral("Korvane"));
    setBackgroundColor(QColor(Qt::black));
    // A tap on a button leaves the first responder as it is, as on a phone: a window that took
    // the focus on a press would end the field's editing before the button saw its release.
    // Keys still reach the window while no field holds the focus.
    setFocusPolicy(Qt::NoFocus);
    m_statusBar = new StatusBarView(this);
    Application::shared().registerWindow(this);
    statusBarDidChange();
}

Window::~Window()
{
    Application::shared().unregisterWindow(this);
    // Alerts still up or waiting go with the window, unanswered: nobody is left to see them.
    for (const QPointer<AlertView>& alert : m_alerts)
        delete alert.data();
    m_alerts.clear();
    delete m_visibleAlert.data();
    // The screens go before their views disappear under them.
    for (const auto& m : m_modals)
        delete m.controller.data();
    delete m_root.data();
}

bool Window::isKeyWindow() const { return Application::shared().keyWindow() == this; }

EdgeInsets Window::safeAreaInsets() const
{
    if (m_pinnedSafeArea)
        return *m_pinnedSafeArea;
    if (DeviceProfile::systemMajorVersion() < 11)
        return {};
    const bool landscape = frame().width() > frame().height();
    const bool hidden = Application::shared().isStatusBarHidden();
    if (Screen::isTallFullScreen())
        return landscape ? EdgeInsets{0, 44, 21, 44} : EdgeInsets{44, 0, 34, 0};
    return EdgeInsets{hidden || landscape ? 0.0 : 20.0, 0, 0, 0};
}

QRectF Window::windowSceneBounds() const
{
    if (!Screen::hasWindowScenes())
        return {};
    return QRectF(QPointF(), frame().size());
}

void Window::setRootViewController(ViewController* controller)
{
    if (controller == m_root)
        return;
    if (m_root) {
        if (m_root->isViewLoaded())
            m_root->view()->removeFromSuperview();
        if (m_root->parent() == this)
            m_root->deleteLater();
    }
    m_root = controller;
    if (!controller)
        return;
    if (!controller->parent())
        controller->setParent(this);
    View* v = controller->view();
    addSubview(v);
    v->setFrame(bounds());
    v->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
    raiseOverlays();
    if (isVisible()) {
        controller->beginAppearanceTransition(true, false);
        controller->endAppearanceTransition();
    }
}

void Window::makeKeyAndVisible()
{
    Application::shared().setKeyWindow(this);
    if (!isVisible()) {
        show();
        if (m_root) {
            m_root->beginAppearanceTransition(true, false);
            m_root->endAppearanceTransition();
        }
    }
    layoutIfNeeded();
}

void Window::raiseOverlays()
{
    for (const auto& m : m_modals)
        if (m.host)
            m.host->raise();
    if (m_visibleAlert && m_visibleAlert->m_view)
        m_visibleAlert->m_view->raise();
    m_statusBar->raise();
}

void Window::statusBarDidChange()
{
    auto& app = Application::shared();
    const qreal h = Screen::isTallFullScreen() && frame().width() < frame().height() ? 44 : 20;
    m_statusBar->setFrame(QRectF(0, 0, frame().width(), h));
    m_statusBar->setHidden(app.isStatusBarHidden());
    m_statusBar->update();
    raiseOverlays();
    // Bars below the status bar move with it.
    setNeedsLayout();
    if (m_root && m_root->isViewLoaded())
        m_root->view()->setNeedsLayout();
}

void Window::layoutSubviews()
{
    if (m_root && m_root->isViewLoaded())
        m_root->view()->setFrame(bounds());
    for (const auto& m : m_modals) {
        if (!m.host || !m.controller)
            continue;
        m.host->setFrame(bounds());
        if (m.controller->isViewLoaded() && m.host != m.controller->view()) {
            const QSizeF s = kFormSheet;
            m.controller->view()->setFrame(QRectF((frame().width() - s.width()) / 2, (frame().height() - s.height()) / 2,
                                                  s.width(), s.height()));
        }
    }
    m_statusBar->setFrame(QRectF(0, 0, frame().width(), m_statusBar->frame().height()));
}

void Window::presentModal(ViewController* controller, bool animated, std::function<void()> completion)
{
    const bool sheet = DeviceProfile::isPad() && (controller->modalPresentationStyle() == ModalPresentationFormSheet ||
                                                  controller->modalPresentationStyle() == ModalPresentationPageSheet);
    View* v = controller->view();
    View* host = v;
    QRectF finalFrame = bounds();
    if (sheet) {
        host = makeDimmingView(bounds());
        addSubview(host);
        host->addSubview(v);
        finalFrame = QRectF((frame().width() - kFormSheet.width()) / 2, (frame().height() - kFormSheet.height()) / 2,
                            kFormSheet.width(), kFormSheet.height());
    } else {
        addSubview(v);
        v->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
    }
    // A screen made at the window's size never changes size on the way in: it is laid out once
    // it is in the window all the same.
    v->setNeedsLayout();
    m_modals.append(Modal{controller, host});
    raiseOverlays();
    controller->beginAppearanceTransition(true, animated);
    QPointer<ViewController> c(controller);
    auto done = [c, completion = std::move(completion)](bool) {
        if (c)
            c->endAppearanceTransition();
        if (completion)
            completion();
    };
    const qreal h = frame().height();
    v->setFrame(finalFrame);
    if (!animated) {
        done(true);
        return;
    }
    // The screen slides in where it will stay: only where it shows moves, so what it lays out
    // from its place in the window (a navigation bar below the status bar) is right all along.
    v->setPresentationOffset(QPointF(0, h));
    AnimationClock::animate(
        this, kModalSeconds,
        [c, h](double t) {
            if (c && c->isViewLoaded())
                c->view()->setPresentationOffset(QPointF(0, h * (1 - t) * (1 - t)));
        },
        std::move(done));
}

void Window::dismissModal(ViewController* controller, bool animated, std::function<void()> completion)
{
    Modal modal;
    for (int i = 0; i < m_modals.size(); ++i) {
        if (m_modals[i].controller == controller) {
            modal = m_modals.takeAt(i);
            break;
        }
    }
    QPointer<ViewController> c(controller);
    QPointer<View> host = modal.host;
    controller->beginAppearanceTransition(false, animated);
    auto done = [c, host, completion = std::move(completion)](bool) {
        if (c) {
            c->endAppearanceTransition();
            c->deleteLater();
        }
        if (host && (!c || host != c->view()))
            host->deleteLater();
        if (completion)
            completion();
    };
    if (!animated || !controller->isViewLoaded()) {
        if (controller->isViewLoaded())
            controller->view()->hide();
        done(true);
        return;
    }
    const qreal h = frame().height();
    AnimationClock::animate(
        this, kModalSeconds,
        [c, h](double t) {
            if (c && c->isViewLoaded())
                c->view()->setPresentationOffset(QPointF(0, h * t * t));
        },
        std::move(done));
}

void Window::enqueueAlert(AlertView* alert)
{
    m_alerts.push_back(alert);
    if (!m_visibleAlert)
        showNextAlert();
}

AlertView* Window::visibleAlert() const { return m_visibleAlert; }

void Window::showNextAlert()
{
    while (!m_alerts.empty() && !m_alerts.front())
        m_alerts.pop_front();
    if (m_alerts.empty())
        return;
    m_visibleAlert = m_alerts.front();
    m_alerts.pop_front();
    View* v = m_visibleAlert->makePresentation(this);
    addSubview(v);
    v->setFrame(bounds());
    raiseOverlays();
    // The field takes the keyboard as the alert shows, in the window (asked for before, the
    // focus would stay behind in the presentation's own hierarchy).
    if (TextField* field = m_visibleAlert->textFieldAtIndex(0))
        field->becomeFirstResponder();
}

void Window::alertDidDismiss(AlertView* alert)
{
    if (alert == m_visibleAlert) {
        m_visibleAlert = nullptr;
        showNextAlert();
    } else {
        std::erase_if(m_alerts, [alert](const QPointer<AlertView>& a) { return a == alert; });
    }
}

namespace {
// A device turned again while the interface was still rotating was not followed then; the
// interface catches up once the rotation under way has ended.
void followDeviceAfterRotation() { ViewController::attemptRotationToDeviceOrientation(); }
} // namespace

bool Window::rotateToInterfaceOrientation(int orientation)
{
    auto& app = Application::shared();
    const int from = app.statusBarOrientation();
    if (orientation == from || m_rotating || !m_root || orientation < 1 || orientation > 4)
        return false;
    const int version = DeviceProfile::systemMajorVersion();
    int delegateMask = app.delegate() ? app.delegate()->supportedInterfaceOrientationsForWindow(this) : -1;
    if (delegateMask < 0)
        delegateMask = DeviceProfile::isPad() ? 30 : InterfaceOrientationMaskAllButUpsideDown;
    bool rootAllows;
    if (version < 6)
        rootAllows = m_root->shouldAutorotateToInterfaceOrientation(orientation);
    else
        rootAllows = m_root->shouldAutorotate() && (m_root->supportedInterfaceOrientations() & InterfaceOrientationMaskFor(orientation));
    if (!rootAllows || !(delegateMask & InterfaceOrientationMaskFor(orientation)))
        return false;

    const bool swap = InterfaceOrientationIsLandscape(orientation) != InterfaceOrientationIsLandscape(from);
    const QSizeF target = swap ? frame().size().transposed() : frame().size();
    QPointer<Window> self(this);
    QPointer<ViewController> root(m_root);
    m_rotating = true;
    app.setPendingOrientation(orientation);
    auto applyGeometry = [self, orientation, target] {
        if (!self)
            return;
        Application::shared().setStatusBarOrientation(orientation);
        self->setFrame(QRectF(self->frame().topLeft(), target));
        self->statusBarDidChange();
        self->layoutSubviews();
    };
    auto finish = [self] {
        Application::shared().setPendingOrientation(0);
        if (self)
            self->m_rotating = false;
    };
    if (version < 8) {
        root->willRotateToInterfaceOrientation(orientation, kRotationSeconds);
        auto started = std::make_shared<bool>(false);
        AnimationClock::animate(
            this, kRotationSeconds,
            [root, started, applyGeometry, orientation](double) {
                if (*started)
                    return;
                *started = true;
                applyGeometry();
                if (root)
                    root->willAnimateRotationToInterfaceOrientation(orientation, kRotationSeconds);
            },
            [root, from, finish](bool) {
                finish();
                if (root)
                    root->didRotateFromInterfaceOrientation(from);
                followDeviceAfterRotation();
            });
        return true;
    }
    auto coordinator = std::make_shared<TransitionCoordinator>(target, kRotationSeconds);
    root->viewWillTransitionToSize(target, coordinator.get());
    auto started = std::make_shared<bool>(false);
    AnimationClock::animate(
        this, kRotationSeconds,
        [coordinator, started, applyGeometry](double) {
            if (*started)
                return;
            *started = true;
            applyGeometry();
            coordinator->runAnimations();
        },
        [coordinator, finish](bool) {
            finish();
            coordinator->runCompletions();
            followDeviceAfterRotation();
        });
    return true;
}

void Window::keyPressEvent(QKeyEvent* e)
{
    if (e->modifiers() & Qt::ControlModifier && (e->key() == Qt::Key_Left || e->key() == Qt::Key_Right)) {
        // The keys turn the device, as a hand would; the interface follows it when allowed.
        const bool landscape = InterfaceOrientationIsLandscape(Device::current().orientation());
        const int turned = e->key() == Qt::Key_Left ? InterfaceOrientationLandscapeRight : InterfaceOrientationLandscapeLeft;
        Device::current().setOrientation(landscape ? InterfaceOrientationPortrait : turned);
        ViewController::attemptRotationToDeviceOrientation();
        return;
    }
    View::keyPressEvent(e);
}

void Window::resizeEvent(QResizeEvent* e)
{
    View::resizeEvent(e);
    // The window system may resize a top-level window regardless of its fixed size; the
    // screen does not change with it, so the window takes the frame's size back.
    if (isWindow() && m_sizeFixedByFrame && size() != minimumSize())
        QMetaObject::invokeMethod(
            this, [this] {
                if (size() != minimumSize())
                    resize(minimumSize());
            },
            Qt::QueuedConnection);
}

void Window::changeEvent(QEvent* event)
{
    View::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        reportVisibility();
}

void Window::showEvent(QShowEvent* event)
{
    View::showEvent(event);
    m_unmapped = false;
    // The window system tells an unmap without a hide only as an expose with nothing to show.
    if (QWindow* handle = windowHandle(); handle && handle != m_exposureSource) {
        if (m_exposureSource)
            m_exposureSource->removeEventFilter(this);
        m_exposureSource = handle;
        handle->installEventFilter(this);
    }
    reportVisibility();
}

void Window::hideEvent(QHideEvent* event)
{
    View::hideEvent(event);
    if (event->spontaneous())
        m_unmapped = true;
    else
        m_hideExposePending = true;
    Application::shared().windowVisibilityDidChange(this, false);
}

bool Window::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_exposureSource && event->type() == QEvent::Expose) {
        // An empty region is the window system saying that nothing of the window shows.
        QT_WARNING_PUSH
        QT_WARNING_DISABLE_DEPRECATED
        exposureDidChange(!static_cast<QExposeEvent*>(event)->region().isEmpty());
        QT_WARNING_POP
    }
    return View::eventFilter(watched, event);
}

void Window::exposureDidChange(bool exposed)
{
    // The program's own hide was reported by the hide; its expose, arriving later (maybe
    // after a show), says nothing new.
    if (std::exchange(m_hideExposePending, false) && !exposed)
        return;
    // Only a change counts: a window exposed again while it shows (a rotation's resize, a
    // redraw) leaves the application's state to whoever set it.
    if (m_unexposed == !exposed)
        return;
    m_unexposed = !exposed;
    reportVisibility();
}

void Window::reportVisibility()
{
    Application::shared().windowVisibilityDidChange(
        this, isVisible() && !m_unmapped && !m_unexposed && !(windowState() & Qt::WindowMinimized));
}

void Window::closeEvent(QCloseEvent* e)
{
    e->accept();
    QCoreApplication::quit();
}

} // namespace platform::uikit

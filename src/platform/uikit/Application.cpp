#include "platform/uikit/Application.h"

#include "platform/foundation/NotificationCenter.h"
#include "platform/uikit/ApplicationDelegate.h"
#include "platform/uikit/Device.h"
#include "platform/uikit/Geometry.h"
#include "platform/uikit/Screen.h"
#include "platform/uikit/Window.h"

#include <QApplication>

namespace platform::uikit {

Application& Application::shared()
{
    static Application app;
    return app;
}

QList<Window*> Application::windows() const { return m_windows; }

void Application::registerWindow(Window* window) { m_windows.append(window); }

void Application::unregisterWindow(Window* window)
{
    m_windows.removeAll(window);
    if (m_keyWindow == window)
        m_keyWindow = nullptr;
}

void Application::post(const QString& name) { NotificationCenter::defaultCenter().post(name, this); }

void Application::setStatusBarStyle(int style, bool)
{
    m_statusBarStyle = style;
    for (Window* w : windows())
        w->statusBarDidChange();
}

void Application::setStatusBarHidden(bool hidden, bool)
{
    if (hidden == m_statusBarHidden)
        return;
    m_statusBarHidden = hidden;
    for (Window* w : windows())
        w->statusBarDidChange();
    post(ApplicationDidChangeStatusBarFrameNotification);
}

void Application::setStatusBarOrientation(int orientation, bool)
{
    if (orientation == m_orientation)
        return;
    m_orientation = orientation;
    for (Window* w : windows())
        w->statusBarDidChange();
    post(ApplicationDidChangeStatusBarOrientationNotification);
    post(ApplicationDidChangeStatusBarFrameNotification);
}

QRectF Application::statusBarFrame() const
{
    if (m_statusBarHidden)
        return {};
    const QRectF screen = Screen::bounds();
    const qreal h = Screen::isTallFullScreen() ? 44 : 20;
    if (InterfaceOrientationIsLandscape(m_orientation))
        return QRectF(0, 0, screen.height(), h);
    return QRectF(0, 0, screen.width(), h);
}

qreal Application::statusBarHeightInWindow(const Window* window) const
{
    if (m_statusBarHidden)
        return 0;
    qreal h = 20;
    if (window && window->safeAreaInsets().top > h)
        h = window->safeAreaInsets().top;
    return h;
}

void Application::finishLaunching()
{
    if (m_delegate)
        m_delegate->didFinishLaunching();
}

void Application::becomeActive()
{
    if (m_state == ApplicationStateActive)
        return;
    if (m_state == ApplicationStateBackground)
        enterForeground();
    m_state = ApplicationStateActive;
    if (m_delegate)
        m_delegate->didBecomeActive();
    post(ApplicationDidBecomeActiveNotification);
}

void Application::resignActive()
{
    if (m_state != ApplicationStateActive)
        return;
    m_state = ApplicationStateInactive;
    if (m_delegate)
        m_delegate->willResignActive();
    post(ApplicationWillResignActiveNotification);
}

void Application::enterBackground()
{
    resignActive();
    if (m_state == ApplicationStateBackground)
        return;
    m_state = ApplicationStateBackground;
    if (m_delegate)
        m_delegate->didEnterBackground();
    post(ApplicationDidEnterBackgroundNotification);
}

void Application::enterForeground()
{
    if (m_state != ApplicationStateBackground)
        return;
    m_state = ApplicationStateInactive;
    if (m_delegate)
        m_delegate->willEnterForeground();
    post(ApplicationWillEnterForegroundNotification);
}

void Application::windowVisibilityDidChange(Window* window, bool onScreen)
{
    if (!window || window != m_keyWindow)
        return;
    if (!onScreen)
        enterBackground();
    // Only a return from the background makes the application active: a window shown while
    // launching waits for the launch to finish.
    else if (m_state == ApplicationStateBackground)
        becomeActive();
}

void Application::becomeActiveForTesting() { becomeActive(); }
void Application::resignActiveForTesting() { resignActive(); }
void Application::enterBackgroundForTesting() { enterBackground(); }
void Application::enterForegroundForTesting() { enterForeground(); }

void Application::memoryWarningForTesting()
{
    if (m_delegate)
        m_delegate->didReceiveMemoryWarning();
    post(ApplicationDidReceiveMemoryWarningNotification);
}

bool Application::rotateForTesting(int orientation)
{
    // The device turns first and the interface follows it; turning to where the device
    // already points still asks the window, so a rotation refused earlier can be tried again.
    Device::current().setOrientation(orientation);
    if (orientation >= InterfaceOrientationPortrait && orientation <= InterfaceOrientationLandscapeLeft &&
        m_pendingOrientation == orientation)
        return true;
    return m_keyWindow && m_keyWindow->rotateToInterfaceOrientation(orientation);
}

void Application::resetForTesting()
{
    m_delegate = nullptr;
    m_state = ApplicationStateInactive;
    m_statusBarStyle = StatusBarStyleDefault;
    m_statusBarHidden = false;
    m_orientation = InterfaceOrientationPortrait;
    m_pendingOrientation = 0;
    m_keyWindow = nullptr;
    Device::current().resetForTesting();
}

int ApplicationMain(int argc, char** argv, std::function<std::unique_ptr<ApplicationDelegate>()> makeDelegate)
{
    std::unique_ptr<QApplication> qtApp;
    if (!QCoreApplication::instance())
        qtApp = std::make_unique<QApplication>(argc, argv);
    std::unique_ptr<ApplicationDelegate> delegate = makeDelegate ? makeDelegate() : nullptr;
    auto& app = Application::shared();
    app.setDelegate(delegate.get());
    app.finishLaunching();
    app.becomeActive();
    const int result = QCoreApplication::exec();
    app.setDelegate(nullptr);
    return result;
}

} // namespace platform::uikit

#pragma once

#include <QList>
#include <QRectF>
#include <QString>

#include <functional>
#include <memory>

namespace platform::uikit {

class ApplicationDelegate;
class Window;

inline const QString ApplicationDidBecomeActiveNotification = QStringLiteral("UIApplicationDidBecomeActiveNotification");
inline const QString ApplicationWillResignActiveNotification = QStringLiteral("UIApplicationWillResignActiveNotification");
inline const QString ApplicationDidEnterBackgroundNotification = QStringLiteral("UIApplicationDidEnterBackgroundNotification");
inline const QString ApplicationWillEnterForegroundNotification = QStringLiteral("UIApplicationWillEnterForegroundNotification");
inline const QString ApplicationDidReceiveMemoryWarningNotification = QStringLiteral("UIApplicationDidReceiveMemoryWarningNotification");
inline const QString ApplicationDidChangeStatusBarFrameNotification = QStringLiteral("UIApplicationDidChangeStatusBarFrameNotification");
inline const QString ApplicationDidChangeStatusBarOrientationNotification = QStringLiteral("UIApplicationDidChangeStatusBarOrientationNotification");

enum ApplicationState { ApplicationStateActive = 0, ApplicationStateInactive = 1, ApplicationStateBackground = 2 };
enum StatusBarStyle { StatusBarStyleDefault = 0, StatusBarStyleLightContent = 1, StatusBarStyleBlackTranslucent = 1, StatusBarStyleBlackOpaque = 2 };

// The one application object: its delegate, state, key window, the status bar, and the
// platform's notifications through the notification centre (object: this application).
class Application {
public:
    static Application& shared();

    ApplicationDelegate* delegate() const { return m_delegate; }
    void setDelegate(ApplicationDelegate* delegate) { m_delegate = delegate; }
    int applicationState() const { return m_state; }
    Window* keyWindow() const { return m_keyWindow; }
    QList<Window*> windows() const;

    int statusBarStyle() const { return m_statusBarStyle; }
    void setStatusBarStyle(int style, bool animated = false);
    bool isStatusBarHidden() const { return m_statusBarHidden; }
    void setStatusBarHidden(bool hidden, bool animated = false);
    int statusBarOrientation() const { return m_orientation; }
    void setStatusBarOrientation(int orientation, bool animated = false);
    // The status bar's frame in screen points (zero while hidden).
    QRectF statusBarFrame() const;
    // Its height at the top of `window`: 20, or the window's top safe inset on taller ones.
    qreal statusBarHeightInWindow(const Window* window) const;
    // While a rotation is under way, its target orientation; else 0.
    int pendingOrientation() const { return m_pendingOrientation; }

    // State changes as the system makes them, delegate first, then the notification. On the
    // desktop the key window stands for the screen: not exposed (minimised, hidden, unmapped,
    // on another desktop), the application resigns active and enters the background; exposed
    // again, it enters the foreground and becomes active. The hooks below make the same
    // changes for tests.
    void finishLaunching();
    void becomeActiveForTesting();
    void resignActiveForTesting();
    void enterBackgroundForTesting();
    void enterForegroundForTesting();
    void memoryWarningForTesting();
    // Turns the device (platform::uikit::Device) to `orientation`; the key window follows when
    // the masks allow. True when the interface is rotating to it.
    bool rotateForTesting(int orientation);
    // Back to a freshly launched state: no delegate, inactive, portrait (the device too),
    // default bar.
    void resetForTesting();

private:
    friend class Window;
    friend int ApplicationMain(int argc, char** argv, std::function<std::unique_ptr<ApplicationDelegate>()> makeDelegate);
    Application() = default;
    void becomeActive();
    void resignActive();
    void enterBackground();
    void enterForeground();
    // The window's own report of whether it shows (not minimised, hidden or unexposed); only
    // the key window's counts.
    void windowVisibilityDidChange(Window* window, bool onScreen);
    void registerWindow(Window* window);
    void unregisterWindow(Window* window);
    void setKeyWindow(Window* window) { m_keyWindow = window; }
    void setPendingOrientation(int orientation) { m_pendingOrientation = orientation; }
    void post(const QString& name);

    ApplicationDelegate* m_delegate = nullptr;
    int m_state = ApplicationStateInactive;
    // Windows take themselves out when they go.
    Window* m_keyWindow = nullptr;
    QList<Window*> m_windows;
    int m_statusBarStyle = StatusBarStyleDefault;
    bool m_statusBarHidden = false;
    int m_orientation = 1;
    int m_pendingOrientation = 0;
};

// Runs the application: makes the Qt application when there is none, installs the delegate,
// finishes launching, becomes active and runs the main loop.
int ApplicationMain(int argc, char** argv, std::function<std::unique_ptr<ApplicationDelegate>()> makeDelegate);

} // namespace platform::uikit

#pragma once

#include "platform/uikit/AnimationClock.h"
#include "platform/uikit/View.h"
#include "platform/uikit/ViewController.h"

#include <QPointer>

#include <deque>
#include <functional>

class QWindow;

namespace platform::uikit {

class AlertView;

// The application's top-level view, the size of the device profile's screen. Its root
// controller's view spans it; a status-bar strip overlays its top; modal screens and alerts
// are shown inside it, so a grab of the window shows them. Ctrl+Left / Ctrl+Right rotate,
// which swaps its width and height; nothing else resizes it.
class Window : public View {
    Q_OBJECT
public:
    explicit Window(const QRectF& frame = QRectF());
    ~Window() override;

    ViewController* rootViewController() const { return m_root; }
    // Loads the controller's view now and lays it over the whole window.
    void setRootViewController(ViewController* controller);
    void makeKeyAndVisible();
    bool isKeyWindow() const;

    // From system 11: the status bar's 20 at the top, or 44 and 34 on tall full-screen
    // profiles; zero before (a pinned value wins, for tests).
    EdgeInsets safeAreaInsets() const override;
    // The window scene's bounds from system 13, else the zero rectangle.
    QRectF windowSceneBounds() const;

    // Rotation as the platform ran it: asks the delegate's and the root's masks; below system
    // 8 the root gets will-rotate, will-animate (inside the animation, after the window has
    // swapped width and height) and did-rotate; from 8 the size transition. False when refused.
    bool rotateToInterfaceOrientation(int orientation);

    // Modal screens (called by controllers).
    void presentModal(ViewController* controller, bool animated, std::function<void()> completion);
    void dismissModal(ViewController* controller, bool animated, std::function<void()> completion);
    // Alerts, one at a time in the order shown.
    void enqueueAlert(AlertView* alert);
    AlertView* visibleAlert() const;
    void alertDidDismiss(AlertView* alert);

    void statusBarDidChange();
    View* statusBarView() const { return m_statusBar; }
    void layoutSubviews() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    // A window manager minimising, hiding or showing the window tells the application, and
    // so does the window system unmapping it (another desktop, an unmap) as its expose events.
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void raiseOverlays();
    void reportVisibility();
    void exposureDidChange(bool exposed);
    void showNextAlert();

    QPointer<ViewController> m_root;
    View* m_statusBar = nullptr;
    struct Modal {
        QPointer<ViewController> controller;
        QPointer<View> host;
    };
    QList<Modal> m_modals;
    std::deque<QPointer<AlertView>> m_alerts;
    QPointer<AlertView> m_visibleAlert;
    bool m_rotating = false;
    // Unmapped by the window system (a spontaneous hide): still "visible" to Qt, but not shown.
    bool m_unmapped = false;
    // Not exposed (its last expose event had an empty region): unmapped or on another desktop
    // without Qt calling it hidden or minimised.
    bool m_unexposed = false;
    // Hidden by the program: the expose that follows repeats what the hide said.
    bool m_hideExposePending = false;
    // The window-system window whose expose events are watched.
    QPointer<QWindow> m_exposureSource;
};

} // namespace platform::uikit

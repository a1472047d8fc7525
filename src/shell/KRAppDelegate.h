#pragma once

#include "platform/foundation/DelayedCall.h"
#include "platform/foundation/NotificationCenter.h"
#include "shell/KRRootViewController.h"
#include "platform/uikit/ApplicationDelegate.h"

#include <QObject>
#include <QPointer>

#include <memory>

namespace platform::uikit {
class Window;
}

// The application's delegate: the start-up order (diagnostics, the stored session, the window
// with its root, the first theme, the first-run usage notice, the risk-control warm-up), the
// audio session's reactivation and the debounced update check on every activation, and the
// window's orientation policy. Main thread only.
class KRAppDelegate : public QObject, public platform::uikit::ApplicationDelegate {
    Q_OBJECT
public:
    KRAppDelegate();
    ~KRAppDelegate() override;

    bool didFinishLaunching() override;
    void didBecomeActive() override;
    void didReceiveMemoryWarning() override;
    int supportedInterfaceOrientationsForWindow(platform::uikit::Window* window) override;

    platform::uikit::Window* window() const { return m_window.get(); }
    KRRootViewController* rootController() const { return m_rootController; }

    // Re-arms the update check 0.35 s from now; the last request wins.
    void scheduleForegroundUpdateCheck();
    bool isForegroundUpdateCheckPending() const;
    // Shows the first-run notice unless it is no longer needed or something is presented.
    void presentInitialUsageNotice();

private:
    void runForegroundUpdateCheck();

    std::unique_ptr<platform::uikit::Window> m_window;
    QPointer<KRRootViewController> m_rootController;
    platform::ObserverToken m_noticeObserver;
    platform::DelayedCalls m_delayed;
};

// Records the "startup-geometry" diagnostics event: the screen, its native pixels, the window,
// the window scene, the safe-area insets and the launch screen the bundle declares, at `phase`.
void KRRecordStartupGeometry(const platform::uikit::Window* window, const QString& phase);

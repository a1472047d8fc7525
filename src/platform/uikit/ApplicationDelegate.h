#pragma once

namespace platform::uikit {

class Window;

// The application's delegate, told of launch and state changes in the platform's order.
class ApplicationDelegate {
public:
    virtual ~ApplicationDelegate() = default;
    virtual bool didFinishLaunching() { return true; }
    virtual void didBecomeActive() {}
    virtual void willResignActive() {}
    virtual void didEnterBackground() {}
    virtual void willEnterForeground() {}
    virtual void didReceiveMemoryWarning() {}
    // The orientations a window may take; below 0 leaves it to the screens alone.
    virtual int supportedInterfaceOrientationsForWindow(Window*) { return -1; }
};

} // namespace platform::uikit

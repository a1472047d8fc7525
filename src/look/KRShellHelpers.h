#pragma once

#include "platform/uikit/Geometry.h"

#include <QByteArray>
#include <QList>
#include <QRectF>
#include <QSizeF>

class QObject;

namespace platform::uikit {
class View;
class ViewController;
}

// Free functions the shell, the theme and several screens share: the screen really visible
// under the tab and navigation controllers, whether it lets playback rotate the interface,
// the system's major version, and safe-area insets on systems with and without them.

// Replaces a tab bar controller by its selected screen and a navigation controller by its top
// screen until neither is left; nullptr stays nullptr.
platform::uikit::ViewController* KRVisibleLeafController(platform::uikit::ViewController* controller);
// The visible leaf's kr_allowsPlaybackRotation answer; false without a leaf or the hook.
bool KRViewControllerAllowsPlaybackRotation(platform::uikit::ViewController* controller);
// The first "."-separated component of the system version as an integer; 0 without one.
int KRRootSystemMajorVersion();
// The view's insets, or its window's when its own are all zero; zero before system 11.
platform::uikit::EdgeInsets KRSafeAreaInsetsForView(const platform::uikit::View* view);
// Origin moved by left and top; width and height reduced, never below zero.
QRectF KRRectInsetBySafeArea(const QRectF& rect, const platform::uikit::EdgeInsets& insets);
// Insets beyond a plain status bar (top above 20.5, or any other side above 0.5).
bool KRViewUsesFullScreenSafeArea(const platform::uikit::View* view);
// Leaves for the "我的" tab (the fourth, when the tab bar holds at least four) with the
// screen's own stack popped to its root, without animation.
void KRNavigateToProfileTab(platform::uikit::ViewController* controller);
// Any visible window, or its root screen's view, with full-screen insets; else what the
// device catalogue says of the machine. False before system 11.
bool KRApplicationUsesFullScreenSafeArea();

// The optional rotation hooks of playback screens, looked up by name on the screen's
// meta-object (Q_INVOKABLE methods); each call does nothing and answers false when the
// screen has no such method.
namespace KRPlaybackRotationHook {
inline constexpr char allowsRotation[] = "kr_allowsPlaybackRotation"; // answers bool
inline constexpr char enterFullscreenForLandscape[] = "kr_enterFullscreenForLandscapeIfNeeded";
inline constexpr char restoreFullscreenAfterLandscape[] = "kr_restoreFullscreenAfterLandscapeIfNeeded";
inline constexpr char raiseSurfaceAfterPreparation[] = "kr_raisePlaybackSurfaceAfterRotationPreparation";
inline constexpr char layoutDuringRotation[] = "kr_layoutPlaybackDuringRotation";
inline constexpr char completeRotationLayout[] = "kr_completePlaybackRotationLayout";
inline constexpr char prepareTransitionToSize[] = "kr_preparePlaybackTransitionToSizeValue"; // takes a QSizeF
} // namespace KRPlaybackRotationHook
// Every hook above as the meta-object spells its signature ("name()", "name(QSizeF)").
QList<QByteArray> KRPlaybackRotationHookSignatures();
bool KRInvokeHook(platform::uikit::ViewController* screen, const char* name);
bool KRInvokeSizeHook(platform::uikit::ViewController* screen, const char* name, const QSizeF& size);
// The device's orientation setter is optional on the platform: looked up by name
// ("setOrientation(int)") and called when the device has it; false when it has not.
bool KRInvokeDeviceOrientationSetter(QObject* device, int orientation);

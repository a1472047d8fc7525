#pragma once

#include "platform/uikit/Image.h"

#include <QColor>
#include <QRectF>
#include <QSizeF>

#include <functional>

class KRTheme;
namespace platform::uikit {
class BarButtonItem;
class ImageView;
class ViewController;
}

// The old-style skin: code-drawn rounded button backgrounds (standard, pale, pink) with their
// title colours, the loading view, the refresh bar button and the way back to the first tab.
// A null theme counts as the pink style for backgrounds and gives fixed title answers.

platform::uikit::Image KRTarnwick23ButtonBackground(const KRTheme* themeOrNull, bool highlighted);
platform::uikit::Image KRTarnwick23PaleButtonBackground(const KRTheme* themeOrNull, bool highlighted);
platform::uikit::Image KRTarnwick23PinkButtonBackground(bool highlighted);

QColor KRTarnwick23ButtonTitleColor(const KRTheme* themeOrNull);
QColor KRTarnwick23ButtonTitleShadowColor(const KRTheme* themeOrNull);
QSizeF KRTarnwick23ButtonTitleShadowOffset(const KRTheme* themeOrNull);
QColor KRTarnwick23PaleButtonTitleColor(const KRTheme* themeOrNull);
QColor KRTarnwick23PaleButtonTitleShadowColor(const KRTheme* themeOrNull);
QSizeF KRTarnwick23PaleButtonTitleShadowOffset(const KRTheme* themeOrNull);

QColor KRTarnwick23LoadingBackgroundColor();
// A new, stopped loading view: the five loading frames (0.5 s, for ever) when bundled, else
// the still "tv69" picture. The caller owns it.
platform::uikit::ImageView* KRTarnwick23LoadingTVView(const QRectF& frame);
// The bundled refresh button in a bar item, or the system refresh item; `action` on a tap.
platform::uikit::BarButtonItem* KRTarnwick23RefreshButton(std::function<void()> action);
// Pops the controller's stack and the first tab's stack to their roots and selects tab 0,
// without animation. Everything needed is taken from the controller before anything is
// popped, since popping may destroy it.
void KRTarnwick23NavigateToHome(platform::uikit::ViewController* controller);

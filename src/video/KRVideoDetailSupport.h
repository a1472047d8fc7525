#pragma once

#include "platform/uikit/Image.h"

#include <QColor>
#include <QVariant>

#include <optional>

// Free functions the video page and its helpers share.

// The first component of the emulated system version; 0 when it has none.
int KRVideoSystemMajorVersion();
// A text address of a local copy ("file://…"); anything else, an address object included, is not.
bool KRDetailPlaybackURLIsLocalFile(const QVariant& value);
// The page never needs a picture player of its own beside the movie player: there is no
// system movie player here, and the transport's own back end draws the picture on every system.
bool KRNeedsAppOwnedAVLayerCompatibility();
bool KRIOS15NeedsAVLayerCompatibility();

// The page's drawn pieces and sheet placement.

class KRTheme;
class QFont;
namespace platform::uikit {
class ActionSheet;
class Button;
class Label;
class SegmentedControl;
class View;
class ViewController;
}

// The old skin's stretchable button face (20×32, caps 9 and 15) of the theme's style (pink
// without a theme), drawn once per style and state and kept for the process.
platform::uikit::Image KRSkeuomorphicActionImage(const KRTheme* themeOrNull, bool selected);
// The image with every pixel's colour replaced by `colour`, keeping its alpha; the image
// itself without a colour or with an invalid one.
platform::uikit::Image KRDetailTintedImage(const platform::uikit::Image& image, const std::optional<QColor>& colour);
// The tab segment's title colours and shadows for the theme's style.
void KRApplySegmentTitleColors(platform::uikit::SegmentedControl* segmentOrNull, const KRTheme* theme);
// Sets the image of the rail button's image view tagged 7951; nothing when it has none.
void KRSetFullscreenRailImage(platform::uikit::Button* railButton, const platform::uikit::Image& image);
// A restored playback rate as the hold's status names it: "1x", "1.5x", "0.75x", "1.25x".
// Up to two decimals rather than two significant digits, which would print 1.25 as "1.2x":
// a speed the sheet does not offer and not the one that plays on.
QString KRRestoredRateText(float rate);
// How many coins a video takes by its "copyright": 2 for 1 or 3 (made by the uploader), else 1.
int KRCoinLimitForCopyright(int copyright);

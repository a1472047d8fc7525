#pragma once

#include <QString>

namespace platform::uikit {

class View;

enum TransitionSubtype {
    TransitionFromRight = 0,
    TransitionFromLeft = 1,
};

// The platform's push transition of a layer: the view slides in by its own width from one
// side over the duration, on the kit's clock, while its frame stays where it was laid out (so
// a layout during the slide lands where it should). A newer transition under the same key on
// the same view replaces the running one; the view's going ends it.
class PushTransition {
public:
    static void add(View* view, TransitionSubtype subtype, double seconds, const QString& key);
    static bool isRunning(const View* view, const QString& key);
};

} // namespace platform::uikit

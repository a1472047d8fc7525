#pragma once

// The interface turned to landscape, as the device turning sets it off, and held in the middle
// of its rotation: frames held stand for a turn that does not end, after its first frame has
// laid the playback screen out for it. Delayed calls and timers run on meanwhile.
#include "platform/uikit/AnimationClock.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/Geometry.h"

namespace heldturn {

// False when the window would not turn.
inline bool turnToLandscapeAndHoldItsMiddle()
{
    using namespace platform::uikit;
    AnimationClock::setFramesHeldForTesting(true);
    if (!Application::shared().rotateForTesting(InterfaceOrientationLandscapeRight))
        return false;
    AnimationClock::advance(0.02);
    return true;
}

// Frames come again: the turn runs to its end.
inline void letTheTurnEnd()
{
    platform::uikit::AnimationClock::setFramesHeldForTesting(false);
    platform::uikit::AnimationClock::finishAll();
}

} // namespace heldturn

#pragma once

#include "model/KRDanmaku.h"
#include "platform/foundation/MainClock.h"
#include "playback/KRDanmakuRenderer.h"
#include "support/TestSupport.h"

#include <functional>
#include <memory>

namespace testsupport {

// How often the owner of `renderer` feeds it the playback time while its player plays. A feed
// that says "playing" starts the renderer's own clock when a line is on screen; the probe lays
// a line at `time()` and stops that clock with a paused feed of its own, then moves the main
// clock in 5 ms steps until the owner's next feed starts it again. Two such moments in a row
// give the spacing (-1 when no feed came within a second).
inline double danmakuFeedSpacing(KRDanmakuRenderer* renderer, const std::function<double()>& time)
{
    constexpr double step = 0.005;
    const auto nextFeed = [&]() -> double {
        const double at = time();
        auto line = std::make_shared<KRDanmaku>();
        line->setText(QStringLiteral("探针"));
        line->setTime(at);
        line->setColorRGB(0xFFFFFF);
        line->setMode(5);
        renderer->insertAndDisplayDanmaku(line, at);
        renderer->updateWithPlaybackTime(at, false);
        if (renderer->isDisplayLinkRunning())
            return -1;
        for (double waited = 0; waited < 1.0; waited += step) {
            platform::MainClock::advanceForTesting(step);
            if (renderer->isDisplayLinkRunning())
                return platform::MainClock::now();
        }
        return -1;
    };
    const double first = nextFeed();
    const double second = first < 0 ? -1 : nextFeed();
    return second < 0 ? -1 : second - first;
}

} // namespace testsupport

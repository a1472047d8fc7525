#pragma once

#include "playback/KRDanmakuRenderer.h"

#include <QString>
#include <QStringList>

namespace danmakutest {

// Lines drawn over each other in one lane of one group (scrolling, top, bottom), each pair as
// "<first> / <second> in lane <n>". Hidden lines, whose lanes the area has lost, are not drawn.
inline QStringList overlappingLinesOfALane(const KRDanmakuRenderer& renderer)
{
    QStringList found;
    const auto& items = renderer.activeItems();
    const auto group = [](const KRDanmakuDisplayItem& item) { return item.displayMode == 4 || item.displayMode == 5 ? item.displayMode : 1; };
    for (size_t a = 0; a < items.size(); ++a) {
        for (size_t b = a + 1; b < items.size(); ++b) {
            const KRDanmakuDisplayItem& first = items[a];
            const KRDanmakuDisplayItem& second = items[b];
            if (group(first) != group(second) || first.track != second.track || first.hidden || second.hidden)
                continue;
            if (first.frame.intersects(second.frame))
                found << QStringLiteral("\"%1\" / \"%2\" in lane %3").arg(first.danmaku->text(), second.danmaku->text()).arg(first.track);
        }
    }
    return found;
}

} // namespace danmakutest

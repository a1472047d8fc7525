#pragma once

// The danmaku lines the benchmarks play: every tenth fixed at the top, every tenth at the
// bottom, the rest scrolling, in colours that vary with the line.

#include "model/KRDanmaku.h"

#include <QString>

#include <memory>

namespace benchsupport {

inline std::shared_ptr<KRDanmaku> danmakuLine(int index, double time, const QString& text)
{
    auto danmaku = std::make_shared<KRDanmaku>();
    danmaku->setDanmakuID(1000 + index);
    danmaku->setTime(time);
    danmaku->setMode(index % 10 == 0 ? 5 : index % 10 == 1 ? 4 : 1);
    danmaku->setFontSize(25);
    danmaku->setColorRGB(0xffffff - quint32(index % 4096) * 0x010203);
    danmaku->setText(text);
    return danmaku;
}

} // namespace benchsupport

#pragma once

// Helpers of the benchmarks that draw widgets or lay out text: the bare sides they share.

#include "platform/device/DeviceProfile.h"
#include "platform/uikit/AnimationClock.h"

#include <benchmark/benchmark.h>

#include <QFont>
#include <QCoreApplication>
#include <QImage>
#include <QPainter>
#include <QTextLayout>
#include <QTextOption>
#include <QWidget>

#include <chrono>

namespace benchsupport {

// The bare side of text measurement: `text` laid out by Qt alone with character wrap at
// `width`, answering its line count.
inline int bareCharacterWrapLineCount(const QString& text, const QFont& font, qreal width)
{
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAnywhere);
    layout.setTextOption(option);
    int lines = 0;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        ++lines;
    }
    layout.endLayout();
    return lines;
}

// Microseconds per call of `fn` over `rounds` calls, the posted events (deferred deletions
// too) delivered after each call outside the timing, as the application's event loop would:
// piled up, they make every widget deletion scan a longer queue and inflate both sides.
template <typename Fn>
double microsecondsPerDrainedCall(Fn fn, int rounds)
{
    double total = 0;
    for (int i = 0; i < rounds; ++i) {
        const auto start = std::chrono::steady_clock::now();
        fn();
        total += std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
        QCoreApplication::sendPostedEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }
    return total / rounds;
}

// The phone a screen benchmark draws for (375×667), its animations run out only when the
// benchmark finishes them.
inline void onPhoneWithManualAnimations()
{
    platform::DeviceProfile::setMachineForTesting(QStringLiteral("iPhone10,1"));
    platform::uikit::AnimationClock::setManual(true);
}

// One paint of `widget` and everything in it into an image of its size.
inline void renderOffscreen(QWidget* widget)
{
    QImage image(widget->size(), QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    widget->render(&painter);
}

} // namespace benchsupport

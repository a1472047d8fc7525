#pragma once

// The main of a benchmark that draws widgets: a throw-away home, the offscreen platform unless
// another is set, the benchmarks, then the ratios the benchmark prints against its baseline.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QTextLayout>
#include <QTextOption>
#include <QTemporaryDir>
#include <QWidget>

#include <chrono>
#include <functional>

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

// One paint of `widget` and everything in it into an image of its size.
inline void renderOffscreen(QWidget* widget)
{
    QImage image(widget->size(), QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    widget->render(&painter);
}

// `prepare` runs once the application object exists, before the benchmarks.
inline int runWidgetBenchmarks(int argc, char** argv, const std::function<void()>& printRatios,
                               const std::function<void()>& prepare = {})
{
    QTemporaryDir home;
    qputenv("KORVANE_HOME", home.path().toUtf8());
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (prepare)
        prepare();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    printRatios();
    return 0;
}

} // namespace benchsupport

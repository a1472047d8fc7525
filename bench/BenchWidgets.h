#pragma once

// The main of a benchmark that draws widgets: a throw-away home, the offscreen platform unless
// another is set, the benchmarks, then the ratios the benchmark prints against its baseline.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QFont>
#include <QTextLayout>
#include <QTextOption>
#include <QTemporaryDir>

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

inline int runWidgetBenchmarks(int argc, char** argv, const std::function<void()>& printRatios)
{
    QTemporaryDir home;
    qputenv("KORVANE_HOME", home.path().toUtf8());
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    printRatios();
    return 0;
}

} // namespace benchsupport

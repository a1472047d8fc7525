#pragma once

// The main of a benchmark that draws widgets: a throw-away home, the offscreen platform unless
// another is set, the benchmarks, then the ratios the benchmark prints against its baseline.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTemporaryDir>

#include <functional>

namespace benchsupport {

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

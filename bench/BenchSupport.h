#pragma once

// Helpers the benchmarks share: their main(), a request function run under Google Benchmark,
// and rounds of it timed by hand for the ratios each benchmark measures against its bare
// baseline in one run.

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QString>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <type_traits>
#include <utility>
#include <vector>

namespace benchsupport {

// Calls `fn` once per iteration; a failed call ends the benchmark with an error, not a time.
inline bool runOrFail(benchmark::State& state, bool (*fn)())
{
    for (auto _ : state) {
        if (!fn()) {
            state.SkipWithError("request failed");
            return false;
        }
    }
    return true;
}

// Seconds per call over `rounds` calls of `fn`; `*ok` turns false when any call fails.
inline double secondsOf(bool (*fn)(), int rounds, bool* ok)
{
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < rounds; ++i)
        *ok = fn() && *ok;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / rounds;
}

template <typename Fn>
double microsecondsPerCall(Fn fn, int rounds)
{
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < rounds; ++i)
        fn();
    return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count() / rounds;
}

// The middle value (the upper one of the middle two): one round disturbed by another process
// on the machine does not move it.
inline double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

// The whole process's CPU time and page faults so far, every thread's (ended ones included).
// A benchmark's ratios compare two sides run in one process under the same allocator and
// engine settings; what those settings cost both sides alike shows only here.
inline void printProcessCost()
{
    rusage usage{};
    if (getrusage(RUSAGE_SELF, &usage) != 0)
        return;
    const auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    std::printf("the whole process: %.2f s CPU (%.2f s user, %.2f s system), %ld page faults (%ld major)\n",
                seconds(usage.ru_utime) + seconds(usage.ru_stime), seconds(usage.ru_utime), seconds(usage.ru_stime),
                usage.ru_minflt + usage.ru_majflt, usage.ru_majflt);
}

// What a benchmark's main() adds to the set-up every benchmark shares, said in a chain:
// `MainSetup().quietConsole().prepare(…).report(…)`.
struct MainSetup {
    // The console lines of the code measured go nowhere (KORVANE_BENCH_CONSOLE keeps them):
    // a terminal's speed is not the code's.
    MainSetup& quietConsole()
    {
        quiet = true;
        return *this;
    }
    // Runs once the application object exists, before the benchmarks.
    MainSetup& prepare(std::function<void()> fn)
    {
        prepareFn = std::move(fn);
        return *this;
    }
    // Runs after the benchmarks: the figures beside their aims, and what must end before the
    // application object goes.
    MainSetup& report(std::function<void()> fn)
    {
        reportFn = std::move(fn);
        return *this;
    }
    // Prints the process's CPU time and page faults after the report (for what builds players).
    MainSetup& processCost()
    {
        cost = true;
        return *this;
    }
    // Replaces the console reporter.
    MainSetup& reporter(benchmark::BenchmarkReporter* r)
    {
        reporterPtr = r;
        return *this;
    }

    bool quiet = false;
    bool cost = false;
    std::function<void()> prepareFn;
    std::function<void()> reportFn;
    benchmark::BenchmarkReporter* reporterPtr = nullptr;
};

// The path of the throw-away home the benchmarks of this run write into.
inline QString homePath() { return qEnvironmentVariable("KORVANE_HOME"); }

// The main of every benchmark: a throw-away home, the application object (`Application` is
// QCoreApplication for the GUI-free clients, QApplication for what draws widgets, on the
// offscreen platform unless another is set), the benchmarks, then the report.
template <typename Application = QCoreApplication>
int runBenchmarks(int argc, char** argv, const MainSetup& setup = MainSetup())
{
    QTemporaryDir home;
    qputenv("KORVANE_HOME", home.path().toUtf8());
    if (setup.quiet && !qEnvironmentVariableIsSet("KORVANE_BENCH_CONSOLE"))
        std::freopen("/dev/null", "w", stderr);
    if (!std::is_same_v<Application, QCoreApplication> && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    Application app(argc, argv);
    if (setup.prepareFn)
        setup.prepareFn();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    if (setup.reporterPtr)
        benchmark::RunSpecifiedBenchmarks(setup.reporterPtr);
    else
        benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (setup.reportFn)
        setup.reportFn();
    if (setup.cost)
        printProcessCost();
    return 0;
}

} // namespace benchsupport

#pragma once

// Helpers the benchmarks share: a request function run under Google Benchmark, and rounds of
// it timed by hand for the ratios each benchmark measures against its bare baseline in one run.

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
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

// The main of a benchmark of the GUI-free clients: a sandbox of its own, and the clients'
// console lines kept off the report (KORVANE_BENCH_CONSOLE keeps them).
inline int runServiceBenchmarks(int argc, char** argv)
{
    QTemporaryDir home;
    qputenv("KORVANE_HOME", home.path().toUtf8());
    if (!qEnvironmentVariableIsSet("KORVANE_BENCH_CONSOLE"))
        std::freopen("/dev/null", "w", stderr);
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

} // namespace benchsupport

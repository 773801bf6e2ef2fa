#pragma once
// The whole main of a benchmark program that needs only Qt's core and reports speed-ups: the
// benchmarks named on the command line run, then each pair prints as a ratio measured in this run.

#include "ratioreporter.h"

#include <QCoreApplication>

#include <string>
#include <utility>
#include <vector>

// Pairs of (subject, baseline) full benchmark names, printed with RatioReporter::printSpeedup.
using SpeedupPairs = std::vector<std::pair<std::string, std::string>>;

inline int runSpeedupBenchmarks(int argc, char **argv, const SpeedupPairs &speedups)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const auto &pair : speedups)
        reporter.printSpeedup(pair.first, pair.second);
    benchmark::Shutdown();
    return 0;
}

#pragma once
// Console reporter that remembers each benchmark's time per iteration so that a benchmark program can
// print its results as ratios against a baseline measured in the same run.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

class RatioReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &r : runs) {
            if (!r.error_occurred && r.run_type == Run::RT_Iteration)
                m_seconds[r.benchmark_name()] =
                    r.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(r.time_unit);
        }
        ConsoleReporter::ReportRuns(runs);
    }

    // Seconds per iteration of a benchmark by its full name, or 0 when it did not run.
    double seconds(const std::string &name) const
    {
        const auto it = m_seconds.find(name);
        return it == m_seconds.end() ? 0.0 : it->second;
    }

    // Prints "<subject> vs <baseline>: baseline / subject" (how many times faster the subject is).
    void printSpeedup(const std::string &subject, const std::string &baseline) const
    {
        const double s = seconds(subject), b = seconds(baseline);
        if (s > 0 && b > 0)
            std::printf("RATIO %s is %.2f x faster than %s (%.3f ms vs %.3f ms)\n", subject.c_str(), b / s,
                        baseline.c_str(), s * 1e3, b * 1e3);
    }
    // Prints "<subject> vs <reference>: subject / reference" (cost as a multiple of the reference).
    void printCost(const std::string &subject, const std::string &reference) const
    {
        const double s = seconds(subject), r = seconds(reference);
        if (s > 0 && r > 0)
            std::printf("RATIO %s costs %.2f x %s (%.3f ms vs %.3f ms)\n", subject.c_str(), s / r,
                        reference.c_str(), s * 1e3, r * 1e3);
    }

private:
    std::map<std::string, double> m_seconds;
};

// Counting one result in the statistics store with 8 cameras and 4 slots (45 rows rewritten) on a
// database file: the save in one transaction against the same rows each committed on its own.

#include "ratioreporter.h"
#include "resstatistics.h"
#include "startup.h"
#include "sysparam.h"
#include "testworkdir.h"
#include "uitexttable.h"

#include <QApplication>

#include <benchmark/benchmark.h>

namespace {

struct Fixture
{
    TestWorkDir dir;
    ResStatistics store;
};

Fixture &fixture()
{
    static Fixture *f = [] {
        gCameraCount = 8;
        gDetectSlotCount = 4;
        auto *made = new Fixture;
        gStatisticsStore = &made->store;
        made->store.checkDate();
        return made;
    }();
    return *f;
}

void run(benchmark::State &state, ResStatistics::SaveMode mode)
{
    Fixture &f = fixture();
    unsigned n = 0;
    for (auto _ : state) {
        ++n;
        benchmark::DoNotOptimize(f.store.addResult(int(n % 24), n & 1, int(n % 8), int(n % 4), mode));
    }
}

void BM_AddResultOneTransaction(benchmark::State &state)
{
    run(state, ResStatistics::SaveMode::OneTransaction);
}
BENCHMARK(BM_AddResultOneTransaction)->Unit(benchmark::kMillisecond);

// Every row its own statement, committed on its own.
void BM_AddResultAutocommitRows(benchmark::State &state)
{
    run(state, ResStatistics::SaveMode::RowByRow);
}
BENCHMARK(BM_AddResultAutocommitRows)->Unit(benchmark::kMillisecond);

// Also keeps the CPU time per iteration: on a shared machine the wall time of a save is mostly the
// wait for the disk and for a core, while the CPU time is what the cycle's thread itself spends.
class CpuRatioReporter : public RatioReporter
{
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &r : runs) {
            if (!r.error_occurred && r.run_type == Run::RT_Iteration)
                m_cpu[r.benchmark_name()] =
                    r.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(r.time_unit);
        }
        RatioReporter::ReportRuns(runs);
    }
    void printCpuSpeedup(const std::string &subject, const std::string &baseline)
    {
        const double s = m_cpu[subject], b = m_cpu[baseline];
        if (s > 0 && b > 0)
            std::printf("RATIO (CPU time) %s is %.2f x faster than %s (%.3f ms vs %.3f ms)\n", subject.c_str(),
                        b / s, baseline.c_str(), s * 1e3, b * 1e3);
    }

private:
    std::map<std::string, double> m_cpu;
};

} // namespace

int main(int argc, char **argv)
{
    // Counting refreshes the (hidden) statistics page, which needs a widget application.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    fillUiTextTable();
    benchmark::Initialize(&argc, argv);
    CpuRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printSpeedup("BM_AddResultOneTransaction", "BM_AddResultAutocommitRows");
    reporter.printCpuSpeedup("BM_AddResultOneTransaction", "BM_AddResultAutocommitRows");
    benchmark::Shutdown();
    return 0;
}

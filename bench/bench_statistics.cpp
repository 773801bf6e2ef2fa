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

} // namespace

int main(int argc, char **argv)
{
    // Counting refreshes the (hidden) statistics page, which needs a widget application.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    fillUiTextTable();
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printSpeedup("BM_AddResultOneTransaction", "BM_AddResultAutocommitRows");
    benchmark::Shutdown();
    return 0;
}

// What the start's check of RECORD.db costs before the board link opens, on a day of 6 million record
// lines: the check of its table and first row alone against the same check with SQLite's
// "PRAGMA quick_check" over every page, with the file in the page cache (a restart) and with its pages
// dropped from the cache first (a box switched on).

#include "databaserestore.h"
#include "ratioreporter.h"
#include "recordday.h"
#include "testworkdir.h"

#include <QCoreApplication>
#include <QFile>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

TestWorkDir &workDir()
{
    static TestWorkDir *dir = new TestWorkDir(TestWorkDir::Empty);
    return *dir;
}

// A day of 6 million lines as the box writes them, with the template's time index.
QString recordDay()
{
    const QString path = workDir().filePath(QStringLiteral("RECORD.db"));
    if (!QFile::exists(path)) {
        makeRecordDay(path, true);
        std::printf("RECORD.db of 6,000,000 lines: %.1f MB\n", double(QFile(path).size()) / 1e6);
    }
    return path;
}

// The file's pages out of the page cache, as after a power-up (its pages are clean once synced).
void dropFromCache(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fdatasync(fd);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
}

void checkRecord(benchmark::State &state, bool quickCheck, bool cold)
{
    const QString path = recordDay();
    const DatabaseCheck check{{QStringLiteral("RECORD")}, QString(), quickCheck};
    for (auto _ : state) {
        if (cold) {
            state.PauseTiming();
            dropFromCache(path);
            state.ResumeTiming();
        }
        if (inspectDatabase(path, check) != DatabaseState::Good)
            state.SkipWithError("the day's file does not pass its check");
    }
}

void BM_RecordFirstRowWarm(benchmark::State &state)
{
    checkRecord(state, false, false);
}
BENCHMARK(BM_RecordFirstRowWarm)->Unit(benchmark::kMillisecond);
void BM_RecordQuickCheckWarm(benchmark::State &state)
{
    checkRecord(state, true, false);
}
BENCHMARK(BM_RecordQuickCheckWarm)->Unit(benchmark::kMillisecond)->Iterations(5);
void BM_RecordFirstRowCold(benchmark::State &state)
{
    checkRecord(state, false, true);
}
BENCHMARK(BM_RecordFirstRowCold)->Unit(benchmark::kMillisecond)->Iterations(5);
void BM_RecordQuickCheckCold(benchmark::State &state)
{
    checkRecord(state, true, true);
}
BENCHMARK(BM_RecordQuickCheckCold)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const std::pair<const char *, const char *> pairs[] = {
        {"BM_RecordQuickCheckWarm/iterations:5", "BM_RecordFirstRowWarm"},
        {"BM_RecordQuickCheckCold/iterations:5", "BM_RecordFirstRowCold/iterations:5"}};
    for (const auto &pair : pairs) {
        reporter.printCost(pair.first, pair.second);
        std::printf("ADDED %s adds %.0f ms to %s\n", pair.first,
                    (reporter.seconds(pair.first) - reporter.seconds(pair.second)) * 1e3, pair.second);
    }
    benchmark::Shutdown();
    return 0;
}

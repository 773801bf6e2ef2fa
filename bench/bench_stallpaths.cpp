// What the GUI thread, which runs the machine cycle, spends on two paths that used to stall it:
// - "Save all as test images": one 1280 x 1024 grey frame encoded and written where the cycle runs,
//   against the same frame handed to the test-image writer;
// - the record page opening a day of 6 million lines: the page's latest-first model on a RECORD
//   table without the time index (a day file made before it existed) against one with it.

#include "atomicfile.h"
#include "benchmain.h"
#include "frameimagewriter.h"
#include "recordday.h"
#include "testimages.h"
#include "testworkdir.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QImage>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlTableModel>
#include <QVariant>

#include <benchmark/benchmark.h>

namespace {

QImage greyFrame()
{
    return greyIndexedImage(1280, 1024, [](int x, int y) { return x ^ y; });
}

TestWorkDir &workDir()
{
    static TestWorkDir *dir = new TestWorkDir(TestWorkDir::Empty);
    return *dir;
}

void BM_TestImageWrittenByTheCycle(benchmark::State &state)
{
    const QImage frame = greyFrame();
    const QString path = workDir().filePath(QStringLiteral("caller.bmp"));
    for (auto _ : state) {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        frame.save(&buffer, "BMP");
        benchmark::DoNotOptimize(writeFileAtomically(path, bytes));
    }
}
BENCHMARK(BM_TestImageWrittenByTheCycle)->Unit(benchmark::kMillisecond);

void BM_TestImageHandedToTheWriter(benchmark::State &state)
{
    const QImage frame = greyFrame();
    const QString path = workDir().filePath(QStringLiteral("writer.bmp"));
    FrameImageWriter writer;
    for (auto _ : state) {
        benchmark::DoNotOptimize(writer.enqueue(frame, path));
        state.PauseTiming();
        writer.waitIdle(10000); // the disk's time is the writer's, not the cycle's
        state.ResumeTiming();
    }
}
BENCHMARK(BM_TestImageHandedToTheWriter)->Unit(benchmark::kMillisecond);

// One day file of 6 million lines, with or without the time index.
QString recordDay(bool indexed)
{
    const QString name = indexed ? QStringLiteral("indexed.db") : QStringLiteral("plain.db");
    return makeRecordDay(workDir().filePath(name), indexed);
}

// As the record page makes its model: the table, latest time first, selected.
void openRecordPage(benchmark::State &state, bool indexed)
{
    const QString path = recordDay(indexed);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("page"));
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        db.open();
        for (auto _ : state) {
            QSqlTableModel model(nullptr, db);
            model.setEditStrategy(QSqlTableModel::OnManualSubmit);
            model.setTable(QStringLiteral("RECORD"));
            model.setSort(0, Qt::DescendingOrder);
            model.select();
            benchmark::DoNotOptimize(model.rowCount());
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("page"));
}
void BM_RecordPageWithoutIndex(benchmark::State &state)
{
    openRecordPage(state, false);
}
BENCHMARK(BM_RecordPageWithoutIndex)->Unit(benchmark::kMillisecond)->Iterations(3);
void BM_RecordPageWithTimeIndex(benchmark::State &state)
{
    openRecordPage(state, true);
}
BENCHMARK(BM_RecordPageWithTimeIndex)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    return runSpeedupBenchmarks(argc, argv,
                                {{"BM_TestImageHandedToTheWriter", "BM_TestImageWrittenByTheCycle"},
                                 {"BM_RecordPageWithTimeIndex", "BM_RecordPageWithoutIndex/iterations:3"}});
}

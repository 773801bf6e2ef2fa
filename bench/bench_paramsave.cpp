// Saving the parameters: the 21 rows in one transaction against the same 21 updates each committed on
// its own, on a database file in a temporary working directory.

#include "benchmain.h"
#include "paramstore.h"
#include "testworkdir.h"

#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>

namespace {

const QStringList kKeys = {
    "trigInDelay", "exposeTime", "sharp",   "contrast", "adjustPlus", "numFailDetect", "numAllDetect",
    "isPswUsed",   "password",   "system1", "system2",  "system3",    "system4",       "system5",
    "system6",     "system7",    "system8", "system9",  "system10",   "system11",      "system12"};

struct Fixture
{
    TestWorkDir dir;
    QSqlDatabase db;
    QSqlQuery *query = nullptr;
    SysParam sets[2];
    QStringList rowTexts[2]; // the same rows as the store writes them

    Fixture()
    {
        db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench"));
        db.setDatabaseName(dir.filePath(QStringLiteral("PARAM.db")));
        db.open();
        query = new QSqlQuery(db);
        for (int which = 0; which < 2; ++which) {
            for (int c = 0; c < 8; ++c) {
                sets[which].exposeTime[c] = 30 + which + c;
                sets[which].gamma[c] = 70 - which;
            }
            sets[which].templateNum = 10 + which;
            std::strcpy(sets[which].password, which ? "1234" : "4321");
            saveSysParam(&sets[which], *query);
            for (const QString &k : kKeys) {
                query->prepare(QStringLiteral("select value from sysparam where name=?"));
                query->addBindValue(k);
                query->exec();
                query->next();
                rowTexts[which] << query->value(0).toString();
            }
            query->finish();
        }
    }
};

Fixture &fixture()
{
    static Fixture *f = new Fixture;
    return *f;
}

void BM_SaveOneTransaction(benchmark::State &state)
{
    Fixture &f = fixture();
    unsigned n = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(saveSysParam(&f.sets[++n & 1], *f.query));
}
BENCHMARK(BM_SaveOneTransaction)->Unit(benchmark::kMillisecond);

// The plain way: every update its own statement, committed on its own.
void BM_SaveAutocommitRows(benchmark::State &state)
{
    Fixture &f = fixture();
    unsigned n = 0;
    for (auto _ : state) {
        const QStringList &texts = f.rowTexts[++n & 1];
        for (int i = 0; i < kKeys.size(); ++i) {
            f.query->prepare(QStringLiteral("update sysparam set value=? where name=?"));
            f.query->addBindValue(texts[i]);
            f.query->addBindValue(kKeys[i]);
            benchmark::DoNotOptimize(f.query->exec());
        }
    }
}
BENCHMARK(BM_SaveAutocommitRows)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    return runSpeedupBenchmarks(argc, argv, {{"BM_SaveOneTransaction", "BM_SaveAutocommitRows"}});
}

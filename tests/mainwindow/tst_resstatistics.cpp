// The statistics store on real SQLite files with a settable clock: the day from 08:00 to 08:00, the
// roll-over into the archive, reload after a restart, and archives that nothing may replace.

#include "boxtestpolicy.h"
#include "clock.h"
#include "commandrunner.h"
#include "resstatistics.h"
#include "startup.h"
#include "statisticsfixture.h"
#include "statisticswidget.h"
#include "sysparam.h"
#include "testfiles.h"
#include "testworkdir.h"
#include "uitexttable.h"

#include <QListWidget>
#include <QtTest>

#include <climits>
#include <csignal>
#include <sys/resource.h>

namespace {

QDateTime at(int y, int m, int d, int h, int min = 0)
{
    return QDateTime(QDate(y, m, d), QTime(h, min));
}

// value1 and value2 of one row, as stored.
QStringList storedRow(const QString &file, const QString &name)
{
    const QList<QVariantList> rows =
        selectRows(file, QStringLiteral("select value1, value2 from resstatistics where name='%1'").arg(name));
    return rows.size() == 1 ? QStringList{rows[0][0].toString(), rows[0][1].toString()} : QStringList();
}

QString counts(std::initializer_list<std::pair<int, int>> set)
{
    int v[24] = {};
    for (auto [h, n] : set)
        v[h] = n;
    QString s;
    for (int n : v)
        s += QString::number(n) + QLatin1Char(' ');
    return s;
}

QString restime()
{
    QFile f(QStringLiteral("restime.txt"));
    return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll()) : QString();
}

QString secs(const QDateTime &t)
{
    return QString::number(t.toSecsSinceEpoch());
}

// Records the commands the store asks for (a restart) and runs none.
class RecordingRunner : public CommandRunner
{
public:
    QStringList calls;
    CommandResult run(const QString &program, const QStringList &arguments, int) override
    {
        calls << (QStringList{program} + arguments).join(QLatin1Char(' '));
        return {};
    }
};

} // namespace

class TstResStatistics : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        fillUiTextTable();
        BoxTestPolicy::enable(1);
        gCameraCount = 2;
        gDetectSlotCount = 2;
    }
    void cleanup()
    {
        delete gStatisticsWidget;
        gStatisticsStore = nullptr;
        setAppClock({});
    }

    // First start before 08:00, a result at 07:59, the roll-over at 08:00 next day, a restart, and a
    // clock set back onto an archived day: every day's counts end up in exactly one file.
    void dayLifecycle()
    {
        TestWorkDir dir;
        useTestClock(at(2026, 3, 10, 7, 30));
        auto store = std::make_unique<ResStatistics>();
        gStatisticsStore = store.get();
        store->checkDate();
        QCOMPARE(store->periodDate, QStringLiteral("2026-03-09"));
        QCOMPARE(restime(), secs(at(2026, 3, 9, 8)));
        QVERIFY(!QDir(QStringLiteral("ResStatistics")).exists());

        setNow(at(2026, 3, 10, 7, 59));
        QCOMPARE(store->addResult(7, true, 0, 1), 1);
        QCOMPARE(storedRow(QStringLiteral("ResStatistics.db"), QStringLiteral("C0_D1")),
                 (QStringList{counts({{7, 1}}), counts({})}));
        // The exact statement the store writes for that row.
        StatisticsCell cell;
        cell.okCounts[7] = 1;
        QCOMPARE(ResStatistics::updateRowStatement(cell, 0, 1),
                 QStringLiteral("update resstatistics set value1 = '") + counts({{7, 1}}) +
                     QStringLiteral("',value2 = '") + counts({}) + QStringLiteral("' where name ='C0_D1'"));

        setNow(at(2026, 3, 11, 8, 0));
        QCOMPARE(store->addResult(8, false, 1, 0), 1);
        const QString archived = QStringLiteral("ResStatistics/2026-03-09.db");
        QCOMPARE(store->periodDate, QStringLiteral("2026-03-11"));
        QCOMPARE(restime(), secs(at(2026, 3, 11, 8)));
        QCOMPARE(storedRow(archived, QStringLiteral("C0_D1"))[0], counts({{7, 1}}));
        QCOMPARE(storedRow(QStringLiteral("ResStatistics.db"), QStringLiteral("C0_D1"))[0], counts({}));
        QCOMPARE(storedRow(QStringLiteral("ResStatistics.db"), QStringLiteral("C1_D0"))[1], counts({{8, 1}}));
        // The stored aggregates carry the derived figures.
        QCOMPARE(storedRow(QStringLiteral("ResStatistics.db"), QStringLiteral("C8_D8"))[1], counts({{8, 1}}));
        QCOMPARE(gStatisticsWidget->periodList->count(), 2);

        // A fresh store on the same files: same period, same counts, no second roll-over.
        store.reset();
        store = std::make_unique<ResStatistics>();
        gStatisticsStore = store.get();
        store->checkDate();
        store->showLive();
        QCOMPARE(store->periodDate, QStringLiteral("2026-03-11"));
        QCOMPARE(store->count(2, false, 1, 0), 1);
        QCOMPARE(store->count(2, false, 8, 8), 1);

        // Clock set back onto the archived day, then forward again: both archives of that day stay.
        setNow(at(2026, 3, 9, 12, 0));
        store->addResult(12, true, 0, 0);
        setNow(at(2026, 3, 11, 9, 0));
        store->addResult(9, true, 0, 0);
        QCOMPARE(storedRow(archived, QStringLiteral("C0_D1"))[0], counts({{7, 1}}));
        QCOMPARE(storedRow(QStringLiteral("ResStatistics/2026-03-09_1.db"), QStringLiteral("C0_D0"))[0],
                 counts({{12, 1}}));
        QCOMPARE(storedRow(QStringLiteral("ResStatistics/2026-03-11.db"), QStringLiteral("C1_D0"))[1],
                 counts({{8, 1}}));
        QCOMPARE(storedRow(QStringLiteral("ResStatistics.db"), QStringLiteral("C0_D0"))[0], counts({{9, 1}}));
    }

    // The 25-hour day at the end of summer time: the hour between 07:00 and 08:00 on that Sunday
    // still belongs to Saturday's day and must not archive it again.
    void longDayOfSummerTimeEnd()
    {
        TimeZoneScope berlin("Europe/Berlin");
        TestWorkDir dir;
        useTestClock(at(2026, 10, 24, 9, 0));
        ResStatistics store;
        gStatisticsStore = &store;
        store.checkDate();
        for (int minute : {0, 20, 59}) {
            setNow(at(2026, 10, 25, 7, minute));
            store.addResult(7, true, 0, 0);
        }
        QVERIFY(QDir(QStringLiteral("ResStatistics")).entryList({QStringLiteral("*.db")}).isEmpty());
        setNow(at(2026, 10, 25, 8, 0));
        store.addResult(8, true, 0, 0);
        QCOMPARE(QDir(QStringLiteral("ResStatistics")).entryList({QStringLiteral("*.db")}),
                 QStringList{QStringLiteral("2026-10-24.db")});
        QCOMPARE(storedRow(QStringLiteral("ResStatistics/2026-10-24.db"), QStringLiteral("C0_D0"))[0],
                 counts({{7, 3}}));
    }

    // A day that cannot be archived keeps its counts in the running file; nothing is copied over it.
    // A missing template still gives a working store.
    void filesThatAreNotThere()
    {
        TestWorkDir dir;
        QVERIFY(QFile::remove(QStringLiteral("ResStatisticsNULL.db")));
        useTestClock(at(2026, 3, 10, 9, 0));
        ResStatistics store;
        gStatisticsStore = &store;
        store.checkDate();
        store.addResult(9, false, 1, 1);
        QCOMPARE(storedRow(QStringLiteral("ResStatistics.db"), QStringLiteral("C1_D1"))[1], counts({{9, 1}}));

        QVERIFY(writeTestFile(QStringLiteral("ResStatistics"), "a file where the archive folder belongs"));
        setNow(at(2026, 3, 11, 9, 0));
        store.addResult(9, false, 1, 1);
        QCOMPARE(store.periodDate, QStringLiteral("2026-03-10"));
        QCOMPARE(storedRow(QStringLiteral("ResStatistics.db"), QStringLiteral("C1_D1"))[1], counts({{9, 2}}));
    }

    // A file size limit at the first start (no file may grow): the template cannot be copied and the
    // table not built. The store counts on and the box does not restart, since a restart would not
    // make room; the first save once files may grow again builds the table and writes every count.
    void noRoomAtTheFirstStart()
    {
        TestWorkDir dir;
        QFile::remove(QStringLiteral("ResStatistics.db"));
        useTestClock(at(2026, 3, 10, 9, 0));
        RecordingRunner runner;
        setCommandRunner(&runner);
        rlimit saved{};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &saved) == 0);
        const auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
        rlimit full = saved;
        full.rlim_cur = 0;
        const bool limited = ::setrlimit(RLIMIT_FSIZE, &full) == 0;
        QStringList row;
        bool hadNoTable = false;
        {
            ResStatistics store;
            gStatisticsStore = &store;
            store.addResult(9, false, 1, 1);
            hadNoTable = storedRow(QStringLiteral("ResStatistics.db"), QStringLiteral("C1_D1")).isEmpty();
            ::setrlimit(RLIMIT_FSIZE, &saved);
            ::signal(SIGXFSZ, oldHandler);
            store.addResult(9, false, 1, 1);
            row = storedRow(QStringLiteral("ResStatistics.db"), QStringLiteral("C1_D1"));
            gStatisticsStore = nullptr;
        }
        setCommandRunner(nullptr);
        QVERIFY(limited);
        QVERIFY2(hadNoTable, "the file size limit did not stop the table");
        QCOMPARE(runner.calls, QStringList());
        QCOMPARE(row.value(1), counts({{9, 2}}));
    }

    void parseCounts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("read");
        QTest::addColumn<QList<int>>("first");
        QTest::newRow("stored form") << counts({{0, 5}, {23, 7}}) << 24 << QList<int>{5, 0, 0};
        QTest::newRow("short") << QStringLiteral("1 2 3") << 3 << QList<int>{1, 2, 3, -1};
        QTest::newRow("empty") << QString() << 0 << QList<int>{-1};
        QTest::newRow("junk inside") << QStringLiteral("4 x 6") << 1 << QList<int>{4, -1};
        QTest::newRow("negative") << QStringLiteral("-5 1") << 0 << QList<int>{-1};
        QTest::newRow("beyond int") << QStringLiteral("99999999999 1") << 0 << QList<int>{-1};
        QTest::newRow("tabs and line ends") << QStringLiteral("1\t2\n3") << 3 << QList<int>{1, 2, 3, -1};
        QString many;
        for (int i = 0; i < 30; ++i)
            many += QString::number(i) + QLatin1Char(' ');
        QTest::newRow("more than 24") << many << 24 << QList<int>{0, 1, 2};
    }
    void parseCounts()
    {
        QFETCH(QString, text);
        QFETCH(int, read);
        QFETCH(QList<int>, first);
        int values[24];
        std::fill(values, values + 24, -1);
        QCOMPARE(ResStatistics::parseCounts(text, values), read);
        for (int i = 0; i < first.size(); ++i)
            QCOMPARE(values[i], first[i]);
        if (read == 24)
            QCOMPARE(values[23], text.startsWith(QLatin1Char('0')) ? 23 : 7);
    }

    // Aggregates are recomputed from the detailed cells whatever they held; sums saturate; the shift
    // lists come in the page's hour order.
    void viewArithmetic()
    {
        StatisticsGrid grid;
        grid.allCameras.cell.okCounts[3] = 12345; // junk from a file
        grid.cameraNodes[0].cell.ngCounts[3] = 999;
        for (int h = 0; h < 24; ++h)
            grid.cameraNodes[2].slotCells[3].okCounts[h] = 100 + h;
        grid.cameraNodes[7].slotCells[7].okCounts[0] = INT_MAX;
        grid.cameraNodes[6].slotCells[7].okCounts[0] = INT_MAX;
        grid.cameraNodes[0].slotCells[0].ngCounts[20] = 2;
        ResStatistics::recompute(grid);
        QCOMPARE(grid.allCameras.cell.okCounts[3], 103);
        QCOMPARE(grid.cameraNodes[0].cell.ngCounts[3], 0);
        QCOMPARE(grid.cameraNodes[0].cell.nightNg, 2);
        QCOMPARE(grid.allCameras.slotCells[7].okCounts[0], INT_MAX);
        QCOMPARE(grid.allCameras.cell.wholeOk, INT_MAX);
        QCOMPARE(grid.cameraNodes[2].slotCells[3].dayOk, 108 * 12 + 66);

        TestWorkDir dir;
        useTestClock(at(2026, 3, 10, 9, 0));
        ResStatistics store;
        store.liveGrid = grid;
        store.showLive();
        const QList<int> day = store.hourValues(0, true, 2, 3), night = store.hourValues(1, true, 2, 3);
        QCOMPARE(day.first(), 108);
        QCOMPARE(day.last(), 119);
        QCOMPARE(night, (QList<int>{120, 121, 122, 123, 100, 101, 102, 103, 104, 105, 106, 107}));
        QCOMPARE(store.hourValues(2, true, 2, 3).size(), 24);
        QVERIFY(store.hourValues(3, true, 2, 3).isEmpty());
        QVERIFY(store.hourValues(0, true, 9, 0).isEmpty());
        QCOMPARE(store.count(2, false, 0, 8), 2);
        QCOMPARE(store.count(5, true, 8, 8), 0);
        QCOMPARE(store.addResult(24, true, 0, 0), 0);
        QCOMPARE(store.addResult(0, true, 0, -1), 0);
        QCOMPARE(store.addResult(0, true, 9, 0), 0);
    }
};

QTEST_MAIN(TstResStatistics)
#include "tst_resstatistics.moc"

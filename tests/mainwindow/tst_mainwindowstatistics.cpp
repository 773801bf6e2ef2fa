// The main window's part in statistics and temperature history: the store made at start when
// statistics are enabled, the detection pass's temperature calls installed, and the daily roll-over
// taking the temperature history of the ended day into its archive.

#include "boxtestpolicy.h"
#include "clock.h"
#include "commandrunner.h"
#include "devewizard.h"
#include "inspectionhooks.h"
#include "resstatistics.h"
#include "statisticsfixture.h"
#include "temperaturechartdata.h"
#include "testworkdir.h"
#include "uitexttable.h"

#include <QtTest>

namespace {
class NullRunner : public CommandRunner
{
public:
    CommandResult run(const QString &, const QStringList &, int) override { return {}; }
};
} // namespace

class TstMainWindowStatistics : public QObject
{
    Q_OBJECT
    NullRunner runner;

private slots:
    void initTestCase()
    {
        fillUiTextTable();
        BoxTestPolicy::enable(1);
        setCommandRunner(&runner);
    }
    void cleanupTestCase()
    {
        setAppClock({});
        setCommandRunner(nullptr);
    }

    void startAndDayChange()
    {
        TestWorkDir dir;
        useTestClock(QDateTime(QDate(2026, 12, 7), QTime(10, 0)));
        DeVeWizard window;
        QVERIFY(gStatisticsStore); // enabled in the factory parameters
        QCOMPARE(gStatisticsStore->periodDate, QStringLiteral("2026-12-07"));
        QVERIFY(QFile::exists(QStringLiteral("restime.txt")));

        const qint64 t = QDateTime(QDate(2026, 12, 7), QTime(23, 0)).toMSecsSinceEpoch();
        QVERIFY(inspectionHooks().insertRecord && inspectionHooks().appendLive && inspectionHooks().appendValue);
        inspectionHooks().insertRecord(0, 0, {3}, {t}, {42.5});
        setNow(QDateTime(QDate(2026, 12, 8), QTime(0, 0, 30)));
        window.SlotCheckDate();
        QCOMPARE(selectRows(QStringLiteral("TemperatureData/2026-12-07.db"), QStringLiteral("select D0T3 from camera1")),
                 (QList<QVariantList>{{42.5}}));
        QVERIFY(selectRows(QStringLiteral("TemperatureData.db"), QStringLiteral("select * from camera1")).isEmpty());
    }
};

QTEST_MAIN(TstMainWindowStatistics)
#include "tst_mainwindowstatistics.moc"

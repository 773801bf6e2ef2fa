// Temperature history: the row format read back by column position, the restart round trip, the
// archive and the choice of day, and the charts' axes for the running and an archived day.

#include "boxtestpolicy.h"
#include "clock.h"
#include "combobox.h"
#include "inspectionhooks.h"
#include "startup.h"
#include "statisticsfixture.h"
#include "sysparam.h"
#include "systemhelpers.h"
#include "temperaturechart.h"
#include "temperaturechartdata.h"
#include "temperaturechartwidget.h"
#include "testfiles.h"
#include "testworkdir.h"
#include "uitexttable.h"

#include <QComboBox>
#include <QListWidget>
#include <QStackedWidget>
#include <QtCharts/QDateTimeAxis>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>
#include <QtTest>

namespace {

const QDateTime kNow(QDate(2026, 3, 10), QTime(14, 0));
const qint64 kT = kNow.toMSecsSinceEpoch();

// A store made afresh, as after a restart.
TemperatureChartData *restartStore()
{
    delete gTemperatureChartData;
    return TemperatureChartData::instance();
}

void selectDay(TemperatureChartData *store, const QString &day)
{
    QListWidgetItem item(day);
    store->UpdateRecord(&item);
}

QPair<qint64, qint64> timeRange(const Chart *chart)
{
    return {chart->timeAxis->min().toMSecsSinceEpoch(), chart->timeAxis->max().toMSecsSinceEpoch()};
}

} // namespace

class TstTemperatureHistory : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        fillUiTextTable();
        BoxTestPolicy::enable(1);
        gSysParam = new SysParam;
        gSysParam->temperatureRange[0] = 1;
        gSysParam->temperatureRange[1] = 2;
    }
    void init()
    {
        gCameraCount = 2;
        gDetectSlotCount = 2;
        useTestClock(kNow);
    }
    void cleanup()
    {
        removeTemperatureHooks();
        delete gTemperatureChartWidget;
        delete gTemperatureChartData;
        setAppClock({});
    }

    // One row per pass, read by position through a connection of our own; all ten regions come back
    // after a restart; a region without a column does not cost the others their row.
    void rowsAndRestart()
    {
        TestWorkDir dir;
        TemperatureChartData *store = TemperatureChartData::instance();
        store->insertRecord(0, 1, {0, 2}, {kT, kT + 5}, {36.5, 41.25});
        store->insertRecord(1, 0, {0, 12}, {kT + 1000, kT + 1000}, {20.0, 99.0});
        store->insertRecord(0, 1, {9}, {kT + 2000}, {1234567.8});
        store->insertRecord(8, 0, {0}, {kT}, {1.0}); // no such camera

        const QList<QVariantList> rows = selectRows(QStringLiteral("TemperatureData.db"),
                                                    QStringLiteral("select * from camera1"));
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows[0][0].toLongLong(), kT);
        QVERIFY(rows[0][1].isNull());
        QCOMPARE(rows[0][12].toLongLong(), kT); // D1Time
        QCOMPARE(rows[0][13].toDouble(), 36.5); // D1T0
        QVERIFY(rows[0][14].isNull());
        QCOMPARE(rows[0][15].toDouble(), 41.25); // D1T2
        QCOMPARE(rows[1][22].toDouble(), 1234570.0); // six significant digits, as always stored
        const QList<QVariantList> second = selectRows(QStringLiteral("TemperatureData.db"),
                                                      QStringLiteral("select * from camera2"));
        QCOMPARE(second.size(), 1);
        QCOMPARE(second[0][2].toDouble(), 20.0);

        store = restartStore();
        selectDay(store, store->dayText);
        QCOMPARE(store->series(0, QStringLiteral("D1_T2")), (QList<QPointF>{QPointF(kT, 41.25)}));
        QCOMPARE(store->series(0, QStringLiteral("D1_T9")).size(), 1);
        QCOMPARE(store->series(1, QStringLiteral("D0_T0")), (QList<QPointF>{QPointF(kT + 1000, 20.0)}));
        QVERIFY(store->series(2, QStringLiteral("D0_T0")).isEmpty());
        QVERIFY(store->series(-1, QStringLiteral("D0_T0")).isEmpty());
    }

    // Archive, then pick a day: archives are never replaced, the template only follows a move, a
    // missing template still gives working tables, and live points go on across the change.
    void archiveAndChooseDay()
    {
        TestWorkDir dir;
        TemperatureChartData *store = TemperatureChartData::instance();
        store->insertRecord(0, 0, {1}, {kT}, {50.0});
        QVERIFY(store->archive(QStringLiteral("2026-03-09")));
        store->insertRecord(0, 0, {1}, {kT + 1}, {51.0});
        QVERIFY(QFile::remove(QStringLiteral("TemperatureDataNULL.db")));
        QVERIFY(store->archive(QStringLiteral("2026-03-09")));
        store->insertRecord(0, 0, {1}, {kT + 2}, {52.0});
        QVERIFY(!store->archive(QStringLiteral("../escape")));
        QCOMPARE(selectRows(QStringLiteral("TemperatureData/2026-03-09.db"),
                            QStringLiteral("select D0T1 from camera1")),
                 (QList<QVariantList>{{50.0}}));
        QCOMPARE(selectRows(QStringLiteral("TemperatureData/2026-03-09_1.db"),
                            QStringLiteral("select D0T1 from camera1")),
                 (QList<QVariantList>{{51.0}}));
        QCOMPARE(selectRows(QStringLiteral("TemperatureData.db"), QStringLiteral("select D0T1 from camera1")),
                 (QList<QVariantList>{{52.0}}));

        // A failed move leaves the running file as it is.
        QDir(QStringLiteral("TemperatureData")).removeRecursively();
        QVERIFY(writeTestFile(QStringLiteral("TemperatureData"), "a file where the folder belongs"));
        QVERIFY(!store->archive(QStringLiteral("2026-03-10")));
        QCOMPARE(selectRows(QStringLiteral("TemperatureData.db"), QStringLiteral("select D0T1 from camera1")).size(),
                 1);
        QFile::remove(QStringLiteral("TemperatureData"));
        QVERIFY(QDir().mkpath(QStringLiteral("TemperatureData")));
        QVERIFY(store->archive(QStringLiteral("2026-03-08")));

        store->appendLive(0, QStringLiteral("D0_T1"), kT + 3, 53.0);
        selectDay(store, QStringLiteral("2026-03-08"));
        QVERIFY(!store->showingToday);
        QCOMPARE(store->series(0, QStringLiteral("D0_T1")), (QList<QPointF>{QPointF(kT + 2, 52.0)}));
        selectDay(store, QStringLiteral("2026-03-01"));
        QVERIFY(store->series(0, QStringLiteral("D0_T1")).isEmpty());
        QVERIFY(!QFile::exists(QStringLiteral("TemperatureData/2026-03-01.db")));
        selectDay(store, store->dayText);
        QVERIFY(store->showingToday);
        QCOMPARE(store->series(0, QStringLiteral("D0_T1")).last(), QPointF(kT + 3, 53.0));
    }

    // No usable database: live points are still kept and shown; a day of points is kept, older ones go.
    void livePointsWithoutDatabase()
    {
        TestWorkDir dir;
        QVERIFY(QDir().mkpath(QStringLiteral("TemperatureData.db")));
        TemperatureChartData *store = TemperatureChartData::instance();
        QVERIFY(store->liveRecords.isEmpty());
        const QString key = QStringLiteral("D1_T3");
        const double hour = 3600.0 * 1000;
        for (int h = 0; h <= 30; ++h)
            store->appendLive(1, key, kT + h * hour, h);
        store->appendLive(9, key, kT, 1.0);
        store->insertRecord(1, 1, {3}, {kT}, {1.0});
        selectDay(store, store->dayText);
        const QList<QPointF> points = store->series(1, key);
        QVERIFY(points.last() == QPointF(kT + 30 * hour, 30));
        QVERIFY(points.first().x() >= kT + 30 * hour - TemperatureChartData::kLiveWindowMs - hour);
        QVERIFY(points.first().x() <= kT + 30 * hour - 24 * hour);
    }

    // The page's charts: axis ranges of the running day (following the clock), an archived day with
    // and without points, the temperature range per camera; live points through the hooks.
    void chartAxes()
    {
        TestWorkDir dir;
        TemperatureChartData *store = TemperatureChartData::instance();
        store->insertRecord(1, 0, {0}, {kT - 7200000}, {30.0});
        store->insertRecord(1, 0, {0}, {kT - 3600000}, {31.0});
        QVERIFY(store->archive(QStringLiteral("2026-03-09")));
        QVERIFY(QFile::copy(QStringLiteral("TemperatureDataNULL.db"), QStringLiteral("TemperatureData/2026-03-05.db")));
        installTemperatureHooks();

        TemperatureChartWidget *page = temperatureChartWidget();
        page->show();
        QCOMPARE(page->dayList->count(), 3);
        QCOMPARE(page->dayList->item(1)->text(), QStringLiteral("2026-03-09"));
        Chart *first = page->charts[0], *second = page->charts[1];
        QCOMPARE(first->valueAxis->min(), -50.0);
        QCOMPARE(second->valueAxis->max(), 580.0);
        QCOMPARE(timeRange(first), qMakePair(kT - 1800000, kT + Chart::kLeadMs));
        page->spanBox->setCurrentIndex(5);
        QCOMPARE(timeRange(first), qMakePair(kT - 86400000, kT + Chart::kLeadMs));
        setNow(kNow.addSecs(60));
        first->scrollToNow();
        QCOMPARE(timeRange(first), qMakePair(kT + 60000 - 86400000, kT + 60000 + Chart::kLeadMs));

        // Live points: for the key shown they reach the chart, for another key only the store.
        inspectionHooks().appendValue(0, QStringLiteral("D0_T0"), kT + 60000, 33.0);
        inspectionHooks().appendValue(0, QStringLiteral("D0_T5"), kT + 60000, 34.0);
        inspectionHooks().appendValue(7, QStringLiteral("D0_T0"), kT + 60000, 35.0);
        auto *line = qobject_cast<QtCharts::QLineSeries *>(first->seriesByKey.value(QStringLiteral("D0_T0")));
        QVERIFY(line);
        QCOMPARE(line->count(), 1);
        inspectionHooks().appendLive(0, QStringLiteral("D0_T5"), kT + 60000, 34.0);
        QCOMPARE(store->series(0, QStringLiteral("D0_T5")).size(), 1);

        page->cameraBox->setCurrentIndex(1);
        page->dayList->setCurrentRow(1);
        emit page->dayList->itemClicked(page->dayList->item(1));
        QVERIFY(!second->scrollTimer.isActive());
        QCOMPARE(timeRange(second), qMakePair(kT - 7200000, kT - 3600000));
        page->dayList->setCurrentRow(2);
        emit page->dayList->itemClicked(page->dayList->item(2));
        const qint64 day = QDateTime(QDate(2026, 3, 5), QTime(0, 0)).toMSecsSinceEpoch();
        QCOMPARE(timeRange(second), qMakePair(day, day + 86400000));

        // Showing the page again selects the running day.
        page->hide();
        page->show();
        QVERIFY(store->showingToday);
        QVERIFY(second->scrollTimer.isActive());
    }

    // Without a camera there is no chart; nothing reaches for one.
    void pageWithoutCamera()
    {
        TestWorkDir dir;
        gCameraCount = 0;
        installTemperatureHooks();
        TemperatureChartWidget *page = temperatureChartWidget();
        page->show();
        page->detectBox->setCurrentIndex(1);
        page->spanBox->setCurrentIndex(2);
        inspectionHooks().appendValue(0, QStringLiteral("D0_T0"), kT, 1.0);
        QCOMPARE(page->chartStack->count(), 0);
        QCOMPARE(page->dayList->count(), 1);
    }
};

QTEST_MAIN(TstTemperatureHistory)
#include "tst_temperaturehistory.moc"

// The statistics page: camera and slot tabs mapped onto the store's cells, the period list with its
// archives, the figures shown, and the export to the USB disk.

#include "boxtestpolicy.h"
#include "clock.h"
#include "camerastatisticswidget.h"
#include "histogram.h"
#include "commandrunner.h"
#include "pathmap.h"
#include "resstatistics.h"
#include "startup.h"
#include "statisticsfixture.h"
#include "statisticswidget.h"
#include "sysparam.h"
#include "systemhelpers.h"
#include "testfiles.h"
#include "testworkdir.h"
#include "uitexttable.h"

#include <QLabel>
#include <QListWidget>
#include <QtTest>

namespace {

// blkid finds a USB partition beside the system disk; mount and umount are recorded.
class UsbRunner : public CommandRunner
{
public:
    QStringList commands;
    CommandResult run(const QString &program, const QStringList &arguments, int) override
    {
        commands << (QStringList{program} + arguments).join(QLatin1Char(' '));
        CommandResult r;
        r.started = true;
        r.exitCode = 0;
        if (program == QLatin1String("blkid"))
            r.standardOutput = "/dev/sda1: TYPE=\"ext4\"\n/dev/sdb1: UUID=\"1\" TYPE=\"vfat\"\n";
        return r;
    }
};

// Switches the shown page to camera tab t, slot tab s (a shown tab refreshes itself) and reads it.
QStringList labelTexts(StatisticsWidget *widget, int t, int s)
{
    widget->cameraTabs->setCurrentIndex(t);
    widget->cameraPages[t]->setCurrentIndex(s);
    const CameraStatisticsWidget *page = widget->cameraPages[t]->slotPages[s];
    QStringList texts;
    for (const QLabel *l : page->valueLabels)
        texts << l->text();
    return texts;
}

} // namespace

class TstStatisticsWidget : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        fillUiTextTable();
        gCameraCount = 2;
        gDetectSlotCount = 2;
        gSysParam = new SysParam;
        gSysParam->machineType = 0;
    }
    void init()
    {
        BoxTestPolicy::enable(1);
        BoxTestPolicy::clearShown();
    }
    void cleanup()
    {
        delete gStatisticsWidget;
        gStatisticsStore = nullptr;
        setAppClock({});
        setCommandRunner(nullptr);
        setSystemPathRoot(QString());
        setMountsFilePath(QString());
    }

    // Tabs by camera and slot with counts only in camera 1, slot 0: 3 OK and 1 NG over both shifts.
    void tabsShowTheirCells()
    {
        TestWorkDir dir;
        useTestClock(QDateTime(QDate(2026, 3, 10), QTime(9, 0)));
        ResStatistics store;
        gStatisticsStore = &store;
        for (auto [hour, ok] : {std::pair{9, true}, {9, true}, {21, true}, {10, false}})
            store.addResult(hour, ok, 1, 0);
        StatisticsWidget *page = statisticsWidget();
        page->show();

        QCOMPARE(page->cameraTabs->count(), 3);
        QCOMPARE(page->cameraTabs->tabText(0), uiText(585));
        QCOMPARE(page->cameraTabs->tabText(2), uiText(586).arg(2));
        const QStringList slotTitles{page->cameraPages[1]->tabText(0), page->cameraPages[1]->tabText(1),
                                     page->cameraPages[1]->tabText(2)};
        QCOMPARE(slotTitles, (QStringList{uiText(584), uiText(263), uiText(264)}));

        const QStringList seeded{"2", "1", "1", "0", "4", "1", "25%"};
        const QStringList empty{"0", "0", "0", "0", "0", "0", "nan%"};
        QCOMPARE(labelTexts(page, 2, 1), seeded); // camera 1, slot 0
        QCOMPARE(labelTexts(page, 0, 0), seeded); // all cameras, all slots
        QCOMPARE(labelTexts(page, 0, 2), empty);  // all cameras, slot 1
        QCOMPARE(labelTexts(page, 1, 0), empty);  // camera 0
        QCOMPARE(page->cameraPages[2]->slotPages[1]->morningChart->okValues.at(1), 2);
        QCOMPARE(page->cameraPages[2]->slotPages[1]->nightChart->okValues.at(1), 1);
    }

    // Archives newest first after the running day, a foreign file left out; an archive is read, not
    // changed, and one that vanished changes nothing shown.
    void periodListAndArchives()
    {
        TestWorkDir dir;
        useTestClock(QDateTime(QDate(2026, 3, 10), QTime(9, 0)));
        QDir().mkpath(QStringLiteral("ResStatistics"));
        for (const QString &day : {QStringLiteral("2026-03-07"), QStringLiteral("2026-03-08")})
            QVERIFY(QFile::copy(QStringLiteral("ResStatisticsNULL.db"), QStringLiteral("ResStatistics/%1.db").arg(day)));
        const QString archive = QStringLiteral("ResStatistics/2026-03-08.db");
        QVERIFY(execOnDatabase(archive, QStringLiteral("update resstatistics set value1='0 0 0 0 0 0 0 0 0 5 ', "
                                                       "value2='junk' where name='C0_D1'")));
        QVERIFY(execOnDatabase(archive, QStringLiteral("update resstatistics set value1='77 ' where name='C8_D8'")));
        QVERIFY(writeTestFile(QStringLiteral("ResStatistics/notes.txt"), "not a day"));
        const QByteArray before = [&] { QFile f(archive); f.open(QIODevice::ReadOnly); return f.readAll(); }();

        ResStatistics store;
        gStatisticsStore = &store;
        store.checkDate();
        store.addResult(9, true, 0, 1);
        StatisticsWidget *page = statisticsWidget();
        page->show();
        QStringList rows;
        for (int i = 0; i < page->periodList->count(); ++i)
            rows << page->periodList->item(i)->text();
        QCOMPARE(rows, (QStringList{"2026-03-10", "2026-03-08", "2026-03-07"}));

        page->periodList->setCurrentRow(1);
        page->UpdateRecord(page->periodList->item(1));
        QCOMPARE(store.count(0, true, 8, 8), 5); // the junk aggregate row is recomputed
        QCOMPARE(store.count(0, false, 0, 1), 0);
        store.addResult(9, true, 0, 1); // counting goes on; the archive view stays
        QCOMPARE(store.count(0, true, 8, 8), 5);
        const QByteArray after = [&] { QFile f(archive); f.open(QIODevice::ReadOnly); return f.readAll(); }();
        QVERIFY(before == after);

        QVERIFY(QFile::remove(QStringLiteral("ResStatistics/2026-03-07.db")));
        page->periodList->setCurrentRow(2);
        page->UpdateRecord(page->periodList->item(2));
        QCOMPARE(store.count(0, true, 8, 8), 5);
        QVERIFY(!QFile::exists(QStringLiteral("ResStatistics/2026-03-07.db")));

        page->periodList->setCurrentRow(0);
        page->UpdateRecord(page->periodList->item(0));
        QCOMPARE(store.count(0, true, 0, 1), 2);
    }

    void exportToUsb_data()
    {
        QTest::addColumn<bool>("mntIsFile");
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("shownRow"); // -1: nothing after the question
        QTest::newRow("written") << false << 1 << 147;
        QTest::newRow("disk refuses") << true << 1 << 650;
        QTest::newRow("declined: the page comes back") << false << 0 << -1;
    }
    void exportToUsb()
    {
        QFETCH(bool, mntIsFile);
        QFETCH(int, answer);
        QFETCH(int, shownRow);
        BoxTestPolicy::enable(answer);
        TestWorkDir dir;
        UsbRunner runner;
        setCommandRunner(&runner);
        setSystemPathRoot(dir.filePath(QStringLiteral("root")));
        QVERIFY(writeTestFile(QStringLiteral("mounts"), "/dev/sdb1 /mnt vfat rw 0 0\n"));
        setMountsFilePath(dir.filePath(QStringLiteral("mounts")));
        if (mntIsFile)
            QVERIFY(writeTestFile(QStringLiteral("root/mnt"), "not a folder"));
        else
            QVERIFY(QDir().mkpath(QStringLiteral("root/mnt")));
        useTestClock(QDateTime(QDate(2026, 3, 10), QTime(9, 5, 7)));
        ResStatistics store;
        gStatisticsStore = &store;
        store.addResult(9, false, 1, 1);
        StatisticsWidget *page = statisticsWidget();
        page->show();

        page->SlotExportData();
        QVERIFY(page->isVisible());
        const QStringList lines = readTextLines(QStringLiteral("root/mnt/2026-03-10_09.05.07.xls"));
        if (shownRow < 0) {
            QCOMPARE(BoxTestPolicy::shownTexts(), QStringList{uiText(324)});
            QVERIFY(runner.commands.isEmpty() && lines.isEmpty());
            return;
        }
        QCOMPARE(BoxTestPolicy::shownTexts(), (QStringList{uiText(324), uiText(shownRow)}));
        QVERIFY(runner.commands.contains(QStringLiteral("umount /mnt")));
        if (mntIsFile) {
            QVERIFY(lines.isEmpty());
            return;
        }
        QCOMPARE(lines.size(), 2 + 3 * 3);
        QVERIFY(lines[0].trimmed().endsWith(QLatin1String("2026-03-10")));
        // Camera 2's all-slots line: figures, then 24 OK and 24 NG hours.
        const QStringList cells = lines[2 + 2 * 3].trimmed().split(QLatin1Char('\t'));
        QCOMPARE(cells.mid(2, 7), (QStringList{"0", "1", "0", "0", "1", "1", "100%"}));
        QCOMPARE(cells.size(), 9 + 48);
        QCOMPARE(cells[9 + 24 + 9], QStringLiteral("1"));
    }
};

QTEST_MAIN(TstStatisticsWidget)
#include "tst_statisticswidget.moc"

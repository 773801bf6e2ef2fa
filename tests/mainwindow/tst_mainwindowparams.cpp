// The main window's start with the laid-out parameter database: blocks loaded, start-up copies taken,
// a missing row inserted on the first start, and the core writing the window's flags through hooks.

#include "boxtestpolicy.h"
#include "commandrunner.h"
#include "devewizard.h"
#include "paramstore.h"
#include "startup.h"
#include "sysparam.h"
#include "systemhelpers.h"
#include "testfiles.h"
#include "testworkdir.h"

#include <QSqlQuery>
#include <QtTest>

namespace {

class NullRunner : public CommandRunner
{
public:
    CommandResult run(const QString &, const QStringList &, int) override { return {}; }
};

int rowCount(QSqlQuery *q, const QString &key)
{
    q->prepare(QStringLiteral("select count(*) from sysparam where name=?"));
    q->addBindValue(key);
    return q->exec() && q->next() ? q->value(0).toInt() : -1;
}

} // namespace

class TestMainWindowParams : public QObject
{
    Q_OBJECT
    NullRunner runner;

private slots:
    void initTestCase() { BoxTestPolicy::enable(1); }
    void init() { setCommandRunner(&runner); }
    void cleanup() { setCommandRunner(nullptr); }

    void firstStartLoadsTheFactoryDatabase()
    {
        TestWorkDir dir;
        QVERIFY(execOnDatabase(dir.filePath("PARAM.db"), "delete from sysparam where name='system12'"));
        QVERIFY(execOnDatabase(
            dir.filePath("PARAM.db"),
            "update sysparam set value='3 1 0 0 0 1 0 0 0 0 0 0 0 0 0 0 0 0 0 0' where name='system7'"));
        QVERIFY(execOnDatabase(
            dir.filePath("PARAM.db"),
            "update sysparam set value='0 25 3 7 5 5 0 0 0 0 0 0 0 0 8000 600 12 60' where name='system2'"));
        QVERIFY(execOnDatabase(dir.filePath("PARAM.db"),
                               "update sysparam set value='0 0 0 -1 0 0 0 9 0' where name='system1'"));
        gRunning = false;
        {
            DeVeWizard window;
            QVERIFY(gSysParam);
            QVERIFY(gSysParamEdit);
            QCOMPARE(rowCount(window.paramQuery, "system12"), 1);
            QCOMPARE(gSysParam->ioPort, 3);
            QCOMPARE(gIoPortNumber, 3);
            QCOMPARE(gColorCamera, 1);
            QCOMPARE(gGrayChannel, 0);
            QCOMPARE(gTemplateLimit, 25);
            QCOMPARE(gNgImageLimit.load(), 7);
            QCOMPARE(gOkImageLimit.load(), 9);
            QCOMPARE(gDetectSlotCount, 2);
            QVERIFY(gRunning);
            // The working copy is only constructed: the settings fill it when they open.
            QCOMPARE(gSysParamEdit->ioPort, 0);
            QCOMPARE(gSysParamEdit->slotEnabled[1], 1);
            QVERIFY(QFile::exists("sysadd.txt"));
        }
    }

    void loaderWritesTheMouldSide()
    {
        TestWorkDir dir;
        QVERIFY(execOnDatabase(dir.filePath("PARAM.db"),
                               "update sysparam set value='1 1 0 0 0 0 0 0' where name='numFailDetect'"));
        DeVeWizard window;
        QCOMPARE(window.moldSide, 0); // right mould only
        QCOMPARE(gDetectSlotCount, 4);
    }

    void backlightWritesTheScreenFlagOnlyWhileTheWindowExists()
    {
        TestWorkDir dir;
        {
            DeVeWizard window;
            setBacklight(0);
            QCOMPARE(window.screenOff, 1);
            setBacklight(1);
            QCOMPARE(window.screenOff, 0);
        }
        setBacklight(0); // no window: must not write into freed memory
    }

    void settingsSaveReachesTheWindowsDatabase()
    {
        TestWorkDir dir;
        DeVeWizard window;
        gSysParam->exposeTime[2] = 123;
        QVERIFY(saveSysParam(gSysParam));
        window.paramQuery->exec("select value from sysparam where name='exposeTime'");
        QVERIFY(window.paramQuery->next());
        QCOMPARE(window.paramQuery->value(0).toString(), QStringLiteral("30 30 123 30"));
    }
};

QTEST_MAIN(TestMainWindowParams)
#include "tst_mainwindowparams.moc"

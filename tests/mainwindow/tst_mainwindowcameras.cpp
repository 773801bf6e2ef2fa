// What the main window gives the camera views at start-up: its parameter query for the region tables,
// and views only for cameras that opened.

#include "boxtestpolicy.h"
#include "cameradeviceinfo.h"
#include "commandrunner.h"
#include "devewizard.h"
#include "paramquery.h"
#include "startup.h"
#include "testworkdir.h"
#include "uitexttable.h"

#include <QtTest>

namespace {

class QuietRunner : public CommandRunner
{
public:
    CommandResult run(const QString &, const QStringList &, int) override
    {
        CommandResult r;
        r.started = true;
        r.exitCode = 0;
        return r;
    }
};

} // namespace

class TestMainWindowCameras : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        fillUiTextTable();
        BoxTestPolicy::enable(1);
        setCommandRunner(&runner);
    }
    void cleanupTestCase() { setCommandRunner(nullptr); }
    void cleanup() { gCameraInfoList.clear(); }

    void regionTablesUseTheWindowsParameterQuery()
    {
        TestWorkDir dir;
        {
            DeVeWizard window;
            QVERIFY(window.paramQuery);
            QCOMPARE(paramQuery(), window.paramQuery);
            QVERIFY(paramQuery()->exec(QStringLiteral("select count(*) from cammer7")));
        }
        QCOMPARE(paramQuery(), nullptr); // gone with the window
    }

    void noCameraFoundMeansNoViews()
    {
        TestWorkDir dir;
        gCameraCount = 5;
        DeVeWizard window;
        QCOMPARE(gCameraCount, 0);
        for (CammerWidget *view : window.cammerWidgets)
            QCOMPARE(view, nullptr);
    }

    void camerasThatDoNotOpenAreDropped()
    {
        TestWorkDir dir;
        gCameraInfoList = {{0, QStringLiteral("mindCamera_IID"), QStringLiteral("A1")},
                           {1, QStringLiteral("mindCamera_IID"), QStringLiteral("A2")}};
        DeVeWizard window;
        QCOMPARE(gCameraCount, 0);
        for (CammerWidget *view : window.cammerWidgets)
            QCOMPARE(view, nullptr);
        // Building the dropped views loaded their tables: the slot rows of positions 0 exist now.
        QVERIFY(window.paramQuery->exec(
            QStringLiteral("select count(*) from cammer0 where name like 'detect%'")));
        QVERIFY(window.paramQuery->next());
        QCOMPARE(window.paramQuery->value(0).toInt(), 8);
    }

private:
    QuietRunner runner;
};

QTEST_MAIN(TestMainWindowCameras)
#include "tst_mainwindowcameras.moc"

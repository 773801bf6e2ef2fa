// The main window runs the result-image saver for its whole life and joins it when it goes, and starts
// without a temperature alarm.

#include "boxtestpolicy.h"
#include "detectpass.h"
#include "devewizard.h"
#include "savefailimagethread.h"
#include "startup.h"
#include "testworkdir.h"
#include "uitexttable.h"

#include <QtTest>

class TstResultImageSaver : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        fillUiTextTable();
        BoxTestPolicy::enable(1);
        if (!gFailImageMutex)
            createProcessMutexes();
    }

    void saverRunsWithoutParentUntilTheWindowGoes()
    {
        TestWorkDir dir;
        QPointer<SaveFialImageThread> saver;
        {
            DeVeWizard window;
            QVERIFY(gSaveFailImageThread);
            saver = gSaveFailImageThread;
            QVERIFY(saver->isRunning());
            QCOMPARE(saver->parent(), nullptr);
        }
        QCOMPARE(gSaveFailImageThread, nullptr);
        QVERIFY(saver.isNull());
    }

    // The machine cycle reads the temperature alarm from its first pass on: it starts cleared.
    void windowStartsWithoutTemperatureAlarm()
    {
        TestWorkDir dir;
        gTemperatureAlarm = true;
        DeVeWizard window;
        QVERIFY(!gTemperatureAlarm);
    }
};

QTEST_MAIN(TstResultImageSaver)
#include "tst_resultimagesaver.moc"

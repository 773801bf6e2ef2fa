// What the main window's constructor does with the databases of the working directory, what a start
// leaves behind, and the login and screen timers.

#include "boxtestpolicy.h"
#include "cameraregistry.h"
#include "cammerwidget.h"
#include "passwordbox.h"
#include "commandrunner.h"
#include "databaserestore.h"
#include "devewizard.h"
#include "imagesize.h"
#include "mainwindowglobals.h"
#include "simulatecamera.h"
#include "startup.h"
#include "sysparam.h"
#include "systemhelpers.h"
#include "testfiles.h"
#include "testworkdir.h"
#include "uitexttable.h"
#include "pagehooks.h"
#include "savefailimagethread.h"
#include "widgetchangecamera.h"
#include "wizardparawidget.h"

#include <QAbstractButton>
#include <QImage>
#include <QSqlQuery>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace {

// Records every command; "cp -f <from> <to>" is carried out (into a folder when <to> ends with "/"),
// so that the restored file can be checked; everything else is only recorded.
class RecordingRunner : public CommandRunner
{
public:
    QStringList calls;
    CommandResult run(const QString &program, const QStringList &arguments, int) override
    {
        calls << (QStringList{program} + arguments).join(QLatin1Char(' '));
        if (program == QLatin1String("cp") && arguments.size() == 3) {
            QString to = arguments.at(2);
            if (to.endsWith(QLatin1Char('/')))
                to += QFileInfo(arguments.at(1)).fileName();
            QFile::remove(to);
            QFile::copy(arguments.at(1), to);
        }
        CommandResult result;
        result.started = true;
        result.exitCode = 0;
        return result;
    }
};

// An industrial back-end with two cameras that open, both served from the folder "simcam/1".
class TwoCameras : public SimulateCamera
{
public:
    TwoCameras() : SimulateCamera({0, QStringLiteral("simulateCamera_IID"), QStringLiteral("simcam/1")}) {}
    QString getIID() const override { return QStringLiteral("mindCamera_IID"); }
    QList<CameraDeviceInfo> enumerate() override
    {
        return {{0, getIID(), QStringLiteral("CAM-00001")}, {1, getIID(), QStringLiteral("CAM-00002")}};
    }
    CameraInterface *create(const CameraDeviceInfo &) override { return new TwoCameras; }
};

enum Setup { Shipped, NoParam, NoParamNoDefault, DamagedParam, ParamWithoutTable, NoSn, NoSnNoDefault, NoRecord };

} // namespace

class TestDeVeWizard : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        fillUiTextTable();
        BoxTestPolicy::enable(1);
    }
    void init()
    {
        SimulateCamera::setManualStepping(true);
        BoxTestPolicy::clearShown();
        setCommandRunner(&runner);
        runner.calls.clear();
    }
    void cleanup()
    {
        SimulateCamera::setManualStepping(false);
        clearCameraBackends();
        setCommandRunner(nullptr);
    }

    void databasesAtStart_data()
    {
        QTest::addColumn<int>("setup");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("commands"); // expected in a row, "|" between them
        QTest::addColumn<int>("messageRow");
        QTest::addColumn<bool>("goodAfter"); // the file is a database with its table afterwards
        const QString param = QStringLiteral("cp -f ./paraGroup/default/PARAM.db ./|sync|reboot");
        QTest::newRow("shipped") << int(Shipped) << "PARAM.db" << "" << -1 << true;
        QTest::newRow("no PARAM.db") << int(NoParam) << "PARAM.db" << param << 160 << true;
        QTest::newRow("no PARAM.db, no default") << int(NoParamNoDefault) << "PARAM.db"
                                                 << "cp -f ./paraGroup/default/PARAM.db ./|sync" << 160 << false;
        QTest::newRow("PARAM.db not a database") << int(DamagedParam) << "PARAM.db" << param << 160 << true;
        QTest::newRow("PARAM.db without its table") << int(ParamWithoutTable) << "PARAM.db" << param << 160 << true;
        QTest::newRow("no SN.db") << int(NoSn) << "SN.db" << "cp -f ./paraGroup/default/SN.db ./|sync|reboot"
                                  << 160 << true;
        QTest::newRow("no SN.db, no default") << int(NoSnNoDefault) << "SN.db"
                                              << "cp -f ./paraGroup/default/SN.db ./|sync" << 160 << false;
        QTest::newRow("no RECORD.db") << int(NoRecord) << "RECORD.db" << "cp -f RECORDNULL.db RECORD.db|sync|reboot"
                                      << 135 << true;
    }

    // A bad database is restored and the box restarts only when the restored file is good; a damaged
    // one is kept aside; nothing ever creates an empty database in its place.
    void databasesAtStart()
    {
        QFETCH(int, setup);
        QFETCH(QString, file);
        QFETCH(QString, commands);
        QFETCH(int, messageRow);
        QFETCH(bool, goodAfter);
        TestWorkDir dir;
        const QByteArray garbage("this is no database, it was cut by a power loss\n");
        switch (setup) {
        case NoParamNoDefault:
            QVERIFY(QFile::remove(QStringLiteral("paraGroup/default/PARAM.db")));
            Q_FALLTHROUGH();
        case NoParam:
            QVERIFY(QFile::remove(QStringLiteral("PARAM.db")));
            break;
        case DamagedParam:
            QVERIFY(writeTestFile(QStringLiteral("PARAM.db"), garbage));
            break;
        case ParamWithoutTable:
            QVERIFY(execOnDatabase(QStringLiteral("PARAM.db"), QStringLiteral("drop table sysparam")));
            break;
        case NoSnNoDefault:
            QVERIFY(QFile::remove(QStringLiteral("paraGroup/default/SN.db")));
            Q_FALLTHROUGH();
        case NoSn:
            QVERIFY(QFile::remove(QStringLiteral("SN.db")));
            break;
        case NoRecord:
            QVERIFY(QFile::remove(QStringLiteral("RECORD.db")));
            break;
        }
        const QByteArray before = readAll(file);
        // Built and destroyed twice in one process: the second start sees what the first left.
        for (int pass = 0; pass < 2; ++pass) {
            DeVeWizard window;
            if (pass == 0 && !commands.isEmpty()) {
                const QStringList expected = commands.split(QLatin1Char('|'));
                const int at = runner.calls.indexOf(expected.first());
                QVERIFY2(at >= 0, qPrintable(runner.calls.join(QLatin1Char('\n'))));
                QCOMPARE(runner.calls.mid(at, expected.size()), expected);
            }
            const QSqlDatabase &db = file == QLatin1String("PARAM.db") ? window.paramDb
                                     : file == QLatin1String("SN.db")  ? window.snDb
                                                                       : window.recordDb;
            QCOMPARE(db.isOpen(), goodAfter);
        }
        QCOMPARE(runner.calls.contains(QStringLiteral("reboot")), !commands.isEmpty() && goodAfter);
        if (messageRow >= 0)
            QVERIFY(BoxTestPolicy::shownTexts().contains(uiText(messageRow, 1)) ||
                    BoxTestPolicy::shownTexts().contains(uiText(messageRow, 0)));
        else
            QVERIFY(BoxTestPolicy::shownTexts().filter(uiText(160, 1)).isEmpty());
        QCOMPARE(inspectDatabase(file, file == QLatin1String("RECORD.db") ? "RECORD" : "sysparam") ==
                     DatabaseState::Good,
                 goodAfter);
        if (!goodAfter)
            QVERIFY2(!QFile::exists(file), "an empty database was made in place of the missing one");
        const QStringList kept = QDir().entryList({file + QStringLiteral(".damaged-*")}, QDir::Files);
        QCOMPARE(kept.size(), setup == DamagedParam || setup == ParamWithoutTable ? 1 : 0);
        if (!kept.isEmpty())
            QCOMPARE(readAll(kept.first()), before);
    }

    void pendingUpdateRunsOnceAndIsRemoved()
    {
        TestWorkDir dir;
        QFile update(QStringLiteral("update.sh"));
        QVERIFY(update.open(QIODevice::WriteOnly));
        update.close();
        DeVeWizard window;
        const int at = runner.calls.indexOf(QStringLiteral("./update.sh"));
        QVERIFY(at >= 0);
        QCOMPARE(runner.calls.value(at + 1), QStringLiteral("sync"));
        QCOMPARE(runner.calls.value(at + 2), QStringLiteral("rm -f update.sh"));
    }

    // No real camera: the simulated one stands in, fills the screen with sizes taken from its picture,
    // and the operator's yes clears the saved serials (recorded) before the start line. Then the
    // level, logout, backlight and heartbeat timers of the running window.
    void simulatedStartRecordAndTimers()
    {
        TestWorkDir dir;
        QVERIFY(execOnDatabase(QStringLiteral("PARAM.db"), QStringLiteral("update sysparam set value='1' "
                                                                          "where name='isPswUsed'")));
        QVERIFY(QDir().mkpath(QStringLiteral("simcam/1")));
        QVERIFY(QImage(64, 48, QImage::Format_RGB32).save(QStringLiteral("simcam/1/a.png")));
        DeVeWizard window;
        QCOMPARE(BoxTestPolicy::shownTexts().filter(uiText(134)).size(), 1);
        QCOMPARE(window.cammerWidgets[0]->geometry(), QRect(0, 0, gShowW, gShowH));
        QCOMPARE(window.zoomButtonMode, 1);
        // The camera page's reordering button opens the camera-position window the menu bar asks about.
        window.paraWidget->SlotTuneCamera();
        QVERIFY(window.changeCameraWidget->isVisibleTo(&window) && window.paraWidget->isHidden());
        window.changeCameraWidget->hide();
        QVERIFY(!mainPageHooks().changeCameraVisible());
        QCOMPARE(gImagePixelCount, 64 * 48);
        QCOMPARE(window.cellScaleX, float(gShowW) / 64.0f);
        QCOMPARE(window.cellScaleY, gViewScaleY);
        QVERIFY(QFileInfo(QStringLiteral("alarmimage/camera1/detect8/OK")).isDir());
        QSqlQuery rows(window.recordDb);
        QVERIFY(rows.exec(QStringLiteral("select recordtime, recordpassword, remarks from RECORD")));
        for (int n = 0; n < 8; ++n) {
            QVERIFY(rows.next());
            QCOMPARE(rows.value(2).toString(), QStringLiteral("Save SN %1: 0").arg(n));
        }
        QVERIFY(rows.next());
        QVERIFY(QRegularExpression(QStringLiteral("^\\d\\d\\.\\d\\d\\.\\d\\d$")).match(rows.value(0).toString()).hasMatch());
        QCOMPARE(rows.value(1).toString(), uiText(156));
        QCOMPARE(rows.value(2).toString(), uiText(150).arg(1));
        QVERIFY(!rows.next());
        QVERIFY(!runner.calls.contains(QStringLiteral("reboot")));
        QVERIFY(QFileInfo(QStringLiteral("RECORD")).isDir() && QFileInfo(QStringLiteral("ResStatistics")).isDir());
        QCOMPARE(readAll(QStringLiteral("time.txt")), QDate::currentDate().toString(Qt::ISODate).toLatin1());
        QCOMPARE(window.dateTimer->interval(), 60000);
        QVERIFY(window.dateTimer->isActive() && window.fpsTimer->isActive());
        QVERIFY(gSysParam->screenOffTime > 0);
        QVERIFY(window.lcdTimer->isActive());
        QCOMPARE(window.lcdTimer->interval(), gSysParam->screenOffTime * 1000);

        // Passwords in use: nobody logged in is level 0 (the login box gets no password); the box
        // typed with the advanced password logs in at 2; not in use: 2, but the advanced functions
        // still ask.
        QCOMPARE(window.userLevel(), 0);
        BoxTestPolicy::setTypedPassword(advancedPassword());
        QCOMPARE(window.userLevel(), 2);
        BoxTestPolicy::setTypedPassword(QString());
        QVERIFY(window.isAdvancedUser());
        gSysParam->isPswUsed = 0;
        window.loginLevel = 1;
        QCOMPARE(window.userLevel(), 2);
        QVERIFY(!window.isAdvancedUser());
        window.loginLevel = 2;
        window.logoutTimer->start(100000);
        window.TimerLogout();
        QCOMPARE(window.loginLevel, 0);
        QVERIFY(!window.logoutTimer->isActive());
        window.lcdTimer->start(100000);
        window.TimerLCD();
        QCOMPARE(window.screenOff, 1);
        QVERIFY(!window.lcdTimer->isActive());

        // Heartbeat: lamp 5 alternates while running and stays in one state while stopped.
        window.runState = 1;
        window.SlotFPS();
        const bool first = gLedMask & 0x20;
        window.SlotFPS();
        QCOMPARE(bool(gLedMask & 0x20), !first);
        window.runState = 3;
        window.SlotFPS();
        window.SlotFPS();
        QVERIFY(gLedMask & 0x20);
    }

    // The saver counts a result after the cycle has written "count.txt": the file follows within about
    // a second, and at quit; unchanged counters are not written at all.
    void resultCountersReachTheFileAfterTheSaverAndAtQuit()
    {
        TestWorkDir dir;
        QVERIFY(QDir().mkpath(QStringLiteral("simcam/1")));
        QVERIFY(QImage(64, 48, QImage::Format_RGB32).save(QStringLiteral("simcam/1/a.png")));
        QVERIFY(writeTestFile(QStringLiteral("count.txt"), "5 1 7 2"));
        auto window = std::make_unique<DeVeWizard>();
        QCOMPARE(gCameraTotalCount[0].load(), 5);
        QCOMPARE(gCameraNgCount[1].load(), 2);
        QTest::qWait(1300);
        QCOMPARE(readAll(QStringLiteral("count.txt")), QByteArray("5 1 7 2"));

        gCameraTotalCount[0] += 2;
        gCameraNgCount[0] += 1;
        QTRY_COMPARE_WITH_TIMEOUT(readAll(QStringLiteral("count.txt")),
                                  QByteArray("7 2 7 2 0 0 0 0 0 0 0 0 0 0 0 0 "), 2500);
        gCameraTotalCount[1] += 1;
        window.reset();
        QCOMPARE(readAll(QStringLiteral("count.txt")), QByteArray("7 2 8 2 0 0 0 0 0 0 0 0 0 0 0 0 "));
    }

    // Three serials saved, two cameras found: the yes clears the serials, closes the databases and
    // restarts; the two views share the screen with the ratios of their half.
    void changedCameraCountAsksAndRestarts()
    {
        TestWorkDir dir;
        for (int n = 0; n < 3; ++n)
            QVERIFY(execOnDatabase(QStringLiteral("SN.db"),
                                   QStringLiteral("update sysparam set value='CAM-0000%1' where name='serialNB%1'").arg(n)));
        QVERIFY(QDir().mkpath(QStringLiteral("simcam/1")));
        QVERIFY(QImage(64, 48, QImage::Format_RGB32).save(QStringLiteral("simcam/1/a.png")));
        setCameraBackendFactory(kCameraBackendMind, [] { return new TwoCameras; });
        {
            DeVeWizard window;
            QCOMPARE(gCameraCount, 2);
            QCOMPARE(BoxTestPolicy::shownTexts().filter(uiText(360)).size(), 1);
            QCOMPARE(runner.calls.filter(QStringLiteral("reboot")).size(), 1);
            QVERIFY(!window.snDb.isOpen() && !window.paramDb.isOpen());
            QCOMPARE(window.cammerWidgets[1]->geometry(), QRect(gShowW / 2, 0, gShowW / 2, gShowH));
            QCOMPARE(window.cellScaleX, float(gShowW / 2) / 64.0f);
            QCOMPARE(window.cammerWidgets[1]->imageRatioY, float(gShowH) / 48.0f);
            QVERIFY(window.enlargeButton->isHidden());
        }
        setCameraBackendFactory(kCameraBackendMind, {});
        QCOMPARE(inspectDatabase(QStringLiteral("SN.db"), QStringLiteral("sysparam")), DatabaseState::Good);
        QVERIFY(!readAll(QStringLiteral("SN.db")).contains("CAM-0000"));
    }

private:
    static QByteArray readAll(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    RecordingRunner runner;
};

QTEST_MAIN(TestDeVeWizard)
#include "tst_devewizard.moc"

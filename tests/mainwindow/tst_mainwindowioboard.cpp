// The main window and the I/O board together, as the run command starts them: the window opens the
// board on the port stored in the parameters, the board gets the idle outputs, and the status strip
// shows the inputs the board reports.

#include "boardsimulator.h"
#include "boxtestpolicy.h"
#include "commandrunner.h"
#include "controlport.h"
#include "devewizard.h"
#include "iolink.h"
#include "iothread.h"
#include "mutexlocker.h"
#include "iostatuswidget.h"
#include "posix_qextserialport.h"
#include "startup.h"
#include "sysparam.h"
#include "testfiles.h"
#include "testworkdir.h"
#include "uitexttable.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

namespace {
const QColor kLit(0, 220, 0);
const QColor kDark(30, 30, 30);

class NullRunner : public CommandRunner
{
public:
    CommandResult run(const QString &, const QStringList &, int) override { return {}; }
};

// The remarks of an operation record file, oldest first.
QStringList recordLines(const QString &file)
{
    return recordRemarks(file);
}

QColor lampColour(IOStatusWidget *strip, int point)
{
    return strip->grab().toImage().pixelColor(strip->lampRect(point).center());
}
} // namespace

class TestMainWindowIoBoard : public QObject
{
    Q_OBJECT
    NullRunner runner;
    QPixmap lit{16, 16};
    QPixmap dark{16, 16};

private slots:
    void initTestCase()
    {
        BoxTestPolicy::enable(1);
        fillUiTextTable();
        if (!gIoMutex)
            createProcessMutexes();
        lit.fill(kLit);
        dark.fill(kDark);
        gPixOut1 = &lit;
        gPixOut0 = &dark;
    }
    void init()
    {
        setCommandRunner(&runner);
        // Every window of this test makes its own link, and sees no input a board of an earlier case
        // left behind (the window's poll reads the word every 100 ms).
        delete gControlPort;
        gControlPort = nullptr;
        MutexLocker lock(gIoMutex);
        gIoInputWord = 0;
    }
    void cleanup()
    {
        delete gControlPort;
        gControlPort = nullptr;
        delete gIoSerialPort;
        gIoSerialPort = nullptr;
        setIoPortPattern(QString());
        setCommandRunner(nullptr);
    }

    void stripShowsTheBoardsInputs()
    {
        TestWorkDir dir;
        QVERIFY(dir.isValid());
        // Port 3; outputs 0 and 2 idle closed.
        QVERIFY(execOnDatabase(
            dir.filePath("PARAM.db"),
            "update sysparam set value='3 0 0 0 1 0 1 0 0 0 0 0 0 0 0 0 0 0 0 0' where name='system7'"));
        setIoPortPattern(dir.filePath(QStringLiteral("dev/ttyS%1")));
        BoardSimulator board;
        QVERIFY(board.open(dir.filePath(QStringLiteral("dev/ttyS3"))));

        DeVeWizard window;
        QVERIFY(gControlPort);
        QCOMPARE(gIoPortNumber, 3);
        QVERIFY(gIoSerialPort && gIoSerialPort->isOpen());
        QVERIFY(window.ioStatusWidget);
        QCOMPARE(window.ioStatusWidget->parentWidget(), &window);
        QCOMPARE(window.ioStatusWidget->geometry().bottom(), window.height() - 1);
        QCOMPARE(window.ioStatusWidget->width(), window.width());

        gControlPort->startIOThread();
        // Output 2 idle closed from the row above; outputs 4-7 (NG pulses) idle closed on a standard
        // machine whose product NG does not pulse the ejector. Output 0 (idle closed) is at its idle
        // level: detection started with the window, and the clamp may close until a cycle starts.
        QTRY_COMPARE(board.outputs(), quint16(0x0F5));
        QCOMPARE(gControlPort->pendingOutputs, 0x0F5u);
        QCOMPARE(lampColour(window.ioStatusWidget, 4), kLit);
        QCOMPARE(lampColour(window.ioStatusWidget, 6), kLit);

        QCOMPARE(lampColour(window.ioStatusWidget, 0), kDark);
        board.setInputs(0x001); // mould open
        QTRY_COMPARE(lampColour(window.ioStatusWidget, 0), kLit);
        board.setInputs(0x004);
        QTRY_COMPARE(lampColour(window.ioStatusWidget, 2), kLit);
        QCOMPARE(lampColour(window.ioStatusWidget, 0), kDark);
        gControlPort->stopIOThread();
    }

    // The word the board holds once the window has started detection, with the shipped outputs (output
    // 0 driven as it is, output 2 and the NG outputs inverted): the clamp may close, unless the box
    // cuts the clamp after every good mould with a pulse of at least 0.1 s, which starts it cut.
    void startWordWithCutClamp_data()
    {
        QTest::addColumn<int>("cutClampAfterMoldOk");
        QTest::addColumn<int>("clampPulse"); // tenths of a second
        QTest::addColumn<int>("word");
        QTest::newRow("not cut, pulse 0.5 s") << 0 << 5 << 0x0F4;
        QTest::newRow("cut, no pulse") << 1 << 0 << 0x0F4;
        QTest::newRow("cut, pulse 0.1 s") << 1 << 1 << 0x0F5;
        QTest::newRow("cut, pulse 2 s") << 1 << 20 << 0x0F5;
    }
    void startWordWithCutClamp()
    {
        QFETCH(int, cutClampAfterMoldOk);
        QFETCH(int, clampPulse);
        QFETCH(int, word);
        TestWorkDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(
            execOnDatabase(dir.filePath("PARAM.db"),
                           QStringLiteral("update sysparam set value='0 10 3 100 5 %1 0 %2 0 0 0 0 0 0 8000 "
                                          "600 12 60' where name='system2'")
                               .arg(clampPulse)
                               .arg(cutClampAfterMoldOk)));
        setIoPortPattern(dir.filePath(QStringLiteral("dev/ttyS%1")));
        BoardSimulator board;
        QVERIFY(board.open(dir.filePath(QStringLiteral("dev/ttyS0"))));
        DeVeWizard window;
        QCOMPARE(gSysParam->clampPulse, clampPulse);
        QTRY_COMPARE(board.outputs(), quint16(word));
        // Still so a while later: nothing after the start changes it while no mould opens.
        QTest::qWait(500);
        QCOMPARE(board.outputs(), quint16(word));
        gControlPort->stopIOThread();
    }

    // No board on the stored port: the window still comes up, its poll running; once nothing has
    // answered for 1 s the lamps are greyed (neither lit nor dark) and the record says so.
    void windowStartsWithoutABoard()
    {
        TestWorkDir dir;
        setIoPortPattern(dir.filePath(QStringLiteral("dev/ttyS%1")));
        DeVeWizard window;
        QVERIFY(gControlPort);
        QVERIFY(gIoSerialPort && !gIoSerialPort->isOpen());
        QVERIFY(gControlPort->ioThread && gControlPort->ioThread->isRunning());
        QTRY_VERIFY_WITH_TIMEOUT(gIoBoardSilent.load(), 3000);
        for (int point = 0; point < 8; ++point) {
            const QColor c = lampColour(window.ioStatusWidget, point);
            QVERIFY2(c.red() == c.green() && c.green() == c.blue() && c != kDark, qPrintable(c.name()));
        }
        QTRY_VERIFY2(recordLines(QStringLiteral("RECORD.db")).contains(uiText(750)),
                     qPrintable(recordLines(QStringLiteral("RECORD.db")).join(" | ")));
        gControlPort->stopIOThread();
    }
};

QTEST_MAIN(TestMainWindowIoBoard)
#include "tst_mainwindowioboard.moc"

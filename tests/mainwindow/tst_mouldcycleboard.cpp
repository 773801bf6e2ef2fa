// Whole moulding cycles of the main window as it starts, against the board simulator on a
// pseudo-terminal and the simulated camera of the laid-out working directory: the mould-open edge
// blocks the clamp, the detections run after their stored delays, and the good mould releases it, as
// the board sees it.

#include "boardsimulator.h"
#include "boxtestpolicy.h"
#include "commandrunner.h"
#include "controlport.h"
#include "devewizard.h"
#include "iolink.h"
#include "mutexlocker.h"
#include "posix_qextserialport.h"
#include "savefailimagethread.h"
#include "startup.h"
#include "sysparam.h"
#include "testfiles.h"
#include "testworkdir.h"

#include <QtTest>

namespace {
class NullRunner : public CommandRunner
{
public:
    CommandResult run(const QString &, const QStringList &, int) override { return {}; }
};
} // namespace

class TestMouldCycleBoard : public QObject
{
    Q_OBJECT
    NullRunner runner;

private slots:
    void initTestCase()
    {
        BoxTestPolicy::enable(1);
        if (!gIoMutex)
            createProcessMutexes();
        setCommandRunner(&runner);
    }
    void cleanupTestCase()
    {
        delete gControlPort;
        gControlPort = nullptr;
        delete gIoSerialPort;
        gIoSerialPort = nullptr;
        setIoPortPattern(QString());
        setCommandRunner(nullptr);
    }

    // Two good cycles: each mould-open edge blocks the clamp (output 0, idle closed on this board, so
    // bit 0 low) for the stored mould delay (0.5 s; the shipped parameters do not inspect the
    // product), then the OK mould releases it; no alarm.
    void goodCyclesReleaseTheClamp()
    {
        TestWorkDir dir;
        QVERIFY(execOnDatabase(
            dir.filePath("PARAM.db"),
            "update sysparam set value='3 0 0 0 1 0 1 0 0 0 0 0 0 0 0 0 0 0 0 0' where name='system7'"));
        QVERIFY(execOnDatabase(dir.filePath("PARAM.db"),
                               "update sysparam set value='5 5 5 5 5 5 5 5' where name='trigInDelay'"));
        setIoPortPattern(dir.filePath(QStringLiteral("dev/ttyS%1")));
        BoardSimulator board;
        QVERIFY(board.open(dir.filePath(QStringLiteral("dev/ttyS3"))));
        DeVeWizard window;
        gControlPort->startIOThread();
        QTRY_VERIFY(board.outputs() & 0x1); // detection started: the clamp may close
        QCOMPARE(window.runState, 1);
        gOkImageLimit = 5; // the good mould's picture is handed to the saver

        for (int cycle = 0; cycle < 2; ++cycle) {
            board.clearCommands();
            board.setInputs(0x001); // mould open
            QTest::qWait(300);
            board.setInputs(0x000);
            QTRY_VERIFY_WITH_TIMEOUT(window.detectStatus == 2 || window.detectStatus == 3, 4000);
            QTRY_VERIFY_WITH_TIMEOUT(board.outputs() & 0x1, 4000);
            // The output words the host sent: blocked first, released at least the delay later.
            std::chrono::steady_clock::time_point blockedAt{}, releasedAt{};
            for (const BoardSimulator::Command &c : board.commands()) {
                if (c.command != 1)
                    continue;
                if (!(c.value & 0x1) && blockedAt.time_since_epoch().count() == 0)
                    blockedAt = c.at;
                else if ((c.value & 0x1) && blockedAt.time_since_epoch().count() != 0)
                    releasedAt = c.at;
            }
            QVERIFY2(blockedAt.time_since_epoch().count() != 0, "the clamp was never blocked");
            QVERIFY2(releasedAt > blockedAt, "the clamp was not released after the detection");
            const auto heldMs =
                std::chrono::duration_cast<std::chrono::milliseconds>(releasedAt - blockedAt).count();
            QVERIFY2(heldMs >= 450, qPrintable(QString::number(heldMs)));
            QVERIFY(window.alarmState != 2);
            QCOMPARE(window.runState, 1);
            QVERIFY(board.outputs() & 0x4); // alarm output (idle closed) off
            // The camera view drew the verdict on the frame the cycle grabbed and handed it over.
            MutexLocker lock(gFailImageMutex);
            const QSize size = gFailImageSize[0];
            QVERIFY(!size.isEmpty());
            QCOMPARE(gFailImageBuffers[0][window.currentSlot][1].size(), size.width() * size.height() * 4);
        }
        gControlPort->stopIOThread();
    }
};

QTEST_MAIN(TestMouldCycleBoard)
#include "tst_mouldcycleboard.moc"

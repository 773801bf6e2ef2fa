// Whole moulding cycles of the main window as it starts, against the board simulator on a
// pseudo-terminal and the simulated camera of the laid-out working directory: the mould-open edge
// blocks the clamp, the detections run after their stored delays, and the good mould releases it, as
// the board sees it.

#include "boardsimulator.h"
#include "boardword.h"
#include "boxtestpolicy.h"
#include "cammerwidget.h"
#include "clock.h"
#include "commandrunner.h"
#include "controlport.h"
#include "devewizard.h"
#include "drawroiwidget.h"
#include "editorhooks.h"
#include "indexbutton.h"
#include "iolink.h"
#include "iostatuswidget.h"
#include "mutexlocker.h"
#include "passwordbox.h"
#include "posix_qextserialport.h"
#include "savefailimagethread.h"
#include "simulatecamera.h"
#include "startup.h"
#include "sysparam.h"
#include "testfiles.h"
#include "testworkdir.h"
#include "uitexttable.h"
#include "warnbox.h"

#include <QElapsedTimer>
#include <QImage>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

#include <algorithm>

namespace {
class NullRunner : public CommandRunner
{
public:
    CommandResult run(const QString &, const QStringList &, int) override { return {}; }
};

// Board port 3; outputs 0 (clamp) and 2 (alarm) idle closed, so their bits are low when they are on.
// The board on the box's I/O port (port 3 of the working directory's "dev"), with the parameters set
// for it plus one statement of the case's own (or none); the window made next links to it.
bool prepareBoard(const TestWorkDir &dir, BoardSimulator &board, const char *caseSql = nullptr)
{
    if (!execOnDatabase(
            dir.filePath("PARAM.db"),
            "update sysparam set value='3 0 0 0 1 0 1 0 0 0 0 0 0 0 0 0 0 0 0 0' where name='system7'"))
        return false;
    if (caseSql && !execOnDatabase(dir.filePath("PARAM.db"), caseSql))
        return false;
    setIoPortPattern(dir.filePath(QStringLiteral("dev/ttyS%1")));
    return board.open(dir.filePath(QStringLiteral("dev/ttyS3")));
}

// The output words the board received since its last clear, each change once.
QVector<quint16> wordChanges(const BoardSimulator &board)
{
    QVector<quint16> words;
    for (const BoardSimulator::Command &c : board.commands()) {
        if (c.command == 1 && (words.isEmpty() || words.last() != c.value))
            words.append(c.value);
    }
    return words;
}

QByteArray hex(const QVector<quint16> &words)
{
    QByteArray out;
    for (quint16 w : words)
        out += ' ' + QByteArray::number(w, 16);
    return out;
}

QStringList recordRemarks(const TestWorkDir &dir)
{
    return ::recordRemarks(dir.filePath(QStringLiteral("RECORD.db")));
}
} // namespace

class TestMouldCycleBoard : public QObject
{
    Q_OBJECT
    NullRunner runner;

private slots:
    void initTestCase()
    {
        fillUiTextTable();
        BoxTestPolicy::enable(1);
        if (!gIoMutex)
            createProcessMutexes();
        setCommandRunner(&runner);
    }
    // Each case's window links to its own board: the next one makes the link anew.
    void cleanup()
    {
        if (gControlPort)
            gControlPort->stopIOThread();
        delete gControlPort;
        gControlPort = nullptr;
        delete gIoSerialPort;
        gIoSerialPort = nullptr;
    }
    void cleanupTestCase()
    {
        setIoPortPattern(QString());
        setCommandRunner(nullptr);
    }

    // Two good cycles: each mould-open edge blocks the clamp (output 0, idle closed on this board, so
    // bit 0 low) for the stored mould delay (0.5 s; the shipped parameters do not inspect the
    // product), then the OK mould releases it; no alarm.
    void goodCyclesReleaseTheClamp()
    {
        TestWorkDir dir;
        BoardSimulator board;
        QVERIFY(prepareBoard(dir, board,
                             "update sysparam set value='5 5 5 5 5 5 5 5' where name='trigInDelay'"));
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

    // A detection judges the camera only on a picture received at least one frame period after the
    // board reported the opening (or the door's signal) and younger than 500 ms at 12 frames a second.
    // Without one the clamp stays blocked (no
    // clamp-allowed word reaches the board), the camera warning is on screen and the record gets one
    // line in its text; once pictures come again, the next opening or the manual trigger judges and
    // releases. A camera that delivers but has had no picture grabbed since the opening yet is waited
    // for, after the safety door's signal as after the opening. The camera is stepped by hand and the
    // box's monotonic clock is the test's (real time, with a jump where a picture must turn stale).
    void onlyFreshPicturesAreJudged_data()
    {
        QTest::addColumn<int>("delay"); // mould delay, tenths of a second
        // Pictures stop: 0 never, 1 before the opening, 2 in the countdown; 3 they pause just before
        // the opening and the next one comes only after the pass that read it.
        QTest::addColumn<int>("stop");
        QTest::addColumn<bool>("manual"); // way out: the manual trigger of the mould instead of an opening
        // The safety door's signal (input 1, "Safety door trigger detection") starts the mould
        // detection instead of the opening, with a pre-cut of 0.1 s: the clamp is cut as the detection
        // starts, so the board shows when it starts and when it ends.
        QTest::addColumn<bool>("door");
        QTest::newRow("pictures keep coming: released (control)") << 5 << 0 << false << false;
        QTest::newRow("no delay, next picture just after the opening: waited for, released")
            << 0 << 3 << false << false;
        QTest::newRow("safety door, next picture just after its signal: waited for, released")
            << 0 << 3 << false << true;
        QTest::newRow("no picture since the opening, no delay: held, released by the next opening")
            << 0 << 1 << false << false;
        QTest::newRow("no picture since the opening, no delay: held, released by the manual trigger")
            << 0 << 1 << true << false;
        // A countdown of 2 s, so that the test stops the pictures within it on a loaded machine too.
        QTest::newRow("last picture too old at the end of the countdown: held, then released")
            << 20 << 2 << false << false;
    }
    void onlyFreshPicturesAreJudged()
    {
        QFETCH(int, delay);
        QFETCH(int, stop);
        QFETCH(bool, manual);
        QFETCH(bool, door);
        // Outputs 0 (clamp) and 2 (alarm) idle closed on this board, and outputs 4 to 7 idle closed on
        // the standard machine without NG pulses: 0xF5 with the clamp allowed, 0xF4 with it blocked.
        const quint16 allowed = 0x00F5, blocked = 0x00F4;
        TestWorkDir dir;
        BoardSimulator board;
        const QByteArray delays = QByteArray::number(delay);
        QVERIFY(prepareBoard(dir, board,
                             QByteArray("update sysparam set value='" + delays + ' ' + delays + ' ' +
                                        delays + ' ' + delays + " 0 0 0 0' where name='trigInDelay'")
                                 .constData()));
        // The box's clock is the test's. While the test feeds pictures it moves 50 ms with each picture
        // and stands still between them, so a feeder starved by a loaded machine is no camera that
        // stopped delivering; otherwise it runs with real time, plus the jumps the row makes.
        static std::atomic<qint64> skipped{0}; // the clock is skipped + real time ...
        static std::atomic<qint64> fed{-1};    // ... unless pictures are fed: then it is this
        static QElapsedTimer real;
        skipped = 1000000;
        fed = -1;
        real.start();
        setAppMonotonicClock([] {
            const qint64 f = fed.load();
            return f >= 0 ? f : skipped.load() + real.elapsed();
        });
        SimulateCamera::setManualStepping(true);
        struct Restore
        {
            ~Restore()
            {
                SimulateCamera::setManualStepping(false);
                setAppMonotonicClock(nullptr);
            }
        } restore;
        DeVeWizard window;
        CammerWidget *view = window.cammerWidgets[0];
        auto *camera = qobject_cast<SimulateCamera *>(view->camera.get());
        QVERIFY(camera);
        QTimer feeder; // a picture every 50 ms, twice per poll of the cycle
        connect(&feeder, &QTimer::timeout, camera, [camera] {
            fed += 50;
            camera->stepFrame();
        });
        const auto feed = [&feeder](bool on) {
            if (on) {
                if (fed < 0)
                    fed = skipped.load() + real.elapsed();
                feeder.start(50);
            } else {
                // The clock runs on with real time from where the pictures left it.
                feeder.stop();
                if (fed >= 0) {
                    skipped = fed - real.elapsed();
                    fed = -1;
                }
            }
        };
        feed(true);
        gControlPort->startIOThread();
        QTRY_COMPARE(board.outputs(), allowed); // detection started
        const int recordBefore = recordRemarks(dir).count(uiText(39));
        if (door) {
            gSysParam->safetyDoorTrigger = 1;
            gSysParam->preCutTime = 1;
        }
        const quint16 opening = door ? 0x002 : 0x001;

        if (stop == 1 || stop == 3)
            feeder.stop(); // a pause: no picture, and the clock stands still
        board.clearCommands();
        const qint64 openedAt = appMonotonicMs();
        board.setInputs(opening); // mould open, or the safety door's signal
        if (stop == 1) {
            // The detection waits for a picture of the open mould; from here on none comes, and the
            // clock runs.
            QTRY_VERIFY(window.machineCycle->upTimers[1]->isActive());
            feed(false);
        }
        if (stop == 3) {
            QTRY_VERIFY(wordChanges(board).contains(blocked)); // the opening (or the pre-cut) blocked it
            camera->stepFrame();
            feed(true);
        }
        if (stop == 2) {
            QTRY_VERIFY(window.machineCycle->upTimers[1]->isActive());
            // A picture of the open mould was grabbed during the countdown.
            QTRY_VERIFY(view->grabFrameMs >= openedAt + view->picturePeriodMs());
            feed(false);
            skipped += 500;
        }
        QTest::qWait(300);
        board.setInputs(0x000);
        if (stop == 0 || stop == 3) {
            QTRY_VERIFY2_WITH_TIMEOUT(wordChanges(board) == (QVector<quint16>{blocked, allowed}),
                                      hex(wordChanges(board)).constData(), 15000);
            QCOMPARE(recordRemarks(dir).count(uiText(39)), recordBefore);
            return;
        }
        // The detection is over without a verdict, and nothing else comes of it.
        QTRY_COMPARE_WITH_TIMEOUT(recordRemarks(dir).count(uiText(39)), recordBefore + 1,
                                  delay * 100 + 5000);
        QVERIFY(gWarnBox && gWarnBox->isVisible());
        QCOMPARE(gWarnBox->message(), uiText(39));
        QCOMPARE(hostWordNow(board), int(blocked));
        QVERIFY2(wordChanges(board) == QVector<quint16>{blocked}, hex(wordChanges(board)).constData());

        // The pictures come again: the camera is found, and the clamp stays blocked until a mould is
        // judged.
        board.clearCommands();
        feed(true);
        QTRY_VERIFY(view->connected);
        QCOMPARE(hostWordNow(board), int(blocked));
        if (manual) {
            window.machineCycle->SlotManualTrig(1);
        } else {
            board.setInputs(0x001);
            QTest::qWait(300);
            board.setInputs(0x000);
        }
        // What the cycle was doing, should the release not come.
        const auto cycleState = [&] {
            QStringList timers;
            for (int t = 0; t < 8; ++t) {
                if (window.machineCycle->upTimers[t] && window.machineCycle->upTimers[t]->isActive())
                    timers << QString::number(t);
            }
            return QStringLiteral("words%1; run %2, alarm %3, detect %4, timers [%5], camera %6, clock %7, "
                                  "last picture %8")
                .arg(QString::fromLatin1(hex(wordChanges(board))))
                .arg(window.runState)
                .arg(window.alarmState)
                .arg(window.detectStatus)
                .arg(timers.join(' '))
                .arg(view->connected ? "found" : "lost")
                .arg(appMonotonicMs())
                .arg(view->grabFrameMs)
                .toUtf8();
        };
        QTRY_VERIFY2_WITH_TIMEOUT(board.outputs() == allowed, cycleState().constData(), 15000);
        // Blocked all along (the board asked once for the word, which was the block), so the opening
        // changes nothing before the release.
        QVERIFY2(wordChanges(board) == (QVector<quint16>{blocked, allowed}),
                 hex(wordChanges(board)).constData());
        QCOMPARE(recordRemarks(dir).count(uiText(39)), recordBefore + 1);
        gControlPort->stopIOThread();
    }

    // Stopping from the menu bar. With the stop password on and the login off, the start/stop button's
    // own password prompt (made once) needs a right password before the question; a cancelled or
    // wrong password or a declined question keeps detection running, which the board shows as a free
    // clamp (stopping blocks it here). With the login on, the login box asks instead.
    void stoppingNeedsItsPassword()
    {
        TestWorkDir dir;
        BoardSimulator board;
        QVERIFY(
            prepareBoard(dir, board, "update sysparam set value='0 0 0 -1 1 0 0 0 0' where name='system1'"));
        DeVeWizard window;
        gControlPort->startIOThread();
        QTRY_VERIFY(board.outputs() & 0x1);

        struct Row
        {
            const char *name;
            int pswStopDetect;
            int isPswUsed;
            QList<int> answers;
            QString typed;
            bool passwordAsked;
            bool questionAsked;
            bool stops;
            int loginAfter; // the stop prompt logs nobody in; the login box does
        };
        const QString right = advancedPassword();
        const Row rows[] = {
            {"password cancelled", 1, 0, {0}, right, true, false, false, 0},
            {"wrong password", 1, 0, {1}, QStringLiteral("13"), true, false, false, 0},
            {"right password, question declined", 1, 0, {1, 0}, right, true, true, false, 0},
            {"right password, stop confirmed", 1, 0, {1, 1}, right, true, true, true, 0},
            {"no stop password", 0, 0, {1}, QString(), false, true, true, 0},
            {"login in use, login cancelled", 1, 1, {0}, right, true, false, false, 0},
            {"login in use, logged in", 1, 1, {1, 1}, right, true, true, true, 2},
        };
        PasswordDialog *prompt = nullptr;
        for (const Row &r : rows) {
            BoxTestPolicy::disable(); // drops what a row left queued
            BoxTestPolicy::enable(1);
            BoxTestPolicy::clearShown();
            BoxTestPolicy::queueAnswers(r.answers);
            BoxTestPolicy::setTypedPassword(r.typed);
            gSysParam->pswStopDetect = r.pswStopDetect;
            gSysParam->isPswUsed = r.isPswUsed;
            window.loginLevel = 0;
            window.machineCycle->SlotStartStop();

            const QStringList shown = BoxTestPolicy::shownTexts();
            QVERIFY2(shown.contains(uiText(125)) == r.passwordAsked, r.name);
            QVERIFY2(shown.contains(uiText(140)) == r.questionAsked, r.name);
            QVERIFY2((window.runState == 3) == r.stops, r.name);
            QVERIFY2(window.loginLevel == r.loginAfter, r.name);
            QTRY_VERIFY2(bool(board.outputs() & 0x1) != r.stops, r.name);
            if (!prompt)
                prompt = window.stopPasswordDialog;
            QVERIFY2(prompt && prompt == window.stopPasswordDialog, r.name); // made once, kept
            if (window.runState == 3) {
                window.machineCycle->SlotStartStop(); // starting needs nobody
                QCOMPARE(window.runState, 1);
                QCOMPARE(recordRemarks(dir).value(recordRemarks(dir).size() - 1), uiText(142));
                QTRY_VERIFY(board.outputs() & 0x1);
            }
        }
        BoxTestPolicy::disable();
        BoxTestPolicy::enable(1);
        gControlPort->stopIOThread();
    }

    // Re-learning from the menu bar: the learn marks of the enabled mould slot, the ignore masks
    // cleared and saved, the record line; the next mould becomes the template, the area check opens
    // the editor with the clamp held, and leaving the editor releases it and detects again. The
    // alarm-image review then opens the editor on the saved alarm pictures with the menus hidden.
    void reLearningRoundTrip()
    {
        TestWorkDir dir;
        BoardSimulator board;
        QVERIFY(prepareBoard(dir, board));
        DeVeWizard window;
        gControlPort->startIOThread();
        QTRY_VERIFY(board.outputs() & 0x1);
        CammerWidget *view = window.cammerWidgets[0];
        QVERIFY(view);
        view->ignoreMasks[1] = cv::Mat(view->imageHeight, view->imageWidth, CV_8UC1, cv::Scalar(255));
        const QString mask = dir.filePath(QStringLiteral("cammer12/ignorepoint.bmp"));
        const QString templ = dir.filePath(QStringLiteral("cammer12/template0.bmp"));
        QVERIFY(!QFile::exists(mask));
        QVERIFY(!QFile::exists(templ));

        window.machineCycle->SlotReTrain();
        QCOMPARE(window.runState, 2);
        QVERIFY(view->learnPending[1]);
        QVERIFY(!view->learnPending[0]); // the shipped parameters do not inspect the product
        QCOMPARE(cv::countNonZero(view->ignoreMasks[1]), 0);
        const QImage saved(mask);
        QCOMPARE(saved.size(), QSize(view->imageWidth, view->imageHeight));
        QCOMPARE(saved.pixelIndex(saved.width() / 2, saved.height() / 2), 0);
        QVERIFY(recordRemarks(dir).contains(uiText(139)));

        board.clearCommands();
        board.setInputs(0x001);
        QTest::qWait(300);
        board.setInputs(0x000);
        QTRY_VERIFY_WITH_TIMEOUT(gAreaCheckActive, 5000);
        QVERIFY(QFile::exists(templ));
        QVERIFY(!view->learnPending[1]);
        QCOMPARE(window.alarmState, 3);
        QTRY_VERIFY(!(board.outputs() & 0x1)); // the clamp waits for the area check

        window.drawROIWidget->SlotReturn();
        QVERIFY(!gAreaCheckActive);
        QCOMPARE(window.runState, 1);
        QCOMPARE(window.alarmState, 0);
        QTRY_VERIFY(board.outputs() & 0x1);

        window.ioStatusWidget->show();
        window.indexButton->show();
        window.machineCycle->SlotShowAlarmImgae();
        QCOMPARE(window.alarmState, 3);
        QCOMPARE(window.drawROIWidget->sourceIndex(), 4);
        QVERIFY(window.ioStatusWidget->isHidden());
        QVERIFY(window.indexButton->isHidden());
        gControlPort->stopIOThread();
    }
};

QTEST_MAIN(TestMouldCycleBoard)
#include "tst_mouldcycleboard.moc"

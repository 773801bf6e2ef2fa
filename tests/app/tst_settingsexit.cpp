// Leaving the program from the settings, as the operator does it on the box: the real program under an
// X server of the test's own at 1920 x 1080, touched through the server (nothing answers a box by
// itself). The run must end as every normal end does: status 0, the reporting process it started
// ended, the last log line written; and a mould that opened as it ended keeps its mark on disk, so that
// the next start judges it.
//
// The touches are screen points of the 1920 x 1080 layout: the menu bar at the right edge, the
// settings screen (1800 x 950, centred) with its page buttons along the bottom and the advanced page's
// "Exit"; the boxes and the digit pad are found as the window on top and touched inside it.

#include "boardsimulator.h"
#include "boardword.h"
#include "mainthreadhold.h"
#include "testfiles.h"
#include "testworkdir.h"
#include "xscreen.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QtTest>

#include <csignal>

namespace {

// Boxes of the program, by size: the question and notice boxes, the login box and its digit pad.
const QSize kMessageBox(560, 300);
const QSize kLoginBox(600, 320);
const QSize kDigitPad(342, 314);
const QSize kScreen(1920, 1080);

// The output words of the shipped parameters: the clamp allowed, and blocked (output 0 high).
constexpr quint16 kReleased = 0x0F4;
constexpr quint16 kBlocked = 0x0F5;

// The installer's advanced password of the default build.
const QString kAdvancedPassword = QStringLiteral("20240601");

// A digit's key on the pad, from the pad's top-left corner: 7 8 9 / 4 5 6 / 1 2 3 / 0.
QPoint padKey(QChar digit)
{
    const int d = digit.digitValue();
    const int column = d == 0 ? 0 : (d - 1) % 3;
    const int row = d == 0 ? 3 : 2 - (d - 1) / 3;
    return QPoint(46 + 82 * column, 43 + 76 * row);
}

// Process ids of the reporting process started for the working directory `dir`: a process whose
// arguments name cnt_net/pynet_monitor and then that directory's config.json.
QList<qint64> helpersOf(const QString &dir)
{
    QList<qint64> pids;
    const QString config = QDir(dir).canonicalPath() + QStringLiteral("/cnt_net/config.json");
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        if (!number)
            continue;
        const QByteArray cmdline = readTestFile(QStringLiteral("/proc/%1/cmdline").arg(entry));
        const QList<QByteArray> args = cmdline.split('\0');
        for (int i = 0; i + 1 < args.size(); ++i) {
            if (args.at(i).endsWith("cnt_net/pynet_monitor") &&
                QString::fromLocal8Bit(args.at(i + 1)) == config)
                pids.append(pid);
        }
    }
    return pids;
}

// The box of a run and what it started; whatever a failed run leaves is ended by its process id.
struct ExitRun
{
    TestWorkDir dir;
    QProcess box;

    ~ExitRun()
    {
        if (box.state() != QProcess::NotRunning) {
            box.kill();
            box.waitForFinished(5000);
        }
        for (qint64 pid : helpersOf(dir.path()))
            ::kill(pid_t(pid), SIGKILL);
    }
};

// The topmost viewable window, once it has `size` (and, when `other` is set, is not that window), and a
// little later: a window just mapped has not yet drawn its buttons nor taken touches.
XWindow waitForTopWindow(const QSize &size, int ms, xcb_window_t other = 0)
{
    XWindow found;
    (void)QTest::qWaitFor(
        [&] {
            const QVector<XWindow> windows = viewableWindowsTopFirst();
            if (windows.isEmpty() || windows.first().geometry.size() != size || windows.first().id == other)
                return false;
            found = windows.first();
            return true;
        },
        ms);
    if (found.id)
        QTest::qWait(500);
    return found;
}

// Once the screen area shows something other than `before` and has stayed the same for a moment: the
// bar or page a touch brought up is drawn whole, whatever the load on the machine.
bool waitForRedrawn(const QRect &area, const QByteArray &before, int ms)
{
    QByteArray last;
    QElapsedTimer steady;
    return QTest::qWaitFor(
        [&] {
            const QByteArray now = screenArea(area);
            if (now.isEmpty() || now == before) {
                last.clear();
                return false;
            }
            if (now != last) {
                last = now;
                steady.start();
                return false;
            }
            return steady.elapsed() >= 300;
        },
        ms);
}

// The number of viewable windows of `size`.
int windowsOfSize(const QSize &size)
{
    int n = 0;
    for (const XWindow &w : viewableWindowsTopFirst())
        n += w.geometry.size() == size;
    return n;
}

// The viewable windows, top first, for a failing check.
QByteArray windowList()
{
    QStringList list;
    for (const XWindow &w : viewableWindowsTopFirst())
        list << QStringLiteral("%1x%2+%3+%4")
                    .arg(w.geometry.width())
                    .arg(w.geometry.height())
                    .arg(w.geometry.x())
                    .arg(w.geometry.y());
    return "windows on screen, top first: " + list.join(QStringLiteral(", ")).toUtf8() + '\n';
}

} // namespace

class TestSettingsExit : public QObject
{
    Q_OBJECT
private slots:
    void exitEndsTheRunAndItsReportingProcess()
    {
        XTouch finger;
        QVERIFY2(finger.usable(), "no XTest (libX11.so.6, libXtst.so.6) to touch the screen with");
        ExitRun run;
        QVERIFY(run.dir.isValid());
        const QString dir = run.dir.path();
        // The I/O board on the box's port 0, as the shipped parameters name it.
        BoardSimulator board;
        QVERIFY(board.open(run.dir.filePath(QStringLiteral("dev/ttyS0"))));
        // The report link on, as the run command lays the box out, with its stand-in reporting process.
        QVERIFY(QFile::copy(QStringLiteral(MG_PYNET_MONITOR),
                            run.dir.filePath(QStringLiteral("cnt_net/pynet_monitor"))));
        QVERIFY(writeTestFile(run.dir.filePath(QStringLiteral("cnt_net/config.json")),
                              "{\n    \"device_worknetfunc\": true,\n    \"device_workvideo\": false\n}\n"));

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
        env.remove(QStringLiteral("MG_BOX_ANSWERS"));
        run.box.setProcessEnvironment(env);
        run.box.setWorkingDirectory(dir);
        run.box.setStandardOutputFile(QProcess::nullDevice());
        run.box.setStandardErrorFile(QProcess::nullDevice());
        // MG_SETTINGSEXIT_BOX names another build of the program (an earlier one, to compare).
        run.box.start(qEnvironmentVariable("MG_SETTINGSEXIT_BOX", QStringLiteral(MG_APP_BINARY)), QStringList());
        QVERIFY(run.box.waitForStarted(10000));
        const QString logPath = run.dir.filePath(QStringLiteral("cnt_net/workspace/LOG/log.txt"));
        auto story = [&] { return windowList() + readTextLines(logPath).join('\n').right(3000).toUtf8(); };

        // No camera here: the start asks whether to clear the saved serials; "Cancel" keeps them. The
        // start's notice (a box of the same size, shown without blocking until the start is done) comes
        // first and stays under the question: the question is the box on top once both are shown.
        QVERIFY2(QTest::qWaitFor(
                     [&] {
                         return readTextLines(logPath).join('\n').contains(
                             QStringLiteral("asking whether to clear the saved camera serials"));
                     },
                     180000),
                 story());
        QVERIFY2(QTest::qWaitFor([&] { return windowsOfSize(kMessageBox) >= 2; }, 60000), story());
        const XWindow question = waitForTopWindow(kMessageBox, 60000);
        QVERIFY2(question.id, story());
        finger.touch(question.geometry.topLeft() + QPoint(398, 250));
        QVERIFY2(waitForTopWindow(kScreen, 60000).id, story());
        QTRY_VERIFY_WITH_TIMEOUT(helpersOf(dir).size() == 1, 60000);
        // Detection started: the clamp may close.
        QTRY_COMPARE_WITH_TIMEOUT(int(board.outputs()), int(kReleased), 60000);
        const qint64 helper = helpersOf(dir).first();

        // A touch on the camera view brings the menu bar; its third button opens the settings. Each
        // touch waits until what the last one brought up is drawn.
        const QRect settingsButton(1680, 290, 220, 60);
        const QRect advancedButton(1350, 930, 120, 50);
        const QRect exitButton(790, 250, 130, 50);
        const QByteArray noBar = screenArea(settingsButton);
        finger.touch(QPoint(960, 500));
        QVERIFY2(waitForRedrawn(settingsButton, noBar, 60000), story());
        const QByteArray noSettings = screenArea(advancedButton);
        finger.touch(QPoint(1790, 319));
        QVERIFY2(waitForRedrawn(advancedButton, noSettings, 60000), story());
        // The advanced page's button asks for the advanced password, typed on the digit pad.
        const QByteArray firstPage = screenArea(exitButton);
        finger.touch(QPoint(1410, 955));
        const XWindow login = waitForTopWindow(kLoginBox, 60000);
        QVERIFY2(login.id, story());
        finger.touch(login.geometry.topLeft() + QPoint(345, 103));
        const XWindow pad = waitForTopWindow(kDigitPad, 60000);
        QVERIFY2(pad.id, story());
        for (const QChar digit : kAdvancedPassword) {
            finger.touch(pad.geometry.topLeft() + padKey(digit));
            QTest::qWait(150);
        }
        finger.touch(login.geometry.topLeft() + QPoint(182, 270));
        QVERIFY2(waitForTopWindow(kScreen, 60000).id, story());
        QVERIFY2(waitForRedrawn(exitButton, firstPage, 60000), story());

        // "Exit", confirmed; the changed settings are saved; the notice's "OK" ends the program.
        finger.touch(QPoint(855, 275));
        const XWindow confirm = waitForTopWindow(kMessageBox, 60000);
        QVERIFY2(confirm.id, story());
        finger.touch(confirm.geometry.topLeft() + QPoint(162, 250));
        // The exit is recorded, in the shipped parameters' language (Simplified Chinese), before the
        // settings are stored.
        const QString record = run.dir.filePath(QStringLiteral("RECORD.db"));
        QTRY_VERIFY_WITH_TIMEOUT(recordRemarks(record).contains(QStringLiteral("手动退出监视系统")), 60000);
        const XWindow save = waitForTopWindow(kMessageBox, 60000);
        QVERIFY2(save.id == confirm.id, story());
        finger.touch(save.geometry.topLeft() + QPoint(162, 250));
        const XWindow notice = waitForTopWindow(kMessageBox, 60000, confirm.id);
        QVERIFY2(notice.id, story());

        // The mould opens as the program ends: the notice's "OK" touched, the window's thread held
        // where the end begins, the mark's thread held too. The board's poll blocks the clamp and asks
        // for the opening's mark. The end must stop the poll first and only then stop the mark's thread,
        // which writes that mark before it ends, so that the next start judges the mould: the window's
        // thread is let on to where the mark's thread is stopped, and the poll must be gone by then.
        const pid_t box = pid_t(run.box.processId());
        const unsigned long quit = codeAddressOf(box, "_Z7quitAppi");
        const unsigned long stopMarks = codeAddressOf(box, "_ZN17DetectionMarkFile8stopSyncEv");
        QVERIFY2(quit != 0 && stopMarks != 0, "quitApp or DetectionMarkFile::stopSync not in the running program");
        QVERIFY2(threadNamed(box, "IOThread") != 0, "no thread of the board's poll in the running program");
        MainThreadHold markThread;
        MainThreadHold window;
        QVERIFY2(markThread.holdThread(box, markThreadOf(box)), "the mark's thread not stopped");
        QVERIFY2(window.holdAt(box, quit), "no breakpoint in the box's main thread");
        finger.touch(notice.geometry.topLeft() + QPoint(280, 250));
        QVERIFY2(window.waitUntilStopped(60000), story());
        const auto beforeOpening = std::chrono::steady_clock::now();
        board.setInputs(0x001);
        QVERIFY(QTest::qWaitFor([&] { return board.inputsWrittenAt() > beforeOpening; }, 60000));
        // Asked after the status frame with the opening went out: the poll has read it.
        QCOMPARE(hostWordNow(board, 60000), int(kBlocked));
        QVERIFY(window.runOnTo(stopMarks));
        const bool cameToTheMarks = window.waitUntilStopped(60000);
        // The board's poll runs on a thread of its own, which Qt names after its class.
        const bool pollGone = threadNamed(box, "IOThread") == 0;
        (void)markThread.release(); // false when the program is already gone
        (void)window.release();
        board.setInputs(0);
        QVERIFY2(cameToTheMarks, "the program ended without stopping the mark's thread");
        QVERIFY2(pollGone, "the mark's thread stopped while the board's poll still ran");

        QVERIFY2(run.box.waitForFinished(60000), story());
        QCOMPARE(run.box.exitStatus(), QProcess::NormalExit);
        QCOMPARE(run.box.exitCode(), 0);
        // The reporting process the box started is gone with it, and none of this run is left.
        QVERIFY2(::kill(pid_t(helper), 0) != 0 || !helpersOf(dir).contains(helper),
                 "the reporting process outlived the box");
        QVERIFY(helpersOf(dir).isEmpty());
        const QString log = readTextLines(logPath).join('\n');
        QVERIFY2(log.endsWith(QStringLiteral("application ended, status 0")), qPrintable(log.right(3000)));
        const QByteArray mark = readTestFile(run.dir.filePath(QStringLiteral("detectionmark.txt")));
        QVERIFY2(mark.startsWith("slot"), "the mark on disk: " + mark);
    }
};

int main(int argc, char **argv)
{
    XServer server;
    int exitCode = 0;
    if (!startTestXServer(server, "the settings exit test", &exitCode))
        return exitCode;
    QCoreApplication app(argc, argv);
    TestSettingsExit test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_settingsexit.moc"

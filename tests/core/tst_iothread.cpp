// The real poll thread against a simulated board on a pseudo-terminal: what reaches the shared words
// and the GUI thread, and which frames the board receives.

#include "boardsimulator.h"
#include "boardword.h"
#include "clock.h"
#include "controlport.h"
#include "ioframes.h"
#include "iolink.h"
#include "iothread.h"
#include "posix_qextserialport.h"
#include "startup.h"
#include "sysparam.h"
#include "testworkdir.h"
#include "uitexttable.h"

#include "mutexlocker.h"
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {

quint32 inputWord()
{
    MutexLocker lock(gIoMutex);
    return gIoInputWord;
}

void setInputWord(quint32 w)
{
    MutexLocker lock(gIoMutex);
    gIoInputWord = w;
}

void setOutputWord(quint32 w)
{
    MutexLocker lock(gIoMutex);
    gIoOutputWord = w;
}

QByteArray frameBytes(const IoReportFrame &f)
{
    return QByteArray(f.bytes(), sizeof f);
}

// Records, on the GUI thread, the input word seen by each queued change signal.
// Watches the poll's "Cycle stalled" lines as they are logged, on the poll thread: each counts as
// after the hold when the board comes to hold `held` before the line is let through. The poll waits
// here, so a word it would only send after the line never comes and the line counts as before it.
class StallLineWatch
{
public:
    StallLineWatch(const BoardSimulator *board, quint16 held)
    {
        s_board = board;
        s_held = held;
        s_lines = 0;
        s_beforeTheHold = 0;
        s_previous = qInstallMessageHandler(&StallLineWatch::handle);
    }
    ~StallLineWatch() { qInstallMessageHandler(s_previous); }
    int lines() const { return s_lines.load(); }
    int beforeTheHold() const { return s_beforeTheHold.load(); }

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &text)
    {
        if (text.startsWith(QStringLiteral("Cycle stalled"))) {
            QElapsedTimer waited;
            waited.start();
            while (s_board->outputs() != s_held && waited.elapsed() < 2000)
                QThread::usleep(200);
            s_beforeTheHold += s_board->outputs() == s_held ? 0 : 1;
            ++s_lines;
        }
        s_previous(type, context, text);
    }
    static inline const BoardSimulator *s_board = nullptr;
    static inline quint16 s_held = 0;
    static inline std::atomic<int> s_lines{0};
    static inline std::atomic<int> s_beforeTheHold{0};
    static inline QtMessageHandler s_previous = nullptr;
};

class GuiReceiver : public QObject
{
    Q_OBJECT
public:
    QVector<quint32> seen;
public slots:
    void onChange() { seen.append(inputWord()); }
};

} // namespace

class TestIoThread : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestWorkDir> m_dir;
    std::unique_ptr<BoardSimulator> m_board;
    std::unique_ptr<IOThread> m_thread;

    // The link as the box sets it up: port number 3 in the working directory's dev/ folder.
    void startLink(bool boardPresent = true)
    {
        m_dir = std::make_unique<TestWorkDir>(TestWorkDir::Empty);
        QVERIFY(m_dir->isValid());
        setIoPortPattern(m_dir->filePath(QStringLiteral("dev/ttyS%1")));
        gIoPortNumber = 3;
        m_board = std::make_unique<BoardSimulator>();
        if (boardPresent)
            QVERIFY(m_board->open(m_dir->filePath(QStringLiteral("dev/ttyS3"))));
        openIoSerialPort();
        QCOMPARE(gIoSerialPort->isOpen(), boardPresent);
        m_thread = std::make_unique<IOThread>();
    }

    void startThread() { m_thread->start(QThread::InheritPriority); }

    void stopThread()
    {
        if (m_thread) {
            m_thread->requestStop();
            QVERIFY(m_thread->wait(10000));
        }
    }

private slots:
    void initTestCase()
    {
        if (!gIoMutex)
            createProcessMutexes();
    }

    void init()
    {
        gIoInputWord = 0;
        gIoOutputWord = 0;
        gIoThreadEnabled = 1;
        std::fill(std::begin(gIoReplyWords), std::end(gIoReplyWords), 0u);
    }

    void cleanup()
    {
        m_thread.reset(); // joins
        m_board.reset();
        delete gIoSerialPort;
        gIoSerialPort = nullptr;
        m_dir.reset();
        setIoPortPattern(QString());
    }

    void portPathFollowsTheBuild()
    {
        gIoPortNumber = 2;
#ifdef MG_BOX_BUILD
        QCOMPARE(ioPortName(), QStringLiteral("/dev/ttyS2"));
#else
        QCOMPARE(ioPortName(), QStringLiteral("./dev/ttyS2"));
#endif
        setIoPortPattern(QStringLiteral("/tmp/x/ttyS%1"));
        QCOMPARE(ioPortName(), QStringLiteral("/tmp/x/ttyS2"));
    }

    // One queued signal per change of the inputs, and the slot reads the word that caused it.
    void inputChangesReachTheGuiThread()
    {
        startLink();
        GuiReceiver gui;
        connect(m_thread.get(), &IOThread::sigIOChange, &gui, &GuiReceiver::onChange);
        startThread();
        QCOMPARE(hostWordNow(*m_board), 0); // the poll has read the board's reports since the start
        QCoreApplication::processEvents();
        QCOMPARE(gui.seen.size(), 0); // steady inputs 0: nothing to tell

        m_board->setInputs(0x005);
        QTRY_COMPARE(gui.seen.size(), 1);
        QCOMPARE(gui.seen.last(), 0x005u);
        m_board->setInputs(0x201);
        QTRY_COMPARE(gui.seen.size(), 2);
        QCOMPARE(gui.seen.last(), 0x201u);
        // More reports with the same inputs: no further signal.
        QCOMPARE(hostWordNow(*m_board), 0);
        QCoreApplication::processEvents();
        QCOMPARE(gui.seen.size(), 2);
        QCOMPARE(inputWord(), 0x201u);
    }

    // The word is stored before the signal goes out: even a slot run on the I/O thread itself sees
    // the new inputs.
    void signalFollowsTheStoredWord()
    {
        startLink();
        QVector<quint32> seenOnThread;
        connect(
            m_thread.get(), &IOThread::sigIOChange, m_thread.get(),
            [&] { seenOnThread.append(inputWord()); }, Qt::DirectConnection);
        m_board->setInputs(0x0A3);
        startThread();
        QTRY_COMPARE(inputWord(), 0x0A3u);
        stopThread();
        QCOMPARE(seenOnThread, QVector<quint32>({0x0A3u}));
    }

    // The main window's simulated-input buttons write the word too; the board's next report wins
    // and is announced.
    void guiWritesDoNotHideTheBoardsInputs()
    {
        startLink();
        GuiReceiver gui;
        connect(m_thread.get(), &IOThread::sigIOChange, &gui, &GuiReceiver::onChange);
        m_board->setInputs(0x001);
        startThread();
        QTRY_COMPARE(gui.seen.size(), 1);
        for (int i = 0; i < 20; ++i) {
            setInputWord(0x3FF);
            QTRY_COMPARE(inputWord(), 0x001u);
        }
        QTRY_COMPARE(gui.seen.size(), 21);
    }

    // Frames as the line delivers them: the board is mute, the test writes the bytes itself.
    void strayBytesSplitFramesAndPairs()
    {
        startLink();
        m_board->setAnswering(false);
        QVector<quint32> seenOnThread;
        connect(
            m_thread.get(), &IOThread::sigIOChange, m_thread.get(),
            [&] { seenOnThread.append(gIoInputWord); }, Qt::DirectConnection);
        startThread();

        // A stray byte before a frame loses only itself.
        QVERIFY(m_board->writeRaw(QByteArray(1, char(0xAA)) + frameBytes(IoReportFrame::status(0x001, 0))));
        QTRY_COMPARE(inputWord(), 0x001u);

        // A frame split across two writes, several passes apart.
        const QByteArray split = frameBytes(IoReportFrame::status(0x002, 0));
        QVERIFY(m_board->writeRaw(split.left(3)));
        QTest::qWait(30);
        QCOMPARE(inputWord(), 0x001u);
        QVERIFY(m_board->writeRaw(split.mid(3)));
        QTRY_COMPARE(inputWord(), 0x002u);

        // Two frames in one write: both handled, one signal each.
        QVERIFY(m_board->writeRaw(frameBytes(IoReportFrame::status(0x004, 0)) +
                                  frameBytes(IoReportFrame::status(0x008, 0))));
        QTRY_COMPARE(inputWord(), 0x008u);
        stopThread();
        QCOMPARE(seenOnThread, QVector<quint32>({0x001u, 0x002u, 0x004u, 0x008u}));
    }

    // The output word goes to the board only when its echo differs, in the same pass.
    void outputsAreSentWhenTheEchoDiffers()
    {
        startLink();
        setOutputWord(0x005);
        startThread();
        QTRY_COMPARE(m_board->outputs(), quint16(0x005));
        // Reports that echoed the old outputs may still be on their way: once the poll has read the
        // inputs the board set after it took the word, every report it reads echoes 0x005.
        m_board->setInputs(0x001);
        QTRY_COMPARE(inputWord(), 0x001u);
        m_board->clearCommands();
        QVERIFY(m_board->waitForCommands(20, 2000));
        QCOMPARE(m_board->commandCount(kIoCommandSetOutputs), 0);

        // The board loses its outputs (a reset) and says so in one report: that echo differs and the
        // word goes out again, once.
        m_board->setAnswering(false);
        m_board->setOutputs(0x000);
        QVERIFY(m_board->writeRaw(frameBytes(IoReportFrame::status(0x001, 0x000))));
        QTRY_COMPARE(m_board->outputs(), quint16(0x005));
        stopThread();
        const auto log = m_board->commands();
        QCOMPARE(m_board->commandCount(kIoCommandSetOutputs), 1);
        for (const auto &c : log) {
            if (c.command == kIoCommandSetOutputs)
                QCOMPARE(c.value, quint16(0x005));
            else
                QCOMPARE(c.value, quint16(0)); // polls and requests carry 0
        }
        QCOMPARE(m_board->strayHostBytes(), 0); // every byte belonged to a valid 6-byte frame
    }

    // Request 3 at pass 200, request 4 ten passes later, and their answers land at 0 and 8.
    // A board that stops answering is named once in the log, and once more when it answers again.
    void silentBoardIsLoggedOnce()
    {
        static std::atomic<qint64> fakeMs{0};
        static QMutex linesMutex;
        static QStringList lines;
        fakeMs = 0;
        lines.clear();
        setAppMonotonicClock([] { return fakeMs.load(); });
        static QtMessageHandler previous = nullptr;
        previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &c, const QString &m) {
            if (m.startsWith(QStringLiteral("I/O board"))) {
                MutexLocker lock(&linesMutex);
                lines << m;
            }
            previous(type, c, m);
        });
        const auto seen = [] {
            MutexLocker lock(&linesMutex);
            return lines;
        };
        startLink();
        startThread();
        QCOMPARE(hostWordNow(*m_board), 0);
        fakeMs += 900;
        QCOMPARE(hostWordNow(*m_board), 0); // a pass at 900 ms has read a report
        QVERIFY(seen().isEmpty());

        // Reports on their way as the board fell silent still come: the clock moves on in steps until
        // a second has passed since the last one the poll read.
        m_board->setAnswering(false);
        const auto silentAfterAStep = [&] {
            fakeMs += 100;
            return !seen().isEmpty();
        };
        QTRY_VERIFY_WITH_TIMEOUT(silentAfterAStep(), 20000);
        QCOMPARE(seen().size(), 1);
        QVERIFY(seen().first().startsWith(QStringLiteral("I/O board silent")));
        fakeMs += 5000;
        QTest::qWait(50);
        QCOMPARE(seen().size(), 1);

        m_board->setAnswering(true);
        QTRY_COMPARE(seen().size(), 2);
        QCOMPARE(seen().last(), QStringLiteral("I/O board reports again"));
        fakeMs += 500;
        QTest::qWait(50);
        QCOMPARE(seen().size(), 2);
        stopThread();
        qInstallMessageHandler(previous);
        setAppMonotonicClock({});
    }

    // The port's path comes to name another line while the old one stays open and only falls silent
    // (no hang-up, writes still go through): once the board has been silent for a second, the port is
    // closed and opened again on the path, the new line gets the whole output word before any poll,
    // and the old line gets nothing more. The poll's clock stands still unless the test moves it.
    void pathNamingAnotherLineIsReopened()
    {
        static std::atomic<qint64> fakeMs{0};
        fakeMs = 0;
        setAppMonotonicClock([] { return fakeMs.load(); });
        startLink();
        setOutputWord(0x0F5);
        startThread();
        QTRY_COMPARE(m_board->outputs(), quint16(0x0F5));
        BoardSimulator newLine;
        QVERIFY(newLine.open(m_dir->filePath(QStringLiteral("dev/ttyS3"))));
        // A board that answers keeps its port.
        QCOMPARE(hostWordNow(*m_board), 0x0F5);
        QCOMPARE(newLine.commands().size(), 0);
        // Reports on their way as the board fell silent still come: the clock moves on in steps until
        // a second has passed since the last one the poll read.
        m_board->setAnswering(false);
        const auto reopenedAfterAStep = [&] {
            fakeMs += 100;
            return newLine.commands().size() >= 5;
        };
        QTRY_VERIFY_WITH_TIMEOUT(reopenedAfterAStep(), 20000);
        const QVector<BoardSimulator::Command> log = newLine.commands();
        QCOMPARE(int(log.first().command), int(kIoCommandSetOutputs));
        QCOMPARE(log.first().value, quint16(0x0F5));
        QCOMPARE(newLine.outputs(), quint16(0x0F5));
        const int oldLineGot = m_board->commands().size();
        QVERIFY(newLine.waitForCommands(log.size() + 5, 10000));
        QCOMPARE(m_board->commands().size(), oldLineGot);
        stopThread();
        setAppMonotonicClock({});
    }

    // The adapter pulled and plugged in again: the old line hangs up and a new one is linked at the
    // port's path. A hung-up line is a failed port at once, not after a second of silence (the poll's
    // clock stands still here): the new line gets the whole output word before any poll. The old
    // line is the test's own pseudo-terminal, so that closing it leaves the new link alone.
    void hungUpLineIsReopenedAtOnce()
    {
        static std::atomic<qint64> fakeMs{0};
        fakeMs = 0;
        setAppMonotonicClock([] { return fakeMs.load(); });
        startLink(false);
        int master = -1;
        int slave = -1;
        char name[256] = {};
        QVERIFY(openpty(&master, &slave, name, nullptr, nullptr) == 0);
        const QString path = m_dir->filePath(QStringLiteral("dev/ttyS3"));
        QVERIFY(QDir().mkpath(m_dir->filePath(QStringLiteral("dev"))) && QFile::link(name, path));
        openIoSerialPort();
        QVERIFY(gIoSerialPort->isOpen());
        setOutputWord(0x0F5);
        startThread();
        QTest::qWait(30);
        BoardSimulator newLine;
        QVERIFY(newLine.open(path));
        QTest::qWait(30);
        QCOMPARE(newLine.commands().size(), 0); // the old line has not failed: nothing to reopen
        ::close(master);
        ::close(slave);
        QVERIFY(newLine.waitForCommands(5, 3000));
        const QVector<BoardSimulator::Command> log = newLine.commands();
        QCOMPARE(int(log.first().command), int(kIoCommandSetOutputs));
        QCOMPARE(log.first().value, quint16(0x0F5));
        QCOMPARE(newLine.outputs(), quint16(0x0F5));
        stopThread();
        setAppMonotonicClock({});
    }

    // The line as the board needs it, read back from the device: a pseudo-terminal ignores the speed,
    // so no exchange of bytes would notice a wrong setting.
    void portSettingsAsTheBoardNeeds()
    {
        startLink();
        const int fd = ::open(QFile::encodeName(ioPortName()).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(fd >= 0);
        termios t;
        const int got = ::tcgetattr(fd, &t);
        ::close(fd);
        QCOMPARE(got, 0);
        QCOMPARE(cfgetispeed(&t), speed_t(B115200));
        QCOMPARE(cfgetospeed(&t), speed_t(B115200));
        QCOMPARE(t.c_cflag & CSIZE, tcflag_t(CS8));
        QCOMPARE(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), tcflag_t(0));
        QCOMPARE(t.c_cflag & (CREAD | CLOCAL), tcflag_t(CREAD | CLOCAL));
        QCOMPARE(t.c_iflag & (IXON | IXOFF | IXANY), tcflag_t(0));
        // Raw: no line editing, echo, signals, or translation of CR, LF and parity marks.
        QCOMPARE(t.c_lflag & (ICANON | ECHO | ECHONL | ISIG | IEXTEN), tcflag_t(0));
        QCOMPARE(t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | IGNBRK | BRKINT | PARMRK), tcflag_t(0));
        QCOMPARE(t.c_oflag & OPOST, tcflag_t(0));
    }

    void periodicRequestsAndTheirReplies()
    {
        startLink();
        m_board->setReplyPayloads(0x12345678, 0x9ABCDEF0);
        startThread();
        QTRY_VERIFY_WITH_TIMEOUT(m_board->commandCount(kIoCommandRequest4) == 1, 20000);
        // The board's answer to request 4 went out before the echo the host answers here.
        QCOMPARE(hostWordNow(*m_board), 0);
        stopThread();
        const auto log = m_board->commands();
        int at3 = -1;
        int at4 = -1;
        int pass = 0;
        for (const auto &c : log) {
            if (c.command == kIoCommandSetOutputs)
                continue;
            ++pass;
            if (c.command == kIoCommandRequest3)
                at3 = pass;
            if (c.command == kIoCommandRequest4)
                at4 = pass;
        }
        QCOMPARE(at3, 200);
        QCOMPARE(at4, 210);
        QCOMPARE(m_board->commandCount(kIoCommandRequest3), 1);
        QCOMPARE(m_board->commandCount(kIoCommandRequest4), 1);
        QCOMPARE(gIoReplyWords[0], 0x12345678u);
        QCOMPARE(gIoReplyWords[1], 0u);
        QCOMPARE(gIoReplyWords[8], 0x9ABCDEF0u);
        QCOMPARE(gIoReplyWords[9], 0u);
    }

    // A board that sends more replies than the table holds: the first sixteen are kept in order and
    // the rest dropped, never written past the table.
    void surplusRepliesAreDropped()
    {
        startLink();
        m_board->setAnswering(false);
        QByteArray replies;
        for (quint32 i = 0; i < 20; ++i)
            replies +=
                frameBytes(IoReportFrame::payload(i % 2 ? kIoReportReply4 : kIoReportReply3, 0x100 + i));
        startThread();
        QVERIFY(m_board->waitForCommands(2, 2000));
        // A report behind the replies: once its inputs are in, the replies were handled (far from pass
        // 200, which resets the index).
        QVERIFY(m_board->writeRaw(replies + frameBytes(IoReportFrame::status(0x001, 0))));
        QTRY_COMPARE(inputWord(), 0x001u);
        stopThread();
        for (quint32 i = 0; i < 16; ++i)
            QCOMPARE(gIoReplyWords[i], 0x100u + i);
    }

    // XON, XOFF, CR and LF inside a frame arrive as data.
    void controlCharactersInsideFrames()
    {
        startLink();
        m_board->setAnswering(false);
        startThread();
        const quint8 d[4] = {0x11, 0x13, 0x0D, 0x0A};
        QVERIFY(m_board->writeRaw(frameBytes(IoReportFrame::make(kIoReportStatus, d))));
        QTRY_COMPARE(inputWord(), 0x311u); // 0x11 | (0x13 & 3) << 8
        // A report behind the reply: once its inputs are in, the reply was handled.
        QVERIFY(m_board->writeRaw(frameBytes(IoReportFrame::make(kIoReportReply3, d)) +
                                  frameBytes(IoReportFrame::status(0x000, 0))));
        QTRY_COMPARE(inputWord(), 0x000u);
        stopThread();
        QCOMPARE(gIoReplyWords[0], 0x0A0D1311u);
    }

    // A flood of bytes is worked off without harm and a frame behind it still counts.
    void floodOfWaitingBytes()
    {
        startLink();
        m_board->setAnswering(false);
        startThread();
        QByteArray flood(3000, char(0xAA));
        for (int i = 0; i < flood.size(); i += 97)
            flood[i] = char(0x5F); // false starts
        QVERIFY(m_board->writeRaw(flood + frameBytes(IoReportFrame::status(0x155, 0))));
        QTRY_COMPARE(inputWord(), 0x155u);
        // Polls go on afterwards.
        m_board->clearCommands();
        QVERIFY(m_board->waitForCommands(5, 2000));
    }

    // A dead board: polls go on, nothing changes, no command 1 although the outputs differ.
    void boardThatNeverAnswers()
    {
        startLink();
        m_board->setAnswering(false);
        setInputWord(0x02A);
        setOutputWord(0x007);
        GuiReceiver gui;
        connect(m_thread.get(), &IOThread::sigIOChange, &gui, &GuiReceiver::onChange);
        startThread();
        QVERIFY(m_board->waitForCommands(30, 3000));
        stopThread();
        QCoreApplication::processEvents();
        QCOMPARE(gui.seen.size(), 0);
        QCOMPARE(inputWord(), 0x02Au);
        QCOMPARE(m_board->commandCount(kIoCommandSetOutputs), 0);
        QVERIFY(m_board->commandCount(kIoCommandPoll) >= 30);
    }

    // No port at all: the thread runs quietly and can still be stopped.
    void missingPortChangesNothing()
    {
        startLink(false);
        setInputWord(0x003);
        GuiReceiver gui;
        connect(m_thread.get(), &IOThread::sigIOChange, &gui, &GuiReceiver::onChange);
        startThread();
        QTest::qWait(50);
        QVERIFY(m_thread->isRunning());
        stopThread();
        QCoreApplication::processEvents();
        QCOMPARE(gui.seen.size(), 0);
        QCOMPARE(inputWord(), 0x003u);
    }

    // Until ControlPort enables the link the thread sends nothing.
    void disabledLinkOnlySleeps()
    {
        startLink();
        gIoThreadEnabled = 0;
        startThread();
        QTest::qWait(60);
        QCOMPARE(m_board->commands().size(), 0);
        gIoThreadEnabled = 1;
        QVERIFY(m_board->waitForCommands(3, 2000));
    }

    // Destroying the thread object stops the loop and joins it: nothing reaches the board afterwards
    // (bench_iolink times the stop).
    void stopRequestEndsTheLoop()
    {
        startLink();
        startThread();
        QVERIFY(m_board->waitForCommands(3, 2000));
        m_thread.reset();
        const int after = m_board->commands().size();
        QTest::qWait(40);
        QCOMPARE(m_board->commands().size(), after);
    }

    // The whole way as the box runs it: the board's status frame 5F 02 05 00 03 00 69 F5 reaches the
    // machine cycle installed on ControlPort, queued on the GUI thread, which sees inputs 0 and 2.
    void statusFrameReachesTheMachineCycle()
    {
        startLink();
        m_thread.reset(); // ControlPort makes its own
        SysParam param;
        param.outputInit[0] = 1;
        param.outputInit[1] = 1;
        gSysParam = &param;
        gIoThreadEnabled = 0;
        m_board->setAnswering(false);
        {
            ControlPort port;
            QCOMPARE(gIoThreadEnabled.load(), 1);
            QObject mainWindow;
            QVector<QVector<int>> runs;
            QVector<bool> onGuiThread;
            port.setRunSlot(&mainWindow, [&] {
                onGuiThread.append(QThread::currentThread() == mainWindow.thread());
                runs.append({port.checkInput(0), port.checkInput(1), port.checkInput(2), port.getIO(0, 0),
                             port.getIO(0, 1), port.getIO(0, 2)});
            });
            port.startIOThread();
            QVERIFY(port.ioThread && port.ioThread->isRunning());
            port.startIOThread(); // once only
            QVERIFY(m_board->writeRaw(QByteArray::fromHex("5F020500030069F5")));
            QTRY_COMPARE(runs.size(), 1);
            QCOMPARE(runs[0], QVector<int>({1, 0, 1, 1, 0, 1}));
            QCOMPARE(onGuiThread, QVector<bool>({true}));
            // The echo 0x003 is the idle word of outputs 0 and 1 closing: nothing to send.
            QTest::qWait(30);
            QCOMPARE(m_board->commandCount(kIoCommandSetOutputs), 0);
            port.stopIOThread();
            QVERIFY(port.ioThread->isFinished());
        }
        gSysParam = nullptr;
    }

    // The GUI thread stops reading while the mould opens and closes again. With cut clamp on mould
    // alarm the poll thread alone puts "clamp not allowed" on the board once the bound has passed; in the
    // mode where every cycle start blocks the clamp, the poll blocks it at the opening itself. The pass
    // that reads the opening gets it, with one record line of the stall either way. Every flush keeps
    // the block; the cycle's own word frees the clamp again. With a debounce time, an opening a pass
    // read at once whose expiry falls in the stall gets the block from the poll once it has lasted.
    void stalledCycleIsHeldByThePollThread_data()
    {
        QTest::addColumn<bool>("cutClamp");
        QTest::addColumn<int>("preCut");   // tenths of a second
        QTest::addColumn<int>("debounce"); // tenths of a second
        QTest::newRow("cut clamp on mould alarm: held once the bound has passed") << true << 0 << 0;
        QTest::newRow("pre-cut 0.5 s: held once the bound has passed") << false << 5 << 0;
        QTest::newRow("pre-cut 0.1 s: held once the bound has passed") << false << 1 << 0;
        QTest::newRow("pre-cut 9.9 s: held once the bound has passed") << false << 99 << 0;
        QTest::newRow("pre-cut 10 s (no pre-cut in force): blocked at the opening") << false << 100 << 0;
        QTest::newRow("default mode: blocked at the opening") << false << 0 << 0;
        QTest::newRow("debounce 0.2 s, read at once, expiry in the stall: blocked by the poll")
            << false << 0 << 2;
    }
    void stalledCycleIsHeldByThePollThread()
    {
        QFETCH(bool, cutClamp);
        QFETCH(int, preCut);
        QFETCH(int, debounce);
        const bool lateHold = cutClamp || (preCut >= 1 && preCut <= 99);
        startLink();
        m_thread.reset();
        std::atomic<qint64> clock{500000};
        setAppMonotonicClock([&clock] { return clock.load(); });
        SysParam param;
        for (int i = 4; i < 8; ++i)
            param.outputInit[i] = 1; // the NG pulses idle closed: the cycle's word is 0x0F0
        param.machineType = 1;
        param.cutClampOnMoldAlarm = cutClamp ? 1 : 0;
        param.preCutTime = preCut;
        param.debounceTime = debounce;
        gSysParam = &param;
        {
            ControlPort port;
            fillUiTextTable();
            gLanguage = 1;
            QStringList records;
            port.setCycleWatch([] { return true; }, [&records](const QString &line) { records << line; });
            for (int i = 0; i < 8; ++i)
                QCOMPARE(port.checkInput(i), 0); // a pass before the stall
            const StallLineWatch stallLine(m_board.get(), 0x0F1);
            port.startIOThread();
            QTRY_COMPARE(m_board->outputs(), quint16(0x0F0));

            const qint64 openedMs = clock.load();
            m_board->setInputs(0x001);
            QTRY_COMPARE(inputWord(), 0x001u); // the poll has read the opening
            if (debounce > 0) {
                // Read at once, then the stall: nothing until the opening has lasted 200 ms.
                QCOMPARE(port.checkInput(0), 1);
                QCOMPARE(port.entryDebounceLeftMs(0), 200);
                QCOMPARE(hostWordNow(*m_board), 0x0F0);
                clock += 199;
                QCOMPARE(hostWordNow(*m_board), 0x0F0);
                clock += 1;
                QTRY_COMPARE(m_board->outputs(), quint16(0x0F1));
                m_board->setInputs(0x000);
                QTRY_COMPARE(inputWord(), 0x000u);
                clock += 1000;
                QCOMPARE(hostWordNow(*m_board), 0x0F1);
                // The expiry, late: latched, and the block is the cycle's own from here on.
                QCOMPARE(port.judgeDebouncedEntries(0), 1);
                QVERIFY(records.isEmpty());
            } else {
                m_board->setInputs(0x000);
                QTRY_COMPARE(inputWord(), 0x000u);
                // Not yet where the clamp stays free for a time: no time has passed.
                QCOMPARE(hostWordNow(*m_board), lateHold ? 0x0F0 : 0x0F1);
                clock += 1000;
                QTRY_COMPARE(m_board->outputs(), quint16(0x0F1));
                // The stall's line is judged against the board's word as it is logged: ask the board
                // nothing (hostWordNow makes it forget its word) until the line is out.
                QTRY_COMPARE(stallLine.lines(), 1);
                QVERIFY(records.isEmpty());

                // A flush of the stalled side (its word still frees the clamp) does not undo the hold.
                port.flushOutputs();
                QCOMPARE(hostWordNow(*m_board), 0x0F1);

                // The cycle comes back: the opening is reported, stamped when it came, and the clamp
                // stays held for the cycle to decide.
                QCOMPARE(port.checkInput(0), 1);
                QCOMPARE(port.inputChangedMs(0), openedMs);
                // The unread bound's line whether or not the block came before it.
                QCOMPARE(records, QStringList{QStringLiteral("Warning: the cycle stalled: a mould opening "
                                                             "waited 1.0 s to be read and the clamp was "
                                                             "blocked meanwhile")});
            }
            QCOMPARE(port.pendingOutputs, 0x0F1u);
            QCOMPARE(hostWordNow(*m_board), 0x0F1);
            port.setOutput(0, 0);
            port.flushOutputs();
            QTRY_COMPARE(m_board->outputs(), quint16(0x0F0));
            QCOMPARE(records.size(), debounce > 0 ? 0 : 1);
            port.stopIOThread();
            // The log can be slow: the board has the hold before the poll logs the stall.
            QCOMPARE(stallLine.lines(), debounce > 0 ? 0 : 1);
            QCOMPARE(stallLine.beforeTheHold(), 0);
        }
        setAppMonotonicClock({});
        gLanguage = 0;
        gSysParam = nullptr;
    }

    // A process ending through exit() joins the poll thread before static objects go.
    void exitJoinsThePollThread()
    {
        startLink();
        m_thread.reset();
        SysParam param;
        gSysParam = &param;
        auto port = std::make_unique<ControlPort>();
        port->startIOThread();
        QVERIFY(m_board->waitForCommands(3, 2000));
        joinIoThreadBeforeExit();
        QVERIFY(port->ioThread->isFinished());
        const int after = m_board->commands().size();
        QTest::qWait(30);
        QCOMPARE(m_board->commands().size(), after);
        port.reset();
        joinIoThreadBeforeExit(); // nothing left to join: no dangling thread
        gSysParam = nullptr;
    }

    // A main window made after the thread started still gets the input changes, and a gone window
    // gets nothing.
    void runSlotFollowsTheWindow()
    {
        startLink();
        m_thread.reset();
        SysParam param;
        param.machineType = 1;
        gSysParam = &param;
        ControlPort port;
        port.startIOThread();
        int firstRuns = 0;
        int secondRuns = 0;
        {
            QObject first;
            port.setRunSlot(&first, [&] { ++firstRuns; });
            m_board->setInputs(0x001);
            QTRY_COMPARE(firstRuns, 1);
        }
        m_board->setInputs(0x000);
        QTRY_COMPARE(inputWord(), 0x000u);
        QObject second;
        port.setRunSlot(&second, [&] { ++secondRuns; });
        m_board->setInputs(0x002);
        QTRY_COMPARE(secondRuns, 1);
        QCOMPARE(firstRuns, 1);
        port.stopIOThread();
        gSysParam = nullptr;
    }

    // Pass after pass the board gets one frame: a poll carrying 0 (the requests come at passes 200 and
    // 210, the word only when its echo differs). bench_iolink measures the pace.
    void everyPassPollsTheBoard()
    {
        startLink();
        startThread();
        QVERIFY(m_board->waitForCommands(60, 20000));
        stopThread();
        const auto log = m_board->commands();
        QVERIFY(log.size() >= 60);
        for (int i = 0; i < 60; ++i) {
            QCOMPARE(int(log[i].command), int(kIoCommandPoll));
            QCOMPARE(log[i].value, quint16(0));
        }
    }
};

QTEST_GUILESS_MAIN(TestIoThread)
#include "tst_iothread.moc"

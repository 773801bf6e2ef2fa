// The input-entry watch between its two threads, as the box runs it: the real poll thread counts the
// simulated board's status frames into gIoEntryWatch and asks it for the word the board gets, while
// this thread, the GUI side, reads and takes the entries under gIoMutex as the input read does. The
// poll's clock moves only with the GUI side's passes, so a machine under load cannot trip the hold.

#include "boardsimulator.h"
#include "boardword.h"
#include "clock.h"
#include "inputentrywatch.h"
#include "iolink.h"
#include "iothread.h"
#include "posix_qextserialport.h"
#include "startup.h"
#include "testworkdir.h"

#include "mutexlocker.h"
#include <QtTest>

#include <atomic>
#include <memory>
#include <thread>

namespace {
constexpr int kInputs = 3;
constexpr quint32 kCycleWord = 0x0F4;  // the word the cycle flushed: clamp allowed (bit 0 clear)
constexpr quint32 kHeldWord = 0x0F5;   // the same word with "clamp not allowed" on bit 0
constexpr quint16 kIdleInputs = 0x004; // input 2 is active low: its board bit idles high
constexpr qint64 kPassMs = 40;         // box time between two GUI passes: a healthy cycle

std::atomic<qint64> gFakeMs{100000};

// Inputs 0-2 on board bits 0-2; input 2 inverted. Inputs 0 and 1 start a detection.
InputEntryWatchSetup watchSetup()
{
    InputEntryWatchSetup setup;
    setup.armed = true;
    setup.watchedInputs = 0x003;
    for (int i = 0; i < 16; ++i)
        setup.map.source[i] = i;
    setup.map.inverted[2] = true;
    setup.holdBit = 0;
    setup.holdLevel = true;
    return setup;
}

// Puts a word on the board and returns once a status frame carrying it has been written to the line.
bool reportInputs(BoardSimulator &board, quint16 word)
{
    board.setInputs(word);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (board.inputsWrittenAt() == std::chrono::steady_clock::time_point{}) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// The board's machine: pulse k opens input 0, every second one input 1 with it, every third one
// input 2 (its bit drops), each level reported in at least one status frame.
struct Pulser
{
    static constexpr int kPulses = 60;
    static constexpr quint32 kExpected[kInputs] = {kPulses, kPulses / 2, kPulses / 3};

    std::thread thread;
    std::atomic<bool> done{false};
    std::atomic<bool> lost{false};

    void start(BoardSimulator &board)
    {
        thread = std::thread([this, &board] {
            for (int k = 0; k < kPulses && !lost; ++k) {
                quint16 active = 0x001;
                if (k % 2 == 0)
                    active |= 0x002;
                quint16 word = kIdleInputs | active;
                if (k % 3 == 0)
                    word &= ~quint16(0x004);
                lost = !reportInputs(board, word) || !reportInputs(board, kIdleInputs);
            }
            done = true;
        });
    }
    ~Pulser()
    {
        if (thread.joinable())
            thread.join();
    }
};
} // namespace

class TestInputEntryWatchThread : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestWorkDir> m_dir;
    std::unique_ptr<BoardSimulator> m_board;
    std::unique_ptr<IOThread> m_thread;

private slots:
    void initTestCase()
    {
        if (!gIoMutex)
            createProcessMutexes();
        setAppMonotonicClock([] { return gFakeMs.load(); });
    }

    void cleanupTestCase() { setAppMonotonicClock({}); }

    void cleanup()
    {
        m_thread.reset(); // joins
        m_board.reset();
        delete gIoSerialPort;
        gIoSerialPort = nullptr;
        m_dir.reset();
        setIoPortPattern(QString());
    }

    // Sixty openings come while the GUI side reads every pass: each entry is taken exactly once, a read
    // count never passes the counted entries, and the board keeps the cycle's word. Then the GUI side
    // stalls over one more opening: the poll thread alone holds the clamp once the bound has passed,
    // and the pass that finally reads the opening ends the hold and learns which entry it was.
    void entriesCrossBetweenThePollAndTheGuiSide()
    {
        m_dir = std::make_unique<TestWorkDir>(TestWorkDir::Empty);
        QVERIFY(m_dir->isValid());
        setIoPortPattern(m_dir->filePath(QStringLiteral("dev/ttyS%1")));
        gIoPortNumber = 3;
        m_board = std::make_unique<BoardSimulator>();
        QVERIFY(m_board->open(m_dir->filePath(QStringLiteral("dev/ttyS3"))));
        m_board->setInputs(kIdleInputs);
        openIoSerialPort();
        QVERIFY(gIoSerialPort->isOpen());
        gIoThreadEnabled = 1;
        const InputEntryWatchSetup setup = watchSetup();
        const InputEntryMap &map = setup.map;
        {
            MutexLocker lock(gIoMutex);
            gIoEntryWatch.setSetup(setup);
            gIoOutputWord = kCycleWord;
        }
        m_thread = std::make_unique<IOThread>();
        m_thread->start();
        QTRY_COMPARE(m_board->outputs(), quint16(kCycleWord));

        quint32 taken[kInputs] = {};
        quint32 seen[kInputs] = {};
        bool countsAgree = true;
        bool readWithinCounted = true;
        bool takenAllGone = true;
        bool everHeld = false;
        // One GUI pass: look, then take every entry counted so far, as the input read does.
        const auto guiPass = [&] {
            {
                MutexLocker lock(gIoMutex);
                gIoEntryWatch.setSetup(setup);
                const InputEntrySnapshot s = gIoEntryWatch.snapshot(map);
                for (int i = 0; i < kInputs; ++i) {
                    const quint32 counted = gIoEntryWatch.entries(i, map);
                    const quint32 read = gIoEntryWatch.readEntries(i, map);
                    countsAgree = countsAgree && s.entries[i] == counted && counted >= seen[i];
                    readWithinCounted = readWithinCounted && read <= counted;
                    seen[i] = counted;
                    taken[i] += counted - read;
                    gIoEntryWatch.markRead(i, map, counted);
                    takenAllGone = takenAllGone && !gIoEntryWatch.untakenEntry(i);
                }
                everHeld = everHeld || gIoEntryWatch.holding();
            }
            gFakeMs += kPassMs;
        };
        // The first frame has set the levels: nothing is an entry yet.
        const auto firstFrameSeen = [&map] {
            MutexLocker lock(gIoMutex);
            return gIoEntryWatch.snapshot(map).firstFrameSeen;
        };
        QTRY_VERIFY(firstFrameSeen());
        guiPass();
        for (int i = 0; i < kInputs; ++i)
            QCOMPARE(taken[i], 0u);

        {
            Pulser pulser;
            pulser.start(*m_board);
            // Passes back to back, so that reads fall inside the poll thread's passes: a watch call that
            // lost its lock then shows under ThreadSanitizer.
            while (!pulser.done) {
                guiPass();
                QCOMPARE(m_board->outputs(), quint16(kCycleWord));
                std::this_thread::yield();
            }
            QVERIFY(!pulser.lost);
        }
        // The last frames are on the line: the poll has read them once it answers a report the board
        // wrote after them, and then nothing more comes.
        QCOMPARE(hostWordNow(*m_board), int(kCycleWord));
        guiPass();
        QVERIFY(countsAgree);
        QVERIFY(readWithinCounted);
        QVERIFY(takenAllGone);
        QVERIFY(!everHeld);
        for (int i = 0; i < kInputs; ++i) {
            QCOMPARE(taken[i], Pulser::kExpected[i]);
            QCOMPARE(seen[i], Pulser::kExpected[i]);
        }
        QCOMPARE(m_board->outputs(), quint16(kCycleWord));

        // The GUI side stalls; the mould opens and closes once more.
        QVERIFY(reportInputs(*m_board, kIdleInputs | 0x001));
        const qint64 openedMs = gFakeMs;
        QVERIFY(reportInputs(*m_board, kIdleInputs));
        const auto openings = [&map] {
            MutexLocker lock(gIoMutex);
            return gIoEntryWatch.entries(0, map);
        };
        QTRY_COMPARE(openings(), Pulser::kExpected[0] + 1);
        {
            MutexLocker lock(gIoMutex);
            QVERIFY(gIoEntryWatch.untakenEntry(0));
            QVERIFY(!gIoEntryWatch.untakenEntry(1));
            QCOMPARE(gIoEntryWatch.lastEntryMs(0, map), openedMs);
        }
        gFakeMs += InputEntryWatch::kUnreadBoundMs / 2;
        QCOMPARE(hostWordNow(*m_board), int(kCycleWord));
        gFakeMs += InputEntryWatch::kUnreadBoundMs;
        QTRY_COMPARE(m_board->outputs(), quint16(kHeldWord));
        QCOMPARE(hostWordNow(*m_board), int(kHeldWord));

        // The pass that reads the opening takes exactly it and ends the hold.
        InputEntryStall stall;
        bool holdEnded = false;
        quint32 newEntries = 0;
        {
            MutexLocker lock(gIoMutex);
            QVERIFY(gIoEntryWatch.holding());
            const quint32 counted = gIoEntryWatch.entries(0, map);
            newEntries = counted - gIoEntryWatch.readEntries(0, map);
            holdEnded = gIoEntryWatch.markRead(0, map, counted, &stall);
            QVERIFY(!gIoEntryWatch.untakenEntry(0));
        }
        QCOMPARE(newEntries, 1u);
        QVERIFY(holdEnded);
        QCOMPARE(stall.input, 0);
        QCOMPARE(stall.unreadSinceMs, openedMs);
        QTRY_COMPARE(m_board->outputs(), quint16(kCycleWord));
        m_thread->requestStop();
        QVERIFY(m_thread->wait(5000));
    }
};

QTEST_GUILESS_MAIN(TestInputEntryWatchThread)
#include "tst_inputentrywatch_thread.moc"

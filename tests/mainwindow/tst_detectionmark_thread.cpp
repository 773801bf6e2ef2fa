// The mark of a detection under way on disk ("detectionmark.txt"): what a start reads back from what a
// stop, a power cut, a damaged disk or a special file left, the sync of each slot mark, which runs on
// the mark's own thread so that the cycle never waits for the disk, and the mark of an opening the I/O
// thread counted before the cycle read it.

#include "cyclestartmarkhook.h"
#include "detectionmark.h"
#include "inputentrywatch.h"
#include "mutexlocker.h"
#include "startup.h"
#include "testfiles.h"
#include "testworkdir.h"

#include <QFileInfo>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

const QByteArray kNone("none           \n");

// The board as the I/O thread sees it: each opening of `input` is one rise and fall of its bit,
// counted under gIoMutex as the poll counts it. The cycle takes the openings it acts on.
struct Board
{
    InputEntryMap map = InputEntryMap::fromParams(); // no parameters: input i is bit i, active high
    qint64 ms = 1000;

    Board()
    {
        MutexLocker lock(gIoMutex);
        gIoEntryWatch.reset();
        InputEntryWatchSetup setup;
        setup.armed = true;
        setup.watchedInputs = 0x9;
        setup.markInputs = 0x9;
        setup.map = map;
        gIoEntryWatch.setSetup(setup);
        gIoEntryWatch.statusFrame(0, ms);
        for (int i = 0; i < 16; ++i)
            gIoEntryWatch.readEntries(i, map); // the first pass: nothing waits
    }
    void opening(int input)
    {
        MutexLocker lock(gIoMutex);
        gIoEntryWatch.statusFrame(1u << input, ms += 5);
        gIoEntryWatch.statusFrame(0, ms += 300);
    }
    void cycleTakes(int input)
    {
        MutexLocker lock(gIoMutex);
        gIoEntryWatch.markRead(input, map, gIoEntryWatch.entries(input, map));
    }
    // The cycle's own mark for a start by `input` is on disk; its verdict is.
    void cycleStarted(int input)
    {
        MutexLocker lock(gIoMutex);
        gIoEntryWatch.cycleStarted(input, map);
    }
    void cycleJudged()
    {
        MutexLocker lock(gIoMutex);
        gIoEntryWatch.cycleJudged();
    }
};

// The marks of a turntable's two cycle-start inputs: input 0 opens the left mould, input 3 the right.
CycleStartMarks turntableMarks()
{
    CycleStartMarks marks;
    marks[0] = DetectionMark{1, 1};
    marks[3] = DetectionMark{3, 0};
    return marks;
}

} // namespace

class TestDetectionMark : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { createProcessMutexes(); }

    // The mark file: made as "none" at the first start, rewritten in place with the same 16 bytes, read
    // back by the next start. A file that is there but holds no record (what a power cut or a damaged
    // disk leaves) comes back damaged, not as "none"; only a missing file is no mark.
    void markFile_data()
    {
        QTest::addColumn<bool>("exists");
        QTest::addColumn<QByteArray>("left"); // what the last run left
        QTest::addColumn<int>("slot");
        QTest::addColumn<int>("side");
        QTest::addColumn<bool>("damaged");
        QTest::newRow("no file") << false << QByteArray() << -1 << 1 << false;
        QTest::newRow("none") << true << detectionMarkText(DetectionMark()) << -1 << 1 << false;
        QTest::newRow("mould slot, left") << true << QByteArray("slot 1 side 1  \n") << 1 << 1 << false;
        QTest::newRow("right mould of a two-colour machine")
            << true << QByteArray("slot 3 side 0  \n") << 3 << 0 << false;
        QTest::newRow("slot 8") << true << QByteArray("slot 8 side 0  \n") << -1 << 1 << true;
        QTest::newRow("cut short") << true << QByteArray("slot 1 si") << -1 << 1 << true;
        QTest::newRow("truncated to 0 bytes") << true << QByteArray() << -1 << 1 << true;
        QTest::newRow("zeros of a power cut") << true << QByteArray(16, '\0') << -1 << 1 << true;
    }
    void markFile()
    {
        QFETCH(bool, exists);
        QFETCH(QByteArray, left);
        QFETCH(int, slot);
        QFETCH(int, side);
        QFETCH(bool, damaged);
        TestWorkDir dir;
        if (exists)
            QVERIFY(writeTestFile(detectionMarkPath(), left));
        {
            DetectionMarkFile file;
            const DetectionMark mark = file.open();
            QCOMPARE(mark.slot, slot);
            QCOMPARE(mark.moldSide, side);
            QCOMPARE(mark.damaged, damaged);
            QCOMPARE(QFileInfo(detectionMarkPath()).size(), qint64(16));
            file.set(2, 0);
            QCOMPARE(readTestFile(detectionMarkPath()), QByteArray("slot 2 side 0  \n"));
        }
        DetectionMarkFile again;
        const DetectionMark back = again.open();
        QCOMPARE(back.slot, 2);
        QVERIFY(!back.damaged);
        again.clear();
        QCOMPARE(readTestFile(detectionMarkPath()), QByteArray("none           \n"));
        QCOMPARE(DetectionMarkFile().open().slot, -1);
    }

    // What stands at the mark's path is looked at before it is opened: a FIFO (directly or through a
    // link) would stop the start for good, a device would read forever. Damaged at every start, never
    // opened, never replaced, the log naming what it is. A garbled mark of mode 000 is made again with a
    // new file's mode, so that the next start reads it.
    void specialFileAtTheMarksPath_data()
    {
        QTest::addColumn<QString>("layout");
        QTest::addColumn<QString>("type"); // as the log names it; empty for the plain file
        QTest::newRow("FIFO") << QStringLiteral("fifo") << QStringLiteral("a FIFO");
        QTest::newRow("link to a FIFO") << QStringLiteral("link to fifo") << QStringLiteral("a FIFO");
        QTest::newRow("link to /dev/zero")
            << QStringLiteral("/dev/zero") << QStringLiteral("a character device");
        QTest::newRow("garbled, mode 000") << QStringLiteral("mode 000") << QString();
    }
    void specialFileAtTheMarksPath()
    {
        QFETCH(QString, layout);
        QFETCH(QString, type);
        TestWorkDir dir;
        const QByteArray path = QFile::encodeName(detectionMarkPath());
        if (layout.contains(QLatin1String("fifo")))
            QCOMPARE(::mkfifo(layout == QLatin1String("fifo") ? path.constData() : "elsewhere", 0644), 0);
        if (layout == QLatin1String("link to fifo"))
            QCOMPARE(::symlink("elsewhere", path.constData()), 0);
        if (layout == QLatin1String("/dev/zero"))
            QCOMPARE(::symlink("/dev/zero", path.constData()), 0);
        if (type.isEmpty()) {
            QVERIFY(writeTestFile(detectionMarkPath(), "garbage\n"));
            QCOMPARE(::chmod(path.constData(), 0), 0);
            QVERIFY(DetectionMarkFile().open().damaged);
            const mode_t mask = ::umask(0);
            ::umask(mask);
            struct stat st;
            QCOMPARE(::stat(path.constData(), &st), 0);
            QCOMPARE(st.st_mode & 07777, 0666 & ~mask);
            QCOMPARE(readTestFile(detectionMarkPath()), kNone);
            return;
        }
        const QString said =
            QStringLiteral("detectionmark.txt is %1 and not a plain file: taken as a detection cut "
                           "short, judged before the clamp may close; no mark is kept this run, "
                           "and every start judges until it is removed")
                .arg(type);
        for (int start = 0; start < 2; ++start) {
            QTest::ignoreMessage(QtCriticalMsg, qPrintable(said));
            DetectionMarkFile file;
            const DetectionMark mark = file.open();
            QVERIFY(mark.damaged && mark.slot == -1);
            file.set(2, 0);
        }
        struct stat st;
        QCOMPARE(::stat(path.constData(), &st), 0);
        QVERIFY(!S_ISREG(st.st_mode));
    }

    // Each slot mark is synced to the disk by the mark's own thread, never the caller's: the writes go
    // on while a sync is under way, and however many come meanwhile, one more sync follows, no more.
    // "none" asks for none.
    void markSyncedOffTheCallersThread()
    {
        TestWorkDir dir;
        std::mutex mutex;
        std::condition_variable wake;
        bool release = false;
        int calls = 0;
        bool syncedWhole = true;
        QList<std::thread::id> threads;
        DetectionMarkFile file;
        file.setSyncFunction([&](int fd) {
            const int rc = ::fdatasync(fd);
            std::unique_lock<std::mutex> lock(mutex);
            ++calls;
            threads << std::this_thread::get_id();
            syncedWhole = syncedWhole && rc == 0;
            wake.notify_all();
            wake.wait(lock, [&] { return release; });
            return rc;
        });
        // A failing check must not leave the sync held: the file's end waits for it.
        const std::shared_ptr<void> unblock(nullptr, [&](void *) {
            std::lock_guard<std::mutex> lock(mutex);
            release = true;
            wake.notify_all();
        });
        QCOMPARE(file.open().slot, -1);
        file.clear();
        file.set(1, 1);
        {
            std::unique_lock<std::mutex> lock(mutex);
            QVERIFY(wake.wait_for(lock, std::chrono::seconds(10), [&] { return calls == 1; }));
        }
        // The first sync is held: the marks are written all the same, and none waits for it.
        file.set(0, 1);
        file.set(3, 0);
        file.clear();
        file.set(2, 0);
        QCOMPARE(readTestFile(detectionMarkPath()), QByteArray("slot 2 side 0  \n"));
        {
            std::lock_guard<std::mutex> lock(mutex);
            QCOMPARE(calls, 1);
            release = true;
            wake.notify_all();
        }
        file.stopSync();
        QCOMPARE(calls, 2);
        QVERIFY(syncedWhole);
        for (const std::thread::id &id : threads)
            QVERIFY(id != std::this_thread::get_id());

        // "none" alone is never synced.
        DetectionMarkFile none;
        int noneCalls = 0;
        none.setSyncFunction([&](int) { return ++noneCalls, 0; });
        QCOMPARE(none.open().slot, 2);
        none.clear();
        none.clear();
        none.stopSync();
        QCOMPARE(noneCalls, 0);
    }

    // What reaches the disk by the time the mark's thread has ended: the last slot mark, whichever
    // slot came first and whether the stop came while a sync was still under way. The sync function
    // keeps the record the file holds at each sync.
    void lastSlotMarkSyncedBeforeTheEnd_data()
    {
        QTest::addColumn<QList<int>>("marks"); // slots marked, side 1, in order; the first sync is held
        QTest::addColumn<bool>("stopWhileHeld");
        QTest::addColumn<QByteArrayList>("synced");
        QTest::newRow("first mark of slot 0, nothing else")
            << QList<int>{0} << false << QByteArrayList{"slot 0 side 1  \n"};
        QTest::newRow("slot 0 written during the first sync, stop asked before that sync ends")
            << QList<int>{1, 0} << true << QByteArrayList{"slot 1 side 1  \n", "slot 0 side 1  \n"};
    }
    void lastSlotMarkSyncedBeforeTheEnd()
    {
        QFETCH(QList<int>, marks);
        QFETCH(bool, stopWhileHeld);
        QFETCH(QByteArrayList, synced);
        TestWorkDir dir;
        std::mutex mutex;
        std::condition_variable wake;
        bool release = false;
        QByteArrayList onDisk;
        DetectionMarkFile file;
        file.setSyncFunction([&](int) {
            const QByteArray record = readTestFile(detectionMarkPath());
            std::unique_lock<std::mutex> lock(mutex);
            onDisk << record;
            wake.notify_all();
            wake.wait(lock, [&] { return release; });
            return 0;
        });
        const std::shared_ptr<void> unblock(nullptr, [&](void *) {
            std::lock_guard<std::mutex> lock(mutex);
            release = true;
            wake.notify_all();
        });
        QCOMPARE(file.open().slot, -1);
        file.set(marks.first(), 1);
        {
            std::unique_lock<std::mutex> lock(mutex);
            QVERIFY2(wake.wait_for(lock, std::chrono::seconds(10), [&] { return !onDisk.isEmpty(); }),
                     "the first slot mark was never synced");
        }
        for (int i = 1; i < marks.size(); ++i)
            file.set(marks.at(i), 1);
        std::thread stopper;
        if (stopWhileHeld) {
            // The stop is asked while the first sync is still held (it waits for it); the pause lets it
            // get that far before the sync ends.
            stopper = std::thread([&] { file.stopSync(); });
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        {
            std::lock_guard<std::mutex> lock(mutex);
            release = true;
            wake.notify_all();
        }
        if (stopper.joinable())
            stopper.join();
        file.stopSync();
        std::lock_guard<std::mutex> lock(mutex);
        QCOMPARE(onDisk, synced);
    }

    // The mark of an opening the I/O thread counted, on a turntable (input 0: left mould, slot 1;
    // input 3: right mould, slot 3). Steps, in order: "open N" the board counts an opening of input N,
    // "take N" a pass reads and takes it, "start N" the cycle's start by input N (its mark set, which
    // covers the openings of N it took), "judged" that cycle's verdict (the mark cleared), "set S M"
    // and "clear" the cycle's own marks, "ask N" the I/O thread's request for input N, which the mark's
    // thread serves before it ends; "product" an opening's mark names the product slot, "hold" the
    // syncs wait until "release", "held" one of them has begun. What is on disk then, and whether the
    // mark's thread synced (-1: the cycle's own slot marks sync too, not asked).
    void openingMark_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QByteArray>("onDisk");
        QTest::addColumn<int>("synced");
        QTest::newRow("opening not yet read: its mark, synced")
            << "open 0, ask 0" << QByteArray("slot 1 side 1  \n") << 1;
        QTest::newRow("right mould's input") << "open 3, ask 3" << QByteArray("slot 3 side 0  \n") << 1;
        QTest::newRow("request after the cycle's verdict: nothing")
            << "open 0, take 0, start 0, judged, ask 0" << kNone << -1;
        QTest::newRow("request after a pass took it and returned without a cycle: its mark, synced")
            << "open 0, take 0, ask 0" << QByteArray("slot 1 side 1  \n") << 1;
        QTest::newRow("request after its cycle's mark is on disk: that mark kept")
            << "open 0, take 0, start 0, ask 0" << QByteArray("slot 1 side 1  \n") << -1;
        QTest::newRow("verdict of a cycle that started before the opening: that opening's mark")
            << "open 3, take 3, start 3, open 0, take 0, judged" << QByteArray("slot 1 side 1  \n") << -1;
        QTest::newRow("verdict of a cycle that started after the opening: none")
            << "open 3, open 0, take 0, start 0, judged, ask 3" << kNone << -1;
        QTest::newRow("no opening counted (a glitch the I/O thread never asks for): nothing")
            << "ask 0" << kNone << 0;
        QTest::newRow("input that starts no cycle: nothing") << "open 1, ask 1" << kNone << 0;
        QTest::newRow("a slot mark on disk already: kept")
            << "set 0 1, open 0, ask 0" << QByteArray("slot 0 side 1  \n") << -1;
        QTest::newRow("the cycle's clear racing a fresh opening: that opening's mark")
            << "set 0 1, open 0, clear" << QByteArray("slot 1 side 1  \n") << -1;
        QTest::newRow("cleared again once the cycle took it")
            << "set 0 1, open 0, clear, take 0, start 0, judged" << kNone << -1;
        QTest::newRow("taken without a cycle: the clear keeps that opening's mark")
            << "set 0 1, open 0, take 0, clear" << QByteArray("slot 1 side 1  \n") << -1;
        QTest::newRow("clear with openings of both inputs waiting: input 0's mark")
            << "set 0 1, open 3, open 0, clear" << QByteArray("slot 1 side 1  \n") << -1;
        QTest::newRow(
            "product detection on: the cycle's clear racing a fresh opening leaves its slot 0 mark")
            << "product, set 1 1, open 0, clear" << QByteArray("slot 0 side 1  \n") << -1;
        QTest::newRow("a slot mark's sync held, another slot mark, a clear, an opening's request, the sync "
                      "released: the opening's mark")
            << "hold, set 0 1, held, set 3 0, clear, open 0, ask 0, release"
            << QByteArray("slot 1 side 1  \n") << 2;
    }
    void openingMark()
    {
        QFETCH(QString, steps);
        QFETCH(QByteArray, onDisk);
        QFETCH(int, synced);
        TestWorkDir dir;
        Board board;
        std::atomic<int> syncs{0};
        // "hold": syncs from then on wait for "release"; "held": one of them has begun.
        std::mutex mutex;
        std::condition_variable wake;
        bool holding = false;
        bool released = false;
        int begun = 0;
        DetectionMarkFile file;
        file.setSyncFunction([&](int fd) {
            {
                std::unique_lock<std::mutex> lock(mutex);
                begun += holding ? 1 : 0;
                wake.notify_all();
                wake.wait(lock, [&] { return !holding || released; });
            }
            ++syncs;
            return ::fdatasync(fd);
        });
        // A failing check must not leave a sync held: the file's end waits for it.
        const std::shared_ptr<void> unblock(nullptr, [&](void *) {
            std::lock_guard<std::mutex> lock(mutex);
            released = true;
            wake.notify_all();
        });
        QCOMPARE(file.open().slot, -1);
        file.setCycleStartMarkSource(turntableMarks);
        file.installCycleStartMarkHook();
        for (const QString &step : steps.split(QStringLiteral(", "))) {
            const QStringList word = step.split(' ');
            const int n = word.value(1).toInt();
            if (word[0] == QLatin1String("product")) {
                // The product slot (0) is judged first: an opening's mark names it.
                file.setCycleStartMarkSource([] {
                    CycleStartMarks marks;
                    marks[0] = DetectionMark{0, 1};
                    return marks;
                });
            } else if (word[0] == QLatin1String("hold")) {
                std::lock_guard<std::mutex> lock(mutex);
                holding = true;
            } else if (word[0] == QLatin1String("held")) {
                std::unique_lock<std::mutex> lock(mutex);
                QVERIFY2(wake.wait_for(lock, std::chrono::seconds(10), [&] { return begun > 0; }),
                         "no sync began");
            } else if (word[0] == QLatin1String("release")) {
                std::lock_guard<std::mutex> lock(mutex);
                released = true;
                wake.notify_all();
            } else if (word[0] == QLatin1String("open"))
                board.opening(n);
            else if (word[0] == QLatin1String("take"))
                board.cycleTakes(n);
            else if (word[0] == QLatin1String("start")) {
                file.set(turntableMarks()[size_t(n)].slot, turntableMarks()[size_t(n)].moldSide);
                board.cycleStarted(n);
            } else if (word[0] == QLatin1String("judged")) {
                board.cycleJudged();
                file.clear();
            } else if (word[0] == QLatin1String("set"))
                file.set(n, word.value(2).toInt());
            else if (word[0] == QLatin1String("clear"))
                file.clear();
            else if (word[0] == QLatin1String("ask"))
                requestCycleStartMark(n); // through the I/O thread's hook
            else
                QFAIL(qPrintable(step));
        }
        file.stopSync();
        QCOMPARE(readTestFile(detectionMarkPath()), onDisk);
        if (synced >= 0)
            QCOMPARE(syncs.load(), synced);
    }

    // The I/O thread counts openings and asks for their marks while the GUI thread takes them, starts
    // their cycles and clears, and the file is destroyed while requests still come: every record on disk
    // is whole, the I/O side never waits, and once every opening's cycle is judged the file reads "none".
    // Run under ThreadSanitizer by scripts/tsan.sh.
    void openingMarkAgainstTheCycle()
    {
        TestWorkDir dir;
        Board board;
        std::atomic<bool> stop{false};
        std::atomic<int> asked{0};
        std::thread io([&] {
            qint64 ms = 5000;
            for (int n = 0; !stop.load(); ++n) {
                {
                    MutexLocker lock(gIoMutex);
                    gIoEntryWatch.statusFrame(n % 2 ? 1u : 0u, ms += 5);
                }
                if (n % 2) {
                    requestCycleStartMark(0);
                    ++asked;
                }
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        });
        for (int round = 0; round < 3; ++round) {
            auto file = std::make_unique<DetectionMarkFile>();
            file->open();
            file->setCycleStartMarkSource(turntableMarks);
            file->installCycleStartMarkHook();
            // Until the I/O side has asked 100 times more, at least 300 steps.
            const int until = asked.load() + 100;
            for (int n = 0; n < 300 || asked.load() < until; ++n) {
                if (n % 3 == 0)
                    board.cycleTakes(0);
                if (n % 3 == 1) {
                    file->set(1, 1);
                    board.cycleStarted(0);
                }
                if (n % 3 == 2) {
                    board.cycleJudged();
                    file->clear();
                }
                DetectionMark mark;
                QVERIFY(parseDetectionMark(readTestFile(detectionMarkPath()), &mark));
            }
            if (round == 2) {
                stop = true;
                io.join();
                board.cycleTakes(0);
                file->set(1, 1);
                board.cycleStarted(0);
                board.cycleJudged();
                file->clear();
                file->stopSync();
                QCOMPARE(readTestFile(detectionMarkPath()), kNone);
            }
            file.reset(); // while requests may still come in rounds 0 and 1
        }
        QVERIFY(asked.load() >= 300);
    }
};

QTEST_GUILESS_MAIN(TestDetectionMark)
#include "tst_detectionmark_thread.moc"

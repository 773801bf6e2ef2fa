// The mark of a detection under way on disk ("detectionmark.txt"): what a start reads back from what a
// stop, a power cut or a damaged disk left, and the sync of each slot mark, which runs on the mark's
// own thread so that the cycle never waits for the disk.

#include "detectionmark.h"
#include "testfiles.h"
#include "testworkdir.h"

#include <QFileInfo>
#include <QtTest>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <unistd.h>

class TestDetectionMark : public QObject
{
    Q_OBJECT

private slots:
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
};

QTEST_GUILESS_MAIN(TestDetectionMark)
#include "tst_detectionmark_thread.moc"

// "Save all as test images" behind the cycle: frames handed over while the disk is slow are queued up
// to the writer's bound and the rest dropped, counted in one log line a minute; what is queued is
// written under the names the cycle gave (the frame's time), pixel for pixel; a full disk costs only
// the frames it could not take.

#include "clock.h"
#include "frameimagewriter.h"
#include "testfiles.h"
#include "testimages.h"

#include <QDir>
#include <QMutex>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace {

std::atomic<qint64> gNowMs{1000000};
QMutex gLogMutex;
QStringList gLogged;

void captureLog(QtMsgType, const QMessageLogContext &, const QString &message)
{
    QMutexLocker lock(&gLogMutex);
    gLogged << message;
}

QStringList notSavedLines()
{
    QMutexLocker lock(&gLogMutex);
    return gLogged.filter(QStringLiteral("not saved"));
}

// A grey frame whose pixels tell it apart from the others.
QImage frame(int n)
{
    return greyIndexedImage(64, 48, [n](int x, int y) { return x * 3 + y + n * 17; });
}

QString nameOf(int n)
{
    return QStringLiteral("./originalimage/cammer11/template20261208-0930%1-000.bmp")
        .arg(n, 2, 10, QLatin1Char('0'));
}

// Holds every write until released, as a slow disk does.
struct SlowDisk
{
    std::mutex mutex;
    std::condition_variable changed;
    bool released = false;
    bool writing = false;
    QStringList paths;
    QList<QByteArray> files;

    FrameImageWriter::WriteFile write()
    {
        return [this](const QString &path, const QByteArray &bytes, QString *) {
            std::unique_lock<std::mutex> lock(mutex);
            writing = true;
            changed.notify_all();
            changed.wait(lock, [this] { return released; });
            paths << path;
            files << bytes;
            return true;
        };
    }
    bool waitWriting()
    {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(10), [this] { return writing; });
    }
    void release()
    {
        std::lock_guard<std::mutex> lock(mutex);
        released = true;
        changed.notify_all();
    }
};

} // namespace

class TestFrameImageWriter : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        setAppMonotonicClock([] { return gNowMs.load(); });
    }
    void cleanupTestCase() { setAppMonotonicClock({}); }
    void init()
    {
        QMutexLocker lock(&gLogMutex);
        gLogged.clear();
    }

    void fullQueueDropsAndLogsOnceAMinute()
    {
        SlowDisk disk;
        const QtMessageHandler previous = qInstallMessageHandler(captureLog);
        {
            FrameImageWriter writer(4, disk.write());
            // The first frame is taken at once and held by the disk; four more fill the queue.
            QVERIFY(writer.enqueue(frame(0), nameOf(0)));
            QVERIFY(disk.waitWriting());
            for (int n = 1; n <= 4; ++n)
                QVERIFY(writer.enqueue(frame(n), nameOf(n)));
            // The cycle goes on while the disk is stuck: later frames are dropped, not waited for.
            QVERIFY(!writer.enqueue(frame(5), nameOf(5)));
            QVERIFY(!writer.enqueue(frame(6), nameOf(6)));
            QCOMPARE(notSavedLines().size(), 1);
            gNowMs += FrameImageWriter::kLogPeriodMs - 1;
            QVERIFY(!writer.enqueue(frame(7), nameOf(7)));
            QCOMPARE(notSavedLines().size(), 1);
            gNowMs += 1;
            QVERIFY(!writer.enqueue(frame(8), nameOf(8)));
            QCOMPARE(notSavedLines().size(), 2);
            QVERIFY2(notSavedLines().last().startsWith(QStringLiteral("3 ")),
                     qPrintable(notSavedLines().last()));
            QCOMPARE(writer.droppedFrames(), quint64(4));

            disk.release();
            QVERIFY(writer.waitIdle(10000));
            // Room again once the disk caught up.
            QVERIFY(writer.enqueue(frame(9), nameOf(9)));
            QVERIFY(writer.waitIdle(10000));
        }
        qInstallMessageHandler(previous);
        QCOMPARE(disk.paths,
                 (QStringList{nameOf(0), nameOf(1), nameOf(2), nameOf(3), nameOf(4), nameOf(9)}));
        const QList<int> kept{0, 1, 2, 3, 4, 9};
        for (int i = 0; i < kept.size(); ++i) {
            const QImage read = QImage::fromData(disk.files.at(i), "BMP");
            QCOMPARE(read.size(), QSize(64, 48));
            QCOMPARE(read.convertToFormat(QImage::Format_Grayscale8),
                     frame(kept.at(i)).convertToFormat(QImage::Format_Grayscale8));
        }
    }

    // The real writer on a full disk: every frame fails, is counted and leaves no file or temporary
    // behind, and the writer keeps taking frames rather than waiting for room.
    void fullDiskLeavesNothingAndKeepsTakingFrames()
    {
#ifdef __SANITIZE_THREAD__
        QSKIP("ThreadSanitizer cannot start threads in a child forked from a process with threads");
#endif
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("originalimage/cammer11")));
        const QString previousDir = QDir::currentPath();
        QDir::setCurrent(dir.path());
        const int result = runWithFileSizeLimit(1000, [] {
            FrameImageWriter writer;
            for (int n = 0; n < 3; ++n)
                if (!writer.enqueue(frame(n), nameOf(n)))
                    return 101;
            if (!writer.waitIdle(10000))
                return 100;
            return int(writer.failedFrames());
        });
        QDir::setCurrent(previousDir);
        QCOMPARE(result, 3);
        QCOMPARE(QDir(dir.filePath(QStringLiteral("originalimage/cammer11")))
                     .entryList(QDir::Files | QDir::Hidden),
                 QStringList());
    }
};

QTEST_GUILESS_MAIN(TestFrameImageWriter)
#include "tst_frameimagewriter_thread.moc"

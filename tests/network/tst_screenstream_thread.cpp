// The screen stream as an outside reader sees it: the I420 frame in the segment found by the ftok
// keys, under the semaphore; the semaphore's value across restarts; a reader that keeps the semaphore
// while the stream stops; and the streaming thread running while the watchdog replaces the reactor.

#include "clock.h"
#include "fakepeers.h"
#include "qornetmn.h"
#include "tcptestpair.h"
#include "testworkdir.h"

#include <QDir>
#include <QJsonDocument>
#include <QLabel>
#include <QPointer>
#include <QtTest>

#include <opencv2/imgproc.hpp>

#include <cstring>
#include <memory>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/shm.h>

namespace {
constexpr int kWidth = 64;
constexpr int kHeight = 48;

// A link in state 1 against a fake reporting process, streaming segments keyed in its own folder.
struct ReadyLink
{
    TestWorkDir dir{TestWorkDir::Empty};
    FakePeer peer;
    CommandLog log;
    std::unique_ptr<QOR_NETMN> link;
    QLabel screen;

    ReadyLink()
    {
        setCommandRunner(&log);
        QDir().mkpath("cnt_net");
        QFile config("cnt_net/config.json");
        config.open(QIODevice::WriteOnly);
        config.write(R"({"device_worknetfunc": true})");
        config.close();
        peer.answer = reportingProcess(true);
        QOR_NETMN::reportPort = freeLoopbackPort();
        QOR_NETMN::ipcKeyPath = dir.path();
        peer.listen(QOR_NETMN::reportPort);
        link.reset(new QOR_NETMN);
        screen.setText("mould 7 OK");
        screen.setStyleSheet("background: rgb(30, 120, 200); color: yellow;");
        screen.setFixedSize(kWidth, kHeight);
        reportLinkHooks().grabWidget = [this]() -> QWidget * { return &screen; };
    }
    ~ReadyLink()
    {
        link.reset();
        // Also after a failed check: no segment or semaphore of a test outlives it.
        const int shmid = shmget(key(1000), 0, 0);
        const int semid = semget(key(2000), 0, 0);
        if (shmid >= 0)
            shmctl(shmid, IPC_RMID, nullptr);
        if (semid >= 0)
            semctl(semid, 0, IPC_RMID);
        reportLinkHooks() = ReportLinkHooks();
        setCommandRunner(nullptr);
        QOR_NETMN::ipcKeyPath = "/tmp";
    }
    bool connect()
    {
        if (!link->start(QHostAddress::LocalHost, QOR_NETMN::reportPort))
            return false;
        link->sendHeartbeat();
        return waitUntil([&] { return link->state() == 1; });
    }
    key_t key(int number) const { return ftok(QFile::encodeName(dir.path()).constData(), number); }
};

// The outside reader: attaches by key, takes the semaphore, copies the frame, gives it back.
QByteArray readFrame(key_t shmKey, key_t semKey, int size)
{
    const int shmid = shmget(shmKey, 0, 0);
    const int semid = semget(semKey, 0, 0);
    if (shmid < 0 || semid < 0)
        return QByteArray();
    void *address = shmat(shmid, nullptr, SHM_RDONLY);
    if (address == reinterpret_cast<void *>(-1))
        return QByteArray();
    sembuf take{0, -1, 0}, give{0, 1, 0};
    semop(semid, &take, 1);
    const QByteArray frame(static_cast<const char *>(address), size);
    semop(semid, &give, 1);
    shmdt(address);
    return frame;
}

QByteArray expectedI420(QWidget &widget)
{
    const QImage grab = widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const cv::Mat bgra(grab.height(), grab.width(), CV_8UC4, const_cast<uchar *>(grab.constBits()),
                       size_t(grab.bytesPerLine()));
    cv::Mat i420;
    cv::cvtColor(bgra, i420, cv::COLOR_BGRA2YUV_I420);
    return QByteArray(reinterpret_cast<const char *>(i420.data), int(i420.total()));
}

void removeIpcObjects(const ScreenStreamSegment &seg)
{
    shmctl(seg.shmid, IPC_RMID, nullptr);
    semctl(seg.semid, 0, IPC_RMID);
}
} // namespace

class TestScreenStreamThread : public QObject
{
    Q_OBJECT
private slots:
    void readerSeesTheGrab();
    void restartsKeepSemaphoreAtOne();
    void readerHoldingSemaphoreWhileStopping();
    void streamingWhileReactorReplaced();
};

void TestScreenStreamThread::readerSeesTheGrab()
{
    ReadyLink rig;
    QVERIFY(rig.connect());
    rig.link->createShm(0, kWidth, kHeight);
    const ScreenStreamSegment seg = rig.link->segments.value(0);
    QCOMPARE(seg.size, kWidth * kHeight * 3 / 2);
    QCOMPARE(seg.shmid, shmget(rig.key(1000), 0, 0));
    QCOMPARE(seg.semid, semget(rig.key(2000), 0, 0));
    rig.link->restartVideo(true);
    const QByteArray expected = expectedI420(rig.screen);
    QVERIFY(waitUntil([&] { return readFrame(rig.key(1000), rig.key(2000), seg.size) == expected; }));

    // Frames that do not fit the segment are skipped; so is every frame of a segment with an odd side.
    VideoThread *video = rig.link->videoThread.data();
    QVERIFY(!video->writeFrameToShm(0, QImage(kWidth + 2, kHeight, QImage::Format_RGB32)));
    QVERIFY(!video->writeFrameToShm(1, QImage(kWidth, kHeight, QImage::Format_RGB32)));
    QVERIFY(video->writeFrameToShm(0, rig.screen.grab().toImage()));
    rig.link->restartVideo(false);
    removeIpcObjects(seg);
    rig.link->createShm(0, kWidth - 1, kHeight);
    rig.link->restartVideo(true);
    QVERIFY(!rig.link->videoThread->writeFrameToShm(0, QImage(kWidth - 1, kHeight, QImage::Format_RGB32)));
    rig.link->restartVideo(false);
    removeIpcObjects(rig.link->segments.value(0));
}

void TestScreenStreamThread::restartsKeepSemaphoreAtOne()
{
    ReadyLink rig;
    QVERIFY(rig.connect());
    QPointer<VideoThread> first;
    for (int round = 0; round < 3; ++round) {
        rig.link->createShm(0, kWidth, kHeight);
        rig.link->restartVideo(true);
        if (!first)
            first = rig.link->videoThread;
        QTest::qWait(200);
    }
    rig.link->restartVideo(false);
    QVERIFY(waitUntil([&] { return first.isNull(); }));
    ScreenStreamSegment ids;
    ids.shmid = rig.link->segments.value(0).shmid;
    ids.semid = rig.link->segments.value(0).semid;
    rig.link->segments.clear(); // the last record holding the semaphore and the mapping goes
    QCOMPARE(semctl(ids.semid, 0, GETVAL), 1);
    shmid_ds info{};
    QCOMPARE(shmctl(ids.shmid, IPC_STAT, &info), 0);
    QCOMPARE(int(info.shm_nattch), 0); // every restart's mapping was detached
    removeIpcObjects(ids);
}

void TestScreenStreamThread::readerHoldingSemaphoreWhileStopping()
{
    ReadyLink rig;
    QVERIFY(rig.connect());
    rig.link->createShm(0, kWidth, kHeight);
    rig.link->restartVideo(true);
    const ScreenStreamSegment seg = rig.link->segments.value(0);
    sembuf take{0, -1, 0}, give{0, 1, 0};
    QCOMPARE(semop(seg.semid, &take, 1), 0); // a reader that does not give it back
    QTest::qWait(300);
    QPointer<VideoThread> video = rig.link->videoThread.data();
    QElapsedTimer timer;
    timer.start();
    rig.link->restartVideo(false);
    QVERIFY(waitUntil([&] { return video.isNull(); }));
    QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(semop(seg.semid, &give, 1), 0);
    removeIpcObjects(seg);
}

void TestScreenStreamThread::streamingWhileReactorReplaced()
{
    ReadyLink rig;
    QVERIFY(rig.connect());
    rig.link->createShm(0, kWidth, kHeight);
    rig.link->restartVideo(true);
    const ScreenStreamSegment seg = rig.link->segments.value(0);
    // The watchdog's reconnect, over and over, while the streaming thread reads the state.
    for (int i = 0; i < 15; ++i) {
        QVERIFY(rig.link->start(QHostAddress::LocalHost, QOR_NETMN::reportPort));
        rig.link->sendHeartbeat();
        QVERIFY(waitUntil([&] { return rig.link->state() == 1; }));
        QTest::qWait(30);
    }
    QCOMPARE(readFrame(rig.key(1000), rig.key(2000), seg.size), expectedI420(rig.screen));
    rig.link->restartVideo(false);
    removeIpcObjects(seg);
}

QTEST_MAIN(TestScreenStreamThread)
#include "tst_screenstream_thread.moc"

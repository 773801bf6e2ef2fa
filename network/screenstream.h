#pragma once
// The screen as a video source for the outside streaming process: one I420 frame of the screen in a
// System V shared-memory segment, guarded by a System V semaphore that the reader takes as well.
// ScreenStreamSegment describes one stream's segment, SemLock is the semaphore, and VideoThread copies
// the latest grab of the main window into the segment every 80 ms while the report link is ready.
//
// Threads: SemLock and the segment records are made and dropped on the GUI thread; VideoThread's
// copies of them are read on its streaming thread. VideoThread: construction, stop, destruction and
// updateData_main2cache on the GUI thread; run and writeFrameToShm on the streaming thread. The cache
// mutex guards the cache. The streaming thread never touches the report link's reactor: it reads the
// link state through one atomic (QOR_NETMN::state from another thread).

#include <QImage>
#include <QMap>
#include <QMutex>
#include <QSharedPointer>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <memory>

class QOR_NETMN;

// One System V semaphore set of one semaphore. Destruction leaves the semaphore's value alone: adding
// to it there (as an undo) let writer and reader in together after a restart.
class SemLock
{
public:
    explicit SemLock(int key);
    // semget(key, count, IPC_CREAT | 0666), then value 1. Returns the semget result.
    int create(int count);
    // Opens an existing set (semid stays -1 when there is none).
    void open();
    // Waits at most timeoutMs (80 by default) for the semaphore; false on time-out or error, and then
    // the caller skips its frame. True at once when there is no semaphore.
    bool lock(int timeoutMs = 80);
    void unlock();
    // Gives back with SEM_UNDO; nothing in the streamer calls it.
    void unlockUndo();

    const int key;
    int semid = -1;
};

// One stream's segment as announced to the reporting process.
struct ScreenStreamSegment
{
    int id = 0;
    int width = 0;
    int height = 0;
    int size = 0;   // (width * height * 3) / 2
    int shmid = -1; // -1: no usable segment (shmget or shmat failed)
    int semid = -1;
    void *address = nullptr;
    QSharedPointer<SemLock> semaphore;
    int fps = 20;
    // Detaches the mapping (shmdt) when the last record copy that holds it goes.
    std::shared_ptr<void> attachment;
};

// The key ftok gets for a stream: the decimal digits of `prefix` followed by those of `id`.
int streamKeyNumber(int prefix, int id);

class VideoThread : public QThread
{
    Q_OBJECT
public:
    // Copies the segment map and starts grabbing (80 ms timer) and streaming while `link` (which must
    // outlive the thread) reports state 1.
    VideoThread(const QMap<int, ScreenStreamSegment> &segments, QOR_NETMN *link, QObject *parent = nullptr);
    ~VideoThread() override;

    // Stops the grab timer, asks the loop to end and waits up to 100 ms. The object may be deleted
    // only once the thread has finished (Qt aborts on a running one): see QOR_NETMN::restartVideo.
    void stop();
    // Converts a BGRA frame to I420 and copies it into segment `id` under its semaphore. A frame of
    // another size, a segment with an odd side or without shmid or semid is skipped. False when nothing
    // was written.
    bool writeFrameToShm(int id, const QImage &frame);

public slots:
    // GUI thread: grabs the main window into cache entry 0.
    void updateData_main2cache();

protected:
    void run() override;

private:
    std::atomic<bool> m_running{true};
    QTimer *m_timer;
    const QMap<int, ScreenStreamSegment> m_segments;
    QOR_NETMN *const m_link;
    QMap<int, QImage> m_cache; // cache mutex
    QMutex m_cacheMutex;
};

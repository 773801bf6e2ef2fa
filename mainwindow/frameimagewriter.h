#pragma once
// The writer of "Save all as test images": the machine cycle hands it a copy of each frame with its
// file name (which carries the frame's time) and goes on at once; a thread of its own encodes the
// BMP and writes it. The queue holds a bounded number of frames: a frame that finds it full is
// dropped, and the drops are counted in one log line a minute, so a slow or full disk never holds up
// the cycle and never fills the memory.
//
// Threads: enqueue and the constructor and destructor run on the GUI thread; the writing runs on the
// writer's own thread. `m_mutex` guards the queue and the stop flag; the counters are atomic.

#include <QImage>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class FrameImageWriter
{
public:
    // Sixteen frames: two slots of eight cameras, about 21 MB of grey 1280 x 1024 frames.
    static constexpr int kDefaultCapacity = 16;
    static constexpr qint64 kLogPeriodMs = 60 * 1000;

    // Writes one encoded file; the atomic file writer unless a test puts another in. Writer thread.
    using WriteFile = std::function<bool(const QString &path, const QByteArray &bytes, QString *error)>;

    explicit FrameImageWriter(int capacity = kDefaultCapacity, WriteFile write = {});
    // Ends the thread once the frame being written is done; frames still queued are not written.
    ~FrameImageWriter();

    // Queues a copy of `image` for `path`; false (and counted) when the queue is full.
    bool enqueue(const QImage &image, const QString &path);

    // Until the queue is empty and nothing is being written, at most timeoutMs; true when idle.
    bool waitIdle(int timeoutMs);

    quint64 droppedFrames() const { return m_dropped.load(); }
    quint64 failedFrames() const { return m_failed.load(); }

private:
    struct Frame
    {
        QImage image;
        QString path;
    };
    void run();
    // Whether a minute has passed since `lastLogMs` (then set to now); the first call always logs.
    static bool logDue(qint64 &lastLogMs);

    const int m_capacity;
    const WriteFile m_write;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<Frame> m_queue; // m_mutex
    bool m_busy = false;       // m_mutex: a frame is being written
    bool m_stop = false;       // m_mutex
    std::atomic<quint64> m_dropped{0};
    std::atomic<quint64> m_failed{0};
    // GUI thread only.
    qint64 m_dropLogMs = -1;
    quint64 m_droppedUnlogged = 0;
    // Writer thread only.
    qint64 m_failLogMs = -1;
    quint64 m_failedUnlogged = 0;
    std::thread m_thread;
};

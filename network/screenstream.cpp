#include "screenstream.h"
#include "mutexlocker.h" // also MG_THREAD_SANITIZER
#include "networklog.h"
#include "qornetmn.h"

#include <QElapsedTimer>
#include <QWidget>

#include <opencv2/imgproc.hpp>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <sys/ipc.h>
#include <sys/sem.h>

namespace {
constexpr int kPeriodUs = 80000;

// Only stream 0, the screen, is ever grabbed.
constexpr int kScreenStream = 0;
} // namespace

int streamKeyNumber(int prefix, int id)
{
    return QStringLiteral("%1%2").arg(prefix).arg(id).toInt();
}

SemLock::SemLock(int key) : key(key) {}

int SemLock::create(int count)
{
    const int result = semget(key, count, IPC_CREAT | 0666);
    if (result >= 0 && semctl(result, 0, SETVAL, 1) == 0)
        semid = result;
    return result;
}

void SemLock::open()
{
    const int result = semget(key, 0, 0);
    if (result >= 0)
        semid = result;
}

bool SemLock::lock(int timeoutMs)
{
    if (semid == -1)
        return true;
    sembuf op{0, -1, 0};
    timespec wait{timeoutMs / 1000, long(timeoutMs % 1000) * 1000000L};
    // A reader that keeps the semaphore costs this frame, never the streaming loop or shutdown.
    while (semtimedop(semid, &op, 1, &wait) != 0) {
        if (errno != EINTR)
            return false;
    }
#ifdef MG_THREAD_SANITIZER
    // ThreadSanitizer does not see a System V semaphore order two writers of this process.
    __tsan_acquire(this);
#endif
    return true;
}

void SemLock::unlock()
{
    if (semid == -1)
        return;
#ifdef MG_THREAD_SANITIZER
    __tsan_release(this);
#endif
    sembuf op{0, 1, 0};
    semop(semid, &op, 1);
}

void SemLock::unlockUndo()
{
    if (semid == -1)
        return;
    sembuf op{0, 1, SEM_UNDO};
    semop(semid, &op, 1);
}

VideoThread::VideoThread(const QMap<int, ScreenStreamSegment> &segments, QOR_NETMN *link, QObject *parent)
    : QThread(parent), m_timer(new QTimer(this)), m_segments(segments), m_link(link)
{
    connect(m_timer, &QTimer::timeout, this, &VideoThread::updateData_main2cache);
    m_timer->start(80);
    start(QThread::InheritPriority);
}

VideoThread::~VideoThread()
{
    // Reached only after the thread ended (see stop); waiting here keeps a mistake from aborting.
    m_running = false;
    wait();
}

void VideoThread::stop()
{
    m_timer->stop();
    m_running = false;
    wait(100);
}

void VideoThread::updateData_main2cache()
{
    for (auto it = m_segments.cbegin(); it != m_segments.cend(); ++it) {
        if (it.key() != kScreenStream)
            continue;
        QWidget *widget = reportLinkHooks().grabWidget ? reportLinkHooks().grabWidget() : nullptr;
        if (!widget)
            continue;
        const QImage image = widget->grab().toImage();
        if (image.isNull())
            continue;
        MutexLocker lock(&m_cacheMutex);
        m_cache.insert(it.key(), image);
    }
}

bool VideoThread::writeFrameToShm(int id, const QImage &frame)
{
    if (frame.isNull())
        return false;
    const auto it = m_segments.constFind(id);
    if (it == m_segments.cend() || it->shmid == -1 || it->semid == -1 || !it->address)
        return false;
    const ScreenStreamSegment &seg = *it;
    if (frame.width() != seg.width || frame.height() != seg.height || seg.width % 2 || seg.height % 2)
        return false;
    // The grab is a 32-bit image whose bytes run B, G, R, A on this platform.
    const QImage bgra = frame.format() == QImage::Format_RGB32 || frame.format() == QImage::Format_ARGB32 ||
                                frame.format() == QImage::Format_ARGB32_Premultiplied
                            ? frame
                            : frame.convertToFormat(QImage::Format_RGB32);
    const cv::Mat pixels(bgra.height(), bgra.width(), CV_8UC4, const_cast<uchar *>(bgra.constBits()),
                         size_t(bgra.bytesPerLine()));
    cv::Mat i420;
    cv::cvtColor(pixels, i420, cv::COLOR_BGRA2YUV_I420);
    if (!i420.isContinuous() || i420.total() * i420.elemSize() < size_t(seg.size))
        return false;
    if (!seg.semaphore || !seg.semaphore->lock())
        return false;
    std::memcpy(seg.address, i420.data, size_t(seg.size));
    seg.semaphore->unlock();
    return true;
}

void VideoThread::run()
{
    QElapsedTimer period;
    while (m_running) {
        period.start();
        if (m_link && m_link->state() == 1) {
            QList<int> ids;
            {
                MutexLocker lock(&m_cacheMutex);
                ids = m_cache.keys();
            }
            for (int id : qAsConst(ids)) {
                QImage frame;
                {
                    MutexLocker lock(&m_cacheMutex);
                    frame = m_cache.value(id);
                }
                writeFrameToShm(id, frame);
            }
        }
        const qint64 spentUs = period.nsecsElapsed() / 1000;
        if (spentUs < kPeriodUs && m_running)
            QThread::usleep(quint64(kPeriodUs - spentUs));
    }
}

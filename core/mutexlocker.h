#pragma once
// A QMutexLocker that ThreadSanitizer can see through. QMutex is implemented inside the Qt library,
// which is not built with ThreadSanitizer, so without help every pair of accesses that one QMutex
// guards on two threads is reported as a race. Lock mutexes shared with worker threads with this.
// Same threads and cost as QMutexLocker, and like it a null mutex locks nothing (a window built in a
// test before the process mutexes exist); the annotations exist only in the ThreadSanitizer build.

#include <QMutex>

#if defined(__SANITIZE_THREAD__)
#define MG_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define MG_THREAD_SANITIZER 1
#endif
#endif

#ifdef MG_THREAD_SANITIZER
#include <sanitizer/tsan_interface.h>
#endif

class MutexLocker
{
public:
    explicit MutexLocker(QMutex *mutex) : m_mutex(mutex)
    {
        if (!m_mutex)
            return;
        m_mutex->lock();
#ifdef MG_THREAD_SANITIZER
        __tsan_acquire(m_mutex);
#endif
    }
    ~MutexLocker()
    {
        if (!m_mutex)
            return;
#ifdef MG_THREAD_SANITIZER
        __tsan_release(m_mutex);
#endif
        m_mutex->unlock();
    }
    MutexLocker(const MutexLocker &) = delete;
    MutexLocker &operator=(const MutexLocker &) = delete;

private:
    QMutex *m_mutex;
};

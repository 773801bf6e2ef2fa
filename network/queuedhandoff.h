#pragma once
// ThreadSanitizer cannot see the QMutex inside Qt's posted-event queue that orders a queued call's post
// before its delivery, so every record the socket thread hands to another thread (and back) would be
// reported as a race. In the ThreadSanitizer build the poster releases one token right before posting
// and every event delivery acquires it; in every other build both are empty.
//
// Threads: any.

#include "mutexlocker.h"

#include <QtGlobal>

#ifdef MG_THREAD_SANITIZER
namespace queuedhandoff {
inline char token;
inline bool acquireOnDelivery(void **)
{
    __tsan_acquire(&token);
    return false; // deliver the event as usual
}
} // namespace queuedhandoff
#endif

// Call before emitting a signal that crosses threads or posting a queued call that carries data.
inline void releaseBeforeQueuedPost()
{
#ifdef MG_THREAD_SANITIZER
    __tsan_release(&queuedhandoff::token);
#endif
}

// Installs the delivery side once per process (any thread, before the first queued post).
inline void trackQueuedHandoffs()
{
#ifdef MG_THREAD_SANITIZER
    static const bool installed =
        QInternal::registerCallback(QInternal::EventNotifyCallback, &queuedhandoff::acquireOnDelivery);
    Q_UNUSED(installed);
#endif
}

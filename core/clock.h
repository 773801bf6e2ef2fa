#pragma once
// One clock for everything that depends on the date or on elapsed time, so tests can set it.

#include <QDateTime>
#include <functional>

// Local date and time now (any thread).
QDateTime appNow();

// Replaces the clock; an empty function restores the system clock. Tests only, before other threads run.
void setAppClock(std::function<QDateTime()> clock);

// Milliseconds of a clock that never goes back (any thread). Liveness, purges and time-outs measure
// with it, since the box's wall clock can be set back by the operator or by a time sync.
qint64 appMonotonicMs();

// Replaces the monotonic clock; an empty function restores the steady system clock. Tests only, before
// other threads read it (the function itself may return a value other threads change atomically).
void setAppMonotonicClock(std::function<qint64()> clock);

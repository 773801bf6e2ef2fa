#pragma once
// One clock for everything that depends on the date or on elapsed time, so tests can set it.

#include <QDateTime>
#include <functional>

// Local date and time now (any thread).
QDateTime appNow();

// Replaces the clock; an empty function restores the system clock. Tests only, before other threads run.
void setAppClock(std::function<QDateTime()> clock);

#include "clock.h"

#include <chrono>

namespace {
std::function<QDateTime()> &clockFunction()
{
    static std::function<QDateTime()> f;
    return f;
}
} // namespace

QDateTime appNow()
{
    const auto &f = clockFunction();
    return f ? f() : QDateTime::currentDateTime();
}

void setAppClock(std::function<QDateTime()> clock)
{
    clockFunction() = std::move(clock);
}

namespace {
std::function<qint64()> &monotonicFunction()
{
    static std::function<qint64()> f;
    return f;
}
} // namespace

qint64 appMonotonicMs()
{
    const auto &f = monotonicFunction();
    if (f)
        return f();
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void setAppMonotonicClock(std::function<qint64()> clock)
{
    monotonicFunction() = std::move(clock);
}

#include "clock.h"

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

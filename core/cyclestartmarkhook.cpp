#include "cyclestartmarkhook.h"

#include <atomic>

namespace {
std::atomic<CycleStartMarkHook> gCycleStartMarkHook{nullptr};
} // namespace

void setCycleStartMarkHook(CycleStartMarkHook hook)
{
    gCycleStartMarkHook.store(hook);
}

void requestCycleStartMark(int input)
{
    if (input < 0 || input >= 16)
        return;
    if (CycleStartMarkHook hook = gCycleStartMarkHook.load())
        hook(input);
}

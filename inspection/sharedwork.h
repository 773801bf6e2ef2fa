#pragma once
// Pieces of one camera's judgement that other workers of the slot judgement may take when they have
// no camera of their own left, so that the last camera of a slot is not finished by one core alone
// while the others wait. Implemented by the judgement pool (slotjudgement.cpp).

#include <functional>

// Runs chunk(i) for every i in 0..count-1, each exactly once, and returns when all have run. On a
// worker of a slot judgement, idle workers of the same pool may run some of the chunks meanwhile;
// anywhere else (the GUI thread, one camera after another, a test) they run here, in order. Chunks
// must write nothing another chunk reads, so that who ran which chunk never shows in the result. When
// chunks throw, the exception of the lowest-numbered one is thrown here, once every chunk taken has
// finished; chunks after it may have run or not. Any thread.
void shareWork(int count, const std::function<void(int)> &chunk);

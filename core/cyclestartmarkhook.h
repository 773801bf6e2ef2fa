#pragma once
// The I/O thread's way to the detection mark: when an opening of a cycle-start input counts (its
// entry stayed active for the debounce time), the I/O thread asks the mark's own thread to put that
// opening's mark on the disk, so that a box killed before the GUI thread read the opening still judges
// that mould at its next start. The mark lives above core; it installs the hook at start-up.
//
// Threads: setCycleStartMarkHook on the GUI thread, before the I/O thread starts or while it may run
// (the hook is swapped atomically); requestCycleStartMark on the I/O thread. The hook must only post
// its request and return: the poll never waits for the disk or for the mark's lock.

using CycleStartMarkHook = void (*)(int input);

void setCycleStartMarkHook(CycleStartMarkHook hook);
// Posts the request for `input` (0-15) when a hook is installed; does nothing otherwise.
void requestCycleStartMark(int input);

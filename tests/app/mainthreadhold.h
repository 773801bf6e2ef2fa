#pragma once
// Stops one thread of a running box, its main (GUI) thread, as a long shell command or a judgement
// would, while its other threads (the board poll among them) run on, or at a chosen instruction, or
// another thread of it; and lets it go on again. A child of
// the test seizes and interrupts that one thread with ptrace, so the box's own parent (the test's
// QProcess) never sees a stop.

#include <QByteArray>

#include <sys/types.h>

class MainThreadHold
{
public:
    MainThreadHold() = default;
    MainThreadHold(const MainThreadHold &) = delete;
    MainThreadHold &operator=(const MainThreadHold &) = delete;
    // Lets the thread go if it is still held.
    ~MainThreadHold();

    // Stops the main thread of process `pid` (its thread id is the process id); returns once it is
    // stopped, false when it could not be (no permission, no such process).
    bool hold(pid_t pid);
    // Lets the main thread of `pid` run on until it reaches the instruction at `address` (a breakpoint
    // the tracer puts there and takes away again), and stops it there, before that instruction. Returns
    // once the breakpoint is in; waitUntilStopped tells when the thread got there.
    bool holdAt(pid_t pid, unsigned long address);
    bool waitUntilStopped(int timeoutMs);
    // Stops thread `thread` of process `pid` (at `address` when not 0).
    bool holdThread(pid_t pid, pid_t thread, unsigned long address = 0);
    // Lets the held thread run on until it reaches the instruction at `address`, and stops it there
    // again; returns once the breakpoint is in, waitUntilStopped tells when the thread got there.
    bool runOnTo(unsigned long address);
    // Lets it run on; true once the tracer has let go of it.
    bool release();

private:
    pid_t m_tracer = -1;
    int m_release = -1; // write end: closing it lets the thread go
    int m_report = -1;  // read end: the tracer says when the thread stopped
    bool m_stopped = false;
};

// The first thread of process `pid` named `name` (what /proc shows as its comm), 0 when none is.
pid_t threadNamed(pid_t pid, const QByteArray &name);
// The thread of the box that serves the marks of openings (named "detectionmark"), 0 when not found.
pid_t markThreadOf(pid_t pid);
// Where the running box's code of `symbol` (a mangled name) is, 0 when not found: its value in the
// program file, moved by the address the program was loaded at.
unsigned long codeAddressOf(pid_t pid, const char *symbol);

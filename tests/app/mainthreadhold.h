#pragma once
// Stops one thread of a running box, its main (GUI) thread, as a long shell command or a judgement
// would, while its other threads (the board poll among them) run on; and lets it go on again. A child of
// the test seizes and interrupts that one thread with ptrace, so the box's own parent (the test's
// QProcess) never sees a stop.

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
    // Lets it run on; true once the tracer has let go of it.
    bool release();

private:
    pid_t m_tracer = -1;
    int m_release = -1; // write end: closing it lets the thread go
};

// Stops the main thread of a running box where it enters one function of the program (a breakpoint
// planted with ptrace by a child of the test), while its other threads run on; and lets it go on. A
// point of a sequence the box runs, such as its end, can so be held open as long as the test needs.
// x86-64 only; another thread that enters the function meanwhile would end the box.
class MainThreadTrap
{
public:
    MainThreadTrap() = default;
    MainThreadTrap(const MainThreadTrap &) = delete;
    MainThreadTrap &operator=(const MainThreadTrap &) = delete;
    // Lets the thread go if it is held; a trap never reached is left in place.
    ~MainThreadTrap();

    // Plants the trap at the entry of `symbol` (its name in the program's symbol table, mangled) in
    // process `pid`; returns once it is planted, false when it cannot be.
    bool plant(pid_t pid, const char *symbol);
    // Waits, `ms` at the most, until the main thread has entered the function: true once it is stopped
    // there.
    bool waitUntilReached(int ms);
    // Lets it run on from there; true once the tracer has let go of it.
    bool release();

private:
    pid_t m_tracer = -1;
    int m_report = -1;  // read end: 'P' once planted, 'R' once reached
    int m_release = -1; // write end: closing it lets the thread go
    bool m_reached = false;
};

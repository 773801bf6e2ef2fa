#pragma once
// An alternate signal stack per thread, so that the crash handler still runs, and leaves its report in
// the log, when a thread has overflowed its own stack (a handler cannot run on a stack that is gone).
//
// The log manager gives the GUI thread one before it installs the crash handler. Every thread started
// afterwards, by our code, by Qt or by the standard library, gets its own as it starts: this file
// wraps the process's pthread_create, so no thread class has to remember it. An alternate stack
// already there is kept when it is as large as ours. The stack goes when its thread ends.

// Gives the calling thread its alternate signal stack unless it has one; false when it could not.
// Any thread.
bool installCrashSignalStack();

// Size of each thread's alternate signal stack: room for the crash report (logging, backtrace,
// demangling) twice over, since the abort that ends it runs the handler again on the same stack.
constexpr unsigned long kCrashSignalStackBytes = 512 * 1024;

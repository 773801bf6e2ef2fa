#!/usr/bin/env python3
"""Stops the main (GUI) thread of a running box for a while, as a long shell command on that thread
would, while its other threads (the board poll among them) run on.

    bench/stallmain.py <pid> <milliseconds>

The thread is seized and interrupted with ptrace (its thread id is the process id), held, and let go.
Prints "held <ms>" once it is stopped and "resumed" once it runs again. Root, or ptrace_scope 0.
"""
import ctypes
import os
import sys
import time

PTRACE_DETACH = 17
PTRACE_SEIZE = 0x4206
PTRACE_INTERRUPT = 0x4207
PTRACE_CONT = 7
PTRACE_EVENT_STOP = 128
WALL = 0x40000000

libc = ctypes.CDLL(None, use_errno=True)
libc.ptrace.argtypes = [ctypes.c_long, ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p]
libc.ptrace.restype = ctypes.c_long


def ptrace(request, pid, data=0):
    if libc.ptrace(request, pid, None, ctypes.c_void_p(data)) != 0:
        err = ctypes.get_errno()
        raise OSError(err, os.strerror(err))


def main():
    pid, ms = int(sys.argv[1]), int(sys.argv[2])
    ptrace(PTRACE_SEIZE, pid)
    ptrace(PTRACE_INTERRUPT, pid)
    while True:
        _, status = os.waitpid(pid, WALL)
        if not os.WIFSTOPPED(status):
            sys.exit("the thread ended")
        if status >> 16 == PTRACE_EVENT_STOP:
            break
        # A signal on its way to the thread: passed on; the interrupt still stops it next.
        ptrace(PTRACE_CONT, pid, os.WSTOPSIG(status))
    print(f"held {ms}", flush=True)
    time.sleep(ms / 1000)
    ptrace(PTRACE_DETACH, pid)
    print("resumed", flush=True)


if __name__ == "__main__":
    main()

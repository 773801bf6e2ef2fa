#include "mainthreadhold.h"

#include <cerrno>
#include <csignal>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
// In the forked tracer: only calls that are safe after fork() in a threaded process.
[[noreturn]] void traceAndWait(pid_t thread, int report, int release)
{
    if (ptrace(PTRACE_SEIZE, thread, nullptr, nullptr) != 0 ||
        ptrace(PTRACE_INTERRUPT, thread, nullptr, nullptr) != 0)
        _exit(1);
    for (;;) {
        int status = 0;
        if (waitpid(thread, &status, __WALL) != thread)
            _exit(2);
        if (!WIFSTOPPED(status))
            _exit(3);
        if ((status >> 16) == PTRACE_EVENT_STOP)
            break;
        // A signal on its way to the thread: pass it on; the interrupt still stops it next.
        ptrace(PTRACE_CONT, thread, nullptr, reinterpret_cast<void *>(long(WSTOPSIG(status))));
    }
    const char stopped = 'S';
    if (write(report, &stopped, 1) != 1)
        _exit(4);
    char c;
    while (read(release, &c, 1) < 0 && errno == EINTR) {
    }
    // Signals that came meanwhile are delivered once it runs.
    _exit(ptrace(PTRACE_DETACH, thread, nullptr, nullptr) == 0 ? 0 : 5);
}
} // namespace

MainThreadHold::~MainThreadHold()
{
    release();
}

bool MainThreadHold::hold(pid_t pid)
{
    if (m_tracer > 0 || pid <= 0)
        return false;
    int report[2];
    int letGo[2];
    if (pipe(report) != 0)
        return false;
    if (pipe(letGo) != 0) {
        close(report[0]);
        close(report[1]);
        return false;
    }
    const pid_t child = fork();
    if (child == 0) {
        close(report[0]);
        close(letGo[1]);
        traceAndWait(pid, report[1], letGo[0]);
    }
    close(report[1]);
    close(letGo[0]);
    m_tracer = child;
    m_release = letGo[1];
    char c = 0;
    ssize_t got;
    while ((got = read(report[0], &c, 1)) < 0 && errno == EINTR) {
    }
    close(report[0]);
    if (child < 0 || got != 1) {
        release();
        return false;
    }
    return true;
}

bool MainThreadHold::release()
{
    if (m_tracer <= 0) {
        if (m_release >= 0)
            close(m_release);
        m_release = -1;
        return false;
    }
    close(m_release);
    m_release = -1;
    int status = 0;
    pid_t done;
    while ((done = waitpid(m_tracer, &status, 0)) < 0 && errno == EINTR) {
    }
    m_tracer = -1;
    return done > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

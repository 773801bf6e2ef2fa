#include "mainthreadhold.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <cerrno>
#include <csignal>
#include <poll.h>
#include <sys/ptrace.h>
#include <sys/user.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
// Waits for the stop of the interrupt asked for: signals on their way to the thread meanwhile are
// passed on. False when the thread is gone.
bool waitForInterruptStop(pid_t thread)
{
    for (;;) {
        int status = 0;
        if (waitpid(thread, &status, __WALL) != thread || !WIFSTOPPED(status))
            return false;
        if ((status >> 16) == PTRACE_EVENT_STOP)
            return true;
        ptrace(PTRACE_CONT, thread, nullptr, reinterpret_cast<void *>(long(WSTOPSIG(status))));
    }
}

// Lets the stopped thread run until it executes the byte at `address`, and stops it there as if it had
// not reached it yet; 'A' goes to `report` once the breakpoint is in. False when the thread is gone.
bool runUntil(pid_t thread, unsigned long address, int report)
{
    errno = 0;
    const long word = ptrace(PTRACE_PEEKTEXT, thread, reinterpret_cast<void *>(address), nullptr);
    if (errno != 0)
        return false;
    const long trap = (word & ~0xFFL) | 0xCC;
    if (ptrace(PTRACE_POKETEXT, thread, reinterpret_cast<void *>(address), reinterpret_cast<void *>(trap)) !=
        0)
        return false;
    const char armed = 'A';
    if (write(report, &armed, 1) != 1)
        return false;
    ptrace(PTRACE_CONT, thread, nullptr, nullptr);
    for (;;) {
        int status = 0;
        if (waitpid(thread, &status, __WALL) != thread || !WIFSTOPPED(status))
            return false;
        const int signal = WSTOPSIG(status);
        user_regs_struct regs{};
        if (signal == SIGTRAP && (status >> 16) == 0 &&
            ptrace(PTRACE_GETREGS, thread, nullptr, &regs) == 0 && regs.rip == address + 1) {
            regs.rip = address;
            return ptrace(PTRACE_POKETEXT, thread, reinterpret_cast<void *>(address),
                          reinterpret_cast<void *>(word)) == 0 &&
                   ptrace(PTRACE_SETREGS, thread, nullptr, &regs) == 0;
        }
        // A stop of another kind: the signal passed on, an event stop let go.
        ptrace(PTRACE_CONT, thread, nullptr,
               reinterpret_cast<void *>(long((status >> 16) != 0 ? 0 : signal)));
    }
}

// In the forked tracer: only calls that are safe after fork() in a threaded process.
[[noreturn]] void traceAndWait(pid_t thread, unsigned long address, int report, int release)
{
    if (ptrace(PTRACE_SEIZE, thread, nullptr, nullptr) != 0 ||
        ptrace(PTRACE_INTERRUPT, thread, nullptr, nullptr) != 0)
        _exit(1);
    if (!waitForInterruptStop(thread))
        _exit(2);
    if (address != 0 && !runUntil(thread, address, report))
        _exit(3);
    const char stopped = 'S';
    if (write(report, &stopped, 1) != 1)
        _exit(4);
    // An address read from `release` lets the thread run on to it; the end of the pipe lets it go.
    for (;;) {
        unsigned long next = 0;
        ssize_t got;
        while ((got = read(release, &next, sizeof next)) < 0 && errno == EINTR) {
        }
        if (got != ssize_t(sizeof next) || next == 0)
            break;
        if (!runUntil(thread, next, report))
            _exit(3);
        if (write(report, &stopped, 1) != 1)
            _exit(4);
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
    return holdThread(pid, pid, 0);
}

bool MainThreadHold::holdAt(pid_t pid, unsigned long address)
{
    return address != 0 && holdThread(pid, pid, address);
}

bool MainThreadHold::holdThread(pid_t pid, pid_t thread, unsigned long address)
{
    if (m_tracer > 0 || pid <= 0 || thread <= 0)
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
        // Only its own pipes: a copy of another hold's release end would keep that hold's tracer waiting.
        for (int fd = 3; fd < 1024; ++fd) {
            if (fd != report[1] && fd != letGo[0])
                close(fd);
        }
        traceAndWait(thread, address, report[1], letGo[0]);
    }
    close(report[1]);
    close(letGo[0]);
    m_tracer = child;
    m_release = letGo[1];
    m_report = report[0];
    char c = 0;
    ssize_t got;
    while ((got = read(m_report, &c, 1)) < 0 && errno == EINTR) {
    }
    const char expected = address != 0 ? 'A' : 'S';
    if (child < 0 || got != 1 || c != expected) {
        release();
        return false;
    }
    m_stopped = address == 0;
    return true;
}

bool MainThreadHold::waitUntilStopped(int timeoutMs)
{
    if (m_stopped || m_report < 0)
        return m_stopped;
    pollfd report{m_report, POLLIN, 0};
    int ready;
    while ((ready = ::poll(&report, 1, timeoutMs)) < 0 && errno == EINTR) {
    }
    char c = 0;
    m_stopped = ready == 1 && read(m_report, &c, 1) == 1 && c == 'S';
    return m_stopped;
}

bool MainThreadHold::runOnTo(unsigned long address)
{
    if (!m_stopped || address == 0 || m_release < 0 || m_report < 0)
        return false;
    if (write(m_release, &address, sizeof address) != ssize_t(sizeof address))
        return false;
    m_stopped = false;
    char c = 0;
    ssize_t got;
    while ((got = read(m_report, &c, 1)) < 0 && errno == EINTR) {
    }
    return got == 1 && c == 'A';
}

bool MainThreadHold::release()
{
    if (m_report >= 0)
        close(m_report);
    m_report = -1;
    // A tracer still waiting for its breakpoint does not read the release: it is ended instead.
    if (m_tracer > 0 && !m_stopped)
        ::kill(m_tracer, SIGKILL);
    m_stopped = false;
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

pid_t threadNamed(pid_t pid, const QByteArray &name)
{
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(task + QStringLiteral("/comm")));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == name)
            return pid_t(task.toInt());
    }
    return 0;
}

pid_t markThreadOf(pid_t pid)
{
    return threadNamed(pid, "detectionmark");
}

// Where the running box's code of `symbol` (a mangled name) is, 0 when not found: its value in the
// program file, moved by the address the program was loaded at.
unsigned long codeAddressOf(pid_t pid, const char *symbol)
{
    const QString exe = QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).canonicalFilePath();
    QProcess nm;
    nm.start(QStringLiteral("nm"), {QStringLiteral("--defined-only"), exe});
    if (!nm.waitForFinished(30000))
        return 0;
    unsigned long value = 0;
    for (const QByteArray &line : nm.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> parts = line.split(' ');
        if (parts.size() == 3 && parts[2] == symbol)
            value = parts[0].toULong(nullptr, 16);
    }
    QFile maps(QStringLiteral("/proc/%1/maps").arg(pid));
    if (value == 0 || !maps.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : maps.readAll().split('\n')) {
        const QList<QByteArray> parts = line.simplified().split(' ');
        if (parts.size() == 6 && parts[5] == exe.toLocal8Bit() && parts[2].toULong(nullptr, 16) == 0) {
            const unsigned long base = parts[0].split('-').first().toULong(nullptr, 16);
            return value >= base ? value : base + value; // a position-independent program: moved
        }
    }
    return 0;
}

#include "mainthreadhold.h"

#include <QByteArray>
#include <QFile>
#include <QList>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <elf.h>
#include <poll.h>
#include <sys/ptrace.h>
#include <sys/user.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
// Forks the tracer, which runs `trace(report, release)` and never returns: it reports on the first
// descriptor and waits on the second, whose write end closing lets the thread go. Gives the tracer's
// process id (-1 when it could not be made) with the read end of its reports and that write end.
template <typename Trace> pid_t forkTracer(Trace trace, int *report, int *release)
{
    int reports[2];
    int letGo[2];
    if (pipe(reports) != 0)
        return -1;
    if (pipe(letGo) != 0) {
        close(reports[0]);
        close(reports[1]);
        return -1;
    }
    const pid_t child = fork();
    if (child == 0) {
        close(reports[0]);
        close(letGo[1]);
        trace(reports[1], letGo[0]);
    }
    close(reports[1]);
    close(letGo[0]);
    *report = reports[0];
    *release = letGo[1];
    return child;
}

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
    int report = -1;
    const pid_t child = forkTracer([pid](int reportTo, int letGo) { traceAndWait(pid, reportTo, letGo); },
                                   &report, &m_release);
    m_tracer = child;
    char c = 0;
    ssize_t got = 0;
    while (child > 0 && (got = read(report, &c, 1)) < 0 && errno == EINTR) {
    }
    if (report >= 0)
        close(report);
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

namespace {
// The address of `symbol` in the running process `pid`: its value in the program file's symbol table
// moved by where the program is loaded; 0 when not found.
quint64 symbolAddress(pid_t pid, const char *symbol)
{
    char exe[4096];
    const QByteArray link = QByteArray("/proc/") + QByteArray::number(pid) + "/exe";
    const ssize_t n = readlink(link.constData(), exe, sizeof exe - 1);
    if (n <= 0)
        return 0;
    exe[n] = '\0';
    QFile file(QString::fromLocal8Bit(exe, int(n)));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray elf = file.readAll();
    const auto at = [&elf](quint64 offset, quint64 size) {
        return offset + size <= quint64(elf.size()) ? elf.constData() + offset : nullptr;
    };
    const auto *header = reinterpret_cast<const Elf64_Ehdr *>(at(0, sizeof(Elf64_Ehdr)));
    if (!header || std::memcmp(header->e_ident, ELFMAG, SELFMAG) != 0 ||
        header->e_ident[EI_CLASS] != ELFCLASS64)
        return 0;
    quint64 value = 0;
    for (int s = 0; s < header->e_shnum && value == 0; ++s) {
        const auto *section = reinterpret_cast<const Elf64_Shdr *>(
            at(header->e_shoff + quint64(s) * header->e_shentsize, sizeof(Elf64_Shdr)));
        if (!section || (section->sh_type != SHT_SYMTAB && section->sh_type != SHT_DYNSYM) ||
            section->sh_link >= header->e_shnum)
            continue;
        const auto *names = reinterpret_cast<const Elf64_Shdr *>(
            at(header->e_shoff + quint64(section->sh_link) * header->e_shentsize, sizeof(Elf64_Shdr)));
        for (quint64 i = 0; names && i < section->sh_size / sizeof(Elf64_Sym); ++i) {
            const auto *sym = reinterpret_cast<const Elf64_Sym *>(
                at(section->sh_offset + i * sizeof(Elf64_Sym), sizeof(Elf64_Sym)));
            const char *name = sym ? at(names->sh_offset + sym->st_name, 1) : nullptr;
            if (name && sym->st_value != 0 && std::strcmp(name, symbol) == 0) {
                value = sym->st_value;
                break;
            }
        }
    }
    if (value == 0 || header->e_type != ET_DYN)
        return value;
    // A position-independent program: moved by where its first segment was mapped.
    quint64 firstSegment = ~quint64(0);
    for (int p = 0; p < header->e_phnum; ++p) {
        const auto *segment = reinterpret_cast<const Elf64_Phdr *>(
            at(header->e_phoff + quint64(p) * header->e_phentsize, sizeof(Elf64_Phdr)));
        if (segment && segment->p_type == PT_LOAD)
            firstSegment = std::min<quint64>(firstSegment, segment->p_vaddr & ~quint64(0xFFF));
    }
    QFile maps(QStringLiteral("/proc/%1/maps").arg(pid));
    if (firstSegment == ~quint64(0) || !maps.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : maps.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 6 || fields.at(5) != QByteArray(exe, int(n)) ||
            fields.at(2).toULongLong(nullptr, 16) != 0)
            continue;
        return fields.at(0).split('-').value(0).toULongLong(nullptr, 16) - firstSegment + value;
    }
    return 0;
}

#if defined(__x86_64__)
// In the forked tracer: only calls that are safe after fork() in a threaded process.
[[noreturn]] void trapAndWait(pid_t thread, quint64 address, int report, int release)
{
    if (ptrace(PTRACE_SEIZE, thread, nullptr, nullptr) != 0 ||
        ptrace(PTRACE_INTERRUPT, thread, nullptr, nullptr) != 0)
        _exit(1);
    int status = 0;
    for (;;) {
        if (waitpid(thread, &status, __WALL) != thread || !WIFSTOPPED(status))
            _exit(2);
        if ((status >> 16) == PTRACE_EVENT_STOP)
            break;
        ptrace(PTRACE_CONT, thread, nullptr, reinterpret_cast<void *>(long(WSTOPSIG(status))));
    }
    errno = 0;
    const long original = ptrace(PTRACE_PEEKTEXT, thread, reinterpret_cast<void *>(address), nullptr);
    if (errno != 0)
        _exit(3);
    const long planted = (original & ~0xFFL) | 0xCC; // int3
    if (ptrace(PTRACE_POKETEXT, thread, reinterpret_cast<void *>(address),
               reinterpret_cast<void *>(planted)) != 0 ||
        ptrace(PTRACE_CONT, thread, nullptr, nullptr) != 0)
        _exit(4);
    const char plantedByte = 'P';
    if (write(report, &plantedByte, 1) != 1)
        _exit(5);
    for (;;) {
        if (waitpid(thread, &status, __WALL) != thread || !WIFSTOPPED(status))
            _exit(6);
        const int signal = WSTOPSIG(status);
        if (signal == SIGTRAP && (status >> 16) == 0) {
            user_regs_struct regs;
            if (ptrace(PTRACE_GETREGS, thread, nullptr, &regs) == 0 && regs.rip - 1 == address) {
                // Put back as it was, and run from the function's first instruction once let go.
                regs.rip = address;
                if (ptrace(PTRACE_POKETEXT, thread, reinterpret_cast<void *>(address),
                           reinterpret_cast<void *>(original)) != 0 ||
                    ptrace(PTRACE_SETREGS, thread, nullptr, &regs) != 0)
                    _exit(7);
                break;
            }
        }
        const bool stopEvent = (status >> 16) == PTRACE_EVENT_STOP;
        ptrace(PTRACE_CONT, thread, nullptr, reinterpret_cast<void *>(long(stopEvent ? 0 : signal)));
    }
    const char reached = 'R';
    if (write(report, &reached, 1) != 1)
        _exit(8);
    char c;
    while (read(release, &c, 1) < 0 && errno == EINTR) {
    }
    _exit(ptrace(PTRACE_DETACH, thread, nullptr, nullptr) == 0 ? 0 : 9);
}
#endif

// One byte from the tracer within `ms`; 0 when none came.
char readReport(int fd, int ms)
{
    pollfd p{fd, POLLIN, 0};
    int ready;
    while ((ready = poll(&p, 1, ms)) < 0 && errno == EINTR) {
    }
    char c = 0;
    if (ready == 1 && read(fd, &c, 1) != 1)
        c = 0;
    return c;
}
} // namespace

MainThreadTrap::~MainThreadTrap()
{
    release();
}

bool MainThreadTrap::plant(pid_t pid, const char *symbol)
{
#if defined(__x86_64__)
    const quint64 address = m_tracer > 0 || pid <= 0 ? 0 : symbolAddress(pid, symbol);
    if (address == 0)
        return false;
    const pid_t child =
        forkTracer([pid, address](int reportTo, int letGo) { trapAndWait(pid, address, reportTo, letGo); },
                   &m_report, &m_release);
    m_tracer = child;
    if (child < 0 || readReport(m_report, 10000) != 'P') {
        release();
        return false;
    }
    return true;
#else
    (void)pid;
    (void)symbol;
    return false;
#endif
}

bool MainThreadTrap::waitUntilReached(int ms)
{
    m_reached = m_reached || (m_report >= 0 && readReport(m_report, ms) == 'R');
    return m_reached;
}

bool MainThreadTrap::release()
{
    if (m_report >= 0)
        close(m_report);
    m_report = -1;
    if (m_release >= 0)
        close(m_release);
    m_release = -1;
    if (m_tracer <= 0)
        return false;
    // A tracer still waiting for the thread to come gives up; the trap stays planted.
    if (!m_reached)
        ::kill(m_tracer, SIGKILL);
    int status = 0;
    pid_t done;
    while ((done = waitpid(m_tracer, &status, 0)) < 0 && errno == EINTR) {
    }
    m_tracer = -1;
    const bool letGo = m_reached && done > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    m_reached = false;
    return letGo;
}

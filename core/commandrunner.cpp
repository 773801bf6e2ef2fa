#include "commandrunner.h"
#include "corelog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <atomic>
#include <vector>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
ProcessCommandRunner gDefaultRunner;
std::atomic<CommandRunner *> gRunner{&gDefaultRunner};

bool readWhole(int fd, void *data, size_t size)
{
    ssize_t n;
    while ((n = ::read(fd, data, size)) < 0 && errno == EINTR) {
    }
    return n == ssize_t(size);
}

// Between fork and exec only calls that are safe in the child of a threaded process.
[[noreturn]] void runDetachedChild(const char *path, char *const argv[], int pidPipe, int execPipe)
{
    ::setsid();
    const pid_t program = ::fork();
    if (program == 0) {
        // The box ignores SIGPIPE for itself; a program expects it at its default (a reader gone ends
        // "cmd | head" quietly), and an ignored signal would pass on through its exec.
        struct sigaction standard = {};
        standard.sa_handler = SIG_DFL;
        sigemptyset(&standard.sa_mask);
        ::sigaction(SIGPIPE, &standard, nullptr);
        const int null = ::open("/dev/null", O_RDWR);
        for (int fd = 0; null >= 0 && fd < 3; ++fd)
            ::dup2(null, fd);
        ::execv(path, argv);
        const int error = errno;
        (void)!::write(execPipe, &error, sizeof error);
        ::_exit(127);
    }
    (void)!::write(pidPipe, &program, sizeof program);
    ::_exit(program > 0 ? 0 : 1);
}

// What QProcess::startDetached does (a session of its own, the null device on its standard files, not
// a child of ours), except that QProcess leaves SIGPIPE ignored in the program it starts.
bool startDetachedProcess(const QString &program, const QStringList &arguments, qint64 *pid)
{
    const QString path =
        program.contains(QLatin1Char('/')) ? program : QStandardPaths::findExecutable(program);
    if (path.isEmpty())
        return false;
    const QByteArray encodedPath = QFile::encodeName(path);
    QList<QByteArray> words{QFile::encodeName(program)};
    for (const QString &argument : arguments)
        words.append(argument.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    int pidPipe[2];
    int execPipe[2];
    if (::pipe2(pidPipe, O_CLOEXEC) != 0)
        return false;
    if (::pipe2(execPipe, O_CLOEXEC) != 0) {
        ::close(pidPipe[0]);
        ::close(pidPipe[1]);
        return false;
    }
    const pid_t child = ::fork();
    if (child == 0)
        runDetachedChild(encodedPath.constData(), argv.data(), pidPipe[1], execPipe[1]);
    ::close(pidPipe[1]);
    ::close(execPipe[1]);
    pid_t started = 0;
    const bool forked = child > 0 && readWhole(pidPipe[0], &started, sizeof started) && started > 0;
    // Closed by the exec: nothing to read means the program runs.
    int execError = 0;
    const bool execFailed = forked && readWhole(execPipe[0], &execError, sizeof execError);
    ::close(pidPipe[0]);
    ::close(execPipe[0]);
    if (child > 0) {
        while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    if (!forked || execFailed)
        return false;
    *pid = started;
    return true;
}
} // namespace

bool isMachineChangingCommand(const QString &program)
{
    static const QStringList kMachineChanging = {"reboot", "init",     "mount",  "umount",
                                                 "date",   "hwclock",  "killall", "ip",
                                                 "ifconfig", "route", "./update.sh", "./tsc"};
    return kMachineChanging.contains(program);
}

bool isMachineChangingCommand(const QString &program, const QStringList &arguments)
{
    // "ifconfig" alone only lists the interfaces (the network dialog's receive rates).
    if (program == QLatin1String("ifconfig") && arguments.isEmpty())
        return false;
    if (isMachineChangingCommand(program))
        return true;
    // The network apply script reconfigures the interfaces; a WiFi scan sends probes on the air.
    if (program == QLatin1String("python3") && arguments.value(0) == QLatin1String("./cnt_net/zariz20_upnetcard.py"))
        return true;
    if (program == QLatin1String("iwlist") && arguments.contains(QLatin1String("scan")))
        return true;
    if (program != QLatin1String("cp") || arguments.isEmpty())
        return false;
    const QString workDir = QDir::cleanPath(QDir::currentPath());
    const QString target = QDir::cleanPath(QDir::current().absoluteFilePath(arguments.last()));
    return target != workDir && !target.startsWith(workDir + QLatin1Char('/'));
}

void setCommandRunner(CommandRunner *runner)
{
    gRunner.store(runner ? runner : &gDefaultRunner);
}

CommandResult runCommand(const QString &program, const QStringList &arguments, int timeoutMs)
{
    return gRunner.load()->run(program, arguments, timeoutMs);
}

bool CommandRunner::startDetached(const QString &, const QStringList &)
{
    return false;
}

bool startDetachedCommand(const QString &program, const QStringList &arguments)
{
    return gRunner.load()->startDetached(program, arguments);
}

bool CommandRunner::startDetachedWithPid(const QString &program, const QStringList &arguments, qint64 *pid)
{
    *pid = 0;
    return startDetached(program, arguments);
}

bool CommandRunner::endDetached(qint64, const QString &)
{
    return false;
}

bool startDetachedCommand(const QString &program, const QStringList &arguments, qint64 *pid)
{
    return gRunner.load()->startDetachedWithPid(program, arguments, pid);
}

bool endDetachedCommand(qint64 pid, const QString &program)
{
    return gRunner.load()->endDetached(pid, program);
}

bool ProcessCommandRunner::startDetached(const QString &program, const QStringList &arguments)
{
    qint64 pid = 0;
    return startDetachedWithPid(program, arguments, &pid);
}

bool ProcessCommandRunner::startDetachedWithPid(const QString &program, const QStringList &arguments,
                                                qint64 *pid)
{
    *pid = 0;
#ifndef MG_BOX_BUILD
    if (isMachineChangingCommand(program, arguments)) {
        qCWarning(lcCore).noquote() << "desktop build, not started:" << program << arguments.join(' ');
        return false;
    }
#endif
    qCDebug(lcCore).noquote() << "start detached:" << program << arguments.join(' ');
    return startDetachedProcess(program, arguments, pid);
}

bool ProcessCommandRunner::endDetached(qint64 pid, const QString &program)
{
    if (pid <= 0)
        return false;
    // The id is only ours while the process it names still runs the program we started.
    QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (!cmdline.open(QIODevice::ReadOnly))
        return false;
    // The program itself, or the script an interpreter runs.
    const QList<QByteArray> args = cmdline.read(8192).split('\0');
    const QString name = QFileInfo(program).fileName();
    bool same = false;
    for (int i = 0; i < 2 && i < args.size(); ++i)
        same |= !name.isEmpty() && QFileInfo(QFile::decodeName(args.at(i))).fileName() == name;
    if (!same)
        return false;
    qCDebug(lcCore).noquote() << "end detached:" << program << pid;
    return ::kill(pid_t(pid), SIGKILL) == 0;
}

CommandResult ProcessCommandRunner::run(const QString &program, const QStringList &arguments, int timeoutMs)
{
    CommandResult result;
#ifndef MG_BOX_BUILD
    if (isMachineChangingCommand(program, arguments)) {
        qCWarning(lcCore).noquote() << "desktop build, not run:" << program << arguments.join(' ');
        return result;
    }
#endif
    qCDebug(lcCore).noquote() << "run:" << program << arguments.join(' ');
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments, QIODevice::ReadOnly);
    if (!process.waitForStarted(10000))
        return result;
    result.started = true;
    if (!process.waitForFinished(timeoutMs < 0 ? -1 : timeoutMs)) {
        process.kill();
        process.waitForFinished(1000);
        result.standardOutput = process.readAllStandardOutput();
        return result;
    }
    result.standardOutput = process.readAllStandardOutput();
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return result;
}

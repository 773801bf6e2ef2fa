#pragma once
// The one way this program starts another program: a program name and an argument list, never a
// string that a shell splits. Tests install a recording runner; the desktop build records the
// commands that would change the machine instead of running them.

#include <QByteArray>
#include <QString>
#include <QStringList>

struct CommandResult
{
    bool started = false; // false when the program could not be started or was not run
    int exitCode = -1;
    QByteArray standardOutput;
};

class CommandRunner
{
public:
    virtual ~CommandRunner() = default;
    virtual CommandResult run(const QString &program, const QStringList &arguments, int timeoutMs) = 0;
    // Starts the program on its own, not waited for and not a child of ours, its output going to the
    // null device and SIGPIPE at its default; true when it started. This base starts nothing, so a test
    // runner that does not record detached starts never launches a real program.
    virtual bool startDetached(const QString &program, const QStringList &arguments);
    // As startDetached, and gives the started process's id (0 when not known).
    virtual bool startDetachedWithPid(const QString &program, const QStringList &arguments, qint64 *pid);
    // Ends (SIGKILL) a program this box started detached, by its process id; `program` is what was
    // started, so that an id the system has since given to another program is left alone. True when
    // the signal was sent. This base ends nothing.
    virtual bool endDetached(qint64 pid, const QString &program);
};

// Runs the program through the installed runner (any thread). timeoutMs < 0 waits without limit.
CommandResult runCommand(const QString &program, const QStringList &arguments = {}, int timeoutMs = 60000);

// Starts the program detached through the installed runner (any thread).
bool startDetachedCommand(const QString &program, const QStringList &arguments = {});
// The same, giving the process id for endDetachedCommand (0 when not known).
bool startDetachedCommand(const QString &program, const QStringList &arguments, qint64 *pid);
// Ends a program started detached, through the installed runner (any thread).
bool endDetachedCommand(qint64 pid, const QString &program);

// True for the commands that change the machine outside the working directory: reboot, init, mount,
// umount, date, hwclock, killall, ip, ifconfig, route, ./update.sh, ./tsc.
bool isMachineChangingCommand(const QString &program);
// The same, and also "cp" whose target lies outside the working directory (e.g. /etc/localtime), the
// network apply script "python3 ./cnt_net/zariz20_upnetcard.py" and "iwlist ... scan"; "ifconfig"
// without arguments only reads and is not counted.
bool isMachineChangingCommand(const QString &program, const QStringList &arguments);

// Installs a runner (not owned); nullptr restores the default process runner. Call before other
// threads use runCommand.
void setCommandRunner(CommandRunner *runner);

// The default runner: QProcess, waited for. In the desktop build machine-changing commands are logged
// and not run (started = false).
class ProcessCommandRunner : public CommandRunner
{
public:
    CommandResult run(const QString &program, const QStringList &arguments, int timeoutMs) override;
    bool startDetached(const QString &program, const QStringList &arguments) override;
    bool startDetachedWithPid(const QString &program, const QStringList &arguments, qint64 *pid) override;
    bool endDetached(qint64 pid, const QString &program) override;
};

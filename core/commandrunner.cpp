#include "commandrunner.h"
#include "corelog.h"

#include <QDir>
#include <QProcess>
#include <atomic>

namespace {
ProcessCommandRunner gDefaultRunner;
std::atomic<CommandRunner *> gRunner{&gDefaultRunner};
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

bool ProcessCommandRunner::startDetached(const QString &program, const QStringList &arguments)
{
#ifndef MG_BOX_BUILD
    if (isMachineChangingCommand(program, arguments)) {
        qCWarning(lcCore).noquote() << "desktop build, not started:" << program << arguments.join(' ');
        return false;
    }
#endif
    qCDebug(lcCore).noquote() << "start detached:" << program << arguments.join(' ');
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    return process.startDetached();
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

#pragma once
// A command runner for the network tests: records every command (program and arguments, and the
// thread it came from), answers by program from a table, and can act as the apply script.

#include "commandrunner.h"

#include <QMap>
#include <QMutex>
#include <QStringList>
#include <QThread>

#include <functional>

class NetCardRunner : public CommandRunner
{
public:
    CommandResult run(const QString &program, const QStringList &arguments, int) override
    {
        std::function<void()> action;
        CommandResult result;
        {
            QMutexLocker lock(&mutex);
            calls.append(QStringList{program} + arguments);
            threads.append(QThread::currentThread());
            result.started = true;
            result.exitCode = 0;
            result.standardOutput = outputs.value(program);
            action = actions.value(program);
        }
        if (action)
            action();
        return result;
    }
    QList<QStringList> callsOf(const QString &program)
    {
        QMutexLocker lock(&mutex);
        QList<QStringList> found;
        for (const QStringList &call : qAsConst(calls))
            if (call.value(0) == program)
                found.append(call);
        return found;
    }

    QMutex mutex;
    QList<QStringList> calls;
    QList<QThread *> threads;
    QMap<QString, QByteArray> outputs;
    QMap<QString, std::function<void()>> actions;
};

#pragma once
// A command runner for the network tests: records every command with the thread it came from, answers
// by program with canned output and may act for it (as the apply script writing its files would).

#include "commandrunner.h"

#include <QMap>
#include <QMutex>
#include <QThread>

#include <functional>

struct NetCardRunner : CommandRunner
{
    CommandResult run(const QString &program, const QStringList &arguments, int) override
    {
        QMutexLocker lock(&mutex);
        calls.append(QStringList{program} + arguments);
        threads.append(QThread::currentThread());
        if (actions.contains(program))
            actions[program]();
        return CommandResult{true, 0, outputs.value(program)};
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

#pragma once
// Loopback peers for the request-front and report-link tests: a server reactor that records every
// request it receives and answers it through a replaceable function, and a free port to put it on.

#include "commandrunner.h"
#include "tcpreactor.h"

#include <QJsonObject>
#include <QTcpServer>

#include <functional>

inline quint16 freeLoopbackPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// Runs in the test's thread: requests arrive queued from the reactor's socket thread.
class FakePeer : public QObject
{
public:
    QORC::TcpServReactor reactor;
    QList<CTask_FormData> requests;
    // Fills the response for a request; an empty function (or one returning false) stays silent.
    std::function<bool(const CTask_FormData &request, CTask_FormData &response)> answer;

    // A member function, not a lambda: ThreadSanitizer's suppression of Qt's queued-call hand-over
    // matches the slot trampoline only where its frame keeps its source line.
    FakePeer() { connect(&reactor, &QORC::TcpReactor::sigRequest, this, &FakePeer::onRequest); }
    void onRequest(const CTask_FormData &request)
    {
        requests << request;
        CTask_FormData response;
        response.uuid = request.uuid;
        response.sessionId = request.sessionId;
        if (answer && answer(request, response))
            reactor.send(response);
    }
    bool listen(quint16 port) { return reactor.start(QHostAddress::LocalHost, port); }
    QStringList urls() const
    {
        QStringList list;
        for (const CTask_FormData &r : requests)
            list << r.url;
        return list;
    }
    static QJsonObject bodyOf(const CTask_FormData &task)
    {
        return task.data.value(QStringLiteral("body")).toJsonObject();
    }
};

// Records every command and detached start instead of running them.
class CommandLog : public CommandRunner
{
public:
    QStringList calls;    // program and arguments joined by blanks
    QStringList detached; // the same, for detached starts
    CommandResult run(const QString &program, const QStringList &arguments, int) override
    {
        calls << (QStringList{program} + arguments).join(' ');
        CommandResult result;
        result.started = true;
        result.exitCode = 0;
        return result;
    }
    QStringList ended; // "<pid> <program> after <n> starts" for each endDetached
    bool startDetached(const QString &program, const QStringList &arguments) override
    {
        detached << (QStringList{program} + arguments).join(' ');
        return true;
    }
    bool startDetachedWithPid(const QString &program, const QStringList &arguments, qint64 *pid) override
    {
        startDetached(program, arguments);
        *pid = 4000 + detached.size();
        return true;
    }
    bool endDetached(qint64 pid, const QString &program) override
    {
        ended << QStringLiteral("%1 %2 after %3 starts").arg(pid).arg(program).arg(detached.size());
        return true;
    }
};

// Answers like the reporting process: every POST with code 0, the heartbeat with "cntserver".
inline std::function<bool(const CTask_FormData &, CTask_FormData &)> reportingProcess(const QJsonValue &cntserver)
{
    return [cntserver](const CTask_FormData &request, CTask_FormData &response) {
        if (request.url == "/inline/bymain/heartbeat")
            response.data.insert("body", QVariant::fromValue(QJsonObject{{"cntserver", cntserver}}));
        return true;
    };
}

// A small reporting process for a desktop box: listens where the report link connects
// (127.0.0.1:10431), answers every request with code 0, and the heartbeat with
// {"result": {"cntserver": true}}, as the real process does while it reaches its server. Each
// report's path and body go to standard output (the box sends this to the null device).
//
// usage: pynet_monitor <path of cnt_net/config.json> [--port N]

#include "tcpreactor.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    quint16 port = 10431;
    const int portAt = args.indexOf(QStringLiteral("--port"));
    if (portAt > 0 && portAt + 1 < args.size())
        port = quint16(args.at(portAt + 1).toUShort());
    registerTcpMetaTypes();
    QORC::TcpServReactor reactor;
    QObject::connect(&reactor, &QORC::TcpReactor::sigRequest, &reactor, [&reactor](const CTask_FormData &request) {
        std::printf("%s %s\n", qPrintable(request.url),
                    QJsonDocument(request.data.value(QStringLiteral("body")).toJsonObject())
                        .toJson(QJsonDocument::Compact)
                        .constData());
        std::fflush(stdout);
        CTask_FormData response;
        response.uuid = request.uuid;
        response.sessionId = request.sessionId;
        if (request.url == QLatin1String("/inline/bymain/heartbeat"))
            response.data.insert(QStringLiteral("body"),
                                 QVariant::fromValue(QJsonObject{{QStringLiteral("cntserver"), true}}));
        reactor.send(response);
    });
    if (!reactor.start(QHostAddress(QStringLiteral("127.0.0.1")), port)) {
        // Another instance holds the port (the box restarts this process every 15 minutes).
        std::fprintf(stderr, "pynet_monitor: cannot listen on 127.0.0.1:%u\n", unsigned(port));
        return 1;
    }
    return app.exec();
}

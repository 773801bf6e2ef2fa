// A network smart camera on this machine, for trying the box's smart-camera back-end without one.
// Usage: fakesmartcam [--pictures <folder>] [--layout plain|described|described-rgb]
//                     [--control-port <n>] [--picture-port <n>] [--no-discovery] [--id <device id>]
// It listens on 127.0.0.1 only; discovery answers on the protocol's fixed UDP ports.

#include "commandrunner.h"
#include "fakesmartcamera.h"

#include <QCommandLineParser>
#include <QGuiApplication>
#include <QJsonValue>
#include <QTimer>
#include <cstdio>

namespace {

// The camera's own commands (clock, addresses) are for a camera, not for the machine it runs on.
class DeviceCommandPrinter : public CommandRunner
{
public:
    CommandResult run(const QString &program, const QStringList &arguments, int) override
    {
        std::printf("fakesmartcam: device command not run: %s %s\n", qPrintable(program),
                    qPrintable(arguments.join(QLatin1Char(' '))));
        std::fflush(stdout);
        return CommandResult();
    }
};

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption pictures(QStringLiteral("pictures"), QStringLiteral("picture folder"),
                                      QStringLiteral("folder"));
    const QCommandLineOption layout(
        QStringLiteral("layout"),
        QStringLiteral("picture layout: plain (a \"body\" part and one-channel NV21, the default), "
                       "described (an \"info\" part naming format, width and height, NV21) or "
                       "described-rgb (the same with RGB pictures)"),
        QStringLiteral("layout"), QStringLiteral("plain"));
    const QCommandLineOption controlPort(QStringLiteral("control-port"), QStringLiteral("control port"),
                                         QStringLiteral("n"), QStringLiteral("10401"));
    const QCommandLineOption picturePort(QStringLiteral("picture-port"), QStringLiteral("picture port"),
                                         QStringLiteral("n"), QStringLiteral("10402"));
    const QCommandLineOption noDiscovery(QStringLiteral("no-discovery"),
                                         QStringLiteral("do not answer discovery"));
    const QCommandLineOption id(QStringLiteral("id"), QStringLiteral("device id for discovery"),
                                QStringLiteral("text"));
    parser.addOptions({pictures, layout, controlPort, picturePort, noDiscovery, id});
    parser.process(app);
    DeviceCommandPrinter printer;
    setCommandRunner(&printer);

    FakeSmartCamera::Options o;
    o.pictureFolder = parser.value(pictures);
    const QString chosen = parser.value(layout);
    if (chosen == QLatin1String("described") || chosen == QLatin1String("described-rgb")) {
        o.layout = FakeSmartCamera::Options::Layout::Described;
        o.nv21 = chosen == QLatin1String("described");
    } else if (chosen != QLatin1String("plain")) {
        std::fprintf(stderr, "fakesmartcam: unknown picture layout %s\n", qPrintable(chosen));
        return 2;
    }
    o.controlPort = quint16(parser.value(controlPort).toUInt());
    o.picturePort = quint16(parser.value(picturePort).toUInt());
    o.discovery = !parser.isSet(noDiscovery);
    o.deviceId = parser.value(id);
    FakeSmartCamera camera(o);
    if (!camera.start()) {
        std::fprintf(stderr, "fakesmartcam: cannot listen on 127.0.0.1:%u/%u\n", o.controlPort,
                     o.picturePort);
        return 1;
    }
    std::printf("fakesmartcam %s on 127.0.0.1:%u (control) and %u (pictures), %s pictures\n",
                qPrintable(camera.deviceId()), o.controlPort, o.picturePort, qPrintable(chosen));
    std::fflush(stdout);
    // Every 10 s while pictures are asked for: how many, against the frame rate the box set.
    QTimer report;
    int reported = 0;
    QObject::connect(&report, &QTimer::timeout, [&] {
        const int sent = camera.picturesSent();
        if (sent != reported) {
            const QJsonValue rate = camera.params().value(QStringLiteral("FrameRate"));
            std::printf("fakesmartcam: %d pictures asked for in 10 s, frame rate %s\n", sent - reported,
                        rate.isUndefined() ? "not set" : qPrintable(QString::number(rate.toDouble())));
            std::fflush(stdout);
            reported = sent;
        }
    });
    report.start(10000);
    const int result = app.exec();
    setCommandRunner(nullptr);
    return result;
}

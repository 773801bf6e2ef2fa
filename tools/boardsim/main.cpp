// boardsim: a simulated I/O board on a pseudo-terminal, for running the box on a desktop.
//
//   boardsim --link build/box/dev/ttyS%1 --param-db build/box/PARAM.db --cycle 0:1000:10000
//            [--record frames.txt]
//
// %1 in the link path is replaced by the board port number stored in the parameter database (0 when
// the database or the row is missing), so the link lands where the box will open its port.

#include "boardsimulator.h"
#include "inputplan.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTextStream>
#include <QTimer>

#include <atomic>
#include <csignal>

namespace {

std::atomic<bool> quitRequested{false};

void onSignal(int)
{
    quitRequested = true;
}

// The port number as the box's parameter loader reads it: first number of row "system7", above 100
// read as 0.
int ioPortFromDatabase(const QString &file)
{
    int port = 0;
    if (!QFile::exists(file))
        return port;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("boardsim"));
        db.setDatabaseName(file);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (db.open()) {
            QSqlQuery q(db);
            q.prepare(QStringLiteral("select value from sysparam where name = ?"));
            q.addBindValue(QStringLiteral("system7"));
            if (q.exec() && q.next()) {
                const QString first =
                    q.value(0).toString().section(QLatin1Char(' '), 0, 0, QString::SectionSkipEmpty);
                const uint n = first.toUInt();
                port = n > 100 ? 0 : int(n);
            }
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("boardsim"));
    return port;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Simulated serial I/O board on a pseudo-terminal."));
    parser.addHelpOption();
    const QCommandLineOption linkOpt(QStringLiteral("link"),
                                     QStringLiteral("Path of the link to the terminal (%1: port number)."),
                                     QStringLiteral("path"));
    const QCommandLineOption dbOpt(QStringLiteral("param-db"),
                                   QStringLiteral("PARAM.db whose port number fills %1 of the link path."),
                                   QStringLiteral("file"));
    const QCommandLineOption cycleOpt(QStringLiteral("cycle"),
                                      QStringLiteral("Pulse an input: BIT:ON_MS:PERIOD_MS (repeatable)."),
                                      QStringLiteral("pulse"));
    const QCommandLineOption scriptOpt(QStringLiteral("script"),
                                       QStringLiteral("Script file of \"<wait ms> <input word>\" lines."),
                                       QStringLiteral("file"));
    const QCommandLineOption repeatOpt(QStringLiteral("repeat"), QStringLiteral("Repeat the script."));
    const QCommandLineOption recordOpt(
        QStringLiteral("record"),
        QStringLiteral("Write every frame the box sends, as it arrives, to this file: one line "
                       "\"<ms since start> <command> <value>\" (command 1 carries the output word)."),
        QStringLiteral("file"));
    parser.addOptions({linkOpt, dbOpt, cycleOpt, scriptOpt, repeatOpt, recordOpt});
    parser.process(app);

    if (!parser.isSet(linkOpt)) {
        err << "boardsim: --link is required\n";
        return 2;
    }
    QString link = parser.value(linkOpt);
    if (link.contains(QLatin1String("%1")))
        link = link.arg(parser.isSet(dbOpt) ? ioPortFromDatabase(parser.value(dbOpt)) : 0);

    InputPlan plan;
    QString error;
    for (const QString &pulse : parser.values(cycleOpt)) {
        if (!plan.addCycle(pulse, &error)) {
            err << "boardsim: " << error << "\n";
            return 2;
        }
    }
    if (parser.isSet(scriptOpt)) {
        QFile f(parser.value(scriptOpt));
        if (!f.open(QIODevice::ReadOnly) || !plan.setScript(QString::fromUtf8(f.readAll()), &error)) {
            err << "boardsim: " << (error.isEmpty() ? QStringLiteral("cannot read the script") : error)
                << "\n";
            return 2;
        }
    }
    plan.setRepeat(parser.isSet(repeatOpt));

    BoardSimulator board;
    if (parser.isSet(recordOpt) && !board.recordTo(parser.value(recordOpt))) {
        err << "boardsim: cannot write the record " << parser.value(recordOpt) << "\n";
        return 1;
    }
    if (!board.open(link)) {
        err << "boardsim: cannot make the terminal link " << link << "\n";
        return 1;
    }
    err << "boardsim: board on " << board.terminalPath() << ", linked at " << link << "\n";
    err.flush();

    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    QElapsedTimer clock;
    clock.start();
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &app, [&] {
        if (quitRequested) {
            app.quit();
            return;
        }
        if (!plan.isEmpty())
            board.setInputs(plan.inputsAt(clock.elapsed()));
    });
    tick.start(10);
    const int status = app.exec();
    board.close();
    return status;
}

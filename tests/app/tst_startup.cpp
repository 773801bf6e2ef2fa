// Start-up of the real program in a laid-out working directory, as the run command starts it.

#include "testfiles.h"
#include "testworkdir.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

#include <csignal>

namespace {

struct BoxRun
{
    QByteArray stderrText;
    bool wasUp = false;
    bool endedByItself = false; // exited on its own within 10 s of the signal
    int exitCode = -1;
};

// Starts the box in `workDir`, waits until its start waits for the answer whether to clear the saved
// camera serials (asked on every start without a real camera, after the databases, parameters and
// simulated cameras are up) and a little longer, then sends it `signalNumber`. The signal answers
// nothing: the start completes (publishing cnt_net/config.json) and the box ends.
BoxRun runBox(const QString &workDir, int signalNumber = SIGTERM)
{
    BoxRun run;
    QProcess box;
    box.setWorkingDirectory(workDir);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
    box.setProcessEnvironment(env);
    box.start(QStringLiteral(MG_APP_BINARY), QStringList());
    if (!box.waitForStarted(10000))
        return run;
    const QString log = workDir + QStringLiteral("/cnt_net/workspace/LOG/log.txt");
    auto asking = [&log] {
        return readTextLines(log).join('\n').contains(QStringLiteral("asking whether to clear the saved camera serials"));
    };
    QElapsedTimer timer;
    timer.start();
    while (!asking() && timer.elapsed() < 60000 && box.state() == QProcess::Running)
        box.waitForFinished(50);
    if (asking()) {
        box.waitForFinished(700);
        run.wasUp = box.state() == QProcess::Running;
    }
    ::kill(pid_t(box.processId()), signalNumber);
    if (box.waitForFinished(10000)) {
        run.endedByItself = box.exitStatus() == QProcess::NormalExit;
        run.exitCode = box.exitCode();
    } else {
        box.kill();
        box.waitForFinished(5000);
    }
    run.stderrText = box.readAllStandardError();
    return run;
}

const QStringList kMachineChanging = {"reboot", "init", "mount", "umount", "date", "hwclock",
                                      "killall", "ip", "ifconfig", "route", "./update.sh", "./tsc"};

bool ranMachineChangingCommand(const QByteArray &stderrText)
{
    for (const QString &line : QString::fromUtf8(stderrText).split(QLatin1Char('\n'))) {
        const int at = line.indexOf(QStringLiteral("] run: "));
        if (at < 0)
            continue;
        const QString program = line.mid(at + 7).section(QLatin1Char(' '), 0, 0);
        if (kMachineChanging.contains(program))
            return true;
    }
    return false;
}

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT
private slots:
    void startsLogsAndPublishesConfig()
    {
        TestWorkDir dir;
        QVERIFY(dir.isValid());
        const BoxRun run = runBox(dir.path());
        QVERIFY2(run.wasUp, run.stderrText.right(3000).constData());

        const QStringList lines = readTextLines(dir.filePath(QStringLiteral("cnt_net/workspace/LOG/log.txt")));
        QVERIFY2(lines.size() >= 3, qPrintable(lines.join('\n')));
        QCOMPARE(lines.at(0), QString(57, QLatin1Char('*')));
        QVERIFY(lines.at(1).startsWith(QStringLiteral("create newlog version ")));
        const QRegularExpression first(
            QStringLiteral("^\\[I0 \\d{8}-\\d{6}\\.\\d{3} :0\\] application 2\\.5\\.0  release$"));
        QVERIFY2(first.match(lines.at(2)).hasMatch(), qPrintable(lines.at(2)));

        QFile config(dir.filePath(QStringLiteral("cnt_net/config.json")));
        QVERIFY(config.open(QIODevice::ReadOnly));
        const QJsonObject o = QJsonDocument::fromJson(config.readAll()).object();
        QVERIFY(o.value(QStringLiteral("version")).isString());
        QVERIFY(lines.at(1).contains(o.value(QStringLiteral("version")).toString()));
        QVERIFY(o.value(QStringLiteral("camcount")).isDouble());
        // No camera on this machine: one simulated camera (no "simcam" folders) stands in.
        QCOMPARE(o.value(QStringLiteral("camcount")).toInt(-1), 1);

        QVERIFY(!ranMachineChangingCommand(run.stderrText));
        // The report link stops its helper processes at every start (killall, recorded, not run).
        const QStringList notRun = lines.filter(QStringLiteral("desktop build, not run"));
        QCOMPARE(notRun.size(), 2);
        QVERIFY(notRun.at(0).endsWith(QStringLiteral("killall -9 pynet_monitor")));
        QVERIFY(notRun.at(1).endsWith(QStringLiteral("killall -9 hls_avmn")));
    }

    // A shutdown or Ctrl+C leaves the event loop, joins the threads and says so, instead of killing
    // the box on the spot.
    void quitSignalsEndTheBoxCleanly_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<QString>("name");
        QTest::newRow("SIGTERM") << int(SIGTERM) << "SIGTERM";
        QTest::newRow("SIGINT") << int(SIGINT) << "SIGINT";
    }
    void quitSignalsEndTheBoxCleanly()
    {
        QFETCH(int, signalNumber);
        QFETCH(QString, name);
        TestWorkDir dir;
        const BoxRun run = runBox(dir.path(), signalNumber);
        QVERIFY2(run.wasUp, run.stderrText.right(3000).constData());
        QVERIFY(run.endedByItself);
        QCOMPARE(run.exitCode, 0);
        const QString log =
            readTextLines(dir.filePath(QStringLiteral("cnt_net/workspace/LOG/log.txt"))).join('\n');
        const QString why = QStringLiteral("quitting on %1 (%2)").arg(name).arg(signalNumber);
        QVERIFY2(log.contains(why), qPrintable(log));
        QVERIFY2(log.endsWith(QStringLiteral("application ended, status 0")), qPrintable(log.right(800)));
    }

    // A run killed in the middle of a write leaves the atomic writer's temporary files; the next start
    // removes those older than itself in the folders the box writes, and nothing else.
    void startRemovesTheWritersLeftovers()
    {
        TestWorkDir dir;
        const QDateTime old = QDateTime::currentDateTime().addSecs(-3600);
        const QDateTime future = QDateTime::currentDateTime().addSecs(3600);
        const QStringList gone{".PARAM.db.0123abcd.tmp", "cnt_net/.config.json.89abcdef.tmp",
                               "cnt_net/workspace/LOG/.x.txt.00000000.tmp",
                               "paraGroup/g1/cammer11/.template1.bmp.ffffffff.tmp",
                               "alarmimage/camera1/detect1/NG/.a b.bmp.deadbeef.tmp",
                               "originalimage/cammer11/.template2.bmp.a1b2c3d4.tmp",
                               "cammer12/.template1.bmp.12345678.tmp"};
        const QStringList kept{"a.PARAM.db.0123abcd.tmp", ".PARAM.db.0123ABCD.tmp", ".PARAM.db.123abcd.tmp",
                               ".PARAM.db.0123abcd.tmp.x", "..12345678.tmp", "simcam/1/.a.png.12345678.tmp",
                               "RECORD/.2026-01-01.db.12345678.tmp"};
        for (const QString &name : gone + kept)
            QVERIFY(writeTestFile(dir.filePath(name), "cut short", old));
        const QString fresh = QStringLiteral("cnt_net/.config.json.0badf00d.tmp");
        QVERIFY(writeTestFile(dir.filePath(fresh), "not yet", future));

        const BoxRun run = runBox(dir.path());
        QVERIFY2(run.wasUp, run.stderrText.right(3000).constData());
        for (const QString &name : gone)
            QVERIFY2(!QFile::exists(dir.filePath(name)), qPrintable(name));
        for (const QString &name : kept + QStringList{fresh})
            QVERIFY2(QFile::exists(dir.filePath(name)), qPrintable(name));
        const QString log = readTextLines(dir.filePath(QStringLiteral("cnt_net/workspace/LOG/log.txt"))).join('\n');
        QVERIFY2(log.contains(QStringLiteral("removed %1 temporary files left by an interrupted write").arg(gone.size())),
                 qPrintable(log.left(3000)));
    }

    void missingImagesDoNotStopTheStart()
    {
        TestWorkDir dir;
        QVERIFY(QDir(dir.filePath(QStringLiteral("images"))).removeRecursively());
        const BoxRun run = runBox(dir.path());
        QVERIFY2(run.wasUp, run.stderrText.right(3000).constData());
    }
};

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"

// The report-link settings file as the network dialog loads and saves it (keys, types, defaults,
// other keys and folders kept, a damaged file rebuilt and kept aside, the port checked, a failed write
// leaving the file whole while the helpers still restart), and the ping test (one checked argument,
// polled output, the real ping on loopback when this machine has one).
#include "netcardrunner.h"
#include "netconfigfile.h"
#include "pingtest.h"
#include "qornetmn.h"
#include "startup.h"
#include "testfiles.h"
#include "testworkdir.h"
#include "uitexttable.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QtTest>

namespace {
QByteArray compact(const QByteArray &json)
{
    return QJsonDocument::fromJson(json).toJson(QJsonDocument::Compact);
}

// A ping that answers with scripted output and logs how it was started and closed.
struct FakePing : LongProcess
{
    FakePing(QStringList *log, QList<QByteArray> *pending, bool fails)
        : log(log), pending(pending), fails(fails)
    {
    }
    bool start(const QString &program, const QStringList &arguments, int) override
    {
        *log = QStringList{program} + arguments;
        return !fails;
    }
    QByteArray readAvailable() override { return pending->isEmpty() ? QByteArray() : pending->takeFirst(); }
    void close() override { log->append("closed"); }
    QStringList *log;
    QList<QByteArray> *pending;
    bool fails;
};
} // namespace

class TestNetConfig : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { fillUiTextTable(); }
    void loadAndSave_data()
    {
        QTest::addColumn<QByteArray>("before"); // empty: no file
        QTest::addColumn<QString>("shown");     // load result, port, network switch as the dialog shows them
        QTest::addColumn<QString>("address");   // typed into the dialog
        QTest::addColumn<QString>("port");
        QTest::addColumn<QByteArray>("after"); // the file without the five keys
        QTest::addColumn<QString>("savedAddress");
        QTest::addColumn<QString>("savedPort");

        const QByteArray folders =
            R"("videoapp_dir":"/root/bin-DOD/cnt_net/","workspace":"/root/bin-DOD/cnt_net/workspace/")";
        // clang-format off
        QTest::newRow("no file: defaults, file made") << QByteArray() << "0 10432 0" << "192.168.1.5"
            << "10432"
            << folders << "192.168.1.5" << "10432";
        QTest::newRow("other keys kept")
            << QByteArray(R"({"version":"V2.1","camcount":4,"serverport":"10500",)"
                          R"("device_worknetfunc":true,"x":[1]})")
            << "1 10500 1" << "10.0.0.9" << "10500" << R"("version":"V2.1","camcount":4,"x":[1],)" + folders
            << "10.0.0.9" << "10500";
        QTest::newRow("numeric port shown as default, saved as a string")
            << QByteArray(R"({"serverport":10433,"device_worknetfunc":"true"})") << "1 10432 0"
            << "1.2.3.4" << "10432"
            << folders << "1.2.3.4" << "10432";
        QTest::newRow("folders kept")
            << QByteArray(R"({"videoapp_dir":"/opt/ppy/","workspace":"/data/ws/"})")
            << "1 10432 0" << "1.2.3.4" << "10432"
            << QByteArray(R"("videoapp_dir":"/opt/ppy/","workspace":"/data/ws/")")
            << "1.2.3.4" << "10432";
        QTest::newRow("unparsable file rebuilt, kept aside") << QByteArray(R"({"version":"V2.1",)")
            << "0 10432 0"
            << "1.2.3.4" << "10432" << folders << "1.2.3.4" << "10432";
        QTest::newRow("empty address saved as 0.0.0.0") << QByteArray() << "0 10432 0" << ""
            << "10432" << folders
            << "0.0.0.0" << "10432";
        QTest::newRow("port out of range keeps the stored port") << QByteArray(R"({"serverport":"10500"})")
            << "1 10500 0" << "1.2.3.4" << "65536" << folders << "1.2.3.4" << "10500";
        QTest::newRow("port with a shell tail keeps the stored port")
            << QByteArray(R"({"serverport":"10500"})")
            << "1 10500 0" << "1.2.3.4" << "80; rm" << folders << "1.2.3.4" << "10500";
        QTest::newRow("port 0, stored port bad: default") << QByteArray(R"({"serverport":"x"})") << "1 x 0"
            << "1.2.3.4" << "0" << folders << "1.2.3.4" << "10432";
        QTest::newRow("leading zeros saved plain") << QByteArray() << "0 10432 0" << "1.2.3.4"
            << "08080" << folders
            << "1.2.3.4" << "8080";
        QTest::newRow("highest port") << QByteArray() << "0 10432 0" << "1.2.3.4" << "65535"
            << folders << "1.2.3.4"
            << "65535";
        // clang-format on
    }

    void loadAndSave()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, shown);
        QFETCH(QString, address);
        QFETCH(QString, port);
        QFETCH(QByteArray, after);
        QFETCH(QString, savedAddress);
        QFETCH(QString, savedPort);

        TestWorkDir dir(TestWorkDir::Empty);
        QVERIFY(before.isEmpty() || writeTestFile("cnt_net/config.json", before));
        ServiceConfig config;
        const bool loaded = NetConfigFile::load(&config);
        QCOMPARE(QStringLiteral("%1 %2 %3").arg(loaded).arg(config.serverport).arg(config.workNetFunc),
                 shown);

        // What the dialog's apply button does with its fields.
        config.devicename = "box 7";
        config.serveraddr = address;
        config.workNetFunc = true;
        const QString kept = NetConfigFile::acceptedServerPort(port, config.serverport);
        config.serverport = port;
        QVERIFY(NetConfigFile::save(config));
        const QByteArray text = readTestFile("cnt_net/config.json");
        QCOMPARE(compact(text),
                 compact(QStringLiteral(R"({"device_worknetfunc":true,"device_workvideo":false,)"
                                        R"("devicename":"box 7","serveraddr":"%1","serverport":"%2",)")
                             .arg(savedAddress, savedPort)
                             .toUtf8() +
                         after + "}"));
        QVERIFY(text.contains("\n    \"")); // indented
        const QStringList aside = QDir("cnt_net").entryList({"config.json.damaged-*"});
        QCOMPARE(aside.size(), !loaded && !before.isEmpty() ? 1 : 0);
        if (!aside.isEmpty())
            QCOMPARE(readTestFile("cnt_net/" + aside.first()), before);
        // The dialog keeps showing what it saved; the report link reads the port as a string.
        if (NetConfigFile::isValidServerPort(port))
            QCOMPARE(kept, savedPort);
        QCOMPARE(QOR_NETMN::readConfig("serverport"), QVariant(savedPort));
    }

    // A real config.json is under 1 KiB. One over 1 MiB, though it is valid JSON, is no settings file:
    // every reader refuses it as unparsable without reading it; the network dialog shows defaults, and
    // start-up and the dialog's save each move the file itself aside (no copy) and write it anew.
    void oversizeFileIsRefusedByEveryReader_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::newRow("exactly 1 MiB: read") << qint64(1024 * 1024);
        QTest::newRow("one byte over 1 MiB: refused") << qint64(1024 * 1024 + 1);
        QTest::newRow("40 MB: refused") << qint64(40000000);
    }
    void oversizeFileIsRefusedByEveryReader()
    {
        QFETCH(qint64, size);
        const bool refused = size > 1024 * 1024;
        TestWorkDir dir(TestWorkDir::Empty);
        QDir().mkpath("cnt_net");
        const QByteArray head = "{\"device_worknetfunc\": true, \"serverport\": \"8080\", \"pad\": \"";
        const QByteArray big = head + QByteArray(int(size) - head.size() - 2, 'x') + "\"}";
        QCOMPARE(big.size(), int(size));
        static QStringList lines;
        lines.clear();
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext &, const QString &message) { lines << message; });

        QVERIFY(writeTestFile("cnt_net/config.json", big));
        QCOMPARE(QOR_NETMN::readConfig("serverport"), refused ? QVariant() : QVariant("8080"));
        ServiceConfig shown;
        QCOMPARE(NetConfigFile::load(&shown), !refused);
        QCOMPARE(shown.serverport, QString(refused ? "10432" : "8080"));

        // Start-up: "version" and "camcount" alone when refused, as for a file that does not parse.
        gCameraCount = 2;
        writeNetConfig();
        const QJsonObject started = QJsonDocument::fromJson(readTestFile("cnt_net/config.json")).object();
        const QStringList kept =
            refused ? QStringList{"camcount", "version"}
                    : QStringList{"camcount", "device_worknetfunc", "pad", "serverport", "version"};
        QCOMPARE(started.keys(), kept);
        QStringList aside = QDir("cnt_net").entryList({"config.json.damaged-*"});
        QCOMPARE(aside.size(), refused ? 1 : 0);
        if (refused) {
            QCOMPARE(readTestFile("cnt_net/" + aside.first()), big);
            QCOMPARE(lines.filter("moved aside").size(), 1);
            QVERIFY(QFile::remove("cnt_net/" + aside.first()));
        }

        // The dialog's save.
        QVERIFY(writeTestFile("cnt_net/config.json", big));
        ServiceConfig typed;
        typed.serverport = "9000";
        QVERIFY(NetConfigFile::save(typed));
        const QJsonObject saved = QJsonDocument::fromJson(readTestFile("cnt_net/config.json")).object();
        QCOMPARE(saved.contains("pad"), !refused);
        QCOMPARE(saved.value("serverport").toString(), QString("9000"));
        aside = QDir("cnt_net").entryList({"config.json.damaged-*"});
        QCOMPARE(aside.size(), refused ? 1 : 0);
        if (refused)
            QCOMPARE(readTestFile("cnt_net/" + aside.first()), big);
        qInstallMessageHandler(previous);
        gCameraCount = 0;
    }

    void applyRestartsTheHelpersEvenWhenTheWriteFails_data()
    {
        QTest::addColumn<qint64>("fileSizeLimit");
        QTest::newRow("written") << qint64(1 << 20);
        QTest::newRow("disk full") << qint64(40);
    }

    void applyRestartsTheHelpersEvenWhenTheWriteFails()
    {
        QFETCH(qint64, fileSizeLimit);
        TestWorkDir dir(TestWorkDir::Empty);
        const QByteArray before = R"({"version":"V2.1","device_worknetfunc":true,"device_workvideo":true})";
        QVERIFY(writeTestFile("cnt_net/config.json", before));
        // In a child: the file size limit stays there, and so does the report link it makes.
        const int bits = runWithFileSizeLimit(fileSizeLimit, [] {
            NetCardRunner runner;
            setCommandRunner(&runner);
            QOR_NETMN *link = QOR_NETMN::instance();
            link->setWorkFlags(true, true);
            ServiceConfig config;
            const bool saved = NetConfigFile::apply(config);
            const bool killed = runner.calls.contains(QStringList{"killall", "-9", "pynet_monitor"});
            setCommandRunner(nullptr);
            return int(saved) | (link->netFuncEnabled || link->videoEnabled ? 2 : 0) | (killed ? 0 : 4);
        });
        const bool written = fileSizeLimit > 1000;
        QCOMPARE(bits, int(written));
        const QByteArray now = readTestFile("cnt_net/config.json");
        QCOMPARE(now == before, !written);
        QCOMPARE(QDir("cnt_net").entryList(QDir::Files),
                 QStringList{"config.json"}); // no temporary file left
        QVERIFY(!written ||
                (now.contains("V2.1") && compact(now).contains(R"("device_worknetfunc":false)")));
    }

    void pingTargets_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<int>("result");
        QTest::addColumn<QStringList>("started"); // empty: nothing run

#ifdef MG_BOX_BUILD
        const int offBox = PingTest::Started;
#else
        const int offBox = PingTest::NotAllowed;
#endif
        const auto run = [offBox](const QString &host) {
            return offBox ? QStringList() : QStringList{"ping", host};
        };
        // clang-format off
        QTest::newRow("loopback, blanks trimmed") << " 127.0.0.2 " << int(PingTest::Started)
            << QStringList{"ping", "127.0.0.2"};
        QTest::newRow("IPv6 loopback") << "::1" << int(PingTest::Started) << QStringList{"ping", "::1"};
        QTest::newRow("flood option refused") << "-f 127.0.0.1" << int(PingTest::Refused) << QStringList();
        QTest::newRow("option glued to a name refused") << "-fbox" << int(PingTest::Refused)
            << QStringList();
        QTest::newRow("option after the host refused") << "127.0.0.1 -c" << int(PingTest::Refused)
            << QStringList();
        QTest::newRow("shell line refused") << "a;reboot" << int(PingTest::Refused) << QStringList();
        QTest::newRow("empty refused") << "" << int(PingTest::Refused) << QStringList();
        QTest::newRow("server off this machine") << "10.0.0.1" << offBox << run("10.0.0.1");
        QTest::newRow("host name") << "server-1.plant.lan" << offBox << run("server-1.plant.lan");
        // clang-format on
    }

    void pingTargets()
    {
        QFETCH(QString, field);
        QFETCH(int, result);
        QFETCH(QStringList, started);

        QStringList log;
        QList<QByteArray> pending = {"PING 127.0.0.1 56(84) bytes of data.\n64 bytes: icmp_seq=1\n",
                                     "64 bytes"};
        bool fails = false;
        setLongProcessFactory([&] { return std::make_unique<FakePing>(&log, &pending, fails); });
        PingTest ping;
        QStringList paragraphs;
        connect(&ping, &PingTest::outputAppended, [&paragraphs](const QString &p) { paragraphs << p; });
        QCOMPARE(int(ping.start(field)), result);
        QCOMPARE(log, started);
        QCOMPARE(PingTest::resultText(PingTest::StartResult(result), field).isEmpty(), !started.isEmpty());
        if (started.isEmpty()) {
            QTest::qWait(250);
            QVERIFY(paragraphs.isEmpty());
        } else {
            // Polled every 100 ms: a whole read loses its line end, a cut read keeps its last character.
            QTRY_COMPARE(
                paragraphs,
                (QStringList{"PING 127.0.0.1 56(84) bytes of data.\n64 bytes: icmp_seq=1", "64 bytes"}));
            ping.stop(); // pane closed
            QCOMPARE(log.last(), QString("closed"));
        }
        fails = true;
        QCOMPARE(ping.start("127.0.0.1"), PingTest::NotStarted);
        QVERIFY(!ping.isRunning());
        setLongProcessFactory({});
    }

    void realPingOnLoopback()
    {
        // The package script installs ping: under CI a missing one is a failure, not a skip.
        if (QStandardPaths::findExecutable("ping").isEmpty()) {
            QVERIFY2(qgetenv("CI") != "true", "no ping on the CI machine (scripts/deps.sh installs it)");
            QSKIP("no ping on this machine");
        }
        PingTest ping;
        QString output;
        connect(&ping, &PingTest::outputAppended, [&output](const QString &p) { output += p + '\n'; });
        QCOMPARE(ping.start("127.0.0.1"), PingTest::Started);
        QTRY_VERIFY_WITH_TIMEOUT(output.contains("icmp_seq") || output.contains("ermi"), 10000);
        if (!output.contains("icmp_seq"))
            QSKIP("ping not permitted here");
        ping.stop();
        QVERIFY(!ping.isRunning());
        QCOMPARE(ping.start("-f 127.0.0.1"), PingTest::Refused);
    }
};

QTEST_MAIN(TestNetConfig)
#include "tst_netconfig.moc"

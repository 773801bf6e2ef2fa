// The report-link settings file as the network dialog loads and saves it (keys, types, defaults,
// other keys and folders kept, a damaged file rebuilt and kept aside, the port checked, a failed write
// leaving the file whole while the helpers still restart), and the ping test (one checked argument,
// polled output, the real ping on loopback when this machine has one).
#include "netcardrunner.h"
#include "netconfigfile.h"
#include "pingtest.h"
#include "qornetmn.h"
#include "testfiles.h"
#include "testworkdir.h"
#include "uitexttable.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QtTest>

namespace {
QJsonObject parse(const QByteArray &text)
{
    return QJsonDocument::fromJson(text).object();
}

// A ping that answers with scripted output and remembers how it was started.
struct FakePing : LongProcess
{
    struct Log
    {
        QStringList started;
        int closed = 0;
        QList<QByteArray> pending;
        bool fails = false;
    };
    explicit FakePing(Log *log) : log(log) {}
    bool start(const QString &program, const QStringList &arguments, int) override
    {
        log->started = QStringList{program} + arguments;
        return !log->fails;
    }
    QByteArray readAvailable() override
    {
        return log->pending.isEmpty() ? QByteArray() : log->pending.takeFirst();
    }
    void close() override { ++log->closed; }
    Log *log;
};

const QByteArray kNoFile = "<none>";
} // namespace

class TestNetConfig : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { fillUiTextTable(); }
    void loadAndSave_data();
    void loadAndSave();
    void applyRestartsTheHelpersEvenWhenTheWriteFails_data();
    void applyRestartsTheHelpersEvenWhenTheWriteFails();
    void pingTargets_data();
    void pingTargets();
    void realPingOnLoopback();
};

void TestNetConfig::loadAndSave_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<bool>("loads");
    QTest::addColumn<QString>("shownPort");
    QTest::addColumn<bool>("shownNetFunc");
    QTest::addColumn<QString>("address"); // typed into the dialog
    QTest::addColumn<QString>("port");    // typed into the dialog
    QTest::addColumn<QByteArray>("after");

    const QByteArray folders =
        R"("videoapp_dir":"/root/bin-DOD/cnt_net/","workspace":"/root/bin-DOD/cnt_net/workspace/")";
    const auto five = [](const QString &addr, const QString &port) {
        return QStringLiteral(R"("device_worknetfunc":true,"device_workvideo":false,"devicename":"box 7",)"
                              R"("serveraddr":"%1","serverport":"%2")")
            .arg(addr, port)
            .toUtf8();
    };
    QTest::newRow("no file: defaults, file made")
        << kNoFile << false << "10432" << false << "192.168.1.5"
        << "10432"
        << "{" + five("192.168.1.5", "10432") + "," + folders + "}";
    QTest::newRow("other keys kept")
        << QByteArray(
               R"({"version":"V2.1","camcount":4,"serverport":"10500","device_worknetfunc":true,"extra":[1]})")
        << true << "10500" << true << "10.0.0.9"
        << "10500"
        << R"({"version":"V2.1","camcount":4,"extra":[1],)" + five("10.0.0.9", "10500") + "," + folders +
               "}";
    QTest::newRow("numeric port shown as default, saved as a string")
        << QByteArray(R"({"serverport":10433,"device_worknetfunc":"true"})") << true << "10432" << false
        << "10.0.0.9"
        << "10432"
        << "{" + five("10.0.0.9", "10432") + "," + folders + "}";
    QTest::newRow("folders kept") << QByteArray(R"({"videoapp_dir":"/opt/ppy/","workspace":"/data/ws/"})")
                                  << true << "10432" << false << "10.0.0.9"
                                  << "10432"
                                  << "{" + five("10.0.0.9", "10432") +
                                         R"(,"videoapp_dir":"/opt/ppy/","workspace":"/data/ws/"})";
    QTest::newRow("unparsable file rebuilt")
        << QByteArray(R"({"version":"V2.1",)") << false << "10432" << false << "10.0.0.9"
        << "10432"
        << "{" + five("10.0.0.9", "10432") + "," + folders + "}";
    QTest::newRow("empty address saved as 0.0.0.0") << kNoFile << false << "10432" << false << ""
                                                    << "10432"
                                                    << "{" + five("0.0.0.0", "10432") + "," + folders + "}";
    QTest::newRow("port out of range keeps the stored port")
        << QByteArray(R"({"serverport":"10500"})") << true << "10500" << false << "10.0.0.9"
        << "65536"
        << "{" + five("10.0.0.9", "10500") + "," + folders + "}";
    QTest::newRow("port with letters keeps the stored port")
        << QByteArray(R"({"serverport":"10500"})") << true << "10500" << false << "10.0.0.9"
        << "80; rm"
        << "{" + five("10.0.0.9", "10500") + "," + folders + "}";
    QTest::newRow("port 0 without a stored port gives the default")
        << QByteArray(R"({"serverport":"x"})") << true << "x" << false << "10.0.0.9"
        << "0"
        << "{" + five("10.0.0.9", "10432") + "," + folders + "}";
    QTest::newRow("port with leading zeros saved plain")
        << kNoFile << false << "10432" << false << "10.0.0.9"
        << "08080"
        << "{" + five("10.0.0.9", "8080") + "," + folders + "}";
    QTest::newRow("highest port") << kNoFile << false << "10432" << false << "10.0.0.9"
                                  << "65535"
                                  << "{" + five("10.0.0.9", "65535") + "," + folders + "}";
}

void TestNetConfig::loadAndSave()
{
    QFETCH(QByteArray, before);
    QFETCH(bool, loads);
    QFETCH(QString, shownPort);
    QFETCH(bool, shownNetFunc);
    QFETCH(QString, address);
    QFETCH(QString, port);
    QFETCH(QByteArray, after);

    TestWorkDir dir(TestWorkDir::Empty);
    if (before != kNoFile)
        QVERIFY(writeTestFile("cnt_net/config.json", before));
    ServiceConfig config;
    QCOMPARE(NetConfigFile::load(&config), loads);
    QCOMPARE(config.serverport, shownPort);
    QCOMPARE(config.workNetFunc, shownNetFunc);

    // What the dialog's apply button does with its fields.
    config.devicename = "box 7";
    config.serveraddr = address;
    config.workNetFunc = true;
    config.workVideo = false;
    const QString kept = NetConfigFile::acceptedServerPort(port, config.serverport);
    config.serverport = port;
    QVERIFY(NetConfigFile::save(config));
    const QByteArray text = readTestFile("cnt_net/config.json");
    QCOMPARE(QJsonDocument(parse(text)).toJson(QJsonDocument::Compact),
             QJsonDocument(parse(after)).toJson(QJsonDocument::Compact));
    QVERIFY(text.contains("\n    \"")); // indented
    QCOMPARE(QFile::exists("cnt_net/config.json.bad"), loads == false && before != kNoFile);
    if (QFile::exists("cnt_net/config.json.bad"))
        QCOMPARE(readTestFile("cnt_net/config.json.bad"), before);

    // The dialog shows what was saved; the link reads the same key as a string.
    ServiceConfig reread;
    QVERIFY(NetConfigFile::load(&reread));
    QCOMPARE(reread.serverport, parse(after).value("serverport").toString());
    if (NetConfigFile::isValidServerPort(port.trimmed()))
        QCOMPARE(kept, QString::number(port.toInt()));
    else
        QCOMPARE(kept, shownPort);
    QCOMPARE(QOR_NETMN::readConfig("serverport").type(), QVariant::String);
}

void TestNetConfig::applyRestartsTheHelpersEvenWhenTheWriteFails_data()
{
    QTest::addColumn<qint64>("fileSizeLimit");
    QTest::addColumn<bool>("written");
    QTest::newRow("written") << qint64(1 << 20) << true;
    QTest::newRow("disk full") << qint64(40) << false;
}

void TestNetConfig::applyRestartsTheHelpersEvenWhenTheWriteFails()
{
    QFETCH(qint64, fileSizeLimit);
    QFETCH(bool, written);

    TestWorkDir dir(TestWorkDir::Empty);
    const QByteArray before =
        R"({"version":"V2.1","device_worknetfunc":true,"device_workvideo":true,"serverport":"10432"})";
    QVERIFY(writeTestFile("cnt_net/config.json", before));
    // In a child: the file size limit stays there, and so does the report link it makes.
    const int failures = runWithFileSizeLimit(fileSizeLimit, [] {
        NetCardRunner runner;
        setCommandRunner(&runner);
        QOR_NETMN *link = QOR_NETMN::instance();
        link->setWorkFlags(true, true);
        ServiceConfig config;
        config.serveraddr = "10.0.0.9";
        const bool saved = NetConfigFile::apply(config);
        int bits = saved ? 1 : 0;
        if (link->netFuncEnabled || link->videoEnabled)
            bits |= 2;
        if (!runner.calls.contains(QStringList{"killall", "-9", "pynet_monitor"}))
            bits |= 4;
        setCommandRunner(nullptr);
        return bits;
    });
    QCOMPARE(failures, written ? 1 : 0);
    const QJsonObject now = parse(readTestFile("cnt_net/config.json"));
    if (written) {
        QCOMPARE(now.value("device_worknetfunc"), QJsonValue(false));
        QCOMPARE(now.value("version"), QJsonValue("V2.1"));
    } else {
        QCOMPARE(readTestFile("cnt_net/config.json"), before);
        QCOMPARE(QDir("cnt_net").entryList(QDir::Files), QStringList{"config.json"});
    }
}

void TestNetConfig::pingTargets_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("result");
    QTest::addColumn<QStringList>("started"); // empty: nothing run

#ifdef MG_BOX_BUILD
    const int offBox = PingTest::Started;
#else
    const int offBox = PingTest::NotAllowed;
#endif
    QTest::newRow("loopback address")
        << "127.0.0.1" << int(PingTest::Started) << QStringList{"ping", "127.0.0.1"};
    QTest::newRow("blanks trimmed") << " 127.0.0.2 " << int(PingTest::Started)
                                    << QStringList{"ping", "127.0.0.2"};
    QTest::newRow("IPv6 loopback") << "::1" << int(PingTest::Started) << QStringList{"ping", "::1"};
    QTest::newRow("flood option refused") << "-f 127.0.0.1" << int(PingTest::Refused) << QStringList();
    QTest::newRow("option glued to a name refused") << "-fbox" << int(PingTest::Refused) << QStringList();
    QTest::newRow("two words refused") << "127.0.0.1 -c" << int(PingTest::Refused) << QStringList();
    QTest::newRow("shell line refused") << "a;reboot" << int(PingTest::Refused) << QStringList();
    QTest::newRow("empty refused") << "" << int(PingTest::Refused) << QStringList();
    QTest::newRow("label ending in dash refused") << "box-.lan" << int(PingTest::Refused) << QStringList();
    QTest::newRow("server address off this machine")
        << "10.0.0.1" << offBox
        << (offBox == PingTest::Started ? QStringList{"ping", "10.0.0.1"} : QStringList());
    QTest::newRow("host name") << "server-1.plant.lan" << offBox
                               << (offBox == PingTest::Started ? QStringList{"ping", "server-1.plant.lan"}
                                                               : QStringList());
}

void TestNetConfig::pingTargets()
{
    QFETCH(QString, field);
    QFETCH(int, result);
    QFETCH(QStringList, started);

    FakePing::Log log;
    log.pending = {"PING 127.0.0.1 56(84) bytes of data.\n64 bytes from 127.0.0.1: icmp_seq=1\n",
                   "64 bytes"};
    setLongProcessFactory([&log] { return std::make_unique<FakePing>(&log); });
    {
        PingTest ping;
        QStringList paragraphs;
        connect(&ping, &PingTest::outputAppended, [&paragraphs](const QString &p) { paragraphs << p; });
        QCOMPARE(int(ping.start(field)), result);
        QCOMPARE(log.started, started);
        QCOMPARE(ping.isRunning(), !started.isEmpty());
        if (started.isEmpty()) {
            QVERIFY(!PingTest::resultText(PingTest::StartResult(result), field).isEmpty());
            QTest::qWait(250);
            QVERIFY(paragraphs.isEmpty());
        } else {
            // Polled every 100 ms: the line end of a whole read goes, a cut read keeps its last character.
            QTRY_COMPARE(paragraphs.size(), 2);
            QCOMPARE(paragraphs[0],
                     QString("PING 127.0.0.1 56(84) bytes of data.\n64 bytes from 127.0.0.1: icmp_seq=1"));
            QCOMPARE(paragraphs[1], QString("64 bytes"));
            ping.stop(); // pane closed
            QCOMPARE(log.closed, 1);
            QVERIFY(!ping.isRunning());
        }
    }
    log.fails = true;
    PingTest ping;
    QCOMPARE(ping.start("127.0.0.1"), PingTest::NotStarted);
    QVERIFY(!ping.isRunning());
    QCOMPARE(PingTest::resultText(PingTest::NotStarted, "127.0.0.1"), uiText(712));
    setLongProcessFactory({});
}

void TestNetConfig::realPingOnLoopback()
{
    if (QStandardPaths::findExecutable("ping").isEmpty())
        QSKIP("no ping on this machine");
    PingTest ping;
    QString output;
    connect(&ping, &PingTest::outputAppended, [&output](const QString &p) { output += p + '\n'; });
    QCOMPARE(ping.start("127.0.0.1"), PingTest::Started);
    QTRY_VERIFY_WITH_TIMEOUT(output.contains("icmp_seq") || output.contains("not permitted") ||
                                 output.contains("Operation"),
                             10000);
    if (!output.contains("icmp_seq"))
        QSKIP("ping not permitted here");
    ping.stop();
    QVERIFY(!ping.isRunning());
    QCOMPARE(ping.start("-f 127.0.0.1"), PingTest::Refused);
}

QTEST_MAIN(TestNetConfig)
#include "tst_netconfig.moc"

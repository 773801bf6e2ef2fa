// Network cards: reading the card files against the kernel's interfaces, writing them back for the
// apply script (split, key order, carried-over cards, pass-phrase file mode, atomic), the receive-rate
// monitor and the WiFi scan, all in a temporary system root with a recording command runner.
#include "clock.h"
#include "netcardrunner.h"
#include "networkmanager.h"
#include "pathmap.h"
#include "testfiles.h"
#include "testworkdir.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThreadPool>
#include <QtTest>

#include <atomic>

namespace {
const QByteArray kNetDev =
    "Inter-|   Receive                                                |  Transmit\n"
    " face |bytes    packets errs drop fifo frame compressed multicast|bytes    packets errs drop\n"
    "    lo: 7635895087  236406    0    0    0     0          0         0 7635895087  236406\n"
    "  eth0: 34973776    1059    0    0    0     0          0         0    52392     623\n"
    "  eth1:123456789    1059    0    0    0     0          0         0    52392     623\n"
    " wlan0:       0       0    0    0    0     0          0         0        0       0\n";

QByteArray cardFile(const QString &cardsJson)
{
    return "{\"netcard_info\": [" + cardsJson.toUtf8() + "]}";
}

// "name address dhcp use describe" of every card in acceptance order.
QString summary(const NetworkManager &manager)
{
    const QMap<QString, stu_netinfo> items = manager.cardItems();
    QStringList out;
    for (const QJsonValue &card : manager.cards) {
        const stu_netinfo info = items.value(card.toObject().value("name").toString());
        out << QStringLiteral("%1 %2 dhcp=%3 use=%4 %5")
                   .arg(info.name, info.address)
                   .arg(int(info.isdhcp))
                   .arg(int(info.use))
                   .arg(info.describe);
    }
    return out.join(" | ");
}
} // namespace

class TestNetworkCards : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void reloadReadsTheCardFiles_data();
    void reloadReadsTheCardFiles();
    void writtenFilesReadBackForTheScript_data();
    void writtenFilesReadBackForTheScript();
    void kernelNamesOfThisMachine();
    void trafficRates();
    void monitorRunsIfconfigOffTheGuiThread();
    void wifiScan_data();
    void wifiScan();

private:
    QString sys(const QString &path) const { return mapSystemPath(path); }
    TestWorkDir *m_dir = nullptr;
    NetCardRunner *m_runner = nullptr;
};

void TestNetworkCards::init()
{
    m_dir = new TestWorkDir(TestWorkDir::Empty);
    QVERIFY(m_dir->isValid());
    setSystemPathRoot(m_dir->filePath("sys"));
    QVERIFY(writeTestFile(sys("/proc/net/dev"), kNetDev));
    QVERIFY(QDir().mkpath(sys("/etc/netplan")));
    m_runner = new NetCardRunner;
    setCommandRunner(m_runner);
}

void TestNetworkCards::cleanup()
{
    QThreadPool::globalInstance()->waitForDone();
    setCommandRunner(nullptr);
    setAppMonotonicClock({});
    setSystemPathRoot(QString());
    delete m_runner;
    delete m_dir;
}

void TestNetworkCards::reloadReadsTheCardFiles_data()
{
    QTest::addColumn<QByteArray>("wired"); // empty: no file
    QTest::addColumn<QByteArray>("wifi");  // empty: no file
    QTest::addColumn<bool>("rescan");
    QTest::addColumn<QByteArray>("scriptWritesWired"); // empty: the script writes nothing
    QTest::addColumn<bool>("result");
    QTest::addColumn<QString>("cards");
    QTest::addColumn<int>("scriptRuns");
    QTest::addColumn<bool>("reportKept");

    const QString eth0 = R"({"name":"eth0","address":"10.0.0.1","describe":"LAN"})";
    QTest::newRow("duplicate name: first wins")
        << cardFile(eth0 + R"(,{"name":"eth0","address":"10.0.0.2"},{"name":"eth1","address":"10.1.0.1"})")
        << QByteArray() << false << QByteArray() << true
        << "eth0 10.0.0.1 dhcp=0 use=1 LAN | eth1 10.1.0.1 dhcp=0 use=1 " << 0 << true;
    QTest::newRow("unknown interface dropped")
        << cardFile(eth0 + R"(,{"name":"eth7","address":"10.7.0.1"})") << QByteArray() << false
        << QByteArray() << true << "eth0 10.0.0.1 dhcp=0 use=1 LAN" << 0 << true;
    QTest::newRow("WiFi named like a wired card dropped")
        << cardFile(eth0)
        << cardFile(R"({"name":"eth0","iswifi":true,"address":"9.9.9.9"},)"
                    R"({"name":"wlan0","iswifi":true,"use":false,"address":"192.168.4.2","hotname":"hall"})")
        << false << QByteArray() << true
        << "eth0 10.0.0.1 dhcp=0 use=1 LAN | wlan0 192.168.4.2 dhcp=0 use=0 " << 0 << true;
    QTest::newRow("string true leaves the defaults")
        << cardFile(R"({"name":"eth0","isdhcp":"true","iswifi":"true","use":false,"address":7})")
        << QByteArray() << false << QByteArray() << true << "eth0  dhcp=0 use=1 " << 0 << true;
    QTest::newRow("describe plus describe_netplan")
        << cardFile(R"({"name":"eth1","isdhcp":true,"describe":"LAN","describe_netplan":"eth1"})")
        << QByteArray() << false << QByteArray() << true << "eth1  dhcp=1 use=1 LAN(eth1)" << 0 << true;
    QTest::newRow("no wired card deletes the report, WiFi not read")
        << cardFile(R"({"name":"eth7"})") << cardFile(R"({"name":"wlan0","iswifi":true})") << false
        << QByteArray() << false << "" << 0 << false;
    QTest::newRow("unparsable WiFi file: wired cards only")
        << cardFile(eth0) << QByteArray("{\"netcard_info\": [") << false << QByteArray() << true
        << "eth0 10.0.0.1 dhcp=0 use=1 LAN" << 0 << true;
    QTest::newRow("rescan, script writes nothing: earlier file read")
        << cardFile(eth0) << QByteArray() << true << QByteArray() << true << "eth0 10.0.0.1 dhcp=0 use=1 LAN"
        << 1 << true;
    QTest::newRow("no wired file, script writes nothing")
        << QByteArray() << QByteArray() << false << QByteArray() << false << "" << 1 << true;
    QTest::newRow("no wired file, script writes it")
        << QByteArray() << QByteArray() << false << cardFile(R"({"name":"eth0","isdhcp":true})") << true
        << "eth0  dhcp=1 use=1 " << 1 << true;
}

void TestNetworkCards::reloadReadsTheCardFiles()
{
    QFETCH(QByteArray, wired);
    QFETCH(QByteArray, wifi);
    QFETCH(bool, rescan);
    QFETCH(QByteArray, scriptWritesWired);
    QFETCH(bool, result);
    QFETCH(QString, cards);
    QFETCH(int, scriptRuns);
    QFETCH(bool, reportKept);

    // A manager built before the files are laid out (no wired file: its script run writes nothing).
    NetworkManager manager;
    QCOMPARE(m_runner->callsOf("python3").size(), 1);
    m_runner->calls.clear();
    if (!wired.isEmpty())
        QVERIFY(writeTestFile(sys("/etc/netplan/netplan_prejson.txt"), wired));
    if (!wifi.isEmpty())
        QVERIFY(writeTestFile(sys("/etc/netplan/wifi_prejson.txt"), wifi));
    QVERIFY(writeTestFile(sys("/etc/network/pyreport.txt"), "report"));
    const QString wiredPath = sys("/etc/netplan/netplan_prejson.txt");
    if (!scriptWritesWired.isEmpty())
        m_runner->actions["python3"] = [=] { writeTestFile(wiredPath, scriptWritesWired); };

    QCOMPARE(manager.reload(rescan), result);
    QCOMPARE(summary(manager), cards);
    QCOMPARE(m_runner->calls.size(), scriptRuns);
    if (scriptRuns)
        QCOMPARE(m_runner->calls.first(), (QStringList{"python3", "./cnt_net/zariz20_upnetcard.py"}));
    QCOMPARE(QFile::exists(sys("/etc/network/pyreport.txt")), reportKept);
}

void TestNetworkCards::writtenFilesReadBackForTheScript_data()
{
    QTest::addColumn<QByteArray>("oldWired");
    QTest::addColumn<QByteArray>("oldWifi");
    QTest::addColumn<bool>("blockWifi"); // a folder where the WiFi file belongs
    QTest::addColumn<bool>("written");
    QTest::addColumn<QStringList>("wiredNames");
    QTest::addColumn<QStringList>("wifiNames");

    QTest::newRow("rows split into the two files") << QByteArray() << QByteArray() << false << true
                                                   << QStringList{"eth0", "eth1"} << QStringList{"wlan0"};
    QTest::newRow("absent cards carried over with their pass phrase")
        << cardFile(R"({"name":"eth0","address":"1.1.1.1"},{"name":"eth5","address":"5.5.5.5"})")
        << cardFile(
               R"({"name":"wlan0","iswifi":true},{"name":"wlan1","iswifi":true,"hotname":"yard","passwd":"s3cret"})")
        << false << true << QStringList{"eth0", "eth1", "eth5"} << QStringList{"wlan0", "wlan1"};
    QTest::newRow("WiFi file cannot be written: wired written, WiFi untouched")
        << QByteArray() << QByteArray() << true << false << QStringList{"eth0", "eth1"} << QStringList();
}

void TestNetworkCards::writtenFilesReadBackForTheScript()
{
    QFETCH(QByteArray, oldWired);
    QFETCH(QByteArray, oldWifi);
    QFETCH(bool, blockWifi);
    QFETCH(bool, written);
    QFETCH(QStringList, wiredNames);
    QFETCH(QStringList, wifiNames);

    const QString wiredPath = sys("/etc/netplan/netplan_prejson.txt");
    const QString wifiPath = sys("/etc/netplan/wifi_prejson.txt");
    if (!oldWired.isEmpty())
        QVERIFY(writeTestFile(wiredPath, oldWired));
    if (!oldWifi.isEmpty())
        QVERIFY(writeTestFile(wifiPath, oldWifi));
    if (blockWifi)
        QVERIFY(QDir().mkpath(wifiPath + "/x"));

    stu_netinfo eth0;
    eth0.name = "eth0";
    eth0.address = "192.168.1.10";
    eth0.netmask = "255.255.255.0";
    eth0.gateway = "192.168.1.1";
    eth0.dns = "8.8.8.8";
    eth0.mac = "00:11:22:33:44:55";
    eth0.status = "up";
    eth0.describe = "LAN(eth0)";
    eth0.hotname = "never written for a wired card";
    stu_netinfo eth1;
    eth1.name = "eth1";
    eth1.isdhcp = true;
    stu_netinfo wlan0;
    wlan0.name = "wlan0";
    wlan0.iswifi = true;
    wlan0.use = false;
    wlan0.hotname = "hall";
    wlan0.passwd = "pa ss\"word";
    QCOMPARE(NetworkManager::writeCardFiles({eth0, eth1, wlan0}), written);

    const auto names = [](const QString &path) {
        QStringList out;
        for (const QJsonValue &v :
             QJsonDocument::fromJson(readTestFile(path)).object()["netcard_info"].toArray())
            out << v.toObject()["name"].toString();
        return out;
    };
    QCOMPARE(names(wiredPath), wiredNames);
    QVERIFY(!QDir(wifiPath).exists() || blockWifi);
    if (blockWifi)
        return;
    QCOMPARE(names(wifiPath), wifiNames);
    QCOMPARE(QFile::permissions(wifiPath) & 0x0077, QFileDevice::Permissions());
    QCOMPARE(QFile::permissions(wifiPath) & (QFileDevice::ReadOwner | QFileDevice::WriteOwner),
             QFileDevice::ReadOwner | QFileDevice::WriteOwner);

    // The script's key order, Qt's indented layout, no WiFi keys on a wired card.
    const QByteArray wiredText = readTestFile(wiredPath);
    QVERIFY(wiredText.startsWith("{\n    \"netcard_info\": [\n        {\n            \"name\": \"eth0\",\n"
                                 "            \"dns\": \"8.8.8.8\",\n            \"gateway\""));
    QVERIFY(!wiredText.contains("hotname") || !oldWired.isEmpty());
    const QByteArray wifiText = readTestFile(wifiPath);
    QVERIFY(wifiText.indexOf("\"iswifi\"") < wifiText.indexOf("\"use\""));
    QVERIFY(wifiText.indexOf("\"hotname\"") < wifiText.indexOf("\"passwd\""));
    if (!oldWifi.isEmpty()) {
        const QJsonArray cards = QJsonDocument::fromJson(wifiText).object()["netcard_info"].toArray();
        QCOMPARE(cards.at(1).toObject()["passwd"].toString(), QString("s3cret"));
    }

    // What the script leaves as it was reads back as the rows held it.
    NetworkManager manager;
    const QMap<QString, stu_netinfo> items = manager.cardItems();
    for (const stu_netinfo &row : {eth0, eth1, wlan0}) {
        const stu_netinfo back = items.value(row.name);
        QCOMPARE(back.name, row.name);
        QCOMPARE(back.address, row.address);
        QCOMPARE(back.netmask, row.netmask);
        QCOMPARE(back.gateway, row.gateway);
        QCOMPARE(back.dns, row.dns);
        QCOMPARE(back.mac, row.mac);
        QCOMPARE(back.status, row.status);
        QCOMPARE(back.describe, row.describe);
        QCOMPARE(back.isdhcp, row.isdhcp);
        QCOMPARE(back.iswifi, row.iswifi);
        QCOMPARE(back.use, row.use);
        QCOMPARE(back.hotname, row.iswifi ? row.hotname : QString());
        QCOMPARE(back.passwd, row.passwd);
    }
}

void TestNetworkCards::kernelNamesOfThisMachine()
{
    setSystemPathRoot(QString());
    QFile dev("/proc/net/dev");
    if (!dev.open(QIODevice::ReadOnly))
        QSKIP("no /proc/net/dev here");
    const QString text = QString::fromUtf8(dev.readAll());
    QStringList expected =
        QDir("/sys/class/net").entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System);
    expected.removeAll("lo");
    if (expected.isEmpty())
        QSKIP("no /sys/class/net here");
    QStringList names = kernelInterfaceNames(text);
    names.sort();
    expected.sort();
    QCOMPARE(names, expected);
    for (const QString &name : qAsConst(names))
        QCOMPARE(isWirelessInterface(name),
                 QDir(QStringLiteral("/sys/class/net/%1/wireless").arg(name)).exists());
    QVERIFY(!isWirelessInterface("lo"));
    QVERIFY(!isWirelessInterface(QString()));
}

void TestNetworkCards::trafficRates()
{
    NetworkManager manager;
    manager.applyInterfaceList(
        "eth0: flags=4163<UP,BROADCAST,RUNNING,MULTICAST>  mtu 1500\n        inet 10.0.0.1\n\n"
        "eth1: flags=4163<UP,BROADCAST,RUNNING,MULTICAST>  mtu 1500\n\n"
        "eth2: flags=4099<UP,BROADCAST,MULTICAST>  mtu 1500\n\n"
        "lo: flags=73<UP,LOOPBACK,RUNNING>  mtu 65536\n\n"
        "wlan0: flags=4098<BROADCAST,MULTICAST>  mtu 1500\n");
    QCOMPARE(manager.traffic.keys(), (QStringList{"eth0", "eth1", "eth2"}));
    const auto netDev = [](quint64 eth0, quint64 eth1, quint64 eth2) {
        return QStringLiteral(
                   "Inter-|\n face |\n    lo: 99 0\n  eth0: %1 0 0\n  eth1:%2 0 0\n  eth2: %3 0 0\n")
            .arg(eth0)
            .arg(eth1)
            .arg(eth2);
    };
    const auto rates = [&manager] {
        QStringList out;
        for (const TrafficInfo &t : qAsConst(manager.traffic))
            out << t.rateText + (t.active ? "+" : "-");
        return out.join(' ');
    };
    // A counter from long ago (or 0 on the very first run) gives no burst: the first reading stores.
    manager.applyCounters(netDev(4000000000ull, 900000000ull, 77), 1000);
    QCOMPARE(rates(), QString("0 kb/s- 0 kb/s- 0 kb/s-"));
    manager.applyCounters(netDev(4000000000ull + 3840, 900000000ull + 2621440, 77), 3500);
    QCOMPARE(rates(), QString("1.50kb/s+ 1.00mb/s+ 0.00b/s-"));
    QCOMPARE(manager.traffic["eth0"].curRxBytes, 4000000000ull + 3840);
    // Counter went back (driver reload, 32-bit wrap): stored, no rate, no 16-exabyte spike.
    manager.applyCounters(netDev(1000, 900000000ull + 2621440, 77), 6000);
    QCOMPARE(rates(), QString("1.50kb/s+ 0.00b/s- 0.00b/s-"));
    manager.applyCounters(netDev(1000 + 2500, 900000000ull + 2621440, 77), 8500);
    QCOMPARE(rates(), QString("1000.00b/s+ 0.00b/s- 0.00b/s-"));
    // Not RUNNING any more: inactive at the next interface list, before any counter.
    manager.applyInterfaceList("eth0: flags=4099<UP,BROADCAST,MULTICAST>  mtu 1500\n");
    QVERIFY(!manager.traffic["eth0"].active);
    // Switching the monitor on again (next dialog): minutes-old counters only store.
    manager.setTrafficMonitor(true, 60000);
    manager.applyCounters(netDev(900000000000ull, 900000000ull, 77), 600000);
    QCOMPARE(rates(), QString("1000.00b/s- 0.00b/s- 0.00b/s-"));
    manager.setTrafficMonitor(false);
}

void TestNetworkCards::monitorRunsIfconfigOffTheGuiThread()
{
    std::atomic<qint64> now{0};
    setAppMonotonicClock([&now] { return now.load(); });
    m_runner->outputs["ifconfig"] = "eth0: flags=4163<UP,BROADCAST,RUNNING,MULTICAST>  mtu 1500\n\n";
    NetworkManager manager;
    manager.setTrafficMonitor(true, 10);
    QTRY_VERIFY(manager.traffic.value("eth0").counted);
    QVERIFY(writeTestFile(sys("/proc/net/dev"), "  eth0: 34976336 0\n"));
    now = 2500;
    QTRY_COMPARE(manager.traffic.value("eth0").rateText, QString("1.00kb/s"));
    manager.setTrafficMonitor(false);
    QThreadPool::globalInstance()->waitForDone();
    const QList<QStringList> runs = m_runner->callsOf("ifconfig");
    QVERIFY(!runs.isEmpty());
    QCOMPARE(runs.first(), QStringList{"ifconfig"});
    QMutexLocker lock(&m_runner->mutex);
    for (int i = 0; i < m_runner->calls.size(); ++i)
        if (m_runner->calls[i].first() == "ifconfig")
            QVERIFY(m_runner->threads[i] != QThread::currentThread());
}

void TestNetworkCards::wifiScan_data()
{
    QTest::addColumn<QString>("interfaceName");
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<QStringList>("networks");
    QTest::addColumn<int>("runs");

    QTest::newRow("each name once, none empty, in order")
        << "wlan0"
        << QByteArray("wlan0  Scan completed :\n          Cell 01 - Address: AA\n"
                      "                    ESSID:\"hall\"\n                    ESSID:\"\"\n"
                      "                    ESSID:\"yard 2\"\n                    ESSID:\"hall\"\n"
                      "                    Quality=70/70\n")
        << QStringList{"hall", "yard 2"} << 1;
    QTest::newRow("nothing in reach")
        << "wlan0" << QByteArray("wlan0  No scan results\n") << QStringList() << 1;
    QTest::newRow("no interface: no scan") << "" << QByteArray("ESSID:\"x\"") << QStringList() << 0;
    QTest::newRow("a shell line as interface stays one argument")
        << "wlan0;reboot" << QByteArray() << QStringList() << 1;
}

void TestNetworkCards::wifiScan()
{
    QFETCH(QString, interfaceName);
    QFETCH(QByteArray, output);
    QFETCH(QStringList, networks);
    QFETCH(int, runs);

    NetworkManager manager;
    m_runner->outputs["iwlist"] = output;
    QCOMPARE(manager.scanWifi(interfaceName), networks);
    const QList<QStringList> calls = m_runner->callsOf("iwlist");
    QCOMPARE(calls.size(), runs);
    if (runs)
        QCOMPARE(calls.first(), (QStringList{"iwlist", interfaceName, "scan"}));
    QVERIFY(m_runner->callsOf("bash").isEmpty());
}

QTEST_MAIN(TestNetworkCards)
#include "tst_networkcards.moc"

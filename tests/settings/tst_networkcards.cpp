// Network cards: reading the card files against the kernel's interfaces, writing them back for the
// apply script (split, key order, carried-over cards, pass-phrase file mode, atomic), the receive-rate
// monitor and the WiFi scan, all in a temporary system root with a recording command runner.
#include "clock.h"
#include "netcardrunner.h"
#include "networkmanager.h"
#include "pathmap.h"
#include "testfiles.h"
#include "testworkdir.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QThreadPool>
#include <QtTest>

#include <net/if.h>

#include <atomic>

namespace {
const QByteArray kNetDev =
    "Inter-|   Receive\n face |bytes    packets errs\n    lo: 7635895087  236406    0\n"
    "  eth0: 34973776    1059    0\n  eth1:123456789    1059    0\n wlan0:       0       0    0\n";

QByteArray cards(const char *json)
{
    return json[0] ? "{\"netcard_info\": [" + QByteArray(json) + "]}" : QByteArray();
}

// A card file of about `size` bytes: the cards and a padding key the reading ignores.
QByteArray padded(const char *json, int size)
{
    return "{\"pad\": \"" + QByteArray(size, 'x') + "\", \"netcard_info\": [" + QByteArray(json) + "]}";
}

// "name address dhcp use describe" of every card in acceptance order.
QString summary(const NetworkManager &manager)
{
    QStringList out;
    for (const QJsonValue &card : manager.cards) {
        const stu_netinfo i = manager.cardItems().value(card.toObject().value("name").toString());
        out << QStringLiteral("%1 %2 %3%4 %5")
                   .arg(i.name, i.address)
                   .arg(i.isdhcp)
                   .arg(i.use)
                   .arg(i.describe);
    }
    return out.join(" | ");
}

QStringList names(const QString &path)
{
    QStringList out;
    for (const QJsonValue &v :
         QJsonDocument::fromJson(readTestFile(path)).object()["netcard_info"].toArray())
        out << v.toObject()["name"].toString();
    return out;
}
} // namespace

class TestNetworkCards : public QObject
{
    Q_OBJECT
private:
    TestWorkDir *m_dir = nullptr;
    NetCardRunner *m_runner = nullptr;
    QString m_wired, m_wifi;

private slots:
    void init()
    {
        m_dir = new TestWorkDir(TestWorkDir::Empty);
        setSystemPathRoot(m_dir->filePath("sys"));
        m_wired = mapSystemPath("/etc/netplan/netplan_prejson.txt");
        m_wifi = mapSystemPath("/etc/netplan/wifi_prejson.txt");
        QVERIFY(writeTestFile(mapSystemPath("/proc/net/dev"), kNetDev));
        QVERIFY(QDir().mkpath(mapSystemPath("/etc/netplan")));
        m_runner = new NetCardRunner;
        setCommandRunner(m_runner);
    }

    void cleanup()
    {
        QThreadPool::globalInstance()->waitForDone();
        setCommandRunner(nullptr);
        setAppMonotonicClock({});
        setSystemPathRoot(QString());
        delete m_runner;
        delete m_dir;
    }

    void reloadReadsTheCardFiles_data()
    {
        QTest::addColumn<QByteArray>("wired"); // empty: no file
        QTest::addColumn<QByteArray>("wifi");
        QTest::addColumn<bool>("rescan");
        QTest::addColumn<QByteArray>("scriptWrites"); // the wired file the script writes; empty: nothing
        QTest::addColumn<QString>("expected");        // result, script runs, report kept: cards

        const char *eth0 = R"({"name":"eth0","address":"10.0.0.1","describe":"LAN"})";
        const QByteArray eth0And = "{\"netcard_info\": [" + QByteArray(eth0) + ",";
        // clang-format off
        QTest::newRow("duplicate name: first wins")
            << eth0And + R"({"name":"eth0","address":"2"},{"name":"eth1"}]})"
            << QByteArray() << false << QByteArray() << "1 0 1: eth0 10.0.0.1 01 LAN | eth1  01 ";
        QTest::newRow("unknown interface dropped") << eth0And + R"({"name":"eth7","address":"10.7.0.1"}]})"
            << QByteArray() << false << QByteArray() << "1 0 1: eth0 10.0.0.1 01 LAN";
        QTest::newRow("WiFi named like a wired card dropped") << cards(eth0)
            << cards(R"({"name":"eth0","iswifi":true},)"
                     R"({"name":"wlan0","iswifi":true,"use":false,"address":"4"})")
            << false << QByteArray() << "1 0 1: eth0 10.0.0.1 01 LAN | wlan0 4 00 ";
        QTest::newRow("string true leaves the defaults")
            << cards(R"({"name":"eth0","isdhcp":"true","iswifi":"true","use":false,"address":7})")
            << QByteArray() << false << QByteArray() << "1 0 1: eth0  01 ";
        QTest::newRow("describe plus describe_netplan")
            << cards(R"({"name":"eth1","isdhcp":true,"describe":"LAN","describe_netplan":"eth1"})")
            << QByteArray() << false << QByteArray() << "1 0 1: eth1  11 LAN(eth1)";
        QTest::newRow("no wired card deletes the report, WiFi not read") << cards(R"({"name":"eth7"})")
            << cards(R"({"name":"wlan0","iswifi":true})") << false << QByteArray() << "0 0 0: ";
        QTest::newRow("unparsable WiFi file: wired cards only") << cards(eth0)
            << QByteArray("{\"netcard_info\": [")
            << false << QByteArray() << "1 0 1: eth0 10.0.0.1 01 LAN";
        // A card file holds a few cards; one of megabytes is not read (refused as damaged).
        QTest::newRow("WiFi file of 10 MB: wired cards only") << cards(eth0)
            << padded(R"({"name":"wlan0","iswifi":true,"address":"4"})", 10000000)
            << false << QByteArray() << "1 0 1: eth0 10.0.0.1 01 LAN";
        QTest::newRow("wired file of 200 KB read") << padded(eth0, 200000)
            << QByteArray() << false << QByteArray() << "1 0 1: eth0 10.0.0.1 01 LAN";
        QTest::newRow("wired file of 10 MB: no card") << padded(eth0, 10000000)
            << QByteArray() << false << QByteArray() << "0 0 0: ";
        QTest::newRow("rescan, script writes nothing: earlier file read") << cards(eth0)
            << QByteArray() << true
            << QByteArray() << "1 1 1: eth0 10.0.0.1 01 LAN";
        QTest::newRow("no wired file, script writes nothing") << QByteArray() << QByteArray() << false
            << QByteArray() << "0 1 1: ";
        QTest::newRow("no wired file, script writes it") << QByteArray() << QByteArray() << false
            << cards(R"({"name":"eth0","isdhcp":true})") << "1 1 1: eth0  11 ";
        // clang-format on
    }

    void reloadReadsTheCardFiles()
    {
        QFETCH(QByteArray, wired);
        QFETCH(QByteArray, wifi);
        QFETCH(bool, rescan);
        QFETCH(QByteArray, scriptWrites);
        QFETCH(QString, expected);

        // Made before the files are laid out: no wired file, so its script run (writing nothing) comes
        // first.
        NetworkManager manager;
        QCOMPARE(m_runner->calls, (QList<QStringList>{{"python3", "./cnt_net/zariz20_upnetcard.py"}}));
        m_runner->calls.clear();
        QVERIFY(wired.isEmpty() || writeTestFile(m_wired, wired));
        QVERIFY(wifi.isEmpty() || writeTestFile(m_wifi, wifi));
        QVERIFY(writeTestFile(mapSystemPath("/etc/network/pyreport.txt"), "report"));
        const QString path = m_wired;
        if (!scriptWrites.isEmpty())
            m_runner->actions["python3"] = [=] { writeTestFile(path, scriptWrites); };

        const bool result = manager.reload(rescan);
        QCOMPARE(QStringLiteral("%1 %2 %3: ")
                         .arg(result)
                         .arg(m_runner->calls.size())
                         .arg(QFile::exists(mapSystemPath("/etc/network/pyreport.txt"))) +
                     summary(manager),
                 expected);
    }

    void writtenFilesReadBackForTheScript_data()
    {
        QTest::addColumn<QByteArray>("oldWired");
        QTest::addColumn<QByteArray>("oldWifi");
        QTest::addColumn<bool>("blockWifi"); // a folder where the WiFi file belongs
        QTest::addColumn<QStringList>("wiredNames");
        QTest::addColumn<QStringList>("wifiNames");

        // clang-format off
        QTest::newRow("rows split into the two files") << QByteArray() << QByteArray() << false
            << QStringList{"eth0", "eth1"} << QStringList{"wlan0"};
        QTest::newRow("absent cards carried over with their pass phrase")
            << cards(R"({"name":"eth0","address":"1.1.1.1"},{"name":"eth5"})")
            << cards(R"({"name":"wlan0","iswifi":true},{"name":"wlan1","iswifi":true,"passwd":"s3cret"})")
            << false << QStringList{"eth0", "eth1", "eth5"} << QStringList{"wlan0", "wlan1"};
        QTest::newRow("WiFi file cannot be written: wired written, WiFi untouched") << QByteArray()
            << QByteArray()
            << true << QStringList{"eth0", "eth1"} << QStringList();
        // clang-format on
    }

    void writtenFilesReadBackForTheScript()
    {
        QFETCH(QByteArray, oldWired);
        QFETCH(QByteArray, oldWifi);
        QFETCH(bool, blockWifi);
        QFETCH(QStringList, wiredNames);
        QFETCH(QStringList, wifiNames);

        QVERIFY(oldWired.isEmpty() || writeTestFile(m_wired, oldWired));
        QVERIFY(oldWifi.isEmpty() || writeTestFile(m_wifi, oldWifi));
        QVERIFY(!blockWifi || QDir().mkpath(m_wifi + "/x"));
        // Fields in order: isdhcp iswifi name address netmask gateway mac dns status describe use hotname
        // passwd.
        stu_netinfo eth0{false,
                         false,
                         "eth0",
                         "192.168.1.10",
                         "255.255.255.0",
                         "192.168.1.1",
                         "00:11:22:33:44:55",
                         "8.8.8.8",
                         "up",
                         "LAN(eth0)",
                         true,
                         "not for a wired card",
                         ""};
        stu_netinfo eth1{true, false, "eth1", "", "", "", "", "", "", "", true, "", ""};
        stu_netinfo wlan0{false, true, "wlan0", "", "", "", "", "", "", "", false, "hall", "pa ss\"word"};
        QCOMPARE(NetworkManager::writeCardFiles({eth0, eth1, wlan0}), !blockWifi);

        QCOMPARE(names(m_wired), wiredNames);
        // The script's key order in Qt's indented layout; no WiFi keys on a wired card.
        const QByteArray wiredText = readTestFile(m_wired);
        QVERIFY(
            wiredText.startsWith("{\n    \"netcard_info\": [\n        {\n            \"name\": \"eth0\",\n"
                                 "            \"dns\": \"8.8.8.8\",\n            \"gateway\""));
        QVERIFY(!wiredText.contains("hotname"));
        if (blockWifi)
            return;
        QCOMPARE(names(m_wifi), wifiNames);
        QCOMPARE(int(QFile::permissions(m_wifi) & 0x6077), int(QFile::ReadOwner | QFile::WriteOwner));
        const QByteArray wifiText = readTestFile(m_wifi);
        QVERIFY(wifiText.indexOf("\"iswifi\"") < wifiText.indexOf("\"use\""));
        QCOMPARE(wifiText.contains("s3cret"), !oldWifi.isEmpty());

        // Read back (as the script leaves them) the cards are the rows, a wired card without WiFi keys.
        eth0.hotname.clear();
        NetworkManager manager;
        for (const stu_netinfo &row : {eth0, eth1, wlan0})
            QCOMPARE(stu_netinfo::toJson(manager.cardItems().value(row.name)), stu_netinfo::toJson(row));
        QVERIFY(manager.cardItems().value("eth0").use);
    }

    void kernelNamesOfThisMachine()
    {
        setSystemPathRoot(QString());
        QFile dev("/proc/net/dev");
        // The interfaces of this process's network namespace, as the C library lists them; /sys may
        // describe another namespace (the test command runs the tests in one of their own).
        QStringList expected;
        if (struct if_nameindex *interfaces = if_nameindex()) {
            for (struct if_nameindex *i = interfaces; i->if_index != 0; ++i)
                expected << QString::fromLocal8Bit(i->if_name);
            if_freenameindex(interfaces);
        }
        expected.removeAll("lo");
        if (!dev.open(QIODevice::ReadOnly) || expected.isEmpty())
            QSKIP("no /proc/net/dev or no network interface but lo here");
        QStringList names = kernelInterfaceNames(QString::fromUtf8(dev.readAll()));
        names.sort();
        expected.sort();
        QCOMPARE(names, expected);
        for (const QString &name : qAsConst(names))
            QCOMPARE(isWirelessInterface(name), QDir("/sys/class/net/" + name + "/wireless").exists());
        QVERIFY(!isWirelessInterface("lo"));
    }

    void trafficRates()
    {
        NetworkManager manager;
        manager.applyInterfaceList(
            "eth0: flags=4163<UP,BROADCAST,RUNNING,MULTICAST>  mtu 1500\n        inet 1.2.3.4\n\n"
            "eth1: flags=4163<UP,BROADCAST,RUNNING,MULTICAST>  mtu 1500\n\n"
            "eth2: flags=4099<UP,BROADCAST,MULTICAST>  mtu 1500\n\n"
            "lo: flags=73<UP,LOOPBACK,RUNNING>  mtu 65536\n\n"
            "wlan0: flags=4098<BROADCAST,MULTICAST>  mtu 1500\n");
        QCOMPARE(manager.traffic.keys(), (QStringList{"eth0", "eth1", "eth2"}));
        // Reads counters (eth1 without a blank after the colon) at a time and gives "rate+/-" per card.
        const auto read = [&manager](quint64 eth0, quint64 eth1, qint64 atMs) {
            manager.applyCounters(
                QStringLiteral("Inter-|\n face |\n  lo: 99 0\n  eth0: %1 0\n  eth1:%2 0\n  eth2: 77 0\n")
                    .arg(eth0)
                    .arg(eth1),
                atMs);
            QStringList out;
            for (const TrafficInfo &t : qAsConst(manager.traffic))
                out << t.rateText + (t.active ? "+" : "-");
            return out.join(' ');
        };
        const quint64 big = 4000000000ull;
        // A counter from long ago (or 0 on the very first run) gives no burst: the first reading stores.
        QCOMPARE(read(big, big, 1000), QString("0 kb/s- 0 kb/s- 0 kb/s-"));
        QCOMPARE(read(big + 3840, big + 2621440, 3500), QString("1.50kb/s+ 1.00mb/s+ 0.00b/s-"));
        QCOMPARE(manager.traffic["eth0"].curRxBytes, big + 3840);
        // A counter that went back (driver reload, 32-bit wrap) is stored without a rate: no spike.
        QCOMPARE(read(1000, big + 2621440, 6000), QString("1.50kb/s+ 0.00b/s- 0.00b/s-"));
        QCOMPARE(read(3500, big + 2621440, 8500), QString("1000.00b/s+ 0.00b/s- 0.00b/s-"));
        // Not RUNNING any more: inactive at the next interface list, before any counter.
        manager.applyInterfaceList("eth0: flags=4099<UP,BROADCAST,MULTICAST>  mtu 1500\n");
        QVERIFY(!manager.traffic["eth0"].active);
        // The monitor switched on again (next dialog): minutes-old counters only store.
        manager.setTrafficMonitor(true, 60000);
        QCOMPARE(read(big * 100, big, 600000), QString("1000.00b/s- 0.00b/s- 0.00b/s-"));
        manager.setTrafficMonitor(false);
    }

    void monitorRunsIfconfigOffTheGuiThread()
    {
        std::atomic<qint64> now{0};
        setAppMonotonicClock([&now] { return now.load(); });
        m_runner->outputs["ifconfig"] = "eth0: flags=4163<UP,BROADCAST,RUNNING,MULTICAST>  mtu 1500\n\n";
        NetworkManager manager;
        manager.setTrafficMonitor(true, 10);
        QTRY_VERIFY(manager.traffic.value("eth0").counted);
        QVERIFY(writeTestFile(mapSystemPath("/proc/net/dev"), "  eth0: 34976336 0\n"));
        now = 2500;
        QTRY_COMPARE(manager.traffic.value("eth0").rateText, QString("1.00kb/s"));
        manager.setTrafficMonitor(false);
        QThreadPool::globalInstance()->waitForDone();
        QVERIFY(m_runner->calls.contains(QStringList{"ifconfig"}));
        for (int i = 0; i < m_runner->calls.size(); ++i)
            QVERIFY(m_runner->calls[i].first() != "ifconfig" ||
                    m_runner->threads[i] != QThread::currentThread());
    }

    void wifiScan()
    {
        NetworkManager manager;
        m_runner->outputs["iwlist"] =
            "wlan0  Scan completed :\n          Cell 01 - Address: AA\n"
            "                    ESSID:\"hall\"\n                    ESSID:\"\"\n"
            "                    ESSID:\"yard 2\"\n                    ESSID:\"hall\"\n";
        QCOMPARE(manager.scanWifi("wlan0"), (QStringList{"hall", "yard 2"}));
        QVERIFY(manager.scanWifi(QString()).isEmpty());
        m_runner->outputs["iwlist"] = "wlan0  No scan results\n";
        QVERIFY(manager.scanWifi("wlan0;reboot").isEmpty());
        // Two scans (none for the empty name), the interface always one argument, no shell.
        QCOMPARE(m_runner->callsOf("iwlist"),
                 (QList<QStringList>{{"iwlist", "wlan0", "scan"}, {"iwlist", "wlan0;reboot", "scan"}}));
        m_runner->outputs["ps"] =
            "/sbin/init\n./cnt_net/pynet_monitor /root/bin-DOD/cnt_net/config.json\nps -eo args=\n";
        QVERIFY(isProcessRunning("pynet_monitor"));
        QVERIFY(!isProcessRunning("hls_avmn") && !isProcessRunning("ps -eo"));
        QCOMPARE(m_runner->callsOf("ps").first(), (QStringList{"ps", "-eo", "args="}));
        QVERIFY(m_runner->callsOf("bash").isEmpty());
    }
};

QTEST_MAIN(TestNetworkCards)
#include "tst_networkcards.moc"

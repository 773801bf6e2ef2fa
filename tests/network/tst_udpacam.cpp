// The camera discovery protocol: the bytes of every datagram, the address planner, the client's
// reading of acks, the responder's machine commands, and one discovery, re-addressing and reboot
// over the loopback device between a client and a responder.

#include "clock.h"
#include "guigapmeter.h"
#include "logmanager.h"
#include "testfiles.h"
#include "udpacamclient.h"
#include "udpacamserver.h"
#include "udptestsupport.h"

#include <QtTest>

#include <arpa/inet.h>

#include <atomic>
#include <csignal>
#include <thread>

namespace {

const QString kSerial = QStringLiteral("00000000abcd1234");

QByteArray bytes(const std::string &s)
{
    return QByteArray::fromStdString(s);
}

ACamDeviceInfo device(const QString &id, const QString &ip, const QString &mask, const QString &seenThrough)
{
    ACamDeviceInfo info;
    const std::string ack = buildDiscoveryAck(id, seenThrough, ip, mask, ip, "02:00:00:00:00:aa");
    copyAcamPayload(ack.data(), ack.size(), info.bytes, ACamDeviceInfo::kSize);
    return info;
}

// A received datagram as the receive loop hands it over: 2048 bytes, zero-padded.
std::string padded(QByteArray datagram)
{
    datagram.append(QByteArray(2048 - datagram.size(), '\0'));
    return datagram.toStdString();
}

sockaddr_in from(const char *ip)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = inet_addr(ip);
    a.sin_port = htons(40000);
    return a;
}

// The box's log in a working folder of its own for the length of one test: the log manager's message
// and crash handlers are taken back afterwards, so that the rest of the run reports as before.
class BoxLogForTest
{
public:
    BoxLogForTest()
    {
        QDir::setCurrent(m_dir.path());
        QDir().mkpath(QStringLiteral("cnt_net/workspace/LOG")); // "mkdir" goes to the recording runner
        m_testHandler = qInstallMessageHandler(nullptr);
        qInstallMessageHandler(m_testHandler);
        for (int i = 0; i < 3; ++i)
            sigaction(kSignals[i], nullptr, &m_actions[i]);
        m_manager = new LogManager(nullptr);
    }
    ~BoxLogForTest()
    {
        qInstallMessageHandler(m_testHandler);
        for (int i = 0; i < 3; ++i)
            sigaction(kSignals[i], &m_actions[i], nullptr);
        delete m_manager;
        QDir::setCurrent(m_previous);
    }
    QString folder() const { return m_dir.filePath(QStringLiteral("cnt_net/workspace/LOG/")); }

private:
    static constexpr int kSignals[3] = {SIGSEGV, SIGABRT, SIGFPE};
    QTemporaryDir m_dir;
    QString m_previous = QDir::currentPath();
    QtMessageHandler m_testHandler = nullptr;
    struct sigaction m_actions[3];
    LogManager *m_manager = nullptr;
};

} // namespace

class TestUdpAcam : public QObject
{
    Q_OBJECT
    FakeUdpPlatform m_platform;
    RecordingRunner m_runner;

private slots:
    void initTestCase()
    {
        setAppClock([] { return QDateTime::fromMSecsSinceEpoch(1767323045000LL); }); // 2026-01-02 03:04:05
    }
    void cleanupTestCase() { setAppClock({}); }
    void init()
    {
        m_platform = FakeUdpPlatform();
        m_runner = RecordingRunner();
        setUdpPlatform(&m_platform);
        setCommandRunner(&m_runner);
    }
    void cleanup()
    {
        setUdpPlatform(nullptr);
        setCommandRunner(nullptr);
    }

    void datagramBytes_data()
    {
        QTest::addColumn<QString>("datagram");
        QTest::addColumn<int>("offset");
        QTest::addColumn<QByteArray>("expectedHex");
        const QByteArray id = kSerial.toLatin1().toHex();
        const QByteArray cam = QByteArray("cam-01").toHex() + QByteArray(52, '0');
        const QByteArray time = "888ca97c9b010000"; // 2026-01-02 03:04:05 UTC, little-endian
        const QByteArray rows[][4] = {
            {"discover", "discover", "0", "4211000200000001"},
            {"force-IP header", "force", "0", "4211000400380001"},
            {"force-IP addresses", "force", "8", "000000000000000000000000c0a8010bffffff00c0a8010b"},
            {"force-IP id", "force", "32", cam},
            {"uptime", "uptime", "0", "42110082001000010100000000000000" + time},
            {"reboot", "reboot", "0", "421100820010000102000000000000000000000000000000"},
            {"uptime ack", "uptimeAck", "0", "00000083001000010100000000000000" + time},
            {"reboot ack", "rebootAck", "0", "00000083001000010200000000000000" + time},
            {"discovery ack header", "ack", "0", "0000000300d80001"},
            {"ack mac .. GEV", "ack", "8", "021a2b3c4d5e0000c0a8010ac0a80232ffffff00c0a8020147455600"},
            {"ack model", "ack", "64", QByteArray(kAcamModelText).toHex() + "00"},
            {"ack version", "ack", "96", QByteArray("V2.8.6 180210 143913").toHex() + "00"},
            {"ack name", "ack", "128", QByteArray("QOR MONITOR").toHex() + "00"},
            {"ack id, zero tail", "ack", "176", id + QByteArray(64, '0')},
            {"force-IP ack", "forceAck", "0",
             "0000000500380001021a2b3c4d5e0000c0a8010ac0a8010bffffff00c0a8010b" + cam},
        };
        for (const auto &r : rows)
            QTest::newRow(r[0].constData()) << QString(r[1]) << r[2].toInt() << r[3];
    }
    void datagramBytes()
    {
        QFETCH(QString, datagram);
        QFETCH(int, offset);
        QFETCH(QByteArray, expectedHex);
        const QString lan = "192.168.1.", mac = "02:1a:2b:3c:4d:5e";
        const QMap<QString, std::string> made{
            {"discover", buildDiscoverCmd()},
            {"force", buildForceIpCmd(lan + "11", "255.255.255.0", lan + "11", "cam-01")},
            {"uptime", buildUptimeCmd()},
            {"reboot", buildRebootDaemonCmd()},
            {"uptimeAck", buildUptimeAck()},
            {"rebootAck", buildRebootDaemonAck()},
            {"ack",
             buildDiscoveryAck(kSerial, lan + "10", "192.168.2.50", "255.255.255.0", "192.168.2.1", mac)},
            {"forceAck",
             buildForceIpAck("cam-01", lan + "10", lan + "11", "255.255.255.0", lan + "11", mac)},
        };
        const QByteArray bytes = QByteArray::fromStdString(made.value(datagram));
        const QMap<QString, int> sizes{{"discover", 8}, {"force", 64}, {"forceAck", 64}, {"ack", 224}};
        QCOMPARE(bytes.size(), sizes.value(datagram, 24));
        QCOMPARE(bytes.mid(offset, expectedHex.size() / 2).toHex(), expectedHex);
    }

    // One case a line: name ~ interfaces "ip/mask" ~ cameras "id ip/mask via" ~ plans
    // "id address/mask gateway from"; lists are ","-separated, "L." stands for 192.168.1.
    void planner_data()
    {
        QTest::addColumn<QString>("interfaces");
        QTest::addColumn<QString>("devices");
        QTest::addColumn<QString>("plans");
        QString table = R"(
foreign subnet moves in ~ L.10/24 ~ c 192.168.2.50/24 L.10 ~ c L.11/24 L.11 L.10
host 11 kept by another camera ~ L.10/24 ~ a L.11/24 L.10,b 192.168.2.50/24 L.10 ~ b L.12/24 L.12 L.10
two cameras on one address ~ L.10/24 ~ a L.30/24 L.10,b L.30/24 L.10 ~ b L.31/24 L.31 L.10
camera on the box's own address ~ L.10/24 ~ a L.10/24 L.10 ~ a L.11/24 L.11 L.10
host 253 wraps to 1 ~ 10.0.0.253/24 ~ a 10.9.9.9/16 10.0.0.253 ~ a 10.0.0.1/24 10.0.0.1 10.0.0.253
seen through an address not ours ~ L.10/24 ~ a 192.168.2.50/24 192.168.7.1 ~
local mask unreadable ~ L.10/255.x.255.0 ~ a 192.168.2.50/24 L.10 ~
)";
        QStringList full; // every host but the box's own taken, then one more camera on a taken host
        for (int host = 1; host <= 253; ++host)
            if (host != 10)
                full << QStringLiteral("d%1 L.%2/24 L.10").arg(host, 3, 10, QChar('0')).arg(host);
        table += "every host taken: no plan ~ L.10/24 ~ " + full.join(',') + ",zz L.5/24 L.10 ~\n";
        table.replace("L.", "192.168.1.").replace("/24", "/255.255.255.0").replace("/16", "/255.255.0.0");
        for (const QString &line : table.split('\n', Qt::SkipEmptyParts)) {
            const QStringList f = line.split('~');
            QTest::newRow(qPrintable(f.at(0).trimmed()))
                << f.at(1).trimmed() << f.at(2).trimmed() << f.at(3).trimmed();
        }
    }
    void planner()
    {
        QFETCH(QString, interfaces);
        QFETCH(QString, devices);
        QFETCH(QString, plans);
        QMap<QString, NetInterfaceInfo> table;
        for (const QString &i : interfaces.split(',')) {
            const QStringList f = i.split('/');
            const QString mac = "02:00:00:00:00:" + QString::number(table.size() + 10);
            table.insert(mac, NetInterfaceInfo{"eth", f.at(0), f.at(1), f.at(0), mac});
        }
        QMap<QString, ACamDeviceInfo> map;
        for (const QString &d : devices.split(',')) {
            const QStringList f = d.split(QRegularExpression("[ /]"));
            map.insert(f.at(0), device(f.at(0), f.at(1), f.at(2), f.at(3)));
        }
        QStringList got;
        for (const ForceIpPlan &p : planForceIp(map, table))
            got << QStringLiteral("%1 %2/%3 %4 %5").arg(p.id, p.address, p.mask, p.gateway, p.local);
        QCOMPARE(got.join(','), plans);
    }

    void clientReadsAcks()
    {
        QVERIFY(waitForPort("255.255.255.255", AcamCode::AckPort));
        UDP_ACam_Client client;
        QVERIFY(client.deviceMap.isEmpty());
        QByteArray ack = bytes(
            buildDiscoveryAck("cam1", "10.0.0.1", "10.0.0.5", "255.0.0.0", "10.0.0.1", "02:00:00:00:00:01"));
        client.AnalysisRecvMessage(from("10.0.0.5"), padded(ack));
        QByteArray later = bytes(
            buildDiscoveryAck("cam1", "10.0.0.1", "10.0.0.6", "255.0.0.0", "10.0.0.1", "02:00:00:00:00:01"));
        later[4] = char(0x01); // length 300: cut to the 216-byte record
        later[5] = char(0x2c);
        later.append(QByteArray(84, 'x'));
        client.AnalysisRecvMessage(from("10.0.0.6"), padded(later));
        QCOMPARE(client.deviceMap.keys(), QStringList{"cam1"});
        const ACamDeviceInfo cam1 = client.deviceMap.value("cam1");
        QCOMPARE(ipToText(cam1.ip()), QString("10.0.0.6"));
        QCOMPARE(cam1.model(), QString(kAcamModelText));
        QCOMPARE(cam1.name(), QString("QOR MONITOR"));
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(cam1.bytes), 216), later.mid(8, 216));

        QByteArray shortAck = bytes(
            buildDiscoveryAck("cam2", "10.0.0.1", "10.0.0.7", "255.0.0.0", "10.0.0.1", "02:00:00:00:00:02"));
        shortAck[5] = char(100); // the id at 168 lies beyond: read as zero
        client.AnalysisRecvMessage(from("10.0.0.7"), padded(shortAck));
        QVERIFY(client.deviceMap.contains(""));
        QCOMPARE(ipToText(client.deviceMap.value("").ip()), QString("10.0.0.7"));
        QCOMPARE(client.deviceMap.value("").bytes[100], 0);

        const QByteArray unknown = bytes(
            buildForceIpAck("cam9", "10.0.0.1", "10.0.0.99", "255.0.0.0", "10.0.0.99", "02:00:00:00:00:09"));
        client.AnalysisRecvMessage(from("10.0.0.9"), padded(unknown));
        QCOMPARE(client.deviceMap.size(), 2);
        const QByteArray moved = bytes(buildForceIpAck("cam1", "10.0.0.2", "10.0.0.66", "255.255.0.0",
                                                       "10.0.0.66", "02:00:00:00:00:01"));
        client.AnalysisRecvMessage(from("10.0.0.66"), padded(moved));
        const ACamDeviceInfo after = client.deviceMap.value("cam1");
        QCOMPARE(QStringList({ipToText(after.requesterIp()), ipToText(after.ip()), ipToText(after.mask()),
                              ipToText(after.gateway()), after.model()}),
                 QStringList({"10.0.0.2", "10.0.0.66", "255.255.0.0", "10.0.0.66", kAcamModelText}));

        QTest::ignoreMessage(QtInfoMsg, "Reboot VekCamera error!");
        client.sendRebootDaemon("cam7");
    }

    // Acks with ever new ids: the map keeps the 64 heard from last, a camera heard again counts as new.
    void deviceMapKeepsTheLastHeard()
    {
        QVERIFY(waitForPort("255.255.255.255", AcamCode::AckPort));
        UDP_ACam_Client client;
        auto hear = [&client](const QString &id) {
            client.AnalysisRecvMessage(
                from("10.0.0.5"), padded(bytes(buildDiscoveryAck(id, "10.0.0.1", "10.0.0.5", "255.0.0.0",
                                                                 "10.0.0.1", "02:00:00:00:00:01"))));
        };
        for (int i = 0; i < 64; ++i)
            hear(QStringLiteral("cam%1").arg(i));
        QCOMPARE(client.deviceMap.size(), 64);
        hear("cam0"); // heard again: now the newest, and nobody is pushed out
        QStringList first64;
        for (int i = 0; i < 64; ++i)
            first64 << QStringLiteral("cam%1").arg(i);
        std::sort(first64.begin(), first64.end());
        QCOMPARE(client.deviceMap.keys(), first64);
        for (int i = 64; i < 100; ++i)
            hear(QStringLiteral("cam%1").arg(i));
        QStringList expected{"cam0"};
        for (int i = 37; i < 100; ++i)
            expected << QStringLiteral("cam%1").arg(i);
        QStringList kept = client.deviceMap.keys();
        std::sort(expected.begin(), expected.end());
        QCOMPARE(kept, expected);
        // A new discovery starts from an empty map.
        client.sendDiscover();
        QVERIFY(client.deviceMap.isEmpty());
    }

    // 120,000 acks with new ids arrive while the GUI thread is busy with something else: afterwards
    // the cycle's timer is never kept waiting for a backlog, and the map stays bounded.
    void ackFloodKeepsTheCycleRunning()
    {
        QVERIFY(waitForPort("255.255.255.255", AcamCode::AckPort));
        UDP_ACam_Client client;
        const quint16 port = freeLoopbackPort();
        QCOMPARE(client.startListen("127.0.0.1", port), 0);
        const int flood = 120000;
        std::atomic<int> sent{0};
        std::thread sender([&] {
            UdpTestPeer peer;
            if (!peer.bind("127.0.0.1", 0))
                return;
            for (int i = 0; i < flood; ++i) {
                const std::string ack =
                    buildDiscoveryAck(QStringLiteral("flood%1").arg(i), "127.0.0.1", "127.0.0.1",
                                      "255.0.0.0", "127.0.0.1", "02:00:00:00:00:01");
                peer.sendTo("127.0.0.1", port, bytes(ack));
                sent = i + 1;
                if (i % 32 == 31)
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        });
        // Every line of the flood would go to the test's output.
        const QtMessageHandler previous =
            qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
        while (sent.load() < flood)
            QThread::msleep(10); // a long detection pass: the GUI thread does not look at events
        sender.join();
        GuiGapMeter meter;
        meter.start();
        QElapsedTimer quiet;
        quiet.start();
        int lastSize = -1;
        QElapsedTimer total;
        total.start();
        // Until nothing new has arrived for a second: the whole backlog has been worked off.
        while (quiet.elapsed() < 1000 && total.elapsed() < 120000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
            if (client.deviceMap.size() != lastSize) {
                lastSize = client.deviceMap.size();
                quiet.restart();
            }
        }
        const qint64 gap = meter.stop();
        qInstallMessageHandler(previous);
        QVERIFY2(gap < 1000, qPrintable(QString::number(gap)));
        QVERIFY(client.deviceMap.size() <= UDP_ACam_Client::kMaxDevices);
    }

    // 100,000 datagrams over ten seconds whose log lines differ every time (ever new ids or addresses),
    // too many to be held back as repeats: each kind writes at most 20 lines a second, so the log
    // never reaches its size limit and the run's start-up lines stay in log.txt.
    void peerLineFloodLeavesTheStartUpLines_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("lineText");
        QTest::newRow("discovery acks with new ids") << "ack"
                                                     << "AppCli-Recv(GVCP_DISCOVERY_ACK):";
        QTest::newRow("force-IP acks with new addresses") << "forceAck"
                                                          << "AppCli-Recv(GVCP_FORCEIP_ACK) found:";
        QTest::newRow("force-IP commands with new ids") << "forceCmd"
                                                        << "ArmServ-Recv(gvcp_forceip_req):";
    }
    void peerLineFloodLeavesTheStartUpLines()
    {
        QFETCH(QString, kind);
        QFETCH(QString, lineText);
        QVERIFY(waitForPort("255.255.255.255", AcamCode::AckPort));
        QVERIFY(waitForPort("255.255.255.255", AcamCode::CommandPort));
        UDP_ACam_Client client;
        UDP_ACam_Server server;
        std::atomic<qint64> now{5000000};
        setAppMonotonicClock([&now] { return now.load(); });
        BoxLogForTest log;
        qInfo("start-up line");
        client.AnalysisRecvMessage(
            from("10.0.0.5"), padded(bytes(buildDiscoveryAck("cam1", "10.0.0.1", "10.0.0.5", "255.0.0.0",
                                                             "10.0.0.1", "02:00:00:00:00:01"))));
        constexpr int kFlood = 100000;
        constexpr int kPerMs = 10; // ten seconds of datagrams
        for (int i = 0; i < kFlood; ++i) {
            if (i % kPerMs == 0)
                ++now;
            const QString host = QStringLiteral("10.%1.%2.%3").arg(i >> 16).arg((i >> 8) & 255).arg(i & 255);
            if (kind == QLatin1String("ack"))
                client.AnalysisRecvMessage(
                    from("10.0.0.5"),
                    padded(bytes(buildDiscoveryAck(QStringLiteral("flood%1").arg(i), "10.0.0.1", host,
                                                   "255.0.0.0", host, "02:00:00:00:00:01"))));
            else if (kind == QLatin1String("forceAck"))
                client.AnalysisRecvMessage(
                    from("10.0.0.5"), padded(bytes(buildForceIpAck("cam1", "10.0.0.1", host, "255.0.0.0",
                                                                   host, "02:00:00:00:00:01"))));
            else
                server.AnalysisRecvMessage(from("127.0.0.1"),
                                           padded(bytes(buildForceIpCmd(host, "255.0.0.0", host,
                                                                        QStringLiteral("other%1").arg(i)))));
        }
        // A minute later: count lines that repeated themselves are counted by the log's repeat rule.
        now += kLogRepeatPeriodMs;
        qInfo("after the flood");
        setAppMonotonicClock({});

        QCOMPARE(QDir(log.folder()).entryList(QDir::Files), QStringList{"log.txt"});
        const QStringList lines = readTextLines(log.folder() + QStringLiteral("log.txt"));
        QVERIFY(lines.size() > 3);
        QVERIFY2(lines.at(2).endsWith(QStringLiteral("] start-up line")), qPrintable(lines.at(2)));
        QVERIFY(lines.last().endsWith(QStringLiteral("] after the flood")));
        const QRegularExpression count(QStringLiteral("\\] (held back (\\d+) repeat\\(s\\) of: )?") +
                                       QRegularExpression::escape(lineText) +
                                       QStringLiteral(" (\\d+) more not logged$"));
        int written = 0;
        quint64 counted = 0;
        for (const QString &line : lines) {
            const QRegularExpressionMatch m = count.match(line);
            if (m.hasMatch())
                counted += qMax(1ULL, m.captured(2).toULongLong()) * m.captured(3).toULongLong();
            else if (line.contains(QStringLiteral("] ") + lineText + QLatin1Char(' ')))
                ++written;
        }
        // 10,000 ms: eleven seconds of the clock began, each with at most 20 lines; every other line was
        // counted, but those of the last second of the flood, which no later datagram reports.
        QVERIFY2(written >= 20 && written <= 11 * 20, qPrintable(QString::number(written)));
        QVERIFY2(counted + written <= quint64(kFlood) + (kind == QLatin1String("ack") ? 1 : 0) &&
                     counted + written >= quint64(kFlood) - 1000 * kPerMs,
                 qPrintable(QStringLiteral("%1 + %2").arg(counted).arg(written)));
    }

    // The responder's commands in order, then how often it signalled a clock change and a restart.
    void responderCommands_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<QString>("failing");
        QTest::addColumn<QString>("outcome");
        const QString cp = "cp /usr/share/zoneinfo/Asia/Shanghai /etc/localtime; ";
        const QString time = cp + "date -s 20260102 03:04:05; ";
        QByteArray farFuture =
            bytes(buildUptimeCmd()).replace(16, 8, QByteArray::fromHex("ffffffffffffff7f"));
        QByteArray beforeEpoch = bytes(buildUptimeCmd()).replace(16, 8, QByteArray(8, '\xff'));
        QByteArray otherSub = bytes(buildRebootDaemonCmd());
        otherSub[8] = 3;
        const QByteArray forOurs = bytes(buildForceIpCmd("127.0.0.2", "255.0.0.0", "127.0.0.2", kSerial));
        const QByteArray notKey = QByteArray(forOurs).replace(0, 1, "C");
        QTest::newRow("force-IP for this box") << forOurs << ""
                                               << "ip addr flush dev eth9; ip route flush table main; "
                                                  "ifconfig eth9 127.0.0.2 netmask 255.0.0.0; "
                                                  "route add default gw 127.0.0.2; clock 0 restart 0";
        QTest::newRow("force-IP for another id")
            << bytes(buildForceIpCmd("127.0.0.2", "255.0.0.0", "127.0.0.2", "cam-01")) << ""
            << "clock 0 restart 0";
        QTest::newRow("key byte not 0x42") << notKey << ""
                                           << "clock 0 restart 0";
        QTest::newRow("clock set") << bytes(buildUptimeCmd()) << ""
                                   << time + "hwclock --systohc; clock 1 restart 0";
        QTest::newRow("date refused: no hwclock")
            << bytes(buildUptimeCmd()) << "date" << time + "clock 1 restart 0";
        QTest::newRow("time beyond year 9999") << farFuture << "" << cp + "clock 0 restart 0";
        QTest::newRow("time before 1970") << beforeEpoch << "" << cp + "clock 0 restart 0";
        QTest::newRow("daemon restart") << bytes(buildRebootDaemonCmd()) << ""
                                        << "clock 0 restart 1";
        QTest::newRow("unknown sub-command") << otherSub << ""
                                             << "clock 0 restart 0";
    }
    void responderCommands()
    {
        QFETCH(QByteArray, datagram);
        QFETCH(QString, failing);
        QFETCH(QString, outcome);
        m_platform.addInterface("eth9", "02:00:00:00:00:09", "127.0.0.1", "255.0.0.0");
        m_runner.failingPrograms = QStringList{failing};
        QVERIFY(waitForPort("255.255.255.255", AcamCode::CommandPort));
        UDP_ACam_Server server;
        QCOMPARE(server.deviceSerial, kSerial);
        QSignalSpy clock(&server, &UDP_ACam_Server::sig_updatetime);
        QSignalSpy reboot(&server, &UDP_ACam_Server::sig_rebootdaemon);
        server.AnalysisRecvMessage(from("127.0.0.1"), padded(datagram));
        m_runner.calls << QStringLiteral("clock %1 restart %2").arg(clock.size()).arg(reboot.size());
        QCOMPARE(m_runner.calls.join("; "), outcome);
    }

    // Client and responder on the loopback device: the responder is found, moved off the client's
    // own address, and restarts its daemon on request.
    void discoverReaddressReboot()
    {
        m_platform.addInterface("eth9", "02:00:00:00:00:09", "127.0.0.1", "255.0.0.0");
        m_runner.onRun = [this](const QString &program, const QStringList &arguments) {
            if (program == "ifconfig" && arguments.size() == 4)
                m_platform.interfaces[0].ip = arguments.at(1);
        };
        QVERIFY(waitForPort("255.255.255.255", AcamCode::CommandPort));
        UDP_ACam_Server server;
        QSignalSpy reboot(&server, &UDP_ACam_Server::sig_rebootdaemon);
        QVERIFY(waitForPort("255.255.255.255", AcamCode::AckPort));
        UDP_ACam_Client client; // sends the clock
        QTRY_VERIFY(m_runner.calls.contains("hwclock --systohc"));

        const QMap<QString, ACamDeviceInfo> found = client.sendDiscover();
        QCOMPARE(found.keys(), QStringList{kSerial});
        QCOMPARE(ipToText(found.first().ip()), QString("127.0.0.1"));
        QCOMPARE(ipToText(found.first().requesterIp()), QString("127.0.0.1"));
        QCOMPARE(macToText(found.first().mac()), QString("02:00:00:00:00:09"));

        m_runner.calls.clear();
        client.sendForceIp();
        QVERIFY(m_runner.calls.contains("ifconfig eth9 127.0.0.2 netmask 255.0.0.0"));
        QCOMPARE(ipToText(client.deviceMap.value(kSerial).ip()), QString("127.0.0.2"));
        QCOMPARE(server.interfaces.first().ip, QString("127.0.0.2"));

        client.sendRebootDaemon(kSerial);
        QCOMPARE(reboot.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestUdpAcam)
#include "tst_udpacam.moc"

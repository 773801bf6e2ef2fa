// The UDP core over a scripted platform and loopback sockets, also run under ThreadSanitizer:
// address texts, the interface table and device serial as read from the system, datagrams as the
// subclass receives them, and what sendAndWait puts on the wire and returns.

#include "clock.h"
#include "mutexlocker.h"
#include "udpcore.h"
#include "udptestsupport.h"

#include <QRunnable>
#include <QThreadPool>
#include <QtTest>

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <thread>

namespace {

// Records what reaches the subclass, then behaves like the base (which answers sendAndWait).
class RecordingCore : public UDP_Core
{
public:
    QList<std::string> received;
    void AnalysisRecvMessage(sockaddr_in saclient, std::string recvbuf) override
    {
        received << recvbuf;
        UDP_Core::AnalysisRecvMessage(saclient, recvbuf);
    }
};

QMutex gLogMutex; // the receive loop logs on its own thread
QStringList gLog;
void captureLog(QtMsgType, const QMessageLogContext &, const QString &message)
{
    MutexLocker lock(&gLogMutex);
    gLog << message;
}

sockaddr_in address(const QString &ip)
{
    sockaddr_in a{};
    a.sin_addr.s_addr = inet_addr(ip.toLatin1().constData());
    return a;
}

} // namespace

class TestUdpCore : public QObject
{
    Q_OBJECT
    FakeUdpPlatform m_platform;
    RecordingRunner m_runner;

private slots:
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
        setAppClock({});
    }

    // One case a line: name ~ operation ~ a ~ b ~ expected; \n \r \x01 \x7f stand for those bytes.
    void addressTexts_data()
    {
        QTest::addColumn<QString>("op");
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<QString>("expected");
        const char *table = R"(
network ~ net ~ 192.168.1.77 ~ 255.255.255.0 ~ 192.168.1.0
network of three parts ~ net ~ 192.168.1 ~ 255.255.255.0 ~
network of a word ~ net ~ 192.168.x.1 ~ 255.255.255.0 ~
network, mask part 256 ~ net ~ 10.0.0.1 ~ 255.256.0.0 ~
last octet ~ last ~ 10.0.0.5 ~ 9 ~ 10.0.0.9
last octet of three parts ~ last ~ 10.0.5 ~ 9 ~ 10.0.5!
mac round trip ~ mac ~ 00:1a:2b:3c:4d:ff ~ ~ 00:1a:2b:3c:4d:ff
mac part not hex ~ mac ~ 00:zz:2b:3c:4d:5e ~ ~ 00:00:2b:3c:4d:5e
mac of five parts ~ mac ~ 00:1a:2b:3c:4d ~ ~ 07:07:07:07:07:07
ip text round trip ~ ip ~ 172.16.254.3 ~ ~ 172.16.254.3
log escapes controls ~ log ~ a\nb\r\x01\x7f ~ ~ a\nb\r\x01\x7f
cp to /etc ~ cp ~ /usr/share/zoneinfo/Asia/Shanghai ~ /etc/localtime ~ yes
cp out through .. ~ cp ~ a.db ~ ../a.db ~ yes
cp into the working directory ~ cp ~ ./paraGroup/default/PARAM.db ~ ./ ~ no
cp into a subfolder ~ cp ~ a.db ~ backup/a.db ~ no
desktop reaches loopback ~ reach ~ 0.0.0.0 ~ 127.0.0.9 ~ yes
desktop broadcasts from loopback ~ reach ~ 127.0.0.1 ~ 255.255.255.255 ~ yes
desktop broadcasts from any ~ reach ~ 0.0.0.0 ~ 255.255.255.255 ~ no
desktop sends to the LAN ~ reach ~ 127.0.0.1 ~ 192.168.1.255 ~ no
)";
        for (const QString &line : QString(table).split('\n', Qt::SkipEmptyParts)) {
            QStringList f = line.split(" ~");
            for (QString &field : f)
                field = field.trimmed();
            f[2].replace("\\n", "\n").replace("\\r", "\r").replace("\\x01", "\x01").replace("\\x7f", "\x7f");
            QTest::newRow(qPrintable(f.at(0))) << f.at(1) << f.at(2) << f.at(3) << f.at(4);
        }
    }
    void addressTexts()
    {
        QFETCH(QString, op);
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(QString, expected);
        QString got;
        unsigned char mac[6] = {7, 7, 7, 7, 7, 7};
        if (op == "net") {
            got = networkAddress(a, b);
        } else if (op == "last") {
            got = a;
            got += replaceLastOctet(got, b.toInt()) ? "" : "!";
        } else if (op == "mac") {
            QCOMPARE(textToMac(a, mac), 0);
            got = macToText(mac);
        } else if (op == "ip") {
            got = ipToText(textToIp(a));
        } else if (op == "log") {
            got = escapeForLog(a);
        } else if (op == "cp") {
            got = isMachineChangingCommand("cp", {"-f", a, b}) ? "yes" : "no";
        } else {
            got = staysOnThisMachine(address(a), address(b)) ? "yes" : "no";
        }
        QCOMPARE(got, expected);
    }

    void randomPortsAvoidTheProtocolPorts()
    {
        for (int i = 0; i < 20000; ++i) {
            const quint16 p = randomLocalPort();
            QVERIFY2(p >= 10001 && (p < 10410 || p > 10419), qPrintable(QString::number(p)));
        }
    }

    // Interfaces as the constructor reads them: "lo" and one without an address are left out.
    void interfaceTable_data()
    {
        QTest::addColumn<QByteArray>("routes");
        QTest::addColumn<int>("deleteResult");
        QTest::addColumn<QString>("expected"); // "name ip mask gateway mac" in key order
        QTest::addColumn<QString>("routeCalls");
        const QByteArray head = "Iface\tDestination\tGateway\tFlags\n";
        const QByteArray noDefault = head + "eth1\t0001A8C0\t00000000\t0001\n";
        QTest::newRow("default route in the table")
            << noDefault + "eth0\t00000000\t0102A8C0\t0003\n"
            << ESRCH
            << "eth1 192.168.1.10 255.255.255.0 192.168.2.1 02:00:00:00:00:01,"
               "eth0 10.0.0.7 255.0.0.0 192.168.2.1 02:00:00:00:00:02"
            << "";
        QTest::newRow("an interface name longer than the system's")
            << head + QByteArray(300, 'w') + "\t00000000\t0202A8C0\t0003\neth0\t00000000\t0302A8C0\t0003\n"
            << ESRCH
            << "eth1 192.168.1.10 255.255.255.0 192.168.2.3 02:00:00:00:00:01,"
               "eth0 10.0.0.7 255.0.0.0 192.168.2.3 02:00:00:00:00:02"
            << "";
        // The scripted table does not change, so each interface installs its own route.
        QTest::newRow("no default route: added through the interface")
            << noDefault << ESRCH
            << "eth1 192.168.1.10 255.255.255.0 192.168.1.10 02:00:00:00:00:01,"
               "eth0 10.0.0.7 255.0.0.0 10.0.0.7 02:00:00:00:00:02"
            << "del,add 192.168.1.10,del,add 10.0.0.7";
        QTest::newRow("no right to change routes") << head << EPERM << ""
                                                   << "del,del";
    }
    void interfaceTable()
    {
        QFETCH(QByteArray, routes);
        QFETCH(int, deleteResult);
        QFETCH(QString, expected);
        QFETCH(QString, routeCalls);
        m_platform.addInterface("lo", "00:00:00:00:00:00", "127.0.0.1", "255.0.0.0");
        m_platform.addInterface("eth1", "02:00:00:00:00:01", "192.168.1.10", "255.255.255.0");
        m_platform.addInterface("wlan0", "02:00:00:00:00:03", "", "");
        m_platform.addInterface("eth0", "02:00:00:00:00:02", "10.0.0.7", "255.0.0.0");
        m_platform.routeTable = routes;
        m_platform.deleteResult = deleteResult;
        UDP_Core core;
        QStringList got;
        for (const NetInterfaceInfo &i : core.interfaces)
            got << QStringList{i.name, i.ip, i.mask, i.gateway, i.mac}.join(' ');
        QCOMPARE(got.join(','), expected);
        QCOMPARE(m_platform.routeCalls.join(','), routeCalls);
    }

    // The desktop build's own platform: the loopback device is the one interface, so discovery
    // broadcasts stay on this machine.
    void desktopPlatformSeesOnlyLoopback()
    {
        setUdpPlatform(nullptr);
        UDP_Core core;
        QCOMPARE(core.interfaces.keys(), QStringList{"00:00:00:00:00:00"});
        const NetInterfaceInfo lo = core.interfaces.first();
        QCOMPARE(QStringList({lo.name, lo.ip, lo.mask}),
                 QStringList({"loopback", "127.0.0.1", "255.0.0.0"}));
    }

    void peerAddressLookup()
    {
        m_platform.addInterface("eth0", "02:00:00:00:00:02", "192.168.1.10", "255.255.255.0");
        m_platform.addInterface("eth1", "02:00:00:00:00:01", "192.168.1.20", "255.255.255.0");
        UDP_Core core;
        QCOMPARE(core.localIpForPeer("192.168.1.99"), QString("192.168.1.10")); // the last in MAC order
        QCOMPARE(core.localIpForPeer("172.16.0.1") + core.findInterfaceByIp("192.168.1.20").name,
                 QString("eth1"));
        core.interfaces["02:00:00:00:00:09"] = NetInterfaceInfo{"odd", "1.2.3.4", "bad", "", ""};
        QCOMPARE(core.localIpForPeer("172.16.0.1"), QString("1.2.3.4")); // an unreadable mask matches all
    }

    void deviceSerial_data()
    {
        QTest::addColumn<bool>("cpuInfoExists");
        QTest::addColumn<QByteArray>("cpuInfo");
        QTest::addColumn<QByteArray>("blkid");
        QTest::addColumn<QString>("expected");
        const QByteArray blkid =
            "/dev/sda1: UUID=\"0a1b-22\" TYPE=\"vfat\"\n"
            "/dev/sda2: UUID=\"1111-2222-3333-4444-5555abcd\" TYPE=\"ext4\" PARTUUID=\"x\"\n";
        const QByteArray noSerial = "model\t: x\n";
        QTest::newRow("cpuinfo serial, last line wins")
            << true << QByteArray("Serial : first\nSerial\t\t: 0000;beef-00c0ffee\n") << blkid << "00c0ffee";
        QTest::newRow("ext4 UUID, fifth group") << true << noSerial << blkid << "5555abcd";
        QTest::newRow("neither: the time") << true << noSerial << QByteArray() << "1767225600000";
        QTest::newRow("no cpuinfo: the time") << false << QByteArray() << blkid << "1767225600000";
    }
    void deviceSerial()
    {
        QFETCH(bool, cpuInfoExists);
        QFETCH(QByteArray, cpuInfo);
        QFETCH(QByteArray, blkid);
        QFETCH(QString, expected);
        setAppClock([] { return QDateTime::fromMSecsSinceEpoch(1767225600000LL); });
        m_platform.cpuInfoExists = cpuInfoExists;
        m_platform.cpuInfo = cpuInfo;
        m_runner.blkidOutput = blkid;
        QCOMPARE(readDeviceSerial(), expected);
        QCOMPARE(UDP_Core().deviceSerial, expected);
    }

    // Datagrams reach the subclass as 2048 bytes, cut or padded, and are logged on one line each,
    // from a listening socket above what select() could watch; the loop takes no pool worker.
    void receiveLoop()
    {
        rlimit limit;
        getrlimit(RLIMIT_NOFILE, &limit);
        limit.rlim_cur = qMin<rlim_t>(limit.rlim_max, 4096);
        setrlimit(RLIMIT_NOFILE, &limit);
        QList<int> filler;
        while (filler.size() < 1100)
            filler << ::open("/dev/null", O_RDONLY);
        QVERIFY(filler.last() >= 1024);

        const int poolMax = QThreadPool::globalInstance()->maxThreadCount();
        QThreadPool::globalInstance()->setMaxThreadCount(1);
        RecordingCore core;
        const quint16 port = freeLoopbackPort();
        QCOMPARE(core.startListen("127.0.0.1", port), 0);
        QCOMPARE(core.startListen("127.0.0.1", port), 4);
        QCOMPARE(core.startListen("no address", port), 4);
        std::atomic<bool> ran{false};
        QThreadPool::globalInstance()->start(QRunnable::create([&ran] { ran = true; }));
        QVERIFY(QThreadPool::globalInstance()->waitForDone(5000) && ran);
        QThreadPool::globalInstance()->setMaxThreadCount(poolMax);

        {
            MutexLocker lock(&gLogMutex);
            gLog.clear();
        }
        const QtMessageHandler previous = qInstallMessageHandler(captureLog);
        UdpTestPeer peer;
        QVERIFY(peer.bind("127.0.0.1", 0));
        QVERIFY(peer.sendTo("127.0.0.1", port, "ten\nbytes!"));
        QVERIFY(peer.sendTo("127.0.0.1", port, QByteArray(3000, 'L')));
        QTRY_COMPARE(core.received.size(), 2);
        qInstallMessageHandler(previous);
        for (int fd : filler)
            ::close(fd);

        QCOMPARE(QByteArray::fromStdString(core.received.at(0)), "ten\nbytes!" + QByteArray(2038, '\0'));
        QCOMPARE(QByteArray::fromStdString(core.received.at(1)), QByteArray(2048, 'L'));
        MutexLocker lock(&gLogMutex);
        const QStringList lines = gLog.filter("--RecvMsg");
        QCOMPARE(lines.size(), 2);
        QVERIFY2(lines.at(0).endsWith("(10): ten\\nbytes!"), qPrintable(lines.at(0)));
    }

    // A flood of datagrams, each different: at most 20 "--RecvMsg" lines a second, then one line with
    // the number not logged; every datagram still reaches the subclass.
    void receivedLinesAreCappedPerSecond()
    {
        std::atomic<qint64> now{5000000};
        setAppMonotonicClock([&now] { return now.load(); });
        RecordingCore core;
        const quint16 port = freeLoopbackPort();
        QCOMPARE(core.startListen("127.0.0.1", port), 0);
        {
            MutexLocker lock(&gLogMutex);
            gLog.clear();
        }
        const QtMessageHandler previous = qInstallMessageHandler(captureLog);
        UdpTestPeer peer;
        QVERIFY(peer.bind("127.0.0.1", 0));
        for (int i = 0; i < 60; ++i)
            QVERIFY(peer.sendTo("127.0.0.1", port, QByteArray::number(i) + QByteArray(100, '\x01')));
        QTRY_COMPARE(core.received.size(), 60);
        now += 1000;
        QVERIFY(peer.sendTo("127.0.0.1", port, "next second"));
        QTRY_COMPARE(core.received.size(), 61);
        core.stopListen();
        qInstallMessageHandler(previous);
        setAppMonotonicClock({});

        MutexLocker lock(&gLogMutex);
        const QStringList lines = gLog.filter("--RecvMsg");
        QCOMPARE(lines.size(), 22);
        for (int i = 0; i < 20; ++i)
            QVERIFY2(lines.at(i).contains(QStringLiteral("(%1): %2\\x01").arg(QString::number(i).size() + 100).arg(i)),
                     qPrintable(lines.at(i)));
        QCOMPARE(lines.at(20), QStringLiteral("--RecvMsg 40 more datagrams in the last second, not logged"));
        QVERIFY2(lines.at(21).endsWith("(11): next second"), qPrintable(lines.at(21)));
    }

    // 500 datagrams while the object's thread looks at no event: 64 wait for it, the rest are dropped
    // and counted in one log line; once the flood is over a sendAndWait gets its answer as before.
    void handOverIsBounded()
    {
        RecordingCore core;
        const quint16 port = freeLoopbackPort();
        QCOMPARE(core.startListen("127.0.0.1", port), 0);
        {
            MutexLocker lock(&gLogMutex);
            gLog.clear();
        }
        const QtMessageHandler previous = qInstallMessageHandler(captureLog);
        UdpTestPeer peer;
        QVERIFY(peer.bind("127.0.0.1", 0));
        for (int i = 0; i < 500; ++i) {
            QVERIFY(peer.sendTo("127.0.0.1", port, QByteArray::number(i)));
            if (i % 50 == 49)
                QThread::msleep(20); // the receive loop keeps up; only the hand-over is full
        }
        QThread::msleep(1500); // the count line is written within a second of the last drop
        QCoreApplication::processEvents();
        QTest::qWait(100);
        QCOMPARE(core.received.size(), 64);
        for (int i = 0; i < 64; ++i)
            QCOMPARE(QByteArray(core.received.at(i).c_str()), QByteArray::number(i));

        std::thread far([&] {
            const QByteArray got = peer.receive(2000);
            peer.sendTo("127.0.0.1", port, "re:" + got);
        });
        UdpPeer target{"127.0.0.1", peer.port(), "127.0.0.1", 2000, 0};
        std::string reply;
        const int rc = core.sendAndWait(target, "ping", &reply);
        far.join();
        qInstallMessageHandler(previous);
        QCOMPARE(rc, 0);
        QCOMPARE(QString::fromStdString(reply), QString("re:ping"));
        MutexLocker lock(&gLogMutex);
        const QStringList drops = gLog.filter("datagrams dropped");
        QVERIFY2(drops.size() >= 1 && drops.size() <= 3, qPrintable(drops.join('\n')));
        int dropped = 0;
        for (const QString &line : drops)
            dropped += line.section(' ', 0, 0).toInt();
        QCOMPARE(dropped, 500 - 64);
    }

    // The system's text parser reads an empty or garbled destination as 255.255.255.255; such a send
    // would reach every device on the subnet.
    void unreadableDestinationIsNotBroadcast()
    {
        const quint16 port = freeLoopbackPort();
        UdpTestPeer everyone;
        QVERIFY(everyone.bind("255.255.255.255", port));
        for (const char *destination : {"", "ten.0.0.1"}) {
            UdpSendSocket socket = openSendSocket(UdpPeer{destination, port, "127.0.0.1", 0, 0});
            QCOMPARE(sendMsg(socket, "x"), -1);
        }
        QVERIFY(everyone.receive(100).isNull());
    }

    void sendAndWait_data()
    {
        QTest::addColumn<bool>("echo");
        QTest::addColumn<QString>("localIp");
        QTest::addColumn<int>("timeoutMs");
        QTest::addColumn<int>("resendMs");
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("copies");
        QTest::newRow("echo answers") << true << "127.0.0.1" << 2000 << 0 << 0 << 1;
        QTest::newRow("no echo: time-out") << false << "127.0.0.1" << 100 << 0 << 16 << 1;
        QTest::newRow("repeated every 40 ms within 100 ms") << false << "127.0.0.1" << 100 << 40 << 16 << 2;
        QTest::newRow("repeat longer than the wait") << false << "127.0.0.1" << 100 << 200 << 16 << 0;
        QTest::newRow("zero time-out still sends once") << false << "127.0.0.1" << 0 << 0 << 16 << 1;
        QTest::newRow("negative time-out") << false << "127.0.0.1" << -1 << 0 << 32 << 0;
        QTest::newRow("negative repeat") << false << "127.0.0.1" << 100 << -5 << 32 << 0;
        QTest::newRow("no local interface: from any address") << true << "" << 2000 << 0 << 0 << 1;
    }
    void sendAndWait()
    {
        QFETCH(bool, echo);
        QFETCH(QString, localIp);
        QFETCH(int, timeoutMs);
        QFETCH(int, resendMs);
        QFETCH(int, result);
        QFETCH(int, copies);
        RecordingCore core;
        const quint16 listenPort = freeLoopbackPort();
        QCOMPARE(core.startListen("127.0.0.1", listenPort), 0);
        UdpTestPeer peer;
        QVERIFY(peer.bind("127.0.0.1", 0));
        std::atomic<int> seen{0};
        std::thread far([&] {
            for (QByteArray got; !(got = peer.receive(400)).isNull();) {
                ++seen;
                if (echo)
                    peer.sendTo("127.0.0.1", listenPort, "re:" + got);
            }
        });
        UdpPeer target{"127.0.0.1", peer.port(), localIp.toStdString(), timeoutMs, resendMs};
        std::string reply;
        const int rc = core.sendAndWait(target, "ping", &reply);
        far.join();
        QCOMPARE(rc, result);
        QCOMPARE(seen.load(), copies);
        QCOMPARE(QString::fromStdString(reply), QString(rc == 0 ? "re:ping" : ""));
        QCOMPARE(target.timeoutMs, timeoutMs == 0 ? 1 : timeoutMs);
    }
};

QTEST_GUILESS_MAIN(TestUdpCore)
#include "tst_udpcorethread.moc"

// The report link against a fake reporting process on loopback: link states and what may leave in
// each, report bodies as the peer receives them, the server-time query against a local HTTP stub,
// and the watchdog's heartbeats, restarts and clean-up commands.

#include "clock.h"
#include "fakepeers.h"
#include "guigapmeter.h"
#include "qornetmn.h"
#include "startup.h"
#include "tcptestpair.h"
#include "testworkdir.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMutex>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <memory>
#include <sys/sem.h>
#include <sys/shm.h>
#include <thread>
#include <time.h>

namespace {
std::atomic<qint64> gClockOffset{0};
const QString kHeartbeat = "/inline/bymain/heartbeat";
const QString kOffer = "/inline/bymain/offervideomem";

void writeConfig(const QJsonObject &config)
{
    QDir().mkpath("cnt_net");
    QFile file("cnt_net/config.json");
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QJsonDocument(config).toJson());
}

// One working directory, a fake reporting process on a free port, and a link made after both.
struct Rig
{
    TestWorkDir dir{TestWorkDir::Empty};
    FakePeer peer;
    std::unique_ptr<QOR_NETMN> link;
    int replies = 0;

    Rig(const QJsonObject &config, const QJsonValue &cntserver)
    {
        writeConfig(config);
        if (!cntserver.isNull())
            peer.answer = reportingProcess(cntserver);
        QOR_NETMN::reportPort = freeLoopbackPort();
        peer.listen(QOR_NETMN::reportPort);
        link.reset(new QOR_NETMN);
        const auto heartbeat = link->handlers.value(kHeartbeat);
        link->handlers[kHeartbeat] = [this, heartbeat](const QString &body) {
            ++replies;
            heartbeat(body);
        };
    }
    QList<QJsonObject> bodies(const QString &path) const
    {
        QList<QJsonObject> list;
        for (const CTask_FormData &r : peer.requests)
            if (r.url == path)
                list << FakePeer::bodyOf(r);
        return list;
    }
    bool heartbeatAnswered()
    {
        const int before = replies;
        link->sendHeartbeat();
        return waitUntil([&] { return replies > before; });
    }
};

void sendEveryReport(QOR_NETMN &link)
{
    link.sendHeartbeat();
    link.sendOfferVideoMem();
    link.sendAlarmStartTiming(0);
    link.sendAlarmPicture({{"camera", 0}, {"detect", 0}, {"result", 0}}, "./a.jpg");
    link.sendRecordOperate({{"recordtime", "10.00.00"}, {"recordpassword", "x"}, {"remarks", "r"}});
    link.sendSyncTempList({{"camera", 0}, {"detect", 0}});
    link.sendDetectOnceInfo(true);
    link.alarmPhase = 2;
    link.sendAlarmFinishTiming();
}
} // namespace

class TestReportLink : public QObject
{
    Q_OBJECT
    CommandLog m_log;
private slots:
    void initTestCase()
    {
        setAppMonotonicClock([] {
            static QElapsedTimer steady;
            if (!steady.isValid())
                steady.start();
            return steady.elapsed() + gClockOffset.load();
        });
        setCommandRunner(&m_log);
    }
    void cleanupTestCase() { setCommandRunner(nullptr); }
    void init()
    {
        m_log.calls.clear();
        m_log.detached.clear();
        m_log.ended.clear();
        reportLinkHooks() = ReportLinkHooks();
    }
    void linkStates_data();
    void linkStates();
    void reportBodies();
    void serverTime_data();
    void serverTime();
    void watchdog();
    void largeReplyIsDroppedAndTheLinkGoesOn();
    void desktopBuildEndsTheHelperItStarted();
    void watchdogNeverWaitsForABusyLink_data();
    void watchdogNeverWaitsForABusyLink();
};

void TestReportLink::linkStates_data()
{
    QTest::addColumn<bool>("netFunc");
    QTest::addColumn<QJsonValue>("cntserver"); // null: a silent peer
    QTest::addColumn<int>("expected");
    QTest::addRow("server connected") << true << QJsonValue(true) << 1;
    QTest::addRow("server not connected") << true << QJsonValue(false) << -3;
    QTest::addRow("cntserver as a string") << true << QJsonValue("true") << -3;
    QTest::addRow("network function off") << false << QJsonValue(true) << -1;
    QTest::addRow("silent peer") << true << QJsonValue() << -3;
}

void TestReportLink::linkStates()
{
    QFETCH(bool, netFunc);
    QFETCH(QJsonValue, cntserver);
    QFETCH(int, expected);
    Rig rig({{"device_worknetfunc", netFunc}}, cntserver);
    rig.link->restartHelpers();
    rig.link->watchdogTimer->stop();
    if (netFunc) {
        QCOMPARE(m_log.calls.mid(0, 2), (QStringList{"killall -9 pynet_monitor", "killall -9 hls_avmn"}));
        QCOMPARE(m_log.detached, QStringList{"./cnt_net/pynet_monitor " + QDir::currentPath() + "/cnt_net/config.json"});
    } else {
        QVERIFY(m_log.detached.isEmpty());
        // Connected all the same, to show that the state alone holds the reports back.
        QVERIFY(rig.link->start(QHostAddress::LocalHost, QOR_NETMN::reportPort));
    }
    if (!cntserver.isNull())
        QVERIFY(rig.heartbeatAnswered());
    QCOMPARE(rig.link->state(), expected);

    const int before = rig.peer.requests.size();
    sendEveryReport(*rig.link);
    QVERIFY(waitUntil([&] { return rig.peer.requests.size() >= before + (expected == 1 ? 8 : 2); }));
    QTest::qWait(100);
    if (expected != 1)
        QCOMPARE(rig.peer.urls().mid(before), (QStringList{kHeartbeat, kOffer}));
    QCOMPARE(rig.peer.urls().mid(before).size(), expected == 1 ? 8 : 2);

    if (cntserver.isNull()) {
        // Nothing heard for over 8 s: the link is dead; the watchdog reconnects and announces itself.
        gClockOffset += 8001;
        QCOMPARE(rig.link->state(), -2);
        const int sent = rig.peer.requests.size();
        rig.link->onWatchdogTimer();
        QVERIFY(waitUntil([&] { return rig.peer.requests.size() >= sent + 2; }));
        QCOMPARE(rig.peer.urls().mid(sent), (QStringList{kHeartbeat, kOffer}));
        QCOMPARE(rig.link->state(), -3);
    }
}

void TestReportLink::reportBodies()
{
    Rig rig({{"device_worknetfunc", true}}, QJsonValue(true));
    rig.link->restartHelpers();
    rig.link->watchdogTimer->stop();
    reportLinkHooks().runState = [] { return 1; };
    reportLinkHooks().alarmState = [] { return 0; };
    gCameraCount = 3;
    QVERIFY(rig.heartbeatAnswered());
    QCOMPARE(rig.bodies(kHeartbeat).last(), (QJsonObject{{"deviceBaseinfo", "cpu：10%，memory：10%，disk：10%"},
        {"deviceState", "运行中"}, {"isPutVideo", false}, {"cameracount", 3}}));
    reportLinkHooks().alarmState = [] { return 2; };
    QVERIFY(rig.heartbeatAnswered());
    QCOMPARE(rig.bodies(kHeartbeat).last().value("deviceState").toString(), QString("检测完毕NG"));

    // Records of camera 0 slot 1, camera 1 slot 0, camera 0 slot 1: two groups, in key order.
    auto rec = [](int c, int d, int roi, int v) { return RoiResultRecord{c, d, roi, 1, v, 10, 90, 1}; };
    rig.link->pendingResults = {rec(0, 1, 0, 5), rec(1, 0, 3, 6), rec(0, 1, 2, 7)};
    rig.link->sendDetectOnceInfo(false);
    rig.link->sendDetectOnceInfo(true);
    QVERIFY(waitUntil([&] { return rig.bodies("/inline/bymain/detectonceinfo").size() == 2; }));
    auto roi = [](int id, int v) {
        return QJsonObject{{"roi_id", id},           {"algorithm_type", 1},    {"algorithm_result", v},
                           {"algorithm_premin", 10}, {"algorithm_premax", 90}, {"is_alarm", 1}};
    };
    const QJsonArray detail{
        QJsonObject{{"camera", 0}, {"detect", 1}, {"roi_detail", QJsonArray{roi(0, 5), roi(2, 7)}}},
        QJsonObject{{"camera", 1}, {"detect", 0}, {"roi_detail", QJsonArray{roi(3, 6)}}}};
    QCOMPARE(rig.bodies("/inline/bymain/detectonceinfo"),
             (QList<QJsonObject>{{{"result", false}, {"detect_detail", detail}},
                                 {{"result", true}, {"detect_detail", QJsonArray()}}}));

    // One alarm cycle under one id, read from the uuid file up to its zero byte without line ends.
    QFile uuid("uuid");
    QVERIFY(uuid.open(QIODevice::WriteOnly) && uuid.write(QByteArray("1b4e28ba-2fa1\n\0rest", 19)) == 19);
    uuid.close();
    QOR_NETMN::uuidSourcePath = QDir::current().absoluteFilePath("uuid");
    rig.link->sendAlarmStartTiming(1);
    rig.link->sendAlarmPicture({{"camera", 0}, {"detect", 1}, {"result", 0}}, "./alarmimage/p.jpg");
    rig.link->alarmPhase = 2; // the machine cycle latches the alarm
    rig.link->appendClearMethod(0, 8);
    rig.link->appendClearMethod(1, 4);
    rig.link->sendAlarmFinishTiming();
    QCOMPARE(rig.link->alarmPhase, 0);
    // Started but never latched: no end goes out.
    rig.link->sendAlarmStartTiming(2);
    rig.link->sendAlarmFinishTiming();
    QVERIFY(waitUntil([&] { return rig.bodies("/inline/bymain/alarm_starttiming").size() == 2; }));
    QTest::qWait(100);
    QCOMPARE(rig.bodies("/inline/bymain/alarm_starttiming").first(),
             (QJsonObject{{"alarm_detect", 1}, {"uuid", "1b4e28ba-2fa1"}}));
    QCOMPARE(rig.bodies("/inline/bymain/alarmpicture"), (QList<QJsonObject>{{{"camera", 0}, {"detect", 1},
        {"result", 0}, {"alarmpic_path", "./alarmimage/p.jpg"}, {"uuid", "1b4e28ba-2fa1"}}}));
    QCOMPARE(rig.bodies("/inline/bymain/alarm_finishtiming"), (QList<QJsonObject>{{
        {"clear_method", " 相机1:重检检测OK 相机2:不检测此模解除"}, {"uuid", "1b4e28ba-2fa1"}}}));

    // An alarm that starts while the link is off still gets its own id; without the file, the time.
    QOR_NETMN::uuidSourcePath = QDir::current().absoluteFilePath("no-such-file");
    rig.link->setWorkFlags(false, false);
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    rig.link->sendAlarmStartTiming(0);
    QVERIFY(qAbs(rig.link->alarmUuid.toLongLong() - now) < 5000);
    rig.link->appendClearMethod(0, 8);
    QVERIFY(rig.link->clearMethod.isEmpty());
    QOR_NETMN::uuidSourcePath = "/proc/sys/kernel/random/uuid";
}

void TestReportLink::serverTime_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QStringList>("commands");
    QTest::addRow("time in ms") << "answer" << QStringList{"date -s 20240607 15:30:12", "hwclock --systohc"};
    QTest::addRow("serverport as a number") << "numeric port" << QStringList();
    QTest::addRow("server never answers") << "silent" << QStringList();
    QTest::addRow("time as text") << "text time" << QStringList();
}

void TestReportLink::serverTime()
{
    QFETCH(QString, mode);
    QFETCH(QStringList, commands);
    const QByteArray oldTz = qgetenv("TZ");
    qputenv("TZ", "CST-8");
    tzset();
    QTcpServer stub;
    QVERIFY(stub.listen(QHostAddress::LocalHost, 0));
    QByteArray requestSeen;
    connect(&stub, &QTcpServer::newConnection, this, [&] {
        QTcpSocket *socket = stub.nextPendingConnection();
        connect(socket, &QTcpSocket::readyRead, socket, [&, socket] {
            requestSeen += socket->readAll();
            if (mode == "silent" || !requestSeen.contains("\r\n\r\n"))
                return;
            const QByteArray body = mode == "text time" ? R"({"result":{"time":"1717745412045"}})"
                                                        : R"({"result":{"time":1717745412045}})";
            socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
                          QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
            socket->disconnectFromHost();
        });
    });
    TestWorkDir dir(TestWorkDir::Empty);
    QJsonObject config{{"device_worknetfunc", true}, {"serveraddr", "127.0.0.1"}};
    config.insert("serverport", mode == "numeric port" ? QJsonValue(int(stub.serverPort()))
                                                       : QJsonValue(QString::number(stub.serverPort())));
    writeConfig(config);
    QElapsedTimer timer;
    timer.start();
    QOR_NETMN link; // the constructor asks the server for its time
    const qint64 spent = timer.elapsed();
    qputenv("TZ", oldTz);
    tzset();
    QCOMPARE(m_log.calls, commands);
    if (mode != "numeric port")
        QVERIFY(requestSeen.startsWith("GET /monitor17/api/time HTTP/1.1"));
    QVERIFY2(spent < 1300, qPrintable(QString::number(spent)));
}

// The reporting process never answers with more than a few keys: a reply body above 64 KiB is dropped
// where it is received, with one log line, and reaches no handler; the connection stays, and the next
// reply is handled as usual.
void TestReportLink::largeReplyIsDroppedAndTheLinkGoesOn()
{
    static QMutex logMutex;
    static QStringList logged;
    logged.clear();
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &m) {
            QMutexLocker lock(&logMutex);
            logged << m;
        });
    Rig rig({{"device_worknetfunc", true}}, QJsonValue(false));
    rig.link->restartHelpers();
    rig.link->watchdogTimer->stop();
    QVERIFY(rig.heartbeatAnswered());
    QCOMPARE(rig.link->state(), -3);

    int padding = 70 * 1024;
    rig.peer.answer = [&padding](const CTask_FormData &request, CTask_FormData &response) {
        if (request.url == kHeartbeat)
            response.data.insert("body", QVariant::fromValue(QJsonObject{{"cntserver", true},
                                                                         {"pad", QString(padding, 'x')}}));
        return true;
    };
    const int asked = rig.peer.requests.size();
    const int handled = rig.replies;
    gClockOffset += 7000;
    rig.link->sendHeartbeat();
    QVERIFY(waitUntil([&] {
        QMutexLocker lock(&logMutex);
        return !logged.filter("dropped").isEmpty();
    }));
    QTest::qWait(200);
    QCOMPARE(rig.peer.requests.size(), asked + 1);
    QCOMPARE(rig.replies, handled);
    QCOMPARE(rig.link->state(), -3);
    // The peer said too much, but it did answer: 9 s after the last handled reply the link is alive.
    gClockOffset += 2000;
    QVERIFY(rig.link->isLinkAlive());
    {
        QMutexLocker lock(&logMutex);
        QCOMPARE(logged.filter("dropped").size(), 1);
        QVERIFY2(logged.filter("dropped").first().contains("65536"), qPrintable(logged.join('\n')));
    }

    padding = 10;
    QVERIFY(rig.heartbeatAnswered());
    QCOMPARE(rig.link->state(), 1);
    qInstallMessageHandler(previous);
}

void TestReportLink::watchdog()
{
    Rig rig({{"device_worknetfunc", true}}, QJsonValue(true));
    rig.link->restartHelpers();
    rig.link->watchdogTimer->stop();
    QOR_NETMN::watchdogTicks = 0;
    for (int tick = 1; tick <= 7; ++tick)
        rig.link->onWatchdogTimer();
    QVERIFY(waitUntil([&] { return rig.bodies(kHeartbeat).size() == 3; }));
    QTest::qWait(150);
    QCOMPARE(rig.bodies(kHeartbeat).size(), 3); // live ticks 1, 4 and 7

    QOR_NETMN::watchdogTicks = 899;
    init();
    QTest::ignoreMessage(QtInfoMsg, "restart time up by 15min");
    rig.link->onWatchdogTimer();
    QCOMPARE(m_log.calls, (QStringList{"killall -9 pynet_monitor", "killall -9 hls_avmn"}));
    QCOMPARE(m_log.detached.size(), 1);
    QVERIFY(rig.link->watchdogTimer->isActive());

    // Network function off: the helpers are stopped and the stream's objects removed, nothing else.
    QOR_NETMN::ipcKeyPath = rig.dir.path();
    rig.link->createShm(0, 64, 48);
    const ScreenStreamSegment seg = rig.link->segments.value(0);
    QVERIFY(seg.shmid >= 0 && seg.semid >= 0);
    rig.link->setWorkFlags(false, false);
    m_log.calls.clear();
    rig.link->restartHelpers();
    QCOMPARE(m_log.calls, (QStringList{"killall -9 pynet_monitor", "killall -9 hls_avmn",
                                       QString("ipcrm -m %1").arg(seg.shmid), QString("ipcrm -s %1").arg(seg.semid)}));
    QVERIFY(!rig.link->watchdogTimer->isActive());
    QCOMPARE(rig.link->state(), -1);
    shmctl(seg.shmid, IPC_RMID, nullptr);
    semctl(seg.semid, 0, IPC_RMID);
    QOR_NETMN::ipcKeyPath = "/tmp";
}

// The desktop build runs no killall: the reporting process it started is ended by its id before the
// next one starts, when the network function goes off, and at quit; never a process it did not start.
void TestReportLink::desktopBuildEndsTheHelperItStarted()
{
#ifdef MG_BOX_BUILD
    QSKIP("the box build ends the helpers with killall");
#endif
    Rig rig({{"device_worknetfunc", true}}, QJsonValue(true));
    const QString helper = "./cnt_net/pynet_monitor";
    rig.link->endStartedHelper(); // nothing started yet
    rig.link->restartHelpers();
    QCOMPARE(m_log.ended, QStringList{});
    rig.link->restartHelpers();
    rig.link->setWorkFlags(false, false);
    rig.link->restartHelpers();
    rig.link->restartHelpers();
    rig.link->setWorkFlags(true, false);
    rig.link->restartHelpers();
    rig.link->endStartedHelper(); // at quit
    rig.link->endStartedHelper();
    QCOMPARE(m_log.ended,
             (QStringList{"4001 " + helper + " after 1 starts", "4002 " + helper + " after 2 starts",
                          "4003 " + helper + " after 3 starts"}));
    // The box build's killall stays in the record, where the desktop build logs it instead of running it.
    QCOMPARE(m_log.calls.count("killall -9 pynet_monitor"), 5);
    rig.link->watchdogTimer->stop();
}

namespace {
// A reporting process that answers the first heartbeat with one multipart reply whose part head holds
// `lines` name lines, and counts the connections made to it.
class HostileReporter : public QObject
{
public:
    QTcpServer server;
    int connections = 0;
    bool answered = false;
    QByteArray reply;

    explicit HostileReporter(int lines)
    {
        const QByteArray b = "------------------------tcpservreactor";
        QByteArray body = b + "\r\n";
        for (int i = 0; i < lines; ++i)
            body += "Content-Disposition: form-data; name=\"img" + QByteArray::number(i) + "\"\r\n";
        body += "Content-Type: application/json\r\n\r\n{\"cntserver\":true}\r\n" + b + "\r\n";
        reply = "HTTP/1.1 200 OK\r\nUser-Agent: hostile\r\nContent-Type: multipart/form-data;boundary=" + b +
                "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = server.nextPendingConnection()) {
                ++connections;
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                    if (socket->readAll().contains(kHeartbeat.toLatin1()) && !answered) {
                        answered = true;
                        socket->write(reply);
                    }
                });
            }
        });
    }
};
} // namespace

// The link's socket thread is kept busy (by a hostile reply, or by a receiver that takes its time)
// when the watchdog finds the link dead: the replacement connects at once, the GUI thread's timer
// keeps ticking, and the old link goes once its thread is free.
void TestReportLink::watchdogNeverWaitsForABusyLink_data()
{
    QTest::addColumn<QString>("busy");
    QTest::newRow("a part head of 16,000 name lines") << "hostile reply";
    QTest::newRow("a receiver that holds the socket thread") << "slow receiver";
}

void TestReportLink::watchdogNeverWaitsForABusyLink()
{
    QFETCH(QString, busy);
    TestWorkDir dir{TestWorkDir::Empty};
    writeConfig({{"device_worknetfunc", true}});
    HostileReporter hostile(16000);
    FakePeer peer;
    peer.answer = reportingProcess(QJsonValue(true));
    QOR_NETMN::reportPort = freeLoopbackPort();
    if (busy == "hostile reply")
        QVERIFY(hostile.server.listen(QHostAddress::LocalHost, QOR_NETMN::reportPort));
    else
        QVERIFY(peer.listen(QOR_NETMN::reportPort));
    QOR_NETMN link;
    link.restartHelpers();
    QVERIFY(link.reactor && link.reactor->isRunning());
    QPointer<QORC::TcpReactor> first = link.reactor.data();

    // The receiver runs on the socket thread and lets go when the test says so, or after 25 s.
    std::atomic<bool> release{false};
    QObject receiver;
    if (busy == "slow receiver") {
        connect(
            link.reactor.data(), &QORC::TcpReactor::sigResponse_async, &receiver,
            [&release](const CTask_FormData &) {
                for (int i = 0; i < 2500 && !release.load(); ++i)
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
            },
            Qt::DirectConnection);
    }
    link.sendHeartbeat();
    if (busy == "hostile reply")
        QVERIFY(waitUntil([&] { return hostile.answered; }));
    QTest::qWait(300); // the socket thread is now at work on the reply

    GuiGapMeter meter;
    meter.start();
    gClockOffset += 9000; // nothing heard for 9 s: the next tick replaces the link
    QVERIFY(waitUntil([&] { return link.reactor.data() != first; }));
    QVERIFY(link.reactor->isRunning());
    if (busy == "hostile reply")
        QVERIFY(waitUntil([&] { return hostile.connections == 2; }));
    else
        QVERIFY(waitUntil([&] { return peer.requests.size() >= 3; })); // heartbeat, heartbeat, offer
    QTest::qWait(1500);
    const qint64 gap = meter.stop();
    release = true;
    QVERIFY2(gap < 1000, qPrintable(QString::number(gap)));
    // The old link goes once its socket thread is free; nothing is left aside.
    QVERIFY(waitUntil([&] { return first.isNull() && link.retiredReactors() == 0; }));
    link.watchdogTimer->stop();
}

QTEST_GUILESS_MAIN(TestReportLink)
#include "tst_reportlink.moc"

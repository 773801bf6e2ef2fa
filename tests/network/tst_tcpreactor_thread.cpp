// The reactor over loopback with a server reactor as its peer: requests and their responses across
// threads, time-outs, restarts, the session table and the task registries, and big pictures to a
// reader that takes its time.

#include "clock.h"
#include "tcpreactor.h"
#include "tcpreceive.h"
#include "tcptestpair.h"

#include <QCryptographicHash>
#include <QJsonObject>
#include <QScopeGuard>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <memory>
#include <thread>

namespace {
quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

QString echoOf(const CTask_FormData &response)
{
    return response.data.value("body").toJsonObject().value("result").toObject().value("echo").toString();
}

// A server reactor that records the requests it receives (in the test's thread) and, when asked,
// answers each with {"echo": <request id>} under the id `prefix + request id`.
class Peer : public QObject
{
public:
    QORC::TcpServReactor reactor;
    QList<CTask_FormData> requests;
    bool autoReply = true;
    QString prefix;

    Peer()
    {
        connect(&reactor, &QORC::TcpReactor::sigRequest, this, [this](const CTask_FormData &request) {
            requests << request;
            if (autoReply)
                reply(request);
        });
    }
    void reply(const CTask_FormData &request)
    {
        CTask_FormData response;
        response.uuid = prefix + request.uuid;
        response.sessionId = request.sessionId;
        response.data.insert("body", QVariant::fromValue(QJsonObject{{"echo", request.uuid}}));
        reactor.send(response);
    }
};

CTask_FormData request(const QString &url, const QString &id = QString())
{
    CTask_FormData t;
    t.url = url;
    t.uuid = id;
    t.data.insert("body", QVariant::fromValue(QJsonObject{{"q", 1}}));
    return t;
}
} // namespace

class TestTcpReactor : public QObject
{
    Q_OBJECT
private slots:
    void requestsTimeOutsAndRegistries();
    void concurrentWaitersGetTheirOwnResponse();
    void restartsAndSessionTable();
    void slowReaderGetsBigPictureThenJson();
};

void TestTcpReactor::requestsTimeOutsAndRegistries()
{
    static std::atomic<qint64> fakeNow;
    fakeNow = 1000000;
    setAppMonotonicClock([] { return fakeNow.load(); });
    const quint16 port = freePort();
    Peer peer;
    QVERIFY(peer.reactor.start(QHostAddress::LocalHost, port));
    QORC::TcpCliReactor client;
    CTask_FormData response;
    CTask_FormData early = request("/early");
    QVERIFY(!client.requestSync(early, response, 1000)); // no connection yet
    QVERIFY(client.start(QHostAddress::LocalHost, port));
    QVERIFY(!client.initialize());
    QCOMPARE(client.sessions().size(), 1);
    QCOMPARE(client.lastActivity(), 1000000LL);

    for (const int timeout : {0, 60001}) {
        CTask_FormData refused = request("/refused");
        QVERIFY(!client.requestSync(refused, response, timeout));
    }
    CTask_FormData nobody = request("/nobody");
    nobody.sessionId = -2;
    QVERIFY(client.requestAsync(nobody));
    QVERIFY(nobody.uuid.startsWith("smartcam#"));

    CTask_FormData ask = request("/smon2/camera/getparams");
    QVERIFY(client.requestSync(ask, response, 5000));
    // Nothing of the refused or unaddressed requests reached the peer before this one.
    QCOMPARE(peer.requests.size(), 1);
    QCOMPARE(peer.requests.first().url, QString("/smon2/camera/getparams"));
    QCOMPARE(peer.requests.first().data.value("body").toJsonObject(), (QJsonObject{{"q", 1}}));
    QCOMPARE(echoOf(response), ask.uuid);
    QCOMPARE(response.taskInfo.uuid, ask.uuid);
    QCOMPARE(response.taskInfo.url, ask.url);
    QVERIFY(response.taskInfo.firstrecv_timing > 0 && response.taskInfo.finishrecv_timing > 0 &&
            response.taskInfo.finishact_timing > 0);
    QCOMPARE(response.taskInfo.recv_times, 1LL);
    QVERIFY(response.taskInfo.recvpacklength > 20);

    // A response after the wait gave up still comes as the answer to a waiting request, not as
    // unsolicited traffic; one nobody asked for comes as unsolicited.
    int syncCount = 0, asyncCount = 0;
    connect(&client, &QORC::TcpReactor::sigResponse_sync, this, [&] { ++syncCount; });
    connect(&client, &QORC::TcpReactor::sigResponse_async, this, [&] { ++asyncCount; });
    peer.autoReply = false;
    CTask_FormData late = request("/late");
    QVERIFY(!client.requestSync(late, response, 50));
    QVERIFY(waitUntil([&] { return peer.requests.size() == 2; }));
    peer.reply(peer.requests.last());
    QVERIFY(waitUntil([&] { return syncCount == 1; }));
    peer.reply(request("/other", "unknown"));
    QVERIFY(waitUntil([&] { return asyncCount == 1; }));
    QCOMPARE(syncCount, 1);

    // Registry records live 60000 ms on the monotonic clock, whatever the wall clock does.
    TcpTsk_Info info;
    QVERIFY(client.getTaskInfo(nobody.uuid, info));
    QCOMPARE(info.url, QString("/nobody"));
    setAppClock([] { return QDateTime(QDate(2001, 1, 1), QTime(0, 0)); });
    fakeNow += 60000;
    client.purgeTaskRegistries();
    QVERIFY(client.getTaskInfo(nobody.uuid, info));
    fakeNow += 1;
    client.purgeTaskRegistries();
    QVERIFY(!client.getTaskInfo(nobody.uuid, info));
    setAppClock({});
    client.stop();
    peer.reactor.stop();
    setAppMonotonicClock({});
}

void TestTcpReactor::concurrentWaitersGetTheirOwnResponse()
{
    const quint16 port = freePort();
    Peer peer;
    peer.autoReply = false;
    peer.prefix = "re:";
    QVERIFY(peer.reactor.start(QHostAddress::LocalHost, port));
    QORC::TcpCliReactor client;
    QVERIFY(client.start(QHostAddress::LocalHost, port));
    CTask_FormData responses[2];
    bool ok[2] = {false, false};
    const QString ids[2] = {"X_1", "X_12"};
    std::thread waiters[2];
    for (int i = 0; i < 2; ++i) {
        waiters[i] = std::thread([&, i] {
            CTask_FormData ask = request("/ask", ids[i]);
            ok[i] = client.requestSync(ask, responses[i], 10000);
        });
    }
    const auto joinOnFailure = qScopeGuard([&] {
        for (auto &w : waiters)
            if (w.joinable())
                w.join();
    });
    QVERIFY(waitUntil([&] { return peer.requests.size() == 2; }));
    // Answered in reverse order of the ids' lengths: "re:X_12" must not satisfy the "X_1" waiter.
    const int first = peer.requests.at(0).uuid == "X_12" ? 0 : 1;
    peer.reply(peer.requests.at(first));
    peer.reply(peer.requests.at(1 - first));
    for (auto &w : waiters)
        w.join();
    for (int i = 0; i < 2; ++i) {
        QVERIFY(ok[i]);
        QCOMPARE(echoOf(responses[i]), ids[i]);
        QCOMPARE(responses[i].uuid, "re:" + ids[i]);
    }
}

void TestTcpReactor::restartsAndSessionTable()
{
    const quint16 port = freePort();
    auto peer = std::make_unique<Peer>();
    QVERIFY(peer->reactor.start(QHostAddress::LocalHost, port));
    QORC::TcpCliReactor client;
    QVERIFY(client.start(QHostAddress::LocalHost, port));
    const int firstId = client.sessions().value(0);
    QVERIFY(waitUntil([&] { return peer->reactor.sessions().size() == 1; }));
    const int firstOnServer = peer->reactor.sessions().first();
    // A second start gives a fresh connection; the first one is closed, the peer sees it go.
    QVERIFY(client.start(QHostAddress::LocalHost, port));
    QCOMPARE(client.sessions().size(), 1);
    QVERIFY(client.sessions().first() > firstId);
    QVERIFY(waitUntil([&] {
        const QList<int> ids = peer->reactor.sessions();
        return ids.size() == 1 && ids.first() > firstOnServer;
    }));
    const int survivor = peer->reactor.sessions().first();

    std::unique_ptr<QORC::TcpCliReactor> more[3];
    for (auto &c : more) {
        c = std::make_unique<QORC::TcpCliReactor>();
        QVERIFY(c->start(QHostAddress::LocalHost, port));
    }
    QVERIFY(waitUntil([&] { return peer->reactor.sessions().size() == 4; }));
    peer->reactor.removeSessions(-2);
    QCOMPARE(peer->reactor.sessions().size(), 4);
    peer->reactor.removeSessions(survivor);
    QVERIFY(waitUntil([&] { return !client.hasLiveSession(); }));
    QCOMPARE(peer->reactor.sessions().size(), 3);
    QVERIFY(!peer->reactor.sessions().contains(survivor));

    // The server goes with three live connections: every socket and session is freed once.
    peer.reset();
    for (auto &c : more)
        QVERIFY(waitUntil([&] { return !c->hasLiveSession(); }));
    // Sessions lost their connection: a request finds nothing to send on and fails at once.
    CTask_FormData ask = request("/gone");
    CTask_FormData response;
    QVERIFY(!more[0]->requestSync(ask, response, 1000));
}

void TestTcpReactor::slowReaderGetsBigPictureThenJson()
{
    const quint16 port = freePort();
    QORC::TcpServReactor server;
    QVERIFY(server.start(QHostAddress::LocalHost, port));
    QTcpSocket reader;
    reader.setReadBufferSize(65536);
    reader.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(reader.waitForConnected(5000));
    QVERIFY(waitUntil([&] { return server.sessions().size() == 1; }));

    // Bigger than what loopback buffers hold, so the writer is still busy when the next peer comes.
    cv::Mat frame(2048, 2048, CV_8UC3);
    cv::randu(frame, 0, 256);
    CTask_FormData picture;
    picture.uuid = "pic";
    picture.sessionId = server.sessions().first();
    picture.images.insert("frame", frame);
    CTask_FormData after;
    after.uuid = "after";
    after.sessionId = picture.sessionId;
    server.send(picture);
    server.send(after);
    // A connection accepted while the picture goes out joins the table; other threads are not held up.
    QTcpSocket second;
    second.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(waitUntil([&] { return server.sessions().size() == 2 && server.hasLiveSession(); }));

    QList<CTask_FormData> got;
    HttpLikeReceiver receiver(0);
    receiver.onComplete = [&](SCI_ExecObj_Recv &m) {
        if (m.parseBody())
            got << m.toTask();
    };
    QElapsedTimer timer;
    timer.start();
    while (got.size() < 2 && timer.elapsed() < 20000) {
        reader.waitForReadyRead(50);
        receiver.feed(reader.read(65536));
        QThread::usleep(200);
    }
    QCOMPARE(got.size(), 2);
    QCOMPARE(got.at(0).uuid, QString("pic"));
    const cv::Mat back = got.at(0).images.value("frame-matinfo");
    QCOMPARE(back.size(), frame.size());
    QCOMPARE(back.type(), CV_8UC3);
    QCOMPARE(cv::norm(back, frame, cv::NORM_INF), 0.0);
    QCOMPARE(got.at(1).uuid, QString("after"));
    QCOMPARE(got.at(1).data.value("body").toJsonObject(), (QJsonObject{{"code", 0}, {"msg", "OK"}}));
}

QTEST_GUILESS_MAIN(TestTcpReactor)
#include "tst_tcpreactor_thread.moc"

// The smart camera's requests against a fake camera on loopback: what the camera receives, what the
// caller gets back, and what a manager without a camera or without a start reports.

#include "fakepeers.h"
#include "tcpmanager.h"
#include "tcptestpair.h"

#include <QElapsedTimer>
#include <QtTest>

namespace {
cv::Mat filled(int rows, int cols, uchar value) { return cv::Mat(rows, cols, CV_8UC3, cv::Scalar::all(value)); }

// Answers like a smart camera: parameters, the set values echoed, `pictures` pictures per getpic.
bool cameraAnswer(const CTask_FormData &request, CTask_FormData &response, int pictures)
{
    QJsonObject body{{"done", true}};
    if (request.url.endsWith("/getparams"))
        body = {{"exposure", 30}, {"gain", 2}};
    else if (request.url.endsWith("/setparams"))
        body = FakePeer::bodyOf(request);
    else if (request.url.endsWith("/getpic"))
        body = {{"frameid", 7}};
    for (int i = 1; request.url.endsWith("/getpic") && i <= pictures; ++i)
        response.images.insert(QString("pic%1").arg(i), filled(4 * i, 6 * i, uchar(10 * i)));
    response.data.insert("body", QVariant::fromValue(body));
    return true;
}
} // namespace

class TestTcpManager : public QObject
{
    Q_OBJECT
private slots:
    void requestsAgainstFakeCamera_data();
    void requestsAgainstFakeCamera();
    void withoutCameraOrStart();
};

void TestTcpManager::requestsAgainstFakeCamera_data()
{
    QTest::addColumn<QString>("op");
    QTest::addColumn<int>("pictures");
    QTest::addRow("getparams, as map, probe") << "getparams" << 1;
    QTest::addRow("setparams body members") << "setparams" << 1;
    QTest::addRow("command gives empty map") << "commands" << 1;
    QTest::addRow("getpic one picture") << "getpic" << 1;
    QTest::addRow("getpic two pictures: greater key, whole response") << "getpic" << 2;
    QTest::addRow("getpic without waiting") << "async" << 2;
}

void TestTcpManager::requestsAgainstFakeCamera()
{
    QFETCH(QString, op);
    QFETCH(int, pictures);
    FakePeer camera;
    camera.answer = [&](const CTask_FormData &rq, CTask_FormData &rs) { return cameraAnswer(rq, rs, pictures); };
    const quint16 port = freeLoopbackPort();
    QVERIFY(camera.listen(port));
    TcpManager_Client client;
    QVERIFY(client.start(QHostAddress::LocalHost, port));
    const QVariantMap params{{"exposure", 55}, {"mode", "auto"}};

    if (op == "getparams") {
        QJsonObject result;
        QVariantMap map;
        QCOMPARE(client.act_getParams(result), 0);
        QCOMPARE(result, (QJsonObject{{"exposure", 30}, {"gain", 2}}));
        QCOMPARE(client.act_getParamsMap(map), 0);
        QCOMPARE(map, result.toVariantMap());
        QVERIFY(client.act_probeParams());
        QCOMPARE(FakePeer::bodyOf(camera.requests[0]), QJsonObject());
    } else if (op == "setparams") {
        QCOMPARE(client.act_setParams(params), params);
        QCOMPARE(FakePeer::bodyOf(camera.requests[0]), (QJsonObject{{"exposure", 55}, {"mode", "auto"}}));
    } else if (op == "commands") {
        QVERIFY(client.act_Command(params).isEmpty());
        QCOMPARE(FakePeer::bodyOf(camera.requests[0]), (QJsonObject{{"exposure", 55}, {"mode", "auto"}}));
    } else if (op == "getpic") {
        cv::Mat image;
        QJsonObject info;
        QCOMPARE(client.act_getPic(image, info, 20000), 0);
        QCOMPARE(FakePeer::bodyOf(camera.requests[0]), (QJsonObject{{"compulsive", false}}));
        QCOMPARE(info.value("frameid").toInt(), 7);
        QCOMPARE(image.size(), cv::Size(6 * pictures, 4 * pictures));
        QCOMPARE(int(image.at<cv::Vec3b>(0, 0)[0]), 10 * pictures);
        CTask_FormData response;
        QCOMPARE(client.act_getPicResponse(response, 20000), 0);
        QCOMPARE(response.images.size(), pictures);
        QCOMPARE(response.taskInfo.url, QString("/smon2/camera/getpic"));
    } else if (op == "async") {
        QList<int> widths;
        connect(&client, &TcpManager_Client::sigRecvPic, this, [&](const cv::Mat &m) { widths << m.cols; });
        client.act_getPicAsync();
        QVERIFY(client.pendingId.startsWith("smartcam#"));
        QVERIFY(waitUntil([&] { return client.pendingId.isEmpty(); }));
        QCOMPARE(widths, (QList<int>{6, 12}));
        // Another request's response changes nothing; the pending one of another path only clears.
        CTask_FormData stray;
        stray.uuid = client.pendingId = "smartcam#other";
        stray.url = "/smon2/camera/getparams";
        stray.images.insert("p", filled(2, 2, 1));
        client.SlotRecvResponse_async(stray);
        QVERIFY(client.pendingId.isEmpty());
        QCOMPARE(widths.size(), 2);
    }
    QCOMPARE(camera.urls().first(), "/smon2/camera/" + (op == "async" ? QString("getpic") : op));
}

void TestTcpManager::withoutCameraOrStart()
{
    // Never started: failures, outputs untouched, no crash.
    TcpManager_Client idle;
    QJsonObject result{{"kept", 1}}, info{{"kept", 1}};
    QVariantMap map{{"kept", 1}};
    cv::Mat image;
    CTask_FormData response;
    QCOMPARE(idle.act_getParams(result), -12);
    QCOMPARE(idle.act_getParamsMap(map), -12);
    QCOMPARE(idle.act_getPic(image, info, 500), -12);
    QCOMPARE(idle.act_getPicResponse(response, 500), -1);
    QVERIFY(!idle.act_probeParams());
    QVERIFY(idle.act_setParams(map).isEmpty() && idle.act_Command(map).isEmpty());
    idle.act_getPicAsync();
    QVERIFY(idle.pendingId.isEmpty());
    QCOMPARE(result, (QJsonObject{{"kept", 1}}));
    QCOMPARE(info, (QJsonObject{{"kept", 1}}));

    // Started towards nobody: -12 at once; the unconnected reactor stays until the next start.
    TcpManager_Client lonely;
    QVERIFY(!lonely.start(QHostAddress::LocalHost, freeLoopbackPort()));
    QVERIFY(lonely.reactor);
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(lonely.act_getParams(result), -12);
    QCOMPARE(lonely.act_getPic(image, info, 1000), -12);
    // Neither waited for its time-out (a second each, the ThreadSanitizer build's longer).
    QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));

    // A silent camera: the request waits for its time-out, then fails.
    FakePeer silent;
    const quint16 port = freeLoopbackPort();
    QVERIFY(silent.listen(port));
    QVERIFY(lonely.start(QHostAddress::LocalHost, port));
    QCOMPARE(lonely.act_getPic(image, info, 200), -12);
    // The request reached the camera, though perhaps only after the caller stopped waiting.
    QTRY_COMPARE(silent.urls(), QStringList{"/smon2/camera/getpic"});

    // A type that is neither client nor server never gets a reactor.
    struct OtherManager : TcpManager
    {
        OtherManager() : TcpManager(2) {}
        void SlotRecvResponse_async(CTask_FormData) override {}
        void SlotRecvRequest(CTask_FormData) override {}
    } other;
    QVERIFY(!other.start(QHostAddress::LocalHost, port));
    QVERIFY(!other.reactor);
}

QTEST_GUILESS_MAIN(TestTcpManager)
#include "tst_tcpmanager.moc"

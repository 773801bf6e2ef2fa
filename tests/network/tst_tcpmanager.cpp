// The smart camera's requests against a fake camera on loopback: what the camera receives, what the
// caller gets back, and what a manager without a camera or without a start reports.

#include "fakepeers.h"
#include "tcpmanager.h"
#include "tcptestpair.h"

#include <QElapsedTimer>
#include <QtTest>

Q_DECLARE_METATYPE(cv::Mat)

namespace {
cv::Mat filled(int rows, int cols, uchar value)
{
    return cv::Mat(rows, cols, CV_8UC3, cv::Scalar::all(value));
}

// Answers like a smart camera: parameters, the set values echoed, `pictures` pictures per getpic.
bool cameraAnswer(const CTask_FormData &request, CTask_FormData &response, int pictures)
{
    if (request.url.endsWith("/getparams")) {
        response.data.insert("body", QVariant::fromValue(QJsonObject{{"exposure", 30}, {"gain", 2}}));
    } else if (request.url.endsWith("/setparams")) {
        response.data.insert("body", QVariant::fromValue(FakePeer::bodyOf(request)));
    } else if (request.url.endsWith("/getpic")) {
        response.data.insert("body", QVariant::fromValue(QJsonObject{{"frameid", 7}}));
        for (int i = 1; i <= pictures; ++i)
            response.images.insert(QString("pic%1").arg(i), filled(4 * i, 6 * i, uchar(10 * i)));
    } else if (request.url.endsWith("/commands")) {
        response.data.insert("body", QVariant::fromValue(QJsonObject{{"done", true}}));
    }
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
    void asyncPictureAndPendingId();
};

void TestTcpManager::requestsAgainstFakeCamera_data()
{
    QTest::addColumn<QString>("op");
    QTest::addColumn<int>("pictures");
    QTest::addRow("getparams result") << "getparams" << 1;
    QTest::addRow("getparams as map") << "getparamsmap" << 1;
    QTest::addRow("probe") << "probe" << 1;
    QTest::addRow("setparams body members") << "setparams" << 1;
    QTest::addRow("command gives empty map") << "command" << 1;
    QTest::addRow("getpic one picture") << "getpic" << 1;
    QTest::addRow("getpic two pictures: greater key") << "getpic" << 2;
    QTest::addRow("getpic whole response") << "getpicresponse" << 2;
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

    if (op == "getparams") {
        QJsonObject result;
        QCOMPARE(client.act_getParams(result), 0);
        QCOMPARE(result, (QJsonObject{{"exposure", 30}, {"gain", 2}}));
        QCOMPARE(camera.urls(), QStringList{"/smon2/camera/getparams"});
        QCOMPARE(FakePeer::bodyOf(camera.requests[0]), QJsonObject());
    } else if (op == "getparamsmap") {
        QVariantMap result;
        QCOMPARE(client.act_getParamsMap(result), 0);
        QCOMPARE(result.value("exposure").toInt(), 30);
    } else if (op == "probe") {
        QVERIFY(client.act_probeParams());
    } else if (op == "setparams") {
        const QVariantMap params{{"exposure", 55}, {"mode", "auto"}};
        const QVariantMap result = client.act_setParams(params);
        QCOMPARE(camera.urls(), QStringList{"/smon2/camera/setparams"});
        QCOMPARE(FakePeer::bodyOf(camera.requests[0]), (QJsonObject{{"exposure", 55}, {"mode", "auto"}}));
        QCOMPARE(result, params);
    } else if (op == "command") {
        QVERIFY(client.act_Command({{"cmd", "start"}}).isEmpty());
        QCOMPARE(camera.urls(), QStringList{"/smon2/camera/commands"});
        QCOMPARE(FakePeer::bodyOf(camera.requests[0]), (QJsonObject{{"cmd", "start"}}));
    } else if (op == "getpic") {
        cv::Mat image;
        QJsonObject info;
        QCOMPARE(client.act_getPic(image, info, 2000), 0);
        QCOMPARE(FakePeer::bodyOf(camera.requests[0]), (QJsonObject{{"compulsive", false}}));
        QCOMPARE(info.value("frameid").toInt(), 7);
        QCOMPARE(image.rows, 4 * pictures);
        QCOMPARE(image.cols, 6 * pictures);
        QCOMPARE(int(image.at<cv::Vec3b>(0, 0)[0]), 10 * pictures);
    } else if (op == "getpicresponse") {
        CTask_FormData response;
        QCOMPARE(client.act_getPicResponse(response, 2000), 0);
        QCOMPARE(response.images.keys(), (QStringList{"pic1-matinfo", "pic2-matinfo"}));
        QCOMPARE(response.taskInfo.url, QString("/smon2/camera/getpic"));
        QVERIFY(response.taskInfo.create_timing > 0);
    }
}

void TestTcpManager::withoutCameraOrStart()
{
    // Never started: failures, outputs untouched, no crash.
    TcpManager_Client idle;
    QJsonObject result{{"kept", 1}};
    QVariantMap map{{"kept", 1}};
    cv::Mat image;
    QJsonObject info{{"kept", 1}};
    CTask_FormData response;
    QCOMPARE(idle.act_getParams(result), -12);
    QCOMPARE(idle.act_getParamsMap(map), -12);
    QCOMPARE(idle.act_getPic(image, info, 500), -12);
    QCOMPARE(idle.act_getPicResponse(response, 500), -1);
    QVERIFY(!idle.act_probeParams());
    QVERIFY(idle.act_setParams({{"a", 1}}).isEmpty());
    QVERIFY(idle.act_Command({{"a", 1}}).isEmpty());
    idle.act_getPicAsync();
    QVERIFY(idle.pendingId.isEmpty());
    QCOMPARE(result, (QJsonObject{{"kept", 1}}));
    QCOMPARE(info, (QJsonObject{{"kept", 1}}));

    // Started towards nobody: -12 at once, and the unconnected reactor stays for the next start.
    TcpManager_Client lonely;
    QVERIFY(!lonely.start(QHostAddress::LocalHost, freeLoopbackPort()));
    QVERIFY(lonely.reactor);
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(lonely.act_getParams(result), -12);
    QCOMPARE(lonely.act_getPic(image, info, 1000), -12);
    QVERIFY2(timer.elapsed() < 150, qPrintable(QString::number(timer.elapsed())));

    // A type that is neither client nor server never gets a reactor.
    struct OtherManager : TcpManager
    {
        OtherManager() : TcpManager(2) {}
        void SlotRecvResponse_async(CTask_FormData) override {}
        void SlotRecvRequest(CTask_FormData) override {}
    } other;
    QVERIFY(!other.start(QHostAddress::LocalHost, freeLoopbackPort()));
    QVERIFY(!other.reactor);

    // A silent camera: the request waits its time-out and fails.
    FakePeer silent;
    const quint16 port = freeLoopbackPort();
    QVERIFY(silent.listen(port));
    QVERIFY(lonely.start(QHostAddress::LocalHost, port));
    QCOMPARE(lonely.act_getPic(image, info, 200), -12);
    QCOMPARE(silent.urls(), QStringList{"/smon2/camera/getpic"});
}

void TestTcpManager::asyncPictureAndPendingId()
{
    qRegisterMetaType<cv::Mat>();
    FakePeer camera;
    camera.answer = [](const CTask_FormData &rq, CTask_FormData &rs) { return cameraAnswer(rq, rs, 2); };
    const quint16 port = freeLoopbackPort();
    QVERIFY(camera.listen(port));
    TcpManager_Client client;
    QVERIFY(client.start(QHostAddress::LocalHost, port));
    QList<int> widths;
    connect(&client, &TcpManager_Client::sigRecvPic, this, [&](const cv::Mat &m) { widths << m.cols; });

    client.act_getPicAsync();
    QVERIFY(client.pendingId.startsWith("smartcam#"));
    QVERIFY(waitUntil([&] { return client.pendingId.isEmpty(); }));
    QCOMPARE(widths, (QList<int>{6, 12}));

    // A response of another request clears nothing; one for the pending id of another path emits nothing.
    client.pendingId = "smartcam#other";
    CTask_FormData stray;
    stray.uuid = "smartcam#unrelated";
    stray.images.insert("p", filled(2, 2, 1));
    client.SlotRecvResponse_async(stray);
    QCOMPARE(client.pendingId, QString("smartcam#other"));
    stray.uuid = client.pendingId;
    stray.url = "/smon2/camera/getparams";
    client.SlotRecvResponse_async(stray);
    QVERIFY(client.pendingId.isEmpty());
    QCOMPARE(widths.size(), 2);
}

QTEST_GUILESS_MAIN(TestTcpManager)
#include "tst_tcpmanager.moc"

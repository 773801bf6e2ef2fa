// The bytes the box puts on a TCP link, checked byte for byte as the peer receives them over a real
// loopback connection, plus the records and message ids those bytes carry.

#include "clock.h"
#include "tcprecords.h"
#include "tcptestpair.h"

#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace {
const QByteArray B = QByteArrayLiteral("------------------------tcpservreactor");

SCI_ExecObj_Send task(const QString &url, const QString &id, const QVariantMap &data = {})
{
    SCI_ExecObj_Send t;
    t.url = url;
    t.uuid = id;
    t.data = data;
    return t;
}

QVariant obj(const QJsonObject &o)
{
    return QVariant::fromValue(o);
}

cv::Mat patterned(int rows, int cols, int type)
{
    cv::Mat m(rows, cols, type);
    for (size_t i = 0; i < m.total() * m.elemSize(); ++i)
        m.data[i] = uchar(i * 7 + 3);
    return m;
}

QByteArray matBytes(const cv::Mat &m)
{
    const cv::Mat c = m.isContinuous() ? m : m.clone();
    return QByteArray(reinterpret_cast<const char *>(c.data), int(c.total() * c.elemSize()));
}
} // namespace

class TestTcpWire : public QObject
{
    Q_OBJECT
private slots:
    void writesExactBytes_data();
    void writesExactBytes();
    void timingRecord();
    void brokenPieceClosesConnection();
    void imageReportEveryHundredWithoutTime();
    void messageIds();

private:
    QTemporaryDir m_dir;
};

void TestTcpWire::writesExactBytes_data()
{
    QTest::addColumn<SCI_ExecObj_Send>("message");
    QTest::addColumn<QByteArray>("expected");
    const QByteArray json = "Content-Type: application/json\r\n";

    QTest::newRow("request, empty data")
        << task("/x", "id")
        << "POST /x HTTP/1.1\r\nUser-Agent: id\r\n" + json + "Content-Length: 2\r\n\r\n{}";
    QTest::newRow("response, empty data") << task("", "id")
                                          << "HTTP/1.1 200 OK\r\nUser-Agent: id\r\n" + json +
                                                 "Content-Length: 21\r\n\r\n" + R"({"code":0,"msg":"OK"})";
    QTest::newRow("empty id") << task("/x", "")
                              << "POST /x HTTP/1.1\r\nUser-Agent: \r\n" + json +
                                     "Content-Length: 2\r\n\r\n{}";
    SCI_ExecObj_Send get = task("/y", "g1", {{"a", obj({{"k", 1}})}, {"b", "text"}});
    get.method = "GET";
    QTest::newRow("only the first JSON value, other method")
        << get << "GET /y HTTP/1.1\r\nUser-Agent: g1\r\n" + json + "Content-Length: 7\r\n\r\n{\"k\":1}";
    const QByteArray result = QStringLiteral(R"({"code":0,"msg":"OK","result":{"x":"é"}})").toUtf8();
    QTest::newRow("response result counts UTF-8 bytes")
        << task("", "r", {{"body", obj({{"x", "é"}})}})
        << "HTTP/1.1 200 OK\r\nUser-Agent: r\r\n" + json +
               "Content-Length: " + QByteArray::number(result.size()) + "\r\n\r\n" + result;

    SCI_ExecObj_Send missing = task("", "f");
    missing.rawParts.insert("/nonexistent/picture.jpg", QByteArray());
    const QByteArray notFound = QStringLiteral(R"({"code":1,"msg":"未查询到需要获取的图片文件"})").toUtf8();
    QTest::newRow("missing file, response")
        << missing
        << "HTTP/1.1 200 OK\r\nUser-Agent: f\r\n" + json + "Content-Length: 58\r\n\r\n" + notFound;
    missing.url = "/pic";
    QTest::newRow("missing file, request: nothing") << missing << QByteArray();
    SCI_ExecObj_Send both = task("/x", "n");
    both.images.insert("img", patterned(2, 2, CV_8UC1));
    both.rawParts.insert("a", "b");
    QTest::newRow("image and raw part: nothing") << both << QByteArray();
    QTest::newRow("first value not JSON: nothing") << task("/x", "n", {{"a", 5}}) << QByteArray();

    const QString path = m_dir.filePath("p.jpg");
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write("abc\0d", 5) == 5);
    f.close();
    SCI_ExecObj_Send file = task("", "f");
    file.rawParts.insert(path, QByteArray());
    QTest::newRow("file") << file
                          << "HTTP/1.1 200 OK\r\nUser-Agent: f\r\nContent-Type: application/octet-stream\r\n"
                             "Content-Length: 5\r\n\r\n" +
                                 QByteArray("abc\0d", 5);

    // The multipart layout the camera side parses.
    const cv::Mat frame = patterned(480, 640, CV_8UC3);
    SCI_ExecObj_Send multi = task("/x", "m");
    multi.images.insert("img", frame);
    const QByteArray piece0 =
        B + "\r\nContent-Disposition: form-data; name=\"img-matinfo\"\r\n" + json + "\r\n" +
        R"({"channels":3,"data_type":"data_type","datakey":"img","size_height":480,"size_width":640})" +
        "\r\n" + B + "\r\nContent-Disposition: form-data; name=\"img\"\r\n" +
        "Content-Type: application/octet-stream\r\n\r\n";
    const QByteArray body = piece0 + matBytes(frame) + "\r\n" + B + "\r\n";
    QCOMPARE(multi.multipartPieces().size(), 4);
    QCOMPARE(multi.multipartPieces().at(0), piece0);
    QTest::newRow("640x480x3 multipart")
        << multi
        << "POST /x HTTP/1.1\r\nUser-Agent: m\r\nContent-Type: multipart/form-data;boundary=" + B +
               "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;

    // A picture cut out of a bigger one is sent row after row, not from the big picture's start; a
    // 16-bit picture is no picture; JSON values come first as their own parts.
    const cv::Mat big = patterned(10, 12, CV_8UC1);
    SCI_ExecObj_Send cut = task("", "c", {{"info", obj({{"n", 2}})}, {"skip", 3}});
    cut.images.insert("a", big(cv::Rect(2, 3, 5, 4)));
    cut.images.insert("b", patterned(3, 3, CV_16UC1));
    const QByteArray cutBody =
        B + "\r\nContent-Disposition: form-data; name=\"info\"\r\n" + json + "\r\n{\"n\":2}\r\n" + B +
        "\r\nContent-Disposition: form-data; name=\"a-matinfo\"\r\n" + json + "\r\n" +
        R"({"channels":1,"data_type":"data_type","datakey":"a","size_height":4,"size_width":5})" + "\r\n" +
        B +
        "\r\nContent-Disposition: form-data; name=\"a\"\r\nContent-Type: application/octet-stream\r\n\r\n" +
        matBytes(big(cv::Rect(2, 3, 5, 4))) + "\r\n" + B + "\r\n";
    QTest::newRow("cut-out picture, 16-bit picture, JSON part")
        << cut
        << "HTTP/1.1 200 OK\r\nUser-Agent: c\r\nContent-Type: multipart/form-data;boundary=" + B +
               "\r\nContent-Length: " + QByteArray::number(cutBody.size()) + "\r\n\r\n" + cutBody;
}

void TestTcpWire::writesExactBytes()
{
    QFETCH(SCI_ExecObj_Send, message);
    QFETCH(QByteArray, expected);
    TcpTestPair pair;
    QVERIFY(pair.open());
    QVERIFY(message.sendOn(pair.client.get()));
    QCOMPARE(message.socket, nullptr);
    // A message behind it marks the end, so "nothing" is seen without waiting for silence.
    SCI_ExecObj_Send end = task("/end", "e");
    QVERIFY(end.sendOn(pair.client.get()));
    const QByteArray endBytes = "POST /end HTTP/1.1\r\nUser-Agent: e\r\nContent-Type: application/json\r\n"
                                "Content-Length: 2\r\n\r\n{}";
    const QByteArray got = readExactly(pair.accepted, expected.size() + endBytes.size());
    QCOMPARE(got.size(), expected.size() + endBytes.size());
    QVERIFY(got.left(expected.size()) == expected);
    QCOMPARE(got.mid(expected.size()), endBytes);
}

void TestTcpWire::timingRecord()
{
    // Updated by slot name as the reactor does it; a copy is a fresh parentless object.
    setAppClock([] { return QDateTime::fromMSecsSinceEpoch(1717774212045); });
    QObject parent;
    TcpTsk_Info info;
    const QVariantMap empty = info.toVariantMap();
    QCOMPARE(empty.size(), 8);
    for (const QVariant &v : empty) // empty texts, every number -1
        QVERIFY(v.toString().isEmpty() || v.toLongLong() == -1);
    info.setParent(&parent);
    for (const char *slot : {"tskup_recv_times", "tskup_firstrecv_timing", "tskup_recv_times"})
        QVERIFY(QMetaObject::invokeMethod(&info, slot));
    for (const QVariantList &wrong : {QVariantList{"12"}, QVariantList{qint64(12)}, QVariantList{}})
        QMetaObject::invokeMethod(&info, "tskup_chg_recvpacklength", Q_ARG(QVariantList, wrong));
    QCOMPARE(info.recvpacklength, -1);
    QMetaObject::invokeMethod(&info, "tskup_chg_recvpacklength", Q_ARG(QVariantList, {QVariant(99)}));
    const TcpTsk_Info copy = info;
    QCOMPARE(copy.parent(), nullptr);
    const QVariantMap m = copy.toVariantMap();
    QCOMPARE(m.value("_tsk_firstrecv_timing").toLongLong(), 1717774212045LL);
    QCOMPARE(m.value("_tsk_recv_times").toLongLong(), 2LL);
    QCOMPARE(m.value("_tsk_recvpacklength").toInt(), 99);
    QCOMPARE(TcpTsk_Info("u").create_timing, 1717774212045LL);
    setAppClock({});
}

void TestTcpWire::brokenPieceClosesConnection()
{
    // A peer that stops reading: the picture cannot leave within the piece's second, and the rest of
    // it must not follow later as if it were the next message.
    TcpTestPair pair;
    QVERIFY(pair.open());
    pair.accepted->setReadBufferSize(4096);
    SCI_ExecObj_Send big = task("", "big");
    big.images.insert("img", patterned(2048, 4096, CV_8UC3));
    QVERIFY(!big.sendOn(pair.client.get()));
    QCOMPARE(pair.client->state(), QAbstractSocket::UnconnectedState);
    SCI_ExecObj_Send after = task("/after", "a");
    after.sendOn(pair.client.get());
    pair.accepted->setReadBufferSize(0);
    QVERIFY(waitUntil([&] { return pair.accepted->state() == QAbstractSocket::UnconnectedState; }));
    const QByteArray got = pair.accepted->readAll();
    QVERIFY(got.size() < 2048 * 4096 * 3);
    QVERIFY(!got.contains("/after"));
}

void TestTcpWire::imageReportEveryHundredWithoutTime()
{
    // All messages within one clock tick: the report's rate must not divide by the zero span.
    static QStringList reports;
    setAppMonotonicClock([] { return qint64(5000); });
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &m) {
            if (m.contains("ImgSend_Report"))
                reports << m;
        });
    TcpTestPair pair;
    QVERIFY(pair.open());
    SCI_ExecObj_Send picture = task("", "p");
    picture.images.insert("img", patterned(4, 4, CV_8UC1));
    // The count is shared by the whole process: first reach a report, then count a full hundred.
    for (int i = 0; i < 100 && reports.isEmpty(); ++i)
        picture.sendOn(pair.client.get());
    QCOMPARE(reports.size(), 1);
    for (int i = 0; i < 99; ++i)
        picture.sendOn(pair.client.get());
    QCOMPARE(reports.size(), 1);
    picture.sendOn(pair.client.get());
    qInstallMessageHandler(previous);
    setAppMonotonicClock({});
    QCOMPARE(reports.size(), 2);
    QVERIFY2(reports.last().contains("--fps:0.000"), qPrintable(reports.last()));
    QVERIFY(reports.last().contains("--send:(0.000)"));
}

void TestTcpWire::messageIds()
{
    const QDateTime at(QDate(2024, 6, 7), QTime(15, 30, 12, 45));
    setAppClock([at] { return at; });
    const QRegularExpression form("^smartcam#20240607_153012_045_([0-9]+)$");
    const QRegularExpressionMatch first = form.match(makeMessageId());
    const QRegularExpressionMatch second = form.match(makeMessageId());
    setAppClock({});
    QVERIFY(first.hasMatch() && second.hasMatch());
    QCOMPARE(second.captured(1).toInt(), first.captured(1).toInt() + 1);

    // Which received id answers which request: never one whose counter only begins the same.
    const struct
    {
        const char *received, *requested;
        bool answers;
    } cases[] = {{"X_045_1", "X_045_1", true},   {"X_045_12", "X_045_1", false},
                 {"X_045_1", "X_045_12", false}, {"reX_045_1_ok", "X_045_1", true},
                 {"X_12+X_1", "X_1", true},      {"", "X_1", false}};
    for (const auto &c : cases)
        QVERIFY2(messageIdMatches(c.received, c.requested) == c.answers, c.received);
}

QTEST_GUILESS_MAIN(TestTcpWire)
#include "tst_tcpwire.moc"

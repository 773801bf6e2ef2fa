// The receiving side against what a hostile or merely clumsy peer sends: edge cases of the head and
// body rules, inputs that must be dropped without harm, and a recorded stream of mixed messages cut
// at random places, fed both from memory and through a real socket into a session.

#include "tcpreceive.h"
#include "tcpsession.h"
#include "tcptestpair.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QRandomGenerator>
#include <QtTest>

namespace {
const QByteArray B = QByteArrayLiteral("------------------------tcpservreactor");

QByteArray message(const QByteArray &start, const QByteArray &id, const QByteArray &type,
                   const QByteArray &body, const QByteArray &length = QByteArray())
{
    return start + "\r\nUser-Agent: " + id + "\r\nContent-Type: " + type +
           "\r\nContent-Length: " + (length.isNull() ? QByteArray::number(body.size()) : length) +
           "\r\n\r\n" + body;
}

QByteArray part(const QByteArray &name, const QByteArray &type, const QByteArray &data)
{
    return B + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\nContent-Type: " + type +
           "\r\n\r\n" + data + "\r\n";
}

// A multipart response holding one picture descriptor and its pixel part.
QByteArray picture(int channels, qint64 width, qint64 height, const QByteArray &pixels)
{
    const QByteArray desc =
        "{\"channels\":" + QByteArray::number(channels) +
        ",\"data_type\":\"data_type\",\"datakey\":\"img\",\"size_height\":" + QByteArray::number(height) +
        ",\"size_width\":" + QByteArray::number(width) + "}";
    const QByteArray body = part("img-matinfo", "application/json", desc) +
                            part("img", "application/octet-stream", pixels) + B + "\r\n";
    return message("HTTP/1.1 200 OK", "p", "multipart/form-data;boundary=" + B, body);
}

QByteArray pattern(int size)
{
    QByteArray b(size, 0);
    for (int i = 0; i < size; ++i)
        b[i] = char(i * 13 + 1);
    return b;
}

// One line per message: everything a receiver of the task could look at.
QString signature(const CTask_FormData &t)
{
    QString s = t.method + ' ' + t.url + " id=" + t.uuid;
    for (auto it = t.data.cbegin(); it != t.data.cend(); ++it)
        s +=
            " data:" + it.key() + '=' +
            (it.value().userType() == QMetaType::QJsonObject
                 ? QString::fromUtf8(QJsonDocument(it.value().toJsonObject()).toJson(QJsonDocument::Compact))
                 : it.value().toString());
    for (auto it = t.images.cbegin(); it != t.images.cend(); ++it) {
        const cv::Mat &m = it.value();
        s += QStringLiteral(" img:%1=%2x%3x%4:").arg(it.key()).arg(m.cols).arg(m.rows).arg(m.channels()) +
             QCryptographicHash::hash(
                 QByteArray(reinterpret_cast<const char *>(m.data), int(m.total() * m.elemSize())),
                 QCryptographicHash::Md5)
                 .toHex();
    }
    for (auto it = t.rawParts.cbegin(); it != t.rawParts.cend(); ++it)
        s +=
            " raw:" + it.key() + '=' + QCryptographicHash::hash(it.value(), QCryptographicHash::Md5).toHex();
    return s;
}

struct Fed
{
    QStringList messages;
    bool failed = false;
    qint64 maxHeld = 0;
};

Fed feedReads(const QList<QByteArray> &reads)
{
    Fed fed;
    HttpLikeReceiver receiver(5);
    receiver.onComplete = [&](SCI_ExecObj_Recv &m) {
        if (m.parseBody())
            fed.messages << signature(m.toTask());
    };
    for (const QByteArray &read : reads) {
        receiver.feed(read);
        fed.maxHeld = std::max(fed.maxHeld, receiver.heldBytes());
    }
    fed.failed = receiver.failed();
    return fed;
}

QList<QByteArray> randomCuts(const QByteArray &stream, QRandomGenerator &rng)
{
    QList<QByteArray> reads;
    for (int pos = 0; pos < stream.size();) {
        // Sizes spread evenly over their magnitude: single bytes as often as 64 KiB reads.
        const int n = int(std::exp2(rng.bounded(17.0)));
        reads << stream.mid(pos, n);
        pos += n;
    }
    return reads;
}

// The recorded stream of mixed messages and what each must come back as.
QByteArray recordedStream(QStringList &expected)
{
    QByteArray stream;
    SCI_ExecObj_Send request;
    request.url = "/smon2/camera/getpic";
    request.uuid = "cam a 1";
    request.data.insert("body", QVariant::fromValue(QJsonObject{{"compulsive", false}}));
    stream +=
        request.headBytes("application/json", request.jsonRequestBody().size()) + request.jsonRequestBody();
    expected << "POST /smon2/camera/getpic id=cama1 data:body={\"compulsive\":false}";

    SCI_ExecObj_Send response;
    response.uuid = "cama1";
    response.data.insert("r", QVariant::fromValue(QJsonObject{{"v", "ü"}}));
    const QByteArray rb = response.jsonResponseBody(0, "OK");
    stream += response.headBytes("application/json", rb.size()) + rb;
    expected << QString::fromUtf8(
        "POST  id=cama1 data:body={\"code\":0,\"msg\":\"OK\",\"result\":{\"v\":\"ü\"}}");

    // An octet body that looks like a head inside must stay body.
    const QByteArray octet = "\r\n\r\nGET /fake HTTP/1.1\r\nUser-Agent: z\r\n\r\n" + pattern(3000);
    stream += message("POST /file HTTP/1.1", "o", "application/octet-stream", octet);
    expected << "POST /file id=o raw:=" + QCryptographicHash::hash(octet, QCryptographicHash::Md5).toHex();

    SCI_ExecObj_Send multi;
    multi.url = "/pics";
    multi.uuid = "m";
    multi.data.insert("meta", QVariant::fromValue(QJsonObject{{"n", 2}}));
    cv::Mat gray(37, 51, CV_8UC1), color(29, 40, CV_8UC3);
    cv::randu(gray, 0, 256);
    cv::randu(color, 0, 256);
    multi.images.insert("g", gray);
    multi.images.insert("c", color);
    QByteArray body;
    for (const QByteArray &piece : multi.multipartPieces())
        body += piece;
    stream += multi.headBytes("multipart/form-data;boundary=" + B, body.size()) + body;
    CTask_FormData back;
    back.url = "/pics";
    back.uuid = "m";
    back.data = multi.data;
    back.images.insert("c-matinfo", color);
    back.images.insert("g-matinfo", gray);
    expected << signature(back);

    stream += message("POST /arr HTTP/1.1", "a", "application/json", "[1,2,3]");
    expected << "POST /arr id=a data:body={}";
    return stream;
}

} // namespace

class TestTcpReceive : public QObject
{
    Q_OBJECT
private slots:
    void parsesOrDrops_data();
    void parsesOrDrops();
    void picturesAreBoundedByPixels_data();
    void picturesAreBoundedByPixels();
    void randomCutsGiveTheSameMessages();
    void boundedLinkDropsLargeBodiesAndGoesOn();
    void socketSessionReassemblesAndClosesOnAbuse();
    void bodyReadOnlyWhenWhole_data();
    void bodyReadOnlyWhenWhole();
};

// A picture may have 16 Mi pixels (a 4096 x 4096 camera), whatever its sides; a one-channel picture
// may be an NV21 one of 1.5 x the rows, so it may have half as many again. A descriptor that asks for
// more is refused before an image is made for it.
void TestTcpReceive::picturesAreBoundedByPixels_data()
{
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<bool>("kept");
    QTest::newRow("4096 x 4096 kept") << 1 << 4096 << 4096 << true;
    QTest::newRow("8192 x 2048 kept") << 1 << 8192 << 2048 << true;
    QTest::newRow("one channel, NV21 of 4096 x 4096 kept") << 1 << 4096 << 6144 << true;
    QTest::newRow("one channel, NV21 of 4000 x 3000 kept") << 1 << 4000 << 4500 << true;
    QTest::newRow("one channel, 4096 x 6147 refused") << 1 << 4096 << 6147 << false;
    QTest::newRow("one channel, one row over refused") << 1 << 4096 << 6145 << false;
    QTest::newRow("8000 x 8000 refused") << 1 << 8000 << 8000 << false;
    QTest::newRow("three channels, one row over refused") << 3 << 4096 << 4097 << false;
}

void TestTcpReceive::picturesAreBoundedByPixels()
{
    QFETCH(int, channels);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(bool, kept);
    const QByteArray pixels = pattern(width * height * channels);
    const Fed fed = feedReads({picture(channels, width, height, pixels)});
    QString expected = QStringLiteral("POST  id=p");
    if (kept)
        expected += QStringLiteral(" img:img-matinfo=%1x%2x%3:").arg(width).arg(height).arg(channels) +
                    QCryptographicHash::hash(pixels, QCryptographicHash::Md5).toHex();
    QCOMPARE(fed.messages, QStringList{expected});
    QVERIFY(!fed.failed);
}

// A message is read only once its body has every byte its Content-Length announced.
void TestTcpReceive::bodyReadOnlyWhenWhole_data()
{
    QTest::addColumn<QByteArray>("start");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("missing");
    QTest::addColumn<bool>("read");
    const QByteArray json = "{\"a\":12}";
    QTest::newRow("POST whole") << QByteArray("POST /j HTTP/1.1") << json << 0 << true;
    QTest::newRow("POST one byte short") << QByteArray("POST /j HTTP/1.1") << json << 1 << false;
    QTest::newRow("POST two bytes short") << QByteArray("POST /j HTTP/1.1") << json << 2 << false;
    QTest::newRow("response one byte short") << QByteArray("HTTP/1.1 200 OK") << json << 1 << false;
    QTest::newRow("GET one byte short") << QByteArray("GET /g HTTP/1.1") << json << 1 << false;
    QTest::newRow("GET whole") << QByteArray("GET /g HTTP/1.1") << json << 0 << true;
}

void TestTcpReceive::bodyReadOnlyWhenWhole()
{
    QFETCH(QByteArray, start);
    QFETCH(QByteArray, body);
    QFETCH(int, missing);
    QFETCH(bool, read);
    const QByteArray whole = message(start, "w", "application/json", body);
    const int headEnd = whole.indexOf("\r\n\r\n");
    SCI_ExecObj_Recv received(whole.left(headEnd + 2), 3);
    QCOMPARE(received.bytesRemaining(), qint64(body.size()));
    received.appendData(body.left(body.size() - missing));
    QCOMPARE(received.bytesRemaining(), qint64(missing));
    QCOMPARE(received.parseBody(), read);
}

void TestTcpReceive::parsesOrDrops_data()
{
    QTest::addColumn<QList<QByteArray>>("reads");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<bool>("failed");
    const QByteArray get = "GET /b HTTP/1.1\r\nUser-Agent: u\r\n\r\n";
    const QByteArray ok = message("HTTP/1.1 404 Nope", "r1", "application/json", "{\"a\":1}");
    const QString okSig = "POST  id=r1 data:body={\"a\":1}";

    const int cut = ok.indexOf("\r\n\r\n") + 1;
    QTest::newRow("head split inside the blank line")
        << QList<QByteArray>{ok.left(cut), ok.mid(cut, 2), ok.mid(cut + 2)} << QStringList{okSig} << false;
    QTest::newRow("start line alone is forgotten")
        << QList<QByteArray>{"POST /a HTTP/1.1\r\n\r\n" + get} << QStringList{"POST /b id=u"} << false;
    QTest::newRow("stray lines before the start line")
        << QList<QByteArray>{"junk\r\nmore: x\r\n" + get} << QStringList{"POST /b id=u"} << false;
    QTest::newRow("POST without body dropped, GET dispatched")
        << QList<QByteArray>{"POST /p HTTP/1.1\r\nContent-Type: application/json\r\n\r\n" + get}
        << QStringList{"POST /b id=u"} << false;
    QTest::newRow("two messages in one read, both at once")
        << QList<QByteArray>{ok + ok} << QStringList{okSig, okSig} << false;
    QTest::newRow("id without blanks, colons kept")
        << QList<QByteArray>{"GET /i HTTP/1.1\r\nUser-Agent:  a b:c::d\r\n\r\n"}
        << QStringList{"POST /i id=ab:c:d"} << false;
    QTest::newRow("unknown method, unknown type")
        << QList<QByteArray>{message("DEL /x HTTP/1.1", "d", "application/json", "{}"),
                             message("POST /x HTTP/1.1", "t", "text/plain", "hi")}
        << QStringList{} << false;

    const QByteArray px = pattern(2 * 3 * 4);
    const QString img3 = QStringLiteral("POST  id=p img:img-matinfo=2x3x3:") +
                         QCryptographicHash::hash(px.left(18), QCryptographicHash::Md5).toHex();
    QTest::newRow("channels 3") << QList<QByteArray>{picture(3, 2, 3, px.left(18))} << QStringList{img3}
                                << false;
    QTest::newRow("channels 4 gives three channels")
        << QList<QByteArray>{picture(4, 2, 3, px)} << QStringList{img3} << false;
    for (const int channels : {2, 0, -1, 5})
        QTest::newRow(qPrintable(QString("channels %1 dropped").arg(channels)))
            << QList<QByteArray>{picture(channels, 2, 3, px.left(6 * std::max(channels, 1)))}
            << QStringList{"POST  id=p"} << false;
    QTest::newRow("size one byte off")
        << QList<QByteArray>{picture(3, 2, 3, px.left(17))} << QStringList{"POST  id=p"} << false;
    QTest::newRow("negative size") << QList<QByteArray>{picture(1, -2, -3, px.left(6))}
                                   << QStringList{"POST  id=p"} << false;
    QTest::newRow("width x height overflows 32 bits")
        << QList<QByteArray>{picture(1, 65536, 65536, px.left(0)), picture(3, 2147483647, 2, px.left(6))}
        << QStringList{"POST  id=p", "POST  id=p"} << false;
    // The part name is the quoted run after the last "name=" of the part head that has one.
    const QByteArray fileHead = B +
                                "\r\nContent-Disposition: form-data; name=\"img\"; filename=\"img.raw\"\r\n"
                                "Content-Type: text/plain\r\n\r\nabc\r\n" +
                                B + "\r\n";
    QTest::newRow("name and filename: the filename's run")
        << QList<QByteArray>{message("HTTP/1.1 200 OK", "f", "multipart/form-data;boundary=" + B, fileHead)}
        << QStringList{"POST  id=f data:img.raw=abc"} << false;
    QByteArray manyNames = B + "\r\n";
    for (int i = 0; i < 3000; ++i)
        manyNames += "Content-Disposition: form-data; name=\"n" + QByteArray::number(i) + "\"\r\n";
    manyNames += "Content-Type: text/plain\r\n\r\nv\r\n" + B + "\r\n";
    QTest::newRow("3000 name lines in one part head: the last")
        << QList<QByteArray>{message("HTTP/1.1 200 OK", "m", "multipart/form-data;boundary=" + B, manyNames)}
        << QStringList{"POST  id=m data:n2999=v"} << false;
    QTest::newRow("empty boundary") << QList<QByteArray>{message(
                                           "POST /m HTTP/1.1", "e",
                                           "multipart/form-data;boundary=", part("x", "text", "y"))}
                                    << QStringList{} << false;

    QTest::newRow("Content-Length -5 on POST dropped, on GET dispatched")
        << QList<QByteArray>{message("POST /n HTTP/1.1", "n", "application/json", "", "-5"),
                             message("GET /n HTTP/1.1", "n", "application/json", "", "-5")}
        << QStringList{"POST /n id=n"} << false;
    // The JSON parser's own nesting bound (1024) keeps a deep body off the stack of the socket thread.
    QTest::newRow("JSON nested 100,000 deep dropped")
        << QList<QByteArray>{message("POST /d HTTP/1.1", "d", "application/json",
                                     QByteArray(100000, '[') + QByteArray(100000, ']')),
                             message("POST /d HTTP/1.1", "e", "multipart/form-data;boundary=" + B,
                                     part("j", "application/json",
                                          QByteArray(100000, '[') + QByteArray(100000, ']')) +
                                         B + "\r\n")}
        << QStringList{"POST /d id=e"} << false;
    QTest::newRow("Content-Length 2147483647 closes")
        << QList<QByteArray>{message("POST /n HTTP/1.1", "n", "application/json", "{}", "2147483647"), ok}
        << QStringList{} << true;
    QTest::newRow("Content-Length beyond 32 bits closes")
        << QList<QByteArray>{message("POST /n HTTP/1.1", "n", "application/json", "{}", "99999999999")}
        << QStringList{} << true;
    QList<QByteArray> noBlank;
    for (int i = 0; i < 16; ++i)
        noBlank << QByteArray(65536, i % 2 ? '\r' : '\n');
    QTest::newRow("1 MB without a blank line closes") << noBlank << QStringList{} << true;
    QTest::newRow("oversize head closes")
        << QList<QByteArray>{"GET /h HTTP/1.1\r\nX: " + QByteArray(70000, 'x') + "\r\n\r\n"} << QStringList{}
        << true;
    // The head limit is 64 KiB before the blank line: a head of exactly that size is read, also when
    // the read ends inside its blank line; one byte more closes.
    const QByteArray start = "GET /h HTTP/1.1\r\nUser-Agent: h\r\nX: ";
    const QByteArray head64k = start + QByteArray(HttpLikeReceiver::kMaxHeadBytes - start.size(), 'x');
    QCOMPARE(head64k.size(), 65536);
    QTest::newRow("head of exactly 64 KiB read")
        << QList<QByteArray>{head64k + "\r\n\r\n"} << QStringList{"POST /h id=h"} << false;
    QTest::newRow("head of exactly 64 KiB, read cut inside its blank line")
        << QList<QByteArray>{head64k + "\r\n\r", "\n"} << QStringList{"POST /h id=h"} << false;
    QTest::newRow("head of 64 KiB and one byte closes")
        << QList<QByteArray>{head64k + "x\r\n\r\n"} << QStringList{} << true;
}

void TestTcpReceive::parsesOrDrops()
{
    QFETCH(QList<QByteArray>, reads);
    QFETCH(QStringList, messages);
    QFETCH(bool, failed);
    const Fed fed = feedReads(reads);
    QCOMPARE(fed.messages, messages);
    QCOMPARE(fed.failed, failed);
    // Whatever came, the receiver never held more than a head's limit plus one read.
    QVERIFY(fed.maxHeld <= HttpLikeReceiver::kMaxHeadBytes + 65536 + 100);
}

void TestTcpReceive::randomCutsGiveTheSameMessages()
{
    QStringList expected;
    const QByteArray stream = recordedStream(expected);
    QCOMPARE(feedReads({stream}).messages, expected);
    QRandomGenerator rng(20240607);
    for (int round = 0; round < 300; ++round) {
        const Fed fed = feedReads(randomCuts(stream, rng));
        QCOMPARE(fed.messages, expected);
    }
}

// The report link's bound: a reply body above 64 KiB is read past, never kept, and logged once; the
// replies around it still arrive, whatever the reads are cut like. Above the general limit the
// connection still ends.
void TestTcpReceive::boundedLinkDropsLargeBodiesAndGoesOn()
{
    const qint64 bound = 64 * 1024;
    auto reply = [](const QByteArray &id, int padding) {
        const QByteArray body =
            "{\"result\":{\"cntserver\":true},\"pad\":\"" + QByteArray(padding, 'x') + "\"}";
        return message("HTTP/1.1 200 OK", id, "application/json", body);
    };
    const int fixed = int(QByteArray("{\"result\":{\"cntserver\":true},\"pad\":\"\"}").size());
    const QByteArray stream = reply("a", 10) + reply("big", 4 * 1024 * 1024) + reply("b", 10) +
                              reply("edge", int(bound) - fixed) + reply("over", int(bound) - fixed + 1) +
                              reply("c", 10);
    const QStringList expected{"a", "b", "edge", "c"};
    static QMutex logMutex;
    static QStringList logged;
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &m) {
            QMutexLocker lock(&logMutex);
            logged << m;
        });
    QRandomGenerator rng(20261208);
    for (int round = 0; round < 40; ++round) {
        logged.clear();
        HttpLikeReceiver receiver(7);
        receiver.setBodyBound(bound);
        QStringList ids;
        receiver.onComplete = [&](SCI_ExecObj_Recv &m) {
            if (m.parseBody())
                ids << m.toTask().uuid;
        };
        int dropped = 0;
        receiver.onDropped = [&dropped] { ++dropped; };
        qint64 maxHeld = 0;
        for (const QByteArray &read : round == 0 ? QList<QByteArray>{stream} : randomCuts(stream, rng)) {
            QVERIFY(receiver.feed(read));
            maxHeld = std::max(maxHeld, receiver.heldBytes());
        }
        QCOMPARE(ids, expected);
        QCOMPARE(dropped, 2);
        // The 4 MB body was never held: at most one read (below 128 KiB) beyond the bound at any time.
        QVERIFY2(maxHeld <= bound + 131072 + 4096, qPrintable(QString::number(maxHeld)));
        QCOMPARE(logged.filter("dropped").size(), 2);
    }
    qInstallMessageHandler(previous);

    HttpLikeReceiver receiver(8);
    receiver.setBodyBound(bound);
    QVERIFY(!receiver.feed(message("HTTP/1.1 200 OK", "huge", "application/json", "{}",
                                   QByteArray::number(HttpLikeReceiver::kMaxBodyBytes + 1))));
}

void TestTcpReceive::socketSessionReassemblesAndClosesOnAbuse()
{
    QStringList expected;
    const QByteArray stream = recordedStream(expected);
    TcpTestPair pair;
    QVERIFY(pair.open());
    pair.accepted->setParent(nullptr);
    std::unique_ptr<Session> session(new Session(nullptr, pair.accepted, 3));
    QStringList got;
    QObject::connect(session.get(), &Session::sigRequest,
                     [&](const CTask_FormData &t) { got << signature(t); });
    QObject::connect(session.get(), &Session::sigResponse_sync,
                     [&](const CTask_FormData &t) { got << signature(t); });
    QCOMPARE(session->peerAddress(), QString("127.0.0.1"));
    QRandomGenerator rng(7);
    QStringList all;
    for (int round = 0; round < 4; ++round) {
        for (const QByteArray &read : randomCuts(stream, rng)) {
            pair.client->write(read);
            pair.client->flush();
            QCoreApplication::processEvents();
        }
        all += expected;
        QVERIFY(waitUntil([&] { return got.size() >= all.size(); }));
    }
    QCOMPARE(got, all);

    // A peer that never ends its head is cut off once it passes the limit.
    for (int i = 0; i < 16 && pair.client->state() == QAbstractSocket::ConnectedState; ++i) {
        pair.client->write(QByteArray(65536, 'x'));
        pair.client->waitForBytesWritten(100);
        QCoreApplication::processEvents();
    }
    QVERIFY(waitUntil([&] { return pair.client->state() == QAbstractSocket::UnconnectedState; }));
    QCOMPARE(got, all);
}

QTEST_GUILESS_MAIN(TestTcpReceive)
#include "tst_tcpreceive.moc"

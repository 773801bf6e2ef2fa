// Parse throughput of the TCP receiving side: a session reading small JSON messages, and multipart
// messages carrying 1280 x 1024 x 3 pictures, from a loopback socket pair. Printed as ratios against a
// plain memcpy of the same bytes and against the same socket pair read without parsing, both measured
// in this run.

#include "ratioreporter.h"
#include "tcprecords.h"
#include "tcpsession.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {
constexpr int kJsonMessages = 2000;
constexpr int kPictures = 8;

struct Stream
{
    QByteArray bytes;
    int messages = 0;
};

Stream jsonStream()
{
    Stream s;
    for (int i = 0; i < kJsonMessages; ++i) {
        SCI_ExecObj_Send m;
        m.url = QStringLiteral("/smon2/camera/getparams");
        m.uuid = QStringLiteral("smartcam#20240607_153012_045_%1").arg(i);
        m.data.insert(QStringLiteral("body"),
                      QVariant::fromValue(QJsonObject{{"exposure", i}, {"gain", 3}}));
        const QByteArray body = m.jsonRequestBody();
        s.bytes += m.headBytes("application/json", body.size()) + body;
        ++s.messages;
    }
    return s;
}

Stream pictureStream()
{
    Stream s;
    cv::Mat frame(1024, 1280, CV_8UC3);
    cv::randu(frame, 0, 256);
    for (int i = 0; i < kPictures; ++i) {
        SCI_ExecObj_Send m;
        m.uuid = QStringLiteral("pic%1").arg(i);
        m.images.insert(QStringLiteral("frame"), frame);
        QByteArray body;
        for (const QByteArray &piece : m.multipartPieces())
            body += piece;
        s.bytes += m.headBytes("multipart/form-data;boundary=" + kMultipartBoundary, body.size()) + body;
        ++s.messages;
    }
    return s;
}

const Stream &streamFor(int kind)
{
    static const Stream json = jsonStream();
    static const Stream pictures = pictureStream();
    return kind == 0 ? json : pictures;
}

// A loopback pair kept for a whole benchmark; the reading side runs in this thread.
struct Pair
{
    QTcpServer server;
    QTcpSocket client;
    QTcpSocket *accepted = nullptr;
    bool open()
    {
        if (!server.listen(QHostAddress::LocalHost, 0))
            return false;
        client.connectToHost(QHostAddress::LocalHost, server.serverPort());
        if (!client.waitForConnected(5000) || !server.waitForNewConnection(5000))
            return false;
        accepted = server.nextPendingConnection();
        if (accepted)
            accepted->setParent(nullptr);
        return accepted != nullptr;
    }
};

void pumpUntil(const std::function<bool()> &done)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

void report(benchmark::State &state, const Stream &s)
{
    state.SetBytesProcessed(int64_t(state.iterations()) * s.bytes.size());
    state.SetItemsProcessed(int64_t(state.iterations()) * s.messages);
}

void BM_Memcpy(benchmark::State &state)
{
    const Stream &s = streamFor(int(state.range(0)));
    std::vector<char> target(size_t(s.bytes.size()));
    for (auto _ : state) {
        std::memcpy(target.data(), s.bytes.constData(), target.size());
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    report(state, s);
}

void BM_SocketOnly(benchmark::State &state)
{
    const Stream &s = streamFor(int(state.range(0)));
    Pair pair;
    if (!pair.open()) {
        state.SkipWithError("no loopback pair");
        return;
    }
    qint64 got = 0;
    QObject::connect(pair.accepted, &QIODevice::readyRead, [&] { got += pair.accepted->readAll().size(); });
    for (auto _ : state) {
        got = 0;
        pair.client.write(s.bytes);
        pumpUntil([&] { return got >= s.bytes.size(); });
    }
    report(state, s);
    delete pair.accepted;
}

void BM_SocketAndParse(benchmark::State &state)
{
    const Stream &s = streamFor(int(state.range(0)));
    Pair pair;
    if (!pair.open()) {
        state.SkipWithError("no loopback pair");
        return;
    }
    Session session(nullptr, pair.accepted, 1);
    int messages = 0;
    QObject::connect(&session, &Session::sigRequest, [&] { ++messages; });
    QObject::connect(&session, &Session::sigResponse_sync, [&] { ++messages; });
    for (auto _ : state) {
        messages = 0;
        pair.client.write(s.bytes);
        pumpUntil([&] { return messages >= s.messages; });
        if (messages != s.messages)
            state.SkipWithError("messages lost");
    }
    report(state, s);
}

BENCHMARK(BM_Memcpy)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SocketOnly)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SocketAndParse)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    registerTcpMetaTypes();
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (int kind = 0; kind < 2; ++kind) {
        const Stream &s = streamFor(kind);
        const std::string arg = "/" + std::to_string(kind);
        const double parse = reporter.seconds("BM_SocketAndParse" + arg);
        if (parse > 0)
            std::printf("%s: %.1f MB/s, %.0f messages/s through socket and parser\n",
                        kind == 0 ? "small JSON messages" : "1280x1024x3 multipart pictures",
                        s.bytes.size() / parse / 1e6, s.messages / parse);
        reporter.printCost("BM_SocketAndParse" + arg, "BM_Memcpy" + arg);
        reporter.printCost("BM_SocketAndParse" + arg, "BM_SocketOnly" + arg);
    }
    benchmark::Shutdown();
    return 0;
}

// The sending side of a session: a SCI_ExecObj_Send turned into the bytes of one HTTP-like message and
// written to its socket. The peers parse these bytes with their own code, so the head lines, their
// order and the multipart layout are a contract that must not drift.

#include "clock.h"
#include "mutexlocker.h"
#include "logmanager.h"
#include "networklog.h"
#include "tcprecords.h"

#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <algorithm>

namespace {
constexpr qint64 kChunk = 0x10000;
// A piece of a multipart message must leave within this. The ThreadSanitizer build (tests only) allows
// five times as long: there a 16-Mi-pixel picture's read on the other side takes seconds on a busy machine.
#ifdef MG_THREAD_SANITIZER
constexpr int kPieceTimeoutMs = 5 * 1000;
#else
constexpr int kPieceTimeoutMs = 1000;
#endif
constexpr int kFileTimeoutMs = 30000;

const QByteArray kJsonType = QByteArrayLiteral("application/json");
const QByteArray kOctetType = QByteArrayLiteral("application/octet-stream");

QJsonObject toJsonObject(const QVariant &value)
{
    if (value.userType() == QMetaType::QJsonObject)
        return value.toJsonObject();
    if (value.userType() == QMetaType::QVariantMap)
        return QJsonObject::fromVariantMap(value.toMap());
    return QJsonObject();
}

QByteArray compact(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QByteArray partHead(const QString &name, const QByteArray &contentType)
{
    return kMultipartBoundary + "\r\nContent-Disposition: form-data; name=\"" + name.toUtf8() +
           "\"\r\nContent-Type: " + contentType + "\r\n\r\n";
}

bool isConnected(const QAbstractSocket *s)
{
    return s && s->state() == QAbstractSocket::ConnectedState;
}

// Image-send statistics of the whole process, reported every 100 image messages.
struct ImageSendStats
{
    QMutex mutex;
    double sum = 0;
    double longest = 0;
    double shortest = 0;
    int count = 0;
    qint64 lastReportMs = 0;
};

ImageSendStats &imageSendStats()
{
    static ImageSendStats stats;
    return stats;
}

void noteImageSend(double seconds)
{
    ImageSendStats &s = imageSendStats();
    MutexLocker lock(&s.mutex);
    const qint64 now = appMonotonicMs();
    if (s.count == 0)
        s.lastReportMs = now;
    s.sum += seconds;
    if (s.longest == 0 || seconds > s.longest)
        s.longest = seconds;
    if (s.shortest == 0 || seconds < s.shortest)
        s.shortest = seconds;
    s.count += 1;
    if (s.count % 100 != 0)
        return;
    // Several messages can go out within one millisecond tick: no division by a zero span.
    const double spanMs = double(now - s.lastReportMs);
    const double fps = spanMs > 0 ? 1000.0 / (spanMs / 100.0) : 0.0;
    s.lastReportMs = now;
    qCInfo(lcNetwork).noquote() << QStringLiteral("ImgSend_Report --send:(%1) --min/max:(%2 / %3) --fps:%4")
                                       .arg(s.sum / 100.0, 0, 'f', 3)
                                       .arg(s.longest, 0, 'f', 3)
                                       .arg(s.shortest, 0, 'f', 3)
                                       .arg(fps, 0, 'f', 3);
    s.sum = 0;
    s.longest = 0;
    s.shortest = 0;
}

// The pixels of an image as sent: 8-bit images only, rows back to back. Anything else is no image.
bool pixelBytes(const cv::Mat &image, cv::Mat &packed)
{
    if (image.empty() || image.depth() != CV_8U)
        return false;
    packed = image.isContinuous() ? image : image.clone();
    return true;
}
} // namespace

QByteArray SCI_ExecObj_Send::headBytes(const QByteArray &contentType, qint64 contentLength) const
{
    QByteArray head;
    if (url.isEmpty())
        head = QByteArrayLiteral("HTTP/1.1 200 OK\r\n");
    else
        head = method.toUtf8() + ' ' + url.toUtf8() + " HTTP/1.1\r\n";
    head += "User-Agent: " + uuid.toUtf8() + "\r\n";
    head += "Content-Type: " + contentType + "\r\n";
    head += "Content-Length: " + QByteArray::number(contentLength) + "\r\n\r\n";
    return head;
}

QByteArray SCI_ExecObj_Send::jsonResponseBody(int code, const QString &msg) const
{
    QJsonObject body{{QStringLiteral("code"), code}, {QStringLiteral("msg"), msg}};
    if (!data.isEmpty())
        body.insert(QStringLiteral("result"), toJsonObject(data.first()));
    return compact(body);
}

QByteArray SCI_ExecObj_Send::jsonRequestBody() const
{
    return compact(data.isEmpty() ? QJsonObject() : toJsonObject(data.first()));
}

QList<QByteArray> SCI_ExecObj_Send::multipartPieces() const
{
    QList<QByteArray> pieces;
    for (auto it = data.cbegin(); it != data.cend(); ++it) {
        if (it.value().userType() != QMetaType::QJsonObject)
            continue;
        pieces << partHead(it.key(), kJsonType) + compact(it.value().toJsonObject()) + "\r\n";
    }
    for (auto it = images.cbegin(); it != images.cend(); ++it) {
        cv::Mat packed;
        if (!pixelBytes(it.value(), packed))
            continue;
        const QJsonObject descriptor{{QStringLiteral("channels"), packed.channels()},
                                     {QStringLiteral("data_type"), QStringLiteral("data_type")},
                                     {QStringLiteral("datakey"), it.key()},
                                     {QStringLiteral("size_height"), packed.rows},
                                     {QStringLiteral("size_width"), packed.cols}};
        pieces << partHead(it.key() + QStringLiteral("-matinfo"), kJsonType) + compact(descriptor) + "\r\n" +
                      partHead(it.key(), kOctetType);
        // Shares the pixels while the message is written; the image outlives the pieces.
        pieces << QByteArray::fromRawData(reinterpret_cast<const char *>(packed.data),
                                          int(packed.total() * packed.elemSize()));
        if (packed.data != it.value().data)
            pieces.last() = QByteArray(pieces.last().constData(), pieces.last().size());
        pieces << QByteArrayLiteral("\r\n");
    }
    pieces << kMultipartBoundary + "\r\n";
    return pieces;
}

bool SCI_ExecObj_Send::sendOn(QAbstractSocket *target)
{
    socket = target;
    bool ok = true;
    switch (kind()) {
    case KindJson:
        if (url.isEmpty())
            buildJsonResponse(0, QStringLiteral("OK"));
        else
            buildJsonRequest();
        break;
    case KindImages: {
        const qint64 start = appMonotonicMs();
        ok = buildMultipart();
        noteImageSend(double(appMonotonicMs() - start) / 1000.0);
        break;
    }
    case KindFile: {
        const QString path = rawParts.firstKey();
        if ((path.isEmpty() && rawParts.first().isEmpty()) || !QFileInfo::exists(path)) {
            if (url.isEmpty())
                buildJsonResponse(1, QStringLiteral("未查询到需要获取的图片文件"));
        } else {
            ok = buildFileMessage();
        }
        break;
    }
    default:
        break;
    }
    socket = nullptr;
    return ok;
}

void SCI_ExecObj_Send::buildJsonResponse(int code, const QString &msg)
{
    const QByteArray body = jsonResponseBody(code, msg);
    if (isConnected(socket))
        socket->write(headBytes(kJsonType, body.size()) + body);
}

void SCI_ExecObj_Send::buildJsonRequest()
{
    const QByteArray body = jsonRequestBody();
    if (isConnected(socket))
        socket->write(headBytes(kJsonType, body.size()) + body);
}

bool SCI_ExecObj_Send::buildMultipart()
{
    const QList<QByteArray> pieces = multipartPieces();
    qint64 length = 0;
    for (const QByteArray &piece : pieces)
        length += piece.size();
    if (!isConnected(socket))
        return true;
    socket->write(headBytes("multipart/form-data;boundary=" + kMultipartBoundary, length));
    for (const QByteArray &piece : pieces) {
        if (!writeChunked(piece))
            return false;
    }
    return true;
}

bool SCI_ExecObj_Send::writeChunked(const QByteArray &piece)
{
    if (!isConnected(socket))
        return false;
    qint64 remaining = piece.size();
    qint64 offset = 0;
    bool failed = false;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    // Keeps about two chunks queued in the socket: enough to keep the line busy, never the whole piece.
    auto topUp = [&] {
        while (remaining > 0 && socket->bytesToWrite() < 2 * kChunk) {
            const qint64 n = std::min(remaining, kChunk);
            const qint64 accepted = socket->write(piece.constData() + offset, n);
            if (accepted <= 0) {
                failed = true;
                loop.quit();
                return;
            }
            offset += accepted;
            remaining -= accepted;
        }
    };
    const auto written = QObject::connect(socket, &QAbstractSocket::bytesWritten, &loop, [&] {
        topUp();
        if (remaining == 0)
            loop.quit();
    });
    const auto gone = QObject::connect(socket, &QAbstractSocket::disconnected, &loop, [&] {
        failed = true;
        loop.quit();
    });
    timer.start(kPieceTimeoutMs);
    topUp();
    if (!failed && remaining > 0)
        loop.exec();
    timer.stop();
    QObject::disconnect(written);
    QObject::disconnect(gone);
    if (failed || remaining > 0) {
        // The peer has been promised Content-Length bytes: the rest of a broken message would be read
        // as the start of the next one. Only a new connection starts clean.
        // Peers on ever new addresses escape the log's repeat rule.
        thread_local LogLineLimit slowPeerLines(20);
        if (slowPeerLines.allowAfterCount(lcNetwork(), "multipart piece not sent in time:"))
            qCWarning(lcNetwork) << "multipart piece not sent in time, closing connection to"
                                 << socket->peerAddress();
        socket->abort();
        return false;
    }
    return true;
}

bool SCI_ExecObj_Send::buildFileMessage()
{
    QFile file(rawParts.firstKey());
    if (!file.open(QIODevice::ReadOnly))
        return true;
    const qint64 size = file.size();
    const QByteArray head = headBytes(kOctetType, size);
    if (!isConnected(socket))
        return true;
    qint64 remaining = size;
    bool failed = false;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    const auto written = QObject::connect(socket, &QAbstractSocket::bytesWritten, &loop, [&] {
        if (remaining <= 0) {
            loop.quit();
            return;
        }
        const QByteArray chunk = file.read(std::min(remaining, kChunk));
        // A file cut short while it is sent would break the announced length just the same.
        if (chunk.isEmpty() || socket->write(chunk) != chunk.size()) {
            failed = true;
            loop.quit();
            return;
        }
        remaining -= chunk.size();
    });
    const auto gone = QObject::connect(socket, &QAbstractSocket::disconnected, &loop, [&] {
        failed = true;
        loop.quit();
    });
    timer.start(kFileTimeoutMs);
    if (socket->write(head) != head.size())
        failed = true;
    else
        loop.exec();
    timer.stop();
    QObject::disconnect(written);
    QObject::disconnect(gone);
    file.close();
    if (failed || remaining > 0) {
        thread_local LogLineLimit slowPeerLines(20);
        if (slowPeerLines.allowAfterCount(lcNetwork(), "file body not sent in time:"))
            qCWarning(lcNetwork) << "file body not sent in time, closing connection to"
                                 << socket->peerAddress();
        socket->abort();
        return false;
    }
    return true;
}

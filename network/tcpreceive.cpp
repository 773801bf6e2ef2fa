#include "tcpreceive.h"
#include "imagesize.h"
#include "logmanager.h"
#include "networklog.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <algorithm>
#include <cstring>

namespace {
const QByteArray kHttp11 = QByteArrayLiteral("HTTP/1.1");
const QByteArray kBlankLine = QByteArrayLiteral("\r\n\r\n");

QString utf8UpToNul(const char *data, int size)
{
    const void *nul = std::memchr(data, 0, size_t(size));
    return QString::fromUtf8(data, nul ? int(static_cast<const char *>(nul) - data) : size);
}

// "Name: value" as the peers write it: fields split at ':' (empty ones dropped), all after the first
// joined again, so values holding ':' survive. Null when the line has no value.
QString headerValue(const QString &line)
{
    const QStringList fields = line.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    if (fields.size() < 2)
        return QString();
    return fields.mid(1).join(QLatin1Char(':'));
}
} // namespace

SCI_ExecObj_Recv_Base::SCI_ExecObj_Recv_Base(const QByteArray &head, int sessionId)
    : m_sessionId(sessionId), m_headText(utf8UpToNul(head.constData(), head.size()))
{
}

void SCI_ExecObj_Recv_Base::appendData(const QByteArray &bytes)
{
    m_body.append(bytes);
}

QByteArray SCI_ExecObj_Recv_Base::bodyData() const
{
    return m_body;
}

QString SCI_ExecObj_Recv_Base::headText() const
{
    return m_headText;
}

SCI_ExecObj_Recv::SCI_ExecObj_Recv(const QByteArray &head, int sessionId)
    : SCI_ExecObj_Recv_Base(head, sessionId)
{
    const QStringList lines = m_headText.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    for (const QString &line : lines) {
        if (line.contains(QLatin1String("HTTP/1.1"))) {
            const QStringList fields = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
            if (line.startsWith(QLatin1String("HTTP/1.1"))) {
                method = QStringLiteral("Response");
            } else if (fields.size() >= 3) {
                method = fields.at(0);
                url = fields.at(1);
            }
        }
        if (line.contains(QLatin1String("User-Agent"))) {
            const QString value = headerValue(line);
            if (!value.isNull())
                messageId = QString(value).remove(QLatin1Char(' '));
        }
        if (line.contains(QLatin1String("Content-Type"))) {
            const QString value = headerValue(line);
            if (!value.isNull())
                contentType = value;
        }
        if (line.contains(QLatin1String("Content-Length"))) {
            const QString value = headerValue(line);
            if (!value.isNull()) {
                bool ok = false;
                const qint64 n = value.trimmed().toLongLong(&ok);
                contentLength = ok ? n : 0;
            }
        }
    }
    task.url = url;
    task.uuid = messageId;
    task.sessionId = sessionId;
}

qint64 SCI_ExecObj_Recv::bytesRemaining() const
{
    return contentLength - m_body.size();
}

CTask_FormData SCI_ExecObj_Recv::toTask() const
{
    return task;
}

bool SCI_ExecObj_Recv::parseBody()
{
    if (bytesRemaining() >= 1)
        return false;
    if ((method == QLatin1String("GET") || method == QLatin1String("PUT")) && !url.isEmpty())
        return true;
    if (!((method == QLatin1String("POST") && !url.isEmpty()) || method == QLatin1String("Response")))
        return false;
    if (contentType.contains(QLatin1String("application/json")))
        return parseJsonBody(m_body, task);
    if (contentType.contains(QLatin1String("multipart/form-data"))) {
        const int eq = contentType.indexOf(QLatin1Char('='));
        if (eq < 0)
            return false;
        const QByteArray boundary = contentType.mid(eq + 1).toUtf8();
        // An empty boundary would cut the body into nothing but empty parts.
        if (boundary.isEmpty())
            return false;
        return parseMultipart(m_body, boundary, task);
    }
    if (contentType.contains(QLatin1String("application/octet-stream")))
        return parseOctetBody(m_body, task);
    return false;
}

bool SCI_ExecObj_Recv::parseJsonBody(const QByteArray &body, CTask_FormData &out)
{
    const QJsonDocument doc = QJsonDocument::fromJson(body);
    if (doc.isNull())
        return false;
    out.data.insert(QStringLiteral("body"),
                    QVariant::fromValue(doc.isObject() ? doc.object() : QJsonObject()));
    return true;
}

bool SCI_ExecObj_Recv::parseOctetBody(const QByteArray &body, CTask_FormData &out)
{
    out.rawParts.clear();
    out.rawParts.insert(QString(), body);
    return true;
}

bool SCI_ExecObj_Recv::parseMultipart(const QByteArray &body, const QByteArray &boundary,
                                      CTask_FormData &out)
{
    // The part name is taken from the part's head only: pixel data behind it can hold any text.
    static thread_local const QRegularExpression nameRx(
        QRegularExpression::anchoredPattern(QStringLiteral(".*name=\"(\\S+)\".*")),
        QRegularExpression::DotMatchesEverythingOption);
    QMap<QString, QJsonValue> jsonParts;
    QMap<QString, QByteArray> rawParts;
    int pos = 0;
    while (pos < body.size()) {
        const int at = body.indexOf(boundary, pos);
        if (at < 0)
            break;
        const QByteArray chunk = QByteArray::fromRawData(body.constData() + pos, at - pos);
        pos = at + boundary.size() + 2;
        const int headEnd = chunk.indexOf(kBlankLine);
        if (chunk.isEmpty() || headEnd < 0)
            continue;
        const QString partHead = QString::fromUtf8(chunk.constData(), headEnd);
        const int dataStart = headEnd + 4;
        const int dataSize = std::max(0, chunk.size() - dataStart - 2);
        const QByteArray partData = QByteArray::fromRawData(chunk.constData() + dataStart, dataSize);
        QString name, type;
        // The expression reads the whole part head, so its answer is the same for every
        // "Content-Disposition" line: it runs once per part, not once per line, or a head of many such
        // lines would cost the square of its size.
        bool nameSearched = false;
        for (const QString &line : partHead.split(QStringLiteral("\r\n"))) {
            if (line.contains(QLatin1String("Content-Disposition"))) {
                if (nameSearched)
                    continue;
                nameSearched = true;
                const QRegularExpressionMatch m = nameRx.match(utf8UpToNul(chunk.constData(), headEnd));
                if (m.hasMatch())
                    name = m.captured(1);
            } else if (line.contains(QLatin1String("Content-Type"))) {
                const QStringList fields = line.split(QLatin1Char(':'));
                if (fields.size() == 2)
                    type = fields.at(1);
            }
        }
        if (name.isEmpty())
            continue;
        if (type.contains(QLatin1String("application/json"))) {
            const QJsonDocument doc = QJsonDocument::fromJson(partData);
            if (!doc.isNull())
                jsonParts.insert(name, doc.isObject() ? doc.object() : QJsonObject());
        } else if (type.contains(QLatin1String("application/octet-stream"))) {
            rawParts.insert(name, partData);
        } else {
            jsonParts.insert(name, utf8UpToNul(partData.constData(), partData.size()));
        }
    }
    for (auto it = jsonParts.cbegin(); it != jsonParts.cend(); ++it) {
        const QJsonObject descriptor = it.value().toObject();
        if (!it.value().isObject() || !descriptor.contains(QLatin1String("data_type")) ||
            !it.key().contains(QLatin1String("-matinfo"))) {
            out.data.insert(it.key(), it.value().isObject() ? QVariant::fromValue(descriptor)
                                                            : QVariant(it.value().toString()));
            continue;
        }
        const int channels = descriptor.value(QLatin1String("channels")).toInt();
        const int width = descriptor.value(QLatin1String("size_width")).toInt();
        const int height = descriptor.value(QLatin1String("size_height")).toInt();
        const QString key = descriptor.value(QLatin1String("datakey")).toString();
        const auto raw = rawParts.constFind(key);
        // Only layouts the camera side sends; a four-channel picture gives the three-channel image
        // of its first width x height x 3 bytes.
        if (raw == rawParts.cend() || (channels != 1 && channels != 3 && channels != 4) || width <= 0 ||
            height <= 0 || qint64(width) * height * channels != raw.value().size())
            continue;
        // One channel may be an NV21 picture, whose descriptor has 1.5 x the rows of the picture it
        // stands for; which layout it is, is decided where the picture is used.
        const qint64 pixelBound = channels == 1 ? kMaxPicturePixels * 3 / 2 : kMaxPicturePixels;
        if (qint64(width) * height > pixelBound) {
            // Sizes that differ every time escape the log's repeat rule.
            thread_local LogLineLimit refusedLines(20);
            if (refusedLines.allowAfterCount(lcNetwork(), "picture refused:"))
                qCWarning(lcNetwork) << "picture" << it.key() << "of" << width << "x" << height
                                     << "refused: over" << pixelBound << "pixels";
            continue;
        }
        cv::Mat image(height, width, channels == 1 ? CV_8UC1 : CV_8UC3);
        std::memcpy(image.data, raw.value().constData(), image.total() * image.elemSize());
        out.images.insert(it.key(), image);
    }
    return true;
}

HttpLikeReceiver::HttpLikeReceiver(int sessionId) : m_sessionId(sessionId) {}

qint64 HttpLikeReceiver::heldBytes() const
{
    return qint64(m_buffer.size() - m_pos) + (m_current ? m_current->bodyData().size() : 0);
}

void HttpLikeReceiver::notice(const char *slot, const QVariantList &args)
{
    if (onTiming && m_current)
        onTiming(m_current->messageId, slot, args);
}

bool HttpLikeReceiver::feed(const char *data, int size)
{
    if (m_failed)
        return false;
    bool countedThisRead = false;
    // A dropped message's body is read past without being kept.
    if (m_skipRemaining > 0 && m_pos == m_buffer.size() && size > 0) {
        const int n = int(std::min<qint64>(m_skipRemaining, size));
        m_skipRemaining -= n;
        data += n;
        size -= n;
    }
    // Body bytes go straight into the message when nothing older is buffered: one copy, not two.
    if (m_current && m_pos == m_buffer.size() && m_current->bytesRemaining() > 0 && size > 0) {
        const int n = int(std::min<qint64>(m_current->bytesRemaining(), size));
        notice("tskup_recv_times");
        countedThisRead = true;
        m_current->appendData(data, n);
        data += n;
        size -= n;
    }
    if (size > 0)
        m_buffer.append(data, size);
    while (!m_failed && step(countedThisRead)) {
    }
    if (m_failed) {
        m_buffer.clear();
        m_current.reset();
        m_pos = m_headScanFrom = 0;
        return false;
    }
    // Drop consumed bytes once they are the larger part, so a busy link never shifts its buffer per message.
    if (m_pos == m_buffer.size()) {
        m_buffer.clear();
        m_pos = m_headScanFrom = 0;
    } else if (m_pos > m_buffer.size() / 2) {
        m_buffer.remove(0, m_pos);
        m_headScanFrom = std::max(0, m_headScanFrom - m_pos);
        m_pos = 0;
    }
    return true;
}

void HttpLikeReceiver::moveBody()
{
    const qint64 buffered = m_buffer.size() - m_pos;
    const int n = int(std::min(m_current->bytesRemaining(), buffered));
    if (n <= 0)
        return;
    m_current->appendData(m_buffer.constData() + m_pos, n);
    m_pos += n;
}

bool HttpLikeReceiver::skipBody()
{
    const int n = int(std::min<qint64>(m_skipRemaining, m_buffer.size() - m_pos));
    m_pos += n;
    m_skipRemaining -= n;
    return m_skipRemaining == 0;
}

bool HttpLikeReceiver::step(bool &countedThisRead)
{
    if (m_skipRemaining > 0 && !skipBody())
        return false;
    if (!m_current) {
        const int end = m_buffer.indexOf(kBlankLine, std::max(m_pos, m_headScanFrom));
        if (end < 0) {
            m_headScanFrom = std::max(m_pos, m_buffer.size() - 3);
            // Up to three bytes of the blank line may already be here behind a head at the limit.
            if (m_buffer.size() - m_pos > kMaxHeadBytes + 3)
                m_failed = true;
            return false;
        }
        if (end - m_pos > kMaxHeadBytes) {
            m_failed = true;
            return false;
        }
        QByteArray head(m_buffer.constData() + m_pos, end - m_pos);
        m_pos = end + 4;
        m_headScanFrom = m_pos;
        // Stray lines before the start line are skipped; the start line must end in "\r\n".
        int lineStart = 0;
        for (;;) {
            const int eol = head.indexOf("\r\n", lineStart);
            if (eol < 0)
                return true; // no start line: the head is forgotten, the next one may follow
            if (QByteArray::fromRawData(head.constData() + lineStart, eol - lineStart).contains(kHttp11))
                break;
            lineStart = eol + 2;
        }
        head.remove(0, lineStart);
        m_current = std::make_shared<SCI_ExecObj_Recv>(head, m_sessionId);
        if (m_current->contentLength > kMaxBodyBytes) {
            m_failed = true;
            return false;
        }
        if (m_current->contentLength > m_bodyBound) {
            // One text for every such message, so the log's repeat rule counts a flood of them.
            qCWarning(lcNetwork) << "message with a body over" << m_bodyBound << "bytes dropped";
            m_skipRemaining = m_current->contentLength;
            m_current.reset();
            if (onDropped)
                onDropped();
            return true;
        }
        m_headSeen = true;
        notice("tskup_firstrecv_timing");
        notice("tskup_chg_recvpacklength", {int(m_current->contentLength)});
        countedThisRead = true;
        if (m_current->bytesRemaining() > 0) {
            m_current->reserveBody(int(std::min<qint64>(m_current->contentLength, 8 * 1024 * 1024)));
            moveBody();
        }
    } else if (m_current->bytesRemaining() > 0 && m_pos < m_buffer.size()) {
        if (!countedThisRead)
            notice("tskup_recv_times");
        countedThisRead = true;
        moveBody();
    }
    if (m_current && m_current->bytesRemaining() <= 0) {
        notice("tskup_finishrecv_timing");
        const std::shared_ptr<SCI_ExecObj_Recv> done = std::move(m_current);
        m_current.reset();
        m_headSeen = false;
        if (onComplete)
            onComplete(*done);
        return true;
    }
    return false;
}

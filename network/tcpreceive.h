#pragma once
// The receiving side of a TCP session: bytes from a hostile LAN peer turned into complete HTTP-like
// messages (SCI_ExecObj_Recv) and parsed into CTask_FormData records. HttpLikeReceiver holds the
// receive state of one connection without any socket, so the parser can be fed from a byte buffer
// (fuzzing, benchmarks) exactly as the session feeds it from its socket.
//
// Threads: one object belongs to one thread at a time (the session's socket thread); nothing is shared.

#include "tcprecords.h"

#include <QJsonValue>

#include <algorithm>
#include <functional>
#include <memory>

// A received message: its head text and body, with the parse left to the concrete kind.
class SCI_ExecObj_Recv_Base
{
public:
    SCI_ExecObj_Recv_Base(const QByteArray &head, int sessionId);
    virtual ~SCI_ExecObj_Recv_Base() = default;

    virtual void appendData(const QByteArray &bytes);
    virtual QByteArray bodyData() const;
    virtual QString headText() const;
    virtual qint64 bytesRemaining() const = 0;
    virtual bool parseBody() = 0;
    virtual CTask_FormData toTask() const = 0;

    void appendData(const char *bytes, int size) { m_body.append(bytes, size); }
    void reserveBody(int size) { m_body.reserve(size); }

protected:
    int m_sessionId;
    QString m_headText;
    QByteArray m_body;
};

// A received HTTP-like message: head fields parsed at construction, body parsed once complete.
class SCI_ExecObj_Recv : public SCI_ExecObj_Recv_Base
{
public:
    // `head` begins with the start line and ends before the blank line.
    SCI_ExecObj_Recv(const QByteArray &head, int sessionId);

    qint64 bytesRemaining() const override;
    // Fills the task from the body; false drops the message (wrong method, unknown type, bad JSON).
    bool parseBody() override;
    CTask_FormData toTask() const override;

    bool parseJsonBody(const QByteArray &body, CTask_FormData &out);
    bool parseMultipart(const QByteArray &body, const QByteArray &boundary, CTask_FormData &out);
    bool parseOctetBody(const QByteArray &body, CTask_FormData &out);

    QString method;
    QString url;
    QString messageId;
    QString contentType;
    // As announced; negative values count as an empty body, oversize ones are refused by the receiver.
    qint64 contentLength = 0;
    CTask_FormData task;
};

// Receive state of one connection: the bytes not yet consumed, the message being received, and the
// limits that keep a hostile peer from growing memory without end.
class HttpLikeReceiver
{
public:
    // A head (the bytes before its blank line) of up to this size is read; a longer one closes.
    static constexpr int kMaxHeadBytes = 64 * 1024;
    // Above the largest camera frame (2592 x 2048 x 4 bytes) with room for its descriptor parts.
    static constexpr qint64 kMaxBodyBytes = 64 * 1024 * 1024;

    explicit HttpLikeReceiver(int sessionId);

    // A link whose messages are small (the report link's replies) takes a lower bound: a message whose
    // body is announced above it is read past and dropped, with one log line, and the connection
    // stays. Bodies above kMaxBodyBytes still end the connection. Set before the first feed.
    void setBodyBound(qint64 bytes) { m_bodyBound = std::min(bytes, kMaxBodyBytes); }
    qint64 bodyBound() const { return m_bodyBound; }

    // Timing notice for the message id: a TcpTsk_Info slot name and its arguments.
    std::function<void(const QString &id, const char *slot, const QVariantList &args)> onTiming;
    // A message whose body is complete (the session's dispatch; parse it there).
    std::function<void(SCI_ExecObj_Recv &message)> onComplete;
    // A message dropped for its size: the peer is still there, only saying too much.
    std::function<void()> onDropped;

    // One read's bytes: every head and body now complete is handled, however many are buffered.
    // False once the peer broke a limit; the connection must then be closed and later bytes are ignored.
    bool feed(const char *data, int size);
    bool feed(const QByteArray &bytes) { return feed(bytes.constData(), bytes.size()); }

    bool failed() const { return m_failed; }
    bool headSeen() const { return m_headSeen; }
    // Bytes held by the receiver (buffer and body so far), to check that memory stays bounded.
    qint64 heldBytes() const;

private:
    bool step(bool &countedThisRead);
    void moveBody();
    // Consumes buffered bytes of a message being dropped; true once all of it has gone.
    bool skipBody();
    void notice(const char *slot, const QVariantList &args = {});

    int m_sessionId;
    QByteArray m_buffer;
    int m_pos = 0;          // first unconsumed byte of m_buffer
    int m_headScanFrom = 0; // where the search for the blank line goes on after a partial head
    std::shared_ptr<SCI_ExecObj_Recv> m_current;
    bool m_headSeen = false;
    bool m_failed = false;
    qint64 m_bodyBound = kMaxBodyBytes;
    qint64 m_skipRemaining = 0; // body bytes of a dropped message still to come
};

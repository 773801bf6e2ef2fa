#pragma once
// The value records every TCP message of the box travels in: the timing record of one request
// (TcpTsk_Info), the message itself (CTask_FormData) and the form handed to a session for writing
// (SCI_ExecObj_Send), plus the message-id rules shared by the reactor and the sessions.
//
// Threads: the records are values; any thread may build, copy and read its own copy. The writers of
// SCI_ExecObj_Send (tcpsend.cpp) run only in the thread of the socket they write to.

#include <QAbstractSocket>
#include <QByteArray>
#include <QList>
#include <QMap>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

#include <opencv2/core.hpp>

// Follows one request from its registration to the hand-back of its reply. A QObject so that the
// receiving side can update it through its slots by name, yet copied like a value: a copy is always a
// fresh parentless object carrying the same fields. Times are wall-clock ms since the epoch, -1 = not yet.
class TcpTsk_Info : public QObject
{
    Q_OBJECT
public:
    TcpTsk_Info();
    explicit TcpTsk_Info(const QString &uuid);
    TcpTsk_Info(const TcpTsk_Info &other);
    TcpTsk_Info &operator=(const TcpTsk_Info &other);
    ~TcpTsk_Info() override = default;

    // "_tsk_url", "_tsk_uuid", "_tsk_recvpacklength" and the five "_tsk_*_timing"/"_tsk_recv_times"
    // numbers; the smart-camera image puller reads its statistics from this map.
    QVariantMap toVariantMap() const;

    QString url;
    qint64 create_timing = -1;
    qint64 firstrecv_timing = -1;
    qint64 finishrecv_timing = -1;
    qint64 finishact_timing = -1;
    qint64 recv_times = -1;
    QString uuid;
    qint32 recvpacklength = -1;

public slots:
    void tskup_firstrecv_timing();
    void tskup_recv_times();
    void tskup_finishrecv_timing();
    void tskup_chg_recvpacklength(QVariantList params);
    void tskup_finishact_timing();
};

// One HTTP-like request or response as it travels between the request front, the reactor and the
// sessions. An empty url makes it a response; sessionId is the target (-1 all, -2 none) when sending
// and the origin when received.
struct CTask_FormData
{
    QString method = QStringLiteral("POST");
    QString url;
    QString uuid;
    qint32 sessionId = -1;
    QMap<QString, QString> formFields;
    QVariantMap data;
    QMap<QString, cv::Mat> images;
    QMap<QString, QByteArray> rawParts;
    TcpTsk_Info taskInfo;
};

// A task as handed to a session for writing, with the socket it is being written to (set only while
// sendOn runs). The writers are in tcpsend.cpp; they run in the socket's thread.
class SCI_ExecObj_Send : public CTask_FormData
{
public:
    enum Kind
    {
        KindNothing = 0,
        KindJson = 1,
        KindImages = 2,
        KindFile = 3
    };

    SCI_ExecObj_Send() = default;
    explicit SCI_ExecObj_Send(const CTask_FormData &task) : CTask_FormData(task) {}

    // What the writer sends: JSON, images as multipart, one file, or nothing.
    int kind() const;

    // Writes the whole message to the socket (or nothing, when the socket is not connected). Returns
    // false when the connection had to be closed because a body could not be handed over in time.
    bool sendOn(QAbstractSocket *target);

    void buildJsonResponse(int code, const QString &msg);
    void buildJsonRequest();
    bool buildMultipart();
    bool buildFileMessage();
    // Hands one multipart piece to the socket in 64 KiB chunks within 1000 ms; false (and the
    // connection closed) when it could not.
    bool writeChunked(const QByteArray &piece);

    // The bytes the writers put on the wire, for the writers and for tests of the wire format.
    QByteArray headBytes(const QByteArray &contentType, qint64 contentLength) const;
    QByteArray jsonResponseBody(int code, const QString &msg) const;
    QByteArray jsonRequestBody() const;
    // Multipart body as the pieces writeChunked sends: per JSON value its part; per image the
    // descriptor part with the pixel part's head, the pixels, the "\r\n" behind them; the closing line.
    QList<QByteArray> multipartPieces() const;

    QAbstractSocket *socket = nullptr;
};

// The boundary of every multipart body the box writes.
extern const QByteArray kMultipartBoundary;

// Message id for the next outgoing task: "smartcam#yyyyMMdd_hhmmss_zzz_<n>", n counting from 1 in the
// whole process (any thread).
QString makeMessageId();

// Whether a received message id answers the request id: equal, or the request id appears inside it
// with no digit right behind (so "..._045_1" is not answered by "..._045_12").
bool messageIdMatches(const QString &received, const QString &requested);

// Registers "CTask_FormData", "SCI_ExecObj_Send" and "QAbstractSocket::SocketState" (any thread).
void registerTcpMetaTypes();

Q_DECLARE_METATYPE(CTask_FormData)
Q_DECLARE_METATYPE(SCI_ExecObj_Send)

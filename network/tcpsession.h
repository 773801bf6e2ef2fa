#pragma once
// One TCP connection inside a reactor: it turns the bytes read from its socket into messages for the
// reactor (through HttpLikeReceiver) and writes the messages queued for it, one whole message after
// the other.
//
// Threads: a session lives in its reactor's socket thread and everything it does runs there;
// SlotSendAction alone may be called from any thread (it then re-posts itself). The QThread base is
// the system's idle receive-queue worker (run), which nothing starts.

#include "tcpreceive.h"

#include <QList>
#include <QMutex>
#include <QSharedPointer>
#include <QThread>

#include <atomic>
#include <memory>

namespace QORC {
class TcpReactor;
}

class Session : public QThread
{
    Q_OBJECT
public:
    // `socket` is owned by the session from now on when it is a QAbstractSocket; any other object (or
    // none) gives a session without a socket. `reactor` receives the timing notices and may be null.
    Session(QORC::TcpReactor *reactor, QObject *socket, int sessionId);
    ~Session() override;

    int id() const { return m_sessionId; }
    QAbstractSocket *socket() const { return m_socket.data(); }
    // The peer's address, an IPv4-mapped address written as plain dotted IPv4.
    QString peerAddress() const { return m_peerAddress; }

    // Socket thread, before the first read: see HttpLikeReceiver::setBodyBound.
    void setBodyBound(qint64 bytes) { m_receiver.setBodyBound(bytes); }

    // Starts the receive-queue worker (sets the run flag).
    void start();

    // The receive step: everything readable is taken from the socket and every complete message is
    // dispatched. A peer that breaks the size limits is disconnected.
    void onReadyRead();
    // Hands one complete message to sigResponse_sync (no URL) or sigRequest; dropped when its body
    // does not parse.
    void dispatchMessage(SCI_ExecObj_Recv &message);

    // Ends the session: closes the connection and deletes the session once the message being written
    // (if any) is finished or cut. Socket thread only; calling it again does nothing.
    void closeAndDelete();
    bool isClosing() const { return m_closeRequested; }

signals:
    void sigResponse_sync(CTask_FormData obj);
    void sigRequest(CTask_FormData obj);

public slots:
    // Queues the message for writing; messages go out whole and in the order queued.
    void SlotSendAction(SCI_ExecObj_Send message);

protected:
    void run() override;

private:
    void drainSendQueue();

    int m_sessionId;
    std::atomic<bool> m_runFlag{false};
    QSharedPointer<QAbstractSocket> m_socket;
    QMutex m_queueMutex; // guards m_receivedQueue
    HttpLikeReceiver m_receiver;
    QList<std::shared_ptr<SCI_ExecObj_Recv>> m_receivedQueue;
    QString m_peerAddress;
    QORC::TcpReactor *m_reactor;

    // Socket thread only.
    QList<SCI_ExecObj_Send> m_sendQueue;
    bool m_writing = false;
    bool m_drainPosted = false;
    bool m_closeRequested = false;
};

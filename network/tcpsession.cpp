#include "tcpsession.h"

#include "mutexlocker.h"
#include "logmanager.h"
#include "networklog.h"
#include "queuedhandoff.h"
#include "tcpreactor.h"

#include <QPointer>

Session::Session(QORC::TcpReactor *reactor, QObject *socket, int sessionId)
    : m_sessionId(sessionId), m_receiver(sessionId), m_reactor(reactor)
{
    registerTcpMetaTypes();
    m_receiver.onTiming = [this](const QString &id, const char *slot, const QVariantList &args) {
        if (m_reactor)
            m_reactor->updateTaskTiming(id, QString::fromLatin1(slot), args);
    };
    m_receiver.onComplete = [this](SCI_ExecObj_Recv &message) { dispatchMessage(message); };
    // A dropped message is traffic all the same: the link is alive, not to be restarted.
    m_receiver.onDropped = [this] {
        if (m_reactor)
            m_reactor->touch();
    };
    auto *s = qobject_cast<QAbstractSocket *>(socket);
    if (!s)
        return;
    m_socket.reset(s);
    m_peerAddress = s->peerAddress().toString().remove(QStringLiteral("::ffff:"));
    connect(s, &QIODevice::readyRead, this, &Session::onReadyRead, Qt::DirectConnection);
}

Session::~Session()
{
    if (m_socket) {
        // Nothing of this half-destroyed session may run when the socket goes and reports its state.
        m_socket->disconnect(this);
        m_socket.reset();
    }
    {
        MutexLocker lock(&m_queueMutex);
        m_receivedQueue.clear();
    }
    while (isRunning()) {
        m_runFlag = false;
        wait(100);
    }
}

void Session::start()
{
    m_runFlag = true;
    QThread::start();
}

void Session::run()
{
    while (m_runFlag) {
        QThread::msleep(1);
        std::shared_ptr<SCI_ExecObj_Recv> message;
        {
            MutexLocker lock(&m_queueMutex);
            if (m_receivedQueue.isEmpty())
                break;
            message = m_receivedQueue.takeFirst();
        }
        if (message->parseBody()) {
            const CTask_FormData task = message->toTask();
            if (task.url.isEmpty())
                emit sigResponse_sync(task);
            else
                emit sigRequest(task);
        }
    }
    m_runFlag = false;
}

void Session::onReadyRead()
{
    if (!m_socket)
        return;
    const QByteArray bytes = m_socket->readAll();
    if (m_receiver.feed(bytes))
        return;
    // Peers on ever new addresses escape the log's repeat rule.
    thread_local LogLineLimit brokenLines(20);
    if (brokenLines.allowAfterCount(lcNetwork(), "message breaks the size limits:"))
        qCWarning(lcNetwork) << "message from" << m_peerAddress
                             << "breaks the size limits, closing connection";
    m_socket->abort();
}

void Session::dispatchMessage(SCI_ExecObj_Recv &message)
{
    if (!message.parseBody())
        return;
    const CTask_FormData task = message.toTask();
    if (task.url.isEmpty())
        emit sigResponse_sync(task);
    else
        emit sigRequest(task);
}

void Session::SlotSendAction(SCI_ExecObj_Send message)
{
    if (QThread::currentThread() != thread()) {
        releaseBeforeQueuedPost();
        QMetaObject::invokeMethod(this, "SlotSendAction", Qt::QueuedConnection,
                                  Q_ARG(SCI_ExecObj_Send, message));
        return;
    }
    if (m_closeRequested)
        return;
    m_sendQueue.append(message);
    // The write runs from the event loop, never inside the caller (which may be a read handler).
    if (!m_writing && !m_drainPosted) {
        m_drainPosted = true;
        QMetaObject::invokeMethod(
            this, [this] { drainSendQueue(); }, Qt::QueuedConnection);
    }
}

void Session::drainSendQueue()
{
    m_drainPosted = false;
    if (m_writing)
        return;
    // The writers spin event loops; a request to close meanwhile only marks the session.
    const QSharedPointer<QAbstractSocket> socket = m_socket;
    while (!m_sendQueue.isEmpty() && !m_closeRequested) {
        SCI_ExecObj_Send message = m_sendQueue.takeFirst();
        m_writing = true;
        const bool ok = message.sendOn(socket.data());
        m_writing = false;
        if (!ok)
            m_closeRequested = true;
    }
    if (m_closeRequested) {
        m_sendQueue.clear();
        deleteLater();
    }
}

void Session::closeAndDelete()
{
    if (m_closeRequested)
        return;
    m_closeRequested = true;
    if (m_writing) {
        // The writer sees the connection go, returns, and the drain deletes the session.
        if (m_socket)
            m_socket->abort();
        return;
    }
    deleteLater();
}

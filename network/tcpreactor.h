#pragma once
// The connection manager under every TCP link of the box: one reactor is one client connection
// (TcpCliReactor) or one listening server (TcpServReactor). It owns one socket thread in which every
// socket and Session of the reactor lives, gives outgoing messages their ids, routes them to one, all
// or no session, offers a blocking request with time-out and a non-blocking one, keeps the timing
// records of outstanding requests, and hands received traffic to its owner by signals.
//
// Threads:
// - the owner's thread (where the reactor was made): construction, destruction, the purge and sweep
//   timers;
// - the socket thread: open, close, the accept step, every socket and session; sigRequest,
//   sigResponse_sync and sigResponse_async are emitted there;
// - any thread but the reactor's own socket thread: start, stop, initialize (they block until the
//   socket thread has started or ended; one thread at a time per reactor);
// - any thread: requestSync (blocks in its own event loop), requestAsync, send,
//   sessions, hasLiveSession, lastActivity, touch, getTaskInfo, updateTaskTiming, removeSessions and
//   the task-registry calls.
// Locks: the sessions lock guards the session table, host and port, the socket-thread handles and (the
// server) the listener; the tasks lock guards both task registries. No code holds both. Other threads
// never touch a Session or socket: they see ids and flags only and post their work to the socket thread.

#include "tcprecords.h"

#include <QHostAddress>
#include <QMap>
#include <QMutex>
#include <QPointer>
#include <QSharedPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThreadPool>
#include <QTimer>

#include <atomic>
#include <future>
#include <memory>
#include <mutex>

class Session;

// The client's socket.
class CQTcpSocket : public QTcpSocket
{
    Q_OBJECT
public:
    explicit CQTcpSocket(QObject *parent = nullptr) : QTcpSocket(parent) {}
};

// The server's listener.
class CQTcpServer : public QTcpServer
{
    Q_OBJECT
public:
    explicit CQTcpServer(QObject *parent = nullptr);
    ~CQTcpServer() override;
signals:
    void sigNewDescriptor(qintptr socketDescriptor);
};

// Exists for the system's class list; nothing creates it.
class qor_debugreport : public QObject
{
    Q_OBJECT
};

namespace QORC {

// Wakes the socket thread for work other threads left in the reactor's outbox. A signal without
// arguments: the work itself travels under the sessions lock, not inside Qt's event queue.
class SocketThreadWake : public QObject
{
    Q_OBJECT
signals:
    void wake();
};

class TcpReactor : public QObject
{
    Q_OBJECT
public:
    TcpReactor();
    ~TcpReactor() override;

    // Stops a running socket thread, then connects (client) or listens (server) on host:port.
    virtual bool start(const QHostAddress &host, quint16 port);
    // Disconnects every receiver of sigResponse_sync and sigRequest (the owner then wires its own).
    virtual void disconnectOwnSignals();
    // Sends `request` (it receives its message id) and waits until a response whose id answers it
    // arrives (true, `response` filled) or timeoutMs (1 to 60000) passes (false). False at once, with
    // nothing sent, when no session is connected or the time-out is out of range.
    virtual bool requestSync(CTask_FormData &request, CTask_FormData &response, int timeoutMs);
    // Sends `request` (it receives its message id) and keeps its record for getTaskInfo; always true.
    virtual bool requestAsync(CTask_FormData &request);
    // Ids of the connected sessions, ascending.
    virtual QList<int> sessions();
    // appMonotonicMs() of the last traffic or connection; compare it with appMonotonicMs().
    virtual qint64 lastActivity();
    virtual bool isRunning() = 0;
    virtual bool open() = 0;
    virtual void close() = 0;
    // Starts the socket thread and returns whether open() succeeded there; false when running.
    virtual bool initialize();
    // Ends the socket thread (its sessions are deleted there) and waits for it.
    virtual void stop();
    // Asks the socket thread to end and waits for it at most waitMs: false when it still runs (busy
    // with a long piece of work); it then ends once that work is done.
    bool stopWithin(int waitMs);
    virtual void wireSession(Session *session);
    // Gives the task an id when it has none and writes it to its target: sessionId -1 every session,
    // -2 none, otherwise that session. The write happens later in the socket thread.
    virtual void send(CTask_FormData &task);
    virtual void touch();

    // Bound of one received message body on this reactor's sessions (HttpLikeReceiver::setBodyBound);
    // sessions made afterwards take it. Any thread.
    void setBodyBound(qint64 bytes) { m_bodyBound.store(bytes); }

    // Whether a session of the table still exists, connected or not.
    bool hasLiveSession();
    // The asynchronous registry's record for id.
    bool getTaskInfo(const QString &id, TcpTsk_Info &out);
    // Runs the named TcpTsk_Info slot on the waiting request's record that id answers.
    void updateTaskTiming(const QString &id, const QString &slotName, const QVariantList &args);
    // -1 every session, an id that session; entries of sessions already gone are dropped in any case.
    void removeSessions(int which);
    void addSession(Session *session);
    void registerSyncTask(const CTask_FormData &task);
    void registerAsyncTask(const CTask_FormData &task);
    bool hasSyncTask(const QString &id);
    TcpTsk_Info takeSyncTask(const QString &id);
    TcpTsk_Info takeAsyncTask(const QString &id);
    // The purge timer's work: records older than 60000 ms leave both registries.
    void purgeTaskRegistries();

signals:
    void sigResponse_sync(CTask_FormData obj);
    void sigResponse_async(CTask_FormData obj);
    void sigRequest(CTask_FormData obj);
    void readyToClose();

protected:
    struct SessionEntry
    {
        bool alive = true;
        bool connected = false;
    };
    struct RegisteredTask
    {
        TcpTsk_Info info;
        qint64 registeredMono = 0;
    };

    static int nextSessionId();
    QHostAddress host();
    quint16 port();
    bool onSocketThread();
    // Socket thread: makes a session for a connected socket and enters it in the table.
    void adoptSocket(QAbstractSocket *socket);
    // Socket thread, after the loop: deletes every session that is left, before the thread goes idle.
    void deleteAllSessions();

    QSharedPointer<QThreadPool> socketThreadPool_;
    QMutex m_sessionsLock;
    QMap<int, SessionEntry> m_sessions; // sessions lock

private:
    void socketThreadBody(std::promise<bool> &opened);
    // Work for the socket thread: close these sessions, or write the message to them.
    struct PostedWork
    {
        bool close = false;
        QList<int> ids;
        SCI_ExecObj_Send message;
    };
    // Sessions lock held; false when no socket thread runs.
    bool postToSocketThread(const PostedWork &work);
    void runPosted();
    void closeSessionsHere(const QList<int> &ids);
    void onSessionState(Session *session, int state);
    // Key of the sync registry that `id` answers (tasks lock held), or a null string.
    QString syncKeyFor(const QString &id) const;
    bool takeAnsweredSyncTask(const QString &id, TcpTsk_Info &out);

    bool m_socketThreadUp = false; // sessions lock
    QList<PostedWork> m_posted;    // sessions lock
    SocketThreadWake m_wake;
    QThread *m_socketThread = nullptr; // sessions lock
    QHostAddress m_host;               // sessions lock
    quint16 m_port = 0;                // sessions lock
    QMutex m_tasksLock;
    QMap<QString, RegisteredTask> m_syncTasks;  // tasks lock
    QMap<QString, RegisteredTask> m_asyncTasks; // tasks lock
    QTimer m_purgeTimer;
    QTimer m_sweepTimer;
    std::atomic<qint64> m_lastActivity{0};
    std::atomic<qint64> m_bodyBound{-1}; // -1: the receiver's own bound
    // Socket thread only.
    QMap<int, QPointer<Session>> m_socketSessions;
    QList<QPointer<Session>> m_allSessions;
};

class TcpCliReactor : public TcpReactor
{
    Q_OBJECT
public:
    TcpCliReactor() = default;
    ~TcpCliReactor() override;
    // As the base; a session that exists but lost its connection makes the client reconnect once.
    QList<int> sessions() override;
    bool isRunning() override;
    bool open() override;
    void close() override;

private:
    std::mutex m_restarting; // held by the one thread that reconnects from sessions()
};

class TcpServReactor : public TcpReactor
{
    Q_OBJECT
public:
    TcpServReactor() = default;
    ~TcpServReactor() override;
    bool isRunning() override;
    bool open() override;
    void close() override;

private:
    void acceptPending(CQTcpServer *server);

    QSharedPointer<CQTcpServer> m_server; // sessions lock; made and dropped in the socket thread
};

} // namespace QORC

#include "tcpreactor.h"

#include "clock.h"
#include "mutexlocker.h"
#include "networklog.h"
#include "queuedhandoff.h"
#include "tcpsession.h"

#include <QEventLoop>
#include <QThread>

namespace {
constexpr int kPurgeIntervalMs = 60001;
constexpr int kSweepIntervalMs = 10001;
constexpr qint64 kRecordLifetimeMs = 60000;
constexpr int kConnectWaitMs = 100;

// Session ids are unique in the whole process, across reactors and restarts.
std::atomic<int> gSessionCounter{0};
} // namespace

CQTcpServer::CQTcpServer(QObject *parent) : QTcpServer(parent)
{
    qCDebug(lcNetwork) << "create new CQTcpServer" << this;
}

CQTcpServer::~CQTcpServer()
{
    qCDebug(lcNetwork) << "~CQTcpSocket" << this;
}

namespace QORC {

TcpReactor::TcpReactor() : socketThreadPool_(new QThreadPool)
{
    registerTcpMetaTypes();
    trackQueuedHandoffs();
    socketThreadPool_->setMaxThreadCount(1);
    connect(&m_purgeTimer, &QTimer::timeout, this, &TcpReactor::purgeTaskRegistries, Qt::QueuedConnection);
    connect(
        &m_sweepTimer, &QTimer::timeout, this, [this] { removeSessions(-2); }, Qt::QueuedConnection);
    m_purgeTimer.start(kPurgeIntervalMs);
    m_sweepTimer.start(kSweepIntervalMs);
}

TcpReactor::~TcpReactor()
{
    m_purgeTimer.stop();
    m_sweepTimer.stop();
}

int TcpReactor::nextSessionId()
{
    return ++gSessionCounter;
}

QHostAddress TcpReactor::host()
{
    MutexLocker lock(&m_sessionsLock);
    return m_host;
}

quint16 TcpReactor::port()
{
    MutexLocker lock(&m_sessionsLock);
    return m_port;
}

bool TcpReactor::onSocketThread()
{
    MutexLocker lock(&m_sessionsLock);
    return m_socketThread && m_socketThread == QThread::currentThread();
}

bool TcpReactor::start(const QHostAddress &host, quint16 port)
{
    stop();
    {
        MutexLocker lock(&m_sessionsLock);
        m_host = host;
        m_port = port;
    }
    return initialize();
}

void TcpReactor::disconnectOwnSignals()
{
    disconnect(this, &TcpReactor::sigResponse_sync, nullptr, nullptr);
    disconnect(this, &TcpReactor::sigRequest, nullptr, nullptr);
}

bool TcpReactor::initialize()
{
    if (isRunning())
        return false;
    // Shared with the body, so the promise outlives its last use there whatever the caller does.
    auto opened = std::make_shared<std::promise<bool>>();
    std::future<bool> result = opened->get_future();
    socketThreadPool_->start([this, opened] { socketThreadBody(*opened); });
    return result.get();
}

void TcpReactor::socketThreadBody(std::promise<bool> &opened)
{
    QEventLoop loop;
    QObject context;
    {
        MutexLocker lock(&m_sessionsLock);
        m_socketThreadUp = true;
        m_socketThread = QThread::currentThread();
    }
    const auto quit =
        connect(this, &TcpReactor::readyToClose, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    const auto wake = connect(
        &m_wake, &SocketThreadWake::wake, &context, [this] { runPosted(); }, Qt::QueuedConnection);
    const bool ok = open();
    opened.set_value(ok);
    if (ok)
        loop.exec();
    disconnect(quit);
    disconnect(wake);
    if (ok)
        close();
    // Deferred deletions would wait for this pool thread's next loop: nothing may outlive the run.
    deleteAllSessions();
    MutexLocker lock(&m_sessionsLock);
    m_socketThreadUp = false;
    m_socketThread = nullptr;
    m_posted.clear();
}

bool TcpReactor::postToSocketThread(const PostedWork &work)
{
    if (!m_socketThreadUp)
        return false;
    m_posted.append(work);
    emit m_wake.wake();
    return true;
}

void TcpReactor::runPosted()
{
    QList<PostedWork> work;
    {
        MutexLocker lock(&m_sessionsLock);
        work.swap(m_posted);
    }
    for (const PostedWork &item : qAsConst(work)) {
        if (item.close) {
            closeSessionsHere(item.ids);
            continue;
        }
        for (const int id : item.ids) {
            const QPointer<Session> session = m_socketSessions.value(id);
            if (session)
                session->SlotSendAction(item.message);
        }
    }
}

void TcpReactor::stop()
{
    if (!isRunning())
        return;
    emit readyToClose();
    if (socketThreadPool_->activeThreadCount() > 0 && !socketThreadPool_->waitForDone())
        qCInfo(lcNetwork) << "socketThreadPool_->waitForDone error!";
}

bool TcpReactor::stopWithin(int waitMs)
{
    if (!isRunning())
        return true;
    emit readyToClose();
    return socketThreadPool_->waitForDone(waitMs);
}

void TcpReactor::adoptSocket(QAbstractSocket *socket)
{
    touch();
    auto *session = new Session(this, socket, nextSessionId());
    if (m_bodyBound.load() >= 0)
        session->setBodyBound(m_bodyBound.load());
    m_allSessions.append(session);
    m_socketSessions.insert(session->id(), session);
    wireSession(session);
    addSession(session);
}

void TcpReactor::deleteAllSessions()
{
    const QList<QPointer<Session>> all = m_allSessions;
    m_allSessions.clear();
    m_socketSessions.clear();
    for (const QPointer<Session> &session : all)
        delete session.data();
}

void TcpReactor::wireSession(Session *session)
{
    connect(
        session, &Session::sigRequest, this,
        [this](const CTask_FormData &obj) {
            const CTask_FormData copy = obj;
            touch();
            releaseBeforeQueuedPost();
            emit sigRequest(copy);
        },
        Qt::DirectConnection);
    connect(
        session, &Session::sigResponse_sync, this,
        [this](const CTask_FormData &obj) {
            CTask_FormData copy = obj;
            touch();
            TcpTsk_Info info;
            const bool answered = takeAnsweredSyncTask(copy.uuid, info);
            if (answered)
                copy.taskInfo = info;
            releaseBeforeQueuedPost();
            if (answered) {
                emit sigResponse_sync(copy);
            } else {
                emit sigResponse_async(copy);
            }
        },
        Qt::DirectConnection);
    const int id = session->id();
    connect(
        session, &QObject::destroyed, this,
        [this, id] {
            m_socketSessions.remove(id);
            MutexLocker lock(&m_sessionsLock);
            auto it = m_sessions.find(id);
            if (it != m_sessions.end())
                it->alive = false;
        },
        Qt::DirectConnection);
    if (QAbstractSocket *socket = session->socket()) {
        connect(
            socket, &QAbstractSocket::stateChanged, session,
            [this, session](QAbstractSocket::SocketState state) { onSessionState(session, state); },
            Qt::DirectConnection);
    }
}

void TcpReactor::onSessionState(Session *session, int state)
{
    {
        MutexLocker lock(&m_sessionsLock);
        auto it = m_sessions.find(session->id());
        if (it != m_sessions.end())
            it->connected = state == QAbstractSocket::ConnectedState;
    }
    // A connection can also end in the unconnected state without passing the closing state (abort).
    if (state == QAbstractSocket::ClosingState || state == QAbstractSocket::UnconnectedState)
        session->closeAndDelete();
}

void TcpReactor::addSession(Session *session)
{
    SessionEntry entry;
    entry.connected = session->socket() && session->socket()->state() == QAbstractSocket::ConnectedState;
    MutexLocker lock(&m_sessionsLock);
    m_sessions.insert(session->id(), entry);
}

void TcpReactor::removeSessions(int which)
{
    QList<int> toClose;
    const bool here = onSocketThread();
    {
        MutexLocker lock(&m_sessionsLock);
        for (const int key : m_sessions.keys()) {
            if (!m_sessions.value(key).alive) {
                m_sessions.remove(key);
            } else if (which == -1 || which == key) {
                m_sessions.remove(key);
                toClose << key;
            }
        }
        if (!here && !toClose.isEmpty())
            postToSocketThread({true, toClose, SCI_ExecObj_Send()});
    }
    if (here)
        closeSessionsHere(toClose);
}

void TcpReactor::closeSessionsHere(const QList<int> &ids)
{
    for (const int id : ids) {
        const QPointer<Session> session = m_socketSessions.take(id);
        if (session)
            session->closeAndDelete();
    }
}

void TcpReactor::send(CTask_FormData &task)
{
    if (task.uuid.isEmpty())
        task.uuid = makeMessageId();
    const SCI_ExecObj_Send message(task);
    QList<int> targets;
    MutexLocker lock(&m_sessionsLock);
    if (task.sessionId == -1) {
        for (auto it = m_sessions.cbegin(); it != m_sessions.cend(); ++it)
            if (it->alive)
                targets << it.key();
    } else if (task.sessionId != -2 && m_sessions.contains(task.sessionId) &&
               m_sessions.value(task.sessionId).alive) {
        targets << task.sessionId;
    }
    // Only a hand-over under the lock: the write itself runs later in the socket thread, through the
    // session's queue, so no lock is held while a message goes out.
    if (!targets.isEmpty())
        postToSocketThread({false, targets, message});
}

bool TcpReactor::requestSync(CTask_FormData &request, CTask_FormData &response, int timeoutMs)
{
    if (sessions().isEmpty())
        return false;
    if (timeoutMs < 1 || timeoutMs > 60000)
        return false;
    const qint64 started = appMonotonicMs();
    QEventLoop loop;
    QTimer::singleShot(timeoutMs, &loop, [&] {
        if (!loop.isRunning())
            return;
        loop.exit(0);
        qCDebug(lcNetwork).noquote() << "*timer timeout" << request.url << request.uuid
                                     << double(appMonotonicMs() - started) / 1000.0;
    });
    const auto answered = connect(
        this, &TcpReactor::sigResponse_sync, &loop,
        [&](const CTask_FormData &obj) {
            if (loop.isRunning() && messageIdMatches(obj.uuid, request.uuid)) {
                response = obj;
                loop.exit(1);
            }
        },
        Qt::QueuedConnection);
    if (request.uuid.isEmpty())
        request.uuid = makeMessageId();
    registerSyncTask(request);
    send(request);
    const int code = loop.exec();
    disconnect(answered);
    return code != 0;
}

bool TcpReactor::requestAsync(CTask_FormData &request)
{
    send(request);
    registerAsyncTask(request);
    return true;
}

QList<int> TcpReactor::sessions()
{
    QList<int> ids;
    MutexLocker lock(&m_sessionsLock);
    for (auto it = m_sessions.cbegin(); it != m_sessions.cend(); ++it)
        if (it->alive && it->connected)
            ids << it.key();
    return ids;
}

bool TcpReactor::hasLiveSession()
{
    MutexLocker lock(&m_sessionsLock);
    for (const SessionEntry &entry : qAsConst(m_sessions))
        if (entry.alive)
            return true;
    return false;
}

qint64 TcpReactor::lastActivity()
{
    return m_lastActivity.load();
}

void TcpReactor::touch()
{
    m_lastActivity.store(appMonotonicMs());
}

void TcpReactor::registerSyncTask(const CTask_FormData &task)
{
    if (task.uuid.isEmpty())
        return;
    RegisteredTask record{TcpTsk_Info(task.uuid), appMonotonicMs()};
    record.info.url = task.url;
    MutexLocker lock(&m_tasksLock);
    m_syncTasks.insert(task.uuid, record);
}

void TcpReactor::registerAsyncTask(const CTask_FormData &task)
{
    if (task.uuid.isEmpty())
        return;
    RegisteredTask record{TcpTsk_Info(task.uuid), appMonotonicMs()};
    record.info.url = task.url;
    MutexLocker lock(&m_tasksLock);
    m_asyncTasks.insert(task.uuid, record);
}

QString TcpReactor::syncKeyFor(const QString &id) const
{
    if (m_syncTasks.contains(id))
        return id;
    for (auto it = m_syncTasks.cbegin(); it != m_syncTasks.cend(); ++it)
        if (messageIdMatches(id, it.key()))
            return it.key();
    return QString();
}

bool TcpReactor::hasSyncTask(const QString &id)
{
    MutexLocker lock(&m_tasksLock);
    return !syncKeyFor(id).isNull();
}

bool TcpReactor::takeAnsweredSyncTask(const QString &id, TcpTsk_Info &out)
{
    MutexLocker lock(&m_tasksLock);
    const QString key = syncKeyFor(id);
    if (key.isNull())
        return false;
    out = m_syncTasks.take(key).info;
    out.tskup_finishact_timing();
    return true;
}

TcpTsk_Info TcpReactor::takeSyncTask(const QString &id)
{
    TcpTsk_Info info;
    takeAnsweredSyncTask(id, info);
    return info;
}

TcpTsk_Info TcpReactor::takeAsyncTask(const QString &id)
{
    MutexLocker lock(&m_tasksLock);
    if (!m_asyncTasks.contains(id))
        return TcpTsk_Info();
    TcpTsk_Info info = m_asyncTasks.take(id).info;
    info.tskup_finishact_timing();
    return info;
}

void TcpReactor::updateTaskTiming(const QString &id, const QString &slotName, const QVariantList &args)
{
    MutexLocker lock(&m_tasksLock);
    const QString key = syncKeyFor(id);
    if (key.isNull())
        return;
    TcpTsk_Info &info = m_syncTasks[key].info;
    const QByteArray name = slotName.toLatin1();
    if (args.isEmpty())
        QMetaObject::invokeMethod(&info, name.constData(), Qt::DirectConnection);
    else
        QMetaObject::invokeMethod(&info, name.constData(), Qt::DirectConnection, Q_ARG(QVariantList, args));
}

bool TcpReactor::getTaskInfo(const QString &id, TcpTsk_Info &out)
{
    MutexLocker lock(&m_tasksLock);
    const auto it = m_asyncTasks.constFind(id);
    if (it == m_asyncTasks.cend())
        return false;
    out = it->info;
    return true;
}

void TcpReactor::purgeTaskRegistries()
{
    const qint64 now = appMonotonicMs();
    MutexLocker lock(&m_tasksLock);
    for (auto *registry : {&m_syncTasks, &m_asyncTasks}) {
        for (auto it = registry->begin(); it != registry->end();) {
            if (now - it->registeredMono > kRecordLifetimeMs)
                it = registry->erase(it);
            else
                ++it;
        }
    }
}

// ---- client ----

TcpCliReactor::~TcpCliReactor()
{
    stop();
    removeSessions(-1);
}

bool TcpCliReactor::isRunning()
{
    return socketThreadPool_->activeThreadCount() > 0;
}

QList<int> TcpCliReactor::sessions()
{
    bool lost = false;
    {
        MutexLocker lock(&m_sessionsLock);
        for (auto it = m_sessions.cbegin(); it != m_sessions.cend(); ++it)
            lost |= it->alive && !it->connected;
    }
    // The socket thread cannot restart itself (stop waits for it); of several waiting threads that find
    // the connection lost, one reconnects and the others go on with what the table then holds.
    if (lost && !onSocketThread() && m_restarting.try_lock()) {
        start(host(), port());
        m_restarting.unlock();
    }
    return TcpReactor::sessions();
}

bool TcpCliReactor::open()
{
    auto *socket = new CQTcpSocket;
    socket->connectToHost(host(), port(), QIODevice::ReadWrite);
    if (!socket->waitForConnected(kConnectWaitMs)) {
        delete socket;
        return false;
    }
    adoptSocket(socket);
    return true;
}

void TcpCliReactor::close()
{
    removeSessions(-1);
}

// ---- server ----

TcpServReactor::~TcpServReactor()
{
    stop();
    MutexLocker lock(&m_sessionsLock);
    m_server.reset();
}

bool TcpServReactor::isRunning()
{
    MutexLocker lock(&m_sessionsLock);
    return !m_server.isNull();
}

bool TcpServReactor::open()
{
    QSharedPointer<CQTcpServer> server(new CQTcpServer);
    {
        MutexLocker lock(&m_sessionsLock);
        m_server = server;
    }
    CQTcpServer *raw = server.data();
    connect(
        raw, &QTcpServer::newConnection, raw, [this, raw] { acceptPending(raw); }, Qt::DirectConnection);
    if (!raw->listen(host(), port())) {
        MutexLocker lock(&m_sessionsLock);
        m_server.reset();
        return false;
    }
    return true;
}

void TcpServReactor::acceptPending(CQTcpServer *server)
{
    while (QTcpSocket *socket = server->nextPendingConnection()) {
        // The session owns the socket; left a child of the listener it would be freed twice.
        socket->setParent(nullptr);
        adoptSocket(socket);
    }
}

void TcpServReactor::close()
{
    removeSessions(-1);
    QSharedPointer<CQTcpServer> server;
    {
        MutexLocker lock(&m_sessionsLock);
        server.swap(m_server);
    }
    server.reset();
}

} // namespace QORC

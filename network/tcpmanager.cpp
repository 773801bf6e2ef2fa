#include "tcpmanager.h"
#include "mutexlocker.h" // also MG_THREAD_SANITIZER
#include "networklog.h"

#include <QJsonValue>

namespace {

const QString kGetParams = QStringLiteral("/smon2/camera/getparams");
const QString kGetPic = QStringLiteral("/smon2/camera/getpic");
const QString kSetParams = QStringLiteral("/smon2/camera/setparams");
const QString kCommands = QStringLiteral("/smon2/camera/commands");
const QString kPostPic = QStringLiteral("/smon2/camera/postpic");
// A control request's answer must come within this. The ThreadSanitizer build (tests only) allows five
// times as long: there a loopback exchange on a busy machine can take more than a second.
#ifdef MG_THREAD_SANITIZER
constexpr int kControlTimeoutMs = 5 * 1000;
#else
constexpr int kControlTimeoutMs = 1000;
#endif

const QJsonObject &getPicBody()
{
    static const QJsonObject body{{QStringLiteral("compulsive"), false}};
    return body;
}

bool holdsJsonObject(const QVariant &value)
{
    return value.userType() == QMetaType::QJsonObject;
}

QJsonObject bodyOf(const QVariantMap &params)
{
    QJsonObject body;
    for (auto it = params.cbegin(); it != params.cend(); ++it)
        body.insert(it.key(), QJsonValue::fromVariant(it.value()));
    return body;
}

// The deleter of every reactor: a reactor may still have a queued signal or a sync wait on the stack,
// so it goes through the event loop of its thread rather than at once.
void deleteReactorLater(QORC::TcpReactor *reactor)
{
    reactor->deleteLater();
}

} // namespace

// How often reactors set aside are looked at: they go soon after their socket thread ends.
constexpr int kRetiredSweepMs = 200;

TcpManager::TcpManager(int type) : QObject(nullptr), type(type)
{
    registerTcpMetaTypes();
    connect(&m_retiredSweep, &QTimer::timeout, this, &TcpManager::sweepRetired);
}

TcpManager::~TcpManager()
{
    if (reactor)
        reactor->disconnect(this);
}

bool TcpManager::start(const QHostAddress &host, quint16 port)
{
    if (reactor) {
        // Replies of the old connection must not reach the slots once the new one is in place.
        reactor->disconnect(this);
        reactor.reset();
    }
    return startNew(host, port);
}

bool TcpManager::startRetiring(const QHostAddress &host, quint16 port, int waitMs)
{
    if (reactor) {
        reactor->disconnect(this);
        // Deleting a reactor waits for its socket thread without limit; one still busy (a long parse
        // of what a peer sent) waits aside until it has ended.
        if (!reactor->stopWithin(waitMs)) {
            m_retired << reactor;
            m_retiredSweep.start(kRetiredSweepMs);
        }
        reactor.reset();
    }
    return startNew(host, port);
}

void TcpManager::sweepRetired()
{
    for (auto it = m_retired.begin(); it != m_retired.end();) {
        if ((*it)->isRunning())
            ++it;
        else
            it = m_retired.erase(it);
    }
    if (m_retired.isEmpty())
        m_retiredSweep.stop();
}

bool TcpManager::startNew(const QHostAddress &host, quint16 port)
{
    if (type == 1)
        reactor.reset(new QORC::TcpCliReactor, deleteReactorLater);
    else if (type == 0)
        reactor.reset(new QORC::TcpServReactor, deleteReactorLater);
    else
        return false;
    reactor->setBodyBound(bodyBound);
    connectReactor(Qt::AutoConnection, Qt::AutoConnection);
    return reactor->start(host, port);
}

void TcpManager::connectReactor(Qt::ConnectionType responseType, Qt::ConnectionType requestType)
{
    if (!reactor)
        return;
    reactor->disconnectOwnSignals();
    connect(reactor.data(), &QORC::TcpReactor::sigResponse_async, this, &TcpManager::SlotRecvResponse_async,
            responseType);
    connect(reactor.data(), &QORC::TcpReactor::sigRequest, this, &TcpManager::SlotRecvRequest, requestType);
}

TcpManager_Client::TcpManager_Client() : TcpManager(1) {}

bool TcpManager_Client::exchange(const QString &url, const QJsonObject *body, int timeoutMs,
                                 CTask_FormData &response)
{
    if (!reactor)
        return false;
    // Held for the whole wait: a start from a nested event (the wait runs an event loop) must not
    // destroy the reactor under it.
    const QSharedPointer<QORC::TcpReactor> held = reactor;
    CTask_FormData request;
    request.url = url;
    if (body)
        request.data.insert(QStringLiteral("body"), QVariant::fromValue(*body));
    return held->requestSync(request, response, timeoutMs);
}

int TcpManager_Client::act_getParams(QJsonObject &result)
{
    CTask_FormData response;
    if (!exchange(kGetParams, nullptr, kControlTimeoutMs, response))
        return -12;
    for (const QVariant &value : qAsConst(response.data))
        if (holdsJsonObject(value))
            result = value.toJsonObject().value(QLatin1String("result")).toObject();
    return 0;
}

int TcpManager_Client::act_getParamsMap(QVariantMap &result)
{
    CTask_FormData response;
    if (!exchange(kGetParams, nullptr, kControlTimeoutMs, response))
        return -12;
    for (const QVariant &value : qAsConst(response.data))
        if (holdsJsonObject(value))
            result = value.toJsonObject().value(QLatin1String("result")).toObject().toVariantMap();
    return 0;
}

bool TcpManager_Client::act_probeParams()
{
    CTask_FormData response;
    if (!exchange(kGetParams, nullptr, kControlTimeoutMs, response))
        return false;
    for (const QVariant &value : qAsConst(response.data))
        if (holdsJsonObject(value) && !value.toJsonObject().contains(QLatin1String("result")))
            return false;
    return true;
}

int TcpManager_Client::act_getPic(cv::Mat &image, QJsonObject &info, int timeoutMs)
{
    CTask_FormData response;
    if (!exchange(kGetPic, &getPicBody(), timeoutMs, response))
        return -12;
    for (const QVariant &value : qAsConst(response.data))
        if (holdsJsonObject(value))
            info = value.toJsonObject();
    for (auto it = response.images.cbegin(); it != response.images.cend(); ++it)
        image = it.value();
    return 0;
}

int TcpManager_Client::act_getPicResponse(CTask_FormData &response, int timeoutMs)
{
    return exchange(kGetPic, &getPicBody(), timeoutMs, response) ? 0 : -1;
}

QVariantMap TcpManager_Client::act_setParams(const QVariantMap &params)
{
    QVariantMap result;
    const QJsonObject body = bodyOf(params);
    CTask_FormData response;
    if (!exchange(kSetParams, &body, kControlTimeoutMs, response)) {
        // The text says getparams although this is setparams: kept as the box has always logged it.
        qCDebug(lcNetwork).noquote() << kSetParams << "act_getParams work error!";
    } else {
        for (const QVariant &value : qAsConst(response.data)) {
            if (!holdsJsonObject(value) || !value.toJsonObject().contains(QLatin1String("result")))
                continue;
            result = value.toJsonObject().value(QLatin1String("result")).toObject().toVariantMap();
            qCDebug(lcNetwork).noquote() << kSetParams << "response:" << result;
        }
    }
    qCDebug(lcNetwork).noquote() << QString(47, QLatin1Char('-'));
    return result;
}

QVariantMap TcpManager_Client::act_Command(const QVariantMap &params)
{
    const QJsonObject body = bodyOf(params);
    CTask_FormData response;
    if (!exchange(kCommands, &body, kControlTimeoutMs, response))
        qCDebug(lcNetwork).noquote() << kCommands << "act_Command work error!";
    else
        qCDebug(lcNetwork).noquote() << kCommands << "act_Command success!";
    return QVariantMap();
}

void TcpManager_Client::act_getPicAsync()
{
    if (!reactor)
        return;
    CTask_FormData request;
    request.url = kGetPic;
    request.data.insert(QStringLiteral("body"), QVariant::fromValue(getPicBody()));
    reactor->requestAsync(request);
    pendingId = request.uuid;
}

void TcpManager_Client::SlotRecvResponse_async(CTask_FormData response)
{
    if (pendingId.isEmpty() || response.uuid != pendingId)
        return;
    // An unsolicited response carries no URL of its own: the request's record names it.
    QString url = response.url;
    TcpTsk_Info info;
    if (url.isEmpty() && reactor && reactor->getTaskInfo(response.uuid, info))
        url = info.url;
    if (url == kGetPic) {
        for (auto it = response.images.cbegin(); it != response.images.cend(); ++it)
            if (!it.value().empty())
                emit sigRecvPic(it.value());
    }
    pendingId.clear();
}

void TcpManager_Client::SlotRecvRequest(CTask_FormData request)
{
    // The camera may post pictures unasked; the box takes its pictures by request only.
    if (request.url == kPostPic)
        return;
}

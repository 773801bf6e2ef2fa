#include "tcpveklink.h"

#include "cameraslog.h"

#include <QJsonObject>

namespace {

constexpr int kControlTimeoutMs = 1000;

CTask_FormData requestFor(const QString &url, const QJsonObject *body)
{
    CTask_FormData request;
    request.url = url;
    if (body)
        request.data.insert(QStringLiteral("body"), QVariant::fromValue(*body));
    return request;
}

// The "result" member of the reply's JSON values (a later value wins).
bool replyResult(const CTask_FormData &response, QJsonObject &result)
{
    bool found = false;
    for (auto it = response.data.cbegin(); it != response.data.cend(); ++it) {
        if (it.value().userType() != QMetaType::QJsonObject)
            continue;
        result = it.value().toJsonObject().value(QStringLiteral("result")).toObject();
        found = true;
    }
    return found;
}

} // namespace

TcpVekLink::TcpVekLink() = default;
TcpVekLink::~TcpVekLink() = default;

bool TcpVekLink::start(const QString &host, quint16 port)
{
    reactor = std::make_unique<QORC::TcpCliReactor>();
    return reactor->start(QHostAddress(host), port);
}

bool TcpVekLink::hasLiveSession()
{
    return reactor && reactor->hasLiveSession();
}

bool TcpVekLink::exchange(CTask_FormData &request, CTask_FormData &response, int timeoutMs)
{
    return reactor && reactor->requestSync(request, response, timeoutMs);
}

int TcpVekLink::getParams(QJsonObject &result)
{
    CTask_FormData request = requestFor(QStringLiteral("/smon2/camera/getparams"), nullptr);
    CTask_FormData response;
    if (!exchange(request, response, kControlTimeoutMs))
        return -12;
    replyResult(response, result);
    return 0;
}

QVariantMap TcpVekLink::setParams(const QVariantMap &params)
{
    const QJsonObject body = QJsonObject::fromVariantMap(params);
    CTask_FormData request = requestFor(QStringLiteral("/smon2/camera/setparams"), &body);
    CTask_FormData response;
    QJsonObject result;
    if (!exchange(request, response, kControlTimeoutMs) || !replyResult(response, result)) {
        qCDebug(lcCameras) << request.url << "act_getParams work error!";
        return {};
    }
    return result.toVariantMap();
}

bool TcpVekLink::command(const QVariantMap &params)
{
    const QJsonObject body = QJsonObject::fromVariantMap(params);
    CTask_FormData request = requestFor(QStringLiteral("/smon2/camera/commands"), &body);
    CTask_FormData response;
    const bool ok = exchange(request, response, kControlTimeoutMs);
    qCDebug(lcCameras) << request.url << (ok ? "act_Command success!" : "act_Command work error!");
    return ok;
}

int TcpVekLink::getPicture(VekPicture &picture, int timeoutMs)
{
    const QJsonObject body{{QStringLiteral("compulsive"), false}};
    CTask_FormData request = requestFor(QStringLiteral("/smon2/camera/getpic"), &body);
    CTask_FormData response;
    if (!exchange(request, response, timeoutMs))
        return -12;
    for (auto it = response.data.cbegin(); it != response.data.cend(); ++it) {
        if (it.value().userType() == QMetaType::QJsonObject)
            picture.info = it.value().toJsonObject();
    }
    // The image under the greatest key, as the request front hands it over.
    picture.image = response.images.isEmpty() ? cv::Mat() : response.images.last();
    picture.timings = response.taskInfo.toVariantMap();
    return 0;
}

#include "tcpveklink.h"

TcpVekLink::TcpVekLink() : client(std::make_unique<TcpManager_Client>()) {}

TcpVekLink::~TcpVekLink() = default;

bool TcpVekLink::start(const QString &host, quint16 port)
{
    return client->start(QHostAddress(host), port);
}

bool TcpVekLink::hasLiveSession()
{
    return client->reactor && client->reactor->hasLiveSession();
}

int TcpVekLink::getParams(QJsonObject &result)
{
    return client->act_getParams(result);
}

QVariantMap TcpVekLink::setParams(const QVariantMap &params)
{
    return client->act_setParams(params);
}

bool TcpVekLink::command(const QVariantMap &params)
{
    client->act_Command(params);
    return hasLiveSession();
}

int TcpVekLink::getPicture(VekPicture &picture, int timeoutMs)
{
    CTask_FormData response;
    if (client->act_getPicResponse(response, timeoutMs) != 0)
        return -12;
    for (auto it = response.data.cbegin(); it != response.data.cend(); ++it) {
        if (it.value().userType() == QMetaType::QJsonObject)
            picture.info = it.value().toJsonObject();
    }
    // The picture under the greatest key, as act_getPic takes it.
    picture.image = response.images.isEmpty() ? cv::Mat() : response.images.last();
    // Plain numbers, not the timing record's map: its texts stay shared with the socket thread's copy.
    const TcpTsk_Info &timing = response.taskInfo;
    if (timing.create_timing >= 0 && timing.finishrecv_timing >= timing.create_timing)
        picture.requestMs = timing.finishrecv_timing - timing.create_timing;
    picture.replyBytes = timing.recvpacklength;
    return 0;
}

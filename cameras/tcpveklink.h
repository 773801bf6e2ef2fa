#pragma once
// The smart-camera link over a TCP client reactor: each request is one POST under "/smon2/camera/"
// answered by the camera, with the request front's paths, bodies and time-outs (1000 ms for the
// control requests, the caller's for pictures).
//
// Threads: the thread that made the link (the reactor's timers live there; it must run an event
// loop or wait in the reactor's requests).

#include "tcpreactor.h"
#include "veklink.h"

#include <memory>

class TcpVekLink : public VekLink
{
public:
    TcpVekLink();
    ~TcpVekLink() override;

    bool start(const QString &host, quint16 port) override;
    bool hasLiveSession() override;
    int getParams(QJsonObject &result) override;
    QVariantMap setParams(const QVariantMap &params) override;
    bool command(const QVariantMap &params) override;
    int getPicture(VekPicture &picture, int timeoutMs) override;

private:
    bool exchange(CTask_FormData &request, CTask_FormData &response, int timeoutMs);

    std::unique_ptr<QORC::TcpCliReactor> reactor;
};

#pragma once
// The smart-camera link over the request front: one TcpManager_Client whose requests are the camera's
// "/smon2/camera/" paths with their bodies and time-outs (1000 ms for the control requests, the
// caller's for pictures). Every start replaces the client's reactor, so a reconnect is a new start.
//
// Threads: the thread that made the link (the client and its reactor's timers live there; it runs an
// event loop or waits in the client's requests).

#include "tcpmanager.h"
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
    // The request front reports nothing of a command's outcome: true while the camera is connected.
    bool command(const QVariantMap &params) override;
    int getPicture(VekPicture &picture, int timeoutMs) override;

private:
    std::unique_ptr<TcpManager_Client> client;
};

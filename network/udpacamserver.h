#pragma once
// UDP_ACam_Server: the device side of the camera discovery protocol. It answers discovery, takes a
// new address on a force-IP command addressed to its device serial, sets the system clock on a time
// command and signals a daemon restart. Its machine commands go through the command runner.
//
// Threads: the datagrams are handled on the thread the server lives in (queued from the receive
// loop), which blocks for the external commands.

#include "acamprotocol.h"
#include "udpcore.h"

class UDP_ACam_Server : public UDP_Core
{
    Q_OBJECT
public:
    // Listens on 255.255.255.255:3956.
    explicit UDP_ACam_Server(QObject *parent = nullptr);
    ~UDP_ACam_Server() override;

signals:
    void sig_updatetime();
    void sig_rebootdaemon();

public slots:
    void AnalysisRecvMessage(sockaddr_in saclient, std::string recvbuf) override;

private:
    void sendAckFrom(const QString &local, const std::string &datagram);
    void handleForceIp(const QString &requester, const std::string &recvbuf);
    void handleCustom(const std::string &recvbuf);

    // Commands from ever new addresses or with ever new ids escape the log's repeat rule: their lines
    // are capped per second, so that a flood cannot push the run's earlier lines out of the log.
    // Server thread.
    LogLineLimit m_discoverLines{20};
    LogLineLimit m_forceIpLines{20};
    LogLineLimit m_forceIpAnswerLines{20};
};

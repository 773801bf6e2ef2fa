#pragma once
// UDP_ACam_Client: the controller side of the camera discovery protocol. It finds the smart cameras
// on every local interface, gives conflicting or foreign-subnet cameras a free address, sets their
// clocks and asks a camera to restart its service daemon. Created once by the smart-camera back-end.
//
// Threads: every operation on the thread the client lives in, which must run its event loop: the
// acks are queued to it and are delivered during the waits (200 ms, or 1000 ms after force-IP).

#include "acamprotocol.h"
#include "udpcore.h"

class UDP_ACam_Client : public UDP_Core
{
    Q_OBJECT
public:
    // Listens on 255.255.255.255:10400, then sends the clock to every camera (blocks about 200 ms).
    explicit UDP_ACam_Client(QObject *parent = nullptr);
    ~UDP_ACam_Client() override;

    // Broadcasts a discovery from every local interface: the cameras that answered within 200 ms.
    QMap<QString, ACamDeviceInfo> sendDiscover();
    // Re-addresses the discovered cameras that need it (planForceIp); waits 1 s when any was sent.
    void sendForceIp();
    // Sends the client's clock to every camera.
    void sendUptime();
    // Asks the cameras on the interface of camera `id` to restart their daemon.
    void sendRebootDaemon(const QString &id);

    // At most this many cameras are kept between two discoveries; a new id beyond them drops the one
    // heard from longest ago, so acks with ever new ids cannot grow the map.
    static constexpr int kMaxDevices = 64;

    QMap<QString, ACamDeviceInfo> deviceMap; // by id text

public slots:
    void AnalysisRecvMessage(sockaddr_in saclient, std::string recvbuf) override;

private:
    void sendCommandFrom(const QString &local, const std::string &datagram);
    void rememberDevice(const QString &id, const ACamDeviceInfo &info);
    static void waitMs(int ms);

    QStringList m_heardOrder; // ids of deviceMap, the one heard from longest ago first
    // Acks with ever new ids or addresses escape the log's repeat rule: their lines are capped per
    // second, so that a flood cannot push the run's earlier lines out of the log. Client thread.
    LogLineLimit m_discoveryAckLines{20};
    LogLineLimit m_forceIpAckLines{20};
};

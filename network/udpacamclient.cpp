#include "udpacamclient.h"
#include "networklog.h"

#include <QEventLoop>
#include <QTimer>

#include <cstring>

UDP_ACam_Client::UDP_ACam_Client(QObject *parent) : UDP_Core(parent)
{
    startListen("255.255.255.255", AcamCode::AckPort);
    sendUptime();
}

UDP_ACam_Client::~UDP_ACam_Client()
{
    stopListen();
}

void UDP_ACam_Client::sendCommandFrom(const QString &local, const std::string &datagram)
{
    UdpPeer peer;
    peer.peerIp = "255.255.255.255";
    peer.peerPort = AcamCode::CommandPort;
    peer.localIp = qStringToStdString(local);
    peer.timeoutMs = 0;
    peer.resendMs = 0;
    sendAndWait(peer, datagram, nullptr);
}

void UDP_ACam_Client::waitMs(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

QMap<QString, ACamDeviceInfo> UDP_ACam_Client::sendDiscover()
{
    deviceMap.clear();
    m_heardOrder.clear();
    for (const NetInterfaceInfo &i : qAsConst(interfaces)) {
        qCDebug(lcNetwork).noquote() << "AppCli-Send(gvcp_cmd_discover) by:" << i.ip;
        sendCommandFrom(i.ip, buildDiscoverCmd());
    }
    waitMs(200);
    return deviceMap;
}

void UDP_ACam_Client::sendUptime()
{
    for (const NetInterfaceInfo &i : qAsConst(interfaces)) {
        qCDebug(lcNetwork).noquote() << "AppCli-Send(gvcp_cmd_uptime) by:" << i.ip;
        sendCommandFrom(i.ip, buildUptimeCmd());
    }
    waitMs(200);
}

void UDP_ACam_Client::sendRebootDaemon(const QString &id)
{
    const auto it = deviceMap.constFind(id);
    if (it == deviceMap.constEnd()) {
        qCInfo(lcNetwork) << "Reboot VekCamera error!";
        return;
    }
    const QString local = localIpForPeer(ipToText(it->ip()));
    if (local.isEmpty())
        return;
    qCDebug(lcNetwork).noquote() << "AppCli-Send(gvcp_cmd_rebootdaemon) by:" << local;
    sendCommandFrom(local, buildRebootDaemonCmd());
    waitMs(200);
}

void UDP_ACam_Client::sendForceIp()
{
    const QList<ForceIpPlan> plans = planForceIp(deviceMap, interfaces);
    if (plans.isEmpty())
        return;
    for (const ForceIpPlan &plan : plans) {
        qCDebug(lcNetwork).noquote() << "AppCli-Send(gvcp_cmd_forceip) by:" << plan.local;
        sendCommandFrom(plan.local, buildForceIpCmd(plan.address, plan.mask, plan.gateway, plan.id));
    }
    waitMs(1000);
}

void UDP_ACam_Client::rememberDevice(const QString &id, const ACamDeviceInfo &info)
{
    m_heardOrder.removeOne(id);
    // The map is public: ids someone else removed are passed over.
    while (deviceMap.size() - (deviceMap.contains(id) ? 1 : 0) >= kMaxDevices && !m_heardOrder.isEmpty())
        deviceMap.remove(m_heardOrder.takeFirst());
    m_heardOrder << id;
    deviceMap.insert(id, info);
}

void UDP_ACam_Client::AnalysisRecvMessage(sockaddr_in saclient, std::string recvbuf)
{
    Q_UNUSED(saclient)
    quint16 code = 0;
    quint16 length = 0;
    if (!readAcamHeader(recvbuf.data(), recvbuf.size(), &code, &length))
        return;
    if (code == AcamCode::DiscoveryAck) {
        ACamDeviceInfo info;
        copyAcamPayload(recvbuf.data(), recvbuf.size(), info.bytes, ACamDeviceInfo::kSize);
        const QString id = info.id();
        rememberDevice(id, info);
        if (m_discoveryAckLines.allowAfterCount(lcNetwork(), "AppCli-Recv(GVCP_DISCOVERY_ACK):"))
            qCInfo(lcNetwork).noquote() << "AppCli-Recv(GVCP_DISCOVERY_ACK):" << escapeForLog(info.model())
                                        << escapeForLog(id) << ipToText(info.ip()) << ipToText(info.mask())
                                        << "->" << ipToText(info.requesterIp());
    } else if (code == AcamCode::ForceIpAck) {
        ForceIpPayload ack;
        copyAcamPayload(recvbuf.data(), recvbuf.size(), ack.bytes, ForceIpPayload::kSize);
        const QString id = ack.id();
        const auto it = deviceMap.find(id);
        if (it != deviceMap.end()) {
            // Requester, address, mask and gateway: offsets 8 to 23 in both payloads.
            std::memcpy(it->bytes + 8, ack.bytes + 8, 16);
            if (m_forceIpAckLines.allowAfterCount(lcNetwork(), "AppCli-Recv(GVCP_FORCEIP_ACK) found:"))
                qCInfo(lcNetwork).noquote()
                    << "AppCli-Recv(GVCP_FORCEIP_ACK) found:" << escapeForLog(id) << ipToText(ack.word(12))
                    << ipToText(ack.word(16)) << "->" << ipToText(ack.word(8));
        }
    }
    qCInfo(lcNetwork).noquote() << QString(53, QLatin1Char('-'));
}

#include "udpacamserver.h"
#include "commandrunner.h"
#include "networklog.h"

#include <QDateTime>

namespace {

constexpr int kCommandTimeoutMs = 10000;
// The device clock takes times from 1970 to the end of year 9999; anything else is no time.
constexpr qint64 kLatestTimeMs = 253402300799999LL;

} // namespace

UDP_ACam_Server::UDP_ACam_Server(QObject *parent) : UDP_Core(parent)
{
    startListen("255.255.255.255", AcamCode::CommandPort);
}

UDP_ACam_Server::~UDP_ACam_Server()
{
    stopListen();
}

void UDP_ACam_Server::sendAckFrom(const QString &local, const std::string &datagram)
{
    UdpPeer peer;
    peer.peerIp = "255.255.255.255";
    peer.peerPort = AcamCode::AckPort;
    peer.localIp = qStringToStdString(local);
    peer.timeoutMs = 0;
    peer.resendMs = 0;
    sendAndWait(peer, datagram, nullptr);
}

void UDP_ACam_Server::AnalysisRecvMessage(sockaddr_in saclient, std::string recvbuf)
{
    quint16 code = 0;
    quint16 length = 0;
    if (!readAcamHeader(recvbuf.data(), recvbuf.size(), &code, &length) || quint8(recvbuf[0]) != 0x42)
        return;
    const QString requester = ipToText(saclient.sin_addr.s_addr);
    if (code == AcamCode::Discover) {
        for (const NetInterfaceInfo &i : qAsConst(interfaces)) {
            sendAckFrom(i.ip, buildDiscoveryAck(deviceSerial, requester, i.ip, i.mask, i.gateway, i.mac));
            if (m_discoverLines.allowAfterCount(lcNetwork(),
                                                "ArmServ-Send(gvcp_ack_discover) callback from:"))
                qCInfo(lcNetwork).noquote() << "ArmServ-Send(gvcp_ack_discover) callback from:"
                                            << deviceSerial << i.ip << "to" << requester;
        }
    } else if (code == AcamCode::ForceIp) {
        handleForceIp(requester, recvbuf);
    } else if (code == AcamCode::Custom) {
        handleCustom(recvbuf);
    }
}

void UDP_ACam_Server::handleForceIp(const QString &requester, const std::string &recvbuf)
{
    ForceIpPayload command;
    copyAcamPayload(recvbuf.data(), recvbuf.size(), command.bytes, ForceIpPayload::kSize);
    const QString address = ipToText(command.word(12));
    const QString mask = ipToText(command.word(16));
    const QString gateway = ipToText(command.word(20));
    const QString id = command.id();
    if (m_forceIpLines.allowAfterCount(lcNetwork(), "ArmServ-Recv(gvcp_forceip_req):"))
        qCInfo(lcNetwork).noquote() << "ArmServ-Recv(gvcp_forceip_req):" << escapeForLog(id) << address
                                    << mask << gateway;
    if (id == deviceSerial && !interfaces.isEmpty()) {
        const NetInterfaceInfo first = interfaces.first();
        runCommand(QStringLiteral("ip"),
                   {QStringLiteral("addr"), QStringLiteral("flush"), QStringLiteral("dev"), first.name},
                   kCommandTimeoutMs);
        runCommand(QStringLiteral("ip"),
                   {QStringLiteral("route"), QStringLiteral("flush"), QStringLiteral("table"),
                    QStringLiteral("main")},
                   kCommandTimeoutMs);
        runCommand(QStringLiteral("ifconfig"), {first.name, address, QStringLiteral("netmask"), mask},
                   kCommandTimeoutMs);
        runCommand(QStringLiteral("route"),
                   {QStringLiteral("add"), QStringLiteral("default"), QStringLiteral("gw"), gateway},
                   kCommandTimeoutMs);
        char ip[16] = {};
        char newMask[16] = {};
        char newGateway[16] = {};
        char mac[18] = {};
        if (getInterfaceInfo(first.name.toLocal8Bit().constData(), ip, newMask, newGateway, mac) >= 0) {
            NetInterfaceInfo updated{first.name, QString::fromLatin1(ip), QString::fromLatin1(newMask),
                                     QString::fromLatin1(newGateway), QString::fromLatin1(mac)};
            interfaces.insert(first.mac, updated);
        }
        const NetInterfaceInfo now = interfaces.value(first.mac);
        sendAckFrom(now.ip,
                    buildForceIpAck(deviceSerial, requester, now.ip, now.mask, now.gateway, now.mac));
        if (m_forceIpAnswerLines.allowAfterCount(lcNetwork(),
                                                 "ArmServ-Send(gvcp_forceip_req) response new info:"))
            qCInfo(lcNetwork).noquote() << "ArmServ-Send(gvcp_forceip_req) response new info:"
                                        << deviceSerial << now.ip;
    }
    qCInfo(lcNetwork).noquote() << QString(33, QLatin1Char('-'));
}

void UDP_ACam_Server::handleCustom(const std::string &recvbuf)
{
    const CustomPayload payload = readCustomPayload(recvbuf.data(), recvbuf.size());
    std::string reply;
    if (payload.subCommand == AcamCode::SubUptime) {
        runCommand(QStringLiteral("cp"),
                   {QStringLiteral("/usr/share/zoneinfo/Asia/Shanghai"), QStringLiteral("/etc/localtime")},
                   kCommandTimeoutMs);
        QString text;
        if (payload.timeMs >= 0 && payload.timeMs <= kLatestTimeMs)
            text =
                QDateTime::fromMSecsSinceEpoch(payload.timeMs).toString(QStringLiteral("yyyyMMdd hh:mm:ss"));
        // A time out of range formats as nothing, and "date -s ''" would set the clock to midnight.
        if (!text.isEmpty()) {
            const CommandResult date =
                runCommand(QStringLiteral("date"), {QStringLiteral("-s"), text}, kCommandTimeoutMs);
            if (date.started && date.exitCode == 0)
                runCommand(QStringLiteral("hwclock"), {QStringLiteral("--systohc")}, kCommandTimeoutMs);
            emit sig_updatetime();
        } else {
            qCWarning(lcNetwork) << "time command without a valid time, clock left as it is";
        }
        reply = buildUptimeAck();
    } else if (payload.subCommand == AcamCode::SubRebootDaemon) {
        emit sig_rebootdaemon();
        reply = buildRebootDaemonAck();
    } else {
        return;
    }
    if (!interfaces.isEmpty())
        sendAckFrom(interfaces.first().ip, reply);
}

#include "druinteractionmanager.h"
#include "networklog.h"

#include <QThread>

#include <arpa/inet.h>

namespace {

// Peers of the sample modify-cells frames: on this machine, so that trying the senders out never
// reaches anybody else's network.
const char kSampleGroupId[] = "0123456789ab";
const char kSamplePeer1[] = "127.0.0.2";
const char kSamplePeer2[] = "127.0.0.3";
const char kSampleCells[] =
    "(machineid);(name1;127.0.0.4);(name2;127.0.0.5);(member1;127.0.0.6;member2;127.0.0.7)";

} // namespace

Dru_Interaction_Manager::Dru_Interaction_Manager() : UDP_Core(nullptr)
{
    directDispatch = true;
    qCDebug(lcNetwork) << "start Dru_Interaction_Manager working" << QThread::currentThreadId();
    qRegisterMetaType<Dru_Procotol_Struct>("Dru_Procotol_Struct");
}

Dru_Interaction_Manager::~Dru_Interaction_Manager()
{
    // The loop calls into this object directly: it has to end before the members go.
    stopListen();
}

Dru_Interaction_Manager *Dru_Interaction_Manager::instance()
{
    static Dru_Interaction_Manager *manager = nullptr;
    if (!manager)
        manager = new Dru_Interaction_Manager();
    return manager;
}

bool Dru_Interaction_Manager::hasGroupId(const QString &groupId) const
{
    return druHasGroupId(groupId, deviceSerial, cellConfig);
}

void Dru_Interaction_Manager::AnalysisRecvMessage(sockaddr_in saclient, std::string recvbuf)
{
    const DruParseResult r =
        parseDruFrame(recvbuf.data(), recvbuf.size(), ipToText(saclient.sin_addr.s_addr),
                      ntohs(saclient.sin_port), deviceSerial, cellConfig);
    if (!r.warning.isEmpty())
        qCWarning(lcNetwork).noquote() << r.warning;
    if (!r.info.isEmpty())
        qCInfo(lcNetwork).noquote() << r.info;
    if (!r.syncText.isEmpty())
        emit sig_sync_send_core(r.syncText);
    emitSignal(r.signal, r.record);
    if (r.reply == DruParseResult::NoReply || QThread::currentThread() == thread())
        return;
    const char *slot = r.reply == DruParseResult::ReplyA2s02   ? "do_req_a2s02_modifycells"
                       : r.reply == DruParseResult::ReplyS2c03 ? "do_req_s2c03_heartbeat"
                       : r.reply == DruParseResult::ReplyS2c05 ? "do_req_s2c05_inputstate"
                       : r.reply == DruParseResult::ReplyC2s06 ? "do_req_c2s06_outputstate"
                                                               : "do_req_a2c22_modifycells";
    QMetaObject::invokeMethod(this, slot, Qt::QueuedConnection, Q_ARG(Dru_Procotol_Struct, r.record));
}

void Dru_Interaction_Manager::emitSignal(DruParseResult::Signal signal, const Dru_Procotol_Struct &record)
{
    switch (signal) {
    case DruParseResult::ReqA2s01Discover:
        emit sig_do_req_a2s01_discover(record);
        break;
    case DruParseResult::ReqA2s02ModifyCells:
        emit sig_do_req_a2s02_modifycells(record);
        break;
    case DruParseResult::RspS2c03Heartbeat:
        emit sig_do_rsp_s2c03_heartbeat(record);
        break;
    case DruParseResult::RspS2c04NeedRepair:
        emit sig_do_rsp_s2c04_needrepair(record);
        break;
    case DruParseResult::ReqC2s06OutputState:
        emit sig_do_req_c2s06_outputstate(record);
        break;
    case DruParseResult::ReqA2s07AllState:
        emit sig_do_req_a2s07_allstate(record);
        break;
    case DruParseResult::ReqA2c21Discover:
        emit sig_do_req_a2c21_discover(record);
        break;
    case DruParseResult::ReqA2c22ModifyCells:
        emit sig_do_req_a2c22_modifycells(record);
        break;
    case DruParseResult::ReqS2c04NeedRepair:
        emit sig_do_req_s2c04_needrepair(record);
        break;
    case DruParseResult::RspA2s07AllState:
        emit sig_do_rsp_a2s07_allstate(record);
        break;
    case DruParseResult::ReqS2c05InputState:
        emit sig_do_req_s2c05_inputstate(record);
        break;
    case DruParseResult::NoSignal:
        break;
    }
}

void Dru_Interaction_Manager::reply(DruParseResult::Reply reply, const Dru_Procotol_Struct &record,
                                    const QString &serial)
{
    UdpPeer peer;
    peer.peerIp = qStringToStdString(record.ip);
    peer.peerPort = druReplyPort(reply);
    peer.localIp = qStringToStdString(localIpForPeer(record.ip));
    peer.timeoutMs = 0;
    peer.resendMs = 0;
    std::string ignored;
    sendAndWait(peer, qStringToStdString(druReplyFrame(reply, serial)), &ignored);
}

void Dru_Interaction_Manager::do_req_a2s02_modifycells(Dru_Procotol_Struct Procotol)
{
    reply(DruParseResult::ReplyA2s02, Procotol, deviceSerial);
}

void Dru_Interaction_Manager::do_req_s2c03_heartbeat(Dru_Procotol_Struct Procotol)
{
    reply(DruParseResult::ReplyS2c03, Procotol, deviceSerial);
}

void Dru_Interaction_Manager::do_req_s2c05_inputstate(Dru_Procotol_Struct Procotol)
{
    reply(DruParseResult::ReplyS2c05, Procotol, deviceSerial);
}

void Dru_Interaction_Manager::do_req_c2s06_outputstate(Dru_Procotol_Struct Procotol)
{
    reply(DruParseResult::ReplyC2s06, Procotol, instance()->deviceSerial);
}

void Dru_Interaction_Manager::do_req_a2c22_modifycells(Dru_Procotol_Struct Procotol)
{
    reply(DruParseResult::ReplyA2c22, Procotol, deviceSerial);
}

bool Dru_Interaction_Manager::sendDiscover(const QString &frame, int port, bool warnEmpty)
{
    int combined = 0;
    for (const NetInterfaceInfo &i : qAsConst(interfaces)) {
        if (i.ip.isEmpty()) {
            if (warnEmpty)
                qCWarning(lcNetwork) << "smartcamera_send_a2s01_discover: LocalIp Empty";
            continue;
        }
        QString broadcast = networkAddress(i.ip, i.mask);
        if (!replaceLastOctet(broadcast, 255))
            broadcast = QStringLiteral("255.255.255.255");
        UdpPeer peer;
        peer.peerIp = qStringToStdString(broadcast);
        peer.peerPort = port;
        peer.localIp = qStringToStdString(i.ip);
        peer.timeoutMs = 100;
        peer.resendMs = 0;
        std::string answer;
        combined |= sendAndWait(peer, qStringToStdString(frame), &answer);
    }
    return combined == 0;
}

bool Dru_Interaction_Manager::sendOnce(const QString &frame, const QString &peerIp, int port,
                                       const QString &localIp)
{
    UdpPeer peer;
    peer.peerIp = qStringToStdString(peerIp);
    peer.peerPort = port;
    peer.localIp = qStringToStdString(localIp);
    peer.timeoutMs = 100;
    peer.resendMs = 0;
    std::string answer;
    return sendAndWait(peer, qStringToStdString(frame), &answer) == 0;
}

bool Dru_Interaction_Manager::smartcamera_send_a2s01_discover()
{
    return sendDiscover(QStringLiteral("<A;1>"), DruPort::S, true);
}

bool Dru_Interaction_Manager::smartcamera_send_a2c21_discover()
{
    return sendDiscover(QStringLiteral("<A;21>"), DruPort::C, false);
}

bool Dru_Interaction_Manager::smartcamera_send_a2s07_allstate()
{
    // Nothing fills cellConfig yet: without an address the request would go nowhere sensible.
    if (cellConfig.ip1.isEmpty()) {
        qCWarning(lcNetwork) << "smartcamera_send_a2s07_allstate: no cell address";
        return false;
    }
    return sendOnce(QStringLiteral("<A;7>"), cellConfig.ip1, DruPort::S, localIpForPeer(cellConfig.ip1));
}

bool Dru_Interaction_Manager::smartcamera_send_a2s02_modifycells()
{
    const QString frame = QStringLiteral("<A;2;%1;%2;%3>")
                              .arg(QLatin1String(kSampleGroupId), deviceSerial, QLatin1String(kSamplePeer1));
    return sendOnce(frame, QLatin1String(kSamplePeer2), DruPort::S,
                    localIpForPeer(QLatin1String(kSamplePeer1)));
}

bool Dru_Interaction_Manager::smartcamera_send_a2c22_modifycells()
{
    const QString local = localIpForPeer(QLatin1String(kSamplePeer1));
    const QString frame = QStringLiteral("<A;22;") + deviceSerial + QLatin1Char(';') + local +
                          QLatin1Char(';') + QLatin1String(kSampleCells) + QLatin1Char('>');
    return sendOnce(frame, QLatin1String(kSamplePeer1), DruPort::C, local);
}

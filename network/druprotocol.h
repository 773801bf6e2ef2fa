#pragma once
// Frames of the small UDP text protocol between the roles "A" (configures and queries), "S" and "C":
// "<", fields separated by ";", ">", one frame per datagram. parseDruFrame reads one datagram and
// says what the manager does with it (log, sync text, signal, reply); it keeps no state. Any thread.
//
// Ports of the roles: "A" receives on 10410, "S" on 10411, "C" on 10412.

#include <QList>
#include <QMetaType>
#include <QPair>
#include <QString>

#include <cstddef>

namespace DruPort {
constexpr int A = 10410;
constexpr int S = 10411;
constexpr int C = 10412;
} // namespace DruPort

// One parsed frame; also the manager's own cell configuration.
struct Dru_Procotol_Struct
{
    QString ip;        // sender's dotted address
    qint32 port = -1;  // sender's source port
    QString role;      // field 0
    qint32 number = 0; // field 1, 0 when it is no number
    QString groupId;   // field 2
    QString machineId;
    QString name1;
    QString ip1;
    QString name2;
    QString ip2;
    QList<QPair<QString, QString>> members; // (name, address)
    QList<qint32> outputStates;             // 0 or 1 each
    QList<qint32> inputStates;              // 0 or 1 each
};
Q_DECLARE_METATYPE(Dru_Procotol_Struct)

// True when `groupId` is not empty and equals the device serial, cellConfig's name1 or name2, or
// the name of one of its members.
bool druHasGroupId(const QString &groupId, const QString &deviceSerial,
                   const Dru_Procotol_Struct &cellConfig);

struct DruParseResult
{
    // The manager's signals, in their declaration order.
    enum Signal
    {
        NoSignal = -1,
        ReqA2s01Discover,
        ReqA2s02ModifyCells,
        RspS2c03Heartbeat,
        RspS2c04NeedRepair,
        ReqC2s06OutputState,
        ReqA2s07AllState,
        ReqA2c21Discover,
        ReqA2c22ModifyCells,
        ReqS2c04NeedRepair,
        RspA2s07AllState,
        ReqS2c05InputState,
    };
    enum Reply
    {
        NoReply,
        ReplyA2s02,
        ReplyS2c03,
        ReplyS2c05,
        ReplyC2s06,
        ReplyA2c22
    };

    Dru_Procotol_Struct record;
    QString warning;  // logged as a warning (frame out of protocol)
    QString info;     // logged at info level (group id not ours)
    QString syncText; // the frame text for sig_sync_send_core (before the signal); empty for none
    Signal signal = NoSignal;
    Reply reply = NoReply;
};

// Reads one datagram (up to its first zero byte) from senderIp:senderPort.
DruParseResult parseDruFrame(const char *data, size_t size, const QString &senderIp, int senderPort,
                             const QString &deviceSerial, const Dru_Procotol_Struct &cellConfig);

// The reply frame a reply slot sends for `reply`, and the port of the requester's role.
QString druReplyFrame(DruParseResult::Reply reply, const QString &serial);
int druReplyPort(DruParseResult::Reply reply);

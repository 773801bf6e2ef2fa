#pragma once
// Datagrams of the camera discovery and control protocol: the GigE Vision control-protocol header
// (key 0x42, flags 0x11, big-endian code, length and id 1) with payloads of our own. Builders return
// whole datagrams; the parsers read any bytes (bounded to the payload areas below); the address
// planner decides which discovered cameras get a new address. Pure functions, any thread.
//
// Ports: commands go to 3956, acks and replies to 10400, always to 255.255.255.255.

#include "udpaddress.h"

#include <QList>
#include <QMap>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <string>

namespace AcamCode {
constexpr quint16 Discover = 0x0002;
constexpr quint16 DiscoveryAck = 0x0003;
constexpr quint16 ForceIp = 0x0004;
constexpr quint16 ForceIpAck = 0x0005;
constexpr quint16 Custom = 0x0082;
constexpr quint16 CustomAck = 0x0083;
constexpr quint32 SubUptime = 1;
constexpr quint32 SubRebootDaemon = 2;
constexpr quint16 CommandPort = 3956;
constexpr quint16 AckPort = 10400;
} // namespace AcamCode

// The 216-byte discovery ack payload exactly as a camera sent it.
struct ACamDeviceInfo
{
    static constexpr int kSize = 216;
    unsigned char bytes[kSize] = {};

    const unsigned char *mac() const { return bytes; }
    uint32_t requesterIp() const { return word(8); } // network order, as the camera saw us
    uint32_t ip() const { return word(12); }
    uint32_t mask() const { return word(16); }
    uint32_t gateway() const { return word(20); }
    QString model() const { return text(56, 32); }
    QString version() const { return text(88, 32); }
    QString name() const { return text(120, 48); }
    QString id() const { return text(168, 32); }

    uint32_t word(int offset) const;
    QString text(int offset, int size) const; // up to the first zero byte within the field
};

// The 56-byte payload of a force-IP command or ack.
struct ForceIpPayload
{
    static constexpr int kSize = 56;
    unsigned char bytes[kSize] = {};
    uint32_t word(int offset) const;
    QString id() const; // offset 24, 32 bytes
};

// The 16-byte payload of a custom command or reply.
struct CustomPayload
{
    quint32 subCommand = 0;
    qint64 timeMs = 0;
};

// Header fields of any datagram of at least 8 bytes: false when shorter.
bool readAcamHeader(const char *data, size_t size, quint16 *code, quint16 *length);

// Copies min(declared length, area size, bytes present) payload bytes into a zeroed area.
void copyAcamPayload(const char *data, size_t size, unsigned char *area, int areaSize);

CustomPayload readCustomPayload(const char *data, size_t size);

std::string buildDiscoverCmd();
std::string buildUptimeCmd(); // the current time of the process clock
std::string buildRebootDaemonCmd();
std::string buildForceIpCmd(const QString &address, const QString &mask, const QString &gateway,
                            const QString &id);
std::string buildDiscoveryAck(const QString &id, const QString &requester, const QString &address,
                              const QString &mask, const QString &gateway, const QString &mac);
std::string buildForceIpAck(const QString &id, const QString &requester, const QString &address,
                            const QString &mask, const QString &gateway, const QString &mac);
std::string buildUptimeAck();
std::string buildRebootDaemonAck();

// Texts of the discovery ack.
extern const char kAcamModelText[];
extern const char kAcamVersionText[];
extern const char kAcamDeviceName[];

// One camera to re-address: send from `local` the new address, mask and gateway for `id`.
struct ForceIpPlan
{
    QString local;
    QString address;
    QString mask;
    QString gateway;
    QString id;
};

// Plans new addresses for the cameras (in id order) whose subnet differs from the local interface
// they answered through, or whose address is a local address or one kept or given to a camera
// before; hosts are searched upward from the last part and wrap from 253 to 1. Cameras with an
// address or mask that is not dotted text, or seen through no local address, are left out.
QList<ForceIpPlan> planForceIp(const QMap<QString, ACamDeviceInfo> &devices,
                               const QMap<QString, NetInterfaceInfo> &interfaces);

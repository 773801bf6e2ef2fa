#include "acamprotocol.h"
#include "clock.h"

#include <QStringList>

#include <cstring>

const char kAcamModelText[] = "QOR SMART CAMERA";
const char kAcamVersionText[] = "V2.8.6 180210 143913";
const char kAcamDeviceName[] = "QOR MONITOR";

namespace {

std::string header(quint8 first, quint8 second, quint16 code, quint16 length)
{
    std::string d(8, '\0');
    d[0] = char(first);
    d[1] = char(second);
    d[2] = char(code >> 8);
    d[3] = char(code & 0xFF);
    d[4] = char(length >> 8);
    d[5] = char(length & 0xFF);
    d[7] = 1;
    return d;
}

std::string command(quint16 code, quint16 length)
{
    return header(0x42, 0x11, code, length);
}

std::string ack(quint16 code, quint16 length)
{
    return header(0x00, 0x00, code, length);
}

void putIp(std::string &payload, int offset, const QString &text)
{
    const uint32_t address = textToIp(text);
    std::memcpy(&payload[size_t(offset)], &address, 4);
}

// ASCII, NUL-terminated and NUL-padded to the field.
void putText(std::string &payload, int offset, int fieldSize, const QByteArray &text)
{
    const int n = qMin(text.size(), fieldSize - 1);
    std::memcpy(&payload[size_t(offset)], text.constData(), size_t(n));
}

void putLe(std::string &payload, int offset, quint64 value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        payload[size_t(offset + i)] = char((value >> (8 * i)) & 0xFF);
}

std::string custom(bool isAck, quint32 subCommand, qint64 timeMs)
{
    std::string payload(16, '\0');
    putLe(payload, 0, subCommand, 4);
    putLe(payload, 8, quint64(timeMs), 8);
    return (isAck ? ack(AcamCode::CustomAck, 16) : command(AcamCode::Custom, 16)) + payload;
}

std::string addressPayload(const QString &id, const QString &requester, const QString &address,
                           const QString &mask, const QString &gateway, const QString &mac, int size,
                           int idOffset)
{
    std::string payload(size_t(size), '\0');
    unsigned char macBytes[6] = {};
    textToMac(mac, macBytes);
    std::memcpy(&payload[0], macBytes, 6);
    putIp(payload, 8, requester);
    putIp(payload, 12, address);
    putIp(payload, 16, mask);
    putIp(payload, 20, gateway);
    putText(payload, idOffset, 32, id.toLatin1());
    return payload;
}

uint32_t wordAt(const unsigned char *bytes, int offset)
{
    uint32_t w;
    std::memcpy(&w, bytes + offset, 4);
    return w;
}

QString textAt(const unsigned char *bytes, int offset, int size)
{
    const char *p = reinterpret_cast<const char *>(bytes + offset);
    const void *nul = std::memchr(p, 0, size_t(size));
    return QString::fromLatin1(p, nul ? int(static_cast<const char *>(nul) - p) : size);
}

} // namespace

uint32_t ACamDeviceInfo::word(int offset) const
{
    return wordAt(bytes, offset);
}

QString ACamDeviceInfo::text(int offset, int size) const
{
    return textAt(bytes, offset, size);
}

uint32_t ForceIpPayload::word(int offset) const
{
    return wordAt(bytes, offset);
}

QString ForceIpPayload::id() const
{
    return textAt(bytes, 24, 32);
}

bool readAcamHeader(const char *data, size_t size, quint16 *code, quint16 *length)
{
    if (size < 8)
        return false;
    const auto *b = reinterpret_cast<const unsigned char *>(data);
    *code = quint16((b[2] << 8) | b[3]);
    *length = quint16((b[4] << 8) | b[5]);
    return true;
}

void copyAcamPayload(const char *data, size_t size, unsigned char *area, int areaSize)
{
    std::memset(area, 0, size_t(areaSize));
    quint16 code = 0;
    quint16 length = 0;
    if (!readAcamHeader(data, size, &code, &length))
        return;
    const size_t n = qMin(qMin(size_t(length), size_t(areaSize)), size - 8);
    std::memcpy(area, data + 8, n);
}

CustomPayload readCustomPayload(const char *data, size_t size)
{
    unsigned char area[16];
    copyAcamPayload(data, size, area, 16);
    CustomPayload p;
    for (int i = 0; i < 4; ++i)
        p.subCommand |= quint32(area[i]) << (8 * i);
    quint64 t = 0;
    for (int i = 0; i < 8; ++i)
        t |= quint64(area[8 + i]) << (8 * i);
    p.timeMs = qint64(t);
    return p;
}

std::string buildDiscoverCmd()
{
    return command(AcamCode::Discover, 0);
}

std::string buildUptimeCmd()
{
    return custom(false, AcamCode::SubUptime, appNow().toMSecsSinceEpoch());
}

std::string buildRebootDaemonCmd()
{
    return custom(false, AcamCode::SubRebootDaemon, 0);
}

std::string buildForceIpCmd(const QString &address, const QString &mask, const QString &gateway,
                            const QString &id)
{
    std::string payload(ForceIpPayload::kSize, '\0');
    putIp(payload, 12, address);
    putIp(payload, 16, mask);
    putIp(payload, 20, gateway);
    putText(payload, 24, 32, id.toLatin1());
    return command(AcamCode::ForceIp, ForceIpPayload::kSize) + payload;
}

std::string buildDiscoveryAck(const QString &id, const QString &requester, const QString &address,
                              const QString &mask, const QString &gateway, const QString &mac)
{
    std::string payload =
        addressPayload(id, requester, address, mask, gateway, mac, ACamDeviceInfo::kSize, 168);
    putText(payload, 24, 4, "GEV");
    putText(payload, 56, 32, kAcamModelText);
    putText(payload, 88, 32, kAcamVersionText);
    putText(payload, 120, 48, kAcamDeviceName);
    return ack(AcamCode::DiscoveryAck, ACamDeviceInfo::kSize) + payload;
}

std::string buildForceIpAck(const QString &id, const QString &requester, const QString &address,
                            const QString &mask, const QString &gateway, const QString &mac)
{
    return ack(AcamCode::ForceIpAck, ForceIpPayload::kSize) +
           addressPayload(id, requester, address, mask, gateway, mac, ForceIpPayload::kSize, 24);
}

std::string buildUptimeAck()
{
    return custom(true, AcamCode::SubUptime, appNow().toMSecsSinceEpoch());
}

std::string buildRebootDaemonAck()
{
    return custom(true, AcamCode::SubRebootDaemon, appNow().toMSecsSinceEpoch());
}

QList<ForceIpPlan> planForceIp(const QMap<QString, ACamDeviceInfo> &devices,
                               const QMap<QString, NetInterfaceInfo> &interfaces)
{
    QList<ForceIpPlan> plans;
    for (auto it = devices.cbegin(); it != devices.cend(); ++it) {
        const QString devIp = ipToText(it->ip());
        const QString devMask = ipToText(it->mask());
        const QString seenIp = ipToText(it->requesterIp());
        QString localMask;
        for (const NetInterfaceInfo &i : interfaces) {
            if (i.ip == seenIp) {
                localMask = i.mask;
                break;
            }
        }
        const QString netDev = networkAddress(devIp, devMask);
        const QString netLocal = networkAddress(seenIp, localMask);
        if (netDev.isEmpty() || netLocal.isEmpty())
            continue;
        ForceIpPlan plan;
        plan.local = seenIp;
        plan.id = it.key();
        const bool moveIntoLocalSubnet = netDev != netLocal;
        plan.address = moveIntoLocalSubnet ? seenIp : devIp;
        plan.mask = moveIntoLocalSubnet ? localMask : devMask;
        plans << plan;
    }

    QStringList used;
    for (const NetInterfaceInfo &i : interfaces)
        used << i.ip;
    QList<ForceIpPlan> toSend;
    for (ForceIpPlan &plan : plans) {
        if (!used.contains(plan.address)) {
            used << plan.address;
            continue;
        }
        const QStringList parts = plan.address.split(QLatin1Char('.'));
        if (parts.size() != 4)
            continue;
        const int last = int(parts.at(3).toUInt()); // 0 when it is not a number
        for (int i = 0; i <= 248; ++i) {
            QString candidate = plan.address;
            replaceLastOctet(candidate, (last + i) % 253 + 1);
            if (!used.contains(candidate)) {
                plan.address = candidate;
                plan.gateway = candidate;
                used << candidate;
                toSend << plan;
                break;
            }
        }
    }
    return toSend;
}

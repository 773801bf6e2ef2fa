// libFuzzer target for the camera protocol's ack reading and the address planner.
//
// The input is read as one received datagram (header, declared length, payload) and, cut into
// 216-byte records, as the discovery acks of several cameras. Checked: the payload areas hold exactly
// min(declared length, area, bytes present) bytes of the input and zeros after; every text read from
// an area stays inside its field; and every address the planner gives is on the local subnet, has
// a host number from 1 to 253, and is neither a local address nor given twice.

#include "acamprotocol.h"

#include <QSet>
#include <QStringList>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
}

void checkArea(const uint8_t *data, size_t size, const unsigned char *area, int areaSize)
{
    quint16 code = 0;
    quint16 length = 0;
    const bool hasHeader = readAcamHeader(reinterpret_cast<const char *>(data), size, &code, &length);
    check(hasHeader == (size >= 8));
    const size_t copied = hasHeader ? std::min<size_t>(std::min<size_t>(length, areaSize), size - 8) : 0;
    check(copied == 0 || std::memcmp(area, data + 8, copied) == 0);
    for (int i = int(copied); i < areaSize; ++i)
        check(area[i] == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const char *bytes = reinterpret_cast<const char *>(data);
    ACamDeviceInfo info;
    copyAcamPayload(bytes, size, info.bytes, ACamDeviceInfo::kSize);
    checkArea(data, size, info.bytes, ACamDeviceInfo::kSize);
    check(info.id().size() <= 32 && info.model().size() <= 32 && info.name().size() <= 48);
    ForceIpPayload force;
    copyAcamPayload(bytes, size, force.bytes, ForceIpPayload::kSize);
    checkArea(data, size, force.bytes, ForceIpPayload::kSize);
    check(force.id().size() <= 32);
    readCustomPayload(bytes, size);

    QMap<QString, NetInterfaceInfo> interfaces;
    interfaces.insert("02:00:00:00:00:01",
                      NetInterfaceInfo{"eth0", "192.168.1.10", "255.255.255.0", "", ""});
    interfaces.insert("02:00:00:00:00:02", NetInterfaceInfo{"eth1", "10.0.0.253", "255.255.0.0", "", ""});
    QMap<QString, ACamDeviceInfo> devices;
    for (size_t at = 0; at + ACamDeviceInfo::kSize <= size; at += ACamDeviceInfo::kSize) {
        ACamDeviceInfo d;
        std::memcpy(d.bytes, data + at, ACamDeviceInfo::kSize);
        // Seen through one of the two local addresses, so that many inputs get planned.
        const uint32_t seen =
            textToIp((data[at] & 1) ? QStringLiteral("10.0.0.253") : QStringLiteral("192.168.1.10"));
        std::memcpy(d.bytes + 8, &seen, 4);
        devices.insert(d.id(), d);
    }
    QSet<QString> given;
    for (const ForceIpPlan &plan : planForceIp(devices, interfaces)) {
        const NetInterfaceInfo *local = nullptr;
        for (const NetInterfaceInfo &i : interfaces)
            if (i.ip == plan.local)
                local = &i;
        check(local != nullptr);
        check(networkAddress(plan.address, local->mask) == networkAddress(local->ip, local->mask) ||
              plan.mask != local->mask);
        const QStringList parts = plan.address.split('.');
        check(parts.size() == 4);
        const int host = parts.at(3).toInt();
        check(host >= 1 && host <= 253);
        check(plan.gateway == plan.address && devices.contains(plan.id));
        for (const NetInterfaceInfo &i : interfaces)
            check(i.ip != plan.address);
        check(!given.contains(plan.address));
        given.insert(plan.address);
    }
    return 0;
}

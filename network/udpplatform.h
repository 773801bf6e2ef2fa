#pragma once
// What the UDP core asks of the operating system: the interface list and the SIOCGIF* queries, the
// route table and the default-route changes (SIOCDELRT/SIOCADDRT), and "/proc/cpuinfo". Tests install
// a fake; nothing else in the program changes routes.
//
// The default platform of the desktop build lists only the loopback device (under the name
// kDesktopLoopbackName), so discovery broadcasts stay on this machine, and it logs route changes
// instead of making them. The box build's default platform uses the real interfaces and routes.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>

class UdpPlatform
{
public:
    enum Query
    {
        HardwareAddress,
        Address,
        Netmask
    };
    // Results of the queries and route changes besides 0 (success) and an errno value.
    static constexpr int kNoSocket = -1;

    virtual ~UdpPlatform() = default;

    // Names of the network interfaces, in the system's order.
    virtual QStringList interfaceNames() = 0;

    // One SIOCGIF* request for `name`: 0 with `out` filled (HardwareAddress: 6 bytes; Address and
    // Netmask: 4 bytes in network order), kNoSocket, or the errno of the failed request.
    virtual int queryInterface(const QString &name, Query query, unsigned char out[6]) = 0;

    // The text of "/proc/net/route"; false when it cannot be read.
    virtual bool readRouteTable(QByteArray *content) = 0;

    // Deletes the default route (add false) or adds one through `gatewayNetworkOrder`: 0, kNoSocket,
    // or the errno of the failed request.
    virtual int changeDefaultRoute(bool add, uint32_t gatewayNetworkOrder) = 0;

    // The text of "/proc/cpuinfo": false when the file does not exist; an empty text when it exists
    // but cannot be read.
    virtual bool readCpuInfo(QByteArray *content) = 0;
};

// Name under which the desktop build's platform lists the loopback device.
extern const char kDesktopLoopbackName[];

// The installed platform (any thread; install before any UDP endpoint exists).
UdpPlatform *udpPlatform();

// Installs a platform (not owned); nullptr restores the default one.
void setUdpPlatform(UdpPlatform *platform);

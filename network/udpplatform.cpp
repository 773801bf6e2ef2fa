#include "udpplatform.h"
#include "networklog.h"
#include "udpaddress.h"

#include <QFile>
#include <QNetworkInterface>

#include <cerrno>
#include <cstring>
#include <net/if.h>
#include <net/route.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>

const char kDesktopLoopbackName[] = "loopback";

namespace {

// Closes a descriptor on every return path.
class Fd
{
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

class SystemUdpPlatform : public UdpPlatform
{
public:
    QStringList interfaceNames() override
    {
#ifdef MG_BOX_BUILD
        QStringList names;
        for (const QNetworkInterface &i : QNetworkInterface::allInterfaces())
            names << i.name();
        return names;
#else
        return {QString::fromLatin1(kDesktopLoopbackName)};
#endif
    }

    int queryInterface(const QString &name, Query query, unsigned char out[6]) override
    {
        QByteArray device = name.toLocal8Bit();
#ifndef MG_BOX_BUILD
        // The one interface of the desktop build is the loopback device.
        if (name != QLatin1String(kDesktopLoopbackName))
            return ENODEV;
        device = "lo";
#endif
        if (device.size() >= IFNAMSIZ)
            return ENODEV;
        Fd sock(::socket(AF_INET, SOCK_DGRAM, 0));
        if (sock.get() < 0)
            return kNoSocket;
        ifreq request;
        std::memset(&request, 0, sizeof request);
        std::memcpy(request.ifr_name, device.constData(), size_t(device.size()));
        const unsigned long code = query == HardwareAddress ? SIOCGIFHWADDR
                                   : query == Address       ? SIOCGIFADDR
                                                            : SIOCGIFNETMASK;
        if (::ioctl(sock.get(), code, &request) < 0)
            return errno ? errno : EIO;
        if (query == HardwareAddress) {
            std::memcpy(out, request.ifr_hwaddr.sa_data, 6);
        } else {
            const sockaddr *sa = query == Address ? &request.ifr_addr : &request.ifr_netmask;
            sockaddr_in sin;
            std::memcpy(&sin, sa, sizeof sin);
            std::memcpy(out, &sin.sin_addr.s_addr, 4);
        }
        return 0;
    }

    bool readRouteTable(QByteArray *content) override
    {
        QFile file(QStringLiteral("/proc/net/route"));
        if (!file.open(QIODevice::ReadOnly))
            return false;
        *content = file.readAll();
        return true;
    }

    int changeDefaultRoute(bool add, uint32_t gatewayNetworkOrder) override
    {
#ifndef MG_BOX_BUILD
        // A developer's machine keeps its routes.
        qCWarning(lcNetwork).noquote() << "desktop build, not run:" << (add ? "SIOCADDRT" : "SIOCDELRT")
                                       << "default" << (add ? ipToText(gatewayNetworkOrder) : QString());
        return add ? 0 : ESRCH;
#else
        Fd sock(::socket(AF_INET, SOCK_DGRAM, 0));
        if (sock.get() < 0)
            return kNoSocket;
        rtentry route;
        std::memset(&route, 0, sizeof route);
        sockaddr_in any;
        std::memset(&any, 0, sizeof any);
        any.sin_family = AF_INET;
        std::memcpy(&route.rt_dst, &any, sizeof any);
        std::memcpy(&route.rt_genmask, &any, sizeof any);
        route.rt_flags = RTF_UP;
        if (add) {
            sockaddr_in gateway = any;
            gateway.sin_addr.s_addr = gatewayNetworkOrder;
            std::memcpy(&route.rt_gateway, &gateway, sizeof gateway);
            route.rt_flags |= RTF_GATEWAY;
        }
        if (::ioctl(sock.get(), add ? SIOCADDRT : SIOCDELRT, &route) < 0)
            return errno ? errno : EIO;
        return 0;
#endif
    }

    bool readCpuInfo(QByteArray *content) override
    {
        QFile file(QStringLiteral("/proc/cpuinfo"));
        if (!file.exists())
            return false;
        content->clear();
        if (file.open(QIODevice::ReadOnly))
            *content = file.readAll();
        return true;
    }
};

SystemUdpPlatform gSystemPlatform;
std::atomic<UdpPlatform *> gPlatform{&gSystemPlatform};

} // namespace

UdpPlatform *udpPlatform()
{
    return gPlatform.load();
}

void setUdpPlatform(UdpPlatform *platform)
{
    gPlatform.store(platform ? platform : &gSystemPlatform);
}

#include "udptestsupport.h"
#include "udpaddress.h"

#include <QElapsedTimer>
#include <QThread>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

void FakeUdpPlatform::addInterface(const QString &name, const QString &mac, const QString &ip,
                                   const QString &mask)
{
    unsigned char bytes[6] = {};
    textToMac(mac, bytes);
    interfaces << Interface{name, QByteArray(reinterpret_cast<const char *>(bytes), 6), ip, mask};
}

QStringList FakeUdpPlatform::interfaceNames()
{
    QStringList names;
    for (const Interface &i : interfaces)
        names << i.name;
    return names;
}

int FakeUdpPlatform::queryInterface(const QString &name, Query query, unsigned char out[6])
{
    for (const Interface &i : interfaces) {
        if (i.name != name)
            continue;
        if (query == HardwareAddress) {
            std::memcpy(out, i.mac.constData(), 6);
            return 0;
        }
        if (i.ip.isEmpty())
            return EADDRNOTAVAIL;
        const uint32_t a = inet_addr((query == Address ? i.ip : i.mask).toLatin1().constData());
        std::memcpy(out, &a, 4);
        return 0;
    }
    return ENODEV;
}

bool FakeUdpPlatform::readRouteTable(QByteArray *content)
{
    *content = routeTable;
    return true;
}

int FakeUdpPlatform::changeDefaultRoute(bool add, uint32_t gatewayNetworkOrder)
{
    routeCalls << (add ? QStringLiteral("add ") + ipToText(gatewayNetworkOrder) : QStringLiteral("del"));
    return add ? addResult : deleteResult;
}

bool FakeUdpPlatform::readCpuInfo(QByteArray *content)
{
    *content = cpuInfo;
    return cpuInfoExists;
}

CommandResult RecordingRunner::run(const QString &program, const QStringList &arguments, int)
{
    calls << (QStringList{program} + arguments).join(QLatin1Char(' '));
    if (onRun)
        onRun(program, arguments);
    CommandResult r;
    r.started = true;
    r.exitCode = failingPrograms.contains(program) ? 1 : 0;
    if (program == QLatin1String("blkid"))
        r.standardOutput = blkidOutput;
    return r;
}

UdpTestPeer::~UdpTestPeer()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool UdpTestPeer::bind(const char *ip, quint16 port, int waitMs)
{
    m_fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    const int on = 1;
    ::setsockopt(m_fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = inet_addr(ip);
    QElapsedTimer t;
    t.start();
    while (::bind(m_fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        if (errno != EADDRINUSE || t.elapsed() > waitMs)
            return false;
        QThread::msleep(50);
    }
    return true;
}

quint16 UdpTestPeer::port() const
{
    sockaddr_in a{};
    socklen_t n = sizeof a;
    ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&a), &n);
    return ntohs(a.sin_port);
}

bool UdpTestPeer::sendTo(const char *ip, quint16 port, const QByteArray &bytes)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = inet_addr(ip);
    return ::sendto(m_fd, bytes.constData(), size_t(bytes.size()), 0, reinterpret_cast<sockaddr *>(&a),
                    sizeof a) == bytes.size();
}

QByteArray UdpTestPeer::receive(int timeoutMs, sockaddr_in *from)
{
    pollfd p{m_fd, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0)
        return QByteArray();
    char buffer[65536];
    sockaddr_in sender{};
    socklen_t n = sizeof sender;
    const ssize_t got =
        ::recvfrom(m_fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr *>(&sender), &n);
    if (from)
        *from = sender;
    return got < 0 ? QByteArray() : QByteArray(buffer, int(got));
}

quint16 freeLoopbackPort()
{
    UdpTestPeer probe;
    return probe.bind("127.0.0.1", 0) ? probe.port() : 0;
}

bool waitForPort(const char *ip, quint16 port)
{
    UdpTestPeer probe;
    return probe.bind(ip, port);
}

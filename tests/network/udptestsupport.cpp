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

namespace {
sockaddr_in socketAddress(const char *ip, quint16 port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = inet_addr(ip);
    return a;
}
} // namespace

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
        if (query == HardwareAddress)
            return textToMac(i.mac, out);
        if (i.ip.isEmpty())
            return EADDRNOTAVAIL;
        const uint32_t a = textToIp(query == Address ? i.ip : i.mask);
        std::memcpy(out, &a, 4);
        return 0;
    }
    return ENODEV;
}

int FakeUdpPlatform::changeDefaultRoute(bool add, uint32_t gatewayNetworkOrder)
{
    routeCalls << (add ? "add " + ipToText(gatewayNetworkOrder) : QStringLiteral("del"));
    return add ? 0 : deleteResult;
}

CommandResult RecordingRunner::run(const QString &program, const QStringList &arguments, int)
{
    calls << (QStringList{program} + arguments).join(' ');
    if (onRun)
        onRun(program, arguments);
    CommandResult r;
    r.started = true;
    r.exitCode = failingPrograms.contains(program) ? 1 : 0;
    r.standardOutput = program == "blkid" ? blkidOutput : QByteArray();
    return r;
}

UdpTestPeer::~UdpTestPeer()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool UdpTestPeer::bind(const char *ip, quint16 port)
{
    m_fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    const int on = 1;
    ::setsockopt(m_fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    const sockaddr_in a = socketAddress(ip, port);
    QElapsedTimer waited;
    waited.start();
    while (::bind(m_fd, reinterpret_cast<const sockaddr *>(&a), sizeof a) != 0) {
        if (errno != EADDRINUSE || waited.elapsed() > 30000)
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
    const sockaddr_in a = socketAddress(ip, port);
    return ::sendto(m_fd, bytes.constData(), size_t(bytes.size()), 0, reinterpret_cast<const sockaddr *>(&a),
                    sizeof a) == bytes.size();
}

QByteArray UdpTestPeer::receive(int timeoutMs)
{
    pollfd p{m_fd, POLLIN, 0};
    char buffer[65536];
    if (::poll(&p, 1, timeoutMs) <= 0)
        return QByteArray();
    const ssize_t got = ::recv(m_fd, buffer, sizeof buffer, 0);
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

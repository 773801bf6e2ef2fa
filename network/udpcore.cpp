#include "udpcore.h"
#include "clock.h"
#include "commandrunner.h"
#include "mutexlocker.h"
#include "networklog.h"
#include "queuedhandoff.h"
#include "udpplatform.h"

#include <QEventLoop>
#include <QRegularExpression>
#include <QThread>
#include <QTimer>

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <net/if.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

namespace {

constexpr int kReceiveBufferSize = 2048;
constexpr int kPollPeriodMs = 200;
constexpr int kBindAttempts = 1000;

quintptr threadId()
{
    return reinterpret_cast<quintptr>(QThread::currentThreadId());
}

// An IPv4 datagram socket with broadcast permission that is not inherited by programs we start.
// Descriptor 0 means "no socket" to the callers, so a socket that lands on 0 is moved.
int makeUdpSocket(bool *broadcastOk)
{
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd == 0) {
        const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 1);
        ::close(fd);
        fd = moved;
    }
    if (fd < 0) {
        *broadcastOk = false;
        return -1;
    }
    const int on = 1;
    *broadcastOk = ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) == 0;
    return fd;
}

QString addressText(const sockaddr_in &address)
{
    return ipToText(address.sin_addr.s_addr);
}

sockaddr_in localAddressOf(int fd)
{
    sockaddr_in local;
    std::memset(&local, 0, sizeof local);
    socklen_t length = sizeof local;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&local), &length);
    return local;
}

// The bytes up to the first zero byte.
QByteArray untilNul(const char *data, int size)
{
    const void *nul = std::memchr(data, 0, size_t(size));
    return QByteArray(data, nul ? int(static_cast<const char *>(nul) - data) : size);
}

} // namespace

bool staysOnThisMachine(const sockaddr_in &local, const sockaddr_in &destination)
{
    const uint32_t to = ntohl(destination.sin_addr.s_addr);
    if ((to >> 24) == 127)
        return true;
    return to == 0xFFFFFFFFu && (ntohl(local.sin_addr.s_addr) >> 24) == 127;
}

UdpPeer defaultUdpPeer()
{
    UdpPeer peer;
    peer.peerIp = "255.255.255.255";
    peer.peerPort = 10411;
    peer.localIp = "0.0.0.0";
    peer.timeoutMs = 100;
    peer.resendMs = 0;
    return peer;
}

// ---- UdpSendSocket ---------------------------------------------------------------------------

UdpSendSocket::~UdpSendSocket()
{
    if (fd > 0)
        ::close(fd);
}

UdpSendSocket::UdpSendSocket(UdpSendSocket &&other) noexcept
{
    *this = std::move(other);
}

UdpSendSocket &UdpSendSocket::operator=(UdpSendSocket &&other) noexcept
{
    if (this != &other) {
        if (fd > 0)
            ::close(fd);
        peerIp = std::move(other.peerIp);
        peerPort = other.peerPort;
        localIp = std::move(other.localIp);
        timeoutMs = other.timeoutMs;
        resendMs = other.resendMs;
        fd = other.fd;
        destinationValid = other.destinationValid;
        destination = other.destination;
        other.fd = 0;
    }
    return *this;
}

int UdpSendSocket::sendBytes(const char *data, int length)
{
    return sendMsg(*this, std::string(data, size_t(qMax(length, 0))));
}

UdpSendSocket openSendSocket(const UdpPeer &peer)
{
    UdpSendSocket s;
    s.peerIp = peer.peerIp;
    s.peerPort = peer.peerPort;
    s.localIp = peer.localIp;
    s.timeoutMs = peer.timeoutMs;
    s.resendMs = peer.resendMs;
    s.destination.sin_family = AF_INET;
    s.destination.sin_port = htons(quint16(peer.peerPort));
    s.destinationValid = ::inet_pton(AF_INET, peer.peerIp.c_str(), &s.destination.sin_addr) == 1;

    // No matching local interface leaves the local address empty: the socket then takes any address
    // rather than failing every bind.
    const std::string localText = peer.localIp.empty() ? std::string("0.0.0.0") : peer.localIp;
    sockaddr_in local;
    std::memset(&local, 0, sizeof local);
    local.sin_family = AF_INET;
    if (::inet_pton(AF_INET, localText.c_str(), &local.sin_addr) != 1) {
        qCWarning(lcNetwork).noquote() << "no send socket: local address"
                                       << escapeForLog(QString::fromStdString(localText)) << "is no address";
        return s;
    }
    int lastError = 0;
    for (int attempt = 0; attempt < kBindAttempts; ++attempt) {
        bool broadcastOk = false;
        const int fd = makeUdpSocket(&broadcastOk);
        if (fd < 0) {
            lastError = errno;
            break;
        }
        setNonBlocking(fd);
        local.sin_port = htons(randomLocalPort());
        if (::bind(fd, reinterpret_cast<const sockaddr *>(&local), sizeof local) == 0) {
            s.fd = fd;
            return s;
        }
        lastError = errno;
        ::close(fd);
        // Only a taken port is worth another try; an address that is not ours stays not ours.
        if (lastError != EADDRINUSE)
            break;
    }
    qCWarning(lcNetwork).noquote() << "no send socket from" << QString::fromStdString(localText) << ":"
                                   << QString::fromLocal8Bit(std::strerror(lastError));
    return s;
}

int sendMsg(UdpSendSocket &socket, const std::string &data)
{
    if (socket.fd <= 0)
        return -1;
    if (!socket.destinationValid) {
        qCWarning(lcNetwork).noquote()
            << "not sent: destination" << escapeForLog(QString::fromStdString(socket.peerIp))
            << "is no address";
        return -1;
    }
    const sockaddr_in local = localAddressOf(socket.fd);
    // Each send comes from a new port, so these lines escape the log's repeat rule, and the answers
    // to a flood of datagrams would be a flood of lines: they are capped per second and thread.
    thread_local LogLineLimit sendLines(20);
#ifndef MG_BOX_BUILD
    if (!staysOnThisMachine(local, socket.destination)) {
        thread_local LogLineLimit notSentLines(20);
        if (notSentLines.allowAfterCount(lcNetwork(), "desktop build, not sent beyond this machine:"))
            qCWarning(lcNetwork).noquote()
                << "desktop build, not sent beyond this machine:" << addressText(local) << "->"
                << addressText(socket.destination);
        return -1;
    }
#endif
    const ssize_t sent =
        ::sendto(socket.fd, data.data(), data.size(), 0,
                 reinterpret_cast<const sockaddr *>(&socket.destination), sizeof socket.destination);
    if (sendLines.allowAfterCount(lcNetwork(), "--SendMsg"))
        qCInfo(lcNetwork).noquote() << "--SendMsg"
                                    << QStringLiteral("%1/%2 -> %3/%4 (%5):")
                                           .arg(addressText(local))
                                           .arg(ntohs(local.sin_port))
                                           .arg(addressText(socket.destination))
                                           .arg(socket.peerPort)
                                           .arg(data.size())
                                    << escapeForLog(
                                           QString::fromUtf8(untilNul(data.data(), int(data.size()))));
    return int(sent);
}

int setNonBlocking(int fd)
{
    const int flags = ::fcntl(fd, F_GETFL, 0);
    return ::fcntl(fd, F_SETFL, (flags < 0 ? 0 : flags) | O_NONBLOCK);
}

// ---- interface and serial queries --------------------------------------------------------------

int getInterfaceInfo(const char *name, char *ip, char *mask, char *gateway, char *mac)
{
    UdpPlatform *platform = udpPlatform();
    const QString device = QString::fromLocal8Bit(name);
    unsigned char out[6] = {};
    int rc = platform->queryInterface(device, UdpPlatform::HardwareAddress, out);
    if (rc == UdpPlatform::kNoSocket) {
        qCWarning(lcNetwork) << "socket error";
        return -1;
    }
    if (rc != 0) {
        qCWarning(lcNetwork) << "ioctl SIOCGIFHWADDR error";
        return -2;
    }
    std::snprintf(mac, 18, "%s", macToText(out).toLatin1().constData());

    uint32_t address = 0;
    if (platform->queryInterface(device, UdpPlatform::Address, out) != 0)
        return -4;
    std::memcpy(&address, out, 4);
    std::snprintf(ip, 16, "%s", ipToText(address).toLatin1().constData());

    uint32_t netmask = 0;
    if (platform->queryInterface(device, UdpPlatform::Netmask, out) != 0)
        return -5;
    std::memcpy(&netmask, out, 4);
    std::snprintf(mask, 16, "%s", ipToText(netmask).toLatin1().constData());

    QByteArray table;
    if (!platform->readRouteTable(&table))
        return -6;
    const QList<QByteArray> lines = table.split('\n');
    for (int i = 1; i < lines.size(); ++i) {
        // The interface name is bounded to its system size: a longer one no longer overruns it.
        char iface[IFNAMSIZ] = {};
        unsigned long destination = 0;
        unsigned long via = 0;
        const QByteArray line = lines.at(i).left(255);
        if (std::sscanf(line.constData(), "%15s\t%lX\t%lX", iface, &destination, &via) == 3 &&
            destination == 0) {
            std::snprintf(gateway, 16, "%s", ipToText(uint32_t(via)).toLatin1().constData());
            return 0;
        }
    }

    // No default route: install one through this interface.
    const int removed = platform->changeDefaultRoute(false, 0);
    if (removed == UdpPlatform::kNoSocket)
        return -7;
    if (removed != 0 && removed != ESRCH)
        return -8;
    if (address != 0) {
        const int added = platform->changeDefaultRoute(true, address);
        if (added == UdpPlatform::kNoSocket)
            return -7;
        if (added != 0)
            return -8;
    }
    std::snprintf(gateway, 16, "%s", ip);
    return 0;
}

QString readBlkidExt4Uuid()
{
    const CommandResult result = runCommand(QStringLiteral("blkid"), {}, 1000);
    const QByteArray output = untilNul(result.standardOutput.constData(), result.standardOutput.size());
    static const QRegularExpression uuidPattern(QStringLiteral("^.*\\s+UUID=\"(\\S+)\".*"));
    QString uuid;
    for (const QString &line : QString::fromUtf8(output).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QStringList parts = line.split(QStringLiteral("TYPE="), Qt::SkipEmptyParts);
        if (parts.size() != 2 || !parts.at(1).contains(QLatin1String("ext4")))
            continue;
        const QRegularExpressionMatch match = uuidPattern.match(line);
        if (match.hasMatch())
            uuid = match.captured(1);
    }
    return uuid;
}

QString readDeviceSerial()
{
    QString serial = QString::number(appNow().toMSecsSinceEpoch());
    QByteArray cpuInfo;
    if (!udpPlatform()->readCpuInfo(&cpuInfo))
        return serial;
    static const QRegularExpression serialLine(QStringLiteral("^Serial\\s+:\\s+(\\S+)"));
    bool found = false;
    const QByteArray text = untilNul(cpuInfo.constData(), cpuInfo.size());
    for (const QString &line : QString::fromUtf8(text).split(QLatin1Char('\n'))) {
        const QRegularExpressionMatch match = serialLine.match(line);
        if (match.hasMatch()) {
            serial = match.captured(1);
            found = true;
        }
    }
    if (!found) {
        const QString uuid = readBlkidExt4Uuid();
        if (!uuid.isEmpty())
            serial = uuid;
    }
    serial.remove(QLatin1Char(';'));
    return serial.split(QLatin1Char('-')).last();
}

// ---- UDP_Core ----------------------------------------------------------------------------------

UDP_Core::UDP_Core(QObject *parent) : QObject(parent)
{
    qRegisterMetaType<sockaddr_in>("sockaddr_in");
    qRegisterMetaType<std::string>("std::string");
    trackQueuedHandoffs();
    for (const QString &name : udpPlatform()->interfaceNames()) {
        if (name == QLatin1String("lo"))
            continue;
        char ip[16] = {};
        char mask[16] = {};
        char gateway[16] = {};
        char mac[18] = {};
        if (getInterfaceInfo(name.toLocal8Bit().constData(), ip, mask, gateway, mac) < 0)
            continue;
        NetInterfaceInfo info;
        info.name = name;
        info.ip = QString::fromLatin1(ip);
        info.mask = QString::fromLatin1(mask);
        info.gateway = QString::fromLatin1(gateway);
        info.mac = QString::fromLatin1(mac);
        interfaces.insert(info.mac, info);
    }
    deviceSerial = readDeviceSerial();
}

UDP_Core::~UDP_Core()
{
    stopListen();
    if (m_loopThread.joinable())
        m_loopThread.detach(); // only when destroyed from its own loop; it ends after this pass
    MutexLocker lock(&socketsMutex);
    for (int fd : qAsConst(listenSockets))
        if (fd > 0)
            ::close(fd);
    listenSockets.clear();
}

int UDP_Core::startListen(const std::string &address, quint16 port)
{
    qCDebug(lcNetwork).noquote() << "listen:" << QString::fromStdString(address) << "/" << port
                                 << threadId();
    listening = true;
    bool broadcastOk = false;
    const int fd = makeUdpSocket(&broadcastOk);
    if (!broadcastOk) {
        if (fd >= 0)
            ::close(fd);
        return 2;
    }
    if (setNonBlocking(fd) < 0) {
        ::close(fd);
        return 8;
    }
    sockaddr_in local;
    std::memset(&local, 0, sizeof local);
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    if (::inet_pton(AF_INET, address.c_str(), &local.sin_addr) != 1 ||
        ::bind(fd, reinterpret_cast<const sockaddr *>(&local), sizeof local) != 0) {
        ::close(fd);
        return 4;
    }
    {
        MutexLocker lock(&socketsMutex);
        listenSockets.append(fd);
    }
    if (!m_loopRunning.load()) {
        if (m_loopThread.joinable())
            m_loopThread.join();
        m_loopRunning = true;
        // A thread of its own: the loop would hold a worker of the global pool for the object's life
        // and starve the wait dialogs that run there.
        m_loopThread = std::thread([this] {
            Slot_StartListen();
            m_loopRunning = false;
        });
    }
    return 0;
}

void UDP_Core::stopListen()
{
    listening = false;
    if (m_loopThread.joinable() && m_loopThread.get_id() != std::this_thread::get_id())
        m_loopThread.join();
}

void UDP_Core::Slot_StartListen()
{
    while (listening.load()) {
        QList<int> sockets;
        {
            MutexLocker lock(&socketsMutex);
            sockets = listenSockets;
        }
        if (sockets.isEmpty()) {
            listening = false;
            break;
        }
        // poll(), not select(): a descriptor of 1024 or more does not fit an fd_set.
        std::vector<pollfd> watched;
        for (int fd : qAsConst(sockets))
            if (fd > 0)
                watched.push_back(pollfd{fd, POLLIN, 0});
        const int ready = ::poll(watched.data(), nfds_t(watched.size()), kPollPeriodMs);
        reportHeldBackRecvLines();
        logDroppedCalls();
        if (ready <= 0)
            continue;
        for (const pollfd &p : watched)
            if (p.revents & (POLLIN | POLLERR))
                receiveFrom(p.fd);
        logDroppedCalls();
    }
    logDroppedCalls();
    qCDebug(lcNetwork) << "finish listening" << threadId();
}

void UDP_Core::receiveFrom(int fd)
{
    const sockaddr_in local = localAddressOf(fd);
    char buffer[kReceiveBufferSize];
    std::memset(buffer, 0, sizeof buffer);
    sockaddr_in sender;
    std::memset(&sender, 0, sizeof sender);
    socklen_t senderLength = sizeof sender;
    // A longer datagram is cut to the buffer; the rest is lost.
    if (::recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr *>(&sender), &senderLength) < 0)
        return;
    const QByteArray text = untilNul(buffer, kReceiveBufferSize);
    reportHeldBackRecvLines();
    if (recvMsgLimit.allow())
        qCInfo(lcNetwork).noquote() << "--RecvMsg"
                                    << QStringLiteral("%1/%2 <- %3/%4 (%5):")
                                           .arg(addressText(local))
                                           .arg(ntohs(local.sin_port))
                                           .arg(addressText(sender))
                                           .arg(ntohs(sender.sin_port))
                                           .arg(text.size())
                                    << escapeForLog(QString::fromUtf8(text));
    std::string received(buffer, kReceiveBufferSize);
    if (directDispatch || thread() == QThread::currentThread()) {
        AnalysisRecvMessage(sender, std::move(received));
        return;
    }
    if (m_queuedCalls.load() >= kMaxQueuedCalls) {
        ++m_droppedCalls;
        return;
    }
    ++m_queuedCalls;
    releaseBeforeQueuedPost();
    QMetaObject::invokeMethod(
        this,
        [this, sender, received = std::move(received)]() mutable {
            --m_queuedCalls;
            AnalysisRecvMessage(sender, std::move(received));
        },
        Qt::QueuedConnection);
}

void UDP_Core::logDroppedCalls()
{
    if (m_droppedCalls == 0)
        return;
    const qint64 now = appMonotonicMs();
    if (m_droppedLoggedMs != 0 && now - m_droppedLoggedMs < 1000)
        return;
    qCWarning(lcNetwork).noquote() << QStringLiteral(
                                          "%1 datagrams dropped: %2 already wait for the receiving thread")
                                          .arg(m_droppedCalls)
                                          .arg(kMaxQueuedCalls);
    m_droppedCalls = 0;
    m_droppedLoggedMs = now;
}

void UDP_Core::reportHeldBackRecvLines()
{
    if (const quint64 held = recvMsgLimit.takeHeldBack())
        qCInfo(lcNetwork).noquote() << "--RecvMsg" << held << "more datagrams in the last second, not logged";
}

void UDP_Core::AnalysisRecvMessage(sockaddr_in saclient, std::string recvbuf)
{
    Q_UNUSED(saclient)
    emit sig_sync_send_core(QString::fromLatin1(untilNul(recvbuf.data(), int(recvbuf.size()))));
}

int UDP_Core::sendAndWait(UdpPeer &peer, const std::string &data, std::string *reply)
{
    if (peer.timeoutMs < 0 || peer.resendMs < 0)
        return 32;
    QEventLoop loop;
    UdpSendSocket socket = openSendSocket(peer);
    bool timedOut = false;
    if (peer.timeoutMs == 0)
        peer.timeoutMs = 1;

    QTimer overall;
    overall.setSingleShot(true);
    overall.setTimerType(Qt::PreciseTimer);
    connect(&overall, &QTimer::timeout, &loop, [&] {
        timedOut = true;
        loop.quit();
    });
    QObject here; // the reply handler runs on this (the caller's) thread
    connect(
        this, &UDP_Core::sig_sync_send_core, &here,
        [&](const QString &recv) {
            if (reply)
                *reply = recv.toUtf8().toStdString();
            overall.stop();
            loop.quit();
        },
        Qt::QueuedConnection);
    QTimer repeat;
    repeat.setTimerType(Qt::PreciseTimer);
    connect(&repeat, &QTimer::timeout, &loop, [&] { sendMsg(socket, data); });

    overall.start(peer.timeoutMs);
    if (peer.resendMs == 0) {
        // Sent at once, before the 1 ms wait of a zero time-out can run out under load.
        sendMsg(socket, data);
    } else {
        repeat.start(peer.resendMs);
    }
    loop.exec();
    return timedOut ? 16 : 0;
}

QString UDP_Core::localIpForPeer(const QString &peerIp) const
{
    QString local;
    for (const NetInterfaceInfo &i : interfaces)
        if (networkAddress(i.ip, i.mask) == networkAddress(peerIp, i.mask))
            local = i.ip;
    return local;
}

NetInterfaceInfo UDP_Core::findInterfaceByIp(const QString &ip) const
{
    for (const NetInterfaceInfo &i : interfaces)
        if (i.ip == ip)
            return i;
    return NetInterfaceInfo();
}

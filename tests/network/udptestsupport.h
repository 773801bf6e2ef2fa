#pragma once
// What the UDP tests share: a scripted platform (interfaces, route table, cpuinfo), a recording
// command runner, and a plain UDP socket that plays the peer.

#include "commandrunner.h"
#include "udpplatform.h"

#include <QList>
#include <QStringList>

#include <netinet/in.h>

#include <functional>

class FakeUdpPlatform : public UdpPlatform
{
public:
    struct Interface
    {
        QString name, mac, ip, mask; // an empty ip fails the address query
    };
    QList<Interface> interfaces;
    QByteArray routeTable = "Iface\tDestination\tGateway\tFlags\neth0\t00000000\t0102A8C0\t0003\n";
    int deleteResult = ESRCH;
    QStringList routeCalls; // "del", "add <gateway>"
    bool cpuInfoExists = true;
    QByteArray cpuInfo = "processor\t: 0\nSerial\t\t: 00000000abcd1234\n";

    void addInterface(const QString &name, const QString &mac, const QString &ip, const QString &mask)
    {
        interfaces << Interface{name, mac, ip, mask};
    }
    QStringList interfaceNames() override;
    int queryInterface(const QString &name, Query query, unsigned char out[6]) override;
    bool readRouteTable(QByteArray *content) override { return *content = routeTable, true; }
    int changeDefaultRoute(bool add, uint32_t gatewayNetworkOrder) override;
    bool readCpuInfo(QByteArray *content) override { return *content = cpuInfo, cpuInfoExists; }
};

class RecordingRunner : public CommandRunner
{
public:
    QStringList calls; // program and arguments joined by blanks
    QByteArray blkidOutput;
    QStringList failingPrograms; // run, but exit with status 1
    std::function<void(const QString &program, const QStringList &arguments)> onRun;
    CommandResult run(const QString &program, const QStringList &arguments, int timeoutMs) override;
};

// A plain UDP socket for the far side of a test exchange.
class UdpTestPeer
{
public:
    UdpTestPeer() = default;
    ~UdpTestPeer();
    UdpTestPeer(const UdpTestPeer &) = delete;
    UdpTestPeer &operator=(const UdpTestPeer &) = delete;

    // Binds, retrying for up to 30 s while the port is taken (a concurrent test run may hold it).
    bool bind(const char *ip, quint16 port);
    quint16 port() const;
    bool sendTo(const char *ip, quint16 port, const QByteArray &bytes);
    // One datagram, or a null array after `timeoutMs`.
    QByteArray receive(int timeoutMs);

private:
    int m_fd = -1;
};

// A loopback port nobody listens on right now.
quint16 freeLoopbackPort();

// Waits up to 30 s until (ip, port) can be bound, so a fixed-port test does not fail on a port that
// a concurrent run still holds for a moment.
bool waitForPort(const char *ip, quint16 port);

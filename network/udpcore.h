#pragma once
// UDP_Core: the base of every UDP endpoint (camera discovery client and responder, text-protocol
// manager). It keeps the local interface table and the device serial, listens on any number of
// sockets with one receive loop on a thread of its own, hands each datagram to the subclass's
// AnalysisRecvMessage, and sends one datagram from a fresh socket while waiting for a reply.
//
// Threads: construct, startListen, stopListen, sendAndWait, localIpForPeer and findInterfaceByIp on
// the thread the object lives in. The receive loop runs on its own std::thread; it dispatches each
// datagram queued to the object's thread, or directly on the loop thread when directDispatch is set
// (the subclass then does its own locking). At most kMaxQueuedCalls datagrams wait for the object's
// thread at a time; the loop drops the ones beyond and logs their count once a second. `interfaces` and
// `deviceSerial` are written during construction (and by the responder's force-IP handling, on the object's
// thread) only.

#include "logmanager.h"
#include "udpaddress.h"

#include <QMap>
#include <QMetaType>
#include <QMutex>
#include <QObject>
#include <QString>

#include <netinet/in.h>

#include <atomic>
#include <string>
#include <thread>

Q_DECLARE_METATYPE(sockaddr_in)
Q_DECLARE_METATYPE(std::string)

// One send: where to, from which local address, how long to wait, how often to repeat.
struct UdpPeer
{
    std::string peerIp; // dotted destination
    int peerPort = 0;
    std::string localIp; // local address of the sending socket; empty means 0.0.0.0
    int timeoutMs = 0;   // overall wait
    int resendMs = 0;    // repeat interval, 0 = send once
};

// "255.255.255.255", 10411, "0.0.0.0", 100 ms, sent once.
UdpPeer defaultUdpPeer();

// A sending socket made for one UdpPeer; closes its descriptor when it goes. Move-only.
class UdpSendSocket
{
public:
    UdpSendSocket() = default;
    ~UdpSendSocket();
    UdpSendSocket(UdpSendSocket &&other) noexcept;
    UdpSendSocket &operator=(UdpSendSocket &&other) noexcept;
    UdpSendSocket(const UdpSendSocket &) = delete;
    UdpSendSocket &operator=(const UdpSendSocket &) = delete;

    // sendMsg of these bytes.
    int sendBytes(const char *data, int length);

    std::string peerIp;
    int peerPort = 0;
    std::string localIp;
    int timeoutMs = 0;
    int resendMs = 0;
    int fd = 0;                    // 0 = no socket
    bool destinationValid = false; // peerIp is a dotted IPv4 address
    sockaddr_in destination{};
};

// A non-blocking broadcast socket bound to the peer's localIp (0.0.0.0 when empty) and a random port.
// A bind refused because the port is taken is retried with other ports, up to 1000 times; an address
// that is not local, or no free port, leaves the socket without a descriptor (logged).
UdpSendSocket openSendSocket(const UdpPeer &peer);

// Sends all of `data` to the socket's destination: the system's send result, or -1 when the socket
// has no descriptor or no valid destination. In the desktop build a destination that would leave
// this machine is refused (-1).
int sendMsg(UdpSendSocket &socket, const std::string &data);

// What the desktop build lets a sending socket reach: loopback destinations, and the limited
// broadcast from a socket bound to a loopback address (the kernel keeps it on the loopback device).
bool staysOnThisMachine(const sockaddr_in &local, const sockaddr_in &destination);

// Fills the dotted address, mask and default gateway and the MAC text of one interface (buffers of
// at least 16, 16, 16 and 18 bytes): 0; -1 no socket; -2 no hardware address; -4 no address; -5 no
// mask; -6 no route table; -7 no socket for the route change; -8 a route change failed. When the
// system has no default route, one is added through this interface's address (see udpplatform.h).
int getInterfaceInfo(const char *name, char *ip, char *mask, char *gateway, char *mac);

// The device serial: the cpuinfo "Serial" line, else the last group of the ext4 file system's UUID,
// else the time in milliseconds; without ";" and only the part after the last "-". Blocks up to 1 s.
QString readDeviceSerial();

// The UUID of the last ext4 file system that blkid lists, or empty. Blocks up to 1 s.
QString readBlkidExt4Uuid();

// Adds O_NONBLOCK to the descriptor: the result of the fcntl call.
int setNonBlocking(int fd);

class UDP_Core : public QObject
{
    Q_OBJECT
public:
    explicit UDP_Core(QObject *parent = nullptr);
    ~UDP_Core() override;

    // Opens a broadcast socket bound to (address, port) and adds it to the receive loop, which starts
    // when it is not running: 0; 2 socket or broadcast option failed; 8 non-blocking mode failed;
    // 4 bind failed. The socket is closed on every failure.
    int startListen(const std::string &address, quint16 port);

    // Ends the receive loop and waits for it (about one 200 ms poll period at most).
    void stopListen();

    // Sends `data` to the peer from a fresh socket and waits in a local event loop until
    // sig_sync_send_core arrives (0, the text in *reply as UTF-8) or the overall time runs out (16);
    // 32 at once when a time is negative. A timeoutMs of 0 is written back as 1.
    int sendAndWait(UdpPeer &peer, const std::string &data, std::string *reply);

    // Address of the local interface on the same subnet as peerIp (the last in key order); empty
    // when none.
    QString localIpForPeer(const QString &peerIp) const;

    // The interface whose address text equals `ip`; five empty texts when none.
    NetInterfaceInfo findInterfaceByIp(const QString &ip) const;

    // Datagrams handed to the object's thread and not yet analysed, at most: a flood from the LAN must
    // not queue work for the GUI thread, which runs the machine cycle, faster than it can do it.
    static constexpr int kMaxQueuedCalls = 64;

    QString deviceSerial;
    bool directDispatch = false;                // set by a subclass's constructor only
    QMap<QString, NetInterfaceInfo> interfaces; // keyed by MAC text, without "lo"

signals:
    void sig_sync_send_core(QString recv);

public slots:
    // The receive loop (runs on the loop thread that startListen starts).
    void Slot_StartListen();
    // One received datagram: the sender and the 2048-byte receive buffer (the datagram, cut or padded
    // with zero bytes). This version emits sig_sync_send_core with the text before the first zero.
    virtual void AnalysisRecvMessage(sockaddr_in saclient, std::string recvbuf);

private:
    void receiveFrom(int fd);
    void reportHeldBackRecvLines();
    // Loop thread: the count of dropped datagrams, at most once a second.
    void logDroppedCalls();

    std::atomic<bool> listening{false};
    std::atomic<bool> m_loopRunning{false};
    std::thread m_loopThread;
    QList<int> listenSockets; // guarded by socketsMutex
    QMutex socketsMutex;
    // Every datagram differs, so a flood escapes the log's repeat rule: "--RecvMsg" lines are capped
    // per second instead. Loop thread only.
    LogLineLimit recvMsgLimit{20};
    std::atomic<int> m_queuedCalls{0}; // posted to the object's thread, not yet run
    // Loop thread only.
    qint64 m_droppedCalls = 0;
    qint64 m_droppedLoggedMs = 0;
};

#pragma once
// Dru_Interaction_Manager: the UDP text-protocol endpoint. One parser serves the three roles: it
// accepts the requests addressed to "S" and "C" and the responses, emits one signal per accepted
// frame, answers as "S" or "C" through its reply slots, and sends as "A" through its senders.
// The party that starts it calls startListen with the port of the role it plays (druprotocol.h).
//
// Threads: datagrams are parsed directly on the receive loop's thread (directDispatch), so the
// signals are emitted there; the reply slots are queued to the thread the manager lives in, where
// the senders must be called too (each blocks up to 100 ms per send). cellConfig is read-only after
// construction.

#include "druprotocol.h"
#include "udpcore.h"

class Dru_Interaction_Manager : public UDP_Core
{
    Q_OBJECT
public:
    Dru_Interaction_Manager();
    ~Dru_Interaction_Manager() override;

    // The process-wide manager, made without a parent on first use and never deleted. Not for
    // several threads at once.
    static Dru_Interaction_Manager *instance();

    bool hasGroupId(const QString &groupId) const;

    // "<A;1>" to each interface's subnet broadcast, port 10411: true when there is no interface or
    // every wait ended with a reply.
    bool smartcamera_send_a2s01_discover();
    // "<A;21>" the same way to port 10412.
    bool smartcamera_send_a2c21_discover();
    // "<A;7>" to cellConfig.ip1, port 10411: true when a reply came in time; false without sending
    // while ip1 is empty.
    bool smartcamera_send_a2s07_allstate();
    // A sample cell assignment to the sample peer, port 10411.
    bool smartcamera_send_a2s02_modifycells();
    // A sample cell description to the sample peer, port 10412.
    bool smartcamera_send_a2c22_modifycells();

    Dru_Procotol_Struct cellConfig;

signals:
    void sig_do_req_a2s01_discover(Dru_Procotol_Struct Procotol);
    void sig_do_req_a2s02_modifycells(Dru_Procotol_Struct Procotol);
    void sig_do_rsp_s2c03_heartbeat(Dru_Procotol_Struct Procotol);
    void sig_do_rsp_s2c04_needrepair(Dru_Procotol_Struct Procotol);
    void sig_do_req_c2s06_outputstate(Dru_Procotol_Struct Procotol);
    void sig_do_req_a2s07_allstate(Dru_Procotol_Struct Procotol);
    void sig_do_req_a2c21_discover(Dru_Procotol_Struct Procotol);
    void sig_do_req_a2c22_modifycells(Dru_Procotol_Struct Procotol);
    void sig_do_req_s2c04_needrepair(Dru_Procotol_Struct Procotol);
    void sig_do_rsp_a2s07_allstate(Dru_Procotol_Struct Procotol);
    void sig_do_req_s2c05_inputstate(Dru_Procotol_Struct Procotol);

public slots:
    void AnalysisRecvMessage(sockaddr_in saclient, std::string recvbuf) override;
    void do_req_a2s02_modifycells(Dru_Procotol_Struct Procotol);
    void do_req_s2c03_heartbeat(Dru_Procotol_Struct Procotol);
    void do_req_s2c05_inputstate(Dru_Procotol_Struct Procotol);
    void do_req_c2s06_outputstate(Dru_Procotol_Struct Procotol);
    void do_req_a2c22_modifycells(Dru_Procotol_Struct Procotol);

private:
    void emitSignal(DruParseResult::Signal signal, const Dru_Procotol_Struct &record);
    void reply(DruParseResult::Reply reply, const Dru_Procotol_Struct &record, const QString &serial);
    bool sendDiscover(const QString &frame, int port, bool warnEmpty);
    bool sendOnce(const QString &frame, const QString &peerIp, int port, const QString &localIp);
};

#pragma once
// The request front: the object through which the rest of the box uses one TCP reactor. TcpManager
// makes the reactor of its kind (client or server), (re)starts it and receives the reactor's
// unsolicited traffic in two slots its subclasses fill. TcpManager_Client speaks the request API of a
// network smart camera (paths under "/smon2/camera/"); the report link QOR_NETMN is the other subclass.
//
// Threads: a manager belongs to the thread that made it (its owner thread). start, connectReactor and
// every act_* call run on that thread; the act_* calls block it for at most their time-out (the
// reactor's requestSync runs a local event loop). The receiving slots run there too (queued from the
// reactor's socket thread). `reactor` is replaced only by start, on the owner thread.

#include "tcpreactor.h"
#include "tcprecords.h"

#include <QHostAddress>
#include <QJsonObject>
#include <QObject>
#include <QSharedPointer>
#include <QTimer>
#include <QVariantMap>

#include <opencv2/core.hpp>

class TcpManager : public QObject
{
    Q_OBJECT
public:
    // 1 makes client reactors, 0 server reactors; any other type makes start fail.
    explicit TcpManager(int type);
    ~TcpManager() override;

    // Replaces the reactor by a new one of this manager's type and connects (client) or listens
    // (server) on host:port. The new reactor stays even when this fails; a later start replaces it.
    virtual bool start(const QHostAddress &host, quint16 port);
    // As start, but the old reactor is only asked to end and waited for at most waitMs: one whose
    // socket thread is still busy is set aside, cut off from this manager, and deleted once that thread
    // has ended. For an owner on the GUI thread, which must never wait for a busy socket thread.
    bool startRetiring(const QHostAddress &host, quint16 port, int waitMs);
    // Wires the reactor's unsolicited responses and requests to the two slots.
    virtual void connectReactor(Qt::ConnectionType responseType, Qt::ConnectionType requestType);

    // Null until the first start. Destroyed through deleteLater once the last holder lets it go, so it
    // never dies inside one of its own signals.
    QSharedPointer<QORC::TcpReactor> reactor;
    const int type;
    // Bound of a received message body on the links this manager starts (see
    // HttpLikeReceiver::setBodyBound); -1 keeps the receiver's own, which a camera's pictures need.
    qint64 bodyBound = -1;

    // Reactors set aside by startRetiring whose socket thread has not ended yet.
    int retiredReactors() const { return m_retired.size(); }

public slots:
    virtual void SlotRecvResponse_async(CTask_FormData response) = 0;
    virtual void SlotRecvRequest(CTask_FormData request) = 0;

private:
    bool startNew(const QHostAddress &host, quint16 port);
    void sweepRetired();

    QList<QSharedPointer<QORC::TcpReactor>> m_retired;
    QTimer m_retiredSweep;
};

// The smart camera's requests. Codes: 0 success, -12 no connected session or no response in time
// (also when the manager was never started); act_getPicResponse gives -1 for every failure.
class TcpManager_Client : public TcpManager
{
    Q_OBJECT
public:
    TcpManager_Client();

    // "/smon2/camera/getparams", 1000 ms; `result` = the reply's "result" object.
    int act_getParams(QJsonObject &result);
    // "/smon2/camera/getpic" {"compulsive": false}; `info` = the reply's JSON, `image` = its picture
    // under the greatest key.
    int act_getPic(cv::Mat &image, QJsonObject &info, int timeoutMs);
    // The same request; the whole response record (pictures and timing record).
    int act_getPicResponse(CTask_FormData &response, int timeoutMs);
    // "/smon2/camera/setparams" with one member per entry; the reply's "result" map, empty on failure.
    QVariantMap act_setParams(const QVariantMap &params);
    // "/smon2/camera/commands"; always an empty map, the outcome is only logged.
    QVariantMap act_Command(const QVariantMap &params);
    // As act_getParams, as a map.
    int act_getParamsMap(QVariantMap &result);
    // Whether getparams succeeded and every JSON value of the reply has a "result" member.
    bool act_probeParams();
    // Sends getpic without waiting; the reply comes back through sigRecvPic.
    void act_getPicAsync();

    // Id of the outstanding act_getPicAsync request, empty when none.
    QString pendingId;

signals:
    void sigRecvPic(cv::Mat image);

public slots:
    void SlotRecvResponse_async(CTask_FormData response) override;
    void SlotRecvRequest(CTask_FormData request) override;

private:
    // Sends one request through requestSync; false when there is no reactor or no answer in time.
    bool exchange(const QString &url, const QJsonObject *body, int timeoutMs, CTask_FormData &response);
};

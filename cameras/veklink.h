#pragma once
// The requests the smart-camera back-end makes of one network smart camera, on one connection: the
// control connection (port 10401) or the picture connection (port 10402). The implementation over
// a TCP client reactor (tcpveklink.h) speaks the HTTP-like messages; tests may install a fake.
//
// Threads: a link is used by one thread at a time, the one that made it (the GUI thread for the
// control link, the image puller's thread for its picture link); every call blocks that thread for
// at most its time-out.

#include <QJsonObject>
#include <QString>
#include <QVariantMap>
#include <functional>
#include <memory>
#include <opencv2/core.hpp>

// One picture as the camera sends it: the image part and the JSON that describes it, with the
// request's time and size for the log.
struct VekPicture
{
    cv::Mat image;
    QJsonObject info;
    qint64 requestMs = -1; // from sending the request to the last byte of the reply
    qint32 replyBytes = -1;
};

class VekLink
{
public:
    virtual ~VekLink() = default;

    // Connects (or reconnects) to host:port; true when connected.
    virtual bool start(const QString &host, quint16 port) = 0;
    virtual bool hasLiveSession() = 0;
    // "/smon2/camera/getparams": 0 and the reply's "result", or -12.
    virtual int getParams(QJsonObject &result) = 0;
    // "/smon2/camera/setparams": the reply's "result"; empty on failure.
    virtual QVariantMap setParams(const QVariantMap &params) = 0;
    // "/smon2/camera/commands": true when the camera answered.
    virtual bool command(const QVariantMap &params) = 0;
    // "/smon2/camera/getpic": 0 and the picture, or -12.
    virtual int getPicture(VekPicture &picture, int timeoutMs) = 0;
};

// Makes a new, unconnected link. The default factory makes the one over TCP; tests
// replace it (setVekLinkFactory with an empty function restores the default). Any thread.
using VekLinkFactory = std::function<std::unique_ptr<VekLink>()>;
std::unique_ptr<VekLink> makeVekLink();
void setVekLinkFactory(VekLinkFactory factory);

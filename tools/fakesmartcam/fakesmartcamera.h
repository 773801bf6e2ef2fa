#pragma once
// A network smart camera on this machine, for the smart-camera back-end's tests and for the run
// command's box: the device side of the discovery protocol (UDP_ACam_Server) and two server
// reactors (control and picture port) that answer "/smon2/camera/getparams", "setparams",
// "commands" and "getpic" the way a camera does. Pictures come from the files of a folder (name
// order, cycling) or a generated one. By default a picture is sent as the protocol describes it and
// nothing more: one JSON part "body" holding {"code", "msg", "result"} with the camera's own keys,
// and one one-channel NV21 image of 1.5 x rows by cols. The described layout sends a JSON part
// "info" naming "format", "width" and "height" beside an NV21 or RGB image.
//
// Threads: construct, start, stop and the test controls on one thread; the requests are answered in
// the reactors' socket threads. `mutex` guards the camera's state.

#include <QHostAddress>
#include <QJsonObject>
#include <QMutex>
#include <QObject>
#include <QSize>
#include <QStringList>
#include <QVariantMap>
#include <memory>
#include <opencv2/core.hpp>

struct CTask_FormData;
class UDP_ACam_Server;
namespace QORC {
class TcpServReactor;
}

class FakeSmartCamera : public QObject
{
    Q_OBJECT
public:
    struct Options
    {
        QHostAddress address = QHostAddress::LocalHost; // loopback only
        quint16 controlPort = 10401;
        quint16 picturePort = 10402;
        QString pictureFolder; // empty: a generated picture
        QSize generatedSize{640, 480};
        // Plain: "body" part and one-channel NV21 (the default); Described: "info" part naming
        // the layout, with an NV21 (nv21 true) or an RGB image.
        enum class Layout
        {
            Plain,
            Described
        } layout = Layout::Plain;
        bool nv21 = true;                // Described only: else RGB pictures
        int firstPictureDelayMs = 0;     // the first "getpic" is answered this much later
        bool discovery = false; // answer the discovery protocol (fixed UDP ports)
        QString deviceId;       // the id discovery reports (empty: the machine's serial)
    };

    explicit FakeSmartCamera(const Options &options);
    ~FakeSmartCamera() override;

    // Listens on both ports (and for discovery); false when a port is taken.
    bool start();
    // Closes every connection and stops answering, as a camera that was switched off.
    void stop();

    QJsonObject params() const;
    QList<QVariantMap> commands() const;
    // "getpic" requests answered, on either port.
    int picturesSent() const;
    // The picture the next "getpic" sends (RGB), for tests that compare what arrives.
    cv::Mat nextPicture() const;
    QString deviceId() const;

    // NV21 bytes (width x height x 3 / 2, one row per image row) of an RGB picture of even size.
    static cv::Mat rgbToNv21(const cv::Mat &rgb);

private:
    void answer(QORC::TcpServReactor *reactor, const CTask_FormData &request);
    cv::Mat pictureAt(int index) const;

    Options options;
    QStringList files;
    std::unique_ptr<QORC::TcpServReactor> control;
    std::unique_ptr<QORC::TcpServReactor> pictures;
    std::unique_ptr<UDP_ACam_Server> responder;
    mutable QMutex mutex;
    QJsonObject cameraParams;    // guarded by mutex
    QList<QVariantMap> received; // guarded by mutex
    int sent = 0;                // guarded by mutex
    int next = 0;                // guarded by mutex
    bool delayed = false;        // guarded by mutex: the first picture was held back
};

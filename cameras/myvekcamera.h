#pragma once
// The network smart camera back-end, "vekCamera_IID", over the smart-camera handle API: the cameras
// come from the UDP discovery (ids and addresses), control goes over the handle's control link and
// the pictures arrive on its ImageThread, where onFrame converts them into the frame buffer.
//
// Threads: operations on the GUI thread; onFrame on the handle's ImageThread.

#include "camerainterface.h"
#include "logmanager.h"
#include "mutexlocker.h" // also MG_THREAD_SANITIZER
#include "vekcamera.h"
#include "veklink.h"

#include <QMap>
#include <functional>

// One smart camera found by discovery.
struct VekDevice
{
    QString id;      // the camera's device id
    QString address; // dotted IPv4 address
};

class MyVekCamera : public CameraInterface
{
    Q_OBJECT
public:
    MyVekCamera(); // the prototype
    explicit MyVekCamera(const CameraDeviceInfo &info);
    ~MyVekCamera() override;

    QString getIID() const override;
    // Runs the discovery and remembers each camera's address for create().
    QList<CameraDeviceInfo> enumerate() override;
    CameraInterface *create(const CameraDeviceInfo &info) override;

    // Connects the control link, takes one picture for the frame size, starts the camera's stream.
    bool open() override;
    void close() override;
    bool startCapture() override;
    void stopCapture() override;
    bool setExposureTime(int value, bool autoExposure, bool autoWdr) override;
    bool setGain(int value) override;
    bool setSharpness(int value) override;
    bool setContrast(int value) override;
    bool setGamma(int value) override;
    bool setTriggerMode(bool on, int camera) override;
    bool setFrameSpeed(int speed) override;
    qint64 picturePeriodMs() const override;
    QJsonObject setAutoExposure(bool on) override;
    void loadParams(SysParam *block, int camera) override;
    bool isOnline() override;
    bool reboot() override;

    // A picture from the camera, stored as R, G, B, 0. A one-channel picture of 1.5 x rows by cols
    // (rows a multiple of 3, cols and two thirds of the rows even) is NV21 of cols x (rows x 2 / 3),
    // converted with nv21ToRgba; other one-channel pictures are gray, three-channel ones RGB. A
    // "format" member of the picture's description (at its top or inside its "result") overrides the
    // shape: "nv21" asks for NV21, any other text for the channels' reading. A picture that fits no
    // layout, or not the size the camera opened with, is dropped (logged once per change) and never
    // stored. ImageThread, or the GUI thread in open() before the puller starts.
    void onFrame(const VekPicture &picture);

    // The size a picture stands for, or an empty size when it cannot be read.
    static QSize pictureSize(const VekPicture &picture);

    // How long open() waits for the camera's first picture: a large camera's first answer takes more
    // than a second while it starts its stream. The ThreadSanitizer build (tests only) waits five times
    // as long: there every allocation and copy of a 16-Mi-pixel picture costs seconds on a busy machine.
#ifdef MG_THREAD_SANITIZER
    static constexpr int kFirstPictureTimeoutMs = 5 * 3000;
#else
    static constexpr int kFirstPictureTimeoutMs = 3000;
#endif

    // Test seam: replaces the discovery and the daemon restart, which go through the process-wide
    // UDP discovery client (empty functions restore it).
    static void setDiscovery(std::function<QList<VekDevice>()> discover,
                             std::function<void(const QString &id)> rebootDaemon);

private:
    QString deviceId;
    QString address;
    int handle = -1;
    // Pictures a second the handle is paced to (1-100; frame speed 0 asks for one); GUI thread.
    int pullRate = kDefaultPullRate;
    QString droppedLayout; // what the last dropped picture looked like; onFrame's thread only
    // A camera that alternates between layouts would still give one line per picture; onFrame's
    // thread only.
    LogLineLimit layoutLines{20};
};

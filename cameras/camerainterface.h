#pragma once
// The abstract camera back-end. One object per back-end kind serves as the prototype (registered by
// the camera registry, used only for enumerate() and create()); create() makes one object per opened
// camera, owned by that camera's view.
//
// Threads: every operation runs on the GUI thread, except storeFrame(), which the back-end's capture
// thread (or its SDK's callback thread) calls. frameMutex guards the newest frame with its arrival
// time, the new-frame flag, the frame counter and the frame size fixed when the camera opened.
//
// Frames: CV_8UC4 with the bytes R, G, B, 0 per pixel (or CV_8UC1 for a back-end that only sees
// gray), at the size imageSize() reported when the camera opened.

#include "cameradeviceinfo.h"
#include "cameraparamsource.h"
#include "logmanager.h"

#include <QJsonObject>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QSize>
#include <QVariant>
#include <opencv2/core.hpp>

struct SysParam;

// A frame older than this is no picture of the mould as it is now: the machine cycle judges none and
// a camera whose newest frame is older delivers no pictures (unless the cameras wait for an external
// trigger). About three frame periods of the factory frame rate (12 a second, 83 ms), and no less
// than 500 ms, so that one late frame or a busy poll is not taken for a camera that stopped.
constexpr qint64 kFrameStaleMs = 500;
// The age limit for a camera whose period between pictures is known (CameraInterface::
// picturePeriodMs): three periods, never below kFrameStaleMs, so that a setter who slows the cameras
// down does not turn every picture into a stale one and hold the clamp for good (the frame-speed setting
// is not frames a second on every back-end).
constexpr qint64 frameStaleLimitForPeriodMs(qint64 periodMs)
{
    return 3 * periodMs > kFrameStaleMs ? 3 * periodMs : kFrameStaleMs;
}

class CameraInterface : public QObject, public CameraParamSource
{
    Q_OBJECT
public:
    explicit CameraInterface(QObject *parent = nullptr);
    ~CameraInterface() override;

    // The back-end's interface id, e.g. "simulateCamera_IID".
    virtual QString getIID() const = 0;
    // Prototype: the cameras this back-end can see now; may take a while (network discovery).
    virtual QList<CameraDeviceInfo> enumerate() = 0;
    // Prototype: a new, closed camera object for `info` (the caller owns it); null for a camera this
    // back-end does not know.
    virtual CameraInterface *create(const CameraDeviceInfo &info) = 0;

    // Connects to the camera and fixes its image size; false when it cannot be used.
    virtual bool open() = 0;
    // Stops and joins the capture thread and releases the camera; safe to call twice.
    virtual void close() = 0;
    virtual bool startCapture() = 0;
    virtual void stopCapture() = 0;

    // Camera settings as the settings pages give them (the units of SysParam); false when the camera
    // refused or is not open. Back-ends without such a setting accept and ignore it.
    virtual bool setExposureTime(int value, bool autoExposure, bool autoWdr);
    virtual bool setGain(int value);
    virtual bool setSharpness(int value);
    virtual bool setContrast(int value);
    virtual bool setGamma(int value);
    virtual bool setOnceWhiteBalance();
    virtual bool setTriggerMode(bool on, int camera);
    virtual bool setFrameSpeed(int speed);
    // On: the camera runs its own automatic exposure (the result is not used). Off: it stops, and the
    // result holds what it settled on, "ExposureTime" (µs, double) and "Gain" (int); back-ends without
    // automatic exposure return an object without these keys.
    virtual QJsonObject setAutoExposure(bool on);
    // Loads the camera's stored parameter set into the camera and reads exposure, gain, sharpness,
    // contrast and gamma back into `block` for `camera` (0..7).
    virtual void loadParams(SysParam *block, int camera);

    // Command 0 with {"detect", "funcNO"}: a region's temperature x 100 (temperature sources only);
    // an invalid QVariant when the back-end has no answer.
    QVariant getParam(int command, const QVariant &value) override;
    // Command 0 with a "CammerSingleton *": the camera's live region table (thermal back-end).
    virtual bool setParam(int command, const QVariant &value);

    // Whether the back-end measures temperatures (its frames are thermal pictures).
    virtual bool isThermal() const;
    // Milliseconds between two pictures at the rate the camera really runs now (what the back-end
    // made of the last setFrameSpeed); 0 when the back-end cannot say.
    virtual qint64 picturePeriodMs() const;
    // Whether the camera still answers; a closed camera is offline.
    virtual bool isOnline();
    // Asks the camera to restart its service; false where the camera has none.
    virtual bool reboot();

    // Image size fixed when the camera opened; empty while closed.
    QSize imageSize() const;
    // The newest frame when one arrived since the last call (the caller's own: no later frame is
    // written into it) and true, with the moment it was stored (appMonotonicMs) in `takenMs` when
    // given; else false and both untouched. The buffer `out` held before may take later frames
    // unless it is shared with another Mat: a caller that keeps `out` between calls allocates nothing.
    bool getImage(cv::Mat &out, qint64 *takenMs = nullptr);
    // Frames stored since the camera opened (dropped frames not counted).
    quint64 frameCount() const;

protected:
    // Capture thread: keeps `frame` as the newest one and stamps its arrival. A frame of another size
    // or type than the one fixed at open is dropped with a warning (and neither counted nor stamped:
    // it is no picture delivered); the views' buffers were sized for the first. Returns whether it
    // was kept.
    bool storeFrame(const cv::Mat &frame);
    // Capture thread: whether a frame of this size and type would be kept (same warning when not), so
    // a thread can skip converting a frame that would be dropped.
    bool frameFits(int width, int height, int type);
    // GUI thread, in open(): fixes the size and type every later frame must have, and clears the
    // buffer; an empty size (close) drops the newest frame.
    void setFrameFormat(QSize size, int type);

private:
    bool fitsLocked(int width, int height, int type); // frameMutex held
    mutable QMutex frameMutex;
    cv::Mat newestFrame;      // guarded by frameMutex
    qint64 newestFrameMs = 0; // guarded by frameMutex: appMonotonicMs() when newestFrame was stored
    bool newFrame = false;    // guarded by frameMutex
    quint64 frameCounter = 0; // guarded by frameMutex
    QSize frameSize;          // guarded by frameMutex
    int frameType = -1;       // guarded by frameMutex
    bool sizeWarned = false;  // guarded by frameMutex
    // A camera that alternates between sizes would still give one warning per frame.
    LogLineLimit sizeLines{20}; // guarded by frameMutex
};

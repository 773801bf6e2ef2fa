#pragma once
// The industrial (MindVision) camera back-end, "mindCamera_IID": opens a camera of the SDK by its
// serial number and keeps its newest frame; MindCameraThread grabs the frames and converts the SDK's
// 3-byte pixels with RGB2RGBA.
//
// Threads: operations on the GUI thread; MindCameraThread stores frames through storeFrame().

#include "camerainterface.h"
#include "mindcamerasdk.h"

#include <QThread>
#include <atomic>
#include <memory>

class MindCameraThread;

class MindCamera : public CameraInterface
{
    Q_OBJECT
public:
    MindCamera(); // the prototype
    explicit MindCamera(const CameraDeviceInfo &info);
    ~MindCamera() override;

    QString getIID() const override;
    QList<CameraDeviceInfo> enumerate() override;
    CameraInterface *create(const CameraDeviceInfo &info) override;

    bool open() override;
    void close() override;
    bool startCapture() override;
    void stopCapture() override;

    // Exposure from SysParam is in ms; the SDK takes µs.
    bool setExposureTime(int value, bool autoExposure, bool autoWdr) override;
    bool setGain(int value) override;
    bool setSharpness(int value) override;
    bool setContrast(int value) override;
    bool setGamma(int value) override;
    bool setOnceWhiteBalance() override;
    bool setTriggerMode(bool on, int camera) override;
    bool setFrameSpeed(int speed) override;
    QJsonObject setAutoExposure(bool on) override;
    void loadParams(SysParam *block, int camera) override;
    bool isOnline() override;

private:
    friend class MindCameraThread;
    bool set(int setting, double value);

    QString serial;
    int handle = -1;
    std::unique_ptr<MindCameraThread> thread;
};

// Grabs frames from the SDK until stopped and hands them to the camera as R, G, B, 0 pixels.
class MindCameraThread : public QThread
{
public:
    MindCameraThread(MindCamera *camera, int handle) : camera(camera), handle(handle) {}
    void stop() { stopRequested = true; }

protected:
    void run() override;

private:
    MindCamera *camera;
    int handle;
    std::atomic<bool> stopRequested{false};
};

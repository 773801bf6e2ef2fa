#pragma once
// The thermal camera back-end, "HKHotCamera_IID": serves the camera's picture (gray, or 32-bit colour
// on colour boxes) and answers the temperature of the temperature-alarm regions of slots 0 and 1,
// whose rectangles it reads from the camera view's live region table handed over with setParam.
//
// Threads: operations on the GUI thread; HKHotCameraThread converts the decoded pictures with
// yuv420pToGray / yuv420pToRgb32 and keeps the newest temperature grid under temperatureMutex. The
// region table is read on the GUI thread only (the region editor's save copies into it there).

#include "camerainterface.h"
#include "hkhotsdk.h"

#include <QThread>
#include <atomic>
#include <memory>

class CammerSingleton;
class HKHotCameraThread;

class HKHotCamera : public CameraInterface
{
    Q_OBJECT
public:
    HKHotCamera(); // the prototype
    explicit HKHotCamera(const CameraDeviceInfo &info);
    ~HKHotCamera() override;

    QString getIID() const override;
    QList<CameraDeviceInfo> enumerate() override;
    CameraInterface *create(const CameraDeviceInfo &info) override;

    // The frame size comes with the first decoded picture, waited for up to 3 s.
    bool open() override;
    void close() override;
    bool startCapture() override;
    void stopCapture() override;
    bool isThermal() const override { return true; }
    bool isOnline() override;

    // Command 0 {"detect", "funcNO"}: the highest temperature x 100 inside that region's rectangle,
    // for temperature-alarm regions of slots 0 and 1; invalid otherwise or before any grid arrived.
    QVariant getParam(int command, const QVariant &value) override;
    // Command 0 with a "CammerSingleton *": the live region table to read (not owned).
    bool setParam(int command, const QVariant &value) override;

private:
    friend class HKHotCameraThread;
    void storeTemperatures(const HKHotFrame &frame);

    QString deviceId;
    int user = -1;
    bool colour = false;
    CammerSingleton *regionTable = nullptr; // GUI thread only
    QMutex temperatureMutex;
    cv::Mat temperatures; // CV_32F grid, guarded by temperatureMutex
    std::unique_ptr<HKHotCameraThread> thread;
};

// Takes the decoded pictures from the SDK until stopped and hands them to the camera.
class HKHotCameraThread : public QThread
{
public:
    HKHotCameraThread(HKHotCamera *camera, int user, bool colour)
        : camera(camera), user(user), colour(colour)
    {
    }
    void stop() { stopRequested = true; }

protected:
    void run() override;

private:
    HKHotCamera *camera;
    int user;
    bool colour;
    std::atomic<bool> stopRequested{false};
};

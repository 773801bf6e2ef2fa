#pragma once
// The few calls the industrial camera back-end makes into the MindVision camera SDK, behind an
// interface of our own: the SDK is not on this machine, so the implementation built here finds no
// camera. A box build links an implementation over the vendor's calls (CameraEnumerateDevice,
// CameraInit, CameraGetImageBuffer, CameraImageProcess, the CameraSet... calls); tests install a fake.
//
// Threads: grab() is called by the back-end's capture thread, everything else on the GUI thread; an
// implementation must allow grab() to run while the GUI thread changes a setting of the same camera.

#include <QList>
#include <QSize>
#include <QString>
#include <vector>

struct MindCameraDevice
{
    QString serial;       // the camera's serial number
    QString friendlyName; // as the SDK names it
};

class MindCameraSdk
{
public:
    // The settings the back-end passes through; values in the units SysParam keeps.
    enum Setting
    {
        ExposureTime, // exposure in µs (read: µs the camera settled on)
        AnalogGain,   // gain
        Sharpness,
        Contrast,
        Gamma,
        TriggerMode,      // 0 continuous, 1 software trigger
        FrameSpeed,       // 0 low, 1 normal, 2 high
        AutoExposure,     // 0 off, 1 on
        OnceWhiteBalance, // any value: balance once now
        LoadParameterSet, // the camera's stored parameter set number
    };

    virtual ~MindCameraSdk() = default;

    virtual QList<MindCameraDevice> enumerateDevices() = 0;
    // A handle (>= 0) for the device at `index` of the last enumeration, or a negative SDK error.
    virtual int init(int index) = 0;
    virtual void uninit(int handle) = 0;
    virtual QSize resolution(int handle) = 0;
    virtual bool play(int handle) = 0;
    virtual bool pause(int handle) = 0;
    // Waits up to timeoutMs for the next frame and hands it over as packed 3-byte pixels in the
    // order B, G, R; false on time-out or error.
    virtual bool grab(int handle, int timeoutMs, std::vector<unsigned char> &bgr24, int &width,
                      int &height) = 0;
    virtual bool set(int handle, Setting setting, double value) = 0;
    virtual bool get(int handle, Setting setting, double &value) = 0;
    virtual bool isConnected(int handle) = 0;
};

// The SDK in use: by default one that finds no camera. setMindCameraSdk(nullptr) restores it; the
// installed object is not owned. GUI thread, before cameras open.
MindCameraSdk &mindCameraSdk();
void setMindCameraSdk(MindCameraSdk *sdk);

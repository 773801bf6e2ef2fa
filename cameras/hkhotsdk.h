#pragma once
// The few calls the thermal camera back-end makes into the Hikvision network SDK and its stream
// decoder, behind an interface of our own: the SDK is not on this machine, so the implementation
// built here finds no camera. A box build links an implementation over NET_DVR_Login_V40,
// NET_DVR_RealPlay_V40, the thermometry calls and PlayM4_OpenStream's decode callback; tests install
// a fake.
//
// Threads: nextFrame() is called by the back-end's capture thread, everything else on the GUI thread.

#include <QList>
#include <QString>
#include <vector>

struct HKHotDevice
{
    QString id; // the camera's serial number
};

// One decoded picture with the temperatures measured for it.
struct HKHotFrame
{
    std::vector<unsigned char> yv12; // planar 4:2:0, Y then V then U: width x height x 3 / 2 bytes
    int width = 0;
    int height = 0;
    std::vector<float> degrees; // temperature per pixel of a tempWidth x tempHeight grid; may be empty
    int tempWidth = 0;
    int tempHeight = 0;
};

class HKHotSdk
{
public:
    virtual ~HKHotSdk() = default;

    virtual QList<HKHotDevice> findDevices() = 0;
    // A user id (>= 0) for the device with this id, or a negative SDK error.
    virtual int login(const QString &id) = 0;
    virtual void logout(int user) = 0;
    virtual bool startRealPlay(int user) = 0;
    virtual void stopRealPlay(int user) = 0;
    // Waits up to timeoutMs for the next decoded picture; false on time-out or error.
    virtual bool nextFrame(int user, int timeoutMs, HKHotFrame &frame) = 0;
    virtual bool isConnected(int user) = 0;
};

// The SDK in use: by default one that finds no camera. setHKHotSdk(nullptr) restores it; the
// installed object is not owned. GUI thread, before cameras open.
HKHotSdk &hkHotSdk();
void setHKHotSdk(HKHotSdk *sdk);

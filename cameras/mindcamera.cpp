#include "mindcamera.h"

#include "cameraslog.h"
#include "imagehelpers.h"
#include "sysparam.h"

#include <algorithm>

namespace {

const QString kIid = QStringLiteral("mindCamera_IID");

// The implementation on a machine without the vendor's SDK: no camera is ever found.
class NoMindCameraSdk : public MindCameraSdk
{
public:
    QList<MindCameraDevice> enumerateDevices() override { return {}; }
    int init(int) override { return -1; }
    void uninit(int) override {}
    QSize resolution(int) override { return QSize(); }
    bool play(int) override { return false; }
    bool pause(int) override { return false; }
    bool grab(int, int, std::vector<unsigned char> &, int &, int &) override { return false; }
    bool set(int, Setting, double) override { return false; }
    bool get(int, Setting, double &) override { return false; }
    bool isConnected(int) override { return false; }
};

MindCameraSdk *gInstalledMindSdk = nullptr;

constexpr int kGrabTimeoutMs = 200;
constexpr int kMaxSide = 16384;

} // namespace

MindCameraSdk &mindCameraSdk()
{
    static NoMindCameraSdk none;
    return gInstalledMindSdk ? *gInstalledMindSdk : none;
}

void setMindCameraSdk(MindCameraSdk *sdk)
{
    gInstalledMindSdk = sdk;
}

void MindCameraThread::run()
{
    std::vector<unsigned char> bgr;
    const QSize size = camera->imageSize();
    cv::Mat rgba(size.height(), size.width(), CV_8UC4);
    // Sizes that differ every frame escape the log's repeat rule.
    LogLineLimit shortLines(20);
    while (!stopRequested) {
        int width = 0;
        int height = 0;
        if (!mindCameraSdk().grab(handle, kGrabTimeoutMs, bgr, width, height))
            continue;
        // A buffer shorter than its size claims is never converted; a frame of another size than the
        // camera opened with is dropped (frameFits warns).
        if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide ||
            bgr.size() < size_t(width) * size_t(height) * 3) {
            if (shortLines.allowAfterCount(lcCameras(), "industrial camera: short frames:"))
                qCWarning(lcCameras) << "industrial camera: short frame of" << bgr.size() << "bytes for"
                                     << width << "x" << height << "dropped";
            continue;
        }
        if (!camera->frameFits(width, height, CV_8UC4))
            continue;
        RGB2RGBA(rgba.data, bgr.data(), width, height);
        camera->storeFrame(rgba);
    }
}

MindCamera::MindCamera() = default;

MindCamera::MindCamera(const CameraDeviceInfo &info) : serial(info.id) {}

MindCamera::~MindCamera()
{
    close();
}

QString MindCamera::getIID() const
{
    return kIid;
}

QList<CameraDeviceInfo> MindCamera::enumerate()
{
    QList<CameraDeviceInfo> found;
    const QList<MindCameraDevice> devices = mindCameraSdk().enumerateDevices();
    for (const MindCameraDevice &d : devices)
        found.append({found.size(), kIid, d.serial});
    return found;
}

CameraInterface *MindCamera::create(const CameraDeviceInfo &info)
{
    return info.iid == kIid ? new MindCamera(info) : nullptr;
}

bool MindCamera::open()
{
    close();
    // The SDK numbers its cameras by the order of its last enumeration, which may have changed since
    // discovery: find the camera by its serial again.
    const QList<MindCameraDevice> devices = mindCameraSdk().enumerateDevices();
    int index = -1;
    for (int i = 0; i < devices.size(); ++i) {
        if (devices.at(i).serial == serial)
            index = i;
    }
    if (index < 0) {
        qCWarning(lcCameras) << "industrial camera" << serial << "not found";
        return false;
    }
    const int h = mindCameraSdk().init(index);
    if (h < 0) {
        qCWarning(lcCameras) << "industrial camera" << serial << "refused to open:" << h;
        return false;
    }
    const QSize size = mindCameraSdk().resolution(h);
    if (size.width() <= 0 || size.height() <= 0 || size.width() > kMaxSide || size.height() > kMaxSide) {
        qCWarning(lcCameras) << "industrial camera" << serial << "reports the size" << size;
        mindCameraSdk().uninit(h);
        return false;
    }
    handle = h;
    setFrameFormat(size, CV_8UC4);
    return true;
}

void MindCamera::close()
{
    stopCapture();
    if (handle >= 0) {
        mindCameraSdk().uninit(handle);
        handle = -1;
    }
    setFrameFormat(QSize(), -1);
}

bool MindCamera::startCapture()
{
    if (handle < 0)
        return false;
    if (thread)
        return true;
    if (!mindCameraSdk().play(handle))
        return false;
    thread = std::make_unique<MindCameraThread>(this, handle);
    thread->start();
    return true;
}

void MindCamera::stopCapture()
{
    if (!thread)
        return;
    thread->stop();
    thread->wait();
    thread.reset();
    mindCameraSdk().pause(handle);
}

bool MindCamera::set(int setting, double value)
{
    return handle >= 0 && mindCameraSdk().set(handle, MindCameraSdk::Setting(setting), value);
}

bool MindCamera::setExposureTime(int value, bool autoExposure, bool)
{
    if (!set(MindCameraSdk::AutoExposure, autoExposure ? 1 : 0))
        return false;
    return autoExposure || set(MindCameraSdk::ExposureTime, double(value) * 1000.0);
}

bool MindCamera::setGain(int value)
{
    return set(MindCameraSdk::AnalogGain, value);
}

bool MindCamera::setSharpness(int value)
{
    return set(MindCameraSdk::Sharpness, value);
}

bool MindCamera::setContrast(int value)
{
    return set(MindCameraSdk::Contrast, value);
}

bool MindCamera::setGamma(int value)
{
    return set(MindCameraSdk::Gamma, value);
}

bool MindCamera::setOnceWhiteBalance()
{
    return set(MindCameraSdk::OnceWhiteBalance, 1);
}

bool MindCamera::setTriggerMode(bool on, int)
{
    return set(MindCameraSdk::TriggerMode, on ? 1 : 0);
}

bool MindCamera::setFrameSpeed(int speed)
{
    return set(MindCameraSdk::FrameSpeed, std::clamp(speed, 0, 2));
}

QJsonObject MindCamera::setAutoExposure(bool on)
{
    QJsonObject settled;
    if (!set(MindCameraSdk::AutoExposure, on ? 1 : 0) || on)
        return settled;
    double exposure = 0;
    double gain = 0;
    if (mindCameraSdk().get(handle, MindCameraSdk::ExposureTime, exposure))
        settled.insert(QStringLiteral("ExposureTime"), exposure);
    if (mindCameraSdk().get(handle, MindCameraSdk::AnalogGain, gain))
        settled.insert(QStringLiteral("Gain"), int(gain));
    return settled;
}

void MindCamera::loadParams(SysParam *block, int camera)
{
    if (handle < 0 || !block || camera < 0 || camera >= 8)
        return;
    // Parameter set 0 is the one the camera saved last.
    set(MindCameraSdk::LoadParameterSet, 0);
    double v = 0;
    if (mindCameraSdk().get(handle, MindCameraSdk::ExposureTime, v))
        block->exposeTime[camera] = int(v / 1000.0 + 0.5);
    if (mindCameraSdk().get(handle, MindCameraSdk::AnalogGain, v))
        block->adjustPlus[camera] = int(v);
    if (mindCameraSdk().get(handle, MindCameraSdk::Sharpness, v))
        block->sharp[camera] = int(v);
    if (mindCameraSdk().get(handle, MindCameraSdk::Contrast, v))
        block->contrast[camera] = int(v);
    if (mindCameraSdk().get(handle, MindCameraSdk::Gamma, v))
        block->gamma[camera] = int(v);
}

bool MindCamera::isOnline()
{
    return handle >= 0 && mindCameraSdk().isConnected(handle);
}

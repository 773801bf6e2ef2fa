#include "hkhotcamera.h"

#include "cameraslog.h"
#include "cammersingleton.h"
#include "mutexlocker.h"
#include "sysparam.h"
#include "yuvconvert.h"

#include <QElapsedTimer>
#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>

namespace {

const QString kIid = QStringLiteral("HKHotCamera_IID");

class NoHKHotSdk : public HKHotSdk
{
public:
    QList<HKHotDevice> findDevices() override { return {}; }
    int login(const QString &) override { return -1; }
    void logout(int) override {}
    bool startRealPlay(int) override { return false; }
    void stopRealPlay(int) override {}
    bool nextFrame(int, int, HKHotFrame &) override { return false; }
    bool isConnected(int) override { return false; }
};

HKHotSdk *gInstalledHKSdk = nullptr;

constexpr int kFrameTimeoutMs = 200;
constexpr int kOpenTimeoutMs = 3000;
constexpr int kMaxSide = 8192;

bool frameIsWhole(const HKHotFrame &f)
{
    // Odd sizes would not line up the chroma planes with the pixels.
    return f.width > 0 && f.height > 0 && f.width <= kMaxSide && f.height <= kMaxSide && f.width % 2 == 0 &&
           f.height % 2 == 0 && f.yv12.size() >= size_t(f.width) * size_t(f.height) * 3 / 2;
}

} // namespace

HKHotSdk &hkHotSdk()
{
    static NoHKHotSdk none;
    return gInstalledHKSdk ? *gInstalledHKSdk : none;
}

void setHKHotSdk(HKHotSdk *sdk)
{
    gInstalledHKSdk = sdk;
}

void HKHotCameraThread::run()
{
    HKHotFrame frame;
    const QSize size = camera->imageSize();
    cv::Mat out(size.height(), size.width(), colour ? CV_8UC4 : CV_8UC1);
    // Sizes that differ every frame escape the log's repeat rule.
    LogLineLimit incompleteLines(20);
    while (!stopRequested) {
        if (!hkHotSdk().nextFrame(user, kFrameTimeoutMs, frame))
            continue;
        camera->storeTemperatures(frame);
        if (!frameIsWhole(frame)) {
            if (incompleteLines.allowAfterCount(lcCameras(), "thermal camera: incomplete pictures:"))
                qCWarning(lcCameras) << "thermal camera: incomplete picture of" << frame.yv12.size()
                                     << "bytes for" << frame.width << "x" << frame.height << "dropped";
            continue;
        }
        if (!camera->frameFits(frame.width, frame.height, out.type()))
            continue;
        if (colour) {
            // yuv420pToRgb32 writes B, G, R, 0; the frames of every back-end are R, G, B, 0.
            if (!yuv420pToRgb32(frame.yv12.data(), out.data, frame.width, frame.height, 0, false))
                continue;
            cv::cvtColor(out, out, cv::COLOR_BGRA2RGBA);
        } else if (!yuv420pToGray(frame.yv12.data(), out.data, frame.width, frame.height, 0, false)) {
            continue;
        }
        camera->storeFrame(out);
    }
}

HKHotCamera::HKHotCamera() = default;

HKHotCamera::HKHotCamera(const CameraDeviceInfo &info) : deviceId(info.id) {}

HKHotCamera::~HKHotCamera()
{
    close();
}

QString HKHotCamera::getIID() const
{
    return kIid;
}

QList<CameraDeviceInfo> HKHotCamera::enumerate()
{
    QList<CameraDeviceInfo> found;
    const QList<HKHotDevice> devices = hkHotSdk().findDevices();
    for (const HKHotDevice &d : devices)
        found.append({found.size(), kIid, d.id});
    return found;
}

CameraInterface *HKHotCamera::create(const CameraDeviceInfo &info)
{
    return info.iid == kIid ? new HKHotCamera(info) : nullptr;
}

bool HKHotCamera::open()
{
    close();
    const int u = hkHotSdk().login(deviceId);
    if (u < 0) {
        qCWarning(lcCameras) << "thermal camera" << deviceId << "login failed:" << u;
        return false;
    }
    if (!hkHotSdk().startRealPlay(u)) {
        qCWarning(lcCameras) << "thermal camera" << deviceId << "sends no stream";
        hkHotSdk().logout(u);
        return false;
    }
    HKHotFrame first;
    QElapsedTimer waited;
    waited.start();
    bool got = false;
    while (!got && waited.elapsed() < kOpenTimeoutMs)
        got = hkHotSdk().nextFrame(u, kFrameTimeoutMs, first) && frameIsWhole(first);
    if (!got) {
        qCWarning(lcCameras) << "thermal camera" << deviceId << "sent no usable picture";
        hkHotSdk().stopRealPlay(u);
        hkHotSdk().logout(u);
        return false;
    }
    user = u;
    colour = gColorCamera != 0;
    setFrameFormat(QSize(first.width, first.height), colour ? CV_8UC4 : CV_8UC1);
    storeTemperatures(first);
    return true;
}

void HKHotCamera::close()
{
    stopCapture();
    if (user >= 0) {
        hkHotSdk().stopRealPlay(user);
        hkHotSdk().logout(user);
        user = -1;
    }
    setFrameFormat(QSize(), -1);
    MutexLocker lock(&temperatureMutex);
    temperatures.release();
}

bool HKHotCamera::startCapture()
{
    if (user < 0)
        return false;
    if (!thread) {
        thread = std::make_unique<HKHotCameraThread>(this, user, colour);
        thread->start();
    }
    return true;
}

void HKHotCamera::stopCapture()
{
    if (!thread)
        return;
    thread->stop();
    thread->wait();
    thread.reset();
}

bool HKHotCamera::isOnline()
{
    return user >= 0 && hkHotSdk().isConnected(user);
}

void HKHotCamera::storeTemperatures(const HKHotFrame &frame)
{
    const int w = frame.tempWidth;
    const int h = frame.tempHeight;
    if (w <= 0 || h <= 0 || w > kMaxSide || h > kMaxSide || frame.degrees.size() < size_t(w) * size_t(h))
        return;
    const cv::Mat grid(h, w, CV_32F, const_cast<float *>(frame.degrees.data()));
    MutexLocker lock(&temperatureMutex);
    grid.copyTo(temperatures);
}

bool HKHotCamera::setParam(int command, const QVariant &value)
{
    if (command != 0 || value.userType() != qMetaTypeId<CammerSingleton *>())
        return false;
    regionTable = value.value<CammerSingleton *>();
    return true;
}

QVariant HKHotCamera::getParam(int command, const QVariant &value)
{
    if (command != 0 || !regionTable)
        return QVariant();
    const QJsonObject ask = value.toJsonObject();
    const int detect = ask.value(QStringLiteral("detect")).toInt(-1);
    const int roi = ask.value(QStringLiteral("funcNO")).toInt(-1);
    // Only slots 0 and 1 carry temperature regions on this camera.
    if (detect < 0 || detect > 1 || roi < 0 ||
        roi >= std::clamp(regionTable->roiCount[detect], 0, kRoisPerSlot))
        return QVariant();
    const int e = CammerSingleton::entry(detect, roi);
    if (regionTable->function[e] != FuncTemperatureAlarm)
        return QVariant();
    const QRect r = regionTable->rects[e].imageRect.normalized();
    const QSize image = imageSize();

    MutexLocker lock(&temperatureMutex);
    if (temperatures.empty() || image.isEmpty())
        return QVariant();
    // The grid may be coarser than the picture: scale the rectangle onto it, keeping at least one cell.
    const double sx = double(temperatures.cols) / image.width();
    const double sy = double(temperatures.rows) / image.height();
    const int x0 = std::clamp(int(std::floor(r.left() * sx)), 0, temperatures.cols - 1);
    const int y0 = std::clamp(int(std::floor(r.top() * sy)), 0, temperatures.rows - 1);
    const int x1 = std::clamp(int(std::ceil((r.right() + 1) * sx)), x0 + 1, temperatures.cols);
    const int y1 = std::clamp(int(std::ceil((r.bottom() + 1) * sy)), y0 + 1, temperatures.rows);
    if (r.isEmpty() || r.right() < 0 || r.bottom() < 0 || r.left() >= image.width() ||
        r.top() >= image.height())
        return QVariant();
    double highest = 0;
    cv::minMaxLoc(temperatures(cv::Rect(x0, y0, x1 - x0, y1 - y0)), nullptr, &highest);
    return QVariant(int(std::lround(highest * 100.0)));
}

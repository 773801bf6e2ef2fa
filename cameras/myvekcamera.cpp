#include "myvekcamera.h"

#include "cameraslog.h"
#include "frameconvert.h"
#include "imagesize.h"
#include "sysparam.h"
#include "udpacamclient.h"
#include "udpaddress.h"
#include "vekcamera.h"

#include <QHostAddress>
#include <algorithm>
#include <opencv2/imgproc.hpp>

namespace {

const QString kIid = QStringLiteral("vekCamera_IID");
constexpr int kMaxSide = 8192;

std::function<QList<VekDevice>()> gDiscover;
std::function<void(const QString &)> gRebootDaemon;

// The discovery client: made on first use on the GUI thread (it listens from then on and sets the
// cameras' clocks once) and kept for the rest of the run.
UDP_ACam_Client &discoveryClient()
{
    static UDP_ACam_Client *client = new UDP_ACam_Client(nullptr);
    return *client;
}

// Discovery, then re-addressing of the cameras on a foreign subnet or a taken address, then the
// cameras as they are addressed now.
QList<VekDevice> discoverOverUdp()
{
    UDP_ACam_Client &client = discoveryClient();
    client.sendDiscover();
    client.sendForceIp();
    QList<VekDevice> devices;
    for (auto it = client.deviceMap.cbegin(); it != client.deviceMap.cend(); ++it)
        devices.append({it.key(), ipToText(it.value().ip())});
    return devices;
}
// Address of each camera found by the last discovery, by id. GUI thread.
QMap<QString, QString> gAddresses;

// The layout a format member names, at the top of the picture's description or inside its "result";
// a null text when the camera names none.
QString describedFormat(const QJsonObject &info)
{
    const QJsonValue top = info.value(QStringLiteral("format"));
    if (top.isString())
        return top.toString();
    const QJsonValue inner = info.value(QStringLiteral("result")).toObject().value(QStringLiteral("format"));
    return inner.isString() ? inner.toString() : QString();
}

enum class Layout
{
    Unusable,
    Nv21,
    Grey,
    Rgb,
    Rgba
};

// How a picture's bytes are laid out and the size it stands for. NV21 arrives as one 8-bit image of
// 1.5 x rows by cols (luma rows, then interleaved V/U rows); without a format member a one-channel
// picture whose shape can hold that is taken for NV21, since that is what the cameras send.
Layout layoutOf(const VekPicture &p, QSize *size)
{
    *size = QSize();
    const cv::Mat &m = p.image;
    if (m.empty() || m.dims != 2 || m.depth() != CV_8U)
        return Layout::Unusable;
    const bool nv21Shape =
        m.channels() == 1 && m.rows % 3 == 0 && m.cols % 2 == 0 && (m.rows / 3 * 2) % 2 == 0;
    const QString format = describedFormat(p.info);
    Layout layout = Layout::Unusable;
    QSize s(m.cols, m.rows);
    if (format.isNull() ? nv21Shape : format.compare(QLatin1String("nv21"), Qt::CaseInsensitive) == 0) {
        if (!nv21Shape)
            return Layout::Unusable;
        layout = Layout::Nv21;
        s = QSize(m.cols, m.rows / 3 * 2);
    } else if (m.channels() == 1) {
        layout = Layout::Grey;
    } else if (m.channels() == 3) {
        layout = Layout::Rgb;
    } else if (m.channels() == 4) {
        layout = Layout::Rgba;
    }
    // The message layer lets a one-channel picture carry 1.5 x the bound, for NV21: here, where the
    // layout is known, the picture it stands for is held to the bound whatever its layout.
    if (layout == Layout::Unusable || s.width() <= 0 || s.height() <= 0 || s.width() > kMaxSide ||
        s.height() > kMaxSide || qint64(s.width()) * s.height() > kMaxPicturePixels)
        return Layout::Unusable;
    *size = s;
    return layout;
}

void clearAlpha(cv::Mat &rgba)
{
    for (int y = 0; y < rgba.rows; ++y) {
        uchar *row = rgba.ptr<uchar>(y);
        for (int x = 0; x < rgba.cols; ++x)
            row[4 * x + 3] = 0;
    }
}

} // namespace

void MyVekCamera::setDiscovery(std::function<QList<VekDevice>()> discover,
                               std::function<void(const QString &id)> rebootDaemon)
{
    gDiscover = std::move(discover);
    gRebootDaemon = std::move(rebootDaemon);
}

MyVekCamera::MyVekCamera() = default;

MyVekCamera::MyVekCamera(const CameraDeviceInfo &info) : deviceId(info.id)
{
    // A camera named by its address (no discovery needed) opens at that address.
    address = gAddresses.value(info.id, QHostAddress(info.id).isNull() ? QString() : info.id);
}

MyVekCamera::~MyVekCamera()
{
    close();
}

QString MyVekCamera::getIID() const
{
    return kIid;
}

QList<CameraDeviceInfo> MyVekCamera::enumerate()
{
    gAddresses.clear();
    QList<CameraDeviceInfo> found;
    const QList<VekDevice> devices = gDiscover ? gDiscover() : discoverOverUdp();
    for (const VekDevice &d : devices) {
        if (d.id.isEmpty() || QHostAddress(d.address).isNull() || gAddresses.contains(d.id))
            continue;
        gAddresses.insert(d.id, d.address);
        found.append({found.size(), kIid, d.id});
    }
    return found;
}

CameraInterface *MyVekCamera::create(const CameraDeviceInfo &info)
{
    return info.iid == kIid ? new MyVekCamera(info) : nullptr;
}

QSize MyVekCamera::pictureSize(const VekPicture &p)
{
    QSize size;
    layoutOf(p, &size);
    return size;
}

void MyVekCamera::onFrame(const VekPicture &p)
{
    QSize size;
    const Layout layout = layoutOf(p, &size);
    if (layout == Layout::Unusable) {
        // One line per change of what arrives, not one per picture: a camera that switched to a
        // layout we cannot read would otherwise fill the log at its frame rate.
        const QString what = QStringLiteral("%1 x %2, %3 channel(s), format \"%4\"")
                                 .arg(p.image.cols)
                                 .arg(p.image.rows)
                                 .arg(p.image.channels())
                                 .arg(describedFormat(p.info));
        if (what != droppedLayout) {
            if (layoutLines.allowAfterCount(lcCameras(), "smart camera picture layout changes:"))
                qCWarning(lcCameras).noquote() << "smart camera" << deviceId << "picture of" << what
                                               << "fits no picture layout: dropped";
            droppedLayout = what;
        }
        return;
    }
    if (!droppedLayout.isEmpty()) {
        if (layoutLines.allowAfterCount(lcCameras(), "smart camera picture layout changes:"))
            qCInfo(lcCameras) << "smart camera" << deviceId << "pictures readable again";
        droppedLayout.clear();
    }
    if (!frameFits(size.width(), size.height(), CV_8UC4))
        return;
    cv::Mat rgba(size.height(), size.width(), CV_8UC4);
    switch (layout) {
    case Layout::Nv21:
        if (!nv21ToRgba(p.image.isContinuous() ? p.image : p.image.clone(), rgba.data,
                        rgba.total() * rgba.elemSize()))
            return;
        break;
    case Layout::Rgb:
        cv::cvtColor(p.image, rgba, cv::COLOR_RGB2RGBA);
        break;
    case Layout::Rgba:
        p.image.copyTo(rgba);
        break;
    case Layout::Grey:
        cv::cvtColor(p.image, rgba, cv::COLOR_GRAY2RGBA);
        break;
    case Layout::Unusable:
        return;
    }
    clearAlpha(rgba);
    storeFrame(rgba);
}

bool MyVekCamera::open()
{
    close();
    if (address.isEmpty()) {
        qCWarning(lcCameras) << "smart camera" << deviceId << "has no known address";
        return false;
    }
    int h = -1;
    if (VekCamera_Open(address, &h) != VEK_OK)
        return false;
    VekPicture first;
    if (VekCamera_GetPicture(h, &first, kFirstPictureTimeoutMs) != VEK_OK) {
        qCWarning(lcCameras) << "smart camera" << deviceId << address << "sent no picture within"
                             << kFirstPictureTimeoutMs << "ms";
        VekCamera_Close(h);
        return false;
    }
    if (pictureSize(first).isEmpty()) {
        onFrame(first); // logs what the picture looked like; nothing is stored before the size is set
        qCWarning(lcCameras) << "smart camera" << deviceId << address << "sent no usable picture";
        VekCamera_Close(h);
        return false;
    }
    handle = h;
    setFrameFormat(pictureSize(first), CV_8UC4);
    onFrame(first);
    return true;
}

void MyVekCamera::close()
{
    if (handle >= 0) {
        VekCamera_Close(handle); // joins the image puller before the frame buffer changes
        handle = -1;
    }
    setFrameFormat(QSize(), -1);
}

bool MyVekCamera::startCapture()
{
    if (handle < 0)
        return false;
    // The camera streams once started and playing; its answers are only logged.
    VekCamera_Command(handle, {{QStringLiteral("command"), QStringLiteral("start")}});
    VekCamera_Command(handle, {{QStringLiteral("command"), QStringLiteral("play")}});
    return VekCamera_StartGrab(handle, [this](const VekPicture &p) { onFrame(p); }) == VEK_OK;
}

void MyVekCamera::stopCapture()
{
    if (handle >= 0)
        VekCamera_StopGrab(handle);
}

bool MyVekCamera::setExposureTime(int value, bool autoExposure, bool)
{
    QVariantMap params{{QStringLiteral("ExposureAuto"), autoExposure}};
    if (!autoExposure)
        params.insert(QStringLiteral("ExposureTime"), double(value) * 1000.0);
    return VekCamera_SetParams(handle, params) == VEK_OK;
}

bool MyVekCamera::setGain(int value)
{
    return VekCamera_SetParams(handle, {{QStringLiteral("Gain"), value}}) == VEK_OK;
}

bool MyVekCamera::setSharpness(int value)
{
    return VekCamera_SetParams(handle, {{QStringLiteral("Sharpness"), value}}) == VEK_OK;
}

bool MyVekCamera::setContrast(int value)
{
    return VekCamera_SetParams(handle, {{QStringLiteral("Contrast"), value}}) == VEK_OK;
}

bool MyVekCamera::setGamma(int value)
{
    return VekCamera_SetParams(handle, {{QStringLiteral("Gamma"), value}}) == VEK_OK;
}

bool MyVekCamera::setTriggerMode(bool on, int)
{
    return VekCamera_Command(handle, {{QStringLiteral("command"), QStringLiteral("workmode")},
                                      {QStringLiteral("trigger"), on}}) == VEK_OK;
}

bool MyVekCamera::setFrameSpeed(int speed)
{
    // The handle paces its requests to the rate even when the camera refuses it.
    pullRate = std::clamp(speed, 1, 100);
    return VekCamera_SetFrameRate(handle, pullRate) == VEK_OK;
}

qint64 MyVekCamera::picturePeriodMs() const
{
    return 1000 / pullRate;
}

QJsonObject MyVekCamera::setAutoExposure(bool on)
{
    QJsonObject settled;
    if (VekCamera_SetParams(handle, {{QStringLiteral("ExposureAuto"), on}}) != VEK_OK || on)
        return settled;
    QJsonObject params;
    if (VekCamera_GetParams(handle, &params) != VEK_OK)
        return settled;
    if (params.contains(QStringLiteral("ExposureTime")))
        settled.insert(QStringLiteral("ExposureTime"),
                       params.value(QStringLiteral("ExposureTime")).toDouble());
    if (params.contains(QStringLiteral("Gain")))
        settled.insert(QStringLiteral("Gain"), params.value(QStringLiteral("Gain")).toInt());
    return settled;
}

void MyVekCamera::loadParams(SysParam *block, int camera)
{
    QJsonObject params;
    if (!block || camera < 0 || camera >= 8 || VekCamera_GetParams(handle, &params) != VEK_OK)
        return;
    auto read = [&](const char *key, int32_t &field, double scale) {
        const QJsonValue v = params.value(QLatin1String(key));
        if (v.isDouble())
            field = int32_t(v.toDouble() / scale + 0.5);
    };
    read("ExposureTime", block->exposeTime[camera], 1000.0);
    read("Gain", block->adjustPlus[camera], 1.0);
    read("Sharpness", block->sharp[camera], 1.0);
    read("Contrast", block->contrast[camera], 1.0);
    read("Gamma", block->gamma[camera], 1.0);
}

bool MyVekCamera::isOnline()
{
    bool online = false;
    return VekCamera_IsOnline(handle, &online) == VEK_OK && online;
}

bool MyVekCamera::reboot()
{
    if (deviceId.isEmpty())
        return false;
    if (gRebootDaemon)
        gRebootDaemon(deviceId);
    else
        discoveryClient().sendRebootDaemon(deviceId);
    return true;
}

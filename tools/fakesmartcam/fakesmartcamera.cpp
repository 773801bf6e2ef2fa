#include "fakesmartcamera.h"

#include "mutexlocker.h"
#include "tcpreactor.h"
#include "udpacamserver.h"

#include <QDateTime>
#include <QDir>
#include <QImage>
#include <QImageReader>
#include <QJsonDocument>
#include <QThread>
#include <algorithm>
#include <cstring>
#include <opencv2/imgproc.hpp>

namespace {

constexpr int kMaxPictures = 64;
constexpr int kMaxSide = 8192;

QJsonObject bodyOf(const CTask_FormData &request)
{
    const QVariant body = request.data.value(QStringLiteral("body"));
    return body.userType() == QMetaType::QJsonObject ? body.toJsonObject() : QJsonObject();
}

// An RGB picture with a gradient and a frame number band, so consecutive pictures differ.
cv::Mat generated(QSize size, int number)
{
    cv::Mat rgb(size.height(), size.width(), CV_8UC3);
    for (int y = 0; y < rgb.rows; ++y) {
        for (int x = 0; x < rgb.cols; ++x)
            rgb.at<cv::Vec3b>(y, x) = cv::Vec3b(uchar(x * 255 / rgb.cols), uchar(y * 255 / rgb.rows), 90);
    }
    cv::rectangle(rgb, cv::Rect(0, 0, std::min(rgb.cols, 8 * (number % 32 + 1)), 8),
                  cv::Scalar(255, 255, 255), cv::FILLED);
    return rgb;
}

} // namespace

FakeSmartCamera::FakeSmartCamera(const Options &options) : options(options)
{
    cameraParams = {{QStringLiteral("ExposureTime"), 20000.0},
                    {QStringLiteral("Gain"), 32},
                    {QStringLiteral("Sharpness"), 0},
                    {QStringLiteral("Contrast"), 50},
                    {QStringLiteral("Gamma"), 70},
                    {QStringLiteral("ExposureAuto"), false}};
    if (options.pictureFolder.isEmpty())
        return;
    const QDir dir(options.pictureFolder);
    QSize size;
    for (const QString &name : dir.entryList(QDir::Files, QDir::Name)) {
        const QString path = dir.filePath(name);
        const QSize declared = QImageReader(path).size();
        if (!declared.isValid() || declared.width() > kMaxSide || declared.height() > kMaxSide ||
            declared.width() % 2 || declared.height() % 2 || (size.isValid() && declared != size))
            continue;
        size = declared;
        files.append(path);
        if (files.size() == kMaxPictures)
            break;
    }
}

FakeSmartCamera::~FakeSmartCamera()
{
    stop();
}

bool FakeSmartCamera::start()
{
    stop();
    control = std::make_unique<QORC::TcpServReactor>();
    pictures = std::make_unique<QORC::TcpServReactor>();
    for (QORC::TcpServReactor *reactor : {control.get(), pictures.get()}) {
        // Answered in the socket thread: the camera keeps answering while the test's thread waits.
        connect(
            reactor, &QORC::TcpReactor::sigRequest, reactor,
            [this, reactor](const CTask_FormData &request) { answer(reactor, request); },
            Qt::DirectConnection);
    }
    if (!control->start(options.address, options.controlPort) ||
        !pictures->start(options.address, options.picturePort)) {
        stop();
        return false;
    }
    if (options.discovery) {
        responder = std::make_unique<UDP_ACam_Server>();
        if (!options.deviceId.isEmpty())
            responder->deviceSerial = options.deviceId;
    }
    return true;
}

void FakeSmartCamera::stop()
{
    responder.reset();
    control.reset();
    pictures.reset();
}

QString FakeSmartCamera::deviceId() const
{
    return responder ? responder->deviceSerial : options.deviceId;
}

QJsonObject FakeSmartCamera::params() const
{
    MutexLocker lock(&mutex);
    return cameraParams;
}

QList<QVariantMap> FakeSmartCamera::commands() const
{
    MutexLocker lock(&mutex);
    return received;
}

int FakeSmartCamera::picturesSent() const
{
    MutexLocker lock(&mutex);
    return sent;
}

cv::Mat FakeSmartCamera::nextPicture() const
{
    int index = 0;
    {
        MutexLocker lock(&mutex);
        index = next;
    }
    return pictureAt(index);
}

cv::Mat FakeSmartCamera::pictureAt(int index) const
{
    if (files.isEmpty())
        return generated(options.generatedSize, index);
    QImage image = QImageReader(files.at(index % files.size())).read();
    if (image.isNull())
        return generated(options.generatedSize, index);
    image = image.convertToFormat(QImage::Format_RGB888);
    cv::Mat rgb(image.height(), image.width(), CV_8UC3);
    for (int y = 0; y < image.height(); ++y)
        std::memcpy(rgb.ptr(y), image.constScanLine(y), size_t(image.width()) * 3);
    return rgb;
}

cv::Mat FakeSmartCamera::rgbToNv21(const cv::Mat &rgb)
{
    cv::Mat i420;
    cv::cvtColor(rgb, i420, cv::COLOR_RGB2YUV_I420);
    const int w = rgb.cols;
    const int h = rgb.rows;
    cv::Mat nv21(h * 3 / 2, w, CV_8UC1);
    std::memcpy(nv21.data, i420.data, size_t(w) * h);
    const uchar *u = i420.data + size_t(w) * h;
    const uchar *v = u + size_t(w) * h / 4;
    uchar *vu = nv21.data + size_t(w) * h;
    for (size_t i = 0; i < size_t(w) * h / 4; ++i) {
        vu[2 * i] = v[i];
        vu[2 * i + 1] = u[i];
    }
    return nv21;
}

void FakeSmartCamera::answer(QORC::TcpServReactor *reactor, const CTask_FormData &request)
{
    CTask_FormData response;
    response.uuid = request.uuid;
    response.sessionId = request.sessionId;
    const QString path = request.url;
    if (path == QLatin1String("/smon2/camera/getparams")) {
        response.data.insert(QStringLiteral("body"), QVariant::fromValue(params()));
    } else if (path == QLatin1String("/smon2/camera/setparams")) {
        const QJsonObject changes = bodyOf(request);
        MutexLocker lock(&mutex);
        for (auto it = changes.begin(); it != changes.end(); ++it)
            cameraParams.insert(it.key(), it.value());
        response.data.insert(QStringLiteral("body"), QVariant::fromValue(cameraParams));
    } else if (path == QLatin1String("/smon2/camera/commands")) {
        {
            MutexLocker lock(&mutex);
            received.append(bodyOf(request).toVariantMap());
        }
        response.data.insert(QStringLiteral("body"), QVariant::fromValue(QJsonObject()));
    } else if (path == QLatin1String("/smon2/camera/getpic")) {
        int index = 0;
        bool holdBack = false;
        {
            MutexLocker lock(&mutex);
            index = next++;
            ++sent;
            holdBack = options.firstPictureDelayMs > 0 && !delayed;
            delayed = true;
        }
        // A camera that starts its stream on the first request: this reactor answers nothing meanwhile.
        if (holdBack)
            QThread::msleep(ulong(options.firstPictureDelayMs));
        const cv::Mat rgb = pictureAt(index);
        if (options.layout == Options::Layout::Plain) {
            const QJsonObject result{{QStringLiteral("frame"), index},
                                     {QStringLiteral("timestamp"), QDateTime::currentMSecsSinceEpoch()}};
            response.data.insert(QStringLiteral("body"),
                                 QVariant::fromValue(QJsonObject{{QStringLiteral("code"), 0},
                                                                 {QStringLiteral("msg"), QStringLiteral("OK")},
                                                                 {QStringLiteral("result"), result}}));
            response.images.insert(QStringLiteral("img"), rgbToNv21(rgb));
        } else {
            QJsonObject info{{QStringLiteral("width"), rgb.cols},
                             {QStringLiteral("height"), rgb.rows},
                             {QStringLiteral("frame"), index}};
            if (options.nv21) {
                info.insert(QStringLiteral("format"), QStringLiteral("nv21"));
                response.images.insert(QStringLiteral("picture"), rgbToNv21(rgb));
            } else {
                info.insert(QStringLiteral("format"), QStringLiteral("rgb"));
                response.images.insert(QStringLiteral("picture"), rgb);
            }
            response.data.insert(QStringLiteral("info"), QVariant::fromValue(info));
        }
    } else {
        return; // not a camera request: no answer, as a camera would
    }
    reactor->send(response);
}

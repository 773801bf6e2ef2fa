#include "cammerwidget.h"

#include "cameradetector.h"
#include "cameradeviceinfo.h"
#include "camerainterface.h"
#include "cameraregistry.h"
#include "cameraviewlog.h"
#include "cammersingleton.h"
#include "imagesize.h"
#include "sysparam.h"

#include <QFile>
#include <QImage>
#include <QImageReader>
#include <algorithm>
#include <cstring>

namespace {

// A stored picture as a frame-format image: RGBA with byte 3 = 0 for colour cameras, else 8-bit gray.
// Files of another size than the camera's image are refused: they come from another camera or a
// parameter group made for one.
cv::Mat readFrameImage(const QString &path, int width, int height, bool colour)
{
    if (!QFile::exists(path))
        return cv::Mat();
    // The size is checked from the file's header before anything is decoded: a replaced file may
    // claim a picture far larger than the box's memory.
    QImageReader reader(path);
    const QSize declared = reader.size();
    if (declared != QSize(width, height)) {
        qCWarning(lcCameraView) << "picture" << path << "is" << declared << "not" << width << "x" << height;
        return cv::Mat();
    }
    const QImage image = reader.read();
    if (image.isNull() || image.size() != declared) {
        qCWarning(lcCameraView) << "unreadable picture" << path << reader.errorString();
        return cv::Mat();
    }
    const QImage converted =
        image.convertToFormat(colour ? QImage::Format_RGBA8888 : QImage::Format_Grayscale8);
    cv::Mat out(height, width, colour ? CV_8UC4 : CV_8UC1);
    const size_t rowBytes = size_t(width) * (colour ? 4 : 1);
    for (int y = 0; y < height; ++y) {
        uchar *row = out.ptr<uchar>(y);
        std::memcpy(row, converted.constScanLine(y), rowBytes);
        if (colour) {
            for (int x = 0; x < width; ++x)
                row[4 * x + 3] = 0;
        }
    }
    return out;
}

} // namespace

CammerWidget::CammerWidget(QWidget *parent, int index, const CameraDeviceInfo *info) : QWidget(parent)
{
    cameraIndex = index;
    // Copies, not the entry: the registry's list may be refilled while the view lives.
    cameraIid = info ? info->iid : QString();
    cameraId = info ? info->id : QString();
    cameraOpened = openCamera(info);
    if (!cameraOpened)
        setImageGeometry(gImageW, gImageH, gColorCamera != 0);
    displayScaleX = imageWidth > 0 ? float(gShowW) / float(imageWidth) : 0.0f;
    displayScaleY = imageHeight > 0 ? float(gShowH) / float(imageHeight) : 0.0f;

    liveTable = new CammerSingleton(cameraIndex);
    liveTable->loadRoiTable(this);
    editTable = new CammerSingleton(cameraIndex);
    // The thermal back-end reads its temperature regions from the live table; the others ignore it.
    if (camera)
        camera->setParam(0, QVariant::fromValue(liveTable));

    loadSlotImages();
    repaintView = [this] { update(); };

    detector = std::make_unique<CameraDetector>(liveTable, this);
}

CammerWidget::~CammerWidget()
{
    // The camera's capture thread stops before the buffers it could be compared with go.
    cameraBackend = nullptr;
    camera.reset();
}

QString CammerWidget::templateFile(int slot, int number) const
{
    return QStringLiteral("./cammer%1%2/template%3.bmp").arg(cameraIndex + 1).arg(slot + 1).arg(number);
}

QString CammerWidget::ignoreMaskFile(int slot) const
{
    return QStringLiteral("./cammer%1%2/ignorepoint.bmp").arg(cameraIndex + 1).arg(slot + 1);
}

// Makes the view's camera with its back-end's prototype, opens it, sizes the view's buffers to its
// image and starts the capture. An opened camera records its size for the whole program.
bool CammerWidget::openCamera(const CameraDeviceInfo *info)
{
    CameraInterface *prototype = info ? cameraPrototype(info->iid) : nullptr;
    if (!prototype)
        return false;
    std::unique_ptr<CameraInterface> made(prototype->create(*info));
    if (!made || !made->open()) {
        qCWarning(lcCameraView) << "camera" << info->iid << info->id << "did not open";
        return false;
    }
    const QSize size = made->imageSize();
    if (!setImageGeometry(size.width(), size.height(), gColorCamera != 0)) {
        qCWarning(lcCameraView) << "camera" << info->id << "has an unusable image size" << size;
        return false;
    }
    setImageSizeFromCamera(size.width(), size.height());
    made->startCapture();
    camera = std::move(made);
    cameraBackend = camera.get();
    return true;
}

void CammerWidget::loadSlotImages()
{
    if (pixelCount <= 0)
        return;
    const bool colour = frameBytes > pixelCount;
    const int limit = std::clamp(gTemplateLimit, 0, kMaxTemplates);
    for (int k = 0; k < kViewSlots; ++k) {
        templateCount[k] = 0;
        for (int n = 0; n < limit; ++n) {
            const cv::Mat image = readFrameImage(templateFile(k, n), imageWidth, imageHeight, colour);
            templatePresent[k][n] = image.empty() ? 0 : 1;
            if (image.empty())
                continue;
            templates[k][n] = image;
            ++templateCount[k];
        }
        const cv::Mat ignore = readFrameImage(ignoreMaskFile(k), imageWidth, imageHeight, false);
        if (!ignore.empty())
            ignoreMasks[k] = ignore;
    }
}

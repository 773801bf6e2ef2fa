#include "cammerwidget.h"

#include "cameradetector.h"
#include "cameradeviceinfo.h"
#include "camerainterface.h"
#include "cameraregistry.h"
#include "cameraviewhooks.h"
#include "cameraviewlog.h"
#include "cammersingleton.h"
#include "clock.h"
#include "imagehelpers.h"
#include "imagesize.h"
#include "sysparam.h"

#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QTimer>
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
    regionTableRead = liveTable->loadRoiTable(this);
    editTable = new CammerSingleton(cameraIndex);
    // The thermal back-end reads its temperature regions from the live table; the others ignore it.
    if (camera)
        camera->setParam(0, QVariant::fromValue(liveTable));

    loadSlotImages();
    repaintView = [this] { update(); };

    detector = std::make_unique<CameraDetector>(liveTable, this);

    connected = cameraOpened;
    // Nothing judged yet: every region shows as passed, as after a reset of the results.
    std::fill(&roiPass[0][0], &roiPass[0][0] + kViewSlots * kViewRois, true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    resultTimer = new QTimer(this);
    resultTimer->setSingleShot(true);
    resultTimer->setInterval(1000);
    connect(resultTimer, &QTimer::timeout, this, QOverload<>::of(&QWidget::update));
    // Until the machine cycle polls the frames, the view keeps itself live; it never grabs while the
    // cycle does, so that a frame is taken once and the cycle sees every new one.
    livePollTimer = new QTimer(this);
    connect(livePollTimer, &QTimer::timeout, this, [this] {
        const auto &polls = cameraViewHooks().cyclePollsFrames;
        if (!(polls && polls()) && isVisible())
            grabFrame();
    });
    if (camera)
        livePollTimer->start(100);
}

CammerWidget::~CammerWidget()
{
    // The camera's capture thread stops before the buffers it could be compared with go.
    cameraBackend = nullptr;
    if (camera)
        camera->close();
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
    // A camera gets its first frame period from here: one that never delivers is lost like one that
    // stops.
    deliveredMs = appMonotonicMs();
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

bool CammerWidget::grabFrame()
{
    if (!camera)
        return false;
    cv::Mat &frame = takenFrame;
    qint64 takenMs = 0;
    bool grabbed = camera->getImage(frame, &takenMs);
    // A held frame went back to the camera with this hand-over; unread, it never reached grabBuffer().
    const bool heldLost = grabbed && dropHeldFrame();
    const bool colour = frameBytes > pixelCount;
    if (grabbed) {
        const bool fits = frame.cols == imageWidth && frame.rows == imageHeight && frame.isContinuous() &&
                          (frame.type() == CV_8UC4 || frame.type() == CV_8UC1) &&
                          grabBuffer().size() == size_t(frameBytes) && pixelCount > 0;
        if (!fits) {
            // The detector, masks and templates were all made for the size the camera opened with.
            qCWarning(lcCameraView) << "camera" << cameraIndex + 1 << "frame" << frame.cols << "x"
                                    << frame.rows << "type" << frame.type() << "dropped: the view works on"
                                    << imageWidth << "x" << imageHeight;
            grabbed = false;
        }
    }
    if (grabbed) {
        if (frame.type() == CV_8UC4 && colour)
            std::memcpy(grabBuffer().data(), frame.data, size_t(frameBytes));
        else if (frame.type() == CV_8UC4)
            // Turned grey when something reads it; the screen's picture converts only what it shows.
            // takenFrame keeps it until the next hand-over.
            holdColourFrame(frame.data);
        else if (colour)
            Gray2RGBA(frame.data, reinterpret_cast<int *>(grabBuffer().data()), imageWidth, imageHeight);
        else
            std::memcpy(grabBuffer().data(), frame.data, size_t(pixelCount));
        grabFrameMs = takenMs;
        deliveredMs = takenMs;
    } else if (heldLost) {
        // grabBuffer() holds an older frame than grabFrameMs says: no picture rather than an old one
        // judged as new.
        grabFrameMs = -1;
    }
    followCamera();
    if (!grabbed)
        return false;
    frameChanged = true;
    // The screen's picture is picked from the grey or colour frame while that is still in the cache;
    // a view nobody sees (or not yet painted) waits for its paint, and so does a held colour frame,
    // which the paint picks straight from the frame.
    if (isVisible() && !shownSize.isEmpty() && !heldColourFrame()) {
        makeShownFrame(shownSize);
        frameChanged = false;
    }
    ++framesCounted;
    if (!fpsClock.isValid()) {
        fpsClock.start();
    } else if (fpsClock.elapsed() >= 1000) {
        framesPerSecond = int(framesCounted * 1000 / fpsClock.restart());
        framesCounted = 0;
    }
    update();
    return true;
}

// A camera is there while its link answers and, unless the cameras wait for an external trigger
// (then no picture between cycles is normal), while it delivers pictures: one whose link stays open
// but whose pictures stop is as lost as an unplugged one, and found again with its next picture.
void CammerWidget::followCamera()
{
    const bool linked = camera->isOnline();
    const bool triggered = gSysParam && gSysParam->useExtTrigger;
    const qint64 silentMs = appMonotonicMs() - deliveredMs;
    const bool online = linked && (triggered || silentMs < staleLimitMs());
    if (connected && !online) {
        if (linked)
            qCWarning(lcCameraView) << "camera" << cameraIndex + 1 << cameraId << "lost: no new picture for"
                                    << silentMs << "ms";
        else
            qCWarning(lcCameraView) << "camera" << cameraIndex + 1 << cameraId << "lost";
        const auto &alarm = cameraViewHooks().cameraLostAlarm;
        if (alarm)
            alarm();
    } else if (!connected && online) {
        qCInfo(lcCameraView) << "camera" << cameraIndex + 1 << cameraId << "found again";
    }
    connected = online;
}

qint64 CammerWidget::picturePeriodMs() const
{
    const qint64 period = camera ? camera->picturePeriodMs() : 0;
    if (period > 0)
        return period;
    const int speed = gSysParam ? gSysParam->frameSpeed : 0;
    return speed > 0 ? 1000 / speed : 0;
}

qint64 CammerWidget::staleLimitMs() const
{
    const qint64 period = picturePeriodMs();
    return period > 0 ? frameStaleLimitForPeriodMs(period) : kFrameStaleMs;
}

// The settings screen edits a working copy and sends its camera values at once; everything else runs
// on the values in force.
const SysParam *CammerWidget::cameraValues() const
{
    const auto &visible = cameraViewHooks().settingsVisible;
    if (visible && visible() && gSysParamEdit)
        return gSysParamEdit;
    return gSysParam;
}

namespace {

bool usableCamera(int index, const std::unique_ptr<CameraInterface> &camera)
{
    return camera && index >= 0 && index < 8;
}

} // namespace

void CammerWidget::applyExposure()
{
    const SysParam *p = cameraValues();
    if (!p || !usableCamera(cameraIndex, camera))
        return;
    camera->setExposureTime(p->exposeTime[cameraIndex], p->autoExp != 0, p->autoWDR != 0);
    applyOnceWhiteBalance();
}

void CammerWidget::applyGain()
{
    const SysParam *p = cameraValues();
    if (!p || !usableCamera(cameraIndex, camera))
        return;
    camera->setGain(p->adjustPlus[cameraIndex]);
    applyOnceWhiteBalance();
}

void CammerWidget::applySharpness()
{
    const SysParam *p = cameraValues();
    if (p && usableCamera(cameraIndex, camera))
        camera->setSharpness(p->sharp[cameraIndex]);
}

void CammerWidget::applyContrast()
{
    const SysParam *p = cameraValues();
    if (p && usableCamera(cameraIndex, camera))
        camera->setContrast(p->contrast[cameraIndex]);
}

void CammerWidget::applyGamma()
{
    const SysParam *p = cameraValues();
    if (p && usableCamera(cameraIndex, camera))
        camera->setGamma(p->gamma[cameraIndex]);
}

void CammerWidget::applyOnceWhiteBalance()
{
    if (camera)
        camera->setOnceWhiteBalance();
}

void CammerWidget::applyFrameSpeed()
{
    const SysParam *p = cameraValues();
    if (!p || !camera)
        return;
    camera->stopCapture();
    camera->setFrameSpeed(p->frameSpeed);
    camera->startCapture();
}

void CammerWidget::loadCameraParameters()
{
    if (camera && gSysParamEdit && cameraIndex >= 0 && cameraIndex < 8)
        camera->loadParams(gSysParamEdit, cameraIndex);
}

void CammerWidget::setTriggerMode(int mode, int cameraNumber)
{
    if (camera)
        camera->setTriggerMode(mode != 0, cameraNumber);
}

void CammerWidget::CopyPara()
{
    if (!liveTable || !gSysParam)
        return;
    const int type = gSysParam->machineType;
    const int pairs = type == 0 ? 1 : (type == 1 || type == 2) ? 2 : 0;
    const int shift = type == 0 ? 1 : 2;
    CammerSingleton &t = *liveTable;
    for (int from = 0; from < pairs; ++from) {
        const int to = from + shift;
        t.copySlot(from, to);
        for (int j = 0; j < kRoisPerSlot; ++j) {
            roiMasks[to][j] = roiMasks[from][j].empty() ? cv::Mat() : roiMasks[from][j].clone();
        }
    }
}

void CammerWidget::setSelectedParam(int which, int value)
{
    if (!editTable || !detector || editSlot < 0 || editSlot >= kViewSlots || selectedRoi < 0 ||
        selectedRoi >= kViewRois)
        return;
    const int e = CammerSingleton::entry(editSlot, selectedRoi);
    int *params[] = {editTable->param1, editTable->param2, editTable->param3};
    params[which][e] = value;
    detector->previewSpotDetection(editSlot, selectedRoi);
}

void CammerWidget::SlotMinWH(int value)
{
    setSelectedParam(0, value);
}

void CammerWidget::SlotSensitivity(int value)
{
    setSelectedParam(1, value);
}

void CammerWidget::SlotArea(int value)
{
    setSelectedParam(2, value);
}

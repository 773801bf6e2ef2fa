// Result pictures, templates learnt from good frames, ignore masks and the NG ring of a camera view.

#include "cammerwidget.h"

#include "atomicfile.h"
#include "cameraviewlog.h"
#include "cammersingleton.h"
#include "clock.h"
#include "mutexlocker.h"
#include "savefailimagethread.h"
#include "startup.h"
#include "sysparam.h"
#include "uitexttable.h"
#include "uistyle.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QPainter>
#include <algorithm>
#include <climits>
#include <cstring>

namespace {

// An 8-bit picture with the grey colour table, as the box stores gray templates and masks.
QImage grayPicture(const uchar *data, int width, int height)
{
    QImage image(width, height, QImage::Format_Indexed8);
    if (image.isNull())
        return image;
    QVector<QRgb> table(256);
    for (int i = 0; i < 256; ++i)
        table[i] = qRgb(i, i, i);
    image.setColorTable(table);
    for (int y = 0; y < height; ++y)
        std::memcpy(image.scanLine(y), data + size_t(y) * size_t(width), size_t(width));
    return image;
}

// A frame-format buffer (RGBA with byte 3 unused, or gray) as a picture of its own.
QImage framePicture(const uchar *data, int width, int height, bool colour)
{
    if (!colour)
        return grayPicture(data, width, height);
    QImage rgbx(data, width, height, width * 4, QImage::Format_RGBX8888);
    return rgbx.convertToFormat(QImage::Format_RGB32);
}

bool writeBmp(const QString &path, const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (image.isNull() || !image.save(&buffer, "BMP")) {
        qCWarning(lcCameraView) << "cannot encode" << path;
        return false;
    }
    const QString folder = QFileInfo(path).path();
    if (!QDir().mkpath(folder)) {
        qCWarning(lcCameraView) << "cannot make the folder of" << path;
        return false;
    }
    QString error;
    if (!writeFileAtomically(path, bytes, {}, &error)) {
        qCWarning(lcCameraView).noquote() << "cannot write" << path << error;
        return false;
    }
    return true;
}

bool validSlot(int detect)
{
    return detect >= 0 && detect < kViewSlots;
}

} // namespace

// The label band across the top of a result picture: camera, slot, time, counters and verdict.
void CammerWidget::drawVerdict(QImage &image, int detect, bool ok) const
{
    const int band = std::max(20, image.height() / 20);
    QPainter p(&image);
    p.fillRect(QRect(0, 0, image.width(), band), Qt::black);
    p.setFont(uiFont(band * 3 / 4));
    p.setPen(ok ? QColor(0, 220, 0) : QColor(255, 40, 40));
    const int c = std::clamp(cameraIndex, 0, 7);
    const QString text = uiText(218)
                             .arg(cameraIndex + 1)
                             .arg(detect + 1)
                             .arg(appNow().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")))
                             .arg(gCameraTotalCount[c].load())
                             .arg(gCameraNgCount[c].load())
                             .arg(ok ? QStringLiteral("OK") : QStringLiteral("NG"));
    p.drawText(QRect(8, 0, image.width() - 16, band), Qt::AlignLeft | Qt::AlignVCenter, text);
}

void CammerWidget::SaveFailImage(int detect, int ok)
{
    if (!validSlot(detect) || cameraIndex < 0 || cameraIndex >= 8 || pixelCount <= 0 ||
        detectBuffer.size() < size_t(frameBytes))
        return;
    const int entry = ok ? 1 : 0;
    QImage image = framePicture(detectBuffer.data(), imageWidth, imageHeight, frameBytes > pixelCount);
    if (image.format() != QImage::Format_RGB32)
        image = image.convertToFormat(QImage::Format_RGB32);
    if (image.isNull())
        return;

    // The regions and spots at their image places, as the operator saw them on the view.
    int firstFailed = -1;
    {
        QPainter p(&image);
        if (liveTable && displayScaleX > 0.0f && displayScaleY > 0.0f) {
            p.save();
            p.scale(1.0 / displayScaleX, 1.0 / displayScaleY);
            const int count = std::clamp(liveTable->roiCount[detect], 0, kViewRois);
            for (int j = 0; j < count; ++j) {
                const int e = CammerSingleton::entry(detect, j);
                if (!roiPass[detect][j] && firstFailed < 0)
                    firstFailed = j;
                p.setPen(QPen(roiPass[detect][j] ? QColor(0, 220, 0) : QColor(255, 40, 40), 3));
                p.setBrush(Qt::NoBrush);
                if (liveTable->shape[e] == ShapeRect)
                    liveTable->rects[e].draw(&p);
                else if (liveTable->shape[e] == ShapeCircle)
                    liveTable->circles[e].draw(&p);
                else if (liveTable->shape[e] == ShapePolygon)
                    liveTable->polygons[e].draw(&p);
            }
            p.restore();
        }
        p.setPen(QPen(QColor(255, 40, 40), 2));
        p.setBrush(Qt::NoBrush);
        for (int j = 0; j < kViewRois; ++j) {
            const SpotRecord *s = spots[detect][j];
            const int n = std::clamp(s[0].x1, 0, kMaxSpots - 1);
            for (int i = 1; i <= n; ++i)
                p.drawRect(QRect(QPoint(s[i].x1, s[i].y1), QPoint(s[i].x2, s[i].y2)));
        }
    }
    drawVerdict(image, detect, allPass);

    const qsizetype bytes = qsizetype(pixelCount) * 4;
    MutexLocker lock(gFailImageMutex);
    QByteArray &target = gFailImageBuffers[cameraIndex][detect][entry];
    // Buffers exist only for the slots in use and for the size the camera opened with.
    if (target.size() != bytes || gFailImageSize[cameraIndex] != QSize(imageWidth, imageHeight)) {
        qCWarning(lcCameraView) << "no hand-over buffer for camera" << cameraIndex + 1 << "slot" << detect + 1;
        return;
    }
    std::memcpy(target.data(), image.constBits(), size_t(bytes));
    if (firstFailed >= 0 && gFailRoiNumber[cameraIndex][detect] == 0)
        gFailRoiNumber[cameraIndex][detect] = firstFailed + 1;
}

void CammerWidget::UpdateFailImage(int detect, int ok)
{
    if (!validSlot(detect) || cameraIndex < 0 || cameraIndex >= 8 || pixelCount <= 0)
        return;
    MutexLocker lock(gFailImageMutex);
    QByteArray &target = gFailImageBuffers[cameraIndex][detect][ok ? 1 : 0];
    if (target.size() != qsizetype(pixelCount) * 4 ||
        gFailImageSize[cameraIndex] != QSize(imageWidth, imageHeight))
        return;
    // Drawn in place: the picture waiting in the buffer keeps everything but its label.
    QImage image(reinterpret_cast<uchar *>(target.data()), imageWidth, imageHeight, imageWidth * 4,
                 QImage::Format_RGB32);
    drawVerdict(image, detect, allPass);
}

bool CammerWidget::SaveReTrainImage(int detect)
{
    if (!validSlot(detect) || pixelCount <= 0 || grabBuffer().size() < size_t(frameBytes))
        return false;
    const int limit = std::clamp(gTemplateLimit, 0, kMaxTemplates);
    // The automatic update adds a template every good mould cycle: at the limit the set stays as it is.
    if (templateCount[detect] >= limit) {
        qCWarning(lcCameraView) << "camera" << cameraIndex + 1 << "slot" << detect + 1 << "already has"
                                << templateCount[detect] << "templates (limit" << limit << "): frame not kept";
        return false;
    }
    int n = 0;
    while (n < limit && templatePresent[detect][n])
        ++n;
    if (n >= limit)
        return false;
    const bool colour = frameBytes > pixelCount;
    if (!writeBmp(templateFile(detect, n),
                  framePicture(grabBuffer().data(), imageWidth, imageHeight, colour)))
        return false;
    cv::Mat frame(imageHeight, imageWidth, colour ? CV_8UC4 : CV_8UC1, grabBuffer().data());
    templates[detect][n] = frame.clone();
    templatePresent[detect][n] = 1;
    ++templateCount[detect];
    return true;
}

bool CammerWidget::saveIgnoreMask(int detect)
{
    if (!validSlot(detect))
        return false;
    const cv::Mat &mask = ignoreMasks[detect];
    if (mask.empty() || mask.type() != CV_8UC1 || !mask.isContinuous())
        return false;
    return writeBmp(ignoreMaskFile(detect), grayPicture(mask.data, mask.cols, mask.rows));
}

void CammerWidget::keepNgFrame(int detect)
{
    if (!validSlot(detect) || pixelCount <= 0 || grabBuffer().size() < size_t(frameBytes))
        return;
    const bool colour = frameBytes > pixelCount;
    const cv::Mat frame(imageHeight, imageWidth, colour ? CV_8UC4 : CV_8UC1, grabBuffer().data());
    const int slot = ngCount[detect] % kNgRingSize;
    frame.copyTo(ngRing[detect][slot < 0 ? 0 : slot]);
    ngCount[detect] = ngCount[detect] == INT_MAX ? kNgRingSize : ngCount[detect] + 1;
}

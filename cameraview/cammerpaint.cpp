// Painting of a camera view and its touches. Everything is drawn in full-screen coordinates (the
// coordinates the regions are stored in) and mapped into the view's cell, then by the zoom of the
// enlarged view. Painting reads the view's buffers and results only; it never waits for a camera.

#include "cammerwidget.h"

#include "cameraviewhooks.h"
#include "cammersingleton.h"
#include "imagehelpers.h"
#include "imagesize.h"
#include "inspectionhooks.h"
#include "savefailimagethread.h"
#include "startup.h"
#include "sysparam.h"
#include "uitexttable.h"
#include "uistyle.h"

#include <QMouseEvent>
#include <QPaintEngine>
#include <QPainter>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>

namespace {

const QColor kPassColour(0, 220, 0);
const QColor kFailColour(255, 40, 40);
// The displayed verdict: the same green and red, on a dark plate that leaves them at least 8:1 and
// 4:1 over any picture.
const QColor kVerdictOkColour(0, 220, 0);
const QColor kVerdictNgColour(255, 40, 40);

} // namespace

void CammerWidget::makeShownFrame(QSize shown)
{
    // Only the pixels the screen has room for are converted, picked nearest as the painter's own
    // unsmoothed scaling picks them; a zoomed view gets every pixel and the painter scales it.
    const bool fits = shown.width() > 0 && shown.height() > 0 && shown.width() <= imageWidth &&
                      shown.height() <= imageHeight;
    if (fits && heldColourFrame()) {
        pickGreyFromHeld(shown);
        return;
    }
    if (pixelCount <= 0 || grabBuffer().size() < size_t(frameBytes)) {
        shownFrame = QImage();
        return;
    }
    const bool colour = frameBytes > pixelCount;
    const cv::Mat frame(imageHeight, imageWidth, colour ? CV_8UC4 : CV_8UC1, grabBuffer().data());
    const cv::Size size = fits ? cv::Size(shown.width(), shown.height()) : frame.size();
    // A grey picture copied to the screen as it is stays grey (Qt widens it while copying); colour and
    // scaled pictures are RGB32, the screen's own format, which the painter scales fastest. The
    // buffer is kept while size and format stay.
    const QImage::Format format = fits && !colour ? QImage::Format_Grayscale8 : QImage::Format_RGB32;
    if (shownFrame.width() != size.width || shownFrame.height() != size.height ||
        shownFrame.format() != format)
        shownFrame = QImage(size.width, size.height, format);
    if (shownFrame.isNull())
        return;
    cv::Mat picture(size, format == QImage::Format_RGB32 ? CV_8UC4 : CV_8UC1, shownFrame.bits(),
                    size_t(shownFrame.bytesPerLine()));
    cv::Mat picked = frame;
    if (size != frame.size()) {
        // Straight into the picture when nothing is left to convert.
        cv::Mat &into = format == QImage::Format_Grayscale8 ? picture : shownPixels;
        cv::resize(frame, into, size, 0, 0, cv::INTER_NEAREST_EXACT);
        picked = into;
    }
    if (colour) {
        cv::cvtColor(picked, picture, cv::COLOR_RGBA2BGRA);
        // The frames' fourth byte is 0; RGB32 wants it opaque.
        cv::bitwise_or(picture, cv::Scalar(0, 0, 0, 255), picture);
    } else if (format == QImage::Format_RGB32) {
        cv::cvtColor(picked, picture, cv::COLOR_GRAY2BGRA);
    } else if (picked.data != picture.data) {
        picked.copyTo(picture);
    }
}

// Only the shown pixels of a colour frame not yet turned grey are turned grey, by the frame's own
// rule, so picking them from the colour frame gives the grey frame's pick. The pick is OpenCV's own
// nearest pick, taken once per size from a resize of the pixel numbers.
void CammerWidget::updatePicks(QSize shown)
{
    if (pickColumns.cols == shown.width() && pickRows.rows == shown.height() &&
        pickSource == cv::Size(imageWidth, imageHeight))
        return;
    cv::Mat columns(1, imageWidth, CV_32SC1), rows(imageHeight, 1, CV_32SC1);
    for (int x = 0; x < imageWidth; ++x)
        columns.at<int>(0, x) = x;
    for (int y = 0; y < imageHeight; ++y)
        rows.at<int>(y, 0) = y;
    cv::resize(columns, pickColumns, cv::Size(shown.width(), 1), 0, 0, cv::INTER_NEAREST_EXACT);
    cv::resize(rows, pickRows, cv::Size(1, shown.height()), 0, 0, cv::INTER_NEAREST_EXACT);
    pickSource = cv::Size(imageWidth, imageHeight);
}

void CammerWidget::pickGreyRow(const int *frame, int y, int first, int count, int *picked, uchar *grey) const
{
    const int *columns = pickColumns.ptr<int>(0) + first;
    // The rows are far apart in memory: the one after next is fetched while this one is worked on.
    if (y + 2 < pickRows.rows) {
        const int *ahead = frame + size_t(pickRows.at<int>(y + 2, 0)) * size_t(imageWidth);
        for (int x = columns[0]; x <= columns[count - 1]; x += 16)
            __builtin_prefetch(ahead + x);
    }
    const int *row = frame + size_t(pickRows.at<int>(y, 0)) * size_t(imageWidth);
    for (int x = 0; x < count; ++x)
        picked[x] = row[columns[x]];
    RGBA2Gray(grey, picked, count, 1);
}

void CammerWidget::pickGreyFromHeld(QSize shown)
{
    updatePicks(shown);
    if (shownFrame.size() != shown || shownFrame.format() != QImage::Format_Grayscale8)
        shownFrame = QImage(shown, QImage::Format_Grayscale8);
    if (shownFrame.isNull())
        return;
    const auto *frame = reinterpret_cast<const int *>(heldColourFrame());
    cv::AutoBuffer<int> picked{size_t(shown.width())};
    for (int y = 0; y < shown.height(); ++y)
        pickGreyRow(frame, y, 0, shown.width(), picked.data(), shownFrame.scanLine(y));
}

// The painter of a widget writes into the screen's picture, the window's backing store; where that is
// an image the painter copies to as it is (32 bits a pixel, one device pixel per pixel, nothing but a
// shift to the window), the grey pixels go there straight, with no picture in between for the painter
// to widen. Only the part of the cell being painted is written.
bool CammerWidget::paintHeldStraight(QPainter &p, const QRect &target)
{
    const auto *frame = reinterpret_cast<const int *>(heldColourFrame());
    QPaintEngine *engine = p.paintEngine();
    QPaintDevice *device = engine ? engine->paintDevice() : nullptr;
    if (!frame || target.isEmpty() || target.width() > imageWidth || target.height() > imageHeight ||
        !device || device->devType() != QInternal::Image)
        return false;
    const auto *screen = static_cast<const QImage *>(device);
    const QTransform toDevice = p.deviceTransform();
    if ((screen->format() != QImage::Format_RGB32 &&
         screen->format() != QImage::Format_ARGB32_Premultiplied) ||
        screen->devicePixelRatioF() != 1.0 || toDevice.type() > QTransform::TxTranslate ||
        toDevice.dx() != std::floor(toDevice.dx()) || toDevice.dy() != std::floor(toDevice.dy()) ||
        p.hasClipping() || p.opacity() < 1.0)
        return false;
    const QPoint shift(int(toDevice.dx()), int(toDevice.dy()));
    const QRect into = (target & rect()).translated(shift) & screen->rect();
    QRegion region = engine->systemClip();
    region = region.isEmpty() ? QRegion(into) : region & into;
    updatePicks(target.size());
    cv::AutoBuffer<int> picked{size_t(target.width())};
    cv::AutoBuffer<uchar> grey{size_t(target.width())};
    for (const QRect &r : region) {
        const int first = r.left() - target.left() - shift.x();
        const int width = r.width();
        const uchar *const greyRow = grey.data(); // a local pointer, so the loop below is vectorized
        for (int sy = r.top(); sy <= r.bottom(); ++sy) {
            pickGreyRow(frame, sy - target.top() - shift.y(), first, width, picked.data(), grey.data());
            // constScanLine: the painter's own image must not be detached from it.
            auto *out =
                reinterpret_cast<uint32_t *>(const_cast<uchar *>(screen->constScanLine(sy))) + r.left();
            for (int x = 0; x < width; ++x)
                out[x] = 0xFF000000u | uint32_t(greyRow[x]) * 0x010101u;
        }
    }
    return true;
}

QTransform CammerWidget::viewTransform() const
{
    ViewZoom zoom;
    if (const auto &hook = cameraViewHooks().zoom)
        zoom = hook();
    QTransform t;
    t.translate(zoom.offsetX, zoom.offsetY);
    t.scale(zoom.scale, zoom.scale);
    t.scale(screenRatioX, screenRatioY);
    return t;
}

// The slot the machine cycle works on, or the editor's slot while the editor shows this view.
int CammerWidget::shownSlot() const
{
    int slot = 0;
    if (roiViewState != -1)
        slot = editSlot;
    else if (const auto &current = inspectionHooks().currentSlot)
        slot = current();
    return std::clamp(slot, 0, kViewSlots - 1);
}

QRect CammerWidget::countdownRect() const
{
    return QRect(int(520 * screenRatioX), int(5 * screenRatioY), 130, 36);
}

void CammerWidget::repaintCountdown()
{
    update(countdownRect());
}

void CammerWidget::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    const QTransform transform = viewTransform();
    // The screen pixels whose centres the picture covers, as the painter fills them.
    const QRectF onScreen = transform.mapRect(QRectF(0, 0, gShowW, gShowH));
    const QRect target(QPoint(qRound(onScreen.left()), qRound(onScreen.top())),
                       QPoint(qRound(onScreen.right()) - 1, qRound(onScreen.bottom()) - 1));
    const bool straight = paintHeldStraight(p, target);
    if (!straight && (frameChanged || target.size() != shownSize)) {
        makeShownFrame(target.size());
        shownSize = target.size();
        frameChanged = false;
    }
    // A picture made for the screen is copied as it is and only the rest of the cell is blackened; a
    // zoomed one is scaled by the painter onto a black cell.
    const bool copied = straight || (!shownFrame.isNull() && shownFrame.size() == target.size());
    if (copied) {
        for (const QRect &r : QRegion(rect()).subtracted(QRegion(target)))
            p.fillRect(r, Qt::black);
        if (!straight)
            p.drawImage(target.topLeft(), shownFrame);
    } else {
        p.fillRect(rect(), Qt::black);
    }
    const int slot = shownSlot();
    p.save();
    p.setTransform(transform);
    if (!copied && !shownFrame.isNull())
        p.drawImage(QRectF(0, 0, gShowW, gShowH), shownFrame);
    if (gSysParam && gSysParam->showRoiLive != 0)
        paintRegions(p, slot);
    paintSpots(p, slot);
    p.restore();
    paintVerdict(p);
    paintStatus(p);
}

// Each region in green while it passed and red when it failed the last pass.
void CammerWidget::paintRegions(QPainter &p, int slot) const
{
    const CammerSingleton *table = roiViewState == -1 ? liveTable : editTable;
    if (!table)
        return;
    const int count = std::clamp(table->roiCount[slot], 0, kRoisPerSlot);
    p.setBrush(Qt::NoBrush);
    for (int j = 0; j < count; ++j) {
        const int e = CammerSingleton::entry(slot, j);
        p.setPen(QPen(roiPass[slot][j] ? kPassColour : kFailColour, 3));
        switch (table->shape[e]) {
        case ShapeRect:
            table->rects[e].draw(&p);
            break;
        case ShapeCircle:
            table->circles[e].draw(&p);
            break;
        case ShapePolygon:
            table->polygons[e].draw(&p);
            break;
        default:
            break;
        }
    }
}

// The blobs the last pass kept (image coordinates) and, after a panel preview, the preview's result.
void CammerWidget::paintSpots(QPainter &p, int slot) const
{
    if (displayScaleX <= 0.0f || displayScaleY <= 0.0f)
        return;
    p.save();
    p.scale(displayScaleX, displayScaleY);
    paintPassMarks(p, slot);
    p.restore();
}

void CammerWidget::paintPassMarks(QPainter &p, int slot) const
{
    if (previewShown && pixelCount > 0 && pixelCount == imageWidth * imageHeight &&
        resultBuffer.size() >= size_t(pixelCount)) {
        QImage overlay(imageWidth, imageHeight, QImage::Format_ARGB32_Premultiplied);
        overlay.fill(Qt::transparent);
        for (int y = 0; y < imageHeight; ++y) {
            const uchar *src = resultBuffer.data() + size_t(y) * size_t(imageWidth);
            auto *dst = reinterpret_cast<QRgb *>(overlay.scanLine(y));
            for (int x = 0; x < imageWidth; ++x) {
                if (src[x])
                    dst[x] = qRgba(200, 0, 0, 200);
            }
        }
        p.drawImage(0, 0, overlay);
    }
    QPen pen(kFailColour, 2);
    pen.setCosmetic(true);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    slot = std::clamp(slot, 0, kViewSlots - 1);
    for (int j = 0; j < kViewRois; ++j) {
        const SpotRecord *s = spots[slot][j];
        const int n = std::clamp(s[0].x1, 0, kMaxSpots - 1);
        for (int i = 1; i <= n; ++i)
            p.drawRect(QRect(QPoint(s[i].x1, s[i].y1), QPoint(s[i].x2, s[i].y2)));
    }
}

// While the main window displays a result: the camera's verdict of that result across the middle of
// the cell, in letters that read from two metres in every layout (the smallest cell, 480 x 540 of
// eight cameras on 1920 x 1080, gets letters about 100 px high), green OK or red NG on a dark plate
// that keeps them readable on any picture. Otherwise, while the NG result timer runs, the small
// badge in the top-left corner.
void CammerWidget::paintVerdict(QPainter &p) const
{
    const auto &shown = cameraViewHooks().shownVerdict;
    const int verdict = shown ? shown(cameraIndex) : -1;
    if (verdict >= 0) {
        const bool ok = verdict == 1;
        const int pixels = std::clamp(std::min(height() * 2 / 5, width() * 3 / 10), 48, 320);
        QFont font = uiFont(pixels);
        font.setBold(true);
        p.setFont(font);
        const QString text = ok ? QStringLiteral("OK") : QStringLiteral("NG");
        const QFontMetrics metrics(font);
        QRect plate(0, 0, metrics.horizontalAdvance(text) + pixels / 2, metrics.height() + pixels / 8);
        plate.moveCenter(rect().center());
        p.fillRect(plate, QColor(0, 0, 0, 220));
        p.setPen(ok ? kVerdictOkColour : kVerdictNgColour);
        p.drawText(plate, Qt::AlignCenter, text);
        return;
    }
    if (!resultTimer || !resultTimer->isActive())
        return;
    const QString text = allPass ? QStringLiteral("OK") : QStringLiteral("NG");
    const int h = std::max(24, int(160 * screenRatioY));
    QFont font = uiFont(h * 3 / 4);
    font.setBold(true);
    p.setFont(font);
    const QRect box(int(20 * screenRatioX), int(60 * screenRatioY), h * 2, h);
    p.fillRect(box, allPass ? QColor(0, 150, 0, 200) : QColor(200, 0, 0, 200));
    p.setPen(Qt::white);
    p.drawText(box, Qt::AlignCenter, text);
}

int CammerWidget::statusLineHeight(float screenRatioY)
{
    return std::max(16, int(40 * screenRatioY));
}

CammerWidget::StatusLines CammerWidget::statusLineRects(const QRect &cell, int line, int coveredFrom)
{
    // The cells tile the whole screen and the strip lies over the foot of the bottom row: there the
    // lines end above the strip instead of at the cell's foot.
    const int foot = std::min(cell.height(), coveredFrom - cell.top());
    const QRect counters(8, foot - 2 * line - 4, cell.width() - 16, line);
    return {counters, counters.translated(0, line)};
}

CammerWidget::StatusLines CammerWidget::statusLines() const
{
    const QRect cell(mapTo(window(), QPoint(0, 0)), size());
    const auto &stripTop = cameraViewHooks().statusStripTop;
    return statusLineRects(cell, statusLineHeight(screenRatioY), stripTop ? stripTop() : cell.bottom() + 1);
}

// Camera number, countdown, counters and the template time, in screen-sized text in every cell.
void CammerWidget::paintStatus(QPainter &p) const
{
    p.setFont(uiFont(std::max(12, int(30 * screenRatioY))));
    p.setPen(Qt::yellow);
    const int line = statusLineHeight(screenRatioY);
    p.drawText(QRect(8, 4, width() - 16, line), Qt::AlignLeft | Qt::AlignVCenter,
               uiText(43).arg(cameraIndex + 1));

    double left = -1.0;
    if (const auto &countdown = cameraViewHooks().countdown)
        left = countdown();
    if (left >= 0.0) {
        const QRect area = countdownRect();
        p.fillRect(area, QColor(0, 0, 0, 160));
        p.setPen(Qt::cyan);
        p.setFont(uiFont(24));
        p.drawText(area, Qt::AlignCenter, QString::number(left, 'f', 1));
    }

    const int c = std::clamp(cameraIndex, 0, 7);
    p.setFont(uiFont(std::max(12, int(26 * screenRatioY))));
    p.setPen(Qt::yellow);
    const StatusLines lines = statusLines();
    p.drawText(lines.counters, Qt::AlignLeft | Qt::AlignVCenter,
               uiText(316).arg(gCameraNgCount[c].load()).arg(gCameraTotalCount[c].load()).arg(framesPerSecond));
    if (!gTemplateTimeText.isEmpty())
        p.drawText(lines.templateTime, Qt::AlignLeft | Qt::AlignVCenter, gTemplateTimeText);
}

// A touch keeps its point for the zoom and brings the menu bar back.
void CammerWidget::mousePressEvent(QMouseEvent *event)
{
    const QPoint onWindow = window() ? mapTo(window(), event->pos()) : event->pos();
    const CameraViewHooks &hooks = cameraViewHooks();
    if (hooks.setZoomAnchor)
        hooks.setZoomAnchor(onWindow.x(), onWindow.y());
    if (hooks.showMenuBar)
        hooks.showMenuBar();
    QWidget::mousePressEvent(event);
}

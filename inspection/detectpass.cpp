// The detection pass: one camera's frame judged region by region for one detection slot, and the
// region preview of the parameter panel. A region that cannot be measured makes the camera NG and is
// logged; it never stops the pass. The pass is two halves: measuring (the camera's own data only, so
// a slot's cameras can be measured side by side) and finishing on the GUI thread (the camera's
// temperatures, the verdict, record lines, report records and the temperature store).

#include "detectpass.h"
#include "cameradetector.h"
#include "cameraparamsource.h"
#include "cameraviewdata.h"
#include "cammersingleton.h"
#include "clock.h"
#include "imagehelpers.h"
#include "inspectionhooks.h"
#include "inspectionlog.h"
#include "sysparam.h"
#include "systemhelpers.h"

#include <QJsonObject>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <climits>
#include <exception>
#include <vector>

bool gTemperatureAlarm = false;

static_assert(kSlotRegions == kDetectorRois, "a measurement holds every region of a slot");

namespace {

const SysParam &params()
{
    static const SysParam defaults;
    return gSysParam ? *gSysParam : defaults;
}

int clampedCount(const CammerSingleton &table, int k)
{
    return std::clamp(table.roiCount[k], 0, kDetectorRois);
}

// The image bounding rectangle of region entry e, by its shape, as the region editor made it.
cv::Rect regionRect(const CammerSingleton &table, int e)
{
    const int shape = table.shape[e];
    const QRect q = shape == ShapeRect     ? table.rects[e].imageRect
                    : shape == ShapeCircle ? table.circles[e].imageRect
                                           : table.polygons[e].imageRect;
    return cv::Rect(q.x(), q.y(), q.width(), q.height());
}

// Where a region is cut from the frame: its full rectangle (the mask's frame of reference) and the
// part of it inside the image.
struct RegionCut
{
    cv::Rect full;
    cv::Rect inside;
};

// The region checks, in the order the record line reports them; 0 when the region can be cut.
int checkRegion(const CammerSingleton &table, int e, const cv::Mat &roiMask, const cv::Mat &valid,
                cv::Size image, RegionCut *cut)
{
    if (roiMask.rows == 0 || roiMask.cols == 0)
        return CheckNoMask;
    if (valid.rows == 0 || valid.cols == 0)
        return CheckNoValidMask;
    cut->full = regionRect(table, e);
    if (cut->full.width < 1 || cut->full.height < 1)
        return CheckEmptyRect;
    if (roiMask.type() != CV_8UC1 || roiMask.size() != cut->full.size())
        return CheckNoMask;
    if (valid.type() != CV_8UC1 || valid.size() != image)
        return CheckNoValidMask;
    cut->inside = cut->full & cv::Rect(cv::Point(0, 0), image);
    if (cut->inside.width < 1 || cut->inside.height < 1)
        return CheckEmptyRect;
    return 0;
}

cv::Mat ellipseKernel(int ks)
{
    ks = std::clamp(ks, kMinBlobKernel, kMaxBlobKernel);
    return cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(ks, ks));
}

void morphology(const cv::Mat &in, cv::Mat &out, int op, int ks)
{
    cv::morphologyEx(in, out, op, ellipseKernel(ks), cv::Point(-1, -1), 1, cv::BORDER_CONSTANT,
                     cv::morphologyDefaultBorderValue());
}

// The grey range of the functions measured by one: false for functions without one. Codes above the
// last known function are measured like the white area.
bool grayRangeOf(int f, int param1, int param2, int *lo, int *hi)
{
    if (f == FuncSpot) {
        *lo = param1 & 0xff;
        *hi = (param1 >> 8) & 0xff;
        if (*lo > *hi)
            std::swap(*lo, *hi);
        return true;
    }
    if (f == FuncBlackArea) {
        *lo = 0;
        *hi = param2 & 0xff;
        return true;
    }
    if (f == FuncWhiteArea || f == FuncWhiteNum || f > FuncAngleCorrection) {
        *lo = param2 & 0xff;
        *hi = 255;
        return true;
    }
    return false;
}

// diff = the pixels of src in function f's grey range, inside mask. The white number then closes its
// marks with its own kernel (parameter 1 when above 0), which also opens them: *ks. False, leaving
// diff and *ks alone, for a function without a grey range.
bool rangeDiff(int f, int p1, int p2, const cv::Mat &src, const cv::Mat &mask, cv::Mat &diff, int *ks)
{
    int lo = 0;
    int hi = 0;
    if (!grayRangeOf(f, p1, p2, &lo, &hi))
        return false;
    grayRangeMask(src, diff, lo, hi);
    cv::bitwise_and(diff, mask, diff);
    if (f == FuncWhiteNum) {
        *ks = p1 > 0 ? p1 : 1;
        morphology(diff, diff, cv::MORPH_CLOSE, *ks);
    }
    return true;
}

// A colour camera's RGBA picture as the grey or hue image the regions are measured on, made in the
// view's grayBuffer (the caller has checked that both hold the image's pixels).
cv::Mat colourToGrey(CameraViewData &v, const uchar *rgba, cv::Size size)
{
    int *pixels = reinterpret_cast<int *>(const_cast<uchar *>(rgba));
    if (gGrayChannel)
        RGBA2Gray(v.grayBuffer.data(), pixels, size.width, size.height);
    else
        RGBA2Hue(v.grayBuffer.data(), pixels, size.width, size.height);
    return cv::Mat(size, CV_8UC1, v.grayBuffer.data());
}

// Opens diff into out, writes out into the result image, and sums the areas of its outer blobs,
// storing the first kMaxStoredBlobs rectangles (in image coordinates) after the count in spots[0].
int blobStep(const cv::Mat &diff, cv::Mat &out, int ks, cv::Mat res, cv::Point origin, SpotRecord *spots)
{
    morphology(diff, out, cv::MORPH_OPEN, ks);
    out.copyTo(res);
    std::vector<std::vector<cv::Point>> contours;
    cv::findContours(out, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_NONE);
    int value = 0;
    int stored = 0;
    for (const std::vector<cv::Point> &c : contours) {
        value = int(value + cv::contourArea(c));
        if (stored < kMaxStoredBlobs) {
            const cv::Rect b = cv::boundingRect(c) + origin;
            spots[++stored] = SpotRecord{b.x, b.y, b.x + b.width, b.y + b.height};
        }
    }
    spots[0].x1 = stored;
    return value;
}

// What one region measured.
struct Measured
{
    int area = 0;  // blob area sum (temperature x 100 for the temperature alarm): the reported value
    int value = 0; // the region's value: area, score, blob count or temperature x 100
    bool failed = false;
};

bool reportsTemperature(const QString &iid)
{
    return iid == QLatin1String("HKHotCamera_IID") || iid == QLatin1String("simulateCamera_IID");
}

// The temperatures of one pass, stored as one row once the pass is over.
struct TemperatureRow
{
    QVector<int> regions;
    QVector<qint64> times;
    QVector<double> values;
};

void recordLine(const QString &line)
{
    const InspectionHooks &h = inspectionHooks();
    if (h.InsertRecord)
        h.InsertRecord(line);
}

} // namespace

void grayRangeMask(const cv::Mat &image, cv::Mat &out, int lo, int hi)
{
    // lo < pixel <= hi is lo + 1 <= pixel <= hi on integer pixels.
    cv::inRange(image, cv::Scalar(double(lo) + 1.0), cv::Scalar(double(hi)), out);
}

int CameraViewData::getRoiTemperature(int detect, int roi)
{
    if (!cameraBackend)
        return 0;
    const QJsonObject ask{{QStringLiteral("detect"), detect}, {QStringLiteral("funcNO"), roi}};
    return cameraBackend->getParam(0, QVariant(ask)).toInt();
}

bool temperatureAlarmAfter(const QVector<TemperatureOutcome> &outcomes, bool current)
{
    bool measured = false;
    bool beyond = false;
    for (const TemperatureOutcome &o : outcomes) {
        measured = measured || o.measured;
        beyond = beyond || (o.measured && o.beyond);
    }
    return measured ? beyond : current;
}

void CameraDetector::detectCamera(int k)
{
    SlotMeasurement m;
    measureSlot(k, &m);
    gTemperatureAlarm = temperatureAlarmAfter({finishSlot(m)}, gTemperatureAlarm);
}

void CameraDetector::measureSlot(int k, SlotMeasurement *m)
{
    m->slot = k;
    m->state = SlotMeasurement::NoSlot;
    m->count = 0;
    if (!owner)
        return;
    CameraViewData &v = *owner;
    if (!liveTable || k < 0 || k >= kDetectorSlots) {
        // No regions to judge by: the verdict of an earlier pass must not stand for this frame.
        qCWarning(lcInspection) << "camera" << v.cameraIndex << "has no slot" << k << "to judge; pass NG";
        return;
    }
    const CammerSingleton &table = *liveTable;
    const SysParam &p = params();
    const int count = clampedCount(table, k);
    m->count = count;
    m->state = SlotMeasurement::NoFrame;

    const cv::Size size(v.imageWidth, v.imageHeight);
    const bool buffersFit =
        !size.empty() && v.resultBuffer.size() >= size_t(v.pixelCount) && v.pixelCount == size.area();
    cv::Mat source;
    if (buffersFit && gColorCamera) {
        if (v.detectBuffer.size() >= size_t(v.pixelCount) * 4 && v.grayBuffer.size() >= size_t(v.pixelCount))
            source = colourToGrey(v, v.detectBuffer.data(), size);
    } else if (buffersFit && v.detectBuffer.size() >= size_t(v.pixelCount)) {
        source = cv::Mat(size, CV_8UC1, v.detectBuffer.data());
    }
    if (source.empty()) {
        // Nothing can be seen: never let the cycle take that for a good part.
        qCWarning(lcInspection) << "camera" << v.cameraIndex << "has no frame of its image size; pass NG";
        return;
    }
    m->state = SlotMeasurement::Measured;

    // Brightness matching scales the frame to the templates' norm; with no template norm yet it would
    // make the frame black and pass anything, so it waits for one.
    cv::Mat matched;
    if (p.matchBrightness && templateNorm[k] > 0.0) {
        cv::normalize(source, matched, templateNorm[k], 0.0, cv::NORM_L2);
        source = matched;
    }

    cv::Mat result(size, CV_8UC1, v.resultBuffer.data());
    result.setTo(0);

    for (int j = 0; j < count; ++j) {
        RegionMeasurement &r = m->regions[j];
        r = RegionMeasurement();
        const int e = CammerSingleton::entry(k, j);
        const int f = table.function[e];
        if (f == FuncIgnoreArea || f == FuncPosition || f == FuncAngleCorrection) {
            r.skipped = true;
            continue;
        }
        const int p1 = table.param1[e];
        const int p2 = table.param2[e];
        const int p3 = table.param3[e];
        RegionCut cut;
        r.code = checkRegion(table, e, v.roiMasks[k][j], validMask[k], size, &cut);
        if (r.code != 0)
            continue;
        if (f == FuncTemperatureAlarm) {
            r.temperature = true; // the camera is asked, on the GUI thread, when the pass is finished
            continue;
        }
        try {
            const cv::Rect rect = cut.inside;
            const cv::Mat src = source(rect);
            cv::Mat mask;
            cv::bitwise_and(validMask[k](rect), v.roiMasks[k][j](rect - cut.full.tl()), mask);
            cv::Mat diff = cv::Mat::zeros(rect.size(), CV_8UC1);
            cv::Mat out = cv::Mat::zeros(rect.size(), CV_8UC1);
            int ks = p.minSpot;
            int score = 0;
            if (f == FuncDefect) {
                ks = p.showAllParams ? p1 : p.filterSize;
                if (grayMatch[k][j].IsValid())
                    grayMatch[k][j].Match(src, diff);
            } else if (f == FuncSimilarity) {
                if (surf[k][j].IsValid()) {
                    cv::Mat copy = src.clone();
                    score = int(surf[k][j].Match(copy, diff));
                }
                ks = 1;
            } else {
                rangeDiff(f, p1, p2, src, mask, diff, &ks);
            }
            SpotRecord *spots = v.spots[k][j];
            r.area = blobStep(diff, out, ks, result(rect), rect.tl(), spots);
            r.value = r.area;
            switch (f) {
            case FuncSpot:
                r.failed = r.value < p2 || r.value > p3;
                break;
            case FuncBlackArea:
            case FuncWhiteArea:
                r.failed = r.value > p3;
                break;
            case FuncSimilarity:
                r.value = score;
                r.failed = score < p2;
                break;
            case FuncWhiteNum:
                r.value = spots[0].x1;
                r.failed = r.value > p3;
                break;
            default: {
                const int limit = p.showAllParams ? p3 : p.alarmArea;
                r.failed = p.ngTemplate ? r.value < limit : r.value > limit;
                break;
            }
            }
        } catch (const std::exception &ex) {
            qCWarning(lcInspection) << "camera" << v.cameraIndex << "slot" << k << "region" << j
                                    << "could not be measured:" << ex.what();
            r.code = CheckMeasureFailed;
        }
    }
}

TemperatureOutcome CameraDetector::finishSlot(const SlotMeasurement &m)
{
    TemperatureOutcome outcome;
    if (!owner)
        return outcome;
    CameraViewData &v = *owner;
    if (m.state == SlotMeasurement::NoSlot || !liveTable) {
        v.allPass = false;
        return outcome;
    }
    const int k = m.slot;
    const CammerSingleton &table = *liveTable;
    v.allPass = true;
    for (int j = 0; j < m.count; ++j)
        v.roiPass[k][j] = true;
    if (m.state != SlotMeasurement::Measured) {
        v.allPass = false;
        return outcome;
    }

    const InspectionHooks &hooks = inspectionHooks();
    TemperatureRow temperatures;
    for (int j = 0; j < m.count; ++j) {
        RegionMeasurement r = m.regions[j];
        const int e = CammerSingleton::entry(k, j);
        const int f = table.function[e];
        if (r.skipped) {
            v.roiValue[k][j] = 0;
            v.spots[k][j][0].x1 = 0;
            continue;
        }
        const int p1 = table.param1[e];
        const int p2 = table.param2[e];
        const int p3 = table.param3[e];
        if (r.code == 0 && r.temperature) {
            try {
                int offset = (p1 >> 8) & 0xff;
                if (offset > 100)
                    offset -= 256;
                temperatureOffset = offset;
                const int reading = v.getRoiTemperature(k, j);
                qCInfo(lcInspection) << "camera" << v.cameraIndex << "slot" << k << "region" << j
                                     << "temperature x 100:" << reading;
                const qint64 corrected = qint64(reading) + qint64(offset) * 100;
                r.area = int(std::clamp<qint64>(corrected, INT_MIN, INT_MAX));
                r.value = r.area;
                if (reportsTemperature(v.cameraIid)) {
                    const double degrees = r.area / 100.0;
                    const double now = double(appNow().toMSecsSinceEpoch());
                    const QString key = makeSlotRegionKey(k, j);
                    temperatures.regions.append(j);
                    temperatures.times.append(qint64(now));
                    temperatures.values.append(degrees);
                    if (hooks.appendLive)
                        hooks.appendLive(v.cameraIndex, key, now, degrees);
                    if (hooks.appendValue)
                        hooks.appendValue(v.cameraIndex, key, now, degrees);
                }
                r.failed = r.value / 100 < p2 || r.value / 100 > p3;
                outcome.measured = true;
                outcome.beyond = outcome.beyond || r.failed;
            } catch (const std::exception &ex) {
                qCWarning(lcInspection) << "camera" << v.cameraIndex << "slot" << k << "region" << j
                                        << "could not be measured:" << ex.what();
                r.code = CheckMeasureFailed;
            }
        }
        if (r.code != 0) {
            v.allPass = false;
            recordLine(QStringLiteral("REG RUN ERROR = %1, %2, %3").arg(v.cameraIndex).arg(k).arg(r.code));
            continue;
        }

        v.roiValue[k][j] = r.value;
        if (r.failed) {
            v.roiPass[k][j] = false;
            v.allPass = false;
        }
        if (reportLinkState() > 0 && hooks.pendingResults) {
            RoiResultRecord record;
            record.camera = v.cameraIndex;
            record.detect = k;
            record.roi = j;
            record.function = f;
            record.value = r.area;
            record.low = (f == FuncSpot || f == FuncSimilarity || f == FuncTemperatureAlarm) ? p2 : 0;
            record.high = f == FuncSimilarity ? -1 : p3;
            record.pass = v.allPass ? 1 : 0;
            hooks.pendingResults(record);
        }
    }

    if (!temperatures.regions.isEmpty() && hooks.insertRecord)
        hooks.insertRecord(v.cameraIndex, k, temperatures.regions, temperatures.times, temperatures.values);
    return outcome;
}

void CameraDetector::previewSpotDetection(int k, int j)
{
    if (!owner || k < 0 || k >= kDetectorSlots || !owner->editTable)
        return;
    CameraViewData &v = *owner;
    const CammerSingleton &table = *v.editTable;
    const cv::Size size(v.imageWidth, v.imageHeight);
    if (size.empty() || v.pixelCount != size.area() || v.resultBuffer.size() < size_t(v.pixelCount))
        return;

    // A colour box previews on the grey (or hue) image of its last pass, which it has whether or not a
    // template was saved; a grey box on the template shown in the panel.
    cv::Mat source;
    const int n = v.currentTemplate;
    if (gColorCamera) {
        if (v.grayBuffer.size() >= size_t(v.pixelCount))
            source = cv::Mat(size, CV_8UC1, v.grayBuffer.data());
    } else if (n >= 0 && n < kMaxTemplates && v.templatePresent[k][n]) {
        const cv::Mat &t = v.templates[k][n];
        if (t.type() == CV_8UC1 && t.size() == size)
            source = t;
    }

    cv::Mat result(size, CV_8UC1, v.resultBuffer.data());
    result.setTo(0);
    if (j < 0 || j >= kDetectorRois)
        return;
    v.roiValue[k][j] = 0;
    v.spots[k][j][0].x1 = 0;
    if (j >= clampedCount(table, k))
        return;
    if (source.empty()) {
        qCWarning(lcInspection) << "no picture of slot" << k << "to preview on (template" << n << ")";
        return;
    }

    const int e = CammerSingleton::entry(k, j);
    const int f = table.function[e];
    const auto repaint = [&v] {
        if (v.repaintView)
            v.repaintView();
    };
    if (f == FuncDefect || f == FuncIgnoreArea || f == FuncPosition || f == FuncSimilarity ||
        f == FuncAngleCorrection) {
        repaint();
        return;
    }

    RegionCut cut;
    if (checkRegion(table, e, v.editRoiMasks[k][j], validMask[k], size, &cut) != 0)
        return;
    const cv::Rect r = cut.inside;
    const int p1 = table.param1[e];
    const int p2 = table.param2[e];
    try {
        cv::Mat out = cv::Mat::zeros(r.size(), CV_8UC1);
        cv::Mat mask;
        cv::bitwise_and(validMask[k](r), v.editRoiMasks[k][j](r - cut.full.tl()), mask);
        cv::Mat diff;
        int ks = params().minSpot;
        if (f != FuncTemperatureAlarm && rangeDiff(f, p1, p2, source(r), mask, diff, &ks)) {
            morphology(diff, out, cv::MORPH_OPEN, ks);
            out.copyTo(result(r));
        }
        if (f != FuncTemperatureAlarm) {
            std::vector<std::vector<cv::Point>> contours;
            cv::findContours(out, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_NONE);
            int value = 0;
            if (f == FuncWhiteNum) {
                value = int(contours.size());
            } else {
                for (const std::vector<cv::Point> &c : contours)
                    value = int(value + cv::contourArea(c));
            }
            v.roiValue[k][j] = value;
        }
    } catch (const std::exception &ex) {
        qCWarning(lcInspection) << "preview of slot" << k << "region" << j << "failed:" << ex.what();
        return;
    }
    v.previewShown = true;
    repaint();
}

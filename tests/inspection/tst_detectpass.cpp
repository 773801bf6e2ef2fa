// The detection pass on synthetic frames: what each region function measures and decides, the blob
// records, the result image, the check codes and their record lines, the report records and the
// temperature feed, and the region preview of the parameter panel.

#include "cameradetector.h"
#include "cameraparamsource.h"
#include "clock.h"
#include "detectorfixture.h"
#include "detectpass.h"
#include "inspectionhooks.h"

#include <QJsonObject>
#include <QtTest>

#include <opencv2/imgproc.hpp>

#include <climits>
#include <memory>
#include <stdexcept>

namespace {

constexpr int kW = 200;
constexpr int kH = 160;

// A thermal back-end that answers every region with one reading and remembers what it was asked.
class TestThermalBackend : public CameraParamSource
{
public:
    QVariant answer;
    bool throwOnAsk = false;
    QList<QPair<int, QJsonObject>> asked;
    QVariant getParam(int command, const QVariant &value) override
    {
        asked.append({command, value.toJsonObject()});
        if (throwOnAsk)
            throw cv::Exception(cv::Error::StsError, "back-end failed", "getParam", __FILE__, __LINE__);
        return answer;
    }
};

struct TemperatureRowCall
{
    int camera;
    int detect;
    QVector<int> regions;
    QVector<qint64> times;
    QVector<double> values;
};

struct PointCall
{
    int camera;
    QString key;
    double x;
    double y;
};

// Pixels of `image` with lo < v <= hi, counted the slow way.
cv::Mat referenceRange(const cv::Mat &image, int lo, int hi)
{
    cv::Mat out(image.size(), CV_8UC1);
    for (int y = 0; y < image.rows; ++y) {
        for (int x = 0; x < image.cols; ++x) {
            const int v = image.at<uchar>(y, x);
            out.at<uchar>(y, x) = (v > lo && v <= hi) ? 255 : 0;
        }
    }
    return out;
}

QString errorLine(int camera, int slot, int code)
{
    return QStringLiteral("REG RUN ERROR = %1, %2, %3").arg(camera).arg(slot).arg(code);
}

} // namespace

class TstDetectPass : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void grayRangeMaskMatchesReference();

    void defectRegion_data();
    void defectRegion();
    void defectUsesSettingsUnlessAllParamsShown();

    void blackAreaCountsGreyOneNeverZero();
    void spotTakesEitherByteOrder();
    void spotAreaBounds_data();
    void spotAreaBounds();
    void whiteCountStopsStoringAt99();
    void badKernelSizesAreClamped_data();
    void badKernelSizesAreClamped();
    void unknownFunctionCodes();
    void colourFrameIsJudgedOnItsGrey();
    void colourFrameIsJudgedOnItsHueWhenAsked();

    void onlyMaskingRegionsPassWithZeroValues();
    void slotOutOfRangeIsNg();
    void circleOverTheImageEdgeIsMeasured();
    void unmeasurableRegionsGiveCheckCodes_data();
    void unmeasurableRegionsGiveCheckCodes();
    void exceptionWhileMeasuringBecomesACheckCode();
    void brightnessMatching();

    void temperatureRegion();
    void temperatureOutOfLimitsRaisesTheAlarm();
    void temperatureOfOtherCamerasIsNotStored();
    void temperatureSumIsClamped();

    void reportRecords();
    void noReportRecordsWhileTheLinkIsDown();

    void previewOnTheShownTemplate();
    void previewWithoutTemplateEnds();
    void previewOnColourBoxUsesTheLastPassGrey();
    void previewOfNonRangeFunctionOnlyRepaints();

private:
    // A fresh view, table and parameters for a grey or colour camera; the detector is made by detector().
    void makeFixture(bool colour);
    CameraDetector &detector();
    cv::Mat frame() { return fx->detect(); }
    int spotCount(int k, int j) const { return fx->view.spots[k][j][0].x1; }

    std::unique_ptr<DetectorFixture> fx;
    std::unique_ptr<CameraDetector> det;
    TestThermalBackend thermal;
    QStringList recordLines;
    QList<RoiResultRecord> results;
    QList<TemperatureRowCall> rows;
    QList<PointCall> livePoints;
    QList<PointCall> chartPoints;
    int linkState = 1;
    int repaints = 0;
};

void TstDetectPass::makeFixture(bool colour)
{
    // The old fixture gives back the globals it changed before the new one takes them.
    det.reset();
    fx.reset();
    fx = std::make_unique<DetectorFixture>(kW, kH, colour);
    fx->param.showAllParams = 1;
    fx->param.ngTemplate = 0;
    fx->param.minSpot = 1;
    fx->param.filterSize = 1;
    fx->param.alarmArea = 100;
    fx->param.matchBrightness = 0;
    for (int k = 0; k < 8; ++k)
        fx->param.slotEnabled[k] = 0;
    fx->view.cameraIid = QStringLiteral("HKHotCamera_IID");
    fx->view.cameraBackend = &thermal;
    fx->view.repaintView = [this] { ++repaints; };
}

void TstDetectPass::init()
{
    thermal = TestThermalBackend();
    makeFixture(false);

    recordLines.clear();
    results.clear();
    rows.clear();
    livePoints.clear();
    chartPoints.clear();
    linkState = 1;
    repaints = 0;
    gTemperatureAlarm = false;

    InspectionHooks &h = inspectionHooks();
    h.InsertRecord = [this](const QString &line) { recordLines << line; };
    h.state = [this] { return linkState; };
    h.pendingResults = [this](const RoiResultRecord &r) { results << r; };
    h.insertRecord = [this](int c, int d, QVector<int> r, QVector<qint64> t, QVector<double> v) {
        rows.append({c, d, r, t, v});
    };
    h.appendLive = [this](int c, const QString &key, double x, double y) {
        livePoints.append({c, key, x, y});
    };
    h.appendValue = [this](int c, const QString &key, double x, double y) {
        chartPoints.append({c, key, x, y});
    };
    setAppClock([] { return QDateTime::fromMSecsSinceEpoch(1700000000123LL); });
}

void TstDetectPass::cleanup()
{
    det.reset();
    fx.reset();
    inspectionHooks() = InspectionHooks();
    setAppClock({});
}

CameraDetector &TstDetectPass::detector()
{
    if (!det)
        det = std::make_unique<CameraDetector>(fx->table, &fx->view);
    return *det;
}

void TstDetectPass::grayRangeMaskMatchesReference()
{
    cv::Mat image(37, 53, CV_8UC1);
    cv::randu(image, 0, 256);
    image.at<uchar>(0, 0) = 0;
    image.at<uchar>(0, 1) = 255;
    const int ranges[][2] = {{-1, 255}, {0, 255}, {0, 0},     {10, 10},
                             {100, 50}, {0, 1},   {254, 255}, {50, 200}};
    for (const auto &r : ranges) {
        cv::Mat out;
        grayRangeMask(image, out, r[0], r[1]);
        QCOMPARE(out.size(), image.size());
        QCOMPARE(out.type(), CV_8UC1);
        QVERIFY2(cv::countNonZero(out != referenceRange(image, r[0], r[1])) == 0,
                 qPrintable(QStringLiteral("range %1..%2").arg(r[0]).arg(r[1])));
    }
}

void TstDetectPass::defectRegion_data()
{
    QTest::addColumn<bool>("blob");
    QTest::addColumn<bool>("ignoreCircle");
    QTest::addColumn<int>("ngTemplate");
    QTest::addColumn<int>("limit");
    QTest::addColumn<bool>("pass");
    QTest::addColumn<int>("value");

    QTest::newRow("blob above the limit fails") << true << false << 0 << 80 << false << 81;
    QTest::newRow("blob equal to the limit passes") << true << false << 0 << 81 << true << 81;
    QTest::newRow("blob equal to the limit passes, NG template") << true << false << 1 << 81 << true << 81;
    QTest::newRow("blob under an ignore circle passes") << true << true << 0 << 80 << true << 0;
    QTest::newRow("no blob passes") << false << false << 0 << 80 << true << 0;
    QTest::newRow("no blob fails in NG-template mode") << false << false << 1 << 81 << false << 0;
}

void TstDetectPass::defectRegion()
{
    QFETCH(bool, blob);
    QFETCH(bool, ignoreCircle);
    QFETCH(int, ngTemplate);
    QFETCH(int, limit);
    QFETCH(bool, pass);
    QFETCH(int, value);

    const int k = 1;
    fx->param.ngTemplate = ngTemplate;
    const cv::Mat good(kH, kW, CV_8UC1, cv::Scalar(100));
    fx->setTemplate(k, 0, good);
    const int j = fx->addRect(k, QRect(QPoint(20, 20), QPoint(119, 99)), FuncDefect, 1, 25, limit);
    if (ignoreCircle)
        fx->addCircle(k, QPoint(55, 45), 15, 0, FuncIgnoreArea);
    detector().trainTemplates(k);

    good.copyTo(frame());
    if (blob)
        frame()(cv::Rect(50, 40, 10, 10)).setTo(250);
    detector().detectCamera(k);

    QCOMPARE(fx->view.roiValue[k][j], value);
    QCOMPARE(fx->view.roiPass[k][j], pass);
    QCOMPARE(fx->view.allPass, pass);
    if (value > 0) {
        QCOMPARE(spotCount(k, j), 1);
        const SpotRecord s = fx->view.spots[k][j][1];
        // Image coordinates; the far corner is the near one plus width and height.
        QCOMPARE((QList<int>{s.x1, s.y1, s.x2, s.y2}), (QList<int>{50, 40, 60, 50}));
        // The opened difference lands in the result image at the region, nothing elsewhere.
        const cv::Mat result(kH, kW, CV_8UC1, fx->view.resultBuffer.data());
        QCOMPARE(cv::countNonZero(result), 100);
        QCOMPARE(cv::countNonZero(result(cv::Rect(50, 40, 10, 10))), 100);
    } else {
        QCOMPARE(spotCount(k, j), 0);
    }
    QVERIFY(recordLines.isEmpty());
}

void TstDetectPass::defectUsesSettingsUnlessAllParamsShown()
{
    const int k = 0;
    fx->param.showAllParams = 0;
    fx->param.alarmArea = 80; // decides instead of the region's area 1000
    fx->param.filterSize = 1; // opens instead of the region's kernel 30
    const cv::Mat good(kH, kW, CV_8UC1, cv::Scalar(100));
    fx->setTemplate(k, 0, good);
    const int j = fx->addRect(k, QRect(QPoint(20, 20), QPoint(119, 99)), FuncDefect, 30, 25, 1000);
    detector().trainTemplates(k);
    good.copyTo(frame());
    frame()(cv::Rect(50, 40, 10, 10)).setTo(250);
    detector().detectCamera(k);
    QCOMPARE(fx->view.roiValue[k][j], 81);
    QVERIFY(!fx->view.allPass);
    // The report carries the region's own upper limit even when the settings decided.
    QCOMPARE(results.size(), 1);
    QCOMPARE(results.first().high, 1000);
    QCOMPARE(results.first().low, 0);
}

void TstDetectPass::blackAreaCountsGreyOneNeverZero()
{
    const int k = 0;
    const int j = fx->addRect(k, QRect(QPoint(10, 10), QPoint(149, 119)), FuncBlackArea, 0, 1, 1000);
    detector().trainTemplates(k);
    frame().setTo(200);
    frame()(cv::Rect(20, 20, 10, 10)).setTo(0);
    frame()(cv::Rect(60, 20, 10, 10)).setTo(1);
    frame()(cv::Rect(100, 20, 10, 10)).setTo(2);
    detector().detectCamera(k);
    QCOMPARE(fx->view.roiValue[k][j], 81);
    QCOMPARE(spotCount(k, j), 1);
    QCOMPARE(fx->view.spots[k][j][1].x1, 60);
    QVERIFY(fx->view.allPass);
    // Reported with no lower limit and the region's area as upper one.
    QCOMPARE(results.size(), 1);
    QCOMPARE((QList<int>{results.first().function, results.first().value, results.first().low,
                         results.first().high}),
             (QList<int>{FuncBlackArea, 81, 0, 1000}));
}

void TstDetectPass::spotTakesEitherByteOrder()
{
    const int k = 0;
    const int a =
        fx->addRect(k, QRect(QPoint(10, 10), QPoint(149, 119)), FuncSpot, 50 | (100 << 8), 0, 1000);
    const int b =
        fx->addRect(k, QRect(QPoint(10, 10), QPoint(149, 119)), FuncSpot, 100 | (50 << 8), 0, 1000);
    detector().trainTemplates(k);
    frame().setTo(10);
    frame()(cv::Rect(20, 20, 10, 10)).setTo(50);   // at the lower bound: not counted
    frame()(cv::Rect(60, 20, 10, 10)).setTo(75);   // inside
    frame()(cv::Rect(100, 20, 10, 10)).setTo(100); // at the upper bound: counted
    frame()(cv::Rect(20, 60, 10, 10)).setTo(101);
    detector().detectCamera(k);
    QCOMPARE(fx->view.roiValue[k][a], 162);
    QCOMPARE(fx->view.roiValue[k][b], 162);
    QCOMPARE(spotCount(k, a), 2);
    QCOMPARE(spotCount(k, b), 2);
}

void TstDetectPass::spotAreaBounds_data()
{
    QTest::addColumn<int>("minArea");
    QTest::addColumn<int>("maxArea");
    QTest::addColumn<bool>("pass");
    QTest::newRow("inside") << 50 << 100 << true;
    QTest::newRow("equal to both") << 81 << 81 << true;
    QTest::newRow("below the minimum") << 82 << 100 << false;
    QTest::newRow("above the maximum") << 0 << 80 << false;
}

void TstDetectPass::spotAreaBounds()
{
    QFETCH(int, minArea);
    QFETCH(int, maxArea);
    QFETCH(bool, pass);
    const int k = 0;
    const int j = fx->addRect(k, QRect(QPoint(10, 10), QPoint(149, 119)), FuncSpot, 200 | (255 << 8),
                              minArea, maxArea);
    detector().trainTemplates(k);
    frame().setTo(0);
    frame()(cv::Rect(30, 30, 10, 10)).setTo(230);
    detector().detectCamera(k);
    QCOMPARE(fx->view.roiValue[k][j], 81);
    QCOMPARE(fx->view.roiPass[k][j], pass);
    QCOMPARE(fx->view.allPass, pass);
}

void TstDetectPass::whiteCountStopsStoringAt99()
{
    const int k = 0;
    // 15 x 10 separate 4 x 4 blobs, 8 px apart.
    const int j = fx->addRect(k, QRect(QPoint(0, 0), QPoint(129, 89)), FuncWhiteNum, 1, 128, 98);
    detector().trainTemplates(k);
    frame().setTo(0);
    for (int row = 0; row < 10; ++row) {
        for (int col = 0; col < 15; ++col)
            frame()(cv::Rect(4 + col * 8, 4 + row * 8, 4, 4)).setTo(255);
    }
    detector().detectCamera(k);
    QCOMPARE(fx->view.roiValue[k][j], 99);
    QCOMPARE(spotCount(k, j), 99);
    for (int n = 1; n <= 99; ++n) {
        const SpotRecord &s = fx->view.spots[k][j][n];
        QCOMPARE(s.x2 - s.x1, 4);
        QCOMPARE(s.y2 - s.y1, 4);
        QCOMPARE((s.x1 - 4) % 8, 0);
        QCOMPARE((s.y1 - 4) % 8, 0);
    }
    // 99 > 98: too many.
    QVERIFY(!fx->view.roiPass[k][j]);
    // The report carries the area sum, not the count: 150 blobs of contour area 3 x 3.
    QCOMPARE(results.size(), 1);
    QCOMPARE(results.first().value, 150 * 9);
    QCOMPARE(results.first().low, 0);
    QCOMPARE(results.first().high, 98);
    QCOMPARE(results.first().pass, 0);
}

void TstDetectPass::badKernelSizesAreClamped_data()
{
    QTest::addColumn<int>("function");
    QTest::addColumn<int>("badKernel");
    QTest::addColumn<int>("sameAs");
    QTest::newRow("defect kernel 0") << int(FuncDefect) << 0 << 1;
    QTest::newRow("defect kernel -7") << int(FuncDefect) << -7 << 1;
    QTest::newRow("defect kernel 1000000") << int(FuncDefect) << 1000000 << 100;
    QTest::newRow("spot kernel 0") << int(FuncSpot) << 0 << 1;
    QTest::newRow("spot kernel 99999") << int(FuncSpot) << 99999 << 100;
    QTest::newRow("white count kernel 5000") << int(FuncWhiteNum) << 5000 << 100;
}

void TstDetectPass::badKernelSizesAreClamped()
{
    QFETCH(int, function);
    QFETCH(int, badKernel);
    QFETCH(int, sameAs);
    const int k = 0;
    const cv::Mat good(kH, kW, CV_8UC1, cv::Scalar(100));
    fx->setTemplate(k, 0, good);
    // Defect kernels come from parameter 1, spot kernels from the minimum-spot setting, white-count
    // kernels from parameter 1. Two regions: one with the bad kernel, one with the clamped one.
    const auto add = [&](int kernel) {
        const int p1 = function == FuncSpot ? (200 | (255 << 8)) : kernel;
        const int p2 = function == FuncWhiteNum ? 200 : 25;
        return fx->addRect(k, QRect(QPoint(0, 0), QPoint(kW - 1, kH - 1)), function, p1, p2, 100000);
    };
    fx->param.minSpot = badKernel;
    const int bad = add(badKernel);
    detector().trainTemplates(k);
    good.copyTo(frame());
    frame()(cv::Rect(20, 20, 150, 120)).setTo(250);
    frame()(cv::Rect(180, 10, 5, 5)).setTo(250);
    detector().detectCamera(k);
    QVERIFY(recordLines.isEmpty());
    const int badValue = fx->view.roiValue[k][bad];

    fx->table->roiCount[k] = 0;
    fx->param.minSpot = sameAs;
    const int ok = add(sameAs);
    detector().trainTemplates(k);
    detector().detectCamera(k);
    QCOMPARE(badValue, fx->view.roiValue[k][ok]);
}

void TstDetectPass::unknownFunctionCodes()
{
    const int k = 0;
    fx->param.alarmArea = 80;
    // Code 8 measures nothing; code 12 measures like a white area (grey above parameter 2); both are
    // decided by the defect rule with the region's area as limit.
    const int eight = fx->addRect(k, QRect(QPoint(0, 0), QPoint(99, 99)), 8, 1, 128, 80);
    const int twelve = fx->addRect(k, QRect(QPoint(0, 0), QPoint(99, 99)), 12, 1, 128, 80);
    detector().trainTemplates(k);
    frame().setTo(0);
    frame()(cv::Rect(10, 10, 10, 10)).setTo(255);
    detector().detectCamera(k);
    QCOMPARE(fx->view.roiValue[k][eight], 0);
    QVERIFY(fx->view.roiPass[k][eight]);
    QCOMPARE(fx->view.roiValue[k][twelve], 81);
    QVERIFY(!fx->view.roiPass[k][twelve]);
}

void TstDetectPass::colourFrameIsJudgedOnItsGrey()
{
    makeFixture(true);
    const int k = 0;
    const int j = fx->addRect(k, QRect(QPoint(0, 0), QPoint(99, 99)), FuncWhiteArea, 0, 200, 1000);
    detector().trainTemplates(k);
    // RGBA white patch on black; grey of pure white is 254 (above 200), grey of pure blue is 28.
    cv::Mat rgba(kH, kW, CV_8UC4, fx->view.detectBuffer.data());
    rgba.setTo(cv::Scalar(0, 0, 255, 0));
    rgba(cv::Rect(10, 10, 10, 10)).setTo(cv::Scalar(255, 255, 255, 0));
    detector().detectCamera(k);
    QCOMPARE(fx->view.roiValue[k][j], 81);
}

void TstDetectPass::colourFrameIsJudgedOnItsHueWhenAsked()
{
    makeFixture(true);
    gGrayChannel = 0;
    const int k = 0;
    // A spot range of hue 85 only: pure green (hue 85) counts, pure red (hue 0) does not.
    const int j = fx->addRect(k, QRect(QPoint(0, 0), QPoint(99, 99)), FuncSpot, 84 | (85 << 8), 0, 1000);
    detector().trainTemplates(k);
    cv::Mat rgba(kH, kW, CV_8UC4, fx->view.detectBuffer.data());
    rgba.setTo(cv::Scalar(255, 0, 0, 0));
    rgba(cv::Rect(30, 20, 10, 10)).setTo(cv::Scalar(0, 255, 0, 0));
    detector().detectCamera(k);
    QCOMPARE(fx->view.roiValue[k][j], 81);
    QCOMPARE(spotCount(k, j), 1);
    QCOMPARE(fx->view.spots[k][j][1].x1, 30);
    // The frame itself is not changed by the conversion.
    QCOMPARE(int(rgba.at<cv::Vec4b>(0, 0)[0]), 255);
}

void TstDetectPass::onlyMaskingRegionsPassWithZeroValues()
{
    const int k = 2;
    const int a = fx->addRect(k, QRect(QPoint(0, 0), QPoint(49, 49)), FuncIgnoreArea);
    const int b = fx->addRect(k, QRect(QPoint(50, 50), QPoint(99, 99)), FuncPosition);
    const int c = fx->addRect(k, QRect(QPoint(0, 50), QPoint(49, 99)), FuncAngleCorrection);
    fx->view.roiValue[k][b] = 1234;
    fx->view.spots[k][c][0].x1 = 7;
    detector().trainTemplates(k);
    frame().setTo(255);
    fx->view.allPass = false;
    detector().detectCamera(k);
    QVERIFY(fx->view.allPass);
    for (int j : {a, b, c}) {
        QCOMPARE(fx->view.roiValue[k][j], 0);
        QCOMPARE(spotCount(k, j), 0);
        QVERIFY(fx->view.roiPass[k][j]);
    }
    QVERIFY(results.isEmpty());
    QVERIFY(recordLines.isEmpty());
}

void TstDetectPass::slotOutOfRangeIsNg()
{
    fx->addRect(0, QRect(QPoint(0, 0), QPoint(49, 49)), FuncWhiteArea, 0, 128, 1000);
    detector().trainTemplates(0);
    frame().setTo(0);
    for (int k : {-1, 8, 1000}) {
        detector().detectCamera(0);
        QVERIFY(fx->view.allPass);
        detector().detectCamera(k);
        QVERIFY2(!fx->view.allPass, qPrintable(QString::number(k)));
    }
    QVERIFY(recordLines.isEmpty());
}

void TstDetectPass::circleOverTheImageEdgeIsMeasured()
{
    const int k = 0;
    // Centre near the top-left corner: most of the circle lies outside the image.
    const int j = fx->addCircle(k, QPoint(8, 8), 40, 0, FuncWhiteArea, 0, 128, 1000);
    detector().trainTemplates(k);
    frame().setTo(0);
    frame()(cv::Rect(2, 2, 10, 10)).setTo(255);
    detector().detectCamera(k);
    QVERIFY(recordLines.isEmpty());
    QCOMPARE(fx->view.roiValue[k][j], 81);
    QCOMPARE(fx->view.spots[k][j][1].x1, 2);
    QCOMPARE(fx->view.spots[k][j][1].y1, 2);
}

void TstDetectPass::unmeasurableRegionsGiveCheckCodes_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("code");
    QTest::newRow("missing mask") << "missing mask" << -1;
    QTest::newRow("mask of another size") << "mask size" << -1;
    QTest::newRow("slot not trained") << "no valid mask" << -2;
    QTest::newRow("rectangle outside the image") << "outside" << -3;
}

void TstDetectPass::unmeasurableRegionsGiveCheckCodes()
{
    QFETCH(QString, fault);
    QFETCH(int, code);
    const int k = 3;
    fx->view.cameraIndex = 5;
    const int good = fx->addRect(k, QRect(QPoint(0, 0), QPoint(49, 49)), FuncWhiteArea, 0, 128, 1000);
    const int bad1 = fx->addRect(k, QRect(QPoint(60, 60), QPoint(99, 99)), FuncSpot, 0 | (255 << 8), 0, 5);
    const int bad2 = fx->addRect(k, QRect(QPoint(100, 60), QPoint(139, 99)), FuncDefect, 1, 25, 5);
    if (fault != QLatin1String("no valid mask"))
        detector().trainTemplates(k);
    for (int j : {bad1, bad2}) {
        if (fault == QLatin1String("missing mask"))
            fx->view.roiMasks[k][j] = cv::Mat();
        else if (fault == QLatin1String("mask size"))
            fx->view.roiMasks[k][j] = cv::Mat(3, 3, CV_8UC1, cv::Scalar(255));
        else if (fault == QLatin1String("outside"))
            fx->table->rects[CammerSingleton::entry(k, j)].imageRect = QRect(kW + 10, 0, 40, 40);
    }
    fx->view.roiValue[k][bad1] = 4321;
    frame().setTo(255);
    detector().detectCamera(k);

    QVERIFY(!fx->view.allPass);
    // One line per region that cannot be measured: without a trained slot that is every region.
    const int lines = code == CheckNoValidMask ? 3 : 2;
    QCOMPARE(recordLines, QStringList() << QVector<QString>(lines, errorLine(5, k, code)).toList());
    // The regions keep their pass flag and their previous value and are not reported.
    QVERIFY(fx->view.roiPass[k][bad1]);
    QVERIFY(fx->view.roiPass[k][bad2]);
    QCOMPARE(fx->view.roiValue[k][bad1], 4321);
    if (code == -2) {
        QCOMPARE(results.size(), 0);
    } else {
        // The measurable region is still measured and reported.
        QCOMPARE(results.size(), 1);
        QCOMPARE(results.first().roi, good);
        QCOMPARE(fx->view.roiValue[k][good], 49 * 49);
    }
}

void TstDetectPass::exceptionWhileMeasuringBecomesACheckCode()
{
    const int k = 0;
    thermal.throwOnAsk = true;
    const int t = fx->addRect(k, QRect(QPoint(0, 0), QPoint(9, 9)), FuncTemperatureAlarm, 0, -40, 600);
    const int w = fx->addRect(k, QRect(QPoint(0, 0), QPoint(49, 49)), FuncWhiteArea, 0, 128, 1000);
    detector().trainTemplates(k);
    frame().setTo(255);
    detector().detectCamera(k);
    QVERIFY(!fx->view.allPass);
    QCOMPARE(recordLines, QStringList{errorLine(0, k, CheckMeasureFailed)});
    QVERIFY(fx->view.roiPass[k][t]);
    QCOMPARE(fx->view.roiValue[k][w], 49 * 49);
    QCOMPARE(results.size(), 1);
}

void TstDetectPass::brightnessMatching()
{
    const int k = 0;
    fx->param.matchBrightness = 1;
    const int j = fx->addRect(k, QRect(QPoint(0, 0), QPoint(99, 99)), FuncWhiteArea, 0, 150, 1000);
    detector().trainTemplates(k);
    frame().setTo(40);
    frame()(cv::Rect(10, 10, 10, 10)).setTo(200);

    // No template norm: the frame is judged as it is.
    detector().templateNorm[k] = 0.0;
    detector().detectCamera(k);
    QCOMPARE(fx->view.roiValue[k][j], 81);

    // A template half as bright: the frame is scaled down to its norm and the patch (100) is not white.
    detector().templateNorm[k] = cv::norm(frame(), cv::NORM_L2) / 2.0;
    detector().detectCamera(k);
    QCOMPARE(fx->view.roiValue[k][j], 0);
    // The frame itself is left alone.
    QCOMPARE(int(frame().at<uchar>(15, 15)), 200);
}

void TstDetectPass::temperatureRegion()
{
    const int k = 1;
    thermal.answer = 30000;
    const int j =
        fx->addRect(k, QRect(QPoint(0, 0), QPoint(9, 9)), FuncTemperatureAlarm, 90 | (250 << 8), -40, 600);
    detector().trainTemplates(k);
    detector().detectCamera(k);

    QCOMPARE(thermal.asked.size(), 1);
    QCOMPARE(thermal.asked.first().first, 0);
    QCOMPARE(thermal.asked.first().second, (QJsonObject{{"detect", k}, {"funcNO", j}}));
    QCOMPARE(fx->view.roiValue[k][j], 29400);
    QCOMPARE(detector().temperatureOffset, -6);
    QVERIFY(fx->view.roiPass[k][j]);
    QVERIFY(fx->view.allPass);
    QVERIFY(!gTemperatureAlarm);

    const double now = 1700000000123.0;
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.first().camera, 0);
    QCOMPARE(rows.first().detect, k);
    QCOMPARE(rows.first().regions, QVector<int>{j});
    QCOMPARE(rows.first().times, QVector<qint64>{1700000000123LL});
    QCOMPARE(rows.first().values, QVector<double>{294.0});
    QCOMPARE(livePoints.size(), 1);
    QCOMPARE(livePoints.first().key, QStringLiteral("D1_T0"));
    QCOMPARE(livePoints.first().x, now);
    QCOMPARE(livePoints.first().y, 294.0);
    QCOMPARE(chartPoints.size(), 1);
    QCOMPARE(chartPoints.first().key, QStringLiteral("D1_T0"));
    QCOMPARE(chartPoints.first().camera, 0);

    QCOMPARE(results.size(), 1);
    QCOMPARE(results.first().value, 29400);
    QCOMPARE(results.first().low, -40);
    QCOMPARE(results.first().high, 600);
}

void TstDetectPass::temperatureOutOfLimitsRaisesTheAlarm()
{
    const int k = 0;
    const int j = fx->addRect(k, QRect(QPoint(0, 0), QPoint(9, 9)), FuncTemperatureAlarm, 0, -40, 600);
    fx->addRect(k, QRect(QPoint(10, 0), QPoint(19, 9)), FuncTemperatureAlarm, 0, -40, 600);
    detector().trainTemplates(k);

    thermal.answer = 60199; // 601 degrees
    detector().detectCamera(k);
    QVERIFY(!fx->view.roiPass[k][j]);
    QVERIFY(!fx->view.allPass);
    QVERIFY(gTemperatureAlarm);
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.first().regions, (QVector<int>{0, 1}));

    thermal.answer = 60099; // 600.99 degrees: whole degrees 600, still in
    detector().detectCamera(k);
    QVERIFY(fx->view.allPass);
    QVERIFY(!gTemperatureAlarm);

    thermal.answer = -4100;
    detector().detectCamera(k);
    QVERIFY(gTemperatureAlarm);

    // A pass without temperature regions leaves the flag alone.
    fx->table->roiCount[k] = 0;
    detector().detectCamera(k);
    QVERIFY(gTemperatureAlarm);
}

void TstDetectPass::temperatureOfOtherCamerasIsNotStored()
{
    const int k = 0;
    fx->view.cameraIid = QStringLiteral("mindCamera_IID");
    thermal.answer = 99999;
    const int j = fx->addRect(k, QRect(QPoint(0, 0), QPoint(9, 9)), FuncTemperatureAlarm, 0, -40, 600);
    detector().trainTemplates(k);
    detector().detectCamera(k);
    QCOMPARE(fx->view.roiValue[k][j], 99999);
    QVERIFY(gTemperatureAlarm);
    QVERIFY(rows.isEmpty());
    QVERIFY(livePoints.isEmpty());
    QVERIFY(chartPoints.isEmpty());

    // Without a back-end the reading is 0.
    fx->view.cameraBackend = nullptr;
    detector().detectCamera(k);
    QCOMPARE(fx->view.roiValue[k][j], 0);
}

void TstDetectPass::temperatureSumIsClamped()
{
    const int k = 0;
    const int hot =
        fx->addRect(k, QRect(QPoint(0, 0), QPoint(9, 9)), FuncTemperatureAlarm, 100 << 8, -40, 600);
    detector().trainTemplates(k);
    thermal.answer = INT_MAX;
    detector().detectCamera(k);
    QCOMPARE(fx->view.roiValue[k][hot], INT_MAX);

    fx->table->param1[CammerSingleton::entry(k, hot)] = 101 << 8; // -155 degrees
    thermal.answer = INT_MIN;
    detector().detectCamera(k);
    QCOMPARE(fx->view.roiValue[k][hot], INT_MIN);
    QCOMPARE(detector().temperatureOffset, -155);
}

void TstDetectPass::reportRecords()
{
    const int k = 1;
    fx->view.cameraIndex = 2;
    const cv::Mat good = [] {
        cv::Mat t(kH, kW, CV_8UC1);
        cv::randu(t, 0, 256);
        cv::GaussianBlur(t, t, cv::Size(0, 0), 2.0);
        return t;
    }();
    fx->setTemplate(k, 0, good);
    thermal.answer = 2550;
    fx->view.cameraIid = QStringLiteral("simulateCamera_IID");
    const int spot = fx->addRect(k, QRect(QPoint(0, 0), QPoint(49, 49)), FuncSpot, 0 | (255 << 8), 10, 5000);
    fx->addRect(k, QRect(QPoint(0, 0), QPoint(9, 9)), FuncIgnoreArea);
    const int sim = fx->addRect(k, QRect(QPoint(60, 60), QPoint(119, 119)), FuncSimilarity, 0, 50, 0);
    fx->addRect(k, QRect(QPoint(60, 0), QPoint(79, 19)), FuncPosition);
    const int temp = fx->addRect(k, QRect(QPoint(120, 0), QPoint(129, 9)), FuncTemperatureAlarm, 0, 20, 30);
    fx->addRect(k, QRect(QPoint(130, 0), QPoint(139, 9)), FuncAngleCorrection);
    const int broken = fx->addRect(k, QRect(QPoint(140, 0), QPoint(149, 9)), FuncWhiteArea, 0, 1, 0);
    const int white = fx->addRect(k, QRect(QPoint(150, 100), QPoint(199, 159)), FuncWhiteArea, 0, 250, 0);
    // Passes on its own (no white pixel there, limit 1000), after regions that failed.
    const int clean = fx->addRect(k, QRect(QPoint(150, 0), QPoint(159, 9)), FuncWhiteArea, 0, 250, 1000);
    detector().trainTemplates(k);
    fx->view.roiMasks[k][broken] = cv::Mat();
    good.copyTo(frame());
    frame()(cv::Rect(160, 110, 5, 5)).setTo(255);
    detector().detectCamera(k);

    // One record per measured region, in region order; none for masking regions or the broken one.
    QCOMPARE(results.size(), 5);
    const RoiResultRecord &a = results.at(0);
    QCOMPARE((QList<int>{a.camera, a.detect, a.roi, a.function, a.low, a.high, a.pass}),
             (QList<int>{2, k, spot, FuncSpot, 10, 5000, 1}));
    QCOMPARE(a.value, fx->view.roiValue[k][spot]);
    const RoiResultRecord &b = results.at(1);
    QCOMPARE((QList<int>{b.roi, b.function, b.low, b.high, b.pass}),
             (QList<int>{sim, FuncSimilarity, 50, -1, 1}));
    QVERIFY2(fx->view.roiValue[k][sim] >= 95, "the template itself scores as similar");
    QCOMPARE(b.value, 0); // area of the difference, not the score
    const RoiResultRecord &c = results.at(2);
    QCOMPARE((QList<int>{c.roi, c.function, c.value, c.low, c.high, c.pass}),
             (QList<int>{temp, FuncTemperatureAlarm, 2550, 20, 30, 1}));
    // The broken region made the camera NG before the white region was measured.
    const RoiResultRecord &d = results.at(3);
    QCOMPARE((QList<int>{d.roi, d.function, d.value, d.low, d.high, d.pass}),
             (QList<int>{white, FuncWhiteArea, 16, 0, 0, 0}));
    // A record's pass flag is the camera's verdict so far, not the region's own.
    QVERIFY(fx->view.roiPass[k][clean]);
    const RoiResultRecord &e = results.at(4);
    QCOMPARE((QList<int>{e.roi, e.value, e.high, e.pass}), (QList<int>{clean, 0, 1000, 0}));
    QCOMPARE(recordLines, QStringList{errorLine(2, k, -1)});
}

void TstDetectPass::noReportRecordsWhileTheLinkIsDown()
{
    const int k = 0;
    fx->addRect(k, QRect(QPoint(0, 0), QPoint(49, 49)), FuncWhiteArea, 0, 128, 1000);
    detector().trainTemplates(k);
    for (int state : {0, -1, -2, -3}) {
        linkState = state;
        detector().detectCamera(k);
    }
    inspectionHooks().state = nullptr;
    detector().detectCamera(k);
    QVERIFY(results.isEmpty());
    linkState = 1;
    inspectionHooks().state = [this] { return linkState; };
    detector().detectCamera(k);
    QCOMPARE(results.size(), 1);
}

void TstDetectPass::previewOnTheShownTemplate()
{
    const int k = 0;
    const int j = fx->addRect(k, QRect(QPoint(0, 0), QPoint(129, 89)), FuncWhiteNum, 1, 128, 5);
    detector().trainTemplates(k);
    *fx->view.editTable = *fx->table;
    fx->view.editRoiMasks[k][j] = fx->view.roiMasks[k][j].clone();
    // The edit table differs: the preview must use it.
    fx->table->param2[CammerSingleton::entry(k, j)] = 255;

    cv::Mat shown(kH, kW, CV_8UC1, cv::Scalar(0));
    for (int row = 0; row < 10; ++row) {
        for (int col = 0; col < 15; ++col)
            shown(cv::Rect(4 + col * 8, 4 + row * 8, 4, 4)).setTo(255);
    }
    fx->setTemplate(k, 3, shown);
    fx->view.currentTemplate = 3;
    frame().setTo(0);
    detector().previewSpotDetection(k, j);
    // The preview counts every contour, not capped at 99.
    QCOMPARE(fx->view.roiValue[k][j], 150);
    QVERIFY(fx->view.previewShown);
    QCOMPARE(repaints, 1);
    const cv::Mat result(kH, kW, CV_8UC1, fx->view.resultBuffer.data());
    QCOMPARE(cv::countNonZero(result), 150 * 16);

    // A spot region sums areas.
    fx->view.editTable->function[CammerSingleton::entry(k, j)] = FuncSpot;
    fx->view.editTable->param1[CammerSingleton::entry(k, j)] = 200 | (255 << 8);
    detector().previewSpotDetection(k, j);
    QCOMPARE(fx->view.roiValue[k][j], 150 * 9);
}

void TstDetectPass::previewWithoutTemplateEnds()
{
    const int k = 0;
    const int j = fx->addRect(k, QRect(QPoint(0, 0), QPoint(49, 49)), FuncWhiteArea, 0, 128, 5);
    detector().trainTemplates(k);
    *fx->view.editTable = *fx->table;
    fx->view.editRoiMasks[k][j] = fx->view.roiMasks[k][j].clone();
    fx->view.roiValue[k][j] = 77;
    fx->view.resultBuffer.assign(fx->view.resultBuffer.size(), 9);
    for (int n : {7, -1, 1000}) {
        fx->view.currentTemplate = n;
        detector().previewSpotDetection(k, j);
        QCOMPARE(fx->view.roiValue[k][j], 0);
        QVERIFY(!fx->view.previewShown);
        QCOMPARE(repaints, 0);
        QCOMPARE(std::count(fx->view.resultBuffer.begin(), fx->view.resultBuffer.end(), 0),
                 long(fx->view.resultBuffer.size()));
    }
}

// A colour box previews on the grey image of its last pass, with or without a saved template, and
// not on a template shown in the panel.
void TstDetectPass::previewOnColourBoxUsesTheLastPassGrey()
{
    makeFixture(true);
    const int k = 0;
    const int j = fx->addRect(k, QRect(QPoint(0, 0), QPoint(99, 99)), FuncWhiteArea, 0, 200, 1000);
    detector().trainTemplates(k);
    *fx->view.editTable = *fx->table;
    fx->view.editRoiMasks[k][j] = fx->view.roiMasks[k][j].clone();
    // The last pass saw a white 10 x 10 square on blue (grey 29, below the region's 200).
    cv::Mat seen(kH, kW, CV_8UC4, fx->view.detectBuffer.data());
    seen.setTo(cv::Scalar(0, 0, 255, 0));
    seen(cv::Rect(10, 10, 10, 10)).setTo(cv::Scalar(255, 255, 255, 0));
    detector().detectCamera(k);
    fx->view.currentTemplate = -1;
    detector().previewSpotDetection(k, j);
    QCOMPARE(fx->view.roiValue[k][j], 81);
    QVERIFY(fx->view.previewShown);

    // A template with a larger white square shown in the panel changes nothing.
    cv::Mat rgba(kH, kW, CV_8UC4, cv::Scalar(0, 0, 255, 0));
    rgba(cv::Rect(10, 10, 30, 30)).setTo(cv::Scalar(255, 255, 255, 0));
    fx->setTemplate(k, 2, rgba);
    fx->view.currentTemplate = 2;
    detector().previewSpotDetection(k, j);
    QCOMPARE(fx->view.roiValue[k][j], 81);
}

void TstDetectPass::previewOfNonRangeFunctionOnlyRepaints()
{
    const int k = 0;
    const int j = fx->addRect(k, QRect(QPoint(0, 0), QPoint(49, 49)), FuncDefect, 1, 25, 5);
    detector().trainTemplates(k);
    *fx->view.editTable = *fx->table;
    fx->view.editRoiMasks[k][j] = fx->view.roiMasks[k][j].clone();
    fx->setTemplate(k, 0, cv::Mat(kH, kW, CV_8UC1, cv::Scalar(255)));
    fx->view.currentTemplate = 0;
    detector().previewSpotDetection(k, j);
    QCOMPARE(repaints, 1);
    QVERIFY(!fx->view.previewShown);
    QCOMPARE(fx->view.roiValue[k][j], 0);
    // A region number beyond the slot's count stops before anything is drawn.
    detector().previewSpotDetection(k, j + 1);
    QCOMPARE(repaints, 1);
}

QTEST_GUILESS_MAIN(TstDetectPass)
#include "tst_detectpass.moc"

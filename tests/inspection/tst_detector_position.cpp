// The frame's way through the camera view's buffers: grabbed -> registered -> positioned, as the
// detection pass then judges it. What matters is that a moved or turned frame comes out on the
// template, and that whenever a correction cannot be made the frame passes on byte for byte.

#include "cameradetector.h"
#include "detectorfixture.h"
#include "inspectionhooks.h"
#include "syntheticimages.h"

#include <opencv2/imgproc.hpp>

#include <QtTest>

namespace {
constexpr int kW = 320, kH = 240;

// A positioning setup: template 0 textured, positioning on, default shape area.
void positioningOn(DetectorFixture &f, int rotateAngle, int maxOffset = 24)
{
    f.param.motionCorrect = 0;
    f.param.rotateAngle = rotateAngle;
    f.param.maxOffset = maxOffset;
    f.setTemplate(1, 0, texture(kW, kH, 90));
}

// A position region in the middle of the image, so that the shape may move every way. (The default
// area reaches the right and bottom edges of the image.)
void middlePositionRegion(DetectorFixture &f)
{
    f.addRect(1, QRect(100, 70, 120, 100), FuncPosition, 5);
}

bool sameBytes(const std::vector<uchar> &a, const std::vector<uchar> &b)
{
    return a == b;
}
} // namespace

class TestDetectorPosition : public QObject
{
    Q_OBJECT
private slots:
    void defaultShapeAndSearchWindow()
    {
        DetectorFixture f(kW, kH);
        positioningOn(f, 0, 24);
        CameraDetector d(f.table, &f.view);
        d.createPositionTemplate(1);
        QVERIFY(d.findShape[1].IsValid());
        // Default area (W/4, H/4, 3W/4, 3H/4) = (80, 60, 240, 180), centre (200, 150).
        QCOMPARE(d.positionCentreX[1], 200);
        QCOMPARE(d.positionCentreY[1], 150);
        QCOMPARE(d.searchRect[1], cv::Rect(56, 36, 264, 204));
    }

    void searchWindowOfLargeOffsetIsTheImage()
    {
        DetectorFixture f(kW, kH);
        positioningOn(f, 0, 8000);
        CameraDetector d(f.table, &f.view);
        d.createPositionTemplate(1);
        QCOMPARE(d.searchRect[1], cv::Rect(0, 0, kW, kH));
    }

    void twoPositionRegions()
    {
        // Mask and least match from the first, rectangle from the last.
        DetectorFixture f(kW, kH);
        positioningOn(f, 0, 20);
        f.addRect(1, QRect(20, 20, 60, 60), FuncPosition, 100);
        f.addRect(1, QRect(150, 100, 100, 80), FuncPosition, 5);
        CameraDetector d(f.table, &f.view);
        d.createPositionTemplate(1);
        QCOMPARE(d.positionCentreX[1], 200);
        QCOMPARE(d.positionCentreY[1], 140);
        QCOMPARE(d.searchRect[1], cv::Rect(130, 80, 140, 120));
        QVERIFY(d.findShape[1].IsValid()); // the first mask (60 x 60) does not fit: a full one is used
        // A least match of 100 can never be beaten: even the template itself passes on unmoved.
        f.grab().setTo(cv::Scalar(0));
        shifted(f.view.templates[1][0], 3, 2).copyTo(f.registered());
        d.findPosition(1);
        QVERIFY(sameBytes(f.view.detectBuffer, f.view.registeredBuffer));
    }

    void firstPositionRegionsMaskShapesTheSearch()
    {
        // The first region (a circle, least match 95) gives the mask, the last (a rectangle of the
        // circle's size) the place. Outside the circle the frame holds other content: only a search
        // under the circle's mask still scores above 95 and moves the frame back.
        DetectorFixture f(kW, kH);
        positioningOn(f, 0, 20);
        f.addCircle(1, QPoint(160, 120), 40, 0, FuncPosition, 95);
        f.addRect(1, QRect(100, 70, 80, 80), FuncPosition, 5);
        CameraDetector d(f.table, &f.view);
        d.createPositionTemplate(1);
        QCOMPARE(d.positionCentreX[1], 140);
        QCOMPARE(d.positionCentreY[1], 110);
        const cv::Mat templ = f.view.templates[1][0];
        cv::Mat frame = shifted(templ, 5, -3);
        const cv::Mat other = noise(80, 80, 94);
        for (int v = 0; v < 80; ++v)
            for (int u = 0; u < 80; ++u)
                if ((u - 40) * (u - 40) + (v - 40) * (v - 40) >= 40 * 40)
                    frame.at<uchar>(67 + v, 105 + u) = other.at<uchar>(v, u);
        frame.copyTo(f.grab());
        d.timedRegister(1);
        d.findPosition(1);
        for (const cv::Rect &r : {cv::Rect(125, 95, 30, 30), cv::Rect(200, 150, 100, 80)})
            QCOMPARE(cv::countNonZero(f.detect()(r) != templ(r)), 0);
    }

    void positionRegionAcrossTheBorder()
    {
        DetectorFixture f(kW, kH);
        positioningOn(f, 0, 10);
        f.addCircle(1, QPoint(300, 120), 40, 0, FuncPosition, 5);
        CameraDetector d(f.table, &f.view);
        d.createPositionTemplate(1);
        QVERIFY(d.findShape[1].IsValid());
        // Rectangle (260, 80, 80, 80) cut to the image: (260, 80, 60, 80).
        QCOMPARE(d.positionCentreX[1], 290);
        QCOMPARE(d.positionCentreY[1], 120);
    }

    void shiftedFrameComesBackOntoTheTemplate_data()
    {
        QTest::addColumn<int>("dx");
        QTest::addColumn<int>("dy");
        QTest::newRow("(+7, -4)") << 7 << -4;
        QTest::newRow("(-10, +12)") << -10 << 12;
        QTest::newRow("still") << 0 << 0;
    }
    void shiftedFrameComesBackOntoTheTemplate()
    {
        QFETCH(int, dx);
        QFETCH(int, dy);
        DetectorFixture f(kW, kH);
        positioningOn(f, 0);
        middlePositionRegion(f);
        CameraDetector d(f.table, &f.view);
        d.createPositionTemplate(1);
        QCOMPARE(d.searchRect[1], cv::Rect(76, 46, 168, 148));
        const cv::Mat templ = f.view.templates[1][0];
        shifted(templ, dx, dy).copyTo(f.grab());
        const uchar *detectBefore = f.view.detectBuffer.data();
        QCOMPARE(d.timedRegister(1), 1);
        QVERIFY(sameBytes(f.view.registeredBuffer, f.view.grabBuffer())); // registration off
        d.findPosition(1);
        QCOMPARE(f.view.detectBuffer.data(), detectBefore);
        // Over the part both frames share, the corrected frame is the template exactly.
        const cv::Rect back =
            cv::Rect(std::max(0, -dx), std::max(0, -dy), kW - std::abs(dx), kH - std::abs(dy));
        QCOMPARE(cv::countNonZero(f.detect()(back) != templ(back)), 0);
    }

    void turnedFrameComesBackOntoTheTemplate()
    {
        DetectorFixture f(kW, kH);
        positioningOn(f, 10);
        CameraDetector d(f.table, &f.view);
        d.createPositionTemplate(1);
        const cv::Mat templ = f.view.templates[1][0];
        const cv::Point2f centre(float(d.positionCentreX[1]), float(d.positionCentreY[1]));
        turned(templ, centre, 3.0).copyTo(f.grab());
        d.timedRegister(1);
        d.findPosition(1);
        const cv::Rect inner(110, 80, 180, 130);
        const double before = meanAbsDiff(f.grab()(inner), templ(inner));
        const double after = meanAbsDiff(f.detect()(inner), templ(inner));
        QVERIFY2(before > 10 && after < 3, qPrintable(QStringLiteral("%1 -> %2").arg(before).arg(after)));
    }

    void rotationOffGivesOnlyAShift()
    {
        // With rotateAngle 0 a turned frame is only moved, never turned back.
        DetectorFixture f(kW, kH);
        positioningOn(f, 0);
        CameraDetector d(f.table, &f.view);
        d.createPositionTemplate(1);
        const cv::Mat templ = f.view.templates[1][0];
        turned(templ, cv::Point2f(200, 150), 2.0).copyTo(f.grab());
        d.timedRegister(1);
        d.findPosition(1);
        // Whatever shift was chosen, the result is the registered frame moved as a whole.
        bool someShiftMatches = false;
        for (int dy = -3; dy <= 3 && !someShiftMatches; ++dy)
            for (int dx = -3; dx <= 3 && !someShiftMatches; ++dx)
                someShiftMatches = cv::countNonZero(shifted(f.registered(), dx, dy) != f.detect()) == 0;
        QVERIFY(someShiftMatches);
    }

    void framesPassUnchangedWhenNothingCanBeCorrected_data()
    {
        QTest::addColumn<int>("kind");
        QTest::newRow("motion correction off, rotation set") << 0;
        QTest::newRow("no shape (template 0 plain)") << 1;
        QTest::newRow("template 0 of the wrong size") << 2;
        QTest::newRow("template 0 of the wrong type") << 3;
        QTest::newRow("empty search window") << 4;
        QTest::newRow("search window smaller than the shape") << 5;
        QTest::newRow("search window outside the image") << 6;
        QTest::newRow("shape not in the frame (plain frame)") << 7;
        QTest::newRow("slot out of range") << 8;
        QTest::newRow("no current slot hook") << 9;
    }
    void framesPassUnchangedWhenNothingCanBeCorrected()
    {
        QFETCH(int, kind);
        DetectorFixture f(kW, kH);
        positioningOn(f, 10);
        if (kind == 1)
            f.view.templates[1][0] = cv::Mat::zeros(kH, kW, CV_8UC1);
        if (kind == 2)
            f.view.templates[1][0] = texture(kW - 1, kH, 90);
        if (kind == 3)
            f.view.templates[1][0] = cv::Mat(kH, kW, CV_16UC1, cv::Scalar(1000));
        CameraDetector d(f.table, &f.view);
        d.createPositionTemplate(1);
        if (kind == 0)
            f.param.motionCorrect = -1;
        if (kind == 4)
            d.searchRect[1] = cv::Rect();
        if (kind == 5)
            d.searchRect[1] = cv::Rect(80, 60, 100, 100);
        if (kind == 6)
            d.searchRect[1] = cv::Rect(300, 200, 100, 100);
        cv::Mat frame = shifted(texture(kW, kH, 90), 5, 5);
        if (kind == 7)
            frame = cv::Mat(kH, kW, CV_8UC1, cv::Scalar(128));
        frame.copyTo(f.grab());
        d.timedRegister(1);
        f.detect().setTo(cv::Scalar(1));
        if (kind == 8)
            d.findPosition(8);
        else if (kind == 9)
            d.findPosition();
        else
            d.findPosition(1);
        QVERIFY(sameBytes(f.view.detectBuffer, f.view.grabBuffer()));
    }

    void currentSlotHookChoosesTheSlot()
    {
        DetectorFixture f(kW, kH);
        positioningOn(f, 0);
        middlePositionRegion(f);
        CameraDetector d(f.table, &f.view);
        d.createPositionTemplate(1); // slot 1 has a shape, slot 0 none
        const cv::Mat templ = f.view.templates[1][0];
        shifted(templ, 6, 3).copyTo(f.grab());
        d.timedRegister(1);
        int slot = 0;
        inspectionHooks().currentSlot = [&slot] { return slot; };
        d.findPosition();
        QVERIFY(sameBytes(f.view.detectBuffer, f.view.registeredBuffer));
        slot = 1;
        d.findPosition();
        const cv::Rect back(0, 0, kW - 6, kH - 3);
        QCOMPARE(cv::countNonZero(f.detect()(back) != templ(back)), 0);
        inspectionHooks().currentSlot = nullptr;
    }

    void registrationOntoTheTemplate()
    {
        DetectorFixture f(640, 480);
        f.param.angleCorrect = 1;
        const cv::Mat templ = texture(640, 480, 92);
        f.setTemplate(1, 0, templ);
        CameraDetector d(f.table, &f.view);
        d.buildRegistrationTemplate(1);
        QVERIFY(d.registration[1].features[1].keypoints.size() >= 300);

        cv::Mat h = cv::Mat::eye(3, 3, CV_64F);
        cv::getRotationMatrix2D(cv::Point2f(320, 240), 1.5, 1.0).copyTo(h(cv::Rect(0, 0, 3, 2)));
        h.at<double>(0, 2) += 5;
        h.at<double>(2, 0) = 1e-5;
        cv::warpPerspective(templ, f.grab(), h, templ.size(), cv::INTER_LINEAR, cv::BORDER_REFLECT);
        const uchar *before = f.view.registeredBuffer.data();
        QCOMPARE(d.timedRegister(1), 1);
        QCOMPARE(f.view.registeredBuffer.data(), before);
        const cv::Rect inner(60, 60, 520, 360);
        QVERIFY(meanAbsDiff(f.grab()(inner), templ(inner)) > 15);
        QVERIFY(meanAbsDiff(f.registered()(inner), templ(inner)) < 3);

        // A plain frame has nothing to register by: it passes byte for byte.
        f.grab().setTo(cv::Scalar(77));
        d.timedRegister(1);
        QVERIFY(sameBytes(f.view.registeredBuffer, f.view.grabBuffer()));
        // Angle correction off: copied, whatever the template.
        shifted(templ, 4, 4).copyTo(f.grab());
        f.param.angleCorrect = 0;
        d.timedRegister(1);
        QVERIFY(sameBytes(f.view.registeredBuffer, f.view.grabBuffer()));
    }

    void registrationMask()
    {
        DetectorFixture f(640, 480);
        f.param.angleCorrect = 1;
        f.setTemplate(1, 0, texture(640, 480, 93));
        CameraDetector d(f.table, &f.view);
        d.buildRegistrationTemplate(1);
        // No angle-correction region: 255 exactly on [W/4, W) x [H/4, H).
        cv::Mat expected = cv::Mat::zeros(480, 640, CV_8UC1);
        expected(cv::Rect(160, 120, 480, 360)).setTo(cv::Scalar(255));
        QCOMPARE(d.registration[1].scale, 1.0f);
        QCOMPARE(cv::countNonZero(d.registration[1].mask != expected), 0);

        // Two angle-correction regions add up, one of them reaching past the image.
        f.addRect(1, QRect(10, 10, 100, 50), FuncAngleCorrection);
        f.addRect(1, QRect(QPoint(600, 400), QPoint(700, 500)), FuncAngleCorrection);
        d.buildRegistrationTemplate(1);
        expected.setTo(cv::Scalar(0));
        expected(cv::Rect(10, 10, 100, 50)).setTo(cv::Scalar(255));
        expected(cv::Rect(600, 400, 40, 80)).setTo(cv::Scalar(255));
        QCOMPARE(cv::countNonZero(d.registration[1].mask != expected), 0);

        // Template 0 unusable: the old template is dropped, frames pass unregistered.
        f.view.templates[1][0] = cv::Mat();
        d.buildRegistrationTemplate(1);
        QVERIFY(d.registration[1].features[1].keypoints.empty());
        texture(640, 480, 93).copyTo(f.grab());
        d.timedRegister(1);
        QVERIFY(sameBytes(f.view.registeredBuffer, f.view.grabBuffer()));
    }
};

QTEST_GUILESS_MAIN(TestDetectorPosition)
#include "tst_detector_position.moc"

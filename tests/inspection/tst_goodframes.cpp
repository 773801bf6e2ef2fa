// Good parts must pass and a foreign object must stop the machine, on frames that look like a camera's:
// plates and holes with sharp edges on a lighting gradient, camera noise in the templates as in the
// frames, the part moved, turned or lit differently. Each row runs the whole judgement (registration
// step, positioning, defect regions) once on the good frame and once with a 15 x 15 object added.

#include "cameradetector.h"
#include "detectorfixture.h"
#include "inspectionhooks.h"
#include "syntheticimages.h"

#include <opencv2/imgproc.hpp>

#include <QtTest>

namespace {
constexpr int kW = 640, kH = 480;
constexpr int kSlot = 0;

// The part as the camera saw it when the templates were taken.
const cv::Mat &part()
{
    static const cv::Mat p = platesScene(kW, kH, 71);
    return p;
}

// The part moved by (dx, dy) pixels (sub-pixel allowed) and turned by `degrees` about the frame
// centre, lit with `gain` and `offset`, seen with camera noise of `sigma`.
cv::Mat shot(double dx, double dy, double degrees, double gain, double offset, double sigma, unsigned seed)
{
    cv::Mat m = cv::getRotationMatrix2D(cv::Point2f(kW / 2.0f, kH / 2.0f), degrees, 1.0);
    m.at<double>(0, 2) += dx;
    m.at<double>(1, 2) += dy;
    cv::Mat moved, lit;
    cv::warpAffine(part(), moved, m, part().size(), cv::INTER_LINEAR, cv::BORDER_REFLECT);
    moved.convertTo(lit, CV_8U, gain, offset);
    return sigma > 0 ? withNoise(lit, sigma, seed) : lit;
}
} // namespace

class TestGoodFrames : public QObject
{
    Q_OBJECT
private slots:
    void judgement_data()
    {
        QTest::addColumn<int>("rotateAngle");
        QTest::addColumn<bool>("matchBrightness");
        QTest::addColumn<double>("dx");
        QTest::addColumn<double>("dy");
        QTest::addColumn<double>("degrees");
        QTest::addColumn<double>("gain");
        QTest::addColumn<double>("offset");
        QTest::addColumn<double>("sigma");
        QTest::newRow("unmoved, noise 3") << 5 << false << 0.0 << 0.0 << 0.0 << 1.0 << 0.0 << 3.0;
        QTest::newRow("unmoved, noise 10") << 5 << false << 0.0 << 0.0 << 0.0 << 1.0 << 0.0 << 10.0;
        QTest::newRow("moved (7, -4), no rotation search")
            << 0 << false << 7.0 << -4.0 << 0.0 << 1.0 << 0.0 << 3.0;
        QTest::newRow("moved (6.5, 3.5)") << 5 << false << 6.5 << 3.5 << 0.0 << 1.0 << 0.0 << 3.0;
        QTest::newRow("turned 1 degree") << 5 << false << 0.0 << 0.0 << 1.0 << 1.0 << 0.0 << 3.0;
        QTest::newRow("turned -1 degree and moved")
            << 5 << false << -5.0 << 4.0 << -1.0 << 1.0 << 0.0 << 3.0;
        QTest::newRow("+20 grey") << 5 << false << 0.0 << 0.0 << 0.0 << 1.0 << 20.0 << 0.0;
        QTest::newRow("gain 1.10") << 5 << false << 0.0 << 0.0 << 0.0 << 1.10 << 0.0 << 0.0;
        QTest::newRow("+10 grey, noise 3, moved") << 5 << false << 3.0 << 2.0 << 0.0 << 1.0 << 10.0 << 3.0;
        QTest::newRow("gain 0.85, brightness matched")
            << 5 << true << 0.0 << 0.0 << 0.0 << 0.85 << 0.0 << 3.0;
        QTest::newRow("+30 grey, brightness matched")
            << 5 << true << 0.0 << 0.0 << 0.0 << 1.0 << 30.0 << 3.0;
    }
    void judgement()
    {
        QFETCH(int, rotateAngle);
        QFETCH(bool, matchBrightness);
        QFETCH(double, dx);
        QFETCH(double, dy);
        QFETCH(double, degrees);
        QFETCH(double, gain);
        QFETCH(double, offset);
        QFETCH(double, sigma);

        DetectorFixture f(kW, kH);
        f.param.motionCorrect = 0;
        f.param.rotateAngle = rotateAngle;
        f.param.maxOffset = 30;
        f.param.angleCorrect = 0;
        f.param.matchBrightness = matchBrightness ? 1 : 0;
        f.param.showAllParams = 1;
        f.param.ngTemplate = 0;
        f.param.diffAmplify = 0;
        for (int n = 0; n < 5; ++n)
            f.setTemplate(kSlot, n, withNoise(part(), 3.0, 100 + n));
        f.addRect(kSlot, QRect(160, 120, 320, 240), FuncPosition, 30);
        const int defect = f.addRect(kSlot, QRect(60, 60, 520, 360), FuncDefect, 3, 25, 100);
        CameraDetector d(f.table, &f.view);
        d.createPositionTemplate(kSlot);
        d.trainTemplates(kSlot);
        QVERIFY(d.findShape[kSlot].IsValid());

        const cv::Mat good = shot(dx, dy, degrees, gain, offset, sigma, 7);
        const auto judge = [&](const cv::Mat &frame) {
            frame.copyTo(f.grab());
            d.timedRegister(kSlot);
            d.findPosition(kSlot);
            d.detectCamera(kSlot);
            return f.view.allPass;
        };
        QVERIFY2(judge(good), qPrintable(QStringLiteral("value %1").arg(f.view.roiValue[kSlot][defect])));

        // The object stands out from whatever lies under it.
        cv::Mat withObject = good.clone();
        const cv::Rect object(400, 300, 15, 15);
        withObject(object).setTo(cv::mean(good(object))[0] < 128 ? 250 : 5);
        QVERIFY(!judge(withObject));
        QVERIFY2(f.view.roiValue[kSlot][defect] > 100,
                 qPrintable(QString::number(f.view.roiValue[kSlot][defect])));
    }
};

QTEST_GUILESS_MAIN(TestGoodFrames)
#include "tst_goodframes.moc"

// Training of a camera's detector from its regions and stored templates: which pixels are inspected,
// which templates each matcher learns, and that regions or templates a setter or a USB stick can make
// odd never stop the box.

#include "cameradetector.h"
#include "detectorfixture.h"
#include "syntheticimages.h"

#include <opencv2/imgproc.hpp>

#include <QtTest>

namespace {
// Inside the ring of a circle region as drawn at display scale 1: inner^2 <= u^2 + v^2 < R^2 with
// (u, v) the offset from the mask's top-left corner (cx - R, cy - R) minus R.
bool inRing(int x, int y, QPoint c, int outer, int inner)
{
    const int u = x - (c.x() - outer) - outer;
    const int v = y - (c.y() - outer) - outer;
    const int d2 = u * u + v * v;
    return inner * inner <= d2 && d2 < outer * outer;
}
} // namespace

class TestDetectorTraining : public QObject
{
    Q_OBJECT
private slots:
    void ignoreBitmapAndIgnoreCircle()
    {
        DetectorFixture f(200, 160);
        const cv::Rect ignored(40, 30, 120, 100);
        f.view.ignoreMasks[1](ignored).setTo(cv::Scalar(255));
        const QPoint c(100, 80);
        f.addCircle(1, c, 30, 0, FuncIgnoreArea);
        CameraDetector d(f.table, &f.view);
        d.trainTemplates(1);
        const cv::Mat &valid = d.validMask[1];
        QCOMPARE(valid.size(), cv::Size(200, 160));
        const cv::Rect circleRect(c.x() - 30, c.y() - 30, 60, 60);
        int wrong = 0;
        for (int y = 0; y < 160; ++y) {
            for (int x = 0; x < 200; ++x) {
                bool inspected;
                if (circleRect.contains(cv::Point(x, y)))
                    inspected = !inRing(x, y, c, 30, 0); // the plain copy re-opens the rectangle's corners
                else
                    inspected = !ignored.contains(cv::Point(x, y));
                wrong += (valid.at<uchar>(y, x) == 255) != inspected;
                wrong += valid.at<uchar>(y, x) != 0 && valid.at<uchar>(y, x) != 255;
            }
        }
        QCOMPARE(wrong, 0);
    }

    void regionsAcrossTheImageBorderTrain()
    {
        // Circles near an edge are normal editing; their rectangles reach outside the image.
        DetectorFixture f(160, 120);
        const QPoint corner(5, 5);
        f.addCircle(1, corner, 30, 0, FuncIgnoreArea);
        const int defect = f.addCircle(1, QPoint(150, 110), 25, 5, FuncDefect);
        const int similar = f.addRect(1, QRect(QPoint(140, -20), QPoint(200, 60)), FuncSimilarity);
        const int outside = f.addRect(1, QRect(QPoint(300, 300), QPoint(340, 340)), FuncDefect);
        const cv::Mat t = texture(160, 120, 70);
        f.setTemplate(1, 0, t);
        CameraDetector d(f.table, &f.view);
        d.trainTemplates(1);

        int wrong = 0;
        for (int y = 0; y < 120; ++y)
            for (int x = 0; x < 160; ++x)
                wrong += (d.validMask[1].at<uchar>(y, x) == 0) != inRing(x, y, corner, 30, 0);
        QCOMPARE(wrong, 0);

        QVERIFY(d.grayMatch[1][defect].IsValid());
        QCOMPARE(d.grayMatch[1][defect].templateCount(), 1);
        QVERIFY(d.surf[1][similar].IsValid());
        QCOMPARE(d.surf[1][similar].templateCount(), 1);
        QVERIFY(!d.grayMatch[1][outside].IsValid());

        // The matcher covers the part inside the image: the clipped template matches itself ...
        cv::Rect r;
        cv::Mat m;
        QVERIFY(CameraDetector::regionCut(f.table, f.view.roiMasks, 1, defect, cv::Size(160, 120), &r, &m));
        QCOMPARE(r, cv::Rect(125, 85, 35, 35));
        QCOMPARE(m.size(), r.size());
        cv::Mat diff = cv::Mat::zeros(r.size(), CV_8UC1);
        d.grayMatch[1][defect].Match(t(r), diff);
        QCOMPARE(cv::countNonZero(diff), 0);
        // ... and the mask was cut by the same offsets: pixel for pixel it is the ring in the image.
        int misplaced = 0;
        for (int y = r.y; y < r.y + r.height; ++y)
            for (int x = r.x; x < r.x + r.width; ++x)
                misplaced += (m.at<uchar>(y - r.y, x - r.x) == 255) != inRing(x, y, QPoint(150, 110), 25, 5);
        QCOMPARE(misplaced, 0);
        // The same for a circle cut on its left and top.
        QVERIFY(CameraDetector::regionCut(f.table, f.view.roiMasks, 1, 0, cv::Size(160, 120), &r, &m));
        QCOMPARE(r, cv::Rect(0, 0, 35, 35));
        for (int y = 0; y < 35; ++y)
            for (int x = 0; x < 35; ++x)
                misplaced += (m.at<uchar>(y, x) == 255) != inRing(x, y, corner, 30, 0);
        QCOMPARE(misplaced, 0);
    }

    void templateWalk_data()
    {
        QTest::addColumn<int>("limit");
        QTest::addColumn<int>("storedCount");
        QTest::addColumn<int>("expectedAdded");
        QTest::addColumn<int>("lastUsed");
        // Templates 0, 1 and 3 are present in every row.
        QTest::newRow("limit 2") << 2 << 3 << 2 << 1;
        QTest::newRow("limit 3 skips the absent 2") << 3 << 3 << 2 << 1;
        QTest::newRow("limit 10") << 10 << 3 << 3 << 3;
        QTest::newRow("stored count 2 stops the walk") << 10 << 2 << 2 << 1;
        QTest::newRow("limit 0") << 0 << 3 << 0 << -1;
    }
    void templateWalk()
    {
        QFETCH(int, limit);
        QFETCH(int, storedCount);
        QFETCH(int, expectedAdded);
        QFETCH(int, lastUsed);
        DetectorFixture f(120, 90);
        const int defect = f.addRect(1, QRect(10, 10, 50, 40), FuncDefect);
        const int similar = f.addRect(1, QRect(60, 40, 40, 40), FuncSimilarity);
        cv::Mat ts[4];
        for (int n : {0, 1, 3}) {
            ts[n] = texture(120, 90, 71 + unsigned(n));
            f.setTemplate(1, n, ts[n]);
        }
        f.view.templateCount[1] = storedCount;
        gTemplateLimit = limit;
        CameraDetector d(f.table, &f.view);
        d.trainTemplates(1);
        QCOMPARE(d.grayMatch[1][defect].templateCount(), expectedAdded);
        QCOMPARE(d.surf[1][similar].templateCount(), expectedAdded);
        QVERIFY(d.grayMatch[1][defect].IsValid());
        QCOMPARE(d.templateNorm[1], lastUsed < 0 ? 0.0 : cv::norm(ts[lastUsed], cv::NORM_L2));
    }

    void hundredTemplatesFit()
    {
        DetectorFixture f(64, 48);
        const int defect = f.addRect(2, QRect(0, 0, 64, 48), FuncDefect);
        const int similar = f.addRect(2, QRect(8, 8, 40, 30), FuncSimilarity);
        for (int n = 0; n < 100; ++n)
            f.setTemplate(2, n, texture(64, 48, 100 + unsigned(n), 1.0));
        gTemplateLimit = 100;
        CameraDetector d(f.table, &f.view);
        d.trainTemplates(2);
        QCOMPARE(f.view.templateCount[2], 100);
        QCOMPARE(d.grayMatch[2][defect].templateCount(), 100);
        QCOMPARE(d.surf[2][similar].templateCount(), 100);
        // Every one of them was learnt: each matches without a mark, and looks like itself.
        const cv::Rect cut(8, 8, 40, 30);
        for (int n : {0, 57, 99}) {
            cv::Mat diff = cv::Mat::zeros(48, 64, CV_8UC1);
            d.grayMatch[2][defect].Match(f.view.templates[2][n], diff);
            QCOMPARE(cv::countNonZero(diff), 0);
            cv::Mat frame = f.view.templates[2][n](cut).clone();
            cv::Mat out = cv::Mat::zeros(cut.size(), CV_8UC1);
            QVERIFY(d.surf[2][similar].Match(frame, out) >= 95);
            QCOMPARE(cv::countNonZero(out), 0);
        }
    }

    void brightnessReferenceWithoutMatcherRegions()
    {
        // A slot that only checks spots and areas still needs the brightness reference.
        DetectorFixture f(100, 80);
        f.addRect(1, QRect(10, 10, 30, 30), FuncSpot);
        f.addRect(1, QRect(50, 10, 30, 30), FuncWhiteArea);
        const cv::Mat t0 = texture(100, 80, 80), t1 = texture(100, 80, 81);
        f.setTemplate(1, 0, t0);
        f.setTemplate(1, 1, t1);
        CameraDetector d(f.table, &f.view);
        QCOMPARE(d.templateNorm[0], 0.0);
        d.trainTemplates(1);
        QCOMPARE(d.templateNorm[1], cv::norm(t1, cv::NORM_L2));
        // No template left: no reference either.
        f.view.templatePresent[1][0] = f.view.templatePresent[1][1] = 0;
        d.trainTemplates(1);
        QCOMPARE(d.templateNorm[1], 0.0);
    }

    void oddTemplatesAndMasksAreSkipped()
    {
        DetectorFixture f(100, 80);
        const int defect = f.addRect(1, QRect(10, 10, 40, 30), FuncDefect);
        const int empty = f.addRect(1, QRect(QPoint(60, 60), QPoint(50, 50)), FuncDefect); // inverted
        f.view.roiMasks[1][defect] = cv::Mat(3, 3, CV_8UC1, cv::Scalar(255)); // left from an old size
        f.setTemplate(1, 0, texture(100, 80, 82));
        f.setTemplate(1, 1, texture(99, 80, 83)); // replaced by a file of another size
        f.setTemplate(1, 2, cv::Mat(80, 100, CV_8UC3, cv::Scalar(1, 2, 3))); // or another type
        f.setTemplate(1, 3, cv::Mat());
        f.setTemplate(1, 4, texture(100, 80, 84));
        f.view.ignoreMasks[1] = cv::Mat(10, 10, CV_8UC1, cv::Scalar(255)); // bitmap of another size
        CameraDetector d(f.table, &f.view);
        d.trainTemplates(1);
        QVERIFY(d.grayMatch[1][defect].IsValid());
        QCOMPARE(d.grayMatch[1][defect].templateCount(), 2);
        QCOMPARE(f.view.roiMasks[1][defect].size(), cv::Size(40, 30));
        QVERIFY(!d.grayMatch[1][empty].IsValid());
        QCOMPARE(d.validMask[1].size(), cv::Size(100, 80));
        QCOMPARE(cv::countNonZero(d.validMask[1]), 100 * 80);
    }

    void validMaskLimitsTheMatchers()
    {
        // Pixels ignored by the bitmap are not judged by the defect matcher.
        DetectorFixture f(100, 80);
        f.view.ignoreMasks[1](cv::Rect(0, 0, 30, 80)).setTo(cv::Scalar(255));
        const int defect = f.addRect(1, QRect(10, 10, 60, 40), FuncDefect, 3, 10);
        const cv::Mat t = texture(100, 80, 85);
        f.setTemplate(1, 0, t);
        CameraDetector d(f.table, &f.view);
        d.trainTemplates(1);
        const cv::Rect r(10, 10, 60, 40);
        cv::Mat frame = 255 - t(r);
        cv::Mat diff = cv::Mat::zeros(r.size(), CV_8UC1);
        d.grayMatch[1][defect].Match(frame, diff);
        QCOMPARE(cv::countNonZero(diff(cv::Rect(0, 0, 20, 40))), 0);
        QVERIFY(cv::countNonZero(diff(cv::Rect(20, 0, 40, 40))) > 1000);
    }

    void constructorTrainsEnabledSlots()
    {
        DetectorFixture f(100, 80);
        f.param.slotEnabled[0] = 0;
        f.param.slotEnabled[1] = 1;
        f.param.slotEnabled[3] = 1;
        const int a = f.addRect(0, QRect(10, 10, 20, 20), FuncDefect);
        const int b = f.addRect(1, QRect(10, 10, 20, 20), FuncDefect);
        const int c = f.addRect(3, QRect(10, 10, 20, 20), FuncSimilarity);
        for (int k : {0, 1, 3})
            f.setTemplate(k, 0, texture(100, 80, 86));
        CameraDetector d(f.table, &f.view);
        QVERIFY(!d.grayMatch[0][a].IsValid());
        QVERIFY(d.grayMatch[1][b].IsValid());
        QVERIFY(d.surf[3][c].IsValid());
        QVERIFY(d.validMask[0].empty());
        QCOMPARE(d.validMask[1].size(), cv::Size(100, 80));
        QCOMPARE(d.temperatureOffset, 0);
        QCOMPARE(d.searchRect[1], cv::Rect()); // positioning off
        // Slots outside 0..7 are refused quietly.
        d.trainTemplates(8);
        d.trainTemplates(-1);
        d.createPositionTemplate(8);
        d.buildRegistrationTemplate(-1);
    }

    void colourTemplatesAreConvertedToGrey()
    {
        DetectorFixture f(64, 48, true);
        const int defect = f.addRect(1, QRect(0, 0, 64, 48), FuncDefect, 3, 0);
        // Colours (red, green, blue) and their grey by the camera's table, worked out by hand:
        // (trunc(r 0.299 1024) + trunc(g 0.587 1024) + trunc(b 0.114 1024)) / 1024, truncated.
        const int colours[][4] = {{255, 255, 255, 254}, {255, 0, 0, 76},     {0, 255, 0, 149},
                                  {0, 0, 255, 29},      {100, 100, 100, 99}, {128, 64, 32, 79}};
        cv::Mat rgba(48, 64, CV_8UC4);
        cv::Mat grey(48, 64, CV_8UC1);
        for (int y = 0; y < 48; ++y) {
            for (int x = 0; x < 64; ++x) {
                const int *c = colours[(x * 7 + y * 3 + x * y) % 6];
                rgba.at<cv::Vec4b>(y, x) = cv::Vec4b(uchar(c[0]), uchar(c[1]), uchar(c[2]), 0);
                grey.at<uchar>(y, x) = uchar(c[3]);
            }
        }
        f.setTemplate(1, 0, rgba);
        f.param.motionCorrect = 0;
        f.param.angleCorrect = 1;
        CameraDetector d(f.table, &f.view);
        d.createPositionTemplate(1);
        d.buildRegistrationTemplate(1);
        d.trainTemplates(1);
        QVERIFY(!d.findShape[1].IsValid()); // colour cameras are neither positioned nor registered
        QVERIFY(d.registration[1].features[1].keypoints.empty());
        cv::Mat diff = cv::Mat::zeros(48, 64, CV_8UC1);
        d.grayMatch[1][defect].Match(grey, diff);
        QCOMPARE(cv::countNonZero(diff), 0);
        cv::Mat off = grey + 1;
        d.grayMatch[1][defect].Match(off, diff);
        QVERIFY(cv::countNonZero(diff) > 1000);
    }
};

QTEST_GUILESS_MAIN(TestDetectorTraining)
#include "tst_detector_training.moc"

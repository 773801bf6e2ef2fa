// The defect and similarity matchers as the detection pass relies on them: what gets marked, what
// scores high, and that nothing the caller owns is reallocated or kept.

#include "graymatch.h"
#include "surfmatch.h"
#include "syntheticimages.h"

#include <opencv2/imgproc.hpp>

#include <QtTest>

namespace {
cv::Mat circleMask(int w, int h)
{
    cv::Mat m = cv::Mat::zeros(h, w, CV_8UC1);
    cv::circle(m, cv::Point(w / 2, h / 2), std::min(w, h) / 2 - 2, cv::Scalar(255), cv::FILLED);
    return m;
}

// What the defect matcher must mark, pixel by pixel, from the templates themselves.
cv::Mat envelopeReference(const std::vector<cv::Mat> &templates, const cv::Mat &mask, const cv::Mat &frame,
                          int tolerance, int amplify)
{
    cv::Mat out = cv::Mat::zeros(frame.size(), CV_8UC1);
    for (int y = 0; y < frame.rows; ++y) {
        for (int x = 0; x < frame.cols; ++x) {
            int lo = 255, hi = 0;
            for (const cv::Mat &t : templates) {
                lo = std::min<int>(lo, t.at<uchar>(y, x));
                hi = std::max<int>(hi, t.at<uchar>(y, x));
            }
            const int v = frame.at<uchar>(y, x);
            const int distance = v < lo ? lo - v : (v > hi ? v - hi : 0);
            if (mask.at<uchar>(y, x) && (1 + amplify) * distance > tolerance)
                out.at<uchar>(y, x) = 255;
        }
    }
    return out;
}

bool sameImage(const cv::Mat &a, const cv::Mat &b)
{
    return a.size() == b.size() && a.type() == b.type() && cv::countNonZero(a != b) == 0;
}
} // namespace

class TestMatchers : public QObject
{
    Q_OBJECT
private slots:
    // --- defect matcher ---

    void defectIdenticalFrameGivesEmptyDiff()
    {
        const cv::Mat t0 = texture(90, 70, 1), t1 = texture(90, 70, 2);
        GrayMatch g;
        g.Create(90, 70, circleMask(90, 70), 0);
        g.AddTemp(t0);
        g.AddTemp(t1);
        g.Train(0, 0, 100, 150);
        QVERIFY(g.IsValid());
        for (const cv::Mat &frame : {t0, t1}) {
            cv::Mat diff = cv::Mat::zeros(70, 90, CV_8UC1);
            g.Match(frame, diff);
            QCOMPARE(cv::countNonZero(diff), 0);
        }
    }

    void defectBrightBlobShowsOnlyInsideMask()
    {
        const int w = 120, h = 100;
        const cv::Mat t = texture(w, h, 3);
        const cv::Mat mask = circleMask(w, h);
        // The disc straddles the mask's edge: the part outside must not be marked.
        cv::Mat frame = t.clone();
        cv::Mat blob = cv::Mat::zeros(h, w, CV_8UC1);
        cv::circle(blob, cv::Point(w - 15, h / 2), 14, cv::Scalar(255), cv::FILLED);
        cv::add(frame, cv::Scalar(60), frame, blob);
        GrayMatch g;
        g.Create(w, h, mask, 0);
        g.AddTemp(t);
        g.Train(25, 0, 100, 150);
        cv::Mat diff = cv::Mat::zeros(h, w, CV_8UC1);
        g.Match(frame, diff);
        QVERIFY(cv::countNonZero(diff) > 50);
        QCOMPARE(cv::countNonZero(diff & ~mask), 0);
        QCOMPARE(cv::countNonZero(diff & ~blob), 0);
        QVERIFY(sameImage(diff, envelopeReference({t}, mask, frame, 25, 0)));
    }

    void defectAgainstPixelReference_data()
    {
        QTest::addColumn<int>("templates");
        QTest::addColumn<int>("tolerance");
        QTest::addColumn<int>("amplify");
        QTest::newRow("one template, tolerance 25") << 1 << 25 << 0;
        QTest::newRow("three templates, tolerance 25") << 3 << 25 << 0;
        QTest::newRow("three templates, amplified x2") << 3 << 25 << 1;
        QTest::newRow("five templates, amplified x5") << 5 << 40 << 4;
        QTest::newRow("zero tolerance") << 2 << 0 << 0;
        QTest::newRow("full tolerance") << 2 << 255 << 0;
        QTest::newRow("tolerance out of range") << 2 << 999 << 9;
    }
    void defectAgainstPixelReference()
    {
        QFETCH(int, templates);
        QFETCH(int, tolerance);
        QFETCH(int, amplify);
        const int w = 64, h = 48;
        std::vector<cv::Mat> ts;
        for (int i = 0; i < templates; ++i)
            ts.push_back(texture(w, h, 10 + unsigned(i), 4.0));
        const cv::Mat mask = circleMask(w, h);
        GrayMatch g;
        g.Create(w, h, mask, 0);
        for (const cv::Mat &t : ts)
            g.AddTemp(t);
        g.Train(tolerance, amplify, 100, 150);
        QCOMPARE(g.templateCount(), templates);
        for (unsigned seed : {20u, 21u}) {
            const cv::Mat frame = texture(w, h, seed, 4.0);
            cv::Mat diff = cv::Mat::zeros(h, w, CV_8UC1);
            g.Match(frame, diff);
            QVERIFY(sameImage(diff, envelopeReference(ts, mask, frame, std::clamp(tolerance, 0, 255),
                                                      std::clamp(amplify, 0, 4))));
        }
    }

    void defectBlobWithinToleranceIsNotMarked()
    {
        const cv::Mat t = texture(80, 60, 4);
        cv::Mat frame = t.clone();
        cv::Mat blob = cv::Mat::zeros(60, 80, CV_8UC1);
        cv::circle(blob, cv::Point(40, 30), 10, cv::Scalar(255), cv::FILLED);
        cv::add(frame, cv::Scalar(20), frame, blob);
        GrayMatch g;
        g.Create(80, 60, cv::Mat(60, 80, CV_8UC1, cv::Scalar(255)), 0);
        g.AddTemp(t);
        g.Train(25, 0, 100, 150);
        cv::Mat diff = cv::Mat::zeros(60, 80, CV_8UC1);
        g.Match(frame, diff);
        QCOMPARE(cv::countNonZero(diff), 0);
        // The same deviation counts once amplified beyond the tolerance (20 x 2 > 25).
        g.Train(25, 1, 100, 150);
        g.Match(frame, diff);
        QVERIFY(cv::countNonZero(diff) > 200);
    }

    void defectWithoutTemplateLeavesDiffZero()
    {
        GrayMatch g;
        g.Create(40, 30, cv::Mat(30, 40, CV_8UC1, cv::Scalar(255)), 0);
        g.Train(0, 4, 100, 150);
        QVERIFY(g.IsValid());
        cv::Mat diff = cv::Mat::zeros(30, 40, CV_8UC1);
        g.Match(noise(40, 30, 5), diff);
        QCOMPARE(cv::countNonZero(diff), 0);
    }

    void defectKeepsNoViewOfTheTemplateBuffer()
    {
        // The caller cuts templates from a scratch buffer it overwrites before matching.
        cv::Mat scratch = texture(200, 150, 6);
        const cv::Rect r(30, 20, 70, 50);
        const cv::Mat original = scratch(r).clone();
        GrayMatch g;
        g.Create(r.width, r.height, cv::Mat(), 0);
        g.AddTemp(scratch(r));
        scratch.setTo(cv::Scalar(0));
        g.Train(10, 0, 100, 150);
        cv::Mat diff = cv::Mat::zeros(r.height, r.width, CV_8UC1);
        g.Match(original, diff);
        QCOMPARE(cv::countNonZero(diff), 0);
    }

    void defectWritesDiffInPlace()
    {
        // diff is a view into the caller's larger result image: only that window may change, and it
        // must not be reallocated away from it.
        const cv::Mat t = texture(50, 40, 7);
        GrayMatch g;
        g.Create(50, 40, cv::Mat(40, 50, CV_8UC1, cv::Scalar(255)), 0);
        g.AddTemp(t);
        g.Train(5, 0, 100, 150);
        cv::Mat result = cv::Mat::zeros(100, 100, CV_8UC1);
        cv::Mat diff = result(cv::Rect(10, 20, 50, 40));
        const uchar *before = diff.data;
        g.Match(255 - t, diff);
        QCOMPARE(diff.data, before);
        QVERIFY(cv::countNonZero(result(cv::Rect(10, 20, 50, 40))) > 1000);
        QCOMPARE(cv::countNonZero(result) - cv::countNonZero(result(cv::Rect(10, 20, 50, 40))), 0);
    }

    void defectRefusesMisfitsWithoutCrashing()
    {
        const cv::Mat t = texture(50, 40, 8);
        GrayMatch g;
        g.Create(50, 40, cv::Mat(10, 10, CV_8UC1, cv::Scalar(0)), 0); // mask of the wrong size
        g.AddTemp(texture(51, 40, 9));                                // template of the wrong size
        g.AddTemp(cv::Mat(40, 50, CV_16UC1, cv::Scalar(0)));          // and of the wrong type
        g.AddTemp(t);
        g.Train(10, 0, 100, 150);
        QCOMPARE(g.templateCount(), 1);
        cv::Mat diff = cv::Mat::zeros(40, 50, CV_8UC1);
        g.Match(255 - t, diff);
        // The misfit mask was replaced by the whole region, not by "nothing counts".
        QVERIFY(cv::countNonZero(diff) > 1500);
        cv::Mat small = cv::Mat::zeros(30, 50, CV_8UC1);
        g.Match(texture(50, 30, 9), small);
        QCOMPARE(cv::countNonZero(small), 0);
        cv::Mat empty;
        g.Match(255 - t, empty);
        QVERIFY(empty.empty());
    }

    void defectClearDropsTraining()
    {
        GrayMatch g;
        QVERIFY(!g.IsValid());
        g.Create(10, 10, cv::Mat(), 0);
        g.AddTemp(texture(10, 10, 1));
        g.Train(1, 0, 100, 150);
        QVERIFY(g.IsValid());
        g.Clear();
        QVERIFY(!g.IsValid());
        QCOMPARE(g.templateCount(), 0);
        GrayMatch empty;
        empty.Create(0, 5, cv::Mat(), 0);
        empty.Train(1, 0, 100, 150);
        QVERIFY(!empty.IsValid());
    }

    // --- similarity matcher ---

    void similarityScores_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<double>("lowest");
        QTest::addColumn<double>("highest");
        QTest::newRow("identical") << 0 << 95.0 << 100.0;
        QTest::newRow("darker lamp") << 1 << 95.0 << 100.0;
        QTest::newRow("brighter lamp") << 2 << 95.0 << 100.0;
        // Any shift up to 3 pixels each way is searched: the shifted surface is the template itself.
        QTest::newRow("shifted by (2, -1)") << 3 << 99.0 << 100.0;
        QTest::newRow("shifted by (-3, 3)") << 4 << 99.0 << 100.0;
        QTest::newRow("shifted by (3, -3)") << 9 << 99.0 << 100.0;
        QTest::newRow("shifted by (3, 3)") << 10 << 99.0 << 100.0;
        QTest::newRow("shifted by (-3, -3)") << 11 << 99.0 << 100.0;
        QTest::newRow("noise") << 5 << 0.0 << 20.0;
        QTest::newRow("another surface") << 6 << 0.0 << 30.0;
        QTest::newRow("flat") << 7 << 0.0 << 0.0;
        QTest::newRow("inverted") << 8 << 0.0 << 0.0;
    }
    void similarityScores()
    {
        QFETCH(int, kind);
        QFETCH(double, lowest);
        QFETCH(double, highest);
        const cv::Mat scene = texture(160, 140, 30);
        const cv::Rect r(40, 40, 80, 60);
        SURF s;
        s.Create(r.width, r.height, circleMask(r.width, r.height));
        s.AddTemp(scene(r), 1, 50, 60);
        s.Train(0, 0, 0, 0);
        QVERIFY(s.IsValid());
        cv::Mat frame;
        switch (kind) {
        case 0:
            frame = scene(r).clone();
            break;
        case 1:
            scene(r).convertTo(frame, CV_8U, 0.6, 0);
            break;
        case 2:
            scene(r).convertTo(frame, CV_8U, 0.8, 40);
            break;
        case 3:
            frame = shifted(scene, 2, -1)(r).clone();
            break;
        case 4:
            frame = shifted(scene, -3, 3)(r).clone();
            break;
        case 5:
            frame = noise(r.width, r.height, 31);
            break;
        case 6:
            frame = texture(r.width, r.height, 32);
            break;
        case 7:
            frame = cv::Mat(r.height, r.width, CV_8UC1, cv::Scalar(128));
            break;
        case 8:
            frame = 255 - scene(r);
            break;
        case 9:
            frame = shifted(scene, 3, -3)(r).clone();
            break;
        case 10:
            frame = shifted(scene, 3, 3)(r).clone();
            break;
        case 11:
            frame = shifted(scene, -3, -3)(r).clone();
            break;
        }
        cv::Mat out = cv::Mat::zeros(r.height, r.width, CV_8UC1);
        const float score = s.Match(frame, out);
        QVERIFY2(score >= lowest && score <= highest, qPrintable(QString::number(score)));
    }

    void similarityCountsOnlyTheMask()
    {
        const cv::Mat t = texture(80, 80, 33);
        const cv::Mat mask = circleMask(80, 80);
        cv::Mat frame = t.clone();
        noise(80, 80, 34).copyTo(frame, ~mask);
        SURF s;
        s.Create(80, 80, mask);
        s.AddTemp(t, 1, 50, 60);
        s.Train(0, 0, 0, 0);
        cv::Mat out = cv::Mat::zeros(80, 80, CV_8UC1);
        QVERIFY(s.Match(frame, out) >= 95);
        QCOMPARE(cv::countNonZero(out), 0);
    }

    void similarityOutMarksTheDifference()
    {
        const cv::Mat t = texture(100, 80, 35);
        const cv::Mat mask = circleMask(100, 80);
        SURF s;
        s.Create(100, 80, mask);
        s.AddTemp(t, 1, 50, 60);
        s.Train(0, 0, 0, 0);
        cv::Mat out = cv::Mat::zeros(80, 100, CV_8UC1);
        cv::Mat same = t.clone();
        s.Match(same, out);
        QCOMPARE(cv::countNonZero(out), 0);

        cv::Mat frame = withDisc(t, cv::Point(50, 40), 8, 255);
        cv::Mat disc = cv::Mat::zeros(80, 100, CV_8UC1);
        cv::circle(disc, cv::Point(50, 40), 10, cv::Scalar(255), cv::FILLED);
        const uchar *before = out.data;
        const float score = s.Match(frame, out);
        QCOMPARE(out.data, before);
        QVERIFY(score < 95);
        QVERIFY(cv::countNonZero(out & disc) > 100);
        QCOMPARE(cv::countNonZero(out & ~disc), 0);
        QCOMPARE(cv::countNonZero(out & ~mask), 0);
    }

    void similarityBestTemplateWins()
    {
        const cv::Mat a = texture(60, 60, 36), b = texture(60, 60, 37);
        SURF s;
        s.Create(60, 60, cv::Mat());
        s.AddTemp(a, 1, 50, 60);
        s.AddTemp(b, 1, 50, 60);
        s.Train(0, 0, 0, 0);
        QCOMPARE(s.templateCount(), 2);
        cv::Mat out = cv::Mat::zeros(60, 60, CV_8UC1);
        cv::Mat fb = b.clone();
        QVERIFY(s.Match(fb, out) >= 95);
    }

    void similarityPlainSurface()
    {
        // A plain template: a plain frame is the same surface whatever the lamp does; anything with
        // contrast on it is not.
        SURF s;
        s.Create(40, 40, cv::Mat());
        s.AddTemp(cv::Mat(40, 40, CV_8UC1, cv::Scalar(90)), 1, 50, 60);
        s.Train(0, 0, 0, 0);
        cv::Mat out = cv::Mat::zeros(40, 40, CV_8UC1);
        cv::Mat plain(40, 40, CV_8UC1, cv::Scalar(150));
        QVERIFY(s.Match(plain, out) >= 95);
        cv::Mat part = withDisc(plain, cv::Point(20, 20), 6, 20);
        QCOMPARE(s.Match(part, out), 0.0f);
    }

    void similarityWithoutTemplateOrMisfitScoresZero()
    {
        SURF s;
        cv::Mat frame = texture(30, 30, 38);
        cv::Mat out = cv::Mat::zeros(30, 30, CV_8UC1);
        QVERIFY(!s.IsValid());
        QCOMPARE(s.Match(frame, out), 0.0f);
        s.Create(30, 30, cv::Mat());
        s.Train(0, 0, 0, 0);
        QVERIFY(s.IsValid());
        QCOMPARE(s.Match(frame, out), 0.0f);
        s.AddTemp(frame, 1, 50, 60);
        s.Train(0, 0, 0, 0);
        cv::Mat wrong = texture(31, 30, 38);
        QCOMPARE(s.Match(wrong, out), 0.0f);
        cv::Mat badOut; // an unusable out image is left alone, the score still comes
        QVERIFY(s.Match(frame, badOut) >= 95);
        QVERIFY(badOut.empty());
        QCOMPARE(cv::countNonZero(out), 0);
    }

    void similarityTinyRegions()
    {
        for (int size : {1, 2, 3, 5}) {
            SURF s;
            const cv::Mat t = texture(size, size, 39, 0.5);
            s.Create(size, size, cv::Mat());
            s.AddTemp(t, 1, 50, 60);
            s.Train(0, 0, 0, 0);
            cv::Mat frame = t.clone();
            cv::Mat out = cv::Mat::zeros(size, size, CV_8UC1);
            const float score = s.Match(frame, out);
            // The region's own surface is the same surface, however few pixels it has.
            QCOMPARE(score, 100.0f);
        }
    }
};

QTEST_GUILESS_MAIN(TestMatchers)
#include "tst_matchers.moc"

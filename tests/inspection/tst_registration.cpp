// Registration of a frame onto a template as the detector relies on it: a slightly turned and tilted
// frame comes back onto the template, a frame that cannot be registered is left alone, and the matching
// step finds the pairs OpenCV's matcher finds.

#include "registration.h"
#include "slotjudgement.h"
#include "syntheticimages.h"

#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <iterator>
#include <set>
#include <tuple>

#include <QtTest>

namespace {
cv::Mat smallHomography(cv::Size size)
{
    const cv::Point2f centre(size.width / 2.0f, size.height / 2.0f);
    cv::Mat a = cv::getRotationMatrix2D(centre, 2.0, 1.01);
    cv::Mat h = cv::Mat::eye(3, 3, CV_64F);
    a.copyTo(h(cv::Rect(0, 0, 3, 2)));
    h.at<double>(0, 2) += 6;
    h.at<double>(1, 2) -= 4;
    h.at<double>(2, 0) = 1e-5;
    h.at<double>(2, 1) = -2e-5;
    return h;
}

// The template as a camera slightly turned, scaled and tilted would see it.
cv::Mat warped(const cv::Mat &templ)
{
    cv::Mat frame;
    cv::warpPerspective(templ, frame, smallHomography(templ.size()), templ.size(), cv::INTER_LINEAR,
                        cv::BORDER_REFLECT);
    return frame;
}

cv::Rect interior(cv::Size size, int margin)
{
    return cv::Rect(margin, margin, size.width - 2 * margin, size.height - 2 * margin);
}
} // namespace

class TestRegistration : public QObject
{
    Q_OBJECT
private slots:
    void workingScale()
    {
        QCOMPARE(registrationScale(1000, 1000), 0.70710677f);
        QCOMPARE(registrationScale(480, 640), 1.0f);
        QCOMPARE(registrationScale(0, 0), 1.0f);
        RegistrationTemplate r;
        QVERIFY(prepareRegistrationTemplate(r, texture(1000, 1000, 60),
                                            cv::Mat(1000, 1000, CV_8UC1, cv::Scalar(255)), 1));
        QCOMPARE(r.scale, 0.70710677f);
        QCOMPARE(r.mask.cols, 707);
        QCOMPARE(r.mask.rows, 707);
        // The template's features were found on the shrunk copy.
        for (const cv::KeyPoint &k : r.features[1].keypoints)
            QVERIFY(k.pt.x < 707.5f && k.pt.y < 707.5f);
        QCOMPARE(r.features[1].img_idx, 1);
    }

    void warpedFrameComesBack()
    {
        const cv::Mat templ = texture(640, 480, 61);
        RegistrationTemplate r;
        QVERIFY(prepareRegistrationTemplate(r, templ, cv::Mat(), 300));
        QCOMPARE(r.scale, 1.0f);
        const cv::Mat frame = warped(templ);
        const cv::Rect inner = interior(templ.size(), 40);
        QVERIFY(meanAbsDiff(frame(inner), templ(inner)) > 15);
        cv::Mat out(templ.size(), CV_8UC1, cv::Scalar(0));
        const uchar *before = out.data;
        QVERIFY(registerImage(r, frame, out, 0.4f));
        QCOMPARE(out.data, before); // written into the caller's buffer
        QVERIFY2(meanAbsDiff(out(inner), templ(inner)) < 3,
                 qPrintable(QString::number(meanAbsDiff(out(inner), templ(inner)))));
        QCOMPARE(r.features[0].img_idx, 0);
    }

    void largeFrameRegistersThroughTheShrunkCopy()
    {
        // 1280 x 1024 works at scale 0.6; points go back to full size before the homography.
        const cv::Mat templ = texture(1280, 1024, 62, 3.0);
        RegistrationTemplate r;
        QVERIFY(prepareRegistrationTemplate(r, templ, cv::Mat(), 300));
        QVERIFY(r.scale < 0.7f);
        const cv::Mat frame = warped(templ);
        cv::Mat out;
        QVERIFY(registerImage(r, frame, out, 0.4f));
        QCOMPARE(out.size(), templ.size());
        const cv::Rect inner = interior(templ.size(), 80);
        QVERIFY(meanAbsDiff(out(inner), templ(inner)) < 4);
    }

    void identicalFrameStaysPut()
    {
        const cv::Mat templ = texture(640, 480, 63);
        RegistrationTemplate r;
        QVERIFY(prepareRegistrationTemplate(r, templ, cv::Mat(), 100));
        cv::Mat out;
        QVERIFY(registerImage(r, templ, out, 0.4f));
        const cv::Rect inner = interior(templ.size(), 10);
        QVERIFY(meanAbsDiff(out(inner), templ(inner)) < 1.0);
    }

    void unregistrableFramesLeaveOutputUntouched_data()
    {
        QTest::addColumn<int>("kind");
        QTest::newRow("flat frame") << 0;
        QTest::newRow("empty frame") << 1;
        QTest::newRow("no template features") << 2;
    }
    void unregistrableFramesLeaveOutputUntouched()
    {
        QFETCH(int, kind);
        const cv::Mat templ = texture(320, 240, 64);
        RegistrationTemplate r;
        if (kind == 2)
            prepareRegistrationTemplate(r, cv::Mat(240, 320, CV_8UC1, cv::Scalar(50)), cv::Mat(), 300);
        else
            QVERIFY(prepareRegistrationTemplate(r, templ, cv::Mat(), 10));
        cv::Mat frame =
            kind == 0 ? cv::Mat(240, 320, CV_8UC1, cv::Scalar(90)) : (kind == 1 ? cv::Mat() : templ.clone());
        cv::Mat out(240, 320, CV_8UC1, cv::Scalar(7));
        QVERIFY(!registerImage(r, frame, out, 0.4f));
        QCOMPARE(cv::countNonZero(out != 7), 0);
        // Without template features the frame's own are not worked out: that would cost a SIFT pass
        // on every frame of the cycle for nothing.
        if (kind == 2)
            QVERIFY(r.features[0].keypoints.empty());
    }

    void maskKeepsFeaturesInside()
    {
        const cv::Mat templ = texture(640, 480, 65);
        cv::Mat mask = cv::Mat::zeros(480, 640, CV_8UC1);
        mask(cv::Rect(160, 120, 480, 360)).setTo(cv::Scalar(255));
        RegistrationTemplate r;
        QVERIFY(prepareRegistrationTemplate(r, templ, mask, 50));
        QVERIFY(!r.features[1].keypoints.empty());
        for (const cv::KeyPoint &k : r.features[1].keypoints)
            QVERIFY(k.pt.x >= 159.5f && k.pt.y >= 119.5f);
    }

    void badInputDropsTheOldTemplate()
    {
        RegistrationTemplate r;
        QVERIFY(prepareRegistrationTemplate(r, texture(320, 240, 66), cv::Mat(), 10));
        QVERIFY(!r.features[1].keypoints.empty());
        QVERIFY(!prepareRegistrationTemplate(r, cv::Mat(), cv::Mat(), 0));
        QCOMPARE(r.features.size(), size_t(2));
        QVERIFY(r.features[1].keypoints.empty());

        QVERIFY(prepareRegistrationTemplate(r, texture(320, 240, 66), cv::Mat(), 10));
        QVERIFY(!prepareRegistrationTemplate(r, texture(320, 240, 66), cv::Mat(10, 10, CV_8UC1), 0));
        QVERIFY(r.features[1].keypoints.empty());
        QVERIFY(!prepareRegistrationTemplate(r, texture(320, 240, 66), cv::Mat(240, 320, CV_16UC1), 0));

        // The feature minimum decides the result, not whether features were made.
        QVERIFY(prepareRegistrationTemplate(r, cv::Mat(240, 320, CV_8UC1, cv::Scalar(9)), cv::Mat(), 0));
        QVERIFY(!prepareRegistrationTemplate(r, cv::Mat(240, 320, CV_8UC1, cv::Scalar(9)), cv::Mat(), 1));
        RegistrationTemplate extra;
        extra.features.resize(5);
        prepareRegistrationTemplate(extra, texture(100, 100, 67), cv::Mat(), 1);
        QCOMPARE(extra.features.size(), size_t(2));
    }

    // The matching step against OpenCV's BestOf2NearestMatcher, which it stands for: the same pairs
    // but a few in a thousand (both searches are approximate), a homography within half a pixel of the
    // one from the matcher's pairs, and the same pairs every time, with or without the prebuilt trees.
    void matchesAsOpenCvsMatcher()
    {
        const cv::Mat templ = texture(800, 600, 62);
        RegistrationTemplate r;
        QVERIFY(prepareRegistrationTemplate(r, templ, cv::Mat(), 300));
        QVERIFY(r.templateForest);
        const cv::Mat frame = warped(templ);
        computeFeatures(r, frame, r.features[0], 0);
        const cv::Mat live = r.features[0].descriptors.getMat(cv::ACCESS_READ);
        const cv::Mat train = r.features[1].descriptors.getMat(cv::ACCESS_READ);
        std::vector<cv::DMatch> ours, again;
        QVERIFY(bestOfTwoNearest(live, train, r.templateForest.get(), 0.4f, &ours));
        QVERIFY(bestOfTwoNearest(live, train, nullptr, 0.4f, &again));
        std::vector<cv::detail::MatchesInfo> pairwise;
        cv::detail::BestOf2NearestMatcher matcher(false, 0.4f, 6, 6);
        matcher(r.features, pairwise);
        const std::vector<cv::DMatch> &theirs = pairwise[1].matches;

        const auto pairs = [](const std::vector<cv::DMatch> &m) {
            std::set<std::pair<int, int>> s;
            for (const cv::DMatch &d : m)
                s.insert({d.queryIdx, d.trainIdx});
            return s;
        };
        QCOMPARE(pairs(again), pairs(ours));
        const std::set<std::pair<int, int>> a = pairs(ours), b = pairs(theirs);
        std::vector<std::pair<int, int>> common;
        std::set_intersection(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(common));
        QVERIFY2(theirs.size() > 300 && common.size() >= 0.995 * std::max(a.size(), b.size()),
                 qPrintable(QStringLiteral("%1 of %2 / %3").arg(common.size()).arg(a.size()).arg(b.size())));

        const auto homography = [&](const std::vector<cv::DMatch> &m) {
            std::vector<cv::Point2f> from, to;
            for (const cv::DMatch &d : m) {
                from.push_back(r.features[0].keypoints[size_t(d.queryIdx)].pt);
                to.push_back(r.features[1].keypoints[size_t(d.trainIdx)].pt);
            }
            return cv::findHomography(from, to, cv::RANSAC, 3.0, cv::noArray(), 2000, 0.995);
        };
        const std::vector<cv::Point2f> corners{{0, 0}, {799, 0}, {0, 599}, {799, 599}};
        std::vector<cv::Point2f> p, q;
        cv::perspectiveTransform(corners, p, homography(ours));
        cv::perspectiveTransform(corners, q, homography(theirs));
        for (size_t i = 0; i < corners.size(); ++i)
            QVERIFY2(cv::norm(p[i] - q[i]) < 0.5, qPrintable(QString::number(cv::norm(p[i] - q[i]))));
    }

    // The homography's random samples are drawn by position in the pair list, so the list must come
    // in one order however the search was shared out: the live-to-template pairs by live row, then
    // the template-to-live ones by template row, the same on a judgement worker whose idle neighbours
    // took some of the queries as on this thread alone.
    void matchesComeInOneOrderOnAnyThread()
    {
        const cv::Mat templ = texture(800, 600, 64);
        RegistrationTemplate r;
        QVERIFY(prepareRegistrationTemplate(r, templ, cv::Mat(), 300));
        const cv::Mat frame = warped(templ);
        computeFeatures(r, frame, r.features[0], 0);
        const cv::Mat live = r.features[0].descriptors.getMat(cv::ACCESS_READ);
        const cv::Mat train = r.features[1].descriptors.getMat(cv::ACCESS_READ);
        const auto listed = [](const std::vector<cv::DMatch> &m) {
            std::vector<std::tuple<int, int, float>> l;
            for (const cv::DMatch &d : m)
                l.emplace_back(d.queryIdx, d.trainIdx, d.distance);
            return l;
        };
        std::vector<cv::DMatch> alone;
        QVERIFY(bestOfTwoNearest(live, train, r.templateForest.get(), 0.4f, &alone));
        QVERIFY(alone.size() > 300);
        size_t i = 1;
        while (i < alone.size() && alone[i].queryIdx > alone[i - 1].queryIdx)
            ++i;
        QVERIFY(i < alone.size()); // both directions gave pairs
        for (++i; i < alone.size(); ++i)
            QVERIFY2(alone[i].trainIdx > alone[i - 1].trainIdx, qPrintable(QString::number(i)));

        SlotJudgement judgement(6);
        for (int pass = 0; pass < 5; ++pass) {
            std::vector<cv::DMatch> shared;
            bool found = false;
            judgement.runOnPool(1, [&](int) {
                found = bestOfTwoNearest(live, train, r.templateForest.get(), 0.4f, &shared);
            });
            QVERIFY(found);
            QVERIFY(listed(shared) == listed(alone));
        }
    }
};

QTEST_GUILESS_MAIN(TestRegistration)
#include "tst_registration.moc"

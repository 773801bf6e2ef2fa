// The positioning shape as the detector relies on it: the caller's correction (shift by x - window x,
// y - window y, then turn by the angle about the shape centre) must bring the frame back onto the
// template.

#include "findshape.h"
#include "maskedncc.h"
#include "maskedshapereference.h"
#include "syntheticimages.h"
#include "testworkdir.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <QtTest>

namespace {
struct Scene
{
    cv::Mat frame;
    cv::Rect shape;   // where the shape lies in the template frame
    cv::Point centre; // shape centre, as the detector computes it
};

Scene makeScene(int w = 480, int h = 400, cv::Rect shape = cv::Rect(140, 120, 200, 160))
{
    Scene s;
    s.frame = texture(w, h, 50);
    s.shape = shape;
    s.centre = cv::Point(shape.x + shape.width / 2, shape.y + shape.height / 2);
    return s;
}

cv::Rect searchWindow(const Scene &s, int margin, cv::Size image)
{
    return cv::Rect(s.shape.x - margin, s.shape.y - margin, s.shape.width + 2 * margin,
                    s.shape.height + 2 * margin) &
           cv::Rect(cv::Point(0, 0), image);
}
} // namespace

class TestFindShape : public QObject
{
    Q_OBJECT
private slots:
    void recoversTranslationExactly_data()
    {
        QTest::addColumn<int>("dx");
        QTest::addColumn<int>("dy");
        QTest::addColumn<int>("limit");
        QTest::addColumn<int>("margin");
        QTest::newRow("still") << 0 << 0 << 0 << 40;
        QTest::newRow("(+7, -4)") << 7 << -4 << 0 << 40;
        QTest::newRow("(-12, +9)") << -12 << 9 << 0 << 40;
        QTest::newRow("(+39, +39) at the window's edge") << 39 << 39 << 0 << 40;
        QTest::newRow("(+7, -4) with rotation allowed") << 7 << -4 << 10 << 40;
        QTest::newRow("(-25, +30), window clipped by the image") << -25 << 30 << 0 << 200;
        QTest::newRow("(+3, +2), tight window") << 3 << 2 << 0 << 4;
    }
    void recoversTranslationExactly()
    {
        QFETCH(int, dx);
        QFETCH(int, dy);
        QFETCH(int, limit);
        QFETCH(int, margin);
        const Scene s = makeScene();
        FindShape f;
        f.CreateShape(s.frame(s.shape), 0.0, 0, limit, s.centre.x, s.centre.y, false, 255,
                      cv::Mat(s.shape.size(), CV_8UC1, cv::Scalar(255)), 5, 0);
        QVERIFY(f.IsValid());
        const cv::Mat moved = shifted(s.frame, dx, dy);
        const cv::Rect win = searchWindow(s, margin, moved.size());
        cv::Mat window = moved(win).clone();
        int x = -999, y = -999;
        double angle = 99;
        QVERIFY(f.Find(window, 0, &x, &y, nullptr, &angle));
        QCOMPARE(x - win.x, -dx);
        QCOMPARE(y - win.y, -dy);
        QVERIFY2(std::abs(angle) < 0.5, qPrintable(QString::number(angle)));
        QVERIFY(f.lastScore() > 0.95);
    }

    void recoversRotation_data()
    {
        QTest::addColumn<double>("degrees");
        QTest::addColumn<int>("limit");
        QTest::newRow("+3 within 10") << 3.0 << 10;
        QTest::newRow("-3 within 10") << -3.0 << 10;
        QTest::newRow("+8.5 within 10") << 8.5 << 10;
        QTest::newRow("+45 within 180") << 45.0 << 180;
        QTest::newRow("-120 within 180") << -120.0 << 180;
    }
    void recoversRotation()
    {
        QFETCH(double, degrees);
        QFETCH(int, limit);
        const Scene s = makeScene(480, 480, cv::Rect(140, 140, 200, 200));
        cv::Mat mask = cv::Mat::zeros(s.shape.size(), CV_8UC1);
        cv::circle(mask, cv::Point(100, 100), 98, cv::Scalar(255), cv::FILLED);
        FindShape f;
        f.CreateShape(s.frame(s.shape), 0.0, 0, limit, s.centre.x, s.centre.y, false, 255, mask, 5, 0);
        // Turned about a point away from the shape and moved: the shape centre moves too.
        const cv::Point2f pivot(200, 260);
        const cv::Mat frame = shifted(turned(s.frame, pivot, degrees), 5, -3);
        const cv::Rect win = searchWindow(s, 90, frame.size());
        cv::Mat window = frame(win).clone();
        int x = 0, y = 0;
        double angle = 0;
        QVERIFY(f.Find(window, 0, &x, &y, nullptr, &angle));
        QVERIFY2(std::abs(angle + degrees) <= 1.0, qPrintable(QString::number(angle)));

        // Where the shape centre went, by the same motion.
        const cv::Mat rot = cv::getRotationMatrix2D(pivot, degrees, 1.0);
        const double cx =
            rot.at<double>(0, 0) * s.centre.x + rot.at<double>(0, 1) * s.centre.y + rot.at<double>(0, 2) + 5;
        const double cy =
            rot.at<double>(1, 0) * s.centre.x + rot.at<double>(1, 1) * s.centre.y + rot.at<double>(1, 2) - 3;
        QVERIFY2(std::abs((x - win.x) + (cx - s.centre.x)) <= 1.0, qPrintable(QString::number(x - win.x)));
        QVERIFY2(std::abs((y - win.y) + (cy - s.centre.y)) <= 1.0, qPrintable(QString::number(y - win.y)));
    }

    // Every placement, and turns every 0.05 degrees around the true one, scored by the plain masked
    // correlation: the search must land on the best of them wherever the shape lies in the noisy window,
    // at its edges too, and with a mask whose rows hold two stretches. Without turning, the search must
    // also score its answer as the plain correlation does.
    void agreesWithExhaustiveSearch_data()
    {
        QTest::addColumn<QString>("maskKind");
        QTest::addColumn<double>("degrees");
        QTest::addColumn<int>("limit");
        for (const char *kind : {"rectangle", "ellipse", "ring"}) {
            QTest::addRow("%s, not turned, no turn allowed", kind) << QString(kind) << 0.0 << 0;
            QTest::addRow("%s, turned 1.3", kind) << QString(kind) << 1.3 << 5;
            QTest::addRow("%s, turned -2.6", kind) << QString(kind) << -2.6 << 5;
        }
    }
    void agreesWithExhaustiveSearch()
    {
        QFETCH(QString, maskKind);
        QFETCH(double, degrees);
        QFETCH(int, limit);
        const int margin = 30;
        const Scene s = makeScene(400, 320, cv::Rect(120, 100, 160, 120));
        const cv::Point2f mid(80, 60);
        cv::Mat mask(s.shape.size(), CV_8UC1, cv::Scalar(255));
        if (maskKind != "rectangle") {
            mask.setTo(cv::Scalar(0));
            cv::ellipse(mask, mid, cv::Size(78, 58), 0, 0, 360, cv::Scalar(255), cv::FILLED);
            if (maskKind == "ring")
                cv::circle(mask, mid, 30, cv::Scalar(0), cv::FILLED);
        }
        const cv::Mat templ = s.frame(s.shape);
        FindShape f;
        f.CreateShape(templ, 0.0, 0, limit, s.centre.x, s.centre.y, false, 255, mask, 5, 0);
        const int band = limit == 0 ? 0 : 8;
        std::vector<cv::Point> moves{{-30, -30}, {30, 12}, {2, -1}, {-7, 29}};
        if (limit == 0)
            moves.insert(moves.end(), {{30, 30}, {0, 0}, {1, 0}, {13, -11}, {-29, 1}});
        for (const cv::Point move : moves) {
            // Camera noise, so that no placement matches perfectly whatever pixels it counts.
            const cv::Mat frame =
                withNoise(shifted(turned(s.frame, cv::Point2f(s.centre), degrees), move.x, move.y), 12, 7);
            const cv::Rect win = searchWindow(s, margin, frame.size());
            cv::Mat window = frame(win).clone();

            const NccImage image = makeNccImage(window);
            double bestScore = -2, bestTurn = 0;
            cv::Point bestPlace;
            for (int i = -band; i <= band; ++i) {
                const double turn = degrees + 0.05 * i;
                const cv::Mat rot = cv::getRotationMatrix2D(mid, turn, 1.0);
                cv::Mat t, m;
                cv::warpAffine(templ, t, rot, templ.size(), cv::INTER_LINEAR, cv::BORDER_REPLICATE);
                cv::warpAffine(mask, m, rot, mask.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT,
                               cv::Scalar(0));
                double score;
                cv::Point place;
                cv::minMaxLoc(nccMap(image, makeNccTemplate(t, m >= 128)), nullptr, &score, nullptr, &place);
                if (score > bestScore) {
                    bestScore = score;
                    bestTurn = turn;
                    bestPlace = place;
                }
            }
            QCOMPARE(bestPlace, cv::Point(margin, margin) + move); // the reference itself is sound

            int x = 0, y = 0;
            double angle = 99;
            QVERIFY(f.Find(window, 0, &x, &y, nullptr, &angle));
            const cv::Point topLeft(s.centre.x - x - s.shape.width / 2, s.centre.y - y - s.shape.height / 2);
            QCOMPARE(topLeft, bestPlace);
            QVERIFY2(std::abs(angle + bestTurn) <= 0.1,
                     qPrintable(QStringLiteral("%1 %2").arg(angle).arg(bestTurn)));
            // Turned, the search scores its nearest turn on its own grid, a little off the best one.
            const double tolerance = limit == 0 ? 1e-4 : 2e-3;
            QVERIFY2(
                std::abs(f.lastScore() - bestScore) <= tolerance,
                qPrintable(QStringLiteral("%1 %2").arg(f.lastScore(), 0, 'f', 6).arg(bestScore, 0, 'f', 6)));
        }
    }

    // The detector's setting: a 640 x 480 frame, a position region, rotation allowed up to 5 degrees and
    // a search window reaching `margin` pixels around the region. The turn found must not depend on
    // where the shape lies in the window, must be 0 for a frame that is not turned, and must be close
    // enough that regions 300 px from the shape centre are moved back within half a pixel.
    void turnFoundForAnyWindowOffset_data()
    {
        QTest::addColumn<int>("margin");
        QTest::addColumn<double>("degrees");
        QTest::addColumn<double>("sigma"); // camera noise on the frame, grey levels
        QTest::addColumn<double>("tolerance");
        for (int margin = 20; margin <= 32; ++margin)
            QTest::addRow("unturned, window offset %d", margin) << margin << 0.0 << 0.0 << 0.05;
        for (int margin : {30, 31, 32})
            QTest::addRow("unturned, noise 3, window offset %d", margin) << margin << 0.0 << 3.0 << 0.05;
        for (double degrees : {0.5, -1.0, 1.0, 3.0, -3.0, 4.5})
            QTest::addRow("turned %g, window offset 30", degrees) << 30 << degrees << 0.0 << 0.1;
        QTest::addRow("turned 1, noise 3, window offset 31") << 31 << 1.0 << 3.0 << 0.1;
    }
    void turnFoundForAnyWindowOffset()
    {
        QFETCH(int, margin);
        QFETCH(double, degrees);
        QFETCH(double, sigma);
        QFETCH(double, tolerance);
        Scene s = makeScene(640, 480, cv::Rect(60, 60, 520, 360));
        s.frame = platesScene(640, 480, 31);
        FindShape f;
        f.CreateShape(s.frame(s.shape), 0.0, 0, 5, s.centre.x, s.centre.y, false, 255,
                      cv::Mat(s.shape.size(), CV_8UC1, cv::Scalar(255)), 30, 0);
        cv::Mat frame = turned(s.frame, cv::Point2f(s.centre), degrees);
        if (sigma > 0)
            frame = withNoise(frame, sigma, 32);
        const cv::Rect win = searchWindow(s, margin, frame.size());
        cv::Mat window = frame(win).clone();
        int x = 0, y = 0;
        double angle = 99;
        QVERIFY(f.Find(window, 0, &x, &y, nullptr, &angle));
        QVERIFY2(std::abs(angle + degrees) < tolerance, qPrintable(QString::number(angle)));

        // The caller's correction (shift, then turn about the centre) applied to points 300 px away.
        const cv::Mat turn = cv::getRotationMatrix2D(cv::Point2f(s.centre), degrees, 1.0);
        const cv::Mat back = cv::getRotationMatrix2D(cv::Point2f(s.centre), angle, 1.0);
        const auto apply = [](const cv::Mat &m, cv::Point2d p) {
            return cv::Point2d(m.at<double>(0, 0) * p.x + m.at<double>(0, 1) * p.y + m.at<double>(0, 2),
                               m.at<double>(1, 0) * p.x + m.at<double>(1, 1) * p.y + m.at<double>(1, 2));
        };
        for (const cv::Point2d offset : {cv::Point2d(300, 0), cv::Point2d(0, 300), cv::Point2d(-212, 212)}) {
            const cv::Point2d p = cv::Point2d(s.centre) + offset;
            const cv::Point2d home = apply(back, apply(turn, p) + cv::Point2d(x - win.x, y - win.y));
            QVERIFY2(cv::norm(home - p) < 0.5, qPrintable(QString::number(cv::norm(home - p))));
        }
    }

    // A blurred copy of the shape on the coarse grid beats the sharp shape half a pixel off it at the
    // top of the pyramid; at full resolution the sharp shape wins and must be the answer.
    void decoyThatOnlyWinsWhenCoarse()
    {
        const cv::Mat shape = texture(200, 160, 61, 1.0);
        cv::Mat decoy;
        cv::GaussianBlur(shape, decoy, cv::Size(), 1.2);
        cv::Mat window(240, 520, CV_8UC1, cv::Scalar(128));
        const cv::Point real(18, 42), fake(300, 40); // fake on the grid of every level, real not
        shape.copyTo(window(cv::Rect(real, shape.size())));
        decoy.copyTo(window(cv::Rect(fake, shape.size())));
        FindShape f;
        f.CreateShape(shape, 0.0, 0, 0, 100, 80, false, 255, cv::Mat(), 30, 0);
        QCOMPARE(f.levelCount(), 3);

        // The premise: at the top level (a quarter of the size) the decoy scores higher.
        cv::Mat smallWindow = window, smallShape = shape;
        for (int l = 1; l < f.levelCount(); ++l) {
            cv::pyrDown(smallWindow, smallWindow);
            cv::pyrDown(smallShape, smallShape);
        }
        const NccImage top = makeNccImage(smallWindow);
        const NccTemplate t = makeNccTemplate(smallShape, cv::Mat());
        double realTop = -2;
        for (int dy = 0; dy <= 1; ++dy) {
            for (int dx = 0; dx <= 1; ++dx)
                realTop = std::max(realTop, nccAt(top, t, real / 4 + cv::Point(dx, dy)));
        }
        const double fakeTop = nccAt(top, t, fake / 4);
        QVERIFY2(fakeTop > realTop, qPrintable(QStringLiteral("%1 %2").arg(fakeTop).arg(realTop)));

        int x = 0, y = 0;
        QVERIFY(f.Find(window, 0, &x, &y, nullptr, nullptr));
        QCOMPARE(cv::Point(100 - x, 80 - y), real + cv::Point(100, 80));
        QVERIFY(f.lastScore() > 0.99);
    }

    // The shipped sample pictures are a mould plate full of alike cavities and long grinding marks: at a
    // coarse scale many places and turns look as good as the true one, and the marks make narrow
    // ridges of scores. Wherever the shape is cut, the place found must score, by the masked
    // reference (every whole degree, only the turned rectangle counted), at least the reference's
    // best less 0.005, and where that best clearly leads it must be the same place and turn.
    void findsTheBestPlaceOnHardCases_data()
    {
        QTest::addColumn<QString>("picture");
        QTest::addColumn<QRect>("shape");
        QTest::addColumn<int>("limit");
        QTest::addColumn<double>("degrees");
        QTest::addColumn<QPoint>("move");
        QTest::addColumn<int>("maxOffset");
        QTest::addColumn<double>("sigma");
        QTest::newRow("sample 1, off-centre, turned 10 at the limit, whole frame")
            << "simcam/1/01_good.jpg" << QRect(40, 428, 300, 240) << 10 << 10.0 << QPoint(-31, 38) << 8000
            << 0.0;
        QTest::newRow("sample 1, off-centre, turned 3, whole frame")
            << "simcam/1/01_good.jpg" << QRect(171, 525, 300, 240) << 10 << 3.0 << QPoint(-31, -17) << 8000
            << 0.0;
        QTest::newRow("sample 1, off-centre, turned -9.9, whole frame")
            << "simcam/1/01_good.jpg" << QRect(695, 525, 300, 240) << 10 << -9.9 << QPoint(27, -17) << 8000
            << 0.0;
        QTest::newRow("sample 2, turned 44.6 of 45, noise, window +-60")
            << "simcam/2/01_good.jpg" << QRect(820, 160, 300, 240) << 45 << 44.6 << QPoint(12, -40) << 60
            << 5.0;
        QTest::newRow("texture, turned -120 of 180, window +-60")
            << "" << QRect(300, 200, 160, 128) << 180 << -120.0 << QPoint(22, -38) << 60 << 4.0;
        // The true turn scores far above its neighbours only at full resolution, where the shape's
        // fine grain shows; the coarser copies favour a broad ridge of turns a few degrees away.
        QTest::newRow("sample 1, off-centre, turned 10 at the limit of 10, window +-100")
            << "simcam/1/01_good.jpg" << QRect(171, 525, 300, 240) << 10 << 10.0 << QPoint(-31, 38) << 100
            << 0.0;
        QTest::newRow("sample 1, off-centre, turned 45 at the limit of 45, window +-50")
            << "simcam/1/01_good.jpg" << QRect(171, 525, 300, 240) << 45 << 45.0 << QPoint(12, -25) << 50
            << 0.0;
        QTest::newRow("sample 2, turned 179.3 of 180, window +-40")
            << "simcam/2/01_good.jpg" << QRect(900, 200, 160, 128) << 180 << 179.3 << QPoint(-20, 25) << 40
            << 0.0;
        // Away from the true turn the best place of a smooth stretch lies several pixels from the true
        // one, so a turn tried only close to the candidate's place looks no better than its own.
        QTest::newRow("sample 1, top edge, turned -9.9 of 10, whole frame")
            << "simcam/1/01_good.jpg" << QRect(433, 40, 300, 240) << 10 << -9.9 << QPoint(27, -17) << 8000
            << 0.0;
        QTest::newRow("sample 2, top right, turned 3 of 10, whole frame")
            << "simcam/2/01_good.jpg" << QRect(826, 40, 300, 240) << 10 << 3.0 << QPoint(-31, -17) << 8000
            << 0.0;
        // An edge across a smooth stretch makes a long ridge where a move along it trades off against a
        // turn: the true place comes down to full resolution a few pixels and more than a degree off, and
        // only a sharp peak of the turn marks it there.
        QTest::newRow("sample 2, left edge, turned -9.9 of 10, whole frame")
            << "simcam/2/01_good.jpg" << QRect(40, 137, 300, 240) << 10 << -9.9 << QPoint(27, -17) << 8000
            << 0.0;
        // The places near the true one come down to full resolution at turns 5 and 6 degrees either side
        // of the true turn (the coarse copies see no difference), and the best place of each turn slides
        // along a ridge as the turn changes: a search that tries the farther turns only close to a
        // candidate's own place lands 170 px away.
        QTest::newRow("sample 1, lower right, turned 3 of 10, whole frame")
            << "simcam/1/01_good.jpg" << QRect(826, 525, 300, 240) << 10 << 3.0 << QPoint(-31, -17) << 8000
            << 0.0;
        // A smooth stretch scores 0.99 along the whole ridge of turns and places, the true turn only a
        // little more, on a peak narrower than the turns a sweep tries at once.
        QTest::newRow("sample 2, bottom right, turned 3 of 10, whole frame")
            << "simcam/2/01_good.jpg" << QRect(826, 719, 300, 240) << 10 << 3.0 << QPoint(-31, -17) << 8000
            << 0.0;
    }
    void findsTheBestPlaceOnHardCases()
    {
        QFETCH(QString, picture);
        QFETCH(QRect, shape);
        QFETCH(int, limit);
        QFETCH(double, degrees);
        QFETCH(QPoint, move);
        QFETCH(int, maxOffset);
        QFETCH(double, sigma);
        const cv::Mat scene = picture.isEmpty()
                                  ? texture(800, 640, 71)
                                  : cv::imread((TestWorkDir::shippedDir() + "/" + picture).toStdString(),
                                               cv::IMREAD_GRAYSCALE);
        QVERIFY(!scene.empty());
        const cv::Rect r(shape.x(), shape.y(), shape.width(), shape.height());
        const cv::Point centre(r.x + r.width / 2, r.y + r.height / 2);
        cv::Mat rot = cv::getRotationMatrix2D(cv::Point2f(centre), degrees, 1.0);
        rot.at<double>(0, 2) += move.x();
        rot.at<double>(1, 2) += move.y();
        cv::Mat frame;
        cv::warpAffine(scene, frame, rot, scene.size(), cv::INTER_LINEAR, cv::BORDER_REFLECT);
        if (sigma > 0)
            frame = withNoise(frame, sigma, 72);
        // The detector's window: the positioning rectangle +- maxOffset, clipped to the frame.
        const cv::Rect win = searchWindow(Scene{frame, r, centre}, maxOffset, frame.size());
        cv::Mat window = frame(win).clone();
        const cv::Mat templ = scene(r);

        const maskedref::Best ref = maskedref::search(window, templ, limit);
        FindShape f;
        f.CreateShape(templ, 0.0, 0, limit, centre.x, centre.y, false, 255,
                      cv::Mat(r.size(), CV_8UC1, cv::Scalar(255)), 5, 0);
        int x = 0, y = 0;
        double angle = 0;
        QVERIFY(f.Find(window, 0, &x, &y, nullptr, &angle));
        const cv::Point found(centre.x - x - r.width / 2, centre.y - y - r.height / 2);
        const double score = maskedref::scoreAt(window, templ, found, -angle);
        const QString what =
            QStringLiteral("found (%1, %2) turned %3 scoring %4; reference (%5, %6) turned %7 "
                           "scoring %8, runner-up %9")
                .arg(found.x)
                .arg(found.y)
                .arg(-angle, 0, 'f', 2)
                .arg(score, 0, 'f', 3)
                .arg(ref.topLeft.x)
                .arg(ref.topLeft.y)
                .arg(ref.degrees)
                .arg(ref.score, 0, 'f', 3)
                .arg(ref.runnerUp, 0, 'f', 3);
        QVERIFY2(score >= ref.score - 0.005, qPrintable(what));
        if (ref.score - ref.runnerUp >= 0.02) {
            QVERIFY2(std::abs(found.x - ref.topLeft.x) <= 1 && std::abs(found.y - ref.topLeft.y) <= 1,
                     qPrintable(what));
            QVERIFY2(std::abs(std::remainder(-angle - ref.degrees, 360.0)) <= 1.0, qPrintable(what));
        }
    }

    void correctionBringsFrameBack()
    {
        // The caller's correction applied with plain OpenCV calls: shift, then turn about the centre.
        const Scene s = makeScene(480, 480, cv::Rect(140, 140, 200, 200));
        FindShape f;
        f.CreateShape(s.frame(s.shape), 0.0, 0, 10, s.centre.x, s.centre.y, false, 255, cv::Mat(), 5, 0);
        const cv::Mat frame = shifted(turned(s.frame, cv::Point2f(s.centre), 3.0), -6, 4);
        const cv::Rect win = searchWindow(s, 30, frame.size());
        cv::Mat window = frame(win).clone();
        int x = 0, y = 0;
        double angle = 0;
        QVERIFY(f.Find(window, 0, &x, &y, nullptr, &angle));
        const cv::Mat back = shifted(frame, x - win.x, y - win.y);
        cv::Mat corrected;
        cv::warpAffine(back, corrected, cv::getRotationMatrix2D(cv::Point2f(s.centre), angle, 1.0),
                       back.size());
        const cv::Rect inner(s.shape.x + 20, s.shape.y + 20, s.shape.width - 40, s.shape.height - 40);
        QVERIFY(meanAbsDiff(corrected(inner), s.frame(inner)) < 4.0);
        // Without the correction the frame is far off.
        QVERIFY(meanAbsDiff(frame(inner), s.frame(inner)) > 10.0);
    }

    void brightnessAndMaskDoNotMatter()
    {
        const Scene s = makeScene();
        cv::Mat mask = cv::Mat::zeros(s.shape.size(), CV_8UC1);
        cv::rectangle(mask, cv::Rect(20, 20, 120, 100), cv::Scalar(255), cv::FILLED);
        FindShape f;
        f.CreateShape(s.frame(s.shape), 0.0, 0, 0, s.centre.x, s.centre.y, false, 255, mask, 50, 0);
        cv::Mat frame;
        shifted(s.frame, 6, 5).convertTo(frame, CV_8U, 0.6, 50);
        // Everything outside the mask is replaced in the moved frame.
        cv::Mat outside(frame.size(), CV_8UC1, cv::Scalar(255));
        outside(cv::Rect(s.shape.x + 26, s.shape.y + 25, 120, 100)).setTo(cv::Scalar(0));
        noise(frame.cols, frame.rows, 51).copyTo(frame, outside);
        const cv::Rect win = searchWindow(s, 30, frame.size());
        cv::Mat window = frame(win).clone();
        int x = 0, y = 0;
        QVERIFY(f.Find(window, 0, &x, &y, nullptr, nullptr));
        QCOMPARE(x - win.x, -6);
        QCOMPARE(y - win.y, -5);
    }

    void refusesWhatItCannotFind()
    {
        const Scene s = makeScene();
        FindShape f;
        f.CreateShape(s.frame(s.shape), 0.0, 0, 10, s.centre.x, s.centre.y, false, 255, cv::Mat(), 5, 0);
        int x = 123, y = 456;
        double angle = 7.5;
        cv::Mat flat(300, 300, CV_8UC1, cv::Scalar(128));
        QVERIFY(!f.Find(flat, 0, &x, &y, nullptr, &angle));
        cv::Mat small = s.frame(cv::Rect(s.shape.x, s.shape.y, s.shape.width - 1, s.shape.height)).clone();
        QVERIFY(!f.Find(small, 0, &x, &y, nullptr, &angle));
        cv::Mat empty;
        QVERIFY(!f.Find(empty, 0, &x, &y, nullptr, &angle));
        cv::Mat colour(400, 400, CV_8UC3, cv::Scalar(1, 2, 3));
        QVERIFY(!f.Find(colour, 0, &x, &y, nullptr, &angle));
        QCOMPARE(x, 123);
        QCOMPARE(y, 456);
        QCOMPARE(angle, 7.5);
    }

    void leastMatchDecides()
    {
        const Scene s = makeScene();
        cv::Mat window = noise(300, 260, 52);
        FindShape loose, strict, impossible;
        const cv::Mat t = s.frame(s.shape);
        loose.CreateShape(t, 0.0, 0, 0, 0, 0, false, 255, cv::Mat(), 0, 0);
        strict.CreateShape(t, 0.0, 0, 0, 0, 0, false, 255, cv::Mat(), 50, 0);
        impossible.CreateShape(t, 0.0, 0, 0, 0, 0, false, 255, cv::Mat(), 100, 0);
        int x, y;
        // Noise correlates a little somewhere, far below half.
        QVERIFY(loose.Find(window, 0, &x, &y, nullptr, nullptr));
        QVERIFY(loose.lastScore() < 0.3);
        QVERIFY(!strict.Find(window, 0, &x, &y, nullptr, nullptr));
        cv::Mat exact = s.frame(s.shape).clone();
        QVERIFY(strict.Find(exact, 0, &x, &y, nullptr, nullptr));
        QVERIFY(!impossible.Find(exact, 0, &x, &y, nullptr, nullptr));
    }

    void noShapeFromUnusableTemplates()
    {
        FindShape f;
        f.CreateShape(cv::Mat(100, 100, CV_8UC1, cv::Scalar(0)), 0.0, 0, 10, 50, 50, false, 255, cv::Mat(),
                      5, 0);
        QVERIFY(!f.IsValid());
        cv::Mat window = texture(200, 200, 53);
        int x, y;
        QVERIFY(!f.Find(window, 0, &x, &y, nullptr, nullptr));
        f.CreateShape(cv::Mat(), 0.0, 0, 10, 50, 50, false, 255, cv::Mat(), 5, 0);
        QVERIFY(!f.IsValid());
        f.CreateShape(cv::Mat(50, 50, CV_8UC3, cv::Scalar(1, 2, 3)), 0.0, 0, 10, 0, 0, false, 255, cv::Mat(),
                      5, 0);
        QVERIFY(!f.IsValid());
        // Contrast outside the mask only: nothing to find by.
        cv::Mat t(60, 60, CV_8UC1, cv::Scalar(100));
        t(cv::Rect(0, 0, 10, 60)).setTo(cv::Scalar(200));
        cv::Mat mask = cv::Mat::zeros(60, 60, CV_8UC1);
        mask(cv::Rect(20, 0, 40, 60)).setTo(cv::Scalar(255));
        f.CreateShape(t, 0.0, 0, 0, 30, 30, false, 255, mask, 5, 0);
        QVERIFY(!f.IsValid());
        // A valid shape is dropped by Clear.
        f.CreateShape(texture(60, 60, 54), 0.0, 0, 0, 30, 30, false, 255, cv::Mat(), 5, 0);
        QVERIFY(f.IsValid());
        f.Clear();
        QVERIFY(!f.IsValid());
    }

    void buildsAPyramidForLargeShapes()
    {
        FindShape big, tiny;
        big.CreateShape(texture(640, 512, 55), 0.0, 0, 10, 0, 0, false, 255, cv::Mat(), 5, 0);
        tiny.CreateShape(texture(30, 30, 56), 0.0, 0, 10, 0, 0, false, 255, cv::Mat(), 5, 0);
        QVERIFY(big.levelCount() >= 4);
        QCOMPARE(tiny.levelCount(), 1);
        // A small shape found in a large window.
        const cv::Mat scene = texture(400, 300, 57);
        const cv::Rect r(200, 150, 30, 30);
        tiny.CreateShape(scene(r), 0.0, 0, 0, r.x + 15, r.y + 15, false, 255, cv::Mat(), 5, 0);
        cv::Mat window = shifted(scene, -9, 4);
        int x, y;
        QVERIFY(tiny.Find(window, 0, &x, &y, nullptr, nullptr));
        QCOMPARE(x, 9);
        QCOMPARE(y, -4);
    }
};

QTEST_GUILESS_MAIN(TestFindShape)
#include "tst_matchers_findshape.moc"

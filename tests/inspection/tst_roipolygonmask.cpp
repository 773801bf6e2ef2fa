// The row-by-row polygon mask must equal testing every pixel with cv::pointPolygonTest, bit for bit,
// for every kind of outline an operator or a stored table can produce.

#include "roipolygonmask.h"

#include <QRandomGenerator>
#include <QtTest>
#include <opencv2/imgproc.hpp>
#include <vector>

namespace {

using Outline = std::vector<QPoint>;

QRect corners(int x1, int y1, int x2, int y2)
{
    return QRect(QPoint(x1, y1), QPoint(x2, y2));
}

// Slowest and plainest: one test per pixel, straight from OpenCV.
cv::Mat perPixel(const Outline &v, const QRect &box)
{
    cv::Mat m(box.height(), box.width(), CV_8UC1);
    std::vector<cv::Point> contour;
    for (const QPoint &p : v)
        contour.emplace_back(p.x(), p.y());
    for (int r = 0; r < m.rows; ++r)
        for (int c = 0; c < m.cols; ++c)
            m.at<uchar>(r, c) =
                cv::pointPolygonTest(contour, cv::Point2f(box.left() + c, box.top() + r), false) > 0 ? 255
                                                                                                     : 0;
    return m;
}

QString firstDifference(const cv::Mat &a, const cv::Mat &b)
{
    if (a.size() != b.size())
        return QStringLiteral("size %1x%2 vs %3x%4").arg(a.cols).arg(a.rows).arg(b.cols).arg(b.rows);
    for (int r = 0; r < a.rows; ++r)
        for (int c = 0; c < a.cols; ++c)
            if (a.at<uchar>(r, c) != b.at<uchar>(r, c))
                return QStringLiteral("pixel (%1, %2): %3 vs %4")
                    .arg(c)
                    .arg(r)
                    .arg(a.at<uchar>(r, c))
                    .arg(b.at<uchar>(r, c));
    return QString();
}

} // namespace

Q_DECLARE_METATYPE(Outline)

class TestRoiPolygonMask : public QObject
{
    Q_OBJECT
private slots:
    void equalsThePerPixelTest_data()
    {
        QTest::addColumn<Outline>("outline");
        QTest::addColumn<QRect>("box");
        QTest::newRow("square") << Outline{{10, 10}, {110, 10}, {110, 110}, {10, 110}}
                                << corners(10, 10, 109, 109);
        QTest::newRow("square, box around it")
            << Outline{{10, 10}, {30, 10}, {30, 30}, {10, 30}} << corners(0, 0, 40, 40);
        QTest::newRow("triangle with slanted edges")
            << Outline{{3, 2}, {47, 19}, {11, 41}} << corners(0, 0, 50, 45);
        QTest::newRow("clockwise and counter-clockwise alike")
            << Outline{{11, 41}, {47, 19}, {3, 2}} << corners(0, 0, 50, 45);
        QTest::newRow("concave with horizontal runs")
            << Outline{{0, 0}, {20, 0}, {20, 10}, {10, 10}, {10, 20}, {20, 20}, {20, 30}, {0, 30}}
            << corners(-2, -2, 22, 32);
        QTest::newRow("self-crossing star")
            << Outline{{20, 0}, {32, 38}, {0, 14}, {40, 14}, {8, 38}} << corners(0, 0, 40, 40);
        QTest::newRow("bow tie") << Outline{{0, 0}, {30, 20}, {30, 0}, {0, 20}} << corners(0, 0, 30, 20);
        QTest::newRow("collinear and repeated vertices")
            << Outline{{5, 5}, {15, 5}, {15, 5}, {25, 5}, {25, 15}, {25, 25}, {5, 25}, {5, 15}}
            << corners(0, 0, 30, 30);
        QTest::newRow("local peaks on one row")
            << Outline{{0, 20}, {10, 5}, {20, 20}, {30, 5}, {40, 20}, {20, 30}} << corners(0, 0, 40, 30);
        QTest::newRow("two points") << Outline{{0, 0}, {10, 10}} << corners(0, 0, 10, 10);
        QTest::newRow("one point") << Outline{{4, 4}} << corners(0, 0, 8, 8);
        QTest::newRow("box cuts the polygon")
            << Outline{{0, 0}, {60, 5}, {50, 60}, {-10, 40}} << corners(20, 10, 45, 30);
        QTest::newRow("box beside the polygon")
            << Outline{{0, 0}, {10, 0}, {10, 10}} << corners(50, 50, 60, 60);
        QTest::newRow("far from the origin") << Outline{{100000, 200000}, {100040, 200003}, {100017, 200033}}
                                             << corners(99995, 199995, 100045, 200040);
        QTest::newRow("needle") << Outline{{0, 0}, {50, 1}, {0, 2}} << corners(0, 0, 50, 2);
    }
    void equalsThePerPixelTest()
    {
        QFETCH(Outline, outline);
        QFETCH(QRect, box);
        const cv::Mat expected = perPixel(outline, box);
        const cv::Mat fast = polygonInsideMask(outline.data(), int(outline.size()), box);
        QCOMPARE(firstDifference(fast, expected), QString());
        const cv::Mat reference = polygonInsideMaskByPointTest(outline.data(), int(outline.size()), box);
        QCOMPARE(firstDifference(reference, expected), QString());
    }

    void squareKnownAnswer()
    {
        const Outline v{{10, 10}, {110, 10}, {110, 110}, {10, 110}};
        const cv::Mat m = polygonInsideMask(v.data(), 4, corners(10, 10, 109, 109));
        QCOMPARE(m.rows, 100);
        QCOMPARE(m.cols, 100);
        QCOMPARE(m.type(), CV_8UC1);
        QCOMPARE(cv::countNonZero(m), 99 * 99);
        QCOMPARE(int(m.at<uchar>(0, 50)), 0);
        QCOMPARE(int(m.at<uchar>(50, 0)), 0);
        QCOMPARE(int(m.at<uchar>(1, 1)), 255);
        QCOMPARE(int(m.at<uchar>(99, 99)), 255);
    }

    void equalsThePerPixelTestOnRandomOutlines()
    {
        QRandomGenerator rng(20240607);
        for (int round = 0; round < 300; ++round) {
            const int n = 3 + int(rng.bounded(25));
            const int span = 10 + int(rng.bounded(50));
            Outline v;
            for (int i = 0; i < n; ++i)
                v.emplace_back(int(rng.bounded(span)), int(rng.bounded(span)));
            // Snap some vertices onto the row or column of the previous one: horizontal and vertical
            // edges are where row-based methods go wrong.
            for (int i = 1; i < n; ++i) {
                if (rng.bounded(4) == 0)
                    v[i].setY(v[i - 1].y());
                else if (rng.bounded(6) == 0)
                    v[i].setX(v[i - 1].x());
            }
            const QRect box = corners(-3, -2, span + 1, span + 2);
            const cv::Mat fast = polygonInsideMask(v.data(), n, box);
            const QString diff = firstDifference(fast, perPixel(v, box));
            if (!diff.isEmpty()) {
                QStringList pts;
                for (const QPoint &p : v)
                    pts << QStringLiteral("(%1,%2)").arg(p.x()).arg(p.y());
                QFAIL(qPrintable(QStringLiteral("round %1, %2: %3").arg(round).arg(pts.join(' '), diff)));
            }
        }
    }

    void emptyInputsGiveAnEmptyMask()
    {
        const Outline v{{0, 0}, {10, 0}, {10, 10}};
        QVERIFY(polygonInsideMask(v.data(), 3, QRect()).empty());
        QVERIFY(polygonInsideMask(v.data(), 3, corners(5, 5, 4, 4)).empty());
        QVERIFY(polygonInsideMask(v.data(), 0, corners(0, 0, 4, 4)).empty());
        QVERIFY(polygonInsideMask(nullptr, 3, corners(0, 0, 4, 4)).empty());
        QVERIFY(polygonInsideMaskByPointTest(v.data(), 3, QRect()).empty());
    }
};

QTEST_GUILESS_MAIN(TestRoiPolygonMask)
#include "tst_roipolygonmask.moc"

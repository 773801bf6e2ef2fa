// Region shapes as the editor and the detector use them: image geometry, masks, handles and drags.

#include "imagesize.h"
#include "roishapes.h"

#include <QImage>
#include <QPainter>
#include <QtTest>
#include <cmath>
#include <limits>

namespace {

QRect corners(int x1, int y1, int x2, int y2)
{
    return QRect(QPoint(x1, y1), QPoint(x2, y2));
}

RoiRect rectAt(int x1, int y1, int x2, int y2, float sx = 1.0f, float sy = 1.0f)
{
    RoiRect r;
    r.screenRect = corners(x1, y1, x2, y2);
    r.setScale(sx, sy);
    r.updateImageRect();
    return r;
}

RoiCircle circleAt(int cx, int cy, int outer, int inner, float sx = 1.0f, float sy = 1.0f)
{
    RoiCircle c;
    c.centreX = cx;
    c.centreY = cy;
    c.outerRadius = outer;
    c.innerRadius = inner;
    c.updateGeometry();
    c.setScale(sx, sy);
    c.updateImageGeometry();
    return c;
}

// Polygons are large; tests keep them on the heap like the table does.
std::unique_ptr<RoiPolygon> polygonOf(std::initializer_list<QPoint> pts, float sx = 1.0f, float sy = 1.0f)
{
    const std::vector<QPoint> v(pts);
    auto p = std::make_unique<RoiPolygon>(int(v.size()), v.data());
    p->setScale(sx, sy);
    p->updateImagePoints();
    return p;
}

} // namespace

class TestRoiShapes : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        gShowW = 1024;
        gShowH = 768;
    }

    void rectangleImageGeometry_data()
    {
        QTest::addColumn<QRect>("screen");
        QTest::addColumn<float>("sx");
        QTest::addColumn<float>("sy");
        QTest::addColumn<QRect>("image");
        QTest::newRow("half scale doubles")
            << corners(100, 100, 199, 149) << 0.5f << 0.5f << corners(200, 200, 399, 299);
        QTest::newRow("halves go to even")
            << corners(5, 7, 9, 11) << 2.0f << 2.0f << corners(2, 4, 3, 5); // 2.5 -> 2, 3.5 -> 4, 5 / 2 -> 2
        QTest::newRow("axes scale apart")
            << corners(10, 10, 29, 29) << 1.0f << 0.5f << corners(10, 20, 29, 59);
        QTest::newRow("single precision division")
            << corners(1, 0, 300, 0) << 0.8f << 1.0f << corners(1, 0, 375, 0); // 1.25 -> 1, 375 exactly
    }
    void rectangleImageGeometry()
    {
        QFETCH(QRect, screen);
        QFETCH(float, sx);
        QFETCH(float, sy);
        QFETCH(QRect, image);
        RoiRect r = rectAt(screen.left(), screen.top(), screen.right(), screen.bottom(), sx, sy);
        QCOMPARE(r.imageRect, image);
        const cv::Mat m = r.mask();
        QCOMPARE(m.rows, image.height());
        QCOMPARE(m.cols, image.width());
        QCOMPARE(m.type(), CV_8UC1);
        QCOMPARE(cv::countNonZero(m == 255), m.rows * m.cols);
    }

    void invertedOrEmptyRectangleHasAnEmptyMask()
    {
        QVERIFY(rectAt(100, 100, 50, 50).mask().empty());
        QVERIFY(rectAt(100, 100, 99, 200).mask().empty()); // zero width
        RoiRect fresh;
        QCOMPARE(fresh.screenRect, QRect());
        QCOMPARE(fresh.imageRect, QRect());
        QVERIFY(fresh.mask().empty());
    }

    void unusableScaleGivesNoImageGeometry_data()
    {
        QTest::addColumn<float>("sx");
        QTest::addColumn<float>("sy");
        QTest::newRow("zero") << 0.0f << 1.0f;
        QTest::newRow("both zero") << 0.0f << 0.0f;
        QTest::newRow("nan") << 1.0f << std::numeric_limits<float>::quiet_NaN();
        QTest::newRow("infinite") << std::numeric_limits<float>::infinity() << 1.0f;
        QTest::newRow("negative") << -1.0f << 1.0f;
    }
    void unusableScaleGivesNoImageGeometry()
    {
        QFETCH(float, sx);
        QFETCH(float, sy);
        const RoiRect r = rectAt(10, 10, 100, 100, sx, sy);
        QVERIFY(r.imageRect.isNull());
        QVERIFY(r.mask().empty());
        const RoiCircle c = circleAt(200, 200, 50, 10, sx, sy);
        QCOMPARE(c.imageOuterRadius, 0);
        QVERIFY(c.mask().empty());
        const auto p = polygonOf({{10, 10}, {110, 10}, {110, 110}}, sx, sy);
        QVERIFY(p->mask().empty());
        QCOMPARE(p->screenRect, corners(-10, -10, 109, 109)); // still hit-testable on the screen
    }

    void rectangleHandles_data()
    {
        QTest::addColumn<QPoint>("touch");
        QTest::addColumn<int>("handle");
        QTest::newRow("left edge within a quarter of the width") << QPoint(145, 150) << 3;
        QTest::newRow("top and bottom tolerance is 25") << QPoint(160, 150) << -1;
        QTest::newRow("top-left corner") << QPoint(118, 118) << 0;
        QTest::newRow("top-right corner") << QPoint(281, 81) << 2;
        QTest::newRow("bottom-left corner") << QPoint(100, 199) << 5;
        QTest::newRow("bottom-right corner") << QPoint(299, 199) << 7;
        QTest::newRow("right edge") << QPoint(290, 150) << 4;
        QTest::newRow("top edge") << QPoint(200, 105) << 1;
        QTest::newRow("bottom edge") << QPoint(200, 190) << 6;
        QTest::newRow("left edge beyond its span") << QPoint(100, 230) << -1;
    }
    void rectangleHandles()
    {
        QFETCH(QPoint, touch);
        QFETCH(int, handle);
        RoiRect r = rectAt(100, 100, 299, 199);
        int found = 99;
        QVERIFY(!r.hitHandle(touch, &found)); // not selected: nothing is hit
        QCOMPARE(found, -1);
        r.setSelected(true);
        QCOMPARE(r.hitHandle(touch, &found), handle >= 0);
        QCOMPARE(found, handle);
    }

    void narrowRectangleEdgeToleranceIsThree()
    {
        RoiRect r = rectAt(100, 100, 107, 300);
        r.setSelected(true);
        int handle = 0;
        QVERIFY(r.hitHandle(QPoint(98, 200), &handle)); // quarter width 2 acts as 3
        QCOMPARE(handle, 3);
        QVERIFY(!r.hitHandle(QPoint(97, 200), &handle));
    }

    void rectangleHitIsGrownBy20()
    {
        const RoiRect r = rectAt(100, 100, 199, 199);
        QVERIFY(r.hitTest(QPoint(80, 80)));
        QVERIFY(r.hitTest(QPoint(219, 219)));
        QVERIFY(!r.hitTest(QPoint(79, 150)));
        QVERIFY(!r.hitTest(QPoint(150, 220)));
    }

    void rectangleDrags_data()
    {
        QTest::addColumn<int>("handle");
        QTest::addColumn<QRect>("after");
        QTest::addColumn<int>("dx");
        QTest::addColumn<int>("dy");
        // Start (100, 100)-(200, 200), previous delta (7, 7), drag by (5, -3).
        QTest::newRow("0") << 0 << corners(105, 97, 200, 200) << 5 << -3;
        QTest::newRow("1") << 1 << corners(100, 97, 200, 200) << 7 << -3;
        QTest::newRow("2") << 2 << corners(100, 97, 205, 200) << 5 << -3;
        QTest::newRow("3") << 3 << corners(105, 100, 200, 200) << 5 << 7;
        QTest::newRow("4") << 4 << corners(100, 100, 205, 200) << 5 << 7;
        QTest::newRow("5") << 5 << corners(105, 100, 200, 197) << 5 << -3;
        QTest::newRow("6") << 6 << corners(100, 100, 200, 197) << 7 << -3;
        QTest::newRow("7") << 7 << corners(100, 100, 205, 197) << 5 << -3;
        QTest::newRow("unknown handle") << 8 << corners(100, 100, 200, 200) << 7 << 7;
    }
    void rectangleDrags()
    {
        QFETCH(int, handle);
        QFETCH(QRect, after);
        QFETCH(int, dx);
        QFETCH(int, dy);
        RoiRect r = rectAt(100, 100, 200, 200);
        r.dragDx = 7;
        r.dragDy = 7;
        r.dragHandle(handle, QPoint(50, 50), QPoint(55, 47));
        QCOMPARE(r.screenRect, after);
        QCOMPARE(r.dragDx, dx);
        QCOMPARE(r.dragDy, dy);
        // Dragging past the opposite edge is left for the editor to sort out.
        r.dragHandle(3, QPoint(0, 0), QPoint(500, 0));
        QVERIFY(r.screenRect.left() > r.screenRect.right());
    }

    void ringMaskCountsExactly()
    {
        const RoiCircle c = circleAt(300, 300, 10, 4);
        const cv::Mat m = c.mask();
        QCOMPARE(m.rows, 20);
        QCOMPARE(m.cols, 20);
        // Lattice points with 16 <= u^2 + v^2 < 100: 305 inside radius 10 less 45 inside radius 4.
        QCOMPARE(cv::countNonZero(m), 260);
        for (int y = 0; y < 20; ++y) {
            for (int x = 0; x < 20; ++x) {
                const int d2 = (x - 10) * (x - 10) + (y - 10) * (y - 10);
                QCOMPARE(int(m.at<uchar>(y, x)), (d2 >= 16 && d2 < 100) ? 255 : 0);
            }
        }
        QCOMPARE(int(m.at<uchar>(10, 0)), 0); // u = -10: exactly on the outer boundary
        QCOMPARE(int(m.at<uchar>(10, 1)), 255);
        QCOMPARE(int(m.at<uchar>(10, 10)), 0); // the hole
        QCOMPARE(c.imageRect, corners(290, 290, 309, 309));
    }

    void circleImageGeometryTruncatesTheCentre()
    {
        const RoiCircle c = circleAt(15, 21, 5, 3, 2.0f, 2.0f);
        QCOMPARE(c.imageCentreX, 7);     // 7.5 truncated
        QCOMPARE(c.imageCentreY, 10);    // 10.5 truncated
        QCOMPARE(c.imageOuterRadius, 2); // 2.5 to even
        QCOMPARE(c.imageInnerRadius, 2); // 1.5 to even
        QCOMPARE(c.imageRect, corners(5, 8, 8, 11));
        const RoiCircle d = circleAt(100, 100, 10, 0, 1.0f, 0.5f);
        QCOMPARE(d.imageOuterRadius, 15); // (10 + 20) / 2
        QCOMPARE(d.imageCentreY, 200);
        QVERIFY(circleAt(100, 100, 0, 0).mask().empty());
    }

    void circleGeometryKeepsTheInnerRadiusInRange()
    {
        RoiCircle c = circleAt(100, 100, 20, 35);
        QCOMPARE(c.innerRadius, 20);
        QCOMPARE(c.screenRect, corners(80, 80, 119, 119));
        c.innerRadius = -4;
        c.updateGeometry();
        QCOMPARE(c.innerRadius, 0);
        RoiCircle fresh;
        QCOMPARE(fresh.outerRadius, 0);
        QCOMPARE(fresh.centreX, 0);
        QCOMPARE(fresh.screenRect, QRect());
        QVERIFY(!fresh.isSelected());
        fresh.screenRect = corners(10, 20, 49, 79);
        fresh.fitToRect();
        QCOMPARE(fresh.outerRadius, 20);
        QCOMPARE(QPoint(fresh.centreX, fresh.centreY), QPoint(30, 40));
        QCOMPARE(fresh.screenRect, corners(10, 20, 49, 59));
    }

    void ringHandles_data()
    {
        QTest::addColumn<QPoint>("touch");
        QTest::addColumn<int>("handle");
        // Centre (200, 200), outer radius 100: above the centre is 6, below 1.
        QTest::newRow("above") << QPoint(205, 100) << 6;
        QTest::newRow("below") << QPoint(195, 300) << 1;
        QTest::newRow("left") << QPoint(100, 210) << 3;
        QTest::newRow("right") << QPoint(300, 190) << 4;
        QTest::newRow("below left") << QPoint(130, 270) << 0;
        QTest::newRow("above left") << QPoint(130, 130) << 5;
        QTest::newRow("below right") << QPoint(270, 270) << 2;
        QTest::newRow("above right") << QPoint(270, 130) << 7;
        QTest::newRow("20 px outside") << QPoint(200, 80) << 6;
        QTest::newRow("21 px outside") << QPoint(200, 79) << -1;
        QTest::newRow("inside the ring band") << QPoint(200, 121) << -1;
        QTest::newRow("centre") << QPoint(200, 200) << -1;
    }
    void ringHandles()
    {
        QFETCH(QPoint, touch);
        QFETCH(int, handle);
        RoiCircle c = circleAt(200, 200, 100, 0);
        int found = 99;
        QVERIFY(!c.hitRing(touch, &found));
        QCOMPARE(found, -1);
        c.setSelected(true);
        QCOMPARE(c.hitRing(touch, &found), handle >= 0);
        QCOMPARE(found, handle);
    }

    void ringOfAStoredMaximumRadiusStillHits()
    {
        // 60000^2 does not fit 32 bits; the ring test must not wrap.
        RoiCircle c = circleAt(500, 70000, 60000, 0);
        c.setSelected(true);
        int handle = -1;
        QVERIFY(c.hitRing(QPoint(505, 10005), &handle));
        QCOMPARE(handle, 6);
        QVERIFY(!c.hitRing(QPoint(500, 70000), &handle));
    }

    void ringDragSetsTheRadiusToTheTouch()
    {
        RoiCircle c = circleAt(100, 100, 10, 8);
        c.dragHandle(4, QPoint(0, 0), QPoint(103, 104));
        QCOMPARE(c.outerRadius, 5);
        QCOMPARE(c.innerRadius, 5);
        c.dragHandle(0, QPoint(), QPoint(101, 101));
        QCOMPARE(c.outerRadius, 1); // 1.41 truncated
        QCOMPARE(c.screenRect, corners(99, 99, 100, 100));
        QVERIFY(c.hitTest(QPoint(79, 120)));
        QVERIFY(!c.hitTest(QPoint(78, 100)));
    }

    void polygonSquare()
    {
        const auto p = polygonOf({{10, 10}, {110, 10}, {110, 110}, {10, 110}});
        QCOMPARE(p->imageRect, corners(10, 10, 109, 109));
        QCOMPARE(p->screenRect, corners(-10, -10, 109, 109));
        const cv::Mat m = p->mask();
        QCOMPARE(m.rows, 100);
        QCOMPARE(m.cols, 100);
        QCOMPARE(cv::countNonZero(m.row(0)), 0); // on the edge
        QCOMPARE(cv::countNonZero(m.col(0)), 0);
        QCOMPARE(cv::countNonZero(m(cv::Rect(1, 1, 99, 99)) == 255), 99 * 99);
    }

    void polygonImagePointsRoundHalfToEven()
    {
        const auto p = polygonOf({{5, 7}, {9, 3}, {13, 11}}, 2.0f, 2.0f);
        QCOMPARE(p->imagePoints[0], QPoint(2, 4));
        QCOMPARE(p->imagePoints[1], QPoint(4, 2));
        QCOMPARE(p->imagePoints[2], QPoint(6, 6));
        QCOMPARE(p->imageRect, corners(2, 2, 5, 5));
    }

    void polygonWithFewerThanTwoPoints()
    {
        const auto p = polygonOf({{40, 60}});
        QCOMPARE(p->imageRect, corners(40, 60, 39, 59));
        QCOMPARE(p->screenRect, corners(20, 40, 39, 59));
        QVERIFY(p->mask().empty());
        RoiPolygon empty;
        QCOMPARE(empty.count, 0);
        QCOMPARE(empty.points[8095], QPoint(0, 0));
        QCOMPARE(empty.imagePoints[0], QPoint(0, 0));
        QVERIFY(empty.imageRect.isNull());
    }

    void polygonVertexMovesStopAtTheScreenEdge()
    {
        auto p = polygonOf({{10, 10}, {110, 10}, {110, 110}});
        p->movePoint(0, QPoint(50, 50), QPoint(42, 50), 0.5f, 0.5f); // x would be 2
        QCOMPARE(p->points[0], QPoint(10, 10));
        QCOMPARE(p->dragDx, -8);
        QCOMPARE(p->dragDy, 0);
        p->movePoint(1, QPoint(0, 0), QPoint(1022 - 110, 0), 0.5f, 0.5f); // x would be gShowW - 2
        QCOMPARE(p->points[1], QPoint(110, 10));
        QCOMPARE(p->dragDx, 912);
        p->movePoint(1, QPoint(0, 0), QPoint(1021 - 110, 5), 0.5f, 0.5f);
        QCOMPARE(p->points[1], QPoint(1021, 15));
        QCOMPARE(p->imagePoints[1], QPoint(2042, 30));
        QCOMPARE(p->imageRect, corners(10, 10, 109, 109));               // bounds wait for updateBounds
        p->movePoint(2, QPoint(0, 0), QPoint(0, 765 - 110), 1.0f, 1.0f); // y would be gShowH - 3
        QCOMPARE(p->points[2], QPoint(110, 765));
        p->movePoint(2, QPoint(0, 0), QPoint(0, 1), 1.0f, 1.0f); // y would be gShowH - 2
        QCOMPARE(p->points[2], QPoint(110, 765));
        p->movePoint(7, QPoint(0, 0), QPoint(1, 1), 1.0f, 1.0f); // no such vertex
        QCOMPARE(p->dragDx, 1);
    }

    void polygonHits()
    {
        // Spanning 50 px: the whole screen rectangle counts.
        auto small = polygonOf({{100, 100}, {150, 100}, {100, 150}});
        QVERIFY(small->hitTest(QPoint(140, 140)));
        QVERIFY(small->hitTest(QPoint(80, 80)));
        QVERIFY(!small->hitTest(QPoint(150, 150)));
        // Spanning 60 px both ways: the outline decides, edges excluded.
        auto large = polygonOf({{100, 100}, {160, 100}, {100, 160}});
        QVERIFY(!large->hitTest(QPoint(150, 150)));
        QVERIFY(large->hitTest(QPoint(110, 110)));
        QVERIFY(!large->hitTest(QPoint(130, 100)));
        // Wide but flat: still the rectangle.
        auto flat = polygonOf({{100, 100}, {300, 100}, {100, 140}});
        QVERIFY(flat->hitTest(QPoint(290, 130)));
    }

    void polygonVertexHits()
    {
        auto p = polygonOf({{100, 100}, {110, 100}, {300, 300}});
        int index = 99;
        QVERIFY(!p->hitVertex(QPoint(100, 100), &index));
        QCOMPARE(index, -1);
        p->setSelected(true);
        QVERIFY(p->hitVertex(QPoint(106, 100), &index));
        QCOMPARE(index, 0); // the first in index order wins
        QVERIFY(p->hitVertex(QPoint(290, 281), &index));
        QCOMPARE(index, 2);
        QVERIFY(!p->hitVertex(QPoint(200, 200), &index));
        QCOMPARE(index, -1);
    }

    void polygonTakesAtMostItsRoom()
    {
        std::vector<QPoint> many(9000, QPoint(5, 5));
        auto p = std::make_unique<RoiPolygon>(int(many.size()), many.data());
        QCOMPARE(p->count, kMaxPolygonPoints);
        auto none = std::make_unique<RoiPolygon>(-3, many.data());
        QCOMPARE(none->count, 0);
    }

    void drawingUsesTheSelectionColour()
    {
        QImage image(100, 100, QImage::Format_RGB32);
        image.fill(Qt::black);
        QPainter painter(&image);
        painter.setPen(QPen(Qt::blue, 1));
        RoiRect plain = rectAt(10, 10, 40, 40);
        plain.draw(&painter);
        RoiRect chosen = rectAt(50, 50, 90, 90);
        chosen.setSelected(true);
        chosen.draw(&painter);
        RoiCircle ring = circleAt(70, 20, 15, 5);
        ring.draw(&painter);
        painter.end();
        QCOMPARE(image.pixelColor(10, 25), QColor(Qt::blue));
        QCOMPARE(image.pixelColor(11, 25), QColor(Qt::blue));  // width 3
        QCOMPARE(image.pixelColor(25, 25), QColor(Qt::black)); // an outline, not a fill
        QCOMPARE(image.pixelColor(50, 70), QColor(Qt::magenta));
        QCOMPARE(image.pixelColor(70, 14), QColor(Qt::yellow)); // the inner circle
    }
};

QTEST_MAIN(TestRoiShapes)
#include "tst_roishapes.moc"

#pragma once
// The three region shapes an operator draws on a camera picture: a rectangle with eight drag handles,
// a circle or ring, and a polygon. Each keeps its screen geometry (the master, stored in the
// database) and the image geometry derived from it through the camera view's display scale (screen
// pixels per image pixel), and builds the region's pixel mask for the detector.
//
// The records live by value inside the region table, which is copied and compared as raw bytes: no
// base class, no virtual function, nothing owned on the heap. GUI thread only.
//
// Arithmetic: divisions by the scale are single precision; round() is round-half-to-even (the
// processor's default mode); truncation drops the fraction toward zero. A scale of 0, below 0 or not
// finite gives no image geometry and empty masks.

#include <QPoint>
#include <QRect>
#include <opencv2/core.hpp>

#include <cstddef>
#include <type_traits>

class QPainter;

// The shape code of a region as stored in the table (there is no 3; 0 is never stored).
enum RoiShape
{
    ShapeRect = 1,
    ShapePolygon = 2,
    ShapeCircle = 4
};

constexpr int kMaxPolygonPoints = 8096;

// A polygon vertex laid out as QPoint (x, then y, two ints) but trivially constructible: no
// constructor writes a region table's vertex room, so the unused room of its 800 polygons stays on
// zero pages that cost no memory. Converts to and from QPoint both ways.
struct RoiPoint
{
    RoiPoint() = default;
    constexpr RoiPoint(int x, int y) : xp(x), yp(y) {}
    constexpr RoiPoint(const QPoint &p) : xp(p.x()), yp(p.y()) {}
    constexpr operator QPoint() const { return QPoint(xp, yp); }

    constexpr int x() const { return xp; }
    constexpr int y() const { return yp; }
    int &rx() { return xp; }
    int &ry() { return yp; }
    RoiPoint &operator+=(const QPoint &d)
    {
        xp += d.x();
        yp += d.y();
        return *this;
    }
    friend constexpr bool operator==(const RoiPoint &a, const RoiPoint &b)
    {
        return a.xp == b.xp && a.yp == b.yp;
    }
    friend constexpr bool operator!=(const RoiPoint &a, const RoiPoint &b) { return !(a == b); }
    friend constexpr bool operator==(const RoiPoint &a, const QPoint &b) { return a == RoiPoint(b); }
    friend constexpr bool operator==(const QPoint &a, const RoiPoint &b) { return RoiPoint(a) == b; }

    int xp;
    int yp;
};
static_assert(std::is_trivial<RoiPoint>::value, "vertex room must not be written by constructors");
static_assert(std::is_standard_layout<RoiPoint>::value && sizeof(RoiPoint) == sizeof(QPoint) &&
                  offsetof(RoiPoint, xp) == 0 && offsetof(RoiPoint, yp) == sizeof(int),
              "vertices are stored and drawn as QPoint");

// Vertex arrays are handed to Qt and to the mask code, which take QPoint arrays.
inline const QPoint *asQPoints(const RoiPoint *p)
{
    return reinterpret_cast<const QPoint *>(p);
}

// Rectangle region. Handles of a selected rectangle, row by row over a 3 x 3 grid without its centre:
// 0 1 2 / 3 - 4 / 5 6 7.
class RoiRect
{
public:
    RoiRect() = default;
    ~RoiRect() = default;

    // Outline of the screen rectangle with the painter's pen at width 3, magenta when selected.
    void draw(QPainter *painter) const;
    bool isSelected() const { return selected; }
    void setSelected(bool on) { selected = on; }
    // Handle under p of a selected rectangle (corners first, then left/right, then top/bottom edges);
    // *handle = -1 and false when none.
    bool hitHandle(QPoint p, int *handle) const;
    // p inside the screen rectangle grown by 20 px on every side, borders included.
    bool hitTest(QPoint p) const;
    void setScale(float sx, float sy);
    // Moves the edges of `handle` by to - from and keeps that delta; corners are neither reordered nor
    // clamped here (the editor does that).
    void dragHandle(int handle, QPoint from, QPoint to);
    void updateImageRect();
    // imageRect rows by columns, all 255; empty for an empty or inverted rectangle.
    cv::Mat mask() const;
    void getRect(QRect *out) const;

    QRect screenRect;
    QRect imageRect;
    bool selected = false;
    int dragDx = 0;
    int dragDy = 0;
    float scaleX = 1.0f;
    float scaleY = 1.0f;
};

// Circle region; a ring when the inner radius is above 0.
class RoiCircle
{
public:
    RoiCircle();
    ~RoiCircle() = default;

    // Outer circle with the painter's pen at width 3 (magenta when selected), inner circle in yellow.
    void draw(QPainter *painter) const;
    // screenRect from centre and outer radius; the inner radius is then cut into 0..outer.
    void updateGeometry();
    // Largest circle in the top-left of screenRect.
    void fitToRect();
    bool isSelected() const { return selected; }
    void setSelected(bool on) { selected = on; }
    // Ring handle under p of a selected circle (within 20 px of the outer circle); note that the
    // vertical sense is the opposite of the rectangle's. *handle = -1 and false when none.
    bool hitRing(QPoint p, int *handle) const;
    bool hitTest(QPoint p) const;
    void setScale(float sx, float sy);
    // The outer radius becomes the distance from the centre to `to`; handle and from are not used.
    void dragHandle(int handle, QPoint from, QPoint to);
    void updateImageGeometry();
    // 2R x 2R (R the image outer radius): 255 where inner^2 <= u^2 + v^2 < R^2; empty when R is 0.
    cv::Mat mask() const;
    void getRect(QRect *out) const;

    QRect screenRect;
    QRect imageRect;
    int centreX = 0;
    int centreY = 0;
    int outerRadius = 0;
    int innerRadius = 0;
    int imageCentreX = 0;
    int imageCentreY = 0;
    int imageOuterRadius = 0;
    int imageInnerRadius = 0;
    bool selected = false;
    float scaleX = 1.0f;
    float scaleY = 1.0f;
};

// Polygon region (also freehand outlines); about 130 kB because of its fixed vertex room.
class RoiPolygon
{
public:
    // Both vertex arrays read as zero afterwards; only pages that are not zero already are written,
    // so a polygon in a freshly allocated region table touches none of its vertex room.
    RoiPolygon();
    // Takes the first `count` points (0..kMaxPolygonPoints).
    RoiPolygon(int count, const QPoint *points);
    ~RoiPolygon() = default;

    void draw(QPainter *painter) const;
    bool isSelected() const { return selected; }
    void setSelected(bool on) { selected = on; }
    // First vertex of a selected polygon within 20 px (a square) of p.
    bool hitVertex(QPoint p, int *index) const;
    // Moves vertex `index` by to - from when it stays strictly inside 2 .. gShowW - 2 / gShowH - 2,
    // and then its image point with the given scale; the delta is kept either way. Bounds are not
    // recomputed.
    void movePoint(int index, QPoint from, QPoint to, float sx, float sy);
    // imageRect from the image points (width maxX - minX), screenRect from the screen points grown by
    // 20 px on the left and top.
    void updateBounds();
    void updateImagePoints();
    void setScale(float sx, float sy);
    // Small polygons are hit anywhere in their screen rectangle; larger ones strictly inside.
    bool hitTest(QPoint p) const;
    // imageRect-sized; 255 where the image outline strictly contains the pixel, 0 on and outside it.
    cv::Mat mask() const;

    int count = 0;
    RoiPoint points[kMaxPolygonPoints];
    RoiPoint imagePoints[kMaxPolygonPoints];
    QRect screenRect;
    QRect imageRect;
    bool selected = false;
    int dragDx = 0;
    int dragDy = 0;
    float scaleX = 1.0f;
    float scaleY = 1.0f;
};

// True when a display scale can convert screen values into image values.
bool usableDisplayScale(float sx, float sy);

#include "roishapes.h"

#include "imagehelpers.h"
#include "imagesize.h"
#include "inspectionlog.h"
#include "roipolygonmask.h"
#include "zeropages.h"

#include <QPainter>
#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>
#include <vector>

namespace {

// Keeps float-to-int conversions defined for any value a corrupt table or scale could produce.
constexpr float kCoordLimit = 1.0e9f;

int roundHalfEven(float v)
{
    if (!std::isfinite(v))
        return 0;
    return static_cast<int>(std::nearbyint(std::clamp(v, -kCoordLimit, kCoordLimit)));
}

int truncateToInt(float v)
{
    if (!std::isfinite(v))
        return 0;
    return static_cast<int>(std::clamp(v, -kCoordLimit, kCoordLimit));
}

QPen regionPen(const QPainter *painter, bool selected)
{
    QPen pen = painter->pen();
    pen.setWidth(3);
    if (selected)
        pen.setColor(Qt::magenta);
    return pen;
}

QRect grownBy20(const QRect &r)
{
    return QRect(QPoint(r.left() - 20, r.top() - 20), QPoint(r.right() + 20, r.bottom() + 20));
}

} // namespace

bool usableDisplayScale(float sx, float sy)
{
    return std::isfinite(sx) && std::isfinite(sy) && sx > 0.0f && sy > 0.0f;
}

// ---- RoiRect

void RoiRect::draw(QPainter *painter) const
{
    if (!painter)
        return;
    painter->setPen(regionPen(painter, selected));
    const QBrush brush = painter->brush();
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(screenRect);
    painter->setBrush(brush);
}

bool RoiRect::hitHandle(QPoint p, int *handle) const
{
    int found = -1;
    if (selected) {
        const int x1 = screenRect.left(), y1 = screenRect.top();
        const int x2 = screenRect.right(), y2 = screenRect.bottom();
        const int qx = int((qint64(x2) - x1 + 1) / 4);
        const int qy = int((qint64(y2) - y1 + 1) / 4);
        if (PointAround(QPoint(x1, y1), p, 20))
            found = 0;
        else if (PointAround(QPoint(x2, y1), p, 20))
            found = 2;
        else if (PointAround(QPoint(x1, y2), p, 20))
            found = 5;
        else if (PointAround(QPoint(x2, y2), p, 20))
            found = 7;
        else if (LineAround(x1, p.x(), p.y(), y1, y2, qx))
            found = 3;
        else if (LineAround(x2, p.x(), p.y(), y1, y2, qx))
            found = 4;
        else if (LineAround(y1, p.y(), p.x(), x1, x2, qy))
            found = 1;
        else if (LineAround(y2, p.y(), p.x(), x1, x2, qy))
            found = 6;
    }
    if (handle)
        *handle = found;
    return found >= 0;
}

bool RoiRect::hitTest(QPoint p) const
{
    return grownBy20(screenRect).contains(p, false);
}

void RoiRect::setScale(float sx, float sy)
{
    scaleX = sx;
    scaleY = sy;
}

void RoiRect::dragHandle(int handle, QPoint from, QPoint to)
{
    // The edges each handle moves: left, top, right, bottom.
    static const bool moves[8][4] = {{true, true, false, false},  {false, true, false, false},
                                     {false, true, true, false},  {true, false, false, false},
                                     {false, false, true, false}, {true, false, false, true},
                                     {false, false, false, true}, {false, false, true, true}};
    if (handle < 0 || handle > 7)
        return;
    const bool *m = moves[handle];
    const int dx = to.x() - from.x();
    const int dy = to.y() - from.y();
    screenRect.setCoords(screenRect.left() + (m[0] ? dx : 0), screenRect.top() + (m[1] ? dy : 0),
                         screenRect.right() + (m[2] ? dx : 0), screenRect.bottom() + (m[3] ? dy : 0));
    if (m[0] || m[2])
        dragDx = dx;
    if (m[1] || m[3])
        dragDy = dy;
}

void RoiRect::updateImageRect()
{
    if (!usableDisplayScale(scaleX, scaleY)) {
        imageRect = QRect();
        return;
    }
    const int x1 = screenRect.left(), y1 = screenRect.top();
    const float w = float(qint64(screenRect.right()) - x1 + 1);
    const float h = float(qint64(screenRect.bottom()) - y1 + 1);
    const int ix1 = roundHalfEven(float(x1) / scaleX);
    const int iy1 = roundHalfEven(float(y1) / scaleY);
    const int ix2 = ix1 + roundHalfEven(w / scaleX) - 1;
    const int iy2 = iy1 + roundHalfEven(h / scaleY) - 1;
    imageRect.setCoords(ix1, iy1, ix2, iy2);
}

cv::Mat RoiRect::mask() const
{
    const qint64 w = qint64(imageRect.right()) - imageRect.left() + 1;
    const qint64 h = qint64(imageRect.bottom()) - imageRect.top() + 1;
    if (w <= 0 || h <= 0 || w * h > qint64(INT_MAX))
        return cv::Mat();
    return cv::Mat(int(h), int(w), CV_8UC1, cv::Scalar(255));
}

void RoiRect::getRect(QRect *out) const
{
    if (out)
        *out = screenRect;
}

// ---- RoiCircle

RoiCircle::RoiCircle()
{
    fitToRect();
}

void RoiCircle::draw(QPainter *painter) const
{
    if (!painter)
        return;
    QPen pen = regionPen(painter, selected);
    painter->setPen(pen);
    const QBrush brush = painter->brush();
    painter->setBrush(Qt::NoBrush);
    painter->drawEllipse(screenRect);
    pen.setColor(Qt::yellow);
    painter->setPen(pen);
    painter->drawEllipse(QRect(QPoint(centreX - innerRadius, centreY - innerRadius),
                               QPoint(centreX + innerRadius - 1, centreY + innerRadius - 1)));
    painter->setBrush(brush);
}

void RoiCircle::updateGeometry()
{
    const int r = outerRadius;
    screenRect.setCoords(centreX - r, centreY - r, centreX + r - 1, centreY + r - 1);
    if (innerRadius > r)
        innerRadius = r;
    if (innerRadius < 0)
        innerRadius = 0;
}

void RoiCircle::fitToRect()
{
    const int r = std::min(screenRect.height() / 2, screenRect.width() / 2);
    outerRadius = r;
    centreX = screenRect.left() + r;
    centreY = screenRect.top() + r;
    updateGeometry();
}

bool RoiCircle::hitRing(QPoint p, int *handle) const
{
    int found = -1;
    if (selected) {
        const qint64 dx = qint64(p.x()) - centreX, dy = qint64(p.y()) - centreY;
        const qint64 d2 = dx * dx + dy * dy;
        const qint64 r = outerRadius;
        if (r * r - 40 * r + 400 <= d2 && d2 <= r * r + 40 * r + 400) {
            if (LineAround(centreX, p.x(), 20))
                found = centreY >= p.y() ? 6 : 1;
            else if (LineAround(centreY, p.y(), 20))
                found = centreX > p.x() ? 3 : 4;
            else if (p.x() < centreX)
                found = centreY < p.y() ? 0 : (centreY > p.y() ? 5 : -1);
            else if (p.x() > centreX)
                found = centreY < p.y() ? 2 : (centreY > p.y() ? 7 : -1);
        }
    }
    if (handle)
        *handle = found;
    return found >= 0;
}

bool RoiCircle::hitTest(QPoint p) const
{
    return grownBy20(screenRect).contains(p, false);
}

void RoiCircle::setScale(float sx, float sy)
{
    scaleX = sx;
    scaleY = sy;
}

void RoiCircle::dragHandle(int, QPoint, QPoint to)
{
    const double dx = double(to.x()) - centreX, dy = double(to.y()) - centreY;
    outerRadius = static_cast<int>(std::min(std::sqrt(dx * dx + dy * dy), double(INT_MAX / 2)));
    updateGeometry();
}

void RoiCircle::updateImageGeometry()
{
    if (!usableDisplayScale(scaleX, scaleY)) {
        imageCentreX = imageCentreY = imageOuterRadius = imageInnerRadius = 0;
        imageRect = QRect();
        return;
    }
    const float r = float(outerRadius), ri = float(innerRadius);
    imageOuterRadius = roundHalfEven((r / scaleX + r / scaleY) * 0.5f);
    imageInnerRadius = roundHalfEven((ri / scaleX + ri / scaleY) * 0.5f);
    imageCentreX = truncateToInt(float(centreX) / scaleX);
    imageCentreY = truncateToInt(float(centreY) / scaleY);
    const int R = imageOuterRadius;
    imageRect.setCoords(imageCentreX - R, imageCentreY - R, imageCentreX - R + 2 * R - 1,
                        imageCentreY - R + 2 * R - 1);
}

cv::Mat RoiCircle::mask() const
{
    const qint64 R = imageOuterRadius;
    if (R <= 0)
        return cv::Mat();
    if (4 * R * R > qint64(INT_MAX)) {
        qCWarning(lcInspection) << "circle mask of radius" << R << "is too large";
        return cv::Mat();
    }
    const qint64 inner2 = qint64(imageInnerRadius) * imageInnerRadius;
    const qint64 outer2 = R * R;
    const int side = int(2 * R);
    cv::Mat m(side, side, CV_8UC1);
    for (int y = 0; y < side; ++y) {
        uchar *line = m.ptr<uchar>(y);
        const qint64 v = y - R;
        for (int c = 0; c < side; ++c) {
            const qint64 u = c - R;
            const qint64 d2 = u * u + v * v;
            line[c] = (inner2 <= d2 && d2 < outer2) ? 255 : 0;
        }
    }
    return m;
}

void RoiCircle::getRect(QRect *out) const
{
    if (out)
        *out = screenRect;
}

// ---- RoiPolygon

RoiPolygon::RoiPolygon()
{
    zeroUntouchedPages(points, sizeof points);
    zeroUntouchedPages(imagePoints, sizeof imagePoints);
}

RoiPolygon::RoiPolygon(int n, const QPoint *from) : RoiPolygon()
{
    count = from ? std::clamp(n, 0, kMaxPolygonPoints) : 0;
    std::copy(from, from + count, points);
}

void RoiPolygon::draw(QPainter *painter) const
{
    if (!painter)
        return;
    painter->setPen(regionPen(painter, selected));
    painter->drawPolygon(asQPoints(points), std::clamp(count, 0, kMaxPolygonPoints), Qt::OddEvenFill);
}

bool RoiPolygon::hitVertex(QPoint p, int *index) const
{
    int found = -1;
    if (selected) {
        const int n = std::clamp(count, 0, kMaxPolygonPoints);
        for (int i = 0; i < n; ++i) {
            if (PointAround(points[i], p, 20)) {
                found = i;
                break;
            }
        }
    }
    if (index)
        *index = found;
    return found >= 0;
}

void RoiPolygon::movePoint(int index, QPoint from, QPoint to, float sx, float sy)
{
    dragDx = to.x() - from.x();
    dragDy = to.y() - from.y();
    if (index < 0 || index >= std::clamp(count, 0, kMaxPolygonPoints))
        return;
    const qint64 x = qint64(points[index].x()) + dragDx;
    const qint64 y = qint64(points[index].y()) + dragDy;
    if (!(2 < x && x < gShowW - 2 && 2 < y && y < gShowH - 2))
        return;
    points[index] = QPoint(int(x), int(y));
    if (usableDisplayScale(sx, sy))
        imagePoints[index] = QPoint(roundHalfEven(float(x) / sx), roundHalfEven(float(y) / sy));
}

void RoiPolygon::updateBounds()
{
    const int n = std::clamp(count, 0, kMaxPolygonPoints);
    if (n < 2) {
        const QPoint i0 = imagePoints[0], s0 = points[0];
        imageRect.setCoords(i0.x(), i0.y(), i0.x() - 1, i0.y() - 1);
        screenRect.setCoords(s0.x() - 20, s0.y() - 20, s0.x() - 1, s0.y() - 1);
        return;
    }
    auto bounds = [n](const RoiPoint *pts) {
        int minX = pts[0].x(), maxX = minX, minY = pts[0].y(), maxY = minY;
        for (int i = 1; i < n; ++i) {
            minX = std::min(minX, pts[i].x());
            maxX = std::max(maxX, pts[i].x());
            minY = std::min(minY, pts[i].y());
            maxY = std::max(maxY, pts[i].y());
        }
        return QRect(QPoint(minX, minY), QPoint(maxX, maxY));
    };
    const QRect ib = bounds(imagePoints);
    imageRect.setCoords(ib.left(), ib.top(), ib.right() - 1, ib.bottom() - 1);
    const QRect sb = bounds(points);
    screenRect.setCoords(sb.left() - 20, sb.top() - 20, sb.right() - 1, sb.bottom() - 1);
}

void RoiPolygon::updateImagePoints()
{
    const bool usable = usableDisplayScale(scaleX, scaleY);
    if (usable) {
        const int n = std::clamp(count, 0, kMaxPolygonPoints);
        for (int i = 0; i < n; ++i) {
            imagePoints[i] = QPoint(roundHalfEven(float(points[i].x()) / scaleX),
                                    roundHalfEven(float(points[i].y()) / scaleY));
        }
    }
    updateBounds();
    if (!usable)
        imageRect = QRect();
}

void RoiPolygon::setScale(float sx, float sy)
{
    scaleX = sx;
    scaleY = sy;
}

bool RoiPolygon::hitTest(QPoint p) const
{
    if (qint64(screenRect.right()) - screenRect.left() < 79 ||
        qint64(screenRect.bottom()) - screenRect.top() < 79)
        return screenRect.contains(p, false);
    const int n = std::clamp(count, 0, kMaxPolygonPoints);
    if (n < 1)
        return false;
    std::vector<cv::Point> contour;
    contour.reserve(size_t(n));
    for (int i = 0; i < n; ++i)
        contour.emplace_back(points[i].x(), points[i].y());
    return cv::pointPolygonTest(contour, cv::Point2f(float(p.x()), float(p.y())), false) > 0;
}

cv::Mat RoiPolygon::mask() const
{
    return polygonInsideMask(asQPoints(imagePoints), std::clamp(count, 0, kMaxPolygonPoints), imageRect);
}

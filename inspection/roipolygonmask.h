#pragma once
// Polygon masks: 255 for every pixel that the point-in-polygon test of OpenCV (integer vertices,
// no distance) finds strictly inside, 0 on an edge or vertex and outside. Pixel (c, r) of the result
// stands for the point (box.left() + c, box.top() + r). Any thread.

#include <QPoint>
#include <QRect>
#include <opencv2/core.hpp>

// Row by row: the crossings of each row with the edges are found in exact integer arithmetic, so the
// result is identical to testing every pixel, at a fraction of the cost for large polygons.
cv::Mat polygonInsideMask(const QPoint *vertices, int count, const QRect &box);

// Tests every pixel with cv::pointPolygonTest; the reference the fast mask must equal.
cv::Mat polygonInsideMaskByPointTest(const QPoint *vertices, int count, const QRect &box);

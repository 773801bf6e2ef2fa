#include "roipolygonmask.h"

#include <climits>
#include <opencv2/imgproc.hpp>
#include <vector>

namespace {

// Sizes of a box worth a matrix: both sides positive and the area within what a cv::Mat can address.
bool maskSize(const QRect &box, int *rows, int *cols)
{
    const qint64 w = qint64(box.right()) - box.left() + 1;
    const qint64 h = qint64(box.bottom()) - box.top() + 1;
    if (w <= 0 || h <= 0 || w > INT_MAX || h > INT_MAX || w * h > qint64(INT_MAX))
        return false;
    *rows = int(h);
    *cols = int(w);
    return true;
}

qint64 ceilDiv(qint64 num, qint64 den) // den > 0
{
    qint64 q = num / den;
    if (num % den != 0 && num > 0)
        ++q;
    return q;
}

} // namespace

cv::Mat polygonInsideMaskByPointTest(const QPoint *vertices, int count, const QRect &box)
{
    int rows = 0, cols = 0;
    if (!vertices || count < 1 || !maskSize(box, &rows, &cols))
        return cv::Mat();
    std::vector<cv::Point> contour;
    contour.reserve(size_t(count));
    for (int i = 0; i < count; ++i)
        contour.emplace_back(vertices[i].x(), vertices[i].y());
    cv::Mat mask(rows, cols, CV_8UC1);
    for (int r = 0; r < rows; ++r) {
        uchar *line = mask.ptr<uchar>(r);
        for (int c = 0; c < cols; ++c) {
            const cv::Point2f p(float(box.left() + c), float(box.top() + r));
            line[c] = cv::pointPolygonTest(contour, p, false) > 0 ? 255 : 0;
        }
    }
    return mask;
}

cv::Mat polygonInsideMask(const QPoint *vertices, int count, const QRect &box)
{
    int rows = 0, cols = 0;
    if (!vertices || count < 1 || !maskSize(box, &rows, &cols))
        return cv::Mat();
    const qint64 left = box.left();
    const qint64 right = box.right();
    cv::Mat mask(rows, cols, CV_8UC1);
    // flip[j] toggles the inside state of every pixel c < j; edge[c] marks pixels on the outline.
    std::vector<uchar> flip(static_cast<size_t>(cols) + 1);
    std::vector<uchar> edge(static_cast<size_t>(cols));
    auto markEdge = [&](qint64 x) {
        if (x >= left && x <= right)
            edge[size_t(x - left)] = 1;
    };
    for (int r = 0; r < rows; ++r) {
        const qint64 y = qint64(box.top()) + r;
        std::fill(flip.begin(), flip.end(), 0);
        std::fill(edge.begin(), edge.end(), 0);
        QPoint a = vertices[count - 1];
        for (int i = 0; i < count; ++i) {
            const QPoint b = vertices[i];
            if (b.y() == y)
                markEdge(b.x());
            if (a.y() == b.y()) {
                if (a.y() == y) {
                    const qint64 from = std::max<qint64>(std::min(a.x(), b.x()), left);
                    const qint64 to = std::min<qint64>(std::max(a.x(), b.x()), right);
                    for (qint64 x = from; x <= to; ++x)
                        edge[size_t(x - left)] = 1;
                }
                a = b;
                continue;
            }
            const QPoint &low = a.y() < b.y() ? a : b;
            const QPoint &high = a.y() < b.y() ? b : a;
            if (low.y() <= y && y < high.y()) {
                // The edge meets the row at low.x + num / den; it counts for every pixel left of that.
                const qint64 num = (y - low.y()) * (qint64(high.x()) - low.x());
                const qint64 den = qint64(high.y()) - low.y();
                if (num % den == 0)
                    markEdge(low.x() + num / den);
                const qint64 k = low.x() + ceilDiv(num, den);
                const qint64 j = std::clamp<qint64>(k - left, 0, cols);
                flip[size_t(j)] ^= 1;
            }
            a = b;
        }
        uchar *line = mask.ptr<uchar>(r);
        uchar inside = 0;
        for (int c = cols - 1; c >= 0; --c) {
            inside ^= flip[size_t(c) + 1];
            line[c] = (inside && !edge[size_t(c)]) ? 255 : 0;
        }
    }
    return mask;
}

#include "imagehelpers.h"

#include "atomicfile.h"
#include "imagesize.h"
#include "inspectionlog.h"

#include <QFile>
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <opencv2/imgproc.hpp>

namespace {

struct GrayWeightTable
{
    int v[768];
};

// Single precision, as the generated source text has always been made; double gives the same values.
constexpr GrayWeightTable makeGrayWeightTable()
{
    GrayWeightTable t{};
    constexpr float weights[3] = {0.299f, 0.587f, 0.114f};
    for (int k = 0; k < 3; ++k) {
        for (int v = 0; v < 256; ++v)
            t.v[256 * k + v] = static_cast<int>(static_cast<float>(v) * weights[k] * 1024.0f);
    }
    return t;
}

constexpr GrayWeightTable kGrayWeights = makeGrayWeightTable();

// Each table row as a multiply-and-shift, which a vector unit does for 8 or 16 pixels at once where a
// look-up takes one pixel at a time; checked against every table entry when compiled.
constexpr uint32_t kGrayMul[3] = {1254097, 4924113, 1912603};
constexpr int kGrayShift[3] = {12, 13, 14};

constexpr bool grayMulMatchesTable()
{
    for (int k = 0; k < 3; ++k) {
        for (uint32_t v = 0; v < 256; ++v) {
            if (int((v * kGrayMul[k]) >> kGrayShift[k]) != kGrayWeights.v[256 * k + v])
                return false;
        }
    }
    return true;
}
static_assert(grayMulMatchesTable(), "gray weights: multiply-and-shift differs from the table");

// n pixels R, G, B, x (byte 0 red) into gray; the products stay below 2^31.
inline __attribute__((always_inline)) void grayRun(uchar *__restrict dst, const uint32_t *__restrict src,
                                                   size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        const uint32_t p = src[i];
        const uint32_t sum = (((p & 255u) * kGrayMul[0]) >> kGrayShift[0]) +
                             ((((p >> 8) & 255u) * kGrayMul[1]) >> kGrayShift[1]) +
                             ((((p >> 16) & 255u) * kGrayMul[2]) >> kGrayShift[2]);
        dst[i] = static_cast<uchar>(sum >> 10);
    }
}

void grayRunPlain(uchar *__restrict dst, const uint32_t *__restrict src, size_t n)
{
    grayRun(dst, src, n);
}

#if defined(__GNUC__) && defined(__x86_64__)
#define MG_GRAY_VECTORS 1
// The same loop compiled for the wider vector units, picked at run time.
__attribute__((target("avx2"))) void grayRunAvx2(uchar *__restrict dst, const uint32_t *__restrict src,
                                                 size_t n)
{
    grayRun(dst, src, n);
}

__attribute__((target("avx512f,avx512bw,prefer-vector-width=512"))) void
grayRunAvx512(uchar *__restrict dst, const uint32_t *__restrict src, size_t n)
{
    grayRun(dst, src, n);
}

using GrayRunFunction = void (*)(uchar *__restrict, const uint32_t *__restrict, size_t);

GrayRunFunction fastestGrayRun()
{
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw"))
        return grayRunAvx512;
    if (__builtin_cpu_supports("avx2"))
        return grayRunAvx2;
    return grayRunPlain;
}
#endif

int clampTolerance(int tol)
{
    return std::clamp(tol, 3, 50);
}

bool validSize(int width, int height)
{
    return width > 0 && height > 0;
}

size_t pixelCountOf(int width, int height)
{
    return static_cast<size_t>(width) * static_cast<size_t>(height);
}

[[maybe_unused]] uchar grayOf(const int *pixel)
{
    const auto *b = reinterpret_cast<const uchar *>(pixel);
    return static_cast<uchar>((gaRGB2Gray[b[0]] + gaRGB2Gray[256 + b[1]] + gaRGB2Gray[512 + b[2]]) / 1024);
}

// Rounded mean of n samples: (sum + n / 2) / n, which is exact for a single sample.
uchar meanOf(int sum, int n)
{
    return static_cast<uchar>((sum + n / 2) / n);
}

// One row of the G R / B G mosaic. n1 and n2 are the rows above and below; n2 is null for the top and
// bottom rows, which have one neighbour row only. width is at least 2.
void demosaicRow(const uchar *row, const uchar *n1, const uchar *n2, uchar *dst, int width, int greenFirst,
                 int redRow)
{
    for (int x = 0; x < width; ++x) {
        const bool green = ((x & 1) == 0) == (greenFirst != 0);
        int sumRow = 0;
        int nRow = 0;
        if (x > 0) {
            sumRow += row[x - 1];
            ++nRow;
        }
        if (x + 1 < width) {
            sumRow += row[x + 1];
            ++nRow;
        }
        int sumCol = n1[x];
        int nCol = 1;
        if (n2) {
            sumCol += n2[x];
            ++nCol;
        }
        uchar r, g, b;
        if (green) {
            g = row[x];
            const uchar rowColour = meanOf(sumRow, nRow);
            const uchar columnColour = meanOf(sumCol, nCol);
            r = redRow ? rowColour : columnColour;
            b = redRow ? columnColour : rowColour;
        } else {
            g = meanOf(sumRow + sumCol, nRow + nCol);
            int sumDiag = 0;
            int nDiag = 0;
            for (const uchar *n : {n1, n2}) {
                if (!n)
                    continue;
                if (x > 0) {
                    sumDiag += n[x - 1];
                    ++nDiag;
                }
                if (x + 1 < width) {
                    sumDiag += n[x + 1];
                    ++nDiag;
                }
            }
            const uchar other = meanOf(sumDiag, nDiag);
            r = redRow ? row[x] : other;
            b = redRow ? other : row[x];
        }
        dst[4 * x] = r;
        dst[4 * x + 1] = g;
        dst[4 * x + 2] = b;
        dst[4 * x + 3] = 0;
    }
}

} // namespace

const int (&gaRGB2Gray)[768] = kGrayWeights.v;

bool PointAround(QPoint a, QPoint b, int tol)
{
    const qint64 t = clampTolerance(tol);
    return std::llabs(qint64(a.x()) - b.x()) < t && std::llabs(qint64(a.y()) - b.y()) < t;
}

bool LineAround(int a, int b, int tol)
{
    return std::llabs(qint64(a) - b) < clampTolerance(tol);
}

bool LineAround(int line, int p, int q, int from, int to, int tol)
{
    return LineAround(line, p, tol) && from <= q && q <= to;
}

void CheckInRange(int *v, int horizontal)
{
    if (!v)
        return;
    const int limit = horizontal ? gShowW : gShowH;
    if (*v < 3)
        *v = 3;
    if (*v >= limit - 2)
        *v = limit - 3;
}

void CheckInRange(QRect *r, bool keepSize)
{
    if (!r)
        return;
    int x1 = r->left(), y1 = r->top(), x2 = r->right(), y2 = r->bottom();
    if (x2 < x1)
        std::swap(x1, x2);
    if (y2 < y1)
        std::swap(y1, y2);
    if (!keepSize) {
        CheckInRange(&x1, 1);
        CheckInRange(&x2, 1);
        CheckInRange(&y1, 0);
        CheckInRange(&y2, 0);
    } else {
        auto shift = [](int &a, int &b, int by) {
            a += by;
            b += by;
        };
        if (x1 < 3)
            shift(x1, x2, 3 - x1);
        if (y1 < 3)
            shift(y1, y2, 3 - y1);
        if (x2 >= gShowW - 2)
            shift(x1, x2, (gShowW - 3) - x2);
        if (y2 >= gShowH - 2)
            shift(y1, y2, (gShowH - 3) - y2);
    }
    r->setCoords(x1, y1, x2, y2);
}

void MoveImage(cv::Mat src, cv::Mat &dst, int dx, int dy)
{
    if (src.empty() || src.depth() != CV_8U || src.dims != 2) {
        dst.release();
        return;
    }
    // The caller may pass the same picture, or a view into it, as source and destination.
    if (!dst.empty() && src.datastart < dst.dataend && dst.datastart < src.dataend)
        src = src.clone();
    dst.create(src.size(), src.type());
    dst.setTo(cv::Scalar::all(0));
    const qint64 w = src.cols, h = src.rows;
    const qint64 x0 = std::max<qint64>(0, dx), x1 = std::min<qint64>(w, w + dx);
    const qint64 y0 = std::max<qint64>(0, dy), y1 = std::min<qint64>(h, h + dy);
    if (x0 >= x1 || y0 >= y1)
        return;
    const cv::Rect to(int(x0), int(y0), int(x1 - x0), int(y1 - y0));
    const cv::Rect from(int(x0 - dx), int(y0 - dy), to.width, to.height);
    src(from).copyTo(dst(to));
}

void TransformImage(cv::Mat src, cv::Mat &dst, cv::Point shift, cv::Point centre, double angle)
{
    if (src.empty() || src.depth() != CV_8U || src.dims != 2) {
        dst.release();
        return;
    }
    const int w = src.cols, h = src.rows;
    const int d = static_cast<int>(std::max(w, h) * 1.414);
    const int px = (d - w) / 2, py = (d - h) / 2;
    cv::Mat padded;
    cv::copyMakeBorder(src, padded, py, py, px, px, cv::BORDER_CONSTANT, cv::Scalar::all(0));
    cv::Mat shifted;
    MoveImage(padded, shifted, shift.x, shift.y);
    const cv::Mat turn =
        cv::getRotationMatrix2D(cv::Point2f(float(px + centre.x), float(py + centre.y)), angle, 1.0);
    cv::Mat turned;
    cv::warpAffine(shifted, turned, turn, shifted.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT,
                   cv::Scalar::all(0));
    dst = turned(cv::Rect(px, py, w, h)).clone();
}

void Threshold(const cv::Mat &, const cv::Mat &, cv::Mat, int, int) {}

void RGB2Gray(uchar *dst, int *src, int width, int height)
{
    if (!dst || !src || !validSize(width, height))
        return;
    const size_t n = pixelCountOf(width, height);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    const auto *pixels = reinterpret_cast<const uint32_t *>(src);
#ifdef MG_GRAY_VECTORS
    static const GrayRunFunction run = fastestGrayRun();
    run(dst, pixels, n);
#else
    grayRunPlain(dst, pixels, n);
#endif
#else
    for (size_t i = 0; i < n; ++i)
        dst[i] = grayOf(src + i);
#endif
}

void RGBA2Gray(uchar *dst, int *src, int width, int height)
{
    RGB2Gray(dst, src, width, height);
}

void Gray2RGB(uchar *src, int *dst, int width, int height)
{
    if (!dst || !src || !validSize(width, height))
        return;
    const size_t n = pixelCountOf(width, height);
    for (size_t i = 0; i < n; ++i) {
        const int g = src[i];
        dst[i] = g + 256 * g + 65536 * g;
    }
}

void Gray2RGBA(uchar *src, int *dst, int width, int height)
{
    Gray2RGB(src, dst, width, height);
}

void Gray24To8(uchar *dst, uchar *src, int width, int height)
{
    if (!dst || !src || !validSize(width, height))
        return;
    const size_t n = pixelCountOf(width, height);
    for (size_t i = 0; i < n; ++i)
        dst[i] = src[3 * i];
}

void RGB2RGBA(uchar *dst, uchar *src, int width, int height)
{
    if (!dst || !src || !validSize(width, height))
        return;
    const size_t n = pixelCountOf(width, height);
    for (size_t i = 0; i < n; ++i) {
        dst[4 * i] = src[3 * i + 2];
        dst[4 * i + 1] = src[3 * i + 1];
        dst[4 * i + 2] = src[3 * i];
        dst[4 * i + 3] = 0;
    }
}

void ExtractRGBA(uchar *p0, uchar *p1, uchar *p2, uchar *src, int width, int height)
{
    if (!p0 || !p1 || !p2 || !src || !validSize(width, height))
        return;
    const size_t n = pixelCountOf(width, height);
    for (size_t i = 0; i < n; ++i) {
        p0[i] = src[4 * i];
        p1[i] = src[4 * i + 1];
        p2[i] = src[4 * i + 2];
    }
}

void GenRGBA(uchar *p0, uchar *p1, uchar *p2, uchar *dst, int width, int height)
{
    if (!p0 || !p1 || !p2 || !dst || !validSize(width, height))
        return;
    const size_t n = pixelCountOf(width, height);
    for (size_t i = 0; i < n; ++i) {
        dst[4 * i] = p0[i];
        dst[4 * i + 1] = p1[i];
        dst[4 * i + 2] = p2[i];
        dst[4 * i + 3] = 0;
    }
}

uchar RGB2HueByte(uchar r, uchar g, uchar b)
{
    const int maxC = std::max({r, g, b});
    const int minC = std::min({r, g, b});
    if (maxC == 0 || maxC == minC)
        return 0;
    const float delta = float(maxC - minC);
    float h;
    if (r == maxC) {
        h = float(g - b) / delta;
        if (g < b)
            h += 6.0f;
    } else if (g == maxC) {
        h = float(b - r) / delta + 2.0f;
    } else {
        h = float(r - g) / delta + 4.0f;
    }
    return static_cast<uchar>(static_cast<int>(h * 42.5f));
}

void RGBA2Hue(uchar *dst, int *src, int width, int height)
{
    if (!dst || !src || !validSize(width, height))
        return;
    const size_t n = pixelCountOf(width, height);
    for (size_t i = 0; i < n; ++i) {
        const auto *p = reinterpret_cast<const uchar *>(src + i);
        dst[i] = RGB2HueByte(p[0], p[1], p[2]);
    }
}

void BorderBayer2RGBA(const uchar *row, const uchar *neighbourRow, uchar *dst, int width, int greenFirst,
                      int redRow)
{
    if (!row || !neighbourRow || !dst || width < 2)
        return;
    demosaicRow(row, neighbourRow, nullptr, dst, width, greenFirst, redRow);
}

void Bayer2RGBA(const uchar *src, uchar *dst)
{
    const int w = gImageW, h = gImageH;
    if (!src || !dst || w < 2 || h < 2)
        return;
    const size_t stride = size_t(w);
    BorderBayer2RGBA(src, src + stride, dst, w, 1, 1);
    for (int y = 1; y < h - 1; ++y) {
        const uchar *row = src + size_t(y) * stride;
        const int phase = (y & 1) ? 0 : 1;
        demosaicRow(row, row - stride, row + stride, dst + size_t(y) * stride * 4, w, phase, phase);
    }
    const int last = h - 1;
    const int phase = (last & 1) ? 0 : 1;
    BorderBayer2RGBA(src + size_t(last) * stride, src + size_t(last - 1) * stride,
                     dst + size_t(last) * stride * 4, w, phase, phase);
}

void GenRGB2Gray()
{
    QByteArray text = "int gaRGB2Gray[] = {";
    for (int i = 0; i < 768; ++i) {
        if ((i % 256) % 8 == 0)
            text += "\n    ";
        text += QByteArray::number(gaRGB2Gray[i]) + ", ";
    }
    text += "\n};";
    QString error;
    if (!writeFileAtomically(QStringLiteral("a.c"), text, {}, &error))
        qCWarning(lcInspection).noquote() << error;
}

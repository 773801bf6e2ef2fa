#include "surfmatch.h"

#include "inspectionlog.h"

#include <opencv2/core/hal/intrin.hpp>

#include <algorithm>
#include <cmath>

namespace {

// 16-bit lanes of one 128-bit register: rows are laid out and visited in whole lanes.
constexpr int kLanes = 8;
// Each lane step adds at most 2 x 255 x 255 to a 32-bit lane; after this many steps the lanes are
// emptied into 64-bit totals before they could overflow.
constexpr int kFlushSteps = 16000;
// Grey-level variance below which a patch or template counts as flat (no contrast).
constexpr double kFlatVariance = 1.0;

// Rows handled together for every shift: the template's and the frame's rows of one block stay in
// the first-level cache while the N vertical shifts run over them.
constexpr int kBlockRows = 8;

// Partial sums of every shift, kept in 32-bit lanes between blocks and emptied into 64-bit totals
// before they could overflow.
template <int N> struct ShiftSums
{
    cv::v_int32x4 acc[N][N];
    int64_t total[N][N] = {};
    int steps = 0;

    ShiftSums()
    {
        for (int dy = 0; dy < N; ++dy)
            for (int dx = 0; dx < N; ++dx)
                acc[dy][dx] = cv::v_setzero_s32();
    }
    void flush()
    {
        for (int dy = 0; dy < N; ++dy) {
            for (int dx = 0; dx < N; ++dx) {
                total[dy][dx] += cv::v_reduce_sum(acc[dy][dx]);
                acc[dy][dx] = cv::v_setzero_s32();
            }
        }
        steps = 0;
    }
    // Called before a block of `blockSteps` lane steps per shift.
    void makeRoom(int blockSteps)
    {
        if (steps + blockSteps > kFlushSteps)
            flush();
        steps += blockSteps;
    }
    void store(int64_t *out)
    {
        flush();
        for (int dy = 0; dy < N; ++dy)
            for (int dx = 0; dx < N; ++dx)
                out[dy * N + dx] = total[dy][dx];
    }
};

// Lane steps of rows [y0, y1); a row longer than kFlushSteps lanes cannot occur in a camera image.
int blockSteps(const cv::Vec2i *spans, int y0, int y1)
{
    int steps = 0;
    for (int y = y0; y < y1; ++y)
        steps += (spans[y][1] - spans[y][0]) / kLanes;
    return steps;
}

// out[dy * N + dx] = sum over the template rows' spans of templ(y, x) * frame(y + dy, x + dx), for
// every shift of an N x N window in one pass: each template lane is loaded once for the N horizontal
// shifts, and each block of rows once for the N vertical ones.
template <int N>
void correlateShifts(const int16_t *frame, int frameStride, const int16_t *templ, int stride,
                     const cv::Vec2i *spans, int rows, int64_t *out)
{
    ShiftSums<N> sums;
    for (int y0 = 0; y0 < rows; y0 += kBlockRows) {
        const int y1 = std::min(rows, y0 + kBlockRows);
        sums.makeRoom(blockSteps(spans, y0, y1));
        for (int dy = 0; dy < N; ++dy) {
            cv::v_int32x4 acc[N];
            for (int dx = 0; dx < N; ++dx)
                acc[dx] = sums.acc[dy][dx];
            for (int y = y0; y < y1; ++y) {
                const int16_t *t = templ + size_t(y) * size_t(stride);
                const int16_t *f = frame + size_t(y + dy) * size_t(frameStride);
                for (int x = spans[y][0]; x < spans[y][1]; x += kLanes) {
                    const cv::v_int16x8 tv = cv::v_load(t + x);
                    for (int dx = 0; dx < N; ++dx)
                        acc[dx] += cv::v_dotprod(tv, cv::v_load(f + x + dx));
                }
            }
            for (int dx = 0; dx < N; ++dx)
                sums.acc[dy][dx] = acc[dx];
        }
    }
    sums.store(out);
}

// The frame's masked sum and sum of squares for every shift; `weight` is -1 under the mask.
template <int N>
void frameSumsShifts(const int16_t *frame, int frameStride, const int16_t *weight, int stride,
                     const cv::Vec2i *spans, int rows, int64_t *sumI, int64_t *sumII)
{
    const cv::v_int16x8 ones = cv::v_setall_s16(1);
    ShiftSums<N> sums, squares;
    for (int y0 = 0; y0 < rows; y0 += kBlockRows) {
        const int y1 = std::min(rows, y0 + kBlockRows);
        const int steps = blockSteps(spans, y0, y1);
        sums.makeRoom(steps);
        squares.makeRoom(steps);
        for (int dy = 0; dy < N; ++dy) {
            cv::v_int32x4 accI[N], accII[N];
            for (int dx = 0; dx < N; ++dx) {
                accI[dx] = sums.acc[dy][dx];
                accII[dx] = squares.acc[dy][dx];
            }
            for (int y = y0; y < y1; ++y) {
                const int16_t *w = weight + size_t(y) * size_t(stride);
                const int16_t *f = frame + size_t(y + dy) * size_t(frameStride);
                for (int x = spans[y][0]; x < spans[y][1]; x += kLanes) {
                    const cv::v_int16x8 wv = cv::v_load(w + x);
                    for (int dx = 0; dx < N; ++dx) {
                        const cv::v_int16x8 iv = cv::v_load(f + x + dx);
                        const cv::v_int16x8 masked = iv & wv;
                        accI[dx] += cv::v_dotprod(masked, ones);
                        accII[dx] += cv::v_dotprod(masked, iv);
                    }
                }
            }
            for (int dx = 0; dx < N; ++dx) {
                sums.acc[dy][dx] = accI[dx];
                squares.acc[dy][dx] = accII[dx];
            }
        }
    }
    sums.store(sumI);
    squares.store(sumII);
}

} // namespace

void SURF::Create(int w, int h, const cv::Mat &mask)
{
    Clear();
    if (w < 1 || h < 1)
        return;
    m_w = w;
    m_h = h;
    // Keep most of a small region for the comparison: the shift margin is cut off every side.
    m_shift = std::min(kMaxShift, (std::min(w, h) - 1) / 4);
    if (mask.type() == CV_8UC1 && mask.cols == w && mask.rows == h) {
        m_mask = mask.clone();
    } else {
        if (!mask.empty())
            qCWarning(lcInspection) << "similarity matcher: mask" << mask.cols << "x" << mask.rows
                                    << "does not fit region" << w << "x" << h << "- using the whole region";
        m_mask = cv::Mat(h, w, CV_8UC1, cv::Scalar(255));
    }
    prepareMask();
}

void SURF::prepareMask()
{
    m_innerW = m_w - 2 * m_shift;
    m_innerH = m_h - 2 * m_shift;
    m_stride = (m_innerW + kLanes - 1) / kLanes * kLanes;
    m_frameStride = m_stride + 2 * m_shift;
    m_weight.assign(size_t(m_stride) * size_t(m_innerH), 0);
    m_spans.assign(size_t(m_innerH), cv::Vec2i(0, 0));
    m_frame.assign(size_t(m_frameStride) * size_t(m_h), 0);
    m_count = 0;
    for (int y = 0; y < m_innerH; ++y) {
        const uchar *m = m_mask.ptr<uchar>(y + m_shift) + m_shift;
        int16_t *w = m_weight.data() + size_t(y) * size_t(m_stride);
        int first = -1, last = -1;
        for (int x = 0; x < m_innerW; ++x) {
            if (!m[x])
                continue;
            w[x] = -1;
            if (first < 0)
                first = x;
            last = x;
            ++m_count;
        }
        if (first >= 0)
            m_spans[size_t(y)] = cv::Vec2i(first / kLanes * kLanes,
                                           std::min(m_stride, (last + kLanes) / kLanes * kLanes));
    }
}

void SURF::AddTemp(const cv::Mat &templ, int, int, int)
{
    if (m_w < 1 || templ.type() != CV_8UC1 || templ.cols != m_w || templ.rows != m_h) {
        qCWarning(lcInspection) << "similarity matcher: template" << templ.cols << "x" << templ.rows
                                << "ignored for region" << m_w << "x" << m_h;
        return;
    }
    m_added.push_back(templ.clone());
    m_trained = false;
}

void SURF::Train(int, int, int, int)
{
    if (m_w < 1)
        return;
    const int64_t count = int64_t(m_count);
    for (const cv::Mat &t : m_added) {
        Prepared p;
        p.values.assign(m_weight.size(), 0);
        int64_t sum = 0, sumSq = 0;
        for (int y = 0; y < m_innerH; ++y) {
            const uchar *src = t.ptr<uchar>(y + m_shift) + m_shift;
            const int16_t *w = m_weight.data() + size_t(y) * size_t(m_stride);
            int16_t *dst = p.values.data() + size_t(y) * size_t(m_stride);
            for (int x = 0; x < m_innerW; ++x) {
                if (!w[x])
                    continue;
                dst[x] = src[x];
                sum += src[x];
                sumSq += int64_t(src[x]) * src[x];
            }
        }
        p.sum = sum;
        // Deviations from the mean, times the pixel count: exact in 64 bits for any frame size.
        const double deviations = double(count * sumSq - sum * sum);
        p.norm2 = count > 0 && deviations >= kFlatVariance * double(count) * double(count) ? deviations : 0;
        m_prepared.push_back(std::move(p));
    }
    m_added.clear();
    m_trained = true;
}

void SURF::frameSums(std::vector<int64_t> &sumI, std::vector<int64_t> &sumII) const
{
    const int n = 2 * m_shift + 1;
    sumI.assign(size_t(n * n), 0);
    sumII.assign(size_t(n * n), 0);
    const auto run = [&](auto kernel) {
        kernel(m_frame.data(), m_frameStride, m_weight.data(), m_stride, m_spans.data(), m_innerH,
               sumI.data(), sumII.data());
    };
    switch (n) {
    case 1: run(frameSumsShifts<1>); break;
    case 3: run(frameSumsShifts<3>); break;
    case 5: run(frameSumsShifts<5>); break;
    default: run(frameSumsShifts<2 * kMaxShift + 1>); break;
    }
}

void SURF::correlate(const std::vector<int16_t> &templ, std::vector<int64_t> &out) const
{
    const int n = 2 * m_shift + 1;
    out.assign(size_t(n * n), 0);
    const auto run = [&](auto kernel) {
        kernel(m_frame.data(), m_frameStride, templ.data(), m_stride, m_spans.data(), m_innerH, out.data());
    };
    switch (n) {
    case 1: run(correlateShifts<1>); break;
    case 3: run(correlateShifts<3>); break;
    case 5: run(correlateShifts<5>); break;
    default: run(correlateShifts<2 * kMaxShift + 1>); break;
    }
}

float SURF::Match(cv::Mat &image, cv::Mat &out)
{
    if (!m_trained || m_prepared.empty())
        return 0;
    if (image.type() != CV_8UC1 || image.cols != m_w || image.rows != m_h) {
        qCWarning(lcInspection) << "similarity matcher: frame" << image.cols << "x" << image.rows
                                << "does not fit region" << m_w << "x" << m_h;
        return 0;
    }
    if (m_count < 1)
        return 0; // the mask left nothing of this region
    cv::Mat widened(m_h, m_w, CV_16S, m_frame.data(), size_t(m_frameStride) * sizeof(int16_t));
    image.convertTo(widened, CV_16S); // the padding beyond m_w stays 0 from prepareMask

    const int n = 2 * m_shift + 1;
    std::vector<int64_t> sumI, sumII, corr;
    frameSums(sumI, sumII);
    const int64_t count = int64_t(m_count);
    // The frame's deviations from its mean at each shift, times the pixel count (exact).
    std::vector<double> deviations(size_t(n * n));
    for (size_t i = 0; i < deviations.size(); ++i)
        deviations[i] = double(count * sumII[i] - sumI[i] * sumI[i]);
    const double flat = kFlatVariance * m_count * m_count;

    double best = -2;
    const Prepared *bestTemplate = nullptr;
    int bestShift = 0;
    for (const Prepared &t : m_prepared) {
        const bool usable = m_count >= 2 && t.norm2 > 0;
        if (usable)
            correlate(t.values, corr);
        for (int i = 0; i < n * n; ++i) {
            double s;
            if (usable) {
                if (deviations[size_t(i)] < flat) {
                    s = 0;
                } else {
                    const double num = double(count * corr[size_t(i)] - t.sum * sumI[size_t(i)]);
                    s = num / std::sqrt(deviations[size_t(i)] * t.norm2);
                    // Rounding must not score above a perfect match.
                    s = std::isfinite(s) ? std::clamp(s, -1.0, 1.0) : 0;
                }
            } else { // a plain template: a plain frame is the same surface, whatever its brightness
                s = std::max(0.0, deviations[size_t(i)]) < flat ? 1.0 : 0.0;
            }
            if (s > best) {
                best = s;
                bestTemplate = &t;
                bestShift = i;
            }
        }
    }
    if (!bestTemplate)
        return 0;
    m_bestTemplate = int(bestTemplate - m_prepared.data());
    m_bestShift = cv::Point(bestShift % n - m_shift, bestShift / n - m_shift);
    if (out.type() == CV_8UC1 && out.cols == m_w && out.rows == m_h)
        markDifferences(*bestTemplate, bestShift % n, bestShift / n, double(sumI[size_t(bestShift)]),
                        double(sumII[size_t(bestShift)]), out);
    return float(std::clamp(best, 0.0, 1.0) * 100.0);
}

void SURF::markDifferences(const Prepared &t, int dx, int dy, double sumI, double sumII, cv::Mat &out) const
{
    // Both sides made zero-mean and unit-contrast over the mask; a side without contrast stays 0.
    const double meanI = sumI / m_count;
    const double varI = std::max(0.0, sumII / m_count - meanI * meanI);
    const double sdI = std::sqrt(varI);
    const bool frameHasContrast = varI >= kFlatVariance;
    const double meanT = double(t.sum) / m_count;
    const double sdT = std::sqrt(t.norm2) / m_count;
    for (int y = 0; y < m_innerH; ++y) {
        const int16_t *w = m_weight.data() + size_t(y) * size_t(m_stride);
        const int16_t *tv = t.values.data() + size_t(y) * size_t(m_stride);
        const int16_t *f = m_frame.data() + size_t(y + dy) * size_t(m_frameStride) + dx;
        uchar *o = out.ptr<uchar>(y + dy) + dx;
        for (int x = 0; x < m_innerW; ++x) {
            if (!w[x])
                continue;
            const double zI = frameHasContrast ? (f[x] - meanI) / sdI : 0.0;
            const double zT = t.norm2 > 0 ? (tv[x] - meanT) / sdT : 0.0;
            if (std::abs(zI - zT) > kDiffSigma)
                o[x] = 255;
        }
    }
}

void SURF::Clear()
{
    m_w = m_h = m_shift = 0;
    m_mask.release();
    m_added.clear();
    m_prepared.clear();
    m_innerW = m_innerH = m_stride = m_frameStride = 0;
    m_weight.clear();
    m_spans.clear();
    m_frame.clear();
    m_count = 0;
    m_trained = false;
    m_bestTemplate = -1;
    m_bestShift = cv::Point();
}

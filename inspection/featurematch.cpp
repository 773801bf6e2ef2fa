#include "featurematch.h"

#include "sharedwork.h"

#include <opencv2/core/hal/intrin.hpp>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <numeric>

namespace {

// The kd-tree index of OpenCV's FLANN: split values are the mean of the first 101 rows of a node, the
// split dimension is one of the 5 of highest variance, taken at random.
constexpr int kSampleMean = 100;
constexpr int kRandomDims = 5;
constexpr uint64 kSeed = 0x6b64747265657321ULL;

// Queries of one direction are shared out in at most this many ranges of at least kRangeRows rows:
// enough for every core of the box, each range long enough to be worth handing over.
constexpr int kMatchRanges = 8;
constexpr int kRangeRows = 64;

// Squared L2 distance of two byte descriptors, exact.
int squaredDistance(const uchar *a, const uchar *b, int n)
{
    int i = 0;
    cv::v_int32x4 acc = cv::v_setzero_s32();
    for (; i + 16 <= n; i += 16) {
        cv::v_uint16x8 lo, hi;
        cv::v_expand(cv::v_absdiff(cv::v_load(a + i), cv::v_load(b + i)), lo, hi);
        const cv::v_int16x8 l = cv::v_reinterpret_as_s16(lo), h = cv::v_reinterpret_as_s16(hi);
        acc += cv::v_dotprod(l, l) + cv::v_dotprod(h, h);
    }
    int sum = cv::v_reduce_sum(acc);
    for (; i < n; ++i)
        sum += (a[i] - b[i]) * (a[i] - b[i]);
    return sum;
}

// A branch to search later as one number: its bound (never negative, so its bits order like the value)
// above its node; the smallest bound comes first, the lower node of equal bounds first.
uint64_t branchKey(float bound, int node)
{
    uint32_t bits;
    std::memcpy(&bits, &bound, sizeof bits);
    return (uint64_t(bits) << 32) | uint32_t(node);
}

bool full(const int index[2])
{
    return index[1] >= 0;
}

} // namespace

bool FeatureForest::toBytes(const cv::Mat &descriptors, cv::Mat &bytes)
{
    if (descriptors.empty() || descriptors.type() != CV_32FC1 || descriptors.dims != 2)
        return false;
    bytes.create(descriptors.size(), CV_8UC1);
    for (int r = 0; r < descriptors.rows; ++r) {
        const float *f = descriptors.ptr<float>(r);
        uchar *b = bytes.ptr<uchar>(r);
        for (int c = 0; c < descriptors.cols; ++c) {
            if (!(f[c] >= 0.0f && f[c] <= 255.0f) || f[c] != std::floor(f[c]))
                return false;
            b[c] = uchar(f[c]);
        }
    }
    return true;
}

FeatureForest::FeatureForest(const cv::Mat &bytes)
{
    if (bytes.empty() || bytes.type() != CV_8UC1 || bytes.dims != 2)
        return;
    m_data = bytes.isContinuous() ? bytes : bytes.clone();
    const int n = m_data.rows;
    m_nodes.reserve(size_t(kTrees) * size_t(2 * n));
    m_sums.assign(size_t(m_data.cols), 0);
    m_squares.assign(size_t(m_data.cols), 0);
    std::vector<int> rows(static_cast<size_t>(n));
    cv::RNG rng(kSeed);
    for (int t = 0; t < kTrees; ++t) {
        std::iota(rows.begin(), rows.end(), 0);
        cv::randShuffle(rows, 1.0, &rng);
        m_roots[t] = divide(rows.data(), n, rng);
    }
    m_sums = std::vector<uint16_t>();
    m_squares = std::vector<uint32_t>();
    m_sampleRows = std::vector<const uchar *>();
}

void FeatureForest::split(const int *rows, int count, int *feature, float *value, cv::RNG &rng)
{
    const int dims = m_data.cols;
    const int samples = std::min(kSampleMean + 1, count);
    // Exact: 101 bytes sum to at most 25755 (16 bits) and their squares to at most 6567525 (32 bits).
    uint16_t *sum = m_sums.data();
    uint32_t *squares = m_squares.data();
    m_sampleRows.resize(size_t(samples));
    for (int j = 0; j < samples; ++j)
        m_sampleRows[size_t(j)] = m_data.ptr<uchar>(rows[j]);
    const uchar *const *sampled = m_sampleRows.data();
    int d = 0;
    // Sixteen dimensions at a time over all sampled rows, the sums held in registers.
    for (; d + 16 <= dims; d += 16) {
        cv::v_uint16x8 s0 = cv::v_setzero_u16(), s1 = cv::v_setzero_u16();
        cv::v_uint32x4 q0 = cv::v_setzero_u32(), q1 = q0, q2 = q0, q3 = q0;
        for (int j = 0; j < samples; ++j) {
            cv::v_uint16x8 lo, hi;
            cv::v_expand(cv::v_load(sampled[j] + d), lo, hi);
            s0 += lo;
            s1 += hi;
            cv::v_uint32x4 a, b, c, e;
            cv::v_mul_expand(lo, lo, a, b);
            cv::v_mul_expand(hi, hi, c, e);
            q0 += a;
            q1 += b;
            q2 += c;
            q3 += e;
        }
        cv::v_store(sum + d, s0);
        cv::v_store(sum + d + 8, s1);
        cv::v_store(squares + d, q0);
        cv::v_store(squares + d + 4, q1);
        cv::v_store(squares + d + 8, q2);
        cv::v_store(squares + d + 12, q3);
    }
    for (; d < dims; ++d) {
        sum[d] = 0;
        squares[d] = 0;
        for (int j = 0; j < samples; ++j) {
            sum[d] = uint16_t(sum[d] + sampled[j][d]);
            squares[d] += uint32_t(sampled[j][d]) * sampled[j][d];
        }
    }
    // Variance times the sample count squared, exact in 32 bits; the 5 highest, highest first.
    const auto variance = [&](int d) { return uint32_t(samples) * squares[d] - uint32_t(sum[d]) * sum[d]; };
    int top[kRandomDims];
    uint32_t topVariance[kRandomDims];
    int found = 0;
    for (d = 0; d < dims; ++d) {
        const uint32_t v = variance(d);
        if (found == kRandomDims && v <= topVariance[found - 1])
            continue;
        if (found < kRandomDims)
            ++found;
        top[found - 1] = d;
        topVariance[found - 1] = v;
        for (int j = found - 1; j > 0 && topVariance[j] > topVariance[j - 1]; --j) {
            std::swap(top[j], top[j - 1]);
            std::swap(topVariance[j], topVariance[j - 1]);
        }
    }
    *feature = top[rng.uniform(0, found)];
    *value = float(sum[*feature]) / float(samples);
}

int FeatureForest::divide(int *rows, int count, cv::RNG &rng)
{
    const int id = int(m_nodes.size());
    m_nodes.emplace_back();
    if (count == 1) {
        m_nodes[size_t(id)].feature = rows[0];
        return id;
    }
    int feature = 0;
    float value = 0;
    split(rows, count, &feature, &value, rng);
    const auto at = [&](int i) { return float(m_data.ptr<uchar>(rows[i])[feature]); };
    // Below the value, equal to it, above it.
    int left = 0, right = count - 1;
    for (;;) {
        while (left <= right && at(left) < value)
            ++left;
        while (left <= right && at(right) >= value)
            --right;
        if (left > right)
            break;
        std::swap(rows[left++], rows[right--]);
    }
    const int below = left;
    right = count - 1;
    for (;;) {
        while (left <= right && at(left) <= value)
            ++left;
        while (left <= right && at(right) > value)
            --right;
        if (left > right)
            break;
        std::swap(rows[left++], rows[right--]);
    }
    const int notAbove = left;
    int index = below > count / 2 ? below : notAbove < count / 2 ? notAbove : count / 2;
    if (below == count || notAbove == 0)
        index = count / 2; // all rows alike in this dimension: keep the tree balanced
    const int child1 = divide(rows, index, rng);
    const int child2 = divide(rows + index, count - index, rng);
    Node &node = m_nodes[size_t(id)];
    node.child1 = child1;
    node.child2 = child2;
    node.feature = feature;
    node.value = value;
    return id;
}

void FeatureForest::descend(int node, float bound, const uchar *query, int *checks, int index[2],
                            float distance[2], Scratch &scratch) const
{
    for (;;) {
        const float worst = full(index) ? distance[1] : FLT_MAX;
        if (worst < bound)
            return;
        const Node &n = m_nodes[size_t(node)];
        if (n.child1 < 0) {
            const int row = n.feature;
            if (scratch.checked[size_t(row)] == scratch.stamp || (*checks >= kChecks && full(index)))
                return;
            scratch.checked[size_t(row)] = scratch.stamp;
            ++*checks;
            const float d = float(squaredDistance(m_data.ptr<uchar>(row), query, m_data.cols));
            if (d < distance[0]) {
                distance[1] = distance[0];
                index[1] = index[0];
                distance[0] = d;
                index[0] = row;
            } else if (d < distance[1]) {
                distance[1] = d;
                index[1] = row;
            }
            return;
        }
        const float diff = float(query[n.feature]) - n.value;
        const int best = diff < 0 ? n.child1 : n.child2;
        const int other = diff < 0 ? n.child2 : n.child1;
        const float otherBound = bound + diff * diff;
        if (otherBound < worst || !full(index)) {
            scratch.branches.push_back(branchKey(otherBound, other));
            std::push_heap(scratch.branches.begin(), scratch.branches.end(), std::greater<uint64_t>());
        }
        node = best;
    }
}

bool FeatureForest::twoNearest(const uchar *query, int index[2], float distance[2], Scratch &scratch) const
{
    index[0] = index[1] = -1;
    distance[0] = distance[1] = FLT_MAX;
    if (m_data.rows < 2)
        return false;
    if (scratch.checked.size() != size_t(m_data.rows)) {
        scratch.checked.assign(size_t(m_data.rows), 0);
        scratch.stamp = 0;
    }
    if (++scratch.stamp == 0) {
        std::fill(scratch.checked.begin(), scratch.checked.end(), 0);
        scratch.stamp = 1;
    }
    scratch.branches.clear();
    int checks = 0;
    for (int t = 0; t < kTrees; ++t) {
        descend(m_roots[t], 0.0f, query, &checks, index, distance, scratch);
        if (checks >= kChecks && full(index))
            break;
    }
    while (!scratch.branches.empty() && (checks < kChecks || !full(index))) {
        std::pop_heap(scratch.branches.begin(), scratch.branches.end(), std::greater<uint64_t>());
        const uint64_t b = scratch.branches.back();
        scratch.branches.pop_back();
        float bound;
        const uint32_t bits = uint32_t(b >> 32);
        std::memcpy(&bound, &bits, sizeof bound);
        descend(int(uint32_t(b)), bound, query, &checks, index, distance, scratch);
    }
    return full(index);
}

bool bestOfTwoNearest(const cv::Mat &live, const cv::Mat &templ, const FeatureForest *templForest, float confidence,
                      std::vector<cv::DMatch> *matches)
{
    matches->clear();
    cv::Mat liveBytes, templBytes;
    if (!FeatureForest::toBytes(live, liveBytes) || live.cols != templ.cols)
        return false;
    FeatureForest built;
    if (!templForest || templForest->size() != templ.rows || templForest->data().cols != templ.cols) {
        if (!FeatureForest::toBytes(templ, templBytes))
            return false;
        built = FeatureForest(templBytes);
        templForest = &built;
    }
    const cv::Mat &templData = templForest->data();
    const float ratio = 1.f - confidence;

    // The queries of each direction go in ranges that idle workers of a slot judgement may take
    // (shareWork); each range keeps its own pairs, joined below in query order, so the matches are
    // the same however the ranges were run.
    struct Pair
    {
        int from;
        int to;
        float distance;
    };
    const auto rangesOf = [](int rows) { return std::max(1, std::min(kMatchRanges, rows / kRangeRows)); };
    const auto query = [ratio](const FeatureForest &forest, const cv::Mat &rows, int ranges, int r,
                               std::vector<Pair> *found) {
        FeatureForest::Scratch scratch;
        int index[2];
        float distance[2];
        const int begin = int(int64_t(rows.rows) * r / ranges), end = int(int64_t(rows.rows) * (r + 1) / ranges);
        for (int i = begin; i < end; ++i) {
            if (!forest.twoNearest(rows.ptr<uchar>(i), index, distance, scratch))
                continue;
            const float d0 = std::sqrt(distance[0]);
            if (d0 < ratio * std::sqrt(distance[1]))
                found->push_back({i, index[0], d0});
        }
    };

    // Live to template, and meanwhile the live rows' trees for the other direction.
    const int liveRanges = rangesOf(liveBytes.rows);
    std::vector<std::vector<Pair>> liveToTempl(static_cast<size_t>(liveRanges));
    std::unique_ptr<FeatureForest> liveForest;
    shareWork(1 + liveRanges, [&](int c) {
        if (c == 0)
            liveForest = std::make_unique<FeatureForest>(liveBytes);
        else
            query(*templForest, liveBytes, liveRanges, c - 1, &liveToTempl[size_t(c - 1)]);
    });
    // Remember each live row's match so the other direction adds no duplicate.
    std::vector<int> matchedTo(static_cast<size_t>(live.rows), -1);
    for (const std::vector<Pair> &range : liveToTempl) {
        for (const Pair &p : range) {
            matches->emplace_back(p.from, p.to, p.distance);
            matchedTo[size_t(p.from)] = p.to;
        }
    }

    // Template to live.
    const int templRanges = rangesOf(templData.rows);
    std::vector<std::vector<Pair>> templToLive(static_cast<size_t>(templRanges));
    shareWork(templRanges,
              [&](int c) { query(*liveForest, templData, templRanges, c, &templToLive[size_t(c)]); });
    for (const std::vector<Pair> &range : templToLive) {
        for (const Pair &p : range) {
            if (matchedTo[size_t(p.to)] != p.from)
                matches->emplace_back(p.to, p.from, p.distance);
        }
    }
    return true;
}

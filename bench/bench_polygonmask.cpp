// Mask of a 2,000-vertex polygon over a 600 x 600 box: testing every pixel with
// cv::pointPolygonTest (as a user would write it) against the row-by-row crossing method the region
// records use. Both masks must be identical bit for bit.

#include "ratioreporter.h"
#include "roipolygonmask.h"

#include <opencv2/core.hpp>

#include <cmath>
#include <cstdio>
#include <vector>

namespace {

constexpr int kVertices = 2000;
const QRect kBox(0, 0, 600, 600);

// A ragged star around the middle of the box: long and short spokes, some vertices sharing rows.
const std::vector<QPoint> &outline()
{
    static const std::vector<QPoint> points = [] {
        std::vector<QPoint> v;
        cv::RNG rng(2000);
        for (int i = 0; i < kVertices; ++i) {
            const double a = 2.0 * M_PI * i / kVertices;
            const double r = 100.0 + 150.0 * std::fabs(std::sin(7.0 * a)) + rng.uniform(0.0, 49.0);
            v.emplace_back(300 + int(std::lround(r * std::cos(a))), 300 + int(std::lround(r * std::sin(a))));
        }
        return v;
    }();
    return points;
}

void BM_PerPixelPointTest(benchmark::State &state)
{
    const std::vector<QPoint> &v = outline();
    for (auto _ : state)
        benchmark::DoNotOptimize(polygonInsideMaskByPointTest(v.data(), int(v.size()), kBox).data);
}
BENCHMARK(BM_PerPixelPointTest)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_RowCrossings(benchmark::State &state)
{
    const std::vector<QPoint> &v = outline();
    for (auto _ : state)
        benchmark::DoNotOptimize(polygonInsideMask(v.data(), int(v.size()), kBox).data);
}
BENCHMARK(BM_RowCrossings)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    cv::setNumThreads(1);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    const std::vector<QPoint> &v = outline();
    const cv::Mat slow = polygonInsideMaskByPointTest(v.data(), int(v.size()), kBox);
    const cv::Mat fast = polygonInsideMask(v.data(), int(v.size()), kBox);
    const bool same = slow.size() == fast.size() && cv::countNonZero(slow != fast) == 0;
    std::printf("IDENTICAL masks (%d inside pixels): %s\n", cv::countNonZero(fast), same ? "yes" : "NO");
    reporter.printSpeedup("BM_RowCrossings", "BM_PerPixelPointTest/iterations:2");
    benchmark::Shutdown();
    return same ? 0 : 1;
}

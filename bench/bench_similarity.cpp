// One similarity region (10 templates, a round mask) at each region size the benchmarks use, scored
// by the matcher against the method it replaced: every template at each of the 49 shifts correlated
// by its own pass over the region (kept here only as the baseline). Printed as how many times faster
// the matcher is; it must be at least 5x. One OpenCV thread.

#include "benchtexture.h"
#include "maskedncc.h"
#include "ratioreporter.h"
#include "surfmatch.h"

#include <opencv2/imgproc.hpp>

#include <string>

namespace {

constexpr int kTemplates = 10;
const cv::Size kSizes[] = {{50, 60}, {100, 120}, {200, 240}, {400, 320}};

struct Region
{
    cv::Mat frame, mask;
    std::vector<cv::Mat> templates;
    std::vector<NccTemplate> former; // the former Train's work, done beforehand: not timed
    SURF matcher;
    explicit Region(cv::Size size)
    {
        const cv::Mat scene = benchTexture(size + cv::Size(8, 8), 21, 2.0);
        mask = cv::Mat::zeros(size, CV_8UC1);
        cv::ellipse(mask, cv::Point(size.width / 2, size.height / 2), size / 2, 0, 0, 360, cv::Scalar(255),
                    cv::FILLED);
        cv::RNG rng(3);
        matcher.Create(size.width, size.height, mask);
        for (int n = 0; n < kTemplates; ++n) {
            cv::Mat grain(size, CV_8UC1);
            rng.fill(grain, cv::RNG::UNIFORM, 0, 6);
            templates.push_back(scene(cv::Rect(cv::Point(4, 4), size)) + grain);
            matcher.AddTemp(templates.back(), 1, 50, 60);
        }
        matcher.Train(0, 0, 0, 0);
        const int shift = std::min(SURF::kMaxShift, (std::min(size.width, size.height) - 1) / 4);
        const cv::Rect inner(shift, shift, size.width - 2 * shift, size.height - 2 * shift);
        for (const cv::Mat &t : templates)
            former.push_back(makeNccTemplate(t(inner), mask(inner)));
        frame = scene(cv::Rect(cv::Point(6, 3), size)).clone();
    }
};

// The former matcher's search: template by template, shift by shift.
float formerScore(const Region &r)
{
    const int w = r.frame.cols, h = r.frame.rows;
    const int shift = std::min(SURF::kMaxShift, (std::min(w, h) - 1) / 4);
    const NccImage img = makeNccImage(r.frame);
    double best = -2;
    for (const NccTemplate &t : r.former)
        for (int dy = -shift; dy <= shift; ++dy)
            for (int dx = -shift; dx <= shift; ++dx)
                best = std::max(best, nccAt(img, t, cv::Point(shift + dx, shift + dy)));
    return float(std::clamp(best, 0.0, 1.0) * 100.0);
}

void BM_Similarity(benchmark::State &state)
{
    Region r(kSizes[state.range(0)]);
    cv::Mat out = cv::Mat::zeros(r.frame.size(), CV_8UC1);
    float score = 0;
    for (auto _ : state) {
        cv::Mat copy = r.frame.clone();
        benchmark::DoNotOptimize(score = r.matcher.Match(copy, out));
    }
    state.counters["score"] = score;
}

void BM_SimilarityFormer(benchmark::State &state)
{
    Region r(kSizes[state.range(0)]);
    float score = 0;
    formerScore(r);
    for (auto _ : state)
        benchmark::DoNotOptimize(score = formerScore(r));
    state.counters["score"] = score;
}

BENCHMARK(BM_Similarity)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SimilarityFormer)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    cv::setNumThreads(1);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (int i = 0; i < 4; ++i) {
        std::printf("%d x %d region, %d templates: ", kSizes[i].width, kSizes[i].height, kTemplates);
        reporter.printSpeedup("BM_Similarity/" + std::to_string(i), "BM_SimilarityFormer/" + std::to_string(i));
    }
    benchmark::Shutdown();
    return 0;
}

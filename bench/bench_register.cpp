// Registration of a 1280 x 1024 grey frame onto its slot template, on a typical frame (slightly
// turned and tilted) and on a frame that matches nothing (a different surface: the NG case), against
// OpenCV's SIFT detect-and-compute alone on the same shrunk frame, which every registration pays (on
// the whole frame, and under the registration mask as registration computes it).
// One OpenCV thread, so that the ratios do not depend on the machine's cores.

#include "benchtexture.h"
#include "ratioreporter.h"
#include "registration.h"

#include <opencv2/features2d.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {
constexpr int kW = 1280, kH = 1024;

struct Setup
{
    cv::Mat templ, typical, unrelated;
    RegistrationTemplate reg;
    Setup()
    {
        templ = benchTexture(cv::Size(kW, kH), 11, 3.0);
        cv::Mat h = cv::Mat::eye(3, 3, CV_64F);
        cv::getRotationMatrix2D(cv::Point2f(kW / 2.0f, kH / 2.0f), 1.5, 1.0).copyTo(h(cv::Rect(0, 0, 3, 2)));
        h.at<double>(0, 2) += 8;
        h.at<double>(1, 2) -= 5;
        h.at<double>(2, 0) = 5e-6;
        cv::warpPerspective(templ, typical, h, templ.size(), cv::INTER_LINEAR, cv::BORDER_REFLECT);
        unrelated = benchTexture(cv::Size(kW, kH), 12, 3.0);
        cv::Mat mask = cv::Mat::zeros(templ.size(), CV_8UC1);
        mask(cv::Rect(kW / 4, kH / 4, 3 * kW / 4, 3 * kH / 4)).setTo(cv::Scalar(255));
        prepareRegistrationTemplate(reg, templ, mask, 300);
    }
};
Setup &setup()
{
    static Setup s;
    return s;
}

void BM_RegisterTypical(benchmark::State &state)
{
    Setup &s = setup();
    cv::Mat out(kH, kW, CV_8UC1);
    bool ok = false;
    for (auto _ : state)
        benchmark::DoNotOptimize(ok = registerImage(s.reg, s.typical, out, 0.4f));
    state.SetLabel(ok ? "registered" : "NOT registered");
}
BENCHMARK(BM_RegisterTypical)->Unit(benchmark::kMillisecond);

void BM_RegisterNoMatch(benchmark::State &state)
{
    Setup &s = setup();
    cv::Mat out(kH, kW, CV_8UC1);
    bool ok = true;
    for (auto _ : state)
        benchmark::DoNotOptimize(ok = registerImage(s.reg, s.unrelated, out, 0.4f));
    state.SetLabel(ok ? "registered (a chance homography)" : "passed on unregistered");
}
BENCHMARK(BM_RegisterNoMatch)->Unit(benchmark::kMillisecond);

void BM_SiftAloneOnShrunkFrame(benchmark::State &state)
{
    Setup &s = setup();
    const cv::Ptr<cv::SIFT> sift = cv::SIFT::create(0, 3, 0.04, 10, 1.6);
    for (auto _ : state) {
        cv::Mat small;
        cv::resize(s.typical, small, cv::Size(), s.reg.scale, s.reg.scale, cv::INTER_LINEAR_EXACT);
        std::vector<cv::KeyPoint> keypoints;
        cv::Mat descriptors;
        sift->detectAndCompute(small, cv::noArray(), keypoints, descriptors);
        benchmark::DoNotOptimize(descriptors.data);
    }
}
BENCHMARK(BM_SiftAloneOnShrunkFrame)->Unit(benchmark::kMillisecond);

// The same under the slot's registration mask, as registration itself computes the frame's features:
// the stricter baseline (fewer descriptors to compute and to match).
void BM_SiftAloneUnderMask(benchmark::State &state)
{
    Setup &s = setup();
    const cv::Ptr<cv::SIFT> sift = cv::SIFT::create(0, 3, 0.04, 10, 1.6);
    for (auto _ : state) {
        cv::Mat small;
        cv::resize(s.typical, small, cv::Size(), s.reg.scale, s.reg.scale, cv::INTER_LINEAR_EXACT);
        std::vector<cv::KeyPoint> keypoints;
        cv::Mat descriptors;
        sift->detectAndCompute(small, s.reg.mask, keypoints, descriptors);
        benchmark::DoNotOptimize(descriptors.data);
    }
}
BENCHMARK(BM_SiftAloneUnderMask)->Unit(benchmark::kMillisecond);

void BM_PrepareTemplate(benchmark::State &state)
{
    Setup &s = setup();
    for (auto _ : state) {
        RegistrationTemplate r;
        benchmark::DoNotOptimize(prepareRegistrationTemplate(r, s.templ, cv::Mat(), 300));
    }
}
BENCHMARK(BM_PrepareTemplate)->Unit(benchmark::kMillisecond);
double threadMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

// On a busy machine the runs above see different loads; here registration and SIFT alone take turns
// within each round, timed in thread CPU time, and the ratio is the median of the rounds' ratios.
void interleaved(Setup &s)
{
    const cv::Ptr<cv::SIFT> sift = cv::SIFT::create(0, 3, 0.04, 10, 1.6);
    const auto siftAlone = [&](const cv::Mat &mask) {
        cv::Mat small, descriptors;
        cv::resize(s.typical, small, cv::Size(), s.reg.scale, s.reg.scale, cv::INTER_LINEAR_EXACT);
        std::vector<cv::KeyPoint> keypoints;
        sift->detectAndCompute(small, mask, keypoints, descriptors);
    };
    cv::Mat out(kH, kW, CV_8UC1);
    std::vector<double> reg, whole, masked, toWhole, toMasked;
    for (int round = 0; round < 15; ++round) {
        const double t0 = threadMs();
        registerImage(s.reg, s.typical, out, 0.4f);
        const double t1 = threadMs();
        siftAlone(cv::Mat());
        const double t2 = threadMs();
        siftAlone(s.reg.mask);
        const double t3 = threadMs();
        reg.push_back(t1 - t0);
        whole.push_back(t2 - t1);
        masked.push_back(t3 - t2);
        toWhole.push_back((t1 - t0) / (t2 - t1));
        toMasked.push_back((t1 - t0) / (t3 - t2));
    }
    std::sort(reg.begin(), reg.end());
    std::printf("Interleaved, %zu rounds (thread CPU time): registration p50 %.1f ms p99 %.1f ms; SIFT alone "
                "p50 %.1f ms, under the mask p50 %.1f ms\n",
                reg.size(), median(reg), reg.back(), median(whole), median(masked));
    std::printf("RATIO registration costs %.2f x SIFT alone on the shrunk frame, %.2f x SIFT alone under the "
                "registration mask (medians of the rounds)\n",
                median(toWhole), median(toMasked));
}
} // namespace

int main(int argc, char **argv)
{
    cv::setNumThreads(1);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    Setup &s = setup();
    std::printf("Working scale %.4f, template keypoints %zu\n", double(s.reg.scale),
                s.reg.features[1].keypoints.size());
    cv::Mat out;
    const bool typical = registerImage(s.reg, s.typical, out, 0.4f);
    double err = -1;
    if (typical) {
        const cv::Rect inner(100, 100, kW - 200, kH - 200);
        cv::Mat d;
        cv::absdiff(out(inner), s.templ(inner), d);
        err = cv::mean(d)[0];
    }
    std::printf("Typical frame registered: %s, mean grey error after registration %.2f\n",
                typical ? "yes" : "NO", err);
    reporter.printCost("BM_RegisterTypical", "BM_SiftAloneOnShrunkFrame");
    reporter.printCost("BM_RegisterNoMatch", "BM_SiftAloneOnShrunkFrame");
    reporter.printCost("BM_RegisterTypical", "BM_SiftAloneUnderMask");
    reporter.printCost("BM_RegisterNoMatch", "BM_SiftAloneUnderMask");
    interleaved(s);
    benchmark::Shutdown();
    return typical ? 0 : 1;
}

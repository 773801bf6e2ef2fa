// Registration of a 1280 x 1024 grey frame onto its slot template, on a typical frame (slightly
// turned and tilted) and on a frame that matches nothing (a different surface: the NG case), against
// OpenCV's SIFT detect-and-compute alone on the same shrunk frame, which every registration pays.
// One OpenCV thread, so that the ratios do not depend on the machine's cores.

#include "benchtexture.h"
#include "ratioreporter.h"
#include "registration.h"

#include <opencv2/features2d.hpp>
#include <opencv2/imgproc.hpp>

#include <cstdio>

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

void BM_PrepareTemplate(benchmark::State &state)
{
    Setup &s = setup();
    for (auto _ : state) {
        RegistrationTemplate r;
        benchmark::DoNotOptimize(prepareRegistrationTemplate(r, s.templ, cv::Mat(), 300));
    }
}
BENCHMARK(BM_PrepareTemplate)->Unit(benchmark::kMillisecond);
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
    benchmark::Shutdown();
    return typical ? 0 : 1;
}

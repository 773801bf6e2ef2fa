// Positioning search on a 1280 x 1024 grey frame, +-10 degrees over the whole image, against the
// brute force a user would write: cv::matchTemplate at full resolution for every whole degree. The
// search is timed as the cycle runs it (the same shape searched again) and as the first search of a
// new shape.
// Both run on one OpenCV thread so that the ratio does not depend on the machine's cores.

#include "benchtexture.h"
#include "findshape.h"
#include "ratioreporter.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <cstdio>

namespace {
constexpr int kW = 1280, kH = 1024;
const cv::Rect kShape(320, 256, 640, 512);
constexpr double kTurn = 3.0;
const cv::Point kMove(17, -11);

struct Scene
{
    cv::Mat templ;
    cv::Mat frame;
    cv::Point centre; // shape centre in the template
    Scene()
    {
        templ = benchTexture(cv::Size(kW, kH), 7, 2.0);
        centre = cv::Point(kShape.x + kShape.width / 2, kShape.y + kShape.height / 2);
        cv::Mat rot = cv::getRotationMatrix2D(cv::Point2f(centre), kTurn, 1.0);
        rot.at<double>(0, 2) += kMove.x;
        rot.at<double>(1, 2) += kMove.y;
        cv::warpAffine(templ, frame, rot, templ.size(), cv::INTER_LINEAR, cv::BORDER_REFLECT);
    }
};
const Scene &scene()
{
    static const Scene s;
    return s;
}

// Shape centre found by the brute force, in frame coordinates.
cv::Point bruteForce(const Scene &s, double *bestAngle)
{
    const cv::Mat shape = s.templ(kShape);
    const cv::Point2f mid(float(kShape.width / 2), float(kShape.height / 2));
    double best = -2;
    cv::Point where;
    for (int a = -10; a <= 10; ++a) {
        cv::Mat turned, result;
        cv::warpAffine(shape, turned, cv::getRotationMatrix2D(mid, a, 1.0), shape.size());
        cv::matchTemplate(s.frame, turned, result, cv::TM_CCOEFF_NORMED);
        double maxVal;
        cv::Point maxLoc;
        cv::minMaxLoc(result, nullptr, &maxVal, nullptr, &maxLoc);
        if (maxVal > best) {
            best = maxVal;
            where = maxLoc + cv::Point(kShape.width / 2, kShape.height / 2);
            *bestAngle = a;
        }
    }
    return where;
}

FindShape &shape()
{
    static FindShape f;
    if (!f.IsValid()) {
        const Scene &s = scene();
        f.CreateShape(s.templ(kShape), 0.0, 0, 10, s.centre.x, s.centre.y, false, 255,
                      cv::Mat(kShape.size(), CV_8UC1, cv::Scalar(255)), 5, 0);
    }
    return f;
}

void BM_FindShape(benchmark::State &state)
{
    FindShape &f = shape();
    cv::Mat window = scene().frame.clone();
    int x = 0, y = 0;
    double angle = 0;
    for (auto _ : state) {
        const bool found = f.Find(window, 0, &x, &y, nullptr, &angle);
        benchmark::DoNotOptimize(found);
    }
}
BENCHMARK(BM_FindShape)->Unit(benchmark::kMillisecond);

// The first search after the shape is made (a new mould, a changed region): no turned template of an
// earlier search to reuse.
void BM_FindShapeFirstSearch(benchmark::State &state)
{
    const Scene &s = scene();
    cv::Mat window = s.frame.clone();
    int x = 0, y = 0;
    double angle = 0;
    for (auto _ : state) {
        state.PauseTiming();
        FindShape f;
        f.CreateShape(s.templ(kShape), 0.0, 0, 10, s.centre.x, s.centre.y, false, 255,
                      cv::Mat(kShape.size(), CV_8UC1, cv::Scalar(255)), 5, 0);
        state.ResumeTiming();
        benchmark::DoNotOptimize(f.Find(window, 0, &x, &y, nullptr, &angle));
    }
}
BENCHMARK(BM_FindShapeFirstSearch)->Unit(benchmark::kMillisecond);

void BM_BruteForceMatchTemplate(benchmark::State &state)
{
    double angle = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(bruteForce(scene(), &angle));
}
BENCHMARK(BM_BruteForceMatchTemplate)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_CreateShape(benchmark::State &state)
{
    const Scene &s = scene();
    for (auto _ : state) {
        FindShape f;
        f.CreateShape(s.templ(kShape), 0.0, 0, 10, s.centre.x, s.centre.y, false, 255, cv::Mat(), 5, 0);
        benchmark::DoNotOptimize(f.IsValid());
    }
}
BENCHMARK(BM_CreateShape)->Unit(benchmark::kMillisecond);
} // namespace

int main(int argc, char **argv)
{
    cv::setNumThreads(1);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    const Scene &s = scene();
    double bruteAngle = 0;
    const cv::Point brute = bruteForce(s, &bruteAngle);
    const cv::Point truth = cv::Point(s.centre) + kMove;
    std::printf("brute force centre (%d, %d) turn %.0f deg; true centre (%d, %d) turn %.1f deg\n", brute.x,
                brute.y, bruteAngle, truth.x, truth.y, kTurn);
    // Both the first search of a new shape and a search reusing the turned templates must agree.
    const auto agrees = [&](const char *which, FindShape &f) {
        cv::Mat window = s.frame.clone();
        int x = 0, y = 0;
        double angle = 0;
        const bool found = f.Find(window, 0, &x, &y, nullptr, &angle);
        const cv::Point ours(s.centre.x - x, s.centre.y - y); // window at (0, 0)
        std::printf("FindShape %s: found=%d centre (%d, %d) turn %.2f deg\n", which, found, ours.x, ours.y,
                    -angle);
        const bool samePlace = std::abs(ours.x - brute.x) <= 1 && std::abs(ours.y - brute.y) <= 1;
        const bool sameTurn = std::abs(-angle - bruteAngle) <= 0.1;
        std::printf("SAME LOCATION within 1 px: %s\n", samePlace ? "yes" : "NO");
        std::printf("SAME TURN within 0.1 deg: %s\n", sameTurn ? "yes" : "NO");
        return found && samePlace && sameTurn;
    };
    FindShape fresh;
    fresh.CreateShape(s.templ(kShape), 0.0, 0, 10, s.centre.x, s.centre.y, false, 255,
                      cv::Mat(kShape.size(), CV_8UC1, cv::Scalar(255)), 5, 0);
    const bool agree = agrees("first search", fresh) & agrees("search again", shape());
    // Every cycle of a running mould searches the same shape again; a new mould or a changed region
    // starts with a first search.
    reporter.printSpeedup("BM_FindShape", "BM_BruteForceMatchTemplate/iterations:2");
    reporter.printSpeedup("BM_FindShapeFirstSearch", "BM_BruteForceMatchTemplate/iterations:2");
    benchmark::Shutdown();
    return agree ? 0 : 1;
}

// One camera's judgement of one frame as the machine cycle runs it: registration, positioning and the
// detection pass over a slot of 50 regions of mixed functions trained on 10 templates, 1280 x 1024
// grey, with registration on and off. Then a whole slot of 8 such cameras, judged one after another
// and side by side on 2 and on all cores (SlotJudgement). Printed as p50 and p99 over repeated runs,
// as a multiple of one full-frame copy plus grey conversion of the camera's colour frame, measured in
// the same run, and for the slot as a share of the one-after-another run. OpenCV runs on one thread,
// as in the box.

#include "cameradetector.h"
#include "cameraviewdata.h"
#include "cammersingleton.h"
#include "inspectionhooks.h"
#include "ratioreporter.h"
#include "slotjudgement.h"
#include "sysparam.h"

#include <QCoreApplication>
#include <QThread>
#include <QLoggingCategory>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <memory>
#include <vector>

namespace {

constexpr int kW = 1280;
constexpr int kH = 1024;
constexpr int kSlot = 0;
constexpr int kRegions = 50;
constexpr int kTemplates = 10;

cv::Mat texture(unsigned seed)
{
    cv::RNG rng(seed);
    cv::Mat fine(kH, kW, CV_32F), coarse(kH / 16, kW / 16, CV_32F);
    rng.fill(fine, cv::RNG::UNIFORM, 0, 1);
    rng.fill(coarse, cv::RNG::UNIFORM, 0, 1);
    cv::GaussianBlur(fine, fine, cv::Size(), 2.0);
    cv::Mat big;
    cv::resize(coarse, big, fine.size(), 0, 0, cv::INTER_CUBIC);
    cv::Mat sum = fine + big, out;
    cv::normalize(sum, sum, 20, 235, cv::NORM_MINMAX);
    sum.convertTo(out, CV_8U);
    return out;
}

// A camera view with 50 regions on a 10 x 5 grid of 100 x 120 cells, functions taken in turn from
// defect, spot, black area, white area, similarity and white count; 10 templates that differ by noise.
struct Camera
{
    SysParam param;
    CameraViewData view;
    std::unique_ptr<CameraDetector> detector;
    cv::Mat frame;

    explicit Camera(bool registration, bool similarity = true)
    {
        param.angleCorrect = registration ? 1 : 0;
        param.motionCorrect = 0;
        param.rotateAngle = 0;
        param.maxOffset = 40;
        param.showAllParams = 1;
        param.minSpot = 3;
        param.filterSize = 3;
        param.diffAmplify = 1;
        for (int k = 0; k < 8; ++k)
            param.slotEnabled[k] = k == kSlot ? 1 : 0;
        gSysParam = &param;
        gTemplateLimit = kTemplates;
        gColorCamera = 0;

        view.displayScaleX = view.displayScaleY = 1.0f;
        view.setImageGeometry(kW, kH, false);
        view.liveTable = new CammerSingleton(0);
        view.editTable = new CammerSingleton(0);

        const cv::Mat base = texture(11);
        cv::RNG rng(5);
        for (int n = 0; n < kTemplates; ++n) {
            cv::Mat noise(kH, kW, CV_16S);
            rng.fill(noise, cv::RNG::NORMAL, 0, 3);
            cv::Mat t;
            base.convertTo(t, CV_16S);
            t += noise;
            t.convertTo(view.templates[kSlot][n], CV_8U);
            view.templatePresent[kSlot][n] = 1;
        }
        view.templateCount[kSlot] = kTemplates;

        const int functions[] = {FuncDefect,    FuncSpot,       FuncBlackArea,
                                 FuncWhiteArea, FuncSimilarity, FuncWhiteNum};
        CammerSingleton &t = *view.liveTable;
        for (int j = 0; j < kRegions; ++j) {
            const int e = CammerSingleton::entry(kSlot, j);
            const int f =
                (!similarity && functions[j % 6] == FuncSimilarity) ? FuncDefect : functions[j % 6];
            t.function[e] = f;
            t.shape[e] = ShapeRect;
            t.param1[e] = f == FuncSpot ? (0 | (30 << 8)) : 3;
            t.param2[e] = f == FuncBlackArea ? 15 : f == FuncSimilarity ? 60 : f == FuncWhiteArea ? 240 : 25;
            t.param3[e] = f == FuncSpot ? 5000 : 400;
            const int cx = 40 + (j % 10) * 122;
            const int cy = 60 + (j / 10) * 190;
            RoiRect &r = t.rects[e];
            r.screenRect = QRect(cx, cy, 100, 120);
            r.setScale(1.0f, 1.0f);
            r.updateImageRect();
            view.roiMasks[kSlot][j] = r.mask();
        }
        t.roiCount[kSlot] = kRegions;

        detector = std::make_unique<CameraDetector>(view.liveTable, &view);

        // The frame: the mould moved a little, with a few parts left on it.
        const cv::Mat moved = (cv::Mat_<double>(2, 3) << 1, 0, 3, 0, 1, -2);
        cv::warpAffine(base, frame, moved, base.size(), cv::INTER_LINEAR, cv::BORDER_REFLECT);
        for (int b = 0; b < 12; ++b)
            cv::circle(frame, cv::Point(80 + b * 97, 120 + (b % 5) * 190), 9, cv::Scalar(b % 2 ? 250 : 5),
                       -1);
    }

    void judge()
    {
        std::memcpy(view.grabBuffer.data(), frame.data, view.grabBuffer.size());
        detector->timedRegister(kSlot);
        detector->findPosition(kSlot);
        detector->detectCamera(kSlot);
    }
};

std::map<std::string, std::vector<double>> &samples()
{
    static std::map<std::string, std::vector<double>> s;
    return s;
}

template <typename F> void timeEach(benchmark::State &state, const std::string &key, F &&work)
{
    std::vector<double> &out = samples()[key];
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        work();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(took.count());
        out.push_back(took.count());
    }
}

void BM_JudgeRegistrationOff(benchmark::State &state)
{
    Camera camera(false);
    timeEach(state, "judge, registration off", [&] { camera.judge(); });
    state.counters["allPass"] = camera.view.allPass;
}

void BM_JudgeRegistrationOn(benchmark::State &state)
{
    Camera camera(true);
    timeEach(state, "judge, registration on", [&] { camera.judge(); });
    state.counters["allPass"] = camera.view.allPass;
}

// The detection pass alone, on a frame already registered and positioned.
void BM_DetectPassOnly(benchmark::State &state)
{
    Camera camera(false);
    camera.judge();
    timeEach(state, "detectCamera alone", [&] { camera.detector->detectCamera(kSlot); });
    state.counters["allPass"] = camera.view.allPass;
}

// The same without similarity regions (they become defect regions): the share of the similarity
// matcher in the pass.
void BM_DetectPassNoSimilarity(benchmark::State &state)
{
    Camera camera(false, false);
    camera.judge();
    timeEach(state, "detectCamera alone, no similarity", [&] { camera.detector->detectCamera(kSlot); });
}

// Positioning alone (the slot has no position region: the shape is the middle of template 0).
void BM_PositionOnly(benchmark::State &state)
{
    Camera camera(false);
    camera.judge();
    timeEach(state, "findPosition alone", [&] { camera.detector->findPosition(kSlot); });
}

// What a user would do anyway with every colour frame: copy it out of the camera and make it grey.
void BM_CopyAndGrey(benchmark::State &state)
{
    cv::Mat rgba(kH, kW, CV_8UC4);
    cv::randu(rgba, 0, 256);
    cv::Mat copy(kH, kW, CV_8UC4), grey;
    timeEach(state, "copy + grey", [&] {
        std::memcpy(copy.data, rgba.data, rgba.total() * rgba.elemSize());
        cv::cvtColor(copy, grey, cv::COLOR_RGBA2GRAY);
        benchmark::DoNotOptimize(grey.data);
    });
}

// A slot of 8 cameras (each the benchmark camera), judged by a SlotJudgement of `threads` threads
// (1: one after another); each run starts by copying every camera's frame into its grab buffer.
constexpr int kSlotCameras = 8;
std::string slotKey(bool registration, int threads)
{
    return std::string("slot of 8, registration ") + (registration ? "on" : "off") + ", " +
           (threads == 1 ? std::string("one after another")
                         : std::to_string(threads) + (threads == 2 ? " cores" : " cores (all)"));
}

void BM_Slot(benchmark::State &state)
{
    const bool registration = state.range(0) != 0;
    const int threads = state.range(1) > 0 ? int(state.range(1)) : QThread::idealThreadCount();
    std::vector<std::unique_ptr<Camera>> cameras;
    QVector<CameraDetector *> detectors;
    for (int c = 0; c < kSlotCameras; ++c) {
        cameras.push_back(std::make_unique<Camera>(registration));
        cameras.back()->view.cameraIndex = c;
        detectors << cameras.back()->detector.get();
    }
    SlotJudgement judgement(threads);
    timeEach(state, slotKey(registration, threads), [&] {
        for (const std::unique_ptr<Camera> &c : cameras)
            std::memcpy(c->view.grabBuffer.data(), c->frame.data, c->view.grabBuffer.size());
        judgement.judge(detectors, kSlot);
    });
    state.counters["threads"] = threads;
}

BENCHMARK(BM_CopyAndGrey)->UseManualTime()->Iterations(400)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JudgeRegistrationOff)->UseManualTime()->Iterations(200)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DetectPassOnly)->UseManualTime()->Iterations(200)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DetectPassNoSimilarity)->UseManualTime()->Iterations(200)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PositionOnly)->UseManualTime()->Iterations(100)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JudgeRegistrationOn)->UseManualTime()->Iterations(40)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Slot)
    ->ArgsProduct({{0}, {1, 2, 0}})
    ->UseManualTime()
    ->Iterations(40)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Slot)->ArgsProduct({{1}, {1, 2, 0}})->UseManualTime()->Iterations(8)->Unit(benchmark::kMillisecond);

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0.0;
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5));
    return v[i];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("inspection.info=false\ninspection.debug=false"));
    cv::setNumThreads(1);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    const double baseP50 = percentile(samples()["copy + grey"], 0.5);
    for (const char *name : {"copy + grey", "detectCamera alone", "detectCamera alone, no similarity",
                             "findPosition alone", "judge, registration off", "judge, registration on"}) {
        const std::vector<double> &s = samples()[name];
        const double p50 = percentile(s, 0.5), p99 = percentile(s, 0.99);
        if (baseP50 > 0 && !s.empty())
            std::printf("RATIO %s: p50 %.2f ms (%.1f x copy+grey), p99 %.2f ms (%.1f x copy+grey), n=%zu\n",
                        name, p50 * 1e3, p50 / baseP50, p99 * 1e3, p99 / baseP50, s.size());
    }
    for (bool registration : {false, true}) {
        const std::vector<double> &one = samples()[slotKey(registration, 1)];
        const double oneP50 = percentile(one, 0.5);
        for (int threads : {1, 2, QThread::idealThreadCount()}) {
            const std::vector<double> &s = samples()[slotKey(registration, threads)];
            const double p50 = percentile(s, 0.5), p99 = percentile(s, 0.99);
            if (baseP50 > 0 && oneP50 > 0 && !s.empty())
                std::printf("RATIO %s: p50 %.2f ms (%.1f x copy+grey, %.2f x one after another), p99 %.2f ms "
                            "(%.1f x copy+grey), n=%zu\n",
                            slotKey(registration, threads).c_str(), p50 * 1e3, p50 / baseP50, p50 / oneP50,
                            p99 * 1e3, p99 / baseP50, s.size());
        }
    }
    return 0;
}

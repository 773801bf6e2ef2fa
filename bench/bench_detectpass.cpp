// One camera's judgement of one frame as the machine cycle runs it: registration, positioning and the
// detection pass over a slot of 50 regions of mixed functions trained on 10 templates, 1280 x 1024
// grey, with registration on and off. Then a whole slot of 8 such cameras, judged one after another
// and side by side on 2 and on all cores (SlotJudgement). Printed as p50 and p99 over repeated runs,
// as a multiple of one full-frame copy plus grey conversion of the camera's colour frame, measured in
// the same run, and for the slot as a share of the one-after-another run. OpenCV runs on one thread,
// as in the box.
//
// The slot with registration on all cores is the mould-open window's figure: 100 slots, so that its
// p99 is not simply the slowest run, after one slot that is timed apart ("first slot"): the first
// judgement of a new pool also pays for its workers' first touch of their memory, once per start of
// the box. The slot with registration on 2 cores (a pool of 2 workers, each judging four cameras in a
// row: a box with fewer cores than cameras, exactly so under `taskset -c 0,1`) is timed over 40 slots
// after its own first slot. The eight cameras of a slot differ (mould, move, parts left), and every
// slot case ends by judging the slot once more side by side and once one after another and checks that
// every camera's verdict, values, blobs and images are the same both ways, and that no two cameras'
// are alike.
// Each slot line also gives the pages the process faulted in per slot: memory a judgement took anew
// from the system, which costs time that a run under load cannot tell apart from the load itself.
// `--per-camera[=N]` times the slot one after another camera by camera and step by step instead.

#include "benchcamera.h"
#include "cameradetector.h"
#include "cameraviewdata.h"
#include "cammersingleton.h"
#if __has_include("heapsettings.h")
#include "heapsettings.h"
#define MG_HAVE_HEAP_SETTINGS 1
#endif
#include "inspectionhooks.h"
#include "ratioreporter.h"
#include "slotjudgement.h"
#include "sysparam.h"
#include "viewresults.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QThread>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <sys/resource.h>

namespace {

std::map<std::string, std::vector<double>> &samples()
{
    static std::map<std::string, std::vector<double>> s;
    return s;
}

// Per slot case: whether the side-by-side judgement left every view as the one-after-another one did.
std::map<std::string, bool> &identical()
{
    static std::map<std::string, bool> s;
    return s;
}

// Pages faulted in per slot, by slot case: memory the judgement took anew from the system, the same
// from run to run whatever the load.
std::map<std::string, long> &pagesPerSlot()
{
    static std::map<std::string, long> s;
    return s;
}

long pageFaults(int who)
{
    rusage u{};
    getrusage(who, &u);
    return u.ru_minflt + u.ru_majflt;
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

// A slot of 8 different cameras (each its own mould, moved otherwise, with other parts left on it), judged
// by a SlotJudgement of `threads` threads (1: one after another); each run starts by copying every
// camera's frame into its grab buffer.
constexpr int kSlotCameras = 8;
// Pages faulted in a slot with registration below which the judging threads kept their memory.
constexpr long kPagesKept = 1000;
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
        cameras.push_back(std::make_unique<Camera>(registration, true, c));
        cameras.back()->view.cameraIndex = c;
        detectors << cameras.back()->detector.get();
    }
    SlotJudgement judgement(threads);
    const auto judgeSlot = [&](SlotJudgement &j) {
        for (const std::unique_ptr<Camera> &c : cameras)
            std::memcpy(c->view.grabBuffer().data(), c->frame.data, c->view.grabBuffer().size());
        j.judge(detectors, kSlot);
    };
    {
        const auto start = std::chrono::steady_clock::now();
        judgeSlot(judgement);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        samples()[slotKey(registration, threads) + ", first slot"].push_back(took.count());
    }
    const long faultsBefore = pageFaults(RUSAGE_SELF);
    timeEach(state, slotKey(registration, threads), [&] { judgeSlot(judgement); });
    pagesPerSlot()[slotKey(registration, threads)] =
        (pageFaults(RUSAGE_SELF) - faultsBefore) / std::max<long>(1, long(state.iterations()));
    state.counters["threads"] = threads;
    if (threads == 1)
        return;

    std::vector<QByteArray> sideBySide, oneAfterAnother;
    for (const std::unique_ptr<Camera> &c : cameras)
        clearResults(c->view);
    judgeSlot(judgement);
    for (const std::unique_ptr<Camera> &c : cameras) {
        sideBySide.push_back(viewResults(c->view, kSlot));
        clearResults(c->view);
    }
    SlotJudgement serial(1);
    judgeSlot(serial);
    for (const std::unique_ptr<Camera> &c : cameras)
        oneAfterAnother.push_back(viewResults(c->view, kSlot));
    // The check can only catch a result written to the wrong camera if no two cameras judge alike.
    bool allDiffer = true;
    for (size_t a = 0; a < oneAfterAnother.size(); ++a) {
        for (size_t b = a + 1; b < oneAfterAnother.size(); ++b)
            allDiffer = allDiffer && oneAfterAnother[a] != oneAfterAnother[b];
    }
    if (!allDiffer)
        state.SkipWithError("two cameras of the slot judge alike: the check would not see a swap");
    identical()[slotKey(registration, threads)] = sideBySide == oneAfterAnother && allDiffer;
    if (sideBySide != oneAfterAnother)
        state.SkipWithError("the slot judged side by side differs from one after another");
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
BENCHMARK(BM_Slot)->Args({1, 1})->UseManualTime()->Iterations(8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Slot)->Args({1, 2})->UseManualTime()->Iterations(40)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Slot)->Args({1, 0})->UseManualTime()->Iterations(100)->Unit(benchmark::kMillisecond);

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0.0;
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5));
    return v[i];
}

// Seconds of CPU the calling thread has used: on a shared machine a step's CPU time holds still where
// its wall time follows the other users' load.
double threadSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double wallSeconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// --per-camera=N: the slot of 8 with registration judged one after another N times (after one slot
// that is not counted), printing each camera's registration, positioning and detection pass apart as
// the median of the thread's CPU time and of the wall time, so that two builds can be compared camera
// by camera and step by step, and the pages the slot faulted in.
int perCamera(int rounds)
{
    std::vector<std::unique_ptr<Camera>> cameras;
    for (int c = 0; c < kSlotCameras; ++c) {
        cameras.push_back(std::make_unique<Camera>(true, true, c));
        cameras.back()->view.cameraIndex = c;
    }
    enum
    {
        Register,
        Position,
        Detect,
        Steps
    };
    const char *stepNames[Steps] = {"registration", "positioning", "detection pass"};
    std::vector<double> took[kSlotCameras][Steps], wall[kSlotCameras][Steps];
    std::vector<double> slot, slotWall;
    long faults = 0;
    for (int r = 0; r <= rounds; ++r) {
        double slotSeconds = 0, slotWallSeconds = 0;
        const long faultsBefore = pageFaults(RUSAGE_THREAD);
        for (int c = 0; c < kSlotCameras; ++c) {
            Camera &camera = *cameras[size_t(c)];
            std::memcpy(camera.view.grabBuffer().data(), camera.frame.data, camera.view.grabBuffer().size());
            double t[Steps + 1], w[Steps + 1];
            t[0] = threadSeconds();
            w[0] = wallSeconds();
            camera.detector->timedRegister(kSlot);
            t[1] = threadSeconds();
            w[1] = wallSeconds();
            camera.detector->findPosition(kSlot);
            t[2] = threadSeconds();
            w[2] = wallSeconds();
            camera.detector->detectCamera(kSlot);
            t[3] = threadSeconds();
            w[3] = wallSeconds();
            if (r == 0)
                continue;
            for (int s = 0; s < Steps; ++s) {
                took[c][s].push_back(t[s + 1] - t[s]);
                wall[c][s].push_back(w[s + 1] - w[s]);
            }
            slotSeconds += t[Steps] - t[0];
            slotWallSeconds += w[Steps] - w[0];
        }
        if (r > 0) {
            slot.push_back(slotSeconds);
            slotWall.push_back(slotWallSeconds);
            faults += pageFaults(RUSAGE_THREAD) - faultsBefore;
        }
    }
    if (rounds < 1)
        return 0;
    double total[Steps] = {}, totalWall[Steps] = {};
    for (int c = 0; c < kSlotCameras; ++c) {
        std::printf("CAMERA %d, CPU / wall:", c);
        for (int s = 0; s < Steps; ++s) {
            const double p50 = percentile(took[c][s], 0.5), wallP50 = percentile(wall[c][s], 0.5);
            total[s] += p50;
            totalWall[s] += wallP50;
            std::printf(" %s %.2f / %.2f ms%s", stepNames[s], p50 * 1e3, wallP50 * 1e3,
                        s + 1 < Steps ? "," : "\n");
        }
    }
    std::printf(
        "CAMERA all 8, CPU p50 per step summed: registration %.1f ms, positioning %.1f ms, detection "
        "pass %.1f ms; slot one after another CPU p50 %.1f ms, %ld pages faulted in a slot, n=%d\n",
        total[Register] * 1e3, total[Position] * 1e3, total[Detect] * 1e3, percentile(slot, 0.5) * 1e3,
        faults / rounds, rounds);
    std::printf("CAMERA all 8, wall p50 per step summed: registration %.1f ms, positioning %.1f ms, "
                "detection pass %.1f ms; slot one after another wall p50 %.1f ms\n",
                totalWall[Register] * 1e3, totalWall[Position] * 1e3, totalWall[Detect] * 1e3,
                percentile(slotWall, 0.5) * 1e3);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
#ifdef MG_HAVE_HEAP_SETTINGS
    keepJudgementMemory(); // as the box does at start
#endif
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("inspection.info=false\ninspection.debug=false"));
    cv::setNumThreads(1);
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--per-camera", 12) == 0)
            return perCamera(argv[i][12] == '=' ? std::max(1, std::atoi(argv[i] + 13)) : 20);
    }
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
            const std::string key = slotKey(registration, threads);
            const std::vector<double> &s = samples()[key];
            const double p50 = percentile(s, 0.5), p99 = percentile(s, 0.99);
            char share[48] = "";
            if (oneP50 > 0)
                std::snprintf(share, sizeof share, ", %.2f x one after another", p50 / oneP50);
            if (baseP50 > 0 && !s.empty())
                std::printf(
                    "RATIO %s: p50 %.2f ms (%.1f x copy+grey%s), p99 %.2f ms (%.1f x copy+grey), n=%zu, "
                    "%ld pages faulted in a slot\n",
                    key.c_str(), p50 * 1e3, p50 / baseP50, share, p99 * 1e3, p99 / baseP50, s.size(),
                    pagesPerSlot()[key]);
            const std::vector<double> &first = samples()[key + ", first slot"];
            if (baseP50 > 0 && !first.empty() && registration && threads > 1)
                std::printf("RATIO %s, first slot: %.2f ms (%.1f x copy+grey)\n", key.c_str(),
                            first.front() * 1e3, first.front() / baseP50);
            if (identical().count(key))
                std::printf("CHECK %s: %s\n", key.c_str(),
                            identical()[key]
                                ? "every camera's results identical to one after another"
                                : "RESULTS DIFFER from one after another, or two cameras alike");
            // A camera's registration works in some 30,000 pages; a judging thread that keeps them
            // from one camera to the next faults a few hundred pages a slot, one that gives them back
            // thousands every slot.
            if (registration && pagesPerSlot().count(key))
                std::printf("CHECK %s, memory: %s (%ld pages faulted in a slot)\n", key.c_str(),
                            pagesPerSlot()[key] < kPagesKept ? "kept from one camera to the next"
                                                             : "TAKEN ANEW FOR EVERY SLOT",
                            pagesPerSlot()[key]);
        }
    }
    return 0;
}

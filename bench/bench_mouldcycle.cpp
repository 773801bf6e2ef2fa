// The moulding cycle end to end: from the mould-open edge written by the board simulator to the
// clamp decision seen on the board's side (the clamp released after a good mould, or the alarm
// raised), through the real I/O link, the poll thread, the machine cycle and the side-by-side
// judgement of 1, 4 and 8 cameras with a 50-region mould slot and no trigger delay. Printed as p50
// and p99 in milliseconds and as multiples of one frame copy + grey conversion measured in the same
// run. OpenCV on one thread, as in the box.

#include "boardsimulator.h"
#include "cameradetector.h"
#include "cameraviewdata.h"
#include "cammersingleton.h"
#include "controlport.h"
#if __has_include("heapsettings.h")
#include "heapsettings.h"
#define MG_HAVE_HEAP_SETTINGS 1
#endif
#include "iolink.h"
#include "machinecycle.h"
#include "posix_qextserialport.h"
#include "ratioreporter.h"
#include "slotjudgement.h"
#include "startup.h"
#include "sysparam.h"
#include "uitexttable.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QTimer>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;
constexpr int kW = 1280;
constexpr int kH = 1024;
constexpr int kSlot = 1; // the mould
constexpr int kRegions = 50;
constexpr int kTemplates = 10;

SysParam gParam;

cv::Mat texture(unsigned seed)
{
    cv::RNG rng(seed);
    cv::Mat fine(kH, kW, CV_32F);
    rng.fill(fine, cv::RNG::UNIFORM, 0, 1);
    cv::GaussianBlur(fine, fine, cv::Size(), 2.0);
    cv::Mat out;
    cv::normalize(fine, fine, 20, 235, cv::NORM_MINMAX);
    fine.convertTo(out, CV_8U);
    return out;
}

// A camera view with 50 regions on the mould slot, trained on 10 templates; the
// frame is the mould as learnt.
struct Camera
{
    CameraViewData view;
    std::unique_ptr<CameraDetector> detector;
    cv::Mat frame;

    explicit Camera(int index)
    {
        view.cameraIndex = index;
        view.displayScaleX = view.displayScaleY = 1.0f;
        view.setImageGeometry(kW, kH, false);
        view.liveTable = new CammerSingleton(index);
        view.editTable = new CammerSingleton(index);
        const cv::Mat base = texture(11);
        for (int n = 0; n < kTemplates; ++n) {
            view.templates[kSlot][n] = base.clone();
            view.templatePresent[kSlot][n] = 1;
        }
        view.templateCount[kSlot] = kTemplates;
        // Defect and similarity regions in turn: the functions that compare with the templates, so that
        // the learnt mould judges good.
        const int functions[] = {FuncDefect, FuncSimilarity};
        CammerSingleton &t = *view.liveTable;
        for (int j = 0; j < kRegions; ++j) {
            const int e = CammerSingleton::entry(kSlot, j);
            const int f = functions[j % 2];
            t.function[e] = f;
            t.shape[e] = ShapeRect;
            t.param1[e] = f == FuncSpot ? (0 | (30 << 8)) : 3;
            t.param2[e] = f == FuncBlackArea ? 15 : f == FuncSimilarity ? 60 : f == FuncWhiteArea ? 240 : 25;
            t.param3[e] = f == FuncSpot ? 5000 : 400;
            RoiRect &r = t.rects[e];
            r.screenRect = QRect(40 + (j % 10) * 122, 60 + (j / 10) * 190, 100, 120);
            r.setScale(1.0f, 1.0f);
            r.updateImageRect();
            view.roiMasks[kSlot][j] = r.mask();
        }
        t.roiCount[kSlot] = kRegions;
        detector = std::make_unique<CameraDetector>(view.liveTable, &view);
        frame = base;
    }
};

std::map<std::string, std::vector<double>> &samples()
{
    static std::map<std::string, std::vector<double>> s;
    return s;
}

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0.0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5))];
}

// Runs the GUI thread's event loop until `done` holds or `ms` passed.
template <typename F> bool spinUntil(F done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    return true;
}

void BM_EdgeToClamp(benchmark::State &state)
{
    const int cameraCount = int(state.range(0));
    std::vector<std::unique_ptr<Camera>> cameras;
    for (int c = 0; c < cameraCount; ++c)
        cameras.push_back(std::make_unique<Camera>(c));

    QTemporaryDir dir;
    BoardSimulator board;
    setIoPortPattern(dir.filePath(QStringLiteral("ttyS%1")));
    gIoPortNumber = 0;
    if (!board.open(dir.filePath(QStringLiteral("ttyS0")))) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    auto *port = new ControlPort;
    gControlPort = port;

    CycleHooks h;
    h.cameraCount = cameraCount;
    h.cameraConnected = [](int) { return true; };
    h.cameraOpen = [](int) { return true; };
    h.grabFrame = [&](int c) {
        std::memcpy(cameras[c]->view.grabBuffer().data(), cameras[c]->frame.data,
                    cameras[c]->view.grabBuffer().size());
        return true;
    };
    h.judgeCameras = [&](const QVector<int> &list, int slot) {
        QVector<CameraDetector *> detectors;
        for (int c : list)
            detectors << cameras[c]->detector.get();
        return judgeSlotCameras(detectors, slot);
    };
    h.allPass = [&](int c) { return cameras[c]->view.allPass; };
    CycleWindowState window;
    window.manualTrigSlot = gDetectSlotCount;
    MachineCycle cycle(&window, h);
    port->setRunSlot(&cycle, [&cycle] { cycle.Run(); });
    QObject::connect(port, &ControlPort::sigIOChange, &cycle, &MachineCycle::Run);
    port->startIOThread();

    std::vector<double> &out = samples()["edge to clamp, " + std::to_string(cameraCount) + " cameras"];
    int released = 0;
    for (auto _ : state) {
        // Held closed until the mould is seen good (clamp output 1 = not allowed).
        cycle.StartDetect();
        port->setOutput(OutClose, 1);
        port->flushOutputs();
        cycle.clampTimer->stop();
        // The board must hold exactly the held clamp before the edge: no stale decision of the last run.
        spinUntil([&] { return board.outputs() == 0x1; }, 2000);
        board.clearCommands();
        board.setInputs(0x001);
        const bool decided = spinUntil(
            [&] {
                const quint16 o = board.outputs();
                return !(o & 0x1) || (o & 0x4);
            },
            5000);
        Clock::time_point at{};
        for (const BoardSimulator::Command &c : board.commands()) {
            if (c.command == 1 && (!(c.value & 0x1) || (c.value & 0x4))) {
                at = c.at;
                break;
            }
        }
        const Clock::time_point edge = board.inputsWrittenAt();
        if (!decided || at.time_since_epoch().count() == 0 || at < edge) {
            std::fprintf(stderr, "decided %d at %lld edge %lld outputs %x run %d alarm %d pending %u\n", decided,
                         (long long)at.time_since_epoch().count(), (long long)edge.time_since_epoch().count(),
                         board.outputs(), window.runState, window.alarmState, cycle.pendingCameras[1]);
            state.SkipWithError("no clamp decision on the board");
            break;
        }
        released += (board.outputs() & 0x1) == 0;
        const std::chrono::duration<double> took = at - edge;
        state.SetIterationTime(took.count());
        out.push_back(took.count());
        board.setInputs(0x000);
        spinUntil([] { return false; }, 30);
    }
    state.counters["released"] = released;
    port->stopIOThread();
    delete port;
    gControlPort = nullptr;
    delete gIoSerialPort;
    gIoSerialPort = nullptr;
    setIoPortPattern(QString());
}

void BM_CopyAndGrey(benchmark::State &state)
{
    cv::Mat rgba(kH, kW, CV_8UC4);
    cv::randu(rgba, 0, 256);
    cv::Mat copy(kH, kW, CV_8UC4), grey;
    std::vector<double> &out = samples()["copy + grey"];
    for (auto _ : state) {
        const auto start = Clock::now();
        std::memcpy(copy.data, rgba.data, rgba.total() * rgba.elemSize());
        cv::cvtColor(copy, grey, cv::COLOR_RGBA2GRAY);
        benchmark::DoNotOptimize(grey.data);
        const std::chrono::duration<double> took = Clock::now() - start;
        state.SetIterationTime(took.count());
        out.push_back(took.count());
    }
}

BENCHMARK(BM_CopyAndGrey)->UseManualTime()->Iterations(400)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EdgeToClamp)->Arg(1)->Arg(4)->Arg(8)->UseManualTime()->Iterations(30)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
#ifdef MG_HAVE_HEAP_SETTINGS
    keepJudgementMemory(); // as the box does at start
#endif
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("inspection.info=false\ninspection.debug=false\ncore.info=false"));
    createProcessMutexes();
    fillUiTextTable();
    gParam.machineType = 0;
    gParam.enableProdDetect = 0;
    gParam.slotEnabled[kSlot] = 1;
    gParam.slotTrigInput[0] = gParam.slotTrigInput[1] = 0;
    gParam.cutClampAfterMoldOk = 1;
    gParam.clampPulse = 10;
    gParam.showAllParams = 1;
    gParam.minSpot = 3;
    gParam.filterSize = 3;
    gParam.diffAmplify = 1;
    gParam.maxOffset = 40;
    gSysParam = &gParam;
    gDetectSlotCount = 2;
    gTemplateLimit = kTemplates;
    gColorCamera = 0;
    SlotJudgement::instance(); // OpenCV on one thread, as the box sets it
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double base = percentile(samples()["copy + grey"], 0.5);
    for (int n : {1, 4, 8}) {
        const std::string name = "edge to clamp, " + std::to_string(n) + " cameras";
        const std::vector<double> &s = samples()[name];
        if (s.empty() || base <= 0)
            continue;
        const double p50 = percentile(s, 0.5), p99 = percentile(s, 0.99);
        std::printf("RATIO %s: p50 %.1f ms (%.0f x copy+grey), p99 %.1f ms (%.0f x copy+grey), "
                    "%.1f %% of the 300 ms mould-open window at p99, n=%zu\n",
                    name.c_str(), p50 * 1e3, p50 / base, p99 * 1e3, p99 / base, p99 * 1e3 / 300.0 * 100.0,
                    s.size());
    }
    return 0;
}

// Training one detection slot of a 1280 x 1024 grey camera: 50 regions of 100 x 100 (40 defect,
// 10 similarity) with 10 templates, against the least any training must do: copy every template cut
// of every region once. Also the slot's positioning shape and registration template.
// One OpenCV thread, so that the ratios do not depend on the machine's cores.

#include "benchtexture.h"
#include "cameradetector.h"
#include "cameraviewdata.h"
#include "cammersingleton.h"
#include "ratioreporter.h"
#include "sysparam.h"

#include <opencv2/imgproc.hpp>

#include <cstdio>
#include <memory>

namespace {
constexpr int kW = 1280, kH = 1024, kSlot = 1, kRegions = 50, kTemplates = 10, kSide = 100;

struct Camera
{
    SysParam param;
    std::unique_ptr<CameraViewData> view = std::make_unique<CameraViewData>();
    std::vector<cv::Rect> rects;
    Camera()
    {
        gSysParam = &param;
        param.motionCorrect = 0;
        param.rotateAngle = 10;
        param.maxOffset = 40;
        param.angleCorrect = 1;
        param.slotEnabled[kSlot] = 0; // built by hand below
        gTemplateLimit = kTemplates;
        gColorCamera = 0;
        view->displayScaleX = view->displayScaleY = 1.0f;
        view->setImageGeometry(kW, kH, false);
        view->liveTable = new CammerSingleton(0);
        CammerSingleton *t = view->liveTable;
        for (int j = 0; j < kRegions; ++j) {
            const int e = CammerSingleton::entry(kSlot, j);
            const QRect r(20 + (j % 10) * 124, 20 + (j / 10) * 200, kSide, kSide);
            t->shape[e] = ShapeRect;
            t->function[e] = j % 5 == 4 ? FuncSimilarity : FuncDefect;
            t->param2[e] = 25;
            t->rects[e].screenRect = r;
            t->rects[e].setScale(1.0f, 1.0f);
            t->rects[e].updateImageRect();
            view->roiMasks[kSlot][j] = t->rects[e].mask();
            rects.emplace_back(r.x(), r.y(), r.width(), r.height());
        }
        t->roiCount[kSlot] = kRegions;
        for (int n = 0; n < kTemplates; ++n) {
            view->templates[kSlot][n] = benchTexture(cv::Size(kW, kH), 100 + unsigned(n), 2.0);
            view->templatePresent[kSlot][n] = 1;
        }
        view->templateCount[kSlot] = kTemplates;
    }
};
Camera &camera()
{
    static Camera c;
    return c;
}
CameraDetector &detector()
{
    static CameraDetector d(camera().view->liveTable, camera().view.get());
    return d;
}

void BM_TrainSlot(benchmark::State &state)
{
    CameraDetector &d = detector();
    for (auto _ : state)
        d.trainTemplates(kSlot);
}
BENCHMARK(BM_TrainSlot)->Unit(benchmark::kMillisecond);

void BM_CopyEveryTemplateCut(benchmark::State &state)
{
    Camera &c = camera();
    std::vector<cv::Mat> copies(kRegions * kTemplates);
    for (auto _ : state) {
        for (int n = 0; n < kTemplates; ++n)
            for (int j = 0; j < kRegions; ++j)
                c.view->templates[kSlot][n](c.rects[size_t(j)]).copyTo(copies[size_t(n * kRegions + j)]);
        benchmark::DoNotOptimize(copies.data());
    }
}
BENCHMARK(BM_CopyEveryTemplateCut)->Unit(benchmark::kMillisecond);

void BM_CreatePositionTemplate(benchmark::State &state)
{
    CameraDetector &d = detector();
    for (auto _ : state)
        d.createPositionTemplate(kSlot);
}
BENCHMARK(BM_CreatePositionTemplate)->Unit(benchmark::kMillisecond);

void BM_BuildRegistrationTemplate(benchmark::State &state)
{
    CameraDetector &d = detector();
    for (auto _ : state)
        d.buildRegistrationTemplate(kSlot);
}
BENCHMARK(BM_BuildRegistrationTemplate)->Unit(benchmark::kMillisecond);
} // namespace

int main(int argc, char **argv)
{
    cv::setNumThreads(1);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    CameraDetector &d = detector();
    d.trainTemplates(kSlot);
    int trained = 0, learnt = 0;
    for (int j = 0; j < kRegions; ++j) {
        trained += d.grayMatch[kSlot][j].IsValid() || d.surf[kSlot][j].IsValid();
        learnt += d.grayMatch[kSlot][j].templateCount() + d.surf[kSlot][j].templateCount();
    }
    std::printf("Regions trained %d of %d, templates learnt %d (expected %d)\n", trained, kRegions, learnt,
                kRegions * kTemplates);
    reporter.printCost("BM_TrainSlot", "BM_CopyEveryTemplateCut");
    benchmark::Shutdown();
    return trained == kRegions && learnt == kRegions * kTemplates ? 0 : 1;
}

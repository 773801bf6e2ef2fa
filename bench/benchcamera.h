#pragma once
// The benchmark camera: a camera view of 1280 x 1024 grey with 50 regions of mixed functions trained
// on 10 templates, and a frame of the mould moved a little with a few parts left on it. Shared by the
// detection and the I/O link benchmarks.

#include "cameradetector.h"
#include "cameraviewdata.h"
#include "cammersingleton.h"
#include "sysparam.h"

#include <opencv2/imgproc.hpp>

#include <cstring>
#include <memory>

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

    // `variant` gives another mould, moved otherwise, with other parts left on it: cameras of one slot
    // that judge differently, so that a result written to the wrong camera shows.
    explicit Camera(bool registration, bool similarity = true, int variant = 0)
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

        const cv::Mat base = texture(11 + unsigned(variant));
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
        const cv::Mat moved = (cv::Mat_<double>(2, 3) << 1, 0, 3 - variant % 3, 0, 1, -2 + variant % 4);
        cv::warpAffine(base, frame, moved, base.size(), cv::INTER_LINEAR, cv::BORDER_REFLECT);
        for (int b = 0; b < 12 - variant; ++b)
            cv::circle(frame, cv::Point(80 + b * 97 + 7 * variant, 120 + ((b + variant) % 5) * 190),
                       9 + variant, cv::Scalar(b % 2 ? 250 : 5), -1);
    }

    void judge()
    {
        std::memcpy(view.grabBuffer().data(), frame.data, view.grabBuffer().size());
        detector->timedRegister(kSlot);
        detector->findPosition(kSlot);
        detector->detectCamera(kSlot);
    }
};

} // namespace

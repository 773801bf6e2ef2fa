#pragma once
// Pieces of the detection pass (CameraDetector::detectCamera and previewSpotDetection, detectpass.cpp)
// that callers and tests use on their own: the grey-range mask, the check codes, the temperature
// alarm flag and the limits of the blob kernel.

#include <opencv2/core.hpp>

// out = 255 where lo < pixel <= hi, else 0, for an 8-bit single-channel image; out gets the image's
// size. lo >= hi gives an all-zero image. Any thread.
void grayRangeMask(const cv::Mat &image, cv::Mat &out, int lo, int hi);

// Why a region could not be measured; each makes the camera NG for the pass and writes the operation
// record line "REG RUN ERROR = <camera>, <slot>, <code>".
enum RegionCheckCode
{
    CheckNoMask = -1,        // no region mask, or one that does not fit the region's rectangle
    CheckNoValidMask = -2,   // the slot's mask of inspected pixels is missing (slot not trained)
    CheckEmptyRect = -3,     // the region's rectangle is empty or lies outside the image
    CheckMeasureFailed = -4, // the image library refused the region (an exception was caught)
};

// The opening and closing kernels of the blob step come from region parameters and settings; they
// are kept to this range so a bad value can neither throw nor allocate without bound.
constexpr int kMinBlobKernel = 1;
constexpr int kMaxBlobKernel = 100;

// Blob rectangles stored per region; the count sits in the first number of entry 0.
constexpr int kMaxStoredBlobs = 99;

// A temperature-alarm region was beyond its limits in the last pass that measured one. Set and
// cleared by the detection pass, read by the machine cycle, cleared by the main window at start.
// GUI thread.
extern bool gTemperatureAlarm;

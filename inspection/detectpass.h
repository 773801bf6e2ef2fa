#pragma once
// Pieces of the detection pass (CameraDetector::detectCamera and previewSpotDetection, detectpass.cpp)
// that callers and tests use on their own: the grey-range mask, the check codes, the temperature
// alarm flag, the limits of the blob kernel, and what the pass's two halves hand each other.

#include <QVector>
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

// A temperature-alarm region is beyond its limits: set from the outcomes of the last judgement that
// measured one (temperatureAlarmAfter), by CameraDetector::detectCamera for one camera and by the
// machine cycle for all cameras of a slot (the region editor's re-check included). Read by the machine
// cycle, cleared by the main window at start. GUI thread.
extern bool gTemperatureAlarm;

// Whether a pass measured a temperature-alarm region and whether one was beyond its limits.
struct TemperatureOutcome
{
    bool measured = false;
    bool beyond = false;

    bool operator==(const TemperatureOutcome &o) const { return measured == o.measured && beyond == o.beyond; }
};

// gTemperatureAlarm after one judgement of a slot's cameras: set when any camera that measured found a
// region beyond its limits, cleared when every camera that measured found all within, `current` when
// no camera measured. A camera judged after the one beyond must not hide its alarm.
bool temperatureAlarmAfter(const QVector<TemperatureOutcome> &outcomes, bool current);

constexpr int kSlotRegions = 50;

// One region as the measuring half of the pass left it for the finishing half.
struct RegionMeasurement
{
    int code = 0;             // a RegionCheckCode, 0 when the region was measured
    bool skipped = false;     // ignore, position and angle-correction regions: value 0, no blobs
    bool temperature = false; // its reading is asked of the camera by the finishing half
    int area = 0;             // blob area sum: the reported value
    int value = 0;            // area, score or blob count
    bool failed = false;
};

// What CameraDetector::measureSlot computed of one frame for one slot: everything of the pass that
// needs nobody but the camera's own detector, view buffers and the read-only settings.
struct SlotMeasurement
{
    enum State
    {
        NoSlot,  // no region table or no such slot: NG, nothing else changes
        NoFrame, // no frame of the image size to judge: NG
        Measured,
    };
    State state = NoSlot;
    int slot = -1;
    int count = 0; // regions of the slot
    RegionMeasurement regions[kSlotRegions];
};

#pragma once
// The detector of one camera: for each of the 8 detection slots it holds the trained matchers of the
// slot's regions, the mask of inspected pixels, the positioning shape and the registration template,
// and it brings every grabbed frame into the templates' position before the frame is judged.
//
// Owned by the camera view (CammerWidget constructs it with its live region table and itself). It
// reads the view's region masks, ignore masks, templates and image size through CameraViewData and
// writes the view's registered and detection buffers.
//
// Threads: the GUI thread, every function, with one exception: while the slot judgement
// (slotjudgement.h) runs a slot's cameras side by side, timedRegister(k), findPosition(k) and
// measureSlot run for this detector on one worker of the judgement pool while the GUI thread waits.
// They touch only this detector, its view's buffers and results, and the settings, which nobody
// changes meanwhile; idle workers may take part of the registration's feature matching (sharedwork.h)
// while this detector's worker waits for them. No locking.

#include "findshape.h"
#include "graymatch.h"
#include "registration.h"
#include "surfmatch.h"
#include "detectpass.h"

#include <opencv2/core.hpp>

class CammerSingleton;
struct CameraViewData;

constexpr int kDetectorSlots = 8;
constexpr int kDetectorRois = 50;

class CameraDetector
{
public:
    // Trains every slot that SysParam::slotEnabled marks: registration template, positioning shape,
    // then matchers. Needs the live table loaded and the view's image geometry set.
    CameraDetector(CammerSingleton *liveTable, CameraViewData *owner);
    ~CameraDetector();
    CameraDetector(const CameraDetector &) = delete;
    CameraDetector &operator=(const CameraDetector &) = delete;

    // Rebuilds slot k's matchers and validMask from the slot's regions and stored templates.
    void trainTemplates(int k);
    // Rebuilds slot k's positioning shape, its centre and the search window (nothing while motion
    // correction is off or the camera is a colour one).
    void createPositionTemplate(int k);
    // Rebuilds slot k's registration template (nothing while angle correction is off or the camera is
    // a colour one).
    void buildRegistrationTemplate(int k);

    // Fills the view's registeredBuffer from its grabBuffer: registered onto slot k's template when
    // angle correction is on and registration succeeds, else copied unchanged. Always returns 1.
    int timedRegister(int k);
    // Fills the view's detectBuffer from its registeredBuffer, moved (and turned, when a rotation
    // angle is set) by where slot k's positioning shape is found; copied unchanged when positioning
    // is off, there is no shape, the search window is unusable or the shape is not found. Call it
    // with the slot given to timedRegister.
    void findPosition(int k);
    // The same for the main window's current slot (DeVeWizard::currentSlot, read through
    // inspectionHooks().currentSlot); without that hook the frame is copied through unchanged.
    void findPosition();

    // One pass of slot k over the view's detectBuffer: measures and decides every region of the slot,
    // leaving in the view the region values and pass flags, the blob rectangles, the result image and
    // allPass (false = NG); reports each measured region to the report link, writes a record line per
    // region that cannot be measured, and feeds the temperature store for thermal cameras. Sets
    // gTemperatureAlarm (temperatureAlarmAfter) when a temperature region was measured. measureSlot,
    // then finishSlot.
    void detectCamera(int k);
    // The measuring half: every region of slot k but the temperature readings, into *m, the blob
    // rectangles and the result image. Calls no hook and asks nobody outside this detector and view.
    // GUI thread, or a judgement pool worker (see the class note).
    void measureSlot(int k, SlotMeasurement *m);
    // The finishing half, GUI thread: the temperature readings, the verdict and region values and pass
    // flags, record lines, report records and the temperature store, region by region in order, as
    // one pass does them. Returns the temperature outcome instead of setting gTemperatureAlarm.
    TemperatureOutcome finishSlot(const SlotMeasurement &m);
    // Region j of slot k of the edit table measured on the template shown in the panel (range
    // functions only), for the region parameter panel; repaints the view.
    void previewSpotDetection(int k, int j);

    // Region j of slot k of `table`, as the detector uses it: its image rectangle cut to the image,
    // and its mask cut by the same offsets. A mask that does not fit the region's rectangle is rebuilt
    // from the region record (and stored back into `masks`). False, with an empty rectangle and mask,
    // when nothing of the region lies in the image or no fitting mask can be made. The detection pass
    // uses the same cut, so that a circle at the image edge never makes OpenCV throw.
    static bool regionCut(const CammerSingleton *table, cv::Mat (*masks)[kDetectorRois], int k, int j,
                          cv::Size image, cv::Rect *rect, cv::Mat *mask);

    CammerSingleton *liveTable;        // not owned
    CameraViewData *owner;             // not owned
    int temperatureOffset = 0;         // last temperature correction, whole degrees (detection pass)
    cv::Mat validMask[kDetectorSlots]; // 8-bit, image size: 255 = inspected
    GrayMatch grayMatch[kDetectorSlots][kDetectorRois];
    SURF surf[kDetectorSlots][kDetectorRois];
    RegistrationTemplate registration[kDetectorSlots];
    // L2 norm of the last template trained for the slot: the brightness reference of the detection
    // pass; 0 while the slot has no template.
    double templateNorm[kDetectorSlots] = {};
    FindShape findShape[kDetectorSlots];
    int positionCentreX[kDetectorSlots] = {};
    int positionCentreY[kDetectorSlots] = {};
    cv::Rect searchRect[kDetectorSlots]; // window of the frame searched by findPosition

private:
    cv::Size imageSize() const;
    // Template n of slot k as an 8-bit grey image of image size (colour templates are converted into
    // the view's grayBuffer, which the next call overwrites); empty when the stored image is unusable.
    cv::Mat templateImage(int k, int n) const;
    // Template 0 of slot k as stored, when it is an 8-bit grey image of image size; else empty.
    cv::Mat greyTemplateZero(int k) const;
    void copyFrame(const std::vector<uchar> &from, std::vector<uchar> &to) const;
};

#pragma once
// What the inspection engine reads and writes of a camera view: its region tables and masks, frame
// buffers, templates, ignore masks and results. The camera view (CammerWidget) inherits this record,
// so the detector and the region table take it without knowing the widget. It is large (about 1 MB):
// make it on the heap. GUI thread only, except while the slot judgement (slotjudgement.h) runs: then
// the worker judging this camera reads its tables, masks and grabBuffer() and writes its registered,
// detect, grey and result buffers and blob rectangles, while the GUI thread waits.

#include <QMutex>
#include <QString>
#include <opencv2/core.hpp>

#include <functional>
#include <vector>

class CammerSingleton;
class CameraParamSource;

constexpr int kViewSlots = 8;
constexpr int kViewRois = 50;
// Templates kept per detection slot (the largest template limit the settings allow).
constexpr int kMaxTemplates = 100;
constexpr int kMaxSpots = 100;

// One spot found by the detection pass; the first number of entry 0 of a region holds the count.
struct SpotRecord
{
    int x1 = 0;
    int y1 = 0;
    int x2 = 0;
    int y2 = 0;
};

struct CameraViewData
{
    CameraViewData() = default;
    // Deletes the two region tables.
    ~CameraViewData();
    CameraViewData(const CameraViewData &) = delete;
    CameraViewData &operator=(const CameraViewData &) = delete;

    // Sets the image size and frame format and makes every buffer, ignore mask and template 0 of that
    // size (zeroed). colour: four bytes per pixel in the frame buffers and templates, else one.
    // Returns false, leaving everything empty, for a non-positive or oversized image.
    bool setImageGeometry(int width, int height, bool colour);

    CammerSingleton *liveTable = nullptr; // owned
    CammerSingleton *editTable = nullptr; // owned
    int cameraIndex = 0;                  // camera position, from 0
    QString cameraIid;                    // back-end interface id
    QString cameraId;                     // the camera's id text (serial or address)

    // Screen pixels per image pixel; set when the camera opens, before the live table loads.
    float displayScaleX = 0.0f;
    float displayScaleY = 0.0f;

    int imageWidth = 0;
    int imageHeight = 0;
    int pixelCount = 0;
    int frameBytes = 0; // pixelCount x 4 for colour cameras, x 1 otherwise

    // frameBytes: the newest frame. A colour frame held for a grey view (holdColourFrame) is turned
    // grey here, at its first read: a quiet box converts only the pixels it shows. GUI thread, and
    // the judgement's workers while the GUI thread waits; the buffer stays put until the next grab.
    std::vector<uchar> &grabBuffer();
    const std::vector<uchar> &grabBuffer() const;
    qint64 grabFrameMs = -1;             // its arrival at the back-end (appMonotonicMs); -1 none
    std::vector<uchar> registeredBuffer; // frameBytes: the frame after registration
    std::vector<uchar> detectBuffer;     // frameBytes: the frame the detection pass works on
    std::vector<uchar> grayBuffer;       // pixelCount: gray or hue scratch image
    std::vector<uchar> resultBuffer;     // pixelCount

    // Region masks (8-bit, the region's image bounding box, 255 inside) of the live and edit tables.
    cv::Mat roiMasks[kViewSlots][kViewRois];
    cv::Mat editRoiMasks[kViewSlots][kViewRois];

    // Per slot: 8-bit image-size mask, 255 = ignored.
    cv::Mat ignoreMasks[kViewSlots];
    // Per slot and template number: the template image (frame format, image size) when present.
    cv::Mat templates[kViewSlots][kMaxTemplates];
    int templatePresent[kViewSlots][kMaxTemplates] = {};
    int templateCount[kViewSlots] = {};
    int currentTemplate = 0; // template shown in the panel

    int roiValue[kViewSlots][kViewRois] = {};
    bool roiPass[kViewSlots][kViewRois] = {};
    bool allPass = true; // false = NG
    SpotRecord spots[kViewSlots][kViewRois][kMaxSpots];
    bool previewShown = false;

    // The view's camera back-end; null while no camera is open.
    CameraParamSource *cameraBackend = nullptr;
    // Repaints the view (the widget installs its update()); called after a region preview.
    std::function<void()> repaintView;

    // Region roi of slot detect's temperature x 100 as the camera back-end measures it; 0 when the
    // back-end gives nothing or there is none.
    int getRoiTemperature(int detect, int roi);

protected:
    // GUI thread, never while the judgement runs. Holds `rgba`, a colour frame of the image size that
    // the caller keeps unchanged until it drops or replaces it, as the newest frame of a grey view.
    void holdColourFrame(const uchar *rgba);
    // Forgets the held frame; true when it had not been read, so that grabBuffer() holds an older one.
    bool dropHeldFrame();
    // The held frame while it has not been read, else null.
    const uchar *heldColourFrame() const;

private:
    mutable std::vector<uchar> grabPixels;
    mutable QMutex heldMutex;                 // guards heldFrame, and grabPixels while it is turned grey
    mutable const uchar *heldFrame = nullptr; // RGBA frame not yet turned grey into grabPixels
};

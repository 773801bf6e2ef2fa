#pragma once
// One camera's view: the live picture with its regions, the spots of the last pass, the OK/NG verdict,
// the countdown and the counters, and everything the detector works on for that camera (region tables
// and masks, frame buffers, templates, ignore masks, results; see CameraViewData). It owns its camera,
// its detector and the files of its templates and ignore masks. GUI thread only; the result pictures
// it hands to the saver thread cross under gFailImageMutex.
//
// Split by concern: cammerwidget.cpp (construction, frames, camera settings, region copies),
// cammerpaint.cpp (painting and touches), cammerresults.cpp (result pictures, templates, ignore masks).

#include "cameraviewdata.h"

#include <QElapsedTimer>
#include <QImage>
#include <QRect>
#include <QString>
#include <QWidget>

#include <memory>

class CameraDetector;
class CameraInterface;
class QTimer;
struct CameraDeviceInfo;
struct SysParam;

// NG frames each view keeps per slot for the region editor's review.
constexpr int kNgRingSize = 3;

class CammerWidget : public QWidget, public CameraViewData
{
    Q_OBJECT
public:
    // The last pass's spots of slot `slot` and the panel preview's result, in image coordinates:
    // the camera view and the region editor draw the same marks at their own scale. GUI thread.
    void paintPassMarks(QPainter &p, int slot) const;
    // Opens the camera of `info` at position cameraIndex (from 0), sizes the buffers to its image,
    // sets the display scale, loads the live region table and makes the edit copy, then reads the
    // templates and ignore masks of every slot, and builds the camera's detector, which trains the
    // enabled slots. Until a camera opens, the image size is gImageW x gImageH.
    CammerWidget(QWidget *parent, int cameraIndex, const CameraDeviceInfo *info);
    // Closes the camera (its capture thread joins) before the buffers go.
    ~CammerWidget() override;

    // Whether the camera opened; the main window drops views whose camera did not.
    bool cameraOpened = false;
    // Whether the camera answered and delivered pictures at the last frame poll (see followCamera); a
    // loss calls the cameraLostAlarm hook once.
    bool connected = false;
    // False when the live region table could not be read at construction (as opposed to holding no
    // regions): the view then has no regions, and the machine cycle must not judge this camera.
    bool regionTableRead = true;

    // Set by the main window's layout: the view's cell relative to the screen and to the image.
    float screenRatioX = 1.0f;
    float screenRatioY = 1.0f;
    float imageRatioX = 1.0f;
    float imageRatioY = 1.0f;

    // Per slot: the operator has dealt with this camera's alarm (set by the region editor); a template
    // is to be learnt from the next detection (set when re-learning starts).
    bool alarmHandled[kViewSlots] = {};
    bool learnPending[kViewSlots] = {};

    // The last NG frames of each slot (frame format), written at index ngCount % kNgRingSize.
    cv::Mat ngRing[kViewSlots][kNgRingSize];
    int ngCount[kViewSlots] = {};

    // The region editor's view state (-1 live view) and its selection in the edit table, which the
    // parameter-panel slots change.
    int roiViewState = -1;
    int editSlot = 0;
    int selectedRoi = -1;

    // Runs 1000 ms after a verdict (started by the machine cycle); the OK/NG overlay shows meanwhile.
    QTimer *resultTimer = nullptr;

    // The camera's detector, built on the live table and this view; lives as long as the view.
    std::unique_ptr<CameraDetector> detector;

    // The view's own camera object, made by its back-end's prototype; closed with the view. Also
    // reachable as cameraBackend for the inspection engine.
    std::unique_ptr<CameraInterface> camera;
    // The camera for the camera settings page; null while none is open.
    CameraInterface *cameraObject() const { return camera.get(); }

    // "./cammer<c><s>/template<n>.bmp" and "./cammer<c><s>/ignorepoint.bmp", camera c and slot s
    // counted from 1, template number n from 0.
    QString templateFile(int slot, int number) const;
    QString ignoreMaskFile(int slot) const;

    // Takes the newest frame of the camera into grabBuffer(), with its arrival in grabFrameMs, when one
    // arrived since the last call; true then. Also follows the camera's online state and whether it
    // still delivers. A frame of another size than the buffers is dropped; when the frame before it
    // had not been read yet, the view then has no frame (grabFrameMs -1).
    bool grabFrame();
    // Milliseconds between two pictures at the rate the camera really runs (the back-end's own word,
    // else the frame-speed setting read as frames a second; 0 when neither says), and the age from
    // which its newest picture no longer shows the mould as it is.
    qint64 picturePeriodMs() const;
    qint64 staleLimitMs() const;

    // Camera settings of this view's camera from gSysParamEdit while the settings screen is visible,
    // else from gSysParam. Nothing while no camera is open.
    void applyExposure(); // exposure with automatic exposure and WDR, then a one-shot white balance
    void applyGain();     // gain, then a one-shot white balance
    void applySharpness();
    void applyContrast();
    void applyGamma();
    void applyOnceWhiteBalance();
    // Stops the capture, sets SysParam.frameSpeed, starts again.
    void applyFrameSpeed();
    // The back-end writes its stored exposure, gain, sharpness, contrast and gamma into gSysParamEdit.
    void loadCameraParameters();
    void setTriggerMode(int mode, int camera);
    // On the live table: machine type 0 copies slot 0's regions onto slot 1, types 1 and 2 copy slots
    // 0 and 1 onto 2 and 3 (counts, shapes, parameters and masks).
    void CopyPara();

    // Draws the verdict of slot detect on an RGB32 copy of the frame and hands it to the saver's
    // buffer [camera][detect][ok] under gFailImageMutex (ok 1 = OK picture, 0 = NG picture); an NG
    // picture records its first failed region + 1 in gFailRoiNumber when that is 0. Raises no flag.
    void SaveFailImage(int detect, int ok);
    // Redraws the verdict label of the picture already handed over for (detect, ok).
    void UpdateFailImage(int detect, int ok);
    // Stores the frame as the next free template of slot detect; false (logged) at gTemplateLimit or
    // when the file cannot be written.
    bool SaveReTrainImage(int detect);
    // Writes slot detect's ignore mask to its file; false when it cannot be written.
    bool saveIgnoreMask(int detect);
    // Keeps the frame in slot detect's NG ring and counts it.
    void keepNgFrame(int detect);

    // The countdown area (130 x 36 at 520, 5 of the full screen, scaled into this view) and its repaint.
    QRect countdownRect() const;
    void repaintCountdown();

    // The counters line ("NG / Total / FPS") and the template-time line under it, in view coordinates.
    struct StatusLines
    {
        QRect counters;
        QRect templateTime;
    };
    // Where a view on `cell` (window coordinates) draws the two lines, `line` px high each: at the foot
    // of the cell, lifted where the cell reaches down behind what covers the window from row
    // `coveredFrom` on (the status strip). The paint and its test both take the lines from here.
    static StatusLines statusLineRects(const QRect &cell, int line, int coveredFrom);
    // The height of a view's text lines at its screen ratio (cell height / screen height).
    static int statusLineHeight(float screenRatioY);
    // This view's two lines, above the status strip the main window reports (statusStripTop hook).
    StatusLines statusLines() const;

public slots:
    // The parameter panel changed the selected region's first, second or third parameter in the edit
    // table: preview the region on the template shown.
    void SlotMinWH(int value);
    void SlotSensitivity(int value);
    void SlotArea(int value);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    bool openCamera(const CameraDeviceInfo *info);
    void followCamera();
    void loadSlotImages();
    const SysParam *cameraValues() const;
    void setSelectedParam(int which, int value);
    // shownFrame from the newest frame: no larger than `shown`, the screen pixels it is drawn into;
    // grey (Grayscale8) for a grey frame the screen shows at that size, else opaque RGB32.
    void makeShownFrame(QSize shown);
    // makeShownFrame of a held colour frame (see CameraViewData) that fits the screen at `shown`.
    void pickGreyFromHeld(QSize shown);
    // Paints a held colour frame that fits `target` straight into the painter's image where the
    // painter copies to that as it is; false, with nothing painted, otherwise.
    bool paintHeldStraight(QPainter &p, const QRect &target);
    // pickColumns and pickRows for a picture of size `shown`.
    void updatePicks(QSize shown);
    // Shown row y, columns first .. first + count - 1, of the held frame turned grey into grey;
    // picked holds count frame pixels.
    void pickGreyRow(const int *frame, int y, int first, int count, int *picked, uchar *grey) const;
    // Full-screen coordinates into this widget, with the zoom of the enlarged view.
    QTransform viewTransform() const;
    void paintRegions(QPainter &p, int slot) const;
    void paintSpots(QPainter &p, int slot) const;
    void paintVerdict(QPainter &p) const;
    void paintStatus(QPainter &p) const;
    // The verdict label of slot detect drawn onto a picture of image size.
    void drawVerdict(QImage &image, int detect, bool ok) const;
    int shownSlot() const;

    cv::Mat takenFrame;      // the camera's newest frame as taken; kept, so that a grab allocates nothing
    cv::Mat shownPixels;     // the frame's pixels picked for the screen size
    cv::Mat pickColumns;     // updatePicks: the frame column of each shown column (CV_32S)
    cv::Mat pickRows;        // and the frame row of each shown row
    cv::Size pickSource;     // the frame size they were picked from
    QImage shownFrame;       // makeShownFrame() of the last grabbed frame
    QSize shownSize;         // the screen size shownFrame was made for
    bool frameChanged = true; // the newest frame changed since shownFrame was made
    QTimer *livePollTimer = nullptr;
    QElapsedTimer fpsClock;   // frames grabbed per second, for the counter line
    int framesCounted = 0;    // frames since fpsClock started: no frame count
    int framesPerSecond = 0;
    qint64 deliveredMs = 0; // appMonotonicMs() of the newest picture delivered (of the opening before one)
};

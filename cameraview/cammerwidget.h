#pragma once
// One camera's view: the live picture with its regions and everything the detector works on for that
// camera (region tables and masks, frame buffers, templates, ignore masks, results; see
// CameraViewData). GUI thread only.

#include "cameraviewdata.h"

#include <QString>
#include <QWidget>

#include <memory>

class CameraDetector;
class CameraInterface;
struct CameraDeviceInfo;

class CammerWidget : public QWidget, public CameraViewData
{
    Q_OBJECT
public:
    // Opens the camera of `info` at position cameraIndex (from 0), sizes the buffers to its image,
    // sets the display scale, loads the live region table and makes the edit copy, then reads the
    // templates and ignore masks of every slot, and builds the camera's detector, which trains the
    // enabled slots. Until a camera opens, the image size is gImageW x gImageH.
    CammerWidget(QWidget *parent, int cameraIndex, const CameraDeviceInfo *info);
    ~CammerWidget() override;

    // Whether the camera opened; the main window drops views whose camera did not.
    bool cameraOpened = false;

    // Set by the main window's layout: the view's cell relative to the screen and to the image.
    float screenRatioX = 1.0f;
    float screenRatioY = 1.0f;
    float imageRatioX = 1.0f;
    float imageRatioY = 1.0f;

    // The camera's detector, built on the live table and this view; lives as long as the view.
    std::unique_ptr<CameraDetector> detector;

    // The view's own camera object, made by its back-end's prototype; closed with the view. Also
    // reachable as cameraBackend for the inspection engine.
    std::unique_ptr<CameraInterface> camera;

    // "./cammer<c><s>/template<n>.bmp" and "./cammer<c><s>/ignorepoint.bmp", camera c and slot s
    // counted from 1, template number n from 0.
    QString templateFile(int slot, int number) const;
    QString ignoreMaskFile(int slot) const;

private:
    bool openCamera(const CameraDeviceInfo *info);
    void loadSlotImages();
};

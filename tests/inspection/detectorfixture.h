#pragma once
// A camera view's data side as the detector sees it, built in memory for one test: image geometry,
// a live region table with regions placed in image coordinates (display scale 1), templates, and the
// parameter block installed as gSysParam. The process-wide start-up copies it touches come back when
// the fixture goes.

#include "cameraviewdata.h"
#include "cammersingleton.h"
#include "sysparam.h"

#include <QPoint>
#include <QRect>
#include <opencv2/core.hpp>

class DetectorFixture
{
public:
    DetectorFixture(int width, int height, bool colour = false);
    ~DetectorFixture();
    DetectorFixture(const DetectorFixture &) = delete;
    DetectorFixture &operator=(const DetectorFixture &) = delete;

    // Appends a region to slot k and stores its mask as the camera view would; returns its index.
    int addRect(int k, QRect image, int function, int p1 = 3, int p2 = 25, int p3 = 100);
    int addCircle(int k, QPoint centre, int outer, int inner, int function, int p1 = 3, int p2 = 25,
                  int p3 = 100);
    // Stores template n of slot k (frame format of the view) and marks it present; the slot's template
    // count is the number of present templates.
    void setTemplate(int k, int n, const cv::Mat &image);

    // The view's buffers seen as 8-bit images of image size (grey cameras).
    cv::Mat grab();
    cv::Mat registered();
    cv::Mat detect();

    SysParam param;
    CameraViewData view;
    CammerSingleton *table = nullptr; // the view's live table

private:
    SysParam *m_savedParam;
    int m_savedLimit, m_savedColour, m_savedGrey;
};

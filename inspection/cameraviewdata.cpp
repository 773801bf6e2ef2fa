#include "cameraviewdata.h"

#include "cammersingleton.h"

#include <climits>

CameraViewData::~CameraViewData()
{
    delete liveTable;
    delete editTable;
}

bool CameraViewData::setImageGeometry(int width, int height, bool colour)
{
    const qint64 pixels = qint64(width) * height;
    const qint64 bytes = pixels * (colour ? 4 : 1);
    const bool ok = width > 0 && height > 0 && bytes <= INT_MAX;
    imageWidth = ok ? width : 0;
    imageHeight = ok ? height : 0;
    pixelCount = ok ? int(pixels) : 0;
    frameBytes = ok ? int(bytes) : 0;
    for (std::vector<uchar> *frame : {&grabBuffer, &registeredBuffer, &detectBuffer})
        frame->assign(size_t(frameBytes), 0);
    for (std::vector<uchar> *plane : {&grayBuffer, &resultBuffer})
        plane->assign(size_t(pixelCount), 0);
    for (int k = 0; k < kViewSlots; ++k) {
        ignoreMasks[k] = ok ? cv::Mat::zeros(height, width, CV_8UC1) : cv::Mat();
        // Positioning and registration always start from template 0, present or not.
        templates[k][0] = ok ? cv::Mat::zeros(height, width, colour ? CV_8UC4 : CV_8UC1) : cv::Mat();
    }
    return ok;
}

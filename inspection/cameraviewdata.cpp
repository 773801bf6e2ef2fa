#include "cameraviewdata.h"

#include "cammersingleton.h"
#include "imagehelpers.h"
#include "mutexlocker.h"

#include <climits>
#include <utility>

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
    dropHeldFrame();
    for (std::vector<uchar> *frame : {&grabPixels, &registeredBuffer, &detectBuffer})
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

const std::vector<uchar> &CameraViewData::grabBuffer() const
{
    // Two workers may read one camera's frame (one helps the other): the first turns it grey.
    MutexLocker lock(&heldMutex);
    if (heldFrame && grabPixels.size() == size_t(pixelCount))
        RGBA2Gray(grabPixels.data(), reinterpret_cast<int *>(const_cast<uchar *>(heldFrame)), imageWidth,
                  imageHeight);
    heldFrame = nullptr;
    return grabPixels;
}

std::vector<uchar> &CameraViewData::grabBuffer()
{
    std::as_const(*this).grabBuffer();
    return grabPixels;
}

void CameraViewData::holdColourFrame(const uchar *rgba)
{
    MutexLocker lock(&heldMutex);
    heldFrame = rgba;
}

bool CameraViewData::dropHeldFrame()
{
    MutexLocker lock(&heldMutex);
    const bool unread = heldFrame != nullptr;
    heldFrame = nullptr;
    return unread;
}

const uchar *CameraViewData::heldColourFrame() const
{
    MutexLocker lock(&heldMutex);
    return heldFrame;
}

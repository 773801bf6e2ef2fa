#include "camerainterface.h"

#include "cameraslog.h"
#include "clock.h"
#include "mutexlocker.h"

CameraInterface::CameraInterface(QObject *parent) : QObject(parent) {}

CameraInterface::~CameraInterface() = default;

bool CameraInterface::setExposureTime(int, bool, bool)
{
    return true;
}

bool CameraInterface::setGain(int)
{
    return true;
}

bool CameraInterface::setSharpness(int)
{
    return true;
}

bool CameraInterface::setContrast(int)
{
    return true;
}

bool CameraInterface::setGamma(int)
{
    return true;
}

bool CameraInterface::setOnceWhiteBalance()
{
    return true;
}

bool CameraInterface::setTriggerMode(bool, int)
{
    return true;
}

qint64 CameraInterface::picturePeriodMs() const
{
    return 0;
}

bool CameraInterface::setFrameSpeed(int)
{
    return true;
}

QJsonObject CameraInterface::setAutoExposure(bool)
{
    return QJsonObject();
}

void CameraInterface::loadParams(SysParam *, int) {}

QVariant CameraInterface::getParam(int, const QVariant &)
{
    return QVariant();
}

bool CameraInterface::setParam(int, const QVariant &)
{
    return false;
}

bool CameraInterface::isThermal() const
{
    return false;
}

bool CameraInterface::isOnline()
{
    return !imageSize().isEmpty();
}

bool CameraInterface::reboot()
{
    return false;
}

QSize CameraInterface::imageSize() const
{
    MutexLocker lock(&frameMutex);
    return frameSize;
}

bool CameraInterface::getImage(cv::Mat &out, qint64 *takenMs)
{
    MutexLocker lock(&frameMutex);
    if (!newFrame || newestFrame.empty())
        return false;
    // The frame changes hands instead of being copied, and the caller's old buffer takes the next
    // frame, unless someone else may still read it (shared, or memory the Mat does not own): then
    // the next frame gets a buffer of its own.
    if (!out.u || out.u->refcount != 1)
        out.release();
    cv::swap(out, newestFrame);
    if (takenMs)
        *takenMs = newestFrameMs;
    newFrame = false;
    return true;
}

quint64 CameraInterface::frameCount() const
{
    MutexLocker lock(&frameMutex);
    return frameCounter;
}

bool CameraInterface::fitsLocked(int width, int height, int type)
{
    if (width == frameSize.width() && height == frameSize.height() && type == frameType && width > 0) {
        sizeWarned = false;
        return true;
    }
    // One warning per change, not one per frame: a camera that switched its resolution would
    // otherwise fill the log at its frame rate.
    if (!sizeWarned) {
        if (sizeLines.allowAfterCount(lcCameras(), "frame size changes:"))
            qCWarning(lcCameras) << getIID() << "frame of" << width << "x" << height << "type" << type
                                 << "dropped: the camera opened with" << frameSize << "type" << frameType;
        sizeWarned = true;
    }
    return false;
}

bool CameraInterface::frameFits(int width, int height, int type)
{
    MutexLocker lock(&frameMutex);
    return fitsLocked(width, height, type);
}

bool CameraInterface::storeFrame(const cv::Mat &frame)
{
    MutexLocker lock(&frameMutex);
    if (frame.empty() || !fitsLocked(frame.cols, frame.rows, frame.type()))
        return false;
    frame.copyTo(newestFrame);
    newestFrameMs = appMonotonicMs();
    newFrame = true;
    ++frameCounter;
    return true;
}

void CameraInterface::setFrameFormat(QSize size, int type)
{
    MutexLocker lock(&frameMutex);
    frameSize = size;
    frameType = type;
    newestFrame.release();
    newFrame = false;
    frameCounter = 0;
    sizeWarned = false;
}

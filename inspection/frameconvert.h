#pragma once
// Turning camera frames of other layouts into the pictures the inspection works on: decoded FFmpeg
// frames, NV21 frames of network cameras, a stream-marker search and a five-frame temporal blend.
// The functions keep no state and may be called from any thread (avFrameToMat reads gColorCamera,
// written only at start-up).

#include <QList>
#include <QThread>
#include <opencv2/core.hpp>

struct AVFrame;
struct CameraViewData;

// The frame as RGB24 (colour cameras, gColorCamera set) or GRAY8, centred on a black picture of the
// view's image size; a frame larger than that is cut to its centre. The black picture when the frame
// is missing or cannot be converted; an empty matrix when the view has no image size.
cv::Mat avFrameToMat(const AVFrame *frame, const CameraViewData *view);

// Index of the first byte of the marker 0x73 0x77 0x82 0x70 within buf[0..last], or -1.
int FindMagicNo(const uchar *buf, int last);

// NV21 (one 8-bit image of 1.5 x rows by cols) into RGB (3 bytes per pixel), RGBA (4) or gray (the Y
// plane, 1) in `out`, which holds `capacity` bytes. A frame whose rows are not a multiple of 3, whose
// columns are odd, or whose result does not fit is dropped: false, and `out` is left alone.
bool nv21ToRgb(const cv::Mat &nv21, uchar *out, size_t capacity);
bool nv21ToRgba(const cv::Mat &nv21, uchar *out, size_t capacity);
bool nv21ToGray(const cv::Mat &nv21, uchar *out, size_t capacity);

// out = 0.065 L0 + 0.135 L1 + 0.6 L2 + 0.135 L3 + 0.065 L4, each term scaled (and saturated) first,
// then added in this order. Fewer than five pictures, or pictures of different sizes or types, leave
// `out` empty.
void blend5(const QList<cv::Mat> &frames, cv::Mat &out);

// A frame thread that has no work of its own: run() returns at once and nothing starts it. It keeps
// its parent as its owner.
class CameraThread : public QThread
{
    Q_OBJECT
public:
    explicit CameraThread(QObject *parent);

    QObject *owner = nullptr;

protected:
    void run() override;
};

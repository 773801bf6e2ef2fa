#include "frameconvert.h"

#include "cameraviewdata.h"
#include "inspectionlog.h"
#include "sysparam.h"

#include <algorithm>
#include <cstring>
#include <opencv2/imgproc.hpp>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

namespace {

// Converts the frame at its own size into `into` (already of that size and the destination format).
bool convertFrame(const AVFrame *frame, AVPixelFormat dstFormat, cv::Mat &into)
{
    // libswscale aborts the process on a format it does not know instead of returning no context.
    const AVPixelFormat srcFormat = AVPixelFormat(frame->format);
    if (!av_pix_fmt_desc_get(srcFormat) || !sws_isSupportedInput(srcFormat)) {
        qCWarning(lcInspection) << "no conversion from pixel format" << frame->format;
        return false;
    }
    SwsContext *context = sws_getContext(frame->width, frame->height, srcFormat, frame->width, frame->height,
                                         dstFormat, SWS_FAST_BILINEAR, nullptr, nullptr, nullptr);
    if (!context) {
        qCWarning(lcInspection) << "no conversion from pixel format" << frame->format;
        return false;
    }
    uint8_t *dstData[4] = {};
    int dstLinesize[4] = {};
    bool ok =
        av_image_fill_arrays(dstData, dstLinesize, into.data, dstFormat, frame->width, frame->height, 1) > 0;
    if (ok)
        ok = sws_scale(context, frame->data, frame->linesize, 0, frame->height, dstData, dstLinesize) > 0;
    sws_freeContext(context);
    return ok;
}

// One axis of the placement: the part of a source of length `src` that shows in a target of length
// `dst`, centred; a longer source is cut to its middle.
struct Span
{
    int from; // in the source
    int to;   // in the target
    int length;
};

Span centred(int src, int dst)
{
    if (src <= dst)
        return {0, (dst - src) / 2, src};
    return {(src - dst) / 2, 0, dst};
}

bool nv21To(const cv::Mat &nv21, uchar *out, size_t capacity, int code, int bytesPerPixel)
{
    if (!out || nv21.empty() || nv21.type() != CV_8UC1 || nv21.rows % 3 != 0 || nv21.cols % 2 != 0)
        return false;
    const int rows = nv21.rows * 2 / 3;
    const size_t bytes = size_t(rows) * size_t(nv21.cols) * size_t(bytesPerPixel);
    if (bytes > capacity)
        return false;
    cv::Mat converted;
    cv::cvtColor(nv21, converted, code);
    if (!converted.isContinuous() || converted.total() * converted.elemSize() != bytes)
        return false;
    std::memcpy(out, converted.data, bytes);
    return true;
}

} // namespace

cv::Mat avFrameToMat(const AVFrame *frame, const CameraViewData *view)
{
    if (!view || view->imageWidth <= 0 || view->imageHeight <= 0)
        return cv::Mat();
    const bool colour = gColorCamera != 0;
    cv::Mat picture = cv::Mat::zeros(view->imageHeight, view->imageWidth, colour ? CV_8UC3 : CV_8UC1);
    if (!frame || frame->width <= 0 || frame->height <= 0)
        return picture;
    cv::Mat converted(frame->height, frame->width, picture.type());
    if (!convertFrame(frame, colour ? AV_PIX_FMT_RGB24 : AV_PIX_FMT_GRAY8, converted))
        return picture;
    const Span x = centred(frame->width, view->imageWidth);
    const Span y = centred(frame->height, view->imageHeight);
    converted(cv::Rect(x.from, y.from, x.length, y.length))
        .copyTo(picture(cv::Rect(x.to, y.to, x.length, y.length)));
    return picture;
}

int FindMagicNo(const uchar *buf, int last)
{
    if (!buf) {
        qCDebug(lcInspection, "FindMagicNo input buf is NULL\n");
        return -1;
    }
    static const uchar marker[4] = {0x73, 0x77, 0x82, 0x70};
    int matched = 0;
    for (int i = 0; i <= last; ++i) {
        if (buf[i] == marker[matched]) {
            if (++matched == 4)
                return i - 3;
        } else {
            matched = 0;
        }
    }
    return -1;
}

bool nv21ToRgb(const cv::Mat &nv21, uchar *out, size_t capacity)
{
    return nv21To(nv21, out, capacity, cv::COLOR_YUV2RGB_NV21, 3);
}

bool nv21ToRgba(const cv::Mat &nv21, uchar *out, size_t capacity)
{
    return nv21To(nv21, out, capacity, cv::COLOR_YUV2RGBA_NV21, 4);
}

bool nv21ToGray(const cv::Mat &nv21, uchar *out, size_t capacity)
{
    return nv21To(nv21, out, capacity, cv::COLOR_YUV2GRAY_420, 1);
}

void blend5(const QList<cv::Mat> &frames, cv::Mat &out)
{
    out.release();
    if (frames.size() < 5)
        return;
    const cv::Mat &middle = frames.at(2);
    for (int i = 0; i < 5; ++i) {
        const cv::Mat &f = frames.at(i);
        if (f.empty() || f.size() != middle.size() || f.type() != middle.type() || f.dims != 2)
            return;
    }
    static const double weights[5] = {0.065, 0.135, 0.6, 0.135, 0.065};
    try {
        cv::Mat sum;
        frames.at(0).convertTo(sum, -1, weights[0]);
        for (int i = 1; i < 5; ++i) {
            cv::Mat term;
            frames.at(i).convertTo(term, -1, weights[i]);
            cv::add(sum, term, sum);
        }
        out = sum;
    } catch (const cv::Exception &e) {
        qCWarning(lcInspection) << "blend5:" << e.what();
        out.release();
    }
}

CameraThread::CameraThread(QObject *parent) : QThread(parent), owner(parent) {}

void CameraThread::run() {}

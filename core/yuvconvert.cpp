#include "yuvconvert.h"

#include <cstdint>

namespace {

enum class Output
{
    Gray,
    Bgr24,
    Bgrx32
};

unsigned char clampByte(double v)
{
    const int i = static_cast<int>(v); // truncation toward zero, then the byte range
    return static_cast<unsigned char>(i < 0 ? 0 : i > 255 ? 255 : i);
}

bool acceptable(const unsigned char *src, const unsigned char *dst, int w, int h)
{
    if (!src || !dst || w < 2 || h < 2)
        return false;
    // Odd sizes: the chroma rows would be read past the source and misaligned with the pixels.
    if ((w & 1) || (h & 1))
        return false;
    // Sizes whose byte counts do not fit an int are not camera frames.
    return int64_t(w) * h * 4 <= INT32_MAX;
}

int convert(const unsigned char *src, unsigned char *dst, int w, int h, bool flip, Output out)
{
    if (!acceptable(src, dst, w, h))
        return 0;
    const int pixels = w * h;
    const unsigned char *yPlane = src;
    const unsigned char *vPlane = src + pixels;
    const unsigned char *uPlane = src + pixels + pixels / 4;
    const int chromaStride = w / 2;
    const int bytesPerPixel = out == Output::Gray ? 1 : out == Output::Bgr24 ? 3 : 4;

    for (int y = 0; y < h; ++y) {
        const int outRow = flip ? h - 1 - y : y;
        unsigned char *o = dst + (int64_t(outRow) * w) * bytesPerPixel;
        const unsigned char *yRow = yPlane + int64_t(y) * w;
        const int chromaRow = (y / 2) * chromaStride;
        for (int x = 0; x < w; ++x) {
            const double luma = yRow[x];
            const double v = double(vPlane[chromaRow + x / 2]) - 128.0;
            const double u = double(uPlane[chromaRow + x / 2]) - 128.0;
            const unsigned char b = clampByte(luma + 1.732446 * u);
            const unsigned char g = clampByte(luma - 0.698001 * u - 0.703125 * v);
            const unsigned char r = clampByte(luma + 1.370705 * v);
            switch (out) {
            case Output::Gray:
                *o++ = static_cast<unsigned char>(static_cast<int>(0.299 * r + 0.587 * g + 0.114 * b));
                break;
            case Output::Bgr24:
                *o++ = b, *o++ = g, *o++ = r;
                break;
            case Output::Bgrx32:
                *o++ = b, *o++ = g, *o++ = r, *o++ = 0;
                break;
            }
        }
    }
    return 1;
}

} // namespace

int yuv420pToGray(const unsigned char *src, unsigned char *dst, int width, int height, int, bool flip)
{
    return convert(src, dst, width, height, flip, Output::Gray);
}

int yuv420pToRgb24(const unsigned char *src, unsigned char *dst, int width, int height, int, bool flip)
{
    return convert(src, dst, width, height, flip, Output::Bgr24);
}

int yuv420pToRgb32(const unsigned char *src, unsigned char *dst, int width, int height, int, bool flip)
{
    return convert(src, dst, width, height, flip, Output::Bgrx32);
}

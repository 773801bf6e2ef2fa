#pragma once
// What one judgement of a slot leaves in a camera view, as bytes to compare, and the view's results
// wiped before a judgement: values, blobs and images with a pattern no judgement writes, so that one a
// judgement leaves out shows as a difference; the verdict set to pass and every region to failed.
// For the tests and the benchmarks, which link the inspection library themselves.

#include "cameraviewdata.h"

#include <QByteArray>

#include <algorithm>
#include <cstring>
#include <vector>

inline QByteArray viewResults(const CameraViewData &v, int slot)
{
    QByteArray s;
    s.append(char(v.allPass));
    s.append(reinterpret_cast<const char *>(v.roiValue[slot]), sizeof(v.roiValue[slot]));
    s.append(reinterpret_cast<const char *>(v.roiPass[slot]), sizeof(v.roiPass[slot]));
    s.append(reinterpret_cast<const char *>(v.spots[slot]), sizeof(v.spots[slot]));
    for (const std::vector<uchar> *b : {&v.registeredBuffer, &v.detectBuffer, &v.resultBuffer})
        s.append(reinterpret_cast<const char *>(b->data()), int(b->size()));
    return s;
}

inline void clearResults(CameraViewData &v)
{
    v.allPass = true;
    std::memset(v.roiValue, 0x55, sizeof(v.roiValue));
    std::memset(v.roiPass, 0, sizeof(v.roiPass));
    std::memset(static_cast<void *>(v.spots), 0x55, sizeof(v.spots));
    for (std::vector<uchar> *b : {&v.registeredBuffer, &v.detectBuffer, &v.resultBuffer})
        std::fill(b->begin(), b->end(), uchar(0x55));
}

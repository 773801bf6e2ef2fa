#include "maskedncc.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

NccTemplate makeNccTemplate(const cv::Mat &templ8u, const cv::Mat &mask)
{
    NccTemplate t;
    if (templ8u.empty() || templ8u.type() != CV_8UC1)
        return t;
    cv::Mat weight;
    if (mask.empty()) {
        weight = cv::Mat(templ8u.size(), CV_32F, cv::Scalar(1));
        t.fullMask = true;
    } else {
        if (mask.size() != templ8u.size() || mask.type() != CV_8UC1)
            return t;
        cv::Mat binary = mask != 0;
        binary.convertTo(weight, CV_32F, 1.0 / 255.0);
        t.fullMask = cv::countNonZero(binary) == binary.rows * binary.cols;
    }
    t.count = cv::sum(weight)[0];
    if (t.count < 1)
        return t;
    cv::Mat value;
    templ8u.convertTo(value, CV_32F);
    const double mean = value.dot(weight) / t.count;
    cv::Mat zero = (value - mean).mul(weight);
    t.zeroMean = zero;
    t.weight = weight;
    t.norm2 = zero.dot(zero);
    if (t.norm2 < kFlatVariance * t.count)
        t.norm2 = 0; // no contrast: nothing can be matched against it
    return t;
}

NccImage makeNccImage(const cv::Mat &image8u)
{
    NccImage img;
    if (image8u.empty() || image8u.type() != CV_8UC1)
        return img;
    const double mean = cv::mean(image8u)[0];
    image8u.convertTo(img.value, CV_32F, 1.0, -mean);
    img.square = img.value.mul(img.value);
    return img;
}

namespace {
double score(double sumIT, double sumI, double sumII, const NccTemplate &t)
{
    const double variance = sumII - sumI * sumI / t.count;
    if (variance < kFlatVariance * t.count || !t.isUsable())
        return 0;
    const double s = sumIT / std::sqrt(variance * t.norm2);
    return std::isfinite(s) ? std::clamp(s, -1.0, 1.0) : 0; // rounding must not score above a perfect match
}
} // namespace

double nccAt(const NccImage &image, const NccTemplate &t, cv::Point topLeft)
{
    if (!t.isUsable() || image.value.empty())
        return 0;
    const cv::Rect r(topLeft, t.size());
    if (r.x < 0 || r.y < 0 || r.x + r.width > image.value.cols || r.y + r.height > image.value.rows)
        return 0;
    const cv::Mat patch = image.value(r);
    const cv::Mat patch2 = image.square(r);
    const double sumIT = patch.dot(t.zeroMean);
    double sumI, sumII;
    if (t.fullMask) {
        sumI = cv::sum(patch)[0];
        sumII = cv::sum(patch2)[0];
    } else {
        sumI = patch.dot(t.weight);
        sumII = patch2.dot(t.weight);
    }
    return score(sumIT, sumI, sumII, t);
}

double patchVariance(const NccImage &image, const NccTemplate &t, cv::Point topLeft)
{
    const cv::Rect r(topLeft, t.size());
    if (t.count < 1 || image.value.empty() || r.x < 0 || r.y < 0 || r.x + r.width > image.value.cols ||
        r.y + r.height > image.value.rows)
        return -1;
    const double sumI = image.value(r).dot(t.weight);
    const double sumII = image.square(r).dot(t.weight);
    return std::max(0.0, (sumII - sumI * sumI / t.count) / t.count);
}

cv::Mat nccMap(const NccImage &image, const NccTemplate &t)
{
    if (!t.isUsable() || image.value.empty() || image.value.cols < t.size().width ||
        image.value.rows < t.size().height)
        return cv::Mat();
    cv::Mat num, sumI, sumII;
    cv::matchTemplate(image.value, t.zeroMean, num, cv::TM_CCORR);
    cv::matchTemplate(image.value, t.weight, sumI, cv::TM_CCORR);
    cv::matchTemplate(image.square, t.weight, sumII, cv::TM_CCORR);
    cv::Mat out(num.size(), CV_32F);
    for (int y = 0; y < out.rows; ++y) {
        const float *pn = num.ptr<float>(y);
        const float *pi = sumI.ptr<float>(y);
        const float *pii = sumII.ptr<float>(y);
        float *po = out.ptr<float>(y);
        for (int x = 0; x < out.cols; ++x)
            po[x] = float(score(pn[x], pi[x], pii[x], t));
    }
    return out;
}

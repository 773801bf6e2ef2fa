#pragma once
// The slow, obviously correct answer for the positioning search: the shape turned by every whole degree
// within its limit about its own centre (as the search turns it), only the turned rectangle counted
// (the corners it turns out of are masked off), scored with cv::matchTemplate TM_CCOEFF_NORMED and that
// mask at every place of the window. Used by the tests and the positioning benchmark as the judge of
// where the shape is; far too slow for the box.

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace maskedref {

// The shape turned by `degrees` (counter-clockwise positive, as cv::getRotationMatrix2D) about the
// centre the search turns it about, and the mask (CV_32F, 1 = counted) of the turned rectangle.
inline void turnShape(const cv::Mat &shape, double degrees, cv::Mat &turned, cv::Mat &mask)
{
    const cv::Point2f centre(float(shape.cols / 2), float(shape.rows / 2));
    const cv::Mat rot = cv::getRotationMatrix2D(centre, degrees, 1.0);
    cv::warpAffine(shape, turned, rot, shape.size(), cv::INTER_LINEAR, cv::BORDER_REPLICATE);
    cv::Mat ones(shape.size(), CV_8UC1, cv::Scalar(255)), m;
    cv::warpAffine(ones, m, rot, shape.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar(0));
    cv::Mat binary = m >= 128;
    binary.convertTo(mask, CV_32F, 1.0 / 255);
}

// Masked score of the shape turned by `degrees` with its top-left at `topLeft` of `window`; -2 when the
// place is not inside the window.
inline double scoreAt(const cv::Mat &window, const cv::Mat &shape, cv::Point topLeft, double degrees)
{
    const cv::Rect r(topLeft, shape.size());
    if ((r & cv::Rect(0, 0, window.cols, window.rows)) != r)
        return -2;
    cv::Mat turned, mask, result;
    turnShape(shape, degrees, turned, mask);
    cv::matchTemplate(window(r), turned, result, cv::TM_CCOEFF_NORMED, mask);
    const float s = result.at<float>(0, 0);
    return std::isfinite(s) ? std::min(1.0, double(s)) : 0.0;
}

struct Best
{
    cv::Point topLeft;
    int degrees = 0;
    double score = -2;
    // Best score of any turn at a place more than `kApart` pixels from the best one in x or y: how far
    // the best place leads whatever else the window offers.
    double runnerUp = -2;
};
constexpr int kApart = 8;

// Every whole degree in -limit..limit at every place of the window.
inline Best search(const cv::Mat &window, const cv::Mat &shape, int limit)
{
    Best best;
    cv::Mat bestMap, result;
    for (int a = -limit; a <= limit; ++a) {
        if (limit == 180 && a == -180)
            continue; // the same turn as +180
        cv::Mat turned, mask;
        turnShape(shape, a, turned, mask);
        cv::matchTemplate(window, turned, result, cv::TM_CCOEFF_NORMED, mask);
        cv::patchNaNs(result, 0);
        double maxVal;
        cv::Point maxLoc;
        cv::minMaxLoc(result, nullptr, &maxVal, nullptr, &maxLoc);
        if (maxVal > best.score) {
            best.score = std::min(1.0, maxVal);
            best.topLeft = maxLoc;
            best.degrees = a;
        }
        if (bestMap.empty())
            bestMap = result.clone();
        else
            bestMap = cv::max(bestMap, result);
    }
    const cv::Rect near(best.topLeft.x - kApart, best.topLeft.y - kApart, 2 * kApart + 1, 2 * kApart + 1);
    bestMap(near & cv::Rect(0, 0, bestMap.cols, bestMap.rows)).setTo(cv::Scalar(-2));
    double runnerUp = -2;
    cv::minMaxLoc(bestMap, nullptr, &runnerUp);
    best.runnerUp = std::min(1.0, runnerUp);
    return best;
}

} // namespace maskedref

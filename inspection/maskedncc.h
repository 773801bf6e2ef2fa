#pragma once
// Normalised cross-correlation of an image patch with a template over the template's mask: the score
// both the similarity matcher and the positioning shape are built on. It ignores brightness gain and
// offset, and is 0 where either side has no contrast, so a flat frame never "matches".
//
// Pure functions; any thread.

#include <opencv2/core.hpp>

// A template ready for correlation: zero-mean inside the mask and 0 outside, so that a single dot
// product with an image patch gives the numerator.
struct NccTemplate
{
    cv::Mat zeroMean; // CV_32F, template minus its masked mean; 0 outside the mask
    cv::Mat weight;   // CV_32F, 1 inside the mask, 0 outside
    double count = 0; // pixels in the mask
    double norm2 = 0; // sum of zeroMean squared
    bool fullMask = false;

    bool isUsable() const { return count >= 2 && norm2 > 0; }
    cv::Size size() const { return zeroMean.size(); }
};

// An image prepared for many correlations: values moved near 0 (keeps the float sums exact enough)
// and their squares.
struct NccImage
{
    cv::Mat value;  // CV_32F
    cv::Mat square; // CV_32F

    cv::Size size() const { return value.size(); }
};

// Grey-level variance below which a patch or template counts as flat (no contrast).
constexpr double kFlatVariance = 1.0;

// `mask` may be empty (every pixel counts); otherwise 8-bit of the template's size, non-zero counts.
NccTemplate makeNccTemplate(const cv::Mat &templ8u, const cv::Mat &mask);
NccImage makeNccImage(const cv::Mat &image8u);

// Score in -1..1 of the template placed with its top-left at `topLeft`; 0 when the patch does not
// lie inside the image or either side is flat.
double nccAt(const NccImage &image, const NccTemplate &templ, cv::Point topLeft);

// Grey-level variance of the image patch under the template's mask at `topLeft`; -1 when the patch
// does not lie inside the image.
double patchVariance(const NccImage &image, const NccTemplate &templ, cv::Point topLeft);

// Scores for every placement inside the image (CV_32F, (W - w + 1) x (H - h + 1)); empty when the
// template does not fit.
cv::Mat nccMap(const NccImage &image, const NccTemplate &templ);

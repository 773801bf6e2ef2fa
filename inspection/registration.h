#pragma once
// Image registration of a live frame onto a slot's template: SIFT features of both, a best-of-two-
// nearest match, a RANSAC homography and a perspective warp. It takes out the small turn and tilt of
// a camera knocked by the mould before the regions are judged.
//
// Everything works on copies shrunk to about half a megapixel (RegistrationTemplate::scale); point
// positions are scaled back before the homography, so the warp applies to the full frame.
//
// Speed: next to SIFT on the frame, the matching was the cost (OpenCV's matcher builds search trees for
// both sides of every pair, then estimates a homography of its own that is thrown away). The matching
// is done by featurematch.h with the template's trees built once, with the template.
//
// The template record belongs to one CameraDetector slot: the thread judging that camera (the GUI
// thread, or one worker of the slot judgement while the GUI thread waits) is its only user; no locking.
// On a worker, idle workers may search its template's trees for part of a frame's features meanwhile
// (featurematch.h, sharedwork.h), reading only, while that worker waits for them.
// A frame registers the same on every thread and every time (the search trees are seeded).

#include "featurematch.h"

#include <opencv2/core.hpp>
#include <opencv2/stitching/detail/matchers.hpp>

#include <memory>
#include <vector>

// Registration state of one detection slot.
struct RegistrationTemplate
{
    cv::Mat mask; // 8-bit, the registration mask shrunk by `scale`; empty = whole image
    // Entry 0: the live frame (rewritten by every registration); entry 1: the template.
    std::vector<cv::detail::ImageFeatures> features = std::vector<cv::detail::ImageFeatures>(2);
    float scale = 1.0f;
    // The template's descriptors in search trees, built with entry 1; null when it has none.
    std::shared_ptr<const FeatureForest> templateForest;
};

// min(1, sqrt(500000 / (rows x cols))) as a float; 1 for an empty image.
float registrationScale(int rows, int cols);

// Fills `r` from the template `templ` (8-bit grey or BGR) and its registration mask (8-bit of the
// template's size, or empty for the whole image). The template's old features are dropped first, so a
// failure leaves no stale template behind. True when at least `minFeatures` keypoints were found.
bool prepareRegistrationTemplate(RegistrationTemplate &r, const cv::Mat &templ, const cv::Mat &mask,
                                 int minFeatures);

// SIFT keypoints and descriptors of `img`, shrunk by r.scale and under r.mask when that fits the
// shrunk image, into `out` with image index `index`. An empty image leaves `out` alone; a failure
// inside OpenCV leaves it empty.
void computeFeatures(RegistrationTemplate &r, const cv::Mat &img, cv::detail::ImageFeatures &out, int index);

// Warps `live` onto the template into `output` (made live's size and type; a view of that size and
// type is written in place). False, with `output` untouched, when the live image is empty, fewer
// than 4 point pairs match, or no homography is found.
bool registerImage(RegistrationTemplate &r, const cv::Mat &live, cv::Mat &output, float matchConfidence);

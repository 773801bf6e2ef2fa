#pragma once
// Similarity matcher of one region: scores 0..100 how much a frame looks like the region's good
// templates, whatever the lamp's brightness and allowing the part to sit a few pixels off.
//
// The score is the best normalised cross-correlation over the templates and over shifts of up to
// kMaxShift pixels, computed over the region mask. Templates are copied: the caller's cuts are views
// into buffers it overwrites.
//
// GUI thread only (owned by CameraDetector); no locking.

#include "maskedncc.h"

#include <opencv2/core.hpp>

#include <vector>

class SURF
{
public:
    // Largest shift, in pixels, under which a frame still scores as its template.
    static constexpr int kMaxShift = 3;
    // A pixel differs from the best template when their contrast-normalised values are further apart
    // than this many standard deviations.
    static constexpr double kDiffSigma = 1.5;

    SURF() = default;
    ~SURF() = default;

    // Sizes the matcher to a w x h region with its mask (255 = pixel counts); a mask of another size
    // or type makes every pixel count. Drops earlier templates and training.
    void Create(int w, int h, const cv::Mat &mask);

    // Adds one good template cut to the region (copied). Templates of another size or type are
    // ignored. The three numbers are accepted for callers and unused.
    void AddTemp(const cv::Mat &templ, int, int, int);

    // Prepares the templates added so far; valid afterwards. The numbers are unused.
    void Train(int, int, int, int);

    // Score 0..100 of `image` (8-bit, region size). `out`, when it is an 8-bit image of the region
    // size, gets 255 at the mask pixels that differ from the best-matching template (measured like a
    // difference image); it is written in place. 0 without templates or on a size mismatch.
    float Match(cv::Mat &image, cv::Mat &out);

    bool IsValid() const { return m_trained; }
    void Clear();

    int templateCount() const { return int(m_added.size() + m_prepared.size()); }

private:
    int m_w = 0;
    int m_h = 0;
    int m_shift = 0;
    cv::Mat m_mask;                      // 8-bit, region size
    std::vector<cv::Mat> m_added;        // copies waiting for Train
    std::vector<NccTemplate> m_prepared; // interiors (region less m_shift on each side)
    bool m_trained = false;
};

#pragma once
// Defect matcher of one region: learns from the good templates how far each pixel may vary and marks
// the pixels of a frame that fall outside that envelope.
//
// The templates handed to AddTemp are views into buffers the caller overwrites (the colour camera's
// grey scratch buffer), so only per-pixel statistics are kept, never the views.
//
// One matcher belongs to one detector slot and region: the thread judging that camera (the GUI thread,
// or one worker of the slot judgement while the GUI thread waits) is its only user; no locking.

#include <opencv2/core.hpp>

class GrayMatch
{
public:
    GrayMatch() = default;
    ~GrayMatch() = default;

    // Sizes the matcher to a w x h region and keeps a copy of its mask (255 = pixel counts). A mask of
    // another size or type cannot be trusted to line up with the region, so every pixel then counts.
    // Drops earlier templates and training. The last argument is accepted for callers and unused.
    void Create(int w, int h, const cv::Mat &mask, int);

    // Adds one good template, already cut to the region. Templates of another size or type are
    // ignored (logged): they cannot belong to this region.
    void AddTemp(const cv::Mat &templ);

    // Fixes the envelope: a pixel is out when (1 + amplify) times its distance outside the
    // templates' [min, max] range exceeds `tolerance` (region parameter 2, grey levels). `amplify` is
    // the difference amplification 0..4; larger values make small deviations count. The two last
    // arguments are accepted for callers and unused. Valid afterwards, even with no template.
    void Train(int tolerance, int amplify, int, int);

    // Sets to 255 the pixels of `diff` that lie in the mask and outside the learnt envelope; `diff`
    // must be the caller's zeroed 8-bit image of the region size and is written in place, never
    // reallocated. Without a template, or when sizes do not fit, `diff` is left as it is.
    void Match(const cv::Mat &image, cv::Mat &diff) const;

    bool IsValid() const { return m_trained; }
    void Clear();

    // Templates learnt since Create.
    int templateCount() const { return m_count; }

private:
    int m_w = 0;
    int m_h = 0;
    cv::Mat m_mask;  // 8-bit, region size
    cv::Mat m_min;   // per-pixel minimum over the templates
    cv::Mat m_max;   // per-pixel maximum over the templates
    cv::Mat m_lower; // envelope after Train
    cv::Mat m_upper;
    int m_count = 0;
    bool m_trained = false;
};

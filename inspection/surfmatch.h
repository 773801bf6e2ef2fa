#pragma once
// Similarity matcher of one region: scores 0..100 how much a frame looks like the region's good
// templates, whatever the lamp's brightness and allowing the part to sit a few pixels off.
//
// The score is the best normalised cross-correlation over the templates and over shifts of up to
// kMaxShift pixels, computed over the region mask. Templates are copied: the caller's cuts are views
// into buffers it overwrites.
//
// Speed: the machine cycle judges every region of every camera inside the mould-open window, so all
// shifts of a template are correlated in one pass over the region, in exact integer arithmetic on
// 16-bit lanes, with the template and the mask's row spans prepared by Train. Rows and columns the
// mask leaves out are never visited. The frame's masked sums (for its mean and contrast) are shared by
// all templates, since they all carry the region's one mask.
//
// One matcher belongs to one detector slot and region: the thread judging that camera (the GUI thread,
// or one worker of the slot judgement while the GUI thread waits) is the only one using it. No locking.

#include <opencv2/core.hpp>

#include <cstdint>
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
    // Of the last Match that scored: the winning template (in the order added) and its shift; -1 and
    // (0, 0) before one.
    int bestTemplate() const { return m_bestTemplate; }
    cv::Point bestShift() const { return m_bestShift; }

private:
    // A trained template: its interior (the region less m_shift on every side) under the mask, as
    // 16-bit values laid out like m_weight, and its exact masked sums.
    struct Prepared
    {
        std::vector<int16_t> values;
        int64_t sum = 0;  // of the grey values under the mask
        double norm2 = 0; // squared deviations from the masked mean, times the mask's pixel count;
                          // 0 = no contrast
    };

    void prepareMask();
    // Exact masked correlation sums of the frame (widened into m_frame) for every shift.
    void frameSums(std::vector<int64_t> &sumI, std::vector<int64_t> &sumII) const;
    void correlate(const std::vector<int16_t> &templ, std::vector<int64_t> &out) const;
    void markDifferences(const Prepared &t, int dx, int dy, double sumI, double sumII, cv::Mat &out) const;

    int m_w = 0;
    int m_h = 0;
    int m_shift = 0;
    cv::Mat m_mask;               // 8-bit, region size
    std::vector<cv::Mat> m_added; // copies waiting for Train

    // Geometry of the interior, shared by every template.
    int m_innerW = 0;
    int m_innerH = 0;
    int m_stride = 0;                  // template row length: m_innerW rounded up to whole SIMD lanes
    int m_frameStride = 0;             // m_stride + 2 * m_shift: every shift's reads stay in the row
    std::vector<int16_t> m_weight;     // -1 under the mask, 0 elsewhere (a bit mask for the frame sums)
    std::vector<cv::Vec2i> m_spans;    // per interior row: [begin, end) in whole lanes; empty = skip
    double m_count = 0;                // mask pixels of the interior
    std::vector<Prepared> m_prepared;
    std::vector<int16_t> m_frame;      // scratch: the frame widened to 16 bits (region rows)
    bool m_trained = false;
    int m_bestTemplate = -1;
    cv::Point m_bestShift;
};

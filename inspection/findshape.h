#pragma once
// Positioning shape of one detection slot: finds where, and how turned, the mould's reference part
// lies in a search window of the frame, so that the frame can be moved back onto the templates.
//
// The search runs coarse to fine: every allowed angle is tried on a small copy of the image pyramid,
// and many places are followed down the pyramid with finer angle steps and a local climb of the
// correlation score (masked normalised cross-correlation, so lamp brightness does not matter). A mould
// plate repeats itself (alike cavities, long grinding marks): while coarse, many places and angles look
// as good as the true one, which only wins at full resolution. So each candidate from the top stands
// for its own neighbourhood of places and angles and climbs only within it until full resolution,
// where every candidate still near the best is finished and the best of them taken. Each level tries a
// bracket of angles around the coarser level's answer and walks on from its edge; the last step is
// interpolated between the grid's angles. At full resolution a climb also looks a few pixels along
// both axes, since parallel marks make a narrow ridge of scores that runs across the pixel grid. A
// climb scores the nine places around its own in one pass over the image, and the turned templates are
// built only for the angles the climbs ask for. A shape with fine grain scores high at full resolution
// only close to its true turn, which the coarser copies cannot see; so the best candidates at full
// resolution also try turns up to several degrees either side of their own, on a sparse copy of the
// shape as far apart as the shape's own score allows, following the ridge along which a move and a turn
// trade off (finer where it runs flat), and their places a few pixels farther along each axis.
//
// One shape belongs to one detector slot: the thread judging that camera (the GUI thread, or one
// worker of the slot judgement while the GUI thread waits) is its only user; no locking.

#include "maskedncc.h"

#include <opencv2/core.hpp>

#include <map>
#include <tuple>
#include <vector>

class FindShape
{
public:
    // The top of the pyramid keeps the shape at least this many pixels on its short side.
    static constexpr int kTopMinSize = 24;
    static constexpr int kMaxLevels = 5;

    FindShape() = default;
    ~FindShape() = default;

    // Builds the shape from `templ` (8-bit, copied), turned up to +-`angle` degrees (0..180) during
    // the search. (cx, cy) is the shape's centre in image coordinates: Find reports against it.
    // `mask` (255 = pixel belongs to the shape) of another size or type is replaced by an all-255
    // one. `param` is the least match, 0..100: Find fails unless the best score (correlation x 100)
    // is above it. A template without contrast under the mask gives no shape (IsValid false). The
    // remaining arguments are accepted for callers and unused.
    void CreateShape(const cv::Mat &templ, double, int, int angle, int cx, int cy, bool, int, cv::Mat mask,
                     int param, int);

    // Searches `window` (8-bit, cut from the frame at image position (wx, wy)). On success *x, *y and
    // *angle are set so that shifting the frame by (*x - wx, *y - wy) and then turning it by *angle
    // degrees (counter-clockwise positive, as cv::getRotationMatrix2D) about the shape centre
    // (cx, cy) puts the shape back where it was in the template. False when there is no shape, the
    // window is smaller than the shape, or no place scores above the least match; the outputs are
    // then untouched. The int and the first double are unused; null pointers are allowed.
    bool Find(cv::Mat &window, int, int *x, int *y, double *, double *angle) const;

    bool IsValid() const { return !m_levels.empty(); }
    void Clear();

    // Score (0..1) of the last successful Find; for diagnostics and tests.
    double lastScore() const { return m_lastScore; }
    int levelCount() const { return int(m_levels.size()); }

private:
    struct Level
    {
        cv::Mat templ;      // 8-bit
        cv::Mat mask;       // 8-bit, 255 = shape
        cv::Point2f centre; // rotation centre at this level
        NccTemplate upright;
    };
    // Angles are whole numbers of fine steps, so that every level searches the same grid and an
    // unturned frame can come out at exactly 0.
    struct Candidate
    {
        cv::Point topLeft;
        int turn = 0; // fine steps
        double score = -2;
        double below = -2, above = -2; // scores one step of the last climb either side of its turn
        cv::Rect area;                 // top-left places the candidate may climb to at its level
        int turnLo = -(1 << 30), turnHi = 1 << 30; // turns it may climb to
    };
    // A turned template as the climbs correlate it. The mask is kept as its stretches along each row,
    // so that the patch sums under it cost a pass over the image alone and no weight image is stored.
    struct Turned
    {
        cv::Mat zeroMean;            // CV_32F: the template less its mean over the mask; 0 outside it
        std::vector<cv::Vec3i> runs; // row, first column, end column of each stretch of the mask
        double count = 0;            // pixels in the mask
        double norm2 = 0;            // sum of zeroMean squared; 0 when the template has no contrast
        int rowStep = 1;             // zeroMean holds every rowStep-th row of the template only
    };
    // One pyramid level of the window as the climbs read it: grey values less their mean (keeps the
    // float sums exact enough) in a one-pixel frame of zeros, so that the nine placements around any
    // place the shape fits at are scored in one pass over the image. Scores already taken during the
    // running Find are remembered by turn and place, since the climbs of neighbouring turns and of the
    // candidates overlap.
    struct LevelImage
    {
        cv::Mat padded; // CV_32F, (W + 2) x (H + 2)
        cv::Size size;  // W x H
        std::map<std::tuple<int, int, int>, double> seen;
        std::map<int, Turned> sparse; // the full-resolution sweep's templates by turn
    };
    using TurnCache = std::vector<std::map<int, Turned>>;

    static std::vector<cv::Vec3i> maskRuns(const cv::Mat &mask8u);
    static std::vector<cv::Vec3i> turnedRectangleRuns(cv::Size size, const cv::Mat &rot);
    static Turned makeTurned(const cv::Mat &templ8u, std::vector<cv::Vec3i> runs, int rowStep = 1);
    static LevelImage makeLevelImage(const cv::Mat &image8u);
    static void blockScores(const LevelImage &image, const Turned &t, cv::Point centre, double scores[3][3]);
    NccTemplate rotated(int level, int turn) const;
    Turned turned(int level, int turn) const;
    const Turned &rotatedCached(int level, int turn) const;
    void keepUsedTurns() const;
    void climb(LevelImage &image, const Turned &t, int turn, Candidate &c, int maxSteps,
               int reach = 0) const;
    void turnClimb(LevelImage &image, int level, int step, Candidate &c, int reach) const;
    int sweepRowStep() const;
    Turned sparseTurned(int turn, int rowStep) const;
    void turnSweep(LevelImage &image, Candidate &c) const;
    double sparseProbe(LevelImage &image, int turn, cv::Point around, int places, cv::Point *where) const;

    std::vector<Level> m_levels;             // 0 = full resolution
    std::vector<int> m_topTurns;             // turns tried at the top level, fine steps
    std::vector<NccTemplate> m_topTemplates; // the top level turned by each of m_topTurns
    int m_topExponent = 0;                   // the top scan's spacing is 2^m_topExponent fine steps
    double m_fineStep = 0;                   // degrees; the farthest shape pixel moves half a pixel
    int m_limitTurns = 0;                    // the allowed turn in fine steps
    int m_sweepSpacing = 4;                  // fine steps between the turns of a full-resolution sweep
    int m_limit = 0;
    int m_cx = 0;
    int m_cy = 0;
    double m_minScore = 0;
    mutable double m_lastScore = 0;
    // Turned templates kept from one Find to the next: they depend on the shape alone, and a mould's
    // part lies at nearly the same angle every cycle, so the next search asks for the same turns.
    // After each Find only the turns it used are kept, so the cache never outgrows one search.
    mutable TurnCache m_turnCache;
    mutable std::vector<std::vector<int>> m_usedTurns; // per level, turns asked for by the running Find
};

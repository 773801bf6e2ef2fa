#include "findshape.h"

#include "inspectionlog.h"

#include <opencv2/core/hal/intrin.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <map>

namespace {
constexpr double kPi = 3.14159265358979323846;
// Correlation by which a place may trail the best one at the top of the pyramid and still be followed.
constexpr double kTopMargin = 0.25;
// ... and at the levels below, where the scores are sharper.
constexpr double kFollowMargin = 0.15;
// Places followed from the top, and down the levels below it.
constexpr int kTopCandidates = 64;
constexpr int kFollowCandidates = 16;
// Candidates finished at full resolution, where each costs most.
constexpr int kFinalCandidates = 12;
// Steps either side of a coarser level's turn that every level tries, and the full-resolution one. A
// wider bracket above full resolution costs a turned template per step and level; turns farther off
// are the full-resolution sweep's to find.
constexpr int kReach = 1;
constexpr int kFinalReach = 1;
// A climb above full resolution keeps near its candidate: on a surface that repeats itself, the
// candidates of one stretch would otherwise all climb to the one place that looks best while coarse,
// and the true place, only best at full resolution, would be lost.
constexpr int kCoarseSteps = 2;
constexpr int kFinalSteps = 32;
// Turn steps a level may walk on from the bracket around the coarser level's turn: a few undo a
// coarser level; more would only follow noise. At full resolution, along an edge across a smooth
// stretch, a move and a turn trade off, so the coarser levels may hand down a place more than a degree
// from its true turn, which only the full resolution's narrow peak of the turn shows; its steps are
// small, so it walks farther.
constexpr int kWalk = 4;
constexpr int kFinalWalk = 12;
// Pixels a full-resolution climb looks along each axis when no neighbour is better, and, for the places
// near the best, farther: a ridge of parallel marks may rise and fall along its length.
constexpr int kJump = 3;
constexpr int kFarJump = 6;
// At full resolution a shape with fine grain scores high only within a few fine steps of its true turn,
// while the coarser levels, which cannot see that grain, may have settled on a broad ridge of turns some
// way off: the best candidates try the turns up to this many fine steps either side, as far apart as the
// shape's own score stays above kSweepKeep half-way between two of them.
constexpr int kSweepTurns = 48;
constexpr double kSweepKeep = 0.98;
// The full-resolution candidates scoring within kSweepMargin of the best look farther along their ridge;
// the best kSweepCandidates of them also sweep the turns.
constexpr double kSweepMargin = 0.05;
constexpr int kSweepCandidates = 8;
// Rows of the shape a sweep's turn is scored on.
constexpr int kSweepRows = 64;
// ... at the places this many pixels either side of where the ridge of the turns before it leads.
constexpr int kSweepPlaces = 4;
// A sweep stops walking where its score falls this far below the candidate's own: no ridge goes on.
constexpr double kSweepDrop = 0.1;
// Where a sweep's scores stay within this of the candidate's own, the ridge is flat: a smooth stretch.
constexpr double kSweepFlat = 0.01;
// Rises of a sweep's scores climbed from, the highest first: on a ridge that runs flat the true turn's
// rise need not be the highest by the sparse rows.
constexpr int kSweepClimbs = 4;

double degrees(double radians)
{
    return radians * 180.0 / kPi;
}

// Angle that moves the shape's farthest pixel by `pixels` at a radius of `radius`.
double stepFor(double pixels, double radius)
{
    return degrees(std::atan(pixels / std::max(1.0, radius)));
}

double nccScore(double sumIT, double sumI, double sumII, double count, double norm2)
{
    const double variance = sumII - sumI * sumI / count;
    if (norm2 <= 0 || variance < kFlatVariance * count)
        return 0;
    const double s = sumIT / std::sqrt(variance * norm2);
    return std::isfinite(s) ? std::clamp(s, -1.0, 1.0) : 0; // rounding must not score above a perfect match
}
} // namespace

void FindShape::Clear()
{
    m_levels.clear();
    m_topTurns.clear();
    m_topTemplates.clear();
    m_topExponent = 0;
    m_fineStep = 0;
    m_sweepSpacing = 4;
    m_limitTurns = m_limit = m_cx = m_cy = 0;
    m_minScore = 0;
    m_lastScore = 0;
    m_turnCache.clear();
    m_usedTurns.clear();
}

void FindShape::CreateShape(const cv::Mat &templ, double, int, int angle, int cx, int cy, bool, int,
                            cv::Mat mask, int param, int)
{
    Clear();
    if (templ.empty() || templ.type() != CV_8UC1 || templ.cols < 2 || templ.rows < 2) {
        qCWarning(lcInspection) << "positioning shape: unusable template" << templ.cols << "x" << templ.rows;
        return;
    }
    if (mask.type() != CV_8UC1 || mask.size() != templ.size())
        mask = cv::Mat(templ.size(), CV_8UC1, cv::Scalar(255));

    Level base;
    base.templ = templ.clone();
    base.mask = (mask != 0);
    base.centre = cv::Point2f(float(templ.cols / 2), float(templ.rows / 2));
    base.upright = makeNccTemplate(base.templ, base.mask);
    if (!base.upright.isUsable()) {
        qCWarning(lcInspection) << "positioning shape: template has no contrast under its mask";
        return;
    }
    m_limit = std::clamp(angle, 0, 180);
    m_cx = cx;
    m_cy = cy;
    m_minScore = std::clamp(param, 0, 100) / 100.0;

    std::vector<Level> levels{base};
    while (int(levels.size()) < kMaxLevels &&
           std::min(levels.back().templ.cols, levels.back().templ.rows) / 2 >= kTopMinSize) {
        const Level &prev = levels.back();
        Level next;
        cv::pyrDown(prev.templ, next.templ);
        cv::Mat m;
        cv::pyrDown(prev.mask, m);
        next.mask = (m >= 128);
        // pyrDown puts pixel x of the smaller image where pixel 2x of the larger one was.
        next.centre = prev.centre / 2.0f;
        next.upright = makeNccTemplate(next.templ, next.mask);
        if (!next.upright.isUsable())
            break; // the coarse copy lost the contrast: search from the finer level
        levels.push_back(next);
    }
    m_levels = levels;

    // The finest angle step moves the farthest pixel of the shape by half a pixel; the allowed turn is
    // a whole number of them. The top scan steps by a power of two of them, about two top-level pixels.
    const Level &top = m_levels.back();
    const double topRadius = 0.5 * std::hypot(top.templ.cols, top.templ.rows);
    const double baseRadius = 0.5 * std::hypot(base.templ.cols, base.templ.rows);
    m_fineStep = stepFor(0.5, baseRadius);
    m_limitTurns = int(std::ceil(m_limit / m_fineStep - 1e-9));
    if (m_limitTurns > 0)
        m_fineStep = double(m_limit) / m_limitTurns;
    m_topExponent = 0;
    while (m_topExponent < 20 && m_fineStep * double(2 << m_topExponent) <= stepFor(2.0, topRadius))
        ++m_topExponent;
    const int topStep = 1 << m_topExponent;
    for (int t = -(m_limitTurns / topStep) * topStep; t <= m_limitTurns; t += topStep)
        m_topTurns.push_back(t);
    // The ends of the allowed range are tried even when they are off the grid.
    if (m_limitTurns % topStep != 0) {
        m_topTurns.insert(m_topTurns.begin(), -m_limitTurns);
        m_topTurns.push_back(m_limitTurns);
    }
    for (int t : m_topTurns)
        m_topTemplates.push_back(rotated(int(m_levels.size()) - 1, t));

    // How far the shape may be turned and still score kSweepKeep against itself, on the rows a sweep
    // scores.
    m_sweepSpacing = 4;
    if (m_limitTurns > 0) {
        const LevelImage upright = makeLevelImage(base.templ);
        for (int half : {3, 4, 6, 8}) {
            double scores[3][3];
            blockScores(upright, sparseTurned(half, sweepRowStep()), cv::Point(0, 0), scores);
            if (scores[1][1] < kSweepKeep)
                break;
            m_sweepSpacing = 2 * half;
        }
    }
}

NccTemplate FindShape::rotated(int level, int turn) const
{
    const Level &lv = m_levels[size_t(level)];
    if (turn == 0)
        return lv.upright;
    const cv::Mat rot = cv::getRotationMatrix2D(lv.centre, turn * m_fineStep, 1.0);
    cv::Mat t, m;
    cv::warpAffine(lv.templ, t, rot, lv.templ.size(), cv::INTER_LINEAR, cv::BORDER_REPLICATE);
    cv::warpAffine(lv.mask, m, rot, lv.mask.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar(0));
    return makeNccTemplate(t, m >= 128);
}

// `mask8u` counts from 128 up: a turned mask is interpolated at its edge.
std::vector<cv::Vec3i> FindShape::maskRuns(const cv::Mat &mask8u)
{
    std::vector<cv::Vec3i> runs;
    for (int y = 0; y < mask8u.rows; ++y) {
        const uchar *m = mask8u.ptr<uchar>(y);
        for (int x = 0; x < mask8u.cols;) {
            while (x < mask8u.cols && m[x] < 128)
                ++x;
            const int start = x;
            while (x < mask8u.cols && m[x] >= 128)
                ++x;
            if (x > start)
                runs.emplace_back(y, start, x);
        }
    }
    return runs;
}

// The runs of a whole rectangle of `size` turned by `rot` (as cv::warpAffine would turn it): the pixels
// whose source lies within half a pixel of the rectangle, where an interpolated mask reaches one half.
// One row of a turned rectangle is a single stretch, so no mask needs to be turned.
std::vector<cv::Vec3i> FindShape::turnedRectangleRuns(cv::Size size, const cv::Mat &rot)
{
    cv::Mat inverse;
    cv::invertAffineTransform(rot, inverse);
    const double *a = inverse.ptr<double>(0);
    const double *b = inverse.ptr<double>(1);
    std::vector<cv::Vec3i> runs;
    for (int y = 0; y < size.height; ++y) {
        double lo = 0, hi = size.width - 1;
        // source = slope * x + offset must lie in [-0.5, limit - 0.5]
        const auto keep = [&](double slope, double offset, double limit) {
            const double from = -0.5 - offset, to = limit - 0.5 - offset;
            if (std::abs(slope) < 1e-12) {
                if (from > 0 || to < 0)
                    hi = -1;
                return;
            }
            const double x1 = from / slope, x2 = to / slope;
            lo = std::max(lo, std::min(x1, x2));
            hi = std::min(hi, std::max(x1, x2));
        };
        keep(a[0], a[1] * y + a[2], size.width);
        keep(b[0], b[1] * y + b[2], size.height);
        const int first = int(std::ceil(lo)), last = int(std::floor(hi));
        if (first <= last)
            runs.emplace_back(y, first, last + 1);
    }
    return runs;
}

FindShape::Turned FindShape::makeTurned(const cv::Mat &templ8u, std::vector<cv::Vec3i> runs, int rowStep)
{
    Turned t;
    t.runs = std::move(runs);
    t.rowStep = rowStep;
    t.zeroMean = cv::Mat::zeros(templ8u.size(), CV_32F);
    int64_t sum = 0, sumSq = 0, count = 0;
    for (const cv::Vec3i &run : t.runs) {
        const uchar *v = templ8u.ptr<uchar>(run[0] / rowStep);
        float *z = t.zeroMean.ptr<float>(run[0] / rowStep);
        count += run[2] - run[1];
        // 32-bit sums of up to 2^15 pixels cannot overflow, and they vectorise.
        for (int from = run[1]; from < run[2]; from += 1 << 15) {
            const int to = std::min(run[2], from + (1 << 15));
            int s = 0, q = 0;
            for (int i = from; i < to; ++i) {
                s += v[i];
                q += v[i] * v[i];
                z[i] = float(v[i]);
            }
            sum += s;
            sumSq += q;
        }
    }
    t.count = double(count);
    // Whole-number sums give the contrast exactly, however the float template rounds.
    const double mean = count > 0 ? double(sum) / double(count) : 0.0;
    t.norm2 = double(sumSq) - double(sum) * mean;
    if (count < 2 || t.norm2 < kFlatVariance * t.count) {
        t.norm2 = 0; // no contrast: nothing can be matched against it
        t.zeroMean.setTo(cv::Scalar(0));
        return t;
    }
    const float fmean = float(mean);
    for (const cv::Vec3i &run : t.runs) {
        float *z = t.zeroMean.ptr<float>(run[0] / rowStep);
        for (int i = run[1]; i < run[2]; ++i)
            z[i] -= fmean;
    }
    return t;
}

FindShape::LevelImage FindShape::makeLevelImage(const cv::Mat &image8u)
{
    LevelImage li;
    li.size = image8u.size();
    li.padded.create(image8u.rows + 2, image8u.cols + 2, CV_32F);
    cv::Mat inner = li.padded(cv::Rect(1, 1, image8u.cols, image8u.rows));
    image8u.convertTo(inner, CV_32F, 1.0, -cv::mean(image8u)[0]);
    li.padded.row(0).setTo(cv::Scalar(0));
    li.padded.row(li.padded.rows - 1).setTo(cv::Scalar(0));
    li.padded.col(0).setTo(cv::Scalar(0));
    li.padded.col(li.padded.cols - 1).setTo(cv::Scalar(0));
    return li;
}

// Scores of `t` with its top-left at centre + (dx - 1, dy - 1) into scores[dy][dx], in one pass: every
// image row read serves three rows of placements, and a stretch read one column to the left or right
// changes the patch sums only by its two ends. The centre must be a place where the shape fits; its
// neighbours outside the window read the frame of zeros and score nonsense, for the caller to skip.
void FindShape::blockScores(const LevelImage &image, const Turned &t, cv::Point centre, double scores[3][3])
{
    double num[3][3] = {}, sum[3][3] = {}, sq[3][3] = {};
    constexpr int kLanes = cv::v_float32x4::nlanes;
    for (const cv::Vec3i &run : t.runs) {
        const float *z = t.zeroMean.ptr<float>(run[0] / t.rowStep);
        const int x0 = run[1], x1 = run[2];
        for (int dy = 0; dy < 3; ++dy) {
            // Padded coordinates are one more than the window's, so this row holds placement dx at +dx.
            const float *row = image.padded.ptr<float>(centre.y + run[0] + dy) + centre.x;
            cv::v_float32x4 n0 = cv::v_setzero_f32(), n1 = n0, n2 = n0, s1 = n0, q1 = n0;
            int x = x0;
            for (; x + kLanes <= x1; x += kLanes) {
                const cv::v_float32x4 zv = cv::v_load(z + x);
                const cv::v_float32x4 i0 = cv::v_load(row + x);
                const cv::v_float32x4 i1 = cv::v_load(row + x + 1);
                const cv::v_float32x4 i2 = cv::v_load(row + x + 2);
                n0 = cv::v_fma(zv, i0, n0);
                n1 = cv::v_fma(zv, i1, n1);
                n2 = cv::v_fma(zv, i2, n2);
                s1 = s1 + i1;
                q1 = cv::v_fma(i1, i1, q1);
            }
            double c0 = cv::v_reduce_sum(n0), c1 = cv::v_reduce_sum(n1), c2 = cv::v_reduce_sum(n2);
            double s = cv::v_reduce_sum(s1), q = cv::v_reduce_sum(q1);
            for (; x < x1; ++x) {
                c0 += double(z[x]) * row[x];
                c1 += double(z[x]) * row[x + 1];
                c2 += double(z[x]) * row[x + 2];
                s += row[x + 1];
                q += double(row[x + 1]) * row[x + 1];
            }
            const double first = row[x0], last = row[x1], second = row[x0 + 1], beyond = row[x1 + 1];
            num[dy][0] += c0;
            num[dy][1] += c1;
            num[dy][2] += c2;
            sum[dy][0] += s + first - last;
            sum[dy][1] += s;
            sum[dy][2] += s - second + beyond;
            sq[dy][0] += q + first * first - last * last;
            sq[dy][1] += q;
            sq[dy][2] += q - second * second + beyond * beyond;
        }
    }
    for (int dy = 0; dy < 3; ++dy) {
        for (int dx = 0; dx < 3; ++dx)
            scores[dy][dx] = nccScore(num[dy][dx], sum[dy][dx], sq[dy][dx], t.count, t.norm2);
    }
}

FindShape::Turned FindShape::turned(int level, int turn) const
{
    const Level &lv = m_levels[size_t(level)];
    if (turn == 0)
        return makeTurned(lv.templ, maskRuns(lv.mask));
    const cv::Mat rot = cv::getRotationMatrix2D(lv.centre, turn * m_fineStep, 1.0);
    cv::Mat t;
    cv::warpAffine(lv.templ, t, rot, lv.templ.size(), cv::INTER_LINEAR, cv::BORDER_REPLICATE);
    if (lv.upright.fullMask)
        return makeTurned(t, turnedRectangleRuns(lv.templ.size(), rot));
    cv::Mat m;
    cv::warpAffine(lv.mask, m, rot, lv.mask.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar(0));
    return makeTurned(t, maskRuns(m));
}

const FindShape::Turned &FindShape::rotatedCached(int level, int turn) const
{
    std::map<int, Turned> &atLevel = m_turnCache[size_t(level)];
    if (size_t(level) < m_usedTurns.size())
        m_usedTurns[size_t(level)].push_back(turn);
    auto it = atLevel.find(turn);
    if (it == atLevel.end())
        it = atLevel.emplace(turn, turned(level, turn)).first;
    return it->second;
}

void FindShape::keepUsedTurns() const
{
    for (size_t l = 0; l < m_turnCache.size() && l < m_usedTurns.size(); ++l) {
        std::vector<int> &used = m_usedTurns[l];
        std::sort(used.begin(), used.end());
        std::map<int, Turned> &atLevel = m_turnCache[l];
        for (auto it = atLevel.begin(); it != atLevel.end();) {
            const bool wanted = std::binary_search(used.begin(), used.end(), it->first);
            it = wanted ? std::next(it) : atLevel.erase(it);
        }
        used.clear();
    }
}

// Moves the candidate to the best neighbour until no neighbour scores higher.
void FindShape::climb(LevelImage &image, const Turned &t, int turn, Candidate &c, int maxSteps,
                      int reach) const
{
    const int maxX = image.size.width - t.zeroMean.cols;
    const int maxY = image.size.height - t.zeroMean.rows;
    const auto inside = [&](cv::Point q) { return q.x >= 0 && q.y >= 0 && q.x <= maxX && q.y <= maxY; };
    const auto allowed = [&](cv::Point q) { return inside(q) && (c.area.empty() || c.area.contains(q)); };
    // Scores around p, from the remembered ones where all are known, else from one pass.
    double around[3][3];
    const auto look = [&](cv::Point p) {
        bool missing = false;
        for (int dy = -1; dy <= 1 && !missing; ++dy) {
            for (int dx = -1; dx <= 1 && !missing; ++dx) {
                const cv::Point q(p.x + dx, p.y + dy);
                missing = inside(q) && image.seen.count(std::make_tuple(turn, q.x, q.y)) == 0;
            }
        }
        double fresh[3][3];
        if (missing)
            blockScores(image, t, p, fresh);
        for (int dy = -1; dy <= 1; ++dy) {
            for (int dx = -1; dx <= 1; ++dx) {
                const cv::Point q(p.x + dx, p.y + dy);
                if (!inside(q))
                    continue;
                const auto key = std::make_tuple(turn, q.x, q.y);
                if (missing)
                    image.seen.emplace(key, fresh[dy + 1][dx + 1]);
                around[dy + 1][dx + 1] = image.seen.at(key);
            }
        }
    };
    cv::Point p(std::clamp(c.topLeft.x, 0, maxX), std::clamp(c.topLeft.y, 0, maxY));
    look(p);
    double best = around[1][1];
    int jumps = reach > 0 ? 4 : 0;
    for (int step = 0; step < maxSteps; ++step) {
        cv::Point next = p;
        for (int dy = -1; dy <= 1; ++dy) {
            for (int dx = -1; dx <= 1; ++dx) {
                const cv::Point q(p.x + dx, p.y + dy);
                if ((dx == 0 && dy == 0) || !allowed(q))
                    continue;
                const double s = around[dy + 1][dx + 1];
                if (s > best) {
                    best = s;
                    next = q;
                }
            }
        }
        if (next == p) {
            // Parallel marks on the surface make a narrow ridge of scores that runs across the pixel
            // grid, so its top need not be reachable one neighbour at a time: look a few pixels along
            // both axes before giving up, and, looking farther, along the diagonals, where an edge across
            // a smooth stretch leaves the true place's narrow peak beside a slanting ridge.
            for (const cv::Point jump :
                 {cv::Point(0, -3), cv::Point(0, 3), cv::Point(-3, 0), cv::Point(3, 0), cv::Point(0, -6),
                  cv::Point(0, 6), cv::Point(-6, 0), cv::Point(6, 0), cv::Point(-6, -6), cv::Point(6, 6),
                  cv::Point(-6, 6), cv::Point(6, -6)}) {
                if (jumps <= 0 || !inside(p + jump) || std::max(std::abs(jump.x), std::abs(jump.y)) > reach)
                    continue;
                look(p + jump);
                for (int dy = -1; dy <= 1; ++dy) {
                    for (int dx = -1; dx <= 1; ++dx) {
                        const cv::Point q(p.x + jump.x + dx, p.y + jump.y + dy);
                        if (allowed(q) && around[dy + 1][dx + 1] > best) {
                            best = around[dy + 1][dx + 1];
                            next = q;
                        }
                    }
                }
            }
            --jumps;
            if (next == p)
                break;
        }
        p = next;
        look(p);
    }
    c.topLeft = p;
    c.score = best;
}

// Scores the candidate's turn and the turns up to `reach` steps of `step` fine steps either side (each
// at its best nearby place) and walks on from the best while the score rises: a coarser level's answer
// may be off by more than the bracket.
void FindShape::turnClimb(LevelImage &image, int level, int step, Candidate &c, int reach) const
{
    // Each turn climbs from the same place: on a surface of parallel marks a turn and a small move trade
    // off, and a climb that started from a neighbouring turn's answer would follow that ridge instead
    // of finding the turn's own best place.
    Candidate from = c;
    std::map<int, Candidate> tried;
    const auto at = [&](int turn) -> const Candidate & {
        auto it = tried.find(turn);
        if (it != tried.end())
            return it->second;
        Candidate t = from;
        t.turn = turn;
        if (std::abs(turn) > m_limitTurns || turn < from.turnLo || turn > from.turnHi)
            t.score = -2;
        else
            climb(image, rotatedCached(level, turn), turn, t, level == 0 ? kFinalSteps : kCoarseSteps);
        return tried.emplace(turn, t).first->second;
    };
    const auto walk = [&](Candidate &best) {
        for (int walked = 0; walked < (level == 0 ? kFinalWalk : kWalk); ++walked) {
            const Candidate &below = at(best.turn - step);
            const Candidate &above = at(best.turn + step);
            if (above.score > best.score && above.score >= below.score)
                best = above;
            else if (below.score > best.score)
                best = below;
            else
                break;
        }
    };
    if (step == 0) {
        c = at(c.turn);
        climb(image, rotatedCached(level, c.turn), c.turn, c, kFinalSteps, level == 0 ? kJump : 0);
        c.below = c.above = -2;
        return;
    }
    Candidate best = at(from.turn);
    for (int k = 1; k <= reach; ++k) {
        for (int turn : {from.turn - k * step, from.turn + k * step}) {
            const Candidate &t = at(turn);
            if (t.score > best.score)
                best = t;
        }
    }
    walk(best);
    // The best turn's place, looked for farther afield; a better place found there may prefer a
    // neighbouring turn, so the turns around it climb again from there.
    Candidate wider = best;
    climb(image, rotatedCached(level, best.turn), best.turn, wider, kFinalSteps, level == 0 ? kJump : 0);
    if (wider.topLeft != best.topLeft) {
        tried.clear();
        from = wider;
        best = at(from.turn);
        walk(best);
    }
    c = best;
    c.below = tried.count(best.turn - step) ? tried.at(best.turn - step).score : -2;
    c.above = tried.count(best.turn + step) ? tried.at(best.turn + step).score : -2;
}

int FindShape::sweepRowStep() const
{
    return std::max(1, m_levels.front().templ.rows / kSweepRows);
}

// The full-resolution shape turned by `turn`, on every `rowStep`-th row only (the others are left out of
// its runs): enough to tell the turns of a sweep apart at a fraction of a whole template's cost.
FindShape::Turned FindShape::sparseTurned(int turn, int rowStep) const
{
    const Level &lv = m_levels.front();
    const cv::Mat rot = cv::getRotationMatrix2D(lv.centre, turn * m_fineStep, 1.0);
    cv::Mat inverse;
    cv::invertAffineTransform(rot, inverse);
    // Row r of the strip is row r * rowStep of the whole turned template.
    inverse.col(1) *= rowStep;
    const int rows = (lv.templ.rows + rowStep - 1) / rowStep;
    cv::Mat strip;
    cv::warpAffine(lv.templ, strip, inverse, cv::Size(lv.templ.cols, rows),
                   cv::INTER_LINEAR | cv::WARP_INVERSE_MAP, cv::BORDER_REPLICATE);
    std::vector<cv::Vec3i> runs;
    if (lv.upright.fullMask) {
        runs = turnedRectangleRuns(lv.templ.size(), rot);
    } else {
        cv::Mat m;
        cv::warpAffine(lv.mask, m, rot, lv.mask.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT,
                       cv::Scalar(0));
        runs = maskRuns(m);
    }
    runs.erase(
        std::remove_if(runs.begin(), runs.end(), [&](const cv::Vec3i &r) { return r[0] % rowStep != 0; }),
        runs.end());
    return makeTurned(strip, std::move(runs), rowStep);
}

// Best score of the sparse template of `turn` at the places within `places` pixels of `around`, scored
// in blocks of nine; *where is set to that place.
double FindShape::sparseProbe(LevelImage &image, int turn, cv::Point around, int places,
                              cv::Point *where) const
{
    const cv::Size shape = m_levels.front().templ.size();
    const int maxX = image.size.width - shape.width, maxY = image.size.height - shape.height;
    auto it = image.sparse.find(turn);
    if (it == image.sparse.end())
        it = image.sparse.emplace(turn, sparseTurned(turn, sweepRowStep())).first;
    const Turned &sparse = it->second;
    std::vector<int> offsets;
    for (int o = -places + 1; o < places + 2; o += 3)
        offsets.push_back(std::min(o, places - 1));
    double best = -2;
    for (int by : offsets) {
        for (int bx : offsets) {
            const cv::Point centre(std::clamp(around.x + bx, 0, maxX), std::clamp(around.y + by, 0, maxY));
            double scores[3][3];
            blockScores(image, sparse, centre, scores);
            for (int dy = -1; dy <= 1; ++dy) {
                for (int dx = -1; dx <= 1; ++dx) {
                    const cv::Point q(centre.x + dx, centre.y + dy);
                    if (q.x >= 0 && q.y >= 0 && q.x <= maxX && q.y <= maxY &&
                        scores[dy + 1][dx + 1] > best) {
                        best = scores[dy + 1][dx + 1];
                        *where = q;
                    }
                }
            }
        }
    }
    return best;
}

// Tries turns farther from the candidate's than its own climb did, on the sparse templates, and climbs
// from the tops that score above the candidate's own turn by the same measure. Away from the true turn
// the best place slides along a ridge (a move and a turn trade off), by 10 to 20 px over two degrees on
// a smooth stretch; so each turn, walking away from the candidate's, is looked for where the ridge is
// heading: the place of the turn before it, moved on as far again.
void FindShape::turnSweep(LevelImage &image, Candidate &c) const
{
    const cv::Size shape = m_levels.front().templ.size();
    const int maxX = image.size.width - shape.width, maxY = image.size.height - shape.height;
    const auto clampPlace = [&](cv::Point q) {
        return cv::Point(std::clamp(q.x, 0, maxX), std::clamp(q.y, 0, maxY));
    };
    const auto probe = [&](int turn, cv::Point around, cv::Point *where) {
        return sparseProbe(image, turn, around, kSweepPlaces, where);
    };
    struct Probe
    {
        int turn;
        double score;
        cv::Point where;
    };
    const cv::Point start = clampPlace(c.topLeft);
    cv::Point ownWhere;
    const double own = probe(c.turn, start, &ownWhere);
    std::vector<Probe> track{{c.turn, own, ownWhere}};
    const int spacing = m_sweepSpacing;
    for (int dir : {-1, 1}) {
        cv::Point prev = ownWhere, drift(0, 0);
        // The first turn on the grid of the sweep's spacing, so that candidates share sparse templates.
        int t = c.turn;
        const int floorDiv = (t >= 0 ? t : t - spacing + 1) / spacing;
        t = dir > 0 ? (floorDiv + 1) * spacing
                    : (floorDiv * spacing == t ? t - spacing : floorDiv * spacing);
        for (;;) {
            const int turn = std::clamp(t, -m_limitTurns, m_limitTurns);
            if (std::abs(turn - c.turn) > kSweepTurns || turn == track.back().turn ||
                (dir > 0 ? turn <= c.turn : turn >= c.turn))
                break;
            cv::Point where;
            const double score = probe(turn, clampPlace(prev + drift), &where);
            if (std::abs(turn - c.turn) > kFinalReach)
                track.push_back({turn, score, where});
            if (score < own - kSweepDrop)
                break; // off the ridge: the candidate's own turn is a peak this side
            drift = where - prev;
            prev = where;
            if (turn != t)
                break; // the limit
            t += dir * spacing;
        }
    }
    const auto byTurn = [](const Probe &a, const Probe &b) { return a.turn < b.turn; };
    std::sort(track.begin(), track.end(), byTurn);
    // Where the track runs flat, near the candidate's own score, the true turn's narrow peak may lie
    // between two of its turns: a smooth stretch scores almost as high as the true place along the whole
    // ridge. The turns half-way between are tried there too.
    const double flat = own - kSweepFlat;
    const size_t probed = track.size();
    for (size_t i = 0; i + 1 < probed; ++i) {
        const Probe &a = track[i], &b = track[i + 1];
        // Next to the candidate's own turn a high score is its own peak's flank, not a ridge.
        if (b.turn - a.turn < 2 || a.score < flat || b.score < flat || a.turn == c.turn || b.turn == c.turn)
            continue;
        cv::Point where;
        const int turn = (a.turn + b.turn) / 2;
        const double score = probe(turn, (a.where + b.where) / 2, &where);
        track.push_back({turn, score, where});
    }
    std::sort(track.begin(), track.end(), byTurn);
    // Each rise of the track above the candidate's own turn is climbed from its top, the best first.
    std::vector<Probe> tops;
    for (size_t i = 0; i < track.size(); ++i) {
        const Probe &q = track[i];
        const bool top = (i == 0 || track[i - 1].score <= q.score) &&
                         (i + 1 == track.size() || track[i + 1].score < q.score);
        // The candidate's own turn may score better a few pixels off than where its climb stopped.
        const bool moved =
            q.turn == c.turn && std::max(std::abs(q.where.x - start.x), std::abs(q.where.y - start.y)) > 1;
        if (top && (q.score > own || moved))
            tops.push_back(q);
    }
    std::sort(tops.begin(), tops.end(), [](const Probe &a, const Probe &b) { return a.score > b.score; });
    if (tops.size() > size_t(kSweepClimbs))
        tops.resize(size_t(kSweepClimbs));
    Candidate best = c;
    for (const Probe &q : tops) {
        Candidate from = c;
        from.turn = q.turn;
        from.topLeft = q.where;
        turnClimb(image, 0, 1, from, kFinalReach);
        if (from.score > best.score)
            best = from;
    }
    c = best;
}

bool FindShape::Find(cv::Mat &window, int, int *x, int *y, double *, double *angle) const
{
    if (m_levels.empty())
        return false;
    const cv::Size shape = m_levels.front().templ.size();
    if (window.empty() || window.type() != CV_8UC1 || window.cols < shape.width ||
        window.rows < shape.height)
        return false;

    const int topLevel = int(m_levels.size()) - 1;
    std::vector<cv::Mat> pyramid{window};
    for (int l = 1; l <= topLevel; ++l) {
        cv::Mat down;
        cv::pyrDown(pyramid.back(), down);
        pyramid.push_back(down);
    }

    // Every allowed angle over the whole window, at the top of the pyramid. The best places become the
    // candidates, each standing for its neighbourhood in place and angle: the top level is too coarse to
    // tell a turned shape from a neighbour moved a little under another angle, so one place may give a
    // candidate for each angle at which it stands out.
    const NccImage topImage = makeNccImage(pyramid.back());
    std::vector<cv::Mat> maps;
    for (size_t i = 0; i < m_topTurns.size(); ++i) {
        maps.push_back(nccMap(topImage, m_topTemplates[i]));
        if (maps.back().empty())
            return false;
    }
    // Best score over the angles at each place, and the index of its angle.
    cv::Mat bestMap(maps.front().size(), CV_32F), bestIndex(maps.front().size(), CV_32S);
    const auto bestOver = [&](const cv::Rect &r) {
        for (int row = r.y; row < r.y + r.height; ++row) {
            float *b = bestMap.ptr<float>(row);
            int *t = bestIndex.ptr<int>(row);
            for (int col = r.x; col < r.x + r.width; ++col) {
                b[col] = -2;
                for (size_t i = 0; i < maps.size(); ++i) {
                    const float v = maps[i].at<float>(row, col);
                    if (v > b[col]) {
                        b[col] = v;
                        t[col] = int(i);
                    }
                }
            }
        }
    };
    bestOver(cv::Rect(0, 0, bestMap.cols, bestMap.rows));
    const cv::Size topShape = m_levels.back().templ.size();
    const cv::Size suppress(std::max(1, topShape.width / 8), std::max(1, topShape.height / 8));
    std::vector<Candidate> candidates;
    while (int(candidates.size()) < kTopCandidates) {
        double maxVal;
        cv::Point maxLoc;
        cv::minMaxLoc(bestMap, nullptr, &maxVal, nullptr, &maxLoc);
        if (maxVal <= 0 || (!candidates.empty() && maxVal < candidates.front().score - kTopMargin))
            break;
        const int index = bestIndex.at<int>(maxLoc);
        Candidate c{maxLoc, m_topTurns[size_t(index)], maxVal};
        // The candidate stands for its neighbourhood and stays in it on the way down.
        c.area = cv::Rect(maxLoc.x - suppress.width / 2 - 1, maxLoc.y - suppress.height / 2 - 1,
                          suppress.width + 3, suppress.height + 3);
        // ... and near its angle: at the top a whole stretch of angles can look alike, and a climb to
        // the one of them that looks best while coarse would lose the true angle.
        const int reachTurns = 3 * (1 << m_topExponent) / 4;
        c.turnLo = c.turn - reachTurns;
        c.turnHi = c.turn + reachTurns;
        candidates.push_back(c);
        const cv::Rect r = cv::Rect(maxLoc.x - suppress.width, maxLoc.y - suppress.height,
                                    2 * suppress.width + 1, 2 * suppress.height + 1) &
                           cv::Rect(0, 0, bestMap.cols, bestMap.rows);
        maps[size_t(index)](r).setTo(cv::Scalar(-2));
        bestOver(r);
    }
    if (candidates.empty())
        return false;

    // Follow the candidates down. Level l climbs in steps of 2^l fine steps (the top level first in the
    // steps between its scan and its own resolution), so each level's step moves the farthest pixel by
    // about half of that level's pixel. A mould surface repeats itself: a place that looks as good as the
    // true one at a coarse level may only lose at full resolution, so every place near the best goes
    // down to full resolution with its turn refined before the best is taken.
    const auto byScore = [](const Candidate &a, const Candidate &b) { return a.score > b.score; };
    m_turnCache.resize(size_t(topLevel + 1));
    m_usedTurns.assign(size_t(topLevel + 1), {});
    int exponent = m_topExponent - 1;
    for (int l = topLevel; l >= 0; --l) {
        LevelImage image = makeLevelImage(pyramid[size_t(l)]);
        do {
            const int step = 1 << std::max(exponent, 0);
            for (Candidate &c : candidates)
                turnClimb(image, l, m_limitTurns > 0 ? step : 0, c, l == 0 ? kFinalReach : kReach);
            exponent = std::max(exponent - 1, 0);
        } while (exponent >= l && exponent > 0 && m_limitTurns > 0);

        std::sort(candidates.begin(), candidates.end(), byScore);
        if (l == 0) {
            // The places still near the best look farther along their ridge, and the best of them at
            // turns farther from their own.
            const double near = candidates.front().score - kSweepMargin;
            for (size_t i = 0; i < candidates.size() && candidates[i].score >= near; ++i) {
                Candidate &c = candidates[i];
                Candidate farther = c;
                climb(image, rotatedCached(0, c.turn), c.turn, farther, kFinalSteps, kFarJump);
                if (farther.topLeft != c.topLeft && m_limitTurns > 0)
                    turnClimb(image, 0, 1, farther, kFinalReach);
                if (farther.score > c.score)
                    c = farther;
                if (i < size_t(kSweepCandidates) && m_limitTurns > 0)
                    turnSweep(image, c);
            }
            std::sort(candidates.begin(), candidates.end(), byScore);
        }
        // Two climbs may have met at one place.
        for (size_t i = 1; i < candidates.size();) {
            const bool same =
                std::any_of(candidates.begin(), candidates.begin() + long(i), [&](const Candidate &c) {
                    return std::abs(c.topLeft.x - candidates[i].topLeft.x) <= 1 &&
                           std::abs(c.topLeft.y - candidates[i].topLeft.y) <= 1 &&
                           std::abs(c.turn - candidates[i].turn) <= (1 << l);
                });
            if (same)
                candidates.erase(candidates.begin() + long(i));
            else
                ++i;
        }
        if (l == 0)
            break;
        if (l == 1) {
            // At full resolution the true turn stands out: a candidate may turn as far as it climbs.
            for (Candidate &c : candidates) {
                c.turnLo = -m_limitTurns;
                c.turnHi = m_limitTurns;
            }
        }
        const double keepAbove = candidates.front().score - kFollowMargin;
        while (candidates.size() > 1 && candidates.back().score < keepAbove)
            candidates.pop_back();
        candidates.resize(
            std::min(candidates.size(), size_t(l == 1 ? kFinalCandidates : kFollowCandidates)));
        for (Candidate &c : candidates) {
            c.topLeft *= 2;
            c.area = cv::Rect(c.area.x * 2, c.area.y * 2, c.area.width * 2 + 1, c.area.height * 2 + 1);
        }
    }

    const Candidate &found = candidates.front();
    keepUsedTurns();
    if (found.score * 100.0 <= m_minScore * 100.0)
        return false;
    m_lastScore = found.score;

    // Between the grid's angles: the top of the parabola through the best turn and its neighbours.
    double turn = found.turn;
    const double curve = found.below - 2 * found.score + found.above;
    if (m_limitTurns > 0 && found.below > -2 && found.above > -2 && curve < 0)
        turn += std::clamp(0.5 * (found.below - found.above) / curve, -0.5, 0.5);
    turn = std::clamp(turn, double(-m_limitTurns), double(m_limitTurns));

    const cv::Point centreInWindow(found.topLeft.x + shape.width / 2, found.topLeft.y + shape.height / 2);
    if (x)
        *x = m_cx - centreInWindow.x;
    if (y)
        *y = m_cy - centreInWindow.y;
    if (angle)
        *angle = turn == 0 ? 0.0 : -turn * m_fineStep;
    return true;
}

#include "findshape.h"

#include "inspectionlog.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <map>

namespace {
constexpr double kPi = 3.14159265358979323846;
// Correlation by which a place may trail the best one and still be followed to the next level.
constexpr double kFollowMargin = 0.15;

double degrees(double radians)
{
    return radians * 180.0 / kPi;
}

// Angle that moves the shape's farthest pixel by `pixels` at a radius of `radius`.
double stepFor(double pixels, double radius)
{
    return degrees(std::atan(pixels / std::max(1.0, radius)));
}

// Peaks of one score map, strongest first, each suppressing its neighbourhood.
void collectPeaks(cv::Mat map, int count, cv::Size suppress, double angle, std::vector<double> &scores,
                  std::vector<cv::Point> &places, std::vector<double> &angles)
{
    for (int i = 0; i < count; ++i) {
        double maxVal;
        cv::Point maxLoc;
        cv::minMaxLoc(map, nullptr, &maxVal, nullptr, &maxLoc);
        if (maxVal <= 0)
            return;
        scores.push_back(maxVal);
        places.push_back(maxLoc);
        angles.push_back(angle);
        cv::Rect r(maxLoc.x - suppress.width, maxLoc.y - suppress.height, 2 * suppress.width + 1,
                   2 * suppress.height + 1);
        r &= cv::Rect(0, 0, map.cols, map.rows);
        map(r).setTo(cv::Scalar(-2));
    }
}
} // namespace

void FindShape::Clear()
{
    m_levels.clear();
    m_topTurns.clear();
    m_topTemplates.clear();
    m_topExponent = 0;
    m_fineStep = 0;
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

const NccTemplate &FindShape::rotatedCached(TurnCache &cache, int level, int turn) const
{
    std::map<int, NccTemplate> &atLevel = cache[size_t(level)];
    if (size_t(level) < m_usedTurns.size())
        m_usedTurns[size_t(level)].push_back(turn);
    auto it = atLevel.find(turn);
    if (it == atLevel.end())
        it = atLevel.emplace(turn, rotated(level, turn)).first;
    return it->second;
}

void FindShape::keepTurnsFor(int foundTurn) const
{
    for (size_t l = 0; l < m_turnCache.size() && l < m_usedTurns.size(); ++l) {
        std::vector<int> &used = m_usedTurns[l];
        std::sort(used.begin(), used.end());
        std::map<int, NccTemplate> &atLevel = m_turnCache[l];
        for (auto it = atLevel.begin(); it != atLevel.end();) {
            const bool wanted = std::binary_search(used.begin(), used.end(), it->first) &&
                                (l > 0 || std::abs(it->first - foundTurn) <= 1);
            it = wanted ? std::next(it) : atLevel.erase(it);
        }
        used.clear();
    }
}

// Moves the candidate to the best neighbour until no neighbour scores higher.
void FindShape::climb(const NccImage &image, const NccTemplate &t, Candidate &c) const
{
    std::map<std::pair<int, int>, double> seen;
    auto eval = [&](cv::Point p) {
        const auto key = std::make_pair(p.x, p.y);
        const auto it = seen.find(key);
        if (it != seen.end())
            return it->second;
        const double s = nccAt(image, t, p);
        seen.emplace(key, s);
        return s;
    };
    const int maxX = image.size().width - t.size().width;
    const int maxY = image.size().height - t.size().height;
    cv::Point p(std::clamp(c.topLeft.x, 0, maxX), std::clamp(c.topLeft.y, 0, maxY));
    double best = eval(p);
    for (int step = 0; step < 16; ++step) {
        cv::Point next = p;
        for (int dy = -1; dy <= 1; ++dy) {
            for (int dx = -1; dx <= 1; ++dx) {
                const cv::Point q(p.x + dx, p.y + dy);
                if ((dx == 0 && dy == 0) || q.x < 0 || q.y < 0 || q.x > maxX || q.y > maxY)
                    continue;
                const double s = eval(q);
                if (s > best) {
                    best = s;
                    next = q;
                }
            }
        }
        if (next == p)
            break;
        p = next;
    }
    c.topLeft = p;
    c.score = best;
}

// Scores the candidate's turn and its neighbours `step` fine steps away (each at its best nearby place)
// and walks on in the better direction while the score rises. A coarser level's answer may be off by
// more than this level's step, so a fixed bracket would not be enough.
void FindShape::turnClimb(const NccImage &image, TurnCache &cache, int level, int step, Candidate &c,
                          double *scoreBelow, double *scoreAbove) const
{
    // Each turn starts its climb where the best turn so far lies.
    Candidate best = c;
    const auto at = [&](int turn) {
        Candidate t = best;
        t.turn = turn;
        if (std::abs(turn) > m_limitTurns)
            t.score = -2;
        else
            climb(image, rotatedCached(cache, level, turn), t);
        return t;
    };
    best = at(c.turn);
    if (step == 0) {
        c = best;
        return;
    }
    Candidate below = at(c.turn - step);
    Candidate above = at(c.turn + step);
    const int direction = above.score > best.score && above.score >= below.score ? 1
                          : below.score > best.score                             ? -1
                                                                                 : 0;
    // A few steps are enough to undo a coarser level; more would only follow noise.
    for (int walked = 0; direction != 0 && walked < 4; ++walked) {
        if (direction > 0) {
            below = best;
            best = above;
            above = at(best.turn + step);
            if (above.score <= best.score)
                break;
        } else {
            above = best;
            best = below;
            below = at(best.turn - step);
            if (below.score <= best.score)
                break;
        }
    }
    c = best;
    if (scoreBelow)
        *scoreBelow = below.score;
    if (scoreAbove)
        *scoreAbove = above.score;
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

    // Every allowed angle over the whole window, at the top of the pyramid.
    const NccImage topImage = makeNccImage(pyramid.back());
    const cv::Size topShape = m_levels.back().templ.size();
    const cv::Size suppress(std::max(1, topShape.width / 4), std::max(1, topShape.height / 4));
    std::vector<double> scores, angles;
    std::vector<cv::Point> places;
    for (size_t i = 0; i < m_topTurns.size(); ++i) {
        cv::Mat map = nccMap(topImage, m_topTemplates[i]);
        if (!map.empty())
            collectPeaks(map, 3, suppress, m_topTurns[i], scores, places, angles);
    }
    std::vector<Candidate> candidates;
    std::vector<size_t> order(scores.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return scores[a] > scores[b]; });
    for (size_t i : order) {
        // The same place under a neighbouring angle is the same candidate.
        const bool known = std::any_of(candidates.begin(), candidates.end(), [&](const Candidate &c) {
            return std::abs(c.topLeft.x - places[i].x) <= 2 && std::abs(c.topLeft.y - places[i].y) <= 2;
        });
        if (known)
            continue;
        candidates.push_back(Candidate{places[i], int(angles[i]), scores[i]});
        if (candidates.size() == 4)
            break;
    }
    if (candidates.empty())
        return false;

    // Follow the candidates down. Level l climbs in steps of 2^l fine steps (the top level first in the
    // steps between its scan and its own resolution), so each level's step moves the farthest pixel by
    // about half of that level's pixel.
    const auto byScore = [](const Candidate &a, const Candidate &b) { return a.score > b.score; };
    TurnCache &cache = m_turnCache;
    cache.resize(size_t(topLevel + 1));
    m_usedTurns.assign(size_t(topLevel + 1), {});
    int exponent = m_topExponent - 1;
    double scoreBelow = -2, scoreAbove = -2;
    for (int l = topLevel; l >= 0; --l) {
        const NccImage image = l == topLevel ? topImage : makeNccImage(pyramid[size_t(l)]);
        if (l == 0 && candidates.size() > 1) {
            // A place that only looked best at a coarse scale loses here, before the costly angle climb.
            for (Candidate &c : candidates)
                climb(image, rotatedCached(cache, 0, c.turn), c);
            std::sort(candidates.begin(), candidates.end(), byScore);
            candidates.resize(1);
        }
        do {
            const int step = 1 << std::max(exponent, 0);
            for (Candidate &c : candidates)
                turnClimb(image, cache, l, m_limitTurns > 0 ? step : 0, c, &scoreBelow, &scoreAbove);
            exponent = std::max(exponent - 1, 0);
        } while (exponent >= l && exponent > 0 && m_limitTurns > 0);

        std::sort(candidates.begin(), candidates.end(), byScore);
        // Up to two places go on down to full resolution, where a coarse winner can still lose; a
        // place far behind the best is not followed, since finer levels cost more.
        const double keepAbove = candidates.front().score - kFollowMargin;
        while (candidates.size() > 1 && candidates.back().score < keepAbove)
            candidates.pop_back();
        candidates.resize(std::min(candidates.size(), size_t(l == topLevel ? 4 : 2)));
        if (l > 0) {
            for (Candidate &c : candidates)
                c.topLeft *= 2;
        }
    }

    const Candidate &found = candidates.front();
    keepTurnsFor(found.turn);
    if (found.score * 100.0 <= m_minScore * 100.0)
        return false;
    m_lastScore = found.score;

    // Between the grid's angles: the top of the parabola through the best turn and its neighbours.
    double turn = found.turn;
    const double curve = scoreBelow - 2 * found.score + scoreAbove;
    if (m_limitTurns > 0 && scoreBelow > -2 && scoreAbove > -2 && curve < 0)
        turn += std::clamp(0.5 * (scoreBelow - scoreAbove) / curve, -0.5, 0.5);
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

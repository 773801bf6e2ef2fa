#include "surfmatch.h"

#include "inspectionlog.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

void SURF::Create(int w, int h, const cv::Mat &mask)
{
    Clear();
    if (w < 1 || h < 1)
        return;
    m_w = w;
    m_h = h;
    // Keep most of a small region for the comparison: the shift margin is cut off every side.
    m_shift = std::min(kMaxShift, (std::min(w, h) - 1) / 4);
    if (mask.type() == CV_8UC1 && mask.cols == w && mask.rows == h) {
        m_mask = mask.clone();
    } else {
        if (!mask.empty())
            qCWarning(lcInspection) << "similarity matcher: mask" << mask.cols << "x" << mask.rows
                                    << "does not fit region" << w << "x" << h << "- using the whole region";
        m_mask = cv::Mat(h, w, CV_8UC1, cv::Scalar(255));
    }
}

void SURF::AddTemp(const cv::Mat &templ, int, int, int)
{
    if (m_w < 1 || templ.type() != CV_8UC1 || templ.cols != m_w || templ.rows != m_h) {
        qCWarning(lcInspection) << "similarity matcher: template" << templ.cols << "x" << templ.rows
                                << "ignored for region" << m_w << "x" << m_h;
        return;
    }
    m_added.push_back(templ.clone());
    m_trained = false;
}

void SURF::Train(int, int, int, int)
{
    if (m_w < 1)
        return;
    const cv::Rect inner(m_shift, m_shift, m_w - 2 * m_shift, m_h - 2 * m_shift);
    for (const cv::Mat &t : m_added) {
        NccTemplate prepared = makeNccTemplate(t(inner), m_mask(inner));
        // Every template is weighed by the same region mask: one weight image serves them all, which
        // halves what a slot with many templates keeps.
        if (!m_prepared.empty() && prepared.weight.size() == m_prepared.front().weight.size())
            prepared.weight = m_prepared.front().weight;
        m_prepared.push_back(prepared);
    }
    m_added.clear();
    m_trained = true;
}

float SURF::Match(cv::Mat &image, cv::Mat &out)
{
    if (!m_trained || m_prepared.empty())
        return 0;
    if (image.type() != CV_8UC1 || image.cols != m_w || image.rows != m_h) {
        qCWarning(lcInspection) << "similarity matcher: frame" << image.cols << "x" << image.rows
                                << "does not fit region" << m_w << "x" << m_h;
        return 0;
    }
    const NccImage img = makeNccImage(image);
    double best = -2;
    const NccTemplate *bestTemplate = nullptr;
    cv::Point bestTopLeft;
    for (const NccTemplate &t : m_prepared) {
        if (t.count < 1)
            continue; // the mask left nothing of this region
        for (int dy = -m_shift; dy <= m_shift; ++dy) {
            for (int dx = -m_shift; dx <= m_shift; ++dx) {
                const cv::Point tl(m_shift + dx, m_shift + dy);
                double s;
                if (t.isUsable())
                    s = nccAt(img, t, tl);
                else // a plain template: a plain frame is the same surface, whatever its brightness
                    s = patchVariance(img, t, tl) < kFlatVariance ? 1.0 : 0.0;
                if (s > best) {
                    best = s;
                    bestTemplate = &t;
                    bestTopLeft = tl;
                }
            }
        }
    }
    if (!bestTemplate)
        return 0;

    if (out.type() == CV_8UC1 && out.cols == m_w && out.rows == m_h) {
        const NccTemplate &t = *bestTemplate;
        const cv::Rect r(bestTopLeft, t.size());
        const double sumI = img.value(r).dot(t.weight);
        const double meanI = sumI / t.count;
        const double sdI = std::sqrt(std::max(0.0, patchVariance(img, t, bestTopLeft)));
        const double sdT = std::sqrt(t.norm2 / t.count);
        cv::Mat zI = cv::Mat::zeros(r.size(), CV_32F);
        if (sdI * sdI >= kFlatVariance)
            zI = (img.value(r) - meanI) / sdI;
        cv::Mat zT = cv::Mat::zeros(r.size(), CV_32F);
        if (t.norm2 > 0)
            zT = t.zeroMean / sdT;
        cv::Mat d = cv::abs(zI - zT);
        cv::Mat marks = (d > kDiffSigma) & (t.weight > 0);
        cv::Mat target = out(r);
        target.setTo(cv::Scalar(255), marks);
    }
    return float(std::clamp(best, 0.0, 1.0) * 100.0);
}

void SURF::Clear()
{
    m_w = m_h = m_shift = 0;
    m_mask.release();
    m_added.clear();
    m_prepared.clear();
    m_trained = false;
}

#include "graymatch.h"

#include "inspectionlog.h"

#include <opencv2/core.hpp>

#include <algorithm>

void GrayMatch::Create(int w, int h, const cv::Mat &mask, int)
{
    Clear();
    if (w < 1 || h < 1)
        return;
    m_w = w;
    m_h = h;
    if (mask.type() == CV_8UC1 && mask.cols == w && mask.rows == h) {
        m_mask = mask.clone();
    } else {
        if (!mask.empty())
            qCWarning(lcInspection) << "defect matcher: mask" << mask.cols << "x" << mask.rows
                                    << "does not fit region" << w << "x" << h << "- using the whole region";
        m_mask = cv::Mat(h, w, CV_8UC1, cv::Scalar(255));
    }
}

void GrayMatch::AddTemp(const cv::Mat &templ)
{
    if (m_w < 1 || templ.type() != CV_8UC1 || templ.cols != m_w || templ.rows != m_h) {
        qCWarning(lcInspection) << "defect matcher: template" << templ.cols << "x" << templ.rows
                                << "ignored for region" << m_w << "x" << m_h;
        return;
    }
    if (m_count == 0) {
        m_min = templ.clone();
        m_max = templ.clone();
    } else {
        cv::min(m_min, templ, m_min);
        cv::max(m_max, templ, m_max);
    }
    ++m_count;
    m_trained = false;
}

void GrayMatch::Train(int tolerance, int amplify, int, int)
{
    if (m_w < 1)
        return;
    tolerance = std::clamp(tolerance, 0, 255);
    amplify = std::clamp(amplify, 0, 4);
    // (1 + a) * d > t  <=>  d > floor(t / (1 + a)) for whole grey levels d.
    const int widen = tolerance / (1 + amplify);
    if (m_count > 0) {
        cv::subtract(m_min, cv::Scalar(widen), m_lower); // saturates at 0
        cv::add(m_max, cv::Scalar(widen), m_upper);      // saturates at 255
    }
    m_trained = true;
}

void GrayMatch::Match(const cv::Mat &image, cv::Mat &diff) const
{
    if (!m_trained || m_count == 0)
        return;
    if (image.type() != CV_8UC1 || image.cols != m_w || image.rows != m_h || diff.type() != CV_8UC1 ||
        diff.cols != m_w || diff.rows != m_h) {
        qCWarning(lcInspection) << "defect matcher: frame" << image.cols << "x" << image.rows
                                << "or difference image does not fit region" << m_w << "x" << m_h;
        return;
    }
    cv::Mat inside;
    cv::inRange(image, m_lower, m_upper, inside);
    cv::Mat out;
    cv::bitwise_not(inside, out);
    cv::bitwise_and(out, m_mask, out);
    diff.setTo(cv::Scalar(255), out);
}

void GrayMatch::Clear()
{
    m_w = m_h = 0;
    m_mask.release();
    m_min.release();
    m_max.release();
    m_lower.release();
    m_upper.release();
    m_count = 0;
    m_trained = false;
}

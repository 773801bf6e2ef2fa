#pragma once
// Reproducible grey frames for the benchmarks: a fine blurred grain over a slow swell, like a lit
// mould surface, with features at several scales for matching and registration. Same seed, same frame.

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

inline cv::Mat benchTexture(cv::Size size, unsigned seed, double blurSigma)
{
    cv::RNG rng(seed);
    cv::Mat fine(size, CV_32F), coarse(size.height / 16, size.width / 16, CV_32F);
    rng.fill(fine, cv::RNG::UNIFORM, 0, 1);
    rng.fill(coarse, cv::RNG::UNIFORM, 0, 1);
    cv::GaussianBlur(fine, fine, cv::Size(), blurSigma);
    cv::Mat big;
    cv::resize(coarse, big, fine.size(), 0, 0, cv::INTER_CUBIC);
    cv::Mat sum = fine + big, out;
    cv::normalize(sum, sum, 10, 245, cv::NORM_MINMAX);
    sum.convertTo(out, CV_8U);
    return out;
}

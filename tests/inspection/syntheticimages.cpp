#include "syntheticimages.h"

#include <opencv2/imgproc.hpp>

cv::Mat texture(int width, int height, unsigned seed, double blurSigma)
{
    cv::RNG rng(seed);
    cv::Mat fine(height, width, CV_32F), coarse(height / 8 + 2, width / 8 + 2, CV_32F);
    rng.fill(fine, cv::RNG::UNIFORM, 0, 1);
    rng.fill(coarse, cv::RNG::UNIFORM, 0, 1);
    cv::GaussianBlur(fine, fine, cv::Size(), blurSigma);
    cv::Mat big;
    cv::resize(coarse, big, cv::Size(width, height), 0, 0, cv::INTER_CUBIC);
    cv::Mat sum = fine + big;
    cv::normalize(sum, sum, 10, 245, cv::NORM_MINMAX);
    cv::Mat out;
    sum.convertTo(out, CV_8U);
    return out;
}

cv::Mat platesScene(int width, int height, unsigned seed)
{
    cv::Mat frame(height, width, CV_8UC1);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            frame.at<uchar>(y, x) = cv::saturate_cast<uchar>(60 + x * 80 / width + y * 50 / height);
    }
    cv::RNG rng(seed);
    const int count = std::max(4, width * height / 12000);
    for (int i = 0; i < count; ++i) {
        const cv::Rect plate(rng.uniform(-20, width), rng.uniform(-20, height),
                             rng.uniform(20, width / 5 + 21), rng.uniform(20, height / 5 + 21));
        cv::rectangle(frame, plate, cv::Scalar(rng.uniform(30, 220)), cv::FILLED);
        cv::circle(frame, cv::Point(rng.uniform(0, width), rng.uniform(0, height)), rng.uniform(5, 30),
                   cv::Scalar(rng.uniform(0, 255)), cv::FILLED, cv::LINE_AA);
    }
    cv::addWeighted(frame, 0.8, texture(width, height, seed + 1), 0.2, 0, frame);
    return frame;
}

cv::Mat withNoise(const cv::Mat &src, double sigma, unsigned seed)
{
    cv::Mat n(src.size(), CV_32F), f;
    cv::RNG(seed).fill(n, cv::RNG::NORMAL, 0, sigma);
    src.convertTo(f, CV_32F);
    cv::Mat out;
    cv::Mat(f + n).convertTo(out, CV_8U);
    return out;
}

cv::Mat noise(int width, int height, unsigned seed)
{
    cv::RNG rng(seed);
    cv::Mat out(height, width, CV_8UC1);
    rng.fill(out, cv::RNG::UNIFORM, 0, 256);
    return out;
}

cv::Mat shifted(const cv::Mat &src, int dx, int dy)
{
    cv::Mat out = cv::Mat::zeros(src.size(), src.type());
    const cv::Rect from = cv::Rect(-dx, -dy, src.cols, src.rows) & cv::Rect(0, 0, src.cols, src.rows);
    if (from.area() > 0)
        src(from).copyTo(out(from + cv::Point(dx, dy)));
    return out;
}

cv::Mat turned(const cv::Mat &src, cv::Point2f centre, double degrees)
{
    cv::Mat out;
    cv::warpAffine(src, out, cv::getRotationMatrix2D(centre, degrees, 1.0), src.size(), cv::INTER_LINEAR,
                   cv::BORDER_REFLECT);
    return out;
}

cv::Mat withDisc(const cv::Mat &src, cv::Point centre, int radius, int value)
{
    cv::Mat out = src.clone();
    cv::circle(out, centre, radius, cv::Scalar(value), cv::FILLED);
    return out;
}

double meanAbsDiff(const cv::Mat &a, const cv::Mat &b, const cv::Mat &mask)
{
    cv::Mat d;
    cv::absdiff(a, b, d);
    return mask.empty() ? cv::mean(d)[0] : cv::mean(d, mask)[0];
}

#pragma once
// Synthetic frames for the inspection tests: reproducible textures with features at several scales,
// like a lit mould surface, and small helpers to move them about.

#include <opencv2/core.hpp>

// Smooth random texture, 8-bit, values spread over most of 0..255. Same seed, same image.
cv::Mat texture(int width, int height, unsigned seed, double blurSigma = 2.0);

// A machined part as a camera sees it: plates of different grey with sharp edges, round holes, a
// lighting gradient across the frame and a faint surface texture. 8-bit; same seed, same image.
cv::Mat platesScene(int width, int height, unsigned seed);

// `src` with Gaussian camera noise of `sigma` grey levels added (saturated to 0..255).
cv::Mat withNoise(const cv::Mat &src, double sigma, unsigned seed);

// Uniform random noise, 8-bit.
cv::Mat noise(int width, int height, unsigned seed);

// dst(x, y) = src(x - dx, y - dy), 0 outside: the content moves by (+dx, +dy).
cv::Mat shifted(const cv::Mat &src, int dx, int dy);

// The content turned by `degrees` (counter-clockwise positive, cv::getRotationMatrix2D) about
// `centre`, bilinear, border reflected so that no black wedge appears.
cv::Mat turned(const cv::Mat &src, cv::Point2f centre, double degrees);

// Filled disc of `value` drawn into a copy of `src`.
cv::Mat withDisc(const cv::Mat &src, cv::Point centre, int radius, int value);

// Mean absolute difference over the pixels where `mask` is non-zero (all pixels when empty).
double meanAbsDiff(const cv::Mat &a, const cv::Mat &b, const cv::Mat &mask = cv::Mat());

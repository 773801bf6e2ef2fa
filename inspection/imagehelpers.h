#pragma once
// The image helpers exported under plain names: touch tolerances and screen clamping for the region
// editor, shifting and turning images for positioning, and conversions between Bayer, RGB, RGBA,
// gray and hue buffers. They keep no state; they read gShowW/gShowH and gImageW/gImageH.
// Any thread may call them (the size globals are written only at start-up).
//
// Packed buffers are rows without gaps. RGBA buffers and the 32-bit pixels of the gray and hue
// conversions have four bytes per pixel: byte 0 red, byte 1 green, byte 2 blue, byte 3 written 0.
// Null buffers and non-positive sizes are ignored.

#include <QPoint>
#include <QRect>
#include <opencv2/core.hpp>

// trunc(v * weight * 1024) for the luma weights 0.299, 0.587, 0.114: entry 256 * k + v.
extern const int (&gaRGB2Gray)[768];

// True when both axis distances are below tol (clamped to 3..50): a square, not a circle.
bool PointAround(QPoint a, QPoint b, int tol);
// True when |a - b| is below tol clamped to 3..50.
bool LineAround(int a, int b, int tol);
// True when |line - p| is below tol clamped to 3..50 and from <= q <= to.
bool LineAround(int line, int p, int q, int from, int to, int tol);

// Keeps a screen coordinate inside the 3 px margin: 3 .. gShowW - 3 (horizontal) or gShowH - 3.
void CheckInRange(int *v, int horizontal);
// Keeps a rectangle inside the screen margin, first putting its corners in order. keepSize moves
// the rectangle whole; otherwise each edge is clamped and the rectangle may shrink.
void CheckInRange(QRect *r, bool keepSize);

// dst(x, y) = src(x - dx, y - dy) where that lies inside src, else 0. dst is made the size and type
// of src; src and dst may share memory. Only 8-bit images are taken: anything else leaves dst empty.
void MoveImage(cv::Mat src, cv::Mat &dst, int dx, int dy);
// Shifts src, then turns it by angle degrees (counter-clockwise) about centre, given in source
// coordinates, on a padded canvas so that no corner is lost; dst is the source-sized window.
// 8-bit images only; anything else leaves dst empty.
void TransformImage(cv::Mat src, cv::Mat &dst, cv::Point shift, cv::Point centre, double angle);
// Part of the exported set; does nothing.
void Threshold(const cv::Mat &, const cv::Mat &, cv::Mat, int, int);

void RGB2Gray(uchar *dst, int *src, int width, int height);
void RGBA2Gray(uchar *dst, int *src, int width, int height);
void Gray2RGB(uchar *src, int *dst, int width, int height);
void Gray2RGBA(uchar *src, int *dst, int width, int height);
// The first byte of every 3-byte pixel.
void Gray24To8(uchar *dst, uchar *src, int width, int height);
// 3-byte pixels s0 s1 s2 become s2 s1 s0 0.
void RGB2RGBA(uchar *dst, uchar *src, int width, int height);
void ExtractRGBA(uchar *p0, uchar *p1, uchar *p2, uchar *src, int width, int height);
void GenRGBA(uchar *p0, uchar *p1, uchar *p2, uchar *dst, int width, int height);

// Hue of one pixel in 0..254 (a full turn maps onto 0..255).
uchar RGB2HueByte(uchar r, uchar g, uchar b);
void RGBA2Hue(uchar *dst, int *src, int width, int height);

// Demosaics a gImageW x gImageH frame (rows G R G R ... / B G B G ...) into RGBA. Frames smaller
// than 2 x 2 are left unwritten.
void Bayer2RGBA(const uchar *src, uchar *dst);
// Demosaics the top or bottom row of such a frame; neighbourRow is its one adjacent row. greenFirst
// says whether the row starts with green, redRow whether its other samples are red.
void BorderBayer2RGBA(const uchar *row, const uchar *neighbourRow, uchar *dst, int width, int greenFirst,
                      int redRow);

// Writes the C source text of gaRGB2Gray to "a.c" in the working directory.
void GenRGB2Gray();

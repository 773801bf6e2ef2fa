#pragma once
// Pictures made in the tests and benchmarks.

#include <QImage>

#include <functional>

// A grey picture as the box keeps grey frames: 8 bits a pixel with a grey colour table; each pixel is
// the low byte of pixel(x, y), so that a pattern tells pictures apart.
QImage greyIndexedImage(int width, int height, const std::function<int(int x, int y)> &pixel);

#pragma once
// Screen and camera-image sizes used by layout, region geometry and detection.
// gShowW/gShowH: the primary screen, set by the main window's constructor.
// gImageW/gImageH: the camera image; a sane default until the first camera opens, so that no
// division by them sees 0. GUI thread.

#include <QtGlobal>

extern int gShowW;
extern int gShowH;
extern int gImageW;
extern int gImageH;

// The most pixels a picture from a file or a peer may have (a 4096 x 4096 camera), whatever its sides:
// a header that asks for more is refused before anything is allocated for it.
constexpr qint64 kMaxPicturePixels = 16 * 1024 * 1024;

constexpr int kDefaultImageW = 1280;
constexpr int kDefaultImageH = 1024;

// Records the size of an opened camera's image; only the first valid call of the run takes effect.
void setImageSizeFromCamera(int width, int height);

#include "imagesize.h"

int gShowW = 1024;
int gShowH = 768;
int gImageW = kDefaultImageW;
int gImageH = kDefaultImageH;

namespace {
bool gImageSizeSet = false;
}

void setImageSizeFromCamera(int width, int height)
{
    if (gImageSizeSet || width <= 0 || height <= 0)
        return;
    gImageW = width;
    gImageH = height;
    gImageSizeSet = true;
}

#pragma once
// Planar YUV 4:2:0 frames of the thermal camera (YV12 order: Y, then V, then U, one chroma sample per
// 2 x 2 pixels) turned into grey or 32/24-bit pictures.
//
// Any thread; the functions touch only their arguments. The source holds width x height x 3 / 2
// bytes; the destination width x height pixels of 1, 3 (B, G, R) or 4 (B, G, R, 0) bytes. `flip`
// turns the picture upside down. The unused argument is kept for the callers' signature.
// Returns 1, or 0 (nothing written) for a null pointer, an empty frame, or an odd width or height,
// whose chroma planes would not line up with the pixels.

int yuv420pToGray(const unsigned char *src, unsigned char *dst, int width, int height, int unused,
                  bool flip);
int yuv420pToRgb24(const unsigned char *src, unsigned char *dst, int width, int height, int unused,
                   bool flip);
int yuv420pToRgb32(const unsigned char *src, unsigned char *dst, int width, int height, int unused,
                   bool flip);

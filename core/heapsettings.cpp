#include "heapsettings.h"

#include <cstdlib> // defines __GLIBC__ where the C library is glibc

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace {
// Blocks below this come from the heap, blocks from it up are mapped apart: the highest glibc allows,
// and above every temporary of a judgement (a registration's pyramid levels are up to 8 MB).
constexpr int kMapApartBytes = 32 * 1024 * 1024;
// Free memory at the top of a heap goes back to the system only beyond this: twice the above, as
// glibc's own rule would set it, and above the 40 MB a registration leaves there between cameras.
constexpr int kGiveBackBytes = 64 * 1024 * 1024;
} // namespace

void keepJudgementMemory()
{
#if defined(__GLIBC__)
    // glibc moves both limits up as large blocks are freed, but stops short of a registration's
    // temporaries: a thread judging several cameras in a row gave some 40 MB back after each camera
    // and faulted them in again for the next (about 9,000 pages a camera), unless something else
    // happened to hold the top of its heap. Setting either limit ends the moving rule: both are set.
    mallopt(M_MMAP_THRESHOLD, kMapApartBytes);
    mallopt(M_TRIM_THRESHOLD, kGiveBackBytes);
#endif
}

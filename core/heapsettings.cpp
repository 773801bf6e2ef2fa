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
// Room kept free beyond what a heap needs: a worker thread's heap that runs past its first 64 MB
// block is unmapped whole when that extra block is empty, unless the block before it has less than
// this left free at its end. In the judging benchmark 4 MB and 8 MB kept it in most runs (how full
// the block before is depends on which worker judged which camera); 16 MB raised its peak memory by
// 50 MB where 8 MB and less left it as it was.
constexpr int kSpareBytes = 8 * 1024 * 1024;
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
    // A pool worker judging several cameras in a row (fewer cores than cameras) holds the results of
    // each in its own heap, and a registration then overflows into a further 64 MB block, which the
    // trim limit does not govern: it was unmapped after every camera and faulted in again for the
    // next. The spare room keeps that block; it is reserved address space, touched only when used.
    mallopt(M_TOP_PAD, kSpareBytes);
#endif
}

#include "zeropages.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

constexpr std::size_t kPage = 4096;
const unsigned char kZeros[kPage] = {};

bool isZero(const unsigned char *p, std::size_t n)
{
    return std::memcmp(p, kZeros, n) == 0;
}

// Calls f(offset, length) for the pieces of [0, n) cut at the page boundaries of the address base.
template <typename F>
void forEachPagePiece(const void *base, std::size_t n, F f)
{
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(base);
    std::size_t off = 0;
    while (off < n) {
        const std::size_t toBoundary = kPage - ((start + off) % kPage);
        const std::size_t len = std::min(toBoundary, n - off);
        f(off, len);
        off += len;
    }
}

} // namespace

void zeroUntouchedPages(void *p, std::size_t n)
{
    auto *bytes = static_cast<unsigned char *>(p);
    forEachPagePiece(p, n, [bytes](std::size_t off, std::size_t len) {
        if (!isZero(bytes + off, len))
            std::memset(bytes + off, 0, len);
    });
}

void copySparsePages(void *to, const void *from, std::size_t n)
{
    auto *dst = static_cast<unsigned char *>(to);
    const auto *src = static_cast<const unsigned char *>(from);
    // Pieces follow the target's pages: those are the pages a write would make resident.
    forEachPagePiece(to, n, [dst, src](std::size_t off, std::size_t len) {
        if (isZero(src + off, len) && isZero(dst + off, len))
            return;
        std::memcpy(dst + off, src + off, len);
    });
}

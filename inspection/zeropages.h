#pragma once
// Page-wise zeroing and copying for the large fixed blocks of the region tables. A 4 KB page that
// already holds what it should (zeros) is only read, never written: a page of a zero-filled heap block
// that was never written stays on the kernel's shared zero page and costs no resident memory, so the
// unused vertex room of a region table costs nothing. Any thread, on memory it owns.

#include <cstddef>

// Afterwards the n bytes at p read as zero; pieces that were zero already are not written.
void zeroUntouchedPages(void *p, std::size_t n);
// Afterwards the n bytes at to equal those at from (no overlap); pieces that are zero on both sides
// are not written.
void copySparsePages(void *to, const void *from, std::size_t n);

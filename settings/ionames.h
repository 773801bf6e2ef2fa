#pragma once
// The sixteen machine-signal names a board input or output can be given (the I/O names page), in the
// four interface languages. GUI thread only (reads gLanguage).

#include <QString>

constexpr int kIoNameCount = 16;

// Name `index` (0..15) of the input table, in the current language; empty for an index out of range.
QString ioInputName(int index);
QString ioOutputName(int index);
// `index` when it is a name index, else `fallback`: stored indices come from files a group restore can
// replace.
int validIoNameIndex(int index, int fallback);

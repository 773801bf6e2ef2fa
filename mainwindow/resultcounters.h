#pragma once
// The result counters of the eight camera positions (gCameraTotalCount, gCameraNgCount) in
// "count.txt": for camera 0 to 7 the total, a blank, the NG count, a blank; no line end.
// GUI thread (the saver thread only adds to the atomic counters meanwhile).

#include <QString>

// Loads both tables from `path`; a missing file gives zeros, a missing number 0, and a value that
// taken unsigned exceeds 100000000 (so any negative one too) becomes 0. A damaged file (a token that is
// not a decimal integer, or far too long to be a counter file) gives the numbers before the damage and
// zeros after it; it is logged and kept aside as "<path>.damaged-<time>", so that the next write
// starts a sound file and the damaged one can still be looked at.
void readResultCounts(const QString &path);

// Writes both tables through the atomic file writer; false when the file could not be written (the
// old file then stays whole).
bool writeResultCounts(const QString &path);

// Writes both tables only when they differ from what was last read or written (nothing before the
// file was read once): the saver thread counts after the machine cycle has asked for its write, so the
// last counts of a run are stored this way (every second and at quit). True when nothing had to be
// written or the write succeeded.
bool writeResultCountsIfChanged(const QString &path);

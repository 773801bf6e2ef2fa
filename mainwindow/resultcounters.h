#pragma once
// The result counters of the eight camera positions (gCameraTotalCount, gCameraNgCount) in
// "count.txt": for camera 0 to 7 the total, a blank, the NG count, a blank; no line end.
// GUI thread (the saver thread only adds to the atomic counters meanwhile).

#include <QString>

// Loads both tables from `path`; a missing file gives zeros, a missing number 0, and a value that
// taken unsigned exceeds 100000000 (so any negative one too) becomes 0.
void readResultCounts(const QString &path);

// Writes both tables through the atomic file writer; false when the file could not be written (the
// old file then stays whole).
bool writeResultCounts(const QString &path);

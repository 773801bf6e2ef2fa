#pragma once
// The mark of a detection under way, "detectionmark.txt" in the working directory. From the edge that
// blocks the clamp until the mould is judged OK (or its NG latch is on disk) it names the slot still
// to be judged and the mould side, so that a box killed meanwhile judges that mould when it starts
// again instead of allowing the clamp on a mould nobody saw. It changes several times a cycle, so it
// is made once at start and then rewritten in place: the same 16 bytes, no new blocks, no sync. After
// a power cut it may therefore still hold what it held before its last change. GUI thread.

#include <QByteArray>
#include <QString>

struct DetectionMark
{
    int slot = -1; // slot still to be judged; -1: no detection under way
    int moldSide = 1;
};

// "detectionmark.txt"
QString detectionMarkPath();

// The record: "slot <s> side <m>" or "none", blank-padded to 15 bytes and a line feed.
QByteArray detectionMarkText(const DetectionMark &mark);
// True and `mark` filled for a record as detectionMarkText writes it (slot 0-7, side 0 or 1, or none).
bool parseDetectionMark(const QByteArray &text, DetectionMark *mark);

class DetectionMarkFile
{
public:
    DetectionMarkFile() = default;
    DetectionMarkFile(const DetectionMarkFile &) = delete;
    DetectionMarkFile &operator=(const DetectionMarkFile &) = delete;
    ~DetectionMarkFile();

    // Reads the mark the last run left, then keeps the file open for writing (made, as "none", when
    // it is missing or not a record). A record that cannot be read counts as no mark; it is logged.
    DetectionMark open();
    void set(int slot, int moldSide);
    void clear() { set(-1, 1); }

private:
    int m_fd = -1;
    QByteArray m_written;
    bool m_failing = false;
};

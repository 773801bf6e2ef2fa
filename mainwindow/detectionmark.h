#pragma once
// The mark of a detection under way, "detectionmark.txt" in the working directory. From the edge that
// blocks the clamp until the mould is judged OK (or its NG latch is on disk) it names the slot still
// to be judged and the mould side, so that a box killed meanwhile judges that mould when it starts
// again instead of allowing the clamp on a mould nobody saw. It changes several times a cycle, so it
// is made once at start and then rewritten in place: the same 16 bytes, no new blocks. A slot mark is
// then synced to the disk by a thread of its own (the cycle never waits for the disk), so that a power
// cut after that sync finds it; "none" is not synced: a power cut that loses it leaves a slot mark,
// which only makes the next start judge the mould once more.
//
// Threads: every function on the GUI thread; the sync runs on the mark's sync thread, which is started
// by the first slot mark and joined by stopSync() or the destructor.

#include <QByteArray>
#include <QString>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

struct DetectionMark
{
    int slot = -1; // slot still to be judged; -1: no detection under way
    int moldSide = 1;
    // The file was there but held no record (cut, zeros, garbage): a stop left it in the middle of
    // something, and the start treats it as a detection cut short. slot is then -1.
    bool damaged = false;
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
    // Puts the file's data on the disk (fdatasync); 0 on success, else -1 with errno set.
    using SyncFunction = std::function<int(int fd)>;

    DetectionMarkFile() = default;
    DetectionMarkFile(const DetectionMarkFile &) = delete;
    DetectionMarkFile &operator=(const DetectionMarkFile &) = delete;
    // Finishes a sync still pending (stopSync), then closes the file.
    ~DetectionMarkFile();

    // Reads the mark the last run left, then keeps the file open for writing (made, as "none", when
    // it is missing or not a record). A missing file is no mark; a file that is there but cannot be
    // read or holds no record comes back damaged, with one log line.
    DetectionMark open();
    // Rewrites the mark in place; a slot mark asks the sync thread for a sync and returns at once.
    // While one sync runs, any number of further marks leave one more sync pending, no more.
    void set(int slot, int moldSide);
    void clear() { set(-1, 1); }
    // A sync still pending is done, then the sync thread ends. Called when the application quits.
    void stopSync();

    // Tests: the call that puts the data on the disk (fdatasync when empty), set before open().
    void setSyncFunction(SyncFunction sync) { m_syncFunction = std::move(sync); }

private:
    void requestSync();
    void syncLoop();

    int m_fd = -1;
    QByteArray m_written;
    bool m_failing = false;

    // Guards m_syncPending, m_syncStop and m_syncFailing; m_fd and m_syncFunction are set before the
    // sync thread starts and left alone until it is joined.
    std::mutex m_syncMutex;
    std::condition_variable m_syncWake;
    bool m_syncPending = false;
    bool m_syncStop = false;
    bool m_syncFailing = false;
    SyncFunction m_syncFunction;
    std::thread m_syncThread;
};

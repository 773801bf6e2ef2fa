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
// The GUI thread reads an opening only when its pass runs, and a pass may read it and return without
// starting its cycle (a camera lost, a detection busy); a box killed then would find "none". So the I/O
// thread, when it counts an opening of a cycle-start input, asks the mark's thread (through the hook of
// core/cyclestartmarkhook.h) to write the mark that opening's cycle would write: the poll only posts the
// request and never waits. Which mark each input would write depends on the mould side, GUI-thread data: the
// GUI thread keeps it here beside the file.
//
// Threads: every function on the GUI thread, except postCycleStartMark (any thread, never waits). The
// mark's thread writes the requested marks and syncs; it is started by open() and joined by
// stopSync() or the destructor.
//
// One lock, m_markMutex, guards what is on disk (m_fd's record, m_written) and the marks of the inputs:
// the GUI thread's set/clear and the mark thread's write hold it. The question whether an opening is
// still waiting for the cycle is asked under gIoMutex, taken after it and for that question only; no
// disk call runs under gIoMutex, and the I/O thread never takes m_markMutex.

#include <QByteArray>
#include <QString>

#include <array>
#include <atomic>
#include <functional>
#include <mutex>
#include <semaphore.h>
#include <thread>

struct DetectionMark
{
    int slot = -1; // slot still to be judged; -1: no detection under way
    int moldSide = 1;
    // The file was there but held no record (cut, zeros, garbage, not a plain file): a stop left it in
    // the middle of something, and the start treats it as a detection cut short. slot is then -1.
    bool damaged = false;
};

// Per input 0-15, the mark a cycle start by that input writes; slot -1 for an input that starts none.
using CycleStartMarks = std::array<DetectionMark, 16>;

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
    // The marks the cycle-start inputs would write now (GUI thread: it reads the mould side in force).
    using MarkSource = std::function<CycleStartMarks()>;

    DetectionMarkFile();
    DetectionMarkFile(const DetectionMarkFile &) = delete;
    DetectionMarkFile &operator=(const DetectionMarkFile &) = delete;
    // Takes the I/O thread's hook off this file, finishes what is pending (stopSync), closes the file.
    ~DetectionMarkFile();

    // Reads the mark the last run left, then keeps the file open for writing (made, as "none", when
    // it is missing or not a record) and starts the mark's thread. A missing file is no mark; a file
    // that is there but cannot be read, holds no record or is not a plain file (a FIFO, a device,
    // directly or through a link; never opened for reading) comes back damaged, with one log line.
    DetectionMark open();
    // Rewrites the mark in place; a slot mark asks the mark's thread for a sync and returns at once.
    // While one sync runs, any number of further marks leave one more sync pending, no more. "none"
    // (clear) is not written while an opening of a cycle-start input asked for its mark and the cycle
    // has not covered it (its cycle's mark or a later verdict on disk): that opening's mark is written
    // instead.
    void set(int slot, int moldSide);
    void clear() { set(-1, 1); }
    // What is pending is done (requested marks written, a sync), then the mark's thread ends. Called
    // at the end of the run once the I/O thread is gone, so that its last requests are served.
    void stopSync();

    // Where the marks of the cycle-start inputs come from; read again by every set/clear and by
    // refreshCycleStartMarks, which the main window calls where the inputs' meaning or the mould side
    // may have changed.
    void setCycleStartMarkSource(MarkSource source);
    void refreshCycleStartMarks();
    // Points the I/O thread's hook (core/cyclestartmarkhook.h) at this file; the destructor takes it off.
    void installCycleStartMarkHook();
    // Any thread: asks the mark's thread to write the mark of an opening of `input` (0-15) that the
    // I/O thread counted. It writes it only while the mark reads "none" and the cycle has not covered
    // that opening; else nothing. Posts and returns: never waits for a lock or the disk.
    void postCycleStartMark(int input);

    // Tests: the call that puts the data on the disk (fdatasync when empty), set before open().
    void setSyncFunction(SyncFunction sync) { m_syncFunction = std::move(sync); }

private:
    static constexpr quint32 kSyncBit = 1u << 16;
    static constexpr quint32 kStopBit = 1u << 17;

    enum class WriteChange
    {
        None,
        Fails,
        WorksAgain
    };
    // Under m_markMutex; `change` says whether this write starts or ends a run of failed writes.
    bool writeLocked(const QByteArray &text, WriteChange *change);
    void reportWrite(WriteChange change);
    CycleStartMarks currentMarks() const;
    bool writeRequestedMarks(quint32 inputs);
    void post(quint32 work);
    void markLoop();
    void uninstallHook();

    std::mutex m_markMutex;
    int m_fd = -1;
    QByteArray m_written;
    bool m_failing = false;
    std::atomic<int> m_writeError{0}; // of the write that started failing, for its log line
    CycleStartMarks m_inputMarks;

    MarkSource m_markSource; // GUI thread
    bool m_stopped = false;  // GUI thread

    // Work for the mark's thread: bit i a mark request of input i, kSyncBit, kStopBit. Each post sets
    // its bits, then wakes the thread through m_wake (sem_post never blocks).
    std::atomic<quint32> m_work{0};
    sem_t m_wake;
    bool m_syncFailing = false; // mark thread
    SyncFunction m_syncFunction;
    std::thread m_thread;
};

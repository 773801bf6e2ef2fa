#pragma once
// The board poll: every 5 ms it reads what the board sent, takes the inputs out of its status frames,
// resends the output word when the board's echo differs, and sends the next poll or periodic request.
// It logs one line when the board has sent no report for 1 s (monotonic clock, core/clock.h) and one
// when reports come again. A port that fails (a read or write error, a hang-up, or after 1 s of
// silence a path that no longer names the open device: a re-plugged adapter) is closed and opened
// again every second until a status frame comes; the first command on a reopened port is the output
// word. A board that is only silent keeps its open port. Every status frame's inputs are counted into
// gIoEntryWatch (core/inputentrywatch.h), and the word sent is the one that watch holds when the machine
// cycle has left a cycle-start entry unread, or (in the modes that block the clamp at every cycle
// start) has not yet taken an opening: the clamp hold reaches the board without the GUI thread. An
// opening of a cycle-start input asks for its mark on the disk through core/cyclestartmarkhook.h.
//
// Threads: constructed, started, asked to stop and destroyed on the GUI thread; run() is the thread.
// sigIOChange is emitted on the I/O thread after gIoInputWord holds the new inputs, so a queued slot
// always reads the word that caused the signal or a newer one.

#include "ioframes.h"

#include <QThread>

class IOThread : public QThread
{
    Q_OBJECT
public:
    explicit IOThread(QObject *parent = nullptr);
    // Stops and joins the loop: a QThread must never be destroyed while it runs.
    ~IOThread() override;

    // Asks the loop to end after its current pass (any thread); join with wait().
    void requestStop();

signals:
    // The inputs reported by the board changed.
    void sigIOChange();
    // The board fell silent (no report for 1 s) or reports again; once per change, after
    // gIoBoardSilent holds the new state.
    void sigBoardSilent(bool silent);

protected:
    void run() override;

private:
    bool stopRequested() const;
    // Handles one board frame read at `readMs` (appMonotonicMs); returns true when its echoed outputs
    // differ from `wanted`.
    bool handleFrame(const IoReportFrame &frame, quint32 wanted, qint64 readMs);
    // Asks for the mark of each opening of a cycle-start input (bit i: input i) the watch took.
    static void postMarkRequests(quint32 inputs);

    // Loop state, touched only by the I/O thread.
    char m_receive[IoFrameScanner::kCapacity];
    IoFrameScanner m_scanner;
    int m_tick = 0;
    int m_replyIndex = 0;
    bool m_reopening = false;     // the port failed; reopened every second until a status frame comes
    qint64 m_reopenedMs = 0;      // last attempt
    bool m_sendWordFirst = false; // the next command is the output word (port just reopened)
    bool m_writeFailed = false;   // the last command could not be written
};

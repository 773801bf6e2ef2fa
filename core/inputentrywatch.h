#pragma once
// The I/O thread's count of the inputs' entries into their active state, and its watch over the machine
// cycle. The cycle reads inputs only when its pass runs on the GUI thread; a pulse that came and went
// between two passes left no level behind, and a GUI thread that stalls (a shell command, a long
// judgement, a modal loop) left the clamp word the board holds as it was. Counting every status frame's
// rises and falls keeps the pulse, and a cycle-start entry that no pass has read within a bound puts a
// hold on the clamp output that the board gets from the I/O thread itself.
//
// Threads: one instance, gIoEntryWatch, guarded by gIoMutex; every member below is called with gIoMutex
// held. statusFrame and heldWord are the I/O thread's; the rest are called by ControlPort on the GUI
// thread.

#include <QtGlobal>

// A snapshot of the inputs' entries into their active state, counted by the I/O thread from this board
// link's first status frame on (the zero word before the first frame is no level: an input that idles
// high is no entry), with inputInvert and the input-3 remap applied exactly as checkInput applies them.
struct InputEntrySnapshot
{
    bool firstFrameSeen = false; // a status frame has been read on this link
    quint32 activeWord = 0;      // bit i: input i is in its active state now
    quint32 entries[16] = {};    // entries into the active state since the first status frame
    qint64 lastEntryMs[16] = {}; // appMonotonicMs() stamp of the last entry (0: none)
};

// How the cycle sees the board: input i is board bit source[i], active at 1, or at 0 when inverted[i].
struct InputEntryMap
{
    int source[16] = {};
    bool inverted[16] = {};

    // The input-3 remap and inputInvert of gSysParam, as checkInput applies them. GUI thread.
    static InputEntryMap fromParams();
    bool sameFor(int input, const InputEntryMap &other) const
    {
        return source[input] == other.source[input] && inverted[input] == other.inverted[input];
    }
};

// What the guard watches, set by the GUI thread on every input read.
struct InputEntryWatchSetup
{
    bool armed = false;        // detection runs and output 0 is the clamp interlock
    quint32 watchedInputs = 0; // bit i: input i starts a detection (cycle start, safety door)
    InputEntryMap map;
    int holdBit = 0; // the board bit and level of "clamp not allowed" (setOutput's mapping)
    bool holdLevel = true;
};

// One trip of the guard, for the line that says so.
struct InputEntryStall
{
    int input = -1;
    qint64 unreadSinceMs = 0; // stamp of the entry nobody read
    qint64 heldAtMs = 0;      // when the hold went on
};

class InputEntryWatch
{
public:
    // An entry of a watched input that no pass has read for this long holds the clamp. A healthy pass
    // reads the inputs at least every 100 ms; a mould stays open for at least a second; judging the
    // cameras of a slot one after another (1.2-1.3 s for eight) runs only while the cycle whose start
    // it has read is open, so the next opening cannot come during it on a working machine.
    static constexpr qint64 kUnreadBoundMs = 750;

    // A new board link: nothing counted, nothing read, no hold.
    void reset();

    // I/O thread: one status frame's inputs, read at `readMs`. The first one only sets the levels.
    void statusFrame(quint32 inputs, qint64 readMs);
    // I/O thread, each pass: `wanted` as the board must get it, with the hold when it is on. When the
    // hold goes on in this call, `tripped` (if given) says which entry was left unread.
    quint32 heldWord(quint32 wanted, qint64 nowMs, InputEntryStall *tripped = nullptr);

    // GUI thread.
    void setSetup(const InputEntryWatchSetup &setup) { m_setup = setup; }
    InputEntrySnapshot snapshot(const InputEntryMap &map) const;
    quint32 entries(int input, const InputEntryMap &map) const;
    qint64 lastEntryMs(int input, const InputEntryMap &map) const;
    // Entries of `input` as counted under `map` that a read has taken (after a change of the map, the
    // count under the new one: a setting that changes is no entry).
    quint32 readEntries(int input, const InputEntryMap &map);
    // The entries of `input` up to `count` are read. Returns true when that ends the hold; `stall`
    // then says what it was.
    bool markRead(int input, const InputEntryMap &map, quint32 count, InputEntryStall *stall = nullptr);
    bool holding() const { return m_holding; }
    // The mark side (any thread): an entry of `input`, as the setup's map counts it, is counted and the
    // cycle has not taken it yet.
    bool untakenEntry(int input) const;

private:
    bool m_firstFrameSeen = false;
    quint32 m_word = 0;
    quint32 m_rises[16] = {};
    quint32 m_falls[16] = {};
    qint64 m_lastRiseMs[16] = {};
    qint64 m_lastFallMs[16] = {};

    InputEntryWatchSetup m_setup;
    InputEntryMap m_readMap;
    bool m_readMapSet[16] = {};
    quint32 m_read[16] = {};
    qint64 m_unreadSinceMs[16] = {};
    bool m_holding = false;
    InputEntryStall m_stall;
};

// The watch of the one board link; reset by ControlPort's constructor. Under gIoMutex.
extern InputEntryWatch gIoEntryWatch;

#pragma once
// The I/O thread's count of the inputs' entries into their active state, and its watch over the machine
// cycle. The cycle reads inputs only when its pass runs on the GUI thread; a pulse that came and went
// between two passes left no level behind, and a GUI thread that stalls (a shell command, a long
// judgement, a modal loop) left the clamp word the board holds as it was. Counting every status frame's
// rises and falls keeps the pulse, and a cycle-start entry that no pass has read within a bound puts a
// hold on the clamp output that the board gets from the I/O thread itself.
//
// The debounce is judged here too, from the entry's own stamps: an entry that stayed active for the
// debounce time is an opening (with debounce 0 every entry is), judged when it falls and on every poll
// while it is active; one that fell sooner is a glitch. In the modes where the cycle blocks the clamp at
// every cycle start, an opening of a watched input gets that block from the I/O thread at once, and an
// opening of a cycle-start input asks for its mark on the disk. A block or hold lasts until the cycle
// has taken the entry: latched it (the block passes into the cycle's own word) or dropped it as a
// glitch (the block ends). Every entry's span is judged, taken or not: where the cycle's debounce timer
// latched an entry before the poll judged it, the poll blocks it all the same until the cycle's pass
// has started its cycle or dropped the latch.
//
// Taking an entry is not judging it: a pass may read an opening and then return (a camera lost, a
// detection busy, an alarm latched). So beside what the cycle took, the watch keeps what it covered: an
// opening that asked for its mark keeps it until the cycle's own mark for it is on disk (its cycle
// start), a verdict of a cycle that started at or after it is, the cycle dropped it as a glitch, or the
// start's judgement of a detection cut short took it.
//
// Threads: one instance, gIoEntryWatch, guarded by gIoMutex; every member below is called with gIoMutex
// held. statusFrame, heldWord and takeMarkRequests are the I/O thread's; untakenEntry and
// uncoveredOpening the mark's thread's too; the rest are called by ControlPort on the GUI thread. The lock
// is held for the count, the span rule and the takes as well as for the words: a few comparisons per input,
// never a disk call.

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
    // Bit i: an entry of input i not yet taken by the cycle stayed active for the debounce time, or is
    // active and has reached it (with debounce 0: any entry not yet taken).
    quint32 openingWord = 0;
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
    qint64 debounceMs = 0;    // an entry is an opening once it stayed active this long
    bool blockAtOnce = false; // the cycle blocks the clamp at every cycle start (no pre-cut, no cut
                              // clamp on mould alarm): an opening of a watched input gets it from the poll
    quint32 markInputs = 0;   // bit i: input i starts a cycle; its opening asks for its mark (armed only)
};

// One trip of the guard, for the line that says so.
struct InputEntryStall
{
    int input = -1;
    qint64 unreadSinceMs = 0; // stamp of the entry nobody read
    qint64 heldAtMs = 0;      // when the hold went on
};

// What the cycle's take of an input's entries did to the holds of the clamp on that input.
struct InputEntryTake
{
    bool keepClamp = false; // a block or hold ended with the entry latched: the cycle's word keeps it
    bool guardHeld = false; // the unread bound's hold was on for this input (and ends now)
    qint64 lengthMs = 0;    // the longest entry since the last take that fell (0: none fell)
};

// The debounce expiry's verdict on the entries a pass read and the cycle has not taken.
enum class InputDebounce
{
    Latch,
    Drop,
    Wait
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
    void setSetup(const InputEntryWatchSetup &setup);
    InputEntrySnapshot snapshot(const InputEntryMap &map) const;
    quint32 entries(int input, const InputEntryMap &map) const;
    qint64 lastEntryMs(int input, const InputEntryMap &map) const;
    // Entries of `input` as counted under `map` that a read has taken (after a change of the map, the
    // count under the new one: a setting that changes is no entry).
    quint32 readEntries(int input, const InputEntryMap &map);
    // The entries of `input` up to `count` are read. Returns true when that reaches the entry the unread
    // bound held the clamp for; `stall` then says what it was. With debounce 0 the read is also the
    // cycle's take (it latches the entry at once, or drops it as a busy pass's edge): `took` says what
    // the take did. With a debounce time the hold lasts until the take.
    bool markRead(int input, const InputEntryMap &map, quint32 count, InputEntryStall *stall = nullptr,
                  InputEntryTake *took = nullptr);
    // The cycle has taken the entries of `input` up to `count` (at most those read): `latched` when it
    // latched them, or a busy pass dropped them (the clamp stays blocked in the cycle's word), else
    // dropped as a glitch (the block ends, the clamp is what the cycle's word says). `stall` is filled
    // when the unread bound's hold on this input ends.
    InputEntryTake take(int input, const InputEntryMap &map, quint32 count, bool latched,
                        InputEntryStall *stall = nullptr);
    // At the debounce expiry, `nowMs`: whether the entries read and not taken hold an opening (Latch),
    // only glitches (Drop), or one still active short of the debounce time (Wait; `waitMs` is what
    // remains of it).
    InputDebounce judgeDebounce(int input, const InputEntryMap &map, qint64 nowMs, qint64 *waitMs = nullptr);
    // What remains of the debounce time, at `nowMs`, for the entries read and not taken: 0 once an
    // opening is among them, else from the stamp of the last entry.
    qint64 debounceLeftMs(int input, const InputEntryMap &map, qint64 nowMs);
    // The poll holds the clamp: the unread bound's hold, or the block of an opening not yet taken.
    bool holding() const { return m_holding || m_blockInputs != 0; }
    // `word` as the board must get it while the clamp is held.
    quint32 withHold(quint32 word) const;
    // I/O thread: the inputs whose opening asks for its mark since the last call (cleared).
    quint32 takeMarkRequests();
    // The mark side (any thread): an entry of `input`, as the setup's map counts it, is counted and the
    // cycle has not taken it yet.
    bool untakenEntry(int input) const;

    // What the cycle has covered, GUI thread. Its cycle start for `input`: the mark of that cycle is on
    // disk, which covers the openings of `input` a read has taken; a verdict of this cycle will cover
    // what had asked for its mark by now on any input. True when a block of the poll on an entry the
    // cycle took ended with it (the cycle's word keeps the clamp blocked).
    bool cycleStarted(int input, const InputEntryMap &map);
    // The verdict of the cycle last started is on disk (the mould OK, an alarm latched).
    void cycleJudged();
    // The openings of `input` up to `count` are covered without a cycle of their own: dropped as a
    // glitch, or taken by the start's judgement of a detection cut short.
    void cover(int input, const InputEntryMap &map, quint32 count);
    // The debounce timer has latched what was read of `input`: until the pass starts its cycle or drops
    // the latch, the poll blocks an opening among it as it blocks one the cycle has not taken.
    void latched(int input);
    // The pass is over: latches it did not act on are dropped. Returns the inputs whose block ended.
    quint32 latchesDropped();
    // The mark side (any thread): an opening of `input` asked for its mark and is not covered yet.
    bool uncoveredOpening(int input) const;

private:
    bool m_firstFrameSeen = false;
    quint32 m_word = 0;
    quint32 m_rises[16] = {};
    quint32 m_falls[16] = {};
    qint64 m_lastRiseMs[16] = {};
    qint64 m_lastFallMs[16] = {};

    // The span rule, by input as the setup's map sees it: the entry active now (its number, 0: none)
    // and its stamp, the first opening since the last take, the longest entry that fell since then.
    void judgeSpan(int input, qint64 nowMs);
    void opening(int input);
    quint32 takenCount(int input) const;
    quint32 m_activeEntry[16] = {};
    qint64 m_activeFromMs[16] = {};
    bool m_activeJudged[16] = {};
    quint32 m_openingEntry[16] = {};
    qint64 m_longestMs[16] = {};
    quint32 m_taken[16] = {};
    quint32 m_blockInputs = 0;
    quint32 m_markRequests = 0;
    quint32 m_latchedInputs = 0; // latched by the debounce timer, the pass not over yet
    bool endTakenBlock(int input);

    // The newest opening that asked for its mark (0 after a change of the map: any cover covers it),
    // whether it is still uncovered, and the entries covered so far.
    quint32 m_askedEntry[16] = {};
    bool m_uncovered[16] = {};
    quint32 m_coveredCount[16] = {};
    // What was uncovered when the cycle last started: its verdict covers it.
    quint32 m_startUncovered = 0;
    quint32 m_startAsked[16] = {};
    bool m_setupSet = false;

    InputEntryWatchSetup m_setup;
    InputEntryMap m_readMap;
    bool m_readMapSet[16] = {};
    quint32 m_read[16] = {};
    qint64 m_unreadSinceMs[16] = {};
    bool m_holding = false;
    bool m_stallRead = false; // a pass has read the entry the hold is for
    InputEntryStall m_stall;
};

// The watch of the one board link; reset by ControlPort's constructor. Under gIoMutex.
extern InputEntryWatch gIoEntryWatch;

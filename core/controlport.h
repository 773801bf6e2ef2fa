#pragma once
// The machine cycle's view of the I/O board: it composes and flushes the output word, reads input
// edges and owns the poll thread. One instance, gControlPort, made by the main window.
//
// Threads: every function, and the slot that receives sigIOChange, on the GUI thread. pendingOutputs,
// inputWord and inputMemory are GUI-thread data; the words shared with the poll thread are taken
// under gIoMutex (see iolink.h).

#include "inputentrywatch.h"

#include <QObject>
#include <QPointer>

#include <functional>

class IOThread;
struct SysParam;

class ControlPort : public QObject
{
    Q_OBJECT
public:
    // Enables the poll thread, opens the board port, and puts every output at its idle level.
    // gIoPortNumber and gSysParam must be set before.
    ControlPort();
    // Stops and joins the poll thread.
    ~ControlPort() override;

    // The stalled-cycle guard's view of the cycle, installed by the main window: whether detection runs
    // (the guard watches only then) and the operation record that gets one line when a pass reads an
    // entry the guard held the clamp for. Either may be empty.
    void setCycleWatch(std::function<bool()> detecting, std::function<void(const QString &)> insertRecord);

    // The machine cycle (DeVeWizard::Run) lives above this library: the main window installs it here;
    // the poll thread's change signal reaches it queued. A window installed after the thread started
    // is connected at once; the connection ends with the window.
    void setRunSlot(QObject *mainWindow, std::function<void()> run);

    // Creates and starts the poll thread (inherited priority). Once; later calls do nothing (the main
    // window starts it as soon as the board link exists, before main's own call). The
    // thread is also joined when the process ends through exit() (quitApp), before static objects
    // go that a late signal could touch.
    void startIOThread();
    // Asks the poll thread to stop and waits for it; main calls it before the process ends.
    void stopIOThread();

    // Composes output `index` (0-8) in pendingOutputs, at its idle level when `on` is 0; nothing is
    // sent. Other indices do nothing.
    void setOutput(int index, int on);
    // setOutput(i, 0) for i = 0 to 8.
    void clearOutputs();
    // Hands pendingOutputs to the poll thread; emits sigIOChange when it differs from the last flush.
    void flushOutputs();
    // isOutput != 0: bit `bit` of pendingOutputs; else the level of input `bit` as of the last
    // checkInput (inverted by its inputInvert). 0 for bits outside 0-15.
    int getIO(int isOutput, int bit);
    // 1 when input `index` entered its active state since the previous call for that input, by its level
    // or by an entry the poll thread counted (a pulse that came and went between the calls); also
    // applies the safety-door rule. 0 and nothing else for indices outside 0-15.
    int checkInput(int index);
    // The entries the poll thread counted, as the cycle sees the inputs.
    InputEntrySnapshot inputEntries() const;
    // The entries of input `index` counted so far are taken as read: the next checkInput(index) reports
    // only entries after this call (and the level now is no new entry), and the stalled-cycle guard
    // counts them as read by a Run pass and taken by the cycle (a block of the poll on them stays in
    // pendingOutputs).
    void markEntriesRead(int index);
    // The debounce of the entries the poll thread counted, judged from their stamps (the cycle's debounce
    // timer of input `index`): what remains of the debounce time for the entries the last
    // checkInput(index) reported, or -1 when it reported no counted entry (its level alone: the
    // simulation buttons) and the level at the expiry decides.
    qint64 entryDebounceLeftMs(int index);
    // At the timer's expiry: 1 when an entry read and not taken stayed active for the debounce time
    // (latched: the clamp block of the poll passes into pendingOutputs), 0 when they were all glitches
    // (dropped: a hold of the poll for them ends without a block, with one log line), -1 when one is
    // still active short of it (`waitMs`: what remains). The entries are taken unless -1.
    int judgeDebouncedEntries(int index, qint64 *waitMs = nullptr);
    // A busy pass drops the entries of input `index` it read: taken, with the poll's block kept in
    // pendingOutputs.
    void takeReadEntries(int index);
    // The cycle's mark for a cycle start by input `index` is on disk: the openings of that input a read
    // took are covered (their marks no longer hold back "none"), and the poll's block of an entry the
    // debounce timer latched passes into pendingOutputs.
    void cycleStarted(int index);
    // The verdict of the cycle last started is on disk: what asked for its mark before that start is
    // covered.
    void cycleJudged();
    // A Run pass is over: what the debounce timer latched and the pass did not act on is dropped, and
    // the poll's block of it ends.
    void passEnded();
    // appMonotonicMs() of the board status frame that last changed input `index` as of the last
    // checkInput (after the input-3 remap); 0 when not known.
    qint64 inputChangedMs(int index) const;

    bool inputMemory[16] = {}; // raw bit seen by the previous checkInput of each input
    quint32 pendingOutputs = 0;
    quint32 inputWord = 0; // inputs of the last checkInput, after the input-3 remap
    qint64 inputStamps[16] = {}; // their change times, remapped with them
    IOThread *ioThread = nullptr;

signals:
    // The output word changed (flushOutputs).
    void sigIOChange();
    // The poll thread's sigBoardSilent, queued onto the GUI thread.
    void sigBoardSilent(bool silent);

private:
    void connectRunSlot();
    // The guard's view of the cycle for the poll thread; under gIoMutex.
    InputEntryWatchSetup watchSetup(const InputEntryMap &map) const;
    // A read ended the guard's hold: the clamp stays held in pendingOutputs, handed over in the same
    // hold of gIoMutex, so the board never sees the word without it. Under gIoMutex.
    void keepHeldClamp();
    // The cycle took entries: the word the poll thread gets, with the block kept when they latched.
    // Under gIoMutex.
    void tookEntries(const InputEntryTake &took);
    // After gIoMutex is released: the record line of the stall, with how long the entry waited.
    void stallHoldEnded(const InputEntryStall &stall);

    bool m_readCounted[16] = {}; // the last checkInput of each input reported a counted entry
    std::function<bool()> m_detecting;
    std::function<void(const QString &)> m_insertRecord;
    QPointer<QObject> m_runReceiver;
    std::function<void()> m_run;
};

// The inputs whose entry into their active state starts a detection: the cycle start (input 0; on the
// turntable 0 and/or 3 as detectMold allows) and, with `withDoor` and its trigger set, the safety door
// (input 1). The stalled-cycle guard and the start decision both watch these. Any thread.
quint32 cycleStartInputMask(const SysParam &p, bool withDoor);

// Stops and joins the poll thread of the ControlPort that started one, if it still runs; registered
// with atexit by startIOThread. GUI thread (or the exiting thread).
void joinIoThreadBeforeExit();

// The one ControlPort; created by the main window's constructor, lives for the whole run.
extern ControlPort *gControlPort;

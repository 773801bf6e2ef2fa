#include "controlport.h"

#include "clock.h"
#include "corelog.h"
#include "iolink.h"
#include "iothread.h"
#include "mutexlocker.h"
#include "startup.h"
#include "sysparam.h"
#include "uitexttable.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>

ControlPort *gControlPort = nullptr;

namespace {

constexpr int kOutputCount = 9; // outputs 0-8 are driven; bit 9 never
constexpr int kIoBits = 16;
constexpr int kAlarmOutput = 2;
constexpr int kSafetyDoorInput = 1;

// Idle level of an output: outputs 0-7 have their own word, output 8 has the one after them.
int outputInitOf(int index)
{
    return index < 8 ? gSysParam->outputInit[index] : gSysParam->reserved100;
}

// Only inputs 0-7 have an inversion setting; inputs 8 and 9 are never inverted.
int inputInvertOf(int index)
{
    return index >= 0 && index < 8 ? gSysParam->inputInvert[index] : 0;
}

quint32 bitOf(quint32 word, int bit)
{
    return (word >> bit) & 1u;
}

// Board input 3 can stand in for input 0, 1 or 2 (a machine wired differently): the input it stands in
// for, or -1.
int inputThreeTarget()
{
    const int input4Use = gSysParam->input4Use;
    if (input4Use == 0)
        return -1;
    return input4Use == 1 ? 0 : input4Use == 2 ? 1 : 2;
}

quint32 remapInputThree(quint32 word)
{
    const int target = inputThreeTarget();
    if (target < 0)
        return word;
    return (word & ~(1u << target)) | (bitOf(word, 3) << target);
}

// The record's text of a stall: the seconds the opening waited for a pass, one decimal.
constexpr int kStallRecordRow = 775;

// The poll thread of the live ControlPort, for the exit-time join. GUI thread.
IOThread *runningIoThread = nullptr;

} // namespace

void joinIoThreadBeforeExit()
{
    if (!runningIoThread)
        return;
    runningIoThread->requestStop();
    runningIoThread->wait();
}

ControlPort::ControlPort()
{
    {
        // The span rule judges from the first frame on: the start decision takes entries by it.
        const InputEntryWatchSetup setup = watchSetup(InputEntryMap::fromParams());
        MutexLocker lock(gIoMutex);
        gIoEntryWatch.reset();
        gIoEntryWatch.setSetup(setup);
    }
    inputWord = 0;
    gIoThreadEnabled = 1;
    openIoSerialPort();
    clearOutputs();
    flushOutputs();
}

ControlPort::~ControlPort()
{
    stopIOThread();
    if (runningIoThread == ioThread)
        runningIoThread = nullptr;
}

void ControlPort::setRunSlot(QObject *mainWindow, std::function<void()> run)
{
    if (ioThread && m_runReceiver)
        disconnect(ioThread, &IOThread::sigIOChange, m_runReceiver, nullptr);
    m_runReceiver = mainWindow;
    m_run = std::move(run);
    connectRunSlot();
}

void ControlPort::setCycleWatch(std::function<bool()> detecting,
                                std::function<void(const QString &)> insertRecord)
{
    m_detecting = std::move(detecting);
    m_insertRecord = std::move(insertRecord);
}

void ControlPort::connectRunSlot()
{
    if (ioThread && m_runReceiver && m_run)
        connect(ioThread, &IOThread::sigIOChange, m_runReceiver.data(), m_run);
}

void ControlPort::startIOThread()
{
    if (ioThread)
        return;
    ioThread = new IOThread(this);
    connectRunSlot();
    connect(ioThread, &IOThread::sigBoardSilent, this, &ControlPort::sigBoardSilent, Qt::QueuedConnection);
    // exit() runs static destructors while threads still run; a pass emitting into half-destroyed
    // Qt state then crashes the box on its way down.
    static const bool registered = std::atexit(joinIoThreadBeforeExit) == 0;
    Q_UNUSED(registered)
    runningIoThread = ioThread;
    ioThread->start(QThread::InheritPriority);
}

void ControlPort::stopIOThread()
{
    if (!ioThread)
        return;
    ioThread->requestStop();
    ioThread->wait();
}

void ControlPort::setOutput(int index, int on)
{
    if (index < 0 || index >= kOutputCount)
        return;
    int value = on;
    if (outputInitOf(index))
        value = value == 0 ? 1 : 0;
    int bit = index;
    // Compared as index + 1: the stored role may be any number, and INT_MIN - 1 would overflow.
    const int output4Use = gSysParam->output4Use;
    if (output4Use != 0 && output4Use == index + 1)
        bit = 3;
    if (value)
        pendingOutputs |= 1u << bit;
    else
        pendingOutputs &= ~(1u << bit);
}

void ControlPort::clearOutputs()
{
    for (int i = 0; i < kOutputCount; ++i)
        setOutput(i, 0);
}

void ControlPort::flushOutputs()
{
    {
        MutexLocker lock(gIoMutex);
        // While the poll holds the clamp for an entry the cycle has not taken, no word of this side
        // frees it; the cycle's own word is kept apart, for a glitch's drop leaves the clamp as it says.
        gIoOutputWord = gIoEntryWatch.withHold(pendingOutputs);
    }
    if (pendingOutputs != gIoLastFlushed) {
        gIoLastFlushed = pendingOutputs;
        emit sigIOChange();
    }
}

int ControlPort::getIO(int isOutput, int bit)
{
    if (bit < 0 || bit >= kIoBits)
        return 0;
    if (isOutput)
        return int(bitOf(pendingOutputs, bit));
    const quint32 raw = bitOf(inputWord, bit);
    return int(inputInvertOf(bit) ? raw ^ 1u : raw);
}

qint64 ControlPort::inputChangedMs(int index) const
{
    return index >= 0 && index < kIoBits ? inputStamps[index] : 0;
}

int ControlPort::checkInput(int index)
{
    if (index < 0 || index >= kIoBits)
        return 0;
    const InputEntryMap map = InputEntryMap::fromParams();
    const InputEntryWatchSetup setup = watchSetup(map);
    bool counted = false;
    qint64 entryMs = 0;
    InputEntryStall stall;
    bool stallRead = false;
    {
        MutexLocker lock(gIoMutex);
        inputWord = gIoInputWord;
        std::copy(std::begin(gIoInputChangedMs), std::end(gIoInputChangedMs), std::begin(inputStamps));
        gIoEntryWatch.setSetup(setup);
        const quint32 entries = gIoEntryWatch.entries(index, map);
        counted = entries != gIoEntryWatch.readEntries(index, map);
        entryMs = gIoEntryWatch.lastEntryMs(index, map);
        InputEntryTake took;
        stallRead = gIoEntryWatch.markRead(index, map, entries, &stall, &took);
        tookEntries(took);
    }
    m_readCounted[index] = counted;
    if (stallRead)
        stallHoldEnded(stall);
    const int target = inputThreeTarget();
    inputWord = remapInputThree(inputWord);
    if (target >= 0)
        inputStamps[target] = inputStamps[3];

    const bool raw = bitOf(inputWord, index);
    const bool inv = inputInvertOf(index) != 0;
    const bool mem = inputMemory[index];
    const bool levelEdge = (!mem && raw && !inv) || (mem && !raw && inv);
    const int result = levelEdge || counted ? 1 : 0;
    // A pulse gone before this call left no level behind: its entry is the change that started it.
    if (counted && !levelEdge && entryMs != 0)
        inputStamps[index] = entryMs;

    // Opening the safety door (input 1 leaving its active level) drops the alarm output at once, on
    // every call, so that the door is seen whichever input the cycle happens to ask about.
    if (gSysParam->machineType != 1 && gSysParam->machineType != 2) {
        const bool raw1 = bitOf(inputWord, kSafetyDoorInput);
        const bool mem1 = inputMemory[kSafetyDoorInput];
        const bool inv1 = inputInvertOf(kSafetyDoorInput) != 0;
        if ((mem1 && !raw1 && !inv1) || (!mem1 && raw1 && inv1)) {
            if (bitOf(pendingOutputs, kAlarmOutput))
                setOutput(kAlarmOutput, 0);
            flushOutputs();
            gSafetyDoorOpened = true;
        }
    }

    inputMemory[index] = raw;
    return result;
}

InputEntrySnapshot ControlPort::inputEntries() const
{
    const InputEntryMap map = InputEntryMap::fromParams();
    MutexLocker lock(gIoMutex);
    return gIoEntryWatch.snapshot(map);
}

void ControlPort::markEntriesRead(int index)
{
    if (index < 0 || index >= kIoBits)
        return;
    const InputEntryMap map = InputEntryMap::fromParams();
    const InputEntryWatchSetup setup = watchSetup(map);
    quint32 word;
    InputEntryStall stall;
    bool stallRead;
    {
        MutexLocker lock(gIoMutex);
        word = gIoInputWord;
        gIoEntryWatch.setSetup(setup);
        const quint32 entries = gIoEntryWatch.entries(index, map);
        stallRead = gIoEntryWatch.markRead(index, map, entries, &stall);
        tookEntries(gIoEntryWatch.take(index, map, entries, true));
        gIoEntryWatch.cover(index, map, entries);
    }
    m_readCounted[index] = false;
    if (stallRead)
        stallHoldEnded(stall);
    inputMemory[index] = bitOf(remapInputThree(word), index);
}

qint64 ControlPort::entryDebounceLeftMs(int index)
{
    if (index < 0 || index >= kIoBits || !m_readCounted[index])
        return -1;
    const InputEntryMap map = InputEntryMap::fromParams();
    MutexLocker lock(gIoMutex);
    return gIoEntryWatch.debounceLeftMs(index, map, appMonotonicMs());
}

void ControlPort::takeReadEntries(int index)
{
    if (index < 0 || index >= kIoBits)
        return;
    const InputEntryMap map = InputEntryMap::fromParams();
    MutexLocker lock(gIoMutex);
    tookEntries(gIoEntryWatch.take(index, map, gIoEntryWatch.readEntries(index, map), true));
}

int ControlPort::judgeDebouncedEntries(int index, qint64 *waitMs)
{
    if (waitMs)
        *waitMs = 0;
    if (index < 0 || index >= kIoBits)
        return 0;
    const InputEntryMap map = InputEntryMap::fromParams();
    InputDebounce verdict;
    InputEntryTake took;
    qint64 debounceMs = 0;
    {
        MutexLocker lock(gIoMutex);
        verdict = gIoEntryWatch.judgeDebounce(index, map, appMonotonicMs(), waitMs);
        if (verdict == InputDebounce::Wait)
            return -1;
        const quint32 read = gIoEntryWatch.readEntries(index, map);
        took = gIoEntryWatch.take(index, map, read, verdict == InputDebounce::Latch);
        tookEntries(took);
        if (verdict == InputDebounce::Latch)
            gIoEntryWatch.latched(index);
        else
            gIoEntryWatch.cover(index, map, read);
        debounceMs = watchSetup(map).debounceMs;
    }
    if (verdict == InputDebounce::Drop && took.guardHeld)
        qCWarning(lcCore).noquote() << QStringLiteral(
                                           "Input %1 was active for %2 ms, less than the debounce "
                                           "time of %3 ms: a glitch, not an opening; the clamp "
                                           "held for it is free again")
                                           .arg(index)
                                           .arg(took.lengthMs)
                                           .arg(debounceMs);
    return verdict == InputDebounce::Latch ? 1 : 0;
}

void ControlPort::cycleStarted(int index)
{
    const InputEntryMap map = InputEntryMap::fromParams();
    MutexLocker lock(gIoMutex);
    if (gIoEntryWatch.cycleStarted(index, map))
        keepHeldClamp();
}

void ControlPort::cycleJudged()
{
    MutexLocker lock(gIoMutex);
    gIoEntryWatch.cycleJudged();
}

void ControlPort::passEnded()
{
    MutexLocker lock(gIoMutex);
    if (gIoEntryWatch.latchesDropped() != 0)
        gIoOutputWord = gIoEntryWatch.withHold(gIoLastFlushed);
}

quint32 cycleStartInputMask(const SysParam &p, bool withDoor)
{
    quint32 mask = 0;
    if (p.machineType == 2) {
        mask |= p.detectMold != 1 ? 1u << 0 : 0u;
        mask |= p.detectMold != 0 ? 1u << 3 : 0u;
    } else {
        mask = 1u << 0;
    }
    if (withDoor && p.safetyDoorTrigger)
        mask |= 1u << kSafetyDoorInput;
    return mask;
}

InputEntryWatchSetup ControlPort::watchSetup(const InputEntryMap &map) const
{
    const SysParam &p = *gSysParam;
    InputEntryWatchSetup setup;
    // In the OK/NG pulse mode output 0 is half of the NG pulse, not the interlock: judged late, not held.
    setup.armed = m_detecting && m_detecting() && !p.okNgPulse;
    setup.watchedInputs = cycleStartInputMask(p, true);
    setup.map = map;
    // "Clamp not allowed" as setOutput(0, 1) puts it on the board.
    setup.holdLevel = outputInitOf(0) == 0;
    setup.holdBit = p.output4Use == 1 ? 3 : 0;
    setup.debounceMs = std::clamp<qint64>(qint64(p.debounceTime) * 100, 0, 24LL * 3600 * 1000);
    // As the cycle start blocks output 0: at once unless a pre-cut time (1 to 9.9 s) or the cut at a
    // mould alarm keeps the clamp free for a while.
    setup.blockAtOnce = !(p.preCutTime >= 1 && p.preCutTime <= 99) && !p.cutClampOnMoldAlarm;
    setup.markInputs = cycleStartInputMask(p, false);
    return setup;
}

void ControlPort::keepHeldClamp()
{
    setOutput(0, 1);
    gIoOutputWord = gIoEntryWatch.withHold(pendingOutputs);
}

void ControlPort::tookEntries(const InputEntryTake &took)
{
    if (took.keepClamp)
        keepHeldClamp();
    else if (took.guardHeld)
        gIoOutputWord = gIoEntryWatch.withHold(gIoLastFlushed);
}

void ControlPort::stallHoldEnded(const InputEntryStall &stall)
{
    const qint64 unreadMs = appMonotonicMs() - stall.unreadSinceMs;
    if (m_insertRecord)
        m_insertRecord(uiText(kStallRecordRow).arg(QString::number(double(unreadMs) / 1000.0, 'f', 1)));
}

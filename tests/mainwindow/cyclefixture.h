#pragma once
// Shared by the machine-cycle tests: fake camera views with scripted verdicts and pictures, the world
// they report to, the real output word of the board link read back, and the standard machine a case
// starts from. Every output idles open in these cases, so a bit of the word is the logical value.

#include "camerainterface.h"
#include "clock.h"
#include "controlport.h"
#include "editorhooks.h"
#include "iolink.h"
#include "machinecycle.h"
#include "mutexlocker.h"
#include "startup.h"
#include "sysparam.h"
#include "uitexttable.h"

#include <QDir>
#include <QList>
#include <QStringList>
#include <QVector>
#include <functional>

// Everything the cycle did to the world around it, and what its cameras show.
struct CycleWorld
{
    int cameras = 1;
    QVector<bool> verdict = QVector<bool>(8, true); // per camera: all regions pass
    QList<bool> scriptedNg;                         // per judgement of the mould: true NG (overrides)
    QVector<int> failedOutputs;
    QVector<TemperatureOutcome> temperatures;
    bool connected = true;
    qint64 frameAge = 0;    // of every camera's frame, ms
    bool delivering = true; // every camera has a new picture at every pass
    qint64 takenMs = -1;    // appMonotonicMs() of the last picture delivered, -1 none
    int judgements = 0;
    QList<int> judgedSlots;
    int editorOpened = 0;
    int editorClosed = 0;
    int alarmStarts = 0;
    int alarmFinishMarks = 0;
    int finishCalls = 0;
    QList<bool> detectOnce;
    QStringList records;
    QStringList warnings;
    bool answerYes = true;
    bool authorized = true;
    std::function<void()> duringJudgement;
    // What a stop of the box leaves behind (see addStopHooks).
    bool latchWritten = true;    // the latch file reaches the disk
    QList<quint32> wordsAtLatch; // the board's word when each latch was written
    QStringList marks;           // "set <slot> <side> @<word>" or "clear @<word>", the board's word then
    int markerRemoved = 0;
    int latchRemoved = 0;
};

// The whole output word the last flush handed to the board's poll thread. Bits: 0 clamp not allowed,
// 1 ejector not allowed, 2 alarm, 3 reserve, 4 to 7 the NG pulses of region outputs 0 to 3.
inline quint32 boardWord()
{
    MutexLocker lock(gIoMutex);
    return gIoOutputWord;
}

inline int out(int channel)
{
    return gControlPort->getIO(1, channel);
}

// The board's inputs as the I/O thread stores them, each change stamped now.
inline void setInputs(quint32 word)
{
    MutexLocker lock(gIoMutex);
    for (int b = 0; b < 16; ++b) {
        if ((word ^ gIoInputWord) & (1u << b))
            gIoInputChangedMs[b] = appMonotonicMs();
    }
    gIoInputWord = word;
}

// One pass with `input` raised, then lowered again.
inline void pulseInput(MachineCycle &cycle, int input)
{
    setInputs(1u << input);
    cycle.Run();
    setInputs(0);
}

// One pass with input 0 raised, the board having reported the opening 10 s before it: long before
// the pass's picture, so the opening is judged in the pass itself; then the input lowered again.
inline void pulseOpeningReportedLongAgo(MachineCycle &cycle)
{
    setInputs(1);
    {
        MutexLocker lock(gIoMutex);
        gIoInputChangedMs[0] -= 10000;
    }
    cycle.Run();
    setInputs(0);
}

// The camera views, the record, the boxes and the report calls of a fake world.
inline CycleHooks fakeHooks(CycleWorld *w)
{
    CycleHooks h;
    h.cameraCount = w->cameras;
    h.cameraConnected = [w](int) { return w->connected; };
    h.cameraOpen = [](int) { return true; };
    h.grabFrame = [w](int) {
        if (w->delivering)
            w->takenMs = appMonotonicMs();
        return w->delivering;
    };
    h.frameTakenMs = [w](int) { return w->takenMs; };
    h.frameAgeMs = [w](int) { return w->frameAge; };
    h.judgeCameras = [w](const QVector<int> &cams, int slot) {
        ++w->judgements;
        w->judgedSlots << slot;
        if (!w->scriptedNg.isEmpty()) {
            const bool ng = w->scriptedNg.takeFirst();
            for (int c : cams)
                w->verdict[c] = !ng || c % 2 == 1; // cameras 1, 3 .. (0 and 2 by index) fail
        }
        if (w->duringJudgement)
            w->duringJudgement();
        QVector<TemperatureOutcome> outcomes; // per camera judged: temperatures[camera]
        for (int c : cams)
            outcomes << w->temperatures.value(c);
        return outcomes;
    };
    h.allPass = [w](int c) { return w->verdict.value(c, true); };
    h.setAllPass = [w](int c, bool p) { w->verdict[c] = p; };
    h.resetResults = [w](int c) { w->verdict[c] = true; };
    h.failedRegionOutputs = [w](int, int) { return w->failedOutputs; };
    h.openEditor = [w] { ++w->editorOpened; };
    h.closeEditor = [w] { ++w->editorClosed; };
    h.sendAlarmStartTiming = [w](int) { ++w->alarmStarts; };
    h.markAlarmFinished = [w] { ++w->alarmFinishMarks; };
    h.sendAlarmFinishTiming = [w] { ++w->finishCalls; };
    h.sendDetectOnceInfo = [w](bool ok) { w->detectOnce << ok; };
    h.InsertRecord = [w](const QString &line) { w->records << line; };
    h.showWarning = [w](const QString &text, bool) { w->warnings << text; };
    h.askYesNo = [w](const QString &) { return w->answerYes; };
    h.authorizeStop = [w] { return w->authorized; };
    h.userLevel = [] { return 2; };
    return h;
}

// The files a stop of the box leaves behind, recorded in the world: the latch file, the mark of a
// detection under way and the marker of restored factory parameters.
inline void addStopHooks(CycleHooks &h, CycleWorld *w)
{
    h.saveLatchedAlarm = [w](const QVector<int> &) {
        w->wordsAtLatch << boardWord();
        return w->latchWritten;
    };
    h.removeLatchedAlarm = [w] { ++w->latchRemoved; };
    h.markDetection = [w](int slot, int side) {
        w->marks << QStringLiteral("set %1 %2 @%3").arg(slot).arg(side).arg(boardWord());
    };
    h.clearDetectionMark = [w] { w->marks << QStringLiteral("clear @%1").arg(boardWord()); };
    h.removeParamRestoredMarker = [w] { ++w->markerRemoved; };
}

// The world and the window state of a FakeCycle, made before the cycle that points at them.
struct CycleParts
{
    explicit CycleParts(int cameras)
    {
        world.cameras = cameras;
        state.manualTrigSlot = gDetectSlotCount;
    }
    CycleWorld world;
    CycleWindowState state;
};

// A machine cycle on the fake cameras of its own world, with the window state it shows; no manual
// trigger asked, detection not started. `cameras` camera views; with `stopFiles` the world also
// records what a stop of the box would find (addStopHooks). Set gDetectSlotCount first.
class FakeCycle : public CycleParts, public MachineCycle
{
public:
    explicit FakeCycle(int cameras = 1, bool stopFiles = false)
        : CycleParts(cameras), MachineCycle(&state, hooksOf(&world, stopFiles))
    {
    }

private:
    static CycleHooks hooksOf(CycleWorld *w, bool stopFiles)
    {
        CycleHooks h = fakeHooks(w);
        if (stopFiles)
            addStopHooks(h, w);
        return h;
    }
};

// The box's monotonic clock held at `now` while the case moves it by hand, given back to the real
// clock however the case ends, so that a failed comparison leaves no frozen clock to the next case.
struct FrozenClock
{
    FrozenClock() { setAppMonotonicClock([this] { return now; }); }
    ~FrozenClock() { setAppMonotonicClock({}); }
    FrozenClock(const FrozenClock &) = delete;
    FrozenClock &operator=(const FrozenClock &) = delete;
    qint64 now = 1000000;
};

// The standard machine (type 0): product and mould slots enabled, both started by input 0 after
// `delay0` and `delay1` tenths, `debounce` tenths of debounce; no alarm, learning or area check
// pending, the board link's word cleared and every input read low.
inline void standardMachine(SysParam &param, int debounce = 0, int delay0 = 0, int delay1 = 0)
{
    param = SysParam();
    param.machineType = 0;
    param.enableProdDetect = 1;
    param.slotEnabled[0] = param.slotEnabled[1] = 1;
    param.slotTrigInput[0] = param.slotTrigInput[1] = 0;
    param.debounceTime = debounce;
    param.trigInDelay[0] = delay0;
    param.trigInDelay[1] = delay1;
    gSysParam = &param;
    gDetectSlotCount = 2;
    gSlotDelaySum = 0;
    gTemperatureAlarm = false;
    gAreaCheckActive = false;
    gRetrainDone = false;
    gNgImageLimit = 10;
    gOkImageLimit = 10;
    setInputs(0);
    delete gControlPort;
    gControlPort = new ControlPort;
    gControlPort->clearOutputs();
    gControlPort->flushOutputs();
    for (int i = 0; i < 8; ++i)
        gControlPort->checkInput(i);
}

// The standard machine judging the mould alone: no product slot, no product inspection.
inline void mouldOnlyMachine(SysParam &param, int debounce = 0, int delay1 = 0)
{
    standardMachine(param, debounce, 0, delay1);
    param.slotEnabled[0] = 0;
    param.enableProdDetect = 0;
}

// initTestCase and cleanupTestCase of every machine-cycle test: the interface texts, the process
// mutexes and a board port that names no device; then no board link and no parameters left.
inline void initCycleTests()
{
    fillUiTextTable();
    if (!gIoMutex)
        createProcessMutexes();
    setIoPortPattern(QDir::temp().filePath(QStringLiteral("no-board-%1")));
}

inline void cleanupCycleTests()
{
    delete gControlPort;
    gControlPort = nullptr;
    gSysParam = nullptr;
}

#pragma once
// The moulding cycle of the box: input edges start delayed detections on every camera, their results
// drive the clamp, ejector, alarm and NG outputs, an NG mould is re-detected before the alarm latches,
// and the operator starts, stops and re-learns. Owned by the main window; everything outside the
// cycle (camera views, region editor, report link, record, boxes) is reached through CycleHooks, so
// the cycle runs the same against the real window and against a test's fakes.
//
// Threads: every function, slot and timer on the GUI thread only. Nothing here blocks; every wait is
// a timer. Run is also entered directly by ControlPort::flushOutputs when the output word changes,
// and from modal loops; such a pass is nested (see cycleDepth) and only checks the cameras and
// flushes.
//
// Implementation: machinecycle.cpp (Run, the input side, triggers and watchdog), machinecycledetect.cpp
// (countdowns, detection, combination, re-detection, pulses, result display), detectioncontrol.cpp
// (start, stop, re-learn and the menu bar's detection buttons).

#include "detectpass.h"

#include <QObject>
#include <QString>
#include <QVector>

#include <functional>

class QTimer;

// Output channels handed to ControlPort::setOutput; on 0 and 1 the value 1 means "not allowed".
enum OutputChannel { OutClose = 0, OutThimble = 1, OutAlarm = 2, OutReserve = 3, OutNG = 4 };

// The main window's fields the cycle shares with the rest of the box (status strip, report link,
// layout). The main window inherits it; a test holds one of its own.
struct CycleWindowState
{
    int moldSide = 0;       // written by the parameter loader, then by the machine cycle (1 left, 0 right)
    int screenOff = 0;      // 1 while the backlight is off
    int runState = 1;       // 1 detecting, 2 learning templates, 3 stopped
    int alarmState = 0;     // 0 normal, 1 result shown, 2 NG alarm latched, 3 alarm review
    int detectStatus = 3;   // 1 counting down, 2 detected, 3 idle
    int currentSlot = 1;    // detection slot of the running cycle step
    int manualTrigSlot = 0; // pair position of a manual trigger; gDetectSlotCount = none
    int cycleTenths = 0;    // last cycle time, 0.1 s
    qint64 cycleMarkTenths = 0; // time of the last cycle start, 0.1 s since the epoch
};

// What the cycle asks of the box around it. Every hook may be left empty: it then does nothing and
// answers false / 0 / empty. GUI thread.
struct CycleHooks
{
    int cameraCount = 0; // camera views in use, at most 8

    // Camera views.
    std::function<bool(int camera)> cameraConnected;
    std::function<bool(int camera)> cameraOpen;
    std::function<bool(int camera)> grabFrame; // true when a new frame was delivered
    // Milliseconds since the frame in the camera's grab buffer reached its back-end (empty: 0).
    std::function<qint64(int camera)> frameAgeMs;
    // appMonotonicMs() when that frame reached its back-end, -1 without a frame (empty: now minus
    // frameAgeMs).
    std::function<qint64(int camera)> frameTakenMs;
    // Milliseconds between two pictures at the rate the camera's back-end really runs, 0 unknown
    // (empty: the frame-speed setting read as frames a second).
    std::function<qint64(int camera)> framePeriodMs;
    std::function<void(int camera)> applyOnceWhiteBalance;
    std::function<void(int camera, int slot)> clearAlarmHandled; // slot -1: all slots
    // Detects the listed cameras (camera order) for `slot` with their newest frames; returns each
    // camera's temperature outcome in the same order.
    std::function<QVector<TemperatureOutcome>(const QVector<int> &cameras, int slot)> judgeCameras;
    std::function<bool(int camera)> allPass;
    std::function<void(int camera, bool pass)> setAllPass;
    // Output numbers of the regions of `slot` that failed in the last detection (unchecked values).
    std::function<QVector<int>(int camera, int slot)> failedRegionOutputs;
    std::function<bool(int camera, int slot)> learnPending;
    std::function<void(int camera, int slot, bool on)> setLearnPending;
    std::function<void(int camera, int slot)> saveReTrainImage;
    std::function<void(int camera, const QString &path)> saveFrameImage;
    std::function<void(int camera, int slot)> keepNgFrame; // the ring of the last three NG frames
    std::function<void(int camera)> repaintCountdown;      // the 130 x 36 countdown area
    std::function<void(int camera)> startResultTimer;      // the view's 1000 ms result timer
    std::function<void(int camera)> repaintView;
    std::function<void(int camera, int slot, int ok)> SaveFailImage;
    std::function<void(int camera, int slot, int ok)> UpdateFailImage;
    std::function<void(int camera)> resetResults;            // all-pass and every slot's regions pass
    std::function<void(int camera, int slot)> rebuildTemplates; // position, registration, trained
    std::function<void(int camera, int slot)> clearIgnoreMask;  // cleared and saved

    // Region editor and pages.
    std::function<void()> openEditor; // DrawROIWidget::openPage(false)
    std::function<void()> refreshEditor; // DrawROIWidget::openPage(true) while it is open
    std::function<void()> closeEditor;
    std::function<void()> clickEditorReCheck;
    std::function<void(int index)> setEditorSource;
    std::function<void()> editorTempDeleteAll;
    std::function<bool()> editorVisible;
    std::function<bool()> settingsVisible;
    std::function<bool()> otherPageVisible; // camera positions or I/O names
    std::function<void()> CheckArea;        // learning done: the area check
    std::function<void()> showAllCameras;   // shownCamera := gCameraCount, ChangeCammer
    std::function<void()> hideMenus;        // help, settings and menu bar (alarm) / menu and strip (review)
    std::function<void()> repaintWindow;
    std::function<void(int row)> setStartStopText;

    // Report link (fire and forget).
    std::function<void(bool allOk)> sendDetectOnceInfo;
    std::function<void(int slot)> sendAlarmStartTiming;
    std::function<void()> markAlarmFinished; // alarmPhase := 2
    std::function<void()> sendAlarmFinishTiming;
    std::function<void(int camera, int code)> appendClearMethod;
    std::function<void(int camera, int slot)> sendSyncTempList;

    // Record, counters, statistics, boxes, lamps.
    std::function<void(const QString &line)> InsertRecord;
    std::function<void()> CountWrite;
    std::function<void(int camera, int slot, bool ok)> addResult;
    std::function<void(const QString &text, bool modal)> showWarning;
    std::function<void()> hideWarning;
    std::function<bool(const QString &question)> askYesNo;
    std::function<bool()> authorizeStop; // password or user level for stopping
    std::function<int()> userLevel;
    std::function<void()> wakeScreen; // backlight on, restart the screen-off timer
    std::function<void(int led, int on)> setLed;
    std::function<void(int clear)> saveCameraSerials;
    std::function<void()> applyFrameSpeedToAll;

    // The latched alarm kept on disk, so that a restart keeps it: written when it latches (the NG
    // cameras, currentSlot and moldSide; true once on disk), removed when it ends.
    std::function<bool(const QVector<int> &ngCameras)> saveLatchedAlarm;
    std::function<void()> removeLatchedAlarm;
    // The mark of a detection under way kept on disk, so that a restart judges a mould the box did not:
    // set (the slot still to be judged and moldSide) before the clamp-blocked word goes out, cleared once
    // the mould is judged OK or its latch is on disk.
    std::function<void(int slot, int moldSide)> markDetection;
    std::function<void()> clearDetectionMark;
    // The mark a restore of the factory PARAM.db left beside it, removed by the operator's start of
    // detection or re-learning.
    std::function<void()> removeParamRestoredMarker;
};

// The report link's calls of the cycle. The link lives beside the main window's library: start-up
// installs these before the window is built; the window's cycle calls them through CycleHooks. Empty
// members: nothing is reported. GUI thread.
struct CycleReportHooks
{
    std::function<void(bool allOk)> sendDetectOnceInfo;
    std::function<void(int slot)> sendAlarmStartTiming;
    std::function<void()> markAlarmFinished; // alarmPhase := 2
    std::function<void()> sendAlarmFinishTiming;
    std::function<void(int camera, int code)> appendClearMethod;
    std::function<void(int camera, int slot)> sendSyncTempList;
};
CycleReportHooks &cycleReportHooks();

// The record line of an NG alarm of these cameras (indexes from 0): text row 151 per camera, its last
// character removed, then row 152 (for cameras 1 and 3 in Chinese: "1号相机、3号相机 报警").
QString cameraAlarmLine(const QVector<int> &cameras);

// Passes of Run since start or since the last camera loss; white balance once at 50.
extern int gWhiteBalancePasses;
// Bit c: camera c delivered a frame since the last external trigger.
extern quint32 gExtTriggerFrames;
// Delay of the last started pair position, tenths of a second.
extern int gSlotDelaySum;
// Learning has just finished: a mould OK does not release the clamp until the templates are rebuilt.
extern bool gRetrainDone;
// The mould slot's templates are rebuilt after the automatic template update.
extern bool gTemplateRefreshPending;
// The drawing hint overlay is shown.
extern bool gDrawHint;

class MachineCycle : public QObject
{
    Q_OBJECT
public:
    // Creates the timers (runTimer, the debounce, countdown, pulse and display timers), none started.
    MachineCycle(CycleWindowState *window, CycleHooks hooks, QObject *parent = nullptr);

    CycleHooks hooks;
    CycleWindowState *w;

    // Cycle state (all indices checked; pair positions k index countdowns, slots index results).
    bool inputLatched[8] = {};
    // The debounce timer of input i judges entries the board link counted, from their stamps (else the
    // level at its expiry: an edge of the simulation buttons).
    bool debounceCounted[8] = {};
    int simulatedTrigger = -1;
    bool manualTriggered = false;
    int forcedTriggerSlot = -1;
    int directTimerUp = 0;
    quint32 pendingCameras[2] = {};
    float slotCountdown[8] = {};
    int reCheckLeft[8] = {};
    bool reCheckPending = false;
    int imageState[8][8] = {};
    bool ngPulse[4] = {};
    bool inputWatchdogShown = false;
    bool camerasConnectedShown = true;
    int shownSlot = 0;
    // Bit c: camera c was NG in the result shown (shownSlot); kept for the result display's 2000 ms.
    quint32 shownNgCameras = 0;
    bool saveFrameImages = false;
    // Nesting depth of cycle passes and detection entry points; above 0 any further Run is nested.
    int cycleDepth = 0;
    // Which frames a detection may judge (see frameFresh), all times appMonotonicMs(). countdownFromMs[k]
    // is the signal that started the detection of pair position k: the input change as the I/O thread
    // read it, or the request of a button or trigger (0: not known, the age limit alone). With the
    // external trigger it is the cycle start before this one, and judgedFrameMs[slot][c] the picture
    // of camera c a detection of that slot judged last. Set through judgePicturesAfter.
    qint64 countdownFromMs[8] = {};
    qint64 judgedFrameMs[8][8] = {};
    qint64 inputEdgeMs[8] = {};      // change times of the edges read, by input
    qint64 simulatedTriggerMs = 0;   // request of simulatedTrigger
    qint64 manualTrigMs = 0;         // request of manualTrigSlot
    qint64 cycleStartMs = 0;         // the last cycle start
    qint64 previousCycleStartMs = 0; // the one before it
    quint32 unseenCameras = 0;      // bit c: the region editor's re-check found no fresh frame of c
    // The region editor's re-check judges its cameras one at a time before its CheckNG: their
    // temperature outcomes count as one judgement, from the alarm flag as it was before the first.
    QVector<TemperatureOutcome> editorTemperatures;
    bool alarmBeforeEditorCheck = false;
    bool unseenShown = false;       // the camera warning of a detection that judged nothing is up
    // The detection of pair position k may still wait for a picture of its signal from cameras that
    // deliver (see awaitPictures); false once it judged or held.
    bool pictureWait[8] = {};
    // The detection of pair position k was started by the safety door, directly in the pass that read
    // it: a run after waiting for its picture keeps directTimerUp (the latch blocks the clamp).
    bool directStart[8] = {};
    // Bit c: camera c may not be judged until the next start (its region table could not be read).
    // Like a lost camera it blocks the clamp on every pass, with its own warning; see holdCameras.
    quint32 heldCameras = 0;
    // The bits of heldCameras that are saved cameras which did not open (see holdMissingCameras).
    quint32 missingCameras = 0;
    bool heldWarningShown = false;
    // A latch restored at start opened the editor before any picture came: it shows the first one.
    bool editorAwaitsPicture = false;
    // The alarm output of an NG that latches waits for the latch file (see latchAlarm).
    bool alarmAwaitsLatch = false;
    // A detection cut short by a stop of the box, found at start: the slot still to be judged (-1 once
    // its judgement began or when there is none), the time (appMonotonicMs) from which its cameras'
    // pictures count, and the clamp held until the mould is judged OK.
    int interruptedSlot = -1;
    qint64 interruptedFromMs = 0;
    bool interruptedHold = false;
    // The factory PARAM.db was restored (empty region tables): no word allows the clamp until the
    // operator starts detection or re-learns.
    bool paramRestoredHold = false;

    QTimer *runTimer = nullptr;
    QTimer *inputWatchdogTimer = nullptr;
    QTimer *hintTimer = nullptr;
    QTimer *inputTimers[8] = {};
    QTimer *upTimers[8] = {};
    QTimer *resultShowTimer = nullptr;
    QTimer *outNgTimer = nullptr;
    QTimer *clampTimer = nullptr;
    QTimer *ejectorTimer = nullptr;
    QTimer *reserveTimer = nullptr;
    QTimer *checkTempTimer = nullptr;
    QTimer *tempAlarmTimer = nullptr;
    QTimer *delayOutput4Timer = nullptr;

    // Camera c's verdict in the result being displayed (alarmState 1 while resultShowTimer runs):
    // 1 OK, 0 NG; -1 when no result is displayed.
    int shownVerdict(int c) const;

    // Slot kind of currentSlot: 0 product, 1 mould.
    int slotKind() const;
    // Slot detected for pair position k with the present moldSide.
    int slotOfPosition(int k) const;
    // Pair positions in use (2 on the two-colour and turntable machines).
    int positionCount() const;

    // A pre-cut time is in force (1 to 99 tenths, the only values the countdown cuts at): any other
    // stored value counts as none, so that the clamp is still cut at the cycle start and at an NG.
    static bool preCutSet();
    // Stored settings made safe for timers: 0 to a day, in milliseconds, computed in 64 bits.
    static int debounceMs();
    static int inputTimeoutMs();
    static int trigDelayTenths(int k);

public slots:
    void Run();
    void latchInput(int i);
    void TimerCheckInput(int i);
    void InCheck();
    void SlotSimulationTrig(int n); // n = 1..8
    void SlotPressedTrigIn(int n);  // n = 1..4
    void SlotReleasedTrigIn(int n);
    void SlotManualTrig(int position);
    void SlotManualTrig0() { SlotManualTrig(0); }
    void SlotManualTrig1() { SlotManualTrig(1); }
    // The numbered slots: debounce expiries (the timeouts of inputTimers), simulation buttons and the
    // pressed and released trigger buttons.
    void TimerCheckInput0() { TimerCheckInput(0); }
    void TimerCheckInput1() { TimerCheckInput(1); }
    void TimerCheckInput2() { TimerCheckInput(2); }
    void TimerCheckInput3() { TimerCheckInput(3); }
    void TimerCheckInput4() { TimerCheckInput(4); }
    void TimerCheckInput5() { TimerCheckInput(5); }
    void TimerCheckInput6() { TimerCheckInput(6); }
    void TimerCheckInput7() { TimerCheckInput(7); }
    void SlotSimulationTrigIn1() { SlotSimulationTrig(1); }
    void SlotSimulationTrigIn2() { SlotSimulationTrig(2); }
    void SlotSimulationTrigIn3() { SlotSimulationTrig(3); }
    void SlotSimulationTrigIn4() { SlotSimulationTrig(4); }
    void SlotSimulationTrigIn5() { SlotSimulationTrig(5); }
    void SlotSimulationTrigIn6() { SlotSimulationTrig(6); }
    void SlotSimulationTrigIn7() { SlotSimulationTrig(7); }
    void SlotSimulationTrigIn8() { SlotSimulationTrig(8); }
    void SlotPressedTrigIn1() { SlotPressedTrigIn(1); }
    void SlotPressedTrigIn2() { SlotPressedTrigIn(2); }
    void SlotPressedTrigIn3() { SlotPressedTrigIn(3); }
    void SlotPressedTrigIn4() { SlotPressedTrigIn(4); }
    void SlotReleasedTrigIn1() { SlotReleasedTrigIn(1); }
    void SlotReleasedTrigIn2() { SlotReleasedTrigIn(2); }
    void SlotReleasedTrigIn3() { SlotReleasedTrigIn(3); }
    void SlotReleasedTrigIn4() { SlotReleasedTrigIn(4); }

    void TimerUp(int k);
    // One countdown step from its timer (the timeouts of upTimers); a detection entry point of its own.
    void TimerUp0() { upTimerStep(0); }
    void TimerUp1() { upTimerStep(1); }
    void TimerUp2() { upTimerStep(2); }
    void TimerUp3() { upTimerStep(3); }
    void TimerUp4() { upTimerStep(4); }
    void TimerUp5() { upTimerStep(5); }
    void TimerUp6() { upTimerStep(6); }
    void TimerUp7() { upTimerStep(7); }
    void RunAlgorithm(int camera, int slot);
    // Saves the camera's frame for `slot` into the raw-frame folder when saveFrameImages is set.
    void saveRawFrame(int camera, int slot);
    void CheckNG();
    void ReCheck();
    void BackTrain();
    void TimerShow();
    void CheckTemp();
    void SlotResetAlarm();
    void OutTimerOutNG();
    void OutTimerNotAllowClose();
    void OutTimerNotAllowThimble();
    void OutTimerReserveOutput();
    void SlotTimerDelayOutput3();

    void StartDetect();
    void StopDetect();
    void SetStopDetect();
    void ResetRun();
    void SlotStartStop();
    void SlotReTrain();
    void SlotShowAlarmImgae();
    void cameraLostAlarm();
    bool allCamerasConnected() const;
    // Holds the cameras of `cameras` (bit c: camera c) until the next start: no clamp-allowed word is
    // flushed from now on, every pass shows the warning naming them (text row 746), and one record
    // line says so. Not an alarm: the menu bar stays, so that a parameter group can be restored.
    void holdCameras(quint32 cameras);
    // Holds the same way for saved cameras that did not open (bit n: the camera saved for position n),
    // whose moulds the stand-ins or the cameras that did open would pass unseen: the camera warning
    // (text row 39) instead of the region-table one, and the record line of text row 770.
    void holdMissingCameras(quint32 cameras);
    // Arms which pictures the detection of pair position k judges, for every way a detection starts.
    // `signalMs` (appMonotonicMs, 0 not known) is when its signal came: a camera is judged only on a
    // picture it received at least one of its frame periods after it and younger than its stale
    // limit; the detection waits for one (its timer steps in 100 ms) until that limit has passed
    // since then, and holds the clamp meanwhile when `direct` (it runs in the pass of the safety
    // door, whose clamp was free). With the external trigger the signal is not used: a camera is
    // judged only on a picture it received after the previous cycle start that no detection of the
    // slot judged yet, and nothing is waited for.
    void judgePicturesAfter(int k, qint64 signalMs, bool direct = false);
    // In place of StartDetect at start-up, when an NG alarm of `slot` was latched before the box
    // stopped: the latch as CheckNG leaves it (alarm on, clamp and detection stopped, the editor open,
    // the lamps) with the record line `line`, and a new alarm start for the report link (the one
    // before the restart is gone with its id). Only an OK re-check ends it, as any latch.
    void restoreLatchedAlarm(int slot, int moldSide, const QString &line);
    // In place of StartDetect at start-up, when the box stopped between a clamp-blocking edge and the
    // verdict on its mould: detection starts with the clamp held, and once every camera has delivered
    // a picture after the start, `slot` (then the mould slot, when `slot` is the product's) is judged as
    // the opening's detection would judge it. Only a mould OK releases the clamp.
    void resumeInterruptedDetection(int slot, int moldSide);
    // In place of StartDetect at start-up after the factory PARAM.db was restored: detection stopped and
    // the clamp held until the operator starts detection or re-learns; one record line, and the notice
    // (text row 760) on every pass until then, once.
    void holdRestoredParameters();
    void SlotDrawHint();
    void SlotNewUserLastStep() {}

private:
    // Raised by every detection entry point and by Run; see cycleDepth.
    struct DepthGuard
    {
        explicit DepthGuard(int &depth) : d(depth) { ++d; }
        ~DepthGuard() { --d; }
        int &d;
    };
    void upTimerStep(int k)
    {
        DepthGuard guard(cycleDepth);
        TimerUp(k);
    }
    void endPass(int pauseMs = 100);
    // Whether camera c's frame may be judged by the detection of pair position k (k < 0: a
    // re-detection or the editor's re-check, which ask only for the age): see judgePicturesAfter.
    bool frameFresh(int c, int k) const;
    // Every camera's frame may be judged; otherwise holdUnseen and false.
    bool camerasSeen(int k);
    // True while the detection of pair position k waits for its cameras' pictures: its timer runs
    // again in 100 ms.
    bool awaitPictures(int k);
    void holdUnseen(quint32 cameras);
    qint64 frameTakenMs(int c) const;
    qint64 picturePeriodMs(int c) const;
    qint64 staleLimitMs(int c) const;
    QString heldWarning(int language = -1) const;
    void outerPass();
    bool checkCameras();
    bool startCycle(int input);
    bool rearmPair(int input);
    void startPositions(int input, qint64 signalMs, bool *stopped);
    void runSlotDetection(int k);
    void latchAlarm(const QVector<int> &ngCameras);
    // Starts the judgement of the detection found cut short once its cameras have delivered;
    // `triggerPictures`: every triggered camera delivered in this pass.
    bool judgeInterruptedDetection(bool triggerPictures);
    // The mould of the running cycle is judged (or given up by the operator): its mark goes.
    void mouldJudged();
    // Sends an alarm output that waited for a latch which did not come.
    void sendAwaitedAlarm();
    void handleImages(bool ng, bool productPulse, int kind);
    void handOverImages(int kind);
    void setOutput(int channel, int on);
    void flush();
    bool machineTwoSided() const;
};

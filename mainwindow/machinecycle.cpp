// The input side of the moulding cycle: one pass of Run, the debounce latches, the triggers that open
// a cycle and start the slot countdowns, the no-input watchdog and the simulated and manual triggers.

#include "machinecycle.h"

#include "camerainterface.h"
#include "clock.h"
#include "controlport.h"
#include "iolink.h"
#include "mainwindowlog.h"
#include "mutexlocker.h"
#include "startup.h"
#include "sysparam.h"
#include "uitexttable.h"

#include <QTimer>
#include <algorithm>

int gWhiteBalancePasses = 0;
quint32 gExtTriggerFrames = 0;
int gSlotDelaySum = 0;
bool gRetrainDone = false;
bool gTemplateRefreshPending = false;
bool gDrawHint = false;

CycleReportHooks &cycleReportHooks()
{
    static CycleReportHooks hooks;
    return hooks;
}

namespace {
constexpr qint64 kDayMs = 24LL * 3600 * 1000;

qint64 nowTenths()
{
    return appNow().toMSecsSinceEpoch() / 100;
}
} // namespace

MachineCycle::MachineCycle(CycleWindowState *window, CycleHooks h, QObject *parent)
    : QObject(parent), hooks(std::move(h)), w(window)
{
    hooks.cameraCount = std::clamp(hooks.cameraCount, 0, 8);
    auto timer = [this](bool singleShot, auto slot) {
        auto *t = new QTimer(this);
        t->setSingleShot(singleShot);
        connect(t, &QTimer::timeout, this, slot);
        return t;
    };
    runTimer = timer(true, [this] { Run(); });
    inputWatchdogTimer = timer(false, [this] { InCheck(); });
    hintTimer = timer(false, [this] { SlotDrawHint(); });
    using Slot = void (MachineCycle::*)();
    const Slot debounced[8] = {&MachineCycle::TimerCheckInput0, &MachineCycle::TimerCheckInput1,
                               &MachineCycle::TimerCheckInput2, &MachineCycle::TimerCheckInput3,
                               &MachineCycle::TimerCheckInput4, &MachineCycle::TimerCheckInput5,
                               &MachineCycle::TimerCheckInput6, &MachineCycle::TimerCheckInput7};
    const Slot countdown[8] = {&MachineCycle::TimerUp0, &MachineCycle::TimerUp1, &MachineCycle::TimerUp2,
                               &MachineCycle::TimerUp3, &MachineCycle::TimerUp4, &MachineCycle::TimerUp5,
                               &MachineCycle::TimerUp6, &MachineCycle::TimerUp7};
    for (int i = 0; i < 8; ++i) {
        inputTimers[i] = timer(false, debounced[i]);
        upTimers[i] = timer(false, countdown[i]);
    }
    resultShowTimer = timer(false, [this] { TimerShow(); });
    outNgTimer = timer(false, [this] { OutTimerOutNG(); });
    clampTimer = timer(false, [this] { OutTimerNotAllowClose(); });
    ejectorTimer = timer(false, [this] { OutTimerNotAllowThimble(); });
    reserveTimer = timer(false, [this] { OutTimerReserveOutput(); });
    checkTempTimer = timer(false, [this] { CheckTemp(); });
    tempAlarmTimer = timer(false, [this] { SlotResetAlarm(); });
    delayOutput4Timer = timer(false, [this] { SlotTimerDelayOutput3(); });
}

bool MachineCycle::machineTwoSided() const
{
    return gSysParam->machineType == 1 || gSysParam->machineType == 2;
}

int MachineCycle::slotKind() const
{
    return machineTwoSided() ? w->currentSlot % 2 : (w->currentSlot != 0 ? 1 : 0);
}

int MachineCycle::slotOfPosition(int k) const
{
    return machineTwoSided() && w->moldSide == 0 ? k + 2 : k;
}

int MachineCycle::positionCount() const
{
    return machineTwoSided() ? 2 : std::clamp(gDetectSlotCount, 0, 8);
}

bool MachineCycle::preCutSet()
{
    return gSysParam->preCutTime >= 1 && gSysParam->preCutTime <= 99;
}

int MachineCycle::debounceMs()
{
    return int(std::clamp<qint64>(qint64(gSysParam->debounceTime) * 100, 0, kDayMs));
}

int MachineCycle::inputTimeoutMs()
{
    return int(std::clamp<qint64>(qint64(gSysParam->inputTimeout) * 1000, 0, kDayMs));
}

int MachineCycle::trigDelayTenths(int k)
{
    if (k < 0 || k >= 8)
        return 0;
    return int(std::clamp<qint64>(gSysParam->trigInDelay[k], 0, kDayMs / 100));
}

void MachineCycle::setOutput(int channel, int on)
{
    if (gControlPort)
        gControlPort->setOutput(channel, on);
}

// A flush that changes the word runs a nested pass of Run directly. While a camera is held, the factory
// parameters wait to be set again, or a detection a stop cut short waits for its verdict, no word that
// allows the clamp leaves here, whatever step asked for it (an OK re-check from the editor, a start of
// detection).
void MachineCycle::flush()
{
    if (!gControlPort)
        return;
    if (heldCameras != 0 || paramRestoredHold || interruptedHold)
        gControlPort->setOutput(OutClose, 1);
    gControlPort->flushOutputs();
}

void MachineCycle::endPass(int pauseMs)
{
    flush();
    runTimer->start(pauseMs);
}

bool MachineCycle::allCamerasConnected() const
{
    for (int c = 0; c < hooks.cameraCount; ++c) {
        if (!hooks.cameraConnected || !hooks.cameraConnected(c))
            return false;
    }
    return true;
}

// A lost camera blocks the clamp and slows the poll, detecting or not; so does a held one.
// A held camera's warning is shown once rather than on every pass: it stays until the next start,
// and the setter must be able to put it away to restore a parameter group. A lost camera is said
// first: it may come back.
bool MachineCycle::checkCameras()
{
    const bool connected = allCamerasConnected();
    if (!connected || heldCameras != 0 || paramRestoredHold) {
        gWhiteBalancePasses = 0;
        setOutput(OutClose, 1);
        flush();
        if (!connected) {
            if (hooks.showWarning)
                hooks.showWarning(uiText(39), false);
            heldWarningShown = false;
        } else if (!heldWarningShown) {
            if (hooks.showWarning)
                hooks.showWarning(heldCameras != 0 ? heldWarning() : uiText(760), false);
            heldWarningShown = true;
        }
        inputWatchdogTimer->stop();
        camerasConnectedShown = false;
        return false;
    }
    if (!camerasConnectedShown) {
        camerasConnectedShown = true;
        if (hooks.hideWarning)
            hooks.hideWarning();
    }
    return true;
}

void MachineCycle::Run()
{
    DepthGuard guard(cycleDepth);
    if (cycleDepth > 1) {
        // Nested (a flush, a detection or a modal loop is under way): no frame, no edge, no latch,
        // no trigger; the pass that is interrupted finishes the cycle step.
        if (!checkCameras()) {
            runTimer->start(500);
            return;
        }
        flush();
        // A pass nested in a modal loop (a question inside a detection step) may have been this
        // timer's own shot: nobody else would start it again until an input changes.
        if (!runTimer->isActive())
            runTimer->start(100);
        return;
    }
    outerPass();
    // Latches no step acted on do not outlive the pass that could have used them.
    std::fill(std::begin(inputLatched), std::end(inputLatched), false);
    if (gControlPort)
        gControlPort->passEnded();
}

void MachineCycle::outerPass()
{
    const SysParam &p = *gSysParam;
    if (++gWhiteBalancePasses == 50) {
        for (int c = 0; c < hooks.cameraCount; ++c) {
            if (hooks.applyOnceWhiteBalance)
                hooks.applyOnceWhiteBalance(c);
        }
    }

    bool busy = false;
    for (int k = 0; k < std::clamp(gDetectSlotCount, 0, 8); ++k)
        busy = busy || upTimers[k]->isActive();
    if (busy)
        simulatedTrigger = -1;

    // Every edge is read on every pass so that an edge seen while busy is not acted on later; an entry
    // the board link counted is then taken, so that the poll's block of it passes into this side's word.
    for (int i = 0; i < 8; ++i) {
        const bool edge = gControlPort && gControlPort->checkInput(i) == 1;
        if (!edge)
            continue;
        if (busy) {
            gControlPort->takeReadEntries(i);
            continue;
        }
        inputEdgeMs[i] = gControlPort->inputChangedMs(i);
        if (debounceMs() <= 0) {
            inputTimers[i]->stop();
            inputLatched[i] = true;
            continue;
        }
        // The debounce runs from the entry's stamp, not from this pass: a late pass must not make a
        // short opening look like a glitch, nor a glitch's level at the expiry like an opening.
        const qint64 leftMs = gControlPort->entryDebounceLeftMs(i);
        if (leftMs < 0) {
            debounceCounted[i] = false;
            inputTimers[i]->start(debounceMs());
        } else if (!debounceCounted[i] || !inputTimers[i]->isActive()) {
            // A timer already judging counted entries judges these with them.
            debounceCounted[i] = true;
            inputTimers[i]->start(int(std::min<qint64>(leftMs, kDayMs)));
        }
    }

    bool anyFresh = false;
    for (int c = 0; c < hooks.cameraCount; ++c) {
        const bool fresh = hooks.grabFrame && hooks.grabFrame(c);
        anyFresh = anyFresh || fresh;
        if (fresh && p.useExtTrigger && w->alarmState != 2)
            gExtTriggerFrames |= 1u << c;
    }

    if (anyFresh && editorAwaitsPicture) {
        editorAwaitsPicture = false;
        if (hooks.refreshEditor)
            hooks.refreshEditor();
    }

    if (!checkCameras()) {
        runTimer->start(500);
        return;
    }

    if (w->alarmState == 2) {
        const bool request = inputLatched[1] || simulatedTrigger == 1 ||
                             (w->currentSlot > 0 && p.semiAuto && (inputLatched[2] || simulatedTrigger == 2));
        if (request) {
            inputLatched[1] = inputLatched[2] = false;
            simulatedTrigger = -1;
            for (int c = 0; c < hooks.cameraCount; ++c) {
                if (hooks.clearAlarmHandled)
                    hooks.clearAlarmHandled(c, -1);
            }
            if (p.machineType == 2 && gControlPort) {
                const bool in0 = gControlPort->getIO(0, 0) != 0;
                const bool in3 = gControlPort->getIO(0, 3) != 0;
                if (in0 && !in3)
                    w->moldSide = 1;
                else if (in3 && !in0)
                    w->moldSide = 0;
            }
            if (hooks.clickEditorReCheck)
                hooks.clickEditorReCheck();
        }
        inputWatchdogTimer->stop();
        endPass();
        return;
    }

    if (reCheckPending) {
        const int kind = slotKind();
        if (reCheckLeft[kind] > 0) {
            --reCheckLeft[kind];
            ReCheck();
        }
        inputWatchdogTimer->stop();
        endPass();
        return;
    }

    if (w->runState != 3) {
        if (p.safetyDoorTrigger && (inputLatched[1] || simulatedTrigger == 1)) {
            const qint64 doorMs = inputLatched[1] ? inputEdgeMs[1] : simulatedTriggerMs;
            inputLatched[1] = false;
            simulatedTrigger = -1;
            for (int c = 0; c < hooks.cameraCount; ++c) {
                if (hooks.clearAlarmHandled)
                    hooks.clearAlarmHandled(c, 1);
                imageState[c][1] = 1;
                if (machineTwoSided()) {
                    if (hooks.clearAlarmHandled)
                        hooks.clearAlarmHandled(c, 3);
                    imageState[c][3] = 1;
                }
            }
            directTimerUp = 1;
            if (hooks.markDetection)
                hooks.markDetection(slotOfPosition(1), w->moldSide);
            judgePicturesAfter(1, doorMs, true);
            TimerUp(1);
            directTimerUp = 0;
        }
    }
    if (w->runState == 3) {
        if (p.machineType == 1) {
            if (inputLatched[2] && p.detectMold != 1)
                w->moldSide = 1;
            if (inputLatched[3] && p.detectMold != 0)
                w->moldSide = 0;
        }
        inputWatchdogTimer->stop();
        endPass();
        return;
    }

    if (w->manualTrigSlot != gDetectSlotCount) {
        const int k = w->manualTrigSlot;
        w->manualTrigSlot = gDetectSlotCount;
        const bool enabled = k >= 0 && k < 8 &&
                             (p.slotEnabled[k] || (machineTwoSided() && k + 2 < 8 && p.slotEnabled[k + 2]));
        if (enabled) {
            manualTriggered = true;
            const qint64 now = nowTenths();
            w->cycleTenths = int(std::clamp<qint64>(now - w->cycleMarkTenths, 0, INT_MAX));
            w->cycleMarkTenths = now;
            if (k == 0)
                std::fill(std::begin(ngPulse), std::end(ngPulse), false);
            reCheckLeft[0] = reCheckLeft[1] = 0;
            // The slot that TimerUp(k) detects, not the pair position (k + 2 on the right mould).
            const int slot = slotOfPosition(k);
            for (int c = 0; c < hooks.cameraCount; ++c)
                imageState[c][slot] = 1;
            judgePicturesAfter(k, manualTrigMs);
            TimerUp(k);
            if (w->alarmState == 2) {
                if (!p.okNgPulse) {
                    setOutput(OutClose, 1);
                    if (k == 0 && !p.noEjectorCtrlInProd && !p.ejectorPulseOnProdNg)
                        setOutput(OutThimble, 1);
                }
                endPass();
                return;
            }
        }
    }

    bool triggerPictures = false;
    if (p.useExtTrigger && hooks.cameraCount > 0) {
        const quint32 all = (1u << hooks.cameraCount) - 1;
        bool open = true;
        for (int c = 0; c < hooks.cameraCount; ++c)
            open = open && hooks.cameraOpen && hooks.cameraOpen(c);
        if (open && (gExtTriggerFrames & all) == all) {
            gExtTriggerFrames = 0;
            simulatedTrigger = 0;
            simulatedTriggerMs = appMonotonicMs();
            triggerPictures = true;
        }
    }

    if (busy) {
        endPass();
        return;
    }
    if (interruptedSlot >= 0 && judgeInterruptedDetection(triggerPictures)) {
        // The trigger's pictures were judged for the cycle the stop cut short: a cycle of their own
        // would find them judged already and hold the clamp it just released.
        if (triggerPictures)
            simulatedTrigger = -1;
        endPass();
        return;
    }
    for (int i = 0; i < 8; ++i) {
        if (!inputLatched[i] && simulatedTrigger != i)
            continue;
        const qint64 signalMs = inputLatched[i] ? inputEdgeMs[i] : simulatedTriggerMs;
        inputLatched[i] = false;
        simulatedTrigger = -1;
        const bool turntableStart = p.machineType == 2 && ((i == 0 && p.detectMold != 1) || (i == 3 && p.detectMold != 0));
        if ((p.machineType != 2 && i == 0) || turntableStart)
            startCycle(i);
        if (pendingCameras[1] == 0)
            continue;
        if (!rearmPair(i))
            continue;
        bool stopped = false;
        startPositions(i, signalMs, &stopped);
        if (stopped) {
            endPass();
            return;
        }
        if (hooks.repaintWindow)
            hooks.repaintWindow();
    }
    endPass();
}

// A cycle-start input opens a new cycle with every enabled slot's cameras pending.
bool MachineCycle::startCycle(int input)
{
    const SysParam &p = *gSysParam;
    const qint64 now = nowTenths();
    w->cycleTenths = int(std::clamp<qint64>(now - w->cycleMarkTenths, 0, INT_MAX));
    w->cycleMarkTenths = now;
    previousCycleStartMs = cycleStartMs;
    cycleStartMs = appMonotonicMs();
    // Armed on every cycle start, the one that hides the last warning too: a machine that stops again
    // after it must block the clamp again.
    if (inputWatchdogShown) {
        inputWatchdogShown = false;
        if (hooks.hideWarning)
            hooks.hideWarning();
    }
    if (inputTimeoutMs() > 0)
        inputWatchdogTimer->start(inputTimeoutMs());
    pendingCameras[0] = pendingCameras[1] = 0;
    // A new opening is judged from its own pictures: a detection a stop cut short is not judged apart.
    interruptedSlot = -1;
    reCheckLeft[0] = 0;
    std::fill(std::begin(ngPulse), std::end(ngPulse), false);
    gSafetyDoorOpened = false;
    reCheckLeft[1] = p.okNgPulse ? 0 : std::max(0, p.reMoldTimes);
    for (int c = 0; c < hooks.cameraCount; ++c) {
        for (int s = 0; s < std::clamp(gDetectSlotCount, 0, 8); ++s) {
            if (p.slotEnabled[s])
                pendingCameras[s % 2] |= 1u << c;
            if (hooks.clearAlarmHandled)
                hooks.clearAlarmHandled(c, s);
            imageState[c][s] = 1;
        }
    }
    if (hooks.markDetection) {
        // On disk before the clamp-blocked word: the slot judged first, on the side this input opens.
        const int side = p.machineType == 2 ? (input == 0 ? 1 : 0) : w->moldSide;
        const int first = pendingCameras[0] != 0 ? 0 : 1;
        hooks.markDetection(machineTwoSided() && side == 0 ? first + 2 : first, side);
    }
    // Only now may an opening of this input give up its own mark: the cycle's is on disk.
    if (gControlPort)
        gControlPort->cycleStarted(input);
    if (!p.okNgPulse) {
        if (!preCutSet() && !p.cutClampOnMoldAlarm)
            setOutput(OutClose, 1);
        if (pendingCameras[0] != 0) {
            if (!p.ejectorPulseOnProdNg && !p.cutEjectorOnProdAlarm) {
                if (!p.noEjectorCtrlInProd)
                    setOutput(OutThimble, 1);
            } else {
                setOutput(OutThimble, 0);
                for (int j = 0; j < 4; ++j)
                    setOutput(OutNG + j, 0);
            }
        }
    }
    flush();
    if (p.machineType == 2)
        w->moldSide = input == 0 ? 1 : 0;
    return true;
}

// A re-arm input picks the mould side and arms the mould cameras again. False when the
// input is to be ignored.
bool MachineCycle::rearmPair(int input)
{
    const SysParam &p = *gSysParam;
    bool rearm = false;
    if (p.machineType == 1) {
        if (input == 2 && p.detectMold != 1) {
            rearm = true;
            w->moldSide = 1;
        } else if (input == 3 && p.detectMold != 0) {
            rearm = true;
            w->moldSide = 0;
        }
    } else if (p.machineType == 0) {
        rearm = p.semiAuto && input == 2;
    } else if (p.machineType == 2) {
        rearm = input == 2;
    }
    if (rearm) {
        const int mouldSlot = machineTwoSided() && w->moldSide == 0 ? 3 : 1;
        pendingCameras[1] = 0;
        for (int c = 0; c < hooks.cameraCount; ++c) {
            if (p.slotEnabled[mouldSlot] || (machineTwoSided() && p.slotEnabled[3]))
                pendingCameras[1] |= 1u << c;
            if (hooks.clearAlarmHandled)
                hooks.clearAlarmHandled(c, -1);
        }
        if (hooks.markDetection && pendingCameras[1] != 0)
            hooks.markDetection(slotOfPosition(1), w->moldSide);
        if (!p.okNgPulse) {
            if (!preCutSet())
                setOutput(OutClose, 1);
            flush();
        }
    }
    return pendingCameras[1] != 0;
}

// Every pair position whose trigger is this input starts its countdown (or its detection
// at once without a delay).
void MachineCycle::startPositions(int input, qint64 signalMs, bool *stopped)
{
    const SysParam &p = *gSysParam;
    for (int k = 0; k < positionCount(); ++k) {
        const int s = slotOfPosition(k);
        if (s >= 8 || !p.slotEnabled[s] || upTimers[k]->isActive())
            continue;
        const int trig = p.slotTrigInput[k];
        bool match = trig == input;
        if (trig == 255)
            match = p.machineType == 1 ? (input == 2 || input == 3) : p.machineType == 2 && (input == 0 || input == 3);
        if (p.machineType == 0 && forcedTriggerSlot == k) {
            match = true;
            gSlotDelaySum = 0;
            forcedTriggerSlot = -1;
        }
        if (!match)
            continue;
        int d = trigDelayTenths(k);
        if (p.machineType == 0 && !p.semiAuto && k != 0 && p.enableProdDetect)
            d = int(std::min<qint64>(qint64(d) + std::max(0, gSlotDelaySum), kDayMs / 100));
        gSlotDelaySum = d;
        judgePicturesAfter(k, signalMs);
        if (d == 0) {
            slotCountdown[k] = 0;
            TimerUp(k);
            if (w->runState == 3) {
                *stopped = true;
                return;
            }
        } else {
            slotCountdown[k] = float(d) / 10.0f;
            upTimers[k]->start(100);
            w->detectStatus = 1;
        }
    }
}

// A detection a stop cut short, once every camera has delivered a picture since the start (or since
// the product slot of that cycle was judged): its slot is judged as an opening's detection judges it,
// waiting for a picture of its own as that does. The product slot goes first when it was still to
// be judged; the mould follows in a later pass. False while the pictures are still to come.
// Triggered cameras take a picture per trigger only, and the machine may wait with the mould open
// for no trigger to come: as a live detection finds no picture, the mould is not judged (said once,
// the clamp held) until the next trigger's pictures come, and those serve the product and the mould.
bool MachineCycle::judgeInterruptedDetection(bool triggerPictures)
{
    const SysParam &p = *gSysParam;
    // A picture received within a frame period of the start may show the mould as it was before it.
    const qint64 from = interruptedFromMs;
    quint32 unseen = 0;
    for (int c = 0; c < hooks.cameraCount; ++c) {
        if (frameTakenMs(c) < from + picturePeriodMs(c))
            unseen |= 1u << c;
    }
    if (unseen != 0) {
        if (p.useExtTrigger && !triggerPictures && !unseenShown) {
            w->currentSlot = std::clamp(interruptedSlot, 0, 7);
            holdUnseen(unseen);
        }
        return false;
    }
    const int slot = interruptedSlot;
    const int k = machineTwoSided() ? slot % 2 : (slot != 0 ? 1 : 0);
    const int mouldSlot = slotOfPosition(1);
    if (k == 0 || pendingCameras[1] == 0) {
        // The cycle as its opening left it: the slots still to be judged pending, re-detections as set.
        pendingCameras[0] = pendingCameras[1] = 0;
        reCheckLeft[0] = 0;
        reCheckLeft[1] = p.okNgPulse ? 0 : std::max(0, p.reMoldTimes);
        for (int kk = k; kk < 2; ++kk) {
            const int s = slotOfPosition(kk);
            if (s >= 8 || !p.slotEnabled[s])
                continue;
            for (int c = 0; c < hooks.cameraCount; ++c) {
                pendingCameras[kk] |= 1u << c;
                if (hooks.clearAlarmHandled)
                    hooks.clearAlarmHandled(c, s);
                imageState[c][s] = 1;
            }
        }
    }
    interruptedSlot = k == 0 && mouldSlot < 8 && p.slotEnabled[mouldSlot] ? mouldSlot : -1;
    if (!p.useExtTrigger)
        interruptedFromMs = appMonotonicMs();
    if (slot < 8 && p.slotEnabled[slot]) {
        qCWarning(lcMainWindow) << "judging slot" << slot + 1 << "of the detection cut short by the stop";
        judgePicturesAfter(k, from);
        slotCountdown[k] = 0;
        TimerUp(k);
    }
    return true;
}

QString MachineCycle::heldWarning(int language) const
{
    const quint32 unread = heldCameras & ~missingCameras;
    const int row = unread != 0 ? 746 : 39;
    QStringList numbers;
    for (int c = 0; c < 8; ++c) {
        if (unread & (1u << c))
            numbers << QString::number(c + 1);
    }
    const QString &text = language < 0 ? uiText(row) : uiText(row, language);
    return row == 39 ? text : text.arg(numbers.join(QLatin1Char(',')));
}

void MachineCycle::holdMissingCameras(quint32 cameras)
{
    cameras &= 0xFFu;
    if ((cameras & ~heldCameras) == 0)
        return;
    heldCameras |= cameras;
    missingCameras |= cameras;
    QStringList numbers;
    for (int c = 0; c < 8; ++c) {
        if (cameras & (1u << c))
            numbers << QString::number(c + 1);
    }
    const QString cameraNumbers = numbers.join(QLatin1Char(','));
    qCCritical(lcMainWindow).noquote() << uiText(770, 1).arg(cameraNumbers).simplified();
    setOutput(OutClose, 1);
    flush();
    heldWarningShown = false;
    if (hooks.InsertRecord)
        hooks.InsertRecord(uiText(770).arg(cameraNumbers).simplified());
}

void MachineCycle::holdCameras(quint32 cameras)
{
    cameras &= 0xFFu;
    if ((cameras & ~heldCameras) == 0)
        return;
    heldCameras |= cameras;
    qCCritical(lcMainWindow).noquote() << heldWarning(1).simplified();
    setOutput(OutClose, 1);
    flush();
    if (hooks.InsertRecord)
        hooks.InsertRecord(heldWarning().simplified());
}

void MachineCycle::latchInput(int i)
{
    if (i < 0 || i >= 8)
        return;
    inputLatched[i] = gControlPort && gControlPort->getIO(0, i) != 0;
}

void MachineCycle::TimerCheckInput(int i)
{
    if (i < 0 || i >= 8)
        return;
    inputTimers[i]->stop();
    if (!debounceCounted[i] || !gControlPort) {
        latchInput(i);
        return;
    }
    qint64 waitMs = 0;
    const int verdict = gControlPort->judgeDebouncedEntries(i, &waitMs);
    if (verdict < 0) {
        inputTimers[i]->start(int(std::clamp<qint64>(waitMs, 1, kDayMs)));
        return;
    }
    debounceCounted[i] = false;
    inputLatched[i] = verdict == 1;
}

void MachineCycle::InCheck()
{
    setOutput(OutClose, 1);
    flush();
    inputWatchdogTimer->stop();
    if (hooks.InsertRecord)
        hooks.InsertRecord(uiText(335));
    if (hooks.showWarning)
        hooks.showWarning(uiText(335), false);
    inputWatchdogShown = true;
}

void MachineCycle::SlotSimulationTrig(int n)
{
    if (n >= 1 && n <= 8) {
        simulatedTrigger = n - 1;
        simulatedTriggerMs = appMonotonicMs();
    }
}

void MachineCycle::SlotPressedTrigIn(int n)
{
    if (n < 1 || n > 4 || !gIoMutex)
        return;
    MutexLocker lock(gIoMutex);
    gIoInputWord |= 1u << (n - 1);
    gIoInputChangedMs[n - 1] = appMonotonicMs();
}

void MachineCycle::SlotReleasedTrigIn(int n)
{
    if (n < 1 || n > 4 || !gIoMutex)
        return;
    MutexLocker lock(gIoMutex);
    gIoInputWord &= ~(1u << (n - 1));
    gIoInputChangedMs[n - 1] = appMonotonicMs();
}

void MachineCycle::SlotManualTrig(int position)
{
    if ((hooks.settingsVisible && hooks.settingsVisible()) || (hooks.editorVisible && hooks.editorVisible()))
        return;
    if (position < 0 || position >= positionCount())
        return;
    if (position == 0 && gSysParam->enableProdDetect == 0) {
        if (hooks.showWarning)
            hooks.showWarning(uiText(145), true);
        return;
    }
    w->manualTrigSlot = position;
    manualTrigMs = appMonotonicMs();
    for (int c = 0; c < hooks.cameraCount; ++c) {
        if (hooks.clearAlarmHandled)
            hooks.clearAlarmHandled(c, -1);
    }
}

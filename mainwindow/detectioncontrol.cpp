// Detection control: starting and stopping detection with their output levels, re-learning the
// templates, the alarm-image review and a lost camera.

#include "machinecycle.h"

#include "clock.h"
#include "controlport.h"
#include "mainwindowlog.h"
#include "sysparam.h"
#include "uitexttable.h"

#include <QTimer>
#include <algorithm>

void MachineCycle::StartDetect()
{
    if (gControlPort)
        gControlPort->clearOutputs();
    if (gSysParam->cutEjectorOnClamp)
        setOutput(OutThimble, 1);
    flush();
    // An alarm left through a start is over as well: its end is reported with the clearing codes
    // gathered so far.
    if (w->alarmState == 2) {
        if (hooks.markAlarmFinished)
            hooks.markAlarmFinished();
        if (hooks.sendAlarmFinishTiming)
            hooks.sendAlarmFinishTiming();
        if (hooks.removeLatchedAlarm)
            hooks.removeLatchedAlarm();
    }
    w->alarmState = 0;
    std::fill(std::begin(reCheckLeft), std::end(reCheckLeft), 0);
    reCheckPending = false;
    ResetRun();
    w->runState = 1;
    if (hooks.setStartStopText)
        hooks.setStartStopText(127);
}

void MachineCycle::restoreLatchedAlarm(int slot, int moldSide, const QString &line)
{
    const SysParam &p = *gSysParam;
    w->currentSlot = slot;
    w->moldSide = moldSide;
    // The levels a latch of this slot leaves (RunAlgorithm's NG outputs with no re-detection left),
    // from the levels a start of detection would set: this is the first decision on the outputs, and
    // no word before it allowed the clamp.
    if (gControlPort)
        gControlPort->clearOutputs();
    if (p.cutEjectorOnClamp)
        setOutput(OutThimble, 1);
    const bool product = machineTwoSided() ? slot % 2 == 0 : slot == 0;
    if (product && !p.noEjectorCtrlInProd && !p.ejectorPulseOnProdNg)
        setOutput(OutThimble, 1);
    setOutput(OutClose, 1);
    setOutput(OutAlarm, 1);
    flush();
    std::fill(std::begin(reCheckLeft), std::end(reCheckLeft), 0);
    reCheckPending = false;
    ResetRun();
    if (hooks.sendAlarmStartTiming)
        hooks.sendAlarmStartTiming(slot);
    if (w->screenOff && hooks.wakeScreen)
        hooks.wakeScreen();
    SetStopDetect();
    w->alarmState = 2;
    if (hooks.setStartStopText)
        hooks.setStartStopText(127);
    if (hooks.showAllCameras)
        hooks.showAllCameras();
    if (hooks.hideMenus)
        hooks.hideMenus();
    if (hooks.setLed) {
        hooks.setLed(6, 0);
        hooks.setLed(7, 1);
    }
    if (hooks.InsertRecord)
        hooks.InsertRecord(line);
    // The NG pictures were kept in memory only: the editor opens on the live pictures, of which none
    // has come yet.
    if (hooks.openEditor)
        hooks.openEditor();
    editorAwaitsPicture = true;
}

void MachineCycle::resumeInterruptedDetection(int slot, int moldSide)
{
    // Held before StartDetect's word: the board never hears that the clamp may close on this mould.
    // In the OK and NG pulse mode output 0 is half of the NG pulse, not the interlock: judged only.
    interruptedHold = !gSysParam->okNgPulse;
    StartDetect();
    w->moldSide = moldSide;
    interruptedSlot = slot;
    interruptedFromMs = appMonotonicMs();
    qCWarning(lcMainWindow) << "slot" << slot + 1 << "of a detection cut short is judged before the clamp"
                            << "may close: blocked until the mould is judged OK";
    if (hooks.InsertRecord)
        hooks.InsertRecord(uiText(761));
}

void MachineCycle::holdRestoredParameters()
{
    paramRestoredHold = true;
    StopDetect();
    qCCritical(lcMainWindow) << "parameters and regions are the factory copy: detection stopped and the"
                             << "clamp blocked until the operator starts detection or re-learns";
    if (hooks.InsertRecord)
        hooks.InsertRecord(uiText(760).simplified());
}

// The operator's start or re-learn after the factory parameters were restored: he has set them again.
// A latch from before the restore goes with it.
static void endRestoredHold(MachineCycle &cycle)
{
    if (!cycle.paramRestoredHold)
        return;
    cycle.paramRestoredHold = false;
    if (cycle.hooks.removeParamRestoredMarker)
        cycle.hooks.removeParamRestoredMarker();
    if (cycle.hooks.removeLatchedAlarm)
        cycle.hooks.removeLatchedAlarm();
}

void MachineCycle::StopDetect()
{
    if (gControlPort)
        gControlPort->clearOutputs();
    if (gSysParam->stopClampOnStop == 1)
        setOutput(OutClose, 1);
    flush();
    delayOutput4Timer->stop();
    SetStopDetect();
    if (hooks.setStartStopText)
        hooks.setStartStopText(136);
}

void MachineCycle::SetStopDetect()
{
    const bool mould = machineTwoSided() ? w->currentSlot % 2 == 1 : w->currentSlot != 0;
    pendingCameras[mould ? 1 : 0] = 0;
    for (int k = 0; k < std::clamp(gDetectSlotCount, 0, 8); ++k) {
        if (upTimers[k]->isActive()) {
            upTimers[k]->stop();
            slotCountdown[k] = 0;
        }
    }
    w->runState = 3;
}

void MachineCycle::ResetRun()
{
    for (int c = 0; c < hooks.cameraCount; ++c) {
        if (hooks.resetResults)
            hooks.resetResults(c);
    }
    for (int k = 0; k < std::clamp(gDetectSlotCount, 0, 8); ++k)
        slotCountdown[k] = 0;
}

void MachineCycle::SlotStartStop()
{
    auto pagesUp = [this] {
        return (hooks.settingsVisible && hooks.settingsVisible()) || (hooks.editorVisible && hooks.editorVisible());
    };
    if (pagesUp())
        return;
    const SysParam &p = *gSysParam;
    if (w->runState == 3) {
        // Started by hand: a detection cut short by a stop of the box is the operator's no longer.
        mouldJudged();
        endRestoredHold(*this);
        StartDetect();
        if (p.cutClampAfterMoldOk && p.clampPulse >= 1) {
            setOutput(OutClose, 1);
            flush();
        }
        if (hooks.InsertRecord)
            hooks.InsertRecord(uiText(142));
        if (hooks.setLed)
            hooks.setLed(4, 1);
    } else {
        if (!(hooks.authorizeStop && hooks.authorizeStop()))
            return;
        if (!(hooks.askYesNo && hooks.askYesNo(uiText(140))) || pagesUp())
            return;
        StopDetect();
        mouldJudged();
        if (hooks.InsertRecord)
            hooks.InsertRecord(uiText(141));
        if (hooks.setLed)
            hooks.setLed(4, 0);
    }
    if (hooks.repaintWindow)
        hooks.repaintWindow();
}

void MachineCycle::SlotReTrain()
{
    auto pagesUp = [this] {
        return (hooks.settingsVisible && hooks.settingsVisible()) || (hooks.editorVisible && hooks.editorVisible());
    };
    if (pagesUp() || (hooks.otherPageVisible && hooks.otherPageVisible()))
        return;
    if (!(hooks.userLevel && hooks.userLevel() > 0))
        return;
    if (!(hooks.askYesNo && hooks.askYesNo(uiText(137))) || pagesUp() || w->alarmState == 2)
        return;
    const SysParam &p = *gSysParam;
    w->alarmState = 0;
    endRestoredHold(*this);
    for (int c = 0; c < hooks.cameraCount; ++c) {
        if (hooks.resetResults)
            hooks.resetResults(c);
    }
    if (w->runState == 3) {
        StartDetect();
        if (p.cutClampAfterMoldOk && p.clampPulse >= 1) {
            setOutput(OutClose, 1);
            flush();
        }
        if (hooks.setLed)
            hooks.setLed(4, 1);
    }
    w->runState = 2;
    if (hooks.editorTempDeleteAll)
        hooks.editorTempDeleteAll();
    for (int c = 0; c < hooks.cameraCount; ++c) {
        for (int s = 0; s < std::clamp(gDetectSlotCount, 0, 8); ++s) {
            if (p.slotEnabled[s] && hooks.setLearnPending)
                hooks.setLearnPending(c, s, true);
            if (hooks.clearIgnoreMask)
                hooks.clearIgnoreMask(c, s);
        }
    }
    if (hooks.InsertRecord)
        hooks.InsertRecord(uiText(139));
    if (hooks.saveCameraSerials)
        hooks.saveCameraSerials(0);
    if (hooks.repaintWindow)
        hooks.repaintWindow();
}

void MachineCycle::SlotShowAlarmImgae()
{
    if ((hooks.settingsVisible && hooks.settingsVisible()) || (hooks.editorVisible && hooks.editorVisible()) ||
        (hooks.otherPageVisible && hooks.otherPageVisible()) || w->alarmState == 2)
        return;
    w->alarmState = 3;
    if (hooks.hideMenus)
        hooks.hideMenus();
    // Opening starts at the live picture: the saved alarm pictures are chosen after it.
    if (hooks.openEditor)
        hooks.openEditor();
    if (hooks.setEditorSource)
        hooks.setEditorSource(4);
}

void MachineCycle::cameraLostAlarm()
{
    if (w->runState != 3) {
        setOutput(OutClose, 1);
        flush();
    }
    if (hooks.showWarning)
        hooks.showWarning(uiText(39), false);
}

void MachineCycle::SlotDrawHint()
{
    hintTimer->stop();
    gDrawHint = false;
    if (hooks.repaintWindow)
        hooks.repaintWindow();
}

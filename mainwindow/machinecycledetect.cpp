// The detection side of the moulding cycle: countdown steps, the detection of a slot's cameras, the
// combination into outputs, re-detection and the alarm latch, the output pulses, the result display,
// the end of learning and the temperature alarm output.

#include "machinecycle.h"

#include "camerainterface.h"
#include "clock.h"
#include "controlport.h"
#include "editorhooks.h"
#include "mainwindowglobals.h"
#include "mainwindowlog.h"
#include "mutexlocker.h"
#include "savefailimagethread.h"
#include "startup.h"
#include "sysparam.h"
#include "uitexttable.h"

#include <QTimer>
#include <algorithm>
#include <limits>

namespace {
// Pulse lengths are stored in tenths of a second; a stored value out of range gives no pulse.
int pulseMs(int tenths)
{
    return tenths > 0 ? int(std::min<qint64>(qint64(tenths) * 100, 24LL * 3600 * 1000)) : 0;
}
} // namespace

void MachineCycle::TimerUp(int k)
{
    if (k < 0 || k >= 8)
        return;
    const SysParam &p = *gSysParam;
    if (k == 1 && p.preCutTime >= 1 && p.preCutTime <= 99 && !p.okNgPulse &&
        slotCountdown[1] * 10.0f <= float(p.preCutTime) + 0.01f) {
        setOutput(OutClose, 1);
        flush();
    }
    int slot = k;
    if (machineTwoSided()) {
        slot = k >= 2 ? k - 2 : k;
        if (w->moldSide == 0)
            slot += 2;
    }
    w->currentSlot = slot;
    if (slotCountdown[k] > 0.11f) {
        slotCountdown[k] -= 0.1f;
        for (int c = 0; c < hooks.cameraCount; ++c) {
            if (hooks.repaintCountdown)
                hooks.repaintCountdown(c);
        }
        return;
    }
    upTimers[k]->stop();
    // A safety-door detection that waited for its picture runs as it would have in the door's pass.
    const int direct = directTimerUp;
    if (directStart[k])
        directTimerUp = 1;
    runSlotDetection(k);
    directTimerUp = direct;
}

qint64 MachineCycle::frameTakenMs(int c) const
{
    if (hooks.frameTakenMs)
        return hooks.frameTakenMs(c);
    const qint64 age = hooks.frameAgeMs ? hooks.frameAgeMs(c) : 0;
    return age >= 0 && age < std::numeric_limits<qint64>::max() ? appMonotonicMs() - age : -1;
}

qint64 MachineCycle::picturePeriodMs(int c) const
{
    const qint64 period = hooks.framePeriodMs ? hooks.framePeriodMs(c) : 0;
    if (period > 0)
        return period;
    return gSysParam->frameSpeed > 0 ? 1000 / gSysParam->frameSpeed : 0;
}

qint64 MachineCycle::staleLimitMs(int c) const
{
    const qint64 period = picturePeriodMs(c);
    return period > 0 ? frameStaleLimitForPeriodMs(period) : kFrameStaleMs;
}

void MachineCycle::judgePicturesAfter(int k, qint64 signalMs, bool direct)
{
    if (k < 0 || k >= 8)
        return;
    const bool triggered = gSysParam->useExtTrigger;
    countdownFromMs[k] = triggered ? previousCycleStartMs : std::max<qint64>(0, signalMs);
    pictureWait[k] = !triggered;
    directStart[k] = direct;
}

// A picture received less than one frame period after the signal may have been taken before it:
// the mould it shows may not be the one that opened. Triggered cameras take one picture per trigger,
// received before the cycle it starts: those of the trigger are judged, once, however long they
// waited, and an older one, or one already judged, never.
bool MachineCycle::frameFresh(int c, int k) const
{
    if (c < 0 || c >= 8 || (hooks.cameraConnected && !hooks.cameraConnected(c)))
        return false;
    const qint64 taken = frameTakenMs(c);
    if (gSysParam->useExtTrigger) {
        if (k < 0 || k >= 8)
            return true;
        const int slot = std::clamp(w->currentSlot, 0, 7);
        return taken >= 0 && taken > countdownFromMs[k] && taken > judgedFrameMs[slot][c];
    }
    const qint64 age = hooks.frameAgeMs ? hooks.frameAgeMs(c) : 0;
    if (age < 0 || age >= staleLimitMs(c))
        return false;
    return k < 0 || k >= 8 || countdownFromMs[k] <= 0 || taken >= countdownFromMs[k] + picturePeriodMs(c);
}

bool MachineCycle::camerasSeen(int k)
{
    quint32 unseen = 0;
    for (int c = 0; c < hooks.cameraCount; ++c) {
        if (!frameFresh(c, k))
            unseen |= 1u << c;
    }
    if (unseen) {
        holdUnseen(unseen);
        return false;
    }
    if (unseenShown) {
        unseenShown = false;
        if (hooks.hideWarning)
            hooks.hideWarning();
    }
    return true;
}

// A detection may start before its cameras have received a picture taken after its signal (always
// without a delay, or when the cameras run slower than the delay): a camera delivering normally has
// then simply not had one yet, and holding the clamp would stop a good machine. The detection waits
// for the picture in 100 ms steps, as a countdown, until the camera's stale limit has passed since
// the first moment such a picture could come. A lost camera or a stale picture is not waited for,
// nor are the triggered cameras, which take no picture between triggers.
bool MachineCycle::awaitPictures(int k)
{
    bool wait = pictureWait[k] && !gSysParam->useExtTrigger;
    bool unseen = false;
    const qint64 now = appMonotonicMs();
    for (int c = 0; wait && c < hooks.cameraCount; ++c) {
        if (frameFresh(c, k))
            continue;
        unseen = true;
        const qint64 from = countdownFromMs[k] + picturePeriodMs(c);
        wait = frameFresh(c, -1) && now < from + staleLimitMs(c);
    }
    if (!wait || !unseen) {
        pictureWait[k] = false;
        return false;
    }
    // The door's detection starts with the clamp free and may be closing it: until its picture is
    // judged the box has not seen this mould, so the clamp waits too, as after an opening.
    if (directStart[k]) {
        setOutput(OutClose, 1);
        flush();
    }
    upTimers[k]->start(100);
    return true;
}

// A camera without a picture of this mould is not judged, and neither is the slot: its last verdict
// may be an OK of a mould long gone. The clamp stays blocked and the step ends without a verdict; the
// next mould opening (or a manual trigger) detects again once the pictures are back.
void MachineCycle::holdUnseen(quint32 cameras)
{
    pendingCameras[slotKind()] = 0;
    reCheckPending = false;
    setOutput(OutClose, 1);
    flush();
    QStringList numbers;
    for (int c = 0; c < hooks.cameraCount; ++c) {
        if (cameras & (1u << c))
            numbers << QString::number(c + 1);
    }
    qCWarning(lcMainWindow).noquote()
        << QStringLiteral("slot %1 not judged: no fresh picture of camera %2; the "
                          "clamp stays blocked")
               .arg(w->currentSlot + 1)
               .arg(numbers.join(QStringLiteral(", ")));
    if (hooks.showWarning)
        hooks.showWarning(uiText(39), false);
    if (hooks.InsertRecord)
        hooks.InsertRecord(uiText(39));
    unseenShown = true;
    w->detectStatus = 3;
}

// A slot's detection in TimerUp: all cameras of the slot judged side by side (learning keeps the one-camera
// path), then combined.
void MachineCycle::runSlotDetection(int k)
{
    const SysParam &p = *gSysParam;
    const int slot = w->currentSlot;
    if (w->runState != 2 && (awaitPictures(k) || !camerasSeen(k)))
        return;
    if (w->runState == 2 || !hooks.judgeCameras) {
        for (int c = 0; c < hooks.cameraCount; ++c)
            RunAlgorithm(c, slot);
    } else {
        QVector<int> cameras;
        for (int c = 0; c < hooks.cameraCount; ++c) {
            pendingCameras[slot % 2] &= ~(1u << c);
            saveRawFrame(c, slot);
            cameras.append(c);
            if (slot >= 0 && slot < 8)
                judgedFrameMs[slot][c] = frameTakenMs(c);
        }
        gTemperatureAlarm = temperatureAlarmAfter(hooks.judgeCameras(cameras, slot), gTemperatureAlarm);
        for (int c = 0; c < hooks.cameraCount; ++c)
            RunAlgorithm(c, -1 - slot); // the rest of the pass, after judging
    }
    bool allOk = true;
    for (int c = 0; c < hooks.cameraCount; ++c)
        allOk = allOk && hooks.allPass && hooks.allPass(c);
    CheckNG();
    // Gated by the slot kind: the re-detection counters are kept per kind.
    if (reCheckLeft[slotKind()] == 0 && hooks.sendDetectOnceInfo)
        hooks.sendDetectOnceInfo(allOk);
    w->detectStatus = 2;
    if (w->alarmState != 2 && k == 1 && allOk && !reCheckPending && p.templateAutoUpdate) {
        gTemplateRefreshPending = true;
        for (int c = 0; c < hooks.cameraCount; ++c) {
            if (hooks.saveReTrainImage)
                hooks.saveReTrainImage(c, 1);
        }
    }
}

// "Save all as test images": the frame about to be detected or learnt, kept as it came.
void MachineCycle::saveRawFrame(int camera, int slot)
{
    if (!saveFrameImages || !hooks.saveFrameImage)
        return;
    hooks.saveFrameImage(camera, QStringLiteral("./originalimage/cammer%1%2/template%3.bmp")
                                     .arg(camera + 1)
                                     .arg(slot + 1)
                                     .arg(appNow().toString(QStringLiteral("yyyyMMdd-hhmmss-zzz"))));
}

// slot >= 0: one camera detected or learnt on its own (learning, the region editor). slot < 0: the
// finishing half after judgeCameras judged slot -1 - slot.
void MachineCycle::RunAlgorithm(int camera, int slot)
{
    if (camera < 0 || camera >= hooks.cameraCount)
        return;
    DepthGuard guard(cycleDepth);
    const SysParam &p = *gSysParam;
    const bool judged = slot < 0;
    const int s = judged ? -1 - slot : slot;
    if (s < 0 || s >= 8)
        return;
    const int c = camera;
    if (!judged) {
        pendingCameras[s % 2] &= ~(1u << c);
        saveRawFrame(c, s);
        if (w->runState == 2) {
            if (hooks.learnPending && hooks.learnPending(c, s)) {
                if (p.slotEnabled[s]) {
                    if (hooks.saveReTrainImage)
                        hooks.saveReTrainImage(c, s);
                    if (hooks.sendSyncTempList)
                        hooks.sendSyncTempList(c, s);
                }
                if (hooks.setLearnPending)
                    hooks.setLearnPending(c, s, false);
                if (hooks.setAllPass)
                    hooks.setAllPass(c, true);
            }
            bool left = false;
            for (int cc = 0; cc < hooks.cameraCount; ++cc) {
                for (int ss = 0; ss < std::clamp(gDetectSlotCount, 0, 8); ++ss)
                    left = left || (p.slotEnabled[ss] && hooks.learnPending && hooks.learnPending(cc, ss));
            }
            if (!left) {
                StartDetect();
                if (!p.okNgPulse) {
                    setOutput(OutClose, 1);
                    flush();
                }
                w->runState = 2;
                if (hooks.CheckArea)
                    hooks.CheckArea();
            }
            return;
        }
        // The region editor's re-check: CheckNG holds instead of combining an old verdict.
        if (!frameFresh(c, -1)) {
            unseenCameras |= 1u << c;
            return;
        }
        if (hooks.judgeCameras) {
            if (editorTemperatures.isEmpty())
                alarmBeforeEditorCheck = gTemperatureAlarm;
            editorTemperatures += hooks.judgeCameras({c}, s);
            gTemperatureAlarm = temperatureAlarmAfter(editorTemperatures, alarmBeforeEditorCheck);
        }
    }

    const bool ng = !(hooks.allPass && hooks.allPass(c));
    const bool productKind = machineTwoSided() ? s % 2 == 0 : s == 0;
    const int kindIndex = productKind ? 0 : 1;
    const bool noneLeft = reCheckLeft[kindIndex] == 0;
    if (ng && !p.okNgPulse) {
        if (productKind) {
            if (!p.ejectorPulseOnProdNg) {
                if (!p.noEjectorCtrlInProd) {
                    setOutput(OutThimble, 1);
                    if (!preCutSet() && !p.cutClampOnMoldAlarm)
                        setOutput(OutClose, 1);
                }
                if (noneLeft && w->alarmState == 2)
                    setOutput(OutAlarm, 1);
                else if (noneLeft)
                    alarmAwaitsLatch = true;
            }
        } else if (!preCutSet() || noneLeft) {
            setOutput(OutClose, 1);
            // An NG that will latch: the alarm goes out once the latch is on disk (latchAlarm), so that
            // a board holding the alarm word means a restart finds the alarm latched.
            if (noneLeft && w->alarmState == 2)
                setOutput(OutAlarm, 1);
            else if (noneLeft)
                alarmAwaitsLatch = true;
        }
    }
    if (ng && productKind && p.ejectorPulseOnProdNg && hooks.failedRegionOutputs) {
        // Stored output numbers come from the region table: only 0..3 name an NG output.
        for (int out : hooks.failedRegionOutputs(c, s)) {
            if (out >= 0 && out < 4)
                ngPulse[out] = true;
        }
    }
    if (ng && imageState[c][s] == 1 && noneLeft && hooks.keepNgFrame)
        hooks.keepNgFrame(c, s);
    flush();
    if (hooks.repaintView)
        hooks.repaintView(c);
}

void MachineCycle::sendAwaitedAlarm()
{
    if (!alarmAwaitsLatch)
        return;
    alarmAwaitsLatch = false;
    setOutput(OutAlarm, 1);
    flush();
}

void MachineCycle::mouldJudged()
{
    interruptedSlot = -1;
    interruptedHold = false;
    if (hooks.clearDetectionMark)
        hooks.clearDetectionMark();
}

void MachineCycle::CheckNG()
{
    editorTemperatures.clear(); // the editor's re-check, if any, is complete
    if (gAreaCheckActive) {
        sendAwaitedAlarm();
        return;
    }
    DepthGuard guard(cycleDepth);
    if (unseenCameras) {
        const quint32 unseen = unseenCameras;
        unseenCameras = 0;
        sendAwaitedAlarm();
        holdUnseen(unseen);
        return;
    }
    const SysParam &p = *gSysParam;
    const int kind = slotKind();
    const bool product = kind == 0;
    QVector<int> ngCameras;
    for (int c = 0; c < hooks.cameraCount; ++c) {
        if (!(hooks.allPass && hooks.allPass(c))) {
            ngCameras.append(c);
            if (hooks.startResultTimer)
                hooks.startResultTimer(c);
        }
    }
    // The temperature alarm belongs to the mould check on either mould side.
    const bool ng = !ngCameras.isEmpty() || (kind == 1 && gTemperatureAlarm);
    const bool productPulse = product && p.ejectorPulseOnProdNg;
    bool latchedNow = false;

    if (p.okNgPulse) {
        setOutput(OutClose, ng ? 1 : 0);
        setOutput(OutThimble, ng ? 0 : 1);
        setOutput(OutAlarm, ng ? 1 : 0);
        // A mould result is its pulse: nothing is left to judge again.
        if (!product)
            interruptedHold = false;
        flush();
        if (!product)
            mouldJudged();
        if (pulseMs(p.clampPulse) > 0)
            clampTimer->start(pulseMs(p.clampPulse));
        manualTriggered = false;
    } else if (!ng) {
        if (product) {
            if (!p.noEjectorCtrlInProd && !p.ejectorPulseOnProdNg)
                setOutput(OutThimble, 0);
        } else if (!gRetrainDone) {
            setOutput(OutClose, 0);
        }
        // A re-check that clears the latch drops the alarm in the same word that frees the clamp: the
        // board must never read "clamp allowed" with the alarm still on.
        if (w->alarmState == 2 && !productPulse)
            setOutput(OutAlarm, 0);
        reCheckPending = false;
        if (!product)
            interruptedHold = false;
        flush();
        // Judged OK and released: nothing to judge again after a stop, nor of an opening before this
        // cycle started.
        if (!product && gControlPort)
            gControlPort->cycleJudged();
        if (!product)
            mouldJudged();
        if (w->alarmState == 2 && !productPulse) {
            if (hooks.markAlarmFinished)
                hooks.markAlarmFinished();
            if (hooks.closeEditor)
                hooks.closeEditor();
            if (product && p.machineType >= 0 && p.machineType <= 2) {
                setOutput(OutAlarm, 0);
                setOutput(OutThimble, 0);
                flush();
                w->alarmState = 0;
                if (hooks.removeLatchedAlarm)
                    hooks.removeLatchedAlarm();
                ResetRun();
                w->runState = 1;
                if (p.machineType == 0 && !p.semiAuto) {
                    simulatedTrigger = 1;
                    simulatedTriggerMs = appMonotonicMs();
                    forcedTriggerSlot = 1;
                }
            } else {
                // Marked as finished just now: the start must not report the same alarm again.
                w->alarmState = 0;
                if (hooks.removeLatchedAlarm)
                    hooks.removeLatchedAlarm();
                StartDetect();
            }
        } else if (w->alarmState == 2) {
            StartDetect();
        }
        manualTriggered = false;
    } else {
        if (!productPulse && w->alarmState != 2) {
            if (reCheckLeft[kind] == 0) {
                latchAlarm(ngCameras);
                latchedNow = true;
            } else {
                reCheckPending = true;
            }
        }
        manualTriggered = false;
    }

    if (w->alarmState != 2 && w->alarmState != 3 && (!ng || p.okNgPulse || productPulse) &&
        !(hooks.settingsVisible && hooks.settingsVisible())) {
        w->alarmState = 1;
        resultShowTimer->start(2000);
        shownSlot = w->currentSlot;
        shownNgCameras = 0;
        for (int c : qAsConst(ngCameras))
            shownNgCameras |= c >= 0 && c < 32 ? 1u << c : 0u;
        if (hooks.repaintWindow)
            hooks.repaintWindow();
        const bool ngLamp = ng && p.okNgPulse;
        if (hooks.setLed) {
            hooks.setLed(6, ngLamp ? 0 : 1);
            hooks.setLed(7, ngLamp ? 1 : 0);
        }
    }
    if (!ng && !product) {
        if (p.slotEnabled[0] && p.cutEjectorOnClamp && !p.noEjectorCtrlInProd && !p.ejectorPulseOnProdNg) {
            setOutput(OutThimble, 1);
            flush();
        }
        if (p.cutClampAfterMoldOk && pulseMs(p.clampPulse) > 0)
            clampTimer->start(pulseMs(p.clampPulse));
    }
    // The product judged without an alarm, the mould still to come: a stop now leaves the mould to judge.
    if (product && !latchedNow && w->alarmState != 2 && pendingCameras[1] != 0 && hooks.markDetection)
        hooks.markDetection(slotOfPosition(1), w->moldSide);
    if (productPulse && ng) {
        for (int j = 0; j < 4; ++j) {
            if (ngPulse[j])
                setOutput(OutNG + j, 1);
        }
        if (!p.noEjectorCtrlInProd)
            setOutput(OutThimble, 1);
        flush();
        if (pulseMs(p.ejectorPulse) > 0)
            outNgTimer->start(pulseMs(p.ejectorPulse));
    }
    if (!ng && product && p.cutEjectorAfterProdOk && pulseMs(p.ejectorPulse) > 0)
        ejectorTimer->start(pulseMs(p.ejectorPulse));

    handleImages(ng, productPulse, kind);
    // A product NG that pulses the ejector is handed over as the result display shows it: otherwise
    // a mould NG in the same cycle leaves its picture waiting and the next cycle start loses it.
    if (!ng || p.okNgPulse || (productPulse && ng))
        handOverImages(kind);
    // The editor opens on the camera whose NG picture is kept, so only once the pictures are marked.
    if (latchedNow && hooks.openEditor)
        hooks.openEditor();
    if (!product && (!ng || p.okNgPulse) && hooks.CountWrite)
        hooks.CountWrite();
    sendAwaitedAlarm();
    if (hooks.sendAlarmFinishTiming)
        hooks.sendAlarmFinishTiming();
}

QString cameraAlarmLine(const QVector<int> &cameras)
{
    QString line;
    for (int c : cameras)
        line += uiText(151).arg(c + 1);
    line.chop(1);
    return line + uiText(152);
}

void MachineCycle::latchAlarm(const QVector<int> &ngCameras)
{
    if (hooks.sendAlarmStartTiming)
        hooks.sendAlarmStartTiming(w->currentSlot);
    if (directTimerUp) {
        setOutput(OutClose, 1);
        flush();
    }
    if (w->screenOff && hooks.wakeScreen)
        hooks.wakeScreen();
    SetStopDetect();
    w->alarmState = 2;
    // On disk (written, synced, renamed) before the alarm output goes: a board that holds the alarm
    // word means a restart finds the alarm latched. A write that fails does not hold the alarm back;
    // it is tried again every second, and the mark of this detection stays until it is on disk.
    const bool onDisk = hooks.saveLatchedAlarm && hooks.saveLatchedAlarm(ngCameras);
    sendAwaitedAlarm();
    if (onDisk && gControlPort)
        gControlPort->cycleJudged();
    if (onDisk && hooks.clearDetectionMark)
        hooks.clearDetectionMark();
    if (hooks.showAllCameras)
        hooks.showAllCameras();
    if (hooks.hideMenus)
        hooks.hideMenus();
    // The region editor opens at the end of CheckNG, after the NG pictures are kept.
    reCheckPending = false;
    if (hooks.setLed) {
        hooks.setLed(6, 0);
        hooks.setLed(7, 1);
    }
    if (hooks.InsertRecord)
        hooks.InsertRecord(cameraAlarmLine(ngCameras));
}

// CheckNG's result pictures of the slot's cameras.
void MachineCycle::handleImages(bool, bool productPulse, int kind)
{
    const SysParam &p = *gSysParam;
    const int s = w->currentSlot;
    if (s < 0 || s >= 8)
        return;
    for (int c = 0; c < hooks.cameraCount; ++c) {
        int &code = imageState[c][s];
        const bool camOk = hooks.allPass && hooks.allPass(c);
        bool saved = false;
        if (code == 1 && camOk) {
            if (gOkImageLimit < 1) {
                code = 0;
                continue;
            }
            code = 2;
            if (hooks.SaveFailImage)
                hooks.SaveFailImage(c, s, 1);
            saved = true;
        } else if (code == 1) {
            if (gNgImageLimit < 1) {
                code = 0;
                continue;
            }
            if (reCheckLeft[kind] > 0)
                continue;
            code = p.okNgPulse || productPulse ? 9 : 3;
            if (hooks.SaveFailImage)
                hooks.SaveFailImage(c, s, 0);
            saved = true;
        } else if (code >= 4 && code <= 6) {
            if (hooks.appendClearMethod)
                hooks.appendClearMethod(c, code);
            if (hooks.UpdateFailImage)
                hooks.UpdateFailImage(c, s, 0);
        } else if (code == 7) {
            if (camOk) {
                if (hooks.UpdateFailImage)
                    hooks.UpdateFailImage(c, s, 0);
                if (hooks.SaveFailImage)
                    hooks.SaveFailImage(c, s, 1);
                if (hooks.UpdateFailImage)
                    hooks.UpdateFailImage(c, s, 1);
            } else {
                code = 3;
            }
        }
        if (saved && gStatisticsEnabled && hooks.addResult)
            hooks.addResult(c, s, camOk);
    }
}

// CheckNG's pictures waiting for the saver thread are handed over.
void MachineCycle::handOverImages(int)
{
    MutexLocker lock(gFailImageMutex);
    for (int c = 0; c < hooks.cameraCount; ++c) {
        for (int s = 0; s < std::clamp(gDetectSlotCount, 0, 8); ++s) {
            int &code = imageState[c][s];
            if (code == 2 || code == 10)
                gFailImagePending[c][s][1] = 1;
            if (code == 9 || code == 10)
                gFailImagePending[c][s][0] = 1;
            if (code == 2 || code == 9 || code == 10)
                code = 0;
        }
    }
}

void MachineCycle::ReCheck()
{
    DepthGuard guard(cycleDepth);
    const SysParam &p = *gSysParam;
    const int kind = slotKind();
    pendingCameras[kind] = 0;
    if (kind == 1 && (!preCutSet() || reCheckLeft[1] == 0)) {
        if (hooks.markDetection)
            hooks.markDetection(w->currentSlot, w->moldSide);
        setOutput(OutClose, 1);
        flush();
    }
    const int s = w->currentSlot;
    if (s >= 0 && s < 8 && p.slotEnabled[s]) {
        if (w->runState != 2 && !camerasSeen(-1))
            return;
        QVector<int> cameras;
        for (int c = 0; c < hooks.cameraCount; ++c) {
            pendingCameras[kind] |= 1u << c;
            cameras.append(c);
        }
        if (hooks.judgeCameras && w->runState != 2) {
            for (int c : cameras)
                pendingCameras[s % 2] &= ~(1u << c);
            gTemperatureAlarm = temperatureAlarmAfter(hooks.judgeCameras(cameras, s), gTemperatureAlarm);
            for (int c : cameras)
                RunAlgorithm(c, -1 - s);
        } else {
            for (int c : cameras)
                RunAlgorithm(c, s);
        }
    }
    bool allOk = true;
    for (int c = 0; c < hooks.cameraCount; ++c)
        allOk = allOk && hooks.allPass && hooks.allPass(c);
    CheckNG();
    if (reCheckLeft[kind] == 0 && hooks.sendDetectOnceInfo)
        hooks.sendDetectOnceInfo(allOk);
}

void MachineCycle::BackTrain()
{
    DepthGuard guard(cycleDepth);
    const SysParam &p = *gSysParam;
    if (!p.okNgPulse) {
        setOutput(OutClose, 0);
        if (p.cutEjectorOnClamp && p.slotEnabled[0] && !p.noEjectorCtrlInProd && !p.ejectorPulseOnProdNg &&
            p.machineType == 0)
            setOutput(OutThimble, 1);
        flush();
    }
    w->runState = 1;
    CheckNG();
    gRetrainDone = true;
}

int MachineCycle::shownVerdict(int c) const
{
    if (w->alarmState != 1 || !resultShowTimer->isActive() || c < 0 || c >= 32)
        return -1;
    return (shownNgCameras >> c) & 1u ? 0 : 1;
}

void MachineCycle::TimerShow()
{
    resultShowTimer->stop();
    if (w->alarmState != 2) {
        if (hooks.setLed) {
            hooks.setLed(6, 1);
            hooks.setLed(7, 1);
        }
        if (!reCheckPending && shownSlot == w->currentSlot && gDetectSlotCount > 0) {
            w->currentSlot = (w->currentSlot + 1) % gDetectSlotCount;
            if (w->currentSlot % 2 == 0 && gSysParam->enableProdDetect == 0)
                w->currentSlot = (w->currentSlot + 1) % gDetectSlotCount;
        }
        if (w->alarmState == 1) {
            w->alarmState = 0;
            if (hooks.repaintWindow)
                hooks.repaintWindow();
        }
    }
    w->detectStatus = 3;
    if (gRetrainDone) {
        gRetrainDone = false;
        for (int c = 0; c < hooks.cameraCount; ++c) {
            for (int s = 0; s < std::clamp(gDetectSlotCount, 0, 8); ++s) {
                if (gSysParam->slotEnabled[s] && hooks.rebuildTemplates)
                    hooks.rebuildTemplates(c, s);
            }
        }
        qCInfo(lcMainWindow) << "templates of every enabled slot rebuilt after learning";
    } else if (gTemplateRefreshPending) {
        gTemplateRefreshPending = false;
        for (int c = 0; c < hooks.cameraCount; ++c) {
            if (hooks.rebuildTemplates)
                hooks.rebuildTemplates(c, 1);
        }
        qCInfo(lcMainWindow) << "mould templates rebuilt with the good frames of the automatic update";
    }
}

void MachineCycle::CheckTemp()
{
    if (!gTemperatureAlarm)
        return;
    setOutput(OutAlarm, 1);
    tempAlarmTimer->start(1000);
}

void MachineCycle::SlotResetAlarm()
{
    if (w->alarmState != 2)
        setOutput(OutAlarm, 0);
    tempAlarmTimer->stop();
}

void MachineCycle::OutTimerOutNG()
{
    outNgTimer->stop();
    if (!gSysParam->noEjectorCtrlInProd)
        setOutput(OutThimble, 0);
    for (int j = 0; j < 4; ++j)
        setOutput(OutNG + j, 0);
    flush();
}

void MachineCycle::OutTimerNotAllowClose()
{
    clampTimer->stop();
    if (gSysParam->okNgPulse) {
        setOutput(OutClose, 0);
        setOutput(OutThimble, 0);
        setOutput(OutAlarm, 0);
        flush();
    } else if (w->runState != 3) {
        setOutput(OutClose, 1);
        flush();
    }
}

void MachineCycle::OutTimerNotAllowThimble()
{
    ejectorTimer->stop();
    if (gSysParam->okNgPulse) {
        setOutput(OutClose, 0);
        setOutput(OutThimble, 0);
        flush();
    } else if (w->runState != 3) {
        setOutput(OutThimble, 1);
        flush();
    }
}

void MachineCycle::OutTimerReserveOutput()
{
    reserveTimer->stop();
    setOutput(OutReserve, 0);
    flush();
}

void MachineCycle::SlotTimerDelayOutput3()
{
    delayOutput4Timer->stop();
    setOutput(OutNG, 1);
    flush();
}

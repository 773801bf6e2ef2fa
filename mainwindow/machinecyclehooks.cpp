// The main window's side of the moulding cycle: it makes the cycle and its timers
// and answers the cycle's hooks with its camera views, boxes, record and counters, installs the
// cycle's entry points for the region editor and the camera views, and at start-up latches again an
// alarm that was latched before the box stopped.

#include "devewizard.h"

#include "atomicfile.h"
#include "cameradetector.h"
#include "camerainterface.h"
#include "cameraregistry.h"
#include "cameraviewhooks.h"
#include "cammersingleton.h"
#include "cammerwidget.h"
#include "choosebox.h"
#include "clock.h"
#include "controlport.h"
#include "databaserestore.h"
#include "detectionmark.h"
#include "drawroiwidget.h"
#include "editorhooks.h"
#include "frameimagewriter.h"
#include "hardwareconfigurationwidget.h"
#include "helpwidget.h"
#include "imagesize.h"
#include "indexbutton.h"
#include "iostatuswidget.h"
#include "latchedalarm.h"
#include "mainwindowglobals.h"
#include "mainwindowlog.h"
#include "pagehooks.h"
#include "passwordbox.h"
#include "resstatistics.h"
#include "slotjudgement.h"
#include "startup.h"
#include "sysparam.h"
#include "systemhelpers.h"
#include "temperaturechartwidget.h"
#include "uitexttable.h"
#include "warnbox.h"

#include <QImage>
#include <QTimer>
#include <algorithm>
#include <limits>
#include <memory>

void DeVeWizard::createCycle()
{
    // The judgement pool sets OpenCV's own threads once for the whole run.
    SlotJudgement::instance();
    latchKeeper = new LatchedAlarmKeeper(this);
    // A latch that reached the disk only on a later try ends the mark of its detection then.
    latchKeeper->onDiskAgain = [this] {
        if (alarmState != 2)
            return;
        if (gControlPort)
            gControlPort->cycleJudged();
        detectionMark->clear();
    };
    // main() never deletes the window: it ends the mark's thread once the poll thread is gone, as the
    // poll's last openings still ask it for their marks.
    detectionMark = new DetectionMarkFile;
    machineCycle = new MachineCycle(this, makeCycleHooks(), this);
    installEditorHooks();
    installCycleViewHooks();
}

// Once the cycle runs, its poll takes the frames; the views read its countdown and raise its
// camera-lost alarm. Removed with the other view hooks by the destructor.
void DeVeWizard::installCycleViewHooks()
{
    MachineCycle *cycle = machineCycle;
    CameraViewHooks &v = cameraViewHooks();
    v.cyclePollsFrames = [cycle] { return cycle->runTimer->isActive() || cycle->cycleDepth > 0; };
    v.cameraLostAlarm = [cycle] { cycle->cameraLostAlarm(); };
    v.shownVerdict = [cycle](int c) { return cycle->shownVerdict(c); };
    // The shortest countdown still running of the pair positions, below 0 when none runs.
    v.countdown = [cycle] {
        double left = -1.0;
        for (int k = 0; k < 8; ++k) {
            if (cycle->upTimers[k] && cycle->upTimers[k]->isActive() && cycle->slotCountdown[k] > 0.0f &&
                (left < 0.0 || cycle->slotCountdown[k] < left))
                left = cycle->slotCountdown[k];
        }
        return left;
    };
}

CycleHooks DeVeWizard::makeCycleHooks()
{
    CycleHooks h;
    h.cameraCount = gCameraCount;
    auto view = [this](int c) -> CammerWidget * { return c >= 0 && c < 8 ? cammerWidgets[c] : nullptr; };
    h.cameraConnected = [view](int c) {
        CammerWidget *v = view(c);
        // connected also says whether it still delivers pictures (followed at each grab).
        return v && v->cameraOpened && v->connected && v->camera && v->camera->isOnline();
    };
    h.cameraOpen = [view](int c) { return view(c) && view(c)->cameraOpened; };
    h.grabFrame = [view](int c) { return view(c) && view(c)->grabFrame(); };
    h.frameAgeMs = [view](int c) -> qint64 {
        const CammerWidget *v = view(c);
        if (!v || v->grabFrameMs < 0)
            return std::numeric_limits<qint64>::max();
        return appMonotonicMs() - v->grabFrameMs;
    };
    h.frameTakenMs = [view](int c) -> qint64 {
        const CammerWidget *v = view(c);
        return v ? v->grabFrameMs : -1;
    };
    h.framePeriodMs = [view](int c) -> qint64 { return view(c) ? view(c)->picturePeriodMs() : 0; };
    h.applyOnceWhiteBalance = [view](int c) {
        if (view(c) && view(c)->camera)
            view(c)->camera->setOnceWhiteBalance();
    };
    h.judgeCameras = [view](const QVector<int> &cameras, int slot) {
        QVector<CameraDetector *> detectors;
        for (int c : cameras)
            detectors.append(view(c) ? view(c)->detector.get() : nullptr);
        return judgeSlotCameras(detectors, slot);
    };
    h.allPass = [view](int c) { return view(c) && view(c)->allPass; };
    h.setAllPass = [view](int c, bool pass) {
        if (view(c))
            view(c)->allPass = pass;
    };
    h.failedRegionOutputs = [view](int c, int slot) {
        QVector<int> outputs;
        CammerWidget *v = view(c);
        if (!v || !v->liveTable || slot < 0 || slot >= kViewSlots)
            return outputs;
        const int count = std::clamp(v->liveTable->roiCount[slot], 0, kViewRois);
        for (int j = 0; j < count; ++j) {
            if (!v->roiPass[slot][j])
                outputs.append(v->liveTable->outN[j]);
        }
        return outputs;
    };
    auto slotOk = [](int s) { return s >= 0 && s < kViewSlots; };
    h.clearAlarmHandled = [view, slotOk](int c, int s) {
        CammerWidget *v = view(c);
        for (int i = 0; v && i < kViewSlots; ++i) {
            if (s < 0 || s == i)
                v->alarmHandled[i] = false;
        }
    };
    h.learnPending = [view, slotOk](int c, int s) { return view(c) && slotOk(s) && view(c)->learnPending[s]; };
    h.setLearnPending = [view, slotOk](int c, int s, bool on) {
        if (view(c) && slotOk(s))
            view(c)->learnPending[s] = on;
    };
    h.saveReTrainImage = [view, slotOk](int c, int s) {
        if (view(c) && slotOk(s))
            view(c)->SaveReTrainImage(s);
    };
    h.keepNgFrame = [view, slotOk](int c, int s) {
        if (view(c) && slotOk(s))
            view(c)->keepNgFrame(s);
    };
    h.SaveFailImage = [view, slotOk](int c, int s, int ok) {
        if (view(c) && slotOk(s))
            view(c)->SaveFailImage(s, ok);
    };
    h.UpdateFailImage = [view, slotOk](int c, int s, int ok) {
        if (view(c) && slotOk(s))
            view(c)->UpdateFailImage(s, ok);
    };
    h.startResultTimer = [view](int c) {
        if (view(c) && view(c)->resultTimer)
            view(c)->resultTimer->start();
    };
    h.repaintView = [view](int c) {
        if (view(c))
            view(c)->update();
    };
    h.repaintCountdown = [view](int c) {
        if (view(c))
            view(c)->repaintCountdown();
    };
    h.resetResults = [view](int c) {
        CammerWidget *v = view(c);
        if (!v)
            return;
        v->allPass = true;
        for (int s = 0; s < std::clamp(gDetectSlotCount, 0, kViewSlots); ++s) {
            for (int j = 0; j < kViewRois; ++j) {
                v->roiPass[s][j] = true;
                v->roiValue[s][j] = 0;
            }
        }
    };
    h.rebuildTemplates = [view](int c, int s) {
        if (CammerWidget *v = view(c); v && v->detector) {
            v->detector->createPositionTemplate(s);
            v->detector->buildRegistrationTemplate(s);
            v->detector->trainTemplates(s);
        }
    };
    // Encoding and writing happen on the writer's thread; the cycle only copies the frame. The writer
    // goes (its thread joined) with the cycle that holds these hooks.
    const auto frameWriter = std::make_shared<FrameImageWriter>();
    h.saveFrameImage = [view, this, frameWriter](int c, const QString &path) {
        CammerWidget *v = view(c);
        if (!v || v->grabBuffer().empty())
            return;
        const bool colour = v->frameBytes > v->pixelCount;
        QImage image(v->grabBuffer().data(), v->imageWidth, v->imageHeight,
                     colour ? v->imageWidth * 4 : v->imageWidth,
                     colour ? QImage::Format_RGBX8888 : QImage::Format_Indexed8);
        if (!colour)
            image.setColorTable(grayColorTable);
        frameWriter->enqueue(image, path);
    };

    // Looked up at each call: the link's hooks may be installed or removed while the window lives.
    h.sendDetectOnceInfo = [](bool ok) {
        if (cycleReportHooks().sendDetectOnceInfo)
            cycleReportHooks().sendDetectOnceInfo(ok);
    };
    h.sendAlarmStartTiming = [](int slot) {
        if (cycleReportHooks().sendAlarmStartTiming)
            cycleReportHooks().sendAlarmStartTiming(slot);
    };
    h.markAlarmFinished = [] {
        if (cycleReportHooks().markAlarmFinished)
            cycleReportHooks().markAlarmFinished();
    };
    h.sendAlarmFinishTiming = [] {
        if (cycleReportHooks().sendAlarmFinishTiming)
            cycleReportHooks().sendAlarmFinishTiming();
    };
    h.appendClearMethod = [](int c, int code) {
        if (cycleReportHooks().appendClearMethod)
            cycleReportHooks().appendClearMethod(c, code);
    };
    h.sendSyncTempList = [](int c, int slot) {
        if (cycleReportHooks().sendSyncTempList)
            cycleReportHooks().sendSyncTempList(c, slot);
    };

    h.showAllCameras = [this] {
        shownCamera = gCameraCount;
        ChangeCammer();
    };
    h.repaintWindow = [this] { update(); };
    h.openEditor = [this] {
        if (drawROIWidget)
            drawROIWidget->openPage(false);
    };
    h.refreshEditor = [this] {
        if (drawROIWidget && drawROIWidget->isVisible())
            drawROIWidget->openPage(true);
    };
    h.closeEditor = [this] {
        if (drawROIWidget)
            drawROIWidget->closePage();
    };
    h.InsertRecord = [this](const QString &line) { InsertRecord(line); };
    h.CountWrite = [this] { CountWrite(); };
    h.addResult = [](int c, int slot, bool ok) {
        if (gStatisticsStore)
            gStatisticsStore->addResult(appNow().time().hour(), ok, c, slot);
    };
    h.showWarning = [](const QString &text, bool modal) {
        if (!gWarnBox)
            return;
        gWarnBox->setMessage(text);
        if (modal) {
            gWarnBox->exec();
            return;
        }
        gWarnBox->show();
    };
    h.hideWarning = [] {
        if (gWarnBox)
            gWarnBox->hide();
    };
    h.askYesNo = [](const QString &question) {
        if (!gChooseBox)
            return false;
        gChooseBox->setMessage(question);
        return gChooseBox->exec() == 1;
    };
    h.userLevel = [this] { return userLevel(); };
    // Stopping may need a password although the login is off; otherwise any login level will do.
    h.authorizeStop = [this] {
        if (gSysParam->pswStopDetect && gSysParam->isPswUsed == 0) {
            if (!stopPasswordDialog)
                stopPasswordDialog = new PasswordDialog(this);
            return stopPasswordDialog->exec() == 1 && stopPasswordDialog->passwordRight();
        }
        return userLevel() > 0;
    };
    h.saveCameraSerials = [](int clear) { saveCameraSerials(clear); };
    h.clearIgnoreMask = [view, slotOk](int c, int s) {
        CammerWidget *v = view(c);
        if (!v || !slotOk(s) || v->imageWidth <= 0 || v->imageHeight <= 0)
            return;
        cv::Mat &mask = v->ignoreMasks[s];
        if (mask.rows != v->imageHeight || mask.cols != v->imageWidth || mask.type() != CV_8UC1)
            mask = cv::Mat::zeros(v->imageHeight, v->imageWidth, CV_8UC1);
        else
            mask.setTo(0);
        if (!v->saveIgnoreMask(s))
            qCWarning(lcMainWindow) << "camera" << c + 1 << "slot" << s + 1 << "ignore mask not saved";
    };
    // The editor's side of an alarm and of re-learning.
    h.clickEditorReCheck = [this] {
        if (drawROIWidget)
            drawROIWidget->SlotReCheck();
    };
    h.setEditorSource = [this](int index) {
        if (drawROIWidget)
            drawROIWidget->setSourceIndex(index);
    };
    h.editorTempDeleteAll = [this] {
        if (drawROIWidget)
            drawROIWidget->SlotTempDeleteAll();
    };
    // A latched alarm hides the help, the settings (with the hardware page opened over them) and the
    // menu bar, so the editor and the alarm are all the operator sees; the alarm-image review hides
    // the menu bar and the I/O status strip.
    h.hideMenus = [this] {
        if (alarmState == 2) {
            if (helpWidget)
                helpWidget->hide();
            if (hardwareWidget)
                hardwareWidget->hide();
            if (mainPageHooks().hideSettings)
                mainPageHooks().hideSettings();
        } else if (ioStatusWidget) {
            ioStatusWidget->hide();
        }
        if (indexButton)
            indexButton->hide();
    };
    h.wakeScreen = [this] {
        setBacklight(1);
        if (gSysParam->screenOffTime > 0)
            lcdTimer->start(timerMsFromSeconds(gSysParam->screenOffTime));
    };
    h.setLed = [](int led, int on) { setLed(led, on); };
    h.saveLatchedAlarm = [this](const QVector<int> &ngCameras) {
        LatchedAlarm alarm;
        alarm.cameras = ngCameras;
        alarm.slot = currentSlot;
        alarm.moldSide = moldSide;
        alarm.time = appNow();
        return latchKeeper->keep(alarm);
    };
    h.removeLatchedAlarm = [this] { latchKeeper->release(); };
    h.markDetection = [this](int slot, int side) { detectionMark->set(slot, side); };
    h.clearDetectionMark = [this] { detectionMark->clear(); };
    h.removeParamRestoredMarker = [] { removeParamRestoredMarker(); };
    h.applyFrameSpeedToAll = [view] {
        for (int c = 0; c < gCameraCount; ++c) {
            if (view(c))
                view(c)->applyFrameSpeed();
        }
    };
    return h;
}

// The region editor and the camera views reach the cycle through these; removed by the destructor.
void DeVeWizard::installEditorHooks()
{
    EditorCycleHooks &e = editorCycleHooks();
    MachineCycle *cycle = machineCycle;
    e.RunAlgorithm = [cycle](int camera, int slot) {
        if (slot >= 0)
            cycle->RunAlgorithm(camera, slot);
    };
    e.CheckNG = [cycle] { cycle->CheckNG(); };
    e.BackTrain = [cycle] { cycle->BackTrain(); };
    e.imageState = [cycle](int camera, int slot) -> int & {
        static int outside = 0;
        if (camera < 0 || camera >= 8 || slot < 0 || slot >= 8)
            return outside = 0;
        return cycle->imageState[camera][slot];
    };
    e.cameraLostAlarm = [cycle] { cycle->cameraLostAlarm(); };
    e.currentSlot = [this] { return currentSlot; };
    e.alarmState = [this]() -> int & { return alarmState; };
    e.ChangeCammer = [this] { ChangeCammer(); };
    // The strip the area actions and the alarm-image review hid comes back with the main screen. Looked
    // at once the closing path is done: an alarm cleared by a re-check is left in the same call.
    e.editorClosed = [this] {
        QTimer::singleShot(0, this, [this] {
            if (ioStatusWidget && alarmState != 2 && !(drawROIWidget && drawROIWidget->isVisible()))
                ioStatusWidget->show();
        });
    };
}

// At start-up, when "latchedalarm.json" is there: the alarm latched before the box stopped is
// latched again, on the cameras still in use. A file that cannot be read is kept aside and latches
// the mould slot of the side in use: it says that an alarm was latched, not which. True when latched.
bool DeVeWizard::restoreLatchedAlarm()
{
    LatchedAlarm alarm;
    QString cause;
    LatchedAlarmFile read = readLatchedAlarm(&alarm, &cause);
    if (read == LatchedAlarmFile::None)
        return false;
    if (gSysParam->okNgPulse) {
        // Results are pulses in this mode: no alarm latches, and none could ever be cleared.
        qCWarning(lcMainWindow).noquote() << "latched alarm of before the restart not restored: the box now"
                                          << "gives OK and NG pulses, which latch no alarm";
        removeLatchedAlarm();
        return false;
    }
    if (read == LatchedAlarmFile::Read && alarm.slot >= gDetectSlotCount) {
        read = LatchedAlarmFile::Damaged;
        cause = QStringLiteral("slot %1 is not in use on this machine").arg(alarm.slot + 1);
    }
    if (read == LatchedAlarmFile::Damaged) {
        const QString kept = keepDamagedDatabase(latchedAlarmPath());
        alarm = LatchedAlarm();
        const bool twoSided = gSysParam->machineType == 1 || gSysParam->machineType == 2;
        alarm.slot = twoSided && moldSide == 0 ? 3 : 1;
        alarm.moldSide = moldSide;
        for (int c = 0; c < gCameraCount; ++c)
            alarm.cameras.append(c);
        qCCritical(lcMainWindow).noquote()
            << "latched alarm file damaged (" + cause + "),"
            << (kept.isEmpty() ? QStringLiteral("cannot be kept aside") : QStringLiteral("kept as ") + kept)
            << "- latching slot" << alarm.slot + 1 << "of every camera";
    } else {
        const auto beyond = std::remove_if(alarm.cameras.begin(), alarm.cameras.end(),
                                           [](int c) { return c >= gCameraCount; });
        if (beyond != alarm.cameras.end())
            qCWarning(lcMainWindow) << "latched alarm: cameras beyond the" << gCameraCount
                                    << "in use dropped from it";
        alarm.cameras.erase(beyond, alarm.cameras.end());
        qCWarning(lcMainWindow).noquote()
            << "NG alarm of slot" << alarm.slot + 1 << "latched at" << alarm.time.toString(Qt::ISODate)
            << "before the restart: latched again";
    }
    // What is latched now is what a further restart must find.
    latchKeeper->keep(alarm);
    machineCycle->restoreLatchedAlarm(alarm.slot, alarm.moldSide,
                                      uiText(745).arg(cameraAlarmLine(alarm.cameras)));
    return true;
}

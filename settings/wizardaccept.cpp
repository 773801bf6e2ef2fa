// Confirm: compares the working copy with the block in force, records, saves and applies it.
#include "wizardparawidget.h"

#include "confirmactions.h"
#include "confirmrecord.h"
#include "settingshooks.h"

#include "core/paramquery.h"
#include "core/paramstore.h"
#include "core/sqltransaction.h"
#include "core/startup.h"
#include "core/sysparam.h"
#include "core/uitexttable.h"
#include "widgets/checkbox.h"
#include "widgets/choosebox.h"
#include "widgets/warnbox.h"

#include <cstring>

namespace {

void warn(int row)
{
    if (!gWarnBox)
        return;
    gWarnBox->setMessage(uiText(row));
    gWarnBox->exec();
}

bool anyAlgorithm(const SysParam &p)
{
    return p.enableDefectDetect || p.enableSpotDetect || p.enableWhiteArea || p.enableWhiteNumber ||
           p.enableBlackArea || p.tempAlarm || p.enableSimilarity;
}

// Parameter sync: the product side (machine type 0) or the second mould pair (types 1 and 2) takes
// the regions of the first, when the slots in use or the sync itself changed.
bool copiesRegions(const SysParam &before, const SysParam &now)
{
    const bool changed = now.enableProdDetect != before.enableProdDetect ||
                         now.syncParams != before.syncParams || now.detectMold != before.detectMold;
    return changed && now.syncParams &&
           ((now.enableProdDetect && now.machineType == 0) || now.machineType == 1 || now.machineType == 2);
}

constexpr CameraSetting kSettings[5] = {CameraSetting::Exposure, CameraSetting::Gain,
                                        CameraSetting::Sharpness, CameraSetting::Contrast,
                                        CameraSetting::Gamma};

} // namespace

void WizardParaWidget::accept()
{
    if (!gSysParam || !gSysParamEdit)
        return;
    ConfirmActions &act = confirmActions();
    SysParam &edit = *gSysParamEdit;
    const SysParam &inForce = *gSysParam;

    // Confirm ends an advanced login, whatever follows.
    if (int *level = act.loginLevel ? act.loginLevel() : nullptr; level && *level == 2)
        *level = inForce.isPswUsed ? 1 : 0;

    // Widgets into the working copy; an algorithm that needs the detailed parameters shows them.
    storeWidgetValues(edit);
    if (edit.enableSpotDetect || edit.enableWhiteArea || edit.enableBlackArea || edit.enableWhiteNumber ||
        edit.tempAlarm) {
        showAllParamsBox->setChecked(true);
        edit.showAllParams = 1;
    }
    if (bool *flag = settingsHooks().saveFrameImages ? settingsHooks().saveFrameImages() : nullptr)
        *flag = saveImagesBox->isChecked();

    // A box with no detection switched on would pass every mould: refused, nothing is kept.
    if (!anyAlgorithm(edit)) {
        warn(232);
        return;
    }

    // Which camera values were tried out live, for the undo on a decline.
    bool cameraChanged[8][5] = {};
    for (int c = 0; c < 8; ++c) {
        cameraChanged[c][0] = edit.exposeTime[c] != inForce.exposeTime[c];
        cameraChanged[c][1] = edit.adjustPlus[c] != inForce.adjustPlus[c];
        cameraChanged[c][2] = edit.sharp[c] != inForce.sharp[c];
        cameraChanged[c][3] = edit.contrast[c] != inForce.contrast[c];
        cameraChanged[c][4] = edit.gamma[c] != inForce.gamma[c];
    }
    const int views = qBound(0, gCameraCount, 8);

    if (std::memcmp(&edit, &inForce, sizeof edit) != 0) {
        // The block in force before the change: the record line, the undo and the reactions compare
        // with it.
        const SysParam before = inForce;
        const bool motionChanged =
            edit.motionCorrect != before.motionCorrect || edit.rotateAngle != before.rotateAngle;

        bool agreed = false; // the setter is asked whether to keep the change
        if (gChooseBox) {
            gChooseBox->setMessage(uiText(234));
            agreed = gChooseBox->exec() == 1;
        }
        if (!agreed) {
            const bool exposureModes = edit.autoExp != before.autoExp || edit.autoWDR != before.autoWDR;
            edit = before;
            for (int c = 0; c < views; ++c)
                for (int k = 0; k < 5; ++k)
                    if (cameraChanged[c][k] || (k == 0 && exposureModes))
                        act.apply(c, kSettings[k]);
        } else {
            const QString line = buildConfirmRecord(before, edit);
            // The chosen machine type is in force from now on, with the slot words it implies.
            edit.machineType = edit.machineTypeEdit;
            deriveSlotSetup(&edit);
            if (act.insertRecord)
                act.insertRecord(line);
            *gSysParam = edit;
            // The parameters and the region tables the sync copies are one change of PARAM.db: one
            // transaction, so that a kill or a power cut leaves all of it old or all of it new. No
            // template is built and no box shown while it is open.
            const bool copy = copiesRegions(before, *gSysParam);
            bool paramsSaved = false;
            bool regionsSaved = true;
            {
                SqlTransaction transaction(paramQuery(), QStringLiteral("settings save"));
                if (transaction.writable())
                    paramsSaved = saveSysParam(gSysParam);
                for (int c = 0; c < views && copy; ++c) {
                    act.copyPara(c);
                    regionsSaved = transaction.writable() && act.saveRegions(c) && regionsSaved;
                }
                const bool committed = transaction.finish();
                paramsSaved = paramsSaved && committed;
                regionsSaved = regionsSaved && committed;
            }
            // The new values and regions are in force either way; the setter must know they will not
            // survive a restart.
            if (!paramsSaved)
                warn(740);
            if (copy && !regionsSaved)
                warn(741);
            applyConfirmedChanges(before, motionChanged);
        }
    }

    hide();
    for (int c = 0; c < views; ++c)
        act.updateView(c);
}

void WizardParaWidget::applyConfirmedChanges(const SysParam &before, bool motionChanged)
{
    ConfirmActions &act = confirmActions();
    const SysParam &now = *gSysParam;
    const int views = qBound(0, gCameraCount, 8);
    QVector<int> enabledSlots;
    for (int s = 0; s < qBound(0, gDetectSlotCount, 8); ++s)
        if (now.slotEnabled[s])
            enabledSlots.append(s);
    const bool prodChanged = now.enableProdDetect != before.enableProdDetect;
    const bool syncChanged = now.syncParams != before.syncParams;
    const bool moldChanged = now.detectMold != before.detectMold;
    const bool offsetChanged = now.maxOffset != before.maxOffset;
    const bool amplifyChanged = now.diffAmplify != before.diffAmplify;

    // A changed trigger source sets every camera back to free-running pictures.
    if (now.useExtTrigger != before.useExtTrigger)
        for (int c = 0; c < views; ++c)
            act.triggerModeOff(c);
    if (now.frameSpeed != before.frameSpeed && act.applyFrameSpeedToAll)
        act.applyFrameSpeedToAll();
    // The position and registration templates depend on the allowed offset, the mould check and the
    // motion correction: made again for every slot in use.
    if (offsetChanged || moldChanged || motionChanged)
        for (int c = 0; c < views; ++c)
            for (int s : enabledSlots) {
                act.createPositionTemplate(c, s);
                act.buildRegistrationTemplate(c, s);
            }
    // Which slots are judged, or whether the product side copies the mould's regions, changed: the
    // templates are trained again (the position ones only when not just made above) on the regions
    // the parameter sync copied with the save.
    if (prodChanged || syncChanged || moldChanged) {
        for (int c = 0; c < views; ++c) {
            for (int s : enabledSlots) {
                if (!motionChanged && !offsetChanged)
                    act.createPositionTemplate(c, s);
                act.trainTemplates(c, s);
            }
        }
    } else if (amplifyChanged) { // the trained templates hold the amplified differences
        for (int c = 0; c < views; ++c)
            for (int s : enabledSlots)
                act.trainTemplates(c, s);
    }

    // Notes; a changed machine type is in force in the slot words now but the number of slots
    // follows only at the next start, so the setter is told to restart.
    if (now.templateNum != before.templateNum || now.ngRecordMax != before.ngRecordMax ||
        now.okRecordMax != before.okRecordMax)
        warn(276);
    if (now.ioPort != before.ioPort || now.colorCamera != before.colorCamera ||
        now.grayChannel != before.grayChannel || now.noLensOpt != before.noLensOpt)
        warn(309);
    if (now.machineTypeEdit != before.machineTypeEdit)
        warn(277);

    // The menu bar shows the manual-snap and temperature buttons only where they apply.
    if (act.updateMenuVisibility) {
        if (now.showManualSnap != before.showManualSnap || prodChanged)
            act.updateMenuVisibility();
        if (now.tempWaveform != before.tempWaveform || prodChanged)
            act.updateMenuVisibility();
    }
}

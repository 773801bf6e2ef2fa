#include "parafields.h"

#include "wizardparawidget.h"

int32_t *ParaField::ref(SysParam &p, int camera) const
{
    if (scalar)
        return &(p.*scalar);
    if (array) {
        const int i = element < 0 ? camera : element;
        if (i < 0 || i >= 8)
            return nullptr;
        return &(p.*array)[i];
    }
    return nullptr;
}

namespace {

using W = WizardParaWidget;

ParaField make(const char *name, int page, ParaKind kind, int row)
{
    ParaField d;
    d.name = name;
    d.page = page;
    d.kind = kind;
    d.labelRow = row;
    return d;
}
using S = SysParam;

ParaField edit(const char *name, int page, int row, int32_t S::*f, int min, int max, QRect place,
               int type = 0, int scale = 1, int unitRow = 0, ParaShown shown = ParaShown::Always)
{
    ParaField d = make(name, page, ParaKind::Edit, row);
    d.scalar = f;
    d.min = min;
    d.max = max;
    d.displayType = type;
    d.scale = scale;
    d.unitRow = unitRow;
    d.place = place;
    d.shown = shown;
    return d;
}

ParaField editAt(const char *name, int page, int row, int32_t (S::*f)[8], int element, int min, int max,
                 QRect place, int type = 0, int scale = 1, int unitRow = 0,
                 ParaShown shown = ParaShown::Always, void (W::*slot)(int) = nullptr)
{
    ParaField d = edit(name, page, row, nullptr, min, max, place, type, scale, unitRow, shown);
    d.array = f;
    d.element = element;
    d.valueSlot = slot;
    return d;
}

ParaField check(const char *name, int page, int row, int32_t S::*f, QRect place,
                ParaShown shown = ParaShown::Always, ParaKind kind = ParaKind::Check)
{
    ParaField d = make(name, page, kind, row);
    d.scalar = f;
    d.place = place;
    d.shown = shown;
    return d;
}

ParaField button(const char *name, int page, int row, QRect place, void (W::*slot)())
{
    ParaField d = make(name, page, ParaKind::Button, row);
    d.place = place;
    d.clickSlot = slot;
    return d;
}

ParaField combo(const char *name, int page, int32_t S::*f, QRect place, ParaShown shown,
                std::vector<const char *> items, std::vector<int> itemRows = {})
{
    ParaField d = make(name, page, ParaKind::Combo, 0);
    d.scalar = f;
    d.place = place;
    d.shown = shown;
    d.items = std::move(items);
    d.itemRows = std::move(itemRows);
    return d;
}

ParaField comboAt(const char *name, int page, int32_t (S::*f)[8], int element, QRect place, ParaShown shown,
                  std::vector<const char *> items)
{
    ParaField d = combo(name, page, nullptr, place, shown, std::move(items));
    d.array = f;
    d.element = element;
    return d;
}

constexpr int kSeconds = 540; // "S" / "秒"
// Check boxes end before the control to their right, so that neither a touch nor a long label lands
// on the wrong widget: the "reordering" button at x 1550 (camera page), the second column at x 1400
// (camera page; that column itself ends at the screen's edge), the combos and buttons at x 1630 (I/O
// and advanced pages).
constexpr int kBeforeReordering = 610;
constexpr int kBesideSecondColumn = 460;
constexpr int kSecondColumn = 400;
constexpr int kBeforeRightControls = 690;
constexpr ParaShown kAlways = ParaShown::Always;
constexpr ParaShown kFactory = ParaShown::Factory;

std::vector<ParaField> buildTable()
{
    std::vector<ParaField> t;
    // Page 0, system.
    t.push_back(
        editAt("trigInDelay0", 0, 161, &S::trigInDelay, 0, 0, 10000, {30, 105, 900, 50}, 2, 10, kSeconds));
    t.push_back(
        editAt("trigInDelay1", 0, 162, &S::trigInDelay, 1, 0, 10000, {30, 165, 900, 50}, 2, 10, kSeconds));
    t.push_back(edit("reMoldTimes", 0, 167, &S::reMoldTimes, 0, 10, {30, 275, 900, 50}));
    t.push_back(edit("filterSize", 0, 22, &S::filterSize, 1, 10, {30, 395, 900, 50}, 0, 1, 0,
                     ParaShown::NotAllParams));
    t.push_back(edit("alarmArea", 0, 24, &S::alarmArea, 0, 1000, {30, 455, 900, 50}, 0, 1, 0,
                     ParaShown::NotAllParams));
    t.push_back(check("enableProdDetect", 0, 175, &S::enableProdDetect, {930, 115, 440, 50}));
    t.push_back(check("semiAuto", 0, 174, &S::semiAuto, {930, 175, 440, 50}));
    t.push_back(check("motionCorrect", 0, 176, &S::motionCorrect, {930, 235, 440, 50}, kAlways,
                      ParaKind::CheckMinusOne));
    // The label row is chosen at construction from the machine type in force (177 or 514).
    t.push_back(check("syncParams", 0, 177, &S::syncParams, {930, 295, 440, 50}));
    t.push_back(check("isPswUsed", 0, 170, &S::isPswUsed, {930, 355, 440, 50}));
    t.push_back(check("templateAutoUpdate", 0, 400, &S::templateAutoUpdate, {930, 415, 440, 50}));
    t.push_back(button("resetCount", 0, 172, {1640, 110, 150, 55}, &W::ResetTotal));
    t.push_back(button("shutDown", 0, 209, {1640, 240, 150, 55}, &W::SlotShutDown));

    // Page 1, camera; the boxes with a slot write the shown camera's element themselves.
    t.push_back(button("restoreDefaults", 1, 526, {220, 60, 120, 60}, &W::SlotRestoreDefaultSettings));
    t.push_back(button("autoExpose", 1, 500, {350, 60, 120, 60}, &W::SlotAutoExposeTime));
    t.push_back(button("displayModeButton", 1, 300, {650, 60, 120, 60}, &W::SlotChangeShowMode));
    t.push_back(button("switchCamera", 1, 163, {780, 60, 120, 60}, &W::SlotChangeCamera));
    t.push_back(button("reordering", 1, 396, {1550, 60, 200, 55}, &W::SlotTuneCamera));
    t.push_back(editAt("exposeTime", 1, 164, &S::exposeTime, -1, 1, 100, {30, 120, 900, 50}, 0, 1, 0,
                       kAlways, &W::SetExposeTime));
    t.push_back(editAt("adjustPlus", 1, 165, &S::adjustPlus, -1, 0, 64, {30, 180, 900, 50}, 0, 1, 0, kAlways,
                       &W::SetAdjust));
    t.push_back(
        editAt("sharp", 1, 241, &S::sharp, -1, 0, 100, {30, 240, 900, 50}, 0, 1, 0, kFactory, &W::SetSharp));
    t.push_back(editAt("contrast", 1, 242, &S::contrast, -1, 0, 200, {30, 300, 900, 50}, 0, 1, 0, kFactory,
                       &W::SetContrast));
    t.push_back(
        editAt("gamma", 1, 364, &S::gamma, -1, 0, 250, {30, 360, 900, 50}, 0, 1, 0, kFactory, &W::SetGamma));
    t.push_back(edit("frameSpeed", 1, 244, &S::frameSpeed, 0, 32, {30, 420, 900, 50}, 0, 1, 0, kFactory));
    t.push_back(editAt("distance", 1, 575, &S::distance, -1, 0, 300, {30, 480, 900, 50}, 0, 1, 0, kFactory,
                       &W::SetDistance));
    t.push_back(editAt("temperatureRange", 1, 581, &S::temperatureRange, -1, 0, 2, {30, 540, 900, 50}, 0, 1,
                       0, kFactory, &W::SetTemperature));
    t.push_back(check("autoWDR", 1, 388, &S::autoWDR, {930, 70, kBeforeReordering, 50}, kFactory));
    t.push_back(check("noLensOpt", 1, 337, &S::noLensOpt, {930, 130, 870, 50}, kFactory));
    t.push_back(check("colorCamera", 1, 270, &S::colorCamera, {930, 190, 870, 50}, kFactory));
    t.push_back(check("grayChannel", 1, 271, &S::grayChannel, {930, 250, 870, 50}, kFactory));
    t.push_back(check("useExtTrigger", 1, 519, &S::useExtTrigger, {930, 310, 870, 50}, kFactory));
    t.push_back(check("showAllParams", 1, 200, &S::showAllParams, {930, 370, 870, 50}, kFactory));
    t.push_back(check("enableDefectDetect", 1, 196, &S::enableDefectDetect, {930, 430, 870, 50}, kFactory));
    t.push_back(check("enableSpotDetect", 1, 197, &S::enableSpotDetect, {930, 490, 870, 50}, kFactory));
    t.push_back(check("enableIgnoreArea", 1, 198, &S::enableIgnoreArea, {930, 550, 870, 50}, kFactory));
    t.push_back(check("enableManualLocate", 1, 199, &S::enableManualLocate,
                      {930, 610, kBesideSecondColumn, 50}, kFactory));
    t.push_back(check("enableBlackArea", 1, 390, &S::enableBlackArea, {930, 670, kBesideSecondColumn, 50},
                      kFactory));
    t.push_back(check("enableWhiteArea", 1, 391, &S::enableWhiteArea, {930, 730, kBesideSecondColumn, 50},
                      kFactory));
    t.push_back(check("enableSimilarity", 1, 397, &S::enableSimilarity, {930, 790, kBesideSecondColumn, 50},
                      kFactory));
    t.push_back(
        check("enableWhiteNumber", 1, 520, &S::enableWhiteNumber, {1400, 610, kSecondColumn, 50}, kFactory));
    t.push_back(check("tempAlarm", 1, 570, &S::tempAlarm, {1400, 670, kSecondColumn, 50}, kFactory));
    t.push_back(
        check("matchBrightness", 1, 582, &S::matchBrightness, {1400, 730, kSecondColumn, 50}, kFactory));
    t.push_back(check("angleCorrect", 1, 583, &S::angleCorrect, {1400, 790, kSecondColumn, 50}, kFactory));

    // Page 3, I/O.
    t.push_back(edit("inputTimeout", 3, 336, &S::inputTimeout, 0, 10000, {30, 50, 900, 50}, 2, 1, kSeconds));
    t.push_back(
        edit("ejectorPulse", 3, 168, &S::ejectorPulse, 0, 1000, {30, 110, 900, 50}, 2, 10, kSeconds));
    t.push_back(edit("clampPulse", 3, 169, &S::clampPulse, 0, 1000, {30, 170, 900, 50}, 2, 10, kSeconds));
    t.push_back(edit("preCutTime", 3, 166, &S::preCutTime, 0, 100, {30, 230, 900, 50}, 2, 10, kSeconds));
    t.push_back(edit("debounceTime", 3, 524, &S::debounceTime, 0, 100, {30, 290, 900, 50}, 2, 10, kSeconds));
    t.push_back(combo("input4Use", 3, &S::input4Use, {765, 360, 130, 50}, kAlways,
                      {"    RSV", "   Open", "  Safety", "   Back"}));
    t.push_back(combo("output4Use", 3, &S::output4Use, {765, 420, 130, 50}, kAlways,
                      {"    RSV", "    Clmp", "    Thim", "    Alrm"}));
    for (int i = 0; i < 4; ++i) {
        static const char *const names[4] = {"outputInit0", "outputInit1", "outputInit2", "outputInit3"};
        t.push_back(comboAt(names[i], 3, &S::outputInit, i, {765, 480 + 60 * i, 130, 50}, kFactory,
                            {"  Break", "  Close"}));
    }
    t.push_back(check("stopClampOnStop", 3, 179, &S::stopClampOnStop, {930, 60, kBeforeRightControls, 50}));
    t.push_back(
        check("cutEjectorOnClamp", 3, 178, &S::cutEjectorOnClamp, {930, 120, kBeforeRightControls, 50}));
    t.push_back(
        check("noEjectorCtrlInProd", 3, 192, &S::noEjectorCtrlInProd, {930, 180, kBeforeRightControls, 50}));
    t.push_back(check("ejectorPulseOnProdNg", 3, 190, &S::ejectorPulseOnProdNg, {930, 240, 870, 50}));
    t.push_back(check("okNgPulse", 3, 202, &S::okNgPulse, {930, 300, 870, 50}));
    t.push_back(check("cutClampAfterMoldOk", 3, 193, &S::cutClampAfterMoldOk, {930, 360, 870, 50}));
    t.push_back(check("cutEjectorAfterProdOk", 3, 513, &S::cutEjectorAfterProdOk, {930, 420, 870, 50}));
    t.push_back(check("safetyDoorTrigger", 3, 265, &S::safetyDoorTrigger, {930, 480, 870, 50}));
    t.push_back(check("safetyDoorClearsAlarm", 3, 195, &S::safetyDoorClearsAlarm, {930, 540, 870, 50}));
    t.push_back(check("cutEjectorOnProdAlarm", 3, 515, &S::cutEjectorOnProdAlarm, {930, 600, 870, 50}));
    t.push_back(check("cutClampOnMoldAlarm", 3, 562, &S::cutClampOnMoldAlarm, {930, 660, 870, 50}));
    t.push_back(combo("ioPort", 3, &S::ioPort, {1630, 60, 160, 50}, kFactory,
                      {"  COM1", "  COM2", "  COM3", "  COM4", "  COM5", "  COM6", "  COM7", "  COM8"}));
    // The multiple-detection page opens from here; it has no other way in.
    t.push_back(button("multiDetectIo", 3, 499, {930, 730, 420, 60}, &W::SlotShowIOWidget));
    t.push_back(combo("machineTypeEdit", 3, &S::machineTypeEdit, {1630, 120, 160, 50}, kAlways, {},
                      {384, 385, 386}));
    t.push_back(combo("detectMold", 3, &S::detectMold, {1630, 180, 160, 50}, ParaShown::MoldChoice, {},
                      {376, 377, 383}));

    // Page 4, advanced: the value boxes and check boxes (the group and password controls are built
    // by the screen itself, they bind to no field).
    t.push_back(edit("maxOffset", 4, 213, &S::maxOffset, 1, 8000, {30, 310, 870, 50}));
    t.push_back(edit("diffAmplify", 4, 188, &S::diffAmplify, 0, 4, {30, 365, 870, 50}));
    t.push_back(edit("minSpot", 4, 181, &S::minSpot, 1, 20, {30, 420, 870, 50}));
    t.push_back(edit("rotateAngle", 4, 403, &S::rotateAngle, 0, 180, {30, 475, 870, 50}));
    ParaField screenOff =
        edit("screenOffTime", 4, 243, &S::screenOffTime, 30, 9999, {30, 530, 870, 50}, 0, 1, kSeconds);
    screenOff.zeroAllowed = true;
    t.push_back(screenOff);
    t.push_back(
        edit("autoLogoutTime", 4, 189, &S::autoLogoutTime, 0, 1000, {30, 585, 870, 50}, 0, 1, kSeconds));
    t.push_back(edit("templateNum", 4, 185, &S::templateNum, 1, 100, {30, 640, 870, 50}));
    t.push_back(edit("ngRecordMax", 4, 186, &S::ngRecordMax, 0, 500, {30, 695, 870, 50}));
    t.push_back(edit("okRecordMax", 4, 187, &S::okRecordMax, 0, 500, {30, 750, 870, 50}));
    t.push_back(check("showFactoryParam", 4, 254, &S::showFactoryParam, {930, 170, 870, 50}));
    t.push_back(check("showManualSnap", 4, 272, &S::showManualSnap, {930, 225, kBeforeRightControls, 50}));
    t.push_back(check("pswNoDetect", 4, 194, &S::pswNoDetect, {930, 280, kBeforeRightControls, 50}));
    t.push_back(check("pswAddTemplate", 4, 341, &S::pswAddTemplate, {930, 335, kBeforeRightControls, 50}));
    t.push_back(check("pswStopDetect", 4, 556, &S::pswStopDetect, {930, 390, 870, 50}));
    t.push_back(check("ngTemplate", 4, 457, &S::ngTemplate, {930, 500, 870, 50}));
    t.push_back(check("showRoiLive", 4, 470, &S::showRoiLive, {930, 555, 870, 50}));
    t.push_back(check("enableStatistics", 4, 675, &S::enableStatistics, {930, 610, 720, 50}));
    t.push_back(check("useLog", 4, 558, &S::useLog, {930, 665, 870, 50}));
    t.push_back(check("tempWaveform", 4, 579, &S::tempWaveform, {930, 720, 870, 50}));
    t.push_back(button("restoreFactorySet", 4, 551, {1630, 225, 150, 50}, &W::SlotRestoreFactorySet));
    t.push_back(button("versionLibrary", 4, 615, {1630, 280, 150, 50}, &W::SlotToVerion));
    t.push_back(button("paraGroupBackup", 4, 182, {297, 115, 150, 60}, &W::SlotParaGroupBackup));
    t.push_back(button("paraGroupRestore", 4, 183, {297, 180, 150, 60}, &W::SlotParaGroupRestore));
    t.push_back(button("paraGroupDelete", 4, 184, {297, 245, 150, 60}, &W::SlotParaGroupDelete));
    t.push_back(button("exportData", 4, 326, {560, 115, 150, 60}, &W::SlotExportData));
    t.push_back(button("updateApp", 4, 325, {560, 180, 150, 60}, &W::SlotUpdateApp));
    t.push_back(button("modifyTime", 4, 401, {560, 245, 150, 60}, &W::SlotModifyTime));
    t.push_back(button("opRecord", 4, 206, {720, 115, 150, 60}, &W::SlotToRecord));
    t.push_back(button("exit", 4, 210, {720, 180, 150, 60}, &W::SlotExit));
    t.push_back(button("calibrate", 4, 458, {720, 245, 150, 60}, &W::SlotCalibration));
    t.push_back(button("changePwd", 4, 171, {1630, 115, 150, 50}, &W::ChangePwd));
    // The hardware list ("conf.txt"); nothing else of the screens opens it.
    t.push_back(button("hardwareConfig", 4, 720, {1630, 335, 150, 50}, &W::SlotShowHardware));
    return t;
}

} // namespace

const std::vector<ParaField> &paraFields()
{
    static const std::vector<ParaField> table = buildTable();
    return table;
}

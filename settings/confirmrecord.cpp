#include "confirmrecord.h"

#include "core/uitexttable.h"

#include <cstring>

namespace {

// Fragment kinds of the record line.
enum class Frag
{
    Value,
    Switch,
    MotionSwitch,
    ClampSwitch
};

struct Fragment
{
    int32_t SysParam::*scalar;
    int32_t (SysParam::*array)[8];
    int element;
    Frag kind;
    int labelRow;
};

using S = SysParam;

// Rows 6-10, then 12-62 of the record order; 1-3 (delays, re-detection), 11 (cameras) and 63 (password)
// have texts of their own and are written in place.
const Fragment kBeforeCameras[] = {
    {&S::filterSize, nullptr, 0, Frag::Value, 22},
    {&S::alarmArea, nullptr, 0, Frag::Value, 24},
    {&S::semiAuto, nullptr, 0, Frag::Switch, 174},
    {&S::enableProdDetect, nullptr, 0, Frag::Switch, 175},
    {&S::motionCorrect, nullptr, 0, Frag::MotionSwitch, 176},
    {&S::syncParams, nullptr, 0, Frag::Switch, 177},
    {&S::templateAutoUpdate, nullptr, 0, Frag::Switch, 400},
};

const Fragment kAfterCameras[] = {
    {&S::frameSpeed, nullptr, 0, Frag::Value, 244},
    {&S::colorCamera, nullptr, 0, Frag::Switch, 270},
    {&S::grayChannel, nullptr, 0, Frag::Switch, 271},
    {&S::autoExp, nullptr, 0, Frag::Switch, 387},
    {&S::matchBrightness, nullptr, 0, Frag::Switch, 582},
    {&S::autoWDR, nullptr, 0, Frag::Switch, 388},
    {&S::noLensOpt, nullptr, 0, Frag::Switch, 337},
    {&S::useExtTrigger, nullptr, 0, Frag::Switch, 519},
    {&S::enableDefectDetect, nullptr, 0, Frag::Switch, 196},
    {&S::enableSpotDetect, nullptr, 0, Frag::Switch, 197},
    {&S::enableIgnoreArea, nullptr, 0, Frag::Switch, 198},
    {&S::enableManualLocate, nullptr, 0, Frag::Switch, 199},
    {&S::angleCorrect, nullptr, 0, Frag::Switch, 583},
    {&S::showAllParams, nullptr, 0, Frag::Switch, 200},
    {&S::enableBlackArea, nullptr, 0, Frag::Switch, 390},
    {&S::enableWhiteArea, nullptr, 0, Frag::Switch, 391},
    {&S::enableWhiteNumber, nullptr, 0, Frag::Switch, 520},
    {&S::enableSimilarity, nullptr, 0, Frag::Switch, 397},
    {&S::tempAlarm, nullptr, 0, Frag::Switch, 570},
    {&S::ioPort, nullptr, 0, Frag::Value, 269},
    {&S::inputTimeout, nullptr, 0, Frag::Value, 336},
    {&S::preCutTime, nullptr, 0, Frag::Value, 166},
    {&S::ejectorPulse, nullptr, 0, Frag::Value, 168},
    {&S::clampPulse, nullptr, 0, Frag::Value, 169},
    {&S::input4Use, nullptr, 0, Frag::Value, 203},
    {&S::output4Use, nullptr, 0, Frag::Value, 334},
    {nullptr, &S::outputInit, 0, Frag::Value, 273},
    {nullptr, &S::outputInit, 1, Frag::Value, 274},
    {nullptr, &S::outputInit, 2, Frag::Value, 275},
    {nullptr, &S::outputInit, 3, Frag::Value, 281},
    // The inspected-mould choice has no caption on its page; its fragment names it "Inspected mould".
    {&S::detectMold, nullptr, 0, Frag::Value, 676},
    {&S::cutEjectorOnClamp, nullptr, 0, Frag::Switch, 178},
    {&S::stopClampOnStop, nullptr, 0, Frag::ClampSwitch, 179},
    {&S::noEjectorCtrlInProd, nullptr, 0, Frag::Switch, 192},
    {&S::ejectorPulseOnProdNg, nullptr, 0, Frag::Switch, 190},
    {&S::cutClampAfterMoldOk, nullptr, 0, Frag::Switch, 193},
    {&S::safetyDoorClearsAlarm, nullptr, 0, Frag::Switch, 195},
    {&S::safetyDoorTrigger, nullptr, 0, Frag::Switch, 265},
    {&S::okNgPulse, nullptr, 0, Frag::Switch, 202},
    {&S::templateNum, nullptr, 0, Frag::Value, 185},
    {&S::ngRecordMax, nullptr, 0, Frag::Value, 186},
    {&S::okRecordMax, nullptr, 0, Frag::Value, 187},
    {&S::diffAmplify, nullptr, 0, Frag::Value, 188},
    {&S::autoLogoutTime, nullptr, 0, Frag::Value, 189},
    {&S::maxOffset, nullptr, 0, Frag::Value, 213},
    {&S::screenOffTime, nullptr, 0, Frag::Value, 243},
    {&S::minSpot, nullptr, 0, Frag::Value, 181},
    {&S::rotateAngle, nullptr, 0, Frag::Value, 403},
    {&S::pswNoDetect, nullptr, 0, Frag::Switch, 194},
    {&S::pswAddTemplate, nullptr, 0, Frag::Switch, 341},
    {&S::isPswUsed, nullptr, 0, Frag::Switch, 170},
};

int32_t valueOf(const SysParam &p, const Fragment &f)
{
    return f.scalar ? p.*f.scalar : (p.*f.array)[f.element];
}

void append(QString &line, const SysParam &a, const SysParam &b, const Fragment &f)
{
    const int32_t old = valueOf(a, f);
    const int32_t now = valueOf(b, f);
    if (old == now)
        return;
    switch (f.kind) {
    case Frag::Value:
        line += uiText(245).arg(uiText(f.labelRow), QString::number(old), QString::number(now));
        break;
    case Frag::Switch:
        line += uiText(240).arg(uiText(f.labelRow)) + uiText(now != 0 ? 250 : 251);
        break;
    case Frag::MotionSwitch: // -1 is "off", 0 is "on"
        line += uiText(240).arg(uiText(f.labelRow)) + uiText(now != 0 ? 251 : 250);
        break;
    case Frag::ClampSwitch:
        line += uiText(240).arg(uiText(f.labelRow)) + uiText(now != 0 ? 252 : 253);
        break;
    }
}

} // namespace

QString buildConfirmRecord(const SysParam &a, const SysParam &b)
{
    QString line = uiText(235);
    if (a.trigInDelay[0] != b.trigInDelay[0])
        line += uiText(236).arg(uiText(263), QString::number(a.trigInDelay[0]),
                                QString::number(b.trigInDelay[0]));
    if (a.trigInDelay[1] != b.trigInDelay[1])
        line += uiText(236).arg(uiText(264), QString::number(a.trigInDelay[1]),
                                QString::number(b.trigInDelay[1]));
    if (a.reMoldTimes != b.reMoldTimes)
        line += uiText(239).arg(uiText(264), QString::number(a.reMoldTimes), QString::number(b.reMoldTimes));
    for (const Fragment &f : kBeforeCameras)
        append(line, a, b, f);

    struct CameraText
    {
        int32_t (SysParam::*field)[8];
        int row;
    };
    const CameraText cameraTexts[] = {{&S::exposeTime, 237},      {&S::adjustPlus, 238}, {&S::sharp, 246},
                                      {&S::contrast, 247},        {&S::gamma, 365},      {&S::distance, 576},
                                      {&S::temperatureRange, 577}};
    for (int c = 0; c < 8; ++c)
        for (const CameraText &t : cameraTexts)
            if ((a.*t.field)[c] != (b.*t.field)[c])
                line += uiText(t.row).arg(QString::number(c + 1), QString::number((a.*t.field)[c]),
                                          QString::number((b.*t.field)[c]));

    for (const Fragment &f : kAfterCameras)
        append(line, a, b, f);

    if (std::strncmp(a.password, b.password, sizeof a.password) != 0)
        line += uiText(249);
    return line;
}

// Live camera tuning on the camera page: the boxes write the working copy and reach the camera at once.
#include "wizardparawidget.h"

#include "settingshooks.h"

#include "cameras/camerainterface.h"
#include "cameraview/cammerwidget.h"
#include "core/startup.h"
#include "core/uitexttable.h"
#include "widgets/checkbox.h"
#include "widgets/choosebox.h"
#include "widgets/colorbutton.h"
#include "widgets/editbox.h"

#include <QJsonObject>
#include <QTimer>
#include <cmath>

namespace {

CammerWidget *viewOf(int camera)
{
    if (camera < 0 || camera >= 8 || camera >= gCameraCount || !settingsHooks().cameraView)
        return nullptr;
    return settingsHooks().cameraView(camera);
}

// Writes the shown camera's element of a per-camera field; a camera index out of 0..7 writes nothing.
bool storeCameraValue(int32_t (SysParam::*field)[8], int camera, int value)
{
    if (!gSysParamEdit || camera < 0 || camera >= 8)
        return false;
    (gSysParamEdit->*field)[camera] = value;
    return true;
}

} // namespace

void WizardParaWidget::SetExposeTime(int value)
{
    if (storeCameraValue(&SysParam::exposeTime, cameraIndex, value))
        if (CammerWidget *view = viewOf(cameraIndex))
            view->applyExposure();
}

void WizardParaWidget::SetAdjust(int value)
{
    if (storeCameraValue(&SysParam::adjustPlus, cameraIndex, value))
        if (CammerWidget *view = viewOf(cameraIndex))
            view->applyGain();
}

void WizardParaWidget::SetSharp(int value)
{
    if (storeCameraValue(&SysParam::sharp, cameraIndex, value))
        if (CammerWidget *view = viewOf(cameraIndex))
            view->applySharpness();
}

void WizardParaWidget::SetContrast(int value)
{
    if (storeCameraValue(&SysParam::contrast, cameraIndex, value))
        if (CammerWidget *view = viewOf(cameraIndex))
            view->applyContrast();
}

void WizardParaWidget::SetGamma(int value)
{
    if (storeCameraValue(&SysParam::gamma, cameraIndex, value))
        if (CammerWidget *view = viewOf(cameraIndex))
            view->applyGamma();
}

void WizardParaWidget::SetDistance(int value)
{
    storeCameraValue(&SysParam::distance, cameraIndex, value);
}

void WizardParaWidget::SetTemperature(int value)
{
    storeCameraValue(&SysParam::temperatureRange, cameraIndex, value);
}

void WizardParaWidget::SetAutoWDR(int state)
{
    if (!gSysParamEdit)
        return;
    gSysParamEdit->autoWDR = state;
    for (int i = 0; i < gCameraCount && i < 8; ++i)
        if (CammerWidget *view = viewOf(i))
            view->applyExposure();
}

void WizardParaWidget::SetAutoExp(int value)
{
    if (!gSysParamEdit)
        return;
    gSysParamEdit->autoExp = value;
    for (int i = 0; i < gCameraCount && i < 8; ++i)
        if (CammerWidget *view = viewOf(i))
            view->applyExposure();
}

int WizardParaWidget::GetoutSet()
{
    return cameraIndex;
}

void WizardParaWidget::on_checkBox_high_warm_clicked(bool checked)
{
    if (settingsHooks().highWarm)
        settingsHooks().highWarm(checked);
}

void WizardParaWidget::color_mode_actived(int) {}

void WizardParaWidget::SlotChangeCamera()
{
    // No camera at all: stepping would pick a camera that does not exist.
    if (gCameraCount <= 1)
        return;
    cameraIndex = cameraIndex + 1 >= gCameraCount || cameraIndex + 1 >= 8 ? 0 : cameraIndex + 1;
    if (settingsHooks().showCamera)
        settingsHooks().showCamera(cameraIndex);
    loadCameraBoxes(cameraIndex);
    update();
}

void WizardParaWidget::SlotAutoExposeTime()
{
    autoExposeTimer->start(2000);
    autoExposeCamera = cameraIndex; // the camera asked, whatever is shown when the timer fires
    if (CammerWidget *view = viewOf(cameraIndex))
        if (CameraInterface *camera = view->cameraObject())
            camera->setAutoExposure(true);
}

void WizardParaWidget::SlotAutoExposeTimeTimeout()
{
    autoExposeTimer->stop();
    const int camera = autoExposeCamera;
    CammerWidget *view = viewOf(camera);
    CameraInterface *backend = view ? view->cameraObject() : nullptr;
    if (!backend || !gSysParamEdit)
        return;
    const QJsonObject result = backend->setAutoExposure(false);
    const QJsonValue exposure = result.value(QStringLiteral("ExposureTime"));
    if (exposure.isDouble()) {
        // What the camera settled on, brought into the exposure box's 1..100 ms; a reading that is
        // not a number keeps what was in force.
        const double ms = std::trunc(exposure.toDouble() / 1000.0);
        if (std::isfinite(ms))
            gSysParamEdit->exposeTime[camera] = static_cast<int>(qBound(1.0, ms, 100.0));
    }
    if (result.contains(QStringLiteral("Gain"))) {
        const double gain = result.value(QStringLiteral("Gain")).toDouble(-1);
        if (std::isfinite(gain) && gain >= 0 && gain <= 64)
            gSysParamEdit->adjustPlus[camera] = static_cast<int>(gain);
    }
    if (camera == cameraIndex && isVisible()) {
        exposureBox->setValue(gSysParamEdit->exposeTime[camera]);
        gainBox->setValue(gSysParamEdit->adjustPlus[camera]);
    } else {
        // Another camera is shown now: send the settled values to the camera that measured them.
        view->applyExposure();
        view->applyGain();
    }
    update();
}

void WizardParaWidget::SlotRestoreDefaultSettings()
{
    if (!gChooseBox)
        return;
    gChooseBox->setMessage(uiText(527));
    if (gChooseBox->exec() != 1)
        return;
    if (CammerWidget *view = viewOf(cameraIndex))
        view->loadCameraParameters();
    loadCameraBoxes(cameraIndex);
    if (auto *speed = qobject_cast<EditBox *>(fieldWidget(QStringLiteral("frameSpeed"))))
        speed->setValue(gSysParamEdit->frameSpeed);
}

void WizardParaWidget::SlotChangeShowMode()
{
    simpleDisplay = !simpleDisplay;
    static const char *const hiddenInSimple[] = {
        "frameSpeed",    "colorCamera",        "grayChannel",      "useExtTrigger",     "autoWDR",
        "noLensOpt",     "enableDefectDetect", "enableSpotDetect", "enableIgnoreArea",  "enableManualLocate",
        "showAllParams", "enableWhiteArea",    "enableBlackArea",  "enableWhiteNumber", "enableSimilarity",
        "tempAlarm",     "matchBrightness",    "angleCorrect"};
    QWidget *reordering = fieldWidget(QStringLiteral("reordering"));
    if (simpleDisplay) {
        displayModeButton->setText(uiText(299));
        for (ColorButton *b : tabButtons)
            b->hide();
        reordering->hide();
        for (const char *name : hiddenInSimple)
            fieldWidget(QString::fromLatin1(name))->hide();
        if (settingsHooks().showCamera)
            settingsHooks().showCamera(cameraIndex);
    } else {
        displayModeButton->setText(uiText(300));
        for (ColorButton *b : tabButtons)
            b->show();
        reordering->show();
        if (showFactoryParamBox->isChecked())
            for (const char *name : hiddenInSimple)
                fieldWidget(QString::fromLatin1(name))->show();
    }
    update();
    if (parentWidget())
        parentWidget()->update();
}

#include "confirmactions.h"

#include "settingshooks.h"

#include "cameraview/cammerwidget.h"
#include "inspection/cameradetector.h"
#include "inspection/cammersingleton.h"

namespace {

CammerWidget *view(int camera)
{
    return settingsHooks().cameraView ? settingsHooks().cameraView(camera) : nullptr;
}

} // namespace

ConfirmActions::ConfirmActions()
{
    apply = [](int c, CameraSetting s) {
        CammerWidget *v = view(c);
        if (!v)
            return;
        switch (s) {
        case CameraSetting::Exposure:
            v->applyExposure();
            break;
        case CameraSetting::Gain:
            v->applyGain();
            break;
        case CameraSetting::Sharpness:
            v->applySharpness();
            break;
        case CameraSetting::Contrast:
            v->applyContrast();
            break;
        case CameraSetting::Gamma:
            v->applyGamma();
            break;
        }
    };
    triggerModeOff = [](int c) {
        if (CammerWidget *v = view(c))
            v->setTriggerMode(0, c);
    };
    createPositionTemplate = [](int c, int s) {
        if (CammerWidget *v = view(c); v && v->detector)
            v->detector->createPositionTemplate(s);
    };
    buildRegistrationTemplate = [](int c, int s) {
        if (CammerWidget *v = view(c); v && v->detector)
            v->detector->buildRegistrationTemplate(s);
    };
    trainTemplates = [](int c, int s) {
        if (CammerWidget *v = view(c); v && v->detector)
            v->detector->trainTemplates(s);
    };
    copyPara = [](int c) {
        if (CammerWidget *v = view(c))
            v->CopyPara();
    };
    saveRegions = [](int c) {
        CammerWidget *v = view(c);
        return !v || !v->liveTable || v->liveTable->saveRoiTable();
    };
    updateView = [](int c) {
        if (CammerWidget *v = view(c))
            v->update();
    };
}

ConfirmActions &confirmActions()
{
    static ConfirmActions actions;
    return actions;
}

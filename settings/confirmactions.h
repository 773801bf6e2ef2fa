#pragma once
// What Confirm does to the cameras, the detectors and the main window, by camera index. The defaults
// act on the main window's camera views (through settingsHooks().cameraView; a missing view is
// skipped); tests replace them with recorders. GUI thread only.

#include <QString>
#include <functional>

enum class CameraSetting
{
    Exposure,
    Gain,
    Sharpness,
    Contrast,
    Gamma
};

struct ConfirmActions
{
    ConfirmActions();
    std::function<void(int camera, CameraSetting setting)> apply;
    std::function<void(int camera)> triggerModeOff;
    std::function<void(int camera, int slot)> createPositionTemplate;
    std::function<void(int camera, int slot)> buildRegistrationTemplate;
    std::function<void(int camera, int slot)> trainTemplates;
    // CopyPara on the view, then the live region table saved.
    std::function<void(int camera)> copyPara;
    std::function<void(int camera)> updateView;
    // The main window's side of Confirm.
    std::function<void(const QString &line)> insertRecord;
    std::function<void()> applyFrameSpeedToAll;
    // The menu bar's IndexButton::updateVisibility(0).
    std::function<void()> updateMenuVisibility;
    std::function<int *()> loginLevel;
};

ConfirmActions &confirmActions();

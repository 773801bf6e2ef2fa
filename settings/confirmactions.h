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
    // CopyPara on the view: the live region table's slots copied in memory.
    std::function<void(int camera)> copyPara;
    // The view's live region table written to PARAM.db (inside the Confirm's transaction); false when
    // it was not. A camera without a view or table has nothing to write.
    std::function<bool(int camera)> saveRegions;
    std::function<void(int camera)> updateView;
    // The main window's side of Confirm.
    std::function<void(const QString &line)> insertRecord;
    std::function<void()> applyFrameSpeedToAll;
    // The menu bar's IndexButton::updateVisibility(0).
    std::function<void()> updateMenuVisibility;
    std::function<int *()> loginLevel;
};

ConfirmActions &confirmActions();

#pragma once
// What the settings screen needs of the main window, which sits above it: installed by the main
// window at start-up, empty (harmless) in tests that build the screen alone. GUI thread only.

#include <functional>

class CammerWidget;

struct SettingsHooks
{
    // Login level 2, or the password box run once and the level tested again.
    std::function<bool()> isAdvancedUser;
    // The main window's "save all frames as test images" flag; null while there is none.
    std::function<bool *()> saveFrameImages;
    // 1 - noLensOpt as taken at start (the version letter "Q" or "V").
    const int *lensOptEnabled = nullptr;
    // The main window's view of camera `index` (0-based), null when there is none.
    std::function<CammerWidget *(int index)> cameraView;
    // Shows camera `index` large in the main window (shownCamera, ChangeCammer).
    std::function<void(int index)> showCamera;
    // Two flags of the main window that nothing reads (temperature alarm box, colour mode).
    std::function<void(bool)> highWarm;

    // Closes the databases before the box restarts (USB update, group restore): DeVeWizard::FLushAll.
    std::function<void()> flushAll;
    // MApplication::stopLongPressTimer: a press that opened a network dialog must not end as a long
    // press once the dialog is gone.
    std::function<void()> stopLongPressTimer;
};

SettingsHooks &settingsHooks();

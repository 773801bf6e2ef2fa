#pragma once
// What the region editor and the camera views call back in the machine cycle and the main window,
// which live above this library: the main window installs the hooks at start-up and removes them when
// it goes; an empty hook is skipped (a getter then reads 0). GUI thread.

#include <QJsonObject>

#include <functional>

struct EditorCycleHooks
{
    std::function<void(int camera, int slot)> RunAlgorithm; // one camera detected again
    std::function<void()> CheckNG;                          // the running slot's result combined
    std::function<void()> BackTrain;                        // end of the area check after learning
    std::function<int &(int camera, int slot)> imageState;  // result-image state, codes 4 to 10 here
    std::function<void()> cameraLostAlarm;                  // a view's camera was lost
    std::function<int()> currentSlot;                       // DeVeWizard::currentSlot
    std::function<int &()> alarmState;                      // DeVeWizard::alarmState, read and set
    std::function<void()> ChangeCammer;                     // lay the camera views out again
    std::function<void()> editorClosed;                     // the editor's page was hidden
    // QOR_NETMN::sendSyncTempList on the report link with {"camera", "detect"}.
    std::function<void(const QJsonObject &info)> sendSyncTempList;
};

// The hooks in force; empty until the main window installs them.
EditorCycleHooks &editorCycleHooks();

// The region editor is open for the area check after learning; results are ignored meanwhile. Set
// by the learning step, cleared by the editor when it returns.
extern bool gAreaCheckActive;

#pragma once
// What the region editor and the camera views call back in the machine cycle, which lives above this
// library: the main window installs the hooks at start-up and removes them when it goes. GUI thread.

#include <functional>

struct EditorCycleHooks
{
    std::function<void(int camera, int slot)> RunAlgorithm; // one camera detected again
    std::function<void()> CheckNG;                          // the running slot's result combined
    std::function<void()> BackTrain;                        // end of the area check after learning
    std::function<int &(int camera, int slot)> imageState;  // result-image state, codes 4 to 10 here
    std::function<void()> cameraLostAlarm;                  // a view's camera was lost
};

// The hooks in force; empty until the main window installs them.
EditorCycleHooks &editorCycleHooks();

// The region editor is open for the area check after learning; results are ignored meanwhile. Set
// by the learning step, cleared by the editor when it returns.
extern bool gAreaCheckActive;

#pragma once
// What the camera views read of and call on the main window, which sits above them: the zoom of the
// enlarged view, the point last touched, the menu bar, whether the settings screen is open, the lost
// camera alarm, the running countdown and where the status strip covers the views. The main window
// installs the functions at start-up and removes them when it goes; an empty function means "not
// there": no zoom, no settings screen, nothing to call. Install and call on the GUI thread only.

#include <functional>

// The zoom of the one enlarged camera view: picture point p is drawn at p * scale + offset (screen
// pixels).
struct ViewZoom
{
    double scale = 1.0;
    double offsetX = 0.0;
    double offsetY = 0.0;
};

struct CameraViewHooks
{
    // DeVeWizard::zoomScale, zoomOffsetX, zoomOffsetY.
    std::function<ViewZoom()> zoom;
    // Writes DeVeWizard::zoomAnchorX and zoomAnchorY: the point zooming keeps in place.
    std::function<void(int x, int y)> setZoomAnchor;
    // A touch on a camera view: restarts the menu bar's hide timer and brings the bar back.
    std::function<void()> showMenuBar;
    // Whether DeVeWizard::paraWidget (the settings screen) is visible: the views then take their
    // camera values from gSysParamEdit instead of gSysParam.
    std::function<bool()> settingsVisible;
    // DeVeWizard::cameraLostAlarm, called once when a view's camera stops answering.
    std::function<void()> cameraLostAlarm;
    // Camera `camera`'s verdict in the result the main window is displaying (its 2000 ms result
    // display of the slot shown): 1 OK, 0 NG, -1 while no result is displayed.
    std::function<int(int camera)> shownVerdict;
    // Seconds left of the running detection countdown, below 0 while none runs.
    std::function<double()> countdown;
    // True once the machine cycle's poll grabs the frames of every view. Until then each view takes
    // its camera's newest frame itself, ten times a second, so that the box shows its cameras live.
    std::function<bool()> cyclePollsFrames;
    // The first row of the main window that its status strip covers (window coordinates), over the
    // foot of the bottom row of views: their counters and template-time lines are drawn above it.
    std::function<int()> statusStripTop;
};

// The one set of hooks of the process. GUI thread.
CameraViewHooks &cameraViewHooks();

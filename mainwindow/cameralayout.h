#pragma once
// Where the camera views go on the main screen: all cameras tiled, or one camera full screen.
// Pure computation, any thread; DeVeWizard::ChangeCammer applies it (cameralayout.cpp).

#include <QRect>
#include <QSize>

struct CameraLayout
{
    QRect cells[8];        // screen rectangle of each view; empty for a view not shown
    QSize cell;            // size of one cell
    int shownCamera = 0;   // the shown camera after the rules (count = all tiled)
    int zoomButtonMode = 0; // 1 when one camera fills the screen (enlarge offered), else 0
};

// The layout of `cameraCount` views (1..8) on a `screenW` x `screenH` screen with `shownCamera` alone
// (a value outside 0..cameraCount-1 means all tiled). Cells follow integer division: five or six
// cameras get cells one pixel wider than a third, so the third column ends past the screen's edge
// (the window clips it). No camera: nothing is placed.
CameraLayout cameraLayout(int cameraCount, int shownCamera, int screenW, int screenH);

// Zoom limits of the enlarged view.
constexpr double kZoomStep = 1.2;
constexpr double kZoomMax = 32.0;
// A reduction below this snaps back to the whole picture.
constexpr double kZoomSnap = 1.1;
// The zoom buttons fold back this long after their last use.
constexpr int kZoomButtonsMs = 30000;

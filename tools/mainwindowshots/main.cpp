// Usage: mainwindowshots <output prefix>
// Run in a laid-out working directory (images/, databases, simcam/<n>/ folders) on the screen to be
// shown. Builds the main window as the box does, lets the cameras deliver for a moment and saves
// <prefix>-tiled.png (all cameras) and <prefix>-zoom.png (camera 1 alone with its zoom buttons open).
// The start-up questions are answered "no", so nothing of the folder's serials is changed.

#include "boxtestpolicy.h"
#include "cammerwidget.h"
#include "devewizard.h"
#include "shotcommon.h"
#include "startup.h"
#include "uitexttable.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (!checkShotUsage(argc, 2, "mainwindowshots <output prefix>"))
        return 2;
    const QString prefix = QString::fromLocal8Bit(argv[1]);
    BoxTestPolicy::enable(0);
    createProcessMutexes();
    fillUiTextTable();
    loadUiPixmaps();
    auto *window = new DeVeWizard;
    window->showFullScreen();
    settleFor(2500);
    bool ok = saveScreen(prefix + QStringLiteral("-tiled.png"));
    // The views paint their pictures themselves; their places are listed for the reader of the shots.
    for (int i = 0; i < gCameraCount; ++i) {
        const QRect r = window->cammerWidgets[i]->geometry();
        std::printf("  view %d at x %d..%d, y %d..%d\n", i, r.left(), r.right(), r.top(), r.bottom());
    }
    if (gCameraCount > 0) {
        window->shownCamera = 0;
        window->ChangeCammer();
        window->MEnlargeScale();
        settleFor(1000);
        ok = saveScreen(prefix + QStringLiteral("-zoom.png")) && ok;
    }
    delete window;
    return ok ? 0 : 1;
}

// Usage: menubarshots <output prefix> <language 0..3>
// Run in a laid-out working directory (images/, databases, simcam/<n>/ folders) on a 1920 x 1080
// screen. Stores the language and switches on every optional button of the menu bar (statistics,
// both snapshots, temperature chart) in the folder's PARAM.db, builds the main window as the box does,
// opens the bar with a touch on a camera view and saves <prefix>-menubar.png (detection running) and
// <prefix>-menubar-stopped.png (the start/stop button after a stop). Start-up questions answer "no".

#include "boxtestpolicy.h"
#include "cameraviewhooks.h"
#include "devewizard.h"
#include "indexbutton.h"
#include "machinecycle.h"
#include "shotcommon.h"
#include "shotparams.h"
#include "startup.h"
#include "uitexttable.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    useBoxFont();
    if (!checkShotUsage(argc, 3, "menubarshots <output prefix> <language 0..3>"))
        return 2;
    const QString prefix = QString::fromLocal8Bit(argv[1]);
    const int language = languageArgument(argv[2]);
    handleModalBoxes(prefix, 0);
    createProcessMutexes();
    fillUiTextTable();
    loadUiPixmaps();
    if (!storeShotParameters(language, true)) {
        std::fprintf(stderr, "PARAM.db of the working directory could not be prepared\n");
        return 1;
    }
    auto *window = new DeVeWizard;
    window->showFullScreen();
    settleFor(2500);
    cameraViewHooks().showMenuBar();
    settleFor(500);
    bool ok = saveScreen(prefix + QStringLiteral("-menubar.png"));
    const QRect bar = window->indexButton->geometry();
    std::printf("  bar at x %d..%d, y %d..%d\n", bar.left(), bar.right(), bar.top(), bar.bottom());
    window->machineCycle->StopDetect();
    settleFor(500);
    ok = saveScreen(prefix + QStringLiteral("-menubar-stopped.png")) && ok;
    delete window;
    return ok ? 0 : 1;
}

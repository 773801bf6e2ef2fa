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
#include "paramstore.h"
#include "shotcommon.h"
#include "startup.h"
#include "sysparam.h"
#include "uitexttable.h"

#include <QApplication>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <cstdio>

namespace {

// Through the parameter store itself, so the values land where the window's loader reads them.
bool storeShotParameters(int language)
{
    bool ok = false;
    {
        QSqlDatabase param =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("shotParam"));
        param.setDatabaseName(QStringLiteral("PARAM.db"));
        QSqlDatabase sn = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("shotSn"));
        sn.setDatabaseName(QStringLiteral("SN.db"));
        if (param.open() && sn.open()) {
            QSqlQuery paramQuery(param);
            QSqlQuery snQuery(sn);
            SysParam p;
            loadSysParam(&p, paramQuery, snQuery);
            gLanguage = language;
            p.enableStatistics = 1;
            p.showManualSnap = 1;
            p.enableProdDetect = 1;
            p.tempWaveform = 1;
            ok = saveSysParam(&p, paramQuery);
        }
        param.close();
        sn.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("shotParam"));
    QSqlDatabase::removeDatabase(QStringLiteral("shotSn"));
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (!checkShotUsage(argc, 3, "menubarshots <output prefix> <language 0..3>"))
        return 2;
    const QString prefix = QString::fromLocal8Bit(argv[1]);
    const int language = languageArgument(argv[2]);
    BoxTestPolicy::enable(0);
    createProcessMutexes();
    fillUiTextTable();
    loadUiPixmaps();
    if (!storeShotParameters(language)) {
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

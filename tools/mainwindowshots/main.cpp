// Usage: mainwindowshots <output prefix>
// Run in a laid-out working directory (images/, databases, simcam/<n>/ folders) on the screen to be
// shown. Builds the main window as the box does, lets the cameras deliver for a moment and saves
// <prefix>-tiled.png (all cameras) and <prefix>-zoom.png (camera 1 alone with its zoom buttons open).
// The start-up questions are answered "no", so nothing of the folder's serials is changed.

#include "boxtestpolicy.h"
#include "cammerwidget.h"
#include "devewizard.h"
#include "startup.h"
#include "uitexttable.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScreen>

#include <cstdio>

namespace {

void settle(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

bool shoot(const QString &file)
{
    const bool ok = QGuiApplication::primaryScreen()->grabWindow(0).save(file);
    std::printf("%s %s\n", ok ? "saved" : "NOT saved", qPrintable(file));
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: mainwindowshots <output prefix>\n");
        return 2;
    }
    const QString prefix = QString::fromLocal8Bit(argv[1]);
    BoxTestPolicy::enable(0);
    createProcessMutexes();
    fillUiTextTable();
    loadUiPixmaps();
    auto *window = new DeVeWizard;
    window->showFullScreen();
    settle(2500);
    bool ok = shoot(prefix + QStringLiteral("-tiled.png"));
    // The views paint their pictures themselves; their places are listed for the reader of the shots.
    for (int i = 0; i < gCameraCount; ++i) {
        const QRect r = window->cammerWidgets[i]->geometry();
        std::printf("  view %d at x %d..%d, y %d..%d\n", i, r.left(), r.right(), r.top(), r.bottom());
    }
    if (gCameraCount > 0) {
        window->shownCamera = 0;
        window->ChangeCammer();
        window->MEnlargeScale();
        settle(1000);
        ok = shoot(prefix + QStringLiteral("-zoom.png")) && ok;
    }
    delete window;
    return ok ? 0 : 1;
}

// Start-up of the box: from the bare process to the running main window and I/O thread.

#include "controlport.h"
#include "devewizard.h"
#include "logmanager.h"
#include "mapplication.h"
#include "quitsignals.h"
#include "startup.h"
#include "uitexttable.h"

#include <QDebug>
#include <QTextCodec>

namespace {

// The report link to the local reporting process: created here and its helper processes restarted,
// before the main window exists, once the networking subsystem is part of the program.
void startReportLink() {}

} // namespace

int main(int argc, char *argv[])
{
    openPlatformDevices();                                        // 1, 2
    if (!gApp)                                                    // 3
        gApp = new MApplication(argc, argv);
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8")); // 4
    if (!gLogManager)                                             // 5
        gLogManager = new LogManager(nullptr);
    qInfo().noquote() << "application" << "2.5.0" << " release"; // 6
    installQuitSignals();
    startReportLink();                                            // 7
    createProcessMutexes();                                       // 8
    fillUiTextTable();                                            // 9
    loadUiPixmaps();                                              // 10
    gAppDirPath = QCoreApplication::applicationDirPath();         // 11
    gMainWindow = new DeVeWizard;                                 // 12
    writeNetConfig();                                             // 13
    gControlPort->startIOThread();                                // 14
    gMainWindow->showFullScreen();                                // 15
    const int status = gApp->exec();                              // 16
    // The poll thread must be gone before the objects its signal reaches.
    gControlPort->stopIOThread();
    qInfo().noquote() << "application ended, status" << status;
    return status;
}

#include "devewizard.h"

#include "cameradeviceinfo.h"
#include "cammerwidget.h"
#include "commandrunner.h"
#include "controlport.h"
#include "detectpass.h"
#include "imagesize.h"
#include "inspectionhooks.h"
#include "iostatuswidget.h"
#include "paramquery.h"
#include "paramstore.h"
#include "savefailimagethread.h"
#include "startup.h"
#include "sysparam.h"
#include "systemhelpers.h"
#include "uitexttable.h"
#include "warnbox.h"

#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <algorithm>

extern "C" {
#include <libavdevice/avdevice.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

DeVeWizard *gMainWindow = nullptr;

DeVeWizard::DeVeWizard() : QWidget(nullptr)
{
    // FFmpeg 5 registers formats and codecs by itself; devices and the network layer still need it.
    avdevice_register_all();
    avformat_network_init();
    av_log_set_level(AV_LOG_QUIET);

    gMainWindow = this;
    setWindowFlags(Qt::CustomizeWindowHint);
    if (QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect g = screen->geometry();
        gShowW = g.right() - g.left() + 1;
        gShowH = g.bottom() - g.top() + 1;
    }
    setFixedSize(gShowW, gShowH);

    gWarnBox = new WarnBox(nullptr);

    runPendingUpdate();
    openDatabases();
    installCoreHooks();
    loadParameters();
    createIoBoardLink();

    createCameraViews();
    gTemperatureAlarm = false;

    startResultImageSaver();
}

DeVeWizard::~DeVeWizard()
{
    stopResultImageSaver();
    setScreenOffHook({});
    setMoldSideHook({});
    setParamQueryHook({});
    setSnQueryHook({});
    inspectionHooks().currentSlot = nullptr;
    delete snQuery;
    delete paramQuery;
    snQuery = nullptr;
    paramQuery = nullptr;
    snDb = QSqlDatabase();
    paramDb = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("dbT"));
    QSqlDatabase::removeDatabase(QStringLiteral("dbIn"));
}

void DeVeWizard::runPendingUpdate()
{
    if (!QFile::exists(QStringLiteral("update.sh")))
        return;
    runCommand(QStringLiteral("./update.sh"), {}, -1);
    runCommand(QStringLiteral("sync"));
    // The old start script changed to /root/bin-DOD here; a child process cannot change our
    // directory, and the working directory already is the program directory.
    runCommand(QStringLiteral("rm"), {QStringLiteral("-f"), QStringLiteral("update.sh")});
}

void DeVeWizard::openDatabases()
{
    if (!QFile::exists(QStringLiteral("PARAM.db"))) {
        // Shown in English: the language setting lives in the database that is missing.
        gWarnBox->setMessage(uiText(160, 1));
        gWarnBox->exec();
        runCommand(QStringLiteral("cp"),
                   {QStringLiteral("-f"), QStringLiteral("./paraGroup/default/PARAM.db"), QStringLiteral("./")});
        runCommand(QStringLiteral("sync"));
        runCommand(QStringLiteral("reboot"));
    }
    paramDb = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("dbIn"));
    paramDb.setDatabaseName(QStringLiteral("PARAM.db"));
    paramDb.open();
    paramQuery = new QSqlQuery(paramDb);

    snDb = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("dbT"));
    snDb.setDatabaseName(QStringLiteral("SN.db"));
    if (!snDb.open()) {
        gWarnBox->setMessage(uiText(160));
        gWarnBox->exec();
        runCommand(QStringLiteral("cp"),
                   {QStringLiteral("-f"), QStringLiteral("./paraGroup/default/SN.db"), QStringLiteral("./")});
        runCommand(QStringLiteral("sync"));
        runCommand(QStringLiteral("reboot"));
    }
    snQuery = new QSqlQuery(snDb);
}

// The core writes these fields of ours through hooks; they are removed again by the destructor.
void DeVeWizard::installCoreHooks()
{
    setScreenOffHook([this](int off) { screenOff = off; });
    setMoldSideHook([this](int side) { moldSide = side; });
    setParamQueryHook([this] { return paramQuery; });
    setSnQueryHook([this] { return snQuery; });
    inspectionHooks().currentSlot = [this] { return currentSlot; };
}

// One view per camera found, at most eight; a view whose camera does not open is dropped, so the
// positions of the cameras that opened are packed from 0.
void DeVeWizard::createCameraViews()
{
    gCameraCount = 0;
    const int found = std::min<int>(gCameraInfoList.size(), 8);
    for (int i = 0; i < found; ++i) {
        auto *view = new CammerWidget(this, gCameraCount, &gCameraInfoList[i]);
        if (view->cameraOpened)
            cammerWidgets[gCameraCount++] = view;
        else
            delete view;
    }
}

// The blocks outlive the window (pages and threads read them until the process ends); a second
// window in the same process reuses them.
void DeVeWizard::loadParameters()
{
    if (!gSysParam)
        gSysParam = new SysParam;
    *gSysParam = SysParam();
    loadSysParam(gSysParam);
    if (!gSysParamEdit)
        gSysParamEdit = new SysParam;
    *gSysParamEdit = SysParam();
    copyStartupParams(*gSysParam);
    gRunning = true;
}

// Folders for every camera in use and all eight slots, hand-over buffers of each camera's image size
// for the slots in use (no picture is handed over for another slot), then the saver thread, which
// runs until the application quits.
void DeVeWizard::startResultImageSaver()
{
    for (int c = 0; c < gCameraCount; ++c) {
        for (int d = 0; d < 8; ++d) {
            for (int e = 0; e < 2; ++e) {
                recordDirs[c][d][e].setPath(resultImageFolder(c, d, e));
                recordDirs[c][d][e].mkpath(QStringLiteral("."));
            }
        }
        if (const CammerWidget *view = cammerWidgets[c])
            allocFailImageBuffers(c, view->imageWidth, view->imageHeight, gDetectSlotCount);
    }
    gSaveFailImageThread = new SaveFialImageThread;
    gSaveFailImageThread->start();
    // main() never deletes the window: join the thread when the event loop ends.
    connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this,
            &DeVeWizard::stopResultImageSaver);
}

void DeVeWizard::stopResultImageSaver()
{
    if (!gSaveFailImageThread)
        return;
    gSaveFailImageThread->stop();
    gSaveFailImageThread->wait();
    delete gSaveFailImageThread;
    gSaveFailImageThread = nullptr;
}

// The I/O board on port gIoPortNumber (taken with the parameters just loaded). ControlPort lives for
// the whole run; a later window reuses it. Its change signals run the machine cycle: the poll
// thread's queued, the output flushes directly.
void DeVeWizard::createIoBoardLink()
{
    if (!gControlPort)
        gControlPort = new ControlPort;
    gControlPort->setRunSlot(this, [this] { Run(); });
    connect(gControlPort, &ControlPort::sigIOChange, this, &DeVeWizard::Run);

    ioStatusWidget = new IOStatusWidget(this);
    const int stripHeight = ioStatusWidget->sizeHint().height();
    ioStatusWidget->setGeometry(0, height() - stripHeight, width(), stripHeight);
    connect(gControlPort, &ControlPort::sigIOChange, ioStatusWidget, QOverload<>::of(&QWidget::update));
}

void DeVeWizard::Run()
{
    // Until the machine cycle is built here, each change reads every input once, so that input
    // edges are taken and the status strip shows what the board reports.
    if (!gControlPort)
        return;
    for (int input = 0; input < 10; ++input)
        gControlPort->checkInput(input);
    if (ioStatusWidget)
        ioStatusWidget->update();
}

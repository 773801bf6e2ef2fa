// Construction of the main window in its fixed start-up order, and its destruction.

#include "devewizard.h"

#include "cameradeviceinfo.h"
#include "camerainterface.h"
#include "cameraregistry.h"
#include "cameraviewhooks.h"
#include "cammerwidget.h"
#include "choosebox.h"
#include "colorbutton.h"
#include "clock.h"
#include "commandrunner.h"
#include "drawroiwidget.h"
#include "hardwareconfigurationwidget.h"
#include "helpwidget.h"
#include "pagehooks.h"
#include "controlport.h"
#include "databasejournal.h"
#include "databaserestore.h"
#include "detectionmark.h"
#include "editorhooks.h"
#include "detectpass.h"
#include "imagesize.h"
#include "inspectionhooks.h"
#include "iostatuswidget.h"
#include "mainwindowglobals.h"
#include "mainwindowlog.h"
#include "mapplication.h"
#include "numberinput.h"
#include "numcharinput.h"
#include "paramquery.h"
#include "paramstore.h"
#include "passwordbox.h"
#include "resstatistics.h"
#include "startdecision.h"
#include "savefailimagethread.h"
#include "startup.h"
#include "confirmactions.h"
#include "customionamewidget.h"
#include "endingactions.h"
#include "iowidget.h"
#include "settingshooks.h"
#include "sysparam.h"
#include "systemhelpers.h"
#include "temperaturechartwidget.h"
#include "uistyle.h"
#include "uitexttable.h"
#include "warnbox.h"
#include "wizardparawidget.h"
#include "widgethooks.h"
#include "widgetchangecamera.h"

#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <algorithm>

extern "C" {
#include <libavdevice/avdevice.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

DeVeWizard *gMainWindow = nullptr;

// Each step relies on the ones before it: keep the order.
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

    runPendingUpdate();
    createLoginTimers();
    gCameraBackendMask = 188;
    gWarnBox = new WarnBox(nullptr);
    openDatabases();
    installCoreHooks();
    loadParameters();
    discoverCameras();
    showStartupNotice();
    createGlobalBoxes();
    createIoBoardLink(); // and the board poll with it
    buildGrayColorTable();
    createCameraViews();
    // The image size values, taken from the first camera that opened: before any camera opens only the
    // default size is known, and the layout and buffers would not fit the real image.
    takeImageSizeValues();
    gTemperatureAlarm = false;
    checkCameraSerials();
    // One camera is shown alone; several start tiled.
    shownCamera = gCameraCount == 1 ? 0 : gCameraCount;
    createPages();
    createZoomControls();
    createHardwarePage();
    if (!gPasswordBox)
        gPasswordBox = new PasswordBox(nullptr);
    ChangeCammer();
    createFolders();
    createCycle();   // the cycle and its timers
    createMenuBar(); // after the cycle: its buttons act on it
    startResultImageSaver();
    // A temperature alarm the detection raised sounds the alarm output, checked every 5 s.
    machineCycle->checkTempTimer->start(5000);
    startOperationRecord();
    // The statistics store when enabled; a later window of the same process keeps the one store.
    if (gStatisticsEnabled && !gStatisticsStore) {
        gStatisticsStore = new ResStatistics;
        gStatisticsStore->checkDate();
    }

    decideStartOutputs();
    // A manual trigger asked for during the start (the judgement of a detection a stop cut short may
    // want one) is kept; anything else means no manual trigger is pending.
    if (manualTrigSlot < 0 || manualTrigSlot > gDetectSlotCount)
        manualTrigSlot = gDetectSlotCount;
    installEventFilter(this);
    gWarnBox->hide();

    // The poll thread's change signal reaches Run queued, the output flushes directly.
    gControlPort->setRunSlot(this, [this] { Run(); });
    gControlPort->setCycleWatch([this] { return runState == 1; },
                                [this](const QString &line) { InsertRecord(line); });
    connect(gControlPort, &ControlPort::sigIOChange, this, &DeVeWizard::Run);
    machineCycle->runTimer->start(5);
    dateTimer->start(60000);

    InsertRecord(uiText(150).arg(gCameraCount));

    fpsTimer = new QTimer(this);
    connect(fpsTimer, &QTimer::timeout, this, &DeVeWizard::SlotFPS);
    fpsTimer->start(1000);
    cycleTenths = 0;
    cycleMarkTenths = appNow().toMSecsSinceEpoch() / 100;

    CountRead();
    // The saver counts after the cycle has written the file: what it counts later is stored here.
    countTimer = new QTimer(this);
    connect(countTimer, &QTimer::timeout, this, &DeVeWizard::CountWriteIfChanged);
    countTimer->start(1000);
    if (machineCycle->hooks.applyFrameSpeedToAll)
        machineCycle->hooks.applyFrameSpeedToAll();

    if (gSysParam->screenOffTime > 0) // the screen goes dark after that long without a touch
        lcdTimer->start(timerMsFromSeconds(gSysParam->screenOffTime));

    adoptGlobalBoxes();
}

DeVeWizard::~DeVeWizard()
{
    // A running QThread must not be destroyed, and no timer of ours may fire into a half-gone window.
    stopResultImageSaver();
    for (QTimer *timer : findChildren<QTimer *>())
        timer->stop();
    endOperationRecord();
    editorCycleHooks() = EditorCycleHooks();
    setScreenOffHook({});
    setMoldSideHook({});
    setParamQueryHook({});
    setSnQueryHook({});
    setCameraViewIdsHook({});
    inspectionHooks().currentSlot = nullptr;
    inspectionHooks().InsertRecord = nullptr;
    removeTemperatureHooks();
    cameraViewHooks() = CameraViewHooks();
    mainPageHooks() = MainPageHooks();
    settingsHooks() = SettingsHooks();
    confirmActions() = ConfirmActions();
    endingActions() = EndingActions();
    // The boxes adopted by the window go with it; a pad going with it is not made again.
    if (gWarnBox && gWarnBox->parent() == this)
        gWarnBox = nullptr;
    if (gChooseBox && gChooseBox->parent() == this)
        gChooseBox = nullptr;
    if (gPasswordBox && gPasswordBox->parent() == this)
        gPasswordBox = nullptr;
    if (gNumberInput)
        disconnect(gNumberInput, nullptr, this, nullptr);
    if (gNumCharInput)
        disconnect(gNumCharInput, nullptr, this, nullptr);
    widgetHooks() = WidgetHooks();
    delete snQuery;
    delete paramQuery;
    snQuery = nullptr;
    paramQuery = nullptr;
    snDb = QSqlDatabase();
    paramDb = QSqlDatabase();
    recordDb = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("dbT"));
    QSqlDatabase::removeDatabase(QStringLiteral("dbIn"));
    QSqlDatabase::removeDatabase(QStringLiteral("dbRecord"));
    delete detectionMark;
    detectionMark = nullptr;
    if (gMainWindow == this)
        gMainWindow = nullptr;
}

// A camera whose region table could not be read (a failing select, or PARAM.db left closed) would
// pass every mould with no regions: it is held until the next start, before any word allows the clamp.
void DeVeWizard::holdUnreadCameras()
{
    quint32 unread = 0;
    for (int c = 0; c < gCameraCount && c < 8; ++c) {
        if (cammerWidgets[c] && !cammerWidgets[c]->regionTableRead)
            unread |= 1u << c;
    }
    if (unread != 0)
        machineCycle->holdCameras(unread);
    // A box set up with real cameras that did not open would run its stand-ins' charts, or leave a
    // missing camera's mould unseen, and release the clamp on both: held until a start finds them or
    // the operator clears the serials at the start-up question.
    const quint32 notOpen = savedCamerasNotOpen();
    if (notOpen != 0)
        machineCycle->holdMissingCameras(notOpen);
}

void DeVeWizard::runPendingUpdate()
{
    if (!QFile::exists(QStringLiteral("update.sh")))
        return;
    // The script may copy a database over one a cut write left with its journal; the journal would
    // then be played into the new file. Rolled back (or moved aside with its file) first.
    settleDatabaseJournal(QStringLiteral("PARAM.db"), QStringLiteral("./paraGroup/default/PARAM.db"));
    settleDatabaseJournal(QStringLiteral("SN.db"), QStringLiteral("./paraGroup/default/SN.db"));
    settleDatabaseJournal(QStringLiteral("RECORD.db"), QStringLiteral("RECORDNULL.db"));
    runCommand(QStringLiteral("./update.sh"), {}, -1);
    runCommand(QStringLiteral("sync"));
    // The old start script changed to /root/bin-DOD here; a child process cannot change our
    // directory, and the working directory already is the program directory.
    runCommand(QStringLiteral("rm"), {QStringLiteral("-f"), QStringLiteral("update.sh")});
}

// Restarted by every touch; started here only as objects.
void DeVeWizard::createLoginTimers()
{
    logoutTimer = new QTimer(this);
    connect(logoutTimer, &QTimer::timeout, this, &DeVeWizard::TimerLogout);
    lcdTimer = new QTimer(this);
    connect(lcdTimer, &QTimer::timeout, this, &DeVeWizard::TimerLCD);
}

// A database is opened only when it is one with its table. A missing or damaged one is restored from
// its shipped copy and the box restarts; when that fails it stays closed, so that nothing runs
// silently on an empty file made by opening.
void DeVeWizard::openDatabases()
{
    // Shown in English: the language setting lives in the database being checked.
    const bool paramGood = checkDatabase(
        QStringLiteral("PARAM.db"), paramDatabaseCheck(), uiText(160, 1),
        {QStringLiteral("-f"), QStringLiteral("./paraGroup/default/PARAM.db"), QStringLiteral("./")});
    paramDb = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("dbIn"));
    paramDb.setDatabaseName(QStringLiteral("PARAM.db"));
    if (paramGood)
        paramDb.open();
    paramQuery = new QSqlQuery(paramDb);

    // A page damaged past the first row would fail every record line of the run, or the day's count:
    // SQLite's own check reads them all.
    const bool recordGood =
        checkDatabase(QStringLiteral("RECORD.db"),
                      DatabaseCheck{{QStringLiteral("RECORD")}, QString(), true}, uiText(135, 1),
                      {QStringLiteral("-f"), QStringLiteral("RECORDNULL.db"), QStringLiteral("RECORD.db")});
    recordDb = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("dbRecord"));
    recordDb.setDatabaseName(QStringLiteral("RECORD.db"));
    if (recordGood)
        recordDb.open();

    const bool snGood = checkDatabase(
        QStringLiteral("SN.db"), DatabaseCheck{{QStringLiteral("sysparam")}, QString(), true}, uiText(160),
        {QStringLiteral("-f"), QStringLiteral("./paraGroup/default/SN.db"), QStringLiteral("./")});
    snDb = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("dbT"));
    snDb.setDatabaseName(QStringLiteral("SN.db"));
    if (snGood)
        snDb.open();
    snQuery = new QSqlQuery(snDb);
}

// Boxes that once moved a PARAM.db cut short in a write aside, and put the factory copy in beside its
// journal, did not mark the restore when that copy then failed its check. The factory copy in place
// with a damaged PARAM.db kept beside it is such a restore.
static void markShippedParamsAfterLostData(const QString &shipped)
{
    if (QFile::exists(paramRestoredMarkerPath()) || shipped.isEmpty() ||
        QDir().entryList({QStringLiteral("PARAM.db.damaged-*")}, QDir::Files).isEmpty() ||
        !sameFileContent(QStringLiteral("PARAM.db"), shipped))
        return;
    qCWarning(lcMainWindow) << "PARAM.db is the factory copy and a damaged PARAM.db lies beside it:"
                            << "marked as restored";
    writeParamRestoredMarker(QStringLiteral("PARAM.db is the factory copy, a damaged one kept beside it"));
}

// True when `file` may be opened. A bad file is reported on screen and in the log; the box restarts
// only when the restored file is good, so a failing restore cannot loop through restarts.
// `copyArguments` name the shipped copy second.
bool DeVeWizard::checkDatabase(const QString &file, const DatabaseCheck &check, const QString &message,
                               const QStringList &copyArguments)
{
    const bool param = file == QLatin1String("PARAM.db");
    const QString shipped = copyArguments.value(1);
    QString cause;
    const DatabaseState state = inspectDatabase(file, check, &cause, shipped);
    if (state == DatabaseState::Good) {
        if (param)
            markShippedParamsAfterLostData(shipped);
        return true;
    }
    qCCritical(lcMainWindow).noquote() << cause;
    if (state == DatabaseState::Busy) {
        // Locked is not damaged: nothing is moved aside, and nothing runs on a file not looked at.
        qCCritical(lcMainWindow).noquote() << file << "is held by another process: left as it is and closed";
        return false;
    }
    if (state == DatabaseState::Deferred) {
        qCCritical(lcMainWindow).noquote() << file << "is left as it is and closed for this run";
        return false;
    }
    gWarnBox->setMessage(message);
    gWarnBox->exec();
    // Its region tables are empty: every start from now on holds the clamp until the operator has
    // set the regions again and starts detection. Written before the copy, whatever its check says
    // later: once the operator's file is aside, no start may run on what takes its place unheld.
    const auto mark = [&] {
        if (param)
            writeParamRestoredMarker(cause);
    };
    if (!restoreDatabase(file, check, state, copyArguments, &cause, mark)) {
        qCCritical(lcMainWindow).noquote() << cause << "- not restarting, the file stays closed";
        return false;
    }
    qCWarning(lcMainWindow).noquote() << file << "restored from its shipped copy; restarting";
    runCommand(QStringLiteral("reboot"));
    return true;
}

// The core writes these fields of ours through hooks; they are removed again by the destructor.
void DeVeWizard::installCoreHooks()
{
    setScreenOffHook([this](int off) { screenOff = off; });
    setMoldSideHook([this](int side) {
        moldSide = side;
        // Once the loaded parameters are in force too.
        QTimer::singleShot(0, this, [this] {
            if (detectionMark)
                detectionMark->refreshCycleStartMarks();
        });
    });
    setParamQueryHook([this] { return paramQuery; });
    setSnQueryHook([this] { return snQuery; });
    inspectionHooks().InsertRecord = [this](const QString &line) { InsertRecord(line); };
    inspectionHooks().currentSlot = [this] { return currentSlot; };
    widgetHooks().setLoginLevel = [this](int level) { loginLevel = level; };
    widgetHooks().cycleTenths = [this] { return cycleTenths; };
    installTemperatureHooks();
    cameraViewHooks().zoom = [this] { return ViewZoom{zoomScale, zoomOffsetX, zoomOffsetY}; };
    cameraViewHooks().setZoomAnchor = [this](int x, int y) {
        zoomAnchorX = x;
        zoomAnchorY = y;
    };
}

// One view per camera found, at most eight; a view whose camera does not open is dropped, so the
// positions of the cameras that opened are packed from 0. When none opens, the simulated cameras
// stand in (view index = list index).
void DeVeWizard::createCameraViews()
{
    auto createViews = [this] {
        gCameraCount = 0;
        const int found = std::min<int>(gCameraInfoList.size(), 8);
        for (int i = 0; i < found; ++i) {
            auto *view = new CammerWidget(this, gCameraCount, &gCameraInfoList[i]);
            if (view->cameraOpened)
                cammerWidgets[gCameraCount++] = view;
            else
                delete view;
        }
    };
    gSimulatedCameras = 0;
    createViews();
    if (gCameraCount == 0) {
        useSimulatedCameras();
        gSimulatedCameras = 1;
        createViews();
    }
    // main() never deletes the window: the cameras' capture threads must be joined when the event loop
    // ends, or they go on decoding pictures while the process takes its libraries down.
    connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, [this] {
        for (CammerWidget *view : cammerWidgets) {
            if (view && view->camera)
                view->camera->stopCapture();
        }
    });
    setCameraViewIdsHook([this] {
        QStringList ids;
        for (int i = 0; i < gCameraCount; ++i)
            ids.append(cammerWidgets[i] ? cammerWidgets[i]->cameraId : QString());
        return ids;
    });
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
    gStatisticsEnabled = gSysParam->enableStatistics;
    gLensOptEnabled = 1 - gSysParam->noLensOpt;
    currentSlot = gSysParam->enableProdDetect != 1 ? 1 : 0;
    manualTrigSlot = gDetectSlotCount; // none yet
    gRunning = true;
}

// The image size the window's scales refer to: that of the first camera that opened.
QSize DeVeWizard::firstImageSize() const
{
    const CammerWidget *first = cammerWidgets[0];
    if (first && first->imageWidth > 0 && first->imageHeight > 0)
        return QSize(first->imageWidth, first->imageHeight);
    return QSize(gImageW, gImageH);
}

void DeVeWizard::takeImageSizeValues()
{
    const int w = firstImageSize().width();
    const int h = firstImageSize().height();
    gImagePixelCount = w * h;
    gImageBufferBytes = gColorCamera != 0 ? gImagePixelCount * 4 : gImagePixelCount;
    gViewScaleX = float(gShowW) / float(w);
    gViewScaleY = float(gShowH) / float(h);
    cellScaleX = gViewScaleX;
    cellScaleY = gViewScaleY;
}

// Shown without blocking until the start is done.
void DeVeWizard::showStartupNotice()
{
    gWarnBox->setButtonText(uiText(121));
    gWarnBox->setMessage(uiText(133));
    gWarnBox->show();
}

// The I/O board on port gIoPortNumber (taken with the parameters just loaded). ControlPort lives for
// the whole run; a later window reuses it. Until decideStartOutputs the clamp is not allowed to
// close, and the board is told so at once: the poll runs from here on, through the start-up warnings
// and questions, so a board still holding the word of an earlier run does not keep it.
void DeVeWizard::createIoBoardLink()
{
    if (!gControlPort)
        gControlPort = new ControlPort;
    gControlPort->setOutput(0, 1);
    gControlPort->flushOutputs();
    connect(gControlPort, &ControlPort::sigBoardSilent, this, [this](bool silent) {
        InsertRecord(uiText(silent ? 750 : 751));
        if (ioStatusWidget)
            ioStatusWidget->update();
    });
    gControlPort->startIOThread();
}

// From the start's decision on, the I/O thread asks the mark's thread for the mark of an opening of a
// cycle-start input that the cycle has not read, so that a kill while this thread is stalled still
// finds it. The mark each input would write depends on the parameters and the mould side: refreshed
// at every mark the cycle writes, at every change of the output word, after a parameter load and after
// a confirmed settings change.
void DeVeWizard::watchOpeningsForTheMark()
{
    detectionMark->setCycleStartMarkSource([this] {
        CycleStartMarks marks;
        const quint32 inputs = cycleStartInputMask(*gSysParam, false);
        for (int i = 0; i < 16; ++i) {
            if (inputs & (1u << i))
                marks[size_t(i)] = cycleStartMark(*gSysParam, i, moldSide, gDetectSlotCount, gCameraCount);
        }
        return marks;
    });
    connect(gControlPort, &ControlPort::sigIOChange, this,
            [this] { detectionMark->refreshCycleStartMarks(); });
    detectionMark->installCycleStartMarkHook();
}

// The first outputs that may let the clamp close are decided here and nowhere before.
void DeVeWizard::decideStartOutputs()
{
    holdUnreadCameras();
    // The board's poll has run since createIoBoardLink, through the start-up questions: a mould that
    // opened meanwhile is as unjudged as one a stop cut short.
    const DetectionMark left = detectionMark->open();
    watchOpeningsForTheMark();
    const StartCutShort cutShort = decideCutShort(left, gControlPort->inputEntries(), *gSysParam, moldSide,
                                                  gDetectSlotCount, gCameraCount);
    // Restored factory parameters hold the clamp until the operator has set them again; else an
    // alarm latched before the box stopped stays latched; else a detection the stop cut short is
    // judged before the clamp may close. Each decides the outputs in place of starting detection.
    if (QFile::exists(paramRestoredMarkerPath())) {
        machineCycle->holdRestoredParameters();
    } else if (!restoreLatchedAlarm()) {
        if (cutShort.slot >= 0) {
            if (!cutShort.why.isEmpty())
                qCWarning(lcMainWindow).noquote() << cutShort.why;
            // The start judges the level it took: the first pass of the cycle must not start a
            // second cycle on it.
            for (int i = 0; i < 16; ++i) {
                if (cutShort.inputs & (1u << i))
                    gControlPort->markEntriesRead(i);
            }
            // On disk as a slot mark before anything else: a stop before the verdict finds it again.
            detectionMark->set(cutShort.slot, cutShort.moldSide);
            machineCycle->resumeInterruptedDetection(cutShort.slot, cutShort.moldSide);
        } else {
            machineCycle->StartDetect();
        }
    }
    // A box that opens the clamp only after a good mould check starts with the clamp held.
    if (gSysParam->cutClampAfterMoldOk != 0 && gSysParam->clampPulse > 0) {
        gControlPort->setOutput(0, 1);
        gControlPort->flushOutputs();
    }
}

void DeVeWizard::buildGrayColorTable()
{
    grayColorTable.resize(256);
    for (int i = 0; i < 256; ++i)
        grayColorTable[i] = 0xFF000000u + uint(i) * 0x10000u + uint(i) * 0x100u + uint(i);
}

// Which question a start with these cameras asks about the saved serials: 134 when only simulated
// cameras run, 360 when the number of cameras found differs from the number saved, else none (0).
// A saved id no opened camera carries holds the clamp at every start; the count of saved serials
// leaves out ids shorter than 9 bytes (a smart camera's) and cannot see a camera swapped for another,
// so such an id asks 360 as well: without it the operator would have no way out of the hold.
int cameraSerialQuestion(int simulatedCameras, int camerasFound, int savedSerialCount, quint32 savedNotOpen)
{
    if (simulatedCameras == 1)
        return 134;
    if ((camerasFound != savedSerialCount && savedSerialCount > 0) || savedNotOpen != 0)
        return 360;
    return 0;
}

// The operator may clear the saved serials when the cameras changed; after a change of the real
// cameras the box restarts so that the cameras are bound anew.
void DeVeWizard::checkCameraSerials()
{
    const int question = cameraSerialQuestion(gSimulatedCameras, gCameraInfoList.size(),
                                              gSysParam->cameraSnCount, savedCamerasNotOpen());
    if (question == 0)
        return;
    // The start waits for the answer: the log says what it waits for.
    qCWarning(lcMainWindow).noquote() << "asking whether to clear the saved camera serials:"
                                      << uiText(question, 1).simplified();
    gChooseBox->setMessage(uiText(question));
    if (gChooseBox->exec() != 1)
        return;
    saveCameraSerials(1);
    if (question == 360) {
        FLushAll();
        runCommand(QStringLiteral("reboot"));
    }
}

// Pages, all children of the window. The status strip repaints on every change of the output word.
void DeVeWizard::createPages()
{
    ioStatusWidget = new IOStatusWidget(this);
    const int stripHeight = ioStatusWidget->sizeHint().height();
    ioStatusWidget->setGeometry(0, height() - stripHeight, width(), stripHeight);
    cameraViewHooks().statusStripTop = [this] { return ioStatusWidget->y(); };
    connect(gControlPort, &ControlPort::sigIOChange, ioStatusWidget, QOverload<>::of(&QWidget::update));
    drawROIWidget = new DrawROIWidget(this);
    QVector<CammerWidget *> views;
    for (int c = 0; c < gCameraCount && c < 8; ++c)
        views << cammerWidgets[c];
    drawROIWidget->setCameraViews(views);

    // The settings screen; it reaches the window's login, cameras and flags through its hooks.
    SettingsHooks &hooks = settingsHooks();
    hooks.isAdvancedUser = [this] { return isAdvancedUser(); };
    hooks.lensOptEnabled = &gLensOptEnabled;
    hooks.saveFrameImages = [this] { return machineCycle ? &machineCycle->saveFrameImages : nullptr; };
    hooks.cameraView = [this](int index) { return index >= 0 && index < 8 ? cammerWidgets[index] : nullptr; };
    hooks.showCamera = [this](int index) {
        shownCamera = index;
        ChangeCammer();
    };
    hooks.flushAll = [this] { FLushAll(); };
    // The network dialogs end a long press that began on the button that opened them.
    hooks.stopLongPressTimer = [] {
        if (gApp)
            gApp->stopLongPressTimer();
    };
    ConfirmActions &confirm = confirmActions();
    confirm.insertRecord = [this](const QString &line) {
        InsertRecord(line);
        // A confirmed change may change what the cycle-start inputs mark: refreshed once it is in force.
        QTimer::singleShot(0, this, [this] {
            if (detectionMark)
                detectionMark->refreshCycleStartMarks();
        });
    };
    confirm.applyFrameSpeedToAll = [this] {
        if (machineCycle && machineCycle->hooks.applyFrameSpeedToAll)
            machineCycle->hooks.applyFrameSpeedToAll();
    };
    confirm.loginLevel = [this] { return &loginLevel; };
    // confirm.updateMenuVisibility is installed with the menu bar (createMenuBar).
    // The settings actions that end the run, and the record page.
    EndingActions &ending = endingActions();
    ending.flushAll = [this] { FLushAll(); };
    ending.clearRecord = [this] { ClearRecord(); };
    ending.countWrite = [this] { CountWrite(); };
    ending.liveRecordDb = [this] { return recordDb; };
    ending.recordArchiveDir = [this] { return recordArchiveDir; };
    paraWidget = new WizardParaWidget(this);
    cameraViewHooks().settingsVisible = [this] { return paraWidget && paraWidget->isVisible(); };
    // The help pager, built once with the language of this start; hidden until the menu asks for it.
    helpWidget = new HelpWidget(this);
    helpWidget->hide();
    // The I/O names page, reached from the multiple-detection page of the settings.
    customIONameWidget = new CustomIONameWidget(this, paraWidget, paraWidget->ioWidget);
    customIONameWidget->hide();
    connect(paraWidget, &WizardParaWidget::customIONamesRequested, customIONameWidget, [this] {
        customIONameWidget->loadNames();
        customIONameWidget->show();
        customIONameWidget->raise();
    });

    // The camera-position window, opened from the settings' camera page.
    changeCameraWidget = new WidgetChangeCamera(this);
    changeCameraWidget->paraWidget = paraWidget;
    paraWidget->changeCameraWidget = changeCameraWidget;
    mainPageHooks().changeCameraVisible = [this] { return changeCameraWidget->isVisible(); };
}

// The hardware list, opened from the settings screen's advanced page and shown above it (the
// settings stay open beneath with their unconfirmed edits); its confirm button returns to them.
void DeVeWizard::createHardwarePage()
{
    hardwareWidget = new HardwareConfigurationWidget(this);
    hardwareWidget->hide();
    connect(paraWidget, &WizardParaWidget::hardwareRequested, hardwareWidget, [this] {
        hardwareWidget->show();
        hardwareWidget->raise();
    });
}

QAbstractButton *DeVeWizard::makePictureButton(const QPixmap &picture)
{
    return new ColorButton(picture, this);
}

QList<QAbstractButton *> DeVeWizard::zoomButtons() const
{
    return {enlargeButton,  recoveryButton,  reductionButton, moveUpButton,
            moveDownButton, moveLeftButton, moveRightButton};
}

// Result folders ("./alarmimage//camera%1//detect%2//NG" and "OK"), template folders "./cammer%1%2"
// and raw-frame folders "./originalimage//cammer%1%2", camera and slot counted from 1, for every
// camera in use and all eight slots; missing parents are made too.
void DeVeWizard::createFolders()
{
    for (int c = 0; c < gCameraCount; ++c) {
        for (int d = 0; d < 8; ++d) {
            for (int e = 0; e < 2; ++e) {
                recordDirs[c][d][e].setPath(resultImageFolder(c, d, e));
                recordDirs[c][d][e].mkpath(QStringLiteral("."));
            }
            QDir(QStringLiteral(".")).mkpath(QStringLiteral("./cammer%1%2").arg(c + 1).arg(d + 1));
            QDir(QStringLiteral(".")).mkpath(QStringLiteral("./originalimage//cammer%1%2").arg(c + 1).arg(d + 1));
        }
    }
}

// Hand-over buffers of each camera's image size for the slots in use only (eight cameras by eight
// slots by two pictures of 5 MB would not fit the box's memory; no picture is handed over for
// another slot), then the saver thread, which runs until the application quits.
void DeVeWizard::startResultImageSaver()
{
    for (int c = 0; c < gCameraCount; ++c) {
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
    if (gSaveFailImageThread) {
        gSaveFailImageThread->stop();
        gSaveFailImageThread->wait();
        delete gSaveFailImageThread;
        gSaveFailImageThread = nullptr;
    }
    // Every result the saver counted is in now: the file gets the last of them.
    CountWriteIfChanged();
}

// The process-wide boxes become children of the window, so that they stay above it; they keep their
// own window flags.
void DeVeWizard::adoptGlobalBoxes()
{
    if (gChooseBox)
        gChooseBox->setWindowFlags(gChooseBox->windowFlags() | Qt::CustomizeWindowHint | Qt::WindowStaysOnTopHint);
    const QList<QWidget *> boxes{gWarnBox, gChooseBox, gNumberInput, gNumCharInput, gPasswordBox};
    for (QWidget *box : boxes) {
        if (box)
            box->setParent(this, box->windowFlags());
    }
}

namespace {

// A pad that goes (with a window it was lent to) is made again at once, so its global always holds one.
template <typename Pad>
void keepKeypad(Pad *&global, QObject *context)
{
    if (!global)
        global = new Pad(nullptr);
    QObject::connect(global, &QObject::destroyed, context, [&global, context] {
        global = nullptr;
        keepKeypad(global, context);
    });
}

} // namespace

// The process-wide question box and the two on-screen pads, before any page that uses them.
void DeVeWizard::createGlobalBoxes()
{
    if (!gChooseBox)
        gChooseBox = new ChooseBox(nullptr);
    keepKeypad(gNumberInput, this);
    keepKeypad(gNumCharInput, this);
}

// The login box sets loginLevel through its hook on a right password; cancelled, the level stays.
void DeVeWizard::runPasswordBox()
{
    if (!gPasswordBox)
        gPasswordBox = new PasswordBox(nullptr);
    gPasswordBox->exec();
}

void DeVeWizard::Run()
{
    if (machineCycle)
        machineCycle->Run();
}

// Start-up of the box: from the bare process to the running main window and I/O thread.

#include "boxtestpolicy.h"
#include "clock.h"
#include "controlport.h"
#include "detectionmark.h"
#include "devewizard.h"
#include "editorhooks.h"
#include "heapsettings.h"
#include "inspectionhooks.h"
#include "logmanager.h"
#include "machinecycle.h"
#include "mapplication.h"
#include "operationrecord.h"
#include "qornetmn.h"
#include "quitsignals.h"
#include "startup.h"
#include "systemhelpers.h"
#include "uitexttable.h"

#include <QDebug>
#include <QJsonObject>
#include <QTextCodec>

namespace {

// The report link to the local reporting process: created here and its helper processes restarted,
// before the main window exists. Its hooks read the main window through gMainWindow, so until that is
// set the heartbeat says "UNKNOW" and the stream grabs nothing.
void startReportLink()
{
    QOR_NETMN *link = QOR_NETMN::instance();
    ReportLinkHooks &hooks = reportLinkHooks();
    hooks.runState = [] { return gMainWindow ? gMainWindow->runState : 0; };
    hooks.alarmState = [] { return gMainWindow ? gMainWindow->alarmState : 0; };
    hooks.grabWidget = []() -> QWidget * { return gMainWindow; };
    // The detection pass and the image saver's queued picture report call these on the GUI thread.
    InspectionHooks &inspection = inspectionHooks();
    inspection.state = [link] { return link->state(); };
    inspection.pendingResults = [link](const RoiResultRecord &record) { link->pendingResults.append(record); };
    inspection.sendAlarmPicture = [link](const QJsonObject &info, const QString &path) {
        link->sendAlarmPicture(info, path);
    };
    editorCycleHooks().sendSyncTempList = [link](const QJsonObject &info) { link->sendSyncTempList(info); };
    setRecordOperateRelay([link](const QJsonObject &line) { link->sendRecordOperate(line); });
    // The machine cycle's reports. The alarm is marked for its finish when it is cleared, not when it
    // latches: the finish call ends every combination of results, so a mark at the latch would report
    // the end at once, without the operator's clearing codes.
    CycleReportHooks &cycle = cycleReportHooks();
    cycle.sendDetectOnceInfo = [link](bool ok) { link->sendDetectOnceInfo(ok); };
    cycle.sendAlarmStartTiming = [link](int slot) { link->sendAlarmStartTiming(slot); };
    cycle.markAlarmFinished = [link] { link->alarmPhase = 2; };
    cycle.sendAlarmFinishTiming = [link] { link->sendAlarmFinishTiming(); };
    cycle.appendClearMethod = [link](int camera, int code) { link->appendClearMethod(camera, code); };
    cycle.sendSyncTempList = [link](int camera, int slot) {
        link->sendSyncTempList(QJsonObject{{QStringLiteral("camera"), camera}, {QStringLiteral("detect"), slot}});
    };
    link->restartHelpers();
}

// MG_BOX_ANSWERS=<answers>: for a box that nobody can touch (a run under Xvfb, the end-to-end test),
// every modal box answers by itself with the listed answers in order (1 the accepting button, 0 the
// other; e.g. "0" keeps the saved camera serials at start), then with the last one listed.
void answerBoxesFromEnvironment()
{
    const QByteArray text = qgetenv("MG_BOX_ANSWERS").trimmed();
    if (text.isEmpty())
        return;
    QList<int> answers;
    for (const QByteArray &part : text.split(',')) {
        bool ok = false;
        const int answer = part.trimmed().toInt(&ok);
        if (!ok || answer < 0 || answer > 9) {
            qWarning().noquote() << "MG_BOX_ANSWERS ignored (answers are 0 to 9, separated by commas):"
                                 << QString::fromLocal8Bit(text);
            return;
        }
        answers.append(answer);
    }
    BoxTestPolicy::enable(answers.last());
    BoxTestPolicy::queueAnswers(answers);
    qWarning().noquote() << "modal boxes answer by themselves (MG_BOX_ANSWERS):"
                         << QString::fromLocal8Bit(text);
}

// Every normal end of the run comes here once: the event loop's end, a start cut short by a quit
// signal, and the settings' Exit, whose quitApp ends the process without coming back to main. In the
// desktop build a skipped end would leave the reporting process running, holding its port and
// answering the next box in its place.
void endRun(int status)
{
    static bool ended = false;
    if (ended)
        return;
    ended = true;
    // The poll thread must be gone before the objects its signal reaches. It goes first: it blocks the
    // clamp for an opening up to its last pass, and the mark's thread, ended only after it, writes and
    // syncs the mark that opening asked for, so that the next start judges the mould.
    if (gControlPort)
        gControlPort->stopIOThread();
    if (gMainWindow && gMainWindow->detectionMark)
        gMainWindow->detectionMark->stopSync();
    QOR_NETMN::instance()->restartVideo(false); // the screen stream's thread reads the link
    QOR_NETMN::instance()->endStartedHelper();
    if (gMainWindow)
        gMainWindow->endOperationRecord();
    qInfo().noquote() << "application ended, status" << status;
}

} // namespace

int main(int argc, char *argv[])
{
    ignoreFileSizeSignal();
    ignoreBrokenPipeSignal();
    keepJudgementMemory(); // before any thread starts
    const QDateTime startedAt = appNow();
    // The I/O privilege and the LED device are taken before anything else, as the process starts.
    openPlatformDevices();
    // The box paints with the raster engine alone: on an X screen Qt would otherwise load the software
    // OpenGL renderer (about 50 MB resident) that nothing of the box uses.
    if (qEnvironmentVariableIsEmpty("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");
    if (!gApp)
        gApp = new MApplication(argc, argv);
    // Names, file paths and texts of the box are UTF-8 whatever the locale the system starts us with.
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
    if (!gLogManager)
        gLogManager = new LogManager(nullptr);
    qInfo().noquote() << "application" << "2.5.0" << " release";
    installQuitSignals();
    answerBoxesFromEnvironment();
    removeStaleWriteTemporaries(startedAt); // before anything of this run writes
    startReportLink();
    setRunEndHook(endRun);
    // The mutexes, the interface texts and the pixmaps are all read by the main window's constructor.
    createProcessMutexes();
    fillUiTextTable();
    loadUiPixmaps();
    gAppDirPath = QCoreApplication::applicationDirPath();
    gMainWindow = new DeVeWizard;
    // Only now is the camera count known that the reporting process reads from config.json.
    writeNetConfig();
    int status = 0;
    if (quitRequested()) {
        // The signal came during the start (it ended only the loop of a question waiting for its
        // answer): the pending notice is logged, and the box ends without starting.
        QCoreApplication::processEvents();
        // The board link's poll thread runs from the moment the link is made; it must be gone before
        // the window it reports to, here as after the loop.
        if (gControlPort)
            gControlPort->stopIOThread();
        delete gMainWindow;
    } else {
        gControlPort->startIOThread(); // already running since the board link was made
        gMainWindow->showFullScreen();
        status = gApp->exec();
    }
    endRun(status);
    return status;
}

// Usage: mainwindowshots <output prefix> [<language 0..3>]
// Run in a laid-out working directory (images/, databases, simcam/<n>/ folders) on the screen to be
// shown. Stores the language (Simplified Chinese when not given) in the folder's PARAM.db, builds the
// main window as the box does, lets the cameras deliver for a moment and saves:
//   <prefix>-tiled.png        all cameras
//   <prefix>-verdict-ok.png   the result display of a good mould (every camera OK)
//   <prefix>-verdict-ng.png   the result display of the OK/NG pulse mode with camera 1 NG
//   <prefix>-alarm.png        a latched mould alarm of camera 1: the region editor over the views
//   <prefix>-box-*.png        each kind of box over the main window, waiting for a touch
//   <prefix>-zoom.png         camera 1 alone with its zoom buttons open
// The start-up questions are answered "no", so nothing of the folder's serials is changed; with
// MG_SHOTS_UNANSWERED=1 they are captured too (<prefix>-box<n>.png) before the tool answers them.

#include "boxtestpolicy.h"
#include "cammerwidget.h"
#include "choosebox.h"
#include "devewizard.h"
#include "drawroiwidget.h"
#include "edit.h"
#include "machinecycle.h"
#include "numberinput.h"
#include "passwordbox.h"
#include "shotcommon.h"
#include "shotparams.h"
#include "startup.h"
#include "sysparam.h"
#include "uitexttable.h"
#include "warnbox.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>

namespace {

// A result of the mould slot with the given verdict per camera, through the machine cycle's own
// combination, as a detection would end.
void showResult(DeVeWizard *window, quint32 ngCameras)
{
    for (int c = 0; c < gCameraCount; ++c)
        window->cammerWidgets[c]->allPass = !((ngCameras >> c) & 1u);
    window->currentSlot = 1;
    window->machineCycle->CheckNG();
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    useBoxFont();
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: mainwindowshots <output prefix> [<language 0..3>]\n");
        return 2;
    }
    const QString prefix = QString::fromLocal8Bit(argv[1]);
    const int language = argc == 3 ? languageArgument(argv[2]) : 0;
    handleModalBoxes(prefix, 0);
    createProcessMutexes();
    fillUiTextTable();
    loadUiPixmaps();
    if (!storeShotParameters(language, false)) {
        std::fprintf(stderr, "PARAM.db of the working directory could not be prepared\n");
        return 1;
    }
    // Once templates were browsed in the region editor, every cell shows the time of the one shown
    // under its counters: here from the start, so that every shot has that line too.
    gTemplateTimeText = QStringLiteral("2026-12-08 09:30:00");
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
        showResult(window, 0);
        settleFor(400);
        ok = saveScreen(prefix + QStringLiteral("-verdict-ok.png")) && ok;
        settleFor(2000); // the display ends
        gSysParam->okNgPulse = 1;
        showResult(window, 1);
        settleFor(400);
        ok = saveScreen(prefix + QStringLiteral("-verdict-ng.png")) && ok;
        settleFor(2000);
        gSysParam->okNgPulse = 0;
    }

    gWarnBox->setMessage(uiText(39));
    ok = captureModalBox(gWarnBox, prefix + QStringLiteral("-box-notice.png"), 1) && ok;
    gChooseBox->setMessage(uiText(291));
    ok = captureModalBox(gChooseBox, prefix + QStringLiteral("-box-question.png"), 0) && ok;
    // The login box with its digit pad open, as a touch on its field leaves it.
    ok = captureModalBox(gPasswordBox, prefix + QStringLiteral("-box-login-pad.png"), 0,
                         [] { gPasswordBox->passwordEdit()->openKeypad(); }) &&
         ok;

    if (gCameraCount > 0) {
        gSysParam->reMoldTimes = 0;
        showResult(window, 1);
        settleFor(1500);
        ok = saveScreen(prefix + QStringLiteral("-alarm.png")) && ok;
        window->drawROIWidget->hide();
        window->alarmState = 0;
        window->shownCamera = 0;
        window->ChangeCammer();
        window->MEnlargeScale();
        settleFor(1000);
        ok = saveScreen(prefix + QStringLiteral("-zoom.png")) && ok;
    }
    delete window;
    return ok ? 0 : 1;
}

#include "mapplication.h"

#include "boxstacking.h"
#include "cammerwidget.h"
#include "commandrunner.h"
#include "devewizard.h"
#include "mainwindowglobals.h"
#include "sysparam.h"
#include "systemhelpers.h"
#include "uistyle.h"
#include "uitexttable.h"
#include "warnbox.h"

#include <QEvent>
#include <QFont>
#include <QThread>

MApplication *gApp = nullptr;

MApplication::MApplication(int &argc, char **argv) : QApplication(argc, argv)
{
    // Every text of the box is drawn in this one font, which covers all four languages.
    setFont(boxApplicationFont());
    // Without a window manager only this keeps a shown box above the full-screen window.
    BoxStacking::install();
    longPressTimer = new QTimer(this);
    connect(longPressTimer, &QTimer::timeout, this, &MApplication::onLongPressTimeout);
}

bool MApplication::notify(QObject *object, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type == QEvent::MouseButtonPress) {
        if (onPress())
            return true;
    } else if (type == QEvent::MouseButtonRelease) {
        onRelease();
    }
    return QApplication::notify(object, event);
}

// True when the press is swallowed.
bool MApplication::onPress()
{
    if (gSimulatedCameras == 1 && !longPressTimer->isActive() && !calibrateOnRelease)
        longPressTimer->start(5000);
    DeVeWizard *w = gMainWindow;
    if (gSysParam && w) {
        if (w->logoutTimer && gSysParam->autoLogoutTime > 0)
            w->logoutTimer->start(timerMsFromSeconds(gSysParam->autoLogoutTime));
        if (w->lcdTimer && gSysParam->screenOffTime > 0)
            w->lcdTimer->start(timerMsFromSeconds(gSysParam->screenOffTime));
    }
    if (w && w->screenOff != 0) {
        setBacklight(1);
        return true;
    }
    return false;
}

// The calibration program takes the screen; afterwards the box restarts with the new calibration.
// Its failure cannot be seen here: the box restarts all the same.
void MApplication::onRelease()
{
    if (!calibrateOnRelease) {
        if (longPressTimer->isActive())
            longPressTimer->stop();
        return;
    }
    // Cleared first: a second release while the program runs must not start it again.
    calibrateOnRelease = false;
    runCommand(QStringLiteral("./tsc"), {}, -1);
    if (gMainWindow) {
        QThread::msleep(500);
        gMainWindow->FLushAll();
        runCommand(QStringLiteral("reboot"));
    }
}

void MApplication::stopLongPressTimer()
{
    longPressTimer->stop();
}

void MApplication::onLongPressTimeout()
{
    longPressTimer->stop();
    DeVeWizard *w = gMainWindow;
    // No view at all (no camera opened and no stand-in either): nothing to calibrate for.
    const CammerWidget *first = w ? w->cammerWidgets[0] : nullptr;
    if (!first || first->cameraIid != QLatin1String("simulateCamera_IID"))
        return;
    calibrateOnRelease = true;
    auto *box = new WarnBox(nullptr);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setMessage(uiText(370));
    box->show();
}

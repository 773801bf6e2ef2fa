// The menu bar's page actions of the main window (settings, area adjustment, help, statistics, the
// camera overview), the menu bar's creation and its hooks, and the window's own touch handling.

#include "devewizard.h"

#include "cameraviewhooks.h"
#include "colorbutton.h"
#include "confirmactions.h"
#include "customionamewidget.h"
#include "drawroiwidget.h"
#include "editorhooks.h"
#include "helpwidget.h"
#include "indexbutton.h"
#include "iostatuswidget.h"
#include "mainwindowglobals.h"
#include "numberinput.h"
#include "numcharinput.h"
#include "pagehooks.h"
#include "startup.h"
#include "statisticswidget.h"
#include "sysparam.h"
#include "uitexttable.h"
#include "wizardparawidget.h"

#include <QEvent>
#include <QMouseEvent>
#include <QTimer>
#include <algorithm>
#include <climits>

MainPageHooks &mainPageHooks()
{
    static MainPageHooks hooks;
    return hooks;
}

namespace {

bool called(const std::function<bool()> &visible)
{
    return visible && visible();
}

} // namespace

int timerMsFromSeconds(int seconds)
{
    return int(std::clamp<qint64>(qint64(seconds) * 1000, 0, INT_MAX));
}

// Made after the cycle, so that the start/stop button's text follows StartDetect and StopDetect from
// the first start on.
void DeVeWizard::createMenuBar()
{
    indexButton = new IndexButton(this);

    CycleHooks &h = machineCycle->hooks;
    if (!h.setStartStopText)
        h.setStartStopText = [this](int row) { indexButton->startStopButton->setText(uiText(row)); };
    if (!h.CheckArea)
        h.CheckArea = [this] { CheckArea(); };
    if (!h.settingsVisible)
        h.settingsVisible = [] { return called(mainPageHooks().settingsVisible); };
    if (!h.editorVisible)
        h.editorVisible = [] { return called(mainPageHooks().editorVisible); };
    if (!h.otherPageVisible)
        h.otherPageVisible = [] {
            return called(mainPageHooks().changeCameraVisible) || called(mainPageHooks().ioNamesVisible);
        };

    // A touch on a camera view keeps the bar for two more minutes and brings it back, except while
    // an NG alarm is latched or reviewed.
    cameraViewHooks().showMenuBar = [this] {
        indexButton->hideTimer->start(120000);
        if (alarmState >= 2)
            return;
        if (indexButton->isHidden()) {
            if (!called(mainPageHooks().settingsVisible)) {
                indexButton->show();
                // Without a shown window no show event comes; the bar is meant visible all the same.
                indexButton->showBar();
            }
        } else {
            indexButton->showBar();
        }
    };
    if (!cameraViewHooks().settingsVisible)
        cameraViewHooks().settingsVisible = [] { return called(mainPageHooks().settingsVisible); };

    // The pages that exist by now answer the bar's questions and open from its buttons.
    MainPageHooks &pages = mainPageHooks();
    if (paraWidget) {
        pages.settingsVisible = [this] { return paraWidget->isVisible(); };
        pages.showSettings = [this] {
            paraWidget->show();
            paraWidget->raise();
        };
        pages.hideSettings = [this] { paraWidget->hide(); };
    }
    if (drawROIWidget) {
        pages.editorVisible = [this] { return drawROIWidget->isVisible(); };
        pages.openEditor = [this](bool keepPlace) { drawROIWidget->openPage(keepPlace); };
    }
    if (customIONameWidget)
        pages.ioNamesVisible = [this] { return customIONameWidget->isVisible(); };
    // A confirmed change of the snapshot, product or chart settings folds the bar with its buttons
    // set anew.
    confirmActions().updateMenuVisibility = [this] { indexButton->updateVisibility(0); };
    if (helpWidget)
        pages.showHelp = [this] {
            helpWidget->show();
            helpWidget->raise();
        };
}

void DeVeWizard::SlotReturn()
{
    if (called(mainPageHooks().settingsVisible) || called(mainPageHooks().editorVisible))
        return;
    if (gCameraCount > 1) {
        shownCamera = gCameraCount;
        ChangeCammer();
    } else {
        shownCamera = 0;
        zoomOffsetX = 0.0;
        zoomOffsetY = 0.0;
        zoomScale = 1.0;
    }
}

void DeVeWizard::SlotSystemPara()
{
    const MainPageHooks &pages = mainPageHooks();
    if (called(pages.settingsVisible) || called(pages.editorVisible) || called(pages.changeCameraVisible) ||
        called(pages.ioNamesVisible))
        return;
    // The advanced pages ask for the advanced password again each time the settings open.
    if (loginLevel == 2)
        loginLevel = gSysParam->isPswUsed != 0 ? 1 : 0;
    if (userLevel() == 0 || alarmState == 2)
        return;
    *gSysParamEdit = *gSysParam;
    indexButton->hideBar();
    if (pages.showSettings)
        pages.showSettings();
}

void DeVeWizard::SlotAdjustArea()
{
    const MainPageHooks &pages = mainPageHooks();
    if (called(pages.settingsVisible) || called(pages.editorVisible) || alarmState == 2 ||
        called(pages.changeCameraVisible) || called(pages.ioNamesVisible) || userLevel() == 0)
        return;
    alarmState = 3;
    indexButton->hide();
    ioStatusWidget->hide();
    if (pages.openEditor)
        pages.openEditor(false);
}

void DeVeWizard::CheckArea()
{
    const MainPageHooks &pages = mainPageHooks();
    if (called(pages.settingsVisible) && pages.hideSettings)
        pages.hideSettings();
    if (userLevel() > 0) {
        alarmState = 3;
        indexButton->hide();
        if (pages.openEditor)
            pages.openEditor(false);
        gAreaCheckActive = true;
    } else {
        runState = 1;
    }
}

void DeVeWizard::CheckArea(int)
{
    CheckArea();
}

void DeVeWizard::SlotHelp()
{
    if (mainPageHooks().showHelp)
        mainPageHooks().showHelp();
}

void DeVeWizard::SlotShowStatisticsWidget()
{
    if (gStatisticsEnabled == 0)
        return;
    statisticsWidget()->show();
}

// A press anywhere in the window closes a keypad that is open for another field.
bool DeVeWizard::eventFilter(QObject *object, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonPress) {
        if (gNumberInput && gNumberInput->isVisible() && object != gNumberInput)
            gNumberInput->HideUpdate();
        if (gNumCharInput && gNumCharInput->isVisible() && object != gNumCharInput)
            gNumCharInput->HideUpdate();
    }
    return QWidget::eventFilter(object, event);
}

// Taking the focus ends the editing of a field touched before.
void DeVeWizard::mouseReleaseEvent(QMouseEvent *event)
{
    setFocus(Qt::OtherFocusReason);
    QWidget::mouseReleaseEvent(event);
}

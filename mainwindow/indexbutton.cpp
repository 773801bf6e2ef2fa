// The menu bar: layout, the visibility rules of its buttons, and what each button does.

#include "indexbutton.h"

#include "colorbutton.h"
#include "devewizard.h"
#include "imagesize.h"
#include "mainwindowglobals.h"
#include "sysparam.h"
#include "temperaturechartwidget.h"
#include "uitexttable.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QTimer>
#include <cmath>

namespace {

constexpr int kBarWidth = 240;
constexpr int kButtonHeight = 83;
constexpr int kButtonStep = 84; // one button and the 2 px gap, less the shared edge pixel

// Runs a slot of the main window when there is one; the bar may outlive it in tests and tools.
template <class Action> void onMainWindow(ColorButton *button, QObject *context, Action action)
{
    QObject::connect(button, &QAbstractButton::clicked, context, [action] {
        if (gMainWindow)
            action(gMainWindow);
    });
}

} // namespace

IndexButton::IndexButton(QWidget *parent) : QWidget(parent)
{
    setGeometry(gShowW - 250, 0, kBarWidth, gShowH);

    logoLabel = new QLabel(this);
    logoLabel->setGeometry(0, 0, kBarWidth, logoHeight);
    logoLabel->setScaledContents(true);
    QPixmap logo(QStringLiteral("./images/logo2.bmp"));
    if (logo.isNull())
        logo.load(QStringLiteral("./images/logo2.png"));
    logoLoaded = !logo.isNull();
    if (logoLoaded)
        logoLabel->setPixmap(logo);

    returnButton = addButton(126, 110);
    startStopButton = addButton(127, 194);
    settingsButton = addButton(215, 278);
    retrainButton = addButton(129, 362);
    areaButton = addButton(130, 446);
    int y = 530;
    if (gStatisticsEnabled) {
        statisticsButton = addButton(541, y);
        y += kButtonStep;
    }
    helpButton = addButton(111, y);
    moldSnapButton = addButton(132, y + kButtonStep);
    productSnapButton = addButton(131, y + 2 * kButtonStep);
    temperatureButton = addButton(579, y + 3 * kButtonStep);

    onMainWindow(returnButton, this, [](DeVeWizard *w) { w->SlotReturn(); });
    onMainWindow(startStopButton, this, [](DeVeWizard *w) {
        if (w->machineCycle)
            w->machineCycle->SlotStartStop();
    });
    onMainWindow(settingsButton, this, [](DeVeWizard *w) { w->SlotSystemPara(); });
    onMainWindow(retrainButton, this, [](DeVeWizard *w) {
        if (w->machineCycle)
            w->machineCycle->SlotReTrain();
    });
    onMainWindow(areaButton, this, [](DeVeWizard *w) { w->SlotAdjustArea(); });
    if (statisticsButton)
        onMainWindow(statisticsButton, this, [](DeVeWizard *w) { w->SlotShowStatisticsWidget(); });
    onMainWindow(helpButton, this, [](DeVeWizard *w) { w->SlotHelp(); });
    onMainWindow(moldSnapButton, this, [](DeVeWizard *w) {
        if (w->machineCycle)
            w->machineCycle->SlotManualTrig1();
    });
    onMainWindow(productSnapButton, this, [](DeVeWizard *w) {
        if (w->machineCycle)
            w->machineCycle->SlotManualTrig0();
    });
    connect(temperatureButton, &QAbstractButton::clicked, this, &IndexButton::showTemperatureChart);

    hideTimer = new QTimer(this);
    connect(hideTimer, &QTimer::timeout, this, &IndexButton::SlotShowHideTimeout);
    hideNow();
}

ColorButton *IndexButton::addButton(int textRow, int y)
{
    auto *button = new ColorButton(uiText(textRow), this, 4);
    button->setGeometry(0, y, kBarWidth, kButtonHeight);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

void IndexButton::updateVisibility(int mode)
{
    bool buttonsOn = true;
    if (mode == 0) {
        hide();
    } else if (mode == 1) {
        setVisible(shown);
        buttonsOn = shown;
    }
    for (ColorButton *b : {returnButton, startStopButton, settingsButton, retrainButton, areaButton, helpButton})
        b->setVisible(buttonsOn);
    const SysParam *p = gSysParam;
    const bool snapshots = p && p->showManualSnap != 0;
    moldSnapButton->setVisible(snapshots);
    productSnapButton->setVisible(snapshots && p->enableProdDetect != 0);
    temperatureButton->setVisible(p && p->tempWaveform != 0);
    if (gStatisticsEnabled && statisticsButton)
        statisticsButton->setVisible(p && p->enableStatistics != 0);
}

void IndexButton::hideBar()
{
    shown = false;
    updateVisibility(1);
    hideTimer->stop();
}

void IndexButton::hideNow()
{
    updateVisibility(0);
}

void IndexButton::showBar()
{
    if (shown)
        return;
    shown = true;
    updateVisibility(1);
}

void IndexButton::SlotShowHideTimeout()
{
    hideBar();
}

void IndexButton::showTemperatureChart()
{
    temperatureChartWidget(gMainWindow)->show();
}

// The left part of the bar (left of the logo's height, as the bar has always measured it) folds the
// buttons away and back.
void IndexButton::mousePressEvent(QMouseEvent *event)
{
    if (std::lround(event->localPos().x()) < logoHeight) {
        shown = !shown;
        updateVisibility(1);
    }
    QWidget::mousePressEvent(event);
}

void IndexButton::showEvent(QShowEvent *event)
{
    shown = true;
    updateVisibility(1);
    QWidget::showEvent(event);
}

void IndexButton::paintEvent(QPaintEvent *)
{
}

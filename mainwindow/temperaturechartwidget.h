#pragma once
// The temperature chart page: camera, slot, region and span selectors, the list of days (the running
// day first, then the archives, newest first) and one chart per camera in a stack. The detection pass
// appends live points through `charts`. GUI thread only.

#include <QList>
#include <QWidget>

class Chart;
class ComboBox;
class QListWidget;
class QStackedWidget;

class TemperatureChartWidget : public QWidget
{
    Q_OBJECT
public:
    explicit TemperatureChartWidget(QWidget *parent);
    ~TemperatureChartWidget() override;

    // The running day as row 0, then the archived days, newest first; selects the running day.
    void refreshDayList();
    // The chart on the current page shows the selected slot and region.
    void refreshChart();

    QList<Chart *> charts; // one per camera position in use
    QStackedWidget *chartStack = nullptr;
    ComboBox *cameraBox = nullptr;
    ComboBox *detectBox = nullptr;
    ComboBox *regionBox = nullptr;
    ComboBox *spanBox = nullptr;
    QListWidget *dayList = nullptr;
    int currentCamera = 0;
    int currentDetect = 0;
    int currentRegion = 0;
    qint64 spanSeconds = 1800; // of the running day shown before now

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
};

// The page once created, else null. GUI thread.
extern TemperatureChartWidget *gTemperatureChartWidget;
// The page, created (not shown) at the first call: by the menu bar's button with the main window as
// `parentForNew`, by the detection pass without parent. Later calls return it as it is.
TemperatureChartWidget *temperatureChartWidget(QWidget *parentForNew = nullptr);

// Installs the temperature store and chart calls of the detection pass (inspection hooks appendLive,
// insertRecord and appendValue); removeTemperatureHooks takes them out again. GUI thread.
void installTemperatureHooks();
void removeTemperatureHooks();

#pragma once
// The collapsible menu bar at the right edge of the main screen: the logo and a column of large
// buttons that open the pages or act on the machine cycle. It starts hidden, comes back with a touch
// on a camera view and collapses again after two minutes without one. GUI thread only.

#include <QWidget>

class ColorButton;
class QLabel;
class QTimer;

class IndexButton : public QWidget
{
    Q_OBJECT
public:
    // Builds the bar at the right edge of a gShowW x gShowH screen (x gShowW - 250 .. gShowW - 11);
    // the statistics button exists only when gStatisticsEnabled. The buttons act on gMainWindow when
    // pressed (nothing when there is none). Hidden at the end.
    explicit IndexButton(QWidget *parent);

    // mode 0: hide the bar, buttons meant visible; mode 1: the bar and its fixed buttons visible
    // exactly when `shown`; other modes keep the bar as it is. The snapshot, statistics and
    // temperature buttons follow their settings in every mode.
    void updateVisibility(int mode);
    void hideBar();
    void hideNow();
    void showBar();
    // The temperature button: the chart page, made with the main window as parent on first use.
    static void showTemperatureChart();

    bool shown = false;
    bool logoLoaded = false;
    int logoHeight = 110;
    // Restarted with 120000 ms by every touch on a camera view.
    QTimer *hideTimer = nullptr;

    QLabel *logoLabel = nullptr;
    ColorButton *returnButton = nullptr;
    ColorButton *startStopButton = nullptr;
    ColorButton *settingsButton = nullptr;
    ColorButton *retrainButton = nullptr;
    ColorButton *areaButton = nullptr;
    ColorButton *statisticsButton = nullptr; // null when statistics were off at start
    ColorButton *helpButton = nullptr;
    ColorButton *moldSnapButton = nullptr;
    ColorButton *productSnapButton = nullptr;
    ColorButton *temperatureButton = nullptr;

public slots:
    void SlotShowHideTimeout();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    // The bar paints nothing of its own: the camera views show between the buttons.
    void paintEvent(QPaintEvent *event) override;

private:
    ColorButton *addButton(int textRow, int y);
};


#pragma once
// The tabs of the statistics page: one CamereaTabWidget per camera tab (all cameras first), holding
// one CameraStatisticsWidget per slot tab (all slots first) with the shift figures and two hourly
// charts of that camera and slot, read from the store's view grid. GUI thread only.

#include <QTabWidget>
#include <QWidget>

class Histogram;
class QLabel;

class CameraStatisticsWidget : public QWidget
{
    Q_OBJECT
public:
    // camera and detect as the store counts them: 0..7, or 8 for all.
    CameraStatisticsWidget(int camera, int detect, QWidget *parent);

    // Reads the figures of its camera and slot from gStatisticsStore's view grid again.
    void refresh();

    // The NG share of a whole day as shown, e.g. "25%"; no results give the formatter's "nan%".
    static QString ngRateText(int ok, int ng);

    const int camera;
    const int detect;
    // Day-shift OK, day-shift NG, night-shift OK, night-shift NG, whole-day total, whole-day NG,
    // NG rate.
    QLabel *valueLabels[7] = {};
    Histogram *morningChart = nullptr;
    Histogram *nightChart = nullptr;

protected:
    void showEvent(QShowEvent *event) override;
};

// The spelling is the one the rest of the program knows this class by.
class CamereaTabWidget : public QTabWidget
{
    Q_OBJECT
public:
    CamereaTabWidget(int camera, QWidget *parent);

    // Refreshes the page of the current slot tab.
    void refreshCurrent();

    CameraStatisticsWidget *slotPages[9] = {}; // by slot tab index; tab 0 = all slots
};

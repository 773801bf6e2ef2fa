#pragma once
// The chart of one camera's temperature curve (Chart) and the view that shows it with a read-out of
// time and temperature under the finger (ChartView). GUI thread only.

#include <QMap>
#include <QTimer>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>

class QGraphicsSimpleTextItem;
namespace QtCharts {
class QDateTimeAxis;
class QLineSeries;
class QValueAxis;
} // namespace QtCharts

class Chart : public QtCharts::QChart
{
    Q_OBJECT
public:
    // The time axis ends this long after now while the running day is shown.
    static constexpr qint64 kLeadMs = 10000;

    explicit Chart(int cameraIndex, QGraphicsItem *parent = nullptr, Qt::WindowFlags flags = {});
    ~Chart() override;

    // Shows the series of `key` of this chart's camera from the temperature store: the running day
    // follows the clock over the page's span, an archived day spans its points (or its 00:00-24:00
    // when it has none).
    void showSeries(const QString &key);
    // Appends one live point when `key` is the series shown; points more than the store's live
    // window behind the newest are dropped, as in the store.
    void appendValue(const QString &key, double x, double y);
    // Moves the time axis, keeping its span, to end kLeadMs after now.
    void scrollToNow();

    // The value axis range for a camera's SysParam.temperatureRange: 1 gives -50..180, else -20..580.
    static void valueRange(int temperatureRange, double *min, double *max);

    QTimer scrollTimer;
    QMap<QString, QtCharts::QLineSeries *> seriesByKey; // the one series shown
    QtCharts::QDateTimeAxis *timeAxis = nullptr;
    QtCharts::QValueAxis *valueAxis = nullptr;
    int cameraIndex = 0;
};

class ChartView : public QtCharts::QChartView
{
    Q_OBJECT
public:
    explicit ChartView(QtCharts::QChart *chart, QWidget *parent = nullptr);
    ~ChartView() override;

    QGraphicsSimpleTextItem *valueTip = nullptr; // made at the first mouse move

protected:
    void mouseMoveEvent(QMouseEvent *event) override;
};

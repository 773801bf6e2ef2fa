#include "temperaturechart.h"

#include "clock.h"
#include "sysparam.h"
#include "temperaturechartdata.h"
#include "temperaturechartwidget.h"
#include "uitexttable.h"

#include <QDateTime>
#include <QGraphicsSimpleTextItem>
#include <QMouseEvent>
#include <QtCharts/QDateTimeAxis>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>

#include <algorithm>
#include <limits>

using namespace QtCharts;

namespace {

qint64 nowMs()
{
    return appNow().toMSecsSinceEpoch();
}

void setTimeRange(QDateTimeAxis *axis, qint64 from, qint64 to)
{
    axis->setRange(QDateTime::fromMSecsSinceEpoch(from), QDateTime::fromMSecsSinceEpoch(to));
}

} // namespace

void Chart::valueRange(int temperatureRange, double *min, double *max)
{
    *min = temperatureRange == 1 ? -50 : -20;
    *max = temperatureRange == 1 ? 180 : 580;
}

Chart::Chart(int cameraIndex, QGraphicsItem *parent, Qt::WindowFlags flags)
    : QChart(parent, flags), cameraIndex(cameraIndex)
{
    timeAxis = new QDateTimeAxis;
    valueAxis = new QValueAxis;
    addAxis(timeAxis, Qt::AlignBottom);
    addAxis(valueAxis, Qt::AlignLeft);
    timeAxis->setTickCount(5);
    timeAxis->setFormat(QStringLiteral("hh:mm:ss"));
    const qint64 now = nowMs();
    setTimeRange(timeAxis, now - 1800 * 1000, now + kLeadMs);
    const int range = gSysParam && cameraIndex >= 0 && cameraIndex < 8 ? gSysParam->temperatureRange[cameraIndex] : 0;
    double low, high;
    valueRange(range, &low, &high);
    valueAxis->setRange(low, high);
    scrollTimer.setInterval(1000);
    connect(&scrollTimer, &QTimer::timeout, this, &Chart::scrollToNow);
    setAnimationDuration(0);
}

Chart::~Chart() = default;

void Chart::scrollToNow()
{
    const qint64 min = timeAxis->min().toMSecsSinceEpoch(), max = timeAxis->max().toMSecsSinceEpoch();
    // Setting the range keeps the span exactly; scrolling by pixels would divide by the span and by
    // the plot width, both of which can be zero.
    const qint64 span = std::max<qint64>(max - min, 1000);
    const qint64 target = nowMs() + kLeadMs;
    setTimeRange(timeAxis, target - span, target);
}

void Chart::showSeries(const QString &key)
{
    const QList<QAbstractSeries *> old = series();
    for (QAbstractSeries *s : old) {
        removeSeries(s);
        delete s;
    }
    seriesByKey.clear();

    auto *line = new QLineSeries;
    addSeries(line);
    TemperatureChartData *store = TemperatureChartData::instance();
    const QList<QPointF> points = store->series(cameraIndex, key);
    if (store->showingToday) {
        const qint64 span = temperatureChartWidget()->spanSeconds;
        const qint64 now = nowMs();
        setTimeRange(timeAxis, now - span * 1000, now + kLeadMs);
        scrollTimer.start();
    } else {
        scrollTimer.stop();
        qint64 min = std::numeric_limits<qint64>::max(), max = 0;
        for (const QPointF &p : points) {
            min = std::min(min, qint64(p.x()));
            max = std::max(max, qint64(p.x()));
        }
        if (points.isEmpty() || max < min) {
            // No points: the whole of that day, rather than an inverted range.
            const QDate day = QDate::fromString(store->shownDayText.left(10), QStringLiteral("yyyy-MM-dd"));
            const QDateTime start = day.isValid() ? QDateTime(day, QTime(0, 0)) : appNow().addSecs(-1800);
            min = start.toMSecsSinceEpoch();
            max = day.isValid() ? QDateTime(day.addDays(1), QTime(0, 0)).toMSecsSinceEpoch() : nowMs() + kLeadMs;
        } else if (max == min) {
            min -= 60 * 1000;
            max += 60 * 1000;
        }
        setTimeRange(timeAxis, min, max);
    }
    line->attachAxis(timeAxis);
    line->attachAxis(valueAxis);
    line->append(points);
    line->setPointsVisible(true);
    seriesByKey.insert(key, line);
}

void Chart::appendValue(const QString &key, double x, double y)
{
    QLineSeries *line = seriesByKey.value(key);
    if (!line)
        return;
    line->append(x, y);
    // Same window as the store's live series, trimmed an hour at a time.
    const int count = line->count();
    if (count < 2 || line->at(0).x() >= x - double(TemperatureChartData::kLiveWindowMs + 3600 * 1000))
        return;
    int drop = 0;
    while (drop < count - 1 && line->at(drop).x() < x - double(TemperatureChartData::kLiveWindowMs))
        ++drop;
    line->removePoints(0, drop);
}

ChartView::ChartView(QChart *chart, QWidget *parent) : QChartView(chart, parent) {}

ChartView::~ChartView() = default;

void ChartView::mouseMoveEvent(QMouseEvent *event)
{
    if (!valueTip) {
        valueTip = new QGraphicsSimpleTextItem(chart());
        valueTip->setZValue(5.0);
        QFont font(QStringLiteral("wqy-microhei"));
        font.setPixelSize(26);
        valueTip->setFont(font);
        valueTip->setVisible(true);
    }
    valueTip->setVisible(true);
    const QPoint p = event->pos();
    const QPointF v = chart()->mapToValue(QPointF(p));
    const QString time = QDateTime::fromMSecsSinceEpoch(qint64(v.x())).toString(QStringLiteral("hh:mm:ss"));
    valueTip->setText(QStringLiteral("%1\uFF1A%2\n%3\uFF1A%4")
                          .arg(uiText(596), time, uiText(597), QString::number(v.y(), 'g', 6)));
    const double limit = width() - (50 + valueTip->boundingRect().width());
    if (p.x() >= 0 && p.x() <= limit)
        valueTip->setPos(p.x(), p.y() - 40);
    else if (p.x() > limit)
        valueTip->setPos(limit, p.y() - 40);
    QChartView::mouseMoveEvent(event);
}

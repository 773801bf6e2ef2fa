// Screenshots of the statistics page and of the temperature chart page (running day with the
// read-out, also with each selector's list opened, and an archived day), filled with made-up figures in
// a temporary working directory.
// Usage: statshots <shipped-dir> <output-dir> <language 0..3>   (run on a 1920 x 1080 X screen)

#include "camerastatisticswidget.h"
#include "clock.h"
#include "combobox.h"
#include "imagesize.h"
#include "resstatistics.h"
#include "shotcommon.h"
#include "startup.h"
#include "statisticswidget.h"
#include "sysparam.h"
#include "temperaturechart.h"
#include "temperaturechartdata.h"
#include "temperaturechartwidget.h"
#include "uitexttable.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QListWidget>
#include <QMouseEvent>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTemporaryDir>

#include <cmath>

namespace {

const QDateTime kNow(QDate(2026, 3, 10), QTime(21, 30));

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QString shipped;
    QString out;
    if (!startPageShots(argc, argv, "statshots", &shipped, &out))
        return 2;

    QTemporaryDir work;
    QDir::setCurrent(work.path());
    for (const QString &db : {QStringLiteral("ResStatisticsNULL.db"), QStringLiteral("TemperatureDataNULL.db")})
        QFile::copy(shipped + QLatin1Char('/') + db, db);
    static QPixmap background(shipped + QStringLiteral("/images/background.png"));
    gPixBackground = &background;
    useFullHdScreen();
    gCameraCount = 2;
    gDetectSlotCount = 2;
    gSysParam = new SysParam;
    gSysParam->machineType = 0;
    gSysParam->temperatureRange[0] = 1;
    setAppClock([] { return kNow; });
    const QString suffix = QStringLiteral("_lang%1.png").arg(gLanguage);
    bool ok = true;

    // Statistics: a day of counts on camera 1, slot 0 and some on camera 2, plus two archived days.
    QDir().mkpath(QStringLiteral("ResStatistics"));
    QFile::copy(QStringLiteral("ResStatisticsNULL.db"), QStringLiteral("ResStatistics/2026-03-08.db"));
    QFile::copy(QStringLiteral("ResStatisticsNULL.db"), QStringLiteral("ResStatistics/2026-03-09.db"));
    auto *store = new ResStatistics;
    gStatisticsStore = store;
    store->checkDate();
    for (int h = 0; h < 24; ++h) {
        for (int i = 0; i < 20 + (h * 7) % 30; ++i)
            store->addResult(h, true, 0, 0);
        for (int i = 0; i < (h * 5) % 9; ++i)
            store->addResult(h, false, 0, 0);
        for (int i = 0; i < h % 4; ++i)
            store->addResult(h, false, 1, 1);
    }
    StatisticsWidget *page = statisticsWidget();
    page->show();
    page->cameraTabs->setCurrentIndex(1);
    page->cameraPages[1]->setCurrentIndex(1);
    ok &= grab(out + QStringLiteral("/statistics_camera1") + suffix);
    page->cameraTabs->setCurrentIndex(0);
    ok &= grab(out + QStringLiteral("/statistics_all") + suffix);
    page->hide();

    // Temperature: two hours of a slow curve on camera 1, slot 1, region 1; yesterday archived.
    TemperatureChartData *data = TemperatureChartData::instance();
    const qint64 now = kNow.toMSecsSinceEpoch();
    for (int i = 0; i < 240; ++i) {
        const qint64 t = now - 7200000 + i * 30000;
        const double v = 60 + 25 * std::sin(i / 20.0) + (i % 7) * 0.5;
        data->insertRecord(0, 0, {0}, {t - 86400000}, {v - 10});
        data->appendLive(0, QStringLiteral("D0_T0"), double(t), v);
    }
    data->archive(QStringLiteral("2026-03-09"));
    TemperatureChartWidget *chartPage = temperatureChartWidget();
    chartPage->setGeometry(0, 0, 1920, 1080);
    chartPage->show();
    chartPage->spanBox->setCurrentIndex(2);
    settle();
    auto *view = qobject_cast<ChartView *>(chartPage->chartStack->currentWidget());
    if (view) {
        const QPoint at(view->width() / 2, view->height() / 2);
        QMouseEvent move(QEvent::MouseMove, at, view->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(view->viewport(), &move);
    }
    ok &= grab(out + QStringLiteral("/temperature_live") + suffix);
    ok &= grabPopups(chartPage, out + QStringLiteral("/temperature_live"), suffix);
    chartPage->dayList->setCurrentRow(1);
    emit chartPage->dayList->itemClicked(chartPage->dayList->item(1));
    ok &= grab(out + QStringLiteral("/temperature_archived") + suffix);
    return ok ? 0 : 1;
}

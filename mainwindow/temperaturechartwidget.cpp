#include "temperaturechartwidget.h"

#include "combobox.h"
#include "inspectionhooks.h"
#include "startup.h"
#include "sysparam.h"
#include "systemhelpers.h"
#include "temperaturechart.h"
#include "temperaturechartdata.h"
#include "uistyle.h"
#include "uitexttable.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QListView>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <algorithm>

TemperatureChartWidget *gTemperatureChartWidget = nullptr;

TemperatureChartWidget *temperatureChartWidget(QWidget *parentForNew)
{
    if (!gTemperatureChartWidget)
        gTemperatureChartWidget = new TemperatureChartWidget(parentForNew);
    return gTemperatureChartWidget;
}

void installTemperatureHooks()
{
    InspectionHooks &h = inspectionHooks();
    h.appendLive = [](int camera, const QString &key, double x, double y) {
        TemperatureChartData::instance()->appendLive(camera, key, x, y);
    };
    h.insertRecord = [](int camera, int detect, QVector<int> regions, QVector<qint64> times,
                        QVector<double> values) {
        TemperatureChartData::instance()->insertRecord(camera, detect, std::move(regions), std::move(times),
                                                       std::move(values));
    };
    h.appendValue = [](int camera, const QString &key, double x, double y) {
        const QList<Chart *> &charts = temperatureChartWidget()->charts;
        if (camera >= 0 && camera < charts.size())
            charts.at(camera)->appendValue(key, x, y);
    };
}

void removeTemperatureHooks()
{
    InspectionHooks &h = inspectionHooks();
    h.appendLive = nullptr;
    h.insertRecord = nullptr;
    h.appendValue = nullptr;
}

TemperatureChartWidget::TemperatureChartWidget(QWidget *parent) : QWidget(parent)
{
    const QFont font = uiFont(30);
    auto makeBox = [&] {
        auto *box = new ComboBox(this);
        box->setFixedSize(200, 50);
        styleComboBox(box, 50);
        box->setFont(font);
        box->listView->setFont(font);
        return box;
    };
    cameraBox = makeBox();
    detectBox = makeBox();
    regionBox = makeBox();
    spanBox = makeBox();
    const int cameras = std::clamp(gCameraCount, 0, 8);
    for (int i = 1; i <= cameras; ++i)
        cameraBox->addItem(uiText(586).arg(i));
    for (int i = 1; i <= std::clamp(gDetectSlotCount, 0, 8); ++i)
        detectBox->addItem(uiText(591).arg(i));
    for (int i = 1; i <= TemperatureChartData::kRegionsPerSlot; ++i)
        regionBox->addItem(uiText(592).arg(i));
    spanBox->addItem(uiText(593));
    for (int hours : {1, 2, 4, 8})
        spanBox->addItem(uiText(594).arg(hours));
    spanBox->addItem(uiText(595).arg(1));

    connect(cameraBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this, [this](int i) {
        currentCamera = i;
        if (i >= 0 && i < chartStack->count())
            chartStack->setCurrentIndex(i);
        refreshChart();
    });
    connect(detectBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this, [this](int i) {
        currentDetect = i;
        refreshChart();
    });
    connect(regionBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this, [this](int i) {
        currentRegion = i;
        refreshChart();
    });
    connect(spanBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this, [this](int i) {
        static const qint64 spans[] = {1800, 3600, 7200, 14400, 28800};
        spanSeconds = i >= 0 && i < 5 ? spans[i] : 86400;
        if (dayList->currentRow() == 0)
            refreshChart();
    });

    auto *exitButton = new QPushButton(uiText(348), this);
    exitButton->setFixedSize(200, 50);
    exitButton->setFont(font);
    connect(exitButton, &QPushButton::clicked, this, &QWidget::hide);

    auto *top = new QHBoxLayout;
    for (QWidget *w : {static_cast<QWidget *>(cameraBox), static_cast<QWidget *>(detectBox),
                       static_cast<QWidget *>(regionBox), static_cast<QWidget *>(spanBox),
                       static_cast<QWidget *>(exitButton)})
        top->addWidget(w);

    chartStack = new QStackedWidget(this);
    chartStack->setFixedSize(1650, 1000);
    for (int c = 0; c < cameras; ++c) {
        auto *chart = new Chart(c);
        chart->setTitle(QStringLiteral("Dynamic spline chart"));
        chart->legend()->hide();
        chart->setAnimationOptions(QtCharts::QChart::AllAnimations);
        auto *view = new ChartView(chart);
        view->setRenderHint(QPainter::Antialiasing);
        chartStack->addWidget(view);
        charts.append(chart);
    }

    dayList = new QListWidget(this);
    dayList->setFixedWidth(250);
    dayList->setAlternatingRowColors(true);
    dayList->setFont(font);
    connect(dayList, &QListWidget::itemClicked, this, [this](QListWidgetItem *item) {
        TemperatureChartData::instance()->UpdateRecord(item);
        refreshChart();
    });

    auto *bottom = new QHBoxLayout;
    bottom->addWidget(dayList);
    bottom->addWidget(chartStack);
    auto *page = new QVBoxLayout(this);
    page->addLayout(top);
    page->addLayout(bottom);
}

TemperatureChartWidget::~TemperatureChartWidget()
{
    if (gTemperatureChartWidget == this)
        gTemperatureChartWidget = nullptr;
}

void TemperatureChartWidget::refreshChart()
{
    // No camera in use: there is no chart to reach.
    const int page = chartStack->currentIndex();
    if (page < 0 || page >= charts.size())
        return;
    charts.at(page)->showSeries(makeSlotRegionKey(currentDetect, currentRegion));
}

void TemperatureChartWidget::refreshDayList()
{
    TemperatureChartData *store = TemperatureChartData::instance();
    dayList->clear();
    dayList->addItem(store->dayText);
    const QStringList names = store->recordDir.entryList({QStringLiteral("*.db")},
                                                         QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (auto it = names.crbegin(); it != names.crend(); ++it)
        dayList->addItem(QString(*it).remove(QStringLiteral(".db")));
    if (dayList->currentRow() != 0)
        dayList->setCurrentRow(0);
    store->UpdateRecord(dayList->item(0));
}

void TemperatureChartWidget::paintEvent(QPaintEvent *event)
{
    if (gPixBackground) {
        QPainter p(this);
        p.drawPixmap(rect(), *gPixBackground);
    }
    QWidget::paintEvent(event);
}

void TemperatureChartWidget::showEvent(QShowEvent *event)
{
    refreshDayList();
    currentCamera = cameraBox->currentIndex();
    if (currentCamera >= 0 && currentCamera < chartStack->count())
        chartStack->setCurrentIndex(currentCamera);
    currentDetect = std::max(0, detectBox->currentIndex());
    currentRegion = std::max(0, regionBox->currentIndex());
    refreshChart();
    QWidget::showEvent(event);
}

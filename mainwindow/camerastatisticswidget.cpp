#include "camerastatisticswidget.h"

#include "histogram.h"
#include "resstatistics.h"
#include "sysparam.h"
#include "uitexttable.h"

#include <QGridLayout>
#include <QLabel>
#include <QVBoxLayout>

#include <algorithm>

namespace {

int storeCount(int kind, bool ok, int camera, int detect)
{
    return gStatisticsStore ? gStatisticsStore->count(kind, ok, camera, detect) : 0;
}

QList<int> storeHours(int kind, bool ok, int camera, int detect)
{
    return gStatisticsStore ? gStatisticsStore->hourValues(kind, ok, camera, detect) : QList<int>();
}

QLabel *makeLabel(QWidget *parent, const QString &text, QSize size, Qt::Alignment align,
                  const QString &style = {})
{
    auto *label = new QLabel(text, parent);
    QFont font(QStringLiteral("wqy-microhei"));
    font.setPointSize(10);
    label->setFont(font);
    label->setFixedSize(size);
    label->setAlignment(align);
    if (!style.isEmpty())
        label->setStyleSheet(style);
    return label;
}

QList<int> hourLabels(int first)
{
    QList<int> labels;
    for (int i = 0; i < 12; ++i)
        labels.append((first + i) % 24);
    return labels;
}

} // namespace

CameraStatisticsWidget::CameraStatisticsWidget(int camera, int detect, QWidget *parent)
    : QWidget(parent), camera(camera), detect(detect)
{
    const QSize titleSize(150, 50), valueSize(120, 40);
    const Qt::Alignment right = Qt::AlignRight | Qt::AlignVCenter;
    const QString green = QStringLiteral("color:green;"), red = QStringLiteral("color:red;");

    // One shift group: title, OK caption and value, NG caption and value.
    auto shiftGroup = [&](int titleRow, QLabel *&okValue, QLabel *&ngValue) {
        auto *box = new QVBoxLayout;
        box->setSpacing(5);
        box->addWidget(makeLabel(this, uiText(titleRow), titleSize, Qt::AlignCenter), 0, Qt::AlignHCenter);
        box->addWidget(makeLabel(this, uiText(542), valueSize, right), 0, Qt::AlignRight);
        okValue = makeLabel(this, QString(), valueSize, right, green);
        box->addWidget(okValue, 0, Qt::AlignRight);
        box->addWidget(makeLabel(this, uiText(543), valueSize, right), 0, Qt::AlignRight);
        ngValue = makeLabel(this, QString(), valueSize, right, red);
        box->addWidget(ngValue, 0, Qt::AlignRight);
        return box;
    };
    QVBoxLayout *morning = shiftGroup(545, valueLabels[0], valueLabels[1]);
    morningChart = new Histogram(this, hourLabels(8), storeHours(0, true, camera, detect),
                                 storeHours(0, false, camera, detect));
    morningChart->setFixedHeight(420);
    QVBoxLayout *night = shiftGroup(546, valueLabels[2], valueLabels[3]);
    nightChart = new Histogram(this, hourLabels(20), storeHours(1, true, camera, detect),
                               storeHours(1, false, camera, detect));
    nightChart->setFixedHeight(420);

    auto *whole = new QVBoxLayout;
    whole->setSpacing(5);
    whole->addWidget(makeLabel(this, uiText(587), titleSize, Qt::AlignCenter), 0, Qt::AlignHCenter);
    whole->addWidget(makeLabel(this, uiText(547), valueSize, right), 0, Qt::AlignRight);
    valueLabels[4] = makeLabel(this, QString(), valueSize, right, green);
    whole->addWidget(valueLabels[4], 0, Qt::AlignRight);
    whole->addWidget(makeLabel(this, uiText(543), valueSize, right), 0, Qt::AlignRight);
    valueLabels[5] = makeLabel(this, QString(), valueSize, right, red);
    whole->addWidget(valueLabels[5], 0, Qt::AlignRight);
    whole->addWidget(makeLabel(this, uiText(588), valueSize, right), 0, Qt::AlignRight);
    valueLabels[6] = makeLabel(this, QString(), valueSize, right, red);
    whole->addWidget(valueLabels[6], 0, Qt::AlignRight);

    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(30, 10, 30, 10);
    grid->setHorizontalSpacing(1);
    grid->setVerticalSpacing(1);
    grid->addLayout(morning, 0, 0, 4, 1, Qt::AlignTop);
    grid->addLayout(night, 4, 0, 4, 1, Qt::AlignTop);
    grid->addLayout(whole, 8, 0, 4, 1, Qt::AlignTop | Qt::AlignHCenter);
    grid->addWidget(morningChart, 0, 2, 7, 8, Qt::AlignTop);
    grid->addWidget(nightChart, 7, 2, 7, 8, Qt::AlignTop);
    grid->setRowStretch(14, 1);
    refresh();
}

QString CameraStatisticsWidget::ngRateText(int ok, int ng)
{
    const double total = double(ok) + double(ng);
    return QString::number(double(ng) * 100 / total, 'g', 4) + QLatin1Char('%');
}

void CameraStatisticsWidget::refresh()
{
    const int dayOk = storeCount(0, true, camera, detect), dayNg = storeCount(0, false, camera, detect);
    const int nightOk = storeCount(1, true, camera, detect), nightNg = storeCount(1, false, camera, detect);
    const int ok = storeCount(2, true, camera, detect), ng = storeCount(2, false, camera, detect);
    // The production total can pass the int range where its parts do not.
    const qint64 total = qint64(ok) + ng;
    const QString texts[7] = {QString::number(dayOk), QString::number(dayNg), QString::number(nightOk),
                              QString::number(nightNg), QString::number(total), QString::number(ng),
                              ngRateText(ok, ng)};
    for (int i = 0; i < 7; ++i)
        valueLabels[i]->setText(texts[i]);
    morningChart->setData(storeHours(0, true, camera, detect), storeHours(0, false, camera, detect));
    nightChart->setData(storeHours(1, true, camera, detect), storeHours(1, false, camera, detect));
    update();
}

void CameraStatisticsWidget::showEvent(QShowEvent *event)
{
    refresh();
    QWidget::showEvent(event);
}

CamereaTabWidget::CamereaTabWidget(int camera, QWidget *parent) : QTabWidget(parent)
{
    const int machineType = gSysParam ? gSysParam->machineType : 0;
    const int base = machineType == 0 ? 263 : 372;
    const int slotCount = std::clamp(gDetectSlotCount, 0, 8);
    for (int s = 0; s <= slotCount; ++s) {
        slotPages[s] = new CameraStatisticsWidget(camera, (s + 8) % 9, this);
        addTab(slotPages[s], s == 0 ? uiText(584) : uiText(base + s - 1));
    }
}

void CamereaTabWidget::refreshCurrent()
{
    const int i = currentIndex();
    if (i >= 0 && i < 9 && slotPages[i])
        slotPages[i]->refresh();
}

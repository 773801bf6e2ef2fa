#include "histogram.h"

#include "uitexttable.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>

namespace {
const QColor kOkColour(0, 255, 0, 200);
const QColor kNgColour(255, 0, 0, 200);
} // namespace

Histogram::Histogram(QWidget *parent, QList<int> labels, QList<int> okValues, QList<int> ngValues)
    : QWidget(parent), labels(std::move(labels))
{
    takeValues(std::move(okValues), std::move(ngValues));
}

void Histogram::setData(QList<int> okValues, QList<int> ngValues)
{
    takeValues(std::move(okValues), std::move(ngValues));
    update();
}

void Histogram::takeValues(QList<int> ok, QList<int> ng)
{
    okValues = std::move(ok);
    ngValues = std::move(ng);
    barCount = std::min({labels.size(), okValues.size(), ngValues.size()});
    maxValue = 0;
    for (int v : okValues)
        maxValue = std::max(maxValue, v);
    for (int v : ngValues)
        maxValue = std::max(maxValue, v);
}

void Histogram::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setPen(Qt::black);
    QFont font(QStringLiteral("wqy-microhei"));
    font.setPixelSize(15);
    p.setFont(font);
    const int w = width(), h = height();
    p.drawLine(0, h - 20, w, h - 20);
    p.drawLine(20, 40, 20, h);

    const double scale = maxValue != 0 ? double(h - 60) / maxValue : 0.0;
    const int slot = (w - 40) / (barCount + 1);
    const double half = slot * 0.5;
    auto drawBar = [&](double left, int value, const QColor &colour) {
        const double b = value * scale;
        const double top = h - b - 20;
        p.fillRect(int(left), int(top), int(half), int(b), colour);
        p.drawText(QRectF(left, std::min(top, double(h - 40)), half, 20), Qt::AlignCenter,
                   QString::number(value));
    };
    for (int i = 0; i < barCount; ++i) {
        const int x = (i + 1) * slot + 20;
        p.drawLine(x, h - 30, x, h - 20);
        p.drawText(QRectF(x - half, h - 20, slot, 20), Qt::AlignCenter, QString::number(labels.at(i)));
        drawBar(x - half, okValues.at(i), kOkColour);
        drawBar(x, ngValues.at(i), kNgColour);
    }

    QFont legend(QStringLiteral("wqy-microhei"));
    legend.setPointSize(10);
    p.setFont(legend);
    // Each legend text gets at least 100 px, more when its language needs it, so no text is cut.
    const QFontMetrics fm(legend);
    const double okWidth = std::max(100, fm.horizontalAdvance(uiText(589)) + 10);
    const double ngWidth = std::max(100, fm.horizontalAdvance(uiText(590)) + 10);
    const double l = w - 40 - okWidth;
    p.drawText(QRectF(l, 5, okWidth, 30), Qt::AlignCenter, uiText(589));
    const double x0 = l - (half + 5);
    p.fillRect(QRectF(x0, 5, half, 30), kOkColour);
    const double ngLeft = x0 - 5 - ngWidth;
    p.drawText(QRectF(ngLeft, 5, ngWidth, 30), Qt::AlignCenter, uiText(590));
    p.fillRect(QRectF(ngLeft - (half + 5), 5, half, 30), kNgColour);
}

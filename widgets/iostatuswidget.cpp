#include "iostatuswidget.h"

#include "clock.h"
#include "controlport.h"
#include "iolink.h"
#include "paramstore.h"
#include "startup.h"
#include "uistyle.h"
#include "uitexttable.h"
#include "widgethooks.h"

#include <QPainter>
#include <QTimer>

namespace {
constexpr int kLampSize = 28;
constexpr int kMargin = 6;
constexpr int kStripHeight = 40;
// Flat and dim, so that a greyed lamp cannot be taken for the silver of a dark one.
const QColor kSilentLamp(85, 85, 85);
const QColor kSilentRim(120, 120, 120);
const QColor kSilentText(130, 130, 130);
} // namespace

IOStatusWidget::IOStatusWidget(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    // The time of day in the cycle text moves on even while the machine stands still.
    auto *tick = new QTimer(this);
    connect(tick, &QTimer::timeout, this, QOverload<>::of(&QWidget::update));
    tick->start(1000);
}

QString IOStatusWidget::cycleText()
{
    const int tenths = widgetHooks().cycleTenths ? widgetHooks().cycleTenths() : 0;
    return uiText(110).arg(appNow().toString(QStringLiteral("hh:mm:ss")),
                           QString::number(tenths / 10.0, 'f', 1));
}

int IOStatusWidget::pointsWidth() const
{
    return width() * 3 / 4;
}

QRect IOStatusWidget::cycleRect() const
{
    return QRect(pointsWidth(), 0, width() - pointsWidth(), height());
}

QSize IOStatusWidget::sizeHint() const
{
    return QSize(kPoints * 160, kStripHeight);
}

int IOStatusWidget::pointLevel(int point)
{
    if (!gControlPort || point < 0 || point >= kPoints)
        return 0;
    return point < 4 ? gControlPort->getIO(0, point) : gControlPort->getIO(1, point - 4);
}

QRect IOStatusWidget::cellRect(int point) const
{
    const int w = pointsWidth() / kPoints;
    return QRect(point * w, 0, w, height());
}

QRect IOStatusWidget::lampRect(int point) const
{
    const QRect cell = cellRect(point);
    const int side = qMin(kLampSize, qMax(0, height() - 2 * kMargin));
    return QRect(cell.left() + kMargin, cell.top() + (cell.height() - side) / 2, side, side);
}

QRect IOStatusWidget::nameRect(int point) const
{
    const QRect cell = cellRect(point);
    const int left = lampRect(point).right() + kMargin;
    return QRect(left, cell.top(), qMax(0, cell.right() - left), cell.height());
}

void IOStatusWidget::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), QColor(60, 60, 60));
    p.setFont(uiFont(qMax(10, height() / 2)));
    p.setPen(Qt::white);
    // A silent board's last inputs and outputs are not live: shown greyed, not as lit or dark lamps.
    const bool silent = gIoBoardSilent.load();
    for (int point = 0; point < kPoints; ++point) {
        const QPixmap *lamp = pointLevel(point) ? gPixOut1 : gPixOut0;
        if (silent) {
            p.setPen(kSilentRim);
            p.setBrush(kSilentLamp);
            p.drawEllipse(lampRect(point).adjusted(1, 1, -1, -1));
            p.setPen(kSilentText);
        } else if (lamp && !lamp->isNull()) {
            p.drawPixmap(lampRect(point), *lamp);
        }
        p.drawText(nameRect(point), Qt::AlignVCenter | Qt::AlignLeft, gIoPointNames[point]);
        p.setPen(Qt::white);
    }
    p.drawText(cycleRect().adjusted(0, 0, -kMargin, 0), Qt::AlignVCenter | Qt::AlignRight, cycleText());
}

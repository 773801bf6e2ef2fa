#include "iostatuswidget.h"

#include "controlport.h"
#include "paramstore.h"
#include "startup.h"

#include <QPainter>

namespace {
constexpr int kLampSize = 28;
constexpr int kMargin = 6;
constexpr int kStripHeight = 40;
} // namespace

IOStatusWidget::IOStatusWidget(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

QSize IOStatusWidget::sizeHint() const
{
    return QSize(kPoints * 120, kStripHeight);
}

int IOStatusWidget::pointLevel(int point)
{
    if (!gControlPort || point < 0 || point >= kPoints)
        return 0;
    return point < 4 ? gControlPort->getIO(0, point) : gControlPort->getIO(1, point - 4);
}

QRect IOStatusWidget::cellRect(int point) const
{
    const int w = width() / kPoints;
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
    QFont f = font();
    f.setPixelSize(qMax(10, height() / 2));
    p.setFont(f);
    p.setPen(Qt::white);
    for (int point = 0; point < kPoints; ++point) {
        const QPixmap *lamp = pointLevel(point) ? gPixOut1 : gPixOut0;
        if (lamp && !lamp->isNull())
            p.drawPixmap(lampRect(point), *lamp);
        p.drawText(nameRect(point), Qt::AlignVCenter | Qt::AlignLeft, gIoPointNames[point]);
    }
}

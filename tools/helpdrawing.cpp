#include "helpdrawing.h"

#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>

namespace helpdraw {

const QColor kBlue(0x1f, 0x5f, 0x9f);
const QColor kBlueTop(0x3a, 0x75, 0xb0);
const QColor kOrange(0xa3, 0x45, 0x09);
const QColor kOrangeTop(0xc2, 0x50, 0x0a);
const QColor kDark(0x22, 0x2b, 0x36);
const QColor kPaper(0xf4, 0xf7, 0xfa);
const QColor kOk(0x2e, 0xb8, 0x4b);
const QColor kNg(0xd0, 0x30, 0x30);
const QColor kNgOnDark(0xff, 0x5a, 0x5a);
const QColor kVerdictPlate(0x14, 0x16, 0x1a);
const QColor kText(Qt::white);

QFont font(int px, bool bold)
{
    QFont f(QStringLiteral("WenQuanYi Micro Hei"));
    f.setPixelSize(px);
    f.setBold(bold);
    return f;
}

void button(QPainter &p, const QRectF &r, const QString &text, bool highlight, int px)
{
    p.save();
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, highlight ? kOrangeTop : kBlueTop);
    g.setColorAt(1, highlight ? kOrange : kBlue);
    p.setBrush(g);
    p.setPen(QPen(highlight ? kOrange.darker(140) : kDark, highlight ? 4 : 1));
    p.drawRoundedRect(r, kButtonRadius, kButtonRadius);
    p.setPen(kText);
    p.setFont(font(px));
    p.drawText(r.adjusted(4, 2, -4, -2), Qt::AlignCenter | Qt::TextWordWrap, text);
    p.restore();
}

void callout(QPainter &p, QPointF at, int number)
{
    p.save();
    p.setBrush(kOrange);
    p.setPen(QPen(Qt::white, 3));
    p.drawEllipse(at, kCalloutRadius, kCalloutRadius);
    if (number != 0) {
        p.setPen(kText);
        p.setFont(font(28, true));
        p.drawText(
            QRectF(at.x() - kCalloutRadius, at.y() - kCalloutRadius, 2 * kCalloutRadius, 2 * kCalloutRadius),
            Qt::AlignCenter, QString::number(number));
    }
    p.restore();
}

void titleBand(QPainter &p, int width)
{
    QLinearGradient band(0, 0, 0, kBandHeight);
    band.setColorAt(0, kBlueTop);
    band.setColorAt(1, kBlue);
    p.fillRect(0, 0, width, kBandHeight, band);
}

int verdictPixels(double pictureHeight)
{
    return int(pictureHeight * 0.14);
}

namespace {
QString verdictText(int verdict)
{
    return verdict > 0 ? QStringLiteral("OK") : QStringLiteral("NG");
}
} // namespace

QRectF verdictPlate(QPainter &p, const QRectF &r, int verdict)
{
    if (verdict == 0)
        return {};
    // The camera picture's greys are as light as the verdict colours: the plate keeps them apart.
    const QFontMetricsF m(font(verdictPixels(r.height()), true));
    const qreal w = m.horizontalAdvance(verdictText(verdict)) + 16;
    const QRectF plate(r.right() - 12 - w, r.top() + 4, w, m.height() + 4);
    p.fillRect(plate, kVerdictPlate);
    return plate;
}

QRectF verdict(QPainter &p, const QRectF &r, int verdict)
{
    const QRectF plate = verdictPlate(p, r, verdict);
    if (plate.isEmpty())
        return plate;
    p.save();
    p.setPen(verdict > 0 ? kOk : kNgOnDark);
    p.setFont(font(verdictPixels(r.height()), true));
    p.drawText(plate, Qt::AlignCenter, verdictText(verdict));
    p.restore();
    return plate;
}

} // namespace helpdraw

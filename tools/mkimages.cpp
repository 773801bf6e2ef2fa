// Draws the interface pixmaps of the box into a folder: simple, flat, touch-sized graphics.
// Usage: mkimages <output folder>

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <functional>
#include <cstdio>

namespace {

const QColor kBlue(0x1f, 0x5f, 0x9f);
const QColor kLightBlue(0x6f, 0xa8, 0xdc);
const QColor kDark(0x22, 0x2b, 0x36);

QImage canvas(int w, int h, QColor fill = Qt::transparent)
{
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    img.fill(fill);
    return img;
}

QImage gradient(int w, int h, QColor top, QColor bottom, int radius = 0)
{
    QImage img = canvas(w, h);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 0, h);
    g.setColorAt(0, top);
    g.setColorAt(1, bottom);
    p.setBrush(g);
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(QRectF(0.5, 0.5, w - 1, h - 1), radius, radius);
    return img;
}

QImage lamp(QColor c)
{
    QImage img = canvas(32, 32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient g(12, 12, 16);
    g.setColorAt(0, c.lighter(170));
    g.setColorAt(1, c);
    p.setBrush(g);
    p.setPen(QPen(c.darker(160), 2));
    p.drawEllipse(QRectF(3, 3, 26, 26));
    return img;
}

QImage roundButton(const std::function<void(QPainter &)> &glyph)
{
    QImage img = canvas(64, 64);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(255, 255, 255, 200));
    p.setPen(QPen(kBlue, 3));
    p.drawEllipse(QRectF(3, 3, 58, 58));
    p.setPen(QPen(kBlue, 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(kBlue);
    glyph(p);
    return img;
}

QImage arrow(int degrees)
{
    return roundButton([degrees](QPainter &p) {
        p.translate(32, 32);
        p.rotate(degrees);
        QPolygonF head;
        head << QPointF(0, -18) << QPointF(13, -2) << QPointF(-13, -2);
        p.drawPolygon(head);
        p.drawLine(QPointF(0, -4), QPointF(0, 16));
    });
}

QImage magnifier(bool plus)
{
    return roundButton([plus](QPainter &p) {
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QRectF(16, 14, 24, 24));
        p.drawLine(QPointF(37, 36), QPointF(48, 47));
        p.drawLine(QPointF(22, 26), QPointF(34, 26));
        if (plus)
            p.drawLine(QPointF(28, 20), QPointF(28, 32));
    });
}

bool save(const QImage &img, const QString &path)
{
    if (!img.save(path)) {
        std::fprintf(stderr, "mkimages: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: mkimages <output folder>\n");
        return 2;
    }
    QDir out(QString::fromLocal8Bit(argv[1]));
    out.mkpath(QStringLiteral("."));
    auto path = [&](const char *name) { return out.filePath(QString::fromLatin1(name)); };

    QImage logo = gradient(240, 80, kLightBlue, kBlue, 12);
    {
        QPainter p(&logo);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(Qt::white, 6));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QRectF(20, 14, 52, 52)); // a lens
        p.drawEllipse(QRectF(36, 30, 20, 20));
        p.drawRect(QRectF(90, 24, 130, 32));   // a mould half
    }
    bool ok = save(logo.convertToFormat(QImage::Format_RGB888), path("logo.bmp"));
    ok &= save(logo, path("logo2.png"));

    // The pages draw white, yellow, green and cyan captions, grey ones for what cannot be chosen, and
    // the version library its red message straight onto these two: both stay dark enough for each of
    // them to read at 4.5:1 or better.
    ok &= save(gradient(1024, 768, QColor(0x12, 0x16, 0x1c), QColor(0x08, 0x0a, 0x0e)),
               path("background.png"));
    ok &= save(gradient(800, 60, QColor(0x14, 0x2c, 0x48), QColor(0x0c, 0x1a, 0x2c)), path("title.png"));
    ok &= save(gradient(800, 4, kBlue, kBlue), path("line.png"));

    QImage edit = gradient(120, 40, Qt::white, QColor(0xf0, 0xf0, 0xf0), 6);
    {
        QPainter p(&edit);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(kBlue, 2));
        p.drawRoundedRect(QRectF(1, 1, 118, 38), 6, 6);
    }
    ok &= save(edit, path("edit.png"));
    ok &= save(lamp(kLightBlue).scaled(40, 40, Qt::IgnoreAspectRatio, Qt::SmoothTransformation), path("slideru.png"));
    ok &= save(lamp(kBlue).scaled(40, 40, Qt::IgnoreAspectRatio, Qt::SmoothTransformation), path("sliderd.png"));
    ok &= save(gradient(300, 12, QColor(0xb0, 0xb8, 0xc0), QColor(0x90, 0x98, 0xa0), 6), path("slidert.png"));
    // The buttons' white text reads on the whole of the released button too.
    ok &= save(gradient(160, 60, QColor(0x2f, 0x6f, 0xb0), kBlue, 10), path("buttonu.png"));
    ok &= save(gradient(160, 60, kBlue, kDark, 10), path("buttond.png"));
    ok &= save(lamp(QColor(0x2e, 0xb8, 0x4b)), path("OUT1.png"));
    ok &= save(lamp(QColor(0x8a, 0x8f, 0x94)), path("OUT0.png"));
    ok &= save(roundButton([](QPainter &p) {
                   p.setBrush(Qt::NoBrush);
                   p.drawRect(QRectF(18, 18, 28, 28));
               }),
               path("Origin.png"));
    ok &= save(arrow(0), path("MoveUp.png"));
    ok &= save(arrow(180), path("MoveDown.png"));
    ok &= save(arrow(270), path("MoveLeft.png"));
    ok &= save(arrow(90), path("MoveRight.png"));
    ok &= save(magnifier(true), path("EnlargeScale.png"));
    ok &= save(magnifier(false), path("ReductionScale.png"));

    ok &= save(roundButton([](QPainter &p) { // wait: three dots
                   for (int i = 0; i < 3; ++i)
                       p.drawEllipse(QPointF(18 + 14 * i, 32), 4, 4);
               }),
               path("wait.png"));
    QImage error = canvas(64, 64);
    {
        QPainter p(&error);
        p.setRenderHint(QPainter::Antialiasing);
        p.setBrush(QColor(0xd0, 0x30, 0x30));
        p.setPen(Qt::NoPen);
        p.drawEllipse(QRectF(3, 3, 58, 58));
        p.setPen(QPen(Qt::white, 7, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(22, 22), QPointF(42, 42));
        p.drawLine(QPointF(42, 22), QPointF(22, 42));
    }
    ok &= save(error, path("error.png"));
    ok &= save(roundButton([](QPainter &p) { // a pencil
                   p.translate(32, 32);
                   p.rotate(45);
                   p.setBrush(Qt::NoBrush);
                   p.drawRect(QRectF(-5, -18, 10, 28));
                   p.drawLine(QPointF(-5, 10), QPointF(0, 18));
                   p.drawLine(QPointF(5, 10), QPointF(0, 18));
               }),
               path("modify.png"));
    ok &= save(roundButton([](QPainter &p) { // wireless arcs
                   p.setBrush(Qt::NoBrush);
                   for (int r = 8; r <= 24; r += 8)
                       p.drawArc(QRectF(32 - r, 44 - r, 2 * r, 2 * r), 45 * 16, 90 * 16);
                   p.setBrush(kBlue);
                   p.drawEllipse(QPointF(32, 44), 3, 3);
               }),
               path("wifi.png"));
    ok &= save(roundButton([](QPainter &p) { // apply and restart: a circular arrow
                   p.setBrush(Qt::NoBrush);
                   p.drawArc(QRectF(16, 16, 32, 32), 60 * 16, 270 * 16);
                   p.setBrush(kBlue);
                   p.drawPolygon(QPolygonF({QPointF(38, 10), QPointF(48, 20), QPointF(34, 23)}));
               }),
               path("Rotate.png"));
    return ok ? 0 : 1;
}

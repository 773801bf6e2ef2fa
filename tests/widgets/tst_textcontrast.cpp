// Every text the pages and boxes draw on the shipped background, title and button pictures reads: 4.5:1 or
// better against every pixel of the picture, 3:1 for text of 24 px and more (the WCAG figures). The
// colours and sizes the pages give are listed here as the pages give them; the boxes' own label colours
// are read from the boxes as they are styled.

#include "passwordbox.h"
#include "testworkdir.h"
#include "uitexttable.h"
#include "warnbox.h"

#include <QImage>
#include <QLabel>
#include <QtTest>

#include <cmath>

namespace {

double linear(int c)
{
    const double s = c / 255.0;
    return s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
}

double luminance(const QColor &c)
{
    return 0.2126 * linear(c.red()) + 0.7152 * linear(c.green()) + 0.0722 * linear(c.blue());
}

double ratio(double a, double b)
{
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

// The lowest contrast of `text` against any pixel of `picture`.
double worstContrast(const QImage &picture, const QColor &text)
{
    double lo = 1.0, hi = 0.0;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) {
            const QColor c = picture.pixelColor(x, y);
            if (c.alpha() < 255) // the rounded corners, where no text goes
                continue;
            const double l = luminance(c);
            lo = std::min(lo, l);
            hi = std::max(hi, l);
        }
    return std::min(ratio(luminance(text), lo), ratio(luminance(text), hi));
}

QColor labelColour(QLabel *label)
{
    label->ensurePolished();
    return label->palette().color(QPalette::WindowText);
}

} // namespace

class TestTextContrast : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { fillUiTextTable(); }

    void textsReadOnTheShippedPictures_data()
    {
        QTest::addColumn<QString>("picture");
        QTest::addColumn<QColor>("colour");
        QTest::addColumn<int>("pixels");
        const QString bg = QStringLiteral("images/background.png");
        const QString title = QStringLiteral("images/title.png");
        // Settings pages, camera-position window, I/O names and multiple-detection pages.
        QTest::newRow("page captions, white 30 px") << bg << QColor(Qt::white) << 30;
        QTest::newRow("unit, Qt green 25 px") << bg << QColor(Qt::green) << 25;
        QTest::newRow("I/O labels, Qt yellow 28 px") << bg << QColor(Qt::yellow) << 28;
        QTest::newRow("password labels, Qt yellow 25 px") << bg << QColor(Qt::yellow) << 25;
        QTest::newRow("camera positions, Qt yellow 20 px") << bg << QColor(Qt::yellow) << 20;
        QTest::newRow("multiple detection, yellow boxes 26 px") << bg << QColor(Qt::yellow) << 26;
        // Version library: column titles and the message boxes (20 px on screens up to 1024 wide).
        QTest::newRow("version columns, yellow 28 px") << bg << QColor(255, 255, 0) << 28;
        QTest::newRow("version message, red 40 px") << bg << QColor(Qt::red) << 40;
        QTest::newRow("version message, red 20 px") << bg << QColor(Qt::red) << 20;
        // Title bars.
        QTest::newRow("settings title, white 30 px") << title << QColor(Qt::white) << 30;
        QTest::newRow("settings version, yellow 32 px") << title << QColor(Qt::yellow) << 32;
        QTest::newRow("serial number, yellow 14 px") << title << QColor(Qt::yellow) << 14;
        QTest::newRow("version library title, cyan 32 px") << title << QColor(0, 255, 255) << 32;
        // Button texts, white at 22 px (27 px Chinese) on the released and the pressed button.
        QTest::newRow("button, white 22 px released")
            << QStringLiteral("images/buttonu.png") << QColor(Qt::white) << 22;
        QTest::newRow("button, white 22 px pressed")
            << QStringLiteral("images/buttond.png") << QColor(Qt::white) << 22;
        // The boxes' own label colours, as styled.
        WarnBox warn;
        const QColor boxText = labelColour(warn.findChild<QLabel *>());
        QTest::newRow("box message 26 px") << bg << boxText << 26;
        PasswordBox password;
        password.tryPassword(QStringLiteral("wrong"));
        QLabel *notice = nullptr;
        for (QLabel *l : password.findChildren<QLabel *>())
            if (l->text() == password.notice() && !l->text().isEmpty())
                notice = l;
        QVERIFY(notice);
        QTest::newRow("wrong-password notice 26 px") << bg << labelColour(notice) << 26;
    }
    void textsReadOnTheShippedPictures()
    {
        QFETCH(QString, picture);
        QFETCH(QColor, colour);
        QFETCH(int, pixels);
        const QImage image(TestWorkDir::shippedDir() + QLatin1Char('/') + picture);
        QVERIFY(!image.isNull());
        const double worst = worstContrast(image, colour);
        const double needed = pixels >= 24 ? 3.0 : 4.5;
        QVERIFY2(worst >= needed, qPrintable(QStringLiteral("%1:1").arg(worst, 0, 'f', 2)));
    }
};

QTEST_MAIN(TestTextContrast)
#include "tst_textcontrast.moc"

// The help pager over pictures made in the test, each a colour of its own: what the operator sees
// after each press (the colour on screen, not only the page number), with folders of ten, none,
// fifty-one, five and damaged pictures, and the folder chosen by the language.

#include "colorbutton.h"
#include "helpwidget.h"
#include "imagesize.h"
#include "testworkdir.h"
#include "uitexttable.h"

#include <QDir>
#include <QImage>
#include <QtTest>

namespace {

// Picture i: one colour no other picture has; wider than the grey button strip so that it shows.
QRgb pageColour(int i)
{
    return QColor::fromHsv((i * 37) % 360, 220, 120 + (i * 13) % 120).rgb();
}

bool writePictures(const QString &folder, int count)
{
    QDir().mkpath(folder);
    for (int i = 0; i < count; ++i) {
        QImage picture(700, 200, QImage::Format_RGB32);
        picture.fill(pageColour(i));
        if (!picture.save(QStringLiteral("%1/%2.png").arg(folder).arg(i + 1, 2, 10, QLatin1Char('0'))))
            return false;
    }
    return true;
}

// The colour at a point of the picture beside the button strip.
QRgb shownColour(HelpWidget &help)
{
    return help.grab().toImage().pixel(660, 100);
}

} // namespace

class TestHelpWidget : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        fillUiTextTable();
        gShowW = 800;
        gShowH = 600;
    }
    void cleanup() { gLanguage = 0; }

    void paging_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<int>("pictures");
        QTest::addColumn<QString>("damaged"); // a file of that name holding no picture, or ""
        QTest::addColumn<int>("loaded");
        QTest::addColumn<int>("startPage");
        QTest::addColumn<QString>("presses");  // N next, L previous, A alarm
        QTest::addColumn<QList<int>>("pages"); // page after each press; -1 = nothing drawn

        QTest::newRow("10: next from the last wraps") << 0 << 10 << "" << 10 << 9 << "N" << QList<int>{0};
        QTest::newRow("10: pre from the first wraps")
            << 0 << 10 << "" << 10 << 0 << "LL" << QList<int>{9, 8};
        QTest::newRow("10: alarm is the 7th, then pages on")
            << 0 << 10 << "" << 10 << 2 << "ANNLA" << QList<int>{6, 7, 8, 7, 6};
        QTest::newRow("English pages for English") << 1 << 10 << "" << 10 << 8 << "N" << QList<int>{9};
        QTest::newRow("English pages for Japanese") << 3 << 7 << "" << 7 << 0 << "A" << QList<int>{6};
        QTest::newRow("0: nothing moves, nothing drawn")
            << 0 << 0 << "" << 0 << 3 << "NLA" << QList<int>{-1, -1, -1};
        QTest::newRow("51: the 50 loaded page and wrap")
            << 0 << 51 << "" << 50 << 0 << "LNN" << QList<int>{49, 0, 1};
        QTest::newRow("5: no alarm page") << 0 << 5 << "" << 5 << 2 << "AN" << QList<int>{2, 3};
        QTest::newRow("damaged file left out of the count")
            << 0 << 8 << "04a.png" << 8 << 3 << "NA" << QList<int>{4, 6};
        QTest::newRow("page kept from a longer folder") << 0 << 10 << "" << 10 << 40 << "N" << QList<int>{0};
    }
    void paging()
    {
        QFETCH(int, language);
        QFETCH(int, pictures);
        QFETCH(QString, damaged);
        QFETCH(int, loaded);
        QFETCH(int, startPage);
        QFETCH(QString, presses);
        QFETCH(QList<int>, pages);

        TestWorkDir dir(TestWorkDir::Empty);
        // Pictures of the other language are there too and must not be the ones shown.
        const QString own = language == 0 ? QStringLiteral("help") : QStringLiteral("help-en");
        const QString other = language == 0 ? QStringLiteral("help-en") : QStringLiteral("help");
        QVERIFY(writePictures(own, pictures));
        QVERIFY(QDir().mkpath(other));
        QImage white(700, 200, QImage::Format_RGB32);
        white.fill(Qt::white);
        for (int i = 0; i < 12; ++i)
            QVERIFY(white.save(QStringLiteral("%1/%2.png").arg(other).arg(i + 1, 2, 10, QLatin1Char('0'))));
        if (!damaged.isEmpty()) {
            QFile bad(own + QLatin1Char('/') + damaged);
            QVERIFY(bad.open(QIODevice::WriteOnly) && bad.write("not a picture") > 0);
        }

        gLanguage = language;
        HelpWidget help(nullptr);
        QCOMPARE(help.pageCount, loaded);
        QCOMPARE(help.alarmButton->isEnabled(), loaded >= 7);
        gHelpPage = startPage;
        for (int i = 0; i < presses.size(); ++i) {
            ColorButton *button = presses[i] == QLatin1Char('N')   ? help.nextButton
                                  : presses[i] == QLatin1Char('L') ? help.lastButton
                                                                   : help.alarmButton;
            void (HelpWidget::*slot)() = presses[i] == QLatin1Char('N')   ? &HelpWidget::SlotNext
                                         : presses[i] == QLatin1Char('L') ? &HelpWidget::SlotLast
                                                                          : &HelpWidget::SlotAlarm;
            // A greyed-out button is not pressable; its slot must do nothing all the same.
            if (button->isEnabled())
                button->click();
            else
                (help.*slot)();
            const QString step = QStringLiteral("press %1").arg(i + 1);
            if (pages[i] < 0) {
                QVERIFY2(shownColour(help) == qRgb(255, 255, 255), qPrintable(step));
                QCOMPARE(gHelpPage, startPage);
            } else {
                QVERIFY2(gHelpPage == pages[i],
                         qPrintable(step + QStringLiteral(": page %1").arg(gHelpPage)));
                QVERIFY2(shownColour(help) == pageColour(pages[i]), qPrintable(step));
            }
        }
        // "Return" hides the pager; shown again it keeps the page.
        help.show();
        const int kept = gHelpPage;
        help.returnButton->click();
        QVERIFY(help.isHidden());
        help.show();
        QCOMPARE(gHelpPage, kept);
    }
};

QTEST_MAIN(TestHelpWidget)
#include "tst_helpwidget.moc"

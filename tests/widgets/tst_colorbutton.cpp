// Button texts: words wrap between blanks; a Chinese or Japanese text too long for its button is drawn
// smaller on one line instead of breaking inside a word, down to a size that stays readable.

#include "colorbutton.h"
#include "uitexttable.h"
#include "uistyle.h"

#include <QFontMetrics>
#include <QtTest>

class TestColorButton : public QObject
{
    Q_OBJECT
private slots:
    void textFitsItsButton_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("width");
        QTest::addColumn<bool>("smaller");
        QTest::newRow("ja word too long: smaller, one line")
            << 3 << QStringLiteral("パスワード変更") << 150 << true;
        QTest::newRow("ja word fits") << 3 << QStringLiteral("確定") << 150 << false;
        QTest::newRow("zh word fits") << 0 << QStringLiteral("参数组备份") << 150 << false;
        QTest::newRow("en words wrap at blanks")
            << 1 << QStringLiteral("calibrate touch screen") << 150 << false;
        QTest::newRow("far too long: wraps at full size")
            << 3 << QStringLiteral("パスワード変更パスワード変更パスワード変更") << 150 << false;
        QTest::newRow("no width: full size") << 3 << QStringLiteral("パスワード変更") << 0 << false;
    }
    void textFitsItsButton()
    {
        QFETCH(int, language);
        QFETCH(QString, text);
        QFETCH(int, width);
        QFETCH(bool, smaller);
        const int keep = gLanguage;
        gLanguage = language;
        ColorButton button(text);
        button.resize(width, 60);
        const int full = button.textPixelSize();
        const int fitted = button.fittedTextPixelSize();
        gLanguage = keep;
        QCOMPARE(fitted < full, smaller);
        if (smaller) {
            QVERIFY(fitted >= std::max(14, full * 7 / 10));
            QVERIFY(QFontMetrics(uiFont(fitted)).horizontalAdvance(text) <= width - 8);
            QVERIFY(QFontMetrics(uiFont(full)).horizontalAdvance(text) > width - 8);
        }
    }
};

QTEST_MAIN(TestColorButton)
#include "tst_colorbutton.moc"

// Button texts keep the size the pages give them (27 px Chinese, 22 px the other languages; 30 / 24 px
// in the menu bar): a text wider than its button breaks onto a second line, between words or, in
// Chinese and Japanese, between characters, and never shrinks; a single character is never left alone
// on the last line.

#include "colorbutton.h"
#include "uitexttable.h"
#include "uistyle.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QTextLayout>
#include <QtTest>

class TestColorButton : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (!QFontDatabase().families().contains(QStringLiteral("WenQuanYi Micro Hei")))
            QSKIP("fonts-wqy-microhei is not installed");
        QCOMPARE(QFontInfo(uiFont(22)).family(), QStringLiteral("WenQuanYi Micro Hei"));
    }

    void textFitsItsButton_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<int>("sizeCode");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("size"); // px the text is drawn at
        QTest::addColumn<int>("lines");
        QTest::newRow("ja word too long: two lines at 22 px")
            << 3 << 3 << QStringLiteral("パスワード変更") << 150 << 22 << 2;
        QTest::newRow("ja word fits") << 3 << 3 << QStringLiteral("確定") << 150 << 22 << 1;
        QTest::newRow("zh word fits") << 0 << 3 << QStringLiteral("参数组备份") << 150 << 27 << 1;
        QTest::newRow("zh too long: two lines at 27 px")
            << 0 << 3 << QStringLiteral("触摸屏校正参数组") << 150 << 27 << 2;
        QTest::newRow("en words wrap at blanks")
            << 1 << 3 << QStringLiteral("calibrate touch screen") << 150 << 22 << 2;
        QTest::newRow("en one word wider than the button breaks inside it")
            << 1 << 3 << QStringLiteral("Calibration") << 100 << 22 << 2;
        QTest::newRow("ja lone character stays where its word would not fit beside it")
            << 3 << 3 << QStringLiteral("1 Parameters値") << 142 << 22 << 2;
        QTest::newRow("menu bar: the text's own line break kept")
            << 3 << 4 << QStringLiteral("完成品の手動\nスナップショット") << 230 << 24 << 2;
        QTest::newRow("menu bar keeps 24 px")
            << 1 << 4 << QStringLiteral("Parameter Settings") << 170 << 24 << 2;
    }
    void textFitsItsButton()
    {
        QFETCH(int, language);
        QFETCH(int, sizeCode);
        QFETCH(QString, text);
        QFETCH(int, width);
        QFETCH(int, size);
        QFETCH(int, lines);
        const int keep = gLanguage;
        gLanguage = language;
        ColorButton button(text, nullptr, sizeCode);
        button.resize(width, sizeCode == 4 ? 83 : 60);
        const int drawn = button.textPixelSize();
        const QStringList shown = button.textLines();
        const int step = button.lineStep(shown.size());
        gLanguage = keep;
        QCOMPARE(drawn, size);
        QCOMPARE(shown.size(), lines);
        // Nothing of the text is lost and every line fits inside the button's 4 px margins.
        QString joined = shown.join(QString());
        QString whole = text;
        QCOMPARE(joined.remove(QLatin1Char(' ')), whole.remove(QLatin1Char(' ')).remove(QLatin1Char('\n')));
        const QFontMetrics metrics(uiFont(size));
        for (const QString &line : shown)
            QVERIFY2(metrics.horizontalAdvance(line) <= width - 8, qPrintable(line));
        // The lines stand apart and inside the button's 2 px margins.
        QVERIFY(step > size);
        QVERIFY(step * lines <= button.height() - 4);
    }

    // Every text of the interface table, in every language, at the widths of the settings buttons (150
    // px) and the region editor's (164 px tools, 123 px alarm review, at 1920 x 1080): the lines of
    // filling each line as far as it goes, except where that leaves one character (not a one-letter
    // word) alone on a paragraph's last line; then as many lines, the last of two characters or more.
    void captionsLeaveNoCharacterAlone()
    {
        fillUiTextTable();
        QHash<QString, QString> listed = {{"150 パスワード変更", "パスワード/変更"},
                                          {"150 APPライブラリ", "APPライブ/ラリ"},
                                          {"164 このエリアを削除", "このエリアを/削除"},
                                          {"123 無視点を削除", "無視点を/削除"},
                                          {"164 刪除所有區域", "刪除所有/區域"},
                                          {"123 添加為模板", "添加為/模板"},
                                          {"123 忽略報警點", "忽略報/警點"}};
        const int keep = gLanguage;
        QStringList problems;
        for (gLanguage = 0; gLanguage < kUiLanguages; ++gLanguage)
            for (int width : {123, 150, 164}) {
                ColorButton button(QString(), nullptr, 3);
                button.resize(width, 60);
                for (int row = 0; row < kUiTextRows; ++row) {
                    QStringList greedy;
                    bool alone = false;
                    for (const QString &paragraph :
                         QString(uiText(row)).remove(QLatin1Char('\r')).split('\n')) {
                        QTextLayout layout(paragraph, uiFont(button.textPixelSize()));
                        QTextOption anywhere;
                        anywhere.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
                        layout.setTextOption(anywhere);
                        layout.beginLayout();
                        bool single = false;
                        for (QTextLine line = layout.createLine(); line.isValid();
                             line = layout.createLine()) {
                            line.setLineWidth(width - 8);
                            greedy << paragraph.mid(line.textStart(), line.textLength()).trimmed();
                            single = line.textStart() > 0 && greedy.last().toUcs4().size() == 1 &&
                                     !paragraph.at(line.textStart() - 1).isSpace();
                        }
                        layout.endLayout();
                        alone |= single;
                    }
                    button.setText(uiText(row));
                    const QStringList shown = button.textLines();
                    const QString key = QStringLiteral("%1 %2").arg(width).arg(uiText(row));
                    if (listed.contains(key) && listed.take(key) != shown.join(QLatin1Char('/')))
                        problems << key + QStringLiteral(": ") + shown.join(QLatin1Char('/'));
                    if (greedy.size() <= button.maxTextLines() && !uiText(row).trimmed().isEmpty() &&
                        (alone ? shown.size() != greedy.size() || shown.last().size() < 2 : shown != greedy))
                        problems << QStringLiteral("%1, %2 px: %3")
                                        .arg(gLanguage)
                                        .arg(width)
                                        .arg(shown.join('/'));
                }
            }
        gLanguage = keep;
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
        QVERIFY2(listed.isEmpty(), qPrintable(listed.keys().join(QLatin1Char(','))));
    }

    // An archive name from a server's listing can be as long as the listing: the button shows the
    // lines that stand apart in it, the last one ending in "…", and keeps the whole name as its text
    // (the version dialog downloads by it).
    void longTextIsCutToWhatTheButtonShows_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("lines"); // lines at least text size + 1 px apart inside 2 px margins
        const QString word =
            QStringLiteral("V17_") + QString(100000, QLatin1Char('x')) + QStringLiteral(".rar");
        QString words;
        while (words.size() < 100000)
            words += QStringLiteral("V17 2.5.0 ");
        // The version dialog's buttons are 200 x 50: 46 px room for lines 23 px apart at 22 px, one
        // line of 28 px at 27 px.
        QTest::newRow("en 100,000-character word, version button") << 1 << word << QSize(200, 50) << 2;
        QTest::newRow("zh 100,000-character word, version button") << 0 << word << QSize(200, 50) << 1;
        QTest::newRow("ja 100,000-character word, 160 x 60 page button") << 3 << word << QSize(160, 60) << 2;
        QTest::newRow("zh-tw 100,000 characters of words") << 2 << words << QSize(160, 60) << 2;
        QTest::newRow("en 100,000 line breaks")
            << 1 << QStringLiteral("V17") + QString(100000, QLatin1Char('\n')) << QSize(200, 50) << 2;
        QTest::newRow("en three short lines in a two-line button")
            << 1 << QStringLiteral("one\ntwo\nthree") << QSize(160, 60) << 2;
        // 66 px of room: lines of 22 px text 23 px apart, two of them (three 22 px apart would touch).
        QTest::newRow("en 70 px button holds two lines")
            << 1 << QStringLiteral("V17 2.5.0 V17 2.5.1 V17 2.5.2 V17 2.5.3") << QSize(160, 70) << 2;
        // Characters outside the basic plane are two UTF-16 units each; half of one measures narrower
        // than this face (drawn from DejaVu Sans): a button as wide as a line cut by such a half.
        const uint face = 0x1F600;
        const QString wide = QString::fromUcs4(&face, 1);
        const int room =
            QFontMetrics(uiFont(22)).horizontalAdvance(wide.repeated(4) + wide.left(1) + QChar(0x2026));
        QTest::newRow("ja characters outside the basic plane cut whole")
            << 3 << wide.repeated(400) << QSize(room + 8, 60) << 2;
    }
    void longTextIsCutToWhatTheButtonShows()
    {
        QFETCH(int, language);
        QFETCH(QString, text);
        QFETCH(QSize, size);
        QFETCH(int, lines);
        const int keep = gLanguage;
        gLanguage = language;
        ColorButton button(text, nullptr, 3);
        button.resize(size);
        const QStringList shown = button.textLines();
        const int px = button.textPixelSize();
        const int step = button.lineStep(shown.size());
        gLanguage = keep;
        QCOMPARE(button.text(), text);
        QCOMPARE(shown.size(), lines);
        QVERIFY(step > px);
        QVERIFY(step * shown.size() <= size.height() - 4);
        const QFontMetrics metrics(uiFont(px));
        for (const QString &line : shown)
            QVERIFY2(metrics.horizontalAdvance(line) <= size.width() - 8, qPrintable(line));
        const QChar ellipsis(0x2026);
        QVERIFY2(shown.last().endsWith(ellipsis), qPrintable(shown.last()));
        for (int i = 0; i + 1 < shown.size(); ++i)
            QVERIFY(!shown.at(i).contains(ellipsis));
        for (const QString &line : shown) // no half of a character
            QCOMPARE(QString::fromUtf8(line.toUtf8()), line);
        // What is shown is the start of the text, in order, with nothing left out.
        QString joined = shown.join(QString());
        joined.chop(1);
        joined.remove(QLatin1Char(' '));
        QString whole = text;
        whole.remove(QLatin1Char(' ')).remove(QLatin1Char('\n'));
        QVERIFY2(whole.startsWith(joined), qPrintable(joined));
    }
};

QTEST_MAIN(TestColorButton)
#include "tst_colorbutton.moc"

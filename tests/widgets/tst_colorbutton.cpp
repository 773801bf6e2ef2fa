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
        QTest::addColumn<QStringList>("shownLines"); // where given
        // The settings pages' buttons are 150 px wide; the region editor's are 164 px (its tools) and
        // 123 px (alarm review) at 1920 x 1080. Greedy filling would leave the last character alone.
        const auto two = [](const char *first, const char *second) {
            return QStringList{QString::fromUtf8(first), QString::fromUtf8(second)};
        };
        QTest::newRow("ja settings button, not a character alone")
            << 3 << 3 << QStringLiteral("パスワード変更") << 150 << 22 << 2 << two("パスワード", "変更");
        QTest::newRow("ja version library, not a character alone")
            << 3 << 3 << QStringLiteral("APPライブラリ") << 150 << 22 << 2 << two("APPライブ", "ラリ");
        QTest::newRow("ja region tools, not a character alone")
            << 3 << 3 << QStringLiteral("このエリアを削除") << 164 << 22 << 2 << two("このエリアを", "削除");
        QTest::newRow("ja alarm review, not a character alone")
            << 3 << 3 << QStringLiteral("無視点を削除") << 123 << 22 << 2 << two("無視点を", "削除");
        QTest::newRow("zh-tw region tools, not a character alone")
            << 2 << 3 << QStringLiteral("刪除所有區域") << 164 << 27 << 2 << two("刪除所有", "區域");
        QTest::newRow("zh-tw alarm review, add template")
            << 2 << 3 << QStringLiteral("添加為模板") << 123 << 27 << 2 << two("添加為", "模板");
        QTest::newRow("zh-tw alarm review, ignore alarm point")
            << 2 << 3 << QStringLiteral("忽略報警點") << 123 << 27 << 2 << two("忽略報", "警點");
        QTest::newRow("ja small kana never starts a line")
            << 3 << 3 << QStringLiteral("ゲートウェイ") << 120 << 22 << 2 << two("ゲート", "ウェイ");
        QTest::newRow("ja word fits") << 3 << 3 << QStringLiteral("確定") << 150 << 22 << 1 << QStringList();
        QTest::newRow("zh word fits")
            << 0 << 3 << QStringLiteral("参数组备份") << 150 << 27 << 1 << QStringList();
        QTest::newRow("zh too long: two lines at 27 px")
            << 0 << 3 << QStringLiteral("触摸屏校正参数组") << 150 << 27 << 2 << two("触摸屏校正", "参数组");
        QTest::newRow("en words wrap at blanks") << 1 << 3 << QStringLiteral("calibrate touch screen") << 150
                                                 << 22 << 2 << two("calibrate", "touch screen");
        QTest::newRow("en one-letter word keeps its own line")
            << 1 << 3 << QStringLiteral("Delete area a") << 130 << 22 << 2 << two("Delete area", "a");
        QTest::newRow("en one word wider than the button breaks inside it")
            << 1 << 3 << QStringLiteral("Calibration") << 100 << 22 << 2 << QStringList();
        QTest::newRow("menu bar: the text's own line break kept")
            << 3 << 4 << QStringLiteral("完成品の手動\nスナップショット") << 230 << 24 << 2
            << two("完成品の手動", "スナップショット");
        QTest::newRow("menu bar keeps 24 px")
            << 1 << 4 << QStringLiteral("Parameter Settings") << 170 << 24 << 2 << QStringList();
    }
    void textFitsItsButton()
    {
        QFETCH(int, language);
        QFETCH(int, sizeCode);
        QFETCH(QString, text);
        QFETCH(int, width);
        QFETCH(int, size);
        QFETCH(int, lines);
        QFETCH(QStringList, shownLines);
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
        if (!shownLines.isEmpty())
            QCOMPARE(shown, shownLines);
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

    // Every text of the interface table, in every language, at the pages' button widths: the lines are
    // those of filling each line as far as it goes, except where that leaves one character alone on a
    // paragraph's last line; then the last line holds two or more and the count stays.
    void otherCaptionsKeepTheirLines()
    {
        fillUiTextTable();
        const int keep = gLanguage;
        QStringList problems;
        int moved = 0;
        for (int language = 0; language < kUiLanguages; ++language) {
            gLanguage = language;
            for (int width : {123, 150, 164}) {
                ColorButton button(QString(), nullptr, 3);
                button.resize(width, 60);
                const QFont font = uiFont(button.textPixelSize());
                for (int row = 0; row < kUiTextRows; ++row) {
                    const QString text = uiText(row);
                    if (text.trimmed().isEmpty())
                        continue;
                    QStringList greedy;
                    bool alone = false;
                    for (const QString &paragraph :
                         QString(text).remove(QLatin1Char('\r')).split(QLatin1Char('\n'))) {
                        QTextLayout layout(paragraph, font);
                        QTextOption option;
                        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
                        layout.setTextOption(option);
                        layout.beginLayout();
                        int lines = 0;
                        int lastStart = 0;
                        for (QTextLine line = layout.createLine(); line.isValid();
                             line = layout.createLine()) {
                            line.setLineWidth(width - 8);
                            greedy << paragraph.mid(line.textStart(), line.textLength()).trimmed();
                            lastStart = line.textStart();
                            ++lines;
                        }
                        layout.endLayout();
                        // One character, not a one-letter word of its own.
                        alone |= lines > 1 && greedy.last().toUcs4().size() == 1 &&
                                 !paragraph.at(lastStart - 1).isSpace();
                    }
                    if (greedy.size() > button.maxTextLines())
                        continue; // cut with "…": checked in longTextIsCutToWhatTheButtonShows
                    button.setText(text);
                    const QStringList shown = button.textLines();
                    if (!alone && shown != greedy)
                        problems << QStringLiteral("language %1, %2 px: \"%3\" shown as \"%4\"")
                                        .arg(language)
                                        .arg(width)
                                        .arg(greedy.join(QLatin1Char('/')), shown.join(QLatin1Char('/')));
                    if (alone) {
                        ++moved;
                        if (shown.size() != greedy.size() || shown.last().size() < 2)
                            problems << QStringLiteral("language %1, %2 px: \"%3\" left alone")
                                            .arg(language)
                                            .arg(width)
                                            .arg(shown.join(QLatin1Char('/')));
                    }
                }
            }
        }
        gLanguage = keep;
        qInfo() << moved << "captions took a character down";
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
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
        // Characters outside the basic plane are two UTF-16 units each, and half of one is drawn as a
        // box: the button is made as wide as the last shown line cut by one such half would be.
        const QFontMetrics metrics(uiFont(22));
        const QString ellipsis(QChar(0x2026));
        for (uint c : {0x1F600u, 0x1D416u, 0x1D54Eu, 0x20000u}) {
            const QString wide = QString::fromUcs4(&c, 1);
            if (metrics.horizontalAdvance(wide) <= metrics.horizontalAdvance(wide.left(1)))
                continue; // cutting it in half makes it no narrower here
            const int room = metrics.horizontalAdvance(wide.repeated(4) + wide.left(1) + ellipsis);
            QTest::newRow("ja characters outside the basic plane cut whole")
                << 3 << wide.repeated(400) << QSize(room + 8, 60) << 2;
            break;
        }
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
        for (const QString &line : shown)
            for (int i = 0; i < line.size(); ++i)
                QVERIFY2(line.at(i).isHighSurrogate() ==
                                 (i + 1 < line.size() && line.at(i + 1).isLowSurrogate()) &&
                             (!line.at(i).isLowSurrogate() || (i > 0 && line.at(i - 1).isHighSurrogate())),
                         qPrintable(QStringLiteral("half a character at %1 of \"%2\"").arg(i).arg(line)));
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

// The input widgets as the settings pages use them: numeric boxes, address fields, drop-down lists, and
// the on-screen pads that a touch on a field opens and that type into it.

#include "choosedialogs.h"
#include "combobox.h"
#include "edit.h"
#include "editbox.h"
#include "editdatetime.h"
#include "editip.h"
#include "numberinput.h"
#include "numcharinput.h"
#include "uistyle.h"
#include "uitexttable.h"

#include <QAbstractItemView>
#include <QFontInfo>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleOptionSpinBox>
#include <QtTest>

namespace {
// The clock editor's parts as its style places them.
struct ClockParts : EditDateTime
{
    static QRect part(const EditDateTime *editor, QStyle::SubControl which)
    {
        QStyleOptionSpinBox option;
        (editor->*(&ClockParts::initStyleOption))(&option);
        return editor->style()->subControlRect(QStyle::CC_SpinBox, &option, which, editor);
    }
};

void press(Keypad *pad, const QString &keys)
{
    for (const QString &id : keys.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        QPushButton *key = pad->key(id);
        QVERIFY2(key, qPrintable(id));
        QTest::mouseClick(key, Qt::LeftButton);
    }
}
} // namespace

class TestTouchInput : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { fillUiTextTable(); }
    void cleanup()
    {
        delete gNumberInput;
        delete gNumCharInput;
        QVERIFY(!gNumberInput && !gNumCharInput);
    }

    // Each row: box range and display, zero allowed, the values set in turn, and what the box then
    // holds and shows after the last one. Every set emits, changed or not.
    void editBoxKeepsItsRange_data()
    {
        QTest::addColumn<int>("min");
        QTest::addColumn<int>("max");
        QTest::addColumn<int>("displayType");
        QTest::addColumn<int>("scale");
        QTest::addColumn<bool>("zeroAllowed");
        QTest::addColumn<QList<int>>("set");
        QTest::addColumn<QList<int>>("emitted");
        QTest::addColumn<QString>("shown");
        QTest::newRow("above max") << 0 << 10 << 0 << 1 << false << QList<int>{3, 11} << QList<int>{3, 10}
                                   << "10";
        QTest::newRow("below min") << 1 << 20 << 0 << 1 << false << QList<int>{-4} << QList<int>{1} << "1";
        QTest::newRow("same value emits again")
            << 0 << 100 << 0 << 1 << false << QList<int>{7, 7} << QList<int>{7, 7} << "7";
        QTest::newRow("zero allowed below min (screen off)")
            << 30 << 9999 << 0 << 1 << true << QList<int>{0} << QList<int>{0} << "0";
        QTest::newRow("zero allowed, other values still clamp")
            << 30 << 9999 << 0 << 1 << true << QList<int>{5, -1} << QList<int>{30, 30} << "30";
        QTest::newRow("zero not allowed") << 30 << 9999 << 0 << 1 << false << QList<int>{0} << QList<int>{30}
                                          << "30";
        QTest::newRow("tenths of a second") << 0 << 10000 << 2 << 10 << false << QList<int>{25} << QList<int>{25}
                                            << "2.5";
        QTest::newRow("tenths, clamped") << 0 << 1000 << 2 << 10 << false << QList<int>{1234}
                                         << QList<int>{1000} << "100.0";
        QTest::newRow("scale 1 shows whole seconds")
            << 0 << 10000 << 2 << 1 << false << QList<int>{40} << QList<int>{40} << "40";
    }
    void editBoxKeepsItsRange()
    {
        QFETCH(int, min);
        QFETCH(int, max);
        QFETCH(int, displayType);
        QFETCH(int, scale);
        QFETCH(bool, zeroAllowed);
        QFETCH(QList<int>, set);
        QFETCH(QList<int>, emitted);
        QFETCH(QString, shown);
        EditBox box(min, max, nullptr, QStringLiteral("Scr Off"), QStringLiteral("S"), displayType, scale);
        box.setZeroAllowed(zeroAllowed);
        QSignalSpy spy(&box, &EditBox::valueChanged);
        for (int v : set)
            box.setValue(v);
        QList<int> got;
        for (const QList<QVariant> &args : spy)
            got << args.at(0).toInt();
        QCOMPARE(got, emitted);
        QCOMPARE(box.value(), emitted.last());
        QCOMPARE(box.field()->text(), shown);
    }

    // Steps and typing go through the same rule; with zero allowed, 0 is one step below min.
    void editBoxStepsAndTypedValues()
    {
        EditBox box(30, 9999, nullptr, QStringLiteral("Scr Off"), QStringLiteral("S"), 0, 1);
        box.setZeroAllowed(true);
        box.setValue(32);
        auto button = [&](const QString &label) {
            for (QPushButton *b : box.findChildren<QPushButton *>())
                if (b->text() == label)
                    return b;
            return static_cast<QPushButton *>(nullptr);
        };
        QTest::mouseClick(button(QStringLiteral("- 5")), Qt::LeftButton);
        QCOMPARE(box.value(), 30);
        QTest::mouseClick(button(QStringLiteral("- 1")), Qt::LeftButton);
        QCOMPARE(box.value(), 0);
        QTest::mouseClick(button(QStringLiteral("+ 1")), Qt::LeftButton);
        QCOMPARE(box.value(), 30);
        QTest::mouseClick(button(QStringLiteral("+ 5")), Qt::LeftButton);
        QCOMPARE(box.value(), 35);
        QVERIFY(button(QStringLiteral("+ 5"))->autoRepeat());

        // Tenths of a second typed as seconds on the digit pad.
        EditBox delay(0, 10000, nullptr, QStringLiteral("Proc DLY"), QStringLiteral("S"), 2, 10);
        delay.show();
        QTest::mouseClick(delay.field(), Qt::LeftButton);
        QVERIFY(gNumberInput && gNumberInput->isVisible());
        QSignalSpy spy(&delay, &EditBox::valueChanged);
        press(gNumberInput, QStringLiteral("clear 1 2 . 3 5 ok"));
        QCOMPARE(spy.count(), 1);
        QCOMPARE(delay.value(), 124); // 12.35 s rounds to 124 tenths
        QCOMPARE(delay.field()->text(), QStringLiteral("12.4"));
        QVERIFY(!gNumberInput->isVisible());
        // Text that is no number leaves the value.
        delay.field()->setText(QStringLiteral("-"));
        emit delay.field()->editingFinished();
        QCOMPARE(delay.value(), 124);
        QCOMPARE(delay.field()->text(), QStringLiteral("12.4"));
    }

    void editIpJoinsAndSplits_data()
    {
        QTest::addColumn<QString>("set");
        QTest::addColumn<QString>("text");
        QTest::newRow("address") << "192.168.1.20" << "192.168.1.20";
        QTest::newRow("empty") << "" << "0.0.0.0";
        QTest::newRow("short") << "10.1" << "10.1.0.0";
        QTest::newRow("non-numeric field") << "10.x.3.4" << "10.0.3.4";
        QTest::newRow("above 255") << "300.1.2.256" << "0.1.2.0";
        QTest::newRow("leading zeros") << "010.001.2.3" << "10.1.2.3";
        QTest::newRow("blanks around") << " 8. 8 .8.8" << "8.8.8.8";
        QTest::newRow("extra parts ignored") << "1.2.3.4.5" << "1.2.3.4";
    }
    void editIpJoinsAndSplits()
    {
        QFETCH(QString, set);
        QFETCH(QString, text);
        EditIP ip(QStringLiteral("IP :"));
        ip.setText(set);
        QCOMPARE(ip.text(), text);
    }

    // The address caption, 150 px in the card editor, leaves no character alone on its last line; a
    // caption without one keeps the lines its label gives it.
    void editIpCaptionLines_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("shown");
        QTest::newRow("ja gateway: small kana keep to their word") << 3 << QStringLiteral("ゲート\nウェイ");
        QTest::newRow("en gateway, two words") << 1 << QStringLiteral("Default gateway");
        QTest::newRow("zh-tw gateway, one line") << 2 << QStringLiteral("預設閘道器");
    }
    void editIpCaptionLines()
    {
        QFETCH(int, language);
        QFETCH(QString, shown);
        if (QFontInfo(uiFont(26)).family() != QLatin1String("WenQuanYi Micro Hei"))
            QSKIP("fonts-wqy-microhei is not installed");
        EditIP ip(uiText(611, language));
        ip.resize(550, 60);
        ip.show();
        QLabel *caption = ip.findChildren<QLabel *>().value(0);
        QCOMPARE(caption->width(), 150);
        QCOMPARE(caption->text(), shown);
    }

    // What a hand types into one field: never above 255, never more than three digits.
    void editIpFieldTakesOnlyAnOctet()
    {
        EditIP ip(QStringLiteral("IP :"));
        ip.show();
        QSignalSpy changes(&ip, &EditIP::textchange);
        QTest::mouseClick(ip.field(2), Qt::LeftButton);
        QVERIFY(gNumberInput && gNumberInput->target() == ip.field(2));
        press(gNumberInput, QStringLiteral("2 5 6"));
        QCOMPARE(ip.field(2)->text(), QStringLiteral("25"));
        press(gNumberInput, QStringLiteral("bs 5 5 9 . -"));
        QCOMPARE(ip.field(2)->text(), QStringLiteral("255"));
        QCOMPARE(ip.text(), QStringLiteral("0.0.255.0"));
        QVERIFY(changes.count() >= 3);
    }

    // A touch opens the pad the field's flags name, beside the field; the other pad closes.
    void editOpensItsKeypad_data()
    {
        QTest::addColumn<int>("flags");
        QTest::addColumn<bool>("keyboard");
        QTest::addColumn<bool>("masked");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QString>("typed");
        QTest::newRow("password on the digit pad") << 5 << false << true << "1 2 3 4 bs 9" << "1239";
        QTest::newRow("number field") << 0 << false << false << "- 4 . 5 clear 7" << "7";
        QTest::newRow("full keyboard letters") << 6 << true << false << "a b 1 space c" << "ab1 c";
        QTest::newRow("shift types capitals once set")
            << 6 << true << false << "shift g r shift p" << "GRp";
        QTest::newRow("symbol page") << 6 << true << false << "symbols q w a symbols q" << "!@-q";
        QTest::newRow("backspace and clear") << 6 << true << false << "x y bs z clear k bs" << "";
    }
    void editOpensItsKeypad()
    {
        QFETCH(int, flags);
        QFETCH(bool, keyboard);
        QFETCH(bool, masked);
        QFETCH(QString, keys);
        QFETCH(QString, typed);
        QWidget page;
        page.resize(800, 600);
        Edit other(keyboard ? 0 : 6, &page);
        other.setGeometry(10, 10, 200, 50);
        Edit edit(flags, &page);
        edit.setGeometry(10, 100, 200, 50);
        page.show();
        QTest::mouseClick(&other, Qt::LeftButton);
        QTest::mouseClick(&edit, Qt::LeftButton);
        Keypad *pad = keyboard ? static_cast<Keypad *>(gNumCharInput) : gNumberInput;
        Keypad *otherPad = keyboard ? static_cast<Keypad *>(gNumberInput) : gNumCharInput;
        QVERIFY(pad && pad->isVisible());
        QVERIFY(otherPad && !otherPad->isVisible());
        QCOMPARE(pad->target(), &edit);
        QCOMPARE(edit.echoMode() == QLineEdit::Password, masked);
        // Beside the field, not over it.
        const QRect field(edit.mapToGlobal(QPoint(0, 0)), edit.size());
        QVERIFY(!pad->frameGeometry().intersects(field));
        press(pad, keys);
        QCOMPARE(edit.text(), typed);
        QCOMPARE(other.text(), QString());
        QSignalSpy done(&edit, &QLineEdit::returnPressed);
        press(pad, QStringLiteral("ok"));
        QCOMPARE(done.count(), 1);
        QVERIFY(!pad->isVisible());
        QVERIFY(!pad->target());
    }

    // The clock box's arrows are a fingertip (48 px) each way, apart from each other and from the
    // time, which shows whole between them; a touch on each steps the time its way.
    void clockArrowsAreAFingertip()
    {
        ModifyTimeWidget box;
        box.adjustSize();
        box.layout()->activate();
        EditDateTime *editor = box.editor();
        editor->setDateTime(QDateTime(QDate(2026, 12, 8), QTime(18, 4, 44)));
        const QRect up = ClockParts::part(editor, QStyle::SC_SpinBoxUp);
        const QRect down = ClockParts::part(editor, QStyle::SC_SpinBoxDown);
        const QRect field = ClockParts::part(editor, QStyle::SC_SpinBoxEditField);
        for (const QRect &arrow : {up, down}) {
            QVERIFY2(arrow.width() >= 48 && arrow.height() >= 48,
                     qPrintable(QStringLiteral("%1 x %2").arg(arrow.width()).arg(arrow.height())));
            QVERIFY(editor->rect().contains(arrow));
            QVERIFY(!arrow.intersects(field));
        }
        QVERIFY(!up.intersects(down));
        QVERIFY(editor->fontMetrics().horizontalAdvance(editor->text()) <= field.width());
        box.show();
        const QDateTime before = editor->dateTime();
        QTest::mouseClick(editor, Qt::LeftButton, Qt::NoModifier, up.center());
        QVERIFY(editor->dateTime() > before);
        QTest::mouseClick(editor, Qt::LeftButton, Qt::NoModifier, down.center());
        QCOMPARE(editor->dateTime(), before);
    }

    // An opened list's entries are as high as the page asks, whatever style sheet the page has.
    void comboPopupItemsAreAsHighAsAsked_data()
    {
        QTest::addColumn<QString>("pageSheet");
        QTest::addColumn<int>("itemHeight");
        QTest::newRow("page without a sheet, 50 px") << QString() << 50;
        QTest::newRow("settings page with a sheet of its own, 50 px") << "QLabel{color:white;}" << 50;
        QTest::newRow("settings page, group list 60 px") << "QLabel{color:white;}" << 60;
        QTest::newRow("sheet with a rule of its own for lists, 60 px")
            << "QListView::item{min-height:50px;}" << 60;
    }
    void comboPopupItemsAreAsHighAsAsked()
    {
        QFETCH(QString, pageSheet);
        QFETCH(int, itemHeight);
        QWidget page;
        page.setStyleSheet(pageSheet);
        auto *combo = new ComboBox(&page);
        combo->addItems({QStringLiteral("简体中文"), QStringLiteral("English"), QStringLiteral("日文")});
        styleComboBox(combo, itemHeight);
        page.show();
        combo->showPopup();
        QTRY_VERIFY(combo->view()->isVisible());
        for (int i = 0; i < combo->count(); ++i)
            QCOMPARE(combo->view()->visualRect(combo->model()->index(i, 0)).height(), itemHeight);
    }

    // The calibration box's point count is chosen from a list whose entries are a finger wide, as its
    // own style rule asks, inside a box that has a sheet of its own.
    void calibrationCountListIsAFingerHigh()
    {
        ChooseCaliNumWidget box;
        auto *combo = box.findChild<QComboBox *>();
        QVERIFY(combo);
        box.show();
        combo->showPopup();
        QTRY_VERIFY(combo->view()->isVisible());
        QCOMPARE(combo->count(), 8);
        for (int i = 0; i < combo->count(); ++i)
            QCOMPARE(combo->view()->visualRect(combo->model()->index(i, 0)).height(), 50);
    }

    // The keys the interface table names read in the language in use when the pad opens.
    void keyLabelsFollowTheLanguage()
    {
        gLanguage = 0;
        NumCharInput *pad = numCharInput();
        gLanguage = 1;
        Edit edit(6);
        edit.show();
        pad->openFor(&edit);
        QCOMPARE(pad->key(QStringLiteral("bs"))->text(), QStringLiteral("BS"));
        QCOMPARE(pad->key(QStringLiteral("shift"))->text(), QStringLiteral("Capital"));
        QTest::mouseClick(pad->key(QStringLiteral("shift")), Qt::LeftButton);
        QCOMPARE(pad->key(QStringLiteral("shift"))->text(), QStringLiteral("Lower"));
        QCOMPARE(pad->key(QStringLiteral("symbols"))->text(), QStringLiteral("symbol"));
        gLanguage = 0;
    }
};

QTEST_MAIN(TestTouchInput)
#include "tst_touchinput.moc"

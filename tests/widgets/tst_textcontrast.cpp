// Every text the pages and boxes draw on the shipped background, title and button pictures reads: 4.5:1 or
// better against every pixel of the picture, 3:1 for text of 24 px and more (the WCAG figures). The
// colours and sizes the pages give are listed here as the pages give them; the boxes' own label colours
// are read from the boxes as they are styled. The step buttons, the pads' keys and the boxes' buttons
// read at 4.5:1 as they draw themselves, held down too; and so do the texts of the help pictures, drawn
// by the pieces the help generator draws them with; and a check box's tick against its box; and the
// entries of an opened list, plain and highlighted, wherever its combo box sits.

#include "checkbox.h"
#include "choosebox.h"
#include "choosedialogs.h"
#include "combobox.h"
#include "editbox.h"
#include "helpdrawing.h"
#include "numberinput.h"
#include "numcharinput.h"
#include "passwordbox.h"
#include "readability.h"
#include "testworkdir.h"
#include "uistyle.h"
#include "uitexttable.h"
#include "warnbox.h"

#include <QDialog>
#include <QImage>
#include <QLabel>
#include <QLayout>
#include <QPainter>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QStyledItemDelegate>
#include <QtTest>

#include <memory>

namespace {

using readability::luminance;
using readability::mostCommon;
using readability::ratio;

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

// The face of `button` as it draws itself, released or held down: the colour most of its inside has.
QColor drawnFace(QPushButton *button, bool down)
{
    button->setDown(down);
    const QImage shot = button->grab().toImage();
    button->setDown(false);
    return QColor(mostCommon(shot, shot.rect().adjusted(8, 8, -8, -8)));
}

// The touch widgets whose buttons are checked, by name, laid out at the size they are used at.
std::unique_ptr<QWidget> makeOwner(const QString &name)
{
    std::unique_ptr<QWidget> w;
    if (name == QLatin1String("EditBox")) {
        w = std::make_unique<EditBox>(0, 100, nullptr, QStringLiteral("Gain"), QString(), 0, 1);
        w->resize(900, 50);
    } else if (name == QLatin1String("NumberInput")) {
        w = std::make_unique<NumberInput>(nullptr);
    } else if (name == QLatin1String("NumCharInput")) {
        w = std::make_unique<NumCharInput>(nullptr);
    } else if (name == QLatin1String("WarnBox")) {
        w = std::make_unique<WarnBox>(nullptr);
    } else if (name == QLatin1String("ChooseBox")) {
        w = std::make_unique<ChooseBox>(nullptr);
    } else if (name == QLatin1String("PasswordBox")) {
        w = std::make_unique<PasswordBox>(nullptr);
    }
    if (w) {
        if (w->size().isEmpty() || name != QLatin1String("EditBox"))
            w->adjustSize();
        w->layout()->activate();
    }
    return w;
}

// A combo box with "static state" and "Automatically" in what holds it, styled as `setting` styles it;
// the box goes with its holder.
std::unique_ptr<QWidget> makeComboHolder(const QString &setting, QComboBox **combo)
{
    if (setting == QLatin1String("calibration")) {
        auto box = std::make_unique<ChooseCaliNumWidget>(nullptr);
        *combo = box->findChild<QComboBox *>();
        return box;
    }
    std::unique_ptr<QWidget> holder;
    if (setting.startsWith(QLatin1String("dialog")))
        holder = std::make_unique<QDialog>();
    else
        holder = std::make_unique<QWidget>();
    // The dialogs lay their rows out on a content widget and take their sheet once it is filled.
    auto *content = new QWidget(holder.get());
    auto *box = new ComboBox(content);
    box->addItems({uiText(608), uiText(609)});
    if (setting.endsWith(QLatin1String("combo style")))
        comboBoxStyleSheet(box, new QStyledItemDelegate(box), QString());
    else
        styleComboBox(box, 50);
    const QString cardEditorExtra =
        QStringLiteral("QDialog{background-color:rgb(110,110,110);border: 1px solid #BDBDBD;}");
    if (setting.startsWith(QLatin1String("dialog")))
        dialogStyleSheet(holder.get(),
                         setting == QLatin1String("dialog, combo style") ? cardEditorExtra : QString());
    else if (setting.startsWith(QLatin1String("page")))
        holder->setStyleSheet(QStringLiteral("QLabel{color:white;}"));
    *combo = box;
    return holder;
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

    // White on the cyan of the dialogs reads at 2.3:1; these buttons take a darker cyan of the same
    // family. Every button of each, as it draws itself: 4.5:1 or better, released and held down.
    void touchButtonsRead_data()
    {
        QTest::addColumn<QString>("owner");
        QTest::addColumn<bool>("down");
        const char *const owners[][2] = {{"EditBox", "settings page step buttons"},
                                         {"NumberInput", "digit pad keys"},
                                         {"NumCharInput", "letter pad keys"},
                                         {"WarnBox", "notice box button"},
                                         {"ChooseBox", "question box buttons"},
                                         {"PasswordBox", "password box buttons"}};
        for (const auto &o : owners) {
            QTest::newRow(qPrintable(QStringLiteral("%1, released").arg(QLatin1String(o[1]))))
                << QString::fromLatin1(o[0]) << false;
            QTest::newRow(qPrintable(QStringLiteral("%1, held down").arg(QLatin1String(o[1]))))
                << QString::fromLatin1(o[0]) << true;
        }
    }
    void touchButtonsRead()
    {
        QFETCH(QString, owner);
        QFETCH(bool, down);
        const std::unique_ptr<QWidget> w = makeOwner(owner);
        QVERIFY(w);
        const QList<QPushButton *> buttons = w->findChildren<QPushButton *>();
        QVERIFY(!buttons.isEmpty());
        QStringList problems;
        for (QPushButton *b : buttons) {
            QVERIFY2(b->width() >= 40 && b->height() >= 40, qPrintable(b->text()));
            b->ensurePolished();
            const QColor text = b->palette().color(b->foregroundRole());
            const QColor face = drawnFace(b, down);
            const double r = ratio(luminance(text), luminance(face));
            if (r < 4.5)
                problems << QStringLiteral("\"%1\": %2 on %3 reads at %4:1")
                                .arg(b->text(), text.name(), face.name())
                                .arg(r, 0, 'f', 2);
        }
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
    }

    // A tick is a mark, not text: 3:1 against the unchecked box's fill on the pixels a check changes,
    // under the dialogs' sheet; the text keeps the colour its page gives it.
    void checkBoxTicksRead_data()
    {
        QTest::addColumn<QString>("boxSheet"); // appended to the box's own, as the I/O page does
        QTest::addColumn<QColor>("text");
        QTest::newRow("network dialog, white text") << QString() << QColor(Qt::white);
        QTest::newRow("multiple detection page, yellow text")
            << "QCheckBox{color:yellow;}" << QColor(Qt::yellow);
    }
    void checkBoxTicksRead()
    {
        QFETCH(QString, boxSheet);
        QFETCH(QColor, text);
        QDialog window;
        dialogStyleSheet(&window, QString());
        auto *box = new CheckBox(&window, uiText(599));
        box->setStyleSheet(box->styleSheet() + boxSheet);
        window.show();
        QStyleOptionButton option;
        option.initFrom(box);
        const QRect indicator = box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box);
        const QImage unchecked = box->grab(indicator).toImage();
        box->setChecked(true);
        const QImage checked = box->grab(indicator).toImage();
        const double fill = luminance(QColor(mostCommon(unchecked, unchecked.rect())));
        int readable = 0; // a tick across a 40 px box: some 40 px of stroke, most of it at full strength
        for (int y = 0; y < checked.height(); ++y)
            for (int x = 0; x < checked.width(); ++x)
                readable += checked.pixel(x, y) != unchecked.pixel(x, y) &&
                            ratio(luminance(checked.pixelColor(x, y)), fill) >= 3.0;
        QVERIFY2(readable >= 60, qPrintable(QStringLiteral("%1 pixels at 3:1").arg(readable)));
        QCOMPARE(box->palette().color(QPalette::WindowText), text);
    }

    // An opened list as the user sees it: the text of a plain entry against its background at 4.5:1,
    // the highlighted one at 3:1 (text of 24 px and more; 4.5:1 below), measured on the drawn pixels.
    void popupEntriesRead_data()
    {
        QTest::addColumn<QString>("setting");
        QTest::newRow("card editor: the dialogs' sheet, the combo style") << "dialog, combo style";
        QTest::newRow("settings page: a sheet of its own, item height") << "page, item height";
        QTest::newRow("page's combo in a dialog with its list rule") << "dialog, item height";
        QTest::newRow("calibration count box") << "calibration";
        QTest::newRow("the combo style with no sheet around") << "bare, combo style";
        QTest::newRow("page's combo with no sheet around") << "bare, item height";
    }
    void popupEntriesRead()
    {
        QFETCH(QString, setting);
        QComboBox *combo = nullptr;
        const std::unique_ptr<QWidget> holder = makeComboHolder(setting, &combo);
        QVERIFY(combo && combo->count() >= 2);
        holder->show();
        const QStringList problems = readability::unreadablePopupEntries(combo);
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
    }

    // The help pictures' texts on what the help generator draws behind them.
    void helpPicturesRead_data()
    {
        QTest::addColumn<QString>("piece");
        QTest::addColumn<QColor>("colour");
        QTest::addColumn<int>("pixels");
        QTest::newRow("button, white 15 px on blue") << "button" << helpdraw::kText << 15;
        QTest::newRow("highlighted button, white 15 px on orange") << "highlighted" << helpdraw::kText << 15;
        QTest::newRow("callout number, white 28 px on orange") << "callout" << helpdraw::kText << 28;
        QTest::newRow("title band, white 30 px") << "band" << helpdraw::kText << 30;
        QTest::newRow("verdict OK on a camera picture")
            << "ok" << helpdraw::kOk << helpdraw::verdictPixels(170);
        QTest::newRow("verdict NG on a camera picture")
            << "ng" << helpdraw::kNgOnDark << helpdraw::verdictPixels(170);
    }
    void helpPicturesRead()
    {
        QFETCH(QString, piece);
        QFETCH(QColor, colour);
        QFETCH(int, pixels);
        QImage page(1920, 300, QImage::Format_RGB32);
        page.fill(helpdraw::kPaper);
        QPainter p(&page);
        p.setRenderHint(QPainter::Antialiasing);
        QRect behind; // where the text goes, inside the rounded corners and the frame
        if (piece == QLatin1String("button") || piece == QLatin1String("highlighted")) {
            const QRect r(100, 100, 300, 70);
            helpdraw::button(p, r, QString(), piece == QLatin1String("highlighted"), pixels);
            behind = r.adjusted(helpdraw::kButtonRadius, 4, -helpdraw::kButtonRadius, -4);
        } else if (piece == QLatin1String("callout")) {
            helpdraw::callout(p, QPointF(200, 200), 0);
            behind = QRect(200 - 14, 200 - 14, 28, 28);
        } else if (piece == QLatin1String("band")) {
            helpdraw::titleBand(p, 1920);
            behind = QRect(0, 0, 1920, helpdraw::kBandHeight);
        } else {
            const QRectF picture(600, 50, 260, 170);
            p.fillRect(picture, QColor(0x5a, 0x5f, 0x66)); // the camera picture's lightest grey
            behind = helpdraw::verdictPlate(p, picture, piece == QLatin1String("ok") ? 1 : -1)
                         .toAlignedRect()
                         .adjusted(1, 1, -1, -1);
        }
        p.end();
        QVERIFY(!behind.isEmpty());
        const double worst = worstContrast(page.copy(behind), colour);
        const double needed = pixels >= 24 ? 3.0 : 4.5;
        QVERIFY2(worst >= needed, qPrintable(QStringLiteral("%1:1").arg(worst, 0, 'f', 2)));
    }
};

QTEST_MAIN(TestTextContrast)
#include "tst_textcontrast.moc"

// Usage: widgetgallery <language 0..3> <output folder>
// Run in a folder holding images/ (the shipped interface pictures), on a 1920 x 1080 screen. Builds a
// page with every touch widget, then opens each pad and box over it and saves one PNG per view:
// <output folder>/<language>-<view>.png.

#include "boxtestpolicy.h"
#include "ccomp_dialogframe.h"
#include "ccomp_diawait.h"
#include "checkbox.h"
#include "choosebox.h"
#include "choosedialogs.h"
#include "colorbutton.h"
#include "combobox.h"
#include "edit.h"
#include "editbox.h"
#include "editdatetime.h"
#include "editip.h"
#include "iostatuswidget.h"
#include "numberinput.h"
#include "numcharinput.h"
#include "paramstore.h"
#include "passwordbox.h"
#include "startup.h"
#include "textshowwidget.h"
#include "uistyle.h"
#include "uitexttable.h"
#include "warnbox.h"
#include "widgethooks.h"

#include <QApplication>
#include <QDir>
#include <QGridLayout>
#include <QLabel>
#include <QScreen>
#include <QTextBrowser>
#include <QThread>
#include <QTimer>

#include <cstdio>

namespace {

QString gOut;
QString gLangName;

void settle()
{
    for (int i = 0; i < 20; ++i) {
        QApplication::processEvents();
        QThread::msleep(10);
    }
}

bool shoot(const QString &view)
{
    settle();
    const QString path = QDir(gOut).filePath(gLangName + QLatin1Char('-') + view + QStringLiteral(".png"));
    const bool ok = QGuiApplication::primaryScreen()->grabWindow(0).save(path);
    std::printf("%s %s\n", ok ? "saved" : "FAILED", qPrintable(path));
    return ok;
}

// Shows a box without blocking, centred on the screen, and shoots it.
bool shootBox(QWidget *box, const QString &view)
{
    box->adjustSize();
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    box->move(screen.center() - QPoint(box->width() / 2, box->height() / 2));
    box->show();
    const bool ok = shoot(view);
    box->hide();
    return ok;
}

QLabel *heading(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setFont(uiFont(20));
    label->setStyleSheet(QStringLiteral("color:rgb(0,120,140);"));
    return label;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setFont(boxApplicationFont());
    if (argc != 3) {
        std::fprintf(stderr, "usage: widgetgallery <language 0..3> <output folder>\n");
        return 2;
    }
    gLanguage = qBound(0, QString::fromLocal8Bit(argv[1]).toInt(), 3);
    gLangName = QStringList{QStringLiteral("zh-CN"), QStringLiteral("en"), QStringLiteral("zh-TW"),
                            QStringLiteral("ja")}[gLanguage];
    gOut = QString::fromLocal8Bit(argv[2]);
    QDir().mkpath(gOut);
    fillUiTextTable();
    loadUiPixmaps();
    const QString pointNames[8] = {QStringLiteral("Open"), QStringLiteral("Eject"), QStringLiteral("In 2"),
                                   QStringLiteral("In 3"), QStringLiteral("Clamp"), QStringLiteral("Ejector"),
                                   QStringLiteral("Alarm"), QStringLiteral("Reserve")};
    for (int i = 0; i < 8; ++i)
        gIoPointNames[i] = pointNames[i];
    widgetHooks().cycleTenths = [] { return 123; };

    QWidget page;
    page.setWindowFlags(Qt::FramelessWindowHint);
    page.setGeometry(QGuiApplication::primaryScreen()->geometry());
    page.setAutoFillBackground(true);
    page.setStyleSheet(QStringLiteral("QWidget#page{background-color:rgb(235,240,245);}"));
    page.setObjectName(QStringLiteral("page"));
    auto *grid = new QGridLayout(&page);
    grid->setContentsMargins(30, 20, 30, 60);
    grid->setHorizontalSpacing(40);
    grid->setVerticalSpacing(8);

    int row = 0;
    grid->addWidget(heading(QStringLiteral("EditBox (type 0, type 2 scale 10, zero allowed)"), &page), row++, 0);
    auto *exposure = new EditBox(1, 100, &page, QStringLiteral("Exposure"));
    exposure->setValue(35);
    grid->addWidget(exposure, row++, 0);
    auto *delay = new EditBox(0, 10000, &page, QStringLiteral("Proc DLY"), QStringLiteral("S"), 2, 10);
    delay->setValue(25);
    grid->addWidget(delay, row++, 0);
    auto *screenOff = new EditBox(30, 9999, &page, QStringLiteral("Scr Off"), QStringLiteral("S"));
    screenOff->setZeroAllowed(true);
    screenOff->setValue(0);
    grid->addWidget(screenOff, row++, 0);
    grid->addWidget(heading(QStringLiteral("EditIP"), &page), row++, 0);
    auto *ip = new EditIP(uiText(602), &page);
    ip->setText(QStringLiteral("192.168.1.20"));
    grid->addWidget(ip, row++, 0);
    grid->addWidget(heading(QStringLiteral("Edit: flag 5 (password), flag 6 (keyboard)"), &page), row++, 0);
    auto *pwd = new Edit(Edit::PasswordKeys, &page);
    pwd->setText(QStringLiteral("1234"));
    grid->addWidget(pwd, row++, 0);
    auto *name = new Edit(Edit::FullKeyboard, &page);
    name->setText(QStringLiteral("group A"));
    grid->addWidget(name, row++, 0);
    grid->addWidget(heading(QStringLiteral("EditDateTime"), &page), row++, 0);
    grid->addWidget(new EditDateTime(&page), row++, 0, Qt::AlignLeft);

    int right = 0;
    grid->addWidget(heading(QStringLiteral("CheckBox"), &page), right++, 1);
    auto *check = new CheckBox(&page, uiText(598));
    check->setChecked(true);
    grid->addWidget(check, right++, 1);
    grid->addWidget(new CheckBox(&page, uiText(599)), right++, 1);
    grid->addWidget(heading(QStringLiteral("ComboBox"), &page), right++, 1);
    auto *combo = new ComboBox(&page);
    comboBoxStyleSheet(combo, nullptr, QString());
    for (int r : {608, 609})
        combo->addItem(uiText(r));
    grid->addWidget(combo, right++, 1);
    grid->addWidget(heading(QStringLiteral("ColorButton: size 3, size 4, picture"), &page), right++, 1);
    auto *buttons = new QWidget(&page);
    auto *buttonRow = new QHBoxLayout(buttons);
    auto *b3 = new ColorButton(uiText(209), buttons, 3);
    b3->setFixedSize(b3->sizeHint());
    auto *b4 = new ColorButton(uiText(215), buttons, 4);
    b4->setFixedSize(b4->sizeHint());
    auto *pic = new ColorButton(gPixEnlargeScale ? *gPixEnlargeScale : QPixmap(), buttons);
    pic->setFixedSize(64, 64);
    buttonRow->addWidget(b3);
    buttonRow->addWidget(b4);
    buttonRow->addWidget(pic);
    buttonRow->addStretch(1);
    grid->addWidget(buttons, right++, 1);
    grid->addWidget(heading(QStringLiteral("TextShowWidget"), &page), right++, 1);
    auto *text = new TextShowWidget(&page);
    text->setWindowFlags(Qt::Widget);
    text->textBrowser->setPlainText(QStringLiteral("PING 192.168.1.20: 56 data bytes\n"
                                                   "64 bytes from 192.168.1.20: icmp_seq=0 ttl=64 time=0.3 ms"));
    grid->addWidget(text, right++, 1, 4, 1, Qt::AlignLeft | Qt::AlignTop);
    grid->setRowStretch(qMax(row, right + 4), 1);

    auto *strip = new IOStatusWidget(&page);
    page.show();
    strip->setGeometry(0, page.height() - 40, page.width(), 40);
    strip->raise();

    bool ok = shoot(QStringLiteral("page"));
    combo->showPopup();
    ok &= shoot(QStringLiteral("page-combobox-popup"));
    combo->hidePopup();

    pwd->openKeypad();
    ok &= shoot(QStringLiteral("numberinput"));
    name->openKeypad();
    ok &= shoot(QStringLiteral("numcharinput"));
    gNumCharInput->key(QStringLiteral("shift"))->click();
    ok &= shoot(QStringLiteral("numcharinput-capitals"));
    gNumCharInput->key(QStringLiteral("symbols"))->click();
    ok &= shoot(QStringLiteral("numcharinput-symbols"));
    gNumCharInput->HideUpdate();

    WarnBox warn;
    warn.setMessage(uiText(279));
    ok &= shootBox(&warn, QStringLiteral("warnbox"));
    ChooseBox choose;
    choose.setMessage(uiText(291));
    ok &= shootBox(&choose, QStringLiteral("choosebox"));
    PasswordBox password;
    shootBox(&password, QStringLiteral("passwordbox"));
    password.show();
    password.tryPassword(QStringLiteral("1"));
    password.passwordEdit()->openKeypad();
    ok &= shoot(QStringLiteral("passwordbox-wrong"));
    password.hide();
    PasswordDialog prompt;
    ok &= shootBox(&prompt, QStringLiteral("passworddialog"));
    ModifyTimeWidget time;
    ok &= shootBox(&time, QStringLiteral("modifytimewidget"));
    ChooseCaliNumWidget cali;
    ok &= shootBox(&cali, QStringLiteral("choosecalinumwidget"));
    cali.show();
    cali.findChild<QComboBox *>()->showPopup();
    ok &= shoot(QStringLiteral("choosecalinumwidget-popup"));
    cali.findChild<QComboBox *>()->hidePopup();
    cali.hide();

    CComp_DialogFrame frame(uiText(610));
    dialogStyleSheet(&frame, QString());
    frame.insertWidget(new QLabel(QStringLiteral("insertWidget"), &frame));
    auto *content = new QVBoxLayout(frame.contentWidget());
    auto *frameIp = new EditIP(QStringLiteral("IP :"), frame.contentWidget());
    frameIp->setText(QStringLiteral("10.0.0.7"));
    content->addWidget(frameIp);
    content->addWidget(new EditIP(uiText(611), frame.contentWidget()));
    content->addStretch(1);
    frame.resize(1000, 800);
    ok &= shootBox(&frame, QStringLiteral("dialogframe"));

    CComp_DiaWait wait([] { QThread::msleep(800); });
    wait.move(QGuiApplication::primaryScreen()->geometry().center() - QPoint(32, 32));
    QTimer::singleShot(300, [&] { ok &= shoot(QStringLiteral("diawait")); });
    wait.exec();
    return ok ? 0 : 1;
}

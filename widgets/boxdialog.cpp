#include "boxdialog.h"

#include "boxstacking.h"
#include "boxtestpolicy.h"
#include "uistyle.h"

#include <QPushButton>

BoxDialog::BoxDialog(QWidget *parent) : QDialog(parent)
{
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setModal(true);
    BoxStacking::install();
    setFont(uiFont(26));
    // The grey dialog's button rule in the darker cyans, on which white reads at 4.5:1 and better.
    setStyleSheet(QStringLiteral("QLabel{color:white;font-size:26px;}"
                                 "QPushButton{color:white;font-size:32px;background-color:#00838F;"
                                 "border:none;outline:0px;padding:0px 12px;}"
                                 "QPushButton:pressed{background-color:#006978;}"
                                 "QLineEdit{font-size:26px;color:black;background-color:white;"
                                 "border:1px solid #00BCD4;border-radius:4px;padding:0px 8px;}"));
}

int BoxDialog::exec()
{
    if (!BoxTestPolicy::isEnabled())
        return QDialog::exec();
    retranslate();
    BoxTestPolicy::recordShown(recordedText());
    const int r = scriptedRun();
    setResult(r);
    return r;
}

void BoxDialog::setVisible(bool visible)
{
    QDialog::setVisible(visible);
    if (visible)
        BoxStacking::raise(this);
}

int BoxDialog::scriptedRun()
{
    return BoxTestPolicy::nextAnswer();
}

QPushButton *BoxDialog::makeButton(QWidget *parent)
{
    auto *button = new QPushButton(parent);
    button->setFont(uiFont(32));
    // Wide enough for a finger; wider where a language's word needs it.
    button->setMinimumWidth(160);
    button->setFixedHeight(60);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

void BoxDialog::showEvent(QShowEvent *event)
{
    retranslate();
    QDialog::showEvent(event);
    BoxTestPolicy::recordShown(recordedText());
}

void BoxDialog::paintEvent(QPaintEvent *)
{
    paintBoxBackground(this);
}

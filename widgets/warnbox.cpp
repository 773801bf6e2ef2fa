#include "warnbox.h"

#include "boxtestpolicy.h"
#include "systemhelpers.h"
#include "uitexttable.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

WarnBox *gWarnBox = nullptr;

WarnBox::WarnBox(QWidget *parent) : QDialog(parent)
{
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setModal(true);
    setMinimumSize(560, 300);
    setStyleSheet(QStringLiteral("QDialog{background-color:rgb(110,110,110);border:2px solid #00BCD4;}"
                                 "QLabel{color:white;font-size:26px;}"
                                 "QPushButton{color:white;font-size:32px;background-color:#00BCD4;"
                                 "border:none;outline:0px;}"));

    m_text = new QLabel(this);
    m_text->setAlignment(Qt::AlignCenter);
    m_text->setWordWrap(true);

    m_ok = new QPushButton(uiText(121), this);
    m_ok->setFixedSize(160, 60);
    connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_text, 1);
    layout->addWidget(m_ok, 0, Qt::AlignHCenter);
}

void WarnBox::setMessage(const QString &text)
{
    m_text->setText(text);
}

QString WarnBox::message() const
{
    return m_text->text();
}

void WarnBox::setButtonText(const QString &text)
{
    m_ok->setText(text);
}

QString WarnBox::buttonText() const
{
    return m_ok->text();
}

int WarnBox::exec()
{
    if (BoxTestPolicy::isEnabled()) {
        BoxTestPolicy::recordShown(message());
        wakeScreen();
        setResult(BoxTestPolicy::answer());
        return result();
    }
    return QDialog::exec();
}

void WarnBox::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    BoxTestPolicy::recordShown(message());
    wakeScreen();
}

void WarnBox::wakeScreen()
{
    setBacklight(1);
}

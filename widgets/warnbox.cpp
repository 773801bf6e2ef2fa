#include "warnbox.h"

#include "systemhelpers.h"
#include "uitexttable.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

WarnBox *gWarnBox = nullptr;

WarnBox::WarnBox(QWidget *parent) : BoxDialog(parent)
{
    setMinimumSize(560, 300);

    m_text = new QLabel(this);
    // Messages carry names from files, peers and typed entries: shown as written, never as markup.
    m_text->setTextFormat(Qt::PlainText);
    m_text->setAlignment(Qt::AlignCenter);
    m_text->setWordWrap(true);

    m_ok = makeButton(this);
    connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);
    retranslate();

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
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
    m_ownButtonText = true;
    m_ok->setText(text);
}

QString WarnBox::buttonText() const
{
    return m_ok->text();
}

QString WarnBox::recordedText() const
{
    return message();
}

void WarnBox::retranslate()
{
    if (!m_ownButtonText)
        m_ok->setText(uiText(121));
}

int WarnBox::scriptedRun()
{
    wakeScreen();
    return BoxDialog::scriptedRun();
}

void WarnBox::showEvent(QShowEvent *event)
{
    BoxDialog::showEvent(event);
    wakeScreen();
}

void WarnBox::wakeScreen()
{
    setBacklight(1);
}

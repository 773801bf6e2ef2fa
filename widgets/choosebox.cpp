#include "choosebox.h"

#include "uitexttable.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

ChooseBox *gChooseBox = nullptr;

ChooseBox::ChooseBox(QWidget *parent) : BoxDialog(parent)
{
    setMinimumSize(560, 300);

    m_text = new QLabel(this);
    // Questions carry names from files, peers and typed entries: shown as written, never as markup.
    m_text->setTextFormat(Qt::PlainText);
    m_text->setAlignment(Qt::AlignCenter);
    m_text->setWordWrap(true);

    m_ok = makeButton(this);
    m_cancel = makeButton(this);
    connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    retranslate();

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_ok);
    buttons->addSpacing(60);
    buttons->addWidget(m_cancel);
    buttons->addStretch(1);

    m_layout = new QVBoxLayout(this);
    m_layout->setContentsMargins(20, 20, 20, 20);
    m_layout->setSpacing(16);
    m_layout->addWidget(m_text, 1);
    m_layout->addLayout(buttons);
}

void ChooseBox::setMessage(const QString &text)
{
    m_text->setText(text);
}

QString ChooseBox::message() const
{
    return m_text->text();
}

void ChooseBox::setContentWidget(QWidget *widget)
{
    // Just above the button row, the last item of the layout.
    m_layout->insertWidget(m_layout->count() - 1, widget, 0, Qt::AlignHCenter);
}

QString ChooseBox::recordedText() const
{
    return message();
}

void ChooseBox::retranslate()
{
    m_ok->setText(uiText(121));
    m_cancel->setText(uiText(124));
}

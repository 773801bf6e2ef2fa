#include "passwordbox.h"

#include "boxtestpolicy.h"
#include "edit.h"
#include "numberinput.h"
#include "sysparam.h"
#include "uitexttable.h"
#include "widgethooks.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <cstring>

#ifndef MG_ADVANCED_PASSWORD
#error "MG_ADVANCED_PASSWORD comes from the CMake option of the same name"
#endif

PasswordBox *gPasswordBox = nullptr;

namespace {

// Storing keeps at most 32 Latin-1 bytes of a new password.
constexpr int kStoredPasswordBytes = 32;

QByteArray storedPassword()
{
    if (!gSysParam)
        return QByteArray();
    const char *p = gSysParam->password;
    return QByteArray(p, int(strnlen(p, sizeof gSysParam->password))).left(kStoredPasswordBytes);
}

// Caption row, field, notice line and the two buttons, shared by both prompts.
void buildPrompt(QDialog *box, QLabel *caption, Edit *edit, QLabel *notice, QPushButton *ok,
                 QPushButton *cancel)
{
    auto *fieldRow = new QHBoxLayout;
    fieldRow->addWidget(caption);
    fieldRow->addWidget(edit, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addSpacing(60);
    buttons->addWidget(cancel);
    buttons->addStretch(1);
    auto *layout = new QVBoxLayout(box);
    layout->setContentsMargins(30, 30, 30, 20);
    layout->setSpacing(16);
    layout->addStretch(1);
    layout->addLayout(fieldRow);
    if (notice)
        layout->addWidget(notice);
    layout->addStretch(1);
    layout->addLayout(buttons);
}

} // namespace

QString advancedPassword()
{
    return QStringLiteral(MG_ADVANCED_PASSWORD);
}

int passwordLevel(const QString &typed)
{
    if (typed.isEmpty())
        return 0;
    if (typed == advancedPassword())
        return 2;
    const QByteArray stored = storedPassword();
    if (!stored.isEmpty() && typed.toLatin1().left(kStoredPasswordBytes) == stored)
        return 1;
    return 0;
}

PasswordBox::PasswordBox(QWidget *parent) : BoxDialog(parent)
{
    setMinimumSize(600, 320);
    m_caption = new QLabel(this);
    m_edit = new Edit(Edit::PasswordKeys, this, 1);
    m_notice = new QLabel(this);
    m_notice->setAlignment(Qt::AlignCenter);
    // A light red, to read on the dark box background.
    m_notice->setStyleSheet(QStringLiteral("QLabel{color:rgb(255,106,106);}"));
    m_ok = makeButton(this);
    m_cancel = makeButton(this);
    buildPrompt(this, m_caption, m_edit, m_notice, m_ok, m_cancel);
    connect(m_ok, &QPushButton::clicked, this, [this] { tryPassword(m_edit->text()); });
    connect(m_edit, &QLineEdit::returnPressed, this, [this] { tryPassword(m_edit->text()); });
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    retranslate();
}

int PasswordBox::tryPassword(const QString &typed)
{
    const int level = passwordLevel(typed);
    m_edit->clear();
    if (level == 0) {
        m_notice->setText(uiText(357));
        BoxTestPolicy::recordShown(uiText(357));
        return 0;
    }
    if (widgetHooks().setLoginLevel)
        widgetHooks().setLoginLevel(level);
    accept();
    return level;
}

QString PasswordBox::notice() const
{
    return m_notice->text();
}

QString PasswordBox::recordedText() const
{
    return m_caption->text();
}

void PasswordBox::retranslate()
{
    m_caption->setText(uiText(125));
    m_ok->setText(uiText(121));
    m_cancel->setText(uiText(124));
}

int PasswordBox::scriptedRun()
{
    m_notice->clear();
    if (BoxTestPolicy::nextAnswer() != 1)
        return 0;
    return tryPassword(BoxTestPolicy::typedPassword()) > 0 ? 1 : 0;
}

void PasswordBox::showEvent(QShowEvent *event)
{
    m_notice->clear();
    m_edit->clear();
    BoxDialog::showEvent(event);
}

void PasswordBox::hideEvent(QHideEvent *event)
{
    if (gNumberInput && gNumberInput->target() == m_edit)
        gNumberInput->HideUpdate();
    BoxDialog::hideEvent(event);
}

PasswordDialog::PasswordDialog(QWidget *parent) : BoxDialog(parent)
{
    setMinimumSize(600, 300);
    m_caption = new QLabel(this);
    m_edit = new Edit(Edit::PasswordKeys, this, 1);
    m_ok = makeButton(this);
    m_cancel = makeButton(this);
    buildPrompt(this, m_caption, m_edit, nullptr, m_ok, m_cancel);
    connect(m_ok, &QPushButton::clicked, this, [this] { takePassword(m_edit->text()); });
    connect(m_edit, &QLineEdit::returnPressed, this, [this] { takePassword(m_edit->text()); });
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    retranslate();
}

void PasswordDialog::takePassword(const QString &typed)
{
    m_right = passwordLevel(typed) > 0;
    m_edit->clear();
    accept();
}

QString PasswordDialog::recordedText() const
{
    return m_caption->text();
}

void PasswordDialog::retranslate()
{
    m_caption->setText(uiText(125));
    m_ok->setText(uiText(121));
    m_cancel->setText(uiText(124));
}

int PasswordDialog::scriptedRun()
{
    m_right = false;
    if (BoxTestPolicy::nextAnswer() != 1)
        return 0;
    takePassword(BoxTestPolicy::typedPassword());
    return 1;
}

void PasswordDialog::showEvent(QShowEvent *event)
{
    m_right = false;
    m_edit->clear();
    BoxDialog::showEvent(event);
}

void PasswordDialog::hideEvent(QHideEvent *event)
{
    if (gNumberInput && gNumberInput->target() == m_edit)
        gNumberInput->HideUpdate();
    BoxDialog::hideEvent(event);
}

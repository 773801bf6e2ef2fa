#include "edit.h"

#include "numberinput.h"
#include "numcharinput.h"
#include "uistyle.h"

#include <QMouseEvent>

Edit::Edit(int keyboardFlags, QWidget *parent, int styled) : QLineEdit(parent), m_flags(keyboardFlags)
{
    setFont(uiFont(26));
    if (m_flags == PasswordKeys)
        setEchoMode(QLineEdit::Password);
    if (styled == 1)
        setStyleSheet(QStringLiteral("QLineEdit{font-size:26px;color:black;background-color:white;"
                                     "border:1px solid #00BCD4;border-radius:4px;padding:0px 8px;"
                                     "min-height:44px;}"
                                     "QLineEdit:disabled{background-color:rgb(200,200,200);}"));
}

Keypad *Edit::openKeypad()
{
    Keypad *pad = nullptr;
    Keypad *other = nullptr;
    if (m_flags == FullKeyboard) {
        pad = numCharInput();
        other = gNumberInput;
    } else {
        pad = numberInput();
        other = gNumCharInput;
    }
    if (other && other->isVisible())
        other->HideUpdate();
    pad->openFor(this);
    return pad;
}

void Edit::mousePressEvent(QMouseEvent *event)
{
    QLineEdit::mousePressEvent(event);
    if (isEnabled() && !isReadOnly() && event->button() == Qt::LeftButton)
        openKeypad();
}

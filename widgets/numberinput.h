#pragma once
// NumberInput: the on-screen digit pad (digits, point, minus, backspace, clear, OK). Opened by the
// number fields and the password fields. GUI thread only.

#include "keypad.h"

class NumberInput : public Keypad
{
    Q_OBJECT
public:
    explicit NumberInput(QWidget *parent = nullptr);

protected:
    void retranslate() override;
};

// The process-wide digit pad, created by the main window's constructor (or by the first field that
// needs it); null again when it is destroyed.
extern NumberInput *gNumberInput;
// gNumberInput, created without parent when there is none.
NumberInput *numberInput();

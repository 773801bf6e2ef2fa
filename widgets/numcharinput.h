#pragma once
// NumCharInput: the on-screen keyboard (digits, letters with a shift key, a page of symbols, space,
// backspace, OK). Opened by the text fields: parameter-group names, network fields. GUI thread only.

#include "keypad.h"

class NumCharInput : public Keypad
{
    Q_OBJECT
public:
    explicit NumCharInput(QWidget *parent = nullptr);

    bool capitals() const { return m_capitals; }
    bool symbols() const { return m_symbols; }

protected:
    void retranslate() override;

private:
    // Writes the letter keys for the current shift and symbol state.
    void relabel();

    bool m_capitals = false;
    bool m_symbols = false;
};

// The process-wide keyboard, created by the main window's constructor (or by the first field that
// needs it); null again when it is destroyed.
extern NumCharInput *gNumCharInput;
// gNumCharInput, created without parent when there is none.
NumCharInput *numCharInput();

#pragma once
// Edit: the line field of every page. Touching it opens the on-screen pad that its keyboard flags
// name, placed beside the field; what the pad types lands in the field. GUI thread only.

#include <QLineEdit>

class Keypad;

class Edit : public QLineEdit
{
    Q_OBJECT
public:
    // Keyboard flags: 5 a password field (masked, digit pad), 6 the full keyboard (names, network
    // fields); any other value the digit pad. `styled` 1 gives the standard line style.
    enum : int { PasswordKeys = 5, FullKeyboard = 6 };

    explicit Edit(int keyboardFlags = 0, QWidget *parent = nullptr, int styled = 1);

    int keyboardFlags() const { return m_flags; }

    // Opens the field's pad (what a touch does); returns it.
    Keypad *openKeypad();

protected:
    void mousePressEvent(QMouseEvent *event) override;

private:
    int m_flags = 0;
};

#pragma once
// Keypad: what the two on-screen pads (NumberInput, NumCharInput) share. A pad is a small window of
// its own that never takes the keyboard focus: touching a field opens it just below the field (above
// it where the screen ends), its keys type into that field, and its OK key ends the input as the
// Return key would. GUI thread only.

#include <QHash>
#include <QLineEdit>
#include <QPointer>
#include <QWidget>

#include <functional>

class QGridLayout;
class QPushButton;

class Keypad : public QWidget
{
    Q_OBJECT
public:
    ~Keypad() override;

    // Types into `field` from now on; places the pad beside it and shows it.
    void openFor(QLineEdit *field);
    // The field the keys type into; null when the pad is closed or the field is gone.
    QLineEdit *target() const { return m_target; }

    // Hides the pad and lets go of its field.
    void HideUpdate();

    // The key `id`: a typed character ("0".."9", "a".."z", ".", "-"), or "bs", "clear", "ok", and on
    // the keyboard "shift", "symbols", "space". Null for an id the pad does not have.
    QPushButton *key(const QString &id) const { return m_keys.value(id); }

protected:
    explicit Keypad(QWidget *parent);

    // A key that types `typed` (its label shows the same text).
    QPushButton *addTextKey(QGridLayout *grid, const QString &id, const QString &typed, int row, int col,
                            int colSpan = 1);
    // A key that runs `action`.
    QPushButton *addActionKey(QGridLayout *grid, const QString &id, int row, int col, int colSpan,
                              std::function<void()> action);
    // Changes what a text key types and shows.
    static void setTypedText(QPushButton *key, const QString &typed);

    void typeText(const QString &text);
    void backspace();
    void clearField();
    // Ends the input: the field gets Return (its owner takes the value), then the pad closes.
    void confirm();

    // Labels of the keys that come from the interface table, in the language in use.
    virtual void retranslate() {}

    void showEvent(QShowEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void placeBeside(QWidget *field);

    QPointer<QLineEdit> m_target;
    QHash<QString, QPushButton *> m_keys;
};

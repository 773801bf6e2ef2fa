#pragma once
// EditBox: one numeric setting of the settings pages: caption, value field with its unit, and the
// step buttons "- 5", "- 1", "+ 1", "+ 5" (held buttons repeat). The value is an int kept within
// [min, max]; the field shows it as the integer (display type 0) or as value / scale with as many
// decimals as the scale has zeros (display type 2, e.g. tenths of a second as seconds). Typing into
// the field on the digit pad sets the value as the field shows it. GUI thread only.

#include <QWidget>

class Edit;
class QLabel;
class QPushButton;

class EditBox : public QWidget
{
    Q_OBJECT
public:
    EditBox(int min, int max, QWidget *parent = nullptr, const QString &caption = QString(),
            const QString &unitText = QString(), int displayType = 0, int scale = 1);
    ~EditBox() override;

    int value() const { return m_value; }
    // Stores `v` clamped into [min, max] (0 stays 0 when zero is allowed), shows it and emits
    // valueChanged every time, changed or not: the pages rely on the signal to apply the value.
    void setValue(int v);
    // Lets 0 stand below min ("off" for a time whose least working value is above 0).
    void setZeroAllowed(bool allowed);
    bool zeroAllowed() const { return m_zeroAllowed; }

    // Replaces the caption text.
    void setText(const QString &caption);
    QString text() const;

    // The field's text for `v`, as the box shows it.
    QString displayText(int v) const;
    Edit *field() const { return m_field; }

signals:
    void valueChanged(int value);

private:
    // One press of a step button; below min with zero allowed the next step down is 0, and from 0
    // the next step up is min.
    void step(int delta);
    // Takes the typed text; text that is no number leaves the value and shows it again.
    void takeTypedText();

    int m_min;
    int m_max;
    int m_displayType;
    int m_scale;
    int m_value = 0;
    bool m_zeroAllowed = false;
    QLabel *m_caption = nullptr;
    QLabel *m_unit = nullptr;
    Edit *m_field = nullptr;
};

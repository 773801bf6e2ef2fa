#pragma once
// CheckBox: the check box of the pages, with an indicator a gloved finger can hit. isChecked() is
// true when checked; stateChanged(int) passes 0 or 2 and, like toggled, fires only on a change.
// GUI thread only.

#include <QCheckBox>

class CheckBox : public QCheckBox
{
    Q_OBJECT
public:
    explicit CheckBox(QWidget *parent = nullptr, const QString &text = QString());

    // Breaks the text into lines so that the box, indicator included, is no wider than `width`:
    // between words, or between characters where a word (or a Chinese or Japanese text) is wider.
    void wrapTextTo(int width);

    // The indicator and the gap before the text, in px.
    static constexpr int kIndicator = 40;
    static constexpr int kSpacing = 12;

protected:
    void paintEvent(QPaintEvent *event) override;
};

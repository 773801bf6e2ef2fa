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
};

#pragma once
// The two question boxes of the settings screen that ask for more than yes or no: the clock box
// (ModifyTimeWidget) and the calibration-point box (ChooseCaliNumWidget). Both are ChooseBoxes: OK
// returns 1, Cancel 0. GUI thread only.

#include "choosebox.h"

class ComboBox;
class EditDateTime;

class ModifyTimeWidget : public ChooseBox
{
    Q_OBJECT
public:
    explicit ModifyTimeWidget(QWidget *parent = nullptr);

    // The date and time chosen; set it to now with EditDateTime::setCurrent before the box is run.
    EditDateTime *editor() const { return m_editor; }

protected:
    QString recordedText() const override;

private:
    EditDateTime *m_editor = nullptr;
};

class ChooseCaliNumWidget : public ChooseBox
{
    Q_OBJECT
public:
    explicit ChooseCaliNumWidget(QWidget *parent = nullptr);

    // Calibration points chosen: 1 to 8 (rows 460-467 "1#" .. "8#").
    int pointCount() const;
    void setPointCount(int count);

protected:
    void retranslate() override;

private:
    ComboBox *m_points = nullptr;
};

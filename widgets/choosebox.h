#pragma once
// ChooseBox: the yes/no question box. Callers set the question, run it modally and treat result 1
// (the OK button) as yes, anything else as no. Boxes that ask for more than yes or no
// (ModifyTimeWidget, ChooseCaliNumWidget) put their own widget between the question and the buttons.
// GUI thread only.

#include "boxdialog.h"

class QLabel;
class QPushButton;
class QVBoxLayout;

class ChooseBox : public BoxDialog
{
    Q_OBJECT
public:
    explicit ChooseBox(QWidget *parent = nullptr);

    // The question; shown above the buttons.
    void setMessage(const QString &text);
    QString message() const;

    // OK (row 121) accepts with 1, Cancel (row 124) rejects with 0.
    QPushButton *okButton() const { return m_ok; }
    QPushButton *cancelButton() const { return m_cancel; }

protected:
    // Puts `widget` between the question and the buttons (the box takes it over).
    void setContentWidget(QWidget *widget);

    QString recordedText() const override;
    void retranslate() override;

private:
    QLabel *m_text = nullptr;
    QPushButton *m_ok = nullptr;
    QPushButton *m_cancel = nullptr;
    QVBoxLayout *m_layout = nullptr;
};

// The process-wide question box; created by the main window's constructor, lives for the whole run.
extern ChooseBox *gChooseBox;

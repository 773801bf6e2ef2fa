#pragma once
// WarnBox: the message box with one OK button that the whole program uses for notices and warnings.
// GUI thread only.

#include "boxdialog.h"

class QLabel;
class QPushButton;

class WarnBox : public BoxDialog
{
    Q_OBJECT
public:
    explicit WarnBox(QWidget *parent = nullptr);

    // The text the box paints; callers then run it modally (exec, which returns 1 when OK is pressed)
    // or show it without blocking and hide it later.
    void setMessage(const QString &text);
    QString message() const;

    // Gives the one button a caption of its own (the start-up notice uses one); without it the
    // button reads row 121 ("Confirm") in the language in use when the box is shown.
    void setButtonText(const QString &text);
    QString buttonText() const;

protected:
    QString recordedText() const override;
    void retranslate() override;
    int scriptedRun() override;
    void showEvent(QShowEvent *event) override;

private:
    // A box nobody can read is useless: whoever shows it wants the screen lit.
    void wakeScreen();

    QLabel *m_text = nullptr;
    QPushButton *m_ok = nullptr;
    bool m_ownButtonText = false;
};

// The process-wide message box; created by the main window's constructor, lives for the whole run.
extern WarnBox *gWarnBox;

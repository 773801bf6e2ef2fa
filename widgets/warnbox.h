#pragma once
// The message box with one OK button that the whole program uses for notices and warnings.
// GUI thread only.

#include <QDialog>

class QLabel;
class QPushButton;

class WarnBox : public QDialog
{
    Q_OBJECT
public:
    explicit WarnBox(QWidget *parent = nullptr);

    // The text the box paints; callers then run it modally (exec) or show it without blocking.
    void setMessage(const QString &text);
    QString message() const;

    // The one button's caption (the start-up notice uses its own).
    void setButtonText(const QString &text);
    QString buttonText() const;

    // Returns 1 when OK is pressed. Under BoxTestPolicy it returns the scripted answer at once.
    int exec() override;

protected:
    void showEvent(QShowEvent *event) override;

private:
    // A box nobody can read is useless: whoever shows it wants the screen lit.
    void wakeScreen();

    QLabel *m_text = nullptr;
    QPushButton *m_ok = nullptr;
};

// The process-wide message box; created by the main window's constructor, lives for the whole run.
extern WarnBox *gWarnBox;

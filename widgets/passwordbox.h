#pragma once
// The password prompts. PasswordBox is the login box: a right password sets the main window's login
// level (1 for the stored user password, 2 for the installer's advanced password) and closes it; a
// wrong one changes nothing, says so in the box and leaves it open. PasswordDialog is the stand-alone
// prompt of the start/stop button: it closes on OK either way and tells the caller whether the
// password was right. Both read the password on the digit pad, masked. GUI thread only.

#include "boxdialog.h"

class Edit;
class QLabel;
class QPushButton;

// The level a typed password gives: 2 for the advanced password (a build constant, compared as it
// stands and tried first), 1 for the stored SysParam.password of gSysParam (both cut to the 32
// Latin-1 bytes that storing keeps), 0 for anything else, the empty text included.
int passwordLevel(const QString &typed);

// The advanced password this program was built with.
QString advancedPassword();

class PasswordBox : public BoxDialog
{
    Q_OBJECT
public:
    explicit PasswordBox(QWidget *parent = nullptr);

    // What the OK button does with the typed password: on a right one sets the login level (through
    // widgetHooks) and accepts; on a wrong one shows row 357, empties the field and stays open.
    // Returns the level given (0 for wrong).
    int tryPassword(const QString &typed);

    Edit *passwordEdit() const { return m_edit; }
    // The line under the field: empty, or the wrong-password notice.
    QString notice() const;

protected:
    QString recordedText() const override;
    void retranslate() override;
    // Under the test policy the scripted answer 1 presses OK with the scripted password; a wrong
    // password then ends the run with 0, as if the user gave up.
    int scriptedRun() override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    QLabel *m_caption = nullptr;
    QLabel *m_notice = nullptr;
    Edit *m_edit = nullptr;
    QPushButton *m_ok = nullptr;
    QPushButton *m_cancel = nullptr;
};

// The process-wide login box; created by the main window's constructor.
extern PasswordBox *gPasswordBox;

class PasswordDialog : public BoxDialog
{
    Q_OBJECT
public:
    explicit PasswordDialog(QWidget *parent = nullptr);

    // Set when OK was pressed with a password that PasswordBox accepts (level 1 or 2); cleared each
    // time the dialog is shown or run.
    bool passwordRight() const { return m_right; }

    Edit *passwordEdit() const { return m_edit; }

protected:
    QString recordedText() const override;
    void retranslate() override;
    int scriptedRun() override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void takePassword(const QString &typed);

    QLabel *m_caption = nullptr;
    Edit *m_edit = nullptr;
    QPushButton *m_ok = nullptr;
    QPushButton *m_cancel = nullptr;
    bool m_right = false;
};

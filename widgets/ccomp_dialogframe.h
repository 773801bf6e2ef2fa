#pragma once
// CComp_DialogFrame: the frame of the larger dialogs (network settings, card editor): a title row 60
// px high with the title, a stretch and the green OK button, and below it the content widget that a
// subclass fills with its own layout. OK accepts, so a modal run returns 1. GUI thread only.

#include <QDialog>

class QHBoxLayout;
class QLabel;
class QPushButton;

class CComp_DialogFrame : public QDialog
{
    Q_OBJECT
public:
    explicit CComp_DialogFrame(const QString &title = QString(), QWidget *parent = nullptr);

    // Inserts `widget` into the title row just before its last item, the OK button.
    void insertWidget(QWidget *widget);

    // Where a subclass puts its layout.
    QWidget *contentWidget() const { return m_content; }
    QPushButton *okButton() const { return m_ok; }
    QString title() const;

    // A real modal run; under BoxTestPolicy the title is recorded and the next scripted answer is
    // returned at once.
    int exec() override;
    // Every showing raises the dialog, also one while it is already up.
    void setVisible(bool visible) override;

public slots:
    // Accepts the dialog: its modal run returns 1.
    void acceptDialog();

protected:
    void showEvent(QShowEvent *event) override;

private:
    QLabel *m_title = nullptr;
    QPushButton *m_ok = nullptr;
    QHBoxLayout *m_titleRow = nullptr;
    QWidget *m_content = nullptr;
};

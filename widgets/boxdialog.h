#pragma once
// Base of the small modal boxes (message, question, password, time and calibration boxes): frameless,
// modal, painted with the boxes' background picture, texts in the current language, and a modal run
// that a test can answer through BoxTestPolicy. GUI thread only.

#include <QDialog>

class QPushButton;

class BoxDialog : public QDialog
{
    Q_OBJECT
public:
    explicit BoxDialog(QWidget *parent = nullptr);

    // A real modal run; under BoxTestPolicy the box records its text and returns the scripted
    // answer at once, without being shown.
    int exec() override;
    // Every showing raises the box, also one while it is already up (a notice shown again).
    void setVisible(bool visible) override;

protected:
    // The text the test policy records when the box is shown: its message or question.
    virtual QString recordedText() const = 0;
    // Sets the texts taken from the interface table. Run before every showing: the global boxes are
    // built before the parameters say which language is in use.
    virtual void retranslate() {}
    // What a modal run does under the test policy; by default the next scripted answer.
    virtual int scriptedRun();

    // A large touch button in the boxes' style.
    QPushButton *makeButton(QWidget *parent);

    void showEvent(QShowEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
};

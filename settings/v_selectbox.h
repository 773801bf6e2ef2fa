#pragma once
// v_SelectBox: the small message box of the version library, placed at a fixed screen position: no
// button (a notice shown while something runs), one accept button, or accept and reject buttons.
// Under the boxes' test policy a modal run records the text and returns the scripted answer.
// GUI thread only.

#include <QDialog>
#include <QString>

class ColorButton;

class v_SelectBox : public QDialog
{
public:
    // `type`: 0 no button, 1 one accept button, 2 accept and reject buttons; (x, y) on the screen.
    v_SelectBox(int x, int y, QWidget *parent, int type);
    ~v_SelectBox() override;

    void setText(const QString &text);
    int exec() override;

    int posX = 0;
    int posY = 0;
    int boxType = 0;
    QString message;
    ColorButton *okButton = nullptr;
    ColorButton *cancelButton = nullptr;

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void placeBox();
};

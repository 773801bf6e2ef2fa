#pragma once
// ColorButton: the large text button of the pages and the menu bar, painted with the button pictures
// (gPixButtonU released, gPixButtonD pressed) and centred text; or a picture button (zoom controls).
// GUI thread only.

#include <QPixmap>
#include <QPushButton>

class ColorButton : public QPushButton
{
    Q_OBJECT
public:
    // Size code 3: the pages' normal button (text 27 px in Chinese, 22 px in the other languages);
    // size code 4: the menu bar's button (30 px / 24 px). Other codes draw as code 3.
    ColorButton(const QString &text, QWidget *parent = nullptr, int sizeCode = 3);
    // A button that shows `picture` scaled into it.
    ColorButton(const QPixmap &picture, QWidget *parent = nullptr);

    int sizeCode() const { return m_sizeCode; }
    // The text size for the size code in the language in use.
    int textPixelSize() const;
    // The size the text is drawn at: smaller than textPixelSize() when a text without blanks would
    // otherwise break inside a word.
    int fittedTextPixelSize() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int m_sizeCode = 3;
    QPixmap m_picture;
};

#pragma once
// ColorButton: the large text button of the pages and the menu bar, painted with the button pictures
// (gPixButtonU released, gPixButtonD pressed) and centred text; or a picture button (zoom controls).
// GUI thread only.

#include <QPixmap>
#include <QPushButton>
#include <QStringList>

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
    // The lines the text is drawn in, at textPixelSize(): one when it fits the button's width, else
    // broken between words, or between characters where a word alone is wider than the button. At
    // most maxTextLines(); where the text needs more, the last line shown ends in "…". text() stays
    // the whole text.
    QStringList textLines() const;
    // The lines that stand apart inside the button's height (at least one).
    int maxTextLines() const;
    // Distance between the baselines of `lines` lines of text in the button: the font's line spacing
    // where they fit, else closer, never below the text size plus 1 px.
    int lineStep(int lines) const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int m_sizeCode = 3;
    QPixmap m_picture;
};

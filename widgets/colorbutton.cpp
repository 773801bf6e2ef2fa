#include "colorbutton.h"

#include "startup.h"
#include "uistyle.h"
#include "uitexttable.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>

ColorButton::ColorButton(const QString &text, QWidget *parent, int sizeCode)
    : QPushButton(text, parent), m_sizeCode(sizeCode == 4 ? 4 : 3)
{
    setFocusPolicy(Qt::NoFocus);
}

ColorButton::ColorButton(const QPixmap &picture, QWidget *parent) : QPushButton(parent), m_picture(picture)
{
    setFocusPolicy(Qt::NoFocus);
}

int ColorButton::textPixelSize() const
{
    // Chinese characters are read at a larger size than Latin letters and kana of the same height.
    const bool chinese = gLanguage == 0 || gLanguage == 2;
    if (m_sizeCode == 4)
        return chinese ? 30 : 24;
    return chinese ? 27 : 22;
}

int ColorButton::fittedTextPixelSize() const
{
    const int size = textPixelSize();
    const QString label = text();
    // Texts with blanks wrap between their words. Chinese and Japanese texts have none, so a long
    // one would break inside a word ("パスワード変 / 更"): draw it a little smaller on one line while
    // it stays readable, and wrap only beyond that.
    if (label.isEmpty() || label.contains(QLatin1Char(' ')) || label.contains(QLatin1Char('\n')))
        return size;
    const int room = width() - 8;
    const int smallest = std::max(14, size * 7 / 10);
    for (int s = size; s >= smallest; --s) {
        if (QFontMetrics(uiFont(s)).horizontalAdvance(label) <= room)
            return s;
    }
    return size;
}

QSize ColorButton::sizeHint() const
{
    if (!m_picture.isNull())
        return m_picture.size();
    return m_sizeCode == 4 ? QSize(240, 83) : QSize(160, 60);
}

void ColorButton::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRect r = rect();
    if (!m_picture.isNull()) {
        p.drawPixmap(r, m_picture);
        if (isDown())
            p.fillRect(r, QColor(0, 0, 0, 60));
        return;
    }
    const QPixmap *face = isDown() ? gPixButtonD : gPixButtonU;
    if (face && !face->isNull())
        p.drawPixmap(r, *face);
    else
        p.fillRect(r, isDown() ? QColor(0x00, 0x83, 0x8F) : QColor(0x00, 0xBC, 0xD4));
    p.setFont(uiFont(fittedTextPixelSize()));
    p.setPen(isEnabled() ? Qt::white : QColor(200, 200, 200));
    p.drawText(r.adjusted(4, 2, -4, -2), Qt::AlignCenter | Qt::TextWordWrap, text());
}

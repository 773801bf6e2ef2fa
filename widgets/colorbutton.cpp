#include "colorbutton.h"

#include "startup.h"
#include "uistyle.h"
#include "uitexttable.h"

#include <QFontMetrics>
#include <QPainter>
#include <QTextLayout>

#include <algorithm>
#include <utility>

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

int ColorButton::maxTextLines() const
{
    // As many lines as stand apart (text size plus 1 px, see lineStep) inside the 2 px margins.
    return std::max(1, (height() - 4) / (textPixelSize() + 1));
}

QStringList ColorButton::textLines() const
{
    // A text can be far longer than the button can show (an archive name from a server's listing),
    // and laying it out costs time in its length on every paint: only as much as fits is laid out.
    // No glyph is narrower than 1 px, so a line never holds more characters than it has pixels.
    const int room = std::max(1, width() - 8);
    const int maxLines = maxTextLines();
    const int maxChars = maxLines * (room + 1);
    const QString whole = text();
    QString label;
    int used = 0;
    for (; used < whole.size() && label.size() <= maxChars; ++used)
        if (whole.at(used) != QLatin1Char('\r'))
            label += whole.at(used);
    bool cut = false;
    for (int i = used; i < whole.size() && !cut; ++i)
        cut = whole.at(i) != QLatin1Char('\r');
    if (label.isEmpty())
        return {};
    // The text keeps its size: a line break in the text is kept, a line wider than the button breaks
    // between words, and a word (or a Chinese or Japanese text, which has no blanks) wider than a line
    // breaks between characters.
    const QFont font = uiFont(textPixelSize());
    QStringList lines;
    const QFontMetrics metrics(font);
    for (const QString &paragraph : label.split(QLatin1Char('\n'))) {
        QTextLayout layout(paragraph, font);
        QTextOption option(Qt::AlignHCenter);
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(option);
        layout.beginLayout();
        int prevStart = -1;
        int lastStart = -1;
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(room);
            lines << paragraph.mid(line.textStart(), line.textLength()).trimmed();
            prevStart = std::exchange(lastStart, line.textStart());
            if (lines.size() > maxLines)
                break;
        }
        layout.endLayout();
        if (lines.size() > maxLines)
            break;
        // A character alone on the paragraph's last line reads as a slip: it takes company from the line
        // before, where the two still fit.
        const int start = captionLastLineStart(paragraph, prevStart, lastStart);
        const QString last = paragraph.mid(start).trimmed();
        if (start != lastStart && metrics.horizontalAdvance(last) <= room) {
            lines.last() = last;
            lines[lines.size() - 2] = paragraph.mid(prevStart, start - prevStart).trimmed();
        }
    }
    if (lines.size() <= maxLines && !cut)
        return lines;
    // More than the button shows: the last line it shows says so.
    while (lines.size() > maxLines)
        lines.removeLast();
    const QString ellipsis(QChar(0x2026));
    QString &last = lines.last();
    while (!last.isEmpty() && metrics.horizontalAdvance(last + ellipsis) > room) {
        last.chop(1);
        if (!last.isEmpty() && last.at(last.size() - 1).isHighSurrogate())
            last.chop(1);
    }
    last += ellipsis;
    return lines;
}

int ColorButton::lineStep(int lines) const
{
    const int size = textPixelSize();
    const int spacing = QFontMetrics(uiFont(size)).lineSpacing();
    if (lines <= 1 || spacing * lines <= height() - 4)
        return spacing;
    // Two lines of 27 px Chinese in a 60 px button: the lines close up into the room of the glyphs'
    // descent, which Chinese and Japanese characters hardly use.
    return std::max(size + 1, (height() - 4) / lines);
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
        p.fillRect(r, isDown() ? QColor(0x00, 0x5F, 0x6A)
                               : QColor(0x00, 0x83, 0x8F)); // white text reads on both
    const QFont font = uiFont(textPixelSize());
    p.setFont(font);
    p.setPen(isEnabled() ? Qt::white : QColor(200, 200, 200));
    const QStringList lines = textLines();
    const int step = lineStep(lines.size());
    QRect line(r.left() + 4, r.center().y() + 1 - step * lines.size() / 2, r.width() - 8, step);
    for (const QString &l : lines) {
        p.drawText(line, Qt::AlignCenter, l);
        line.translate(0, step);
    }
}

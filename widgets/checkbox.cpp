#include "checkbox.h"

#include "uistyle.h"

#include <QStyleOptionButton>
#include <QStylePainter>
#include <QTextLayout>

CheckBox::CheckBox(QWidget *parent, const QString &text) : QCheckBox(text, parent)
{
    setFont(uiFont(26));
    setFocusPolicy(Qt::NoFocus);
    setStyleSheet(QStringLiteral("QCheckBox{font-size:26px;spacing:12px;}"
                                 "QCheckBox::indicator{width:40px;height:40px;}"));
}

void CheckBox::wrapTextTo(int width)
{
    const QString whole = text().remove(QLatin1Char('\n'));
    // A few px of slack for the style's own margins around the text.
    const qreal room = std::max(1, width - kIndicator - kSpacing - 8);
    QTextLayout layout(whole, font());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    QStringList lines;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(room);
        lines << whole.mid(line.textStart(), line.textLength()).trimmed();
    }
    layout.endLayout();
    setText(lines.join(QLatin1Char('\n')));
}

void CheckBox::paintEvent(QPaintEvent *)
{
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    // The style draws the tick in the text colour, and the pages give the text colours that read on
    // their dark backgrounds (white in the dialogs, yellow on the I/O page): on the box's white fill
    // such a tick hardly shows. The tick takes black or white, whichever reads on the fill; the
    // label keeps its colour (it is drawn in WindowText).
    const QColor fill = option.palette.color(QPalette::Base);
    const bool lightFill = fill.lightnessF() >= 0.5;
    option.palette.setColor(QPalette::Text, lightFill ? Qt::black : Qt::white);
    painter.drawControl(QStyle::CE_CheckBox, option);
}

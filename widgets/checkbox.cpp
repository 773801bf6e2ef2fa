#include "checkbox.h"

#include "uistyle.h"

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

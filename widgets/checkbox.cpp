#include "checkbox.h"

#include "uistyle.h"

CheckBox::CheckBox(QWidget *parent, const QString &text) : QCheckBox(text, parent)
{
    setFont(uiFont(26));
    setFocusPolicy(Qt::NoFocus);
    setStyleSheet(QStringLiteral("QCheckBox{font-size:26px;spacing:12px;}"
                                 "QCheckBox::indicator{width:40px;height:40px;}"));
}

#include "dialogcancelbutton.h"

#include "ccomp_dialogframe.h"

#include <QPushButton>

QPushButton *addDialogCancelButton(CComp_DialogFrame *dialog, const QString &caption)
{
    auto *cancel = new QPushButton(caption, dialog);
    cancel->setMinimumWidth(100);
    cancel->setFixedHeight(50);
    cancel->setFocusPolicy(Qt::NoFocus);
    cancel->setStyleSheet(QStringLiteral(
        "outline:0px;border:none;font-size:32px;color:white;background-color:#E91E63;padding:0px 8px;"));
    QObject::connect(cancel, &QPushButton::pressed, dialog, &QDialog::reject);
    dialog->insertWidget(cancel);
    return cancel;
}

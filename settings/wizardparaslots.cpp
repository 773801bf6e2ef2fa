// Parameter-group list and the slots of actions that other screens carry out.
#include "wizardparawidget.h"

#include "iowidget.h"

#include "widgets/combobox.h"
#include "widgets/edit.h"

void WizardParaWidget::ParaGroupUpdateList()
{
    const QSignalBlocker block(paraGroupCombo);
    paraGroupCombo->clear();
    const QStringList groups =
        QDir(QStringLiteral("./paraGroup")).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (int i = 0; i < groups.size(); ++i)
        paraGroupCombo->addItem(groups.at(i), i);
}

void WizardParaWidget::SlotParaGroupChange(int)
{
    paraGroupNameEdit->setText(paraGroupCombo->currentText());
}

void WizardParaWidget::SlotShowCustomIONameWidget()
{
    // The I/O names page belongs to the main window; it opens it through its own connection.
    hide();
    emit customIONamesRequested();
}

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

// The actions below are carried out by their own screens (password and language, clock, shutdown,
// parameter-group files, the record page, update and export, network, camera order); each slot is
// the connection point they fill in.
void WizardParaWidget::SlotToRecord() {}
void WizardParaWidget::SlotToNetwork() {}
void WizardParaWidget::SlotTuneCamera() {}
void WizardParaWidget::SlotParaGroupBackup() {}
void WizardParaWidget::SlotParaGroupRestore() {}
void WizardParaWidget::SlotParaGroupDelete() {}
void WizardParaWidget::SlotRestoreFactorySet() {}
void WizardParaWidget::ChangePwd() {}
void WizardParaWidget::SlotChangeLan(int) {}
void WizardParaWidget::SlotShutDown() {}
void WizardParaWidget::SlotExit() {}
void WizardParaWidget::SlotModifyTime() {}
void WizardParaWidget::SlotCalibration() {}
void WizardParaWidget::ResetTotal() {}
void WizardParaWidget::SlotToVerion() {}
void WizardParaWidget::SlotUpdateApp() {}
void WizardParaWidget::SlotExportData() {}
void WizardParaWidget::UpdateRecord(QListWidgetItem *) {}

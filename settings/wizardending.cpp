// Password, language, clock, calibration, shutdown and exit; the record page and the counter reset.
#include "wizardparawidget.h"

// Not built yet: each slot is the connection point its page fills in.
void WizardParaWidget::ChangePwd() {}
void WizardParaWidget::SlotChangeLan(int) {}
void WizardParaWidget::SlotShutDown() {}
void WizardParaWidget::SlotExit() {}
void WizardParaWidget::SlotModifyTime() {}
void WizardParaWidget::SlotCalibration() {}
void WizardParaWidget::ResetTotal() {}
void WizardParaWidget::SlotToRecord() {}
void WizardParaWidget::UpdateRecord(QListWidgetItem *) {}

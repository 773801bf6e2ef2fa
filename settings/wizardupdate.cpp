// Online update, update from and export to the USB disk.
#include "wizardparawidget.h"

// Not built yet: each slot is the connection point its page fills in.
void WizardParaWidget::SlotToVerion() {}
void WizardParaWidget::SlotUpdateApp() {}
void WizardParaWidget::SlotExportData() {}

// Parameter groups, the factory reset and the camera position page.
#include "wizardparawidget.h"

// Not built yet: each slot is the connection point its page fills in.
void WizardParaWidget::SlotParaGroupBackup() {}
void WizardParaWidget::SlotParaGroupRestore() {}
void WizardParaWidget::SlotParaGroupDelete() {}
void WizardParaWidget::SlotRestoreFactorySet() {}
void WizardParaWidget::SlotTuneCamera() {}

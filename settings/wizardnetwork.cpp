// The network page.
#include "wizardparawidget.h"

// Not built yet: each slot is the connection point its page fills in.
void WizardParaWidget::SlotToNetwork() {}

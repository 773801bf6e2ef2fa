// The advanced page's way to the hardware page, which the main window owns.

#include "wizardparawidget.h"

void WizardParaWidget::SlotShowHardware()
{
    hidePads();
    emit hardwareRequested();
}

// Confirm: compares the working copy with the block in force, records, saves and applies it.
#include "wizardparawidget.h"

#include "core/sysparam.h"

void WizardParaWidget::accept()
{
    if (!gSysParamEdit)
        return;
    storeWidgetValues(*gSysParamEdit);
}

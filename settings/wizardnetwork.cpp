// The network page.
#include "networksettingdialog.h"
#include "settingshooks.h"
#include "wizardparawidget.h"

// The network settings live in a modal dialog of their own; the report-link settings are applied only
// when it ends with OK (card edits apply themselves as they are accepted).
void WizardParaWidget::SlotToNetwork()
{
    NetworkSettingDialog dialog(nullptr);
    if (dialog.exec() == QDialog::Accepted)
        dialog.slotUpdatePPY();
    if (settingsHooks().stopLongPressTimer)
        settingsHooks().stopLongPressTimer();
}

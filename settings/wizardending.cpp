// Password, language, clock, calibration, shutdown and exit, and the counter reset. Every action that
// ends the run keeps one order: commit where it says so, store the parameters, one record line, stop,
// close the databases, then the command; the restart must find on disk what the setter confirmed.
#include "wizardparawidget.h"

#include "confirmactions.h"
#include "endingactions.h"

#include "core/commandrunner.h"
#include "core/paramstore.h"
#include "core/startup.h"
#include "core/sysparam.h"
#include "core/uitexttable.h"
#include "inspection/savefailimagethread.h"
#include "widgets/choosebox.h"
#include "widgets/choosedialogs.h"
#include "widgets/combobox.h"
#include "widgets/edit.h"
#include "widgets/editdatetime.h"
#include "widgets/numberinput.h"
#include "widgets/warnbox.h"

#include <cstring>

namespace {

// The password is kept to 32 bytes although the field holds 100: what the login box compares.
constexpr int kPasswordBytes = 32;

void notice(int row)
{
    if (!gWarnBox)
        return;
    gWarnBox->setMessage(uiText(row));
    gWarnBox->exec();
}

bool confirmed(int row)
{
    if (!gChooseBox)
        return false;
    gChooseBox->setMessage(uiText(row));
    return gChooseBox->exec() == 1;
}

void record(int row)
{
    if (confirmActions().insertRecord)
        confirmActions().insertRecord(uiText(row));
}

void saveParametersInForce()
{
    if (gSysParam)
        saveSysParam(gSysParam);
}

// Stop the workers and close the databases: nothing may be half written when the power goes.
void stopAndFlush()
{
    EndingActions &end = endingActions();
    if (end.stopAndWait)
        end.stopAndWait();
    if (end.flushAll)
        end.flushAll();
}

void pause(int ms)
{
    if (endingActions().pause)
        endingActions().pause(ms);
}

} // namespace

void WizardParaWidget::ChangePwd()
{
    const QString first = newPasswordEdit->text();
    const QString second = confirmPasswordEdit->text();
    if (gNumberInput)
        gNumberInput->HideUpdate();
    if (first.isEmpty() || second.isEmpty()) {
        notice(278);
        return;
    }
    if (first != second) {
        notice(280);
        return;
    }
    if (gSysParamEdit) {
        const QByteArray bytes = first.toLatin1().left(kPasswordBytes);
        std::memset(gSysParamEdit->password, 0, sizeof gSysParamEdit->password);
        std::memcpy(gSysParamEdit->password, bytes.constData(), size_t(bytes.size()));
    }
    notice(279);
    newPasswordEdit->clear();
    confirmPasswordEdit->clear();
}

void WizardParaWidget::SlotChangeLan(int index)
{
    if (index == gLanguage || index < 0 || index >= languageCombo->count())
        return;
    if (!confirmed(318))
        return;
    record(319); // in the language the record was kept in so far
    gLanguage = index;
    accept();
    saveParametersInForce();
    stopAndFlush();
    runCommand(QStringLiteral("reboot"));
}

void WizardParaWidget::SlotModifyTime()
{
    if (!modifyTimeWidget)
        modifyTimeWidget = new ModifyTimeWidget(this);
    auto *box = static_cast<ModifyTimeWidget *>(modifyTimeWidget);
    box->editor()->setCurrent();
    if (box->exec() != 1)
        return;
    if (!confirmed(402))
        return;
    box->editor()->setSystemTime();
    accept();
    saveParametersInForce();
    record(401);
    stopAndFlush();
    pause(1000);
    runCommand(QStringLiteral("reboot"));
}

// Nothing is committed: the calibration program owns the screen until it ends, and the restart
// discards unconfirmed changes on the other pages.
void WizardParaWidget::SlotCalibration()
{
    runCommand(QStringLiteral("./tsc"), {}, -1);
    pause(500);
    if (endingActions().flushAll)
        endingActions().flushAll();
    runCommand(QStringLiteral("reboot"));
}

void WizardParaWidget::SlotShutDown()
{
    if (!confirmed(291))
        return;
    accept();
    saveParametersInForce();
    record(292);
    stopAndFlush();
    if (confirmed(293))
        runCommand(QStringLiteral("reboot"));
    else
        runCommand(QStringLiteral("init"), {QStringLiteral("0")});
}

// The databases stay open: the process ends at once, and SQLite keeps every committed line.
void WizardParaWidget::SlotExit()
{
    if (!confirmed(294))
        return;
    record(295);
    accept();
    saveParametersInForce();
    notice(296);
    if (endingActions().quitApp)
        endingActions().quitApp(0);
}

void WizardParaWidget::ResetTotal()
{
    ChooseBox box(parentWidget());
    box.setMessage(uiText(616));
    if (box.exec() == 0)
        return;
    for (int i = 0; i < 8; ++i) {
        gCameraTotalCount[i] = 0;
        gCameraNgCount[i] = 0;
    }
    record(255);
    if (endingActions().countWrite)
        endingActions().countWrite();
}

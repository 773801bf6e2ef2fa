// Parameter groups, the factory reset and the camera position page.
#include "wizardparawidget.h"

#include "confirmactions.h"
#include "paragroups.h"
#include "settingshooks.h"
#include "settingslog.h"
#include "widgetchangecamera.h"

#include "core/commandrunner.h"
#include "core/paramstore.h"
#include "core/pathmap.h"
#include "core/startup.h"
#include "core/sysparam.h"
#include "core/uitexttable.h"
#include "widgets/choosebox.h"
#include "widgets/combobox.h"
#include "widgets/edit.h"
#include "widgets/numcharinput.h"
#include "widgets/warnbox.h"

namespace {

void notice(const QString &text)
{
    qCWarning(lcSettings).noquote() << "notice:" << text.simplified();
    if (!gWarnBox)
        return;
    gWarnBox->setMessage(text);
    gWarnBox->exec();
}

bool agreed(const QString &question)
{
    if (!gChooseBox)
        return false;
    gChooseBox->setMessage(question);
    return gChooseBox->exec() == 1;
}

// The position of the group in force, in both blocks: a later Confirm copies the working copy over
// the block in force and must not bring back an old position.
void storeGroupIndex(int index)
{
    if (!gSysParam)
        return;
    gSysParam->paraGroupIndex = index;
    if (gSysParamEdit)
        gSysParamEdit->paraGroupIndex = index;
    saveParamGroupIndex(gSysParam);
}

int cameraCount()
{
    return qBound(0, gCameraCount, 8);
}

int slotCount()
{
    return qBound(0, gDetectSlotCount, 8);
}

} // namespace

void WizardParaWidget::SlotParaGroupBackup()
{
    QString name = paraGroupNameEdit->text();
    if (gNumCharInput)
        gNumCharInput->HideUpdate();
    // Names become folder names: refused before anything is asked, committed or copied.
    if (const int problem = ParaGroups::nameProblem(name)) {
        notice(uiText(problem));
        return;
    }
    if (!agreed(uiText(283)))
        return;
    accept(); // what is copied below is what the screen showed

    // The list's own spelling: a name typed in another letter case overwrites that folder, not a
    // second one beside it.
    int found = -1;
    for (int i = 0; i < paraGroupCombo->count() && found < 0; ++i)
        if (paraGroupCombo->itemText(i).compare(name, Qt::CaseInsensitive) == 0)
            found = i;
    if (found >= 0) {
        if (!agreed(uiText(284)))
            return;
        name = paraGroupCombo->itemText(found);
    }

    QString error;
    if (!ParaGroups::backup(name, cameraCount(), slotCount(), &error)) {
        qCWarning(lcSettings).noquote() << "parameter group" << name << "not backed up:" << error;
        notice(uiText(703));
        return;
    }
    if (found < 0)
        ParaGroupUpdateList();
    const int position = paraGroupCombo->findText(name, Qt::MatchExactly | Qt::MatchCaseSensitive);
    paraGroupCombo->setCurrentIndex(position);
    storeGroupIndex(position);
}

void WizardParaWidget::SlotParaGroupRestore()
{
    if (paraGroupCombo->currentIndex() < 0)
        return; // nothing listed, nothing to restore
    const QString name = paraGroupCombo->currentText();
    if (!agreed(uiText(285)))
        return;
    // Checked before anything changes: a group without its database would leave the box with empty
    // camera folders and restart it into the parameters it had.
    if (!ParaGroups::holdsParameters(name)) {
        notice(uiText(701).arg(name));
        return;
    }
    storeGroupIndex(paraGroupCombo->currentIndex());
    QString error;
    if (!ParaGroups::restore(name, cameraCount(), slotCount(), &error)) {
        qCWarning(lcSettings).noquote() << "parameter group" << name << "not restored:" << error;
        notice(uiText(704));
        return;
    }
    if (confirmActions().insertRecord)
        confirmActions().insertRecord(uiText(286).arg(name));
    // The working copy is not committed: the restored database is what the next start loads.
    if (settingsHooks().flushAll)
        settingsHooks().flushAll();
    runCommand(QStringLiteral("reboot"));
}

void WizardParaWidget::SlotParaGroupDelete()
{
    const int index = paraGroupCombo->currentIndex();
    if (index < 0)
        return;
    const QString name = paraGroupCombo->currentText();
    if (name == ParaGroups::factoryGroupName()) {
        notice(uiText(702));
        return;
    }
    if (!agreed(uiText(287)))
        return;
    QString error;
    if (!ParaGroups::remove(name, &error)) {
        qCWarning(lcSettings).noquote() << "parameter group" << name << "not deleted:" << error;
        notice(uiText(705));
        return;
    }
    paraGroupCombo->removeItem(index);
    // The stored position counts the list: the groups after the deleted one move up by one, and the
    // deleted group itself is no longer anybody's.
    if (gSysParam) {
        const int stored = gSysParam->paraGroupIndex;
        if (stored == index)
            storeGroupIndex(-1);
        else if (stored > index)
            storeGroupIndex(stored - 1);
    }
}

void WizardParaWidget::SlotRestoreFactorySet()
{
    if (!agreed(uiText(551) + QLatin1Char('?')))
        return;
    // The box restarts into the archive: one that is missing or cannot be unpacked would restart it
    // into nothing, so both are checked first.
    const QString archive = ParaGroups::factoryArchivePath();
    if (!ParaGroups::factoryArchiveUsable(archive)) {
        qCWarning(lcSettings).noquote() << "factory reset refused: no usable" << archive;
        notice(uiText(706));
        return;
    }
    const QString target = mapSystemPath(QStringLiteral("/root/bin-DOD")) + QStringLiteral("/newupdate.tar.gz");
    QString error;
    if (!ParaGroups::copyFile(archive, target, &error)) {
        qCWarning(lcSettings).noquote() << "factory reset refused:" << error;
        notice(uiText(707));
        return;
    }
    runCommand(QStringLiteral("sync"));
    runCommand(QStringLiteral("reboot"));
}

void WizardParaWidget::SlotTuneCamera()
{
    hide();
    if (changeCameraWidget) {
        changeCameraWidget->show();
        changeCameraWidget->raise();
    }
}

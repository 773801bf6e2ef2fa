// Online update, update from and export to the USB disk.
#include "wizardparawidget.h"

#include "settingshooks.h"
#include "settingslog.h"
#include "updatefiles.h"
#include "versiondownloaddialog.h"

#include "core/clock.h"
#include "core/commandrunner.h"
#include "core/pathmap.h"
#include "core/startup.h"
#include "core/sysparam.h"
#include "core/systemhelpers.h"
#include "core/uitexttable.h"
#include "widgets/choosebox.h"
#include "widgets/warnbox.h"

#include <QDir>
#include <QThread>

namespace {

bool ask(const QString &question)
{
    gChooseBox->setMessage(question);
    return gChooseBox->exec() == 1;
}

void tell(const QString &text)
{
    gWarnBox->setMessage(text);
    gWarnBox->exec();
}

} // namespace

void WizardParaWidget::SlotToVerion()
{
    QWidget *button = fieldWidget(QStringLiteral("versionLibrary"));
    if (button)
        button->setEnabled(false);
    auto *dialog = new VersionDownloadDialog(window());
    if (dialog->reachable) {
        dialog->exec();
        delete dialog;
    } else {
        delete dialog;
        tell(uiText(725));
    }
    if (button)
        button->setEnabled(true);
}

void WizardParaWidget::SlotUpdateApp()
{
    while (mountUsbByBlkid().isEmpty()) {
        if (!ask(uiText(320)))
            return;
    }
    const QString path = chooseUpdateFile(this);
    if (path.size() <= 2)
        return;
    if (!ask(uiText(323)))
        return;
    stopAndWait();

    const QStringList parts = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    const QString target = parts.isEmpty() ? QString() : usbUpdateTargetName(parts.last());
    if (target.isEmpty()) {
        gRunning = true; // back to work: nothing is installed
        return;
    }
    // Copied by the program itself: the name on the disk is never read by a shell. An empty archive
    // installs nothing: a restart for it would only hide that the update failed.
    QString error;
    if (!copyUpdateChecked(path, QDir::current().filePath(target), &error)) {
        qCWarning(lcSettings) << "update not copied from the USB disk:" << error;
        gRunning = true;
        tell(uiText(729));
        return;
    }
    qCInfo(lcSettings) << "update copied from" << path << "as" << target;
    QThread::msleep(300);
    if (settingsHooks().flushAll)
        settingsHooks().flushAll();
    runCommand(QStringLiteral("sync"));
    runCommand(QStringLiteral("reboot"));
}

void WizardParaWidget::SlotExportData()
{
    gChooseBox->setMessage(uiText(324));
    for (;;) {
        if (gChooseBox->exec() != 1)
            return;
        if (!mountUsbByBlkid().isEmpty())
            break;
        gChooseBox->setMessage(uiText(320));
    }
    const QString stamp = appNow().toString(QStringLiteral("yyyy-MM-dd_hh.mm.ss"));
    const QString folder = mapSystemPath(QStringLiteral("/mnt/") + stamp);
    QString error;
    QSet<QString> copied;
    bool ok = QDir().mkdir(folder);
    if (!ok)
        error = QStringLiteral("cannot make the folder ") + folder;
    // The running log lies in the program folder and grows whenever a line is written: it is exported
    // as it stood when its copy began, rather than failing the whole export.
    ok = ok && copyTreeChecked(QDir::currentPath(), folder + QStringLiteral("/bin-DOD"), &copied, &error,
                               FileGrowth::CopyAsAtOpen);
    QThread::msleep(100);
    // The raw frames are the only copy of themselves: they go only once they are safely on the disk.
    if (ok) {
        for (int c = 1; c <= gCameraCount; ++c) {
            for (int d = 1; d <= gDetectSlotCount; ++d) {
                removeCopiedFiles(
                    QStringLiteral("%1/cammer%2%3").arg(QStringLiteral("./originalimage")).arg(c).arg(d),
                    copied);
                QThread::msleep(100);
            }
        }
    } else {
        qCWarning(lcSettings) << "export to the USB disk failed:" << error;
    }
    QThread::msleep(300);
    runCommand(QStringLiteral("sync"));
    runCommand(QStringLiteral("umount"), {QStringLiteral("/mnt")});
    tell(uiText(ok ? 147 : 650));
}

// The operation-record page: today's lines from the live record, earlier days from the daily
// archives in "./RECORD", latest line first; and the clearing of today's record.
#include "wizardparawidget.h"

#include "confirmactions.h"
#include "endingactions.h"
#include "settingshooks.h"

#include "core/clock.h"
#include "core/databasejournal.h"
#include "core/uitexttable.h"
#include "widgets/choosebox.h"

#include <QHeaderView>
#include <QListWidget>
#include <QSqlTableModel>
#include <QTableView>

namespace {

bool advancedUser()
{
    return settingsHooks().isAdvancedUser && settingsHooks().isAdvancedUser();
}

} // namespace

void WizardParaWidget::SlotToRecord()
{
    if (currentPage == 5)
        return;
    recordDateList->clear();
    recordDateList->addItem(appNow().date().toString(QStringLiteral("yyyy-MM-dd")));
    const QDir archives = endingActions().recordArchiveDir ? endingActions().recordArchiveDir() : QDir();
    const QStringList days =
        archives.entryList({QStringLiteral("*.db")}, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (auto it = days.crbegin(); it != days.crend(); ++it)
        recordDateList->addItem(it->chopped(3));
    recordDateList->setCurrentRow(0);
    UpdateRecord(recordDateList->item(0));
    currentPage = 5;
    DoChangePage();
}

void WizardParaWidget::UpdateRecord(QListWidgetItem *item)
{
    delete recordModel;
    recordModel = nullptr;
    if (!item)
        return;

    QSqlDatabase db;
    if (recordDateList->currentRow() == 0) {
        db = endingActions().liveRecordDb ? endingActions().liveRecordDb() : QSqlDatabase();
    } else {
        recordDb.close();
        const QDir archives = endingActions().recordArchiveDir ? endingActions().recordArchiveDir() : QDir();
        recordDb.setDatabaseName(QStringLiteral("%1//%2.db").arg(archives.absolutePath(), item->text()));
        // Read-only: opening an archive removed since the list was made must not create an empty
        // one, and nothing shown here is ever written back.
        recordDb.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (!moveSpecialCompanionsAside(recordDb.databaseName()) || !recordDb.open())
            return;
        db = recordDb;
    }

    auto *model = new QSqlTableModel(this, db);
    model->setEditStrategy(QSqlTableModel::OnManualSubmit);
    // A file that is no record (damaged, a folder, another table) leaves the model empty.
    model->setTable(QStringLiteral("RECORD"));
    model->setSort(0, Qt::DescendingOrder);
    model->select();
    const int rows[3] = {288, 289, 290};
    for (int column = 0; column < 3; ++column)
        model->setHeaderData(column, Qt::Horizontal, uiText(rows[column]));
    recordModel = model;

    recordTable->setModel(recordModel);
    recordTable->verticalHeader()->hide();
    const int widths[3] = {120, 125, 1330};
    for (int column = 0; column < 3; ++column)
        recordTable->setColumnWidth(column, widths[column]);
}

void WizardParaWidget::SlotClearRecord()
{
    if (!advancedUser())
        return;
    if (!gChooseBox)
        return;
    gChooseBox->setMessage(uiText(297));
    if (gChooseBox->exec() != 1)
        return;
    // The password may have timed out while the question was open.
    if (!advancedUser())
        return;
    if (endingActions().clearRecord)
        endingActions().clearRecord();
    if (confirmActions().insertRecord)
        confirmActions().insertRecord(uiText(298));
}

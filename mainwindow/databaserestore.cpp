#include "databaserestore.h"

#include "atomicfile.h"
#include "clock.h"
#include "commandrunner.h"
#include "databasejournal.h"
#include "mainwindowlog.h"

#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

namespace {

const QString kCheckConnection = QStringLiteral("dbStartupCheck");

void setCause(QString *cause, const QString &text)
{
    if (cause)
        *cause = text;
}

} // namespace

DatabaseCheck paramDatabaseCheck()
{
    DatabaseCheck check;
    check.tables << QStringLiteral("sysparam");
    // Camera c + 1 keeps its regions in "cammer<c>"; a table that is gone would load as no regions,
    // and that camera would pass every mould.
    for (int c = 0; c < 8; ++c)
        check.tables << QStringLiteral("cammer%1").arg(c);
    check.rowsRequired = QStringLiteral("sysparam");
    check.quickCheck = true;
    return check;
}

namespace {

// The first thing `db` does not hold of `check`, as a sentence naming `file`; empty when it holds all.
// `failed` gets the error of a statement that failed.
QString checkFailure(QSqlDatabase &db, const QString &file, const DatabaseCheck &check, QSqlError *failed)
{
    QSqlQuery query(db);
    for (const QString &table : check.tables) {
        // A failed prepare (the schema could not be read) would leave exec() to report only
        // "Parameter count mismatch": its own error says why.
        const bool prepared = query.prepare(
            QStringLiteral("select count(*) from sqlite_master where type='table' and name=?"));
        query.addBindValue(table);
        if (!prepared || !query.exec() || !query.next()) {
            *failed = query.lastError();
            const QString text = isBusyError(*failed) ? QStringLiteral("%1 is locked: %2")
                                                      : QStringLiteral("%1 is not a database: %2");
            return text.arg(file, query.lastError().text());
        }
        if (query.value(0).toInt() != 1)
            return QStringLiteral("%1 has no table %2").arg(file, table);
        // The names come from our own list; quoted all the same.
        if (!query.exec(QStringLiteral("select * from \"%1\" limit 1").arg(table))) {
            *failed = query.lastError();
            return QStringLiteral("%1: table %2 cannot be read: %3")
                .arg(file, table, query.lastError().text());
        }
        const bool hasRow = query.next();
        if (table == check.rowsRequired && !hasRow)
            return QStringLiteral("%1: table %2 is empty").arg(file, table);
    }
    if (check.quickCheck) {
        // One "ok" row for a whole file; otherwise one row per problem found (at most 100).
        if (!query.exec(QStringLiteral("PRAGMA quick_check"))) {
            *failed = query.lastError();
            return QStringLiteral("%1 cannot be checked: %2").arg(file, query.lastError().text());
        }
        QStringList problems;
        while (query.next())
            problems << query.value(0).toString();
        if (problems != QStringList{QStringLiteral("ok")})
            return QStringLiteral("%1 is damaged (quick_check: %2)")
                .arg(file, problems.mid(0, 3).join(QStringLiteral("; ")).left(400));
    }
    return QString();
}

} // namespace

DatabaseState inspectDatabase(const QString &file, const DatabaseCheck &check, QString *cause,
                              const QString &shipped)
{
    QString why;
    if (!moveSpecialCompanionsAside(file, &why)) {
        setCause(cause, why);
        return DatabaseState::Deferred;
    }
    const QFileInfo info(file);
    if (!info.exists()) {
        setCause(cause, QStringLiteral("%1 is missing").arg(file));
        return DatabaseState::Missing;
    }
    // Not opened: SQLite would delete a journal beside an empty file, the one copy of its old pages.
    if (info.isFile() && info.size() == 0) {
        setCause(cause, QStringLiteral("%1 is empty").arg(file));
        return DatabaseState::Damaged;
    }
    // A journal beside the shipped copy was left by the file it replaced: played back, it would write
    // that file's old pages into the copy. It goes aside before any connection can play it back.
    if (!shipped.isEmpty() && !databaseCompanions(file).isEmpty() && sameFileContent(file, shipped) &&
        !moveJournalAside(file)) {
        setCause(cause, QStringLiteral("%1: the journal beside it cannot be moved aside").arg(file));
        return DatabaseState::Damaged;
    }
    const bool journal = QFileInfo::exists(file + QStringLiteral("-journal"));
    const bool hot = hotJournalBeside(file);
    DatabaseState state = DatabaseState::Damaged;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), kCheckConnection);
        // Read-write but never creating: a hot journal is rolled back before the file is judged, a
        // missing file is not turned into an empty database, an empty one stays empty. The wait lets
        // a reader beside the box (the board simulator reads PARAM.db) finish.
        setOpenExisting(db, file);
        QSqlError failed;
        if (!db.open()) {
            failed = db.lastError();
            setCause(cause, QStringLiteral("%1 cannot be opened: %2").arg(file, failed.text()));
        } else {
            const QString failure = checkFailure(db, file, check, &failed);
            if (failure.isEmpty())
                state = DatabaseState::Good;
            else
                setCause(cause, failure);
        }
        if (isBusyError(failed)) {
            state = DatabaseState::Busy;
        } else if (state != DatabaseState::Good && hot && isWriteError(failed)) {
            // The rollback could not write its pages back: the journal is still the one copy of what
            // the file held at its last commit. Judged at a start with room.
            state = DatabaseState::Deferred;
            setCause(cause,
                     QStringLiteral("%1 cannot be rolled back to its last commit now (%2): it and its "
                                    "journal are left as they are")
                         .arg(file, failed.text()));
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(kCheckConnection);
    if (state == DatabaseState::Good && journal && !QFileInfo::exists(file + QStringLiteral("-journal")))
        qCWarning(lcMainWindow).noquote()
            << file << "was cut short in a write: rolled back to its last commit";
    return state;
}

DatabaseState inspectDatabase(const QString &file, const QString &table, QString *cause)
{
    DatabaseCheck check;
    check.tables << table;
    return inspectDatabase(file, check, cause);
}

QString keepDamagedDatabase(const QString &file)
{
    const QString target = damagedFileName(file);
    return moveDatabase(file, target) ? target : QString();
}

bool restoreDatabase(const QString &file, const DatabaseCheck &check, DatabaseState state,
                     const QStringList &copyArguments, QString *cause,
                     const std::function<void()> &beforeCopy)
{
    if (state == DatabaseState::Damaged) {
        const QString kept = keepDamagedDatabase(file);
        if (kept.isEmpty()) {
            // Copying over it would destroy the only copy of what it still holds, and a journal left
            // behind would tear the copy.
            setCause(cause, QStringLiteral("%1 is damaged and cannot be moved aside; left as it is").arg(file));
            return false;
        }
        qCWarning(lcMainWindow).noquote() << "damaged" << file << "kept as" << kept;
    } else if (!moveJournalAside(file)) {
        setCause(cause, QStringLiteral("%1 is missing and its journal cannot be moved aside").arg(file));
        return false;
    }
    if (beforeCopy)
        beforeCopy();
    runCommand(QStringLiteral("cp"), copyArguments);
    runCommand(QStringLiteral("sync"));
    QString why;
    if (inspectDatabase(file, check, &why) == DatabaseState::Good)
        return true;
    setCause(cause, QStringLiteral("restoring %1 failed (%2)").arg(file, why));
    return false;
}

bool keepDamagedStoreAside(const QString &file, const DatabaseCheck &check)
{
    // Only a plain file is judged: whatever else stands at the name is no database to set aside.
    if (!QFileInfo(file).isFile())
        return false;
    QString cause;
    if (inspectDatabase(file, check, &cause) != DatabaseState::Damaged)
        return false;
    const QString kept = keepDamagedDatabase(file);
    if (kept.isEmpty()) {
        qCCritical(lcMainWindow).noquote() << cause << "- it cannot be moved aside and is used as it is";
        return false;
    }
    qCCritical(lcMainWindow).noquote()
        << cause << "- kept with its journal as" << kept << "and started anew from its template";
    return true;
}

void settleDatabaseJournal(const QString &file, const QString &shipped)
{
    QString why;
    const JournalOutcome outcome = settleJournal(file, shipped, &why);
    if (outcome == JournalOutcome::Busy) {
        qCWarning(lcMainWindow).noquote() << why << "- its journal is left as it is";
    } else if (outcome == JournalOutcome::Failed) {
        const QString kept = keepDamagedDatabase(file);
        qCCritical(lcMainWindow).noquote()
            << why
            << (kept.isEmpty() ? QStringLiteral("- it cannot be moved aside")
                               : QStringLiteral("- kept with its journal as ") + kept);
    }
}

QString paramRestoredMarkerPath()
{
    return QStringLiteral("PARAM.db.restored");
}

bool writeParamRestoredMarker(const QString &cause)
{
    const QByteArray text = QStringLiteral("PARAM.db restored from the factory copy at %1: %2\n")
                                .arg(appNow().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")), cause)
                                .toUtf8();
    QString why;
    if (writeFileAtomically(paramRestoredMarkerPath(), text, {}, &why))
        return true;
    qCCritical(lcMainWindow).noquote() << paramRestoredMarkerPath() << "cannot be written:" << why
                                       << "- the next start does not know that the parameters were restored";
    return false;
}

void removeParamRestoredMarker()
{
    if (QFile::exists(paramRestoredMarkerPath()) && !QFile::remove(paramRestoredMarkerPath()))
        qCCritical(lcMainWindow).noquote()
            << paramRestoredMarkerPath() << "cannot be removed: the next start holds the clamp again";
}

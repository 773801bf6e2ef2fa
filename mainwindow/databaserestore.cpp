#include "databaserestore.h"

#include "atomicfile.h"
#include "clock.h"
#include "commandrunner.h"
#include "mainwindowlog.h"

#include <QFile>
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
QString checkFailure(QSqlDatabase &db, const QString &file, const DatabaseCheck &check)
{
    QSqlQuery query(db);
    for (const QString &table : check.tables) {
        query.prepare(QStringLiteral("select count(*) from sqlite_master where type='table' and name=?"));
        query.addBindValue(table);
        if (!query.exec() || !query.next())
            return QStringLiteral("%1 is not a database: %2").arg(file, query.lastError().text());
        if (query.value(0).toInt() != 1)
            return QStringLiteral("%1 has no table %2").arg(file, table);
        // The names come from our own list; quoted all the same.
        if (!query.exec(QStringLiteral("select * from \"%1\" limit 1").arg(table)))
            return QStringLiteral("%1: table %2 cannot be read: %3")
                .arg(file, table, query.lastError().text());
        const bool hasRow = query.next();
        if (table == check.rowsRequired && !hasRow)
            return QStringLiteral("%1: table %2 is empty").arg(file, table);
    }
    if (check.quickCheck) {
        // One "ok" row for a whole file; otherwise one row per problem found (at most 100).
        if (!query.exec(QStringLiteral("PRAGMA quick_check")))
            return QStringLiteral("%1 cannot be checked: %2").arg(file, query.lastError().text());
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

DatabaseState inspectDatabase(const QString &file, const DatabaseCheck &check, QString *cause)
{
    if (!QFile::exists(file)) {
        setCause(cause, QStringLiteral("%1 is missing").arg(file));
        return DatabaseState::Missing;
    }
    DatabaseState state = DatabaseState::Damaged;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), kCheckConnection);
        db.setDatabaseName(file);
        // Read-only: looking must not change the file, nor turn an empty file into a database.
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (!db.open()) {
            setCause(cause, QStringLiteral("%1 cannot be opened: %2").arg(file, db.lastError().text()));
        } else {
            const QString failure = checkFailure(db, file, check);
            if (failure.isEmpty())
                state = DatabaseState::Good;
            else
                setCause(cause, failure);
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(kCheckConnection);
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
    return QFile::rename(file, target) ? target : QString();
}

bool restoreDatabase(const QString &file, const DatabaseCheck &check, DatabaseState state,
                     const QStringList &copyArguments, QString *cause)
{
    if (state == DatabaseState::Damaged) {
        const QString kept = keepDamagedDatabase(file);
        if (kept.isEmpty()) {
            // Copying over it would destroy the only copy of what it still holds.
            setCause(cause, QStringLiteral("%1 is damaged and cannot be moved aside; left as it is").arg(file));
            return false;
        }
        qCWarning(lcMainWindow).noquote() << "damaged" << file << "kept as" << kept;
    }
    runCommand(QStringLiteral("cp"), copyArguments);
    runCommand(QStringLiteral("sync"));
    QString why;
    if (inspectDatabase(file, check, &why) == DatabaseState::Good)
        return true;
    setCause(cause, QStringLiteral("restoring %1 failed (%2)").arg(file, why));
    return false;
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

#include "databaserestore.h"

#include "atomicfile.h"
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

DatabaseState inspectDatabase(const QString &file, const QString &table, QString *cause)
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
            QSqlQuery query(db);
            query.prepare(QStringLiteral("select count(*) from sqlite_master where type='table' and name=?"));
            query.addBindValue(table);
            if (!query.exec() || !query.next()) {
                setCause(cause, QStringLiteral("%1 is not a database: %2").arg(file, query.lastError().text()));
            } else if (query.value(0).toInt() != 1) {
                setCause(cause, QStringLiteral("%1 has no table %2").arg(file, table));
            } else if (!query.exec(QStringLiteral("select * from \"%1\" limit 1").arg(table))) {
                setCause(cause, QStringLiteral("%1: table %2 cannot be read: %3")
                                    .arg(file, table, query.lastError().text()));
            } else {
                state = DatabaseState::Good;
            }
            query.finish();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(kCheckConnection);
    return state;
}

QString keepDamagedDatabase(const QString &file)
{
    const QString target = damagedFileName(file);
    return QFile::rename(file, target) ? target : QString();
}

bool restoreDatabase(const QString &file, const QString &table, DatabaseState state,
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
    if (inspectDatabase(file, table, &why) == DatabaseState::Good)
        return true;
    setCause(cause, QStringLiteral("restoring %1 failed (%2)").arg(file, why));
    return false;
}

#pragma once
// A day's operation record of 6 million lines as the box writes them, for the benchmarks that read one.

#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

// Makes `path` (a RECORD table of 6 million lines, with the template's time index when `indexed`)
// unless it exists already; about a minute. Returns `path`.
inline QString makeRecordDay(const QString &path, bool indexed)
{
    if (QFile::exists(path))
        return path;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("fill"));
        db.setDatabaseName(path);
        db.open();
        QSqlQuery q(db);
        q.exec(QStringLiteral("CREATE TABLE RECORD (recordtime TEXT, recordpassword TEXT, remarks TEXT)"));
        if (indexed)
            q.exec(QStringLiteral("CREATE INDEX RECORD_recordtime ON RECORD (recordtime)"));
        q.exec(QStringLiteral("BEGIN"));
        q.prepare(QStringLiteral("INSERT INTO RECORD VALUES(?, ?, ?)"));
        for (int i = 0; i < 6000000; ++i) {
            q.addBindValue(QString::asprintf("%02d.%02d.%02d", i / 3600 % 24, i / 60 % 60, i % 60));
            q.addBindValue(QStringLiteral("未登录"));
            q.addBindValue(QStringLiteral("line %1").arg(i));
            q.exec();
        }
        q.exec(QStringLiteral("COMMIT"));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("fill"));
    return path;
}

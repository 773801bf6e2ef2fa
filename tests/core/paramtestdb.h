#pragma once
// A second, independent look at a parameter or serial database file for the tests: reads and edits
// rows of table sysparam directly, without the store under test.

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <cstring>

class RowFile
{
public:
    explicit RowFile(const QString &path, const QString &connection) : m_connection(connection)
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(path);
        db.open();
        m_query = new QSqlQuery(db);
    }
    ~RowFile()
    {
        delete m_query;
        QSqlDatabase::removeDatabase(m_connection);
    }
    RowFile(const RowFile &) = delete;
    RowFile &operator=(const RowFile &) = delete;

    // The query the store under test runs on (the role of the main window's query).
    QSqlQuery &query() { return *m_query; }

    // Value of the row, or a null text when there is no row.
    QString value(const QString &key)
    {
        QSqlQuery q(QSqlDatabase::database(m_connection));
        q.prepare(QStringLiteral("select value from sysparam where name=?"));
        q.addBindValue(key);
        if (!q.exec() || !q.next())
            return QString();
        const QString v = q.value(0).toString();
        return v.isNull() ? QStringLiteral("") : v;
    }
    int count(const QString &key)
    {
        QSqlQuery q(QSqlDatabase::database(m_connection));
        q.prepare(QStringLiteral("select count(*) from sysparam where name=?"));
        q.addBindValue(key);
        return q.exec() && q.next() ? q.value(0).toInt() : -1;
    }
    int rowCount()
    {
        QSqlQuery q(QSqlDatabase::database(m_connection));
        return q.exec(QStringLiteral("select count(*) from sysparam")) && q.next() ? q.value(0).toInt() : -1;
    }
    bool set(const QString &key, const QString &value)
    {
        QSqlQuery q(QSqlDatabase::database(m_connection));
        q.prepare(QStringLiteral("update sysparam set value=? where name=?"));
        q.addBindValue(value);
        q.addBindValue(key);
        if (!q.exec())
            return false;
        if (q.numRowsAffected() > 0)
            return true;
        q.prepare(QStringLiteral("insert into sysparam values(?, ?)"));
        q.addBindValue(key);
        q.addBindValue(value);
        return q.exec();
    }
    bool remove(const QString &key)
    {
        QSqlQuery q(QSqlDatabase::database(m_connection));
        q.prepare(QStringLiteral("delete from sysparam where name=?"));
        q.addBindValue(key);
        return q.exec();
    }
    QStringList numbers(const QString &key) { return value(key).split(QLatin1Char(' ')); }

private:
    QString m_connection;
    QSqlQuery *m_query = nullptr;
};

inline int32_t wordOf(const void *record, int index)
{
    int32_t w;
    std::memcpy(&w, static_cast<const char *>(record) + 4 * index, 4);
    return w;
}

inline void setWordOf(void *record, int index, int32_t value)
{
    std::memcpy(static_cast<char *>(record) + 4 * index, &value, 4);
}

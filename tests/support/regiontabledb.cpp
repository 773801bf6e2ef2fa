#include "regiontabledb.h"

#include "paramquery.h"

#include <QVariant>

RegionTableDb::RegionTableDb(const QString &path, const QString &connection) : m_connection(connection)
{
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
    m_db.setDatabaseName(path);
    m_db.open();
    m_query = std::make_unique<QSqlQuery>(m_db);
    QSqlQuery *q = m_query.get();
    setParamQueryHook([q] { return q; });
}

RegionTableDb::~RegionTableDb()
{
    setParamQueryHook({});
    m_query.reset();
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_connection);
}

bool RegionTableDb::put(int camera, const QString &name, const QString &value) const
{
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("insert into cammer%1 values(?, ?)").arg(camera));
    q.addBindValue(name);
    q.addBindValue(value);
    return q.exec();
}

QMap<QString, QString> RegionTableDb::rows(int camera) const
{
    QMap<QString, QString> out;
    QSqlQuery q(m_db);
    q.exec(QStringLiteral("select name, value from cammer%1").arg(camera));
    while (q.next())
        out.insert(q.value(0).toString(), q.value(1).toString());
    return out;
}

int RegionTableDb::rowCount(int camera, const QString &name) const
{
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("select count(*) from cammer%1 where name=?").arg(camera));
    q.addBindValue(name);
    return q.exec() && q.next() ? q.value(0).toInt() : -1;
}

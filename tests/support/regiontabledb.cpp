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

bool RegionTableDb::layOutTwoSlots(const QString &path)
{
    const QString connection = QStringLiteral("regionLayout");
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(path);
        ok = db.open();
        QSqlQuery q(db);
        auto put = [&](int c, const QString &name, const QString &value) {
            q.prepare(QStringLiteral("insert into cammer%1 values(?, ?)").arg(c));
            q.addBindValue(name);
            q.addBindValue(value);
            ok = q.exec() && ok;
        };
        for (int c = 0; c < 2; ++c) {
            for (int k = 0; k < 8; ++k)
                put(c, QStringLiteral("detect%1").arg(k),
                    QStringLiteral("%1 0 0 0 0 0 0 0 0")
                        .arg(k == 0   ? 3
                             : k == 1 ? 5
                                      : 0));
            // Sensitivity, gray limits, defect function, rectangle, output none, then the corners.
            for (int k = 0; k < 2; ++k)
                for (int j = 0; j < (k == 0 ? 3 : 5); ++j)
                    put(c, QStringLiteral("ROI%1-%2").arg(k).arg(j),
                        QStringLiteral("%1 25 100 0 1 0 0 %2 50 %3 90")
                            .arg(10 + 10 * k + j)
                            .arg(40 + 30 * j)
                            .arg(60 + 30 * j));
        }
    }
    QSqlDatabase::removeDatabase(connection);
    return ok;
}

#pragma once
// A parameter database for the region-table tests: opened on a connection of its own, with the main
// window's parameter query hook pointing at its query (the one the region table and the camera view
// run their statements on), and a second look at the "cammer%1" tables that does not go through that
// query. The hook is removed and the connection closed when the object goes. GUI thread.

#include <QMap>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>

#include <memory>

class RegionTableDb
{
public:
    // Lays out, on a connection of its own, the tables of cameras 1 and 2 with 3 rectangles in slot 1
    // and 5 in slot 2 and every slot row present, so that loading them writes nothing.
    static bool layOutTwoSlots(const QString &path);

    RegionTableDb(const QString &path, const QString &connection);
    ~RegionTableDb();
    RegionTableDb(const RegionTableDb &) = delete;
    RegionTableDb &operator=(const RegionTableDb &) = delete;

    // The query the code under test runs on.
    QSqlQuery *query() const { return m_query.get(); }

    // Inserts the row (name, value) into table cammer<camera>.
    bool put(int camera, const QString &name, const QString &value) const;
    // Rows of table cammer<camera> as name -> value.
    QMap<QString, QString> rows(int camera) const;
    // How many rows of table cammer<camera> carry the name; -1 when the table cannot be read.
    int rowCount(int camera, const QString &name) const;

private:
    QString m_connection;
    QSqlDatabase m_db;
    std::unique_ptr<QSqlQuery> m_query;
};

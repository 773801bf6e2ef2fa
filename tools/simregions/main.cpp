// Gives the region tables of the simulated cameras 1 and 2 in a PARAM.db the sample regions, unless a
// table already holds regions (those of the user's own are kept).
// Usage: simregions <PARAM.db> <screen width> <screen height>

#include "sampleregions.h"

#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: simregions <PARAM.db> <screen width> <screen height>\n");
        return 2;
    }
    const int w = QString::fromLocal8Bit(argv[2]).toInt();
    const int h = QString::fromLocal8Bit(argv[3]).toInt();
    if (w < 100 || h < 100) {
        std::fprintf(stderr, "simregions: unusable screen size\n");
        return 2;
    }
    int rc = 0;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("simregions"));
        db.setDatabaseName(QString::fromLocal8Bit(argv[1]));
        if (!db.open()) {
            std::fprintf(stderr, "simregions: cannot open %s\n", argv[1]);
            return 1;
        }
        for (int camera = 0; camera < 2; ++camera) {
            const QString table = QStringLiteral("cammer%1").arg(camera);
            QSqlQuery q(db);
            if (!q.exec(QStringLiteral("select count(*) from %1 where name like 'ROI%'").arg(table)) || !q.next()) {
                rc = 1;
                continue;
            }
            if (q.value(0).toInt() > 0)
                continue;
            db.transaction();
            const auto rows = sampleRegionRows(w, h);
            for (const auto &row : rows) {
                QSqlQuery del(db);
                del.prepare(QStringLiteral("delete from %1 where name=?").arg(table));
                del.addBindValue(row.first);
                del.exec();
                QSqlQuery ins(db);
                ins.prepare(QStringLiteral("insert into %1 (name, value) values (?, ?)").arg(table));
                ins.addBindValue(row.first);
                ins.addBindValue(row.second);
                if (!ins.exec())
                    rc = 1;
            }
            db.commit();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("simregions"));
    return rc;
}

#include "statisticsfixture.h"

#include "clock.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>

#include <ctime>

namespace {
QDateTime gTestNow;
}

void useTestClock(const QDateTime &now)
{
    gTestNow = now;
    setAppClock([] { return gTestNow; });
}

void setNow(const QDateTime &now)
{
    gTestNow = now;
}

void TimeZoneScope::setZone(const char *zone)
{
    qputenv("TZ", zone);
    tzset();
}

QList<QVariantList> selectRows(const QString &path, const QString &select)
{
    QList<QVariantList> rows;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("testLook"));
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (db.open()) {
            QSqlQuery q(db);
            q.exec(select);
            while (q.next()) {
                QVariantList row;
                for (int i = 0; i < q.record().count(); ++i)
                    row << q.value(i);
                rows << row;
            }
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("testLook"));
    return rows;
}

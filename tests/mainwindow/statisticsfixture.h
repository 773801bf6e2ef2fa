#pragma once
// Shared by the statistics and temperature tests: a settable clock, a time zone that can be changed
// inside one test, and a look at database rows through a connection of the test's own.

#include <QDateTime>
#include <QString>
#include <QVariantList>

// The program's clock reads `now` (a local time) from here on; `setNow` moves it.
void useTestClock(const QDateTime &now);
void setNow(const QDateTime &now);

// Sets TZ for this process (local times follow at once); the destructor puts UTC back.
struct TimeZoneScope
{
    explicit TimeZoneScope(const char *zone) { setZone(zone); }
    ~TimeZoneScope() { setZone("UTC"); }
    static void setZone(const char *zone);
};

// Every column of the rows `select` returns from database file `path`, read by position.
QList<QVariantList> selectRows(const QString &path, const QString &select);

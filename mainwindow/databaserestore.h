#pragma once
// Start-up checks of the box's SQLite files. A database is used only when it is an SQLite file with
// its tables; a missing or damaged one is restored from its shipped copy before the box restarts, and
// never replaced by an empty file that would hide the loss (opening a missing file through the
// driver creates it). GUI thread.

#include <QString>
#include <QStringList>

enum class DatabaseState { Good, Missing, Damaged };

// What a database must hold to be used.
struct DatabaseCheck
{
    QStringList tables;      // each must exist and read
    QString rowsRequired;    // a table of `tables` that must hold at least one row; empty: none
    bool quickCheck = false; // SQLite's "PRAGMA quick_check" must answer "ok" (every page readable)
};

// PARAM.db: the parameters (never empty) and the region tables of all eight camera positions, whole.
DatabaseCheck paramDatabaseCheck();

// Looks at `file` without creating or changing it: Missing when it does not exist, Damaged when it
// is not an SQLite database or fails `check`. `cause` gets a sentence naming the file.
DatabaseState inspectDatabase(const QString &file, const DatabaseCheck &check, QString *cause = nullptr);
// The same for a database that needs nothing but `table`.
DatabaseState inspectDatabase(const QString &file, const QString &table, QString *cause = nullptr);

// Renames a damaged file to "<file>.damaged-<yyyyMMdd-hhmmss>" (with "_<n>" when that name is taken)
// so that it can still be looked at; returns the new name, empty when it could not be renamed.
QString keepDamagedDatabase(const QString &file);

// Restores `file` in `state` (Missing or Damaged): keeps a damaged file aside first, then runs "cp"
// with `copyArguments` and "sync" through the command runner, and inspects the result. True only when
// the file now passes `check`; otherwise `cause` says why. Nothing is deleted: a copy that came out
// broken is kept aside like any damaged file at the next start.
bool restoreDatabase(const QString &file, const DatabaseCheck &check, DatabaseState state,
                     const QStringList &copyArguments, QString *cause);

// "PARAM.db.restored": left beside PARAM.db when the start restored the factory copy (empty region
// tables), so that every start until the operator has set the parameters again holds the clamp.
QString paramRestoredMarkerPath();
// Written through the atomic writer with `cause`; false (and logged) when it could not be.
bool writeParamRestoredMarker(const QString &cause);
// Removed when present; a marker that stays is logged.
void removeParamRestoredMarker();

#pragma once
// Start-up checks of the box's SQLite files. A database is used only when it is an SQLite file with
// its tables; a missing or damaged one is restored from its shipped copy before the box restarts, and
// never replaced by an empty file that would hide the loss (opening a missing file through the
// driver creates it). A write cut short leaves the file with its journal: that is a sound database
// once SQLite has rolled the journal back, not a damaged one. GUI thread.

#include <QString>
#include <QStringList>

#include <functional>

// Busy: another process holds the file locked; it is neither judged nor touched.
// Deferred: the rollback of its hot journal cannot write now (no room, a file size limit, a read-only
// disk), or what stands at its journal's path cannot be moved aside: not damage. The file and its
// journal are left as they are, closed for this run; a start with room rolls the journal back.
enum class DatabaseState
{
    Good,
    Missing,
    Damaged,
    Busy,
    Deferred
};

// What a database must hold to be used.
struct DatabaseCheck
{
    QStringList tables;      // each must exist and read
    QString rowsRequired;    // a table of `tables` that must hold at least one row; empty: none
    bool quickCheck = false; // SQLite's "PRAGMA quick_check" must answer "ok" (every page readable)
};

// PARAM.db: the parameters (never empty) and the region tables of all eight camera positions, whole.
DatabaseCheck paramDatabaseCheck();

// Looks at `file` without creating it: Missing when it does not exist, Damaged when it is not an
// SQLite database or fails `check`, Busy when another process kept it locked for the whole wait,
// Deferred when its hot journal cannot be rolled back now. A companion path that holds no plain file
// (a FIFO, a directory, a device, a link leading nowhere) is moved aside first and the file judged on
// its own. The one change looking may make is SQLite's rollback of a hot journal, which returns the
// file to its last commit; a journal beside a file equal to `shipped` (its shipped copy) is moved
// aside instead, never rolled into it. `cause` gets a sentence naming the file.
DatabaseState inspectDatabase(const QString &file, const DatabaseCheck &check, QString *cause = nullptr,
                              const QString &shipped = QString());
// The same for a database that needs nothing but `table`.
DatabaseState inspectDatabase(const QString &file, const QString &table, QString *cause = nullptr);

// Renames a damaged file to "<file>.damaged-<yyyyMMdd-hhmmss>" (with "_<n>" when that name is taken),
// its journal with it, so that both can still be looked at; returns the new name, empty when they
// could not be renamed (then nothing moved).
QString keepDamagedDatabase(const QString &file);

// Restores `file` in `state` (Missing or Damaged): keeps a damaged file aside with its journal first
// (a journal beside a missing file goes aside alone), calls `beforeCopy` once nothing is left in the
// way, then runs "cp" with `copyArguments` and "sync" through the command runner, and inspects the
// result. True only when the file now passes `check`; otherwise `cause` says why. When the move aside
// fails nothing is copied and `beforeCopy` is not called. Nothing is deleted: a copy that came out
// broken is kept aside like any damaged file at the next start.
bool restoreDatabase(const QString &file, const DatabaseCheck &check, DatabaseState state,
                     const QStringList &copyArguments, QString *cause,
                     const std::function<void()> &beforeCopy = {});

// For a store laid anew from its template without a restart (the statistics, the temperature
// history): `file`, when it is a plain file and `check` finds it damaged, goes aside with its journal,
// logged with the cause. True when it was moved aside; the caller then lays the template in its place.
bool keepDamagedStoreAside(const QString &file, const DatabaseCheck &check);

// Rolls back, or moves aside with the file, the journal of `file` (shipped copy `shipped`) before
// something that cannot know about journals (an update script) may copy over it.
void settleDatabaseJournal(const QString &file, const QString &shipped);

// "PARAM.db.restored": left beside PARAM.db once the start has moved the operator's PARAM.db aside to
// put the factory copy (empty region tables) in its place, so that every start until the operator has
// set the parameters again holds the clamp.
QString paramRestoredMarkerPath();
// Written through the atomic writer with `cause`; false (and logged) when it could not be.
bool writeParamRestoredMarker(const QString &cause);
// Removed when present; a marker that stays is logged.
void removeParamRestoredMarker();

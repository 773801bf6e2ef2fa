#pragma once
// Cuts a child process short at an exact moment of SQLite's writing of one database, as a kill or a
// power cut would: just before its n-th sync (of the file, its journal or their folder) or just after
// its n-th commit (its journal deleted). The child is this test's own executable: it calls
// armDatabaseCutFromEnvironment() first and reportDatabaseWrites() after its action; the parent runs it
// through checkCutRuns(). The cut stands in for the C library's fdatasync, fsync and unlink in the
// executables that link it (tests/CMakeLists.txt exports them to the SQLite library).

#include <QString>
#include <QStringList>

// Reads the cut the parent asked for (none when it asked for none) and starts counting.
void armDatabaseCutFromEnvironment();
// Prints the syncs and commits seen so far on standard output for the parent.
void reportDatabaseWrites();

// Runs this test's executable with `arguments` once whole, then once cut before each sync and once
// after each commit of `database` that the whole run made. Before each run `database` is laid out
// again as a copy of `start` (no journal beside it); after each run the rows of `tables` are read as
// the next start would find them. Empty when every cut run left the starting rows or the whole run's
// rows (and these differ), else what went wrong. `cuts` counts the cut runs. The child's temporary
// folders (TMPDIR) are made beside the database.
QString checkCutRuns(const QStringList &arguments, const QString &start, const QString &database,
                     const QStringList &tables, int *cuts);

// The rows (name, value) of `tables` in the database at `path`, one "table name=value" line each in
// name order, read on a connection of its own as the next start reads them (a journal left beside the
// file is rolled back first); a table that cannot be read shows as such.
QString databaseRows(const QString &path, const QStringList &tables);

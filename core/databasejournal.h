#pragma once
// The files SQLite keeps beside a database while it writes. A write cut short by a kill or a power
// cut leaves "<file>-journal" holding the pages as they were at the last commit; the next read-write
// connection plays it back and the file is whole again. Played into any other file (a shipped copy
// put in place of the torn one) the same journal tears that file instead: so a database is never
// copied or renamed into place over a journal, and a journal is moved on with the file it belongs to.
// GUI thread (each call opens and closes a connection of its own).

#include <QString>
#include <QStringList>

class QSqlDatabase;
class QSqlError;

// The journal, and the "-wal" and "-shm" files a database in WAL mode would have, that lie beside
// `file` (full names, those that exist).
QStringList databaseCompanions(const QString &file);

// Sets `db` up to open `file` read-write but never create it, waiting up to `busyTimeoutMs` for a
// lock another process holds: a hot journal is rolled back at the first read.
void setOpenExisting(QSqlDatabase &db, const QString &file, int busyTimeoutMs = 5000);

// True when `error` says only that another connection holds the file (SQLite busy or locked): the
// file may be perfectly sound.
bool isBusyError(const QSqlError &error);

// True when `error` says a write failed (SQLite I/O error, disk full, read-only): beside a hot journal
// it is the rollback that could not write (no room, a file size limit), not a damaged file.
bool isWriteError(const QSqlError &error);

// True when the journal beside `file` is a plain file with a header: one SQLite would play back.
bool hotJournalBeside(const QString &file);

// Moves aside, as "<companion>.damaged-<time>", every companion path of `file` that holds no plain
// file: a link that leads nowhere, or anything else once links are followed. SQLite opens whatever
// stands there as the journal: a FIFO stops its open for good, a directory or a device makes a sound
// file read as damaged. Looked at, never opened; a link is moved, never what it leads to. True when
// none is left; false, with the reason in `error`, when one could not be moved: `file` must then
// not be opened.
bool moveSpecialCompanionsAside(const QString &file, QString *error = nullptr);

// Renames `from` to `to` and its companions to `to` plus the same ending, so that they stay
// together. When a rename fails everything moved goes back; false with the reason in `error`.
bool moveDatabase(const QString &from, const QString &to, QString *error = nullptr);

// Moves the companions of `file` aside as "<companion>.damaged-<time>", leaving `file` as it is:
// for a journal that does not belong to the file now in place. True when none is left.
bool moveJournalAside(const QString &file, QString *error = nullptr);

enum class JournalOutcome
{
    None,       // no journal beside the file
    RolledBack, // played back: the file is as it was at its last commit
    MovedAside, // belonged to no file now in place, moved aside
    Busy,       // another process holds the file, or its rollback cannot write now: left as it is
    Failed      // still there: the file cannot be opened or read (damaged)
};

// Leaves no journal beside `file` where it can harm: none beside a missing file (it waits for a copy
// to tear), none beside a file byte for byte equal to `shipped` (the shipped copy put in place of a
// torn file, beside that file's journal: rolling back would write the old file's pages into it);
// any other one is rolled back. A companion that is no plain file goes aside first. `why` gets a
// sentence for Busy and Failed.
JournalOutcome settleJournal(const QString &file, const QString &shipped, QString *why = nullptr);

// True when both files can be read and hold the same bytes.
bool sameFileContent(const QString &a, const QString &b);

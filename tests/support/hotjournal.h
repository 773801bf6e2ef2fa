#pragma once
// What a power cut or a kill in the middle of a database write leaves: the file with some of the
// transaction's pages in it and its journal beside it, made by a real writer that dies.

#include <QString>
#include <QStringList>

#include <functional>

// A child process opens the SQLite file `file` with a page cache of a few pages, begins a
// transaction, runs `statements`, then adds rows to a table of its own until pages of the
// transaction were written into the file, and is killed (SIGKILL, by its pid) in the middle of it.
// True when the file then has its journal beside it and was changed; otherwise `why` says why.
// No connection of the calling process may be open on `file`.
bool leaveHotJournal(const QString &file, const QStringList &statements, QString *why);

// The number of rows `countQuery` ("select count(*) ...") finds in a copy of `file` taken without
// its journal, as a reader that never saw the journal finds the file; -1 when it cannot be read.
int countWithoutJournal(const QString &file, const QString &countQuery);

// The same on the file itself through a read-only connection (rolls nothing back); -1 when it
// cannot be read.
int countRows(const QString &file, const QString &countQuery);

// Runs `body` in a child process whose writes past `bytes` fail (RLIMIT_FSIZE with SIGXFSZ ignored),
// as in a box a launcher started under "ulimit -f". Returns what `body` returned (0-255), -1 when the
// child did not end by itself within 60 s (it is then killed) or ended otherwise.
int runUnderFileSizeLimit(long bytes, const std::function<int()> &body);

// A child process holds `file` locked against every other connection (an exclusive transaction, as
// a writer beside the box takes it) for `ms`, then ends its transaction and exits. Returns its pid
// once it holds the lock, -1 when it could not take it; reap it with endChild().
long holdLockedFor(const QString &file, int ms);
// A child process writes `statements` in a transaction until some of its pages are in `file` (as
// leaveHotJournal's writer does), holds it so for `ms`, then commits and exits: a writer beside the box
// caught in the middle of its write. Returns its pid once its pages are in the file, -1 when they could
// not be written; reap it with endChild().
long holdHalfWrittenFor(const QString &file, const QStringList &statements, int ms);
// Waits for the child `pid` to end; true when it exited with status 0.
bool endChild(long pid);

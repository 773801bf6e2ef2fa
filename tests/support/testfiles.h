#pragma once
// Small file helpers shared by the tests.

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>

// The lines of a UTF-8 text file without their line feeds; empty when it cannot be read.
QStringList readTextLines(const QString &path);

// Writes `content` (creating missing folders); with a valid `mtime` the file gets that modification time.
bool writeTestFile(const QString &path, const QByteArray &content, const QDateTime &mtime = {});

// Runs one SQL statement on the database file `path` through a connection of its own (for preparing a
// database before the code under test opens it); false when it cannot be opened or the statement fails.
bool execOnDatabase(const QString &path, const QString &statement);

// The remarks of the operation record file `path` (table RECORD), oldest first; read-only, through a
// connection of its own. Empty when it cannot be read.
QStringList recordRemarks(const QString &path);

// The whole content of a file, or "<unreadable>".
QByteArray readTestFile(const QString &path);

// Runs `body` in a child process in which writing a file past `limit` bytes fails with EFBIG, as on a
// full disk. Returns body's result as the child's exit code (0-255), or -1 when the child crashed.
int runWithFileSizeLimit(qint64 limit, const std::function<int()> &body);

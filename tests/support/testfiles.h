#pragma once
// Small file helpers shared by the tests.

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

// The lines of a UTF-8 text file without their line feeds; empty when it cannot be read.
QStringList readTextLines(const QString &path);

// Writes `content` (creating missing folders); with a valid `mtime` the file gets that modification time.
bool writeTestFile(const QString &path, const QByteArray &content, const QDateTime &mtime = {});

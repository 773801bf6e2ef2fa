#pragma once
// The one way this program writes a file. The bytes go to a temporary file beside the target, every
// write is checked, the file is synced to the disk and only then renamed over the target. On a full
// disk or any other failure the old file stays whole and the caller is told: QSaveFile alone reports
// success on a full disk and leaves an empty or cut file behind.

#include <QByteArray>
#include <QDateTime>
#include <QFileDevice>
#include <QString>

// Replaces `path` with `data` (any thread; two threads must not write the same path at once).
// `permissions` {} gives a new file the default mode (0666 less the umask) and keeps the mode of a
// file it replaces; otherwise the file gets exactly these permissions (e.g. owner read/write only).
// A symbolic link at `path` is followed: the file it points to is replaced, the link stays.
// Returns false, with a reason in `errorText` if given, when the file could not be written whole.
bool writeFileAtomically(const QString &path, const QByteArray &data,
                         QFileDevice::Permissions permissions = {}, QString *errorText = nullptr);
// As writeFileAtomically with {} permissions, except that the file always gets the mode a new file
// gets (0666 less the umask), also where it replaces one: for a file made again because it could not
// be read, whose old mode may be the reason.
bool writeNewFileAtomically(const QString &path, const QByteArray &data, QString *errorText = nullptr);

// What a file of this st_mode is, for a log line that says why it is not taken as a plain file:
// "a directory", "a FIFO", "a character device", "a block device", "a socket", "a symbolic link",
// "a plain file" or "a file of unknown type".
QString fileTypeText(unsigned int mode);

// Removes what writes cut short by a kill or a power cut left behind in `folder` (and in the folders
// below it when `recursive`): files named like this writer's temporary files, ".<name>.<8 hex>.tmp",
// last changed before `before`. Symbolic links are neither followed nor removed. Returns how many
// files were removed. Any thread, but not while a write may be under way in those folders.
int removeStaleTemporaries(const QString &folder, const QDateTime &before, bool recursive);

// The name under which a damaged stored file is kept for a person to look at:
// "<file>.damaged-<yyyyMMdd-hhmmss>" by the application clock, with "_<n>" when that name is taken,
// so that no earlier damaged copy is ever overwritten.
QString damagedFileName(const QString &file);

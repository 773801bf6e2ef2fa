#pragma once
// Parameter groups on disk: named copies of "PARAM.db" and the camera folders "cammer<camera><slot>"
// under "./paraGroup", and the factory-reset archive. Only Qt file operations touch the folders, never
// a shell, so a typed group name is a folder name and nothing else. Every change is copied into a
// staging folder first and then put in place by renames that are undone when one fails: a failure
// leaves the groups and the working directory as they were. GUI thread (blocks while it copies).

#include <QString>
#include <QStringList>

namespace ParaGroups {

constexpr int kMaxNameLength = 32;

// The factory group: it also holds the databases the start-up restores and the reset archive; it is
// never deleted, and a backup over it replaces only "PARAM.db" and the camera folders.
QString factoryGroupName();
// "paraGroup/<name>" relative to the working directory.
QString groupPath(const QString &name);
// "paraGroup/default/20clearsh.tar.gz".
QString factoryArchivePath();

// 0 when `name` can name a group, else the text row that says why: 282 empty (or blanks only), 700
// too long, holding "/", a control character or an invisible one (zero-width, direction control),
// blanks at either end, beginning with "." ("." and "..", and names the group list would not show),
// or naming something in "./paraGroup" that is not a folder.
int nameProblem(const QString &name);

// "cammer11".."cammer<cameras><detectSlots>", camera by camera.
QStringList cameraFolders(int cameras, int detectSlots);

// Writes "PARAM.db" and the camera folders of `cameras` x `detectSlots` (those that exist) into the
// group. A group folder other than the factory group is replaced whole. A journal a cut write left
// beside PARAM.db is rolled back first; when it cannot be, nothing is written.
bool backup(const QString &name, int cameras, int detectSlots, QString *error);

// True when the group folder holds a "PARAM.db" file: without it a restore has nothing to restore.
bool holdsParameters(const QString &name);

// The group's "PARAM.db" and its camera folders replace those of the working directory; the camera
// folders of `cameras` x `detectSlots` that the group does not hold are removed (they start empty).
// A journal beside the old PARAM.db goes with it.
bool restore(const QString &name, int cameras, int detectSlots, QString *error);

// Removes the group's folder; refuses the factory group and names that are not a group's.
bool remove(const QString &name, QString *error);

// True when `archive` is a gzip tar archive (listed by "tar", through the command runner) that
// carries "update.sh", the script the next start runs.
bool factoryArchiveUsable(const QString &archive);

// Copies a file through the atomic writer, opening the source read-only.
bool copyFile(const QString &from, const QString &to, QString *error);
// Copies a folder with everything below it (symbolic links are skipped, not followed).
bool copyTree(const QString &from, const QString &to, QString *error);

} // namespace ParaGroups

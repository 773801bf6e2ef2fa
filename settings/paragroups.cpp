#include "paragroups.h"

#include "settingslog.h"

#include "core/atomicfile.h"
#include "core/commandrunner.h"
#include "core/databasejournal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace ParaGroups {

namespace {

const QString kRoot = QStringLiteral("paraGroup");
const QString kParam = QStringLiteral("PARAM.db");
// Work folders; their leading "." keeps them out of the group list, and a name beginning with "."
// is refused, so no group can be one of them.
const QString kBackupStaging = QStringLiteral("paraGroup/.backup-staging");
const QString kBackupAside = QStringLiteral("paraGroup/.backup-replaced");
const QString kRestoreStaging = QStringLiteral(".paraGroup-restore");
const QString kRestoreAside = QStringLiteral(".paraGroup-replaced");

struct Move
{
    QString from;
    QString to;
};

bool present(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

bool renamePath(const QString &from, const QString &to, QString *error)
{
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return true;
    if (error)
        *error = QStringLiteral("cannot move %1 to %2: %3").arg(from, to, QString::fromLocal8Bit(std::strerror(errno)));
    return false;
}

void clearFolder(const QString &path)
{
    const QFileInfo info(path);
    if (info.isSymLink() || info.isFile())
        QFile::remove(path);
    else if (info.isDir())
        QDir(path).removeRecursively();
}

// Moves every existing path of `clear` and every target of `moves` aside, then each staged entry to
// its target. When a rename fails, everything moved so far goes back, so the caller's folders are
// either all replaced or all as they were. What was replaced is removed at the end.
bool swapIn(const QList<Move> &moves, QStringList clear, const QString &aside, QString *error)
{
    clearFolder(aside);
    if (!QDir().mkpath(aside)) {
        if (error)
            *error = QStringLiteral("cannot make %1").arg(aside);
        return false;
    }
    for (const Move &m : moves)
        clear.append(m.to);
    clear.removeDuplicates();

    QList<Move> done;
    bool ok = true;
    for (const QString &target : qAsConst(clear)) {
        if (!present(target))
            continue;
        const Move m{target, aside + QLatin1Char('/') + QString::number(done.size())};
        if (!(ok = renamePath(m.from, m.to, error)))
            break;
        done.append(m);
    }
    for (int i = 0; ok && i < moves.size(); ++i) {
        if ((ok = renamePath(moves.at(i).from, moves.at(i).to, error)))
            done.append(moves.at(i));
    }
    if (!ok) {
        for (int i = done.size() - 1; i >= 0; --i)
            renamePath(done.at(i).to, done.at(i).from, nullptr);
    }
    clearFolder(aside);
    return ok;
}

} // namespace

QString factoryGroupName()
{
    return QStringLiteral("default");
}

QString groupPath(const QString &name)
{
    return kRoot + QLatin1Char('/') + name;
}

QString factoryArchivePath()
{
    return groupPath(factoryGroupName()) + QStringLiteral("/20clearsh.tar.gz");
}

int nameProblem(const QString &name)
{
    if (name.trimmed().isEmpty())
        return 282;
    // Blanks at either end and invisible characters (zero-width, direction controls) make a name that
    // reads like another group's in the list.
    if (name.size() > kMaxNameLength || name.startsWith(QLatin1Char('.')) || name != name.trimmed())
        return 700;
    for (const uint c : name.toUcs4()) {
        const QChar::Category category = QChar::category(c);
        if (c == '/' || category == QChar::Other_Control || category == QChar::Other_Format ||
            category == QChar::Separator_Line || category == QChar::Separator_Paragraph)
            return 700;
    }
    // A plain file there is not a group: a backup would have to replace it.
    const QFileInfo existing(groupPath(name));
    if ((existing.exists() || existing.isSymLink()) && !existing.isDir())
        return 700;
    return 0;
}

QStringList cameraFolders(int cameras, int detectSlots)
{
    QStringList folders;
    for (int c = 1; c <= qBound(0, cameras, 8); ++c)
        for (int d = 1; d <= qBound(0, detectSlots, 8); ++d)
            folders << QStringLiteral("cammer%1%2").arg(c).arg(d);
    return folders;
}

bool copyFile(const QString &from, const QString &to, QString *error)
{
    QFile in(from);
    if (!in.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("cannot read %1: %2").arg(from, in.errorString());
        return false;
    }
    const QByteArray data = in.readAll();
    if (in.error() != QFileDevice::NoError || data.size() != in.size()) {
        if (error)
            *error = QStringLiteral("cannot read %1 whole: %2").arg(from, in.errorString());
        return false;
    }
    return writeFileAtomically(to, data, {}, error);
}

bool copyTree(const QString &from, const QString &to, QString *error)
{
    if (!QDir().mkpath(to)) {
        if (error)
            *error = QStringLiteral("cannot make %1").arg(to);
        return false;
    }
    const QFileInfoList entries =
        QDir(from).entryInfoList(QDir::Dirs | QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : entries) {
        const QString target = to + QLatin1Char('/') + entry.fileName();
        if (entry.isSymLink()) {
            // A link could lead anywhere on the box; a group holds real copies only.
            qCWarning(lcSettings).noquote() << "not copied, a symbolic link:" << entry.filePath();
            continue;
        }
        if (entry.isDir() ? !copyTree(entry.filePath(), target, error)
                          : entry.isFile() && !copyFile(entry.filePath(), target, error))
            return false;
    }
    return true;
}

bool backup(const QString &name, int cameras, int detectSlots, QString *error)
{
    if (nameProblem(name) != 0) {
        if (error)
            *error = QStringLiteral("not a group name: %1").arg(name);
        return false;
    }
    // A write cut short leaves PARAM.db torn beside its journal: copied so, the group would keep the
    // torn file without the journal that makes it whole.
    QString why;
    const JournalOutcome journal =
        settleJournal(kParam, groupPath(factoryGroupName()) + QLatin1Char('/') + kParam, &why);
    if (journal == JournalOutcome::Busy || journal == JournalOutcome::Failed) {
        if (error)
            *error = QStringLiteral("%1: its journal cannot be rolled back (%2)").arg(kParam, why);
        return false;
    }
    clearFolder(kBackupStaging);
    bool ok = QDir().mkpath(kBackupStaging) && copyFile(kParam, kBackupStaging + QLatin1Char('/') + kParam, error);
    for (const QString &folder : cameraFolders(cameras, detectSlots))
        if (ok && QFileInfo(folder).isDir())
            ok = copyTree(folder, kBackupStaging + QLatin1Char('/') + folder, error);

    const QString target = groupPath(name);
    QList<Move> moves;
    if (ok && name == factoryGroupName()) {
        // The factory group keeps its databases and reset archive; only what a backup holds changes.
        ok = QDir().mkpath(target);
        for (const QString &entry : QDir(kBackupStaging).entryList(QDir::AllEntries | QDir::NoDotAndDotDot))
            moves.append({kBackupStaging + QLatin1Char('/') + entry, target + QLatin1Char('/') + entry});
    } else {
        moves.append({kBackupStaging, target});
    }
    ok = ok && swapIn(moves, {}, kBackupAside, error);
    clearFolder(kBackupStaging);
    return ok;
}

bool holdsParameters(const QString &name)
{
    return !name.isEmpty() && QFileInfo(groupPath(name) + QLatin1Char('/') + kParam).isFile();
}

bool restore(const QString &name, int cameras, int detectSlots, QString *error)
{
    if (!holdsParameters(name) || name.contains(QLatin1Char('/'))) {
        if (error)
            *error = QStringLiteral("group %1 holds no %2").arg(name, kParam);
        return false;
    }
    const QString group = groupPath(name);
    clearFolder(kRestoreStaging);
    bool ok = QDir().mkpath(kRestoreStaging) &&
              copyFile(group + QLatin1Char('/') + kParam, kRestoreStaging + QLatin1Char('/') + kParam, error);
    QList<Move> moves{{kRestoreStaging + QLatin1Char('/') + kParam, kParam}};
    static const QRegularExpression kCameraFolder(QStringLiteral("^cammer[0-9]+$"));
    for (const QString &entry : QDir(group).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (!ok || !kCameraFolder.match(entry).hasMatch())
            continue;
        ok = copyTree(group + QLatin1Char('/') + entry, kRestoreStaging + QLatin1Char('/') + entry, error);
        moves.append({kRestoreStaging + QLatin1Char('/') + entry, entry});
    }
    // The old PARAM.db's journal goes aside with it: left beside the group's file, the next start
    // would play the old file's pages into it. What is no journal at all there is kept for a person
    // to look at.
    ok = ok && moveSpecialCompanionsAside(kParam, error);
    QStringList clear = cameraFolders(cameras, detectSlots);
    for (const char *ending : {"-journal", "-wal", "-shm"})
        clear << kParam + QLatin1String(ending);
    ok = ok && swapIn(moves, clear, kRestoreAside, error);
    clearFolder(kRestoreStaging);
    return ok;
}

bool remove(const QString &name, QString *error)
{
    const QString path = groupPath(name);
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..") ||
        name.contains(QLatin1Char('/')) || name == factoryGroupName() || !present(path)) {
        if (error)
            *error = QStringLiteral("not a group that can be deleted: %1").arg(name);
        return false;
    }
    clearFolder(path);
    if (present(path)) {
        if (error)
            *error = QStringLiteral("%1 could not be removed whole").arg(path);
        return false;
    }
    return true;
}

bool factoryArchiveUsable(const QString &archive)
{
    if (!QFileInfo(archive).isFile())
        return false;
    const CommandResult listing = runCommand(QStringLiteral("tar"), {QStringLiteral("-tzf"), archive}, 30000);
    if (!listing.started || listing.exitCode != 0)
        return false;
    for (const QByteArray &line : listing.standardOutput.split('\n')) {
        const QByteArray entry = line.trimmed();
        if (entry == "update.sh" || entry == "./update.sh")
            return true;
    }
    return false;
}

} // namespace ParaGroups

#include "databasejournal.h"

#include "atomicfile.h"
#include "corelog.h"

#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>

#include <sys/stat.h>

namespace {

const QString kSettleConnection = QStringLiteral("dbJournalSettle");
const char *const kEndings[] = {"-journal", "-wal", "-shm"};

void setText(QString *out, const QString &text)
{
    if (out)
        *out = text;
}

} // namespace

QStringList databaseCompanions(const QString &file)
{
    QStringList found;
    for (const char *ending : kEndings) {
        const QString name = file + QLatin1String(ending);
        const QFileInfo info(name);
        if (info.exists() || info.isSymLink())
            found << name;
    }
    return found;
}

void setOpenExisting(QSqlDatabase &db, const QString &file, int busyTimeoutMs)
{
    // "mode=rw" fails on a missing file instead of creating an empty database in its place. The
    // name is a URI: characters that mean something there are escaped.
    QString path = QString::fromLatin1(QUrl::toPercentEncoding(file, "/-._~"));
    db.setDatabaseName(QStringLiteral("file:%1?mode=rw").arg(path));
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=%1").arg(busyTimeoutMs));
}

bool isBusyError(const QSqlError &error)
{
    // SQLITE_BUSY (5) and SQLITE_LOCKED (6), as the driver reports SQLite's primary result code.
    const QString code = error.nativeErrorCode();
    return code == QLatin1String("5") || code == QLatin1String("6");
}

bool isWriteError(const QSqlError &error)
{
    // SQLITE_READONLY (8), SQLITE_IOERR (10; a file size limit shows as this), SQLITE_FULL (13).
    const QString code = error.nativeErrorCode();
    return code == QLatin1String("8") || code == QLatin1String("10") || code == QLatin1String("13");
}

// An empty or zeroed journal is ignored by SQLite and can tear nothing. Only a plain file is opened: a
// FIFO would stop the open for good.
bool hotJournalBeside(const QString &file)
{
    QFile journal(file + QStringLiteral("-journal"));
    char first = 0;
    return QFileInfo(journal).isFile() && journal.open(QIODevice::ReadOnly) &&
           journal.read(&first, 1) == 1 && first != 0;
}

bool moveSpecialCompanionsAside(const QString &file, QString *error)
{
    for (const char *ending : kEndings) {
        const QString companion = file + QLatin1String(ending);
        const QByteArray name = QFile::encodeName(companion);
        struct stat seen;
        if (::lstat(name.constData(), &seen) != 0)
            continue;
        QString type;
        if (S_ISLNK(seen.st_mode)) {
            struct stat target;
            if (::stat(name.constData(), &target) != 0)
                type = QStringLiteral("a symbolic link that leads nowhere");
            else if (!S_ISREG(target.st_mode))
                type = fileTypeText(target.st_mode);
        } else if (!S_ISREG(seen.st_mode)) {
            type = fileTypeText(seen.st_mode);
        }
        if (type.isEmpty())
            continue;
        // rename() moves a link itself, never what it leads to.
        const QString aside = damagedFileName(companion);
        if (::rename(name.constData(), QFile::encodeName(aside).constData()) != 0) {
            setText(error, QStringLiteral("%1 is %2 and cannot be moved aside").arg(companion, type));
            qCCritical(lcCore).noquote()
                << companion << "is" << type << "and not a plain file: it cannot be moved aside;" << file
                << "is not opened";
            return false;
        }
        qCWarning(lcCore).noquote() << companion << "is" << type << "and not a plain file: moved aside as"
                                    << aside << "-" << file << "is judged on its own";
    }
    return true;
}

bool moveDatabase(const QString &from, const QString &to, QString *error)
{
    QList<QPair<QString, QString>> done;
    auto undo = [&done] {
        for (int i = done.size() - 1; i >= 0; --i)
            QFile::rename(done.at(i).second, done.at(i).first);
    };
    if (!QFile::rename(from, to)) {
        setText(error, QStringLiteral("cannot move %1 to %2").arg(from, to));
        return false;
    }
    done.append({from, to});
    for (const QString &companion : databaseCompanions(from)) {
        const QString target = to + companion.mid(from.size());
        if (!QFile::rename(companion, target)) {
            // Left behind, the journal would be played into whatever comes in place of the file.
            setText(error, QStringLiteral("cannot move %1 to %2").arg(companion, target));
            undo();
            return false;
        }
        done.append({companion, target});
    }
    return true;
}

bool moveJournalAside(const QString &file, QString *error)
{
    for (const QString &companion : databaseCompanions(file)) {
        const QString target = damagedFileName(companion);
        if (!QFile::rename(companion, target)) {
            setText(error, QStringLiteral("cannot move %1 aside").arg(companion));
            return false;
        }
        qCWarning(lcCore).noquote() << companion << "belongs to no file in place: kept as" << target;
    }
    return true;
}

bool sameFileContent(const QString &a, const QString &b)
{
    QFile fa(a);
    QFile fb(b);
    if (!fa.open(QIODevice::ReadOnly) || !fb.open(QIODevice::ReadOnly) || fa.size() != fb.size())
        return false;
    while (!fa.atEnd()) {
        const QByteArray chunk = fa.read(1 << 16);
        if (chunk.isEmpty() || chunk != fb.read(chunk.size()))
            return false;
    }
    return true;
}

JournalOutcome settleJournal(const QString &file, const QString &shipped, QString *why)
{
    if (!moveSpecialCompanionsAside(file, why))
        return JournalOutcome::Busy;
    if (databaseCompanions(file).isEmpty())
        return JournalOutcome::None;
    // Nothing of what lies beside a missing file, or beside the shipped copy, belongs to it.
    if (!QFileInfo::exists(file) || (!shipped.isEmpty() && sameFileContent(file, shipped))) {
        if (moveJournalAside(file, why))
            return JournalOutcome::MovedAside;
        return JournalOutcome::Failed;
    }
    const bool hot = hotJournalBeside(file);
    JournalOutcome outcome = JournalOutcome::Failed;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), kSettleConnection);
        setOpenExisting(db, file);
        QSqlError error;
        if (db.open()) {
            // The first read takes the lock under which SQLite plays a hot journal back.
            QSqlQuery query(db);
            if (query.exec(QStringLiteral("select count(*) from sqlite_master")))
                outcome = JournalOutcome::RolledBack;
            else
                error = query.lastError();
        } else {
            error = db.lastError();
        }
        db.close();
        if (outcome != JournalOutcome::RolledBack && hot && isWriteError(error)) {
            // The rollback could not write (no room, a file size limit): the file is not damaged,
            // and a start with room plays the journal back.
            outcome = JournalOutcome::Busy;
            setText(why, QStringLiteral("%1 cannot be rolled back to its last commit now: %2")
                             .arg(file, error.text()));
        } else if (outcome != JournalOutcome::RolledBack) {
            outcome = isBusyError(error) ? JournalOutcome::Busy : JournalOutcome::Failed;
            setText(why, QStringLiteral("%1 cannot be read: %2").arg(file, error.text()));
        }
    }
    QSqlDatabase::removeDatabase(kSettleConnection);
    // Read, yet the journal is still there: another process is writing the file right now.
    if (outcome == JournalOutcome::RolledBack && hotJournalBeside(file)) {
        setText(why, QStringLiteral("%1 is being written by another process").arg(file));
        return JournalOutcome::Busy;
    }
    if (outcome == JournalOutcome::RolledBack && hot)
        qCWarning(lcCore).noquote() << file << "was cut short in a write: rolled back to its last commit";
    return outcome;
}

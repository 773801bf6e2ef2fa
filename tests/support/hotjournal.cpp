#include "hotjournal.h"

#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>

#include <csignal>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Runs in the forked child: never returns.
[[noreturn]] void writeUntilSpilled(const QString &file, const QStringList &statements, int ready)
{
    int code = 2;
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("hotJournalChild"));
        db.setDatabaseName(file);
        if (db.open()) {
            QSqlQuery q(db);
            // A cache of a few pages: the transaction's pages are written into the file long before
            // its commit, as in any transaction larger than the cache.
            code = q.exec(QStringLiteral("PRAGMA cache_size=2")) && q.exec(QStringLiteral("BEGIN")) ? 0 : 3;
            for (const QString &statement : statements)
                code = code == 0 && q.exec(statement) ? 0 : 4;
            code = code == 0 && q.exec(QStringLiteral("create table hotjournalfill (b BLOB)")) ? 0 : 5;
            const qint64 before = QFileInfo(file).size();
            for (int i = 0; code == 0 && i < 4000 && QFileInfo(file).size() <= before + 65536; ++i)
                code = q.exec(QStringLiteral("insert into hotjournalfill values (zeroblob(3000))")) ? 0 : 6;
            if (code == 0 && QFileInfo(file).size() > before &&
                QFileInfo::exists(file + QStringLiteral("-journal"))) {
                const char c = 'R';
                if (::write(ready, &c, 1) == 1) {
                    for (;;)
                        ::pause(); // killed here, in the middle of the transaction
                }
            }
            code = code == 0 ? 7 : code;
        }
    }
    ::_exit(code);
}

} // namespace

bool leaveHotJournal(const QString &file, const QStringList &statements, QString *why)
{
    const QByteArray before = [&] {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    int fds[2];
    if (::pipe(fds) != 0) {
        *why = QStringLiteral("no pipe");
        return false;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(fds[0]);
        writeUntilSpilled(file, statements, fds[1]);
    }
    ::close(fds[1]);
    char c = 0;
    pollfd p{fds[0], POLLIN, 0};
    const bool ready = child > 0 && ::poll(&p, 1, 60000) == 1 && ::read(fds[0], &c, 1) == 1 && c == 'R';
    ::close(fds[0]);
    if (child > 0) {
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        if (!ready)
            *why =
                QStringLiteral("the writer ended before its pages reached the file (status %1)").arg(status);
    }
    QFile f(file);
    const bool changed = f.open(QIODevice::ReadOnly) && f.readAll() != before;
    if (ready && !(changed && QFileInfo::exists(file + QStringLiteral("-journal"))))
        *why = QStringLiteral("no journal beside a changed file after the kill");
    return ready && changed && QFileInfo::exists(file + QStringLiteral("-journal"));
}

int countRows(const QString &file, const QString &countQuery)
{
    const QString connection = QStringLiteral("hotJournalCount");
    int count = -1;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(file);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (db.open()) {
            QSqlQuery q(db);
            if (q.exec(countQuery) && q.next())
                count = q.value(0).toInt();
        }
    }
    QSqlDatabase::removeDatabase(connection);
    return count;
}

int countWithoutJournal(const QString &file, const QString &countQuery)
{
    const QString alone = file + QStringLiteral(".alone");
    QFile::remove(alone);
    if (!QFile::copy(file, alone))
        return -1;
    const int count = countRows(alone, countQuery);
    QFile::remove(alone);
    return count;
}

long holdLockedFor(const QString &file, int ms)
{
    int fds[2];
    if (::pipe(fds) != 0)
        return -1;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(fds[0]);
        int code = 2;
        {
            QSqlDatabase db =
                QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("lockChild"));
            db.setDatabaseName(file);
            if (db.open() && QSqlQuery(db).exec(QStringLiteral("BEGIN EXCLUSIVE"))) {
                const char c = 'L';
                code = ::write(fds[1], &c, 1) == 1 ? 0 : 3;
                ::usleep(useconds_t(ms) * 1000);
                code = QSqlQuery(db).exec(QStringLiteral("COMMIT")) ? code : 4;
            }
        }
        ::_exit(code);
    }
    ::close(fds[1]);
    char c = 0;
    pollfd p{fds[0], POLLIN, 0};
    const bool locked = child > 0 && ::poll(&p, 1, 20000) == 1 && ::read(fds[0], &c, 1) == 1 && c == 'L';
    ::close(fds[0]);
    if (child > 0 && !locked) {
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
    }
    return locked ? long(child) : -1;
}

bool endChild(long pid)
{
    int status = 0;
    return pid > 0 && ::waitpid(pid_t(pid), &status, 0) == pid_t(pid) && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

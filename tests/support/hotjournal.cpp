#include "hotjournal.h"

#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>

#include <csignal>
#include <functional>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Forks a child that runs `body` on a connection of its own to `file`; `body` returns true once the
// child is where the parent wants it, and the child then waits `holdMs` (-1: until it is killed).
// Returns the child's pid once it got there, -1 otherwise (the child is then killed and reaped).
pid_t forkWriter(const QString &file, int holdMs, const std::function<bool(QSqlQuery &)> &body)
{
    int fds[2];
    if (::pipe(fds) != 0)
        return -1;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(fds[0]);
        bool there = false;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("writer"));
            db.setDatabaseName(file);
            QSqlQuery q(db);
            there = db.open() && body(q) && ::write(fds[1], "R", 1) == 1;
            while (there && holdMs < 0)
                ::pause(); // killed here
            ::usleep(useconds_t(std::max(holdMs, 0)) * 1000);
            there = there && q.exec(QStringLiteral("COMMIT"));
        }
        ::_exit(there ? 0 : 1);
    }
    ::close(fds[1]);
    char c = 0;
    pollfd p{fds[0], POLLIN, 0};
    const bool there = child > 0 && ::poll(&p, 1, 60000) == 1 && ::read(fds[0], &c, 1) == 1;
    ::close(fds[0]);
    if (child > 0 && !there) {
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
    }
    return there ? child : -1;
}

QByteArray contentOf(const QString &file)
{
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A writer's body that runs `statements` in a transaction until some of its pages are in the file.
std::function<bool(QSqlQuery &)> writeIntoTheFile(const QString &file, const QStringList &statements)
{
    return [file, statements](QSqlQuery &q) {
        // A cache of a few pages: the transaction's pages reach the file long before its commit, as
        // in any transaction larger than the cache.
        bool ok = q.exec(QStringLiteral("PRAGMA cache_size=2")) && q.exec(QStringLiteral("BEGIN"));
        for (const QString &statement : statements)
            ok = ok && q.exec(statement);
        ok = ok && q.exec(QStringLiteral("create table hotjournalfill (b BLOB)"));
        const qint64 size = QFileInfo(file).size();
        for (int i = 0; ok && i < 4000 && QFileInfo(file).size() <= size + 65536; ++i)
            ok = q.exec(QStringLiteral("insert into hotjournalfill values (zeroblob(3000))"));
        return ok && QFileInfo(file).size() > size;
    };
}

} // namespace

long holdHalfWrittenFor(const QString &file, const QStringList &statements, int ms)
{
    return forkWriter(file, ms, writeIntoTheFile(file, statements));
}

bool leaveHotJournal(const QString &file, const QStringList &statements, QString *why)
{
    const QByteArray before = contentOf(file);
    const pid_t child = forkWriter(file, -1, writeIntoTheFile(file, statements));
    if (child > 0) {
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
    }
    const bool left =
        child > 0 && contentOf(file) != before && QFileInfo::exists(file + QStringLiteral("-journal"));
    if (!left)
        *why = QStringLiteral("the writer's pages did not reach the file, or no journal was left");
    return left;
}

int countRows(const QString &file, const QString &countQuery)
{
    int count = -1;
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("hotJournalCount"));
        db.setDatabaseName(file);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        QSqlQuery q(db);
        if (db.open() && q.exec(countQuery) && q.next())
            count = q.value(0).toInt();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("hotJournalCount"));
    return count;
}

int countWithoutJournal(const QString &file, const QString &countQuery)
{
    const QString alone = file + QStringLiteral(".alone");
    QFile::remove(alone);
    const int count = QFile::copy(file, alone) ? countRows(alone, countQuery) : -1;
    QFile::remove(alone);
    return count;
}

long holdLockedFor(const QString &file, int ms)
{
    return forkWriter(file, ms, [](QSqlQuery &q) { return q.exec(QStringLiteral("BEGIN EXCLUSIVE")); });
}

bool endChild(long pid)
{
    int status = 0;
    return pid > 0 && ::waitpid(pid_t(pid), &status, 0) == pid_t(pid) && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

int runUnderFileSizeLimit(long bytes, const std::function<int()> &body)
{
    const pid_t child = ::fork();
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{rlim_t(bytes), RLIM_INFINITY};
        ::_exit(::setrlimit(RLIMIT_FSIZE, &limit) == 0 ? body() & 0xff : 255);
    }
    if (child < 0)
        return -1;
    int status = 0;
    for (int waited = 0; waited < 60000; waited += 10) {
        if (::waitpid(child, &status, WNOHANG) == child)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        ::usleep(10000);
    }
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    return -1;
}

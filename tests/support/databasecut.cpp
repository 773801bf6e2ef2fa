#include "databasecut.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>

#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <unistd.h>

namespace {

const char *const kVariable = "MG_DATABASE_CUT";

// Set once before the database opens; read by the stand-ins on the same thread afterwards.
struct Cut
{
    bool armed = false;
    char file[NAME_MAX + 1] = {};    // the database's file name
    char journal[NAME_MAX + 9] = {}; // and its journal's
    char folder[PATH_MAX] = {};      // the folder both live in, as the kernel names it
    char point = 0;                  // 's' before a sync, 'c' after a commit
    int at = 0;                      // 0: count only
    int syncs = 0;
    int commits = 0;
};
Cut gCut;

const char *baseName(const char *path)
{
    const char *slash = std::strrchr(path, '/');
    return slash ? slash + 1 : path;
}

bool isOurs(int fd)
{
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char target[PATH_MAX];
    const ssize_t n = readlink(link, target, sizeof target - 1);
    if (n <= 0)
        return false;
    target[n] = 0;
    const char *name = baseName(target);
    return std::strcmp(target, gCut.folder) == 0 ||
           (std::strncmp(target, gCut.folder, std::strlen(gCut.folder)) == 0 &&
            (std::strcmp(name, gCut.file) == 0 || std::strcmp(name, gCut.journal) == 0));
}

void beforeSync(int fd)
{
    if (!gCut.armed || !isOurs(fd))
        return;
    if (++gCut.syncs == gCut.at && gCut.point == 's')
        raise(SIGKILL);
}

template <typename F> F real(const char *name)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" int fdatasync(int fd)
{
    static const auto next = real<int (*)(int)>("fdatasync");
    beforeSync(fd);
    return next(fd);
}

extern "C" int fsync(int fd)
{
    static const auto next = real<int (*)(int)>("fsync");
    beforeSync(fd);
    return next(fd);
}

extern "C" int unlink(const char *path)
{
    static const auto next = real<int (*)(const char *)>("unlink");
    const int result = next(path);
    if (result == 0 && gCut.armed && std::strcmp(baseName(path), gCut.journal) == 0 &&
        ++gCut.commits == gCut.at && gCut.point == 'c')
        raise(SIGKILL);
    return result;
}

void armDatabaseCutFromEnvironment()
{
    // "<s|c|n>:<n>:<database path>"
    const QByteArray order = qgetenv(kVariable);
    if (order.count(':') < 2)
        return;
    const QString path = QString::fromLocal8Bit(order.mid(order.indexOf(':', 2) + 1));
    const QFileInfo info(path);
    const QByteArray file = info.fileName().toLocal8Bit();
    const QByteArray folder = QFileInfo(info.absolutePath()).canonicalFilePath().toLocal8Bit();
    std::snprintf(gCut.file, sizeof gCut.file, "%s", file.constData());
    std::snprintf(gCut.journal, sizeof gCut.journal, "%s-journal", file.constData());
    std::snprintf(gCut.folder, sizeof gCut.folder, "%s", folder.constData());
    gCut.point = order.at(0);
    gCut.at = order.split(':').value(1).toInt();
    gCut.armed = true;
}

void reportDatabaseWrites()
{
    std::printf("database writes: %d syncs %d commits\n", gCut.syncs, gCut.commits);
    std::fflush(stdout);
}

namespace {

// One run of the child; false with `error` set when it did not end as asked.
bool runChild(const QString &program, const QStringList &arguments, const QString &database, char point,
              int at, int *syncs, int *commits, QString *error)
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(kVariable),
               QStringLiteral("%1:%2:%3").arg(QLatin1Char(point)).arg(at).arg(database));
    // The child's own temporary folders go beside the database, inside the parent's: a cut child
    // cannot remove them.
    const QString temporary = QFileInfo(database).absolutePath() + QStringLiteral("/tmp");
    QDir().mkpath(temporary);
    env.insert(QStringLiteral("TMPDIR"), temporary);
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(program, arguments);
    if (!child.waitForStarted(30000) || !child.waitForFinished(240000)) {
        child.kill();
        child.waitForFinished(10000);
        *error = QStringLiteral("child did not finish (%1 %2)").arg(QLatin1Char(point)).arg(at);
        return false;
    }
    const QString out = QString::fromLocal8Bit(child.readAllStandardOutput());
    if (at > 0) {
        if (child.exitStatus() == QProcess::CrashExit)
            return true;
        *error = QStringLiteral("child was not cut at %1 %2: %3").arg(QLatin1Char(point)).arg(at).arg(out);
        return false;
    }
    const int line = out.indexOf(QLatin1String("database writes: "));
    if (child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0 || line < 0) {
        *error = QStringLiteral("whole run failed: ") + out;
        return false;
    }
    const QStringList words = out.mid(line).split(QLatin1Char(' '));
    *syncs = words.value(2).toInt();
    *commits = words.value(4).toInt();
    return true;
}

} // namespace

QString checkCutRuns(const QStringList &arguments, const QString &start, const QString &database,
                     const QStringList &tables, int *cuts)
{
    const QString program = QCoreApplication::applicationFilePath();
    auto reset = [&] {
        QFile::remove(database + QStringLiteral("-journal"));
        QFile::remove(database);
        return QDir().mkpath(QFileInfo(database).absolutePath()) && QFile::copy(start, database);
    };
    QString error;
    if (!reset())
        return QStringLiteral("start not laid out");
    const QString before = databaseRows(database, tables);
    int syncs = 0, commits = 0;
    if (!runChild(program, arguments, database, 'n', 0, &syncs, &commits, &error))
        return error;
    const QString after = databaseRows(database, tables);
    if (after == before)
        return QStringLiteral("the whole run changed nothing");
    if (commits == 0)
        return QStringLiteral("the whole run committed nothing");
    *cuts = 0;
    for (const char point : {'s', 'c'}) {
        for (int at = 1; at <= (point == 's' ? syncs : commits); ++at) {
            if (!reset())
                return QStringLiteral("start not laid out");
            if (!runChild(program, arguments, database, point, at, &syncs, &commits, &error))
                return error;
            ++*cuts;
            const QString found = databaseRows(database, tables);
            if (found != before && found != after)
                return QStringLiteral("cut %1 %2 of %3 syncs, %4 commits left neither the old nor the new "
                                      "state:\n%5\nold:\n%6\nnew:\n%7")
                    .arg(point == 's' ? QStringLiteral("before sync") : QStringLiteral("after commit"))
                    .arg(at)
                    .arg(syncs)
                    .arg(commits)
                    .arg(found, before, after);
        }
    }
    return QString();
}

QString databaseRows(const QString &path, const QStringList &tables)
{
    const QString connection = QStringLiteral("databaseRows");
    QString text;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(path);
        if (!db.open())
            text = QStringLiteral("not open\n");
        for (const QString &table : tables) {
            QSqlQuery q(db);
            if (!q.exec(QStringLiteral("select name, value from %1 order by name").arg(table))) {
                text += table + QStringLiteral(" unreadable\n");
                continue;
            }
            while (q.next())
                text +=
                    QStringLiteral("%1 %2=%3\n").arg(table, q.value(0).toString(), q.value(1).toString());
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
    return text;
}

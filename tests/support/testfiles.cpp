#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>

#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

QStringList readTextLines(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

bool writeTestFile(const QString &path, const QByteArray &content, const QDateTime &mtime)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    // Flushed before the time is set, or the close would write and move the time to now.
    if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size() || !f.flush())
        return false;
    if (mtime.isValid())
        return f.setFileTime(mtime, QFileDevice::FileModificationTime);
    return true;
}

bool execOnDatabase(const QString &path, const QString &statement)
{
    const QString connection = QStringLiteral("testfiles-exec");
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(path);
        ok = db.open() && QSqlQuery(db).exec(statement);
    }
    QSqlDatabase::removeDatabase(connection);
    return ok;
}

QStringList recordRemarks(const QString &path)
{
    const QString connection = QStringLiteral("testfiles-record");
    QStringList remarks;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (db.open()) {
            QSqlQuery q(db);
            q.exec(QStringLiteral("select remarks from RECORD"));
            while (q.next())
                remarks.append(q.value(0).toString());
        }
    }
    QSqlDatabase::removeDatabase(connection);
    return remarks;
}

QByteArray readTestFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

int runWithFileSizeLimit(qint64 limit, const std::function<int()> &body)
{
    const pid_t child = ::fork();
    if (child < 0)
        return -1;
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit rl{rlim_t(limit), rlim_t(limit)};
        ::setrlimit(RLIMIT_FSIZE, &rl);
        ::_exit(body() & 0xff);
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

#include "sqltemplate.h"

#include "atomicfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>

static void initSqlResources()
{
    static const bool done = [] {
        Q_INIT_RESOURCE(mainwindowsql);
        return true;
    }();
    (void)done;
}

bool runSqlTemplate(QSqlDatabase &db, const QString &name, QString *errorText)
{
    initSqlResources();
    QFile source(QStringLiteral(":/sql/") + name);
    if (!source.open(QIODevice::ReadOnly)) {
        if (errorText)
            *errorText = QStringLiteral("no compiled-in source ") + name;
        return false;
    }
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("BEGIN"))) {
        if (errorText)
            *errorText = query.lastError().text();
        return false;
    }
    // Same statement rule as the build's database maker: a statement ends with ";" at a line end.
    QString statement;
    const QStringList lines = QString::fromUtf8(source.readAll()).split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        if (line.trimmed().startsWith(QLatin1String("--")))
            continue;
        statement += line + QLatin1Char('\n');
        if (!line.trimmed().endsWith(QLatin1Char(';')))
            continue;
        if (!query.exec(statement)) {
            if (errorText)
                *errorText = query.lastError().text();
            query.exec(QStringLiteral("ROLLBACK"));
            return false;
        }
        statement.clear();
    }
    if (!query.exec(QStringLiteral("COMMIT"))) {
        if (errorText)
            *errorText = query.lastError().text();
        query.exec(QStringLiteral("ROLLBACK"));
        return false;
    }
    return true;
}

bool copyTemplateFile(const QString &templatePath, const QString &target, QString *errorText)
{
    QFile source(templatePath);
    if (!source.open(QIODevice::ReadOnly)) {
        if (errorText)
            *errorText = source.errorString();
        return false;
    }
    const QByteArray bytes = source.readAll();
    if (source.error() != QFileDevice::NoError) {
        if (errorText)
            *errorText = source.errorString();
        return false;
    }
    return writeFileAtomically(target, bytes, {}, errorText);
}

QString freeArchivePath(const QString &folder, const QString &stem)
{
    const QDir dir(folder);
    QString path = dir.filePath(stem + QStringLiteral(".db"));
    for (int n = 1; QFileInfo::exists(path); ++n)
        path = dir.filePath(QStringLiteral("%1_%2.db").arg(stem).arg(n));
    return path;
}

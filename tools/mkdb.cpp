// Builds an SQLite database from an SQL source file (statements end with ";" at the end of a line).
// Usage: mkdb <output.db> <source.sql>

#include <QCoreApplication>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: mkdb <output.db> <source.sql>\n");
        return 2;
    }
    const QString output = QString::fromLocal8Bit(argv[1]);
    QFile source(QString::fromLocal8Bit(argv[2]));
    if (!source.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "mkdb: cannot read %s\n", argv[2]);
        return 1;
    }
    QFile::remove(output);
    int rc = 0;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("mkdb"));
        db.setDatabaseName(output);
        if (!db.open()) {
            std::fprintf(stderr, "mkdb: cannot create %s\n", argv[1]);
            return 1;
        }
        db.transaction();
        QString statement;
        const QStringList lines = QString::fromUtf8(source.readAll()).split(QLatin1Char('\n'));
        for (const QString &line : lines) {
            if (line.trimmed().startsWith(QLatin1String("--")))
                continue;
            statement += line + QLatin1Char('\n');
            if (!line.trimmed().endsWith(QLatin1Char(';')))
                continue;
            QSqlQuery q(db);
            if (!q.exec(statement)) {
                std::fprintf(stderr, "mkdb: %s\n  in: %s\n", qPrintable(q.lastError().text()),
                             qPrintable(statement.trimmed()));
                rc = 1;
            }
            statement.clear();
        }
        db.commit();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("mkdb"));
    if (rc != 0)
        QFile::remove(output);
    return rc;
}

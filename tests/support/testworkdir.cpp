#include "testworkdir.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

QString TestWorkDir::shippedDir()
{
    const QByteArray env = qgetenv("MG_SHIPPED_DIR");
    return env.isEmpty() ? QStringLiteral(MG_SHIPPED_DIR_DEFAULT) : QString::fromLocal8Bit(env);
}

bool TestWorkDir::layOut(const QString &folder)
{
    const QString shipped = shippedDir();
    QDir dir(folder);
    bool ok = dir.mkpath(QStringLiteral("images")) && dir.mkpath(QStringLiteral("paraGroup/default")) &&
              dir.mkpath(QStringLiteral("cnt_net"));
    QDirIterator images(shipped + QStringLiteral("/images"), {QStringLiteral("*.png"), QStringLiteral("*.bmp")},
                        QDir::Files);
    int imageCount = 0;
    while (images.hasNext()) {
        images.next();
        ok &= QFile::copy(images.filePath(), dir.filePath(QStringLiteral("images/") + images.fileName()));
        ++imageCount;
    }
    const QStringList databases = QDir(shipped).entryList({QStringLiteral("*.db")}, QDir::Files);
    for (const QString &db : databases) {
        ok &= QFile::copy(shipped + QLatin1Char('/') + db, dir.filePath(db));
        ok &= QFile::copy(shipped + QLatin1Char('/') + db, dir.filePath(QStringLiteral("paraGroup/default/") + db));
    }
    ok &= QFile::copy(shipped + QStringLiteral("/20clearsh.tar.gz"),
                      dir.filePath(QStringLiteral("paraGroup/default/20clearsh.tar.gz")));
    // Copies of read-only build outputs would stay read-only; the box writes its databases.
    QDirIterator all(folder, QDir::Files, QDirIterator::Subdirectories);
    while (all.hasNext()) {
        all.next();
        QFile::setPermissions(all.filePath(), QFile::permissions(all.filePath()) | QFile::WriteOwner);
    }
    return ok && imageCount > 0 && !databases.isEmpty();
}

TestWorkDir::TestWorkDir(Layout layout) : m_previous(QDir::currentPath())
{
    if (!m_dir.isValid())
        return;
    m_valid = layout == Empty || layOut(m_dir.path());
    m_valid = m_valid && QDir::setCurrent(m_dir.path());
}

TestWorkDir::~TestWorkDir()
{
    QDir::setCurrent(m_previous);
}

bool TestWorkDir::copyShipped(const QString &shipped, const QString &relative) const
{
    QDir(m_dir.path()).mkpath(QFileInfo(filePath(relative)).path());
    QFile::remove(filePath(relative));
    return QFile::copy(shippedDir() + QLatin1Char('/') + shipped, filePath(relative)) &&
           QFile::setPermissions(filePath(relative), QFile::ReadOwner | QFile::WriteOwner);
}

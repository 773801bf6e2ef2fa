#include "atomicfile.h"
#include "clock.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

mode_t modeFromPermissions(QFileDevice::Permissions p)
{
    mode_t mode = 0;
    if (p & (QFileDevice::ReadOwner | QFileDevice::ReadUser))
        mode |= S_IRUSR;
    if (p & (QFileDevice::WriteOwner | QFileDevice::WriteUser))
        mode |= S_IWUSR;
    if (p & (QFileDevice::ExeOwner | QFileDevice::ExeUser))
        mode |= S_IXUSR;
    if (p & QFileDevice::ReadGroup)
        mode |= S_IRGRP;
    if (p & QFileDevice::WriteGroup)
        mode |= S_IWGRP;
    if (p & QFileDevice::ExeGroup)
        mode |= S_IXGRP;
    if (p & QFileDevice::ReadOther)
        mode |= S_IROTH;
    if (p & QFileDevice::WriteOther)
        mode |= S_IWOTH;
    if (p & QFileDevice::ExeOther)
        mode |= S_IXOTH;
    return mode;
}

bool failWith(QString *errorText, const QString &path, const char *what, const QString &why)
{
    if (errorText)
        *errorText = QStringLiteral("cannot write %1: %2 (%3)").arg(path, QString::fromLatin1(what), why);
    return false;
}

bool fail(QString *errorText, const QString &path, const char *what, int err)
{
    return failWith(errorText, path, what, QString::fromLocal8Bit(std::strerror(err)));
}

enum class ModeOfReplaced
{
    Keep,
    AsNew
};

// Creates a fresh temporary file in the target's folder, so the final rename stays on one file system.
int createTemporary(const QString &target, QByteArray *tempName)
{
    const QFileInfo info(target);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString name = info.dir().filePath(
            QStringLiteral(".%1.%2.tmp")
                .arg(info.fileName())
                .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0')));
        *tempName = QFile::encodeName(name);
        const int fd = ::open(tempName->constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

bool writeAll(int fd, const char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(size));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0) {
            errno = EIO;
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

bool writeAtomically(const QString &path, const QByteArray &data, QFileDevice::Permissions permissions,
                     ModeOfReplaced modeOfReplaced, QString *errorText)
{
    if (path.isEmpty())
        return fail(errorText, path, "no file name", EINVAL);

    // Replace what a link points to, not the link itself.
    QString target = path;
    const QFileInfo linkInfo(path);
    if (linkInfo.isSymLink())
        target = linkInfo.symLinkTarget();
    const QByteArray targetName = QFile::encodeName(target);

    struct stat existing;
    const bool exists = ::stat(targetName.constData(), &existing) == 0;
    if (exists && !S_ISREG(existing.st_mode))
        return failWith(errorText, path, "not a plain file", fileTypeText(existing.st_mode));

    QByteArray tempName;
    const int fd = createTemporary(target, &tempName);
    if (fd < 0)
        return fail(errorText, path, "temporary file", errno);

    const char *step = nullptr;
    if (!writeAll(fd, data.constData(), data.size()))
        step = "write";
    else if (permissions != QFileDevice::Permissions() && ::fchmod(fd, modeFromPermissions(permissions)) != 0)
        step = "permissions";
    else if (permissions == QFileDevice::Permissions() && exists && modeOfReplaced == ModeOfReplaced::Keep &&
             ::fchmod(fd, existing.st_mode & 07777) != 0)
        step = "permissions";
    else if (::fsync(fd) != 0)
        step = "sync";
    int err = errno;
    // close can report a delayed write error (e.g. on network file systems).
    if (::close(fd) != 0 && !step) {
        step = "close";
        err = errno;
    }
    if (step) {
        ::unlink(tempName.constData());
        return fail(errorText, path, step, err);
    }

    if (::rename(tempName.constData(), targetName.constData()) != 0) {
        const int renameErr = errno;
        ::unlink(tempName.constData());
        return fail(errorText, path, "rename", renameErr);
    }

    // Make the rename itself survive a power cut. The new file is already in place, so a folder that
    // cannot be synced is not a failed write.
    const QByteArray folder = QFile::encodeName(QFileInfo(target).absolutePath());
    const int dirFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    if (errorText)
        errorText->clear();
    return true;
}

} // namespace

bool writeFileAtomically(const QString &path, const QByteArray &data, QFileDevice::Permissions permissions,
                         QString *errorText)
{
    return writeAtomically(path, data, permissions, ModeOfReplaced::Keep, errorText);
}

bool writeNewFileAtomically(const QString &path, const QByteArray &data, QString *errorText)
{
    return writeAtomically(path, data, {}, ModeOfReplaced::AsNew, errorText);
}

QString fileTypeText(unsigned int mode)
{
    switch (mode & S_IFMT) {
    case S_IFREG:
        return QStringLiteral("a plain file");
    case S_IFDIR:
        return QStringLiteral("a directory");
    case S_IFIFO:
        return QStringLiteral("a FIFO");
    case S_IFCHR:
        return QStringLiteral("a character device");
    case S_IFBLK:
        return QStringLiteral("a block device");
    case S_IFSOCK:
        return QStringLiteral("a socket");
    case S_IFLNK:
        return QStringLiteral("a symbolic link");
    default:
        return QStringLiteral("a file of unknown type");
    }
}

int removeStaleTemporaries(const QString &folder, const QDateTime &before, bool recursive)
{
    // The name createTemporary gives: a dot, the target's name, a dot, 8 lowercase hex digits, ".tmp".
    static const QRegularExpression kTemporary(QStringLiteral("^\\..+\\.[0-9a-f]{8}\\.tmp$"));
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System,
                    recursive ? QDirIterator::Subdirectories : QDirIterator::NoIteratorFlags);
    int removed = 0;
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        if (info.isSymLink() || !kTemporary.match(info.fileName()).hasMatch())
            continue;
        if (info.lastModified() < before && QFile::remove(info.filePath()))
            ++removed;
    }
    return removed;
}

QString damagedFileName(const QString &file)
{
    const QString base = file + QStringLiteral(".damaged-") + appNow().toString(QStringLiteral("yyyyMMdd-hhmmss"));
    QString target = base;
    for (int n = 1; QFileInfo::exists(target) || QFileInfo(target).isSymLink(); ++n)
        target = base + QStringLiteral("_%1").arg(n);
    return target;
}

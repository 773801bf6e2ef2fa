#include "updatefiles.h"

#include "settingslog.h"

#include "core/imagesize.h"
#include "core/pathmap.h"
#include "core/startup.h"
#include "widgets/uistyle.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QListView>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr qint64 kCopyChunk = 1 << 20;

UpdateFileChooser gChooser;
CopyChunkObserver gChunkObserver;

void syncFolderOf(const QString &path)
{
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

bool setError(QString *errorText, const QString &text)
{
    if (errorText)
        *errorText = text;
    return false;
}

} // namespace

StreamedFile::StreamedFile(const QString &target) : m_target(target)
{
    const QFileInfo info(target);
    m_temp = info.dir().filePath(QLatin1Char('.') + info.fileName() + QStringLiteral(".part"));
}

StreamedFile::~StreamedFile()
{
    if (!m_committed)
        discard();
}

bool StreamedFile::fail(const QString &what, int err)
{
    m_failed = true;
    m_error = QStringLiteral("%1 %2: %3").arg(what, m_temp, QString::fromLocal8Bit(std::strerror(err)));
    return false;
}

bool StreamedFile::open()
{
    m_written = 0;
    m_failed = m_finished = m_committed = false;
    // No link is followed: the temporary name is ours alone.
    m_fd = ::open(QFile::encodeName(m_temp).constData(),
                  O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (m_fd < 0)
        return fail(QStringLiteral("cannot create"), errno);
    return true;
}

bool StreamedFile::write(const char *data, qint64 size)
{
    if (m_failed || m_fd < 0 || m_finished)
        return false;
    while (size > 0) {
        const ssize_t n = ::write(m_fd, data, static_cast<size_t>(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return fail(QStringLiteral("cannot write"), n < 0 ? errno : EIO);
        data += n;
        size -= n;
        m_written += n;
    }
    return true;
}

bool StreamedFile::finish()
{
    if (m_fd < 0 || m_failed)
        return false;
    if (::fsync(m_fd) != 0)
        fail(QStringLiteral("cannot sync"), errno);
    struct stat st;
    if (!m_failed && (::fstat(m_fd, &st) != 0 || st.st_size != m_written))
        fail(QStringLiteral("size differs on disk"), EIO);
    // close can report a delayed write error.
    if (::close(m_fd) != 0 && !m_failed)
        fail(QStringLiteral("cannot close"), errno);
    m_fd = -1;
    m_finished = !m_failed;
    return m_finished;
}

bool StreamedFile::commit()
{
    if (!m_finished || m_committed)
        return m_committed;
    if (::rename(QFile::encodeName(m_temp).constData(), QFile::encodeName(m_target).constData()) != 0)
        return fail(QStringLiteral("cannot rename"), errno);
    m_committed = true;
    syncFolderOf(m_target);
    return true;
}

void StreamedFile::discard()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    m_finished = false;
    ::unlink(QFile::encodeName(m_temp).constData());
}

QString pendingUpdateExtension(const QString &name)
{
    if (name.endsWith(QLatin1String(".tar.gz")))
        return QStringLiteral(".tar.gz");
    for (const QString &suffix : ArchiveSuffixes) {
        if (name.endsWith(QLatin1Char('.') + suffix))
            return QLatin1Char('.') + suffix;
    }
    return QString();
}

QString usbUpdateTargetName(const QString &fileName)
{
    if (fileName.contains(QLatin1String(".tar.gz")))
        return QStringLiteral("newupdate.tar.gz");
    if (fileName.contains(QLatin1String(".tar.xz")))
        return QStringLiteral("newupdate.tar.xz");
    if (fileName.contains(QLatin1String(".rar")))
        return QStringLiteral("newupdate.rar");
    return QString();
}

namespace {

// Closes a descriptor on every way out.
struct FdCloser
{
    int fd;
    ~FdCloser() { ::close(fd); }
};

// What became of the file behind `fd` since `atOpen`: nothing; written to without getting shorter (a
// larger size, or only a later time: an append under way shows its time before its size); or shorter,
// or no longer readable.
enum class Change
{
    None,
    Written,
    Shorter
};

Change changeSince(int fd, const struct stat &atOpen)
{
    struct stat now;
    if (::fstat(fd, &now) != 0 || now.st_size < atOpen.st_size)
        return Change::Shorter;
    const bool sameTime =
        now.st_mtim.tv_sec == atOpen.st_mtim.tv_sec && now.st_mtim.tv_nsec == atOpen.st_mtim.tv_nsec;
    return now.st_size == atOpen.st_size && sameTime ? Change::None : Change::Written;
}

// A file written to without getting shorter may have been appended to, or rewritten from its start.
// The copy stands for the file as it was at open only when the file still begins with every byte
// copied and its name still leads to it (a log moved aside for a new one is not appended to).
bool onlyAppendedTo(const QString &source, int fd, const struct stat &atOpen, const QString &copy,
                    QByteArray &chunk)
{
    struct stat named;
    if (::stat(QFile::encodeName(source).constData(), &named) != 0 || named.st_dev != atOpen.st_dev ||
        named.st_ino != atOpen.st_ino)
        return false;
    const int copyFd = ::open(QFile::encodeName(copy).constData(), O_RDONLY | O_CLOEXEC);
    if (copyFd < 0)
        return false;
    const FdCloser closer{copyFd};
    QByteArray copied(chunk.size(), Qt::Uninitialized);
    for (qint64 at = 0; at < atOpen.st_size;) {
        const size_t want = size_t(std::min(atOpen.st_size - at, qint64(chunk.size())));
        const ssize_t n = ::pread(fd, chunk.data(), want, at);
        if (n <= 0 || ::pread(copyFd, copied.data(), size_t(n), at) != n ||
            std::memcmp(chunk.constData(), copied.constData(), size_t(n)) != 0)
            return false;
        at += n;
    }
    return true;
}

} // namespace

namespace {

bool copyChecked(const QString &source, const QString &target, QString *errorText, FileGrowth growth,
                 bool *appended, bool refuseEmpty)
{
    if (appended)
        *appended = false;
    // Opened without blocking, so that a FIFO cannot stop the GUI thread in open(), and looked at
    // through the descriptor, so that what is checked is what is read: only a regular file is copied
    // (a device or a FIFO gives no end or no size to check the copy by).
    const int fd = ::open(QFile::encodeName(source).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const QString why = QString::fromLocal8Bit(std::strerror(errno));
        return setError(errorText, QStringLiteral("cannot read %1: %2").arg(source, why));
    }
    const FdCloser closer{fd};
    struct stat atOpen;
    if (::fstat(fd, &atOpen) != 0 || !S_ISREG(atOpen.st_mode))
        return setError(errorText, QStringLiteral("%1 is not a regular file").arg(source));
    // Judged by the size the copy reads by, before anything is written: an empty copy committed and
    // removed afterwards would lie under the target's name until then, in place of what was there.
    if (refuseEmpty && atOpen.st_size == 0)
        return setError(errorText, QStringLiteral("%1 is empty").arg(source));
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    // No more than the size found at open is read: a file another process writes to is refused as soon
    // as a chunk shows the change, never followed while it grows. Where growth is allowed, a file that
    // was only appended to is copied as it stood at open, its first bytes read again once it is copied.
    const QString changed = QStringLiteral("%1 changed while it was copied").arg(source);
    StreamedFile out(target);
    if (!out.open())
        return setError(errorText, out.errorText());
    QByteArray chunk(int(kCopyChunk), Qt::Uninitialized);
    bool written = false;
    const auto acceptable = [&written, growth](Change change) {
        written = written || change == Change::Written;
        return change == Change::None || (change == Change::Written && growth == FileGrowth::CopyAsAtOpen);
    };
    qint64 left = atOpen.st_size;
    while (left > 0) {
        const ssize_t n = ::read(fd, chunk.data(), size_t(std::min(left, kCopyChunk)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const QString why = QString::fromLocal8Bit(std::strerror(errno));
            return setError(errorText, QStringLiteral("cannot read %1: %2").arg(source, why));
        }
        if (n == 0 || !acceptable(changeSince(fd, atOpen)))
            return setError(errorText, changed);
        if (!out.write(chunk.constData(), n))
            return setError(errorText, out.errorText());
        left -= n;
        if (gChunkObserver)
            gChunkObserver(source);
    }
    if (!acceptable(changeSince(fd, atOpen)))
        return setError(errorText, changed);
    if (!out.finish())
        return setError(errorText, out.errorText());
    if (written && !onlyAppendedTo(source, fd, atOpen, out.temporaryPath(), chunk))
        return setError(errorText, changed);
    if (!out.commit())
        return setError(errorText, out.errorText());
    if (appended)
        *appended = written;
    return true;
}

} // namespace

bool copyFileChecked(const QString &source, const QString &target, QString *errorText, FileGrowth growth,
                     bool *appended)
{
    return copyChecked(source, target, errorText, growth, appended, false);
}

bool copyUpdateChecked(const QString &source, const QString &target, QString *errorText)
{
    return copyChecked(source, target, errorText, FileGrowth::Refuse, nullptr, true);
}

namespace {

// `top` is the folder the whole copy goes to: never copied into itself, however deep it lies.
bool copyTree(const QString &from, const QString &to, const QString &top, QSet<QString> *copied,
              QString *errorText, FileGrowth growth)
{
    if (QFileInfo::exists(to) || !QDir().mkdir(to))
        return setError(errorText, QStringLiteral("cannot make the folder %1").arg(to));
    QDirIterator it(from, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info = it.fileInfo();
        const QString dest = to + QLatin1Char('/') + info.fileName();
        if (path == top)
            continue;
        if (info.isSymLink()) {
            qCInfo(lcSettings) << "link not copied:" << path;
        } else if (info.isDir()) {
            if (!copyTree(path, dest, top, copied, errorText, growth))
                return false;
        } else if (info.isFile()) {
            bool appended = false;
            if (!copyFileChecked(path, dest, errorText, growth, &appended))
                return false;
            // Only what lies wholly on the disk counts as copied: a file that grew keeps its newer bytes.
            if (copied && !appended)
                copied->insert(path);
        } else {
            qCInfo(lcSettings) << "special file not copied:" << path;
        }
    }
    return true;
}

} // namespace

bool copyTreeChecked(const QString &source, const QString &target, QSet<QString> *copied, QString *errorText,
                     FileGrowth growth)
{
    const QString from = QDir(source).absolutePath();
    if (!QFileInfo(from).isDir())
        return setError(errorText, QStringLiteral("%1 is not a folder").arg(from));
    const QString to = QDir(target).absolutePath();
    return copyTree(from, to, to, copied, errorText, growth);
}

void removeCopiedFiles(const QString &folder, const QSet<QString> &copied)
{
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        const QString path = QFileInfo(it.next()).absoluteFilePath();
        const QFileInfo info = it.fileInfo();
        if (info.isDir() && !info.isSymLink()) {
            removeCopiedFiles(path, copied);
            QDir().rmdir(path); // only when empty
        } else if (copied.contains(path) && !QFile::remove(path)) {
            qCWarning(lcSettings) << "cannot remove" << path;
        }
    }
}

void setCopyChunkObserver(CopyChunkObserver observer)
{
    gChunkObserver = std::move(observer);
}

void setUpdateFileChooser(UpdateFileChooser chooser)
{
    gChooser = std::move(chooser);
}

QString chooseUpdateFile(QWidget *parent)
{
    if (gChooser)
        return gChooser(parent);
    QFileDialog dialog(parent, QFileDialog::tr("选择投影数据文件目录"),
                       QStringLiteral("../../ProjectData/"));
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setViewMode(QFileDialog::List);
    dialog.resize(gShowW - 50, gShowH - 100);
    dialog.setNameFilter(QStringLiteral("*.[r,t]ar*"));
    dialog.setDirectory(mapSystemPath(QStringLiteral("/mnt")));
    dialog.setFont(uiFont(gShowW <= 800 ? 20 : 30));
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    const QStringList files = dialog.selectedFiles();
    return files.isEmpty() ? QString() : files.first();
}

#include "detectionmark.h"

#include "atomicfile.h"
#include "mainwindowlog.h"

#include <QFile>
#include <QRegularExpression>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {
constexpr int kRecordBytes = 16;
}

QString detectionMarkPath()
{
    return QStringLiteral("detectionmark.txt");
}

QByteArray detectionMarkText(const DetectionMark &mark)
{
    QByteArray text = mark.slot < 0
                          ? QByteArray("none")
                          : QStringLiteral("slot %1 side %2").arg(mark.slot).arg(mark.moldSide).toLatin1();
    text = text.leftJustified(kRecordBytes - 1, ' ', true);
    return text + '\n';
}

bool parseDetectionMark(const QByteArray &text, DetectionMark *mark)
{
    if (text.size() != kRecordBytes || !text.endsWith('\n'))
        return false;
    const QString record = QString::fromLatin1(text).trimmed();
    if (record == QLatin1String("none")) {
        *mark = DetectionMark();
        return true;
    }
    static const QRegularExpression form(QStringLiteral("^slot ([0-7]) side ([01])$"));
    const QRegularExpressionMatch m = form.match(record);
    if (!m.hasMatch())
        return false;
    mark->slot = m.captured(1).toInt();
    mark->moldSide = m.captured(2).toInt();
    return true;
}

DetectionMarkFile::~DetectionMarkFile()
{
    stopSync();
    if (m_fd >= 0)
        ::close(m_fd);
}

DetectionMark DetectionMarkFile::open()
{
    DetectionMark left;
    QFile file(detectionMarkPath());
    const bool exists = file.exists();
    bool whole = false;
    if (exists && file.open(QIODevice::ReadOnly)) {
        whole = parseDetectionMark(file.read(kRecordBytes + 1), &left);
        file.close();
    }
    // A power cut or a damaged disk can leave the file cut, zeroed or garbled; whatever it held, a
    // mark was there, and the mould it named may be open and unjudged.
    if (exists && !whole)
        qCWarning(lcMainWindow).noquote() << detectionMarkPath()
                                          << "cannot be read: taken as a detection cut short, judged before "
                                             "the clamp may close; made again";
    if (!whole) {
        left = DetectionMark();
        left.damaged = exists;
        QString why;
        if (!writeFileAtomically(detectionMarkPath(), detectionMarkText(left), {}, &why))
            qCCritical(lcMainWindow).noquote() << detectionMarkPath() << "cannot be made:" << why;
    }
    m_written = detectionMarkText(left);
    m_fd = ::open(qPrintable(detectionMarkPath()), O_WRONLY | O_CLOEXEC);
    if (m_fd < 0)
        qCCritical(lcMainWindow).noquote()
            << detectionMarkPath() << "cannot be opened:" << std::strerror(errno)
            << "- a detection cut short by a stop is not judged again";
    return left;
}

void DetectionMarkFile::set(int slot, int moldSide)
{
    const QByteArray text = detectionMarkText(DetectionMark{slot < 0 ? -1 : slot, slot < 0 ? 1 : moldSide});
    if (m_fd < 0 || text == m_written)
        return;
    // Past a file size limit the first bytes go and the rest are refused: the second write says why.
    // The cut record is left as it is: a start reads it as damaged, which judges the mould before the
    // clamp may close, where the old record put back could read as "none" while a detection is under way.
    qint64 done = 0;
    int err = 0;
    while (done < text.size()) {
        const ssize_t n = ::pwrite(m_fd, text.constData() + done, size_t(text.size() - done), done);
        if (n <= 0) {
            err = n < 0 ? errno : EIO;
            if (err == EINTR)
                continue;
            break;
        }
        done += n;
    }
    const bool ok = done == text.size();
    if (ok) {
        m_written = text;
        if (slot >= 0)
            requestSync();
    }
    if (ok == !m_failing)
        return;
    m_failing = !ok;
    if (m_failing)
        qCCritical(lcMainWindow).noquote()
            << detectionMarkPath() << "cannot be written:" << std::strerror(err);
    else
        qCWarning(lcMainWindow).noquote() << detectionMarkPath() << "written again";
}

void DetectionMarkFile::requestSync()
{
    std::lock_guard<std::mutex> lock(m_syncMutex);
    if (m_syncStop)
        return;
    m_syncPending = true;
    if (!m_syncThread.joinable())
        m_syncThread = std::thread([this] { syncLoop(); });
    m_syncWake.notify_one();
}

// A mark written while a sync runs may have missed it: one more sync follows, which covers every mark
// written up to its start.
void DetectionMarkFile::syncLoop()
{
    std::unique_lock<std::mutex> lock(m_syncMutex);
    for (;;) {
        m_syncWake.wait(lock, [this] { return m_syncPending || m_syncStop; });
        if (!m_syncPending)
            return;
        m_syncPending = false;
        lock.unlock();
        const int rc = m_syncFunction ? m_syncFunction(m_fd) : ::fdatasync(m_fd);
        const int error = rc == 0 ? 0 : errno;
        lock.lock();
        if ((rc != 0) == m_syncFailing)
            continue;
        m_syncFailing = rc != 0;
        if (m_syncFailing)
            qCCritical(lcMainWindow).noquote()
                << detectionMarkPath() << "cannot be synced to the disk:" << std::strerror(error)
                << "- a power cut may lose it";
        else
            qCWarning(lcMainWindow).noquote() << detectionMarkPath() << "synced to the disk again";
    }
}

void DetectionMarkFile::stopSync()
{
    {
        std::lock_guard<std::mutex> lock(m_syncMutex);
        m_syncStop = true;
        m_syncWake.notify_one();
    }
    if (m_syncThread.joinable())
        m_syncThread.join();
}

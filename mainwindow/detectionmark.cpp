#include "detectionmark.h"

#include "atomicfile.h"
#include "cyclestartmarkhook.h"
#include "inputentrywatch.h"
#include "mainwindowlog.h"
#include "mutexlocker.h"
#include "startup.h"

#include <QFile>
#include <QRegularExpression>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr int kRecordBytes = 16;
constexpr quint32 kInputBits = 0xFFFFu;

// The file the I/O thread's hook reaches, and how many hook calls are under way: a file is only
// destroyed once no call can still reach it.
std::atomic<DetectionMarkFile *> gHookTarget{nullptr};
std::atomic<int> gHookCalls{0};

void postToInstalledFile(int input)
{
    gHookCalls.fetch_add(1);
    if (DetectionMarkFile *file = gHookTarget.load())
        file->postCycleStartMark(input);
    gHookCalls.fetch_sub(1);
}

// An opening of `input` asked for its mark and the cycle has not covered it yet: neither its cycle's
// mark nor a verdict after it is on disk.
bool entryWaitsForTheCycle(int input)
{
    MutexLocker lock(gIoMutex);
    return gIoEntryWatch.uncoveredOpening(input);
}
} // namespace

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

DetectionMarkFile::DetectionMarkFile()
{
    ::sem_init(&m_wake, 0, 0);
}

DetectionMarkFile::~DetectionMarkFile()
{
    uninstallHook();
    stopSync();
    if (m_fd >= 0)
        ::close(m_fd);
    ::sem_destroy(&m_wake);
}

DetectionMark DetectionMarkFile::open()
{
    DetectionMark left;
    const QByteArray name = QFile::encodeName(detectionMarkPath());
    // Looked at before it is opened: a FIFO stops a reader's open() until a writer comes, a device
    // reads forever. Anything but a plain file, directly or through a link, is no record.
    struct stat seen;
    const bool exists = ::stat(name.constData(), &seen) == 0;
    QString notPlain = exists && !S_ISREG(seen.st_mode) ? fileTypeText(seen.st_mode) : QString();
    bool whole = false;
    if (exists && notPlain.isEmpty()) {
        const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        struct stat opened;
        if (fd >= 0 && ::fstat(fd, &opened) == 0 && !S_ISREG(opened.st_mode))
            notPlain = fileTypeText(opened.st_mode);
        else if (fd >= 0) {
            char text[kRecordBytes + 1];
            const ssize_t n = ::read(fd, text, sizeof text);
            whole = n > 0 && parseDetectionMark(QByteArray(text, int(n)), &left);
        }
        if (fd >= 0)
            ::close(fd);
    }
    // A power cut or a damaged disk can leave the file cut, zeroed or garbled; whatever it held, a
    // mark was there, and the mould it named may be open and unjudged.
    bool readable = whole || !exists;
    if (!notPlain.isEmpty()) {
        // Not replaced: it is not ours to remove. It reads the same at every start, so every start
        // judges until someone removes it.
        qCCritical(lcMainWindow).noquote()
            << detectionMarkPath() << "is" << notPlain
            << "and not a plain file: taken as a detection cut short, judged before the clamp may close;"
               " no mark is kept this run, and every start judges until it is removed";
    } else if (exists && !whole) {
        qCWarning(lcMainWindow).noquote() << detectionMarkPath()
                                          << "cannot be read: taken as a detection cut short, judged before "
                                             "the clamp may close; made again";
    }
    if (!whole) {
        left = DetectionMark();
        left.damaged = exists;
    }
    if (!whole && notPlain.isEmpty()) {
        // Made as a new file is made: a mode that kept it from being read must not be kept.
        QString why;
        readable = writeNewFileAtomically(detectionMarkPath(), detectionMarkText(left), &why);
        if (!readable)
            qCCritical(lcMainWindow).noquote() << detectionMarkPath() << "cannot be made:" << why;
    }
    m_written = detectionMarkText(left);
    if (notPlain.isEmpty()) {
        // O_NONBLOCK: something put there since the look above must not stop the start either.
        m_fd = ::open(name.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        QString why = m_fd < 0 ? QString::fromLocal8Bit(std::strerror(errno)) : QString();
        struct stat opened;
        if (m_fd >= 0 && ::fstat(m_fd, &opened) == 0 && !S_ISREG(opened.st_mode)) {
            why = QStringLiteral("it is %1, not a plain file").arg(fileTypeText(opened.st_mode));
            ::close(m_fd);
            m_fd = -1;
            readable = false;
        }
        if (m_fd < 0)
            qCCritical(lcMainWindow).noquote()
                << detectionMarkPath() << "cannot be opened:" << why
                << (readable ? "- a detection cut short by a stop is not judged again"
                             : "- every start judges before the clamp may close");
    }
    if (m_fd >= 0 && !m_thread.joinable() && !m_stopped) {
        m_thread = std::thread([this] { markLoop(); });
        // Named, so that a look at the running box (top -H, a debugger) tells it from the others.
        ::pthread_setname_np(m_thread.native_handle(), "detectionmark");
    }
    return left;
}

void DetectionMarkFile::setCycleStartMarkSource(MarkSource source)
{
    m_markSource = std::move(source);
    refreshCycleStartMarks();
}

CycleStartMarks DetectionMarkFile::currentMarks() const
{
    return m_markSource ? m_markSource() : CycleStartMarks();
}

void DetectionMarkFile::refreshCycleStartMarks()
{
    const CycleStartMarks marks = currentMarks();
    std::lock_guard<std::mutex> lock(m_markMutex);
    m_inputMarks = marks;
}

void DetectionMarkFile::set(int slot, int moldSide)
{
    const CycleStartMarks marks = currentMarks();
    WriteChange change = WriteChange::None;
    {
        std::lock_guard<std::mutex> lock(m_markMutex);
        m_inputMarks = marks;
        DetectionMark mark{slot < 0 ? -1 : slot, slot < 0 ? 1 : moldSide};
        // An opening the cycle has not covered yet is a detection under way as soon as it is counted.
        for (int i = 0; i < 16 && mark.slot < 0; ++i) {
            if (m_inputMarks[i].slot >= 0 && entryWaitsForTheCycle(i))
                mark = m_inputMarks[i];
        }
        const QByteArray text = detectionMarkText(mark);
        if (m_fd < 0 || text == m_written)
            return;
        const bool ok = writeLocked(text, &change);
        if (ok && mark.slot >= 0)
            post(kSyncBit);
    }
    reportWrite(change);
}

// Past a file size limit the first bytes go and the rest are refused: the second write says why. The
// cut record is left as it is: a start reads it as damaged, which judges the mould before the clamp may
// close, where the old record put back could read as "none" while a detection is under way.
bool DetectionMarkFile::writeLocked(const QByteArray &text, WriteChange *change)
{
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
    if (ok)
        m_written = text;
    *change = WriteChange::None;
    if (ok == m_failing) {
        m_failing = !ok;
        *change = ok ? WriteChange::WorksAgain : WriteChange::Fails;
        m_writeError = err;
    }
    return ok;
}

// One line when writing starts failing and one when it works again, after the lock is let go.
void DetectionMarkFile::reportWrite(WriteChange change)
{
    if (change == WriteChange::Fails)
        qCCritical(lcMainWindow).noquote()
            << detectionMarkPath() << "cannot be written:" << std::strerror(m_writeError.load());
    else if (change == WriteChange::WorksAgain)
        qCWarning(lcMainWindow).noquote() << detectionMarkPath() << "written again";
}

void DetectionMarkFile::installCycleStartMarkHook()
{
    gHookTarget.store(this);
    setCycleStartMarkHook(&postToInstalledFile);
}

void DetectionMarkFile::uninstallHook()
{
    DetectionMarkFile *self = this;
    if (!gHookTarget.compare_exchange_strong(self, nullptr))
        return;
    // A call that found this file a moment ago posts and returns within microseconds.
    while (gHookCalls.load() != 0)
        std::this_thread::yield();
}

void DetectionMarkFile::postCycleStartMark(int input)
{
    if (input >= 0 && input < 16)
        post(1u << input);
}

void DetectionMarkFile::post(quint32 work)
{
    m_work.fetch_or(work);
    ::sem_post(&m_wake);
}

// The marks of openings the cycle has not covered: written only over "none" (a slot mark on disk already
// makes a restart judge) and only while the opening still waits for the cycle (once its cycle's mark or
// a later verdict is on disk, that is what counts; a pass that only read it judged nothing). True when a
// mark was written.
bool DetectionMarkFile::writeRequestedMarks(quint32 inputs)
{
    static const QByteArray none = detectionMarkText(DetectionMark());
    WriteChange change = WriteChange::None;
    bool written = false;
    {
        std::lock_guard<std::mutex> lock(m_markMutex);
        if (m_fd < 0 || m_written != none)
            return false;
        for (int i = 0; i < 16; ++i) {
            if (!(inputs & (1u << i)) || m_inputMarks[i].slot < 0 || !entryWaitsForTheCycle(i))
                continue;
            // A failed write leaves the cut record, which a start reads as damaged and judges.
            written = writeLocked(detectionMarkText(m_inputMarks[i]), &change);
            break;
        }
    }
    reportWrite(change);
    return written;
}

// A mark written while a sync runs may have missed it: one more sync follows, which covers every mark
// written up to its start. Requests posted before a stop are still served.
void DetectionMarkFile::markLoop()
{
    for (;;) {
        while (::sem_wait(&m_wake) != 0 && errno == EINTR) {
        }
        const quint32 work = m_work.exchange(0);
        bool sync = (work & kSyncBit) != 0;
        if (work & kInputBits)
            sync = writeRequestedMarks(work & kInputBits) || sync;
        if (sync) {
            const int rc = m_syncFunction ? m_syncFunction(m_fd) : ::fdatasync(m_fd);
            const int error = rc == 0 ? 0 : errno;
            if ((rc != 0) != m_syncFailing) {
                m_syncFailing = rc != 0;
                if (m_syncFailing)
                    qCCritical(lcMainWindow).noquote()
                        << detectionMarkPath() << "cannot be synced to the disk:" << std::strerror(error)
                        << "- a power cut may lose it";
                else
                    qCWarning(lcMainWindow).noquote() << detectionMarkPath() << "synced to the disk again";
            }
        }
        if (work & kStopBit)
            return;
    }
}

void DetectionMarkFile::stopSync()
{
    m_stopped = true;
    if (!m_thread.joinable())
        return;
    post(kStopBit);
    m_thread.join();
}

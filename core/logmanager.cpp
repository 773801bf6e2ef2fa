#include "logmanager.h"
#include "clock.h"
#include "commandrunner.h"
#include "crashstack.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QRegularExpression>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cxxabi.h>
#include <execinfo.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

LogManager *gLogManager = nullptr;

const char *const kLogFolder = "./cnt_net/workspace/LOG/";
const char *const kLogStdoutFolder = "./cnt_net/workspace/log_stdout/";

namespace {

std::atomic<quint64> gLogCounter{0};

// Set on the thread that runs the crash handler: that thread may already hold the log lock (a crash
// inside the handler itself), so it must not wait for it forever.
thread_local bool tInCrashPath = false;
// Set once the crash path has waited for the lock in vain: the rest of the report goes straight to
// standard error instead of waiting again for every line.
thread_local bool tLogLockLost = false;

QMutex &logLock()
{
    static QMutex *lock = new QMutex; // lives until the process ends, like the file
    return *lock;
}

QFile &logFile()
{
    static QFile *file = new QFile;
    return *file;
}

QString logFilePath()
{
    return QString::fromLatin1(kLogFolder) + QStringLiteral("log.txt");
}

QList<QFileInfo> filesNewestFirst(const QString &folder, const QStringList &patterns, QDir::Filters extra)
{
    QDir dir(folder);
    QList<QFileInfo> files = dir.entryInfoList(patterns, QDir::Files | extra, QDir::NoSort);
    std::sort(files.begin(), files.end(), [](const QFileInfo &a, const QFileInfo &b) {
        const QDateTime ta = a.lastModified(), tb = b.lastModified();
        if (ta != tb)
            return ta > tb;
        return a.fileName() < b.fileName();
    });
    return files;
}

QString uniqueTarget(const QString &folder, const QString &base)
{
    QString target = folder + base + QStringLiteral(".txt");
    for (int n = 1; QFileInfo::exists(target); ++n)
        target = folder + base + QStringLiteral("_%1.txt").arg(n);
    return target;
}

void writeStderr(const QByteArray &bytes)
{
    const char *p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(STDERR_FILENO, p, size_t(left));
        if (n <= 0)
            return;
        p += n;
        left -= n;
    }
}

char levelLetter(QtMsgType type)
{
    switch (type) {
    case QtInfoMsg: return 'I';
    case QtWarningMsg: return 'W';
    case QtCriticalMsg: return 'E';
    case QtFatalMsg: return 'F';
    default: return 'D';
    }
}

// Moves log.txt aside after a fatal line. rename(2) rather than a child process: this also runs
// inside the crash handler.
void moveFatalLog(const QString &timeText)
{
    const QString folder = QString::fromLatin1(kLogFolder);
    const QByteArray from = QFile::encodeName(logFilePath());
    QByteArray to = QFile::encodeName(folder + QStringLiteral("logFatal%1.txt").arg(timeText));
    for (int n = 1; ::access(to.constData(), F_OK) == 0; ++n)
        to = QFile::encodeName(folder + QStringLiteral("logFatal%1_%2.txt").arg(timeText).arg(n));
    ::rename(from.constData(), to.constData());
}

// A line whose repeats are being held back; guarded by the log lock.
struct RepeatedLine
{
    QtMsgType type;
    QString message;
    qint64 periodStartMs;
    quint64 held;       // repeats held back since periodStartMs
    quint64 lastNumber; // running number of the last one held back
};

constexpr int kMaxRepeatedLines = 64;

// One write into the log file's buffer that has not been flushed yet.
struct UnflushedWrite
{
    qint64 bytes;
    int lines;
};

// Per-run state of the log file, guarded by the log lock and reset by the LogManager of each run.
struct LogRunState
{
    std::vector<RepeatedLine> repeats;
    QStringList rotatedFiles; // files this run moved aside for size, oldest first
    qint64 fileBytes = 0;     // size of the open log.txt, its buffer included
    quint64 linesLost = 0;    // lines that did not reach log.txt while it could not grow
    QString lostBecause;      // why lines stopped reaching it
    bool lossReported = false; // standard error was told so, once for each time it happens
    bool openFailed = false;   // the last line was dropped because log.txt could not be opened
    // The writes since the last good flush, oldest first; bounded by the file's buffer, which refuses
    // more once it holds 16 KiB.
    std::vector<UnflushedWrite> unflushed;
};

LogRunState &runState()
{
    static LogRunState *state = new LogRunState; // lives until the process ends, like the file
    return *state;
}

QByteArray formatLine(char level, quint64 number, const QString &timeText, const QString &file, int line,
                      const QString &message)
{
    return (QStringLiteral("[%1%2 %3 %4:%5] ")
                .arg(QLatin1Char(level))
                .arg(number)
                .arg(timeText, file)
                .arg(line) +
            message + QLatin1Char('\n'))
        .toUtf8();
}

QByteArray heldBackLine(const RepeatedLine &entry, const QString &timeText)
{
    constexpr int kShownChars = 200;
    QString text = entry.message.left(kShownChars);
    if (entry.message.size() > kShownChars)
        text += QStringLiteral("...");
    return formatLine(levelLetter(entry.type), entry.lastNumber, timeText, QString(), 0,
                      QStringLiteral("held back %1 repeat(s) of: %2").arg(entry.held).arg(text));
}

// Decides, under the log lock, whether this line is a repeat to hold back; appends to `countLines` the
// count lines that are due, including those of lines that stopped repeating a period ago.
bool holdBackRepeat(QtMsgType type, const QString &message, quint64 number, const QString &timeText,
                    QByteArray *countLines)
{
    std::vector<RepeatedLine> &repeats = runState().repeats;
    const qint64 now = appMonotonicMs();
    for (auto it = repeats.begin(); it != repeats.end();) {
        if (now - it->periodStartMs < kLogRepeatPeriodMs) {
            ++it;
            continue;
        }
        if (it->held == 0) {
            it = repeats.erase(it);
            continue;
        }
        *countLines += heldBackLine(*it, timeText);
        it->held = 0;
        it->periodStartMs = now;
        ++it;
    }
    if (type == QtCriticalMsg || type == QtFatalMsg)
        return false;
    for (RepeatedLine &entry : repeats) {
        if (entry.type == type && entry.message.size() == message.size() && entry.message == message) {
            ++entry.held;
            entry.lastNumber = number;
            return true;
        }
    }
    if (int(repeats.size()) >= kMaxRepeatedLines) {
        // Make room: the oldest line without held-back repeats goes first, else the oldest of all.
        auto victim = repeats.end();
        for (auto it = repeats.begin(); it != repeats.end(); ++it)
            if (it->held == 0 && (victim == repeats.end() || it->periodStartMs < victim->periodStartMs))
                victim = it;
        if (victim == repeats.end())
            victim = std::min_element(repeats.begin(), repeats.end(),
                                      [](const RepeatedLine &a, const RepeatedLine &b) {
                                          return a.periodStartMs < b.periodStartMs;
                                      });
        if (victim->held > 0)
            *countLines += heldBackLine(*victim, timeText);
        repeats.erase(victim);
    }
    repeats.push_back({type, message, now, 0, number});
    return false;
}

// The lines still in the file's buffer that are not on the disk: the newest writes whose bytes the file
// lacks. Under the log lock.
quint64 unwrittenLines(QFile &f)
{
    const LogRunState &state = runState();
    struct stat st;
    qint64 missing = state.fileBytes;
    if (f.handle() >= 0 && ::fstat(f.handle(), &st) == 0)
        missing -= st.st_size;
    quint64 lines = 0;
    for (auto it = state.unflushed.rbegin(); it != state.unflushed.rend() && missing > 0; ++it) {
        missing -= it->bytes;
        lines += quint64(it->lines);
    }
    return lines;
}

// Closing drops what the buffer could not write: those lines are counted with the lost ones.
void closeLogFile(QFile &f)
{
    LogRunState &state = runState();
    if (f.isOpen() && !f.flush())
        state.linesLost += unwrittenLines(f);
    state.unflushed.clear();
    f.close();
}

// Lines stop reaching log.txt: standard error, the only place left, is told once each time.
void startLoss(const QString &reason)
{
    LogRunState &state = runState();
    if (state.lossReported)
        return;
    state.lossReported = true;
    state.lostBecause = reason;
    writeStderr("log lines lost: " + logFilePath().toUtf8() + " cannot be written (" + reason.toUtf8() +
                ")\n");
}

// Appends under the log lock; a write the file refuses (its buffer full, the disk still full) is a lost
// line.
void appendToLog(QFile &f, const QByteArray &bytes)
{
    LogRunState &state = runState();
    const qint64 n = f.write(bytes);
    if (n >= 0) {
        state.fileBytes += n;
        state.unflushed.push_back({n, int(bytes.count('\n'))});
        return;
    }
    state.linesLost += quint64(std::max(1, int(bytes.count('\n'))));
    startLoss(f.errorString());
}

// Flushes under the log lock; once the file takes lines again, the ones lost meanwhile are counted in
// it. True when every line so far is on the disk.
bool flushLogAndCountLost(QFile &f, const QString &timeText)
{
    LogRunState &state = runState();
    bool flushed = f.flush();
    if (flushed && state.linesLost > 0) {
        const QString note = QStringLiteral("%1 log lines lost while %2 could not be written (%3)")
                                 .arg(state.linesLost)
                                 .arg(logFilePath(), state.lostBecause);
        state.linesLost = 0;
        appendToLog(f, formatLine('W', gLogCounter.fetch_add(1), timeText, QString(), 0, note));
        flushed = f.flush();
    }
    if (!flushed) {
        startLoss(f.errorString());
        return false;
    }
    state.unflushed.clear();
    state.lossReported = state.linesLost > 0;
    return state.linesLost == 0;
}

// Moves a full log.txt aside under the log lock, named like a previous run's log; rename(2) rather
// than "mv" for the same reason as the fatal move. Only this run's moved files are trimmed, its first
// one never.
void rotateFullLog(QFile &f)
{
    closeLogFile(f);
    LogRunState &state = runState();
    state.fileBytes = 0;
    const QString folder = QString::fromLatin1(kLogFolder);
    const QString target = uniqueTarget(folder, appNow().toString(QStringLiteral("yyyyMMdd_hhmmss")));
    if (::rename(QFile::encodeName(logFilePath()).constData(), QFile::encodeName(target).constData()) != 0)
        return;
    state.rotatedFiles.append(target);
    // The run's first file holds its start-up lines, which nothing later repeats: it stays, however
    // long a flood of other lines goes on.
    while (state.rotatedFiles.size() > kLogRotationsPerRun)
        QFile::remove(state.rotatedFiles.takeAt(1));
}

} // namespace

bool LogLineLimit::allow()
{
    startSecondIfDue();
    if (passed < perSecond) {
        ++passed;
        return true;
    }
    ++heldThisSecond;
    return false;
}

bool LogLineLimit::allowAfterCount(const QLoggingCategory &category, const char *what)
{
    if (const quint64 held = takeHeldBack())
        qCInfo(category).noquote() << what << held << "more not logged";
    return allow();
}

quint64 LogLineLimit::takeHeldBack()
{
    startSecondIfDue();
    const quint64 held = heldEnded;
    heldEnded = 0;
    return held;
}

void LogLineLimit::startSecondIfDue()
{
    const qint64 now = appMonotonicMs();
    if (secondStartMs >= 0 && now - secondStartMs < 1000)
        return;
    secondStartMs = now;
    passed = 0;
    heldEnded += heldThisSecond;
    heldThisSecond = 0;
}

QString moveLogFileAside(const QString &source, const QString &folder, const QString &base)
{
    const QString target = uniqueTarget(folder, base);
    runCommand(QStringLiteral("mv"), {source, target});
    return target;
}

void trimLogFolder(const QString &folder, int keep)
{
    const QList<QFileInfo> files = filesNewestFirst(folder, {QStringLiteral("*")}, QDir::Filters());
    // Walks the list once, so a file that cannot be deleted cannot keep the loop going.
    for (int i = keep; i < files.size(); ++i)
        QFile::remove(files.at(i).absoluteFilePath());
}

LogManager::LogManager(QObject *parent) : QObject(parent)
{
    const QString folder = QString::fromLatin1(kLogFolder);
    runCommand(QStringLiteral("mkdir"), {QStringLiteral("-p"), folder});

    const QFileInfo current(logFilePath());
    if (current.exists()) {
        moveLogFileAside(current.absoluteFilePath(), folder,
                         appNow().toString(QStringLiteral("yyyyMMdd_hhmmss")));
        runCommand(QStringLiteral("sync"));
    }

    const QList<QFileInfo> oldLogs = filesNewestFirst(folder, {QStringLiteral("*.log")}, QDir::Hidden);
    for (const QFileInfo &info : oldLogs) {
        if (QFileInfo::exists(info.absoluteFilePath()))
            moveLogFileAside(info.absoluteFilePath(), folder,
                             QStringLiteral("glog_") + appNow().toString(QStringLiteral("yyyyMMdd_hhmmss")));
        runCommand(QStringLiteral("sync"));
    }

    trimLogFolder(folder, 50);
    trimLogFolder(QString::fromLatin1(kLogStdoutFolder), 10);

    // A new run: its size rotations and held-back repeats start afresh.
    runWithLogLockHeld([] { runState() = LogRunState(); });
    qInstallMessageHandler(logMessageHandler);
    // Every end of the process through exit() or main's return, whichever path the quit took.
    static const bool flushAtQuit = std::atexit(flushLogAtQuit) == 0;
    Q_UNUSED(flushAtQuit);
    // On the thread's alternate stack, so that a thread that overflowed its own still leaves its report.
    installCrashSignalStack();
    struct sigaction action = {};
    action.sa_handler = crashSignalHandler;
    action.sa_flags = SA_RESTART | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (const int signalNumber : {SIGSEGV, SIGABRT, SIGFPE})
        sigaction(signalNumber, &action, nullptr);
}

void logMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const quint64 number = gLogCounter.fetch_add(1);
    const QString timeText = appNow().toString(QStringLiteral("yyyyMMdd-HHmmss.zzz"));
    QString file;
    if (context.file) {
        file = QString::fromUtf8(context.file);
        file = file.mid(file.lastIndexOf(QLatin1Char('/')) + 1);
    }
    const QByteArray line = formatLine(levelLetter(type), number, timeText, file, context.line, message);

    if (type == QtDebugMsg) {
        writeStderr(line);
        return;
    }

    QMutex &lock = logLock();
    if (tInCrashPath) {
        if (tLogLockLost || !lock.tryLock(2000)) {
            tLogLockLost = true;
            writeStderr(line);
            return;
        }
    } else {
        lock.lock();
    }

    QByteArray countLines;
    // The crash path writes every line: its report must not wait for a minute's count.
    const bool hold = !tInCrashPath && holdBackRepeat(type, message, number, timeText, &countLines);
    if (hold && countLines.isEmpty()) {
        lock.unlock();
        return;
    }

    QFile &f = logFile();
    LogRunState &state = runState();
    const QString path = logFilePath();
    const bool isNew = !QFileInfo::exists(path);
    if (isNew || !f.isOpen()) {
        if (f.isOpen())
            closeLogFile(f);
        f.setFileName(path);
        state.openFailed = !f.open(QIODevice::Append | QIODevice::WriteOnly);
        if (state.openFailed) {
            lock.unlock();
            return;
        }
        state.fileBytes = f.size();
        if (isNew)
            appendToLog(f, QByteArray(57, '*') + '\n' + "create newlog version " +
                               QByteArray(MG_VERSION_TEXT) + ' ' + timeText.toUtf8() + '\n');
    }
    // A line the file cannot take (a full disk, a file size limit) waits in the file's buffer while
    // there is room in it, and is lost after that: the file keeps what it has, and says how many were
    // lost once it takes lines again.
    if (!countLines.isEmpty())
        appendToLog(f, countLines);
    if (!hold)
        appendToLog(f, line);
    flushLogAndCountLost(f, timeText);

    if (type == QtFatalMsg) {
        const QString fatalTime = appNow().toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss-zzz"));
        closeLogFile(f);
        moveFatalLog(fatalTime);
    } else if (state.fileBytes > kLogFileLimitBytes) {
        rotateFullLog(f);
    }
    lock.unlock();
}

bool flushLogFile()
{
    QMutex &lock = logLock();
    lock.lock();
    QFile &f = logFile();
    const bool written =
        f.isOpen() ? flushLogAndCountLost(f, appNow().toString(QStringLiteral("yyyyMMdd-HHmmss.zzz")))
                   : !runState().openFailed;
    lock.unlock();
    return written;
}

void flushLogAtQuit()
{
    QMutex &lock = logLock();
    lock.lock();
    QFile &f = logFile();
    LogRunState &state = runState();
    if (f.isOpen() && !flushLogAndCountLost(f, appNow().toString(QStringLiteral("yyyyMMdd-HHmmss.zzz")))) {
        const quint64 lost = state.linesLost + unwrittenLines(f);
        if (lost > 0)
            writeStderr(QStringLiteral("%1 log lines lost at quit: %2 could not be written (%3)\n")
                            .arg(lost)
                            .arg(logFilePath(), state.lostBecause)
                            .toUtf8());
        // Said lost, they must not turn up after all: the buffer goes with the file.
        state.linesLost = 0;
        state.unflushed.clear();
        f.close();
    }
    lock.unlock();
}

void runWithLogLockHeld(const std::function<void()> &action)
{
    QMutex &lock = logLock();
    lock.lock();
    action();
    lock.unlock();
}

void crashSignalHandler(int signalNumber)
{
    std::signal(signalNumber, SIG_DFL);
    tInCrashPath = true;
    const QString stars = QString(105, QLatin1Char('*'));
    const QString text = QStringLiteral("crashed!!!----%1").arg(signalNumber);
    qCritical().noquote() << "\n" + stars << text;

    void *frames[1024];
    const int count = backtrace(frames, 1024);
    char **symbols = backtrace_symbols(frames, count);
    static const QRegularExpression pattern(QStringLiteral("\\S+\\(((\\S+)\\+\\S+)\\)\\s\\S+"));
    size_t bufferSize = 200;
    char *buffer = static_cast<char *>(std::malloc(bufferSize));
    for (int i = 0; i < count && symbols; ++i) {
        const QString symbol = QString::fromLocal8Bit(symbols[i]);
        QString quoted = symbol;
        quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace(QLatin1Char('"'), QStringLiteral("\\\""));
        qCritical().noquote() << "org" << i << ":" << QLatin1Char('"') + quoted + QLatin1Char('"');
        const QRegularExpressionMatch match = pattern.match(symbol);
        if (match.hasMatch() && match.lastCapturedIndex() == 2 && buffer) {
            int status = -1;
            const QByteArray mangled = match.captured(2).toLocal8Bit();
            char *demangled = abi::__cxa_demangle(mangled.constData(), buffer, &bufferSize, &status);
            if (status == 0 && demangled) {
                buffer = demangled;
                qCritical().noquote() << i << QString::fromLocal8Bit(demangled);
            }
        }
    }
    std::free(buffer);
    std::free(symbols);
    qFatal("%s", qPrintable(stars));
}

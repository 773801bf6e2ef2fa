#pragma once
// Prepares the log folders at start and installs the process-wide log and crash handlers. Every
// message of every thread becomes one line; non-debug lines go to ./cnt_net/workspace/LOG/log.txt.

#include <QLoggingCategory>
#include <QObject>
#include <QString>

#include <functional>

class LogManager : public QObject
{
    Q_OBJECT
public:
    // GUI thread, once, before other threads start: rotates and trims the log folders, then
    // installs logMessageHandler and crashSignalHandler (SIGSEGV, SIGABRT, SIGFPE).
    explicit LogManager(QObject *parent = nullptr);
};

// The one log manager, created by main and never destroyed.
extern LogManager *gLogManager;

// Bounds that keep the log folder from growing without end while a peer or a damaged file repeats
// itself: log.txt is moved aside (named like a previous run's log) once it passes kLogFileLimitBytes,
// and of the files so moved during this run only the first (it holds the run's start-up lines) and
// the newest kLogRotationsPerRun - 1 are kept. A line repeated with the same level and text is
// written once; its repeats are held back (they still take their running numbers) and counted in one
// line a minute. Critical and fatal lines always go out.
constexpr qint64 kLogFileLimitBytes = 8 * 1024 * 1024;
constexpr int kLogRotationsPerRun = 4;
constexpr qint64 kLogRepeatPeriodMs = 60 * 1000;

// Installed message handler; any thread.
void logMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message);

// Installed handler of SIGSEGV, SIGABRT and SIGFPE: writes a symbolised backtrace, then ends the
// process through a fatal message.
void crashSignalHandler(int signalNumber);

// Flushes log.txt; true when every line logged so far is in it (or none was for the file). Any thread:
// for a last line that must be said somewhere, on standard error when the log cannot take it.
bool flushLogFile();

// Run at the end of the process (the constructor registers it with atexit): a last flush of log.txt,
// and one line on standard error with the number of log lines that could not be written.
void flushLogAtQuit();

// Runs `action` while this thread holds the log lock (tests of a crash inside the log handler).
void runWithLogLockHeld(const std::function<void()> &action);

// "./cnt_net/workspace/LOG/" and "./cnt_net/workspace/log_stdout/", relative to the working directory.
extern const char *const kLogFolder;
extern const char *const kLogStdoutFolder;

// Moves `source` to `folder/base.txt`, or to `base_1.txt`, `base_2.txt` ... when that name is taken,
// so that no log file is ever lost to a name clash. Returns the target path.
QString moveLogFileAside(const QString &source, const QString &folder, const QString &base);

// Lets at most `perSecond` lines of one kind through in each second of the monotonic clock, for lines
// that differ every time (a datagram's text) and so escape the repeat rule. One thread only.
class LogLineLimit
{
public:
    explicit LogLineLimit(int perSecond) : perSecond(perSecond) {}
    // How many lines were held back in a second that has ended since the last call, for the one
    // count line the caller writes; 0 when none were.
    quint64 takeHeldBack();
    // True when this line may be logged now; otherwise it is counted as held back.
    bool allow();
    // allow(), after one info line "<what> <n> more not logged" in `category` for the lines held back
    // in seconds that have ended: for the lines a peer can repeat, which have no loop of their own to
    // write that count.
    bool allowAfterCount(const QLoggingCategory &category, const char *what);

private:
    void startSecondIfDue();
    const int perSecond;
    qint64 secondStartMs = -1;
    int passed = 0;
    quint64 heldThisSecond = 0;
    quint64 heldEnded = 0;
};

// Deletes the oldest files of `folder` (pattern "*", hidden files not counted) until `keep` remain.
void trimLogFolder(const QString &folder, int keep);

#pragma once
// Prepares the log folders at start and installs the process-wide log and crash handlers. Every
// message of every thread becomes one line; non-debug lines go to ./cnt_net/workspace/LOG/log.txt.

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

// Installed message handler; any thread.
void logMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message);

// Installed handler of SIGSEGV, SIGABRT and SIGFPE: writes a symbolised backtrace, then ends the
// process through a fatal message.
void crashSignalHandler(int signalNumber);

// Runs `action` while this thread holds the log lock (tests of a crash inside the log handler).
void runWithLogLockHeld(const std::function<void()> &action);

// "./cnt_net/workspace/LOG/" and "./cnt_net/workspace/log_stdout/", relative to the working directory.
extern const char *const kLogFolder;
extern const char *const kLogStdoutFolder;

// Moves `source` to `folder/base.txt`, or to `base_1.txt`, `base_2.txt` ... when that name is taken,
// so that no log file is ever lost to a name clash. Returns the target path.
QString moveLogFileAside(const QString &source, const QString &folder, const QString &base);

// Deletes the oldest files of `folder` (pattern "*", hidden files not counted) until `keep` remain.
void trimLogFolder(const QString &folder, int keep);

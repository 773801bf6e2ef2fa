// The log as the next engineer finds it on the box: line format, rotation at start, trimming,
// concurrent writers, and what a crash or a fatal message leaves behind.

#include "clock.h"
#include "logmanager.h"
#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

const QString kLog = QStringLiteral("cnt_net/workspace/LOG/");
const QString kStdout = QStringLiteral("cnt_net/workspace/log_stdout/");
const QRegularExpression kLine(
    QStringLiteral("^\\[([DIWEF])(\\d+) (\\d{8}-\\d{6}\\.\\d{3}) :0\\] (.*)$"));

QStringList filesIn(const QString &folder)
{
    QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    names.sort();
    return names;
}

// Working directory with a blank in its path: commands take argument lists, so it must not matter.
struct BlankWorkDir
{
    QTemporaryDir dir{QDir::tempPath() + QStringLiteral("/mg log XXXXXX")};
    QString previous = QDir::currentPath();
    BlankWorkDir() { QDir::setCurrent(dir.path()); }
    ~BlankWorkDir() { QDir::setCurrent(previous); }
};

// Runs this test binary again as a child in `workDir` with one role argument; returns the wait status.
int runChild(const QString &workDir, const char *role, int timeoutMs = 10000, const QString &stderrPath = {})
{
    const QByteArray errPath = QFile::encodeName(stderrPath);
    const QByteArray exe = QFile::encodeName(QCoreApplication::applicationFilePath());
    const QByteArray cwd = QFile::encodeName(workDir);
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(cwd.constData()) != 0)
            _exit(99);
        if (!errPath.isEmpty() && !freopen(errPath.constData(), "w", stderr))
            _exit(97);
        // Let our own crash handler see the signals, as on the box.
        setenv("ASAN_OPTIONS", "detect_leaks=0:handle_segv=0:handle_abort=0:allow_user_segv_handler=1", 1);
        execl(exe.constData(), exe.constData(), role, static_cast<char *>(nullptr));
        _exit(98);
    }
    int status = 0;
    QElapsedTimer timer;
    timer.start();
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (timer.elapsed() > timeoutMs) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        QThread::msleep(20);
    }
    return status;
}

} // namespace

// A function of ours on the crashing stack: the report must name it. Outside the anonymous namespace,
// so that it is exported like the program's functions.
[[gnu::noinline]] void mgCrashInsideOurCode()
{
    std::raise(SIGSEGV);
}

// Recursion without end, as a parser meets a deeply nested document: the thread's stack runs out.
[[gnu::noinline]] int mgRecurseWithoutEnd(int depth)
{
    volatile char frame[256];
    frame[depth % 256] = char(depth);
    return depth < 0 ? 0 : mgRecurseWithoutEnd(depth + 1) + frame[0];
}

// A thread as the program starts them: a QThread, or a standard thread.
class OverflowingThread : public QThread
{
protected:
    void run() override { mgRecurseWithoutEnd(0); }
};

namespace {

int childMain(const char *role)
{
    if (qstrcmp(role, "--child-quit-without-room") == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit none{0, 0};
        ::setrlimit(RLIMIT_FSIZE, &none);
    }
    int argc = 1;
    char name[] = "child";
    char *argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    gLogManager = new LogManager(nullptr);
    qInfo("child started");
    if (qstrcmp(role, "--child-fatal") == 0)
        qFatal("fatal from the child");
    if (qstrcmp(role, "--child-segv") == 0)
        mgCrashInsideOurCode();
    if (qstrcmp(role, "--child-segv-in-log") == 0)
        runWithLogLockHeld([] { std::raise(SIGSEGV); });
    if (qstrcmp(role, "--child-overflow-qthread") == 0) {
        OverflowingThread thread;
        thread.start();
        thread.wait();
    }
    if (qstrcmp(role, "--child-overflow-std-thread") == 0)
        std::thread([] { mgRecurseWithoutEnd(0); }).join();
    if (qstrcmp(role, "--child-quit-without-room") == 0) {
        qWarning("about to quit");
        std::fprintf(stderr, "flushLogFile %d\n", int(flushLogFile()));
    }
    if (qstrcmp(role, "--child-quit-one-line-fits") == 0) {
        // Lines of one length, from one place: the first shows how long each is. The next two wait in
        // memory while the file is at its limit; at quit the limit leaves room for exactly one of them.
        ::signal(SIGXFSZ, SIG_IGN);
        const QString log = QStringLiteral("cnt_net/workspace/LOG/log.txt");
        qint64 sizes[2] = {};
        for (int i = 0; i < 3; ++i) {
            if (i < 2)
                sizes[i] = QFileInfo(log).size();
            if (i == 1) {
                rlimit atSize{};
                ::getrlimit(RLIMIT_FSIZE, &atSize);
                atSize.rlim_cur = rlim_t(sizes[1]);
                ::setrlimit(RLIMIT_FSIZE, &atSize);
            }
            qWarning("line %d of one length", i);
        }
        rlimit oneMore{};
        ::getrlimit(RLIMIT_FSIZE, &oneMore);
        oneMore.rlim_cur = rlim_t(QFileInfo(log).size() + (QFileInfo(log).size() - sizes[0]));
        ::setrlimit(RLIMIT_FSIZE, &oneMore);
    }
    return 0;
}

} // namespace

class TestLogging : public QObject
{
    Q_OBJECT
private slots:
    void init() { setAppClock({}); }
    void cleanup()
    {
        setAppClock({});
        setAppMonotonicClock({});
    }

    void firstStartCreatesFolderAndHeader()
    {
        BlankWorkDir wd;
        LogManager manager;
        qDebug("debug only on stderr");
        qInfo("first");
        qWarning("second");
        const QStringList lines = readTextLines(kLog + QStringLiteral("log.txt"));
        QCOMPARE(lines.size(), 4);
        QCOMPARE(lines.at(0), QString(57, QLatin1Char('*')));
        QVERIFY2(lines.at(1).startsWith(QStringLiteral("create newlog version ") + MG_VERSION_TEXT + ' '),
                 qPrintable(lines.at(1)));
        const QRegularExpressionMatch first = kLine.match(lines.at(2));
        const QRegularExpressionMatch second = kLine.match(lines.at(3));
        QVERIFY2(first.hasMatch(), qPrintable(lines.at(2)));
        QVERIFY2(second.hasMatch(), qPrintable(lines.at(3)));
        QCOMPARE(first.captured(1), QStringLiteral("I"));
        QCOMPARE(first.captured(4), QStringLiteral("first"));
        QCOMPARE(second.captured(1), QStringLiteral("W"));
        // The debug message took a number too, but only the file lines are here.
        QCOMPARE(second.captured(2).toULongLong(), first.captured(2).toULongLong() + 1);
        QVERIFY(first.captured(2).toULongLong() >= 1);
        // The header's time is the time of the message that opened the file.
        QVERIFY(lines.at(1).endsWith(first.captured(3)));
    }

    void levelLetters()
    {
        BlankWorkDir wd;
        LogManager manager;
        qCritical("c");
        qWarning("w");
        qInfo("i");
        const QStringList lines = readTextLines(kLog + QStringLiteral("log.txt"));
        QCOMPARE(lines.size(), 5);
        QCOMPARE(kLine.match(lines.at(2)).captured(1), QStringLiteral("E"));
        QCOMPARE(kLine.match(lines.at(3)).captured(1), QStringLiteral("W"));
        QCOMPARE(kLine.match(lines.at(4)).captured(1), QStringLiteral("I"));
    }

    void rotationMovesPreviousFilesAside()
    {
        BlankWorkDir wd;
        const QDateTime start(QDate(2026, 3, 4), QTime(5, 6, 7));
        setAppClock([start] { return start; });
        const QDateTime old = start.addDays(-1);
        QVERIFY(writeTestFile(kLog + QStringLiteral("log.txt"), "previous run\n", old));
        QVERIFY(writeTestFile(kLog + QStringLiteral("a.log"), "A\n", old.addSecs(1)));
        QVERIFY(writeTestFile(kLog + QStringLiteral(".hidden.log"), "H\n", old.addSecs(2)));
        QVERIFY(writeTestFile(kLog + QStringLiteral("b.log"), "B\n", old.addSecs(3)));
        // A file already named like the move target must survive the clash.
        QVERIFY(writeTestFile(kLog + QStringLiteral("20260304_050607.txt"), "clash\n", old.addSecs(-5)));

        LogManager manager;

        const QStringList names = filesIn(kLog);
        QCOMPARE(names, QStringList({QStringLiteral("20260304_050607.txt"), QStringLiteral("20260304_050607_1.txt"),
                                     QStringLiteral("glog_20260304_050607.txt"),
                                     QStringLiteral("glog_20260304_050607_1.txt"),
                                     QStringLiteral("glog_20260304_050607_2.txt")}));
        QCOMPARE(readTextLines(kLog + QStringLiteral("20260304_050607.txt")), QStringList{QStringLiteral("clash")});
        QCOMPARE(readTextLines(kLog + QStringLiteral("20260304_050607_1.txt")),
                 QStringList{QStringLiteral("previous run")});
        // Newest first: b.log, then .hidden.log, then a.log.
        QCOMPARE(readTextLines(kLog + QStringLiteral("glog_20260304_050607.txt")), QStringList{QStringLiteral("B")});
        QCOMPARE(readTextLines(kLog + QStringLiteral("glog_20260304_050607_1.txt")), QStringList{QStringLiteral("H")});
        QCOMPARE(readTextLines(kLog + QStringLiteral("glog_20260304_050607_2.txt")), QStringList{QStringLiteral("A")});
    }

    void trimmingKeepsTheNewest()
    {
        BlankWorkDir wd;
        const QDateTime base(QDate(2025, 1, 1), QTime(0, 0));
        for (int i = 0; i < 60; ++i)
            QVERIFY(writeTestFile(kLog + QStringLiteral("f%1.txt").arg(i, 2, 10, QLatin1Char('0')), "x",
                              base.addSecs(60 * i)));
        for (int i = 0; i < 12; ++i)
            QVERIFY(writeTestFile(kStdout + QStringLiteral("s%1.txt").arg(i, 2, 10, QLatin1Char('0')), "x",
                              base.addSecs(60 * i)));
        LogManager manager;
        QStringList expected;
        for (int i = 10; i < 60; ++i)
            expected << QStringLiteral("f%1.txt").arg(i, 2, 10, QLatin1Char('0'));
        QCOMPARE(filesIn(kLog), expected);
        expected.clear();
        for (int i = 2; i < 12; ++i)
            expected << QStringLiteral("s%1.txt").arg(i, 2, 10, QLatin1Char('0'));
        QCOMPARE(filesIn(kStdout), expected);
    }

    void trimmingKeepsTheNewestFilesAndLeavesFolders()
    {
        BlankWorkDir wd;
        const QDateTime base(QDate(2025, 1, 1), QTime(0, 0));
        for (int i = 0; i < 52; ++i)
            QVERIFY(writeTestFile(kLog + QStringLiteral("f%1.txt").arg(i, 2, 10, QLatin1Char('0')), "x",
                              base.addSecs(60 * i)));
        // A folder is not a log file: it neither counts nor goes.
        QVERIFY(QDir().mkpath(kLog + QStringLiteral("zz.txt")));
        trimLogFolder(kLog, 50);
        QCOMPARE(filesIn(kLog).size(), 50);
        QVERIFY(QFileInfo(kLog + QStringLiteral("zz.txt")).isDir());
        QVERIFY(!QFile::exists(kLog + QStringLiteral("f00.txt")));
        QVERIFY(QFile::exists(kLog + QStringLiteral("f02.txt")));
    }

    // log.txt cannot grow (a full disk, a file size limit): the file keeps what it has, the lines that
    // fit in memory reach it in their order once it can grow again, and the others are counted in one
    // line that says why they were lost; standard error is told once, when the file stops taking them.
    // A log.txt removed meanwhile is closed with the lines that waited for it: the new file counts them.
    void linesLostWhileTheFileCannotGrowAreCounted_data()
    {
        QTest::addColumn<QList<int>>("lengths"); // of the messages sent while the file cannot grow
        QTest::addColumn<int>("linesEach");      // lines in each message
        QTest::addColumn<bool>("removed");       // log.txt removed before the file can grow again
        // About 40 KiB: more than the file's buffer holds.
        QTest::newRow("a flood past the buffer") << QVector<int>(300, 100).toList() << 1 << false;
        QTest::newRow("one line too long for the buffer") << QList<int>{100, 17000} << 1 << false;
        QTest::newRow("a flood of three-line messages past the buffer")
            << QVector<int>(150, 100).toList() << 3 << false;
        QTest::newRow("log.txt removed with the lines waiting for it")
            << QList<int>{100, 100, 100} << 1 << true;
        QTest::newRow("log.txt removed after a flood") << QVector<int>(300, 100).toList() << 2 << true;
    }
    void linesLostWhileTheFileCannotGrowAreCounted()
    {
        QFETCH(QList<int>, lengths);
        QFETCH(int, linesEach);
        QFETCH(bool, removed);
        BlankWorkDir wd;
        LogManager manager;
        // A long first line when log.txt goes: the old file stands at the limit, a new one has room.
        qWarning("before%s", removed ? QByteArray(3000, '.').constData() : "");
        const QString log = kLog + QStringLiteral("log.txt");
        const QByteArray before = readTestFile(log);
        QTemporaryFile errors;
        QVERIFY(errors.open());
        const int savedStderr = ::dup(STDERR_FILENO);
        ::dup2(errors.handle(), STDERR_FILENO);
        rlimit saved{};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &saved) == 0);
        const auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
        rlimit full = saved;
        full.rlim_cur = rlim_t(before.size());
        const bool limited = ::setrlimit(RLIMIT_FSIZE, &full) == 0;
        const int sent = lengths.size();
        const QByteArray more = QByteArray("\n  more").repeated(linesEach - 1);
        for (int i = 0; i < sent; ++i)
            qWarning("while full %d %s%s", i, QByteArray(lengths.at(i), 'x').constData(), more.constData());
        const QByteArray whileFull = readTestFile(log);
        const bool flushedWhileFull = flushLogFile();
        const bool gone = removed && QFile::remove(log);
        if (removed)
            qWarning("after the removal");
        ::setrlimit(RLIMIT_FSIZE, &saved);
        ::signal(SIGXFSZ, oldHandler);
        qWarning("room again");
        ::dup2(savedStderr, STDERR_FILENO);
        ::close(savedStderr);
        QVERIFY(limited);
        QCOMPARE(whileFull, before);
        QVERIFY(!flushedWhileFull);
        QVERIFY(gone == removed);
        QVERIFY(flushLogFile());

        const QStringList lines = readTextLines(log);
        const QString reason = QString::fromLocal8Bit(strerror(EFBIG));
        int kept = 0;
        QString note;
        if (removed) {
            // The new file: its header, the first line after the removal, then the count.
            QCOMPARE(lines.size(), 5);
            QCOMPARE(lines.at(0), QString(57, QLatin1Char('*')));
            QVERIFY2(lines.at(2).endsWith(QStringLiteral("] after the removal")), qPrintable(lines.at(2)));
            note = lines.at(3);
            QVERIFY2(lines.at(4).endsWith(QStringLiteral("] room again")), qPrintable(lines.at(4)));
        } else {
            QVERIFY(lines.size() >= 5);
            QVERIFY2(lines.at(2).endsWith(QStringLiteral("] before")), qPrintable(lines.at(2)));
            while (3 + (kept + 1) * linesEach <= lines.size() &&
                   lines.at(3 + kept * linesEach).contains(QStringLiteral("] while full %1 ").arg(kept)))
                ++kept;
            QVERIFY2(kept > 0 && kept < sent, qPrintable(QString::number(kept)));
            QCOMPARE(lines.size(), 3 + kept * linesEach + 2);
            QVERIFY2(lines.at(3 + kept * linesEach).endsWith(QStringLiteral("] room again")),
                     qPrintable(lines.at(3 + kept * linesEach)));
            note = lines.last();
        }
        const QRegularExpressionMatch counted = kLine.match(note);
        QVERIFY2(counted.hasMatch(), qPrintable(note));
        QCOMPARE(counted.captured(1), QStringLiteral("W"));
        QCOMPARE(counted.captured(4), QStringLiteral("%1 log lines lost while %2 could not be written (%3)")
                                          .arg((sent - kept) * linesEach)
                                          .arg(QStringLiteral("./") + log, reason));
        QCOMPARE(
            readTextLines(errors.fileName()),
            QStringList{QStringLiteral("log lines lost: ./%1 cannot be written (%2)").arg(log, reason)});
    }

    // A run whose log can take nothing (`ulimit -f 0`) and that quits: the lines that waited in memory
    // are said lost on standard error, as is the moment the loss began. A line the last flush still
    // wrote is not among them.
    void quitWithoutRoomSaysOnStandardErrorWhatWasLost_data()
    {
        QTest::addColumn<QString>("role");
        QTest::addColumn<QStringList>("said"); // %1 the log, %2 the reason
        QTest::addColumn<QString>("lastLine"); // of the log file; empty: the file stays empty
        QTest::newRow("nothing fits")
            << "--child-quit-without-room"
            << QStringList{"log lines lost: %1 cannot be written (%2)", "flushLogFile 0",
                           "4 log lines lost at quit: %1 could not be written (%2)"}
            << "";
        QTest::newRow("one of two waiting lines fits at quit")
            << "--child-quit-one-line-fits"
            << QStringList{"log lines lost: %1 cannot be written (%2)",
                           "1 log lines lost at quit: %1 could not be written (%2)"}
            << "line 1 of one length";
    }
    void quitWithoutRoomSaysOnStandardErrorWhatWasLost()
    {
        QFETCH(QString, role);
        QFETCH(QStringList, said);
        QFETCH(QString, lastLine);
        QTemporaryDir dir;
        // Standard error on a pipe: a file would meet the child's own limit.
        QProcess child;
        child.setWorkingDirectory(dir.path());
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
        child.setProcessEnvironment(environment);
        child.start(QCoreApplication::applicationFilePath(), {role});
        QVERIFY(child.waitForFinished(10000));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);
        const QByteArray errors = child.readAllStandardError();
        const QString file = dir.filePath(kLog + QStringLiteral("log.txt"));
        if (lastLine.isEmpty())
            QCOMPARE(QFileInfo(file).size(), 0);
        else
            QVERIFY2(readTextLines(file).value(readTextLines(file).size() - 1).endsWith("] " + lastLine),
                     qPrintable(readTestFile(file)));
        const QString reason = QString::fromLocal8Bit(strerror(EFBIG));
        const QString log = QStringLiteral("./") + kLog + QStringLiteral("log.txt");
        QStringList seen;
        for (const QString &line : QString::fromUtf8(errors).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            if (!line.startsWith(QLatin1String("core: "))) // the start's commands, before the handler is in
                seen << line;
        }
        QStringList expected;
        for (const QString &line : said)
            expected << (line.contains(QLatin1String("%1")) ? line.arg(log, reason) : line);
        QCOMPARE(seen, expected);
    }

    void removedLogIsRecreatedWithHeader()
    {
        BlankWorkDir wd;
        LogManager manager;
        qWarning("before");
        QVERIFY(QFile::remove(kLog + QStringLiteral("log.txt")));
        qWarning("after");
        const QStringList lines = readTextLines(kLog + QStringLiteral("log.txt"));
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines.at(0), QString(57, QLatin1Char('*')));
        QVERIFY(lines.at(1).startsWith(QStringLiteral("create newlog version ")));
        QVERIFY(lines.at(2).endsWith(QStringLiteral("] after")));
    }

    // Steps: "I:text" (or W, E) logs text at that level; "+ms" moves the monotonic clock on. Expected:
    // the file's lines after the header as level, running number counted from the first message, blank,
    // text. A count line carries the number of the last repeat it counts.
    void repeatsAreHeldBackAndCountedOnceAMinute_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("expected");
        const QString count = QStringLiteral("held back %1 repeat(s) of: %2");
        QTest::newRow("three repeats, then a minute")
            << QStringList{"I:a", "I:a", "I:a", "+60000", "I:b"}
            << QStringList{"I0 a", "I2 " + count.arg(2).arg("a"), "I3 b"};
        QTest::newRow("critical lines always go out")
            << QStringList{"E:c", "E:c", "W:c", "W:c", "E:c"} << QStringList{"E0 c", "E1 c", "W2 c", "E4 c"};
        QTest::newRow("another level is another line")
            << QStringList{"I:x", "W:x", "I:x", "+59999", "I:x", "+1", "I:x"}
            << QStringList{"I0 x", "W1 x", "I3 " + count.arg(2).arg("x")};
        QTest::newRow("a quiet minute forgets the line")
            << QStringList{"I:q", "+60000", "I:q", "+30000", "I:q"} << QStringList{"I0 q", "I1 q"};
        QTest::newRow("interleaved repeats")
            << QStringList{"I:a", "W:b", "I:a", "W:b", "I:a", "I:c"} << QStringList{"I0 a", "W1 b", "I5 c"};
        QTest::newRow("count line every minute while it repeats")
            << QStringList{"W:d", "W:d", "+60000", "W:d", "W:d", "+60000", "W:d", "I:e"}
            << QStringList{"W0 d", "W1 " + count.arg(1).arg("d"), "W3 " + count.arg(2).arg("d"), "I5 e"};
    }
    void repeatsAreHeldBackAndCountedOnceAMinute()
    {
        QFETCH(QStringList, steps);
        QFETCH(QStringList, expected);
        BlankWorkDir wd;
        std::atomic<qint64> now{1000000};
        setAppMonotonicClock([&now] { return now.load(); });
        LogManager manager;
        for (const QString &step : steps) {
            if (step.startsWith('+')) {
                now += step.mid(1).toLongLong();
                continue;
            }
            const QByteArray text = step.mid(2).toUtf8();
            if (step.startsWith('I'))
                qInfo("%s", text.constData());
            else if (step.startsWith('W'))
                qWarning("%s", text.constData());
            else
                qCritical("%s", text.constData());
        }
        setAppMonotonicClock({});
        const QStringList lines = readTextLines(kLog + QStringLiteral("log.txt")).mid(2);
        QStringList seen;
        qint64 first = -1;
        for (const QString &line : lines) {
            const QRegularExpressionMatch m = kLine.match(line);
            QVERIFY2(m.hasMatch(), qPrintable(line));
            if (first < 0)
                first = m.captured(2).toLongLong();
            seen << QStringLiteral("%1%2 %3").arg(m.captured(1)).arg(m.captured(2).toLongLong() - first).arg(m.captured(4));
        }
        QCOMPARE(seen, expected);
    }

    // 8 MB lines of distinct text: log.txt is moved aside each time it passes 8 MB, and of this run's
    // moved files only the first (with the start-up lines) and the three newest stay; older runs' logs
    // and fatal logs are never touched.
    void fullLogIsMovedAsideAndOnlyFourKeptPerRun()
    {
        BlankWorkDir wd;
        const QDateTime start(QDate(2026, 3, 4), QTime(5, 6, 7));
        setAppClock([start] { return start; });
        const QStringList older{QStringLiteral("20260303_010101.txt"), QStringLiteral("glog_20260303_010101.txt"),
                                QStringLiteral("logFatal2026-03-03_01-01-01-001.txt")};
        for (const QString &name : older)
            QVERIFY(writeTestFile(kLog + name, "older run\n", start.addDays(-1)));
        LogManager manager;
        qInfo("start-up line");
        constexpr qint64 kLimit = 8 * 1024 * 1024;
        const QString filler(64 * 1024, QLatin1Char('x'));
        for (int i = 0; i < 6 * 130; ++i)
            qInfo("%d %s", i, qPrintable(filler));
        qInfo("last");

        QStringList moved = filesIn(kLog);
        for (const QString &name : older)
            QVERIFY2(moved.removeOne(name), qPrintable(name));
        QVERIFY(moved.removeOne(QStringLiteral("log.txt")));
        QCOMPARE(moved.size(), 4);
        quint64 highest = 0;
        QStringList startUpIn;
        QList<quint64> firstNumbers;
        for (const QString &name : moved) {
            QVERIFY2(QRegularExpression(QStringLiteral("^20260304_050607(_\\d+)?\\.txt$")).match(name).hasMatch(),
                     qPrintable(name));
            const QFileInfo info(kLog + name);
            QVERIFY2(info.size() > kLimit && info.size() < kLimit + 70 * 1024, qPrintable(name));
            const QStringList lines = readTextLines(kLog + name);
            QCOMPARE(lines.at(0), QString(57, QLatin1Char('*')));
            highest = std::max(highest, kLine.match(lines.last()).captured(2).toULongLong());
            firstNumbers << kLine.match(lines.at(2)).captured(2).toULongLong();
            if (lines.size() > 2 && lines.at(2).endsWith(QStringLiteral("] start-up line")))
                startUpIn << name;
        }
        // Six files were filled: the first stays with the start-up line, the second and third are gone
        // (their lines and the start-up line lie between the first kept numbers), the newest three
        // follow one another.
        QCOMPARE(startUpIn.size(), 1);
        std::sort(firstNumbers.begin(), firstNumbers.end());
        QVERIFY(readTextLines(kLog + startUpIn.first()).at(2).startsWith(
            QStringLiteral("[I%1 ").arg(firstNumbers.at(0))));
        const quint64 perFile = firstNumbers.at(2) - firstNumbers.at(1);
        QCOMPARE(firstNumbers.at(3) - firstNumbers.at(2), perFile);
        QCOMPARE(firstNumbers.at(1) - firstNumbers.at(0), 3 * perFile + 1);
        // The current file starts with its header, and its first line follows the last moved one.
        const QStringList current = readTextLines(kLog + QStringLiteral("log.txt"));
        QVERIFY(current.size() >= 3);
        QCOMPARE(current.at(0), QString(57, QLatin1Char('*')));
        QVERIFY(current.at(1).startsWith(QStringLiteral("create newlog version ")));
        QCOMPARE(kLine.match(current.at(2)).captured(2).toULongLong(), highest + 1);
        QVERIFY(current.last().endsWith(QStringLiteral("] last")));
        for (const QString &name : older)
            QCOMPARE(readTextLines(kLog + name), QStringList{QStringLiteral("older run")});
    }

    void concurrentWritersGiveWholeUniqueLines()
    {
        BlankWorkDir wd;
        LogManager manager;
        constexpr int kThreads = 8, kEach = 2000;
        QList<QThread *> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads << QThread::create([t] {
                for (int i = 0; i < kEach; ++i)
                    qWarning("thread %d message %d with some padding text", t, i);
            });
        }
        for (QThread *th : threads)
            th->start();
        for (QThread *th : threads) {
            QVERIFY(th->wait(60000));
            delete th;
        }
        const QStringList lines = readTextLines(kLog + QStringLiteral("log.txt"));
        QCOMPARE(lines.size(), 2 + kThreads * kEach);
        QSet<quint64> numbers;
        QVector<int> nextPerThread(kThreads, 0);
        const QRegularExpression body(QStringLiteral("^thread (\\d) message (\\d+) with some padding text$"));
        for (int i = 2; i < lines.size(); ++i) {
            const QRegularExpressionMatch m = kLine.match(lines.at(i));
            QVERIFY2(m.hasMatch(), qPrintable(lines.at(i)));
            numbers.insert(m.captured(2).toULongLong());
            const QRegularExpressionMatch b = body.match(m.captured(4));
            QVERIFY2(b.hasMatch(), qPrintable(lines.at(i)));
            const int t = b.captured(1).toInt();
            // Each thread's lines appear in its own order.
            QCOMPARE(b.captured(2).toInt(), nextPerThread[t]++);
        }
        QCOMPARE(numbers.size(), kThreads * kEach);
    }

    void fatalMessageLeavesTwoFatalFiles()
    {
        QTemporaryDir dir;
        const int status = runChild(dir.path(), "--child-fatal");
        QVERIFY2(WIFSIGNALED(status), qPrintable(QString::number(status)));
        QCOMPARE(WTERMSIG(status), SIGABRT);
        const QString log = dir.filePath(kLog);
        QVERIFY(!QFile::exists(log + QStringLiteral("log.txt")));
        const QStringList fatal = QDir(log).entryList({QStringLiteral("logFatal*.txt")}, QDir::Files, QDir::Name);
        QCOMPARE(fatal.size(), 2);
        bool sawFatalLast = false, sawAbortReport = false;
        const QRegularExpression name(QStringLiteral("^logFatal\\d{4}-\\d{2}-\\d{2}_\\d{2}-\\d{2}-\\d{2}-\\d{3}(_\\d+)?\\.txt$"));
        for (const QString &f : fatal) {
            QVERIFY2(name.match(f).hasMatch(), qPrintable(f));
            const QStringList lines = readTextLines(log + f);
            QVERIFY(!lines.isEmpty());
            const QRegularExpressionMatch last = kLine.match(lines.last());
            QVERIFY2(last.hasMatch(), qPrintable(lines.last()));
            QCOMPARE(last.captured(1), QStringLiteral("F"));
            if (last.captured(4) == QStringLiteral("fatal from the child"))
                sawFatalLast = true;
            if (lines.join('\n').contains(QStringLiteral("crashed!!!----6")))
                sawAbortReport = true;
        }
        QVERIFY(sawFatalLast);
        QVERIFY(sawAbortReport);
    }

    void crashWhileHoldingTheLogLockDoesNotFreeze()
    {
        QTemporaryDir dir;
        const QString errors = dir.filePath(QStringLiteral("stderr.txt"));
        QElapsedTimer timer;
        timer.start();
        const int status = runChild(dir.path(), "--child-segv-in-log", 10000, errors);
        QVERIFY2(status != -1, "the child froze in its crash handler");
        QVERIFY(timer.elapsed() < 10000);
        QVERIFY(WIFSIGNALED(status));
        QCOMPARE(WTERMSIG(status), SIGABRT);
        // The report could not take the log lock, so it went to standard error, line for line.
        const QString err = readTextLines(errors).join('\n');
        QVERIFY2(err.contains(QStringLiteral("crashed!!!----11")), qPrintable(err.left(2000)));
        QVERIFY(QRegularExpression(QStringLiteral("^\\[E\\d+ \\d{8}-\\d{6}\\.\\d{3} :0\\] org 0 : \".+\"$"),
                                   QRegularExpression::MultilineOption)
                    .match(err)
                    .hasMatch());
        QVERIFY(err.contains(QStringLiteral("crashed!!!----6")));
        QVERIFY(err.contains(QString(105, QLatin1Char('*'))));
    }

    // A thread that overflows its stack cannot run a handler there: the report is written all the same.
    void stackOverflowInAThreadIsReported_data()
    {
        QTest::addColumn<QByteArray>("role");
        QTest::newRow("QThread") << QByteArray("--child-overflow-qthread");
        QTest::newRow("std::thread") << QByteArray("--child-overflow-std-thread");
    }
    void stackOverflowInAThreadIsReported()
    {
        QFETCH(QByteArray, role);
        QTemporaryDir dir;
        const int status = runChild(dir.path(), role.constData(), 30000);
        QVERIFY2(status != -1, "the crashed child did not end within 30 s");
        QVERIFY(WIFSIGNALED(status));
        QCOMPARE(WTERMSIG(status), SIGABRT);
        const QString log = dir.filePath(kLog);
        QString all;
        for (const QString &f : QDir(log).entryList({QStringLiteral("logFatal*.txt")}, QDir::Files))
            all += readTextLines(log + f).join('\n') + '\n';
        QVERIFY2(all.contains(QStringLiteral("crashed!!!----11")), qPrintable(all.left(2000)));
        QVERIFY2(QRegularExpression(QStringLiteral("\\] \\d+ mgRecurseWithoutEnd\\(int\\)$"),
                                    QRegularExpression::MultilineOption)
                     .match(all)
                     .hasMatch(),
                 qPrintable(all.left(3000)));
    }

    void segmentationFaultIsReportedWithFrames()
    {
        QTemporaryDir dir;
        QElapsedTimer timer;
        timer.start();
        const int status = runChild(dir.path(), "--child-segv");
        QVERIFY2(status != -1, "the crashed child did not end within 10 s");
        QVERIFY(timer.elapsed() < 10000);
        QVERIFY(WIFSIGNALED(status));
        const QString log = dir.filePath(kLog);
        QString all;
        for (const QString &f : QDir(log).entryList({QStringLiteral("logFatal*.txt")}, QDir::Files))
            all += readTextLines(log + f).join('\n') + '\n';
        QVERIFY2(all.contains(QStringLiteral("crashed!!!----11")), qPrintable(all.left(2000)));
        QVERIFY(QRegularExpression(QStringLiteral("\\] org 0 : \".+\"")).match(all).hasMatch());
        QVERIFY(QRegularExpression(QStringLiteral("\\] org 3 : \".+\"")).match(all).hasMatch());
        QVERIFY(all.contains(QString(105, QLatin1Char('*'))));
        // Frames are named in plain words: the handler itself and the function that crashed.
        for (const char *name : {"crashSignalHandler(int)", "mgCrashInsideOurCode()"}) {
            QVERIFY2(QRegularExpression(QStringLiteral("\\] \\d+ ") + QRegularExpression::escape(name) + "$",
                                        QRegularExpression::MultilineOption)
                         .match(all)
                         .hasMatch(),
                     qPrintable(all.left(3000)));
        }
    }
};

int main(int argc, char **argv)
{
    if (argc == 2 &&
        (qstrcmp(argv[1], "--child-fatal") == 0 || qstrcmp(argv[1], "--child-segv") == 0 ||
         qstrcmp(argv[1], "--child-segv-in-log") == 0 || qstrcmp(argv[1], "--child-overflow-qthread") == 0 ||
         qstrcmp(argv[1], "--child-overflow-std-thread") == 0 ||
         qstrcmp(argv[1], "--child-quit-without-room") == 0 ||
         qstrcmp(argv[1], "--child-quit-one-line-fits") == 0))
        return childMain(argv[1]);
    QCoreApplication app(argc, argv);
    TestLogging test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_logging.moc"

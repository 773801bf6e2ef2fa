// The USB disk mount as the operating system sees it (the exact commands run), the mounts check, the
// temperature key, the pause before a restart or exit, and the timing probe's log line.

#include "clock.h"
#include "commandrunner.h"
#include "systemhelpers.h"
#include "testfiles.h"
#include "testworkdir.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QtTest>

#include <csignal>

namespace {

// Answers blkid with a scripted text and plays the kernel for mount and umount on a mounts file.
class FakeSystem : public CommandRunner
{
public:
    QStringList calls;
    QByteArray blkidOutput;
    QString mountsFile;
    bool mountShows = true;
    QMap<QString, int> mountExit; // device -> exit status (default 0)
    bool startable = true;

    CommandResult run(const QString &program, const QStringList &arguments, int timeoutMs) override
    {
        calls << (QStringList{program} + arguments).join(QLatin1Char(' ')) +
                     QStringLiteral(" @%1").arg(timeoutMs);
        CommandResult r;
        r.started = startable;
        r.exitCode = startable ? 0 : -1;
        if (program == QLatin1String("blkid"))
            r.standardOutput = blkidOutput;
        if (program == QLatin1String("mount") && arguments.size() == 2) {
            r.exitCode = mountExit.value(arguments.at(0), 0);
            if (mountShows && !mountsFile.isEmpty()) {
                QFile f(mountsFile);
                if (f.open(QIODevice::Append))
                    f.write((arguments.at(0) + QStringLiteral(" /mnt vfat rw 0 0\n")).toLocal8Bit());
            }
        }
        return r;
    }
};

const QByteArray kSystemLine = "/dev/sda1: UUID=\"aa-bb\" TYPE=\"ext4\" PARTUUID=\"1\"\n";
const QByteArray kStickLine = "/dev/sdb1: LABEL=\"STICK\" UUID=\"12-34\" TYPE=\"vfat\"\n";
const QString kBaseMounts = QStringLiteral("/dev/sda1 / ext4 rw 0 0\nproc /proc proc rw 0 0\n");

} // namespace

class TestSystemHelpers : public QObject
{
    Q_OBJECT
    FakeSystem *m_sys = nullptr;
    TestWorkDir *m_dir = nullptr;

private slots:
    void init()
    {
        m_dir = new TestWorkDir(TestWorkDir::Empty);
        QVERIFY(m_dir->isValid());
        m_sys = new FakeSystem;
        m_sys->mountsFile = m_dir->filePath("mounts");
        QVERIFY(writeTestFile(m_sys->mountsFile, kBaseMounts.toUtf8()));
        setMountsFilePath(m_sys->mountsFile);
        setCommandRunner(m_sys);
    }
    void cleanup()
    {
        setCommandRunner(nullptr);
        setMountsFilePath(QString());
        setAppClock({});
        delete m_sys;
        delete m_dir;
    }

    // The box ignores SIGPIPE for itself; a program it starts, waited for or detached, has the signal
    // at its default, as every program expects (a reader gone ends "cmd | head" quietly).
    void startedProgramsHaveTheBrokenPipeSignalAtItsDefault_data()
    {
        QTest::addColumn<bool>("detached");
        QTest::newRow("run and waited for") << false;
        QTest::newRow("started detached") << true;
    }
    void startedProgramsHaveTheBrokenPipeSignalAtItsDefault()
    {
        QFETCH(bool, detached);
        struct sigaction ignore = {};
        ignore.sa_handler = SIG_IGN;
        struct sigaction before = {};
        QCOMPARE(::sigaction(SIGPIPE, &ignore, &before), 0);
        const QString report = m_dir->filePath(QStringLiteral("sigign"));
        // The shell reports the signals it was started with ignored, as a hexadecimal mask.
        const QStringList arguments = {QStringLiteral("-c"),
                                       QStringLiteral("grep '^SigIgn:' /proc/$$/status > \"$0.new\" && "
                                                      "mv \"$0.new\" \"$0\""),
                                       report};
        ProcessCommandRunner runner;
        qint64 pid = 0;
        const bool started = detached ? runner.startDetachedWithPid(QStringLiteral("sh"), arguments, &pid)
                                      : runner.run(QStringLiteral("sh"), arguments, 10000).started;
        ::sigaction(SIGPIPE, &before, nullptr);
        QVERIFY(started);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(report), 10000);
        const QByteArray line = readTestFile(report).trimmed();
        QVERIFY2(line.startsWith("SigIgn:"), line);
        bool ok = false;
        const quint64 ignored = line.mid(7).trimmed().toULongLong(&ok, 16);
        QVERIFY2(ok, line);
        QVERIFY2((ignored & (quint64(1) << (SIGPIPE - 1))) == 0, line);
    }

    // A program started detached is ended by its id only while that id still runs the program.
    void endDetachedEndsOnlyWhatItStarted()
    {
        ProcessCommandRunner runner;
        qint64 pid = 0;
        QVERIFY(runner.startDetachedWithPid("sleep", {"30"}, &pid));
        QVERIFY(pid > 0);
        const auto running = [pid] {
            QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
            if (!stat.open(QIODevice::ReadOnly))
                return false;
            const QByteArray text = stat.readAll();
            return text.mid(text.lastIndexOf(')') + 2, 1) != "Z";
        };
        const auto program = [pid] {
            QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
            return cmdline.open(QIODevice::ReadOnly) ? cmdline.readAll().split('\0').value(0) : QByteArray();
        };
        QTRY_VERIFY(program().endsWith("sleep")); // the start has reached the program itself
        QVERIFY(!runner.endDetached(pid, "./cnt_net/pynet_monitor")); // not that program
        QTest::qWait(100);
        QVERIFY(running());
        QVERIFY(!runner.endDetached(0, "sleep"));
        QVERIFY(!runner.endDetached(qint64(QCoreApplication::applicationPid()), "sleep"));
        QVERIFY(runner.endDetached(pid, "/bin/sleep"));
        QTRY_VERIFY(!running());
    }

    void usbStickAfterTheSystemDisk()
    {
        m_sys->blkidOutput = kSystemLine + kStickLine;
        QCOMPARE(mountUsbByBlkid(), QStringLiteral("/mnt"));
        QCOMPARE(m_sys->calls, QStringList({"blkid @1000", "mount /dev/sdb1 /mnt @1000"}));
    }

    void stickListedBeforeTheSystemDiskIsNotTaken()
    {
        m_sys->blkidOutput = kStickLine + kSystemLine;
        QCOMPARE(mountUsbByBlkid(), QString());
        QCOMPARE(m_sys->calls, QStringList({"blkid @1000"}));
    }

    void secondPartitionOfTheSystemDiskIsNotACandidate()
    {
        m_sys->blkidOutput = kSystemLine + "/dev/sda2: LABEL=\"BOOT\" TYPE=\"vfat\"\n" +
                             "/dev/sdc1: LABEL=\"DATA\" TYPE=\"ntfs\"\n" + "/dev/sdd1: TYPE=\"exfat\"\n";
        QCOMPARE(mountUsbByBlkid(), QStringLiteral("/mnt"));
        QCOMPARE(m_sys->calls.last(), QStringLiteral("mount /dev/sdc1 /mnt @1000"));
    }

    void systemDiskNameLosesAllTrailingDigits()
    {
        // /dev/sda12 -> /dev/sda, so /dev/sda3 belongs to the system disk too.
        m_sys->blkidOutput =
            "/dev/sda12: TYPE=\"ext4\"\n/dev/sda3: TYPE=\"vfat\"\n/dev/sdb1: TYPE=\"exfat\"\n";
        QCOMPARE(mountUsbByBlkid(), QStringLiteral("/mnt"));
        QCOMPARE(m_sys->calls.last(), QStringLiteral("mount /dev/sdb1 /mnt @1000"));
    }

    void typesMustMatchWithQuotesAndCase()
    {
        m_sys->blkidOutput =
            kSystemLine + "/dev/sdb1: TYPE=vfat\n/dev/sdc1: TYPE=\"VFAT\"\n/dev/sdd1: TYPE=\"xfs\"\n";
        QCOMPARE(mountUsbByBlkid(), QString());
        QCOMPARE(m_sys->calls.size(), 1);
    }

    void mntMountedTwiceIsUnmountedTwice()
    {
        QVERIFY(writeTestFile(
            m_sys->mountsFile,
            (kBaseMounts + "/dev/sdx1 /mnt vfat rw 0 0\n\n/dev/sdy1 /mnt vfat rw 0 0\n").toUtf8()));
        m_sys->blkidOutput = kSystemLine + kStickLine;
        QCOMPARE(mountUsbByBlkid(), QStringLiteral("/mnt"));
        QCOMPARE(m_sys->calls, QStringList({"blkid @1000", "umount /mnt @1000", "umount /mnt @1000",
                                            "mount /dev/sdb1 /mnt @1000"}));
    }

    void labelsCannotReachTheMountCommand()
    {
        // A stick's label or a crafted line cannot become part of a command; a plain device still can.
        m_sys->blkidOutput = kSystemLine + "/dev/sdb1 $(reboot): LABEL=\"x\" TYPE=\"vfat\"\n" +
                             "/dev/sdb2;rm -rf /: TYPE=\"vfat\"\n" + "`init 0`: TYPE=\"vfat\"\n" +
                             "/dev/sdc1: LABEL=\"a: b $(x)\" TYPE=\"vfat\"\n";
        QCOMPARE(mountUsbByBlkid(), QStringLiteral("/mnt"));
        QCOMPARE(m_sys->calls, QStringList({"blkid @1000", "mount /dev/sdc1 /mnt @1000"}));
    }

    void onlyCraftedCandidatesMeansNoDisk()
    {
        m_sys->blkidOutput = kSystemLine + "/dev/sdb1 /etc: TYPE=\"vfat\"\n" + "mnt: TYPE=\"vfat\"\n";
        QCOMPARE(mountUsbByBlkid(), QString());
        QCOMPARE(m_sys->calls.size(), 1);
    }

    void mountThatDoesNotShowIsAFailure()
    {
        m_sys->blkidOutput = kSystemLine + kStickLine;
        m_sys->mountShows = false;
        QCOMPARE(mountUsbByBlkid(), QString());
        QCOMPARE(m_sys->calls.last(), QStringLiteral("mount /dev/sdb1 /mnt @1000"));
    }

    void otherDeviceOnMntIsNotOurs()
    {
        // "/dev/sdb10 /mnt" does not show "/dev/sdb1 /mnt".
        m_sys->blkidOutput = kSystemLine + kStickLine;
        m_sys->mountShows = false;
        QVERIFY(writeTestFile(m_sys->mountsFile, (kBaseMounts + "/dev/sdb10 /mnt2 vfat rw 0 0\n").toUtf8()));
        QCOMPARE(mountUsbByBlkid(), QString());
    }

    void unreadableMountsFile()
    {
        m_sys->blkidOutput = kSystemLine + kStickLine;
        setMountsFilePath(m_dir->filePath("no-such-file"));
        QCOMPARE(mountUsbByBlkid(), QString());
        QCOMPARE(m_sys->calls, QStringList({"blkid @1000"}));
    }

    void emptyOrNulOutput()
    {
        m_sys->blkidOutput.clear();
        QCOMPARE(mountUsbByBlkid(), QString());
        m_sys->blkidOutput = QByteArray("\0", 1) + kSystemLine + kStickLine;
        QCOMPARE(mountUsbByBlkid(), QString());
        // Text after a NUL byte is not read.
        m_sys->blkidOutput = kSystemLine + QByteArray("\0", 1) + kStickLine;
        QCOMPARE(mountUsbByBlkid(), QString());
        QCOMPARE(m_sys->calls, QStringList({"blkid @1000", "blkid @1000", "blkid @1000"}));
    }

    void mountUsbDiskTriesSdbThenSdc()
    {
        m_sys->mountExit["/dev/sdb1"] = 32;
        QCOMPARE(mountUsbDisk(), 1);
        QCOMPARE(m_sys->calls.size(), 3);
        QVERIFY(m_sys->calls[0].startsWith("umount /mnt @"));
        QVERIFY(m_sys->calls[1].startsWith("mount /dev/sdb1 /mnt @"));
        QVERIFY(m_sys->calls[2].startsWith("mount /dev/sdc1 /mnt @"));

        m_sys->calls.clear();
        m_sys->mountExit.clear();
        QCOMPARE(mountUsbDisk(), 1);
        QCOMPARE(m_sys->calls.size(), 2);

        m_sys->calls.clear();
        m_sys->mountExit["/dev/sdb1"] = 1;
        m_sys->mountExit["/dev/sdc1"] = 1;
        QCOMPARE(mountUsbDisk(), 0);

        m_sys->mountExit.clear();
        m_sys->startable = false; // a mount that never ran is no success
        QCOMPARE(mountUsbDisk(), 0);
    }

    void mntCheck()
    {
        QVERIFY(!isMntMounted());
        QVERIFY(writeTestFile(m_sys->mountsFile, (kBaseMounts + "/dev/sdb1 /mnt vfat rw 0 0\n").toUtf8()));
        QVERIFY(isMntMounted());
        setMountsFilePath(m_dir->filePath("no-such-file"));
        QVERIFY(!isMntMounted());
    }

    void slotRegionKey()
    {
        QCOMPARE(makeSlotRegionKey(3, 14), QStringLiteral("D3_T14"));
        QCOMPARE(makeSlotRegionKey(0, 0), QStringLiteral("D0_T0"));
        QCOMPARE(makeSlotRegionKey(7, 49), QStringLiteral("D7_T49"));
    }

    void stopAndWaitClearsTheFlagAndPauses()
    {
        gRunning = true;
        QElapsedTimer t;
        t.start();
        stopAndWait();
        QVERIFY(!gRunning);
        QVERIFY(t.elapsed() >= 990);
    }

    void quitAppEndsTheProcessWithTheStatus()
    {
        QProcess child;
        QElapsedTimer t;
        t.start();
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--quit-app"), QStringLiteral("7")});
        QVERIFY(child.waitForFinished(20000));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 7);
        QVERIFY(t.elapsed() >= 990);
        // What main does at the end of a run comes first, once, with the status and the run flag down.
        const QByteArray out = child.readAllStandardOutput();
        QCOMPARE(out, QByteArray("run ended 7, running 0\n"));
    }

    void timingProbeLogsMillisecondsSinceItsStart()
    {
        static QStringList messages;
        messages.clear();
        QLoggingCategory::setFilterRules(QStringLiteral("core.debug=true"));
        const QtMessageHandler previous =
            qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &ctx, const QString &msg) {
                if (type == QtDebugMsg && QByteArray(ctx.category) == "core")
                    messages << msg;
            });
        QDateTime now = QDateTime::fromMSecsSinceEpoch(1700000000000LL, Qt::UTC);
        setAppClock([&] { return now; });
        timingProbe();
        now = now.addMSecs(250);
        timingProbe();
        now = now.addMSecs(1000);
        timingProbe();
        qInstallMessageHandler(previous);
        QLoggingCategory::setFilterRules(QString());
        QCOMPARE(messages, QStringList({"0.000000\n", "250.000000\n", "1250.000000\n"}));
    }
};

int main(int argc, char *argv[])
{
    // Child mode for the exit test: quitApp must end this process, never return.
    if (argc == 3 && qstrcmp(argv[1], "--quit-app") == 0) {
        gRunning = true;
        setRunEndHook([](int status) {
            std::printf("run ended %d, running %d\n", status, int(gRunning.load()));
            std::fflush(stdout);
        });
        quitApp(atoi(argv[2]));
        std::printf("returned\n");
        return 99;
    }
    QCoreApplication app(argc, argv);
    TestSystemHelpers tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_systemhelpers.moc"

// Update from and export to the USB disk, with the disk's mount point in a temporary folder and the
// operating system played by a recording command runner: what is copied, what is emptied, what is
// reported, and that the box restarts only after an update was copied whole.

#include "boxtestpolicy.h"
#include "choosebox.h"
#include "clock.h"
#include "commandrunner.h"
#include "imagesize.h"
#include "pathmap.h"
#include "settingshooks.h"
#include "startup.h"
#include "sysparam.h"
#include "systemhelpers.h"
#include "testfiles.h"
#include "testworkdir.h"
#include "uitexttable.h"
#include "updatefiles.h"
#include "warnbox.h"
#include "wizardparawidget.h"

#include <QtTest>

#include <atomic>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

// blkid finds a stick after the system disk; mount makes it appear in the mounts file.
class FakeSystem : public CommandRunner
{
public:
    QStringList calls;
    QString mountsFile;
    bool stick = true;
    CommandResult run(const QString &program, const QStringList &arguments, int) override
    {
        calls << (QStringList{program} + arguments).join(QLatin1Char(' '));
        CommandResult r;
        r.started = true;
        r.exitCode = 0;
        if (program == QLatin1String("blkid") && stick)
            r.standardOutput = "/dev/sda1: UUID=\"a\" TYPE=\"ext4\"\n/dev/sdb1: UUID=\"b\" TYPE=\"vfat\"\n";
        if (program == QLatin1String("mount")) {
            QFile f(mountsFile);
            if (f.open(QIODevice::Append))
                f.write("/dev/sdb1 /mnt vfat rw 0 0\n");
        }
        return r;
    }
};

} // namespace

class TestUsbTransfer : public QObject
{
    Q_OBJECT
    TestWorkDir *m_work = nullptr;
    QTemporaryDir *m_root = nullptr;
    FakeSystem m_sys;
    SysParam m_inForce;
    SysParam m_edit;
    int m_flushes = 0;

private slots:
    void initTestCase()
    {
        fillUiTextTable();
        gLanguage = 1; // the tables' texts are read before the first init()
        gWarnBox = new WarnBox;
        gChooseBox = new ChooseBox;
    }
    void init()
    {
        m_work = new TestWorkDir(TestWorkDir::Empty);
        m_root = new QTemporaryDir;
        setSystemPathRoot(m_root->path());
        QVERIFY(QDir().mkpath(m_root->filePath(QStringLiteral("mnt"))));
        m_sys = FakeSystem();
        m_sys.mountsFile = m_root->filePath(QStringLiteral("mounts"));
        QVERIFY(writeTestFile(m_sys.mountsFile, "/dev/sda1 / ext4 rw 0 0\n"));
        setMountsFilePath(m_sys.mountsFile);
        setCommandRunner(&m_sys);
        setAppClock([] { return QDateTime(QDate(2024, 3, 1), QTime(14, 5, 9)); });
        gShowW = 1920;
        gShowH = 1080;
        gLanguage = 1;
        gSysParam = &m_inForce;
        gSysParamEdit = &m_edit;
        m_flushes = 0;
        settingsHooks() = SettingsHooks();
        settingsHooks().flushAll = [this] { ++m_flushes; };
        gRunning = true;
        BoxTestPolicy::enable(1);
        BoxTestPolicy::clearShown();
    }
    void cleanup()
    {
        BoxTestPolicy::disable();
        setUpdateFileChooser(nullptr);
        setCopyChunkObserver(nullptr);
        setCommandRunner(nullptr);
        setMountsFilePath(QString());
        setSystemPathRoot(QString());
        setAppClock({});
        settingsHooks() = SettingsHooks();
        gSysParam = gSysParamEdit = nullptr;
        delete m_work;
        delete m_root;
    }

    void updateCopiesWithoutAShellAndRestartsOnlyAfterACopy_data()
    {
        QTest::addColumn<QString>("file");   // chosen on the disk
        QTest::addColumn<QString>("kind");   // of what the name is: "file", "none", "fifo", "device link"
        QTest::addColumn<QString>("target"); // what appears in the program folder, empty for nothing
        QTest::newRow("tar.xz") << "upd.tar.xz" << "file" << "newupdate.tar.xz";
        QTest::newRow(".tar.gz is tested first") << "a.tar.gz.rar" << "file" << "newupdate.tar.gz";
        QTest::newRow("zip is ignored") << "a.zip" << "file" << "";
        QTest::newRow("shell characters stay a name") << "a b;touch x.tar.gz" << "file" << "newupdate.tar.gz";
        QTest::newRow("missing file") << "gone.tar.gz" << "none" << "";
        QTest::newRow("FIFO without a writer") << "pipe.tar.gz" << "fifo" << "";
        QTest::newRow("link to a device") << "zero.tar.xz" << "device link" << "";
        QTest::newRow("link to a /proc file (size 0)") << "status.tar.gz" << "proc link" << "";
        QTest::newRow("file another thread appends to") << "growing.tar.gz" << "growing" << "";
        // A pending update of the target's name stays as it is, and no empty file ever lies under that
        // name, not even for a moment a power cut could catch.
        QTest::newRow("empty file") << "empty.tar.gz"
                                    << "empty"
                                    << "";
        QTest::newRow("empty file, an update pending") << "empty.tar.gz"
                                                       << "empty, update pending"
                                                       << "";
        QTest::newRow("link to a /proc file, an update pending") << "status.tar.gz"
                                                                 << "proc link, update pending"
                                                                 << "";
    }
    void updateCopiesWithoutAShellAndRestartsOnlyAfterACopy()
    {
        QFETCH(QString, file);
        QFETCH(QString, kind);
        QFETCH(QString, target);
        const QString chosen = mapSystemPath(QStringLiteral("/mnt/") + file);
        const QByteArray bytes = QByteArray(70000, 'u') + file.toUtf8();
        if (kind == QLatin1String("file"))
            QVERIFY(writeTestFile(chosen, bytes));
        if (kind == QLatin1String("device link"))
            QVERIFY(QFile::link(QStringLiteral("/dev/zero"), chosen));
        if (kind.startsWith(QLatin1String("proc link")))
            QVERIFY(QFile::link(QStringLiteral("/proc/self/status"), chosen));
        if (kind.startsWith(QLatin1String("empty")))
            QVERIFY(writeTestFile(chosen, QByteArray()));
        const bool pending = kind.endsWith(QLatin1String(", update pending"));
        const QByteArray pendingBytes("an update downloaded earlier, waiting for the next start");
        if (pending)
            QVERIFY(writeTestFile(QStringLiteral("newupdate.tar.gz"), pendingBytes));
        // Every name that appears in the program folder, whenever it appears.
        const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        QVERIFY(watch >= 0);
        QVERIFY(::inotify_add_watch(watch, ".", IN_CREATE | IN_MOVED_TO) >= 0);
        // Nobody writes to the FIFO: a copy must not wait for a writer. Should it block all the same,
        // a writer comes after 3 s to let the test end, and the row fails.
        std::atomic<bool> done{false};
        std::atomic<bool> rescued{false};
        std::atomic<int> appended{0};
        std::thread helper;
        if (kind == QLatin1String("fifo")) {
            QCOMPARE(::mkfifo(QFile::encodeName(chosen).constData(), 0600), 0);
            helper = std::thread([&done, &rescued, path = QFile::encodeName(chosen)] {
                for (int waited = 0; !done && waited < 3000; ++waited)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                if (done)
                    return;
                rescued = true;
                const int fd = ::open(path.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
                if (fd >= 0)
                    ::close(fd);
            });
        }
        // 32 MB, and 4 KiB more every millisecond while the update is copied.
        if (kind == QLatin1String("growing")) {
            QVERIFY(writeTestFile(chosen, QByteArray(32 << 20, 'g')));
            helper = std::thread([&done, &appended, path = QFile::encodeName(chosen)] {
                const int fd = ::open(path.constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
                const QByteArray more(4096, 'm');
                while (fd >= 0 && !done && ::write(fd, more.constData(), size_t(more.size())) > 0) {
                    ++appended;
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
                if (fd >= 0)
                    ::close(fd);
            });
            while (appended == 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        setUpdateFileChooser([chosen](QWidget *) { return chosen; });

        WizardParaWidget(nullptr).SlotUpdateApp();
        done = true;
        if (helper.joinable())
            helper.join();
        QVERIFY2(!rescued, "the copy waited for a writer of the FIFO");

        const bool restarted = !target.isEmpty();
        QCOMPARE(BoxTestPolicy::shownTexts(), (kind == QLatin1String("file")
                                                   ? QStringList{uiText(323)}
                                                   : QStringList{uiText(323), uiText(729)}));
        // Nothing else in the program folder: no "x.tar.gz" touched, no piece of a copy.
        QCOMPARE(QDir::current().entryList(QDir::Files | QDir::Hidden),
                 (restarted ? QStringList{target}
                  : pending ? QStringList{QStringLiteral("newupdate.tar.gz")}
                            : QStringList{}));
        if (restarted)
            QCOMPARE(readTestFile(target), bytes);
        if (pending)
            QCOMPARE(readTestFile(QStringLiteral("newupdate.tar.gz")), pendingBytes);
        QStringList appeared;
        alignas(inotify_event) char events[8192];
        for (ssize_t n; (n = ::read(watch, events, sizeof events)) > 0;) {
            for (ssize_t at = 0; at < n;) {
                const auto *event = reinterpret_cast<const inotify_event *>(events + at);
                if (event->len > 0)
                    appeared << QFile::decodeName(event->name);
                at += ssize_t(sizeof(inotify_event) + event->len);
            }
        }
        ::close(watch);
        if (!restarted)
            QCOMPARE(appeared.filter(QRegularExpression(QStringLiteral("^newupdate\\."))), QStringList());
        QCOMPARE(m_sys.calls.endsWith(QStringLiteral("reboot")), restarted);
        QCOMPARE(m_sys.calls.contains(QStringLiteral("sync")), restarted);
        QCOMPARE(m_flushes, restarted ? 1 : 0);
        QCOMPARE(gRunning.load(), !restarted); // a box that stays up keeps running
    }

    void exportEmptiesRawFramesOnlyAfterAVerifiedCopy_data()
    {
        QTest::addColumn<QString>("disk");
        QTest::addColumn<QString>("writer"); // what another thread does meanwhile to the running log
        QTest::addColumn<QList<int>>("answers");
        QTest::addColumn<QStringList>("shown");
        const QStringList done{uiText(324), uiText(147)};
        const QStringList failed{uiText(324), uiText(650)};
        QTest::newRow("exported") << "stick" << "none" << QList<int>{1} << done;
        QTest::newRow("log and a raw frame appended to") << "stick" << "appends" << QList<int>{1} << done;
        QTest::newRow("log truncated") << "stick" << "truncates" << QList<int>{1} << failed;
        QTest::newRow("log rewritten from its start") << "stick" << "rewrites" << QList<int>{1} << failed;
        QTest::newRow("log moved aside for a new one") << "stick" << "moves aside" << QList<int>{1} << failed;
        QTest::newRow("a plain file where the folder goes") << "file in the way" << "none" << QList<int>{1}
                                                            << failed;
        QTest::newRow("no disk, declined")
            << "none" << "none" << QList<int>{1, 0} << QStringList{uiText(324), uiText(320)};
    }
    void exportEmptiesRawFramesOnlyAfterAVerifiedCopy()
    {
        QFETCH(QString, disk);
        QFETCH(QString, writer);
        QFETCH(QList<int>, answers);
        QFETCH(QStringList, shown);
        gCameraCount = 3;
        gDetectSlotCount = 2;
        QMap<QString, QByteArray> program{{"PARAM.db", "param"},
                                          {"alarmimage/1/NG/x.jpg", QByteArray(9000, 'n')}};
        for (int c = 1; c <= 3; ++c) {
            for (int d = 1; d <= 3; ++d) {
                for (int i = 0; i < 2; ++i)
                    program[QStringLiteral("originalimage/cammer%1%2/%3.bmp").arg(c).arg(d).arg(i)] =
                        QByteArray(5000 + c * 100 + d * 10 + i, char('a' + c + d + i));
            }
        }
        // 3 MB of log lines (a few pieces to copy), appended to a line at a time; so is a raw frame of a
        // slot in use.
        const QByteArray line("14:05:09.123 I io: input word 0x0000 read\n");
        const QStringList grown{QStringLiteral("cnt_net/workspace/LOG/log.txt"),
                                QStringLiteral("originalimage/cammer11/0.bmp")};
        program[grown[0]] = program[grown[1]] = line.repeated((3 << 20) / line.size());
        for (auto it = program.cbegin(); it != program.cend(); ++it)
            QVERIFY(writeTestFile(it.key(), it.value()));
        const QByteArray atStart = program.value(grown[0]);
        // The files the other thread works on: none, the log, or the log and the raw frame.
        const int worked = writer == QLatin1String("appends") ? 2 : writer != QLatin1String("none");
        for (int i = 0; i < worked; ++i)
            program.remove(grown[i]); // checked below
        // Special files in the program folder are left out; they neither stop nor fail the export.
        QCOMPARE(::mkfifo("pipe", 0600), 0);
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), QStringLiteral("zero")));
        const QString stampFolder = mapSystemPath(QStringLiteral("/mnt/2024-03-01_14.05.09"));
        if (disk == QLatin1String("file in the way"))
            QVERIFY(writeTestFile(stampFolder, "not a folder"));
        m_sys.stick = disk != QLatin1String("none");
        BoxTestPolicy::queueAnswers(answers);
        // After each piece of a grown file the copy waits until the other thread has worked on the file
        // once more: the change falls inside the copy however busy the machine is. A failed write shows in
        // the checks that follow the export.
        const bool truncates = writer == QLatin1String("truncates");
        const bool movesAside = writer == QLatin1String("moves aside");
        std::atomic<bool> finished{false};
        std::atomic<int> asked{0};
        std::atomic<int> served{0};
        std::atomic<int> askedFile{0};
        setCopyChunkObserver([&](const QString &source) {
            const int file = grown.indexOf(QDir::current().relativeFilePath(source));
            if (file < 0 || file >= worked)
                return;
            askedFile = file;
            const int ask = ++asked;
            for (int waited = 0; served < ask && waited < 50000; ++waited)
                std::this_thread::sleep_for(std::chrono::microseconds(100));
        });
        const auto put = [](const QByteArray &name, int flags, const QByteArray &bytes) {
            const int fd = ::open(name.constData(), O_WRONLY | O_CLOEXEC | flags, 0644);
            const ssize_t written = ::write(fd, bytes.constData(), size_t(bytes.size()));
            ::close(fd);
            return written;
        };
        std::thread other([&] {
            bool moved = false;
            for (qint64 size = atStart.size(), n = 0; !finished; ++n) {
                if (served == asked) {
                    std::this_thread::sleep_for(std::chrono::microseconds(50));
                    continue;
                }
                const QByteArray name = QFile::encodeName(grown[askedFile]);
                if (truncates)
                    ::truncate(name.constData(), size -= line.size());
                if (writer == QLatin1String("rewrites"))
                    put(name, 0, QByteArray::number(n));
                if (movesAside && !moved)
                    moved = put(name, O_APPEND, line) > 0 && ::rename(name, name + ".moved") == 0;
                if (!truncates)
                    put(name, O_APPEND | O_CREAT, line);
                served = asked.load();
            }
        });

        WizardParaWidget(nullptr).SlotExportData();
        finished = true;
        other.join();
        QCOMPARE(QFileInfo::exists(grown[0] + QStringLiteral(".moved")), movesAside);

        QCOMPARE(BoxTestPolicy::shownTexts(), shown);
        const bool exported = shown.last() == uiText(147);
        for (auto it = program.cbegin(); it != program.cend(); ++it) {
            // Slot 3 is not in use: its raw frames stay.
            const bool emptied = exported && it.key().startsWith(QLatin1String("originalimage/")) &&
                                 !it.key().contains(QLatin1String("3/"));
            QCOMPARE(QFileInfo::exists(it.key()), !emptied);
            if (exported)
                QCOMPARE(readTestFile(stampFolder + QStringLiteral("/bin-DOD/") + it.key()), it.value());
        }
        for (int c = 1; c <= 3; ++c)
            QVERIFY(QFileInfo(QStringLiteral("originalimage/cammer%1%2").arg(c).arg(1)).isDir());
        // A file that grew is exported as it stood when its copy began: whole lines, at least what it
        // held before the export, less than it holds now; a raw frame that grew stays.
        for (const QString &name : (exported && writer != QLatin1String("none") ? grown : QStringList())) {
            const QByteArray now = readTestFile(name);
            const QByteArray copy = readTestFile(stampFolder + QStringLiteral("/bin-DOD/") + name);
            QVERIFY2(copy.size() >= atStart.size() && copy.size() < now.size(), qPrintable(name));
            QVERIFY(now.startsWith(copy) && copy.endsWith('\n'));
        }
        if (exported) {
            const QStringList copiedNames =
                QDir(stampFolder + QStringLiteral("/bin-DOD"))
                    .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
            QVERIFY(copiedNames.contains(QStringLiteral("PARAM.db")));
            QVERIFY(!copiedNames.contains(QStringLiteral("pipe")) &&
                    !copiedNames.contains(QStringLiteral("zero")));
        }
        QCOMPARE(m_sys.calls.contains(QStringLiteral("umount /mnt")), disk != QLatin1String("none"));
        if (disk == QLatin1String("file in the way"))
            QCOMPARE(readTestFile(stampFolder), QByteArray("not a folder"));
    }
};

QTEST_MAIN(TestUsbTransfer)
#include "tst_usbtransfer.moc"

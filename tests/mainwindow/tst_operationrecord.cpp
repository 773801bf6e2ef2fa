// The operation record as the operator and the report link see it: every line stored whole with its
// time and level, relayed before it is written, and one file per day that a roll-over never loses.

#include "boxtestpolicy.h"
#include "clock.h"
#include "commandrunner.h"
#include "databasejournal.h"
#include "devewizard.h"
#include "hotjournal.h"
#include "operationrecord.h"
#include "statisticsfixture.h"
#include "testfiles.h"
#include "testworkdir.h"
#include "uitexttable.h"

#include <QtTest>

#include <csignal>
#include <sys/resource.h>

namespace {

class NullRunner : public CommandRunner
{
public:
    CommandResult run(const QString &, const QStringList &, int) override { return {}; }
};

QDateTime day(int d, const QTime &time = QTime(10, 11, 12))
{
    return QDateTime(QDate(2026, 12, d), time);
}

// The rows `select` returns from `path`, each as its columns joined by "|".
QStringList joinedRows(const QString &path, const QString &select)
{
    QStringList out;
    for (const QVariantList &row : selectRows(path, select)) {
        QStringList columns;
        for (const QVariant &value : row)
            columns << value.toString();
        out << columns.join('|');
    }
    return out;
}

// The lines of table RECORD in `path` as "time|level|remarks", read through a connection of our own.
QStringList lines(const QString &path)
{
    return joinedRows(path, QStringLiteral("select recordtime, recordpassword, remarks from RECORD"));
}

// The indexes on RECORD's columns in `path`, as "<index>(<column>)".
QStringList recordIndexes(const QString &path)
{
    return joinedRows(path, QStringLiteral("select i.name || '(' || c.name || ')' from sqlite_master i, "
                                           "pragma_index_info(i.name) c "
                                           "where i.type='index' and i.tbl_name='RECORD'"));
}

QByteArray contentOf(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestOperationRecord : public QObject
{
    Q_OBJECT
    NullRunner runner;
    QDateTime now;

private slots:
    void initTestCase()
    {
        fillUiTextTable();
        BoxTestPolicy::enable(0); // keep the serials: no "Save SN" lines among the tested ones
        setCommandRunner(&runner);
        setAppClock([this] { return now; });
    }
    void init() { now = day(7); }
    void cleanupTestCase()
    {
        setAppClock({});
        setCommandRunner(nullptr);
        setRecordOperateRelay({});
    }

    void lineStoredWholeAndRelayedFirst_data()
    {
        QTest::addColumn<QString>("remarks");
        QTest::addColumn<int>("level");
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("levelText");
        QTest::newRow("settings label with quotes") << "Modify: don't' 3->4" << 0 << 1 << "Unlogged";
        QTest::newRow("camera serial") << "Save SN 0: A'1\"2" << 1 << 0 << "初级用户";
        QTest::newRow("statement in a group name") << "x'); DROP TABLE RECORD; --" << 2 << 3 << "高級ユーザー";
        QTest::newRow("unknown level") << "" << 5 << 2 << "未登錄";
    }
    void lineStoredWholeAndRelayedFirst()
    {
        QFETCH(QString, remarks);
        QFETCH(int, level);
        QFETCH(int, language);
        QFETCH(QString, levelText);
        TestWorkDir dir;
        DeVeWizard window;
        const int before = lines(QStringLiteral("RECORD.db")).size();
        QJsonObject relayed;
        int rowsWhenRelayed = -1;
        setRecordOperateRelay([&](const QJsonObject &line) {
            relayed = line;
            rowsWhenRelayed = lines(QStringLiteral("RECORD.db")).size();
        });
        const int oldLanguage = gLanguage;
        gLanguage = language;
        window.loginLevel = level;
        window.InsertRecord(remarks);
        gLanguage = oldLanguage;
        setRecordOperateRelay({});
        const QStringList after = lines(QStringLiteral("RECORD.db"));
        QCOMPARE(after.size(), before + 1);
        QCOMPARE(after.last(), QStringLiteral("10.11.12|%1|%2").arg(levelText, remarks));
        QCOMPARE(rowsWhenRelayed, before);
        QCOMPARE(relayed.value("recordtime").toString(), QStringLiteral("10.11.12"));
        QCOMPARE(relayed.value("recordpassword").toString(), levelText);
        QCOMPARE(relayed.value("remarks").toString(), remarks);
    }

    // A full disk: the lines that do not fit wait in memory and reach the file in their order once
    // there is room again, at the next line or at the minute's date check; none is lost. A quit while
    // the disk is still full tries them once more and counts the lost ones in the log.
    void fullDiskHoldsLinesUntilThereIsRoom_data()
    {
        QTest::addColumn<QString>("then");
        QTest::addColumn<int>("count"); // lines sent while the disk is full
        QTest::newRow("written with the next line") << "next line" << 5;
        QTest::newRow("written by the date check") << "date check" << 5;
        QTest::newRow("counted at quit") << "quit" << 5;
        // 1,000 wait in memory; the 5 oldest were dropped for room and are lost all the same.
        QTest::newRow("more than wait in memory, counted at quit") << "quit" << 1005;
        // Not a full disk: another process holds the file while it is opened again.
        QTest::newRow("locked, written with the next line") << "locked" << 1;
    }
    void fullDiskHoldsLinesUntilThereIsRoom()
    {
        QFETCH(QString, then);
        QFETCH(int, count);
        TestWorkDir dir;
        auto window = std::make_unique<DeVeWizard>();
        window->loginLevel = 0;
        const QStringList before = lines(QStringLiteral("RECORD.db"));
        if (then == QLatin1String("locked")) {
            // Closed as a flush before a restart leaves it; the line opens it again and meets the lock.
            window->recordDb.close();
            const long locker = holdLockedFor(QStringLiteral("RECORD.db"), 8000);
            QVERIFY(locker > 0);
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral(
                                                   "^record line not written, kept to write "
                                                   "later \\( 1 waiting\\): database is locked")));
            window->InsertRecord(QStringLiteral("while locked"));
            QVERIFY(endChild(locker));
            window->InsertRecord(QStringLiteral("unlocked"));
            const QStringList expected{QStringLiteral("10.11.12|%1|while locked").arg(uiText(156)),
                                       QStringLiteral("10.11.12|%1|unlocked").arg(uiText(156))};
            QCOMPARE(lines(QStringLiteral("RECORD.db")), before + expected);
            return;
        }
        const QString padding(3000, QLatin1Char('.'));
        rlimit saved{};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &saved) == 0);
        const auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
        rlimit full = saved;
        full.rlim_cur = rlim_t(QFileInfo(QStringLiteral("RECORD.db")).size());
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &full) == 0);
        for (int n = 1; n <= count; ++n)
            window->InsertRecord(QStringLiteral("alarm %1 ").arg(n) + padding);
        const QStringList whileFull = lines(QStringLiteral("RECORD.db"));
        if (then == QLatin1String("quit")) {
            const QRegularExpression lost(
                QStringLiteral("^%1 record lines lost at quit: RECORD.db could not take them \\(.+\\)$")
                    .arg(count));
            QTest::ignoreMessage(QtWarningMsg, lost);
            window.reset();
        }
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &saved) == 0);
        ::signal(SIGXFSZ, oldHandler);
        QVERIFY2(whileFull.size() < before.size() + 5, "the disk was not full");

        QStringList expected = before;
        if (then == QLatin1String("next line"))
            window->InsertRecord(QStringLiteral("room again"));
        if (then == QLatin1String("date check"))
            window->SlotCheckDate();
        for (int n = 1; n <= 5 && window; ++n)
            expected << QStringLiteral("10.11.12|%1|alarm %2 %3").arg(uiText(156)).arg(n).arg(padding);
        if (then == QLatin1String("next line"))
            expected << QStringLiteral("10.11.12|%1|room again").arg(uiText(156));
        QCOMPARE(lines(QStringLiteral("RECORD.db")), expected);
    }

    // Next day: the day's file moves into ./RECORD under its date, a fresh file takes its place, and an
    // archive of the same date (clock set back) is never overwritten. A journal a write cut short left
    // beside the day's file goes with it: the archive keeps every committed line, and the fresh file
    // never meets it.
    void rollOverKeepsEveryDay_data()
    {
        QTest::addColumn<bool>("journal");
        QTest::newRow("the day's file alone") << false;
        QTest::newRow("the day's file with a hot journal") << true;
    }
    void rollOverKeepsEveryDay()
    {
        QFETCH(bool, journal);
        TestWorkDir dir;
        QVERIFY(writeTestFile(QStringLiteral("RECORD/2026-12-07.db"), "an older archive of this date"));
        DeVeWizard window;
        window.InsertRecord(QStringLiteral("first day"));
        if (journal) {
            window.recordDb.close(); // the writer below is the only one
            QString why;
            QVERIFY2(
                leaveHotJournal(QStringLiteral("RECORD.db"), {QStringLiteral("delete from RECORD")}, &why),
                qPrintable(why));
        }
        now = day(8, QTime(0, 0, 30));
        window.SlotCheckDate();
        QCOMPARE(contentOf(QStringLiteral("RECORD/2026-12-07.db")), QByteArray("an older archive of this date"));
        QCOMPARE(databaseCompanions(QStringLiteral("RECORD.db")), QStringList());
        QCOMPARE(QFile::exists(QStringLiteral("RECORD/2026-12-07_1.db-journal")), journal);
        // Opened read-write, as a reader of the archive may open it: the journal is played back.
        QVERIFY(execOnDatabase(QStringLiteral("RECORD/2026-12-07_1.db"),
                               QStringLiteral("select 1 from RECORD")));
        const QStringList archived = lines(QStringLiteral("RECORD/2026-12-07_1.db"));
        QCOMPARE(archived.size(), 2);
        QCOMPARE(recordIndexes(QStringLiteral("RECORD.db")), QStringList{"RECORD_recordtime(recordtime)"});
        QVERIFY(archived.last().endsWith(QLatin1String("|first day")));
        QVERIFY(lines(QStringLiteral("RECORD.db")).isEmpty());
        QCOMPARE(contentOf(QStringLiteral("time.txt")), QByteArray("2026-12-08"));
        window.InsertRecord(QStringLiteral("second day"));
        QCOMPARE(lines(QStringLiteral("RECORD.db")).size(), 1);
        // Clearing empties the running day only.
        window.ClearRecord();
        QVERIFY(lines(QStringLiteral("RECORD.db")).isEmpty());
        QCOMPARE(lines(QStringLiteral("RECORD/2026-12-07_1.db")).size(), 2);
    }

    // RECORD.db gone during the day: the roll-over makes the new day's file all the same, so the next
    // lines are kept without a restart.
    void missingRecordIsMadeAgainAtTheRollOver()
    {
        TestWorkDir dir;
        DeVeWizard window;
        window.InsertRecord(QStringLiteral("first day"));
        window.recordDb.close();
        QVERIFY(QFile::remove(QStringLiteral("RECORD.db")));
        now = day(8, QTime(0, 0, 30));
        window.SlotCheckDate();
        QVERIFY(QFile::exists(QStringLiteral("RECORD.db")));
        QCOMPARE(contentOf(QStringLiteral("time.txt")), QByteArray("2026-12-08"));
        window.InsertRecord(QStringLiteral("second day"));
        QCOMPARE(lines(QStringLiteral("RECORD.db")), QStringList{QStringLiteral("00.00.30|未登录|second day")});
    }

    // The archive cannot take the file: the day's lines stay in RECORD.db, which keeps taking lines,
    // and the date is not moved on.
    void blockedArchiveKeepsTheRecordWorking_data()
    {
        QTest::addColumn<bool>("journalBlocked");
        QTest::newRow("a plain file where the archive folder should be") << false;
        // The file could move, its journal could not follow: the file comes back beside it.
        QTest::newRow("a folder at the archive's journal name") << true;
    }
    void blockedArchiveKeepsTheRecordWorking()
    {
        QFETCH(bool, journalBlocked);
        TestWorkDir dir;
        if (journalBlocked)
            QVERIFY(QDir().mkpath(QStringLiteral("RECORD/2026-12-07.db-journal/x")));
        else
            QVERIFY(writeTestFile(QStringLiteral("RECORD"), "not a folder"));
        DeVeWizard window;
        window.InsertRecord(QStringLiteral("before midnight"));
        window.recordDb.close();
        // A journal of zeros (SQLite ignores it) that must go wherever the file goes.
        if (journalBlocked)
            QVERIFY(writeTestFile(QStringLiteral("RECORD.db-journal"), QByteArray(512, '\0')));
        now = day(8);
        window.SlotCheckDate();
        QVERIFY(!journalBlocked || QFile::exists(QStringLiteral("RECORD.db-journal")));
        QVERIFY(!QFile::exists(QStringLiteral("RECORD/2026-12-07.db")));
        window.InsertRecord(QStringLiteral("after midnight"));
        const QStringList kept = lines(QStringLiteral("RECORD.db"));
        QCOMPARE(kept.size(), 3);
        QVERIFY(kept.last().endsWith(QLatin1String("|after midnight")));
        QCOMPARE(contentOf(QStringLiteral("time.txt")), QByteArray("2026-12-07"));
    }

    // Without the template the new day's table is made anew; a flushed record reopens on the next line.
    void missingTemplateAndFlushedDatabase()
    {
        TestWorkDir dir;
        QVERIFY(QFile::remove(QStringLiteral("RECORDNULL.db")));
        DeVeWizard window;
        now = day(8);
        window.SlotCheckDate();
        QVERIFY(QFile::exists(QStringLiteral("RECORD/2026-12-07.db")));
        // Made anew, the day's table has the time index the template gives it.
        QCOMPARE(recordIndexes(QStringLiteral("RECORD.db")), QStringList{"RECORD_recordtime(recordtime)"});
        window.FLushAll();
        QVERIFY(!window.paramDb.isOpen() && !window.snDb.isOpen() && !window.recordDb.isOpen());
        window.InsertRecord(QStringLiteral("after the flush"));
        QCOMPARE(lines(QStringLiteral("RECORD.db")), QStringList{QStringLiteral("10.11.12|未登录|after the flush")});
    }

    // "time.txt" at start: an old date rolls the left-over file over at once; anything that is not a
    // date is replaced by today and names no file.
    void recordDateAtStart_data()
    {
        QTest::addColumn<QByteArray>("timeTxt");
        QTest::addColumn<QString>("archive");
        QTest::newRow("days off") << QByteArray("2026-12-01") << "RECORD/2026-12-01.db";
        QTest::newRow("path") << QByteArray("../../2026-12-01") << "";
        QTest::newRow("no such day") << QByteArray("2026-02-30") << "";
        QTest::newRow("empty") << QByteArray() << "";
    }
    void recordDateAtStart()
    {
        QFETCH(QByteArray, timeTxt);
        QFETCH(QString, archive);
        TestWorkDir dir;
        QVERIFY(writeTestFile(QStringLiteral("time.txt"), timeTxt));
        QVERIFY(execOnDatabase(QStringLiteral("RECORD.db"),
                               QStringLiteral("insert into RECORD values ('23.59.00', 'x', 'left over')")));
        DeVeWizard window;
        QCOMPARE(window.recordDate, QStringLiteral("2026-12-07"));
        QCOMPARE(contentOf(QStringLiteral("time.txt")), QByteArray("2026-12-07"));
        QCOMPARE(QDir(QStringLiteral("RECORD")).entryList(QDir::Files), archive.isEmpty() ? QStringList()
                                                                           : QStringList{QFileInfo(archive).fileName()});
        QCOMPARE(lines(QStringLiteral("RECORD.db")).size(), archive.isEmpty() ? 2 : 1);
        if (!archive.isEmpty())
            QCOMPARE(lines(archive), QStringList{QStringLiteral("23.59.00|x|left over")});
    }
};

QTEST_MAIN(TestOperationRecord)
#include "tst_operationrecord.moc"

// What the main window's constructor does with the databases of the working directory, what a start
// leaves behind, and the login and screen timers.

#include "boxtestpolicy.h"
#include "cameraregistry.h"
#include "cammerwidget.h"
#include "commandrunner.h"
#include "databaserestore.h"
#include "devewizard.h"
#include "databasejournal.h"
#include "drawroiwidget.h"
#include "hotjournal.h"
#include "imagesize.h"
#include "mainwindowglobals.h"
#include "pagehooks.h"
#include "passwordbox.h"
#include "resstatistics.h"
#include "simulatecamera.h"
#include "statisticsfixture.h"
#include "startup.h"
#include "sysparam.h"
#include "systemhelpers.h"
#include "temperaturechartdata.h"
#include "testfiles.h"
#include "testworkdir.h"
#include "uitexttable.h"
#include "savefailimagethread.h"
#include "widgetchangecamera.h"
#include "wizardparawidget.h"

#include <QAbstractButton>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlQuery>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

// Records every command; "cp -f <from> <to>" is carried out (into a folder when <to> ends with "/"),
// so that the restored file can be checked; everything else is only recorded.
class RecordingRunner : public CommandRunner
{
public:
    QStringList calls;
    std::function<void(const QString &program)> onRun; // called before a command is recorded
    CommandResult run(const QString &program, const QStringList &arguments, int) override
    {
        if (onRun)
            onRun(program);
        calls << (QStringList{program} + arguments).join(QLatin1Char(' '));
        if (program == QLatin1String("cp") && arguments.size() == 3) {
            QString to = arguments.at(2);
            if (to.endsWith(QLatin1Char('/')))
                to += QFileInfo(arguments.at(1)).fileName();
            QFile::remove(to);
            QFile::copy(arguments.at(1), to);
        }
        CommandResult result;
        result.started = true;
        result.exitCode = 0;
        return result;
    }
};

// An industrial back-end with real cameras that open ("CAM-00001", "CAM-00002", ...), all served
// from the folder "simcam/1".
class RealCameras : public SimulateCamera
{
public:
    explicit RealCameras(int count)
        : SimulateCamera({0, QStringLiteral("simulateCamera_IID"), QStringLiteral("simcam/1")}), count(count)
    {
    }
    QString getIID() const override { return QStringLiteral("mindCamera_IID"); }
    QList<CameraDeviceInfo> enumerate() override
    {
        QList<CameraDeviceInfo> found;
        for (int i = 0; i < count; ++i)
            found.append({i, getIID(), QStringLiteral("CAM-0000%1").arg(i + 1)});
        return found;
    }
    CameraInterface *create(const CameraDeviceInfo &) override { return new RealCameras(count); }

private:
    int count;
};

enum Setup
{
    Shipped,
    NoParam,
    NoParamNoDefault,
    DamagedParam,
    ParamWithoutTable,
    ParamWithoutRegionTable,
    ParamWithoutFirstRegionTable,
    ParamWithoutLastRegionTable,
    ParamWithoutRows,
    ParamPageOverwritten,
    NoSn,
    NoSnNoDefault,
    NoRecord,
    DamagedParamDamagedDefault
};

// What a write cut short left of a database at the start.
enum JournalSetup
{
    HotJournal,            // the writer killed in a transaction that reached the file
    HotJournalThenReset,   // the same, and the factory reset's script copies the shipped file over it
    ShippedBesideJournal,  // an earlier start put the shipped copy beside the torn file's journal
    DamagedWithLeftovers,  // not a database, with a journal SQLite leaves in place
    LockedAtStart,         // a writer beside the box holds the file longer than the start waits
    GarbageLastPage,       // a failing disk wrote over the file's last page, past its first row
    GarbageMiddlePage,     // ... over a page in the middle of the file
    ShippedThenUpdate,     // the shipped copy beside a torn file's journal, and an update pending
    MissingBesideJournal,  // the file gone, its hot journal left
    EmptyBesideJournal,    // the file cut to nothing beside its hot journal
    HotJournalNoRoom,      // a hot journal met first by a start under a file size limit (4 blocks)
    DirectoryAtJournal,    // a directory at the journal's path
    LinkToZeroAtJournal,   // a link to /dev/zero at the journal's path
    DanglingLinkAtJournal  // a link that leads nowhere at the journal's path
};

// The latched-alarm file as the box writes it.
QByteArray latchFile(const char *cameras, int slot, int moldSide)
{
    return QStringLiteral("{\"cameras\": %1, \"slot\": %2, \"currentSlot\": %2, \"moldSide\": %3, "
                          "\"time\": \"2026-12-07 06:15:00\"}")
        .arg(QLatin1String(cameras))
        .arg(slot)
        .arg(moldSide)
        .toUtf8();
}

// Overwrites the first page of `table`'s tree in the SQLite file `file` with bytes that are no page,
// as a failing disk or a cut write leaves it.
bool overwriteTablePage(const QString &file, const QString &table)
{
    int root = 0;
    int pageSize = 0;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("pagelook"));
        db.setDatabaseName(file);
        if (db.open()) {
            QSqlQuery q(db);
            if (q.exec(QStringLiteral("PRAGMA page_size")) && q.next())
                pageSize = q.value(0).toInt();
            q.prepare(QStringLiteral("select rootpage from sqlite_master where name=?"));
            q.addBindValue(table);
            if (q.exec() && q.next())
                root = q.value(0).toInt();
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("pagelook"));
    QFile f(file);
    if (root < 2 || pageSize <= 0 || !f.open(QIODevice::ReadWrite) || !f.seek(qint64(root - 1) * pageSize))
        return false;
    return f.write(QByteArray(pageSize, '\x5a')) == pageSize;
}

// Overwrites page `page` (counted from 1; 0 for the last one, -1 for the one in the middle) of the
// SQLite file `file` with bytes that are no page.
bool overwritePage(const QString &file, int page)
{
    const QList<QVariantList> size =
        selectRows(file, QStringLiteral("select page_size, page_count from pragma_page_size, "
                                        "pragma_page_count"));
    const int pageSize = size.value(0).value(0).toInt();
    const int pages = size.value(0).value(1).toInt();
    const int at = page > 0 ? page : page == 0 ? pages : pages / 2 + 1;
    QFile f(file);
    if (pageSize <= 0 || at < 2 || at > pages || !f.open(QIODevice::ReadWrite) ||
        !f.seek(qint64(at - 1) * pageSize))
        return false;
    return f.write(QByteArray(pageSize, '\x5a')) == pageSize;
}

// SQLite's own verdict on `file`: "ok" when every page reads.
QString quickCheck(const QString &file)
{
    return selectRows(file, QStringLiteral("PRAGMA quick_check")).value(0).value(0).toString();
}

} // namespace

class TestDeVeWizard : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        fillUiTextTable();
        BoxTestPolicy::enable(1);
    }
    void init()
    {
        SimulateCamera::setManualStepping(true);
        BoxTestPolicy::clearShown();
        setCommandRunner(&runner);
        runner.calls.clear();
        runner.onRun = nullptr;
    }
    void cleanup()
    {
        SimulateCamera::setManualStepping(false);
        clearCameraBackends();
        setCommandRunner(nullptr);
    }

    void databasesAtStart_data()
    {
        QTest::addColumn<int>("setup");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("commands"); // expected in a row, "|" between them
        QTest::addColumn<int>("messageRow");
        QTest::addColumn<bool>("goodAfter"); // the file is a database with its table afterwards
        const QString param = QStringLiteral("cp -f ./paraGroup/default/PARAM.db ./|sync|reboot");
        QTest::newRow("shipped") << int(Shipped) << "PARAM.db" << "" << -1 << true;
        QTest::newRow("no PARAM.db") << int(NoParam) << "PARAM.db" << param << 160 << true;
        QTest::newRow("no PARAM.db, no default") << int(NoParamNoDefault) << "PARAM.db"
                                                 << "cp -f ./paraGroup/default/PARAM.db ./|sync" << 160 << false;
        QTest::newRow("PARAM.db not a database") << int(DamagedParam) << "PARAM.db" << param << 160 << true;
        QTest::newRow("PARAM.db without its table") << int(ParamWithoutTable) << "PARAM.db" << param << 160 << true;
        // Camera 4's regions gone: it would pass every mould. Restored as any damaged PARAM.db.
        QTest::newRow("PARAM.db without the region table of camera 4")
            << int(ParamWithoutRegionTable) << "PARAM.db" << param << 160 << true;
        QTest::newRow("PARAM.db without the region table of camera 1")
            << int(ParamWithoutFirstRegionTable) << "PARAM.db" << param << 160 << true;
        QTest::newRow("PARAM.db without the region table of camera 8")
            << int(ParamWithoutLastRegionTable) << "PARAM.db" << param << 160 << true;
        QTest::newRow("PARAM.db with no parameter rows")
            << int(ParamWithoutRows) << "PARAM.db" << param << 160 << true;
        // A page of a table nothing reads at start: only SQLite's own check finds it.
        QTest::newRow("PARAM.db with a page overwritten")
            << int(ParamPageOverwritten) << "PARAM.db" << param << 160 << true;
        QTest::newRow("no SN.db") << int(NoSn) << "SN.db" << "cp -f ./paraGroup/default/SN.db ./|sync|reboot"
                                  << 160 << true;
        QTest::newRow("no SN.db, no default") << int(NoSnNoDefault) << "SN.db"
                                              << "cp -f ./paraGroup/default/SN.db ./|sync" << 160 << false;
        QTest::newRow("no RECORD.db") << int(NoRecord) << "RECORD.db" << "cp -f RECORDNULL.db RECORD.db|sync|reboot"
                                      << 135 << true;
        // The operator's file is aside: whatever the copy turns out to be, the start is held.
        QTest::newRow("PARAM.db not a database, its shipped copy fails its check")
            << int(DamagedParamDamagedDefault) << "PARAM.db" << "cp -f ./paraGroup/default/PARAM.db ./|sync"
            << 160 << false;
    }

    // A bad database is restored and the box restarts only when the restored file is good; a damaged
    // one is kept aside; nothing ever creates an empty database in its place.
    void databasesAtStart()
    {
        QFETCH(int, setup);
        QFETCH(QString, file);
        QFETCH(QString, commands);
        QFETCH(int, messageRow);
        QFETCH(bool, goodAfter);
        TestWorkDir dir;
        const QByteArray garbage("this is no database, it was cut by a power loss\n");
        switch (setup) {
        case NoParamNoDefault:
            QVERIFY(QFile::remove(QStringLiteral("paraGroup/default/PARAM.db")));
            Q_FALLTHROUGH();
        case NoParam:
            QVERIFY(QFile::remove(QStringLiteral("PARAM.db")));
            break;
        case DamagedParamDamagedDefault:
            QVERIFY(execOnDatabase(QStringLiteral("paraGroup/default/PARAM.db"),
                                   QStringLiteral("drop table cammer3")));
            Q_FALLTHROUGH();
        case DamagedParam:
            QVERIFY(writeTestFile(QStringLiteral("PARAM.db"), garbage));
            break;
        case ParamWithoutTable:
            QVERIFY(execOnDatabase(QStringLiteral("PARAM.db"), QStringLiteral("drop table sysparam")));
            break;
        case ParamWithoutRegionTable:
            QVERIFY(execOnDatabase(QStringLiteral("PARAM.db"), QStringLiteral("drop table cammer3")));
            break;
        case ParamWithoutFirstRegionTable:
            QVERIFY(execOnDatabase(QStringLiteral("PARAM.db"), QStringLiteral("drop table cammer0")));
            break;
        case ParamWithoutLastRegionTable:
            QVERIFY(execOnDatabase(QStringLiteral("PARAM.db"), QStringLiteral("drop table cammer7")));
            break;
        case ParamWithoutRows:
            QVERIFY(execOnDatabase(QStringLiteral("PARAM.db"), QStringLiteral("delete from sysparam")));
            break;
        case ParamPageOverwritten: {
            QVERIFY(
                execOnDatabase(QStringLiteral("PARAM.db"), QStringLiteral("create table notes (n TEXT)")));
            QVERIFY(execOnDatabase(QStringLiteral("PARAM.db"),
                                   QStringLiteral("insert into notes values('kept')")));
            QVERIFY(overwriteTablePage(QStringLiteral("PARAM.db"), QStringLiteral("notes")));
            break;
        }
        case NoSnNoDefault:
            QVERIFY(QFile::remove(QStringLiteral("paraGroup/default/SN.db")));
            Q_FALLTHROUGH();
        case NoSn:
            QVERIFY(QFile::remove(QStringLiteral("SN.db")));
            break;
        case NoRecord:
            QVERIFY(QFile::remove(QStringLiteral("RECORD.db")));
            break;
        }
        const QByteArray before = readAll(file);
        // Whether the restore's marker was on disk when the copy ran.
        bool markedAtCopy = false;
        runner.onRun = [&](const QString &program) {
            if (program == QLatin1String("cp"))
                markedAtCopy = QFile::exists(paramRestoredMarkerPath());
        };
        // Built and destroyed twice in one process: the second start sees what the first left.
        for (int pass = 0; pass < 2; ++pass) {
            DeVeWizard window;
            if (pass == 0 && !commands.isEmpty()) {
                const QStringList expected = commands.split(QLatin1Char('|'));
                const int at = runner.calls.indexOf(expected.first());
                QVERIFY2(at >= 0, qPrintable(runner.calls.join(QLatin1Char('\n'))));
                QCOMPARE(runner.calls.mid(at, expected.size()), expected);
            }
            const QSqlDatabase &db = file == QLatin1String("PARAM.db") ? window.paramDb
                                     : file == QLatin1String("SN.db")  ? window.snDb
                                                                       : window.recordDb;
            QCOMPARE(db.isOpen(), goodAfter);
            // A PARAM.db left closed leaves no region table readable: every camera is held from the
            // start (never released), not judged with no regions.
            const quint32 everyCamera = (1u << gCameraCount) - 1;
            QCOMPARE(window.machineCycle->heldCameras,
                     file == QLatin1String("PARAM.db") && !goodAfter ? everyCamera : 0u);
            // A restored PARAM.db has empty region tables: this start and the next one begin with
            // detection stopped and the clamp held, until the operator starts detection. Marked
            // before the copy, so also when the copy is missing or fails its check.
            const bool restored = file == QLatin1String("PARAM.db") && !commands.isEmpty();
            QCOMPARE(QFile::exists(QStringLiteral("PARAM.db.restored")), restored);
            QCOMPARE(markedAtCopy, restored);
            QCOMPARE(window.runState, restored ? 3 : 1);
        }
        QCOMPARE(runner.calls.contains(QStringLiteral("reboot")), !commands.isEmpty() && goodAfter);
        if (messageRow >= 0)
            QVERIFY(BoxTestPolicy::shownTexts().contains(uiText(messageRow, 1)) ||
                    BoxTestPolicy::shownTexts().contains(uiText(messageRow, 0)));
        else
            QVERIFY(BoxTestPolicy::shownTexts().filter(uiText(160, 1)).isEmpty());
        const DatabaseState after =
            file == QLatin1String("PARAM.db")
                ? inspectDatabase(file, paramDatabaseCheck())
                : inspectDatabase(file, file == QLatin1String("RECORD.db") ? "RECORD" : "sysparam");
        QCOMPARE(after == DatabaseState::Good, goodAfter);
        if (!goodAfter && setup != DamagedParamDamagedDefault)
            QVERIFY2(!QFile::exists(file), "an empty database was made in place of the missing one");
        const QStringList kept = QDir().entryList({file + QStringLiteral(".damaged-*")}, QDir::Files);
        const bool damaged = setup == DamagedParam || setup == DamagedParamDamagedDefault ||
                             setup == ParamWithoutTable ||
                             setup == ParamWithoutRegionTable || setup == ParamWithoutFirstRegionTable ||
                             setup == ParamWithoutLastRegionTable || setup == ParamWithoutRows ||
                             setup == ParamPageOverwritten;
        // A copy that fails its check is kept aside again by the second start.
        QCOMPARE(kept.size(), !damaged ? 0 : setup == DamagedParamDamagedDefault ? 2 : 1);
        if (!kept.isEmpty())
            QCOMPARE(readAll(kept.first()), before);
    }

    void journalsAtStart_data()
    {
        QTest::addColumn<int>("setup");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("table");  // a table of the file whose rows the operator committed
        QTest::addColumn<QString>("column"); // its first column
        QTest::addColumn<int>("rowsAfter");  // of those rows, in the file after the start
        QTest::addColumn<int>("aside");      // files kept aside after the start
        QTest::addColumn<bool>("held");      // the factory parameters hold the clamp (marker, row 760)
        QTest::newRow("hot journal in PARAM.db (regions of camera 1)")
            << int(HotJournal) << "PARAM.db" << "cammer0" << "name" << 3 << 0 << false;
        QTest::newRow("hot journal in RECORD.db")
            << int(HotJournal) << "RECORD.db" << "RECORD" << "recordtime" << 3 << 0 << false;
        QTest::newRow("hot journal in SN.db")
            << int(HotJournal) << "SN.db" << "sysparam" << "name" << 3 << 0 << false;
        QTest::newRow("hot journal in ResStatistics.db")
            << int(HotJournal) << "ResStatistics.db" << "resstatistics" << "name" << 3 << 0 << false;
        QTest::newRow("hot journal in TemperatureData.db")
            << int(HotJournal) << "TemperatureData.db" << "camera1" << "insertTime" << 3 << 0 << false;
        QTest::newRow("hot journal in PARAM.db, the factory reset's script copies the shipped one over")
            << int(HotJournalThenReset) << "PARAM.db" << "cammer0" << "name" << 0 << 0 << false;
        QTest::newRow("shipped PARAM.db beside a stale journal and a damaged copy, no marker")
            << int(ShippedBesideJournal) << "PARAM.db" << "cammer0" << "name" << 0 << 2 << true;
        QTest::newRow("PARAM.db locked by another process through the wait (closed, kept)")
            << int(LockedAtStart) << "PARAM.db" << "cammer0" << "name" << 3 << 0 << false;
        QTest::newRow("damaged PARAM.db with a journal")
            << int(DamagedWithLeftovers) << "PARAM.db" << "cammer0" << "name" << 0 << 2 << true;
        // Damage past the first row: the file goes aside and comes back from its template; RECORD.db
        // and SN.db with a restart, the stores opened after the start's decision without one.
        QTest::newRow("RECORD.db with a garbage last page")
            << int(GarbageLastPage) << "RECORD.db" << "RECORD" << "recordtime" << 0 << 1 << false;
        QTest::newRow("RECORD.db with a garbage page in the middle")
            << int(GarbageMiddlePage) << "RECORD.db" << "RECORD" << "recordtime" << 0 << 1 << false;
        QTest::newRow("SN.db with a garbage last page")
            << int(GarbageLastPage) << "SN.db" << "sysparam" << "name" << 0 << 1 << false;
        QTest::newRow("ResStatistics.db with a garbage page")
            << int(GarbageMiddlePage) << "ResStatistics.db" << "resstatistics" << "name" << 0 << 1 << false;
        QTest::newRow("TemperatureData.db with a garbage last page")
            << int(GarbageLastPage) << "TemperatureData.db" << "camera1" << "insertTime" << 0 << 1 << false;
        // The update's script may copy over the file: a journal beside the shipped copy goes aside
        // before it, never played into the copy.
        QTest::newRow("shipped PARAM.db beside a stale journal and a damaged copy, an update pending")
            << int(ShippedThenUpdate) << "PARAM.db" << "cammer0" << "name" << 0 << 2 << true;
        QTest::newRow("PARAM.db missing beside its hot journal (aside, the shipped copy restored)")
            << int(MissingBesideJournal) << "PARAM.db" << "cammer0" << "name" << 0 << 1 << true;
        QTest::newRow("PARAM.db cut to nothing beside its hot journal (the pair aside)")
            << int(EmptyBesideJournal) << "PARAM.db" << "cammer0" << "name" << 0 << 2 << true;
        // A rollback that cannot write is no damage: left for a start with room, which rolls it back.
        QTest::newRow("hot journal in PARAM.db under a file size limit, then a start with room")
            << int(HotJournalNoRoom) << "PARAM.db" << "cammer0" << "name" << 3 << 0 << false;
        QTest::newRow("hot journal in RECORD.db under a file size limit, then a start with room")
            << int(HotJournalNoRoom) << "RECORD.db" << "RECORD" << "recordtime" << 3 << 0 << false;
        QTest::newRow("hot journal in ResStatistics.db under a file size limit, then a start with room")
            << int(HotJournalNoRoom) << "ResStatistics.db" << "resstatistics" << "name" << 3 << 0 << false;
        // Something that is no journal at the journal's path goes aside; the sound file is kept.
        const QList<QPair<QString, QString>> files{{"PARAM.db", "cammer0|name"},
                                                   {"RECORD.db", "RECORD|recordtime"},
                                                   {"SN.db", "sysparam|name"},
                                                   {"ResStatistics.db", "resstatistics|name"},
                                                   {"TemperatureData.db", "camera1|insertTime"}};
        for (const auto &f : files) {
            const QString table = f.second.section(QLatin1Char('|'), 0, 0);
            const QString column = f.second.section(QLatin1Char('|'), 1, 1);
            QTest::addRow("directory at %s-journal", qPrintable(f.first))
                << int(DirectoryAtJournal) << f.first << table << column << 3 << 1 << false;
            QTest::addRow("link to /dev/zero at %s-journal", qPrintable(f.first))
                << int(LinkToZeroAtJournal) << f.first << table << column << 3 << 1 << false;
        }
        // A journal made through it would land wherever it leads.
        QTest::newRow("link leading nowhere at PARAM.db-journal")
            << int(DanglingLinkAtJournal) << "PARAM.db" << "cammer0" << "name" << 3 << 1 << false;
    }

    // A write cut short leaves the file with its journal: the next start rolls the journal back and
    // keeps every committed row, moves nothing aside and leaves no journal. A journal that does not
    // belong to the file in place is moved aside, never played into it; a damaged file goes aside
    // with its journal, and the shipped copy put in its place opens.
    void journalsAtStart()
    {
        QFETCH(int, setup);
        QFETCH(QString, file);
        QFETCH(QString, table);
        QFETCH(QString, column);
        QFETCH(int, rowsAfter);
        QFETCH(int, aside);
        QFETCH(bool, held);
        TestWorkDir dir;
        dropStores();
        const QString shippedParam = QStringLiteral("paraGroup/default/PARAM.db");
        const QString empty = QString(file).replace(QStringLiteral(".db"), QStringLiteral("NULL.db"));
        QVERIFY(QFile::exists(file) || QFile::copy(empty, file));
        const QString count =
            QStringLiteral("select count(*) from %1 where %2 like 'committed-%'").arg(table, column);
        for (int n = 1; n <= 3; ++n)
            QVERIFY(execOnDatabase(file, QStringLiteral("insert into %1 (%2) values ('committed-%3')")
                                             .arg(table, column).arg(n)));
        const bool garbage = setup == GarbageLastPage || setup == GarbageMiddlePage;
        if (garbage) {
            // Enough rows for many pages, so that the first row still reads.
            QVERIFY(execOnDatabase(file,
                                   QStringLiteral("with recursive n(i) as (select 1 union all select i + 1 "
                                                  "from n where i < 600) insert into %1 (%2) "
                                                  "select 'padding-' || i || hex(randomblob(200)) from n")
                                       .arg(table, column)));
            QVERIFY(overwritePage(file, setup == GarbageLastPage ? 0 : -1));
            QVERIFY(quickCheck(file) != QLatin1String("ok"));
            QVERIFY(!selectRows(file, QStringLiteral("select * from %1 limit 1").arg(table)).isEmpty());
        } else if (setup == DamagedWithLeftovers) {
            QVERIFY(writeTestFile(file, "this is no database, it was cut by a power loss\n"));
            QVERIFY(writeTestFile(file + "-journal", QByteArray(512, '\0'))); // a header SQLite ignores
        } else if (setup == DirectoryAtJournal) {
            QVERIFY(QDir().mkdir(file + "-journal"));
        } else if (setup == LinkToZeroAtJournal) {
            QVERIFY(QFile::link(QStringLiteral("/dev/zero"), file + "-journal"));
        } else if (setup == DanglingLinkAtJournal) {
            QVERIFY(QFile::link(QStringLiteral("gone/nothing"), file + "-journal"));
        } else if (setup != LockedAtStart) {
            QString why;
            QVERIFY2(leaveHotJournal(file, {QStringLiteral("delete from %1").arg(table)}, &why),
                     qPrintable(why));
            // The transaction reached the file: alone, it has lost the committed rows.
            QVERIFY(countWithoutJournal(file, count) != 3);
        }
        const QByteArray journal = QFileInfo(file + "-journal").isFile() ? readAll(file + "-journal") : "";
        if (setup == MissingBesideJournal)
            QVERIFY(QFile::remove(file));
        if (setup == EmptyBesideJournal)
            QVERIFY(QFile::resize(file, 0));
        if (setup == HotJournalNoRoom) {
            // The start's own look at the file, in a child whose writes past 2 KiB fail. SQLite writes
            // what fits under the limit; the journal stays whole for a rollback with room.
            const bool store = file == QLatin1String("ResStatistics.db");
            const int seen = runUnderFileSizeLimit(2048, [&] {
                if (store)
                    return int(settleJournal(file, empty));
                if (file == QLatin1String("PARAM.db"))
                    return int(inspectDatabase(file, paramDatabaseCheck(), nullptr, shippedParam));
                return int(inspectDatabase(file, table));
            });
            QCOMPARE(seen, store ? int(JournalOutcome::Busy) : int(DatabaseState::Deferred));
            QCOMPARE(readAll(file + "-journal"), journal);
            QCOMPARE(QDir().entryList({file + "*.damaged-*"}, QDir::AllEntries | QDir::System),
                     QStringList());
        }
        if (setup == ShippedBesideJournal || setup == ShippedThenUpdate) {
            // What a start before this mend did: the torn file aside, the shipped copy beside its journal.
            QVERIFY(QFile::rename(file, file + ".damaged-20261207-061500"));
            QVERIFY(QFile::copy(shippedParam, file));
        }
        bool journalAtScript = false;
        if (setup == ShippedThenUpdate)
            QVERIFY(writeTestFile(QStringLiteral("update.sh"), "true\n"));
        if (setup == HotJournalThenReset) {
            QVERIFY(writeTestFile(QStringLiteral("update.sh"), "cp -f ./paraGroup/default/PARAM.db ./\n"));
            runner.onRun = [&](const QString &program) {
                if (program == QLatin1String("./update.sh")) {
                    journalAtScript = !databaseCompanions(file).isEmpty();
                    QFile::remove(file);
                    QFile::copy(shippedParam, file);
                }
            };
        }
        const long locker = setup == LockedAtStart ? holdLockedFor(file, 6500) : 0;
        QVERIFY(locker >= 0);
        {
            DeVeWizard window;
            QVERIFY(!locker || endChild(locker));
            if (file == QLatin1String("TemperatureData.db"))
                QVERIFY(TemperatureChartData::instance());
            const QSqlDatabase &db = file == QLatin1String("RECORD.db") ? window.recordDb
                                     : file == QLatin1String("SN.db")  ? window.snDb
                                                                       : window.paramDb;
            // Locked is not damaged: left closed for this run (every camera held), never moved aside.
            QCOMPARE(db.isOpen(), setup != LockedAtStart);
            const quint32 everyCamera = (1u << gCameraCount) - 1;
            QCOMPARE(window.machineCycle->heldCameras, setup == LockedAtStart ? everyCamera : 0u);
            QVERIFY(file != QLatin1String("ResStatistics.db") || gStatisticsStore);
            QCOMPARE(window.runState, held ? 3 : 1);
            QCOMPARE(window.machineCycle->paramRestoredHold, held);
            QCOMPARE(recordRemarks(QStringLiteral("RECORD.db")).filter(uiText(760).simplified()).size(),
                     held ? 1 : 0);
            // What the run writes afterwards reaches the file.
            window.InsertRecord(QStringLiteral("written after the start"));
            if (gStatisticsStore)
                gStatisticsStore->addResult(10, true, 0, 0);
            TemperatureChartData::instance()->insertRecord(0, 0, {0}, {1234}, {36.5});
        }
        dropStores();
        if (garbage) {
            QCOMPARE(quickCheck(file), QStringLiteral("ok"));
            if (file == QLatin1String("RECORD.db"))
                QCOMPARE(recordRemarks(file).filter(QStringLiteral("written after the start")).size(), 1);
            if (file == QLatin1String("SN.db")) // the start-up question cleared the serials
                QCOMPARE(selectRows(file, "select value from sysparam where name like 'serialNB%'").size(),
                         8);
            if (file == QLatin1String("ResStatistics.db"))
                QVERIFY(selectRows(file, "select value1 from resstatistics where name = 'C0_D0'")
                            .value(0)
                            .value(0)
                            .toString()
                            .startsWith(QStringLiteral("0 0 0 0 0 0 0 0 0 0 1 0 ")));
            if (file == QLatin1String("TemperatureData.db")) {
                const QList<QVariantList> rows =
                    selectRows(file, "select D0T0 from camera1 where insertTime = 1234");
                QCOMPARE(rows.value(0).value(0).toDouble(), 36.5);
            }
        }
        QVERIFY(!journalAtScript);
        QCOMPARE(databaseCompanions(file), QStringList());
        QCOMPARE(countRows(file, count), rowsAfter);
        const QStringList kept =
            QDir().entryList({file + "*.damaged-*"}, QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
        QCOMPARE(kept.size(), aside);
        // The journal kept for a person to look at
        if (setup == ShippedBesideJournal || setup == ShippedThenUpdate || setup == MissingBesideJournal)
            QCOMPARE(readAll(kept.filter(QStringLiteral("-journal.damaged-")).value(0)), journal);
        if (setup == DamagedWithLeftovers || setup == EmptyBesideJournal) // the pair under one name
            QCOMPARE(readAll(kept.value(0) + "-journal"), journal);
        if (setup == DirectoryAtJournal || setup == LinkToZeroAtJournal || setup == DanglingLinkAtJournal) {
            // Moved as it was, never opened; a link is moved, not what it leads to.
            const QFileInfo moved(kept.value(0));
            QVERIFY2(kept.value(0).startsWith(file + "-journal.damaged-"), qPrintable(kept.value(0)));
            if (setup == DirectoryAtJournal)
                QVERIFY(moved.isDir() && !moved.isSymLink());
            else if (setup == LinkToZeroAtJournal)
                QCOMPARE(moved.symLinkTarget(), QStringLiteral("/dev/zero"));
            else
                QVERIFY(moved.isSymLink() && moved.symLinkTarget().endsWith(QStringLiteral("gone/nothing")));
            QVERIFY(!QFileInfo::exists(QStringLiteral("gone")));
        }
        if (file == QLatin1String("PARAM.db") && setup != LockedAtStart)
            QCOMPARE(inspectDatabase(file, paramDatabaseCheck()), DatabaseState::Good);
        const bool restartsWithIt = file == QLatin1String("RECORD.db") || file == QLatin1String("SN.db");
        const bool restored =
            setup == DamagedWithLeftovers || setup == MissingBesideJournal || setup == EmptyBesideJournal;
        QCOMPARE(runner.calls.contains(QStringLiteral("reboot")), restored || (garbage && restartsWithIt));
        QCOMPARE(QFile::exists(paramRestoredMarkerPath()), held);
    }

    // An NG alarm latched before the box stopped ("latchedalarm.json" left behind) is latched again at
    // the start instead of starting detection: the slot and cameras it names (cameras no longer in use
    // dropped), the editor open, the menu bar hidden, one record line (row 745 with the alarm line of
    // rows 151 and 152). A damaged file is kept aside and latches the mould slot of the side in use.
    // The file then on disk is the latch in force; the box in pulse mode latches nothing and drops it.
    void latchedAlarmAtStart_data()
    {
        QTest::addColumn<QByteArray>("file");  // empty: none
        QTest::addColumn<QString>("settings"); // one statement on PARAM.db, or none
        QTest::addColumn<bool>("latched");
        QTest::addColumn<int>("slot");
        QTest::addColumn<QList<int>>("cameras"); // numbered from 1, as the record line names them
        QTest::addColumn<bool>("keptAside");
        const QByteArray one = latchFile("[1]", 1, 1);
        QTest::newRow("no file: detection starts")
            << QByteArray() << QString() << false << 1 << QList<int>() << false;
        QTest::newRow("camera 1 in the mould slot")
            << one << QString() << true << 1 << QList<int>{1} << false;
        QTest::newRow("cameras 1 and 3, one camera in use")
            << latchFile("[3, 1]", 1, 1) << QString() << true << 1 << QList<int>{1} << false;
        QTest::newRow("cut short") << QByteArray("{\"cameras\": [1], \"sl") << QString() << true << 1
                                   << QList<int>{1} << true;
        QTest::newRow("slot 2 on a machine of two slots")
            << latchFile("[1]", 2, 1) << QString() << true << 1 << QList<int>{1} << true;
        QTest::newRow("slot 3 on a machine of two slots")
            << latchFile("[1]", 3, 0) << QString() << true << 1 << QList<int>{1} << true;
        QTest::newRow("damaged, two-colour machine on the right mould")
            << QByteArray("\x00\x00\x00", 3)
            << QStringLiteral("update sysparam set value='1 1 0 0 0 0 0 0' where name='numFailDetect'")
            << true << 3 << QList<int>{1} << true;
        QTest::newRow("right mould kept on a two-colour machine")
            << latchFile("[1]", 3, 0)
            << QStringLiteral("update sysparam set value='1 2 0 0 0 0 0 0' where name='numFailDetect'")
            << true << 3 << QList<int>{1} << false;
        QTest::newRow("OK and NG pulses: nothing to latch")
            << one
            << QStringLiteral(
                   "update sysparam set value='30 30 32 32 0 0 50 50 1 0 0 0 0' where name='system5'")
            << false << 1 << QList<int>() << false;
    }

    void latchedAlarmAtStart()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, settings);
        QFETCH(bool, latched);
        QFETCH(int, slot);
        QFETCH(QList<int>, cameras);
        QFETCH(bool, keptAside);
        TestWorkDir dir;
        if (!settings.isEmpty())
            QVERIFY(execOnDatabase(QStringLiteral("PARAM.db"), settings));
        if (!file.isEmpty())
            QVERIFY(writeTestFile(QStringLiteral("latchedalarm.json"), file));
        DeVeWizard window;
        QCOMPARE(gCameraCount, 1);
        QCOMPARE(window.alarmState, latched ? 2 : 0);
        QCOMPARE(window.runState, latched ? 3 : 1);
        QCOMPARE(window.drawROIWidget->isVisibleTo(&window), latched);
        QStringList remarks;
        QSqlQuery rows(window.recordDb);
        QVERIFY(rows.exec(QStringLiteral("select remarks from RECORD")));
        while (rows.next())
            remarks << rows.value(0).toString();
        QString alarmLine;
        for (int c : cameras)
            alarmLine += uiText(151).arg(c);
        alarmLine.chop(1);
        alarmLine += uiText(152);
        QCOMPARE(remarks.contains(uiText(745).arg(alarmLine)), latched);
        QCOMPARE(remarks.filter(uiText(745).left(4)).size(), latched ? 1 : 0);
        QCOMPARE(QDir().entryList({"latchedalarm.json.damaged-*"}, QDir::Files).size(), keptAside ? 1 : 0);
        QCOMPARE(QFile::exists(QStringLiteral("latchedalarm.json")), latched);
        if (latched) {
            QCOMPARE(window.currentSlot, slot);
            const QJsonObject o =
                QJsonDocument::fromJson(readAll(QStringLiteral("latchedalarm.json"))).object();
            QCOMPARE(o.value(QStringLiteral("slot")).toInt(-1), slot);
            QCOMPARE(o.value(QStringLiteral("currentSlot")).toInt(-1), slot);
            if (slot >= 2) // the right mould of a two-colour machine
                QCOMPARE(o.value(QStringLiteral("moldSide")).toInt(-1), 0);
            QJsonArray expected;
            for (int c : cameras)
                expected.append(c);
            QCOMPARE(o.value(QStringLiteral("cameras")).toArray(), expected);
            // Only an OK re-check ends it: the editor's re-check of a mould that passes (the shipped
            // tables hold no region), on a picture just taken, starts detection and removes the file.
            auto *camera = dynamic_cast<SimulateCamera *>(window.cammerWidgets[0]->camera.get());
            QVERIFY(camera);
            camera->stepFrame();
            QVERIFY(window.cammerWidgets[0]->grabFrame());
            window.drawROIWidget->SlotReCheck();
            QVERIFY(window.alarmState != 2);
            QCOMPARE(window.runState, 1);
            QVERIFY(!QFile::exists(QStringLiteral("latchedalarm.json")));
        }
    }

    void pendingUpdateRunsOnceAndIsRemoved()
    {
        TestWorkDir dir;
        QFile update(QStringLiteral("update.sh"));
        QVERIFY(update.open(QIODevice::WriteOnly));
        update.close();
        DeVeWizard window;
        const int at = runner.calls.indexOf(QStringLiteral("./update.sh"));
        QVERIFY(at >= 0);
        QCOMPARE(runner.calls.value(at + 1), QStringLiteral("sync"));
        QCOMPARE(runner.calls.value(at + 2), QStringLiteral("rm -f update.sh"));
    }

    // No real camera: the simulated one stands in, fills the screen with sizes taken from its picture,
    // and the operator's yes clears the saved serials (recorded) before the start line. Then the
    // level, logout, backlight and heartbeat timers of the running window.
    void simulatedStartRecordAndTimers()
    {
        TestWorkDir dir;
        QVERIFY(execOnDatabase(QStringLiteral("PARAM.db"), QStringLiteral("update sysparam set value='1' "
                                                                          "where name='isPswUsed'")));
        QVERIFY(QDir().mkpath(QStringLiteral("simcam/1")));
        QVERIFY(QImage(64, 48, QImage::Format_RGB32).save(QStringLiteral("simcam/1/a.png")));
        DeVeWizard window;
        QCOMPARE(BoxTestPolicy::shownTexts().filter(uiText(134)).size(), 1);
        QCOMPARE(window.cammerWidgets[0]->geometry(), QRect(0, 0, gShowW, gShowH));
        QCOMPARE(window.zoomButtonMode, 1);
        // The camera page's reordering button opens the camera-position window the menu bar asks about.
        window.paraWidget->SlotTuneCamera();
        QVERIFY(window.changeCameraWidget->isVisibleTo(&window) && window.paraWidget->isHidden());
        window.changeCameraWidget->hide();
        QVERIFY(!mainPageHooks().changeCameraVisible());
        QCOMPARE(gImagePixelCount, 64 * 48);
        QCOMPARE(window.cellScaleX, float(gShowW) / 64.0f);
        QCOMPARE(window.cellScaleY, gViewScaleY);
        QVERIFY(QFileInfo(QStringLiteral("alarmimage/camera1/detect8/OK")).isDir());
        QSqlQuery rows(window.recordDb);
        QVERIFY(rows.exec(QStringLiteral("select recordtime, recordpassword, remarks from RECORD")));
        for (int n = 0; n < 8; ++n) {
            QVERIFY(rows.next());
            QCOMPARE(rows.value(2).toString(), QStringLiteral("Save SN %1: 0").arg(n));
        }
        QVERIFY(rows.next());
        QVERIFY(QRegularExpression(QStringLiteral("^\\d\\d\\.\\d\\d\\.\\d\\d$")).match(rows.value(0).toString()).hasMatch());
        QCOMPARE(rows.value(1).toString(), uiText(156));
        QCOMPARE(rows.value(2).toString(), uiText(150).arg(1));
        QVERIFY(!rows.next());
        QVERIFY(!runner.calls.contains(QStringLiteral("reboot")));
        QVERIFY(QFileInfo(QStringLiteral("RECORD")).isDir() && QFileInfo(QStringLiteral("ResStatistics")).isDir());
        QCOMPARE(readAll(QStringLiteral("time.txt")), QDate::currentDate().toString(Qt::ISODate).toLatin1());
        QCOMPARE(window.dateTimer->interval(), 60000);
        QVERIFY(window.dateTimer->isActive() && window.fpsTimer->isActive());
        QVERIFY(gSysParam->screenOffTime > 0);
        QVERIFY(window.lcdTimer->isActive());
        QCOMPARE(window.lcdTimer->interval(), gSysParam->screenOffTime * 1000);

        // Passwords in use: nobody logged in is level 0 (the login box gets no password); the box
        // typed with the advanced password logs in at 2; not in use: 2, but the advanced functions
        // still ask.
        QCOMPARE(window.userLevel(), 0);
        BoxTestPolicy::setTypedPassword(advancedPassword());
        QCOMPARE(window.userLevel(), 2);
        BoxTestPolicy::setTypedPassword(QString());
        QVERIFY(window.isAdvancedUser());
        gSysParam->isPswUsed = 0;
        window.loginLevel = 1;
        QCOMPARE(window.userLevel(), 2);
        QVERIFY(!window.isAdvancedUser());
        window.loginLevel = 2;
        window.logoutTimer->start(100000);
        window.TimerLogout();
        QCOMPARE(window.loginLevel, 0);
        QVERIFY(!window.logoutTimer->isActive());
        window.lcdTimer->start(100000);
        window.TimerLCD();
        QCOMPARE(window.screenOff, 1);
        QVERIFY(!window.lcdTimer->isActive());

        // Heartbeat: lamp 5 alternates while running and stays in one state while stopped.
        window.runState = 1;
        window.SlotFPS();
        const bool first = gLedMask & 0x20;
        window.SlotFPS();
        QCOMPARE(bool(gLedMask & 0x20), !first);
        window.runState = 3;
        window.SlotFPS();
        window.SlotFPS();
        QVERIFY(gLedMask & 0x20);
    }

    // The saver counts a result after the cycle has written "count.txt": the file follows within about
    // a second, and at quit; unchanged counters are not written at all.
    void resultCountersReachTheFileAfterTheSaverAndAtQuit()
    {
        TestWorkDir dir;
        QVERIFY(QDir().mkpath(QStringLiteral("simcam/1")));
        QVERIFY(QImage(64, 48, QImage::Format_RGB32).save(QStringLiteral("simcam/1/a.png")));
        QVERIFY(writeTestFile(QStringLiteral("count.txt"), "5 1 7 2"));
        auto window = std::make_unique<DeVeWizard>();
        QCOMPARE(gCameraTotalCount[0].load(), 5);
        QCOMPARE(gCameraNgCount[1].load(), 2);
        QTest::qWait(1300);
        QCOMPARE(readAll(QStringLiteral("count.txt")), QByteArray("5 1 7 2"));

        gCameraTotalCount[0] += 2;
        gCameraNgCount[0] += 1;
        QTRY_COMPARE_WITH_TIMEOUT(readAll(QStringLiteral("count.txt")),
                                  QByteArray("7 2 7 2 0 0 0 0 0 0 0 0 0 0 0 0 "), 2500);
        gCameraTotalCount[1] += 1;
        window.reset();
        QCOMPARE(readAll(QStringLiteral("count.txt")), QByteArray("7 2 8 2 0 0 0 0 0 0 0 0 0 0 0 0 "));
    }

    // The clear-serials question of a start with real cameras, answered yes: the serials are cleared,
    // the databases closed and the box restarts. A saved id no opened camera carries holds the clamp
    // at every start, so it is asked whatever its length and whether or not the counts agree.
    void serialQuestionWithRealCameras_data()
    {
        QTest::addColumn<QStringList>("saved");
        QTest::addColumn<int>("cameras");
        QTest::addColumn<bool>("asked");
        QTest::newRow("three serials saved, two cameras found (asked)")
            << QStringList{"CAM-00000", "CAM-00001", "CAM-00002"} << 2 << true;
        QTest::newRow("8-character id saved, one camera opened without it (asked)")
            << QStringList{"21234567"} << 1 << true;
        QTest::newRow("one serial saved, another camera in its place (asked)")
            << QStringList{"CAM-00009"} << 1 << true;
        QTest::newRow("control: the serials of the two cameras found (not asked)")
            << QStringList{"CAM-00001", "CAM-00002"} << 2 << false;
    }
    void serialQuestionWithRealCameras()
    {
        QFETCH(QStringList, saved);
        QFETCH(int, cameras);
        QFETCH(bool, asked);
        TestWorkDir dir;
        for (int n = 0; n < saved.size(); ++n)
            QVERIFY(execOnDatabase(QStringLiteral("SN.db"),
                                   QStringLiteral("update sysparam set value='%1' where name='serialNB%2'")
                                       .arg(saved.at(n))
                                       .arg(n)));
        QVERIFY(QDir().mkpath(QStringLiteral("simcam/1")));
        QVERIFY(QImage(64, 48, QImage::Format_RGB32).save(QStringLiteral("simcam/1/a.png")));
        setCameraBackendFactory(kCameraBackendMind, [cameras] { return new RealCameras(cameras); });
        {
            DeVeWizard window;
            QCOMPARE(gCameraCount, cameras);
            QCOMPARE(gSimulatedCameras, 0);
            QCOMPARE(BoxTestPolicy::shownTexts().filter(uiText(134)).size(), 0);
            QCOMPARE(BoxTestPolicy::shownTexts().filter(uiText(360)).size(), asked ? 1 : 0);
            QCOMPARE(runner.calls.filter(QStringLiteral("reboot")).size(), asked ? 1 : 0);
            QCOMPARE(!window.snDb.isOpen() && !window.paramDb.isOpen(), asked);
            if (cameras == 2) {
                // Two views share the screen with the ratios of their half.
                QCOMPARE(window.cammerWidgets[1]->geometry(), QRect(gShowW / 2, 0, gShowW / 2, gShowH));
                QCOMPARE(window.cellScaleX, float(gShowW / 2) / 64.0f);
                QCOMPARE(window.cammerWidgets[1]->imageRatioY, float(gShowH) / 48.0f);
                QVERIFY(window.enlargeButton->isHidden());
            }
        }
        setCameraBackendFactory(kCameraBackendMind, {});
        QCOMPARE(inspectDatabase(QStringLiteral("SN.db"), QStringLiteral("sysparam")), DatabaseState::Good);
        QStringList rows;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("snlook"));
            db.setDatabaseName(QStringLiteral("SN.db"));
            QVERIFY(db.open());
            QSqlQuery q(db);
            QVERIFY(q.exec(
                QStringLiteral("select value from sysparam where name like 'serialNB%' order by name")));
            while (q.next())
                rows << q.value(0).toString();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("snlook"));
        QStringList expected = asked ? QStringList() : saved;
        while (expected.size() < 8)
            expected << QStringLiteral("0");
        QCOMPARE(rows, expected);
    }

private:
    // The statistics and temperature stores outlive a window: made again in this working directory.
    static void dropStores()
    {
        delete gStatisticsStore;
        gStatisticsStore = nullptr;
        delete gTemperatureChartData;
        gTemperatureChartData = nullptr;
    }
    static QByteArray readAll(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    RecordingRunner runner;
};

QTEST_MAIN(TestDeVeWizard)
#include "tst_devewizard.moc"

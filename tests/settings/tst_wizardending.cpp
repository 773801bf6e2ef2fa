// The settings actions that end the run, on a real main window and its databases: the password as
// PARAM.db stores it, the order of commit, save, record, stop, close and command of each ending, the
// record page over today and the archives, and the counter reset.
#include "boxtestpolicy.h"
#include "clock.h"
#include "commandrunner.h"
#include "confirmactions.h"
#include "devewizard.h"
#include "edit.h"
#include "endingactions.h"
#include "paramstore.h"
#include "sysparam.h"
#include "testfiles.h"
#include "testworkdir.h"
#include "uitexttable.h"
#include "wizardparawidget.h"

#include <QListWidget>
#include <QSqlQuery>
#include <QSqlQueryModel>
#include <QSqlTableModel>
#include <QTableView>
#include <QtTest>

namespace {

// Row `name` of PARAM.db as stored, read through a connection of our own.
QString storedRow(const QString &name)
{
    QString value;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("peek"));
        db.setDatabaseName(QStringLiteral("PARAM.db"));
        QSqlQuery q(db.open() ? db : QSqlDatabase());
        q.prepare(QStringLiteral("select value from sysparam where name=?"));
        q.addBindValue(name);
        if (q.exec() && q.next())
            value = q.value(0).toString();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("peek"));
    return value;
}

QString storedLanguage() // the 13th number of "system2"
{
    return storedRow(QStringLiteral("system2")).split(QLatin1Char(' ')).value(12);
}

} // namespace

class TestWizardEnding : public QObject, public CommandRunner
{
    Q_OBJECT
    const char *const kSentinel = "o'k\"1"; // a change of the working copy that only a save stores
    TestWorkDir *m_dir = nullptr;
    DeVeWizard *m_window = nullptr;
    WizardParaWidget *m_screen = nullptr;
    QDateTime m_now{QDate(2026, 12, 7), QTime(10, 11, 12)};
    QStringList m_events;

    // One event of the run, after "save" when the working copy reached PARAM.db since the last one.
    void note(const QString &event)
    {
        if (!m_events.contains(QStringLiteral("save")) && storedRow(QStringLiteral("password")) == kSentinel)
            m_events << QStringLiteral("save");
        m_events << event;
    }
    // Column `column` of the record page's table, top to bottom.
    QStringList shown(int column) const
    {
        QStringList out;
        const QAbstractItemModel *model = m_screen->recordTable->model();
        for (int r = 0; model && r < model->rowCount(); ++r)
            out << model->index(r, column).data().toString();
        return out;
    }

public:
    CommandResult run(const QString &program, const QStringList &arguments, int) override
    {
        QString line = program; // an argument with a blank is quoted: "date" must get one argument
        for (const QString &a : arguments)
            line += a.contains(QLatin1Char(' ')) ? QStringLiteral(" \"%1\"").arg(a) : QLatin1Char(' ') + a;
        // The box goes down with every database closed, or a line or a setting can be lost.
        const bool open = m_window && (m_window->recordDb.isOpen() || m_window->paramDb.isOpen() || m_window->snDb.isOpen());
        note(line + (open && (program == "reboot" || program == "init") ? " with open databases" : ""));
        return {true, 0, {}};
    }

private slots:
    void initTestCase()
    {
        fillUiTextTable();
        setCommandRunner(this);
        setAppClock([this] { return m_now; });
    }
    void init()
    {
        m_dir = new TestWorkDir;
        BoxTestPolicy::enable(1);
        m_window = new DeVeWizard;
        m_screen = m_window->paraWidget;
        gLanguage = 1;
        m_window->loginLevel = 2;
        *gSysParamEdit = *gSysParam;
        m_screen->loadPageValues();
        m_events.clear();
        BoxTestPolicy::clearShown();
        EndingActions &end = endingActions();
        end.stopAndWait = [this] { note(QStringLiteral("stop")); };
        end.pause = [this](int ms) { note(QStringLiteral("pause %1").arg(ms)); };
        end.quitApp = [this](int status) { note(QStringLiteral("quit %1").arg(status)); };
        end.flushAll = [this] { note(QStringLiteral("flush")), m_window->FLushAll(); };
        // Confirm's own line (row 235 and the changed fields) shows only that the change was committed.
        confirmActions().insertRecord = [this](const QString &line) {
            note(line.startsWith(uiText(235)) ? QStringLiteral("confirm") : QStringLiteral("record ") + line);
            m_window->InsertRecord(line);
        };
    }
    void cleanup()
    {
        BoxTestPolicy::disable();
        delete m_window;
        m_window = nullptr;
        delete m_dir;
    }
    void cleanupTestCase() { setCommandRunner(nullptr), setAppClock({}); }

    void passwordChanges_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::addColumn<int>("notice");
        QTest::addColumn<QString>("stored"); // empty: the working copy is left alone
        const QString forty = QStringLiteral("0123456789abcdefghijABCDEFGHIJ0123456789");
        QTest::newRow("both empty") << "" << "" << 278 << "";
        QTest::newRow("second empty") << "1234" << "" << 278 << "";
        QTest::newRow("different") << "1234" << "1235" << 280 << "";
        QTest::newRow("40 cut to 32") << forty << forty << 279 << forty.left(32);
        QTest::newRow("exactly 32") << forty.left(32) << forty.left(32) << 279 << forty.left(32);
        QTest::newRow("quotes") << "a'b\"c;--" << "a'b\"c;--" << 279 << "a'b\"c;--";
    }
    // A new password reaches PARAM.db only on Confirm, and comes back whole from it.
    void passwordChanges()
    {
        QFETCH(QString, first);
        QFETCH(QString, second);
        QFETCH(int, notice);
        QFETCH(QString, stored);
        const QByteArray old(99, '~');
        qstrcpy(gSysParamEdit->password, old.constData());
        m_screen->newPasswordEdit->setText(first);
        m_screen->confirmPasswordEdit->setText(second);
        m_screen->ChangePwd();
        QCOMPARE(BoxTestPolicy::shownTexts(), QStringList{uiText(notice)});
        QCOMPARE(m_screen->confirmPasswordEdit->text(), stored.isEmpty() ? second : QString());
        // Every byte after the text is cleared, not only the one after it.
        const QByteArray expected = stored.isEmpty() ? old + '\0' : stored.toLatin1().leftJustified(100, '\0');
        QCOMPARE(QByteArray(gSysParamEdit->password, 100), expected);
        if (stored.isEmpty())
            return;
        QVERIFY(storedRow(QStringLiteral("password")) != stored);
        m_screen->accept();
        SysParam reloaded;
        loadSysParam(&reloaded);
        QCOMPARE(QString::fromLatin1(reloaded.password), stored);
    }

    void endingOrders_data()
    {
        QTest::addColumn<QString>("ending");
        QTest::addColumn<QList<int>>("answers");
        // Rows of the boxes shown in English (0 the clock box, 234 Confirm's); negative: in Japanese.
        QTest::addColumn<QList<int>>("asked");
        QTest::addColumn<QStringList>("events");
        const QString off = QStringLiteral("record Turning the power off Manually ");
        QTest::newRow("shutdown OK OK") << "SlotShutDown" << QList<int>{1, 1, 1} << QList<int>{291, 234, 293}
                                        << QStringList{"confirm", "save", off, "stop", "flush", "reboot"};
        QTest::newRow("shutdown OK Cancel") << "SlotShutDown" << QList<int>{1, 1, 0} << QList<int>{291, 234, 293}
                                            << QStringList{"confirm", "save", off, "stop", "flush", "init 0"};
        QTest::newRow("shutdown Cancel") << "SlotShutDown" << QList<int>{0} << QList<int>{291} << QStringList{};
        QTest::newRow("language") << "switch" << QList<int>{1, 1} << QList<int>{318, -234}
                                  << QStringList{"record Switch language then restart", "confirm", "save", "stop",
                                                 "flush", "reboot"};
        QTest::newRow("language Cancel") << "switch" << QList<int>{0} << QList<int>{318} << QStringList{};
        QTest::newRow("language unchanged") << "same" << QList<int>{} << QList<int>{} << QStringList{};
        QTest::newRow("clock") << "SlotModifyTime" << QList<int>{1, 1, 1} << QList<int>{0, 402, 234}
                               << QStringList{"date -s \"2026-12-07 10:11:12\"", "hwclock --systohc", "confirm",
                                              "save", "record Modify Time", "stop", "flush", "pause 1000", "reboot"};
        QTest::newRow("clock Cancel") << "SlotModifyTime" << QList<int>{1, 0} << QList<int>{0, 402} << QStringList{};
        QTest::newRow("calibration") << "SlotCalibration" << QList<int>{} << QList<int>{}
                                     << QStringList{"./tsc", "pause 500", "flush", "reboot"};
        QTest::newRow("exit") << "SlotExit" << QList<int>{1, 1, 1} << QList<int>{294, 234, 296}
                              << QStringList{"record Exiting monitor system Manually", "confirm", "save", "quit 0"};
        QTest::newRow("exit Cancel") << "SlotExit" << QList<int>{0} << QList<int>{294} << QStringList{};
    }
    void endingOrders()
    {
        QFETCH(QString, ending);
        QFETCH(QList<int>, answers);
        QFETCH(QList<int>, asked);
        QFETCH(QStringList, events);
        qstrcpy(gSysParamEdit->password, kSentinel); // an unconfirmed change on another page
        const QString languageBefore = storedLanguage();
        BoxTestPolicy::queueAnswers(answers);
        if (ending == QLatin1String("switch") || ending == QLatin1String("same"))
            m_screen->SlotChangeLan(ending == QLatin1String("same") ? gLanguage : 3);
        else
            QVERIFY(QMetaObject::invokeMethod(m_screen, ending.toLatin1().constData()));
        note(QStringLiteral("end"));
        QCOMPARE(m_events, events << QStringLiteral("end"));
        QStringList texts;
        for (int row : asked)
            texts << (row == 0 ? QStringLiteral("2026-12-07 10:11:12") : uiText(qAbs(row), row < 0 ? 3 : 1));
        QCOMPARE(BoxTestPolicy::shownTexts(), texts);
        if (ending == QLatin1String("switch"))
            QCOMPARE(storedLanguage(), events.size() > 1 ? QStringLiteral("3") : languageBefore);
    }

    void recordPageAndCounters()
    {
        QDir().mkpath(QStringLiteral("RECORD/y.db"));
        QVERIFY(writeTestFile(QStringLiteral("RECORD/x.db"), "not a database"));
        for (const QString day : {"2024-01-01", "2024-01-03", "2024-01-02"}) {
            QVERIFY(QFile::copy(QStringLiteral("RECORDNULL.db"), QStringLiteral("RECORD/%1.db").arg(day)));
            for (const char *time : {"08.00.00", "17.30.00", "12.15.00"})
                QVERIFY(execOnDatabase(QStringLiteral("RECORD/%1.db").arg(day),
                                       QStringLiteral("insert into RECORD values('%1', '', '%2')").arg(time, day)));
        }
        m_window->InsertRecord(QStringLiteral("morning"));
        m_screen->SlotToRecord();
        QStringList listed;
        for (int i = 0; i < m_screen->recordDateList->count(); ++i)
            listed << m_screen->recordDateList->item(i)->text();
        QCOMPARE(listed, (QStringList{"2026-12-07", "y", "x", "2024-01-03", "2024-01-02", "2024-01-01"}));
        QVERIFY(shown(2).contains(QStringLiteral("morning")));
        QCOMPARE(m_screen->recordModel->headerData(2, Qt::Horizontal).toString(), uiText(290));
        QCOMPARE(m_screen->recordTable->columnWidth(2), 1330);
        const auto click = [this](int row) {
            m_screen->recordDateList->setCurrentRow(row);
            m_screen->UpdateRecord(m_screen->recordDateList->item(row));
        };
        click(3);
        QCOMPARE(shown(0), (QStringList{"17.30.00", "12.15.00", "08.00.00"}));
        QCOMPARE(shown(2).first(), QStringLiteral("2024-01-03"));
        // Garbage, a folder, and an archive gone between listing and click: empty, and nothing made.
        QVERIFY(QFile::remove(QStringLiteral("RECORD/2024-01-02.db")));
        for (int row : {1, 2, 4}) {
            click(row);
            QCOMPARE(shown(0), QStringList());
        }
        QVERIFY(!QFile::exists(QStringLiteral("RECORD/2024-01-02.db")));
        QCOMPARE(readTestFile(QStringLiteral("RECORD/x.db")), QByteArray("not a database"));
        m_now = m_now.addSecs(60); // today again: a line written since the page opened comes first
        m_window->InsertRecord(QStringLiteral("later"));
        click(0);
        QCOMPARE(shown(2).first(), QStringLiteral("later"));

        // Reset Count: Cancel keeps the counters, OK writes zeros for all eight cameras.
        QVERIFY(writeTestFile(QStringLiteral("count.txt"), "5 1 6 2 7 3 8 4 9 5 10 6 11 7 12 8 "));
        m_window->CountRead();
        BoxTestPolicy::queueAnswers({0, 1});
        m_screen->ResetTotal();
        QCOMPARE(readTestFile(QStringLiteral("count.txt")), QByteArray("5 1 6 2 7 3 8 4 9 5 10 6 11 7 12 8 "));
        m_screen->ResetTotal();
        QCOMPARE(readTestFile(QStringLiteral("count.txt")), QByteArray("0 ").repeated(16));
        QCOMPARE(m_events, QStringList{"record The count has been cleared"});
    }

    // A day of many lines: the page's latest-first query walks the record's time index instead of
    // sorting the whole day, and the table holds only the first rows until it is scrolled.
    void recordPageReadsTheDayThroughItsTimeIndex()
    {
        m_window->InsertRecord(QStringLiteral("first line of the day"));
        QSqlDatabase db = m_window->recordDb;
        QSqlQuery fill(db);
        QVERIFY(fill.exec(QStringLiteral("BEGIN")));
        QVERIFY(fill.prepare(QStringLiteral("insert into RECORD values(?, '', ?)")));
        for (int i = 0; i < 20000; ++i) {
            fill.addBindValue(QStringLiteral("%1.%2.%3")
                                  .arg(i / 3600 % 24, 2, 10, QLatin1Char('0'))
                                  .arg(i / 60 % 60, 2, 10, QLatin1Char('0'))
                                  .arg(i % 60, 2, 10, QLatin1Char('0')));
            fill.addBindValue(QStringLiteral("line %1").arg(i));
            QVERIFY(fill.exec());
        }
        QVERIFY(fill.exec(QStringLiteral("COMMIT")));
        fill.finish();
        m_screen->SlotToRecord();
        // Latest first: the lines written now (this one and the window's own), then the filled day backwards.
        const QStringList times = shown(0);
        const QStringList remarks = shown(2);
        QVERIFY(remarks.contains(QStringLiteral("first line of the day")));
        int filled = 0;
        while (filled < remarks.size() && !remarks.at(filled).startsWith(QLatin1String("line ")))
            ++filled;
        QVERIFY(filled > 0 && filled < remarks.size());
        const QString now = m_now.toString(QStringLiteral("hh.mm.ss"));
        QCOMPARE(times.mid(0, filled), QStringList(QVector<QString>(filled, now).toList()));
        QCOMPARE(remarks.mid(filled, 3), (QStringList{"line 19999", "line 19998", "line 19997"}));
        QCOMPARE(times.mid(filled, 3), (QStringList{"05.33.19", "05.33.18", "05.33.17"}));
        QVERIFY2(m_screen->recordModel->rowCount() < 1000,
                 qPrintable(QString::number(m_screen->recordModel->rowCount())));

        QSqlQuery look(db);
        QVERIFY(look.exec(
            QStringLiteral("select sql from sqlite_master where type='index' and tbl_name='RECORD'")));
        QVERIFY(look.next());
        QVERIFY2(look.value(0).toString().contains(QStringLiteral("(recordtime)")),
                 qPrintable(look.value(0).toString()));
        const QString statement = m_screen->recordModel->query().lastQuery();
        QVERIFY2(statement.contains(QStringLiteral("ORDER BY")), qPrintable(statement));
        QVERIFY(look.exec(QStringLiteral("EXPLAIN QUERY PLAN ") + statement));
        QStringList plan;
        while (look.next())
            plan << look.value(3).toString();
        QVERIFY2(plan.join(' ').contains(QStringLiteral("USING INDEX")), qPrintable(plan.join('|')));
        QVERIFY2(!plan.join(' ').contains(QStringLiteral("TEMP B-TREE")), qPrintable(plan.join('|')));
    }
};

QTEST_MAIN(TestWizardEnding)
#include "tst_wizardending.moc"

// What the main window's constructor does with the databases of the working directory.

#include "boxtestpolicy.h"
#include "commandrunner.h"
#include "devewizard.h"
#include "testworkdir.h"
#include "uitexttable.h"

#include <QSqlQuery>
#include <QtTest>

namespace {

// Records every command; copies are carried out so the restored file can be checked, everything else
// is only recorded.
class RecordingRunner : public CommandRunner
{
public:
    QStringList calls;
    CommandResult run(const QString &program, const QStringList &arguments, int) override
    {
        calls << (QStringList{program} + arguments).join(QLatin1Char(' '));
        CommandResult result;
        result.started = true;
        result.exitCode = 0;
        if (program == QLatin1String("cp") && arguments.size() == 3)
            QFile::copy(arguments.at(1), arguments.at(2) + QFileInfo(arguments.at(1)).fileName());
        return result;
    }
};

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
        BoxTestPolicy::clearShown();
        setCommandRunner(&runner);
        runner.calls.clear();
    }
    void cleanup() { setCommandRunner(nullptr); }

    void opensTheShippedDatabases()
    {
        TestWorkDir dir;
        {
            DeVeWizard window;
            QCOMPARE(gMainWindow, &window);
            QVERIFY(window.paramDb.isOpen());
            QVERIFY(window.snDb.isOpen());
            QCOMPARE(window.paramDb.connectionName(), QStringLiteral("dbIn"));
            QCOMPARE(window.snDb.connectionName(), QStringLiteral("dbT"));
            QVERIFY(window.snQuery->exec(QStringLiteral("select value from sysparam where name='serialNB3'")));
            QVERIFY(window.snQuery->next());
            QCOMPARE(window.snQuery->value(0).toString(), QStringLiteral("0"));
            QVERIFY(!runner.calls.contains(QStringLiteral("reboot")));
        }
        QVERIFY(BoxTestPolicy::shownTexts().filter(uiText(160, 1)).isEmpty());
    }

    void missingParameterDatabaseIsRestoredFromTheDefaultGroup()
    {
        TestWorkDir dir;
        QVERIFY(QFile::remove(QStringLiteral("PARAM.db")));
        {
            DeVeWizard window;
            QVERIFY(window.paramQuery->exec(QStringLiteral("select count(*) from sqlite_master")));
            QVERIFY(window.paramQuery->next());
            QVERIFY(window.paramQuery->value(0).toInt() > 0);
        }
        // The warning is shown in English before anything is copied.
        QVERIFY(!uiText(160, 1).isEmpty());
        QVERIFY(BoxTestPolicy::shownTexts().contains(uiText(160, 1)));
        const int cp = runner.calls.indexOf(QStringLiteral("cp -f ./paraGroup/default/PARAM.db ./"));
        QVERIFY2(cp >= 0, qPrintable(runner.calls.join('\n')));
        QCOMPARE(runner.calls.value(cp + 1), QStringLiteral("sync"));
        QCOMPARE(runner.calls.value(cp + 2), QStringLiteral("reboot"));
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

private:
    RecordingRunner runner;
};

QTEST_MAIN(TestDeVeWizard)
#include "tst_devewizard.moc"

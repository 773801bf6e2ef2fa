// Parameter groups and the factory reset on real folders in a temporary working directory, driven
// through the settings screen's buttons with scripted answers and a recording command runner.
#include "boxtestpolicy.h"
#include "choosebox.h"
#include "commandrunner.h"
#include "confirmactions.h"
#include "imagesize.h"
#include "paramquery.h"
#include "paramstore.h"
#include "pathmap.h"
#include "settingshooks.h"
#include "startup.h"
#include "sysparam.h"
#include "testworkdir.h"
#include "uitexttable.h"
#include "warnbox.h"
#include "widgets/combobox.h"
#include "widgets/edit.h"
#include "wizardparawidget.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QRandomGenerator>
#include <QSqlQuery>
#include <QtTest>

namespace {

// Records every command into the shared event list; "tar" runs for real (it only reads), nothing else
// does.
class RecordingRunner : public CommandRunner
{
public:
    QStringList *events = nullptr;
    CommandResult run(const QString &program, const QStringList &arguments, int timeoutMs) override
    {
        events->append((QStringList{program} + arguments).join(QLatin1Char(' ')));
        if (program == QLatin1String("tar"))
            return ProcessCommandRunner().run(program, arguments, timeoutMs);
        CommandResult result;
        result.started = true;
        result.exitCode = 0;
        return result;
    }
};

// Every entry below `root` (hidden ones too): relative path -> content hash, "dir" for a folder.
QMap<QString, QByteArray> tree(const QString &root)
{
    QMap<QString, QByteArray> entries;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        QByteArray value = "dir";
        if (!it.fileInfo().isDir()) {
            QFile f(it.filePath());
            f.open(QIODevice::ReadOnly);
            value = QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha1).toHex();
        }
        entries.insert(it.filePath().mid(root.size() + 1), value);
    }
    return entries;
}

// Entries of `all` below `prefix`, with the prefix taken off.
QMap<QString, QByteArray> below(const QMap<QString, QByteArray> &all, const QString &prefix)
{
    QMap<QString, QByteArray> part;
    for (auto it = all.begin(); it != all.end(); ++it)
        if (it.key().startsWith(prefix + QLatin1Char('/')))
            part.insert(it.key().mid(prefix.size() + 1), it.value());
    return part;
}

void writeFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(data), data.size());
}

QByteArray randomBytes(int size)
{
    QByteArray data(size, Qt::Uninitialized);
    for (char &c : data)
        c = char(QRandomGenerator::global()->bounded(256));
    return data;
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// Template folders of the working directory: 2 cameras x 4 slots in use plus two beyond them.
void makeCameraFolders()
{
    for (const char *folder : {"cammer11", "cammer12", "cammer13", "cammer14", "cammer21", "cammer22",
                               "cammer23", "cammer24", "cammer31", "cammer15"}) {
        const QString f = QString::fromLatin1(folder);
        writeFile(f + QStringLiteral("/temp0.bmp"), randomBytes(3000));
        writeFile(f + QStringLiteral("/mask/m0.png"), randomBytes(500));
        writeFile(f + QStringLiteral("/.roi"), f.toLatin1());
    }
}

const QStringList kInUse = {QStringLiteral("cammer11"), QStringLiteral("cammer12"), QStringLiteral("cammer13"),
                            QStringLiteral("cammer14"), QStringLiteral("cammer21"), QStringLiteral("cammer22"),
                            QStringLiteral("cammer23"), QStringLiteral("cammer24")};

} // namespace

class TestParaGroups : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void backupNames_data();
    void backupNames();
    void overwriteKeepsOneFolderAndTheFactoryGroup();
    void restore_data();
    void restore();
    void deleteKeepsTheStoredPosition_data();
    void deleteKeepsTheStoredPosition();
    void factoryReset_data();
    void factoryReset();

private:
    WizardParaWidget *makeScreen();
    TestWorkDir *m_dir = nullptr;
    WizardParaWidget *m_screen = nullptr;
    SysParam m_inForce;
    SysParam m_edit;
    QStringList m_events;
    RecordingRunner m_runner;
    QSqlQuery *m_paramQuery = nullptr;
    QSqlQuery *m_snQuery = nullptr;
};

void TestParaGroups::initTestCase()
{
    fillUiTextTable();
    gChooseBox = new ChooseBox;
    gWarnBox = new WarnBox;
}

void TestParaGroups::init()
{
    m_dir = new TestWorkDir;
    QVERIFY(m_dir->isValid());
    QSqlDatabase in = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("groupsIn"));
    in.setDatabaseName(m_dir->filePath(QStringLiteral("PARAM.db")));
    QVERIFY(in.open());
    QSqlDatabase sn = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("groupsSn"));
    sn.setDatabaseName(m_dir->filePath(QStringLiteral("SN.db")));
    QVERIFY(sn.open());
    m_paramQuery = new QSqlQuery(in);
    m_snQuery = new QSqlQuery(sn);
    setParamQueryHook([this] { return m_paramQuery; });
    setSnQueryHook([this] { return m_snQuery; });
    gShowW = 1920;
    gShowH = 1080;
    m_inForce = SysParam();
    loadSysParam(&m_inForce);
    gLanguage = 1;
    m_inForce.showAllParams = 1;
    m_edit = m_inForce;
    gSysParam = &m_inForce;
    gSysParamEdit = &m_edit;
    gCameraCount = 2;
    gDetectSlotCount = 4;
    m_events.clear();
    m_runner.events = &m_events;
    setCommandRunner(&m_runner);
    confirmActions() = ConfirmActions();
    confirmActions().updateView = [](int) {};
    confirmActions().insertRecord = [this](const QString &line) { m_events << QStringLiteral("record ") + line; };
    settingsHooks() = SettingsHooks();
    settingsHooks().flushAll = [this] { m_events << QStringLiteral("flush"); };
    BoxTestPolicy::enable(1);
    BoxTestPolicy::clearShown();
    makeCameraFolders();
}

void TestParaGroups::cleanup()
{
    delete m_screen;
    m_screen = nullptr;
    BoxTestPolicy::disable();
    setCommandRunner(nullptr);
    setSystemPathRoot(QString());
    confirmActions() = ConfirmActions();
    settingsHooks() = SettingsHooks();
    setParamQueryHook({});
    setSnQueryHook({});
    delete m_paramQuery;
    delete m_snQuery;
    m_paramQuery = m_snQuery = nullptr;
    QSqlDatabase::removeDatabase(QStringLiteral("groupsIn"));
    QSqlDatabase::removeDatabase(QStringLiteral("groupsSn"));
    gSysParam = gSysParamEdit = nullptr;
    delete m_dir;
}

// The screen as the setter sees it, on the advanced page with the groups on disk listed.
WizardParaWidget *TestParaGroups::makeScreen()
{
    m_screen = new WizardParaWidget(nullptr);
    m_screen->show();
    return m_screen;
}

void TestParaGroups::backupNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("refusedRow"); // 0: backed up
    QTest::newRow("blank inside") << "Mould A" << 0;
    QTest::newRow("star") << "*" << 0;
    QTest::newRow("semicolon") << "a;touch x" << 0;
    QTest::newRow("command substitution") << "$(touch y)" << 0;
    QTest::newRow("32 characters") << QString(32, QLatin1Char('n')) << 0;
    QTest::newRow("parent path") << "../x" << 700;
    QTest::newRow("slash") << "x/y" << 700;
    QTest::newRow("empty") << "" << 282;
    QTest::newRow("blanks only") << "   " << 282;
    QTest::newRow("dot") << "." << 700;
    QTest::newRow("dot dot") << ".." << 700;
    QTest::newRow("hidden") << ".mould" << 700;
    QTest::newRow("tab") << "a\tb" << 700;
    QTest::newRow("line feed") << "a\nb" << 700;
    QTest::newRow("33 characters") << QString(33, QLatin1Char('n')) << 700;
}

// A typed name is a folder name under ./paraGroup and nothing else: nothing outside the group's
// folder changes, no stray file appears, and the group holds the eight camera folders in use and
// "PARAM.db" byte for byte.
void TestParaGroups::backupNames()
{
    QFETCH(QString, name);
    QFETCH(int, refusedRow);
    makeScreen()->paraGroupNameEdit->setText(name);
    auto before = tree(QStringLiteral("."));
    m_screen->SlotParaGroupBackup();
    const auto after = tree(QStringLiteral("."));

    if (refusedRow) {
        QCOMPARE(BoxTestPolicy::shownTexts(), QStringList{uiText(refusedRow)});
        QCOMPARE(after, before);
        return;
    }
    QCOMPARE(BoxTestPolicy::shownTexts(), QStringList{uiText(283)});
    const QString group = QStringLiteral("paraGroup/") + name;
    auto outside = after;
    for (const QString &key : after.keys())
        if (key == group || key.startsWith(group + QLatin1Char('/')))
            outside.remove(key);
    outside.remove(QStringLiteral("sysadd.txt"));
    before.remove(QStringLiteral("sysadd.txt"));
    QCOMPARE(outside, before);

    QMap<QString, QByteArray> expected;
    expected.insert(QStringLiteral("PARAM.db"), after.value(QStringLiteral("PARAM.db")));
    for (const QString &folder : kInUse) {
        expected.insert(folder, "dir");
        const auto files = below(after, folder);
        for (auto it = files.begin(); it != files.end(); ++it)
            expected.insert(folder + QLatin1Char('/') + it.key(), it.value());
    }
    QCOMPARE(below(after, group), expected);

    const int position = QDir(QStringLiteral("paraGroup")).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)
                             .indexOf(name);
    QCOMPARE(m_screen->paraGroupCombo->currentIndex(), position);
    QCOMPARE(readFile(QStringLiteral("sysadd.txt")), QByteArray::number(position) + '\n');
    QCOMPARE(m_edit.paraGroupIndex, position);
}

// A name differing in letter case overwrites the listed folder (one folder, only the new content);
// over the factory group only "PARAM.db" and the camera folders change, and it cannot be deleted.
void TestParaGroups::overwriteKeepsOneFolderAndTheFactoryGroup()
{
    writeFile(QStringLiteral("paraGroup/MouldA/PARAM.db"), "old");
    writeFile(QStringLiteral("paraGroup/MouldA/cammer11/old.bmp"), "old");
    writeFile(QStringLiteral("paraGroup/default/cammer51/keep.bmp"), "factory");
    const auto factoryBefore = tree(QStringLiteral("paraGroup/default"));
    makeScreen()->paraGroupNameEdit->setText(QStringLiteral("moulda"));
    m_screen->SlotParaGroupBackup();
    QCOMPARE(BoxTestPolicy::shownTexts(), (QStringList{uiText(283), uiText(284)}));
    QCOMPARE(QDir(QStringLiteral("paraGroup")).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name),
             (QStringList{QStringLiteral("MouldA"), QStringLiteral("default")}));
    const auto work = tree(QStringLiteral("."));
    QVERIFY(!QFile::exists(QStringLiteral("paraGroup/MouldA/cammer11/old.bmp")));
    QCOMPARE(readFile(QStringLiteral("paraGroup/MouldA/PARAM.db")), readFile(QStringLiteral("PARAM.db")));
    QCOMPARE(below(work, QStringLiteral("paraGroup/MouldA/cammer24")), below(work, QStringLiteral("cammer24")));
    QCOMPARE(readFile(QStringLiteral("sysadd.txt")), QByteArray("0\n"));

    BoxTestPolicy::clearShown();
    m_screen->paraGroupNameEdit->setText(QStringLiteral("DEFAULT"));
    m_screen->SlotParaGroupBackup();
    QCOMPARE(BoxTestPolicy::shownTexts(), (QStringList{uiText(283), uiText(284)}));
    auto factory = tree(QStringLiteral("paraGroup/default"));
    QCOMPARE(factory.value(QStringLiteral("PARAM.db")), work.value(QStringLiteral("PARAM.db")));
    QCOMPARE(below(factory, QStringLiteral("cammer13")), below(work, QStringLiteral("cammer13")));
    for (const char *kept : {"SN.db", "20clearsh.tar.gz", "cammer51/keep.bmp", "RECORDNULL.db"})
        QCOMPARE(factory.value(QLatin1String(kept)), factoryBefore.value(QLatin1String(kept)));
    QVERIFY(!QFile::exists(QStringLiteral("paraGroup/DEFAULT")));

    BoxTestPolicy::clearShown();
    m_screen->paraGroupCombo->setCurrentIndex(1);
    QCOMPARE(m_screen->paraGroupCombo->currentText(), QStringLiteral("default"));
    m_screen->SlotParaGroupDelete();
    QCOMPARE(BoxTestPolicy::shownTexts(), QStringList{uiText(702)});
    QCOMPARE(tree(QStringLiteral("paraGroup/default")), factory);
    QCOMPARE(m_screen->paraGroupCombo->count(), 2);
}

void TestParaGroups::restore_data()
{
    QTest::addColumn<bool>("withParam");
    QTest::addColumn<int>("answer");
    QTest::newRow("whole group") << true << 1;
    QTest::newRow("group without PARAM.db") << false << 1;
    QTest::newRow("cancelled") << true << 0;
}

// A restore checks the group first; a whole group replaces the database and the camera folders, then
// records, closes the databases and restarts, in that order.
void TestParaGroups::restore()
{
    QFETCH(bool, withParam);
    QFETCH(int, answer);
    if (withParam)
        writeFile(QStringLiteral("paraGroup/job/PARAM.db"), "group parameters");
    writeFile(QStringLiteral("paraGroup/job/cammer11/temp0.bmp"), "group template");
    writeFile(QStringLiteral("paraGroup/job/cammer31/temp0.bmp"), "third camera");
    writeFile(QStringLiteral("sysadd.txt"), "1\n");
    const auto before = tree(QStringLiteral("."));
    makeScreen()->paraGroupCombo->setCurrentIndex(1);
    BoxTestPolicy::queueAnswer(answer);
    m_screen->SlotParaGroupRestore();

    if (!withParam || !answer) {
        QCOMPARE(BoxTestPolicy::shownTexts().mid(1),
                 answer ? QStringList{uiText(701).arg(QStringLiteral("job"))} : QStringList{});
        QCOMPARE(tree(QStringLiteral(".")), before);
        QCOMPARE(m_events, QStringList{});
        return;
    }
    QCOMPARE(m_events, (QStringList{QStringLiteral("record ") + uiText(286).arg(QStringLiteral("job")),
                                    QStringLiteral("flush"), QStringLiteral("reboot")}));
    QCOMPARE(readFile(QStringLiteral("PARAM.db")), QByteArray("group parameters"));
    QCOMPARE(readFile(QStringLiteral("cammer11/temp0.bmp")), QByteArray("group template"));
    QCOMPARE(readFile(QStringLiteral("cammer31/temp0.bmp")), QByteArray("third camera"));
    QVERIFY(!QFile::exists(QStringLiteral("cammer11/mask")));
    QVERIFY(!QFile::exists(QStringLiteral("cammer12"))); // in use, not in the group: starts empty
    QCOMPARE(below(tree(QStringLiteral(".")), QStringLiteral("cammer15")), below(before, QStringLiteral("cammer15")));
    QCOMPARE(readFile(QStringLiteral("sysadd.txt")), QByteArray("1\n"));
    QCOMPARE(QDir().entryList(QDir::Hidden | QDir::Dirs | QDir::NoDotAndDotDot).filter(QStringLiteral(".para")),
             QStringList{});
}

void TestParaGroups::deleteKeepsTheStoredPosition_data()
{
    QTest::addColumn<int>("stored");
    QTest::addColumn<int>("deleted");
    QTest::addColumn<int>("expected");
    QTest::newRow("a group before the stored one") << 2 << 0 << 1;
    QTest::newRow("the stored group") << 1 << 1 << -1;
    QTest::newRow("a group after the stored one") << 0 << 2 << 0;
}

void TestParaGroups::deleteKeepsTheStoredPosition()
{
    QFETCH(int, stored);
    QFETCH(int, deleted);
    QFETCH(int, expected);
    for (const char *group : {"a", "b", "c"})
        writeFile(QStringLiteral("paraGroup/%1/PARAM.db").arg(QLatin1String(group)), group);
    m_inForce.paraGroupIndex = stored;
    makeScreen()->paraGroupCombo->setCurrentIndex(deleted);
    const QString name = m_screen->paraGroupCombo->currentText();
    m_screen->SlotParaGroupDelete();
    QVERIFY(!QFile::exists(QStringLiteral("paraGroup/") + name));
    QCOMPARE(m_screen->paraGroupCombo->count(), 3);
    QCOMPARE(m_screen->paraGroupCombo->findText(name), -1);
    QCOMPARE(m_inForce.paraGroupIndex, expected);
    QCOMPARE(m_edit.paraGroupIndex, expected);
    if (stored != expected)
        QCOMPARE(readFile(QStringLiteral("sysadd.txt")), QByteArray::number(expected) + '\n');
    QCOMPARE(m_screen->paraGroupNameEdit->text(), m_screen->paraGroupCombo->currentText());
}

void TestParaGroups::factoryReset_data()
{
    QTest::addColumn<QString>("archive"); // "shipped", "missing", "garbage", "no script"
    QTest::addColumn<bool>("targetBlocked");
    QTest::addColumn<int>("noticeRow"); // 0: reset started
    QTest::newRow("shipped archive") << "shipped" << false << 0;
    QTest::newRow("archive missing") << "missing" << false << 706;
    QTest::newRow("not an archive") << "garbage" << false << 706;
    QTest::newRow("archive without update.sh") << "no script" << false << 706;
    QTest::newRow("program folder not writable") << "shipped" << true << 707;
}

// The reset copies the archive as the next start's update and restarts only when the archive is
// there, unpacks and carries its script, and the copy succeeded.
void TestParaGroups::factoryReset()
{
    QFETCH(QString, archive);
    QFETCH(bool, targetBlocked);
    QFETCH(int, noticeRow);
    const QString path = QStringLiteral("paraGroup/default/20clearsh.tar.gz");
    const QByteArray shipped = readFile(path);
    QVERIFY(shipped.startsWith("\x1f\x8b"));
    if (archive == QLatin1String("missing"))
        QVERIFY(QFile::remove(path));
    if (archive == QLatin1String("garbage"))
        writeFile(path, "\x1f\x8b not really gzip");
    if (archive == QLatin1String("no script")) {
        QVERIFY(QFile::remove(path));
        const QStringList pack = {QStringLiteral("-czf"), path, QStringLiteral("SN.db")};
        QCOMPARE(ProcessCommandRunner().run(QStringLiteral("tar"), pack, 30000).exitCode, 0);
    }
    setSystemPathRoot(m_dir->filePath(QStringLiteral("sys")));
    if (targetBlocked)
        writeFile(m_dir->filePath(QStringLiteral("sys/root/bin-DOD")), "a file where the folder should be");
    else
        QVERIFY(QDir().mkpath(m_dir->filePath(QStringLiteral("sys/root/bin-DOD"))));
    const QString target = m_dir->filePath(QStringLiteral("sys/root/bin-DOD/newupdate.tar.gz"));

    makeScreen()->SlotRestoreFactorySet();
    QCOMPARE(BoxTestPolicy::shownTexts().first(), uiText(551) + QLatin1Char('?'));
    QCOMPARE(m_events.contains(QStringLiteral("reboot")), noticeRow == 0);
    if (noticeRow) {
        QCOMPARE(BoxTestPolicy::shownTexts().mid(1), QStringList{uiText(noticeRow)});
        QVERIFY(!QFile::exists(target));
        return;
    }
    QCOMPARE(readFile(target), shipped);
    QCOMPARE(m_events, (QStringList{QStringLiteral("tar -tzf ") + path, QStringLiteral("sync"),
                                    QStringLiteral("reboot")}));
}

QTEST_MAIN(TestParaGroups)
#include "tst_paragroups.moc"

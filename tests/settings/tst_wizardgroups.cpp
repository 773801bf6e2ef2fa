// Parameter groups and the factory reset on real folders in a temporary working directory, driven
// through the settings screen's buttons with scripted answers and a recording command runner; camera
// positions saved into a real "SN.db".
#include "boxtestpolicy.h"
#include "cameraregistry.h"
#include "choosebox.h"
#include "commandrunner.h"
#include "confirmactions.h"
#include "hotjournal.h"
#include "imagesize.h"
#include "paragroups.h"
#include "paramquery.h"
#include "paramstore.h"
#include "pathmap.h"
#include "settingshooks.h"
#include "startup.h"
#include "sysparam.h"
#include "testfiles.h"
#include "testworkdir.h"
#include "uitexttable.h"
#include "warnbox.h"
#include "widgetchangecamera.h"
#include "widgets/colorbutton.h"
#include "widgets/combobox.h"
#include "widgets/edit.h"
#include "wizardparawidget.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QRandomGenerator>
#include <QSqlQuery>
#include <QtTest>

#include <sys/stat.h>

namespace {

using Tree = QMap<QString, QByteArray>;

// Records every command with the hooks' calls in one list; "tar" runs for real (it only reads).
struct RecordingRunner : CommandRunner
{
    QStringList events;
    CommandResult run(const QString &program, const QStringList &arguments, int timeoutMs) override
    {
        events << (QStringList{program} + arguments).join(QLatin1Char(' '));
        if (program == QLatin1String("tar"))
            return ProcessCommandRunner().run(program, arguments, timeoutMs);
        return {true, 0, {}};
    }
};

// Every entry below `root`, hidden ones too: relative path -> content hash, "dir" for a folder.
Tree tree(const QString &root = QStringLiteral("."))
{
    Tree t;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile f(it.next());
        const bool readable = !it.fileInfo().isDir() && f.open(QIODevice::ReadOnly);
        t.insert(it.filePath().mid(root.size() + 1),
                 readable ? QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha1) : "dir");
    }
    return t;
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    return QDir().mkpath(QFileInfo(path).path()) && f.open(QIODevice::WriteOnly) &&
           f.write(data) == data.size();
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

const QStringList kInUse = {"cammer11", "cammer12", "cammer13", "cammer14",
                            "cammer21", "cammer22", "cammer23", "cammer24"};

// What a group of the working directory's set-up holds: PARAM.db and the camera folders in use.
Tree expectedGroup()
{
    Tree t{{QStringLiteral("PARAM.db"), tree().value(QStringLiteral("PARAM.db"))}};
    for (const QString &folder : kInUse) {
        t.insert(folder, "dir");
        const Tree files = tree(folder);
        for (auto it = files.begin(); it != files.end(); ++it)
            t.insert(folder + QLatin1Char('/') + it.key(), it.value());
    }
    return t;
}

} // namespace

class TestWizardGroups : public QObject
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
    void journalBesideParameters_data();
    void journalBesideParameters();
    void deleteKeepsTheStoredPosition_data();
    void deleteKeepsTheStoredPosition();
    void factoryReset_data();
    void factoryReset();
    void cameraPositions_data();
    void cameraPositions();

private:
    TestWorkDir *m_dir = nullptr;
    WizardParaWidget *m_screen = nullptr;
    SysParam m_inForce;
    SysParam m_edit;
    RecordingRunner m_runner;
    QSqlQuery *m_paramQuery = nullptr;
};

void TestWizardGroups::initTestCase()
{
    fillUiTextTable();
    gChooseBox = new ChooseBox;
    gWarnBox = new WarnBox;
    gShowW = 1920;
    gShowH = 1080;
}

// The advanced page's setter: 2 cameras x 4 slots, template folders in use and two beyond them.
void TestWizardGroups::init()
{
    m_dir = new TestWorkDir;
    QVERIFY(m_dir->isValid());
    QSqlDatabase in = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("groupsIn"));
    in.setDatabaseName(QStringLiteral("PARAM.db"));
    QVERIFY(in.open());
    m_paramQuery = new QSqlQuery(in);
    setParamQueryHook([this] { return m_paramQuery; });
    m_inForce = SysParam();
    loadSysParam(&m_inForce);
    gLanguage = 1;
    m_inForce.showAllParams = 1;
    m_edit = m_inForce;
    gSysParam = &m_inForce;
    gSysParamEdit = &m_edit;
    gCameraCount = 2;
    gDetectSlotCount = 4;
    m_runner.events.clear();
    setCommandRunner(&m_runner);
    confirmActions().updateView = [](int) {};
    confirmActions().insertRecord = [this](const QString &line) { m_runner.events << "record " + line; };
    settingsHooks().flushAll = [this] { m_runner.events << QStringLiteral("flush"); };
    BoxTestPolicy::enable(1);
    BoxTestPolicy::clearShown();
    for (const QString &folder : kInUse + QStringList{"cammer31", "cammer15"}) {
        QByteArray noise(3000, Qt::Uninitialized);
        for (char &c : noise)
            c = char(QRandomGenerator::global()->bounded(256));
        QVERIFY(writeFile(folder + "/temp0.bmp", noise) && writeFile(folder + "/.roi", folder.toLatin1()) &&
                writeFile(folder + "/mask/m0.png", noise.left(99)));
    }
}

void TestWizardGroups::cleanup()
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
    setCameraViewIdsHook({});
    delete m_paramQuery;
    QSqlDatabase::removeDatabase(QStringLiteral("groupsIn"));
    QSqlDatabase::removeDatabase(QStringLiteral("positionsSn"));
    gSysParam = gSysParamEdit = nullptr;
    delete m_dir;
}

void TestWizardGroups::backupNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("refusedRow"); // 0: backed up
    QTest::addColumn<bool>("plainFile"); // a plain file of that name lies in paraGroup
    for (const char *name : {"Mould A", "*", "a;touch x", "$(touch y)"})
        QTest::newRow(name) << QString::fromLatin1(name) << 0 << false;
    QTest::newRow("32 characters") << QString(32, QLatin1Char('n')) << 0 << false;
    QTest::newRow("Chinese name") << QStringLiteral("模具一") << 0 << false;
    for (const char *name : {"../x", "x/y", ".", "..", ".mould", "a\tb", "a\nb"})
        QTest::newRow(name) << QString::fromLatin1(name) << 700 << false;
    QTest::newRow("33 characters") << QString(33, QLatin1Char('n')) << 700 << false;
    QTest::newRow("empty") << "" << 282 << false;
    QTest::newRow("blanks") << "   " << 282 << false;
    // Names that look like another group's in the list, or hide what they are.
    QTest::newRow("blank in front") << " Mould A" << 700 << false;
    QTest::newRow("blank behind") << "Mould A " << 700 << false;
    QTest::newRow("zero-width space") << QStringLiteral("Mould\u200bA") << 700 << false;
    QTest::newRow("zero-width joiner") << QStringLiteral("Mould\u200dA") << 700 << false;
    QTest::newRow("right-to-left override") << QStringLiteral("\u202eA dluoM") << 700 << false;
    QTest::newRow("left-to-right isolate") << QStringLiteral("Mould\u2066A") << 700 << false;
    QTest::newRow("byte-order mark") << QStringLiteral("\ufeffMould") << 700 << false;
    QTest::newRow("language tag beyond 16 bits") << QString::fromUcs4(U"Mould\U000E0041") << 700 << false;
    QTest::newRow("name of a plain file in paraGroup") << "notes" << 700 << true;
}

// A typed name is a folder name under ./paraGroup and nothing else: nothing outside the group's
// folder changes, no stray file appears, and the group holds the camera folders in use and PARAM.db
// byte for byte; the list selects it and "sysadd.txt" holds its position.
void TestWizardGroups::backupNames()
{
    QFETCH(QString, name);
    QFETCH(int, refusedRow);
    QFETCH(bool, plainFile);
    if (plainFile)
        QVERIFY(writeFile(QStringLiteral("paraGroup/") + name, "not a group"));
    m_screen = new WizardParaWidget(nullptr);
    m_screen->show();
    m_screen->paraGroupNameEdit->setText(name);
    Tree before = tree();
    m_screen->SlotParaGroupBackup();
    Tree outside = tree();
    QCOMPARE(BoxTestPolicy::shownTexts(), QStringList{uiText(refusedRow ? refusedRow : 283)});
    if (refusedRow) {
        QCOMPARE(outside, before); // nothing changed, also not a plain file of that name
        return;
    }
    const QString group = QStringLiteral("paraGroup/") + name;
    for (const QString &key : outside.keys())
        if (key == group || key.startsWith(group + QLatin1Char('/')) || key == QLatin1String("sysadd.txt"))
            outside.remove(key);
    before.remove(QStringLiteral("sysadd.txt"));
    QCOMPARE(outside, before);
    QCOMPARE(tree(group), expectedGroup());
    const QDir root(QStringLiteral("paraGroup"));
    const int position = root.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name).indexOf(name);
    QCOMPARE(m_screen->paraGroupCombo->currentIndex(), position);
    QCOMPARE(readFile(QStringLiteral("sysadd.txt")), QByteArray::number(position) + '\n');
    QCOMPARE(m_edit.paraGroupIndex, position);
}

// A name differing in letter case overwrites the listed folder (one folder, only the new content);
// over the factory group only "PARAM.db" and the camera folders change, and it cannot be deleted.
void TestWizardGroups::overwriteKeepsOneFolderAndTheFactoryGroup()
{
    QVERIFY(writeFile("paraGroup/MouldA/PARAM.db", "old") && writeFile("paraGroup/MouldA/cammer11/x", "old"));
    QVERIFY(writeFile("paraGroup/default/cammer51/keep.bmp", "factory"));
    const Tree factoryBefore = tree(QStringLiteral("paraGroup/default"));
    m_screen = new WizardParaWidget(nullptr);
    m_screen->show();
    for (const char *typed : {"moulda", "DEFAULT"}) {
        BoxTestPolicy::clearShown();
        m_screen->paraGroupNameEdit->setText(QLatin1String(typed));
        m_screen->SlotParaGroupBackup();
        QCOMPARE(BoxTestPolicy::shownTexts(), (QStringList{uiText(283), uiText(284)}));
    }
    const QDir root(QStringLiteral("paraGroup"));
    QCOMPARE(root.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name),
             (QStringList{"MouldA", "default"}));
    QCOMPARE(tree(QStringLiteral("paraGroup/MouldA")), expectedGroup());
    Tree factory = factoryBefore; // its databases, reset archive and other folders stay
    const Tree replaced = expectedGroup();
    for (auto it = replaced.begin(); it != replaced.end(); ++it)
        factory.insert(it.key(), it.value());
    QCOMPARE(tree(QStringLiteral("paraGroup/default")), factory);

    BoxTestPolicy::clearShown();
    m_screen->paraGroupCombo->setCurrentIndex(1);
    m_screen->SlotParaGroupDelete();
    QCOMPARE(BoxTestPolicy::shownTexts(), QStringList{uiText(702)});
    QCOMPARE(m_screen->paraGroupCombo->count(), 2);
    QVERIFY(QFile::exists(QStringLiteral("paraGroup/default/SN.db")));
}

void TestWizardGroups::restore_data()
{
    QTest::addColumn<bool>("withParam");
    QTest::addColumn<int>("answer");
    QTest::newRow("whole group") << true << 1;
    QTest::newRow("group without PARAM.db") << false << 1;
    QTest::newRow("cancelled") << true << 0;
}

// A restore checks the group first; a whole group replaces the database and the camera folders, then
// records, closes the databases and restarts, in that order.
void TestWizardGroups::restore()
{
    QFETCH(bool, withParam);
    QFETCH(int, answer);
    QVERIFY(!withParam || writeFile("paraGroup/job/PARAM.db", "group parameters"));
    QVERIFY(writeFile("paraGroup/job/cammer11/t", "template"));
    QVERIFY(writeFile("paraGroup/job/cammer31/t", "third"));
    QVERIFY(writeFile("sysadd.txt", "1\n"));
    const Tree before = tree();
    m_screen = new WizardParaWidget(nullptr);
    m_screen->paraGroupCombo->setCurrentIndex(1);
    BoxTestPolicy::queueAnswer(answer);
    m_screen->SlotParaGroupRestore();
    if (!withParam || !answer) {
        const QStringList notice{uiText(701).arg("job")};
        QCOMPARE(BoxTestPolicy::shownTexts().mid(1), answer ? notice : QStringList{});
        QCOMPARE(tree(), before);
        QCOMPARE(m_runner.events, QStringList{});
        return;
    }
    QCOMPARE(m_runner.events, (QStringList{"record " + uiText(286).arg("job"), "flush", "reboot"}));
    QCOMPARE(readFile(QStringLiteral("PARAM.db")), QByteArray("group parameters"));
    const Tree after = tree();
    QCOMPARE(tree(QStringLiteral("cammer11")).keys(), QStringList{"t"});
    QCOMPARE(readFile(QStringLiteral("cammer11/t")), QByteArray("template"));
    QCOMPARE(readFile(QStringLiteral("cammer31/t")), QByteArray("third"));
    QVERIFY(!QFile::exists(QStringLiteral("cammer12"))); // in use, not in the group: starts empty
    QCOMPARE(after.value("cammer15/temp0.bmp"), before.value("cammer15/temp0.bmp"));
    QCOMPARE(readFile(QStringLiteral("sysadd.txt")), QByteArray("1\n"));
    QCOMPARE(QDir().entryList({QStringLiteral(".para*")}, QDir::Hidden | QDir::AllEntries), QStringList{});
}

void TestWizardGroups::journalBesideParameters_data()
{
    QTest::addColumn<bool>("backup");  // else a restore
    QTest::addColumn<bool>("writing"); // the writer is alive, in the middle of its write
    QTest::addColumn<bool>("zeroed");  // a journal of zeros (SQLite ignores it) in place of a hot one
    QTest::addColumn<bool>("fifo");    // a FIFO in place of the journal
    QTest::newRow("restore over PARAM.db with a stale journal") << false << false << false << false;
    QTest::newRow("backup of PARAM.db with a hot journal") << true << false << false << false;
    QTest::newRow("backup of PARAM.db another process is writing") << true << true << false << false;
    QTest::newRow("backup of PARAM.db beside a zeroed journal") << true << false << true << false;
    QTest::newRow("restore over PARAM.db with a FIFO at its journal's path")
        << false << false << false << true;
}

// A write cut short left PARAM.db torn beside its journal. A restore puts the group's file in place
// without that journal, so no later open plays the old file's pages into it; a backup stores the
// file rolled back to its last commit, not torn; while another process is still writing it, the
// backup is refused and no group is made.
void TestWizardGroups::journalBesideParameters()
{
    QFETCH(bool, backup);
    QFETCH(bool, writing);
    QFETCH(bool, zeroed);
    QFETCH(bool, fifo);
    QSqlDatabase::database(QStringLiteral("groupsIn")).close(); // the writer below is the only one
    const QString count = QStringLiteral("select count(*) from cammer0 where name like '%1-%'");
    const QString group = QStringLiteral("paraGroup/job/PARAM.db");
    QVERIFY(QDir().mkpath(QStringLiteral("paraGroup/job")));
    QVERIFY(QFile::copy(QStringLiteral("PARAM.db"), group));
    for (int n = 1; n <= 3; ++n) {
        QVERIFY(execOnDatabase(group, QStringLiteral("insert into cammer0 values('group-%1', '1')").arg(n)));
        QVERIFY(
            execOnDatabase("PARAM.db", QStringLiteral("insert into cammer0 values('kept-%1', '1')").arg(n)));
    }
    QString error;
    if (writing) {
        // Longer than the backup waits for the lock.
        const long writer =
            holdHalfWrittenFor(QStringLiteral("PARAM.db"), {QStringLiteral("delete from cammer0")}, 8000);
        QVERIFY(writer > 0);
        const bool saved = ParaGroups::backup(QStringLiteral("saved"), 2, 4, &error);
        QVERIFY(endChild(writer));
        QVERIFY(!saved);
        QVERIFY2(error.startsWith(QStringLiteral("PARAM.db: its journal cannot be rolled back")),
                 qPrintable(error));
        QVERIFY(!QFile::exists(QStringLiteral("paraGroup/saved")));
        QCOMPARE(QDir().entryList({QStringLiteral(".para*")}, QDir::Hidden | QDir::AllEntries),
                 QStringList{});
        return;
    }
    QString why;
    if (zeroed) {
        QVERIFY(writeFile("PARAM.db-journal", QByteArray(512, '\0')));
    } else if (fifo) {
        QCOMPARE(::mkfifo("PARAM.db-journal", 0644), 0);
    } else {
        QVERIFY2(leaveHotJournal(QStringLiteral("PARAM.db"), {QStringLiteral("delete from cammer0")}, &why),
                 qPrintable(why));
        QVERIFY(countWithoutJournal(QStringLiteral("PARAM.db"), count.arg("kept")) != 3);
    }
    if (backup) {
        QVERIFY2(ParaGroups::backup(QStringLiteral("saved"), 2, 4, &error), qPrintable(error));
        QCOMPARE(countRows(QStringLiteral("paraGroup/saved/PARAM.db"), count.arg("kept")), 3);
        QCOMPARE(countRows(QStringLiteral("PARAM.db"), count.arg("kept")), 3);
    } else {
        const QByteArray groupFile = readFile(group);
        QVERIFY2(ParaGroups::restore(QStringLiteral("job"), 2, 4, &error), qPrintable(error));
        // Opened as the next start opens it: nothing is played into the group's file.
        QVERIFY(execOnDatabase(QStringLiteral("PARAM.db"), QStringLiteral("select count(*) from sysparam")));
        QCOMPARE(readFile(QStringLiteral("PARAM.db")), groupFile);
        QCOMPARE(countRows(QStringLiteral("PARAM.db"), count.arg("group")), 3);
    }
    // A zeroed journal SQLite leaves where it is: harmless, it holds no pages.
    QVERIFY(zeroed || !QFile::exists(QStringLiteral("PARAM.db-journal")));
    // A FIFO is moved aside unopened, never removed.
    struct stat seen;
    const QStringList aside = QDir().entryList({QStringLiteral("PARAM.db-journal.damaged-*")}, QDir::System);
    QCOMPARE(aside.size(), fifo ? 1 : 0);
    QVERIFY(!fifo ||
            (::lstat(QFile::encodeName(aside.first()).constData(), &seen) == 0 && S_ISFIFO(seen.st_mode)));
    QCOMPARE(QDir().entryList({QStringLiteral(".para*")}, QDir::Hidden | QDir::AllEntries), QStringList{});
}

void TestWizardGroups::deleteKeepsTheStoredPosition_data()
{
    QTest::addColumn<int>("stored");
    QTest::addColumn<int>("deleted");
    QTest::addColumn<int>("expected");
    QTest::newRow("a group before the stored one") << 2 << 0 << 1;
    QTest::newRow("the stored group") << 1 << 1 << -1;
    QTest::newRow("a group after the stored one") << 0 << 2 << 0;
}

void TestWizardGroups::deleteKeepsTheStoredPosition()
{
    QFETCH(int, stored);
    QFETCH(int, deleted);
    QFETCH(int, expected);
    QVERIFY(writeFile("paraGroup/a/PARAM.db", "a") && writeFile("paraGroup/b/PARAM.db", "b") &&
            writeFile("paraGroup/c/PARAM.db", "c"));
    m_inForce.paraGroupIndex = stored;
    m_screen = new WizardParaWidget(nullptr);
    m_screen->paraGroupCombo->setCurrentIndex(deleted);
    const QString name = m_screen->paraGroupCombo->currentText();
    m_screen->SlotParaGroupDelete();
    QVERIFY(!QFile::exists("paraGroup/" + name));
    QCOMPARE(m_screen->paraGroupCombo->findText(name), -1);
    QCOMPARE(m_screen->paraGroupCombo->count(), 3);
    QCOMPARE(m_screen->paraGroupNameEdit->text(), m_screen->paraGroupCombo->currentText());
    QCOMPARE(m_inForce.paraGroupIndex, expected);
    QCOMPARE(m_edit.paraGroupIndex, expected);
    QCOMPARE(readFile(QStringLiteral("sysadd.txt")).trimmed().toInt(), stored == expected ? 0 : expected);
}

void TestWizardGroups::factoryReset_data()
{
    QTest::addColumn<QString>("archive");
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
void TestWizardGroups::factoryReset()
{
    QFETCH(QString, archive);
    QFETCH(bool, targetBlocked);
    QFETCH(int, noticeRow);
    const QString path = QStringLiteral("paraGroup/default/20clearsh.tar.gz");
    const QByteArray shipped = readFile(path);
    QVERIFY(shipped.startsWith("\x1f\x8b"));
    if (archive != QLatin1String("shipped"))
        QVERIFY(QFile::remove(path));
    if (archive == QLatin1String("garbage"))
        QVERIFY(writeFile(path, "\x1f\x8b not really gzip"));
    if (archive == QLatin1String("no script"))
        QCOMPARE(ProcessCommandRunner().run("tar", {"-czf", path, "SN.db"}, 30000).exitCode, 0);
    setSystemPathRoot(m_dir->filePath(QStringLiteral("sys")));
    QVERIFY(targetBlocked ? writeFile(m_dir->filePath("sys/root/bin-DOD"), "a file, not the folder")
                          : QDir().mkpath(m_dir->filePath("sys/root/bin-DOD")));
    m_runner.events.clear();
    m_screen = new WizardParaWidget(nullptr);
    m_screen->SlotRestoreFactorySet();
    QCOMPARE(BoxTestPolicy::shownTexts(),
             QStringList{uiText(551) + '?'} + (noticeRow ? QStringList{uiText(noticeRow)} : QStringList{}));
    const QByteArray copied = readFile(m_dir->filePath("sys/root/bin-DOD/newupdate.tar.gz"));
    QCOMPARE(copied, noticeRow ? QByteArray("<missing>") : shipped);
    QCOMPARE(m_runner.events.contains("reboot"), noticeRow == 0);
    if (!noticeRow)
        QCOMPARE(m_runner.events, (QStringList{"tar -tzf " + path, "sync", "reboot"}));
}

void TestWizardGroups::cameraPositions_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("choices"); // chosen item per camera view
    QTest::addColumn<int>("repeated");    // position in the duplicate notice, 0 when saved
    QTest::addColumn<QString>("rows");    // serialNB0..7 afterwards
    const QString old = QStringLiteral("OLD0 OLD1 OLD2 OLD3 OLD4 OLD5 OLD6 OLD7");
    QTest::newRow("swap the first two") << 1 << "1 0 2" << 0 << "SN-B SN-A SN-C 0 0 0 0 0";
    QTest::newRow("rotate, Japanese") << 3 << "2 0 1" << 0 << "SN-B SN-C SN-A 0 0 0 0 0";
    QTest::newRow("NO.2 twice") << 1 << "1 1 2" << 2 << old;
    QTest::newRow("NO.3 twice, later pair") << 0 << "0 2 2" << 3 << old;
    QTest::newRow("one camera") << 1 << "0" << 0 << "SN-A 0 0 0 0 0 0 0";
}

// The choices end up as the serial rows of "SN.db"; a position chosen twice is refused with its
// notice, saves nothing and leaves the window open; the Japanese window is wider.
void TestWizardGroups::cameraPositions()
{
    QFETCH(int, language);
    QFETCH(QString, choices);
    QFETCH(int, repeated);
    QFETCH(QString, rows);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("positionsSn"));
    db.setDatabaseName(QStringLiteral("SN.db"));
    QVERIFY(db.open());
    QSqlQuery sn(db);
    QVERIFY(sn.exec(QStringLiteral("update sysparam set value='OLD'||substr(name, 9)")));
    setSnQueryHook([&sn] { return &sn; });
    setCameraViewIdsHook([] { return QStringList{"SN-A", "SN-B", "SN-C"}; });
    gLanguage = language;
    gCameraCount = choices.split(' ').size();
    {
        WidgetChangeCamera window(nullptr);
        const int width = language == 3 ? 750 : 550;
        QCOMPARE(window.geometry(), QRect(960 - width / 2, 260, width, 560));
        QCOMPARE(window.positionCombos.last()->geometry(),
                 QRect(language == 3 ? 375 : 360, 10 + 60 * (gCameraCount - 1), 160, 50));
        QCOMPARE(window.okButton->geometry(), QRect(30, 490, width - 60, 50));
        window.show();
        for (int i = 0; i < gCameraCount; ++i)
            window.positionCombos.at(i)->setCurrentIndex(choices.split(' ').at(i).toInt());
        window.okButton->click();
        const QStringList notice{uiText(361).arg(repeated)};
        QCOMPARE(BoxTestPolicy::shownTexts(), repeated ? notice : QStringList{});
        QCOMPARE(window.isVisible(), repeated != 0);
    }
    QStringList saved;
    QVERIFY(sn.exec(QStringLiteral("select value from sysparam where name like 'serialNB%' order by name")));
    while (sn.next())
        saved << sn.value(0).toString();
    QCOMPARE(saved.join(' '), rows);
}

QTEST_MAIN(TestWizardGroups)
#include "tst_wizardgroups.moc"

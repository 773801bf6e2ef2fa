// The parameter store on real database files: which word lands in which position of which row, what a
// fresh or damaged database gains, the rows a save must never lose, and the side files.

#include "paramquery.h"
#include "paramstore.h"
#include "paramtestdb.h"
#include "testfiles.h"
#include "testworkdir.h"
#include "uitexttable.h"

#include <QFile>
#include <QtTest>

#include <functional>

namespace {

constexpr int kMachineType = -2; // read into machineType, written from machineTypeEdit
constexpr int kLanguage = -3;    // gLanguage
constexpr int kSpare = 181;

std::vector<int> words(int first, int count)
{
    std::vector<int> v;
    for (int i = 0; i < count; ++i)
        v.push_back(first + i);
    return v;
}
std::vector<int> cat(std::initializer_list<std::vector<int>> parts)
{
    std::vector<int> v;
    for (const auto &p : parts)
        v.insert(v.end(), p.begin(), p.end());
    return v;
}

struct ExpectedRow
{
    QString key;
    std::vector<int> words; // record word number per 1-based position
};

// The stored rows in save order with the record word of each position, written out by hand from the
// published row table and word list (not taken from the store's own table).
const std::vector<ExpectedRow> &expectedRows()
{
    static const std::vector<ExpectedRow> rows = {
        {"trigInDelay", words(56, 8)},
        {"exposeTime", words(0, 4)},
        {"sharp", words(16, 4)},
        {"contrast", words(24, 4)},
        {"adjustPlus", words(8, 4)},
        {"numFailDetect", {kMachineType, 171, 173, 174, kSpare, 175, 176, 179}},
        {"numAllDetect", words(32, 8)},
        {"isPswUsed", {114}},
        {"password", {}},
        {"system1", {101, 116, 110, 112, 111, 172, 126, 120, kSpare}},
        {"system2",
         {113, 118, 165, 119, 127, 128, 134, 136, 133, 141, 142, kSpare, kLanguage, 153, 154, 121, 122,
          129}},
        {"system3", {135, 144, 123, 145, 146, 147, 148, 149, 124, 151, 150}},
        {"system4", {115, 131, 132}},
        {"system5", {4, 5, 12, 13, 20, 21, 28, 29, 138, 180, 139, 274, 140}},
        {"system6", {6, 7, 14, 15, 22, 23, 30, 31, 130, 152, 158, 143}},
        {"system7",
         {161, 162, 163, 166, 92, 93, 94, 164, 95, 168, 155, 207, 156, kSpare, 96, 97, 98, 99, 100, 177}},
        {"system8", cat({{208}, words(217, 8), words(225, 8), {137, 157, 159}})},
        {"system9", cat({words(209, 8), {kSpare, 178}, words(40, 8), {308, 167}})},
        {"system10", cat({words(242, 8), words(250, 8), words(48, 4)})},
        {"system11", cat({words(275, 8), words(291, 8), words(52, 4)})},
        {"system12", cat({{160}, std::vector<int>(19, kSpare)})},
    };
    return rows;
}

bool isStoredWord(int w)
{
    for (const ExpectedRow &r : expectedRows())
        for (int x : r.words)
            if (x == w)
                return true;
    return false;
}

// A record where every stored word holds its own value, inside the range its load rule keeps.
SysParam distinctRecord()
{
    SysParam p;
    for (int w = 0; w < 310; ++w) {
        if (w >= 182 && w <= 206)
            continue;
        if (isStoredWord(w))
            setWordOf(&p, w, 1000 + w);
    }
    for (int c = 0; c < 8; ++c)
        p.temperatureRange[c] = c % 3; // only 0-2 survive the load
    p.templateNum = 42;
    p.filterSize = 43;
    p.minSpot = 44;
    p.frameSpeed = 45;
    p.rotateAngle = 46;
    p.ioPort = 47;
    p.diffAmplify = 4;
    p.detectCount = 5;
    p.motionCorrect = 0;
    p.machineType = 1;
    p.machineTypeEdit = 2;
    p.detectMold = 3;
    std::strcpy(p.password, "pw 'quoted'; --");
    return p;
}

void setUiTextMarkers()
{
    for (int row : {301, 302, 303, 304, 305, 306, 307, 376, 377, 378, 379, 380, 381, 382})
        for (int lang = 0; lang < 4; ++lang)
            UiTextTable[row * 4 + lang] = QStringLiteral("r%1l%2").arg(row).arg(lang);
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

QString zeros(int n)
{
    QStringList l;
    for (int i = 0; i < n; ++i)
        l << QStringLiteral("0");
    return l.join(' ');
}

} // namespace

class TestParamStore : public QObject
{
    Q_OBJECT

    TestWorkDir *m_dir = nullptr;
    RowFile *m_param = nullptr;
    RowFile *m_sn = nullptr;
    int m_moldSide = -100;

    void load(SysParam *p) { loadSysParam(p, m_param->query(), m_sn->query()); }

private slots:
    void init()
    {
        m_dir = new TestWorkDir;
        QVERIFY(m_dir->isValid());
        m_param = new RowFile(m_dir->filePath("PARAM.db"), "tparam");
        m_sn = new RowFile(m_dir->filePath("SN.db"), "tsn");
        gLanguage = 0;
        m_moldSide = -100;
        setMoldSideHook([this](int side) { m_moldSide = side; });
        std::memset(gCameraSerials, 0, sizeof gCameraSerials);
    }
    void cleanup()
    {
        setMoldSideHook({});
        delete m_sn;
        delete m_param;
        delete m_dir;
        m_sn = m_param = nullptr;
        m_dir = nullptr;
        gLanguage = 0;
    }

    void factoryDatabaseLoadsCleanly()
    {
        const int rowsBefore = m_param->rowCount();
        QCOMPARE(rowsBefore, 21);
        SysParam p;
        load(&p);
        QCOMPARE(m_param->rowCount(), 21); // nothing had to be inserted
        QCOMPARE(p.exposeTime[0], 30);
        QCOMPARE(p.templateNum, 10);
        QCOMPARE(p.maxOffset, 8000);
        QCOMPARE(p.screenOffTime, 600);
        QCOMPARE(p.detectCount, 2);
        QCOMPARE(gDetectSlotCount, 2);
        QCOMPARE(p.outputInit[2], 1);
        // Saving the factory set back changes no row text.
        QStringList before;
        for (const ExpectedRow &r : expectedRows())
            before << m_param->value(r.key);
        QVERIFY(saveSysParam(&p, m_param->query()));
        for (int i = 0; i < int(expectedRows().size()); ++i)
            QCOMPARE(m_param->value(expectedRows()[i].key), before[i]);
    }

    void saveWritesEveryWordToItsPosition()
    {
        const SysParam p = distinctRecord();
        gLanguage = 2;
        QVERIFY(saveSysParam(&p, m_param->query()));
        for (const ExpectedRow &r : expectedRows()) {
            if (r.key == "password") {
                QCOMPARE(m_param->value(r.key), QStringLiteral("pw 'quoted'; --"));
                continue;
            }
            QStringList expected;
            for (int w : r.words) {
                const int v = w == kMachineType ? p.machineTypeEdit : w == kLanguage ? 2 : wordOf(&p, w);
                expected << QString::number(v);
            }
            QCOMPARE(m_param->value(r.key), expected.join(' '));
        }
    }

    void roundTripFieldByField()
    {
        const SysParam saved = distinctRecord();
        gLanguage = 2;
        QVERIFY(saveSysParam(&saved, m_param->query()));
        gLanguage = 0;
        QVERIFY(writeTestFile("sysadd.txt", "9\n"));

        SysParam loaded;
        load(&loaded);
        QCOMPARE(gLanguage, 2);
        const SysParam fresh;
        for (int w = 0; w < 310; ++w) {
            if (w >= 182 && w <= 206)
                continue;
            int32_t expected;
            if (w == 169 || w == 170)
                expected = saved.machineTypeEdit; // the chosen type is in force after the restart
            else if (w == 307)
                expected = 9;
            else if (w == 258)
                expected = 4;
            else if (w == 117)
                expected = 0; // no serial rows of nine bytes or more
            else if (w >= 65 && w <= 72)
                expected = w == 65 ? 255 : w == 66 ? 2 : 0; // turntable, all moulds, semi-automatic
            else if (w >= 102 && w <= 109)
                expected = w <= 105 ? 1 : 0;
            else if (isStoredWord(w))
                expected = wordOf(&saved, w);
            else
                expected = wordOf(&fresh, w);
            QVERIFY2(wordOf(&loaded, w) == expected, qPrintable(QStringLiteral("word %1: %2, expected %3")
                                                                    .arg(w)
                                                                    .arg(wordOf(&loaded, w))
                                                                    .arg(expected)));
        }
        QCOMPARE(QByteArray(loaded.password), QByteArray("pw 'quoted'; --"));
        QCOMPARE(m_moldSide, -100); // all moulds: left as it was
    }

    void slotSetUp_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("mold");
        QTest::addColumn<int>("semi");
        QTest::addColumn<int>("prod");
        QTest::addColumn<int>("pulseOnNg");
        QTest::addColumn<int>("trig0");
        QTest::addColumn<int>("trig1");
        QTest::addColumn<QList<int>>("enabled");
        QTest::addColumn<int>("outputIdle"); // outputInit 4-7, -1: as stored
        QTest::addColumn<int>("slotsInUse");
        QTest::addColumn<int>("moldSide"); // -100: unchanged
        QTest::addColumn<int>("moldAfter");
        using L = QList<int>;
        // Standard machine: the mould setting plays no part.
        QTest::newRow("t0 m7 prod2") << 0 << 7 << 0 << 2 << 0 << 0 << 0 << L{2, 1, 0, 0} << 1 << 2 << -100
                                     << 7;
        QTest::newRow("t0 semi pulse")
            << 0 << 1 << 1 << 1 << 1 << 0 << 2 << L{1, 1, 0, 0} << 0 << 2 << -100 << 1;
        QTest::newRow("t0 prod0") << 0 << 0 << 0 << 0 << 0 << 0 << 0 << L{0, 1, 0, 0} << 1 << 2 << -100 << 0;
        // Two-colour machine.
        QTest::newRow("t1 m0 prod2") << 1 << 0 << 0 << 2 << 0 << 0 << 2 << L{1, 1, 0, 0} << -1 << 4 << 1
                                     << 0;
        QTest::newRow("t1 m0 semi") << 1 << 0 << 1 << 0 << 0 << 0 << 2 << L{0, 1, 0, 0} << -1 << 4 << 1 << 0;
        QTest::newRow("t1 m1") << 1 << 1 << 0 << 1 << 0 << 0 << 3 << L{0, 0, 1, 1} << -1 << 4 << 0 << 1;
        QTest::newRow("t1 m1 semi") << 1 << 1 << 1 << 1 << 0 << 0 << 3 << L{0, 0, 1, 1} << -1 << 4 << 0 << 1;
        QTest::newRow("t1 m2") << 1 << 2 << 0 << 1 << 0 << 0 << 255 << L{1, 1, 1, 1} << -1 << 4 << -100 << 2;
        QTest::newRow("t1 m3") << 1 << 3 << 1 << 0 << 0 << 0 << 255 << L{0, 1, 0, 1} << -1 << 4 << -100 << 3;
        QTest::newRow("t1 m7") << 1 << 7 << 0 << 1 << 0 << 0 << 2 << L{1, 1, 0, 0} << -1 << 4 << 1 << 0;
        QTest::newRow("t1 m-1") << 1 << -1 << 0 << 1 << 0 << 0 << 2 << L{1, 1, 0, 0} << -1 << 4 << 1 << 0;
        // Turntable.
        QTest::newRow("t2 m0") << 2 << 0 << 0 << 1 << 0 << 0 << 0 << L{1, 1, 0, 0} << -1 << 4 << 1 << 0;
        QTest::newRow("t2 m0 semi") << 2 << 0 << 1 << 1 << 0 << 0 << 2 << L{1, 1, 0, 0} << -1 << 4 << 1 << 0;
        QTest::newRow("t2 m1") << 2 << 1 << 0 << 2 << 0 << 3 << 3 << L{0, 0, 1, 1} << -1 << 4 << 0 << 1;
        QTest::newRow("t2 m1 semi") << 2 << 1 << 1 << 0 << 0 << 3 << 2 << L{0, 0, 0, 1} << -1 << 4 << 0 << 1;
        QTest::newRow("t2 m2") << 2 << 2 << 0 << 1 << 1 << 255 << 255 << L{1, 1, 1, 1} << -1 << 4 << -100
                               << 2;
        QTest::newRow("t2 m3 semi") << 2 << 3 << 1 << 1 << 0 << 255 << 2 << L{1, 1, 1, 1} << -1 << 4 << -100
                                    << 3;
        QTest::newRow("t2 m7") << 2 << 7 << 0 << 0 << 0 << 0 << 0 << L{0, 1, 0, 0} << -1 << 4 << 1 << 0;
        QTest::newRow("t2 m-1 semi") << 2 << -1 << 1 << 1 << 0 << 0 << 2 << L{1, 1, 0, 0} << -1 << 4 << 1
                                     << 0;
        // An impossible machine type is a standard machine.
        QTest::newRow("t5") << 5 << 1 << 0 << 1 << 0 << 0 << 0 << L{1, 1, 0, 0} << 1 << 2 << -100 << 1;
    }
    void slotSetUp()
    {
        QFETCH(int, type);
        QFETCH(int, mold);
        QFETCH(int, semi);
        QFETCH(int, prod);
        QFETCH(int, pulseOnNg);
        QFETCH(int, trig0);
        QFETCH(int, trig1);
        QFETCH(QList<int>, enabled);
        QFETCH(int, outputIdle);
        QFETCH(int, slotsInUse);
        QFETCH(int, moldSide);
        QFETCH(int, moldAfter);

        QVERIFY(m_param->set("numFailDetect", QStringLiteral("%1 %2 0 0 0 0 0 0").arg(type).arg(mold)));
        QVERIFY(m_param->set("system1", QStringLiteral("%1 %2 0 0 0 0 0 0 0").arg(semi).arg(prod)));
        QVERIFY(m_param->set("system2",
                             QStringLiteral("0 10 3 0 0 0 %1 0 0 0 0 0 0 0 8000 0 12 60").arg(pulseOnNg)));
        // Outputs 4-7 stored as 1 0 1 0, so that both rewrites and "as stored" show.
        QVERIFY(m_param->set("system7", "0 0 0 0 0 0 1 0 0 0 0 0 0 0 1 0 1 0 0 0"));
        gDetectSlotCount = -1;

        SysParam p;
        // Slot words no set-up touches must stay as the constructor left them.
        load(&p);
        QCOMPARE(p.slotTrigInput[0], trig0);
        QCOMPARE(p.slotTrigInput[1], trig1);
        for (int s = 2; s < 8; ++s)
            QCOMPARE(p.slotTrigInput[s], 0);
        for (int s = 0; s < 4; ++s)
            QVERIFY2(p.slotEnabled[s] == enabled[s], qPrintable(QStringLiteral("slot %1").arg(s)));
        for (int s = 4; s < 8; ++s)
            QCOMPARE(p.slotEnabled[s], 0);
        QCOMPARE(p.slotCount, 4);
        QCOMPARE(gDetectSlotCount, slotsInUse);
        const int storedIdle[4] = {1, 0, 1, 0};
        for (int o = 4; o < 8; ++o)
            QCOMPARE(p.outputInit[o], outputIdle < 0 ? storedIdle[o - 4] : outputIdle);
        QCOMPARE(m_moldSide, moldSide);
        QCOMPARE(p.detectMold, moldAfter);
    }

    void outOfRangeMouldIsSavedBackAsLeft()
    {
        QVERIFY(m_param->set("numFailDetect", "1 7 0 0 0 0 0 0"));
        SysParam p;
        load(&p);
        QVERIFY(saveSysParam(&p, m_param->query()));
        QCOMPARE(m_param->numbers("numFailDetect").mid(0, 2), QStringList({"1", "0"}));
    }

    void machineTypeChangeWaitsForTheRestart()
    {
        SysParam p;
        load(&p);
        QCOMPARE(p.machineType, 0);
        p.machineTypeEdit = 1; // the settings page's choice
        QVERIFY(saveSysParam(&p, m_param->query()));
        QCOMPARE(p.machineType, 0);
        QCOMPARE(m_param->numbers("numFailDetect").first(), QStringLiteral("1"));
        SysParam next;
        load(&next);
        QCOMPARE(next.machineType, 1);
        QCOMPARE(next.machineTypeEdit, 1);
        QCOMPARE(gDetectSlotCount, 4);
    }

    void impossibleMachineTypeIsSavedAsStandard()
    {
        QVERIFY(m_param->set("numFailDetect", "5 0 0 0 0 0 0 0"));
        SysParam p;
        load(&p);
        QCOMPARE(p.machineType, 0);
        QCOMPARE(p.machineTypeEdit, 0);
        QVERIFY(saveSysParam(&p, m_param->query()));
        QCOMPARE(m_param->numbers("numFailDetect").first(), QStringLiteral("0"));
    }

    void shortRowReadsMissingNumbersAsZero()
    {
        gLanguage = 3;
        QVERIFY(m_param->set("system2", "1 20 4 5 6 7 0 1 1 1 1 0"));
        SysParam p;
        p.output4Use = 9;
        load(&p);
        QCOMPARE(p.templateNum, 20);
        QCOMPARE(gLanguage, 0);
        QCOMPARE(p.output4Use, 0);
        QCOMPARE(p.maxOffset, 8000);
        QCOMPARE(p.screenOffTime, 0);
        QCOMPARE(p.frameSpeed, 0);
        QCOMPARE(p.inputTimeout, 0);
    }

    void doubledBlanksDoNotShiftPositions()
    {
        QVERIFY(m_param->set("exposeTime", " 11  12   13 14 "));
        QVERIFY(m_param->set("system4", "1\t2  3"));
        QVERIFY(m_param->set("contrast", "1 x 3 4"));
        SysParam p;
        load(&p);
        QCOMPARE(p.exposeTime[0], 11);
        QCOMPARE(p.exposeTime[1], 12);
        QCOMPARE(p.exposeTime[2], 13);
        QCOMPARE(p.exposeTime[3], 14);
        QCOMPARE(p.templateAutoUpdate, 1);
        QCOMPARE(p.filterSize, 2);
        QCOMPARE(p.alarmArea, 3);
        QCOMPARE(p.contrast[1], 0); // malformed: 0, and the next number keeps its place
        QCOMPARE(p.contrast[2], 3);
    }

    void spareTakesTheLastPositionReadAndIsWrittenEverywhere()
    {
        QVERIFY(m_param->set("numFailDetect", "0 2 0 0 3 0 0 0"));
        QVERIFY(m_param->set("system12", "1 5 5 5 5 5 5 5 5 5 5 5 5 5 5 5 5 5 5 5"));
        SysParam p;
        load(&p);
        QCOMPARE(p.spare, 5);
        QCOMPARE(p.angleCorrect, 1);
        QVERIFY(saveSysParam(&p, m_param->query()));
        for (const ExpectedRow &r : expectedRows()) {
            const QStringList n = m_param->numbers(r.key);
            for (size_t i = 0; i < r.words.size(); ++i)
                if (r.words[i] == kSpare)
                    QVERIFY2(n.value(int(i)) == "5", qPrintable(r.key + QString::number(i + 1)));
        }
    }

    void passwordIsStoredAsText_data()
    {
        QTest::addColumn<QByteArray>("password");
        QTest::newRow("quotes") << QByteArray("a'b\"c''");
        QTest::newRow("statement end") << QByteArray("x'; delete from sysparam; --");
        QTest::newRow("backslashes") << QByteArray("\\'\\\\%1?");
        QTest::newRow("latin1") << QByteArray("p\xe4ss\xdf");
        QTest::newRow("empty") << QByteArray("");
        QTest::newRow("99 bytes") << QByteArray(99, 'q');
    }
    void passwordIsStoredAsText()
    {
        QFETCH(QByteArray, password);
        SysParam p;
        load(&p);
        const QString others = m_param->value("system3");
        std::memset(p.password, 0, sizeof p.password);
        std::memcpy(p.password, password.constData(), size_t(password.size()));
        QVERIFY(saveSysParam(&p, m_param->query()));
        QCOMPARE(m_param->rowCount(), 21);
        QCOMPARE(m_param->value("system3"), others);
        QCOMPARE(m_param->value("password").toLatin1(), password);
        SysParam again;
        load(&again);
        QCOMPARE(QByteArray(again.password), password);
    }

    void passwordOfHundredBytesIsIgnored()
    {
        QVERIFY(m_param->set("password", QString(100, 'z')));
        SysParam p;
        std::strcpy(p.password, "kept");
        load(&p);
        QCOMPARE(QByteArray(p.password), QByteArray("kept"));
        QVERIFY(m_param->set("password", QString(99, 'z')));
        load(&p);
        QCOMPARE(QByteArray(p.password), QByteArray(99, 'z'));
    }

    void unterminatedPasswordIsSavedWithinTheField()
    {
        SysParam p;
        load(&p);
        std::memset(p.password, 'k', sizeof p.password); // no NUL anywhere
        p.reserved207 = 0x41414141;
        QVERIFY(saveSysParam(&p, m_param->query()));
        QCOMPARE(m_param->value("password"), QString(100, 'k'));
    }

    void missingLaterRowsAreInsertedOnce()
    {
        for (const char *key : {"system7", "system8", "system9", "system10", "system11", "system12"})
            QVERIFY(m_param->remove(key));
        QVERIFY(m_param->remove("system4"));
        SysParam p;
        load(&p);
        QCOMPARE(p.outputInit[2], 0); // not read from the inserted text at this load
        QCOMPARE(m_param->value("system7"), QStringLiteral("0 0 0 0 0 0 1 0 0 0 0 0 0 0 0 0 0 0 0 0"));
        for (const char *key : {"system8", "system9", "system10", "system11", "system12"})
            QCOMPARE(m_param->value(key), zeros(20));
        QVERIFY(m_param->value("system4").isNull()); // older rows are not made up
        QCOMPARE(p.filterSize, 3);

        SysParam second;
        load(&second);
        QCOMPARE(second.outputInit[2], 1);
        for (const char *key : {"system7", "system8", "system9", "system10", "system11", "system12"})
            QCOMPARE(m_param->count(key), 1);
        QCOMPARE(m_param->rowCount(), 20);
    }

    void saveNeverCreatesRows()
    {
        QVERIFY(m_param->remove("system4"));
        SysParam p;
        load(&p);
        p.exposeTime[0] = 77;
        saveSysParam(&p, m_param->query());
        QVERIFY(m_param->value("system4").isNull());
        QCOMPARE(m_param->numbers("exposeTime").first(), QStringLiteral("77"));
        QCOMPARE(m_param->rowCount(), 20);
    }

    // The rows are one set: a row the database refuses (here a trigger) ends the save and every row
    // stays as it was, and so does a save whose transaction cannot be opened (another one is open on
    // the connection); the caller is told.
    void refusedSaveLeavesTheWholeOldSet_data()
    {
        QTest::addColumn<QString>("trouble");
        QTest::newRow("row refused") << "create trigger refuse before update on sysparam "
                                        "when new.name = 'system4' begin select raise(abort, 'no'); end";
        QTest::newRow("transaction already open") << "BEGIN";
    }
    void refusedSaveLeavesTheWholeOldSet()
    {
        QFETCH(QString, trouble);
        SysParam p;
        load(&p);
        QStringList before;
        for (const char *key : {"exposeTime", "system4", "system11"})
            before << m_param->value(key);
        QSqlQuery other(QSqlDatabase::database(QStringLiteral("tparam")));
        QVERIFY(other.exec(trouble));
        p.filterSize = 55;
        p.exposeTime[0] = 77;
        p.tempHigh[7] = 99;
        QVERIFY(!saveSysParam(&p, m_param->query()));
        if (trouble == QLatin1String("BEGIN"))
            QVERIFY(other.exec(QStringLiteral("COMMIT")));
        QStringList after;
        for (const char *key : {"exposeTime", "system4", "system11"})
            after << m_param->value(key);
        QCOMPARE(after, before);
        SysParam again;
        load(&again);
        QVERIFY(again.exposeTime[0] != 77);
        QCOMPARE(again.filterSize, 3);
    }

    void databaseWithoutTableKeepsConstructorValues()
    {
        RowFile empty(m_dir->filePath("empty.db"), "tempty");
        SysParam p;
        p.exposeTime[1] = 12345; // out of range: the rules still run
        loadSysParam(&p, empty.query(), m_sn->query());
        QCOMPARE(p.exposeTime[1], 30);
        QCOMPARE(p.detectCount, 2);
        QCOMPARE(p.slotEnabled[1], 1);
        QCOMPARE(p.enableDefectDetect, 1);
        QCOMPARE(gDetectSlotCount, 2);
        QVERIFY(!saveSysParam(&p, empty.query()));
    }

    void groupIndexFile()
    {
        QVERIFY(!QFile::exists("sysadd.txt"));
        SysParam p;
        p.paraGroupIndex = 5;
        load(&p);
        QCOMPARE(p.paraGroupIndex, 0);
        QCOMPARE(readFile("sysadd.txt"), QByteArray("0"));

        p.paraGroupIndex = 12;
        saveParamGroupIndex(&p);
        QCOMPARE(readFile("sysadd.txt"), QByteArray("12\n"));
        SysParam q;
        load(&q);
        QCOMPARE(q.paraGroupIndex, 12);

        QVERIFY(writeTestFile("sysadd.txt", "no number"));
        load(&q);
        QCOMPARE(q.paraGroupIndex, 0);
        QCOMPARE(readFile("sysadd.txt"), QByteArray("no number")); // an existing file is only read
        QVERIFY(writeTestFile("sysadd.txt", "  -3 4\n"));
        load(&q);
        QCOMPARE(q.paraGroupIndex, -3);
    }

    void groupIndexUnwritableIsSkipped()
    {
        QVERIFY(QDir().mkdir("sysadd.txt")); // a folder in its place cannot be written
        SysParam p;
        p.paraGroupIndex = 4;
        QVERIFY(!saveParamGroupIndex(&p));
        QVERIFY(QFileInfo("sysadd.txt").isDir());

        // A full disk: the stored number stays, and the caller is told.
        QVERIFY(QDir().rmdir("sysadd.txt"));
        QVERIFY(writeTestFile("sysadd.txt", "7\n"));
        p.paraGroupIndex = 1234;
        QCOMPARE(runWithFileSizeLimit(3, [&p] { return saveParamGroupIndex(&p) ? 1 : 0; }), 0);
        QCOMPARE(readFile("sysadd.txt"), QByteArray("7\n"));
    }

    void ioPointNamesFromFile()
    {
        QVERIFY(writeTestFile("name.txt", "Form open\r\nDoor\n\xe9\x97\xa8\nRSV\nClamp\n"));
        SysParam p;
        load(&p);
        const QStringList expected = {
            "Form open", "Door", QString::fromUtf8("\xe9\x97\xa8"), "RSV", "Clamp", "", "", ""};
        for (int i = 0; i < 8; ++i)
            QCOMPARE(gIoPointNames[i], expected[i]);
    }

    void ioPointNameDefaults_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("language");
        QTest::addColumn<QList<int>>("rows");
        QTest::newRow("standard english") << 0 << 1 << QList<int>{301, 302, 303, 304, 305, 306, 307, 304};
        QTest::newRow("two-colour chinese") << 1 << 0 << QList<int>{301, 302, 376, 377, 305, 378, 307, 304};
        QTest::newRow("turntable japanese") << 2 << 3 << QList<int>{379, 380, 381, 382, 378, 306, 307, 304};
    }
    void ioPointNameDefaults()
    {
        QFETCH(int, type);
        QFETCH(int, language);
        QFETCH(QList<int>, rows);
        setUiTextMarkers();
        QVERIFY(m_param->set("numFailDetect", QStringLiteral("%1 0 0 0 0 0 0 0").arg(type)));
        QStringList system2 = m_param->numbers("system2");
        system2[12] = QString::number(language);
        QVERIFY(m_param->set("system2", system2.join(' ')));
        SysParam p;
        load(&p);
        for (int i = 0; i < 8; ++i)
            QCOMPARE(gIoPointNames[i], QStringLiteral("r%1l%2").arg(rows[i]).arg(language));
    }

    void cameraSerialRows()
    {
        std::strcpy(gCameraSerials[0], "previous0");
        std::strcpy(gCameraSerials[1], "previous1");
        QVERIFY(m_sn->set("serialNB0", "0"));
        QVERIFY(m_sn->set("serialNB1", "12345678"));
        QVERIFY(m_sn->set("serialNB2", "123456789"));
        QVERIFY(m_sn->set("serialNB3", QString(99, 'S')));
        QVERIFY(m_sn->set("serialNB4", QString(100, 'T')));
        QVERIFY(m_sn->set("serialNB5", "DA1234567'x"));
        QVERIFY(m_sn->remove("serialNB6"));
        QVERIFY(m_sn->remove("serialNB7"));
        SysParam p;
        load(&p);
        QCOMPARE(p.cameraSnCount, 3);
        QCOMPARE(QByteArray(gCameraSerials[0]), QByteArray("previous0")); // "0" counts as no camera
        QCOMPARE(QByteArray(gCameraSerials[1]), QByteArray("previous1"));
        QCOMPARE(QByteArray(gCameraSerials[2]), QByteArray("123456789"));
        QCOMPARE(QByteArray(gCameraSerials[3]), QByteArray(99, 'S'));
        QCOMPARE(QByteArray(gCameraSerials[4]), QByteArray(""));
        QCOMPARE(QByteArray(gCameraSerials[5]), QByteArray("DA1234567'x"));
        QCOMPARE(QByteArray(gCameraSerials[6]), QByteArray("0"));
        QCOMPARE(QByteArray(gCameraSerials[7]), QByteArray("0"));
        // The rows as stored, for the hold on saved cameras that did not open.
        const QStringList rows{"0", "12345678", "123456789", QString(99, 'S'), QString(100, 'T'),
                               "DA1234567'x", "0", "0"};
        for (int i = 0; i < 8; ++i)
            QCOMPARE(gCameraSerialRows[i], rows.at(i));
        QCOMPARE(m_sn->value("serialNB6"), QStringLiteral("0"));
        QCOMPARE(m_sn->count("serialNB7"), 1);
        load(&p);
        QCOMPARE(m_sn->count("serialNB7"), 1);
        QCOMPARE(p.cameraSnCount, 3);
    }

    void ensureKeyInsertsOnce()
    {
        ensureSysParamKey("newKey", m_param->query());
        QCOMPARE(m_param->value("newKey"), QStringLiteral("0"));
        QVERIFY(m_param->set("newKey", "7"));
        ensureSysParamKey("newKey", m_param->query());
        QCOMPARE(m_param->count("newKey"), 1);
        QCOMPARE(m_param->value("newKey"), QStringLiteral("7"));
        ensureSysParamKey("a'key", m_param->query());
        QCOMPARE(m_param->value("a'key"), QStringLiteral("0"));
    }

    void installedQueriesAreUsed()
    {
        QSqlQuery *param = &m_param->query(), *sn = &m_sn->query();
        setParamQueryHook([param] { return param; });
        setSnQueryHook([sn] { return sn; });
        QVERIFY(m_param->set("exposeTime", "1 2 3 4"));
        SysParam p;
        loadSysParam(&p);
        QCOMPARE(p.exposeTime[3], 4);
        p.exposeTime[3] = 40;
        QVERIFY(saveSysParam(&p));
        QCOMPARE(m_param->value("exposeTime"), QStringLiteral("1 2 3 40"));
        ensureSysParamKey("other");
        QCOMPARE(m_param->count("other"), 1);
        setParamQueryHook({});
        setSnQueryHook({});
        // Without the main window's queries nothing is read or written.
        SysParam q;
        loadSysParam(&q);
        QCOMPARE(q.exposeTime[3], 0);
        QCOMPARE(q.enableDefectDetect, 1);
        QVERIFY(!saveSysParam(&p));
    }
};

QTEST_GUILESS_MAIN(TestParamStore)
#include "tst_paramstore.moc"

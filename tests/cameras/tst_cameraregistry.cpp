// The camera registry: binding order by saved serials, the mask deciding which back-ends are asked,
// the simulated fallback, and the serial rows written to a real "SN.db" as one set.

#include "camerainterface.h"
#include "cameraregistry.h"
#include "databasecut.h"
#include "inspectionhooks.h"
#include "paramquery.h"
#include "paramstore.h"
#include "startup.h"
#include "testworkdir.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>
#include <cstring>

namespace {

// A back-end that lists fixed cameras and counts how often it is asked.
class ListingBackend : public CameraInterface
{
public:
    ListingBackend(QString iid, QStringList ids) : iid(std::move(iid)), ids(std::move(ids)) {}
    QString getIID() const override { return iid; }
    QList<CameraDeviceInfo> enumerate() override
    {
        ++asked;
        QList<CameraDeviceInfo> found;
        for (const QString &id : ids)
            found.append({found.size(), iid, id});
        return found;
    }
    CameraInterface *create(const CameraDeviceInfo &) override { return nullptr; }
    bool open() override { return false; }
    void close() override {}
    bool startCapture() override { return false; }
    void stopCapture() override {}

    QString iid;
    QStringList ids;
    int asked = 0;
};

void saveSerials(const QStringList &serials)
{
    for (int n = 0; n < 8; ++n) {
        const QByteArray text = n < serials.size() ? serials.at(n).toLatin1() : QByteArrayLiteral("0");
        std::memset(gCameraSerials[n], 0, sizeof gCameraSerials[n]);
        std::memcpy(gCameraSerials[n], text.constData(), size_t(std::min<int>(text.size(), 99)));
        gCameraSerialRows[n] = QString::fromLatin1(text);
    }
}

QStringList idsOf(const QList<CameraDeviceInfo> &list)
{
    QStringList ids;
    for (const CameraDeviceInfo &info : list)
        ids.append(info.id);
    return ids;
}

} // namespace

class TestCameraRegistry : public QObject
{
    Q_OBJECT
private slots:
    void cleanup()
    {
        clearCameraBackends();
        for (int bit : {kCameraBackendMind, kCameraBackendHKHot, kCameraBackendVek})
            setCameraBackendFactory(bit, {});
        saveSerials({});
        gCameraBackendMask = 188;
        setSnQueryHook({});
        setParamQueryHook({});
        setCameraViewIdsHook({});
        inspectionHooks().InsertRecord = nullptr;
        gCameraCount = 0;
    }

    void bindingOrder_data()
    {
        QTest::addColumn<QStringList>("saved");
        QTest::addColumn<QStringList>("found");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("nothing saved: order found")
            << QStringList{} << QStringList{"A", "B", "C"} << QStringList{"A", "B", "C"};
        QTest::newRow("saved cameras first")
            << QStringList{"C", "A"} << QStringList{"A", "B", "C"} << QStringList{"C", "A", "B"};
        QTest::newRow("missing saved camera: positions close up")
            << QStringList{"X", "0", "B"} << QStringList{"A", "B"} << QStringList{"B", "A"};
        QTest::newRow("same id twice: one per position")
            << QStringList{"A"} << QStringList{"B", "A", "A"} << QStringList{"A", "B", "A"};
        QTest::newRow("a saved id matches whole ids only")
            << QStringList{"AB"} << QStringList{"A", "ABC", "AB"} << QStringList{"AB", "A", "ABC"};
    }

    void bindingOrder()
    {
        QFETCH(QStringList, saved);
        QFETCH(QStringList, found);
        QFETCH(QStringList, expected);
        saveSerials(saved);
        QList<CameraDeviceInfo> list;
        for (const QString &id : found)
            list.append({list.size(), QStringLiteral("mindCamera_IID"), id});
        QCOMPARE(idsOf(orderBySavedSerials(list)), expected);
    }

    void maskDecidesWhichBackendsAreAsked_data()
    {
        QTest::addColumn<int>("mask");
        QTest::addColumn<QStringList>("asked");
        QTest::addColumn<QStringList>("listed");
        QTest::newRow("188: all three")
            << 188 << QStringList{"mind", "hot", "vek"} << QStringList{"V2", "H1", "M1", "M2", "V1"};
        QTest::newRow("industrial only")
            << kCameraBackendMind << QStringList{"mind"} << QStringList{"M1", "M2"};
        QTest::newRow("thermal and smart") << (kCameraBackendHKHot | kCameraBackendVek)
                                           << QStringList{"hot", "vek"} << QStringList{"V2", "H1", "V1"};
        QTest::newRow("no back-end bit") << (0x01 | 0x02 | 0x40 | 0x80) << QStringList{} << QStringList{};
    }

    // Only the enabled back-ends are asked; the list is ordered by the saved serials across
    // back-ends; the counts say how many each found; simulated cameras never come from discovery.
    void maskDecidesWhichBackendsAreAsked()
    {
        QFETCH(int, mask);
        QFETCH(QStringList, asked);
        QFETCH(QStringList, listed);
        QMap<QString, ListingBackend *> made;
        auto factory = [&made](const QString &name, QStringList ids) {
            return [&made, name, ids] {
                auto *b = new ListingBackend(name + QStringLiteral("_IID"), ids);
                made.insert(name, b);
                return b;
            };
        };
        setCameraBackendFactory(kCameraBackendMind, factory(QStringLiteral("mind"), {"M1", "M2"}));
        setCameraBackendFactory(kCameraBackendHKHot, factory(QStringLiteral("hot"), {"H1"}));
        setCameraBackendFactory(kCameraBackendVek, factory(QStringLiteral("vek"), {"V1", "V2"}));
        saveSerials({"V2", "H1"});
        gCameraBackendMask = mask;
        discoverCameras();
        discoverCameras(); // prototypes are made once and asked again
        QStringList wasAsked = made.keys();
        std::sort(wasAsked.begin(), wasAsked.end());
        QStringList expectedAsked = asked;
        std::sort(expectedAsked.begin(), expectedAsked.end());
        QCOMPARE(wasAsked, expectedAsked);
        for (const QString &name : asked) {
            QCOMPARE(made.value(name)->asked, 2);
            QVERIFY(gCameraBackendCounts.contains(
                {name + QStringLiteral("_IID"), made.value(name)->ids.size()}));
        }
        QCOMPARE(gCameraBackendCounts.size(), asked.size());
        QCOMPARE(idsOf(gCameraInfoList), listed);
        QVERIFY(!cameraPrototype(QStringLiteral("simulateCamera_IID")));
    }

    void simulatedFallback()
    {
        TestWorkDir dir(TestWorkDir::Empty);
        QVERIFY(QDir().mkpath(QStringLiteral("simcam/1")) && QDir().mkpath(QStringLiteral("simcam/2")));
        gCameraBackendCounts = {{QStringLiteral("mindCamera_IID"), 0}};
        useSimulatedCameras();
        QCOMPARE(idsOf(gCameraInfoList), (QStringList{"simcam/1", "simcam/2"}));
        QVERIFY(cameraPrototype(QStringLiteral("simulateCamera_IID")));
        QCOMPARE(gCameraBackendCounts.last(), qMakePair(QStringLiteral("simulateCamera_IID"), 2));
    }

    // The rows of a real "SN.db": ids bound (a quote is data, not SQL), cut to the 99 Latin-1 bytes
    // the loader reads back, placed at the positions chosen for the views; clear writes "0" everywhere.
    void serialsSavedAndReadBack()
    {
        TestWorkDir dir;
        QVERIFY(dir.isValid());
        {
            QSqlDatabase sn =
                QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("sn-test"));
            sn.setDatabaseName(QStringLiteral("SN.db"));
            QVERIFY(sn.open());
            QSqlDatabase param =
                QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("p-test"));
            param.setDatabaseName(QStringLiteral("PARAM.db"));
            QVERIFY(param.open());
            QSqlQuery snQ(sn);
            QSqlQuery paramQ(param);
            setSnQueryHook([&] { return &snQ; });
            QStringList records;
            inspectionHooks().InsertRecord = [&](const QString &line) { records.append(line); };

            const QString quoted = QStringLiteral("CAM'01');drop table sysparam;--");
            const QString longId = QString(150, QLatin1Char('L'));
            setCameraViewIdsHook([&] {
                return QStringList{quoted, longId, QStringLiteral("ignored-view")};
            });
            gCameraCount = 2;
            gCameraPositions[0] = 5;
            gCameraPositions[1] = 0;
            saveSerials({"OLDSERIAL1", "OLDSERIAL2"});
            saveCameraSerials(0);

            QCOMPARE(records.size(), 8);
            QCOMPARE(records.at(5), QStringLiteral("Save SN 5: ") + quoted);
            QCOMPARE(records.at(1), QStringLiteral("Save SN 1: 0"));
            QCOMPARE(records.at(0), QStringLiteral("Save SN 0: ") + QString(99, QLatin1Char('L')));

            // What the parameter store reads at the next start.
            saveSerials({});
            SysParam block;
            loadSysParam(&block, paramQ, snQ);
            QCOMPARE(QString::fromLatin1(gCameraSerials[5]), quoted);
            QCOMPARE(QString::fromLatin1(gCameraSerials[0]), QString(99, QLatin1Char('L')));
            QCOMPARE(QString::fromLatin1(gCameraSerials[1]), QStringLiteral("0"));
            QCOMPARE(block.cameraSnCount, 2);
            // Both cameras are there again, the long id as saved (cut): neither is held.
            QCOMPARE(gCameraSerialRows[0], QString(99, QLatin1Char('L')));
            QCOMPARE(savedCamerasNotOpen(), 0u);

            records.clear();
            saveCameraSerials(1);
            QVERIFY(snQ.exec(QStringLiteral("select count(*) from sysparam where value='0'")));
            QVERIFY(snQ.next());
            QCOMPARE(snQ.value(0).toInt(), 8);
            QCOMPARE(records.size(), 8);
            for (int n = 0; n < 8; ++n)
                QCOMPARE(QString::fromLatin1(gCameraSerials[n]), QStringLiteral("0"));

            // The eight rows are one set: a row the file refuses leaves every row as it was.
            QVERIFY(snQ.exec(
                QStringLiteral("create trigger refuse before update on sysparam "
                               "when new.name='serialNB3' begin select raise(abort, 'refused'); end")));
            records.clear();
            saveCameraSerials(0);
            QVERIFY(snQ.exec(QStringLiteral("select count(*) from sysparam where value='0'")));
            QVERIFY(snQ.next());
            QCOMPARE(snQ.value(0).toInt(), 8);
            QCOMPARE(gCameraSerialRows[5], QStringLiteral("0"));
            QCOMPARE(records.size(), 8);
            setSnQueryHook({});
        }
        QSqlDatabase::removeDatabase(QStringLiteral("sn-test"));
        QSqlDatabase::removeDatabase(QStringLiteral("p-test"));
        gCameraPositions[0] = 0;
        gCameraPositions[1] = 1;
    }

    // Which saved cameras did not open: every serial row that is not "0", empty or a stand-in's
    // "simcam/<n>" names a real camera, whatever its length; it is missing when no view carries it.
    // While stand-ins run, saving the serials from the views (clear 0) keeps the saved ones.
    void savedCamerasThatDidNotOpen_data()
    {
        QTest::addColumn<QStringList>("saved");
        QTest::addColumn<QStringList>("views");
        QTest::addColumn<quint32>("missing");
        QTest::newRow("serials 0, stand-ins") << QStringList{"0", "0"} << QStringList{"simcam/1"} << 0u;
        QTest::newRow("a real serial, stand-ins")
            << QStringList{"CAM-0001-REAL"} << QStringList{"simcam/1", "simcam/2"} << 0x1u;
        QTest::newRow("two saved, one opened")
            << QStringList{"CAM-0001-REAL", "CAM-0002-REAL"} << QStringList{"CAM-0002-REAL"} << 0x1u;
        QTest::newRow("both opened, in another order")
            << QStringList{"CAM-0001-REAL", "CAM-0002-REAL"} << QStringList{"CAM-0002-REAL", "CAM-0001-REAL"}
            << 0u;
        QTest::newRow("8-character serial, stand-ins")
            << QStringList{"21234567", "21234568"} << QStringList{"simcam/1", "simcam/2"} << 0x3u;
        QTest::newRow("8-character serial, that camera opened")
            << QStringList{"0", "00A1B2C3"} << QStringList{"00A1B2C3"} << 0u;
        QTest::newRow("1-character serial, no camera") << QStringList{"0", "7"} << QStringList{} << 0x2u;
        QTest::newRow("150-character serial, that camera opened")
            << QStringList{QString(150, 'L')} << QStringList{QString(150, 'L')} << 0u;
        QTest::newRow("150-character serial, another camera opened")
            << QStringList{QString(150, 'L')} << QStringList{QString(150, 'M')} << 0x1u;
        QTest::newRow("empty row and \"0\" are none") << QStringList{"", "0"} << QStringList{} << 0u;
        QTest::newRow("a stand-in's id saved is none") << QStringList{"simcam/12345"} << QStringList{} << 0u;
    }
    void savedCamerasThatDidNotOpen()
    {
        QFETCH(QStringList, saved);
        QFETCH(QStringList, views);
        saveSerials(saved);
        setCameraViewIdsHook([views] { return views; });
        gCameraCount = int(views.size());
        QFETCH(quint32, missing);
        QCOMPARE(savedCamerasNotOpen(), missing);
        if (!views.isEmpty() && views.first().startsWith(QLatin1String("simcam/"))) {
            QStringList records;
            inspectionHooks().InsertRecord = [&](const QString &line) { records.append(line); };
            saveCameraSerials(0);
            QVERIFY(records.isEmpty());
            for (int n = 0; n < int(saved.size()); ++n) {
                QCOMPARE(QString::fromLatin1(gCameraSerials[n]), saved.at(n));
                QCOMPARE(gCameraSerialRows[n], saved.at(n));
            }
        }
    }

    // The serials saved by a child cut short after any of its commits, or before any of its syncs:
    // SN.db holds the whole old set or the whole new one.
    void cutSerialSaveLeavesOldOrNewSet()
    {
        TestWorkDir dir;
        QVERIFY(dir.isValid());
        const QString start = dir.filePath(QStringLiteral("start.db"));
        QVERIFY(QFile::copy(dir.filePath(QStringLiteral("SN.db")), start));
        {
            QSqlDatabase sn = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("layout"));
            sn.setDatabaseName(start);
            QVERIFY(sn.open());
            QSqlQuery q(sn);
            for (int n = 0; n < 8; ++n)
                QVERIFY(q.exec(
                    QStringLiteral("update sysparam set value='OLD-SERIAL-%1' where name='serialNB%1'")
                        .arg(n)));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("layout"));
        const QString path = dir.filePath(QStringLiteral("cut/SN.db"));
        int cuts = 0;
        const QString error = checkCutRuns({QStringLiteral("--cut-serials-child"), path}, start, path,
                                           {QStringLiteral("sysparam")}, &cuts);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        qInfo() << "cut runs" << cuts;
        QVERIFY(cuts >= 2);
    }
};

namespace {

// Child: three cameras found at positions 1 to 3 replace the saved set of eight.
int runCutSerialsChild(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    armDatabaseCutFromEnvironment();
    {
        QSqlDatabase sn = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("sn"));
        sn.setDatabaseName(QString::fromLocal8Bit(argv[2]));
        if (!sn.open())
            return 2;
        QSqlQuery snQ(sn);
        setSnQueryHook([&] { return &snQ; });
        setCameraViewIdsHook([] {
            return QStringList{QStringLiteral("NEW-CAMERA-0"), QStringLiteral("NEW-CAMERA-1"),
                               QStringLiteral("NEW-CAMERA-2")};
        });
        gCameraCount = 3;
        for (int i = 0; i < 3; ++i)
            gCameraPositions[i] = i;
        saveCameraSerials(0);
        setSnQueryHook({});
    }
    QSqlDatabase::removeDatabase(QStringLiteral("sn"));
    reportDatabaseWrites();
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc == 3 && qstrcmp(argv[1], "--cut-serials-child") == 0)
        return runCutSerialsChild(argc, argv);
    QCoreApplication app(argc, argv);
    TestCameraRegistry tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}
#include "tst_cameraregistry.moc"

// The region table against a real PARAM.db: the stored row texts, what a reload gives back, and how
// damaged rows from old parameter groups load.

#include "boxtestpolicy.h"
#include "cameraviewdata.h"
#include "cammersingleton.h"
#include "imagesize.h"
#include "paramquery.h"
#include "regiontabledb.h"
#include "testfiles.h"
#include "testworkdir.h"
#include "uitexttable.h"
#include "warnbox.h"

#include <QFile>
#include <QtTest>
#include <cstring>
#include <memory>

namespace {

const QString kConnection = QStringLiteral("roitable-test");

QRect corners(int x1, int y1, int x2, int y2)
{
    return QRect(QPoint(x1, y1), QPoint(x2, y2));
}

// A laid-out working directory whose PARAM.db the region table reaches through the parameter hook.
struct Database
{
    TestWorkDir dir;
    RegionTableDb db{dir.filePath(QStringLiteral("PARAM.db")), kConnection};

    QMap<QString, QString> rows(int camera = 0) const { return db.rows(camera); }
    int rowCount(const QString &name, int camera = 0) const { return db.rowCount(camera, name); }
    void put(const QString &name, const QString &value, int camera = 0) const
    {
        QVERIFY(db.put(camera, name, value));
    }
};

std::unique_ptr<CameraViewData> viewWithScale(float sx, float sy)
{
    auto view = std::make_unique<CameraViewData>();
    view->displayScaleX = sx;
    view->displayScaleY = sy;
    return view;
}

struct TableDeleter
{
    void operator()(CammerSingleton *t) const { delete t; }
};
using Table = std::unique_ptr<CammerSingleton, TableDeleter>;

Table newTable(int camera = 0)
{
    return Table(new CammerSingleton(camera));
}

void setRect(CammerSingleton &t, int k, int j, QRect r)
{
    const int i = CammerSingleton::entry(k, j);
    t.shape[i] = ShapeRect;
    t.rects[i].screenRect = r;
}

} // namespace

class TestRoiTable : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(fillUiTextTable() > 0);
        gLanguage = 1;
        gWarnBox = new WarnBox;
        BoxTestPolicy::enable(1);
    }
    void cleanupTestCase()
    {
        BoxTestPolicy::disable();
        delete gWarnBox;
        gWarnBox = nullptr;
    }
    void init()
    {
        gShowW = 1024;
        gShowH = 768;
        BoxTestPolicy::clearShown();
    }

    void emptyTableLoadsEmptyAndGetsItsSlotRows()
    {
        Database d;
        auto view = viewWithScale(0.8f, 0.75f);
        Table t = newTable(0);
        t->loadRoiTable(view.get());
        for (int k = 0; k < kDetectSlots; ++k)
            QCOMPARE(t->roiCount[k], 0);
        QMap<QString, QString> expected;
        for (int k = 0; k < 8; ++k)
            expected.insert(QStringLiteral("detect%1").arg(k), QStringLiteral("0"));
        QCOMPARE(d.rows(0), expected);
        QVERIFY(d.rows(1).isEmpty()); // another camera's table is not touched
        QVERIFY(BoxTestPolicy::shownTexts().isEmpty());
        t->loadRoiTable(view.get()); // a second load finds the rows and inserts nothing
        QCOMPARE(d.rows(0), expected);
    }

    void saveWritesTheStoredTextsExactly()
    {
        Database d;
        auto view = viewWithScale(1.0f, 1.0f);
        Table t = newTable(2);
        t->loadRoiTable(view.get());
        t->roiCount[0] = 4;
        for (int p = 0; p < 8; ++p)
            t->detectPara[0][p] = p + 1;
        t->detectPara[5][7] = -12;

        int i = CammerSingleton::entry(0, 0);
        t->param1[i] = 3, t->param2[i] = 25, t->param3[i] = 100, t->function[i] = FuncDefect;
        setRect(*t, 0, 0, corners(10, 20, 300, 400));
        t->outN[0] = 2;

        i = CammerSingleton::entry(0, 1);
        t->param1[i] = 5, t->param2[i] = 30, t->param3[i] = 200, t->function[i] = FuncSimilarity;
        t->shape[i] = ShapeCircle;
        t->circles[i].centreX = 200;
        t->circles[i].centreY = 300;
        t->circles[i].outerRadius = 50;
        t->circles[i].innerRadius = 3;
        t->outN[1] = 1;

        i = CammerSingleton::entry(0, 2);
        t->param1[i] = 1, t->param2[i] = 2, t->param3[i] = 3, t->function[i] = FuncIgnoreArea;
        t->shape[i] = ShapePolygon;
        const QPoint tri[3] = {{100, 100}, {200, 100}, {150, 180}};
        t->polygons[i] = RoiPolygon(3, tri);

        i = CammerSingleton::entry(0, 3);
        t->param1[i] = 9, t->param2[i] = 8, t->param3[i] = 7, t->function[i] = FuncSpot;
        t->shape[i] = 7;
        t->outN[3] = 3;

        t->saveRoiTable();
        QMap<QString, QString> expected;
        expected.insert(QStringLiteral("detect0"), QStringLiteral("4 1 2 3 4 5 6 7 8"));
        for (int k = 1; k < 8; ++k)
            expected.insert(QStringLiteral("detect%1").arg(k), QStringLiteral("0 0 0 0 0 0 0 0 0"));
        expected.insert(QStringLiteral("detect5"), QStringLiteral("0 0 0 0 0 0 0 0 -12"));
        expected.insert(QStringLiteral("ROI0-0"), QStringLiteral("3 25 100 0 1 2 0 10 20 300 400"));
        expected.insert(QStringLiteral("ROI0-1"), QStringLiteral("5 30 200 6 4 1 0 200 300 196658"));
        expected.insert(QStringLiteral("ROI0-2"), QStringLiteral("1 2 3 2 2 0 3 100 100 200 100 150 180 "));
        expected.insert(QStringLiteral("ROI0-3"), QStringLiteral("9 8 7 1 7 3 "));
        QCOMPARE(d.rows(2), expected);

        // Saving again updates the same rows rather than adding new ones.
        t->saveRoiTable();
        QCOMPARE(d.rows(2), expected);
        QCOMPARE(d.rowCount(QStringLiteral("ROI0-0"), 2), 1);

        // What comes back.
        auto view2 = viewWithScale(0.5f, 0.5f);
        Table back = newTable(2);
        back->loadRoiTable(view2.get());
        QCOMPARE(back->roiCount[0], 4);
        QCOMPARE(back->detectPara[0][7], 8);
        QCOMPARE(back->detectPara[5][7], -12);
        i = CammerSingleton::entry(0, 0);
        QCOMPARE(back->rects[i].screenRect, corners(10, 20, 300, 400));
        QCOMPARE(back->rects[i].imageRect, corners(20, 40, 601, 801));
        QCOMPARE(view2->roiMasks[0][0].cols, 582);
        QCOMPARE(view2->roiMasks[0][0].rows, 762);
        QCOMPARE(back->outN[0], 2);
        i = CammerSingleton::entry(0, 1);
        QCOMPARE(back->shape[i], int(ShapeCircle));
        QCOMPARE(back->function[i], int(FuncSimilarity));
        QCOMPARE(back->circles[i].outerRadius, 50);
        QCOMPARE(back->circles[i].innerRadius, 3);
        QCOMPARE(back->circles[i].screenRect, corners(150, 250, 249, 349));
        QCOMPARE(view2->roiMasks[0][1].rows, 200);
        i = CammerSingleton::entry(0, 2);
        QCOMPARE(back->polygons[i].count, 3);
        QCOMPARE(back->polygons[i].points[2], QPoint(150, 180));
        QCOMPARE(back->polygons[i].imagePoints[2], QPoint(300, 360));
        QCOMPARE(back->polygons[i].imageRect, corners(200, 200, 399, 359));
        QCOMPARE(view2->roiMasks[0][2].size(), cv::Size(200, 160));
        i = CammerSingleton::entry(0, 3);
        QCOMPARE(back->shape[i], 7);
        QCOMPARE(back->param1[i], 9);
        QVERIFY(view2->roiMasks[0][3].empty()); // no geometry, no mask
        QCOMPARE(back->outN[3], 3);
        QVERIFY(BoxTestPolicy::shownTexts().isEmpty());
    }

    void loweredCountDeletesThatSlotsSurplusRowsOnly()
    {
        Database d;
        auto view = viewWithScale(1.0f, 1.0f);
        Table t = newTable(0);
        t->loadRoiTable(view.get());
        for (int k : {0, 1}) {
            t->roiCount[k] = 5;
            for (int j = 0; j < 5; ++j)
                setRect(*t, k, j, corners(10 + j, 10, 50, 50));
        }
        QVERIFY(t->saveRoiTable());
        d.put(QStringLiteral("ROI0-49"), QStringLiteral("stale"));
        QCOMPARE(d.rows().size(), 8 + 10 + 1);

        t->roiCount[0] = 2;
        t->saveRoiTable();
        const QMap<QString, QString> rows = d.rows();
        for (int j = 0; j < 5; ++j) {
            QCOMPARE(rows.contains(QStringLiteral("ROI0-%1").arg(j)), j < 2);
            QVERIFY(rows.contains(QStringLiteral("ROI1-%1").arg(j)));
        }
        QVERIFY(!rows.contains(QStringLiteral("ROI0-49")));
        QCOMPARE(rows.value(QStringLiteral("detect0")), QStringLiteral("2 0 0 0 0 0 0 0 0"));
        QCOMPARE(rows.value(QStringLiteral("ROI1-4")), QStringLiteral("0 0 0 0 1 0 0 14 10 50 50"));

        // 49 regions: the table's last row goes as well.
        d.put(QStringLiteral("ROI0-49"), QStringLiteral("stale"));
        t->roiCount[0] = 49;
        QVERIFY(t->saveRoiTable());
        QVERIFY(d.rows().contains(QStringLiteral("ROI0-48")));
        QVERIFY(!d.rows().contains(QStringLiteral("ROI0-49")));
    }

    void savingACountAbove50WritesOnlyTheTablesRoom()
    {
        Database d;
        auto view = viewWithScale(1.0f, 1.0f);
        Table t = newTable(0);
        t->loadRoiTable(view.get());
        t->roiCount[7] = 60;
        t->polygons[CammerSingleton::entry(7, 1)].count = 9000;
        t->shape[CammerSingleton::entry(7, 1)] = ShapePolygon;
        t->saveRoiTable();
        const QMap<QString, QString> rows = d.rows();
        QCOMPARE(rows.value(QStringLiteral("detect7")), QStringLiteral("60 0 0 0 0 0 0 0 0"));
        QVERIFY(rows.contains(QStringLiteral("ROI7-49")));
        QVERIFY(!rows.contains(QStringLiteral("ROI7-50")));
        QCOMPARE(rows.value(QStringLiteral("ROI7-1")).split(QLatin1Char(' '), Qt::SkipEmptyParts).size(),
                 7 + 2 * kMaxPolygonPoints);
        // And the next load refuses the count.
        Table back = newTable(0);
        back->loadRoiTable(view.get());
        QCOMPARE(back->roiCount[7], 0);
        QCOMPARE(BoxTestPolicy::shownTexts().size(), 1);
    }

    void outOfRangeCountsWarnAndLoadEmpty_data()
    {
        QTest::addColumn<QString>("slotRow");
        QTest::newRow("51") << QStringLiteral("51 0 0 0 0 0 0 0 0");
        QTest::newRow("-3") << QStringLiteral("-3");
        QTest::newRow("huge") << QStringLiteral("2147483647");
    }
    void outOfRangeCountsWarnAndLoadEmpty()
    {
        QFETCH(QString, slotRow);
        Database d;
        d.put(QStringLiteral("detect3"), slotRow);
        d.put(QStringLiteral("ROI3-0"), QStringLiteral("3 25 100 0 1 0 0 10 20 300 400"));
        d.put(QStringLiteral("detect4"), QStringLiteral("1"));
        auto view = viewWithScale(1.0f, 1.0f);
        Table t = newTable(0);
        t->loadRoiTable(view.get());
        QCOMPARE(BoxTestPolicy::shownTexts(), QStringList{QStringLiteral("Camera parameter file error!")});
        QCOMPARE(t->roiCount[3], 0);
        QVERIFY(view->roiMasks[3][0].empty());
        QCOMPARE(t->roiCount[4], 1); // later slots still load
        QCOMPARE(t->rects[CammerSingleton::entry(4, 0)].screenRect, corners(50, 50, 100, 100));
        QCOMPARE(d.rowCount(QStringLiteral("ROI3-0")), 1); // the rows stay until the next save
    }

    void damagedRegionRows_data()
    {
        QTest::addColumn<QString>("row");
        QTest::addColumn<int>("shape");
        QTest::addColumn<int>("function");
        QTest::addColumn<int>("param2");
        QTest::addColumn<QRect>("screen"); // rectangle or circle bounds
        QTest::addColumn<QSize>("mask");
        const QRect dflt = corners(50, 50, 100, 100);
        QTest::newRow("plain rectangle") << "3 25 100 0 1 0 0 10 20 300 400" << 1 << 0 << 25
                                         << corners(10, 20, 300, 400) << QSize(291, 381);
        QTest::newRow("coordinates 1 and gShowW-2 are clamped")
            << "4 26 101 5 1 0 0 1 1 1022 766" << 1 << 5 << 26 << corners(3, 3, 1021, 765)
            << QSize(1019, 763);
        QTest::newRow("inverted rectangle loads as stored, mask empty")
            << "3 25 100 0 1 0 0 300 400 10 20" << 1 << 0 << 25 << corners(300, 400, 10, 20) << QSize(0, 0);
        QTest::newRow("polygon of 0 vertices gets the default")
            << "7 7 7 4 2 1 0" << 1 << 0 << 25 << dflt << QSize(51, 51);
        QTest::newRow("polygon of 9000 vertices gets the default")
            << "7 7 7 4 2 1 9000 10 10 20 20 30 10" << 1 << 0 << 25 << dflt << QSize(51, 51);
        QTest::newRow("radius 65535 is cut to the screen")
            << "3 25 100 0 4 0 0 500 400 65535" << 4 << 0 << 25 << corners(-524, -624, 1523, 1423)
            << QSize(2048, 2048);
        QTest::newRow("inner radius above the outer is cut")
            << "3 25 100 0 4 0 0 500 400 2147483647" << 4 << 0 << 25 << corners(-524, -624, 1523, 1423)
            << QSize(2048, 2048);
        QTest::newRow("ring") << "3 25 100 0 4 0 0 500 400 196658" << 4 << 0 << 25
                              << corners(450, 350, 549, 449) << QSize(100, 100);
        QTest::newRow("missing numbers read as 0") << "3 25" << 0 << 0 << 25 << QRect() << QSize(0, 0);
        QTest::newRow("words read as 0") << "x y z" << 0 << 0 << 0 << QRect() << QSize(0, 0);
        QTest::newRow("rectangle cut short")
            << "3 25 100 0 1 0 0 10" << 1 << 0 << 25 << corners(10, 3, 3, 3) << QSize(0, 0);
    }
    void damagedRegionRows()
    {
        QFETCH(QString, row);
        QFETCH(int, shape);
        QFETCH(int, function);
        QFETCH(int, param2);
        QFETCH(QRect, screen);
        QFETCH(QSize, mask);
        Database d;
        d.put(QStringLiteral("detect0"), QStringLiteral("1"));
        d.put(QStringLiteral("ROI0-0"), row);
        auto view = viewWithScale(1.0f, 1.0f);
        Table t = newTable(0);
        t->loadRoiTable(view.get());
        QCOMPARE(t->roiCount[0], 1);
        QCOMPARE(t->shape[0], shape);
        QCOMPARE(t->function[0], function);
        QCOMPARE(t->param2[0], param2);
        if (shape == ShapeRect)
            QCOMPARE(t->rects[0].screenRect, screen);
        else if (shape == ShapeCircle)
            QCOMPARE(t->circles[0].screenRect, screen);
        QCOMPARE(QSize(view->roiMasks[0][0].cols, view->roiMasks[0][0].rows), mask);
        QVERIFY(BoxTestPolicy::shownTexts().isEmpty());
    }

    // A damaged page met while the table's rows are read is no "no row": loadRoiTable says the table
    // could not be read (the camera view then holds the camera instead of judging it on default
    // regions) and leaves it with no regions. A select meets the page when it lies before the row it
    // looks for: before the slot rows, or between them and a region row (every slot row then reads
    // well, and only the region's select fails).
    void damagedPageIsNotNoRow_data()
    {
        QTest::addColumn<bool>("slotRowsFirst");
        QTest::newRow("before the slot rows") << false;
        QTest::newRow("between the slot rows and a region row") << true;
    }
    void damagedPageIsNotNoRow()
    {
        QFETCH(bool, slotRowsFirst);
        TestWorkDir dir;
        const QString path = dir.filePath(QStringLiteral("PARAM.db"));
        {
            RegionTableDb db(path, kConnection);
            for (int k = 0; k < kDetectSlots && slotRowsFirst; ++k)
                QVERIFY(db.put(0, QStringLiteral("detect%1").arg(k), QString::number(k == 0 ? 1 : 0)));
            // Pages of other rows, which a full scan reads in the order they were written.
            for (int n = 0; n < 300; ++n)
                QVERIFY(db.put(0, QStringLiteral("pad%1").arg(n), QString(500, QLatin1Char('x'))));
            if (!slotRowsFirst)
                QVERIFY(db.put(0, QStringLiteral("detect0"), QStringLiteral("1")));
            QVERIFY(db.put(0, QStringLiteral("ROI0-0"), QStringLiteral("0 215 500 5 1 0 0 96 132 440 372")));
        }
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadWrite));
            const QByteArray header = file.read(100);
            QCOMPARE(header.left(15), QByteArray("SQLite format 3"));
            qint64 pageSize = (quint8(header.at(16)) << 8) | quint8(header.at(17));
            if (pageSize == 1)
                pageSize = 65536;
            const qint64 pages = file.size() / pageSize;
            QVERIFY(pages > 40);
            // A page in the middle of the padding rows: its page type becomes one SQLite does not know.
            QVERIFY(file.seek((pages * 2 / 3 - 1) * pageSize));
            QCOMPARE(file.write("\xff", 1), qint64(1));
        }
        RegionTableDb db(path, kConnection);
        auto view = viewWithScale(1.0f, 1.0f);
        Table t = newTable(0);
        QVERIFY(!t->loadRoiTable(view.get()));
        for (int k = 0; k < kDetectSlots; ++k)
            QCOMPARE(t->roiCount[k], 0);
    }

    void largePolygonRowLoadsClamped()
    {
        Database d;
        QStringList numbers{QStringLiteral("3 25 100 2 2 0 8096")};
        for (int v = 0; v < 8096; ++v)
            numbers << QStringLiteral("%1 %2").arg(v % 2 ? 1 : 2000).arg(v % 3 ? 100 : 900);
        d.put(QStringLiteral("detect0"), QStringLiteral("1"));
        d.put(QStringLiteral("ROI0-0"), numbers.join(QLatin1Char(' ')));
        auto view = viewWithScale(1.0f, 1.0f);
        Table t = newTable(0);
        t->loadRoiTable(view.get());
        QCOMPARE(t->polygons[0].count, 8096);
        QCOMPARE(t->polygons[0].points[0], QPoint(1021, 765));
        QCOMPARE(t->polygons[0].points[1], QPoint(3, 100));
        QCOMPARE(t->function[0], int(FuncIgnoreArea));
        QCOMPARE(view->roiMasks[0][0].size(), cv::Size(1018, 665));
    }

    void missingRegionRowGetsTheDefault()
    {
        Database d;
        d.put(QStringLiteral("detect1"), QStringLiteral("2 9 9 9 9 9 9 9 9"));
        d.put(QStringLiteral("ROI1-0"), QStringLiteral("1 2 3 5 1 3 0 10 10 20 20"));
        auto view = viewWithScale(2.0f, 2.0f);
        Table t = newTable(0);
        t->loadRoiTable(view.get());
        const int i = CammerSingleton::entry(1, 1);
        QCOMPARE(t->param1[i], 3);
        QCOMPARE(t->param2[i], 25);
        QCOMPARE(t->param3[i], 100);
        QCOMPARE(t->function[i], 0);
        QCOMPARE(t->shape[i], 1);
        QCOMPARE(t->outN[1], 0);
        QCOMPARE(t->rects[i].screenRect, corners(50, 50, 100, 100));
        QCOMPARE(t->rects[i].imageRect, corners(25, 25, 50, 50)); // 51 / 2 rounds to even: 26 -> 25..50
        QCOMPARE(view->roiMasks[1][1].size(), cv::Size(26, 26));
        QCOMPARE(d.rowCount(QStringLiteral("ROI1-1")), 0); // no row is written for a default
    }

    void ngOutputIsSharedBySlotsAndRangeChecked()
    {
        Database d;
        d.put(QStringLiteral("detect0"), QStringLiteral("2"));
        d.put(QStringLiteral("ROI0-0"), QStringLiteral("3 25 100 0 1 1 0 10 10 20 20"));
        d.put(QStringLiteral("ROI0-1"), QStringLiteral("3 25 100 0 1 7 0 10 10 20 20"));
        d.put(QStringLiteral("detect3"), QStringLiteral("1"));
        d.put(QStringLiteral("ROI3-0"), QStringLiteral("3 25 100 0 1 2 0 10 10 20 20"));
        auto view = viewWithScale(1.0f, 1.0f);
        Table t = newTable(0);
        t->loadRoiTable(view.get());
        QCOMPARE(t->outN[0], 2); // slot 3 loaded after slot 0
        QCOMPARE(t->outN[1], 0); // 7 is not an output
    }

    void unusableScaleLoadsWithoutMasks()
    {
        Database d;
        d.put(QStringLiteral("detect0"), QStringLiteral("3"));
        d.put(QStringLiteral("ROI0-0"), QStringLiteral("3 25 100 0 1 0 0 10 10 20 20"));
        d.put(QStringLiteral("ROI0-1"), QStringLiteral("3 25 100 0 4 0 0 100 100 30"));
        d.put(QStringLiteral("ROI0-2"), QStringLiteral("3 25 100 0 2 0 3 10 10 90 10 50 90"));
        auto view = viewWithScale(0.0f, 0.0f);
        Table t = newTable(0);
        t->loadRoiTable(view.get());
        QCOMPARE(t->roiCount[0], 3);
        QCOMPARE(t->rects[0].screenRect, corners(10, 10, 20, 20));
        for (int j = 0; j < 3; ++j)
            QVERIFY(view->roiMasks[0][j].empty());
        Table noOwner = newTable(0);
        noOwner->loadRoiTable(nullptr);
        QCOMPARE(noOwner->roiCount[0], 3);
    }

    void withoutDatabaseEverySlotIsEmpty()
    {
        setParamQueryHook({});
        auto view = viewWithScale(1.0f, 1.0f);
        Table t = newTable(0);
        t->loadRoiTable(view.get());
        for (int k = 0; k < kDetectSlots; ++k)
            QCOMPARE(t->roiCount[k], 0);
        t->roiCount[0] = 1;
        QVERIFY(!t->saveRoiTable()); // nothing to write to: the caller is told
    }

    // A table that cannot be read is told apart from one that holds no regions: the load says so,
    // holds no region, and writes nothing into it (a slot row inserted into a table of another shape
    // would pass for a readable table at the next start).
    void unreadableTableIsNotAnEmptyOne_data()
    {
        QTest::addColumn<QString>("statement"); // run on PARAM.db before the load; empty: none
        QTest::addColumn<bool>("read");
        QTest::addColumn<int>("slot0Count");
        QTest::newRow("regions stored") << QString() << true << 1;
        QTest::newRow("no row at all") << QStringLiteral("delete from cammer0") << true << 0;
        QTest::newRow("table dropped") << QStringLiteral("drop table cammer0") << false << 0;
        QTest::newRow("table of another shape")
            << QStringLiteral("alter table cammer0 rename column value to val") << false << 0;
        QTest::newRow("no parameter database") << QStringLiteral("-") << false << 0;
    }
    void unreadableTableIsNotAnEmptyOne()
    {
        QFETCH(QString, statement);
        QFETCH(bool, read);
        QFETCH(int, slot0Count);
        Database d;
        d.put(QStringLiteral("detect0"), QStringLiteral("1"));
        d.put(QStringLiteral("ROI0-0"), QStringLiteral("3 25 100 0 1 0 0 10 10 20 20"));
        if (statement == QLatin1String("-"))
            setParamQueryHook({});
        else if (!statement.isEmpty())
            QVERIFY(execOnDatabase(d.dir.filePath(QStringLiteral("PARAM.db")), statement));
        auto view = viewWithScale(1.0f, 1.0f);
        Table t = newTable(0);
        QCOMPARE(t->loadRoiTable(view.get()), read);
        QCOMPARE(t->roiCount[0], slot0Count);
        for (int k = 1; k < kDetectSlots; ++k)
            QCOMPARE(t->roiCount[k], 0);
        if (statement.startsWith(QLatin1String("alter")))
            QCOMPARE(d.db.rowCount(0, QStringLiteral("detect1")), 0); // no slot row written into it
    }

    // What the region editor relies on: a whole copy of a loaded table compares equal byte for byte,
    // wherever the copy's own stale contents stood, and one moved vertex makes the tables differ.
    void wholeCopiesCompareAsRawBytes()
    {
        Database d;
        d.put(QStringLiteral("detect0"), QStringLiteral("2 1 2 3 4 5 6 7 8"));
        d.put(QStringLiteral("ROI0-0"), QStringLiteral("3 25 100 0 1 2 0 10 20 300 400"));
        d.put(QStringLiteral("ROI0-1"), QStringLiteral("1 2 3 2 2 0 4 100 100 200 100 200 180 100 180"));
        d.put(QStringLiteral("detect7"), QStringLiteral("1"));
        d.put(QStringLiteral("ROI7-0"), QStringLiteral("1 2 3 0 2 1 3 500 500 600 500 550 600"));
        auto view = viewWithScale(0.5f, 0.5f);
        Table live = newTable(0);
        live->loadRoiTable(view.get());
        QCOMPARE(live->polygons[CammerSingleton::entry(7, 0)].points[2], QPoint(550, 600));

        Table edit = newTable(0);
        // Leftovers of an earlier edit, in vertex room the live table never used, in the last
        // polygon record and in a rectangle: the copy must not keep any of them.
        edit->polygons[0].points[kMaxPolygonPoints - 1] = QPoint(7, 7);
        edit->polygons[kRoiEntries - 1].imagePoints[4000] = QPoint(1, 2);
        edit->polygons[CammerSingleton::entry(0, 1)].points[4] = QPoint(9, 9);
        edit->rects[kRoiEntries - 1].selected = true;
        QVERIFY(std::memcmp(live.get(), edit.get(), sizeof(CammerSingleton)) != 0);
        edit->copyWhole(*live);
        QCOMPARE(std::memcmp(live.get(), edit.get(), sizeof(CammerSingleton)), 0);
        QCOMPARE(edit->roiCount[0], 2);

        RoiPolygon &moved = edit->polygons[CammerSingleton::entry(7, 0)];
        moved.points[1] += QPoint(1, 0);
        QVERIFY(std::memcmp(live.get(), edit.get(), sizeof(CammerSingleton)) != 0);
        live->copyWhole(*edit); // saving copies the edit copy back whole
        QCOMPARE(std::memcmp(live.get(), edit.get(), sizeof(CammerSingleton)), 0);
        QCOMPARE(live->polygons[CammerSingleton::entry(7, 0)].points[1], QPoint(601, 500));

        Table other = newTable(2);
        QVERIFY(std::memcmp(live.get(), other.get(), sizeof(CammerSingleton)) != 0);
    }

    void handedOverAsAMetaType()
    {
        Table t = newTable(3);
        const QVariant v = QVariant::fromValue(t.get());
        QCOMPARE(v.value<CammerSingleton *>(), t.get());
        QCOMPARE(QMetaType::type("CammerSingleton *"), qMetaTypeId<CammerSingleton *>());
        QCOMPARE(v.value<CammerSingleton *>()->cameraIndex, 3);
    }
};

QTEST_MAIN(TestRoiTable)
#include "tst_roitable.moc"

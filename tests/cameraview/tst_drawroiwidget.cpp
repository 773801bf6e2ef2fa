// The region editor driven as a setter drives it: synthetic touches draw and drag regions on the edit
// table, saving reaches the live table, the database, the detector and the operation record, templates
// go to disk up to their limit, and the alarm review writes its codes through the machine-cycle hooks.

#include "boxtestpolicy.h"
#include "cameradetector.h"
#include "cameradeviceinfo.h"
#include "cammersingleton.h"
#include "cammerwidget.h"
#include "captionfit.h"
#include "combobox.h"
#include "databasecut.h"
#include "drawroiwidget.h"
#include "edit.h"
#include "editorhooks.h"
#include "imagesize.h"
#include "inspectionhooks.h"
#include "iolink.h"
#include "numberinput.h"
#include "readability.h"
#include "regiontabledb.h"
#include "startup.h"
#include "sysparam.h"
#include "testworkdir.h"
#include "uitexttable.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QLabel>
#include <QLayout>
#include <QMouseEvent>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardItemModel>
#include <QStyleOptionComboBox>
#include <QtTest>
#include <cstring>
#include <memory>

namespace {

struct Fixture
{
    TestWorkDir dir;
    RegionTableDb db;
    CameraDeviceInfo info{0, QStringLiteral("simulateCamera_IID"), QStringLiteral("SN-1")};
    SysParam param;
    std::vector<std::unique_ptr<CammerWidget>> views;
    std::unique_ptr<DrawROIWidget> editor;
    QStringList records;
    QStringList calls;
    int imageState[8][8] = {};
    int alarmState = 2;

    // `paramDb`: the parameter database to run on instead of the working folder's own.
    explicit Fixture(int cameras = 1, QSize screen = QSize(640, 480), int language = 1,
                     const QString &paramDb = QString())
        : db(paramDb.isEmpty() ? dir.filePath(QStringLiteral("PARAM.db")) : paramDb,
             QStringLiteral("drawroi-test"))
    {
        gShowW = screen.width();
        gShowH = screen.height();
        gImageW = 320;
        gImageH = 240;
        gColorCamera = 0;
        gTemplateLimit = 3;
        gDetectSlotCount = 2;
        gLanguage = language;
        param.enableDefectDetect = 1;
        param.enableIgnoreArea = 1;
        param.slotEnabled[0] = 1;
        param.motionCorrect = -1;
        gSysParam = &param;
        BoxTestPolicy::enable(1);
        BoxTestPolicy::clearShown();
        inspectionHooks().InsertRecord = [this](const QString &line) { records << line; };
        EditorCycleHooks &h = editorCycleHooks();
        h.RunAlgorithm = [this](int c, int s) { calls << QStringLiteral("run %1 %2").arg(c).arg(s); };
        h.CheckNG = [this] { calls << QStringLiteral("check"); };
        h.imageState = [this](int c, int s) -> int & { return imageState[c][s]; };
        h.currentSlot = [] { return 1; };
        h.alarmState = [this]() -> int & { return alarmState; };
        h.sendSyncTempList = [this](const QJsonObject &o) {
            calls << QStringLiteral("sync %1 %2").arg(o["camera"].toInt()).arg(o["detect"].toInt());
        };
        QVector<CammerWidget *> list;
        for (int c = 0; c < cameras; ++c) {
            views.push_back(std::make_unique<CammerWidget>(nullptr, c, &info));
            list << views.back().get();
        }
        editor = std::make_unique<DrawROIWidget>(nullptr);
        editor->setCameraViews(list);
        editor->openPage(false);
        editor->setEditSlot(0);
    }
    ~Fixture()
    {
        editor.reset();
        views.clear();
        editorCycleHooks() = EditorCycleHooks();
        inspectionHooks().InsertRecord = nullptr;
        BoxTestPolicy::disable();
        gSysParam = nullptr;
        gImageW = kDefaultImageW;
        gImageH = kDefaultImageH;
    }
    CammerSingleton &edit() { return *views[0]->editTable; }
    CammerSingleton &live() { return *views[0]->liveTable; }
    // A touch on the picture at screen point p (the regions' coordinates), where the page shows it.
    void touch(QEvent::Type type, QPoint p)
    {
        const QRectF area = editor->pictureArea();
        const QPointF onPage(area.left() + p.x() * area.width() / gShowW,
                             area.top() + p.y() * area.height() / gShowH);
        QMouseEvent e(type, onPage, type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(editor.get(), &e);
    }
    void drag(QPoint from, QPoint to)
    {
        touch(QEvent::MouseButtonPress, from);
        touch(QEvent::MouseMove, (from + to) / 2);
        touch(QEvent::MouseMove, to);
        touch(QEvent::MouseButtonRelease, to);
    }
    void tap(QPoint p) { drag(p, p); }
    bool shown(int row, const QString &arg = QString()) const
    {
        return BoxTestPolicy::shownTexts().contains(arg.isNull() ? uiText(row) : uiText(row).arg(arg));
    }
};

// Child: opens the editor on both cameras, gives slot 1 five regions and slot 2 three, each changed,
// and saves. The parent cuts it short at a sync or a commit of PARAM.db.
int runCutSaveChild(int argc, char *argv[])
{
    QApplication app(argc, argv);
    armDatabaseCutFromEnvironment();
    fillUiTextTable();
    {
        Fixture f(2, QSize(640, 480), 1, QString::fromLocal8Bit(argv[2]));
        for (auto &v : f.views) {
            CammerSingleton &t = *v->editTable;
            t.roiCount[0] = 5;
            t.roiCount[1] = 3;
            for (int k = 0; k < 2; ++k)
                for (int j = 0; j < t.roiCount[k]; ++j) {
                    const int i = CammerSingleton::entry(k, j);
                    t.param1[i] = 70 + 10 * k + j;
                    t.shape[i] = ShapeRect;
                    t.function[i] = FuncDefect;
                    t.rects[i].screenRect.setCoords(100 + 20 * j, 200, 115 + 20 * j, 260);
                }
        }
        f.editor->SlotSaveData();
        if (f.shown(741))
            return 3;
    }
    reportDatabaseWrites();
    return 0;
}

} // namespace

class TstDrawRoiWidget : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { fillUiTextTable(); }

    void touchesDrawEachShape_data()
    {
        QTest::addColumn<int>("shape");
        QTest::addColumn<QRect>("screen"); // screen bounding box the record must hold
        QTest::addColumn<int>("maskPixels");
        QTest::newRow("rectangle by a drag") << int(ShapeRect) << QRect(QPoint(100, 80), QPoint(300, 200))
                                             << 100 * 60;
        QTest::newRow("circle from centre to rim") << int(ShapeCircle) << QRect(QPoint(160, 160), QPoint(239, 239))
                                                   << -1;
        QTest::newRow("polygon by taps") << int(ShapePolygon) << QRect() << -1;
    }
    void touchesDrawEachShape()
    {
        QFETCH(int, shape);
        QFETCH(QRect, screen);
        QFETCH(int, maskPixels);
        Fixture f;
        if (shape == ShapeRect) {
            f.editor->setDrawMode(DrawROIWidget::DrawRect);
            f.drag({300, 200}, {100, 80}); // drawn backwards: the record is normalised
            QCOMPARE(f.edit().rects[0].screenRect, screen);
            QCOMPARE(f.edit().rects[0].imageRect, QRect(50, 40, 100, 60));
        } else if (shape == ShapeCircle) {
            f.editor->setDrawMode(DrawROIWidget::DrawCircle);
            f.drag({200, 200}, {200, 240});
            QCOMPARE(f.edit().circles[0].outerRadius, 40);
            QCOMPARE(f.edit().circles[0].screenRect, screen);
            QCOMPARE(f.edit().circles[0].imageOuterRadius, 20);
        } else {
            f.editor->setDrawMode(DrawROIWidget::DrawPolygon);
            for (QPoint p : {QPoint(100, 100), QPoint(300, 100), QPoint(300, 300), QPoint(1, 300)})
                f.tap(p);
            QVERIFY(f.editor->endPolygon());
            QCOMPARE(f.edit().polygons[0].count, 4);
            QCOMPARE(f.edit().polygons[0].points[3], QPoint(3, 300)); // clamped into the margin
            QCOMPARE(f.edit().polygons[0].imagePoints[1], QPoint(150, 50));
        }
        QCOMPARE(f.edit().roiCount[0], 1);
        QCOMPARE(f.edit().shape[0], shape);
        QCOMPARE(f.edit().function[0], int(FuncDefect));
        QCOMPARE(f.editor->selectedRoi(), 0);
        QVERIFY(!f.views[0]->editRoiMasks[0][0].empty());
        if (maskPixels > 0)
            QCOMPARE(cv::countNonZero(f.views[0]->editRoiMasks[0][0]), maskPixels);
        QCOMPARE(f.live().roiCount[0], 0); // nothing reaches the live table before saving
        QVERIFY(f.editor->hasUnsavedChanges());
    }

    void dragsAreClampedAndLimitsRefused()
    {
        Fixture f;
        f.editor->setDrawMode(DrawROIWidget::DrawRect);
        f.drag({100, 100}, {200, 200});
        f.drag({100, 100}, {-50, -40}); // top-left handle past the screen edge
        QCOMPARE(f.edit().rects[0].screenRect, QRect(QPoint(3, 3), QPoint(200, 200)));
        f.drag({100, 100}, {700, 100}); // the body dragged right keeps its size at the edge
        QCOMPARE(f.edit().rects[0].screenRect, QRect(QPoint(440, 3), QPoint(637, 200)));
        QVERIFY(f.editor->hasUnsavedChanges());
        // The selection alone is no change.
        f.live() = f.edit();
        f.editor->selectRoi(-1);
        f.editor->selectRoi(0);
        QVERIFY(!f.editor->hasUnsavedChanges());
        // A tap is no drawing.
        f.editor->setDrawMode(DrawROIWidget::DrawRect);
        f.tap({300, 300});
        QVERIFY(f.shown(37));
        QCOMPARE(f.edit().roiCount[0], 1);
        // The 21st vertex of a polygon is refused with its note.
        f.editor->setDrawMode(DrawROIWidget::DrawPolygon);
        for (int i = 0; i < 21; ++i)
            f.tap({20 + 10 * i, 50 + (i % 2) * 40});
        QVERIFY(f.shown(35));
        QVERIFY(f.editor->endPolygon());
        QCOMPARE(f.edit().polygons[1].count, 20);
        // The 51st region is refused with its note.
        f.edit().roiCount[0] = 50;
        f.editor->selectRoi(0);
        QVERIFY(!f.editor->copySelected());
        QVERIFY(f.shown(36));
        QCOMPARE(f.edit().roiCount[0], 50);
        // Parameters stay in the editor range, functions only when offered.
        f.edit().roiCount[0] = 2;
        f.editor->selectRoi(0);
        f.editor->setParameter(1, 99);
        f.editor->setParameter(3, -5);
        QCOMPARE(f.edit().param1[0], 10);
        QCOMPARE(f.edit().param3[0], 0);
        QVERIFY(!f.editor->setFunction(FuncSpot));
        QVERIFY(f.editor->setFunction(FuncIgnoreArea));
        QCOMPARE(f.edit().function[0], int(FuncIgnoreArea));
        // The spot function's gray range: minimum in the low byte, maximum in the next one.
        f.param.enableSpotDetect = 1;
        QVERIFY(f.editor->setFunction(FuncSpot));
        f.editor->setParameter(5, 200);
        f.editor->setParameter(1, 20);
        QCOMPARE(f.edit().param1[0], 200 * 256 + 20);
        f.editor->setParameter(1, 999);
        QCOMPARE(f.edit().param1[0], 200 * 256 + 255);
    }

    void savingReachesLiveTableDatabaseDetectorAndRecord()
    {
        Fixture f;
        f.editor->setDrawMode(DrawROIWidget::DrawRect);
        f.drag({100, 80}, {300, 200});
        f.editor->setOutput(2);
        // Leaving with unsaved changes asks first; "no" leaves the live table as it was.
        BoxTestPolicy::queueAnswer(0);
        f.editor->SlotReturn();
        QVERIFY(f.shown(72));
        QVERIFY(!f.editor->isVisible());
        QCOMPARE(f.live().roiCount[0], 0);

        f.editor->openPage(true);
        QCOMPARE(f.edit().roiCount[0], 0); // opening copies the live table whole
        f.param.machineType = 1;           // two-colour: slots 0 and 1 go onto 2 and 3 as well
        f.editor->setDrawMode(DrawROIWidget::DrawRect);
        f.drag({100, 80}, {300, 200});
        QVERIFY(f.editor->setFunction(FuncIgnoreArea));
        f.editor->SlotSaveData();
        QVERIFY(!f.shown(741));
        QCOMPARE(std::memcmp(&f.live(), &f.edit(), sizeof(CammerSingleton)), 0);
        QCOMPARE(cv::countNonZero(f.views[0]->roiMasks[0][0]), 100 * 60);
        QCOMPARE(f.live().roiCount[2], 1);
        QCOMPARE(f.live().shape[CammerSingleton::entry(2, 0)], int(ShapeRect));
        QCOMPARE(cv::countNonZero(f.views[0]->roiMasks[2][0]), 100 * 60);
        QCOMPARE(f.db.rows(0).value(QStringLiteral("detect0")).section(' ', 0, 0), QStringLiteral("1"));
        QVERIFY(f.db.rows(0).contains(QStringLiteral("ROI0-0")));
        // The detector was rebuilt on the saved regions: the ignore region is no longer inspected.
        QCOMPARE(int(f.views[0]->detector->validMask[0].at<uchar>(60, 100)), 0);
        QCOMPARE(int(f.views[0]->detector->validMask[0].at<uchar>(10, 10)), 255);
        QCOMPARE(f.records, QStringList{QStringLiteral(
                                "Detection 1 of camera 1 Added rectangular  area 1, function is Ignore Area")});

        // A change of an existing region is recorded with its function and what moved.
        f.editor->selectRoi(0);
        QVERIFY(f.editor->setFunction(FuncDefect));
        f.editor->setParameter(2, 77);
        f.editor->moveSelected(0, 10);
        QVERIFY(f.editor->hasUnsavedChanges());
        BoxTestPolicy::queueAnswer(1);
        f.editor->SlotReturn();
        QVERIFY(!f.editor->hasUnsavedChanges());
        QCOMPARE(f.records.size(), 2);
        QVERIFY2(f.records[1].startsWith(QStringLiteral(
                     "Detection 1 of camera 1 Changed the rectangular  area 1, Changing the function from Ignore "
                     "Areato Defect")),
                 qPrintable(f.records[1]));
        QVERIFY(f.records[1].contains(QStringLiteral(", Changing the sensitivity  from 30 to 77")));
        QVERIFY(f.records[1].endsWith(QStringLiteral(",Detection position has been modified")));
    }

    // Regions that did not reach PARAM.db still rule this run, and the setter hears they will not last.
    // One Save is one transaction over every camera it saves: the first statement that fails leaves
    // every table as it was, and a transaction that cannot be opened writes nothing.
    void unsavedRegionsAreShown_data()
    {
        QTest::addColumn<QString>("trouble");
        QTest::newRow("table gone") << "alter table cammer0 rename to elsewhere";
        QTest::newRow("second camera's table gone") << "alter table cammer1 rename to elsewhere";
        QTest::newRow("database read-only") << "PRAGMA query_only = ON";
        QTest::newRow("transaction already open on the connection") << "BEGIN";
    }
    void unsavedRegionsAreShown()
    {
        QFETCH(QString, trouble);
        Fixture f(2);
        const QMap<QString, QString> before = f.db.rows(0);
        for (int c = 0; c < 2; ++c) {
            QVERIFY(f.editor->setCurrentCamera(c));
            f.editor->setDrawMode(DrawROIWidget::DrawRect);
            f.drag({100, 80}, {300, 200});
        }
        // A second query on the editor's connection, as another writer of the run would hold it.
        QSqlQuery other(QSqlDatabase::database(QStringLiteral("drawroi-test")));
        QVERIFY(other.exec(trouble));
        f.editor->SlotSaveData();
        QCOMPARE(f.live().roiCount[0], 1);
        QCOMPARE(f.views[1]->liveTable->roiCount[0], 1);
        QVERIFY(f.shown(741));
        if (trouble == QLatin1String("BEGIN"))
            QVERIFY(other.exec(QStringLiteral("COMMIT")));
        QVERIFY(other.exec(QStringLiteral("PRAGMA query_only = OFF")));
        if (!trouble.startsWith(QLatin1String("alter table cammer0")))
            QCOMPARE(f.db.rows(0), before);
    }

    // A Save cut short by a kill after any of its commits, or before any of its syncs, leaves PARAM.db
    // with the whole old regions of both cameras or the whole new ones.
    void cutSaveLeavesOldOrNewRegions()
    {
        TestWorkDir dir;
        QVERIFY(dir.isValid());
        const QString start = dir.filePath(QStringLiteral("start.db"));
        QVERIFY(QFile::copy(dir.filePath(QStringLiteral("PARAM.db")), start));
        QVERIFY(RegionTableDb::layOutTwoSlots(start));
        const QString path = dir.filePath(QStringLiteral("cut/PARAM.db"));
        int cuts = 0;
        const QString error = checkCutRuns({QStringLiteral("--cut-save-child"), path}, start, path,
                                           {QStringLiteral("cammer0"), QStringLiteral("cammer1")}, &cuts);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        qInfo() << "cut runs" << cuts;
        QVERIFY(cuts >= 2);
    }

    void templatesUpToTheLimitDeleteOneAndAll()
    {
        Fixture f;
        for (int i = 0; i < 4; ++i)
            f.editor->SlotAddTemp();
        QCOMPARE(f.views[0]->templateCount[0], 3);
        QVERIFY(f.shown(670, QStringLiteral("3")));
        QCOMPARE(f.calls.count(QStringLiteral("sync 0 0")), 3);
        for (int n = 0; n < 3; ++n)
            QVERIFY(QFile::exists(f.views[0]->templateFile(0, n)));
        f.editor->showTemplate(1);
        QCOMPARE(f.editor->shownTemplate(), 1);
        QVERIFY(!gTemplateTimeText.isEmpty());
        QVERIFY(f.editor->deleteTemplate());
        QVERIFY(!QFile::exists(f.views[0]->templateFile(0, 1)));
        QCOMPARE(f.views[0]->templateCount[0], 2);
        QCOMPARE(f.records.last(), QStringLiteral("Camera 1 has deleted the 2 template "));
        // The picture goes back to the template before it; template 0 is kept for resampling.
        QCOMPARE(f.editor->shownTemplate(), 0);
        QVERIFY(!f.editor->deleteTemplate());
        QVERIFY(f.shown(68));
        f.editor->SlotTempDeleteAll();
        for (int n = 0; n < 3; ++n)
            QVERIFY(!QFile::exists(f.views[0]->templateFile(0, n)));
        QCOMPARE(f.views[0]->templateCount[0], 0);
        // A limit of 1 has its own message.
        gTemplateLimit = 1;
        f.editor->SlotAddTemp();
        f.editor->SlotAddTemp();
        QVERIFY(f.shown(258));
    }

    void reviewCodesAndReCheckThroughTheHooks_data()
    {
        QTest::addColumn<int>("action");
        QTest::addColumn<int>("before");
        QTest::addColumn<QVector<int>>("codes"); // imageState of slot 1 for cameras 0..2 afterwards
        QTest::newRow("don't detect, this camera") << 0 << 3 << QVector<int>{3, 4, 3};
        QTest::newRow("don't detect, all cameras") << 1 << 3 << QVector<int>{4, 4, 4};
        QTest::newRow("add as template") << 2 << 3 << QVector<int>{3, 5, 3};
        QTest::newRow("switched to the mould") << 3 << 3 << QVector<int>{6, 6, 6};
        QTest::newRow("save as OK") << 4 << 3 << QVector<int>{3, 7, 3};
        QTest::newRow("save as OK with NG picture pending") << 4 << 9 << QVector<int>{9, 10, 9};
        QTest::newRow("camera without alarm refused") << 4 << 2 << QVector<int>{2, 2, 2};
    }
    void reviewCodesAndReCheckThroughTheHooks()
    {
        QFETCH(int, action);
        QFETCH(int, before);
        QFETCH(QVector<int>, codes);
        Fixture f(3);
        for (int c = 0; c < 3; ++c)
            f.imageState[c][1] = before;
        // During an alarm the page opens on the first camera with a kept NG picture, showing it.
        f.imageState[0][1] = 0;
        f.views[1]->ngCount[1] = 5;
        f.editor->openPage(false);
        QCOMPARE(f.editor->currentCamera(), before == 2 ? 0 : 1);
        QCOMPARE(f.editor->sourceIndex(), before == 2 ? 0 : 2);
        QCOMPARE(f.editor->editSlot(), 1);
        f.imageState[0][1] = before;
        QVERIFY(f.editor->setCurrentCamera(1));
        const bool done = action == 0   ? f.editor->dontDetect(false)
                          : action == 1 ? f.editor->dontDetect(true)
                          : action == 2 ? f.editor->addAsTemplate()
                          : action == 3 ? f.editor->switchToMould()
                                        : f.editor->saveAsOk();
        QCOMPARE(done, codes[1] != before);
        QCOMPARE(f.shown(107), !done);
        for (int c = 0; c < 3; ++c)
            QCOMPARE(f.imageState[c][1], codes[c]);
        // The re-check button runs the cameras not dealt with, then combines the result.
        f.calls.clear();
        f.editor->reCheckButton()->click();
        QStringList expected;
        for (int c = 0; c < 3; ++c)
            if (codes[c] == before)
                expected << QStringLiteral("run %1 1").arg(c);
        expected << QStringLiteral("check");
        QCOMPARE(f.calls, expected);
    }

    void safetyDoorRechecksOnlyWhenItClearsAlarms()
    {
        for (int clears : {0, 1}) {
            Fixture f;
            f.param.safetyDoorClearsAlarm = clears;
            gSafetyDoorOpened = true;
            f.editor->pollSafetyDoor();
            QVERIFY(!gSafetyDoorOpened);
            const QStringList expected = clears ? QStringList{QStringLiteral("run 0 1"), QStringLiteral("check")}
                                                : QStringList();
            QCOMPARE(f.calls, expected);
        }
    }

    // A colour camera's frame holds the bytes R, G, B, 0 per pixel: a red frame is red in the editor.
    void colourFrameShowsItsColours()
    {
        Fixture f;
        CammerWidget &v = *f.views[0];
        QVERIFY(v.setImageGeometry(320, 240, true));
        std::vector<uchar> &frame = v.grabBuffer();
        for (size_t i = 0; i + 3 < frame.size(); i += 4) {
            frame[i] = 230;    // R
            frame[i + 1] = 20; // G
            frame[i + 2] = 10; // B
            frame[i + 3] = 0;
        }
        f.editor->setSourceIndex(0);
        const QImage page = f.editor->grab().toImage();
        const QColor px = page.pixelColor(f.editor->pictureArea().center().toPoint());
        QVERIFY2(std::abs(px.red() - 230) <= 2 && std::abs(px.green() - 20) <= 2 && std::abs(px.blue() - 10) <= 2,
                 qPrintable(px.name()));
    }

    // During an alarm review the editor shows what the last pass found, as the camera view does: a
    // failed region and its spots in red, a passed region in green; a parameter preview is drawn on
    // the editor's picture. Checked on the page's pixels around each outline.
    void lastPassAndPreviewOnTheEditorPicture()
    {
        Fixture f;
        CammerWidget &v = *f.views[0];
        f.editor->setDrawMode(DrawROIWidget::DrawRect);
        f.drag({100, 80}, {300, 200});
        f.editor->setDrawMode(DrawROIWidget::DrawRect);
        f.drag({400, 280}, {600, 440});
        f.editor->SlotSaveData();
        f.editor->selectRoi(-1);
        // The last pass: region 1 failed with one spot at image (20, 100)-(40, 110), region 2 passed.
        v.roiPass[0][0] = false;
        v.roiPass[0][1] = true;
        v.spots[0][0][0].x1 = 1;
        v.spots[0][0][1] = {20, 100, 40, 110};
        // A preview result over image (250, 20)-(269, 39).
        v.previewShown = true;
        for (int y = 20; y < 40; ++y)
            for (int x = 250; x < 270; ++x)
                v.resultBuffer[size_t(y) * 320 + size_t(x)] = 255;
        const QImage page = f.editor->grab().toImage();
        const QRectF area = f.editor->pictureArea();
        // Screen point to page point; the image is half the screen's size.
        const auto onPage = [&](QPoint screen) {
            return QPoint(int(area.left() + screen.x() * area.width() / gShowW),
                          int(area.top() + screen.y() * area.height() / gShowH));
        };
        const auto near = [&](QPoint screen, auto test) {
            const QPoint c = onPage(screen);
            for (int dy = -3; dy <= 3; ++dy)
                for (int dx = -3; dx <= 3; ++dx)
                    if (test(page.pixelColor(c + QPoint(dx, dy))))
                        return true;
            return false;
        };
        const auto red = [](const QColor &c) { return c.red() > 180 && c.green() < 90 && c.blue() < 90; };
        const auto green = [](const QColor &c) { return c.green() > 180 && c.red() < 90; };
        QVERIFY(near({100, 140}, red));    // left edge of the failed region
        QVERIFY(!near({100, 140}, green));
        QVERIFY(near({400, 360}, green));  // left edge of the passed region
        QVERIFY(!near({400, 360}, red));
        QVERIFY(near({40, 210}, red));     // left edge of the spot, image (20, 105)
        QVERIFY(red(page.pixelColor(onPage({520, 60})))); // inside the preview, image (260, 30)
        QVERIFY(!red(page.pixelColor(onPage({560, 120})))); // beside it
        // Leaving the editor takes the preview with it: the camera view no longer shows it.
        f.editor->closePage();
        QVERIFY(!v.previewShown);
    }

    // The panel lies beside the picture, and its buttons keep their places whichever region is
    // selected (a ring shows a parameter more than a rectangle, a spot region two more).
    void panelBesideThePictureButtonsInPlace()
    {
        Fixture f;
        f.param.enableSpotDetect = 1;
        const QRectF area = f.editor->pictureArea();
        QWidget *panel = f.editor->findChild<QWidget *>(QStringLiteral("roiPanel"));
        QVERIFY(panel);
        QVERIFY(area.right() <= panel->geometry().left());
        QCOMPARE(area.width() / area.height(), double(gShowW) / gShowH);
        f.editor->setDrawMode(DrawROIWidget::DrawRect);
        f.drag({100, 80}, {300, 200});
        f.editor->setDrawMode(DrawROIWidget::DrawCircle);
        f.drag({400, 300}, {400, 360});
        const auto places = [&] {
            QCoreApplication::sendPostedEvents(); // the panel's layout settles
            QList<QRect> out;
            for (QPushButton *b : panel->findChildren<QPushButton *>())
                out << b->geometry();
            return out;
        };
        f.editor->selectRoi(-1);
        const QList<QRect> none = places();
        f.editor->selectRoi(0);
        QCOMPARE(places(), none);
        f.editor->selectRoi(1);
        QCOMPARE(places(), none);
        QVERIFY(f.editor->setFunction(FuncSpot));
        QCOMPARE(places(), none);
        // Where the right edge of the screen is shown, no panel widget takes the touch.
        for (QPoint screen : {QPoint(630, 10), QPoint(630, 470), QPoint(500, 240)}) {
            const QPoint onPage(int(area.left() + screen.x() * area.width() / gShowW),
                                int(area.top() + screen.y() * area.height() / gShowH));
            QVERIFY2(!f.editor->childAt(onPage), qPrintable(QStringLiteral("%1,%2").arg(onPage.x()).arg(onPage.y())));
        }
    }

    // During a latched alarm the title names the alarm as the operation record does (rows 151 and
    // 152) in red above the camera and slot, and it and every entry of the picture source read whole
    // in their widgets, in text of at least 20 px with the box's font, in all four languages.
    void alarmTitleAndSourceReadWhole_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<int>("alarmState");
        QTest::addColumn<QString>("firstLine"); // empty: no alarm line
        QTest::newRow("Simplified Chinese") << 0 << 2 << QStringLiteral("1号相机、3号相机 报警");
        QTest::newRow("English") << 1 << 2 << QStringLiteral("Camera 1 Camera 3 Alarm");
        QTest::newRow("Traditional Chinese") << 2 << 2 << QStringLiteral("1號相機、3號相機 報警");
        QTest::newRow("Japanese") << 3 << 2 << QStringLiteral("1号カメラ、3号カメラ アラーム");
        QTest::newRow("Japanese, no alarm") << 3 << 0 << QString();
        QTest::newRow("English, no alarm") << 1 << 0 << QString();
    }
    void alarmTitleAndSourceReadWhole()
    {
        QFETCH(int, language);
        QFETCH(int, alarmState);
        QFETCH(QString, firstLine);
        QApplication::setFont(QFont(QStringLiteral("WenQuanYi Micro Hei"))); // as the box does
        Fixture f(3, QSize(1920, 1080), language); // the box's screen
        f.alarmState = alarmState;
        f.imageState[0][1] = 3; // cameras 1 and 3 (by number) kept their NG pictures of the mould slot
        f.imageState[2][1] = 9;
        f.editor->openPage(false);
        auto *title = f.editor->findChild<QLabel *>(QStringLiteral("roiTitle"));
        auto *source = f.editor->findChild<QComboBox *>(QStringLiteral("roiSource"));
        QWidget *panel = f.editor->findChild<QWidget *>(QStringLiteral("roiPanel"));
        QVERIFY(title && source && panel);
        panel->resize(panel->width(), 1080); // the box's screen height
        f.editor->show();
        panel->layout()->activate();
        QCoreApplication::sendPostedEvents();

        const QStringList lines = title->text().split(QLatin1Char('\n'));
        const QString regular = uiText(73).arg(1).arg(2) + QStringLiteral(" 0/50");
        const QStringList expected =
            firstLine.isEmpty() ? QStringList{regular} : QStringList{firstLine, regular};
        QCOMPARE(lines, expected);
        QVERIFY(title->font().pixelSize() >= 20);
        const QFontMetrics tm(title->font());
        const QRect needed = tm.boundingRect(QRect(0, 0, title->contentsRect().width(), 10000),
                                             Qt::TextWordWrap, title->text());
        QVERIFY2(needed.width() <= title->contentsRect().width() &&
                     needed.height() <= title->contentsRect().height(),
                 qPrintable(QStringLiteral("title needs %1 x %2, has %3 x %4")
                                .arg(needed.width())
                                .arg(needed.height())
                                .arg(title->contentsRect().width())
                                .arg(title->contentsRect().height())));
        // Red while the alarm is latched, not otherwise.
        const QImage shot = title->grab().toImage().convertToFormat(QImage::Format_RGB32);
        int redPixels = 0;
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x) {
                const QRgb px = shot.pixel(x, y);
                redPixels += qRed(px) > 150 && qGreen(px) < 60 && qBlue(px) < 60;
            }
        QCOMPARE(redPixels > 20, alarmState == 2);

        QVERIFY(source->font().pixelSize() >= 20);
        QStyleOptionComboBox option;
        option.initFrom(source);
        option.editable = false;
        const QRect field = source->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                            QStyle::SC_ComboBoxEditField, source);
        const QFontMetrics sm(source->font());
        for (int i = 0; i < source->count(); ++i)
            QVERIFY2(sm.horizontalAdvance(source->itemText(i)) <= field.width(),
                     qPrintable(QStringLiteral("\"%1\" needs %2 px, the field has %3")
                                    .arg(source->itemText(i))
                                    .arg(sm.horizontalAdvance(source->itemText(i)))
                                    .arg(field.width())));
    }

    // At the box's 1920 x 1080, in every language and for every function a region can have: every
    // caption of the panel fits its widget with the box's font at 20 px or more, and every button is at
    // least a fingertip (48 px) high, every field and combo box as much inside its 1 px frame.
    void captionsFitInEveryLanguage()
    {
        if (!QFontDatabase().families().contains(QStringLiteral("WenQuanYi Micro Hei")))
            QSKIP("fonts-wqy-microhei is not installed");
        QApplication::setFont(QFont(QStringLiteral("WenQuanYi Micro Hei"))); // as the box does
        QStringList problems;
        for (int language = 0; language < 4; ++language) {
            Fixture f(1, QSize(1920, 1080), language);
            for (int *on : {&f.param.enableSpotDetect, &f.param.enableManualLocate, &f.param.enableBlackArea,
                            &f.param.enableWhiteArea, &f.param.enableSimilarity, &f.param.enableWhiteNumber,
                            &f.param.tempAlarm, &f.param.angleCorrect})
                *on = 1;
            f.editor->show();
            f.editor->setDrawMode(DrawROIWidget::DrawCircle);
            f.drag({400, 300}, {400, 400});
            QWidget *panel = f.editor->findChild<QWidget *>(QStringLiteral("roiPanel"));
            QVERIFY(panel);
            QCOMPARE(panel->height(), 1080);
            for (int function : {0, 1, 2, 3, 4, 5, 6, 7, 9, 10}) {
                f.edit().function[CammerSingleton::entry(0, 0)] = function;
                f.editor->selectRoi(0);
                QCoreApplication::sendPostedEvents();
                panel->layout()->activate();
                for (const QString &p : captionfit::misfits(panel, 20))
                    problems
                        << QStringLiteral("language %1, function %2: %3").arg(language).arg(function).arg(p);
                for (QWidget *w : panel->findChildren<QWidget *>()) {
                    const bool field = qobject_cast<Edit *>(w) || qobject_cast<QComboBox *>(w);
                    if ((qobject_cast<QPushButton *>(w) || field) && w->isVisibleTo(panel) &&
                        w->height() - (field ? 2 : 0) < 48)
                        problems << QStringLiteral("language %1: %2 %3 px high%4")
                                        .arg(language)
                                        .arg(QLatin1String(w->metaObject()->className()))
                                        .arg(w->height())
                                        .arg(field ? QStringLiteral(" with its frame") : QString());
                }
            }
        }
        problems.removeDuplicates();
        for (const QString &p : problems) // the failure message alone is cut short
            qWarning().noquote() << p;
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
    }

    // The panel's lists, opened, read in their 22 px text: a plain and the highlighted entry at 4.5:1.
    void panelListsRead()
    {
        Fixture f(1, QSize(1920, 1080), 1);
        f.editor->show();
        f.editor->setDrawMode(DrawROIWidget::DrawRect);
        f.drag({100, 80}, {300, 200});
        const QList<ComboBox *> lists = f.editor->findChildren<ComboBox *>();
        QCOMPARE(lists.size(), 4);
        QStringList problems;
        for (ComboBox *c : lists) {
            f.editor->selectRoi(0); // the function list is open to a selected region only
            QVERIFY(c->count() >= 2 && c->isEnabled());
            for (const QString &p : readability::unreadablePopupEntries(c))
                problems << c->itemText(0) + QStringLiteral(" list: ") + p;
        }
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
    }

    // The buttons share the panel's whole height: below the last one nothing is left but the margin.
    void buttonsShareThePanelHeight()
    {
        Fixture f(1, QSize(1920, 1080));
        f.editor->show();
        QWidget *panel = f.editor->findChild<QWidget *>(QStringLiteral("roiPanel"));
        QCoreApplication::sendPostedEvents();
        panel->layout()->activate();
        int lowest = 0;
        for (QPushButton *b : panel->findChildren<QPushButton *>())
            lowest = std::max(lowest, b->geometry().bottom());
        QVERIFY2(lowest >= panel->height() - 10, qPrintable(QString::number(lowest)));
        QVERIFY(f.editor->pictureArea().right() <= panel->geometry().left());
    }

    // A parameter field opens the digit pad; what is typed is held to the function's range, and the
    // region's parameter takes the held value.
    void numberFieldsTypeOnTheDigitPad()
    {
        Fixture f;
        f.editor->show();
        f.editor->setDrawMode(DrawROIWidget::DrawRect);
        f.drag({100, 80}, {300, 200});
        QCOMPARE(f.edit().function[0], int(FuncDefect));
        QList<Edit *> fields;
        for (Edit *e : f.editor->findChildren<Edit *>())
            if (e->isVisibleTo(f.editor.get()))
                fields << e;
        // Filter size, sensitivity, area and the output number, top to bottom.
        std::sort(fields.begin(), fields.end(), [](Edit *a, Edit *b) { return a->y() < b->y(); });
        QCOMPARE(fields.size(), 4);
        const struct
        {
            int field;
            const char *typed;
            int stored;
        } rows[] = {{0, "99", 10}, {0, "0", 1}, {1, "300", 255}, {2, "777", 777}, {2, "5000", 1000}};
        for (const auto &r : rows) {
            QTest::mouseClick(fields[r.field], Qt::LeftButton);
            QVERIFY(gNumberInput && gNumberInput->isVisible());
            QCOMPARE(gNumberInput->target(), static_cast<QLineEdit *>(fields[r.field]));
            gNumberInput->key(QStringLiteral("clear"))->click();
            for (const char *c = r.typed; *c; ++c)
                gNumberInput->key(QString(QLatin1Char(*c)))->click();
            gNumberInput->key(QStringLiteral("ok"))->click();
            const int *params[] = {f.edit().param1, f.edit().param2, f.edit().param3};
            QCOMPARE(params[r.field][0], r.stored);
            QCOMPARE(fields[r.field]->text(), QString::number(r.stored));
        }
        QTest::mouseClick(fields[3], Qt::LeftButton);
        gNumberInput->key(QStringLiteral("clear"))->click();
        gNumberInput->key(QStringLiteral("9"))->click();
        gNumberInput->key(QStringLiteral("ok"))->click();
        QCOMPARE(f.edit().outN[0], 8);
    }

    // A region whose function is not offered says what it is, and that entry cannot be picked; the
    // function changes only to an offered one, and the parameter labels are those of the real function.
    void functionNotOfferedShowsItsCaption()
    {
        Fixture f;
        f.editor->setDrawMode(DrawROIWidget::DrawRect);
        f.drag({100, 80}, {300, 200});
        f.edit().function[0] = FuncWhiteArea; // as in the sample regions, with white area switched off
        f.editor->selectRoi(0);
        ComboBox *box = nullptr;
        for (ComboBox *c : f.editor->findChildren<ComboBox *>())
            if (c->findData(int(FuncDefect)) >= 0)
                box = c;
        QVERIFY(box);
        QCOMPARE(box->currentText(), uiText(393)); // "white area"
        QCOMPARE(box->currentData().toInt(), int(FuncWhiteArea));
        auto *model = qobject_cast<QStandardItemModel *>(box->model());
        QVERIFY(model);
        QVERIFY(!(model->item(box->currentIndex())->flags() & Qt::ItemIsEnabled));
        QStringList labels;
        for (QLabel *l : f.editor->findChildren<QLabel *>())
            if (l->isVisibleTo(f.editor.get()))
                labels << l->text();
        QVERIFY(labels.contains(uiText(10)));  // "Min Gray"
        QVERIFY(labels.contains(uiText(24)));  // "Area"
        QVERIFY(!labels.contains(uiText(22))); // no defect "filter Size"
        QCOMPARE(f.edit().function[0], int(FuncWhiteArea));
        // Picking the offered defect function changes it.
        box->setCurrentIndex(box->findData(int(FuncDefect)));
        QCOMPARE(f.edit().function[0], int(FuncDefect));
        QCOMPARE(box->findData(int(FuncWhiteArea)), -1);
    }
};

int main(int argc, char *argv[])
{
    if (argc == 3 && qstrcmp(argv[1], "--cut-save-child") == 0)
        return runCutSaveChild(argc, argv);
    QApplication app(argc, argv);
    TstDrawRoiWidget tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}
#include "tst_drawroiwidget.moc"

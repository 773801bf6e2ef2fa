// One frame judged end to end: a camera view loads its region table from PARAM.db and its templates
// and ignore mask from its folder, the detector trains on them, registers, positions and judges a
// frame, and the NG picture handed to the saver thread lands as a JPEG in the camera's NG folder.

#include "cameradetector.h"
#include "cameradeviceinfo.h"
#include "cammersingleton.h"
#include "cammerwidget.h"
#include "clock.h"
#include "imagesize.h"
#include "inspectionhooks.h"
#include "mutexlocker.h"
#include "paramquery.h"
#include "savefailimagethread.h"
#include "startup.h"
#include "sysparam.h"
#include "testworkdir.h"

#include <QDir>
#include <QImage>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

#include <cstring>
#include <memory>

namespace {

const QString kConnection = QStringLiteral("endtoend-test");
constexpr int kW = 320;
constexpr int kH = 240;

// The mould as the templates show it: a smooth gradient with some structure.
QImage mouldPicture()
{
    QImage image(kW, kH, QImage::Format_Grayscale8);
    for (int y = 0; y < kH; ++y) {
        uchar *row = image.scanLine(y);
        for (int x = 0; x < kW; ++x)
            row[x] = uchar(60 + (x / 4 + y / 3) % 100);
    }
    return image;
}

} // namespace

class TstDetectPassEndToEnd : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (!gFailImageMutex)
            createProcessMutexes();
    }
    void ngFrameFromTablesOnDiskToPictureInItsFolder();
};

void TstDetectPassEndToEnd::ngFrameFromTablesOnDiskToPictureInItsFolder()
{
    TestWorkDir dir;
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), kConnection);
    db.setDatabaseName(dir.filePath(QStringLiteral("PARAM.db")));
    QVERIFY(db.open());
    auto query = std::make_unique<QSqlQuery>(db);
    QSqlQuery *q = query.get();
    setParamQueryHook([q] { return q; });

    // Screen 640 x 480 over a 320 x 240 image: the stored screen coordinates are twice the image ones.
    gShowW = 640;
    gShowH = 480;
    gImageW = kW;
    gImageH = kH;
    gColorCamera = 0;
    gTemplateLimit = 10;
    SysParam param;
    param.showAllParams = 1;
    param.angleCorrect = 0;
    param.motionCorrect = -1;
    param.matchBrightness = 0;
    param.diffAmplify = 0;
    param.minSpot = 1;
    for (int k = 0; k < 8; ++k)
        param.slotEnabled[k] = k == 1 ? 1 : 0;
    SysParam *savedParam = gSysParam;
    gSysParam = &param;
    gDetectSlotCount = 2;
    gNgImageLimit = 3;
    gOkImageLimit = 3;
    gCameraCount = 1;

    // Slot 1 of camera 0: a defect rectangle (area limit 50), a spot circle for dark marks, and an
    // ignore rectangle over the defect region's lower right corner.
    const auto put = [&](const QString &name, const QString &value) {
        QSqlQuery insert(db);
        insert.prepare(QStringLiteral("insert into cammer0 values(?, ?)"));
        insert.addBindValue(name);
        insert.addBindValue(value);
        QVERIFY(insert.exec());
    };
    put(QStringLiteral("detect1"), QStringLiteral("3 0 0 0 0 0 0 0 0"));
    put(QStringLiteral("ROI1-0"), QStringLiteral("1 25 50 0 1 0 0 40 40 279 239"));
    put(QStringLiteral("ROI1-1"), QStringLiteral("%1 20 200 1 4 1 0 460 300 40").arg(0 | (30 << 8)));
    put(QStringLiteral("ROI1-2"), QStringLiteral("0 0 0 2 1 0 0 200 160 279 239"));

    const QImage mould = mouldPicture();
    QVERIFY(QDir().mkpath(QStringLiteral("cammer12")));
    QVERIFY(mould.save(QStringLiteral("cammer12/template0.bmp"), "BMP"));
    QVERIFY(mould.save(QStringLiteral("cammer12/template1.bmp"), "BMP"));
    QImage ignore(kW, kH, QImage::Format_Grayscale8);
    ignore.fill(0);
    QVERIFY(ignore.save(QStringLiteral("cammer12/ignorepoint.bmp"), "BMP"));
    for (int kind = 0; kind < 2; ++kind)
        QVERIFY(QDir().mkpath(resultImageFolder(0, 1, kind)));

    const CameraDeviceInfo info{0, QStringLiteral("simulateCamera_IID"), QStringLiteral("SN-1")};
    {
        CammerWidget view(nullptr, 0, &info);
        QCOMPARE(view.liveTable->roiCount[1], 3);
        QCOMPARE(view.templateCount[1], 2);
        // The view built its detector and trained the enabled slot on the stored templates.
        QVERIFY(view.detector);
        CameraDetector &detector = *view.detector;

        // The frame: the mould with a bright 12 x 12 part left at image (40, 30), a dark 6 x 6 mark in
        // the spot circle (image centre (230, 150), radius 20), and a bright blob under the ignore area.
        cv::Mat grab(kH, kW, CV_8UC1, view.grabBuffer().data());
        for (int y = 0; y < kH; ++y)
            std::memcpy(grab.ptr(y), mould.constScanLine(y), kW);
        grab(cv::Rect(40, 30, 12, 12)).setTo(250);
        grab(cv::Rect(227, 147, 6, 6)).setTo(10);
        grab(cv::Rect(120, 100, 10, 10)).setTo(250);

        detector.timedRegister(1);
        detector.findPosition(1);
        detector.detectCamera(1);

        QVERIFY(!view.allPass);
        QVERIFY(!view.roiPass[1][0]);
        QCOMPARE(view.roiValue[1][0], 121);
        QCOMPARE(view.spots[1][0][0].x1, 1);
        const SpotRecord blob = view.spots[1][0][1];
        QCOMPARE((QList<int>{blob.x1, blob.y1, blob.x2, blob.y2}), (QList<int>{40, 30, 52, 42}));
        // The dark mark is a spot of 25 (5 x 5 contour) inside 20..200.
        QVERIFY(view.roiPass[1][1]);
        QCOMPARE(view.roiValue[1][1], 25);
        QCOMPARE(view.spots[1][1][1].x1, 227);

        // What the camera view and the machine cycle do with an NG verdict: hand the picture over.
        allocFailImageBuffers(0, view.imageWidth, view.imageHeight, gDetectSlotCount);
        QImage picture(kW, kH, QImage::Format_RGB32);
        const cv::Mat detected(kH, kW, CV_8UC1, view.detectBuffer.data());
        for (int y = 0; y < kH; ++y) {
            for (int x = 0; x < kW; ++x) {
                const int g = detected.at<uchar>(y, x);
                picture.setPixel(x, y, qRgb(g, g, g));
            }
        }
        {
            MutexLocker lock(gFailImageMutex);
            std::memcpy(gFailImageBuffers[0][1][0].data(), picture.constBits(),
                        size_t(picture.sizeInBytes()));
            gFailRoiNumber[0][1] = 1;
            gFailImagePending[0][1][0] = 1;
        }
    }

    QString reported;
    inspectionHooks().sendAlarmPicture = [&](const QJsonObject &, const QString &path) { reported = path; };
    setAppClock([] { return QDateTime(QDate(2025, 1, 2), QTime(3, 4, 5)); });
    {
        SaveFialImageThread saver;
        saver.start();
        QTRY_VERIFY(!reported.isEmpty());
        saver.stop();
        QVERIFY(saver.wait(1000));
    }
    const QString expected =
        QDir(resultImageFolder(0, 1, 0)).absoluteFilePath(QStringLiteral("1_2025-01-02_03.04.05.jpg"));
    QCOMPARE(reported, expected);
    QVERIFY(reported.contains(QStringLiteral("/alarmimage/camera1/detect2/NG/")));
    const QImage saved(expected);
    QCOMPARE(saved.size(), QSize(kW, kH));
    QVERIFY(qGray(saved.pixel(46, 36)) > 220);
    QVERIFY(qGray(saved.pixel(230, 150)) < 40);

    inspectionHooks().sendAlarmPicture = nullptr;
    setAppClock({});
    gSysParam = savedParam;
    gCameraCount = 0;
    allocFailImageBuffers(0, 0, 0, 0);
    gImageW = kDefaultImageW;
    gImageH = kDefaultImageH;
    setParamQueryHook({});
    query.reset();
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(kConnection);
}

QTEST_MAIN(TstDetectPassEndToEnd)
#include "tst_detectpass_endtoend.moc"

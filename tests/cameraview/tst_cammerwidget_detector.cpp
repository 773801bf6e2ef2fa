// Every camera view owns a detector trained at start-up from the regions and templates it loaded.

#include "cameradetector.h"
#include "cameradeviceinfo.h"
#include "cammersingleton.h"
#include "cammerwidget.h"
#include "imagesize.h"
#include "regiontabledb.h"
#include "sysparam.h"
#include "testworkdir.h"

#include <QDir>
#include <QImage>
#include <QtTest>

namespace {
const QString kConnection = QStringLiteral("cammerwidget-detector-test");

QImage grayPicture(int w, int h, int seed)
{
    QImage image(w, h, QImage::Format_Grayscale8);
    for (int y = 0; y < h; ++y) {
        uchar *line = image.scanLine(y);
        for (int x = 0; x < w; ++x)
            line[x] = uchar((x * x / 7 + y * 13 + (x ^ y) * 3 + seed) % 251);
    }
    return image;
}
} // namespace

class TestCammerWidgetDetector : public QObject
{
    Q_OBJECT
private slots:
    void viewBuildsATrainedDetector()
    {
        TestWorkDir dir;
        {
            RegionTableDb db(dir.filePath(QStringLiteral("PARAM.db")), kConnection);
            SysParam param;
            SysParam *saved = gSysParam;
            gSysParam = &param;
            param.slotEnabled[0] = 0;
            param.slotEnabled[1] = 1;
            param.motionCorrect = 0;
            param.maxOffset = 16;
            gShowW = 640;
            gShowH = 480;
            gImageW = 320;
            gImageH = 240;
            gTemplateLimit = 10;
            gColorCamera = 0;

            // Camera position 0: slot 1 has a defect rectangle (screen (20, 20)-(119, 99) at scale 2 is
            // image (10, 10)-(59, 49)), slot 0 the same region but is not enabled.
            QVERIFY(db.put(0, QStringLiteral("detect0"), QStringLiteral("1 0 0 0 0 0 0 0 0")));
            QVERIFY(db.put(0, QStringLiteral("detect1"), QStringLiteral("1 0 0 0 0 0 0 0 0")));
            for (const QString &row : {QStringLiteral("ROI0-0"), QStringLiteral("ROI1-0")})
                QVERIFY(db.put(0, row, QStringLiteral("3 25 100 0 1 0 0 20 20 119 99")));
            QDir().mkpath(QStringLiteral("cammer12"));
            QDir().mkpath(QStringLiteral("cammer11"));
            QVERIFY(grayPicture(320, 240, 0).save(QStringLiteral("cammer12/template0.bmp"), "BMP"));
            QVERIFY(grayPicture(320, 240, 9).save(QStringLiteral("cammer12/template1.bmp"), "BMP"));
            QVERIFY(grayPicture(320, 240, 0).save(QStringLiteral("cammer11/template0.bmp"), "BMP"));

            CameraDeviceInfo info{0, QStringLiteral("simulateCamera_IID"), QStringLiteral("SN-1")};
            {
                CammerWidget view(nullptr, 0, &info);
                QVERIFY(view.detector);
                CameraDetector &d = *view.detector;
                QCOMPARE(d.liveTable, view.liveTable);
                QCOMPARE(static_cast<CameraViewData *>(&view), d.owner);
                QVERIFY(d.grayMatch[1][0].IsValid());
                QCOMPARE(d.grayMatch[1][0].templateCount(), 2);
                QVERIFY(!d.grayMatch[0][0].IsValid());
                QVERIFY(d.findShape[1].IsValid());
                QCOMPARE(d.searchRect[1], cv::Rect(64, 44, 256, 196));
                // The stored template matches itself through the trained matcher.
                const cv::Rect r(10, 10, 50, 40);
                cv::Mat diff = cv::Mat::zeros(r.size(), CV_8UC1);
                d.grayMatch[1][0].Match(view.templates[1][1](r), diff);
                QCOMPARE(cv::countNonZero(diff), 0);
            }
            gSysParam = saved;
            gImageW = kDefaultImageW;
            gImageH = kDefaultImageH;
        }
    }
};

QTEST_MAIN(TestCammerWidgetDetector)
#include "tst_cammerwidget_detector.moc"

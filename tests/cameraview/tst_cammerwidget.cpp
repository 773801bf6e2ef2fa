// The data side of a camera view as the detector finds it after construction: the loaded live table
// and its masks, the buffers, and the templates and ignore masks read from the camera's folders.

#include "cameradeviceinfo.h"
#include "cameraviewhooks.h"
#include "cammersingleton.h"
#include "cammerwidget.h"
#include "imagesize.h"
#include "regiontabledb.h"
#include "sysparam.h"
#include "testimages.h"
#include "testworkdir.h"

#include <QDataStream>
#include <QDir>
#include <QImage>
#include <QRegularExpression>
#include <QTimer>
#include <QtTest>
#include <memory>

namespace {

const QString kConnection = QStringLiteral("cammerwidget-test");

// A gray picture saved the way the box saves gray frames: 8-bit with a gray colour table.
QImage grayPicture(int w, int h, int seed)
{
    return greyIndexedImage(w, h, [seed](int x, int y) { return x * 7 + y * 3 + seed; });
}

// A 32-bit BMP whose header claims width x height but which holds only a few pixel bytes, as a
// damaged or hostile file on a USB stick could.
bool saveBmpHeaderOnly(const QString &path, qint32 width, qint32 height)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out.writeRawData("BM", 2);
    out << quint32(54 + 16) << quint16(0) << quint16(0) << quint32(54);
    out << quint32(40) << width << height << quint16(1) << quint16(32) << quint32(0) << quint32(0)
        << qint32(2835) << qint32(2835) << quint32(0) << quint32(0);
    out.writeRawData("0123456789abcdef", 16);
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

bool savePicture(const QImage &image, const QString &path)
{
    QDir().mkpath(QFileInfo(path).path());
    return image.save(path, "BMP");
}

struct Fixture
{
    TestWorkDir dir;
    RegionTableDb db{dir.filePath(QStringLiteral("PARAM.db")), kConnection};
    CameraDeviceInfo info{0, QStringLiteral("simulateCamera_IID"), QStringLiteral("SN-0042")};

    Fixture()
    {
        gShowW = 640;
        gShowH = 480;
        gImageW = 320;
        gImageH = 240;
        gTemplateLimit = 10;
        gColorCamera = 0;
    }
    ~Fixture()
    {
        gImageW = kDefaultImageW;
        gImageH = kDefaultImageH;
        gColorCamera = 0;
    }
    void put(int camera, const QString &name, const QString &value) { QVERIFY(db.put(camera, name, value)); }
    QStringList names(int camera) { return db.rows(camera).keys(); }
};

} // namespace

class TestCammerWidget : public QObject
{
    Q_OBJECT
private slots:
    void loadsItsLiveTableAtConstruction()
    {
        Fixture f;
        f.put(1, QStringLiteral("detect0"), QStringLiteral("1 0 0 0 0 0 0 0 0"));
        f.put(1, QStringLiteral("ROI0-0"), QStringLiteral("3 25 100 0 1 2 0 10 20 109 219"));
        f.put(0, QStringLiteral("detect0"), QStringLiteral("5"));
        CammerWidget view(nullptr, 1, &f.info);
        QVERIFY(!view.cameraOpened);
        QCOMPARE(view.cameraIndex, 1);
        QCOMPARE(view.cameraIid, QStringLiteral("simulateCamera_IID"));
        QVERIFY(view.liveTable);
        QVERIFY(view.editTable);
        QVERIFY(view.liveTable != view.editTable);
        QCOMPARE(view.liveTable->cameraIndex, 1);
        QCOMPARE(view.editTable->cameraIndex, 1);
        QCOMPARE(view.displayScaleX, 2.0f);
        QCOMPARE(view.displayScaleY, 2.0f);
        QCOMPARE(view.liveTable->roiCount[0], 1); // camera 1's table, not camera 0's
        QCOMPARE(view.liveTable->outN[0], 2);
        QCOMPARE(view.liveTable->rects[0].imageRect, QRect(QPoint(5, 10), QPoint(54, 109)));
        QCOMPARE(view.roiMasks[0][0].size(), cv::Size(50, 100));
        QCOMPARE(cv::countNonZero(view.roiMasks[0][0]), 5000);
        QVERIFY(view.editRoiMasks[0][0].empty());
        QCOMPARE(f.names(1).filter(QStringLiteral("detect")).size(), 8); // the missing slot rows
    }

    void buffersFollowTheImageAndFrameFormat()
    {
        Fixture f;
        {
            CammerWidget gray(nullptr, 0, &f.info);
            QCOMPARE(gray.imageWidth, 320);
            QCOMPARE(gray.imageHeight, 240);
            QCOMPARE(gray.pixelCount, 76800);
            QCOMPARE(gray.frameBytes, 76800);
            for (const auto *b : {&gray.grabBuffer(), &gray.registeredBuffer, &gray.detectBuffer})
                QCOMPARE(int(b->size()), 76800);
            QCOMPARE(int(gray.grayBuffer.size()), 76800);
            QCOMPARE(int(gray.resultBuffer.size()), 76800);
            QCOMPARE(gray.ignoreMasks[7].size(), cv::Size(320, 240));
            QCOMPARE(cv::countNonZero(gray.ignoreMasks[7]), 0);
            QCOMPARE(gray.templates[3][0].type(), CV_8UC1); // template 0 exists even when not stored
            QCOMPARE(gray.templatePresent[3][0], 0);
        }
        gColorCamera = 1;
        CammerWidget colour(nullptr, 0, &f.info);
        QCOMPARE(colour.frameBytes, 4 * 76800);
        QCOMPARE(int(colour.detectBuffer.size()), 4 * 76800);
        QCOMPARE(int(colour.grayBuffer.size()), 76800);
        QCOMPARE(colour.templates[0][0].type(), CV_8UC4);
    }

    void readsTheSlotTemplatesAndIgnoreMasks()
    {
        Fixture f;
        // Camera position 1 and slot 2 live in "./cammer23/".
        const QImage t0 = grayPicture(320, 240, 0);
        const QImage t7 = grayPicture(320, 240, 70);
        QVERIFY(savePicture(t0, QStringLiteral("cammer23/template0.bmp")));
        QVERIFY(savePicture(t7, QStringLiteral("cammer23/template7.bmp")));
        QVERIFY(
            savePicture(grayPicture(320, 240, 5), QStringLiteral("cammer23/template10.bmp"))); // beyond 10
        QVERIFY(
            savePicture(grayPicture(100, 80, 1), QStringLiteral("cammer23/template3.bmp"))); // wrong size
        QVERIFY(savePicture(grayPicture(320, 240, 9), QStringLiteral("cammer13/template1.bmp"))); // camera 0
        QImage ignore(320, 240, QImage::Format_Grayscale8);
        ignore.fill(0);
        for (int y = 10; y < 20; ++y)
            for (int x = 30; x < 50; ++x)
                ignore.setPixel(x, y, qRgb(255, 255, 255));
        QVERIFY(savePicture(ignore, QStringLiteral("cammer21/ignorepoint.bmp")));

        CammerWidget view(nullptr, 1, &f.info);
        QCOMPARE(view.templateFile(2, 7), QStringLiteral("./cammer23/template7.bmp"));
        QCOMPARE(view.ignoreMaskFile(0), QStringLiteral("./cammer21/ignorepoint.bmp"));
        QCOMPARE(view.templateCount[2], 2);
        QCOMPARE(view.templatePresent[2][0], 1);
        QCOMPARE(view.templatePresent[2][7], 1);
        QCOMPARE(view.templatePresent[2][3], 0);
        QCOMPARE(view.templatePresent[2][1], 0);
        QCOMPARE(view.templatePresent[2][10], 0);
        QVERIFY(view.templates[2][10].empty());
        QCOMPARE(view.templateCount[0], 0);
        const cv::Mat &m = view.templates[2][7];
        QCOMPARE(m.type(), CV_8UC1);
        QCOMPARE(m.size(), cv::Size(320, 240));
        for (QPoint p : {QPoint(0, 0), QPoint(319, 0), QPoint(17, 200), QPoint(319, 239)})
            QCOMPARE(int(m.at<uchar>(p.y(), p.x())), qGray(t7.pixel(p)));
        QCOMPARE(cv::countNonZero(view.ignoreMasks[0]), 200);
        QCOMPARE(int(view.ignoreMasks[0].at<uchar>(15, 40)), 255);
        QCOMPARE(int(view.ignoreMasks[0].at<uchar>(20, 40)), 0);
        QCOMPARE(cv::countNonZero(view.ignoreMasks[1]), 0);
    }

    void picturesClaimingAHugeSizeAreRefusedFromTheirHeader()
    {
        Fixture f;
        // 16000 x 16000 x 4 bytes is a gigabyte: the header alone decides.
        QVERIFY(saveBmpHeaderOnly(QStringLiteral("cammer11/template0.bmp"), 16000, 16000));
        QVERIFY(saveBmpHeaderOnly(QStringLiteral("cammer11/ignorepoint.bmp"), 16000, 16000));
        QTest::ignoreMessage(
            QtWarningMsg, QRegularExpression(QStringLiteral("template0\\.bmp.*is QSize\\(16000, 16000\\)")));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral(
                                               "ignorepoint\\.bmp.*is QSize\\(16000, 16000\\)")));
        CammerWidget view(nullptr, 0, &f.info);
        QCOMPARE(view.templatePresent[0][0], 0);
        QCOMPARE(view.templateCount[0], 0);
        QCOMPARE(view.templates[0][0].size(), cv::Size(320, 240)); // the zeroed template 0 stays
        QCOMPARE(cv::countNonZero(view.templates[0][0]), 0);
        QCOMPARE(view.ignoreMasks[0].size(), cv::Size(320, 240));
        QCOMPARE(cv::countNonZero(view.ignoreMasks[0]), 0);
    }

    void colourTemplatesHoldRedGreenBlueZero()
    {
        Fixture f;
        gColorCamera = 1;
        QImage picture(320, 240, QImage::Format_RGB32);
        picture.fill(qRgb(10, 20, 30));
        picture.setPixel(5, 6, qRgb(200, 100, 50));
        QVERIFY(savePicture(picture, QStringLiteral("cammer11/template2.bmp")));
        CammerWidget view(nullptr, 0, &f.info);
        QCOMPARE(view.templateCount[0], 1);
        const cv::Mat &m = view.templates[0][2];
        QCOMPARE(m.type(), CV_8UC4);
        QCOMPARE(m.at<cv::Vec4b>(6, 5), cv::Vec4b(200, 100, 50, 0));
        QCOMPARE(m.at<cv::Vec4b>(0, 0), cv::Vec4b(10, 20, 30, 0));
    }

    // The result display: each view draws its camera's verdict of the displayed result in letters
    // that read from two metres, in the cell of every layout of 1 to 8 cameras on 1920 x 1080: at
    // least 90 px high, green for OK and red for NG, and nothing of the other colour. Without a
    // displayed result a view whose NG result timer has ended draws no verdict at all.
    void verdictOfTheDisplayedResultReadsInEveryLayout_data()
    {
        QTest::addColumn<QSize>("cell");
        QTest::addColumn<int>("verdict");
        const QList<QPair<QString, QSize>> cells{{"1 camera", {1920, 1080}},
                                                 {"2 cameras", {960, 1080}},
                                                 {"3 or 4 cameras", {960, 540}},
                                                 {"5 or 6 cameras", {641, 540}},
                                                 {"7 or 8 cameras", {480, 540}}};
        for (const auto &c : cells) {
            QTest::newRow(qPrintable(c.first + QStringLiteral(", OK"))) << c.second << 1;
            QTest::newRow(qPrintable(c.first + QStringLiteral(", NG"))) << c.second << 0;
            QTest::newRow(qPrintable(c.first + QStringLiteral(", nothing displayed"))) << c.second << -1;
        }
    }
    void verdictOfTheDisplayedResultReadsInEveryLayout()
    {
        QFETCH(QSize, cell);
        QFETCH(int, verdict);
        Fixture f;
        gShowW = 1920;
        gShowH = 1080;
        CammerWidget view(nullptr, 2, &f.info);
        view.screenRatioX = cell.width() / 1920.0f;
        view.screenRatioY = cell.height() / 1080.0f;
        view.resize(cell);
        int askedFor = -1;
        cameraViewHooks().shownVerdict = [&](int camera) {
            askedFor = camera;
            return verdict;
        };
        view.allPass = false; // the last pass of another slot: the displayed result decides
        const QImage shot = view.grab().toImage().convertToFormat(QImage::Format_RGB32);
        cameraViewHooks() = CameraViewHooks();
        QCOMPARE(askedFor, 2);
        // Pixels of the two verdict colours (the picture is black: the camera delivered nothing).
        QRect green, red;
        for (int y = 0; y < shot.height(); ++y) {
            const QRgb *line = reinterpret_cast<const QRgb *>(shot.constScanLine(y));
            for (int x = 0; x < shot.width(); ++x) {
                const int r = qRed(line[x]), g = qGreen(line[x]), b = qBlue(line[x]);
                if (g > 180 && r < 60 && b < 60)
                    green |= QRect(x, y, 1, 1);
                if (r > 200 && g < 80 && b < 80)
                    red |= QRect(x, y, 1, 1);
            }
        }
        const QRect letters = verdict == 1 ? green : red;
        const QRect other = verdict == 1 ? red : green;
        if (verdict < 0) {
            QVERIFY2(green.isEmpty() && red.isEmpty(), "a verdict is drawn with no result displayed");
            return;
        }
        QVERIFY2(letters.height() >= 90,
                 qPrintable(QStringLiteral("letters %1 px high").arg(letters.height())));
        QVERIFY(letters.width() >= letters.height()); // both letters, side by side
        QVERIFY(QRect(QPoint(0, 0), cell).contains(letters));
        QVERIFY(other.isEmpty());
    }
};

QTEST_MAIN(TestCammerWidget)
#include "tst_cammerwidget.moc"

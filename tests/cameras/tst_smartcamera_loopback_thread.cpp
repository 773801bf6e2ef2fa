// The smart-camera back-end against the fake smart camera on loopback, over the real bytes: discovery
// ack, getparams and setparams, pictures as RGBA of the right size and content in both picture
// layouts, a slow first picture, requests paced to the frame rate, the camera switched off and on
// again, and the handle API's codes.

#include "commandrunner.h"
#include "fakesmartcamera.h"
#include "frameconvert.h"
#include "myvekcamera.h"
#include "sysparam.h"
#include "vekcamera.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QtTest>
#include <memory>
#include <opencv2/imgproc.hpp>

namespace {

// The device side's clock and address commands are recorded, never run.
class RecordingRunner : public CommandRunner
{
public:
    CommandResult run(const QString &program, const QStringList &arguments, int) override
    {
        calls << program + QLatin1Char(' ') + arguments.join(QLatin1Char(' '));
        CommandResult r;
        r.started = true;
        r.exitCode = 0;
        return r;
    }
    QStringList calls;
};

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

cv::Mat nextImage(CameraInterface &camera)
{
    cv::Mat frame;
    for (int i = 0; i < 1000 && !camera.getImage(frame); ++i)
        QTest::qWait(5);
    return frame;
}

} // namespace

class TestSmartCameraLoopback : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        // OpenCV's own worker threads (TBB) are not what these tests look at, and ThreadSanitizer
        // cannot see their synchronisation.
        cv::setNumThreads(1);
        setCommandRunner(&runner);
    }
    void cleanupTestCase() { setCommandRunner(nullptr); }
    void init()
    {
        options = FakeSmartCamera::Options();
        options.controlPort = freePort();
        options.picturePort = freePort();
        options.deviceId = QStringLiteral("QORFAKE0001");
        setVekCameraPorts(options.controlPort, options.picturePort);
    }
    void cleanup() { setVekCameraPorts(10401, 10402); }

    // The discovery ack gives the camera's id and address; the camera opens at that address, and its
    // settings go there and come back.
    void discoveryAndParameters()
    {
        options.discovery = true;
        FakeSmartCamera fake(options);
        QVERIFY(fake.start());
        MyVekCamera prototype;
        // Other programs on this machine may answer discovery too: look for this camera's id.
        CameraDeviceInfo mine;
        for (int attempt = 0; attempt < 10 && mine.id.isEmpty(); ++attempt) {
            for (const CameraDeviceInfo &info : prototype.enumerate()) {
                if (info.id == QLatin1String("QORFAKE0001"))
                    mine = info;
            }
        }
        QCOMPARE(mine.id, QStringLiteral("QORFAKE0001"));
        QCOMPARE(mine.iid, QStringLiteral("vekCamera_IID"));

        std::unique_ptr<CameraInterface> camera(prototype.create(mine));
        QVERIFY(camera->open());
        QCOMPARE(camera->imageSize(), QSize(640, 480));
        QVERIFY(camera->setExposureTime(25, false, false));
        QVERIFY(camera->setGain(61));
        QCOMPARE(fake.params().value(QStringLiteral("ExposureTime")).toDouble(), 25000.0);
        QCOMPARE(fake.params().value(QStringLiteral("ExposureAuto")).toBool(), false);
        const QJsonObject settled = camera->setAutoExposure(false);
        QCOMPARE(settled.value(QStringLiteral("Gain")).toInt(), 61);
        SysParam block;
        camera->loadParams(&block, 0);
        QCOMPARE(block.exposeTime[0], 25);
        QCOMPARE(block.adjustPlus[0], 61);
        QCOMPARE(block.contrast[0], 50);
        QVERIFY(camera->reboot());
    }

    void picturesArriveAsRgba_data()
    {
        QTest::addColumn<int>("layout");
        QTest::addColumn<bool>("nv21");
        const int plain = int(FakeSmartCamera::Options::Layout::Plain);
        const int described = int(FakeSmartCamera::Options::Layout::Described);
        QTest::newRow("NV21 of 1.5 x rows, reply without layout keys") << plain << true;
        QTest::newRow("NV21 described by format, width, height") << described << true;
        QTest::newRow("RGB described by format") << described << false;
    }

    // Every picture the puller brings is the camera's picture, converted, at the camera's size: an
    // NV21 image of 144 x 128 (rows x cols) stands for 96 x 128 pixels, turned into RGBA by the
    // NV21-to-RGBA conversion (colour conversion code 96) and stored as R, G, B, 0.
    void picturesArriveAsRgba()
    {
        QFETCH(int, layout);
        QFETCH(bool, nv21);
        QTemporaryDir folder;
        cv::Mat rgb(96, 128, CV_8UC3);
        cv::randu(rgb, 0, 256);
        QImage(rgb.data, rgb.cols, rgb.rows, int(rgb.step), QImage::Format_RGB888)
            .save(folder.filePath("a.png"));
        options.pictureFolder = folder.path();
        options.layout = FakeSmartCamera::Options::Layout(layout);
        options.nv21 = nv21;
        FakeSmartCamera fake(options);
        QVERIFY(fake.start());

        std::unique_ptr<CameraInterface> camera(
            MyVekCamera().create({0, QStringLiteral("vekCamera_IID"), QStringLiteral("127.0.0.1")}));
        QVERIFY(camera->open());
        QCOMPARE(camera->imageSize(), QSize(128, 96));
        QVERIFY(camera->startCapture());
        QTRY_VERIFY(camera->frameCount() >= 3);
        const cv::Mat frame = nextImage(*camera);
        QCOMPARE(frame.type(), CV_8UC4);
        cv::Mat expected;
        if (nv21) {
            const cv::Mat sent = FakeSmartCamera::rgbToNv21(rgb);
            QCOMPARE(sent.rows, 144);
            QCOMPARE(sent.cols, 128);
            cv::cvtColor(sent, expected, 96);
        } else {
            cv::cvtColor(rgb, expected, cv::COLOR_RGB2RGBA);
        }
        std::vector<cv::Mat> channels;
        cv::split(expected, channels);
        channels[3].setTo(0);
        cv::merge(channels, expected);
        QCOMPARE(cv::norm(frame, expected, cv::NORM_INF), 0.0);
        QVERIFY(fake.commands().contains({{QStringLiteral("command"), QStringLiteral("start")}}));
        QVERIFY(fake.commands().contains({{QStringLiteral("command"), QStringLiteral("play")}}));
    }

    // A camera that takes well over a second for its first picture (it starts its stream) still
    // opens, at the size its NV21 pictures stand for.
    void slowFirstPicture()
    {
        options.firstPictureDelayMs = 1300;
        options.generatedSize = QSize(320, 240);
        FakeSmartCamera fake(options);
        QVERIFY(fake.start());
        std::unique_ptr<CameraInterface> camera(
            MyVekCamera().create({0, QStringLiteral("vekCamera_IID"), QStringLiteral("127.0.0.1")}));
        QVERIFY(camera->open());
        QCOMPARE(camera->imageSize(), QSize(320, 240));
        QVERIFY(camera->startCapture());
        QTRY_VERIFY(camera->frameCount() >= 2);
    }

    void requestsFollowTheFrameRate_data()
    {
        QTest::addColumn<int>("before");  // frame rate set before the grab starts, 0 none
        QTest::addColumn<int>("during");  // frame rate set while grabbing, 0 none
        QTest::addColumn<int>("perSecond"); // the rate the requests must keep to
        QTest::newRow("no frame rate sent: 10 per second") << 0 << 0 << 10;
        QTest::newRow("frame rate 25") << 25 << 0 << 25;
        // Below the default pace: a rate sent before the grab that the puller forgot would ask 10.
        QTest::newRow("frame rate 3 sent before the grab") << 3 << 0 << 3;
        QTest::newRow("frame rate 4 sent while grabbing") << 0 << 4 << 4;
        QTest::newRow("frame rate 500 taken as 100") << 500 << 0 << 100;
    }

    // A camera of 16 Mi pixels sends NV21 pictures of 4096 x 6144 bytes, more than the pixel bound of
    // other layouts: it opens at 4096 x 4096 and its pictures arrive. Two rows more than a 4096 x 4096
    // picture stands for (4096 x 6147 bytes) are refused, and the camera does not open.
    void largestNv21Camera_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<bool>("opens");
        QTest::newRow("4096 x 4096") << QSize(4096, 4096) << true;
        QTest::newRow("4096 x 4098") << QSize(4096, 4098) << false;
    }
    void largestNv21Camera()
    {
        QFETCH(QSize, size);
        QFETCH(bool, opens);
        options.generatedSize = size;
        FakeSmartCamera fake(options);
        QVERIFY(fake.start());
        QCOMPARE(FakeSmartCamera::rgbToNv21(fake.nextPicture()).size(),
                 cv::Size(size.width(), size.height() * 3 / 2));
        std::unique_ptr<CameraInterface> camera(
            MyVekCamera().create({0, QStringLiteral("vekCamera_IID"), QStringLiteral("127.0.0.1")}));
        QCOMPARE(camera->open(), opens);
        if (!opens)
            return;
        QCOMPARE(camera->imageSize(), size);
        QVERIFY(camera->startCapture());
        const cv::Mat frame = nextImage(*camera);
        QCOMPARE(frame.type(), CV_8UC4);
        QCOMPARE(frame.cols, 4096);
        QCOMPARE(frame.rows, 4096);
    }

    // The size a picture stands for, at the pixel bound of a 4096 x 4096 camera: a one-channel picture
    // may carry 1.5 x the bound only as NV21; read as grey, or as NV21 standing for more, it is unusable.
    void pictureSizesAtTheBound_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("channels");
        QTest::addColumn<QString>("format");
        QTest::addColumn<QSize>("size");
        QTest::newRow("NV21 by its shape, 4096 x 6144") << 6144 << 1 << QString() << QSize(4096, 4096);
        QTest::newRow("NV21 by its format, 4096 x 6144") << 6144 << 1 << "NV21" << QSize(4096, 4096);
        QTest::newRow("NV21 by its shape, 4096 x 6150") << 6150 << 1 << QString() << QSize();
        QTest::newRow("grey, 4096 x 4096") << 4096 << 1 << QString() << QSize(4096, 4096);
        QTest::newRow("grey by its shape, 4096 x 6100") << 6100 << 1 << QString() << QSize();
        QTest::newRow("grey by its format, 4096 x 6144") << 6144 << 1 << "grey" << QSize();
        QTest::newRow("RGB, 4096 x 4097") << 4097 << 3 << "rgb" << QSize();
    }
    void pictureSizesAtTheBound()
    {
        QFETCH(int, rows);
        QFETCH(int, channels);
        QFETCH(QString, format);
        QFETCH(QSize, size);
        VekPicture picture;
        picture.image = cv::Mat(rows, 4096, CV_8UC(channels), cv::Scalar::all(0));
        if (!format.isNull())
            picture.info.insert(QStringLiteral("format"), format);
        QCOMPARE(MyVekCamera::pictureSize(picture), size);
    }

    // A camera that answers at once is asked for no more pictures per second than the frame rate
    // last sent to it (counted on the camera's side, over two seconds), and still for pictures; the
    // period it reports is that rate's.
    void requestsFollowTheFrameRate()
    {
        QFETCH(int, before);
        QFETCH(int, during);
        QFETCH(int, perSecond);
        options.generatedSize = QSize(64, 48);
        FakeSmartCamera fake(options);
        QVERIFY(fake.start());
        std::unique_ptr<CameraInterface> camera(
            MyVekCamera().create({0, QStringLiteral("vekCamera_IID"), QStringLiteral("127.0.0.1")}));
        QVERIFY(camera->open());
        if (before > 0)
            QVERIFY(camera->setFrameSpeed(before));
        QVERIFY(camera->startCapture());
        QTRY_VERIFY(camera->frameCount() >= 2);
        if (during > 0)
            QVERIFY(camera->setFrameSpeed(during));
        if (before > 0 || during > 0)
            QCOMPARE(fake.params().value(QStringLiteral("FrameRate")).toInt(), perSecond);
        // The time between two pictures at that rate: the cycle judges only pictures received this
        // long after a mould opened, and takes a camera silent for three of them as lost.
        QCOMPARE(camera->picturePeriodMs(), qint64(1000 / perSecond));
        QTest::qWait(300); // a request already under way at the old rate ends
        QElapsedTimer clock;
        const int first = fake.picturesSent();
        clock.start();
        QTest::qWait(2000);
        const int count = fake.picturesSent() - first;
        const double seconds = clock.elapsed() / 1000.0;
        QVERIFY2(count <= int(perSecond * seconds) + 2,
                 qPrintable(QStringLiteral("%1 requests in %2 s").arg(count).arg(seconds)));
        QVERIFY2(count >= 2, qPrintable(QStringLiteral("%1 requests in %2 s").arg(count).arg(seconds)));
    }

    // Switched off, the camera is offline and the requests fail with -12; switched on, the puller
    // reconnects by itself and pictures flow again.
    void offlineAndBack()
    {
        FakeSmartCamera fake(options);
        QVERIFY(fake.start());
        int handle = -1;
        QCOMPARE(VekCamera_Open(QStringLiteral("127.0.0.1"), &handle), VEK_OK);
        QJsonObject params;
        QCOMPARE(VekCamera_GetParams(handle, &params), VEK_OK);
        QCOMPARE(params.value(QStringLiteral("Contrast")).toInt(), 50);
        QCOMPARE(VekCamera_GetParams(handle + 1000, &params), VEK_UNKNOWN_HANDLE);
        QCOMPARE(VekCamera_Close(handle), VEK_OK);

        std::unique_ptr<CameraInterface> camera(
            MyVekCamera().create({0, QStringLiteral("vekCamera_IID"), QStringLiteral("127.0.0.1")}));
        QVERIFY(camera->open());
        QVERIFY(camera->startCapture());
        QTRY_VERIFY(camera->frameCount() >= 2);
        QVERIFY(camera->isOnline());

        fake.stop();
        QTRY_VERIFY_WITH_TIMEOUT(!camera->isOnline(), 5000);
        QVERIFY(!camera->setGain(3)); // -12 underneath
        cv::Mat drained;
        camera->getImage(drained);
        const int sentBefore = fake.picturesSent();

        QVERIFY(fake.start());
        QTRY_VERIFY_WITH_TIMEOUT(fake.picturesSent() > sentBefore + 2, 10000);
        QVERIFY(!nextImage(*camera).empty());
        QTRY_VERIFY(camera->isOnline());
        QVERIFY(camera->setGain(4));
        QCOMPARE(fake.params().value(QStringLiteral("Gain")).toInt(), 4);
    }

private:
    RecordingRunner runner;
    FakeSmartCamera::Options options;
};

QTEST_MAIN(TestSmartCameraLoopback)
#include "tst_smartcamera_loopback_thread.moc"

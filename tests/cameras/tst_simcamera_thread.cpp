// Simulated cameras: which picture is served when, what happens to pictures that do not fit, the
// generated picture, temperature answers, and the capture thread advancing on its own.

#include "cameraregistry.h"
#include "clock.h"
#include "simulatecamera.h"
#include "sysparam.h"
#include "testworkdir.h"

#include <QDataStream>
#include <QDateTime>
#include <QDir>
#include <QImage>
#include <QImageReader>
#include <QJsonObject>
#include <QtTest>
#include <algorithm>
#include <memory>
#include <vector>

namespace {

// A picture filled with one colour; the red channel names it.
void writePicture(const QString &path, int w, int h, int red, const char *format = "PNG")
{
    QDir().mkpath(QFileInfo(path).path());
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(QColor(red, 40, 200));
    QVERIFY(image.save(path, format));
}

// The red value of the frame served now, or -1 when no new frame is there.
int servedRed(SimulateCamera &camera)
{
    cv::Mat frame;
    if (!camera.getImage(frame))
        return -1;
    const cv::Vec4b px = frame.at<cv::Vec4b>(frame.rows / 2, frame.cols / 2);
    return px[3] == 0 && px[1] == 40 && px[2] == 200 ? px[0] : -2;
}

std::unique_ptr<SimulateCamera> openCamera(int n)
{
    SimulateCamera prototype;
    std::unique_ptr<CameraInterface> made(
        prototype.create({0, QStringLiteral("simulateCamera_IID"), QStringLiteral("simcam/%1").arg(n)}));
    auto camera = std::unique_ptr<SimulateCamera>(static_cast<SimulateCamera *>(made.release()));
    if (!camera->open())
        return nullptr;
    return camera;
}

QStringList gWarnings;
void collectWarnings(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtWarningMsg)
        gWarnings << message;
}

} // namespace

class TestSimulateCamera : public QObject
{
    Q_OBJECT
private slots:
    void init() { SimulateCamera::setManualStepping(true); }
    void cleanup() { SimulateCamera::setManualStepping(false); }

    // A frame once taken keeps its pixels while later frames arrive, however the taker holds it: the
    // camera may reuse a buffer handed back to it, never one someone can still read.
    void takenFramesKeepTheirPixels_data()
    {
        QTest::addColumn<QString>("holder");
        QTest::newRow("taken again into the same Mat") << QStringLiteral("same");
        QTest::newRow("shared with another Mat") << QStringLiteral("shared");
        QTest::newRow("a buffer the taker lent") << QStringLiteral("lent");
    }
    void takenFramesKeepTheirPixels()
    {
        QFETCH(QString, holder);
        TestWorkDir dir(TestWorkDir::Empty);
        writePicture(QStringLiteral("simcam/1/a.png"), 64, 48, 10);
        writePicture(QStringLiteral("simcam/1/b.png"), 64, 48, 20);
        writePicture(QStringLiteral("simcam/1/c.png"), 64, 48, 30);
        auto camera = openCamera(1);
        QVERIFY(camera && camera->startCapture());
        const auto redOf = [](const cv::Mat &m) { return int(m.at<cv::Vec4b>(m.rows / 2, m.cols / 2)[0]); };
        std::vector<uchar> lent(64 * 48 * 4, 1);
        cv::Mat frame;
        if (holder == QStringLiteral("lent"))
            frame = cv::Mat(48, 64, CV_8UC4, lent.data());
        QVERIFY(camera->getImage(frame)); // a.png
        QCOMPARE(redOf(frame), 10);
        cv::Mat other;
        if (holder == QStringLiteral("shared"))
            other = frame;
        camera->stepFrame(); // b.png
        QVERIFY(camera->getImage(frame));
        QCOMPARE(redOf(frame), 20);
        const cv::Mat kept = frame.clone();
        if (holder == QStringLiteral("same")) {
            const uchar *before = frame.data;
            camera->stepFrame(); // c.png
            camera->stepFrame(); // a.png, into the buffer b.png came in unless that was handed back
            QCOMPARE(cv::norm(frame, kept, cv::NORM_INF), 0.0);
            QCOMPARE(frame.data, before);
            QVERIFY(camera->getImage(frame));
            QCOMPARE(redOf(frame), 10);
        } else if (holder == QStringLiteral("shared")) {
            camera->stepFrame();
            camera->stepFrame();
            QCOMPARE(redOf(other), 10);
            QCOMPARE(cv::norm(frame, kept, cv::NORM_INF), 0.0);
        } else {
            camera->stepFrame();
            camera->stepFrame();
            QVERIFY(std::all_of(lent.begin(), lent.end(), [](uchar v) { return v == 1; }));
            QCOMPARE(cv::norm(frame, kept, cv::NORM_INF), 0.0);
        }
    }

    // Name order, cycling; a picture of another size, a file that is no picture and a file whose
    // header is broken are left out without stopping the others.
    void servesTheFolderInNameOrderAndCycles()
    {
        TestWorkDir dir(TestWorkDir::Empty);
        writePicture(QStringLiteral("simcam/2/b.png"), 64, 48, 20);
        writePicture(QStringLiteral("simcam/2/a.bmp"), 64, 48, 10, "BMP");
        writePicture(QStringLiteral("simcam/2/c.jpg.png"), 64, 48, 30);
        writePicture(QStringLiteral("simcam/2/bb.png"), 32, 48, 99); // another size
        QFile broken(QStringLiteral("simcam/2/ab.png"));
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write("not a picture");
        broken.close();
        QFile text(QStringLiteral("simcam/2/notes.txt"));
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.close();

        auto camera = openCamera(2);
        QVERIFY(camera);
        QCOMPARE(camera->imageSize(), QSize(64, 48));
        QCOMPARE(camera->pictureFiles().size(), 3);
        QCOMPARE(servedRed(*camera), -1); // nothing before the capture starts
        QVERIFY(camera->startCapture());
        const QList<int> expected = {10, 20, 30, 10, 20, 30, 10};
        for (int i = 0; i < expected.size(); ++i) {
            QCOMPARE(servedRed(*camera), expected.at(i));
            QCOMPARE(servedRed(*camera), -1); // taken once
            camera->stepFrame();
        }
        QCOMPARE(camera->frameCount(), quint64(expected.size() + 1));

        // A picture replaced by one of another size after opening is skipped, not served cut.
        QCOMPARE(servedRed(*camera), 20);
        writePicture(QStringLiteral("simcam/2/b.png"), 80, 48, 21);
        camera->stepFrame();
        camera->stepFrame();
        QCOMPARE(servedRed(*camera), 10);
        camera->stepFrame(); // b.png
        QCOMPARE(servedRed(*camera), -1);
        camera->stepFrame();
        QCOMPARE(servedRed(*camera), 30);
        camera->close();
        QVERIFY(camera->imageSize().isEmpty());
        QVERIFY(!camera->isOnline());
    }

    // A picture may have 16 Mi pixels, whatever its sides: one that asks for more in its header is left
    // out with one warning before anything is decoded (only headers are written here).
    void picturesAreBoundedByPixels_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<bool>("kept");
        QTest::newRow("4096 x 4096 kept") << 4096 << 4096 << true;
        QTest::newRow("8192 x 2048 kept") << 8192 << 2048 << true;
        QTest::newRow("one row over refused") << 4096 << 4097 << false;
        QTest::newRow("8000 x 8000 refused") << 8000 << 8000 << false;
    }
    void picturesAreBoundedByPixels()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(bool, kept);
        TestWorkDir dir(TestWorkDir::Empty);
        const QString path = QStringLiteral("simcam/1/big.bmp");
        QVERIFY(QDir().mkpath(QStringLiteral("simcam/1")));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QDataStream out(&file);
        out.setByteOrder(QDataStream::LittleEndian);
        const quint32 rowBytes = (quint32(width) * 3 + 3) / 4 * 4;
        out.writeRawData("BM", 2);
        out << quint32(54 + rowBytes * quint32(height)) << quint32(0) << quint32(54);
        out << quint32(40) << qint32(width) << qint32(height) << quint16(1) << quint16(24) << quint32(0)
            << quint32(rowBytes * quint32(height)) << qint32(2835) << qint32(2835) << quint32(0)
            << quint32(0);
        file.write(QByteArray(64, '\x7f'));
        file.close();
        QCOMPARE(QImageReader(path).size(), QSize(width, height));

        gWarnings.clear();
        const QtMessageHandler previous = qInstallMessageHandler(collectWarnings);
        auto camera = openCamera(1);
        qInstallMessageHandler(previous);
        QVERIFY(camera);
        QCOMPARE(camera->pictureFiles(),
                 kept ? QStringList{QStringLiteral("./simcam/1/big.bmp")} : QStringList{});
        QCOMPARE(camera->imageSize(), kept ? QSize(width, height) : QSize(1280, 1024));
        QCOMPARE(gWarnings.filter(QStringLiteral("big.bmp")).size(), kept ? 0 : 1);
    }

    void emptyFolderServesTheGeneratedPicture()
    {
        TestWorkDir dir(TestWorkDir::Empty);
        QVERIFY(QDir().mkpath(QStringLiteral("simcam/1")));
        auto camera = openCamera(1);
        QVERIFY(camera);
        QCOMPARE(camera->imageSize(), QSize(1280, 1024));
        QVERIFY(camera->startCapture());
        cv::Mat frame;
        QVERIFY(camera->getImage(frame));
        QCOMPARE(frame.type(), CV_8UC4);
        const cv::Mat expected = SimulateCamera::generatedPicture(1280, 1024, 1);
        QCOMPARE(cv::norm(frame, expected, cv::NORM_INF), 0.0);
        // A test chart, not a flat picture: the detector needs something to look at.
        double lo = 0, hi = 0;
        cv::minMaxLoc(frame.reshape(1), &lo, &hi);
        QVERIFY(hi - lo > 100);
    }

    // Pictures deleted under a running camera: nothing is stored, counted or stamped (the camera
    // delivers nothing), each picture is logged once when it goes and once when it is back, not at
    // every frame period; pictures put back are served again, stamped when they arrive.
    void deletedPicturesDeliverNothingAndAreLoggedOnce()
    {
        TestWorkDir dir(TestWorkDir::Empty);
        writePicture(QStringLiteral("simcam/1/a.png"), 32, 32, 1);
        writePicture(QStringLiteral("simcam/1/b.png"), 32, 32, 2);
        static std::atomic<qint64> now{5000};
        setAppMonotonicClock([] { return now.load(); });
        static QStringList logged;
        logged.clear();
        static QtMessageHandler previous = nullptr;
        previous = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext &context, const QString &text) {
                if (QByteArray(context.category) == "cameras" && text.contains(QStringLiteral("simcam/1/")))
                    logged << text;
                previous(type, context, text);
            });
        auto camera = openCamera(1);
        QVERIFY(camera);
        QVERIFY(camera->startCapture()); // a.png
        cv::Mat frame;
        qint64 takenMs = 0;
        QVERIFY(camera->getImage(frame, &takenMs));
        QCOMPARE(takenMs, qint64(5000));

        QVERIFY(QFile::remove(QStringLiteral("simcam/1/a.png")));
        QVERIFY(QFile::remove(QStringLiteral("simcam/1/b.png")));
        now = 6000;
        for (int i = 0; i < 20; ++i)
            camera->stepFrame();
        QVERIFY(!camera->getImage(frame, &takenMs));
        QCOMPARE(takenMs, qint64(5000));
        QCOMPARE(camera->frameCount(), quint64(1));
        QCOMPARE(logged.size(), 2); // a.png and b.png, once each

        writePicture(QStringLiteral("simcam/1/a.png"), 32, 32, 1);
        writePicture(QStringLiteral("simcam/1/b.png"), 32, 32, 2);
        now = 7000;
        camera->stepFrame();
        QVERIFY(camera->getImage(frame, &takenMs));
        QCOMPARE(takenMs, qint64(7000));
        QCOMPARE(int(frame.at<cv::Vec4b>(16, 16)[0]), 2); // b.png: 20 steps went round the two
        camera->stepFrame();
        QCOMPARE(servedRed(*camera), 1);
        QCOMPARE(camera->frameCount(), quint64(3));
        QCOMPARE(logged.size(), 4); // and once each when back
        // A picture rewritten with other content is served as it is now, not as it was read before.
        writePicture(QStringLiteral("simcam/1/a.png"), 32, 32, 9);
        camera->stepFrame();
        QCOMPARE(servedRed(*camera), 2);
        camera->stepFrame();
        QCOMPARE(servedRed(*camera), 9);
        qInstallMessageHandler(previous);
        setAppMonotonicClock(nullptr);
    }

    // Cameras whose folders hold the same picture bytes, under any name, serve them from one decoded
    // copy; other bytes under the same name are other pictures. A file rewritten, gone or put back
    // changes what its own camera serves and holds, not the other camera's. Pictures are "name=red"
    // (PNG), changes "<camera>/name=red" or "<camera>/name=gone"; "served" is what cameras 1 and 2
    // serve going once round their folders (-1: nothing), "held" the pictures held in all.
    void camerasSharePicturesByContent_data()
    {
        for (const char *column : {"first", "second", "changes", "served", "servedAfter"})
            QTest::addColumn<QString>(column);
        QTest::addColumn<int>("held");
        QTest::addColumn<int>("heldAfter");
        const char *ab = "a=10 b=20", *both = "10 20 | 10 20";
        // clang-format off
        QTest::newRow("same bytes, same names") << ab << ab << "" << both << both << 2 << 2;
        QTest::newRow("same bytes, other names") << ab << "x=20 y=10" << ""
            << "10 20 | 20 10" << "10 20 | 20 10" << 2 << 2;
        QTest::newRow("other bytes, same names") << ab << "a=30 b=40" << ""
            << "10 20 | 30 40" << "10 20 | 30 40" << 4 << 4;
        QTest::newRow("rewritten in one folder") << ab << ab << "1/a=30" << both << "30 20 | 10 20" << 2 << 3;
        QTest::newRow("rewritten alike in both") << ab << ab << "1/a=30 2/a=30"
            << both << "30 20 | 30 20" << 2 << 2;
        QTest::newRow("rewritten with the other's bytes") << ab << "a=30 b=20" << "2/a=10"
            << "10 20 | 30 20" << both << 3 << 2;
        QTest::newRow("gone, then back") << ab << ab << "1/b=gone 2/b=gone 2/b=20"
            << both << "10 -1 | 10 20" << 2 << 2;
        // clang-format on
    }
    void camerasSharePicturesByContent()
    {
        QFETCH(QString, first);
        QFETCH(QString, second);
        QFETCH(QString, changes);
        TestWorkDir dir(TestWorkDir::Empty);
        // Pictures of one red are copies of the same bytes; a rewrite keeps the file and moves its time
        // on, as a copy by hand a second later would.
        static int seconds = 0;
        const auto apply = [](const QString &list, const QString &folder) {
            for (const QString &item : list.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
                const QString red = item.section(QLatin1Char('='), 1),
                              made = QStringLiteral("made/%1.png").arg(red),
                              path = folder + item.section(QLatin1Char('='), 0, 0) + QStringLiteral(".png");
                if (red == QStringLiteral("gone") && QFile::remove(path))
                    continue; // (a removal that fails writes a picture of red 0)
                if (!QFile::exists(made))
                    writePicture(made, 64, 48, red.toInt());
                QFile from(made), to(path);
                QVERIFY(from.open(QIODevice::ReadOnly) && to.open(QIODevice::WriteOnly));
                QVERIFY(to.write(from.readAll()) == from.size());
                QVERIFY(to.setFileTime(QDateTime::currentDateTimeUtc().addSecs(++seconds),
                                       QFile::FileModificationTime));
            }
        };
        QVERIFY(QDir().mkpath(QStringLiteral("simcam/1")) && QDir().mkpath(QStringLiteral("simcam/2")));
        apply(first, QStringLiteral("simcam/1/"));
        apply(second, QStringLiteral("simcam/2/"));
        const auto round = [](SimulateCamera &camera) {
            QStringList reds;
            for (int i = 0; i < camera.pictureFiles().size(); ++i, camera.stepFrame())
                reds << QString::number(servedRed(camera));
            return reds.join(QLatin1Char(' '));
        };
        auto one = openCamera(1), two = openCamera(2);
        QVERIFY(one && two && one->startCapture() && two->startCapture());
        QTEST(round(*one) + QStringLiteral(" | ") + round(*two), "served");
        QTEST(int(SimulateCamera::sharedPictureBytes()) / (64 * 48 * 4), "held");
        apply(changes, QStringLiteral("simcam/"));
        round(*one), round(*two); // the frames stored before the changes come first: then all is after
        QTEST(round(*one) + QStringLiteral(" | ") + round(*two), "servedAfter");
        QTEST(int(SimulateCamera::sharedPictureBytes()) / (64 * 48 * 4), "heldAfter");
        one.reset(), two.reset(); // and none when no camera holds them
        QCOMPARE(SimulateCamera::sharedPictureBytes(), size_t(0));
    }

    // One camera per numbered folder in number order, one camera when there is none; the camera's
    // temperature and parameters.
    void enumerationTemperatureAndParameters()
    {
        TestWorkDir dir(TestWorkDir::Empty);
        SimulateCamera prototype;
        QCOMPARE(prototype.enumerate().size(), 1);
        QCOMPARE(prototype.enumerate().first().id, QStringLiteral("simcam/1"));
        for (const char *name : {"10", "2", "x", "01", "0"})
            QVERIFY(QDir().mkpath(QStringLiteral("simcam/") + QLatin1String(name)));
        const QList<CameraDeviceInfo> found = prototype.enumerate();
        QCOMPARE(found.size(), 2);
        QCOMPARE(found.at(0).id, QStringLiteral("simcam/2"));
        QCOMPARE(found.at(1).id, QStringLiteral("simcam/10"));
        QCOMPARE(found.at(1).index, 1);
        QCOMPARE(found.at(1).iid, QStringLiteral("simulateCamera_IID"));
        QCOMPARE(prototype.create({0, QStringLiteral("mindCamera_IID"), QStringLiteral("simcam/2")}),
                 nullptr);

        auto camera = openCamera(10);
        QVERIFY(camera);
        QCOMPARE(camera->folder(), QStringLiteral("./simcam/10/"));
        const QJsonObject ask{{QStringLiteral("detect"), 1}, {QStringLiteral("funcNO"), 3}};
        QCOMPARE(camera->getParam(0, QVariant(ask)).toInt(), SimulateCamera::kDefaultTemperature);
        camera->setTemperature(-1234);
        QCOMPARE(camera->getParam(0, QVariant(ask)).toInt(), -1234);
        QVERIFY(!camera->getParam(1, QVariant(ask)).isValid());
        QVERIFY(!camera->getParam(0, QVariant(QJsonObject{{QStringLiteral("detect"), 1}})).isValid());

        SysParam block;
        camera->loadParams(&block, 7);
        QCOMPARE(block.exposeTime[7], 30);
        QCOMPARE(block.adjustPlus[7], 32);
        QCOMPARE(block.gamma[7], 70);
        QVERIFY(!camera->setAutoExposure(false).contains(QStringLiteral("ExposureTime")));
    }

    // Without the test seam the capture thread serves the pictures by itself; close() joins it. A second
    // camera on the same pictures shares them from its own thread.
    void captureThreadAdvances()
    {
        SimulateCamera::setManualStepping(false);
        TestWorkDir dir(TestWorkDir::Empty);
        writePicture(QStringLiteral("simcam/1/a.png"), 32, 32, 1);
        writePicture(QStringLiteral("simcam/1/b.png"), 32, 32, 2);
        QVERIFY(QDir().mkpath(QStringLiteral("simcam/2")) &&
                QFile::copy("simcam/1/a.png", "simcam/2/a.png"));
        auto camera = openCamera(1), other = openCamera(2);
        QVERIFY(camera && other && other->setFrameSpeed(100) && other->startCapture());
        QVERIFY(camera->setFrameSpeed(100));
        QVERIFY(!camera->setFrameSpeed(0));
        QVERIFY(camera->startCapture());
        QTRY_VERIFY_WITH_TIMEOUT(camera->frameCount() >= 5 && other->frameCount() >= 5, 5000);
        camera->close();
    }
};

QTEST_MAIN(TestSimulateCamera)
#include "tst_simcamera_thread.moc"

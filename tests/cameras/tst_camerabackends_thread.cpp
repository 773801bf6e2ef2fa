// The industrial and thermal back-ends against fake SDKs: frames converted on the capture threads,
// frames of another size or too short dropped, settings passed through, and the thermal camera's
// region temperatures read from the handed-over live table.

#include "cammersingleton.h"
#include "hkhotcamera.h"
#include "hkhotsdk.h"
#include "mindcamera.h"
#include "mindcamerasdk.h"
#include "sysparam.h"
#include "yuvconvert.h"

#include <QJsonObject>
#include <QtTest>
#include <deque>
#include <memory>
#include <mutex>

namespace {

// Hands out queued frames, one per grab; records the settings it was given.
class FakeMindSdk : public MindCameraSdk
{
public:
    struct Frame
    {
        std::vector<unsigned char> bgr;
        int w, h;
    };
    QList<MindCameraDevice> enumerateDevices() override { return devices; }
    int init(int index) override { return index == refuseIndex ? -13 : 40 + index; }
    void uninit(int handle) override { closed.append(handle); }
    QSize resolution(int) override { return size; }
    bool play(int) override { return true; }
    bool pause(int) override { return true; }
    bool grab(int, int, std::vector<unsigned char> &bgr, int &w, int &h) override
    {
        std::unique_lock<std::mutex> lock(mutex);
        if (frames.empty()) {
            lock.unlock();
            QThread::msleep(2);
            return false;
        }
        bgr = frames.front().bgr;
        w = frames.front().w;
        h = frames.front().h;
        frames.pop_front();
        return true;
    }
    bool set(int, Setting s, double v) override
    {
        settings.append({s, v});
        return true;
    }
    bool get(int, Setting s, double &v) override
    {
        if (!readings.contains(s))
            return false;
        v = readings.value(s);
        return true;
    }
    bool isConnected(int) override { return true; }
    void queue(Frame f)
    {
        std::lock_guard<std::mutex> lock(mutex);
        frames.push_back(std::move(f));
    }

    QList<MindCameraDevice> devices;
    int refuseIndex = -1;
    QSize size{4, 2};
    QList<int> closed;
    QList<QPair<Setting, double>> settings;
    QMap<Setting, double> readings;
    std::mutex mutex;
    std::deque<Frame> frames; // guarded by mutex
};

class FakeHKSdk : public HKHotSdk
{
public:
    QList<HKHotDevice> findDevices() override { return {{QStringLiteral("DS-2TD-1")}}; }
    int login(const QString &id) override { return id == QLatin1String("DS-2TD-1") ? 3 : -1; }
    void logout(int) override {}
    bool startRealPlay(int) override { return true; }
    void stopRealPlay(int) override {}
    bool nextFrame(int, int, HKHotFrame &f) override
    {
        std::unique_lock<std::mutex> lock(mutex);
        if (frames.empty()) {
            lock.unlock();
            QThread::msleep(2);
            return false;
        }
        f = frames.front();
        frames.pop_front();
        return true;
    }
    bool isConnected(int) override { return true; }
    void queue(const HKHotFrame &f)
    {
        std::lock_guard<std::mutex> lock(mutex);
        frames.push_back(f);
    }
    std::mutex mutex;
    std::deque<HKHotFrame> frames; // guarded by mutex
};

// A YV12 picture: luma y everywhere, chroma v (red difference) and u.
HKHotFrame yv12Frame(int w, int h, unsigned char y, unsigned char v, unsigned char u)
{
    HKHotFrame f;
    f.width = w;
    f.height = h;
    f.yv12.assign(size_t(w) * h, y);
    f.yv12.insert(f.yv12.end(), size_t(w) * h / 4, v);
    f.yv12.insert(f.yv12.end(), size_t(w) * h / 4, u);
    return f;
}

cv::Mat nextImage(CameraInterface &camera)
{
    cv::Mat frame;
    for (int i = 0; i < 500 && !camera.getImage(frame); ++i)
        QThread::msleep(5);
    return frame;
}

} // namespace

class TestCameraBackends : public QObject
{
    Q_OBJECT
private slots:
    void cleanup()
    {
        setMindCameraSdk(nullptr);
        setHKHotSdk(nullptr);
        gColorCamera = 0;
    }

    // Without the vendor SDKs nothing is found and nothing opens.
    void noSdkFindsNoCamera()
    {
        QVERIFY(MindCamera().enumerate().isEmpty());
        QVERIFY(HKHotCamera().enumerate().isEmpty());
        MindCamera mind({0, QStringLiteral("mindCamera_IID"), QStringLiteral("A")});
        QVERIFY(!mind.open());
        HKHotCamera hot({0, QStringLiteral("HKHotCamera_IID"), QStringLiteral("B")});
        QVERIFY(!hot.open());
    }

    // The camera is found again by its serial (the SDK's numbering may have changed); B, G, R
    // pixels arrive as R, G, B, 0; a frame of another size and a buffer shorter than its size are
    // dropped while the next good frame still arrives.
    void industrialFramesAndSettings()
    {
        FakeMindSdk sdk;
        sdk.devices = {{QStringLiteral("MV-1"), QStringLiteral("one")}, {QStringLiteral("MV-2"), QString()}};
        setMindCameraSdk(&sdk);
        MindCamera prototype;
        const QList<CameraDeviceInfo> found = prototype.enumerate();
        QCOMPARE(found.size(), 2);
        QCOMPARE(found.at(1).id, QStringLiteral("MV-2"));
        QCOMPARE(found.at(1).iid, QStringLiteral("mindCamera_IID"));

        std::unique_ptr<CameraInterface> camera(prototype.create(found.at(1)));
        sdk.devices = {sdk.devices.at(1), sdk.devices.at(0)}; // renumbered since discovery
        QVERIFY(camera->open());
        QCOMPARE(camera->imageSize(), QSize(4, 2));
        QVERIFY(camera->startCapture());

        std::vector<unsigned char> good;
        for (int i = 0; i < 8; ++i)
            good.insert(good.end(), {uchar(10 + i), uchar(20 + i), uchar(30 + i)});
        sdk.queue({std::vector<unsigned char>(6 * 2 * 3, 7), 6, 2}); // another size
        sdk.queue({std::vector<unsigned char>(5, 7), 4, 2});         // too short
        sdk.queue({good, 4, 2});
        const cv::Mat frame = nextImage(*camera);
        QCOMPARE(frame.size(), cv::Size(4, 2));
        QCOMPARE(frame.at<cv::Vec4b>(1, 3), cv::Vec4b(37, 27, 17, 0));
        QCOMPARE(frame.at<cv::Vec4b>(0, 0), cv::Vec4b(30, 20, 10, 0));
        QCOMPARE(camera->frameCount(), quint64(1));

        // Exposure from the settings is in ms, the SDK takes µs; switching the automatic exposure
        // off reports what the camera settled on.
        sdk.readings = {{MindCameraSdk::ExposureTime, 12500.0},
                        {MindCameraSdk::AnalogGain, 48.0},
                        {MindCameraSdk::Gamma, 90.0}};
        QVERIFY(camera->setExposureTime(30, false, false));
        QVERIFY(sdk.settings.contains({MindCameraSdk::ExposureTime, 30000.0}));
        const QJsonObject settled = camera->setAutoExposure(false);
        QCOMPARE(settled.value(QStringLiteral("ExposureTime")).toDouble(), 12500.0);
        QCOMPARE(settled.value(QStringLiteral("Gain")).toInt(), 48);
        SysParam block;
        block.sharp[2] = 5;
        camera->loadParams(&block, 2);
        QCOMPARE(block.exposeTime[2], 13);
        QCOMPARE(block.adjustPlus[2], 48);
        QCOMPARE(block.gamma[2], 90);
        QCOMPARE(block.sharp[2], 5); // not read back: kept
        camera.reset();
        QCOMPARE(sdk.closed, QList<int>{40});
    }

    void thermalFrames_data()
    {
        QTest::addColumn<int>("colour");
        QTest::newRow("gray box") << 0;
        QTest::newRow("colour box") << 1;
    }

    // Gray boxes get the luma; colour boxes R, G, B, 0 (a picture with a strong red difference must
    // come out red, not blue).
    void thermalFrames()
    {
        QFETCH(int, colour);
        gColorCamera = colour;
        FakeHKSdk sdk;
        setHKHotSdk(&sdk);
        sdk.queue(yv12Frame(8, 4, 100, 128, 128));
        HKHotCamera prototype;
        std::unique_ptr<CameraInterface> camera(prototype.create(prototype.enumerate().value(0)));
        QVERIFY(camera && camera->open());
        QVERIFY(camera->isThermal());
        QCOMPARE(camera->imageSize(), QSize(8, 4));
        QVERIFY(camera->startCapture());
        HKHotFrame odd = yv12Frame(8, 4, 1, 1, 1);
        odd.yv12.resize(8 * 4); // no chroma planes
        sdk.queue(odd);
        sdk.queue(yv12Frame(10, 4, 1, 1, 1));
        sdk.queue(yv12Frame(8, 4, 120, 220, 128));
        const cv::Mat frame = nextImage(*camera);
        QCOMPARE(camera->frameCount(), quint64(1));
        if (colour) {
            QCOMPARE(frame.type(), CV_8UC4);
            const cv::Vec4b px = frame.at<cv::Vec4b>(2, 5);
            QVERIFY(px[0] > 200 && px[2] < 140);
            QCOMPARE(int(px[3]), 0);
        } else {
            QCOMPARE(frame.type(), CV_8UC1);
            HKHotFrame same = yv12Frame(8, 4, 120, 220, 128);
            cv::Mat expected(4, 8, CV_8UC1);
            QVERIFY(yuv420pToGray(same.yv12.data(), expected.data, 8, 4, 0, false));
            QCOMPARE(cv::norm(frame, expected, cv::NORM_INF), 0.0);
        }
    }

    // The highest temperature inside a temperature-alarm rectangle of slot 0 or 1 of the live
    // table, on a grid half as fine as the picture; nothing for other regions or slots.
    void thermalRegionTemperatures()
    {
        FakeHKSdk sdk;
        setHKHotSdk(&sdk);
        HKHotFrame first = yv12Frame(40, 20, 50, 128, 128);
        first.tempWidth = 20;
        first.tempHeight = 10;
        first.degrees.assign(200, 20.0f);
        first.degrees[3 * 20 + 6] = 55.55f; // picture pixels (12..13, 6..7)
        first.degrees[9 * 20 + 19] = 99.0f; // outside every region
        sdk.queue(first);
        HKHotCamera camera({0, QStringLiteral("HKHotCamera_IID"), QStringLiteral("DS-2TD-1")});
        QVERIFY(camera.open());

        std::unique_ptr<CammerSingleton> table(new CammerSingleton(0));
        table->roiCount[1] = 3;
        for (int j = 0; j < 3; ++j) {
            const int e = CammerSingleton::entry(1, j);
            table->function[e] = j == 1 ? FuncDefect : FuncTemperatureAlarm;
            table->rects[e].imageRect = QRect(10, 4, 6, 6);
        }
        table->rects[CammerSingleton::entry(1, 2)].imageRect = QRect(0, 0, 4, 4);
        table->roiCount[2] = 1;
        table->function[CammerSingleton::entry(2, 0)] = FuncTemperatureAlarm;
        table->rects[CammerSingleton::entry(2, 0)].imageRect = QRect(10, 4, 6, 6);

        auto ask = [&](int detect, int roi) {
            return camera.getParam(0, QVariant(QJsonObject{{QStringLiteral("detect"), detect},
                                                           {QStringLiteral("funcNO"), roi}}));
        };
        QVERIFY(!ask(1, 0).isValid()); // no table handed over yet
        QVERIFY(!camera.setParam(0, QVariant(5)));
        QVERIFY(camera.setParam(0, QVariant::fromValue(table.get())));
        QCOMPARE(ask(1, 0).toInt(), 5555);
        QCOMPARE(ask(1, 2).toInt(), 2000);
        QVERIFY(!ask(1, 1).isValid()); // not a temperature region
        QVERIFY(!ask(1, 3).isValid()); // beyond the slot's count
        QVERIFY(!ask(2, 0).isValid()); // slots 0 and 1 only
        QVERIFY(!ask(-1, 0).isValid());

        // The editor's save changes the live table in place: the next question reads the new
        // rectangle.
        table->rects[CammerSingleton::entry(1, 0)].imageRect = QRect(30, 12, 10, 8);
        QCOMPARE(ask(1, 0).toInt(), 9900);
    }
};

QTEST_MAIN(TestCameraBackends)
#include "tst_camerabackends_thread.moc"

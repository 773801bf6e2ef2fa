// The smart-camera back-end and its handle API against a fake camera behind the link interface:
// return codes, pictures converted on the image puller, frames that do not fit dropped, the list
// discovery gives. (The same over the real bytes: tst_smartcamera_loopback_thread.)

#include "myvekcamera.h"
#include "sysparam.h"
#include "vekcamera.h"

#include <QtTest>
#include <memory>
#include <mutex>

namespace {

// The camera all links reach; tests switch it off and on and choose what it sends.
struct FakeCamera
{
    std::mutex mutex;
    bool online = true;
    int starts = 0;
    QJsonObject params{{QStringLiteral("ExposureTime"), 12000.0}, {QStringLiteral("Gain"), 40}};
    VekPicture picture;
    QList<QVariantMap> commands;

    bool isOnline()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return online;
    }
    void setOnline(bool on)
    {
        std::lock_guard<std::mutex> lock(mutex);
        online = on;
    }
    void setPicture(const VekPicture &p)
    {
        std::lock_guard<std::mutex> lock(mutex);
        picture = p;
    }
};

class FakeLink : public VekLink
{
public:
    explicit FakeLink(FakeCamera &camera) : camera(camera) {}
    bool start(const QString &host, quint16) override
    {
        std::lock_guard<std::mutex> lock(camera.mutex);
        ++camera.starts;
        connected = camera.online && host == QLatin1String("127.0.0.1");
        return connected;
    }
    bool hasLiveSession() override { return connected && camera.isOnline(); }
    int getParams(QJsonObject &result) override
    {
        if (!hasLiveSession())
            return -12;
        std::lock_guard<std::mutex> lock(camera.mutex);
        result = camera.params;
        return 0;
    }
    QVariantMap setParams(const QVariantMap &p) override
    {
        if (!hasLiveSession())
            return {};
        std::lock_guard<std::mutex> lock(camera.mutex);
        for (auto it = p.begin(); it != p.end(); ++it)
            camera.params.insert(it.key(), QJsonValue::fromVariant(it.value()));
        return camera.params.toVariantMap();
    }
    bool command(const QVariantMap &p) override
    {
        if (!hasLiveSession())
            return false;
        std::lock_guard<std::mutex> lock(camera.mutex);
        camera.commands.append(p);
        return true;
    }
    int getPicture(VekPicture &picture, int) override
    {
        QThread::msleep(2);
        if (!hasLiveSession())
            return -12;
        std::lock_guard<std::mutex> lock(camera.mutex);
        picture = camera.picture;
        picture.image = camera.picture.image.clone();
        return 0;
    }

private:
    FakeCamera &camera;
    bool connected = false;
};

// NV21 of w x h: luma y, both chroma bytes 128 (no colour).
VekPicture nv21Picture(int w, int h, uchar y, bool withSize = true)
{
    VekPicture p;
    p.image = cv::Mat(h * 3 / 2, w, CV_8UC1, cv::Scalar(128));
    p.image.rowRange(0, h).setTo(y);
    p.info = {{QStringLiteral("format"), QStringLiteral("nv21")}};
    if (withSize) {
        p.info.insert(QStringLiteral("width"), w);
        p.info.insert(QStringLiteral("height"), h);
    }
    return p;
}

cv::Mat nextImage(CameraInterface &camera)
{
    cv::Mat frame;
    for (int i = 0; i < 1000 && !camera.getImage(frame); ++i)
        QThread::msleep(5);
    return frame;
}

const CameraDeviceInfo kCamera{0, QStringLiteral("vekCamera_IID"), QStringLiteral("127.0.0.1")};

} // namespace

class TestVekCamera : public QObject
{
    Q_OBJECT
private slots:
    // OpenCV's own worker threads (TBB) are not what these tests look at, and ThreadSanitizer cannot
    // see their synchronisation.
    void initTestCase() { cv::setNumThreads(1); }
    void init()
    {
        fake = std::make_unique<FakeCamera>();
        fake->picture = nv21Picture(8, 6, 100);
        FakeCamera *camera = fake.get();
        setVekLinkFactory([camera] { return std::make_unique<FakeLink>(*camera); });
    }
    void cleanup()
    {
        setVekLinkFactory({});
        MyVekCamera::setDiscovery({}, {});
        fake.reset();
    }

    // -6 for a handle that is not open (never opened, or closed), -12 for a camera that does not
    // answer; a camera that comes back is reconnected by the next request.
    void handleCodes()
    {
        QJsonObject params;
        VekPicture picture;
        bool online = true;
        for (int handle : {0, -1, 9999}) {
            QCOMPARE(VekCamera_GetParams(handle, &params), VEK_UNKNOWN_HANDLE);
            QCOMPARE(VekCamera_SetParams(handle, {{"Gain", 1}}), VEK_UNKNOWN_HANDLE);
            QCOMPARE(VekCamera_Command(handle, {{"command", "start"}}), VEK_UNKNOWN_HANDLE);
            QCOMPARE(VekCamera_GetPicture(handle, &picture, 10), VEK_UNKNOWN_HANDLE);
            QCOMPARE(VekCamera_StartGrab(handle, {}), VEK_UNKNOWN_HANDLE);
            QCOMPARE(VekCamera_StopGrab(handle), VEK_UNKNOWN_HANDLE);
            QCOMPARE(VekCamera_IsOnline(handle, &online), VEK_UNKNOWN_HANDLE);
            QCOMPARE(VekCamera_Close(handle), VEK_UNKNOWN_HANDLE);
        }
        int handle = -1;
        QCOMPARE(VekCamera_Open(QStringLiteral("127.0.0.2"), &handle), VEK_REQUEST_FAILED);
        QCOMPARE(VekCamera_Open(QStringLiteral("127.0.0.1"), &handle), VEK_OK);
        QCOMPARE(VekCamera_GetParams(handle, &params), VEK_OK);
        QCOMPARE(params.value(QStringLiteral("Gain")).toInt(), 40);

        fake->setOnline(false);
        QCOMPARE(VekCamera_GetParams(handle, &params), VEK_REQUEST_FAILED);
        QCOMPARE(VekCamera_SetParams(handle, {{"Gain", 7}}), VEK_REQUEST_FAILED);
        QCOMPARE(VekCamera_GetPicture(handle, &picture, 10), VEK_REQUEST_FAILED);
        QCOMPARE(VekCamera_IsOnline(handle, &online), VEK_OK);
        QVERIFY(!online);
        fake->setOnline(true);
        QCOMPARE(VekCamera_SetParams(handle, {{"Gain", 7}}), VEK_OK);
        QCOMPARE(fake->params.value(QStringLiteral("Gain")).toInt(), 7);

        QCOMPARE(VekCamera_Close(handle), VEK_OK);
        QCOMPARE(VekCamera_Close(handle), VEK_UNKNOWN_HANDLE);
        int next = -1;
        QCOMPARE(VekCamera_Open(QStringLiteral("127.0.0.1"), &next), VEK_OK);
        QVERIFY(next != handle); // an old handle never reaches a newer camera
        QCOMPARE(VekCamera_GetParams(handle, &params), VEK_UNKNOWN_HANDLE);
        QCOMPARE(VekCamera_Close(next), VEK_OK);
    }

    void picturesArriveAsRgba_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QString>("format"); // "format" member: "top", "result" or none
        QTest::newRow("NV21 described at the top") << 0 << QSize(8, 6) << "top";
        QTest::newRow("NV21 described inside result") << 0 << QSize(8, 6) << "result";
        QTest::newRow("NV21 without description: 1.5 x rows by cols") << 0 << QSize(8, 6) << "";
        QTest::newRow("RGB picture") << 2 << QSize(8, 6) << "";
        QTest::newRow("gray picture named gray inside result") << 3 << QSize(8, 6) << "result";
        QTest::newRow("gray picture whose rows cannot hold NV21") << 3 << QSize(8, 7) << "";
    }

    // The camera opens at the size of its first picture; the pictures its image puller pulls arrive
    // as R, G, B, 0 of that size and content. A one-channel picture of 9 x 8 (rows x cols) is NV21 of
    // 6 x 8 unless its description says otherwise.
    void picturesArriveAsRgba()
    {
        QFETCH(int, kind);
        QFETCH(QSize, size);
        QFETCH(QString, format);
        VekPicture p;
        cv::Vec4b expected;
        const QString name = kind == 0 ? QStringLiteral("NV21") : QStringLiteral("gray");
        if (kind == 0) {
            p = nv21Picture(size.width(), size.height(), 150, false);
            p.info = QJsonObject();
            // Limited-range luma: 1.164 x (150 - 16).
            expected = cv::Vec4b(156, 156, 156, 0);
        } else if (kind == 2) {
            p.image = cv::Mat(size.height(), size.width(), CV_8UC3, cv::Scalar(200, 50, 10));
            expected = cv::Vec4b(200, 50, 10, 0);
        } else {
            p.image = cv::Mat(size.height(), size.width(), CV_8UC1, cv::Scalar(77));
            expected = cv::Vec4b(77, 77, 77, 0);
        }
        p.info.insert(QStringLiteral("code"), 0);
        if (format == QLatin1String("top"))
            p.info.insert(QStringLiteral("format"), name);
        else if (format == QLatin1String("result"))
            p.info.insert(QStringLiteral("result"), QJsonObject{{QStringLiteral("format"), name}});
        fake->setPicture(p);
        std::unique_ptr<CameraInterface> camera(MyVekCamera().create(kCamera));
        QVERIFY(camera->open());
        QCOMPARE(camera->imageSize(), size);
        QVERIFY(camera->startCapture());
        QTRY_VERIFY(camera->frameCount() >= 3);
        const cv::Mat frame = nextImage(*camera);
        QCOMPARE(frame.type(), CV_8UC4);
        QCOMPARE(frame.cols, size.width());
        QCOMPARE(frame.rows, size.height());
        for (const cv::Point at : {cv::Point(0, 0), cv::Point(7, 5), cv::Point(3, 2)}) {
            const cv::Vec4b px = frame.at<cv::Vec4b>(at);
            for (int c = 0; c < 4; ++c)
                QVERIFY2(std::abs(px[c] - expected[c]) <= 1, qPrintable(QString::number(px[c])));
        }
        QCOMPARE(fake->commands.size(), 2); // start, play
        QVERIFY(camera->isOnline());
    }

    // Pictures that fit no layout (NV21 named but rows not a multiple of 3 or odd columns, three
    // channels named NV21, an empty picture) and pictures of another size: dropped, never stored,
    // never converted past the buffer; the next good one is kept.
    void picturesThatDoNotFitAreDropped()
    {
        MyVekCamera camera(kCamera);
        QVERIFY(camera.open());
        cv::Mat first;
        QVERIFY(camera.getImage(first)); // the picture it opened with
        const QJsonObject namedNv21{{QStringLiteral("result"),
                                     QJsonObject{{QStringLiteral("format"), QStringLiteral("NV21")}}}};
        VekPicture shortBuffer = nv21Picture(8, 6, 9);
        shortBuffer.image = shortBuffer.image.rowRange(0, 8).clone();
        VekPicture oddColumns;
        oddColumns.image = cv::Mat(9, 7, CV_8UC1, cv::Scalar(9));
        oddColumns.info = namedNv21;
        VekPicture colourNamedNv21;
        colourNamedNv21.image = cv::Mat(9, 8, CV_8UC3, cv::Scalar(9, 9, 9));
        colourNamedNv21.info = namedNv21;
        VekPicture larger = nv21Picture(10, 6, 9);
        VekPicture unnamedLarger;
        unnamedLarger.image = cv::Mat(12, 8, CV_8UC1, cv::Scalar(9)); // NV21 of 8 x 8
        for (const VekPicture &bad :
             {shortBuffer, oddColumns, colourNamedNv21, larger, unnamedLarger, VekPicture()})
            camera.onFrame(bad);
        QCOMPARE(camera.frameCount(), quint64(1));
        QVERIFY(!camera.getImage(first));
        camera.onFrame(nv21Picture(8, 6, 60));
        const cv::Mat frame = nextImage(camera);
        QCOMPARE(int(frame.at<cv::Vec4b>(5, 7)[0]), 51); // limited-range luma: 1.164 x (60 - 16)
    }

    // Discovery's list: one camera per id, only those with an address; each opens at its address.
    void discoveryList()
    {
        MyVekCamera::setDiscovery(
            [] {
                return QList<VekDevice>{{QStringLiteral("QOR-7"), QStringLiteral("127.0.0.1")},
                                        {QStringLiteral("QOR-7"), QStringLiteral("127.0.0.9")},
                                        {QStringLiteral("BAD"), QStringLiteral("not an address")},
                                        {QStringLiteral("QOR-8"), QStringLiteral("127.0.0.2")}};
            },
            {});
        MyVekCamera prototype;
        const QList<CameraDeviceInfo> found = prototype.enumerate();
        QCOMPARE(found.size(), 2);
        QCOMPARE(found.at(1).id, QStringLiteral("QOR-8"));
        std::unique_ptr<CameraInterface> camera(prototype.create(found.at(0)));
        QVERIFY(camera->open()); // at 127.0.0.1, the address discovery gave
        std::unique_ptr<CameraInterface> other(prototype.create(found.at(1)));
        QVERIFY(!other->open()); // nothing answers at 127.0.0.2
    }

private:
    std::unique_ptr<FakeCamera> fake;
};

QTEST_MAIN(TestVekCamera)
#include "tst_vekcamera_thread.moc"

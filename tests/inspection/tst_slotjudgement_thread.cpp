// A slot judged on four cameras side by side against the same cameras judged one after another: the
// views' verdicts, values, blobs and images, the temperature outcomes and every call out of the
// inspection engine (hooks, the camera's temperature readings) in order, must be identical. Also runs
// under ThreadSanitizer (scripts/tsan.sh): ten passes of 640 x 512 frames on four cameras.

#include "cameradetector.h"
#include "cameraparamsource.h"
#include "clock.h"
#include "detectorfixture.h"
#include "inspectionhooks.h"
#include "sharedwork.h"
#include "slotjudgement.h"
#include "syntheticimages.h"
#include "viewresults.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <QThread>

#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>

namespace {

constexpr int kW = 640;
constexpr int kH = 512;
constexpr int kSlot = 1;
constexpr int kCameras = 4;

QStringList *gCalls = nullptr; // every call out of the engine, in order (GUI thread)

// A thermal back-end answering each region with a reading of its own.
class Thermal : public CameraParamSource
{
public:
    int camera = 0;
    QVariant getParam(int command, const QVariant &value) override
    {
        const QJsonObject ask = value.toJsonObject();
        gCalls->append(QStringLiteral("ask %1 %2 %3").arg(camera).arg(command).arg(
            QString::fromUtf8(QJsonDocument(ask).toJson(QJsonDocument::Compact))));
        return 2000 + 100 * camera + ask.value(QStringLiteral("funcNO")).toInt();
    }
};

struct Camera
{
    std::unique_ptr<DetectorFixture> fx;
    std::unique_ptr<CameraDetector> detector;
    Thermal thermal;
    cv::Mat base;
};

// How many threads are inside a detector's registration at once: each registration's log line holds
// its thread long enough for a second one to show up beside it.
std::atomic<int> gInRegistration{0};
std::atomic<int> gMostInRegistration{0};
std::atomic<int> gRegistrations{0};
QtMessageHandler gPreviousHandler = nullptr;

void countRegistrations(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.contains(QLatin1String("registration of slot"))) {
        const int inside = ++gInRegistration;
        int most = gMostInRegistration.load();
        while (inside > most && !gMostInRegistration.compare_exchange_weak(most, inside)) {
        }
        ++gRegistrations;
        QThread::msleep(150);
        --gInRegistration;
        return;
    }
    if (gPreviousHandler)
        gPreviousHandler(type, context, message);
}

} // namespace

class TstSlotJudgementThread : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void parallelEqualsOneAfterAnother_data();
    void parallelEqualsOneAfterAnother();
    void tenPassesOnFourCameras();
    void detectorListedTwiceIsMeasuredOneAfterTheOther();
    void sharedChunksRunOnceEachOnIdleWorkers();

private:
    // Four cameras with mixed regions: defect, similarity, spot, black area, white count, ignore,
    // temperature on cameras 0 and 2 (camera 0 beyond its limits), a region without mask on camera 3.
    void makeCameras(bool registration);
    // Frame of camera c: its surface, with foreign discs on cameras 1 and 3 when `dirty`.
    void loadFrames(bool dirty);
    QVector<CameraDetector *> detectors() const;

    std::vector<Camera> cameras;
    QStringList calls;
};

void TstSlotJudgementThread::initTestCase()
{
    // As the box at start-up: the judgement pool is made, and OpenCV keeps to one thread from then on
    // (its own workers would be invisible to the thread sanitizer as well).
    SlotJudgement::instance();
    QCOMPARE(cv::getNumThreads(), 1);
}

void TstSlotJudgementThread::init()
{
    gCalls = &calls;
    calls.clear();
    InspectionHooks &h = inspectionHooks();
    h.InsertRecord = [](const QString &line) { gCalls->append(QStringLiteral("record ") + line); };
    h.state = [] {
        gCalls->append(QStringLiteral("state"));
        return 1;
    };
    h.pendingResults = [](const RoiResultRecord &r) {
        gCalls->append(QStringLiteral("result %1 %2 %3 %4 %5 %6 %7 %8")
                           .arg(r.camera).arg(r.detect).arg(r.roi).arg(r.function).arg(r.value).arg(r.low)
                           .arg(r.high).arg(r.pass));
    };
    h.appendLive = [](int c, const QString &key, double x, double y) {
        gCalls->append(QStringLiteral("live %1 %2 %3 %4").arg(c).arg(key).arg(x, 0, 'f', 0).arg(y));
    };
    h.appendValue = [](int c, const QString &key, double x, double y) {
        gCalls->append(QStringLiteral("chart %1 %2 %3 %4").arg(c).arg(key).arg(x, 0, 'f', 0).arg(y));
    };
    h.insertRecord = [](int c, int d, QVector<int> r, QVector<qint64> t, QVector<double> v) {
        gCalls->append(QStringLiteral("row %1 %2 %3 %4 %5").arg(c).arg(d).arg(r.size()).arg(t.value(0))
                           .arg(v.value(0)));
    };
    setAppClock([] { return QDateTime::fromMSecsSinceEpoch(1765000000000LL); });
}

void TstSlotJudgementThread::cleanup()
{
    // Fixtures give back the globals in the reverse order they took them.
    while (!cameras.empty())
        cameras.pop_back();
    inspectionHooks() = InspectionHooks();
    setAppClock({});
    gCalls = nullptr;
}

void TstSlotJudgementThread::makeCameras(bool registration)
{
    cameras.resize(kCameras);
    for (int c = 0; c < kCameras; ++c) {
        Camera &cam = cameras[size_t(c)];
        cam.fx = std::make_unique<DetectorFixture>(kW, kH);
        SysParam &p = cam.fx->param;
        p.showAllParams = 1;
        p.minSpot = 3;
        p.filterSize = 3;
        p.alarmArea = 50;
        p.angleCorrect = registration ? 1 : 0;
        p.motionCorrect = registration ? 0 : -1;
        p.maxOffset = 12;
        for (int k = 0; k < 8; ++k)
            p.slotEnabled[k] = k == kSlot ? 1 : 0;
        cam.fx->view.cameraIndex = c;
        cam.fx->view.cameraIid = QStringLiteral("HKHotCamera_IID");
        cam.thermal.camera = c;
        cam.fx->view.cameraBackend = &cam.thermal;
        cam.base = texture(kW, kH, unsigned(70 + c), 2.5);
        cv::RNG rng(static_cast<uint64>(c + 1));
        for (int n = 0; n < 3; ++n) {
            cv::Mat grain(kH, kW, CV_8UC1);
            rng.fill(grain, cv::RNG::UNIFORM, 0, 4);
            cam.fx->setTemplate(kSlot, n, cam.base + grain);
        }
        DetectorFixture &f = *cam.fx;
        f.addRect(kSlot, QRect(40, 40, 160, 120), FuncDefect, 3, 25, 60);
        f.addCircle(kSlot, QPoint(330, 110), 70, 0, FuncSimilarity, 3, 80, 100);
        f.addRect(kSlot, QRect(450, 40, 150, 140), FuncSpot, 0 | (60 << 8), 0, 4000);
        f.addRect(kSlot, QRect(40, 220, 180, 140), FuncBlackArea, 3, 40, 900);
        f.addRect(kSlot, QRect(260, 220, 160, 140), FuncWhiteNum, 3, 200, 30);
        f.addCircle(kSlot, QPoint(520, 300), 60, 25, FuncSimilarity, 3, 70, 100);
        f.addRect(kSlot, QRect(40, 400, 120, 80), FuncIgnoreArea);
        if (registration)
            f.addRect(kSlot, QRect(200, 150, 240, 200), FuncPosition, 5);
        if (c == 0 || c == 2)
            f.addRect(kSlot, QRect(200, 400, 100, 80), FuncTemperatureAlarm, 0, 10, c == 0 ? 15 : 60);
        if (c == 3) {
            const int j = f.addRect(kSlot, QRect(320, 400, 100, 80), FuncSpot);
            f.view.roiMasks[kSlot][j] = cv::Mat(); // a region whose mask went missing
        }
        f.addRect(kSlot, QRect(450, 400, 150, 90), FuncDefect, 3, 25, 60);
    }
    // Every fixture installed its own parameters; they are all the same, the last one is in force.
    for (Camera &cam : cameras)
        cam.detector = std::make_unique<CameraDetector>(cam.fx->table, &cam.fx->view);
}

void TstSlotJudgementThread::loadFrames(bool dirty)
{
    for (int c = 0; c < kCameras; ++c) {
        Camera &cam = cameras[size_t(c)];
        cv::Mat frame = cam.base.clone();
        if (dirty && c % 2 == 1) {
            frame = withDisc(frame, cv::Point(120, 100), 12, 250);
            frame = withDisc(frame, cv::Point(330, 110), 14, 5);
        }
        frame.copyTo(cam.fx->grab());
    }
}

QVector<CameraDetector *> TstSlotJudgementThread::detectors() const
{
    QVector<CameraDetector *> d;
    for (const Camera &cam : cameras)
        d << cam.detector.get();
    return d;
}

void TstSlotJudgementThread::parallelEqualsOneAfterAnother_data()
{
    QTest::addColumn<bool>("registration");
    QTest::addColumn<int>("threads");
    QTest::newRow("measuring only") << false << kCameras;
    QTest::newRow("registration and positioning") << true << kCameras;
    // Four workers more than cameras: they take a share of the cameras' feature matching.
    QTest::newRow("registration, idle workers helping") << true << 2 * kCameras;
}

void TstSlotJudgementThread::parallelEqualsOneAfterAnother()
{
    QFETCH(bool, registration);
    QFETCH(int, threads);
    makeCameras(registration);
    loadFrames(true);

    gTemperatureAlarm = false;
    QVector<QByteArray> expected;
    for (Camera &cam : cameras) {
        clearResults(cam.fx->view);
        cam.detector->timedRegister(kSlot);
        cam.detector->findPosition(kSlot);
        cam.detector->detectCamera(kSlot);
        expected << viewResults(cam.fx->view, kSlot);
    }
    const QStringList expectedCalls = calls;

    calls.clear();
    for (Camera &cam : cameras)
        clearResults(cam.fx->view);
    SlotJudgement judgement(threads);
    const QVector<TemperatureOutcome> outcomes = judgement.judge(detectors(), kSlot);

    QCOMPARE(calls, expectedCalls);
    for (int c = 0; c < kCameras; ++c)
        QVERIFY2(viewResults(cameras[size_t(c)].fx->view, kSlot) == expected[c],
                 qPrintable(QString::number(c)));
    const QVector<TemperatureOutcome> temperatures{{true, true}, {false, false}, {true, false}, {false, false}};
    QCOMPARE(outcomes, temperatures);
    // Camera 0 is beyond its limits and camera 2, judged after it, within: over the slot's judgement
    // the alarm stands, as long as a camera that measured is beyond.
    QVERIFY(temperatureAlarmAfter(outcomes, false));
    QVERIFY(temperatureAlarmAfter(outcomes, true));
    QVERIFY(!temperatureAlarmAfter({{true, false}, {false, true}, {true, false}}, true));
    QVERIFY(temperatureAlarmAfter({{false, false}, {false, false}}, true)); // nobody measured: kept
    QVERIFY(!temperatureAlarmAfter({}, false));
    // The frames were judged: the discs make cameras 1 and 3 NG, camera 0 is beyond its temperature
    // limits, camera 3 also has a region it cannot measure; camera 2 alone passes.
    QVERIFY(!cameras[0].fx->view.allPass);
    QVERIFY(!cameras[1].fx->view.allPass);
    QVERIFY(cameras[2].fx->view.allPass);
    QVERIFY(!cameras[3].fx->view.allPass);
    QVERIFY(calls.contains(QStringLiteral("record REG RUN ERROR = 3, 1, -1")));
}

void TstSlotJudgementThread::tenPassesOnFourCameras()
{
    makeCameras(false);
    SlotJudgement judgement(kCameras);
    for (int pass = 0; pass < 10; ++pass) {
        const bool dirty = pass % 2 == 1;
        loadFrames(dirty);
        judgement.judge(detectors(), kSlot);
        QCOMPARE(cameras[1].fx->view.allPass, !dirty);
        QVERIFY(cameras[2].fx->view.allPass);
    }
}

// One detector holds one camera's buffers: listed twice in a slot it is measured twice one after the
// other, never by two threads at once, and leaves what two passes one after another leave.
void TstSlotJudgementThread::detectorListedTwiceIsMeasuredOneAfterTheOther()
{
    makeCameras(false);
    loadFrames(true);
    gTemperatureAlarm = false;
    QVector<QByteArray> expected;
    for (Camera &cam : cameras)
        clearResults(cam.fx->view);
    for (int c : {0, 0, 1}) {
        Camera &cam = cameras[size_t(c)];
        cam.detector->timedRegister(kSlot);
        cam.detector->findPosition(kSlot);
        cam.detector->detectCamera(kSlot);
    }
    for (int c : {0, 1})
        expected << viewResults(cameras[size_t(c)].fx->view, kSlot);
    const QStringList expectedCalls = calls;

    calls.clear();
    for (Camera &cam : cameras)
        clearResults(cam.fx->view);
    QLoggingCategory::setFilterRules(QStringLiteral("inspection.debug=true"));
    gInRegistration = gMostInRegistration = gRegistrations = 0;
    gPreviousHandler = qInstallMessageHandler(countRegistrations);
    SlotJudgement judgement(kCameras);
    const QVector<CameraDetector *> listed{cameras[0].detector.get(), cameras[0].detector.get(),
                                           cameras[1].detector.get()};
    const QVector<TemperatureOutcome> outcomes = judgement.judge(listed, kSlot);
    qInstallMessageHandler(gPreviousHandler);
    QLoggingCategory::setFilterRules(QString());

    QCOMPARE(gRegistrations.load(), 3);
    QCOMPARE(gMostInRegistration.load(), 1);
    QCOMPARE(calls, expectedCalls);
    QVERIFY(viewResults(cameras[0].fx->view, kSlot) == expected[0]);
    QVERIFY(viewResults(cameras[1].fx->view, kSlot) == expected[1]);
    const QVector<TemperatureOutcome> temperatures{{true, true}, {true, true}, {false, false}};
    QCOMPARE(outcomes, temperatures);
}

// A camera's worker shares 200 chunks: each runs exactly once, workers without a camera run some of
// them, and a chunk's exception reaches the camera's worker (whichever thread ran it) after every
// chunk taken has finished. Off the pool the chunks run in order on the calling thread.
void TstSlotJudgementThread::sharedChunksRunOnceEachOnIdleWorkers()
{
    constexpr int kChunks = 200;
    std::vector<int> order;
    shareWork(5, [&](int i) { order.push_back(i); });
    QCOMPARE(order, (std::vector<int>{0, 1, 2, 3, 4}));

    SlotJudgement judgement(4);
    for (const bool throwing : {false, true}) {
        std::vector<std::atomic<int>> runs(kChunks);
        std::mutex mutex;
        std::set<std::thread::id> helpers; // threads other than the camera's worker that ran a chunk
        std::atomic<bool> helped{false};
        std::thread::id owner;
        QString caught;
        judgement.runOnPool(1, [&](int) {
            owner = std::this_thread::get_id();
            try {
                shareWork(kChunks, [&](int i) {
                    ++runs[size_t(i)];
                    if (std::this_thread::get_id() != owner) {
                        const std::lock_guard<std::mutex> lock(mutex);
                        helpers.insert(std::this_thread::get_id());
                        helped = true;
                    }
                    // The camera's worker takes chunk 0 first and holds it until a helper has run
                    // one: the other workers are idle, so one does (the deadline only ends a hang).
                    if (i == 0) {
                        for (int waited = 0; !helped && waited < 20000; ++waited)
                            std::this_thread::sleep_for(std::chrono::milliseconds(1));
                    }
                    if (throwing && i == kChunks - 1)
                        throw std::runtime_error("chunk failed");
                });
            } catch (const std::exception &e) {
                caught = QString::fromUtf8(e.what());
            }
        });
        for (int i = 0; i < kChunks; ++i)
            QCOMPARE(runs[size_t(i)].load(), 1);
        QVERIFY(helped);
        QVERIFY(!helpers.empty() && helpers.size() <= 3);
        QCOMPARE(caught, throwing ? QStringLiteral("chunk failed") : QString());
    }
}

QTEST_GUILESS_MAIN(TstSlotJudgementThread)
#include "tst_slotjudgement_thread.moc"

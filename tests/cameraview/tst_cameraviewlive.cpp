// The camera view at work: a simulated camera's picture reaches the view and is painted with its
// regions, the spots of a pass and the verdict; camera settings reach the back-end from the right
// parameter block; frames that do not fit are dropped; result pictures, templates, ignore masks and
// the NG ring land where the saver, the detector and the editor look for them.

#include "cameradetector.h"
#include "cameraregistry.h"
#include "cameraviewhooks.h"
#include "cammersingleton.h"
#include "cammerwidget.h"
#include "clock.h"
#include "imagesize.h"
#include "inspectionhooks.h"
#include "mutexlocker.h"
#include "regiontabledb.h"
#include "savefailimagethread.h"
#include "simulatecamera.h"
#include "startup.h"
#include "sysparam.h"
#include "testworkdir.h"
#include "uitexttable.h"

#include <QDir>
#include <QTimer>
#include <QtTest>
#include <opencv2/imgproc.hpp>

namespace {

constexpr int kW = 320;
constexpr int kH = 240;

// A back-end that records every setting it is sent and serves the frames a test gives it.
class RecordingCamera : public CameraInterface
{
public:
    RecordingCamera() { setFrameFormat(QSize(kW, kH), CV_8UC4); }
    QString getIID() const override { return QStringLiteral("recording"); }
    QList<CameraDeviceInfo> enumerate() override { return {}; }
    CameraInterface *create(const CameraDeviceInfo &) override { return nullptr; }
    bool open() override { return true; }
    void close() override {}
    bool startCapture() override { return log(QStringLiteral("start")); }
    void stopCapture() override { log(QStringLiteral("stop")); }
    bool setExposureTime(int v, bool a, bool w) override
    {
        return log(QStringLiteral("exposure %1 %2 %3").arg(v).arg(a).arg(w));
    }
    bool setGain(int v) override { return log(QStringLiteral("gain %1").arg(v)); }
    bool setSharpness(int v) override { return log(QStringLiteral("sharp %1").arg(v)); }
    bool setContrast(int v) override { return log(QStringLiteral("contrast %1").arg(v)); }
    bool setGamma(int v) override { return log(QStringLiteral("gamma %1").arg(v)); }
    bool setOnceWhiteBalance() override { return log(QStringLiteral("wb")); }
    bool setTriggerMode(bool on, int c) override { return log(QStringLiteral("trigger %1 %2").arg(on).arg(c)); }
    bool setFrameSpeed(int v) override { return log(QStringLiteral("speed %1").arg(v)); }
    void loadParams(SysParam *block, int c) override
    {
        log(QStringLiteral("load %1 %2").arg(block == gSysParamEdit).arg(c));
    }
    bool isOnline() override { return online; }

    bool log(const QString &line)
    {
        calls << line;
        return true;
    }
    bool serve(const cv::Mat &frame) { return storeFrame(frame); }
    void reformat(int w, int h) { setFrameFormat(QSize(w, h), CV_8UC4); }

    QStringList calls;
    bool online = true;
};

// A gray picture of value `base` with a dark 10 x 10 square at image (200, 150).
QImage picture(int base)
{
    QImage image(kW, kH, QImage::Format_Grayscale8);
    image.fill(uint(base));
    for (int y = 150; y < 160; ++y)
        std::memset(image.scanLine(y) + 200, 10, 10);
    return image;
}

struct Fixture
{
    TestWorkDir dir;
    RegionTableDb db{dir.filePath(QStringLiteral("PARAM.db")), QStringLiteral("cameraview-live")};
    SysParam param;
    SysParam edit;

    Fixture()
    {
        gShowW = 640;
        gShowH = 480;
        gImageW = kW;
        gImageH = kH;
        gColorCamera = 0;
        gTemplateLimit = 10;
        param.showRoiLive = 1;
        param.minSpot = 1;
        param.motionCorrect = -1;
        param.slotEnabled[1] = 1;
        gSysParam = &param;
        gSysParamEdit = &edit;
        inspectionHooks().currentSlot = [] { return 1; };
        SimulateCamera::setManualStepping(true);
        QDir().mkpath(QStringLiteral("simcam/1"));
        picture(120).save(QStringLiteral("simcam/1/a.png"));
        // Slot 1: a black-area rectangle (gray up to 50, area up to 20) over image 150..299 x 125..224.
        db.put(0, QStringLiteral("detect1"), QStringLiteral("1"));
        db.put(0, QStringLiteral("ROI1-0"), QStringLiteral("0 50 20 4 1 0 0 300 250 599 449"));
        useSimulatedCameras();
    }
    ~Fixture()
    {
        cameraViewHooks() = CameraViewHooks();
        clearCameraBackends();
        inspectionHooks().currentSlot = nullptr;
        SimulateCamera::setManualStepping(false);
        gSysParam = nullptr;
        gSysParamEdit = nullptr;
        gImageW = kDefaultImageW;
        gImageH = kDefaultImageH;
    }
};

int grayAt(const QImage &image, double x, double y)
{
    return qGray(image.pixel(int(x), int(y)));
}

} // namespace

class TstCameraViewLive : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        fillUiTextTable();
        if (!gFailImageMutex)
            createProcessMutexes();
    }

    void pictureRegionsSpotsAndVerdictArePainted_data()
    {
        QTest::addColumn<double>("ratio");
        QTest::newRow("one camera on the whole screen") << 1.0;
        QTest::newRow("one of four cells") << 0.5;
    }
    void pictureRegionsSpotsAndVerdictArePainted()
    {
        QFETCH(double, ratio);
        Fixture f;
        CammerWidget view(nullptr, 0, &gCameraInfoList.at(0));
        QVERIFY(view.cameraOpened && view.connected);
        QVERIFY(view.grabFrame());
        QVERIFY(!view.grabFrame()); // no new frame since
        QVERIFY(qAbs(int(view.grabBuffer()[0]) - 120) <= 1); // RGBA to gray truncates

        view.screenRatioX = view.screenRatioY = float(ratio);
        view.resize(int(640 * ratio), int(480 * ratio));
        QImage shot = view.grab().toImage();
        const auto at = [&](int x, int y) { return shot.pixel(int(x * ratio), int(y * ratio)); };
        QVERIFY(qGreen(at(300, 350)) > 200 && qRed(at(300, 350)) < 80); // not judged yet: passed

        view.detector->timedRegister(1);
        view.detector->findPosition(1);
        view.detector->detectCamera(1);
        QVERIFY(!view.allPass);
        QCOMPARE(view.spots[1][0][0].x1, 1);
        view.resultTimer->start();
        shot = view.grab().toImage();
        QVERIFY(qAbs(grayAt(shot, 600 * ratio, 200 * ratio) - 120) <= 1); // the frame
        QVERIFY(grayAt(shot, 410 * ratio, 310 * ratio) < 30);         // the dark square
        QVERIFY(qRed(at(300, 350)) > 200 && qGreen(at(300, 350)) < 80); // failed region outline
        QVERIFY(qRed(at(400, 306)) > 200 && qGreen(at(400, 306)) < 80); // spot rectangle edge
        QVERIFY(qRed(at(30, 100)) > 150 && qGreen(at(30, 100)) < 60);   // NG box
        QPoint anchor;
        cameraViewHooks().setZoomAnchor = [&anchor](int x, int y) { anchor = QPoint(x, y); };
        QTest::mouseClick(&view, Qt::LeftButton, {}, QPoint(33, 44));
        QCOMPARE(anchor, QPoint(33, 44));
        view.resultTimer->stop();
        shot = view.grab().toImage();
        QVERIFY(qAbs(grayAt(shot, 30 * ratio, 100 * ratio) - 120) <= 1);
        // Regions hidden by the setting: the outline shows the frame again.
        f.param.showRoiLive = 0;
        shot = view.grab().toImage();
        QVERIFY(qAbs(grayAt(shot, 300 * ratio, 350 * ratio) - 120) <= 1);
    }

    // The live picture shows each frame pixel where the screen has room for it: every screen pixel of
    // the picture holds the colour (grey box: the grey) of the frame pixel picked for it, whether the
    // cell is as large as the frame or smaller; a cell larger than the frame (painter scaled) may show
    // a neighbour. The view's frame is the newest one served, in a grey box turned grey by the pixel
    // rule, whether or not it was read before the picture was made.
    void shownPictureIsTheFrameAtTheCellSize_data()
    {
        QTest::addColumn<bool>("colour");
        QTest::addColumn<double>("ratio");
        for (bool colour : {false, true}) {
            const char *box = colour ? "colour" : "grey";
            QTest::addRow("%s, cell twice the frame", box) << colour << 1.0;
            QTest::addRow("%s, cell the frame's size", box) << colour << 0.5;
            QTest::addRow("%s, cell 0.3 of the screen", box) << colour << 0.3;
            QTest::addRow("%s, cell a quarter of the screen", box) << colour << 0.25;
        }
    }
    void shownPictureIsTheFrameAtTheCellSize()
    {
        QFETCH(bool, colour);
        QFETCH(double, ratio);
        Fixture f;
        f.param.showRoiLive = 0;
        gColorCamera = colour ? 1 : 0;
        // A cell of a window, away from its corner, as the main window places its views.
        QWidget window;
        window.resize(700, 500);
        const QPoint corner(13, 7);
        CammerWidget view(&window, 0, &gCameraInfoList.at(0));
        gColorCamera = 0;
        auto *cam = new RecordingCamera;
        view.camera.reset(cam);
        view.screenRatioX = view.screenRatioY = float(ratio);
        const QSize cell(int(640 * ratio), int(480 * ratio));
        view.setGeometry(QRect(corner, cell));
        const bool exact = cell.width() <= kW;
        cv::Mat frame(kH, kW, CV_8UC4);
        // The frame as the box holds it: its own colour, or in a grey box trunc(r x 0.299 x 1024) +
        // trunc(g x 0.587 x 1024) + trunc(b x 0.114 x 1024), over 1024, in each channel.
        cv::Mat kept(kH, kW, CV_8UC4);
        const auto held = [](const cv::Mat &image, int x, int y) {
            const cv::Vec4b p = image.at<cv::Vec4b>(y, x);
            return qRgb(p[0], p[1], p[2]);
        };
        // Off screen the view makes its picture when painted, from the frame as served or from the one
        // a detection has read; on screen as the frame is taken, or straight onto the screen.
        for (const char *when : {"off screen", "off screen, read first", "on screen"}) {
            view.setVisible(QByteArray(when) == "on screen");
            if (view.isVisible()) {
                window.show();
                QVERIFY(QTest::qWaitForWindowExposed(&window));
            }
            // Two frames: the first, never read, must leave nothing behind.
            for (int n = 0; n < 2; ++n) {
                cv::randu(frame, 0, 256);
                frame.forEach<cv::Vec4b>([](cv::Vec4b &p, const int *) { p[3] = 0; });
                QVERIFY(cam->serve(frame));
                QVERIFY(view.grabFrame());
            }
            frame.forEach<cv::Vec4b>([&](cv::Vec4b &p, const int *at) {
                const int g = (int(float(p[0]) * 0.299f * 1024.0f) + int(float(p[1]) * 0.587f * 1024.0f) +
                               int(float(p[2]) * 0.114f * 1024.0f)) /
                              1024;
                kept.at<cv::Vec4b>(at[0], at[1]) = colour ? p : cv::Vec4b(uchar(g), uchar(g), uchar(g), 0);
            });
            // A cell no larger than the frame shows exactly OpenCV's nearest pick of the kept frame.
            cv::Mat picked = kept;
            if (exact)
                cv::resize(kept, picked = cv::Mat(), cv::Size(cell.width(), cell.height()), 0, 0,
                           cv::INTER_NEAREST_EXACT);
            if (QByteArray(when) == "off screen, read first")
                view.grabBuffer();
            // Painted into a larger picture away from its corner; only the left part asked for is
            // painted, the rest stays as it was.
            QImage canvas(cell.width() + 2 * corner.x(), cell.height() + 2 * corner.y(),
                          QImage::Format_RGB32);
            canvas.fill(Qt::blue);
            const QRect left(0, 0, cell.width() / 2, cell.height());
            view.render(&canvas, corner, QRegion(left));
            QCOMPARE(canvas.copy(left.translated(corner + QPoint(left.width(), 0))), [&] {
                QImage blue(left.size(), QImage::Format_RGB32);
                blue.fill(Qt::blue);
                return blue;
            }());
            view.render(&canvas, corner);
            const QImage shot = canvas.copy(QRect(corner, cell));
            QCOMPARE(shot.size(), cell);
            // The frame as a detection reads it.
            cv::Mat want = frame;
            if (!colour)
                cv::extractChannel(kept, want, 0);
            const cv::Mat read(kH, kW, want.type(), view.grabBuffer().data());
            QVERIFY2(cv::norm(read, want, cv::NORM_INF) == 0, when);
            // Clear of the camera line at the top and the counter lines at the bottom.
            const int line = std::max(16, int(40 * ratio));
            for (int sy = 2 * line + 4; sy < cell.height() - 3 * line; ++sy) {
                for (int sx = 0; sx < cell.width(); ++sx) {
                    const int x = exact ? sx : int((sx + 0.5) * kW / cell.width());
                    const int y = exact ? sy : int((sy + 0.5) * kH / cell.height());
                    const QRgb shown = shot.pixel(sx, sy) | 0xFF000000u;
                    bool found = false;
                    const int reach = exact ? 0 : 1;
                    for (int dy = -reach; dy <= reach && !found; ++dy) {
                        for (int dx = -reach; dx <= reach && !found; ++dx) {
                            const int nx = std::clamp(x + dx, 0, picked.cols - 1);
                            const int ny = std::clamp(y + dy, 0, picked.rows - 1);
                            found = held(picked, nx, ny) == shown;
                        }
                    }
                    if (!found)
                        QFAIL(qPrintable(
                            QStringLiteral("%1: screen (%2, %3) shows %4, frame (%5, %6) holds %7")
                                .arg(when)
                                .arg(sx)
                                .arg(sy)
                                .arg(shown, 8, 16)
                                .arg(x)
                                .arg(y)
                                .arg(held(picked, x, y), 8, 16)));
                }
            }
        }
    }

    void settingsReachTheCameraFromTheRightBlock_data()
    {
        QTest::addColumn<bool>("settingsVisible");
        QTest::newRow("settings screen hidden: values in force") << false;
        QTest::newRow("settings screen visible: working copy") << true;
    }
    void settingsReachTheCameraFromTheRightBlock()
    {
        QFETCH(bool, settingsVisible);
        Fixture f;
        for (SysParam *p : {&f.param, &f.edit}) {
            const int b = p == &f.edit ? 100 : 0;
            p->exposeTime[2] = b + 11;
            p->adjustPlus[2] = b + 12;
            p->sharp[2] = b + 13;
            p->contrast[2] = b + 14;
            p->gamma[2] = b + 15;
            p->frameSpeed = b + 16;
            p->autoExp = p == &f.edit;
            p->autoWDR = p != &f.edit;
        }
        cameraViewHooks().settingsVisible = [settingsVisible] { return settingsVisible; };
        CammerWidget view(nullptr, 2, &gCameraInfoList.at(0));
        auto *cam = new RecordingCamera;
        view.camera.reset(cam);
        view.cameraBackend = cam;
        view.applyExposure();
        view.applyGain();
        view.applySharpness();
        view.applyContrast();
        view.applyGamma();
        view.applyFrameSpeed();
        view.setTriggerMode(0, 2);
        view.loadCameraParameters();
        const int b = settingsVisible ? 100 : 0;
        const QString autoFlags = settingsVisible ? QStringLiteral("1 0") : QStringLiteral("0 1");
        QCOMPARE(cam->calls, (QStringList{QStringLiteral("exposure %1 %2").arg(b + 11).arg(autoFlags),
                                          QStringLiteral("wb"), QStringLiteral("gain %1").arg(b + 12),
                                          QStringLiteral("wb"), QStringLiteral("sharp %1").arg(b + 13),
                                          QStringLiteral("contrast %1").arg(b + 14),
                                          QStringLiteral("gamma %1").arg(b + 15), QStringLiteral("stop"),
                                          QStringLiteral("speed %1").arg(b + 16), QStringLiteral("start"),
                                          QStringLiteral("trigger 0 2"), QStringLiteral("load 1 2")}));
    }

    // A frame of another size (a back-end that changed its format) leaves the buffers as they were;
    // gray back-ends fit gray views; a lost camera is reported once.
    void framesThatDoNotFitAreDroppedAndLossIsReported()
    {
        Fixture f;
        int lost = 0;
        cameraViewHooks().cameraLostAlarm = [&lost] { ++lost; };
        CammerWidget view(nullptr, 0, &gCameraInfoList.at(0));
        auto *cam = new RecordingCamera;
        view.camera.reset(cam);
        QVERIFY(cam->serve(cv::Mat(kH, kW, CV_8UC4, cv::Scalar(90, 90, 90, 0))));
        QVERIFY(view.grabFrame());
        QVERIFY(qAbs(int(view.grabBuffer()[kW * kH - 1]) - 90) <= 1);
        cam->reformat(kW / 2, kH / 2);
        QVERIFY(cam->serve(cv::Mat(kH / 2, kW / 2, CV_8UC4, cv::Scalar(200, 200, 200, 0))));
        QVERIFY(!view.grabFrame());
        QVERIFY(qAbs(int(view.grabBuffer()[0]) - 90) <= 1);
        QCOMPARE(int(view.grabBuffer().size()), kW * kH);
        cam->online = false;
        view.grabFrame();
        view.grabFrame();
        QCOMPARE(lost, 1);
        QVERIFY(!view.connected);
    }

    // Each frame carries the moment its back-end stored it into the view's grab buffer. A camera whose
    // link stays up but whose pictures stop for kFrameStaleMs is lost (reported once) and found with
    // its next picture; a frame the back-end drops is no picture delivered; with the external trigger
    // no picture between cycles is normal.
    void picturesAreStampedAndACameraThatStopsIsLost_data()
    {
        // One step: the clock is set to `at` ms, the camera serves a fitting frame (1), one of another
        // size (2), one of another size after switching its own format, which the view drops, with
        // the view's frame unread (3) or read before (4), or nothing (0), then the view grabs;
        // expected: the grab's answer, the stamp kept beside the grab buffer (-1: no picture) and
        // whether the camera counts as there.
        QTest::addColumn<bool>("extTrigger");
        QTest::addColumn<QVector<QVector<qint64>>>("steps"); // at, serve, grabbed, stamp, connected
        const qint64 t = 10000, limit = 500; // the README's half a second at 12 frames a second
        QTest::newRow("pictures keep coming")
            << false
            << QVector<QVector<qint64>>{
                   {t, 1, 1, t, 1}, {t + 100, 1, 1, t + 100, 1}, {t + 200, 1, 1, t + 200, 1}};
        QTest::newRow("no new picture: still there until the limit, lost at it, found with the next")
            << false
            << QVector<QVector<qint64>>{{t, 1, 1, t, 1},
                                        {t + limit - 1, 0, 0, t, 1},
                                        {t + limit, 0, 0, t, 0},
                                        {t + limit + 300, 0, 0, t, 0},
                                        {t + limit + 400, 1, 1, t + limit + 400, 1}};
        QTest::newRow("dropped frames of another size are no pictures")
            << false
            << QVector<QVector<qint64>>{{t, 1, 1, t, 1},
                                        {t + 100, 2, 0, t, 1},
                                        {t + limit - 1, 2, 0, t, 1},
                                        {t + limit, 2, 0, t, 0},
                                        {t + limit + 100, 1, 1, t + limit + 100, 1}};
        QTest::newRow("a frame the view drops after one never read: no picture until the next")
            << false
            << QVector<QVector<qint64>>{
                   {t, 1, 1, t, 1}, {t + 100, 3, 0, -1, 1}, {t + 200, 1, 1, t + 200, 1}};
        QTest::newRow("a frame the view drops after one read: the read one stays")
            << false << QVector<QVector<qint64>>{{t, 1, 1, t, 1}, {t + 100, 4, 0, t, 1}};
        QTest::newRow("external trigger: no picture between cycles is normal")
            << true
            << QVector<QVector<qint64>>{
                   {t, 1, 1, t, 1}, {t + 20 * limit, 0, 0, t, 1}, {t + 21 * limit, 1, 1, t + 21 * limit, 1}};
    }
    void picturesAreStampedAndACameraThatStopsIsLost()
    {
        QFETCH(bool, extTrigger);
        QFETCH(QVector<QVector<qint64>>, steps);
        Fixture f;
        f.param.useExtTrigger = extTrigger ? 1 : 0;
        static std::atomic<qint64> now{0};
        now = steps.first().at(0);
        setAppMonotonicClock([] { return now.load(); });
        int lost = 0;
        cameraViewHooks().cameraLostAlarm = [&lost] { ++lost; };
        CammerWidget view(nullptr, 0, &gCameraInfoList.at(0));
        auto *cam = new RecordingCamera;
        view.camera.reset(cam);
        QCOMPARE(view.grabFrameMs, qint64(-1)); // nothing grabbed yet
        int expectedLosses = 0;
        bool wasConnected = true;
        for (const QVector<qint64> &step : steps) {
            const QByteArray at = QByteArray::number(step.at(0));
            now = step.at(0);
            if (step.at(1) == 1)
                QVERIFY2(cam->serve(cv::Mat(kH, kW, CV_8UC4, cv::Scalar(90, 90, 90, 0))), at.constData());
            else if (step.at(1) == 2)
                QVERIFY2(!cam->serve(cv::Mat(kH / 2, kW, CV_8UC4, cv::Scalar(9, 9, 9, 0))), at.constData());
            if (step.at(1) == 4)
                QCOMPARE(int(view.grabBuffer()[0]), 89); // grey of 90, 90, 90 truncated
            if (step.at(1) >= 3) {
                cam->reformat(kW, kH / 2);
                QVERIFY2(cam->serve(cv::Mat(kH / 2, kW, CV_8UC4, cv::Scalar(9, 9, 9, 0))), at.constData());
            }
            QCOMPARE(view.grabFrame(), step.at(2) == 1);
            QCOMPARE(view.grabFrameMs, step.at(3));
            QCOMPARE(view.connected, step.at(4) == 1);
            if (step.at(1) >= 3)
                cam->reformat(kW, kH);
            if (wasConnected && step.at(4) == 0)
                ++expectedLosses;
            wasConnected = step.at(4) == 1;
        }
        QCOMPARE(lost, expectedLosses);
        setAppMonotonicClock(nullptr);
    }

    // NG picture through the hand-over buffer to its JPEG; the region number recorded only when none
    // is; the template limit holds; the ignore mask and the last three NG frames are kept.
    void resultPicturesTemplatesMasksAndRing()
    {
        Fixture f;
        gCameraCount = 1;
        gDetectSlotCount = 2;
        gNgImageLimit = 3;
        gTemplateLimit = 2;
        CammerWidget view(nullptr, 0, &gCameraInfoList.at(0));
        QVERIFY(view.grabFrame());
        view.detector->timedRegister(1);
        view.detector->findPosition(1);
        view.detector->detectCamera(1);
        allocFailImageBuffers(0, kW, kH, gDetectSlotCount);
        view.SaveFailImage(1, 0);
        {
            MutexLocker lock(gFailImageMutex);
            QCOMPARE(gFailRoiNumber[0][1], 1);
            QCOMPARE(gFailImagePending[0][1][0], uchar(0)); // the cycle raises the flag, not the view
            gFailRoiNumber[0][1] = 7;
        }
        view.SaveFailImage(1, 0);
        {
            MutexLocker lock(gFailImageMutex);
            QCOMPARE(gFailRoiNumber[0][1], 7);
            gFailImagePending[0][1][0] = 1;
        }
        QDir().mkpath(resultImageFolder(0, 1, 0));
        QString saved;
        inspectionHooks().sendAlarmPicture = [&saved](const QJsonObject &, const QString &path) { saved = path; };
        {
            SaveFialImageThread saver;
            saver.start();
            QTRY_VERIFY(!saved.isEmpty());
            saver.stop();
            QVERIFY(saver.wait(2000));
        }
        inspectionHooks().sendAlarmPicture = nullptr;
        const QImage jpeg(saved);
        QCOMPARE(jpeg.size(), QSize(kW, kH));
        QVERIFY(qGray(jpeg.pixel(5, 2)) < 30);                 // the label band
        QVERIFY(qAbs(qGray(jpeg.pixel(60, 200)) - 120) < 8);  // the frame
        QVERIFY(qRed(jpeg.pixel(150, 175)) - qGreen(jpeg.pixel(150, 175)) > 80); // the failed region

        // An NG picture relabelled after the operator saved it as OK: the label turns green.
        view.allPass = true;
        view.UpdateFailImage(1, 0);
        {
            MutexLocker lock(gFailImageMutex);
            const QImage band(reinterpret_cast<const uchar *>(gFailImageBuffers[0][1][0].constData()), kW, 12,
                              kW * 4, QImage::Format_RGB32);
            int green = 0;
            for (int x = 0; x < kW; ++x)
                green += qGreen(band.pixel(x, 6)) > 150 && qRed(band.pixel(x, 6)) < 100;
            QVERIFY(green > 0);
        }

        QVERIFY(view.SaveReTrainImage(1));
        // The panel changes the selected region's grey limit and previews it on the template shown.
        view.editTable->copyWhole(*view.liveTable); // what opening the region editor does
        view.editRoiMasks[1][0] = view.roiMasks[1][0].clone();
        view.editSlot = 1;
        view.selectedRoi = 0;
        view.currentTemplate = 0;
        view.SlotSensitivity(60);
        QCOMPARE(view.editTable->param2[CammerSingleton::entry(1, 0)], 60);
        QVERIFY(view.previewShown);
        QCOMPARE(int(view.resultBuffer[155 * kW + 205]), 255);
        QCOMPARE(int(view.resultBuffer[200 * kW + 160]), 0);
        QVERIFY(view.SaveReTrainImage(1));
        QVERIFY(!view.SaveReTrainImage(1)); // at the limit: refused, nothing overwritten or added
        QCOMPARE(view.templateCount[1], 2);
        QVERIFY(!QFile::exists(view.templateFile(1, 2)));
        const QImage t1(view.templateFile(1, 1));
        QCOMPARE(t1.size(), QSize(kW, kH));
        QVERIFY(qGray(t1.pixel(205, 155)) <= 11);

        view.ignoreMasks[1](cv::Rect(10, 20, 5, 5)).setTo(255);
        QVERIFY(view.saveIgnoreMask(1));
        const QImage mask(view.ignoreMaskFile(1));
        QCOMPARE(qGray(mask.pixel(12, 22)), 255);
        QCOMPARE(qGray(mask.pixel(9, 22)), 0);

        for (int n = 1; n <= 4; ++n) {
            view.grabBuffer()[0] = uchar(n);
            view.keepNgFrame(1);
        }
        QCOMPARE(view.ngCount[1], 4);
        QCOMPARE(int(view.ngRing[1][0].at<uchar>(0, 0)), 4);
        QCOMPARE(int(view.ngRing[1][1].at<uchar>(0, 0)), 2);
        QCOMPARE(int(view.ngRing[1][2].at<uchar>(0, 0)), 3);
        allocFailImageBuffers(0, 0, 0, 0);
        gCameraCount = 0;
    }

    void copyParaCopiesSlotsByMachineType_data()
    {
        QTest::addColumn<int>("machineType");
        QTest::addColumn<QList<int>>("counts"); // region counts of slots 0..3 afterwards
        QTest::newRow("standard: 0 onto 1") << 0 << QList<int>{2, 2, 0, 0};
        QTest::newRow("two-colour: 0, 1 onto 2, 3") << 1 << QList<int>{2, 1, 2, 1};
        QTest::newRow("turntable: 0, 1 onto 2, 3") << 2 << QList<int>{2, 1, 2, 1};
        QTest::newRow("other type: nothing") << 5 << QList<int>{2, 1, 0, 0};
    }
    void copyParaCopiesSlotsByMachineType()
    {
        QFETCH(int, machineType);
        QFETCH(QList<int>, counts);
        Fixture f;
        f.db.put(0, QStringLiteral("detect0"), QStringLiteral("2"));
        f.db.put(0, QStringLiteral("ROI0-0"), QStringLiteral("7 8 9 5 1 0 0 20 20 119 99"));
        f.db.put(0, QStringLiteral("ROI0-1"), QStringLiteral("1 2 3 4 4 0 0 200 200 30"));
        f.param.machineType = machineType;
        CammerWidget view(nullptr, 0, &gCameraInfoList.at(0));
        view.CopyPara();
        const CammerSingleton &t = *view.liveTable;
        for (int k = 0; k < 4; ++k)
            QCOMPARE(t.roiCount[k], counts[k]);
        if (counts[2] == 2 || counts[1] == 2) {
            const int to = counts[1] == 2 ? 1 : 2;
            const int b = CammerSingleton::entry(to, 1);
            QCOMPARE(t.shape[b], int(ShapeCircle));
            QCOMPARE(t.circles[b].outerRadius, 30);
            QCOMPARE((QList<int>{t.param1[b], t.param2[b], t.param3[b], t.function[b]}), (QList<int>{1, 2, 3, 4}));
            QCOMPARE(cv::countNonZero(view.roiMasks[to][0]), cv::countNonZero(view.roiMasks[0][0]));
            QVERIFY(view.roiMasks[to][0].data != view.roiMasks[0][0].data);
        }
    }
};

QTEST_MAIN(TstCameraViewLive)
#include "tst_cameraviewlive.moc"

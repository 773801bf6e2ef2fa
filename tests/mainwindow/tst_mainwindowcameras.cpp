// What the main window gives the camera views at start-up: its parameter query for the region tables,
// and views only for cameras that opened.

#include "boxtestpolicy.h"
#include "cameradeviceinfo.h"
#include "cameraregistry.h"
#include "cammerwidget.h"
#include "simulatecamera.h"
#include "commandrunner.h"
#include "devewizard.h"
#include "mainwindowglobals.h"
#include "paramquery.h"
#include "startup.h"
#include "testworkdir.h"
#include "uitexttable.h"

#include <QtTest>

namespace {

class QuietRunner : public CommandRunner
{
public:
    CommandResult run(const QString &, const QStringList &, int) override
    {
        CommandResult r;
        r.started = true;
        r.exitCode = 0;
        return r;
    }
};

// An industrial back-end whose cameras are served from the simulated folder "simcam/1"; the camera
// with the id "BROKEN" does not open.
class FolderCamera : public SimulateCamera
{
public:
    explicit FolderCamera(const QString &id)
        : SimulateCamera({0, QStringLiteral("simulateCamera_IID"), QStringLiteral("simcam/1")}), id(id)
    {
    }
    QString getIID() const override { return QStringLiteral("mindCamera_IID"); }
    bool open() override { return id != QLatin1String("BROKEN") && SimulateCamera::open(); }
    QString id;
};

class FolderBackend : public FolderCamera
{
public:
    FolderBackend() : FolderCamera(QString()) {}
    QList<CameraDeviceInfo> enumerate() override
    {
        return {{0, getIID(), QStringLiteral("BROKEN")}, {1, getIID(), QStringLiteral("CAM-0002")}};
    }
    CameraInterface *create(const CameraDeviceInfo &info) override { return new FolderCamera(info.id); }
};

void writePicture(const QString &path, int red)
{
    QDir().mkpath(QFileInfo(path).path());
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(QColor(red, 0, 0));
    QVERIFY(image.save(path));
}

} // namespace

class TestMainWindowCameras : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        fillUiTextTable();
        BoxTestPolicy::enable(1);
        setCommandRunner(&runner);
    }
    void cleanupTestCase() { setCommandRunner(nullptr); }
    void init() { SimulateCamera::setManualStepping(true); }
    void cleanup()
    {
        SimulateCamera::setManualStepping(false);
        setCameraBackendFactory(kCameraBackendMind, {});
        clearCameraBackends();
    }

    void regionTablesUseTheWindowsParameterQuery()
    {
        TestWorkDir dir;
        {
            DeVeWizard window;
            QVERIFY(window.paramQuery);
            QCOMPARE(paramQuery(), window.paramQuery);
            QVERIFY(paramQuery()->exec(QStringLiteral("select count(*) from cammer7")));
        }
        QCOMPARE(paramQuery(), nullptr); // gone with the window
    }

    // No real camera: the simulated cameras of the folders stand in, each view with its camera's
    // ids and its back-end, which answers the detection pass's temperature question.
    void noCameraFoundBringsSimulatedCameras()
    {
        TestWorkDir dir;
        writePicture(QStringLiteral("simcam/1/a.png"), 10);
        writePicture(QStringLiteral("simcam/2/a.png"), 20);
        gCameraCount = 5;
        DeVeWizard window;
        QCOMPARE(gSimulatedCameras, 1);
        QCOMPARE(gCameraCount, 2);
        for (int i = 0; i < 2; ++i) {
            CammerWidget *view = window.cammerWidgets[i];
            QVERIFY(view && view->camera);
            QCOMPARE(view->cameraIid, QStringLiteral("simulateCamera_IID"));
            QCOMPARE(view->cameraId, QStringLiteral("simcam/%1").arg(i + 1));
            QCOMPARE(view->imageWidth, 64);
            QCOMPARE(view->getRoiTemperature(0, 0), SimulateCamera::kDefaultTemperature);
            cv::Mat frame;
            QVERIFY(view->camera->getImage(frame));
            QCOMPARE(int(frame.at<cv::Vec4b>(0, 0)[0]), 10 * (i + 1));
        }
        QCOMPARE(window.cammerWidgets[2], nullptr);
    }

    // The first camera found does not open: the second takes position 0, and the serial saved for
    // position 0 is the id of the camera that view shows, not of list entry 0.
    void camerasThatDoNotOpenAreDropped()
    {
        TestWorkDir dir;
        writePicture(QStringLiteral("simcam/1/a.png"), 10);
        setCameraBackendFactory(kCameraBackendMind, [] { return new FolderBackend; });
        DeVeWizard window;
        QCOMPARE(gSimulatedCameras, 0);
        QCOMPARE(gCameraCount, 1);
        QCOMPARE(gCameraInfoList.first().id, QStringLiteral("BROKEN"));
        QCOMPARE(window.cammerWidgets[0]->cameraId, QStringLiteral("CAM-0002"));
        QCOMPARE(window.cammerWidgets[0]->cameraIndex, 0);
        QCOMPARE(window.cammerWidgets[1], nullptr);
        // Building the dropped view loaded its table too: the slot rows of position 0 exist.
        QVERIFY(window.paramQuery->exec(
            QStringLiteral("select count(*) from cammer0 where name like 'detect%'")));
        QVERIFY(window.paramQuery->next());
        QCOMPARE(window.paramQuery->value(0).toInt(), 8);

        saveCameraSerials(0);
        QVERIFY(window.snQuery->exec(QStringLiteral("select value from sysparam where name='serialNB0'")));
        QVERIFY(window.snQuery->next());
        QCOMPARE(window.snQuery->value(0).toString(), QStringLiteral("CAM-0002"));
    }

private:
    QuietRunner runner;
};

QTEST_MAIN(TestMainWindowCameras)
#include "tst_mainwindowcameras.moc"

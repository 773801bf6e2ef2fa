// Saves one frame of each camera the box would use, as PNG files: the cameras the registry discovers
// in the working directory, or the simulated cameras when none opens (as the main window does).
// Usage: camgrab [output folder]   (default: the working directory)
// Files: "camera<position>.png"; the tool prints one line per camera and fails when a camera
// delivered no frame within 5 s.

#include "camerainterface.h"
#include "cameraregistry.h"

#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QThread>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

QImage toImage(const cv::Mat &frame)
{
    if (frame.type() == CV_8UC4)
        return QImage(frame.data, frame.cols, frame.rows, int(frame.step), QImage::Format_RGBX8888).copy();
    if (frame.type() == CV_8UC1)
        return QImage(frame.data, frame.cols, frame.rows, int(frame.step), QImage::Format_Grayscale8).copy();
    return QImage();
}

std::vector<std::unique_ptr<CameraInterface>> openCameras()
{
    std::vector<std::unique_ptr<CameraInterface>> opened;
    for (const CameraDeviceInfo &info : qAsConst(gCameraInfoList)) {
        if (opened.size() == 8)
            break;
        CameraInterface *prototype = cameraPrototype(info.iid);
        std::unique_ptr<CameraInterface> camera(prototype ? prototype->create(info) : nullptr);
        if (!camera || !camera->open()) {
            std::printf("%s %s: did not open\n", qPrintable(info.iid), qPrintable(info.id));
            continue;
        }
        camera->setObjectName(info.id);
        camera->startCapture();
        opened.push_back(std::move(camera));
    }
    return opened;
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    const QDir out(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("."));
    out.mkpath(QStringLiteral("."));

    discoverCameras();
    std::vector<std::unique_ptr<CameraInterface>> cameras = openCameras();
    if (cameras.empty()) {
        useSimulatedCameras();
        cameras = openCameras();
    }
    int failed = 0;
    for (size_t i = 0; i < cameras.size(); ++i) {
        CameraInterface &camera = *cameras[i];
        cv::Mat frame;
        QElapsedTimer waited;
        waited.start();
        while (!camera.getImage(frame) && waited.elapsed() < 5000)
            QThread::msleep(10);
        const QString path = out.filePath(QStringLiteral("camera%1.png").arg(i));
        const QImage image = toImage(frame);
        if (image.isNull() || !image.save(path)) {
            std::printf("%s %s: no frame saved\n", qPrintable(camera.getIID()),
                        qPrintable(camera.objectName()));
            ++failed;
            continue;
        }
        std::printf("%s %s: %dx%d -> %s\n", qPrintable(camera.getIID()), qPrintable(camera.objectName()),
                    frame.cols, frame.rows, qPrintable(path));
    }
    cameras.clear();
    clearCameraBackends();
    return failed ? 1 : 0;
}

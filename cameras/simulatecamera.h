#pragma once
// Cameras without hardware that serve real pictures, so the box can run and be shown without a
// camera: camera n serves the pictures of the folder "./simcam/<n>/" in name order, cycling, or a
// generated test picture when the folder holds none. The registry never asks this back-end during
// discovery; the main window falls back to it when no real camera opens.
//
// Threads: the operations run on the GUI thread; SimulateCameraThread advances one picture per frame
// period. The capture thread and stepFrame() take turns under stepMutex, which guards nextPicture,
// faultyPictures and the decoded pictures kept. Cameras whose files hold the same bytes share one
// decoded picture, under a lock of its own.

#include "camerainterface.h"

#include <QHash>
#include <QSet>
#include <QStringList>
#include <atomic>
#include <memory>

class SimulateCameraThread;

class SimulateCamera : public CameraInterface
{
    Q_OBJECT
public:
    // The prototype.
    SimulateCamera();
    // One camera of the folder named by info.id ("simcam/<n>").
    explicit SimulateCamera(const CameraDeviceInfo &info);
    ~SimulateCamera() override;

    static constexpr int kDefaultTemperature = 2500; // 25.00 degrees
    static constexpr int kMaxSide = 8192;            // a larger picture is refused before decoding

    QString getIID() const override;
    // One camera per folder "./simcam/<n>" (n from 1, in number order); one camera when there is none.
    QList<CameraDeviceInfo> enumerate() override;
    CameraInterface *create(const CameraDeviceInfo &info) override;

    // Lists the folder's pictures and fixes the frame size from the first readable header; pictures of
    // another size are left out. Without pictures the generated test picture is served.
    bool open() override;
    void close() override;
    // Serves the first picture at once, then one per frame period (unless stepping by hand).
    bool startCapture() override;
    void stopCapture() override;
    // Frames per second, 1..100 (other values keep the current rate).
    bool setFrameSpeed(int speed) override;
    qint64 picturePeriodMs() const override { return framePeriodMs.load(); }
    // Fixed defaults: exposure 30, gain 32, sharpness 0, contrast 50, gamma 70.
    void loadParams(SysParam *block, int camera) override;
    // Command 0 {"detect", "funcNO"}: the simulated temperature x 100 for every region.
    QVariant getParam(int command, const QVariant &value) override;

    // The temperature x 100 every region reads; any thread.
    void setTemperature(int hundredths) { temperature = hundredths; }

    // The pictures served, in order (empty: the generated picture). GUI thread, after open().
    QStringList pictureFiles() const { return pictures; }
    // The folder this camera reads.
    QString folder() const { return folderPath; }

    // Test seam: with manual stepping on (process-wide, set before cameras start), startCapture starts
    // no thread and each stepFrame() serves the next picture, so a test knows which one is judged.
    static void setManualStepping(bool on);
    void stepFrame();

    // Bytes of the decoded pictures all simulated cameras of the process hold, each picture counted
    // once however many cameras keep it. Any thread.
    static size_t sharedPictureBytes();

    // The picture served when the folder is empty: a gray test chart marked with the camera number.
    static cv::Mat generatedPicture(int width, int height, int cameraNumber);

    // One version of a picture file: another file renamed over it, or the same one rewritten, differs.
    struct PictureStamp
    {
        qint64 inode = -1;
        qint64 bytes = -1;
        qint64 modifiedNs = -1;
        bool operator==(const PictureStamp &o) const
        {
            return inode == o.inode && bytes == o.bytes && modifiedNs == o.modifiedNs;
        }
    };

private:
    friend class SimulateCameraThread;
    void advance();
    // The picture at `path` as a frame, read again only when the file changed; empty, with the
    // reason in `fault`, when it cannot be served. stepMutex held.
    cv::Mat pictureFrame(const QString &path, QString *fault);
    cv::Mat decodePicture(const QByteArray &bytes, QString *fault) const;

    QString folderPath;
    int cameraNumber = 1;
    QStringList pictures;
    cv::Mat generated;
    QSize size;
    QMutex stepMutex;
    int nextPicture = 0;          // guarded by stepMutex
    QSet<QString> faultyPictures; // guarded by stepMutex: pictures skipped, each logged once
    struct DecodedPicture
    {
        PictureStamp stamp;
        std::shared_ptr<const cv::Mat> picture; // shared with other cameras serving the same bytes
    };
    QHash<QString, DecodedPicture> decoded; // guarded by stepMutex, up to kDecodedBytesKept
    size_t decodedBytes = 0;                // guarded by stepMutex
    std::atomic<int> temperature{kDefaultTemperature};
    std::atomic<int> framePeriodMs{100};
    std::unique_ptr<SimulateCameraThread> thread;
    static std::atomic<bool> manualStepping;
};

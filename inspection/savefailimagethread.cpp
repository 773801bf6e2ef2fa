#include "savefailimagethread.h"

#include "atomicfile.h"
#include "clock.h"
#include "inspectionhooks.h"
#include "inspectionlog.h"
#include "mutexlocker.h"
#include "startup.h"
#include "sysparam.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QJsonObject>

#include <algorithm>
#include <chrono>
#include <cstring>

QByteArray gFailImageBuffers[8][8][2];
unsigned char gFailImagePending[8][8][2] = {};
int gFailRoiNumber[8][8] = {};
QSize gFailImageSize[8];
std::atomic<int> gCameraNgCount[8] = {};
std::atomic<int> gCameraTotalCount[8] = {};
SaveFialImageThread *gSaveFailImageThread = nullptr;

namespace {

constexpr int kCameras = 8;
constexpr int kSlots = 8;
constexpr int kReportPauseMs = 200;      // after each reported picture
constexpr int kUnreportedPauseMs = 1000; // after an NG picture whose OK twin carries the report
constexpr int kCyclePauseMs = 100;       // between passes

// The report link belongs to the GUI thread: hand it copies through the application's event queue.
void postAlarmPicture(int camera, int slot, int result, const QString &path)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app)
        return;
    const QJsonObject info{{QStringLiteral("camera"), camera},
                           {QStringLiteral("detect"), slot},
                           {QStringLiteral("result"), result}};
    QMetaObject::invokeMethod(
        app,
        [info, path]() {
            const InspectionHooks &h = inspectionHooks();
            if (h.sendAlarmPicture)
                h.sendAlarmPicture(info, path);
        },
        Qt::QueuedConnection);
}

} // namespace

QString resultImageFolder(int camera, int slot, int kind)
{
    return QStringLiteral("%1//camera%2//detect%3//%4")
        .arg(QStringLiteral("./alarmimage"))
        .arg(camera + 1)
        .arg(slot + 1)
        .arg(kind == 0 ? QStringLiteral("NG") : QStringLiteral("OK"));
}

void allocFailImageBuffers(int camera, int imageWidth, int imageHeight, int slotCount)
{
    if (camera < 0 || camera >= kCameras)
        return;
    const bool sized = imageWidth > 0 && imageHeight > 0;
    const qsizetype bytes = sized ? qsizetype(imageWidth) * imageHeight * 4 : 0;
    MutexLocker lock(gFailImageMutex);
    gFailImageSize[camera] = sized ? QSize(imageWidth, imageHeight) : QSize();
    for (int d = 0; d < kSlots; ++d) {
        for (int e = 0; e < 2; ++e) {
            if (d < slotCount && sized)
                gFailImageBuffers[camera][d][e] = QByteArray(bytes, '\0');
            else
                gFailImageBuffers[camera][d][e].clear();
            gFailImagePending[camera][d][e] = 0;
        }
        gFailRoiNumber[camera][d] = 0;
    }
}

SaveFialImageThread::SaveFialImageThread(QObject *parent) : QThread(parent) {}

SaveFialImageThread::~SaveFialImageThread()
{
    stop();
    wait();
}

void SaveFialImageThread::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_pauseMutex);
        m_stop.store(true);
    }
    m_wake.notify_all();
}

bool SaveFialImageThread::pause(int ms)
{
    std::unique_lock<std::mutex> lock(m_pauseMutex);
    m_wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_stop.load(); });
    return !m_stop.load();
}

void SaveFialImageThread::run()
{
    while (!stopping()) {
        saveWaiting();
        if (!pause(kCyclePauseMs))
            break;
    }
}

void SaveFialImageThread::saveWaiting()
{
    const int cameras = std::clamp(gCameraCount, 0, kCameras);
    const int slotCount = std::clamp(gDetectSlotCount, 0, kSlots);
    for (int c = 0; c < cameras && !stopping(); ++c) {
        QSize size;
        {
            MutexLocker lock(gFailImageMutex);
            size = gFailImageSize[c];
        }
        if (size.isEmpty())
            continue;
        // One picture per camera and pass, reused for each of its entries.
        QImage image(size, QImage::Format_RGB32);
        const qsizetype need = qsizetype(size.width()) * size.height() * 4;
        if (image.isNull() || image.sizeInBytes() != need)
            continue;

        for (int d = 0; d < slotCount && !stopping(); ++d) {
            bool ngWaiting = false;
            bool okWaiting = false;
            int roiNumber = 0;
            {
                MutexLocker lock(gFailImageMutex);
                ngWaiting = gFailImagePending[c][d][0] != 0;
                okWaiting = gFailImagePending[c][d][1] != 0;
                roiNumber = gFailRoiNumber[c][d];
            }
            for (int e = 0; e < 2 && !stopping(); ++e) {
                bool waiting = false;
                bool copied = false;
                {
                    MutexLocker lock(gFailImageMutex);
                    if (gFailImagePending[c][d][e]) {
                        waiting = true;
                        const QByteArray &buffer = gFailImageBuffers[c][d][e];
                        if (buffer.size() >= need) {
                            std::memcpy(image.bits(), buffer.constData(), size_t(need));
                            copied = true;
                        }
                        gFailImagePending[c][d][e] = 0;
                    }
                }
                if (!waiting)
                    continue;
                if (!copied) {
                    qCWarning(lcInspection) << "result picture of camera" << c << "slot" << d
                                            << "dropped: hand-over buffer smaller than the image";
                    continue;
                }
                // An OK picture of a pass that also failed goes with the NG ones.
                const bool ngFolder = e == 0 || ngWaiting;
                const int limit = ngFolder ? gNgImageLimit.load() : gOkImageLimit.load();
                if (limit < 1)
                    continue;
                if (ngFolder)
                    ++gCameraNgCount[c];
                ++gCameraTotalCount[c];

                const QString path = saveImage(image, c, d, ngFolder, roiNumber, limit);

                // With both pictures waiting only the second (OK) one is reported.
                if (e == 0 && ngWaiting && okWaiting) {
                    pause(kUnreportedPauseMs);
                    continue;
                }
                const int result = (e == 1 && (okWaiting || !ngFolder)) ? 1 : 0;
                if (!path.isEmpty())
                    postAlarmPicture(c, d, result, path);
                pause(kReportPauseMs);
            }
            if (ngWaiting) {
                MutexLocker lock(gFailImageMutex);
                gFailRoiNumber[c][d] = 0;
            }
        }
    }
}

QString SaveFialImageThread::saveImage(const QImage &image, int camera, int slot, bool ngFolder,
                                       int roiNumber, int limit)
{
    const QDir dir(resultImageFolder(camera, slot, ngFolder ? 0 : 1));

    // Keep limit - 1 of the newest, so that the new file makes the limit.
    const QFileInfoList files = dir.entryInfoList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Time);
    if (files.size() >= limit) {
        for (int i = limit - 1; i < files.size(); ++i)
            QFile::remove(files.at(i).absoluteFilePath());
    }

    QString name = appNow().toString(QStringLiteral("yyyy-MM-dd_hh.mm.ss"));
    if (roiNumber >= 1)
        name = QStringLiteral("%1_%2").arg(roiNumber).arg(name);
    const QString path = QStringLiteral("%1/%2.jpg").arg(dir.absolutePath(), name);

    // The reporting process reads the file as soon as it is reported: never let it see half a JPEG,
    // and never report a picture a full disk cut short.
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    QString error;
    if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "JPG"))
        error = QStringLiteral("cannot encode the picture");
    else if (writeFileAtomically(path, jpeg, {}, &error))
        return path;
    qCWarning(lcInspection).noquote() << "result picture not saved:" << path << error;
    return {};
}

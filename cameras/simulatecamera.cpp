#include "simulatecamera.h"

#include "cameraslog.h"
#include "imagesize.h"
#include "mutexlocker.h"
#include "sysparam.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QRegularExpression>
#include <QThread>
#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <opencv2/imgproc.hpp>
#include <sys/stat.h>

namespace {

const QString kIid = QStringLiteral("simulateCamera_IID");

// R, G, B, 0 per pixel, the frame format of every back-end, from the B, G, R, A bytes of Qt's 32-bit
// formats (little-endian), whole rows at a time. QImage's own conversion of a large picture runs on
// Qt's thread pool, so only the less usual formats go through it.
cv::Mat toFrame(const QImage &image)
{
    const bool direct = image.format() == QImage::Format_RGB32 || image.format() == QImage::Format_ARGB32;
    const QImage rgb = direct ? image : image.convertToFormat(QImage::Format_RGB32);
    const cv::Mat bgra(rgb.height(), rgb.width(), CV_8UC4, const_cast<uchar *>(rgb.constBits()),
                       size_t(rgb.bytesPerLine()));
    cv::Mat out;
    cv::cvtColor(bgra, out, cv::COLOR_BGRA2RGBA);
    cv::bitwise_and(out, cv::Scalar(255, 255, 255, 0), out);
    return out;
}

// The same in place, for a picture decoded straight into its frame as Qt's RGB32.
void toFrameInPlace(cv::Mat &frame)
{
    for (int y = 0; y < frame.rows; ++y) {
        quint32 *pixel = frame.ptr<quint32>(y);
        for (int x = 0; x < frame.cols; ++x) {
            const quint32 v = pixel[x];
            pixel[x] = (v >> 16 & 0xff) | (v & 0xff00) | (v & 0xff) << 16;
        }
    }
}

bool isPictureName(const QString &name)
{
    static const QStringList kSuffixes = {QStringLiteral("png"), QStringLiteral("bmp"),
                                          QStringLiteral("jpg"), QStringLiteral("jpeg")};
    return kSuffixes.contains(QFileInfo(name).suffix().toLower());
}

// Decoded pictures each camera keeps, so that serving one costs a copy instead of a decode, which on
// a busy machine can take longer than a frame period and pass for a camera that stopped. A picture
// shared with other cameras counts in full against each camera that keeps it, so what a camera keeps
// never depends on the other cameras' folders.
constexpr size_t kDecodedBytesKept = size_t(64) << 20;

// A picture file is read whole (to know its content), so one far larger than any encoding of its
// declared size (16-bit RGBA, stored uncompressed, with room for metadata) is refused unread.
qint64 maxPictureFileBytes(QSize size)
{
    return 8 * qint64(size.width()) * size.height() + (qint64(1) << 20);
}

// Decoded pictures of all simulated cameras of the process, found by the bytes of their file: several
// cameras serving the same sample pictures (from folders of their own) hold one decoded copy, not one
// each. A picture lives while any camera holds it. Any thread; one picture is decoded at a time, and
// a camera asking for a picture being decoded waits for it instead of decoding it too.
class SharedPictures
{
public:
    using Picture = std::shared_ptr<const cv::Mat>;

    static SharedPictures &instance()
    {
        // Never destroyed: a capture thread may still ask for a picture while the process ends.
        static SharedPictures *shared = new SharedPictures;
        return *shared;
    }

    // The picture of a file with these bytes: the one a camera holds, else `decode()` (which may
    // fail: empty, nothing is held).
    template <typename Decode> Picture find(const QByteArray &bytes, Decode decode)
    {
        const QByteArray key =
            QCryptographicHash::hash(bytes, QCryptographicHash::Sha256) + QByteArray::number(bytes.size());
        std::shared_ptr<Slot> slot;
        {
            std::lock_guard<std::mutex> lock(mutex);
            std::shared_ptr<Slot> &found = byContent[key];
            if (!found)
                found = std::make_shared<Slot>();
            slot = found;
            ++slot->users;
        }
        Picture picture;
        {
            std::lock_guard<std::mutex> lock(slot->decoding);
            picture = slot->picture.lock();
            if (!picture) {
                cv::Mat frame = decode();
                if (!frame.empty())
                    picture = std::make_shared<const cv::Mat>(std::move(frame));
                slot->picture = picture;
            }
        }
        std::lock_guard<std::mutex> lock(mutex);
        --slot->users;
        // Forget the pictures no camera holds any more (few: one per distinct picture file).
        for (auto it = byContent.begin(); it != byContent.end();)
            it = it->second->users == 0 && it->second->picture.expired() ? byContent.erase(it)
                                                                         : std::next(it);
        return picture;
    }

    size_t bytesHeld()
    {
        std::lock_guard<std::mutex> lock(mutex);
        size_t bytes = 0;
        for (const auto &entry : byContent) {
            if (entry.second->users != 0)
                continue;
            if (const Picture picture = entry.second->picture.lock())
                bytes += picture->total() * picture->elemSize();
        }
        return bytes;
    }

private:
    struct Slot
    {
        int users = 0;                        // guarded by SharedPictures::mutex: finds under way
        std::mutex decoding;                  // held while the picture is looked at or decoded
        std::weak_ptr<const cv::Mat> picture; // guarded by decoding, read by others only at users == 0
    };
    std::mutex mutex;
    std::map<QByteArray, std::shared_ptr<Slot>> byContent; // guarded by mutex
};

// The file's identity and version now; false when it is gone.
bool statPicture(const QString &path, SimulateCamera::PictureStamp *stamp)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    stamp->inode = qint64(st.st_ino);
    stamp->bytes = qint64(st.st_size);
    stamp->modifiedNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return true;
}

// The folder number of "simcam/<n>"; 0 when the id names none.
int folderNumber(const QString &id)
{
    static const QRegularExpression kId(QStringLiteral("^simcam/([1-9][0-9]{0,2})$"));
    const QRegularExpressionMatch m = kId.match(id);
    return m.hasMatch() ? m.captured(1).toInt() : 0;
}

} // namespace

// Serves one picture per frame period until asked to stop; the wait ends early on stop, so closing a
// camera never waits a whole period.
class SimulateCameraThread : public QThread
{
public:
    explicit SimulateCameraThread(SimulateCamera *camera) : camera(camera)
    {
        // Named, so that a measurement of the box's own threads can leave the stand-in cameras out.
        setObjectName(QStringLiteral("simcam capture"));
    }

    void stop()
    {
        {
            std::lock_guard<std::mutex> lock(waitMutex);
            stopRequested = true;
        }
        wake.notify_all();
    }

    // wait(), and then the lock the loop let go of last: QThread::wait() orders the loop's last steps
    // before its return through Qt's own mutex, which ThreadSanitizer cannot see when the thread had
    // already finished, so the delete of this object looked like a race with the loop's end.
    void join()
    {
        wait();
        std::lock_guard<std::mutex> lock(waitMutex);
    }

protected:
    void run() override
    {
        std::unique_lock<std::mutex> lock(waitMutex);
        while (!stopRequested) {
            const auto period = std::chrono::milliseconds(camera->framePeriodMs.load());
            if (wake.wait_for(lock, period, [this] { return stopRequested; }))
                break;
            lock.unlock();
            camera->advance();
            lock.lock();
        }
    }

private:
    SimulateCamera *camera;
    std::mutex waitMutex;
    std::condition_variable wake;
    bool stopRequested = false; // guarded by waitMutex
};

std::atomic<bool> SimulateCamera::manualStepping{false};

SimulateCamera::SimulateCamera() = default;

SimulateCamera::SimulateCamera(const CameraDeviceInfo &info)
{
    cameraNumber = std::max(1, folderNumber(info.id));
    folderPath = QStringLiteral("./simcam/%1/").arg(cameraNumber);
}

SimulateCamera::~SimulateCamera()
{
    close();
}

QString SimulateCamera::getIID() const
{
    return kIid;
}

QList<CameraDeviceInfo> SimulateCamera::enumerate()
{
    QList<int> numbers;
    const QStringList names = QDir(QStringLiteral("simcam")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &name : names) {
        const int n = folderNumber(QStringLiteral("simcam/") + name);
        if (n > 0 && QString::number(n) == name)
            numbers.append(n);
    }
    std::sort(numbers.begin(), numbers.end());
    if (numbers.isEmpty())
        numbers.append(1);
    QList<CameraDeviceInfo> found;
    for (int n : numbers)
        found.append({found.size(), kIid, QStringLiteral("simcam/%1").arg(n)});
    return found;
}

CameraInterface *SimulateCamera::create(const CameraDeviceInfo &info)
{
    if (info.iid != kIid)
        return nullptr;
    return new SimulateCamera(info);
}

bool SimulateCamera::open()
{
    close();
    pictures.clear();
    size = QSize();
    QDir dir(folderPath);
    const QStringList names = dir.entryList(QDir::Files, QDir::Name);
    for (const QString &name : names) {
        if (!isPictureName(name))
            continue;
        const QString path = dir.filePath(name);
        // The header says the size; nothing is decoded here, so a huge or broken file costs nothing.
        const QSize declared = QImageReader(path).size();
        if (!declared.isValid() || declared.width() < 2 || declared.height() < 2 ||
            declared.width() > kMaxSide || declared.height() > kMaxSide ||
            qint64(declared.width()) * declared.height() > kMaxPicturePixels) {
            qCWarning(lcCameras) << "simulated camera: unusable picture" << path << declared;
            continue;
        }
        if (size.isEmpty())
            size = declared;
        if (declared != size) {
            qCWarning(lcCameras) << "simulated camera: picture" << path << "is" << declared << "not" << size
                                 << "; left out";
            continue;
        }
        pictures.append(path);
    }
    if (pictures.isEmpty()) {
        size = QSize(kDefaultImageW, kDefaultImageH);
        generated = generatedPicture(size.width(), size.height(), cameraNumber);
    } else {
        generated.release();
    }
    {
        MutexLocker lock(&stepMutex);
        nextPicture = 0;
        faultyPictures.clear();
        decoded.clear();
        decodedBytes = 0;
    }
    setFrameFormat(size, CV_8UC4);
    qCInfo(lcCameras) << "simulated camera" << cameraNumber << "opened:" << pictures.size() << "pictures of"
                      << size;
    return true;
}

void SimulateCamera::close()
{
    stopCapture();
    setFrameFormat(QSize(), -1);
}

bool SimulateCamera::startCapture()
{
    if (imageSize().isEmpty())
        return false;
    if (thread)
        return true;
    advance();
    if (!manualStepping) {
        thread = std::make_unique<SimulateCameraThread>(this);
        thread->start();
    }
    return true;
}

void SimulateCamera::stopCapture()
{
    if (!thread)
        return;
    thread->stop();
    thread->join();
    thread.reset();
}

bool SimulateCamera::setFrameSpeed(int speed)
{
    if (speed < 1 || speed > 100)
        return false;
    framePeriodMs = 1000 / speed;
    return true;
}

void SimulateCamera::loadParams(SysParam *block, int camera)
{
    if (!block || camera < 0 || camera >= 8)
        return;
    block->exposeTime[camera] = 30;
    block->adjustPlus[camera] = 32;
    block->sharp[camera] = 0;
    block->contrast[camera] = 50;
    block->gamma[camera] = 70;
}

QVariant SimulateCamera::getParam(int command, const QVariant &value)
{
    if (command != 0)
        return QVariant();
    const QJsonObject ask = value.toJsonObject();
    if (!ask.contains(QStringLiteral("detect")) || !ask.contains(QStringLiteral("funcNO")))
        return QVariant();
    return QVariant(temperature.load());
}

void SimulateCamera::setManualStepping(bool on)
{
    manualStepping = on;
}

void SimulateCamera::stepFrame()
{
    if (!imageSize().isEmpty())
        advance();
}

void SimulateCamera::advance()
{
    MutexLocker lock(&stepMutex);
    if (pictures.isEmpty()) {
        storeFrame(generated);
        return;
    }
    const QString path = pictures.at(nextPicture);
    nextPicture = (nextPicture + 1) % pictures.size();
    QString fault;
    const cv::Mat frame = pictureFrame(path, &fault);
    // A picture deleted or replaced under the box is skipped, and serves nothing (a camera whose
    // pictures are all gone delivers none). Said once when it goes bad and once when it is back,
    // not at every frame period.
    if (frame.empty()) {
        if (!faultyPictures.contains(path)) {
            faultyPictures.insert(path);
            qCWarning(lcCameras).noquote()
                << QStringLiteral("simulated camera %1: picture %2 %3; skipped until it "
                                  "can be read again")
                       .arg(cameraNumber)
                       .arg(path, fault);
        }
        return;
    }
    if (faultyPictures.remove(path))
        qCInfo(lcCameras).noquote()
            << QStringLiteral("simulated camera %1: picture %2 readable again").arg(cameraNumber).arg(path);
    storeFrame(frame);
}

// A file replaced, rewritten or touched is read again; one that is gone serves nothing. Only a picture
// no camera holds is decoded.
cv::Mat SimulateCamera::pictureFrame(const QString &path, QString *fault)
{
    PictureStamp stamp;
    const bool present = statPicture(path, &stamp);
    const auto kept = decoded.find(path);
    if (kept != decoded.end()) {
        if (present && kept->stamp == stamp)
            return *kept->picture;
        decodedBytes -= kept->picture->total() * kept->picture->elemSize();
        decoded.erase(kept);
    }
    if (!present) {
        *fault = QStringLiteral("File not found");
        return cv::Mat();
    }
    // Read once: the bytes that name the picture are the bytes decoded, even if the file is being
    // rewritten meanwhile.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *fault = file.errorString();
        return cv::Mat();
    }
    if (file.size() > maxPictureFileBytes(size)) {
        *fault = QStringLiteral("too large for its size");
        return cv::Mat();
    }
    // As many bytes as the file has, not as it may have: a read buffer larger than the frames would
    // move the allocator's threshold for giving large blocks back to the system above them.
    const QByteArray bytes = file.read(file.size());
    const SharedPictures::Picture picture =
        SharedPictures::instance().find(bytes, [&] { return decodePicture(bytes, fault); });
    if (!picture) {
        if (fault->isEmpty())
            *fault = QStringLiteral("unreadable");
        return cv::Mat();
    }
    if (picture->cols != size.width() || picture->rows != size.height()) {
        *fault = QStringLiteral("changed size");
        return cv::Mat();
    }
    const size_t bytesKept = picture->total() * picture->elemSize();
    if (decodedBytes + bytesKept <= kDecodedBytesKept) {
        decoded.insert(path, {stamp, picture});
        decodedBytes += bytesKept;
    }
    return *picture;
}

cv::Mat SimulateCamera::decodePicture(const QByteArray &bytes, QString *fault) const
{
    // Read the header again: the file may have been replaced since the camera opened.
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    if (reader.size() != size) {
        *fault = reader.size().isValid() ? QStringLiteral("changed size") : reader.errorString();
        return cv::Mat();
    }
    // Decoded straight into the frame where the reader gives 32-bit pixels (JPEG, BMP, most PNG), so
    // a decode takes one frame of memory, not a second one to convert from.
    cv::Mat frame(size.height(), size.width(), CV_8UC4);
    QImage image(frame.data, size.width(), size.height(), int(frame.step[0]), QImage::Format_RGB32);
    if (!reader.read(&image) || image.size() != size) {
        *fault = reader.errorString();
        return cv::Mat();
    }
    if (image.constBits() != frame.data)
        return toFrame(image);
    toFrameInPlace(frame);
    return frame;
}

size_t SimulateCamera::sharedPictureBytes()
{
    return SharedPictures::instance().bytesHeld();
}

cv::Mat SimulateCamera::generatedPicture(int width, int height, int cameraNumber)
{
    QImage image(width, height, QImage::Format_RGB32);
    QPainter p(&image);
    QLinearGradient shade(0, 0, width, height);
    shade.setColorAt(0, QColor(70, 74, 80));
    shade.setColorAt(1, QColor(140, 144, 150));
    p.fillRect(image.rect(), shade);
    p.setPen(QPen(QColor(200, 200, 200), 1));
    const int step = std::max(8, width / 16);
    for (int x = step; x < width; x += step)
        p.drawLine(x, 0, x, height);
    for (int y = step; y < height; y += step)
        p.drawLine(0, y, width, y);
    p.setPen(QPen(Qt::white, 4));
    p.drawEllipse(QPoint(width / 2, height / 2), height / 4, height / 4);
    // The camera number as that many bars under the circle (no text: no font is needed here).
    const int bar = std::max(4, width / 40);
    for (int i = 0; i < std::min(cameraNumber, 16); ++i)
        p.fillRect(width / 2 - 8 * bar + i * bar, height * 7 / 8, bar / 2, bar * 2, Qt::white);
    p.end();
    return toFrame(image);
}

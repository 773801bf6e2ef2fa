// The result-image saver, run as the real thread on real folders: which files end up where, what
// the report link is told, the counters, and that the thread stops when asked.

#include "clock.h"
#include "inspectionhooks.h"
#include "mutexlocker.h"
#include "savefailimagethread.h"
#include "startup.h"
#include "sysparam.h"
#include "testfiles.h"
#include "testworkdir.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QJsonObject>
#include <QtTest>

#include <cstring>
#include <memory>
#include <unistd.h>

namespace {

constexpr int kW = 64;
constexpr int kH = 48;

struct Report
{
    QJsonObject info;
    QString path;
    bool onGuiThread = false;
};

// What CammerWidget::SaveFailImage does at the end: copy the picture in, record the first failed
// region when none is recorded, raise the flag.
void handOver(int camera, int slot, int entry, const QImage &picture, int roiNumber = 0)
{
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB32);
    MutexLocker lock(gFailImageMutex);
    QByteArray &buffer = gFailImageBuffers[camera][slot][entry];
    QVERIFY(buffer.size() >= rgb.sizeInBytes());
    std::memcpy(buffer.data(), rgb.constBits(), size_t(rgb.sizeInBytes()));
    if (gFailRoiNumber[camera][slot] == 0)
        gFailRoiNumber[camera][slot] = roiNumber;
    gFailImagePending[camera][slot][entry] = 1;
}

bool pending(int camera, int slot, int entry)
{
    MutexLocker lock(gFailImageMutex);
    return gFailImagePending[camera][slot][entry] != 0;
}

QImage solid(QRgb colour)
{
    QImage img(kW, kH, QImage::Format_RGB32);
    img.fill(colour);
    return img;
}

// A picture JPEG cannot squeeze much: far above 1000 bytes.
QImage busyPicture()
{
    QImage img(kW, kH, QImage::Format_RGB32);
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x)
            img.setPixel(x, y, qRgb((x * 37 + y * 11) % 256, (x * y) % 256, (x ^ y) * 5 % 256));
    }
    return img;
}

QStringList jpegs(const QString &folder)
{
    return QDir(folder).entryList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Name);
}

} // namespace

class TstSaveFailImageThread : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void folderNamesCountFromOne();
    void singlePicture_data();
    void singlePicture();
    void prunesOldestAndPrefixesFailedRegion();
    void bothPicturesGoToNgAndOnlyTheSecondIsReported();
    void sameSecondAndRegionReplacesTheEarlierPicture();
    void limitBelowOneSavesNothing();
    void limitsChangedWhileSaving();
    void unwritableFolderIsNotReported();
    void fullDiskKeepsTheOldPictureAndReportsNothing();
    void shortHandOverBufferIsDropped();
    void stopsDuringItsPauses();

private:
    void startSaver();
    // Waits long enough for a further report to have arrived.
    void settle() { QTest::qWait(400); }

    std::unique_ptr<TestWorkDir> m_dir;
    std::unique_ptr<SaveFialImageThread> m_saver;
    QList<Report> m_reports;
    std::atomic<int> m_seconds{0};
};

void TstSaveFailImageThread::initTestCase()
{
    if (!gFailImageMutex)
        createProcessMutexes();
}

void TstSaveFailImageThread::init()
{
    m_dir = std::make_unique<TestWorkDir>(TestWorkDir::Empty);
    QVERIFY(m_dir->isValid());
    for (int d = 0; d < 2; ++d) {
        for (int e = 0; e < 2; ++e)
            QVERIFY(QDir().mkpath(resultImageFolder(0, d, e)));
    }
    gCameraCount = 1;
    gDetectSlotCount = 2;
    gNgImageLimit = 5;
    gOkImageLimit = 5;
    for (int c = 0; c < 8; ++c) {
        gCameraNgCount[c] = 0;
        gCameraTotalCount[c] = 0;
    }
    allocFailImageBuffers(0, kW, kH, 2);

    // Every picture a second later than the one before, so two saves never share a name.
    m_seconds = 0;
    setAppClock(
        [this]() { return QDateTime(QDate(2024, 5, 6), QTime(7, 8, 9)).addSecs(m_seconds.fetch_add(1)); });

    m_reports.clear();
    inspectionHooks().sendAlarmPicture = [this](const QJsonObject &info, const QString &path) {
        m_reports.append({info, path, QThread::currentThread() == QCoreApplication::instance()->thread()});
    };
}

void TstSaveFailImageThread::cleanup()
{
    if (m_saver) {
        m_saver->stop();
        QVERIFY(m_saver->wait(5000));
        m_saver.reset();
    }
    inspectionHooks().sendAlarmPicture = nullptr;
    setAppClock({});
    gCameraCount = 0;
    allocFailImageBuffers(0, 0, 0, 0);
    m_dir.reset();
}

void TstSaveFailImageThread::startSaver()
{
    m_saver = std::make_unique<SaveFialImageThread>();
    QVERIFY(m_saver->parent() == nullptr);
    m_saver->start();
}

void TstSaveFailImageThread::folderNamesCountFromOne()
{
    QCOMPARE(resultImageFolder(0, 0, 0), QStringLiteral("./alarmimage//camera1//detect1//NG"));
    QCOMPARE(resultImageFolder(7, 3, 1), QStringLiteral("./alarmimage//camera8//detect4//OK"));
}

void TstSaveFailImageThread::singlePicture_data()
{
    QTest::addColumn<int>("slot");
    QTest::addColumn<int>("entry");
    QTest::addColumn<int>("kind");   // folder the file must land in: 0 NG, 1 OK
    QTest::addColumn<int>("result"); // reported result
    QTest::addColumn<int>("ngCount");

    QTest::newRow("NG picture of slot 0") << 0 << 0 << 0 << 0 << 1;
    QTest::newRow("OK picture of slot 1") << 1 << 1 << 1 << 1 << 0;
}

void TstSaveFailImageThread::singlePicture()
{
    QFETCH(int, slot);
    QFETCH(int, entry);
    QFETCH(int, kind);
    QFETCH(int, result);
    QFETCH(int, ngCount);

    const QRgb colour = qRgb(200, 40, 90);
    handOver(0, slot, entry, solid(colour));
    startSaver();
    QTRY_COMPARE(m_reports.size(), 1);

    const QString folder = resultImageFolder(0, slot, kind);
    QCOMPARE(jpegs(folder), QStringList{QStringLiteral("2024-05-06_07.08.09.jpg")});
    QVERIFY(jpegs(resultImageFolder(0, slot, 1 - kind)).isEmpty());

    const Report r = m_reports.first();
    QCOMPARE(r.info, (QJsonObject{{"camera", 0}, {"detect", slot}, {"result", result}}));
    QCOMPARE(r.path, QDir(folder).absoluteFilePath(QStringLiteral("2024-05-06_07.08.09.jpg")));
    QVERIFY2(r.onGuiThread, "the report link must be called on the GUI thread");

    // The picture on disk is the one handed over (JPEG is lossy: compare loosely).
    const QImage saved(r.path);
    QCOMPARE(saved.size(), QSize(kW, kH));
    const QColor mid = saved.pixelColor(kW / 2, kH / 2);
    QVERIFY2(qAbs(mid.red() - 200) < 8 && qAbs(mid.green() - 40) < 8 && qAbs(mid.blue() - 90) < 8,
             qPrintable(mid.name()));

    QCOMPARE(gCameraNgCount[0].load(), ngCount);
    QCOMPARE(gCameraTotalCount[0].load(), 1);
    QVERIFY(!pending(0, slot, entry));
    settle();
    QCOMPARE(m_reports.size(), 1);
}

void TstSaveFailImageThread::prunesOldestAndPrefixesFailedRegion()
{
    const QString folder = resultImageFolder(0, 0, 0);
    // Seven older pictures, old0 the oldest; names do not sort like their times on purpose.
    const QDateTime base = QDateTime::currentDateTime().addDays(-1);
    QStringList kept;
    for (int i = 0; i < 7; ++i) {
        const QString name = QStringLiteral("z%1_old%2.jpg").arg(9 - i).arg(i);
        QVERIFY(writeTestFile(QDir(folder).filePath(name), "not really a jpeg", base.addSecs(60 * i)));
        if (i >= 3)
            kept << name;
    }
    // A folder named like a picture is not a picture.
    QVERIFY(QDir(folder).mkdir(QStringLiteral("keep.jpg")));

    handOver(0, 0, 0, solid(qRgb(10, 10, 10)), 12);
    startSaver();
    QTRY_COMPARE(m_reports.size(), 1);

    kept << QStringLiteral("12_2024-05-06_07.08.09.jpg");
    kept.sort();
    QCOMPARE(jpegs(folder), kept);
    QVERIFY(QFileInfo(QDir(folder).filePath(QStringLiteral("keep.jpg"))).isDir());
    QCOMPARE(m_reports.first().path,
             QDir(folder).absoluteFilePath(QStringLiteral("12_2024-05-06_07.08.09.jpg")));
    QCOMPARE(QImage(m_reports.first().path).size(), QSize(kW, kH));
    QCOMPARE(m_reports.first().info, (QJsonObject{{"camera", 0}, {"detect", 0}, {"result", 0}}));

    // Reset once the slot is done, so the next NG picture records its own first failed region.
    QTRY_COMPARE(([] {
                     MutexLocker lock(gFailImageMutex);
                     return gFailRoiNumber[0][0];
                 })(),
                 0);
}

void TstSaveFailImageThread::bothPicturesGoToNgAndOnlyTheSecondIsReported()
{
    handOver(0, 1, 0, solid(qRgb(255, 0, 0)), 3);
    handOver(0, 1, 1, solid(qRgb(0, 0, 255)));
    startSaver();
    QTRY_COMPARE_WITH_TIMEOUT(m_reports.size(), 1, 5000);

    const QString ng = resultImageFolder(0, 1, 0);
    const QStringList expected{QStringLiteral("3_2024-05-06_07.08.09.jpg"),
                               QStringLiteral("3_2024-05-06_07.08.10.jpg")};
    QCOMPARE(jpegs(ng), expected);
    QVERIFY(jpegs(resultImageFolder(0, 1, 1)).isEmpty());
    QCOMPARE(gCameraNgCount[0].load(), 2);
    QCOMPARE(gCameraTotalCount[0].load(), 2);

    const Report r = m_reports.first();
    QCOMPARE(r.info, (QJsonObject{{"camera", 0}, {"detect", 1}, {"result", 1}}));
    QCOMPARE(r.path, QDir(ng).absoluteFilePath(expected.at(1)));
    // The reported file is the OK picture (blue), the first one the NG picture (red).
    QVERIFY(QImage(r.path).pixelColor(5, 5).blue() > 200);
    QVERIFY(QImage(QDir(ng).filePath(expected.at(0))).pixelColor(5, 5).red() > 200);
    settle();
    QCOMPARE(m_reports.size(), 1);
}

void TstSaveFailImageThread::sameSecondAndRegionReplacesTheEarlierPicture()
{
    setAppClock([] { return QDateTime(QDate(2024, 5, 6), QTime(7, 8, 9)); });
    const auto roiNumber = [] {
        MutexLocker lock(gFailImageMutex);
        return gFailRoiNumber[0][0];
    };
    handOver(0, 0, 0, solid(qRgb(255, 0, 0)), 4);
    startSaver();
    QTRY_COMPARE(m_reports.size(), 1);
    QTRY_COMPARE(roiNumber(), 0);
    handOver(0, 0, 0, solid(qRgb(0, 0, 255)), 4);
    QTRY_COMPARE(m_reports.size(), 2);

    const QString folder = resultImageFolder(0, 0, 0);
    QCOMPARE(jpegs(folder), QStringList{QStringLiteral("4_2024-05-06_07.08.09.jpg")});
    QCOMPARE(m_reports.at(1).path, m_reports.at(0).path);
    QVERIFY(QImage(m_reports.at(1).path).pixelColor(5, 5).blue() > 200);
    QCOMPARE(gCameraNgCount[0].load(), 2);
    QCOMPARE(gCameraTotalCount[0].load(), 2);
}

void TstSaveFailImageThread::limitBelowOneSavesNothing()
{
    gNgImageLimit = 0;
    gOkImageLimit = -3;
    handOver(0, 0, 0, solid(qRgb(1, 2, 3)));
    handOver(0, 1, 1, solid(qRgb(1, 2, 3)));
    startSaver();
    QTRY_VERIFY(!pending(0, 0, 0) && !pending(0, 1, 1));
    settle();
    for (int d = 0; d < 2; ++d) {
        for (int e = 0; e < 2; ++e)
            QVERIFY(jpegs(resultImageFolder(0, d, e)).isEmpty());
    }
    QVERIFY(m_reports.isEmpty());
    QCOMPARE(gCameraTotalCount[0].load(), 0);
}

// The settings change the limits on the GUI thread while the saver reads them (ThreadSanitizer sees
// a plain int here as a race).
void TstSaveFailImageThread::limitsChangedWhileSaving()
{
    startSaver();
    for (int i = 0; i < 3; ++i) {
        handOver(0, 0, 0, solid(qRgb(1, 2, 3)), i + 1);
        QElapsedTimer timer;
        timer.start();
        while (m_reports.size() <= i && timer.elapsed() < 5000) {
            gNgImageLimit = 2 + (timer.elapsed() / 10) % 2;
            gOkImageLimit = gNgImageLimit.load();
            QTest::qWait(1);
        }
    }
    QCOMPARE(m_reports.size(), 3);
    QVERIFY(jpegs(resultImageFolder(0, 0, 0)).size() <= 3);
}

void TstSaveFailImageThread::unwritableFolderIsNotReported()
{
    // A plain file where the folder should be: no user, not even root, can write into it.
    const QString folder = resultImageFolder(0, 0, 0);
    QVERIFY(QDir(folder).removeRecursively());
    QFile blocker(folder);
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    handOver(0, 0, 0, solid(qRgb(1, 2, 3)));
    startSaver();
    QTRY_VERIFY(!pending(0, 0, 0));
    settle();
    QVERIFY(m_reports.isEmpty());
    QVERIFY(QFileInfo(folder).isFile());
    // The saver goes on with the next picture.
    handOver(0, 1, 1, solid(qRgb(1, 2, 3)));
    QTRY_COMPARE(m_reports.size(), 1);
    QCOMPARE(m_reports.first().info.value("detect").toInt(), 1);
}

void TstSaveFailImageThread::fullDiskKeepsTheOldPictureAndReportsNothing()
{
    // The same second and no region: the new picture would replace this one.
    const QString path = QDir(resultImageFolder(0, 0, 0)).absoluteFilePath("2024-05-06_07.08.09.jpg");
    const QByteArray old = "the earlier picture";
    QVERIFY(writeTestFile(path, old));

    // A full disk: writes past 1000 bytes fail. The saver runs in a fresh process of this program
    // (a forked copy may not start threads under ThreadSanitizer).
    const QByteArray self = QFile::encodeName(QCoreApplication::applicationFilePath());
    const QByteArray folder = QFile::encodeName(m_dir->path());
    const int exitCode = runWithFileSizeLimit(1000, [&] {
        ::execl(self.constData(), self.constData(), "--full-disk-child", folder.constData(),
                static_cast<char *>(nullptr));
        return 99;
    });
    QCOMPARE(exitCode, 0); // picked up, not reported, warned
    QCOMPARE(readTestFile(path), old);
    QCOMPARE(QDir(resultImageFolder(0, 0, 0)).entryList(QDir::Files | QDir::Hidden),
             QStringList{"2024-05-06_07.08.09.jpg"});
}

void TstSaveFailImageThread::shortHandOverBufferIsDropped()
{
    {
        MutexLocker lock(gFailImageMutex);
        gFailImageBuffers[0][0][0] = QByteArray(kW * kH * 4 - 1, '\x7f');
        gFailImagePending[0][0][0] = 1;
    }
    startSaver();
    QTRY_VERIFY(!pending(0, 0, 0));
    settle();
    QVERIFY(jpegs(resultImageFolder(0, 0, 0)).isEmpty());
    QVERIFY(m_reports.isEmpty());
}

void TstSaveFailImageThread::stopsDuringItsPauses()
{
    // Idle thread.
    startSaver();
    QTest::qWait(50);
    m_saver->stop();
    QVERIFY(m_saver->wait(300));
    m_saver.reset();

    // In the long pause after an unreported NG picture.
    handOver(0, 0, 0, solid(qRgb(1, 2, 3)));
    handOver(0, 0, 1, solid(qRgb(1, 2, 3)));
    startSaver();
    QTRY_COMPARE(jpegs(resultImageFolder(0, 0, 0)).size(), 1);
    m_saver->stop();
    QVERIFY(m_saver->wait(300));
    QVERIFY(m_reports.isEmpty());
}

namespace {

QtMessageHandler gPreviousHandler = nullptr;
std::atomic<bool> gNotSavedWarning{false};

// The child of fullDiskKeepsTheOldPictureAndReportsNothing, in `folder`: one NG picture handed over
// and the saver run until it took it. Exit code: 1 still waiting, 2 reported, 4 no warning logged.
int fullDiskChild(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (!QDir::setCurrent(QFile::decodeName(argv[2])))
        return 8;
    gPreviousHandler =
        qInstallMessageHandler([](QtMsgType t, const QMessageLogContext &c, const QString &m) {
            if (t == QtWarningMsg && m.contains(QStringLiteral("result picture not saved")))
                gNotSavedWarning = true;
            gPreviousHandler(t, c, m);
        });
    createProcessMutexes();
    gCameraCount = 1;
    gDetectSlotCount = 2;
    gNgImageLimit = 5;
    allocFailImageBuffers(0, kW, kH, 2);
    setAppClock([] { return QDateTime(QDate(2024, 5, 6), QTime(7, 8, 9)); });
    int reports = 0;
    inspectionHooks().sendAlarmPicture = [&reports](const QJsonObject &, const QString &) { ++reports; };
    const QImage picture = busyPicture();
    {
        MutexLocker lock(gFailImageMutex);
        std::memcpy(gFailImageBuffers[0][0][0].data(), picture.constBits(), size_t(picture.sizeInBytes()));
        gFailImagePending[0][0][0] = 1;
    }
    SaveFialImageThread saver;
    saver.start();
    QElapsedTimer timer;
    timer.start();
    while (pending(0, 0, 0) && timer.elapsed() < 5000)
        QTest::qWait(20);
    QTest::qWait(400);
    saver.stop();
    saver.wait();
    return (pending(0, 0, 0) ? 1 : 0) | (reports ? 2 : 0) | (gNotSavedWarning ? 0 : 4);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--full-disk-child") == 0)
        return fullDiskChild(argc, argv);
    QCoreApplication app(argc, argv);
    TstSaveFailImageThread test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_savefailimagethread.moc"

#pragma once
// The result-image saver: a background thread that picks up the verdict pictures the camera views
// hand over, writes them as JPEG files into the OK or NG folder of their camera and detection slot,
// keeps each folder at its size limit, counts them per camera and reports each saved file to the
// report link.
//
// Hand-over tables (gFailImageBuffers, gFailImagePending, gFailRoiNumber, gFailImageSize) are guarded
// by gFailImageMutex (core/startup.h); lock it with MutexLocker (core/mutexlocker.h). The GUI thread fills
// buffers, flags and region numbers; the saver reads the flags, copies one image and clears its flag under
// the mutex, and never holds it while writing files or reporting.

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <mutex>

// Hand-over pictures: [camera][slot][0] NG image, [1] OK image, RGB32 of the camera's image size.
extern QByteArray gFailImageBuffers[8][8][2];
// 1 while the matching hand-over picture waits; set by the hand-over side, cleared by the saver.
extern unsigned char gFailImagePending[8][8][2];
// First failed region of the last NG picture of (camera, slot), 0 = none; reset by the saver.
extern int gFailRoiNumber[8][8];
// Image size of each camera's hand-over pictures, recorded with the buffers.
extern QSize gFailImageSize[8];

// Pictures saved per camera, NG ones and all. The saver adds to them; the GUI thread shows, stores
// and resets them, so they are atomic.
extern std::atomic<int> gCameraNgCount[8];
extern std::atomic<int> gCameraTotalCount[8];

// Folder of one camera, slot and kind (0 NG, 1 OK): "./alarmimage//camera%2//detect%3//NG" (or OK),
// camera and slot counted from 1 in the name. Any thread.
QString resultImageFolder(int camera, int slot, int kind);

// Sizes the hand-over buffers of one camera for slots 0 .. slotCount - 1 (4 bytes per pixel of the
// camera's image), clears their flags and region numbers and records the image size. Slots beyond
// slotCount keep no buffer, so a hand-over there is dropped by the saver. GUI thread.
void allocFailImageBuffers(int camera, int imageWidth, int imageHeight, int slotCount);

class SaveFialImageThread : public QThread
{
    Q_OBJECT
public:
    // Made without a parent by the main window's constructor, which starts it once.
    explicit SaveFialImageThread(QObject *parent = nullptr);
    // Stops and joins the thread when it still runs.
    ~SaveFialImageThread() override;

    // Asks the loop to end; it notices within one step, also during its pauses. Any thread.
    void stop();

protected:
    // The saving loop; runs until stop().
    void run() override;

private:
    // One pass over every camera and slot.
    void saveWaiting();
    // Prunes the folder to limit - 1 pictures and writes the new one; its absolute path when the file
    // is on disk, else empty.
    QString saveImage(const QImage &image, int camera, int slot, bool ngFolder, int roiNumber, int limit);
    // Sleeps ms milliseconds unless a stop request comes first; false once stopping.
    bool pause(int ms);
    bool stopping() const { return m_stop.load(); }

    // Guards the wait in pause() against a lost wake-up from stop(). Standard primitives, not Qt's,
    // so that ThreadSanitizer sees them.
    std::mutex m_pauseMutex;
    std::condition_variable m_wake;
    std::atomic<bool> m_stop{false};
};

// The saver of the process, made by the main window's constructor. GUI thread.
extern SaveFialImageThread *gSaveFailImageThread;

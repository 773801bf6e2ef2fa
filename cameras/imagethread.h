#pragma once
// The smart camera's image puller: a thread with its own event loop (the picture link's timers live
// there) that makes its own picture link, pulls pictures and hands each to the callback; when the
// link has no live session it drops it and makes a new one. Pulls are paced to the pull rate: a
// request starts one period after the previous one started, or at once when that answer took longer,
// so a fast camera is never asked for more pictures than the box shows.
//
// Threads: constructed, started and stopped on the GUI thread; everything else runs on the thread.
// online and the pull rate are atomic; the link belongs to the thread.

#include "veklink.h"

#include <QThread>
#include <atomic>
#include <functional>

class ImageThread : public QThread
{
public:
    ImageThread(const QString &host, quint16 port, std::function<void(const VekPicture &)> callback);
    ~ImageThread() override; // stops and joins

    // Ends the loop within one picture time-out; returns at once (wait() joins).
    void stop();
    // Whether the last pull brought a picture.
    bool isOnline() const { return online; }
    // Picture requests per second at most (1-100); any thread, taken at the next pull.
    void setPullRate(int perSecond);

    static constexpr int kPictureTimeoutMs = 500;
    static constexpr int kReconnectDelayMs = 200;
    static constexpr int kStopCheckMs = 100; // longest step of the wait between two pulls

protected:
    void run() override;

private:
    QString host;
    quint16 port;
    std::function<void(const VekPicture &)> callback;
    std::atomic<bool> online{false};
    std::atomic<int> pullRate{10};
};

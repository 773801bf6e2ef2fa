#pragma once
// The smart camera's image puller: a thread with its own event loop (the picture link's timers live
// there) that makes its own picture link, pulls one picture after the other and hands each to the
// callback; when the link has no live session it drops it and makes a new one.
//
// Threads: constructed, started and stopped on the GUI thread; everything else runs on the thread.
// online is atomic; the link belongs to the thread.

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

    static constexpr int kPictureTimeoutMs = 500;
    static constexpr int kReconnectDelayMs = 200;

protected:
    void run() override;

private:
    QString host;
    quint16 port;
    std::function<void(const VekPicture &)> callback;
    std::atomic<bool> online{false};
};

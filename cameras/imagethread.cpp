#include "imagethread.h"

#include "cameraslog.h"

#include <QTimer>
#include <memory>

ImageThread::ImageThread(const QString &host, quint16 port, std::function<void(const VekPicture &)> callback)
    : host(host), port(port), callback(std::move(callback))
{
}

ImageThread::~ImageThread()
{
    stop();
    wait();
}

// The loop sees the request at its next pull (within one picture time-out) and ends itself: a quit()
// from this thread would wake the thread's event dispatcher while it may be closing down.
void ImageThread::stop()
{
    requestInterruption();
}

void ImageThread::run()
{
    std::unique_ptr<VekLink> link;
    quint64 pulled = 0;
    QTimer pull;
    pull.setSingleShot(true);
    // One pull per turn of the loop, so the link's own timers run between the pulls.
    QObject::connect(&pull, &QTimer::timeout, [&] {
        if (isInterruptionRequested()) {
            quit();
            return;
        }
        if (!link || !link->hasLiveSession()) {
            online = false;
            link = makeVekLink();
            if (!link || !link->start(host, port)) {
                pull.start(kReconnectDelayMs);
                return;
            }
            qCInfo(lcCameras) << "smart camera" << host << "picture link connected";
        }
        VekPicture picture;
        if (link->getPicture(picture, kPictureTimeoutMs) == 0) {
            online = true;
            // The request's time and size, now and then: enough to see a slow camera or link in the log.
            if (++pulled % 500 == 1)
                qCDebug(lcCameras) << "smart camera" << host << "picture" << pulled << "in"
                                   << picture.requestMs << "ms," << picture.replyBytes << "bytes";
            callback(picture);
        } else {
            online = false;
        }
        pull.start(0);
    });
    pull.start(0);
    exec();
    link.reset();
    online = false;
}

#include "imagethread.h"

#include "cameraslog.h"

#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
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

void ImageThread::setPullRate(int perSecond)
{
    pullRate = std::clamp(perSecond, 1, 100);
}

void ImageThread::run()
{
    std::unique_ptr<VekLink> link;
    quint64 pulled = 0;
    QTimer pull;
    pull.setSingleShot(true);
    pull.setTimerType(Qt::PreciseTimer);
    QElapsedTimer clock;
    clock.start();
    qint64 nextPullUs = 0; // on clock: when the next request may start
    // One pull per turn of the loop, so the link's own timers run between the pulls. A long wait
    // for the next pull is cut in short steps, so that a stop is seen soon at a slow rate too.
    QObject::connect(&pull, &QTimer::timeout, [&] {
        if (isInterruptionRequested()) {
            quit();
            return;
        }
        const qint64 waitUs = nextPullUs - clock.nsecsElapsed() / 1000;
        if (waitUs > 0) {
            pull.start(int(std::min<qint64>((waitUs + 999) / 1000, kStopCheckMs)));
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
        // Rounded up, so that the requests never come faster than the rate.
        const int rate = pullRate;
        nextPullUs = clock.nsecsElapsed() / 1000 + (1000000 + rate - 1) / rate;
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

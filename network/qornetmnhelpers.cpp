// The report link's local helper processes, its 1 s watchdog and the screen-stream segments.

#include "commandrunner.h"
#include "networklog.h"
#include "qornetmn.h"

#include <QDir>
#include <QGuiApplication>
#include <QScreen>

#include <sys/ipc.h>
#include <sys/shm.h>

namespace {
constexpr int kWatchdogMs = 1000;
constexpr quint64 kHeartbeatEvery = 3;
constexpr quint64 kRestartEvery = 900; // 15 minutes of live link
// The longest the GUI thread waits for the old link's socket thread when the link is replaced.
constexpr int kRetireWaitMs = 200;

const QString kHelperProgram = QStringLiteral("./cnt_net/pynet_monitor");

void killHelpers()
{
    runCommand(QStringLiteral("killall"), {QStringLiteral("-9"), QStringLiteral("pynet_monitor")});
    runCommand(QStringLiteral("killall"), {QStringLiteral("-9"), QStringLiteral("hls_avmn")});
}

QSize screenSize()
{
    // No screen in a test without a GUI application: the segment then cannot be made.
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()) || !QGuiApplication::primaryScreen())
        return QSize();
    return QGuiApplication::primaryScreen()->geometry().size();
}
} // namespace

void QOR_NETMN::createShm(int id, int width, int height)
{
    segments.clear();
    ScreenStreamSegment seg;
    seg.id = id;
    seg.width = width;
    seg.height = height;
    seg.size = int((qint64(width) * height * 3) / 2);
    const QByteArray keyPath = QFile::encodeName(ipcKeyPath);
    const key_t shmKey = ftok(keyPath.constData(), streamKeyNumber(100, id));
    seg.shmid = seg.size > 0 ? shmget(shmKey, size_t(seg.size), IPC_CREAT | 0666) : -1;
    if (seg.shmid != -1) {
        void *address = shmat(seg.shmid, nullptr, 0);
        if (address == reinterpret_cast<void *>(-1)) {
            // Nothing may ever be written through a failed attachment.
            qCWarning(lcNetwork) << "screen segment cannot be attached, shmid" << seg.shmid;
            seg.shmid = -1;
        } else {
            seg.address = address;
            seg.attachment.reset(address, [](void *a) { shmdt(a); });
        }
    }
    const key_t semKey = ftok(keyPath.constData(), streamKeyNumber(200, id));
    seg.semaphore = QSharedPointer<SemLock>::create(int(semKey));
    seg.semid = seg.semaphore->create(1);
    segments.insert(id, seg);
}

void QOR_NETMN::removeIpc()
{
    for (const ScreenStreamSegment &seg : qAsConst(segments)) {
        runCommand(QStringLiteral("ipcrm"), {QStringLiteral("-m"), QString::number(seg.shmid)});
        runCommand(QStringLiteral("ipcrm"), {QStringLiteral("-s"), QString::number(seg.semid)});
    }
}

void QOR_NETMN::restartVideo(bool start)
{
    if (VideoThread *old = videoThread.data()) {
        videoThread.clear();
        old->stop();
        // Qt aborts on deleting a running thread: a loop still inside its frame goes when it ends.
        if (old->isFinished()) {
            delete old;
        } else {
            connect(old, &QThread::finished, old, &QObject::deleteLater);
            if (old->isFinished()) // ended between the wait and the connect
                old->deleteLater();
            m_retiring << old;
        }
    }
    m_retiring.removeAll(nullptr);
    if (start)
        videoThread = new VideoThread(segments, this);
}

void QOR_NETMN::endStartedHelper()
{
#ifndef MG_BOX_BUILD
    // The desktop build does not run killall, so the helper it started would outlive the box, hold
    // its port and answer the next box in its place.
    if (m_helperPid > 0)
        endDetachedCommand(m_helperPid, kHelperProgram);
#endif
    m_helperPid = 0;
}

void QOR_NETMN::restartHelpers()
{
    if (!netFuncEnabled) {
        killHelpers();
        endStartedHelper();
        watchdogTimer->stop();
        restartVideo(false);
        removeIpc();
        state();
        return;
    }
    const QString config = QDir::currentPath() + QStringLiteral("/") + QStringLiteral("cnt_net/config.json");
    killHelpers();
    endStartedHelper();
    // An argument list, not a shell line: the program directory may hold any character.
    startDetachedCommand(kHelperProgram, {config}, &m_helperPid);
    startRetiring(QHostAddress(QStringLiteral("127.0.0.1")), reportPort, kRetireWaitMs);
    if (videoEnabled) {
        const QSize size = screenSize();
        createShm(0, size.width(), size.height());
        restartVideo(true);
        sendOfferVideoMem();
    } else {
        // Video switched off: the stream of an earlier start stops with it.
        restartVideo(false);
    }
    watchdogTimer->start(kWatchdogMs);
    state();
}

void QOR_NETMN::onWatchdogTimer()
{
    if (!isLinkAlive()) {
        serverConnected = false;
        if (startRetiring(QHostAddress(QStringLiteral("127.0.0.1")), reportPort, kRetireWaitMs)) {
            sendHeartbeat();
            sendOfferVideoMem();
        } else if (!isLinkAlive()) {
            restartHelpers();
        }
        state();
        return;
    }
    if (watchdogTicks % kHeartbeatEvery == 0)
        sendHeartbeat();
    ++watchdogTicks;
    if (watchdogTicks % kRestartEvery == 0) {
        qCInfo(lcNetwork).noquote() << "restart time up by 15min";
        restartHelpers();
    }
    state();
}

#include "systemhelpers.h"

#include "clock.h"
#include "commandrunner.h"
#include "corelog.h"
#include "startup.h"

#include <QFile>
#include <QRegularExpression>
#include <QThread>

#include <sys/ioctl.h>

#include <cstdlib>
#include <limits>
#include <utility>

uint8_t gLedMask = 0xFF;
std::atomic<bool> gRunning{false};

namespace {
constexpr unsigned long kBacklightOn = 0x5A018B00UL;
constexpr unsigned long kBacklightOff = 0x5A018A00UL;
constexpr unsigned long kLampBits = 0x5A018000UL;

// Commands of the USB mount wait this long; a stuck blkid or mount must not hang the GUI for good.
constexpr int kMountCommandTimeoutMs = 1000;
// A mounts file is a few kilobytes; anything larger is cut rather than read into memory.
constexpr qint64 kMountsReadLimit = 1 << 20;

int systemIoctl(int fd, unsigned long request)
{
    return ::ioctl(fd, request);
}

std::function<void(int)> gScreenOffHook;
std::function<void(int)> gRunEndHook;
LedIoctlFunction gLedIoctl = systemIoctl;
QString gMountsFilePath = QStringLiteral("/proc/mounts");

void sendLedRequest(unsigned long request)
{
    if (gLedFd > 0)
        gLedIoctl(gLedFd, request);
}

bool readMounts(QString *text)
{
    QFile file(gMountsFilePath);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    *text = QString::fromLocal8Bit(file.read(kMountsReadLimit));
    return true;
}

// Device paths come from blkid, whose output carries labels chosen by whoever made the stick; only a
// plain device path may reach mount.
bool isPlainDevicePath(const QString &path)
{
    static const QRegularExpression kDevice(QStringLiteral("^/dev/[A-Za-z0-9._/-]+$"));
    return kDevice.match(path).hasMatch();
}

bool mountExitedCleanly(const CommandResult &r)
{
    return r.started && r.exitCode == 0;
}
} // namespace

void setScreenOffHook(std::function<void(int)> hook)
{
    gScreenOffHook = std::move(hook);
}

void setRunEndHook(std::function<void(int)> hook)
{
    gRunEndHook = std::move(hook);
}

void setLedIoctl(LedIoctlFunction function)
{
    gLedIoctl = function ? function : systemIoctl;
}

void setMountsFilePath(const QString &path)
{
    gMountsFilePath = path.isEmpty() ? QStringLiteral("/proc/mounts") : path;
}

void setBacklight(int on)
{
    sendLedRequest(on ? kBacklightOn : kBacklightOff);
    if (gScreenOffHook)
        gScreenOffHook(on ? 0 : 1);
}

void setLed(int bit, int on)
{
    if (bit < 0 || bit > 7)
        return;
    const uint8_t mask = static_cast<uint8_t>(1u << bit);
    gLedMask = (on & 1) ? static_cast<uint8_t>(gLedMask | mask) : static_cast<uint8_t>(gLedMask & ~mask);
    sendLedRequest(kLampBits + gLedMask);
}

QString mountUsbByBlkid()
{
    QByteArray raw = runCommand(QStringLiteral("blkid"), {}, kMountCommandTimeoutMs).standardOutput;
    const int nul = raw.indexOf('\0');
    if (nul >= 0)
        raw.truncate(nul);
    const QString output = QString::fromLocal8Bit(raw);
    if (output.isEmpty())
        return QString();

    QString systemDisk;
    QStringList candidates;
    const QStringList lines = output.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString &line : lines) {
        const QString device = line.section(QLatin1Char(':'), 0, 0);
        if (line.contains(QLatin1String("TYPE=\"ext4\""))) {
            QString disk = device;
            while (!disk.isEmpty() && disk.back().isDigit() && disk.back().unicode() < 128)
                disk.chop(1);
            systemDisk = disk;
        } else if (line.contains(QLatin1String("TYPE=\"vfat\"")) ||
                   line.contains(QLatin1String("TYPE=\"ntfs\"")) ||
                   line.contains(QLatin1String("TYPE=\"exfat\""))) {
            // A data partition listed before the system disk is not taken: it may be the system's own.
            if (!systemDisk.isEmpty() && !device.contains(systemDisk) && isPlainDevicePath(device))
                candidates.append(device);
        }
    }
    if (candidates.isEmpty())
        return QString();
    const QString device = candidates.first();

    QString mounts;
    if (!readMounts(&mounts))
        return QString();
    const QStringList mountLines = mounts.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString &line : mountLines) {
        if (line.contains(QLatin1String("/mnt")))
            runCommand(QStringLiteral("umount"), {QStringLiteral("/mnt")}, kMountCommandTimeoutMs);
    }
    runCommand(QStringLiteral("mount"), {device, QStringLiteral("/mnt")}, kMountCommandTimeoutMs);

    if (!readMounts(&mounts))
        return QString();
    if (mounts.contains(device + QStringLiteral(" /mnt")))
        return QStringLiteral("/mnt");
    return QString();
}

int mountUsbDisk()
{
    runCommand(QStringLiteral("umount"), {QStringLiteral("/mnt")});
    if (mountExitedCleanly(
            runCommand(QStringLiteral("mount"), {QStringLiteral("/dev/sdb1"), QStringLiteral("/mnt")})))
        return 1;
    if (mountExitedCleanly(
            runCommand(QStringLiteral("mount"), {QStringLiteral("/dev/sdc1"), QStringLiteral("/mnt")})))
        return 1;
    return 0;
}

bool isMntMounted()
{
    QString mounts;
    return readMounts(&mounts) && mounts.contains(QLatin1String("/mnt"));
}

QString makeSlotRegionKey(int slot, int region)
{
    return QStringLiteral("D%1_T%2").arg(slot).arg(region);
}

void stopAndWait()
{
    gRunning = false;
    QThread::sleep(1);
}

void quitApp(int status)
{
    stopAndWait();
    // Taken out first: a hook that ends up here again must not run twice.
    if (std::function<void(int)> hook = std::exchange(gRunEndHook, nullptr))
        hook(status);
    std::exit(status);
}

void timingProbe()
{
    // Running figures for a debugger session; only the value is logged.
    static struct
    {
        qint64 start = -1;
        double sum = 0;
        long long count = 0;
        double largest = 0;
        double smallest = std::numeric_limits<double>::max();
        double last = 0;
        double previous = 0;
    } probe;

    const qint64 now = appNow().toMSecsSinceEpoch();
    if (probe.start < 0)
        probe.start = now;
    const double ms = double(now - probe.start);
    probe.sum += ms;
    ++probe.count;
    probe.largest = qMax(probe.largest, ms);
    probe.smallest = qMin(probe.smallest, ms);
    probe.previous = probe.last;
    probe.last = ms;
    qCDebug(lcCore, "%f\n", ms);
}

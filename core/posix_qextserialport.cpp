#include "posix_qextserialport.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

speed_t speedOf(int baud)
{
    switch (baud) {
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    case 230400:
        return B230400;
    default:
        return 0;
    }
}

} // namespace

Posix_QextSerialPort::Posix_QextSerialPort(const QString &name, QueryMode) : m_name(name) {}

Posix_QextSerialPort::~Posix_QextSerialPort()
{
    close();
}

bool Posix_QextSerialPort::open(QIODevice::OpenMode mode)
{
    close();
    int flags = O_NOCTTY | O_NONBLOCK | O_CLOEXEC;
    if ((mode & QIODevice::ReadWrite) == QIODevice::ReadWrite)
        flags |= O_RDWR;
    else if (mode & QIODevice::WriteOnly)
        flags |= O_WRONLY;
    else
        flags |= O_RDONLY;
    m_fd = ::open(QFile::encodeName(m_name).constData(), flags);
    if (m_fd < 0)
        return false;
    // A line left in canonical or echo mode by a previous user would swallow or echo board bytes.
    if (!applySettings()) {
        close();
        return false;
    }
    return true;
}

void Posix_QextSerialPort::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool Posix_QextSerialPort::applySettings()
{
    if (m_fd < 0)
        return true;
    termios t;
    if (tcgetattr(m_fd, &t) != 0)
        return false;
    cfmakeraw(&t);
    // cfmakeraw leaves these alone; a line set up for a terminal would otherwise eat 0x11 and 0x13.
    t.c_iflag &= ~tcflag_t(IXOFF | IXANY);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~tcflag_t(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    t.c_cflag |= m_dataBits == 7 ? CS7 : CS8;
    if (m_parity != NoParity)
        t.c_cflag |= PARENB | (m_parity == OddParity ? PARODD : 0);
    if (m_stopBits == 2)
        t.c_cflag |= CSTOPB;
    if (m_flow == HardwareControl)
        t.c_cflag |= CRTSCTS;
    else if (m_flow == SoftwareControl)
        t.c_iflag |= IXON | IXOFF;
    // Reads never block in the kernel; the timeout is waited for with poll() in read().
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    const speed_t speed = speedOf(m_baud);
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    return tcsetattr(m_fd, TCSANOW, &t) == 0;
}

bool Posix_QextSerialPort::setBaudRate(int baud)
{
    if (speedOf(baud) == 0)
        return false;
    m_baud = baud;
    return applySettings();
}

bool Posix_QextSerialPort::setDataBits(int bits)
{
    if (bits != 7 && bits != 8)
        return false;
    m_dataBits = bits;
    return applySettings();
}

bool Posix_QextSerialPort::setParity(Parity parity)
{
    m_parity = parity;
    return applySettings();
}

bool Posix_QextSerialPort::setStopBits(int bits)
{
    if (bits != 1 && bits != 2)
        return false;
    m_stopBits = bits;
    return applySettings();
}

bool Posix_QextSerialPort::setFlowControl(FlowControl flow)
{
    m_flow = flow;
    return applySettings();
}

void Posix_QextSerialPort::setTimeout(int ms)
{
    m_timeoutMs = ms < 0 ? 0 : ms;
}

qint64 Posix_QextSerialPort::bytesAvailable() const
{
    if (m_fd < 0)
        return 0;
    int n = 0;
    if (::ioctl(m_fd, FIONREAD, &n) != 0 || n < 0)
        return 0;
    return n;
}

qint64 Posix_QextSerialPort::read(char *data, qint64 maxSize)
{
    if (m_fd < 0 || maxSize < 0)
        return -1;
    if (maxSize == 0)
        return 0;
    if (m_timeoutMs > 0) {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, m_timeoutMs) <= 0)
            return 0;
    }
    for (;;) {
        const ssize_t n = ::read(m_fd, data, size_t(maxSize));
        if (n >= 0)
            return n;
        if (errno == EINTR)
            continue;
        return errno == EAGAIN ? 0 : -1;
    }
}

bool Posix_QextSerialPort::hungUp() const
{
    if (m_fd < 0)
        return false;
    pollfd p{m_fd, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

bool Posix_QextSerialPort::namesOpenDevice() const
{
    struct stat named;
    struct stat open;
    if (m_fd < 0 || ::stat(QFile::encodeName(m_name).constData(), &named) != 0 || ::fstat(m_fd, &open) != 0)
        return false;
    return named.st_dev == open.st_dev && named.st_ino == open.st_ino && named.st_rdev == open.st_rdev;
}

qint64 Posix_QextSerialPort::write(const char *data, qint64 size)
{
    if (m_fd < 0 || size < 0)
        return -1;
    for (;;) {
        const ssize_t n = ::write(m_fd, data, size_t(size));
        if (n >= 0)
            return n;
        if (errno == EINTR)
            continue;
        return errno == EAGAIN ? 0 : -1;
    }
}

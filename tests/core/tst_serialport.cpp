// The board's serial port class on a pseudo-terminal: raw bytes both ways, never blocking, and a
// missing device that fails quietly.

#include "posix_qextserialport.h"

#include <QtTest>

#include <memory>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {
// The far end of the line: master side of a pseudo-terminal, raw and non-blocking.
struct FarEnd
{
    int master = -1;
    int slave = -1;
    QString slavePath;
    FarEnd()
    {
        char name[256] = {};
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
            return;
        termios t;
        tcgetattr(master, &t);
        cfmakeraw(&t);
        tcsetattr(master, TCSANOW, &t);
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
        slavePath = QString::fromLocal8Bit(name);
    }
    ~FarEnd()
    {
        if (master >= 0)
            ::close(master);
        if (slave >= 0)
            ::close(slave);
    }
    QByteArray readFor(int ms, int expected)
    {
        QByteArray got;
        QElapsedTimer t;
        t.start();
        while (got.size() < expected && t.elapsed() < ms) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 10) > 0) {
                char buf[512];
                const ssize_t n = ::read(master, buf, sizeof buf);
                if (n > 0)
                    got.append(buf, int(n));
            }
        }
        return got;
    }
};

QByteArray everyByteValue()
{
    QByteArray all;
    for (int i = 0; i < 256; ++i)
        all.append(char(i));
    return all;
}

void openBoardStyle(Posix_QextSerialPort &port)
{
    QVERIFY(port.open(QIODevice::ReadWrite));
    QVERIFY(port.setBaudRate(115200));
    QVERIFY(port.setDataBits(8));
    QVERIFY(port.setParity(Posix_QextSerialPort::NoParity));
    QVERIFY(port.setStopBits(1));
    QVERIFY(port.setFlowControl(Posix_QextSerialPort::NoFlowControl));
    port.setTimeout(1);
}
} // namespace

class TestSerialPort : public QObject
{
    Q_OBJECT
private slots:
    // Board frames carry any byte value: XON/XOFF, CR, LF, Ctrl-C, DEL must neither be eaten,
    // translated nor echoed.
    void everyByteValueReachesTheHost()
    {
        FarEnd far;
        QVERIFY(far.master >= 0);
        Posix_QextSerialPort port(far.slavePath, Posix_QextSerialPort::Polling);
        openBoardStyle(port);
        const QByteArray all = everyByteValue();
        QCOMPARE(::write(far.master, all.constData(), size_t(all.size())), ssize_t(all.size()));

        QByteArray got;
        QElapsedTimer t;
        t.start();
        while (got.size() < all.size() && t.elapsed() < 2000) {
            const qint64 n = port.bytesAvailable();
            if (n > 0) {
                char buf[1024];
                const qint64 r = port.read(buf, qMin<qint64>(n, sizeof buf));
                QVERIFY(r > 0);
                got.append(buf, int(r));
            }
        }
        QCOMPARE(got, all);
        // Nothing came back to the board (no echo).
        QCOMPARE(far.readFor(50, 1), QByteArray());
    }

    void everyByteValueReachesTheBoard()
    {
        FarEnd far;
        Posix_QextSerialPort port(far.slavePath, Posix_QextSerialPort::Polling);
        openBoardStyle(port);
        const QByteArray all = everyByteValue();
        QCOMPARE(port.write(all.constData(), all.size()), qint64(all.size()));
        QCOMPARE(far.readFor(2000, all.size()), all);
    }

    // The poll loop must never wait on the line: an empty line answers at once.
    void emptyLineDoesNotBlock()
    {
        FarEnd far;
        Posix_QextSerialPort port(far.slavePath, Posix_QextSerialPort::Polling);
        openBoardStyle(port);
        QElapsedTimer t;
        t.start();
        char buf[16];
        for (int i = 0; i < 20; ++i) {
            QCOMPARE(port.bytesAvailable(), qint64(0));
            QCOMPARE(port.read(buf, sizeof buf), qint64(0));
        }
        // 20 reads with a 1 ms timeout each; far below what a blocking read would take.
        QVERIFY2(t.elapsed() < 500, qPrintable(QString::number(t.elapsed())));
    }

    // The two ways a board's line is replaced under the port's path (a link, as udev makes one). The
    // adapter pulled: the line hangs up and every write fails from then on, so the poll sees a failed
    // port at the latest at its next command. Another line linked at the path while the old one stays
    // open: nothing fails on the old line, only the path tells.
    void replacedLineIsSeen()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("ttyS0"));
        auto far = std::make_unique<FarEnd>();
        QVERIFY(QFile::link(far->slavePath, path));
        Posix_QextSerialPort port(path, Posix_QextSerialPort::Polling);
        openBoardStyle(port);
        QVERIFY(!port.hungUp());
        QVERIFY(port.namesOpenDevice());

        FarEnd other;
        QVERIFY(QFile::remove(path) && QFile::link(other.slavePath, path));
        QVERIFY(!port.hungUp());
        QVERIFY(!port.namesOpenDevice());
        QCOMPARE(port.write("abcdef", 6), qint64(6));
        QCOMPARE(far->readFor(2000, 6), QByteArray("abcdef"));

        QVERIFY(QFile::remove(path) && QFile::link(far->slavePath, path));
        QVERIFY(port.namesOpenDevice());
        far.reset(); // the adapter pulled: both ends of its line gone
        QVERIFY(port.hungUp());
        QVERIFY(!port.namesOpenDevice());
        QCOMPARE(port.write("abcdef", 6), qint64(-1));
        QCOMPARE(port.bytesAvailable(), qint64(0));
    }

    void missingDeviceFailsQuietly()
    {
        QTemporaryDir dir;
        Posix_QextSerialPort port(dir.filePath(QStringLiteral("dev/ttyS7")), Posix_QextSerialPort::Polling);
        QVERIFY(!port.open(QIODevice::ReadWrite));
        QVERIFY(!port.isOpen());
        QVERIFY(port.setBaudRate(115200)); // remembered for a later open, nothing to apply
        char buf[8];
        QCOMPARE(port.bytesAvailable(), qint64(0));
        QCOMPARE(port.read(buf, sizeof buf), qint64(-1));
        QCOMPARE(port.write("abcdef", 6), qint64(-1));
    }

    void unsupportedSettingsAreRefused()
    {
        FarEnd far;
        Posix_QextSerialPort port(far.slavePath, Posix_QextSerialPort::Polling);
        openBoardStyle(port);
        QVERIFY(!port.setBaudRate(12345));
        QVERIFY(!port.setDataBits(5));
        QVERIFY(!port.setStopBits(3));
        // The line still works as set up.
        QCOMPARE(port.write("\x5F\x02\x00\x00\x61\xF5", 6), qint64(6));
        QCOMPARE(far.readFor(1000, 6), QByteArray("\x5F\x02\x00\x00\x61\xF5", 6));
    }

    // A port left in terminal mode by someone else is made raw again by open.
    void openResetsACookedLine()
    {
        FarEnd far;
        termios t;
        tcgetattr(far.slave, &t);
        t.c_iflag |= ICRNL | IXON;
        t.c_lflag |= ICANON | ECHO;
        t.c_oflag |= OPOST | ONLCR;
        tcsetattr(far.slave, TCSANOW, &t);
        Posix_QextSerialPort port(far.slavePath, Posix_QextSerialPort::Polling);
        openBoardStyle(port);
        QCOMPARE(::write(far.master, "\x0D\x11", 2), ssize_t(2));
        QTRY_COMPARE(port.bytesAvailable(), qint64(2));
        char buf[4];
        QCOMPARE(port.read(buf, 4), qint64(2));
        QCOMPARE(QByteArray(buf, 2), QByteArray("\x0D\x11"));
        QCOMPARE(port.write("\x0A", 1), qint64(1));
        QCOMPARE(far.readFor(500, 2), QByteArray("\x0A"));
    }
};

QTEST_GUILESS_MAIN(TestSerialPort)
#include "tst_serialport.moc"

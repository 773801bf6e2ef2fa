#pragma once
// The serial port of the I/O board: a raw 8-bit line (no echo, no line editing, no XON/XOFF, no
// CR/LF translation) over termios, read without blocking.
//
// Threads: open and the settings on one thread before the I/O thread starts (the ControlPort
// constructor); afterwards bytesAvailable, read and write only on the I/O thread. The object holds
// one file descriptor and no Qt objects, so it has no thread affinity.

#include <QIODevice>
#include <QString>

class Posix_QextSerialPort
{
public:
    // Polling: the caller asks how many bytes wait and reads them; nothing is signalled.
    enum QueryMode
    {
        Polling
    };
    enum Parity
    {
        NoParity,
        EvenParity,
        OddParity
    };
    enum FlowControl
    {
        NoFlowControl,
        HardwareControl,
        SoftwareControl
    };

    Posix_QextSerialPort(const QString &name, QueryMode mode);
    ~Posix_QextSerialPort();
    Posix_QextSerialPort(const Posix_QextSerialPort &) = delete;
    Posix_QextSerialPort &operator=(const Posix_QextSerialPort &) = delete;

    QString portName() const { return m_name; }

    // Opens the device; false when it cannot be opened (every later call then does nothing).
    bool open(QIODevice::OpenMode mode);
    void close();
    bool isOpen() const { return m_fd >= 0; }

    // Each setting is applied at once when the port is open and remembered for a later open.
    // Unsupported values are refused with false and leave the line as it was.
    bool setBaudRate(int baud);
    bool setDataBits(int bits);
    bool setParity(Parity parity);
    bool setStopBits(int bits);
    bool setFlowControl(FlowControl flow);
    // Longest time read() waits for a first byte; 0 never waits.
    void setTimeout(int ms);

    // Bytes waiting to be read; 0 when closed or on error. Never blocks.
    qint64 bytesAvailable() const;
    // Up to maxSize bytes; 0 when nothing arrived within the timeout, -1 on error or when closed.
    qint64 read(char *data, qint64 maxSize);
    // Bytes written (possibly fewer than size when the line is congested), -1 on error or when closed.
    qint64 write(const char *data, qint64 size);
    // The line was hung up or reports an error (a pseudo-terminal whose other side closed, an
    // unplugged adapter). Never blocks; false when closed.
    bool hungUp() const;
    // The port's path still names the device that is open (a re-plugged adapter or a new
    // pseudo-terminal linked at the path is another one); false when closed or the path is gone.
    bool namesOpenDevice() const;

private:
    bool applySettings();

    QString m_name;
    int m_fd = -1;
    int m_baud = 115200;
    int m_dataBits = 8;
    Parity m_parity = NoParity;
    int m_stopBits = 1;
    FlowControl m_flow = NoFlowControl;
    int m_timeoutMs = 0;
};

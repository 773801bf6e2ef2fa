#include "iolink.h"

#include "corelog.h"
#include "ioframes.h"
#include "posix_qextserialport.h"

Posix_QextSerialPort *gIoSerialPort = nullptr;
quint32 gIoInputWord = 0;
qint64 gIoInputChangedMs[16] = {};
quint32 gIoOutputWord = 0;
quint32 gIoLastFlushed = 0;
std::atomic<int> gIoThreadEnabled{0};
std::atomic<bool> gIoBoardSilent{false};
quint32 gIoReplyWords[16] = {};
bool gSafetyDoorOpened = false;

namespace {

QString defaultPattern()
{
#ifdef MG_BOX_BUILD
    return QStringLiteral("/dev/ttyS%1");
#else
    return QStringLiteral("./dev/ttyS%1");
#endif
}

QString &patternOverride()
{
    static QString pattern;
    return pattern;
}

} // namespace

QString ioPortPattern()
{
    return patternOverride().isEmpty() ? defaultPattern() : patternOverride();
}

void setIoPortPattern(const QString &pattern)
{
    patternOverride() = pattern;
}

QString ioPortName()
{
    return ioPortPattern().arg(gIoPortNumber);
}

void openIoSerialPort()
{
    delete gIoSerialPort;
    gIoSerialPort = new Posix_QextSerialPort(ioPortName(), Posix_QextSerialPort::Polling);
    // Not reported to anyone: the box runs on without inputs. The log says why nothing moves.
    if (!gIoSerialPort->open(QIODevice::ReadWrite))
        qCWarning(lcCore).noquote() << "I/O board port" << ioPortName() << "did not open";
    gIoSerialPort->setBaudRate(115200);
    gIoSerialPort->setDataBits(8);
    gIoSerialPort->setParity(Posix_QextSerialPort::NoParity);
    gIoSerialPort->setStopBits(1);
    gIoSerialPort->setFlowControl(Posix_QextSerialPort::NoFlowControl);
    gIoSerialPort->setTimeout(1);
}

bool sendIoCommand(quint8 command, quint16 value)
{
    if (!gIoSerialPort)
        return false;
    const IoCommandFrame frame = IoCommandFrame::make(command, value);
    return gIoSerialPort->write(frame.bytes(), sizeof frame) >= 0;
}

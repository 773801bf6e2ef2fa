// The network dialog's ping test.

#include "pingtest.h"

#include "networkmanager.h"
#include "settingslog.h"
#include "uitexttable.h"

#include <QHostAddress>
#include <QProcess>
#include <QTimer>

namespace {
constexpr int kStartTimeoutMs = 30000;
constexpr int kPollMs = 100;

class QtLongProcess : public LongProcess
{
public:
    QtLongProcess() { m_process.setProcessChannelMode(QProcess::MergedChannels); }
    ~QtLongProcess() override { close(); }
    bool start(const QString &program, const QStringList &arguments, int startTimeoutMs) override
    {
        m_process.start(program, arguments, QIODevice::ReadOnly);
        return m_process.waitForStarted(startTimeoutMs);
    }
    QByteArray readAvailable() override { return m_process.readAll(); }
    void close() override
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(1000);
        }
    }

private:
    QProcess m_process;
};

LongProcessFactory &factory()
{
    static LongProcessFactory f;
    return f;
}

bool isHostName(const QString &text)
{
    if (text.isEmpty() || text.size() > 253)
        return false;
    for (const QString &label : text.split(QLatin1Char('.'))) {
        if (label.isEmpty() || label.size() > 63 || label.startsWith(QLatin1Char('-')) ||
            label.endsWith(QLatin1Char('-')))
            return false;
        for (const QChar c : label) {
            if (!(c.isDigit() || c == QLatin1Char('-') || (c.unicode() < 128 && c.isLetter())))
                return false;
        }
    }
    return true;
}
} // namespace

void setLongProcessFactory(LongProcessFactory f)
{
    factory() = std::move(f);
}

std::unique_ptr<LongProcess> makeLongProcess()
{
    if (factory())
        return factory()();
    return std::make_unique<QtLongProcess>();
}

bool isValidPingTarget(const QString &text)
{
    // Whatever the field holds goes to ping as its one argument: nothing may read as an option.
    if (text.isEmpty() || text.startsWith(QLatin1Char('-')))
        return false;
    return isValidHostAddress(text) || isHostName(text);
}

PingTest::PingTest(QObject *parent) : QObject(parent), m_readTimer(new QTimer(this))
{
    connect(m_readTimer, &QTimer::timeout, this, &PingTest::poll);
}

PingTest::~PingTest()
{
    stop();
}

PingTest::StartResult PingTest::start(const QString &target)
{
    stop();
    const QString host = target.trimmed();
    if (!isValidPingTarget(host)) {
        qCWarning(lcSettings).noquote() << "ping target refused:" << target;
        return Refused;
    }
#ifndef MG_BOX_BUILD
    QHostAddress address;
    if (!address.setAddress(host) || !address.isLoopback()) {
        qCWarning(lcSettings).noquote() << "desktop build, not run: ping" << host;
        return NotAllowed;
    }
#endif
    m_process = makeLongProcess();
    if (!m_process || !m_process->start(QStringLiteral("ping"), {host}, kStartTimeoutMs)) {
        qCWarning(lcSettings).noquote() << "ping could not be started for" << host;
        m_process.reset();
        return NotStarted;
    }
    m_readTimer->start(kPollMs);
    return Started;
}

void PingTest::stop()
{
    m_readTimer->stop();
    if (m_process) {
        m_process->close();
        m_process.reset();
    }
}

void PingTest::poll()
{
    if (!m_process)
        return;
    const QByteArray output = m_process->readAvailable();
    if (output.isEmpty())
        return;
    QString text = QString::fromLocal8Bit(output);
    // The pane starts a paragraph per append; a read that ends mid-line keeps its last character.
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    emit outputAppended(text);
}

QString PingTest::resultText(StartResult result, const QString &target)
{
    switch (result) {
    case Refused:
        return uiText(710).arg(target);
    case NotAllowed:
        return uiText(711).arg(target.trimmed());
    case NotStarted:
        return uiText(712);
    case Started:
        break;
    }
    return QString();
}

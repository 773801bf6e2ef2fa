#pragma once
// The link test of the network dialog: "ping" to the server (or a typed host) runs on its own until
// stopped, and a 100 ms timer hands its output to the dialog's ping pane. The process is started with
// an argument list behind a seam of its own (LongProcess), so tests run a fake or the real ping.
// GUI thread only.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QTimer;

// A program that runs until it is closed, its standard error merged into its output.
class LongProcess
{
public:
    virtual ~LongProcess() = default;
    // Starts `program` with `arguments` (no shell) and waits up to `startTimeoutMs` for the start.
    virtual bool start(const QString &program, const QStringList &arguments, int startTimeoutMs) = 0;
    // The output not read yet; empty when there is none.
    virtual QByteArray readAvailable() = 0;
    // Ends the program if it still runs and waits briefly for it.
    virtual void close() = 0;
};

// Makes the processes PingTest runs; an empty factory restores the real (QProcess) one. Tests only.
using LongProcessFactory = std::function<std::unique_ptr<LongProcess>()>;
void setLongProcessFactory(LongProcessFactory factory);
std::unique_ptr<LongProcess> makeLongProcess();

// A host address (IPv4, IPv6) or a host name (letters, digits, '-', '.'; no label begins or ends
// with '-', so nothing reads as a ping option).
bool isValidPingTarget(const QString &text);

class PingTest : public QObject
{
    Q_OBJECT
public:
    enum StartResult
    {
        Started,
        Refused,    // not a host address or name: nothing run
        NotAllowed, // desktop build: only addresses of this machine (127.0.0.0/8, ::1) are pinged
        NotStarted, // ping could not be started
    };

    explicit PingTest(QObject *parent = nullptr);
    ~PingTest() override; // closes a running ping

    // Ping button: ends a running ping, checks `target` (trimmed) and runs "ping" `target` as one
    // argument, then polls it every 100 ms.
    StartResult start(const QString &target);
    // Ping pane closed: ends the ping and stops polling.
    void stop();
    bool isRunning() const { return m_process != nullptr; }

    // The line the pane shows for a result other than Started (empty for Started); rows 710-712.
    static QString resultText(StartResult result, const QString &target);

signals:
    // New output of the ping, without its last line end: one new paragraph of the pane.
    void outputAppended(const QString &paragraph);

private:
    void poll();

    std::unique_ptr<LongProcess> m_process;
    QTimer *m_readTimer = nullptr;
};

#include "boardsimulator.h"

#include "ioframes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

namespace {
// The tool runs for hours; the log only needs the recent past.
constexpr int kCommandLogLimit = 100000;

bool makeRaw(int fd)
{
    termios t;
    if (tcgetattr(fd, &t) != 0)
        return false;
    cfmakeraw(&t);
    return tcsetattr(fd, TCSANOW, &t) == 0;
}
} // namespace

BoardSimulator::BoardSimulator() = default;

BoardSimulator::~BoardSimulator()
{
    close();
    recordTo(QString());
}

bool BoardSimulator::recordTo(const QString &file)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_record)
        std::fclose(m_record);
    m_record = nullptr;
    if (file.isEmpty())
        return true;
    m_record = std::fopen(QFile::encodeName(file).constData(), "w");
    if (!m_record)
        return false;
    // Line-buffered: a recording read while the simulator runs, or left by one that was killed, ends
    // with whole lines.
    std::setvbuf(m_record, nullptr, _IOLBF, 0);
    m_recordStart = std::chrono::steady_clock::now();
    return true;
}

QByteArray BoardSimulator::recordLine(qint64 msSinceStart, const Command &c)
{
    char line[64];
    const int n = std::snprintf(line, sizeof line, "%lld %u 0x%04x\n", static_cast<long long>(msSinceStart),
                                unsigned(c.command), unsigned(c.value));
    return QByteArray(line, n);
}

bool BoardSimulator::open(const QString &linkPath)
{
    close();
    const QFileInfo link(linkPath);
    if (link.exists() && !link.isSymLink())
        return false;
    if (link.isSymLink() && !QFile::remove(linkPath))
        return false;
    if (!QDir().mkpath(link.absolutePath()))
        return false;

    if (!openTerminal())
        return false;
    if (::symlink(m_terminalPath.toLocal8Bit().constData(), QFile::encodeName(linkPath).constData()) != 0) {
        close();
        return false;
    }
    m_linkPath = linkPath;
    m_stop = false;
    m_thread = std::thread([this] { answerLoop(); });
    return true;
}

bool BoardSimulator::openTerminal()
{
    char name[256] = {};
    if (openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) {
        m_master = m_slave = -1;
        return false;
    }
    // The simulator keeps the slave open too, so the master never sees a hang-up while the host
    // reopens the port; both ends raw so that no byte is translated or echoed.
    makeRaw(m_master);
    makeRaw(m_slave);
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    fcntl(m_master, F_SETFD, FD_CLOEXEC);
    fcntl(m_slave, F_SETFD, FD_CLOEXEC);
    m_terminalPath = QString::fromLocal8Bit(name);
    return true;
}

bool BoardSimulator::moveToNewLine()
{
    if (m_master < 0 || m_linkPath.isEmpty())
        return false;
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_leftMaster >= 0)
        ::close(m_leftMaster);
    if (m_leftSlave >= 0)
        ::close(m_leftSlave);
    m_leftMaster = m_master;
    m_leftSlave = m_slave;
    m_master = m_slave = -1;
    m_hostBytes.clear();
    // Renamed over the old link, so that the path never names nothing.
    const QByteArray link = QFile::encodeName(m_linkPath);
    const QByteArray staged = link + ".new";
    ::unlink(staged.constData());
    const bool ok = openTerminal() &&
                    ::symlink(m_terminalPath.toLocal8Bit().constData(), staged.constData()) == 0 &&
                    ::rename(staged.constData(), link.constData()) == 0;
    if (!ok) {
        close();
        return false;
    }
    m_stop = false;
    m_thread = std::thread([this] { answerLoop(); });
    return true;
}

void BoardSimulator::close()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (!m_linkPath.isEmpty() && QFileInfo(m_linkPath).isSymLink())
        QFile::remove(m_linkPath);
    m_linkPath.clear();
    for (int *fd : {&m_master, &m_slave, &m_leftMaster, &m_leftSlave}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
    m_hostBytes.clear();
}

void BoardSimulator::setInputs(quint16 word)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (word != m_inputs) {
        m_inputs = word;
        m_inputsPending = true;
        m_inputsWrittenAt = {};
    }
}

quint16 BoardSimulator::outputs() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_outputs;
}

void BoardSimulator::setOutputs(quint16 word)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_outputs = word;
}

void BoardSimulator::setReplyPayloads(quint32 reply3, quint32 reply4)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_reply3 = reply3;
    m_reply4 = reply4;
}

void BoardSimulator::setAnswering(bool on)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_answering = on;
}

bool BoardSimulator::writeRaw(const QByteArray &bytes)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return writeLocked(bytes.constData(), bytes.size());
}

QVector<BoardSimulator::Command> BoardSimulator::commands() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    // A copy of its own: a shared one would be read by the caller while the answering thread appends.
    return QVector<Command>(m_commands.cbegin(), m_commands.cend());
}

int BoardSimulator::commandCount(quint8 command) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    int n = 0;
    for (const Command &c : m_commands)
        n += c.command == command;
    return n;
}

void BoardSimulator::clearCommands()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_commands.clear();
    m_strayHostBytes = 0;
}

int BoardSimulator::strayHostBytes() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_strayHostBytes;
}

bool BoardSimulator::waitForCommands(int count, int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_commandArrived.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                     [&] { return m_commands.size() >= count; });
}

void BoardSimulator::forgetOutputs()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_outputs ^= 0x3FF;
    m_forget = Forget::Pending;
}

int BoardSimulator::wordSinceForgotten() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_forget == Forget::Answered ? int(m_wordSinceForgotten) : -1;
}

std::chrono::steady_clock::time_point BoardSimulator::inputsWrittenAt() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_inputsWrittenAt;
}

bool BoardSimulator::writeLocked(const char *data, int n)
{
    // The line is fast compared with the host's 5 ms pass; a full buffer means the host stopped
    // reading, and then losing bytes is what a real line does too.
    int done = 0;
    while (done < n) {
        const ssize_t w = ::write(m_master, data + done, size_t(n - done));
        if (w > 0) {
            done += int(w);
            continue;
        }
        if (w < 0 && errno == EINTR)
            continue;
        return false;
    }
    return true;
}

void BoardSimulator::answerLoop()
{
    // A real board answers within the host's 5 ms pass whatever the host's processor does. The host's
    // poll thread runs at a raised priority where it may (as root), so the simulated board does too:
    // on a busy machine it would otherwise answer a request after the host's next one.
    setpriority(PRIO_PROCESS, pid_t(syscall(SYS_gettid)), -10);
    quint8 buffer[512];
    while (!m_stop) {
        pollfd p{m_master, POLLIN, 0};
        if (::poll(&p, 1, 1) <= 0)
            continue;
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n > 0)
            handleHostBytes(buffer, int(n));
        else if (n < 0 && errno != EAGAIN && errno != EINTR)
            usleep(1000); // nobody on the other end yet
    }
}

void BoardSimulator::handleHostBytes(const quint8 *data, int n)
{
    m_hostBytes.append(reinterpret_cast<const char *>(data), n);
    int pos = 0;
    while (m_hostBytes.size() - pos >= int(sizeof(IoCommandFrame))) {
        const auto *p = reinterpret_cast<const quint8 *>(m_hostBytes.constData()) + pos;
        if (p[0] == kIoFrameStart && p[5] == kIoFrameEnd && p[4] == checksum8(p, 4)) {
            answer(p[1], quint16(p[2] | (p[3] << 8)));
            pos += int(sizeof(IoCommandFrame));
        } else {
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_strayHostBytes;
            ++pos;
        }
    }
    m_hostBytes.remove(0, pos);
}

void BoardSimulator::answer(quint8 command, quint16 value)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_commands.size() >= kCommandLogLimit)
        m_commands.remove(0, kCommandLogLimit / 2);
    m_commands.append({command, value, std::chrono::steady_clock::now()});
    m_commandArrived.notify_all();
    if (m_record) {
        const Command &c = m_commands.last();
        const QByteArray line = recordLine(
            std::chrono::duration_cast<std::chrono::milliseconds>(c.at - m_recordStart).count(), c);
        std::fwrite(line.constData(), 1, size_t(line.size()), m_record);
    }

    if (command == kIoCommandSetOutputs) {
        m_outputs = value & 0x3FF;
        if (m_forget == Forget::Pending) {
            m_outputs ^= 0x3FF; // sent before the host could read the forgotten echo
        } else if (m_forget == Forget::EchoSent) {
            m_forget = Forget::Answered;
            m_wordSinceForgotten = m_outputs;
        }
    }
    if (!m_answering)
        return;
    switch (command) {
    case kIoCommandPoll: {
        const IoReportFrame f = IoReportFrame::status(m_inputs, m_outputs);
        const bool written = writeLocked(f.bytes(), sizeof f);
        if (written && m_inputsPending) {
            m_inputsPending = false;
            m_inputsWrittenAt = std::chrono::steady_clock::now();
        }
        if (written && m_forget == Forget::Pending)
            m_forget = Forget::EchoSent;
        break;
    }
    case kIoCommandRequest3: {
        const IoReportFrame f = IoReportFrame::payload(kIoReportReply3, m_reply3);
        writeLocked(f.bytes(), sizeof f);
        break;
    }
    case kIoCommandRequest4: {
        const IoReportFrame f = IoReportFrame::payload(kIoReportReply4, m_reply4);
        writeLocked(f.bytes(), sizeof f);
        break;
    }
    default:
        break;
    }
}

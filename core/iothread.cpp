#include "iothread.h"

#include "clock.h"
#include "corelog.h"
#include "cyclestartmarkhook.h"
#include "inputentrywatch.h"
#include "iolink.h"
#include "posix_qextserialport.h"
#include "startup.h"

#include "mutexlocker.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace {
constexpr int kPassMs = 5;
constexpr int kPollNice = -10;
constexpr int kTickRequest3 = 200;
constexpr int kTickRequest4 = 210;
constexpr int kReplyFirst3 = 0;
constexpr int kReplyFirst4 = 8;
constexpr int kReplyWords = 16;
constexpr qint64 kSilentMs = 1000; // no report frame for this long: the board is said to be silent
constexpr qint64 kReopenMs = 1000; // a failed port is opened again this often
} // namespace

IOThread::IOThread(QObject *parent) : QThread(parent) {}

IOThread::~IOThread()
{
    requestStop();
    wait();
}

void IOThread::requestStop()
{
    requestInterruption();
}

bool IOThread::stopRequested() const
{
    return isInterruptionRequested();
}

// Outside gIoMutex: the mark's thread takes its own lock before gIoMutex, and the poll never waits
// on either for the disk.
void IOThread::postMarkRequests(quint32 inputs)
{
    for (int i = 0; inputs != 0 && i < 16; ++i) {
        if (inputs & (1u << i)) {
            inputs &= ~(1u << i);
            requestCycleStartMark(i);
        }
    }
}

bool IOThread::handleFrame(const IoReportFrame &frame, quint32 wanted, qint64 readMs)
{
    switch (frame.type) {
    case kIoReportStatus: {
        const quint32 inputs = frame.inputs();
        bool inputsChanged = false;
        quint32 marks = 0;
        {
            // Compared and stored in one hold of the lock: the GUI thread writes the word too, and the
            // signal must only go out once the word it announces is in place.
            MutexLocker lock(gIoMutex);
            gIoEntryWatch.statusFrame(inputs, readMs);
            marks = gIoEntryWatch.takeMarkRequests();
            if (inputs != gIoInputWord) {
                // A detection judges only pictures taken after the change that started it.
                for (int b = 0; b < 16; ++b) {
                    if ((inputs ^ gIoInputWord) & (1u << b))
                        gIoInputChangedMs[b] = readMs;
                }
                gIoInputWord = inputs;
                inputsChanged = true;
            }
        }
        postMarkRequests(marks);
        if (inputsChanged)
            emit sigIOChange();
        return frame.echoedOutputs() != wanted;
    }
    case kIoReportReply3:
    case kIoReportReply4:
        if (m_replyIndex < kReplyWords)
            gIoReplyWords[m_replyIndex++] = frame.payloadWord();
        return false;
    default:
        return false;
    }
}

void IOThread::run()
{
    // The poll carries the clamp interlock: it goes before the detection workers and the screen when
    // the processor is busy. Raising the priority needs root (the box runs as root); elsewhere the
    // thread keeps the normal one.
    if (setpriority(PRIO_PROCESS, pid_t(syscall(SYS_gettid)), kPollNice) != 0)
        qCDebug(lcCore) << "I/O thread keeps the normal priority:" << strerror(errno);
    qint64 lastReportMs = appMonotonicMs();
    bool silent = false;
    // A new poll has not waited for the board yet; what an earlier thread found no longer holds.
    gIoBoardSilent = false;
    // Passes keep a 5 ms schedule by the clock, not 5 ms after each pass's work, so the work and
    // late wake-ups do not stretch the period: a pass woken late is followed by one up to 1 ms
    // sooner until the schedule is met again. Never sooner than that: the board answers a request
    // within a pass, and a burst of polls would take its replies for later ones. After a stall of
    // more than four periods the schedule starts again from now.
    using Steady = std::chrono::steady_clock;
    constexpr auto kPeriod = std::chrono::milliseconds(kPassMs);
    constexpr auto kShortestPass = std::chrono::milliseconds(kPassMs - 1);
    Steady::time_point due = Steady::now();
    Steady::time_point passStart = due;
    // The entry's stamp tells one stall from the next: the log holds back a line that repeats.
    InputEntryStall unloggedStall;
    const auto logStall = [&unloggedStall] {
        const InputEntryStall stall = std::exchange(unloggedStall, InputEntryStall());
        if (stall.input >= 0)
            qCWarning(lcCore) << "Cycle stalled: input" << stall.input << "entered"
                              << stall.heldAtMs - stall.unreadSinceMs << "ms ago (at" << stall.unreadSinceMs
                              << "ms) and no pass has read it; clamp held until one does";
    };
    const auto waitForNextPass = [&] {
        due += kPeriod;
        if (due + 4 * kPeriod < Steady::now())
            due = Steady::now();
        std::this_thread::sleep_until(std::max(due, passStart + kShortestPass));
        passStart = Steady::now();
    };
    while (!stopRequested()) {
        quint32 wanted;
        quint32 marks;
        InputEntryStall stall;
        {
            MutexLocker lock(gIoMutex);
            wanted = gIoEntryWatch.heldWord(gIoOutputWord, appMonotonicMs(), &stall);
            marks = gIoEntryWatch.takeMarkRequests();
        }
        postMarkRequests(marks);
        if (stall.input >= 0)
            unloggedStall = stall;
        if (gIoThreadEnabled.load() == 0) {
            logStall(); // nothing is sent while the board is not polled
            // Not polled, so not expected to answer.
            lastReportMs = appMonotonicMs();
            waitForNextPass();
            continue;
        }

        bool reported = false;
        bool statusCame = false;
        bool failed = m_writeFailed || (gIoSerialPort && gIoSerialPort->hungUp());
        const qint64 waiting = gIoSerialPort && !failed ? gIoSerialPort->bytesAvailable() : 0;
        if (waiting > 0) {
            const qint64 got = gIoSerialPort->read(m_receive, sizeof m_receive);
            const qint64 readMs = appMonotonicMs();
            failed = got < 0;
            if (got > 0)
                m_scanner.append(reinterpret_cast<const quint8 *>(m_receive), int(got));
            bool changed = false;
            m_scanner.scan([&](const IoReportFrame &frame) {
                reported = true;
                statusCame = statusCame || frame.type == kIoReportStatus;
                changed |= handleFrame(frame, wanted, readMs);
            });
            if (changed)
                failed = !sendIoCommand(kIoCommandSetOutputs, quint16(wanted & 0xFFFF)) || failed;
        }
        // The board has the hold now (it echoed it, or it was just sent): the line comes after it, as
        // the log's lock and disk can take their time. A silent board gets the line at once.
        if (statusCame || failed || silent || !gIoSerialPort)
            logStall();
        if (statusCame && m_reopening) {
            m_reopening = false;
            qCInfo(lcCore).noquote() << "I/O board port" << gIoSerialPort->portName() << "reopened";
        }
        // One line when the board falls silent and one when it speaks again, never one per pass.
        const qint64 now = appMonotonicMs();
        if (reported) {
            lastReportMs = now;
            if (silent) {
                qCInfo(lcCore) << "I/O board reports again";
                silent = false;
                gIoBoardSilent = false;
                emit sigBoardSilent(false);
            }
        } else if (!silent && now - lastReportMs >= kSilentMs) {
            silent = true;
            qCWarning(lcCore) << "I/O board silent: no report for" << kSilentMs
                              << "ms; inputs are not updated";
            gIoBoardSilent = true;
            emit sigBoardSilent(true);
        }
        if (silent && gIoSerialPort && !gIoSerialPort->namesOpenDevice())
            failed = true;
        if (failed && !m_reopening && gIoSerialPort) {
            m_reopening = true;
            m_reopenedMs = now - kReopenMs;
            qCWarning(lcCore).noquote()
                << "I/O board port" << gIoSerialPort->portName() << "failed; reopening it every second";
        }
        if (m_reopening && now - m_reopenedMs >= kReopenMs) {
            m_reopenedMs = now;
            m_scanner = IoFrameScanner();
            if (gIoSerialPort->open(QIODevice::ReadWrite))
                m_sendWordFirst = true;
        }

        ++m_tick;
        if (m_sendWordFirst) {
            // A board on a new line may hold anything: it learns the word before any poll.
            m_sendWordFirst = !sendIoCommand(kIoCommandSetOutputs, quint16(wanted & 0xFFFF));
            m_writeFailed = m_sendWordFirst;
        } else if (m_tick == kTickRequest3) {
            m_replyIndex = kReplyFirst3;
            m_writeFailed = !sendIoCommand(kIoCommandRequest3, 0);
        } else if (m_tick == kTickRequest4) {
            m_replyIndex = kReplyFirst4;
            m_tick = 0;
            m_writeFailed = !sendIoCommand(kIoCommandRequest4, 0);
        } else {
            m_writeFailed = !sendIoCommand(kIoCommandPoll, 0);
        }
        waitForNextPass();
    }
    logStall(); // a stop does not lose the line
}

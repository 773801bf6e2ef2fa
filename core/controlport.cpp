#include "controlport.h"

#include "iolink.h"
#include "iothread.h"
#include "mutexlocker.h"
#include "startup.h"
#include "sysparam.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>

ControlPort *gControlPort = nullptr;

namespace {

constexpr int kOutputCount = 9; // outputs 0-8 are driven; bit 9 never
constexpr int kIoBits = 16;
constexpr int kAlarmOutput = 2;
constexpr int kSafetyDoorInput = 1;

// Idle level of an output: outputs 0-7 have their own word, output 8 has the one after them.
int outputInitOf(int index)
{
    return index < 8 ? gSysParam->outputInit[index] : gSysParam->reserved100;
}

// Only inputs 0-7 have an inversion setting; inputs 8 and 9 are never inverted.
int inputInvertOf(int index)
{
    return index >= 0 && index < 8 ? gSysParam->inputInvert[index] : 0;
}

quint32 bitOf(quint32 word, int bit)
{
    return (word >> bit) & 1u;
}

// The poll thread of the live ControlPort, for the exit-time join. GUI thread.
IOThread *runningIoThread = nullptr;

} // namespace

void joinIoThreadBeforeExit()
{
    if (!runningIoThread)
        return;
    runningIoThread->requestStop();
    runningIoThread->wait();
}

ControlPort::ControlPort()
{
    inputWord = 0;
    gIoThreadEnabled = 1;
    openIoSerialPort();
    clearOutputs();
    flushOutputs();
}

ControlPort::~ControlPort()
{
    stopIOThread();
    if (runningIoThread == ioThread)
        runningIoThread = nullptr;
}

void ControlPort::setRunSlot(QObject *mainWindow, std::function<void()> run)
{
    if (ioThread && m_runReceiver)
        disconnect(ioThread, &IOThread::sigIOChange, m_runReceiver, nullptr);
    m_runReceiver = mainWindow;
    m_run = std::move(run);
    connectRunSlot();
}

void ControlPort::connectRunSlot()
{
    if (ioThread && m_runReceiver && m_run)
        connect(ioThread, &IOThread::sigIOChange, m_runReceiver.data(), m_run);
}

void ControlPort::startIOThread()
{
    if (ioThread)
        return;
    ioThread = new IOThread(this);
    connectRunSlot();
    connect(ioThread, &IOThread::sigBoardSilent, this, &ControlPort::sigBoardSilent, Qt::QueuedConnection);
    // exit() runs static destructors while threads still run; a pass emitting into half-destroyed
    // Qt state then crashes the box on its way down.
    static const bool registered = std::atexit(joinIoThreadBeforeExit) == 0;
    Q_UNUSED(registered)
    runningIoThread = ioThread;
    ioThread->start(QThread::InheritPriority);
}

void ControlPort::stopIOThread()
{
    if (!ioThread)
        return;
    ioThread->requestStop();
    ioThread->wait();
}

void ControlPort::setOutput(int index, int on)
{
    if (index < 0 || index >= kOutputCount)
        return;
    int value = on;
    if (outputInitOf(index))
        value = value == 0 ? 1 : 0;
    int bit = index;
    // Compared as index + 1: the stored role may be any number, and INT_MIN - 1 would overflow.
    const int output4Use = gSysParam->output4Use;
    if (output4Use != 0 && output4Use == index + 1)
        bit = 3;
    if (value)
        pendingOutputs |= 1u << bit;
    else
        pendingOutputs &= ~(1u << bit);
}

void ControlPort::clearOutputs()
{
    for (int i = 0; i < kOutputCount; ++i)
        setOutput(i, 0);
}

void ControlPort::flushOutputs()
{
    {
        MutexLocker lock(gIoMutex);
        gIoOutputWord = pendingOutputs;
    }
    if (pendingOutputs != gIoLastFlushed) {
        gIoLastFlushed = pendingOutputs;
        emit sigIOChange();
    }
}

int ControlPort::getIO(int isOutput, int bit)
{
    if (bit < 0 || bit >= kIoBits)
        return 0;
    if (isOutput)
        return int(bitOf(pendingOutputs, bit));
    const quint32 raw = bitOf(inputWord, bit);
    return int(inputInvertOf(bit) ? raw ^ 1u : raw);
}

qint64 ControlPort::inputChangedMs(int index) const
{
    return index >= 0 && index < kIoBits ? inputStamps[index] : 0;
}

int ControlPort::checkInput(int index)
{
    if (index < 0 || index >= kIoBits)
        return 0;
    {
        MutexLocker lock(gIoMutex);
        inputWord = gIoInputWord;
        std::copy(std::begin(gIoInputChangedMs), std::end(gIoInputChangedMs), std::begin(inputStamps));
    }
    // Board input 3 can stand in for input 0, 1 or 2 (a machine wired differently).
    const quint32 bit3 = bitOf(inputWord, 3);
    const int input4Use = gSysParam->input4Use;
    if (input4Use != 0) {
        const int target = input4Use == 1 ? 0 : input4Use == 2 ? 1 : 2;
        inputWord = (inputWord & ~(1u << target)) | (bit3 << target);
        inputStamps[target] = inputStamps[3];
    }

    const bool raw = bitOf(inputWord, index);
    const bool inv = inputInvertOf(index) != 0;
    const bool mem = inputMemory[index];
    const int result = ((!mem && raw && !inv) || (mem && !raw && inv)) ? 1 : 0;

    // Opening the safety door (input 1 leaving its active level) drops the alarm output at once, on
    // every call, so that the door is seen whichever input the cycle happens to ask about.
    if (gSysParam->machineType != 1 && gSysParam->machineType != 2) {
        const bool raw1 = bitOf(inputWord, kSafetyDoorInput);
        const bool mem1 = inputMemory[kSafetyDoorInput];
        const bool inv1 = inputInvertOf(kSafetyDoorInput) != 0;
        if ((mem1 && !raw1 && !inv1) || (!mem1 && raw1 && inv1)) {
            if (bitOf(pendingOutputs, kAlarmOutput))
                setOutput(kAlarmOutput, 0);
            flushOutputs();
            gSafetyDoorOpened = true;
        }
    }

    inputMemory[index] = raw;
    return result;
}

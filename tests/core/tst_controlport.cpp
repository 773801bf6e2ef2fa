// The machine cycle's side of the I/O board: output words composed and flushed, input edges, the
// input-3 remap, inversion and the safety-door rule, as the cycle and the board see them.

#include "controlport.h"
#include "iolink.h"
#include "mutexlocker.h"
#include "posix_qextserialport.h"
#include "startup.h"
#include "sysparam.h"
#include "testworkdir.h"

#include <QSignalSpy>
#include <QtTest>

#include <algorithm>
#include <iterator>
#include <limits>
#include <memory>

using IntList = QList<int>;
using Call = QPair<int, int>;
using CallList = QList<Call>;
Q_DECLARE_METATYPE(CallList)

namespace {
void setBoardInputs(quint32 word)
{
    MutexLocker lock(gIoMutex);
    gIoInputWord = word;
}
// One status frame as the poll thread takes it in: counted, then the word and stamps the cycle reads.
void boardFrame(quint32 word, qint64 readMs)
{
    MutexLocker lock(gIoMutex);
    gIoEntryWatch.statusFrame(word, readMs);
    for (int b = 0; b < 16; ++b) {
        if ((word ^ gIoInputWord) & (1u << b))
            gIoInputChangedMs[b] = readMs;
    }
    gIoInputWord = word;
}
quint32 wantedOutputs()
{
    MutexLocker lock(gIoMutex);
    return gIoOutputWord;
}
} // namespace

class TestControlPort : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestWorkDir> m_dir;
    SysParam m_param;
    std::unique_ptr<ControlPort> m_port;

    // A fresh ControlPort on the parameters in m_param; no board is present (the port does not open).
    void makePort() { m_port = std::make_unique<ControlPort>(); }

private slots:
    void initTestCase()
    {
        if (!gIoMutex)
            createProcessMutexes();
    }

    void init()
    {
        m_dir = std::make_unique<TestWorkDir>(TestWorkDir::Empty);
        QVERIFY(m_dir->isValid());
        // Never the machine's own ports, whichever build this is.
        setIoPortPattern(m_dir->filePath(QStringLiteral("dev/ttyS%1")));
        gIoPortNumber = 0;
        m_param = SysParam();
        gSysParam = &m_param;
        gIoInputWord = 0;
        std::fill(std::begin(gIoInputChangedMs), std::end(gIoInputChangedMs), 0);
        gIoOutputWord = 0;
        gIoLastFlushed = 0;
        gIoThreadEnabled = 0;
        gSafetyDoorOpened = false;
    }

    void cleanup()
    {
        m_port.reset();
        delete gIoSerialPort;
        gIoSerialPort = nullptr;
        gSysParam = nullptr;
        m_dir.reset();
        setIoPortPattern(QString());
    }

    // The constructor enables the poll thread, opens the port of the working directory and puts every
    // output at its idle level for the thread's first pass.
    void constructionPutsOutputsAtTheirIdleLevels()
    {
        m_param.outputInit[0] = 1;
        m_param.outputInit[2] = 1;
        m_param.reserved100 = 1;
        gIoPortNumber = 4;
        makePort();
        QCOMPARE(gIoThreadEnabled.load(), 1);
        QVERIFY(gIoSerialPort);
        QCOMPARE(gIoSerialPort->portName(), ioPortPattern().arg(4));
        QCOMPARE(m_port->pendingOutputs, 0x105u);
        QCOMPARE(wantedOutputs(), 0x105u);
        QCOMPARE(gIoLastFlushed, 0x105u);
        QCOMPARE(m_port->inputWord, 0u);
    }

    void composingOutputs_data()
    {
        QTest::addColumn<IntList>("outputInit"); // outputs 0-7, then output 8 (reserved100)
        QTest::addColumn<int>("output4Use");
        QTest::addColumn<int>("start");
        QTest::addColumn<CallList>("calls"); // (index, on); index -1 means clearOutputs
        QTest::addColumn<int>("expected");
        const IntList plain = {0, 0, 0, 0, 0, 0, 0, 0, 0};
        const IntList idle1010 = {1, 0, 1, 0, 0, 0, 0, 0, 0};
        QTest::newRow("on sets the bit") << plain << 0 << 0x000 << CallList{{1, 1}} << 0x002;
        QTest::newRow("any non-zero counts as on") << plain << 0 << 0x000 << CallList{{1, 5}} << 0x002;
        QTest::newRow("off clears only that bit") << plain << 0 << 0x3FF << CallList{{4, 0}} << 0x3EF;
        QTest::newRow("idle close: on clears bit 0")
            << IntList{1, 0, 0, 0, 0, 0, 0, 0, 0} << 0 << 0x001 << CallList{{0, 1}} << 0x000;
        QTest::newRow("idle close and output4Use 1: on clears bit 3, bit 0 kept")
            << IntList{1, 0, 0, 0, 0, 0, 0, 0, 0} << 1 << 0x009 << CallList{{0, 1}} << 0x001;
        QTest::newRow("output4Use 2 drives the ejector on bit 3")
            << plain << 2 << 0x000 << CallList{{1, 1}} << 0x008;
        QTest::newRow("clear with idle levels 1,0,1,0")
            << idle1010 << 0 << 0x000 << CallList{{-1, 0}} << 0x005;
        QTest::newRow("clear with output4Use 1: output 3 overwrites bit 3, bit 0 kept (was 0)")
            << idle1010 << 1 << 0x000 << CallList{{-1, 0}} << 0x004;
        QTest::newRow("clear with output4Use 1: output 3 overwrites bit 3, bit 0 kept (was 1)")
            << idle1010 << 1 << 0x001 << CallList{{-1, 0}} << 0x005;
        QTest::newRow("clear leaves bit 9 alone") << plain << 0 << 0x3FF << CallList{{-1, 0}} << 0x200;
        QTest::newRow("output 8 idles by reserved100")
            << IntList{0, 0, 0, 0, 0, 0, 0, 0, 1} << 0 << 0x000 << CallList{{-1, 0}} << 0x100;
        QTest::newRow("NG pulse outputs idling closed")
            << IntList{0, 0, 0, 0, 1, 1, 1, 1, 0} << 0 << 0x000 << CallList{{-1, 0}} << 0x0F0;
        // The role comes unchecked from the stored row: even the lowest int maps nothing.
        QTest::newRow("output4Use at the low end of int maps nothing")
            << plain << std::numeric_limits<int>::min() << 0x000 << CallList{{0, 1}, {8, 1}} << 0x101;
        QTest::newRow("indices outside 0-8 do nothing")
            << plain << 0 << 0x155 << CallList{{9, 1}, {-5, 1}, {31, 1}, {32, 1}, {1000, 1}, {9, 0}}
            << 0x155;
    }
    void composingOutputs()
    {
        QFETCH(IntList, outputInit);
        QFETCH(int, output4Use);
        QFETCH(int, start);
        QFETCH(CallList, calls);
        QFETCH(int, expected);
        makePort();
        for (int i = 0; i < 8; ++i)
            m_param.outputInit[i] = outputInit[i];
        m_param.reserved100 = outputInit[8];
        m_param.output4Use = output4Use;
        m_port->pendingOutputs = quint32(start);
        const quint32 wantedBefore = wantedOutputs();
        for (const Call &c : calls) {
            if (c.first == -1 && c.second == 0)
                m_port->clearOutputs();
            else
                m_port->setOutput(c.first, c.second);
        }
        QCOMPARE(m_port->pendingOutputs, quint32(expected));
        QCOMPARE(wantedOutputs(), wantedBefore); // nothing reaches the board before a flush
        for (int bit = 0; bit < 10; ++bit)
            QCOMPARE(m_port->getIO(1, bit), (expected >> bit) & 1);
    }

    // A flush hands the word to the poll thread; only a changed word is announced.
    void flushAnnouncesOnlyChanges()
    {
        makePort();
        QSignalSpy spy(m_port.get(), &ControlPort::sigIOChange);
        m_port->flushOutputs(); // same word as the constructor's flush
        QCOMPARE(spy.count(), 0);
        m_port->setOutput(0, 1);
        m_port->flushOutputs();
        m_port->flushOutputs();
        QCOMPARE(spy.count(), 1);
        QCOMPARE(wantedOutputs(), 0x001u);
        QCOMPARE(gIoLastFlushed, 0x001u);
        m_port->setOutput(0, 0);
        m_port->flushOutputs();
        QCOMPARE(spy.count(), 2);
        QCOMPARE(wantedOutputs(), 0x000u);
    }

    void inputThreeStandsIn_data()
    {
        QTest::addColumn<int>("input4Use");
        QTest::addColumn<int>("board");
        QTest::addColumn<int>("seen");
        QTest::addColumn<int>("target"); // the input 3 stands in for; -1 none
        QTest::newRow("0: no change") << 0 << 0x008 << 0x008 << -1;
        QTest::newRow("1: for input 0") << 1 << 0x008 << 0x009 << 0;
        QTest::newRow("1: input 0 follows a clear input 3") << 1 << 0x001 << 0x000 << 0;
        QTest::newRow("2: for input 1 (0x008 becomes 0x00A)") << 2 << 0x008 << 0x00A << 1;
        QTest::newRow("3: for input 2") << 3 << 0x008 << 0x00C << 2;
        QTest::newRow("other values act as 3") << 7 << 0x00B << 0x00F << 2;
        QTest::newRow("negative values act as 3") << -1 << 0x004 << 0x000 << 2;
    }
    // The input standing in also brings the time of its change: a detection it starts judges only
    // pictures taken after input 3 changed, not after the target input's own last change (0 when it
    // never changed, which would let any picture pass).
    void inputThreeStandsIn()
    {
        QFETCH(int, input4Use);
        QFETCH(int, board);
        QFETCH(int, seen);
        QFETCH(int, target);
        m_param.input4Use = input4Use;
        m_param.machineType = 1; // keeps the safety-door rule out of the way
        makePort();
        setBoardInputs(quint32(board));
        {
            MutexLocker lock(gIoMutex);
            for (int bit = 0; bit < 16; ++bit)
                gIoInputChangedMs[bit] = 1000 * (bit + 1);
        }
        m_port->checkInput(5);
        QCOMPARE(m_port->inputWord, quint32(seen));
        for (int bit = 0; bit < 10; ++bit) {
            QCOMPARE(m_port->getIO(0, bit), (seen >> bit) & 1);
            QCOMPARE(m_port->inputChangedMs(bit), qint64(bit == target ? 4000 : 1000 * (bit + 1)));
        }
    }

    // Successive board words and what checkInput(0) reports for each.
    void inputEdges_data()
    {
        QTest::addColumn<int>("invert");
        QTest::addColumn<IntList>("raw");
        QTest::addColumn<IntList>("edges");
        QTest::addColumn<IntList>("levels");
        QTest::newRow("plain: rising edge once")
            << 0 << IntList{0, 1, 1, 0, 1} << IntList{0, 1, 0, 0, 1} << IntList{0, 1, 1, 0, 1};
        QTest::newRow("inverted: falling raw bit is the edge")
            << 1 << IntList{1, 0, 0, 1, 0} << IntList{0, 1, 0, 0, 1} << IntList{0, 1, 1, 0, 1};
        QTest::newRow("inverted: rising raw bit is no edge")
            << 1 << IntList{0, 1} << IntList{0, 0} << IntList{1, 0};
    }
    void inputEdges()
    {
        QFETCH(int, invert);
        QFETCH(IntList, raw);
        QFETCH(IntList, edges);
        QFETCH(IntList, levels);
        m_param.inputInvert[0] = invert;
        m_param.machineType = 1;
        makePort();
        for (int i = 0; i < raw.size(); ++i) {
            setBoardInputs(quint32(raw[i]));
            QCOMPARE(m_port->checkInput(0), edges[i]);
            QCOMPARE(m_port->getIO(0, 0), levels[i]);
        }
    }

    // The board's word changes several times between two reads of the cycle (a stalled GUI thread);
    // what the second read reports. The first frame only sets the levels.
    void entriesBetweenTwoReads_data()
    {
        QTest::addColumn<int>("invert"); // inputInvert of `index`
        QTest::addColumn<int>("input4Use");
        QTest::addColumn<int>("index");
        QTest::addColumn<IntList>("frames"); // board words, 100 ms apart
        QTest::addColumn<int>("reported");
        QTest::addColumn<int>("entries");
        QTest::addColumn<int>("entryMs"); // stamp the read gives the entry
        QTest::newRow("0 -> 1 -> 0: the entry is reported")
            << 0 << 0 << 0 << IntList{0, 1, 0} << 1 << 1 << 100;
        QTest::newRow("two pulses: one report, stamped with the last")
            << 0 << 0 << 0 << IntList{0, 1, 0, 1, 0} << 1 << 2 << 300;
        QTest::newRow("still open after a pulse: reported")
            << 0 << 0 << 0 << IntList{0, 1, 0, 1} << 1 << 2 << 300;
        QTest::newRow("active low: 1 -> 0 -> 1 is an entry")
            << 1 << 0 << 0 << IntList{1, 0, 1} << 1 << 1 << 100;
        QTest::newRow("active low: leaving and re-entering is an entry")
            << 1 << 0 << 0 << IntList{0, 1, 0} << 1 << 1 << 200;
        QTest::newRow("input 3 standing in for input 0: its pulse is input 0's")
            << 0 << 1 << 0 << IntList{0, 8, 0} << 1 << 1 << 100;
        QTest::newRow("input 3 standing in for input 0: bit 0 is no longer input 0")
            << 0 << 1 << 0 << IntList{0, 1, 0} << 0 << 0 << 0;
        QTest::newRow("input 3 standing in for input 1: input 3 keeps its own")
            << 0 << 2 << 3 << IntList{0, 8, 0} << 1 << 1 << 100;
        QTest::newRow("a pulse of another input is not this one's")
            << 0 << 0 << 0 << IntList{0, 4, 0} << 0 << 0 << 0;
    }
    void entriesBetweenTwoReads()
    {
        QFETCH(int, invert);
        QFETCH(int, input4Use);
        QFETCH(int, index);
        QFETCH(IntList, frames);
        QFETCH(int, reported);
        QFETCH(int, entries);
        QFETCH(int, entryMs);
        m_param.inputInvert[index] = invert;
        m_param.input4Use = input4Use;
        m_param.machineType = 1;
        makePort();
        boardFrame(quint32(frames[0]), 1);
        QCOMPARE(m_port->checkInput(index), 0);
        for (int i = 1; i < frames.size(); ++i)
            boardFrame(quint32(frames[i]), 100 * i);
        QCOMPARE(m_port->inputEntries().entries[index], quint32(entries));
        QCOMPARE(m_port->checkInput(index), reported);
        if (reported)
            QCOMPARE(m_port->inputChangedMs(index), qint64(entryMs));
        QCOMPARE(m_port->checkInput(index), 0); // once
    }

    // The start decision's view: nothing before the first frame (the zero word is no level), then the
    // levels as the cycle reads them, and entries it has taken are not reported again.
    void entriesTakenByTheStart()
    {
        m_param.inputInvert[2] = 1;
        m_param.input4Use = 2; // input 3 stands in for input 1
        m_param.machineType = 1;
        makePort();
        InputEntrySnapshot s = m_port->inputEntries();
        QVERIFY(!s.firstFrameSeen);
        QCOMPARE(s.activeWord, 0u); // inverted input 2 on the zero word: no level yet
        boardFrame(0x009, 7);       // input 0 idles high: no entry
        s = m_port->inputEntries();
        QVERIFY(s.firstFrameSeen);
        QCOMPARE(s.activeWord, 0x00Fu); // 0 and 3 high, 1 from input 3, 2 active low
        QCOMPARE(s.entries[0], 0u);
        QCOMPARE(s.lastEntryMs[0], 0);

        boardFrame(0x008, 20);
        boardFrame(0x009, 30); // input 0 re-entered
        boardFrame(0x00D, 40); // input 2 left its active state
        s = m_port->inputEntries();
        QCOMPARE(s.activeWord, 0x00Bu);
        QCOMPARE(s.entries[0], 1u);
        QCOMPARE(s.lastEntryMs[0], 30);
        QCOMPARE(s.entries[2], 0u);
        m_port->markEntriesRead(0);
        QCOMPARE(m_port->checkInput(0), 0);              // neither the entry nor the level now
        QCOMPARE(m_port->inputEntries().entries[0], 1u); // the count itself goes on
        boardFrame(0x008, 50);
        boardFrame(0x009, 60);
        QCOMPARE(m_port->checkInput(0), 1);
        QCOMPARE(m_port->inputChangedMs(0), 60);
    }

    // Each input has its own memory: asking about one input does not take another's edge.
    void edgesAreKeptPerInput()
    {
        m_param.machineType = 1;
        makePort();
        setBoardInputs(0x005);
        QCOMPARE(m_port->checkInput(0), 1);
        QCOMPARE(m_port->checkInput(0), 0);
        QCOMPARE(m_port->checkInput(2), 1);
        QCOMPARE(m_port->checkInput(9), 0);
        setBoardInputs(0x205);
        QCOMPARE(m_port->checkInput(9), 1);
    }

    // Inputs 8 and 9 have no inversion setting: the words stored after the eight settings (a reserved
    // word and output 0's idle level) must not invert them.
    void inputsEightAndNineAreNeverInverted()
    {
        m_param.reserved91 = 1;
        m_param.outputInit[0] = 1;
        m_param.machineType = 1;
        makePort();
        setBoardInputs(0x300);
        QCOMPARE(m_port->checkInput(8), 1);
        QCOMPARE(m_port->checkInput(9), 1);
        QCOMPARE(m_port->getIO(0, 8), 1);
        QCOMPARE(m_port->getIO(0, 9), 1);
    }

    void indicesOutsideTheWordDoNothing()
    {
        makePort();
        setBoardInputs(0x3FF);
        m_port->pendingOutputs = 0xFFFF;
        for (int index : {-1, 16, 17, 32, 100, -1000}) {
            QCOMPARE(m_port->checkInput(index), 0);
            QCOMPARE(m_port->getIO(0, index), 0);
            QCOMPARE(m_port->getIO(1, index), 0);
        }
        QCOMPARE(m_port->inputWord, 0u); // the word was not even read
        QVERIFY(!gSafetyDoorOpened);
    }

    // Opening the safety door: input 1's active level drops from 1 to 0 between two calls.
    void safetyDoor_data()
    {
        QTest::addColumn<int>("machineType");
        QTest::addColumn<int>("invert");
        QTest::addColumn<int>("closedWord"); // board word with the door closed
        QTest::addColumn<int>("openWord");
        QTest::addColumn<bool>("rule");
        QTest::newRow("standard machine") << 0 << 0 << 0x002 << 0x000 << true;
        QTest::newRow("standard machine, inverted door input") << 0 << 1 << 0x000 << 0x002 << true;
        QTest::newRow("unknown machine type counts as standard") << 5 << 0 << 0x002 << 0x000 << true;
        QTest::newRow("two-colour machine: no rule") << 1 << 0 << 0x002 << 0x000 << false;
        QTest::newRow("turntable: no rule") << 2 << 0 << 0x002 << 0x000 << false;
    }
    void safetyDoor()
    {
        QFETCH(int, machineType);
        QFETCH(int, invert);
        QFETCH(int, closedWord);
        QFETCH(int, openWord);
        QFETCH(bool, rule);
        m_param.machineType = machineType;
        m_param.inputInvert[1] = invert;
        makePort();
        setBoardInputs(quint32(closedWord));
        m_port->checkInput(1);
        m_port->setOutput(2, 1); // alarm on
        m_port->flushOutputs();
        QCOMPARE(wantedOutputs(), 0x004u);
        QSignalSpy spy(m_port.get(), &ControlPort::sigIOChange);
        QVERIFY(!gSafetyDoorOpened);

        setBoardInputs(quint32(openWord));
        m_port->checkInput(0); // any input: the rule looks at input 1's memory
        QCOMPARE(gSafetyDoorOpened, rule);
        QCOMPARE(wantedOutputs(), rule ? 0x000u : 0x004u);
        QCOMPARE(spy.count(), rule ? 1 : 0);

        // Until input 1 itself is read again, every call sees the door opening; nothing new to send.
        gSafetyDoorOpened = false;
        m_port->checkInput(3);
        QCOMPARE(gSafetyDoorOpened, rule);
        QCOMPARE(spy.count(), rule ? 1 : 0);
        m_port->checkInput(1);
        gSafetyDoorOpened = false;
        m_port->checkInput(3);
        QVERIFY(!gSafetyDoorOpened);
    }

    // The rule looks at the raw bit 2, as the board drives it: with the alarm idling closed, an alarm
    // that is on has its bit clear and stays as it is; the door is still reported.
    void safetyDoorWithAlarmIdlingClosed()
    {
        m_param.outputInit[2] = 1;
        makePort();
        setBoardInputs(0x002);
        m_port->checkInput(1);
        m_port->setOutput(2, 1);
        m_port->flushOutputs();
        QCOMPARE(wantedOutputs(), 0x000u);
        setBoardInputs(0x000);
        m_port->checkInput(1);
        QVERIFY(gSafetyDoorOpened);
        QCOMPARE(wantedOutputs(), 0x000u);
    }
};

QTEST_GUILESS_MAIN(TestControlPort)
#include "tst_controlport.moc"

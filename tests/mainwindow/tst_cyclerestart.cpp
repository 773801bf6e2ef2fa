// The cycle's side of a stop of the box, against fake camera views and the real output word of the
// board link: the alarm output of a latching NG waits for the latch on disk, the mark of a detection
// under way is on disk before the clamp-blocked word and goes once the mould is judged, a start after
// a stop judges the mould the stop cut short before the clamp may close, and restored factory
// parameters hold the clamp until the operator starts detection or re-learns.

#include "clock.h"
#include "controlport.h"
#include "detectionmark.h"
#include "editorhooks.h"
#include "iolink.h"
#include "machinecycle.h"
#include "mutexlocker.h"
#include "startup.h"
#include "sysparam.h"
#include "testfiles.h"
#include "testworkdir.h"
#include "uitexttable.h"

#include <QFile>
#include <QtTest>
#include <limits>
#include <memory>

namespace {

// The whole output word the last flush handed to the board's poll thread. Every output idles open in
// these cases, so a bit is the logical value: 0x001 clamp not allowed, 0x004 alarm.
quint32 boardWord()
{
    MutexLocker lock(gIoMutex);
    return gIoOutputWord;
}

struct Fakes
{
    bool ng = false;          // the verdict of every judgement
    bool pass = true;         // the camera's all-pass flag
    bool delivering = true;   // the camera has a new picture at every pass
    bool latchWritten = true; // the latch file reaches the disk
    int judgements = 0;
    QList<quint32> wordsAtLatch;
    QStringList marks; // "set <slot> <side> @<word>" or "clear @<word>", the word the board had then
    QStringList records;
    QStringList warnings;
    int markerRemoved = 0;
    int latchRemoved = 0;
};

CycleHooks hooksOf(Fakes *f)
{
    CycleHooks h;
    h.cameraCount = 1;
    h.cameraConnected = [](int) { return true; };
    h.cameraOpen = [](int) { return true; };
    h.grabFrame = [f](int) { return f->delivering; };
    // A delivering camera's newest picture has just come; one that stopped has none since the start.
    h.frameTakenMs = [f](int) { return f->delivering ? appMonotonicMs() : qint64(-1); };
    h.frameAgeMs = [f](int) { return f->delivering ? qint64(0) : std::numeric_limits<qint64>::max(); };
    h.judgeCameras = [f](const QVector<int> &cameras, int) {
        ++f->judgements;
        f->pass = !f->ng;
        return QVector<TemperatureOutcome>(cameras.size());
    };
    h.allPass = [f](int) { return f->pass; };
    h.setAllPass = [f](int, bool pass) { f->pass = pass; };
    h.resetResults = [f](int) { f->pass = true; };
    h.InsertRecord = [f](const QString &line) { f->records << line; };
    h.showWarning = [f](const QString &text, bool) { f->warnings << text; };
    h.askYesNo = [](const QString &) { return true; };
    h.authorizeStop = [] { return true; };
    h.userLevel = [] { return 2; };
    h.saveLatchedAlarm = [f](const QVector<int> &) {
        f->wordsAtLatch << boardWord();
        return f->latchWritten;
    };
    h.removeLatchedAlarm = [f] { ++f->latchRemoved; };
    h.markDetection = [f](int slot, int side) {
        f->marks << QStringLiteral("set %1 %2 @%3").arg(slot).arg(side).arg(boardWord());
    };
    h.clearDetectionMark = [f] { f->marks << QStringLiteral("clear @%1").arg(boardWord()); };
    h.removeParamRestoredMarker = [f] { ++f->markerRemoved; };
    return h;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void setInputs(quint32 word)
{
    MutexLocker lock(gIoMutex);
    gIoInputWord = word;
}

} // namespace

class TestCycleRestart : public QObject
{
    Q_OBJECT
    SysParam param;

    // The standard machine, mould slot only, no delay, no debounce, `reMoldTimes` re-detections; the
    // board link's word cleared.
    void standardMachine(int reMoldTimes)
    {
        param = SysParam();
        param.machineType = 0;
        param.enableProdDetect = 0;
        param.slotEnabled[1] = 1;
        param.slotTrigInput[0] = param.slotTrigInput[1] = 0;
        param.reMoldTimes = reMoldTimes;
        gSysParam = &param;
        gDetectSlotCount = 2;
        gSlotDelaySum = 0;
        gTemperatureAlarm = false;
        gAreaCheckActive = false;
        gRetrainDone = false;
        setInputs(0);
        delete gControlPort;
        gControlPort = new ControlPort;
        gControlPort->clearOutputs();
        gControlPort->flushOutputs();
        for (int i = 0; i < 8; ++i)
            gControlPort->checkInput(i);
    }
    static void openMould(MachineCycle &cycle)
    {
        setInputs(1);
        cycle.Run();
        setInputs(0);
    }

private slots:
    void initTestCase()
    {
        fillUiTextTable();
        if (!gIoMutex)
            createProcessMutexes();
        setIoPortPattern(QDir::temp().filePath(QStringLiteral("no-board-%1")));
    }
    void cleanupTestCase()
    {
        delete gControlPort;
        gControlPort = nullptr;
        gSysParam = nullptr;
    }

    // One opening judged: the mark is set while the board still has the word before the opening, and
    // cleared once the clamp is released or the latch is on disk; the alarm output of a latching NG
    // leaves only after the latch was written (or failed to be), never before.
    void latchAndMarkAroundAnOpening_data()
    {
        QTest::addColumn<int>("reMoldTimes");
        QTest::addColumn<bool>("ng");
        QTest::addColumn<bool>("latchWritten");
        QTest::addColumn<QStringList>("marks");
        QTest::addColumn<QList<quint32>>("wordsAtLatch");
        QTest::addColumn<quint32>("word");
        QTest::newRow("good mould") << 0 << false << true << QStringList{"set 1 1 @0", "clear @0"}
                                    << QList<quint32>{} << 0x000u;
        QTest::newRow("NG, latch on disk") << 0 << true << true << QStringList{"set 1 1 @0", "clear @5"}
                                           << QList<quint32>{0x001u} << 0x005u;
        QTest::newRow("NG, latch not written: the mark stays")
            << 0 << true << false << QStringList{"set 1 1 @0"} << QList<quint32>{0x001u} << 0x005u;
        QTest::newRow("NG twice with one re-detection")
            << 1 << true << true << QStringList{"set 1 1 @0", "set 1 1 @1", "clear @5"}
            << QList<quint32>{0x001u} << 0x005u;
    }
    void latchAndMarkAroundAnOpening()
    {
        QFETCH(int, reMoldTimes);
        QFETCH(bool, ng);
        QFETCH(bool, latchWritten);
        QFETCH(QStringList, marks);
        QFETCH(QList<quint32>, wordsAtLatch);
        QFETCH(quint32, word);
        standardMachine(reMoldTimes);
        Fakes f;
        f.ng = ng;
        f.latchWritten = latchWritten;
        CycleWindowState state;
        state.manualTrigSlot = gDetectSlotCount;
        state.moldSide = 1;
        MachineCycle cycle(&state, hooksOf(&f));
        cycle.StartDetect();
        QCOMPARE(boardWord(), 0x000u);
        openMould(cycle);
        for (int n = 0; n < reMoldTimes; ++n)
            cycle.Run();
        QCOMPARE(f.judgements, 1 + (ng ? reMoldTimes : 0));
        QCOMPARE(f.marks, marks);
        QCOMPARE(f.wordsAtLatch, wordsAtLatch);
        QCOMPARE(boardWord(), word);
        QCOMPARE(state.alarmState == 2, ng);
    }

    // A start that found a detection cut short: StartDetect's word keeps the clamp blocked; nothing is
    // judged until the camera has delivered after the start; then the mould is judged as an opening's
    // detection would: OK releases it (and ends the mark), NG latches the alarm, the clamp never free.
    void interruptedDetectionAtStart_data()
    {
        QTest::addColumn<bool>("ng");
        QTest::addColumn<quint32>("word");
        QTest::newRow("good mould: released once judged") << false << 0x000u;
        QTest::newRow("piece in the mould: latched") << true << 0x005u;
    }
    void interruptedDetectionAtStart()
    {
        QFETCH(bool, ng);
        QFETCH(quint32, word);
        qint64 now = 1000000;
        setAppMonotonicClock([&now] { return now; });
        const std::shared_ptr<void> restoreClock(nullptr, [](void *) { setAppMonotonicClock({}); });
        standardMachine(0);
        gControlPort->setOutput(OutClose, 1);
        gControlPort->flushOutputs();
        Fakes f;
        f.ng = ng;
        f.delivering = false;
        CycleWindowState state;
        state.manualTrigSlot = gDetectSlotCount;
        MachineCycle cycle(&state, hooksOf(&f));
        cycle.resumeInterruptedDetection(1, 1);
        QCOMPARE(boardWord(), 0x001u);
        QCOMPARE(state.runState, 1);
        QCOMPARE(f.records.count(uiText(761)), 1);
        cycle.Run();
        cycle.Run();
        QCOMPARE(f.judgements, 0);
        QCOMPARE(boardWord(), 0x001u);
        // The camera delivers again, a second after the start: its picture shows the mould as it is.
        now += 1000;
        f.delivering = true;
        cycle.Run();
        QCOMPARE(f.judgements, 1);
        QCOMPARE(boardWord(), word);
        QCOMPARE(state.alarmState == 2, ng);
        QCOMPARE(cycle.interruptedHold, ng);
        QCOMPARE(f.marks.last(), QStringLiteral("clear @%1").arg(word));
        cycle.Run();
        QCOMPARE(f.judgements, 1);
        QCOMPARE(f.records.count(uiText(761)), 1);
    }

    // Restored factory parameters: detection stopped, the clamp held whatever a re-check or a start
    // of detection by the cycle itself asks, the notice shown once; the operator's start (or
    // re-learning) ends it, with the marker and a latch from before the restore.
    void restoredParametersHold_data()
    {
        QTest::addColumn<bool>("relearn");
        QTest::newRow("operator starts detection") << false;
        QTest::newRow("operator re-learns") << true;
    }
    void restoredParametersHold()
    {
        QFETCH(bool, relearn);
        standardMachine(0);
        Fakes f;
        CycleWindowState state;
        state.manualTrigSlot = gDetectSlotCount;
        MachineCycle cycle(&state, hooksOf(&f));
        cycle.holdRestoredParameters();
        QCOMPARE(state.runState, 3);
        QCOMPARE(boardWord(), 0x001u);
        QCOMPARE(f.records, QStringList{uiText(760).simplified()});
        cycle.Run();
        cycle.Run();
        QCOMPARE(f.warnings, QStringList{uiText(760)});
        // The editor's OK re-check and a start of detection by the cycle itself release nothing.
        cycle.CheckNG();
        QCOMPARE(boardWord(), 0x001u);
        cycle.StartDetect();
        QCOMPARE(boardWord(), 0x001u);
        cycle.SetStopDetect();
        QCOMPARE(f.markerRemoved, 0);
        if (relearn)
            cycle.SlotReTrain();
        else
            cycle.SlotStartStop();
        QCOMPARE(boardWord(), 0x000u);
        QCOMPARE(state.runState, relearn ? 2 : 1);
        QCOMPARE(f.markerRemoved, 1);
        QCOMPARE(f.latchRemoved, 1);
        QVERIFY(!cycle.paramRestoredHold);
    }

    // The mark file: made as "none" at the first start, rewritten in place with the same 16 bytes, read
    // back by the next start; a record that cannot be read counts as no mark and is made again.
    void markFile_data()
    {
        QTest::addColumn<QByteArray>("left"); // what the last run left; empty: no file
        QTest::addColumn<int>("slot");
        QTest::addColumn<int>("side");
        QTest::newRow("no file") << QByteArray() << -1 << 1;
        QTest::newRow("none") << detectionMarkText(DetectionMark()) << -1 << 1;
        QTest::newRow("mould slot, left") << QByteArray("slot 1 side 1  \n") << 1 << 1;
        QTest::newRow("right mould of a two-colour machine") << QByteArray("slot 3 side 0  \n") << 3 << 0;
        QTest::newRow("slot 8") << QByteArray("slot 8 side 0  \n") << -1 << 1;
        QTest::newRow("cut short") << QByteArray("slot 1 si") << -1 << 1;
        QTest::newRow("zeros of a power cut") << QByteArray(16, '\0') << -1 << 1;
    }
    void markFile()
    {
        QFETCH(QByteArray, left);
        QFETCH(int, slot);
        QFETCH(int, side);
        TestWorkDir dir;
        if (!left.isEmpty())
            QVERIFY(writeTestFile(detectionMarkPath(), left));
        {
            DetectionMarkFile file;
            const DetectionMark mark = file.open();
            QCOMPARE(mark.slot, slot);
            QCOMPARE(mark.moldSide, side);
            QCOMPARE(QFileInfo(detectionMarkPath()).size(), qint64(16));
            file.set(2, 0);
            QCOMPARE(readAll(detectionMarkPath()), QByteArray("slot 2 side 0  \n"));
        }
        DetectionMarkFile again;
        QCOMPARE(again.open().slot, 2);
        again.clear();
        QCOMPARE(readAll(detectionMarkPath()), QByteArray("none           \n"));
        QCOMPARE(DetectionMarkFile().open().slot, -1);
    }
};

QTEST_GUILESS_MAIN(TestCycleRestart)
#include "tst_cyclerestart.moc"

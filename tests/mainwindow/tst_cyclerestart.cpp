// The cycle's side of a stop of the box, against fake camera views and the real output word of the
// board link: the alarm output of a latching NG waits for the latch on disk, the mark of a detection
// under way is on disk before the clamp-blocked word and goes once the mould is judged, a start after
// a stop judges the mould the stop cut short before the clamp may close (or one that opened while the
// box started, or the chain a damaged mark stands for), and restored factory parameters hold the clamp
// until the operator starts detection or re-learns.

#include "cyclefixture.h"
#include "cyclestartmarkhook.h"
#include "detectionmark.h"
#include "inputentrywatch.h"
#include "startdecision.h"
#include "testfiles.h"
#include "testworkdir.h"

#include <QtTest>
#include <limits>
#include <csignal>
#include <sys/resource.h>

// What a start after a stop is tried on: the box's clock frozen, the standard machine judging the
// mould alone and a cycle that records what a stop would find, made only once the machine is set (the
// cycle takes its slot count). A case may change parameters before the start.
struct RestartCase
{
    explicit RestartCase(SysParam &param) : machine(param) {}

    // The start finding the mould detection of side 1 cut short, the camera delivering nothing yet.
    void startCutShort(const QList<bool> &scriptedNg = {})
    {
        world.scriptedNg = scriptedNg;
        world.delivering = false;
        cycle.resumeInterruptedDetection(1, 1);
    }

    FrozenClock clock;
    struct Machine
    {
        explicit Machine(SysParam &param) { mouldOnlyMachine(param); }
    } machine;
    FakeCycle cycle{1, true};
    CycleWorld &world = cycle.world;
};

class TestCycleRestart : public QObject
{
    Q_OBJECT
    SysParam param;

    // The standard machine, mould slot only, no delay, no debounce, `reMoldTimes` re-detections; the
    // board link's word cleared.
    void standardMachine(int reMoldTimes)
    {
        mouldOnlyMachine(param);
        param.reMoldTimes = reMoldTimes;
    }

private slots:
    void initTestCase() { initCycleTests(); }
    void cleanupTestCase() { cleanupCycleTests(); }

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
        FakeCycle cycle(1, true);
        CycleWorld &world = cycle.world;
        world.scriptedNg = QVector<bool>(1 + reMoldTimes, ng).toList();
        world.latchWritten = latchWritten;
        cycle.state.moldSide = 1;
        cycle.StartDetect();
        QCOMPARE(boardWord(), 0x000u);
        pulseInput(cycle, 0);
        for (int n = 0; n < reMoldTimes; ++n)
            cycle.Run();
        QCOMPARE(world.judgements, 1 + (ng ? reMoldTimes : 0));
        QCOMPARE(world.marks, marks);
        QCOMPARE(world.wordsAtLatch, wordsAtLatch);
        QCOMPARE(boardWord(), word);
        QCOMPARE(cycle.state.alarmState == 2, ng);
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
        RestartCase restart(param);
        FakeCycle &cycle = restart.cycle;
        CycleWorld &world = restart.world;
        gControlPort->setOutput(OutClose, 1);
        gControlPort->flushOutputs();
        restart.startCutShort({ng});
        QCOMPARE(boardWord(), 0x001u);
        QCOMPARE(cycle.state.runState, 1);
        QCOMPARE(world.records.count(uiText(761)), 1);
        cycle.Run();
        cycle.Run();
        QCOMPARE(world.judgements, 0);
        QCOMPARE(boardWord(), 0x001u);
        // The camera delivers again, a second after the start: its picture shows the mould as it is.
        restart.clock.now += 1000;
        world.delivering = true;
        cycle.Run();
        QCOMPARE(world.judgements, 1);
        QCOMPARE(boardWord(), word);
        QCOMPARE(cycle.state.alarmState == 2, ng);
        QCOMPARE(cycle.interruptedHold, ng);
        QCOMPARE(world.marks.last(), QStringLiteral("clear @%1").arg(word));
        cycle.Run();
        QCOMPARE(world.judgements, 1);
        QCOMPARE(world.records.count(uiText(761)), 1);
    }

    // In the OK and NG output pulses mode output 0 is half of the NG pulse, not the interlock: a start
    // that found a detection cut short judges it without holding output 0; the verdict is its pulse
    // (NG: outputs 0 and 2; OK: output 1), and the mark goes with it.
    void interruptedDetectionInPulseMode_data()
    {
        QTest::addColumn<bool>("ng");
        QTest::addColumn<quint32>("word");
        QTest::newRow("good mould: OK pulse") << false << 0x002u;
        QTest::newRow("piece in the mould: NG pulse") << true << 0x005u;
    }
    void interruptedDetectionInPulseMode()
    {
        QFETCH(bool, ng);
        QFETCH(quint32, word);
        RestartCase restart(param);
        FakeCycle &cycle = restart.cycle;
        CycleWorld &world = restart.world;
        param.okNgPulse = 1;
        restart.startCutShort({ng});
        cycle.Run();
        QCOMPARE(world.judgements, 0);
        QCOMPARE(boardWord(), 0x000u);
        restart.clock.now += 1000;
        world.delivering = true;
        cycle.Run();
        QCOMPARE(world.judgements, 1);
        QCOMPARE(boardWord(), word);
        QCOMPARE(world.marks.last(), QStringLiteral("clear @%1").arg(word));
        QCOMPARE(world.records.count(uiText(761)), 1);
    }

    // The same with "Use External Trigger": the cameras take a picture per trigger only, so the start
    // finds none and says at once, once, that the mould is not judged, the clamp held. The next
    // trigger's pictures judge the cycle the stop cut short, the product (when still pending) and
    // the mould on the same pictures, as a live cycle does, each once; they start no cycle of their
    // own. An NG is re-detected and latches.
    void interruptedDetectionWithTriggeredCameras_data()
    {
        QTest::addColumn<bool>("product"); // product inspection on, the product slot still pending
        QTest::addColumn<bool>("ng");
        QTest::addColumn<QList<int>>("judgedSlots");
        QTest::addColumn<quint32>("word");
        QTest::newRow("mould pending, good") << false << false << QList<int>{1} << 0x000u;
        QTest::newRow("product pending, good") << true << false << QList<int>{0, 1} << 0x000u;
        QTest::newRow("mould pending, piece in the mould: re-detected, latched")
            << false << true << QList<int>{1, 1} << 0x005u;
    }
    void interruptedDetectionWithTriggeredCameras()
    {
        QFETCH(bool, product);
        QFETCH(bool, ng);
        QFETCH(QList<int>, judgedSlots);
        QFETCH(quint32, word);
        FrozenClock clock;
        if (product)
            ::standardMachine(param);
        else
            mouldOnlyMachine(param);
        param.reMoldTimes = 1;
        param.useExtTrigger = 1;
        gExtTriggerFrames = 0;
        gControlPort->setOutput(OutClose, 1);
        gControlPort->flushOutputs();
        FakeCycle cycle(2, true);
        CycleWorld &world = cycle.world;
        world.scriptedNg = {ng, ng};
        world.delivering = false;
        cycle.resumeInterruptedDetection(product ? 0 : 1, 1);
        cycle.Run();
        cycle.Run();
        QCOMPARE(world.judgements, 0);
        QCOMPARE(boardWord(), 0x001u);
        QCOMPARE(world.records, (QStringList{uiText(761), uiText(39)}));
        QCOMPARE(world.warnings, QStringList{uiText(39)});
        // The trigger, a second later: one picture of each camera.
        clock.now += 1000;
        world.delivering = true;
        cycle.Run();
        world.delivering = false;
        for (int pass = 0; pass < 4; ++pass)
            cycle.Run();
        QCOMPARE(world.judgedSlots, judgedSlots);
        QCOMPARE(boardWord(), word);
        QCOMPARE(cycle.state.alarmState == 2, ng);
        QCOMPARE(world.records.count(uiText(39)), 1);
        QCOMPARE(world.records.count(uiText(761)), 1);
        gExtTriggerFrames = 0;
    }

    // A picture received within a frame period of the start may show the mould as it was before it,
    // and is no picture of the mould after the start: with one such picture and then none for longer
    // than the stale limit, the detection cut short still waits, the clamp held and nothing said. When
    // the pictures come again the mould is judged once and its OK releases the clamp.
    void pictureWithinAFramePeriodOfTheRestart()
    {
        RestartCase restart(param);
        FakeCycle &cycle = restart.cycle;
        CycleWorld &world = restart.world;
        param.frameSpeed = 12;
        // The picture ages from when it was received.
        cycle.hooks.frameAgeMs = [&world](int) {
            return world.takenMs < 0 ? std::numeric_limits<qint64>::max() : appMonotonicMs() - world.takenMs;
        };
        restart.startCutShort();
        restart.clock.now += 10;
        world.delivering = true;
        cycle.Run();
        world.delivering = false;
        for (int pass = 0; pass < 10; ++pass) {
            restart.clock.now += 100;
            cycle.Run();
            if (cycle.upTimers[1]->isActive())
                cycle.TimerUp(1); // the step of a detection waiting for its picture
        }
        QCOMPARE(world.judgements, 0);
        QCOMPARE(boardWord(), 0x001u);
        QCOMPARE(world.records, QStringList{uiText(761)});
        restart.clock.now += 1000;
        world.delivering = true;
        cycle.Run();
        QCOMPARE(world.judgements, 1);
        QCOMPARE(boardWord(), 0x000u);
        QCOMPARE(world.marks.last(), QStringLiteral("clear @0"));
        QCOMPARE(world.records, QStringList{uiText(761)});
    }

    // The hold of a detection cut short ends with its mould: in the OK/NG pulse mode output 0 is half
    // of the NG pulse and nothing holds it, and a mould judged OK gets the OK pulse (output 1 alone);
    // given up by the operator's stop and start, detection starts with the clamp free. Either way the
    // mark goes.
    void interruptedHoldEndsWithItsMould_data()
    {
        QTest::addColumn<bool>("okNgPulse");
        QTest::addColumn<quint32>("word");
        QTest::newRow("OK/NG pulse mode, good mould: the OK pulse") << true << 0x002u;
        QTest::newRow("given up by the operator's stop and start") << false << 0x000u;
    }
    void interruptedHoldEndsWithItsMould()
    {
        QFETCH(bool, okNgPulse);
        QFETCH(quint32, word);
        RestartCase restart(param);
        FakeCycle &cycle = restart.cycle;
        CycleWorld &world = restart.world;
        param.okNgPulse = okNgPulse ? 1 : 0;
        restart.startCutShort();
        QCOMPARE(boardWord(), okNgPulse ? 0x000u : 0x001u);
        if (okNgPulse) {
            restart.clock.now += 1000;
            world.delivering = true;
            cycle.Run();
            QCOMPARE(world.judgements, 1);
        } else {
            cycle.SlotStartStop();
            QCOMPARE(cycle.state.runState, 3);
            cycle.SlotStartStop();
            QCOMPARE(cycle.state.runState, 1);
            QCOMPARE(world.judgements, 0);
        }
        QCOMPARE(boardWord(), word);
        QVERIFY(world.marks.last().startsWith(QLatin1String("clear")));
        cycle.Run();
        QCOMPARE(boardWord(), word);
    }

    // The mark on disk names the slot still to be judged, on the mould side being judged, before any
    // word that blocks the clamp for it: at the cycle start (the product first), when the product is
    // judged and the mould is still to come, at an input that re-arms the mould (the two-colour
    // machine's right mould, the semi-automatic mould) and before the safety door's detection. Each
    // state once, with the board's word when it was set; cleared when the mould is judged OK.
    void markBeforeEveryBlockingWord_data()
    {
        QTest::addColumn<int>("machineType");
        QTest::addColumn<bool>("product");
        QTest::addColumn<bool>("semiAuto");
        QTest::addColumn<bool>("door");
        QTest::addColumn<QList<int>>("inputs");
        QTest::addColumn<QStringList>("states");
        QTest::newRow("product judged, the mould still counting down")
            << 0 << true << false << false << QList<int>{0}
            << QStringList{"set 0 1 @0", "set 1 1 @1", "clear @0"};
        QTest::newRow("two-colour machine, right mould re-armed by input 3")
            << 1 << false << false << false << QList<int>{0, 3}
            << QStringList{"set 1 1 @0", "set 3 0 @1", "clear @0"};
        QTest::newRow("semi-automatic mould re-armed by input 2")
            << 0 << false << true << false << QList<int>{0, 2} << QStringList{"set 1 1 @0", "clear @0"};
        QTest::newRow("safety door, its picture after the signal")
            << 0 << false << false << true << QList<int>{1} << QStringList{"set 1 1 @0", "clear @0"};
    }
    void markBeforeEveryBlockingWord()
    {
        QFETCH(int, machineType);
        QFETCH(bool, product);
        QFETCH(bool, semiAuto);
        QFETCH(bool, door);
        QFETCH(QList<int>, inputs);
        ::standardMachine(param, 0, 0, product ? 10 : 0);
        if (!product) {
            param.slotEnabled[0] = 0;
            param.enableProdDetect = 0;
        }
        param.semiAuto = semiAuto ? 1 : 0;
        if (semiAuto)
            param.slotTrigInput[1] = 2;
        param.safetyDoorTrigger = door ? 1 : 0;
        if (machineType == 1) {
            param.machineType = 1;
            param.detectMold = 2;
            param.slotEnabled[1] = param.slotEnabled[3] = 1;
            param.slotTrigInput[1] = 255;
            gDetectSlotCount = 4;
        }
        FakeCycle cycle(1, true);
        CycleWorld &world = cycle.world;
        cycle.state.moldSide = 1;
        cycle.StartDetect();
        world.delivering = !door;
        for (int input : inputs) {
            pulseInput(cycle, input);
            world.delivering = true;
            // Countdowns and waits run out, each step in a pass of its own.
            for (int k = 0; k < 2; ++k) {
                if (!cycle.upTimers[k]->isActive())
                    continue;
                cycle.Run();
                cycle.slotCountdown[k] = 0;
                cycle.TimerUp(k);
            }
        }
        QCOMPARE(world.judgements, product ? 2 : 1);
        QCOMPARE(boardWord(), 0x000u);
        // What the file held, each state once: a mark set again to what it holds changes nothing.
        QStringList states;
        for (const QString &mark : qAsConst(world.marks)) {
            if (states.isEmpty() || states.last().section('@', 0, 0) != mark.section('@', 0, 0))
                states << mark;
        }
        QTEST(states, "states");
    }

    // Every slot a mark can name, on either side, reads back as it was written.
    void markRecordRoundTrip()
    {
        for (int slot = -1; slot < 8; ++slot) {
            for (int side = 0; side < 2; ++side) {
                const DetectionMark written{slot, slot < 0 ? 1 : side};
                const QByteArray text = detectionMarkText(written);
                QCOMPARE(text.size(), 16);
                DetectionMark read{5, 0};
                QVERIFY2(parseDetectionMark(text, &read), text.constData());
                QCOMPARE(read.slot, written.slot);
                QCOMPARE(read.moldSide, written.moldSide);
            }
        }
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
        FakeCycle cycle(1, true);
        CycleWorld &world = cycle.world;
        cycle.holdRestoredParameters();
        QCOMPARE(cycle.state.runState, 3);
        QCOMPARE(boardWord(), 0x001u);
        QCOMPARE(world.records, QStringList{uiText(760).simplified()});
        cycle.Run();
        cycle.Run();
        QCOMPARE(world.warnings, QStringList{uiText(760)});
        // The editor's OK re-check and a start of detection by the cycle itself release nothing.
        cycle.CheckNG();
        QCOMPARE(boardWord(), 0x001u);
        cycle.StartDetect();
        QCOMPARE(boardWord(), 0x001u);
        cycle.SetStopDetect();
        QCOMPARE(world.markerRemoved, 0);
        if (relearn)
            cycle.SlotReTrain();
        else
            cycle.SlotStartStop();
        QCOMPARE(boardWord(), 0x000u);
        QCOMPARE(cycle.state.runState, relearn ? 2 : 1);
        QCOMPARE(world.markerRemoved, 1);
        QCOMPARE(world.latchRemoved, 1);
        QVERIFY(!cycle.paramRestoredHold);
    }

    // What a start takes as cut short, from the mark left and the inputs' entries since the board
    // link's first status frame: a damaged mark or one naming a slot the box does not have is the
    // chain a cycle start marks (the product slot first when enabled) on the side in force; an
    // opening while the box started (input 0, or 0 / 3 on the turntable as detectMold allows, or the
    // safety door with its trigger set) is the chain its cycle start marks, whatever the mark says;
    // other inputs start nothing at a fresh start.
    void cutShortAtStart_data()
    {
        QTest::addColumn<int>("machineType");
        QTest::addColumn<int>("detectMold");
        QTest::addColumn<bool>("product");
        QTest::addColumn<bool>("door");
        QTest::addColumn<int>("moldSide");    // in force after loading
        QTest::addColumn<QByteArray>("left"); // the mark file; "-" for no file
        QTest::addColumn<bool>("frameSeen");
        QTest::addColumn<quint32>("entered"); // bit i: an opening of input i (lasted the debounce time)
        QTest::addColumn<quint32>("active");  // bit i: input i active now
        QTest::addColumn<int>("slot");
        QTest::addColumn<int>("side");
        QTest::addColumn<quint32>("inputs");
        QTest::addColumn<quint32>("glitched"); // entries counted that fell before the debounce time
        const QByteArray none = detectionMarkText(DetectionMark());
        const QByteArray zeros(16, '\0');
        const QByteArray slot7("slot 7 side 1  \n");
        const QByteArray slot1("slot 1 side 1  \n");
        QTest::newRow("no mark, no input: ordinary")
            << 0 << 0 << false << false << 1 << QByteArray("-") << true << 0u << 0u << -1 << 1 << 0u << 0u;
        QTest::newRow("none, no input: ordinary")
            << 0 << 0 << false << false << 1 << none << true << 0u << 0u << -1 << 1 << 0u << 0u;
        QTest::newRow("whole mark") << 0 << 0 << true << false << 1 << slot1 << true << 0u << 0u << 1 << 1
                                    << 0u << 0u;
        QTest::newRow("0 bytes, mould only")
            << 0 << 0 << false << false << 1 << QByteArray() << true << 0u << 0u << 1 << 1 << 0u << 0u;
        QTest::newRow("16 zero bytes, product on")
            << 0 << 0 << true << false << 1 << zeros << true << 0u << 0u << 0 << 1 << 0u << 0u;
        QTest::newRow("slot 7 on a 2-slot box, mould only")
            << 0 << 0 << false << false << 1 << slot7 << true << 0u << 0u << 1 << 1 << 0u << 0u;
        QTest::newRow("slot 7 on a 2-slot box, product on")
            << 0 << 0 << true << false << 1 << slot7 << true << 0u << 0u << 0 << 1 << 0u << 0u;
        QTest::newRow("zeros, two-colour, right mould in force")
            << 1 << 1 << false << false << 0 << zeros << true << 0u << 0u << 3 << 0 << 0u << 0u;
        QTest::newRow("zeros, turntable, right mould in force, product on")
            << 2 << 1 << true << false << 0 << zeros << true << 0u << 0u << 2 << 0 << 0u << 0u;
        QTest::newRow("pulse of input 0 during the start")
            << 0 << 0 << false << false << 1 << none << true << 0x1u << 0x0u << 1 << 1 << 0x1u << 0u;
        QTest::newRow("input 0 held during the start, product on")
            << 0 << 0 << true << false << 1 << none << true << 0x1u << 0x1u << 0 << 1 << 0x1u << 0u;
        QTest::newRow("input 0 high since the first frame")
            << 0 << 0 << false << false << 1 << QByteArray("-") << true << 0x0u << 0x1u << 1 << 1 << 0x1u
            << 0u;
        QTest::newRow("before the first frame: nothing known")
            << 0 << 0 << false << false << 1 << none << false << 0x0u << 0x0u << -1 << 1 << 0x0u << 0u;
        QTest::newRow("opening during the start over a whole mould mark: the opening's chain")
            << 0 << 0 << true << false << 1 << slot1 << true << 0x1u << 0x0u << 0 << 1 << 0x1u << 0u;
        QTest::newRow("input 2 and the re-check input 1 start nothing")
            << 0 << 0 << false << false << 1 << none << true << 0x6u << 0x6u << -1 << 1 << 0x0u << 0u;
        QTest::newRow("safety door with its trigger: mould slot")
            << 0 << 0 << true << true << 1 << none << true << 0x2u << 0x0u << 1 << 1 << 0x2u << 0u;
        QTest::newRow("door and input 0: the cycle start's chain")
            << 0 << 0 << true << true << 1 << none << true << 0x3u << 0x0u << 0 << 1 << 0x3u << 0u;
        QTest::newRow("turntable, all moulds, input 3: right side")
            << 2 << 2 << false << false << 1 << none << true << 0x8u << 0x0u << 3 << 0 << 0x8u << 0u;
        QTest::newRow("turntable, left mould only: input 3 starts nothing")
            << 2 << 0 << false << false << 1 << none << true << 0x8u << 0x8u << -1 << 1 << 0x0u << 0u;
        QTest::newRow("two-colour, input 3 re-arms, starts nothing")
            << 1 << 2 << false << false << 1 << none << true << 0x8u << 0x0u << -1 << 1 << 0x0u << 0u;
        QTest::newRow("a 3 ms glitch of input 0 during the start, debounce 0.2 s: ordinary")
            << 0 << 0 << false << false << 1 << none << true << 0x0u << 0x0u << -1 << 1 << 0x0u << 0x1u;
        QTest::newRow("door glitch during the start, door closed now: judged as active at start")
            << 0 << 0 << true << true << 1 << none << true << 0x0u << 0x2u << 1 << 1 << 0x2u << 0x2u;
        QTest::newRow("a glitch, then an opening of input 0: the opening's chain")
            << 0 << 0 << true << false << 1 << none << true << 0x1u << 0x0u << 0 << 1 << 0x1u << 0x1u;
    }
    void cutShortAtStart()
    {
        QFETCH(int, machineType);
        QFETCH(int, detectMold);
        QFETCH(bool, product);
        QFETCH(bool, door);
        QFETCH(int, moldSide);
        QFETCH(QByteArray, left);
        QFETCH(bool, frameSeen);
        QFETCH(quint32, entered);
        QFETCH(quint32, active);
        QFETCH(int, slot);
        QFETCH(int, side);
        QFETCH(quint32, inputs);
        QFETCH(quint32, glitched);
        param = SysParam();
        param.machineType = machineType;
        param.detectMold = detectMold;
        param.enableProdDetect = product ? 1 : 0;
        param.safetyDoorTrigger = door ? 1 : 0;
        const int inUse = machineType == 0 ? 2 : 4;
        for (int s = 0; s < inUse; ++s)
            param.slotEnabled[s] = s % 2 == 1 || product ? 1 : 0;
        TestWorkDir dir;
        if (left != "-")
            QVERIFY(writeTestFile(detectionMarkPath(), left));
        DetectionMarkFile file;
        const DetectionMark mark = file.open();
        InputEntrySnapshot entries;
        entries.firstFrameSeen = frameSeen;
        entries.activeWord = active;
        for (int i = 0; i < 16; ++i)
            entries.entries[i] = ((entered >> i) & 1u) + ((glitched >> i) & 1u);
        entries.openingWord = entered;
        const StartCutShort cut = decideCutShort(mark, entries, param, moldSide, inUse, 1);
        QCOMPARE(cut.slot, slot);
        // A level with no opening counted is said to be one at start, not an entry.
        if (inputs != 0)
            QCOMPARE(cut.why.contains(QLatin1String("was active at start")), (entered & inputs) == 0);
        if (slot >= 0)
            QCOMPARE(cut.moldSide, side);
        QCOMPARE(cut.inputs, inputs);
    }

    // An opening of input 0 counted by the board link while detection runs, on the real mark file: it
    // asks for its mark, which the mark's thread writes over "none", and it keeps that mark until its
    // own cycle's mark or a later verdict is on disk. A pass that only reads it and returns judges
    // nothing. `steps`, in order: "open" one opening counted and a pass, "counted" one with no pass,
    // "cameras lost" / "cameras back", "busy" a 0.5 s countdown of the mould, "countdown out" it runs
    // out, "ng" the next mould judged NG, "re-check" a re-check pending, "stop" / "start" the
    // operator's (each followed by a pass). What a restart reads.
    void openingKeepsItsMarkUntilCovered_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QByteArray>("onDisk");
        const QByteArray mark("slot 1 side 1  \n");
        const QByteArray none("none           \n");
        QTest::newRow("its cycle started and judged OK") << "open" << none;
        QTest::newRow("cameras not ready: read, the pass returned") << "cameras lost, open" << mark;
        QTest::newRow("cameras not ready at it, the next opening's cycle judged OK")
            << "cameras lost, open, cameras back, open" << none;
        QTest::newRow("alarm latched (its latch on disk), then an opening read") << "ng, open" << mark;
        QTest::newRow("re-check pending") << "re-check, open" << mark;
        QTest::newRow("busy: dropped, then the verdict of the cycle before it")
            << "busy, open, open, countdown out" << mark;
        QTest::newRow("the operator's Stop and Start after it") << "cameras lost, open, stop, start" << mark;
        QTest::newRow("counted, the operator's Stop, read while stopped, Start")
            << "counted, stop, start" << mark;
        QTest::newRow("counted while detection is stopped") << "stop, open" << none;
        QTest::newRow("judged OK, then the operator's Stop and Start, no opening between")
            << "open, stop, start" << none;
    }
    void openingKeepsItsMarkUntilCovered()
    {
        QFETCH(QString, steps);
        TestWorkDir dir;
        standardMachine(0);
        FakeCycle cycle(1, true);
        CycleWorld &world = cycle.world;
        DetectionMarkFile file;
        QCOMPARE(file.open().slot, -1);
        file.setCycleStartMarkSource([] {
            CycleStartMarks marks;
            marks[0] = DetectionMark{1, 1};
            return marks;
        });
        file.installCycleStartMarkHook();
        cycle.hooks.markDetection = [&](int slot, int side) { file.set(slot, side); };
        cycle.hooks.clearDetectionMark = [&] { file.clear(); };
        gControlPort->setCycleWatch([&] { return cycle.state.runState == 1; }, {});
        // The board as the poll sees it: every change counted, then the marks it asks for posted.
        const auto frame = [](quint32 word) {
            quint32 asked;
            {
                MutexLocker lock(gIoMutex);
                gIoEntryWatch.statusFrame(word, appMonotonicMs());
                asked = gIoEntryWatch.takeMarkRequests();
                gIoInputWord = word;
                gIoInputChangedMs[0] = appMonotonicMs();
            }
            for (int i = 0; i < 16; ++i) {
                if (asked & (1u << i))
                    requestCycleStartMark(i);
            }
        };
        cycle.state.moldSide = 1;
        frame(0);
        cycle.StartDetect();
        cycle.Run();
        for (const QString &step : steps.split(QStringLiteral(", "))) {
            if (step == QLatin1String("open") || step == QLatin1String("counted")) {
                frame(1);
                if (step == QLatin1String("open"))
                    cycle.Run();
                frame(0);
            } else if (step == QLatin1String("cameras lost") || step == QLatin1String("cameras back")) {
                world.connected = step.endsWith(QLatin1String("back"));
                cycle.Run();
            } else if (step == QLatin1String("busy")) {
                param.trigInDelay[1] = 5;
            } else if (step == QLatin1String("countdown out")) {
                QVERIFY(cycle.upTimers[1]->isActive());
                cycle.slotCountdown[1] = 0;
                cycle.TimerUp(1);
                QVERIFY(cycle.state.alarmState != 2);
            } else if (step == QLatin1String("ng")) {
                world.scriptedNg = {true};
                frame(1);
                cycle.Run();
                frame(0);
                QCOMPARE(cycle.state.alarmState, 2);
            } else if (step == QLatin1String("re-check")) {
                cycle.reCheckPending = true;
            } else if (step == QLatin1String("stop") || step == QLatin1String("start")) {
                cycle.SlotStartStop();
                QCOMPARE(cycle.state.runState, step == QLatin1String("stop") ? 3 : 1);
                cycle.Run();
            } else {
                QFAIL(qPrintable(step));
            }
        }
        file.stopSync();
        QTEST(readTestFile(detectionMarkPath()), "onDisk");
        gControlPort->setCycleWatch({}, {});
    }

    // Files may not grow past 8 bytes (a file size limit): the mark of a detection under way cannot be
    // written whole. The log says why, the file never reads as "none" meanwhile, and the next change
    // writes the record whole once the limit is gone.
    void markFilePastAFileSizeLimit()
    {
        TestWorkDir dir;
        DetectionMarkFile file;
        QCOMPARE(file.open().slot, -1);
        QTest::ignoreMessage(QtCriticalMsg, "detectionmark.txt cannot be written: File too large");
        rlimit saved{};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &saved) == 0);
        const auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
        rlimit full = saved;
        full.rlim_cur = 8;
        const bool limited = ::setrlimit(RLIMIT_FSIZE, &full) == 0;
        file.set(1, 0);
        const QByteArray whileLimited = readTestFile(detectionMarkPath());
        ::setrlimit(RLIMIT_FSIZE, &saved);
        ::signal(SIGXFSZ, oldHandler);
        QVERIFY(limited);
        DetectionMark read;
        QVERIFY2(!parseDetectionMark(whileLimited, &read) || read.slot == 1, whileLimited.constData());
        QTest::ignoreMessage(QtWarningMsg, "detectionmark.txt written again");
        file.set(1, 0);
        QCOMPARE(readTestFile(detectionMarkPath()), QByteArray("slot 1 side 0  \n"));
    }
};

QTEST_GUILESS_MAIN(TestCycleRestart)
#include "tst_cyclerestart.moc"

// The moulding cycle against fake camera views with scripted verdicts and the real output word of the
// board link: inputs in, outputs read back as logical values, record lines and report calls counted.

#include "cyclefixture.h"
#include "savefailimagethread.h"
#include "testworkdir.h"

#include <QRegularExpression>
#include <QtTest>

class TestMachineCycle : public QObject
{
    Q_OBJECT
    SysParam param;

private slots:
    void initTestCase() { initCycleTests(); }
    void cleanupTestCase() { cleanupCycleTests(); }

    // Debounce: a latch made by the debounce timer survives until the next pass acts on it; an input
    // released before the timer ends starts nothing. Debounce 0 latches in the same pass.
    void debounceAndDelays_data()
    {
        QTest::addColumn<int>("debounce");
        QTest::addColumn<int>("holdMs");
        QTest::addColumn<bool>("starts");
        // The board link counted the entry `lateMs` before the pass read it (-1: a level the pass
        // sees, as the simulated-input buttons make it).
        QTest::addColumn<int>("lateMs");
        QTest::newRow("debounce 0") << 0 << 0 << true << -1;
        QTest::newRow("debounce 3, held 400 ms") << 3 << 400 << true << -1;
        QTest::newRow("debounce 3, held 150 ms") << 3 << 150 << false << -1;
        QTest::newRow("debounce 3, counted entry held 400 ms, read 250 ms late: judged from its stamp")
            << 3 << 400 << true << 250;
        QTest::newRow(
            "debounce 3, counted entry held 150 ms, read 50 ms late: a glitch, dropped, no timer left")
            << 3 << 150 << false << 50;
    }
    void debounceAndDelays()
    {
        QFETCH(int, debounce);
        QFETCH(int, holdMs);
        QFETCH(bool, starts);
        QFETCH(int, lateMs);
        standardMachine(param, debounce, 10, 15);
        FakeCycle cycle;
        CycleWorld &world = cycle.world;
        cycle.StartDetect();
        if (lateMs >= 0) {
            const auto frame = [](quint32 word, qint64 stampMs) {
                MutexLocker lock(gIoMutex);
                gIoEntryWatch.statusFrame(word, stampMs);
                gIoInputWord = word;
                gIoInputChangedMs[0] = stampMs;
            };
            frame(0, appMonotonicMs());
            cycle.Run();
            frame(1, appMonotonicMs() - lateMs);
            cycle.Run();
            QTest::qWait(holdMs - lateMs);
            frame(0, appMonotonicMs());
            QTest::qWait(std::max(0, debounce * 100 + 50 - holdMs));
        } else {
            setInputs(1);
            cycle.Run();
            QTest::qWait(holdMs);
            setInputs(0);
            QTest::qWait(debounce * 100 + 50 - std::min(holdMs, debounce * 100));
        }
        cycle.Run();
        QCOMPARE(cycle.upTimers[0]->isActive(), starts);
        if (!starts) {
            // Nothing is left to judge: no debounce timer goes on running.
            QTRY_VERIFY_WITH_TIMEOUT(!cycle.inputTimers[0]->isActive(), 2000);
            return;
        }
        // Product after 1.0 s, mould 1.5 s later: 2.5 s after the same edge (the poll may have
        // stepped both countdowns already).
        QVERIFY(cycle.slotCountdown[0] > 0.75f && cycle.slotCountdown[0] <= 1.0f);
        QVERIFY(qAbs(cycle.slotCountdown[1] - cycle.slotCountdown[0] - 1.5f) < 0.01f);
        QCOMPARE(out(OutClose), 1);
        QCOMPARE(out(OutThimble), 1);
        // A second edge during the countdown changes nothing.
        pulseInput(cycle, 0);
        QTest::qWait(debounce * 100 + 50);
        cycle.Run();
        QVERIFY(qAbs(cycle.slotCountdown[1] - cycle.slotCountdown[0] - 1.5f) < 0.01f);
        QVERIFY(cycle.slotCountdown[0] > 0.3f);
        // Stop during a countdown cancels it; the mould cameras of the cycle are no longer pending.
        cycle.StopDetect();
        QVERIFY(!cycle.upTimers[0]->isActive() && !cycle.upTimers[1]->isActive());
        QCOMPARE(world.judgements, 0);
    }

    // Mould NG re-detected, then the alarm; an OK at the last re-detection releases the clamp.
    void mouldRedetectionAndAlarm_data()
    {
        QTest::addColumn<QList<bool>>("ngs"); // mould detection, first and second re-detection
        QTest::addColumn<bool>("latched");
        QTest::newRow("NG, NG, NG: alarm") << QList<bool>{true, true, true} << true;
        QTest::newRow("NG, NG, OK: released") << QList<bool>{true, true, false} << false;
    }
    void mouldRedetectionAndAlarm()
    {
        QFETCH(QList<bool>, ngs);
        QFETCH(bool, latched);
        mouldOnlyMachine(param);
        param.reMoldTimes = 2;
        FakeCycle cycle(4);
        CycleWorld &world = cycle.world;
        CycleWindowState &state = cycle.state;
        world.scriptedNg = ngs;
        // The editor looks for the camera whose NG picture is kept when it opens.
        QVector<int> codesAtOpen;
        cycle.hooks.openEditor = [&] {
            ++world.editorOpened;
            for (int c = 0; c < world.cameras; ++c)
                codesAtOpen << cycle.imageState[c][1];
        };
        cycle.StartDetect();
        pulseInput(cycle, 0);
        QCOMPARE(world.judgements, 1);
        QVERIFY(cycle.reCheckPending);
        QCOMPARE(out(OutClose), 1);
        QCOMPARE(out(OutAlarm), 0);
        cycle.Run();
        cycle.Run();
        QCOMPARE(world.judgements, 3);
        QCOMPARE(world.judgedSlots, (QList<int>{1, 1, 1}));
        cycle.Run(); // nothing left to re-detect
        QCOMPARE(world.judgements, 3);
        QCOMPARE(state.alarmState == 2, latched);
        QCOMPARE(out(OutAlarm), latched ? 1 : 0);
        QCOMPARE(out(OutClose), latched ? 1 : 0);
        QCOMPARE(world.editorOpened, latched ? 1 : 0);
        QCOMPARE(world.alarmStarts, latched ? 1 : 0);
        QCOMPARE(world.detectOnce, QList<bool>{!latched});
        if (latched) {
            QCOMPARE(state.runState, 3);
            QCOMPARE(world.records.last(), uiText(151).arg(1) + uiText(151).arg(3).chopped(1) + uiText(152));
            QCOMPARE(cycle.imageState[0][1], 3);
            QCOMPARE(codesAtOpen, (QVector<int>{3, 2, 3, 2})); // cameras 1 and 3 kept NG, 2 and 4 OK
            // Re-learning is refused while the alarm is latched.
            cycle.SlotReTrain();
            QCOMPARE(state.runState, 3);
            // The operator's OK re-detection clears it: the finish is marked then, once.
            world.verdict.fill(true);
            QCOMPARE(world.alarmFinishMarks, 0);
            cycle.CheckNG();
            QCOMPARE(world.alarmFinishMarks, 1);
            QCOMPARE(world.editorClosed, 1);
            QCOMPARE(state.alarmState, 1); // the OK result is shown
            QCOMPARE(state.runState, 1);
            QCOMPARE(out(OutAlarm), 0);
        }
    }

    // A re-detection and the region editor's re-check judge only frames younger than 500 ms
    // (with the external trigger any frame). Otherwise nothing is judged: the clamp stays blocked, the
    // camera warning and one record line in its text; a held re-detection ends the cycle step without
    // an alarm, a held re-check leaves the alarm latched.
    void reDetectionAndReCheckJudgeOnlyYoungFrames_data()
    {
        QTest::addColumn<bool>("reCheck"); // the editor's re-check of a latched alarm, else a re-detection
        QTest::addColumn<qint64>("age");
        QTest::addColumn<bool>("extTrigger");
        QTest::addColumn<bool>("judged");
        QTest::addColumn<int>("frameSpeed"); // frames a second
        // The README's limits: half a second, or three frame periods below six frames a second.
        QTest::newRow("re-detection, frame at the limit: held") << false << 500LL << false << false << 12;
        QTest::newRow("re-detection, frame just younger: judged") << false << 499LL << false << true << 12;
        QTest::newRow("re-detection, external trigger, old frame: judged")
            << false << 60000LL << true << true << 12;
        QTest::newRow("re-check, frame too old: held, alarm stays") << true << 501LL << false << false << 12;
        QTest::newRow("re-check, young frame: judged, the OK clears the alarm")
            << true << 0LL << false << true << 12;
        // Three frame periods at one frame a second: a slowed-down camera is not stale between frames.
        QTest::newRow("re-detection, 1 frame a second, frame 2.9 s old: judged")
            << false << 2900LL << false << true << 1;
        QTest::newRow("re-detection, 1 frame a second, frame 3 s old: held")
            << false << 3000LL << false << false << 1;
    }
    void reDetectionAndReCheckJudgeOnlyYoungFrames()
    {
        QFETCH(bool, reCheck);
        QFETCH(qint64, age);
        QFETCH(bool, extTrigger);
        QFETCH(bool, judged);
        QFETCH(int, frameSpeed);
        mouldOnlyMachine(param);
        param.frameSpeed = frameSpeed;
        param.reMoldTimes = reCheck ? 0 : 1;
        param.useExtTrigger = extTrigger ? 1 : 0;
        FakeCycle cycle(2);
        CycleWorld &world = cycle.world;
        world.scriptedNg = {true, true};
        cycle.StartDetect();
        pulseOpeningReportedLongAgo(cycle);
        QCOMPARE(world.judgements, 1);
        QCOMPARE(cycle.state.alarmState == 2, reCheck);
        const int records = world.records.size();
        const int reports = world.detectOnce.size();
        world.frameAge = age;
        if (reCheck) {
            world.scriptedNg = {false}; // the object is gone
            cycle.RunAlgorithm(0, 1);
            cycle.RunAlgorithm(1, 1);
            cycle.CheckNG();
        } else {
            cycle.Run();
        }
        // One judgement of both cameras at a re-detection, one per camera at the editor's re-check.
        QCOMPARE(world.judgements, judged ? (reCheck ? 3 : 2) : 1);
        QCOMPARE(out(OutClose), reCheck && judged ? 0 : 1);
        QCOMPARE(cycle.state.alarmState == 2, reCheck ? !judged : judged);
        QVERIFY(!cycle.reCheckPending);
        if (judged) {
            QCOMPARE(world.records.size() - records, reCheck ? 0 : 1); // the alarm line
            QVERIFY(!world.warnings.contains(uiText(39)));
        } else {
            QCOMPARE(world.records.mid(records), QStringList{uiText(39)});
            QCOMPARE(world.warnings.last(), uiText(39));
            QCOMPARE(world.detectOnce.size(), reports);
        }
    }

    // With the external trigger the cameras take a picture per trigger only: the trigger's pictures
    // start the cycle and are judged, once. A cycle the machine's own mould-open input starts with no
    // picture since judges nothing, however young the last one looks: the clamp stays blocked, with
    // the camera warning and one record line per held detection. The next trigger's pictures are
    // judged and release the clamp.
    void externalTriggerJudgesTheTriggersPictures()
    {
        mouldOnlyMachine(param);
        param.useExtTrigger = 1;
        gExtTriggerFrames = 0;
        FakeCycle cycle(2);
        CycleWorld &world = cycle.world;
        cycle.StartDetect();
        gControlPort->setOutput(OutClose, 1);
        gControlPort->flushOutputs();
        cycle.Run(); // both cameras delivered: the trigger starts the cycle, the mould is judged at once
        QCOMPARE(world.judgements, 1);
        QCOMPARE(boardWord(), quint32(0x0));
        world.delivering = false;
        for (int n = 1; n <= 2; ++n) {
            QTest::qWait(5);
            pulseInput(cycle, 0);
            cycle.Run(); // the input seen low again
            QCOMPARE(world.judgements, 1);
            QCOMPARE(boardWord(), quint32(0x1));
            QCOMPARE(world.records.size(), n);
            QCOMPARE(world.records.filter(uiText(39)).size(), n);
            QCOMPARE(world.warnings.last(), uiText(39));
        }
        QTest::qWait(5);
        world.delivering = true;
        cycle.Run(); // the next trigger's pictures
        QCOMPARE(world.judgements, 2);
        QCOMPARE(boardWord(), quint32(0x0));
        QCOMPARE(world.records.size(), 2);
        gExtTriggerFrames = 0;
    }

    // Triggered cameras, on the box's clock: a picture is judged once, and only when it came after the
    // cycle start before the detection's own. A safety-door detection after the trigger's cycle finds
    // only the picture that cycle judged; a trigger whose camera 2 picture is new finds camera 1 with
    // a picture from before the cycle start before it. Neither is judged: the clamp is blocked, with
    // the camera warning's record line.
    void externalTriggerPicturesJudgedOnceAndNew_data()
    {
        QTest::addColumn<bool>("door");
        QTest::newRow("safety door after the trigger's cycle, no new picture") << true;
        QTest::newRow("trigger with camera 1's picture from before the previous cycle start") << false;
    }
    void externalTriggerPicturesJudgedOnceAndNew()
    {
        QFETCH(bool, door);
        FrozenClock clock;
        mouldOnlyMachine(param);
        param.useExtTrigger = 1;
        param.safetyDoorTrigger = door ? 1 : 0;
        gExtTriggerFrames = 0;
        FakeCycle cycle(2);
        CycleWorld &world = cycle.world;
        // Each camera's pictures by hand, stamped with the box's clock when grabbed.
        qint64 taken[2] = {-1, -1};
        bool delivers[2] = {false, false};
        cycle.hooks.grabFrame = [&](int c) {
            if (delivers[c])
                taken[c] = appMonotonicMs();
            return delivers[c];
        };
        cycle.hooks.frameTakenMs = [&](int c) { return taken[c]; };
        cycle.StartDetect();
        if (door) {
            delivers[0] = delivers[1] = true;
            cycle.Run(); // the trigger's pictures: its cycle judges them and releases the clamp
            QCOMPARE(world.judgements, 1);
            QCOMPARE(boardWord(), quint32(0x0));
            delivers[0] = delivers[1] = false;
            clock.now += 1000;
            pulseInput(cycle, 1);
        } else {
            delivers[0] = true; // a trigger whose picture of camera 2 never came
            cycle.Run();
            delivers[0] = false;
            clock.now += 1000;
            pulseInput(cycle, 0); // the machine's opening: no picture of camera 2, held
            QCOMPARE(world.records, QStringList{uiText(39)});
            clock.now += 1000;
            delivers[1] = true; // the next trigger's picture of camera 2 only
            cycle.Run();
            delivers[1] = false;
            QCOMPARE(world.judgements, 0);
        }
        QCOMPARE(world.judgements, door ? 1 : 0);
        QCOMPARE(boardWord(), quint32(0x1));
        QCOMPARE(world.records, QVector<QString>(door ? 1 : 2, uiText(39)).toList());
        gExtTriggerFrames = 0;
    }

    // The picture grabbed in the pass that reads the opening (no delay) or the safety door's signal,
    // and one received half a frame period later, may show the mould as it was before the signal: the
    // detection waits for one received a whole frame period (83 ms at 12 frames a second) after it,
    // the clamp blocked meanwhile, and judges that one.
    void pictureWithinAFramePeriodOfTheSignalWaitsForTheNext_data()
    {
        QTest::addColumn<int>("input");
        QTest::newRow("mould opening, no delay") << 0;
        QTest::newRow("safety door") << 1;
    }
    void pictureWithinAFramePeriodOfTheSignalWaitsForTheNext()
    {
        QFETCH(int, input);
        FrozenClock clock;
        mouldOnlyMachine(param);
        param.frameSpeed = 12;
        param.safetyDoorTrigger = input == 1 ? 1 : 0;
        FakeCycle cycle;
        CycleWorld &world = cycle.world;
        cycle.StartDetect();
        pulseInput(cycle, input); // a picture grabbed in the same millisecond as the signal
        for (qint64 after : {qint64(0), qint64(41)}) {
            if (after > 0) {
                clock.now += after;
                cycle.Run();
                QVERIFY(cycle.upTimers[1]->isActive());
                cycle.TimerUp(1); // the waiting detection's 100 ms step, with that picture
            }
            QCOMPARE(world.judgements, 0);
            QCOMPARE(boardWord(), quint32(0x1));
            QVERIFY(cycle.upTimers[1]->isActive());
        }
        clock.now += 42; // a whole period after the signal
        cycle.Run();
        cycle.TimerUp(1);
        QCOMPARE(world.judgements, 1);
        QCOMPARE(world.takenMs, 1000083);
        QCOMPARE(boardWord(), quint32(0x0));
        QVERIFY(world.records.isEmpty());
    }

    // Product NG with the ejector pulse: NG outputs of the failed regions (an output number out of
    // range ignored), no alarm, the NG picture handed to the saver; the pulse's end clears all four NG
    // outputs and the ejector, the clamp stays blocked for the mould still counting down.
    void productNgPulses_data()
    {
        QTest::addColumn<QVector<int>>("failedOutputs");
        QTest::addColumn<quint32>("pulsing");
        QTest::newRow("output 2; 7 and -1 name none") << QVector<int>{2, 7, -1} << quint32(0x43);
        QTest::newRow("outputs 0 and 3; 4 is past the last") << QVector<int>{3, 4, 0} << quint32(0x93);
    }
    void productNgPulses()
    {
        QFETCH(QVector<int>, failedOutputs);
        QFETCH(quint32, pulsing);
        standardMachine(param, 0, 0, 100);
        param.ejectorPulseOnProdNg = 1;
        param.ejectorPulse = 3;
        FakeCycle cycle(2);
        CycleWorld &world = cycle.world;
        world.failedOutputs = failedOutputs;
        cycle.StartDetect();
        world.verdict[1] = false;
        {
            MutexLocker lock(gFailImageMutex);
            std::memset(gFailImagePending, 0, sizeof gFailImagePending);
        }
        pulseInput(cycle, 0);
        QCOMPARE(world.judgedSlots, QList<int>{0});
        QCOMPARE(boardWord(), pulsing);
        QCOMPARE(cycle.state.alarmState, 1);
        QCOMPARE(world.editorOpened, 0);
        QVERIFY(cycle.outNgTimer->isActive());
        QCOMPARE(cycle.outNgTimer->interval(), 300);
        {
            MutexLocker lock(gFailImageMutex);
            QCOMPARE(int(gFailImagePending[1][0][0]), 1);
            QCOMPARE(int(gFailImagePending[0][0][1]), 1);
        }
        QCOMPARE(cycle.imageState[1][0], 0);
        QTRY_COMPARE(boardWord(), quint32(0x1));
    }

    // The clamp at a cycle start and at a mould NG that still has re-detections left: the start
    // leaves it free with a pre-cut time or with "cut clamp on mould alarm" (the mould result cuts it
    // then); a pre-cut time cuts it that long before the mould detection, and an NG cuts it at once
    // otherwise, re-detections left or not. No alarm yet.
    void clampAtStartAndMouldNg_data()
    {
        QTest::addColumn<int>("preCut");
        QTest::addColumn<int>("cutOnAlarm");
        QTest::addColumn<quint32>("atStart");
        QTest::addColumn<quint32>("atNg");
        QTest::newRow("plain") << 0 << 0 << quint32(0x1) << quint32(0x1);
        QTest::newRow("cut clamp on mould alarm") << 0 << 1 << quint32(0x0) << quint32(0x1);
        QTest::newRow("pre-cut 0.5 s") << 5 << 0 << quint32(0x0) << quint32(0x1);
    }
    void clampAtStartAndMouldNg()
    {
        QFETCH(int, preCut);
        QFETCH(int, cutOnAlarm);
        mouldOnlyMachine(param, 0, 100);
        param.reMoldTimes = 2;
        param.preCutTime = preCut;
        param.cutClampOnMoldAlarm = cutOnAlarm;
        FakeCycle cycle;
        CycleWorld &world = cycle.world;
        world.scriptedNg = {true};
        cycle.StartDetect();
        pulseInput(cycle, 0);
        QCOMPARE(world.judgements, 0);
        QTEST(boardWord(), "atStart");
        // The countdown at 0.6 s before the mould detection: only a pre-cut of 0.6 s or more cuts.
        cycle.slotCountdown[1] = 0.6f;
        cycle.TimerUp(1);
        QTEST(boardWord(), "atStart");
        cycle.slotCountdown[1] = 0.0f;
        cycle.TimerUp(1);
        QCOMPARE(world.judgements, 1);
        QVERIFY(cycle.reCheckPending);
        QCOMPARE(cycle.state.alarmState, 0);
        QTEST(boardWord(), "atNg");
    }

    // The clamp while a mould is not seen or is judged again. "Cut clamp on mould alarm" leaves the
    // clamp free at the cycle start: a detection that finds no picture of its opening must block it
    // itself. A pre-cut time the countdown never cuts at (outside 1 to 99 tenths) is no pre-cut: the
    // start and the NG block the clamp, and it is still blocked while the re-detection judges.
    void clampWhileUnseenOrReJudged_data()
    {
        QTest::addColumn<int>("preCut");
        QTest::addColumn<int>("cutOnAlarm");
        QTest::addColumn<bool>("pictures"); // the cameras deliver
        QTest::newRow("cut clamp on mould alarm, no picture: held") << 0 << 1 << false;
        QTest::newRow("pre-cut 100 (no pre-cut), re-detection") << 100 << 0 << true;
        QTest::newRow("pre-cut -1 (no pre-cut), re-detection") << -1 << 0 << true;
        QTest::newRow("pre-cut 0, re-detection") << 0 << 0 << true;
    }
    void clampWhileUnseenOrReJudged()
    {
        QFETCH(int, preCut);
        QFETCH(int, cutOnAlarm);
        QFETCH(bool, pictures);
        mouldOnlyMachine(param);
        param.reMoldTimes = 1;
        param.preCutTime = preCut;
        param.cutClampOnMoldAlarm = cutOnAlarm;
        FakeCycle cycle;
        CycleWorld &world = cycle.world;
        world.scriptedNg = {true, true};
        cycle.StartDetect();
        QCOMPARE(boardWord(), quint32(0x0));
        QList<quint32> wordsWhileJudged;
        world.duringJudgement = [&wordsWhileJudged] { wordsWhileJudged << boardWord(); };
        if (!pictures) {
            world.delivering = false;
            world.frameAge = 600; // the last picture is stale: nothing to wait for
        }
        pulseOpeningReportedLongAgo(cycle);
        if (!pictures) {
            QCOMPARE(world.judgements, 0);
            QCOMPARE(boardWord(), quint32(0x1));
            QCOMPARE(world.records, QStringList{uiText(39)});
            return;
        }
        QCOMPARE(world.judgements, 1);
        QCOMPARE(boardWord(), quint32(0x1)); // the NG blocks at once
        QVERIFY(cycle.reCheckPending);
        cycle.Run(); // the re-detection
        QCOMPARE(world.judgements, 2);
        QCOMPARE(wordsWhileJudged, (QList<quint32>{0x1, 0x1}));
        QCOMPARE(cycle.state.alarmState, 2);
        QCOMPARE(boardWord(), quint32(0x5));
    }

    // While the alarm is latched only a re-check request reaches the region editor: input 1 always,
    // input 2 only on a semi-automatic machine past the first slot. Nothing else starts.
    void latchedAlarmReCheckRequests_data()
    {
        QTest::addColumn<int>("input");
        QTest::addColumn<int>("semiAuto");
        QTest::addColumn<int>("slot");
        QTest::addColumn<int>("clicks");
        QTest::newRow("input 1") << 1 << 0 << 1 << 1;
        QTest::newRow("input 2, automatic machine") << 2 << 0 << 1 << 0;
        QTest::newRow("input 2, semi-automatic") << 2 << 1 << 1 << 1;
        QTest::newRow("input 2, semi-automatic, product slot") << 2 << 1 << 0 << 0;
        QTest::newRow("input 0") << 0 << 1 << 1 << 0;
    }
    void latchedAlarmReCheckRequests()
    {
        QFETCH(int, input);
        QFETCH(int, semiAuto);
        QFETCH(int, slot);
        QFETCH(int, clicks);
        standardMachine(param);
        param.semiAuto = semiAuto;
        FakeCycle cycle;
        CycleWorld &world = cycle.world;
        CycleWindowState &state = cycle.state;
        int clicked = 0;
        cycle.hooks.clickEditorReCheck = [&] { ++clicked; };
        cycle.StartDetect();
        state.alarmState = 2;
        state.runState = 3;
        state.currentSlot = slot;
        pulseInput(cycle, input);
        QCOMPARE(clicked, clicks);
        QCOMPARE(world.judgements, 0);
        QCOMPARE(state.alarmState, 2);
        QVERIFY(!cycle.upTimers[0]->isActive() && !cycle.upTimers[1]->isActive());
    }

    // No cycle start for the input time-out after the last one: the clamp is cut, the warning is
    // recorded and shown; the next cycle start takes the warning away.
    void noInputWatchdogCutsTheClamp()
    {
        mouldOnlyMachine(param);
        param.inputTimeout = 1;
        FakeCycle cycle;
        CycleWorld &world = cycle.world;
        int hidden = 0;
        cycle.hooks.hideWarning = [&] { ++hidden; };
        cycle.StartDetect();
        pulseInput(cycle, 0);
        QCOMPARE(world.judgements, 1);
        QCOMPARE(boardWord(), quint32(0x0)); // the good mould freed the clamp
        QVERIFY(world.records.isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(world.records, QStringList{uiText(335)}, 3000);
        QCOMPARE(boardWord(), quint32(0x1));
        QCOMPARE(world.warnings.last(), uiText(335));
        const int hiddenBefore = hidden;
        pulseInput(cycle, 0);
        QVERIFY(hidden > hiddenBefore);
        QCOMPARE(world.judgements, 2);
        QCOMPARE(boardWord(), quint32(0x0));
    }

    // The end of a shown result steps to the next slot, over the product slots when product
    // inspection is off; a slot not shown, or a re-detection pending, keeps it.
    void resultDisplaySteps_data()
    {
        QTest::addColumn<int>("slotCount");
        QTest::addColumn<int>("prod");
        QTest::addColumn<int>("shown");
        QTest::addColumn<int>("next");
        QTest::newRow("standard, mould to product") << 2 << 1 << 1 << 0;
        QTest::newRow("standard, product to mould") << 2 << 1 << 0 << 1;
        QTest::newRow("standard, no product inspection") << 2 << 0 << 1 << 1;
        QTest::newRow("four slots, right mould to left product") << 4 << 1 << 3 << 0;
        QTest::newRow("four slots, no product inspection") << 4 << 0 << 3 << 1;
        QTest::newRow("four slots, left mould, no product inspection") << 4 << 0 << 1 << 3;
    }
    void resultDisplaySteps()
    {
        QFETCH(int, slotCount);
        QFETCH(int, prod);
        QFETCH(int, shown);
        QFETCH(int, next);
        standardMachine(param);
        param.machineType = slotCount == 4 ? 1 : 0;
        param.enableProdDetect = prod;
        gDetectSlotCount = slotCount;
        FakeCycle cycle;
        CycleWindowState &state = cycle.state;
        state.alarmState = 1;
        state.currentSlot = shown;
        cycle.shownSlot = shown;
        cycle.TimerShow();
        QCOMPARE(state.currentSlot, next);
        QCOMPARE(state.alarmState, 0);
        QCOMPARE(state.detectStatus, 3);
    }

    // A flush inside a detection runs Run nested: it must not start another slot or take a latch.
    void nestedPassKeepsOneSlot()
    {
        standardMachine(param);
        FakeCycle cycle(3);
        CycleWorld &world = cycle.world;
        cycle.StartDetect();
        int nestedSlotsSeen = 0;
        world.duringJudgement = [&] {
            setInputs(0x5);
            cycle.simulatedTrigger = 0;
            cycle.Run();
            nestedSlotsSeen = world.judgements;
        };
        pulseInput(cycle, 0);
        QCOMPARE(nestedSlotsSeen, 2); // the nested passes judged nothing themselves
        QCOMPARE(world.judgedSlots, (QList<int>{0, 1}));
    }

    // "Save all as test images": every camera's frame of a judged mould goes into the raw-frame folder
    // of its camera and slot, named by the time; nothing is saved with the box unchecked.
    void rawFramesOfJudgedMoulds_data()
    {
        QTest::addColumn<bool>("save");
        QTest::newRow("checked") << true;
        QTest::newRow("unchecked") << false;
    }
    void rawFramesOfJudgedMoulds()
    {
        QFETCH(bool, save);
        standardMachine(param);
        param.slotEnabled[0] = 0;
        FakeCycle cycle(2);
        CycleWorld &world = cycle.world;
        QStringList saved;
        cycle.hooks.saveFrameImage = [&](int c, const QString &path) {
            saved << QStringLiteral("%1 %2").arg(c).arg(path);
        };
        cycle.saveFrameImages = save;
        cycle.StartDetect();
        pulseInput(cycle, 0);
        QCOMPARE(world.judgedSlots, QList<int>{1});
        if (!save) {
            QCOMPARE(saved, QStringList());
            return;
        }
        QCOMPARE(saved.size(), 2);
        const QRegularExpression name(
            QStringLiteral("^(\\d) \\./originalimage/cammer(\\d)2/template\\d{8}-\\d{6}-\\d{3}\\.bmp$"));
        for (int c = 0; c < 2; ++c) {
            const QRegularExpressionMatch m = name.match(saved[c]);
            QVERIFY2(m.hasMatch(), qPrintable(saved[c]));
            QCOMPARE(m.captured(1).toInt(), c);
            QCOMPARE(m.captured(2).toInt(), c + 1);
        }
    }

    // A question inside a detection step (a modal loop) lets the poll timer fire into a nested pass;
    // the poll must go on afterwards, so the next mould opening is seen without an input signal.
    void pollGoesOnAfterAModalLoopInADetection()
    {
        mouldOnlyMachine(param, 0, 2);
        FakeCycle cycle;
        CycleWorld &world = cycle.world;
        bool asked = false;
        world.duringJudgement = [&] {
            if (asked)
                return;
            asked = true;
            QEventLoop question;
            QTimer::singleShot(400, &question, &QEventLoop::quit);
            question.exec();
        };
        cycle.StartDetect();
        pulseInput(cycle, 0);
        QCOMPARE(out(OutClose), 1);
        QTRY_VERIFY(asked && world.judgements == 1);
        QTRY_COMPARE(out(OutClose), 0); // released by the good mould
        // The next opening, seen only by the poll.
        setInputs(1);
        QTRY_COMPARE_WITH_TIMEOUT(out(OutClose), 1, 1000);
        setInputs(0);
    }

    // The alarm of a slot's temperatures: any camera beyond raises it, a later good camera does not
    // clear it; and it makes the mould result NG. The latch blocks the clamp (every camera passed, so
    // nothing else does): the opening cut it already, the safety door's signal (input 1) starts the
    // mould detection with the clamp free and the latch cuts it; a detection that waits for a picture
    // taken after the signal holds the clamp while it waits.
    void temperatureAcrossCameras_data()
    {
        QTest::addColumn<int>("input"); // 0 the mould opening, 1 the safety door's signal
        QTest::addColumn<bool>("late"); // the cameras' next picture comes only after the signal's pass
        QTest::newRow("mould opening") << 0 << false;
        QTest::newRow("safety door, picture in its pass") << 1 << false;
        QTest::newRow("safety door, picture after its pass: waited for") << 1 << true;
    }
    void temperatureAcrossCameras()
    {
        QFETCH(int, input);
        QFETCH(bool, late);
        standardMachine(param);
        param.slotEnabled[0] = 0;
        param.safetyDoorTrigger = input == 1 ? 1 : 0;
        FakeCycle cycle(2);
        CycleWorld &world = cycle.world;
        world.temperatures = {TemperatureOutcome{true, true}, TemperatureOutcome{true, false}};
        cycle.StartDetect();
        QCOMPARE(boardWord(), quint32(0x0));
        world.delivering = !late;
        pulseInput(cycle, input);
        if (late) {
            QCOMPARE(world.judgements, 0);
            QCOMPARE(boardWord(), quint32(0x1)); // not seen yet: the clamp waits
            world.delivering = true;
        }
        QTRY_COMPARE(world.judgements, 1);
        QVERIFY(gTemperatureAlarm);
        QCOMPARE(cycle.state.alarmState, 2);
        QCOMPARE(boardWord(), quint32(0x1));
        QCOMPARE(world.alarmStarts, 1);
        QCOMPARE(world.records, QStringList{uiText(152)});
        QVERIFY(world.warnings.isEmpty());
    }

    // The re-detection judges the temperatures by the same rule: the mould was NG by a camera, its
    // re-detection finds every camera passing but camera 1 beyond its limits and camera 2, judged
    // after it, within: the mould stays NG and the alarm latches with the clamp blocked.
    void temperatureOnRedetection()
    {
        standardMachine(param);
        param.slotEnabled[0] = 0;
        param.reMoldTimes = 1;
        FakeCycle cycle(2);
        CycleWorld &world = cycle.world;
        world.scriptedNg = {true, false};
        world.temperatures = {TemperatureOutcome{true, true}, TemperatureOutcome{true, false}};
        cycle.StartDetect();
        pulseInput(cycle, 0);
        QCOMPARE(world.judgements, 1);
        QVERIFY(cycle.reCheckPending);
        gTemperatureAlarm = false; // only the re-detection's cameras decide now
        cycle.Run();
        QCOMPARE(world.judgements, 2);
        QVERIFY(world.verdict[0] && world.verdict[1]);
        QVERIFY(gTemperatureAlarm);
        QCOMPARE(cycle.state.alarmState, 2);
        QCOMPARE(boardWord(), quint32(0x1));
        QCOMPARE(world.alarmStarts, 1);
        QCOMPARE(world.records, QStringList{uiText(152)});
    }

    // The region editor's re-check judges its cameras one at a time: camera 1 beyond its limits and
    // camera 2, judged after it, within keep the mould NG and the alarm latched; once both are within,
    // the next re-check releases the clamp.
    void temperatureAtTheEditorsReCheck()
    {
        mouldOnlyMachine(param);
        FakeCycle cycle(2);
        CycleWorld &world = cycle.world;
        CycleWindowState &state = cycle.state;
        world.scriptedNg = {true};
        cycle.StartDetect();
        pulseInput(cycle, 0);
        QCOMPARE(state.alarmState, 2);
        world.scriptedNg = {false}; // the object is gone
        world.temperatures = {TemperatureOutcome{true, true}, TemperatureOutcome{true, false}};
        cycle.RunAlgorithm(0, 1);
        cycle.RunAlgorithm(1, 1);
        cycle.CheckNG();
        QCOMPARE(world.judgements, 3);
        QVERIFY(world.verdict[0] && world.verdict[1]);
        QVERIFY(gTemperatureAlarm);
        QCOMPARE(state.alarmState, 2);
        QCOMPARE(boardWord(), quint32(0x5)); // clamp blocked, alarm on, as the latch left them

        world.temperatures = {TemperatureOutcome{true, false}, TemperatureOutcome{true, false}};
        cycle.RunAlgorithm(0, 1);
        cycle.RunAlgorithm(1, 1);
        cycle.CheckNG();
        QVERIFY(!gTemperatureAlarm);
        QVERIFY(state.alarmState != 2);
        QCOMPARE(out(OutClose), 0);
    }

    // Stop and start output levels, a lost camera while stopped, a refused stop.
    void stopStartAndCameraLoss_data()
    {
        QTest::addColumn<int>("stopClamp");
        QTest::addColumn<int>("cutEjector");
        QTest::newRow("plain") << 0 << 0;
        QTest::newRow("stopClampOnStop") << 1 << 0;
        QTest::newRow("cutEjectorOnClamp") << 0 << 1;
    }
    void stopStartAndCameraLoss()
    {
        QFETCH(int, stopClamp);
        QFETCH(int, cutEjector);
        standardMachine(param, 0, 5, 5);
        param.stopClampOnStop = stopClamp;
        param.cutEjectorOnClamp = cutEjector;
        FakeCycle cycle;
        CycleWorld &world = cycle.world;
        cycle.StartDetect();
        QCOMPARE(gControlPort->pendingOutputs, quint32(cutEjector ? 0x2 : 0));
        world.authorized = false;
        cycle.SlotStartStop();
        QCOMPARE(cycle.state.runState, 1);
        world.authorized = true;
        world.answerYes = true;
        cycle.SlotStartStop();
        QCOMPARE(cycle.state.runState, 3);
        QCOMPARE(gControlPort->pendingOutputs, quint32(stopClamp ? 0x1 : 0));
        QCOMPARE(world.records.last(), uiText(141));
        world.connected = false;
        cycle.Run();
        QCOMPARE(out(OutClose), 1);
        QCOMPARE(cycle.runTimer->interval(), 500);
        QCOMPARE(world.warnings.last(), uiText(39));
    }

    // Two-colour machine detecting both moulds: after the cycle start on input 0, input 2 re-arms
    // and detects the left mould (slot 1), input 3 the right one (slot 3).
    void twoColourInputChoosesMould_data()
    {
        QTest::addColumn<int>("input");
        QTest::addColumn<int>("side");
        QTest::addColumn<int>("slot");
        QTest::newRow("input 2: left") << 2 << 1 << 1;
        QTest::newRow("input 3: right") << 3 << 0 << 3;
    }
    void twoColourInputChoosesMould()
    {
        QFETCH(int, input);
        QFETCH(int, side);
        QFETCH(int, slot);
        standardMachine(param);
        param.machineType = 1;
        param.detectMold = 2;
        param.enableProdDetect = 0;
        param.slotEnabled[0] = param.slotEnabled[2] = 0;
        param.slotEnabled[1] = param.slotEnabled[3] = 1;
        param.slotTrigInput[1] = 255;
        gDetectSlotCount = 4;
        FakeCycle cycle;
        CycleWorld &world = cycle.world;
        cycle.state.moldSide = 1 - side;
        cycle.StartDetect();
        pulseInput(cycle, 0);
        QCOMPARE(world.judgements, 0);
        QCOMPARE(out(OutClose), 1);
        pulseInput(cycle, input);
        QCOMPARE(cycle.state.moldSide, side);
        QCOMPARE(world.judgedSlots, QList<int>{slot});
        QCOMPARE(out(OutClose), 0); // the good mould released the clamp
    }

    // Pulse lengths of the result outputs: in the OK/NG pulse mode an NG pulses clamp and alarm, an
    // OK the ejector, for clampPulse tenths; after a good mould with cutClampAfterMoldOk the clamp is
    // free for clampPulse tenths, then cut again.
    void resultPulses_data()
    {
        QTest::addColumn<int>("okNgPulse");
        QTest::addColumn<int>("clampPulse");
        QTest::addColumn<bool>("ng");
        QTest::addColumn<QVector<int>>("during"); // outputs 0, 1, 2
        QTest::addColumn<QVector<int>>("after");
        const QVector<int> none{0, 0, 0};
        QTest::newRow("OK/NG pulses, NG") << 1 << 5 << true << QVector<int>{1, 0, 1} << none;
        QTest::newRow("OK/NG pulses, OK") << 1 << 5 << false << QVector<int>{0, 1, 0} << none;
        QTest::newRow("clamp cut after a good mould") << 0 << 20 << false << QVector<int>{0, 0, 0}
                                                      << QVector<int>{1, 0, 0};
    }
    void resultPulses()
    {
        QFETCH(int, okNgPulse);
        QFETCH(int, clampPulse);
        QFETCH(bool, ng);
        QFETCH(QVector<int>, during);
        QFETCH(QVector<int>, after);
        mouldOnlyMachine(param);
        param.okNgPulse = okNgPulse;
        param.cutClampAfterMoldOk = 1 - okNgPulse;
        param.clampPulse = clampPulse;
        param.reMoldTimes = 2; // none in the pulse mode
        FakeCycle cycle;
        CycleWorld &world = cycle.world;
        world.scriptedNg = {ng};
        cycle.StartDetect();
        pulseInput(cycle, 0);
        QCOMPARE(world.judgements, 1);
        QCOMPARE((QVector<int>{out(OutClose), out(OutThimble), out(OutAlarm)}), during);
        QVERIFY(cycle.clampTimer->isActive());
        QCOMPARE(cycle.clampTimer->interval(), clampPulse * 100);
        QCOMPARE(cycle.state.alarmState, 1); // shown, never latched
        cycle.OutTimerNotAllowClose();       // the pulse ends
        QCOMPARE((QVector<int>{out(OutClose), out(OutThimble), out(OutAlarm)}), after);
    }

    // The 2000 ms result display carries each camera's verdict of the result shown (the camera views
    // draw it): a good mould shows every camera OK, the OK/NG pulse mode and the product NG pulses
    // show the NG cameras NG; it ends with the display, and there is none while the settings screen
    // is open or for a latched alarm.
    void resultDisplayCarriesEachCamerasVerdict_data()
    {
        QTest::addColumn<int>("mode");           // 0 normal mould, 1 OK/NG pulses, 2 product NG pulses
        QTest::addColumn<QVector<bool>>("pass"); // per camera
        QTest::addColumn<bool>("settingsOpen");
        QTest::addColumn<QVector<int>>("shown"); // per camera while displayed; -1 none
        QTest::newRow("good mould, three cameras")
            << 0 << QVector<bool>{true, true, true} << false << QVector<int>{1, 1, 1};
        QTest::newRow("OK/NG pulses, camera 2 NG")
            << 1 << QVector<bool>{true, false, true} << false << QVector<int>{1, 0, 1};
        QTest::newRow("product NG pulses, camera 1 NG")
            << 2 << QVector<bool>{false, true, true} << false << QVector<int>{0, 1, 1};
        QTest::newRow("good mould, settings open")
            << 0 << QVector<bool>{true, true, true} << true << QVector<int>{-1, -1, -1};
        QTest::newRow("mould NG latches, nothing displayed")
            << 0 << QVector<bool>{true, false, true} << false << QVector<int>{-1, -1, -1};
    }
    void resultDisplayCarriesEachCamerasVerdict()
    {
        QFETCH(int, mode);
        QFETCH(QVector<bool>, pass);
        QFETCH(bool, settingsOpen);
        QFETCH(QVector<int>, shown);
        const bool product = mode == 2;
        standardMachine(param, 0, 0, product ? 100 : 0); // the product is judged first, the mould much later
        param.slotEnabled[0] = product;
        param.enableProdDetect = product;
        param.okNgPulse = mode == 1;
        param.ejectorPulseOnProdNg = product;
        param.reMoldTimes = 0;
        FakeCycle cycle(3);
        CycleWorld &world = cycle.world;
        cycle.hooks.settingsVisible = [settingsOpen] { return settingsOpen; };
        cycle.StartDetect();
        QCOMPARE(cycle.shownVerdict(0), -1);
        world.duringJudgement = [&] {
            for (int c = 0; c < 3; ++c)
                world.verdict[c] = pass[c];
        };
        pulseInput(cycle, 0);
        QCOMPARE(world.judgedSlots, QList<int>{product ? 0 : 1});
        for (int c = 0; c < 3; ++c)
            QCOMPARE(cycle.shownVerdict(c), shown[c]);
        QCOMPARE(cycle.shownVerdict(3), shown[0] < 0 ? -1 : 1); // a camera not in the result
        if (shown[0] < 0)
            return;
        QCOMPARE(cycle.state.alarmState, 1);
        QCOMPARE(cycle.resultShowTimer->interval(), 2000);
        QTRY_COMPARE_WITH_TIMEOUT(cycle.shownVerdict(0), -1, 3000); // the display ends by itself
        QCOMPARE(cycle.state.alarmState, 0);
    }

    // An OK re-check clears a latched mould alarm: the alarm goes off in the same word that frees the
    // clamp. Every word handed to the board's poll thread is recorded, not only the last: the poll
    // reads the word once a pass, so a word the cycle replaces a moment later may still reach the
    // board, and one with the clamp allowed and the alarm on tells the machine to close on an alarm.
    void alarmGoesOffWithTheRelease()
    {
        mouldOnlyMachine(param);
        param.reMoldTimes = 0;
        FakeCycle cycle;
        CycleWorld &world = cycle.world;
        world.scriptedNg = {true};
        cycle.StartDetect();
        pulseOpeningReportedLongAgo(cycle);
        QCOMPARE(cycle.state.alarmState, 2);
        QCOMPARE(boardWord(), quint32(0x5)); // clamp blocked, alarm on
        QList<quint32> handed;
        const QMetaObject::Connection recorder =
            connect(gControlPort, &ControlPort::sigIOChange, this, [&handed] { handed << boardWord(); });
        world.scriptedNg = {false}; // the object is gone
        cycle.RunAlgorithm(0, 1);
        cycle.CheckNG();
        disconnect(recorder);
        QVERIFY(cycle.state.alarmState != 2);
        QCOMPARE(handed, QList<quint32>{0x0});
        QCOMPARE(boardWord(), quint32(0x0));
    }

    // A press of a simulated-input button is the input changing now, as a board's status frame would
    // report it: the detection it starts without a delay judges a picture taken a frame period after
    // the press, not the last picture of the mould before it. The clamp stays blocked until then.
    void simulatedPressJudgesPicturesAfterIt()
    {
        mouldOnlyMachine(param);
        param.frameSpeed = 10;
        FakeCycle cycle;
        CycleWorld &world = cycle.world;
        cycle.StartDetect();
        QCOMPARE(boardWord(), quint32(0x0));
        {
            MutexLocker lock(gIoMutex);
            gIoInputChangedMs[0] = appMonotonicMs() - 60000; // the board's input 0 last moved long ago
        }
        world.delivering = false;
        world.takenMs = appMonotonicMs(); // the picture of the mould before the press
        cycle.SlotPressedTrigIn(1);
        cycle.Run();
        cycle.SlotReleasedTrigIn(1);
        cycle.Run();
        QCOMPARE(world.judgements, 0);
        QCOMPARE(boardWord(), quint32(0x1));
        QTest::qWait(150);
        world.delivering = true;
        cycle.Run(); // a picture a frame period after the press
        QTRY_COMPARE(world.judgements, 1);
        QCOMPARE(boardWord(), quint32(0x0));
    }

    // A manual trigger on the right mould arms the slot it detects.
    void manualTriggerRightMould()
    {
        standardMachine(param);
        param.machineType = 1;
        param.slotEnabled[2] = param.slotEnabled[3] = 1;
        gDetectSlotCount = 4;
        FakeCycle cycle(2);
        CycleWorld &world = cycle.world;
        cycle.state.moldSide = 0;
        cycle.StartDetect();
        cycle.SlotManualTrig(1);
        cycle.Run();
        QCOMPARE(world.judgedSlots, QList<int>{3});
        QCOMPARE(cycle.imageState[0][3], 0); // armed, saved as OK and handed over
        QCOMPARE(cycle.imageState[0][1], 0);
        QCOMPARE(world.detectOnce, QList<bool>{true});
    }
};

QTEST_GUILESS_MAIN(TestMachineCycle)
#include "tst_machinecycle.moc"

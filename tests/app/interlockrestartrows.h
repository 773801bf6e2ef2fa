#pragma once
// Rows of the interlock table (tst_interlock.cpp, which includes this inside its own namespace after
// BoxRun and its checks): the box killed at fixed points of a detection and started again, a latch
// file that cannot be written or goes, and the controls of an ordinary restart.

// ---- crashes, restarts and a restored PARAM.db ----------------------------------------------------
// A box that stops (killed, its power cut) leaves the board holding its last word, and the machine
// waits with the mould open. Whatever the stop cut short, the restarted box must not allow the clamp
// to close on a mould it has not judged.

const QString kLatchFile = QStringLiteral("latchedalarm.json");

// Where a kill lands: this many ms after the board came to hold the opening's clamp-blocked word, or,
// for kAtAlarmWord, the moment it receives the alarm word.
constexpr int kAtAlarmWord = -1;

// One opening per point with a piece of plastic in the left cavity, the box killed at that point and
// started again at once. The restarted box blocks the clamp from its first word on and ends with the
// alarm latched, whether the stop came before the verdict, between re-detections or at the alarm; the
// operator's re-check (input 1) with the piece gone releases the clamp for the next round. Every
// round is played; the rounds that went wrong are listed at the end.
void killsDuringDetection(BoxRun &run, const QVector<int> &points)
{
    QVERIFY(run.start());
    QVERIFY2(run.waitUntilStarted(), run.story());
    QStringList failed;
    for (int n = 0; n < points.size(); ++n) {
        const QString where = points[n] == kAtAlarmWord
                                  ? QStringLiteral("at the alarm word")
                                  : QStringLiteral("%1 ms after the blocked word").arg(points[n]);
        QVERIFY2(run.serveSeen(Pictures::Foreign), run.story());
        run.mark("opening");
        run.setInputs(0x001);
        const bool killed = points[n] == kAtAlarmWord
                                ? run.killWhenHolds("killed", kAlarm, 0, 15000)
                                : run.killWhenHolds("killed", kBlocked, points[n], 15000);
        run.setInputs(0);
        QVERIFY2(killed, qPrintable(QStringLiteral("round %1: no kill point\n").arg(n + 1) + run.story()));
        const quint16 atKill = run.heldAt("killed");
        QVERIFY(run.start());
        QVERIFY2(waitForStartLine(run, n + 2), run.story());
        // Until the alarm latches or a word allows the clamp (then there is no point in waiting on).
        bool latched = false;
        bool released = false;
        QElapsedTimer waited;
        waited.start();
        while (!latched && !released && waited.elapsed() < 12000) {
            QTest::qWait(50);
            run.mark("up");
            const QVector<quint16> sent = run.wordsBetween("start", "up");
            released = std::any_of(sent.cbegin(), sent.cend(), clampAllowed);
            latched = run.changedAt("start", kAlarm) >= 0;
        }
        if (latched && !released) {
            run.settle("up", 300);
            const QVector<quint16> sent = run.wordsBetween("start", "up");
            released = std::any_of(sent.cbegin(), sent.cend(), clampAllowed);
        }
        if (!latched || released || run.heldAt("up") != kAlarm)
            failed << QStringLiteral("round %1 (killed %2, board held %3): %4")
                          .arg(n + 1)
                          .arg(where, hexWord(atKill),
                               released ? QStringLiteral("restart allowed the clamp")
                                        : QStringLiteral("no alarm latched, board holds %1")
                                              .arg(hexWord(run.heldAt("up"))));
        // Ready for the next round: the piece taken out and, when latched, the alarm cleared.
        QVERIFY2(run.serveSeen(Pictures::Good), run.story());
        if (run.heldAt("up") == kAlarm) {
            run.mark("recheck");
            run.press(0x002);
            QVERIFY2(run.settleOn("cleared", "recheck", kReleased, 30000, 300), run.story());
        }
    }
    QVERIFY2(failed.isEmpty(),
             qPrintable(QStringLiteral("%1 of %2 rounds:\n").arg(failed.size()).arg(points.size()) +
                        failed.join('\n') + '\n' + run.story()));
    QVERIFY2(run.stop(), run.story());
}

void killAtTheAlarmWord(BoxRun &run)
{
    killsDuringDetection(run, QVector<int>(10, kAtAlarmWord));
}

// With the shipped delay of 0.5 s: before the verdict, at it, at the one re-detection and at the alarm.
void killDuringDetection(BoxRun &run)
{
    QVector<int> points;
    for (int ms = 0; ms <= 520; ms += 40)
        points << ms;
    points << kAtAlarmWord;
    killsDuringDetection(run, points);
}

// Three re-detections of the NG mould, 100 ms apart after the verdict at 0.5 s.
void killDuringReDetection(BoxRun &run)
{
    QVERIFY(run.sql("update sysparam set value='0 0 0 -1 0 0 3 0 0' where name='system1'"));
    QVector<int> points;
    for (int ms = 450; ms <= 775; ms += 25)
        points << ms;
    points << kAtAlarmWord;
    killsDuringDetection(run, points);
}

// The latch file is on disk again within `withinMs` of now, with one log line `said`, and the box,
// killed and started again, holds the alarm from its first word on. The end of a row.
void latchBackAndKeptAcrossRestart(BoxRun &run, const QString &said, int withinMs)
{
    QTRY_VERIFY2_WITH_TIMEOUT(QFile::exists(run.path(kLatchFile)), run.story(), withinMs);
    QVERIFY2(run.waitForLog(said, 3000), run.story());
    QCOMPARE(run.logText().count(said), 1);
    QVERIFY2(restartAfterKill(run), run.story());
    EXPECT_LATCHED_SINCE_START(run);
    QVERIFY2(run.stop(), run.story());
}

// The latch file cannot be written (the box's files may not grow, as on a full disk): the alarm word
// still goes out at once, and once files may grow again the latch is on disk within a second, so that
// a restart finds it. One log line says it is on disk again.
void latchWriteFailsThenRecovers(BoxRun &run)
{
    run.setIgnoreFileSizeSignal(true);
    QVERIFY(run.start());
    QVERIFY2(run.waitUntilStarted(), run.story());
    QVERIFY2(run.serveSeen(Pictures::Foreign), run.story());
    QVERIFY(run.setFileSizeLimit(64));
    run.mouldOpens("opening");
    QVERIFY2(run.settleOn("alarm", "opening", kAlarm, 30000), run.story());
    EXPECT_WORDS(run, "opening", "alarm", kBlocked, kAlarm);
    run.settle("full", 2500);
    QVERIFY2(!QFile::exists(run.path(kLatchFile)), run.story());
    QVERIFY2(run.setFileSizeLimit(RLIM_INFINITY), run.story());
    run.mark("space again");
    latchBackAndKeptAcrossRestart(run, QStringLiteral("latched alarm on disk again"), 2500);
}

// Someone deletes the latch file while the alarm is latched: it is written again within a second,
// with one log line, and a restart still finds the alarm latched.
void latchFileDeletedWhileLatched(BoxRun &run)
{
    QVERIFY(run.start());
    QVERIFY2(run.waitUntilStarted(), run.story());
    QVERIFY2(pieceLatchesAlarm(run, "opening"), run.story());
    QVERIFY2(QFile::exists(run.path(kLatchFile)), run.story());
    QVERIFY(QFile::remove(run.path(kLatchFile)));
    latchBackAndKeptAcrossRestart(run, QStringLiteral("latched alarm file was gone"), 1500);
}

// Control: a restart after a cycle that ended with its mould released starts as ever: blocked, then
// released by the start of detection, with no line of an interrupted detection.
void restartAfterGoodCycle(BoxRun &run)
{
    QVERIFY(run.start());
    QVERIFY2(run.waitUntilStarted(), run.story());
    run.mouldOpens("opening");
    QVERIFY2(run.settleOn("judged", "opening", kReleased, 30000), run.story());
    QVERIFY2(restartAfterKill(run), run.story());
    qInfo("released %lld ms after the restart", run.changedAt("start", kReleased) - run.at("start"));
    EXPECT_WORDS(run, "start", "up", kBlocked, kReleased);
    EXPECT_HELD(run, "up", kReleased);
    QCOMPARE(recordLinesOf(run, 761), 0);
    QVERIFY2(run.stop(), run.story());
}

// Control: killed while it waited for the verdict of a good mould. The restarted box holds the clamp,
// judges the mould once its camera delivers, and releases it: one record line of the interrupted
// detection, no alarm.
void crashRestartWithGoodPictures(BoxRun &run)
{
    QVERIFY(run.start());
    QVERIFY2(run.waitUntilStarted(), run.story());
    run.mark("opening");
    run.setInputs(0x001);
    QVERIFY2(run.killWhenHolds("killed", kBlocked, 100, 5000), run.story());
    run.setInputs(0);
    QVERIFY(run.start());
    QVERIFY2(run.settleOn("judged", "start", kReleased, 30000, 1500), run.story());
    qInfo("released %lld ms after the restart", run.changedAt("start", kReleased) - run.at("start"));
    EXPECT_WORDS(run, "start", "judged", kReleased);
    EXPECT_HELD(run, "judged", kReleased);
    QTRY_COMPARE_WITH_TIMEOUT(recordLinesOf(run, 761), 1, 3000);
    QVERIFY2(run.record().filter(textsOf(152).first().trimmed()).isEmpty(), run.story());
    QVERIFY2(run.stop(), run.story());
}

// The pictures of camera 1 replaced by pictures of the same size whose pixel data cannot be decoded:
// the simulated camera keeps them listed and delivers nothing, as a triggered camera does until the
// next trigger.
bool servesUndecodable(const BoxRun &run)
{
    const QDir folder(run.path(QStringLiteral("simcam/1")));
    bool ok = true;
    for (const QString &name : folder.entryList(QDir::Files)) {
        QImage picture(QImageReader(folder.filePath(name)).size(), QImage::Format_RGB32);
        picture.fill(Qt::gray);
        QByteArray png;
        QBuffer buffer(&png);
        ok = buffer.open(QIODevice::WriteOnly) && picture.save(&buffer, "PNG") && ok;
        const int data = png.indexOf("IDAT") + 20;
        png[data] = char(png[data] ^ 0x55);
        ok = writeTestFile(folder.filePath(name), png) && ok;
    }
    return ok;
}

// "Use External Trigger", killed while a trigger's mould was being judged. The restarted box's camera
// has no picture until the next trigger: the mould is not judged, the clamp stays held and the
// record gets the camera line. The next trigger's picture judges the interrupted mould once: the
// clamp is released and stays so (no cycle of its own follows on the same picture), no alarm.
void extTriggerInterruptedDetection(BoxRun &run)
{
    QVERIFY(run.sql(kExtTrigger));
    QVERIFY(run.sql(frameSpeedSql(1)));
    QVERIFY(run.start());
    QVERIFY2(run.waitUntilStarted(), run.story());
    // Every picture is a trigger here: its cycle blocks the clamp at once and is judged 0.5 s later.
    QVERIFY2(run.killWhenHolds("killed", kBlocked, 100, 5000), run.story());
    QVERIFY(servesUndecodable(run));
    QVERIFY(run.start());
    QVERIFY2(waitForStartLine(run, 2), run.story());
    run.settle("up", 3000);
    EXPECT_HELD(run, "up", kBlocked);
    EXPECT_NO_RELEASE_SENT(run, "start", "up");
    QCOMPARE(recordLinesOf(run, 761), 1);
    const int heldLines = recordLinesOf(run, 39);
    // One trigger: a picture comes within the second, and none after it.
    QVERIFY(run.serve(Pictures::Good));
    QVERIFY2(run.waitForHeld(kReleased, 5000), run.story());
    QVERIFY(run.serve(Pictures::None));
    run.settle("after the trigger", 3000);
    EXPECT_WORDS(run, "up", "after the trigger", kReleased);
    EXPECT_HELD(run, "after the trigger", kReleased);
    QCOMPARE(heldLines, 1);
    QCOMPARE(recordLinesOf(run, 39), 1);
    QCOMPARE(recordLinesOf(run, 761), 1);
    QVERIFY2(run.record().filter(textsOf(152).first().trimmed()).isEmpty(), run.story());
    QVERIFY2(run.stop(), run.story());
}

// A box stopped while the product of an opening was being judged left the mark of slot 0 (product
// detection on), with a piece of plastic in the cavity. The started box holds the clamp from its first
// word, judges the product and then the mould, and latches the alarm: one record line of the
// detection cut short.
void productDetectionCutShort(BoxRun &run)
{
    QVERIFY(run.sql("update sysparam set value='0 1 0 -1 0 0 1 0 0' where name='system1'"));
    QVERIFY(writeTestFile(run.path(QStringLiteral("detectionmark.txt")), "slot 0 side 1  \n"));
    QVERIFY(run.serve(Pictures::Foreign));
    QVERIFY(run.start(kBlocked));
    QVERIFY2(run.settleOn("alarm", "start", kAlarm, 30000), run.story());
    EXPECT_NO_RELEASE_SENT(run, "start", "alarm");
    EXPECT_HELD(run, "alarm", kAlarm);
    QTRY_COMPARE_WITH_TIMEOUT(recordLinesOf(run, 761), 1, 3000);
    for (int slot = 1; slot <= 2; ++slot)
        QVERIFY2(
            run.logText().contains(QStringLiteral("judging slot %1 of the detection cut short").arg(slot)),
            run.story());
    QVERIFY2(run.stop(), run.story());
}

// The box killed while it held the clamp for a piece of plastic is started again, the inputs low: it
// holds the clamp from its first word, judges the mould the kill cut short, latches the alarm and
// records once that it did so.
void restartLatchesTheAlarm(BoxRun &run)
{
    run.setInputs(0);
    QVERIFY(run.start());
    QVERIFY2(run.settleOn("alarm", "start", kAlarm, 30000), run.story());
    EXPECT_NO_RELEASE_SENT(run, "start", "alarm");
    QCOMPARE(recordLinesOf(run, 761), 1);
    QVERIFY2(run.stop(), run.story());
}

// "Safety door trigger detection" at 1 frame a second, a piece of plastic in the cavity: the door's
// detection blocks the clamp while it waits for a picture taken after the signal, and the box is killed
// then. The restarted box holds the clamp from its first word, judges the mould and latches the alarm.
void doorDetectionKilledWhileWaiting(BoxRun &run)
{
    QVERIFY(run.sql(kDoorTrigger));
    QVERIFY(run.sql(frameSpeedSql(1)));
    QVERIFY(run.start());
    QVERIFY2(run.waitUntilStarted(), run.story());
    QVERIFY(run.serve(Pictures::Foreign));
    run.mark("door");
    run.setInputs(0x002);
    QVERIFY2(run.killWhenHolds("killed", kBlocked, 100, 5000), run.story());
    restartLatchesTheAlarm(run);
}

// A two-colour machine inspecting both moulds (numFailDetect: machine type 1, every mould), a piece of
// plastic in the left cavity, which only the left mould's region (slot 1) looks at. The cycle starts
// on the right mould's side; input 2 turns it to the left mould, and the box is killed in that mould's
// 0.5 s countdown. The restarted box judges the left mould, not the right one: held from its first
// word, latched.
void twoColourLeftMouldKilledInItsCountdown(BoxRun &run)
{
    QVERIFY(run.sql("update sysparam set value='1 2 0 0 0 0 0 0' where name='numFailDetect'"));
    QVERIFY(run.serve(Pictures::Foreign));
    QVERIFY(run.start());
    QVERIFY2(run.waitUntilStarted(), run.story());
    run.mark("opening");
    run.press(0x001);
    QVERIFY2(run.waitForHeld(kBlocked, 3000), run.story());
    QVERIFY(run.setInputsThenServe(0x004, 0, Pictures::Foreign));
    QVERIFY2(run.killWhenHolds("killed", kBlocked, 200, 1000), run.story());
    restartLatchesTheAlarm(run);
}

// The OK/NG pulse mode (shipped system5 with position 9 set), with the mark of a mould detection a stop
// cut short and a good mould: once judged, the board gets the OK pulse, output 1 alone (0x0F6), for
// the shipped 0.5 s, then idle outputs; never output 0 or the alarm with it.
void okNgPulseCutShortGoodMould(BoxRun &run)
{
    constexpr quint16 kOkPulse = kIdleOutputs | 0x002;
    QVERIFY(run.sql("update sysparam set value='30 30 32 32 0 0 50 50 1 0 0 0 0' where name='system5'"));
    QVERIFY(writeTestFile(run.path(QStringLiteral("detectionmark.txt")), "slot 1 side 1  \n"));
    QVERIFY(run.start());
    QVERIFY2(run.settleOn("judged", "start", kOkPulse, 30000, 0), run.story());
    QVERIFY2(run.settleOn("pulse over", "judged", kIdleOutputs, 30000, 500), run.story());
    EXPECT_WORDS(run, "judged", "pulse over", kIdleOutputs);
    QCOMPARE(recordLinesOf(run, 761), 1);
    QVERIFY2(run.stop(), run.story());
}

// A mark cut to nothing: the start judges the mould, but the camera delivers no picture, so it waits
// with the clamp held, and the box is killed then (a power cut). The slot it was judging was on disk
// before it waited: started again with a piece in view, the box judges the mould before any word
// allows the clamp, and the alarm latches.
void killedWhileTheStartJudges(BoxRun &run)
{
    QVERIFY(writeTestFile(run.path(QStringLiteral("detectionmark.txt")), QByteArray()));
    QVERIFY(servesUndecodable(run));
    QVERIFY(run.start(kReleased));
    QVERIFY2(waitForStartLine(run, 1), run.story());
    QTRY_COMPARE_WITH_TIMEOUT(recordLinesOf(run, 761), 1, 5000);
    run.settle("waiting", 1000);
    EXPECT_HELD(run, "waiting", kBlocked);
    EXPECT_NO_RELEASE_SENT(run, "start", "waiting");
    run.kill();
    QVERIFY(run.serve(Pictures::Foreign));
    QVERIFY(run.start());
    QVERIFY2(run.settleOn("alarm", "start", kAlarm, 30000), run.story());
    EXPECT_NO_RELEASE_SENT(run, "start", "alarm");
    QCOMPARE(recordLinesOf(run, 761), 2);
    QVERIFY2(run.stop(), run.story());
}

// Started again after a kill, `pictures` in view: held from the first word, the mould judged once (one
// record line of the detection cut short), then latched (a piece) or released once (good).
void judgedOnceAfterTheRestart(BoxRun &run, Pictures pictures)
{
    run.kill();
    QVERIFY(run.serve(pictures));
    QVERIFY(run.start());
    const quint16 verdict = pictures == Pictures::Foreign ? kAlarm : kReleased;
    QVERIFY2(run.settleOn("judged", "start", verdict, 30000, 1500), run.story());
    qInfo("%s %lld ms after the restart", verdict == kAlarm ? "latched" : "released",
          run.changedAt("start", verdict) - run.at("start"));
    QTRY_COMPARE_WITH_TIMEOUT(recordLinesOf(run, 761), 1, 30000);
    EXPECT_HELD(run, "judged", verdict);
    const QVector<quint16> sent = run.wordsBetween("start", "judged");
    QVERIFY2(std::count_if(sent.cbegin(), sent.cend(), clampAllowed) == (verdict == kReleased ? 1 : 0),
             run.story());
    QVERIFY2(run.record().filter(textsOf(152).first().trimmed()).size() == (verdict == kAlarm ? 1 : 0),
             run.story());
    QVERIFY2(run.stop(), run.story());
}

// ---- the mark of an opening the GUI thread never read ---------------------------------------------
// The GUI thread stopped (ptrace) before a 300 ms opening pulse; the box killed 500 ms after the
// opening, the thread still held: only the I/O thread saw the opening, and it asked for the opening's
// mark. The restarted box judges that mould before any word allows the clamp, with one record line of
// the detection cut short: a piece latches the alarm, a good mould is released once judged.
void killedWhileHeldAfterAPulse(BoxRun &run, Pictures pictures)
{
    QVERIFY(run.start());
    QVERIFY2(run.waitUntilStarted(), run.story());
    {
        MainThreadHold hold;
        QVERIFY2(servedThenHeld(run, pictures, hold, QStringLiteral("opening")),
                 "pictures not served, or ptrace could not stop the box's main thread");
        QVERIFY(run.pulseInputs(0x001, 60));
        std::this_thread::sleep_until(std::chrono::steady_clock::now() + std::chrono::milliseconds(200));
        QCOMPARE(::kill(run.pid(), SIGKILL), 0);
        run.mark("killed");
        // A traced process is reported dead to its parent only once its tracer has let it go.
    }
    judgedOnceAfterTheRestart(run, pictures);
}

void killedWhileHeldAfterAPulsePiece(BoxRun &run)
{
    killedWhileHeldAfterAPulse(run, Pictures::Foreign);
}

void killedWhileHeldAfterAPulseGood(BoxRun &run)
{
    killedWhileHeldAfterAPulse(run, Pictures::Good);
}

// The same with a debounce of 0.2 s: the poll asks for the mark once the 300 ms opening has lasted.
void killedWhileHeldAfterADebouncedPulsePiece(BoxRun &run)
{
    QVERIFY(run.sql(debounceSql(2)));
    killedWhileHeldAfterAPulse(run, Pictures::Foreign);
}

// ---- an opening a pass read without judging it ----------------------------------------------------
// Until the mark on disk names a slot, at most `ms`.
void waitForASlotMark(const BoxRun &run, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!readTestFile(run.path(QStringLiteral("detectionmark.txt"))).startsWith("slot") &&
           t.elapsed() < ms)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

// A camera lost (its pictures stop; the board gets the block). The mark's thread and then the GUI
// thread are stopped (ptrace); a 300 ms opening; the poll says the cycle stalled; the GUI thread goes
// on, and the pass that reads the opening records it and returns at the lost camera. Only then the
// mark's thread goes on, and the box is killed. Started again with the camera back, it judges that
// mould.
void readWithACameraLostThenKilled(BoxRun &run, Pictures pictures)
{
    QVERIFY(run.start());
    QVERIFY2(run.waitUntilStarted(), run.story());
    QVERIFY(run.serve(Pictures::None));
    run.mark("pictures gone");
    QVERIFY2(run.waitForHeld(kBlocked, 5000), run.story());
    const QString stallText = textsOf(775).at(kBoxLanguage);
    const QString stallLine = stallText.left(stallText.indexOf(QStringLiteral("%1")));
    {
        MainThreadHold markThread;
        MainThreadHold gui;
        QVERIFY2(markThread.holdThread(run.pid(), markThreadOf(run.pid())), "the mark's thread not stopped");
        QVERIFY2(gui.hold(run.pid()), "ptrace could not stop the box's main thread");
        run.mark("opening");
        QVERIFY(run.pulseInputs(0x001, 60));
        QVERIFY2(run.waitForLog(QStringLiteral("Cycle stalled: input 0 entered"), 5000), run.story());
        QVERIFY(gui.release());
        QTRY_COMPARE_WITH_TIMEOUT(run.record().filter(stallLine).size(), 1, 5000);
        QVERIFY(markThread.release());
        waitForASlotMark(run, 2000);
    }
    judgedOnceAfterTheRestart(run, pictures);
}

void readWithACameraLostThenKilledPiece(BoxRun &run)
{
    readWithACameraLostThenKilled(run, Pictures::Foreign);
}

void readWithACameraLostThenKilledGood(BoxRun &run)
{
    readWithACameraLostThenKilled(run, Pictures::Good);
}

// The mark's thread stopped (ptrace), a 300 ms opening, and the GUI thread stopped where its pass has
// read the opening and is about to start the cycle (`MachineCycle::startCycle`). The mark's thread
// goes on, and the box is killed with the GUI thread still there. Started again, it judges that mould.
void heldAtTheCycleStartThenKilled(BoxRun &run, Pictures pictures)
{
    QVERIFY(run.start());
    QVERIFY2(run.waitUntilStarted(), run.story());
    const unsigned long startCycle = codeAddressOf(run.pid(), "_ZN12MachineCycle10startCycleEi");
    QVERIFY2(startCycle != 0, "MachineCycle::startCycle not found in the running program");
    {
        MainThreadHold markThread;
        MainThreadHold gui;
        QVERIFY2(markThread.holdThread(run.pid(), markThreadOf(run.pid())), "the mark's thread not stopped");
        QVERIFY2(gui.holdAt(run.pid(), startCycle), "no breakpoint in the box's main thread");
        run.mark("opening");
        QVERIFY(run.pulseInputs(0x001, 60));
        QVERIFY2(gui.waitUntilStopped(5000), "the box's main thread never came to its cycle start");
        run.mark("at the cycle start");
        QVERIFY(markThread.release());
        waitForASlotMark(run, 2000);
        QCOMPARE(::kill(run.pid(), SIGKILL), 0);
        run.mark("killed");
        // A traced process is reported dead to its parent only once its tracer has let it go.
    }
    judgedOnceAfterTheRestart(run, pictures);
}

void heldAtTheCycleStartThenKilledPiece(BoxRun &run)
{
    heldAtTheCycleStartThenKilled(run, Pictures::Foreign);
}

void heldAtTheCycleStartThenKilledGood(BoxRun &run)
{
    heldAtTheCycleStartThenKilled(run, Pictures::Good);
}

// Controls: a healthy box quit (SIGTERM) at rest after good moulds opened by `inputs`, one after the
// other, and started again, judges nothing: blocked, then released by the start of detection, with no
// record line of a detection cut short.
void quitAtRestJudgesNothing(BoxRun &run, const char *sql, const QVector<quint16> &inputs)
{
    if (sql)
        QVERIFY(run.sql(sql));
    QVERIFY(run.start());
    QVERIFY2(run.waitUntilStarted(), run.story());
    for (int n = 0; n < inputs.size(); ++n) {
        const QString opening = QStringLiteral("opening %1").arg(n + 1);
        run.mark(opening);
        run.press(inputs[n]);
        QVERIFY2(run.settleOn(QStringLiteral("judged %1").arg(n + 1), opening, kReleased, 30000, 500),
                 run.story());
    }
    QVERIFY2(run.stop(), run.story());
    QVERIFY(run.start());
    QVERIFY2(waitForStartLine(run, 2), run.story());
    run.settle("up", 2000);
    EXPECT_WORDS(run, "start", "up", kBlocked, kReleased);
    EXPECT_HELD(run, "up", kReleased);
    QCOMPARE(recordLinesOf(run, 761), 0);
    QVERIFY2(run.stop(), run.story());
}

void quitAtRestJudgesNothingDefault(BoxRun &run)
{
    quitAtRestJudgesNothing(run, nullptr, {0x001, 0x001});
}

void quitAtRestJudgesNothingTurntable(BoxRun &run)
{
    quitAtRestJudgesNothing(run, kTurntableBothMoulds, {0x001, 0x008, 0x001, 0x008});
}

// The box asked to quit (SIGTERM) with its main thread held where the quit stops the board's poll, and
// the mould opens just then, a piece in the cavity: the poll blocks the clamp, the opening's mark is on
// disk when the box has ended, and the restarted box judges that mould before any word allows the
// clamp: the alarm latches, with one record line of the detection cut short.
void openingWhileTheBoxQuits(BoxRun &run)
{
    QVERIFY(run.start());
    QVERIFY2(run.waitUntilStarted(), run.story());
    QVERIFY(run.serve(Pictures::Foreign));
    {
        const unsigned long stopPoll = codeAddressOf(run.pid(), "_ZN11ControlPort12stopIOThreadEv");
        QVERIFY2(stopPoll != 0, "ControlPort::stopIOThread not found in the running program");
        MainThreadHold trap;
        QVERIFY2(trap.holdAt(run.pid(), stopPoll), "no breakpoint in the box's main thread");
        run.mark("quit");
        QCOMPARE(::kill(run.pid(), SIGTERM), 0);
        QVERIFY2(trap.waitUntilStopped(30000), run.story());
        run.mark("opening");
        run.setInputs(0x001);
        const bool blocked = run.waitForHeld(kBlocked, 5000);
        run.setInputs(0);
        QVERIFY2(blocked, run.story());
        QVERIFY(trap.release());
    }
    QVERIFY2(run.waitForQuit(30000), run.story());
    run.mark("ended");
    QVERIFY(run.start());
    QVERIFY2(run.settleOn("judged", "start", kAlarm, 30000, 1500), run.story());
    EXPECT_NO_RELEASE(run, "ended", "judged");
    EXPECT_HELD(run, "judged", kAlarm);
    QTRY_COMPARE_WITH_TIMEOUT(recordLinesOf(run, 761), 1, 3000);
    QVERIFY2(run.stop(), run.story());
}

const Row kRestartRows[] = {
    {"kill at the alarm word (10 kills: latched after the restart)", killAtTheAlarmWord},
    {"kill during detection (15 kills: latched after the restart)", killDuringDetection},
    {"kill during re-detection, 3 re-detections (15 kills: latched after the restart)",
     killDuringReDetection},
    {"latch write fails on a full file system, then recovers", latchWriteFailsThenRecovers},
    {"latch file deleted while latched", latchFileDeletedWhileLatched},
    {"control: restart after a completed OK cycle", restartAfterGoodCycle},
    {"control: crash-restart with good pictures releases once judged", crashRestartWithGoodPictures},
    {"external trigger, killed during detection (held until the next trigger, judged once)",
     extTriggerInterruptedDetection},
    {"mark of a product detection cut short (held from the first word, product and mould judged, latched)",
     productDetectionCutShort},
    {"OK/NG pulse mode, mark of a mould detection cut short, good mould (the OK pulse alone once judged)",
     okNgPulseCutShortGoodMould},
    {"safety door at 1 frame a second, killed while its detection waits (latched after the restart)",
     doorDetectionKilledWhileWaiting},
    {"two-colour machine, killed in the countdown of the mould input 2 chose (latched after the restart)",
     twoColourLeftMouldKilledInItsCountdown},
    {"mark cut to 0 bytes, killed while the start waits for a picture to judge it (latched after the "
     "restart)",
     killedWhileTheStartJudges},
    // The mark of an opening the GUI thread never read.
    {"GUI thread held, pulse opening, killed while held, piece (judged after the restart, latched)",
     killedWhileHeldAfterAPulsePiece},
    {"GUI thread held, pulse opening, killed while held, good (judged after the restart, released)",
     killedWhileHeldAfterAPulseGood},
    {"GUI thread held, debounce 0.2 s, 300 ms pulse opening, killed while held, piece (judged after the "
     "restart, latched)",
     killedWhileHeldAfterADebouncedPulsePiece},
    // The order in which the box's threads end when it quits.
    {"opening while the quit stops the board's poll, piece (judged after the restart, latched)",
     openingWhileTheBoxQuits},
    // An opening a pass read without judging it keeps its mark.
    {"camera lost, mark's thread held until a pass read the opening, killed, piece (judged after the "
     "restart, latched)",
     readWithACameraLostThenKilledPiece},
    {"camera lost, mark's thread held until a pass read the opening, killed, good (judged after the "
     "restart, released)",
     readWithACameraLostThenKilledGood},
    {"GUI thread held at its cycle start after the read, killed, piece (judged after the restart, latched)",
     heldAtTheCycleStartThenKilledPiece},
    {"GUI thread held at its cycle start after the read, killed, good (judged after the restart, released)",
     heldAtTheCycleStartThenKilledGood},
    {"control: quit at rest after two good moulds, started again (judges nothing)",
     quitAtRestJudgesNothingDefault},
    {"control: turntable, both cycle-start inputs, quit at rest, started again (judges nothing)",
     quitAtRestJudgesNothingTurntable},
};

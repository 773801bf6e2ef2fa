#pragma once
// Rows of the interlock table (tst_interlock.cpp, which includes this inside its own namespace after
// BoxRun and its checks): what a start of the box takes as a detection cut short. A mould that opens
// while the box is starting (its start-up question waiting for a touch) and a mark that a power cut or
// a damaged disk left unreadable are judged before any word allows the clamp.

std::unique_ptr<XServer> gScreen; // started by the first row that needs it, ended with the test

// The box started under an X server of the test's own (800 x 600, the screen the rows' regions are
// laid out for), its camera-serial question waiting for a touch: the mould opens while it waits, with
// camera 1 seeing `pictures` (None: nothing opens, good pictures). `polls` of the board report input 0
// (0: held until well after the answer). The start judges that mould before any word allows the
// clamp: a good one is released once, a piece latches the alarm; one record line of the detection
// cut short, and the level the start took starts no second cycle. With no opening the start is as
// ever: released at once, no such line, and the next good mould released.
void openingDuringTheQuestion(BoxRun &run, Pictures pictures, int polls)
{
    if (!gScreen) {
        gScreen = std::make_unique<XServer>();
        QVERIFY2(gScreen->start(QStringLiteral("800x600x24")), "no Xvfb to show the start-up question on");
        qputenv("DISPLAY", gScreen->display.toLatin1());
    }
    // A server just started has been seen to refuse Xlib's first connection although xcb's went
    // through: the finger tries again for a while.
    std::unique_ptr<XTouch> finger;
    QVERIFY2(QTest::qWaitFor(
                 [&] {
                     finger = std::make_unique<XTouch>();
                     return finger->usable();
                 },
                 10000),
             qPrintable("no XTest (libX11.so.6, libXtst.so.6) to touch the screen on " + gScreen->display));
    run.setEnv(QStringLiteral("MG_BOX_ANSWERS"), QString());
    run.setEnv(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    run.setEnv(QStringLiteral("QT_XCB_GL_INTEGRATION"), QStringLiteral("none"));
    run.setEnv(QStringLiteral("DISPLAY"), gScreen->display);
    const bool opens = pictures != Pictures::None;
    QVERIFY(run.serve(pictures == Pictures::Foreign ? Pictures::Foreign : Pictures::Good));
    QVERIFY(run.start(kReleased));
    QVERIFY2(run.waitForLog(QStringLiteral("asking whether to clear the saved camera serials"), 60000),
             run.story());
    // The question box (560 x 300) on top, drawn.
    XWindow question;
    QVERIFY2(QTest::qWaitFor(
                 [&] {
                     const QVector<XWindow> top = viewableWindowsTopFirst();
                     question = top.isEmpty() ? XWindow() : top.first();
                     return question.geometry.size() == QSize(560, 300);
                 },
                 20000),
             run.story());
    QTest::qWait(500);
    run.mark("opening");
    if (opens && polls > 0)
        QVERIFY(run.pulseInputs(0x001, polls));
    else if (opens)
        run.setInputs(0x001);
    QTest::qWait(300);
    run.mark("answered");
    finger->touch(question.geometry.topLeft() + QPoint(398, 250)); // "Cancel": the serials are kept
    const quint16 verdict = pictures == Pictures::Foreign ? kAlarm : kReleased;
    QVERIFY2(run.settleOn("judged", "answered", verdict, 30000, 1500), run.story());
    qInfo("%s %lld ms after the answer", verdict == kAlarm ? "latched" : "released",
          run.changedAt("answered", verdict) - run.at("answered"));
    run.setInputs(0);
    run.settle("after", 1500);
    EXPECT_WORDS(run, "start", "after", kBlocked, verdict);
    QCOMPARE(recordLinesOf(run, 761), opens ? 1 : 0);
    // The start judges it once: the first pass starts no cycle of its own on the entry the start took.
    QCOMPARE(run.logText().count(QStringLiteral("of the detection cut short by the stop")), opens ? 1 : 0);
    const int alarmLines = run.record().filter(textsOf(152).first().trimmed()).size();
    QCOMPARE(alarmLines, pictures == Pictures::Foreign ? 1 : 0);
    if (pictures != Pictures::Foreign) {
        run.mouldOpens("next opening");
        QVERIFY2(run.settleOn("next judged", "next opening", kReleased, 10000), run.story());
        EXPECT_WORDS(run, "after", "next judged", kBlocked, kReleased);
    }
    QVERIFY2(run.stop(), run.story());
}

void pulseDuringTheQuestionForeign(BoxRun &run)
{
    openingDuringTheQuestion(run, Pictures::Foreign, 60);
}

void pulseDuringTheQuestionGood(BoxRun &run)
{
    openingDuringTheQuestion(run, Pictures::Good, 60);
}

void levelDuringTheQuestionForeign(BoxRun &run)
{
    openingDuringTheQuestion(run, Pictures::Foreign, 0);
}

void levelDuringTheQuestionGood(BoxRun &run)
{
    openingDuringTheQuestion(run, Pictures::Good, 0);
}

void noInputDuringTheQuestion(BoxRun &run)
{
    openingDuringTheQuestion(run, Pictures::None, 0);
}

// The box started with its questions answered by themselves, the mould opening with a piece in view
// 50 ms after the board's first poll and held for 3 s: the start, still under way then (cameras,
// pages), judges that mould before any word allows the clamp, and the alarm latches; the level the
// start took starts no second cycle.
void openingFromTheFirstPoll(BoxRun &run)
{
    QVERIFY(run.serve(Pictures::Foreign));
    QVERIFY(run.start(kReleased));
    QVERIFY2(run.waitForPolls(1, 60000), run.story());
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    run.mark("opening");
    run.setInputs(0x001);
    QTest::qWait(3000);
    run.setInputs(0);
    QVERIFY2(run.settleOn("alarm", "start", kAlarm, 30000), run.story());
    qInfo("latched %lld ms after the opening", run.changedAt("start", kAlarm) - run.at("opening"));
    EXPECT_WORDS(run, "start", "alarm", kBlocked, kAlarm);
    QCOMPARE(recordLinesOf(run, 761), 1);
    QVERIFY2(run.stop(), run.story());
}

// Killed 250 ms into the detection of a piece in the cavity, the mark then left as `mark` (what a power
// cut or a damaged disk leaves), started again with the machine waiting: the start takes the mark for
// a detection cut short. The mould is judged before any word allows the clamp, and the alarm latches;
// one record line of the detection cut short, one log line saying why.
void damagedMark(BoxRun &run, const QByteArray &mark, const QString &said)
{
    QVERIFY(run.start());
    QVERIFY2(run.waitUntilStarted(), run.story());
    QVERIFY(run.serve(Pictures::Foreign));
    QTest::qWait(300);
    run.setInputs(0x001);
    QVERIFY2(run.killWhenHolds("killed", kBlocked, 250, 5000), run.story());
    run.setInputs(0);
    QVERIFY(writeTestFile(run.path(QStringLiteral("detectionmark.txt")), mark));
    QVERIFY(run.start());
    QVERIFY2(run.settleOn("alarm", "start", kAlarm, 30000), run.story());
    qInfo("latched %lld ms after the restart", run.changedAt("start", kAlarm) - run.at("start"));
    EXPECT_NO_RELEASE_SENT(run, "start", "alarm");
    EXPECT_HELD(run, "alarm", kAlarm);
    QCOMPARE(recordLinesOf(run, 761), 1);
    QCOMPARE(run.logText().count(said), 1);
    QVERIFY2(run.stop(), run.story());
}

void markCutToNothing(BoxRun &run)
{
    damagedMark(run, QByteArray(), QStringLiteral("taken as a detection cut short"));
}

void markOfZeros(BoxRun &run)
{
    damagedMark(run, QByteArray(16, '\0'), QStringLiteral("taken as a detection cut short"));
}

void markOfAnotherBox(BoxRun &run)
{
    damagedMark(run, QByteArray("slot 7 side 1  \n"), QStringLiteral("names slot 7 of a box with 2 slots"));
}

// A mark naming the first slot this box does not have (slot 2 of 2) is no mark of this box either.
void markOfTheSlotBeyondTheLast(BoxRun &run)
{
    damagedMark(run, QByteArray("slot 2 side 1  \n"), QStringLiteral("names slot 2 of a box with 2 slots"));
}

// ---- a special file at the mark's path ----------------------------------------------------------
// Killed 250 ms into the detection of a piece in the cavity, a FIFO then put where the mark was: the
// start neither stops at it (an open() for reading would wait for a writer for good) nor replaces it.
// It takes it as a detection cut short: the mould is judged before any word allows the clamp and the
// alarm latches; one record line of the detection cut short, one log line naming what stands there.
void markIsAFifo(BoxRun &run)
{
    QVERIFY(run.start());
    QVERIFY2(run.waitUntilStarted(), run.story());
    QVERIFY(run.serve(Pictures::Foreign));
    QTest::qWait(300);
    run.setInputs(0x001);
    QVERIFY2(run.killWhenHolds("killed", kBlocked, 250, 5000), run.story());
    run.setInputs(0);
    const QByteArray mark = QFile::encodeName(run.path(QStringLiteral("detectionmark.txt")));
    QVERIFY(QFile::remove(QFile::decodeName(mark)));
    QCOMPARE(::mkfifo(mark.constData(), 0644), 0);
    QVERIFY(run.start());
    QVERIFY2(run.settleOn("alarm", "start", kAlarm, 30000), run.story());
    qInfo("latched %lld ms after the restart", run.changedAt("start", kAlarm) - run.at("start"));
    EXPECT_NO_RELEASE_SENT(run, "start", "alarm");
    EXPECT_HELD(run, "alarm", kAlarm);
    QCOMPARE(recordLinesOf(run, 761), 1);
    QCOMPARE(run.logText().count(QStringLiteral("detectionmark.txt is a FIFO and not a plain file")), 1);
    QVERIFY2(run.stop(), run.story());
}

const Row kStartRows[] = {
    {"opening pulse while the start-up question waits, piece (latched, never released)",
     pulseDuringTheQuestionForeign},
    {"opening pulse while the start-up question waits, good (released once judged)",
     pulseDuringTheQuestionGood},
    {"opening held across the start-up answer, piece (latched, never released)",
     levelDuringTheQuestionForeign},
    {"opening held across the start-up answer, good (one judgement, released)", levelDuringTheQuestionGood},
    {"control: start-up question answered with no input change (released at once)",
     noInputDuringTheQuestion},
    {"opening held from 50 ms after the first poll, answers automatic (latched, never released)",
     openingFromTheFirstPoll},
    {"mark cut to 0 bytes (judged, latched, never released)", markCutToNothing},
    {"mark of 16 zero bytes (judged, latched, never released)", markOfZeros},
    {"mark naming slot 7 on a 2-slot box (judged, latched, never released)", markOfAnotherBox},
    {"mark naming slot 2 on a 2-slot box (judged, latched, never released)", markOfTheSlotBeyondTheLast},
    // A special file at the mark's path.
    {"FIFO at the mark's path (the start goes on: judged, latched, never released)", markIsAFifo},
};

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
        QVERIFY2(run.settleOn("next judged", "next opening", kReleased, 30000), run.story());
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
    QVERIFY2(run.serveSeen(Pictures::Foreign), run.story());
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
    QVERIFY2(run.serveSeen(Pictures::Foreign), run.story());
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

// ---- a special file at a database's journal path ------------------------------------------------
enum class AtJournal
{
    Fifo,
    Directory,
    LinkToZero
};

// `file` sound and holding rows of the operator's (PARAM.db: the regions of camera 1), then `what` put
// at "<file>-journal" before a start (TemperatureData.db: with the day's archive due at that start).
// SQLite would open it as the journal: a FIFO stops that open for good, a directory or /dev/zero
// make the file read as damaged. The start goes on: the clamp released, a good mould judged and
// released, SIGTERM answered; the file kept with its rows, nothing moved aside but what stood at the
// journal's path (never opened, a link moved as a link), and one log line naming what that was.
void specialFileAtJournal(BoxRun &run, const QString &file, AtJournal what)
{
    QString table = QStringLiteral("RECORD");
    QString column = QStringLiteral("remarks");
    QString count = QStringLiteral("select count(*) from cammer0 where name in ('detect1', 'ROI1-0')");
    int rows = 2;
    if (file != QLatin1String("PARAM.db")) {
        if (file == QLatin1String("SN.db"))
            table = QStringLiteral("sysparam"), column = QStringLiteral("name");
        else if (file == QLatin1String("ResStatistics.db"))
            table = QStringLiteral("resstatistics"), column = QStringLiteral("name");
        else if (file == QLatin1String("TemperatureData.db"))
            table = QStringLiteral("camera1"), column = QStringLiteral("insertTime");
        const QString empty = QString(file).replace(QStringLiteral(".db"), QStringLiteral("NULL.db"));
        QVERIFY(QFile::exists(run.path(file)) || QFile::copy(run.path(empty), run.path(file)));
        for (int n = 1; n <= 3; ++n)
            QVERIFY(execOnDatabase(
                run.path(file),
                QStringLiteral("insert into %1 (%2) values ('committed-%3')").arg(table, column).arg(n)));
        count = QStringLiteral("select count(*) from %1 where %2 like 'committed-%'").arg(table, column);
        rows = 3;
    }
    QString kept = run.path(file);
    if (file == QLatin1String("TemperatureData.db")) {
        const QString yesterday = QDate::currentDate().addDays(-1).toString(Qt::ISODate);
        QVERIFY(writeTestFile(run.path(QStringLiteral("time.txt")), yesterday.toLatin1()));
        kept = run.path(QStringLiteral("TemperatureData/%1.db").arg(yesterday));
    }
    const QByteArray journal = QFile::encodeName(run.path(file + QStringLiteral("-journal")));
    const char *type = "a FIFO";
    if (what == AtJournal::Fifo) {
        QCOMPARE(::mkfifo(journal.constData(), 0644), 0);
    } else if (what == AtJournal::Directory) {
        QCOMPARE(::mkdir(journal.constData(), 0755), 0);
        type = "a directory";
    } else {
        QCOMPARE(::symlink("/dev/zero", journal.constData()), 0);
        type = "a character device";
    }
    QVERIFY(run.start());
    QVERIFY2(run.waitUntilStarted(), run.story());
    run.mouldOpens(QStringLiteral("opening"));
    QVERIFY2(run.settleOn(QStringLiteral("judged"), QStringLiteral("opening"), kReleased, 30000),
             run.story());
    QVERIFY2(run.stop(), run.story());
    // Nothing but a plain file at the journal's path of the file read below: a FIFO would stop the read.
    const auto plainOrNone = [](const QString &db) {
        struct stat at;
        return ::lstat(QFile::encodeName(db + QStringLiteral("-journal")).constData(), &at) != 0 ||
               S_ISREG(at.st_mode);
    };
    QVERIFY(plainOrNone(run.path(file)) && plainOrNone(kept));
    QCOMPARE(countRows(kept, count), rows);
    const QDir dir(run.path(QStringLiteral(".")));
    const QFileInfoList aside =
        dir.entryInfoList({file + QStringLiteral("*.damaged-*")}, QDir::AllEntries | QDir::System);
    QVERIFY2(aside.size() == 1 &&
                 aside.first().fileName().startsWith(file + QStringLiteral("-journal.damaged-")),
             run.story());
    struct stat seen;
    QCOMPARE(::lstat(QFile::encodeName(aside.first().filePath()).constData(), &seen), 0);
    QVERIFY(what == AtJournal::Fifo        ? S_ISFIFO(seen.st_mode)
            : what == AtJournal::Directory ? S_ISDIR(seen.st_mode)
                                           : S_ISLNK(seen.st_mode));
    QVERIFY(!QFile::exists(run.path(QStringLiteral("PARAM.db.restored"))));
    QCOMPARE(run.logText().count(QStringLiteral("-journal is %1 and not a plain file").arg(type)), 1);
}

const char *const kDatabases[] = {"PARAM.db", "RECORD.db", "SN.db", "ResStatistics.db",
                                  "TemperatureData.db"};

// A row of the table: database `d` of kDatabases with `what` at its journal's path.
template <int d, AtJournal what> void specialFileAtJournal(BoxRun &run)
{
    specialFileAtJournal(run, QString::fromLatin1(kDatabases[d]), what);
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
    // A special file at a database's journal path: the start goes on, the database is kept.
    {"FIFO at PARAM.db-journal (aside; regions kept, released)", specialFileAtJournal<0, AtJournal::Fifo>},
    {"FIFO at RECORD.db-journal (aside; record kept, released)", specialFileAtJournal<1, AtJournal::Fifo>},
    {"FIFO at SN.db-journal (aside; serials kept, released)", specialFileAtJournal<2, AtJournal::Fifo>},
    {"FIFO at ResStatistics.db-journal (aside; counts kept, released)",
     specialFileAtJournal<3, AtJournal::Fifo>},
    {"FIFO at TemperatureData.db-journal, the day's archive due (aside; archived whole, released)",
     specialFileAtJournal<4, AtJournal::Fifo>},
    {"directory at PARAM.db-journal (aside; regions kept, released)",
     specialFileAtJournal<0, AtJournal::Directory>},
    {"directory at RECORD.db-journal (aside; record kept, released)",
     specialFileAtJournal<1, AtJournal::Directory>},
    {"link to /dev/zero at PARAM.db-journal (the link aside; regions kept, released)",
     specialFileAtJournal<0, AtJournal::LinkToZero>},
    {"link to /dev/zero at RECORD.db-journal (the link aside; record kept, released)",
     specialFileAtJournal<1, AtJournal::LinkToZero>},
};

// The real program, started as the run command starts it, in a laid-out working directory with the
// board simulator on its I/O port and one simulated camera serving good pictures of an open mould.
// A mould region that compares against templates learns them from the first good cycles (automatic
// template update), good moulds release the clamp, a piece left in the cavity latches the alarm, and the
// re-check input clears it once the piece is gone; everything is seen where the machine sees it: on
// the board's outputs.

#include "boardsimulator.h"
#include "picturereads.h"
#include "testfiles.h"
#include "testworkdir.h"
#include "uitexttable.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

#include <algorithm>
#include <csignal>

namespace {

// Shipped output levels: output 0 (clamp) drives its bit as it is, output 2 (alarm) inverted.
bool clampBlocked(quint16 word)
{
    return (word & 0x1) != 0;
}
bool alarmOn(quint16 word)
{
    return (word & 0x4) == 0;
}

bool logHas(const QString &dir, const QString &text)
{
    return readTextLines(dir + QStringLiteral("/cnt_net/workspace/LOG/log.txt")).join('\n').contains(text);
}

// The outputs the host set after the last clearCommands, in order (command 1 carries the word).
QVector<quint16> outputWords(const BoardSimulator &board)
{
    QVector<quint16> words;
    for (const BoardSimulator::Command &c : board.commands()) {
        if (c.command == 1)
            words.append(c.value);
    }
    return words;
}

} // namespace

class TestBoxCycle : public QObject
{
    Q_OBJECT
private slots:
    void goodMouldsReleaseTheClampAForeignObjectLatchesTheAlarm()
    {
        TestWorkDir dir;
        QVERIFY(dir.isValid());
        const QString param = dir.filePath(QStringLiteral("PARAM.db"));
        // Automatic template update on; one re-detection of an NG mould before the alarm latches.
        QVERIFY(execOnDatabase(param, "update sysparam set value='1 3 100' where name='system4'"));
        QVERIFY(
            execOnDatabase(param, "update sysparam set value='0 0 0 -1 0 0 1 0 0' where name='system1'"));
        // Camera 1, mould slot: one defect region (tolerance 30 grey levels) inside the left cavity,
        // stored in screen coordinates of the offscreen screen (800 x 600) as the editor stores them.
        QVERIFY(execOnDatabase(param, "insert into cammer0 values('detect1', '1')"));
        QVERIFY(execOnDatabase(param,
                               "insert into cammer0 values('ROI1-0', '3 30 100 0 1 0 0 112 150 320 438')"));

        const QString shipped = TestWorkDir::shippedDir() + QStringLiteral("/simcam/1/");
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("simcam/1")));
        const QStringList good = {"01_good.jpg", "02_good.jpg", "04_good.jpg", "05_good.jpg"};
        for (const QString &name : good)
            QVERIFY(QFile::copy(shipped + name, dir.filePath(QStringLiteral("simcam/1/") + name)));

        BoardSimulator board; // port 0 of the shipped parameters, where the desktop build looks
        QVERIFY(board.open(dir.filePath(QStringLiteral("dev/ttyS0"))));

        QProcess box;
        box.setWorkingDirectory(dir.path());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
        env.insert(QStringLiteral("MG_BOX_ANSWERS"), QStringLiteral("0")); // keep the saved serials
        box.setProcessEnvironment(env);
        // Its log file says everything; an unread pipe would stop the box once it is full.
        box.setStandardOutputFile(QProcess::nullDevice());
        box.setStandardErrorFile(QProcess::nullDevice());
        box.start(QStringLiteral(MG_APP_BINARY), QStringList());
        QVERIFY(box.waitForStarted(10000));
        // What went wrong, for a failing check: the end of the box's log and the outputs it set.
        auto output = [&] {
            const QStringList log =
                readTextLines(dir.filePath(QStringLiteral("cnt_net/workspace/LOG/log.txt")));
            QByteArray said = log.mid(std::max(0, int(log.size()) - 12)).join('\n').toUtf8();
            said += "\noutputs:";
            for (quint16 w : outputWords(board))
                said += ' ' + QByteArray::number(w, 16);
            return said;
        };

        // Detection started: the clamp may close, the alarm is off.
        QTRY_VERIFY2_WITH_TIMEOUT(board.commandCount(1) > 0 && !clampBlocked(board.outputs()) &&
                                      !alarmOn(board.outputs()),
                                  output().constData(), 60000);
        QVERIFY(logHas(dir.path(), QStringLiteral("asking whether to clear the saved camera serials")));

        // An input held for longer than the stored debounce of 0.1 s: input 0 the mould opening,
        // input 1 the re-check.
        auto press = [&board](quint16 input) {
            board.clearCommands();
            board.setInputs(input);
            QTest::qWait(300);
            board.setInputs(0);
        };
        // The mould stays open until the clamp is blocked (at most 5 s), as on a machine: a box that has
        // only just started may not poll its inputs yet when detection is already on.
        auto mouldOpens = [&board] {
            board.clearCommands();
            board.setInputs(0x001);
            QElapsedTimer open;
            open.start();
            QTest::qWait(300);
            while (!clampBlocked(board.outputs()) && open.elapsed() < 5000)
                QTest::qWait(20);
            board.setInputs(0);
        };
        // Blocked by the mould-open edge, then released by the judged mould.
        auto releasedAfterBlock = [&board] {
            const QVector<quint16> words = outputWords(board);
            const auto blocked = std::find_if(words.begin(), words.end(), clampBlocked);
            return std::find_if_not(blocked, words.end(), clampBlocked) != words.end();
        };
        auto alarmSeen = [&board] {
            const QVector<quint16> words = outputWords(board);
            return std::any_of(words.begin(), words.end(), alarmOn);
        };
        // Every picture the camera serves becomes `picture` (name -> picture of that name when empty),
        // and the camera has read one of them and gone on to the next: one is its newest.
        auto serve = [&](const QString &picture) {
            PictureReads reads(dir.filePath(QStringLiteral("simcam/1")));
            for (const QString &name : good) {
                const QString target = dir.filePath(QStringLiteral("simcam/1/") + name);
                QFile::copy(shipped + (picture.isEmpty() ? name : picture), target + QStringLiteral(".new"));
                QCOMPARE(::rename(qPrintable(target + QStringLiteral(".new")), qPrintable(target)), 0);
            }
            QVERIFY2(reads.waitFor(good, 2, 60000), output().constData());
        };

        // First good mould: no template yet, it passes and becomes the first template, which the end
        // of the result display trains.
        mouldOpens();
        QTRY_VERIFY2_WITH_TIMEOUT(releasedAfterBlock(), output().constData(), 10000);
        QVERIFY(!alarmSeen());
        QTRY_VERIFY2(QFile::exists(dir.filePath(QStringLiteral("cammer12/template0.bmp"))),
                     output().constData());
        QTRY_VERIFY_WITH_TIMEOUT(logHas(dir.path(), QStringLiteral("mould templates rebuilt")), 10000);

        // Second good mould, now judged against the learnt template.
        mouldOpens();
        QTRY_VERIFY2_WITH_TIMEOUT(releasedAfterBlock(), output().constData(), 10000);
        QVERIFY(!alarmSeen());
        QTRY_VERIFY(QFile::exists(dir.filePath(QStringLiteral("cammer12/template1.bmp"))));

        // A piece of plastic left in the cavity: every picture the camera serves shows it from now on.
        serve(QStringLiteral("03_foreign.jpg"));
        mouldOpens();
        QTRY_VERIFY2_WITH_TIMEOUT(alarmSeen(), output().constData(), 10000);
        QVERIFY(!releasedAfterBlock());
        QVERIFY(clampBlocked(board.outputs()));
        QVERIFY(alarmOn(board.outputs()));
        // The operation record names camera 1 in the alarm line (rows 151 and 152, box language).
        fillUiTextTable();
        QStringList alarmLines;
        for (int language = 0; language < 4; ++language)
            alarmLines << uiText(151, language).arg(1).chopped(1) + uiText(152, language);
        const QString record = dir.filePath(QStringLiteral("RECORD.db"));
        QTRY_VERIFY2(alarmLines.contains(recordRemarks(record).value(recordRemarks(record).size() - 1)),
                     qPrintable(recordRemarks(record).join(QStringLiteral(" | "))));

        // Detection is stopped until the alarm is dealt with: the next opening changes nothing.
        mouldOpens();
        QTest::qWait(1200);
        QVERIFY(clampBlocked(board.outputs()));
        QVERIFY(alarmOn(board.outputs()));

        // The operator takes the piece out and presses the re-check (input 1): the editor re-detects,
        // the mould is good, detection starts again with the clamp free and the alarm off.
        serve(QString()); // the cleaned mould is in view
        press(0x002);
        QTRY_VERIFY2_WITH_TIMEOUT(!alarmOn(board.outputs()) && !clampBlocked(board.outputs()),
                                  output().constData(), 10000);

        ::kill(pid_t(box.processId()), SIGTERM);
        // It ends as a shutdown ends it: threads joined (the cameras' too), status 0, no crash report.
        QVERIFY(box.waitForFinished(20000));
        QVERIFY2(box.exitStatus() == QProcess::NormalExit && box.exitCode() == 0, output().constData());
    }
};

QTEST_GUILESS_MAIN(TestBoxCycle)
#include "tst_boxcycle.moc"

// The board simulator the link tests and the run command rely on: the bytes it answers with, the
// link it makes, and the input plans it plays.

#include "boardsimulator.h"
#include "inputplan.h"
#include "ioframes.h"
#include "posix_qextserialport.h"

#include <QFileInfo>
#include <QtTest>

namespace {
QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

// The host end: the port class on the link, reading what arrives within `ms`.
struct Host
{
    Posix_QextSerialPort port;
    explicit Host(const QString &path) : port(path, Posix_QextSerialPort::Polling)
    {
        port.open(QIODevice::ReadWrite);
    }
    void send(const QByteArray &bytes) { port.write(bytes.constData(), bytes.size()); }
    QByteArray receive(int expected, int ms = 1000)
    {
        QByteArray got;
        QElapsedTimer t;
        t.start();
        while (got.size() < expected && t.elapsed() < ms) {
            char buf[256];
            const qint64 n = port.read(buf, sizeof buf);
            if (n > 0)
                got.append(buf, int(n));
        }
        return got;
    }
};
} // namespace

class TestBoardSim : public QObject
{
    Q_OBJECT
private slots:
    void answersLikeTheBoard()
    {
        QTemporaryDir dir;
        BoardSimulator board;
        QVERIFY(board.open(dir.filePath(QStringLiteral("dev/ttyS0"))));
        Host host(dir.filePath(QStringLiteral("dev/ttyS0")));
        QVERIFY(host.port.isOpen());

        board.setInputs(0x005);
        board.setOutputs(0x003);
        host.send(hex("5F 02 00 00 61 F5"));
        QCOMPARE(host.receive(8), hex("5F 02 05 00 03 00 69 F5"));

        // Command 1 takes the outputs; the next status echoes them. No answer to command 1 itself.
        host.send(hex("5F 01 FF 03 62 F5"));
        QCOMPARE(host.receive(1, 50), QByteArray());
        QTRY_COMPARE(board.outputs(), quint16(0x3FF));
        host.send(hex("5F 02 00 00 61 F5"));
        QCOMPARE(host.receive(8), hex("5F 02 05 00 FF 03 68 F5"));

        board.setReplyPayloads(0x0A0D1311, 0x04030201);
        host.send(hex("5F 03 00 00 62 F5") + hex("5F 04 00 00 63 F5"));
        const QByteArray replies = host.receive(16);
        QCOMPARE(replies.size(), 16);
        QCOMPARE(replies.left(6), hex("5F 03 11 13 0D 0A"));
        QCOMPARE(replies.mid(8, 6), hex("5F 04 01 02 03 04"));
        QVERIFY(IoReportFrame::isValid(reinterpret_cast<const quint8 *>(replies.constData())));
        QVERIFY(IoReportFrame::isValid(reinterpret_cast<const quint8 *>(replies.constData()) + 8));

        const auto log = board.commands();
        QCOMPARE(log.size(), 5);
        QCOMPARE(log[1].command, quint8(1));
        QCOMPARE(log[1].value, quint16(0x3FF));
        QCOMPARE(board.strayHostBytes(), 0);
    }

    void recordsEveryFrameWithItsTime()
    {
        QTemporaryDir dir;
        const QString record = dir.filePath(QStringLiteral("frames.txt"));
        BoardSimulator board;
        QVERIFY(board.recordTo(record));
        QVERIFY(board.open(dir.filePath(QStringLiteral("ttyS3"))));
        Host host(dir.filePath(QStringLiteral("ttyS3")));
        host.send(hex("5F 02 00 00 61 F5"));
        QCOMPARE(host.receive(8).size(), 8);
        QTest::qWait(120);
        host.send(hex("5F 01 F5 00 55 F5")); // outputs 0x0F5
        QVERIFY(board.waitForCommands(2, 1000));
        board.close();

        const QStringList lines = QString::fromLatin1(readFile(record)).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        const QStringList poll = lines[0].split(' ');
        const QStringList outputs = lines[1].split(' ');
        QCOMPARE(poll.mid(1), (QStringList{"2", "0x0000"}));
        QCOMPARE(outputs.mid(1), (QStringList{"1", "0x00f5"}));
        // Milliseconds since the recording began, the second frame at least the pause later.
        bool ok1 = false, ok2 = false;
        const qint64 t1 = poll[0].toLongLong(&ok1);
        const qint64 t2 = outputs[0].toLongLong(&ok2);
        QVERIFY(ok1 && ok2);
        QVERIFY2(t1 >= 0 && t2 - t1 >= 120 && t2 < 5000, qPrintable(lines.join(" | ")));

        // A file that cannot be made is refused.
        QVERIFY(!board.recordTo(dir.filePath(QStringLiteral("no/such/folder/frames.txt"))));
    }

    void hostBytesAreFramedLikeTheBoardDoes()
    {
        QTemporaryDir dir;
        BoardSimulator board;
        QVERIFY(board.open(dir.filePath(QStringLiteral("ttyS1"))));
        Host host(dir.filePath(QStringLiteral("ttyS1")));
        board.setAnswering(false);
        host.send(hex("AA 5F 02 00 00 62 F5")); // a stray byte, then a frame with a wrong sum
        host.send(hex("5F 02 00"));
        QTest::qWait(20);
        host.send(hex("00 61 F5"));
        QVERIFY(board.waitForCommands(1, 1000));
        QCOMPARE(board.commandCount(kIoCommandPoll), 1);
        QCOMPARE(board.strayHostBytes(), 7);
        QCOMPARE(host.receive(1, 50), QByteArray()); // a mute board says nothing
    }

    void inputChangeTimeIsTakenWhenTheBoardSendsIt()
    {
        QTemporaryDir dir;
        BoardSimulator board;
        QVERIFY(board.open(dir.filePath(QStringLiteral("ttyS2"))));
        Host host(dir.filePath(QStringLiteral("ttyS2")));
        board.setInputs(0x001);
        QCOMPARE(board.inputsWrittenAt(), std::chrono::steady_clock::time_point{});
        const auto before = std::chrono::steady_clock::now();
        host.send(hex("5F 02 00 00 61 F5"));
        QCOMPARE(host.receive(8).size(), 8);
        QVERIFY(board.inputsWrittenAt() >= before);
    }

    void linkIsPlacedAndRemoved()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("dev/ttyS5"));
        {
            BoardSimulator old;
            QVERIFY(old.open(link));
            QVERIFY(QFileInfo(link).isSymLink());
        }
        QVERIFY(!QFileInfo::exists(link));
        // A stale link from a simulator that was killed is replaced.
        QVERIFY(QFile::link(QStringLiteral("/nonexistent/pts/99"), link));
        BoardSimulator board;
        QVERIFY(board.open(link));
        QCOMPARE(QFileInfo(link).symLinkTarget(), board.terminalPath());
        board.close();
        QVERIFY(!QFileInfo(link).isSymLink());

        // Anything that is not a link is left alone.
        QFile regular(dir.filePath(QStringLiteral("dev/ttyS6")));
        QVERIFY(regular.open(QIODevice::WriteOnly));
        regular.close();
        QVERIFY(!board.open(regular.fileName()));
        QVERIFY(QFileInfo(regular.fileName()).isFile());
    }

    void inputPlans_data()
    {
        QTest::addColumn<QStringList>("cycles");
        QTest::addColumn<QString>("script");
        QTest::addColumn<bool>("repeat");
        QTest::addColumn<QList<qint64>>("times");
        QTest::addColumn<QList<int>>("words");
        QTest::newRow("mould opening 1 s every 10 s")
            << QStringList{"0:1000:10000"} << QString() << false
            << QList<qint64>{0, 999, 1000, 9999, 10000, 10500} << QList<int>{1, 1, 0, 0, 1, 1};
        QTest::newRow("two cycles") << QStringList{"0:100:1000", "2:300:600"} << QString() << false
                                    << QList<qint64>{50, 200, 650, 950} << QList<int>{5, 4, 4, 0};
        QTest::newRow("script once") << QStringList{}
                                     << QString("# open, then eject\n0 0x001\n500 0x005\n\n250 0\n") << false
                                     << QList<qint64>{0, 499, 500, 749, 750, 5000}
                                     << QList<int>{1, 1, 5, 5, 0, 0};
        QTest::newRow("script repeated") << QStringList{} << QString("0 1\n100 2\n100 0") << true
                                         << QList<qint64>{0, 150, 250, 350} << QList<int>{1, 2, 1, 2};
        QTest::newRow("script and cycle together") << QStringList{"9:10:20"} << QString("0 0x10") << false
                                                   << QList<qint64>{5, 15} << QList<int>{0x210, 0x010};
    }
    void inputPlans()
    {
        QFETCH(QStringList, cycles);
        QFETCH(QString, script);
        QFETCH(bool, repeat);
        QFETCH(QList<qint64>, times);
        QFETCH(QList<int>, words);
        InputPlan plan;
        QString error;
        for (const QString &c : cycles)
            QVERIFY2(plan.addCycle(c, &error), qPrintable(error));
        if (!script.isEmpty())
            QVERIFY2(plan.setScript(script, &error), qPrintable(error));
        plan.setRepeat(repeat);
        for (int i = 0; i < times.size(); ++i)
            QCOMPARE(int(plan.inputsAt(times[i])), words[i]);
    }

    void badPlansAreRefused_data()
    {
        QTest::addColumn<QString>("cycle");
        QTest::addColumn<QString>("script");
        QTest::newRow("bit 10") << "10:1:2" << QString();
        QTest::newRow("on longer than period") << "0:20:10" << QString();
        QTest::newRow("zero period") << "0:0:0" << QString();
        QTest::newRow("two fields") << "0:10" << QString();
        QTest::newRow("word above ten bits") << QString() << "0 0x400";
        QTest::newRow("negative wait") << QString() << "-5 1";
        QTest::newRow("one field") << QString() << "100";
        QTest::newRow("text") << QString() << "soon open";
    }
    void badPlansAreRefused()
    {
        QFETCH(QString, cycle);
        QFETCH(QString, script);
        InputPlan plan;
        QString error;
        if (!cycle.isEmpty())
            QVERIFY(!plan.addCycle(cycle, &error));
        if (!script.isEmpty())
            QVERIFY(!plan.setScript(script, &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(plan.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestBoardSim)
#include "tst_boardsim.moc"

// The latched-alarm file: what the box writes reads back whole, and anything else (cut short, edited,
// out of range) is refused rather than half believed.

#include "latchedalarm.h"
#include "testworkdir.h"

#include <QDir>
#include <QFile>
#include <QtTest>

namespace {
QByteArray record(const QString &cameras, const QString &slot, const QString &currentSlot,
                  const QString &moldSide, const QString &time = QStringLiteral("\"2026-12-07 06:15:00\""))
{
    return QStringLiteral(
               "{\"cameras\": %1, \"slot\": %2, \"currentSlot\": %3, \"moldSide\": %4, \"time\": %5}")
        .arg(cameras, slot, currentSlot, moldSide, time)
        .toUtf8();
}
// `text` followed by blanks up to `size` bytes: the same record, as long as asked.
QByteArray padded(const QByteArray &text, int size)
{
    return text + QByteArray(size - text.size(), ' ');
}
} // namespace

class TestLatchedAlarm : public QObject
{
    Q_OBJECT
private slots:
    void roundTrip_data()
    {
        QTest::addColumn<QVector<int>>("cameras");
        QTest::addColumn<int>("slot");
        QTest::addColumn<int>("moldSide");
        QTest::newRow("camera 1, mould slot, left") << QVector<int>{0} << 1 << 1;
        QTest::newRow("cameras 2 and 8, right mould") << QVector<int>{1, 7} << 3 << 0;
        QTest::newRow("no camera, product slot") << QVector<int>{} << 0 << 1;
    }
    void roundTrip()
    {
        QFETCH(QVector<int>, cameras);
        QFETCH(int, slot);
        QFETCH(int, moldSide);
        TestWorkDir dir;
        LatchedAlarm alarm;
        alarm.cameras = cameras;
        alarm.slot = slot;
        alarm.moldSide = moldSide;
        alarm.time = QDateTime(QDate(2026, 12, 7), QTime(6, 15, 0));
        QVERIFY(saveLatchedAlarm(alarm));
        LatchedAlarm back;
        QString cause;
        QCOMPARE(readLatchedAlarm(&back, &cause), LatchedAlarmFile::Read);
        QCOMPARE(back.cameras, cameras);
        QCOMPARE(back.slot, slot);
        QCOMPARE(back.moldSide, moldSide);
        QCOMPARE(back.time, alarm.time);
        // Camera numbers from 1 in the file, for the person who opens it.
        QVERIFY(latchedAlarmText(alarm).contains("\"slot\": " + QByteArray::number(slot)));
        removeLatchedAlarm();
        QVERIFY(!QFile::exists(QStringLiteral("latchedalarm.json")));
        QCOMPARE(readLatchedAlarm(&back, &cause), LatchedAlarmFile::None);
    }

    // A file of the largest size a latch file may have (4096 bytes) is read; one byte more is refused
    // (a row of refused()).
    void largestFileRead()
    {
        TestWorkDir dir;
        QFile file(QStringLiteral("latchedalarm.json"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(padded(record("[2]", "3", "3", "0"), 4096)), qint64(4096));
        file.close();
        LatchedAlarm alarm;
        QString cause;
        QCOMPARE(readLatchedAlarm(&alarm, &cause), LatchedAlarmFile::Read);
        QCOMPARE(alarm.cameras, QVector<int>{1});
        QCOMPARE(alarm.slot, 3);
        QCOMPARE(alarm.moldSide, 0);
    }

    // The keeper holds the latch on disk while it lasts: a write that fails (a folder where the file
    // belongs) is tried again every second until it is on disk, a file removed while latched is
    // written again within a second, and each failure and recovery is logged once.
    void keeperKeepsItOnDisk()
    {
        TestWorkDir dir;
        static QStringList logged;
        logged.clear();
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext &, const QString &text) { logged << text; });
        LatchedAlarmKeeper keeper;
        int again = 0;
        keeper.onDiskAgain = [&again] { ++again; };
        LatchedAlarm alarm;
        alarm.cameras = {0};
        alarm.slot = 1;
        alarm.moldSide = 1;
        alarm.time = QDateTime(QDate(2026, 12, 7), QTime(6, 15, 0));
        QVERIFY(QDir().mkdir(QStringLiteral("latchedalarm.json")));
        QVERIFY(!keeper.keep(alarm));
        QTest::qWait(2200); // two more tries, both failing
        QCOMPARE(again, 0);
        QVERIFY(QDir().rmdir(QStringLiteral("latchedalarm.json")));
        QTRY_COMPARE_WITH_TIMEOUT(again, 1, 1500);
        LatchedAlarm back;
        QString cause;
        QCOMPARE(readLatchedAlarm(&back, &cause), LatchedAlarmFile::Read);
        QCOMPARE(back.slot, 1);
        QVERIFY(QFile::remove(QStringLiteral("latchedalarm.json")));
        QTRY_COMPARE_WITH_TIMEOUT(again, 2, 1500);
        QCOMPARE(readLatchedAlarm(&back, &cause), LatchedAlarmFile::Read);
        keeper.release();
        QVERIFY(!QFile::exists(QStringLiteral("latchedalarm.json")));
        QTest::qWait(1200);
        QVERIFY(!QFile::exists(QStringLiteral("latchedalarm.json")));
        qInstallMessageHandler(previous);
        QCOMPARE(logged.filter(QStringLiteral("not kept on disk")).size(), 1);
        QCOMPARE(logged.filter(QStringLiteral("on disk again")).size(), 1);
        QCOMPARE(logged.filter(QStringLiteral("was gone while latched")).size(), 1);
    }

    void refused_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("cut short") << record("[1]", "1", "1", "1").left(40);
        QTest::newRow("a list, not an object") << QByteArray("[1, 1, 1]");
        QTest::newRow("camera 0") << record("[0]", "1", "1", "1");
        QTest::newRow("camera 9") << record("[9]", "1", "1", "1");
        QTest::newRow("camera twice") << record("[2, 2]", "1", "1", "1");
        QTest::newRow("camera as text") << record("[\"1\"]", "1", "1", "1");
        QTest::newRow("camera 1.5") << record("[1.5]", "1", "1", "1");
        QTest::newRow("cameras not a list") << record("1", "1", "1", "1");
        QTest::newRow("nine cameras") << record("[1, 2, 3, 4, 5, 6, 7, 8, 1]", "1", "1", "1");
        QTest::newRow("slot 8") << record("[1]", "8", "8", "1");
        QTest::newRow("slot -1") << record("[1]", "-1", "-1", "1");
        QTest::newRow("slot as text") << record("[1]", "\"1\"", "1", "1");
        QTest::newRow("currentSlot not the slot") << record("[1]", "1", "3", "1");
        QTest::newRow("moldSide 2") << record("[1]", "1", "1", "2");
        QTest::newRow("no time") << QByteArray(
            "{\"cameras\": [1], \"slot\": 1, \"currentSlot\": 1, \"moldSide\": 1}");
        QTest::newRow("time not a time") << record("[1]", "1", "1", "1", "\"yesterday\"");
        QTest::newRow("longer than 4 KB") << record("[1]", "1", "1", "1") + QByteArray(5000, ' ');
        QTest::newRow("4097 bytes") << padded(record("[1]", "1", "1", "1"), 4097);
    }
    void refused()
    {
        QFETCH(QByteArray, text);
        LatchedAlarm alarm;
        alarm.slot = 5;
        QString cause;
        QVERIFY(!parseLatchedAlarm(text, &alarm, &cause));
        QVERIFY(!cause.isEmpty());
        QCOMPARE(alarm.slot, 5); // left as it was
        TestWorkDir dir;
        QFile file(QStringLiteral("latchedalarm.json"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text);
        file.close();
        QCOMPARE(readLatchedAlarm(&alarm, &cause), LatchedAlarmFile::Damaged);
    }
};

QTEST_GUILESS_MAIN(TestLatchedAlarm)
#include "tst_latchedalarm.moc"

// The I/O thread's watch over the machine cycle, on its own: status frames and clock given by the test,
// the word the board would get checked whole.

#include "inputentrywatch.h"

#include <QtTest>

namespace {
constexpr qint64 kBound = InputEntryWatch::kUnreadBoundMs;

InputEntryMap plainMap()
{
    InputEntryMap map;
    for (int i = 0; i < 16; ++i)
        map.source[i] = i;
    return map;
}
} // namespace

class TestInputEntryWatch : public QObject
{
    Q_OBJECT

private slots:
    // One opening of a board input at 1000 ms, gone at 1100 ms; the cycle either never reads it or reads
    // it in time. The word the board gets is asked for at every 5 ms pass up to 3000 ms.
    void stalledCycleHoldsTheClamp_data()
    {
        QTest::addColumn<bool>("armed");
        QTest::addColumn<int>("watched");   // inputs that start a detection
        QTest::addColumn<int>("boardBit");  // the bit that pulses
        QTest::addColumn<int>("input");     // the input it is, as the cycle sees it
        QTest::addColumn<bool>("inverted"); // that input is active low
        QTest::addColumn<int>("holdBit");
        QTest::addColumn<bool>("holdLevel");
        QTest::addColumn<int>("wanted"); // the word the cycle last flushed
        QTest::addColumn<bool>("readInTime");
        QTest::addColumn<int>("held"); // the word once the bound has passed (-1: no trip)

        QTest::newRow("mould opens, nobody reads: 0x0F4 becomes 0x0F5")
            << true << 0x001 << 0 << 0 << false << 0 << true << 0x0F4 << false << 0x0F5;
        QTest::newRow("clamp output idling closed: the hold clears bit 0")
            << true << 0x001 << 0 << 0 << false << 0 << false << 0x0F5 << false << 0x0F4;
        QTest::newRow("output 3 carries the clamp: bit 3 set, bit 0 left alone")
            << true << 0x001 << 0 << 0 << false << 3 << true << 0x0F4 << false << 0x0FC;
        QTest::newRow("clamp already held: it trips all the same, word unchanged")
            << true << 0x001 << 0 << 0 << false << 0 << true << 0x0F5 << false << 0x0F5;
        QTest::newRow("active-low cycle input: the raw bit's drop is the opening")
            << true << 0x001 << 0 << 0 << true << 0 << true << 0x0F4 << false << 0x0F5;
        QTest::newRow("safety-door trigger: input 1 is watched")
            << true << 0x003 << 1 << 1 << false << 0 << true << 0x0F4 << false << 0x0F5;
        QTest::newRow("turntable, right mould: input 3 starts the cycle")
            << true << 0x008 << 3 << 3 << false << 0 << true << 0x0F4 << false << 0x0F5;
        QTest::newRow("read in time: no hold")
            << true << 0x001 << 0 << 0 << false << 0 << true << 0x0F4 << true << -1;
        QTest::newRow("detection not running: no hold")
            << false << 0x001 << 0 << 0 << false << 0 << true << 0x0F4 << false << -1;
        QTest::newRow("re-arm input 2 unread: not a cycle start, no hold")
            << true << 0x001 << 2 << 2 << false << 0 << true << 0x0F4 << false << -1;
    }
    void stalledCycleHoldsTheClamp()
    {
        QFETCH(bool, armed);
        QFETCH(int, watched);
        QFETCH(int, boardBit);
        QFETCH(int, input);
        QFETCH(bool, inverted);
        QFETCH(int, holdBit);
        QFETCH(bool, holdLevel);
        QFETCH(int, wanted);
        QFETCH(bool, readInTime);
        QFETCH(int, held);

        InputEntryWatch watch;
        InputEntryWatchSetup setup;
        setup.armed = armed;
        setup.watchedInputs = quint32(watched);
        setup.map = plainMap();
        setup.map.inverted[input] = inverted;
        setup.holdBit = holdBit;
        setup.holdLevel = holdLevel;
        watch.setSetup(setup);
        const quint32 idle = inverted ? 1u << boardBit : 0u;
        const quint32 open = idle ^ (1u << boardBit);
        watch.statusFrame(idle, 10);
        for (int i = 0; i < 16; ++i)
            watch.markRead(i, setup.map, watch.entries(i, setup.map));

        int trips = 0;
        InputEntryStall stall;
        QList<quint32> words; // each different word in order
        for (qint64 now = 15; now <= 3000; now += 5) {
            if (now == 1000)
                watch.statusFrame(open, now);
            if (now == 1100)
                watch.statusFrame(idle, now);
            if (readInTime && now == 1200)
                QVERIFY(!watch.markRead(input, setup.map, watch.entries(input, setup.map)));
            InputEntryStall s;
            const quint32 word = watch.heldWord(quint32(wanted), now, &s);
            if (s.input >= 0) {
                ++trips;
                stall = s;
                // Not before the bound has passed since the opening.
                QVERIFY(now >= 1000 + kBound);
            }
            if (words.isEmpty() || words.last() != word)
                words.append(word);
        }
        if (held < 0) {
            QCOMPARE(trips, 0);
            QCOMPARE(words, QList<quint32>({quint32(wanted)}));
            QVERIFY(!watch.holding());
            return;
        }
        QCOMPARE(trips, 1);
        QCOMPARE(stall.input, input);
        QCOMPARE(stall.unreadSinceMs, 1000);
        QCOMPARE(words.last(), quint32(held));
        QVERIFY(watch.holding());

        // Reading another input does not end it; the cycle taking this entry does, and only then.
        const int other = input == 2 ? 4 : 2;
        QVERIFY(!watch.markRead(other, setup.map, watch.entries(other, setup.map)));
        QCOMPARE(watch.heldWord(quint32(wanted), 3005), quint32(held));
        InputEntryStall ended;
        QVERIFY(watch.markRead(input, setup.map, watch.entries(input, setup.map), &ended));
        QCOMPARE(ended.input, input);
        QCOMPARE(ended.unreadSinceMs, 1000);
        QVERIFY(!watch.holding());
        QCOMPARE(watch.heldWord(quint32(wanted), 3010), quint32(wanted));
    }

    // A cycle that reads every pass, 100 ms apart, never trips it, however many openings come.
    void healthyPassesNeverTrip()
    {
        InputEntryWatch watch;
        InputEntryWatchSetup setup;
        setup.armed = true;
        setup.watchedInputs = 0x00B;
        setup.map = plainMap();
        watch.setSetup(setup);
        watch.statusFrame(0, 1);
        quint32 word = 0;
        int trips = 0;
        for (qint64 now = 5; now <= 600000; now += 5) {
            if (now % 1300 == 0) {
                word ^= 0x009; // input 0 and 3 open and close every 1.3 s
                watch.statusFrame(word, now);
            }
            if (now % 100 == 0) {
                for (int i = 0; i < 8; ++i)
                    watch.markRead(i, setup.map, watch.entries(i, setup.map));
            }
            InputEntryStall s;
            QCOMPARE(watch.heldWord(0x0F4, now, &s), 0x0F4u);
            trips += s.input >= 0;
        }
        QCOMPARE(trips, 0);
        QCOMPARE(watch.entries(0, setup.map), 231u);
    }

    // A changed setting (inversion, input-3 remap) is no entry: what a read took counts under the new map.
    void changedMapIsNoEntry()
    {
        InputEntryWatch watch;
        InputEntryMap map = plainMap();
        watch.statusFrame(0, 1);
        watch.statusFrame(1, 2);
        watch.statusFrame(0, 3); // one rise, one fall of bit 0
        QCOMPARE(watch.readEntries(0, map), 1u);
        QVERIFY(!watch.markRead(0, map, watch.entries(0, map)));
        map.inverted[0] = true;
        QCOMPARE(watch.entries(0, map), 1u);
        QCOMPARE(watch.readEntries(0, map), 1u);
        map.source[0] = 3;
        QCOMPARE(watch.readEntries(0, map), 0u);
        watch.statusFrame(0x008, 4);
        QCOMPARE(watch.entries(0, map), 0u); // inverted: the rise of bit 3 is no entry
        watch.statusFrame(0, 5);
        QCOMPARE(watch.entries(0, map), 1u);
        QCOMPARE(watch.lastEntryMs(0, map), 5);
    }
};

QTEST_GUILESS_MAIN(TestInputEntryWatch)
#include "tst_inputentrywatch.moc"

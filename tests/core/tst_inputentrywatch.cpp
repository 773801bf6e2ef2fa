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

    // The debounce judged from the entries' own stamps. Input 0 rises and falls at the given times
    // (ms); the poll asks for the word every 5 ms; one pass reads every entry at `judgeAt` and the
    // debounce expiry is judged then. The mode blocks the clamp at every cycle start unless `cutClamp`.
    void debounceJudgesTheEntry_data()
    {
        QTest::addColumn<int>("debounce");
        QTest::addColumn<QList<int>>("edges"); // rise, fall, rise, ...
        QTest::addColumn<bool>("cutClamp");
        QTest::addColumn<int>("judgeAt");
        QTest::addColumn<int>("verdict");  // 1 latch, 0 drop, -1 wait
        QTest::addColumn<int>("word");     // the word the board gets just before the judgement
        QTest::addColumn<int>("marks");    // mark requests posted
        QTest::addColumn<int>("waitMs");   // what remains when it waits
        QTest::addColumn<int>("lengthMs"); // the longest entry that fell, as the take reports it

        const QList<int> pulse300{1000, 1300};
        QTest::newRow("debounce 0: a 3 ms entry is an opening, blocked at once")
            << 0 << QList<int>{1000, 1003} << false << 1010 << 1 << 0x0F5 << 1 << 0 << 3;
        QTest::newRow("200 ms, a 300 ms pulse: an opening")
            << 200 << pulse300 << false << 1400 << 1 << 0x0F5 << 1 << 0 << 300;
        QTest::newRow("200 ms, a 300 ms pulse, cut clamp on mould alarm: no block, the mark asked")
            << 200 << pulse300 << true << 1400 << 1 << 0x0F4 << 1 << 0 << 300;
        QTest::newRow("200 ms, a 100 ms glitch: dropped, no block, no mark")
            << 200 << QList<int>{1000, 1100} << false << 1400 << 0 << 0x0F4 << 0 << 0 << 100;
        QTest::newRow("200 ms, fall at 199 ms: a glitch")
            << 200 << QList<int>{1000, 1199} << false << 1300 << 0 << 0x0F4 << 0 << 0 << 199;
        QTest::newRow("200 ms, fall at 200 ms: an opening")
            << 200 << QList<int>{1000, 1200} << false << 1300 << 1 << 0x0F5 << 1 << 0 << 200;
        QTest::newRow("200 ms, a glitch then an opening, one read")
            << 200 << QList<int>{1000, 1050, 1100, 1350} << false << 1400 << 1 << 0x0F5 << 1 << 0 << 250;
        QTest::newRow("200 ms, an opening then a glitch, one read")
            << 200 << QList<int>{1000, 1250, 1300, 1310} << false << 1400 << 1 << 0x0F5 << 1 << 0 << 250;
        QTest::newRow("200 ms, three glitches, one read: dropped")
            << 200 << QList<int>{1000, 1100, 1150, 1250, 1300, 1450} << false << 1500 << 0 << 0x0F4 << 0 << 0
            << 150;
        QTest::newRow("200 ms, active 150 ms at the expiry: it waits 50 ms")
            << 200 << QList<int>{1000} << false << 1150 << -1 << 0x0F4 << 0 << 50 << 0;
        QTest::newRow("200 ms, active, lasting 200 ms at a poll: an opening before it falls")
            << 200 << QList<int>{1000} << false << 1200 << 1 << 0x0F5 << 1 << 0 << 0;
        QTest::newRow("200 ms, a 100 ms glitch unread 800 ms: the bound's hold, dropped without a block")
            << 200 << QList<int>{1000, 1100} << false << 1800 << 0 << 0x0F5 << 0 << 0 << 100;
    }
    void debounceJudgesTheEntry()
    {
        QFETCH(int, debounce);
        QFETCH(QList<int>, edges);
        QFETCH(bool, cutClamp);
        QFETCH(int, judgeAt);
        QFETCH(int, verdict);
        QFETCH(int, word);
        QFETCH(int, marks);
        QFETCH(int, waitMs);
        QFETCH(int, lengthMs);

        InputEntryWatch watch;
        InputEntryWatchSetup setup;
        setup.armed = true;
        setup.watchedInputs = 0x001;
        setup.markInputs = 0x001;
        setup.map = plainMap();
        setup.debounceMs = debounce;
        setup.blockAtOnce = !cutClamp;
        watch.setSetup(setup);
        watch.statusFrame(0, 10);
        watch.markRead(0, setup.map, 0);
        int posted = 0;
        quint32 level = 0;
        quint32 lastWord = 0;
        for (qint64 now = 11; now <= judgeAt; ++now) {
            if (edges.contains(int(now))) {
                level ^= 1u;
                watch.statusFrame(level, now);
            }
            if (now % 5 == 0)
                lastWord = watch.heldWord(0x0F4, now);
            posted += watch.takeMarkRequests() != 0;
        }
        QCOMPARE(lastWord, quint32(word));
        QCOMPARE(posted, marks);
        const quint32 count = watch.entries(0, setup.map);
        QCOMPARE(count, quint32((edges.size() + 1) / 2));
        QCOMPARE(watch.untakenEntry(0), true);
        InputEntryTake took;
        watch.markRead(0, setup.map, count, nullptr, &took);
        if (debounce == 0) {
            // The read is the take: the block passes into the cycle's word.
            QVERIFY(took.keepClamp);
            QVERIFY(!watch.untakenEntry(0));
            QCOMPARE(watch.heldWord(0x0F4, judgeAt), 0x0F4u);
            return;
        }
        qint64 left = -1;
        const InputDebounce judged = watch.judgeDebounce(0, setup.map, judgeAt, &left);
        QCOMPARE(int(judged), verdict == 1   ? int(InputDebounce::Latch)
                              : verdict == 0 ? int(InputDebounce::Drop)
                                             : int(InputDebounce::Wait));
        QCOMPARE(left, qint64(waitMs));
        if (verdict < 0) {
            QCOMPARE(watch.heldWord(0x0F4, judgeAt), quint32(word));
            return;
        }
        took = watch.take(0, setup.map, count, verdict == 1);
        QCOMPARE(took.keepClamp, word == 0x0F5 && verdict == 1);
        QCOMPARE(took.guardHeld, judgeAt - 1000 >= kBound);
        QCOMPARE(took.lengthMs, qint64(lengthMs));
        QVERIFY(!watch.untakenEntry(0));
        QVERIFY(!watch.holding());
        // Nothing of a taken entry blocks again, nor asks for a mark.
        for (qint64 now = judgeAt + 5; now <= judgeAt + 1000; now += 5)
            QCOMPARE(watch.heldWord(0x0F4, now), 0x0F4u);
        QCOMPARE(watch.takeMarkRequests(), 0u);
    }

    // What the poll and the cycle do to one input, in the order they do it, in the mode that blocks the
    // clamp at every cycle start (input 0 starts a cycle and asks for its mark). Steps, by time (ms):
    // "in W" a status frame with board word W (hex; the first only sets the levels), "read" a pass
    // reads every entry counted, "expiry" the debounce expiry judges what was read and takes it as
    // ControlPort does. The poll asks for the word every 5 ms from the first step to 300 ms after the
    // last; the cycle's word is 0x0F4 until a take keeps the clamp, then 0x0F5. Expected: the words
    // the board gets, each change once; the expiries' verdicts; how many mark requests the poll posted.
    void entryStepsInOrder_data()
    {
        QTest::addColumn<int>("debounce");
        QTest::addColumn<bool>("armed");
        QTest::addColumn<int>("input");
        QTest::addColumn<bool>("inverted");
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QList<int>>("words");
        QTest::addColumn<QString>("verdicts");
        QTest::addColumn<int>("marks");

        QTest::newRow("detection stopped: the mould opens and closes, no word but 0x0F4, no mark")
            << 0 << false << 0 << false << "10 in 0, 1000 in 1, 1300 in 0, 1305 read" << QList<int>{0x0F4}
            << "" << 0;
        QTest::newRow("re-arm input 2 pulses 300 ms between moulds: no block")
            << 0 << true << 2 << false << "10 in 0, 1000 in 4, 1300 in 0, 1305 read" << QList<int>{0x0F4}
            << "" << 0;
        QTest::newRow("active-low input 0, debounce 0.2 s: a 100 ms glitch dropped unblocked, a 300 ms "
                      "opening blocked")
            << 200 << true << 0 << true
            << "10 in 1, 1000 in 0, 1005 read, 1100 in 1, 1400 expiry, 2000 in 0, 2005 read, 2300 in 1, "
               "2400 expiry"
            << QList<int>{0x0F4, 0x0F5} << "drop latch" << 1;
        QTest::newRow("debounce 0.2 s, an opening read, a second counted before the first's expiry: "
                      "latched at the first")
            << 200 << true << 0 << false
            << "10 in 0, 1000 in 1, 1005 read, 1250 in 0, 1260 in 1, 1480 in 0, 1500 expiry"
            << QList<int>{0x0F4, 0x0F5} << "latch" << 2;
        QTest::newRow("debounce 0.2 s, a glitch read, an unread opening lasts before the glitch's expiry: "
                      "blocked until the opening is latched")
            << 200 << true << 0 << false
            << "10 in 0, 1000 in 1, 1005 read, 1100 in 0, 1200 in 1, 1500 in 0, 1600 expiry, 1700 read, "
               "1800 expiry"
            << QList<int>{0x0F4, 0x0F5} << "drop latch" << 1;
    }
    void entryStepsInOrder()
    {
        QFETCH(int, debounce);
        QFETCH(bool, armed);
        QFETCH(int, input);
        QFETCH(bool, inverted);
        QFETCH(QString, steps);
        QFETCH(QList<int>, words);
        QFETCH(QString, verdicts);
        QFETCH(int, marks);

        InputEntryWatch watch;
        InputEntryWatchSetup setup;
        setup.armed = armed;
        setup.watchedInputs = 0x001;
        setup.markInputs = 0x001;
        setup.map = plainMap();
        setup.map.inverted[input] = inverted;
        setup.debounceMs = debounce;
        setup.blockAtOnce = true;
        watch.setSetup(setup);

        QMap<qint64, QStringList> script;
        for (const QString &step : steps.split(QStringLiteral(", "))) {
            const QStringList word = step.split(' ');
            script[word.value(0).toLongLong()] << word.mid(1).join(' ');
        }
        quint32 cycleWord = 0x0F4;
        QList<int> sent;
        QStringList judged;
        int posted = 0;
        bool firstFrame = true;
        for (qint64 now = script.firstKey(); now <= script.lastKey() + 300; ++now) {
            for (const QString &step : script.value(now)) {
                InputEntryTake took;
                if (step.startsWith(QLatin1String("in "))) {
                    watch.statusFrame(step.mid(3).toUInt(nullptr, 16), now);
                    // A pass after the first frame: nothing waits to be read yet.
                    for (int i = 0; firstFrame && i < 16; ++i)
                        watch.markRead(i, setup.map, watch.entries(i, setup.map));
                    firstFrame = false;
                } else if (step == QLatin1String("read")) {
                    watch.markRead(input, setup.map, watch.entries(input, setup.map), nullptr, &took);
                } else if (step == QLatin1String("expiry")) {
                    const InputDebounce verdict = watch.judgeDebounce(input, setup.map, now);
                    QVERIFY2(verdict != InputDebounce::Wait, qPrintable(step));
                    judged << (verdict == InputDebounce::Latch ? QStringLiteral("latch")
                                                               : QStringLiteral("drop"));
                    took = watch.take(input, setup.map, watch.readEntries(input, setup.map),
                                      verdict == InputDebounce::Latch);
                } else {
                    QFAIL(qPrintable(step));
                }
                if (took.keepClamp)
                    cycleWord = 0x0F5;
            }
            if (now % 5 == 0) {
                const int word = int(watch.heldWord(cycleWord, now));
                if (sent.isEmpty() || sent.last() != word)
                    sent << word;
            }
            posted += watch.takeMarkRequests() != 0;
        }
        QCOMPARE(sent, words);
        QCOMPARE(judged.join(' '), verdicts);
        QCOMPARE(posted, marks);
    }

    // What the cycle covered against what it took. Steps in order on inputs 0 and 3 (both start a
    // cycle, as on a turntable; the mode blocks at every cycle start): "rise N t" / "fall N t" the board
    // at t ms, "poll t" the I/O thread's pass (its word recorded when it changes, 0x0F4 wanted),
    // "read N" a pass reads every entry of N (with debounce 0 that is the take), "busy N" a busy pass
    // drops what it read, "expiry N t" the debounce timer's verdict at t, "pass" the pass after it ends
    // (latches it did not act on dropped), "start N" the cycle's mark for a start by N is on disk,
    // "judged" its verdict is. Then: the words the board got, the mark requests, and which inputs still
    // hold an opening whose mark may not give way to "none".
    void coveredAgainstTaken_data()
    {
        QTest::addColumn<int>("debounce");
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QList<int>>("words");
        QTest::addColumn<int>("requests");
        QTest::addColumn<int>("uncovered");

        const QList<int> blocked{0x0F4, 0x0F5};
        QTest::newRow("debounce 0, read (cameras not ready, an alarm latched, stopped): taken, not covered")
            << 0 << "rise 0 1000, poll 1005, read 0, fall 0 1300, poll 1305"
            << QList<int>{0x0F4, 0x0F5, 0x0F4} << 1 << 0x1;
        QTest::newRow("debounce 0, read, its cycle's mark on disk: covered")
            << 0 << "rise 0 1000, poll 1005, read 0, start 0, poll 1010" << QList<int>{0x0F4, 0x0F5, 0x0F4}
            << 1 << 0x0;
        QTest::newRow("debounce 0.2 s, a busy pass dropped it: asked for its mark at 200 ms, no block")
            << 200 << "rise 0 1000, poll 1005, busy 0, poll 1195, poll 1200, fall 0 1300, poll 1305"
            << QList<int>{0x0F4} << 1 << 0x1;
        QTest::newRow("debounce 0.2 s, a 100 ms glitch dropped at the expiry: nothing to cover")
            << 200
            << "rise 0 1000, poll 1005, read 0, fall 0 1100, poll 1105, expiry 0 1200, pass, poll 1300"
            << QList<int>{0x0F4} << 0 << 0x0;
        QTest::newRow("debounce 0.2 s, the timer latched it before the poll judged it: blocked, asked")
            << 200 << "rise 0 1000, poll 1005, read 0, expiry 0 1200, poll 1200, poll 1205" << blocked << 1
            << 0x1;
        QTest::newRow("debounce 0.2 s, timer first, its cycle started: the cycle's word holds it")
            << 200 << "rise 0 1000, read 0, expiry 0 1200, poll 1200, start 0, poll 1205, judged, poll 1500"
            << QList<int>{0x0F4, 0x0F5, 0x0F4} << 1 << 0x0;
        QTest::newRow("debounce 0.2 s, timer first, the pass dropped the latch: the block ends, not covered")
            << 200 << "rise 0 1000, read 0, expiry 0 1200, poll 1200, pass, poll 1205"
            << QList<int>{0x0F4, 0x0F5, 0x0F4} << 1 << 0x1;
        QTest::newRow("debounce 0.2 s, timer first, its cycle started before the poll: no block, no request")
            << 200 << "rise 0 1000, read 0, expiry 0 1200, start 0, pass, poll 1200, poll 1205"
            << QList<int>{0x0F4} << 0 << 0x0;
        QTest::newRow("verdict of a cycle that started before the opening: not covered")
            << 0 << "rise 3 1000, read 3, start 3, rise 0 1100, read 0, poll 1105, judged"
            << QList<int>{0x0F4} << 2 << 0x1;
        QTest::newRow("verdict of a cycle that started after the opening: covered")
            << 0 << "rise 3 1000, read 3, rise 0 1100, read 0, start 0, poll 1105, judged"
            << QList<int>{0x0F4} << 2 << 0x0;
        QTest::newRow("a cycle start covers its own input only")
            << 0 << "rise 3 1000, rise 0 1100, read 3, read 0, start 0, poll 1105" << QList<int>{0x0F4} << 2
            << 0x8;
    }
    void coveredAgainstTaken()
    {
        QFETCH(int, debounce);
        QFETCH(QString, steps);
        InputEntryWatch watch;
        InputEntryWatchSetup setup;
        setup.armed = true;
        setup.watchedInputs = 0x009;
        setup.markInputs = 0x009;
        setup.map = plainMap();
        setup.debounceMs = debounce;
        setup.blockAtOnce = true;
        watch.setSetup(setup);
        watch.statusFrame(0, 10);
        watch.markRead(0, setup.map, 0);
        watch.markRead(3, setup.map, 0);
        quint32 level = 0;
        QList<int> words{0x0F4};
        int requests = 0;
        for (const QString &step : steps.split(QStringLiteral(", "))) {
            const QStringList w = step.split(' ');
            const int n = w.value(1).toInt();
            const qint64 t = w.value(w.size() - 1).toLongLong();
            const quint32 count = watch.entries(n, setup.map);
            if (w[0] == QLatin1String("rise") || w[0] == QLatin1String("fall")) {
                level = w[0] == QLatin1String("rise") ? level | 1u << n : level & ~(1u << n);
                watch.statusFrame(level, t);
            } else if (w[0] == QLatin1String("poll")) {
                const int word = int(watch.heldWord(0x0F4, t));
                if (words.last() != word)
                    words << word;
            } else if (w[0] == QLatin1String("read")) {
                watch.markRead(n, setup.map, count);
            } else if (w[0] == QLatin1String("busy")) {
                watch.markRead(n, setup.map, count);
                watch.take(n, setup.map, count, true);
            } else if (w[0] == QLatin1String("expiry")) {
                const InputDebounce verdict = watch.judgeDebounce(n, setup.map, t);
                QVERIFY(verdict != InputDebounce::Wait);
                watch.take(n, setup.map, count, verdict == InputDebounce::Latch);
                if (verdict == InputDebounce::Latch)
                    watch.latched(n);
                else
                    watch.cover(n, setup.map, count);
            } else if (w[0] == QLatin1String("pass")) {
                watch.latchesDropped();
            } else if (w[0] == QLatin1String("start")) {
                watch.cycleStarted(n, setup.map);
            } else if (w[0] == QLatin1String("judged")) {
                watch.cycleJudged();
            } else {
                QFAIL(qPrintable(step));
            }
            const quint32 asked = watch.takeMarkRequests();
            requests += (asked & 1u) + ((asked >> 3) & 1u);
        }
        QTEST(words, "words");
        QTEST(requests, "requests");
        const int uncovered = (watch.uncoveredOpening(0) ? 0x1 : 0) | (watch.uncoveredOpening(3) ? 0x8 : 0);
        QTEST(uncovered, "uncovered");
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

// "count.txt": the result counters of the eight cameras survive a restart, and a damaged file gives
// zeros rather than absurd counts.

#include "resultcounters.h"
#include "savefailimagethread.h"
#include "testfiles.h"
#include "testworkdir.h"

#include <QtTest>

using Counts = QVector<int>; // total and NG of camera 0, then camera 1, ...

Q_DECLARE_METATYPE(Counts)

namespace {

Counts counters()
{
    Counts out;
    for (int i = 0; i < 8; ++i)
        out << gCameraTotalCount[i] << gCameraNgCount[i];
    return out;
}

Counts padded(Counts head)
{
    head.resize(16);
    return head;
}

} // namespace

class TestResultCounters : public QObject
{
    Q_OBJECT
private slots:
    void read_data()
    {
        QTest::addColumn<QByteArray>("file"); // "-" = no file
        QTest::addColumn<Counts>("expected");
        QTest::newRow("four numbers") << QByteArray("5 1 7 2") << padded({5, 1, 7, 2});
        QTest::newRow("negative and too large") << QByteArray("-3 200000000 4 4") << padded({0, 0, 4, 4});
        QTest::newRow("at the limit") << QByteArray("100000000 100000001\n9 9") << padded({100000000, 0, 9, 9});
        QTest::newRow("not a number") << QByteArray("1 2 x 4") << padded({1, 2});
        QTest::newRow("no file") << QByteArray("-") << padded({});
    }
    void read()
    {
        QFETCH(QByteArray, file);
        QFETCH(Counts, expected);
        TestWorkDir dir(TestWorkDir::Empty);
        for (int i = 0; i < 8; ++i)
            gCameraTotalCount[i] = gCameraNgCount[i] = 77;
        if (file != "-")
            QVERIFY(writeTestFile(QStringLiteral("count.txt"), file));
        readResultCounts(QStringLiteral("count.txt"));
        QCOMPARE(counters(), expected);
    }

    void writeAndReadBack()
    {
        TestWorkDir dir(TestWorkDir::Empty);
        for (int i = 0; i < 8; ++i) {
            gCameraTotalCount[i] = 0;
            gCameraNgCount[i] = 0;
        }
        QVERIFY(writeResultCounts(QStringLiteral("count.txt")));
        QCOMPARE(readTextLines(QStringLiteral("count.txt")), QStringList{QString("0 ").repeated(16)});
        const Counts stored{12, 3, 0, 0, 99999999, 5, 1, 1, 0, 0, 0, 0, 0, 0, 8, 0};
        for (int i = 0; i < 8; ++i) {
            gCameraTotalCount[i] = stored[2 * i];
            gCameraNgCount[i] = stored[2 * i + 1];
        }
        QVERIFY(writeResultCounts(QStringLiteral("count.txt")));
        QCOMPARE(readTextLines(QStringLiteral("count.txt")).value(0),
                 QStringLiteral("12 3 0 0 99999999 5 1 1 0 0 0 0 0 0 8 0 "));
        for (int i = 0; i < 8; ++i)
            gCameraTotalCount[i] = gCameraNgCount[i] = -1;
        readResultCounts(QStringLiteral("count.txt"));
        QCOMPARE(counters(), stored);
    }
};

QTEST_GUILESS_MAIN(TestResultCounters)
#include "tst_resultcounters.moc"

// "count.txt": the result counters of the eight cameras survive a restart, and a damaged file gives
// zeros rather than absurd counts.

#include "resultcounters.h"
#include "savefailimagethread.h"
#include "testfiles.h"
#include "testworkdir.h"

#include <QDir>
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
        QTest::addColumn<bool>("damaged");
        QTest::newRow("four numbers") << QByteArray("5 1 7 2") << padded({5, 1, 7, 2}) << false;
        QTest::newRow("negative and too large") << QByteArray("-3 200000000 4 4") << padded({0, 0, 4, 4}) << false;
        QTest::newRow("at the limit") << QByteArray("100000000 100000001\n9 9") << padded({100000000, 0, 9, 9})
                                      << false;
        QTest::newRow("sixteen numbers and a line end")
            << QByteArray("1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 \n")
            << Counts{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16} << false;
        QTest::newRow("signs") << QByteArray("+5 -0 3") << padded({5, 0, 3}) << false;
        QTest::newRow("more digits than 64 bits") << QByteArray("99999999999999999999 3") << padded({0, 3})
                                                  << false;
        QTest::newRow("not a number") << QByteArray("1 2 x 4") << padded({1, 2}) << true;
        QTest::newRow("number glued to a letter") << QByteArray("5 1 7x 2") << padded({5, 1}) << true;
        QTest::newRow("decimal point") << QByteArray("5 1.5 7 2") << padded({5}) << true;
        QTest::newRow("binary garbage") << QByteArray("\x01\xff\0 3", 5) << padded({}) << true;
        QTest::newRow("far too long for a counter file") << QByteArray("1 2 ") + QByteArray(5000, '7')
                                                         << padded({1, 2, 0}) << true;
        QTest::newRow("empty file") << QByteArray("") << padded({}) << false;
        QTest::newRow("no file") << QByteArray("-") << padded({}) << false;
    }
    void read()
    {
        QFETCH(QByteArray, file);
        QFETCH(Counts, expected);
        QFETCH(bool, damaged);
        TestWorkDir dir(TestWorkDir::Empty);
        for (int i = 0; i < 8; ++i)
            gCameraTotalCount[i] = gCameraNgCount[i] = 77;
        if (file != "-")
            QVERIFY(writeTestFile(QStringLiteral("count.txt"), file));
        QStringList warnings;
        static QStringList *seen = nullptr;
        seen = &warnings;
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext &, const QString &text) {
                if (type == QtWarningMsg)
                    *seen << text;
            });
        readResultCounts(QStringLiteral("count.txt"));
        qInstallMessageHandler(previous);
        QCOMPARE(counters(), expected);
        // A damaged file is said and kept aside whole; a sound one stays where it is.
        const QStringList aside = QDir().entryList({QStringLiteral("count.txt.damaged-*")}, QDir::Files);
        QCOMPARE(aside.size(), damaged ? 1 : 0);
        QCOMPARE(warnings.filter(QStringLiteral("count.txt")).size(), damaged ? 1 : 0);
        if (damaged) {
            QCOMPARE(readTestFile(aside.first()), file);
            QVERIFY(!QFile::exists(QStringLiteral("count.txt")));
            // The next check writes a sound file although the counters did not change.
            QVERIFY(writeResultCountsIfChanged(QStringLiteral("count.txt")));
            QCOMPARE(readTestFile(QStringLiteral("count.txt")).simplified().split(' ').size(), 16);
        } else if (file != "-") {
            QCOMPARE(readTestFile(QStringLiteral("count.txt")), file);
        }
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

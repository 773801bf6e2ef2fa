// The bytes on the wire between host and I/O board, and how received bytes are cut into frames.

#include "ioframes.h"

#include <QtTest>

namespace {
QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

QByteArray bytesOf(const IoCommandFrame &f)
{
    return QByteArray(f.bytes(), sizeof f);
}

QByteArray bytesOf(const IoReportFrame &f)
{
    return QByteArray(f.bytes(), sizeof f);
}

struct Seen
{
    quint8 type;
    QByteArray data;
};

// Feeds `chunks` one after the other, scanning after each, and returns every frame handed out.
QVector<Seen> feed(IoFrameScanner &scanner, const QList<QByteArray> &chunks)
{
    QVector<Seen> seen;
    for (const QByteArray &chunk : chunks) {
        scanner.append(reinterpret_cast<const quint8 *>(chunk.constData()), chunk.size());
        scanner.scan([&](const IoReportFrame &f) {
            seen.append({f.type, QByteArray(reinterpret_cast<const char *>(f.d), 4)});
        });
    }
    return seen;
}
} // namespace

class TestIoFrames : public QObject
{
    Q_OBJECT
private slots:
    void checksumIsTheByteSumModulo256_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("sum");
        QTest::newRow("empty") << QByteArray() << 0;
        QTest::newRow("status frame head") << hex("5F 02 05 00 03 00") << 0x69;
        QTest::newRow("wraps past 255") << hex("FF FF 03") << 0x01;
        QTest::newRow("poll head") << hex("5F 02 00 00") << 0x61;
    }
    void checksumIsTheByteSumModulo256()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, sum);
        QCOMPARE(int(checksum8(reinterpret_cast<const quint8 *>(bytes.constData()), quint16(bytes.size()))),
                 sum);
    }

    void commandFramesOnTheWire_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<int>("value");
        QTest::addColumn<QByteArray>("wire");
        QTest::newRow("poll") << 2 << 0 << hex("5F 02 00 00 61 F5");
        QTest::newRow("set outputs 0x005") << 1 << 0x005 << hex("5F 01 05 00 65 F5");
        QTest::newRow("set outputs 0x3FF, little-endian") << 1 << 0x3FF << hex("5F 01 FF 03 62 F5");
        QTest::newRow("request 3") << 3 << 0 << hex("5F 03 00 00 62 F5");
        QTest::newRow("request 4") << 4 << 0 << hex("5F 04 00 00 63 F5");
    }
    void commandFramesOnTheWire()
    {
        QFETCH(int, command);
        QFETCH(int, value);
        QFETCH(QByteArray, wire);
        QCOMPARE(bytesOf(IoCommandFrame::make(quint8(command), quint16(value))), wire);
    }

    void statusFrameCarriesInputsAndEchoedOutputs()
    {
        const QByteArray wire = hex("5F 02 05 00 03 00 69 F5");
        QVERIFY(IoReportFrame::isValid(reinterpret_cast<const quint8 *>(wire.constData())));
        IoReportFrame f;
        memcpy(&f, wire.constData(), 8);
        QCOMPARE(f.type, quint8(2));
        QCOMPARE(f.inputs(), 0x005u);
        QCOMPARE(f.echoedOutputs(), 0x003u);
        QCOMPARE(bytesOf(IoReportFrame::status(0x005, 0x003)), wire);

        // Only two bits of the high bytes count: ten inputs and ten outputs.
        const QByteArray high =
            hex("5F 02 FF FF FF FE") + QByteArray(1, char(0x5F + 0x02 + 0xFF * 3 + 0xFE)) + hex("F5");
        memcpy(&f, high.constData(), 8);
        QCOMPARE(f.inputs(), 0x3FFu);
        QCOMPARE(f.echoedOutputs(), 0x2FFu);
    }

    void payloadFramesAreLittleEndian()
    {
        const QByteArray wire = bytesOf(IoReportFrame::payload(3, 0x0A0D1311));
        QCOMPARE(wire.mid(0, 6), hex("5F 03 11 13 0D 0A"));
        QCOMPARE(quint8(wire[6]), quint8(0x5F + 0x03 + 0x11 + 0x13 + 0x0D + 0x0A));
        QCOMPARE(quint8(wire[7]), quint8(0xF5));
        IoReportFrame f;
        memcpy(&f, wire.constData(), 8);
        QCOMPARE(f.payloadWord(), 0x0A0D1311u);
    }

    void invalidFramesAreRecognised_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("wrong start") << hex("5E 02 05 00 03 00 68 F5");
        QTest::newRow("wrong end") << hex("5F 02 05 00 03 00 69 F4");
        QTest::newRow("wrong checksum") << hex("5F 02 05 00 03 00 6A F5");
    }
    void invalidFramesAreRecognised()
    {
        QFETCH(QByteArray, bytes);
        QVERIFY(!IoReportFrame::isValid(reinterpret_cast<const quint8 *>(bytes.constData())));
    }

    // Streams as they arrive from the board, chunk by chunk (one chunk per read of the poll loop).
    void scannerCutsStreamsIntoFrames_data()
    {
        const QByteArray a = bytesOf(IoReportFrame::status(0x005, 0x003));
        const QByteArray b = bytesOf(IoReportFrame::status(0x001, 0x000));
        const QByteArray p = bytesOf(IoReportFrame::payload(4, 0x0A0D1311));
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::addColumn<QByteArray>("types");
        QTest::addColumn<int>("leftOver");
        QTest::newRow("one frame") << QList<QByteArray>{a} << QByteArray("\x02") << 0;
        QTest::newRow("stray byte before a frame loses only itself")
            << QList<QByteArray>{hex("AA") + a} << QByteArray("\x02") << 0;
        QTest::newRow("stray start byte before a frame")
            << QList<QByteArray>{hex("5F") + a} << QByteArray("\x02") << 0;
        QTest::newRow("two frames in one read") << QList<QByteArray>{a + b} << QByteArray("\x02\x02") << 0;
        QTest::newRow("frame split across two reads")
            << QList<QByteArray>{a.left(3), a.mid(3)} << QByteArray("\x02") << 0;
        QTest::newRow("frame split after seven bytes")
            << QList<QByteArray>{a + b.left(7), b.mid(7)} << QByteArray("\x02\x02") << 0;
        QTest::newRow("partial frame waits") << QList<QByteArray>{a + b.left(5)} << QByteArray("\x02") << 5;
        QTest::newRow("corrupt checksum skipped, next frame kept")
            << QList<QByteArray>{hex("5F 02 05 00 03 00 6A F5") + b} << QByteArray("\x02") << 0;
        QTest::newRow("XON XOFF CR LF as data") << QList<QByteArray>{p} << QByteArray("\x04") << 0;
        QTest::newRow("unknown type accepted")
            << QList<QByteArray>{bytesOf(IoReportFrame::payload(9, 1))} << QByteArray("\x09") << 0;
    }
    void scannerCutsStreamsIntoFrames()
    {
        QFETCH(QList<QByteArray>, chunks);
        QFETCH(QByteArray, types);
        QFETCH(int, leftOver);
        IoFrameScanner scanner;
        const QVector<Seen> seen = feed(scanner, chunks);
        QCOMPARE(seen.size(), types.size());
        for (int i = 0; i < seen.size(); ++i)
            QCOMPARE(seen[i].type, quint8(types[i]));
        QCOMPARE(scanner.fill(), leftOver);
    }

    void scannerKeepsFrameDataIntact()
    {
        IoFrameScanner scanner;
        const QVector<Seen> seen = feed(scanner, {bytesOf(IoReportFrame::payload(3, 0x0A0D1311))});
        QCOMPARE(seen.size(), 1);
        QCOMPARE(seen[0].data, hex("11 13 0D 0A"));
    }

    // More than the buffer holds: what fits is kept and scanned, the excess is dropped, nothing is
    // written past the buffer (the sanitizer build checks the last part).
    void scannerDropsWhatDoesNotFit()
    {
        IoFrameScanner scanner;
        const QByteArray frame = bytesOf(IoReportFrame::status(0x002, 0));
        QByteArray big = hex("AA").repeated(IoFrameScanner::kCapacity - 8) + frame + frame + frame;
        const int kept = scanner.append(reinterpret_cast<const quint8 *>(big.constData()), big.size());
        QCOMPARE(kept, IoFrameScanner::kCapacity);
        QCOMPARE(scanner.fill(), IoFrameScanner::kCapacity);
        int frames = 0;
        scanner.scan([&](const IoReportFrame &) { ++frames; });
        QCOMPARE(frames, 1);
        QCOMPARE(scanner.fill(), 0);

        // A full buffer of leftovers takes nothing more.
        const QByteArray partial = frame.left(7);
        scanner.append(reinterpret_cast<const quint8 *>(partial.constData()), partial.size());
        QCOMPARE(scanner.append(reinterpret_cast<const quint8 *>(big.constData()), big.size()),
                 IoFrameScanner::kCapacity - 7);
        QCOMPARE(scanner.append(reinterpret_cast<const quint8 *>(big.constData()), big.size()), 0);
        QCOMPARE(scanner.append(nullptr, -5), 0);
    }

    void scannerWaitsForEightBytes()
    {
        IoFrameScanner scanner;
        const QByteArray seven = hex("AA BB CC DD EE FF 11");
        scanner.append(reinterpret_cast<const quint8 *>(seven.constData()), seven.size());
        int frames = 0;
        scanner.scan([&](const IoReportFrame &) { ++frames; });
        QCOMPARE(scanner.fill(), 7);
        QCOMPARE(frames, 0);
    }
};

QTEST_GUILESS_MAIN(TestIoFrames)
#include "tst_ioframes.moc"

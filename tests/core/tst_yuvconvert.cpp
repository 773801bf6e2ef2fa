// YUV 4:2:0 frames of the thermal camera turned into grey and colour pictures, checked against colours
// and greys worked out by hand from the conversion formula.

#include "yuvconvert.h"

#include <QtTest>

#include <vector>

namespace {

using Converter = int (*)(const unsigned char *, unsigned char *, int, int, int, bool);

// One chroma sample and its luma, with the colour and grey worked out by hand from the conversion
// formula (B = Y + 1.732446 U', G = Y - 0.698001 U' - 0.703125 V', R = Y + 1.370705 V', each cut to
// 0..255; grey = truncate(0.299 R + 0.587 G + 0.114 B)).
struct Case
{
    unsigned char y, v, u;
    int b, g, r, grey;
};
const Case kCases[] = {
    {0, 228, 128, 0, 0, 137, 40},        // V' = 100: R = 137.07, G = -70.3; grey 40.96
    {50, 128, 28, 0, 119, 50, 84},       // U' = -100: B = -123.2, G = 119.8; grey 84.80
    {200, 128, 228, 255, 130, 200, 165}, // U' = 100: B = 373.2, G = 130.2; grey 165.18
    {10, 28, 128, 10, 80, 0, 48},        // V' = -100: G = 80.3, R = -127.07; grey 48.10
};
constexpr int kCaseCount = int(sizeof kCases / sizeof kCases[0]);

// A frame whose 2 x 2 blocks take the cases in turn: luma plane, then V, then U, one chroma sample
// per block. A wrong plane, order or block index gives another case's colour.
std::vector<unsigned char> casesFrame(int w, int h)
{
    std::vector<unsigned char> f(size_t(w * h * 3 / 2));
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x)
            f[size_t(y * w + x)] = kCases[((y / 2) * (w / 2) + x / 2) % kCaseCount].y;
    }
    for (int c = 0; c < w * h / 4; ++c) {
        f[size_t(w * h + c)] = kCases[c % kCaseCount].v;
        f[size_t(w * h + w * h / 4 + c)] = kCases[c % kCaseCount].u;
    }
    return f;
}

} // namespace

class TestYuvConvert : public QObject
{
    Q_OBJECT
private slots:
    void planesAndIndexing_data()
    {
        QTest::addColumn<int>("w");
        QTest::addColumn<int>("h");
        QTest::addColumn<bool>("flip");
        QTest::newRow("4x4") << 4 << 4 << false;
        QTest::newRow("4x4 flipped") << 4 << 4 << true;
        QTest::newRow("4x2") << 4 << 2 << false;
        QTest::newRow("6x4") << 6 << 4 << false;
        QTest::newRow("8x6 flipped") << 8 << 6 << true;
    }
    void planesAndIndexing()
    {
        QFETCH(int, w);
        QFETCH(int, h);
        QFETCH(bool, flip);
        const std::vector<unsigned char> src = casesFrame(w, h);
        std::vector<unsigned char> gray(size_t(w * h), 0xEE), bgr(size_t(w * h * 3), 0xEE),
            bgrx(size_t(w * h * 4), 0xEE);
        QCOMPARE(yuv420pToGray(src.data(), gray.data(), w, h, 0, flip), 1);
        QCOMPARE(yuv420pToRgb24(src.data(), bgr.data(), w, h, 0, flip), 1);
        QCOMPARE(yuv420pToRgb32(src.data(), bgrx.data(), w, h, 0, flip), 1);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const Case &c = kCases[((y / 2) * (w / 2) + x / 2) % kCaseCount];
                const size_t o = size_t((flip ? h - 1 - y : y) * w + x);
                const QString at = QStringLiteral("x %1 y %2").arg(x).arg(y);
                QVERIFY2(bgr[o * 3] == c.b && bgr[o * 3 + 1] == c.g && bgr[o * 3 + 2] == c.r,
                         qPrintable(at));
                QVERIFY2(bgrx[o * 4] == c.b && bgrx[o * 4 + 1] == c.g && bgrx[o * 4 + 2] == c.r &&
                             bgrx[o * 4 + 3] == 0,
                         qPrintable(at));
                QVERIFY2(gray[o] == c.grey, qPrintable(at));
            }
        }

        // Every luma sample reaches its own pixel: without colour (U' = V' = 0) B = G = R = Y.
        std::vector<unsigned char> plain(src.size(), 128);
        for (int i = 0; i < w * h; ++i)
            plain[size_t(i)] = static_cast<unsigned char>(40 + 11 * i);
        QCOMPARE(yuv420pToRgb24(plain.data(), bgr.data(), w, h, 0, flip), 1);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const size_t o = size_t((flip ? h - 1 - y : y) * w + x);
                const int luma = plain[size_t(y * w + x)];
                QVERIFY(bgr[o * 3] == luma && bgr[o * 3 + 1] == luma && bgr[o * 3 + 2] == luma);
            }
        }
    }

    void refusedSizesWriteNothing_data()
    {
        QTest::addColumn<int>("w");
        QTest::addColumn<int>("h");
        QTest::newRow("odd width") << 3 << 4;
        QTest::newRow("odd height") << 4 << 3;
        QTest::newRow("one by one") << 1 << 1;
        QTest::newRow("one row") << 8 << 1;
        QTest::newRow("zero") << 0 << 4;
        QTest::newRow("negative") << -4 << -4;
        QTest::newRow("negative height") << 4 << -2;
        QTest::newRow("overflowing") << 65536 << 65536;
    }
    void refusedSizesWriteNothing()
    {
        QFETCH(int, w);
        QFETCH(int, h);
        const std::vector<unsigned char> src(64, 128);
        for (Converter f : {yuv420pToGray, yuv420pToRgb24, yuv420pToRgb32}) {
            std::vector<unsigned char> dst(64, 0xEE);
            QCOMPARE(f(src.data(), dst.data(), w, h, 0, false), 0);
            QVERIFY(std::all_of(dst.begin(), dst.end(), [](unsigned char b) { return b == 0xEE; }));
        }
    }

    void nullPointersAreRefused()
    {
        unsigned char buf[64] = {};
        for (Converter f : {yuv420pToGray, yuv420pToRgb24, yuv420pToRgb32}) {
            QCOMPARE(f(nullptr, buf, 4, 4, 0, false), 0);
            QCOMPARE(f(buf, nullptr, 4, 4, 0, true), 0);
        }
    }
};

QTEST_GUILESS_MAIN(TestYuvConvert)
#include "tst_yuvconvert.moc"

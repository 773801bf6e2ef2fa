// YUV 4:2:0 frames of the thermal camera turned into grey and colour pictures, checked against a
// per-pixel reference written from the conversion formula and against values worked out by hand.

#include "yuvconvert.h"

#include <QtTest>

#include <vector>

namespace {

using Converter = int (*)(const unsigned char *, unsigned char *, int, int, int, bool);

int truncClamp(double v)
{
    const int i = int(v);
    return i < 0 ? 0 : i > 255 ? 255 : i;
}

// The slow reference: planes located by hand, V before U, one chroma sample per 2 x 2 block.
void reference(const std::vector<unsigned char> &src, int w, int h, int x, int y, int *b, int *g, int *r)
{
    const int yv = src[size_t(y * w + x)];
    const int c = (y / 2) * (w / 2) + x / 2;
    const double v = src[size_t(w * h + c)] - 128.0;
    const double u = src[size_t(w * h + w * h / 4 + c)] - 128.0;
    *b = truncClamp(yv + 1.732446 * u);
    *g = truncClamp(yv - 0.698001 * u - 0.703125 * v);
    *r = truncClamp(yv + 1.370705 * v);
}

// A frame whose luma differs per pixel and whose chroma differs per 2 x 2 block and per plane.
std::vector<unsigned char> testFrame(int w, int h)
{
    std::vector<unsigned char> f(size_t(w * h * 3 / 2));
    for (int i = 0; i < w * h; ++i)
        f[size_t(i)] = static_cast<unsigned char>(40 + 11 * i);
    for (int c = 0; c < w * h / 4; ++c) {
        f[size_t(w * h + c)] = static_cast<unsigned char>(60 + 37 * c);              // V
        f[size_t(w * h + w * h / 4 + c)] = static_cast<unsigned char>(200 - 29 * c); // U
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
        const std::vector<unsigned char> src = testFrame(w, h);
        std::vector<unsigned char> gray(size_t(w * h), 0xEE), bgr(size_t(w * h * 3), 0xEE),
            bgrx(size_t(w * h * 4), 0xEE);
        QCOMPARE(yuv420pToGray(src.data(), gray.data(), w, h, 0, flip), 1);
        QCOMPARE(yuv420pToRgb24(src.data(), bgr.data(), w, h, 0, flip), 1);
        QCOMPARE(yuv420pToRgb32(src.data(), bgrx.data(), w, h, 0, flip), 1);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                int b, g, r;
                reference(src, w, h, x, y, &b, &g, &r);
                const size_t o = size_t((flip ? h - 1 - y : y) * w + x);
                const QString at = QStringLiteral("x %1 y %2").arg(x).arg(y);
                QVERIFY2(bgr[o * 3] == b && bgr[o * 3 + 1] == g && bgr[o * 3 + 2] == r, qPrintable(at));
                QVERIFY2(bgrx[o * 4] == b && bgrx[o * 4 + 1] == g && bgrx[o * 4 + 2] == r &&
                             bgrx[o * 4 + 3] == 0,
                         qPrintable(at));
                QVERIFY2(gray[o] == int(0.299 * r + 0.587 * g + 0.114 * b), qPrintable(at));
            }
        }
    }

    void knownAnswers()
    {
        // 2 x 2 frames, one chroma sample: values worked out from the formula by hand.
        struct Case
        {
            unsigned char y, v, u;
            int b, g, r;
        };
        const Case cases[] = {
            {0, 228, 128, 0, 0, 137},       // V' = 100: R = 137.07, G = -70.3
            {50, 128, 28, 0, 119, 50},      // U' = -100: B = -123.2, G = 119.8
            {200, 128, 228, 255, 130, 200}, // U' = 100: B = 373.2, G = 130.2
            {10, 28, 128, 10, 80, 0},       // V' = -100: G = 80.3, R = -127.07
        };
        for (const Case &c : cases) {
            const unsigned char src[6] = {c.y, c.y, c.y, c.y, c.v, c.u};
            unsigned char out[16];
            QCOMPARE(yuv420pToRgb32(src, out, 2, 2, 0, false), 1);
            for (int p = 0; p < 4; ++p) {
                QCOMPARE(int(out[p * 4]), c.b);
                QCOMPARE(int(out[p * 4 + 1]), c.g);
                QCOMPARE(int(out[p * 4 + 2]), c.r);
                QCOMPARE(int(out[p * 4 + 3]), 0);
            }
        }
        // Grey of (0, 0, 137): truncate(0.299 * 137) = 40.
        const unsigned char src[6] = {0, 0, 0, 0, 228, 128};
        unsigned char gray[4];
        QCOMPARE(yuv420pToGray(src, gray, 2, 2, 0, false), 1);
        QCOMPARE(int(gray[3]), 40);
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

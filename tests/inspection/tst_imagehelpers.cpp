// The exported image helpers: editor tolerances and clamping, pixel conversions, Bayer demosaicing,
// the gray table generator, and image shifting and turning.

#include "imagehelpers.h"
#include "imagesize.h"
#include "testworkdir.h"

#include <QFile>
#include <QRandomGenerator>
#include <QtTest>
#include <cstring>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <vector>

namespace {

// Packs bytes b0..b3 as one 32-bit pixel the way the buffers hold them in memory.
int pixel(uchar b0, uchar b1, uchar b2, uchar b3 = 0)
{
    int v;
    const uchar bytes[4] = {b0, b1, b2, b3};
    std::memcpy(&v, bytes, 4);
    return v;
}

QByteArray bytesOf(const void *p, int n)
{
    return QByteArray(static_cast<const char *>(p), n);
}

// Colour of the G R / B G mosaic at (x, y): 0 red, 1 green, 2 blue.
int mosaicColour(int x, int y)
{
    if (y % 2 == 0)
        return x % 2 == 0 ? 1 : 0;
    return x % 2 == 0 ? 2 : 1;
}

// Slow reference: every missing channel is the rounded mean of the nearest neighbours (direct before
// diagonal) of that colour that lie inside the frame.
std::vector<uchar> referenceDemosaic(const std::vector<uchar> &src, int w, int h)
{
    std::vector<uchar> out(size_t(w) * h * 4);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            uchar rgb[3];
            const int own = mosaicColour(x, y);
            for (int c = 0; c < 3; ++c) {
                if (c == own) {
                    rgb[c] = src[size_t(y) * w + x];
                    continue;
                }
                int found = 0;
                int sum = 0;
                for (int ring : {1, 2}) { // 1: direct neighbours, 2: diagonal ones
                    for (int dy = -1; dy <= 1; ++dy) {
                        for (int dx = -1; dx <= 1; ++dx) {
                            if (std::abs(dx) + std::abs(dy) != ring)
                                continue;
                            const int nx = x + dx, ny = y + dy;
                            if (nx < 0 || ny < 0 || nx >= w || ny >= h || mosaicColour(nx, ny) != c)
                                continue;
                            sum += src[size_t(ny) * w + nx];
                            ++found;
                        }
                    }
                    if (found)
                        break;
                }
                int mean = sum;
                if (found == 4)
                    mean = (sum + 2) / 4;
                else if (found == 3)
                    mean = (sum + 1) / 3;
                else if (found == 2)
                    mean = (sum + 1) / 2;
                rgb[c] = uchar(mean);
            }
            uchar *o = &out[(size_t(y) * w + x) * 4];
            o[0] = rgb[0];
            o[1] = rgb[1];
            o[2] = rgb[2];
            o[3] = 0;
        }
    }
    return out;
}

cv::Mat randomImage(int rows, int cols, quint32 seed)
{
    QRandomGenerator rng(seed);
    cv::Mat m(rows, cols, CV_8UC1);
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < cols; ++x)
            m.at<uchar>(y, x) = uchar(rng.bounded(256));
    return m;
}

bool sameImage(const cv::Mat &a, const cv::Mat &b)
{
    return a.size() == b.size() && a.type() == b.type() && (a.empty() || cv::norm(a, b, cv::NORM_INF) == 0);
}

void setImageSize(int w, int h)
{
    gImageW = w;
    gImageH = h;
}

} // namespace

class TestImageHelpers : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        gShowW = 1024;
        gShowH = 768;
        setImageSize(kDefaultImageW, kDefaultImageH);
    }
    void cleanup() { setImageSize(kDefaultImageW, kDefaultImageH); }

    void tolerancesAreClampedTo3To50()
    {
        QVERIFY(PointAround(QPoint(0, 0), QPoint(2, 2), 1)); // tol 1 acts as 3
        QVERIFY(!PointAround(QPoint(0, 0), QPoint(3, 0), 1));
        QVERIFY(PointAround(QPoint(100, 100), QPoint(149, 51), 90)); // tol 90 acts as 50
        QVERIFY(!PointAround(QPoint(100, 100), QPoint(150, 100), 90));
        QVERIFY(!PointAround(QPoint(0, 0), QPoint(19, 20), 20)); // a square: both axes must be close
        QVERIFY(PointAround(QPoint(0, 0), QPoint(19, 19), 20));
        QVERIFY(LineAround(10, 12, 0));
        QVERIFY(!LineAround(10, 13, 0));
        QVERIFY(LineAround(10, 59, 200));
        QVERIFY(!LineAround(10, 60, 200));
        QVERIFY(LineAround(100, 104, 50, 50, 60, 5));
        QVERIFY(LineAround(100, 104, 60, 50, 60, 5)); // span ends are inclusive
        QVERIFY(!LineAround(100, 104, 61, 50, 60, 5));
        QVERIFY(!LineAround(100, 105, 55, 50, 60, 5));
        QVERIFY(!LineAround(INT_MIN, INT_MAX, 0, 0, 0, 50));
    }

    void coordinatesStayInsideTheScreenMargin_data()
    {
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("horizontal");
        QTest::addColumn<int>("expected");
        QTest::newRow("1022 wide becomes 1021") << 1022 << 1 << 1021;
        QTest::newRow("1021 wide stays") << 1021 << 1 << 1021;
        QTest::newRow("2 becomes 3") << 2 << 1 << 3;
        QTest::newRow("3 stays") << 3 << 1 << 3;
        QTest::newRow("negative") << -500 << 0 << 3;
        QTest::newRow("766 high becomes 765") << 766 << 0 << 765;
        QTest::newRow("765 high stays") << 765 << 0 << 765;
        QTest::newRow("1000 is fine wide") << 1000 << 1 << 1000;
        QTest::newRow("1000 is not fine high") << 1000 << 0 << 765;
    }
    void coordinatesStayInsideTheScreenMargin()
    {
        QFETCH(int, value);
        QFETCH(int, horizontal);
        QFETCH(int, expected);
        CheckInRange(&value, horizontal);
        QCOMPARE(value, expected);
    }

    void rectanglesStayInsideTheScreenMargin_data()
    {
        QTest::addColumn<QRect>("in");
        QTest::addColumn<bool>("keepSize");
        QTest::addColumn<QRect>("expected");
        auto r = [](int x1, int y1, int x2, int y2) { return QRect(QPoint(x1, y1), QPoint(x2, y2)); };
        QTest::newRow("keep size moves right") << r(-10, 5, 40, 30) << true << r(3, 5, 53, 30);
        QTest::newRow("keep size moves left and up")
            << r(1000, 760, 1030, 770) << true << r(991, 755, 1021, 765);
        QTest::newRow("keep size, wider than the screen")
            << r(-100, 10, 1100, 20) << true << r(-179, 10, 1021, 20);
        QTest::newRow("clamp shrinks") << r(-10, 5, 40, 30) << false << r(3, 5, 40, 30);
        QTest::newRow("corners put in order first") << r(40, 30, -10, 5) << false << r(3, 5, 40, 30);
        QTest::newRow("inside stays") << r(10, 10, 20, 20) << true << r(10, 10, 20, 20);
        QTest::newRow("clamp both far edges") << r(500, 500, 2000, 2000) << false << r(500, 500, 1021, 765);
    }
    void rectanglesStayInsideTheScreenMargin()
    {
        QFETCH(QRect, in);
        QFETCH(bool, keepSize);
        QFETCH(QRect, expected);
        CheckInRange(&in, keepSize);
        QCOMPARE(in, expected);
    }

    void grayTableHoldsTheLumaWeights()
    {
        QCOMPARE(gaRGB2Gray[255], 78074);
        QCOMPARE(gaRGB2Gray[511], 153277);
        QCOMPARE(gaRGB2Gray[767], 29767);
        // trunc(v x weight x 1024), worked out by hand for red 0.299, green 0.587, blue 0.114.
        const int known[][4] = {{0, 0, 0, 0},
                                {1, 306, 601, 116},
                                {100, 30617, 60108, 11673},
                                {128, 39190, 76939, 14942},
                                {254, 77768, 152676, 29650}};
        for (const auto &row : known) {
            for (int k = 0; k < 3; ++k)
                QCOMPARE(gaRGB2Gray[256 * k + row[0]], row[k + 1]);
        }
    }

    void grayConversionUsesTheTable()
    {
        int src[4] = {pixel(255, 255, 255, 0xAB), pixel(255, 0, 0), pixel(0, 255, 0), pixel(0, 0, 255)};
        uchar dst[4] = {};
        RGB2Gray(dst, src, 2, 2);
        QCOMPARE(int(dst[0]), 254); // not 255: the table truncates
        QCOMPARE(int(dst[1]), 76);
        QCOMPARE(int(dst[2]), 149); // 153277 / 1024
        QCOMPARE(int(dst[3]), 29);  // 29767 / 1024
        uchar again[4] = {};
        RGBA2Gray(again, src, 4, 1);
        QCOMPARE(bytesOf(again, 4), bytesOf(dst, 4));
    }

    // A whole frame goes through the processor's fastest way (several pixels at a time, the rest one by
    // one); every pixel must still read trunc(r x 0.299 x 1024) + trunc(g x 0.587 x 1024) +
    // trunc(b x 0.114 x 1024), over 1024, whatever its fourth byte and wherever it falls in the frame.
    void grayOfAWholeFrameMatchesThePixelRule_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::newRow("one pixel") << 1 << 1;
        QTest::newRow("seven by three") << 7 << 3;
        QTest::newRow("31 wide") << 31 << 5;
        QTest::newRow("33 wide") << 33 << 7;
        QTest::newRow("one odd column") << 1 << 97;
        QTest::newRow("1921 x 5") << 1921 << 5;
    }
    void grayOfAWholeFrameMatchesThePixelRule()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        const int n = width * height;
        std::vector<int> src;
        // Every value of each channel alone and of all three, then random pixels.
        for (int v = 0; v < 256 && int(src.size()) + 4 <= n; ++v) {
            src.push_back(pixel(uchar(v), 0, 0, 0xFF));
            src.push_back(pixel(0, uchar(v), 0, uchar(v)));
            src.push_back(pixel(0, 0, uchar(v)));
            src.push_back(pixel(uchar(v), uchar(v), uchar(v), uchar(255 - v)));
        }
        QRandomGenerator random{quint32(n)};
        while (int(src.size()) < n)
            src.push_back(int(random.generate()));
        // One byte past the end on either side shows a write outside the frame.
        std::vector<uchar> dst(size_t(n) + 2, 0xA5);
        RGBA2Gray(dst.data() + 1, src.data(), width, height);
        QCOMPARE(int(dst.front()), 0xA5);
        QCOMPARE(int(dst.back()), 0xA5);
        for (int i = 0; i < n; ++i) {
            const auto *b = reinterpret_cast<const uchar *>(&src[size_t(i)]);
            const int want = (int(float(b[0]) * 0.299f * 1024.0f) + int(float(b[1]) * 0.587f * 1024.0f) +
                              int(float(b[2]) * 0.114f * 1024.0f)) /
                             1024;
            if (int(dst[size_t(i) + 1]) != want)
                QFAIL(qPrintable(QStringLiteral("pixel %1 (%2 %3 %4): %5, not %6")
                                     .arg(i)
                                     .arg(b[0])
                                     .arg(b[1])
                                     .arg(b[2])
                                     .arg(dst[size_t(i) + 1])
                                     .arg(want)));
        }
    }

    void grayToColourWritesGGG0()
    {
        uchar src[3] = {0, 7, 255};
        int dst[3] = {-1, -1, -1};
        Gray2RGB(src, dst, 3, 1);
        QCOMPARE(bytesOf(dst, 12), QByteArray::fromHex("00000000"
                                                       "07070700"
                                                       "ffffff00"));
        int dst2[3] = {};
        Gray2RGBA(src, dst2, 1, 3);
        QCOMPARE(bytesOf(dst2, 12), bytesOf(dst, 12));
    }

    void byteShufflers()
    {
        uchar rgb[6] = {1, 2, 3, 4, 5, 6};
        uchar rgba[8];
        std::memset(rgba, 0xEE, sizeof rgba);
        RGB2RGBA(rgba, rgb, 1, 2);
        QCOMPARE(bytesOf(rgba, 8), QByteArray::fromHex("03020100"
                                                       "06050400"));

        uchar gray[2] = {};
        Gray24To8(gray, rgb, 2, 1);
        QCOMPARE(int(gray[0]), 1);
        QCOMPARE(int(gray[1]), 4);

        uchar src[8] = {10, 11, 12, 13, 20, 21, 22, 23};
        uchar p0[2], p1[2], p2[2];
        ExtractRGBA(p0, p1, p2, src, 2, 1);
        QCOMPARE(bytesOf(p0, 2), QByteArray::fromHex("0a14"));
        QCOMPARE(bytesOf(p1, 2), QByteArray::fromHex("0b15"));
        QCOMPARE(bytesOf(p2, 2), QByteArray::fromHex("0c16"));
        uchar back[8];
        GenRGBA(p0, p1, p2, back, 1, 2);
        QCOMPARE(bytesOf(back, 8), QByteArray::fromHex("0a0b0c00"
                                                       "14151600"));
    }

    void nullBuffersAndEmptySizesAreIgnored()
    {
        uchar b[4] = {9, 9, 9, 9};
        int i[1] = {0};
        RGB2Gray(nullptr, i, 1, 1);
        RGB2Gray(b, nullptr, 1, 1);
        RGB2Gray(b, i, 0, 5);
        RGB2Gray(b, i, -1, -1);
        RGB2RGBA(b, b, 0, 1);
        RGBA2Hue(b, i, 1, 0);
        QCOMPARE(bytesOf(b, 4), QByteArray::fromHex("09090909"));
    }

    void hue_data()
    {
        QTest::addColumn<int>("r");
        QTest::addColumn<int>("g");
        QTest::addColumn<int>("b");
        QTest::addColumn<int>("hue");
        QTest::newRow("green") << 0 << 255 << 0 << 85;
        QTest::newRow("red just below a full turn") << 255 << 0 << 1 << 254;
        QTest::newRow("red") << 255 << 0 << 0 << 0;
        QTest::newRow("blue") << 0 << 0 << 255 << 170;
        QTest::newRow("yellow") << 255 << 255 << 0 << 42;
        QTest::newRow("cyan") << 0 << 255 << 255 << 127;
        QTest::newRow("magenta") << 255 << 0 << 255 << 212;
        QTest::newRow("gray") << 50 << 50 << 50 << 0;
        QTest::newRow("black") << 0 << 0 << 0 << 0;
    }
    void hue()
    {
        QFETCH(int, r);
        QFETCH(int, g);
        QFETCH(int, b);
        QFETCH(int, hue);
        QCOMPARE(int(RGB2HueByte(uchar(r), uchar(g), uchar(b))), hue);
        int src[1] = {pixel(uchar(r), uchar(g), uchar(b), 0x77)};
        uchar dst[1] = {0xEE};
        RGBA2Hue(dst, src, 1, 1);
        QCOMPARE(int(dst[0]), hue);
    }

    void bayerOfOneColourGivesThatColourEverywhere_data()
    {
        QTest::addColumn<int>("w");
        QTest::addColumn<int>("h");
        QTest::newRow("even 8x6") << 8 << 6;
        QTest::newRow("odd 7x5") << 7 << 5;
        QTest::newRow("odd width 9x4") << 9 << 4;
        QTest::newRow("odd height 4x3") << 4 << 3;
        QTest::newRow("smallest 2x2") << 2 << 2;
        QTest::newRow("two rows 5x2") << 5 << 2;
    }
    void bayerOfOneColourGivesThatColourEverywhere()
    {
        QFETCH(int, w);
        QFETCH(int, h);
        const uchar colour[3] = {200, 90, 17};
        std::vector<uchar> src(size_t(w) * h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                src[size_t(y) * w + x] = colour[mosaicColour(x, y)];
        std::vector<uchar> dst(src.size() * 4, 0xEE);
        setImageSize(w, h);
        Bayer2RGBA(src.data(), dst.data());
        for (size_t i = 0; i < src.size(); ++i) {
            QCOMPARE(int(dst[4 * i]), 200);
            QCOMPARE(int(dst[4 * i + 1]), 90);
            QCOMPARE(int(dst[4 * i + 2]), 17);
            QCOMPARE(int(dst[4 * i + 3]), 0);
        }
    }

    void bayerMatchesTheNeighbourMeans_data()
    {
        QTest::addColumn<int>("w");
        QTest::addColumn<int>("h");
        QTest::newRow("16x12") << 16 << 12;
        QTest::newRow("15x11") << 15 << 11;
        QTest::newRow("3x2") << 3 << 2;
        QTest::newRow("2x3") << 2 << 3;
    }
    void bayerMatchesTheNeighbourMeans()
    {
        QFETCH(int, w);
        QFETCH(int, h);
        const cv::Mat noise = randomImage(h, w, quint32(w * 100 + h));
        std::vector<uchar> src(noise.datastart, noise.dataend);
        std::vector<uchar> dst(src.size() * 4, 0xEE);
        setImageSize(w, h);
        Bayer2RGBA(src.data(), dst.data());
        QVERIFY(dst == referenceDemosaic(src, w, h));
    }

    void bayerLeavesTinyFramesUnwritten()
    {
        uchar src[4] = {1, 2, 3, 4};
        std::vector<uchar> dst(16, 0xEE);
        for (QSize s : {QSize(1, 4), QSize(4, 1), QSize(0, 0)}) {
            setImageSize(s.width(), s.height());
            Bayer2RGBA(src, dst.data());
        }
        QVERIFY(std::all_of(dst.begin(), dst.end(), [](uchar v) { return v == 0xEE; }));
    }

    void borderRowUsesItsOneNeighbourRow()
    {
        // Bottom row in the blue phase: B G B; the row above it is G R G.
        const uchar row[3] = {10, 40, 30};
        const uchar above[3] = {50, 100, 70};
        uchar dst[12];
        BorderBayer2RGBA(row, above, dst, 3, 0, 0);
        // x0 blue: green from the right (40) and above (50) -> 45; red from the one diagonal (100).
        // x1 green: blue from left and right (10, 30) -> 20; red from above (100).
        // x2 blue: green from the left (40) and above (70) -> 55; red from the one diagonal (100).
        QCOMPARE(bytesOf(dst, 12), QByteArray::fromHex("642d0a00"
                                                       "64281400"
                                                       "64371e00"));
    }

    void generatorWritesTheTableSource()
    {
        TestWorkDir dir(TestWorkDir::Empty);
        QVERIFY(dir.isValid());
        GenRGB2Gray();
        QFile f(QStringLiteral("a.c"));
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QString text = QString::fromLatin1(f.readAll());
        QVERIFY(text.startsWith(QStringLiteral("int gaRGB2Gray[] = {\n    0, 306, 612, 918, ")));
        QVERIFY(text.endsWith(QStringLiteral("29767, \n};")));
        const QStringList lines = text.split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 1 + 96 + 1);
        QStringList numbers;
        for (int i = 1; i <= 96; ++i) {
            QVERIFY(lines[i].startsWith(QStringLiteral("    ")));
            QVERIFY(lines[i].endsWith(QStringLiteral(", ")));
            const QStringList parts = lines[i].trimmed().split(QLatin1Char(','), Qt::SkipEmptyParts);
            QCOMPARE(parts.size(), 8);
            numbers += parts;
        }
        for (int i = 0; i < 768; ++i)
            QCOMPARE(numbers[i].trimmed().toInt(), gaRGB2Gray[i]);
    }

    void moveShiftsAndFillsWithZero()
    {
        const cv::Mat src = (cv::Mat_<uchar>(3, 4) << 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12);
        cv::Mat dst;
        MoveImage(src, dst, 1, -1);
        const cv::Mat expected = (cv::Mat_<uchar>(3, 4) << 0, 5, 6, 7, 0, 9, 10, 11, 0, 0, 0, 0);
        QVERIFY(sameImage(dst, expected));
        MoveImage(src, dst, 5, 0);
        QVERIFY(sameImage(dst, cv::Mat::zeros(3, 4, CV_8UC1)));
        MoveImage(src, dst, 0, -3);
        QVERIFY(sameImage(dst, cv::Mat::zeros(3, 4, CV_8UC1)));
    }

    void moveThereAndBackRestoresTheInterior()
    {
        const cv::Mat src = randomImage(40, 50, 7);
        cv::Mat there, back;
        MoveImage(src, there, 5, -3);
        MoveImage(there, back, -5, 3);
        const cv::Rect kept(0, 3, 45, 37);
        QVERIFY(sameImage(back(kept), src(kept)));
        cv::Mat outside = back.clone();
        outside(kept).setTo(0);
        QCOMPARE(cv::countNonZero(outside), 0);
    }

    void moveSizesItsDestinationAndWorksInPlace()
    {
        const cv::Mat src = randomImage(30, 20, 11);
        cv::Mat expected;
        MoveImage(src, expected, 3, 4);
        cv::Mat wrongSize(5, 5, CV_8UC1, cv::Scalar(9));
        MoveImage(src, wrongSize, 3, 4);
        QVERIFY(sameImage(wrongSize, expected));
        cv::Mat inPlace = src.clone();
        MoveImage(inPlace, inPlace, 3, 4);
        QVERIFY(sameImage(inPlace, expected));
        cv::Mat whole = src.clone();
        cv::Mat part = whole(cv::Rect(2, 2, 10, 10));
        cv::Mat partExpected;
        MoveImage(part.clone(), partExpected, -1, 1);
        MoveImage(part, part, -1, 1);
        QVERIFY(sameImage(part, partExpected));
    }

    void moveRefusesOtherDepths()
    {
        cv::Mat dst(2, 2, CV_8UC1, cv::Scalar(1));
        MoveImage(cv::Mat(4, 4, CV_16UC1, cv::Scalar(300)), dst, 1, 1);
        QVERIFY(dst.empty());
        dst = cv::Mat(2, 2, CV_8UC1, cv::Scalar(1));
        MoveImage(cv::Mat(4, 4, CV_32FC1, cv::Scalar(1.5)), dst, 0, 0);
        QVERIFY(dst.empty());
        dst = cv::Mat(2, 2, CV_8UC1, cv::Scalar(1));
        MoveImage(cv::Mat(), dst, 0, 0);
        QVERIFY(dst.empty());
    }

    void transformWithoutShiftOrAngleReturnsTheSource()
    {
        const cv::Mat src = randomImage(31, 45, 3);
        cv::Mat dst;
        TransformImage(src, dst, cv::Point(0, 0), cv::Point(10, 20), 0.0);
        QVERIFY(sameImage(dst, src));
    }

    void transformQuarterTurnAboutTheMiddleOfAnOddSquare()
    {
        const cv::Mat src = randomImage(21, 21, 5);
        cv::Mat dst, expected;
        TransformImage(src, dst, cv::Point(0, 0), cv::Point(10, 10), 90.0);
        cv::rotate(src, expected, cv::ROTATE_90_COUNTERCLOCKWISE);
        QVERIFY(sameImage(dst, expected));
    }

    void transformShiftsBeforeTurning()
    {
        // With no turn the visible result is a plain shift.
        const cv::Mat src = randomImage(20, 30, 9);
        cv::Mat dst, expected;
        TransformImage(src, dst, cv::Point(4, -2), cv::Point(0, 0), 0.0);
        MoveImage(src, expected, 4, -2);
        QVERIFY(sameImage(dst, expected));
        // The centre is in source coordinates and does not follow the shift: shifting a square by
        // (1, 0) and turning it half about its middle equals turning first and shifting by (-1, 0).
        const cv::Mat square = randomImage(25, 25, 13);
        cv::Mat turned, reference, flipped;
        TransformImage(square, turned, cv::Point(1, 0), cv::Point(12, 12), 180.0);
        cv::rotate(square, flipped, cv::ROTATE_180);
        MoveImage(flipped, reference, -1, 0);
        QVERIFY(sameImage(turned, reference));
    }

    void transformRefusesOtherDepths()
    {
        cv::Mat dst(2, 2, CV_8UC1);
        TransformImage(cv::Mat(4, 4, CV_16UC1), dst, cv::Point(), cv::Point(), 10.0);
        QVERIFY(dst.empty());
    }
};

QTEST_GUILESS_MAIN(TestImageHelpers)
#include "tst_imagehelpers.moc"

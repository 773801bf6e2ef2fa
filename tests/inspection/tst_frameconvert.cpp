// Frame conversion: decoded FFmpeg frames placed on the camera's picture, NV21 frames into the
// caller's buffer, the stream-marker search and the five-frame blend.

#include "cameraviewdata.h"
#include "frameconvert.h"
#include "sysparam.h"

#include <QRandomGenerator>
#include <QtTest>
#include <memory>
#include <opencv2/imgproc.hpp>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
}

namespace {

struct FrameDeleter
{
    void operator()(AVFrame *f) const { av_frame_free(&f); }
};
using Frame = std::unique_ptr<AVFrame, FrameDeleter>;

Frame makeFrame(int w, int h, AVPixelFormat format)
{
    Frame f(av_frame_alloc());
    f->width = w;
    f->height = h;
    f->format = format;
    if (av_frame_get_buffer(f.get(), 0) < 0)
        return Frame();
    return f;
}

// A gray frame whose pixel (x, y) holds (x * 3 + y * 5) % 251: every placement error shows.
Frame patternFrame(int w, int h)
{
    Frame f = makeFrame(w, h, AV_PIX_FMT_GRAY8);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            f->data[0][y * f->linesize[0] + x] = uchar((x * 3 + y * 5) % 251);
    return f;
}

int pattern(int x, int y)
{
    return (x * 3 + y * 5) % 251;
}

// A YUV 4:2:0 frame, bright (Y 200) on its left half and dark (Y 40) on its right, no colour.
Frame halvesFrame(int w, int h)
{
    Frame f = makeFrame(w, h, AV_PIX_FMT_YUV420P);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            f->data[0][y * f->linesize[0] + x] = x < w / 2 ? 200 : 40;
    for (int p = 1; p <= 2; ++p)
        for (int y = 0; y < h / 2; ++y)
            std::memset(f->data[p] + y * f->linesize[p], 128, size_t(w / 2));
    return f;
}

std::unique_ptr<CameraViewData> cameraOf(int w, int h)
{
    auto view = std::make_unique<CameraViewData>();
    view->imageWidth = w;
    view->imageHeight = h;
    return view;
}

cv::Mat randomNv21(int rows, int cols)
{
    QRandomGenerator rng(rows * 7 + cols);
    cv::Mat m(rows, cols, CV_8UC1);
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < cols; ++x)
            m.at<uchar>(y, x) = uchar(rng.bounded(256));
    return m;
}

using Converter = bool (*)(const cv::Mat &, uchar *, size_t);

} // namespace

Q_DECLARE_METATYPE(Converter)

class TestFrameConvert : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { gColorCamera = 0; }

    void smallFrameIsCentredOnBlack()
    {
        auto view = cameraOf(100, 80);
        Frame f = patternFrame(64, 48);
        const cv::Mat m = avFrameToMat(f.get(), view.get());
        QCOMPARE(m.type(), CV_8UC1);
        QCOMPARE(m.size(), cv::Size(100, 80));
        // Placed at ((100 - 64) / 2, (80 - 48) / 2) = (18, 16).
        for (int y = 0; y < 80; ++y) {
            for (int x = 0; x < 100; ++x) {
                const bool inside = x >= 18 && x < 82 && y >= 16 && y < 64;
                QCOMPARE(int(m.at<uchar>(y, x)), inside ? pattern(x - 18, y - 16) : 0);
            }
        }
    }

    void yuvFrameIsCentredOnBlack()
    {
        auto view = cameraOf(100, 80);
        Frame f = halvesFrame(64, 48);
        const cv::Mat gray = avFrameToMat(f.get(), view.get());
        QCOMPARE(gray.size(), cv::Size(100, 80));
        QCOMPARE(cv::countNonZero(gray), 64 * 48);
        QCOMPARE(cv::countNonZero(gray(cv::Rect(18, 16, 64, 48))), 64 * 48);
        const int bright = gray.at<uchar>(40, 20);
        const int dark = gray.at<uchar>(40, 80);
        QVERIFY2(bright > 180 && dark < 60, qPrintable(QStringLiteral("%1 %2").arg(bright).arg(dark)));
        QCOMPARE(int(gray.at<uchar>(16, 18)), bright);
        QCOMPARE(int(gray.at<uchar>(63, 81)), dark);

        gColorCamera = 1;
        const cv::Mat rgb = avFrameToMat(f.get(), view.get());
        QCOMPARE(rgb.type(), CV_8UC3);
        QCOMPARE(rgb.size(), cv::Size(100, 80));
        const cv::Vec3b b = rgb.at<cv::Vec3b>(40, 20);
        QVERIFY(std::abs(b[0] - b[1]) <= 2 && std::abs(b[1] - b[2]) <= 2 && b[0] > 180);
        QCOMPARE(rgb.at<cv::Vec3b>(15, 50), cv::Vec3b(0, 0, 0));
        QCOMPARE(rgb.at<cv::Vec3b>(40, 17), cv::Vec3b(0, 0, 0));
    }

    void largerFrameIsCutToItsCentre()
    {
        auto view = cameraOf(100, 80);
        Frame f = patternFrame(120, 84);
        const cv::Mat m = avFrameToMat(f.get(), view.get());
        QCOMPARE(m.size(), cv::Size(100, 80));
        for (int y = 0; y < 80; ++y)
            for (int x = 0; x < 100; ++x)
                QCOMPARE(int(m.at<uchar>(y, x)), pattern(x + 10, y + 2));
        // Wider but lower: cut across, centred down.
        Frame g = patternFrame(110, 40);
        const cv::Mat n = avFrameToMat(g.get(), view.get());
        QCOMPARE(int(n.at<uchar>(20, 0)), pattern(5, 0));
        QCOMPARE(int(n.at<uchar>(19, 0)), 0);
        QCOMPARE(int(n.at<uchar>(59, 99)), pattern(104, 39));
        QCOMPARE(int(n.at<uchar>(60, 99)), 0);
    }

    void unconvertibleFramesGiveTheBlackPicture()
    {
        auto view = cameraOf(40, 30);
        Frame f = patternFrame(20, 10);
        for (int format : {int(AV_PIX_FMT_NONE), int(AV_PIX_FMT_NB), 100000}) {
            f->format = format;
            const cv::Mat black = avFrameToMat(f.get(), view.get());
            QCOMPARE(black.size(), cv::Size(40, 30));
            QCOMPARE(cv::countNonZero(black), 0);
        }
        cv::Mat m;
        m = avFrameToMat(nullptr, view.get());
        QCOMPARE(m.size(), cv::Size(40, 30));
        QCOMPARE(cv::countNonZero(m), 0);
        QVERIFY(avFrameToMat(f.get(), cameraOf(0, 0).get()).empty());
        QVERIFY(avFrameToMat(f.get(), nullptr).empty());
    }

    void framesWithoutPictureDataGiveTheBlackPicture()
    {
        auto view = cameraOf(40, 30);
        // Sizes and format set, buffers never allocated (or already handed back).
        Frame bare(av_frame_alloc());
        bare->width = 20;
        bare->height = 10;
        bare->format = AV_PIX_FMT_GRAY8;
        cv::Mat m = avFrameToMat(bare.get(), view.get());
        QCOMPARE(m.size(), cv::Size(40, 30));
        QCOMPARE(cv::countNonZero(m), 0);
        // A planar frame that lost one of its planes.
        Frame yuv = halvesFrame(20, 10);
        yuv->data[2] = nullptr;
        m = avFrameToMat(yuv.get(), view.get());
        QCOMPARE(m.size(), cv::Size(40, 30));
        QCOMPARE(cv::countNonZero(m), 0); // the frame's buffers are freed through its references
    }

    void findMagicNo_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("last");
        QTest::addColumn<int>("index");
        QTest::newRow("broken match consumes its byte") << QByteArray::fromHex("7373778270") << 4 << -1;
        QTest::newRow("after one byte") << QByteArray::fromHex("0073778270") << 4 << 1;
        QTest::newRow("at the start, last 3") << QByteArray::fromHex("73778270ff") << 3 << 0;
        QTest::newRow("cut off by last") << QByteArray::fromHex("0073778270") << 3 << -1;
        QTest::newRow("negative last") << QByteArray::fromHex("73778270") << -1 << -1;
        QTest::newRow("second of two") << QByteArray::fromHex("7377ff7377827073778270") << 10 << 3;
        QTest::newRow("restart after a partial match")
            << QByteArray::fromHex("737700737782700000") << 8 << 3;
    }
    void findMagicNo()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, last);
        QFETCH(int, index);
        QCOMPARE(FindMagicNo(reinterpret_cast<const uchar *>(bytes.constData()), last), index);
    }

    void findMagicNoOfNothing()
    {
        QTest::ignoreMessage(QtDebugMsg, "FindMagicNo input buf is NULL\n");
        QCOMPARE(FindMagicNo(nullptr, 10), -1);
    }

    void nv21MatchesOpenCv_data()
    {
        QTest::addColumn<Converter>("convert");
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("bytesPerPixel");
        QTest::newRow("rgb") << Converter(&nv21ToRgb) << int(cv::COLOR_YUV2RGB_NV21) << 3;
        QTest::newRow("rgba") << Converter(&nv21ToRgba) << int(cv::COLOR_YUV2RGBA_NV21) << 4;
        QTest::newRow("gray") << Converter(&nv21ToGray) << int(cv::COLOR_YUV2GRAY_420) << 1;
    }
    void nv21MatchesOpenCv()
    {
        QFETCH(Converter, convert);
        QFETCH(int, code);
        QFETCH(int, bytesPerPixel);
        const cv::Mat nv21 = randomNv21(720, 640);
        const size_t bytes = size_t(480) * 640 * size_t(bytesPerPixel);
        std::vector<uchar> out(bytes + 16, 0xA5);
        QVERIFY(convert(nv21, out.data(), bytes));
        cv::Mat expected;
        cv::cvtColor(nv21, expected, code);
        QCOMPARE(expected.rows, 480);
        QCOMPARE(std::memcmp(out.data(), expected.data, bytes), 0);
        QVERIFY(std::all_of(out.begin() + long(bytes), out.end(), [](uchar v) { return v == 0xA5; }));
    }

    void nv21DropsFramesThatDoNotFit_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("cols");
        QTest::addColumn<int>("capacity");
        QTest::newRow("buffer one byte short") << 6 << 4 << 4 * 4 * 4 - 1;
        QTest::newRow("rows not a multiple of 3") << 7 << 4 << 1000;
        QTest::newRow("odd columns") << 6 << 5 << 1000;
        QTest::newRow("empty") << 0 << 0 << 1000;
    }
    void nv21DropsFramesThatDoNotFit()
    {
        QFETCH(int, rows);
        QFETCH(int, cols);
        QFETCH(int, capacity);
        const cv::Mat nv21 = rows ? randomNv21(rows, cols) : cv::Mat();
        std::vector<uchar> out(1000, 0x5A);
        QVERIFY(!nv21ToRgba(nv21, out.data(), size_t(capacity)));
        QVERIFY(std::all_of(out.begin(), out.end(), [](uchar v) { return v == 0x5A; }));
        QVERIFY(!nv21ToRgba(randomNv21(6, 4), nullptr, 1000));
        QVERIFY(!nv21ToGray(cv::Mat(6, 4, CV_16UC1, cv::Scalar(0)), out.data(), 1000));
        QVERIFY(nv21ToRgba(randomNv21(6, 4), out.data(), 4 * 4 * 4)); // exactly enough
    }

    void blendWeighsFiveFrames()
    {
        auto plane = [](int v) { return cv::Mat(3, 4, CV_8UC1, cv::Scalar(v)); };
        cv::Mat out;
        // 0.65 -> 1, 2.7 -> 3, 18, 5.4 -> 5, 3.25 -> 3: each term rounds before the sum.
        blend5({plane(10), plane(20), plane(30), plane(40), plane(50)}, out);
        QCOMPARE(out.type(), CV_8UC1);
        QCOMPARE(out.size(), cv::Size(4, 3));
        QCOMPARE(cv::countNonZero(out == 30), 12);
        // 16.575 -> 17, 34.425 -> 34, 153, 34, 17: 255.
        blend5({plane(255), plane(255), plane(255), plane(255), plane(255)}, out);
        QCOMPARE(cv::countNonZero(out == 255), 12);
        // Only the middle frame: 0.6 of it.
        blend5({plane(0), plane(0), plane(100), plane(0), plane(0)}, out);
        QCOMPARE(cv::countNonZero(out == 60), 12);
        // A sixth frame is not used.
        blend5({plane(10), plane(20), plane(30), plane(40), plane(50), plane(255)}, out);
        QCOMPARE(cv::countNonZero(out == 30), 12);
        // Float frames keep their type.
        auto fl = [](float v) { return cv::Mat(2, 2, CV_32FC1, cv::Scalar(v)); };
        blend5({fl(1), fl(1), fl(1), fl(1), fl(1)}, out);
        QCOMPARE(out.type(), CV_32FC1);
        QVERIFY(std::abs(out.at<float>(1, 1) - 1.0f) < 1e-6f);
    }

    void blendRefusesIncompleteOrMixedLists()
    {
        const cv::Mat a(3, 4, CV_8UC1, cv::Scalar(9));
        cv::Mat out(2, 2, CV_8UC1, cv::Scalar(1));
        blend5({a, a, a, a}, out);
        QVERIFY(out.empty());
        out = a.clone();
        blend5({a, a, a, a, cv::Mat(4, 3, CV_8UC1, cv::Scalar(9))}, out);
        QVERIFY(out.empty());
        out = a.clone();
        blend5({a, cv::Mat(3, 4, CV_8UC3, cv::Scalar::all(9)), a, a, a}, out);
        QVERIFY(out.empty());
        out = a.clone();
        blend5({a, a, cv::Mat(), a, a}, out);
        QVERIFY(out.empty());
    }

    void cameraThreadReturnsAtOnce()
    {
        QObject owner;
        auto *thread = new CameraThread(&owner);
        QCOMPARE(thread->owner, &owner);
        QCOMPARE(thread->parent(), &owner);
        thread->start();
        QVERIFY(thread->wait(5000));
        QVERIFY(thread->isFinished());
    }
};

QTEST_GUILESS_MAIN(TestFrameConvert)
#include "tst_frameconvert.moc"

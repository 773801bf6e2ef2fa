// The screen stream's two costs at the box's screen sizes, each against one plain copy of the same
// number of bytes: the grab of the main window on the GUI thread (every 80 ms, on the thread that
// runs the machine cycle), and the I420 conversion plus copy into the segment on the streaming thread.

#include "qornetmn.h"
#include "ratioreporter.h"
#include "screenstream.h"

#include <QApplication>
#include <QLabel>
#include <QTemporaryDir>
#include <QVBoxLayout>

#include <cstring>
#include <memory>
#include <sys/sem.h>
#include <sys/shm.h>
#include <vector>

namespace {

// A window laid out like a busy main window: text, frames and a picture.
std::unique_ptr<QWidget> makeScreen(int width, int height)
{
    auto screen = std::make_unique<QWidget>();
    screen->setFixedSize(width, height);
    screen->setStyleSheet("background: rgb(40, 40, 48); color: white; font-size: 24px;");
    auto *layout = new QVBoxLayout(screen.get());
    for (int i = 0; i < 6; ++i) {
        auto *label = new QLabel(QString("Camera %1   OK 1234   NG 5   cycle 12.3 s").arg(i + 1));
        label->setFrameStyle(QFrame::Box);
        layout->addWidget(label);
    }
    QImage picture(width / 2, height / 3, QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            picture.setPixel(x, y, qRgb(x % 256, y % 256, (x * y) % 256));
    auto *image = new QLabel;
    image->setPixmap(QPixmap::fromImage(picture));
    layout->addWidget(image);
    return screen;
}

void BM_Grab(benchmark::State &state)
{
    const auto screen = makeScreen(int(state.range(0)), int(state.range(1)));
    for (auto _ : state) {
        QImage image = screen->grab().toImage();
        benchmark::DoNotOptimize(image.constBits());
    }
}

void BM_CopyOfGrabBytes(benchmark::State &state)
{
    const size_t bytes = size_t(state.range(0) * state.range(1) * 4);
    std::vector<char> from(bytes, 1), to(bytes);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::DoNotOptimize(to.data());
    }
}

void BM_ConvertAndCopyToSegment(benchmark::State &state)
{
    const int width = int(state.range(0)), height = int(state.range(1));
    QTemporaryDir dir;
    QOR_NETMN::ipcKeyPath = dir.path();
    QOR_NETMN link;
    link.createShm(0, width, height);
    const ScreenStreamSegment seg = link.segments.value(0);
    VideoThread writer({{0, seg}}, nullptr);
    writer.stop();
    const auto screen = makeScreen(width, height);
    const QImage frame = screen->grab().toImage();
    for (auto _ : state)
        benchmark::DoNotOptimize(writer.writeFrameToShm(0, frame));
    link.segments.clear();
    shmctl(seg.shmid, IPC_RMID, nullptr);
    semctl(seg.semid, 0, IPC_RMID);
}

void BM_CopyOfSegmentBytes(benchmark::State &state)
{
    const size_t bytes = size_t(state.range(0) * state.range(1) * 3 / 2);
    std::vector<char> from(bytes, 1), to(bytes);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::DoNotOptimize(to.data());
    }
}

#define SCREEN_SIZES Args({1920, 1080})->Args({1024, 768})->Unit(benchmark::kMillisecond)
BENCHMARK(BM_Grab)->SCREEN_SIZES;
BENCHMARK(BM_CopyOfGrabBytes)->SCREEN_SIZES;
BENCHMARK(BM_ConvertAndCopyToSegment)->SCREEN_SIZES;
BENCHMARK(BM_CopyOfSegmentBytes)->SCREEN_SIZES;

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const char *size : {"1920/1080", "1024/768"}) {
        reporter.printCost(std::string("BM_Grab/") + size, std::string("BM_CopyOfGrabBytes/") + size);
        reporter.printCost(std::string("BM_ConvertAndCopyToSegment/") + size,
                           std::string("BM_CopyOfSegmentBytes/") + size);
    }
    benchmark::Shutdown();
    return 0;
}

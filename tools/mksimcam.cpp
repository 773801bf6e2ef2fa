// Draws the sample pictures of the simulated cameras: a synthetic mould surface as a camera over an
// open mould would see it. Each camera gets a few good pictures (slight noise, slightly different
// brightness) and a few with a foreign object left in a cavity, so a new box judges real pictures.
// Usage: mksimcam <output folder>   (writes <folder>/1/ and <folder>/2/)

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>

namespace {

constexpr int kW = 1280;
constexpr int kH = 1024;

// A small fixed generator: the pictures are the same on every build.
struct Random
{
    uint32_t state;
    uint32_t next()
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
    int range(int lo, int hi) { return lo + int(next() % uint32_t(hi - lo + 1)); }
};

void steel(QPainter &p)
{
    QLinearGradient g(0, 0, kW, kH);
    g.setColorAt(0, QColor(96, 100, 106));
    g.setColorAt(1, QColor(128, 132, 138));
    p.fillRect(0, 0, kW, kH, g);
    // Grinding marks of the mould plate.
    Random r{7};
    for (int i = 0; i < 400; ++i) {
        const int y = r.range(0, kH - 1);
        p.setPen(QPen(QColor(150, 154, 160, r.range(10, 35)), 1));
        p.drawLine(r.range(0, kW / 2), y, r.range(kW / 2, kW), y + r.range(-2, 2));
    }
}

void pin(QPainter &p, QPointF c, double radius)
{
    QRadialGradient g(c, radius);
    g.setColorAt(0, QColor(190, 192, 196));
    g.setColorAt(1, QColor(70, 72, 76));
    p.setBrush(g);
    p.setPen(QPen(QColor(40, 42, 46), 2));
    p.drawEllipse(c, radius, radius);
}

// Camera 1: two rectangular cavities with ejector pins and a runner between them.
void mouldOne(QPainter &p)
{
    steel(p);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF cavities[2] = {QRectF(140, 220, 400, 560), QRectF(740, 220, 400, 560)};
    for (const QRectF &c : cavities) {
        QLinearGradient g(c.topLeft(), c.bottomRight());
        g.setColorAt(0, QColor(52, 55, 60));
        g.setColorAt(1, QColor(78, 81, 86));
        p.setBrush(g);
        p.setPen(QPen(QColor(170, 174, 180), 6));
        p.drawRoundedRect(c, 30, 30);
        for (int i = 0; i < 3; ++i)
            pin(p, QPointF(c.center().x(), c.top() + 110 + i * 170), 18);
    }
    p.setPen(QPen(QColor(60, 62, 66), 22, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(540, 500), QPointF(740, 500));
    pin(p, QPointF(640, 500), 30);
}

// Camera 2: a round cap cavity with a core and four pins.
void mouldTwo(QPainter &p)
{
    steel(p);
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF c(640, 512);
    QRadialGradient g(c, 360);
    g.setColorAt(0, QColor(84, 87, 92));
    g.setColorAt(1, QColor(48, 50, 55));
    p.setBrush(g);
    p.setPen(QPen(QColor(175, 178, 184), 8));
    p.drawEllipse(c, 360, 360);
    p.setBrush(QColor(120, 124, 130));
    p.setPen(QPen(QColor(40, 42, 46), 4));
    p.drawEllipse(c, 150, 150);
    for (int i = 0; i < 4; ++i)
        pin(p, c + QPointF(i % 2 ? 250 : -250, i / 2 ? 250 : -250) * 0.7, 16);
}

// A piece of plastic left behind: an irregular light blob with a shadow.
void foreignObject(QPainter &p, QPointF at, int seed)
{
    Random r{uint32_t(seed) * 2654435761u + 1};
    QPainterPath blob;
    const int corners = 9;
    for (int i = 0; i < corners; ++i) {
        const double a = 2 * 3.14159265 * i / corners;
        const double radius = r.range(28, 60);
        const QPointF q = at + QPointF(std::cos(a) * radius, std::sin(a) * radius * 0.8);
        i == 0 ? blob.moveTo(q) : blob.lineTo(q);
    }
    blob.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(20, 20, 20, 120));
    p.drawPath(blob.translated(8, 10));
    p.setBrush(QColor(235, 226, 200));
    p.setPen(QPen(QColor(200, 190, 160), 2));
    p.drawPath(blob);
}

// Sensor noise of a few grey levels and an overall brightness change.
void expose(QImage &image, double gain, uint32_t seed)
{
    Random r{seed | 1u};
    for (int y = 0; y < image.height(); ++y) {
        QRgb *row = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int n = r.range(-3, 3);
            auto ch = [&](int v) { return std::clamp(int(v * gain) + n, 0, 255); };
            row[x] = qRgb(ch(qRed(row[x])), ch(qGreen(row[x])), ch(qBlue(row[x])));
        }
    }
}

bool writeCamera(const QDir &out, int camera)
{
    out.mkpath(QString::number(camera));
    struct Shot
    {
        const char *name;
        double gain;
        bool foreign;
        QPointF at;
    };
    const QList<Shot> shots = camera == 1 ? QList<Shot>{{"01_good.jpg", 1.00, false, {}},
                                                        {"02_good.jpg", 0.97, false, {}},
                                                        {"03_foreign.jpg", 1.02, true, {340, 420}},
                                                        {"04_good.jpg", 1.03, false, {}},
                                                        {"05_good.jpg", 0.99, false, {}},
                                                        {"06_foreign.jpg", 0.98, true, {930, 640}}}
                                          : QList<Shot>{{"01_good.jpg", 1.00, false, {}},
                                                        {"02_good.jpg", 1.03, false, {}},
                                                        {"03_good.jpg", 0.97, false, {}},
                                                        {"04_foreign.jpg", 1.01, true, {560, 420}},
                                                        {"05_good.jpg", 0.99, false, {}}};
    int seed = camera * 100;
    for (const Shot &s : shots) {
        QImage image(kW, kH, QImage::Format_RGB32);
        {
            QPainter p(&image);
            camera == 1 ? mouldOne(p) : mouldTwo(p);
            if (s.foreign)
                foreignObject(p, s.at, seed);
        }
        expose(image, s.gain, uint32_t(++seed));
        const QString path = out.filePath(QStringLiteral("%1/%2").arg(camera).arg(QLatin1String(s.name)));
        if (!image.save(path, "JPG", 92)) {
            std::fprintf(stderr, "mksimcam: cannot write %s\n", qPrintable(path));
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: mksimcam <output folder>\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    out.mkpath(QStringLiteral("."));
    return writeCamera(out, 1) && writeCamera(out, 2) ? 0 : 1;
}

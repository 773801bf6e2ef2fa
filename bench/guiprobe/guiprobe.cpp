// A probe of the running box's GUI thread, loaded into the release program with LD_PRELOAD by
// bench/box_stalls.sh. The cycle runs on the GUI thread, so the longest time that thread stays away
// from its event loop is the longest the interlock can be late. A 10 ms timer on the GUI thread notes
// the gap between its ticks; every second one line "<second> <longest gap ms>" goes to the file named
// by MG_GUIPROBE_OUT. MG_GUIPROBE_STEPS drives the box without a touch screen: steps separated by ';',
// each "<second>:invoke:<class>::<slot>" (the slot run on every widget of that class) or
// "<second>:check:<object name>" (that button checked) or "<second>:grab:<file>" (the screen saved as
// a picture, for a person to look at).
//
// Not part of the program: a measuring tool, built by the script with the system's compiler.

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

struct Probe : QObject
{
    QTimer tick;
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 longest = 0;
    qint64 second = 0;
    QFile out;
    QStringList steps;

    void start()
    {
        out.setFileName(qEnvironmentVariable("MG_GUIPROBE_OUT", QStringLiteral("guiprobe.txt")));
        out.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered);
        steps = qEnvironmentVariable("MG_GUIPROBE_STEPS").split(QLatin1Char(';'), Qt::SkipEmptyParts);
        clock.start();
        tick.setTimerType(Qt::PreciseTimer);
        connect(&tick, &QTimer::timeout, this, [this] { onTick(); });
        tick.start(10);
    }
    void onTick()
    {
        const qint64 now = clock.elapsed();
        longest = std::max(longest, now - last);
        last = now;
        if (now / 1000 > second) {
            out.write(QByteArray::number(second) + ' ' + QByteArray::number(longest) + '\n');
            second = now / 1000;
            longest = 0;
            runDueSteps();
        }
    }
    void runDueSteps()
    {
        for (auto it = steps.begin(); it != steps.end();) {
            const QStringList parts = it->split(QLatin1Char(':'));
            if (parts.size() < 3 || parts.at(0).toLongLong() > second) {
                ++it;
                continue;
            }
            const QString what = parts.mid(2).join(QLatin1Char(':'));
            out.write(QByteArray::number(second) + " step " + it->toUtf8() + '\n');
            it = steps.erase(it);
            // Queued, so that a step that blocks the GUI thread shows as a gap of the following ticks.
            QMetaObject::invokeMethod(
                this, [kind = parts.at(1), what] { runStep(kind, what); }, Qt::QueuedConnection);
        }
    }
    static void runStep(const QString &kind, const QString &what)
    {
        if (kind == QLatin1String("grab")) {
            if (QScreen *screen = QGuiApplication::primaryScreen())
                screen->grabWindow(0).save(what);
            return;
        }
        for (QWidget *w : QApplication::allWidgets()) {
            if (kind == QLatin1String("check") && w->objectName() == what) {
                if (auto *b = qobject_cast<QAbstractButton *>(w))
                    b->setChecked(true);
            } else if (kind == QLatin1String("invoke")) {
                const int split = what.indexOf(QLatin1String("::"));
                if (w->inherits(what.left(split).toLatin1().constData()))
                    QMetaObject::invokeMethod(w, what.mid(split + 2).toLatin1().constData());
            }
        }
    }
};

std::atomic<bool> gStarted{false};

// Waits for the application object, then puts the probe on its thread.
void attach()
{
    std::thread([] {
        for (int i = 0; i < 6000 && !QCoreApplication::instance(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        QCoreApplication *app = QCoreApplication::instance();
        // Processes the box starts inherit the probe: only the box itself is measured.
        if (!app || !QCoreApplication::applicationFilePath().endsWith(QLatin1String("/mouldguard")) ||
            gStarted.exchange(true))
            return;
        QMetaObject::invokeMethod(
            app,
            [] {
                auto *probe = new Probe;
                probe->start();
            },
            Qt::QueuedConnection);
    }).detach();
}

struct Loader
{
    Loader() { attach(); }
} gLoader;

} // namespace

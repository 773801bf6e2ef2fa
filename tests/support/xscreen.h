#pragma once
// An X server of the test's own (Xvfb at the box's 1920 x 1080) and touches sent through it, for tests
// that must see the screen as the operator does: which window is on top, and a press that reaches only
// what is on top there. Header only: a test that includes it links xcb and the dynamic loader
// (libX11 and libXtst are loaded at run time, so the build needs no X development files beyond xcb).

#include <QByteArray>
#include <QElapsedTimer>
#include <QPoint>
#include <QProcess>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QVector>

#include <xcb/xcb.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <memory>
#include <sys/prctl.h>
#include <unistd.h>

// The exit status CTest counts as skipped (the tests' SKIP_RETURN_CODE).
constexpr int kSkipExitCode = 77;

// Xvfb on MG_TEST_XVFB_DISPLAY when set, else on a display it picks; ended with the object and, should
// the test die first (an abort, a crash, a timeout's kill), with the test's process.
//
// The display is the one the server reports on the descriptor given to -displayfd, which it writes once
// it takes connections; a server that could not take the display asked for (another runs there)
// reports nothing, and the test does not run on that other server. -noreset: a server whose last client
// leaves resets, and drops a client that connects meanwhile ("could not connect to display"), as the
// application or the box would right after the test's own short connections. The box's screen unless
// `screen` ("<w>x<h>x<depth>") names another.
struct XServer
{
    // Ends the server with the process that started it, whatever ends that process.
    class Process : public QProcess
    {
    protected:
        void setupChildProcess() override
        {
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            // Started by a process that has already gone: the signal will never come.
            if (::getppid() != m_parent)
                ::_exit(127);
        }

    private:
        const pid_t m_parent = ::getpid();
    };

    Process process;
    QString display;

    // Servers started at the same moment in other network namespaces take the same display number and
    // compile their keymaps into the same file under /tmp, and one of them may fail ("XKB: Failed to
    // compile keymap"): a failed start is tried again.
    bool start(const QString &screen = QStringLiteral("1920x1080x24"))
    {
        for (int attempt = 0; attempt < 3; ++attempt) {
            if (attempt > 0)
                QThread::msleep(300 + 200 * attempt);
            if (startOnce(screen))
                return true;
        }
        return false;
    }
    ~XServer() { stop(); }

private:
    bool startOnce(const QString &screen)
    {
        const QByteArray wanted = qgetenv("MG_TEST_XVFB_DISPLAY");
        QStringList args{QStringLiteral("-screen"),    QStringLiteral("0"),   screen,
                         QStringLiteral("-nolisten"),  QStringLiteral("tcp"), QStringLiteral("-noreset"),
                         QStringLiteral("-displayfd"), QStringLiteral("1")}; // 1: its standard output
        if (!wanted.isEmpty())
            args.prepend(QLatin1Char(':') + QString::fromLatin1(wanted));
        process.start(QStringLiteral("Xvfb"), args);
        if (!process.waitForStarted(5000))
            return false;
        // The number comes as its digits and then a line end, in two writes.
        QElapsedTimer waited;
        waited.start();
        while (!process.canReadLine()) {
            const qint64 left = 10000 - waited.elapsed();
            if (left <= 0 || !process.waitForReadyRead(int(left)))
                return failed();
        }
        bool ok = false;
        const int number = process.readLine().trimmed().toInt(&ok);
        if (!ok || number < 0 || (!wanted.isEmpty() && QByteArray::number(number) != wanted))
            return failed();
        display = QLatin1Char(':') + QString::number(number);
        return true;
    }
    void stop()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(3000)) {
            process.kill();
            process.waitForFinished(3000);
        }
    }
    // Says why in the test's log: the server's own words.
    bool failed()
    {
        stop();
        std::fprintf(stderr, "Xvfb did not report a display: %s\n",
                     process.readAllStandardError().constData());
        return false;
    }
};

// Starts `server` and points DISPLAY at it. Without Xvfb the test cannot run: false, after saying so,
// with `*exitCode` 1 under CI (CI=true), where that is a failure, and elsewhere 77, which CTest counts
// as skipped (SKIP_RETURN_CODE), not passed.
inline bool startTestXServer(XServer &server, const char *test, int *exitCode)
{
    if (server.start()) {
        qputenv("DISPLAY", server.display.toLatin1());
        return true;
    }
    if (qgetenv("CI") == "true") {
        std::fprintf(stderr, "no Xvfb for %s\n", test);
        *exitCode = 1;
    } else {
        std::printf("SKIP: no Xvfb to run %s on\n", test);
        *exitCode = kSkipExitCode;
    }
    return false;
}

struct XWindow
{
    xcb_window_t id = 0;
    QRect geometry;
};

// A connection to the display in DISPLAY for one question, closed with the object.
struct XDisplayConnection
{
    xcb_connection_t *const c = xcb_connect(nullptr, nullptr);
    XDisplayConnection() = default;
    XDisplayConnection(const XDisplayConnection &) = delete;
    XDisplayConnection &operator=(const XDisplayConnection &) = delete;
    ~XDisplayConnection() { xcb_disconnect(c); }
    bool usable() const { return xcb_connection_has_error(c) == 0; }
    xcb_window_t root() const { return xcb_setup_roots_iterator(xcb_get_setup(c)).data->root; }
};

// The viewable top-level windows of the display in DISPLAY, by the server's stacking order, top first.
inline QVector<XWindow> viewableWindowsTopFirst()
{
    QVector<XWindow> windows;
    const XDisplayConnection display;
    if (!display.usable())
        return windows;
    xcb_connection_t *c = display.c;
    std::unique_ptr<xcb_query_tree_reply_t, decltype(&free)> tree(
        xcb_query_tree_reply(c, xcb_query_tree(c, display.root()), nullptr), &free);
    if (tree) {
        const xcb_window_t *children = xcb_query_tree_children(tree.get());
        // Children come bottom first.
        for (int i = xcb_query_tree_children_length(tree.get()) - 1; i >= 0; --i) {
            std::unique_ptr<xcb_get_window_attributes_reply_t, decltype(&free)> attr(
                xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, children[i]), nullptr),
                &free);
            if (!attr || attr->map_state != XCB_MAP_STATE_VIEWABLE)
                continue;
            std::unique_ptr<xcb_get_geometry_reply_t, decltype(&free)> geo(
                xcb_get_geometry_reply(c, xcb_get_geometry(c, children[i]), nullptr), &free);
            if (geo)
                windows.append({children[i], QRect(geo->x, geo->y, geo->width, geo->height)});
        }
    }
    return windows;
}

// The viewable top-level window that is on top at a screen point; 0 when none is.
inline xcb_window_t topWindowAt(const QPoint &at)
{
    for (const XWindow &w : viewableWindowsTopFirst()) {
        if (w.geometry.contains(at))
            return w.id;
    }
    return 0;
}

// The pixels of a screen area as the server holds them (the root window's contents, ZPixmap bytes);
// empty when the display cannot be reached. Compared with itself over time, it tells when something
// was drawn there and when it has stopped moving.
inline QByteArray screenArea(const QRect &area)
{
    QByteArray pixels;
    const XDisplayConnection display;
    if (!display.usable())
        return pixels;
    std::unique_ptr<xcb_get_image_reply_t, decltype(&free)> image(
        xcb_get_image_reply(display.c,
                            xcb_get_image(display.c, XCB_IMAGE_FORMAT_Z_PIXMAP, display.root(), int16_t(area.x()),
                                          int16_t(area.y()), uint16_t(area.width()), uint16_t(area.height()), ~0u),
                            nullptr),
        &free);
    if (image)
        pixels = QByteArray(reinterpret_cast<const char *>(xcb_get_image_data(image.get())),
                            xcb_get_image_data_length(image.get()));
    return pixels;
}

// A touch through the X server: the pointer moves there and the first button goes down and up, so
// the press reaches whatever window is on top there, as a finger's would.
class XTouch
{
public:
    XTouch()
    {
        m_x11 = dlopen("libX11.so.6", RTLD_NOW);
        m_xtst = dlopen("libXtst.so.6", RTLD_NOW);
        if (!m_x11 || !m_xtst)
            return;
        auto open = reinterpret_cast<void *(*)(const char *)>(dlsym(m_x11, "XOpenDisplay"));
        m_flush = reinterpret_cast<int (*)(void *)>(dlsym(m_x11, "XFlush"));
        m_close = reinterpret_cast<int (*)(void *)>(dlsym(m_x11, "XCloseDisplay"));
        m_motion = reinterpret_cast<int (*)(void *, int, int, int, unsigned long)>(
            dlsym(m_xtst, "XTestFakeMotionEvent"));
        m_button = reinterpret_cast<int (*)(void *, unsigned, int, unsigned long)>(
            dlsym(m_xtst, "XTestFakeButtonEvent"));
        if (open && m_flush && m_close && m_motion && m_button)
            m_display = open(nullptr);
    }
    ~XTouch()
    {
        if (m_display)
            m_close(m_display);
    }
    XTouch(const XTouch &) = delete;
    XTouch &operator=(const XTouch &) = delete;
    bool usable() const { return m_display != nullptr; }
    void touch(const QPoint &at)
    {
        m_motion(m_display, -1, at.x(), at.y(), 0);
        m_button(m_display, 1, 1, 0);
        m_button(m_display, 1, 0, 0);
        m_flush(m_display);
    }

private:
    void *m_x11 = nullptr;
    void *m_xtst = nullptr;
    void *m_display = nullptr;
    int (*m_flush)(void *) = nullptr;
    int (*m_close)(void *) = nullptr;
    int (*m_motion)(void *, int, int, int, unsigned long) = nullptr;
    int (*m_button)(void *, unsigned, int, unsigned long) = nullptr;
};

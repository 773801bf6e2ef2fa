#include "quitsignals.h"

#include "corelog.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

int gQuitPipe[2] = {-1, -1};
std::atomic<bool> gQuitPending{false};

// Async-signal-safe: a flag and one byte down a pipe.
void quitSignalHandler(int signalNumber)
{
    if (gQuitPending.exchange(true)) {
        std::signal(signalNumber, SIG_DFL);
        std::raise(signalNumber);
        return;
    }
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    (void)!::write(gQuitPipe[1], &byte, 1);
    errno = savedErrno;
}

} // namespace

void installQuitSignals()
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || gQuitPipe[0] >= 0)
        return;
    if (::pipe2(gQuitPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        qCWarning(lcCore) << "no quit pipe:" << std::strerror(errno) << "- SIGTERM ends the program at once";
        return;
    }
    auto *notifier = new QSocketNotifier(gQuitPipe[0], QSocketNotifier::Read, app);
    QObject::connect(notifier, &QSocketNotifier::activated, app, [] {
        unsigned char byte = 0;
        if (::read(gQuitPipe[0], &byte, 1) != 1)
            return;
        const char *name = byte == SIGTERM ? "SIGTERM" : byte == SIGINT ? "SIGINT" : "a signal";
        qCInfo(lcCore).noquote() << QStringLiteral("quitting on %1 (%2)").arg(QLatin1String(name)).arg(byte);
        QCoreApplication::quit();
    });
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = quitSignalHandler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

bool quitRequested()
{
    return gQuitPending.load();
}

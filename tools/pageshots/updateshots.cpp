// Screenshots of the version library: the dialog filled from an update server of its own on loopback
// (two models, one with three pages of archives), its second page, and the question, busy and result
// boxes over it. Usage: updateshots <shipped-dir> <output-dir> <language 0..3> (1920 x 1080 X screen).
// With MG_SHOTS_LONG_NAME=<n> in the environment the first model also lists an archive whose name is n
// characters long: the pictures are saved as update_long_*, and the tool says how long the GUI thread
// took to build, show and paint the dialog, and to paint it again.

#include "imagesize.h"
#include "shotcommon.h"
#include "startup.h"
#include "uitexttable.h"
#include "v_selectbox.h"
#include "versiondownloaddialog.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <cstdio>

namespace {

QByteArray listing(const QString &path, const QStringList &folders, const QStringList &files)
{
    QString html = QStringLiteral("<html>\r\n<head><title>Index of %1</title></head>\r\n<body>\r\n"
                                  "<h1>Index of %1</h1><hr><pre><a href=\"../\">../</a>\r\n")
                       .arg(path);
    for (const QString &f : folders)
        html += QStringLiteral("<a href=\"%1/\">%1/</a>%2 01-Mar-2024 10:00       -\r\n")
                    .arg(f, QString(40 - f.size(), QLatin1Char(' ')));
    for (const QString &f : files)
        html += QStringLiteral("<a href=\"%1\">%1</a>%2 01-Mar-2024 10:00  52428800\r\n")
                    .arg(f, QString(qMax(1, 40 - f.size()), QLatin1Char(' ')));
    return (html + QStringLiteral("</pre><hr></body>\r\n</html>\r\n")).toUtf8();
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QString shipped;
    QString out;
    if (!startPageShots(argc, argv, "updateshots", &shipped, &out))
        return 2;
    QTemporaryDir work;
    QDir::setCurrent(work.path());
    loadShippedImages(shipped);
    useFullHdScreen();

    QHash<QByteArray, QByteArray> pages;
    pages["/monitor/"] = listing("/monitor/", {"MA-1600", "MA-2500"}, {});
    pages["/monitor/MA-1600/"] = listing("/monitor/MA-1600/", {"V17"}, {});
    pages["/monitor/MA-2500/"] = listing("/monitor/MA-2500/", {"V17"}, {});
    const int longName = qEnvironmentVariableIntValue("MG_SHOTS_LONG_NAME");
    QStringList first{"V17_2.5.0.tar.gz", "V17_2.4.3.rar"};
    if (longName > 8)
        first.insert(1, QStringLiteral("V17_") + QString(longName - 8, QLatin1Char('x')) +
                            QStringLiteral(".rar"));
    pages["/monitor/MA-1600/V17/"] = listing("/monitor/MA-1600/V17/", {}, first);
    QStringList many;
    for (int i = 0; i < 15; ++i)
        many << QStringLiteral("V17_2.%1.%2.rar").arg(3 + i / 5).arg(i % 5);
    pages["/monitor/MA-2500/V17/"] = listing("/monitor/MA-2500/V17/", {}, many);
    QTcpServer server;
    server.listen(QHostAddress::LocalHost);
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        QTcpSocket *socket = server.nextPendingConnection();
        QObject::connect(socket, &QTcpSocket::readyRead, [socket, &pages] {
            const QByteArray body = pages.value(socket->readAll().split(' ').value(1));
            socket->write("HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) +
                          "\r\nConnection: close\r\n\r\n" + body);
            socket->disconnectFromHost();
        });
    });
    setUpdateServerBase(QStringLiteral("http://127.0.0.1:%1/monitor/").arg(server.serverPort()));

    // The longest the GUI thread stays away from its event loop while events run for `ms` ms.
    auto longestStall = [](int ms) {
        QElapsedTimer total, one;
        total.start();
        qint64 longest = 0;
        while (total.elapsed() < ms) {
            one.start();
            QCoreApplication::processEvents();
            longest = qMax(longest, one.elapsed());
        }
        return longest;
    };
    QElapsedTimer clock;
    clock.start();
    VersionDownloadDialog dialog(nullptr);
    const qint64 built = clock.elapsed();
    dialog.show();
    const qint64 shown = longestStall(500);
    dialog.update();
    const qint64 again = longestStall(200);
    if (longName > 8)
        std::printf("name of %d characters: dialog built in %lld ms; longest GUI-thread stall while it is "
                    "shown and painted %lld ms, while it is painted again %lld ms\n",
                    longName, built, shown, again);
    const QString prefix = out + (longName > 8 ? QStringLiteral("/update_long") : QStringLiteral("/update"));
    const QString suffix = QStringLiteral("_lang%1.png").arg(gLanguage);
    bool ok = grab(prefix + QStringLiteral("_dialog") + suffix);
    dialog.slotToNextPage(1);
    ok &= grab(prefix + QStringLiteral("_dialog_page2") + suffix);
    const QPoint at = dialog.mapToGlobal(QPoint(dialog.width() / 2 - 375, dialog.height() / 2 - 185));
    const int x = at.x();
    const int y = at.y();
    const QString texts[3] = {uiText(726), QStringLiteral("下载中..."), uiText(727)};
    const int types[3] = {2, 0, 1};
    const char *const names[3] = {"_ask", "_busy", "_done"};
    for (int i = 0; i < 3; ++i) {
        v_SelectBox box(x, y, &dialog, types[i]);
        box.setText(texts[i]);
        box.show();
        ok &= grab(prefix + QLatin1String(names[i]) + suffix);
    }
    return ok ? 0 : 1;
}
